// Spd_Update: the rate of change of one data column as an array formula.
#include <new>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd.h"

namespace {

constexpr long kMinRows = 31;

XLOPER g_result;      // handed to the host, reused by every call
char g_emptyText[2];  // the empty text below the numbers; never freed

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI SPDUP(LPXLOPER dataRef, int depth) {
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
      if (data.areas != 1 || data.columns != 1 || data.rows < kMinRows) {
        return ErrorResult(g_result, xlerrRef);
      }
      break;
    case DataArgument::kArray:
      // Several columns would be read across the rows as one series.
      if (data.columns != 1) return ErrorResult(g_result, xlerrRef);
      break;
  }
  if (depth < spd::kMinDepth || depth > spd::kMaxDepth) {
    return ErrorResult(g_result, xlerrValue);
  }

  const std::size_t n = static_cast<std::size_t>(data.rows);
  XLOPER record{};
  XLOPER* cells = AllocColumnResult(record, n);
  if (cells == nullptr) return ErrorResult(g_result, xlerrNA);

  std::size_t s = 0;
  std::vector<double> series;
  {
    CoercedArray array(dataRef);
    if (array.error() != 0) {
      FreeColumnResult(record);
      return ErrorResult(g_result, array.error());
    }
    s = array.LeadingNumbers(n);
    // The filter needs 31 numbers and the slope a full depth of them.
    if (s < spd::SpdMinRows(depth)) {
      FreeColumnResult(record);
      return ErrorResult(g_result, xlerrValue);
    }
    try {
      series.resize(s);
    } catch (const std::bad_alloc&) {
      FreeColumnResult(record);
      return ErrorResult(g_result, xlerrNA);
    }
    for (std::size_t i = 0; i < s; ++i) series[i] = array.cell(i).val.num;
  }

  spd::SpdStatus status = spd::SpdSeries(series, depth, series);
  if (status != spd::SpdStatus::Complete) {
    FreeColumnResult(record);
    return ErrorResult(g_result, status == spd::SpdStatus::OutOfMemory
                                     ? xlerrNA
                                     : xlerrValue);
  }
  FillNumbersThenEmptyText(cells, series, n, g_emptyText);
  g_result = record;
  return &g_result;
}
