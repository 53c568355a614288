// Plain values, their texts, and the values the host fills for the add-in:
// each such block is tracked until xlFree gives it back.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "standin/host.h"

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
  Host& h = H();
  h.live_values[pointer] = kind;
  h.freed_values.erase(pointer);
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

XLOPER* NewHostArray(int rows, int columns) {
  std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  XLOPER* cells = new XLOPER[n ? n : 1]();
  Track(cells, "array");
  return cells;
}

XLMREF* NewHostRefTable(int count) {
  std::size_t bytes = sizeof(XLMREF) + sizeof(XLREF) * static_cast<std::size_t>(count > 1 ? count - 1 : 0);
  auto* table = static_cast<XLMREF*>(::operator new(bytes));
  std::memset(static_cast<void*>(table), 0, bytes);
  table->count = static_cast<WORD>(count);
  Track(table, "reference");
  return table;
}

void TrackArrayString(const XLOPER* array, char* text) {
  // The string lives and dies with its array: not tracked on its own.
  H().live_values.erase(text);
  H().array_strings[array].push_back(text);
}

namespace {
void Release(const void* pointer, const std::string& kind) {
  Host& h = H();
  if (kind == "string") {
    delete[] static_cast<const char*>(pointer);
  } else if (kind == "array") {
    auto it = h.array_strings.find(pointer);
    if (it != h.array_strings.end()) {
      for (char* s : it->second) delete[] s;
      h.array_strings.erase(it);
    }
    delete[] static_cast<const XLOPER*>(pointer);
  } else {
    ::operator delete(const_cast<void*>(pointer));
  }
}
}  // namespace

int FreeHostValue(XLOPER* value) {
  const void* pointer = nullptr;
  switch (value->xltype & ~(xlbitXLFree | xlbitDLLFree)) {
    case xltypeStr: pointer = value->val.str; break;
    case xltypeMulti: pointer = value->val.array.lparray; break;
    case xltypeRef: pointer = value->val.mref.lpmref; break;
    default: return xlretSuccess;  // nothing held
  }
  if (pointer == nullptr) return xlretSuccess;
  Host& h = H();
  auto it = h.live_values.find(pointer);
  if (it == h.live_values.end()) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    if (h.freed_values.count(pointer)) {
      ++h.double_frees;
      h.problems.push_back(std::string("xlFree twice of ") + text);
    } else {
      ++h.unknown_frees;
      h.problems.push_back(std::string("xlFree of a value the host never filled: ") + text);
    }
    return xlretSuccess;
  }
  std::string kind = it->second;
  h.live_values.erase(it);
  h.freed_values.insert(pointer);
  Release(pointer, kind);
  return xlretSuccess;
}

void FillScalar(XLOPER& out, const Value& value) {
  std::memset(static_cast<void*>(&out), 0, sizeof out);
  if (auto* d = std::get_if<double>(&value)) {
    out.xltype = xltypeNum;
    out.val.num = *d;
  } else if (auto* s = std::get_if<std::string>(&value)) {
    out.xltype = xltypeStr;
    out.val.str = NewHostString(*s);
  } else if (auto* b = std::get_if<bool>(&value)) {
    out.xltype = xltypeBool;
    out.val.xbool = *b ? 1 : 0;
  } else if (auto* e = std::get_if<Error>(&value)) {
    out.xltype = xltypeErr;
    out.val.err = static_cast<WORD>(e->code);
  } else {
    out.xltype = xltypeNil;
  }
}

Value ScalarOf(const XLOPER& x) {
  switch (x.xltype & ~(xlbitXLFree | xlbitDLLFree)) {
    case xltypeNum: return x.val.num;
    case xltypeStr: {
      if (x.val.str == nullptr) return Error{xlerrValue};
      auto n = static_cast<unsigned char>(x.val.str[0]);
      return std::string(x.val.str + 1, n);
    }
    case xltypeBool: return x.val.xbool != 0;
    case xltypeErr: return Error{x.val.err};
    case xltypeInt: return static_cast<double>(x.val.w);
    case xltypeNil:
    case xltypeMissing: return Blank{};
    default: return Error{xlerrValue};
  }
}

}  // namespace standin
