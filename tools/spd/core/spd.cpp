// SPD series: weighted least-squares slope per row, then the noise-adaptive
// tracking filter. Every sum keeps its documented order; the slope works on
// several rows at once only to overlap their independent sums.
#include "tools/spd/core/spd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "math/cr_math.h"

namespace hvt::spd {
namespace {

bool Overlap(const double* a, std::size_t na, const double* b,
             std::size_t nb) {
  if (na == 0 || nb == 0) return false;
  const std::less<const double*> before;
  return before(a, b + nb) && before(b, a + na);
}

// Rows computed together in the slope: each keeps its own sums, added in the
// same order as a row on its own, so the results are identical. Lanes are
// plain IEEE double operations, two rows per vector.
typedef double Lanes __attribute__((vector_size(16)));
constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(double);
constexpr std::size_t kSlopeVectors = 4;
constexpr std::size_t kSlopeBlock = kLanes * kSlopeVectors;

inline Lanes Load(const double* at) {
  Lanes v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace

CoreStatus SpdSlope(std::span<const double> x, int depth, std::span<double> v) {
  const std::size_t n = x.size();
  if (depth < kMinDepth || depth > kMaxDepth || v.size() < n ||
      Overlap(x.data(), n, v.data(), v.size())) {
    return CoreStatus::kBadArgument;
  }
  if (n == 0) return CoreStatus::kComplete;

  const double* xs = x.data();
  double* vs = v.data();
  const std::size_t dep = static_cast<std::size_t>(depth);

  vs[0] = 0.0;
  const std::size_t crude = std::min(dep, n);
  for (std::size_t i = 1; i < crude; ++i) {
    vs[i] = (xs[i] - xs[0]) / static_cast<double>(i);
  }

  // Sum of the positions 1..D+1 and of their squares; exact for D <= 500.
  const std::int64_t t1Int = static_cast<std::int64_t>((dep + 1) * (dep + 2) / 2);
  const double t1 = static_cast<double>(t1Int);
  const double t2 =
      static_cast<double>(static_cast<std::int64_t>(2 * dep + 3) * t1Int) *
      (1.0 / 3.0);
  const double den = ((t1 * t1) * t1) - (t2 * t2);

  std::size_t i = dep;
  for (; i + kSlopeBlock <= n; i += kSlopeBlock) {
    // Accumulators named one by one so they stay in registers.
    Lanes a0 = {}, a1 = {}, a2 = {}, a3 = {};
    Lanes b0 = {}, b1 = {}, b2 = {}, b3 = {};
    for (std::size_t j = 0; j <= dep; ++j) {
      const double pd = static_cast<double>(dep + 1 - j);
      const Lanes p = {pd, pd};
      const double* at = xs + (i - j);
      const Lanes pv0 = p * Load(at);
      const Lanes pv1 = p * Load(at + kLanes);
      const Lanes pv2 = p * Load(at + 2 * kLanes);
      const Lanes pv3 = p * Load(at + 3 * kLanes);
      b0 = b0 + pv0;
      b1 = b1 + pv1;
      b2 = b2 + pv2;
      b3 = b3 + pv3;
      a0 = a0 + (pv0 * p);
      a1 = a1 + (pv1 * p);
      a2 = a2 + (pv2 * p);
      a3 = a3 + (pv3 * p);
    }
    const Lanes as[kSlopeVectors] = {a0, a1, a2, a3};
    const Lanes bs[kSlopeVectors] = {b0, b1, b2, b3};
    for (std::size_t r = 0; r < kSlopeVectors; ++r) {
      for (std::size_t l = 0; l < kLanes; ++l) {
        vs[i + r * kLanes + l] = ((as[r][l] * t1) - (bs[r][l] * t2)) / den;
      }
    }
  }
  for (; i < n; ++i) {
    double a = 0.0;
    double b = 0.0;
    for (std::size_t j = 0; j <= dep; ++j) {
      const double p = static_cast<double>(dep + 1 - j);
      const double pv = p * xs[i - j];
      b = b + pv;
      a = a + (pv * p);
    }
    vs[i] = ((a * t1) - (b * t2)) / den;
  }
  return CoreStatus::kComplete;
}

CoreStatus SpdFilter(std::span<const double> v, std::span<double> out,
                     RunObserver* observer) {
  const std::size_t n = v.size();
  if (out.size() < n || Overlap(v.data(), n, out.data(), out.size())) {
    return CoreStatus::kBadArgument;
  }
  if (n < kWindow) return CoreStatus::kTooShort;

  const double* vs = v.data();
  double* os = out.data();
  const std::int64_t total = static_cast<std::int64_t>(n);

  const double k1 = 0.86 - 0.55 / std::sqrt(3.0);      // trend damping
  const double k2 = 1.0 - hvt::math::Pow(4.0, -1.0 / 3.0);   // noise smoothing
  const double gainScale = -1.0 / 3.0;
  const double noiseFloor = 1e-10;
  const double window = static_cast<double>(kWindow);
  const double h = window;  // points in the first fit

  double sumV = 0.0;
  for (std::size_t k = 0; k < kFilterStart; ++k) {
    os[k] = vs[k];
    sumV = sumV + vs[k];
  }
  double slope = (vs[30] - vs[27]) / 3.0;

  // Residuals of the last 31 rows; row j's slot is j mod 31, which held
  // row j - 31's until row j overwrites it.
  double e[kWindow];

  // Row 30: the first full window, fitted from scratch.
  sumV = sumV + vs[30];
  const double sxx = (((h + 1.0) * (h - 1.0)) * h) * (1.0 / 12.0);
  const double cm = (h - 1.0) * 0.5;
  const double cp = (h + 1.0) * 0.5;
  double sumXY = 0.0;
  for (std::size_t k = 0; k < kWindow; ++k) {
    sumXY = sumXY + ((static_cast<double>(k) - cm) * vs[k]);
  }
  double b = sumXY / sxx;
  const double a0 = (sumV / h) - (b * cp);
  double line = a0;
  double sumE = 0.0;
  for (std::size_t k = 0; k < kWindow; ++k) {
    line = line + b;  // traced by adding, not multiplying
    e[k] = std::fabs(vs[k] - line);
    sumE = sumE + e[k];
  }
  double noise = std::sqrt(window / h) * (sumE / h);

  std::size_t slot = 0;  // (j - 31) mod 31 == j mod 31
  for (std::size_t j = kFilterStart; j < n; ++j) {
    if (j > kFilterStart) {
      // sumXY needs the previous row's sumV.
      sumXY = ((cm * vs[j] + cp * vs[j - kWindow]) - sumV) + sumXY;
      sumV = (vs[j] - vs[j - kWindow]) + sumV;
      b = sumXY / sxx;
      const double ej = std::fabs(vs[j] - ((b * cm) + (sumV / window)));
      sumE = (ej - e[slot]) + sumE;
      e[slot] = ej;
      slot = slot + 1 == kWindow ? 0 : slot + 1;
      noise = (((sumE / window) - noise) * k2) + noise;
    }
    if (noise < noiseFloor) noise = noiseFloor;

    const double trend = slope * k1;
    const double err = vs[j] - (trend + os[j - 1]);
    const double gain = 1.0 - hvt::math::Exp((std::fabs(err) / noise) * gainScale);
    slope = (gain * err) + trend;
    os[j] = slope + os[j - 1];

    if (observer != nullptr) {
      if (observer->StopRequested()) return CoreStatus::kStopped;
      observer->Progress(static_cast<std::int64_t>(j) + 1, total);
    }
  }
  return CoreStatus::kComplete;
}

CoreStatus SpdSeries(std::span<const double> x, const SpdSettings& settings,
                     std::span<double> out, RunObserver* observer) {
  const int depth = settings.depth;
  const std::size_t n = x.size();
  if (depth < kMinDepth || depth > kMaxDepth || out.size() < n) {
    return CoreStatus::kBadArgument;
  }
  if (out.data() != x.data() &&
      Overlap(x.data(), n, out.data(), out.size())) {
    return CoreStatus::kBadArgument;
  }
  if (n < SpdMinRows(depth)) return CoreStatus::kTooShort;

  std::vector<double> v;
  try {
    v.assign(n, 0.0);
  } catch (const std::bad_alloc&) {
    return CoreStatus::kOutOfMemory;
  }
  const CoreStatus slope = SpdSlope(x, depth, v);
  if (slope != CoreStatus::kComplete) return slope;
  // x is no longer read, so out may be x itself.
  return SpdFilter(v, out.first(n), observer);
}

}  // namespace hvt::spd
