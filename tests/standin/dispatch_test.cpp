// Excel4/Excel4v called directly: coercions as Excel coerces, the version
// texts, the main window, refusals that are logged, and the accounting of
// values the host fills.
#include <cstring>

#include "fixture.h"
#include "tests/counted_text.h"

namespace {

using standin::Value;
using DispatchTest = HostTest;

XLOPER XStr(char* counted) {
  XLOPER x{};
  x.xltype = xltypeStr;
  x.val.str = counted;
  return x;
}
XLOPER XSRef(int r1, int r2, int c1, int c2) {
  XLOPER x{};
  x.xltype = xltypeSRef;
  x.val.sref.count = 1;
  x.val.sref.ref = XLREF{static_cast<WORD>(r1), static_cast<WORD>(r2), static_cast<BYTE>(c1),
                         static_cast<BYTE>(c2)};
  return x;
}

TEST_F(DispatchTest, CoercesReferencesToArraysAndScalars) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "A1", {1.5, std::string("12"), true, standin::Blank{}, std::string("x"),
                               standin::Error{xlerrNA}});
  XLOPER ref = XSRef(0, 5, 0, 0), type = IntOper(xltypeMulti), out{};
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &ref, &type), xlretSuccess);
  ASSERT_EQ(out.xltype, xltypeMulti);
  ASSERT_EQ(out.val.array.rows, 6);
  ASSERT_EQ(out.val.array.columns, 1);
  const XLOPER* cells = out.val.array.lparray;
  EXPECT_EQ(cells[0].xltype, xltypeNum);
  EXPECT_EQ(cells[1].xltype, xltypeStr) << "an array keeps the cells' own types";
  EXPECT_EQ(cells[2].xltype, xltypeBool);
  EXPECT_EQ(cells[3].xltype, xltypeNil);
  EXPECT_EQ(cells[5].xltype, xltypeErr);
  EXPECT_EQ(cells[5].val.err, xlerrNA);
  EXPECT_EQ(Excel4(xlFree, nullptr, 1, &out), xlretSuccess);

  struct Case {
    int row;
    int type;
    Value expect;
  };
  // Numeric text, booleans and blanks convert; other text fails to #VALUE!.
  for (const Case& c : {Case{1, xltypeNum, 12.0}, Case{2, xltypeNum, 1.0}, Case{3, xltypeNum, 0.0},
                        Case{4, xltypeNum, standin::Error{xlerrValue}},
                        Case{0, xltypeStr, std::string("1.5")}, Case{3, xltypeStr, std::string()},
                        Case{2, xltypeStr, std::string("TRUE")}, Case{0, xltypeBool, true},
                        Case{3, xltypeBool, false}, Case{5, xltypeNum, standin::Error{xlerrNA}}}) {
    XLOPER cell = XSRef(c.row, c.row, 0, 0), t = IntOper(static_cast<short>(c.type)), r{};
    ASSERT_EQ(Excel4(xlCoerce, &r, 2, &cell, &t), xlretSuccess);
    Value got = r.xltype == xltypeNum    ? Value{r.val.num}
                : r.xltype == xltypeStr  ? Value{CountedText(r)}
                : r.xltype == xltypeBool ? Value{r.val.xbool != 0}
                : r.xltype == xltypeErr  ? Value{standin::Error{r.val.err}}
                                         : Value{standin::Blank{}};
    EXPECT_EQ(got, c.expect) << "row " << c.row << " to type " << c.type;
    Excel4(xlFree, nullptr, 1, &r);
  }
  // Integers truncate; a reference asked for as a reference carries its sheet.
  XLOPER n = NumOper(-7.9), ti = IntOper(xltypeInt), ri{};
  Excel4(xlCoerce, &ri, 2, &n, &ti);
  EXPECT_EQ(ri.xltype, xltypeInt);
  EXPECT_EQ(ri.val.w, -7);
  XLOPER tr = IntOper(xltypeRef), rr{};
  ASSERT_EQ(Excel4(xlCoerce, &rr, 2, &ref, &tr), xlretSuccess);
  ASSERT_EQ(rr.xltype, xltypeRef);
  EXPECT_EQ(rr.val.mref.idSheet, s);
  EXPECT_EQ(rr.val.mref.lpmref->reftbl[0].rwLast, 5);
  Excel4(xlFree, nullptr, 1, &rr);
  // A scalar asked for as an array is a 1 x 1 array.
  XLOPER one{}, tm = IntOper(xltypeMulti);
  XLOPER two = NumOper(2);
  Excel4(xlCoerce, &one, 2, &two, &tm);
  ASSERT_EQ(one.xltype, xltypeMulti);
  EXPECT_EQ(one.val.array.lparray[0].val.num, 2.0);
  Excel4(xlFree, nullptr, 1, &one);
}

TEST_F(DispatchTest, SumOverReferencesAndScalars) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "B1", {1.25, std::string("7"), 2.5});
  XLOPER ref = XSRef(0, 2, 1, 1), three = NumOper(3), out{};
  ASSERT_EQ(Excel4(xlfSum, &out, 2, &ref, &three), xlretSuccess);
  EXPECT_EQ(out.xltype, xltypeNum);
  EXPECT_EQ(out.val.num, 1.25 + 2.5 + 3) << "text in a reference is skipped";
}

// "COUNT function": in a reference only numbers are counted; empty cells,
// logical values, text (a number typed as text too) and error values are
// not, and an error value does not stop the count.
TEST_F(DispatchTest, CountTakesOnlyTheNumbersOfAReference) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetColumn(s, "B1", {1.25, std::string("7"), true, Value{standin::Error{xlerrNA}},
                               standin::Blank{}, 0.0, -3.0});
  XLOPER ref = XSRef(0, 7, 1, 1), out{};
  ASSERT_EQ(Excel4(xlfCount, &out, 1, &ref), xlretSuccess);
  EXPECT_EQ(out.xltype, xltypeNum);
  EXPECT_EQ(out.val.num, 3.0);
  XLOPER top = XSRef(1, 4, 1, 1);
  ASSERT_EQ(Excel4(xlfCount, &out, 1, &top), xlretSuccess);
  EXPECT_EQ(out.val.num, 0.0);
}

// "Backward Compatibility" (Excel C API): GET.WORKSPACE(2) answers the
// version as text that can be coerced to a number, 12 for Excel 2007.
TEST_F(DispatchTest, VersionTextReadsAsExcelReadsIt) {
  for (const char* version : {"4.0", "5.0", "7.0", "8.0", "9.0", "10.0", "11.0", "12.0",
                              "14.0", "15.0", "16.0"}) {
    standin::SetHostVersion(version);
    XLOPER two = NumOper(2), text{}, value{};
    ASSERT_EQ(Excel4(xlfGetWorkspace, &text, 1, &two), xlretSuccess);
    EXPECT_EQ(CountedText(text), version);
    ASSERT_EQ(Excel4(xlfValue, &value, 1, &text), xlretSuccess);
    EXPECT_EQ(value.val.num, std::stod(version));
    Excel4(xlFree, nullptr, 1, &text);
  }
  for (const char* never : {"6.0", "13.0", "3.0", "17.0", "12"})
    EXPECT_THROW(standin::SetHostVersion(never), standin::HostError) << never;
}

TEST_F(DispatchTest, MainWindowAndSheetId) {
  XLOPER hwnd{};
  ASSERT_EQ(Excel4(xlGetHwnd, &hwnd, 0), xlretSuccess);
  EXPECT_EQ(hwnd.xltype, xltypeInt);
  EXPECT_EQ(static_cast<WORD>(hwnd.val.w),
            reinterpret_cast<std::uintptr_t>(standin::MainWindow()) & 0xFFFF);
  standin::SheetId s = standin::NewWorkbook("b.xls", "Data");
  XLOPER id{};
  ASSERT_EQ(Excel4(xlSheetId, &id, 0), xlretSuccess);
  EXPECT_EQ(id.xltype, xltypeRef);
  EXPECT_EQ(id.val.mref.idSheet, s);
  char name[] = "\x0b[b.xls]Data";
  XLOPER text = XStr(name), named{};
  Excel4(xlSheetId, &named, 1, &text);
  EXPECT_EQ(named.val.mref.idSheet, s);
  Excel4(xlFree, nullptr, 2, &id, &named);
}

TEST_F(DispatchTest, RefusalsAreLoudAndLogged) {
  XLOPER out{};
  EXPECT_EQ(Excel4(9999, &out, 0), xlretInvXlfn);
  EXPECT_EQ(Excel4(int{xlCommand} | 500, &out, 0), xlretInvXlfn);
  EXPECT_EQ(Excel4(int{xlfSum} | int{xlIntl}, &out, 0), xlretInvXlfn) << "no international form";
  ASSERT_EQ(standin::Log().size(), 3u);
  EXPECT_NE(standin::Log()[0].find("9999"), std::string::npos);

  XLOPER bad{};
  bad.xltype = 0x0003;  // two types at once
  EXPECT_EQ(Excel4(xlCoerce, &out, 1, &bad), xlretInvXloper);
  XLOPER nostr{};
  nostr.xltype = xltypeStr;
  EXPECT_EQ(Excel4(xlCoerce, &out, 1, &nostr), xlretInvXloper);
  XLOPER inverted = XSRef(5, 2, 0, 0);
  EXPECT_EQ(Excel4(xlCoerce, &out, 1, &inverted), xlretInvXloper);
  XLOPER noref{};
  noref.xltype = xltypeRef;
  EXPECT_EQ(Excel4(xlfSum, &out, 1, &noref), xlretInvXloper);
  EXPECT_EQ(Excel4(xlCoerce, &out, 1, nullptr), xlretInvXloper);
  EXPECT_EQ(Excel4(xlCoerce, &out, 0), xlretInvCount);
  EXPECT_EQ(Excel4(xlfValue, &out, -1), xlretInvCount);
  EXPECT_EQ(Excel4v(xlfSum, &out, 2, nullptr), xlretInvXloper);
  XLOPER seven = NumOper(7);
  EXPECT_EQ(Excel4(xlfGetWorkspace, &out, 1, &seven), xlretFailed) << "a type not served";
  EXPECT_EQ(Excel4(xlGetName, &out, 0), xlretFailed) << "no module loaded";
  EXPECT_EQ(standin::Log().size(), 13u);
}

TEST_F(DispatchTest, FailedCallsLeaveAnErrorValueBehind) {
  standin::NewWorkbook("b.xls");
  XLOPER out = NumOper(123);
  EXPECT_EQ(Excel4(9999, &out, 0), xlretInvXlfn);
  EXPECT_EQ(out.xltype, xltypeErr);
  EXPECT_EQ(out.val.err, xlerrValue);
  // A whole column of 65,536 rows does not fit an array's 16-bit count.
  XLOPER column = XSRef(0, 65535, 0, 0), type = IntOper(xltypeMulti);
  out = NumOper(1);
  EXPECT_EQ(Excel4(xlCoerce, &out, 2, &column, &type), xlretFailed);
  EXPECT_EQ(out.xltype, xltypeErr);
  EXPECT_NE(standin::Log().back().find("65536"), std::string::npos);
  standin::SetHostVersion("7.0");  // 16,384 rows fit
  column = XSRef(0, 16383, 0, 0);
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &column, &type), xlretSuccess);
  EXPECT_EQ(out.val.array.rows, 16384);
  Excel4(xlFree, nullptr, 1, &out);
}

TEST_F(DispatchTest, AccountingCatchesLeaksAndDoubleFrees) {
  ExpectFaults();
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetCell(s, "A1", std::string("hello"));
  XLOPER cell = XSRef(0, 0, 0, 0), a{}, b{};
  Excel4(xlCoerce, &a, 1, &cell);
  Excel4(xlCoerce, &b, 1, &cell);
  EXPECT_EQ(CountedText(a), "hello");
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 2);
  XLOPER copy = a;  // xlFree leaves a's pointer null; the copy keeps it
  Excel4(xlFree, nullptr, 1, &a);
  Excel4(xlFree, nullptr, 1, &copy);  // the same text twice
  char own[] = "\x03own";
  XLOPER mine = XStr(own);
  Excel4(xlFree, nullptr, 1, &mine);  // never the host's
  standin::Accounting acc = standin::GetAccounting();
  EXPECT_EQ(acc.outstanding_values, 1) << "b was never freed";
  EXPECT_EQ(acc.double_frees, 1);
  EXPECT_EQ(acc.unknown_frees, 1);
  EXPECT_FALSE(acc.Clean());
  EXPECT_THROW(standin::Reset(), standin::HostError);
  EXPECT_TRUE(standin::GetAccounting().Clean()) << "reset starts clean";
}

}  // namespace
