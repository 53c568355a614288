// The SPD run: the menu command inside the command frame, and the macro that
// writes the rate-of-change column from row max(depth, 30) of the data on.
#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>

#include "command/column.h"
#include "command/column_run.h"
#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd.h"

namespace hvt::spd {

namespace {

long OutputOffset(int depth) { return std::max(depth, 30); }

// The macro body, from the arguments on, through either interface.
template <HostRecord Oper>
int RunMacro(Oper* dataRef, Oper* outputRef, int depth) {
  RefRecordOf<Oper> data, output;
  PrepareRef(data);
  PrepareRef(output);
  MacroArguments<Oper> arguments{.dataTaken = TakeReference(dataRef, data),
                                 .data = &data,
                                 .outputTaken = TakeReference(outputRef, output),
                                 .output = &output,
                                 .depth = depth};
  const bool checked = std::exchange(g_dialogChecked, false);
  if (!checked && !CheckMacroArguments(arguments)) return kMacroRefused;
  if (!arguments.dataTaken || !arguments.outputTaken || !OutputWritable(output)) {
    return kMacroRefused;
  }

  g_command.offset = OutputOffset(depth);
  const std::size_t n = static_cast<std::size_t>(AreaRows(data));
  const std::size_t skipped = static_cast<std::size_t>(g_command.offset);
  if (n <= skipped || n < SpdMinRows(depth)) {
    ShowAlert(text::kSpdNothingToWrite, kAlertError);
    return kMacroRefused;
  }

  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_D%d", depth);
  return RunColumn(ColumnRun<Oper>{.data = &data,
                                   .output = &output,
                                   .skipped = skipped,
                                   .progress = ProgressPolicy::OnChange(ProgressText::kLong),
                                   .inPlace = true,
                                   .suffix = suffix},
                   [depth](std::span<const double> x, std::span<double> y,
                           RunObserver* observer) {
                     return SpdSeries(x, {.depth = depth}, y, observer);
                   });
}

int ComputeStep() {
  int result = WideHost() ? Spd12(&g_command.data12.value, &g_command.output12.value,
                                  g_command.depth)
                          : Spd(&g_command.data.value, &g_command.output.value,
                                g_command.depth);
  g_dialogChecked = false;
  return result;
}

template <HostRecord Oper>
void SelectOutput() {
  SelectCell(OutputRecord<Oper>().value.val.mref.idSheet,
             long{InputRecord<Oper>().table.reftbl[0].rwFirst} + g_command.offset,
             OutputRecord<Oper>().table.reftbl[0].colFirst);
}

}  // namespace

}  // namespace hvt::spd

using namespace hvt;
using namespace hvt::spd;

extern "C" HVT_EXPORT int WINAPI SpdWrapper(void) {
  CommandSteps steps{text::kSpdAborted, RunSpdDialog, ComputeStep,
                     ThroughHostInterface<SelectOutput<XLOPER>, SelectOutput<XLOPER12>>};
  RunCommandFrame(steps);
  return 1;
}

extern "C" HVT_EXPORT int WINAPI Spd(LPXLOPER dataRef, LPXLOPER outputRef, int depth) {
  return RunMacro(dataRef, outputRef, depth);
}

extern "C" HVT_EXPORT int WINAPI Spd12(LPXLOPER12 dataRef, LPXLOPER12 outputRef, int depth) {
  return RunMacro(dataRef, outputRef, depth);
}
