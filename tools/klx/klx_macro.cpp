// The KLX run: the menu command inside the command frame, and the KLX and
// PQE macros — read the data column, run the filter with progress and the
// break key, write the result, label the output.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "command/bands.h"
#include "command/column.h"
#include "command/label.h"
#include "command/run_observer.h"
#include "host/command_frame.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/klx/klx.h"

namespace hvt::klx {

namespace {

// The buffers one macro run holds; released on every way out.
template <HostRecord Oper>
struct RunBuffers {
  double* data = nullptr;
  double* output = nullptr;
  double* residuals = nullptr;
  Oper* band = nullptr;
  typename Interface<Oper>::Char* label = nullptr;
  ~RunBuffers() {
    FreeGlobal(data);
    FreeGlobal(output);
    FreeGlobal(residuals);
    FreeGlobal(band);
    FreeGlobal(label);
  }
};

enum class Filter { kKlx, kPqe };

// The body both macros share, from the records on, through either
// interface.
template <HostRecord Oper>
int RunMacro(Filter filter, const Oper& dataRef, const Oper& outputRef, double smoothness,
             double phase) {
  using Ref = typename Interface<Oper>::Ref;
  using Char = typename Interface<Oper>::Char;
  ProgressCleared cleared;
  const Ref& data = *FirstArea(dataRef);
  const Ref outArea = OutputArea(data, *FirstArea(outputRef));
  const IDSHEET outSheet = outputRef.val.mref.idSheet;
  const long n = AreaRowCount(data);
  const long outRows = AreaRowCount(outArea);
  if (n < kMinRows || outRows <= 0) return kMacroRefused;  // the checks keep this out
  const std::size_t count = static_cast<std::size_t>(n);
  // The dialog does not look at the output sheet's protection: asked on
  // every run, before anything is read or computed, as GTN and SPD do.
  if (SheetProtected(outputRef)) {
    ShowAlert(text::kOutputProtected, kAlertError);
    return kMacroRefused;
  }

  // Everything is had before anything is written, so running out of memory
  // leaves the workbook as it was.
  RunBuffers<Oper> buffers;
  buffers.data = static_cast<double*>(AllocGlobal(count * sizeof(double)));
  buffers.output = buffers.data != nullptr
                       ? static_cast<double*>(AllocGlobal(count * sizeof(double)))
                       : nullptr;
  bool held = buffers.output != nullptr;
  if (held && filter == Filter::kPqe) {
    buffers.residuals = static_cast<double*>(AllocGlobal(count * sizeof(double)));
    held = buffers.residuals != nullptr;
  }
  if (held) {
    std::size_t bandRows = std::min(static_cast<std::size_t>(outRows), BandCells());
    buffers.band = static_cast<Oper*>(AllocGlobal(bandRows * sizeof(Oper)));
    held = buffers.band != nullptr;
  }
  if (held) {
    buffers.label = static_cast<Char*>(AllocGlobal(kLabelBufferSize * sizeof(Char)));
    held = buffers.label != nullptr;
  }
  if (!held) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }

  if (!ReadDataColumn(dataRef, buffers.data, count)) return kMacroStopped;

  std::span<const double> x(buffers.data, count);
  std::span<double> y(buffers.output, count);
  CoreStatus status = CoreStatus::kComplete;
  if (filter == Filter::kKlx) {
    // Every warm-up row is shown, then only a changed percentage.
    CommandObserver observer(ProgressPolicy{ProgressText::kLong, kLeadRows, true});
    status = KlxFilter(x, {.smoothness = smoothness, .phase = phase}, y, &observer);
  } else {
    CommandObserver observer(ProgressPolicy::OnChange(ProgressText::kLong));
    status = PqeFilter(x, {.smoothness = smoothness}, y, &observer,
                       std::span<double>(buffers.residuals, count));
  }
  if (status != CoreStatus::kComplete) return UnfinishedRun(status);
  FreeGlobal(buffers.residuals);
  FreeGlobal(buffers.data);

  if (!WriteNumbers(outSheet, outArea, y.subspan(kLeadRows).data(), buffers.band)) {
    return kMacroRefused;
  }
  FreeGlobal(buffers.band);

  const double labelSmoothness =
      filter == Filter::kPqe ? PqeConstants::Derive(smoothness).s : smoothness;
  char smoothnessText[40];
  char phaseText[40];
  char suffix[96];
  SmoothnessText(labelSmoothness, smoothnessText, sizeof smoothnessText);
  PhaseText(phase, phaseText, sizeof phaseText);
  LabelSuffix(smoothnessText, filter == Filter::kKlx ? phaseText : nullptr, suffix,
              sizeof suffix);
  WriteLabel(LabelRequestOf<Oper>{.data = &dataRef,
              .outputSheet = outSheet,
              .outputColumn = outArea.colFirst,
              .labelRow = 0,
              .writtenFirst = outArea.rwFirst,
              .writtenLast = outArea.rwLast,
              .suffix = suffix,
              .buffer = buffers.label});
  return kMacroDone;
}

// The records a macro works on: the tool's own after the dialog, or its
// arguments checked here.
template <HostRecord Oper>
int RunChecked(Filter filter, Oper* dataRef, Oper* outputRef, double* smoothness,
               double* phase) {
  double s = smoothness != nullptr ? *smoothness : NAN;
  double p = phase != nullptr ? *phase : 0;
  RefRecordOf<Oper> data, output;
  PrepareRef(data);
  PrepareRef(output);
  if (!g_dialogChecked) {
    if (!DirectCallChecks(dataRef, outputRef, s, data, output)) return kMacroRefused;
  } else {
    int areas = 0;
    if (!ArgumentReference(dataRef, data, areas) ||
        !ArgumentReference(outputRef, output, areas)) {
      g_dialogChecked = false;
      return kMacroRefused;
    }
  }
  g_dialogChecked = false;
  return RunMacro(filter, data.value, output.value, s, p);
}

int ComputeStep() {
  if (WideHost()) {
    if (g_klxChosen) {
      return KLX12(&g_inputRef12.value, &g_outputRef12.value, &g_smoothness, &g_phase);
    }
    return HalPQEX12(&g_inputRef12.value, &g_outputRef12.value, &g_smoothness);
  }
  if (g_klxChosen) {
    return KLX(&g_inputRef.value, &g_outputRef.value, &g_smoothness, &g_phase);
  }
  return HalPQEX(&g_inputRef.value, &g_outputRef.value, &g_smoothness);
}

template <HostRecord Oper>
void SelectOutput() {
  const auto& in = InputRecord<Oper>().table.reftbl[0];
  const auto& out = OutputRecord<Oper>().table.reftbl[0];
  long row = std::min<long>(long{in.rwFirst} + kLeadRows, in.rwLast);
  SelectCell(OutputRecord<Oper>().value.val.mref.idSheet, row, out.colFirst);
}

}  // namespace

template <typename Ref>
Ref OutputArea(const Ref& data, const Ref& output) {
  return MakeArea<Ref>(std::min<long>(long{data.rwFirst} + kLeadRows, data.rwLast),
                       data.rwLast, output.colFirst, output.colFirst);
}
template XLREF OutputArea(const XLREF&, const XLREF&);
template XLREF12 OutputArea(const XLREF12&, const XLREF12&);

// ---- Label texts ----------------------------------------------------------------

void SmoothnessText(double smoothness, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  if (smoothness == 1e-10) {
    std::snprintf(out, capacity, "0");
  } else {
    std::snprintf(out, capacity, "%.4G", smoothness);
  }
}

void PhaseText(double phase, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  std::snprintf(out, capacity, "%.3G", phase);
}

void LabelSuffix(const char* smoothnessText, const char* phaseText, char* out,
                 std::size_t capacity) {
  if (phaseText != nullptr) {
    std::snprintf(out, capacity, "_S%s_P%s", smoothnessText, phaseText);
  } else {
    std::snprintf(out, capacity, "_S%s", smoothnessText);
  }
}

}  // namespace hvt::klx

extern "C" HVT_EXPORT int WINAPI KLXWrapper(void) {
  using namespace hvt;
  ReadHostVersion();
  static const CommandSteps steps = {
      .abortMessage = text::kKlxAborted,
      .dialogs = klx::RunKlxDialog,
      .compute = klx::ComputeStep,
      .selectOutput = ThroughHostInterface<klx::SelectOutput<XLOPER>, klx::SelectOutput<XLOPER12>>,
  };
  return RunCommandFrame(steps);
}

extern "C" HVT_EXPORT int WINAPI KLX(LPXLOPER dataRef, LPXLOPER outputRef,
                                     double* smoothness, double* phase) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kKlx, dataRef, outputRef,
                              smoothness, phase);
}

extern "C" HVT_EXPORT int WINAPI HalPQEX(LPXLOPER dataRef, LPXLOPER outputRef,
                                         double* smoothness) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kPqe, dataRef, outputRef,
                              smoothness, nullptr);
}

extern "C" HVT_EXPORT int WINAPI KLX12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                       double* smoothness, double* phase) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kKlx, dataRef, outputRef, smoothness,
                              phase);
}

extern "C" HVT_EXPORT int WINAPI HalPQEX12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                           double* smoothness) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kPqe, dataRef, outputRef, smoothness,
                              nullptr);
}
