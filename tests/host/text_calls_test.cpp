// Calls that carry the add-in's names (counted UTF-8) through the host's
// own interface, against the stand-in: "Excel12/Excel12v" with UTF-16 texts
// on a host of version 16, "Excel4/Excel4v" with the bytes before 12.
#include <gtest/gtest.h>

#include <string>

#include "host/host_values.h"
#include "host/references.h"
#include "host/text_calls.h"
#include "standin/standin.h"
#include "tests/counted_text.h"

namespace hvt {
namespace {

// "Цены" (prices) and "Цена" (price) in UTF-8.
const std::string kPrices = "\xd0\xa6\xd0\xb5\xd0\xbd\xd1\x8b";
const std::string kPrice = "\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0";

// A counted text with its NUL, writable as the calls take it.
struct Counted {
  explicit Counted(const std::string& text)
      : bytes(1, static_cast<char>(text.size())) {
    bytes += text;
    bytes += '\0';
  }
  char* get() { return bytes.data(); }
  std::string bytes;
};

class TextCalls : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void Host(const char* version) {
    standin::SetHostVersion(version);
    g_hostVersion = 0;
    ReadHostVersion();
  }
  void TearDown() override {
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "" : accounting.problems.front());
    standin::ResetQuietly();
    g_hostVersion = 0;
  }
};

// "GET.CELL", "GET.WORKBOOK", "xlSheetId" and "WORKBOOK.ACTIVATE" with a
// book and sheets whose names are not ASCII. GET.CELL(32) of a cell past
// the old sheet's last row, with the 4-series record on the other sheet,
// shows that the 12-series record is the one sent.
TEST_F(TextCalls, OnAWideHostNamesGoAsUtf16AndComeBackAsUtf8) {
  Host("16.0");
  const std::string book = kPrices + ".xlsx";
  standin::SheetId price = standin::NewWorkbook(book, kPrice);
  standin::SheetId second = standin::AddSheet(book, kPrice + "2");
  standin::Activate(price);

  XLMREF narrowTable{};
  XLMREF12 wideTable{};
  XLOPER narrow = AreaRef(narrowTable, second, CellArea<XLREF>(0, 0));
  XLOPER12 wide = AreaRef(wideTable, price, CellArea<XLREF12>(70000, 0));
  char text[257];
  ASSERT_TRUE(TextCallText(xlfGetCell, text, sizeof text,
                           {NumberArgument(32), ReferenceArgument(narrow, wide)}));
  EXPECT_EQ(CountedText(text), "[" + book + "]" + kPrice);

  Counted bookName(book);
  Counted full("[" + book + "]" + kPrice);
  Counted prefix("[" + book + "]" + kPrice.substr(0, 6));
  EXPECT_TRUE(TextCallListHolds(xlfGetWorkbook, full.get(),
                                {NumberArgument(1), TextArgumentOf(bookName.get())}));
  // Only the whole name counts, not the start of one.
  EXPECT_FALSE(TextCallListHolds(xlfGetWorkbook, prefix.get(),
                                 {NumberArgument(1), TextArgumentOf(bookName.get())}));

  Counted secondName("[" + book + "]" + kPrice + "2");
  EXPECT_EQ(SheetIdByName(secondName.get()), second);
  EXPECT_EQ(SheetIdByName(nullptr), price);
  Counted shortName(kPrice + "2");
  EXPECT_EQ(TextCall(xlcWorkbookActivate, {TextArgumentOf(shortName.get())}), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), second);

  // A reference given only in the 4-series record does not reach a wide
  // host; nothing was filled, so nothing is given back.
  EXPECT_EQ(TextCall(xlcFormulaGoto, {ReferenceArgument(narrow)}), xlretInvXloper);
  EXPECT_EQ(standin::ActiveSheet(), second);
}

// Before version 12 the same calls are the 4-series ones with the bytes as
// they are; a 12-series reference alone does not reach the host.
TEST_F(TextCalls, OnAnOlderHostTheBytesGoThroughTheFourSeries) {
  Host("8.0");
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId other = standin::AddSheet("Book1.xls", "Data.COF");
  standin::Activate(data);
  XLMREF narrowTable{};
  XLMREF12 wideTable{};
  XLOPER narrow = AreaRef(narrowTable, data, CellArea<XLREF>(65535, 255));
  XLOPER12 wide = AreaRef(wideTable, other, CellArea<XLREF12>(0, 0));
  char text[257];
  ASSERT_TRUE(TextCallText(xlfGetCell, text, sizeof text,
                           {NumberArgument(32), ReferenceArgument(narrow, wide)}));
  EXPECT_EQ(CountedText(text), "[Book1.xls]Data");
  EXPECT_FALSE(TextCallText(xlfGetCell, text, sizeof text,
                            {NumberArgument(32), ReferenceArgument(wide)}));
  // An answer longer than the room given is cut to fit, as before.
  char small[6];
  ASSERT_TRUE(TextCallText(xlfGetCell, small, sizeof small,
                           {NumberArgument(32), ReferenceArgument(narrow)}));
  EXPECT_EQ(CountedText(small), "[Boo");
  Counted coefficients("[Book1.xls]data.cof");
  Counted book("Book1.xls");
  EXPECT_TRUE(TextCallListHolds(xlfGetWorkbook, coefficients.get(),
                                {NumberArgument(1), TextArgumentOf(book.get())}));
  XLOPER kind{};
  Counted sheet("[Book1.xls]Data");
  ASSERT_TRUE(
      TextCallValue(xlfGetDocument, kind, {NumberArgument(67), TextArgumentOf(sheet.get())}));
  EXPECT_NE(kind.xltype, xltypeErr);
  EXPECT_NE(kind.xltype, xltypeNil);
}

}  // namespace
}  // namespace hvt
