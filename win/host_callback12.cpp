// The host program's MdCallBack12. Excel's own process exports this entry,
// and the Excel12v every module carries looks it up there by name
// (GetProcAddress on the process's main module), not in XLCALL32.DLL. A
// Windows program that hosts the stand-in (hvt.exe, the test programs)
// exports it the same way and hands each call to the stand-in's entry.
#include <windows.h>

#include "sdk/xlcall.h"

namespace {

Excel12EntryPoint StandinEntry() {
  static Excel12EntryPoint entry = [] {
    HMODULE standin = GetModuleHandleA("XLCALL32.dll");
    return standin == nullptr
               ? nullptr
               // Through void (*)(void): the cast from GetProcAddress's one
               // procedure type to the real one is meant.
               : reinterpret_cast<Excel12EntryPoint>(reinterpret_cast<void (*)(void)>(
                     GetProcAddress(standin, "MdCallBack12")));
  }();
  return entry;
}

}  // namespace

extern "C" __declspec(dllexport) int XLCALL_STDCALL MdCallBack12(
    int xlfn, int count, LPXLOPER12 opers[], LPXLOPER12 operRes) {
  Excel12EntryPoint entry = StandinEntry();
  return entry == nullptr ? xlretFailed : entry(xlfn, count, opers, operRes);
}
