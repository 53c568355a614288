// dlopen and dlsym over the Windows loader, for tests written against the
// POSIX one. Paths may use either slash.
#ifndef HVT_TESTS_WINDOWS_DLFCN_H
#define HVT_TESTS_WINDOWS_DLFCN_H

#include <windows.h>

#include <string>

#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_NOLOAD 0x4
#define RTLD_LOCAL 0
#define RTLD_GLOBAL 0x100
#define RTLD_DEFAULT nullptr

inline void* dlopen(const char* path, int flags) {
  if (path == nullptr) return GetModuleHandleA(nullptr);
  std::string native(path);
  for (char& c : native)
    if (c == '/') c = '\\';
  HMODULE module = nullptr;
  // As dlopen does, a handle of a module already loaded counts a reference,
  // so dlclose on it never unloads the module under its loader.
  if ((flags & RTLD_NOLOAD) != 0) {
    if (!GetModuleHandleExA(0, native.c_str(), &module)) return nullptr;
    return module;
  }
  return LoadLibraryA(native.c_str());
}

inline void* dlsym(void* module, const char* name) {
  HMODULE from = module != nullptr ? static_cast<HMODULE>(module)
                                   : GetModuleHandleA(nullptr);
  return reinterpret_cast<void*>(GetProcAddress(from, name));
}

inline int dlclose(void* module) {
  return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : -1;
}

inline const char* dlerror() { return "the Windows loader refused the module"; }

#endif  // HVT_TESTS_WINDOWS_DLFCN_H
