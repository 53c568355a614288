// The stand-in's Win32 state on Windows, where the add-in calls the real
// kernel32 and user32. Windows are real windows (the host's main window and
// the dialogs tests open), so HostDialogOpen runs against EnumWindows itself.
// The add-in's global and local memory calls are redirected, in the loaded
// module's import table only, to wrappers that count every block and can be
// told to fail, then call the real functions: leak checks and failure
// injection work as on other platforms.
#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin/win32_state.h"

namespace standin::win32 {
namespace {

HGLOBAL WINAPI CountedGlobalAlloc(UINT flags, SIZE_T bytes) {
  if (TakeInjectedFailure()) return nullptr;
  HGLOBAL handle = GlobalAlloc(flags, bytes);
  if (handle != nullptr) TrackBlock(handle, bytes, false);
  return handle;
}

HGLOBAL WINAPI CountedGlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  if (TakeInjectedFailure()) return nullptr;
  HGLOBAL handle = GlobalReAlloc(mem, bytes, flags);
  if (handle != nullptr && BlockTracked(mem)) {
    UntrackBlock(mem, "GlobalReAlloc");
    TrackBlock(handle, GlobalSize(handle), false);
  }
  return handle;
}

HGLOBAL WINAPI CountedGlobalFree(HGLOBAL mem) {
  if (mem == nullptr) return nullptr;
  if (!UntrackBlock(mem, "GlobalFree")) return mem;
  return GlobalFree(mem);
}

HLOCAL WINAPI CountedLocalAlloc(UINT flags, SIZE_T bytes) {
  if (TakeInjectedFailure()) return nullptr;
  HLOCAL handle = LocalAlloc(flags, bytes);
  if (handle != nullptr) TrackBlock(handle, bytes, true);
  return handle;
}

HLOCAL WINAPI CountedLocalFree(HLOCAL mem) {
  if (mem == nullptr) return nullptr;
  if (!UntrackBlock(mem, "LocalFree")) return mem;
  return LocalFree(mem);
}

struct Redirect {
  const char* name;
  void* target;
};

const Redirect kRedirects[] = {
    {"GlobalAlloc", reinterpret_cast<void*>(&CountedGlobalAlloc)},
    {"GlobalReAlloc", reinterpret_cast<void*>(&CountedGlobalReAlloc)},
    {"GlobalFree", reinterpret_cast<void*>(&CountedGlobalFree)},
    {"LocalAlloc", reinterpret_cast<void*>(&CountedLocalAlloc)},
    {"LocalFree", reinterpret_cast<void*>(&CountedLocalFree)},
};

void* RedirectFor(const char* name) {
  for (const Redirect& r : kRedirects)
    if (std::strcmp(r.name, name) == 0) return r.target;
  return nullptr;
}

// ---- Windows ----

constexpr char kMainClass[] = "XLMAIN";

struct WindowState {
  HWND main = nullptr;
  std::vector<HWND> opened;  // by tests, newest last
  std::set<std::string> classes;
};

WindowState& Win() {
  static WindowState state;
  return state;
}

bool EnsureClass(const std::string& name) {
  WindowState& w = Win();
  if (w.classes.count(name) != 0) return true;
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = name.c_str();
  if (RegisterClassA(&window_class) == 0 &&
      GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  w.classes.insert(name);
  return true;
}

}  // namespace

void WatchModule(void* module) {
  auto* base = static_cast<BYTE*>(module);
  if (base == nullptr) return;
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
           base + directory.VirtualAddress);
       library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name),
                  "kernel32.dll") != 0) {
      continue;
    }
    DWORD names_at = library->OriginalFirstThunk != 0
                         ? library->OriginalFirstThunk
                         : library->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + names_at);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(
          base + names->u1.AddressOfData);
      void* target = RedirectFor(reinterpret_cast<const char*>(by_name->Name));
      if (target == nullptr) continue;
      DWORD old_protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function,
                          PAGE_READWRITE, &old_protection)) {
        continue;
      }
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(target);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function,
                     old_protection, &old_protection);
    }
  }
}

void ResetMemory() {
  ForgetBlocks([](HANDLE handle, bool local) {
    if (local) {
      LocalFree(handle);
    } else {
      GlobalFree(handle);
    }
  });
}

HWND MainWindow() {
  WindowState& w = Win();
  if (w.main == nullptr && EnsureClass(kMainClass)) {
    w.main = CreateWindowExA(0, kMainClass, "Microsoft Excel", WS_OVERLAPPEDWINDOW,
                             0, 0, 640, 480, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  }
  return w.main;
}

// A popup owned by `parent`: GetParent answers the owner of a popup, as it
// does for Excel's dialog windows.
HWND AddWindow(const std::string& class_name, HWND parent) {
  if (class_name.empty() || !EnsureClass(class_name)) return nullptr;
  HWND window = CreateWindowExA(0, class_name.c_str(), "", WS_POPUP, 0, 0, 100, 100,
                                parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr) Win().opened.push_back(window);
  return window;
}

bool RemoveWindow(HWND window) {
  auto& opened = Win().opened;
  for (auto it = opened.begin(); it != opened.end(); ++it) {
    if (*it == window) {
      opened.erase(it);
      DestroyWindow(window);
      return true;
    }
  }
  return false;
}

void ResetWindows() {
  auto& opened = Win().opened;
  // Newest first: an owner outlives the windows it owns.
  while (!opened.empty()) {
    DestroyWindow(opened.back());
    opened.pop_back();
  }
}

}  // namespace standin::win32

#endif  // _WIN32
