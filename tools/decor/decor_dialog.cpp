// The decorrelator's tables, hooks, menu command and dialog.
#include "tools/decor/decor_tool.h"

#include <cstring>
#include <iterator>

#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/tool_tables.h"
#include "tools/decor/decor_internal.h"

namespace hvt {

namespace decor_cmd {

RefRecord g_input;
RefRecord g_output;
RefRecord g_coefArea;
bool g_skipChecks = false;
bool g_wantFile = false;

}  // namespace decor_cmd

namespace {

using namespace decor_cmd;

RegistrationRow g_decorRows[] = {
    {{" DecWrapper", " J", " Decorel", " ", " 2", " HVT", " "}},
    {{" Decor", " JRRA", " DecMacro", " DataRef, OutputRef, UpdateBool", " 2",
      " HVT", " "}},
    {{" UpdateUCX", " RRR", " UpdateUCX", " CoeffRef, DataRef", " 1", " HVT", " "}},
};

MenuBlock g_decorMenu = {{
    {" -", " ", " ", " ", " "},
    {" UCX 2                        Alt,d,&l", " Decorel", " ", " Decorrelate Data",
     " "},
}};

DialogRow g_decorDialog[] = {
    {{" ", " ", " ", " 320", " 230", " Decorrelation", " 2"}},
    {{" 5", " 15", " 12", " ", " ", " &Data Reference:", " "}},
    {{" 10", " 15", " 27", " 289", " ", " ", " "}},
    {{" 5", " 15", " 52", " ", " ", " U&pper Left Output Cell:", " "}},
    {{" 10", " 15", " 66", " 289", " ", " ", " "}},
    {{" 14", " 49", " 98", " 224", " 58", " Automatic Update Formula", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 1"}},
    {{" 12", " ", " ", " ", " ", " &Yes, Create Formulas", " "}},
    {{" 12", " ", " ", " ", " ", " &No Formulas", " "}},
    {{" 13", " 66", " 166", " ", " ", " Create Coefficient &File", " "}},
    {{" 2", " 181", " 193", " 88", " ", " &Cancel", " "}},
    {{" 1", " 49", " 193", " 88", " ", " &OK", " "}},
};

constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kFormulaGroup = 6;
constexpr short kFileItem = 9;

XLOPER g_decorArray;   // built from g_decorDialog when the add-in opens
XLOPER g_decorAnswer;  // the last answer; boolean: none

ToolTables g_decorTables = {
    .rows = g_decorRows,
    .rowCount = std::size(g_decorRows),
    .menu = &g_decorMenu,
    .dialog = g_decorDialog,
    .dialogRows = std::size(g_decorDialog),
    .dialogArray = &g_decorArray,
    .remembered = &g_decorAnswer,
};

char g_abortMessage[] = " Decorrelator Aborted!";
short g_updateBool = 0;

void PrepareDecor() {
  PrepareToolTables(g_decorTables);
  PrepareRef(g_input);
  PrepareRef(g_output);
  PrepareRef(g_coefArea);
  g_decorAnswer.xltype = xltypeBool;
  g_decorAnswer.val.xbool = 0;
}

int OpenDecor() {
  int opened = OpenToolTables(g_decorTables);
  if (!BuildDialogArray(g_decorDialog, std::size(g_decorDialog), g_decorArray)) {
    ShowInsufficientMemory();
    return 0;
  }
  return opened;
}

void CloseDecor() { CloseToolTables(g_decorTables); }

bool RegisterDecor(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_decorTables, name, result);
}

double NumberIn(const XLOPER& cell) {
  switch (BaseType(cell)) {
    case xltypeNum: return cell.val.num;
    case xltypeInt: return cell.val.w;
    case xltypeBool: return cell.val.xbool != 0 ? 1 : 0;
    default: return 0;
  }
}

// GET.DOCUMENT(7) of the sheet a reference lies on: whether its contents
// are protected.
bool SheetProtected(XLOPER& reference) {
  XLOPER name;
  if (CallExcel(xlfGetCell, &name, 2, TempNumber(32), &reference) != xlretSuccess) {
    return false;
  }
  bool locked = false;
  if (BaseType(name) == xltypeStr) {
    XLOPER answer;
    if (CallExcel(xlfGetDocument, &answer, 2, TempNumber(7), &name) == xlretSuccess) {
      locked = BaseType(answer) == xltypeBool && answer.val.xbool != 0;
      ReleaseHostValue(answer);
    }
  }
  ReleaseHostValue(name);
  return locked;
}

long Columns(const XLREF& area) { return long{area.colLast} - area.colFirst + 1; }

// The checks of the dialog path, in order; 1 all passed, 0 show the
// dialog again, -1 give up.
int CheckDialogEntries(double* focusCell) {
  XLREF& in = g_input.table.reftbl[0];
  XLREF& out = g_output.table.reftbl[0];
  const long n = Columns(in);
  auto alert = [&](const char* text, short item) {
    char message[256];
    message[0] = 0;
    std::size_t length = std::strlen(text);
    std::memcpy(message + 1, text, length + 1);
    return ShowAlertDialog(message, item, focusCell) == 1 ? 0 : -1;
  };
  if (g_input.table.count != 1 || n < 2) {
    return alert("Your input reference must be more than one column, and the columns "
                 "must be contiguous.",
                 kDataItem);
  }
  const bool sameSheet = g_input.value.val.mref.idSheet == g_output.value.val.mref.idSheet;
  if (sameSheet && (out.colFirst <= in.colLast || in.colFirst + 2 * n - 1 > 255)) {
    return alert("Either your output will overwrite your input, or you have too many "
                 "columns of data to output to the same spreadsheet!",
                 kOutputItem);
  }
  if (out.colFirst + n - 1 > 255) {
    return alert("Your first output column is too far to the right. Your output will "
                 "produce too many columns to begin where you've chosen!",
                 kOutputItem);
  }
  if (CoversWholeColumns(g_input.value) && FindDataExtent(g_input.value) == 0) {
    return alert("One of your input columns has NO NUMBERS in it!", kDataItem);
  }
  if (SheetProtected(g_output.value)) {
    return alert("Your output document is protected. You must unprotect it!", kOutputItem);
  }
  return 1;
}

int RunDecorDialog() {
  char* focusText = g_decorDialog[0].text[kItemValue];
  char* fieldText = g_decorDialog[kDataItem].text[kItemValue];
  const std::size_t field = DialogCell(kDataItem, kItemValue);
  if (g_decorArray.val.array.lparray == nullptr) {
    if (!BuildDialogArray(g_decorDialog, std::size(g_decorDialog), g_decorArray)) {
      ShowInsufficientMemory();
      return 0;
    }
  }
  int prefilled = PrefillReferenceField(g_decorArray, field, kOutputItem, g_decorAnswer);
  for (;;) {
    bool fromAnswer = BaseType(g_decorAnswer) == xltypeMulti;
    XLOPER answer;
    int code = Excel4(xlfDialogBox, &answer, 1, fromAnswer ? &g_decorAnswer : &g_decorArray);
    if (prefilled == 1) {
      RestoreReferenceField(g_decorArray, field, focusText, fieldText);
      prefilled = 0;
    }
    if (code != xlretSuccess) return 0;
    if (BaseType(answer) != xltypeMulti || answer.val.array.lparray == nullptr ||
        answer.val.array.rows != std::size(g_decorDialog) ||
        answer.val.array.columns != kDialogColumns) {
      ReleaseHostValue(answer);
      return 0;  // cancelled
    }
    ForgetDialogAnswer(g_decorAnswer);
    g_decorAnswer = answer;

    XLOPER* cells = g_decorAnswer.val.array.lparray;
    XLOPER& focus = cells[DialogCell(0, kItemValue)];
    focus.xltype = xltypeNum;
    focus.val.num = NumberIn(focus);
    int resolved = ResolveReferences(cells[DialogCell(kDataItem, kItemValue)],
                                     cells[DialogCell(kOutputItem, kItemValue)],
                                     kDataItem, kOutputItem, &focus.val.num,
                                     g_input.value, g_output.value);
    if (resolved == kResolveEnd) return 0;
    if (resolved == kResolveAgain) continue;

    int checked = CheckDialogEntries(&focus.val.num);
    if (checked < 0) return 0;
    if (checked == 0) continue;

    g_updateBool = static_cast<short>(static_cast<long>(
                                          NumberIn(cells[DialogCell(kFormulaGroup, kItemValue)])) %
                                      2);
    g_wantFile = NumberIn(cells[DialogCell(kFileItem, kItemValue)]) != 0;
    g_skipChecks = true;
    return 1;
  }
}

int ComputeDecor() { return Decor(&g_input.value, &g_output.value, g_updateBool) == 1 ? 1 : 0; }

}  // namespace

const ToolHooks kDecorTool = {"decorrelator", PrepareDecor, OpenDecor, CloseDecor,
                              RegisterDecor};

}  // namespace hvt

extern "C" HVT_EXPORT int WINAPI DecWrapper() {
  using namespace hvt;
  decor_cmd::g_skipChecks = false;
  decor_cmd::g_wantFile = false;
  // The row limit too: a module that outlives one host session must not
  // select rows the next host lacks.
  ReadMaxRows();
  ReadHostVersion();
  // Decor goes to its output's first cell itself.
  CommandSteps steps{g_abortMessage, RunDecorDialog, ComputeDecor, nullptr};
  return RunCommandFrame(steps);
}
