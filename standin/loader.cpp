#include "standin/loader.h"

#include "standin/win32_state.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

#ifdef _WIN32
void* LoadModule(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) error = "cannot load " + path;
  else win32::WatchModule(module);
  return module;
}
void* ModuleSymbol(void* module, const std::string& name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name.c_str()));
}
void* ProcessSymbol(const std::string& name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name.c_str()));
}
void UnloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
#else
void* LoadModule(const std::string& path, std::string& error) {
  // A bare name would make the loader search its paths, not the directory.
  std::string target = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    error = why ? why : ("cannot load " + path);
  }
  return module;
}
void* ModuleSymbol(void* module, const std::string& name) { return dlsym(module, name.c_str()); }
void* ProcessSymbol(const std::string& name) { return dlsym(RTLD_DEFAULT, name.c_str()); }
void UnloadModule(void* module) { dlclose(module); }
#endif

}  // namespace standin
