// The add-in's own tables and the tool walk, reachable by tests.
#ifndef HVT_SHELL_SHELL_H
#define HVT_SHELL_SHELL_H

#include <cstddef>

#include "host/dialog_table.h"
#include "host/menus.h"
#include "host/registration.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {

// The tools in tool order (KLX, GTN, decorrelator, SPD, BLK), as far as
// they exist.
extern const ToolHooks* const kShellTools[];
extern const std::size_t kShellToolCount;

extern RegistrationRow g_shellRows[2];
extern MenuBlock g_aboutMenu;
extern DialogRow g_aboutDialog[7];
extern XLOPER g_aboutArray;

// Module load: every table's length bytes, every tool's prepare hook.
void PrepareModule();
// Sets the About array record's shape; done on every module notification.
void SetAboutArrayShape();

}  // namespace hvt

extern "C" {
HVT_EXPORT int WINAPI xlAutoOpen(void);
HVT_EXPORT int WINAPI xlAutoClose(void);
HVT_EXPORT LPXLOPER WINAPI xlAutoRegister(LPXLOPER name);
HVT_EXPORT int WINAPI xlAutoAdd(void);
HVT_EXPORT int WINAPI xlAutoRemove(void);
HVT_EXPORT LPXLOPER WINAPI xlAddInManagerInfo(LPXLOPER action);
HVT_EXPORT int WINAPI rAbout(void);
HVT_EXPORT int WINAPI fExit(void);
}

#endif  // HVT_SHELL_SHELL_H
