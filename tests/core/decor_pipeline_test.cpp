// Standardisation, significance, ranking, reordering, coefficients and the
// whole run, checked against independent formulations and the edge cases of
// real worksheets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "decor_fuzz.h"
#include "decor_reference.h"
#include "tests/core/decor_whole_run.h"
#include "tools/decor/core/decor.h"

namespace {

using namespace hvt::decor;
using hvt::CoreStatus;
using decor_fuzz::SameBits;

struct StopAt : hvt::RunObserver {
  long polls = 0;
  long at = -1;
  bool StopRequested() override { return ++polls == at; }
  void Progress(std::int64_t, std::int64_t) override {}
};

TEST(DecorStandardize, MatchesColumnReferenceAndLongDoubleTwoPass) {
  for (int f = 0; f < decor_fuzz::kFamilyCount; ++f) {
    const std::size_t rows = 37, cols = 5;
    const auto data = decor_fuzz::Make(static_cast<decor_fuzz::Family>(f), rows, cols, 17);
    std::vector<double> a = data, mean(cols), sigma(cols);
    ASSERT_EQ(StandardizeColumns(a, rows, cols, mean, sigma), CoreStatus::kComplete);
    std::vector<double> r = data, rmean, rsigma;
    decor_ref::Standardize(r, rows, cols, rmean, rsigma);
    EXPECT_TRUE(SameBits(a, r));
    EXPECT_TRUE(SameBits(mean, rmean));
    EXPECT_TRUE(SameBits(sigma, rsigma));
    if (f == decor_fuzz::kHuge || f == decor_fuzz::kTiny) continue;  // 1e-10 dominates or squares overflow
    for (std::size_t c = 0; c < cols; ++c) {
      long double mu = 0, var = 0;
      for (std::size_t t = 0; t < rows; ++t) mu += data[t * cols + c];
      mu /= rows;
      for (std::size_t t = 0; t < rows; ++t) var += (data[t * cols + c] - mu) * (data[t * cols + c] - mu);
      const long double sd = std::sqrt(var / rows + 1e-10L);
      EXPECT_NEAR(mean[c], double(mu), 1e-13 * (1 + std::fabs(double(mu))));
      EXPECT_NEAR(sigma[c], double(sd), 1e-13 * double(sd));
      for (std::size_t t = 0; t < rows; ++t)
        EXPECT_NEAR(a[t * cols + c], double((data[t * cols + c] - mu) / sd), 1e-11);
    }
  }
}

TEST(DecorStandardize, ConstantColumnBecomesZerosWithTinySigma) {
  std::vector<double> a = {4.0, 1.0, 4.0, 2.0, 4.0, 6.0}, mean(2), sigma(2);
  ASSERT_EQ(StandardizeColumns(a, 3, 2, mean, sigma), CoreStatus::kComplete);
  EXPECT_EQ(mean[0], 4.0);
  EXPECT_NEAR(sigma[0], 1e-5, 1e-20);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(a[t * 2], 0.0);
  std::vector<double> shortMean(1);
  EXPECT_EQ(StandardizeColumns(a, 3, 2, shortMean, sigma), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardizeColumns(a, 4, 2, mean, sigma), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardizeColumns(a, 0, 2, mean, sigma), CoreStatus::kBadArgument);
}

// Σt Σk |w_i·V[k][i]·U[t][i]| factors into w_i·(Σk |V[k][i]|)·(Σt |U[t][i]|).
TEST(DecorSignificance, AgreesWithFactoredSumsAndAddsUpToOne) {
  const std::size_t rows = 80, cols = 6;
  auto a = decor_fuzz::Make(decor_fuzz::kCorrelated, rows, cols, 4);
  std::vector<double> mean(cols), sigma(cols), v(cols * cols), w(cols), s(cols);
  StandardizeColumns(a, rows, cols, mean, sigma);
  int fail = 0;
  ASSERT_EQ(DecomposeSvd(a, cols, v, cols, w, rows, cols, true, true, fail), CoreStatus::kComplete);
  ASSERT_EQ(ComputeSignificance(s, a, w, v, rows, cols), CoreStatus::kComplete);
  std::vector<double> raw(cols);
  for (std::size_t i = 0; i < cols; ++i) {
    double sv = 0, su = 0;
    for (std::size_t k = 0; k < cols; ++k) sv += std::fabs(v[k * cols + i]);
    for (std::size_t t = 0; t < rows; ++t) su += std::fabs(a[t * cols + i]);
    raw[i] = w[i] * sv * su;
  }
  const double total = std::accumulate(raw.begin(), raw.end(), 0.0);
  for (std::size_t i = 0; i < cols; ++i) EXPECT_NEAR(s[i], raw[i] / total, 1e-13);
  EXPECT_NEAR(std::accumulate(s.begin(), s.end(), 0.0), 1.0, 1e-14);

  for (long k = 1; k <= long(cols); ++k) {
    StopAt stop;
    stop.at = k;
    EXPECT_EQ(ComputeSignificance(s, a, w, v, rows, cols, &stop), CoreStatus::kStopped);
    EXPECT_EQ(stop.polls, k);
  }
  detail::FailAllocationAfter(0);
  EXPECT_EQ(ComputeSignificance(s, a, w, v, rows, cols), CoreStatus::kOutOfMemory);
  detail::FailAllocationAfter(-1);
}

TEST(DecorSignificance, ZeroTotalIsReportedNotDividedBy) {
  const std::size_t rows = 4, cols = 3;
  std::vector<double> u(rows * cols, 0.0), w(cols, 0.0), v(cols * cols, 0.0), s(cols, -1.0);
  EXPECT_EQ(ComputeSignificance(s, u, w, v, rows, cols), CoreStatus::kNoVariation);
  for (double x : s) EXPECT_EQ(x, 0.0);
}

TEST(DecorSort, DescendingWithIndicesIntoTheOriginal) {
  std::mt19937 rng(8);
  for (std::size_t count : {0, 1, 2, 3, 4, 5, 8, 17, 64, 101}) {
    for (int ties = 0; ties < 2; ++ties) {
      std::vector<double> s(count);
      for (double& x : s) x = ties ? double(rng() % 3) : std::ldexp(double(rng()), -20);
      const std::vector<double> before = s;
      std::vector<std::int32_t> q(count, -1);
      SortDescendingWithIndex(s, q, count);
      EXPECT_TRUE(std::is_sorted(s.begin(), s.end(), std::greater<>()));
      std::vector<std::int32_t> seen = q;
      std::sort(seen.begin(), seen.end());
      for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(seen[i], std::int32_t(i));
        EXPECT_EQ(s[i], before[std::size_t(q[i])]);
      }
    }
  }
}

// Equal significances keep the order the heap steps give, worked by hand:
// two equal values come out swapped, three come out as 1, 2, 0.
TEST(DecorSort, TiesFollowTheHeapSteps) {
  std::vector<double> two = {0.5, 0.5}, three = {0.25, 0.25, 0.25};
  std::vector<std::int32_t> q2(2), q3(3);
  SortDescendingWithIndex(two, q2, 2);
  SortDescendingWithIndex(three, q3, 3);
  EXPECT_EQ(q2, (std::vector<std::int32_t>{1, 0}));
  EXPECT_EQ(q3, (std::vector<std::int32_t>{1, 2, 0}));
}

TEST(DecorPermute, NewColumnIsOldColumnQ) {
  std::mt19937 rng(12);
  for (std::size_t cols : {1, 2, 5, 9}) {
    std::vector<std::int32_t> q(cols), work(cols);
    std::iota(q.begin(), q.end(), 0);
    std::shuffle(q.begin(), q.end(), rng);
    const std::size_t rows = 7;
    std::vector<double> m(rows * cols);
    for (double& x : m) x = double(rng() % 1000);
    std::vector<double> got = m, lit = m;
    ASSERT_TRUE(PermuteColumns(got, q, work, rows, cols));
    decor_ref::PermuteColumns(lit, q, rows, cols);
    EXPECT_TRUE(SameBits(got, lit));
    for (std::size_t t = 0; t < rows; ++t)
      for (std::size_t j = 0; j < cols; ++j)
        EXPECT_EQ(got[t * cols + j], m[t * cols + std::size_t(q[j])]);
  }
  std::vector<double> m = {1, 2, 3};
  std::vector<std::int32_t> work(3);
  for (std::vector<std::int32_t> bad : {std::vector<std::int32_t>{0, 0, 1},
                                        std::vector<std::int32_t>{0, 1, 3},
                                        std::vector<std::int32_t>{-1, 0, 1}}) {
    EXPECT_FALSE(PermuteColumns(m, bad, work, 1, 3));
    EXPECT_EQ(m, (std::vector<double>{1, 2, 3}));
  }
}

// Checks every promise of a finished run against the input data.
void ExpectSoundRun(const WholeRun& r, const std::vector<double>& x, std::size_t rows,
                    std::size_t cols) {
  ASSERT_EQ(r.status, CoreStatus::kComplete);
  ASSERT_EQ(r.scores.size(), rows * cols);
  EXPECT_TRUE(std::is_sorted(r.significance.begin(), r.significance.end(), std::greater<>()));
  EXPECT_NEAR(std::accumulate(r.significance.begin(), r.significance.end(), 0.0), 1.0, 1e-13);
  double biggest = 0;
  for (double y : r.scores) biggest = std::max(biggest, std::fabs(y));
  for (std::size_t p = 0; p < cols; ++p) {
    // Applying the coefficients to the standardised inputs gives the scores.
    for (std::size_t t = 0; t < rows; ++t) {
      double sum = 0;
      for (std::size_t c = 0; c < cols; ++c)
        sum += (x[t * cols + c] - r.means[c]) / r.sigmas[c] * r.coefficients[c * cols + p];
      EXPECT_NEAR(sum, r.scores[t * cols + p], 1e-9 * (1 + biggest)) << "t=" << t << " p=" << p;
    }
    // Components are uncorrelated: their scores are orthogonal.
    for (std::size_t q = p + 1; q < cols; ++q) {
      double dot = 0;
      for (std::size_t t = 0; t < rows; ++t) dot += r.scores[t * cols + p] * r.scores[t * cols + q];
      EXPECT_NEAR(dot, 0.0, 1e-10 * biggest * biggest * double(rows));
    }
  }
}

TEST(DecorRun, WholeRunMatchesReferenceStepsBitForBitInEitherLayout) {
  const std::size_t rows = 150, cols = 7;
  const auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, rows, cols, 21);
  const WholeRun r = RunWhole(x, rows, cols, {Layout::kRowMajor});
  ExpectSoundRun(r, x, rows, cols);

  std::vector<double> byColumn(rows * cols);
  for (std::size_t t = 0; t < rows; ++t)
    for (std::size_t c = 0; c < cols; ++c) byColumn[c * rows + t] = x[t * cols + c];
  const WholeRun c = RunWhole(byColumn, rows, cols, {Layout::kColumnMajor});
  EXPECT_TRUE(SameBits(r.scores, c.scores));
  EXPECT_TRUE(SameBits(r.coefficients, c.coefficients));

  std::vector<double> a = x, mean, sigma, v(cols * cols), w(cols), s(cols);
  decor_ref::Standardize(a, rows, cols, mean, sigma);
  int fail = 0;
  ASSERT_EQ(decor_ref::Svd(a, cols, v, cols, w, rows, cols, true, true, fail), 1);
  ASSERT_EQ(ComputeSignificance(s, a, w, v, rows, cols), CoreStatus::kComplete);
  std::vector<std::int32_t> q(cols);
  SortDescendingWithIndex(s, q, cols);
  decor_ref::PermuteColumns(a, q, rows, cols);
  decor_ref::PermuteColumns(w, q, 1, cols);
  decor_ref::PermuteColumns(v, q, cols, cols);
  for (std::size_t p = 0; p < cols; ++p) {
    ASSERT_GT(w[p], 1e-10);
    for (std::size_t k = 0; k < cols; ++k) v[k * cols + p] = v[k * cols + p] / (w[p] * 0.001);
  }
  for (double& u : a) u = u * 1000.0;
  EXPECT_TRUE(SameBits(r.scores, a));
  EXPECT_TRUE(SameBits(r.coefficients, v));
  EXPECT_TRUE(SameBits(r.significance, s));
  EXPECT_TRUE(SameBits(r.means, mean));
  EXPECT_TRUE(SameBits(r.sigmas, sigma));
}

TEST(DecorRun, EdgeCasesOfRealSheets) {
  {  // column 1 is exactly twice column 0: one component vanishes and sorts last
    const std::size_t rows = 20;
    std::vector<double> x(rows * 3);
    for (std::size_t t = 0; t < rows; ++t) {
      x[t * 3] = std::sin(double(t));
      x[t * 3 + 1] = 2.0 * x[t * 3];
      x[t * 3 + 2] = std::cos(double(t * t));
    }
    const WholeRun r = RunWhole(x, rows, 3, {Layout::kRowMajor});
    ExpectSoundRun(r, x, rows, 3);
    EXPECT_LT(r.significance[2], 1e-12);
    for (std::size_t t = 0; t < rows; ++t) EXPECT_EQ(r.scores[t * 3 + 2], 0.0);
    for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(r.coefficients[c * 3 + 2], 0.0);
  }
  {  // a constant column contributes nothing to any component
    auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, 30, 4, 6);
    for (std::size_t t = 0; t < 30; ++t) x[t * 4 + 1] = 2.5;
    const WholeRun r = RunWhole(x, 30, 4, {Layout::kRowMajor});
    ExpectSoundRun(r, x, 30, 4);
    for (std::size_t p = 0; p < 3; ++p) EXPECT_NEAR(r.coefficients[1 * 4 + p], 0.0, 1e-9);
    for (std::size_t t = 0; t < 30; ++t) EXPECT_EQ(r.scores[t * 4 + 3], 0.0);
  }
  {  // more columns than rows: 3 standardised rows have rank 2 at most
    const auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, 3, 5, 9);
    const WholeRun r = RunWhole(x, 3, 5, {Layout::kRowMajor});
    ExpectSoundRun(r, x, 3, 5);
    for (std::size_t p = 2; p < 5; ++p)
      for (std::size_t t = 0; t < 3; ++t) EXPECT_EQ(r.scores[t * 5 + p], 0.0);
  }
  // Nothing varies: no ranking is possible, and it is said so.
  for (auto [rows, cols] : {std::pair<std::size_t, std::size_t>{10, 3}, {1, 4}}) {
    const auto x = decor_fuzz::Make(decor_fuzz::kConstant, rows, cols, 1);
    const WholeRun r = RunWhole(x, rows, cols, {Layout::kRowMajor});
    EXPECT_EQ(r.status, CoreStatus::kNoVariation);
    EXPECT_EQ(r.failedStep, Step::kSignificance);
    // The standardisation ran: each column's mean is its one value.
    for (std::size_t c = 0; c < cols; ++c) EXPECT_DOUBLE_EQ(r.means[c], x[c]);
  }
  {  // bad data reaches the decomposition as NaN: it does not converge
    auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, 10, 3, 2);
    x[4] = std::numeric_limits<double>::quiet_NaN();
    const WholeRun r = RunWhole(x, 10, 3, {Layout::kRowMajor});
    EXPECT_EQ(r.status, CoreStatus::kNotConverged);
    EXPECT_EQ(r.failedStep, Step::kDecompose);
    EXPECT_GE(r.failIndex, 1);
  }
  EXPECT_EQ(RunWhole({}, 0, 3, {Layout::kRowMajor}).status, CoreStatus::kBadArgument);
  EXPECT_EQ(RunWhole(std::vector<double>(5), 2, 3, {Layout::kRowMajor}).status,
            CoreStatus::kBadArgument);
  // An output shorter than the run needs: refused before anything is written.
  {
    const auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, 10, 3, 2);
    std::vector<double> scores(30, -1), significance(3, -1), coefficients(9, -1), means(3, -1),
        sigmas(3, -1);
    const DecorOutputs whole{scores, significance, coefficients, means, sigmas};
    for (int shortOne = 0; shortOne < 5; ++shortOne) {
      DecorOutputs out = whole;
      std::span<double>* field[] = {&out.scores, &out.significance, &out.coefficients,
                                    &out.means, &out.sigmas};
      *field[shortOne] = field[shortOne]->first(field[shortOne]->size() - 1);
      EXPECT_EQ(Decorrelate(x, 10, 3, {Layout::kRowMajor}, out).status,
                CoreStatus::kBadArgument)
          << shortOne;
    }
    for (const auto* v : {&scores, &significance, &coefficients, &means, &sigmas})
      for (double y : *v) EXPECT_EQ(y, -1);
  }
}

TEST(DecorRun, StopsAndMemoryFailuresEndTheRunCleanly) {
  const std::size_t rows = 25, cols = 4;
  const auto x = decor_fuzz::Make(decor_fuzz::kRandomWalk, rows, cols, 13);
  StopAt count;
  const WholeRun whole = RunWhole(x, rows, cols, {Layout::kRowMajor}, &count);
  ASSERT_EQ(whole.status, CoreStatus::kComplete);
  for (long k = 1; k <= count.polls; ++k) {
    StopAt stop;
    stop.at = k;
    const WholeRun r = RunWhole(x, rows, cols, {Layout::kRowMajor}, &stop);
    EXPECT_EQ(r.status, CoreStatus::kStopped);
    EXPECT_EQ(r.failedStep, k <= 4 * long(cols) ? Step::kDecompose : Step::kSignificance);
    // Stopped after the standardisation: its means and sigmas stand.
    EXPECT_TRUE(SameBits(r.means, whole.means));
    EXPECT_TRUE(SameBits(r.sigmas, whole.sigmas));
  }
  bool done = false;
  for (long k = 0; k < 40 && !done; ++k) {
    detail::FailAllocationAfter(k);
    const WholeRun r = RunWhole(x, rows, cols, {Layout::kRowMajor});
    detail::FailAllocationAfter(-1);
    done = r.status == CoreStatus::kComplete;
    if (!done) {
      EXPECT_EQ(r.status, CoreStatus::kOutOfMemory) << k;
      EXPECT_NE(r.failedStep, Step::kNone);
    }
  }
  EXPECT_TRUE(done);
}

// Every family and tiny size: never a crash, only the documented statuses,
// and a finished run keeps its promises.
TEST(DecorRun, FuzzFamilies) {
  for (int f = 0; f < decor_fuzz::kFamilyCount; ++f) {
    for (std::size_t rows : {1, 2, 3, 4, 33}) {
      for (std::size_t cols : {1, 2, 3, 6}) {
        const auto fam = static_cast<decor_fuzz::Family>(f);
        const auto x = decor_fuzz::Make(fam, rows, cols, unsigned(rows * 7 + cols));
        const WholeRun r = RunWhole(x, rows, cols, {Layout::kRowMajor});
        SCOPED_TRACE(testing::Message() << "family " << f << " " << rows << "x" << cols);
        const bool ok = r.status == CoreStatus::kComplete || r.status == CoreStatus::kNoVariation ||
                        r.status == CoreStatus::kNotConverged;
        EXPECT_TRUE(ok);
        if (r.status != CoreStatus::kComplete) continue;
        for (double y : r.scores) EXPECT_TRUE(std::isfinite(y));
        if (fam != decor_fuzz::kHuge) ExpectSoundRun(r, x, rows, cols);
      }
    }
  }
}

}  // namespace
