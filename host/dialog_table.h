// Dialog tables: seven columns of counted strings per line (item type, x, y,
// width, height, text, initial value/result), turned into the array the
// host's dialog box call takes.
#ifndef HVT_HOST_DIALOG_TABLE_H
#define HVT_HOST_DIALOG_TABLE_H

#include <cstddef>

#include "sdk/xlcall.h"

namespace hvt {

constexpr std::size_t kDialogColumns = 7;
constexpr std::size_t kDialogTextSize = 80;

// One line of a dialog description. Texts are written with a placeholder
// first byte that PrepareDialogRows turns into the length; an empty text
// (length 0) becomes a nil cell.
struct DialogRow {
  char text[kDialogColumns][kDialogTextSize];
};

enum DialogColumn {
  kItemType = 0,
  kItemX = 1,
  kItemY = 2,
  kItemWidth = 3,
  kItemHeight = 4,
  kItemText = 5,
  kItemValue = 6,
};

// Row-major index of a cell in a dialog array: row 0 is the box itself,
// row r describes item r.
constexpr std::size_t DialogCell(std::size_t row, std::size_t column) {
  return row * kDialogColumns + column;
}

void PrepareDialogRows(DialogRow* rows, std::size_t count);

// Points one cell per table entry at the table's text: a string cell, or a
// nil cell when the text is empty. The texts are not copied. `cells` holds
// count * 7 values.
void FillDialogCells(DialogRow* rows, std::size_t count, XLOPER* cells);

// Sets an array record's header: type array, `rows` rows, 7 columns.
void SetDialogArrayShape(XLOPER& array, std::size_t rows);

// Builds the dialog array for a table into `array` (zeroed global memory of
// count * 7 cells). False when memory ran out; the record is then left
// without cells. A record that already holds cells is rebuilt in place.
bool BuildDialogArray(DialogRow* rows, std::size_t count, XLOPER& array);

// Releases the cells of a dialog array built here; the record keeps its
// shape and its pointer becomes empty, so a second release is harmless.
void FreeDialogArray(XLOPER& array);

// The cell of an array record, or nullptr when the record holds no cells or
// the index lies outside them.
XLOPER* DialogArrayCell(XLOPER& array, std::size_t index);

// An option group's answer as a whole number (truncated); `fallback` when
// it is not a finite number a long can hold (NaN would make the cast
// undefined).
long OptionNumber(double answer, long fallback);

}  // namespace hvt

#endif  // HVT_HOST_DIALOG_TABLE_H
