// The BLK tool as the shell sees it: its hooks, its menu command and the
// macro that writes the block columns.
#ifndef HVT_TOOLS_BLK_BLK_TOOL_H
#define HVT_TOOLS_BLK_BLK_TOOL_H

#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {
extern const ToolHooks kBlkTool;
}

extern "C" {
HVT_EXPORT int WINAPI BlokWrapper(void);
HVT_EXPORT int WINAPI Blok(LPXLOPER dataRef, LPXLOPER outputRef,
                           LPXLOPER titlesRef, int mnIndex, int method,
                           int normalization);
}

#endif  // HVT_TOOLS_BLK_BLK_TOOL_H
