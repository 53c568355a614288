#include "command/column_run.h"

#include <algorithm>

#include "command/bands.h"
#include "command/label.h"
#include "host/host_values.h"

namespace hvt {

template <HostRecord Oper>
ColumnBuffers<Oper>::~ColumnBuffers() {
  FreeGlobal(x);
  FreeGlobal(y);
  FreeGlobal(band);
  FreeGlobal(label);
}

template <HostRecord Oper>
bool ColumnBuffers<Oper>::Allocate(std::size_t n, std::size_t written, bool inPlace) {
  using Char = typename Interface<Oper>::Char;
  x = static_cast<double*>(AllocGlobal(n * sizeof(double)));
  if (x != nullptr && !inPlace) y = static_cast<double*>(AllocGlobal(n * sizeof(double)));
  const std::size_t bandCells = std::max<std::size_t>(1, std::min(written, BandCells()));
  if (x != nullptr && (inPlace || y != nullptr)) {
    band = static_cast<Oper*>(AllocGlobal(bandCells * sizeof(Oper)));
  }
  if (band != nullptr) label = static_cast<Char*>(AllocGlobal(kLabelBufferSize * sizeof(Char)));
  return label != nullptr;
}

template <HostRecord Oper>
MacroResult WriteColumnAnswer(const ColumnRun<Oper>& run, const double* y,
                              ColumnBuffers<Oper>& buffers) {
  using Ref = typename Interface<Oper>::Ref;
  const Ref& area = run.data->table.reftbl[0];
  const IDSHEET outputSheet = run.output->value.val.mref.idSheet;
  const long outputColumn = run.output->table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + static_cast<long>(run.skipped);
  if (!WriteNumbers(outputSheet,
                    MakeArea<Ref>(firstWritten, area.rwLast, outputColumn, outputColumn),
                    y + run.skipped, buffers.band)) {
    return kMacroRefused;
  }
  WriteLabel(LabelRequestOf<Oper>{.data = &run.data->value,
                                  .outputSheet = outputSheet,
                                  .outputColumn = outputColumn,
                                  .labelRow = 0,  // the sheet's first row, as KLX's
                                  .writtenFirst = firstWritten,
                                  .writtenLast = area.rwLast,
                                  .suffix = run.suffix,
                                  .buffer = buffers.label});
  return kMacroDone;
}

template struct ColumnBuffers<XLOPER>;
template struct ColumnBuffers<XLOPER12>;
template MacroResult WriteColumnAnswer(const ColumnRun<XLOPER>&, const double*,
                                       ColumnBuffers<XLOPER>&);
template MacroResult WriteColumnAnswer(const ColumnRun<XLOPER12>&, const double*,
                                       ColumnBuffers<XLOPER12>&);

}  // namespace hvt
