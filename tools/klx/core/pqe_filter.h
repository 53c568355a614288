// PQE adaptive average: a damped slope tracker whose correction gain grows
// with the prediction error measured in noise levels, the noise level being
// the mean absolute residual of a least-squares line over recent rows.
// Pure computation on doubles, in the written operation order.
#ifndef HVT_TOOLS_KLX_CORE_PQE_FILTER_H
#define HVT_TOOLS_KLX_CORE_PQE_FILTER_H

#include <cstdint>
#include <span>

#include "tools/core.h"

namespace hvt::klx {

// What a person chooses: the smoothness S (0..10,000).
struct PqeSettings {
  double smoothness = 10;
};

// Constants derived once per run from the smoothness S.
struct PqeConstants {
  double s = 0;   // effective smoothness: S, or 1e-10 when S < 1e-10 (or NaN)
  double g1 = 0;  // slope gain: 0.86 - 0.55 / sqrt(s)
  double g2 = 0;  // noise factor: 1 - e^(-ln(4) / s)
  // Window: 2 * ceil(s), at least 31. A whole number held as a double so
  // that any S stays defined; the window fills only when it is <= n.
  double window = 31;
  int span = 1;   // start span m: ceil(s), at most 30 (always >= 1)

  static PqeConstants Derive(double smoothness);
};

// Runs the PQE filter over x (oldest first) into y (same length).
//   - n <= 30: y = x, complete, no observer calls.
//   - otherwise y[0..29] = x[0..29] exactly; y[30..n-1] are filtered
//     (y[30] is already a filtered value).
// residuals: optional scratch of at least n doubles (the residual column);
// when shorter, the run allocates its own.
// y may overlap x: the input is then copied first.
// Observer, for each row j = 30..n-1: StopRequested() after the row's noise
// level and before its filter step (true ends the run at once), then
// Progress(j + 1, n) after the row.
// Answers kComplete; kStopped when stopped (y is then void); kBadArgument
// when y.size() != x.size() and kOutOfMemory when its own scratch cannot be
// had, writing nothing in either case. Throws nothing.
CoreStatus PqeFilter(std::span<const double> x, const PqeSettings& settings,
                     std::span<double> y, RunObserver* observer = nullptr,
                     std::span<double> residuals = {});

// Every row the filter writes is defined: the first 30 carry the input.
constexpr std::size_t PqeFirstDefinedRow(const PqeSettings&) { return 0; }

}  // namespace hvt::klx

#endif  // HVT_TOOLS_KLX_CORE_PQE_FILTER_H
