#include "command/column_run.h"

#include <algorithm>

#include "command/bands.h"
#include "command/label.h"
#include "host/host_values.h"

namespace hvt {

ColumnBuffers::~ColumnBuffers() {
  FreeGlobal(x);
  FreeGlobal(y);
  FreeGlobal(band);
  FreeGlobal(label);
}

bool ColumnBuffers::Allocate(std::size_t n, std::size_t written, bool inPlace) {
  x = static_cast<double*>(AllocGlobal(n * sizeof(double)));
  if (x != nullptr && !inPlace) y = static_cast<double*>(AllocGlobal(n * sizeof(double)));
  const std::size_t bandCells = std::max<std::size_t>(1, std::min(written, BandCells()));
  if (x != nullptr && (inPlace || y != nullptr)) {
    band = static_cast<XLOPER*>(AllocGlobal(bandCells * sizeof(XLOPER)));
  }
  if (band != nullptr) label = static_cast<char*>(AllocGlobal(kLabelBufferSize));
  return label != nullptr;
}

MacroResult WriteColumnAnswer(const ColumnRun& run, const double* y, ColumnBuffers& buffers) {
  const XLREF& area = run.data->table.reftbl[0];
  const IDSHEET outputSheet = run.output->value.val.mref.idSheet;
  const long outputColumn = run.output->table.reftbl[0].colFirst;
  const long firstWritten = long{area.rwFirst} + static_cast<long>(run.skipped);
  if (!WriteNumbers(outputSheet, MakeArea(firstWritten, area.rwLast, outputColumn, outputColumn),
                    y + run.skipped, buffers.band)) {
    return kMacroRefused;
  }
  WriteLabel({.data = &run.data->value,
              .outputSheet = outputSheet,
              .outputColumn = outputColumn,
              .labelRow = 0,  // the sheet's first row, as KLX's
              .writtenFirst = firstWritten,
              .writtenLast = area.rwLast,
              .suffix = run.suffix,
              .buffer = buffers.label});
  return kMacroDone;
}

}  // namespace hvt
