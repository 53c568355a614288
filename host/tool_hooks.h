// The four hooks every tool gives the shell, called in tool order.
#ifndef HVT_HOST_TOOL_HOOKS_H
#define HVT_HOST_TOOL_HOOKS_H

#include "sdk/xlcall.h"

namespace hvt {

struct ToolHooks {
  const char* name;
  // Module load: length bytes of every table text, record headers.
  void (*prepare)();
  // xlAutoOpen: register the tool's rows, add its menu item. 1 or 0.
  int (*open)();
  // xlAutoClose: unregister, delete names, remove menu, free buffers.
  void (*close)();
  // xlAutoRegister: register the row named `name`; false if not ours.
  bool (*registerByName)(LPXLOPER name, LPXLOPER result);
};

}  // namespace hvt

#endif  // HVT_HOST_TOOL_HOOKS_H
