// The promise every command keeps: it changes only what it announces (its
// output range, its label cell, the coefficient sheet) and leaves sheet
// visibility, protection, selection and calculation mode as it found them.
// Checked for every command on success, on each refusal, on Esc at every
// break-key poll and on a memory failure at every allocation, C++
// containers included (see counted_new.cpp).
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/addin/addin_fixture.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

// Zero-based, inclusive.
struct Area {
  std::string sheet;  // "[Book]Sheet"
  int firstRow, lastRow, firstColumn, lastColumn;
  bool Covers(int row, int column) const {
    // A column width (row -1) belongs to the area's columns.
    return (row < 0 || (row >= firstRow && row <= lastRow)) && column >= firstColumn &&
           column <= lastColumn;
  }
};

// What a command may change.
struct Announced {
  std::vector<Area> areas;
  std::vector<std::string> sheets;  // whole sheets, made or rewritten: "[Book]Sheet"
  bool Sheet(const std::string& name) const {
    for (const std::string& s : sheets) {
      if (s == name) return true;
    }
    return false;
  }
};

std::string Name(const std::string& book, const std::string& sheet) {
  return "[" + book + "]" + sheet;
}

// Everything the person could see change.
struct State {
  std::map<std::string, std::vector<standin::CellState>> cells;  // by sheet
  std::map<std::string, std::string> settings;                    // by what
};

State Capture(const Announced& announced) {
  State state;
  for (const std::string& book : standin::Workbooks()) {
    std::string sheets;
    for (const std::string& sheet : standin::Sheets(book)) {
      std::string name = Name(book, sheet);
      if (announced.Sheet(name)) continue;
      standin::SheetId id = standin::FindSheet(book, sheet);
      sheets += sheet + ",";
      state.cells[name] = standin::SheetContents(id);
      state.settings["sheet " + name] =
          std::string(standin::SheetHidden(id) ? "hidden" : "shown") +
          (standin::SheetProtected(id) ? " protected" : " open");
    }
    state.settings["book " + book] =
        sheets + (standin::WorkbookHidden(book) ? " hidden" : " shown");
  }
  standin::SheetId active = standin::ActiveSheet();
  state.settings["active sheet"] =
      active == 0 ? "" : Name(standin::BookName(active), standin::SheetName(active));
  state.settings["selection"] = standin::Selection() + " at " + standin::ActiveCell();
  state.settings["calculation"] = std::to_string(standin::CalculationMode());
  state.settings["status bar"] = standin::StatusBarShown() ? "shown" : "hidden";
  state.settings["screen updating"] = standin::ScreenUpdating() ? "on" : "off";
  state.settings["macro errors"] = standin::MacroErrorsHandled() ? "handled" : "off";
  std::string names;
  for (const std::string& n : standin::DefinedNames()) names += n + ",";
  state.settings["names"] = names;
  return state;
}

// Every change outside what was announced, one line each.
std::vector<std::string> Unannounced(const State& before, const State& after,
                                     const Announced& announced, bool succeeded) {
  std::vector<std::string> found;
  std::set<std::string> sheets;
  for (const auto& [name, cells] : before.cells) sheets.insert(name);
  for (const auto& [name, cells] : after.cells) sheets.insert(name);
  for (const std::string& name : sheets) {
    // Cells in the sheet's announced areas may change: left out before
    // indexing, as a formatted output column alone is 65,536 of them.
    std::vector<Area> areas;
    for (const Area& area : announced.areas) {
      if (area.sheet == name) areas.push_back(area);
    }
    auto index = [&](const State& state) {
      std::map<std::pair<int, int>, std::string> cells;
      auto it = state.cells.find(name);
      if (it == state.cells.end()) return cells;
      for (const auto& c : it->second) {
        bool mayChange = false;
        for (const Area& area : areas) mayChange = mayChange || area.Covers(c.row, c.column);
        if (!mayChange) cells[{c.row, c.column}] = c.text;
      }
      return cells;
    };
    std::map<std::pair<int, int>, std::string> was = index(before), is = index(after);
    std::set<std::pair<int, int>> keys;
    for (const auto& [k, v] : was) keys.insert(k);
    for (const auto& [k, v] : is) keys.insert(k);
    for (const auto& key : keys) {
      std::string a = was.count(key) ? was[key] : "(nothing)";
      std::string b = is.count(key) ? is[key] : "(nothing)";
      if (a != b) {
        found.push_back(name + " row " + std::to_string(key.first) + " column " +
                        std::to_string(key.second) + ": " + a + " -> " + b);
      }
    }
  }
  for (const auto& [what, was] : before.settings) {
    // On success the command selects its output.
    if (succeeded && (what == "selection" || what == "active sheet")) continue;
    auto it = after.settings.find(what);
    std::string is = it == after.settings.end() ? "(gone)" : it->second;
    if (is != was) found.push_back(what + ": " + was + " -> " + is);
  }
  for (const auto& [what, is] : after.settings) {
    if (!before.settings.count(what)) found.push_back(what + ": (new) " + is);
  }
  return found;
}

bool Said(const std::string& text) {
  for (const std::string& line : standin::Transcript()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string Transcript() {
  std::string all;
  for (const std::string& line : standin::Transcript()) all += "  | " + line + "\n";
  for (const std::string& line : standin::Log()) all += "  log | " + line + "\n";
  return all;
}

// One way to run one command: the workbook it starts from, what the person
// answers, what the command announces and whether it runs to the end.
struct Scenario {
  std::string name;
  std::string command;            // the registered function text
  std::string abortMessage;       // shown when the command ends early
  std::function<void()> prepare;  // workbooks, data and the selection
  std::function<void()> answer;   // dialogs, alerts, inputs
  Announced announced;
  bool succeeds = true;
  std::string hostVersion = {};  // the stand-in's own when empty
};

// Named in test output by its name alone.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::vector<Value> Column(const std::vector<double>& x) { return {x.begin(), x.end()}; }

// The fixture's seeded walks, for the scenario table.
struct Series : AddInTest {
  using AddInTest::Walk;
};

DialogReply Reply(std::vector<std::pair<int, Value>> set) {
  DialogReply reply;
  reply.set = std::move(set);
  return reply;
}

const std::string kData = Name("Book1.xls", "Data");

// Column A of a sheet from A1, n rows of a walk; the selection elsewhere
// unless given.
void OneColumn(std::size_t n, const std::string& sheetName = "Data",
               const std::string& selection = "E5") {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", sheetName);
  standin::SetColumn(sheet, "A1", Column(Series::Walk(n, 5)));
  standin::SetCell(sheet, "F3", std::string("keep"));
  standin::Select(sheet, selection);
}

// "Цена" (price): a sheet name the 4-series cannot carry as it is.
const std::string kPriceSheet = "\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0";

// Columns A to C of Data, correlated walks, rows 1 to n.
void ThreeColumns(std::size_t n) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  std::vector<double> base = Series::Walk(n, 21);
  for (int c = 0; c < 3; ++c) {
    std::vector<double> own = Series::Walk(n, 22 + c);
    for (std::size_t t = 0; t < n; ++t) {
      standin::SetCell(sheet, static_cast<int>(t), c,
                       std::round((base[t] * (1 + 0.3 * c) + own[t]) * 1000) / 1000);
    }
  }
  standin::SetCell(sheet, "J3", std::string("keep"));
  standin::Select(sheet, "I5");
}

// Close and Vol titles in A1:B1, data rows 2 to 61.
void TwoTitledColumns() {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "A1", std::string("Close"));
  standin::SetCell(sheet, "B1", std::string("Vol"));
  standin::SetColumn(sheet, "A2", Column(Series::Walk(60, 3)));
  standin::SetColumn(sheet, "B2", Column(Series::Walk(60, 4)));
  standin::SetCell(sheet, "Z3", std::string("keep"));
  standin::Select(sheet, "A2:B61");
}

Announced Columns(const std::string& sheet, int first, int last, int lastRow) {
  return Announced{{Area{sheet, 0, lastRow, first, last}}, {}};
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> all;
  const Announced klxOut = Columns(kData, 2, 2, 119);
  auto klx = [](std::string output) {
    return [output] {
      standin::QueueDialog(Reply({{2, std::string("A1:A120")}, {4, output}, {6, 10.0},
                                  {8, 1.0}, {12, 0.0}}));
    };
  };
  all.push_back({"KLX", "KLXWrapper", "KLX Aborted!", [] { OneColumn(120); }, klx("C1"),
                 klxOut});
  all.push_back({"PQE", "KLXWrapper", "KLX Aborted!", [] { OneColumn(120); },
                 [] {
                   standin::QueueDialog(Reply({{2, std::string("A1:A120")},
                                               {4, std::string("C1")}, {6, 10.0},
                                               {8, 2.0}}));
                 },
                 klxOut});
  // Output on another sheet: the person is asked for the label.
  all.push_back({"KLX label prompt", "KLXWrapper", "KLX Aborted!",
                 [] {
                   OneColumn(120);
                   standin::AddSheet("Book1.xls", "Out");
                 },
                 [klx] {
                   klx("Out!C1")();
                   standin::QueueInput(Value{std::string("Price")});
                 },
                 Columns(Name("Book1.xls", "Out"), 2, 2, 119)});
  // A sheet name typed without its quotes: the command quotes it itself.
  all.push_back({"KLX quoted sheet name", "KLXWrapper", "KLX Aborted!",
                 [] {
                   standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "My Data");
                   standin::SetColumn(sheet, "A1", Column(Series::Walk(120, 5)));
                   standin::Select(sheet, "E5");
                 },
                 [] {
                   standin::QueueDialog(Reply({{2, std::string("My Data!A1:A120")},
                                               {4, std::string("C1")}, {6, 10.0},
                                               {8, 1.0}, {12, 0.0}}));
                 },
                 Columns(Name("Book1.xls", "My Data"), 2, 2, 119)});
  all.push_back({"KLX cancelled", "KLXWrapper", "KLX Aborted!", [] { OneColumn(120); },
                 [] { standin::QueueDialog(Cancel()); }, klxOut, false});
  all.push_back({"KLX non-number", "KLXWrapper", "KLX Aborted!",
                 [] {
                   OneColumn(120);
                   standin::SetCell(standin::FindSheet("Book1.xls", "Data"), "A90",
                                    std::string("x"));
                 },
                 klx("C1"), klxOut, false});

  const Announced oneColumnOut = Columns(kData, 2, 2, 149);
  auto gtn = [](std::vector<std::pair<int, Value>> more) {
    return [more] {
      std::vector<std::pair<int, Value>> set = {{2, std::string("A1:A150")},
                                                {4, std::string("C1")}};
      set.insert(set.end(), more.begin(), more.end());
      standin::QueueDialog(Reply(set));
    };
  };
  all.push_back({"GTN", "GTN", "GTN Aborted!", [] { OneColumn(150); }, gtn({}), oneColumnOut});
  // Spans 24 and 48, one column each.
  all.push_back({"GTN two spans", "GTN", "GTN Aborted!", [] { OneColumn(150); },
                 gtn({{11, true}}), Columns(kData, 2, 3, 149)});
  all.push_back({"GTN cancelled", "GTN", "GTN Aborted!", [] { OneColumn(150); },
                 [] { standin::QueueDialog(Cancel()); }, oneColumnOut, false});

  auto spd = [] {
    standin::QueueDialog(Reply({{2, std::string("A1:A150")}, {4, std::string("C1")},
                                {6, 14.0}}));
  };
  all.push_back({"SPD", "SpdWrapper", "SPD_32.XLL Aborted!", [] { OneColumn(150); }, spd,
                 oneColumnOut});
  all.push_back({"SPD non-number", "SpdWrapper", "SPD_32.XLL Aborted!",
                 [] {
                   OneColumn(150);
                   standin::SetCell(standin::FindSheet("Book1.xls", "Data"), "A40",
                                    std::string("x"));
                 },
                 spd, oneColumnOut, false});

  // On a host of version 16, through the 12-series: the whole column
  // selected and offered in the dialog, on a sheet whose name is not ASCII.
  // Few rows: every poll and every allocation is walked on a fresh host.
  const Announced priceOut = Columns(Name("Book1.xls", kPriceSheet), 2, 2, 59);
  auto wholeColumn = [] { OneColumn(60, kPriceSheet, "A:A"); };
  all.push_back({"GTN on 16", "GTN", "GTN Aborted!", wholeColumn,
                 [] { standin::QueueDialog(Reply({{4, std::string("C1")}})); }, priceOut,
                 true, "16.0"});
  all.push_back({"SPD on 16", "SpdWrapper", "SPD_32.XLL Aborted!", wholeColumn,
                 [] {
                   standin::QueueDialog(Reply({{4, std::string("C1")}, {6, 14.0}}));
                 },
                 priceOut, true, "16.0"});

  // Three columns in A1:C40, output from E1: E..G, rows 1 to 42; the number
  // format goes on the whole output columns.
  Announced decorOut{{Area{kData, 0, 65535, 4, 6}}, {Name("Book1.xls", "Data.COF")}};
  auto decor = [](bool file) {
    return [file] {
      standin::QueueDialog(Reply({{2, std::string("A1:C40")}, {4, std::string("E1")},
                                  {6, 1.0}, {9, file}}));
    };
  };
  all.push_back({"decorrelator", "Decorel", "Decorrelator Aborted!", [] { ThreeColumns(40); },
                 decor(false), decorOut});
  all.push_back({"decorrelator cancelled", "Decorel", "Decorrelator Aborted!",
                 [] { ThreeColumns(40); }, [] { standin::QueueDialog(Cancel()); }, decorOut,
                 false});
  // On the big sheet through the 12-series: the three whole columns
  // selected, narrowed to their numbers. The output goes to a sheet of its
  // own, announced whole: its formats cover the big sheet's whole columns,
  // which would cost seconds to compare on every walk.
  all.push_back({"decorrelator 16.0", "Decorel", "Decorrelator Aborted!",
                 [] {
                   ThreeColumns(40);
                   standin::AddSheet("Book1.xls", "Out");
                   standin::Select(standin::FindSheet("Book1.xls", "Data"), "A:C");
                 },
                 [] {
                   standin::QueueDialog(
                       Reply({{4, std::string("Out!E1")}, {6, 1.0}, {9, false}}));
                 },
                 Announced{{}, {Name("Book1.xls", "Out"), Name("Book1.xls", "Data.COF")}},
                 true, "16.0"});

  // Standard blocks of the third sample entry beside the two columns.
  auto blk = [] {
    standin::QueueDialog(Reply({{4, std::string("A2:B61")}, {6, std::string("D1")},
                                {10, true}, {11, false}, {13, 1.0}}));
    standin::QueueDialog(Reply({{2, 3.0}}));
    standin::QueueAlert(true);  // the overwrite warning
  };
  Announced blkOut = Columns(kData, 3, 3 + 2 * 4, 61);
  all.push_back({"BLK", "BlokSamp_2", "BlokSamp 2 Aborted!", TwoTitledColumns, blk, blkOut});
  // On the big sheet through the 12-series: the two whole columns selected,
  // narrowed to their numbers.
  all.push_back({"BLK 16.0 whole columns", "BlokSamp_2", "BlokSamp 2 Aborted!",
                 [] {
                   TwoTitledColumns();
                   standin::Select(standin::FindSheet("Book1.xls", "Data"), "A:B");
                 },
                 [] {
                   standin::QueueDialog(Reply({{6, std::string("D1")}, {10, true},
                                               {11, false}, {13, 1.0}}));
                   standin::QueueDialog(Reply({{2, 3.0}}));
                   standin::QueueAlert(true);
                 },
                 blkOut, true, "16.0"});
  all.push_back({"BLK warning declined", "BlokSamp_2", "BlokSamp 2 Aborted!",
                 TwoTitledColumns,
                 [] {
                   standin::QueueDialog(Reply({{4, std::string("A2:B61")},
                                               {6, std::string("D1")}, {10, true},
                                               {11, false}, {13, 1.0}}));
                   standin::QueueDialog(Reply({{2, 3.0}}));
                   standin::QueueAlert(false);
                 },
                 blkOut, false});
  return all;
}

class CommandPromise : public AddInTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void SetUp() override {
    standin::Reset();
    Load();
  }
  // The add-in loaded into the scenario's host version.
  void Load() {
    if (!GetParam().hostVersion.empty()) standin::SetHostVersion(GetParam().hostVersion);
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  // A fresh host, the add-in loaded, the scenario's workbook.
  void Fresh() {
    standin::CloseAddIn();
    try {
      standin::Reset();
    } catch (const standin::HostError& e) {
      ADD_FAILURE() << GetParam().name << ": " << e.what();
      standin::ResetQuietly();
    }
    Load();
    GetParam().prepare();
  }

  // Runs the command once; the changes outside the announced ones.
  std::vector<std::string> RunOnce(const std::function<void()>& beforeRun, bool& completed) {
    const Scenario& s = GetParam();
    State before = Capture(s.announced);
    s.answer();
    beforeRun();
    try {
      EXPECT_EQ(standin::RunCommand(s.command), 1.0) << s.name;
    } catch (const std::exception& e) {
      ADD_FAILURE() << s.name << ": " << e.what() << "\n" << Transcript();
    }
    // An injected failure still to come: the run made fewer allocations.
    failurePending_ = standin::AllocationFailurePending();
    standin::FailAllocation(0);
    completed = !Said(s.abortMessage);
    EXPECT_TRUE(standin::Log().empty()) << s.name << "\n" << Transcript();
    return Unannounced(before, Capture(s.announced), s.announced, completed);
  }

  bool failurePending_ = false;
};

TEST_P(CommandPromise, OnlyTheAnnouncedChangesOnSuccessOrRefusal) {
  const Scenario& s = GetParam();
  Fresh();
  bool completed = false;
  std::vector<std::string> changes = RunOnce([] {}, completed);
  EXPECT_EQ(completed, s.succeeds) << Transcript();
  EXPECT_TRUE(changes.empty()) << ::testing::PrintToString(changes) << "\n" << Transcript();
}

TEST_P(CommandPromise, OnlyTheAnnouncedChangesOnEscAtEveryPoll) {
  const Scenario& s = GetParam();
  if (!s.succeeds) GTEST_SKIP() << "refused before any poll";
  int stops = 0;
  for (int k = 1; k < 5000; ++k) {
    Fresh();
    bool completed = false;
    std::vector<std::string> changes = RunOnce(
        [k] {
          standin::PressEscAfter(k);
          standin::QueueAlert(true);  // 'OK' to stop
        },
        completed);
    bool pressed = Said("Esc pressed");
    EXPECT_TRUE(changes.empty()) << "Esc at poll " << k << ": "
                                 << ::testing::PrintToString(changes) << "\n"
                                 << Transcript();
    if (!pressed) {  // past the last poll
      std::cout << s.name << ": " << k - 1 << " polls, " << stops << " stopped\n";
      break;
    }
    if (!completed) ++stops;
  }
  EXPECT_GE(stops, 1) << s.name << ": the break key was never polled";
}

TEST_P(CommandPromise, OnlyTheAnnouncedChangesOnAMemoryFailureAtEveryAllocation) {
  const Scenario& s = GetParam();
  int failures = 0, k = 1;
  for (; k < 20000; ++k) {
    Fresh();
    bool completed = false;
    std::vector<std::string> changes =
        RunOnce([k] { standin::FailAllocation(k); }, completed);
    if (failurePending_) break;  // past the last allocation
    EXPECT_TRUE(changes.empty()) << "allocation " << k << ": "
                                 << ::testing::PrintToString(changes) << "\n"
                                 << Transcript();
    if (!completed && s.succeeds) {
      ++failures;
      EXPECT_TRUE(Said("Insufficient memory")) << "allocation " << k << "\n" << Transcript();
    }
  }
  RecordProperty("allocations", k - 1);
  std::cout << s.name << ": " << k - 1 << " allocations, " << failures
            << " ended by a failure\n";
  if (s.succeeds) {
    EXPECT_GT(k, 1) << s.name;
  }
  if (s.succeeds) {
    EXPECT_GE(failures, 1) << s.name;
  }
}

// Opening the add-in with the k-th allocation failing, for every k: each
// tool's open hook lets go of what it had, and closing after a failed open
// is safe.
TEST(OpenHooks, AMemoryFailureAtEveryAllocationOfTheOpenLeavesNothingHeld) {
  int k = 1;
  for (; k < 2000; ++k) {
    standin::Reset();
    standin::FailAllocation(k);
    try {
      standin::LoadAddIn(HVT_ADDIN_PATH);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "allocation " << k << ": " << e.what();
    }
    bool past = standin::AllocationFailurePending();
    standin::FailAllocation(0);
    standin::CloseAddIn();
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << "allocation " << k << ": "
        << (accounting.problems.empty() ? std::string("leak") : accounting.problems.front());
    standin::ResetQuietly();
    if (past) break;
  }
  std::cout << "open: " << k - 1 << " allocations\n";
  EXPECT_GT(k, 5);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandPromise, ::testing::ValuesIn(Scenarios()),
                         CaseName());

}  // namespace
}  // namespace hvt::testing
