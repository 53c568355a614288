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

template <HostRecord Oper>
long InputColumns() {
  return AreaColumnCount(Records<Oper>().input.table.reftbl[0]);
}

template <HostRecord Oper>
bool SameSheet() {
  const DecorRecords<Oper> records = Records<Oper>();
  return records.input.value.val.mref.idSheet == records.output.value.val.mref.idSheet;
}

// The sheet's last column as the run's records address it.
template <HostRecord Oper>
long LastColumn() {
  return SheetColumns<Oper>() - 1;
}

struct DialogPass {};

template <HostRecord Oper>
constexpr CheckRow<DialogPass> kDialogChecks[] = {
    {[](DialogPass&) {
       return Records<Oper>().input.table.count == 1 && InputColumns<Oper>() >= 2;
     },
     text::kDecorColumns, kDataItem, false},
    {[](DialogPass&) {
       const auto& in = Records<Oper>().input.table.reftbl[0];
       const auto& out = Records<Oper>().output.table.reftbl[0];
       return !SameSheet<Oper>() ||
              !(out.colFirst <= in.colLast ||
                long{in.colFirst} + 2 * InputColumns<Oper>() - 1 > LastColumn<Oper>());
     },
     text::kDecorOverwriteOrTooMany, kOutputItem, false},
    {[](DialogPass&) {
       return long{Records<Oper>().output.table.reftbl[0].colFirst} + InputColumns<Oper>() -
                  1 <=
              LastColumn<Oper>();
     },
     text::kDecorTooFarToBegin, kOutputItem, false},
    {[](DialogPass&) {
       Oper& input = Records<Oper>().input.value;
       return !CoversWholeColumns(input) || FindDataExtent(input) != 0;
     },
     text::kNoNumbersInAColumn, kDataItem, false},
    {[](DialogPass&) { return !SheetProtected(Records<Oper>().output.value); },
     text::kDecorProtected, kOutputItem, false},
};

// What became of one showing of the dialog.
enum class Shown { kAnswered, kEnded, kNoMemory };

// Through the 4-series, as the host before 12 is asked.
Shown ShowThroughExcel4(XLOPER& shown, std::size_t field, int& prefilled) {
  XLOPER answer{};
  int code = Excel4(xlfDialogBox, &answer, 1, &shown);
  if (prefilled == 1) {
    RestoreReferenceField(g_dialogArray, field, g_dialog[0].text[kItemValue],
                          g_dialog[kDataItem].text[kItemValue]);
    prefilled = 0;
  }
  if (code != xlretSuccess) return Shown::kEnded;
  if (BaseType(answer) != xltypeMulti || answer.val.array.lparray == nullptr ||
      answer.val.array.rows != std::size(g_dialog) ||
      answer.val.array.columns != kDialogColumns) {
    ReleaseHostValue(answer);
    return Shown::kEnded;  // cancelled
  }
  return TakeDialogAnswer(answer, g_answer) == TakenAnswer::kArray ? Shown::kAnswered
                                                                    : Shown::kNoMemory;
}

// Through the 12-series (texts in UTF-16). The answer is taken aside first,
// so that Cancel keeps the remembered answer here as well.
Shown ShowThroughExcel12(XLOPER& shown, std::size_t field, int& prefilled) {
  XLOPER taken{};
  ForgetDialogAnswer(taken);
  int code = xlretSuccess;
  TakenAnswer result = ShowDialog(shown, taken, code);
  if (prefilled == 1) {
    RestoreReferenceField(g_dialogArray, field, g_dialog[0].text[kItemValue],
                          g_dialog[kDataItem].text[kItemValue]);
    prefilled = 0;
  }
  if (code != xlretSuccess) return Shown::kEnded;
  if (result == TakenAnswer::kNoMemory) return Shown::kNoMemory;
  if (result != TakenAnswer::kArray || taken.val.array.rows != std::size(g_dialog) ||
      taken.val.array.columns != kDialogColumns) {
    ForgetDialogAnswer(taken);
    return Shown::kEnded;  // cancelled
  }
  // The answer shown may have been the remembered one: released only now.
  ForgetDialogAnswer(g_answer);
  g_answer = taken;
  return Shown::kAnswered;
}

// Not a step answer: the dialog is shown again.
constexpr int kShowDialogAgain = -1;

// The remembered answer resolved into the run's records and checked.
template <HostRecord Oper>
int AcceptAnswer() {
  const DecorRecords<Oper> records = Records<Oper>();
  XLOPER* cells = g_answer.val.array.lparray;
  XLOPER& focus = cells[DialogCell(0, kItemValue)];
  focus.xltype = xltypeNum;
  focus.val.num = NumberIn(focus);
  int resolved = ResolveReferences(cells[DialogCell(kDataItem, kItemValue)],
                                   cells[DialogCell(kOutputItem, kItemValue)], kDataItem,
                                   kOutputItem, &focus.val.num, records.input.value,
                                   records.output.value);
  if (resolved == kResolveEnd) return 0;
  if (resolved == kResolveAgain) return kShowDialogAgain;

  DialogPass pass;
  CheckPass checked = WalkDialogChecks<DialogPass>(kDialogChecks<Oper>, pass, &focus.val.num);
  if (checked == kGiveUp) return kStepEnd;
  if (checked == kShowAgain) return kShowDialogAgain;

  // Not a number: no formulas, the choice that writes less.
  g_updateBool = static_cast<short>(
      OptionNumber(NumberIn(cells[DialogCell(kFormulaGroup, kItemValue)]), 2) % 2);
  g_wantFile = NumberIn(cells[DialogCell(kFileItem, kItemValue)]) != 0;
  g_dialogChecked = true;
  return 1;
}

}  // namespace

int RunDecorDialog() {
  const std::size_t field = DialogCell(kDataItem, kItemValue);
  if (g_dialogArray.val.array.lparray == nullptr) {
    if (!BuildDialogArray(g_dialog, std::size(g_dialog), g_dialogArray)) {
      ShowInsufficientMemory();
      return 0;
    }
  }
  const bool wide = WideHost();
  int prefilled = PrefillReferenceField(g_dialogArray, field, kOutputItem, g_answer,
                                        /*twelveSeries=*/true);
  for (;;) {
    XLOPER& shown = BaseType(g_answer) == xltypeMulti ? g_answer : g_dialogArray;
    Shown outcome = wide ? ShowThroughExcel12(shown, field, prefilled)
                         : ShowThroughExcel4(shown, field, prefilled);
    if (outcome == Shown::kNoMemory) {
      ShowInsufficientMemory();
      return 0;
    }
    if (outcome == Shown::kEnded) return 0;
    int accepted = wide ? AcceptAnswer<XLOPER12>() : AcceptAnswer<XLOPER>();
    if (accepted != kShowDialogAgain) return accepted;
  }
}

}  // namespace hvt::decor
