// KLX_Update: the KLX filter as an array formula over one data column.
#include <new>
#include <type_traits>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/klx_settings.h"
#include "tools/klx/klx.h"

namespace {

constexpr long kMinRows = 31;

// Handed to the host, reused by every call: one record and one empty text
// (below the numbers; never freed) per interface.
template <typename Oper>
struct Answer {
  static inline Oper result;
  static inline typename hvt::Interface<Oper>::Char emptyText[2];
};

template <typename Oper>
Oper* KlxUpdate(Oper* dataRef, double* smoothness, double* phase) {
  using namespace hvt;
  if constexpr (std::is_same_v<Oper, XLOPER12>) {
    if (HostDialogOpen12()) return nullptr;
  } else {
    if (HostDialogOpen()) return nullptr;
  }
  Oper& answer = Answer<Oper>::result;
  auto* emptyText = Answer<Oper>::emptyText;
  emptyText[0] = 0;

  DataArgument data = ClassifyDataArgument(dataRef);
  switch (data.kind) {
    case DataArgument::kNoValue:
      return nullptr;
    case DataArgument::kError:
      return ErrorResult(answer, data.error);
    case DataArgument::kRange:
    case DataArgument::kArray:
      if (data.areas != 1 || data.columns != 1 || data.rows < kMinRows) {
        return ErrorResult(answer, xlerrRef);
      }
      break;
  }
  if (smoothness == nullptr || phase == nullptr) {
    return ErrorResult(answer, xlerrValue);
  }
  if (!klx::SmoothnessAccepted(*smoothness) || !klx::PhaseAccepted(*phase)) {
    return ErrorResult(answer, xlerrValue);
  }

  CoercedArrayOf<Oper> array(dataRef);
  if (array.error() != 0) return ErrorResult(answer, array.error());
  const std::size_t n = static_cast<std::size_t>(data.rows);
  const std::size_t m = array.LeadingNumbers(n);

  // The filter smooths the series in place: one copy of the column fewer.
  std::vector<double> series;
  try {
    series.resize(m);
  } catch (const std::bad_alloc&) {
    return ErrorResult(answer, xlerrNA);
  }
  for (std::size_t i = 0; i < m; ++i) series[i] = array.cell(i).val.num;

  Oper cellsRecord{};
  Oper* cells = AllocColumnResult(cellsRecord, n);
  if (cells == nullptr) return ErrorResult(answer, xlerrNA);

  klx::KlxFilter(series, {.smoothness = *smoothness, .phase = *phase}, series);
  FillNumbersThenEmptyText(cells, series, n, emptyText);
  answer = cellsRecord;
  return &answer;
}

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI KLXUP(LPXLOPER dataRef,
                                            double* smoothness,
                                            double* phase) {
  return KlxUpdate(dataRef, smoothness, phase);
}

extern "C" HVT_EXPORT LPXLOPER12 WINAPI KLXUP12(LPXLOPER12 dataRef, double* smoothness,
                                                double* phase) {
  return KlxUpdate(dataRef, smoothness, phase);
}
