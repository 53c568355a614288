// Plain values, their texts, and the values the host fills for the add-in:
// each such block is tracked until xlFree gives it back.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "standin/host.h"
#include "standin/records.h"

namespace standin {

namespace {
struct ErrorName {
  int code;
  const char* text;
};
constexpr ErrorName kErrors[] = {
    {xlerrNull, "#NULL!"}, {xlerrDiv0, "#DIV/0!"}, {xlerrValue, "#VALUE!"},
    {xlerrRef, "#REF!"},   {xlerrName, "#NAME?"},  {xlerrNum, "#NUM!"},
    {xlerrNA, "#N/A"},
};

void Track(const void* pointer, const char* kind) {
  ValueAccounts& accounts = H().accounts;
  accounts.live_values[pointer] = kind;
  accounts.freed_values.erase(pointer);
}
}  // namespace

std::string ErrorText(int code) {
  for (const auto& e : kErrors)
    if (e.code == code) return e.text;
  return "#ERR?";
}

int ErrorCodeOf(std::string_view text) {
  for (const auto& e : kErrors) {
    std::string_view name = e.text;
    if (name.size() != text.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(text[i])) == name[i];
    if (same) return e.code;
  }
  return -1;
}

bool ValidErrorCode(int code) { return ErrorText(code) != "#ERR?"; }

std::string Describe(const Value& value) {
  struct Visitor {
    std::string operator()(const Blank&) const { return ""; }
    std::string operator()(double d) const {
      char text[32];
      auto result = std::to_chars(text, text + sizeof text, d);
      return std::string(text, result.ptr);
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(bool b) const { return b ? "TRUE" : "FALSE"; }
    std::string operator()(const Error& e) const { return ErrorText(e.code); }
  };
  return std::visit(Visitor{}, value);
}

// Numbers turned into text the way a General-format cell reads: up to 15
// significant digits.
std::string GeneralText(double number) {
  if (number == 0) return "0";
  char text[40];
  std::snprintf(text, sizeof text, "%.15G", number);
  return text;
}

char* NewHostString(std::string_view text) {
  std::size_t n = text.size() > 255 ? 255 : text.size();
  char* s = new char[n + 2];
  s[0] = static_cast<char>(static_cast<unsigned char>(n));
  std::memcpy(s + 1, text.data(), n);
  s[n + 1] = '\0';
  Track(s, "string");
  return s;
}

namespace {
template <typename Oper>
Oper* NewArrayOf(int rows, int columns, const char* kind) {
  std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  Oper* cells = new Oper[n ? n : 1]();
  Track(cells, kind);
  return cells;
}

template <typename Table>
Table* NewRefTableOf(int count, const char* kind) {
  std::size_t bytes = sizeof(Table) + sizeof(Table::reftbl[0]) *
                                          static_cast<std::size_t>(count > 1 ? count - 1 : 0);
  auto* table = static_cast<Table*>(::operator new(bytes));
  std::memset(static_cast<void*>(table), 0, bytes);
  table->count = static_cast<WORD>(count);
  Track(table, kind);
  return table;
}
}  // namespace

void AdviseLongFill(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  if (bytes < 4 * kHugePage) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

XLOPER* NewHostArray(int rows, int columns) { return NewArrayOf<XLOPER>(rows, columns, "array"); }

XLMREF* NewHostRefTable(int count) { return NewRefTableOf<XLMREF>(count, "reference"); }

// ---- The 12-series values: wide strings, 32-bit counts ----

std::u16string WideText(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    char32_t code = 0xFFFD;
    std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > utf8.size()) {
      ++i;  // a byte that starts no sequence reads as one replacement
    } else {
      code = length == 1 ? byte : byte & (0x7F >> length);
      bool ok = true;
      for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(utf8[i + k]);
        ok = ok && (next & 0xC0) == 0x80;
        code = (code << 6) | (next & 0x3F);
      }
      if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
      i += ok ? length : 1;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::string NarrowText(const XCHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // half a pair
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

XCHAR* NewHostWideString(std::string_view utf8) {
  std::u16string wide = WideText(utf8);
  std::size_t n = std::min<std::size_t>(wide.size(), kXl12MaxStringLength);
  XCHAR* s = new XCHAR[n + 2];
  s[0] = static_cast<XCHAR>(n);
  std::memcpy(s + 1, wide.data(), n * sizeof(XCHAR));
  s[n + 1] = 0;
  Track(s, "wide string");
  return s;
}

XLOPER12* NewHostArray12(int rows, int columns) {
  return NewArrayOf<XLOPER12>(rows, columns, "wide array");
}

XLMREF12* NewHostRefTable12(int count) { return NewRefTableOf<XLMREF12>(count, "wide reference"); }

void FillScalar12(XLOPER12& out, const Value& value, const XLOPER12* array) {
  SetScalar(out, value, NewHostWideString);
  if (array != nullptr && RecordType(out) == xltypeStr) {
    // The string lives and dies with its array.
    H().accounts.live_values.erase(out.val.str);
    H().accounts.array_wide_strings[array].push_back(out.val.str);
  }
}

Value ScalarOf12(const XLOPER12& x) { return ScalarValue(x); }

void TrackArrayString(const XLOPER* array, char* text) {
  // The string lives and dies with its array: not tracked on its own.
  H().accounts.live_values.erase(text);
  H().accounts.array_strings[array].push_back(text);
}

void KeepArrayCells(const XLOPER* array, std::size_t count) {
  H().accounts.array_cells[array].assign(array, array + count);
}

namespace {
// Excel frees an array's strings by what its cells say when it gets the
// array back: a cell turned from a string into a number leaks the string, a
// string pointer replaced frees memory Excel never allocated.
void CheckArrayCells(const void* pointer) {
  ValueAccounts& accounts = H().accounts;
  auto it = accounts.array_cells.find(pointer);
  if (it == accounts.array_cells.end()) return;
  const auto* cells = static_cast<const XLOPER*>(pointer);
  bool same = true;
  for (std::size_t i = 0; i < it->second.size() && same; ++i)
    same = std::memcmp(&cells[i], &it->second[i], sizeof(XLOPER)) == 0;
  accounts.array_cells.erase(it);
  if (same) return;
  ++accounts.changed_arrays;
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  accounts.problems.push_back(std::string("xlFree of a host array whose cells were changed: ") + text);
}

void Release(const void* pointer, const std::string& kind) {
  ValueAccounts& accounts = H().accounts;
  if (kind == "string") {
    delete[] static_cast<const char*>(pointer);
  } else if (kind == "wide string") {
    delete[] static_cast<const XCHAR*>(pointer);
  } else if (kind == "array") {
    CheckArrayCells(pointer);
    auto it = accounts.array_strings.find(pointer);
    if (it != accounts.array_strings.end()) {
      for (char* s : it->second) delete[] s;
      accounts.array_strings.erase(it);
    }
    delete[] static_cast<const XLOPER*>(pointer);
  } else if (kind == "wide array") {
    auto it = accounts.array_wide_strings.find(pointer);
    if (it != accounts.array_wide_strings.end()) {
      for (XCHAR* s : it->second) delete[] s;
      accounts.array_wide_strings.erase(it);
    }
    delete[] static_cast<const XLOPER12*>(pointer);
  } else {
    ::operator delete(const_cast<void*>(pointer));
  }
}
}  // namespace

int FreeHostValue(XLOPER* value) { return FreeTracked(HeldBlock(*value)); }

int FreeHostValue12(XLOPER12* value) { return FreeTracked(HeldBlock(*value)); }

int FreeTracked(const void* pointer) {
  if (pointer == nullptr) return xlretSuccess;
  ValueAccounts& accounts = H().accounts;
  auto it = accounts.live_values.find(pointer);
  if (it == accounts.live_values.end()) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    if (accounts.freed_values.count(pointer)) {
      ++accounts.double_frees;
      accounts.problems.push_back(std::string("xlFree twice of ") + text);
    } else {
      ++accounts.unknown_frees;
      accounts.problems.push_back(std::string("xlFree of a value the host never filled: ") + text);
    }
    return xlretSuccess;
  }
  std::string kind = it->second;
  accounts.live_values.erase(it);
  accounts.freed_values.insert(pointer);
  Release(pointer, kind);
  return xlretSuccess;
}

void FillScalar(XLOPER& out, const Value& value) { SetScalar(out, value, NewHostString); }

Value ScalarOf(const XLOPER& x) { return ScalarValue(x); }

}  // namespace standin
