// BLK block columns and layout rules. The running sums are updated exactly as
// the tool has always done (subtract the leaving value, then add the entering
// one) so every run gives the same bits.
#include "tools/blk/core/blk.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace hvt::blk {
namespace {

bool IndexInRange(int index) {
  return index >= kBlkMinIndex && index <= kBlkMaxIndex;
}

bool MethodInRange(int method) {
  return method >= kBlkStandardOnly && method <= kBlkDetrendedOnly;
}

bool HasStandard(int method) { return method != kBlkDetrendedOnly; }
bool HasDetrended(int method) { return method != kBlkStandardOnly; }

// Shared argument checks of both block functions. Windows must stay within
// rows 0 .. N-1 for every row i in U .. N-1.
CoreStatus CheckBlockArgs(std::size_t rows, int u, int n, int m,
                         std::size_t outSize) {
  if (u < 0 || n < 0 || m < 0 || m % 2 != 0 ||
      static_cast<std::int64_t>(n) + m / 2 > u) {
    return CoreStatus::kBadArgument;
  }
  if (rows <= static_cast<std::size_t>(u)) return CoreStatus::kTooShort;
  if (outSize != rows - static_cast<std::size_t>(u)) {
    return CoreStatus::kBadArgument;
  }
  return CoreStatus::kComplete;
}

// Rows of the normalized loop handled side by side. Each row keeps its own
// deviation sum in index order; interleaving only hides the add latency.
constexpr std::size_t kLanes = 8;

// d[r] = |base[r] - t[r]| + |base[r + 1] - t[r]| + ... (count terms), summed
// from 0 in index order for each r. The accumulators stay local so they can
// live in registers.
#if defined(__GNUC__)
// Two lanes per vector; each lane does exactly the scalar operations.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairBits __attribute__((vector_size(16)));

inline Pair LoadPair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline Pair AbsPair(Pair v) {
  const PairBits mask = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
  return reinterpret_cast<Pair>(reinterpret_cast<PairBits>(v) & mask);
}

inline void DeviationSums(const double* base, const double* t,
                          std::size_t count, double* d) {
  static_assert(kLanes == 8);
  const Pair t0 = LoadPair(t), t1 = LoadPair(t + 2);
  const Pair t2 = LoadPair(t + 4), t3 = LoadPair(t + 6);
  Pair d0 = {0.0, 0.0}, d1 = d0, d2 = d0, d3 = d0;
  for (std::size_t k = 0; k < count; ++k) {
    const double* p = base + k;
    d0 += AbsPair(LoadPair(p) - t0);
    d1 += AbsPair(LoadPair(p + 2) - t1);
    d2 += AbsPair(LoadPair(p + 4) - t2);
    d3 += AbsPair(LoadPair(p + 6) - t3);
  }
  std::memcpy(d, &d0, sizeof d0);
  std::memcpy(d + 2, &d1, sizeof d1);
  std::memcpy(d + 4, &d2, sizeof d2);
  std::memcpy(d + 6, &d3, sizeof d3);
}
#else
inline void DeviationSums(const double* base, const double* t,
                          std::size_t count, double* d) {
  double acc[kLanes] = {};
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t r = 0; r < kLanes; ++r) {
      acc[r] += std::fabs(base[k + r] - t[r]);
    }
  }
  for (std::size_t r = 0; r < kLanes; ++r) d[r] = acc[r];
}
#endif

}  // namespace

int BlkBlankRows(int index) {
  if (!IndexInRange(index)) return -1;
  const BlkSampleEntry& e = BlkSampleTable[static_cast<std::size_t>(index)];
  return e.n + e.m / 2;
}

int BlkMinDataRows(int index) {
  if (!IndexInRange(index)) return 0;
  return BlkBlankRows(index) + 2;
}

int BlkColumnsPerDataColumn(int index, int method) {
  if (!IndexInRange(index) || !MethodInRange(method)) return 0;
  int count = 0;
  if (HasStandard(method)) count += index;
  if (HasDetrended(method)) count += index + 1;
  return count;
}

std::int64_t BlkTotalColumns(std::int64_t dataColumns, int index, int method) {
  if (dataColumns <= 0) return 0;
  return dataColumns * BlkColumnsPerDataColumn(index, method);
}

BlkSettingsFault BlkCheckSettings(const BlkSettings& settings) {
  const int index = settings.index;
  const int method = settings.method;
  const int normalization = settings.normalization;
  if (!MethodInRange(method)) return BlkSettingsFault::kBadMethod;
  if (HasDetrended(method) && normalization != kBlkNormalized &&
      normalization != kBlkNotNormalized) {
    return BlkSettingsFault::kBadNormalization;
  }
  if (!IndexInRange(index)) return BlkSettingsFault::kBadIndex;
  if (HasDetrended(method)) {
    const int least = normalization == kBlkNormalized ? kBlkMinNormalizedIndex
                                                      : kBlkMinDetrendedIndex;
    if (index < least) return BlkSettingsFault::kIndexTooSmall;
  }
  return BlkSettingsFault::kNone;
}

std::string BlkTitleSuffix(int entry, bool detrended, int normalization) {
  std::string suffix = "_";
  if (detrended) suffix += normalization == kBlkNormalized ? "ND" : "D";
  if (entry >= 0 && entry <= kBlkMaxIndex) {
    suffix += std::to_string(BlkSampleTable[static_cast<std::size_t>(entry)].n);
  }
  return suffix;
}

std::vector<BlkColumnLayout> BlkOutputPlan(int dataColumns,
                                           const BlkSettings& settings) {
  const int index = settings.index;
  const int method = settings.method;
  const int normalization = settings.normalization;
  std::vector<BlkColumnLayout> plan;
  if (dataColumns <= 0 || BlkCheckSettings(settings) != BlkSettingsFault::kNone) {
    return plan;
  }
  plan.reserve(static_cast<std::size_t>(
      BlkTotalColumns(dataColumns, index, method)));
  auto add = [&](int c, int k, bool detrended) {
    const BlkSampleEntry& e = BlkSampleTable[static_cast<std::size_t>(k)];
    plan.push_back({c, k, detrended, e.n, e.m,
                    BlkTitleSuffix(k, detrended, normalization)});
  };
  for (int c = 0; c < dataColumns; ++c) {
    if (HasStandard(method)) {
      for (int k = 1; k <= index; ++k) add(c, k, false);
    }
    if (HasDetrended(method)) {
      for (int k = 0; k <= index; ++k) add(c, k, true);
    }
  }
  return plan;
}

CoreStatus StandardBlock(std::span<const double> x, int u, int n, int m,
                        std::span<double> out) {
  const CoreStatus check = CheckBlockArgs(x.size(), u, n, m, out.size());
  if (check != CoreStatus::kComplete) return check;
  const std::size_t rows = x.size();
  const std::size_t uu = static_cast<std::size_t>(u);
  const std::size_t lag = static_cast<std::size_t>(n);
  const std::size_t half = static_cast<std::size_t>(m / 2);
  const double width = static_cast<double>(m) + 1.0;  // M + 1 values

  double s = 0.0;
  for (std::size_t k = uu - lag - half; k <= uu - lag + half; ++k) s += x[k];
  out[0] = s / width;
  for (std::size_t i = uu + 1; i < rows; ++i) {
    s = (s - x[i - lag - half - 1]) + x[i - lag + half];
    out[i - uu] = s / width;
  }
  return CoreStatus::kComplete;
}

CoreStatus DetrendedBlock(std::span<const double> x, int u, int n, int m,
                         int normalization, std::span<double> out) {
  const CoreStatus check = CheckBlockArgs(x.size(), u, n, m, out.size());
  if (check != CoreStatus::kComplete) return check;
  if (normalization != kBlkNormalized && normalization != kBlkNotNormalized) {
    return CoreStatus::kBadArgument;
  }
  const std::size_t rows = x.size();
  const std::size_t uu = static_cast<std::size_t>(u);
  const std::size_t lag = static_cast<std::size_t>(n);
  const std::size_t half = static_cast<std::size_t>(m / 2);
  const double width = static_cast<double>(m) + 1.0;  // M + 1 values
  const double span = static_cast<double>(u) + 1.0;  // U + 1 values
  const double* px = x.data();

  double trend = 0.0;
  for (std::size_t k = 0; k <= uu; ++k) trend += px[k];
  double t = trend / span;
  double s = 0.0;
  for (std::size_t k = uu - lag - half; k <= uu - lag + half; ++k) s += px[k];
  double b = s / width;

  if (normalization == kBlkNotNormalized) {
    out[0] = b - t;
    for (std::size_t i = uu + 1; i < rows; ++i) {
      trend = (trend - px[i - uu - 1]) + px[i];
      s = (s - px[i - lag - half - 1]) + px[i - lag + half];
      b = s / width;
      t = trend / span;
      out[i - uu] = b - t;
    }
    return CoreStatus::kComplete;
  }

  // Normalized: the mean absolute deviation is summed afresh for every row
  // over x[i-U] .. x[i]. The running sums advance row by row first; then the
  // deviation sums of up to kLanes rows run side by side, each in index order.
  double* po = out.data();
  double lane_t[kLanes];
  double lane_bt[kLanes];
  double lane_d[kLanes];
  std::size_t i = uu;
  bool first = true;
  while (i < rows) {
    const std::size_t lanes = rows - i < kLanes ? rows - i : kLanes;
    for (std::size_t r = 0; r < lanes; ++r) {
      const std::size_t row = i + r;
      if (!first) {
        trend = (trend - px[row - uu - 1]) + px[row];
        s = (s - px[row - lag - half - 1]) + px[row - lag + half];
        b = s / width;
        t = trend / span;
      }
      first = false;
      lane_t[r] = t;
      lane_bt[r] = b - t;
    }
    const double* base = px + (i - uu);
    if (lanes == kLanes) {
      DeviationSums(base, lane_t, uu + 1, lane_d);
    } else {
      for (std::size_t r = 0; r < lanes; ++r) {
        double d = 0.0;
        for (std::size_t k = 0; k <= uu; ++k) {
          d += std::fabs(base[r + k] - lane_t[r]);
        }
        lane_d[r] = d;
      }
    }
    for (std::size_t r = 0; r < lanes; ++r) {
      po[i + r - uu] = lane_bt[r] / (lane_d[r] / span + 1e-10);
    }
    i += lanes;
  }
  return CoreStatus::kComplete;
}

CoreStatus BlkBlocks(std::span<const std::span<const double>> data,
                     const BlkSettings& settings,
                     std::span<const std::span<double>> out,
                     RunObserver* observer) {
  if (BlkCheckSettings(settings) != BlkSettingsFault::kNone || data.empty() ||
      data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return CoreStatus::kBadArgument;
  }
  const std::size_t rows = data[0].size();
  for (const auto& column : data) {
    if (column.size() != rows) return CoreStatus::kBadArgument;
  }
  const int u = BlkBlankRows(settings.index);
  // The trend window of row U is x[0] .. x[U]: with N <= U there is no row
  // whose windows lie inside the data.
  if (rows <= static_cast<std::size_t>(u)) return CoreStatus::kTooShort;
  const std::int64_t total =
      BlkTotalColumns(static_cast<std::int64_t>(data.size()), settings.index, settings.method);
  if (out.size() != static_cast<std::size_t>(total)) return CoreStatus::kBadArgument;
  for (const auto& column : out) {
    if (column.size() != rows - static_cast<std::size_t>(u)) return CoreStatus::kBadArgument;
  }

  std::vector<BlkColumnLayout> plan;
  try {
    plan = BlkOutputPlan(static_cast<int>(data.size()), settings);
  } catch (const std::bad_alloc&) {
    return CoreStatus::kOutOfMemory;
  }
  std::int64_t done = 0;
  for (std::size_t j = 0; j < plan.size(); ++j) {
    const BlkColumnLayout& layout = plan[j];
    if (observer != nullptr && observer->StopRequested()) return CoreStatus::kStopped;
    const std::span<const double> x = data[static_cast<std::size_t>(layout.dataColumn)];
    const CoreStatus status =
        layout.detrended
            ? DetrendedBlock(x, u, layout.n, layout.m, settings.normalization, out[j])
            : StandardBlock(x, u, layout.n, layout.m, out[j]);
    if (status != CoreStatus::kComplete) return status;
    ++done;
    if (observer != nullptr) observer->Progress(done, total);
  }
  return CoreStatus::kComplete;
}

}  // namespace hvt::blk
