// KLX's checks: the "Adaptive MA" dialog's, walked over its answer, and a
// direct macro call's, walked over the macro's arguments.
#include <cmath>

#include "command/checks.h"
#include "command/column.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"
#include "host/tool_tables.h"
#include "tools/klx/klx.h"

namespace hvt::klx {

RefRecord g_inputRef;
RefRecord g_outputRef;
RefRecord12 g_inputRef12;
RefRecord12 g_outputRef12;

template <>
RefRecord& InputRecord<XLOPER>() { return g_inputRef; }
template <>
RefRecord12& InputRecord<XLOPER12>() { return g_inputRef12; }
template <>
RefRecord& OutputRecord<XLOPER>() { return g_outputRef; }
template <>
RefRecord12& OutputRecord<XLOPER12>() { return g_outputRef12; }
double g_smoothness = 10;
double g_phase = 0;
bool g_klxChosen = true;
bool g_dialogChecked = false;

namespace {

// A number cell of an answer as a double: xlCoerce to a number, so a text
// the user typed counts when it reads as one. NaN when it does not.
double CoercedNumber(XLOPER& cell) {
  double value = NAN;
  return AnswerNumber(cell, value) ? value : NAN;
}

// Turns an item code text "0nn"/"2nn" of the remembered answer in place.
void SetItemMode(XLOPER* code, char mode) {
  if (code == nullptr || BaseType(*code) != xltypeStr) return;
  char* text = code->val.str;
  if (text == nullptr || static_cast<unsigned char>(text[0]) != 3) return;
  if (text[1] == '0' || text[1] == '2') text[1] = mode;
}

// The answer's cell, or a nil stand-in when the answer is too short.
XLOPER& AnswerCell(XLOPER& answer, std::size_t index) {
  static XLOPER nil;
  nil.xltype = xltypeNil;
  XLOPER* cell = DialogArrayCell(answer, index);
  return cell != nullptr ? *cell : nil;
}

// What the dialog's checks read from its answer.
struct DialogPass {
  XLOPER& answer;
  bool rowsOutOfRange = false;
};

template <HostRecord Oper>
const auto& Input() { return InputRecord<Oper>().table.reftbl[0]; }

template <HostRecord Oper>
bool HasNumbers(DialogPass&) {
  return !CoversWholeColumns(InputRecord<Oper>().value) ||
         FindDataExtent(InputRecord<Oper>().value) == 1;
}
template <HostRecord Oper>
bool RowsInRange(DialogPass& pass) {
  long rows = AreaRowCount(Input<Oper>());
  pass.rowsOutOfRange = !(rows >= kMinRows && rows <= SheetRows<Oper>());
  return !pass.rowsOutOfRange;
}
template <HostRecord Oper>
bool FirstCellsNumbers(DialogPass& pass) {
  return pass.rowsOutOfRange || FirstCellsAreNumbers(InputRecord<Oper>());
}
bool SmoothnessInRange(DialogPass& pass) {
  double smoothness = CoercedNumber(AnswerCell(pass.answer, kSmoothnessCell));
  if (!(smoothness >= 0 && smoothness <= kDialogMaxSmoothness)) return false;
  g_smoothness = smoothness;
  return true;
}
// The MA type is read here too: the phase counts for KLX only.
bool PhaseInRange(DialogPass& pass) {
  XLOPER& type = AnswerCell(pass.answer, kTypeCell);
  g_klxChosen = BaseType(type) == xltypeNum && type.val.num == 1;
  if (!g_klxChosen) return true;
  double phase = CoercedNumber(AnswerCell(pass.answer, kPhaseCell));
  if (!PhaseAccepted(phase)) return false;
  g_phase = phase;
  return true;
}

template <HostRecord Oper>
constexpr CheckRow<DialogPass> kDialogChecks[] = {
    {[](DialogPass&) { return InputRecord<Oper>().table.count == 1; },
     text::kMultipleReference, kDataItem, false},
    {[](DialogPass&) { return Input<Oper>().colFirst == Input<Oper>().colLast; },
     text::kInputOneColumn, kDataItem, false},
    {[](DialogPass&) { return !SameColumn(InputRecord<Oper>(), OutputRecord<Oper>()); },
     text::kOutputOverInput, kOutputItem, false},
    {HasNumbers<Oper>, text::kNoNumbersInColumn, kDataItem, true},
    {RowsInRange<Oper>, text::kAtLeast32Rows, kDataItem, true},
    {FirstCellsNumbers<Oper>, text::kNoTextInInput, kDataItem, true},
    {SmoothnessInRange, text::kKlxSmoothness, kSmoothnessItem, true},
    {PhaseInRange, g_phaseRange, kPhaseItem, false},
};

// Runs the checks on one accepted answer, into the records of the
// interface the command runs on.
template <HostRecord Oper>
CheckPass CheckAnswer(XLOPER& answer) {
  XLOPER& closedBy = AnswerCell(answer, kClosedByCell);
  double spareFocus = 0;
  double* focus = &spareFocus;
  if (BaseType(closedBy) == xltypeNum) focus = &closedBy.val.num;

  int resolved = ResolveReferences(AnswerCell(answer, kDataCell),
                                   AnswerCell(answer, kOutputCell), kDataItem,
                                   kOutputItem, focus, InputRecord<Oper>().value,
                                   OutputRecord<Oper>().value);
  if (resolved == kResolveEnd) return kGiveUp;
  if (resolved != kResolved) return kShowAgain;
  DialogPass pass{answer};
  return WalkDialogChecks<DialogPass>(kDialogChecks<Oper>, pass, focus);
}

// A direct call's arguments.
template <HostRecord Oper>
struct MacroArguments {
  const Oper* dataArgument;
  const Oper* outputArgument;
  double smoothness;
  RefRecordOf<Oper>& data;
  RefRecordOf<Oper>& output;
  int dataAreas = 0;
  bool outputTaken = false;
};

template <HostRecord Oper>
long DataRows(MacroArguments<Oper>& a) { return AreaRowCount(a.data.table.reftbl[0]); }

template <HostRecord Oper>
using Args = MacroArguments<Oper>;

template <HostRecord Oper>
constexpr CheckRow<Args<Oper>> kMacroChecks[] = {
    {[](Args<Oper>& a) { return ArgumentReference(a.dataArgument, a.data, a.dataAreas); },
     text::kImproperData, 0, false},
    {[](Args<Oper>& a) {
       return DataRows(a) <= SheetRows<Oper>() && DataRows(a) >= kMinRows;
     },
     text::kRowCount32, 0, false},
    {[](Args<Oper>& a) { return SmoothnessAccepted(a.smoothness); },
     g_smoothnessRange, 0, false},
    {[](Args<Oper>& a) { return a.dataAreas == 1 && AreaColumns(a.data) == 1; },
     text::kDataOneColumn, 0, false},
    {[](Args<Oper>& a) {
       int areas = 0;
       a.outputTaken = ArgumentReference(a.outputArgument, a.output, areas);
       return !a.outputTaken || !SameColumn(a.data, a.output);
     },
     text::kOutputWillOverwrite, 0, false},
    {[](Args<Oper>& a) { return a.outputTaken; }, text::kImproperOutput, 0, false},
    {[](Args<Oper>& a) {
       typename Interface<Oper>::Table table{};
       Oper cell = AreaRef(table, a.output.value.val.mref.idSheet,
                           CellArea<typename Interface<Oper>::Ref>(
                               a.output.table.reftbl[0].rwFirst,
                               a.output.table.reftbl[0].colFirst));
       return !SheetProtected(cell);
     },
     text::kOutputProtected, 0, false},
};

}  // namespace

int RunKlxDialog() {
  if (BaseType(g_dialogArray) != xltypeMulti ||
      g_dialogArray.val.array.lparray == nullptr) {
    if (!BuildDialogArray(g_dialog, kDialogRowCount, g_dialogArray)) {
      ShowInsufficientMemory();
      return kStepEnd;
    }
  }
  const int prefilled =
      PrefillReferenceField(g_dialogArray, kDataCell, kOutputItem, g_lastAnswer,
                            /*twelveSeries=*/true);

  for (;;) {
    XLOPER* shown = BaseType(g_lastAnswer) == xltypeMulti ? &g_lastAnswer
                                                           : &g_dialogArray;
    int code = xlretSuccess;
    // The new answer takes the remembered one's place.
    TakenAnswer taken = ShowDialog(*shown, g_lastAnswer, code);
    if (prefilled == 1) {
      RestoreReferenceField(g_dialogArray, kDataCell, g_dialog[0].text[kItemValue],
                            g_dialog[2].text[kItemValue]);
    }
    if (code != xlretSuccess) {
      ForgetDialogAnswer(g_lastAnswer);
      return kStepEnd;
    }
    if (taken == TakenAnswer::kNoMemory) ShowInsufficientMemory();
    if (taken != TakenAnswer::kArray) return kStepEnd;  // Cancel

    XLOPER& closedBy = AnswerCell(g_lastAnswer, kClosedByCell);
    double item = BaseType(closedBy) == xltypeNum ? closedBy.val.num : 0;
    if (item == kPqeOption || item == kKlxOption) {
      char mode = item == kPqeOption ? '2' : '0';
      SetItemMode(DialogArrayCell(g_lastAnswer, kPhaseLabelCode), mode);
      SetItemMode(DialogArrayCell(g_lastAnswer, kPhaseFieldCode), mode);
      continue;
    }

    CheckPass checked = WideHost() ? CheckAnswer<XLOPER12>(g_lastAnswer)
                                   : CheckAnswer<XLOPER>(g_lastAnswer);
    if (checked == kGiveUp) return kStepEnd;
    if (checked == kAccepted) {
      g_dialogChecked = true;
      return kStepGoOn;
    }
  }
}

template <HostRecord Oper>
bool ArgumentReference(const std::type_identity_t<Oper>* argument, RefRecordOf<Oper>& record,
                       int& areas) {
  areas = 0;
  if (argument == nullptr) return false;
  DWORD type = TypeOf(*argument);
  if (type == xltypeSRef) {
    // A single reference means the active sheet.
    Oper sheet{};
    if (HostCall(xlSheetId, &sheet) != xlretSuccess) return false;
    IDSHEET id = TypeOf(sheet) == xltypeRef ? sheet.val.mref.idSheet : 0;
    GiveBack(sheet);
    if (id == 0) return false;
    SetRecord(record, id, argument->val.sref.ref);
    areas = 1;
    return true;
  }
  if (type != xltypeRef || argument->val.mref.lpmref == nullptr ||
      argument->val.mref.lpmref->count == 0) {
    return false;
  }
  areas = argument->val.mref.lpmref->count;
  CopyRef(*argument, record.value);
  record.table.count = 1;
  return true;
}

template <HostRecord Oper>
bool DirectCallChecks(const Oper* dataRef, const Oper* outputRef, double smoothness,
                      RefRecordOf<Oper>& data, RefRecordOf<Oper>& output) {
  MacroArguments<Oper> arguments{dataRef, outputRef, smoothness, data, output};
  return WalkDirectChecks<MacroArguments<Oper>>(kMacroChecks<Oper>, arguments);
}

template bool ArgumentReference(const XLOPER*, RefRecord&, int&);
template bool ArgumentReference(const XLOPER12*, RefRecord12&, int&);
template bool DirectCallChecks(const XLOPER*, const XLOPER*, double, RefRecord&, RefRecord&);
template bool DirectCallChecks(const XLOPER12*, const XLOPER12*, double, RefRecord12&,
                               RefRecord12&);

}  // namespace hvt::klx
