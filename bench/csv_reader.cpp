// The CSV reader on 1,000,000 rows of two numeric columns (prices and long
// round-trip decimals, CRLF), and on 65,536 rows of 64 four-decimal columns
// (LF, the shape of a decorrelator's input), against a baseline in the same
// run: the same text cut at commas and line ends and converted with strtod,
// as a simple reader would. Each gets the text handed over in fresh memory,
// as from a file, the copy made outside the timing. Prints "ratio:" lines
// (reader time / baseline time) and each one's MB/s, both in processor
// time, and what copying the text costs besides.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "standin/csv_reader.h"

namespace {

constexpr std::size_t kRows = 1000000;

const std::string& NumericText() {
  static const std::string text = [] {
    std::mt19937_64 rng(5);
    std::normal_distribution<double> step(0.0, 0.25);
    std::string t;
    double level = 100;
    char line[64];
    for (std::size_t r = 0; r < kRows; ++r) {
      level += step(rng);
      double rate = step(rng) / 7;
      int n = std::snprintf(line, sizeof line, "%.2f,%.17g\r\n", level, rate);
      t.append(line, static_cast<std::size_t>(n));
    }
    return t;
  }();
  return text;
}

// 65,536 rows of 64 random walks with four decimals, as a spreadsheet saves
// prices: about 45 MB.
const std::string& WideText() {
  static const std::string text = [] {
    std::mt19937_64 rng(6);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> level(64);
    for (std::size_t c = 0; c < level.size(); ++c) level[c] = 1000.0 + 10.0 * double(c);
    std::string t;
    char field[32];
    for (std::size_t r = 0; r < 65536; ++r) {
      for (std::size_t c = 0; c < level.size(); ++c) {
        level[c] += step(rng);
        int n = std::snprintf(field, sizeof field, c + 1 < level.size() ? "%.4f," : "%.4f\n",
                              level[c]);
        t.append(field, static_cast<std::size_t>(n));
      }
    }
    return t;
  }();
  return text;
}

const std::string& Text(const benchmark::State& state) {
  return state.range(0) == 0 ? NumericText() : WideText();
}

void SetByteRate(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Text(state).size()));
}

void BM_StrtodBaseline(benchmark::State& state) {
  const std::string& text = Text(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::string copy = text;  // the text as read from a file, handed over
    state.ResumeTiming();
    double sum = 0;
    char* p = copy.data();
    char* end = p + copy.size();
    while (p < end) {
      char* field_end = p;
      while (field_end < end && *field_end != ',' && *field_end != '\r' && *field_end != '\n')
        ++field_end;
      char saved = field_end < end ? *field_end : '\0';
      if (field_end < end) *field_end = '\0';
      sum += std::strtod(p, nullptr);
      if (field_end < end) *field_end = saved;
      p = field_end + 1;
      if (saved == '\r' && p < end && *p == '\n') ++p;
    }
    benchmark::DoNotOptimize(sum);
  }
  SetByteRate(state);
}
BENCHMARK(BM_StrtodBaseline)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CsvReader(benchmark::State& state) {
  const std::string& text = Text(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::string copy = text;
    state.ResumeTiming();
    standin::CsvReader reader(std::move(copy));
    double sum = 0;
    while (reader.Next())
      for (const standin::CsvField& field : reader.fields()) sum += field.number;
    benchmark::DoNotOptimize(sum);
  }
  SetByteRate(state);
}
BENCHMARK(BM_CsvReader)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What both leave out: copying the text into fresh memory, as reading a file
// into memory does before either starts (most of it page faults).
void BM_TextCopy(benchmark::State& state) {
  const std::string& text = Text(state);
  for (auto _ : state) {
    std::string copy = text;
    benchmark::DoNotOptimize(copy.data());
  }
  SetByteRate(state);
}
BENCHMARK(BM_TextCopy)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  hvt::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& s = reporter.seconds;
  for (const char* shape : {"0", "1"}) {
    const auto base = s.find(std::string("BM_StrtodBaseline/") + shape);
    const auto reader = s.find(std::string("BM_CsvReader/") + shape);
    const bool wide = shape[0] == '1';
    const double megabytes =
        static_cast<double>((wide ? WideText() : NumericText()).size()) / 1e6;
    const char* what = wide ? "65536 rows x 64 columns" : "1000000 rows x 2 columns";
    if (base != s.end() && reader != s.end() && base->second > 0.0 && reader->second > 0.0) {
      std::printf("ratio: reader %.2f x the time of strtod over the same %s\n",
                  reader->second / base->second, what);
      std::printf("ratio: reader %.0f MB/s, strtod baseline %.0f MB/s (%.1f MB, %s)\n",
                  megabytes / reader->second, megabytes / base->second, megabytes, what);
    }
  }
  const auto copy = s.find("BM_TextCopy/1");
  const auto wideReader = s.find("BM_CsvReader/1");
  if (copy != s.end() && wideReader != s.end() && copy->second > 0.0) {
    const double megabytes = static_cast<double>(WideText().size()) / 1e6;
    std::printf("ratio: copying the text into fresh memory %.0f MB/s; reader with that copy %.0f MB/s"
                " (65536 rows x 64 columns)\n",
                megabytes / copy->second, megabytes / (copy->second + wideReader->second));
  }
  benchmark::Shutdown();
  return 0;
}
