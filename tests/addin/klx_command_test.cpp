// The KLX command end to end: the "Adaptive MA" dialog answered by the
// scripted person, its checks, both macros, the break key, running out of
// memory, the label, and the macros called directly.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "tests/addin/addin_fixture.h"
#include "tests/addin/klx_expected.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

constexpr char kKlxAborted[] = "alert 3 \"KLX Aborted!\" -> OK";

std::vector<double> PqeOf(const std::vector<double>& x, double s) {
  std::vector<double> y(x.size());
  EXPECT_EQ(klx::PqeFilter(x, {s}, y), CoreStatus::kComplete);
  return y;
}

DialogReply Entries(const std::string& data, const std::string& output,
                    double smoothness = 10, double type = 1, double phase = 0) {
  DialogReply reply;
  reply.set = {{2, data}, {4, output}, {6, smoothness}, {8, type}};
  if (type == 1) reply.set.push_back({12, phase});
  return reply;
}

DialogReply Press(int item) {
  DialogReply reply;
  reply.press = item;
  return reply;
}

// What a label cell shows when it holds the formula ="Col"&COLUMN(<ref>)&"<suffix>"
// (the label of a column without a title), as the host calculated it.
std::string FormulaLabelShows(standin::SheetId sheet, const std::string& cell) {
  const std::string formula = standin::GetFormula(sheet, cell);
  if (formula.rfind("=\"Col\"&COLUMN(", 0) != 0) return "not a label formula: " + formula;
  Value shown = standin::GetCell(sheet, cell);
  if (auto* text = std::get_if<std::string>(&shown)) return *text;
  return "not text: " + formula;
}

class KlxCommand : public AddInTest {
 protected:
  void TearDown() override {
    // What the person saw explains most failures.
    if (HasFailure()) {
      for (const std::string& line : standin::Transcript()) std::cerr << "  | " << line << "\n";
      for (const std::string& line : standin::Log()) std::cerr << "  log | " << line << "\n";
    }
    AddInTest::TearDown();
  }

  // Column A of sheet "Data" from A1 (or below a title in A1).
  void Data(std::size_t n, const std::string& title = "") {
    x_ = Walk(n, 11);
    sheet_ = standin::NewWorkbook("Book1.xls", "Data");
    std::vector<Value> cells;
    if (!title.empty()) cells.push_back(title);
    cells.insert(cells.end(), x_.begin(), x_.end());
    standin::SetColumn(sheet_, "A1", cells);
    standin::Select(sheet_, "E5");
  }

  static double Run() { return standin::RunCommand("KLXWrapper"); }

  static bool Saw(const std::string& line) {
    std::vector<std::string> t = standin::Transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
  }
  static int Count(const std::string& line) {
    std::vector<std::string> t = standin::Transcript();
    return static_cast<int>(std::count(t.begin(), t.end(), line));
  }
  static std::string AlertBox(const std::string& message, bool ok = true) {
    return "dialog \"ALERT!\": " + message + (ok ? " -> item 3 \"&OK\"" : " -> Cancel");
  }

  // Column `column` rows [first, first + values.size()) equal values bit
  // for bit.
  void ExpectColumn(int column, int first, const std::vector<double>& values,
                    std::size_t from) {
    for (std::size_t i = from; i < values.size(); ++i) {
      double got = Number(standin::GetCell(sheet_, first + static_cast<int>(i - from), column));
      ASSERT_EQ(std::memcmp(&got, &values[i], sizeof got), 0) << "row " << i;
    }
  }

  void ExpectColumnEmpty(int column) {
    for (int r = 0; r < 600; ++r) {
      ASSERT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(sheet_, r, column)))
          << "row " << r;
    }
  }

  standin::SheetId sheet_ = 0;
  std::vector<double> x_;
};

// ---- Runs that complete -------------------------------------------------------

TEST_F(KlxCommand, KlxWritesTheFilterFromRow30WithAFormulaLabel) {
  Data(500);
  standin::SetCalculationMode(1);
  standin::QueueDialog(Entries("A1:A500", "C1", 7, 1, 25));
  EXPECT_EQ(Run(), 1);
  std::vector<double> y = KlxOf(x_, 7, 25);
  // Row 30 holds the raw value, then the smoothed rows.
  ASSERT_EQ(y[30], x_[30]);
  ExpectColumn(2, 30, y, 30);
  for (int r = 1; r < 30; ++r) {
    EXPECT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(sheet_, r, 2)));
  }
  EXPECT_EQ(FormulaLabelShows(sheet_, "C1"), "Col1_S7_P25");
  standin::Format title = standin::GetFormat(sheet_, "C1");
  EXPECT_TRUE(title.bold);
  EXPECT_EQ(title.alignment, 3);
  EXPECT_EQ(standin::Selection(), "C31");
  EXPECT_EQ(standin::StatusText(), "");
  EXPECT_FALSE(Saw(kKlxAborted));
  EXPECT_EQ(standin::CalculationMode(), 1) << "calculation mode restored";
  EXPECT_EQ(standin::UnusedAnswers(), 0);
}

TEST_F(KlxCommand, LongColumnsAreReadAndWrittenInBands) {
  Data(12000);
  standin::QueueDialog(Entries("A1:A12000", "B1", 30, 1, -60));
  EXPECT_EQ(Run(), 1);
  ExpectColumn(1, 30, KlxOf(x_, 30, -60), 30);
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 12000, 1)), "");
}

TEST_F(KlxCommand, TitleAboveTheDataNamesTheLabelAndFormatIsCopied) {
  Data(200, "Price");
  standin::EnterFormula(sheet_, "D1", "=1");  // another column, untouched
  standin::QueueDialog(Entries("A2:A201", "C5"));
  EXPECT_EQ(Run(), 1);
  ExpectColumn(2, 31, KlxOf(x_, 10, 0), 30);
  EXPECT_EQ(standin::GetCell(sheet_, "C1"), Value(std::string("Price_S10_P0")));
  EXPECT_EQ(standin::Selection(), "C32");
}

TEST_F(KlxCommand, PqeDimsThePhaseAndWritesItsFilteredRowThirty) {
  Data(300);
  DialogReply pqe = Entries("A1:A300", "C1", 15, 2);
  pqe.press = 10;  // the &PQE option closes the dialog
  standin::QueueDialog(pqe);
  standin::QueueDialog(Press(9));   // back to &KLX: enabled again
  DialogReply again = Press(10);
  again.set = {{8, 2.0}};
  standin::QueueDialog(again);
  standin::QueueDialog({});         // OK
  EXPECT_EQ(Run(), 1);

  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 4u);
  auto codes = [&](int k) {
    return standin::Describe(shown[k].definition.at(11, 0)) + "/" +
           standin::Describe(shown[k].definition.at(12, 0));
  };
  EXPECT_EQ(codes(0), "005/008");
  EXPECT_EQ(codes(1), "205/208");
  EXPECT_EQ(codes(2), "005/008");
  EXPECT_EQ(codes(3), "205/208");
  EXPECT_EQ(shown[0].title, "Adaptive MA");

  std::vector<double> y = PqeOf(x_, 15);
  EXPECT_NE(y[30], x_[30]) << "PQE's row 30 is already filtered";
  ExpectColumn(2, 30, y, 30);
  EXPECT_EQ(FormulaLabelShows(sheet_, "C1"), "Col1_S15");
}

TEST_F(KlxCommand, PqeSmoothnessZeroIsLabelledZero) {
  Data(100);
  standin::QueueDialog(Entries("A1:A100", "B1", 0, 2));
  EXPECT_EQ(Run(), 1);
  ExpectColumn(1, 30, PqeOf(x_, 0), 30);
  EXPECT_EQ(FormulaLabelShows(sheet_, "B1"), "Col1_S0");
}

TEST_F(KlxCommand, ProgressShowsEachPercentOnceAndIsCleared) {
  Data(100);
  standin::QueueDialog(Entries("A1:A100", "B1"));
  EXPECT_EQ(Run(), 1);
  // Warm-up rows 1..30 each show their percentage; later ones only changes.
  for (int p = 2; p <= 99; ++p) {
    std::string line = "status \"" + std::string(p < 10 ? " " : "") + std::to_string(p) +
                       "% Finished\"";
    EXPECT_GE(Count(line), 1) << line;
    if (p > 31) {
      EXPECT_EQ(Count(line), 1) << line;
    }
  }
  EXPECT_TRUE(Saw("status cleared"));
  EXPECT_EQ(standin::StatusText(), "");
}

TEST_F(KlxCommand, TheDialogRemembersTheLastEntriesOnTheSameSheet) {
  Data(100);
  standin::QueueDialog(Entries("A1:A100", "B1", 12, 1, 40));
  EXPECT_EQ(Run(), 1);
  standin::Select(sheet_, "F2");
  standin::QueueDialog({});  // OK over the remembered entries
  EXPECT_EQ(Run(), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(standin::Describe(shown[1].definition.at(6, 6)), "12");
  EXPECT_EQ(standin::Describe(shown[1].definition.at(0, 6)), "4") << "focus on the output";
  ExpectColumn(1, 30, KlxOf(x_, 12, 40), 30);

  // A range selected is offered as the data reference instead.
  standin::Select(sheet_, "A1:A80");
  standin::QueueDialog(Cancel());
  Run();
  shown = standin::Showings();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_NE(standin::Describe(shown[2].definition.at(2, 6)).find("R1C1:R80C1"),
            std::string::npos);
  EXPECT_EQ(standin::Describe(shown[2].definition.at(6, 6)), "10") << "table values again";
}

// A protected output sheet is refused before anything is read or computed,
// with the message the other one-column commands give.
TEST_F(KlxCommand, AProtectedOutputSheetIsRefusedBeforeComputing) {
  Data(100);
  standin::SheetId out = standin::AddSheet("Book1.xls", "Out");
  standin::ProtectSheet(out, true);
  standin::QueueDialog(Entries("A1:A100", "Out!B1"));
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("alert 3 \"Your output document is protected.\" -> OK"));
  EXPECT_TRUE(Saw(kKlxAborted));
  for (const std::string& line : standin::Transcript()) {
    EXPECT_EQ(line.find("Finished"), std::string::npos) << line;
  }
  EXPECT_TRUE(standin::SheetContents(out).empty());
}

TEST_F(KlxCommand, MenuItemRunsTheCommand) {
  Data(60);
  std::vector<standin::MenuItem> items = standin::MenuItems(standin::MenuBar(), "Data");
  auto found = std::find_if(items.begin(), items.end(), [](const standin::MenuItem& m) {
    return m.macro == "KLXWrapper";
  });
  ASSERT_NE(found, items.end());
  EXPECT_EQ(found->status, "Halvo Moving Average");
  ASSERT_NE(found, items.begin());
  EXPECT_EQ((found - 1)->text, "-");
  standin::QueueDialog(Entries("A1:A60", "B1"));
  EXPECT_EQ(standin::ChooseMenuItem("Data", found->text), 1);
  ExpectColumn(1, 30, KlxOf(x_, 10, 0), 30);
}

TEST_F(KlxCommand, AllFourProceduresAreRegistered) {
  std::vector<std::string> texts;
  for (const standin::Registration& r : standin::Registrations()) {
    if (r.category == "HVT") texts.push_back(r.function_text + ":" + r.type_text);
  }
  for (const char* expected : {"KLXWrapper:J", "PQE_2_Macro:JRRE", "KLX_Macro:JRREE",
                               "KLX_Update:RREE"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
  }
}

// ---- Checks of the dialog (each failed check: dialog_checks_test.cpp) ---------

TEST_F(KlxCommand, BoundsOfTheDialogAreAcceptedAndPqeIgnoresThePhase) {
  Data(64);
  standin::QueueDialog(Entries("A1:A64", "B1", 8192, 1, -100));
  EXPECT_EQ(Run(), 1);
  ExpectColumn(1, 30, KlxOf(x_, 8192, -100), 30);
  EXPECT_EQ(FormulaLabelShows(sheet_, "B1"), "Col1_S8192_P-100");

  DialogReply pqe = Entries("A1:A64", "C1", 3, 2);
  pqe.set.push_back({12, 500.0});  // a phase far out, unused by PQE
  standin::QueueDialog(pqe);
  EXPECT_EQ(Run(), 1);
  ExpectColumn(2, 30, PqeOf(x_, 3), 30);
  EXPECT_FALSE(Saw(kKlxAborted));
}

TEST_F(KlxCommand, GoOnChecksCanShowSeveralAlertsInOnePass) {
  Data(100);
  standin::QueueDialog(Entries("A1:A31", "C1", 9000, 1, 0));
  standin::QueueDialog({});  // rows: OK, goes on to the smoothness
  standin::QueueDialog({});  // smoothness: OK
  standin::QueueDialog(Entries("A1:A100", "C1", 10, 1, 0));  // corrected
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw(AlertBox("Your input reference must have at least 32 rows!")));
  EXPECT_TRUE(Saw(AlertBox("Smoothness must be a number between 0 and 8,192 inclusive!")));
  ExpectColumn(2, 30, KlxOf(x_, 10, 0), 30);
}

TEST_F(KlxCommand, CancelInAnAlertEndsTheCommand) {
  Data(100);
  standin::QueueDialog(Entries("A1:A100", "A1"));
  standin::QueueDialog(Cancel());
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw(AlertBox("Your output must not overwrite your input!", false)));
  EXPECT_TRUE(Saw(kKlxAborted));
  EXPECT_EQ(standin::Showings().size(), 2u);
  ExpectColumnEmpty(2);
}

TEST_F(KlxCommand, WholeColumnIsCutToItsNumbers) {
  Data(150, "Level");
  standin::QueueDialog(Entries("A:A", "C1", 5, 1, 10));
  EXPECT_EQ(Run(), 1);
  ExpectColumn(2, 31, KlxOf(x_, 5, 10), 30);
  EXPECT_EQ(standin::GetCell(sheet_, "C1"), Value(std::string("Level_S5_P10")));

  standin::QueueDialog(Entries("D:D", "F1"));
  standin::QueueDialog({});        // no numbers: OK, goes on
  standin::QueueDialog({});        // and the first cells are blank
  standin::QueueDialog(Cancel());
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw(AlertBox("Your input column has no numbers in it!")));
  EXPECT_TRUE(Saw(kKlxAborted));
}

TEST_F(KlxCommand, CancelAtTheDialogEndsWithTheAbortMessage) {
  Data(100);
  std::string before = standin::CsvText(sheet_);
  standin::QueueDialog(Cancel());
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw(kKlxAborted));
  EXPECT_EQ(standin::CsvText(sheet_), before);
  EXPECT_EQ(standin::Selection(), "E5");
}

// ---- The break key ------------------------------------------------------------

TEST_F(KlxCommand, BreakKeyStopsOrContinuesAsTheUserAnswers) {
  for (double type : {1.0, 2.0}) {
    SCOPED_TRACE(type == 1 ? "KLX" : "PQE");
    standin::CloseAddIn();
    standin::ResetQuietly();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    Data(400);
    std::string before = standin::CsvText(sheet_);
    standin::QueueDialog(Entries("A1:A400", "C1", 9, type, 20));
    standin::PressEscAfter(150);
    standin::QueueAlert(true);  // 'OK' to stop
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(Saw("Esc pressed"));
    EXPECT_TRUE(Saw(kKlxAborted));
    EXPECT_EQ(standin::CsvText(sheet_), before) << "nothing written";
    EXPECT_EQ(standin::StatusText(), "");
    EXPECT_EQ(standin::Selection(), "E5");

    // A stop leaves the break pending in the host; start afresh.
    standin::CloseAddIn();
    standin::ResetQuietly();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    Data(400);
    standin::QueueDialog(Entries("A1:A400", "C1", 9, type, 20));
    standin::PressEscAfter(150);
    standin::QueueAlert(false);  // 'Cancel' to continue
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(Saw("Esc pressed"));
    EXPECT_FALSE(Saw(kKlxAborted));
    ExpectColumn(2, 30, type == 1 ? KlxOf(x_, 9, 20) : PqeOf(x_, 9), 30);
  }
}

// ---- Running out of memory ----------------------------------------------------

TEST_F(KlxCommand, EveryAllocationFailureShowsItsMessageAndChangesNothing) {
  for (double type : {1.0, 2.0}) {
    int failures = 0;
    for (int k = 1; k < 20; ++k) {
      SCOPED_TRACE((type == 1 ? "KLX k=" : "PQE k=") + std::to_string(k));
      standin::CloseAddIn();
      standin::ResetQuietly();
      ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
      Data(6000);
      std::string before = standin::CsvText(sheet_);
      standin::QueueDialog(Entries("A1:A6000", "C1", 20, type, 0));
      standin::FailAllocation(k);
      EXPECT_EQ(Run(), 1);
      standin::FailAllocation(0);
      if (!Saw(kNoMemory)) {
        // Past the last allocation the run completes.
        EXPECT_FALSE(Saw(kKlxAborted));
        ExpectColumn(2, 30, type == 1 ? KlxOf(x_, 20, 0) : PqeOf(x_, 20), 30);
        break;
      }
      ++failures;
      EXPECT_TRUE(Saw(kKlxAborted));
      EXPECT_EQ(standin::CsvText(sheet_), before);
      EXPECT_EQ(standin::StatusText(), "");
      standin::CloseAddIn();
      standin::Accounting a = standin::GetAccounting();
      EXPECT_TRUE(a.Clean()) << (a.problems.empty() ? "leak" : a.problems.front());
    }
    // Dialog array, the answer's copy, data, output, [residuals,] band and
    // label.
    EXPECT_EQ(failures, type == 1 ? 6 : 7);
  }
}

// ---- Labels -------------------------------------------------------------------

TEST_F(KlxCommand, TwoTitlesOrAnotherSheetAskTheUserForTheLabel) {
  Data(100);
  // Titles in A1 and just above data that starts in A5.
  standin::SheetId sheet = standin::NewWorkbook("Book2.xls", "Data");
  std::vector<Value> cells = {std::string("Top"), Value{}, Value{}, std::string("Near")};
  cells.insert(cells.end(), x_.begin(), x_.end());
  standin::SetColumn(sheet, "A1", cells);
  sheet_ = sheet;
  standin::QueueDialog(Entries("A5:A104", "C1"));
  standin::QueueInput(Value(std::string("Mine")));
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("input \"Please enter text to use as label for your output column.\" -> Mine"));
  EXPECT_EQ(standin::GetCell(sheet, "C1"), Value(std::string("Mine_S10_P0")));
  ExpectColumn(2, 34, KlxOf(x_, 10, 0), 30);

  // Output on another sheet, no titles: asked too; Cancel gives no label.
  standin::SheetId other = standin::AddSheet("Book1.xls", "Out");
  standin::Activate(sheet_ = standin::FindSheet("Book1.xls", "Data"));
  standin::Select(sheet_, "E5");
  standin::QueueDialog(Entries("A1:A100", "[Book1.xls]Out!B1"));
  standin::QueueInput(std::nullopt);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Saw("input \"Please enter text to use as label for your output column.\" -> Cancel"));
  EXPECT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(other, "B1")));
  sheet_ = other;
  ExpectColumn(1, 30, KlxOf(x_, 10, 0), 30);
}

// ---- Direct calls from a macro ------------------------------------------------

class KlxMacro : public KlxCommand {
 protected:
  using KlxFn = int (*)(LPXLOPER, LPXLOPER, double*, double*);
  using PqeFn = int (*)(LPXLOPER, LPXLOPER, double*);

  void SetUp() override {
    KlxCommand::SetUp();
    module_ = dlopen(HVT_ADDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module_, nullptr);
    klx_ = reinterpret_cast<KlxFn>(dlsym(module_, "KLX"));
    pqe_ = reinterpret_cast<PqeFn>(dlsym(module_, "HalPQEX"));
    ASSERT_NE(klx_, nullptr);
    ASSERT_NE(pqe_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) dlclose(module_);
    KlxCommand::TearDown();
  }

  // A reference value to rows [first, last] of one column range.
  struct Ref {
    XLMREF table{};
    XLOPER value{};
    Ref(standin::SheetId sheet, int first, int last, int column, int lastColumn = -1,
        int areas = 1) {
      table.count = static_cast<WORD>(areas);
      table.reftbl[0] = XLREF{static_cast<WORD>(first), static_cast<WORD>(last),
                              static_cast<BYTE>(column),
                              static_cast<BYTE>(lastColumn < 0 ? column : lastColumn)};
      value.xltype = xltypeRef;
      value.val.mref.lpmref = &table;
      value.val.mref.idSheet = sheet;
    }
  };

  int Klx(XLOPER* data, XLOPER* out, double s, double p) { return klx_(data, out, &s, &p); }
  int Pqe(XLOPER* data, XLOPER* out, double s) { return pqe_(data, out, &s); }

  void* module_ = nullptr;
  KlxFn klx_ = nullptr;
  PqeFn pqe_ = nullptr;
};

TEST_F(KlxMacro, DirectCallAcceptsWiderSettingsAndClampsThePhase) {
  Data(120);
  Ref data(sheet_, 0, 119, 0), out(sheet_, 7, 9, 3);
  EXPECT_EQ(Klx(&data.value, &out.value, 10000, 150), 1);
  // Phase 150 runs as phase 100 would: the ratio is held at 2.5.
  ExpectColumn(3, 30, KlxOf(x_, 10000, 100), 30);
  EXPECT_EQ(FormulaLabelShows(sheet_, "D1"), "Col1_S1E+04_P150");

  Ref pqeOut(sheet_, 0, 0, 4);
  EXPECT_EQ(Pqe(&data.value, &pqeOut.value, 50), 1);
  ExpectColumn(4, 30, PqeOf(x_, 50), 30);
  EXPECT_EQ(FormulaLabelShows(sheet_, "E1"), "Col1_S50");
}

TEST_F(KlxMacro, NonNumberInTheDataWritesNothing) {
  Data(7000);
  standin::SetCell(sheet_, 6500, 0, std::string("gap"));
  Ref data(sheet_, 0, 6999, 0), out(sheet_, 0, 0, 2);
  EXPECT_EQ(Klx(&data.value, &out.value, 10, 0), -1);
  EXPECT_EQ(Pqe(&data.value, &out.value, 10), -1);
  EXPECT_EQ(Count("alert 3 \"Your data set contains a non-number!\" -> OK"), 2);
  ExpectColumnEmpty(2);
}

}  // namespace
}  // namespace hvt::testing
