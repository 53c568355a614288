// The SPD menu command and its macro: the rate-of-change column written
// from row max(depth, 30) of the data on.
#include "tools/spd/spd_command.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "tools/column_command.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd_settings.h"

namespace hvt::spd_command {

DialogRow g_dialog[kDialogRows] = {
    {{" ", " ", " ", " 320", " 154", " Spd", " 2"}},
    {{" 5", " 10", " 12", " ", " ", " &Data Reference: ", " "}},
    {{" 10", " 10", " 27", " 292", " ", " ", " "}},
    {{" 5", " 10", " 51", " ", " ", " &Write to Column: ", " "}},
    {{" 10", " 10", " 66", " 292", " ", " ", " "}},
    {{" 5", " 10", " 90", " ", " ", " De&pth ( >1 ): ", " "}},
    {{" 7", " 10", " 105", " 160", " ", " ", " 10"}},
    {{" 1", " 207", " 94", " 88", " ", " &OK", " "}},
    {{" 2", " 207", " 121", " 88", " ", " &Cancel", " "}},
};
XLOPER g_dialogArray;
XLOPER g_remembered;

namespace {

// Dialog items.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kDepthItem = 6;

constexpr long kMinRows = 32;

RefRecord g_dataRef;
RefRecord g_outputRef;
int g_depth = 10;
long g_offset = 30;
bool g_inputsChecked = false;

char g_aborted[] = " SPD_32.XLL Aborted!";
char g_multiple[] = " Your input reference must not be a multiple reference!";
char g_oneColumn[] = " Your input reference must be ONE column only!";
char g_overwrite[] = " Your output must not overwrite your input!";
char g_noNumbers[] = " Your input column has no numbers in it!";
char g_badDepth[] = " Depth must be a number between 2 and 500 inclusive!";
char g_notEnoughRows[] =
    " Not enough rows in your input reference! You need at least 32 data "
    "rows, and there must be more data rows than your depth value.";
char g_noText[] =
    " You must not include text, titles, or blank cells in your input "
    "reference.";

char g_improperData[] = " Your data reference is improper! Use complete reference.";
char g_nothingToWrite[] =
    " Your data set is too short to calculate any results for the Depth you "
    "selected.";
char g_dataColumns[] = " Your data set must be in one column only!";
char g_outputOverwrites[] = " Your output will overwrite your input!";
char g_improperOutput[] =
    " Your output reference is improper! Use complete reference.";
char g_protected[] = " Your output document is protected.";


const XLREF& Area(const RefRecord& record) { return record.table.reftbl[0]; }


using column::kAccepted;
using column::kGiveUp;
using column::kShowAgain;

long OutputOffset(int depth) { return std::max(depth, 30); }

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

  // These two are shown, then the pass goes on.
  bool again = false;
  if (g_maxRows == 0) ReadMaxRows();
  if (CoversWholeColumns(g_dataRef.value) && FindDataExtent(g_dataRef.value) == 0) {
    if (fail(g_noNumbers, kDataItem) == kGiveUp) return kGiveUp;
    again = true;
  }
  double depth = 0;
  if (!column::AnswerNumber(cells[DialogCell(kDepthItem, kItemValue)], depth) ||
      !(depth >= spd::kMinDepth && depth <= spd::kMaxDepth)) {
    if (fail(g_badDepth, kDepthItem) == kGiveUp) return kGiveUp;
    again = true;
  } else {
    g_depth = static_cast<int>(depth);
  }

  long rows = column::AreaRows(g_dataRef);
  if (rows < kMinRows || rows <= g_depth) return fail(g_notEnoughRows, kDataItem);
  if (!column::FirstCellsAreNumbers(g_dataRef)) return fail(g_noText, kDataItem);
  return again ? kShowAgain : kAccepted;
}

int Dialogs() {
  g_inputsChecked = false;
  g_inputsChecked = column::RunDialog(g_dialog, kDialogRows, g_dialogArray,
                                      g_remembered, CheckAnswer) == 1;
  return g_inputsChecked ? 1 : 0;
}

int Compute() {
  int result = Spd(&g_dataRef.value, &g_outputRef.value, g_depth);
  g_inputsChecked = false;
  return result;
}

void SelectOutput() {
  column::SelectCell(g_outputRef.value.val.mref.idSheet,
                     long{Area(g_dataRef).rwFirst} + g_offset,
                     Area(g_outputRef).colFirst);
}

// The macro's own checks: 1 when the arguments may be used, else 0 after
// the message.
int CheckArguments(bool dataTaken, const RefRecord& data, bool outputTaken,
                   const RefRecord& output, int depth) {
  if (g_maxRows == 0) ReadMaxRows();
  char* message = nullptr;
  long rows = dataTaken ? column::AreaRows(data) : 0;
  if (!dataTaken) {
    message = g_improperData;
  } else if (rows > g_maxRows || rows < std::max<long>(depth, kMinRows)) {
    message = spd::g_rowCount;
  } else if (!spd::DepthAccepted(depth)) {
    message = spd::g_depthRange;
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
  XLOPER* band = nullptr;
  char* label = nullptr;

  bool Allocate(std::size_t n, std::size_t written) {
    x = static_cast<double*>(AllocGlobal(n * sizeof(double)));
    std::size_t bandCells = std::max<std::size_t>(
        1, std::min(written, column::BandRows()));
    if (x != nullptr) band = static_cast<XLOPER*>(AllocGlobal(bandCells * sizeof(XLOPER)));
    if (band != nullptr) label = static_cast<char*>(AllocGlobal(column::kLabelBufferSize));
    return label != nullptr;
  }
  ~RunBuffers() {
    FreeGlobal(x);
    FreeGlobal(band);
    FreeGlobal(label);
  }
};

}  // namespace

void PrepareCommand() {
  PrepareRef(g_dataRef);
  PrepareRef(g_outputRef);
}

}  // namespace hvt::spd_command

using namespace hvt;
using namespace hvt::spd_command;

extern "C" HVT_EXPORT int WINAPI SpdWrapper(void) {
  CommandSteps steps{g_aborted, Dialogs, Compute, SelectOutput};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth) {
  RefRecord data, output;
  PrepareRef(data);
  PrepareRef(output);
  bool dataTaken = column::TakeReference(dataRef, data);
  bool outputTaken = column::TakeReference(outputRef, output);
  const bool checked = g_inputsChecked;
  g_inputsChecked = false;
  if (!checked && CheckArguments(dataTaken, data, outputTaken, output, depth) == 0) {
    return 0;
  }
  if (!dataTaken || !outputTaken) return 0;
  // Writing into a protected sheet would fail cell by cell; the dialog does
  // not look, so this is asked on every run.
  if (column::SheetProtected(output.value)) {
    ShowAlert(g_protected, kAlertError);
    return 0;
  }

  g_offset = OutputOffset(depth);
  const std::size_t n = static_cast<std::size_t>(column::AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(g_offset);
  if (n <= skipped || n < spd::SpdMinRows(depth)) {
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

  column::CommandObserver observer(ProgressText::kLong);
  std::span<double> series(buffers.x, n);
  spd::SpdStatus status = spd::SpdSeries(series, depth, series, &observer);
  if (status != spd::SpdStatus::Complete) {
    if (status == spd::SpdStatus::OutOfMemory) ShowInsufficientMemory();
    ClearProgress();
    return status == spd::SpdStatus::Stopped ? -1 : 0;
  }

  const XLREF& area = data.table.reftbl[0];
  const DWORD outputSheet = output.value.val.mref.idSheet;
  const long outputColumn = output.table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + g_offset;
  column::WriteColumn(outputSheet, firstWritten, outputColumn, buffers.x + skipped,
                      written, buffers.band);

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_D%d", depth);
  column::LabelAndFormat(data.value, outputSheet, outputColumn, firstWritten,
                         area.rwLast, suffix, buffers.label);
  ClearProgress();
  return 1;
}
