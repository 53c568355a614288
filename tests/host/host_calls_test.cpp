// Host version, open host dialogs and call plumbing, against the stand-in.
#include <gtest/gtest.h>

#include <cmath>

#include "host/dialog_table.h"
#include "host/host_values.h"
#include "standin/standin.h"

namespace hvt {
namespace {

class HostCalls : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override {
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "" : accounting.problems.front());
    standin::ResetQuietly();
  }
};

// The whole number before the point counts: read by its first character
// alone, Excel 2002 ("10.0") and later would pass for version 1.
TEST_F(HostCalls, VersionDecidesMenuBarAndRowLimit) {
  struct Case {
    const char* version;
    double bar;
    int rows;
  };
  for (Case c : {Case{"4.0", 1, 16384}, Case{"5.0", 10, 16384}, Case{"7.0", 10, 16384},
                 Case{"8.0", 10, 65536}, Case{"9.0", 10, 65536}, Case{"10.0", 10, 65536},
                 Case{"11.0", 10, 65536}, Case{"12.0", 10, 65536}, Case{"14.0", 10, 65536},
                 Case{"15.0", 10, 65536}, Case{"16.0", 10, 65536}}) {
    standin::SetHostVersion(c.version);
    g_maxRows = 0;
    g_hostVersion = 0;
    g_menuBar = 0;
    g_versionRead = 0;
    ReadHostVersion();
    EXPECT_EQ(g_menuBar, c.bar) << c.version;
    EXPECT_EQ(g_maxRows, c.rows) << c.version;
    EXPECT_EQ(g_versionRead, 1);
  }
}

TEST_F(HostCalls, CallExcelEmptiesThePoolAndRefusesHoles) {
  XLOPER result;
  ResetTemp();
  ASSERT_EQ(CallExcel(xlfGetWorkspace, &result, 1, TempNumber(2)), xlretSuccess);
  EXPECT_EQ(TempFillOffset(), 0u);
  EXPECT_EQ(result.xltype & ~xlbitXLFree, xltypeStr);
  Excel4(xlFree, nullptr, 1, &result);

  // A temporary that did not fit arrives as a null argument.
  EXPECT_NE(CallExcel(xlfGetWorkspace, &result, 1, nullptr), xlretSuccess);
  EXPECT_EQ(TempFillOffset(), 0u);
}

TEST_F(HostCalls, DialogWindowUnderTheMainWindowOnly) {
  EXPECT_FALSE(HostDialogOpen());
  HWND other = standin::OpenWindow("SomeOtherFrame");
  HWND foreign = standin::OpenDialogWindow(other);
  EXPECT_FALSE(HostDialogOpen()) << "same class under another parent";
  HWND wrongClass = standin::OpenWindow("bosa_sdm_X");
  EXPECT_FALSE(HostDialogOpen()) << "class name too short";
  HWND dialog = standin::OpenWindow("bosa_sdm_XL9");
  EXPECT_TRUE(HostDialogOpen());
  standin::CloseWindow(dialog);
  EXPECT_FALSE(HostDialogOpen());
  HWND upper = standin::OpenWindow("BOSA_SDM_XL");
  EXPECT_TRUE(HostDialogOpen()) << "case is ignored";
  for (HWND w : {other, foreign, wrongClass, upper}) standin::CloseWindow(w);
}

// An option group's answer comes back as a number; anything a long cannot
// hold (NaN, infinities, beyond 32 bits) must not reach the cast.
TEST(OptionAnswer, WholeNumbersOrTheFallback) {
  EXPECT_EQ(OptionNumber(1, 2), 1);
  EXPECT_EQ(OptionNumber(2.9, 1), 2);
  EXPECT_EQ(OptionNumber(-3.5, 1), -3);
  EXPECT_EQ(OptionNumber(2147483647.0, 1), 2147483647L);
  for (double odd : {double{NAN}, double{INFINITY}, -double{INFINITY}, 2147483648.0, -2147483649.0, 1e300})
    EXPECT_EQ(OptionNumber(odd, 7), 7) << odd;
}

}  // namespace
}  // namespace hvt
