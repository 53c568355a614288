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

template <>
RefRecord& InputRecord<XLOPER>() { return g_command.data; }
template <>
RefRecord12& InputRecord<XLOPER12>() { return g_command.data12; }
template <>
RefRecord& OutputRecord<XLOPER>() { return g_command.output; }
template <>
RefRecord12& OutputRecord<XLOPER12>() { return g_command.output12; }

namespace {

struct DialogPass {
  XLOPER* cells;
};

template <HostRecord Oper>
bool HasNumbers(DialogPass&) {
  if (g_maxRows == 0) ReadMaxRows();
  return !(CoversWholeColumns(InputRecord<Oper>().value) &&
           FindDataExtent(InputRecord<Oper>().value) == 0);
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

template <HostRecord Oper>
constexpr CheckRow<DialogPass> kDialogChecks[] = {
    {[](DialogPass&) { return InputRecord<Oper>().table.count == 1; },
     text::kMultipleReference, kDataItem, false},
    {[](DialogPass&) { return AreaColumns(InputRecord<Oper>()) == 1; },
     text::kInputOneColumn, kDataItem, false},
    {[](DialogPass&) { return !SameColumn(InputRecord<Oper>(), OutputRecord<Oper>()); },
     text::kOutputOverInput, kOutputItem, false},
    {HasNumbers<Oper>, text::kNoNumbersInColumn, kDataItem, true},
    {DepthInRange, text::kSpdDepth, kDepthItem, true},
    // Against the depth last accepted when this pass's was refused.
    {[](DialogPass&) {
       long rows = AreaRows(InputRecord<Oper>());
       return rows >= kMinRows && rows > g_command.depth;
     },
     text::kSpdNotEnoughRows, kDataItem, false},
    {[](DialogPass&) { return FirstCellsAreNumbers(InputRecord<Oper>()); },
     text::kNoTextInInput, kDataItem, false},
};

// The checks over the remembered answer, into the records of the interface
// the command runs on.
template <HostRecord Oper>
CheckPass CheckAnswerOf() {
  return CheckColumnAnswer<DialogPass>(g_remembered, InputRecord<Oper>(), OutputRecord<Oper>(),
                                       kDialogChecks<Oper>);
}

CheckPass CheckAnswer() {
  return WideHost() ? CheckAnswerOf<XLOPER12>() : CheckAnswerOf<XLOPER>();
}

template <HostRecord Oper>
using Args = MacroArguments<Oper>;

template <HostRecord Oper>
constexpr CheckRow<Args<Oper>> kMacroChecks[] = {
    {[](Args<Oper>& a) { return a.dataTaken; }, text::kImproperData, 0, false},
    {[](Args<Oper>& a) {
       return a.rows <= SheetRows<Oper>() && a.rows >= std::max<long>(a.depth, kMacroMinRows);
     },
     g_rowCount, 0, false},
    {[](Args<Oper>& a) { return DepthAccepted(a.depth); }, g_depthRange, 0, false},
    {[](Args<Oper>& a) { return a.data->table.count == 1 && AreaColumns(*a.data) == 1; },
     text::kDataOneColumn, 0, false},
    {[](Args<Oper>& a) { return !a.outputTaken || !SameColumn(*a.data, *a.output); },
     text::kOutputWillOverwrite, 0, false},
    {[](Args<Oper>& a) { return a.outputTaken; }, text::kImproperOutput, 0, false},
};

}  // namespace

int RunSpdDialog() {
  return RunCheckedDialog(g_dialog, kDialogRows, g_dialogArray, g_remembered, CheckAnswer,
                          g_dialogChecked);
}

template <HostRecord Oper>
bool CheckMacroArguments(MacroArguments<Oper>& arguments) {
  if (g_maxRows == 0) ReadMaxRows();
  arguments.rows = arguments.dataTaken ? AreaRows(*arguments.data) : 0;
  return WalkDirectChecks<Args<Oper>>(kMacroChecks<Oper>, arguments);
}

template bool CheckMacroArguments(MacroArguments<XLOPER>&);
template bool CheckMacroArguments(MacroArguments<XLOPER12>&);

}  // namespace hvt::spd
