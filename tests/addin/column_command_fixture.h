// What the end-to-end tests of the one-column commands (GTN and SPD) share:
// the data sheet, the transcript read back, columns compared bit for bit, and
// the macro's reference arguments for direct calls.
#ifndef HVT_TESTS_ADDIN_COLUMN_COMMAND_FIXTURE_H
#define HVT_TESTS_ADDIN_COLUMN_COMMAND_FIXTURE_H

#include <cstring>
#include <string>
#include <vector>

#include "tests/addin/addin_fixture.h"

namespace hvt::testing {

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class ColumnCommandTest : public AddInTest {
 protected:
  // Data in A1 down and a single cell selected. The stand-in hands a
  // reference box's text back as it was offered (R1C1), which its A1 reading
  // of dialog texts does not take: the person types the data reference in A1
  // form, kept here in data_.
  standin::SheetId Prepare(const std::vector<double>& x, const std::string& range) {
    standin::SheetId sheet = SheetWithColumn(x);
    standin::Select(sheet, "H1");
    data_ = range;
    return sheet;
  }

  std::string data_;

  // How many transcript lines contain `text`.
  static int Seen(const std::string& text) {
    int count = 0;
    for (const std::string& line : standin::Transcript()) {
      if (line.find(text) != std::string::npos) ++count;
    }
    return count;
  }

  // The alerts and dialogs seen, without the beeps before them.
  static std::vector<std::string> Said() {
    std::vector<std::string> lines;
    for (const std::string& line : standin::Transcript()) {
      if (line != "beep") lines.push_back(line);
    }
    return lines;
  }

  static std::string Dump() {
    std::string all;
    for (const std::string& line : standin::Transcript()) all += line + "\n";
    return all;
  }

  // The label formula ="Col"&COLUMN(<data>)&"<suffix>" in a cell, and the
  // text the host shows for it.
  static void ExpectLabelFormula(standin::SheetId sheet, const std::string& cell,
                                 const std::string& data, const std::string& suffix) {
    EXPECT_EQ(standin::GetFormula(sheet, cell),
              "=\"Col\"&COLUMN(" + data + ")&\"" + suffix + "\"");
    standin::Value shown = standin::GetCell(sheet, cell);
    ASSERT_TRUE(std::holds_alternative<std::string>(shown)) << standin::Describe(shown);
    EXPECT_EQ(std::get<std::string>(shown).rfind("Col", 0), 0u);
    EXPECT_TRUE(std::get<std::string>(shown).ends_with(suffix)) << std::get<std::string>(shown);
  }

  static bool IsBlank(standin::SheetId sheet, int row, int column) {
    return std::holds_alternative<standin::Blank>(standin::GetCell(sheet, row, column));
  }

  // Whether column `column` from `from` to `to` (0-based rows) is empty.
  static bool ColumnBlank(standin::SheetId sheet, int column, int from, int to) {
    for (int r = from; r <= to; ++r) {
      if (!IsBlank(sheet, r, column)) return false;
    }
    return true;
  }

  // Expects rows [first, y.size()) of `column` to equal y bit for bit and
  // the rows between the label and `first` to be empty.
  void ExpectColumn(standin::SheetId sheet, int column, const std::vector<double>& y,
                    int first, int dataTop = 0) {
    EXPECT_TRUE(ColumnBlank(sheet, column, dataTop + 1, dataTop + first - 1));
    for (std::size_t r = first; r < y.size(); ++r) {
      double got = Number(standin::GetCell(sheet, dataTop + static_cast<int>(r), column));
      ASSERT_TRUE(SameBits(got, y[r])) << "row " << r << ": " << got << " vs " << y[r];
    }
  }

  using Ref = MacroRef;
};

}  // namespace hvt::testing

#endif  // HVT_TESTS_ADDIN_COLUMN_COMMAND_FIXTURE_H
