// KLX filter: an adaptive, low-lag moving average steered by a smoothness
// and a phase, with the trimmed-mean volatility tracker that sets its speed.
// Pure computation on doubles; every step keeps its written operation order
// so the worksheet function and the macro give identical numbers.
#ifndef HVT_TOOLS_KLX_CORE_KLX_FILTER_H
#define HVT_TOOLS_KLX_CORE_KLX_FILTER_H

#include <cstddef>
#include <span>

#include "tools/core.h"

namespace hvt::klx {

// What a person chooses: smoothness S (0..10,000) and phase P (-100..100).
struct KlxSettings {
  double smoothness = 10;
  double phase = 0;
};

// Constants derived once per run from smoothness S and phase P.
struct KlxConstants {
  double h = 0;             // half length: (S - 1) * 0.5, or 1e-10 when S <= 1.0000000002
  double phi = 0;           // phase ratio: P * 0.01 + 1.5, clamped to 0.5 / 2.5 outside +-100
  double r = 0;             // sqrt(h)
  double g = 0;             // ln(r) / ln(2) + 2
  double p1 = 0;            // exponent cap: g, or 0 when g < 0
  double b = 0;             // band length: r * p1
  double kb = 0;            // warm-up band factor: b / (b + 1)
  double p2 = 0;            // ratio exponent: p1 - 2, at least 0.5
  double beta = 0;          // smoothing factor: (h * 0.9) / (h * 0.9 + 2)
  double oneMinusBeta = 0;  // 1 - beta
  // Look-back divisors for the initial step: ceil(b) and floor(b), each at
  // least 1. Whole numbers held as doubles so any S stays defined.
  double cl = 1;
  double fl = 1;

  // A NaN phase is taken as phase 0; a NaN smoothness gives h = 1e-10.
  static KlxConstants Derive(double smoothness, double phase);
};

// Running trimmed mean of the last ten-value means of what it is fed.
// While filling (updates 1..127) it returns the mean of the middle 65 stored
// means (all of them while there are at most 65); from update 128 on, the
// mean of ranks 32..96 of the last 127 ten-value means.
//
// The ranked list is bounded by -inf / +inf sentinels, so every finite
// value is ranked correctly whatever its size; for values strictly inside
// +-999,999 this gives exactly the results of the classic +-999,999 bounds.
// NaN or infinite input yields meaningless (NaN/inf) references but never
// touches memory outside the fixed tables.
class VolatilityReference {
 public:
  VolatilityReference();
  // Feeds one value, returns the current reference value.
  double update(double v);

  int count() const { return count_; }
  // Slots 1..127 of the ranked list, ascending (index 0 is slot 1).
  std::span<const double, 127> ranked() const {
    return std::span<const double, 127>(list_ + 1, 127);
  }

 private:
  double ring_[11];       // slots 1..10
  double history_[128];   // slots 1..127
  double list_[128];      // slots 1..127; slot 0 unused
  double ringSum_ = 0.0;
  double windowSum_ = 0.0;
  int ringPos_ = 0;
  int historyPos_ = 0;
  int count_ = 0;
  int lower_ = 64;
  int upper_ = 63;
  int lo_ = 32;
  int hi_ = 96;
};

// The initial step term D of the main phase, from x[1..30] (x.size() >= 31).
double KlxInitialStep(std::span<const double> x, const KlxConstants& s);

// Runs the KLX filter over x (oldest first) into y (same length; y may be
// the same memory as x, but not a shifted overlap).
//   - n <= 31: y = x, complete, no observer calls.
//   - otherwise y[0..30] = x[0..30] exactly; y[31..n-1] are smoothed.
// Settings: callers keep S in 0..10,000 and P in -100..100; P outside is
// clamped (phi 0.5 / 2.5).
// Observer: Progress(k, n) after each row k = 1..n-1; for k >= 31
// StopRequested() is asked first (after the row is computed) and true ends
// the run at once with no Progress for that row.
// Answers kComplete; kStopped when stopped (y is then void); kBadArgument,
// writing nothing, when y.size() != x.size(). Allocates nothing.
CoreStatus KlxFilter(std::span<const double> x, const KlxSettings& settings,
                     std::span<double> y, RunObserver* observer = nullptr);

// Every row the filter writes is defined: the first 31 carry the input.
constexpr std::size_t KlxFirstDefinedRow(const KlxSettings&) { return 0; }

}  // namespace hvt::klx

#endif  // HVT_TOOLS_KLX_CORE_KLX_FILTER_H
