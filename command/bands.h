// The one band reader and the one band writer: every command reads its data
// and writes its output through these, a band of rows at a time, so no host
// array ever holds more than kChunkCells cells. Both serve the 4-series
// (XLOPER, the old sheet) and the 12-series (XLOPER12, 1,048,576 rows).
#ifndef HVT_COMMAND_BANDS_H
#define HVT_COMMAND_BANDS_H

#include <cstddef>

#include "host/references.h"
#include "host/worksheet_args.h"
#include "sdk/xlcall.h"

namespace hvt {

// Reads the numbers of a reference's first area, row by row (row-major),
// into values[0..count-1]. False, with nothing shown, when a cell is not a
// number, the host refuses a band or the area does not hold exactly
// `count` cells; values may then be partly filled.
template <typename Oper>
bool ReadNumbers(const Oper& reference, double* values, std::size_t count);

// ReadNumbers, showing "Your data set contains a non-number!" when it
// fails.
template <typename Oper>
bool ReadDataColumn(const Oper& reference, double* values, std::size_t count);

// Cells a band holds at most: the scratch a writer needs is
// min(cells of the area, BandCells()).
constexpr std::size_t BandCells() { return static_cast<std::size_t>(kChunkCells); }

// Writes values row-major into the area of `sheet`, band by band, each band
// set with xlSet from `scratch`. A band the host refuses ends the write:
// the bands before it stay written, none after it is tried, and the answer
// is false.
template <typename Oper>
bool WriteNumbers(IDSHEET sheet, const typename Interface<Oper>::Ref& area,
                  const double* values, Oper* scratch);

}  // namespace hvt

#endif  // HVT_COMMAND_BANDS_H
