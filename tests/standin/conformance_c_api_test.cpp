// The stand-in's answers to the C API calls the add-in makes most, held to
// Microsoft's pages for them: "xlCoerce", "xlSet" and "xlFree" (Excel C
// API), and "DIALOG.BOX" (Excel 4.0 macro functions). Each group names its
// page; where the page is silent the test says so.
#include <deque>
#include <string>
#include <vector>

#include "tests/standin/fixture.h"

namespace conformance_c_api {

using standin::Blank;
using standin::Error;
using standin::Value;

class CApiConformance : public HostTest {
 protected:
  XLOPER Array(std::vector<XLOPER>& cells, int rows, int columns) {
    XLOPER x{};
    x.xltype = xltypeMulti;
    x.val.array.lparray = cells.data();
    x.val.array.rows = static_cast<WORD>(rows);
    x.val.array.columns = static_cast<WORD>(columns);
    return x;
  }
  static std::string TextOf(const XLOPER& x) {
    return std::string(x.val.str + 1, static_cast<unsigned char>(x.val.str[0]));
  }
  Opers opers_;  // texts and reference tables stay where the records point
};

// ---- "xlCoerce" (Excel C API) -----------------------------------------------
// Without a type, a single cell becomes its value (xltypeNil when empty) and
// a block becomes xltypeMulti; "Passing an xltypeMissing or xltypeNil type
// as pxDestType is equivalent to omitting the argument"; "If an array or a
// multi-cell reference is converted to a single value type, the result is
// the value of the top left cell or array element." The page's example
// turns an xltypeInt into a string. It says conversion can fail, not how:
// the stand-in answers #VALUE!.

TEST_F(CApiConformance, CoerceReadsCellsAndConvertsValues) {
  standin::SheetId sheet = standin::NewWorkbook("c.xls", "Data");
  standin::SetCell(sheet, "B2", 4.5);
  standin::SetCell(sheet, "C2", std::string("text"));
  standin::SetCell(sheet, "B3", 7.0);

  XLOPER cell = opers_.Ref(sheet, 1, 1, 1, 1), empty = opers_.Ref(sheet, 9, 9, 9, 9);
  XLOPER block = opers_.Ref(sheet, 1, 2, 1, 2), out{};
  ASSERT_EQ(Excel4(xlCoerce, &out, 1, &cell), xlretSuccess);
  EXPECT_EQ(out.xltype & ~xlbitXLFree, xltypeNum);
  EXPECT_EQ(out.val.num, 4.5);
  Excel4(xlFree, nullptr, 1, &out);
  ASSERT_EQ(Excel4(xlCoerce, &out, 1, &empty), xlretSuccess);
  EXPECT_EQ(out.xltype & ~xlbitXLFree, xltypeNil);
  Excel4(xlFree, nullptr, 1, &out);

  XLOPER missing{}, nil{};
  missing.xltype = xltypeMissing;
  nil.xltype = xltypeNil;
  for (XLOPER* type : {static_cast<XLOPER*>(nullptr), &missing, &nil}) {
    int code = type ? Excel4(xlCoerce, &out, 2, &block, type) : Excel4(xlCoerce, &out, 1, &block);
    ASSERT_EQ(code, xlretSuccess);
    ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeMulti);
    ASSERT_EQ(out.val.array.rows, 2);
    ASSERT_EQ(out.val.array.columns, 2);
    EXPECT_EQ(out.val.array.lparray[0].val.num, 4.5);
    EXPECT_EQ(out.val.array.lparray[2].val.num, 7.0);
    EXPECT_EQ(out.val.array.lparray[3].xltype, xltypeNil);
    Excel4(xlFree, nullptr, 1, &out);
  }

  // A block, or an array, asked for as one number or one text: its top left.
  XLOPER number = IntOper(xltypeNum), text = IntOper(xltypeStr);
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &block, &number), xlretSuccess);
  EXPECT_EQ(out.xltype & ~xlbitXLFree, xltypeNum);
  EXPECT_EQ(out.val.num, 4.5);
  Excel4(xlFree, nullptr, 1, &out);
  std::vector<XLOPER> cells = {NumOper(12), opers_.Str("x")};
  XLOPER array = Array(cells, 1, 2);
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &array, &text), xlretSuccess);
  ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeStr);
  EXPECT_EQ(TextOf(out), "12");
  Excel4(xlFree, nullptr, 1, &out);

  // The page's example: an integer as text.
  XLOPER integer{};
  integer.xltype = xltypeInt;
  integer.val.w = 42;
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &integer, &text), xlretSuccess);
  ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeStr);
  EXPECT_EQ(TextOf(out), "42");
  Excel4(xlFree, nullptr, 1, &out);

  XLOPER word = opers_.Ref(sheet, 1, 1, 2, 2);
  ASSERT_EQ(Excel4(xlCoerce, &out, 2, &word, &number), xlretSuccess);
  EXPECT_NE(out.xltype & ~xlbitXLFree, xltypeNum) << "\"text\" is no number";
  Excel4(xlFree, nullptr, 1, &out);
}

// ---- "xlSet" (Excel C API) --------------------------------------------------
// One value fills the whole target; a horizontal array is duplicated down,
// a vertical one to the right; a rectangle too small for the target leaves
// #N/A in the rest, and one too big is cut to the target. An xltypeNil
// element clears its cell; leaving out the value clears the target. The
// target must be one area. xlSet puts constants only, never formulas.

TEST_F(CApiConformance, SetFillsRepeatsPadsAndClears) {
  standin::SheetId sheet = standin::NewWorkbook("s.xls", "Data");
  auto at = [&](int r, int c) { return standin::GetCell(sheet, r, c); };

  XLOPER target = opers_.Ref(sheet, 0, 1, 0, 2), seven = NumOper(7);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &target, &seven), xlretSuccess);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(at(r, c), Value{7.0});

  std::vector<XLOPER> row = {NumOper(1), NumOper(2)};
  XLOPER horizontal = Array(row, 1, 2), square = opers_.Ref(sheet, 3, 5, 0, 2);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &square, &horizontal), xlretSuccess);
  for (int r = 3; r <= 5; ++r) {
    EXPECT_EQ(at(r, 0), Value{1.0});
    EXPECT_EQ(at(r, 1), Value{2.0});
    EXPECT_EQ(at(r, 2), Value{Error{xlerrNA}}) << "past the array's columns";
  }
  XLOPER vertical = Array(row, 2, 1), wide = opers_.Ref(sheet, 7, 8, 0, 3);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &wide, &vertical), xlretSuccess);
  for (int c = 0; c <= 3; ++c) {
    EXPECT_EQ(at(7, c), Value{1.0});
    EXPECT_EQ(at(8, c), Value{2.0});
  }

  std::vector<XLOPER> block = {NumOper(1), NumOper(2), NumOper(3), NumOper(4)};
  XLOPER twoByTwo = Array(block, 2, 2), small = opers_.Ref(sheet, 10, 10, 0, 0);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &small, &twoByTwo), xlretSuccess);
  EXPECT_EQ(at(10, 0), Value{1.0});
  EXPECT_EQ(at(10, 1), Value{Blank{}}) << "the rest of the array is left out";
  EXPECT_EQ(at(11, 0), Value{Blank{}});

  block[1].xltype = xltypeNil;
  XLOPER over = opers_.Ref(sheet, 3, 4, 0, 1);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &over, &twoByTwo), xlretSuccess);
  EXPECT_EQ(at(3, 1), Value{Blank{}}) << "a nil element clears its cell";
  EXPECT_EQ(at(4, 1), Value{4.0});
  ASSERT_EQ(Excel4(xlSet, nullptr, 1, &target), xlretSuccess);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(at(0, c), Value{Blank{}});

  XLOPER formula = opers_.Str("=1+1"), first = opers_.Ref(sheet, 12, 12, 0, 0);
  ASSERT_EQ(Excel4(xlSet, nullptr, 2, &first, &formula), xlretSuccess);
  EXPECT_EQ(at(12, 0), Value{std::string("=1+1")}) << "a constant text, not a formula";

  XLMREF twoAreas{2, {{0, 0, 0, 0}}};
  std::vector<unsigned char> storage(sizeof(XLMREF) + sizeof(XLREF));
  auto* table = reinterpret_cast<XLMREF*>(storage.data());
  *table = twoAreas;
  table->reftbl[1] = XLREF{2, 2, 2, 2};
  XLOPER both{};
  both.xltype = xltypeRef;
  both.val.mref.lpmref = table;
  both.val.mref.idSheet = sheet;
  EXPECT_NE(Excel4(xlSet, nullptr, 2, &both, &seven), xlretSuccess);
  EXPECT_EQ(at(2, 2), Value{Blank{}});
}

// ---- "xlFree" (Excel C API) -------------------------------------------------
// xlFree "frees the auxiliary memory and resets the pointer to NULL but does
// not destroy other parts" of the value; "It is always safe to free other
// types even if they do not use auxiliary memory, as long as you got them
// from Excel4"; up to Excel 2003 at most 30 values are passed at once.

TEST_F(CApiConformance, FreeResetsThePointerAndTakesAnyTypeItHandedOut) {
  standin::SheetId sheet = standin::NewWorkbook("f.xls", "Data");
  standin::SetCell(sheet, "A1", std::string("held"));
  standin::SetCell(sheet, "A2", 3.0);
  XLOPER textCell = opers_.Ref(sheet, 0, 0, 0, 0), numberCell = opers_.Ref(sheet, 1, 1, 0, 0);
  XLOPER text{}, number{};
  ASSERT_EQ(Excel4(xlCoerce, &text, 1, &textCell), xlretSuccess);
  ASSERT_EQ(Excel4(xlCoerce, &number, 1, &numberCell), xlretSuccess);
  const WORD textType = text.xltype;
  ASSERT_EQ(Excel4(xlFree, nullptr, 2, &text, &number), xlretSuccess);
  EXPECT_EQ(text.val.str, nullptr);
  EXPECT_EQ(text.xltype, textType) << "the type is left as it was";

  std::vector<XLOPER> values(31);
  std::vector<LPXLOPER> pointers;
  for (XLOPER& v : values) {
    ASSERT_EQ(Excel4(xlCoerce, &v, 1, &textCell), xlretSuccess);
    pointers.push_back(&v);
  }
  EXPECT_EQ(Excel4v(xlFree, nullptr, 31, pointers.data()), xlretInvCount);
  EXPECT_EQ(Excel4v(xlFree, nullptr, 30, pointers.data()), xlretSuccess);
  EXPECT_EQ(Excel4v(xlFree, nullptr, 1, &pointers[30]), xlretSuccess);
  for (const XLOPER& v : values) EXPECT_EQ(v.val.str, nullptr);
  standin::ClearLog();  // the refused call's line
}

// ---- "DIALOG.BOX" (Excel 4.0 macro functions) ------------------------------
// "If an OK button in the dialog box is chosen, DIALOG.BOX enters values in
// fields as specified in the dialog_ref area and returns the position number
// of the button chosen. The position numbers start with 1 in the second row
// of the dialog box definition table. If the Cancel button in the dialog box
// is chosen, DIALOG.BOX returns FALSE." The page does not describe an array
// given as the table: the stand-in then answers the array with the results
// in its seventh column and the button's number in its first row.

TEST_F(CApiConformance, DialogBoxOnASheetTakesItsAnswersThere) {
  standin::SheetId sheet = standin::NewWorkbook("d.xls", "Data");
  // Box row, a text box, OK and Cancel, in B2:H5.
  standin::SetCell(sheet, "G2", std::string("Settings"));
  standin::SetCell(sheet, "B3", 6.0);
  standin::SetCell(sheet, "H3", std::string("before"));
  standin::SetCell(sheet, "B4", 1.0);
  standin::SetCell(sheet, "G4", std::string("OK"));
  standin::SetCell(sheet, "B5", 2.0);
  standin::SetCell(sheet, "G5", std::string("Cancel"));
  XLOPER table = opers_.Ref(sheet, 1, 4, 1, 7), out{};

  standin::DialogReply ok;
  ok.set = {{1, Value{std::string("typed")}}};
  ok.press = 2;
  standin::QueueDialog(ok);
  ASSERT_EQ(Excel4(xlfDialogBox, &out, 1, &table), xlretSuccess);
  ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeNum);
  EXPECT_EQ(out.val.num, 2.0) << "OK is the table's second item";
  EXPECT_EQ(standin::GetCell(sheet, "H3"), Value{std::string("typed")});
  Excel4(xlFree, nullptr, 1, &out);

  standin::DialogReply cancel;
  cancel.cancel = true;
  standin::QueueDialog(cancel);
  ASSERT_EQ(Excel4(xlfDialogBox, &out, 1, &table), xlretSuccess);
  ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeBool);
  EXPECT_FALSE(out.val.xbool);
  EXPECT_EQ(standin::GetCell(sheet, "H3"), Value{std::string("typed")});
  Excel4(xlFree, nullptr, 1, &out);
}

// ---- "REFTEXT" (Excel 4.0 macro functions) ---------------------------------
// No Microsoft page at hand says how REFTEXT writes a whole column or row;
// the stand-in writes them as Excel writes them in formulas (C3, $C:$C,
// R5, $5:$5), not as the block of cells they span.

TEST_F(CApiConformance, ReftextWritesWholeColumnsAndRowsAsSuch) {
  standin::SheetId sheet = standin::NewWorkbook("r.xls", "Data");
  XLOPER column = opers_.Ref(sheet, 0, 65535, 2, 2), row = opers_.Ref(sheet, 4, 4, 0, 255);
  const std::pair<XLOPER*, std::string> cases[] = {{&column, "C3"}, {&row, "R5"}};
  for (const auto& [ref, r1c1] : cases) {
    for (bool a1 : {false, true}) {
      XLOPER style{}, out{};
      style.xltype = xltypeBool;
      style.val.xbool = a1;
      ASSERT_EQ(Excel4(xlfReftext, &out, 2, ref, &style), xlretSuccess);
      ASSERT_EQ(out.xltype & ~xlbitXLFree, xltypeStr);
      EXPECT_EQ(TextOf(out), "[r.xls]Data!" + (a1 ? (ref == &column ? "$C:$C" : "$5:$5") : r1c1));
      Excel4(xlFree, nullptr, 1, &out);
    }
  }
}

}  // namespace conformance_c_api
