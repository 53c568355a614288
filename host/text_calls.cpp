#include "host/text_calls.h"

#include <cstring>
#include <type_traits>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/interface.h"

namespace hvt {

namespace {

using Kind = TextCallArgument::Kind;

// UTF-16 units a counted UTF-8 text of 255 bytes can need, with its count
// and NUL.
constexpr std::size_t kWideUnits = 2 * 255 + 2;

// Room for the widened texts of one call; the 4-series needs none.
template <HostRecord Oper>
struct TextRoom {
  XCHAR* at(std::size_t) { return nullptr; }
};
template <>
struct TextRoom<XLOPER12> {
  XCHAR units[kTextCallArguments][kWideUnits];
  XCHAR* at(std::size_t i) { return units[i]; }
};

template <HostRecord Oper>
bool MakeArgument(const TextCallArgument& from, Oper& to, XCHAR* room) {
  switch (from.kind) {
    case Kind::kNumber:
      to = NumberValue<Oper>(from.number);
      return true;
    case Kind::kBoolean:
      to = BooleanValue<Oper>(from.number != 0);
      return true;
    case Kind::kInteger:
      to = IntegerValue<Oper>(static_cast<int>(from.number));
      return true;
    case Kind::kMissing:
      to = MissingValue<Oper>();
      return true;
    case Kind::kText:
      if (from.text == nullptr) return false;
      if constexpr (std::is_same_v<Oper, XLOPER>) {
        to = TextValue<XLOPER>(from.text);
      } else {
        if (!WidenCounted(from.text, room, kWideUnits)) return false;
        to = TextValue<XLOPER12>(room);
      }
      return true;
    case Kind::kReference:
      if constexpr (std::is_same_v<Oper, XLOPER>) {
        if (from.narrow == nullptr) return false;
        to = *from.narrow;
      } else {
        if (from.wide == nullptr) return false;
        to = *from.wide;
      }
      return true;
  }
  return false;
}

// Calls through one interface; `use` sees a successful call's answer, which
// goes back to the host after. Without `use` no answer is asked for.
template <HostRecord Oper, typename Use>
int CallThrough(int function, std::initializer_list<TextCallArgument> arguments, Use&& use) {
  if (arguments.size() > kTextCallArguments) return xlretInvCount;
  Oper values[kTextCallArguments];
  Oper* list[kTextCallArguments];
  TextRoom<Oper> room;
  int count = 0;
  for (const TextCallArgument& argument : arguments) {
    if (!MakeArgument(argument, values[count], room.at(static_cast<std::size_t>(count)))) {
      return xlretInvXloper;
    }
    list[count] = &values[count];
    ++count;
  }
  if constexpr (std::is_same_v<std::decay_t<Use>, std::nullptr_t>) {
    return Interface<Oper>::Call(function, nullptr, count, list);
  } else {
    Oper answer{};
    int code = Interface<Oper>::Call(function, &answer, count, list);
    if (code == xlretSuccess) {
      use(static_cast<const Oper&>(answer));
      GiveBack(answer);
    }
    return code;
  }
}

template <typename Use>
int Call(int function, std::initializer_list<TextCallArgument> arguments, Use&& use) {
  return WideHost() ? CallThrough<XLOPER12>(function, arguments, use)
                    : CallThrough<XLOPER>(function, arguments, use);
}

template <HostRecord Oper>
bool IsText(const Oper& value) {
  return TypeOf(value) == xltypeStr && value.val.str != nullptr;
}

bool KeepText(const XLOPER& value, char* out, std::size_t capacity) {
  if (!IsText(value) || capacity < 2) return false;
  std::size_t length = CountedLength(value.val.str);
  if (length + 2 > capacity) length = capacity - 2;
  std::memcpy(out + 1, value.val.str + 1, length);
  out[0] = static_cast<char>(length);
  out[1 + length] = '\0';
  return true;
}
bool KeepText(const XLOPER12& value, char* out, std::size_t capacity) {
  return IsText(value) && NarrowCounted(value.val.str, out, capacity);
}

bool SameName(const XLOPER& entry, const char* name) {
  return IsText(entry) && CompareCounted(entry.val.str, name) == 0;
}
bool SameName(const XLOPER12& entry, const char* name) {
  char narrow[257];
  return KeepText(entry, narrow, sizeof narrow) && CompareCounted(narrow, name) == 0;
}

template <HostRecord Oper>
bool ListHolds(const Oper& list, const char* name) {
  if (TypeOf(list) == xltypeStr) return SameName(list, name);
  if (TypeOf(list) != xltypeMulti || list.val.array.lparray == nullptr) return false;
  std::size_t count = static_cast<std::size_t>(list.val.array.rows) *
                      static_cast<std::size_t>(list.val.array.columns);
  for (std::size_t i = 0; i < count; ++i) {
    if (SameName(list.val.array.lparray[i], name)) return true;
  }
  return false;
}

template <HostRecord Oper>
void KeepValue(const Oper& from, XLOPER& to) {
  to = XLOPER{};
  to.xltype = xltypeNil;
  switch (TypeOf(from)) {
    case xltypeNum:
      to.xltype = xltypeNum;
      to.val.num = from.val.num;
      break;
    case xltypeBool:
      to.xltype = xltypeBool;
      to.val.xbool = static_cast<decltype(to.val.xbool)>(from.val.xbool);
      break;
    case xltypeErr:
      to.xltype = xltypeErr;
      to.val.err = static_cast<decltype(to.val.err)>(from.val.err);
      break;
    case xltypeInt:
      to.xltype = xltypeInt;
      to.val.w = static_cast<decltype(to.val.w)>(from.val.w);
      break;
    case xltypeRef:
      to.xltype = xltypeRef;
      to.val.mref.idSheet = from.val.mref.idSheet;
      to.val.mref.lpmref = nullptr;
      break;
    default:
      break;
  }
}

}  // namespace

TextCallArgument NumberArgument(double number) {
  TextCallArgument a;
  a.kind = Kind::kNumber;
  a.number = number;
  return a;
}
TextCallArgument BooleanArgument(bool on) {
  TextCallArgument a;
  a.kind = Kind::kBoolean;
  a.number = on ? 1 : 0;
  return a;
}
TextCallArgument IntegerArgument(int number) {
  TextCallArgument a;
  a.kind = Kind::kInteger;
  a.number = number;
  return a;
}
TextCallArgument MissingArgument() { return TextCallArgument{}; }
TextCallArgument TextArgumentOf(char* counted) {
  TextCallArgument a;
  a.kind = Kind::kText;
  a.text = counted;
  if (counted != nullptr) SetCountedLength(counted);
  return a;
}
TextCallArgument ReferenceArgument(const XLOPER& narrow, const XLOPER12& wide) {
  TextCallArgument a;
  a.kind = Kind::kReference;
  a.narrow = &narrow;
  a.wide = &wide;
  return a;
}
TextCallArgument ReferenceArgument(const XLOPER& narrow) {
  TextCallArgument a;
  a.kind = Kind::kReference;
  a.narrow = &narrow;
  return a;
}
TextCallArgument ReferenceArgument(const XLOPER12& wide) {
  TextCallArgument a;
  a.kind = Kind::kReference;
  a.wide = &wide;
  return a;
}

int TextCall(int function, std::initializer_list<TextCallArgument> arguments) {
  return Call(function, arguments, nullptr);
}

bool TextCallText(int function, char* out, std::size_t capacity,
                  std::initializer_list<TextCallArgument> arguments) {
  bool kept = false;
  Call(function, arguments,
       [&](const auto& answer) { kept = KeepText(answer, out, capacity); });
  return kept;
}

bool TextCallListHolds(int function, const char* name,
                       std::initializer_list<TextCallArgument> arguments) {
  bool holds = false;
  Call(function, arguments, [&](const auto& answer) { holds = ListHolds(answer, name); });
  return holds;
}

bool TextCallValue(int function, XLOPER& value,
                   std::initializer_list<TextCallArgument> arguments) {
  value = XLOPER{};
  value.xltype = xltypeNil;
  return Call(function, arguments, [&](const auto& answer) { KeepValue(answer, value); }) ==
         xlretSuccess;
}

IDSHEET SheetIdByName(char* name) {
  XLOPER id{};
  bool answered = name != nullptr ? TextCallValue(xlSheetId, id, {TextArgumentOf(name)})
                                  : TextCallValue(xlSheetId, id, {});
  return answered && id.xltype == xltypeRef ? id.val.mref.idSheet : 0;
}

}  // namespace hvt
