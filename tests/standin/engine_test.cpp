// The formula engine: operators, conversions, references across sheets,
// built-ins against sums done by hand, and array formula fill rules.
#include <cmath>
#include <random>
#include <vector>

#include "fixture.h"

namespace {

using standin::Blank;
using standin::Error;
using standin::Value;
using EngineTest = HostTest;

Value Eval1(const std::string& formula) {
  standin::Evaluation e = standin::Evaluate(formula);
  EXPECT_FALSE(e.no_value);
  EXPECT_EQ(e.result.rows, 1);
  EXPECT_EQ(e.result.columns, 1);
  return e.result.cells.empty() ? Value{Blank{}} : e.result.cells[0];
}

TEST_F(EngineTest, ArithmeticFollowsWorksheetPrecedence) {
  standin::NewWorkbook("b.xls");
  EXPECT_EQ(Eval1("=1+2*3"), Value{7.0});
  EXPECT_EQ(Eval1("=(1+2)*3"), Value{9.0});
  EXPECT_EQ(Eval1("=-2^2"), Value{4.0}) << "the sign binds tighter than ^";
  EXPECT_EQ(Eval1("=2^3^2"), Value{64.0}) << "^ runs left to right";
  EXPECT_EQ(Eval1("=10-4-3"), Value{3.0});
  EXPECT_EQ(Eval1("=0.1+0.2"), Value{0.1 + 0.2});
  EXPECT_EQ(Eval1("=7/2"), Value{3.5});
  EXPECT_EQ(Err(Eval1("=1/0")), xlerrDiv0);
  EXPECT_EQ(Err(Eval1("=0^0")), xlerrNum);
  EXPECT_EQ(Err(Eval1("=(-8)^0.5")), xlerrNum);
  EXPECT_EQ(Err(Eval1("=1e308*10")), xlerrNum);
  EXPECT_EQ(Eval1("=\"3\"+TRUE"), Value{4.0}) << "numeric text and booleans convert";
  EXPECT_EQ(Err(Eval1("=\"x\"+1")), xlerrValue);
  EXPECT_EQ(Err(Eval1("=#N/A+1")), xlerrNA) << "errors pass through";
  EXPECT_EQ(Err(Eval1("=nosuchname")), xlerrName);
  EXPECT_EQ(Err(Eval1("=NOSUCH(1)")), xlerrName);
}

TEST_F(EngineTest, ConcatenationAndComparison) {
  standin::NewWorkbook("b.xls");
  EXPECT_EQ(Eval1("=\"a\"&1.5&TRUE"), Value{std::string("a1.5TRUE")});
  EXPECT_EQ(Eval1("=\"x\"&0.1+0.2"), Value{std::string("x0.3")}) << "15 significant digits";
  EXPECT_EQ(Eval1("=\"say \"\"hi\"\"\""), Value{std::string("say \"hi\"")});
  EXPECT_EQ(Eval1("=\"abc\"=\"ABC\""), Value{true});
  EXPECT_EQ(Eval1("=2<\"1\""), Value{true}) << "numbers sort before text";
  EXPECT_EQ(Eval1("=\"z\"<FALSE"), Value{true}) << "text sorts before booleans";
  EXPECT_EQ(Eval1("=1<>1"), Value{false});
  EXPECT_EQ(Eval1("=A9=0"), Value{true}) << "a blank equals 0";
  EXPECT_EQ(Eval1("=A9=\"\""), Value{true}) << "and empty text";
}

TEST_F(EngineTest, ReferencesAcrossSheetsAndBooks) {
  standin::SheetId a = standin::NewWorkbook("one.xls", "Data");
  standin::SheetId b = standin::AddSheet("one.xls", "My Sheet");
  standin::SheetId c = standin::NewWorkbook("two.xls", "S");
  standin::SetCell(a, "A1", 10.0);
  standin::SetCell(b, "B2", 5.0);
  standin::SetCell(c, "C3", 1.0);
  standin::Activate(a);
  EXPECT_EQ(Eval1("=A1+'My Sheet'!B2+[two.xls]S!C3"), Value{16.0});
  EXPECT_EQ(Eval1("=Data!$A$1*2"), Value{20.0});
  EXPECT_EQ(Err(Eval1("=Nowhere!A1")), xlerrRef);
  EXPECT_THROW(standin::Evaluate("=1+"), standin::HostError);
  EXPECT_THROW(standin::Evaluate("=SUM(1,2"), standin::HostError);
}

TEST_F(EngineTest, BuiltinsAgreeWithSumsByHand) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> d(-1000, 1000);
  double total = 0, lo = INFINITY, hi = -INFINITY;
  for (int r = 0; r < 200; ++r) {
    double v = d(rng);
    standin::SetCell(s, r, 0, v);
    total += v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  standin::SetCell(s, "A201", std::string("text is skipped"));
  standin::SetCell(s, "A202", true);
  EXPECT_EQ(Eval1("=SUM(A1:A202)"), Value{total});
  EXPECT_EQ(Eval1("=AVERAGE(A1:A202)"), Value{total / 200});
  EXPECT_EQ(Eval1("=MIN(A:A)"), Value{lo});
  EXPECT_EQ(Eval1("=MAX(A1:A300)"), Value{hi});
  EXPECT_EQ(Eval1("=COUNT(A1:A300)"), Value{200.0});
  EXPECT_EQ(Eval1("=SUM(1,\"2\",TRUE)"), Value{4.0}) << "scalar arguments convert";
  EXPECT_EQ(Err(Eval1("=SUM(1,\"x\")")), xlerrValue);
  standin::SetCell(s, "B1", Error{xlerrNA});
  EXPECT_EQ(Err(Eval1("=SUM(A1:B5)")), xlerrNA);
  EXPECT_EQ(Err(Eval1("=AVERAGE(C1:C5)")), xlerrDiv0);
}

// SUM over an area adds its numbers row by row, left to right, and only
// the area's own columns, whatever is stored beside them.
TEST_F(EngineTest, SumAddsAnAreaRowByRow) {
  standin::SheetId s = standin::NewWorkbook("order.xls");
  standin::SetCell(s, "A1", 100.0);  // beside the area, on both sides
  standin::SetCell(s, "D2", 100.0);
  standin::SetCell(s, "B1", 1e16);
  standin::SetCell(s, "C1", 1.0);
  standin::SetCell(s, "B2", -1e16);
  standin::SetCell(s, "C2", 1.0);
  // Row by row: 1e16 + 1 rounds to 1e16, so the rows add to 1; column by
  // column they would add to 2.
  EXPECT_EQ(Eval1("=SUM(B1:C2)"), Value{((1e16 + 1.0) + -1e16) + 1.0});
  EXPECT_EQ(Eval1("=SUM(B1:C2,A1)"), Value{(((1e16 + 1.0) + -1e16) + 1.0) + 100.0});
  standin::SetCell(s, "C2", std::string("x"));
  standin::SetCell(s, "D1", Error{xlerrDiv0});
  EXPECT_EQ(Eval1("=SUM(B1:C2)"), Value{0.0}) << "text in an area adds nothing";
  EXPECT_EQ(Err(Eval1("=SUM(B1:D2)")), xlerrDiv0);
}

// Long reads walk a flat list of the stored cells kept beside the sheet's
// map. Whatever was added, removed or changed since the last read, a read
// answers what looking up each cell answers: nothing missed, nothing read
// that is gone (the sanitized build catches the latter too).
TEST_F(EngineTest, LongReadsSeeEveryCellAddedRemovedOrChanged) {
  standin::SheetId s = standin::NewWorkbook("long.xls");
  constexpr int kRows = 6000;
  std::vector<Value> column(kRows);
  for (int r = 0; r < kRows; ++r) column[r] = static_cast<double>(r + 1);
  standin::SetColumn(s, "A1", column);
  auto read_matches_cells = [&](const char* after) {
    standin::Evaluation e = standin::Evaluate("=A1:C6000");
    ASSERT_EQ(e.result.rows, kRows) << after;
    ASSERT_EQ(e.result.columns, 3) << after;
    int mismatches = 0;
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < 3; ++c)
        if (e.result.at(r, c) != standin::GetCell(s, r, c)) ++mismatches;
    EXPECT_EQ(mismatches, 0) << after;
  };
  read_matches_cells("a column filled from the top");
  standin::SetCell(s, "C6000", 2.0);  // past every stored cell
  read_matches_cells("a cell added past the last");
  standin::SetCell(s, "B10", 7.0);  // among them
  standin::SetCell(s, "D7", 1e9);   // beside the area
  standin::SetCell(s, "A100", Blank{});
  read_matches_cells("cells added among the others, one removed");
  standin::SetCell(s, "A5", std::string("five"));
  read_matches_cells("a stored cell changed");
  double total = 0;
  for (int r = 1; r <= kRows; ++r)
    if (r != 5 && r != 100) total += r;
  EXPECT_EQ(Eval1("=SUM(A1:A6000)"), Value{total});
  EXPECT_EQ(Eval1("=SUM(B1:C6000)"), Value{9.0});
}

TEST_F(EngineTest, AbsColumnAndRowAsTheToolsFormulasUseThem) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "A1", {1.0, -2.0, 3.0, -6.0});
  EXPECT_EQ(Eval1("=ABS(-2.5)"), Value{2.5});
  EXPECT_EQ(Err(Eval1("=ABS(\"x\")")), xlerrValue);
  // The mean absolute deviation of a column, as the normalised block
  // formulas write it: deviations 2, 1, 4, 5 about the mean -1.
  EXPECT_EQ(Eval1("=AVERAGE(ABS(A1:A4-AVERAGE(A1:A4)))"), Value{3.0});
  // Label formulas of untitled columns.
  EXPECT_EQ(Eval1("=\"Col\"&COLUMN(C5:D9)&\"_S10\""), Value{std::string("Col3_S10")});
  EXPECT_EQ(Eval1("=COLUMN(IV1)"), Value{256.0});
  EXPECT_EQ(Eval1("=ROW((B7:B9,A1))"), Value{7.0}) << "the first area";
  EXPECT_EQ(Err(Eval1("=COLUMN(5)")), xlerrValue);
  EXPECT_EQ(Err(Eval1("=COLUMN(Nowhere!A1)")), xlerrRef);
}

TEST_F(EngineTest, ArrayResultsBroadcastAndPadWithNA) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "A1", {1.0, 2.0, 3.0});
  standin::SetColumn(s, "B1", {10.0, 20.0});
  standin::Evaluation e = standin::Evaluate("=A1:A3*2");
  ASSERT_EQ(e.result.rows, 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(e.result.at(r, 0), Value{2.0 * (r + 1)});
  e = standin::Evaluate("=A1:A3+B1:B2");
  ASSERT_EQ(e.result.rows, 3);
  EXPECT_EQ(e.result.at(1, 0), Value{22.0});
  EXPECT_EQ(Err(e.result.at(2, 0)), xlerrNA) << "past the shorter array";
  e = standin::Evaluate("=A1:A3&\"|\"&B1");
  EXPECT_EQ(e.result.at(2, 0), Value{std::string("3|10")});
}

TEST_F(EngineTest, ArrayFormulaFillRules) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "A1", {1.0, 2.0, 3.0});
  standin::EnterArrayFormula(s, "C1:D5", "=A1:A3*10");  // taller and wider
  standin::EnterArrayFormula(s, "E1:E2", "=A1:A3");     // shorter: cut
  standin::EnterArrayFormula(s, "F1:G2", "=7");         // one value fills
  standin::EnterFormula(s, "H1", "=A1:A3+1");           // a plain cell: first value
  standin::Recalculate();
  for (int r = 0; r < 5; ++r)
    for (int c = 2; c <= 3; ++c) {
      Value v = standin::GetCell(s, r, c);
      if (r < 3) EXPECT_EQ(v, Value{10.0 * (r + 1)}) << "one column repeats across";
      else EXPECT_EQ(Err(v), xlerrNA) << "rows past the result";
    }
  EXPECT_EQ(standin::GetCell(s, "E2"), Value{2.0});
  EXPECT_EQ(standin::GetCell(s, "E3"), Value{Blank{}});
  EXPECT_EQ(standin::GetCell(s, "G2"), Value{7.0});
  EXPECT_EQ(standin::GetCell(s, "H1"), Value{2.0});
  EXPECT_EQ(standin::GetFormula(s, "C2"), "{=A1:A3*10}");
  EXPECT_EQ(standin::GetFormula(s, "H1"), "=A1:A3+1");
  EXPECT_THROW(standin::SetCell(s, "C1", 1.0), standin::HostError) << "part of an array";
  EXPECT_THROW(standin::EnterFormula(s, "D2", "=1"), standin::HostError);
}

TEST_F(EngineTest, FormulasReadFormulasInAnyOrder) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  // A1 depends on A3, which depends on A2: entered out of order.
  standin::EnterFormula(s, "A1", "=A3*2");
  standin::EnterFormula(s, "A3", "=A2+1");
  standin::SetCell(s, "A2", 4.0);
  standin::EnterFormula(s, "B1", "=A5");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(s, "A1"), Value{10.0});
  EXPECT_EQ(standin::GetCell(s, "B1"), Value{0.0}) << "a formula over a blank shows 0";
  standin::SetCell(s, "A2", 1.0);
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(s, "A1"), Value{4.0});
}

TEST_F(EngineTest, HostVersionSetsRowLimit) {
  EXPECT_EQ(standin::RowLimit(), 65536);
  for (const char* v : {"4.0", "5.0", "7.0"}) {
    standin::SetHostVersion(v);
    EXPECT_EQ(standin::RowLimit(), 16384) << v;
  }
  // "What's New in the C API for Excel 2007": the bigger grid of version
  // 12 overflows the XLOPER's row and column fields, so an Excel4 caller
  // keeps the 65,536 x 256 sheet of Excel 2003 (MAX_XL11_ROWS in
  // "Backward Compatibility").
  for (const char* v : {"8.0", "9.0", "10.0", "11.0", "12.0", "14.0", "15.0", "16.0"}) {
    standin::SetHostVersion(v);
    EXPECT_EQ(standin::RowLimit(), 65536) << v;
  }
}

}  // namespace
