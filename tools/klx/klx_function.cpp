// KLX_Update: the KLX filter as an array formula over one data column.
#include <new>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/klx_settings.h"
#include "tools/klx/klx.h"

namespace {

constexpr long kMinRows = 31;

XLOPER g_result;      // handed to the host, reused by every call
char g_emptyText[2];  // the empty text below the numbers; never freed

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI KLXUP(LPXLOPER dataRef,
                                            double* smoothness,
                                            double* phase) {
  using namespace hvt;
  if (HostDialogOpen()) return nullptr;
  g_emptyText[0] = 0;

  DataArgument data = ClassifyDataArgument(dataRef);
  switch (data.kind) {
    case DataArgument::kNoValue:
      return nullptr;
    case DataArgument::kError:
      return ErrorResult(g_result, data.error);
    case DataArgument::kRange:
    case DataArgument::kArray:
      if (data.areas != 1 || data.columns != 1 || data.rows < kMinRows) {
        return ErrorResult(g_result, xlerrRef);
      }
      break;
  }
  if (smoothness == nullptr || phase == nullptr) {
    return ErrorResult(g_result, xlerrValue);
  }
  if (!klx::SmoothnessAccepted(*smoothness) || !klx::PhaseAccepted(*phase)) {
    return ErrorResult(g_result, xlerrValue);
  }

  CoercedArray array(dataRef);
  if (array.error() != 0) return ErrorResult(g_result, array.error());
  const std::size_t n = static_cast<std::size_t>(data.rows);
  const std::size_t m = array.LeadingNumbers(n);

  std::vector<double> series, smoothed;
  try {
    series.resize(m);
    smoothed.resize(m);
  } catch (const std::bad_alloc&) {
    return ErrorResult(g_result, xlerrNA);
  }
  for (std::size_t i = 0; i < m; ++i) series[i] = array.cell(i).val.num;

  XLOPER cellsRecord{};
  XLOPER* cells = AllocColumnResult(cellsRecord, n);
  if (cells == nullptr) return ErrorResult(g_result, xlerrNA);

  klx::KlxFilter(series, *smoothness, *phase, smoothed);
  FillNumbersThenEmptyText(cells, smoothed, n, g_emptyText);
  g_result = cellsRecord;
  return &g_result;
}
