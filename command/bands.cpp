#include "command/bands.h"

#include <algorithm>

#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"

namespace hvt {

namespace {

// Calls step(band, cellsBefore) for each band of rows of `area` holding at
// most kChunkCells cells (at least one row however wide), top to bottom,
// until a step answers false. False when one did.
template <typename Ref, typename Step>
bool ForEachBand(const Ref& area, Step&& step) {
  const long rows = long{area.rwLast} - long{area.rwFirst} + 1;
  const long columns = long{area.colLast} - long{area.colFirst} + 1;
  if (rows <= 0 || columns <= 0) return false;
  const long bandRows = rows * columns <= kChunkCells ? rows : std::max(1L, kChunkCells / columns);
  std::size_t before = 0;
  for (long first = area.rwFirst; first <= long{area.rwLast}; first += bandRows) {
    Ref band = area;
    band.rwFirst = static_cast<decltype(band.rwFirst)>(first);
    band.rwLast = static_cast<decltype(band.rwLast)>(std::min(first + bandRows - 1,
                                                              long{area.rwLast}));
    if (!step(band, before)) return false;
    before += static_cast<std::size_t>(long{band.rwLast} - first + 1) *
              static_cast<std::size_t>(columns);
  }
  return true;
}

// The answer of xlCoerce, given back when it goes.
template <typename Oper>
struct Coerced {
  Oper value{};
  bool filled = false;
  ~Coerced() {
    if (filled) GiveBack(value);
  }
};

}  // namespace

template <typename Oper>
bool ReadNumbers(const Oper& reference, double* values, std::size_t count) {
  if (TypeOf(reference) != xltypeRef || reference.val.mref.lpmref == nullptr ||
      reference.val.mref.lpmref->count == 0) {
    return false;
  }
  const auto& area = reference.val.mref.lpmref->reftbl[0];
  const std::size_t columns = static_cast<std::size_t>(long{area.colLast} - area.colFirst + 1);
  const IDSHEET sheet = reference.val.mref.idSheet;
  std::size_t filled = 0;
  bool read = ForEachBand(area, [&](const auto& band, std::size_t before) {
    typename Interface<Oper>::Table table;
    Oper bandRef = AreaRef(table, sheet, band);
    Coerced<Oper> array;
    Oper wanted = IntegerValue<Oper>(xltypeMulti);
    if (HostCall(xlCoerce, &array.value, &bandRef, &wanted) != xlretSuccess) return false;
    array.filled = true;
    const Oper* cells = &array.value;
    std::size_t cellCount = 1;  // a one-cell band may come back as that cell
    if (TypeOf(array.value) == xltypeMulti) {
      cells = array.value.val.array.lparray;
      cellCount = cells == nullptr
                      ? 0
                      : static_cast<std::size_t>(array.value.val.array.rows) *
                            static_cast<std::size_t>(array.value.val.array.columns);
    }
    const std::size_t expected =
        static_cast<std::size_t>(long{band.rwLast} - band.rwFirst + 1) * columns;
    if (cellCount != expected || before + cellCount > count) return false;
    for (std::size_t k = 0; k < cellCount; ++k) {
      if (TypeOf(cells[k]) != xltypeNum) return false;
      values[before + k] = cells[k].val.num;
    }
    filled = before + cellCount;
    return true;
  });
  return read && filled == count;
}

template <typename Oper>
bool ReadDataColumn(const Oper& reference, double* values, std::size_t count) {
  if (ReadNumbers(reference, values, count)) return true;
  ShowAlert(text::kNonNumber, kAlertError);
  return false;
}

template <typename Oper>
bool WriteNumbers(IDSHEET sheet, const typename Interface<Oper>::Ref& area, const double* values,
                  Oper* scratch) {
  const std::size_t columns = static_cast<std::size_t>(long{area.colLast} - area.colFirst + 1);
  return ForEachBand(area, [&](const auto& band, std::size_t before) {
    const std::size_t rows = static_cast<std::size_t>(long{band.rwLast} - band.rwFirst + 1);
    const std::size_t cells = rows * columns;
    for (std::size_t k = 0; k < cells; ++k) {
      scratch[k].xltype = xltypeNum;
      scratch[k].val.num = values[before + k];
    }
    typename Interface<Oper>::Table table;
    Oper bandRef = AreaRef(table, sheet, band);
    Oper array{};
    array.xltype = xltypeMulti;
    array.val.array.lparray = scratch;
    array.val.array.rows = static_cast<decltype(array.val.array.rows)>(rows);
    array.val.array.columns = static_cast<decltype(array.val.array.columns)>(columns);
    return HostCall(xlSet, static_cast<Oper*>(nullptr), &bandRef, &array) == xlretSuccess;
  });
}

template bool ReadDataColumn(const XLOPER&, double*, std::size_t);
template bool ReadDataColumn(const XLOPER12&, double*, std::size_t);
template bool ReadNumbers(const XLOPER&, double*, std::size_t);
template bool ReadNumbers(const XLOPER12&, double*, std::size_t);
template bool WriteNumbers(IDSHEET, const XLREF&, const double*, XLOPER*);
template bool WriteNumbers(IDSHEET, const XLREF12&, const double*, XLOPER12*);

}  // namespace hvt
