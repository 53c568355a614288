// The KLX macros' pure steps: label setting texts, the output area, and
// macro reference arguments turned into records.
#include <gtest/gtest.h>

#include <string>

#include "standin/standin.h"
#include "tools/klx/klx.h"

namespace hvt::klx {
namespace {

std::string Smoothness(double s) {
  char text[40];
  SmoothnessText(s, text, sizeof text);
  return text;
}

std::string Phase(double p) {
  char text[40];
  PhaseText(p, text, sizeof text);
  return text;
}

TEST(KlxLabelText, NumbersKeepFourOrThreeSignificantDigits) {
  EXPECT_EQ(Smoothness(10), "10");
  EXPECT_EQ(Smoothness(8192), "8192");
  EXPECT_EQ(Smoothness(0.5), "0.5");
  EXPECT_EQ(Smoothness(12.3456), "12.35");
  // Five digits do not fit four: exponent form, as printf's G gives it.
  EXPECT_EQ(Smoothness(10000), "1E+04");
  // The floor PQE uses for 0 reads as 0; a value just above it does not.
  EXPECT_EQ(Smoothness(1e-10), "0");
  EXPECT_EQ(Smoothness(2e-10), "2E-10");
  EXPECT_EQ(Phase(0), "0");
  EXPECT_EQ(Phase(-100), "-100");
  EXPECT_EQ(Phase(150), "150");
  EXPECT_EQ(Phase(12.345), "12.3");
  EXPECT_EQ(Phase(-0.25), "-0.25");
}

TEST(KlxLabelText, SuffixNamesTheSettings) {
  char suffix[96];
  LabelSuffix("10", "0", suffix, sizeof suffix);
  EXPECT_STREQ(suffix, "_S10_P0");
  LabelSuffix("1E+04", nullptr, suffix, sizeof suffix);
  EXPECT_STREQ(suffix, "_S1E+04");
}

TEST(KlxOutputArea, FirstOutputColumnFromThirtyRowsBelowTheData) {
  XLREF data{5, 104, 0, 0};
  XLREF output{9, 12, 3, 6};
  XLREF area = OutputArea(data, output);
  EXPECT_EQ(area.rwFirst, 35);
  EXPECT_EQ(area.rwLast, 104);
  EXPECT_EQ(area.colFirst, 3);
  EXPECT_EQ(area.colLast, 3);
  // Data ending on the sheet's last row.
  XLREF bottom{65504, 65535, 2, 2};
  area = OutputArea(bottom, output);
  EXPECT_EQ(area.rwFirst, 65534);
  EXPECT_EQ(area.rwLast, 65535);
}

class KlxArguments : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override {
    EXPECT_TRUE(standin::GetAccounting().Clean());
    standin::ResetQuietly();
  }
};

TEST_F(KlxArguments, SingleReferenceMeansTheActiveSheet) {
  standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId active = standin::NewWorkbook("Book2.xls", "Other");
  XLOPER single{};
  single.xltype = xltypeSRef;
  single.val.sref.count = 1;
  single.val.sref.ref = XLREF{3, 60, 2, 2};
  RefRecord record;
  PrepareRef(record);
  int areas = 0;
  ASSERT_TRUE(ArgumentReference(&single, record, areas));
  EXPECT_EQ(areas, 1);
  EXPECT_EQ(record.value.val.mref.idSheet, active);
  EXPECT_EQ(record.table.reftbl[0].rwFirst, 3);
  EXPECT_EQ(record.table.reftbl[0].rwLast, 60);
  EXPECT_EQ(record.value.val.mref.lpmref, &record.table) << "the record keeps its own area";
}

TEST_F(KlxArguments, OnlyReferencesWithAnAreaAreAccepted) {
  RefRecord record;
  PrepareRef(record);
  int areas = 0;
  XLOPER value{};
  for (WORD type : {xltypeNum, xltypeStr, xltypeBool, xltypeErr, xltypeMulti,
                    xltypeMissing, xltypeNil, xltypeInt}) {
    value = XLOPER{};
    value.xltype = type;
    EXPECT_FALSE(ArgumentReference(&value, record, areas)) << type;
  }
  EXPECT_FALSE(ArgumentReference(nullptr, record, areas));
  value = XLOPER{};
  value.xltype = xltypeRef;  // no reference table
  EXPECT_FALSE(ArgumentReference(&value, record, areas));
  XLMREF empty{};
  empty.count = 0;
  value.val.mref.lpmref = &empty;
  EXPECT_FALSE(ArgumentReference(&value, record, areas));

  XLMREF two[2] = {};
  two[0].count = 2;
  two[0].reftbl[0] = XLREF{0, 40, 1, 1};
  value.val.mref.lpmref = &two[0];
  value.val.mref.idSheet = 7;
  ASSERT_TRUE(ArgumentReference(&value, record, areas));
  EXPECT_EQ(areas, 2) << "the area count is told, only the first area kept";
  EXPECT_EQ(record.table.count, 1);
  EXPECT_EQ(record.value.val.mref.idSheet, 7u);
}

}  // namespace
}  // namespace hvt::klx
