// The add-in as the host sees it: the exported entry points and the walk
// over every tool's hooks in tool order.
#include <iterator>

#include "host/host_values.h"
#include "host/registration.h"
#include "host/tool_hooks.h"
#include "tools/gtn/gtn_tool.h"
#include "tools/klx/klx_tool.h"
#include "tools/spd/spd_tool.h"

namespace hvt {

namespace {

// Tool order: KLX, GTN, decorrelator, SPD, BLK.
const ToolHooks* const kTools[] = {&kKlxTool, &kGtnTool, &kSpdTool};

RegistrationRow g_shellRows[] = {
    {{" fExit", " J", " Quit_HVT", " ", " 2", " HVT", " "}},
    {{" rAbout", " J", " AboutHVT", " ", " 2", " HVT", " "}},
};

XLOPER g_registerResult;

}  // namespace

void PrepareModule() {
  PrepareRegistrationRows(g_shellRows, std::size(g_shellRows));
  for (const ToolHooks* tool : kTools) tool->prepare();
}

}  // namespace hvt

using namespace hvt;

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) PrepareModule();
  return TRUE;
}
#else
__attribute__((constructor)) static void AttachModule() { PrepareModule(); }
#endif

extern "C" {

HVT_EXPORT int WINAPI xlAutoOpen(void) {
  RegisterRows(g_shellRows, std::size(g_shellRows));
  ReadHostVersion();
  for (const ToolHooks* tool : kTools) tool->open();
  return 1;
}

HVT_EXPORT int WINAPI xlAutoClose(void) {
  UnregisterRows(g_shellRows, std::size(g_shellRows));
  for (const ToolHooks* tool : kTools) tool->close();
  return 1;
}

HVT_EXPORT LPXLOPER WINAPI xlAutoRegister(LPXLOPER name) {
  g_registerResult.xltype = xltypeErr;
  g_registerResult.val.err = xlerrValue;
  for (const ToolHooks* tool : kTools) {
    if (tool->registerByName(name, &g_registerResult)) return &g_registerResult;
  }
  RegisterRowByName(g_shellRows, std::size(g_shellRows), name,
                    &g_registerResult);
  return &g_registerResult;
}

HVT_EXPORT int WINAPI fExit(void) { return xlAutoClose(); }

HVT_EXPORT int WINAPI rAbout(void) { return 1; }

}  // extern "C"
