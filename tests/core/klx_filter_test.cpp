// KLX filter: settings, warm-up rows, edge cases, observer protocol, and a
// run against a filter whose reference is taken from a sorted copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "math/cr_math.h"
#include "tests/core/klx_test_data.h"
#include "tools/klx/core/klx_filter.h"

namespace {

using hvt::CoreStatus;
using hvt::klx::KlxFilter;
using hvt::klx::KlxInitialStep;
using hvt::klx::KlxConstants;
using klx_test::RecordingObserver;
using klx_test::SameBits;

std::vector<double> Smooth(const std::vector<double>& x, double S, double P) {
  std::vector<double> y(x.size(), std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(KlxFilter(x, {S, P}, y), CoreStatus::kComplete);
  return y;
}

TEST(KlxConstants, SevenGivesTheTabulatedConstants) {
  const auto s = KlxConstants::Derive(7.0, 0.0);
  EXPECT_EQ(s.h, 3.0);
  EXPECT_NEAR(s.r, 1.7320508075688772, 1e-15);
  EXPECT_NEAR(s.g, 0.5 * std::log2(3.0) + 2.0, 1e-15);
  EXPECT_NEAR(s.g, 2.7924812503605785, 1e-14);
  EXPECT_EQ(s.p1, s.g);
  EXPECT_NEAR(s.b, 4.8367194, 1e-7);
  EXPECT_NEAR(s.kb, 0.8286708, 1e-7);
  EXPECT_EQ(s.cl, 5.0);
  EXPECT_EQ(s.fl, 4.0);
  EXPECT_NEAR(s.p2, 0.7924812503605785, 1e-14);
  EXPECT_NEAR(s.beta, 2.7 / 4.7, 1e-15);
  EXPECT_EQ(s.oneMinusBeta, 1.0 - s.beta);
  EXPECT_EQ(s.phi, 1.5);
}

TEST(KlxConstants, SmallSmoothnessFloorsTheHalfLength) {
  for (double S : {-5.0, 0.0, 1.0, 1.0000000002}) {
    const auto s = KlxConstants::Derive(S, 0.0);
    EXPECT_EQ(s.h, 1e-10) << S;
    EXPECT_EQ(s.kb, 0.0);
    EXPECT_NEAR(s.beta, 4.5e-11, 1e-15);
  }
  EXPECT_GT(KlxConstants::Derive(1.0000000003, 0.0).h, 1e-10);
  EXPECT_EQ(KlxConstants::Derive(std::nan(""), 0.0).h, 1e-10);
  // Up to 1.125 the exponent cap is 0, so w = 1 on every row.
  for (double S : {0.0, 1.0, 1.1, 1.125}) EXPECT_EQ(KlxConstants::Derive(S, 0).p1, 0.0) << S;
  EXPECT_GT(KlxConstants::Derive(1.13, 0.0).p1, 0.0);
  EXPECT_EQ(KlxConstants::Derive(1.13, 0.0).p2, 0.5);
}

TEST(KlxConstants, PhaseRatioAndClamps) {
  EXPECT_EQ(KlxConstants::Derive(10, 0).phi, 1.5);
  EXPECT_EQ(KlxConstants::Derive(10, -100).phi, 0.5);
  EXPECT_EQ(KlxConstants::Derive(10, 100).phi, 2.5);
  EXPECT_EQ(KlxConstants::Derive(10, -250).phi, 0.5);
  EXPECT_EQ(KlxConstants::Derive(10, 250).phi, 2.5);
  EXPECT_EQ(KlxConstants::Derive(10, -100.0000001).phi, 0.5);
  EXPECT_EQ(KlxConstants::Derive(10, 50).phi, 2.0);
  EXPECT_EQ(KlxConstants::Derive(10, std::nan("")).phi, 1.5);

  const auto x = klx_test::RandomWalk(300, 5);
  const auto a = Smooth(x, 20, 250), b = Smooth(x, 20, 100);
  const auto c = Smooth(x, 20, -250), d = Smooth(x, 20, -100);
  for (std::size_t i = 0; i < x.size(); ++i) {
    ASSERT_TRUE(SameBits(a[i], b[i])) << i;
    ASSERT_TRUE(SameBits(c[i], d[i])) << i;
  }
}

TEST(KlxInitialStep, LookBackCappedAt29WhileDivisorsAreNot) {
  std::vector<double> line(40);
  for (std::size_t i = 0; i < line.size(); ++i) line[i] = 2.0 * static_cast<double>(i);

  const auto s7 = KlxConstants::Derive(7.0, 0.0);
  EXPECT_NEAR(KlxInitialStep(line, s7), 2.0, 1e-14);  // a line's slope

  const auto big = KlxConstants::Derive(10000.0, 0.0);
  EXPECT_NEAR(big.b, 575.8, 0.1);
  EXPECT_EQ(big.cl, 576.0);
  EXPECT_EQ(big.fl, 575.0);
  const double frac = big.b - 575.0;
  const double want = 2.0 * 29.0 * ((1.0 - frac) / 575.0 + frac / 576.0);
  EXPECT_NEAR(KlxInitialStep(line, big), want, 1e-14);

  // A band length below 1 uses a one-row look-back with divisor 1.
  const auto tiny = KlxConstants::Derive(1.2, 0.0);
  EXPECT_LT(tiny.b, 1.0);
  EXPECT_EQ(tiny.cl, 1.0);
  EXPECT_EQ(tiny.fl, 1.0);
  EXPECT_EQ(KlxInitialStep(line, tiny), 2.0);
}

TEST(KlxFilter, ShortColumnsComeBackUnchanged) {
  for (std::size_t n : {0, 1, 2, 30, 31}) {
    const auto x = klx_test::RandomWalk(n, 7);
    std::vector<double> y(n, -1.0);
    RecordingObserver obs;
    EXPECT_EQ(KlxFilter(x, {10, 0}, y, &obs), CoreStatus::kComplete);
    EXPECT_EQ(y, x);
    EXPECT_TRUE(obs.calls.empty());
  }
}

TEST(KlxFilter, MismatchedOutputIsRefusedUntouched) {
  const auto x = klx_test::RandomWalk(50, 8);
  std::vector<double> y(49, -1.0);
  EXPECT_EQ(KlxFilter(x, {10, 0}, y), CoreStatus::kBadArgument);
  EXPECT_EQ(y, std::vector<double>(49, -1.0));
}

TEST(KlxFilter, WarmUpRowsCopyTheInputAndRow31IsSmoothed) {
  for (double S : {0.0, 7.0, 100.0, 10000.0}) {
    const auto x = klx_test::RandomWalk(200, 9);
    const auto y = Smooth(x, S, 30);
    for (std::size_t k = 0; k <= 30; ++k) ASSERT_TRUE(SameBits(y[k], x[k])) << S << " " << k;
    if (S > 2) {
      EXPECT_NE(y[31], x[31]) << S;
    }
  }
}

TEST(KlxFilter, InPlaceRunMatchesSeparateOutput) {
  auto x = klx_test::RandomWalk(500, 10);
  const auto y = Smooth(x, 30, -20);
  ASSERT_EQ(KlxFilter(x, {30, -20}, x), CoreStatus::kComplete);
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_TRUE(SameBits(x[i], y[i])) << i;
}

TEST(KlxFilter, ConstantColumnStaysConstant) {
  for (double v : {0.0, -0.0, 42.5, -1e-300, 7e250}) {
    for (double S : {0.0, 7.0, 10000.0}) {
      for (double P : {-100.0, 0.0, 100.0}) {
        const std::vector<double> x(300, v);
        const auto y = Smooth(x, S, P);
        for (double e : y) ASSERT_EQ(e, v) << v << " " << S << " " << P;
      }
    }
  }
}

TEST(KlxFilter, TinySmoothnessFollowsTheInput) {
  const auto x = klx_test::RandomWalk(2000, 11);
  for (double S : {0.0, 1.0, 1.0000000002}) {
    const auto y = Smooth(x, S, 100);
    for (std::size_t k = 31; k < x.size(); ++k) {
      ASSERT_NEAR(y[k], x[k], 1e-9 * (std::fabs(x[k]) + 1.0)) << S << " " << k;
    }
  }
}

TEST(KlxFilter, PhaseLeansTowardsTheNewestValues) {
  // On a steady ramp every term settles to a fixed offset from the line,
  // and the trend term has the ramp's sign, so a larger phase ends higher
  // on a rising line and lower on a falling one.
  for (double slope : {0.5, -0.5}) {
    std::vector<double> x(3000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = slope * static_cast<double>(i);
    for (double S : {3.0, 7.0, 50.0}) {
      const double lo = Smooth(x, S, -100).back();
      const double mid = Smooth(x, S, 0).back();
      const double hi = Smooth(x, S, 100).back();
      if (slope > 0) {
        EXPECT_LT(lo, mid) << S;
        EXPECT_LT(mid, hi) << S;
      } else {
        EXPECT_GT(lo, mid) << S;
        EXPECT_GT(mid, hi) << S;
      }
    }
  }
}

TEST(KlxFilter, ObserverSeesEveryRowAndStopsAtOnce) {
  const auto x = klx_test::RandomWalk(100, 12);
  const auto full = Smooth(x, 10, 0);
  {
    RecordingObserver obs;
    std::vector<double> y(x.size());
    ASSERT_EQ(KlxFilter(x, {10, 0}, y, &obs), CoreStatus::kComplete);
    EXPECT_EQ(y, full);
    // Rows 1..30: progress only; rows 31..99: stop asked, then progress.
    std::vector<RecordingObserver::Call> want;
    for (int k = 1; k <= 30; ++k) want.push_back({false, k, 100});
    for (int k = 31; k <= 99; ++k) {
      want.push_back({true, 0, 0});
      want.push_back({false, k, 100});
    }
    ASSERT_EQ(obs.calls.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(obs.calls[i].stop, want[i].stop) << i;
      EXPECT_EQ(obs.calls[i].done, want[i].done) << i;
      EXPECT_EQ(obs.calls[i].total, want[i].total) << i;
    }
  }
  for (int stopRow : {31, 32, 64, 99}) {
    RecordingObserver obs(stopRow - 30);
    std::vector<double> y(x.size(), -7.0);
    EXPECT_EQ(KlxFilter(x, {10, 0}, y, &obs), CoreStatus::kStopped);
    ASSERT_FALSE(obs.calls.empty());
    EXPECT_TRUE(obs.calls.back().stop) << "no progress for the stopped row";
    const auto& lastProgress = obs.calls[obs.calls.size() - 2];
    EXPECT_EQ(lastProgress.done, stopRow - 1);
    // The stopped row was computed; nothing after it was.
    for (int k = 0; k <= stopRow; ++k) EXPECT_EQ(y[k], full[k]) << k;
    for (std::size_t k = stopRow + 1; k < y.size(); ++k) EXPECT_EQ(y[k], -7.0) << k;
  }
}

// The filter with its reference taken from a sorted copy of all ten-value
// means instead of the incremental ranked list.
std::vector<double> SortedReferenceKlx(const std::vector<double>& x, double S, double P) {
  const auto s = KlxConstants::Derive(S, P);
  std::vector<double> y(x), fed, means;
  if (x.size() <= 31) return y;
  auto reference = [&](double v) {
    fed.push_back(v);
    const std::size_t k = std::min<std::size_t>(fed.size(), 10);
    double sum = 0;
    for (std::size_t i = fed.size() - k; i < fed.size(); ++i) sum += fed[i];
    means.push_back(sum / static_cast<double>(k));
    const std::size_t c = means.size();
    std::vector<double> last(means.end() - static_cast<long>(std::min<std::size_t>(c, 127)), means.end());
    std::sort(last.begin(), last.end());
    std::size_t first = 1, lastRank = c;
    if (c > 65) {
      first = c <= 127 ? c / 2 - 31 : 32;
      lastRank = first + 64;
    }
    double w = 0;
    for (std::size_t r = first; r <= lastRank; ++r) w += last[r - 1];
    return w / static_cast<double>(lastRank - first + 1);
  };
  double U = x[0], L = x[0];
  for (std::size_t k = 1; k <= 30; ++k) {
    const double du = x[k] - U, dl = x[k] - L;
    reference(std::max(std::fabs(du), std::fabs(dl)) + 1e-10);
    U = du > 0 ? x[k] : x[k] - s.kb * du;
    L = dl < 0 ? x[k] : x[k] - s.kb * dl;
  }
  double D = KlxInitialStep(x, s), M = x[30], Y = x[30], T = 0;
  for (std::size_t k = 31; k < x.size(); ++k) {
    const double du = x[k] - U, dl = x[k] - L;
    const double vol = std::max(std::fabs(du), std::fabs(dl));
    const double e = hvt::math::Pow(vol / reference(vol + 1e-10), s.p2);
    const double w = std::clamp(e, 1.0, std::max(1.0, s.p1));
    const double kv = hvt::math::Pow(s.kb, std::sqrt(w));
    const double a = hvt::math::Pow(s.beta, w);
    M = (1 - a) * x[k] + a * M;
    T = (x[k] - M) * (1 - s.beta) + s.beta * T;
    D = (T * s.phi + M - Y) * (1 - a) * (1 - a) + a * a * D;
    Y += D;
    y[k] = Y;
    U = du > 0 ? x[k] : x[k] - kv * du;
    L = dl < 0 ? x[k] : x[k] - kv * dl;
  }
  return y;
}

TEST(KlxFilter, AgreesWithSortedReferenceFilter) {
  for (const auto& fam : klx_test::Families(1500, 21)) {
    if (fam.name == "tiny" || fam.name == "signed_zero") continue;  // below the 1e-10 offset
    for (double S : {1.5, 7.0, 33.0, 500.0}) {
      for (double P : {-100.0, 0.0, 100.0}) {
        SCOPED_TRACE(fam.name + " S=" + std::to_string(S) + " P=" + std::to_string(P));
        const auto y = Smooth(fam.x, S, P);
        const auto want = SortedReferenceKlx(fam.x, S, P);
        double scale = 0;
        for (double v : fam.x) scale = std::max(scale, std::fabs(v));
        for (std::size_t k = 0; k < y.size(); ++k) {
          ASSERT_NEAR(y[k], want[k], 1e-9 * scale) << k;
        }
      }
    }
  }
}

TEST(KlxFilter, FuzzFamiliesAtSettingBounds) {
  for (std::size_t n : {0, 1, 2, 30, 31, 32, 33, 200}) {
    for (const auto& fam : klx_test::Families(n, 31)) {
      for (double S : {0.0, 1.0000000002, 1.125, 7.0, 8192.0, 10000.0}) {
        for (double P : {-250.0, -100.0, 0.0, 100.0, 250.0}) {
          SCOPED_TRACE(fam.name + " n=" + std::to_string(n) + " S=" + std::to_string(S));
          std::vector<double> y(n);
          RecordingObserver obs;
          ASSERT_EQ(KlxFilter(fam.x, {S, P}, y, &obs), CoreStatus::kComplete);
          for (std::size_t k = 0; k < std::min<std::size_t>(n, 31); ++k) {
            ASSERT_TRUE(SameBits(y[k], fam.x[k]));
          }
          for (double e : y) ASSERT_TRUE(std::isfinite(e));
          std::vector<double> again(n);
          ASSERT_EQ(KlxFilter(fam.x, {S, P}, again), CoreStatus::kComplete);
          for (std::size_t k = 0; k < n; ++k) ASSERT_TRUE(SameBits(y[k], again[k]));
          EXPECT_EQ(obs.calls.size(), n <= 31 ? 0 : 30 + 2 * (n - 31));
        }
      }
    }
  }
}

TEST(KlxFilter, NonFiniteInputDoesNotCrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto x = klx_test::RandomWalk(400, 41);
  x[5] = nan;
  x[100] = inf;
  x[200] = -inf;
  x[300] = 1e308;
  for (double S : {0.0, 10.0, 10000.0, inf, -inf, nan, 1e300}) {
    for (double P : {0.0, nan, inf}) {
      std::vector<double> y(x.size());
      EXPECT_EQ(KlxFilter(x, {S, P}, y), CoreStatus::kComplete);
      EXPECT_TRUE(SameBits(y[5], x[5]));
    }
  }
}

}  // namespace
