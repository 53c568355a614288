#include "host/host_values.h"

#include <cstdarg>
#include <cstring>

namespace hvt {

namespace {

alignas(16) unsigned char g_tempPool[kTempPoolSize];
std::uint16_t g_tempOffset = 0;

LPXLOPER TempValue() {
  return static_cast<LPXLOPER>(AllocTemp(sizeof(XLOPER)));
}

}  // namespace

// ---- Temporary values -------------------------------------------------------

void* AllocTemp(std::size_t size) {
  if (size > kTempPoolSize || g_tempOffset + size > kTempPoolSize) return nullptr;
  void* address = g_tempPool + g_tempOffset;
  std::size_t next = g_tempOffset + size;
  if (next % 2 != 0) ++next;  // keep the next value 2-byte aligned
  g_tempOffset = static_cast<std::uint16_t>(next);
  return address;
}

void ResetTemp() { g_tempOffset = 0; }

std::size_t TempFillOffset() { return g_tempOffset; }

LPXLOPER TempNumber(double value) {
  LPXLOPER x = TempValue();
  if (x == nullptr) return nullptr;
  x->xltype = xltypeNum;
  x->val.num = value;
  return x;
}

LPXLOPER TempString(char* text) {
  LPXLOPER x = TempValue();
  if (x == nullptr) return nullptr;
  std::size_t length = strnlen(text + 1, 255);
  text[0] = static_cast<char>(length);
  x->xltype = xltypeStr;
  x->val.str = text;
  return x;
}

LPXLOPER TempBoolean(short value) {
  LPXLOPER x = TempValue();
  if (x == nullptr) return nullptr;
  x->xltype = xltypeBool;
  x->val.xbool = value != 0 ? 1 : 0;
  return x;
}

LPXLOPER TempInteger(short value) {
  LPXLOPER x = TempValue();
  if (x == nullptr) return nullptr;
  x->xltype = xltypeInt;
  x->val.w = value;
  return x;
}

LPXLOPER TempMissing() {
  LPXLOPER x = TempValue();
  if (x == nullptr) return nullptr;
  x->xltype = xltypeMissing;
  return x;
}

int CallExcel(int function, LPXLOPER result, int count, ...) {
  constexpr int kMaxArguments = 30;
  if (count < 0 || count > kMaxArguments) {
    ResetTemp();
    return xlretInvCount;
  }
  LPXLOPER arguments[kMaxArguments];
  bool complete = true;
  va_list list;
  va_start(list, count);
  for (int i = 0; i < count; ++i) {
    arguments[i] = va_arg(list, LPXLOPER);
    if (arguments[i] == nullptr) complete = false;
  }
  va_end(list);
  // A temporary that did not fit in the pool arrives as a null pointer:
  // never hand the host a call with a hole in it.
  int code = complete ? Excel4v(function, result, count, arguments)
                      : xlretInvXloper;
  ResetTemp();
  return code;
}

// ---- Host version -----------------------------------------------------------

double g_menuBar = 0;
double g_hostVersion = 0;
short g_versionRead = 0;
std::int32_t g_maxRows = 0;

namespace {

// The whole integer part of the host's version text ("4.0" is 4, "16.0" is
// 16; a letter after the number, as in "5.0c", is ignored); 0 when the host
// does not answer or the text does not start with a digit.
double ReadVersionNumber() {
  XLOPER text{};
  if (CallExcel(xlfGetWorkspace, &text, 1, TempNumber(2)) != xlretSuccess) {
    return 0;
  }
  double version = 0;
  if (BaseType(text) == xltypeStr && text.val.str != nullptr) {
    const auto* counted = reinterpret_cast<const unsigned char*>(text.val.str);
    for (unsigned i = 1; i <= counted[0] && counted[i] >= '0' && counted[i] <= '9'; ++i) {
      version = version * 10 + (counted[i] - '0');
    }
  }
  Excel4(xlFree, nullptr, 1, &text);
  return version;
}

}  // namespace

void ReadMaxRows() {
  g_maxRows = ReadVersionNumber() >= 8 ? 65536 : 16384;
}

void ReadHostVersion() {
  if (g_maxRows == 0) ReadMaxRows();
  g_hostVersion = ReadVersionNumber();
  g_menuBar = g_hostVersion < 5 ? 1 : 10;
  g_versionRead = 1;
}

// ---- Global memory ----------------------------------------------------------

void* AllocGlobal(std::size_t bytes) {
  HGLOBAL handle = GlobalAlloc(GMEM_ZEROINIT | GMEM_MOVEABLE, bytes);
  if (handle == nullptr) return nullptr;
  void* pointer = GlobalLock(handle);
  if (pointer == nullptr) GlobalFree(handle);
  return pointer;
}

void FreeGlobalBlock(const void* pointer) {
  if (pointer == nullptr) return;
  HGLOBAL handle = GlobalHandle(pointer);
  if (handle == nullptr) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

// ---- Host dialogs -----------------------------------------------------------

namespace {

struct DialogSearch {
  std::uint32_t hostWindow;
  std::uint32_t handleBits;  // the part of a handle the host's answer holds
  bool found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  char name[51] = {};
  int length = GetClassNameA(window, name, sizeof(name));
  if (length <= 0) return TRUE;
  static const char kDialogClass[] = "bosa_sdm_XL";
  int compared = length > 11 ? 11 : length;
  if (CompareStringA(1033, NORM_IGNORECASE, name, compared, kDialogClass, 11) !=
      CSTR_EQUAL) {
    return TRUE;
  }
  auto parent = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(GetParent(window)) & search->handleBits);
  if (parent == search->hostWindow) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool HostDialogOpen() {
  XLOPER hwnd{};
  if (Excel4(xlGetHwnd, &hwnd, 0) != xlretSuccess) return false;
  DialogSearch search{static_cast<std::uint16_t>(hwnd.val.w), 0xFFFF, false};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HostDialogOpen12() {
  XLOPER12 hwnd{};
  if (Excel12(xlGetHwnd, &hwnd, 0) != xlretSuccess) return false;
  DialogSearch search{static_cast<std::uint32_t>(hwnd.val.w), 0xFFFFFFFF, false};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void ReleaseHostValue(XLOPER& value) {
  Excel4(xlFree, nullptr, 1, &value);
  value.xltype = xltypeNil;
}

}  // namespace hvt

extern "C" HVT_EXPORT void WINAPI xlAutoFree(LPXLOPER value) {
  if (value == nullptr) return;
  if ((value->xltype & xltypeMulti) != 0) {
    hvt::FreeGlobal(value->val.array.lparray);
  }
}

extern "C" HVT_EXPORT void WINAPI xlAutoFree12(LPXLOPER12 value) {
  if (value == nullptr) return;
  if ((value->xltype & xltypeMulti) != 0) {
    hvt::FreeGlobal(value->val.array.lparray);
  }
}
