// SPD core: the slope against a weighted least-squares fit solved in centred
// form, the filter against a long-double formulation of its noise estimate,
// a step-by-step reference for bit-exactness, edge cases and fuzz families.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "math/cr_math.h"
#include "tools/spd/core/spd.h"

namespace {

using hvt::spd::SpdFilter;
using hvt::spd::SpdSeries;
using hvt::spd::SpdSlope;
using hvt::CoreStatus;

bool SameBits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---------------------------------------------------------------------------
// Step-by-step reference, one row at a time, full arrays.

std::vector<double> ReferenceSlope(const std::vector<double>& x, int D) {
  const std::size_t n = x.size();
  std::vector<double> V(n, 0.0);
  V[0] = 0;
  for (int i = 1; i <= D - 1; ++i) V[i] = (x[i] - x[0]) / i;
  const long long T1 = (D + 1LL) * (D + 2LL) / 2;
  const double T2 = ((2.0 * D + 3) * T1) * (1.0 / 3.0);
  const double Den = ((1.0 * T1 * T1) * T1) - (T2 * T2);
  for (std::size_t i = D; i <= n - 1; ++i) {
    double A = 0.0, B = 0.0;
    for (int j = 0; j <= D; ++j) {
      const double p = D + 1 - j;
      const double v = x[i - j];
      B = B + (p * v);
      A = A + ((p * v) * p);
    }
    V[i] = ((A * T1) - (B * T2)) / Den;
  }
  return V;
}

std::vector<double> ReferenceFilter(const std::vector<double>& V) {
  const std::size_t n = V.size();
  std::vector<double> Out(n, 0.0), E(n, 0.0);
  const double K1 = 0.86 - 0.55 / std::sqrt(3.0);
  const double K2 = 1.0 - hvt::math::Pow(4.0, -1.0 / 3.0);
  double sumV = 0.0;
  for (int k = 0; k <= 29; ++k) {
    Out[k] = V[k];
    sumV = sumV + V[k];
  }
  double slope = (V[30] - V[27]) / 3;
  const int H = 31;
  double Sxx = 0, Cm = 0, Cp = 0, sumXY = 0, sumE = 0, noise = 0, b = 0;
  for (std::size_t j = 30; j <= n - 1; ++j) {
    if (j == 30) {
      sumV = sumV + V[30];
      Sxx = (((H + 1.0) * (H - 1.0)) * H) * (1.0 / 12);
      Cm = (H - 1) * 0.5;
      Cp = (H + 1) * 0.5;
      sumXY = 0.0;
      for (int k = 0; k <= 30; ++k) sumXY = sumXY + (k - Cm) * V[k];
      b = sumXY / Sxx;
      const double a0 = (sumV / H) - (b * Cp);
      double line = a0;
      sumE = 0.0;
      for (int k = 0; k <= 30; ++k) {
        line = line + b;
        E[k] = std::fabs(V[k] - line);
        sumE = sumE + E[k];
      }
      noise = std::sqrt(31.0 / H) * (sumE / H);
    } else {
      sumXY = ((Cm * V[j] + Cp * V[j - 31]) - sumV) + sumXY;
      sumV = (V[j] - V[j - 31]) + sumV;
      b = sumXY / Sxx;
      E[j] = std::fabs(V[j] - ((b * Cm) + (sumV / 31)));
      sumE = (E[j] - E[j - 31]) + sumE;
      noise = (((sumE / 31) - noise) * K2) + noise;
    }
    if (noise < 1e-10) noise = 1e-10;
    const double trend = slope * K1;
    const double err = V[j] - (trend + Out[j - 1]);
    const double gain = 1 - hvt::math::Exp((std::fabs(err) / noise) * (-1.0 / 3));
    slope = (gain * err) + trend;
    Out[j] = slope + Out[j - 1];
  }
  return Out;
}

// ---------------------------------------------------------------------------
// Long-double formulations in centred form.

// Slope of the least-squares line through (p, v[p]), p = 1..count, each point
// weighted by p.
long double WeightedSlope(const long double* v, int count) {
  long double sw = 0, swp = 0, swv = 0;
  for (int p = 1; p <= count; ++p) {
    sw += p;
    swp += static_cast<long double>(p) * p;
    swv += p * v[p - 1];
  }
  const long double pm = swp / sw, vm = swv / sw;
  long double num = 0, den = 0;
  for (int p = 1; p <= count; ++p) {
    num += p * (p - pm) * (v[p - 1] - vm);
    den += p * (p - pm) * (p - pm);
  }
  return num / den;
}

// Ordinary least-squares line through v[0..30] at positions 0..30, value at
// position k.
long double FitAt(const long double* v, int k) {
  long double mean = 0;
  for (int q = 0; q < 31; ++q) mean += v[q];
  mean /= 31;
  long double sxy = 0, sxx = 0;
  for (int q = 0; q < 31; ++q) {
    sxy += (q - 15.0L) * (v[q] - mean);
    sxx += (q - 15.0L) * (q - 15.0L);
  }
  return mean + (sxy / sxx) * (k - 15.0L);
}

std::vector<long double> BruteFilter(const std::vector<double>& Vd) {
  const std::size_t n = Vd.size();
  std::vector<long double> V(Vd.begin(), Vd.end()), Out(n), E(n);
  const long double K1 = 0.86L - 0.55L / std::sqrt(3.0L);
  const long double K2 = 1.0L - std::pow(4.0L, -1.0L / 3.0L);
  for (int k = 0; k < 30; ++k) Out[k] = V[k];
  long double slope = (V[30] - V[27]) / 3, noise = 0;
  for (std::size_t j = 30; j < n; ++j) {
    if (j == 30) {
      long double sum = 0;
      for (int k = 0; k <= 30; ++k) {
        E[k] = std::fabs(V[k] - FitAt(&V[0], k));
        sum += E[k];
      }
      noise = sum / 31;
    } else {
      E[j] = std::fabs(V[j] - FitAt(&V[j - 30], 30));
      long double sum = 0;
      for (std::size_t k = j - 30; k <= j; ++k) sum += E[k];
      noise += (sum / 31 - noise) * K2;
    }
    noise = std::max(noise, 1e-10L);
    const long double trend = slope * K1;
    const long double err = V[j] - (trend + Out[j - 1]);
    const long double gain = 1 - std::exp(-std::fabs(err) / noise / 3);
    slope = gain * err + trend;
    Out[j] = slope + Out[j - 1];
  }
  return Out;
}

// ---------------------------------------------------------------------------
// Fuzz families from a fixed seed.

enum class Family { Walk, Monotone, Constant, Ties, Huge, Tiny, Zeros, Zigzag };
constexpr Family kFamilies[] = {Family::Walk,  Family::Monotone, Family::Constant,
                                Family::Ties,  Family::Huge,     Family::Tiny,
                                Family::Zeros, Family::Zigzag};

std::vector<double> MakeSeries(Family f, std::size_t n, std::mt19937_64& rng) {
  std::normal_distribution<double> step(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 3);
  std::vector<double> x(n);
  double level = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    switch (f) {
      case Family::Walk: level += step(rng); x[i] = level; break;
      case Family::Monotone: level += std::fabs(step(rng)); x[i] = level; break;
      case Family::Constant: x[i] = 5.0; break;
      case Family::Ties: x[i] = static_cast<double>(pick(rng)); break;
      case Family::Huge: level += step(rng); x[i] = level * 1e300; break;
      case Family::Tiny: level += step(rng); x[i] = level * 1e-310; break;
      case Family::Zeros: x[i] = pick(rng) < 2 ? 0.0 : -0.0; break;
      case Family::Zigzag: x[i] = (i % 2 == 0 ? 1.0 : -1.0) * (1.0 + 1e-3 * step(rng)); break;
    }
  }
  return x;
}

std::vector<double> RunSpd(const std::vector<double>& x, int depth,
                           hvt::RunObserver* observer = nullptr) {
  std::vector<double> out(x.size(), -1.0);
  EXPECT_EQ(SpdSeries(x, {depth}, out, observer), CoreStatus::kComplete);
  return out;
}

std::vector<double> RunSlope(const std::vector<double>& x, int depth) {
  std::vector<double> v(x.size(), -1.0);
  EXPECT_EQ(SpdSlope(x, depth, v), CoreStatus::kComplete);
  return v;
}

// ---------------------------------------------------------------------------

TEST(SpdSlopeTest, PositionSumsAreExactIntegersForEveryDepth) {
  // The slope's constants: sum of positions 1..D+1 and of their squares,
  // formed with a rounded third, are exact for every allowed depth.
  for (long long D = hvt::spd::kMinDepth; D <= hvt::spd::kMaxDepth; ++D) {
    long long t1 = 0, t2 = 0;
    for (long long p = 1; p <= D + 1; ++p) {
      t1 += p;
      t2 += p * p;
    }
    const double T2 = ((2.0 * D + 3) * static_cast<double>(t1)) * (1.0 / 3.0);
    ASSERT_EQ(T2, static_cast<double>(t2)) << "D=" << D;
    const double den = ((1.0 * t1 * t1) * t1) - (T2 * T2);
    ASSERT_EQ(den, static_cast<double>(t1 * t1 * t1 - t2 * t2)) << "D=" << D;
  }
}

TEST(SpdSlopeTest, MatchesWeightedLeastSquaresSolvedInCentredForm) {
  std::mt19937_64 rng(101);
  for (int depth : {2, 3, 10, 31, 64, 250, 500}) {
    const auto x = MakeSeries(Family::Walk, depth + 300, rng);
    const auto v = RunSlope(x, depth);
    EXPECT_EQ(v[0], 0.0);
    for (int i = 1; i < depth; ++i) {
      ASSERT_EQ(v[i], (x[i] - x[0]) / i) << depth << " " << i;
    }
    std::vector<long double> window(depth + 1);
    for (std::size_t i = depth; i < x.size(); ++i) {
      for (int p = 1; p <= depth + 1; ++p) window[p - 1] = x[i - depth - 1 + p];
      const long double want = WeightedSlope(window.data(), depth + 1);
      // The plain sums lose digits to the level of the series.
      ASSERT_NEAR(v[i], static_cast<double>(want), 1e-9 * (1 + std::fabs(x[i])))
          << "depth=" << depth << " i=" << i;
    }
  }
}

TEST(SpdSlopeTest, LinesGiveTheirSlopeAndWorksForAnyLength) {
  // x[i] = i: every crude and fitted rate is exactly 1 at depth 2.
  std::vector<double> up(200);
  for (std::size_t i = 0; i < up.size(); ++i) up[i] = static_cast<double>(i);
  const auto v = RunSlope(up, 2);
  EXPECT_EQ(v[0], 0.0);
  for (std::size_t i = 1; i < v.size(); ++i) ASSERT_EQ(v[i], 1.0) << i;
  // Integer lines are exact while A * T1 stays below 2^53; beyond, close.
  std::vector<double> line(1100);
  for (std::size_t i = 0; i < line.size(); ++i) line[i] = -3.0 * i + 7;
  for (int depth : {7, 100, 500}) {
    const auto w = RunSlope(line, depth);
    for (std::size_t i = 1; i < w.size(); ++i) {
      if (depth <= 100) {
        ASSERT_EQ(w[i], -3.0) << depth << " " << i;
      } else {
        ASSERT_NEAR(w[i], -3.0, 1e-9) << depth << " " << i;
      }
    }
  }
  // Shorter than the depth: only crude rates, nothing read past the end.
  for (std::size_t n : {0u, 1u, 2u, 9u}) {
    std::vector<double> x(up.begin(), up.begin() + n);
    const auto s = RunSlope(x, 10);
    for (std::size_t i = 1; i < n; ++i) EXPECT_EQ(s[i], 1.0);
  }
  std::vector<double> v3(3);
  EXPECT_EQ(SpdSlope(up, 1, v3), CoreStatus::kBadArgument);
  EXPECT_EQ(SpdSlope(up, 501, v3), CoreStatus::kBadArgument);
  EXPECT_EQ(SpdSlope(up, 10, v3), CoreStatus::kBadArgument);  // too small
  std::vector<double> same(up);
  EXPECT_EQ(SpdSlope(same, 10, same), CoreStatus::kBadArgument);
}

TEST(SpdSeriesTest, ConstantWholeNumbersGiveZeroEverywhere) {
  for (int depth : {2, 10, 500}) {
    const std::vector<double> x(600, 5.0);
    const auto out = RunSpd(x, depth);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(SameBits(out[i], 0.0)) << i;
  }
}

TEST(SpdSeriesTest, StraightLineAtDepthTwoTracksExactlyOne) {
  std::vector<double> x(120);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
  const auto out = RunSpd(x, 2);
  EXPECT_EQ(out[0], 0.0);
  for (std::size_t i = 1; i < out.size(); ++i) ASSERT_EQ(out[i], 1.0) << i;
}

TEST(SpdSeriesTest, LeadingRowsCarryTheRawRate) {
  std::mt19937_64 rng(102);
  for (int depth : {10, 40, 500}) {
    const auto x = MakeSeries(Family::Walk, 700, rng);
    const auto v = RunSlope(x, depth);
    const auto out = RunSpd(x, depth);
    for (int k = 0; k < 30; ++k) ASSERT_TRUE(SameBits(out[k], v[k])) << k;
    // Depth 40: rows 0..39 of the raw rate are crude, and the filter runs on
    // them from row 30.
    if (depth == 40) {
      for (int i = 1; i < 40; ++i) ASSERT_EQ(v[i], (x[i] - x[0]) / i);
    }
  }
}

TEST(SpdFilterTest, AgreesWithLongDoubleRegressionAndTracking) {
  std::mt19937_64 rng(103);
  for (int depth : {2, 10, 60}) {
    const auto x = MakeSeries(Family::Walk, 3000, rng);
    const auto v = RunSlope(x, depth);
    std::vector<double> out(v.size());
    ASSERT_EQ(SpdFilter(v, out), CoreStatus::kComplete);
    const auto want = BruteFilter(v);
    for (std::size_t j = 0; j < v.size(); ++j) {
      ASSERT_NEAR(out[j], static_cast<double>(want[j]), 1e-8 * (1 + std::fabs(out[j])))
          << "depth=" << depth << " j=" << j;
    }
  }
}

TEST(SpdFilterTest, BigSurpriseIsFollowedAndSmallOneDamped) {
  // A step in the raw rate many noise estimates high is taken almost fully
  // in one row; the same step against heavy noise is taken only partly.
  std::mt19937_64 rng(104);
  std::normal_distribution<double> jitter(0.0, 1.0);
  std::vector<double> calm(200), rough(200);
  for (std::size_t j = 0; j < 200; ++j) {
    calm[j] = (j >= 100 ? 10.0 : 0.0) + 1e-6 * jitter(rng);
    rough[j] = (j >= 100 ? 10.0 : 0.0) + 30.0 * jitter(rng);
  }
  std::vector<double> a(200), b(200);
  ASSERT_EQ(SpdFilter(calm, a), CoreStatus::kComplete);
  ASSERT_EQ(SpdFilter(rough, b), CoreStatus::kComplete);
  EXPECT_NEAR(a[100], 10.0, 1e-3);
  const double roughJump = (b[100] - b[99]) / (rough[100] - b[99]);
  EXPECT_LT(std::fabs(roughJump), 0.9);
}

TEST(SpdSeriesTest, BitExactAgainstStepReferenceAcrossFuzzFamilies) {
  std::mt19937_64 rng(105);
  for (Family f : kFamilies) {
    for (int depth : {2, 3, 8, 9, 30, 31, 32, 100, 499, 500}) {
      for (std::size_t n : {hvt::spd::SpdMinRows(depth), hvt::spd::SpdMinRows(depth) + 1,
                            hvt::spd::SpdMinRows(depth) + 7, std::size_t{1100}}) {
        const auto x = MakeSeries(f, n, rng);
        const auto out = RunSpd(x, depth);
        const auto v = RunSlope(x, depth);
        const auto refV = ReferenceSlope(x, depth);
        const auto refOut = ReferenceFilter(refV);
        for (std::size_t i = 0; i < n; ++i) {
          ASSERT_TRUE(SameBits(v[i], refV[i]))
              << "family=" << static_cast<int>(f) << " depth=" << depth << " n=" << n
              << " i=" << i;
          ASSERT_TRUE(SameBits(out[i], refOut[i]))
              << "family=" << static_cast<int>(f) << " depth=" << depth << " n=" << n
              << " i=" << i << " got=" << out[i] << " want=" << refOut[i];
        }
      }
    }
  }
}

TEST(SpdSeriesTest, InPlaceRunMatchesSeparateOutput) {
  std::mt19937_64 rng(106);
  const auto x = MakeSeries(Family::Walk, 1000, rng);
  for (int depth : {5, 200}) {
    const auto separate = RunSpd(x, depth);
    std::vector<double> buffer(x);
    ASSERT_EQ(SpdSeries(buffer, {depth}, buffer), CoreStatus::kComplete);
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_TRUE(SameBits(buffer[i], separate[i]));
  }
}

TEST(SpdSeriesTest, ShortInputsAndBadArgumentsAreReported) {
  std::vector<double> x(600);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.1 * i);
  auto untouched = [](const std::vector<double>& o) {
    return std::all_of(o.begin(), o.end(), [](double v) { return v == 99.0; });
  };
  for (auto [n, depth] : {std::pair<std::size_t, int>{0, 10}, {1, 10}, {30, 10},
                          {30, 2}, {39, 40}, {499, 500}}) {
    std::vector<double> in(x.begin(), x.begin() + n), out(n, 99.0);
    EXPECT_EQ(SpdSeries(in, {depth}, out), CoreStatus::kTooShort) << n << " " << depth;
    EXPECT_TRUE(untouched(out));
  }
  for (auto [n, depth] : {std::pair<std::size_t, int>{31, 10}, {31, 31}, {40, 40},
                          {500, 500}}) {
    std::vector<double> in(x.begin(), x.begin() + n), out(n, 99.0);
    EXPECT_EQ(SpdSeries(in, {depth}, out), CoreStatus::kComplete) << n << " " << depth;
  }
  std::vector<double> v30(30), out30(30, 99.0);
  EXPECT_EQ(SpdFilter(v30, out30), CoreStatus::kTooShort);
  EXPECT_TRUE(untouched(out30));

  std::vector<double> out(600, 99.0), small(599, 99.0);
  EXPECT_EQ(SpdSeries(x, {1}, out), CoreStatus::kBadArgument);
  EXPECT_EQ(SpdSeries(x, {501}, out), CoreStatus::kBadArgument);
  EXPECT_EQ(SpdSeries(x, {10}, small), CoreStatus::kBadArgument);
  EXPECT_TRUE(untouched(out));
  std::vector<double> buf(x);
  buf.resize(700);
  // Output shifted inside the input would be overwritten while still needed.
  EXPECT_EQ(SpdSeries(std::span<const double>(buf.data(), 600), {10}, std::span<double>(buf.data() + 5, 600)),
            CoreStatus::kBadArgument);
  EXPECT_EQ(SpdFilter(std::span<const double>(buf.data(), 600),
                      std::span<double>(buf.data(), 600)),
            CoreStatus::kBadArgument);
  EXPECT_EQ(SpdFilter(x, small), CoreStatus::kBadArgument);
}

class RowLog : public hvt::RunObserver {
 public:
  explicit RowLog(std::int64_t stopOnAsk) : stopOnAsk_(stopOnAsk) {}
  bool StopRequested() override { return ++asks == stopOnAsk_; }
  void Progress(std::int64_t done, std::int64_t total) override {
    EXPECT_EQ(asks, static_cast<std::int64_t>(dones.size()) + 1);
    dones.push_back(done);
    totals.push_back(total);
  }
  std::int64_t asks = 0;
  std::vector<std::int64_t> dones, totals;

 private:
  std::int64_t stopOnAsk_;
};

TEST(SpdSeriesTest, ObserverSeesEveryFilteredRowAndCanStop) {
  std::mt19937_64 rng(107);
  const auto x = MakeSeries(Family::Walk, 300, rng);
  RowLog all(-1);
  const auto out = RunSpd(x, 10, &all);
  ASSERT_EQ(all.dones.size(), x.size() - 30);
  for (std::size_t k = 0; k < all.dones.size(); ++k) {
    EXPECT_EQ(all.dones[k], static_cast<std::int64_t>(31 + k));  // row j = 30 + k done
    EXPECT_EQ(all.totals[k], 300);
  }
  const auto plain = RunSpd(x, 10);
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_TRUE(SameBits(out[i], plain[i]));
  for (std::int64_t stopAt : {1, 2, 270}) {
    RowLog stopper(stopAt);
    std::vector<double> o(x.size());
    EXPECT_EQ(SpdSeries(x, {10}, o, &stopper), CoreStatus::kStopped);
    EXPECT_EQ(stopper.asks, stopAt);
    EXPECT_EQ(stopper.dones.size(), static_cast<std::size_t>(stopAt - 1));
  }
}

}  // namespace
