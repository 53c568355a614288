// The GTN menu command's state shared with the tool's tables: its dialog
// table, the array built from it and the last dialog answer.
#ifndef HVT_TOOLS_GTN_GTN_COMMAND_H
#define HVT_TOOLS_GTN_GTN_COMMAND_H

#include <cstddef>

#include "host/dialog_table.h"
#include "sdk/xlcall.h"

namespace hvt::gtn_command {

constexpr std::size_t kDialogRows = 18;
extern DialogRow g_dialog[kDialogRows];
extern XLOPER g_dialogArray;
extern XLOPER g_remembered;

// Module load: the command's reference records.
void PrepareCommand();

}  // namespace hvt::gtn_command

extern "C" {
HVT_EXPORT short WINAPI GTNWrapper(void);
HVT_EXPORT int WINAPI GTN_func(LPXLOPER dataRef, LPXLOPER outputRef,
                               int smoothness, int span, int firstrow);
}

#endif  // HVT_TOOLS_GTN_GTN_COMMAND_H
