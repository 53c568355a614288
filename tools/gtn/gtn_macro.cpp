// The GTN run: the menu command inside the command frame, one output column
// per chosen span (begun independently or all on the row of the longest
// span), and the macro that writes one of them.
#include <algorithm>
#include <concepts>
#include <cstdio>
#include <span>
#include <utility>

#include "command/column.h"
#include "command/column_run.h"
#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn.h"

namespace hvt::gtn {

namespace {

// The selection after a run: this many rows below the data's first row.
constexpr long kSelectedRowOffset = 30;

// The macro body, from the arguments on, through either interface.
template <HostRecord Oper>
int RunMacro(Oper* dataRef, Oper* outputRef, int smoothness, int span, int firstrow) {
  RefRecordOf<Oper> data, output;
  PrepareRef(data);
  PrepareRef(output);
  MacroArguments<Oper> arguments{.dataTaken = TakeReference(dataRef, data),
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
  return RunColumn(ColumnRun<Oper>{.data = &data,
                                   .output = &output,
                                   .skipped = skipped,
                                   .progress = ProgressPolicy::OnChange(ProgressText::kInt),
                                   .suffix = suffix},
                   [&settings](std::span<const double> x, std::span<double> y,
                               RunObserver* observer) {
                     return GtnSeries(x, settings, y, observer);
                   });
}

// One output column per chosen span, through the macro of the interface the
// command runs on.
template <HostRecord Oper>
int Compute() {
  auto& output = OutputRecord<Oper>().table.reftbl[0];
  const auto chosen = output;
  constexpr long kLast = LastColumn<Oper>();
  int result = kMacroDone;
  if (output.colFirst + g_command.spanCount - 1L > kLast) {
    ShowAlert(text::kGtnColumnsPastEdge, kAlertError);
    result = kMacroRefused;
  }
  for (int k = 0; k < 4 && result == kMacroDone; ++k) {
    if (!g_command.spanChosen[k]) continue;
    int span = kSpans[k];
    int firstRow = g_command.together ? g_command.longestSpan : span;
    if constexpr (std::same_as<Oper, XLOPER12>) {
      result = GTN_func12(&InputRecord<Oper>().value, &OutputRecord<Oper>().value,
                          g_command.smoothness, span, firstRow);
    } else {
      result = GTN_func(&InputRecord<Oper>().value, &OutputRecord<Oper>().value,
                        g_command.smoothness, span, firstRow);
    }
    if (result == kMacroDone && output.colFirst < kLast) {
      ++output.colFirst;
      output.colLast = output.colFirst;
    }
  }
  output = chosen;
  g_dialogChecked = false;
  return result;
}

int ComputeStep() { return WideHost() ? Compute<XLOPER12>() : Compute<XLOPER>(); }

template <HostRecord Oper>
void SelectOutput() {
  SelectCell(OutputRecord<Oper>().value.val.mref.idSheet,
             long{InputRecord<Oper>().table.reftbl[0].rwFirst} + kSelectedRowOffset,
             OutputRecord<Oper>().table.reftbl[0].colFirst);
}

}  // namespace

}  // namespace hvt::gtn

using namespace hvt;
using namespace hvt::gtn;

extern "C" HVT_EXPORT short WINAPI GTNWrapper(void) {
  CommandSteps steps{text::kGtnAborted, RunGtnDialog, ComputeStep,
                     ThroughHostInterface<SelectOutput<XLOPER>, SelectOutput<XLOPER12>>};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI GTN_func(LPXLOPER dataRef, LPXLOPER outputRef,
                                         int smoothness, int span, int firstrow) {
  return RunMacro(dataRef, outputRef, smoothness, span, firstrow);
}

extern "C" HVT_EXPORT int WINAPI GTN_func12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                           int smoothness, int span, int firstrow) {
  return RunMacro(dataRef, outputRef, smoothness, span, firstrow);
}
