// The SPD tool: its exports, its hooks, and the state its dialog, checks and
// run share.
#ifndef HVT_TOOLS_SPD_SPD_H
#define HVT_TOOLS_SPD_SPD_H

#include <cstddef>

#include "command/results.h"
#include "host/dialog_table.h"
#include "host/references.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt::spd {

extern const ToolHooks kTool;

// ---- Tables (spd_tables.cpp).
constexpr std::size_t kDialogRows = 9;
extern DialogRow g_dialog[kDialogRows];
extern XLOPER g_dialogArray;
extern XLOPER g_remembered;

// Dialog items.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kDepthItem = 6;

constexpr long kMinRows = 32;

// ---- The command's settings, from the dialog to the run.
struct CommandState {
  RefRecord data;
  RefRecord output;
  int depth = 10;
  long offset = 30;      // output rows start this far below the data's first
};
extern CommandState g_command;
extern bool g_dialogChecked;  // the next macro call skips its own checks

// ---- Checks (spd_dialog.cpp).
// The dialog loop: kStepGoOn when the entries were accepted.
int RunSpdDialog();

struct MacroArguments {
  bool dataTaken = false;
  const RefRecord* data = nullptr;
  bool outputTaken = false;
  const RefRecord* output = nullptr;
  int depth = 0;
  long rows = 0;
};
// True when the arguments may be used; else the message has been shown.
bool CheckMacroArguments(MacroArguments& arguments);

}  // namespace hvt::spd

extern "C" {
HVT_EXPORT LPXLOPER WINAPI SPDUP(LPXLOPER dataRef, int depth);
HVT_EXPORT LPXLOPER12 WINAPI SPDUP12(LPXLOPER12 dataRef, int depth);
HVT_EXPORT int WINAPI SpdWrapper(void);
HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth);
}

#endif  // HVT_TOOLS_SPD_SPD_H
