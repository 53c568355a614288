// The BLK command end to end: its dialogs answered from a script, every
// check's message, the block columns, titles, formats and live formulas it
// writes, stopping, memory failures, and the macro called directly.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "tests/addin/addin_fixture.h"
#include "tools/blk/core/blk.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

constexpr char kMenuItem[] = "BLK 2                       Alt,d,&w";

std::string Text(const Value& v) {
  return std::holds_alternative<std::string>(v) ? std::get<std::string>(v)
                                                : standin::Describe(v);
}

// A dialog definition cell: the table's text or a number the host answered.
double Entry(const Value& v) {
  if (std::holds_alternative<double>(v)) return std::get<double>(v);
  if (std::holds_alternative<std::string>(v)) return std::stod(std::get<std::string>(v));
  return NAN;
}

bool Blank(const Value& v) { return std::holds_alternative<standin::Blank>(v); }

std::string ColumnName(int column) {
  std::string name;
  for (int c = column + 1; c > 0; c = (c - 1) / 26) {
    name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
  }
  return name;
}

std::string Cell(int row, int column) {  // zero-based
  return ColumnName(column) + std::to_string(row + 1);
}

bool Saw(const std::string& fragment) {
  for (const std::string& line : standin::Transcript()) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

int CountSeen(const std::string& fragment) {
  int count = 0;
  for (const std::string& line : standin::Transcript()) {
    if (line.find(fragment) != std::string::npos) ++count;
  }
  return count;
}

// Settings of one command as the person enters them.
struct Entries {
  std::string titles = "";     // "" keeps the table's "R1:R1"
  // Typed in A1 notation, the notation the host reads reference texts in.
  std::string data = "A2:B101";  // "" keeps what the selection offered
  std::string output = "D1";
  bool standard = true;
  bool detrended = false;
  int normalization = 1;
  int index = 3;
};

class BlkCommandTest : public AddInTest {
 protected:
  // Close in A, Vol in B, rows 2 to 101; selection A2:B101.
  void SetUp() override {
    AddInTest::SetUp();
    sheet_ = standin::NewWorkbook("Book1.xls", "Data");
    close_ = Walk(100, 3);
    vol_ = Walk(100, 11);
    standin::SetCell(sheet_, "A1", std::string("Close"));
    standin::SetCell(sheet_, "B1", std::string("Vol"));
    standin::SetColumn(sheet_, "A2", {close_.begin(), close_.end()});
    standin::SetColumn(sheet_, "B2", {vol_.begin(), vol_.end()});
    standin::Select(sheet_, "A2:B101");
  }

  static DialogReply MainReply(const Entries& e) {
    DialogReply reply;
    if (!e.titles.empty()) reply.set.push_back({2, e.titles});
    if (!e.data.empty()) reply.set.push_back({4, e.data});
    reply.set.push_back({6, e.output});
    reply.set.push_back({10, e.standard});
    reply.set.push_back({11, e.detrended});
    reply.set.push_back({13, static_cast<double>(e.normalization)});
    return reply;
  }

  static DialogReply SampleReply(int index) {
    DialogReply reply;
    reply.set.push_back({2, static_cast<double>(index)});
    return reply;
  }

  // A whole accepted command: main dialog, sample dialog, warning OK.
  static void QueueAccepted(const Entries& e) {
    standin::QueueDialog(MainReply(e));
    standin::QueueDialog(SampleReply(e.index));
    standin::QueueAlert(true);
  }

  static double Run() { return standin::ChooseMenuItem("Data", kMenuItem); }

  // The core's column for data `x` and one plan entry.
  static std::vector<double> CoreColumn(const std::vector<double>& x, int index,
                                        const blk::BlkColumnLayout& layout,
                                        int normalization) {
    int u = blk::BlkBlankRows(index);
    std::vector<double> out(x.size() - static_cast<std::size_t>(u));
    CoreStatus status =
        layout.detrended
            ? blk::DetrendedBlock(x, u, layout.n, layout.m, normalization, out)
            : blk::StandardBlock(x, u, layout.n, layout.m, out);
    EXPECT_EQ(status, CoreStatus::kComplete);
    return out;
  }

  // Checks every written column against the core, bit for bit, plus the
  // blank rows, the titles and the formula row after recalculation.
  void ExpectColumns(int index, int method, int normalization, int outFirst,
                     int firstRow = 1, int lastRow = 100) {
    std::vector<const std::vector<double>*> data = {&close_, &vol_};
    const char* titles[] = {"Close", "Vol"};
    std::vector<blk::BlkColumnLayout> plan =
        blk::BlkOutputPlan(2, {index, method, normalization});
    ASSERT_FALSE(plan.empty());
    int u = blk::BlkBlankRows(index);
    standin::Recalculate();
    for (std::size_t j = 0; j < plan.size(); ++j) {
      const blk::BlkColumnLayout& layout = plan[j];
      int column = outFirst + static_cast<int>(j);
      SCOPED_TRACE("output column " + ColumnName(column));
      EXPECT_EQ(Text(standin::GetCell(sheet_, 0, column)),
                std::string(titles[layout.dataColumn]) + layout.suffix);
      std::vector<double> expected =
          CoreColumn(*data[static_cast<std::size_t>(layout.dataColumn)],
                     index, layout, normalization);
      for (int r = firstRow; r < firstRow + u; ++r) {
        EXPECT_TRUE(Blank(standin::GetCell(sheet_, r, column))) << r;
      }
      for (int r = firstRow + u; r < lastRow; ++r) {
        ASSERT_EQ(Number(standin::GetCell(sheet_, r, column)),
                  expected[static_cast<std::size_t>(r - firstRow - u)])
            << "row " << r;
      }
      EXPECT_EQ(standin::GetFormat(sheet_, Cell(firstRow, column)).number_format,
                "0.00000");
      EXPECT_EQ(standin::GetFormat(sheet_, Cell(lastRow, column)).number_format,
                "0.00000");
      EXPECT_FALSE(standin::GetFormula(sheet_, Cell(lastRow, column)).empty());
      standin::Format title = standin::GetFormat(sheet_, Cell(0, column));
      EXPECT_TRUE(title.bold);
      EXPECT_EQ(title.alignment, 3);
      // The live formula computes the same block in its own order. (The
      // stand-in's engine has no ABS, so normalized formulas are read in
      // NormalizedBlocksEndInArrayFormulas instead.)
      if (layout.detrended && normalization == 1) continue;
      double last = expected.back();
      EXPECT_NEAR(Number(standin::GetCell(sheet_, lastRow, column)), last,
                  1e-9 * std::max(1.0, std::fabs(last)));
    }
  }

  standin::SheetId sheet_ = 0;
  std::vector<double> close_, vol_;
};

TEST_F(BlkCommandTest, MenuItemAndRegistrations) {
  std::vector<standin::MenuItem> items = standin::MenuItems(10, "Data");
  auto item = std::find_if(items.begin(), items.end(), [](const auto& i) {
    return i.text == kMenuItem;
  });
  ASSERT_NE(item, items.end());
  EXPECT_EQ(item->macro, "BlokSamp_2");
  EXPECT_EQ(item->status, "BlokSamp 2");
  ASSERT_NE(item, items.begin());
  EXPECT_EQ(std::prev(item)->text, "-");
  int found = 0;
  for (const standin::Registration& r : standin::Registrations()) {
    if (r.function_text == "BlokSamp_2") {
      ++found;
      EXPECT_EQ(r.procedure, "BlokWrapper");
      EXPECT_EQ(r.type_text, "J");
      EXPECT_EQ(r.shortcut, "w");
      EXPECT_EQ(r.category, "HVT");
    }
    if (r.function_text == "BlokMacro") {
      ++found;
      EXPECT_EQ(r.procedure, "Blok");
      EXPECT_EQ(r.type_text, "JRRRJJJ");
      EXPECT_EQ(r.argument_text, "DataRef,OutputRef,TitRef,MNIndex,PChoice,NormOrDet");
    }
  }
  EXPECT_EQ(found, 2);
}

TEST_F(BlkCommandTest, StandardBlocksBesideTheData) {
  QueueAccepted(Entries{});
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(standin::UnusedAnswers(), 0);
  // Lagged copies: D5 is A4, and the titles read Close_1 ... Vol_3.
  const char* titles[] = {"Close_1", "Close_2", "Close_3", "Vol_1", "Vol_2", "Vol_3"};
  for (int j = 0; j < 6; ++j) {
    EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 3 + j)), titles[j]);
  }
  EXPECT_EQ(Number(standin::GetCell(sheet_, "D5")), close_[2]);
  EXPECT_EQ(Number(standin::GetCell(sheet_, "G5")), vol_[2]);
  for (int j = 0; j < 6; ++j) EXPECT_TRUE(Blank(standin::GetCell(sheet_, 1, 3 + j)));
  // The last row: a formula with a relative row, equal to A100.
  EXPECT_EQ(standin::GetFormula(sheet_, "D101"), "=$A100");
  EXPECT_EQ(standin::GetFormula(sheet_, "F101"), "=$A98");
  ExpectColumns(3, 1, 2, 3);
  // The first value is selected, and the frame put everything back.
  EXPECT_EQ(standin::ActiveCell(), "D5");
  EXPECT_TRUE(Saw("The range [Book1.xls]Data!$D$1:$I$101 will be overwritten. The first 3 "
                  "rows of your output will be blank. \"OK\" continues. \"CANCEL\" aborts."));
  EXPECT_FALSE(Saw("Aborted"));
}

TEST_F(BlkCommandTest, DetrendedOnlyStartsBelowTheTrendWindow) {
  Entries e;
  e.standard = false;
  e.detrended = true;
  e.normalization = 2;
  e.index = 10;
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  const char* titles[] = {"Close_D0", "Close_D1", "Close_D2", "Close_D3",
                          "Close_D4", "Close_D5", "Close_D7", "Close_D10",
                          "Close_D14", "Close_D19", "Close_D26"};
  for (int j = 0; j < 11; ++j) {
    EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 3 + j)), titles[j]);
  }
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 3 + 11)), "Vol_D0");
  // Row 2 + 30 = 32 holds the first value; the entry-0 column there is the
  // row's value minus the mean of the 31 rows up to it.
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "D31")));
  double mean = 0;
  for (int i = 0; i <= 30; ++i) mean += close_[static_cast<std::size_t>(i)];
  mean /= 31;
  EXPECT_NEAR(Number(standin::GetCell(sheet_, "D32")), close_[30] - mean, 1e-9);
  EXPECT_EQ(standin::GetFormula(sheet_, "D101"),
            "=($A101-AVERAGE($A71:$A101))");
  ExpectColumns(10, 3, 2, 3);
  EXPECT_EQ(standin::ActiveCell(), "D32");
}

TEST_F(BlkCommandTest, NormalizedBlocksEndInArrayFormulas) {
  Entries e;
  e.detrended = true;
  e.normalization = 1;
  e.index = 12;
  e.output = "E1";
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  // Method 2 at index 12: 12 standard and 13 detrended columns per column.
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 4 + 11)), "Close_48");
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 4 + 12)), "Close_ND0");
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 4 + 24)), "Close_ND48");
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 4 + 25)), "Vol_1");
  std::string formula = standin::GetFormula(sheet_, Cell(100, 4 + 24));
  EXPECT_NE(formula.find("/(AVERAGE(ABS("), std::string::npos) << formula;
  EXPECT_TRUE(formula.ends_with(")))+1E-300)}")) << formula;
  EXPECT_EQ(formula.front(), '{') << formula;  // an array formula
  // The host calculates it: a deviation in units of the trend's mean
  // absolute deviation.
  standin::Value shown = standin::GetCell(sheet_, Cell(100, 4 + 24));
  ASSERT_TRUE(std::holds_alternative<double>(shown)) << standin::Describe(shown);
  EXPECT_TRUE(std::isfinite(std::get<double>(shown)));
  EXPECT_LT(std::fabs(std::get<double>(shown)), 100.0);
  ExpectColumns(12, 2, 1, 4);
}

TEST_F(BlkCommandTest, OutputOnAnotherSheetKeepsTheDataSheetInFormulas) {
  standin::SheetId out = standin::AddSheet("Book1.xls", "Out");
  Entries e;
  e.data = "Data!A2:B101";
  e.output = "Out!B1";
  e.index = 7;
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Text(standin::GetCell(out, "B1")), "Close_1");
  std::string formula = standin::GetFormula(out, "H101");  // entry 7: n 10, M 2
  EXPECT_NE(formula.find("Data!"), std::string::npos) << formula;
  standin::Recalculate();
  double expected = (close_[88] + close_[89] + close_[90]) / 3;
  EXPECT_NEAR(Number(standin::GetCell(out, "H101")), expected, 1e-9);
  // The data's own sheet is untouched beyond its columns.
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "C50")));
}

TEST_F(BlkCommandTest, HeightFollowsTheDetrendedBox) {
  DialogReply tick = MainReply(Entries{});
  tick.set.push_back({11, true});
  tick.press = 11;
  standin::QueueDialog(tick);
  DialogReply untick;
  untick.set.push_back({11, false});
  untick.press = 11;
  standin::QueueDialog(untick);
  standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});
  EXPECT_EQ(Run(), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(Text(shown[0].definition.at(0, 4)), "270");
  EXPECT_EQ(Text(shown[1].definition.at(0, 4)), "350");
  EXPECT_EQ(Text(shown[2].definition.at(0, 4)), "270");
  EXPECT_TRUE(Saw("BlokSamp 2 Aborted!"));
}

TEST_F(BlkCommandTest, SampleDialogDimsWhatDetrendingRulesOut) {
  struct Case {
    bool detrended;
    int normalization;
    int dimmed;
    int preselected;
  } cases[] = {{false, 1, 0, 6}, {true, 2, 9, 10}, {true, 1, 11, 12}};
  for (const Case& c : cases) {
    standin::ClearTranscript();
    Entries e;
    e.detrended = c.detrended;
    e.normalization = c.normalization;
    standin::QueueDialog(MainReply(e));
    standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});
    EXPECT_EQ(Run(), 1);
    std::vector<standin::DialogShowing> shown = standin::Showings();
    ASSERT_EQ(shown.size(), 2u);
    const standin::Grid& sample = shown[1].definition;
    EXPECT_EQ(shown[1].title, "Block Preprossessing");
    EXPECT_EQ(Entry(sample.at(2, 6)), c.preselected);
    for (int k = 1; k <= 18; ++k) {
      double type = Entry(sample.at(2 + k, 0));
      EXPECT_EQ(type, k <= c.dimmed ? 212 : 12) << "option " << k;
    }
    EXPECT_EQ(Text(sample.at(3, 5)), "n=1,    M=0");
    EXPECT_EQ(Text(sample.at(20, 5)), "n=334, M=128");
  }
}

TEST_F(BlkCommandTest, PreviousIndexIsOfferedAgain) {
  Entries e;
  e.index = 9;
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  standin::ClearTranscript();
  standin::QueueDialog(MainReply(Entries{}));
  standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});
  EXPECT_EQ(Run(), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Entry(shown[1].definition.at(2, 6)), 9);
}

TEST_F(BlkCommandTest, CorrectedEntriesAfterAnAlertRun) {
  Entries wrong;
  wrong.standard = false;
  standin::QueueDialog(MainReply(wrong));
  standin::QueueDialog(DialogReply{});  // ALERT! OK: back to the dialog
  QueueAccepted(Entries{});
  EXPECT_EQ(Run(), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_GE(shown.size(), 3u);
  // The dialog came back from the remembered answer, focused on item 10.
  EXPECT_EQ(Entry(shown[2].definition.at(0, 6)), 10);
  EXPECT_EQ(Text(standin::GetCell(sheet_, "D1")), "Close_1");
}

TEST_F(BlkCommandTest, TooGreatForTheData) {
  // 40 data rows and n=35, M=8 need 41.
  Entries e;
  e.data = "A2:B41";
  e.index = 11;
  standin::QueueDialog(MainReply(e));
  standin::QueueDialog(SampleReply(11));
  standin::QueueAlert(true);  // OK: choose again
  standin::QueueDialog(SampleReply(3));
  standin::QueueAlert(true);  // the overwrite warning
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("alert 1 \"Your choice of \"n\" and \"m\" values is too great for "
                  "your data set. Select smaller \"n\" and \"m\" values.\" -> OK"));
  EXPECT_EQ(Text(standin::GetCell(sheet_, "F1")), "Close_3");
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "G1")) == false);

  standin::ClearTranscript();
  standin::QueueDialog(MainReply(e));
  standin::QueueDialog(SampleReply(11));
  standin::QueueAlert(false);  // Cancel ends
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("BlokSamp 2 Aborted!"));
}

TEST_F(BlkCommandTest, TooManyOutputColumns) {
  // Output from column 250, 2 data columns, method 2 at index 6: 26 columns.
  Entries e;
  e.detrended = true;
  e.normalization = 2;
  e.output = Cell(0, 250);
  standin::QueueDialog(MainReply(e));
  standin::QueueDialog(SampleReply(10));
  standin::QueueAlert(false);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("will produce too many output columns"));
  EXPECT_TRUE(Saw("BlokSamp 2 Aborted!"));
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, 0, 250)));
}

TEST_F(BlkCommandTest, OutputMayNotOverlapTheInput) {
  // Data in C and D, output from B; and output wholly inside wide data.
  for (int c = 0; c < 4; ++c) {
    standin::SetCell(sheet_, 0, 2 + c, std::string("T") + std::to_string(c));
    for (int r = 1; r <= 100; ++r) standin::SetCell(sheet_, r, 2 + c, r * 1.0 + c);
  }
  struct Case {
    const char* data;
    const char* output;
  } cases[] = {{"C2:D101", "B1"}, {"C2:F101", "D1"}, {"C2:D101", "D1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    standin::ClearTranscript();
    Entries e;
    e.data = c.data;
    e.output = c.output;
    e.index = 1;
    standin::QueueDialog(MainReply(e));
    standin::QueueDialog(SampleReply(1));
    standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});  // main dialog again
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(Saw("alert 3 \"Your output will overwrite your input. This is not "
                    "allowed.\""));
    std::vector<standin::DialogShowing> shown = standin::Showings();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].title, "BlokSamp 2");
    EXPECT_EQ(Entry(shown[2].definition.at(0, 6)), 6);
    EXPECT_EQ(Number(standin::GetCell(sheet_, "D50")), 49 + 1);
  }
  // The same columns on another sheet are fine.
  standin::SheetId other = standin::AddSheet("Book1.xls", "Other");
  Entries e;
  e.data = "C2:D101";
  e.output = "Other!B1";
  e.index = 1;
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Text(standin::GetCell(other, "B1")), "T0_1");
}

TEST_F(BlkCommandTest, CancelAtEveryStep) {
  standin::SetCell(sheet_, "D1", std::string("keep"));
  standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});
  EXPECT_EQ(Run(), 1);
  standin::QueueDialog(MainReply(Entries{}));
  standin::QueueDialog(DialogReply{.cancel = true, .set = {}, .press = 0});
  EXPECT_EQ(Run(), 1);
  standin::QueueDialog(MainReply(Entries{}));
  standin::QueueDialog(SampleReply(3));
  standin::QueueAlert(false);  // the overwrite warning
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(CountSeen("BlokSamp 2 Aborted!"), 3);
  EXPECT_EQ(Text(standin::GetCell(sheet_, "D1")), "keep");
  EXPECT_EQ(standin::Selection(), "A2:B101");
  EXPECT_EQ(standin::CalculationMode(), 1);
}

TEST_F(BlkCommandTest, BreakKeyStopsBetweenWholeColumns) {
  // OK to the question: three whole columns, with formulas, and no more.
  standin::PressEscAfter(3);
  standin::QueueDialog(MainReply(Entries{}));
  standin::QueueDialog(SampleReply(3));
  standin::QueueAlert(true);
  standin::QueueAlert(true);  // 'OK' to stop
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("BlokSamp 2 Aborted!"));
  for (int j = 0; j < 3; ++j) {
    EXPECT_FALSE(standin::GetFormula(sheet_, Cell(100, 3 + j)).empty()) << j;
    EXPECT_FALSE(Blank(standin::GetCell(sheet_, 0, 3 + j)));
  }
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "G1")));
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "G50")));
  EXPECT_EQ(standin::StatusText(), "");
}

TEST_F(BlkCommandTest, BreakKeyDeclinedRunsToTheEnd) {
  standin::PressEscAfter(2);
  QueueAccepted(Entries{});
  standin::QueueAlert(false);
  EXPECT_EQ(Run(), 1);
  EXPECT_FALSE(Saw("BlokSamp 2 Aborted!"));
  ExpectColumns(3, 1, 2, 3);
}

TEST_F(BlkCommandTest, NonNumberInTheData) {
  standin::SetCell(sheet_, "B60", std::string("n/a"));
  QueueAccepted(Entries{});
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("alert 3 \"Your data set contains a non-number!\""));
  EXPECT_TRUE(Saw("BlokSamp 2 Aborted!"));
  // The Close columns were written before Vol was read.
  EXPECT_EQ(Text(standin::GetCell(sheet_, "F1")), "Close_3");
  EXPECT_TRUE(Blank(standin::GetCell(sheet_, "G1")));
}

// Titles below the data: the warning names rows 2 to 110, from the data's
// first row to the titles row, and nothing outside them changes.
TEST_F(BlkCommandTest, TheWarningNamesEveryRowTheCommandTouches) {
  standin::SetCell(sheet_, "A110", std::string("Price"));
  standin::SetCell(sheet_, "B110", std::string("Volume"));
  standin::SetCell(sheet_, "E1", std::string("above"));
  standin::SetCell(sheet_, "D111", std::string("below"));
  const int columns = static_cast<int>(blk::BlkOutputPlan(2, {3, 1, 1}).size());
  std::vector<standin::CellState> before = standin::SheetContents(sheet_);
  Entries e;
  e.titles = "A110:B110";
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  ASSERT_FALSE(Saw("Aborted"));
  const std::string named = "$D$2:$" + ColumnName(3 + columns - 1) + "$110";
  EXPECT_TRUE(Saw("The range " + named + " will be overwritten.") ||
              Saw("!" + named + " will be overwritten."))
      << named;
  std::map<std::pair<int, int>, std::string> was;
  for (const standin::CellState& c : before) was[{c.row, c.column}] = c.text;
  for (const standin::CellState& c : standin::SheetContents(sheet_)) {
    if (was.count({c.row, c.column}) && was[{c.row, c.column}] == c.text) continue;
    EXPECT_TRUE(c.row <= 109 && c.column >= 3 && c.column < 3 + columns)
        << "row " << c.row << " column " << c.column << ": " << c.text;
  }
  EXPECT_EQ(Text(standin::GetCell(sheet_, "E1")), "above");
  EXPECT_EQ(Text(standin::GetCell(sheet_, "D111")), "below");
  EXPECT_EQ(Text(standin::GetCell(sheet_, "D110")), "Price_1");
}

// The block formulas of a long book and sheet name detrended and normalised
// do not fit the host's 255 characters: the person is told.
TEST_F(BlkCommandTest, AFormulaTooLongToEnterIsReported) {
  const std::string book(60, 'b');
  standin::SheetId data = standin::NewWorkbook(book + ".xls", std::string(31, 's'));
  standin::SetCell(data, "A1", std::string("Close"));
  standin::SetColumn(data, "A2", {close_.begin(), close_.end()});
  standin::SheetId out = standin::AddSheet(book + ".xls", "Out");
  standin::Select(data, "A2:A101");
  Entries e;
  e.data = "A2:A101";
  e.output = "Out!B1";
  e.detrended = true;
  e.normalization = 1;
  e.index = 12;
  QueueAccepted(e);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("Your block formula would be too long! Its last row keeps the computed "
                  "value."));
  // The standard columns' short formulas are still entered.
  EXPECT_FALSE(standin::GetFormula(out, "B101").empty());
}

TEST_F(BlkCommandTest, MemoryFailureAtEveryAllocationLeavesTheSheet) {
  standin::SetCell(sheet_, "D1", std::string("keep"));
  standin::SetCell(sheet_, "E3", 42.0);
  // What is held between commands (dialog arrays, remembered answers),
  // after a command cancelled at its last question.
  standin::QueueDialog(MainReply(Entries{}));
  standin::QueueDialog(SampleReply(3));
  standin::QueueAlert(false);
  EXPECT_EQ(Run(), 1);
  const standin::Accounting held = standin::GetAccounting();
  bool completed = false;
  for (int k = 1; k < 40 && !completed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    standin::ClearTranscript();
    QueueAccepted(Entries{});
    standin::FailAllocation(k);
    EXPECT_EQ(Run(), 1);
    standin::FailAllocation(0);
    if (!Saw("BlokSamp 2 Aborted!")) {
      completed = true;
      break;
    }
    EXPECT_TRUE(Saw("Insufficient memory!"));
    EXPECT_EQ(Text(standin::GetCell(sheet_, "D1")), "keep");
    EXPECT_EQ(Number(standin::GetCell(sheet_, "E3")), 42.0);
    EXPECT_TRUE(Blank(standin::GetCell(sheet_, "D50")));
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_EQ(accounting.outstanding_values, held.outstanding_values);
    // A dialog's answer that found no memory for its copy is not
    // remembered (the selection had already replaced the one before it);
    // nothing beyond what was held may be left.
    EXPECT_LE(accounting.global_blocks, held.global_blocks);
    EXPECT_GE(accounting.global_blocks, held.global_blocks - 2);
    EXPECT_EQ(accounting.bad_global_frees, 0);
    // The failures here all come before the last answer: the overwrite
    // warning's. Anything later would have shown up as written cells.
    ASSERT_LE(standin::UnusedAnswers(), 2);
    if (standin::UnusedAnswers() == 2) {
      // The main dialog's answer found no memory for its copy: the sample
      // dialog and the warning were never reached. Their answers are taken
      // here, so that the next run starts with its own.
      XLOPER cells[14]{};
      for (XLOPER& cell : cells) cell.xltype = xltypeNil;
      char button[] = "\x01" "1", question[] = "\x01" "?";
      cells[7].xltype = xltypeStr;
      cells[7].val.str = button;
      XLOPER definition{}, answer{}, text{}, type{};
      definition.xltype = xltypeMulti;
      definition.val.array.lparray = cells;
      definition.val.array.rows = 2;
      definition.val.array.columns = 7;
      ASSERT_EQ(Excel4(xlfDialogBox, &answer, 1, &definition), xlretSuccess);
      Excel4(xlFree, nullptr, 1, &answer);
      text.xltype = xltypeStr;
      text.val.str = question;
      type.xltype = xltypeNum;
      type.val.num = 1;
      ASSERT_EQ(Excel4(xlcAlert, &answer, 2, &text, &type), xlretSuccess);
      ASSERT_EQ(standin::UnusedAnswers(), 0);
    }
    if (standin::UnusedAnswers() == 1) {
      // A direct call asking the "too great" question takes the answer and,
      // with too few rows for one value, writes nothing.
      auto blok = Procedure<int (*)(LPXLOPER, LPXLOPER, LPXLOPER, int, int, int)>("Blok");
      ASSERT_NE(blok, nullptr);
      XLMREF d{1, {{1, 20, 0, 0}}}, o{1, {{0, 0, 9, 9}}}, t{1, {{0, 0, 0, 0}}};
      XLOPER dv{}, ov{}, tv{};
      for (auto [v, m] : {std::pair{&dv, &d}, {&ov, &o}, {&tv, &t}}) {
        v->xltype = xltypeRef;
        v->val.mref.lpmref = m;
        v->val.mref.idSheet = sheet_;
      }
      EXPECT_EQ(blok(&dv, &ov, &tv, 18, 1, 1), 0);
      EXPECT_EQ(standin::UnusedAnswers(), 0);
      EXPECT_TRUE(Blank(standin::GetCell(sheet_, "J1")));
    }
    standin::ClearLog();
  }
  EXPECT_TRUE(completed);
  ExpectColumns(3, 1, 2, 3);
}

// The macro called directly with references, as a macro sheet would.
using BlokProc = int (*)(LPXLOPER, LPXLOPER, LPXLOPER, int, int, int);

class BlkMacroTest : public BlkCommandTest {
 protected:
  void SetUp() override {
    BlkCommandTest::SetUp();
    blok_ = Procedure<BlokProc>("Blok");
    ASSERT_NE(blok_, nullptr);
  }

  using Reference = MacroRef;

  int Call(int index, int method, int normalization, int outFirst = 3) {
    Reference data(sheet_, 1, 100, 0, 1), output(sheet_, 0, 0, outFirst, outFirst),
        titles(sheet_, 0, 0, 0, 1);
    return blok_(&data.value, &output.value, &titles.value, index, method,
                 normalization);
  }

  BlokProc blok_ = nullptr;
};

// Titles are read from the titles reference's own columns, the ones its
// check tested, wherever they lie.
TEST_F(BlkMacroTest, TitlesComeFromTheTitlesOwnColumns) {
  standin::SetCell(sheet_, "X1", std::string("Price"));
  standin::SetCell(sheet_, "Y1", std::string("Volume"));
  Reference data(sheet_, 1, 100, 0, 1), output(sheet_, 0, 0, 3, 3),
      titles(sheet_, 0, 0, 23, 24);
  EXPECT_EQ(blok_(&data.value, &output.value, &titles.value, 3, 1, 1), 1);
  std::vector<blk::BlkColumnLayout> plan = blk::BlkOutputPlan(2, {3, 1, 1});
  ASSERT_FALSE(plan.empty());
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 3)), "Price" + plan.front().suffix);
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 3 + static_cast<int>(plan.size()) - 1)),
            "Volume" + plan.back().suffix);
}

TEST_F(BlkMacroTest, WritesTheSameColumnsAsTheCommand) {
  EXPECT_EQ(Call(12, 2, 1), 1);
  ExpectColumns(12, 2, 1, 3);
}

TEST_F(BlkMacroTest, TooManyColumnsAcceptedStopsAtTheLastColumn) {
  standin::QueueAlert(true);
  EXPECT_EQ(Call(6, 1, 1, 250), 1);
  // Twelve columns would reach 261: the six that fit are written.
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 255)), "Close_7");  // entry 6: n = 7
  EXPECT_EQ(Text(standin::GetCell(sheet_, 0, 250)), "Close_1");
}

}  // namespace
}  // namespace hvt::testing
