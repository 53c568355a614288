// The GTN tool as the shell sees it: its hooks and worksheet function.
#ifndef HVT_TOOLS_GTN_GTN_TOOL_H
#define HVT_TOOLS_GTN_GTN_TOOL_H

#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {
extern const ToolHooks kGtnTool;
}

extern "C" {
HVT_EXPORT LPXLOPER WINAPI GTNUP(LPXLOPER dataRef, int smoothness, int span);
}

#endif  // HVT_TOOLS_GTN_GTN_TOOL_H
