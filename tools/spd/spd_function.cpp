// Spd_Update: the rate of change of one data column as an array formula.
#include <new>
#include <type_traits>
#include <vector>

#include "host/host_values.h"
#include "host/worksheet_args.h"
#include "tools/spd/core/spd.h"
#include "tools/spd/spd.h"

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
Oper* SpdUpdate(Oper* dataRef, int depth) {
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
      if (data.areas != 1 || data.columns != 1 || data.rows < kMinRows) {
        return ErrorResult(answer, xlerrRef);
      }
      break;
    case DataArgument::kArray:
      // Several columns would be read across the rows as one series.
      if (data.columns != 1) return ErrorResult(answer, xlerrRef);
      break;
  }
  if (depth < spd::kMinDepth || depth > spd::kMaxDepth) {
    return ErrorResult(answer, xlerrValue);
  }

  const std::size_t n = static_cast<std::size_t>(data.rows);
  Oper record{};
  Oper* cells = AllocColumnResult(record, n);
  if (cells == nullptr) return ErrorResult(answer, xlerrNA);

  std::size_t s = 0;
  std::vector<double> series;
  {
    CoercedArrayOf<Oper> array(dataRef);
    if (array.error() != 0) {
      FreeColumnResult(record);
      return ErrorResult(answer, array.error());
    }
    s = array.LeadingNumbers(n);
    // The filter needs 31 numbers and the slope a full depth of them.
    if (s < spd::SpdMinRows(depth)) {
      FreeColumnResult(record);
      return ErrorResult(answer, xlerrValue);
    }
    try {
      series.resize(s);
    } catch (const std::bad_alloc&) {
      FreeColumnResult(record);
      return ErrorResult(answer, xlerrNA);
    }
    for (std::size_t i = 0; i < s; ++i) series[i] = array.cell(i).val.num;
  }

  const CoreStatus status = spd::SpdSeries(series, {.depth = depth}, series);
  if (status != CoreStatus::kComplete) {
    FreeColumnResult(record);
    return ErrorResult(answer, status == CoreStatus::kOutOfMemory
                                     ? xlerrNA
                                     : xlerrValue);
  }
  FillNumbersThenEmptyText(cells, series, n, emptyText);
  answer = record;
  return &answer;
}

}  // namespace

extern "C" HVT_EXPORT LPXLOPER WINAPI SPDUP(LPXLOPER dataRef, int depth) {
  return SpdUpdate(dataRef, depth);
}

extern "C" HVT_EXPORT LPXLOPER12 WINAPI SPDUP12(LPXLOPER12 dataRef, int depth) {
  return SpdUpdate(dataRef, depth);
}
