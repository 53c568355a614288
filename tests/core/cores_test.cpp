// The core test runner: every case of tests/core/cores.cases (a core of the
// table and its settings) on every data set of tests/data. Whatever the core,
// a run answers the rows from its first defined row, gives the same bits again
// and under an observer, stops at once at any poll it is asked to stop at,
// and tells its progress in order.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/cores.h"

namespace hvt {
namespace {

const char* const kDataSets[] = {"walk.csv", "sine.csv", "ties.csv", "constant.csv"};

struct Case {
  std::string line;
  const CoreEntry* core = nullptr;
  CoreSettings settings;
};

// "gtn --span 48 --smoothness 9": the core and its options, read through the
// table's own option rows.
Case ParseCase(const std::string& line) {
  Case c;
  c.line = line;
  std::istringstream words(line);
  std::string name;
  words >> name;
  c.core = FindCore(name);
  if (c.core == nullptr) {
    ADD_FAILURE() << "no core named " << name;
    return c;
  }
  std::string flag, value;
  while (words >> flag >> value) {
    const CoreOption* option = nullptr;
    for (const CoreOption& o : c.core->options) {
      if (flag == o.flag) option = &o;
    }
    if (option == nullptr) {
      ADD_FAILURE() << line << ": " << name << " takes no " << flag;
      continue;
    }
    if (option->number != nullptr) c.settings.*option->number = std::stod(value);
    if (option->whole != nullptr) c.settings.*option->whole = std::stoi(value);
    if (option->text != nullptr) c.settings.*option->text = value;
  }
  return c;
}

std::vector<Case> Cases() {
  std::ifstream in(HVT_SOURCE_DIR "/tests/core/cores.cases");
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    cases.push_back(ParseCase(line));
  }
  return cases;
}

// The data sets are plain rows of numbers, as tests/data/make_data.py writes them.
std::vector<std::vector<double>> ReadColumns(const std::string& name) {
  std::ifstream in(std::string(HVT_SOURCE_DIR "/tests/data/") + name);
  std::vector<std::vector<double>> columns;
  std::string line;
  while (std::getline(in, line)) {
    std::size_t c = 0;
    const char* p = line.data();
    const char* end = p + line.size();
    while (p < end) {
      double v = 0;
      auto [next, error] = std::from_chars(p, end, v);
      if (error != std::errc()) {
        ADD_FAILURE() << name << ": not a number in \"" << line << "\"";
        return columns;
      }
      if (columns.size() <= c) columns.resize(c + 1);
      columns[c++].push_back(v);
      p = next < end && *next == ',' ? next + 1 : next;
    }
  }
  return columns;
}

// Counts polls and checks the progress it is told; stops at poll `stopAt`
// (never when 0).
class Watcher final : public RunObserver {
 public:
  explicit Watcher(std::int64_t stopAt = 0) : stopAt_(stopAt) {}
  bool StopRequested() override { return ++polls == stopAt_; }
  void Progress(std::int64_t done, std::int64_t total) override {
    EXPECT_GE(done, lastDone) << "progress went back";
    EXPECT_GT(done, 0);
    EXPECT_LE(done, total);
    if (told > 0) {
      EXPECT_EQ(total, lastTotal) << "the total changed";
    }
    lastDone = done;
    lastTotal = total;
    ++told;
  }
  std::int64_t polls = 0;
  std::int64_t told = 0;
  std::int64_t lastDone = 0;
  std::int64_t lastTotal = 0;

 private:
  std::int64_t stopAt_;
};

bool SameBits(const CoreAnswer& a, const CoreAnswer& b) {
  if (a.titles != b.titles || a.blocks.size() != b.blocks.size()) return false;
  for (std::size_t k = 0; k < a.blocks.size(); ++k) {
    const CoreBlock& x = a.blocks[k];
    const CoreBlock& y = b.blocks[k];
    if (x.heading != y.heading || x.columns != y.columns || x.values.size() != y.values.size())
      return false;
    if (!x.values.empty() &&
        std::memcmp(x.values.data(), y.values.data(), x.values.size() * sizeof(double)) != 0)
      return false;
  }
  return true;
}

class CoreTable : public ::testing::TestWithParam<const char*> {};

TEST_P(CoreTable, EveryCaseKeepsTheSharedContract) {
  const std::vector<std::vector<double>> data = ReadColumns(GetParam());
  ASSERT_FALSE(data.empty());
  const std::vector<Case> cases = Cases();
  ASSERT_FALSE(cases.empty());
  for (const Case& c : cases) {
    if (c.core == nullptr) continue;
    SCOPED_TRACE(c.line);
    const std::size_t read = c.core->everyColumn ? data.size() : 1;
    const std::vector<std::span<const double>> columns(data.begin(), data.begin() + read);
    const std::size_t rows = columns[0].size();
    if (c.core->refusal(c.settings, static_cast<long>(rows)) != nullptr) {
      ADD_FAILURE() << "a case the add-in refuses";
      continue;
    }

    CoreAnswer plain;
    const CoreRun first = c.core->run(c.settings, columns, plain, nullptr);
    ASSERT_NE(first.status, CoreStatus::kStopped);
    if (first.status == CoreStatus::kComplete) {
      ASSERT_FALSE(plain.blocks.empty());
      EXPECT_EQ(plain.blocks[0].rows(), rows - c.core->firstDefinedRow(c.settings));
      if (!plain.titles.empty()) {
        EXPECT_EQ(plain.titles.size(), plain.blocks[0].columns);
      }
      for (const CoreBlock& block : plain.blocks) {
        EXPECT_EQ(block.values.size(), block.rows() * block.columns);
        for (double v : block.values) ASSERT_TRUE(std::isfinite(v)) << block.heading;
      }
    } else {
      EXPECT_FALSE(first.why.empty());
      EXPECT_TRUE(plain.blocks.empty());
    }

    // An observer that never stops changes nothing, and a second run gives
    // the same bits.
    Watcher watcher;
    CoreAnswer watched;
    const CoreRun second = c.core->run(c.settings, columns, watched, &watcher);
    EXPECT_EQ(second.status, first.status);
    EXPECT_TRUE(SameBits(plain, watched));
    if (first.status != CoreStatus::kComplete) continue;

    // A stop at the first, a middle and the last poll ends the run there.
    for (std::int64_t at : {std::int64_t{1}, (watcher.polls + 1) / 2, watcher.polls}) {
      if (at < 1) continue;
      Watcher stopper(at);
      CoreAnswer stopped;
      const CoreRun run = c.core->run(c.settings, columns, stopped, &stopper);
      EXPECT_EQ(run.status, CoreStatus::kStopped) << "stop at poll " << at;
      EXPECT_EQ(stopper.polls, at) << "asked again after a stop";
      EXPECT_TRUE(stopped.blocks.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(DataSets, CoreTable, ::testing::ValuesIn(kDataSets),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

// Every core of the table is run by at least one case.
TEST(CoreTable, EveryCoreHasCases) {
  const std::vector<Case> cases = Cases();
  for (const CoreEntry& core : Cores()) {
    bool found = false;
    for (const Case& c : cases) found = found || c.core == &core;
    EXPECT_TRUE(found) << core.name;
  }
}

}  // namespace
}  // namespace hvt
