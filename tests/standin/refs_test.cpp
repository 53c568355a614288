// Reference texts: A1 and R1C1 read back what they print, over every shape,
// and sheet prefixes quote what needs quoting.
#include <gtest/gtest.h>

#include "standin/refs.h"

namespace {

using standin::Area;
using standin::RefText;

// Column names by counting in base 26 without a zero digit, written out the
// long way.
std::string ColumnByHand(int c) {
  if (c < 26) return std::string(1, static_cast<char>('A' + c));
  return std::string(1, static_cast<char>('A' + c / 26 - 1)) + static_cast<char>('A' + c % 26);
}

TEST(Refs, ColumnNames) {
  for (int c = 0; c < 256; ++c) ASSERT_EQ(standin::ColumnName(c), ColumnByHand(c));
  EXPECT_EQ(standin::ColumnName(255), "IV");
}

std::vector<RefText> Shapes() {
  std::vector<RefText> out;
  const int rows[] = {0, 1, 9, 30, 5000, 65535};
  const int cols[] = {0, 1, 25, 26, 255};
  for (int r1 : rows)
    for (int r2 : rows)
      for (int c1 : cols)
        for (int c2 : cols) {
          if (r2 < r1 || c2 < c1) continue;
          for (int abs = 0; abs < 16; abs += 5) {
            RefText t;
            t.area = Area{r1, r2, c1, c2};
            t.abs_row1 = abs & 1;
            t.abs_col1 = abs & 2;
            t.abs_row2 = abs & 4;
            t.abs_col2 = abs & 8;
            if (r1 == r2 && c1 == c2) {
              t.abs_row2 = t.abs_row1;
              t.abs_col2 = t.abs_col1;
            }
            out.push_back(t);
          }
        }
  return out;
}

TEST(Refs, A1RoundTripsEveryShape) {
  for (const RefText& t : Shapes()) {
    std::string text = standin::PrintA1(t);
    auto back = standin::ParseA1(text, 65536);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, t) << text;
  }
}

TEST(Refs, R1C1RoundTripsAbsoluteAndRelative) {
  for (const RefText& t : Shapes())
    for (auto [base_row, base_col] : {std::pair{0, 0}, std::pair{40, 3}}) {
      std::string text = standin::PrintR1C1(t, base_row, base_col);
      auto back = standin::ParseR1C1(text, 65536, base_row, base_col);
      ASSERT_TRUE(back.has_value()) << text;
      EXPECT_EQ(back->area, t.area) << text;
      EXPECT_EQ(back->abs_row1, t.abs_row1) << text;
    }
}

TEST(Refs, KnownTexts) {
  RefText t;
  t.area = Area{1, 5000, 0, 0};
  EXPECT_EQ(standin::PrintA1(t), "A2:A5001");
  t.abs_row1 = t.abs_col1 = t.abs_row2 = t.abs_col2 = true;
  EXPECT_EQ(standin::PrintR1C1(t), "R2C1:R5001C1");
  t.abs_row1 = t.abs_row2 = false;
  EXPECT_EQ(standin::PrintR1C1(t, 1, 0), "RC1:R[4999]C1");

  auto whole = standin::ParseA1("$B:$C", 65536);
  ASSERT_TRUE(whole);
  EXPECT_TRUE(whole->whole_columns);
  EXPECT_EQ(whole->area, (Area{0, 65535, 1, 2}));
  auto older = standin::ParseA1("B:B", 16384);
  EXPECT_EQ(older->area.last_row, 16383) << "whole columns follow the host's row limit";
  auto rows = standin::ParseR1C1("R3:R4", 65536);
  ASSERT_TRUE(rows);
  EXPECT_TRUE(rows->whole_rows);
  EXPECT_EQ(rows->area, (Area{2, 3, 0, 255}));
  auto col = standin::ParseR1C1("C2", 65536);
  ASSERT_TRUE(col);
  EXPECT_TRUE(col->whole_columns);
}

TEST(Refs, RejectsWhatIsNotAReference) {
  for (const char* bad : {"", "A", "5", "A0", "IW1", "A65537", "A1:", "A1B", "SUM", "A1:B",
                          "'My Data!A1", "[Book]!A1", "A:1"})
    EXPECT_FALSE(standin::ParseA1(bad, 65536).has_value()) << bad;
  EXPECT_FALSE(standin::ParseA1("A16385", 16384).has_value());
  EXPECT_FALSE(standin::ParseR1C1("R0C1", 65536).has_value());
  EXPECT_FALSE(standin::ParseR1C1("R[-1]C1", 65536, 0, 0).has_value()) << "above row 1";
}

TEST(Refs, SheetPrefixes) {
  struct Case {
    const char* text;
    const char* book;
    const char* sheet;
  };
  for (const Case& c : {Case{"Sheet1!A1", "", "Sheet1"}, Case{"'My Data'!A1", "", "My Data"},
                        Case{"'It''s'!A1", "", "It's"}, Case{"[BOOK1.XLS]Data!A1", "BOOK1.XLS", "Data"},
                        Case{"'[BOOK1.XLS]My Data'!A1", "BOOK1.XLS", "My Data"},
                        Case{"'[my book.xls]S'!A1", "my book.xls", "S"}}) {
    auto ref = standin::ParseA1(c.text, 65536);
    ASSERT_TRUE(ref.has_value()) << c.text;
    EXPECT_EQ(ref->book, c.book) << c.text;
    EXPECT_EQ(ref->sheet, c.sheet) << c.text;
    EXPECT_EQ(standin::PrintA1(*ref), c.text) << "prints back the same";
  }
  // Names that would read as something else get quotes.
  EXPECT_EQ(standin::SheetPrefix("", "A1"), "'A1'!");
  EXPECT_EQ(standin::SheetPrefix("", "R1C1"), "'R1C1'!");
  EXPECT_EQ(standin::SheetPrefix("", "2024"), "'2024'!");
  EXPECT_EQ(standin::SheetPrefix("", "prices"), "prices!");
}

}  // namespace
