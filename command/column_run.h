// The run of a one-column macro once its checks have passed: the buffers,
// all or none; the data read; the core under the command's observer; the
// values written below the rows the core leaves undefined; the label.
// Through either interface: the 4-series records on the old sheet, the
// 12-series ones on the big sheet with UTF-16 texts.
#ifndef HVT_COMMAND_COLUMN_RUN_H
#define HVT_COMMAND_COLUMN_RUN_H

#include <cstddef>
#include <span>

#include "command/bands.h"
#include "command/results.h"
#include "command/run_observer.h"
#include "host/interface.h"
#include "host/messages.h"
#include "host/references.h"
#include "sdk/xlcall.h"
#include "tools/core.h"

namespace hvt {

template <HostRecord Oper>
struct ColumnRun {
  const RefRecordOf<Oper>* data = nullptr;    // one column
  const RefRecordOf<Oper>* output = nullptr;  // its first cell's column is written
  std::size_t skipped = 0;                    // the data's leading rows left unwritten
  ProgressPolicy progress;
  bool inPlace = false;     // the core answers over its input
  const char* suffix = "";  // the label's, e.g. "_24_10"
};

// The buffers of one run; given back on every way out.
template <HostRecord Oper>
struct ColumnBuffers {
  double* x = nullptr;
  double* y = nullptr;  // none when the core answers in place
  Oper* band = nullptr;
  typename Interface<Oper>::Char* label = nullptr;

  ColumnBuffers() = default;
  ColumnBuffers(const ColumnBuffers&) = delete;
  ColumnBuffers& operator=(const ColumnBuffers&) = delete;
  ~ColumnBuffers();
  // All of them for `n` rows of which `written` are written; false (none
  // kept) when one cannot be had.
  bool Allocate(std::size_t n, std::size_t written, bool inPlace);
};

// Writes the core's answer `y` from row `skipped` on and the label.
template <HostRecord Oper>
MacroResult WriteColumnAnswer(const ColumnRun<Oper>& run, const double* y,
                              ColumnBuffers<Oper>& buffers);

// Runs `core(x, y, observer)` (answering a CoreStatus) over the data. The
// caller has checked that the data hold more rows than `skipped`.
template <HostRecord Oper, typename Core>
MacroResult RunColumn(const ColumnRun<Oper>& run, Core&& core) {
  const std::size_t n = static_cast<std::size_t>(AreaRowCount(run.data->table.reftbl[0]));
  ColumnBuffers<Oper> buffers;
  if (!buffers.Allocate(n, n - run.skipped, run.inPlace)) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
  if (!ReadDataColumn(run.data->value, buffers.x, n)) return kMacroStopped;

  ProgressCleared cleared;
  CommandObserver observer(run.progress);
  const std::span<double> x(buffers.x, n);
  const std::span<double> y = run.inPlace ? x : std::span<double>(buffers.y, n);
  const CoreStatus status = core(std::span<const double>(x), y, &observer);
  if (status != CoreStatus::kComplete) return UnfinishedRun(status);
  return WriteColumnAnswer(run, y.data(), buffers);
}

}  // namespace hvt

#endif  // HVT_COMMAND_COLUMN_RUN_H
