// GTN_Update and Spd_Update end to end through the stand-in.
#include <cstring>

#include "tests/addin/addin_fixture.h"
#include "tools/gtn/core/gtn.h"
#include "tools/spd/core/spd.h"

namespace hvt::testing {
namespace {

using standin::Evaluate;
using standin::Value;

class WorksheetFunctions : public AddInTest {
 protected:
  // Reloads the add-in into a fresh host, for loops over cases.
  void Restart() {
    standin::CloseAddIn();
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
};

std::vector<double> GtnExpected(const std::vector<double>& x, int span,
                                int smoothness) {
  std::vector<double> y(x.size());
  EXPECT_EQ(gtn::GtnSeries(x, {span, smoothness, gtn::GtnTermOrder::WorksheetOrder}, y),
            CoreStatus::kComplete);
  return y;
}

std::vector<double> SpdExpected(const std::vector<double>& x, int depth) {
  std::vector<double> y(x.size());
  EXPECT_EQ(spd::SpdSeries(x, {depth}, y), CoreStatus::kComplete);
  return y;
}

TEST_F(WorksheetFunctions, GtnWarmUpValuesThenTheSeries) {
  std::vector<double> x = Walk(40);
  SheetWithColumn(x);
  standin::Evaluation e = Evaluate("=GTN_Update(A1:A40,10,24)");
  ASSERT_EQ(e.result.rows, 40);
  std::vector<double> expected = GtnExpected(x, 24, 10);
  for (int r = 0; r < 30; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), 12) << r;
  for (int r = 30; r < 40; ++r) {
    double got = Number(e.result.at(r, 0));
    EXPECT_EQ(std::memcmp(&got, &expected[r], sizeof got), 0) << r;
  }
}

TEST_F(WorksheetFunctions, GtnEveryValidSpanOnALongColumn) {
  std::vector<double> x = Walk(500, 3);
  SheetWithColumn(x);
  for (int span : {24, 48, 96, 192}) {
    for (int smoothness : {2, 24, 50}) {
      std::string f = "=GTN_Update(A1:A500," + std::to_string(smoothness) +
                      "," + std::to_string(span) + ")";
      standin::Evaluation e = Evaluate(f);
      ASSERT_EQ(e.result.rows, 500) << f;
      std::vector<double> expected = GtnExpected(x, span, smoothness);
      for (int r = 0; r < 500; ++r) {
        double want = r < span + 6 ? span / 2 : expected[r];
        ASSERT_EQ(Number(e.result.at(r, 0)), want) << f << " row " << r;
      }
    }
  }
}

TEST_F(WorksheetFunctions, GtnStopsAtTheFirstNonNumber) {
  std::vector<double> x = Walk(40);
  standin::SheetId sheet = SheetWithColumn(x);
  standin::SetCell(sheet, 35, 0, Value{std::string("n/a")});
  standin::Evaluation e = Evaluate("=GTN_Update(A1:A40,10,24)");
  ASSERT_EQ(e.result.rows, 40);
  std::vector<double> head(x.begin(), x.begin() + 35);
  std::vector<double> expected = GtnExpected(head, 24, 10);
  for (int r = 30; r < 35; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), expected[r]);
  for (int r = 35; r < 40; ++r) EXPECT_EQ(e.result.at(r, 0), Value{std::string()});
}

TEST_F(WorksheetFunctions, GtnShortRunsOfNumbersCarryTheWarmUpValue) {
  // span + 2 .. span + 6 numbers define no row: all of them read as warm-up.
  for (int numbers : {26, 28, 30}) {
    std::vector<double> x = Walk(40);
    standin::SheetId sheet = SheetWithColumn(x);
    standin::SetCell(sheet, numbers, 0, Value{std::string("stop")});
    standin::Evaluation e = Evaluate("=GTN_Update(A1:A40,10,24)");
    ASSERT_EQ(e.result.rows, 40);
    for (int r = 0; r < numbers; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), 12);
    for (int r = numbers; r < 40; ++r) {
      EXPECT_EQ(e.result.at(r, 0), Value{std::string()});
    }
    Restart();
  }
}

TEST_F(WorksheetFunctions, GtnFailureTable) {
  std::vector<double> x = Walk(40);
  standin::SheetId sheet = SheetWithColumn(x);
  std::vector<Value> copy(x.begin(), x.end());
  standin::SetColumn(sheet, "B1", copy);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:A40,10,25)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:A40,1,24)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:A40,51,24)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:B40,10,24)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:A25,10,24)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update((A1:A40,B1:B40),10,24)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(#NUM!,10,24)")), xlerrNum);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(,10,24)")), xlerrNA);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(\"x\",10,24)")), xlerrValue);
  standin::SetCell(sheet, "A1", Value{std::string("title")});
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A1:A40,10,24)")), xlerrValue);
  standin::FailAllocation(1);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A2:A40,10,24)")), xlerrNA);
  standin::FailAllocation(0);
}

TEST_F(WorksheetFunctions, SpdRawRatesThenFilteredRates) {
  std::vector<double> x = Walk(40);
  SheetWithColumn(x);
  standin::Evaluation e = Evaluate("=Spd_Update(A1:A40,10)");
  ASSERT_EQ(e.result.rows, 40);
  std::vector<double> expected = SpdExpected(x, 10);
  EXPECT_EQ(Number(e.result.at(0, 0)), 0);
  for (int r = 1; r < 10; ++r) {
    EXPECT_EQ(Number(e.result.at(r, 0)), (x[r] - x[0]) / r) << r;
  }
  for (int r = 0; r < 40; ++r) {
    double got = Number(e.result.at(r, 0));
    EXPECT_EQ(std::memcmp(&got, &expected[r], sizeof got), 0) << r;
  }
}

TEST_F(WorksheetFunctions, SpdDepthsAndTheFirstNonNumber) {
  std::vector<double> x = Walk(600, 11);
  standin::SheetId sheet = SheetWithColumn(x);
  for (int depth : {2, 31, 500}) {
    standin::Evaluation e =
        Evaluate("=Spd_Update(A1:A600," + std::to_string(depth) + ")");
    ASSERT_EQ(e.result.rows, 600);
    std::vector<double> expected = SpdExpected(x, depth);
    for (int r = 0; r < 600; ++r) {
      ASSERT_EQ(Number(e.result.at(r, 0)), expected[r]) << depth << " " << r;
    }
  }
  standin::SetCell(sheet, 35, 0, Value{std::string("text")});
  standin::Evaluation e = Evaluate("=Spd_Update(A1:A40,10)");
  std::vector<double> head(x.begin(), x.begin() + 35);
  std::vector<double> expected = SpdExpected(head, 10);
  for (int r = 0; r < 35; ++r) EXPECT_EQ(Number(e.result.at(r, 0)), expected[r]);
  for (int r = 35; r < 40; ++r) EXPECT_EQ(e.result.at(r, 0), Value{std::string()});
}

TEST_F(WorksheetFunctions, SpdFailureTable) {
  std::vector<double> x = Walk(40);
  standin::SheetId sheet = SheetWithColumn(x);
  std::vector<Value> copy(x.begin(), x.end());
  standin::SetColumn(sheet, "B1", copy);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:A40,1)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:A40,501)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:A30,10)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:B40,10)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(#N/A,10)")), xlerrNA);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(,10)")), xlerrNA);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(FALSE,10)")), xlerrValue);
  // Too few numbers for the filter, or for the depth: an error value rather
  // than a column computed from values that are not there.
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:A40,45)")), xlerrValue);
  standin::SetCell(sheet, 20, 0, Value{std::string("gap")});
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A1:A40,10)")), xlerrValue);
  standin::FailAllocation(1);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(B1:B40,10)")), xlerrNA);
  standin::FailAllocation(0);
}

TEST_F(WorksheetFunctions, NoValueWhileAHostDialogIsOpen) {
  SheetWithColumn(Walk(40));
  HWND dialog = standin::OpenDialogWindow();
  EXPECT_TRUE(Evaluate("=GTN_Update(A1:A40,10,24)").no_value);
  EXPECT_TRUE(Evaluate("=Spd_Update(A1:A40,10)").no_value);
  standin::CloseWindow(dialog);
}

}  // namespace
}  // namespace hvt::testing
