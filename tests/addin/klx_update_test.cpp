// KLX_Update end to end: the add-in loaded into the stand-in, called from
// formulas, its array handed back through xlAutoFree.
#include <cstring>

#include "tests/addin/addin_fixture.h"
#include "tools/klx/core/klx_filter.h"

namespace hvt::testing {
namespace {

using standin::Error;
using standin::Evaluate;
using standin::Value;

std::vector<double> Filtered(const std::vector<double>& x, double s, double p) {
  std::vector<double> y(x.size());
  EXPECT_EQ(klx::KlxFilter(x, {s, p}, y), CoreStatus::kComplete);
  return y;
}

class KlxUpdate : public AddInTest {};

TEST_F(KlxUpdate, AllNumericColumnIsTheFilterOutputBitForBit) {
  std::vector<double> x = Walk(500);
  SheetWithColumn(x);
  for (auto [s, p] : {std::pair{7.0, 30.0}, {0.0, -100.0}, {10000.0, 100.0},
                      {1.0000000002, 0.0}, {123.25, -42.5}}) {
    std::string formula = "=KLX_Update(A1:A500," + standin::Describe(s) + "," +
                          standin::Describe(p) + ")";
    standin::Evaluation e = Evaluate(formula);
    ASSERT_FALSE(e.no_value);
    ASSERT_EQ(e.result.rows, 500);
    ASSERT_EQ(e.result.columns, 1);
    std::vector<double> expected = Filtered(x, s, p);
    for (int r = 0; r < 500; ++r) {
      double got = Number(e.result.at(r, 0));
      ASSERT_EQ(std::memcmp(&got, &expected[r], sizeof got), 0)
          << formula << " row " << r;
      if (r <= 30) {
        ASSERT_EQ(got, x[r]);
      }
    }
  }
}

TEST_F(KlxUpdate, ThirtyOneRowsComeBackUnchangedThirtyAreRefused) {
  std::vector<double> x = Walk(31);
  SheetWithColumn(x);
  standin::Evaluation e = Evaluate("=KLX_Update(A1:A31,7,0)");
  ASSERT_EQ(e.result.rows, 31);
  for (int r = 0; r < 31; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), x[r]);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A30,7,0)")), xlerrRef);
}

TEST_F(KlxUpdate, ShapeAndSettingErrors) {
  std::vector<double> x = Walk(60);
  standin::SheetId sheet = SheetWithColumn(x);
  std::vector<Value> column(x.begin(), x.end());
  standin::SetColumn(sheet, "B1", column);

  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:B60,7,0)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update((A1:A40,B1:B40),7,0)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A60,10000.5,0)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A60,-0.5,0)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A60,7,100.5)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A60,7,-100.5)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(,7,0)")), xlerrNA);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(#DIV/0!,7,0)")), xlerrDiv0);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(\"A1:A60\",7,0)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(TRUE,7,0)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(5,7,0)")), xlerrValue);

  // The bounds themselves are accepted.
  for (const char* f : {"=KLX_Update(A1:A60,10000,100)",
                        "=KLX_Update(A1:A60,0,-100)"}) {
    standin::Evaluation e = Evaluate(f);
    EXPECT_EQ(e.result.rows, 60) << f;
  }
}

TEST_F(KlxUpdate, ArrayArgumentFollowsTheSameRules) {
  std::vector<double> x = Walk(45);
  SheetWithColumn(x);
  standin::Evaluation e = Evaluate("=KLX_Update(A1:A45*1,7,0)");
  ASSERT_EQ(e.result.rows, 45);
  std::vector<double> expected = Filtered(x, 7, 0);
  for (int r = 0; r < 45; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), expected[r]);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A30*1,7,0)")), xlerrRef);
}

TEST_F(KlxUpdate, RowsFromTheFirstNonNumberAreEmptyText) {
  for (int breakRow : {10, 40}) {
    std::vector<double> x = Walk(80, breakRow);
    standin::SheetId sheet = SheetWithColumn(x);
    standin::SetCell(sheet, breakRow, 0, Value{std::string("gap")});
    standin::Evaluation e = Evaluate("=KLX_Update(A1:A80,7,10)");
    ASSERT_EQ(e.result.rows, 80);
    std::vector<double> head(x.begin(), x.begin() + breakRow);
    std::vector<double> expected = Filtered(head, 7, 10);
    for (int r = 0; r < breakRow; ++r) {
      EXPECT_EQ(Number(e.result.at(r, 0)), expected[r]) << "row " << r;
      if (r <= 30) {
        EXPECT_EQ(Number(e.result.at(r, 0)), x[r]);
      }
    }
    for (int r = breakRow; r < 80; ++r) {
      EXPECT_EQ(e.result.at(r, 0), Value{std::string()}) << "row " << r;
    }
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
}

TEST_F(KlxUpdate, BlankBooleanAndErrorCellsEndTheNumbersToo) {
  for (Value stop : {Value{standin::Blank{}}, Value{true}, Value{Error{xlerrNA}}}) {
    std::vector<double> x = Walk(40);
    standin::SheetId sheet = SheetWithColumn(x);
    standin::SetCell(sheet, 35, 0, stop);
    standin::Evaluation e = Evaluate("=KLX_Update(A1:A40,7,0)");
    ASSERT_EQ(e.result.rows, 40);
    EXPECT_TRUE(std::holds_alternative<double>(e.result.at(34, 0)));
    EXPECT_EQ(e.result.at(35, 0), Value{std::string()});
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
}

TEST_F(KlxUpdate, NoValueWhileAHostDialogIsOpen) {
  SheetWithColumn(Walk(40));
  HWND dialog = standin::OpenDialogWindow();
  EXPECT_TRUE(Evaluate("=KLX_Update(A1:A40,7,0)").no_value);
  standin::CloseWindow(dialog);
  EXPECT_FALSE(Evaluate("=KLX_Update(A1:A40,7,0)").no_value);
}

TEST_F(KlxUpdate, UncalculatedReferenceIsCalledAgainOnceCalculated) {
  std::vector<double> x = Walk(40);
  standin::SheetId sheet = SheetWithColumn(x);
  // The array formula is entered before the cell it reads is calculated.
  standin::EnterArrayFormula(sheet, "C1:C40", "=KLX_Update(A1:A40,7,0)");
  standin::EnterFormula(sheet, "A40", "=B1*2");
  standin::SetCell(sheet, "B1", Value{x[39] / 2});
  standin::ClearCalls();
  standin::Recalculate();
  std::vector<standin::CallRecord> calls = standin::Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_TRUE(calls.front().returned_null);
  EXPECT_FALSE(calls.back().returned_null);
  std::vector<double> expected = Filtered(x, 7, 0);
  EXPECT_EQ(Number(standin::GetCell(sheet, "C40")), expected[39]);
}

TEST_F(KlxUpdate, AllocationFailureAnswersNA) {
  SheetWithColumn(Walk(40));
  standin::FailAllocation(1);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A40,7,0)")), xlerrNA);
  standin::FailAllocation(0);
  EXPECT_EQ(Evaluate("=KLX_Update(A1:A40,7,0)").result.rows, 40);
}

TEST_F(KlxUpdate, RegisteredUnderItsNames) {
  bool found = false;
  for (const standin::Registration& r : standin::Registrations()) {
    if (r.procedure != "KLXUP") continue;
    found = true;
    EXPECT_EQ(r.type_text, "RREE");
    EXPECT_EQ(r.function_text, "KLX_Update");
    EXPECT_EQ(r.argument_text, "data_ref, smoothness, phase");
    EXPECT_EQ(r.macro_type, "1");
    EXPECT_EQ(r.category, "HVT");
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace hvt::testing
