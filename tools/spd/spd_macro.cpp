// The SPD run: the menu command inside the command frame, and the macro that
// writes the rate-of-change column from row max(depth, 30) of the data on.
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
#include "tools/spd/core/spd.h"
#include "tools/spd/spd.h"

namespace hvt::spd {

namespace {

long OutputOffset(int depth) { return std::max(depth, 30); }

int Compute() {
  int result = Spd(&g_command.data.value, &g_command.output.value, g_command.depth);
  g_dialogChecked = false;
  return result;
}

void SelectOutput() {
  SelectCell(g_command.output.value.val.mref.idSheet,
             long{g_command.data.table.reftbl[0].rwFirst} + g_command.offset,
             g_command.output.table.reftbl[0].colFirst);
}

// The buffers of one run, all or none.
struct RunBuffers {
  double* x = nullptr;
  XLOPER* band = nullptr;
  char* label = nullptr;

  bool Allocate(std::size_t n, std::size_t written) {
    x = static_cast<double*>(AllocGlobal(n * sizeof(double)));
    std::size_t bandCells = std::max<std::size_t>(1, std::min(written, BandCells()));
    if (x != nullptr) band = static_cast<XLOPER*>(AllocGlobal(bandCells * sizeof(XLOPER)));
    if (band != nullptr) label = static_cast<char*>(AllocGlobal(kLabelBufferSize));
    return label != nullptr;
  }
  ~RunBuffers() {
    FreeGlobal(x);
    FreeGlobal(band);
    FreeGlobal(label);
  }
};

}  // namespace

}  // namespace hvt::spd

using namespace hvt;
using namespace hvt::spd;

extern "C" HVT_EXPORT int WINAPI SpdWrapper(void) {
  CommandSteps steps{text::kSpdAborted, RunSpdDialog, Compute, SelectOutput};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth) {
  RefRecord data, output;
  PrepareRef(data);
  PrepareRef(output);
  MacroArguments arguments{.dataTaken = TakeReference(dataRef, data),
                           .data = &data,
                           .outputTaken = TakeReference(outputRef, output),
                           .output = &output,
                           .depth = depth};
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

  g_command.offset = OutputOffset(depth);
  const std::size_t n = static_cast<std::size_t>(AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(g_command.offset);
  if (n <= skipped || n < SpdMinRows(depth)) {
    ShowAlert(text::kSpdNothingToWrite, kAlertError);
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
  CommandObserver observer(ProgressPolicy::OnChange(ProgressText::kLong));
  std::span<double> series(buffers.x, n);
  const CoreStatus status = SpdSeries(series, {.depth = depth}, series, &observer);
  if (status != CoreStatus::kComplete) return UnfinishedRun(status);

  const XLREF& area = data.table.reftbl[0];
  const IDSHEET outputSheet = output.value.val.mref.idSheet;
  const long outputColumn = output.table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + g_command.offset;
  if (!WriteNumbers(outputSheet,
                    MakeArea(firstWritten, area.rwLast, outputColumn, outputColumn),
                    buffers.x + skipped, buffers.band)) {
    return kMacroRefused;
  }

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_D%d", depth);
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
