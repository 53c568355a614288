// The correctly rounded exp, log and pow against the C library's: each
// function's throughput (independent calls) and latency (each call waiting
// for the one before), and each core that calls them, built a second time
// over the C library (bench/libm), on the same 65,536-row walk. Counters:
// ns per call or per row for ours and the C library's, ratio = ours / C
// library's (the goal for the cores: at most 1.2), and for the cores the
// number of rows whose double differs between the two.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

#include "math/cr_math.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/spd/core/spd.h"

extern "C" {
void hvt_libm_klx(const double* x, std::size_t n, double s, double p, double* y);
void hvt_libm_pqe(const double* x, std::size_t n, double s, double* y);
void hvt_libm_spd(const double* x, std::size_t n, int depth, double* y);
}

namespace {

constexpr std::size_t kRows = 65536;
constexpr std::size_t kArgs = 4096;

const std::vector<double>& Walk() {
  static const std::vector<double> x = [] {
    std::mt19937_64 rng(20240601);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> v(kRows);
    double level = 1000.0;
    for (double& e : v) e = level += step(rng);
    return v;
  }();
  return x;
}

std::vector<double> Uniform(double lo, double hi, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> v(kArgs);
  for (double& e : v) e = d(rng);
  return v;
}

// Processor time, not wall time: on a shared machine the ratio of the two
// sides then does not depend on what else runs.
template <class F>
double Seconds(F&& f) {
  const std::clock_t t0 = std::clock();
  f();
  return static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
}

// ours and theirs timed alternately in each iteration.
template <class Ours, class Theirs>
void Compare(benchmark::State& state, double units, Ours ours, Theirs theirs) {
  double tOurs = 0, tTheirs = 0;
  for (auto _ : state) {
    const double a = Seconds(ours);
    const double b = Seconds(theirs);
    state.SetIterationTime(a);
    tOurs += a;
    tTheirs += b;
  }
  const double n = units * static_cast<double>(state.iterations());
  state.counters["ns_ours"] = 1e9 * tOurs / n;
  state.counters["ns_libc"] = 1e9 * tTheirs / n;
  state.counters["ratio"] = tOurs / tTheirs;
}

// Throughput: independent calls over the arguments.
template <class F>
double Sum(const std::vector<double>& x, const std::vector<double>& y, F f) {
  double s = 0;
  for (std::size_t i = 0; i < x.size(); ++i) s += f(x[i], y[i]);
  return s;
}

// Latency: each argument depends on the previous result (times zero, which
// the compiler may not drop: the result could be infinite or NaN).
template <class F>
double Chain(const std::vector<double>& x, const std::vector<double>& y, F f) {
  double r = 0;
  for (std::size_t i = 0; i < x.size(); ++i) r = f(x[i] + r * 0.0, y[i]);
  return r;
}

struct Fn {
  std::vector<double> x, y;
  double (*ours)(double, double);
  double (*libc)(double, double);
};

Fn ExpFn() {
  return {Uniform(-20, 0, 1), Uniform(0, 1, 2), [](double a, double) { return hvt::math::Exp(a); },
          [](double a, double) { return std::exp(a); }};
}
Fn LogFn() {
  return {Uniform(1e-3, 1e3, 3), Uniform(0, 1, 4),
          [](double a, double) { return hvt::math::Log(a); },
          [](double a, double) { return std::log(a); }};
}
Fn PowFn() {
  return {Uniform(1e-3, 100, 5), Uniform(0.5, 10, 6),
          [](double a, double b) { return hvt::math::Pow(a, b); },
          [](double a, double b) { return std::pow(a, b); }};
}

template <Fn (*Make)(), bool kLatency>
void BM_Function(benchmark::State& state) {
  const Fn fn = Make();
  Compare(
      state, kArgs,
      [&] {
        benchmark::DoNotOptimize(kLatency ? Chain(fn.x, fn.y, fn.ours) : Sum(fn.x, fn.y, fn.ours));
      },
      [&] {
        benchmark::DoNotOptimize(kLatency ? Chain(fn.x, fn.y, fn.libc) : Sum(fn.x, fn.y, fn.libc));
      });
}
BENCHMARK(BM_Function<ExpFn, false>)->Name("exp_throughput")->UseManualTime();
BENCHMARK(BM_Function<ExpFn, true>)->Name("exp_latency")->UseManualTime();
BENCHMARK(BM_Function<LogFn, false>)->Name("log_throughput")->UseManualTime();
BENCHMARK(BM_Function<LogFn, true>)->Name("log_latency")->UseManualTime();
BENCHMARK(BM_Function<PowFn, false>)->Name("pow_throughput")->UseManualTime();
BENCHMARK(BM_Function<PowFn, true>)->Name("pow_latency")->UseManualTime();

double Differing(const std::vector<double>& a, const std::vector<double>& b) {
  double n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) n += std::memcmp(&a[i], &b[i], sizeof(double)) != 0;
  return n;
}

template <class Ours, class Theirs>
void Core(benchmark::State& state, Ours ours, Theirs theirs) {
  const auto& x = Walk();
  std::vector<double> a(kRows), b(kRows);
  Compare(
      state, kRows, [&] { ours(x, a); benchmark::DoNotOptimize(a.data()); },
      [&] { theirs(x, b); benchmark::DoNotOptimize(b.data()); });
  state.counters["rows_differing"] = Differing(a, b);
}

void BM_Klx(benchmark::State& state) {
  const double s = static_cast<double>(state.range(0)), p = static_cast<double>(state.range(1));
  Core(
      state, [&](const std::vector<double>& x, std::vector<double>& y) { hvt::klx::KlxFilter(x, {s, p}, y); },
      [&](const std::vector<double>& x, std::vector<double>& y) {
        hvt_libm_klx(x.data(), x.size(), s, p, y.data());
      });
}
BENCHMARK(BM_Klx)->Args({7, 30})->Args({30, 0})->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Pqe(benchmark::State& state) {
  const double s = static_cast<double>(state.range(0));
  Core(
      state, [&](const std::vector<double>& x, std::vector<double>& y) { hvt::klx::PqeFilter(x, {s}, y); },
      [&](const std::vector<double>& x, std::vector<double>& y) {
        hvt_libm_pqe(x.data(), x.size(), s, y.data());
      });
}
BENCHMARK(BM_Pqe)->Arg(13)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Spd(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  Core(
      state, [&](const std::vector<double>& x, std::vector<double>& y) { hvt::spd::SpdSeries(x, {depth}, y); },
      [&](const std::vector<double>& x, std::vector<double>& y) {
        hvt_libm_spd(x.data(), x.size(), depth, y.data());
      });
}
BENCHMARK(BM_Spd)->Arg(10)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
