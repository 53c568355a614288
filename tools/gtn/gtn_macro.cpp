// The GTN run: the menu command inside the command frame, one output column
// per chosen span (begun independently or all on the row of the longest
// span), and the macro that writes one of them.
#include <algorithm>
#include <cstdio>
#include <span>

#include "command/bands.h"
#include "command/column.h"
#include "command/label.h"
#include "command/run_observer.h"
#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn.h"

namespace hvt::gtn {

namespace {

// The selection after a run: this many rows below the data's first row.
constexpr long kSelectedRowOffset = 30;

int Compute() {
  XLREF& output = g_command.output.table.reftbl[0];
  const XLREF chosen = output;
  int result = kMacroDone;
  if (output.colFirst + g_command.spanCount - 1L > kLastColumn) {
    ShowAlert(text::kGtnColumnsPastEdge, kAlertError);
    result = kMacroRefused;
  }
  for (int k = 0; k < 4 && result == kMacroDone; ++k) {
    if (!g_command.spanChosen[k]) continue;
    int span = kSpans[k];
    int firstRow = g_command.together ? g_command.longestSpan : span;
    result = GTN_func(&g_command.data.value, &g_command.output.value,
                      g_command.smoothness, span, firstRow);
    if (result == kMacroDone && output.colFirst < kLastColumn) {
      ++output.colFirst;
      output.colLast = output.colFirst;
    }
  }
  output = chosen;
  g_dialogChecked = false;
  return result;
}

void SelectOutput() {
  SelectCell(g_command.output.value.val.mref.idSheet,
             long{g_command.data.table.reftbl[0].rwFirst} + kSelectedRowOffset,
             g_command.output.table.reftbl[0].colFirst);
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
    std::size_t bandCells = std::max<std::size_t>(1, std::min(written, BandCells()));
    if (y != nullptr) band = static_cast<XLOPER*>(AllocGlobal(bandCells * sizeof(XLOPER)));
    if (band != nullptr) label = static_cast<char*>(AllocGlobal(kLabelBufferSize));
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

}  // namespace hvt::gtn

using namespace hvt;
using namespace hvt::gtn;

extern "C" HVT_EXPORT short WINAPI GTNWrapper(void) {
  CommandSteps steps{text::kGtnAborted, RunGtnDialog, Compute, SelectOutput};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI GTN_func(LPXLOPER dataRef, LPXLOPER outputRef,
                                         int smoothness, int span, int firstrow) {
  RefRecord data, output;
  PrepareRef(data);
  PrepareRef(output);
  MacroArguments arguments{.dataTaken = TakeReference(dataRef, data),
                           .data = &data,
                           .outputTaken = TakeReference(outputRef, output),
                           .output = &output,
                           .smoothness = smoothness,
                           .span = span,
                           .firstRow = firstrow};
  const bool checked = g_dialogChecked;
  g_dialogChecked = false;
  if (!checked && !CheckMacroArguments(arguments)) return kMacroRefused;
  if (!arguments.dataTaken || !arguments.outputTaken) return kMacroRefused;
  // Writing into a protected sheet would fail cell by cell; the dialog does
  // not look, so this is asked on every run.
  if (SheetProtected(output.value)) {
    ShowAlert(text::kOutputProtected, kAlertError);
    return kMacroRefused;
  }

  const std::size_t n = static_cast<std::size_t>(AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(firstrow) + 6;
  if (n < GtnMinRows(std::max(span, firstrow))) {
    ShowAlert(text::kGtnNothingToWrite, kAlertError);
    return kMacroRefused;
  }
  const std::size_t written = n - skipped;

  RunBuffers buffers;
  if (!buffers.Allocate(n, written)) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
  if (!ReadDataColumn(data.value, buffers.x, n)) return kMacroStopped;

  ProgressCleared cleared;
  CommandObserver observer(ProgressPolicy::OnChange(ProgressText::kInt));
  const CoreStatus status =
      GtnSeries(std::span<const double>(buffers.x, n),
                {.span = span, .smoothness = smoothness, .order = GtnTermOrder::CommandOrder},
                std::span<double>(buffers.y, n), &observer);
  if (status != CoreStatus::kComplete) return UnfinishedRun(status);

  const XLREF& area = data.table.reftbl[0];
  const IDSHEET outputSheet = output.value.val.mref.idSheet;
  const long outputColumn = output.table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + static_cast<long>(skipped);
  if (!WriteNumbers(outputSheet,
                    MakeArea(firstWritten, area.rwLast, outputColumn, outputColumn),
                    buffers.y + skipped, buffers.band)) {
    return kMacroRefused;
  }

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%d_%d", span, smoothness);
  WriteLabel({.data = &data.value,
              .outputSheet = outputSheet,
              .outputColumn = outputColumn,
              .labelRow = 0,  // the sheet's first row, as KLX's
              .writtenFirst = firstWritten,
              .writtenLast = area.rwLast,
              .suffix = suffix,
              .buffer = buffers.label});
  return kMacroDone;
}
