// The decorrelator's coefficient sheet and file names, against a plain
// string formulation of the same rules over many generated sheet texts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/counted_text.h"
#include "tools/decor/decor.h"

namespace hvt::decor {
namespace {

std::string Counted(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

// Cut at the first "." (on workbook hosts the first one from the "]" on),
// then ".COF".
std::string ReferenceName(const std::string& sheet, bool workbook) {
  std::size_t from = 0;
  if (workbook) {
    std::size_t bracket = sheet.find(']');
    if (bracket != std::string::npos) from = bracket;
  }
  std::size_t dot = sheet.find('.', from);
  return sheet.substr(0, dot) + ".COF";
}
std::string ReferenceShort(const std::string& name) {
  std::size_t bracket = name.find(']');
  return bracket == std::string::npos ? name : name.substr(bracket + 1);
}
std::string ReferenceFile(const std::string& shortName) {
  std::size_t dot = shortName.rfind('.');
  return dot == std::string::npos ? shortName : shortName.substr(0, dot + 1) + "UCX";
}

TEST(DecorNames, ExamplesOfBothHostKinds) {
  char out[kNameSize];
  struct Case {
    const char* sheet;
    bool workbook;
    const char* name;
    const char* shortName;
    const char* file;
  };
  for (const Case& c : {Case{"[Book1.xls]Sheet1", true, "[Book1.xls]Sheet1.COF", "Sheet1.COF", "Sheet1.UCX"},
                        Case{"[Book1.xls]My.Data", true, "[Book1.xls]My.COF", "My.COF", "My.UCX"},
                        Case{"[prices]Data", true, "[prices]Data.COF", "Data.COF", "Data.UCX"},
                        Case{"BOOK1.XLS", false, "BOOK1.COF", "BOOK1.COF", "BOOK1.UCX"},
                        Case{"DATA", false, "DATA.COF", "DATA.COF", "DATA.UCX"},
                        // Without workbooks the book's dot is the first one.
                        Case{"[B.xls]S", false, "[B.COF", "[B.COF", "[B.UCX"}}) {
    std::string sheet = Counted(c.sheet);
    ASSERT_TRUE(BuildCoefficientName(sheet.c_str(), c.workbook, out, sizeof out)) << c.sheet;
    EXPECT_EQ(CountedText(out), c.name);
    EXPECT_EQ(out[1 + static_cast<unsigned char>(out[0])], '\0');
    char shortName[kNameSize], file[kNameSize];
    ShortSheetName(out, shortName, sizeof shortName);
    EXPECT_EQ(CountedText(shortName), c.shortName);
    DefaultFileName(shortName, file, sizeof file);
    EXPECT_EQ(CountedText(file), c.file);
  }
}

TEST(DecorNames, GeneratedTextsMatchThePlainRules) {
  std::mt19937 random(17);
  const std::string alphabet = "ab.]x[";
  char out[kNameSize], shortName[kNameSize], file[kNameSize];
  for (int trial = 0; trial < 4000; ++trial) {
    std::size_t length = 1 + random() % 40;
    std::string sheet;
    for (std::size_t i = 0; i < length; ++i) sheet += alphabet[random() % alphabet.size()];
    bool workbook = random() % 2 == 0;
    std::string counted = Counted(sheet);
    ASSERT_TRUE(BuildCoefficientName(counted.c_str(), workbook, out, sizeof out));
    std::string want = ReferenceName(sheet, workbook);
    ASSERT_EQ(CountedText(out), want) << sheet << " workbook " << workbook;
    ShortSheetName(out, shortName, sizeof shortName);
    ASSERT_EQ(CountedText(shortName), ReferenceShort(want)) << want;
    DefaultFileName(shortName, file, sizeof file);
    ASSERT_EQ(CountedText(file), ReferenceFile(CountedText(shortName))) << CountedText(shortName);
  }
}

TEST(DecorNames, NamesThatWouldNotFitAreRefused) {
  char out[kNameSize];
  // The buffer holds the count, the text and a NUL: 250 characters and
  // ".COF" fill it; one more does not.
  std::string fits = Counted(std::string(kNameSize - 6, 's'));
  ASSERT_TRUE(BuildCoefficientName(fits.c_str(), false, out, sizeof out));
  EXPECT_EQ(CountedText(out).size(), kNameSize - 2);
  std::string over = Counted(std::string(kNameSize - 5, 's'));
  EXPECT_FALSE(BuildCoefficientName(over.c_str(), false, out, sizeof out));
  // A long text cut early by its dot still fits.
  std::string cut = Counted("[b.xls]" + std::string(10, 's') + "." + std::string(230, 't'));
  ASSERT_TRUE(BuildCoefficientName(cut.c_str(), true, out, sizeof out));
  EXPECT_EQ(CountedText(out), "[b.xls]" + std::string(10, 's') + ".COF");
  // A small buffer is never overrun.
  char small[8];
  std::string sheet = Counted("Sheet1");
  EXPECT_FALSE(BuildCoefficientName(sheet.c_str(), false, small, sizeof small));
  std::string name = Counted("[Book1.xls]Sheet1.COF");
  ShortSheetName(name.c_str(), small, sizeof small);
  EXPECT_EQ(CountedText(small), "Sheet1");  // cut to the room there is
  EXPECT_EQ(small[7], '\0');
}

}  // namespace
}  // namespace hvt::decor
