// KLX filter and its volatility tracker.
#include "tools/klx/core/klx_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "math/cr_math.h"

namespace hvt::klx {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Index of x[30 - min(v, 29)] for a look-back divisor v >= 1.
int LookBack(double v) { return v >= 29.0 ? 29 : static_cast<int>(v); }

// The first slot in 1..127 not below v (128 if none), in seven halvings
// without data-dependent branches.
int LowerBound(const double* list, double v) {
  int base = 0;
  for (int half = 64; half >= 1; half /= 2) {
    base = list[base + half] < v ? base + half : base;
  }
  return base + 1;
}

// The removal search: halvings from slot 64 by 32, 16, ...,
// 1, stopping at the first slot equal to old (or on NaN).
int SearchSlot(const double* list, double old) {
  int pos = 64;
  for (int half = 32; half >= 1; half /= 2) {
    if (old > list[pos]) {
      pos = pos + half;
    } else if (old < list[pos]) {
      pos = pos - half;
    } else {
      break;
    }
  }
  return pos;
}

// The insertion search: mean belongs between slots I - 1 and
// I (I in 1..128); halvings stop when list[pos - 1] <= mean <= list[pos].
// Compared positions are 2..127, so slot 0 is never read.
int SearchInsertion(const double* list, double mean) {
  int pos = 64;
  for (int half = 32; half >= 1; half /= 2) {
    if (mean > list[pos]) {
      pos = pos + half;
    } else if (mean < list[pos - 1]) {
      pos = pos - half;
    } else {
      return pos;
    }
  }
  if (pos == 127 && mean > list[127]) pos = 128;
  return pos;
}

// Where old occurs once in the sorted list, the search can only end on
// that slot, so the branch-free lower bound gives the same answer; ties
// and NaN take the searching path, whose choice among equal slots matters
// to the rounding of the window sum.
int FindSlot(const double* list, double old) {
  const int at = LowerBound(list, old);
  if (at <= 127 && list[at] == old && (at == 127 || list[at + 1] != old)) return at;
  return SearchSlot(list, old);
}

// Where no stored value equals mean, only one insertion point exists and
// the search must end there; otherwise the halving search decides.
int InsertionPoint(const double* list, double mean) {
  const int at = LowerBound(list, mean);
  if (at == 128 || list[at] > mean) return at;
  return SearchInsertion(list, mean);
}

}  // namespace

KlxConstants KlxConstants::Derive(double smoothness, double phase) {
  KlxConstants s;
  s.h = smoothness > 1.0000000002 ? (smoothness - 1.0) * 0.5 : 1e-10;
  if (phase < -100.0) {
    s.phi = 0.5;
  } else if (phase > 100.0) {
    s.phi = 2.5;
  } else if (phase >= -100.0 && phase <= 100.0) {
    s.phi = phase * 0.01 + 1.5;
  } else {
    s.phi = 1.5;  // NaN: the neutral phase
  }
  s.r = std::sqrt(s.h);
  s.g = hvt::math::Log(s.r) / hvt::math::Log(2.0) + 2.0;
  s.p1 = s.g >= 0.0 ? s.g : 0.0;
  s.b = s.r * s.p1;
  s.kb = s.b / (s.b + 1.0);
  s.p2 = s.p1 - 2.0 >= 0.5 ? s.p1 - 2.0 : 0.5;
  s.beta = (s.h * 0.9) / (s.h * 0.9 + 2.0);
  s.oneMinusBeta = 1.0 - s.beta;
  // "at least 1" written as !(v >= 1) so a NaN band length also gives 1.
  s.cl = std::ceil(s.b);
  if (!(s.cl >= 1.0)) s.cl = 1.0;
  s.fl = std::floor(s.b);
  if (!(s.fl >= 1.0)) s.fl = 1.0;
  return s;
}

VolatilityReference::VolatilityReference() {
  std::fill(std::begin(ring_), std::end(ring_), 0.0);
  std::fill(std::begin(history_), std::end(history_), 0.0);
  list_[0] = 0.0;  // never read
  for (int i = 1; i <= 63; ++i) list_[i] = -kInf;
  for (int i = 64; i <= 127; ++i) list_[i] = kInf;
}

double VolatilityReference::update(double v) {
  historyPos_ = historyPos_ <= 1 ? 127 : historyPos_ - 1;
  ringPos_ = ringPos_ <= 1 ? 10 : ringPos_ - 1;
  if (count_ < 128) ++count_;

  ringSum_ = (v - ring_[ringPos_]) + ringSum_;
  ring_[ringPos_] = v;
  const double mean = ringSum_ / static_cast<double>(std::min(count_, 10));

  const double old = history_[historyPos_];
  history_[historyPos_] = mean;

  const bool full = count_ == 128;
  int R;
  if (!full) {
    if (lower_ + upper_ <= 127) {
      upper_ = upper_ + 1;
      R = upper_;
    } else {
      lower_ = lower_ - 1;
      R = lower_;
    }
    hi_ = std::min(upper_, 96);
    lo_ = std::max(lower_, 32);
  } else {
    R = FindSlot(list_, old);
  }
  const int I = InsertionPoint(list_, mean);

  if (full) {
    // Window sum tracks the move incrementally, read before the move.
    if (I > R) {
      if (lo_ < I && I <= hi_ + 1) {
        windowSum_ = windowSum_ + mean;
      } else if (I > hi_ + 1 && R <= hi_) {
        windowSum_ = windowSum_ + list_[hi_ + 1];
      }
    } else {
      if (lo_ <= I && I <= hi_) {
        windowSum_ = windowSum_ + mean;
      } else if (I < lo_ && R >= lo_) {
        windowSum_ = windowSum_ + list_[lo_ - 1];
      }
    }
    if (lo_ <= R && R <= hi_) {
      windowSum_ = windowSum_ - list_[R];
    } else if (R < lo_ && I > lo_) {
      windowSum_ = windowSum_ - list_[lo_];
    } else if (R > hi_ && I <= hi_) {
      windowSum_ = windowSum_ - list_[hi_];
    }
  }

  // One block move; the slots touched all lie in 1..127.
  if (R > I) {
    std::memmove(list_ + I + 1, list_ + I, static_cast<std::size_t>(R - I) * sizeof(double));
    list_[I] = mean;
  } else if (R < I) {
    std::memmove(list_ + R, list_ + R + 1, static_cast<std::size_t>(I - 1 - R) * sizeof(double));
    list_[I - 1] = mean;
  } else {
    list_[I] = mean;
  }

  if (!full) {
    double sum = 0.0;
    for (int j = lo_; j <= hi_; ++j) sum = sum + list_[j];
    windowSum_ = sum;
  }
  return windowSum_ / static_cast<double>(hi_ - lo_ + 1);
}

double KlxInitialStep(std::span<const double> x, const KlxConstants& s) {
  const double cl = s.cl;
  const double fl = s.fl;
  const double frac = cl == fl ? 1.0 : (s.b - fl) / (cl - fl);
  const double x30 = x[30];
  return ((x30 - x[30 - LookBack(fl)]) * (1.0 - frac)) / fl +
         ((x30 - x[30 - LookBack(cl)]) * frac) / cl;
}

CoreStatus KlxFilter(std::span<const double> x, const KlxSettings& settings,
                     std::span<double> y, RunObserver* observer) {
  if (y.size() != x.size()) return CoreStatus::kBadArgument;
  const std::size_t n = x.size();
  const KlxConstants s = KlxConstants::Derive(settings.smoothness, settings.phase);

  if (n <= 31) {
    std::copy(x.begin(), x.end(), y.begin());
    return CoreStatus::kComplete;
  }
  const auto total = static_cast<std::int64_t>(n);

  VolatilityReference tracker;
  double U = x[0];
  double L = x[0];
  y[0] = x[0];
  for (std::size_t k = 1; k <= 30; ++k) {
    const double xk = x[k];
    y[k] = xk;
    const double du = xk - U;
    const double dl = xk - L;
    tracker.update(std::max(std::fabs(du), std::fabs(dl)) + 1e-10);
    U = du > 0.0 ? xk : xk - s.kb * du;
    L = dl < 0.0 ? xk : xk - s.kb * dl;
    if (observer != nullptr) {
      observer->Progress(static_cast<std::int64_t>(k), total);
    }
  }

  double D = KlxInitialStep(x, s);
  double M = x[30];
  double Y = x[30];
  double T = 0.0;
  const double beta = s.beta;
  // The two powers with a fixed base per run: its logarithm once.
  const hvt::math::PowerBase kbPower(s.kb);
  const hvt::math::PowerBase betaPower(beta);

  for (std::size_t k = 31; k < n; ++k) {
    const double xk = x[k];
    const double du = xk - U;
    const double dl = xk - L;
    const double vol = std::max(std::fabs(du), std::fabs(dl));
    const double ref = tracker.update(vol + 1e-10);
    const double e = hvt::math::Pow(vol / ref, s.p2);
    const double m = std::min(e, s.p1);
    double w;
    if (m < 1.0) {
      w = 1.0;
    } else {
      w = s.p1 < e ? s.p1 : e;
    }
    const double kv = kbPower.Pow(std::sqrt(w));
    const double a = betaPower.Pow(w);
    M = (1.0 - a) * xk + a * M;
    T = (xk - M) * s.oneMinusBeta + beta * T;
    const double a2 = a * a;
    D = (((T * s.phi) + M) - Y) * (((a * -2.0) + a2) + 1.0) + a2 * D;
    Y = Y + D;
    y[k] = Y;
    U = du > 0.0 ? xk : xk - kv * du;
    L = dl < 0.0 ? xk : xk - kv * dl;
    if (observer != nullptr) {
      if (observer->StopRequested()) return CoreStatus::kStopped;
      observer->Progress(static_cast<std::int64_t>(k), total);
    }
  }
  return CoreStatus::kComplete;
}

}  // namespace hvt::klx
