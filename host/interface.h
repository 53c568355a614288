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
// A counted text the caller keeps alive for the call.
template <HostRecord Oper>
Oper TextValue(typename Interface<Oper>::Char* text) {
  Oper value{};
  value.xltype = xltypeStr;
  value.val.str = text;
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

// Copies `count` array cells from one record kind into the other: numbers,
// booleans, errors and integers as they are; a text through
// `copyText(text, index)`, which answers the text as the target keeps it
// (nullptr leaves the cell nil); any other cell nil. The target's cells
// need not be initialised.
template <HostRecord To, HostRecord From, typename CopyText>
void CopyArrayCells(const From* from, To* to, std::size_t count, CopyText&& copyText) {
  for (std::size_t i = 0; i < count; ++i) {
    To& cell = to[i];
    cell = To{};
    cell.xltype = xltypeNil;
    switch (TypeOf(from[i])) {
      case xltypeNum:
        cell.xltype = xltypeNum;
        cell.val.num = from[i].val.num;
        break;
      case xltypeBool:
        cell.xltype = xltypeBool;
        cell.val.xbool = static_cast<decltype(cell.val.xbool)>(from[i].val.xbool);
        break;
      case xltypeErr:
        cell.xltype = xltypeErr;
        cell.val.err = static_cast<decltype(cell.val.err)>(from[i].val.err);
        break;
      case xltypeInt:
        cell.xltype = xltypeInt;
        cell.val.w = static_cast<decltype(cell.val.w)>(from[i].val.w);
        break;
      case xltypeStr:
        if (from[i].val.str != nullptr) {
          if (auto* text = copyText(from[i].val.str, i)) {
            cell.xltype = xltypeStr;
            cell.val.str = text;
          }
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace hvt

#endif  // HVT_HOST_INTERFACE_H
