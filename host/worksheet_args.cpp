#include "host/worksheet_args.h"

#include <algorithm>

#include "host/host_values.h"

namespace hvt {

namespace {

constexpr WORD kTypeMask = static_cast<WORD>(~(xlbitXLFree | xlbitDLLFree));

// xlfSum and xlFree through the record's interface. The 4-series goes
// through CallExcel, as every other call of the add-in does.
int Sum(XLOPER* argument, XLOPER& sum) { return CallExcel(xlfSum, &sum, 1, argument); }
int Sum(XLOPER12* argument, XLOPER12& sum) { return Excel12(xlfSum, &sum, 1, argument); }
void Free(XLOPER& value) { ReleaseHostValue(value); }
void Free(XLOPER12& value) { Excel12(xlFree, nullptr, 1, &value); }
int CoerceToArray(XLOPER* argument, XLOPER& value) {
  return CallExcel(xlCoerce, &value, 2, argument, TempInteger(xltypeMulti));
}
int CoerceToArray(XLOPER12* argument, XLOPER12& value) {
  XLOPER12 type{};
  type.xltype = xltypeInt;
  type.val.w = xltypeMulti;
  return Excel12(xlCoerce, &value, 2, argument, &type);
}

}  // namespace

template <typename Oper>
DataArgument ClassifyDataArgument(Oper* argument) {
  DataArgument result;
  if (argument == nullptr) return result;
  switch (argument->xltype & kTypeMask) {
    case xltypeRef:
    case xltypeSRef: {
      Oper sum;
      int code = Sum(argument, sum);
      if (code == xlretSuccess) Free(sum);
      if (code & xlretUncalced) {
        result.kind = DataArgument::kNoValue;
        return result;
      }
      const typename Interface<Oper>::Ref* area = nullptr;
      if ((argument->xltype & kTypeMask) == xltypeSRef) {
        area = &argument->val.sref.ref;
        result.areas = 1;
      } else {
        const auto* table = argument->val.mref.lpmref;
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

template <typename Oper>
CoercedArrayOf<Oper>::CoercedArrayOf(Oper* argument) {
  int code = CoerceToArray(argument, value_);
  if (code != xlretSuccess) {
    error_ = xlerrValue;
    return;
  }
  owned_ = true;
  if ((value_.xltype & kTypeMask) == xltypeErr) {
    error_ = static_cast<WORD>(value_.val.err);
  } else if ((value_.xltype & kTypeMask) != xltypeMulti ||
             value_.val.array.lparray == nullptr) {
    error_ = xlerrValue;
  }
}

template <typename Oper>
CoercedArrayOf<Oper>::~CoercedArrayOf() {
  if (owned_) Free(value_);
}

template <typename Oper>
std::size_t CoercedArrayOf<Oper>::size() const {
  if (error_ != 0) return 0;
  return static_cast<std::size_t>(value_.val.array.rows) *
         static_cast<std::size_t>(value_.val.array.columns);
}

template <typename Oper>
std::size_t CoercedArrayOf<Oper>::LeadingNumbers(std::size_t limit) const {
  std::size_t end = std::min(limit, size());
  for (std::size_t i = 0; i < end; ++i) {
    if ((cell(i).xltype & kTypeMask) != xltypeNum) return i;
  }
  return end;
}

template <typename Oper>
Oper* ErrorResult(Oper& record, WORD error) {
  record.xltype = xltypeErr;
  record.val.err = error;
  return &record;
}

template <typename Oper>
Oper* AllocColumnResult(Oper& record, std::size_t rows) {
  // The row count of an XLOPER array is 16 bits wide.
  if (rows == 0 || rows > Interface<Oper>::kMaxArrayRows) return nullptr;
  auto* cells = static_cast<Oper*>(AllocGlobal(rows * sizeof(Oper)));
  if (cells == nullptr) return nullptr;
  record.xltype = xltypeMulti | xlbitDLLFree;
  record.val.array.lparray = cells;
  record.val.array.rows = static_cast<decltype(record.val.array.rows)>(rows);
  record.val.array.columns = 1;
  return cells;
}

template <typename Oper>
void FillNumbersThenEmptyText(Oper* cells, std::span<const double> values,
                              std::size_t rows,
                              typename Interface<Oper>::Char* emptyText) {
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

template <typename Oper>
void FreeColumnResult(Oper& record) {
  FreeGlobal(record.val.array.lparray);
  record.xltype = xltypeNil;
}

#define HVT_WORKSHEET_ARGS(Oper)                                              \
  template DataArgument ClassifyDataArgument(Oper*);                          \
  template class CoercedArrayOf<Oper>;                                        \
  template Oper* ErrorResult(Oper&, WORD);                                    \
  template Oper* AllocColumnResult(Oper&, std::size_t);                       \
  template void FillNumbersThenEmptyText(Oper*, std::span<const double>,      \
                                         std::size_t,                         \
                                         Interface<Oper>::Char*);             \
  template void FreeColumnResult(Oper&);
HVT_WORKSHEET_ARGS(XLOPER)
HVT_WORKSHEET_ARGS(XLOPER12)
#undef HVT_WORKSHEET_ARGS

}  // namespace hvt

