// A module that breaks the host's accounting on purpose, for the session
// check: it keeps a value the host filled, gives another back twice, and
// keeps a memory block after it is closed.
#include "sdk/xlcall.h"

namespace {
XLOPER g_kept{};
void* g_block = nullptr;
}  // namespace

extern "C" HVT_EXPORT int WINAPI xlAutoOpen() {
  XLOPER two{};
  two.xltype = xltypeNum;
  two.val.num = 2;
  Excel4(xlfGetWorkspace, &g_kept, 1, &two);  // never given back
  XLOPER twice{};
  if (Excel4(xlfGetWorkspace, &twice, 1, &two) == xlretSuccess) {
    // xlFree leaves the value's pointer null; a copy still holds it.
    XLOPER copy = twice;
    Excel4(xlFree, nullptr, 1, &twice);
    Excel4(xlFree, nullptr, 1, &copy);
  }
  g_block = GlobalAlloc(GMEM_FIXED, 64);  // never freed
  return 1;
}

extern "C" HVT_EXPORT int WINAPI xlAutoClose() { return 1; }
