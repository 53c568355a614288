// The decorrelator as the shell and the host see it: its hooks, its menu
// command, its macro procedure and its worksheet function.
#ifndef HVT_TOOLS_DECOR_DECOR_TOOL_H
#define HVT_TOOLS_DECOR_DECOR_TOOL_H

#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt {
extern const ToolHooks kDecorTool;
}

extern "C" {
// The menu command (function text "Decorel"); always 1.
HVT_EXPORT int WINAPI DecWrapper();
// The macro procedure (function text "DecMacro"): 1 done, 0 a check failed
// or memory ran out, -1 a non-number, a stop or no convergence.
HVT_EXPORT int WINAPI Decor(LPXLOPER dataRef, LPXLOPER outputRef,
                            short updateBool);
// One component of one data row from the stored coefficients.
HVT_EXPORT LPXLOPER WINAPI UpdateUCX(LPXLOPER coeffRef, LPXLOPER dataRef);
}

#endif  // HVT_TOOLS_DECOR_DECOR_TOOL_H
