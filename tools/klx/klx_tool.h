// The KLX tool as the shell sees it: its hooks and worksheet function.
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
}

#endif  // HVT_TOOLS_KLX_KLX_TOOL_H
