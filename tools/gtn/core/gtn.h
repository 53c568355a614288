// GTN: for one column and a span of 24, 48, 96 or 192 rows, the
// efficiency-weighted mean of 14 look-back lengths. Pure computation: the
// worksheet function and the command both run GtnSeries and differ only in
// the order the final 14 terms are summed.
#ifndef HVT_TOOLS_GTN_CORE_GTN_H
#define HVT_TOOLS_GTN_CORE_GTN_H

#include <array>
#include <cstddef>
#include <span>

#include "tools/core.h"

namespace hvt::gtn {

inline constexpr int kChannelCount = 14;

// Look-back length L of each channel k. Even k: powers of two, odd k: three
// times powers of two. A channel is active when L <= span.
inline constexpr std::array<int, kChannelCount> kChannelLengths = {
    2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192};

inline constexpr int kMinSmoothness = 2;
inline constexpr int kMaxSmoothness = 50;

// The order in which the 14 numerator and denominator terms are added.
// CommandOrder: k = 13, 11, ..., 1, 12, 10, ..., 0; WorksheetOrder: the
// exact reverse. Results may differ in the last digits, nothing else.
enum class GtnTermOrder { CommandOrder, WorksheetOrder };

// What a person chooses: the span (24, 48, 96 or 192 rows), the smoothness
// (2..50) and, by where the run is asked for, the order of the final terms.
struct GtnSettings {
  int span = 24;
  int smoothness = 10;
  GtnTermOrder order = GtnTermOrder::WorksheetOrder;
};

// True for 24, 48, 96 and 192.
bool IsValidSpan(int span);

// First row GtnSeries defines.
constexpr std::size_t GtnFirstDefinedRow(int span) {
  return static_cast<std::size_t>(span) + 6;
}
constexpr std::size_t GtnFirstDefinedRow(const GtnSettings& settings) {
  return GtnFirstDefinedRow(settings.span);
}

// Fewest rows GtnSeries accepts: enough for one defined row.
constexpr std::size_t GtnMinRows(int span) {
  return GtnFirstDefinedRow(span) + 1;
}

// Running state of one look-back length over a run.
struct GtnChannel {
  int L = 0;
  double sumDiff = 0.0;       // last L absolute differences d[i-L+1..i]
  double weightedDiff = 0.0;  // the same weighted L (newest) down to 1
  double sumPrev = 0.0;       // the L values x[i-L..i-1]
  int moves = 0;              // nonzero differences among d[i-L+1..i]
};

// Updates the channel's running sums for step i and returns its efficiency
// there: 0 when weightedDiff is 0 or no difference in the window is nonzero
// (carried sums can keep rounding residue after a flat stretch), otherwise
// |L * x[i] - sumPrev| / weightedDiff, in [0, 1] up to rounding.
// i == span + 1 starts the run (sums rebuilt from scratch); later steps must
// follow in ascending order. d[k] = |x[k] - x[k-1]| must be filled up to i.
// Needs 1 <= L <= span, span + 1 <= i < min(x.size(), d.size()); returns NaN
// otherwise without touching the channel.
double GtnEfficiency(GtnChannel& channel, std::size_t i, int span,
                     std::span<const double> x, std::span<const double> d);

// Runs the GTN steps i = span + 1 .. n - 1 over x[0..n-1] (n = x.size(),
// oldest first). y must hold at least n doubles. On Complete, y[i] for
// span + 6 <= i <= n - 1 holds the result (between 0 and the longest active
// length) and y[0 .. span + 5] are set to 0; callers put their own warm-up
// value there. With n < GtnMinRows(span) = span + 7 no row would be defined,
// and kTooShort is answered (y untouched). kBadArgument for a span not 24,
// 48, 96 or 192, a smoothness not 2..50 or a short y; kOutOfMemory when the
// work arrays cannot be had (y untouched).
//
// observer (may be null): after each step i, StopRequested() is asked (true
// ends the run with kStopped, y void), then Progress(i, n) is told.
CoreStatus GtnSeries(std::span<const double> x, const GtnSettings& settings,
                     std::span<double> y, RunObserver* observer = nullptr);

}  // namespace hvt::gtn

#endif  // HVT_TOOLS_GTN_CORE_GTN_H
