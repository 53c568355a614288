// SpdSeries throughput on 65,536 rows at depth 10 and 500, against a plain
// pass that sums the same array in the same run; prints "ratio:" lines
// (core time / pass time). Also times the slope done one row at a time, the
// straightforward loop the blocked slope must match bit for bit.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/spd/core/spd.h"

namespace {

using hvt::CoreStatus;

constexpr std::size_t kRows = 65536;

const std::vector<double>& Walk() {
  static const std::vector<double> x = [] {
    std::mt19937_64 rng(9);
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

void BM_SpdSeries(benchmark::State& state) {
  const auto& x = Walk();
  std::vector<double> out(kRows);
  const int depth = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (hvt::spd::SpdSeries(x, {depth}, out) != CoreStatus::kComplete) {
      state.SkipWithError("run failed");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetRowRate(state);
}
BENCHMARK(BM_SpdSeries)->ArgName("depth")->Arg(10)->Arg(500);

void BM_SpdSlope(benchmark::State& state) {
  const auto& x = Walk();
  std::vector<double> v(kRows);
  const int depth = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (hvt::spd::SpdSlope(x, depth, v) != CoreStatus::kComplete) {
      state.SkipWithError("run failed");
    }
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
  SetRowRate(state);
}
BENCHMARK(BM_SpdSlope)->ArgName("depth")->Arg(10)->Arg(500);

// One row at a time: each row's two sums form one long dependency chain.
void BM_SlopeRowByRow(benchmark::State& state) {
  const auto& x = Walk();
  std::vector<double> v(kRows);
  const std::size_t depth = static_cast<std::size_t>(state.range(0));
  const double t1 = static_cast<double>((depth + 1) * (depth + 2) / 2);
  const double t2 = (static_cast<double>(2 * depth + 3) * t1) * (1.0 / 3.0);
  const double den = ((t1 * t1) * t1) - (t2 * t2);
  for (auto _ : state) {
    for (std::size_t i = depth; i < kRows; ++i) {
      double a = 0.0, b = 0.0;
      for (std::size_t j = 0; j <= depth; ++j) {
        const double p = static_cast<double>(depth + 1 - j);
        const double pv = p * x[i - j];
        b = b + pv;
        a = a + (pv * p);
      }
      v[i] = ((a * t1) - (b * t2)) / den;
    }
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
  SetRowRate(state);
}
BENCHMARK(BM_SlopeRowByRow)->ArgName("depth")->Arg(10)->Arg(500);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  hvt::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& s = reporter.seconds;
  reporter.PrintRatios("BM_PlainPass",
                       "a plain pass over " + std::to_string(kRows) + " rows");
  for (const char* depth : {"10", "500"}) {
    const auto blocked = s.find(std::string("BM_SpdSlope/depth:") + depth);
    const auto plain = s.find(std::string("BM_SlopeRowByRow/depth:") + depth);
    if (blocked != s.end() && plain != s.end() && blocked->second > 0.0) {
      std::printf("ratio: slope speed-up over one row at a time, depth %s: %.2f\n",
                  depth, plain->second / blocked->second);
    }
  }
  benchmark::Shutdown();
  return 0;
}
