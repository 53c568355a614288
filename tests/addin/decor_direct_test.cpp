// The decorrelator called as a macro-sheet procedure, the selection offered
// in its dialog, and its coefficient sheet on hosts before version 5 and on
// hosts without workbooks.
#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>

#include "tests/addin/addin_fixture.h"
#include "tests/core/decor_whole_run.h"
#include "tools/decor/core/decor.h"

namespace hvt::testing {
namespace {

using standin::Value;

constexpr const char* kDecorMenuItem = "UCX 2                        Alt,d,l";

// Columns of correlated walks, the expected core result, and a reference
// value as a macro sheet passes it.
class DecorDirect : public AddInTest {
 protected:
  using DecorFn = int (*)(LPXLOPER, LPXLOPER, short);

  using Ref = MacroRef;

  void Fill(standin::SheetId sheet, std::size_t rows, std::size_t columns, int top = 0,
            unsigned seed = 23) {
    data_.assign(rows * columns, 0);
    std::vector<double> base = Walk(rows, seed);
    for (std::size_t c = 0; c < columns; ++c) {
      std::vector<double> own = Walk(rows, seed + 3 + static_cast<unsigned>(c));
      for (std::size_t t = 0; t < rows; ++t) {
        double x = std::round((base[t] * (1 - 0.2 * c) + own[t]) * 1000) / 1000;
        data_[t * columns + c] = x;
        standin::SetCell(sheet, top + static_cast<int>(t), static_cast<int>(c), x);
      }
    }
    rows_ = rows;
    columns_ = columns;
  }

  decor::WholeRun Expected() const {
    decor::WholeRun r = decor::RunWhole(data_, rows_, columns_, {decor::Layout::kRowMajor});
    EXPECT_EQ(r.status, CoreStatus::kComplete);
    return r;
  }

  DecorFn Decor() { return Procedure<DecorFn>("Decor"); }

  // The add-in module outlives its host sessions and keeps the row limit it
  // read; after an older host, let the command read today's again so later
  // tests do not inherit 16,384 rows.
  void TearDown() override {
    if (reopened_) {
      Reopen("8.0", true);
      standin::NewWorkbook("Book1.xls", "Data");
      standin::DialogReply cancel;
      cancel.cancel = true;
      standin::QueueDialog(cancel);
      standin::ChooseMenuItem("Data", kDecorMenuItem);
    }
    AddInTest::TearDown();
  }

  // A fresh host of another kind with the add-in open again.
  void Reopen(const std::string& version, bool workbooks) {
    reopened_ = true;
    standin::CloseAddIn();
    standin::Reset();
    standin::SetHostVersion(version);
    standin::SetWorkbooks(workbooks);
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }

  static bool Said(const std::string& text) {
    for (const std::string& line : standin::Transcript())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  static std::string Seen() {
    std::string all;
    for (const std::string& line : standin::Transcript()) all += line + "\n";
    for (const std::string& line : standin::Log()) all += "log: " + line + "\n";
    return all;
  }
  static std::vector<std::string> Snapshot() {
    std::vector<std::string> all;
    for (const std::string& book : standin::Workbooks())
      for (const std::string& sheet : standin::Sheets(book))
        all.push_back(book + "|" + sheet + "|" + standin::CsvText(standin::FindSheet(book, sheet)));
    return all;
  }
  static bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

  // The scores the core gives, × 1,000 as written, in columns from `column`
  // and rows from `top`.
  void ExpectScores(standin::SheetId sheet, int top, int column) {
    decor::WholeRun want = Expected();
    for (std::size_t t = 0; t < rows_; ++t)
      for (std::size_t c = 0; c < columns_; ++c) {
        double got = Number(standin::GetCell(sheet, top + static_cast<int>(t),
                                             column + static_cast<int>(c)));
        ASSERT_TRUE(SameBits(got, want.scores[t * columns_ + c])) << t << "," << c;
      }
  }
  void ExpectCoefficients(standin::SheetId coef) {
    decor::WholeRun want = Expected();
    const std::size_t n = columns_;
    for (std::size_t r = 0; r < n; ++r)
      for (std::size_t c = 0; c < n; ++c)
        EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, static_cast<int>(r), static_cast<int>(c))),
                             want.coefficients[r * n + c]));
    for (std::size_t c = 0; c < n; ++c) {
      EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, static_cast<int>(n), static_cast<int>(c))),
                           want.means[c]));
      EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, static_cast<int>(n) + 1, static_cast<int>(c))),
                           want.sigmas[c]));
    }
  }

  std::vector<double> data_;
  std::size_t rows_ = 0, columns_ = 0;
  bool reopened_ = false;
};

// A sound call: the components from row 3, no save dialog, and an output to
// the left of the input on another sheet is fine. (Its refusals are in
// direct_checks_test.cpp.)
TEST_F(DecorDirect, MacroSheetCallWritesFromRowThreeAndSavesNoFile) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  Fill(data, 20, 3);
  DecorFn decor = Decor();
  ASSERT_NE(decor, nullptr);
  Ref input(data, 0, 19, 0, 2);
  standin::ClearTranscript();
  standin::SheetId out = standin::AddSheet("Book1.xls", "Out");
  Ref left(out, 0, 0, 0, 0);
  EXPECT_EQ(decor(&input.value, &left.value, 0), 1) << Seen();
  ExpectScores(out, 2, 0);
  ExpectCoefficients(standin::FindSheet("Book1.xls", "Data.COF"));
  for (const standin::DialogShowing& s : standin::Showings())
    EXPECT_NE(s.title, "Save Coefficient File");
}

TEST_F(DecorDirect, DialogOffersTheSelectionAndFocusesTheOutputBox) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  Fill(data, 30, 2);
  standin::Select(data, "A1:B30");
  // Only the output box is typed into: the offered data text must do.
  standin::DialogReply reply;
  reply.set = {{4, Value{std::string("D1")}}, {6, Value{2.0}}};
  standin::QueueDialog(reply);
  EXPECT_EQ(standin::ChooseMenuItem("Data", kDecorMenuItem), 1);
  ASSERT_FALSE(Said("Aborted")) << Seen();
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().title, "Decorrelation");
  EXPECT_EQ(standin::Describe(shown.front().definition.at(2, 6)), "[Book1.xls]Data!R1C1:R30C2");
  EXPECT_EQ(standin::Describe(shown.front().definition.at(0, 6)), "4");
  ExpectScores(data, 2, 3);

  // One cell selected on the same sheet: the last answer comes back, still
  // with the focus on the output box.
  standin::ClearTranscript();
  standin::Select(data, "A1");
  standin::DialogReply cancel;
  cancel.cancel = true;
  standin::QueueDialog(cancel);
  standin::ChooseMenuItem("Data", kDecorMenuItem);
  shown = standin::Showings();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(standin::Describe(shown.front().definition.at(4, 6)), "D1");
  EXPECT_EQ(standin::Describe(shown.front().definition.at(0, 6)), "4");
}

TEST_F(DecorDirect, HostsBeforeVersion5KeepTheSheetAndTakeAFailedOneAway) {
  Reopen("4.0", true);
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  Fill(data, 25, 3);
  standin::Select(data, "A1:C25");
  standin::DialogReply reply;
  reply.set = {{2, Value{std::string("A1:C25")}}, {4, Value{std::string("E1")}}, {6, Value{2.0}}};
  standin::QueueDialog(reply);
  EXPECT_EQ(standin::ChooseMenuItem("Data", kDecorMenuItem), 1);
  ASSERT_FALSE(Said("Aborted")) << Seen();
  ExpectScores(data, 2, 4);
  standin::SheetId coef = standin::FindSheet("Book1.xls", "Data.COF");
  ASSERT_NE(coef, 0u) << Seen();
  ExpectCoefficients(coef);
  EXPECT_TRUE(standin::SheetProtected(coef));
  // Hiding goes through a window of the sheet's own, which the host does
  // not model; what must hold is that the user's window stays.
  EXPECT_FALSE(standin::WorkbookHidden("Book1.xls"));

  // A failed run on a new sheet takes that sheet away again.
  standin::SheetId other = standin::AddSheet("Book1.xls", "More");
  Fill(other, 25, 3);
  std::vector<std::string> before = Snapshot();
  standin::ClearTranscript();
  standin::SetCell(other, "B9", Value{std::string("x")});
  before = Snapshot();
  standin::Select(other, "A1:C25");
  standin::DialogReply again;
  again.set = {{2, Value{std::string("A1:C25")}}, {4, Value{std::string("E1")}}, {6, Value{2.0}}};
  standin::QueueDialog(again);
  standin::ChooseMenuItem("Data", kDecorMenuItem);
  EXPECT_TRUE(Said("You have a non-number in your input")) << Seen();
  EXPECT_EQ(standin::FindSheet("Book1.xls", "More.COF"), 0u);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(DecorDirect, HostsWithoutWorkbooksKeepTheCoefficientsInADocumentSavedBesideTheData) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("decor_doc_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path previous = fs::current_path();
  fs::current_path(dir);
  Reopen("4.0", false);
  standin::SheetId data = standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  Fill(data, 20, 2);
  standin::Select(data, "A1:B20");
  standin::DialogReply reply;
  reply.set = {{2, Value{std::string("A1:B20")}}, {4, Value{std::string("D1")}}, {6, Value{2.0}}};
  standin::QueueDialog(reply);
  EXPECT_EQ(standin::ChooseMenuItem("Data", kDecorMenuItem), 1);
  EXPECT_FALSE(Said("Aborted")) << Seen();
  ExpectScores(data, 2, 3);
  standin::SheetId coef = standin::FindSheet("DATA.COF", "DATA.COF");
  ASSERT_NE(coef, 0u) << Seen();
  ExpectCoefficients(coef);
  EXPECT_TRUE(standin::WorkbookHidden("DATA.COF"));
  EXPECT_TRUE(fs::exists(dir / "DATA.COF")) << Seen();
  // A second run finds the document by name rather than making another.
  std::size_t books = standin::Workbooks().size();
  standin::Select(data, "A1:B20");
  standin::QueueDialog(reply);
  EXPECT_EQ(standin::ChooseMenuItem("Data", kDecorMenuItem), 1);
  EXPECT_EQ(standin::Workbooks().size(), books) << Seen();
  fs::current_path(previous);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hvt::testing
