// The SPD tool: its exports, its hooks, and the state its dialog, checks and
// run share.
#ifndef HVT_TOOLS_SPD_SPD_H
#define HVT_TOOLS_SPD_SPD_H

#include <cstddef>

#include "command/results.h"
#include "host/interface.h"
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
  // The same records on a host of version 12 or later.
  RefRecord12 data12;
  RefRecord12 output12;
  int depth = 10;
  long offset = 30;      // output rows start this far below the data's first
};
extern CommandState g_command;
extern bool g_dialogChecked;  // the next macro call skips its own checks

// The command's records of the interface it runs on.
template <HostRecord Oper>
RefRecordOf<Oper>& InputRecord();
template <HostRecord Oper>
RefRecordOf<Oper>& OutputRecord();

// ---- Checks (spd_dialog.cpp).
// The dialog loop: kStepGoOn when the entries were accepted.
int RunSpdDialog();

template <HostRecord Oper>
struct MacroArguments {
  bool dataTaken = false;
  const RefRecordOf<Oper>* data = nullptr;
  bool outputTaken = false;
  const RefRecordOf<Oper>* output = nullptr;
  int depth = 0;
  long rows = 0;
};
// True when the arguments may be used; else the message has been shown.
template <HostRecord Oper>
bool CheckMacroArguments(MacroArguments<Oper>& arguments);

}  // namespace hvt::spd

extern "C" {
HVT_EXPORT LPXLOPER WINAPI SPDUP(LPXLOPER dataRef, int depth);
HVT_EXPORT LPXLOPER12 WINAPI SPDUP12(LPXLOPER12 dataRef, int depth);
HVT_EXPORT int WINAPI SpdWrapper(void);
HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth);
// The macro through the 12-series, registered in its place on hosts of
// version 12 and later.
HVT_EXPORT int WINAPI Spd12(LPXLOPER12 dataRef, LPXLOPER12 outputRef, int depth);
}

#endif  // HVT_TOOLS_SPD_SPD_H
