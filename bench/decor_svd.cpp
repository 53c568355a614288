// DecomposeSvd against the dgesvd that people would use instead: reference
// LAPACK and OpenBLAS, both loaded by path into this one process so that all
// run in the same benchmark. Each iteration runs, in turn, DecomposeSvd on one
// thread, reference dgesvd, OpenBLAS dgesvd on one thread, DecomposeSvd on
// two threads and OpenBLAS on two threads, each on a fresh copy of the same
// standardised matrix (thin U, V and singular values from all of them).
// Counters, each the median over the iterations of that iteration's ratio of
// times (below 1 means DecomposeSvd is faster): CPU time of the calling
// thread for the one-thread runs, which other work on a shared machine
// disturbs least, and wall time for the two-thread runs:
//   vs_reference   DecomposeSvd, 1 thread / reference dgesvd
//   vs_openblas_1t DecomposeSvd, 1 thread / OpenBLAS dgesvd, 1 thread
//   vs_openblas_2t DecomposeSvd, 2 threads / OpenBLAS dgesvd, 2 threads
//   ours_2t_over_1t DecomposeSvd, 2 threads / DecomposeSvd, 1 thread (wall)
//   floor_over_openblas_1t  the memory sweeps an order-keeping reduction
//                  cannot merge, done with no arithmetic to speak of (see
//                  FixedOrderSweeps), over OpenBLAS dgesvd on one thread
// A summary of the three per shape is printed at the end. A library that is
// not installed leaves its ratio out.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/decor/core/decor.h"

namespace {

using hvt::CoreStatus;

using Dgesvd = void(const char*, const char*, const int*, const int*, double*,
                    const int*, double*, double*, const int*, double*, const int*,
                    double*, const int*, int*, std::size_t, std::size_t);

// One LAPACK, opened with its own symbols kept to itself, so that two can sit
// in one process.
struct Lapack {
  Dgesvd* dgesvd = nullptr;
  void (*setThreads)(int) = nullptr;

  // `preload` (may be empty) is opened first: the reference LAPACK must find
  // the reference BLAS under its library name, not whatever the system's
  // alternatives point at.
  Lapack(const char* preload, const char* path) {
    if (preload[0] != '\0' && dlopen(preload, RTLD_NOW | RTLD_LOCAL) == nullptr) return;
    void* handle = path[0] == '\0' ? nullptr : dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    dgesvd = reinterpret_cast<Dgesvd*>(dlsym(handle, "dgesvd_"));
    setThreads = reinterpret_cast<void (*)(int)>(dlsym(handle, "openblas_set_num_threads"));
  }
};

const Lapack& Reference() {
  static const Lapack lapack(HVT_REFERENCE_BLAS, HVT_REFERENCE_LAPACK);
  return lapack;
}
const Lapack& OpenBlas() {
  static const Lapack lapack("", HVT_OPENBLAS);
  return lapack;
}

// A standardised random walk of rows x cols, row-major, with some columns
// mixed so that the components are not already separate.
std::vector<double> Standardised(std::size_t rows, std::size_t cols) {
  std::mt19937_64 rng(20240611);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> a(rows * cols), level(cols, 0.0);
  for (std::size_t t = 0; t < rows; ++t)
    for (std::size_t c = 0; c < cols; ++c) {
      level[c] += normal(rng);
      a[t * cols + c] = level[c] + (c > 0 ? 0.5 * a[t * cols + c - 1] : 0.0);
    }
  std::vector<double> mean(cols), sigma(cols);
  hvt::decor::StandardizeColumns(a, rows, cols, mean, sigma);
  return a;
}

using Clock = std::chrono::steady_clock;

template <typename F>
double Seconds(F&& f) {
  const auto t0 = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// CPU seconds the calling thread spends in f.
template <typename F>
double CpuSeconds(F&& f) {
  const double t0 = ThreadSeconds();
  f();
  return ThreadSeconds() - t0;
}

double Median(std::vector<double> x) {
  std::sort(x.begin(), x.end());
  const std::size_t h = x.size() / 2;
  return x.size() % 2 ? x[h] : 0.5 * (x[h - 1] + x[h]);
}

// A dgesvd call with its workspace, on a column-major copy of the matrix.
class DgesvdRun {
 public:
  DgesvdRun(const Lapack& lapack, const std::vector<double>& rowMajor, std::size_t rows,
            std::size_t cols)
      : lapack_(lapack), m_(static_cast<int>(rows)), n_(static_cast<int>(cols)),
        input_(rowMajor.size()), a_(rowMajor.size()), s_(cols), u_(rows * cols),
        vt_(cols * cols) {
    for (std::size_t t = 0; t < rows; ++t)
      for (std::size_t c = 0; c < cols; ++c) input_[c * rows + t] = rowMajor[t * cols + c];
    double query = 0.0;
    int info = 0;
    lwork_ = -1;
    lapack_.dgesvd("S", "S", &m_, &n_, a_.data(), &m_, s_.data(), u_.data(), &m_,
                   vt_.data(), &n_, &query, &lwork_, &info, 1, 1);
    lwork_ = static_cast<int>(query);
    work_.resize(static_cast<std::size_t>(lwork_));
  }
  bool operator()(int threads) {
    if (lapack_.setThreads != nullptr) lapack_.setThreads(threads);
    a_ = input_;
    int info = 0;
    lapack_.dgesvd("S", "S", &m_, &n_, a_.data(), &m_, s_.data(), u_.data(), &m_,
                   vt_.data(), &n_, work_.data(), &lwork_, &info, 1, 1);
    benchmark::DoNotOptimize(u_.data());
    return info == 0;
  }

 private:
  const Lapack& lapack_;
  int m_, n_, lwork_;
  std::vector<double> input_, a_, s_, u_, vt_, work_;
};

// The passes over a row-major rows x cols matrix that a reduction keeping
// every sum in its written order cannot merge or block: each Householder
// step needs its column's scale and norm, sums over every row, before the
// first term of its dot products, and those before any row is updated, so
// it reads the trailing block twice (column, dot products) and writes it
// once; each left-hand step reads and writes it once. Here the column pass
// is folded into the first read and the arithmetic is a token, so this is
// a floor on the core's time, not an estimate of it.
double FixedOrderSweeps(std::vector<double>& a, std::size_t rows, std::size_t cols) {
  double acc[8] = {};
  for (std::size_t i = 0; i < cols; ++i) {
    for (std::size_t k = i; k < rows; ++k) {
      const double* r = a.data() + k * cols;
      std::size_t j = i;
      for (; j + 8 <= cols; j += 8)
        for (std::size_t q = 0; q < 8; ++q) acc[q] += r[j + q];
      for (; j < cols; ++j) acc[0] += r[j];
    }
    for (std::size_t k = i; k < rows; ++k) {
      double* r = a.data() + k * cols;
      for (std::size_t j = i; j < cols; ++j) r[j] = r[j] * 0.5 + 1.0;
    }
  }
  for (std::size_t i = cols; i-- > 0;)
    for (std::size_t k = i; k < rows; ++k) {
      double* r = a.data() + k * cols;
      for (std::size_t j = i; j < cols; ++j) r[j] = r[j] * 0.5 + 1.0;
    }
  double sum = 0.0;
  for (double x : acc) sum += x;
  return sum;
}

std::map<std::string, std::map<std::string, double>> summary;

void BM_Versus(benchmark::State& state) {
  const auto rows = static_cast<std::size_t>(state.range(0));
  const auto cols = static_cast<std::size_t>(state.range(1));
  const auto input = Standardised(rows, cols);
  std::vector<double> a(input.size()), v(cols * cols), w(cols);
  auto ours = [&](unsigned threads) {
    hvt::decor::SetThreadLimit(threads);
    a = input;
    int fail = 0;
    const auto status =
        hvt::decor::DecomposeSvd(a, cols, v, cols, w, rows, cols, true, true, fail);
    benchmark::DoNotOptimize(a.data());
    return status == CoreStatus::kComplete;
  };
  const bool haveReference = Reference().dgesvd != nullptr;
  const bool haveOpenBlas = OpenBlas().dgesvd != nullptr && OpenBlas().setThreads != nullptr;
  std::vector<DgesvdRun> runs;
  if (haveReference) runs.emplace_back(Reference(), input, rows, cols);
  if (haveOpenBlas) runs.emplace_back(OpenBlas(), input, rows, cols);
  DgesvdRun* reference = haveReference ? &runs[0] : nullptr;
  DgesvdRun* openblas = haveOpenBlas ? &runs.back() : nullptr;

  std::vector<double> vsReference, vsOpenBlas1, vsOpenBlas2, twoOverOne, oursTimes, floor;
  bool ok = true;
  for (auto _ : state) {
    const double ours1 = CpuSeconds([&] { ok &= ours(1); });
    state.SetIterationTime(ours1);
    oursTimes.push_back(ours1);
    if (reference != nullptr)
      vsReference.push_back(ours1 / CpuSeconds([&] { ok &= (*reference)(1); }));
    if (openblas != nullptr) {
      const double openblas1 = CpuSeconds([&] { ok &= (*openblas)(1); });
      vsOpenBlas1.push_back(ours1 / openblas1);
      a = input;
      floor.push_back(CpuSeconds([&] { benchmark::DoNotOptimize(FixedOrderSweeps(a, rows, cols)); }) /
                      openblas1);
      const double ours1Wall = Seconds([&] { ok &= ours(1); });
      const double ours2 = Seconds([&] { ok &= ours(2); });
      twoOverOne.push_back(ours2 / ours1Wall);
      vsOpenBlas2.push_back(ours2 / Seconds([&] { ok &= (*openblas)(2); }));
    }
  }
  hvt::decor::SetThreadLimit(0);
  if (!ok) state.SkipWithError("a decomposition failed");
  auto& line = summary[std::to_string(rows) + " x " + std::to_string(cols)];
  line["ms"] = 1e3 * Median(oursTimes);
  state.counters["cpu_ms_1t"] = line["ms"];
  if (!vsReference.empty()) state.counters["vs_reference"] = line["ref"] = Median(vsReference);
  if (!vsOpenBlas1.empty()) {
    state.counters["vs_openblas_1t"] = line["ob1"] = Median(vsOpenBlas1);
    state.counters["vs_openblas_2t"] = line["ob2"] = Median(vsOpenBlas2);
    state.counters["ours_2t_over_1t"] = line["2/1"] = Median(twoOverOne);
    state.counters["floor_over_openblas_1t"] = line["floor"] = Median(floor);
  }
}
BENCHMARK(BM_Versus)
    ->Args({65536, 10})->Iterations(15)
    ->Args({2000, 100})->Iterations(15)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Versus)
    ->Args({65536, 64})->Args({200000, 30})->Iterations(5)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nDecomposeSvd over dgesvd, medians of per-iteration ratios (CPU time on one thread, wall time on two):\n");
  std::printf("%-14s %12s %10s %18s %18s %16s %22s\n", "shape", "CPU ms, 1t", "reference",
              "OpenBLAS 1 thread", "OpenBLAS 2 threads", "ours 2t / 1t",
              "sweeps alone / OB 1t");
  for (const auto& [shape, r] : summary) {
    auto cell = [&r](const char* key) {
      const auto it = r.find(key);
      char text[32] = "-";
      if (it != r.end()) std::snprintf(text, sizeof text, "%.3f", it->second);
      return std::string(text);
    };
    std::printf("%-14s %12s %10s %18s %18s %16s %22s\n", shape.c_str(), cell("ms").c_str(),
                cell("ref").c_str(), cell("ob1").c_str(), cell("ob2").c_str(),
                cell("2/1").c_str(), cell("floor").c_str());
  }
  if (OpenBlas().dgesvd == nullptr)
    std::printf("OpenBLAS not found (Debian: libopenblas0-pthread)\n");
  benchmark::Shutdown();
  return 0;
}
