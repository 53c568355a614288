#include "command/bands.h"

#include <algorithm>

#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"

namespace hvt {

namespace {

// The interface's calls the bands need: xlCoerce to an array, xlSet and
// xlFree. The 4-series goes through CallExcel, as every other call of the
// add-in does.
int CoerceToArray(XLOPER& band, XLOPER& array) {
  return CallExcel(xlCoerce, &array, 2, &band, TempInteger(xltypeMulti));
}
int CoerceToArray(XLOPER12& band, XLOPER12& array) {
  XLOPER12 type{};
  type.xltype = xltypeInt;
  type.val.w = xltypeMulti;
  return Excel12(xlCoerce, &array, 2, &band, &type);
}
int SetCells(XLOPER& band, XLOPER& array) { return Excel4(xlSet, nullptr, 2, &band, &array); }
int SetCells(XLOPER12& band, XLOPER12& array) {
  return Excel12(xlSet, nullptr, 2, &band, &array);
}
void Release(XLOPER& value) { ReleaseHostValue(value); }
void Release(XLOPER12& value) { Excel12(xlFree, nullptr, 1, &value); }

template <typename Oper>
DWORD BaseTypeOf(const Oper& value) {
  return value.xltype & ~static_cast<DWORD>(xlbitXLFree | xlbitDLLFree);
}

// A one-area reference to `area` of `sheet`, backed by `table`.
template <typename Oper>
Oper AreaValue(typename Interface<Oper>::Table& table, IDSHEET sheet,
               const typename Interface<Oper>::Ref& area) {
  table.count = 1;
  table.reftbl[0] = area;
  Oper value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}

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
    if (filled) Release(value);
  }
};

}  // namespace

template <typename Oper>
bool ReadNumbers(const Oper& reference, double* values, std::size_t count) {
  if (BaseTypeOf(reference) != xltypeRef || reference.val.mref.lpmref == nullptr ||
      reference.val.mref.lpmref->count == 0) {
    return false;
  }
  const auto& area = reference.val.mref.lpmref->reftbl[0];
  const std::size_t columns = static_cast<std::size_t>(long{area.colLast} - area.colFirst + 1);
  const IDSHEET sheet = reference.val.mref.idSheet;
  std::size_t filled = 0;
  bool read = ForEachBand(area, [&](const auto& band, std::size_t before) {
    typename Interface<Oper>::Table table;
    Oper bandRef = AreaValue<Oper>(table, sheet, band);
    Coerced<Oper> array;
    if (CoerceToArray(bandRef, array.value) != xlretSuccess) return false;
    array.filled = true;
    const Oper* cells = &array.value;
    std::size_t cellCount = 1;  // a one-cell band may come back as that cell
    if (BaseTypeOf(array.value) == xltypeMulti) {
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
      if (BaseTypeOf(cells[k]) != xltypeNum) return false;
      values[before + k] = cells[k].val.num;
    }
    filled = before + cellCount;
    return true;
  });
  return read && filled == count;
}

bool ReadDataColumn(const XLOPER& reference, double* values, std::size_t count) {
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
    Oper bandRef = AreaValue<Oper>(table, sheet, band);
    Oper array{};
    array.xltype = xltypeMulti;
    array.val.array.lparray = scratch;
    array.val.array.rows = static_cast<decltype(array.val.array.rows)>(rows);
    array.val.array.columns = static_cast<decltype(array.val.array.columns)>(columns);
    return SetCells(bandRef, array) == xlretSuccess;
  });
}

template bool ReadNumbers(const XLOPER&, double*, std::size_t);
template bool ReadNumbers(const XLOPER12&, double*, std::size_t);
template bool WriteNumbers(IDSHEET, const XLREF&, const double*, XLOPER*);
template bool WriteNumbers(IDSHEET, const XLREF12&, const double*, XLOPER12*);

}  // namespace hvt
