// The stand-in held to Microsoft's documentation of what Excel does. Each
// group names the page it follows, by title; where the page is silent the
// test says so and says what the stand-in does instead.
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/standin/fixture.h"

namespace {

using standin::Blank;
using standin::Error;
using standin::Value;

class Conformance : public HostTest {
 protected:
  Opers t;
  // TEXTREF(text) or TEXTREF(text, a1) as the host answers it: the area
  // and sheet of a reference, or the error code.
  struct Found {
    WORD type = 0;
    XLREF area{};
    standin::SheetId sheet = 0;
    int error = 0;
  };
  Found Textref(const std::string& text, std::optional<bool> a1 = std::nullopt) {
    XLOPER typed = t.Str(text), style = BoolOper(a1.value_or(true)), out{};
    int code = a1 ? Excel4(xlfTextref, &out, 2, &typed, &style)
                  : Excel4(xlfTextref, &out, 1, &typed);
    EXPECT_EQ(code, xlretSuccess);
    Found f;
    f.type = out.xltype & ~xlbitXLFree;
    if (f.type == xltypeSRef) f.area = out.val.sref.ref;
    if (f.type == xltypeRef) {
      f.area = out.val.mref.lpmref->reftbl[0];
      f.sheet = out.val.mref.idSheet;
    }
    if (f.type == xltypeErr) f.error = out.val.err;
    Excel4(xlFree, nullptr, 1, &out);
    return f;
  }
};

// ---- "TEXTREF" (Excel 4.0 macro functions) ---------------------------------
// a1 TRUE or omitted: the text is read as an A1 reference; FALSE: as R1C1.
// One notation per call, whatever notation the workspace shows.

TEST_F(Conformance, TextrefReadsOneNotationPerCall) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  Found f = Textref("[Book1.xls]Data!R2C3:R10C3");
  EXPECT_EQ(f.type, xltypeErr) << "R1C1 text is no A1 reference";
  f = Textref("[Book1.xls]Data!R2C3:R10C3", true);
  EXPECT_EQ(f.type, xltypeErr);
  f = Textref("[Book1.xls]Data!R2C3:R10C3", false);
  ASSERT_EQ(f.type, xltypeRef);
  EXPECT_EQ(f.sheet, data);
  EXPECT_EQ(f.area.rwFirst, 1);
  EXPECT_EQ(f.area.rwLast, 9);
  EXPECT_EQ(f.area.colFirst, 2);
  f = Textref("[Book1.xls]Data!$C$2:$C$10", false);
  EXPECT_EQ(f.type, xltypeErr) << "and A1 text no R1C1 reference";

  // The one text both notations read, differently: a cell in A1, a whole
  // column in R1C1.
  f = Textref("C3");
  ASSERT_EQ(f.type, xltypeSRef) << "no sheet: the current one";
  EXPECT_EQ(f.area.rwFirst, 2);
  EXPECT_EQ(f.area.rwLast, 2);
  f = Textref("C3", false);
  ASSERT_EQ(f.type, xltypeSRef);
  EXPECT_EQ(f.area.rwFirst, 0);
  EXPECT_EQ(f.area.rwLast, standin::RowLimit() - 1);
  EXPECT_EQ(f.area.colFirst, 2);

  // The workspace's notation changes nothing.
  standin::SetR1C1(true);
  f = Textref("C3");
  EXPECT_EQ(f.area.rwLast, 2);
  EXPECT_EQ(Textref("R1C1").type, xltypeErr);
}

// ---- "REFTEXT" (Excel 4.0 macro functions) and external references on a
// host without workbooks -------------------------------------------------------
// REFTEXT with a1 FALSE or omitted gives R1C1 text, absolute, with the
// sheet. Before workbooks a document was one sheet named like its file, and
// its references name it that way ("DATA.COF!R1C1"). The pages do not say
// how a formula of another document finds it; the stand-in looks the name
// up among the open documents.

TEST_F(Conformance, ReftextOfAnotherDocumentResolvesInFormulas) {
  standin::SetWorkbooks(false);
  standin::SheetId data = standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  standin::SheetId coef = standin::NewWorkbook("DATA.COF", "DATA.COF");
  standin::SetCell(coef, "B3", 2.5);
  XLOPER ref{};
  XLMREF table{1, {{2, 2, 1, 1}}};
  ref.xltype = xltypeRef;
  ref.val.mref.lpmref = &table;
  ref.val.mref.idSheet = coef;
  XLOPER text{};
  ASSERT_EQ(Excel4(xlfReftext, &text, 1, &ref), xlretSuccess);
  ASSERT_EQ(text.xltype & ~xlbitXLFree, xltypeStr);
  std::string written(text.val.str + 1, static_cast<unsigned char>(text.val.str[0]));
  Excel4(xlFree, nullptr, 1, &text);
  // A dot needs no quotes: "Excel: Linking Worksheets with an R# or A$ Name"
  // (Microsoft Knowledge Base) writes =RC.XLS!reference.
  EXPECT_EQ(written, "DATA.COF!R3C2");

  // The same reference in a formula of the other document, as printed and
  // in A1 with the name bare.
  standin::Activate(data);
  XLOPER formula = t.Str("=" + written + "*2"), cell{};
  XLMREF cellTable{1, {{0, 0, 0, 0}}};
  cell.xltype = xltypeRef;
  cell.val.mref.lpmref = &cellTable;
  cell.val.mref.idSheet = data;
  ASSERT_EQ(Excel4(int{xlcFormula} | int{xlIntl}, nullptr, 2, &formula, &cell), xlretSuccess);
  standin::EnterFormula(data, "A2", "=DATA.COF!B3*2");
  standin::EnterFormula(data, "A3", "=NOSUCH.COF!B3");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(data, "A1"), Value{5.0});
  EXPECT_EQ(standin::GetCell(data, "A2"), Value{5.0});
  EXPECT_EQ(Err(standin::GetCell(data, "A3")), xlerrRef);
}

// ---- "Rename a worksheet" (Microsoft Support) ---------------------------------
// A sheet name has 1 to 31 characters and none of : \ / ? * [ ].

TEST_F(Conformance, SheetNamesKeepExcelsLimits) {
  const std::string longest(31, 'n');
  EXPECT_NO_THROW(standin::NewWorkbook("a.xls", longest));
  EXPECT_THROW(standin::NewWorkbook("b.xls", longest + "n"), standin::HostError);
  // Characters, not the bytes of their UTF-8: 31 times "Ж" (62 bytes) is taken.
  std::string wide;
  for (int i = 0; i < 31; ++i) wide += "\xd0\x96";
  EXPECT_NO_THROW(standin::NewWorkbook("w.xls", wide));
  EXPECT_THROW(standin::AddSheet("w.xls", wide + "\xd0\x96"), standin::HostError);
  for (char bad : std::string(":\\/?*[]")) {
    std::string name = std::string("Da") + bad + "ta";
    EXPECT_THROW(standin::NewWorkbook("c.xls", name), standin::HostError) << name;
    EXPECT_THROW(standin::AddSheet("a.xls", name), standin::HostError) << name;
  }
  EXPECT_THROW(standin::AddSheet("a.xls", ""), standin::HostError);
  // WORKBOOK.OPTIONS renames by the same rules.
  XLOPER sheet = t.Str("[a.xls]" + longest), missing{}, name = t.Str(longest + "x");
  missing.xltype = xltypeMissing;
  EXPECT_NE(Excel4(xlcWorkbookOptions, nullptr, 3, &sheet, &missing, &name), xlretSuccess);
  EXPECT_EQ(standin::Sheets("a.xls"), std::vector<std::string>{longest});
  standin::ClearLog();

  // A file whose name is longer: no page says what its sheet is called.
  // The stand-in cuts the name to what a sheet may bear.
  standin::SheetId csv =
      standin::OpenCsvText("a_rather_long_file_name_for_a_sheet_tab.csv", "1\n");
  EXPECT_EQ(standin::SheetName(csv), "a_rather_long_file_name_for_a_s");
  // Cut by characters: 40 two-byte letters keep 31 of them, whole.
  std::string letters;
  for (int i = 0; i < 40; ++i) letters += "Ж";
  standin::SheetId cyrillic = standin::OpenCsvText(letters + ".csv", "1\n");
  EXPECT_EQ(standin::SheetName(cyrillic), letters.substr(0, 62));
}

// ---- "SAVE.AS" (Excel 4.0 macro functions) --------------------------------
// document_text is a file name as Windows writes one: its directories are
// separated by "\" (the page shows no path; the add-in is Windows code).

TEST_F(Conformance, SaveAsTakesWindowsPaths) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("standin_saveas_" + std::to_string(::getpid()));
  fs::create_directories(dir / "sub");
  standin::SetWorkbooks(false);
  standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  XLOPER one{};
  one.xltype = xltypeNum;
  one.val.num = 1;
  ASSERT_EQ(Excel4(xlcNew, nullptr, 1, &one), xlretSuccess);
  XLOPER path = t.Str(dir.string() + "\\sub\\data.COF");
  ASSERT_EQ(Excel4(xlcSaveAs, nullptr, 1, &path), xlretSuccess);
  EXPECT_TRUE(fs::exists(dir / "sub" / "data.COF"));
  EXPECT_FALSE(fs::exists(dir / "sub\\data.COF"));
  EXPECT_NE(standin::FindSheet("data.COF", "data.COF"), 0u);
  fs::remove_all(dir);
}

// ---- "Implicit intersection operator: @" (Microsoft Support) ------------------
// In a formula that is not array-entered, "if the value is a range, then
// return the value from the cell on the same row or column as the formula";
// an array gives its top-left value. The page does not say what a range
// with no cell there gives; the stand-in answers #VALUE!, as a value that
// cannot be had.

TEST_F(Conformance, PlainFormulasIntersectRangesWithTheirOwnCell) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  for (int r = 2; r <= 21; ++r) standin::SetCell(s, "A" + std::to_string(r), r * 10.0);
  standin::SetCell(s, "B1", 7.0);
  standin::SetCell(s, "C1", 8.0);
  standin::SetCell(s, "D1", 9.0);
  standin::EnterFormula(s, "E9", "=A2:A21");
  standin::EnterFormula(s, "F9", "=A2:A21*2");
  standin::EnterFormula(s, "G9", "=-A2:A21");
  standin::EnterFormula(s, "E30", "=A2:A21");
  standin::EnterFormula(s, "F1", "=A2:A21*2");
  standin::EnterFormula(s, "C5", "=B1:D1+1");       // a row: the formula's column
  standin::EnterFormula(s, "H9", "=ABS(A2:A21)");
  standin::EnterFormula(s, "H10", "=A2:B21");       // two columns, neither its own
  standin::EnterFormula(s, "H11", "=SUM(A2:A21)");  // a function that takes ranges
  standin::EnterFormula(s, "H12", "=(A2:A3,A9)");   // several areas
  standin::EnterArrayFormula(s, "I2:I4", "=A2:A21*2");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(s, "E9"), Value{90.0});
  EXPECT_EQ(standin::GetCell(s, "F9"), Value{180.0});
  EXPECT_EQ(standin::GetCell(s, "G9"), Value{-90.0});
  EXPECT_EQ(Err(standin::GetCell(s, "E30")), xlerrValue) << "below the range";
  EXPECT_EQ(Err(standin::GetCell(s, "F1")), xlerrValue) << "above the range";
  EXPECT_EQ(standin::GetCell(s, "C5"), Value{9.0});
  EXPECT_EQ(standin::GetCell(s, "H9"), Value{90.0});
  EXPECT_EQ(Err(standin::GetCell(s, "H10")), xlerrValue);
  EXPECT_EQ(standin::GetCell(s, "H11"), Value{2300.0});
  EXPECT_EQ(Err(standin::GetCell(s, "H12")), xlerrValue);
  for (int r = 2; r <= 4; ++r)
    EXPECT_EQ(standin::GetCell(s, "I" + std::to_string(r)), Value{r * 20.0})
        << "array-entered: no intersection";
}

// ---- "ROW function" and "COLUMN function" (Microsoft Support) ----------------
// Without a reference, the row or column of the cell the formula is in;
// a range in an array formula gives each of its rows (each of its columns,
// across).

TEST_F(Conformance, RowAndColumnOfTheFormulaCellAndOfEachRow) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::EnterFormula(s, "E9", "=ROW()");
  standin::EnterFormula(s, "F9", "=COLUMN()");
  standin::EnterFormula(s, "G9", "=ROW(A2:A4)");
  standin::EnterArrayFormula(s, "H2:H4", "=ROW(A2:A4)");
  standin::EnterArrayFormula(s, "A12:C12", "=COLUMN(B1:D1)");
  standin::EnterArrayFormula(s, "I2:I4", "=ROW()");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(s, "E9"), Value{9.0});
  EXPECT_EQ(standin::GetCell(s, "F9"), Value{6.0});
  EXPECT_EQ(standin::GetCell(s, "G9"), Value{2.0}) << "a plain formula: the first row";
  for (int r = 2; r <= 4; ++r) {
    EXPECT_EQ(standin::GetCell(s, "H" + std::to_string(r)), Value{static_cast<double>(r)});
    EXPECT_EQ(standin::GetCell(s, "I" + std::to_string(r)), Value{2.0})
        << "an array's own row is its first";
  }
  EXPECT_EQ(standin::GetCell(s, "A12"), Value{2.0});
  EXPECT_EQ(standin::GetCell(s, "C12"), Value{4.0});
  // Asked for outside any cell there is no row to give.
  EXPECT_EQ(Err(standin::Evaluate("=ROW()").result.cells.at(0)), xlerrValue);
}

// ---- "xlFree" (Excel C API) -------------------------------------------------
// Every array Excel returns goes back through xlFree. The page does not say
// the cells may not change in between; Excel frees an array's strings by
// what its cells hold when it gets it back, so a string cell overwritten
// leaks its string, a string pointer replaced frees memory Excel never
// allocated. The stand-in flags any change.

TEST_F(Conformance, ArraysGoBackAsTheHostFilledThem) {
  standin::SheetId s = standin::NewWorkbook("b.xls");
  standin::SetCell(s, "A1", std::string("text"));
  standin::SetCell(s, "A2", 2.0);
  XLMREF table{1, {{0, 1, 0, 0}}};
  XLOPER range{};
  range.xltype = xltypeRef;
  range.val.mref.lpmref = &table;
  range.val.mref.idSheet = s;
  XLOPER type{};
  type.xltype = xltypeInt;
  type.val.w = xltypeMulti;

  XLOPER kept{};
  ASSERT_EQ(Excel4(xlCoerce, &kept, 2, &range, &type), xlretSuccess);
  XLOPER read = kept.val.array.lparray[1];  // reading changes nothing
  EXPECT_EQ(read.val.num, 2.0);
  Excel4(xlFree, nullptr, 1, &kept);
  EXPECT_TRUE(standin::GetAccounting().Clean());

  XLOPER changed{};
  ASSERT_EQ(Excel4(xlCoerce, &changed, 2, &range, &type), xlretSuccess);
  changed.val.array.lparray[0].xltype = xltypeNum;  // the string's cell
  changed.val.array.lparray[0].val.num = 1;
  Excel4(xlFree, nullptr, 1, &changed);
  standin::Accounting a = standin::GetAccounting();
  EXPECT_EQ(a.changed_arrays, 1);
  EXPECT_FALSE(a.Clean());
  ASSERT_FALSE(a.problems.empty());
  EXPECT_NE(a.problems.back().find("cells were changed"), std::string::npos);
  ExpectFaults();
}

}  // namespace
