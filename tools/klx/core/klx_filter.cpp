// KLX filter and its volatility tracker.
#include "tools/klx/core/klx_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace hvt::klx {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Index of x[30 - min(v, 29)] for a look-back divisor v >= 1.
int LookBack(double v) { return v >= 29.0 ? 29 : static_cast<int>(v); }

}  // namespace

KlxSettings KlxSettings::Derive(double smoothness, double phase) {
  KlxSettings s;
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
  s.g = std::log(s.r) / std::log(2.0) + 2.0;
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
    // Any slot equal to old will do; positions stay within 1..127.
    int pos = 64;
    int step = 64;
    do {
      if (old > list_[pos]) {
        step = step / 2;
        pos = pos + step;
      } else if (old < list_[pos]) {
        step = step / 2;
        pos = pos - step;
      } else {
        step = 1;
      }
    } while (step > 1);
    R = pos;
  }

  // Insertion point: mean belongs between slots I - 1 and I (I in 1..128).
  // Compared positions are 2..127, so slot 0 is never read.
  int I;
  {
    int pos = 64;
    int step = 64;
    do {
      if (mean > list_[pos]) {
        step = step / 2;
        pos = pos + step;
      } else if (mean < list_[pos - 1]) {
        step = step / 2;
        pos = pos - step;
      } else {
        step = 1;
      }
      if (pos == 127 && mean > list_[127]) pos = 128;
    } while (step > 1);
    I = pos;
  }

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
    std::copy_backward(list_ + I, list_ + R, list_ + R + 1);
    list_[I] = mean;
  } else if (R < I) {
    std::copy(list_ + R + 1, list_ + I, list_ + R);
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

double KlxInitialStep(std::span<const double> x, const KlxSettings& s) {
  const double cl = s.cl;
  const double fl = s.fl;
  const double frac = cl == fl ? 1.0 : (s.b - fl) / (cl - fl);
  const double x30 = x[30];
  return ((x30 - x[30 - LookBack(fl)]) * (1.0 - frac)) / fl +
         ((x30 - x[30 - LookBack(cl)]) * frac) / cl;
}

bool KlxFilter(std::span<const double> x, double smoothness, double phase,
               std::span<double> y, RunObserver* observer) {
  if (y.size() != x.size()) return false;
  const std::size_t n = x.size();
  const KlxSettings s = KlxSettings::Derive(smoothness, phase);

  if (n <= 31) {
    std::copy(x.begin(), x.end(), y.begin());
    return true;
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

  for (std::size_t k = 31; k < n; ++k) {
    const double xk = x[k];
    const double du = xk - U;
    const double dl = xk - L;
    const double vol = std::max(std::fabs(du), std::fabs(dl));
    const double ref = tracker.update(vol + 1e-10);
    const double e = std::pow(vol / ref, s.p2);
    const double m = std::min(e, s.p1);
    double w;
    if (m < 1.0) {
      w = 1.0;
    } else {
      w = s.p1 < e ? s.p1 : e;
    }
    const double kv = std::pow(s.kb, std::sqrt(w));
    const double a = std::pow(beta, w);
    M = (1.0 - a) * xk + a * M;
    T = (xk - M) * s.oneMinusBeta + beta * T;
    const double a2 = a * a;
    D = (((T * s.phi) + M) - Y) * (((a * -2.0) + a2) + 1.0) + a2 * D;
    Y = Y + D;
    y[k] = Y;
    U = du > 0.0 ? xk : xk - kv * du;
    L = dl < 0.0 ? xk : xk - kv * dl;
    if (observer != nullptr) {
      if (observer->StopRequested()) return false;
      observer->Progress(static_cast<std::int64_t>(k), total);
    }
  }
  return true;
}

}  // namespace hvt::klx
