// The add-in on a host of version 16: registered through Excel12v with
// XLOPER12 type texts, its worksheet functions over the big sheet, the same
// numbers as the cores and as the 4-series path, and hosts before 12 left
// exactly as they were.
#include <cstring>

#include "tests/addin/addin_fixture.h"
#include "tools/gtn/core/gtn.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/spd/core/spd.h"

namespace hvt::testing {
namespace {

using standin::Evaluate;

class WideHost : public AddInTest {
 protected:
  void SetUp() override {
    standin::Reset();
    standin::SetHostVersion("16.0");
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  // Bit-for-bit equality of a result column with expected numbers, then
  // empty text to the end.
  static void ExpectColumn(const standin::Evaluation& e, const std::vector<double>& expected,
                           int rows, const std::string& what) {
    ASSERT_FALSE(e.no_value) << what;
    ASSERT_EQ(e.result.rows, rows) << what;
    ASSERT_EQ(e.result.columns, 1) << what;
    for (int r = 0; r < rows; ++r) {
      const standin::Value& v = e.result.at(r, 0);
      // A plain test a row, the assertions only on a miss: unoptimised, they
      // would be most of these tests' time over a million rows.
      if (r < static_cast<int>(expected.size())) {
        const double* got = std::get_if<double>(&v);
        if (got != nullptr && std::memcmp(got, &expected[r], sizeof *got) == 0) continue;
      } else {
        const std::string* text = std::get_if<std::string>(&v);
        if (text != nullptr && text->empty()) continue;
      }
      if (r < static_cast<int>(expected.size())) {
        ASSERT_TRUE(std::holds_alternative<double>(v)) << what << " row " << r;
        double got = std::get<double>(v);
        ASSERT_EQ(std::memcmp(&got, &expected[r], sizeof got), 0) << what << " row " << r;
      } else {
        ASSERT_EQ(v, standin::Value{std::string()}) << what << " row " << r;
      }
    }
  }
};

// "xlfRegister": the worksheet functions take and return XLOPER12 ('Q',
// 'U'); none is marked thread-safe ('$'), as they answer in module records.
TEST_F(WideHost, WorksheetFunctionsRegisterWithXloperTwelveTypes) {
  std::map<std::string, std::pair<std::string, std::string>> seen;
  for (const standin::Registration& r : standin::Registrations()) {
    seen[r.function_text] = {r.procedure, r.type_text};
    EXPECT_EQ(r.type_text.find('$'), std::string::npos) << r.procedure;
  }
  using Row = std::pair<std::string, std::string>;
  EXPECT_EQ(seen["KLX_Update"], (Row{"KLXUP12", "QUEE"}));
  EXPECT_EQ(seen["GTN_Update"], (Row{"GTNUP12", "QUJJ"}));
  EXPECT_EQ(seen["Spd_Update"], (Row{"SPDUP12", "QUJ"}));
  EXPECT_EQ(seen["UpdateUCX"], (Row{"UpdateUCX12", "QUU"}));

  standin::CloseAddIn();
  EXPECT_TRUE(standin::Registrations().empty());
}

TEST_F(WideHost, OldHostsRegisterTheXloperProceduresAsBefore) {
  for (const char* version : {"4.0", "8.0", "11.0"}) {
    standin::CloseAddIn();
    standin::Reset();
    standin::SetHostVersion(version);
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    for (const standin::Registration& r : standin::Registrations()) {
      EXPECT_EQ(r.procedure.find("12"), std::string::npos) << version << " " << r.procedure;
      EXPECT_EQ(r.type_text.find_first_of("QU"), std::string::npos) << version;
    }
  }
}

// Past every row count a 16- or 17-bit field holds; a full million rows go
// through hvt in tests/cli/big_grid.sh.
TEST_F(WideHost, KlxPastTheOldGridAndOverAWholeColumnIsTheCore) {
  std::vector<double> x = Walk(200000, 11);
  SheetWithColumn(x);
  std::vector<double> y(x.size());
  ASSERT_EQ(klx::KlxFilter(x, {7, 30}, y), CoreStatus::kComplete);
  ExpectColumn(Evaluate("=KLX_Update(A1:A200000,7,30)"), y, 200000, "A1:A200000");
  // The whole column: the numbers, then empty text down to row 1,048,576.
  ExpectColumn(Evaluate("=KLX_Update(A:A,7,30)"), y, 1048576, "A:A");
}

TEST_F(WideHost, GtnAndSpdPastTheOldGridAreTheCores) {
  std::vector<double> x = Walk(100000, 5);
  SheetWithColumn(x);
  std::vector<double> g(x.size());
  ASSERT_EQ(gtn::GtnSeries(x, {48, 10, gtn::GtnTermOrder::WorksheetOrder}, g),
            CoreStatus::kComplete);
  for (std::size_t i = 0; i < gtn::GtnFirstDefinedRow(48); ++i) g[i] = 24;  // warm-up rows
  ExpectColumn(Evaluate("=GTN_Update(A1:A100000,10,48)"), g, 100000, "GTN");

  std::vector<double> s(x.size());
  ASSERT_EQ(spd::SpdSeries(x, {25}, s), CoreStatus::kComplete);
  ExpectColumn(Evaluate("=Spd_Update(A:A,25)"), s, 1048576, "SPD");
}

TEST_F(WideHost, ErrorsAndTheFirstNonNumberAsOnOldHosts) {
  std::vector<double> x = Walk(70000, 3);
  standin::SheetId sheet = SheetWithColumn(x);
  standin::SetCell(sheet, "A66000", std::string("gap"));
  std::vector<double> head(x.begin(), x.begin() + 65999), y(65999);
  ASSERT_EQ(klx::KlxFilter(head, {10, 0}, y), CoreStatus::kComplete);
  ExpectColumn(Evaluate("=KLX_Update(A1:A70000,10,0)"), y, 70000, "gap");
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:B70000,10,0)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A1:A30,10,0)")), xlerrRef);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(A:A,10001,0)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=KLX_Update(#N/A,10,0)")), xlerrNA);
  EXPECT_EQ(ErrorOf(Evaluate("=GTN_Update(A:A,10,25)")), xlerrValue);
  EXPECT_EQ(ErrorOf(Evaluate("=Spd_Update(A:A,1)")), xlerrValue);
}

// The same formulas answer the same numbers through both interfaces.
TEST_F(WideHost, UpdateUcxAnswersAsOnAnOldHost) {
  auto layout = [] {
    standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
    standin::SheetId coef = standin::AddSheet("Book1.xls", "Coef");
    const double k[3][3] = {{0.5, -1.25, 2}, {3, 0.125, -0.75}, {-2, 1.5, 0.25}};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) standin::SetCell(coef, r, c, k[r][c]);
    for (int c = 0; c < 3; ++c) {
      standin::SetCell(coef, 3, c, 10.0 + c);
      standin::SetCell(coef, 4, c, 0.5 + 0.25 * c);
      standin::SetCell(data, 0, c, 12.0 - 3 * c);
    }
    standin::Activate(data);
  };
  const char* formulas[] = {"=UpdateUCX(Coef!A1:A5,A1:C1)", "=UpdateUCX(Coef!C1:C5,A1:C1)",
                            "=UpdateUCX(Coef!A1:A4,A1:C1)", "=UpdateUCX(Coef!A1:A5,5)"};
  std::vector<standin::Value> wide, old;
  layout();
  for (const char* f : formulas) wide.push_back(Evaluate(f).result.cells.at(0));
  standin::CloseAddIn();
  standin::Reset();
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  layout();
  for (const char* f : formulas) old.push_back(Evaluate(f).result.cells.at(0));
  EXPECT_EQ(wide, old);
  EXPECT_TRUE(std::holds_alternative<double>(wide[0]));
}

// "xlAddInManagerInfo/xlAddInManagerInfo12" and "xlAutoRegister/
// xlAutoRegister12": the 12-series entry points answer what the old ones do.
TEST_F(WideHost, AddInManagerEntryPointsOfTheTwelveSeries) {
  auto info = Procedure<LPXLOPER12(WINAPI*)(LPXLOPER12)>("xlAddInManagerInfo12");
  ASSERT_NE(info, nullptr);
  XLOPER12 one{};
  one.xltype = xltypeNum;
  one.val.num = 1;
  LPXLOPER12 name = info(&one);
  ASSERT_EQ(name->xltype, static_cast<DWORD>(xltypeStr));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name->val.str + 1), name->val.str[0]),
            u"Halvo Tools");
  XLOPER12 two = one;
  two.val.num = 2;
  EXPECT_EQ(info(&two)->xltype, static_cast<DWORD>(xltypeErr));

  auto reg = Procedure<LPXLOPER12(WINAPI*)(LPXLOPER12)>("xlAutoRegister12");
  ASSERT_NE(reg, nullptr);
  for (const std::u16string text : {u"KLXUP12", u"klxup", u"NoSuchProcedure"}) {
    std::u16string counted = std::u16string(1, static_cast<char16_t>(text.size())) + text;
    XLOPER12 procedure{};
    procedure.xltype = xltypeStr;
    procedure.val.str = reinterpret_cast<XCHAR*>(counted.data());
    LPXLOPER12 id = reg(&procedure);
    if (text == u"NoSuchProcedure") {
      EXPECT_EQ(id->xltype, static_cast<DWORD>(xltypeErr));
    } else {
      ASSERT_EQ(id->xltype, static_cast<DWORD>(xltypeNum));
    }
  }
  // Asked by either name, the row registers its 12-series procedure again,
  // under the same id: still one registration of KLX_Update.
  int klx = 0;
  for (const standin::Registration& r : standin::Registrations()) {
    if (r.function_text == "KLX_Update") {
      ++klx;
      EXPECT_EQ(r.procedure, "KLXUP12");
    }
  }
  EXPECT_EQ(klx, 1);
}

}  // namespace
}  // namespace hvt::testing
