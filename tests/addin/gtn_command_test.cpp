// The GTN menu command and its macro end to end through the stand-in.
#include <algorithm>
#include <cstring>

#include "tests/addin/column_command_fixture.h"
#include "tools/gtn/core/gtn.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

constexpr char kGtnItem[] = "GTN                            Alt,d,&h";
constexpr char kGtnAborted[] = "alert 3 \"GTN Aborted!\"";

std::vector<double> CommandValues(const std::vector<double>& x, int span,
                                  int smoothness) {
  std::vector<double> y(x.size());
  EXPECT_EQ(gtn::GtnSeries(x, {span, smoothness, gtn::GtnTermOrder::CommandOrder}, y),
            CoreStatus::kComplete);
  return y;
}

class GtnCommand : public ColumnCommandTest {
 protected:
  // Runs the command; it answers TRUE (type "A") whatever happened.
  static void Run() {
    try {
      EXPECT_EQ(standin::RunCommand("GTN"), 1.0);
    } catch (const standin::HostError& e) {
      ADD_FAILURE() << e.what();
    }
  }

  using MacroFn = int (*)(LPXLOPER, LPXLOPER, int, int, int);
  static MacroFn Macro() { return Procedure<MacroFn>("GTN_func"); }
};

// A Cancel drops the remembered entries: the next showing is the table's.
TEST_F(GtnCommand, CancelDropsTheRememberedAnswer) {
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

TEST_F(GtnCommand, RegistersItsRowsAndDataMenuItem) {
  bool wrapper = false, macro = false, function = false;
  for (const auto& r : standin::Registrations()) {
    if (r.procedure == "GTNWrapper") {
      wrapper = r.type_text == "A" && r.function_text == "GTN" && r.macro_type == "2";
    }
    if (r.procedure == "GTN_func") {
      macro = r.type_text == "JRRJJJ" && r.function_text == "GTN_Macro" &&
              r.argument_text == "data_ref,output_ref,smoothness,span,firstrow" &&
              r.macro_type == "2" && r.category == "HVT";
    }
    if (r.procedure == "GTNUP") function = r.function_text == "GTN_Update";
  }
  EXPECT_TRUE(wrapper && macro && function);
  auto items = standin::MenuItems(standin::MenuBar(), "Data");
  auto it = std::find_if(items.begin(), items.end(),
                         [](const auto& m) { return m.text == kGtnItem; });
  ASSERT_NE(it, items.end());
  EXPECT_EQ(it->macro, "GTN");
  EXPECT_EQ(it->status, "GTN");
  ASSERT_NE(it, items.begin());
  EXPECT_EQ(std::prev(it)->text, "-");
}

TEST_F(GtnCommand, OneSpanWritesTheCoreValuesLabelFormatAndSelection) {
  std::vector<double> x = Walk(120);
  standin::SheetId sheet = Prepare(x, "A1:A120");
  standin::Select(sheet, "A1:A120");  // offered in the data box
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("C1")}}, 0});
  try {
    standin::ChooseMenuItem("Data", kGtnItem);
  } catch (const standin::HostError&) {
  }
  EXPECT_EQ(Seen("Aborted"), 0) << Dump();

  // The dialog as shown: the table with the selection offered.
  ASSERT_EQ(standin::Showings().size(), 1u);
  const standin::Grid shown = standin::Showings()[0].definition;
  ASSERT_EQ(shown.rows, 18);
  EXPECT_EQ(standin::Describe(shown.at(0, 5)), "GTN");
  EXPECT_EQ(standin::Describe(shown.at(0, 6)), "4");  // focus on the output box
  EXPECT_NE(standin::Describe(shown.at(2, 6)).find("R1C1:R120C1"), std::string::npos);
  EXPECT_EQ(standin::Describe(shown.at(5, 5)), "&Smoothness ( >=1 and <=50 ): ");
  EXPECT_EQ(standin::Describe(shown.at(10, 5)), " &24");
  EXPECT_EQ(standin::Describe(shown.at(17, 5)), "Begin &Independently");

  std::vector<double> y = CommandValues(x, 24, 10);
  ExpectColumn(sheet, 2, y, 30);
  ExpectLabelFormula(sheet, "C1", "[Book1.xls]Data!$A$1:$A$120", "_24_10");
  standin::Format title = standin::GetFormat(sheet, "C1");
  EXPECT_TRUE(title.bold);
  EXPECT_EQ(title.alignment, 3);
  EXPECT_EQ(standin::ActiveCell(), "C31");
  EXPECT_EQ(standin::CalculationMode(), 1);
  EXPECT_TRUE(standin::MacroErrorsHandled());
}

TEST_F(GtnCommand, AllSpansIndependentlyFillAdjacentColumns) {
  std::vector<double> x = Walk(260, 5);
  standin::SheetId sheet = Prepare(x, "A1:A260");
  standin::QueueDialog({false,
                        {{2, std::string(data_)}, {4, std::string("B1")},
                         {6, 7.0},
                         {11, true},
                         {12, true},
                         {13, true}},
                        0});
  Run();
  EXPECT_EQ(Seen("Aborted"), 0) << Dump();
  int column = 1;
  for (int span : {24, 48, 96, 192}) {
    ExpectColumn(sheet, column, CommandValues(x, span, 7), span + 6);
    std::string cell(1, static_cast<char>('A' + column));
    ExpectLabelFormula(sheet, cell + "1", "[Book1.xls]Data!$A$1:$A$260",
                       "_" + std::to_string(span) + "_7");
    ++column;
  }
  EXPECT_TRUE(ColumnBlank(sheet, 5, 0, 259));
  // The selection goes back to the column the user chose.
  EXPECT_EQ(standin::ActiveCell(), "B31");
}

TEST_F(GtnCommand, BeginTogetherStartsEverySpanOnTheLongestSpansRow) {
  std::vector<double> x = Walk(150, 9);
  standin::SheetId sheet = Prepare(x, "A1:A150");
  standin::QueueDialog(
      {false, {{2, std::string(data_)}, {4, std::string("B1")}, {12, true}, {15, 1.0}}, 0});
  Run();
  EXPECT_EQ(Seen("Aborted"), 0) << Dump();
  std::vector<double> y24 = CommandValues(x, 24, 10);
  std::vector<double> y96 = CommandValues(x, 96, 10);
  ExpectColumn(sheet, 1, y24, 102);
  ExpectColumn(sheet, 2, y96, 102);
}

TEST_F(GtnCommand, HeaderTextAboveTheDataBecomesTheLabel) {
  std::vector<double> x = Walk(80);
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "A1", Value{std::string("Close")});
  standin::SetColumn(sheet, "A2", std::vector<Value>(x.begin(), x.end()));
  standin::Select(sheet, "H1");
  data_ = "A2:A81";
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
  Run();
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet, "B1")), "Close_24_10");
  EXPECT_TRUE(IsBlank(sheet, 1, 1));
  ExpectColumn(sheet, 1, CommandValues(x, 24, 10), 30, 1);
}

// The label's text by the rules every one-column command keeps: a title in
// the sheet's first row alone is taken; two different titles are asked
// about, and the answer (or nothing, on Cancel) is what the label says.
TEST_F(GtnCommand, LabelTextFromTheTitlesOrThePerson) {
  std::vector<double> x = Walk(80);
  for (bool twoTitles : {false, true}) {
    SCOPED_TRACE(twoTitles ? "two titles" : "a title in the first row");
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
    standin::SetCell(sheet, "A1", Value{std::string("Close")});
    if (twoTitles) standin::SetCell(sheet, "A4", Value{std::string("Price")});
    standin::SetColumn(sheet, "A5", std::vector<Value>(x.begin(), x.end()));
    standin::Select(sheet, "H1");
    standin::QueueDialog({false, {{2, std::string("A5:A84")}, {4, std::string("B1")}}, 0});
    if (twoTitles) standin::QueueInput(Value{std::string("Mine")});
    Run();
    EXPECT_EQ(Seen("Please enter text to use as label for your output column."),
              twoTitles ? 1 : 0)
        << Dump();
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet, "B1")),
              twoTitles ? "Mine_24_10" : "Close_24_10");
    EXPECT_TRUE(IsBlank(sheet, 3, 1));
    EXPECT_TRUE(IsBlank(sheet, 4, 1));
    ExpectColumn(sheet, 1, CommandValues(x, 24, 10), 30, 4);
  }
}

TEST_F(GtnCommand, OutputOnAnotherSheetAsksForTheLabel) {
  std::vector<double> x = Walk(50);
  standin::SheetId sheet = Prepare(x, "A1:A50");
  standin::SheetId other = standin::AddSheet("Book1.xls", "Out");
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("Out!D1")}}, 0});
  standin::QueueInput(Value{std::string("Mine")});
  Run();
  EXPECT_EQ(Seen("Please enter text to use as label for your output column."), 1)
      << Dump();
  EXPECT_EQ(standin::Describe(standin::GetCell(other, "D1")), "Mine_24_10");
  ExpectColumn(other, 3, CommandValues(x, 24, 10), 30);
  EXPECT_TRUE(IsBlank(sheet, 30, 3));
}

TEST_F(GtnCommand, CancelledDialogAborts) {
  std::vector<double> x = Walk(50);
  standin::SheetId sheet = Prepare(x, "A1:A50");
  standin::QueueDialog({true, {}, 0});
  Run();
  EXPECT_EQ(Seen(kGtnAborted), 1) << Dump();
  EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 49));
  EXPECT_EQ(standin::Selection(), "H1");  // the selection put back
}

TEST_F(GtnCommand, GivingUpAtTheAlertEndsTheCommand) {
  standin::SheetId sheet = SheetWithColumn(Walk(60));
  standin::Select(sheet, "B2");
  standin::QueueDialog({false, {{2, std::string("A1:A60")}, {4, std::string("A1")}}, 0});
  standin::QueueDialog({true, {}, 0});  // "ALERT!": Cancel
  Run();
  EXPECT_EQ(standin::Showings().size(), 2u);
  EXPECT_EQ(Seen(kGtnAborted), 1) << Dump();
  EXPECT_EQ(standin::UnusedAnswers(), 0);
}

TEST_F(GtnCommand, RowChecksLetThePassGoOnToLaterChecks) {
  standin::SheetId sheet = SheetWithColumn(Walk(60));
  standin::Select(sheet, "B2");
  standin::QueueDialog(
      {false, {{2, std::string("A1:A20")}, {4, std::string("C1")}, {6, 99.0}}, 0});
  standin::QueueDialog({false, {}, 0});
  standin::QueueDialog({false, {}, 0});
  standin::QueueDialog({true, {}, 0});
  Run();
  EXPECT_EQ(Seen("must have at least 32 rows"), 1) << Dump();
  EXPECT_EQ(Seen("Smoothness must be a number"), 1) << Dump();
}

TEST_F(GtnCommand, WholeColumnIsNarrowedToItsNumbers) {
  std::vector<double> x = Walk(70, 4);
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "A1", Value{std::string("Level")});
  standin::SetColumn(sheet, "A3", std::vector<Value>(x.begin(), x.end()));
  standin::Select(sheet, "B2");
  standin::QueueDialog({false, {{2, std::string("A:A")}, {4, std::string("B1")}}, 0});
  Run();
  EXPECT_EQ(Seen("Aborted"), 0) << Dump();
  ExpectColumn(sheet, 1, CommandValues(x, 24, 10), 30, 2);
}

TEST_F(GtnCommand, TextBelowTheFirstRowsFailsInTheMacro) {
  std::vector<double> x = Walk(60);
  standin::SheetId sheet = Prepare(x, "A1:A60");
  standin::SetCell(sheet, "A40", Value{std::string("gap")});
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
  Run();
  auto lines = standin::Transcript();
  auto nonNumber = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("Your data set contains a non-number!") != std::string::npos;
  });
  ASSERT_NE(nonNumber, lines.end()) << Dump();
  auto aborted = std::find_if(nonNumber, lines.end(), [](const std::string& l) {
    return l.find(kGtnAborted) != std::string::npos;
  });
  EXPECT_NE(aborted, lines.end()) << Dump();
  EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 59));
}

TEST_F(GtnCommand, BreakKeyStopsOrGoesOn) {
  std::vector<double> x = Walk(200, 11);
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop);
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    standin::SheetId sheet = Prepare(x, "A1:A200");
    standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
    standin::PressEscAfter(60);
    standin::QueueAlert(stop);
    Run();
    EXPECT_EQ(Seen("'OK' to stop, 'Cancel' to continue!"), 1) << Dump();
    if (stop) {
      EXPECT_EQ(Seen(kGtnAborted), 1) << Dump();
      EXPECT_TRUE(ColumnBlank(sheet, 1, 0, 199));
    } else {
      EXPECT_EQ(Seen("Aborted"), 0) << Dump();
      ExpectColumn(sheet, 1, CommandValues(x, 24, 10), 30);
      EXPECT_FALSE(standin::BreakPending());
    }
    EXPECT_GT(Seen("% Finished"), 0);
    EXPECT_EQ(Seen("status \" 1% Finished\""), 0);
  }
}

TEST_F(GtnCommand, ProgressShowsEachPercentOnce) {
  std::vector<double> x = Walk(400, 2);
  Prepare(x, "A1:A400");
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("B1")}}, 0});
  Run();
  // Steps 25..399 of 400: percentages 6 (rounded) to 100, each once.
  EXPECT_EQ(Seen("status \"100% Finished\""), 1);
  EXPECT_EQ(Seen("status \"50% Finished\""), 1);
  EXPECT_EQ(Seen("status \" 5% Finished\""), 0);
  EXPECT_EQ(Seen("status \" 6% Finished\""), 1);
  EXPECT_GT(Seen("status cleared"), 0);
}

TEST_F(GtnCommand, MacroRunsOneSpanFromAFirstRow) {
  MacroFn macro = Macro();
  ASSERT_NE(macro, nullptr);
  std::vector<double> x = Walk(120, 6);
  standin::SheetId sheet = SheetWithColumn(x);
  Ref data(sheet, 0, 119, 0, 0), out(sheet, 4, 9, 3, 4);
  EXPECT_EQ(macro(&data.value, &out.value, 5, 48, 60), 1);
  // Written from row firstrow + 6 of the data, in the output's first column.
  ExpectColumn(sheet, 3, CommandValues(x, 48, 5), 66);
  ExpectLabelFormula(sheet, "D1", "[Book1.xls]Data!$A$1:$A$120", "_48_5");
  EXPECT_TRUE(ColumnBlank(sheet, 4, 0, 119));
  // A first row below the span writes the zeros before the span's first value.
  Ref out2(sheet, 0, 0, 5, 5);
  EXPECT_EQ(macro(&data.value, &out2.value, 5, 48, 0), 1);
  std::vector<double> y = CommandValues(x, 48, 5);
  for (int r = 6; r < 54; ++r) EXPECT_EQ(Number(standin::GetCell(sheet, r, 5)), 0.0);
  for (int r = 54; r < 120; ++r) {
    ASSERT_TRUE(SameBits(Number(standin::GetCell(sheet, r, 5)), y[r])) << r;
  }
}

TEST_F(GtnCommand, OutputLeftOfTheDataStopsBeforeOverwritingIt) {
  std::vector<double> x = Walk(100);
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetColumn(sheet, "B1", std::vector<Value>(x.begin(), x.end()));
  standin::Select(sheet, "H1");
  data_ = "B1:B100";
  standin::QueueDialog(
      {false, {{2, std::string(data_)}, {4, std::string("A1")}, {11, true}}, 0});  // spans 24 and 48
  Run();
  EXPECT_EQ(Seen("Your output will overwrite your input!"), 1) << Dump();
  EXPECT_EQ(Seen(kGtnAborted), 1);
  ExpectColumn(sheet, 0, CommandValues(x, 24, 10), 30);
  for (int r = 0; r < 100; ++r) ASSERT_EQ(Number(standin::GetCell(sheet, r, 1)), x[r]);
}

TEST_F(GtnCommand, OutputColumnsMustFitTheSheet) {
  // Enough rows for span 96's run.
  std::vector<double> x = Walk(110);
  standin::SheetId sheet = Prepare(x, "A1:A110");
  standin::QueueDialog({false, {{2, std::string(data_)}, {4, std::string("IU1")}, {11, true}, {12, true}}, 0});
  Run();
  EXPECT_EQ(Seen("Your output columns would run past the last column of the sheet!"), 1)
      << Dump();
  EXPECT_TRUE(ColumnBlank(sheet, 254, 0, 99));
  EXPECT_TRUE(ColumnBlank(sheet, 0 + 255, 0, 99));
}

}  // namespace
}  // namespace hvt::testing
