// The KLX tool as the shell sees it: its hooks, worksheet function, menu
// command and macros.
#ifndef HVT_TOOLS_KLX_KLX_TOOL_H
#define HVT_TOOLS_KLX_KLX_TOOL_H

#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {
extern const ToolHooks kKlxTool;
}

extern "C" {
HVT_EXPORT LPXLOPER WINAPI KLXUP(LPXLOPER dataRef, double* smoothness,
                                 double* phase);
// The Data-menu command: dialog, checks, then one of the two macros. 1.
HVT_EXPORT int WINAPI KLXWrapper(void);
// The macros: 1 done, 0 a check failed or memory ran out, -1 the data held
// a non-number or the user stopped.
HVT_EXPORT int WINAPI KLX(LPXLOPER dataRef, LPXLOPER outputRef,
                          double* smoothness, double* phase);
HVT_EXPORT int WINAPI HalPQEX(LPXLOPER dataRef, LPXLOPER outputRef,
                              double* smoothness);
}

#endif  // HVT_TOOLS_KLX_KLX_TOOL_H
