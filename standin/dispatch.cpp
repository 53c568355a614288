// Excel4 and Excel4v: the add-in's calls into the host, answered by function
// number from one table. Arguments are checked before anything is read; a
// number the table does not hold is refused and logged.
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "standin/csv_reader.h"
#include "standin/addin.h"
#include "standin/dispatch.h"
#include "standin/eval.h"
#include "standin/module_code.h"
#include "standin/records.h"
#include "standin/win32_state.h"

namespace standin {
namespace {
bool g_intl_call = false;
}  // namespace

bool IntlCall() { return g_intl_call; }

int BaseType(const XLOPER& x) { return x.xltype & ~(xlbitXLFree | xlbitDLLFree); }

bool Given(const Args& args, std::size_t k) {
  return k < args.size() && BaseType(*args[k]) != xltypeMissing && BaseType(*args[k]) != xltypeNil;
}

SheetId CallingSheet() {
  return H().recalc.calling_sheet != 0 ? H().recalc.calling_sheet : H().app.active;
}

Value ScalarArg(const Args& args, std::size_t k) {
  if (k >= args.size()) return Blank{};
  if (const Operand* wide = WideOperand(args[k])) {
    if (wide->missing) return Blank{};
    if (auto* a = std::get_if<Array>(&wide->v)) return a->cells[0];
    if (auto* r = std::get_if<Ref>(&wide->v)) return ReadRef(*r).cells[0];
    return std::get<Value>(wide->v);
  }
  int type = BaseType(*args[k]);
  if (type == xltypeRef || type == xltypeSRef || type == xltypeMulti) {
    Operand op = OperandOf(*args[k], CallingSheet());
    if (auto* a = std::get_if<Array>(&op.v)) return a->cells[0];
    if (auto* r = std::get_if<Ref>(&op.v)) return ReadRef(*r).cells[0];
    return std::get<Value>(op.v);
  }
  return ScalarOf(*args[k]);
}

std::string TextArg(const Args& args, std::size_t k) {
  Value v = ToText(ScalarArg(args, k));
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return "";
}

std::optional<double> NumberArg(const Args& args, std::size_t k) {
  if (!Given(args, k)) return std::nullopt;
  Value v = ToNumber(ScalarArg(args, k));
  if (auto* d = std::get_if<double>(&v)) return *d;
  return std::nullopt;
}

bool BoolArg(const Args& args, std::size_t k, bool otherwise) {
  if (!Given(args, k)) return otherwise;
  Value v = ToBoolean(ScalarArg(args, k));
  if (auto* b = std::get_if<bool>(&v)) return *b;
  return otherwise;
}

std::optional<Ref> RefArg(const Args& args, std::size_t k) {
  if (k >= args.size()) return std::nullopt;
  int type = BaseType(*args[k]);
  if (type != xltypeRef && type != xltypeSRef) return std::nullopt;
  Operand op = OperandOf(*args[k], CallingSheet());
  if (auto* r = std::get_if<Ref>(&op.v)) return *r;
  return std::nullopt;
}

void SetValue(XLOPER& result, const Value& v) {
  if (WideCall* wide = CurrentWideCall()) {
    wide->answer = Operand{v};
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    result.xltype = xltypeNil;
    return;
  }
  FillScalar(result, v);
}

// A host-owned array of values; strings belong to the array.
void SetArray(XLOPER& result, const Array& a) {
  if (WideCall* wide = CurrentWideCall()) {
    wide->answer = Operand{a};
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    result.xltype = xltypeNil;
    return;
  }
  XLOPER* cells = NewHostArray(a.rows, a.columns);
  for (std::size_t i = 0; i < a.cells.size(); ++i) {
    FillScalar(cells[i], a.cells[i]);
    if (cells[i].xltype == xltypeStr) TrackArrayString(cells, cells[i].val.str);
  }
  KeepArrayCells(cells, a.cells.size());
  std::memset(static_cast<void*>(&result), 0, sizeof result);
  result.xltype = xltypeMulti;
  result.val.array.lparray = cells;
  result.val.array.rows = static_cast<WORD>(a.rows);
  result.val.array.columns = static_cast<WORD>(a.columns);
}

void SetArray(XLOPER& result, Array&& a) {
  if (WideCall* wide = CurrentWideCall()) {
    wide->answer = Operand{std::move(a)};
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    result.xltype = xltypeNil;
    return;
  }
  SetArray(result, static_cast<const Array&>(a));
}

void SetRef(XLOPER& result, const Ref& ref) {
  if (WideCall* wide = CurrentWideCall()) {
    wide->answer = Operand{ref};
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    result.xltype = xltypeNil;
    return;
  }
  XLMREF* table = NewHostRefTable(static_cast<int>(ref.areas.size()));
  for (std::size_t i = 0; i < ref.areas.size(); ++i) {
    const Area& a = ref.areas[i];
    table->reftbl[i] = XLREF{static_cast<WORD>(a.first_row), static_cast<WORD>(a.last_row),
                             static_cast<BYTE>(a.first_col), static_cast<BYTE>(a.last_col)};
  }
  std::memset(static_cast<void*>(&result), 0, sizeof result);
  result.xltype = xltypeRef;
  result.val.mref.lpmref = table;
  result.val.mref.idSheet = ref.sheet;
}

int Refuse(const std::string& function, const std::string& why) {
  LogLine(function + ": " + why);
  return xlretFailed;
}

namespace {

constexpr int kBaseTypes = xltypeNum | xltypeStr | xltypeBool | xltypeRef | xltypeErr |
                           xltypeFlow | xltypeMulti | xltypeMissing | xltypeNil | xltypeSRef |
                           xltypeInt;

bool ValidArea(const XLREF& r) {
  return r.rwFirst <= r.rwLast && r.colFirst <= r.colLast &&
         r.rwLast < static_cast<unsigned>(CurrentRowLimit());
}

// Whether an XLOPER can be read safely; why not in `why`.
bool Valid(const XLOPER* x, std::string& why) {
  if (x == nullptr) {
    why = "null argument";
    return false;
  }
  int type = BaseType(*x);
  if (type == 0 || (type & ~kBaseTypes) || (type & (type - 1))) {
    why = "type word " + std::to_string(x->xltype);
    return false;
  }
  switch (type) {
    case xltypeStr:
      if (x->val.str == nullptr) { why = "string without text"; return false; }
      break;
    case xltypeMulti:
      if (x->val.array.lparray == nullptr || x->val.array.rows == 0 || x->val.array.columns == 0) {
        why = "empty array";
        return false;
      }
      break;
    case xltypeRef: {
      const XLMREF* t = x->val.mref.lpmref;
      if (t == nullptr || t->count == 0) { why = "reference without areas"; return false; }
      for (WORD i = 0; i < t->count; ++i)
        if (!ValidArea(t->reftbl[i])) { why = "reference area out of order or bounds"; return false; }
      break;
    }
    case xltypeSRef:
      if (!ValidArea(x->val.sref.ref)) { why = "reference area out of order or bounds"; return false; }
      break;
    default:
      break;
  }
  return true;
}


// Reports the units a reference needs calculated first; true when the
// caller must answer xlretUncalced.
bool Uncalced(const Ref& ref) {
  std::vector<FormulaUnit*> hits = UncalculatedUnder(ref);
  if (hits.empty()) return false;
  auto& list = H().recalc.uncalced_hits;
  list.insert(list.end(), hits.begin(), hits.end());
  return true;
}

// ---- Handlers ----

int DoFree(XLOPER&, const Args& args) {
  for (XLOPER* x : args) FreeRecord(*x);
  return xlretSuccess;
}

// One scalar converted to the first type of the mask it can take.
Value ConvertScalar(const Value& v, int mask, int& type) {
  if (auto* e = std::get_if<Error>(&v)) {
    type = xltypeErr;
    return *e;
  }
  if (mask & xltypeNum) {
    Value n = ToNumber(v);
    if (std::holds_alternative<double>(n)) { type = xltypeNum; return n; }
  }
  if (mask & xltypeInt) {
    Value n = ToNumber(v);
    if (auto* d = std::get_if<double>(&n)) {
      double t = std::trunc(*d);
      if (t >= -32768 && t <= 32767) { type = xltypeInt; return t; }
    }
  }
  if (mask & xltypeStr) {
    Value s = ToText(v);
    if (std::holds_alternative<std::string>(s)) { type = xltypeStr; return s; }
  }
  if (mask & xltypeBool) {
    Value b = ToBoolean(v);
    if (std::holds_alternative<bool>(b)) { type = xltypeBool; return b; }
  }
  if ((mask & xltypeNil) && std::holds_alternative<Blank>(v)) { type = xltypeNil; return v; }
  type = xltypeErr;
  return Error{xlerrValue};
}

void SetConverted(XLOPER& result, const Value& v, int type) {
  if (type == xltypeInt) {
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    result.xltype = xltypeInt;
    result.val.w = static_cast<short>(std::get<double>(v));
    return;
  }
  SetValue(result, v);
}

int TypeOfValue(const Value& v) {
  if (std::holds_alternative<double>(v)) return xltypeNum;
  if (std::holds_alternative<std::string>(v)) return xltypeStr;
  if (std::holds_alternative<bool>(v)) return xltypeBool;
  if (std::holds_alternative<Error>(v)) return xltypeErr;
  return xltypeNil;
}

// One value as a type mask that does not take its own type asks for it: a
// one-cell array where the mask takes arrays, else the first scalar type of
// the mask it converts to.
int AnswerAs(XLOPER& result, const Value& v, int mask) {
  if (mask & xltypeMulti) {
    SetArray(result, Array{1, 1, {v}});
    return xlretSuccess;
  }
  int out = 0;
  Value converted = ConvertScalar(v, mask, out);
  SetConverted(result, converted, out);
  return xlretSuccess;
}

int DoCoerce(XLOPER& result, const Args& args) {
  const XLOPER& source = *args[0];
  int mask = 0;
  // A missing or nil type is no type: the argument left out.
  if (args.size() > 1 && BaseType(*args[1]) != xltypeMissing && BaseType(*args[1]) != xltypeNil) {
    Value m = ToNumber(ScalarOf(*args[1]));
    if (!std::holds_alternative<double>(m)) return xlretInvXloper;
    mask = static_cast<int>(std::get<double>(m)) & kBaseTypes;
    if (mask == 0) return xlretInvXloper;
  }
  int type = BaseType(source);
  SheetId sheet = CallingSheet();

  if (type == xltypeRef || type == xltypeSRef) {
    Ref ref = std::get<Ref>(OperandOf(source, sheet).v);
    if (mask & (xltypeRef | xltypeSRef)) {
      if ((mask & xltypeSRef) && !(mask & xltypeRef) && type == xltypeSRef) {
        result = source;
        result.xltype = xltypeSRef;
        return xlretSuccess;
      }
      if (!(mask & xltypeRef)) {
        SetValue(result, Error{xlerrValue});
        return xlretSuccess;
      }
      // The whole reference: a 12-series caller gets the big sheet's rows.
      SetRef(result, ref);
      return xlretSuccess;
    }
    if (FindSheetById(ref.sheet) == nullptr) {
      SetValue(result, Error{xlerrRef});
      return xlretSuccess;
    }
    if (Uncalced(ref)) return xlretUncalced;
    if (ref.areas.size() != 1) {
      SetValue(result, Error{xlerrValue});
      return xlretSuccess;
    }
    const Area& area = ref.areas[0];
    bool single = area.rows() == 1 && area.columns() == 1;
    if (!single && (mask == 0 || (mask & xltypeMulti))) {
      if (area.rows() > ArrayRowLimit()) {
        LogLine("xlCoerce: " + std::to_string(area.rows()) + " rows do not fit an array");
        return xlretFailed;
      }
      if (AnswerWideArray(result, *FindSheetById(ref.sheet), area)) return xlretSuccess;
      SetArray(result, ReadRef(ref));
      return xlretSuccess;
    }
    // A block asked for as one value gives its top left cell's.
    const Area corner{area.first_row, area.first_row, area.first_col, area.first_col};
    Value v = ReadRef(Ref{ref.sheet, {corner}}).cells[0];
    if (mask == 0 || (mask & TypeOfValue(v))) {
      SetValue(result, v);
      return xlretSuccess;
    }
    return AnswerAs(result, v, mask);
  }

  if (type == xltypeMulti) {
    Operand op = OperandOf(source, sheet);
    const Array& a = std::get<Array>(op.v);
    if (mask == 0 || (mask & xltypeMulti)) {
      SetArray(result, a);
      return xlretSuccess;
    }
    return AnswerAs(result, a.cells[0], mask);
  }

  if (mask == 0 || (mask & type)) {
    if (type == xltypeStr) {
      SetValue(result, ScalarOf(source));
    } else {
      result = source;
      result.xltype = static_cast<WORD>(type);
    }
    return xlretSuccess;
  }
  return AnswerAs(result, ScalarOf(source), mask);
}

// SUM and COUNT as a worksheet function answers them: #REF! for a
// reference to a sheet that is gone, xlretUncalced for one not yet
// calculated.
int Aggregate(XLOPER& result, const Args& args, Value (*aggregate)(const std::vector<Operand>&)) {
  std::vector<Operand> operands;
  for (XLOPER* x : args) {
    Operand op = OperandOf(*x, CallingSheet());
    if (auto* ref = std::get_if<Ref>(&op.v)) {
      if (FindSheetById(ref->sheet) == nullptr) {
        SetValue(result, Error{xlerrRef});
        return xlretSuccess;
      }
      if (Uncalced(*ref)) return xlretUncalced;
    }
    operands.push_back(op);
  }
  SetValue(result, aggregate(operands));
  return xlretSuccess;
}

int DoSum(XLOPER& result, const Args& args) { return Aggregate(result, args, SumOperands); }
int DoCount(XLOPER& result, const Args& args) { return Aggregate(result, args, CountOperands); }

int DoGetName(XLOPER& result, const Args&) {
  if (H().link.module == nullptr) {
    LogLine("xlGetName: no add-in module is loaded");
    return xlretFailed;
  }
  SetValue(result, H().link.module->path);
  return xlretSuccess;
}

int DoGetHwnd(XLOPER& result, const Args&) {
  std::memset(static_cast<void*>(&result), 0, sizeof result);
  result.xltype = xltypeInt;
  result.val.w = static_cast<short>(reinterpret_cast<std::uintptr_t>(win32::MainWindow()) & 0xFFFF);
  return xlretSuccess;
}

int DoRegister(XLOPER& result, const Args& args) {
  RegisterRequest r;
  r.module = TextArg(args, 0);
  if (BaseType(*args[1]) != xltypeStr) {
    LogLine("xlfRegister: the procedure must be given by name");
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  r.procedure = TextArg(args, 1);
  r.type_text = TextArg(args, 2);
  r.function_text = TextArg(args, 3);
  r.argument_text = TextArg(args, 4);
  r.macro_type = TextArg(args, 5);
  r.category = TextArg(args, 6);
  r.shortcut = TextArg(args, 7);
  SetValue(result, RegisterProcedure(r));
  return xlretSuccess;
}

int DoRegisterId(XLOPER& result, const Args& args) {
  SetValue(result, RegisterId(TextArg(args, 0), TextArg(args, 1), TextArg(args, 2)));
  return xlretSuccess;
}

int DoUnregister(XLOPER& result, const Args& args) {
  Value id = ScalarArg(args, 0);
  auto* d = std::get_if<double>(&id);
  SetValue(result, d != nullptr && Unregister(*d));  // FALSE: no such registration
  return xlretSuccess;
}

int DoLeft(XLOPER& result, const Args& args) {
  Value text = ToText(ScalarArg(args, 0));
  if (std::holds_alternative<Error>(text)) {
    SetValue(result, text);
    return xlretSuccess;
  }
  double count = 1;
  if (args.size() > 1 && BaseType(*args[1]) != xltypeMissing) {
    Value n = ToNumber(ScalarArg(args, 1));
    if (auto* e = std::get_if<Error>(&n)) {
      SetValue(result, *e);
      return xlretSuccess;
    }
    count = std::trunc(std::get<double>(n));
  }
  if (count < 0) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  const std::string& s = std::get<std::string>(text);
  SetValue(result, s.substr(0, count < static_cast<double>(s.size()) ? static_cast<std::size_t>(count) : s.size()));
  return xlretSuccess;
}

int DoValue(XLOPER& result, const Args& args) {
  Value v = ScalarArg(args, 0);
  if (auto* s = std::get_if<std::string>(&v)) {
    auto n = ReadNumberText(*s);
    SetValue(result, n ? Value{*n} : Value{Error{xlerrValue}});
  } else if (std::holds_alternative<double>(v) || std::holds_alternative<Error>(v)) {
    SetValue(result, v);
  } else if (std::holds_alternative<Blank>(v)) {
    SetValue(result, 0.0);
  } else {
    SetValue(result, Error{xlerrValue});
  }
  return xlretSuccess;
}

int DoSheetId(XLOPER& result, const Args& args) {
  SheetId id = H().app.active;
  if (!args.empty() && BaseType(*args[0]) != xltypeMissing) {
    std::string name = TextArg(args, 0);
    std::string book, sheet = name;
    if (!name.empty() && name[0] == '[') {
      std::size_t close = name.find(']');
      if (close != std::string::npos) {
        book = name.substr(1, close - 1);
        sheet = name.substr(close + 1);
      }
    }
    Sheet* found = FindSheetByName(book, sheet);
    id = found ? found->id : 0;
  }
  if (id == 0) {
    SetValue(result, Error{xlerrRef});
    return xlretSuccess;
  }
  std::memset(static_cast<void*>(&result), 0, sizeof result);
  result.xltype = xltypeRef;
  result.val.mref.lpmref = nullptr;
  result.val.mref.idSheet = id;
  return xlretSuccess;
}

constexpr Entry kTable[] = {
    {xlFree, "xlFree", 1, 30, DoFree},
    {xlCoerce, "xlCoerce", 1, 2, DoCoerce},
    {xlSheetId, "xlSheetId", 0, 1, DoSheetId},
    {xlGetHwnd, "xlGetHwnd", 0, 0, DoGetHwnd},
    {xlGetName, "xlGetName", 0, 0, DoGetName},
    {xlfSum, "xlfSum", 0, 30, DoSum},
    {xlfCount, "xlfCount", 0, 30, DoCount},
    {xlfValue, "xlfValue", 1, 1, DoValue},
    {xlfLeft, "xlfLeft", 1, 2, DoLeft},
    {xlfRegister, "xlfRegister", 3, 30, DoRegister},
    {xlfUnregister, "xlfUnregister", 1, 1, DoUnregister},
    {xlfRegisterId, "xlfRegisterId", 2, 3, DoRegisterId},
};

const Entry* FindEntry(int number) {
  for (const Entry& e : kTable)
    if (e.number == number) return &e;
  std::size_t count = 0;
  for (auto* table : {MacroEntries, CommandEntries, MenuEntries, PersonEntries}) {
    const Entry* entries = table(count);
    for (std::size_t i = 0; i < count; ++i)
      if (entries[i].number == number) return &entries[i];
  }
  return nullptr;
}

}  // namespace

int Answer(int xlfn, LPXLOPER result, int count, LPXLOPER opers[]) {
  // xlIntl asks for the international form of a function or command: only
  // those that have one accept it.
  bool intl = (xlfn & xlIntl) != 0 && !(xlfn & xlSpecial);
  const Entry* entry = FindEntry(intl ? (xlfn & ~xlIntl) : xlfn);
  if (entry == nullptr || (intl && !entry->intl)) {
    LogLine("Excel4v: function " + std::to_string(xlfn) + " is not known to the stand-in");
    return xlretInvXlfn;
  }
  g_intl_call = intl;
  if (count < entry->min_args || count > entry->max_args) {
    LogLine(std::string(entry->name) + ": " + std::to_string(count) + " arguments");
    return xlretInvCount;
  }
  if (count > 0 && opers == nullptr) {
    LogLine(std::string(entry->name) + ": no argument array");
    return xlretInvXloper;
  }
  Args args(opers, opers + count);
  for (int k = 0; k < count; ++k) {
    std::string why;
    XLOPER* x = args[static_cast<std::size_t>(k)];
    // xlFree takes back whatever the host filled, even a bare sheet id.
    bool ok = xlfn == xlFree ? (x != nullptr || (why = "null argument", false)) : Valid(x, why);
    if (!ok) {
      LogLine(std::string(entry->name) + ": argument " + std::to_string(k + 1) + ": " + why);
      return xlretInvXloper;
    }
  }
  XLOPER answer;
  std::memset(static_cast<void*>(&answer), 0, sizeof answer);
  int code = entry->handler(answer, args);
  if (code == xlretSuccess && xlfn != xlFree) {
    if (result) *result = answer;
    else FreeHostValue(&answer);  // nobody asked for it
  }
  return code;
}

// A refused or failed call leaves an error value in the result, so a caller
// that reads it without checking the code sees #VALUE!, not stale memory.
int Dispatch(int xlfn, LPXLOPER result, int count, LPXLOPER opers[]) {
  int code = Answer(xlfn, result, count, opers);
  if (code != xlretSuccess && result != nullptr && xlfn != xlFree) {
    std::memset(static_cast<void*>(result), 0, sizeof *result);
    result->xltype = xltypeErr;
    result->val.err = xlerrValue;
  }
  return code;
}

}  // namespace standin

extern "C" {

int XLCALL_STDCALL Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]) {
  standin::WideCallScope plain(nullptr);
  standin::CodeOwner host(false);
  try {
    return standin::Dispatch(xlfn, operRes, count, opers);
  } catch (const std::exception& e) {
    standin::LogLine(std::string("Excel4v: ") + e.what());
    return xlretFailed;
  }
}

int XLCALL_CDECL Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
  if (count < 0 || count > 30) {
    standin::LogLine("Excel4: " + std::to_string(count) + " arguments");
    return xlretInvCount;
  }
  LPXLOPER opers[30];
  va_list args;
  va_start(args, count);
  for (int k = 0; k < count; ++k) opers[k] = va_arg(args, LPXLOPER);
  va_end(args);
  return Excel4v(xlfn, operRes, count, opers);
}

}  // extern "C"
