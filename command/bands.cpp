#include "command/bands.h"

#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"

namespace hvt {

bool ReadNumbers(const XLOPER& reference, double* values, std::size_t count) {
  const XLREF* area = FirstArea(reference);
  if (area == nullptr) return false;
  RefRecord whole, chunk;
  SetRecord(whole, reference.val.mref.idSheet, *area);
  PrepareRef(chunk);
  CopyRef(whole.value, chunk.value);
  const XLREF& band = chunk.table.reftbl[0];
  const std::size_t columns = static_cast<std::size_t>(AreaColumnCount(*area));
  std::size_t filled = 0;
  do {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    HostValue array;
    if (array.Call(xlCoerce, &chunk.value, TempInteger(xltypeMulti)) != xlretSuccess) {
      return false;
    }
    const XLOPER* cells = &array.get();
    std::size_t cellCount = 1;  // a one-cell band may come back as that cell
    if (array.type() == xltypeMulti) {
      cells = array.get().val.array.lparray;
      cellCount = cells == nullptr ? 0
                                   : std::size_t{static_cast<WORD>(array.get().val.array.rows)} *
                                         static_cast<WORD>(array.get().val.array.columns);
    }
    const std::size_t expected = static_cast<std::size_t>(AreaRowCount(band)) * columns;
    if (cellCount != expected || filled + cellCount > count) return false;
    for (std::size_t k = 0; k < cellCount; ++k) {
      if (BaseType(cells[k]) != xltypeNum) return false;
      values[filled + k] = cells[k].val.num;
    }
    filled += cellCount;
  } while (band.rwLast < area->rwLast);
  return filled == count;
}

bool ReadDataColumn(const XLOPER& reference, double* values, std::size_t count) {
  if (ReadNumbers(reference, values, count)) return true;
  ShowAlert(text::kNonNumber, kAlertError);
  return false;
}

bool WriteNumbers(IDSHEET sheet, const XLREF& area, const double* values,
                  XLOPER* scratch) {
  RefRecord whole, chunk;
  SetRecord(whole, sheet, area);
  PrepareRef(chunk);
  CopyRef(whole.value, chunk.value);
  const XLREF& band = chunk.table.reftbl[0];
  const std::size_t columns = static_cast<std::size_t>(AreaColumnCount(area));
  std::size_t written = 0;
  do {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    const std::size_t rows = static_cast<std::size_t>(AreaRowCount(band));
    const std::size_t cells = rows * columns;
    for (std::size_t k = 0; k < cells; ++k) {
      scratch[k].xltype = xltypeNum;
      scratch[k].val.num = values[written + k];
    }
    XLOPER array{};
    array.xltype = xltypeMulti;
    array.val.array.lparray = scratch;
    array.val.array.rows = static_cast<WORD>(rows);
    array.val.array.columns = static_cast<WORD>(columns);
    if (Excel4(xlSet, nullptr, 2, &chunk.value, &array) != xlretSuccess) return false;
    written += cells;
  } while (band.rwLast < area.rwLast);
  return true;
}

}  // namespace hvt
