// KLX filter throughput on a 65,536-row random walk, against a baseline loop
// over the same rows that costs two pow calls and one sqrt per row, with the
// pow the filter itself calls (the floor of the filter's own per-row math). Reported as counters:
// rows_per_s and ratio = filter time / baseline time, both measured in the
// same iterations.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <random>
#include <vector>

#include "math/cr_math.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"

namespace {

constexpr std::size_t kRows = 65536;

std::vector<double> Walk() {
  std::mt19937_64 rng(20240601);
  std::normal_distribution<double> d(0.0, 1.0);
  std::vector<double> x(kRows);
  double v = 1000.0;
  for (auto& e : x) {
    v += d(rng);
    e = v;
  }
  return x;
}

// Each row's result feeds the next, so nothing can be hoisted or dropped.
double Baseline(const std::vector<double>& x, std::vector<double>& y) {
  double carry = 0.5;
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double d = std::fabs(x[k] - carry) + 1.0;
    const double e = hvt::math::Pow(d, 0.79);
    const double a = hvt::math::Pow(0.57, std::sqrt(e));
    carry = a * x[k] + (1.0 - a) * carry;
    y[k] = carry;
  }
  return carry;
}

// CPU seconds of the calling thread: other work on a shared machine disturbs
// them far less than wall time.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

template <class F>
double Seconds(F&& f) {
  const double t0 = ThreadSeconds();
  f();
  return ThreadSeconds() - t0;
}

void BM_KlxFilter(benchmark::State& state) {
  const auto x = Walk();
  std::vector<double> y(kRows), b(kRows);
  double filterTime = 0, baseTime = 0;
  for (auto _ : state) {
    const double tf = Seconds([&] { hvt::klx::KlxFilter(x, {30.0, 0.0}, y); });
    benchmark::DoNotOptimize(y.data());
    const double tb = Seconds([&] { benchmark::DoNotOptimize(Baseline(x, b)); });
    benchmark::ClobberMemory();
    state.SetIterationTime(tf);
    filterTime += tf;
    baseTime += tb;
  }
  state.counters["rows_per_s"] = benchmark::Counter(
      static_cast<double>(kRows) * static_cast<double>(state.iterations()) / filterTime);
  state.counters["ratio"] = filterTime / baseTime;
}
BENCHMARK(BM_KlxFilter)->UseManualTime()->Unit(benchmark::kMillisecond);

// The tracker alone, per update, against the same baseline per row.
void BM_VolatilityReference(benchmark::State& state) {
  const auto x = Walk();
  std::vector<double> v(kRows), b(kRows);
  for (std::size_t k = 1; k < kRows; ++k) v[k] = std::fabs(x[k] - x[k - 1]) + 1e-10;
  double trackerTime = 0, baseTime = 0;
  for (auto _ : state) {
    double sink = 0;
    const double tt = Seconds([&] {
      hvt::klx::VolatilityReference t;
      for (double e : v) sink += t.update(e);
    });
    benchmark::DoNotOptimize(sink);
    const double tb = Seconds([&] { benchmark::DoNotOptimize(Baseline(x, b)); });
    state.SetIterationTime(tt);
    trackerTime += tt;
    baseTime += tb;
  }
  state.counters["ratio"] = trackerTime / baseTime;
}
BENCHMARK(BM_VolatilityReference)->UseManualTime()->Unit(benchmark::kMillisecond);

// PQE past its growing window (S = 10: a 31-row window, constant work per
// row from then on), against the same baseline.
void BM_PqeFilter(benchmark::State& state) {
  const auto x = Walk();
  std::vector<double> y(kRows), r(kRows), b(kRows);
  double filterTime = 0, baseTime = 0;
  for (auto _ : state) {
    const double tf = Seconds([&] { hvt::klx::PqeFilter(x, {10.0}, y, nullptr, r); });
    benchmark::DoNotOptimize(y.data());
    const double tb = Seconds([&] { benchmark::DoNotOptimize(Baseline(x, b)); });
    state.SetIterationTime(tf);
    filterTime += tf;
    baseTime += tb;
  }
  state.counters["ratio"] = filterTime / baseTime;
}
BENCHMARK(BM_PqeFilter)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
