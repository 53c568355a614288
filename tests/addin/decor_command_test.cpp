// The decorrelator's menu command end to end through the stand-in: dialog,
// checks, the written components, the coefficient sheet and file, the update
// formulas, the break key and memory failures.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "tests/addin/addin_fixture.h"
#include "tests/core/decor_whole_run.h"
#include "tools/decor/core/decor.h"

namespace hvt::testing {
namespace {

using standin::Value;

constexpr int kDataItem = 2;
constexpr int kOutputItem = 4;
constexpr int kFormulaGroup = 6;
constexpr int kFileItem = 9;
constexpr int kCancelItem = 10;

class DecorCommand : public AddInTest {
 protected:
  // N columns of correlated walks from A1 on sheet Data of Book1.xls.
  standin::SheetId SheetWithBlock(std::size_t rows, std::size_t columns,
                                  unsigned seed = 11) {
    sheet_ = standin::NewWorkbook("Book1.xls", "Data");
    data_.assign(rows * columns, 0);
    std::vector<double> base = Walk(rows, seed);
    for (std::size_t c = 0; c < columns; ++c) {
      std::vector<double> own = Walk(rows, seed + 1 + static_cast<unsigned>(c));
      for (std::size_t t = 0; t < rows; ++t) {
        double x = std::round((base[t] * (1 + 0.3 * c) + own[t]) * 1000) / 1000;
        data_[t * columns + c] = x;
        standin::SetCell(sheet_, static_cast<int>(t), static_cast<int>(c), x);
      }
    }
    rows_ = rows;
    columns_ = columns;
    return sheet_;
  }

  static std::string Column(int c) {
    std::string name;
    for (++c; c > 0; c = (c - 1) / 26) name.insert(name.begin(), char('A' + (c - 1) % 26));
    return name;
  }
  std::string DataRange() const {
    return "A1:" + Column(static_cast<int>(columns_) - 1) + std::to_string(rows_);
  }

  // Runs the menu item with the data range selected, answering the dialog.
  double RunMenu(const std::string& output, bool formulas = true, bool file = false) {
    standin::Select(sheet_, DataRange());
    standin::DialogReply reply;
    reply.set = {{kDataItem, Value{DataRange()}},
                 {kOutputItem, Value{output}},
                 {kFormulaGroup, Value{formulas ? 1.0 : 2.0}},
                 {kFileItem, Value{file}}};
    standin::QueueDialog(reply);
    return standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l");
  }

  static bool Said(const std::string& text) {
    for (const std::string& line : standin::Transcript()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // The transcript, for failure messages.
  static std::string Seen() {
    std::string all;
    for (const std::string& line : standin::Transcript()) all += line + "\n";
    for (const std::string& line : standin::Log()) all += "log: " + line + "\n";
    return all;
  }
  static int Count(const std::string& text) {
    int n = 0;
    for (const std::string& line : standin::Transcript()) {
      if (line.find(text) != std::string::npos) ++n;
    }
    return n;
  }

  decor::WholeRun Expected() const {
    decor::WholeRun r =
        decor::RunWhole(data_, rows_, columns_, {decor::Layout::kRowMajor});
    EXPECT_EQ(r.status, CoreStatus::kComplete);
    return r;
  }

  static bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

  // Every non-blank cell of every sheet, to compare a workbook before and
  // after a failed run.
  static std::vector<std::string> Snapshot() {
    std::vector<std::string> all;
    for (const std::string& book : standin::Workbooks()) {
      for (const std::string& sheet : standin::Sheets(book)) {
        all.push_back(book + "|" + sheet + "|" +
                      standin::CsvText(standin::FindSheet(book, sheet)));
      }
    }
    return all;
  }

  standin::SheetId sheet_ = 0;
  std::vector<double> data_;
  std::size_t rows_ = 0, columns_ = 0;
};

TEST_F(DecorCommand, MenuItemAndRegistrations) {
  bool found = false;
  for (const standin::MenuItem& item : standin::MenuItems(10, "Data")) {
    if (item.text == "UCX 2                        Alt,d,&l") {
      found = true;
      EXPECT_EQ(item.macro, "Decorel");
      EXPECT_EQ(item.status, "Decorrelate Data");
    }
  }
  EXPECT_TRUE(found);
  int ours = 0;
  for (const standin::Registration& r : standin::Registrations()) {
    if (r.function_text == "Decorel") {
      EXPECT_EQ(r.type_text, "J");
      ++ours;
    }
    if (r.function_text == "DecMacro") {
      EXPECT_EQ(r.type_text, "JRRA");
      EXPECT_EQ(r.argument_text, "DataRef, OutputRef, UpdateBool");
      ++ours;
    }
    if (r.function_text == "UpdateUCX") {
      EXPECT_EQ(r.type_text, "RRR");
      EXPECT_EQ(r.macro_type, "1");
      ++ours;
    }
  }
  EXPECT_EQ(ours, 3);
}

TEST_F(DecorCommand, WritesComponentsSignificanceCoefficientsAndLabels) {
  SheetWithBlock(60, 3);
  EXPECT_EQ(RunMenu("E1", /*formulas=*/false), 1);
  decor::WholeRun want = Expected();
  ASSERT_FALSE(Said("Aborted")) << Seen();

  for (int c = 0; c < 3; ++c) {
    std::string col = Column(4 + c);
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, col + "1")),
              "D_" + std::to_string(c + 1));
    EXPECT_TRUE(SameBits(Number(standin::GetCell(sheet_, 1, 4 + c)), want.significance[c]));
    for (int t = 0; t < 60; ++t) {
      ASSERT_TRUE(SameBits(Number(standin::GetCell(sheet_, 2 + t, 4 + c)),
                           want.scores[t * 3 + c]))
          << "row " << t << " column " << c;
    }
    EXPECT_EQ(standin::GetFormat(sheet_, col + "2").number_format, "0.00%");
    EXPECT_EQ(standin::GetFormat(sheet_, col + "3").number_format, "0.000");
    EXPECT_TRUE(standin::GetFormat(sheet_, col + "1").bold);
    EXPECT_EQ(standin::GetFormat(sheet_, col + "1").alignment, 3);
  }
  // Significances are descending and add up to one.
  double total = 0;
  for (int c = 0; c < 3; ++c) total += Number(standin::GetCell(sheet_, 1, 4 + c));
  EXPECT_NEAR(total, 1.0, 1e-12);

  standin::SheetId coef = standin::FindSheet("Book1.xls", "Data.COF");
  ASSERT_NE(coef, 0u);
  EXPECT_TRUE(standin::SheetHidden(coef));
  EXPECT_TRUE(standin::SheetProtected(coef));
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, r, c)), want.coefficients[r * 3 + c]));
    }
  }
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, 3, c)), want.means[c]));
    EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, 4, c)), want.sigmas[c]));
  }
  // The user is left on the output's first data cell.
  EXPECT_EQ(standin::ActiveSheet(), sheet_);
  EXPECT_EQ(standin::Selection(), "E3");
}

TEST_F(DecorCommand, LongInputGoesInBandsAndStillMatchesTheCore) {
  // 3 x 2,000 cells: bands of 1,800 rows and a last one of 200.
  SheetWithBlock(2000, 3, 5);
  EXPECT_EQ(RunMenu("F1", false), 1);
  decor::WholeRun want = Expected();
  standin::Grid got = standin::GetRange(sheet_, "F3:H2002");
  for (int t = 0; t < 2000; ++t) {
    for (int c = 0; c < 3; ++c) {
      ASSERT_TRUE(SameBits(Number(got.at(t, c)), want.scores[t * 3 + c])) << t;
    }
  }
}

TEST_F(DecorCommand, UpdateFormulasReproduceTheLastRowAndExtendDown) {
  SheetWithBlock(40, 3);
  EXPECT_EQ(RunMenu("E1", true), 1);
  decor::WholeRun want = Expected();
  standin::Recalculate();
  for (int c = 0; c < 3; ++c) {
    std::string cell = Column(4 + c) + "42";
    std::string formula = standin::GetFormula(sheet_, cell);
    EXPECT_NE(formula.find("UpdateUCX("), std::string::npos) << formula << Seen();
    // The formula's value is Σ z·k in input-column order.
    double expected = 0;
    for (int r = 0; r < 3; ++r) {
      double z = (data_[39 * 3 + r] - want.means[r]) / want.sigmas[r];
      expected = z * want.coefficients[r * 3 + c] + expected;
    }
    double got = Number(standin::GetCell(sheet_, cell));
    EXPECT_TRUE(SameBits(got, expected)) << got << " vs " << expected << " in " << formula;
    EXPECT_NEAR(got, want.scores[39 * 3 + c], 1e-9 * (1 + std::fabs(got)));
  }
  // The rows above keep the values.
  EXPECT_EQ(standin::GetFormula(sheet_, "E41"), "");

  // A new data row, and the formula row copied one row down: each formula
  // now reads the new row with the same coefficients.
  const double next[3] = {101.25, 97.5, 140.125};
  for (int r = 0; r < 3; ++r) standin::SetCell(sheet_, 40, r, next[r]);
  XLMREF fromTable{1, {{41, 41, 4, 6}}}, toTable{1, {{42, 42, 4, 6}}};
  XLOPER from{}, to{};
  from.xltype = to.xltype = xltypeRef;
  from.val.mref = {&fromTable, sheet_};
  to.val.mref = {&toTable, sheet_};
  ASSERT_EQ(Excel4(xlcCopy, nullptr, 2, &from, &to), xlretSuccess);
  standin::Recalculate();
  for (int c = 0; c < 3; ++c) {
    double expected = 0;
    for (int r = 0; r < 3; ++r) {
      double z = (next[r] - want.means[r]) / want.sigmas[r];
      expected = z * want.coefficients[r * 3 + c] + expected;
    }
    double got = Number(standin::GetCell(sheet_, 42, 4 + c));
    EXPECT_TRUE(SameBits(got, expected)) << got << " vs " << expected << " column " << c;
  }
}

// A host without workbooks keeps the coefficients in a document of their
// own, saved beside the data's file; the update formulas read it by name.
TEST_F(DecorCommand, OnAHostWithoutWorkbooksTheCoefficientDocumentSitsBesideTheData) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("decor_doc_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  standin::CloseAddIn();
  standin::Reset();
  standin::SetHostVersion("4.0");
  standin::SetWorkbooks(false);
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  {
    std::ofstream csv(dir / "DATA.CSV");
    csv.precision(17);
    std::vector<double> a = Walk(40, 5), b = Walk(40, 6);
    data_.clear();
    for (std::size_t t = 0; t < 40; ++t) {
      double x = std::round(a[t] * 1000) / 1000, y = std::round((a[t] + b[t]) * 1000) / 1000;
      csv << x << "," << y << "\n";
      data_.push_back(x);
      data_.push_back(y);
    }
  }
  sheet_ = standin::OpenCsvFile((dir / "DATA.CSV").string());
  rows_ = 40;
  columns_ = 2;
  EXPECT_EQ(RunMenu("D1", true), 1) << Seen();
  EXPECT_TRUE(fs::exists(dir / "DATA.COF")) << Seen();
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find('\\'), std::string::npos)
        << entry.path();
  standin::Recalculate();
  decor::WholeRun want = Expected();
  for (int c = 0; c < 2; ++c) {
    std::string cell = Column(3 + c) + "42";
    std::string formula = standin::GetFormula(sheet_, cell);
    EXPECT_NE(formula.find("UpdateUCX("), std::string::npos) << cell << " " << formula << Seen();
    double expected = 0;
    for (int r = 0; r < 2; ++r) {
      double z = (data_[39 * 2 + r] - want.means[r]) / want.sigmas[r];
      expected = z * want.coefficients[r * 2 + c] + expected;
    }
    Value got = standin::GetCell(sheet_, cell);
    ASSERT_TRUE(std::holds_alternative<double>(got)) << formula << " shows " << standin::Describe(got);
    EXPECT_TRUE(SameBits(std::get<double>(got), expected)) << formula;
  }
  fs::remove_all(dir);
}

TEST_F(DecorCommand, SecondRunReusesTheCoefficientSheet) {
  SheetWithBlock(30, 2);
  EXPECT_EQ(RunMenu("D1", false), 1);
  std::size_t sheets = standin::Sheets("Book1.xls").size();
  standin::ClearTranscript();
  EXPECT_EQ(RunMenu("D1", false), 1);
  EXPECT_EQ(standin::Sheets("Book1.xls").size(), sheets);
  // The sheet it protected without a password comes off without one.
  for (const std::string& line : standin::Transcript())
    EXPECT_EQ(line.find("password"), std::string::npos) << line;
  EXPECT_TRUE(standin::Log().empty());
  standin::SheetId coef = standin::FindSheet("Book1.xls", "Data.COF");
  ASSERT_NE(coef, 0u);
  EXPECT_TRUE(standin::SheetProtected(coef));
  EXPECT_TRUE(standin::SheetHidden(coef));
}

TEST_F(DecorCommand, CancelAtTheDialogEndsTheCommand) {
  SheetWithBlock(20, 2);
  standin::Select(sheet_, "A1:B20");
  standin::DialogReply cancel;
  cancel.press = kCancelItem;
  standin::QueueDialog(cancel);
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  EXPECT_TRUE(Said("Decorrelator Aborted!"));
  EXPECT_EQ(standin::FindSheet("Book1.xls", "Data.COF"), 0u);
  EXPECT_EQ(standin::Selection(), "A1:B20");
}

// Cancel ends the command but keeps the entries of the last run: the next
// showing offers them again, through the 4-series and the 12-series alike.
TEST_F(DecorCommand, CancelKeepsTheLastEntriesOnOldAndNewHosts) {
  for (const std::string version : {"8.0", "16.0"}) {
    SCOPED_TRACE("host " + version);
    standin::CloseAddIn();
    standin::ResetQuietly();
    standin::SetHostVersion(version);
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    SheetWithBlock(20, 2);
    ASSERT_EQ(RunMenu("G1", /*formulas=*/false), 1);
    ASSERT_FALSE(Said("Aborted")) << Seen();
    for (int showing = 0; showing < 2; ++showing) {
      standin::Select(sheet_, "J5");  // one cell: nothing offered in its place
      standin::DialogReply cancel;
      cancel.press = kCancelItem;
      standin::QueueDialog(cancel);
      EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
      EXPECT_EQ(standin::Showings().back().definition.at(kOutputItem, 6), Value{std::string("G1")})
          << "showing " << showing;
    }
  }
}

// Too far right is measured on the output's own sheet, in another book too.
TEST_F(DecorCommand, OutputInAnotherBookTooFarRightIsRefusedAndComesBack) {
  SheetWithBlock(20, 3);
  // An output sheet in another book, too far right for N columns.
  standin::SheetId other = standin::NewWorkbook("Book2.xls", "Out");
  (void)other;
  standin::Activate(sheet_);
  standin::ClearTranscript();
  standin::Select(sheet_, "A1");
  standin::DialogReply beyond_last_column;
  beyond_last_column.set = {{kDataItem, Value{std::string("[Book1.xls]Data!A1:C20")}},
             {kOutputItem, Value{std::string("[Book2.xls]Out!IU1")}}};
  standin::QueueDialog(beyond_last_column);
  standin::DialogReply back;  // the ALERT! box: correct it
  standin::QueueDialog(back);
  standin::DialogReply cancel;
  cancel.cancel = true;
  standin::QueueDialog(cancel);
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  EXPECT_TRUE(Said("Your first output column is too far to the right. Your output will "
                   "produce too many columns to begin where you've chosen!"));
  EXPECT_EQ(standin::Showings().back().title, "Decorrelation");
}

TEST_F(DecorCommand, WholeColumnsAreNarrowedToTheirData) {
  SheetWithBlock(25, 2);
  standin::Select(sheet_, "A1");
  standin::DialogReply whole;
  whole.set = {{kDataItem, Value{std::string("A:B")}}, {kOutputItem, Value{std::string("D1")}},
               {kFormulaGroup, Value{2.0}}};
  standin::QueueDialog(whole);
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  decor::WholeRun want = Expected();
  for (int t = 0; t < 25; ++t) {
    EXPECT_TRUE(SameBits(Number(standin::GetCell(sheet_, 2 + t, 3)), want.scores[t * 2]));
  }
  EXPECT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(sheet_, 27, 3)));
}

TEST_F(DecorCommand, BreakKeyStopsOrGoesOnAsTheUserSays) {
  SheetWithBlock(50, 3);
  std::vector<std::string> before = Snapshot();
  standin::PressEscAfter(3);
  standin::QueueAlert(true);  // 'OK' to stop
  RunMenu("E1", false);
  EXPECT_TRUE(Said("'OK' to stop, 'Cancel' to continue!"));
  EXPECT_TRUE(Said("Decorrelator Aborted!"));
  EXPECT_EQ(Snapshot(), before);

  // The break ended with the command that saw it; a new Esc, and this time
  // the user goes on.
  EXPECT_FALSE(standin::BreakPending());
  standin::ClearTranscript();
  standin::PressEscAfter(3);
  standin::QueueAlert(false);
  EXPECT_EQ(RunMenu("E1", false), 1);
  EXPECT_FALSE(Said("Aborted"));
  decor::WholeRun want = Expected();
  EXPECT_TRUE(SameBits(Number(standin::GetCell(sheet_, 2, 4)), want.scores[0]));
}

TEST_F(DecorCommand, NonNumberInTheInputWritesNothing) {
  SheetWithBlock(20, 2);
  standin::SetCell(sheet_, "B7", Value{std::string("x")});
  std::vector<std::string> before = Snapshot();
  RunMenu("D1", false);
  EXPECT_TRUE(Said("You have a non-number in your input and must change your spreadsheet!"));
  EXPECT_TRUE(Said("Decorrelator Aborted!"));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(DecorCommand, ConstantInputIsReportedNotWritten) {
  SheetWithBlock(10, 2);
  for (int t = 0; t < 10; ++t) {
    standin::SetCell(sheet_, t, 0, 5.0);
    standin::SetCell(sheet_, t, 1, -2.0);
  }
  std::vector<std::string> before = Snapshot();
  RunMenu("D1", false);
  EXPECT_TRUE(Said("Your input columns do not vary! There is nothing to decorrelate."));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(DecorCommand, CoefficientFileHoldsTheSheetsCells) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("decor_file_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path file = dir / "coef.ucx";
  fs::remove(file);

  SheetWithBlock(30, 2);
  standin::DialogReply save;
  save.set = {{2, Value{file.string()}}};
  save.press = 8;
  standin::QueueDialog([&] {
    standin::DialogReply r;
    r.set = {{kDataItem, Value{std::string("A1:B30")}},
             {kOutputItem, Value{std::string("D1")}}, {kFormulaGroup, Value{2.0}},
             {kFileItem, Value{true}}};
    return r;
  }());
  standin::QueueDialog(save);
  standin::Select(sheet_, "A1:B30");
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  // The default name offered is the sheet's short name with UCX.
  bool offered = false;
  for (const standin::DialogShowing& s : standin::Showings()) {
    if (s.title == "Save Coefficient File") {
      offered = standin::Describe(s.definition.at(2, 6)) == "Data.UCX";
    }
  }
  EXPECT_TRUE(offered);

  std::vector<unsigned char> bytes;
  {  // closed before the file is overwritten and removed (Windows refuses both)
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_EQ(bytes.size(), 80u);  // 16 + 8·4·2
  auto at = [&](std::size_t i) {
    std::uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[8 * i + b];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  };
  EXPECT_EQ(at(0), 4.0);
  EXPECT_EQ(at(1), 2.0);
  standin::SheetId coef = standin::FindSheet("Book1.xls", "Data.COF");
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 2; ++c) {
      EXPECT_TRUE(SameBits(at(2 + r * 2 + c), Number(standin::GetCell(coef, r, c))));
    }
  }

  // Save over an existing name comes back with the warning visible; then
  // Overwrite replaces it.
  std::ofstream(file, std::ios::binary) << "old";
  standin::ClearTranscript();
  standin::QueueDialog([&] {
    standin::DialogReply r;
    r.set = {{kDataItem, Value{std::string("A1:B30")}},
             {kOutputItem, Value{std::string("D1")}}, {kFormulaGroup, Value{2.0}},
             {kFileItem, Value{true}}};
    return r;
  }());
  standin::QueueDialog(save);
  standin::DialogReply overwrite;
  overwrite.press = 9;
  standin::QueueDialog(overwrite);
  standin::Select(sheet_, "A1:B30");
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown.back().title, "Save Coefficient File");
  EXPECT_EQ(standin::Describe(shown.back().definition.at(6, 2)), "170");
  EXPECT_EQ(fs::file_size(file), 80u);

  // Cancel: no file, and the user is told.
  standin::ClearTranscript();
  standin::QueueDialog([&] {
    standin::DialogReply r;
    r.set = {{kDataItem, Value{std::string("A1:B30")}},
             {kOutputItem, Value{std::string("D1")}}, {kFormulaGroup, Value{2.0}},
             {kFileItem, Value{true}}};
    return r;
  }());
  standin::DialogReply cancel;
  cancel.cancel = true;
  standin::QueueDialog(cancel);
  standin::Select(sheet_, "A1:B30");
  EXPECT_EQ(standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l"), 1);
  EXPECT_TRUE(Said("External coefficient file not created!"));
  fs::remove_all(dir);
}

// ---- The coefficient sheet: only ever its own, found by its whole name ----

TEST_F(DecorCommand, LaterRunOnChangedDataGivesWhatAFreshRunGives) {
  // A fresh run on the changed data, in a host of its own.
  auto change = [this] {
    for (int t = 0; t < 30; t += 3) {
      standin::SetCell(sheet_, t, 1, Number(standin::GetCell(sheet_, t, 1)) * 1.5 + t);
    }
  };
  auto everything = [] {
    standin::Recalculate();
    std::vector<std::string> all;
    for (const char* name : {"Data", "Data.COF"}) {
      for (const standin::CellState& c :
           standin::SheetContents(standin::FindSheet("Book1.xls", name))) {
        all.push_back(std::string(name) + " " + std::to_string(c.row) + "," +
                      std::to_string(c.column) + " " + c.text);
      }
    }
    return all;
  };
  SheetWithBlock(30, 2);
  change();
  ASSERT_EQ(RunMenu("D1", true), 1);
  std::vector<std::string> fresh = everything();
  ASSERT_FALSE(Said("Aborted")) << Seen();

  standin::CloseAddIn();
  standin::Reset();
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  SheetWithBlock(30, 2);
  ASSERT_EQ(RunMenu("D1", true), 1);
  std::vector<std::string> first = everything();
  change();
  standin::ClearTranscript();
  ASSERT_EQ(RunMenu("D1", true), 1);
  ASSERT_FALSE(Said("Aborted")) << Seen();
  EXPECT_FALSE(Said("host alert")) << Seen();
  std::vector<std::string> again = everything();
  EXPECT_NE(again, first);
  ASSERT_EQ(again.size(), fresh.size());
  for (std::size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i], fresh[i]);
}

TEST_F(DecorCommand, ASheetWhoseNameOnlyBeginsWithTheCoefficientNameIsLeftAlone) {
  SheetWithBlock(30, 2);
  standin::SheetId person = standin::AddSheet("Book1.xls", "data.cof2");
  standin::SetCell(person, "A1", 42.0);
  standin::Activate(sheet_);
  EXPECT_EQ(RunMenu("D1", false), 1);
  EXPECT_FALSE(Said("Aborted")) << Seen();
  standin::SheetId coef = standin::FindSheet("Book1.xls", "Data.COF");
  ASSERT_NE(coef, 0u);
  EXPECT_NE(coef, person);
  EXPECT_TRUE(standin::SheetHidden(coef));
  EXPECT_FALSE(standin::SheetHidden(person));
  EXPECT_FALSE(standin::SheetProtected(person));
  EXPECT_EQ(standin::SheetContents(person).size(), 1u);
  EXPECT_EQ(Number(standin::GetCell(person, "A1")), 42.0);
}

TEST_F(DecorCommand, ACoefficientSheetThatWouldBeTheInputOrOutputIsRefusedFirst) {
  // Input on "Stats.COF": its coefficient sheet would be itself.
  sheet_ = standin::NewWorkbook("Book1.xls", "Stats.COF");
  rows_ = 20;
  columns_ = 2;
  data_.clear();
  for (int t = 0; t < 20; ++t) {
    standin::SetCell(sheet_, t, 0, Walk(20, 3)[t]);
    standin::SetCell(sheet_, t, 1, Walk(20, 4)[t]);
  }
  std::vector<std::string> before = Snapshot();
  RunMenu("D1", false);
  EXPECT_TRUE(Said("Your coefficient sheet would be your input or output sheet! "
                   "Rename your sheet.")) << Seen();
  EXPECT_TRUE(Said("Decorrelator Aborted!"));
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(standin::SheetHidden(sheet_));
  EXPECT_FALSE(standin::SheetProtected(sheet_));

  // Output on a sheet named like the input's coefficient sheet.
  standin::CloseAddIn();
  standin::Reset();
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  SheetWithBlock(20, 2);
  standin::SheetId out = standin::AddSheet("Book1.xls", "Data.COF");
  standin::Activate(sheet_);
  before = Snapshot();
  standin::Select(sheet_, DataRange());
  standin::QueueDialog([&] {
    standin::DialogReply r;
    r.set = {{kDataItem, Value{DataRange()}}, {kOutputItem, Value{std::string("Data.COF!A1")}},
             {kFormulaGroup, Value{2.0}}};
    return r;
  }());
  standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l");
  EXPECT_TRUE(Said("Your coefficient sheet would be your input or output sheet!")) << Seen();
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(standin::SheetHidden(out));
  EXPECT_FALSE(standin::SheetProtected(out));
}

TEST_F(DecorCommand, ANameOverThirtyOneCharactersIsRefusedBeforeAnySheetIsAdded) {
  // 27 characters, then ".COF": 31, taken.
  const std::string fits(27, 'x');
  for (const std::string& name : {fits, fits + "y"}) {
    SCOPED_TRACE(name);
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    sheet_ = standin::NewWorkbook("Book1.xls", name);
    rows_ = 20;
    columns_ = 2;
    for (int t = 0; t < 20; ++t) {
      standin::SetCell(sheet_, t, 0, Walk(20, 3)[t]);
      standin::SetCell(sheet_, t, 1, Walk(20, 4)[t]);
    }
    std::vector<std::string> before = Snapshot();
    RunMenu("D1", false);
    if (name == fits) {
      EXPECT_FALSE(Said("Aborted")) << Seen();
      EXPECT_NE(standin::FindSheet("Book1.xls", name + ".COF"), 0u);
      continue;
    }
    EXPECT_TRUE(Said("Your coefficient sheet's name would be longer than 31 characters! "
                     "Use a shorter sheet name.")) << Seen();
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(standin::Sheets("Book1.xls").size(), 1u);
  }
}

TEST_F(DecorCommand, OutputInAnotherWorkbookIsRefusedBeforeAnythingIsWritten) {
  SheetWithBlock(20, 2);
  standin::NewWorkbook("Book2.xls", "Out");
  standin::Activate(sheet_);
  std::vector<std::string> before = Snapshot();
  standin::Select(sheet_, DataRange());
  standin::QueueDialog([&] {
    standin::DialogReply r;
    r.set = {{kDataItem, Value{std::string("[Book1.xls]Data!A1:B20")}},
             {kOutputItem, Value{std::string("[Book2.xls]Out!A1")}},
             {kFormulaGroup, Value{1.0}}};
    return r;
  }());
  standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l");
  EXPECT_TRUE(Said("Your output must be in the workbook of your input!")) << Seen();
  EXPECT_TRUE(Said("Decorrelator Aborted!"));
  EXPECT_EQ(Snapshot(), before);
}

// Every failure while saving, and every Esc, leaves the old file as it was
// or the whole new one, and never a part file beside it.
TEST_F(DecorCommand, AFailedSaveLeavesTheOldFileWhole) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("decor_keep_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path file = dir / "coef.ucx";
  int kept = 0, replaced = 0;
  for (int k = 1; k < 400; ++k) {
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    std::ofstream(file, std::ios::binary) << "old";
    SheetWithBlock(30, 2);
    standin::Select(sheet_, "A1:B30");
    standin::DialogReply r;
    r.set = {{kDataItem, Value{std::string("A1:B30")}}, {kOutputItem, Value{std::string("D1")}},
             {kFormulaGroup, Value{2.0}}, {kFileItem, Value{true}}};
    standin::QueueDialog(r);
    standin::DialogReply overwrite;
    overwrite.set = {{2, Value{file.string()}}};
    overwrite.press = 9;
    standin::QueueDialog(overwrite);
    standin::QueueDialog(overwrite);  // once more after a failed save
    standin::DialogReply cancel;
    cancel.cancel = true;
    standin::QueueDialog(cancel);
    standin::FailAllocation(k);
    standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l");
    bool past = standin::AllocationFailurePending();
    standin::FailAllocation(0);
    std::uintmax_t size = fs::file_size(file);
    EXPECT_TRUE(size == 3u || size == 80u) << "allocation " << k << ": " << size;
    (size == 3u ? kept : replaced) += 1;
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_EQ(entry.path(), file) << "allocation " << k;
    }
    if (past) break;
  }
  EXPECT_GE(kept, 1);
  EXPECT_GE(replaced, 1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hvt::testing

namespace hvt::testing {
namespace {

// UpdateUCX over a coefficient block laid out by hand on sheet Coef:
// N coefficient rows, then means, then sigmas; data in one row of Data.
class UpdateUcx : public AddInTest {
 protected:
  void SetUp() override {
    AddInTest::SetUp();
    data_ = standin::NewWorkbook("Book1.xls", "Data");
    coef_ = standin::AddSheet("Book1.xls", "Coef");
    const double k[3][3] = {{0.5, -1.25, 2}, {3, 0.125, -0.75}, {-2, 1.5, 0.25}};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) standin::SetCell(coef_, r, c, k[r][c]);
    for (int c = 0; c < 3; ++c) {
      standin::SetCell(coef_, 3, c, 10.0 + c);       // means
      standin::SetCell(coef_, 4, c, 0.5 + 0.25 * c); // sigmas
      standin::SetCell(data_, 0, c, 12.0 - 3 * c);
    }
    standin::Activate(data_);
  }
  int Error(const std::string& formula) { return ErrorOf(standin::Evaluate(formula)); }
  standin::SheetId data_ = 0, coef_ = 0;
};

TEST_F(UpdateUcx, SumsStandardisedInputsTimesCoefficients) {
  for (int column = 0; column < 3; ++column) {
    std::string col(1, char('A' + column));
    standin::Evaluation e =
        standin::Evaluate("=UpdateUCX(Coef!" + col + "1:" + col + "5,A1:C1)");
    ASSERT_EQ(e.result.cells.size(), 1u);
    double expected = 0;
    for (int c = 0; c < 3; ++c) {
      double z = (Number(standin::GetCell(data_, 0, c)) - Number(standin::GetCell(coef_, 3, c))) /
                 Number(standin::GetCell(coef_, 4, c));
      expected = z * Number(standin::GetCell(coef_, c, column)) + expected;
    }
    EXPECT_EQ(Number(e.result.cells[0]), expected) << column;
  }
}

// Out of memory at any allocation of a call: the same number, an error
// value or no value, never a crash, and nothing held afterwards.
TEST_F(UpdateUcx, AMemoryFailureAtEveryAllocationGivesTheNumberOrAnError) {
  const std::string formula = "=UpdateUCX(Coef!B1:B5,A1:C1)";
  standin::Evaluation whole = standin::Evaluate(formula);
  ASSERT_EQ(whole.result.cells.size(), 1u);
  const double expected = Number(whole.result.cells[0]);
  // What the open add-in holds between calls (its dialog arrays).
  const long long held = standin::GetAccounting().global_blocks;
  int errors = 0, k = 1;
  for (; k < 200; ++k) {
    standin::FailAllocation(k);
    standin::Evaluation e = standin::Evaluate(formula);
    bool past = standin::AllocationFailurePending();
    standin::FailAllocation(0);
    // No value (a null answer, which the host shows as an error) or one.
    if (!e.no_value) {
      ASSERT_EQ(e.result.cells.size(), 1u) << k;
    }
    const Value v = e.no_value ? Value{standin::Error{xlerrNum}} : e.result.cells[0];
    if (std::holds_alternative<standin::Error>(v)) {
      ++errors;
    } else {
      EXPECT_EQ(Number(v), expected) << k;
    }
    EXPECT_EQ(standin::GetAccounting().outstanding_values, 0) << k;
    EXPECT_EQ(standin::GetAccounting().global_blocks, held) << k;
    if (past) break;
  }
  RecordProperty("allocations", k - 1);
  RecordProperty("errors", errors);
}

TEST_F(UpdateUcx, FailureTable) {
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A4,A1:C1)"), xlerrRef);   // N + 1 cells
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:B5,A1:C1)"), xlerrRef);   // two columns
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,A1:A3)"), xlerrRef);   // data as a column
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A3,A1:A1)"), xlerrRef);   // N = 1
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,#DIV/0!)"), xlerrDiv0);
  EXPECT_EQ(Error("=UpdateUCX(#N/A,A1:C1)"), xlerrNA);
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,5)"), xlerrValue);
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5)"), xlerrNA);          // missing
  standin::SetCell(data_, "B1", Value{std::string("text")});
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,A1:C1)"), xlerrNum);
  standin::SetCell(data_, "B1", Value{standin::Blank{}});
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,A1:C1)"), xlerrNum);
  standin::SetCell(data_, "B1", 4.0);
  standin::SetCell(coef_, "A2", Value{std::string("k")});
  EXPECT_EQ(Error("=UpdateUCX(Coef!A1:A5,A1:C1)"), xlerrNum);
}

}  // namespace
}  // namespace hvt::testing
