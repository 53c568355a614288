// The volatility tracker against a sorted copy of its history and against a
// slot-by-slot rendering of the classic algorithm with +-999,999 bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/core/klx_test_data.h"
#include "tools/klx/core/klx_filter.h"

namespace {

using hvt::klx::VolatilityReference;
using klx_test::SameBits;

// Keeps every ten-value mean and answers by sorting: the reference is the
// mean of all means (c <= 65), of ranks floor(c/2)-31..floor(c/2)+33
// (c = 66..127), or of ranks 32..96 of the last 127 means.
class SortedCopyTracker {
 public:
  double update(double v) {
    fed_.push_back(v);
    const std::size_t k = std::min<std::size_t>(fed_.size(), 10);
    double sum = 0.0;
    for (std::size_t i = fed_.size() - k; i < fed_.size(); ++i) sum += fed_[i];
    means_.push_back(sum / static_cast<double>(k));
    return Reference();
  }
  const std::vector<double>& means() const { return means_; }
  std::vector<double> LastSorted() const {
    const std::size_t c = means_.size();
    const std::size_t from = c > 127 ? c - 127 : 0;
    std::vector<double> s(means_.begin() + static_cast<long>(from), means_.end());
    std::sort(s.begin(), s.end());
    return s;
  }

 private:
  double Reference() const {
    const auto s = LastSorted();
    const std::size_t c = means_.size();
    std::size_t first, last;  // 1-based ranks
    if (c <= 65) {
      first = 1;
      last = c;
    } else if (c <= 127) {
      first = c / 2 - 31;
      last = c / 2 + 33;
    } else {
      first = 32;
      last = 96;
    }
    double sum = 0.0;
    for (std::size_t r = first; r <= last; ++r) sum += s[r - 1];
    return sum / static_cast<double>(last - first + 1);
  }
  std::vector<double> fed_;
  std::vector<double> means_;
};

// The update steps one by one, slot by slot, with the +-999,999 bounds.
class SlotBySlotTracker {
 public:
  SlotBySlotTracker() {
    for (int i = 1; i <= 63; ++i) list[i] = -999999.0;
    for (int i = 64; i <= 127; ++i) list[i] = 999999.0;
  }
  double update(double v) {
    if (hpos <= 1) hpos = 127; else hpos = hpos - 1;
    if (rpos <= 1) rpos = 10; else rpos = rpos - 1;
    if (c < 128) c = c + 1;
    rsum = (v - ring[rpos]) + rsum;
    ring[rpos] = v;
    const double mean = rsum / (c < 10 ? c : 10);
    const double old = hist[hpos];
    hist[hpos] = mean;
    int R;
    if (c <= 127) {
      if (lower + upper <= 127) { upper = upper + 1; R = upper; }
      else { lower = lower - 1; R = lower; }
      hi = upper < 96 ? upper : 96;
      lo = lower > 32 ? lower : 32;
    } else {
      int pos = 64, step = 64;
      for (;;) {
        if (old > list[pos]) { step = step / 2; pos = pos + step; }
        else if (old < list[pos]) { step = step / 2; pos = pos - step; }
        else step = 1;
        if (step <= 1) break;
      }
      R = pos;
    }
    int I;
    {
      int pos = 64, step = 64;
      for (;;) {
        if (mean > list[pos]) { step = step / 2; pos = pos + step; }
        else if (mean < list[pos - 1]) { step = step / 2; pos = pos - step; }
        else step = 1;
        if (pos == 127 && mean > list[127]) pos = 128;
        if (step <= 1) break;
      }
      I = pos;
    }
    if (c == 128) {
      if (I > R) {
        if (lo < I && I <= hi + 1) wsum = wsum + mean;
        else if (I > hi + 1 && R <= hi) wsum = wsum + list[hi + 1];
      } else {
        if (lo <= I && I <= hi) wsum = wsum + mean;
        else if (I < lo && R >= lo) wsum = wsum + list[lo - 1];
      }
      if (lo <= R && R <= hi) wsum = wsum - list[R];
      else if (R < lo && I > lo) wsum = wsum - list[lo];
      else if (R > hi && I <= hi) wsum = wsum - list[hi];
    }
    if (R > I) {
      for (int j = R - 1; j >= I; --j) list[j + 1] = list[j];
      list[I] = mean;
    } else if (R < I) {
      for (int j = R + 1; j <= I - 1; ++j) list[j - 1] = list[j];
      list[I - 1] = mean;
    } else {
      list[I] = mean;
    }
    if (c <= 127) {
      wsum = 0.0;
      for (int j = lo; j <= hi; ++j) wsum = wsum + list[j];
    }
    return wsum / static_cast<double>(hi - lo + 1);
  }

  double ring[11] = {};
  double hist[128] = {};
  double list[129] = {};
  double rsum = 0.0, wsum = 0.0;
  int rpos = 0, hpos = 0, c = 0, lower = 64, upper = 63, lo = 0, hi = 0;
};

// Multiples of 2520 keep every ten-value mean and every window sum exact,
// so the incremental sums must agree with the sorted copy to the bit.
std::vector<double> ExactValues(std::size_t n, std::uint32_t seed, int maxUnits) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, maxUnits);
  std::vector<double> v(n);
  for (auto& e : v) e = 2520.0 * d(rng);
  return v;
}

void ExpectListMatchesHistory(const VolatilityReference& t,
                              const SortedCopyTracker& s) {
  const auto list = t.ranked();
  ASSERT_TRUE(std::is_sorted(list.begin(), list.end()));
  const auto sorted = s.LastSorted();
  std::vector<double> finite;
  int below = 0;
  for (double e : list) {
    if (std::isfinite(e)) finite.push_back(e);
    if (e == -std::numeric_limits<double>::infinity()) ++below;
  }
  ASSERT_EQ(finite, sorted);
  const int c = static_cast<int>(std::min<std::size_t>(s.means().size(), 127));
  // The live region grows alternately up and down around slot 64.
  EXPECT_EQ(below, 63 - c / 2);
}

TEST(KlxTracker, RanksMatchSortedCopyExactly) {
  struct Case {
    std::uint32_t seed;
    int units;  // few units: many ties; many units: beyond 999,999
  } cases[] = {{1, 400}, {2, 3}, {3, 0}, {4, 1000000}, {5, 1}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.units);
    VolatilityReference t;
    SortedCopyTracker s;
    for (double v : ExactValues(700, cs.seed, cs.units)) {
      const double got = t.update(v);
      const double want = s.update(v);
      ASSERT_EQ(got, want) << "update " << s.means().size();
      ExpectListMatchesHistory(t, s);
    }
    EXPECT_EQ(t.count(), 128);
  }
}

TEST(KlxTracker, RanksMatchSortedCopyWithinRounding) {
  std::mt19937_64 rng(11);
  std::lognormal_distribution<double> d(0.0, 1.0);
  VolatilityReference t;
  SortedCopyTracker s;
  for (int i = 0; i < 3000; ++i) {
    const double v = d(rng);
    const double got = t.update(v);
    const double want = s.update(v);
    ASSERT_NEAR(got, want, 1e-11 * want) << "update " << i + 1;
  }
}

TEST(KlxTracker, NegativeAndLargeValuesRankCorrectly) {
  // Outside +-999,999 the infinite bounds still rank every finite value.
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> d(-5e7, 5e7);
  VolatilityReference t;
  SortedCopyTracker s;
  for (int i = 0; i < 1500; ++i) {
    const double v = std::round(d(rng)) * 2520.0;
    ASSERT_EQ(t.update(v), s.update(v)) << "update " << i + 1;
  }
  ExpectListMatchesHistory(t, s);
}

TEST(KlxTracker, AgreesBitForBitWithClassicBoundsInsideTheirRange) {
  std::mt19937_64 rng(13);
  std::vector<std::vector<double>> inputs;
  {
    auto w = klx_test::RandomWalk(2000, 14);
    std::vector<double> v;
    for (std::size_t i = 1; i < w.size(); ++i) v.push_back(std::fabs(w[i] - w[i - 1]) + 1e-10);
    inputs.push_back(v);
  }
  {
    std::uniform_real_distribution<double> d(-999998.0, 999998.0);
    std::vector<double> v(2000);
    for (auto& e : v) e = d(rng);
    inputs.push_back(v);
  }
  {
    std::vector<double> v(600);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = (i % 4 == 0) ? -0.0 : (i % 4 == 1 ? 0.0 : 1e-300);
    inputs.push_back(v);
  }
  {
    std::uniform_int_distribution<int> d(0, 2);
    std::vector<double> v(900);
    for (auto& e : v) e = 0.1 * d(rng);
    inputs.push_back(v);
  }
  {
    // Long run mixing unique values with frequent exact ties, so both the
    // unique-value and the tied-value paths are taken many times.
    auto w = klx_test::RandomWalk(30000, 15);
    std::vector<double> v;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const double d = std::fabs(w[i] - w[i - 1]) + 1e-10;
      v.push_back(i % 3 == 0 ? std::round(d * 20.0) / 20.0 : d);
    }
    inputs.push_back(v);
  }
  {
    // Few distinct inexact values: long tied runs cross the window edges,
    // where the slot chosen among equal values decides the rounding.
    std::uniform_int_distribution<int> d(0, 2);
    const double levels[3] = {1.0 / 3.0, 0.7, 1.1};
    std::vector<double> v(30000);
    for (auto& e : v) e = levels[d(rng)];
    inputs.push_back(v);
  }
  for (std::size_t f = 0; f < inputs.size(); ++f) {
    SCOPED_TRACE(f);
    VolatilityReference t;
    SlotBySlotTracker ref;
    for (std::size_t i = 0; i < inputs[f].size(); ++i) {
      const double v = inputs[f][i];
      const double a = t.update(v);
      const double b = ref.update(v);
      ASSERT_TRUE(SameBits(a, b)) << "update " << i + 1 << ": " << a << " vs " << b;
    }
  }
}

TEST(KlxTracker, UpdateCountsAndWindowPhases) {
  // Feeding 1, 2, 3, ... one value per update: the ten-value means are
  // known in closed form, so each phase's window can be checked by hand.
  VolatilityReference t;
  std::vector<double> means;
  for (int c = 1; c <= 130; ++c) {
    const double got = t.update(static_cast<double>(c));
    const int k = std::min(c, 10);
    means.push_back(c - (k - 1) / 2.0);  // mean of c-k+1..c
    ASSERT_EQ(t.count(), std::min(c, 128));
    double want;
    if (c <= 65) {
      double sum = 0;
      for (double m : means) sum += m;
      want = sum / c;
    } else {
      // Means rise with c, so rank r is the r-th mean of the last 127.
      const int first = c <= 127 ? c / 2 - 31 : 32;
      const int offset = c <= 127 ? 0 : c - 127;
      double sum = 0;
      for (int r = first; r < first + 65; ++r) sum += means[offset + r - 1];
      want = sum / 65;
    }
    ASSERT_NEAR(got, want, 1e-12 * want) << "update " << c;
  }
}

TEST(KlxTracker, OneHundredTwentyEighthUpdateDropsTheFirstMean) {
  // The first mean is the single largest; it sits outside the window until
  // update 128 removes it, which shifts the upper window edge down.
  VolatilityReference t;
  SortedCopyTracker s;
  const double big = 2520.0 * 1000;
  for (int i = 0; i < 10; ++i) {
    const double v = i == 0 ? big : 0.0;  // means: big, big/2, ... then 0
    ASSERT_EQ(t.update(v), s.update(v));
  }
  for (int c = 11; c <= 127; ++c) {
    const double v = 2520.0 * c;
    ASSERT_EQ(t.update(v), s.update(v));
  }
  const auto before = t.ranked();
  EXPECT_EQ(before[126], big);
  const double v = 2520.0 * 5;
  EXPECT_EQ(t.update(v), s.update(v));
  EXPECT_EQ(t.count(), 128);
  EXPECT_EQ(std::count(t.ranked().begin(), t.ranked().end(), big), 0);
  ExpectListMatchesHistory(t, s);
}

TEST(KlxTracker, AllEqualValuesGiveThatValue) {
  VolatilityReference t;
  for (int c = 1; c <= 400; ++c) ASSERT_EQ(t.update(0.375), 0.375) << c;
}

TEST(KlxTracker, NonFiniteInputStaysInsideTheTables) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<double>> inputs = {
      {1.0, nan, 2.0, 3.0},
      {inf, 1.0, -inf, 5.0},
      {1e308, 1e308, 1e308, -1e308},
      {4.9e-324, -4.9e-324, 0.0, -0.0},
  };
  for (const auto& seed : inputs) {
    VolatilityReference t;
    double maxFinite = 0.0;
    for (int i = 0; i < 500; ++i) {
      const double v = seed[static_cast<std::size_t>(i) % seed.size()];
      if (std::isfinite(v)) maxFinite = std::max(maxFinite, std::fabs(v));
      t.update(v);
    }
    EXPECT_EQ(t.count(), 128);
    // Whatever was stored came from the input: a mean of fed values, a
    // bound, or NaN; nothing from outside the list.
    for (double e : t.ranked()) {
      if (std::isfinite(e)) {
        EXPECT_LE(std::fabs(e), maxFinite);
      }
    }
  }
}

}  // namespace
