// Excel12 and Excel12v as every module carries them: the host's 12-series
// entry is looked up by name in the host process the first time it is
// needed, and a host without one (before version 12) answers xlretFailed.
#include <cstdarg>

#include "sdk/xlcall.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

Excel12EntryPoint HostEntry() {
  static Excel12EntryPoint entry = nullptr;
  if (entry == nullptr) {
#ifdef _WIN32
    // GetProcAddress answers every procedure as one fixed type; going
    // through void (*)(void) says the cast to the real type is meant.
    entry = reinterpret_cast<Excel12EntryPoint>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA(nullptr), "MdCallBack12")));
#else
    entry = reinterpret_cast<Excel12EntryPoint>(dlsym(RTLD_DEFAULT, "MdCallBack12"));
#endif
  }
  return entry;
}

}  // namespace

extern "C" int XLCALL_STDCALL Excel12v(int xlfn, LPXLOPER12 operRes, int count,
                                       LPXLOPER12 opers[]) {
  Excel12EntryPoint entry = HostEntry();
  if (entry == nullptr) return xlretFailed;
  return entry(xlfn, count, opers, operRes);
}

extern "C" int XLCALL_CDECL Excel12(int xlfn, LPXLOPER12 operRes, int count, ...) {
  if (count < 0 || count > kXl12MaxArguments) return xlretInvCount;
  LPXLOPER12 opers[kXl12MaxArguments];
  va_list list;
  va_start(list, count);
  for (int i = 0; i < count; ++i) opers[i] = va_arg(list, LPXLOPER12);
  va_end(list);
  return Excel12v(xlfn, operRes, count, opers);
}
