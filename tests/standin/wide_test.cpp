// The 12-series interface of the stand-in: MdCallBack12 reached through the
// Excel12v every module carries, XLOPER12 values with wide strings, the big
// sheet, and procedures registered with XLOPER12 type letters.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

using standin::Value;

XLOPER12 WideString(std::u16string& storage, const std::u16string& text) {
  storage = std::u16string(1, static_cast<char16_t>(text.size())) + text;
  XLOPER12 x{};
  x.xltype = xltypeStr;
  x.val.str = reinterpret_cast<XCHAR*>(storage.data());
  return x;
}

std::u16string TextOf(const XLOPER12& x) {
  EXPECT_EQ(x.xltype & ~(xlbitXLFree | xlbitDLLFree), static_cast<DWORD>(xltypeStr));
  if ((x.xltype & xltypeStr) == 0 || x.val.str == nullptr) return u"";
  return std::u16string(reinterpret_cast<const char16_t*>(x.val.str + 1), x.val.str[0]);
}

XLOPER12 Reference(standin::SheetId sheet, XLMREF12& table, RW r0, RW r1, COL c0, COL c1) {
  table.count = 1;
  table.reftbl[0] = XLREF12{r0, r1, c0, c1};
  XLOPER12 x{};
  x.xltype = xltypeRef;
  x.val.mref.lpmref = &table;
  x.val.mref.idSheet = sheet;
  return x;
}

XLOPER12 Integer(int value) {
  XLOPER12 x{};
  x.xltype = xltypeInt;
  x.val.w = value;
  return x;
}

class WideInterface : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    standin::SetHostVersion("16.0");
  }
};

// "Backward Compatibility": MAX_XL12_ROWS 1048576, MAX_XL12_COLS 16384, and
// the old grid of 65536 x 256 for XLOPER callers.
TEST_F(WideInterface, TheSheetIsBigButXloperCallersSeeTheOldGrid) {
  EXPECT_EQ(standin::SheetRows(), 1048576);
  EXPECT_EQ(standin::SheetColumns(), 16384);
  EXPECT_EQ(standin::RowLimit(), 65536);
  for (const char* version : {"8.0", "11.0"}) {
    standin::SetHostVersion(version);
    EXPECT_EQ(standin::SheetRows(), 65536) << version;
    EXPECT_EQ(standin::SheetColumns(), 256) << version;
  }
  standin::SetHostVersion("4.0");
  EXPECT_EQ(standin::SheetRows(), 16384);
}

// The grid is sparse: the far corner, the last row of a column and a cell
// past column IV are separate cells that cost one entry each.
TEST_F(WideInterface, FarCellsKeepTheirOwnAddresses) {
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetCell(sheet, "XFD1048576", 1.0);
  standin::SetCell(sheet, "A1048576", 2.0);
  standin::SetCell(sheet, "IW1", 3.0);
  standin::SetCell(sheet, "B1", 4.0);
  EXPECT_EQ(Num(standin::GetCell(sheet, 1048575, 16383)), 1.0);
  EXPECT_EQ(Num(standin::GetCell(sheet, 1048575, 0)), 2.0);
  EXPECT_EQ(Num(standin::GetCell(sheet, 0, 256)), 3.0);
  EXPECT_EQ(Num(standin::GetCell(sheet, 0, 1)), 4.0);
  EXPECT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(sheet, 1, 0)));
  EXPECT_THROW(standin::SetCell(sheet, 1048576, 0, 1.0), standin::HostError);
  EXPECT_THROW(standin::SetCell(sheet, 0, 16384, 1.0), standin::HostError);
  standin::Grid column = standin::GetRange(sheet, "A1048570:A1048576");
  ASSERT_EQ(column.rows, 7);
  EXPECT_EQ(Num(column.at(6, 0)), 2.0);
}

// "Creating XLLs": Excel12 and Excel12v reach the host's entry from version
// 12 on and answer a safe error in earlier versions.
TEST_F(WideInterface, BeforeVersionTwelveThereIsNoEntry) {
  standin::SetHostVersion("11.0");
  XLOPER12 result{};
  EXPECT_EQ(Excel12(xlGetName, &result, 0), xlretFailed);
  EXPECT_EQ(result.xltype, static_cast<DWORD>(xltypeErr));
  standin::ClearLog();
}

// "xlCoerce" through Excel12: a whole column of the big sheet comes back as
// one array of 1,048,576 rows; "Memory Management in Excel": it is the
// host's until xlFree.
TEST_F(WideInterface, WholeColumnCoercesToOneArray) {
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetCell(sheet, "A1", 1.5);
  standin::SetCell(sheet, "A700000", 2.5);
  standin::SetCell(sheet, "A1048576", std::string("end"));
  XLMREF12 table;
  XLOPER12 column = Reference(sheet, table, 0, 1048575, 0, 0);
  XLOPER12 type = Integer(xltypeMulti), array{};
  ASSERT_EQ(Excel12(xlCoerce, &array, 2, &column, &type), xlretSuccess);
  ASSERT_EQ(array.xltype, static_cast<DWORD>(xltypeMulti));
  ASSERT_EQ(array.val.array.rows, 1048576);
  ASSERT_EQ(array.val.array.columns, 1);
  EXPECT_EQ(array.val.array.lparray[0].val.num, 1.5);
  EXPECT_EQ(array.val.array.lparray[699999].val.num, 2.5);
  EXPECT_EQ(array.val.array.lparray[1].xltype, static_cast<DWORD>(xltypeNil));
  EXPECT_EQ(TextOf(array.val.array.lparray[1048575]), u"end");
  EXPECT_FALSE(standin::GetAccounting().Clean());
  EXPECT_EQ(Excel12(xlFree, nullptr, 1, &array), xlretSuccess);
  EXPECT_TRUE(standin::GetAccounting().Clean());

  XLOPER12 sum{};
  ASSERT_EQ(Excel12(xlfSum, &sum, 1, &column), xlretSuccess);
  EXPECT_EQ(sum.xltype, static_cast<DWORD>(xltypeNum));
  EXPECT_EQ(sum.val.num, 4.0);
  EXPECT_TRUE(standin::Log().empty());
}

// "xlCoerce": a block asked for as xltypeMulti comes back row by row, each
// cell as its own type and an empty cell as xltypeNil; through Excel12 the
// block holds the same cells as through Excel4, texts widened.
TEST_F(WideInterface, ABlockCoercesCellForCellAsThroughExcel4) {
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetCell(sheet, "B2", 1.5);
  standin::SetCell(sheet, "C2", std::string("Цена"));
  standin::SetCell(sheet, "E2", true);
  standin::SetCell(sheet, "B3", Value{standin::Error{xlerrNA}});
  standin::SetCell(sheet, "D3", -0.0);
  standin::EnterFormula(sheet, "E3", "=B2*4");
  standin::SetCell(sheet, "A3", 99.0);  // beside the block, either side
  standin::SetCell(sheet, "F2", 98.0);
  standin::SetCell(sheet, "C4", false);
  standin::Recalculate();
  XLMREF12 table;
  XLOPER12 block = Reference(sheet, table, 1, 3, 1, 4);  // B2:E4
  XLOPER12 type = Integer(xltypeMulti), wide{};
  ASSERT_EQ(Excel12(xlCoerce, &wide, 2, &block, &type), xlretSuccess);
  ASSERT_EQ(wide.xltype, static_cast<DWORD>(xltypeMulti));
  ASSERT_EQ(wide.val.array.rows, 3);
  ASSERT_EQ(wide.val.array.columns, 4);

  XLOPER narrowBlock{}, narrowType{}, narrow{};
  narrowBlock.xltype = xltypeSRef;
  narrowBlock.val.sref.count = 1;
  narrowBlock.val.sref.ref = XLREF{1, 3, 1, 4};
  standin::Activate(sheet);
  narrowType.xltype = xltypeInt;
  narrowType.val.w = xltypeMulti;
  ASSERT_EQ(Excel4(xlCoerce, &narrow, 2, &narrowBlock, &narrowType), xlretSuccess);
  ASSERT_EQ(narrow.val.array.rows, 3);
  ASSERT_EQ(narrow.val.array.columns, 4);
  for (int k = 0; k < 12; ++k) {
    const XLOPER12& w = wide.val.array.lparray[k];
    const XLOPER& n = narrow.val.array.lparray[k];
    ASSERT_EQ(w.xltype, static_cast<DWORD>(n.xltype)) << "cell " << k;
    switch (n.xltype) {
      case xltypeNum:
        EXPECT_EQ(std::signbit(w.val.num), std::signbit(n.val.num)) << k;
        EXPECT_EQ(w.val.num, n.val.num) << k;
        break;
      case xltypeBool: EXPECT_EQ(w.val.xbool, n.val.xbool) << k; break;
      case xltypeErr: EXPECT_EQ(w.val.err, n.val.err) << k; break;
      case xltypeStr: EXPECT_EQ(TextOf(w), u"Цена") << k; break;
      default: EXPECT_EQ(n.xltype, xltypeNil) << k;
    }
  }
  // Spot checks of the layout itself, independent of the 4-series.
  EXPECT_EQ(wide.val.array.lparray[0].val.num, 1.5);         // B2
  EXPECT_EQ(wide.val.array.lparray[7].val.num, 6.0);         // E3
  EXPECT_EQ(wide.val.array.lparray[9].val.xbool, 0);         // C4
  EXPECT_EQ(wide.val.array.lparray[11].xltype, static_cast<DWORD>(xltypeNil));  // E4
  EXPECT_EQ(Excel12(xlFree, nullptr, 1, &wide), xlretSuccess);
  EXPECT_EQ(Excel4(xlFree, nullptr, 1, &narrow), xlretSuccess);
  EXPECT_TRUE(standin::GetAccounting().Clean());
  EXPECT_TRUE(standin::Log().empty());
}

// "Excel 2007 ... data types" (XLOPER12): strings are counted wide
// strings; sheet and workbook names pass as they are, beyond Latin-1.
TEST_F(WideInterface, SheetNamesTravelAsWideStrings) {
  const std::string sheet_name = "Ценa Ω 株価";  // UTF-8 in the model
  standin::SheetId sheet = standin::NewWorkbook("Données.xlsx", sheet_name);
  std::u16string storage;
  XLOPER12 name = WideString(storage, u"[Données.xlsx]Ценa Ω 株価");
  XLOPER12 id{};
  ASSERT_EQ(Excel12(xlSheetId, &id, 1, &name), xlretSuccess);
  ASSERT_EQ(id.xltype, static_cast<DWORD>(xltypeRef));
  EXPECT_EQ(id.val.mref.idSheet, sheet);
  Excel12(xlFree, nullptr, 1, &id);

  XLMREF12 table;
  XLOPER12 cell = Reference(sheet, table, 99999, 99999, 300, 300);
  XLOPER12 text{};
  ASSERT_EQ(Excel12(xlfReftext, &text, 1, &cell), xlretSuccess);
  EXPECT_EQ(TextOf(text), u"'[Données.xlsx]Ценa Ω 株価'!R100000C301");
  Excel12(xlFree, nullptr, 1, &text);
  EXPECT_TRUE(standin::Log().empty()) << standin::Log().front();
}

TEST_F(WideInterface, BadRecordsAreRefusedAndCounted) {
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  XLMREF12 table;
  XLOPER12 past = Reference(sheet, table, 0, 1048576, 0, 0);  // one row too many
  XLOPER12 result{};
  EXPECT_EQ(Excel12(xlfSum, &result, 1, &past), xlretInvXloper);
  XLOPER12 odd{};
  odd.xltype = xltypeNum | xltypeStr;
  EXPECT_EQ(Excel12(xlfSum, &result, 1, &odd), xlretInvXloper);
  EXPECT_EQ(Excel12v(xlfSum, &result, -1, nullptr), xlretInvCount);
  EXPECT_EQ(standin::Log().size(), 3u);

  ExpectFaults();
  std::u16string storage;
  XLOPER12 never = WideString(storage, u"never handed out");
  Excel12(xlFree, nullptr, 1, &never);
  EXPECT_EQ(standin::GetAccounting().unknown_frees, 1);
}

// "xlSheetId": a sheet's id is the one the host handed out. An id whose low
// 32 bits are a sheet's but that is wider names no sheet, in either width.
TEST_F(WideInterface, ASheetIdWiderThanTheHostsNamesNoSheet) {
  if constexpr (sizeof(IDSHEET) <= 4) GTEST_SKIP() << "ids are 32 bits here";
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetCell(sheet, "A1", 2.0);
  const IDSHEET wide = static_cast<IDSHEET>(sheet) + (IDSHEET{1} << (4 * sizeof(IDSHEET)));
  XLMREF12 table12;
  XLOPER12 reference12 = Reference(sheet, table12, 0, 0, 0, 0), sum12{};
  ASSERT_EQ(Excel12(xlfSum, &sum12, 1, &reference12), xlretSuccess);
  EXPECT_EQ(sum12.xltype, static_cast<DWORD>(xltypeNum));  // the sheet's own id reads it
  reference12.val.mref.idSheet = wide;
  ASSERT_EQ(Excel12(xlfSum, &sum12, 1, &reference12), xlretSuccess);
  EXPECT_EQ(sum12.xltype, static_cast<DWORD>(xltypeErr));
  EXPECT_EQ(sum12.val.err, xlerrRef);

  XLMREF table{1, {{0, 0, 0, 0}}};
  XLOPER reference{}, sum{};
  reference.xltype = xltypeRef;
  reference.val.mref.lpmref = &table;
  reference.val.mref.idSheet = wide;
  ASSERT_EQ(Excel4(xlfSum, &sum, 1, &reference), xlretSuccess);
  EXPECT_EQ(sum.xltype, xltypeErr);
  EXPECT_EQ(sum.val.err, xlerrRef);
}

// A procedure registered with "Q" gets values and "U" references on the
// whole sheet; an XLOPER ("R") argument cannot carry a reference past the
// old grid ("Backward Compatibility").
XLOPER12 g_answer;
XLOPER g_old_answer;
extern "C" {
XLOPER12* RowsOfU(XLOPER12* x) {
  g_answer.xltype = xltypeNum;
  g_answer.val.num = x->xltype == xltypeSRef ? x->val.sref.ref.rwLast - x->val.sref.ref.rwFirst + 1 : -1;
  return &g_answer;
}
XLOPER12* RowsOfQ(XLOPER12* x) {
  g_answer.xltype = xltypeNum;
  g_answer.val.num = x->xltype == xltypeMulti ? x->val.array.rows : -1;
  return &g_answer;
}
XLOPER* RowsOfR(XLOPER* x) {
  g_old_answer.xltype = xltypeNum;
  g_old_answer.val.num = x->xltype == xltypeSRef ? x->val.sref.ref.rwLast - x->val.sref.ref.rwFirst + 1 : -1;
  return &g_old_answer;
}
}

TEST_F(WideInterface, XloperTwelveArgumentsReachTheWholeSheet) {
  standin::NewWorkbook("Big.xlsx", "Data");
  standin::AttachTestModule("test.xll");
  standin::RegisterTestFunction("ROWSU", "QU", reinterpret_cast<void*>(&RowsOfU));
  standin::RegisterTestFunction("ROWSQ", "QQ", reinterpret_cast<void*>(&RowsOfQ));
  standin::RegisterTestFunction("ROWSR", "RR", reinterpret_cast<void*>(&RowsOfR));
  EXPECT_EQ(Num(standin::Evaluate("=ROWSU(A:A)").result.at(0, 0)), 1048576);
  EXPECT_EQ(Num(standin::Evaluate("=ROWSQ(B1:B70000)").result.at(0, 0)), 70000);
  EXPECT_EQ(Num(standin::Evaluate("=ROWSR(A1:A65536)").result.at(0, 0)), 65536);
  EXPECT_EQ(Err(standin::Evaluate("=ROWSR(A1:A65537)").result.at(0, 0)), xlerrValue);
  EXPECT_EQ(Err(standin::Evaluate("=ROWSR(A:A)").result.at(0, 0)), xlerrValue);
}

// "Backward Compatibility": an XLOPER's string holds at most 255
// characters; a longer text reaches a "P" argument cut to 255, its length
// byte saying so.
extern "C" XLOPER* LengthOfText(XLOPER* x) {
  g_old_answer.xltype = xltypeNum;
  g_old_answer.val.num = -1;
  if (x->xltype == xltypeStr && x->val.str != nullptr) {
    const auto length = static_cast<unsigned char>(x->val.str[0]);
    // The text ends where its length byte says: its last character is the
    // 255th of the cell's.
    g_old_answer.val.num = length == 255 && x->val.str[255] == 'y' ? length : -length;
  }
  return &g_old_answer;
}

TEST_F(WideInterface, ALongTextReachesAnXloperCutTo255Characters) {
  standin::SheetId sheet = standin::NewWorkbook("Big.xlsx", "Data");
  standin::SetCell(sheet, "A1", std::string(254, 'x') + "y" + std::string(45, 'z'));
  standin::AttachTestModule("test.xll");
  standin::RegisterTestFunction("LENP", "RP", reinterpret_cast<void*>(&LengthOfText));
  EXPECT_EQ(Num(standin::Evaluate("=LENP(A1)").result.at(0, 0)), 255);
}

TEST_F(WideInterface, XloperTwelveLettersAreUnknownBeforeVersionTwelve) {
  standin::SetHostVersion("11.0");
  standin::NewWorkbook("Book.xls", "Data");
  standin::AttachTestModule("test.xll");
  EXPECT_THROW(standin::RegisterTestFunction("ROWSU", "QU", reinterpret_cast<void*>(&RowsOfU)),
               standin::HostError);
  ASSERT_EQ(standin::Log().size(), 1u);
  EXPECT_NE(standin::Log()[0].find("before version 12"), std::string::npos);
}

}  // namespace
