// The commands on a host of version 16: the dialog, the references, the
// bands and the labels or titles through the 12-series, over columns longer
// than the old sheet and a sheet whose name is not ASCII; and KLX's
// promises there (nothing written on Esc or when memory runs out; the other
// commands' are walked in promise_test.cpp).
#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <span>

#include "tests/addin/addin_fixture.h"
#include "tests/addin/klx_expected.h"
#include "tests/core/decor_whole_run.h"
#include "tools/blk/core/blk.h"
#include "tools/decor/core/decor.h"
#include "tools/gtn/core/gtn.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/spd/core/spd.h"

namespace hvt::testing {
namespace {

using standin::DialogReply;
using standin::Value;

constexpr char kAborted[] = "alert 3 \"KLX Aborted!\" -> OK";
// "Цена" (price) in UTF-8, as the stand-in's byte texts carry it.
const std::string kPrice = "\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0";

class WideCommand : public AddInTest {
 protected:
  void SetUp() override {
    standin::Reset();
    standin::SetHostVersion("16.0");
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const std::string& line : standin::Transcript()) std::cerr << "  | " << line << "\n";
    }
    AddInTest::TearDown();
  }
  void Reload() {
    standin::CloseAddIn();
    standin::ResetQuietly();
    standin::SetHostVersion("16.0");
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }

  // Column A of a sheet named "Цена": the title "Цена", then n numbers.
  void Data(std::size_t n) {
    x_ = Walk(n, 5);
    sheet_ = standin::NewWorkbook("Big.xlsx", kPrice);
    std::vector<Value> cells{Value{kPrice}};
    cells.insert(cells.end(), x_.begin(), x_.end());
    standin::SetColumn(sheet_, "A1", cells);
  }
  // The dialog answered with the data box as the selection filled it.
  static DialogReply Entries(const std::string& output, double type, double phase = 0) {
    DialogReply reply;
    reply.set = {{4, output}, {6, 10.0}, {8, type}};
    if (type == 1) reply.set.push_back({12, phase});
    return reply;
  }
  static bool Saw(const std::string& line) {
    std::vector<std::string> t = standin::Transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
  }
  // Column rows from `first` on equal values[from..] bit for bit.
  void ExpectColumn(int column, long first, const std::vector<double>& values,
                    std::size_t from) {
    for (std::size_t i = from; i < values.size(); ++i) {
      double got = Number(standin::GetCell(sheet_, first + static_cast<long>(i - from), column));
      ASSERT_EQ(std::memcmp(&got, &values[i], sizeof got), 0) << "row " << i;
    }
  }

  standin::SheetId sheet_ = 0;
  std::vector<double> x_;
};

// "xlfRegister (Form 1)": 'U' takes XLOPER12 values and references, so the
// macros get references to the big sheet.
TEST_F(WideCommand, MacrosRegisterWithTwelveSeriesReferences) {
  std::map<std::string, std::pair<std::string, std::string>> seen;
  for (const standin::Registration& r : standin::Registrations())
    seen[r.function_text] = {r.procedure, r.type_text};
  using Row = std::pair<std::string, std::string>;
  EXPECT_EQ(seen["KLX_Macro"], (Row{"KLX12", "JUUEE"}));
  EXPECT_EQ(seen["PQE_2_Macro"], (Row{"HalPQEX12", "JUUE"}));
  EXPECT_EQ(seen["GTN_Macro"], (Row{"GTN_func12", "JUUJJJ"}));
  EXPECT_EQ(seen["Spd_Macro"], (Row{"Spd12", "JUUJ"}));
  EXPECT_EQ(seen["KLXWrapper"], (Row{"KLXWrapper", "J"}));
  EXPECT_EQ(seen["GTN"], (Row{"GTNWrapper", "A"}));
  EXPECT_EQ(seen["SpdWrapper"], (Row{"SpdWrapper", "J"}));
  EXPECT_EQ(seen["BlokMacro"], (Row{"Blok12", "JUUUJJJ"}));
  EXPECT_EQ(seen["BlokSamp_2"], (Row{"BlokWrapper", "J"}));
  EXPECT_EQ(seen["DecMacro"], (Row{"Decor12", "JUUA"}));
  EXPECT_EQ(seen["Decorel"], (Row{"DecWrapper", "J"}));
}

// The whole column selected ("A:A" on the big sheet) is offered in the
// dialog, narrowed to its numbers past row 65,536, filtered to the core's
// bits, and labelled with the title in UTF-16.
TEST_F(WideCommand, KlxOverAWholeBigColumnOnAUnicodeSheetIsTheCore) {
  Data(100000);
  standin::Select(sheet_, "A:A");
  standin::SetCalculationMode(1);
  standin::QueueDialog(Entries("C1", 1, 25));
  EXPECT_EQ(standin::RunCommand("KLXWrapper"), 1);
  EXPECT_FALSE(Saw(kAborted));
  // Data rows 2..100,001; output from the data's first row + 30.
  ExpectColumn(2, 31, KlxOf(x_, 10, 25), 30);
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 100001, 2)), "");
  EXPECT_EQ(standin::GetCell(sheet_, "C1"), Value(kPrice + "_S10_P25"));
  for (long r : {1L, 30L}) EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, r, 2)), "");
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 1)), "") << "column B untouched";
  EXPECT_EQ(standin::Selection(), "C32");
  EXPECT_EQ(standin::CalculationMode(), 1);
  EXPECT_EQ(standin::StatusText(), "");
}

// GTN and SPD over the whole column selected on the big sheet: the data
// past row 65,536 read, the core's bits written below the rows each leaves
// undefined, the label from the UTF-16 title, the selection below the data.
TEST_F(WideCommand, GtnAndSpdOverAWholeBigColumnOnAUnicodeSheetAreTheCore) {
  // Just past the old sheet: data rows 2..66,001.
  constexpr std::size_t kRows = 66000;
  struct Case {
    std::string command;
    DialogReply reply;
    std::string suffix;
    std::size_t skipped;  // rows the core leaves undefined
    std::function<CoreStatus(const std::vector<double>&, std::vector<double>&)> core;
  };
  DialogReply gtn;
  gtn.set = {{4, std::string("C1")}, {6, 10.0}};  // span 24 as the table has it
  DialogReply spd;
  spd.set = {{4, std::string("C1")}, {6, 14.0}};
  const Case cases[] = {
      {"GTN", gtn, "_24_10", 24 + 6,
       [](const std::vector<double>& x, std::vector<double>& y) {
         return gtn::GtnSeries(x, {24, 10, gtn::GtnTermOrder::CommandOrder}, y);
       }},
      {"SpdWrapper", spd, "_D14", 30,
       [](const std::vector<double>& x, std::vector<double>& y) {
         return spd::SpdSeries(x, {.depth = 14}, y);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Reload();
    Data(kRows);
    standin::Select(sheet_, "A:A");
    standin::SetCalculationMode(1);
    standin::QueueDialog(c.reply);
    EXPECT_EQ(standin::RunCommand(c.command), 1);
    EXPECT_EQ(standin::Log().size(), 0u);
    std::vector<double> y(x_.size());
    ASSERT_EQ(c.core(x_, y), CoreStatus::kComplete);
    // The data's first row is sheet row 1 (0-based).
    ExpectColumn(2, 1 + static_cast<long>(c.skipped), y, c.skipped);
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, kRows + 1, 2)), "");
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, static_cast<long>(c.skipped), 2)),
              "");
    EXPECT_EQ(standin::GetCell(sheet_, "C1"), Value(kPrice + c.suffix));
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 1)), "") << "column B untouched";
    EXPECT_EQ(standin::Selection(), "C32");
    EXPECT_EQ(standin::CalculationMode(), 1);
  }
}

// GTN_Macro and Spd_Macro called directly with 12-series references: an
// area wholly below the old sheet's last row is read and written there, and
// the direct call's checks refuse too few rows with nothing written.
TEST_F(WideCommand, ColumnMacrosCalledDirectlyReachPastTheOldLastRow) {
  using Macro12 = int (*)(LPXLOPER12, LPXLOPER12, int, int, int);
  using Spd12 = int (*)(LPXLOPER12, LPXLOPER12, int);
  auto gtnMacro = Procedure<Macro12>("GTN_func12");
  auto spdMacro = Procedure<Spd12>("Spd12");
  ASSERT_NE(gtnMacro, nullptr);
  ASSERT_NE(spdMacro, nullptr);
  constexpr int kFirst = 70000;  // zero-based sheet row of the data's first value
  x_ = Walk(100, 9);
  sheet_ = standin::NewWorkbook("Big.xlsx", kPrice);
  standin::SetColumn(sheet_, "A70001", std::vector<Value>(x_.begin(), x_.end()));
  struct Ref12 {
    XLMREF12 table{};
    XLOPER12 value{};
    Ref12(standin::SheetId sheet, int r0, int r1, int column) {
      table.count = 1;
      table.reftbl[0] = XLREF12{r0, r1, column, column};
      value.xltype = xltypeRef;
      value.val.mref.lpmref = &table;
      value.val.mref.idSheet = sheet;
    }
  };
  Ref12 data(sheet_, kFirst, kFirst + 99, 0), gtnOut(sheet_, kFirst, kFirst, 2),
      spdOut(sheet_, kFirst, kFirst, 3);

  EXPECT_EQ(gtnMacro(&data.value, &gtnOut.value, 10, 24, 24), 1);
  std::vector<double> y(x_.size());
  ASSERT_EQ(gtn::GtnSeries(x_, {24, 10, gtn::GtnTermOrder::CommandOrder}, y),
            CoreStatus::kComplete);
  ExpectColumn(2, kFirst + 30, y, 30);
  EXPECT_EQ(spdMacro(&data.value, &spdOut.value, 14), 1);
  ASSERT_EQ(spd::SpdSeries(x_, {.depth = 14}, y), CoreStatus::kComplete);
  ExpectColumn(3, kFirst + 30, y, 30);
  for (int column : {2, 3}) {
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, kFirst + 29, column)), "");
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, kFirst + 100, column)), "");
  }

  // 20 rows: fewer than the 32 both macros need.
  const std::string before = standin::CsvText(sheet_);
  Ref12 shortData(sheet_, kFirst, kFirst + 19, 0), out(sheet_, 0, 0, 5);
  EXPECT_EQ(gtnMacro(&shortData.value, &out.value, 10, 24, 24), 0);
  EXPECT_EQ(spdMacro(&shortData.value, &out.value, 14), 0);
  int refusals = 0;
  for (const std::string& line : standin::Transcript())
    refusals += line.find("cannot have less than 32 rows") != std::string::npos;
  EXPECT_EQ(refusals, 2);
  EXPECT_EQ(standin::CsvText(sheet_), before);
}

// Esc at a poll, and memory running out at each allocation the command
// makes, write nothing on the 12-series path either.
TEST_F(WideCommand, EscAndEveryMemoryFailureLeaveTheSheetAsItWas) {
  Data(400);
  standin::Select(sheet_, "A:A");
  std::string before = standin::CsvText(sheet_);
  standin::QueueDialog(Entries("C1", 1, 20));
  standin::PressEscAfter(150);
  standin::QueueAlert(true);  // 'OK' to stop
  EXPECT_EQ(standin::RunCommand("KLXWrapper"), 1);
  EXPECT_TRUE(Saw("Esc pressed"));
  EXPECT_TRUE(Saw(kAborted));
  EXPECT_EQ(standin::CsvText(sheet_), before);
  EXPECT_EQ(standin::Selection(), "A:A");

  for (double type : {1.0, 2.0}) {
    int failures = 0;
    for (int k = 1; k < 20; ++k) {
      SCOPED_TRACE((type == 1 ? "KLX k=" : "PQE k=") + std::to_string(k));
      Reload();
      Data(400);
      standin::Select(sheet_, "A:A");
      standin::QueueDialog(Entries("C1", type));
      standin::FailAllocation(k);
      EXPECT_EQ(standin::RunCommand("KLXWrapper"), 1);
      standin::FailAllocation(0);
      if (!Saw(kNoMemory)) {
        EXPECT_FALSE(Saw(kAborted));
        EXPECT_NE(standin::CsvText(sheet_), before);
        break;
      }
      ++failures;
      EXPECT_TRUE(Saw(kAborted));
      EXPECT_EQ(standin::CsvText(sheet_), before);
      EXPECT_EQ(standin::Selection(), "A:A");
      standin::CloseAddIn();
      standin::Accounting a = standin::GetAccounting();
      EXPECT_TRUE(a.Clean()) << (a.problems.empty() ? "leak" : a.problems.front());
    }
    // Dialog array, its UTF-16 copy for the host, the answer's copy, data,
    // output, [residuals,] band and label.
    EXPECT_EQ(failures, type == 1 ? 7 : 8);
  }
}

// BLK over two whole columns of the big sheet: the titles reference typed
// with the sheet's UTF-16 name, the block columns past row 65,536 equal to
// the core's whole run, titled in UTF-16, each ending in its live formula.
TEST_F(WideCommand, BlkOverWholeBigColumnsOnAUnicodeSheetIsTheCore) {
  constexpr std::size_t kRows = 66000;
  const std::string volume = "\xd0\x9e\xd0\xb1\xd1\x8a\xd1\x91\xd0\xbc";  // "Объём"
  sheet_ = standin::NewWorkbook("Big.xlsx", kPrice);
  const std::vector<double> close = Walk(kRows, 3), vol = Walk(kRows, 11);
  std::vector<Value> a{Value{kPrice}}, b{Value{volume}};
  a.insert(a.end(), close.begin(), close.end());
  b.insert(b.end(), vol.begin(), vol.end());
  standin::SetColumn(sheet_, "A1", a);
  standin::SetColumn(sheet_, "B1", b);
  standin::Select(sheet_, "A:B");
  // Standard blocks of the first sample entry: a column per data column.
  DialogReply main;
  main.set = {{2, "'" + kPrice + "'!A1:B1"}, {6, std::string("D1")}, {10, true},
              {11, false}, {13, 1.0}};
  DialogReply sample;
  sample.set = {{2, 1.0}};
  standin::QueueDialog(main);
  standin::QueueDialog(sample);
  standin::QueueAlert(true);  // the overwrite warning
  EXPECT_EQ(standin::RunCommand("BlokSamp_2"), 1);
  EXPECT_EQ(standin::UnusedAnswers(), 0);
  EXPECT_FALSE(Saw("alert 3 \"BlokSamp 2 Aborted!\" -> OK"));
  const std::vector<std::string> transcript = standin::Transcript();
  EXPECT_TRUE(std::any_of(transcript.begin(), transcript.end(),
                          [&](const std::string& line) {
                            return line.find("The range '[Big.xlsx]" + kPrice +
                                             "'!$D$1:$E$66001 will be overwritten") !=
                                   std::string::npos;
                          }));

  const blk::BlkSettings settings{1, blk::kBlkStandardOnly, blk::kBlkNormalized};
  const std::vector<blk::BlkColumnLayout> plan = blk::BlkOutputPlan(2, settings);
  ASSERT_EQ(plan.size(), 2u);
  const int u = blk::BlkBlankRows(settings.index);
  std::vector<std::vector<double>> expected(plan.size(), std::vector<double>(kRows - u));
  std::vector<std::span<const double>> data = {close, vol};
  std::vector<std::span<double>> out(expected.begin(), expected.end());
  ASSERT_EQ(blk::BlkBlocks(data, settings, out, nullptr), CoreStatus::kComplete);
  const std::string titles[] = {kPrice, volume};
  for (std::size_t j = 0; j < plan.size(); ++j) {
    const int column = 3 + static_cast<int>(j);
    SCOPED_TRACE("output column " + std::to_string(column));
    EXPECT_EQ(standin::GetCell(sheet_, 0, column),
              Value(titles[plan[j].dataColumn] + plan[j].suffix));
    for (int r = 1; r <= u; ++r) EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, r, column)), "");
    // Rows 1+U .. 65,999 (zero-based) hold the core's values; the last row
    // its formula.
    for (std::size_t i = 0; i + 1 < expected[j].size(); ++i) {
      double got = Number(standin::GetCell(sheet_, 1 + u + static_cast<long>(i), column));
      ASSERT_EQ(std::memcmp(&got, &expected[j][i], sizeof got), 0) << "row " << 1 + u + i;
    }
    EXPECT_FALSE(standin::GetFormula(sheet_, std::string(1, static_cast<char>('A' + column)) +
                                                 std::to_string(kRows + 1))
                     .empty());
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, kRows + 1, column)), "");
  }
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 5)), "") << "column F untouched";
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 2)), "") << "column C untouched";
  EXPECT_EQ(standin::ActiveCell(), "D" + std::to_string(2 + u));
  EXPECT_EQ(standin::StatusText(), "");
}

// The macro called directly through the 12-series: rows past 65,536 read
// and columns past the old sheet's 256th written; an output that would run
// past the big sheet's last column asks first, and Cancel writes nothing.
TEST_F(WideCommand, Blok12CalledDirectlyReachesPastTheOldSheet) {
  constexpr long kRows = 66000;
  auto blok = Procedure<int (*)(LPXLOPER12, LPXLOPER12, LPXLOPER12, int, int, int)>("Blok12");
  ASSERT_NE(blok, nullptr);
  Data(kRows);
  struct Ref12 {
    XLMREF12 table{};
    XLOPER12 value{};
    Ref12(standin::SheetId sheet, RW r0, RW r1, COL c0, COL c1) {
      table.count = 1;
      table.reftbl[0] = XLREF12{r0, r1, c0, c1};
      value.xltype = xltypeRef;
      value.val.mref.lpmref = &table;
      value.val.mref.idSheet = sheet;
    }
  };
  Ref12 data(sheet_, 1, kRows, 0, 0), titles(sheet_, 0, 0, 0, 0);
  Ref12 output(sheet_, 0, 0, 300, 300), lastColumn(sheet_, 0, 0, 16383, 16383);

  // The second sample entry makes two columns: from the last one, too many.
  standin::QueueAlert(false);
  EXPECT_EQ(blok(&data.value, &lastColumn.value, &titles.value, 2, 1, 2), 0);
  EXPECT_TRUE(Saw("alert 1 \"Your choice of \"n\" and \"m\" values will produce too many output "
                  "columns. Select smaller \"n\" and \"m\" values.\" -> Cancel"));
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 16383)), "");

  EXPECT_EQ(blok(&data.value, &output.value, &titles.value, 1, 1, 2), 1);
  const std::vector<blk::BlkColumnLayout> plan =
      blk::BlkOutputPlan(1, {1, blk::kBlkStandardOnly, blk::kBlkNotNormalized});
  ASSERT_EQ(plan.size(), 1u);
  const int u = blk::BlkBlankRows(1);
  std::vector<double> expected(x_.size() - static_cast<std::size_t>(u));
  ASSERT_EQ(blk::StandardBlock(x_, u, plan[0].n, plan[0].m, expected), CoreStatus::kComplete);
  EXPECT_EQ(standin::GetCell(sheet_, 0, 300), Value(kPrice + plan[0].suffix));
  // The last row holds the live formula.
  for (long r = 65530; r < kRows; ++r) {
    double got = Number(standin::GetCell(sheet_, r, 300));
    const double& want = expected[static_cast<std::size_t>(r - 1 - u)];
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "row " << r;
  }
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 301)), "");
}

// The decorrelator over two whole columns of the big sheet: every
// component row past 65,536, the significances, the labels and the
// coefficient sheet equal to the core's whole run, bit for bit.
TEST_F(WideCommand, DecorOverWholeBigColumnsIsTheCore) {
  constexpr std::size_t kRows = 66000, kColumns = 2;
  sheet_ = standin::NewWorkbook("Big.xlsx", "Data");
  const std::vector<double> a = Walk(kRows, 3), b = Walk(kRows, 11);
  std::vector<double> data(kRows * kColumns);
  for (std::size_t t = 0; t < kRows; ++t) {
    data[t * kColumns] = a[t];
    data[t * kColumns + 1] = a[t] * 0.5 + b[t];
  }
  std::vector<Value> first(a.begin(), a.end()), second;
  for (std::size_t t = 0; t < kRows; ++t) second.emplace_back(data[t * kColumns + 1]);
  standin::SetColumn(sheet_, "A1", first);
  standin::SetColumn(sheet_, "B1", second);
  standin::Select(sheet_, "A:B");
  DialogReply reply;  // the data box as the selection filled it; no formulas
  reply.set = {{4, std::string("D1")}, {6, 2.0}, {9, false}};
  standin::QueueDialog(reply);
  EXPECT_EQ(standin::RunCommand("Decorel"), 1);
  EXPECT_EQ(standin::UnusedAnswers(), 0);
  EXPECT_FALSE(Saw("alert 3 \"Decorrelator Aborted!\" -> OK"));

  const decor::WholeRun want = decor::RunWhole(data, kRows, kColumns, {decor::Layout::kRowMajor});
  ASSERT_EQ(want.status, CoreStatus::kComplete);
  for (std::size_t c = 0; c < kColumns; ++c) {
    const int column = 3 + static_cast<int>(c);
    SCOPED_TRACE("output column " + std::to_string(column));
    EXPECT_EQ(standin::GetCell(sheet_, 0, column), Value("D_" + std::to_string(c + 1)));
    double got = Number(standin::GetCell(sheet_, 1, column));
    EXPECT_EQ(std::memcmp(&got, &want.significance[c], sizeof got), 0);
    for (std::size_t t = 0; t < kRows; ++t) {
      got = Number(standin::GetCell(sheet_, 2 + static_cast<long>(t), column));
      ASSERT_EQ(std::memcmp(&got, &want.scores[t * kColumns + c], sizeof got), 0) << "row " << t;
    }
    EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 2 + kRows, column)), "");
  }
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 5)), "") << "column F untouched";
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 2)), "") << "column C untouched";

  const standin::SheetId coef = standin::FindSheet("Big.xlsx", "Data.COF");
  ASSERT_NE(coef, 0u);
  for (std::size_t r = 0; r < kColumns; ++r) {
    for (std::size_t c = 0; c < kColumns; ++c) {
      double got = Number(standin::GetCell(coef, static_cast<long>(r), static_cast<int>(c)));
      EXPECT_EQ(std::memcmp(&got, &want.coefficients[r * kColumns + c], sizeof got), 0);
    }
  }
  for (std::size_t c = 0; c < kColumns; ++c) {
    double mean = Number(standin::GetCell(coef, kColumns, static_cast<int>(c)));
    double sigma = Number(standin::GetCell(coef, kColumns + 1, static_cast<int>(c)));
    EXPECT_EQ(std::memcmp(&mean, &want.means[c], sizeof mean), 0);
    EXPECT_EQ(std::memcmp(&sigma, &want.sigmas[c], sizeof sigma), 0);
  }
  EXPECT_EQ(standin::ActiveSheet(), sheet_);
  EXPECT_EQ(standin::ActiveCell(), "D3");
  EXPECT_EQ(standin::StatusText(), "");
}

// Decor12 called directly: an output past the old sheet's 256th column is
// written; one that runs past the big sheet's last column or last row is
// refused with its message, and nothing is written.
TEST_F(WideCommand, Decor12CalledDirectlyUsesTheBigSheetsEdges) {
  auto decor12 = Procedure<int (*)(LPXLOPER12, LPXLOPER12, short)>("Decor12");
  ASSERT_NE(decor12, nullptr);
  constexpr std::size_t kRows = 40;
  sheet_ = standin::NewWorkbook("Big.xlsx", "Data");
  const std::vector<double> a = Walk(kRows, 3), b = Walk(kRows, 11);
  std::vector<double> data(kRows * 2);
  for (std::size_t t = 0; t < kRows; ++t) {
    data[2 * t] = a[t];
    data[2 * t + 1] = a[t] - b[t];
    standin::SetCell(sheet_, static_cast<int>(t), 0, data[2 * t]);
    standin::SetCell(sheet_, static_cast<int>(t), 1, data[2 * t + 1]);
  }
  struct Ref12 {
    XLMREF12 table{};
    XLOPER12 value{};
    Ref12(standin::SheetId sheet, RW row, COL column) {
      table.count = 1;
      table.reftbl[0] = XLREF12{row, row, column, column};
      value.xltype = xltypeRef;
      value.val.mref.lpmref = &table;
      value.val.mref.idSheet = sheet;
    }
  };
  Ref12 input(sheet_, 0, 0);
  input.table.reftbl[0] = XLREF12{0, static_cast<RW>(kRows - 1), 0, 1};
  Ref12 lastColumn(sheet_, 0, 16383), lastRows(sheet_, 1048576 - 39, 300),
      output(sheet_, 0, 300);

  EXPECT_EQ(decor12(&input.value, &lastColumn.value, 0), 0);
  EXPECT_TRUE(Saw("alert 3 \"Your first output column is too far to the right. There can be a "
                  "maximum of 256 columns in a worksheet!\" -> OK"));
  EXPECT_EQ(decor12(&input.value, &lastRows.value, 0), 0);
  EXPECT_TRUE(Saw("alert 3 \"Your output will not fit below the cell you have chosen!\" -> OK"));
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 16383)), "");
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 1048576 - 39, 300)), "");
  EXPECT_EQ(standin::FindSheet("Big.xlsx", "Data.COF"), 0u);

  EXPECT_EQ(decor12(&input.value, &output.value, 0), 1);
  const decor::WholeRun want = decor::RunWhole(data, kRows, 2, {decor::Layout::kRowMajor});
  ASSERT_EQ(want.status, CoreStatus::kComplete);
  for (std::size_t t = 0; t < kRows; ++t) {
    for (int c = 0; c < 2; ++c) {
      double got = Number(standin::GetCell(sheet_, 2 + static_cast<long>(t), 300 + c));
      ASSERT_EQ(std::memcmp(&got, &want.scores[2 * t + static_cast<std::size_t>(c)], sizeof got),
                0)
          << "row " << t << " column " << c;
    }
  }
  EXPECT_EQ(standin::GetCell(sheet_, 0, 301), Value(std::string("D_2")));
  EXPECT_EQ(standin::Describe(standin::GetCell(sheet_, 0, 302)), "");
}

}  // namespace
}  // namespace hvt::testing
