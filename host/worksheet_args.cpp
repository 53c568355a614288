#include "host/worksheet_args.h"

#include <algorithm>

#include "host/host_values.h"

namespace hvt {

namespace {

constexpr WORD kTypeMask = static_cast<WORD>(~(xlbitXLFree | xlbitDLLFree));

}  // namespace

DataArgument ClassifyDataArgument(LPXLOPER argument) {
  DataArgument result;
  if (argument == nullptr) return result;
  switch (argument->xltype & kTypeMask) {
    case xltypeRef:
    case xltypeSRef: {
      XLOPER sum;
      int code = CallExcel(xlfSum, &sum, 1, argument);
      if (code == xlretSuccess) ReleaseHostValue(sum);
      if (code & xlretUncalced) {
        result.kind = DataArgument::kNoValue;
        return result;
      }
      const XLREF* area = nullptr;
      if ((argument->xltype & kTypeMask) == xltypeSRef) {
        area = &argument->val.sref.ref;
        result.areas = 1;
      } else {
        const XLMREF* table = argument->val.mref.lpmref;
        if (table == nullptr || table->count == 0) {
          result.error = xlerrRef;
          return result;
        }
        area = &table->reftbl[0];
        result.areas = table->count;
      }
      result.kind = DataArgument::kRange;
      result.rows = long{area->rwLast} - long{area->rwFirst} + 1;
      result.columns = long{area->colLast} - long{area->colFirst} + 1;
      return result;
    }
    case xltypeMulti:
      result.kind = DataArgument::kArray;
      result.rows = argument->val.array.rows;
      result.columns = argument->val.array.columns;
      result.areas = 1;
      return result;
    case xltypeMissing:
      result.error = xlerrNA;
      return result;
    case xltypeErr:
      result.error = argument->val.err;
      return result;
    default:
      result.error = xlerrValue;
      return result;
  }
}

CoercedArray::CoercedArray(LPXLOPER argument) {
  int code = CallExcel(xlCoerce, &value_, 2, argument, TempInteger(xltypeMulti));
  if (code != xlretSuccess) {
    error_ = xlerrValue;
    return;
  }
  owned_ = true;
  if ((value_.xltype & kTypeMask) == xltypeErr) {
    error_ = value_.val.err;
  } else if ((value_.xltype & kTypeMask) != xltypeMulti ||
             value_.val.array.lparray == nullptr) {
    error_ = xlerrValue;
  }
}

CoercedArray::~CoercedArray() {
  if (owned_) ReleaseHostValue(value_);
}

std::size_t CoercedArray::size() const {
  if (error_ != 0) return 0;
  return std::size_t{value_.val.array.rows} * value_.val.array.columns;
}

std::size_t CoercedArray::LeadingNumbers(std::size_t limit) const {
  std::size_t end = std::min(limit, size());
  for (std::size_t i = 0; i < end; ++i) {
    if ((cell(i).xltype & kTypeMask) != xltypeNum) return i;
  }
  return end;
}

LPXLOPER ErrorResult(XLOPER& record, WORD error) {
  record.xltype = xltypeErr;
  record.val.err = error;
  return &record;
}

XLOPER* AllocColumnResult(XLOPER& record, std::size_t rows) {
  // The row count of an array is 16 bits wide.
  if (rows == 0 || rows > 0xFFFF) return nullptr;
  auto* cells = static_cast<XLOPER*>(AllocGlobal(rows * sizeof(XLOPER)));
  if (cells == nullptr) return nullptr;
  record.xltype = xltypeMulti | xlbitDLLFree;
  record.val.array.lparray = cells;
  record.val.array.rows = static_cast<WORD>(rows);
  record.val.array.columns = 1;
  return cells;
}

void FillNumbersThenEmptyText(XLOPER* cells, std::span<const double> values,
                              std::size_t rows, char* emptyText) {
  std::size_t numbers = std::min(values.size(), rows);
  for (std::size_t i = 0; i < numbers; ++i) {
    cells[i].xltype = xltypeNum;
    cells[i].val.num = values[i];
  }
  for (std::size_t i = numbers; i < rows; ++i) {
    cells[i].xltype = xltypeStr;
    cells[i].val.str = emptyText;
  }
}

void FreeColumnResult(XLOPER& record) {
  FreeGlobal(record.val.array.lparray);
  record.xltype = xltypeNil;
}

}  // namespace hvt

