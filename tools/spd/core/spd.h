// SPD: a column's rate of change per row, as a position-weighted
// least-squares slope over the last depth + 1 values, tracked by a damped
// trend whose correction gain grows with the surprise against a running
// noise estimate. Pure computation shared by the worksheet function and the
// command, which therefore agree to the bit.
#ifndef HVT_TOOLS_SPD_CORE_SPD_H
#define HVT_TOOLS_SPD_CORE_SPD_H

#include <cstddef>
#include <span>

#include "tools/core.h"

namespace hvt::spd {

inline constexpr int kMinDepth = 2;
inline constexpr int kMaxDepth = 500;
// Points in the regression of the raw rate that measures noise.
inline constexpr std::size_t kWindow = 31;
// First row the filter computes; rows before it copy the raw rate.
inline constexpr std::size_t kFilterStart = kWindow - 1;

// What a person chooses: the regression depth, 2..500.
struct SpdSettings {
  int depth = 10;
};

// Fewest rows SpdSeries accepts for a depth: max(31, depth).
constexpr std::size_t SpdMinRows(int depth) {
  return depth > static_cast<int>(kWindow) ? static_cast<std::size_t>(depth)
                                           : kWindow;
}

// Raw rate of change V of x[0..n-1] (n = x.size(), any n):
//   V[0] = 0; V[i] = (x[i] - x[0]) / i for 1 <= i < depth;
//   V[i] for i >= depth: slope of the least-squares line through
//   x[i-depth..i] at positions 1..depth+1, each weighted by its position.
// v must hold n doubles and must not overlap x. kBadArgument for a depth
// outside 2..500 or a bad v.
CoreStatus SpdSlope(std::span<const double> x, int depth, std::span<double> v);

// Tracking filter over the raw rate v[0..n-1] (n = v.size() >= 31):
// out[0..29] = v[0..29], out[30..n-1] filtered. out must hold n doubles and
// must not overlap v. observer (may be null): after each row j >= 30,
// StopRequested() is asked (true ends the run with kStopped), then
// Progress(j + 1, n) is told. kTooShort under 31 rows. Allocates nothing.
CoreStatus SpdFilter(std::span<const double> v, std::span<double> out,
                    RunObserver* observer = nullptr);

// SpdSlope then SpdFilter over x[0..n-1] (n = x.size() >= max(31, depth)).
// out must hold n doubles; it may be x itself (the slope has finished with x
// before the filter writes), otherwise it must not overlap x. Every out row
// is defined on kComplete: rows 0..29 carry the raw rate, 30.. the filtered.
// kTooShort under max(31, depth) rows, kBadArgument for a depth outside
// 2..500 or a bad out, kOutOfMemory when the work array cannot be had; out
// is untouched in each of these.
CoreStatus SpdSeries(std::span<const double> x, const SpdSettings& settings,
                     std::span<double> out, RunObserver* observer = nullptr);

// Every row SpdSeries writes is defined.
constexpr std::size_t SpdFirstDefinedRow(const SpdSettings&) { return 0; }

}  // namespace hvt::spd

#endif  // HVT_TOOLS_SPD_CORE_SPD_H
