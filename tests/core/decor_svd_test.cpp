// The singular value decomposition: bit-equality with the column-by-column
// reference, the factorisation itself, LAPACK's singular values, stops,
// non-convergence, memory failures and bad arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "decor_fuzz.h"
#include "decor_reference.h"
#include "tools/decor/core/decor.h"
#include "tools/decor/core/decor_kernels.h"
#include "tools/decor/core/decor_team.h"

#ifdef HVT_HAVE_LAPACK
extern "C" void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n,
                        double* a, const int* lda, double* s, double* u, const int* ldu,
                        double* vt, const int* ldvt, double* work, const int* lwork,
                        int* info, std::size_t, std::size_t);
#endif

namespace {

using namespace hvt::decor;
using hvt::CoreStatus;
using decor_fuzz::SameBits;

struct Counter : hvt::RunObserver {
  long polls = 0;
  long stopAt = -1;  // stop at this 1-based poll
  bool StopRequested() override { return ++polls == stopAt; }
  void Progress(std::int64_t, std::int64_t) override {}
};

struct SvdRun {
  CoreStatus status;
  int failIndex;
  std::vector<double> a, v, w;
};

SvdRun Production(std::vector<double> a, std::size_t m, std::size_t n, std::size_t lda,
               std::size_t ldv, bool wantU = true, bool wantV = true) {
  SvdRun r{CoreStatus::kComplete, -7, std::move(a), std::vector<double>(n * ldv, 0.0),
        std::vector<double>(n, 0.0)};
  r.status = DecomposeSvd(r.a, lda, r.v, ldv, r.w, m, n, wantU, wantV, r.failIndex);
  return r;
}

SvdRun Reference(std::vector<double> a, std::size_t m, std::size_t n, std::size_t lda,
              std::size_t ldv, bool wantU = true, bool wantV = true) {
  SvdRun r{CoreStatus::kComplete, -7, std::move(a), std::vector<double>(n * ldv, 0.0),
        std::vector<double>(n, 0.0)};
  const int rc = decor_ref::Svd(r.a, lda, r.v, ldv, r.w, m, n, wantU, wantV, r.failIndex);
  r.status = rc == 1 ? CoreStatus::kComplete : CoreStatus::kNotConverged;
  return r;
}

// Copies a rows x cols matrix into one with a wider row stride, padding
// with a value that must never leak into results.
std::vector<double> Widen(const std::vector<double>& a, std::size_t rows, std::size_t cols,
                          std::size_t ld) {
  std::vector<double> out(rows * ld, 12345.0);
  for (std::size_t t = 0; t < rows; ++t)
    std::copy_n(a.begin() + static_cast<long>(t * cols), cols, out.begin() + static_cast<long>(t * ld));
  return out;
}

const std::pair<std::size_t, std::size_t> kShapes[] = {
    {1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 2}, {3, 5}, {5, 3}, {4, 4}, {7, 4},
    {50, 10}, {301, 7}, {33, 33}, {10, 40}, {130, 100}};

TEST(DecorSvd, RowWiseSweepsMatchColumnReferenceBitForBit) {
  for (auto [m, n] : kShapes) {
    for (int f = 0; f < decor_fuzz::kFamilyCount; ++f) {
      const auto fam = static_cast<decor_fuzz::Family>(f);
      auto data = decor_fuzz::Make(fam, m, n, 1000u + static_cast<unsigned>(m * 31 + n));
      std::vector<double> mean, sigma;
      if (f % 2 == 0) decor_ref::Standardize(data, m, n, mean, sigma);
      SCOPED_TRACE(testing::Message() << m << "x" << n << " family " << f);
      const SvdRun p = Production(data, m, n, n, n);
      const SvdRun r = Reference(data, m, n, n, n);
      EXPECT_EQ(p.status, r.status);
      EXPECT_EQ(p.failIndex, r.failIndex);
      EXPECT_TRUE(SameBits(p.w, r.w));
      EXPECT_TRUE(SameBits(p.v, r.v));
      EXPECT_TRUE(SameBits(p.a, r.a));
    }
  }
}

TEST(DecorSvd, StridesAndOptionalFactorsMatchReference) {
  const std::size_t m = 40, n = 6, lda = 9, ldv = 8;
  const auto data = Widen(decor_fuzz::Make(decor_fuzz::kRandomWalk, m, n, 7), m, n, lda);
  for (int mode = 0; mode < 4; ++mode) {
    const bool wantU = mode & 1, wantV = mode & 2;
    SCOPED_TRACE(mode);
    const SvdRun p = Production(data, m, n, lda, ldv, wantU, wantV);
    const SvdRun r = Reference(data, m, n, lda, ldv, wantU, wantV);
    ASSERT_EQ(p.status, CoreStatus::kComplete);
    EXPECT_TRUE(SameBits(p.w, r.w));
    EXPECT_TRUE(SameBits(p.a, r.a));
    EXPECT_TRUE(SameBits(p.v, r.v));
    for (std::size_t t = 0; t < m && wantU; ++t)
      for (std::size_t c = n; c < lda; ++c) EXPECT_EQ(p.a[t * lda + c], 12345.0);
  }
}

// A = U·diag(w)·Vᵀ with orthonormal U and V columns and w >= 0.
TEST(DecorSvd, FactorsReconstructTheMatrix) {
  const std::pair<std::size_t, std::size_t> shapes[] = {{8, 3}, {60, 12}, {200, 30}, {3, 5}};
  for (auto [m, n] : shapes) {
    const auto data = decor_fuzz::Make(decor_fuzz::kRandomWalk, m, n, 99);
    const SvdRun p = Production(data, m, n, n, n);
    ASSERT_EQ(p.status, CoreStatus::kComplete);
    double norm = 0.0;
    for (double x : data) norm = std::max(norm, std::fabs(x));
    for (std::size_t t = 0; t < m; ++t)
      for (std::size_t c = 0; c < n; ++c) {
        double sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) sum += p.a[t * n + k] * p.w[k] * p.v[c * n + k];
        EXPECT_NEAR(sum, data[t * n + c], 1e-12 * norm * double(n));
      }
    for (std::size_t j = 0; j < n; ++j) {
      EXPECT_GE(p.w[j], 0.0);
      for (std::size_t k = 0; k < n; ++k) {
        double vv = 0.0;
        for (std::size_t r = 0; r < n; ++r) vv += p.v[r * n + j] * p.v[r * n + k];
        EXPECT_NEAR(vv, j == k ? 1.0 : 0.0, 1e-12);
        if (m < n) continue;  // U has rank m then; its extra columns are zero
        double uu = 0.0;
        for (std::size_t t = 0; t < m; ++t) uu += p.a[t * n + j] * p.a[t * n + k];
        EXPECT_NEAR(uu, j == k ? 1.0 : 0.0, 1e-12);
      }
    }
  }
}

// The reduction leaves -1 on the diagonal here; the result must be +1 with
// V's column negated, so the product still gives back the matrix.
TEST(DecorSvd, NegativeSingularValueIsFlippedWithItsVColumn) {
  const SvdRun p = Production({1.0, 0.0, 0.0, -1.0}, 2, 2, 2, 2);
  ASSERT_EQ(p.status, CoreStatus::kComplete);
  EXPECT_EQ(p.w[0], 1.0);
  EXPECT_EQ(p.w[1], 1.0);
  const double want[] = {1.0, 0.0, 0.0, -1.0};
  for (int t = 0; t < 2; ++t)
    for (int c = 0; c < 2; ++c)
      EXPECT_EQ(p.a[t * 2] * p.w[0] * p.v[c * 2] + p.a[t * 2 + 1] * p.w[1] * p.v[c * 2 + 1],
                want[t * 2 + c]);
}

#ifdef HVT_HAVE_LAPACK
TEST(DecorSvd, SingularValuesAgreeWithLapack) {
  const std::pair<std::size_t, std::size_t> shapes[] = {{5, 3}, {3, 5}, {100, 10}, {150, 60}};
  for (auto [m, n] : shapes) {
    for (auto fam : {decor_fuzz::kRandomWalk, decor_fuzz::kCorrelated, decor_fuzz::kTies}) {
      auto data = decor_fuzz::Make(fam, m, n, 5);
      const SvdRun p = Production(data, m, n, n, n, false, false);
      ASSERT_EQ(p.status, CoreStatus::kComplete);
      // LAPACK is column-major: the transposed copy is the same matrix.
      std::vector<double> col(m * n);
      for (std::size_t t = 0; t < m; ++t)
        for (std::size_t c = 0; c < n; ++c) col[c * m + t] = data[t * n + c];
      const int mi = int(m), ni = int(n), one = 1;
      std::vector<double> s(std::min(m, n));
      double query = 0.0, dummy = 0.0;
      int lwork = -1, info = 0;
      dgesvd_("N", "N", &mi, &ni, col.data(), &mi, s.data(), &dummy, &one, &dummy, &one,
              &query, &lwork, &info, 1, 1);
      lwork = int(query);
      std::vector<double> work(static_cast<std::size_t>(lwork));
      dgesvd_("N", "N", &mi, &ni, col.data(), &mi, s.data(), &dummy, &one, &dummy, &one,
              work.data(), &lwork, &info, 1, 1);
      ASSERT_EQ(info, 0);
      std::vector<double> w = p.w;
      std::sort(w.begin(), w.end(), std::greater<>());
      for (std::size_t j = 0; j < n; ++j) {
        const double want = j < s.size() ? s[j] : 0.0;
        EXPECT_NEAR(w[j], want, 1e-12 * s[0] * double(n)) << m << "x" << n << " j=" << j;
      }
    }
  }
}
#endif

TEST(DecorSvd, NonFiniteDataFailsToConvergeLikeTheReference) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
    auto data = decor_fuzz::Make(decor_fuzz::kRandomWalk, 12, 4, 3);
    data[17] = bad;
    const SvdRun p = Production(data, 12, 4, 4, 4);
    const SvdRun r = Reference(data, 12, 4, 4, 4);
    EXPECT_EQ(p.status, CoreStatus::kNotConverged);
    EXPECT_EQ(r.status, CoreStatus::kNotConverged);
    EXPECT_GE(p.failIndex, 1);
    EXPECT_LE(p.failIndex, 4);
    EXPECT_EQ(p.failIndex, r.failIndex);
  }
}

// One poll per pass of each phase: n + n (V) + min(m, n) (U) + n.
TEST(DecorSvd, StopIsPolledOncePerPassAndEndsTheRun) {
  const std::size_t m = 9, n = 5;
  const auto data = decor_fuzz::Make(decor_fuzz::kRandomWalk, m, n, 11);
  for (int mode = 0; mode < 4; ++mode) {
    const bool wantU = mode & 1, wantV = mode & 2;
    const long passes = long(n) * 2 + (wantV ? long(n) : 0) + (wantU ? long(std::min(m, n)) : 0);
    Counter all;
    std::vector<double> a = data, v(n * n), w(n);
    int fail = -1;
    EXPECT_EQ(DecomposeSvd(a, n, v, n, w, m, n, wantU, wantV, fail, &all), CoreStatus::kComplete);
    EXPECT_EQ(all.polls, passes);
    for (long k = 1; k <= passes; ++k) {
      Counter stop;
      stop.stopAt = k;
      a = data;
      EXPECT_EQ(DecomposeSvd(a, n, v, n, w, m, n, wantU, wantV, fail, &stop), CoreStatus::kStopped);
      EXPECT_EQ(stop.polls, k);
      EXPECT_EQ(fail, 0);
    }
  }
}

TEST(DecorSvd, MemoryShortageIsAStatus) {
  const std::size_t m = 6, n = 3;
  const auto data = decor_fuzz::Make(decor_fuzz::kRandomWalk, m, n, 2);
  int succeededAt = -1;
  for (long k = 0; k < 20 && succeededAt < 0; ++k) {
    std::vector<double> a = data, v(n * n), w(n);
    int fail = -1;
    detail::FailAllocationAfter(k);
    const CoreStatus st = DecomposeSvd(a, n, v, n, w, m, n, true, true, fail);
    detail::FailAllocationAfter(-1);
    if (st == CoreStatus::kComplete) succeededAt = int(k);
    else EXPECT_EQ(st, CoreStatus::kOutOfMemory) << k;
  }
  EXPECT_GT(succeededAt, 0);
}

TEST(DecorSvd, BadArgumentsAreRejected) {
  std::vector<double> a(12, 1.0), v(9), w(3);
  int fail = -1;
  EXPECT_EQ(DecomposeSvd(a, 3, v, 3, w, 0, 3, true, true, fail), CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, 3, v, 3, w, 4, 0, true, true, fail), CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, 2, v, 3, w, 4, 3, true, true, fail), CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, 3, v, 3, w, 5, 3, true, true, fail), CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, 3, v, 2, w, 4, 3, true, true, fail), CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, 3, {}, 0, w, 4, 3, true, false, fail), CoreStatus::kComplete);
  EXPECT_EQ(DecomposeSvd(a, 3, v, 3, std::span<double>(w).first(2), 4, 3, true, true, fail),
            CoreStatus::kBadArgument);
  EXPECT_EQ(DecomposeSvd(a, std::size_t(-1) / 2, v, 3, w, 4, 3, true, true, fail),
            CoreStatus::kBadArgument);
}

// Sweeps shared among threads: rows cut among them for the updates and the
// rotations, columns for the sums. Every shape crosses the sharing
// threshold, with 2 and 3 threads (uneven pieces), and must give the
// reference bits, the same failure index, and the same polls.
TEST(DecorSvd, SharedSweepsMatchReferenceBitForBit) {
  const std::pair<std::size_t, std::size_t> shapes[] = {
      {256, 1}, {257, 2}, {300, 7}, {513, 16}, {700, 17}, {1000, 40}, {400, 100}};
  detail::SetThreadingThreshold(1);
  for (unsigned threads : {2u}) {
    SetThreadLimit(threads);
    for (auto [m, n] : shapes) {
      for (int f = 0; f < decor_fuzz::kFamilyCount; ++f) {
        const auto fam = static_cast<decor_fuzz::Family>(f);
        auto data = decor_fuzz::Make(fam, m, n, 3000u + static_cast<unsigned>(m + n));
        std::vector<double> mean, sigma;
        if (f % 2 == 0) decor_ref::Standardize(data, m, n, mean, sigma);
        SCOPED_TRACE(testing::Message() << threads << " threads " << m << "x" << n
                                        << " family " << f);
        const SvdRun p = Production(data, m, n, n, n);
        const SvdRun r = Reference(data, m, n, n, n);
        EXPECT_EQ(p.status, r.status);
        EXPECT_EQ(p.failIndex, r.failIndex);
        EXPECT_TRUE(SameBits(p.w, r.w));
        EXPECT_TRUE(SameBits(p.v, r.v));
        EXPECT_TRUE(SameBits(p.a, r.a));
      }
    }
    // A wider row stride and U alone.
    const std::size_t m = 600, n = 9, lda = 13;
    const auto data = Widen(decor_fuzz::Make(decor_fuzz::kCorrelated, m, n, 5), m, n, lda);
    const SvdRun p = Production(data, m, n, lda, n, true, false);
    const SvdRun r = Reference(data, m, n, lda, n, true, false);
    EXPECT_TRUE(SameBits(p.a, r.a));
    EXPECT_TRUE(SameBits(p.w, r.w));
    // Polls stay on the calling thread, one per pass as before.
    std::vector<double> a = decor_fuzz::Make(decor_fuzz::kRandomWalk, 500, 6, 9), v(36), w(6);
    int fail = -1;
    const std::thread::id caller = std::this_thread::get_id();
    struct SameThread : Counter {
      std::thread::id expected;
      bool strayed = false;
      bool StopRequested() override {
        strayed |= std::this_thread::get_id() != expected;
        return Counter::StopRequested();
      }
    } observer;
    observer.expected = caller;
    EXPECT_EQ(DecomposeSvd(a, 6, v, 6, w, 500, 6, true, true, fail, &observer), CoreStatus::kComplete);
    EXPECT_EQ(observer.polls, 6 * 4);
    EXPECT_FALSE(observer.strayed);
  }
  SetThreadLimit(0);
  detail::SetThreadingThreshold(0);
}

// The sums must run in index order: with these values any other order gives
// a different answer.
TEST(DecorKernels, SumsRunInIndexOrderAndTwinsAgree) {
  const double x[] = {1e16, 1.0, -1e16, 1.0, 7.0, 1.0};
  EXPECT_EQ(SumAbs(3, x, 2), 1e16 + 1e16 + 7.0);
  EXPECT_EQ(Dot(3, x, 1, x + 3, 1), (1e16 * 1.0 + 1.0 * 7.0) + -1e16 * 1.0);
  const double ones[] = {1.0, 1.0, 1.0};
  EXPECT_EQ(Dot(3, x, 1, ones, 1), 0.0);  // (1e16 + 1) rounds to 1e16 first
  EXPECT_EQ(SumSquares(2, x + 1, 2), 1.0 + 1.0);
  EXPECT_EQ(SumSquares(6, x), SumSquares(6, x, 1));
  EXPECT_EQ(SumAbs(6, x), SumAbs(6, x, 1));
  double d[6], e[6];
  AddScaled(3, 2.0, x, 2, x + 1, 2, d, 2);
  AddScaled(3, 2.0, x, x + 3, e);
  EXPECT_EQ(d[0], 2e16 + 1.0);
  EXPECT_EQ(e[2], -2e16 + 1.0);
  DivideBy(2, 4.0, x + 1, 2, d, 1);
  EXPECT_EQ(d[1], 0.25);
  ScaleBy(2, -1.0, x, d);
  Negate(2, x, 1, e, 1);
  EXPECT_EQ(d[0], e[0]);
  ZeroFill(3, d, 2);
  EXPECT_EQ(d[4], 0.0);
  EXPECT_EQ(Sign(-3.0, -0.0), 3.0);
  EXPECT_EQ(Sign(3.0, -1e-300), -3.0);
  EXPECT_EQ(Max(1.0, 1.0), 1.0);
  EXPECT_TRUE(std::isnan(Max(1.0, std::nan(""))));
  EXPECT_EQ(Max(std::nan(""), 2.0), 2.0);
}

}  // namespace
