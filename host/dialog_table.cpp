#include "host/dialog_table.h"

#include "host/counted_string.h"
#include "host/host_values.h"

namespace hvt {

void PrepareDialogRows(DialogRow* rows, std::size_t count) {
  for (std::size_t r = 0; r < count; ++r) {
    for (auto& text : rows[r].text) SetCountedLength(text);
  }
}

void FillDialogCells(DialogRow* rows, std::size_t count, XLOPER* cells) {
  for (std::size_t r = 0; r < count; ++r) {
    for (std::size_t c = 0; c < kDialogColumns; ++c) {
      XLOPER& cell = cells[DialogCell(r, c)];
      char* text = rows[r].text[c];
      if (CountedLength(text) == 0) {
        cell.xltype = xltypeNil;
        cell.val.str = nullptr;
      } else {
        cell.xltype = xltypeStr;
        cell.val.str = text;
      }
    }
  }
}

void SetDialogArrayShape(XLOPER& array, std::size_t rows) {
  array.xltype = xltypeMulti;
  array.val.array.rows = static_cast<WORD>(rows);
  array.val.array.columns = static_cast<WORD>(kDialogColumns);
}

bool BuildDialogArray(DialogRow* rows, std::size_t count, XLOPER& array) {
  if ((array.xltype & xltypeMulti) == 0) array.val.array.lparray = nullptr;
  XLOPER* cells = array.val.array.lparray;
  if (cells == nullptr || array.val.array.rows != count) {
    FreeDialogArray(array);
    cells = static_cast<XLOPER*>(
        AllocGlobal(count * kDialogColumns * sizeof(XLOPER)));
  }
  SetDialogArrayShape(array, count);
  array.val.array.lparray = cells;
  if (cells == nullptr) return false;
  FillDialogCells(rows, count, cells);
  return true;
}

void FreeDialogArray(XLOPER& array) {
  if ((array.xltype & xltypeMulti) == 0) return;
  FreeGlobal(array.val.array.lparray);
}

XLOPER* DialogArrayCell(XLOPER& array, std::size_t index) {
  if ((array.xltype & xltypeMulti) == 0 || array.val.array.lparray == nullptr) {
    return nullptr;
  }
  std::size_t size =
      std::size_t{array.val.array.rows} * array.val.array.columns;
  return index < size ? &array.val.array.lparray[index] : nullptr;
}

long OptionNumber(double answer, long fallback) {
  // The long of a 32-bit Windows build: anything past it is no option.
  if (!(answer > -2147483648.0 && answer < 2147483648.0)) return fallback;
  return static_cast<long>(answer);
}

}  // namespace hvt
