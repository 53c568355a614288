// Loading add-in modules: the one place that knows the platform's loader.
#ifndef HVT_STANDIN_LOADER_H
#define HVT_STANDIN_LOADER_H

#include <string>

namespace standin {

// A handle, or null with a message in error.
void* LoadModule(const std::string& path, std::string& error);
void* ModuleSymbol(void* module, const std::string& name);
// Exported symbols of the running program and the libraries it loaded.
void* ProcessSymbol(const std::string& name);
void UnloadModule(void* module);

}  // namespace standin

#endif  // HVT_STANDIN_LOADER_H
