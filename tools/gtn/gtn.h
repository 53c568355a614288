// The GTN tool: its exports, its hooks, and the state its dialog, checks and
// run share.
#ifndef HVT_TOOLS_GTN_GTN_H
#define HVT_TOOLS_GTN_GTN_H

#include <concepts>
#include <cstddef>

#include "command/results.h"
#include "host/interface.h"
#include "host/dialog_table.h"
#include "host/references.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt::gtn {

extern const ToolHooks kTool;

// ---- Tables (gtn_tables.cpp).
constexpr std::size_t kDialogRows = 18;
extern DialogRow g_dialog[kDialogRows];
extern XLOPER g_dialogArray;
extern XLOPER g_remembered;

// Dialog items.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kSmoothnessItem = 6;
constexpr short kFirstSpanItem = 10;
constexpr short kOptionItem = 15;

constexpr int kSpans[4] = {24, 48, 96, 192};
constexpr long kMinRows = 32;

// The sheet's last column as a record of this kind addresses it.
template <HostRecord Oper>
constexpr long LastColumn() {
  return std::same_as<Oper, XLOPER12> ? kXl12MaxColumns - 1L : 255L;
}

// ---- The command's settings, from the dialog to the run.
struct CommandState {
  RefRecord data;
  RefRecord output;
  // The same records on a host of version 12 or later.
  RefRecord12 data12;
  RefRecord12 output12;
  int smoothness = 10;
  bool spanChosen[4] = {true, false, false, false};
  int spanCount = 1;
  int longestSpan = 24;
  bool together = false;
};
extern CommandState g_command;
extern bool g_dialogChecked;  // the next macro call skips its own checks

// The command's records of the interface it runs on.
template <HostRecord Oper>
RefRecordOf<Oper>& InputRecord();
template <HostRecord Oper>
RefRecordOf<Oper>& OutputRecord();

// ---- Checks (gtn_dialog.cpp).
// The dialog loop: kStepGoOn when the entries were accepted.
int RunGtnDialog();

// The macro's arguments, checked when it is called without the dialog.
template <HostRecord Oper>
struct MacroArguments {
  bool dataTaken = false;
  const RefRecordOf<Oper>* data = nullptr;
  bool outputTaken = false;
  const RefRecordOf<Oper>* output = nullptr;
  int smoothness = 0;
  int span = 0;
  int firstRow = 0;
  long rows = 0;
};
// True when the arguments may be used; else the message has been shown.
template <HostRecord Oper>
bool CheckMacroArguments(MacroArguments<Oper>& arguments);

}  // namespace hvt::gtn

extern "C" {
HVT_EXPORT LPXLOPER WINAPI GTNUP(LPXLOPER dataRef, int smoothness, int span);
HVT_EXPORT LPXLOPER12 WINAPI GTNUP12(LPXLOPER12 dataRef, int smoothness, int span);
HVT_EXPORT short WINAPI GTNWrapper(void);
HVT_EXPORT int WINAPI GTN_func(LPXLOPER dataRef, LPXLOPER outputRef,
                               int smoothness, int span, int firstrow);
// The macro through the 12-series, registered in its place on hosts of
// version 12 and later.
HVT_EXPORT int WINAPI GTN_func12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                 int smoothness, int span, int firstrow);
}

#endif  // HVT_TOOLS_GTN_GTN_H
