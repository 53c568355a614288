// Every core of the table (tools/cores.h) at its default settings on 65,536
// rows of three random-walk columns, against a plain pass that sums the same
// columns in the same run; prints one "ratio:" line per core (core time /
// pass time). A core added to the table is timed here with no more code.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/cores.h"

namespace {

constexpr std::size_t kRows = 65536;
constexpr std::size_t kColumns = 3;

const std::vector<std::vector<double>>& Walks() {
  static const std::vector<std::vector<double>> columns = [] {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<std::vector<double>> c(kColumns, std::vector<double>(kRows));
    for (std::size_t k = 0; k < kColumns; ++k) {
      double level = 100.0 * static_cast<double>(k + 1);
      for (double& e : c[k]) e = level += step(rng);
    }
    return c;
  }();
  return columns;
}

void SetRowRate(benchmark::State& state) {
  state.counters["rows/s"] = benchmark::Counter(
      static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}

void PlainPass(benchmark::State& state) {
  const auto& columns = Walks();
  for (auto _ : state) {
    double sum = 0.0;
    for (const auto& column : columns) {
      for (double v : column) sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  SetRowRate(state);
}

void RunCore(benchmark::State& state, const hvt::CoreEntry* core) {
  const auto& walks = Walks();
  const std::size_t read = core->everyColumn ? walks.size() : 1;
  const std::vector<std::span<const double>> columns(walks.begin(), walks.begin() + read);
  const hvt::CoreSettings settings;
  for (auto _ : state) {
    hvt::CoreAnswer answer;
    const hvt::CoreRun run = core->run(settings, columns, answer, nullptr);
    if (run.status != hvt::CoreStatus::kComplete) {
      state.SkipWithError(run.why.c_str());
      break;
    }
    benchmark::DoNotOptimize(answer.blocks.data());
  }
  SetRowRate(state);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("PlainPass", PlainPass);
  for (const hvt::CoreEntry& core : hvt::Cores()) {
    benchmark::RegisterBenchmark(("Core/" + std::string(core.name)).c_str(), RunCore, &core)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  hvt::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios("PlainPass", "a plain pass over " + std::to_string(kRows) + " x " +
                                        std::to_string(kColumns) + " values");
  benchmark::Shutdown();
  return 0;
}
