// GTN core: the efficiency against its definition, the whole series against a
// long-double formulation and a step-by-step reference, the two term orders,
// the short-input and stop behaviour, and fuzz families.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tools/gtn/core/gtn.h"

namespace {

using hvt::gtn::GtnChannel;
using hvt::gtn::GtnEfficiency;
using hvt::gtn::GtnSeries;
using hvt::CoreStatus;
using hvt::gtn::GtnTermOrder;
using hvt::gtn::kChannelCount;

constexpr int kSpans[] = {24, 48, 96, 192};
constexpr int kLengths[kChannelCount] = {2,  3,  4,  6,  8,  12,  16,
                                         24, 32, 48, 64, 96, 128, 192};

bool SameBits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---------------------------------------------------------------------------
// Step-by-step reference: full histories, smoothing re-added from the start,
// sums written out exactly as the steps are described.

struct RefChannel {
  int L = 0;
  double sumDiff = 0.0, weightedDiff = 0.0, sumPrev = 0.0;
  int moves = 0;
  std::vector<double> history;
  double smoothed = 0.0;
};

double RefEfficiency(RefChannel& c, std::size_t i, int span,
                     const std::vector<double>& x,
                     const std::vector<double>& d) {
  const int L = c.L;
  if (i == static_cast<std::size_t>(span) + 1) {
    c.sumDiff = 0.0;
    c.weightedDiff = 0.0;
    c.sumPrev = 0.0;
    c.moves = 0;
    for (int j = 0; j <= L - 1; ++j) {
      if (d[i - j] != 0.0) ++c.moves;
      c.sumDiff = c.sumDiff + d[i - j];
      c.weightedDiff = ((L - j) * d[i - j]) + c.weightedDiff;
      c.sumPrev = c.sumPrev + x[i - 1 - j];
    }
  } else {
    c.weightedDiff = ((L * d[i]) - c.sumDiff) + c.weightedDiff;
    c.sumDiff = (d[i] - d[i - L]) + c.sumDiff;
    c.sumPrev = (x[i - 1] - x[i - 1 - L]) + c.sumPrev;
    if (d[i] != 0.0) ++c.moves;
    if (d[i - L] != 0.0) --c.moves;
  }
  // A window with no move at all is flat, whatever rounding the carried
  // weightedDiff still holds.
  if (c.weightedDiff == 0.0 || c.moves == 0) return 0.0;
  return std::fabs(L * x[i] - c.sumPrev) / c.weightedDiff;
}

std::vector<int> TermOrder(GtnTermOrder order) {
  std::vector<int> terms = {13, 11, 9, 7, 5, 3, 1, 12, 10, 8, 6, 4, 2, 0};
  if (order == GtnTermOrder::WorksheetOrder) {
    std::reverse(terms.begin(), terms.end());
  }
  return terms;
}

std::vector<double> ReferenceGtn(const std::vector<double>& x, int span, int m,
                                 GtnTermOrder order) {
  const std::size_t n = x.size();
  const std::size_t sp = static_cast<std::size_t>(span);
  std::vector<double> d(n, 0.0), y(n, 0.0);
  for (std::size_t i = 1; i <= sp; ++i) d[i] = std::fabs(x[i] - x[i - 1]);
  std::vector<RefChannel> ch(kChannelCount);
  for (int k = 0; k < kChannelCount; ++k) {
    ch[k].L = kLengths[k];
    ch[k].history.assign(n - sp - 1, 0.0);
  }
  const std::vector<int> terms = TermOrder(order);
  for (std::size_t i = sp + 1; i <= n - 1; ++i) {
    d[i] = std::fabs(x[i] - x[i - 1]);
    const std::size_t t = i - sp - 1;
    for (int k = 0; k < kChannelCount; ++k) {
      if (ch[k].L <= span) ch[k].history[t] = RefEfficiency(ch[k], i, span, x, d);
    }
    for (int k = 0; k < kChannelCount; ++k) {
      auto& h = ch[k].history;
      if (i <= sp + static_cast<std::size_t>(m)) {
        const std::size_t c = i - sp;
        double sum = 0.0;
        for (std::size_t tt = 0; tt < c; ++tt) sum = sum + h[tt];
        ch[k].smoothed = sum / static_cast<double>(c);
      } else {
        ch[k].smoothed = ((h[t] - h[t - m]) / m) + ch[k].smoothed;
      }
    }
    if (i < sp + 6) continue;
    double S[kChannelCount], W[kChannelCount];
    for (int k = 0; k < kChannelCount; ++k) S[k] = ch[k].smoothed;
    W[13] = S[13];
    double P = 1 - S[13];
    for (int k : {11, 9, 7, 5, 3}) {
      W[k] = S[k] * P;
      P = P * (1 - W[k]);
    }
    W[1] = S[1] * P;
    W[12] = S[12];
    double Q = 1 - S[12];
    for (int k : {10, 8, 6, 4, 2}) {
      W[k] = S[k] * Q;
      Q = Q * (1 - W[k]);
    }
    W[0] = S[0] * Q;
    auto numTerm = [&](int k) {
      const double sq = W[k] * W[k];
      return kLengths[k] == 2 ? sq + sq : kLengths[k] * sq;
    };
    double num = numTerm(terms[0]);
    double den = W[terms[0]] * W[terms[0]];
    for (int idx = 1; idx < kChannelCount; ++idx) {
      num = num + numTerm(terms[idx]);
      den = den + W[terms[idx]] * W[terms[idx]];
    }
    y[i] = num / (den + 0.0001);
  }
  return y;
}

// ---------------------------------------------------------------------------
// Long-double formulation from the definitions: efficiency as net move over
// weighted path, smoothing as a plain window mean, nothing carried forward.

long double BruteEfficiency(const std::vector<double>& x, std::size_t i,
                            int L) {
  long double net = 0.0L, path = 0.0L;
  for (int j = 0; j < L; ++j) {
    net += static_cast<long double>(x[i]) - x[i - 1 - j];
    path += static_cast<long double>(L - j) *
            std::fabs(static_cast<long double>(x[i - j]) - x[i - j - 1]);
  }
  return path == 0.0L ? 0.0L : std::fabs(net) / path;
}

std::vector<long double> BruteGtn(const std::vector<double>& x, int span,
                                  int m) {
  const std::size_t n = x.size();
  const std::size_t sp = static_cast<std::size_t>(span);
  std::vector<std::vector<long double>> eff(kChannelCount,
                                            std::vector<long double>(n, 0.0L));
  std::vector<long double> y(n, 0.0L);
  for (std::size_t i = sp + 1; i < n; ++i) {
    for (int k = 0; k < kChannelCount; ++k) {
      if (kLengths[k] <= span) eff[k][i] = BruteEfficiency(x, i, kLengths[k]);
    }
    if (i < sp + 6) continue;
    const std::size_t steps = i - sp;
    const std::size_t window = std::min<std::size_t>(steps, m);
    long double S[kChannelCount], W[kChannelCount];
    for (int k = 0; k < kChannelCount; ++k) {
      long double sum = 0.0L;
      for (std::size_t back = 0; back < window; ++back) sum += eff[k][i - back];
      S[k] = sum / window;
    }
    // Longer lengths claim weight first; each leaves (1 - W) for the rest.
    for (int start : {13, 12}) {
      long double left = 1.0L;
      for (int k = start; k >= 0; k -= 2) {
        W[k] = S[k] * left;
        left *= 1.0L - W[k];
      }
    }
    long double num = 0.0L, den = 0.0L;
    for (int k = 0; k < kChannelCount; ++k) {
      num += kLengths[k] * W[k] * W[k];
      den += W[k] * W[k];
    }
    y[i] = num / (den + 0.0001L);
  }
  return y;
}

// ---------------------------------------------------------------------------
// Fuzz families from a fixed seed.

enum class Family { Walk, Monotone, Constant, Ties, Huge, Tiny, Zeros, Zigzag, Halt };
constexpr Family kFamilies[] = {Family::Walk,  Family::Monotone, Family::Constant,
                                Family::Ties,  Family::Huge,     Family::Tiny,
                                Family::Zeros, Family::Zigzag,   Family::Halt};

std::vector<double> MakeSeries(Family f, std::size_t n, std::mt19937_64& rng) {
  std::normal_distribution<double> step(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 3);
  std::vector<double> x(n);
  double level = 100.0;
  for (std::size_t i = 0; i < n; ++i) {
    switch (f) {
      case Family::Walk: level += step(rng); x[i] = level; break;
      case Family::Monotone: level += std::fabs(step(rng)); x[i] = level; break;
      case Family::Constant: x[i] = 7.25; break;
      case Family::Ties: x[i] = static_cast<double>(pick(rng)); break;
      case Family::Huge: level += step(rng); x[i] = level * 1e300; break;
      case Family::Tiny: level += step(rng); x[i] = level * 1e-310; break;
      case Family::Zeros: x[i] = pick(rng) < 2 ? 0.0 : -0.0; break;
      case Family::Zigzag: x[i] = (i % 2 == 0 ? 1.0 : -1.0) * (1.0 + 1e-3 * step(rng)); break;
      case Family::Halt:  // moves, then stands still
        if (i < n / 2) level += 0.37 * step(rng);
        x[i] = level;
        break;
    }
  }
  return x;
}

std::vector<double> RunGtn(const std::vector<double>& x, int span, int m,
                           GtnTermOrder order,
                           hvt::RunObserver* observer = nullptr) {
  std::vector<double> y(x.size(), -1.0);
  EXPECT_EQ(GtnSeries(x, {span, m, order}, y, observer), CoreStatus::kComplete);
  return y;
}

// ---------------------------------------------------------------------------

TEST(GtnChannels, TableHoldsPowersOfTwoAndThreeTimesPowersOfTwo) {
  for (int k = 0; k < kChannelCount; ++k) {
    const int expected = k % 2 == 0 ? 2 << (k / 2) : 3 << ((k - 1) / 2);
    EXPECT_EQ(hvt::gtn::kChannelLengths[k], expected) << "k=" << k;
  }
  EXPECT_TRUE(hvt::gtn::IsValidSpan(24));
  EXPECT_TRUE(hvt::gtn::IsValidSpan(192));
  EXPECT_FALSE(hvt::gtn::IsValidSpan(25));
  EXPECT_FALSE(hvt::gtn::IsValidSpan(0));
  EXPECT_FALSE(hvt::gtn::IsValidSpan(-24));
}

TEST(GtnEfficiencyTest, CarriedSumsMatchTheDefinitionOverALongWalk) {
  std::mt19937_64 rng(11);
  const int span = 192;
  const auto x = MakeSeries(Family::Walk, 6000, rng);
  std::vector<double> d(x.size(), 0.0);
  for (std::size_t i = 1; i < x.size(); ++i) d[i] = std::fabs(x[i] - x[i - 1]);
  for (int L : kLengths) {
    GtnChannel ch;
    ch.L = L;
    for (std::size_t i = span + 1; i < x.size(); ++i) {
      const double got = GtnEfficiency(ch, i, span, x, d);
      const long double want = BruteEfficiency(x, i, L);
      ASSERT_NEAR(got, static_cast<double>(want), 1e-9 * (1 + want))
          << "L=" << L << " i=" << i;
      ASSERT_GE(got, 0.0);
      ASSERT_LE(got, 1.0 + 1e-9);
      // The carried sums stay the window sums they stand for.
      long double sumDiff = 0.0L;
      for (int j = 0; j < L; ++j) sumDiff += d[i - j];
      ASSERT_NEAR(ch.sumDiff, static_cast<double>(sumDiff), 1e-9 * L);
    }
  }
}

TEST(GtnEfficiencyTest, StraightRunIsExactlyOneAndFlatRunZero) {
  const int span = 48;
  std::vector<double> up(200), flat(200, 3.0);
  for (std::size_t i = 0; i < up.size(); ++i) up[i] = static_cast<double>(i);
  std::vector<double> dUp(200, 0.0), dFlat(200, 0.0);
  for (std::size_t i = 1; i < 200; ++i) dUp[i] = 1.0;
  for (int L : kLengths) {
    if (L > span) continue;
    GtnChannel a, b;
    a.L = b.L = L;
    for (std::size_t i = span + 1; i < 200; ++i) {
      EXPECT_EQ(GtnEfficiency(a, i, span, up, dUp), 1.0) << L << " " << i;
      EXPECT_EQ(GtnEfficiency(b, i, span, flat, dFlat), 0.0) << L << " " << i;
    }
  }
}

TEST(GtnEfficiencyTest, FirstStepRebuildsSumsAndBadIndicesAreRefused) {
  std::mt19937_64 rng(12);
  const int span = 24;
  const auto x = MakeSeries(Family::Walk, 60, rng);
  std::vector<double> d(x.size(), 0.0);
  for (std::size_t i = 1; i < x.size(); ++i) d[i] = std::fabs(x[i] - x[i - 1]);

  GtnChannel fresh, dirty;
  fresh.L = dirty.L = 24;
  dirty.sumDiff = 1e9;
  dirty.weightedDiff = -5;
  dirty.sumPrev = 42;
  EXPECT_TRUE(SameBits(GtnEfficiency(fresh, span + 1, span, x, d),
                       GtnEfficiency(dirty, span + 1, span, x, d)));
  EXPECT_EQ(dirty.sumDiff, fresh.sumDiff);
  EXPECT_EQ(dirty.weightedDiff, fresh.weightedDiff);
  EXPECT_EQ(dirty.sumPrev, fresh.sumPrev);

  const GtnChannel before = dirty;
  EXPECT_TRUE(std::isnan(GtnEfficiency(dirty, span, span, x, d)));      // before the run
  EXPECT_TRUE(std::isnan(GtnEfficiency(dirty, x.size(), span, x, d)));  // past the end
  const std::vector<double> shortD(d.begin(), d.begin() + 30);
  EXPECT_TRUE(std::isnan(GtnEfficiency(dirty, 30, span, x, shortD)));
  GtnChannel tooLong;
  tooLong.L = 48;  // longer than the span: its window would reach below x[0]
  EXPECT_TRUE(std::isnan(GtnEfficiency(tooLong, span + 1, span, x, d)));
  GtnChannel noLength;
  EXPECT_TRUE(std::isnan(GtnEfficiency(noLength, span + 1, span, x, d)));
  EXPECT_EQ(dirty.sumDiff, before.sumDiff);
  EXPECT_EQ(dirty.weightedDiff, before.weightedDiff);
  EXPECT_EQ(dirty.sumPrev, before.sumPrev);
}

TEST(GtnSeriesTest, ConstantSeriesGivesZeroFromTheFirstOutputRow) {
  for (int span : kSpans) {
    for (int m : {2, 10, 50}) {
      const std::vector<double> x(span + 40, -12.5);
      for (auto order : {GtnTermOrder::CommandOrder, GtnTermOrder::WorksheetOrder}) {
        const auto y = RunGtn(x, span, m, order);
        for (std::size_t i = 0; i < y.size(); ++i) {
          ASSERT_TRUE(SameBits(y[i], 0.0)) << span << " " << m << " " << i;
        }
      }
    }
  }
}

TEST(GtnSeriesTest, StraightLineSettlesOnLongestOddAndEvenLengths) {
  // Every active efficiency is 1, so the longest active length of each chain
  // takes weight 1 and every shorter one 0.
  const int longestOdd[] = {24, 48, 96, 192};
  const int longestEven[] = {16, 32, 64, 128};
  for (int s = 0; s < 4; ++s) {
    const int span = kSpans[s];
    std::vector<double> x(span + 100);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
    const double expected =
        static_cast<double>(longestOdd[s] + longestEven[s]) / (2.0 + 0.0001);
    for (auto order : {GtnTermOrder::CommandOrder, GtnTermOrder::WorksheetOrder}) {
      const auto y = RunGtn(x, span, 7, order);
      for (std::size_t i = span + 6; i < y.size(); ++i) {
        ASSERT_EQ(y[i], expected) << span << " " << i;
      }
    }
  }
  std::vector<double> x(60);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
  EXPECT_NEAR(RunGtn(x, 24, 10, GtnTermOrder::CommandOrder)[30], 19.999, 1e-3);
}

TEST(GtnSeriesTest, AgreesWithLongDoubleFormulationFromItsDefinitions) {
  std::mt19937_64 rng(21);
  for (int span : kSpans) {
    for (int m : {2, 5, 6, 10, 50}) {
      const auto x = MakeSeries(Family::Walk, span + 400, rng);
      const auto want = BruteGtn(x, span, m);
      const auto y = RunGtn(x, span, m, GtnTermOrder::CommandOrder);
      // The first output row: mean of the first 6 efficiencies when m >= 6,
      // the moving average of the last m otherwise.
      for (std::size_t i = span + 6; i < x.size(); ++i) {
        ASSERT_NEAR(y[i], static_cast<double>(want[i]), 1e-9)
            << "span=" << span << " m=" << m << " i=" << i;
        ASSERT_GE(y[i], 0.0);
        ASSERT_LT(y[i], static_cast<double>(span));
      }
    }
  }
}

TEST(GtnSeriesTest, SeriesThatStopsMovingSettlesToZero) {
  // After the walk stops, every window goes flat: the efficiencies are 0 by
  // definition, although the carried sums keep rounding from the moves.
  std::mt19937_64 rng(23);
  for (int span : kSpans) {
    for (int m : {2, 10, 50}) {
      const auto x = MakeSeries(Family::Halt, 2 * (span + 600), rng);
      const auto want = BruteGtn(x, span, m);
      const auto y = RunGtn(x, span, m, GtnTermOrder::CommandOrder);
      // Windows with only the last few moves left are sensitive to the
      // carried rounding, hence the wider tolerance.
      for (std::size_t i = span + 6; i < x.size(); ++i) {
        ASSERT_NEAR(y[i], static_cast<double>(want[i]), 1e-7)
            << "span=" << span << " m=" << m << " i=" << i;
      }
      const std::size_t settled = x.size() / 2 + span + m + 1;
      for (std::size_t i = settled; i < x.size(); ++i) ASSERT_LT(y[i], 1e-9) << i;
    }
  }
}

TEST(GtnSeriesTest, TermOrdersDifferOnlyInSummationOrder) {
  std::mt19937_64 rng(31);
  std::size_t rowsThatDiffer = 0;
  for (int span : kSpans) {
    const auto x = MakeSeries(Family::Walk, 20000, rng);
    const auto cmd = RunGtn(x, span, 10, GtnTermOrder::CommandOrder);
    const auto ws = RunGtn(x, span, 10, GtnTermOrder::WorksheetOrder);
    const auto refCmd = ReferenceGtn(x, span, 10, GtnTermOrder::CommandOrder);
    const auto refWs = ReferenceGtn(x, span, 10, GtnTermOrder::WorksheetOrder);
    for (std::size_t i = span + 6; i < x.size(); ++i) {
      ASSERT_TRUE(SameBits(cmd[i], refCmd[i])) << span << " " << i;
      ASSERT_TRUE(SameBits(ws[i], refWs[i])) << span << " " << i;
      ASSERT_NEAR(cmd[i], ws[i], 1e-13 * std::fabs(cmd[i]) + 1e-300);
      if (cmd[i] != ws[i]) ++rowsThatDiffer;
    }
  }
  // The orders are really applied: some rows round differently.
  EXPECT_GT(rowsThatDiffer, 0u);
}

TEST(GtnSeriesTest, BitExactAgainstStepReferenceAcrossFuzzFamilies) {
  std::mt19937_64 rng(41);
  for (Family f : kFamilies) {
    for (int span : kSpans) {
      for (int m : {2, 3, 6, 49, 50}) {
        for (std::size_t extra : {7u, 8u, 9u, 60u, 700u}) {
          const auto x = MakeSeries(f, span + extra, rng);
          for (auto order : {GtnTermOrder::CommandOrder, GtnTermOrder::WorksheetOrder}) {
            const auto y = RunGtn(x, span, m, order);
            const auto ref = ReferenceGtn(x, span, m, order);
            for (std::size_t i = 0; i < x.size(); ++i) {
              ASSERT_TRUE(SameBits(y[i], ref[i]))
                  << "family=" << static_cast<int>(f) << " span=" << span
                  << " m=" << m << " n=" << x.size() << " i=" << i
                  << " got=" << y[i] << " want=" << ref[i];
            }
          }
        }
      }
    }
  }
}

TEST(GtnSeriesTest, TooShortInputIsReportedAndOutputLeftAlone) {
  for (int span : kSpans) {
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t(span + 1),
                          std::size_t(span + 2), std::size_t(span + 5),
                          std::size_t(span + 6)}) {
      const std::vector<double> x(n, 1.0);
      std::vector<double> y(n, 99.0);
      EXPECT_EQ(GtnSeries(x, {span, 10, GtnTermOrder::CommandOrder}, y),
                CoreStatus::kTooShort)
          << span << " " << n;
      EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return v == 99.0; }));
    }
    // One row more defines exactly one output row.
    std::vector<double> x(span + 7);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.3 * i);
    std::vector<double> y(x.size(), 99.0);
    ASSERT_EQ(GtnSeries(x, {span, 10, GtnTermOrder::CommandOrder}, y),
              CoreStatus::kComplete);
    EXPECT_NEAR(y[span + 6], static_cast<double>(BruteGtn(x, span, 10)[span + 6]), 1e-12);
    for (int i = 0; i < span + 6; ++i) EXPECT_EQ(y[i], 0.0);
  }
}

TEST(GtnSeriesTest, BadSettingsAreRefused) {
  const std::vector<double> x(300, 1.0);
  std::vector<double> y(300, 99.0);
  for (int span : {0, 23, 25, 100, 193, -24}) {
    EXPECT_EQ(GtnSeries(x, {span, 10, GtnTermOrder::CommandOrder}, y),
              CoreStatus::kBadArgument);
  }
  for (int m : {-1, 0, 1, 51, 1000}) {
    EXPECT_EQ(GtnSeries(x, {24, m, GtnTermOrder::CommandOrder}, y),
              CoreStatus::kBadArgument);
  }
  std::vector<double> small(299);
  EXPECT_EQ(GtnSeries(x, {24, 10, GtnTermOrder::CommandOrder}, small),
            CoreStatus::kBadArgument);
  EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return v == 99.0; }));
  // Bounds are inclusive.
  EXPECT_EQ(GtnSeries(x, {24, 2, GtnTermOrder::CommandOrder}, y), CoreStatus::kComplete);
  EXPECT_EQ(GtnSeries(x, {192, 50, GtnTermOrder::CommandOrder}, y), CoreStatus::kComplete);
}

class StepLog : public hvt::RunObserver {
 public:
  explicit StepLog(std::int64_t stopOnAsk) : stopOnAsk_(stopOnAsk) {}
  bool StopRequested() override {
    ++asks;
    return asks == stopOnAsk_;
  }
  void Progress(std::int64_t done, std::int64_t total) override {
    EXPECT_EQ(asks, static_cast<std::int64_t>(dones.size()) + 1)
        << "progress must follow the stop check of its step";
    dones.push_back(done);
    totals.push_back(total);
  }
  std::int64_t asks = 0;
  std::vector<std::int64_t> dones, totals;

 private:
  std::int64_t stopOnAsk_;
};

TEST(GtnSeriesTest, ObserverSeesEveryStepAndCanStop) {
  std::mt19937_64 rng(51);
  const int span = 48;
  const auto x = MakeSeries(Family::Walk, 400, rng);
  StepLog all(-1);
  const auto y = RunGtn(x, span, 10, GtnTermOrder::CommandOrder, &all);
  ASSERT_EQ(all.dones.size(), x.size() - span - 1);
  for (std::size_t k = 0; k < all.dones.size(); ++k) {
    EXPECT_EQ(all.dones[k], static_cast<std::int64_t>(span + 1 + k));
    EXPECT_EQ(all.totals[k], static_cast<std::int64_t>(x.size()));
  }
  const auto plain = RunGtn(x, span, 10, GtnTermOrder::CommandOrder);
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_TRUE(SameBits(y[i], plain[i]));

  for (std::int64_t stopAt : {1, 5, 200, 351}) {
    StepLog stopper(stopAt);
    std::vector<double> out(x.size());
    EXPECT_EQ(GtnSeries(x, {span, 10, GtnTermOrder::CommandOrder}, out, &stopper),
              CoreStatus::kStopped);
    EXPECT_EQ(stopper.asks, stopAt);
    EXPECT_EQ(stopper.dones.size(), static_cast<std::size_t>(stopAt - 1));
  }
}

TEST(GtnSeriesTest, OutputStaysWithinZeroAndLongestActiveLength) {
  std::mt19937_64 rng(61);
  for (Family f : {Family::Walk, Family::Monotone, Family::Ties, Family::Zigzag}) {
    for (int span : kSpans) {
      const auto x = MakeSeries(f, 3000, rng);
      const auto y = RunGtn(x, span, 4, GtnTermOrder::WorksheetOrder);
      for (std::size_t i = span + 6; i < x.size(); ++i) {
        ASSERT_TRUE(y[i] >= 0.0 && y[i] < span) << span << " " << i << " " << y[i];
      }
    }
  }
}

}  // namespace
