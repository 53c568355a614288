// GTN_Update: the GTN series as an array formula beside one data column.
#include <new>
#include <type_traits>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/gtn/core/gtn.h"
#include "tools/gtn/gtn.h"

namespace {

// Handed to the host, reused by every call: one record and one empty text
// (below the numbers; never freed) per interface.
template <typename Oper>
struct Answer {
  static inline Oper result;
  static inline typename hvt::Interface<Oper>::Char emptyText[2];
};

template <typename Oper>
Oper* GtnUpdate(Oper* dataRef, int smoothness, int span) {
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
      if (data.areas != 1 || data.columns != 1 || data.rows < span + 2L) {
        return ErrorResult(answer, xlerrRef);
      }
      break;
    case DataArgument::kArray:
      // Several columns would be read across the rows as one series.
      if (data.columns != 1) return ErrorResult(answer, xlerrRef);
      break;
  }
  if (smoothness < gtn::kMinSmoothness || smoothness > gtn::kMaxSmoothness ||
      !gtn::IsValidSpan(span)) {
    return ErrorResult(answer, xlerrValue);
  }

  CoercedArrayOf<Oper> array(dataRef);
  if (array.error() != 0) return ErrorResult(answer, array.error());
  const std::size_t n = static_cast<std::size_t>(data.rows);
  const std::size_t s = array.LeadingNumbers(n);
  if (s < static_cast<std::size_t>(span) + 2) {
    return ErrorResult(answer, xlerrValue);
  }

  std::vector<double> series, gtnValues;
  try {
    series.resize(s);
    gtnValues.resize(s);
  } catch (const std::bad_alloc&) {
    return ErrorResult(answer, xlerrNA);
  }
  for (std::size_t i = 0; i < s; ++i) series[i] = array.cell(i).val.num;

  Oper record{};
  Oper* cells = AllocColumnResult(record, n);
  if (cells == nullptr) return ErrorResult(answer, xlerrNA);

  // With no more than span + 6 numbers no row is defined: the numbers' rows
  // all carry the warm-up value.
  const std::size_t firstDefined = gtn::GtnFirstDefinedRow(span);
  if (s > firstDefined) {
    const CoreStatus status = gtn::GtnSeries(
        series,
        {.span = span, .smoothness = smoothness, .order = gtn::GtnTermOrder::WorksheetOrder},
        gtnValues);
    if (status != CoreStatus::kComplete) {
      FreeColumnResult(record);
      return ErrorResult(answer, status == CoreStatus::kOutOfMemory
                                       ? xlerrNA
                                       : xlerrValue);
    }
  }
  const double warmUp = span / 2;
  for (std::size_t i = 0; i < s && i < firstDefined; ++i) gtnValues[i] = warmUp;
  FillNumbersThenEmptyText(cells, gtnValues, n, emptyText);
  answer = record;
  return &answer;
}

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI GTNUP(LPXLOPER dataRef, int smoothness,
                                            int span) {
  return GtnUpdate(dataRef, smoothness, span);
}

extern "C" HVT_EXPORT LPXLOPER12 WINAPI GTNUP12(LPXLOPER12 dataRef, int smoothness,
                                                int span) {
  return GtnUpdate(dataRef, smoothness, span);
}
