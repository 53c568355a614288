// SPD's checks: the dialog's, walked over its answer, and a direct macro
// call's, walked over the macro's arguments.
#include <algorithm>

#include "command/checks.h"
#include "command/column.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd.h"
#include "tools/spd/spd_settings.h"

namespace hvt::spd {

CommandState g_command;
bool g_dialogChecked = false;

namespace {

struct DialogPass {
  XLOPER* cells;
};

bool HasNumbers(DialogPass&) {
  if (g_maxRows == 0) ReadMaxRows();
  return !(CoversWholeColumns(g_command.data.value) &&
           FindDataExtent(g_command.data.value) == 0);
}

bool DepthInRange(DialogPass& pass) {
  double depth = 0;
  if (!AnswerNumber(pass.cells[DialogCell(kDepthItem, kItemValue)], depth) ||
      !(depth >= kMinDepth && depth <= kMaxDepth)) {
    return false;
  }
  g_command.depth = static_cast<int>(depth);
  return true;
}

constexpr CheckRow<DialogPass> kDialogChecks[] = {
    {[](DialogPass&) { return g_command.data.table.count == 1; },
     text::kMultipleReference, kDataItem, false},
    {[](DialogPass&) { return AreaColumns(g_command.data) == 1; },
     text::kInputOneColumn, kDataItem, false},
    {[](DialogPass&) { return !SameColumn(g_command.data, g_command.output); },
     text::kOutputOverInput, kOutputItem, false},
    {HasNumbers, text::kNoNumbersInColumn, kDataItem, true},
    {DepthInRange, text::kSpdDepth, kDepthItem, true},
    // Against the depth last accepted when this pass's was refused.
    {[](DialogPass&) {
       long rows = AreaRows(g_command.data);
       return rows >= kMinRows && rows > g_command.depth;
     },
     text::kSpdNotEnoughRows, kDataItem, false},
    {[](DialogPass&) { return FirstCellsAreNumbers(g_command.data); },
     text::kNoTextInInput, kDataItem, false},
};

CheckPass CheckAnswer() {
  double* focus = nullptr;
  CheckPass resolved =
      ResolveColumnAnswer(g_remembered, g_command.data, g_command.output, focus);
  if (resolved != kAccepted) return resolved;
  DialogPass pass{g_remembered.val.array.lparray};
  return WalkDialogChecks<DialogPass>(kDialogChecks, pass, focus);
}

constexpr CheckRow<MacroArguments> kMacroChecks[] = {
    {[](MacroArguments& a) { return a.dataTaken; }, text::kImproperData, 0, false},
    {[](MacroArguments& a) {
       return a.rows <= g_maxRows && a.rows >= std::max<long>(a.depth, kMacroMinRows);
     },
     g_rowCount, 0, false},
    {[](MacroArguments& a) { return DepthAccepted(a.depth); }, g_depthRange, 0, false},
    {[](MacroArguments& a) {
       return a.data->table.count == 1 && AreaColumns(*a.data) == 1;
     },
     text::kDataOneColumn, 0, false},
    {[](MacroArguments& a) { return !a.outputTaken || !SameColumn(*a.data, *a.output); },
     text::kOutputWillOverwrite, 0, false},
    {[](MacroArguments& a) { return a.outputTaken; }, text::kImproperOutput, 0, false},
};

}  // namespace

int RunSpdDialog() {
  return RunCheckedDialog(g_dialog, kDialogRows, g_dialogArray, g_remembered, CheckAnswer,
                          g_dialogChecked);
}

bool CheckMacroArguments(MacroArguments& arguments) {
  if (g_maxRows == 0) ReadMaxRows();
  arguments.rows = arguments.dataTaken ? AreaRows(*arguments.data) : 0;
  return WalkDirectChecks<MacroArguments>(kMacroChecks, arguments);
}

}  // namespace hvt::spd
