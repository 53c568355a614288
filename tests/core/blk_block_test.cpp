// BLK block values: against brute-force window means, closed forms for a
// linear trend, a row-by-row transcription of the normalized steps (the
// production loop interleaves rows), and fuzz families.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tools/blk/core/blk.h"

namespace hvt::blk {
namespace {

using Column = std::vector<double>;

// A whole run with its outputs laid out by the plan, as callers do.
struct BlockRun {
  CoreStatus status = CoreStatus::kBadArgument;
  int blankRows = 0;
  struct Output {
    BlkColumnLayout layout;
    Column values;
  };
  std::vector<Output> columns;  // empty unless complete
};

BlockRun RunBlocks(std::span<const std::span<const double>> data, int index, int method,
             int normalization, RunObserver* observer = nullptr) {
  const BlkSettings settings{index, method, normalization};
  BlockRun run;
  run.blankRows = BlkBlankRows(index);
  const std::size_t rows = data.empty() ? 0 : data[0].size();
  const std::size_t values =
      run.blankRows >= 0 && rows > static_cast<std::size_t>(run.blankRows)
          ? rows - static_cast<std::size_t>(run.blankRows)
          : 0;
  std::vector<std::span<double>> out;
  for (BlkColumnLayout& layout : BlkOutputPlan(static_cast<int>(data.size()), settings)) {
    run.columns.push_back({std::move(layout), Column(values)});
  }
  for (auto& column : run.columns) out.push_back(column.values);
  run.status = BlkBlocks(data, settings, out, observer);
  if (run.status != CoreStatus::kComplete) run.columns.clear();
  return run;
}

constexpr double kEps = std::numeric_limits<double>::epsilon();

long double WindowMean(const Column& x, std::size_t lo, std::size_t hi) {
  long double sum = 0;
  for (std::size_t k = lo; k <= hi; ++k) sum += x[k];
  return sum / static_cast<long double>(hi - lo + 1);
}

// Independent per-row formulation in extended precision: fresh window means,
// two-pass deviation.
Column BruteBlock(const Column& x, int u, int n, int m, bool detrended,
                  bool normalized) {
  Column out;
  const std::size_t j = static_cast<std::size_t>(m / 2);
  for (std::size_t i = static_cast<std::size_t>(u); i < x.size(); ++i) {
    const long double b = WindowMean(x, i - n - j, i - n + j);
    if (!detrended) {
      out.push_back(static_cast<double>(b));
      continue;
    }
    const long double t = WindowMean(x, i - u, i);
    long double v = b - t;
    if (normalized) {
      long double d = 0;
      for (std::size_t k = i - u; k <= i; ++k) d += std::fabs(x[k] - t);
      v /= d / (u + 1) + 1e-10L;
    }
    out.push_back(static_cast<double>(v));
  }
  return out;
}

// The normalized steps transcribed one row at a time, for bit comparison.
Column LiteralNormalized(const Column& x, int u, int n, int m) {
  const int j = m / 2;
  double tr = 0.0;
  for (int k = 0; k <= u; ++k) tr += x[k];
  double t = tr / (u + 1);
  double s = 0.0;
  for (int k = u - n - j; k <= u - n + j; ++k) s += x[k];
  double b = s / (m + 1);
  Column out;
  for (int i = u; i < static_cast<int>(x.size()); ++i) {
    if (i > u) {
      tr = (tr - x[i - u - 1]) + x[i];
      s = (s - x[i - n - j - 1]) + x[i - n + j];
      b = s / (m + 1);
      t = tr / (u + 1);
    }
    double d = 0.0;
    for (int k = i - u; k <= i; ++k) d = d + std::fabs(x[k] - t);
    out.push_back((b - t) / (d / (u + 1) + 1e-10));
  }
  return out;
}

Column Block(const Column& x, int u, int k, bool detrended, int norm) {
  Column out(x.size() - static_cast<std::size_t>(u));
  const auto& e = BlkSampleTable[k];
  const CoreStatus status = detrended ? DetrendedBlock(x, u, e.n, e.m, norm, out)
                                     : StandardBlock(x, u, e.n, e.m, out);
  EXPECT_EQ(status, CoreStatus::kComplete);
  return out;
}

Column RandomWalk(std::mt19937_64& rng, std::size_t rows, double scale) {
  std::normal_distribution<double> step(0.0, 1.0);
  Column x(rows);
  double v = 0.0;
  for (double& e : x) e = scale * (v += step(rng));
  return x;
}

Column SmallIntegers(std::mt19937_64& rng, std::size_t rows, int range) {
  std::uniform_int_distribution<int> pick(-range, range);
  Column x(rows);
  for (double& e : x) e = pick(rng);
  return x;
}

bool SameBits(const Column& a, const Column& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
      return false;
  }
  return true;
}

TEST(BlkBlock, LagAndThreeRowMeanAtIndexOneAndSix) {
  std::mt19937_64 rng(11);
  const Column x = RandomWalk(rng, 60, 3.0);
  const Column lag1 = Block(x, 1, 1, false, 0);
  for (std::size_t i = 1; i < x.size(); ++i) EXPECT_EQ(lag1[i - 1], x[i - 1]);
  // Index 6: U = 8; entry 1 still the lagged series, from row 8 on.
  const Column e1 = Block(x, 8, 1, false, 0);
  const Column e6 = Block(x, 8, 6, false, 0);
  ASSERT_EQ(e6.size(), x.size() - 8);
  for (std::size_t i = 8; i < x.size(); ++i) {
    EXPECT_EQ(e1[i - 8], x[i - 1]);
    const double mean = (x[i - 8] + x[i - 7] + x[i - 6]) / 3;
    EXPECT_NEAR(e6[i - 8], mean, 64 * kEps * 3 * 200);
  }
}

TEST(BlkBlock, ExactOnIntegerDataAgainstFreshWindowMeans) {
  // Integer sums are exact, so running and fresh sums agree to the bit.
  std::mt19937_64 rng(12);
  const Column x = SmallIntegers(rng, 900, 1000);
  for (int a : {1, 6, 11, 18}) {
    const int u = BlkBlankRows(a);
    for (int k = 0; k <= a; ++k) {
      const auto& e = BlkSampleTable[k];
      const Column d = Block(x, u, k, true, 2);
      const Column st = k > 0 ? Block(x, u, k, false, 0) : Column();
      for (std::size_t r = 0; r < d.size(); ++r) {
        const std::size_t i = r + u, j = e.m / 2;
        double s = 0, t = 0;
        for (std::size_t q = i - e.n - j; q <= i - e.n + j; ++q) s += x[q];
        for (std::size_t q = i - u; q <= i; ++q) t += x[q];
        ASSERT_EQ(d[r], s / (e.m + 1) - t / (u + 1)) << a << " " << k;
        if (k > 0) {
          ASSERT_EQ(st[r], s / (e.m + 1)) << a << " " << k;
        }
      }
    }
  }
}

TEST(BlkBlock, RandomWalkAgainstExtendedPrecision) {
  std::mt19937_64 rng(13);
  const Column x = RandomWalk(rng, 1500, 0.5);
  double scale = 0;
  for (double v : x) scale = std::max(scale, std::fabs(v));
  for (int a : {12, 18}) {
    const int u = BlkBlankRows(a);
    const double tol = 8 * (x.size() + u) * kEps * scale;
    for (int k = 0; k <= a; k += 3) {
      const auto& e = BlkSampleTable[k];
      for (int mode = 0; mode < 3; ++mode) {
        const bool det = mode > 0, norm = mode == 2;
        const Column got = Block(x, u, k, det, norm ? 1 : 2);
        const Column want = BruteBlock(x, u, e.n, e.m, det, norm);
        for (std::size_t r = 0; r < got.size(); ++r) {
          double t = tol;
          if (norm) {
            // The deviation divides the error of b - t and of the trend.
            const std::size_t i = r + u;
            const long double mean = WindowMean(x, i - u, i);
            long double mad = 0;
            for (std::size_t q = i - u; q <= i; ++q) mad += std::fabs(x[q] - mean);
            mad /= u + 1;
            t = (tol + u * kEps * scale) * (1 + std::fabs(want[r])) /
                static_cast<double>(mad);
          }
          ASSERT_NEAR(got[r], want[r], t) << a << " " << k << " " << mode;
        }
      }
    }
  }
}

TEST(BlkBlock, LinearTrendClosedForm) {
  // x = c*i: a window mean is the centre's value, so b - t = c*(U/2 - n), and
  // the mean absolute deviation of U + 1 equally spaced values is closed form.
  for (int a : {10, 12, 18}) {
    const int u = BlkBlankRows(a);
    for (double c : {1.0, -3.0, 0.25}) {
      Column x(u + 50);
      for (std::size_t i = 0; i < x.size(); ++i) x[i] = c * static_cast<double>(i);
      const int h = u / 2;
      const double mad =
          std::fabs(c) * (u % 2 == 0 ? double(h) * (h + 1) : double(h + 1) * (h + 1)) /
          (u + 1);
      for (int k = 0; k <= a; ++k) {
        const double want = c * (u / 2.0 - BlkSampleTable[k].n);
        for (double v : Block(x, u, k, true, 2)) ASSERT_EQ(v, want);
        for (double v : Block(x, u, k, true, 1)) {
          ASSERT_NEAR(v, want / (mad + 1e-10), 1e-12 * std::fabs(want / mad) + 1e-15);
        }
      }
    }
  }
}

TEST(BlkBlock, RunningSumsKeepTheirRounding) {
  // 2^53 + 1 rounds back to 2^53: after the big value leaves, the running
  // sum holds 1 where a fresh sum would hold 3.
  Column x(20, 1.0);
  x[0] = 9007199254740992.0;
  const Column e6 = Block(x, 8, 6, false, 0);  // n 7, M 2: row 8 sums x[0..2]
  EXPECT_EQ(e6[0], 9007199254740992.0 / 3);
  EXPECT_EQ(e6[1], 1.0 / 3);
  EXPECT_EQ(e6[5], 1.0 / 3);
}

TEST(BlkBlock, ConstantColumnsGiveZeroDetrended) {
  for (double c : {0.0, -0.0, 7.0, -1024.0, 3.0e5}) {
    const Column x(420, c);
    for (int a : {10, 12, 18}) {
      const int u = BlkBlankRows(a);
      for (int k = 0; k <= a; ++k) {
        for (int norm : {1, 2}) {
          for (double v : Block(x, u, k, true, norm)) ASSERT_EQ(v, 0.0);
        }
        if (k > 0) {
          // Sums start from +0, so a column of -0 averages to +0.
          for (double v : Block(x, u, k, false, 0)) {
            ASSERT_EQ(v, c);
            ASSERT_FALSE(std::signbit(v) && c == 0.0);
          }
        }
      }
    }
  }
}

TEST(BlkBlock, RefusesCallsThatWouldReadOutsideTheData) {
  const Column x(10, 1.0);
  Column out(10, -5.0);
  auto untouched = [&] {
    for (double v : out) ASSERT_EQ(v, -5.0);
  };
  std::span<double> o(out);
  EXPECT_EQ(StandardBlock(x, 10, 1, 0, o.first(0)), CoreStatus::kTooShort);
  EXPECT_EQ(DetrendedBlock(x, 12, 1, 0, 1, o), CoreStatus::kTooShort);
  EXPECT_EQ(DetrendedBlock({}, 0, 0, 0, 2, o.first(0)), CoreStatus::kTooShort);
  EXPECT_EQ(StandardBlock(x, 3, 3, 2, o.first(7)), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardBlock(x, 3, 1, 1, o.first(7)), CoreStatus::kBadArgument);
  EXPECT_EQ(DetrendedBlock(x, 3, -1, 0, 2, o.first(7)), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardBlock(x, -1, 0, 0, o), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardBlock(x, 3, 2147483647, 2, o.first(7)), CoreStatus::kBadArgument);
  EXPECT_EQ(StandardBlock(x, 3, 1, 0, o.first(8)), CoreStatus::kBadArgument);
  EXPECT_EQ(DetrendedBlock(x, 3, 1, 0, 3, o.first(7)), CoreStatus::kBadArgument);
  untouched();
  // The least rows that work: N = U + 1, one value.
  EXPECT_EQ(DetrendedBlock(x, 9, 5, 8, 1, o.first(1)), CoreStatus::kComplete);
  EXPECT_EQ(out[0], 0.0);
}

class StopAt : public RunObserver {
 public:
  explicit StopAt(int stop) : stop_(stop) {}
  bool StopRequested() override { return ++asked_ > stop_; }
  void Progress(std::int64_t done, std::int64_t total) override {
    EXPECT_EQ(done, ++told_);
    total_ = total;
  }
  int stop_, asked_ = 0, told_ = 0;
  std::int64_t total_ = 0;
};

TEST(BlkBlocks, WholeRunOrderStatusesAndStop) {
  std::mt19937_64 rng(14);
  const Column a = RandomWalk(rng, 200, 1.0), b = RandomWalk(rng, 200, 2.0);
  const std::span<const double> cols[] = {a, b};
  StopAt all(1 << 30);
  const BlockRun r = RunBlocks(cols, 10, 3, 2, &all);
  ASSERT_EQ(r.status, CoreStatus::kComplete);
  EXPECT_EQ(r.blankRows, 30);
  ASSERT_EQ(r.columns.size(), 22u);
  EXPECT_EQ(all.told_, 22);
  EXPECT_EQ(all.total_, 22);
  for (int c = 0; c < 2; ++c) {
    const Column& x = c == 0 ? a : b;
    const Column& first = r.columns[11 * c].values;
    ASSERT_EQ(first.size(), 170u);
    for (std::size_t i = 30; i < 200; ++i) {
      EXPECT_NEAR(first[i - 30], x[i] - WindowMean(x, i - 30, i), 1e-12);
    }
    EXPECT_TRUE(SameBits(r.columns[11 * c + 10].values, Block(x, 30, 10, true, 2)));
  }
  const BlockRun both = RunBlocks(std::span(cols).first(1), 12, 2, 1);
  ASSERT_EQ(both.columns.size(), 25u);
  EXPECT_EQ(both.columns[24].layout.suffix, "_ND48");

  StopAt third(2);
  const BlockRun stopped = RunBlocks(cols, 10, 3, 2, &third);
  EXPECT_EQ(stopped.status, CoreStatus::kStopped);
  EXPECT_TRUE(stopped.columns.empty());
  EXPECT_EQ(third.told_, 2);

  const Column short_col(199, 1.0), tiny(30, 1.0), enough(31, 1.0);
  const std::span<const double> ragged[] = {a, short_col};
  EXPECT_EQ(RunBlocks(ragged, 10, 3, 2).status, CoreStatus::kBadArgument);
  EXPECT_EQ(RunBlocks({}, 10, 3, 2).status, CoreStatus::kBadArgument);
  EXPECT_EQ(RunBlocks(cols, 9, 3, 2).status, CoreStatus::kBadArgument);
  const std::span<const double> t1[] = {tiny}, t2[] = {enough};
  EXPECT_EQ(RunBlocks(t1, 10, 1, 0).status, CoreStatus::kTooShort);
  EXPECT_EQ(RunBlocks(t2, 10, 2, 2).columns.size(), 21u);

  // Outputs of another number or length than the plan's are refused unwritten.
  Column spare(170, -5.0);
  std::vector<std::span<double>> tooFew(21, std::span<double>(spare));
  EXPECT_EQ(BlkBlocks(cols, {10, 3, 2}, tooFew), CoreStatus::kBadArgument);
  std::vector<Column> shortColumns(22, Column(169, -5.0));
  const std::vector<std::span<double>> tooShort(shortColumns.begin(), shortColumns.end());
  EXPECT_EQ(BlkBlocks(cols, {10, 3, 2}, tooShort), CoreStatus::kBadArgument);
  for (double v : spare) ASSERT_EQ(v, -5.0);
  for (const Column& c : shortColumns) ASSERT_EQ(c, Column(169, -5.0));
}

// Fuzz families from a fixed seed, every index and method at its bounds. The
// normalized columns must match the row-by-row transcription bit for bit;
// all columns must match the extended-precision formulation where the data
// is finite and well scaled.
TEST(BlkFuzz, FamiliesAgainstReferences) {
  std::mt19937_64 rng(20240515);
  const double kInf = std::numeric_limits<double>::infinity();
  for (int family = 0; family < 9; ++family) {
    for (int a : {1, 2, 10, 11, 12, 18}) {
      const int u = BlkBlankRows(a);
      for (std::size_t rows : {std::size_t{0}, std::size_t{1}, std::size_t(u),
                               std::size_t(u + 1), std::size_t(u + 2), std::size_t(u + 16),
                               std::size_t(u + 37)}) {
        Column x;
        switch (family) {
          case 0: x = RandomWalk(rng, rows, 1.0); break;
          case 1: x = RandomWalk(rng, rows, 1e290); break;
          case 2: x = RandomWalk(rng, rows, 1e-300); break;
          case 3: x = SmallIntegers(rng, rows, 2); break;  // many ties
          case 4: for (std::size_t i = 0; i < rows; ++i) x.push_back(0.5 * i * i); break;
          case 5: x.assign(rows, -2.5); break;
          case 6: for (std::size_t i = 0; i < rows; ++i) x.push_back(i % 2 ? 0.0 : -0.0); break;
          case 7: x = RandomWalk(rng, rows, 4.9e-324); break;  // subnormal
          default:
            x = RandomWalk(rng, rows, 1.0);
            if (rows > 3) x[rows / 2] = (rows % 2) ? kInf : std::nan("");
        }
        const std::span<const double> cols[] = {x, x};
        for (int method = 1; method <= 3; ++method) {
          for (int norm = 1; norm <= 2; ++norm) {
            const BlockRun r = RunBlocks(cols, a, method, norm);
            if (BlkCheckSettings({a, method, norm}) != BlkSettingsFault::kNone) {
              EXPECT_NE(r.status, CoreStatus::kComplete);
              continue;
            }
            if (rows <= static_cast<std::size_t>(u)) {
              EXPECT_EQ(r.status, CoreStatus::kTooShort);
              continue;
            }
            ASSERT_EQ(r.status, CoreStatus::kComplete);
            ASSERT_EQ(static_cast<std::int64_t>(r.columns.size()),
                      BlkTotalColumns(2, a, method));
            for (const auto& col : r.columns) {
              const auto& s = col.layout;
              ASSERT_EQ(col.values.size(), rows - u);
              if (s.detrended && norm == 1) {
                ASSERT_TRUE(SameBits(col.values, LiteralNormalized(x, u, s.n, s.m)));
              }
              if (family == 0 || family == 3 || family == 5) {
                const Column want =
                    BruteBlock(x, u, s.n, s.m, s.detrended, norm == 1);
                for (std::size_t q = 0; q < want.size(); ++q) {
                  ASSERT_NEAR(col.values[q], want[q], 1e-6 * (1 + std::fabs(want[q])));
                }
              }
              if (family < 8) {
                for (double v : col.values) ASSERT_TRUE(std::isfinite(v));
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace hvt::blk
