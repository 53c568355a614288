// The GTN menu command and its macro: one output column per chosen span,
// begun independently or all on the row of the longest span.
#include "tools/gtn/gtn_command.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "tools/column_command.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn_settings.h"

namespace hvt::gtn_command {

DialogRow g_dialog[kDialogRows] = {
    {{" ", " ", " ", " 364", " 276", " GTN", " 2"}},
    {{" 5", " 25", " 12", " ", " ", " &Data Reference: ", " "}},
    {{" 10", " 25", " 27", " 292", " ", " ", " "}},
    {{" 5", " 25", " 51", " ", " ", " &Write to Column: ", " "}},
    {{" 10", " 25", " 66", " 292", " ", " ", " "}},
    {{" 5", " 25", " 90", " ", " ", " &Smoothness ( >=1 and <=50 ): ", " "}},
    {{" 7", " 25", " 105", " 160", " ", " ", " 10"}},
    {{" 1", " 76", " 241", " 88", " ", " &OK", " "}},
    {{" 2", " 195", " 241", " 88", " ", " &Cancel", " "}},
    {{" 14", " 25", " 138", " 96", " 85", " Span", " "}},
    {{" 13", " ", " ", " ", " ", "  &24", " 1"}},
    {{" 13", " ", " ", " ", " ", "  &48", " "}},
    {{" 13", " ", " ", " ", " ", "  &96", " "}},
    {{" 13", " ", " ", " ", " ", " &192", " "}},
    {{" 14", " 138", " 138", " 205", " 54", " Output", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 2"}},
    {{" 12", " ", " ", " ", " ", " Begin &Together", " "}},
    {{" 12", " ", " ", " ", " ", " Begin &Independently", " "}},
};
XLOPER g_dialogArray;
XLOPER g_remembered;

namespace {

// Dialog items.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kSmoothnessItem = 6;
constexpr short kFirstSpanItem = 10;
constexpr short kOptionItem = 15;

constexpr int kSpans[4] = {24, 48, 96, 192};
constexpr long kMinRows = 32;
constexpr long kLastColumn = 255;
// The selection after a run: this many rows below the data's first row.
constexpr long kSelectedRowOffset = 30;

RefRecord g_dataRef;
RefRecord g_outputRef;
int g_smoothness = 10;
bool g_spanFlags[4] = {true, false, false, false};
int g_spanCount = 1;
int g_longestSpan = 24;
bool g_together = false;
bool g_inputsChecked = false;

char g_aborted[] = " GTN Aborted!";
char g_multiple[] = " Your input reference must not be a multiple reference!";
char g_oneColumn[] = " Your input reference must be ONE column only!";
char g_overwrite[] = " Your output must not overwrite your input!";
char g_noNumbers[] = " Your input column has no numbers in it!";
char g_tooFewRows[] = " Your input reference must have at least 32 rows!";
char g_noText[] =
    " You must not include text, titles, or blank cells in your input "
    "reference.";
char g_badSmoothness[] = " Smoothness must be a number between 2 and 50 inclusive!";
char g_noSpan[] = " You must select at least one Span value!";
char g_togetherShort[] =
    " You have selected \"Begin Together\", and your data set is too short "
    "to calculate the results for the longest Span you selected.";
char g_spanShort[] =
    " You must select more data rows to calculate GTN, or you must select a "
    "smaller maximum Span value!";
char g_columnsPastEdge[] =
    " Your output columns would run past the last column of the sheet!";

char g_improperData[] = " Your data reference is improper! Use complete reference.";
char g_firstRowValue[] = " Your firstrow value must not be negative.";
char g_firstRowRows[] =
    " You have selected \"Begin Together\" and multiple Spans, and your data "
    "set is too short to calculate the results for the longest Span you "
    "selected.";
char g_nothingToWrite[] =
    " Your data set is too short to calculate any results for the Span you "
    "selected.";
char g_dataColumns[] = " Your data set must be in one column only!";
char g_outputOverwrites[] = " Your output will overwrite your input!";
char g_improperOutput[] =
    " Your output reference is improper! Use complete reference.";
char g_protected[] = " Your output document is protected.";


const XLREF& Area(const RefRecord& record) { return record.table.reftbl[0]; }


// A check box's result: TRUE/FALSE, 1/0, or the table's own text "1"
// when the box was left as it was.
bool Checked(XLOPER& cell) {
  double number = 0;
  switch (BaseType(cell)) {
    case xltypeBool: return cell.val.xbool != 0;
    case xltypeNum: return cell.val.num != 0;
    case xltypeInt: return cell.val.w != 0;
    case xltypeStr: return column::AnswerNumber(cell, number) && number != 0;
    default: return false;
  }
}

using column::kAccepted;
using column::kGiveUp;
using column::kShowAgain;

int CheckAnswer() {
  XLOPER* cells = g_remembered.val.array.lparray;
  XLOPER& focusCell = cells[DialogCell(0, kItemValue)];
  double* focus = BaseType(focusCell) == xltypeNum ? &focusCell.val.num : nullptr;
  auto fail = [&](const char* message, short item) {
    return ShowAlertDialog(message, item, focus) == 1 ? kShowAgain : kGiveUp;
  };

  int resolved = ResolveReferences(cells[DialogCell(kDataItem, kItemValue)],
                                   cells[DialogCell(kOutputItem, kItemValue)],
                                   kDataItem, kOutputItem, focus,
                                   g_dataRef.value, g_outputRef.value);
  if (resolved == kResolveEnd) return kGiveUp;
  if (resolved != kResolved) return kShowAgain;

  if (g_dataRef.table.count != 1) return fail(g_multiple, kDataItem);
  if (column::AreaColumns(g_dataRef) != 1) return fail(g_oneColumn, kDataItem);
  if (column::SameColumn(g_dataRef, g_outputRef)) return fail(g_overwrite, kOutputItem);

  // A failure in the data's rows is shown, then the pass goes on.
  bool again = false;
  if (g_maxRows == 0) ReadMaxRows();
  if (CoversWholeColumns(g_dataRef.value) && FindDataExtent(g_dataRef.value) == 0) {
    if (fail(g_noNumbers, kDataItem) == kGiveUp) return kGiveUp;
    again = true;
  } else {
    long rows = column::AreaRows(g_dataRef);
    if (rows < kMinRows || rows > g_maxRows) {
      if (fail(g_tooFewRows, kDataItem) == kGiveUp) return kGiveUp;
      again = true;
    } else if (!column::FirstCellsAreNumbers(g_dataRef)) {
      if (fail(g_noText, kDataItem) == kGiveUp) return kGiveUp;
      again = true;
    }
  }

  double smoothness = 0;
  if (!column::AnswerNumber(cells[DialogCell(kSmoothnessItem, kItemValue)], smoothness) ||
      !(smoothness >= gtn::kMinSmoothness && smoothness <= gtn::kMaxSmoothness)) {
    return fail(g_badSmoothness, kSmoothnessItem);
  }
  g_smoothness = static_cast<int>(smoothness);

  g_spanCount = 0;
  for (int k = 0; k < 4; ++k) {
    g_spanFlags[k] = Checked(cells[DialogCell(kFirstSpanItem + k, kItemValue)]);
    if (g_spanFlags[k]) {
      ++g_spanCount;
      g_longestSpan = kSpans[k];
    }
  }
  double option = 2;
  column::AnswerNumber(cells[DialogCell(kOptionItem, kItemValue)], option);
  g_together = static_cast<long>(option) % 2 == 1;
  if (g_spanCount == 0) return fail(g_noSpan, kFirstSpanItem);

  if (column::AreaRows(g_dataRef) < g_longestSpan + 2L) {
    return fail(g_together ? g_togetherShort : g_spanShort, kDataItem);
  }
  return again ? kShowAgain : kAccepted;
}

int Dialogs() {
  g_inputsChecked = false;
  g_inputsChecked = column::RunDialog(g_dialog, kDialogRows, g_dialogArray,
                                      g_remembered, CheckAnswer) == 1;
  return g_inputsChecked ? 1 : 0;
}

int Compute() {
  XLREF& output = g_outputRef.table.reftbl[0];
  const XLREF chosen = output;
  int result = 1;
  if (output.colFirst + g_spanCount - 1L > kLastColumn) {
    ShowAlert(g_columnsPastEdge, kAlertError);
    result = 0;
  }
  for (int k = 0; k < 4 && result == 1; ++k) {
    if (!g_spanFlags[k]) continue;
    int span = kSpans[k];
    int firstRow = g_together ? g_longestSpan : span;
    result = GTN_func(&g_dataRef.value, &g_outputRef.value, g_smoothness, span,
                      firstRow);
    if (result == 1 && output.colFirst < kLastColumn) {
      ++output.colFirst;
      output.colLast = output.colFirst;
    }
  }
  output = chosen;
  g_inputsChecked = false;
  return result;
}

void SelectOutput() {
  column::SelectCell(g_outputRef.value.val.mref.idSheet,
                     long{Area(g_dataRef).rwFirst} + kSelectedRowOffset,
                     Area(g_outputRef).colFirst);
}

// The macro's own checks: 1 when the arguments may be used, else 0 after
// the message.
int CheckArguments(bool dataTaken, const RefRecord& data, bool outputTaken,
                   const RefRecord& output, int smoothness, int span,
                   int firstRow) {
  if (g_maxRows == 0) ReadMaxRows();
  char* message = nullptr;
  long rows = dataTaken ? column::AreaRows(data) : 0;
  if (!dataTaken) {
    message = g_improperData;
  } else if (rows > g_maxRows || rows < gtn::kMacroMinRows) {
    message = gtn::g_rowCount;
  } else if (!gtn::SmoothnessAccepted(smoothness)) {
    message = gtn::g_smoothnessRange;
  } else if (!gtn::IsValidSpan(span)) {
    message = gtn::g_spanValue;
  } else if (rows < span + 2L) {
    message = gtn::g_spanRows;
  } else if (firstRow < 0) {
    message = g_firstRowValue;
  } else if (rows < firstRow + 2L) {
    message = g_firstRowRows;
  } else if (data.table.count != 1 || column::AreaColumns(data) != 1) {
    message = g_dataColumns;
  } else if (outputTaken && column::SameColumn(data, output)) {
    message = g_outputOverwrites;
  } else if (!outputTaken) {
    message = g_improperOutput;
  }
  if (message == nullptr) return 1;
  ShowAlert(message, kAlertError);
  return 0;
}

// The buffers of one run, all or none.
struct RunBuffers {
  double* x = nullptr;
  double* y = nullptr;
  XLOPER* band = nullptr;
  char* label = nullptr;

  bool Allocate(std::size_t n, std::size_t written) {
    x = static_cast<double*>(AllocGlobal(n * sizeof(double)));
    if (x != nullptr) y = static_cast<double*>(AllocGlobal(n * sizeof(double)));
    std::size_t bandCells = std::max<std::size_t>(
        1, std::min(written, column::BandRows()));
    if (y != nullptr) band = static_cast<XLOPER*>(AllocGlobal(bandCells * sizeof(XLOPER)));
    if (band != nullptr) label = static_cast<char*>(AllocGlobal(column::kLabelBufferSize));
    return label != nullptr;
  }
  ~RunBuffers() {
    FreeGlobal(x);
    FreeGlobal(y);
    FreeGlobal(band);
    FreeGlobal(label);
  }
};

}  // namespace

void PrepareCommand() {
  PrepareRef(g_dataRef);
  PrepareRef(g_outputRef);
}

}  // namespace hvt::gtn_command

using namespace hvt;
using namespace hvt::gtn_command;

extern "C" HVT_EXPORT short WINAPI GTNWrapper(void) {
  CommandSteps steps{g_aborted, Dialogs, Compute, SelectOutput};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI GTN_func(LPXLOPER dataRef, LPXLOPER outputRef,
                                         int smoothness, int span, int firstrow) {
  RefRecord data, output;
  PrepareRef(data);
  PrepareRef(output);
  bool dataTaken = column::TakeReference(dataRef, data);
  bool outputTaken = column::TakeReference(outputRef, output);
  const bool checked = g_inputsChecked;
  g_inputsChecked = false;
  if (!checked && CheckArguments(dataTaken, data, outputTaken, output, smoothness,
                                 span, firstrow) == 0) {
    return 0;
  }
  if (!dataTaken || !outputTaken) return 0;
  // Writing into a protected sheet would fail cell by cell; the dialog does
  // not look, so this is asked on every run.
  if (column::SheetProtected(output.value)) {
    ShowAlert(g_protected, kAlertError);
    return 0;
  }

  const std::size_t n = static_cast<std::size_t>(column::AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(firstrow) + 6;
  if (n < gtn::GtnMinRows(std::max(span, firstrow))) {
    ShowAlert(g_nothingToWrite, kAlertError);
    return 0;
  }
  const std::size_t written = n - skipped;

  RunBuffers buffers;
  if (!buffers.Allocate(n, written)) {
    ShowInsufficientMemory();
    return 0;
  }
  if (column::ReadColumn(data.value, buffers.x, n) != column::kReadDone) return -1;

  column::CommandObserver observer(ProgressText::kInt);
  gtn::GtnStatus status =
      gtn::GtnSeries(std::span<const double>(buffers.x, n), span, smoothness,
                     gtn::GtnTermOrder::CommandOrder,
                     std::span<double>(buffers.y, n), &observer);
  if (status != gtn::GtnStatus::Complete) {
    if (status == gtn::GtnStatus::OutOfMemory) ShowInsufficientMemory();
    ClearProgress();
    return status == gtn::GtnStatus::Stopped ? -1 : 0;
  }

  const XLREF& area = data.table.reftbl[0];
  const DWORD outputSheet = output.value.val.mref.idSheet;
  const long outputColumn = output.table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + static_cast<long>(skipped);
  column::WriteColumn(outputSheet, firstWritten, outputColumn, buffers.y + skipped,
                      written, buffers.band);

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%d_%d", span, smoothness);
  column::LabelAndFormat(data.value, outputSheet, outputColumn, firstWritten,
                         area.rwLast, suffix, buffers.label);
  ClearProgress();
  return 1;
}
