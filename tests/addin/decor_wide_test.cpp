// The decorrelator's coefficient sheet, update formulas and coefficient
// file on a host of version 16, where every call that carries a sheet or
// book name goes through the 12-series: a data sheet whose name is not
// ASCII, a first run and a second one over the same coefficient sheet.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

#include "tests/addin/addin_fixture.h"
#include "tests/core/decor_whole_run.h"

namespace hvt::testing {
namespace {

using standin::Value;

// "Цены" (prices) and "Цена" (price) in UTF-8, as the stand-in keeps texts.
const std::string kBook = "\xd0\xa6\xd0\xb5\xd0\xbd\xd1\x8b.xlsx";
const std::string kSheet = "\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0";
const std::string kCoefficients = kSheet + ".COF";

class DecorWide : public AddInTest {
 protected:
  void SetUp() override {
    standin::Reset();
    standin::SetHostVersion("16.0");
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const std::string& line : standin::Transcript()) std::cerr << "  | " << line << "\n";
      for (const std::string& line : standin::Log()) std::cerr << "  log: " << line << "\n";
    }
    AddInTest::TearDown();
  }

  // Three correlated columns A:C of `rows` rows on the sheet "Цена".
  void Block(std::size_t rows, unsigned seed) {
    if (sheet_ == 0) sheet_ = standin::NewWorkbook(kBook, kSheet);
    data_.assign(rows * kColumns, 0);
    std::vector<double> base = Walk(rows, seed);
    for (std::size_t c = 0; c < kColumns; ++c) {
      std::vector<double> own = Walk(rows, seed + 1 + static_cast<unsigned>(c));
      for (std::size_t t = 0; t < rows; ++t) {
        double x = std::round((base[t] * (1 + 0.3 * c) + own[t]) * 1000) / 1000;
        data_[t * kColumns + c] = x;
        standin::SetCell(sheet_, static_cast<int>(t), static_cast<int>(c), x);
      }
    }
    rows_ = rows;
  }

  // Column letters of a 0-based column.
  static std::string Column(int c) {
    std::string name;
    for (++c; c > 0; c = (c - 1) / 26) name.insert(name.begin(), char('A' + (c - 1) % 26));
    return name;
  }

  // The menu item with the block selected; output from row 1 of column
  // `output_`, update formulas on.
  double RunMenu(const std::filesystem::path* file = nullptr) {
    const std::string range = "A1:C" + std::to_string(rows_);
    standin::Select(sheet_, range);
    standin::DialogReply reply;
    reply.set = {{2, Value{range}}, {4, Value{Column(output_) + "1"}}, {6, Value{1.0}},
                 {9, Value{file != nullptr}}};
    standin::QueueDialog(reply);
    if (file != nullptr) {
      standin::DialogReply save;
      save.set = {{2, Value{file->string()}}};
      save.press = 8;
      standin::QueueDialog(save);
    }
    return standin::ChooseMenuItem("Data", "UCX 2                        Alt,d,l");
  }

  static bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

  // The coefficient sheet holds the core's coefficients, means and sigmas,
  // and the update formulas in the output's last data row evaluate to
  // Σ z·k over the last data row.
  void ExpectRun(standin::SheetId coef) {
    decor::WholeRun want =
        decor::RunWhole(data_, rows_, kColumns, {decor::Layout::kRowMajor});
    ASSERT_EQ(want.status, CoreStatus::kComplete);
    EXPECT_TRUE(standin::SheetHidden(coef));
    EXPECT_TRUE(standin::SheetProtected(coef));
    for (std::size_t r = 0; r < kColumns; ++r) {
      for (std::size_t c = 0; c < kColumns; ++c) {
        EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, int(r), int(c))),
                             want.coefficients[r * kColumns + c]))
            << r << "," << c;
      }
    }
    for (std::size_t c = 0; c < kColumns; ++c) {
      EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, kColumns, int(c))), want.means[c]));
      EXPECT_TRUE(SameBits(Number(standin::GetCell(coef, kColumns + 1, int(c))), want.sigmas[c]));
    }
    standin::Recalculate();
    const std::size_t last = rows_ - 1;
    for (std::size_t c = 0; c < kColumns; ++c) {
      const int row = static_cast<int>(rows_ + 1), column = output_ + static_cast<int>(c);
      std::string formula = standin::GetFormula(sheet_, Column(column) + std::to_string(row + 1));
      EXPECT_NE(formula.find("UpdateUCX("), std::string::npos) << formula;
      EXPECT_NE(formula.find(kCoefficients), std::string::npos) << formula;
      double expected = 0;
      for (std::size_t r = 0; r < kColumns; ++r) {
        double z = (data_[last * kColumns + r] - want.means[r]) / want.sigmas[r];
        expected = z * want.coefficients[r * kColumns + c] + expected;
      }
      Value got = standin::GetCell(sheet_, row, column);
      ASSERT_TRUE(std::holds_alternative<double>(got)) << formula << " shows "
                                                       << standin::Describe(got);
      EXPECT_TRUE(SameBits(std::get<double>(got), expected)) << formula;
    }
  }

  static constexpr std::size_t kColumns = 3;
  standin::SheetId sheet_ = 0;
  std::vector<double> data_;
  std::size_t rows_ = 0;
  int output_ = 4;  // E
};

TEST_F(DecorWide, AUnicodeSheetGetsItsCoefficientSheetFormulasAndFilePastTheOldColumns) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("decor_wide_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path file = dir / "coef.ucx";
  fs::remove(file);

  // The output past the old sheet's 256 columns: its sheet's name, its
  // formulas and their anchors only reach the host through the 12-series.
  Block(40, 11);
  output_ = 299;  // KN
  EXPECT_EQ(RunMenu(&file), 1);
  standin::SheetId coef = standin::FindSheet(kBook, kCoefficients);
  ASSERT_NE(coef, 0u);
  ExpectRun(coef);
  // The default file name offered is the coefficient sheet's, with UCX.
  bool offered = false;
  for (const standin::DialogShowing& s : standin::Showings()) {
    if (s.title == "Save Coefficient File") {
      offered = standin::Describe(s.definition.at(2, 6)) == kSheet + ".UCX";
    }
  }
  EXPECT_TRUE(offered);

  // The file: rows and columns, then the sheet's cells row by row.
  std::vector<unsigned char> bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  fs::remove_all(dir);
  const std::size_t rows = kColumns + 2;
  ASSERT_EQ(bytes.size(), 16 + 8 * rows * kColumns);
  auto at = [&](std::size_t i) {
    std::uint64_t bits = 0;
    for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[8 * i + b];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  };
  EXPECT_EQ(at(0), double(rows));
  EXPECT_EQ(at(1), double(kColumns));
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < kColumns; ++c) {
      EXPECT_TRUE(SameBits(at(2 + r * kColumns + c),
                           Number(standin::GetCell(coef, int(r), int(c)))));
    }
  }
  // The person is left on the output's first data cell of the data sheet.
  EXPECT_EQ(standin::ActiveSheet(), sheet_);
  EXPECT_EQ(standin::Selection(), Column(output_) + "3");
}

TEST_F(DecorWide, ASecondRunRewritesTheSameCoefficientSheet) {
  Block(30, 5);
  EXPECT_EQ(RunMenu(), 1);
  const std::size_t sheets = standin::Sheets(kBook).size();
  const standin::SheetId first = standin::FindSheet(kBook, kCoefficients);
  ASSERT_NE(first, 0u);

  // New numbers in the same block: the sheet found by its name is unhidden,
  // unprotected, rewritten, and protected and hidden again.
  Block(30, 23);
  EXPECT_EQ(RunMenu(), 1);
  EXPECT_EQ(standin::Sheets(kBook).size(), sheets);
  EXPECT_EQ(standin::FindSheet(kBook, kCoefficients), first);
  ExpectRun(first);
  EXPECT_TRUE(standin::Log().empty());
}

// A run that fails once its new coefficient sheet is there takes the sheet
// away again by its name, and leaves the book as it found it.
TEST_F(DecorWide, AFailedRunTakesItsNewCoefficientSheetAway) {
  Block(20, 3);
  standin::SetCell(sheet_, "B7", Value{std::string("x")});
  const std::vector<std::string> sheets = standin::Sheets(kBook);
  const std::string cells = standin::CsvText(sheet_);
  RunMenu();
  bool told = false;
  for (const std::string& line : standin::Transcript()) {
    told = told || line.find("You have a non-number in your input") != std::string::npos;
  }
  EXPECT_TRUE(told);
  EXPECT_EQ(standin::Sheets(kBook), sheets);
  EXPECT_EQ(standin::FindSheet(kBook, kCoefficients), 0u);
  EXPECT_EQ(standin::CsvText(sheet_), cells);
}

// The 31-character limit on the coefficient sheet's name counts the
// characters a 12-series host counts, not the bytes of their UTF-8.
TEST_F(DecorWide, TheNameLimitCountsCharacters) {
  std::string fits;
  for (int i = 0; i < 27; ++i) fits += "\xd0\x96";  // 27 x "Ж", then ".COF": 31
  for (const std::string& name : {fits, fits + "\xd0\x96"}) {
    SCOPED_TRACE(name.size());
    standin::CloseAddIn();
    standin::Reset();
    standin::SetHostVersion("16.0");
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    sheet_ = standin::NewWorkbook(kBook, name);
    Block(20, 3);
    RunMenu();
    bool refused = false;
    for (const std::string& line : standin::Transcript()) {
      refused = refused || line.find("would be longer than 31 characters") != std::string::npos;
    }
    EXPECT_EQ(refused, name != fits);
    EXPECT_EQ(standin::FindSheet(kBook, name + ".COF") != 0u, name == fits);
    EXPECT_EQ(standin::Sheets(kBook).size(), name == fits ? 2u : 1u);
  }
}

}  // namespace
}  // namespace hvt::testing
