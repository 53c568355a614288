// GTN's checks: the dialog's, walked over its answer, and a direct macro
// call's, walked over the macro's arguments.
#include "command/checks.h"
#include "command/column.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn.h"
#include "tools/gtn/gtn_settings.h"

namespace hvt::gtn {

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

// A check box's result: TRUE/FALSE, 1/0, or the table's own text "1"
// when the box was left as it was.
bool Checked(XLOPER& cell) {
  double number = 0;
  switch (BaseType(cell)) {
    case xltypeBool: return cell.val.xbool != 0;
    case xltypeNum: return cell.val.num != 0;
    case xltypeInt: return cell.val.w != 0;
    case xltypeStr: return AnswerNumber(cell, number) && number != 0;
    default: return false;
  }
}

// What the dialog's checks read from its answer.
struct DialogPass {
  XLOPER* cells;
  bool noNumbers = false;
  bool rowsOutOfRange = false;
};

XLOPER& AnswerCell(DialogPass& pass, short item) {
  return pass.cells[DialogCell(item, kItemValue)];
}

CommandState& Command() { return g_command; }

// The data's rows: whole columns are narrowed to their numbers first; at
// most one of the three row checks speaks.
template <HostRecord Oper>
bool HasNumbers(DialogPass& pass) {
  if (g_maxRows == 0) ReadMaxRows();
  pass.noNumbers = CoversWholeColumns(InputRecord<Oper>().value) &&
                   FindDataExtent(InputRecord<Oper>().value) == 0;
  return !pass.noNumbers;
}
template <HostRecord Oper>
bool RowsInRange(DialogPass& pass) {
  if (pass.noNumbers) return true;
  long rows = AreaRows(InputRecord<Oper>());
  pass.rowsOutOfRange = rows < kMinRows || rows > SheetRows<Oper>();
  return !pass.rowsOutOfRange;
}
template <HostRecord Oper>
bool FirstCellsNumbers(DialogPass& pass) {
  return pass.noNumbers || pass.rowsOutOfRange || FirstCellsAreNumbers(InputRecord<Oper>());
}

bool SmoothnessInRange(DialogPass& pass) {
  double smoothness = 0;
  if (!AnswerNumber(AnswerCell(pass, kSmoothnessItem), smoothness) ||
      !(smoothness >= kMinSmoothness && smoothness <= kMaxSmoothness)) {
    return false;
  }
  Command().smoothness = static_cast<int>(smoothness);
  return true;
}

bool SpanChosen(DialogPass& pass) {
  CommandState& command = Command();
  command.spanCount = 0;
  for (int k = 0; k < 4; ++k) {
    command.spanChosen[k] = Checked(AnswerCell(pass, static_cast<short>(kFirstSpanItem + k)));
    if (command.spanChosen[k]) {
      ++command.spanCount;
      command.longestSpan = kSpans[k];
    }
  }
  double option = 2;
  AnswerNumber(AnswerCell(pass, kOptionItem), option);
  command.together = OptionNumber(option, 2) % 2 == 1;
  return command.spanCount != 0;
}

// As many rows as the run of the longest span needs: a shorter column would
// start a run that can only stop with nothing written.
template <HostRecord Oper>
bool RowsForTheSpan(bool together) {
  return Command().together != together ||
         AreaRows(InputRecord<Oper>()) >=
             static_cast<long>(gtn::GtnMinRows(Command().longestSpan));
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
    {RowsInRange<Oper>, text::kAtLeast32Rows, kDataItem, true},
    {FirstCellsNumbers<Oper>, text::kNoTextInInput, kDataItem, true},
    {SmoothnessInRange, text::kGtnSmoothness, kSmoothnessItem, false},
    {SpanChosen, text::kGtnNoSpan, kFirstSpanItem, false},
    {[](DialogPass&) { return RowsForTheSpan<Oper>(true); }, text::kGtnTogetherShort,
     kDataItem, false},
    {[](DialogPass&) { return RowsForTheSpan<Oper>(false); }, text::kGtnSpanShort,
     kDataItem, false},
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
    {[](Args<Oper>& a) { return a.rows <= SheetRows<Oper>() && a.rows >= kMacroMinRows; },
     g_rowCount, 0, false},
    {[](Args<Oper>& a) { return SmoothnessAccepted(a.smoothness); }, g_smoothnessRange, 0,
     false},
    {[](Args<Oper>& a) { return IsValidSpan(a.span); }, g_spanValue, 0, false},
    {[](Args<Oper>& a) { return a.rows >= a.span + 2L; }, g_spanRows, 0, false},
    {[](Args<Oper>& a) { return a.firstRow >= 0; }, text::kGtnFirstRowValue, 0, false},
    {[](Args<Oper>& a) { return a.rows >= a.firstRow + 2L; }, text::kGtnFirstRowRows, 0,
     false},
    {[](Args<Oper>& a) { return a.data->table.count == 1 && AreaColumns(*a.data) == 1; },
     text::kDataOneColumn, 0, false},
    {[](Args<Oper>& a) { return !a.outputTaken || !SameColumn(*a.data, *a.output); },
     text::kOutputWillOverwrite, 0, false},
    {[](Args<Oper>& a) { return a.outputTaken; }, text::kImproperOutput, 0, false},
};

}  // namespace

int RunGtnDialog() {
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

}  // namespace hvt::gtn
