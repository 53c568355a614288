// What the host does alike for both record widths, written once over the
// record type: the 4-series XLOPER (counted 8-bit texts, the old grid) and
// the 12-series XLOPER12 (counted UTF-16 texts, the whole grid).
#ifndef STANDIN_RECORDS_H
#define STANDIN_RECORDS_H

#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>

#include "standin/host.h"

namespace standin {

template <typename Oper>
unsigned RecordType(const Oper& x) {
  return static_cast<unsigned>(x.xltype) & ~unsigned{xlbitXLFree | xlbitDLLFree};
}

// The text of a counted string of either width, as the model keeps it.
inline std::string RecordText(const char* counted) {
  return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
}
inline std::string RecordText(const XCHAR* counted) { return NarrowText(counted + 1, counted[0]); }

// Sets `out` to a plain value; a string's storage is `text(the string)`.
template <typename Oper, typename MakeText>
void SetScalar(Oper& out, const Value& value, MakeText&& text) {
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  if (auto* d = std::get_if<double>(&value)) {
    out.xltype = xltypeNum;
    out.val.num = *d;
  } else if (auto* s = std::get_if<std::string>(&value)) {
    out.xltype = xltypeStr;
    out.val.str = text(*s);
  } else if (auto* b = std::get_if<bool>(&value)) {
    out.xltype = xltypeBool;
    out.val.xbool = *b ? 1 : 0;
  } else if (auto* e = std::get_if<Error>(&value)) {
    out.xltype = xltypeErr;
    out.val.err = static_cast<decltype(out.val.err)>(e->code);
  } else {
    out.xltype = xltypeNil;
  }
}

// A scalar record as a plain value; #VALUE! for anything else.
template <typename Oper>
Value ScalarValue(const Oper& x) {
  switch (RecordType(x)) {
    case xltypeNum: return x.val.num;
    case xltypeStr:
      if (x.val.str == nullptr) return Error{xlerrValue};
      return RecordText(x.val.str);
    case xltypeBool: return x.val.xbool != 0;
    case xltypeErr: return Error{x.val.err};
    case xltypeInt: return static_cast<double>(x.val.w);
    case xltypeNil:
    case xltypeMissing: return Blank{};
    default: return Error{xlerrValue};
  }
}

// The block a record the host filled holds, nullptr when none.
template <typename Oper>
const void* HeldBlock(const Oper& x) {
  switch (RecordType(x)) {
    case xltypeStr: return x.val.str;
    case xltypeMulti: return x.val.array.lparray;
    case xltypeRef: return x.val.mref.lpmref;
    default: return nullptr;
  }
}

// xlFree of one record: gives back what the host filled and, as Excel
// does, leaves the record's pointer null (the rest of it as it was), so
// that freeing it again does nothing.
template <typename Oper>
void FreeRecord(Oper& x) {
  FreeTracked(HeldBlock(x));
  switch (RecordType(x)) {
    case xltypeStr: x.val.str = nullptr; break;
    case xltypeMulti: x.val.array.lparray = nullptr; break;
    case xltypeRef: x.val.mref.lpmref = nullptr; break;
    default: break;
  }
}

// A scalar record as a plain value, through values.cpp.
inline Value RecordValue(const XLOPER& x) { return ScalarOf(x); }
inline Value RecordValue(const XLOPER12& x) { return ScalarOf12(x); }

// One cell of an argument or result array as a value: a number that is not
// finite reads as #NUM!, an unknown error code or a cell that is no scalar
// as #VALUE!.
template <typename Oper>
Value CellOfRecord(const Oper& x) {
  switch (RecordType(x)) {
    case xltypeNum:
      if (!std::isfinite(x.val.num)) return Error{xlerrNum};
      return x.val.num;
    case xltypeErr:
      if (!ValidErrorCode(x.val.err)) return Error{xlerrValue};
      return Error{x.val.err};
    case xltypeStr: case xltypeBool: case xltypeInt: case xltypeNil: case xltypeMissing:
      return RecordValue(x);
    default:
      return Error{xlerrValue};
  }
}

// An argument or result record as an operand; a reference of one sheet
// area (xltypeSRef) is on `calling_sheet`.
template <typename Oper>
Operand OperandOfRecord(const Oper& x, SheetId calling_sheet) {
  auto error = [](int code) { return Operand{Value{Error{code}}}; };
  switch (RecordType(x)) {
    case xltypeNum: case xltypeErr: case xltypeStr: case xltypeBool: case xltypeInt: case xltypeNil:
      return Operand{CellOfRecord(x)};
    case xltypeMissing: {
      Operand op{Value{Blank{}}};
      op.missing = true;
      return op;
    }
    case xltypeSRef: {
      const auto& r = x.val.sref.ref;
      return Operand{Ref{calling_sheet, {Area{r.rwFirst, r.rwLast, r.colFirst, r.colLast}}}};
    }
    case xltypeRef: {
      const auto* table = x.val.mref.lpmref;
      if (table == nullptr || table->count == 0) return error(xlerrRef);
      // Sheet ids the host hands out fit 32 bits; a wider one names no sheet.
      if (x.val.mref.idSheet > 0xFFFFFFFFu) return error(xlerrRef);
      Ref ref{static_cast<SheetId>(x.val.mref.idSheet), {}};
      for (WORD i = 0; i < table->count; ++i) {
        const auto& r = table->reftbl[i];
        ref.areas.push_back(Area{r.rwFirst, r.rwLast, r.colFirst, r.colLast});
      }
      return Operand{ref};
    }
    case xltypeMulti: {
      if (x.val.array.lparray == nullptr || x.val.array.rows <= 0 || x.val.array.columns <= 0)
        return error(xlerrValue);
      Array a;
      a.rows = x.val.array.rows;
      a.columns = x.val.array.columns;
      std::size_t n = static_cast<std::size_t>(a.rows) * a.columns;
      a.cells.reserve(n);
      AdviseLongFill(a.cells.data(), n * sizeof(Value));
      // A long numeric answer is the common case: its numbers go straight
      // into place, without a value built and moved per cell.
      for (std::size_t i = 0; i < n; ++i) {
        const Oper& cell = x.val.array.lparray[i];
        if (RecordType(cell) == xltypeNum && std::isfinite(cell.val.num))
          a.cells.emplace_back(std::in_place_type<double>, cell.val.num);
        else
          a.cells.emplace_back(CellOfRecord(cell));
      }
      return Operand{std::move(a)};
    }
    default:
      LogLine("result of type " + std::to_string(x.xltype) + " not understood");
      return error(xlerrValue);
  }
}

}  // namespace standin

#endif  // STANDIN_RECORDS_H
