// Label texts of the column commands: the suffix always survives, the text
// is shortened to fit, a long reference drops its sheet so the formula fits,
// and a formula that would not fit even so is refused.
#include <gtest/gtest.h>

#include <string>

#include "command/label.h"
#include "tests/counted_text.h"

namespace hvt {
namespace {

TEST(Label, TextThenSuffixShortenedToFit) {
  char buffer[kLabelBufferSize];
  ComposeLabel("Close", 5, "_24_10", buffer);
  EXPECT_EQ(CountedText(buffer), "Close_24_10");
  EXPECT_EQ(buffer[1 + 11], '\0');

  std::string longText(255, 'x');
  ComposeLabel(longText.data(), longText.size(), "_D14", buffer);
  EXPECT_EQ(CountedText(buffer), std::string(251, 'x') + "_D14");
  EXPECT_EQ(buffer[1 + 255], '\0');

  ComposeLabel("", 0, "_192_50", buffer);
  EXPECT_EQ(CountedText(buffer), "_192_50");
}

TEST(Label, FormulaNamesTheDataColumn) {
  char buffer[kLabelBufferSize];
  std::string ref = "[Book1.xls]Data!R1C3:R40C3";
  ASSERT_TRUE(ComposeLabelFormula(ref.data(), ref.size(), "_24_10", buffer));
  EXPECT_EQ(CountedText(buffer), "=\"Col\"&COLUMN(" + ref + ")&\"_24_10\"");

  // 14 + reference + 3 + suffix + 1 characters: the longest reference that
  // fits with "_D14" is 255 - 22 = 233 characters.
  std::string fits(233, 'r');
  EXPECT_TRUE(ComposeLabelFormula(fits.data(), fits.size(), "_D14", buffer));
  EXPECT_EQ(CountedText(buffer).size(), 255u);
  EXPECT_EQ(buffer[1 + 255], '\0');
  // With no sheet part to drop, one character more is refused.
  std::string tooLong(234, 'r');
  buffer[0] = 7;
  EXPECT_FALSE(ComposeLabelFormula(tooLong.data(), tooLong.size(), "_D14", buffer));
  EXPECT_EQ(buffer[0], 7);  // untouched
}

TEST(Label, ALongReferenceDropsItsSheetSoTheFormulaFits) {
  char buffer[kLabelBufferSize];
  std::string ref = "'[" + std::string(200, 'b') + ".xls]My Data'!R12C7:R900C7";
  ASSERT_TRUE(ComposeLabelFormula(ref.data(), ref.size(), "_S1E+04_P-100", buffer));
  EXPECT_EQ(CountedText(buffer), "=\"Col\"&COLUMN(R12C7:R900C7)&\"_S1E+04_P-100\"");
  // A reference that fits is kept whole, sheet and all, up to 255 characters.
  std::string fixed = "=\"Col\"&COLUMN()&\"_S10_P0\"";
  std::string exact = std::string(255 - fixed.size() - 12, 'x') + "!R1C1:R40C1";
  ASSERT_EQ(exact.size() + fixed.size(), 254u);
  exact = "y" + exact;
  ASSERT_TRUE(ComposeLabelFormula(exact.data(), exact.size(), "_S10_P0", buffer));
  EXPECT_EQ(CountedText(buffer).size(), 255u);
  EXPECT_NE(CountedText(buffer).find(exact), std::string::npos);
}

TEST(Label, SettingsAlwaysShowAfterATitle) {
  char buffer[kLabelBufferSize];
  ComposeLabel("Close", 5, "_S15", buffer);
  EXPECT_EQ(CountedText(buffer), "Close_S15");
  std::string longest(255, 'T');
  const std::string suffix = "_S8192_P-100";
  ComposeLabel(longest.data(), longest.size(), suffix.c_str(), buffer);
  std::string shown = CountedText(buffer);
  EXPECT_EQ(shown.size(), 255u);
  EXPECT_EQ(shown.substr(shown.size() - suffix.size()), suffix);
  EXPECT_EQ(shown.find_first_not_of('T'), 255u - suffix.size());
}

}  // namespace
}  // namespace hvt
