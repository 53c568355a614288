// Normalized detrended blocks at index 18 (U = 398) on 65,536 rows, timed
// against a plain pass over the same array in the same iteration. Counters:
//   ratio         block time / plain-pass time
//   vs_row_by_row block time / a one-row-at-a-time deviation loop
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include <benchmark/benchmark.h>

#include "tools/blk/core/blk.h"

namespace {

using hvt::CoreStatus;

using hvt::blk::BlkBlankRows;
using hvt::blk::BlkSampleTable;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kRows = 65536;
constexpr int kIndex = 18;

std::vector<double> Data() {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> step(0.0, 1.0);
  std::vector<double> x(kRows);
  double v = 100.0;
  for (double& e : x) e = (v += step(rng));
  return x;
}

double PlainPass(std::span<const double> x) {
  double sum = 0.0;
  for (double v : x) sum += v;
  return sum;
}

// The deviation sum one row at a time, for comparison with the core's
// interleaved rows (same arithmetic, same results).
void RowByRow(std::span<const double> x, int u, int n, int m,
              std::span<double> out) {
  const int j = m / 2;
  double tr = 0.0, s = 0.0;
  for (int k = 0; k <= u; ++k) tr += x[k];
  for (int k = u - n - j; k <= u - n + j; ++k) s += x[k];
  for (int i = u; i < static_cast<int>(x.size()); ++i) {
    if (i > u) {
      tr = (tr - x[i - u - 1]) + x[i];
      s = (s - x[i - n - j - 1]) + x[i - n + j];
    }
    const double b = s / (m + 1), t = tr / (u + 1);
    double d = 0.0;
    for (int k = i - u; k <= i; ++k) d += std::fabs(x[k] - t);
    out[i - u] = (b - t) / (d / (u + 1) + 1e-10);
  }
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// One normalized detrended column: entry 18 of a run at index 18.
void BM_NormalizedColumn(benchmark::State& state) {
  const std::vector<double> x = Data();
  const int u = BlkBlankRows(kIndex);
  const auto& e = BlkSampleTable[kIndex];
  std::vector<double> out(kRows - u), slow(kRows - u);
  double base = 0.0, core = 0.0, literal = 0.0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(PlainPass(x));
    const auto t1 = Clock::now();
    hvt::blk::DetrendedBlock(x, u, e.n, e.m, hvt::blk::kBlkNormalized, out);
    benchmark::DoNotOptimize(out.data());
    const auto t2 = Clock::now();
    RowByRow(x, u, e.n, e.m, slow);
    benchmark::DoNotOptimize(slow.data());
    const auto t3 = Clock::now();
    base += Seconds(t0, t1);
    core += Seconds(t1, t2);
    literal += Seconds(t2, t3);
  }
  if (out != slow) state.SkipWithError("interleaved rows differ from row by row");
  state.counters["ratio"] = core / base;
  state.counters["vs_row_by_row"] = core / literal;
  std::printf("ratio: %.1f (one normalized column / plain pass)\n", core / base);
}
BENCHMARK(BM_NormalizedColumn)->Unit(benchmark::kMillisecond);

// The whole run a command makes: one data column, process method 3,
// normalized, entries 0 .. 18 (19 columns).
void BM_NormalizedRun(benchmark::State& state) {
  const std::vector<double> x = Data();
  const std::span<const double> cols[] = {x};
  double base = 0.0, core = 0.0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(PlainPass(x));
    const auto t1 = Clock::now();
    // The run's output columns are made in the timed part, as a command's are.
    const hvt::blk::BlkSettings settings{kIndex, hvt::blk::kBlkDetrendedOnly,
                                         hvt::blk::kBlkNormalized};
    std::vector<std::vector<double>> columns(
        static_cast<std::size_t>(hvt::blk::BlkTotalColumns(1, kIndex, settings.method)),
        std::vector<double>(x.size() - hvt::blk::BlkFirstDefinedRow(settings)));
    const std::vector<std::span<double>> out(columns.begin(), columns.end());
    const CoreStatus status = hvt::blk::BlkBlocks(cols, settings, out);
    benchmark::DoNotOptimize(columns.data());
    const auto t2 = Clock::now();
    if (status != CoreStatus::kComplete) {
      state.SkipWithError("run failed");
      break;
    }
    base += Seconds(t0, t1);
    core += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? core / base : 0;
  std::printf("ratio: %.1f (19 normalized columns / plain pass)\n",
              base > 0 ? core / base : 0);
}
BENCHMARK(BM_NormalizedRun)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
