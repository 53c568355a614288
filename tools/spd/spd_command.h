// The SPD menu command's state shared with the tool's tables: its dialog
// table, the array built from it and the last dialog answer.
#ifndef HVT_TOOLS_SPD_SPD_COMMAND_H
#define HVT_TOOLS_SPD_SPD_COMMAND_H

#include <cstddef>

#include "host/dialog_table.h"
#include "sdk/xlcall.h"

namespace hvt::spd_command {

constexpr std::size_t kDialogRows = 9;
extern DialogRow g_dialog[kDialogRows];
extern XLOPER g_dialogArray;
extern XLOPER g_remembered;

// Module load: the command's reference records.
void PrepareCommand();

}  // namespace hvt::spd_command

extern "C" {
HVT_EXPORT int WINAPI SpdWrapper(void);
HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth);
}

#endif  // HVT_TOOLS_SPD_SPD_COMMAND_H
