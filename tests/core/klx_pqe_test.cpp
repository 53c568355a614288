// PQE filter: settings, edge cases, observer protocol, and agreement with a
// filter whose noise level comes from fresh normal-equation fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "math/cr_math.h"
#include "tests/core/klx_test_data.h"
#include "tools/klx/core/pqe_filter.h"

// Allocations of this test program fail while this is set. (The replaced
// operators pair malloc with free, which GCC cannot see through inlining.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
bool g_refuseAllocations = false;

void* operator new(std::size_t size) {
  void* p = g_refuseAllocations ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using hvt::CoreStatus;
using hvt::klx::PqeFilter;
using hvt::klx::PqeConstants;
using klx_test::RecordingObserver;
using klx_test::SameBits;

std::vector<double> Pqe(const std::vector<double>& x, double S) {
  std::vector<double> y(x.size(), std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(PqeFilter(x, {S}, y), CoreStatus::kComplete);
  return y;
}

TEST(PqeConstants, WindowSpanAndGains) {
  EXPECT_EQ(PqeConstants::Derive(15).window, 31);
  EXPECT_EQ(PqeConstants::Derive(15.5).window, 32);
  EXPECT_EQ(PqeConstants::Derive(10).span, 10);
  EXPECT_EQ(PqeConstants::Derive(50).span, 30);
  EXPECT_EQ(PqeConstants::Derive(10000).window, 20000);
  EXPECT_EQ(PqeConstants::Derive(2.5).span, 3);

  for (double S : {0.0, -3.0, 1e-11, std::nan("")}) {
    const auto p = PqeConstants::Derive(S);
    EXPECT_EQ(p.s, 1e-10) << S;
    EXPECT_EQ(p.window, 31);
    EXPECT_EQ(p.span, 1);
    EXPECT_EQ(p.g2, 1.0);
    EXPECT_NEAR(p.g1, 0.86 - 55000.0, 1e-8);
  }
  // With s = 3 the gains equal the closed forms 0.86 - 0.55/sqrt(3) and
  // 1 - 4^(-1/3).
  const auto p3 = PqeConstants::Derive(3);
  EXPECT_NEAR(p3.g1, 0.5424573519457058, 1e-15);
  EXPECT_NEAR(p3.g2, 1.0 - std::cbrt(0.25), 1e-15);
}

TEST(PqeFilter, ShortAndMismatchedColumns) {
  for (std::size_t n : {0, 1, 29, 30}) {
    const auto x = klx_test::RandomWalk(n, 3);
    std::vector<double> y(n, -1.0);
    RecordingObserver obs;
    EXPECT_EQ(PqeFilter(x, {10}, y, &obs), CoreStatus::kComplete);
    EXPECT_EQ(y, x);
    EXPECT_TRUE(obs.calls.empty());
  }
  const auto x = klx_test::RandomWalk(40, 4);
  std::vector<double> y(41, -1.0);
  EXPECT_EQ(PqeFilter(x, {10}, y), CoreStatus::kBadArgument);
  EXPECT_EQ(y, std::vector<double>(41, -1.0));
}

TEST(PqeFilter, ConstantColumnStaysConstant) {
  for (double v : {0.0, -0.0, 3.25, -7e200}) {
    for (double S : {0.0, 3.0, 15.5, 10000.0}) {
      const auto y = Pqe(std::vector<double>(120, v), S);
      for (double e : y) ASSERT_EQ(e, v) << v << " " << S;
    }
  }
}

TEST(PqeFilter, StraightLineIsReproduced) {
  // Residuals vanish, the noise level drops to its floor, the gain is 1.
  std::vector<double> x(200);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = 5.0 + 0.75 * static_cast<double>(i);
  for (double S : {0.0, 3.0, 10.0, 15.5, 40.0, 150.0}) {
    const auto y = Pqe(x, S);
    for (std::size_t j = 30; j < x.size(); ++j) {
      ASSERT_NEAR(y[j], 5.0 + 0.75 * static_cast<double>(j), 1e-9) << S << " " << j;
    }
  }
}

TEST(PqeFilter, ZeroSmoothnessFollowsTheInput) {
  const auto x = klx_test::RandomWalk(500, 5);
  const auto y = Pqe(x, 0.0);
  for (std::size_t j = 0; j < x.size(); ++j) {
    ASSERT_NEAR(y[j], x[j], 1e-9 * (std::fabs(x[j]) + 1.0)) << j;
  }
}

TEST(PqeFilter, FirstRowsCopyAndRow30IsFiltered) {
  const auto x = klx_test::RandomWalk(100, 6);
  const auto y = Pqe(x, 8);
  for (std::size_t k = 0; k < 30; ++k) ASSERT_TRUE(SameBits(y[k], x[k]));
  EXPECT_NE(y[30], x[30]);
}

// The same tracking filter with every noise level taken from a fresh fit by
// normal equations over the points it names (long double sums), and every
// residual sum recomputed from scratch.
std::vector<double> NormalEquationsPqe(const std::vector<double>& x, double S) {
  const auto p = PqeConstants::Derive(S);
  const std::size_t n = x.size();
  std::vector<double> y(x);
  if (n <= 30) return y;
  const double N = p.window;
  std::vector<double> r(n, 0.0);
  auto fit = [&](std::size_t first, std::size_t last, double& slope, double& icpt) {
    long double k = 0, si = 0, sii = 0, sx = 0, six = 0;
    for (std::size_t i = first; i <= last; ++i) {
      const long double t = static_cast<long double>(i - first);
      k += 1;
      si += t;
      sii += t * t;
      sx += x[i];
      six += t * x[i];
    }
    const long double b = (k * six - si * sx) / (k * sii - si * si);
    slope = static_cast<double>(b);
    icpt = static_cast<double>((sx - b * si) / k);
  };
  double v = (x[30] - x[30 - static_cast<std::size_t>(p.span)]) / p.span;
  double q = 0;
  for (std::size_t j = 30; j < n; ++j) {
    if (static_cast<double>(j) < N) {
      double b, a0;
      fit(0, j, b, a0);
      long double sum = 0;
      for (std::size_t i = 0; i <= j; ++i) {
        r[i] = std::fabs(x[i] - (a0 + b * static_cast<double>(i)));
        sum += r[i];
      }
      const double K = static_cast<double>(j + 1);
      q = std::sqrt(N / K) * static_cast<double>(sum / K);
    } else {
      const auto w = static_cast<std::size_t>(N);
      double b, a0;
      fit(j + 1 - w, j, b, a0);
      r[j] = std::fabs(x[j] - (a0 + b * (N - 1)));
      long double sum = 0;
      for (std::size_t i = j + 1 - w; i <= j; ++i) sum += r[i];
      q = (static_cast<double>(sum) / N - q) * p.g2 + q;
    }
    q = std::max(q, 1e-10);
    const double T = v * p.g1;
    const double err = x[j] - (T + y[j - 1]);
    const double gain = 1 - hvt::math::Exp(-std::fabs(err) / (q * p.s));
    v = gain * err + T;
    y[j] = v + y[j - 1];
  }
  return y;
}

TEST(PqeFilter, AgreesWithNormalEquationFits) {
  for (const auto& fam : klx_test::Families(400, 51)) {
    if (fam.name == "monotone" || fam.name == "signed_zero" || fam.name == "tiny") {
      continue;  // residuals at rounding level: the gain is then arbitrary
    }
    for (double S : {1.0, 3.0, 10.0, 15.5, 60.0, 250.0}) {
      SCOPED_TRACE(fam.name + " S=" + std::to_string(S));
      const auto y = Pqe(fam.x, S);
      const auto want = NormalEquationsPqe(fam.x, S);
      double scale = 0;
      for (double e : fam.x) scale = std::max(scale, std::fabs(e));
      for (std::size_t j = 0; j < y.size(); ++j) {
        ASSERT_NEAR(y[j], want[j], 1e-8 * scale) << j;
      }
    }
  }
}

TEST(PqeFilter, ObserverAsksBeforeEachStepAndStopsAtOnce) {
  const auto x = klx_test::RandomWalk(80, 7);
  const auto full = Pqe(x, 12);
  {
    RecordingObserver obs;
    std::vector<double> y(x.size());
    ASSERT_EQ(PqeFilter(x, {12}, y, &obs), CoreStatus::kComplete);
    EXPECT_EQ(y, full);
    ASSERT_EQ(obs.calls.size(), 2u * 50u);
    for (std::size_t i = 0; i < 50; ++i) {
      EXPECT_TRUE(obs.calls[2 * i].stop);
      EXPECT_FALSE(obs.calls[2 * i + 1].stop);
      EXPECT_EQ(obs.calls[2 * i + 1].done, static_cast<std::int64_t>(31 + i));
      EXPECT_EQ(obs.calls[2 * i + 1].total, 80);
    }
  }
  for (int stopRow : {30, 31, 55, 79}) {
    RecordingObserver obs(stopRow - 29);
    std::vector<double> y(x.size(), -7.0);
    EXPECT_EQ(PqeFilter(x, {12}, y, &obs), CoreStatus::kStopped);
    EXPECT_TRUE(obs.calls.back().stop);
    for (int k = 0; k < stopRow; ++k) EXPECT_EQ(y[k], full[k]) << k;
    // The stopped row's filter step never ran.
    for (std::size_t k = stopRow; k < y.size(); ++k) EXPECT_EQ(y[k], -7.0) << k;
  }
}

// The run's own copies (of an input it overwrites, of a residual column the
// caller did not give) are the only allocations; without them it answers
// kOutOfMemory and writes nothing, and never throws.
TEST(PqeFilter, MemoryFailureIsAStatus) {
  auto x = klx_test::RandomWalk(300, 8);
  const auto original = x;
  std::vector<double> scratch(300), out(300, -3.0);
  g_refuseAllocations = true;
  const CoreStatus inPlace = PqeFilter(x, {20}, x, nullptr, scratch);
  const CoreStatus noScratch = PqeFilter(x, {20}, out);
  const CoreStatus given = PqeFilter(x, {20}, out, nullptr, scratch);
  g_refuseAllocations = false;
  EXPECT_EQ(inPlace, CoreStatus::kOutOfMemory);
  EXPECT_EQ(noScratch, CoreStatus::kOutOfMemory);
  EXPECT_EQ(x, original);
  // With every buffer given it needs none.
  EXPECT_EQ(given, CoreStatus::kComplete);
  EXPECT_EQ(out, Pqe(original, 20));
}

TEST(PqeFilter, InPlaceAndCallerScratchGiveTheSameBits) {
  auto x = klx_test::RandomWalk(300, 8);
  const auto y = Pqe(x, 20);
  std::vector<double> scratch(300), out(300);
  ASSERT_EQ(PqeFilter(x, {20}, out, nullptr, scratch), CoreStatus::kComplete);
  ASSERT_EQ(PqeFilter(x, {20}, x), CoreStatus::kComplete);
  for (std::size_t i = 0; i < x.size(); ++i) {
    ASSERT_TRUE(SameBits(out[i], y[i])) << i;
    ASSERT_TRUE(SameBits(x[i], y[i])) << i;
  }
}

TEST(PqeFilter, FuzzFamiliesAtSettingBounds) {
  for (std::size_t n : {0, 1, 2, 29, 30, 31, 32, 33, 150}) {
    for (const auto& fam : klx_test::Families(n, 61)) {
      for (double S : {0.0, 1e-10, 1.0, 15.0, 15.5, 50.0, 8192.0, 10000.0}) {
        SCOPED_TRACE(fam.name + " n=" + std::to_string(n) + " S=" + std::to_string(S));
        std::vector<double> y(n);
        RecordingObserver obs;
        ASSERT_EQ(PqeFilter(fam.x, {S}, y, &obs), CoreStatus::kComplete);
        for (std::size_t k = 0; k < std::min<std::size_t>(n, 30); ++k) {
          ASSERT_TRUE(SameBits(y[k], fam.x[k]));
        }
        for (double e : y) ASSERT_TRUE(std::isfinite(e));
        std::vector<double> again(n);
        ASSERT_EQ(PqeFilter(fam.x, {S}, again), CoreStatus::kComplete);
        for (std::size_t k = 0; k < n; ++k) ASSERT_TRUE(SameBits(y[k], again[k]));
        EXPECT_EQ(obs.calls.size(), n <= 30 ? 0 : 2 * (n - 30));
      }
    }
  }
}

TEST(PqeFilter, NonFiniteInputDoesNotCrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto x = klx_test::RandomWalk(200, 9);
  x[3] = nan;
  x[60] = inf;
  x[120] = -1e308;
  for (double S : {0.0, 3.0, 40.0, inf, -inf, nan, 1e300}) {
    std::vector<double> y(x.size());
    EXPECT_EQ(PqeFilter(x, {S}, y), CoreStatus::kComplete);
    EXPECT_TRUE(SameBits(y[3], x[3]));
  }
}

}  // namespace
