// GTN series: efficiencies over 14 look-back lengths, their moving averages,
// the odd and even weight chains and the weighted mean length. Every sum is
// formed in the documented order so the callers' results match to the bit.
#include "tools/gtn/core/gtn.h"

#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace hvt::gtn {
namespace {

typedef double Lanes __attribute__((vector_size(16)));
typedef long long Bits __attribute__((vector_size(16)));
constexpr std::size_t kLanes = sizeof(Lanes) / sizeof(double);
constexpr std::size_t kVectors = kChannelCount / kLanes;

constexpr std::array<int, kChannelCount> kCommandTerms = {
    13, 11, 9, 7, 5, 3, 1, 12, 10, 8, 6, 4, 2, 0};
constexpr std::array<int, kChannelCount> kWorksheetTerms = {
    0, 2, 4, 6, 8, 10, 12, 1, 3, 5, 7, 9, 11, 13};

// The caller guarantees every index read here is in range.
inline double UpdateEfficiency(GtnChannel& c, std::size_t i, bool first,
                               const double* x, const double* d) {
  const int len = c.L;
  const double lenD = static_cast<double>(len);
  if (first) {
    c.sumDiff = 0.0;
    c.weightedDiff = 0.0;
    c.sumPrev = 0.0;
    c.moves = 0;
    for (int j = 0; j < len; ++j) {
      const std::size_t at = i - static_cast<std::size_t>(j);
      if (d[at] != 0.0) ++c.moves;
      c.sumDiff = c.sumDiff + d[at];
      c.weightedDiff = (static_cast<double>(len - j) * d[at]) + c.weightedDiff;
      c.sumPrev = c.sumPrev + x[at - 1];
    }
  } else {
    const std::size_t back = static_cast<std::size_t>(len);
    // weightedDiff needs the sumDiff of the previous step.
    c.weightedDiff = ((lenD * d[i]) - c.sumDiff) + c.weightedDiff;
    c.sumDiff = (d[i] - d[i - back]) + c.sumDiff;
    c.sumPrev = (x[i - 1] - x[i - 1 - back]) + c.sumPrev;
    c.moves += static_cast<int>(d[i] != 0.0) - static_cast<int>(d[i - back] != 0.0);
  }
  // A window without a single move is flat: its carried weightedDiff may
  // hold rounding left from earlier moves instead of 0.
  if (c.weightedDiff == 0.0 || c.moves == 0) return 0.0;
  return std::fabs(lenD * x[i] - c.sumPrev) / c.weightedDiff;
}

// Weight chains and the weighted mean length from the smoothed efficiencies.
double WeightedLength(const std::array<double, kChannelCount>& s,
                      const std::array<int, kChannelCount>& terms) {
  std::array<double, kChannelCount> w;

  // Odd chain (3 x powers of two): the longest length claims weight first.
  w[13] = s[13];
  double p = 1.0 - s[13];
  for (int k = 11; k >= 3; k -= 2) {
    w[k] = s[k] * p;
    p = p * (1.0 - w[k]);
  }
  w[1] = s[1] * p;

  // Even chain (powers of two).
  w[12] = s[12];
  double q = 1.0 - s[12];
  for (int k = 10; k >= 2; k -= 2) {
    w[k] = s[k] * q;
    q = q * (1.0 - w[k]);
  }
  w[0] = s[0] * q;

  std::array<double, kChannelCount> num;
  std::array<double, kChannelCount> den;
  for (int k = 0; k < kChannelCount; ++k) {
    const double sq = w[k] * w[k];
    den[k] = sq;
    num[k] = static_cast<double>(kChannelLengths[k]) * sq;
  }
  num[0] = den[0] + den[0];  // length 2: the square added to itself

  double numerator = num[terms[0]];
  double denominator = den[terms[0]];
  for (int idx = 1; idx < kChannelCount; ++idx) {
    numerator = numerator + num[terms[idx]];
    denominator = denominator + den[terms[idx]];
  }
  return numerator / (denominator + 0.0001);
}

}  // namespace

bool IsValidSpan(int span) {
  return span == 24 || span == 48 || span == 96 || span == 192;
}

double GtnEfficiency(GtnChannel& channel, std::size_t i, int span,
                     std::span<const double> x, std::span<const double> d) {
  if (channel.L < 1 || span < channel.L) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const std::size_t first = static_cast<std::size_t>(span) + 1;
  if (i < first || i >= x.size() || i >= d.size()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return UpdateEfficiency(channel, i, i == first, x.data(), d.data());
}

CoreStatus GtnSeries(std::span<const double> x, const GtnSettings& settings,
                     std::span<double> y, RunObserver* observer) {
  const int span = settings.span;
  const int smoothness = settings.smoothness;
  if (!IsValidSpan(span) || smoothness < kMinSmoothness ||
      smoothness > kMaxSmoothness || y.size() < x.size()) {
    return CoreStatus::kBadArgument;
  }
  const std::size_t n = x.size();
  const std::size_t firstOut = GtnFirstDefinedRow(span);
  if (n < GtnMinRows(span)) return CoreStatus::kTooShort;

  int active = 0;
  while (active < kChannelCount && kChannelLengths[active] <= span) ++active;

  // Only the last m + 1 efficiencies of a channel are ever read, so each
  // history is a ring of m + 1 slots.
  const std::size_t m = static_cast<std::size_t>(smoothness);
  const std::size_t ring = m + 1;
  std::vector<double> d;
  std::vector<Lanes> history;
  try {
    d.assign(n, 0.0);
    history.assign(kVectors * ring, Lanes{0.0, 0.0});
  } catch (const std::bad_alloc&) {
    return CoreStatus::kOutOfMemory;
  }

  const double* xs = x.data();
  double* ds = d.data();
  const std::size_t s0 = static_cast<std::size_t>(span);
  for (std::size_t i = 1; i <= s0; ++i) ds[i] = std::fabs(xs[i] - xs[i - 1]);
  for (std::size_t i = 0; i < firstOut; ++i) y[i] = 0.0;

  // Channels are updated two at a time in vector lanes: every lane does the
  // same IEEE operations, in the same order, as the scalar update. Inactive
  // channels keep every value at +0, which the smoothing formulas reproduce
  // exactly, so they are left at 0 rather than computed. active is even.
  const std::size_t vecs = static_cast<std::size_t>(active) / kLanes;
  Lanes len[kVectors] = {}, sumDiff[kVectors] = {}, weightedDiff[kVectors] = {},
        sumPrev[kVectors] = {}, smoothed[kVectors] = {}, total[kVectors] = {};
  Bits moves[kVectors] = {};
  std::size_t back[kChannelCount] = {};
  for (int k = 0; k < kChannelCount; ++k) {
    len[k / kLanes][k % kLanes] = static_cast<double>(kChannelLengths[k]);
    back[k] = static_cast<std::size_t>(kChannelLengths[k]);
  }
  // total: running sum of all efficiencies so far, the same additions in the
  // same order as re-adding the history from its start.

  const std::array<int, kChannelCount>& terms =
      settings.order == GtnTermOrder::CommandOrder ? kCommandTerms : kWorksheetTerms;
  const Lanes mD = {static_cast<double>(m), static_cast<double>(m)};
  const Lanes zero = {0.0, 0.0};
  const Bits absMask = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
  const Bits noMoves = {0, 0};
  std::size_t slot = 0;  // ring slot of step t = i - span - 1
  const std::int64_t total64 = static_cast<std::int64_t>(n);
  std::array<double, kChannelCount> s = {};

  for (std::size_t i = s0 + 1; i < n; ++i) {
    ds[i] = std::fabs(xs[i] - xs[i - 1]);
    Lanes* h = history.data() + slot * kVectors;
    if (i == s0 + 1) {
      for (int k = 0; k < active; ++k) {
        GtnChannel c;
        c.L = kChannelLengths[k];
        h[k / kLanes][k % kLanes] = UpdateEfficiency(c, i, true, xs, ds);
        sumDiff[k / kLanes][k % kLanes] = c.sumDiff;
        weightedDiff[k / kLanes][k % kLanes] = c.weightedDiff;
        sumPrev[k / kLanes][k % kLanes] = c.sumPrev;
        moves[k / kLanes][k % kLanes] = c.moves;
      }
    } else {
      const Lanes di = {ds[i], ds[i]};
      const Lanes xi = {xs[i], xs[i]};
      const Lanes xPrev = {xs[i - 1], xs[i - 1]};
      for (std::size_t v = 0; v < vecs; ++v) {
        const std::size_t k0 = v * kLanes, k1 = k0 + 1;
        const Lanes dOld = {ds[i - back[k0]], ds[i - back[k1]]};
        const Lanes xOld = {xs[i - 1 - back[k0]], xs[i - 1 - back[k1]]};
        // weightedDiff needs the sumDiff of the previous step.
        weightedDiff[v] = ((len[v] * di) - sumDiff[v]) + weightedDiff[v];
        sumDiff[v] = (di - dOld) + sumDiff[v];
        sumPrev[v] = (xPrev - xOld) + sumPrev[v];
        // Comparisons give -1 where true.
        moves[v] = (moves[v] - (di != zero)) + (dOld != zero);
        const Lanes net = (Lanes)((Bits)(len[v] * xi - sumPrev[v]) & absMask);
        // 0 where weightedDiff is 0 or the window is flat; the masked
        // quotient is never used.
        const Bits flat = (weightedDiff[v] == zero) | (moves[v] == noMoves);
        h[v] = (Lanes)((Bits)(net / weightedDiff[v]) & ~flat);
      }
    }

    const std::size_t count = i - s0;  // steps so far, t + 1
    if (count <= m) {
      const Lanes c = {static_cast<double>(count), static_cast<double>(count)};
      for (std::size_t v = 0; v < vecs; ++v) {
        total[v] = total[v] + h[v];
        smoothed[v] = total[v] / c;
      }
    } else {
      // Slot of step t - m is the one after t in a ring of m + 1.
      const std::size_t oldSlot = slot + 1 == ring ? 0 : slot + 1;
      const Lanes* old = history.data() + oldSlot * kVectors;
      for (std::size_t v = 0; v < vecs; ++v) {
        smoothed[v] = ((h[v] - old[v]) / mD) + smoothed[v];
      }
    }
    slot = slot + 1 == ring ? 0 : slot + 1;

    if (i >= firstOut) {
      for (int k = 0; k < kChannelCount; ++k) s[k] = smoothed[k / kLanes][k % kLanes];
      y[i] = WeightedLength(s, terms);
    }

    if (observer != nullptr) {
      if (observer->StopRequested()) return CoreStatus::kStopped;
      observer->Progress(static_cast<std::int64_t>(i), total64);
    }
  }
  return CoreStatus::kComplete;
}

}  // namespace hvt::gtn
