// KLXWrapper: the "Adaptive MA" dialog, its checks and the run of the
// chosen macro inside the command frame.
#include <algorithm>
#include <cmath>

#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "tools/klx/klx_command.h"
#include "tools/klx/klx_tool.h"

namespace hvt::klx {

RefRecord g_inputRef;
RefRecord g_outputRef;
double g_smoothness = 10;
double g_phase = 0;
bool g_klxChosen = true;
bool g_dialogPassed = false;

namespace {

char g_abortMessage[] = " KLX Aborted!";

void Release(XLOPER& value) { Excel4(xlFree, nullptr, 1, &value); }

// Checks of the dialog, in the order they run.
enum Check {
  kReferencesOk,
  kOneArea,
  kOneColumn,
  kNoOverwrite,
  kHasNumbers,
  kRowCount,
  kFirstCells,
  kSmoothness,
  kPhase,
  kCheckCount,
};

// A number cell of an answer as a double: xlCoerce to a number, so a text
// the user typed counts when it reads as one. NaN when it does not.
double CoercedNumber(XLOPER& cell) {
  XLOPER number;
  if (CallExcel(xlCoerce, &number, 2, &cell, TempInteger(xltypeNum)) !=
      xlretSuccess) {
    return NAN;
  }
  double value = NAN;
  if (BaseType(number) == xltypeNum) value = number.val.num;
  Release(number);
  return value;
}

// Turns an item code text "0nn"/"2nn" in place: the answer's strings are
// the host's, so only their characters change, never the pointers.
void SetItemMode(XLOPER* code, char mode) {
  if (code == nullptr || BaseType(*code) != xltypeStr) return;
  char* text = code->val.str;
  if (text == nullptr || static_cast<unsigned char>(text[0]) != 3) return;
  if (text[1] == '0' || text[1] == '2') text[1] = mode;
}

bool IsNumberCell(DWORD sheet, long row, BYTE column) {
  XLMREF table{};
  table.count = 1;
  table.reftbl[0] = XLREF{static_cast<WORD>(row), static_cast<WORD>(row),
                          column, column};
  XLOPER cell{};
  cell.xltype = xltypeRef;
  cell.val.mref.lpmref = &table;
  cell.val.mref.idSheet = sheet;
  XLOPER answer;
  if (Excel4(xlfIsnumber, &answer, 1, &cell) != xlretSuccess) return false;
  bool number = BaseType(answer) == xltypeBool && answer.val.xbool != 0;
  Release(answer);
  return number;
}

// The answer's cell, or a nil stand-in when the answer is too short.
XLOPER& AnswerCell(XLOPER& answer, std::size_t index) {
  static XLOPER nil;
  nil.xltype = xltypeNil;
  XLOPER* cell = DialogArrayCell(answer, index);
  return cell != nullptr ? *cell : nil;
}

// Runs the checks on one accepted answer. Answers 1 when all passed, 0 to
// show the dialog again, -1 to end the command.
int CheckAnswer(XLOPER& answer) {
  bool passed[kCheckCount] = {};
  XLOPER& closedBy = AnswerCell(answer, kClosedByCell);
  double spareFocus = 0;
  double* focus = &spareFocus;
  if (BaseType(closedBy) == xltypeNum) focus = &closedBy.val.num;

  int resolved = ResolveReferences(AnswerCell(answer, kDataCell),
                                   AnswerCell(answer, kOutputCell), kDataItem,
                                   kOutputItem, focus, g_inputRef.value,
                                   g_outputRef.value);
  if (resolved == kResolveEnd) return -1;
  if (resolved != kResolved) return 0;
  passed[kReferencesOk] = true;

  // A failed check: the "ALERT!" box; its Cancel ends the command.
  auto fail = [&](const char* message, short item) {
    return ShowAlertDialog(message, item, focus) == 1;
  };

  const XLREF& in = g_inputRef.table.reftbl[0];
  const XLREF& out = g_outputRef.table.reftbl[0];
  passed[kOneArea] = g_inputRef.table.count == 1;
  if (!passed[kOneArea]) {
    if (!fail(" Your input reference must not be a multiple reference!", kDataItem)) return -1;
    return 0;
  }
  passed[kOneColumn] = in.colFirst == in.colLast;
  if (!passed[kOneColumn]) {
    if (!fail(" Your input reference must be ONE column only!", kDataItem)) return -1;
    return 0;
  }
  passed[kNoOverwrite] = !(g_outputRef.value.val.mref.idSheet ==
                               g_inputRef.value.val.mref.idSheet &&
                           out.colFirst == in.colFirst);
  if (!passed[kNoOverwrite]) {
    if (!fail(" Your output must not overwrite your input!", kOutputItem)) return -1;
    return 0;
  }

  passed[kHasNumbers] = true;
  if (CoversWholeColumns(g_inputRef.value)) {
    passed[kHasNumbers] = FindDataExtent(g_inputRef.value) == 1;
    if (!passed[kHasNumbers] &&
        !fail(" Your input column has no numbers in it!", kDataItem)) {
      return -1;
    }
  }

  if (g_maxRows == 0) ReadMaxRows();
  long rows = long{in.rwLast} - in.rwFirst + 1;
  passed[kRowCount] = rows >= kMinRows && rows <= g_maxRows;
  if (!passed[kRowCount]) {
    if (!fail(" Your input reference must have at least 32 rows!", kDataItem)) return -1;
  } else {
    passed[kFirstCells] = true;
    const DWORD sheet = g_inputRef.value.val.mref.idSheet;
    for (long row = in.rwFirst; row < long{in.rwFirst} + 5; ++row) {
      if (!IsNumberCell(sheet, row, in.colFirst)) passed[kFirstCells] = false;
    }
    if (!passed[kFirstCells] &&
        !fail(" You must not include text, titles, or blank cells in your "
              "input reference.",
              kDataItem)) {
      return -1;
    }
  }

  double smoothness = CoercedNumber(AnswerCell(answer, kSmoothnessCell));
  passed[kSmoothness] = smoothness >= 0 && smoothness <= kDialogMaxSmoothness;
  if (passed[kSmoothness]) {
    g_smoothness = smoothness;
  } else if (!fail(" Smoothness must be a number between 0 and 8,192 inclusive!",
                   kSmoothnessItem)) {
    return -1;
  }

  XLOPER& type = AnswerCell(answer, kTypeCell);
  g_klxChosen = BaseType(type) == xltypeNum && type.val.num == 1;
  passed[kPhase] = true;
  if (g_klxChosen) {
    double phase = CoercedNumber(AnswerCell(answer, kPhaseCell));
    passed[kPhase] = PhaseAccepted(phase);
    if (passed[kPhase]) {
      g_phase = phase;
    } else {
      if (!fail(g_phaseRange, kPhaseItem)) {
        return -1;
      }
      return 0;
    }
  }

  for (bool ok : passed) {
    if (!ok) return 0;
  }
  return 1;
}

}  // namespace

void PrepareCommandState() {
  PrepareRef(g_inputRef);
  PrepareRef(g_outputRef);
}

int RunKlxDialog() {
  if (BaseType(g_dialogArray) != xltypeMulti ||
      g_dialogArray.val.array.lparray == nullptr) {
    if (!BuildDialogArray(g_dialog, kDialogRowCount, g_dialogArray)) {
      ShowInsufficientMemory();
      return 0;
    }
  }
  const int prefilled =
      PrefillReferenceField(g_dialogArray, kDataCell, kOutputItem, g_lastAnswer);

  for (;;) {
    XLOPER* shown = BaseType(g_lastAnswer) == xltypeMulti ? &g_lastAnswer
                                                           : &g_dialogArray;
    XLOPER answer;
    int code = Excel4(xlfDialogBox, &answer, 1, shown);
    if (prefilled == 1) {
      RestoreReferenceField(g_dialogArray, kDataCell, g_dialog[0].text[kItemValue],
                            g_dialog[2].text[kItemValue]);
    }
    // The new answer takes the remembered one's place.
    ForgetDialogAnswer(g_lastAnswer);
    if (code != xlretSuccess) return 0;
    g_lastAnswer = answer;
    if (BaseType(answer) != xltypeMulti) return 0;  // Cancel

    XLOPER& closedBy = AnswerCell(g_lastAnswer, kClosedByCell);
    double item = BaseType(closedBy) == xltypeNum ? closedBy.val.num : 0;
    if (item == kPqeOption || item == kKlxOption) {
      char mode = item == kPqeOption ? '2' : '0';
      SetItemMode(DialogArrayCell(g_lastAnswer, kPhaseLabelCode), mode);
      SetItemMode(DialogArrayCell(g_lastAnswer, kPhaseFieldCode), mode);
      continue;
    }

    int checked = CheckAnswer(g_lastAnswer);
    if (checked == -1) return 0;
    if (checked == 1) {
      g_dialogPassed = true;
      return 1;
    }
  }
}

namespace {

int ComputeStep() {
  if (g_klxChosen) {
    return KLX(&g_inputRef.value, &g_outputRef.value, &g_smoothness, &g_phase);
  }
  return HalPQEX(&g_inputRef.value, &g_outputRef.value, &g_smoothness);
}

void SelectOutputStep() {
  const XLREF& in = g_inputRef.table.reftbl[0];
  const XLREF& out = g_outputRef.table.reftbl[0];
  long row = std::min<long>(long{in.rwFirst} + kLeadRows, in.rwLast);
  XLMREF table{};
  table.count = 1;
  table.reftbl[0] = XLREF{static_cast<WORD>(row), static_cast<WORD>(row),
                          out.colFirst, out.colFirst};
  XLOPER cell{};
  cell.xltype = xltypeRef;
  cell.val.mref.lpmref = &table;
  cell.val.mref.idSheet = g_outputRef.value.val.mref.idSheet;
  Excel4(xlcFormulaGoto, nullptr, 1, &cell);
}

}  // namespace

}  // namespace hvt::klx

extern "C" HVT_EXPORT int WINAPI KLXWrapper(void) {
  using namespace hvt;
  ReadHostVersion();
  static const CommandSteps steps = {
      .abortMessage = klx::g_abortMessage,
      .dialogs = klx::RunKlxDialog,
      .compute = klx::ComputeStep,
      .selectOutput = klx::SelectOutputStep,
  };
  return RunCommandFrame(steps);
}
