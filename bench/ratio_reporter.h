// What the benchmarks share: a console reporter that keeps each run's
// processor seconds per iteration (steadier than wall time on a shared
// machine), and the "ratio:" lines against a baseline of the same run.
#ifndef HVT_BENCH_RATIO_REPORTER_H
#define HVT_BENCH_RATIO_REPORTER_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace hvt::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && !r.error_occurred && r.iterations > 0) {
        seconds[r.benchmark_name()] =
            r.cpu_accumulated_time / static_cast<double>(r.iterations);
      }
    }
  }
  // Prints every other run's time over the baseline's: "ratio: NAME R x the
  // time of <baseline text>".
  void PrintRatios(const std::string& baseline, const std::string& baselineText) const {
    const auto base = seconds.find(baseline);
    if (base == seconds.end() || base->second <= 0.0) return;
    for (const auto& [name, secs] : seconds) {
      if (name == base->first) continue;
      std::printf("ratio: %s %.1f x the time of %s\n", name.c_str(), secs / base->second,
                  baselineText.c_str());
    }
  }
  std::map<std::string, double> seconds;
};

}  // namespace hvt::bench

#endif  // HVT_BENCH_RATIO_REPORTER_H
