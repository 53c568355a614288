// The SPD menu command and its macro end to end through the stand-in.
#include <algorithm>
#include <cstring>

#include "tests/addin/column_command_fixture.h"
#include "tools/spd/core/spd.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

constexpr char kSpdItem[] = "SPD                            Alt,d,&y";
constexpr char kSpdAborted[] = "alert 3 \"SPD_32.XLL Aborted!\"";

std::vector<double> CommandValues(const std::vector<double>& x, int depth) {
  std::vector<double> y(x.size());
  EXPECT_EQ(spd::SpdSeries(x, {depth}, y), CoreStatus::kComplete);
  return y;
}

class SpdCommand : public ColumnCommandTest {
 protected:
  // Runs the command; it answers 1 whatever happened.
  static void Run() {
    try {
      standin::RunCommand("SpdWrapper");
    } catch (const standin::HostError& e) {
      ADD_FAILURE() << e.what();
    }
  }

  using MacroFn = int (*)(LPXLOPER, LPXLOPER, int);
  static MacroFn Macro() { return Procedure<MacroFn>("Spd"); }
};

// A Cancel drops the remembered entries: the next showing is the table's.
TEST_F(SpdCommand, CancelDropsTheRememberedAnswer) {
  standin::SheetId sheet = Prepare(Walk(120), "A1:A120");
  standin::QueueDialog({false, {{2, std::string("A1:A120")}, {4, std::string("C1")}, {6, 12.0}}, 0});
  Run();
  ASSERT_EQ(Seen("Aborted"), 0) << Dump();
  standin::Select(sheet, "H1");
  standin::QueueDialog({true, {}, 0});
  Run();
  standin::QueueDialog({true, {}, 0});
  Run();
  const std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(standin::Describe(shown[1].definition.at(6, 6)), "12") << "remembered";
  EXPECT_EQ(standin::Describe(shown[2].definition.at(6, 6)),
            standin::Describe(shown[0].definition.at(6, 6)))
      << "the table's value again";
}

TEST_F(SpdCommand, RegistersItsRowsAndDataMenuItem) {
  bool wrapper = false, macro = false, function = false;
  for (const auto& r : standin::Registrations()) {
    if (r.procedure == "SpdWrapper") {
      wrapper = r.type_text == "J" && r.function_text == "SpdWrapper" && r.macro_type == "2";
    }
    if (r.procedure == "Spd") {
      macro = r.type_text == "JRRJ" && r.function_text == "Spd_Macro" &&
              r.argument_text == "Data Ref, Output Ref, Depth" && r.macro_type == "2" &&
              r.category == "HVT";
    }
    if (r.procedure == "SPDUP") function = r.function_text == "Spd_Update";
  }
  EXPECT_TRUE(wrapper && macro && function);
  auto items = standin::MenuItems(standin::MenuBar(), "Data");
  auto it = std::find_if(items.begin(), items.end(),
                         [](const auto& m) { return m.text == kSpdItem; });
  ASSERT_NE(it, items.end());
  EXPECT_EQ(it->macro, "SpdWrapper");
  EXPECT_EQ(it->status, "Spd Indicator");
  ASSERT_NE(it, items.begin());
  EXPECT_EQ(std::prev(it)->text, "-");
}

TEST_F(SpdCommand, WritesFromRowThirtyOrTheDepthOnTheDataRows) {
  std::vector<double> x = Walk(100, 13);
  for (int depth : {10, 60}) {
    SCOPED_TRACE(depth);
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
    standin::SetColumn(sheet, "A5", std::vector<Value>(x.begin(), x.end()));
    standin::Select(sheet, "A5:A104");
    standin::QueueDialog({false, {{2, std::string("A5:A104")}, {4, std::string("C1")},
                                  {6, static_cast<double>(depth)}}, 0});
    Run();
    EXPECT_EQ(Seen("Aborted"), 0) << Dump();
    const standin::Grid shown = standin::Showings()[0].definition;
    ASSERT_EQ(shown.rows, 9);
    EXPECT_EQ(standin::Describe(shown.at(0, 5)), "Spd");
    EXPECT_EQ(standin::Describe(shown.at(5, 5)), "De&pth ( >1 ): ");
    EXPECT_EQ(standin::Describe(shown.at(0, 6)), "4");
    int offset = std::max(depth, 30);
    // Sheet rows 35 (or 65) to 104, 1-based: the worksheet function's rows.
    ExpectColumn(sheet, 2, CommandValues(x, depth), offset, 4);
    EXPECT_TRUE(IsBlank(sheet, 104, 2));
    // The label goes into the sheet's first row, above the data.
    ExpectLabelFormula(sheet, "C1", "[Book1.xls]Data!$A$5:$A$104",
                       "_D" + std::to_string(depth));
    EXPECT_TRUE(standin::GetFormat(sheet, "C1").bold);
    EXPECT_TRUE(IsBlank(sheet, 4, 2));
    EXPECT_EQ(standin::ActiveCell(), "C" + std::to_string(5 + offset));
  }
}

TEST_F(SpdCommand, ValuesEqualTheWorksheetFunction) {
  std::vector<double> x = Walk(300, 21);
  standin::SheetId sheet = Prepare(x, "A1:A300");
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")},
                                {6, 14.0}}, 0});
  Run();
  standin::Evaluation e = standin::Evaluate("=Spd_Update(A1:A300,14)");
  ASSERT_EQ(e.result.rows, 300);
  for (int r = 30; r < 300; ++r) {
    ASSERT_TRUE(SameBits(Number(standin::GetCell(sheet, r, 1)), Number(e.result.at(r, 0))))
        << r;
  }
}

TEST_F(SpdCommand, HeaderTextBecomesTheLabel) {
  std::vector<double> x = Walk(80);
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "A1", Value{std::string("Close")});
  standin::SetColumn(sheet, "A2", std::vector<Value>(x.begin(), x.end()));
  standin::Select(sheet, "H1");
  standin::QueueDialog({false, {{2, std::string("A2:A81")}, {4, std::string("B1")},
                                {6, 14.0}}, 0});
  Run();
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet, "B1")), "Close_D14");
  EXPECT_TRUE(IsBlank(sheet, 1, 1));
  ExpectColumn(sheet, 1, CommandValues(x, 14), 30, 1);
}

TEST_F(SpdCommand, CancelledDialogAborts) {
  standin::SheetId sheet = Prepare(Walk(50), "A1:A50");
  standin::QueueDialog({true, {}, 0});
  Run();
  EXPECT_EQ(Seen(kSpdAborted), 1) << Dump();
  EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 49));
}

TEST_F(SpdCommand, ARefusedDepthLeavesTheLastOneForTheRowCheck) {
  // Depth 40 accepted on 60 rows; then 700 is refused and the row check of
  // the same pass measures 40 rows against the kept depth 40.
  std::vector<double> x = Walk(60);
  standin::SheetId sheet = Prepare(x, "A1:A60");
  standin::QueueDialog({false, {{2, std::string("A1:A60")}, {4, std::string("B1")},
                                {6, 40.0}}, 0});
  Run();
  ExpectColumn(sheet, 1, CommandValues(x, 40), 40);
  standin::ClearTranscript();
  standin::QueueDialog({false, {{2, std::string("A1:A40")}, {4, std::string("C1")},
                                {6, 700.0}}, 0});
  standin::QueueDialog({false, {}, 0});
  standin::QueueDialog({false, {}, 0});
  standin::QueueDialog({true, {}, 0});
  Run();
  EXPECT_EQ(Seen("Depth must be a number between 2 and 500 inclusive!"), 1) << Dump();
  EXPECT_EQ(Seen("Not enough rows in your input reference!"), 1) << Dump();
}

TEST_F(SpdCommand, TextInTheDataFailsInTheMacro) {
  std::vector<double> x = Walk(60);
  standin::SheetId sheet = Prepare(x, "A1:A60");
  standin::SetCell(sheet, "A45", Value{std::string("gap")});
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
  Run();
  EXPECT_EQ(Seen("alert 3 \"Your data set contains a non-number!\""), 1) << Dump();
  EXPECT_EQ(Seen(kSpdAborted), 1) << Dump();
  EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 59));
}

TEST_F(SpdCommand, BreakKeyStopsOrGoesOn) {
  std::vector<double> x = Walk(200, 11);
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop);
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    standin::SheetId sheet = Prepare(x, "A1:A200");
    standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
    standin::PressEscAfter(50);
    standin::QueueAlert(stop);
    Run();
    EXPECT_EQ(Seen("'OK' to stop, 'Cancel' to continue!"), 1) << Dump();
    if (stop) {
      EXPECT_EQ(Seen(kSpdAborted), 1) << Dump();
      EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 199));
    } else {
      EXPECT_EQ(Seen("Aborted"), 0) << Dump();
      ExpectColumn(sheet, 1, CommandValues(x, 10), 30);
    }
  }
}

TEST_F(SpdCommand, ProgressCountsRowsDone) {
  Prepare(Walk(400, 2), "A1:A400");
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
  Run();
  // Row 30 done is 31 of 400: 8 percent (7.75 rounded); the last is 100.
  EXPECT_EQ(Seen("status \" 8% Finished\""), 1) << Dump();
  EXPECT_EQ(Seen("status \" 7% Finished\""), 0);
  EXPECT_EQ(Seen("status \"100% Finished\""), 1);
}

TEST_F(SpdCommand, EveryAllocationFailureShowsItsMessageAndLeavesTheSheet) {
  std::vector<double> x = Walk(6000, 8);  // two bands each way
  bool reachedSuccess = false;
  for (int k = 1; k < 40 && !reachedSuccess; ++k) {
    SCOPED_TRACE(k);
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    standin::SheetId sheet = Prepare(x, "A1:A6000");
    standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
    standin::FailAllocation(k);
    Run();
    standin::FailAllocation(0);
    if (Seen("Insufficient memory!") == 0) {
      EXPECT_EQ(Seen("Aborted"), 0) << Dump();
      ExpectColumn(sheet, 1, CommandValues(x, 10), 30);
      reachedSuccess = true;
    } else {
      EXPECT_EQ(Seen(kSpdAborted), 1) << Dump();
      EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 5999));
    }
  }
  EXPECT_TRUE(reachedSuccess);
}

// Rows one more than the depth: exactly one value. (Each refused direct call:
// direct_checks_test.cpp.)
TEST_F(SpdCommand, MacroWritesOneValueForOneRowMoreThanTheDepth) {
  MacroFn macro = Macro();
  ASSERT_NE(macro, nullptr);
  standin::SheetId sheet = SheetWithColumn(Walk(100));
  Ref out(sheet, 0, 0, 2, 2);
  Ref fortyOne(sheet, 0, 40, 0, 0);
  EXPECT_EQ(macro(&fortyOne.value, &out.value, 40), 1);
  std::vector<double> x(41);
  for (int r = 0; r < 41; ++r) x[r] = Number(standin::GetCell(sheet, r, 0));
  EXPECT_TRUE(SameBits(Number(standin::GetCell(sheet, 40, 2)), CommandValues(x, 40)[40]));
  EXPECT_TRUE(ColumnBlank(sheet, 2, 1, 39));
}

}  // namespace
}  // namespace hvt::testing
