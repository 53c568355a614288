// The decorrelator's dialog and its checks.
#include <iterator>

#include "command/checks.h"
#include "command/column.h"
#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/tool_tables.h"
#include "host/texts.h"
#include "tools/decor/decor.h"

namespace hvt::decor {

short g_updateBool = 0;

namespace {

double NumberIn(const XLOPER& cell) {
  switch (BaseType(cell)) {
    case xltypeNum: return cell.val.num;
    case xltypeInt: return cell.val.w;
    case xltypeBool: return cell.val.xbool != 0 ? 1 : 0;
    default: return 0;
  }
}

long InputColumns() { return AreaColumnCount(g_input.table.reftbl[0]); }

bool SameSheet() {
  return g_input.value.val.mref.idSheet == g_output.value.val.mref.idSheet;
}

struct DialogPass {};

constexpr CheckRow<DialogPass> kDialogChecks[] = {
    {[](DialogPass&) { return g_input.table.count == 1 && InputColumns() >= 2; },
     text::kDecorColumns, kDataItem, false},
    {[](DialogPass&) {
       const XLREF& in = g_input.table.reftbl[0];
       return !SameSheet() || !(g_output.table.reftbl[0].colFirst <= in.colLast ||
                                in.colFirst + 2 * InputColumns() - 1 > 255);
     },
     text::kDecorOverwriteOrTooMany, kOutputItem, false},
    {[](DialogPass&) { return g_output.table.reftbl[0].colFirst + InputColumns() - 1 <= 255; },
     text::kDecorTooFarToBegin, kOutputItem, false},
    {[](DialogPass&) {
       return !CoversWholeColumns(g_input.value) || FindDataExtent(g_input.value) != 0;
     },
     text::kNoNumbersInAColumn, kDataItem, false},
    {[](DialogPass&) { return !SheetProtected(g_output.value); }, text::kDecorProtected,
     kOutputItem, false},
};

}  // namespace

int RunDecorDialog() {
  char* focusText = g_dialog[0].text[kItemValue];
  char* fieldText = g_dialog[kDataItem].text[kItemValue];
  const std::size_t field = DialogCell(kDataItem, kItemValue);
  if (g_dialogArray.val.array.lparray == nullptr) {
    if (!BuildDialogArray(g_dialog, std::size(g_dialog), g_dialogArray)) {
      ShowInsufficientMemory();
      return 0;
    }
  }
  int prefilled = PrefillReferenceField(g_dialogArray, field, kOutputItem, g_answer);
  for (;;) {
    bool fromAnswer = BaseType(g_answer) == xltypeMulti;
    XLOPER answer{};
    int code = Excel4(xlfDialogBox, &answer, 1, fromAnswer ? &g_answer : &g_dialogArray);
    if (prefilled == 1) {
      RestoreReferenceField(g_dialogArray, field, focusText, fieldText);
      prefilled = 0;
    }
    if (code != xlretSuccess) return 0;
    if (BaseType(answer) != xltypeMulti || answer.val.array.lparray == nullptr ||
        answer.val.array.rows != std::size(g_dialog) ||
        answer.val.array.columns != kDialogColumns) {
      ReleaseHostValue(answer);
      return 0;  // cancelled
    }
    if (TakeDialogAnswer(answer, g_answer) != TakenAnswer::kArray) {
      ShowInsufficientMemory();
      return 0;
    }

    XLOPER* cells = g_answer.val.array.lparray;
    XLOPER& focus = cells[DialogCell(0, kItemValue)];
    focus.xltype = xltypeNum;
    focus.val.num = NumberIn(focus);
    int resolved = ResolveReferences(cells[DialogCell(kDataItem, kItemValue)],
                                     cells[DialogCell(kOutputItem, kItemValue)],
                                     kDataItem, kOutputItem, &focus.val.num,
                                     g_input.value, g_output.value);
    if (resolved == kResolveEnd) return 0;
    if (resolved == kResolveAgain) continue;

    DialogPass pass;
    CheckPass checked = WalkDialogChecks<DialogPass>(kDialogChecks, pass, &focus.val.num);
    if (checked == kGiveUp) return kStepEnd;
    if (checked == kShowAgain) continue;

    // Not a number: no formulas, the choice that writes less.
    g_updateBool = static_cast<short>(
        OptionNumber(NumberIn(cells[DialogCell(kFormulaGroup, kItemValue)]), 2) % 2);
    g_wantFile = NumberIn(cells[DialogCell(kFileItem, kItemValue)]) != 0;
    g_dialogChecked = true;
    return 1;
  }
}

}  // namespace hvt::decor
