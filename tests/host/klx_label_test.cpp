// The KLX macros' pure steps: label texts, the output area, and macro
// reference arguments turned into records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "standin/standin.h"
#include "tools/klx/klx_command.h"

namespace hvt::klx {
namespace {

std::string Counted(const char* text) {
  return std::string(text + 1, static_cast<unsigned char>(text[0]));
}

std::string MakeCounted(const std::string& text) {
  std::string counted(1, static_cast<char>(text.size()));
  return counted + text;
}

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

TEST(KlxLabelText, FormulaNamesTheColumnAndTheSettings) {
  char buffer[kLabelBufferSize];
  std::string ref = MakeCounted("[Book1.xls]Data!R1C1:R500C1");
  ASSERT_TRUE(BuildFormulaLabel(ref.c_str(), "10", "0", buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "=\"Col\"&COLUMN([Book1.xls]Data!R1C1:R500C1)&\"_S10_P0\"");
  EXPECT_EQ(std::strlen(buffer + 1), Counted(buffer).size()) << "NUL after the text";
  ASSERT_TRUE(BuildFormulaLabel(ref.c_str(), "0", nullptr, buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "=\"Col\"&COLUMN([Book1.xls]Data!R1C1:R500C1)&\"_S0\"");
}

TEST(KlxLabelText, ALongReferenceDropsItsSheetSoTheFormulaFits) {
  char buffer[kLabelBufferSize];
  std::string book(200, 'b');
  std::string ref = MakeCounted("'[" + book + ".xls]My Data'!R12C7:R900C7");
  ASSERT_TRUE(BuildFormulaLabel(ref.c_str(), "1E+04", "-100", buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "=\"Col\"&COLUMN(R12C7:R900C7)&\"_S1E+04_P-100\"");
  // A reference that fits is kept whole, right up to 255 characters.
  std::string fixed = "=\"Col\"&COLUMN()&\"_S10_P0\"";
  std::string exact = std::string(255 - fixed.size() - 9, 'x') + "!R1C1:R40C1";
  exact = exact.substr(exact.size() - (255 - fixed.size()));
  std::string fits = MakeCounted(exact);
  ASSERT_TRUE(BuildFormulaLabel(fits.c_str(), "10", "0", buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer).size(), 255u);
  EXPECT_NE(Counted(buffer).find(exact), std::string::npos);
  // Too small a buffer is refused, never overrun.
  char tiny[16];
  EXPECT_FALSE(BuildFormulaLabel(fits.c_str(), "10", "0", tiny, sizeof tiny));
}

TEST(KlxLabelText, TextLabelIsCutSoTheSettingsAlwaysShow) {
  char buffer[kLabelBufferSize];
  std::string title = MakeCounted("Close");
  ASSERT_TRUE(BuildTextLabel(title.c_str(), "10", "0", buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "Close_S10_P0");
  ASSERT_TRUE(BuildTextLabel(title.c_str(), "15", nullptr, buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "Close_S15");

  std::string longest = MakeCounted(std::string(255, 'T'));
  ASSERT_TRUE(BuildTextLabel(longest.c_str(), "8192", "-100", buffer, sizeof buffer));
  std::string shown = Counted(buffer);
  EXPECT_EQ(shown.size(), 255u);
  const std::string suffix = "_S8192_P-100";
  EXPECT_EQ(shown.substr(shown.size() - suffix.size()), suffix);
  EXPECT_EQ(shown.find_first_not_of('T'), 255u - suffix.size());
  std::string empty = MakeCounted("");
  ASSERT_TRUE(BuildTextLabel(empty.c_str(), "10", "0", buffer, sizeof buffer));
  EXPECT_EQ(Counted(buffer), "_S10_P0");
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
