// Cell formats and column widths through the format commands, against a
// plain grid of formats kept cell by cell beside the host, and best fit
// against the longest text worked out again per column.
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/standin/fixture.h"

namespace formats_test {

using standin::Value;

std::string ColumnLetters(int column) {  // zero-based
  std::string name;
  for (int c = column + 1; c > 0; c = (c - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
  return name;
}

std::string CellText(int row, int column) {
  return ColumnLetters(column) + std::to_string(row + 1);
}

std::string AreaText(int r1, int r2, int c1, int c2) {
  return CellText(r1, c1) + ":" + CellText(r2, c2);
}

XLOPER Missing() {
  XLOPER x{};
  x.xltype = xltypeMissing;
  return x;
}

// A counted text that lives as long as its holder.
struct Text {
  explicit Text(const std::string& s) : bytes(1, static_cast<char>(s.size())) {
    bytes += s;
    oper.xltype = xltypeStr;
    oper.val.str = bytes.data();
  }
  std::string bytes;
  XLOPER oper{};
};

struct Reference {
  Reference(standin::SheetId sheet, int r1, int r2, int c1, int c2)
      : table{1, {{static_cast<WORD>(r1), static_cast<WORD>(r2), static_cast<BYTE>(c1),
                   static_cast<BYTE>(c2)}}} {
    oper.xltype = xltypeRef;
    oper.val.mref.lpmref = &table;
    oper.val.mref.idSheet = sheet;
  }
  XLMREF table;
  XLOPER oper{};
};

// The formats a person could read back from a cell.
struct Shown {
  std::string number_format = "General";
  int alignment = 1;
  bool bold = false, locked = true;
  bool operator==(const Shown&) const = default;
  bool Default() const { return *this == Shown{}; }
};

Shown Read(standin::SheetId sheet, int row, int column) {
  standin::Format f = standin::GetFormat(sheet, CellText(row, column));
  return Shown{f.number_format, f.alignment, f.bold, f.locked};
}

class Formats : public HostTest {};

// Random format commands over overlapping areas, whole columns among them,
// then clears and copies: every cell reads back what a grid kept cell by
// cell says, the sheet's listing names exactly the cells off the default,
// and a protected sheet takes a value exactly where every cell is unlocked.
TEST_F(Formats, EveryCellReadsBackWhatACellByCellGridSays) {
  standin::SetHostVersion("4.0");  // whole columns of 16,384 rows
  const int kRows = standin::RowLimit(), kColumns = 7, kSeenRows = 40;
  standin::SheetId sheet = standin::NewWorkbook("f.xls", "Data");
  // Rows past kSeenRows are formatted only by whole-column commands, so the
  // grid keeps one more row standing for all of them.
  std::vector<std::vector<Shown>> grid(kSeenRows + 1, std::vector<Shown>(kColumns));
  auto rowOf = [&](int r) { return std::min(r, kSeenRows); };
  std::mt19937 random(11);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const std::vector<std::string> numberFormats = {"0.00", "0%", "General", "#,##0"};

  for (int step = 0; step < 300; ++step) {
    int r1 = pick(kSeenRows), r2 = std::min(kSeenRows - 1, r1 + pick(12));
    int c1 = pick(kColumns), c2 = std::min(kColumns - 1, c1 + pick(3));
    const bool whole = pick(5) == 0;
    if (whole) r1 = 0, r2 = kRows - 1;
    standin::Select(sheet, whole ? ColumnLetters(c1) + ":" + ColumnLetters(c2)
                                 : AreaText(r1, r2, c1, c2));
    const int gridLast = whole ? kSeenRows : r2;
    auto each = [&](auto change) {
      for (int r = r1; r <= gridLast; ++r)
        for (int c = c1; c <= c2; ++c) change(grid[rowOf(r)][c]);
    };
    switch (pick(5)) {
      case 0: {
        const std::string format = numberFormats[pick(4)];
        Text text(format);
        ASSERT_EQ(Excel4(xlcFormatNumber, nullptr, 1, &text.oper), xlretSuccess);
        each([&](Shown& s) { s.number_format = format; });
        break;
      }
      case 1: {
        const int alignment = 1 + pick(4);
        XLOPER a = NumOper(alignment);
        ASSERT_EQ(Excel4(xlcAlignment, nullptr, 1, &a), xlretSuccess);
        each([&](Shown& s) { s.alignment = alignment; });
        break;
      }
      case 2: {
        const bool locked = pick(3) == 0;
        XLOPER l = BoolOper(locked);
        ASSERT_EQ(Excel4(xlcCellProtection, nullptr, 1, &l), xlretSuccess);
        each([&](Shown& s) { s.locked = locked; });
        break;
      }
      case 3: {
        const bool bold = pick(2) == 0;
        XLOPER missing = Missing(), b = BoolOper(bold);
        ASSERT_EQ(Excel4(xlcFormatFont, nullptr, 3, &missing, &missing, &b), xlretSuccess);
        each([&](Shown& s) { s.bold = bold; });
        break;
      }
      default: {
        if (whole) break;  // copies and clears stay inside the seen rows
        if (pick(2) == 0) {
          XLOPER formats = NumOper(2);
          ASSERT_EQ(Excel4(xlcClear, nullptr, 1, &formats), xlretSuccess);
          each([](Shown& s) { s = Shown{}; });
        } else {
          const int tr = pick(kSeenRows - (r2 - r1)), tc = pick(kColumns - (c2 - c1));
          Reference from(sheet, r1, r2, c1, c2), to(sheet, tr, tr, tc, tc);
          ASSERT_EQ(Excel4(xlcCopy, nullptr, 2, &from.oper, &to.oper), xlretSuccess);
          auto source = grid;
          for (int r = r1; r <= r2; ++r)
            for (int c = c1; c <= c2; ++c) grid[tr + r - r1][tc + c - c1] = source[r][c];
        }
      }
    }
  }

  for (int r = 0; r <= kSeenRows; ++r)
    for (int c = 0; c < kColumns; ++c)
      ASSERT_EQ(Read(sheet, r, c), grid[r][c]) << CellText(r, c);
  for (int c = 0; c < kColumns; ++c)
    EXPECT_EQ(Read(sheet, kRows - 1, c), grid[kSeenRows][c]) << "last row, column " << c;

  // The listing: one entry per formatted cell, none for cells at the default.
  // (Cells below the seen rows are listed too; only their count is checked.)
  std::map<std::pair<int, int>, bool> listed;
  for (const standin::CellState& s : standin::SheetContents(sheet))
    if (s.row >= 0 && s.text.find('[') != std::string::npos) listed[{s.row, s.column}] = true;
  long long expected = 0;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      const bool formatted = !grid[rowOf(r)][c].Default();
      expected += formatted;
      if (r <= kSeenRows) {
        EXPECT_EQ(listed.count({r, c}) == 1, formatted) << CellText(r, c);
      }
    }
  EXPECT_EQ(static_cast<long long>(listed.size()), expected);

  standin::ProtectSheet(sheet, true);
  for (int trial = 0; trial < 200; ++trial) {
    int r1 = pick(kSeenRows), r2 = std::min(kSeenRows - 1, r1 + pick(4));
    int c1 = pick(kColumns), c2 = std::min(kColumns - 1, c1 + pick(2));
    bool open = true;
    for (int r = r1; r <= r2; ++r)
      for (int c = c1; c <= c2; ++c) open = open && !grid[r][c].locked;
    Reference target(sheet, r1, r2, c1, c2);
    XLOPER v = NumOper(trial);
    EXPECT_EQ(Excel4(xlSet, nullptr, 2, &target.oper, &v), open ? xlretSuccess : xlretFailed)
        << AreaText(r1, r2, c1, c2);
  }
}

// Formatting whole columns costs the host nothing per cell: any number of
// them is accepted, on the old grid and, through XLOPER's 65,536 rows, on
// the big one, whose rows further down keep the default.
TEST_F(Formats, WholeColumnsOfAnyCountTakeANumberFormat) {
  for (const char* version : {"8.0", "16.0"}) {
    standin::ResetQuietly();
    standin::SetHostVersion(version);
    standin::SheetId sheet = standin::NewWorkbook("f.xls", "Data");
    Reference columns(sheet, 0, 65535, 0, 199);
    ASSERT_EQ(Excel4(xlcSelect, nullptr, 1, &columns.oper), xlretSuccess);
    Text format("0.0000");
    ASSERT_EQ(Excel4(xlcFormatNumber, nullptr, 1, &format.oper), xlretSuccess) << version;
    for (int c : {0, 63, 64, 199})
      for (int r : {0, 30000, 65535}) EXPECT_EQ(Read(sheet, r, c).number_format, "0.0000");
    EXPECT_EQ(Read(sheet, 0, 200).number_format, "General");
    if (std::string(version) == "16.0") {
      EXPECT_EQ(Read(sheet, 65536, 0).number_format, "General");
    }
  }
}

// Best fit sets each column to its longest shown text, every column of the
// reference in one command, whatever the other columns hold.
TEST_F(Formats, BestFitTakesEachColumnsLongestText) {
  standin::SheetId sheet = standin::NewWorkbook("f.xls", "Data");
  std::mt19937 random(3);
  std::vector<std::size_t> longest(8, 0);
  for (int r = 0; r < 300; ++r)
    for (int c = 0; c < 8; ++c) {
      if (random() % 3 == 0) continue;
      std::string text(1 + random() % 20, 'x');
      Value value = random() % 2 ? Value{text} : Value{static_cast<double>(random() % 100000)};
      standin::SetCell(sheet, r, c, value);
      longest[c] = std::max(longest[c], standin::Describe(value).size());
    }
  Reference columns(sheet, 0, 65535, 1, 5);
  XLOPER missing = Missing(), standard = BoolOper(false), bestFit = NumOper(3);
  ASSERT_EQ(Excel4(xlcColumnWidth, nullptr, 4, &missing, &columns.oper, &standard, &bestFit),
            xlretSuccess);
  for (int c = 0; c < 8; ++c) {
    const double expected = c >= 1 && c <= 5 ? static_cast<double>(longest[c]) : standin::kStandardWidth;
    EXPECT_EQ(standin::ColumnWidth(sheet, c), expected) << "column " << c;
  }
}

}  // namespace formats_test
