// Internal view of the Win32 layer's state: block accounting, failure
// injection and the window list, for the rest of the stand-in.
#ifndef HVT_STANDIN_WIN32_STATE_H
#define HVT_STANDIN_WIN32_STATE_H

#include <string>
#include <vector>

#include "sdk/win32.h"

namespace standin::win32 {

struct MemoryCounts {
  long long blocks = 0;
  long long bytes = 0;
  int bad_frees = 0;
  std::vector<std::string> problems;
};

// The ledger of global and local blocks both platforms keep
// (win32_ledger.cpp), by handle.
void TrackBlock(HANDLE handle, SIZE_T bytes, bool local);
// Forgets a live block. False, with a problem noted, for a handle that is
// none: the platform must then not free it.
bool UntrackBlock(HANDLE handle, const char* call);
void ResizeBlock(HANDLE handle, SIZE_T bytes);  // a live block resized in place
bool BlockTracked(HANDLE handle);
// Hands every live block to `release` (may be nullptr), then forgets them
// all, the frees counted and the failure countdown included.
void ForgetBlocks(void (*release)(HANDLE handle, bool local));

MemoryCounts Memory();
void ResetMemory();  // forgets every block (their memory is released)
void FailAllocation(int k);
// Counts one allocation against the countdown FailAllocation set; true when
// it is the one to fail. Global, local and (in a test build) C++ allocations
// share the countdown.
bool TakeInjectedFailure();
// Whether the countdown has not yet run out.
bool FailurePending();
#ifdef _WIN32
// Counts a loaded module's global and local memory calls (import table).
void WatchModule(void* module);
#endif

struct Window {
  HWND handle;
  std::string class_name;
  HWND parent;
};
HWND MainWindow();
HWND AddWindow(const std::string& class_name, HWND parent);
bool RemoveWindow(HWND window);
void ResetWindows();

}  // namespace standin::win32

#endif  // HVT_STANDIN_WIN32_STATE_H
