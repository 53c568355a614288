// Label texts of the one-column commands: the suffix always survives, the
// text is shortened to fit, and a formula that would not fit is refused.
#include <gtest/gtest.h>

#include <string>

#include "tools/column_command.h"

namespace hvt::column {
namespace {

std::string Text(const char* buffer) {
  return std::string(buffer + 1, static_cast<unsigned char>(buffer[0]));
}

TEST(ColumnLabel, TextThenSuffixShortenedToFit) {
  char buffer[kLabelBufferSize];
  ComposeLabel("Close", 5, "_24_10", buffer);
  EXPECT_EQ(Text(buffer), "Close_24_10");
  EXPECT_EQ(buffer[1 + 11], '\0');

  std::string longText(255, 'x');
  ComposeLabel(longText.data(), longText.size(), "_D14", buffer);
  EXPECT_EQ(Text(buffer), std::string(251, 'x') + "_D14");
  EXPECT_EQ(buffer[1 + 255], '\0');

  ComposeLabel("", 0, "_192_50", buffer);
  EXPECT_EQ(Text(buffer), "_192_50");
}

TEST(ColumnLabel, FormulaNamesTheDataColumn) {
  char buffer[kLabelBufferSize];
  std::string ref = "[Book1.xls]Data!R1C3:R40C3";
  ASSERT_TRUE(ComposeLabelFormula(ref.data(), ref.size(), "_24_10", buffer));
  EXPECT_EQ(Text(buffer), "=\"Col\"&COLUMN(" + ref + ")&\"_24_10\"");

  // 14 + reference + 3 + suffix + 1 characters: the longest reference that
  // fits with "_D14" is 255 - 22 = 233 characters.
  std::string fits(233, 'r');
  EXPECT_TRUE(ComposeLabelFormula(fits.data(), fits.size(), "_D14", buffer));
  EXPECT_EQ(Text(buffer).size(), 255u);
  std::string tooLong(234, 'r');
  buffer[0] = 7;
  EXPECT_FALSE(ComposeLabelFormula(tooLong.data(), tooLong.size(), "_D14", buffer));
  EXPECT_EQ(buffer[0], 7);  // untouched
}

}  // namespace
}  // namespace hvt::column
