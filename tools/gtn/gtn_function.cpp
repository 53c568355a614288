// GTN_Update: the GTN series as an array formula beside one data column.
#include <new>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn.h"

namespace {

XLOPER g_result;      // handed to the host, reused by every call
char g_emptyText[2];  // the empty text below the numbers; never freed

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI GTNUP(LPXLOPER dataRef, int smoothness,
                                            int span) {
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
      if (data.areas != 1 || data.columns != 1 || data.rows < span + 2L) {
        return ErrorResult(g_result, xlerrRef);
      }
      break;
    case DataArgument::kArray:
      // Several columns would be read across the rows as one series.
      if (data.columns != 1) return ErrorResult(g_result, xlerrRef);
      break;
  }
  if (smoothness < gtn::kMinSmoothness || smoothness > gtn::kMaxSmoothness ||
      !gtn::IsValidSpan(span)) {
    return ErrorResult(g_result, xlerrValue);
  }

  CoercedArray array(dataRef);
  if (array.error() != 0) return ErrorResult(g_result, array.error());
  const std::size_t n = static_cast<std::size_t>(data.rows);
  const std::size_t s = array.LeadingNumbers(n);
  if (s < static_cast<std::size_t>(span) + 2) {
    return ErrorResult(g_result, xlerrValue);
  }

  std::vector<double> series, gtnValues;
  try {
    series.resize(s);
    gtnValues.resize(s);
  } catch (const std::bad_alloc&) {
    return ErrorResult(g_result, xlerrNA);
  }
  for (std::size_t i = 0; i < s; ++i) series[i] = array.cell(i).val.num;

  XLOPER record{};
  XLOPER* cells = AllocColumnResult(record, n);
  if (cells == nullptr) return ErrorResult(g_result, xlerrNA);

  // With no more than span + 6 numbers no row is defined: the numbers' rows
  // all carry the warm-up value.
  const std::size_t firstDefined = gtn::GtnFirstOutputRow(span);
  if (s > firstDefined) {
    gtn::GtnStatus status = gtn::GtnSeries(
        series, span, smoothness, gtn::GtnTermOrder::WorksheetOrder, gtnValues);
    if (status != gtn::GtnStatus::Complete) {
      FreeColumnResult(record);
      return ErrorResult(g_result, status == gtn::GtnStatus::OutOfMemory
                                       ? xlerrNA
                                       : xlerrValue);
    }
  }
  const double warmUp = span / 2;
  for (std::size_t i = 0; i < s && i < firstDefined; ++i) gtnValues[i] = warmUp;
  FillNumbersThenEmptyText(cells, gtnValues, n, g_emptyText);
  g_result = record;
  return &g_result;
}
