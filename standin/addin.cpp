// Registered procedures: how they are found, checked and called. Arguments
// are converted per the registered type text as Excel converts them, and
// results are copied and handed back to the module's xlAutoFree.
// GCC 12 reports moves of std::variant<..., std::string> as reading an
// uninitialised string when sanitizers change inlining; a known false alarm.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "standin/addin.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <ffi.h>
#endif

#include "standin/dispatch.h"
#include "standin/eval.h"
#include "standin/loader.h"
#include "standin/module_code.h"
#include "standin/records.h"

namespace standin {
namespace {

bool SameTextCi(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

constexpr char kArgumentLetters[] = "RPEBJIACDQU";
constexpr char kResultLetters[] = "RPJIABEQU";
// XLOPER12 letters, known from version 12 on.
bool IsWideLetter(char letter) { return letter == 'Q' || letter == 'U'; }

// The most arguments a call can carry (see Invoke): Excel's 255 where libffi
// builds the call, the fixed slots of the x64 table on Windows.
#ifdef _WIN32
constexpr std::size_t kMaxArguments = 14;
#else
constexpr std::size_t kMaxArguments = 255;
#endif

// Letters without the trailing volatile/macro-equivalent marks.
std::string Letters(const std::string& type_text) {
  std::string t = type_text;
  while (!t.empty() && (t.back() == '!' || t.back() == '#')) t.pop_back();
  return t;
}

}  // namespace

bool SupportedTypeText(const std::string& type_text, std::string& why) {
  std::string t = Letters(type_text);
  if (t.empty()) {
    why = "empty type text";
    return false;
  }
  if (std::strchr(kResultLetters, t[0]) == nullptr) {
    why = std::string("unsupported result type '") + t[0] + "'";
    return false;
  }
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (std::strchr(kArgumentLetters, t[i]) == nullptr) {
      why = std::string("unsupported argument type '") + t[i] + "'";
      return false;
    }
  }
  for (char letter : t)
    if (IsWideLetter(letter) && MajorVersion() < 12) {
      why = std::string("type '") + letter + "' is not known before version 12";
      return false;
    }
  if (t.size() - 1 > kMaxArguments) {
    why = "too many arguments";
    return false;
  }
  return true;
}

void* ResolveProcedure(const std::string& name) {
  Module* module = H().link.module.get();
  if (module == nullptr) return nullptr;
  if (module->test) {
    auto it = module->procedures.find(name);
    if (it != module->procedures.end()) return it->second;
    return ProcessSymbol(name);
  }
  return ModuleSymbol(module->handle, name);
}

Value RegisterProcedure(const RegisterRequest& r) {
  Model& model = H().model;
  AddinLink& link = H().link;
  if (link.module == nullptr || !SameTextCi(r.module, link.module->path)) {
    LogLine("xlfRegister: module \"" + r.module + "\" is not loaded");
    return Error{xlerrValue};
  }
  void* address = ResolveProcedure(r.procedure);
  if (address == nullptr) {
    LogLine("xlfRegister: procedure \"" + r.procedure + "\" not found in " + r.module);
    return Error{xlerrValue};
  }
  std::string why;
  if (!SupportedTypeText(r.type_text, why)) {
    LogLine("xlfRegister: " + r.procedure + " type text \"" + r.type_text + "\": " + why);
    return Error{xlerrValue};
  }
  Registration info{0, r.module, r.procedure, r.type_text, r.function_text, r.argument_text,
                    r.macro_type, r.category, r.shortcut};
  for (Registered& existing : link.registrations)
    if (SameTextCi(existing.info.module, r.module) && existing.info.procedure == r.procedure) {
      info.id = existing.info.id;
      existing.info = info;
      existing.address = address;
      ++existing.use_count;
      break;
    }
  if (info.id == 0) {
    info.id = 0x10000 + ++link.next_register_id;
    link.registrations.push_back({info, address});
  }
  // Excel defines a hidden name for every function text it registers,
  // standing for the registration ID.
  if (!r.function_text.empty()) {
    std::string key;
    for (char c : r.function_text) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    model.names[key] = Describe(Value{info.id});
  }
  return info.id;
}

Value RegisterId(const std::string& module, const std::string& procedure,
                 const std::string& type_text) {
  for (const Registered& r : H().link.registrations)
    if (SameTextCi(r.info.module, module) && SameTextCi(r.info.procedure, procedure))
      return r.info.id;
  if (type_text.empty()) return Error{xlerrValue};
  RegisterRequest request;
  request.module = module;
  request.procedure = procedure;
  request.type_text = type_text;
  return RegisterProcedure(request);
}

bool Unregister(double id) {
  auto& list = H().link.registrations;
  for (auto it = list.begin(); it != list.end(); ++it)
    if (it->info.id == id) {
      if (--it->use_count == 0) list.erase(it);
      return true;
    }
  return false;
}

const Registered* FindRegisteredFunction(const std::string& function_text) {
  for (const Registered& r : H().link.registrations) {
    bool worksheet = r.info.macro_type.empty() || r.info.macro_type == "1";
    if (worksheet && !r.info.function_text.empty() && SameTextCi(r.info.function_text, function_text))
      return &r;
  }
  return nullptr;
}

Operand OperandOf(const XLOPER& x, SheetId calling_sheet) {
  if (const Operand* wide = WideOperand(&x)) return *wide;
  return OperandOfRecord(x, calling_sheet);
}

namespace {

// Storage for one call's arguments: alive until the call's result is read.
struct ArgumentStore {
  std::deque<XLOPER> opers;
  std::deque<std::vector<XLOPER>> arrays;
  std::deque<std::string> texts;
  std::deque<XLOPER12> opers12;
  std::deque<std::vector<XLOPER12>> arrays12;
  std::deque<std::u16string> wide_texts;
  std::deque<std::vector<unsigned char>> tables;
  std::deque<double> doubles;

  template <typename Oper>
  std::deque<Oper>& Opers() {
    if constexpr (std::is_same_v<Oper, XLOPER>) return opers;
    else return opers12;
  }
  template <typename Oper>
  std::deque<std::vector<Oper>>& Arrays() {
    if constexpr (std::is_same_v<Oper, XLOPER>) return arrays;
    else return arrays12;
  }
  // A counted string of the record's width; longer texts are cut to what
  // the width holds, as the host cuts them.
  template <typename Oper>
  auto* Text(const std::string& text) {
    if constexpr (std::is_same_v<Oper, XLOPER>) {
      std::size_t n = std::min<std::size_t>(text.size(), kXl4MaxStringLength);
      std::string s(1, static_cast<char>(static_cast<unsigned char>(n)));
      s.append(text, 0, n);
      texts.push_back(std::move(s));
      return texts.back().data();
    } else {
      std::u16string w = WideText(text);
      if (w.size() > kXl12MaxStringLength) w.resize(kXl12MaxStringLength);
      w.insert(w.begin(), static_cast<char16_t>(w.size()));
      wide_texts.push_back(std::move(w));
      return reinterpret_cast<XCHAR*>(wide_texts.back().data());
    }
  }
  template <typename Oper>
  void Scalar(Oper& x, const Value& v) {
    SetScalar(x, v, [this](const std::string& text) { return Text<Oper>(text); });
  }
  template <typename Oper>
  Oper* Multi(const Array& a) {
    std::vector<Oper>& cells = Arrays<Oper>().emplace_back(a.cells.size());
    for (std::size_t i = 0; i < a.cells.size(); ++i) Scalar(cells[i], a.cells[i]);
    Oper& x = Opers<Oper>().emplace_back();
    std::memset(static_cast<void*>(&x), 0, sizeof x);
    x.xltype = xltypeMulti;
    x.val.array.lparray = cells.data();
    x.val.array.rows = static_cast<decltype(x.val.array.rows)>(a.rows);
    x.val.array.columns = static_cast<decltype(x.val.array.columns)>(a.columns);
    return &x;
  }
};

// An area as a record's reference of either width.
template <typename Ref>
Ref RecordArea(const Area& a) {
  using Row = decltype(Ref::rwFirst);
  using Column = decltype(Ref::colFirst);
  return Ref{static_cast<Row>(a.first_row), static_cast<Row>(a.last_row),
             static_cast<Column>(a.first_col), static_cast<Column>(a.last_col)};
}

// An XLOPER carries the old grid only: arrays of 16-bit counts, references
// within its last row and column. An XLOPER12 carries the whole sheet.
template <typename Oper>
bool Carries(const Array& a) {
  return !std::is_same_v<Oper, XLOPER> || (a.rows <= 65535 && a.columns <= 255 + 1);
}
template <typename Oper>
bool Carries(const Ref& ref) {
  if constexpr (std::is_same_v<Oper, XLOPER>) {
    for (const Area& a : ref.areas)
      if (a.last_row >= kXl4MaxRows || a.last_col >= kXl4MaxColumns) return false;
  }
  return true;
}

// R and U: references as they are (U on the whole sheet); P and Q
// (`convert_refs`): values and arrays.
template <typename Oper>
Oper* AsRecord(ArgumentStore& store, const Operand& op, SheetId sheet, bool convert_refs,
               std::optional<Error>& fail) {
  Oper& x = store.Opers<Oper>().emplace_back();
  std::memset(static_cast<void*>(&x), 0, sizeof x);
  if (op.missing) {
    x.xltype = xltypeMissing;
    return &x;
  }
  if (auto* v = std::get_if<Value>(&op.v)) {
    store.Scalar(x, op.no_value ? Value{Error{xlerrNum}} : *v);
    return &x;
  }
  if (auto* a = std::get_if<Array>(&op.v)) {
    if (!Carries<Oper>(*a)) fail = Error{xlerrValue};
    return fail ? &x : store.Multi<Oper>(*a);
  }
  const Ref& ref = std::get<Ref>(op.v);
  if (!Carries<Oper>(ref)) {
    fail = Error{xlerrValue};
    return &x;
  }
  if (convert_refs) {
    if (ref.areas.size() != 1) {
      fail = Error{xlerrValue};
      return &x;
    }
    Array values = ReadRef(ref);
    if (values.rows == 1 && values.columns == 1) {
      store.Scalar(x, values.cells[0]);
      return &x;
    }
    if (!Carries<Oper>(values)) {
      fail = Error{xlerrValue};
      return &x;
    }
    return store.Multi<Oper>(values);
  }
  using Table = std::remove_pointer_t<decltype(x.val.mref.lpmref)>;
  using Area1 = std::remove_cvref_t<decltype(Table::reftbl[0])>;
  if (ref.areas.size() == 1 && ref.sheet == sheet) {
    x.xltype = xltypeSRef;
    x.val.sref.count = 1;
    x.val.sref.ref = RecordArea<Area1>(ref.areas[0]);
    return &x;
  }
  std::size_t bytes = sizeof(Table) + sizeof(Area1) * (ref.areas.size() - 1);
  store.tables.emplace_back(bytes + alignof(Table));
  auto* table = reinterpret_cast<Table*>(store.tables.back().data());
  table->count = static_cast<WORD>(ref.areas.size());
  for (std::size_t i = 0; i < ref.areas.size(); ++i) table->reftbl[i] = RecordArea<Area1>(ref.areas[i]);
  x.xltype = xltypeRef;
  x.val.mref.lpmref = table;
  x.val.mref.idSheet = ref.sheet;
  return &x;
}

// The single value of an operand for a scalar argument: a one-cell
// reference reads its cell; larger references and arrays do not convert.
Value SingleValue(const Operand& given) {
  if (given.missing) return Blank{};
  if (given.no_value) return Error{xlerrNum};
  const Operand op = ImplicitIntersection(given);
  if (auto* v = std::get_if<Value>(&op.v)) return *v;
  if (auto* r = std::get_if<Ref>(&op.v)) {
    if (r->areas.size() != 1) return Error{xlerrValue};
    Array a = ReadRef(*r);
    if (a.rows == 1 && a.columns == 1) return a.cells[0];
    return Error{xlerrValue};
  }
  const Array& a = std::get<Array>(op.v);
  if (a.rows == 1 && a.columns == 1) return a.cells[0];
  return Error{xlerrValue};
}

// One argument as the procedure receives it, in the width its type letter
// gives it.
union Slot {
  void* pointer;
  std::int32_t int32;
  std::int16_t int16;
  double number;
};

struct RawResult {
  std::intptr_t integer = 0;
  double number = 0;
};

#ifdef _WIN32
// Windows x64 (Debian ships no libffi for mingw-w64): every argument takes
// the next slot whatever its type, the first four in registers (integers in
// RCX..R9, doubles in XMM0..XMM3), the rest in 8-byte stack slots that hold
// a double's bits as they are. So the call shape depends only on which of
// the first four slots are doubles: one instantiation per pattern.
#if !defined(__x86_64__)
#error "the Windows stand-in calls registered procedures through the x64 convention"
#endif
template <typename T>
T SlotAs(std::intptr_t bits) {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
template <typename R, int Doubles>
R CallSlots(void* address, const std::intptr_t (&s)[14]) {
  using A0 = std::conditional_t<(Doubles & 1) != 0, double, std::intptr_t>;
  using A1 = std::conditional_t<(Doubles & 2) != 0, double, std::intptr_t>;
  using A2 = std::conditional_t<(Doubles & 4) != 0, double, std::intptr_t>;
  using A3 = std::conditional_t<(Doubles & 8) != 0, double, std::intptr_t>;
  using I = std::intptr_t;
  using Fn = R (*)(A0, A1, A2, A3, I, I, I, I, I, I, I, I, I, I);
  return reinterpret_cast<Fn>(address)(SlotAs<A0>(s[0]), SlotAs<A1>(s[1]), SlotAs<A2>(s[2]),
                                       SlotAs<A3>(s[3]), s[4], s[5], s[6], s[7], s[8], s[9],
                                       s[10], s[11], s[12], s[13]);
}
template <typename R, int... Doubles>
R CallByPattern(int pattern, void* address, const std::intptr_t (&s)[14],
                std::integer_sequence<int, Doubles...>) {
  using Caller = R (*)(void*, const std::intptr_t (&)[14]);
  static constexpr Caller kCallers[] = {&CallSlots<R, Doubles>...};
  return kCallers[pattern](address, s);
}

std::optional<RawResult> Invoke(void* address, const std::string& letters,
                                std::vector<Slot>& args) {
  std::intptr_t slots[kMaxArguments] = {};
  int pattern = 0;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const char letter = letters[k + 1];
    if (letter == 'B') {
      std::memcpy(&slots[k], &args[k].number, sizeof(double));
      if (k < 4) pattern |= 1 << k;
    } else if (letter == 'J') {
      slots[k] = args[k].int32;
    } else if (letter == 'I' || letter == 'A') {
      slots[k] = args[k].int16;
    } else {
      slots[k] = reinterpret_cast<std::intptr_t>(args[k].pointer);
    }
  }
  RawResult r;
  CodeOwner owner(true);
  if (letters[0] == 'B') {
    r.number = CallByPattern<double>(pattern, address, slots, std::make_integer_sequence<int, 16>{});
  } else {
    r.integer = CallByPattern<std::intptr_t>(pattern, address, slots,
                                             std::make_integer_sequence<int, 16>{});
  }
  return r;
}
#else
// Everywhere else libffi builds the call from the type letters, in the
// platform's own C convention: registers on x86-64, all on the stack on
// i386.
ffi_type* FfiType(char letter) {
  switch (letter) {
    case 'B': return &ffi_type_double;
    case 'J': return &ffi_type_sint32;
    case 'I': case 'A': return &ffi_type_sint16;
    default: return &ffi_type_pointer;  // R, P, Q, U, E, C, D
  }
}

// Nothing when libffi cannot describe the call.
std::optional<RawResult> Invoke(void* address, const std::string& letters,
                                std::vector<Slot>& args) {
  std::vector<ffi_type*> types(args.size());
  std::vector<void*> values(args.size());
  for (std::size_t k = 0; k < args.size(); ++k) {
    types[k] = FfiType(letters[k + 1]);
    values[k] = &args[k];
  }
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(args.size()),
                   FfiType(letters[0]), types.data()) != FFI_OK)
    return std::nullopt;
  // Integer results narrower than a register come back widened to ffi_arg.
  union {
    ffi_sarg integer;
    void* pointer;
    double number;
  } out{};
  {
    CodeOwner owner(true);  // the host's own allocations above never count
    ffi_call(&cif, FFI_FN(address), &out, values.data());
  }
  RawResult r;
  switch (letters[0]) {
    case 'B': r.number = out.number; break;
    case 'J': case 'I': case 'A': r.integer = static_cast<std::intptr_t>(out.integer); break;
    default: r.integer = reinterpret_cast<std::intptr_t>(out.pointer); break;
  }
  return r;
}
#endif

// Hands an xlbitDLLFree result back to the module: XLOPER12 results to its
// xlAutoFree12, the others to xlAutoFree.
template <typename Oper>
void GiveBack(Oper* result) {
  constexpr bool kWide = std::is_same_v<Oper, XLOPER12>;
  const char* name = kWide ? "xlAutoFree12" : "xlAutoFree";
  ValueAccounts& accounts = H().accounts;
  ++accounts.pending_dll_results;
  void* address = ResolveProcedure(name);
  if (address == nullptr) {
    accounts.problems.push_back(std::string("an xlbitDLLFree result, but the module exports no ") + name);
    return;
  }
  {
    CodeOwner owner(true);
    reinterpret_cast<void(WINAPI*)(Oper*)>(address)(result);
  }
  --accounts.pending_dll_results;
}

// A record the procedure answered, as an operand; what it held goes back to
// whoever filled it. A null pointer is no value (it reads as #NUM!).
template <typename Oper>
Operand TakeRecordResult(Oper* x, SheetId sheet) {
  if (x == nullptr) {
    Operand none{Value{Error{xlerrNum}}};
    none.no_value = true;
    return none;
  }
  Operand op = OperandOfRecord(*x, sheet);
  if (x->xltype & xlbitDLLFree) GiveBack(x);
  else if (x->xltype & xlbitXLFree) FreeTracked(HeldBlock(*x));
  return op;
}

// Reads the procedure's answer into an operand and releases what it held.
Operand TakeResult(char letter, const RawResult& raw, SheetId sheet) {
  switch (letter) {
    case 'B':
      if (!std::isfinite(raw.number)) return Operand{Value{std::in_place_type<Error>, Error{xlerrNum}}};
      return Operand{Value{raw.number}};
    case 'J':
      return Operand{Value{static_cast<double>(static_cast<std::int32_t>(raw.integer))}};
    case 'I':
      return Operand{Value{static_cast<double>(static_cast<std::int16_t>(raw.integer))}};
    case 'A':
      return Operand{Value{static_cast<std::int16_t>(raw.integer) != 0}};
    case 'E': {
      auto* p = reinterpret_cast<double*>(raw.integer);
      if (p == nullptr || !std::isfinite(*p)) return Operand{Value{Error{xlerrNum}}};
      return Operand{Value{*p}};
    }
    case 'Q':
    case 'U': return TakeRecordResult(reinterpret_cast<XLOPER12*>(raw.integer), sheet);
    default: return TakeRecordResult(reinterpret_cast<XLOPER*>(raw.integer), sheet);  // R, P
  }
}

}  // namespace

Operand CallRegistered(const Registered& function, const std::vector<Operand>& args,
                       SheetId sheet) {
  // Copy: the procedure may re-register and move the table.
  const Registration info = function.info;
  void* address = function.address;
  const std::string letters = Letters(info.type_text);
  const std::size_t wanted = letters.size() - 1;
  if (args.size() > wanted) return Operand{Value{Error{xlerrValue}}};

  ArgumentStore store;
  std::vector<Slot> slots(wanted);
  for (std::size_t k = 0; k < wanted; ++k) {
    Operand missing{Value{Blank{}}};
    missing.missing = true;
    const Operand& op = k < args.size() ? args[k] : missing;
    char letter = letters[k + 1];
    Slot& slot = slots[k];
    std::optional<Error> fail;
    if (letter == 'R' || letter == 'P') {
      slot.pointer = AsRecord<XLOPER>(store, op, sheet, letter == 'P', fail);
    } else if (letter == 'Q' || letter == 'U') {
      slot.pointer = AsRecord<XLOPER12>(store, op, sheet, letter == 'Q', fail);
    } else if (letter == 'C' || letter == 'D') {
      Value text = ToText(SingleValue(op));
      if (auto* e = std::get_if<Error>(&text)) {
        fail = *e;
      } else {
        const std::string& s = std::get<std::string>(text);
        if (letter == 'D') {
          if (s.size() > 255) fail = Error{xlerrValue};
          else slot.pointer = store.Text<XLOPER>(s);
        } else {
          store.texts.push_back(s);
          slot.pointer = store.texts.back().data();
        }
      }
    } else if (letter == 'A') {
      Value b = ToBoolean(SingleValue(op));
      if (auto* e = std::get_if<Error>(&b)) fail = *e;
      else slot.int16 = std::get<bool>(b) ? 1 : 0;
    } else {  // E, B, J, I: numbers
      Value n = ToNumber(SingleValue(op));
      if (auto* e = std::get_if<Error>(&n)) {
        fail = *e;
      } else {
        double d = std::get<double>(n);
        if (letter == 'E') {
          store.doubles.push_back(d);
          slot.pointer = &store.doubles.back();
        } else if (letter == 'B') {
          slot.number = d;
        } else {
          double t = std::trunc(d);
          double lo = letter == 'J' ? std::numeric_limits<std::int32_t>::min() : -32768.0;
          double hi = letter == 'J' ? std::numeric_limits<std::int32_t>::max() : 32767.0;
          if (t < lo || t > hi) fail = Error{xlerrNum};
          else if (letter == 'J') slot.int32 = static_cast<std::int32_t>(t);
          else slot.int16 = static_cast<std::int16_t>(t);
        }
      }
    }
    // An argument Excel cannot convert: the procedure is not called.
    if (fail) return Operand{Value{*fail}};
  }

  AddinLink& link = H().link;
  Recalculation& recalc = H().recalc;
  for (int attempt = 0;; ++attempt) {
    recalc.uncalced_hits.clear();
    std::optional<RawResult> called;
    {
      // The procedure's own calls into the host are calls of their own.
      WideCallScope plain(nullptr);
      // While a worksheet function runs, commands are not the host's to take.
      struct Running {
        int& count;
        bool counted;
        ~Running() { count -= counted ? 1 : 0; }
      } running{link.functions_running,
                info.macro_type.empty() || info.macro_type == "1"};
      link.functions_running += running.counted ? 1 : 0;
      called = Invoke(address, letters, slots);
    }
    if (!called) {
      LogLine(info.procedure + ": type text \"" + info.type_text + "\" cannot be called here");
      return Operand{Value{Error{xlerrValue}}};
    }
    const RawResult& raw = *called;
    std::vector<FormulaUnit*> hits = recalc.uncalced_hits;
    recalc.uncalced_hits.clear();
    bool returned_null = std::strchr("RPQU", letters[0]) != nullptr && raw.integer == 0;
    Operand result = TakeResult(letters[0], raw, sheet);
    bool retry = !hits.empty() && attempt < 1000;
    link.calls.push_back({info.function_text, returned_null, retry});
    if (!retry) return result;
    // As Excel does: drop this answer, calculate what it needed, call again.
    for (FormulaUnit* unit : hits)
      if (!unit->calculated && !unit->in_progress) CalculateUnit(*unit);
  }
}

}  // namespace standin
