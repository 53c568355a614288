// The worksheet path on the big sheet of a version-16 host, against the
// core alone in the same run, over 1,000,000 rows:
//  - KLX_Update(A1:A1000000,7,30) evaluated through the stand-in and the
//    add-in (12-series registration, xlfSum probe, xlCoerce, the filter,
//    the result array and xlAutoFree12); goal ratio <= 1.5;
//  - one band of 1,000,000 rows read with xlCoerce and written with xlSet
//    through Excel12v;
//  - best fit over 150 whole columns against writing them (below).
// Counters: ratio = path time / core time in wall time, both measured in
// the same iterations; cpu_ratio the same in the thread's CPU time, which
// other work on a shared machine disturbs less.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "standin/standin.h"
#include "tools/klx/core/klx_filter.h"

namespace {

constexpr int kRows = 1000000;

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

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Wall and CPU time summed over the measured calls.
struct Times {
  double wall = 0;
  double cpu = 0;
};

template <class F>
void Measure(Times& times, F&& f) {
  const auto wall0 = Clock::now();
  const double cpu0 = ThreadCpuSeconds();
  f();
  times.cpu += ThreadCpuSeconds() - cpu0;
  times.wall += std::chrono::duration<double>(Clock::now() - wall0).count();
}

void SetRatios(benchmark::State& state, const Times& path, const Times& core) {
  state.counters["ratio"] = path.wall / core.wall;
  state.counters["cpu_ratio"] = path.cpu / core.cpu;
}

standin::SheetId BigSheet(const std::vector<double>& x) {
  standin::ResetQuietly();
  standin::SetHostVersion("16.0");
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetColumn(sheet, "A1", std::vector<standin::Value>(x.begin(), x.end()));
  return sheet;
}

void CoreTime(Times& core, const std::vector<double>& x, std::vector<double>& y) {
  Measure(core, [&] { hvt::klx::KlxFilter(x, {7.0, 30.0}, y); });
}

void BM_KlxUpdateMillionRows(benchmark::State& state) {
  const auto x = Walk();
  std::vector<double> y(kRows);
  BigSheet(x);
  standin::LoadAddIn(HVT_ADDIN_PATH);
  Times pathTime, coreTime;
  for (auto _ : state) {
    standin::Evaluation e;
    Measure(pathTime, [&] { e = standin::Evaluate("=KLX_Update(A1:A1000000,7,30)"); });
    if (e.result.rows != kRows) state.SkipWithError("KLX_Update did not answer 1,000,000 rows");
    CoreTime(coreTime, x, y);
    benchmark::DoNotOptimize(y.data());
  }
  standin::ResetQuietly();
  SetRatios(state, pathTime, coreTime);
  state.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(kRows) * state.iterations() / pathTime.wall);
}
BENCHMARK(BM_KlxUpdateMillionRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_BandReadWriteMillionRows(benchmark::State& state) {
  const auto x = Walk();
  std::vector<double> y(kRows);
  standin::SheetId sheet = BigSheet(x);
  XLMREF12 from{1, {{0, kRows - 1, 0, 0}}}, to{1, {{0, kRows - 1, 1, 1}}};
  XLOPER12 source{}, target{}, type{};
  source.xltype = target.xltype = xltypeRef;
  source.val.mref.lpmref = &from;
  target.val.mref.lpmref = &to;
  source.val.mref.idSheet = target.val.mref.idSheet = sheet;
  type.xltype = xltypeInt;
  type.val.w = xltypeMulti;
  Times pathTime, coreTime;
  for (auto _ : state) {
    Measure(pathTime, [&] {
      XLOPER12 band{};
      if (Excel12(xlCoerce, &band, 2, &source, &type) != xlretSuccess ||
          Excel12(xlSet, nullptr, 2, &target, &band) != xlretSuccess) {
        state.SkipWithError("the band was not read and written");
      }
      Excel12(xlFree, nullptr, 1, &band);
    });
    CoreTime(coreTime, x, y);
    benchmark::DoNotOptimize(y.data());
  }
  if (standin::GetCell(sheet, kRows - 1, 1) != standin::Value{x.back()})
    state.SkipWithError("the band's last row was not written");
  standin::ResetQuietly();
  SetRatios(state, pathTime, coreTime);
}
BENCHMARK(BM_BandReadWriteMillionRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Best fit over a wide block: 150 whole columns of 16,384 numbers fitted in
// one COLUMN.WIDTH, against writing the same block with xlSet in the same
// iterations. The fit reads each cell once, as the write does; goal ratio
// <= 2 (about 10 while each column walked the whole sheet).
void BM_BestFitWideBlock(benchmark::State& state) {
  constexpr int kBlockRows = 16384, kBlockColumns = 150;
  standin::ResetQuietly();
  standin::SetHostVersion("8.0");
  const standin::SheetId sheet = standin::NewWorkbook("Wide.xls", "Data");
  std::vector<XLOPER> cells(static_cast<std::size_t>(kBlockRows) * kBlockColumns);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    cells[k].xltype = xltypeNum;
    cells[k].val.num = 1000.0 + static_cast<double>(k % 9973) / 7.0;
  }
  XLOPER block{};
  block.xltype = xltypeMulti;
  block.val.array.lparray = cells.data();
  block.val.array.rows = static_cast<WORD>(kBlockRows);
  block.val.array.columns = static_cast<WORD>(kBlockColumns);
  XLMREF area{1, {{0, kBlockRows - 1, 0, kBlockColumns - 1}}};
  XLMREF columns{1, {{0, 65535, 0, kBlockColumns - 1}}};
  XLOPER target{}, whole{};
  target.xltype = whole.xltype = xltypeRef;
  target.val.mref.lpmref = &area;
  whole.val.mref.lpmref = &columns;
  target.val.mref.idSheet = whole.val.mref.idSheet = sheet;
  XLOPER missing{}, standard{}, bestFit{};
  missing.xltype = xltypeMissing;
  standard.xltype = xltypeBool;
  bestFit.xltype = xltypeNum;
  bestFit.val.num = 3;
  Times fitTime, writeTime;
  for (auto _ : state) {
    Measure(writeTime, [&] {
      if (Excel4(xlSet, nullptr, 2, &target, &block) != xlretSuccess)
        state.SkipWithError("the block was not written");
    });
    Measure(fitTime, [&] {
      if (Excel4(xlcColumnWidth, nullptr, 4, &missing, &whole, &standard, &bestFit) != xlretSuccess)
        state.SkipWithError("the columns were not fitted");
    });
  }
  if (standin::ColumnWidth(sheet, kBlockColumns - 1) == standin::kStandardWidth)
    state.SkipWithError("the last column was not fitted");
  standin::ResetQuietly();
  SetRatios(state, fitTime, writeTime);
}
BENCHMARK(BM_BestFitWideBlock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
