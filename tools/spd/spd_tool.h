// The SPD tool as the shell sees it: its hooks and worksheet function.
#ifndef HVT_TOOLS_SPD_SPD_TOOL_H
#define HVT_TOOLS_SPD_SPD_TOOL_H

#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {
extern const ToolHooks kSpdTool;
}

extern "C" {
HVT_EXPORT LPXLOPER WINAPI SPDUP(LPXLOPER dataRef, int depth);
}

#endif  // HVT_TOOLS_SPD_SPD_TOOL_H
