// GtnSeries throughput on 65,536 rows, against a plain pass that sums the
// same array in the same run; prints "ratio:" lines (core time / pass time).
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/gtn/core/gtn.h"

namespace {

using hvt::CoreStatus;

constexpr std::size_t kRows = 65536;

const std::vector<double>& Walk() {
  static const std::vector<double> x = [] {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> v(kRows);
    double level = 1000.0;
    for (double& e : v) e = level += step(rng);
    return v;
  }();
  return x;
}

void SetRowRate(benchmark::State& state) {
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PlainPass(benchmark::State& state) {
  const auto& x = Walk();
  for (auto _ : state) {
    double sum = 0.0;
    for (double v : x) sum += v;
    benchmark::DoNotOptimize(sum);
  }
  SetRowRate(state);
}
BENCHMARK(BM_PlainPass);

void BM_GtnSeries(benchmark::State& state) {
  const auto& x = Walk();
  std::vector<double> y(kRows);
  const int span = static_cast<int>(state.range(0));
  const auto order = state.range(1) == 0 ? hvt::gtn::GtnTermOrder::CommandOrder
                                         : hvt::gtn::GtnTermOrder::WorksheetOrder;
  for (auto _ : state) {
    const auto status = hvt::gtn::GtnSeries(x, {span, 10, order}, y);
    if (status != CoreStatus::kComplete) state.SkipWithError("run failed");
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  SetRowRate(state);
}
BENCHMARK(BM_GtnSeries)
    ->ArgNames({"span", "worksheet"})
    ->Args({24, 0})
    ->Args({192, 0})
    ->Args({192, 1});

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  hvt::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios("BM_PlainPass",
                       "a plain pass over " + std::to_string(kRows) + " rows");
  benchmark::Shutdown();
  return 0;
}
