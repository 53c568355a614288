// The GTN run: the menu command inside the command frame, one output column
// per chosen span (begun independently or all on the row of the longest
// span), and the macro that writes one of them.
#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>

#include "command/column.h"
#include "command/column_run.h"
#include "host/command_frame.h"
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
  const bool checked = std::exchange(g_dialogChecked, false);
  if (!checked && !CheckMacroArguments(arguments)) return kMacroRefused;
  if (!arguments.dataTaken || !arguments.outputTaken || !OutputWritable(output)) {
    return kMacroRefused;
  }

  const std::size_t n = static_cast<std::size_t>(AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(firstrow) + 6;
  if (n < GtnMinRows(std::max(span, firstrow))) {
    ShowAlert(text::kGtnNothingToWrite, kAlertError);
    return kMacroRefused;
  }

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_%d_%d", span, smoothness);
  const GtnSettings settings{
      .span = span, .smoothness = smoothness, .order = GtnTermOrder::CommandOrder};
  return RunColumn({.data = &data,
                    .output = &output,
                    .skipped = skipped,
                    .progress = ProgressPolicy::OnChange(ProgressText::kInt),
                    .suffix = suffix},
                   [&settings](std::span<const double> x, std::span<double> y,
                               RunObserver* observer) {
                     return GtnSeries(x, settings, y, observer);
                   });
}
