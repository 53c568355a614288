// The 12-series entry: MdCallBack12, which the Excel12v that every module
// carries finds in the host process. Its XLOPER12 arguments are read into
// the engine's operands and answered by the same handlers as Excel4v; the
// answers go back as XLOPER12 values the host owns until xlFree.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "standin/dispatch.h"
#include "standin/eval.h"
#include "standin/module_code.h"
#include "standin/records.h"
#include "standin/win32_state.h"

namespace standin {
namespace {

WideCall* g_wide_call = nullptr;

constexpr DWORD kBaseTypes12 = xltypeNum | xltypeStr | xltypeBool | xltypeRef | xltypeErr |
                               xltypeFlow | xltypeMulti | xltypeMissing | xltypeNil |
                               xltypeSRef | xltypeInt;

DWORD BaseType12(const XLOPER12& x) { return x.xltype & ~DWORD{xlbitXLFree | xlbitDLLFree}; }

bool ValidArea12(const XLREF12& r) {
  return r.rwFirst >= 0 && r.colFirst >= 0 && r.rwFirst <= r.rwLast &&
         r.colFirst <= r.colLast && r.rwLast < SheetRowLimit() && r.colLast < SheetColumnLimit();
}

// Whether an XLOPER12 can be read safely; why not in `why`.
bool Valid12(const XLOPER12* x, std::string& why) {
  if (x == nullptr) {
    why = "null argument";
    return false;
  }
  DWORD type = BaseType12(*x);
  if (type == 0 || (type & ~kBaseTypes12) || (type & (type - 1))) {
    why = "type word " + std::to_string(x->xltype);
    return false;
  }
  switch (type) {
    case xltypeStr:
      if (x->val.str == nullptr) { why = "string without text"; return false; }
      if (x->val.str[0] > kXl12MaxStringLength) { why = "string longer than 32,767"; return false; }
      break;
    case xltypeMulti:
      if (x->val.array.lparray == nullptr || x->val.array.rows <= 0 || x->val.array.columns <= 0 ||
          x->val.array.rows > SheetRowLimit() || x->val.array.columns > SheetColumnLimit()) {
        why = "empty or oversized array";
        return false;
      }
      break;
    case xltypeRef: {
      const XLMREF12* t = x->val.mref.lpmref;
      // A reference without a table names a sheet only (xlSheetId's answer).
      if (t == nullptr) break;
      if (t->count == 0) { why = "reference without areas"; return false; }
      for (WORD i = 0; i < t->count; ++i)
        if (!ValidArea12(t->reftbl[i])) { why = "reference area out of order or bounds"; return false; }
      break;
    }
    case xltypeSRef:
      if (!ValidArea12(x->val.sref.ref)) { why = "reference area out of order or bounds"; return false; }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

Operand OperandOf12(const XLOPER12& x, SheetId calling_sheet) {
  return OperandOfRecord(x, calling_sheet);
}

namespace {

// The XLOPERs the handlers are given in place of the 12-series arguments:
// whatever an XLOPER can hold as it is, clipped to the old grid otherwise
// (the handlers read the full operand through WideOperand).
struct Stand_ins {
  std::deque<XLOPER> opers;
  std::deque<std::string> texts;
  std::deque<std::vector<XLOPER>> arrays;
  std::deque<std::vector<unsigned char>> tables;

  char* Counted(const std::string& text) {
    std::size_t n = std::min<std::size_t>(text.size(), kXl4MaxStringLength);
    std::string s(1, static_cast<char>(static_cast<unsigned char>(n)));
    s.append(text, 0, n);
    texts.push_back(std::move(s));
    return texts.back().data();
  }
  void Scalar(XLOPER& x, const Value& v) {
    SetScalar(x, v, [this](const std::string& text) { return Counted(text); });
  }
  static XLREF Clipped(const Area& a) {
    auto row = [](int r) { return static_cast<WORD>(std::min(r, int{kXl4MaxRows} - 1)); };
    auto col = [](int c) { return static_cast<BYTE>(std::min(c, int{kXl4MaxColumns} - 1)); };
    return XLREF{row(a.first_row), row(a.last_row), col(a.first_col), col(a.last_col)};
  }
  XLOPER* Make(const XLOPER12& source, const Operand& op) {
    XLOPER& x = opers.emplace_back();
    std::memset(static_cast<void*>(&x), 0, sizeof x);
    DWORD type = BaseType12(source);
    if (type == xltypeRef && source.val.mref.lpmref == nullptr) {
      x.xltype = xltypeRef;  // a sheet alone
      x.val.mref.idSheet = source.val.mref.idSheet;
    } else if (op.missing) {
      x.xltype = xltypeMissing;
    } else if (type == xltypeInt && source.val.w >= -32768 && source.val.w <= 32767) {
      x.xltype = xltypeInt;
      x.val.w = static_cast<short>(source.val.w);
    } else if (auto* v = std::get_if<Value>(&op.v)) {
      Scalar(x, *v);
    } else if (auto* a = std::get_if<Array>(&op.v)) {
      int rows = std::min(a->rows, int{kXl4MaxRows} - 1), columns = std::min(a->columns, int{kXl4MaxColumns});
      auto& cells = arrays.emplace_back(static_cast<std::size_t>(rows) * columns);
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) Scalar(cells[static_cast<std::size_t>(r) * columns + c], a->at(r, c));
      x.xltype = xltypeMulti;
      x.val.array.lparray = cells.data();
      x.val.array.rows = static_cast<WORD>(rows);
      x.val.array.columns = static_cast<WORD>(columns);
    } else {
      const Ref& ref = std::get<Ref>(op.v);
      if (type == xltypeSRef) {
        x.xltype = xltypeSRef;
        x.val.sref.count = 1;
        x.val.sref.ref = Clipped(ref.areas[0]);
      } else {
        x.xltype = xltypeRef;
        x.val.mref.idSheet = ref.sheet;
        if (!ref.areas.empty()) {
          std::size_t bytes = sizeof(XLMREF) + sizeof(XLREF) * (ref.areas.size() - 1);
          auto& storage = tables.emplace_back(bytes + alignof(XLMREF));
          auto* table = reinterpret_cast<XLMREF*>(storage.data());
          table->count = static_cast<WORD>(ref.areas.size());
          for (std::size_t i = 0; i < ref.areas.size(); ++i) table->reftbl[i] = Clipped(ref.areas[i]);
          x.val.mref.lpmref = table;
        }
      }
    }
    return &x;
  }
};

XLREF12 Wide(const Area& a) { return XLREF12{a.first_row, a.last_row, a.first_col, a.last_col}; }

// A host-owned XLOPER12 holding an operand.
void FillFromOperand(XLOPER12& out, const Operand& op) {
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  if (auto* v = std::get_if<Value>(&op.v)) {
    FillScalar12(out, *v);
  } else if (auto* a = std::get_if<Array>(&op.v)) {
    XLOPER12* cells = NewHostArray12(a->rows, a->columns);
    for (std::size_t i = 0; i < a->cells.size(); ++i) FillScalar12(cells[i], a->cells[i], cells);
    out.xltype = xltypeMulti;
    out.val.array.lparray = cells;
    out.val.array.rows = a->rows;
    out.val.array.columns = a->columns;
  } else {
    const Ref& ref = std::get<Ref>(op.v);
    out.xltype = xltypeRef;
    out.val.mref.idSheet = ref.sheet;
    if (!ref.areas.empty()) {
      XLMREF12* table = NewHostRefTable12(static_cast<int>(ref.areas.size()));
      for (std::size_t i = 0; i < ref.areas.size(); ++i) table->reftbl[i] = Wide(ref.areas[i]);
      out.val.mref.lpmref = table;
    }
  }
}

// A handler's XLOPER answer as a host-owned XLOPER12; the XLOPER's own
// blocks are released.
void FillFromOper(XLOPER12& out, XLOPER& answer) {
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  switch (BaseType(answer)) {
    case xltypeInt:
      out.xltype = xltypeInt;
      out.val.w = answer.val.w;
      break;
    case xltypeSRef:
      out.xltype = xltypeSRef;
      out.val.sref.count = 1;
      out.val.sref.ref = XLREF12{answer.val.sref.ref.rwFirst, answer.val.sref.ref.rwLast,
                                 answer.val.sref.ref.colFirst, answer.val.sref.ref.colLast};
      break;
    case xltypeRef:
      if (answer.val.mref.lpmref == nullptr) {  // a sheet alone
        out.xltype = xltypeRef;
        out.val.mref.idSheet = answer.val.mref.idSheet;
        break;
      }
      [[fallthrough]];
    case xltypeMulti: {
      Operand op = OperandOf(answer, CallingSheet());
      FillFromOperand(out, op);
      break;
    }
    case xltypeMissing:
      out.xltype = xltypeMissing;
      break;
    default:
      FillScalar12(out, ScalarOf(answer));
      break;
  }
  FreeHostValue(&answer);
}

int Answer12(int xlfn, LPXLOPER12 result, int count, LPXLOPER12 opers[]) {
  if (MajorVersion() < 12) {
    LogLine("MdCallBack12: version " + H().app.version + " has no 12-series interface");
    return xlretFailed;
  }
  if (count < 0 || count > kXl12MaxArguments) {
    LogLine("Excel12v: " + std::to_string(count) + " arguments");
    return xlretInvCount;
  }
  if (count > 0 && opers == nullptr) {
    LogLine("Excel12v: no argument array");
    return xlretInvXloper;
  }
  if (xlfn == xlFree) {
    for (int k = 0; k < count; ++k)
      if (opers[k] != nullptr) FreeRecord(*opers[k]);
    return xlretSuccess;
  }
  for (int k = 0; k < count; ++k) {
    std::string why;
    if (!Valid12(opers[k], why)) {
      LogLine("Excel12v: function " + std::to_string(xlfn) + ": argument " + std::to_string(k + 1) +
              ": " + why);
      return xlretInvXloper;
    }
  }
  WideCall call;
  Stand_ins stand_ins;
  std::vector<XLOPER*> args;
  for (int k = 0; k < count; ++k) {
    Operand op = OperandOf12(*opers[k], CallingSheet());
    XLOPER* x = stand_ins.Make(*opers[k], op);
    call.operands.emplace(x, std::move(op));
    args.push_back(x);
  }
  XLOPER answer;
  std::memset(static_cast<void*>(&answer), 0, sizeof answer);
  int code;
  {
    WideCallScope scope(&call);
    code = Dispatch(xlfn, &answer, count, args.data());
  }
  if (code != xlretSuccess) return code;
  XLOPER12 out;
  if (call.filled) {
    FreeHostValue(&answer);
    out = *call.filled;
  } else if (call.answer) {
    FreeHostValue(&answer);
    FillFromOperand(out, *call.answer);
  } else if (xlfn == xlGetHwnd) {
    // Through the 12-series the whole handle fits.
    std::memset(static_cast<void*>(&out), 0, sizeof out);
    out.xltype = xltypeInt;
    out.val.w = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(win32::MainWindow()));
  } else {
    FillFromOper(out, answer);
  }
  if (result) *result = out;
  else FreeHostValue12(&out);  // nobody asked for it
  return code;
}

}  // namespace

WideCall* CurrentWideCall() { return g_wide_call; }

WideCallScope::WideCallScope(WideCall* call) : saved_(g_wide_call) { g_wide_call = call; }
WideCallScope::~WideCallScope() { g_wide_call = saved_; }

const Operand* WideOperand(const XLOPER* x) {
  if (g_wide_call == nullptr) return nullptr;
  auto it = g_wide_call->operands.find(x);
  return it == g_wide_call->operands.end() ? nullptr : &it->second;
}

int ArrayRowLimit() { return g_wide_call ? SheetRowLimit() : kXl4MaxRows - 1; }

bool AnswerWideArray(XLOPER& result, const Sheet& sheet, const Area& area) {
  if (g_wide_call == nullptr || !PrepareToRead(sheet, area)) return false;
  const int columns = area.columns();
  const std::size_t count = static_cast<std::size_t>(area.rows()) * static_cast<std::size_t>(columns);
  XLOPER12 array;
  std::memset(static_cast<void*>(&array), 0, sizeof array);
  array.xltype = xltypeMulti;
  array.val.array.lparray = NewHostArray12(area.rows(), columns);
  array.val.array.rows = area.rows();
  array.val.array.columns = columns;
  XLOPER12* cells = array.val.array.lparray;
  XLOPER12 blank;
  std::memset(static_cast<void*>(&blank), 0, sizeof blank);
  blank.xltype = xltypeNil;
  // The stored cells come in row-major order, so the blanks between them
  // are written as the walk passes: one pass over the array, not two.
  std::size_t next = 0;
  try {
    sheet.VisitStored(area, [&](int r, int c, const Value& v) {
      std::size_t at = static_cast<std::size_t>(r - area.first_row) * static_cast<std::size_t>(columns) +
                       static_cast<std::size_t>(c - area.first_col);
      std::fill(cells + next, cells + at, blank);
      FillScalar12(cells[at], v, cells);
      next = at + 1;
    });
  } catch (...) {
    std::fill(cells + next, cells + count, blank);
    FreeHostValue12(&array);  // its strings with it
    throw;
  }
  std::fill(cells + next, cells + count, blank);
  g_wide_call->filled = array;
  std::memset(static_cast<void*>(&result), 0, sizeof result);
  result.xltype = xltypeNil;
  return true;
}

}  // namespace standin

extern "C" {

// Exported by the host process, as Excel exports it from version 12 on.
STANDIN_API int XLCALL_STDCALL MdCallBack12(int xlfn, int count, LPXLOPER12 opers[],
                                            LPXLOPER12 operRes) {
  standin::CodeOwner host(false);
  int code;
  try {
    code = standin::Answer12(xlfn, operRes, count, opers);
  } catch (const std::exception& e) {
    standin::LogLine(std::string("Excel12v: ") + e.what());
    code = xlretFailed;
  }
  // A refused call leaves an error value, as Excel4v does.
  if (code != xlretSuccess && operRes != nullptr && xlfn != xlFree) {
    std::memset(static_cast<void*>(operRes), 0, sizeof *operRes);
    operRes->xltype = xltypeErr;
    operRes->val.err = xlerrValue;
  }
  return code;
}

}  // extern "C"
