// The command frame and the sheet and message services run against the
// stand-in as a person would meet them: scripted answers, the transcript of
// what was shown, and the host's state before and after each command.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "command/column.h"
#include "host/command_frame.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "standin/standin.h"

namespace hvt {
namespace {

using standin::Transcript;

char g_abortText[] = " Test Aborted!";

standin::DialogReply Press(int item) {
  standin::DialogReply reply;
  reply.press = item;
  return reply;
}
standin::DialogReply CancelReply() {
  standin::DialogReply reply;
  reply.cancel = true;
  return reply;
}

// What the test command's steps do this time, and what they saw.
struct Script {
  int dialogs = 1;
  int compute = 1;
  int dialogsRun = 0, computeRun = 0, selectRun = 0;
} g_script;

int TestDialogs() {
  ++g_script.dialogsRun;
  return g_script.dialogs;
}
int TestCompute() {
  ++g_script.computeRun;
  // The computation writes a result, as every tool does.
  XLMREF table{1, {{0, 0, 5, 5}}};
  XLOPER target{};
  target.xltype = xltypeRef;
  target.val.mref.lpmref = &table;
  target.val.mref.idSheet = g_savedSelection.value.val.mref.idSheet;
  CallExcel(xlSet, nullptr, 2, &target, TempNumber(42));
  return g_script.compute;
}
void TestSelectOutput() { ++g_script.selectRun; }

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    g_script = Script{};
    g_menuBar = 0;
    g_versionRead = 0;
    g_maxRows = 0;
    g_hostVersion = 0;
  }
  void TearDown() override {
    standin::Accounting a = standin::GetAccounting();
    EXPECT_TRUE(a.Clean()) << (a.problems.empty() ? "" : a.problems.front());
    if (expectQuietLog_) {
      EXPECT_TRUE(standin::Log().empty()) << standin::Log().front();
    }
    EXPECT_EQ(standin::UnusedAnswers(), 0) << "a scripted answer was never asked for";
    standin::ResetQuietly();
  }
  int Run() {
    CommandSteps steps{g_abortText, TestDialogs, TestCompute, TestSelectOutput};
    return RunCommandFrame(steps);
  }
  // The state the frame must hand back unchanged.
  // Screen updating is left to the host, which turns it back on when a
  // command ends.
  struct State {
    int calculation;
    bool statusBar, errors;
    std::string selection;
    standin::SheetId sheet;
    bool operator==(const State&) const = default;
  };
  static State Now() {
    return State{standin::CalculationMode(), standin::StatusBarShown(),
                 standin::MacroErrorsHandled(), standin::Selection(), standin::ActiveSheet()};
  }
  static bool Saw(const std::string& line) {
    for (const std::string& l : Transcript())
      if (l == line) return true;
    return false;
  }
  bool expectQuietLog_ = true;
};

TEST_F(Frame, SuccessRestoresEverythingAndSelectsTheOutput) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::Select(sheet, "B2:C9", "C4");
  standin::SetCalculationMode(2);
  standin::ShowStatusBar(false);
  State before = Now();

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(g_script.computeRun, 1);
  EXPECT_EQ(g_script.selectRun, 1);
  EXPECT_EQ(standin::GetCell(sheet, "F1"), standin::Value{42.0});
  State after = Now();
  after.selection = before.selection;  // success moves it to the output
  EXPECT_EQ(after, before);
  EXPECT_FALSE(Saw("alert 3 \"Test Aborted!\" -> OK"));
  // The frame calculated once at the start and once at the end.
  EXPECT_EQ(standin::Recalculations(), 2);
}

TEST_F(Frame, CancelAndFailedChecksShowTheAbortAndGoBackToTheSelection) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  for (int dialogs : {0, 1}) {
    standin::Select(sheet, "A3:A7", "A5");
    standin::SetCalculationMode(1);
    standin::ClearTranscript();
    State before = Now();
    g_script = Script{};
    g_script.dialogs = dialogs;  // 0: cancelled; 1 with compute 0: a check failed
    g_script.compute = 0;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Now().calculation, before.calculation);
    EXPECT_EQ(Now().statusBar, before.statusBar);
    EXPECT_TRUE(standin::MacroErrorsHandled());
    EXPECT_EQ(standin::Selection(), "A3:A7");
    EXPECT_EQ(g_script.selectRun, 0);
    EXPECT_EQ(Transcript(), (std::vector<std::string>{"beep", "alert 3 \"Test Aborted!\" -> OK"}));
  }
}

TEST_F(Frame, RefusesOtherSheetsAndGroupEditWithItsMessages) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId other = standin::AddSheet("Book1.xls", "Chart1");
  standin::SetSheetType(other, 2);
  standin::Activate(other);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("alert 3 \"The active document must be a worksheet!\" -> OK"));
  EXPECT_EQ(g_script.dialogsRun, 0);

  standin::ClearTranscript();
  standin::SheetId second = standin::AddSheet("Book1.xls", "Data2");
  standin::Activate(sheet);
  standin::SetGroup({sheet, second});
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("alert 3 \"This program will not run in group edit mode!\" -> OK"));
  EXPECT_EQ(g_script.dialogsRun, 0);
  EXPECT_TRUE(standin::MacroErrorsHandled());
  EXPECT_EQ(standin::CalculationMode(), 1);
}

TEST_F(Frame, ADrawingObjectSelectedGivesWayToTheCells) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::Select(sheet, "D4");
  standin::SelectObject("Rectangle 1");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(g_script.computeRun, 1);
  EXPECT_EQ(standin::GetCell(sheet, "F1"), standin::Value{42.0});
}

TEST_F(Frame, OnlyTheSingleSheetBookNamedLikeItsSheetGetsATempblank) {
  standin::OpenCsvText("DATA.CSV", "1\n2\n");
  standin::SheetId data = standin::FindSheet("DATA.CSV", "DATA");
  standin::NewWorkbook("BOOK2.XLS", "Sheet1");
  standin::AddSheet("BOOK2.XLS", "Sheet2");
  standin::AddSheet("BOOK2.XLS", "Sheet3");
  standin::NewWorkbook("ONE.XLS", "Other");  // one sheet, another name
  standin::Select(data, "A1:A2");

  std::vector<std::string> seen;
  static std::vector<std::string>* watch;
  watch = &seen;
  g_script.compute = 1;
  CommandSteps steps{g_abortText,
                     [] {
                       for (const char* book : {"DATA.CSV", "BOOK2.XLS", "ONE.XLS"}) {
                         for (const std::string& s : standin::Sheets(book)) {
                           standin::SheetId id = standin::FindSheet(book, s);
                           watch->push_back(std::string(book) + "/" + s +
                                            (standin::SheetHidden(id) ? " hidden" : ""));
                         }
                       }
                       return 1;
                     },
                     TestCompute, nullptr};
  EXPECT_EQ(RunCommandFrame(steps), 1);
  // A new sheet goes in front of the active one, as in Excel.
  EXPECT_EQ(seen, (std::vector<std::string>{"DATA.CSV/tempblank hidden", "DATA.CSV/DATA",
                                            "BOOK2.XLS/Sheet1", "BOOK2.XLS/Sheet2",
                                            "BOOK2.XLS/Sheet3", "ONE.XLS/Other"}));
  EXPECT_EQ(standin::Sheets("DATA.CSV"), (std::vector<std::string>{"DATA"}));
  EXPECT_EQ(standin::ActiveSheet(), data);
  EXPECT_EQ(standin::Selection(), "A1:A2");
}

TEST_F(Frame, ProtectedSingleSheetBookAsksContinueOrAbort) {
  standin::OpenCsvText("DATA.CSV", "1\n2\n");
  standin::SheetId data = standin::FindSheet("DATA.CSV", "DATA");
  standin::ProtectWorkbook("DATA.CSV", true);
  standin::Select(data, "A1:A2");
  const std::string message =
      "As long as you are not using DATA.CSV with this macro, you may Continue. Otherwise, "
      "please Abort and unprotect the workbook.";

  standin::QueueDialog({});  // C&ontinue, the default button
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(g_script.computeRun, 1);
  EXPECT_TRUE(Saw("dialog \"Protected Workbook Alert\": " + message + " -> item 3 \"C&ontinue\""));
  EXPECT_EQ(standin::Sheets("DATA.CSV"), (std::vector<std::string>{"DATA"}));

  standin::ClearTranscript();
  g_script = Script{};
  standin::QueueDialog(Press(4));  // &Abort
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(g_script.dialogsRun, 0);
  EXPECT_TRUE(Saw("dialog \"Protected Workbook Alert\": " + message + " -> Cancel \"&Abort\""));
  EXPECT_TRUE(Saw("alert 3 \"Test Aborted!\" -> OK"));
  EXPECT_EQ(standin::Showings().back().definition.rows, 5);
}

TEST_F(Frame, OldHostsHaveNoWorkbooksToPrepareAndNoBeep) {
  standin::SetHostVersion("4.0");
  standin::SetWorkbooks(false);
  standin::SheetId data = standin::OpenCsvText("DATA.CSV", "1\n2\n");
  standin::Select(data, "A1:A2");
  g_script.compute = 0;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(standin::Workbooks(), (std::vector<std::string>{"DATA.CSV"}));
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"alert 3 \"Test Aborted!\" -> OK"}));
}

// ---- References typed into dialogs ------------------------------------------

class References : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    book1_ = standin::NewWorkbook("BOOK1.XLS", "My Data");
    other_ = standin::NewWorkbook("Other.xls", "Sheet1");
    PrepareRef(input_);
    PrepareRef(output_);
  }
  // The texts typed into a dialog, resolved in the answer as a tool keeps it.
  int Resolve(const std::string& in, const std::string& out, double* focus,
              std::optional<standin::DialogReply> alert = std::nullopt) {
    XLOPER answer{};
    standin::DialogReply typed;
    typed.set = {{1, in}, {2, out}};
    standin::QueueDialog(typed);
    if (alert) standin::QueueDialog(*alert);
    XLOPER definition{};
    SetDialogArrayShape(definition, 4);
    std::vector<XLOPER> cells(28);
    char ok[] = "\x01" "1", edit[] = "\x02" "10", label[] = "\x02OK";
    for (auto& c : cells) c.xltype = xltypeNil;
    cells[7].xltype = cells[14].xltype = cells[21].xltype = xltypeStr;
    cells[7].val.str = edit;
    cells[14].val.str = edit;
    cells[21].val.str = ok;
    cells[26].xltype = xltypeStr;
    cells[26].val.str = label;
    definition.val.array.lparray = cells.data();
    EXPECT_EQ(Excel4(xlfDialogBox, &answer, 1, &definition), xlretSuccess);
    XLOPER kept{};
    if (TakeDialogAnswer(answer, kept) != TakenAnswer::kArray) {
      ADD_FAILURE() << "no answer to keep";
      return -1;
    }
    int code = ResolveReferences(kept.val.array.lparray[13], kept.val.array.lparray[20],
                                 1, 2, focus, input_.value, output_.value);
    inputAfter_ = kept.val.array.lparray[13].xltype;
    ForgetDialogAnswer(kept);
    return code;
  }
  static XLREF Area(const RefRecord& r) { return r.table.reftbl[0]; }

  standin::SheetId book1_ = 0, other_ = 0;
  RefRecord input_, output_;
  WORD inputAfter_ = 0;
};

TEST_F(References, SheetNamesWithSpacesResolveAfterQuoting) {
  double focus = 0;
  EXPECT_EQ(Resolve("[BOOK1.XLS]My Data!A1:A10", "B1", &focus), kResolved);
  EXPECT_EQ(input_.value.val.mref.idSheet, book1_);
  EXPECT_EQ(Area(input_).rwFirst, 0);
  EXPECT_EQ(Area(input_).rwLast, 9);
  EXPECT_EQ(inputAfter_, xltypeNil) << "the field shows empty when the dialog comes back";
  // A reference without a sheet is on the active sheet.
  EXPECT_EQ(output_.value.val.mref.idSheet, other_);
  EXPECT_EQ(Area(output_).colFirst, 1);

  EXPECT_EQ(Resolve("[BOOK1.XLS]'My Data'!A2:A3", "'[BOOK1.XLS]My Data'!C1", &focus), kResolved);
  EXPECT_EQ(Area(input_).rwFirst, 1);
  EXPECT_EQ(output_.value.val.mref.idSheet, book1_);
}

TEST_F(References, AWrongTextAsksToCorrectOrEnds) {
  double focus = 0;
  // "&OK": go back and correct.
  EXPECT_EQ(Resolve("A1:A10", "No Such!A1", &focus, standin::DialogReply{}), kResolveAgain);
  EXPECT_EQ(focus, 2.0) << "the output box gets the focus";
  EXPECT_TRUE(Saw("dialog \"ALERT!\": Your output reference is missing or incorrect! -> item 3 \"&OK\""));
  EXPECT_EQ(Resolve("'A1:A10", "B1", &focus, CancelReply()), kResolveEnd);
  EXPECT_EQ(focus, 1.0);
  EXPECT_TRUE(Saw("dialog \"ALERT!\": Your input reference is missing or incorrect! -> Cancel"));
}

// ---- Whole columns ----------------------------------------------------------

class Extent : public Frame {};

TEST_F(Extent, WholeColumnsNarrowToTheRowsHoldingNumbers) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "A1", std::string("title"));
  for (int r = 3; r <= 100; ++r) standin::SetCell(sheet, r - 1, 0, static_cast<double>(r));
  for (int r = 5; r <= 140; ++r) standin::SetCell(sheet, r - 1, 1, static_cast<double>(-r));
  standin::Select(sheet, "H8");
  ASSERT_EQ(BeginCommand(), 1);
  RefRecord ref;
  PrepareRef(ref);
  ref.value.val.mref.idSheet = sheet;
  ref.table.reftbl[0] = XLREF{0, 65535, 0, 1};
  ASSERT_TRUE(CoversWholeColumns(ref.value));
  EXPECT_EQ(FindDataExtent(ref.value), 1);
  // Independently: the first row where every column has begun, and the
  // end of the first column's run of numbers from there.
  EXPECT_EQ(ref.table.reftbl[0].rwFirst, 4);
  EXPECT_EQ(ref.table.reftbl[0].rwLast, 99);
  EXPECT_EQ(standin::Selection(), "H8") << "back to the saved selection";
  EXPECT_TRUE(standin::ScreenUpdating());

  // A first number followed by a blank gives one row.
  standin::SetCell(sheet, "D7", 1.5);
  ref.table.reftbl[0] = XLREF{0, 65535, 3, 3};
  EXPECT_EQ(FindDataExtent(ref.value), 1);
  EXPECT_EQ(ref.table.reftbl[0].rwFirst, 6);
  EXPECT_EQ(ref.table.reftbl[0].rwLast, 6);

  // A column without numbers leaves the reference alone.
  ref.table.reftbl[0] = XLREF{0, 65535, 4, 5};
  EXPECT_EQ(FindDataExtent(ref.value), 0);
  EXPECT_EQ(ref.table.reftbl[0].rwLast, 65535);
}

TEST_F(Extent, TitleRowIsCentredBoldAndItsColumnsFitted) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(sheet, "C1", std::string("A long column title"));
  standin::SetCell(sheet, "D1", std::string("x"));
  standin::SetCell(sheet, "D2", 3.25);
  RefRecord ref;
  PrepareRef(ref);
  ref.value.val.mref.idSheet = sheet;
  ref.table.reftbl[0] = XLREF{0, 0, 2, 3};
  FormatTitleRow(ref.value);
  for (const char* cell : {"C1", "D1"}) {
    EXPECT_EQ(standin::GetFormat(sheet, cell).alignment, 3) << cell;
    EXPECT_TRUE(standin::GetFormat(sheet, cell).bold) << cell;
  }
  EXPECT_FALSE(standin::GetFormat(sheet, "D2").bold);
  EXPECT_EQ(standin::ColumnWidth(sheet, 2), std::string("A long column title").size());
  EXPECT_EQ(standin::ColumnWidth(sheet, 3), std::string("3.25").size());
  EXPECT_EQ(standin::ColumnWidth(sheet, 4), standin::kStandardWidth);
  EXPECT_EQ(standin::Selection(), "C:D");
}

// ---- The selection offered in a dialog ---------------------------------------

class Offer : public Frame {};

TEST_F(Offer, RangeFillsTheFieldWithItsR1C1TextAndFocus) {
  standin::SheetId sheet = standin::NewWorkbook("Book 1.xls", "My Data");
  standin::Select(sheet, "A1:A10");
  ASSERT_EQ(BeginCommand(), 1);
  XLOPER array{};
  std::vector<XLOPER> cells(21);
  SetDialogArrayShape(array, 3);
  array.val.array.lparray = cells.data();
  XLOPER remembered{};
  EXPECT_EQ(PrefillReferenceField(array, 13, 2, remembered), 1);
  ASSERT_EQ(cells[13].xltype, xltypeStr);
  EXPECT_EQ(std::string(cells[13].val.str + 1, static_cast<unsigned char>(cells[13].val.str[0])),
            "'[Book 1.xls]My Data'!R1C1:R10C1");
  EXPECT_EQ(cells[6].xltype, xltypeNum);
  EXPECT_EQ(cells[6].val.num, 2);
  EXPECT_EQ(remembered.xltype, xltypeBool);
}

// ---- Messages ---------------------------------------------------------------

class Messages : public Frame {};

TEST_F(Messages, BeepBeforeAlertsFromVersionFiveOnly) {
  for (const char* version : {"4.0", "5.0", "7.0", "8.0", "10.0", "12.0", "16.0"}) {
    standin::SetHostVersion(version);
    g_versionRead = 0;
    g_menuBar = 0;
    ReadHostVersion();
    standin::ClearTranscript();
    ShowMessage("Done!", kAlertInfo);
    std::vector<std::string> expected{"alert 2 \"Done!\" -> OK"};
    if (std::stoi(version) >= 5) expected.insert(expected.begin(), "beep");
    EXPECT_EQ(Transcript(), expected) << version;
  }
  // Before the version is read there is no beep either.
  g_menuBar = 0;
  standin::ClearTranscript();
  ShowMessage("Early", kAlertError);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"alert 3 \"Early\" -> OK"}));
}

TEST_F(Messages, QuestionAlertReturnsTheScriptedChoice) {
  standin::QueueAlert(true);
  standin::QueueAlert(false);
  EXPECT_NE(ShowMessage("Go on?", kAlertQuestion), 0);
  EXPECT_EQ(ShowMessage("Go on?", kAlertQuestion), 0);
  expectQuietLog_ = false;
  EXPECT_EQ(ShowMessage("Unscripted?", kAlertQuestion), 0);
  ASSERT_EQ(standin::Log().size(), 1u);
  EXPECT_NE(standin::Log()[0].find("Unscripted?"), std::string::npos);
}

TEST_F(Messages, AlertDialogBeepsShowsAndSetsTheFocusCell) {
  char message[] = " Check the span!";
  double focus = 0;
  standin::QueueDialog({});
  EXPECT_EQ(ShowAlertDialog(message, 4, &focus), 1);
  EXPECT_EQ(focus, 4);
  standin::QueueDialog(Press(4));
  EXPECT_EQ(ShowAlertDialog(message, 5, nullptr), 0);
  EXPECT_EQ(Transcript(),
            (std::vector<std::string>{"beep", "dialog \"ALERT!\": Check the span! -> item 3 \"&OK\"",
                                      "beep", "dialog \"ALERT!\": Check the span! -> Cancel \"&Cancel\""}));
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].definition.rows, 5);
  EXPECT_EQ(shown[0].answer.at(0, 6), standin::Value{3.0});
}

TEST_F(Messages, EscThenCancelClearsTheBreak) {
  standin::PressEscAfter(3);
  standin::QueueAlert(false);  // Cancel: go on
  std::vector<int> answers;
  for (int i = 0; i < 6; ++i) answers.push_back(CheckAbort());
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(standin::BreakPending());
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "Esc pressed",
                              "alert 1 \"'OK' to stop, 'Cancel' to continue!\" -> Cancel"}));

  standin::ClearTranscript();
  standin::PressEscAfter(1);
  standin::QueueAlert(true);  // OK: stop
  EXPECT_EQ(CheckAbort(), 1);
  EXPECT_TRUE(standin::BreakPending()) << "the break stays pending";
}

TEST_F(Messages, ProgressTextsReachTheStatusBar) {
  for (auto [done, total] : {std::pair{1, 3}, {1, 2}, {1, 200}, {2, 3}}) ShowProgress(done, total);
  ClearProgress();
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "status \"34% Finished\"", "status \"50% Finished\"",
                              "status \" 1% Finished\"", "status \"67% Finished\"",
                              "status cleared"}));
  EXPECT_EQ(standin::StatusText(), "");
}

// "TempActiveRow/TempActiveRow12": a 12-series reference addresses rows up
// to 1,048,575 on a host of version 12 or later. The same steps as above,
// on a column whose numbers all lie past the old sheet's last row.
TEST_F(Extent, OnTheBigSheetTheTwelveSeriesRecordsReachPastTheOldLastRow) {
  standin::SetHostVersion("16.0");
  ReadHostVersion();
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  std::vector<standin::Value> column(80000);
  for (std::size_t r = 0; r < column.size(); ++r) column[r] = 0.5 * static_cast<double>(r);
  standin::SetColumn(sheet, "B70001", column);  // rows 70,001..150,000
  standin::Select(sheet, "H8");
  ASSERT_EQ(BeginCommand(), 1);
  RefRecord12 ref;
  PrepareRef(ref);
  ref.value.val.mref.idSheet = sheet;
  ref.table.reftbl[0] = XLREF12{0, kXl12MaxRows - 1, 1, 1};
  ASSERT_TRUE(CoversWholeColumns(ref.value));
  EXPECT_EQ(FindDataExtent(ref.value), 1);
  EXPECT_EQ(ref.table.reftbl[0].rwFirst, 70000);
  EXPECT_EQ(ref.table.reftbl[0].rwLast, 149999);
  EXPECT_EQ(standin::Selection(), "H8") << "back to the saved selection";
  EXPECT_TRUE(FirstCellsAreNumbers(ref));
  EXPECT_FALSE(SheetProtected(ref.value));

  RefRecord12 output;
  SetRecord(output, sheet, MakeArea<XLREF12>(70000, 149999, 1, 1));
  EXPECT_TRUE(SameColumn(ref, output));
  output.table.reftbl[0].colFirst = 16383;  // the big sheet's last column
  EXPECT_FALSE(SameColumn(ref, output));

  // Five numbers from the first row on, counted past the old grid too.
  ref.table.reftbl[0] = XLREF12{149996, 149999, 1, 1};
  EXPECT_FALSE(FirstCellsAreNumbers(ref)) << "row 150,001 is empty";
  standin::ProtectSheet(sheet, true);
  EXPECT_TRUE(SheetProtected(ref.value));
  standin::ProtectSheet(sheet, false);

  // A column without numbers is left alone, at the big sheet's size.
  ref.table.reftbl[0] = XLREF12{0, kXl12MaxRows - 1, 3, 3};
  EXPECT_EQ(FindDataExtent(ref.value), 0);
  EXPECT_EQ(ref.table.reftbl[0].rwLast, kXl12MaxRows - 1);

  // The 4-series record on the same host still sees the old sheet.
  RefRecord old;
  SetRecord(old, sheet, MakeArea(0, 65535, 1, 1));
  EXPECT_TRUE(CoversWholeColumns(old.value));
  EXPECT_EQ(FindDataExtent(old.value), 0) << "no number in the rows it can address";
}

// The first row of a whole column is found by counting rather than by
// asking each cell: the same row for a number at the top, just past a
// window's edge, past the old sheet's last row and at the big sheet's last
// row, with texts (a number typed as text too), booleans and error values
// above it, which are no numbers. Each layout puts its first number at
// row `first`, a second one further down, and a later-starting second
// column whose start then wins.
TEST_F(Extent, TheFirstNumberIsFoundWithoutAskingEveryCell) {
  struct Case {
    const char* version;
    long rows;
  };
  for (Case host : {Case{"8.0", 65536}, Case{"16.0", kXl12MaxRows}}) {
    standin::SetHostVersion(host.version);
    g_versionRead = 0;
    g_maxRows = 0;
    ReadHostVersion();
    std::vector<long> firsts{0, 1, 2, 3, 5, 63, 64, 65, 4097, 65534, 65535};
    if (host.rows > 65536) firsts.insert(firsts.end(), {65536, 699999, 1048574, 1048575});
    for (long first : firsts) {
      SCOPED_TRACE(std::string(host.version) + " first number at row " + std::to_string(first));
      standin::ResetQuietly();
      standin::SetHostVersion(host.version);
      standin::SheetId sheet = standin::NewWorkbook("Book1.xlsx", "Data");
      const std::vector<standin::Value> above{std::string("5"), true,
                                              standin::Value{standin::Error{xlerrNA}}};
      for (long r = 0; r < first && r < 3; ++r) standin::SetCell(sheet, r, 1, above[r]);
      if (first > 3) standin::SetCell(sheet, first - 1, 1, std::string("title"));
      standin::SetCell(sheet, first, 1, 2.5);
      if (first + 2 < host.rows) standin::SetCell(sheet, first + 2, 1, 3.5);
      standin::Select(sheet, "H8");
      ASSERT_EQ(BeginCommand(), 1);
      RefRecord12 wide;
      RefRecord narrow;
      auto extent = [&](int firstColumn, int lastColumn) {
        if (host.rows > 65536) {
          PrepareRef(wide);
          wide.value.val.mref.idSheet = sheet;
          wide.table.reftbl[0] = XLREF12{0, kXl12MaxRows - 1, firstColumn, lastColumn};
          int found = FindDataExtent(wide.value);
          return std::pair{found, long{wide.table.reftbl[0].rwFirst}};
        }
        PrepareRef(narrow);
        narrow.value.val.mref.idSheet = sheet;
        narrow.table.reftbl[0] =
            XLREF{0, 65535, static_cast<BYTE>(firstColumn), static_cast<BYTE>(lastColumn)};
        int found = FindDataExtent(narrow.value);
        return std::pair{found, long{narrow.table.reftbl[0].rwFirst}};
      };
      EXPECT_EQ(extent(1, 1), std::pair(1, first));
      EXPECT_EQ(standin::Selection(), "H8");
      // A column with no number at all ends the search with none, whatever
      // the columns before it hold.
      EXPECT_EQ(extent(1, 2).first, 0);
      // Column C starts a row earlier (or at the same top row).
      standin::SetCell(sheet, std::max(first - 1, 0L), 2, 7.0);
      EXPECT_EQ(extent(1, 2), std::pair(1, first));
      if (first + 1 < host.rows) {
        standin::SetCell(sheet, first + 1, 3, 7.0);  // column D a row later
        EXPECT_EQ(extent(1, 3), std::pair(1, first + 1));
      }
    }
  }
}

}  // namespace
}  // namespace hvt
