// The two value records the add-in talks to its host in, and the few calls
// every shared step makes through either: the 4-series XLOPER with Excel4v,
// 16-bit rows and byte texts; the 12-series XLOPER12 with Excel12v, the big
// sheet and UTF-16 texts.
#ifndef HVT_HOST_INTERFACE_H
#define HVT_HOST_INTERFACE_H

#include <concepts>
#include <cstddef>
#include <cstdint>

#include "sdk/xlcall.h"

namespace hvt {

template <typename Oper>
struct Interface;
template <>
struct Interface<XLOPER> {
  using Char = char;
  using Ref = XLREF;
  using Table = XLMREF;
  static constexpr std::size_t kMaxArrayRows = 0xFFFF;  // a 16-bit count
  static int Call(int function, XLOPER* result, int count, XLOPER** args) {
    return Excel4v(function, result, count, args);
  }
};
template <>
struct Interface<XLOPER12> {
  using Char = XCHAR;
  using Ref = XLREF12;
  using Table = XLMREF12;
  static constexpr std::size_t kMaxArrayRows = kXl12MaxRows;
  static int Call(int function, XLOPER12* result, int count, XLOPER12** args) {
    return Excel12v(function, result, count, args);
  }
};

template <typename Oper>
concept HostRecord = std::same_as<Oper, XLOPER> || std::same_as<Oper, XLOPER12>;

// A record's type without the bits that say who frees it.
template <HostRecord Oper>
inline DWORD TypeOf(const Oper& value) {
  return value.xltype & ~static_cast<DWORD>(xlbitXLFree | xlbitDLLFree);
}

// Calls the host with arguments of the record's own kind (none null).
template <HostRecord Oper, typename... Arguments>
int HostCall(int function, Oper* result, Arguments*... arguments) {
  Oper* list[] = {arguments..., nullptr};
  return Interface<Oper>::Call(function, result, static_cast<int>(sizeof...(arguments)),
                               list);
}

// Gives back a value the host filled (xlFree) and leaves it nil.
template <HostRecord Oper>
void GiveBack(Oper& value) {
  HostCall(xlFree, static_cast<Oper*>(nullptr), &value);
  value = Oper{};
  value.xltype = xltypeNil;
}

// Argument values kept on the caller's stack.
template <HostRecord Oper>
Oper NumberValue(double number) {
  Oper value{};
  value.xltype = xltypeNum;
  value.val.num = number;
  return value;
}
template <HostRecord Oper>
Oper BooleanValue(bool on) {
  Oper value{};
  value.xltype = xltypeBool;
  value.val.xbool = on ? 1 : 0;
  return value;
}
template <HostRecord Oper>
Oper IntegerValue(int number) {
  Oper value{};
  value.xltype = xltypeInt;
  value.val.w = static_cast<decltype(value.val.w)>(number);
  return value;
}
template <HostRecord Oper>
Oper MissingValue() {
  Oper value{};
  value.xltype = xltypeMissing;
  return value;
}

// Whether the host answered TRUE.
template <HostRecord Oper>
bool IsTrue(const Oper& value) {
  return TypeOf(value) == xltypeBool && value.val.xbool != 0;
}

}  // namespace hvt

#endif  // HVT_HOST_INTERFACE_H
