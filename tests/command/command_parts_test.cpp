// The shared command parts against the stand-in: the band reader and writer
// (row order, bands, a refused band), the host value guard, the checker in
// both of its walks, and the run observer's progress policies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/bands.h"
#include "command/checks.h"
#include "command/run_observer.h"
#include "host/host_values.h"
#include "host/texts.h"
#include "standin/standin.h"

namespace hvt {
namespace {

class CommandParts : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    g_menuBar = 0;
    g_maxRows = 0;
    g_hostVersion = 0;
  }
  void TearDown() override {
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "" : accounting.problems.front());
    standin::ResetQuietly();
  }
  static int Seen(const std::string& prefix) {
    int count = 0;
    for (const std::string& line : standin::Transcript())
      if (line.rfind(prefix, 0) == 0) ++count;
    return count;
  }
};

// The one-area reference to rows/columns (0-based, inclusive) of a sheet.
struct Area {
  XLMREF table;
  XLOPER value;
  Area(standin::SheetId sheet, long firstRow, long lastRow, long firstColumn,
       long lastColumn)
      : value(AreaRef(table, sheet, MakeArea(firstRow, lastRow, firstColumn, lastColumn))) {}
};

TEST_F(CommandParts, ReaderTakesEveryCellRowByRowAcrossBands) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  // 3 columns x 4,000 rows: bands of 1,800 rows, the last one short.
  const long rows = 4000;
  for (long r = 0; r < rows; ++r)
    for (int c = 0; c < 3; ++c) standin::SetCell(sheet, 1 + r, c, standin::Value{r * 10.0 + c});
  Area area(sheet, 1, rows, 0, 2);  // sheet rows 2..4001, columns A..C
  std::vector<double> values(rows * 3, -1);
  ASSERT_TRUE(ReadNumbers(area.value, values.data(), values.size()));
  for (long r = 0; r < rows; ++r)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(values[r * 3 + c], r * 10.0 + c) << r << "," << c;

  // A count other than the area's cells, too few or too many, is refused.
  EXPECT_FALSE(ReadNumbers(area.value, values.data(), values.size() - 1));
  std::vector<double> more(rows * 3 + 1);
  EXPECT_FALSE(ReadNumbers(area.value, more.data(), more.size()));

  // One cell is a band of one.
  Area one(sheet, 1, 1, 1, 1);
  double cell = 0;
  ASSERT_TRUE(ReadNumbers(one.value, &cell, 1));
  EXPECT_EQ(cell, 1.0);
  EXPECT_EQ(Seen("alert"), 0);
}

TEST_F(CommandParts, ReaderRefusesTextBlanksAndErrorsInAnyBand) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  const long rows = 12000;  // three bands of one column
  for (long r = 0; r < rows; ++r) standin::SetCell(sheet, r, 0, standin::Value{double(r + 1)});
  Area column(sheet, 0, rows - 1, 0, 0);
  std::vector<double> values(rows);
  for (standin::Value odd : {standin::Value{std::string("x")}, standin::Value{},
                             standin::Value{standin::Error{xlerrDiv0}}}) {
    for (long row : {0L, 5400L, 11999L}) {
      standin::SetCell(sheet, row, 0, odd);
      standin::ClearTranscript();
      EXPECT_FALSE(ReadDataColumn(column.value, values.data(), values.size())) << row;
      EXPECT_EQ(Seen("alert 3 \"Your data set contains a non-number!\""), 1) << row;
      standin::SetCell(sheet, row, 0, standin::Value{double(row + 1)});
    }
  }
  standin::ClearTranscript();
  EXPECT_TRUE(ReadDataColumn(column.value, values.data(), values.size()));
  EXPECT_EQ(values.back(), 12000.0);
  EXPECT_EQ(Seen("alert"), 0);
}

TEST_F(CommandParts, WriterFillsTheAreaInBandsAndStopsAtARefusedBand) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  const long rows = 12000;
  std::vector<double> values(rows);
  for (long r = 0; r < rows; ++r) values[r] = 0.5 * r;
  std::vector<XLOPER> scratch(BandCells());
  ASSERT_TRUE(WriteNumbers(sheet, MakeArea(0, rows - 1, 3, 3), values.data(), scratch.data()));
  EXPECT_EQ(standin::GetCell(sheet, 0, 3), standin::Value{0.0});
  EXPECT_EQ(standin::GetCell(sheet, 5400, 3), standin::Value{2700.0});
  EXPECT_EQ(standin::GetCell(sheet, 11999, 3), standin::Value{5999.5});

  // Two columns, row by row.
  const double pairs[] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(WriteNumbers(sheet, MakeArea(0, 2, 6, 7), pairs, scratch.data()));
  EXPECT_EQ(standin::GetCell(sheet, 1, 7), standin::Value{4.0});
  EXPECT_EQ(standin::GetCell(sheet, 2, 6), standin::Value{5.0});

  // A protected sheet whose first band's cells are unlocked: the first band
  // is written, the second refused, and nothing after it is tried.
  standin::SheetId other = standin::AddSheet("Book1.xls", "Locked");
  standin::Activate(other);
  Area firstBand(other, 0, 5399, 0, 0);
  Excel4(xlcSelect, nullptr, 1, &firstBand.value);
  CallExcel(xlcCellProtection, nullptr, 1, TempBoolean(0));
  standin::ProtectSheet(other, true);
  EXPECT_FALSE(WriteNumbers(other, MakeArea(0, rows - 1, 0, 0), values.data(), scratch.data()));
  EXPECT_EQ(standin::GetCell(other, 5399, 0), standin::Value{2699.5});
  EXPECT_EQ(standin::GetCell(other, 5400, 0), standin::Value{});
  EXPECT_EQ(standin::GetCell(other, 11999, 0), standin::Value{});
}

// "xlCoerce" and "xlSet" through Excel12 on a version-16 host: a whole
// column of the big sheet is read and written band by band.
TEST_F(CommandParts, BandsCoverAWholeColumnOfTheBigSheet) {
  standin::SetHostVersion("16.0");
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  const long rows = kXl12MaxRows;
  std::vector<standin::Value> column(rows);
  for (long r = 0; r < rows; ++r) column[r] = standin::Value{0.25 * r - 7};
  standin::SetColumn(sheet, "A1", column);
  XLMREF12 table{1, {{0, rows - 1, 0, 0}}};
  XLOPER12 whole{};
  whole.xltype = xltypeRef;
  whole.val.mref.lpmref = &table;
  whole.val.mref.idSheet = sheet;

  std::vector<double> values(rows, -1);
  ASSERT_TRUE(ReadNumbers(whole, values.data(), values.size()));
  for (long r = 0; r < rows; ++r) ASSERT_EQ(values[r], 0.25 * r - 7) << r;
  EXPECT_FALSE(ReadNumbers(whole, values.data(), values.size() - 1));

  std::vector<XLOPER12> scratch(BandCells());
  ASSERT_TRUE(WriteNumbers(sheet, XLREF12{0, rows - 1, 2, 2}, values.data(), scratch.data()));
  for (long r : {0L, 5399L, 5400L, 65535L, 65536L, rows - 1})
    EXPECT_EQ(standin::GetCell(sheet, r, 2), standin::Value{0.25 * r - 7}) << r;

  // A non-number past the old sheet's last row fails the read.
  standin::SetCell(sheet, 700000, 0, standin::Value{std::string("x")});
  EXPECT_FALSE(ReadNumbers(whole, values.data(), values.size()));
  EXPECT_EQ(Seen("alert"), 0);
}

TEST_F(CommandParts, HostValueIsGivenBackOnceAndOnlyWhenFilled) {
  standin::NewWorkbook("Book1.xls", "Data");
  {
    HostValue name;
    ASSERT_EQ(name.Call(xlfGetDocument, TempNumber(1)), xlretSuccess);
    ASSERT_NE(name.text(), nullptr);
    EXPECT_NE(name.text()[0], 0);
    name.Release();
    EXPECT_FALSE(name.filled());
    name.Release();  // harmless
    // A refused call leaves nothing to give back.
    EXPECT_NE(name.Call(xlfGetDocument, TempNumber(1), nullptr), xlretSuccess);
    EXPECT_FALSE(name.filled());
    EXPECT_EQ(name.type(), WORD{xltypeNil});
    // Asking again gives the first answer back before taking the second.
    ASSERT_EQ(name.Call(xlfGetDocument, TempNumber(1)), xlretSuccess);
    ASSERT_EQ(name.Call(xlfGetDocument, TempNumber(1)), xlretSuccess);
  }  // the guard gives the last answer back
  XLOPER answer;
  ASSERT_EQ(Excel4(xlfGetDocument, &answer, 1, TempNumber(1)), xlretSuccess);
  ReleaseHostValue(answer);
  EXPECT_EQ(BaseType(answer), WORD{xltypeNil});
}

struct Walk {
  std::vector<int> asked;
  bool pass[3] = {true, true, true};
};
char kFirst[] = " First refused";
char kSecond[] = " Second refused";
char kThird[] = " Third refused";
template <int K>
bool Passes(Walk& walk) {
  walk.asked.push_back(K);
  return walk.pass[K];
}
constexpr CheckRow<Walk> kRows[] = {
    {Passes<0>, kFirst, 2, true},
    {Passes<1>, kSecond, 4, false},
    {Passes<2>, kThird, 6, false},
};

TEST_F(CommandParts, DialogWalkGoesOnOnlyPastRowsThatSaySoAndCancelGivesUp) {
  standin::NewWorkbook("Book1.xls", "Data");
  Walk all;
  EXPECT_EQ(WalkDialogChecks<Walk>(kRows, all, nullptr), kAccepted);
  EXPECT_EQ(all.asked, (std::vector<int>{0, 1, 2}));

  // A row that goes on: the walk continues, then asks for the dialog again.
  Walk first;
  first.pass[0] = false;
  standin::QueueDialog({false, {}, 0});  // "ALERT!": OK
  double focus = 0;
  EXPECT_EQ(WalkDialogChecks<Walk>(kRows, first, &focus), kShowAgain);
  EXPECT_EQ(first.asked, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(focus, 2);
  EXPECT_EQ(Seen("dialog \"ALERT!\""), 1);

  // A row that stops: nothing after it is asked.
  Walk second;
  second.pass[1] = false;
  standin::QueueDialog({false, {}, 0});
  EXPECT_EQ(WalkDialogChecks<Walk>(kRows, second, &focus), kShowAgain);
  EXPECT_EQ(second.asked, (std::vector<int>{0, 1}));
  EXPECT_EQ(focus, 4);

  // Cancel on the alert ends the command at once.
  Walk cancelled;
  cancelled.pass[0] = false;
  standin::QueueDialog({true, {}, 0});
  EXPECT_EQ(WalkDialogChecks<Walk>(kRows, cancelled, &focus), kGiveUp);
  EXPECT_EQ(cancelled.asked, (std::vector<int>{0}));
  EXPECT_EQ(standin::UnusedAnswers(), 0);
}

TEST_F(CommandParts, DirectWalkShowsTheFirstRefusalOrAsksWhereARowGoesOn) {
  standin::NewWorkbook("Book1.xls", "Data");
  Walk second;
  second.pass[1] = false;
  second.pass[2] = false;
  EXPECT_FALSE(WalkDirectChecks<Walk>(kRows, second));
  EXPECT_EQ(second.asked, (std::vector<int>{0, 1}));
  EXPECT_EQ(Seen("alert 3 \"Second refused\""), 1);
  EXPECT_EQ(Seen("alert"), 1);

  // A row that goes on is a question: OK goes on, Cancel refuses.
  Walk first;
  first.pass[0] = false;
  standin::QueueAlert(true);
  EXPECT_TRUE(WalkDirectChecks<Walk>(kRows, first));
  EXPECT_EQ(first.asked, (std::vector<int>{0, 1, 2}));
  Walk stopped;
  stopped.pass[0] = false;
  standin::QueueAlert(false);
  EXPECT_FALSE(WalkDirectChecks<Walk>(kRows, stopped));
  EXPECT_EQ(stopped.asked, (std::vector<int>{0}));
  EXPECT_EQ(Seen("alert 1 \"First refused\""), 2);
}

struct Setting {
  int value;
};
constexpr CheckRow<Setting> kSettingRows[] = {
    {nullptr, nullptr, 3, false,
     [](Setting& s) { return s.value > 9 ? "Too large a setting" : nullptr; }},
    {[](Setting& s) { return s.value >= 0; }, kFirst, 2, false},
};

TEST_F(CommandParts, ARowMayNameItsOwnRefusal) {
  standin::NewWorkbook("Book1.xls", "Data");
  Setting fine{5}, large{12}, negative{-1};
  EXPECT_TRUE(WalkDirectChecks<Setting>(kSettingRows, fine));
  EXPECT_FALSE(WalkDirectChecks<Setting>(kSettingRows, large));
  EXPECT_EQ(Seen("alert 3 \"Too large a setting\""), 1);
  EXPECT_FALSE(WalkDirectChecks<Setting>(kSettingRows, negative));
  EXPECT_EQ(Seen("alert 3 \"First refused\""), 1);

  standin::QueueDialog({false, {}, 0});
  double focus = 0;
  EXPECT_EQ(WalkDialogChecks<Setting>(kSettingRows, large, &focus), kShowAgain);
  EXPECT_EQ(focus, 3);
  EXPECT_EQ(Seen("dialog \"ALERT!\""), 1);
}

TEST_F(CommandParts, ObserverShowsProgressAsItsPolicySays) {
  standin::NewWorkbook("Book1.xls", "Data");
  auto shown = [](ProgressPolicy policy, int steps, int total) {
    standin::ClearTranscript();
    CommandObserver observer(policy);
    for (int done = 1; done <= steps; ++done) observer.Progress(done, total);
    return Seen("status \"");
  };
  // Every changed percentage past the first: 2%..100% of 200 steps.
  EXPECT_EQ(shown(ProgressPolicy::OnChange(ProgressText::kInt), 200, 200), 99);
  // Each of the first 30 steps, then every changed percentage.
  EXPECT_EQ(shown(ProgressPolicy{ProgressText::kLong, 30, true}, 200, 200), 30 + 85);
  EXPECT_EQ(shown(ProgressPolicy::EveryStep(ProgressText::kInt), 200, 200), 200);
  EXPECT_EQ(shown(ProgressPolicy::BreakKeyOnly(), 200, 200), 0);

  // The break key: asked at every poll; once stopped the run stays stopped.
  CommandObserver observer(ProgressPolicy::BreakKeyOnly());
  standin::PressEscAfter(2);
  standin::QueueAlert(true);  // 'OK' to stop
  EXPECT_FALSE(observer.StopRequested());
  EXPECT_TRUE(observer.StopRequested());
  EXPECT_TRUE(observer.stopped());
  EXPECT_TRUE(observer.StopRequested());
}

}  // namespace
}  // namespace hvt
