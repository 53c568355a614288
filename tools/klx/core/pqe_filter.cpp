// PQE adaptive average.
#include "tools/klx/core/pqe_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <new>
#include <vector>

#include "math/cr_math.h"

namespace hvt::klx {

PqeConstants PqeConstants::Derive(double smoothness) {
  PqeConstants p;
  p.s = smoothness >= 1e-10 ? smoothness : 1e-10;
  p.g1 = 0.86 - 0.55 / std::sqrt(p.s);
  p.g2 = 1.0 - hvt::math::Exp(-hvt::math::Log(4.0) / p.s);
  const double ceilS = std::ceil(p.s);
  p.window = 2.0 * ceilS >= 31.0 ? 2.0 * ceilS : 31.0;
  p.span = ceilS >= 30.0 ? 30 : static_cast<int>(ceilS);
  return p;
}

namespace {

bool Overlaps(std::span<const double> a, std::span<double> b) {
  if (a.empty() || b.empty()) return false;
  const std::less<const double*> before;
  return before(a.data(), b.data() + b.size()) &&
         before(b.data(), a.data() + a.size());
}

}  // namespace

CoreStatus PqeFilter(std::span<const double> x, const PqeSettings& settings,
                     std::span<double> y, RunObserver* observer,
                     std::span<double> residuals) {
  if (y.size() != x.size()) return CoreStatus::kBadArgument;
  const std::size_t n = x.size();
  if (n <= 30) {
    std::copy(x.begin(), x.end(), y.begin());
    return CoreStatus::kComplete;
  }

  // The sliding sums read x[j - N] after y[j - N] is written.
  std::vector<double> inputCopy;
  std::vector<double> ownResiduals;
  try {
    if (Overlaps(x, y)) {
      inputCopy.assign(x.begin(), x.end());
      x = inputCopy;
    }
    if (residuals.size() < n) {
      ownResiduals.resize(n);
      residuals = ownResiduals;
    }
  } catch (const std::bad_alloc&) {
    return CoreStatus::kOutOfMemory;
  }
  double* const r = residuals.data();

  const PqeConstants p = PqeConstants::Derive(settings.smoothness);
  const double s = p.s;
  const double N = p.window;
  const auto total = static_cast<std::int64_t>(n);

  double X = 0.0;
  for (std::size_t k = 0; k < 30; ++k) {
    y[k] = x[k];
    X = X + x[k];
  }
  const int m = p.span;
  double v = (x[30] - x[30 - m]) / static_cast<double>(m);

  double Sxx = 0.0, c = 0.0, c1 = 0.0, Sxy = 0.0, Rsum = 0.0, q = 0.0;
  for (std::size_t j = 30; j < n; ++j) {
    const double xj = x[j];
    if (static_cast<double>(j) < N) {
      // Window still growing: refit the line through all K points.
      const double K = static_cast<double>(j + 1);
      Sxx = (((K + 1.0) * (K - 1.0)) * K) * 0.08333333333333333;
      c = (K - 1.0) * 0.5;
      c1 = (K + 1.0) * 0.5;
      Sxy = 0.0;
      for (std::size_t i = 0; i <= j; ++i) {
        Sxy = Sxy + (static_cast<double>(i) - c) * x[i];
      }
      X = X + xj;
      const double b = Sxy / Sxx;
      const double a0 = X / K - b * c1;
      double f = a0;
      Rsum = 0.0;
      for (std::size_t i = 0; i <= j; ++i) {
        f = f + b;
        r[i] = std::fabs(x[i] - f);
        Rsum = Rsum + r[i];
      }
      q = std::sqrt(N / K) * (Rsum / K);
    } else {
      // Full window: slide [j - N, j - 1] to [j - N + 1, j].
      const auto w = static_cast<std::size_t>(N);
      const double xOut = x[j - w];
      Sxy = (((c * xj) + (c1 * xOut)) - X) + Sxy;
      X = (xj - xOut) + X;
      const double fit = (Sxy / Sxx) * c + X / N;
      r[j] = std::fabs(xj - fit);
      Rsum = (r[j] - r[j - w]) + Rsum;
      q = ((Rsum / N) - q) * p.g2 + q;
    }
    if (q < 1e-10) q = 1e-10;

    if (observer != nullptr && observer->StopRequested()) return CoreStatus::kStopped;

    const double T = v * p.g1;
    const double prev = y[j - 1];
    const double err = xj - (T + prev);
    const double a = 1.0 - hvt::math::Exp(-((std::fabs(err) / q) / s));
    v = a * err + T;
    y[j] = v + prev;

    if (observer != nullptr) {
      observer->Progress(static_cast<std::int64_t>(j + 1), total);
    }
  }
  return CoreStatus::kComplete;
}

}  // namespace hvt::klx
