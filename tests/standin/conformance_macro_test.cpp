// The stand-in's answers to the macro-sheet functions the add-in asks, held
// to their pages in the Excel 4.0 macro functions reference ("GET.WORKSPACE
// macro", "GET.DOCUMENT macro", "GET.WORKBOOK macro", "GET.CELL macro",
// "DOCUMENTS macro", "ALERT macro", "INPUT macro"; Microsoft's help for
// them, as republished in the Excel4Macros reference), and to the C API
// pages "xlfRegister (Form 1)", "xlfUnregister (Form 1)" and "xlSet". Only
// the type numbers the add-in asks for are held here.
#include <string>
#include <vector>

#include "tests/standin/fixture.h"

namespace conformance_macro {

using standin::Value;

// One answer of the host, copied out and given back.
struct Answer {
  int code = -1;
  WORD type = 0;
  double number = 0;
  bool boolean = false;
  int error = 0;
  std::string text;
  std::vector<std::string> texts;  // a horizontal array of texts
  int rows = 0;
};

class MacroConformance : public HostTest {
 protected:
  Opers t;
  static XLOPER Number(double d) {
    XLOPER x{};
    x.xltype = xltypeNum;
    x.val.num = d;
    return x;
  }
  static std::string TextOf(const char* counted) {
    return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
  }
  static Answer Call(int function, std::vector<XLOPER> args) {
    std::vector<LPXLOPER> pointers;
    for (XLOPER& a : args) pointers.push_back(&a);
    XLOPER out{};
    Answer a;
    a.code = Excel4v(function, &out, static_cast<int>(pointers.size()), pointers.data());
    if (a.code != xlretSuccess) return a;
    a.type = out.xltype & ~(xlbitXLFree | xlbitDLLFree);
    if (a.type == xltypeNum) a.number = out.val.num;
    if (a.type == xltypeBool) a.boolean = out.val.xbool != 0;
    if (a.type == xltypeErr) a.error = out.val.err;
    if (a.type == xltypeStr) a.text = TextOf(out.val.str);
    if (a.type == xltypeMulti) {
      a.rows = out.val.array.rows;
      for (int i = 0; i < out.val.array.rows * out.val.array.columns; ++i) {
        const XLOPER& cell = out.val.array.lparray[i];
        a.texts.push_back(cell.xltype == xltypeStr ? TextOf(cell.val.str) : "?");
      }
    }
    Excel4(xlFree, nullptr, 1, &out);
    return a;
  }
  Answer Ask(int function, int type) { return Call(function, {Number(type)}); }
  Answer Ask(int function, int type, const std::string& name) {
    return Call(function, {Number(type), t.Str(name)});
  }
};

// ---- "GET.WORKSPACE macro" --------------------------------------------------
// 2: "The version number of Microsoft Excel, as text"; 4: TRUE in R1C1
// mode, FALSE in A1; 6: TRUE when the status bar is displayed; 20: "If a
// group is present in the workspace, returns a horizontal array of sheets in
// the group; otherwise returns the #N/A error value".

TEST_F(MacroConformance, WorkspaceVersionStyleStatusBarAndGroup) {
  for (const char* version : {"4.0", "8.0", "16.0"}) {
    standin::SetHostVersion(version);
    Answer a = Ask(xlfGetWorkspace, 2);
    EXPECT_EQ(a.type, xltypeStr) << version;
    EXPECT_EQ(a.text, version);
  }
  for (bool r1c1 : {true, false}) {
    standin::SetR1C1(r1c1);
    Answer a = Ask(xlfGetWorkspace, 4);
    EXPECT_EQ(a.type, xltypeBool);
    EXPECT_EQ(a.boolean, r1c1);
  }
  for (bool shown : {false, true}) {
    standin::ShowStatusBar(shown);
    Answer a = Ask(xlfGetWorkspace, 6);
    EXPECT_EQ(a.type, xltypeBool);
    EXPECT_EQ(a.boolean, shown);
  }
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId more = standin::AddSheet("Book1.xls", "More");
  Answer none = Ask(xlfGetWorkspace, 20);
  EXPECT_EQ(none.type, xltypeErr);
  EXPECT_EQ(none.error, xlerrNA);
  standin::SetGroup({data, more});
  Answer group = Ask(xlfGetWorkspace, 20);
  ASSERT_EQ(group.type, xltypeMulti);
  EXPECT_EQ(group.rows, 1) << "a horizontal array";
  EXPECT_EQ(group.texts, (std::vector<std::string>{"[Book1.xls]Data", "[Book1.xls]More"}));
}

// ---- "GET.DOCUMENT macro" and "GET.CELL macro" --------------------------------
// GET.DOCUMENT 1: "If there is only one sheet in the workbook and the sheet
// name is the same as the workbook name less any extension, returns the name
// of the book ... Otherwise, returns the book and sheet name in the form
// "[BOOK1.XLS]Sheet1"." GET.CELL 32 says the same of a cell's sheet. A text
// file opened as a workbook is such a book.

TEST_F(MacroConformance, ABookOfOneSheetNamedLikeItIsKnownByTheBooksName) {
  standin::SheetId walk = standin::OpenCsvText("walk.csv", "1\n2\n");
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId same = standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  struct Case {
    standin::SheetId sheet;
    std::string document, name;
  } cases[] = {{walk, "walk.csv", "walk.csv"},
               {data, "Book1.xls", "[Book1.xls]Data"},
               // The sheet bears the name with its extension: not the same.
               {same, "DATA.XLS", "[DATA.XLS]DATA.XLS"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(xlfGetDocument, 1, c.document).text, c.name);
    Answer cell = Call(xlfGetCell, {Number(32), t.Ref(c.sheet, 0, 0, 0, 0)});
    EXPECT_EQ(cell.type, xltypeStr);
    EXPECT_EQ(cell.text, c.name);
  }
  // A second sheet: the book is no longer known by its name alone.
  standin::AddSheet("walk.csv", "Sheet2");
  EXPECT_EQ(Call(xlfGetCell, {Number(32), t.Ref(walk, 0, 0, 0, 0)}).text, "[walk.csv]walk");
  EXPECT_EQ(Ask(xlfGetDocument, 1, "[walk.csv]walk").text, "[walk.csv]walk");
}

// GET.DOCUMENT 2: the directory, or "If the workbook name_text hasn't been
// saved yet, returns the #N/A error value". 3: 1 for a worksheet, 3 for a
// macro sheet; "If name_text is a book, then the return value is always 5
// ... If the book has one sheet that is named the same as the book, then the
// sheet type is returned." 7: TRUE when the sheet's contents are protected.
// 14: the calculation mode, 1 automatic, 2 except tables, 3 manual. 67:
// "Microsoft Excel version 5.0 or later always returns TRUE here"; 68: "...
// always returns the book name". The page does not cover hosts without
// workbooks: the stand-in answers #VALUE! there to 67 and 68, as to types
// Excel 4.0 did not have.

TEST_F(MacroConformance, DocumentTypesTheAddInAsks) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId macros = standin::AddSheet("Book1.xls", "Macro1");
  standin::SetSheetType(macros, 3);
  standin::OpenCsvText("walk.csv", "1\n");

  Answer unsaved = Ask(xlfGetDocument, 2, "Book1.xls");
  EXPECT_EQ(unsaved.type, xltypeErr);
  EXPECT_EQ(unsaved.error, xlerrNA);

  EXPECT_EQ(Ask(xlfGetDocument, 3, "[Book1.xls]Data").number, 1);
  EXPECT_EQ(Ask(xlfGetDocument, 3, "[Book1.xls]Macro1").number, 3);
  EXPECT_EQ(Ask(xlfGetDocument, 3, "Book1.xls").number, 5);
  EXPECT_EQ(Ask(xlfGetDocument, 3, "walk.csv").number, 1);

  EXPECT_FALSE(Ask(xlfGetDocument, 7, "[Book1.xls]Data").boolean);
  standin::ProtectSheet(data, true);
  Answer locked = Ask(xlfGetDocument, 7, "[Book1.xls]Data");
  EXPECT_EQ(locked.type, xltypeBool);
  EXPECT_TRUE(locked.boolean);

  for (int mode : {3, 2, 1}) {
    standin::SetCalculationMode(mode);
    EXPECT_EQ(Ask(xlfGetDocument, 14).number, mode);
  }

  Answer inBook = Ask(xlfGetDocument, 67, "[Book1.xls]Data");
  EXPECT_EQ(inBook.type, xltypeBool);
  EXPECT_TRUE(inBook.boolean);
  EXPECT_EQ(Ask(xlfGetDocument, 68, "[Book1.xls]Data").text, "Book1.xls");

  standin::ResetQuietly();
  standin::SetWorkbooks(false);
  standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  EXPECT_EQ(Ask(xlfGetDocument, 1, "DATA.XLS").text, "DATA.XLS");
  for (int type : {67, 68}) EXPECT_EQ(Ask(xlfGetDocument, type, "DATA.XLS").error, xlerrValue);
}

// ---- "GET.WORKBOOK macro" -----------------------------------------------------
// 1: "The names of all sheets in the workbook, as a horizontal array of text
// values. Names are returned as [book]sheet." 2: "This will always return
// the #N/A error value." 4: the number of sheets; 14: TRUE when the
// structure is protected; 16: the workbook's name. The page is that of
// version 5.0 and later; of version 4.0's workbooks it says nothing: the
// stand-in answers type 2 there with the active sheet.

TEST_F(MacroConformance, WorkbookTypesTheAddInAsks) {
  standin::NewWorkbook("Book1.xls", "Data");
  standin::AddSheet("Book1.xls", "More");
  Answer sheets = Ask(xlfGetWorkbook, 1, "Book1.xls");
  ASSERT_EQ(sheets.type, xltypeMulti);
  EXPECT_EQ(sheets.rows, 1);
  EXPECT_EQ(sheets.texts, (std::vector<std::string>{"[Book1.xls]Data", "[Book1.xls]More"}));
  EXPECT_EQ(Ask(xlfGetWorkbook, 4, "Book1.xls").number, 2);
  EXPECT_EQ(Ask(xlfGetWorkbook, 16, "Book1.xls").text, "Book1.xls");
  EXPECT_FALSE(Ask(xlfGetWorkbook, 14, "Book1.xls").boolean);
  standin::ProtectWorkbook("Book1.xls", true);
  EXPECT_TRUE(Ask(xlfGetWorkbook, 14, "Book1.xls").boolean);

  for (const char* version : {"5.0", "8.0", "16.0"}) {
    standin::SetHostVersion(version);
    Answer active = Ask(xlfGetWorkbook, 2, "Book1.xls");
    EXPECT_EQ(active.type, xltypeErr) << version;
    EXPECT_EQ(active.error, xlerrNA) << version;
  }
  standin::SetHostVersion("4.0");
  EXPECT_EQ(Ask(xlfGetWorkbook, 2, "Book1.xls").type, xltypeStr);
}

// ---- "GET.CELL macro" -------------------------------------------------------
// 7: "Number format of the cell, as text (for example, "m/d/yy" or
// "General")". "If reference is a range of cells, the cell in the
// upper-left corner of the first range in reference is used. If reference is
// omitted, the active cell is assumed."

TEST_F(MacroConformance, CellFormatOfTheUpperLeftOrActiveCell) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SetCell(data, "B2", 1.5);
  standin::SetCell(data, "C3", 2.5);
  Answer general = Call(xlfGetCell, {Number(7), t.Ref(data, 1, 2, 1, 2)});
  EXPECT_EQ(general.type, xltypeStr);
  EXPECT_EQ(general.text, "General");

  standin::Select(data, "B2:B2");
  XLOPER format = t.Str("0.000");
  ASSERT_EQ(Excel4(xlcFormatNumber, nullptr, 1, &format), xlretSuccess);
  EXPECT_EQ(Call(xlfGetCell, {Number(7), t.Ref(data, 1, 2, 1, 2)}).text, "0.000");
  EXPECT_EQ(Call(xlfGetCell, {Number(7), t.Ref(data, 2, 2, 2, 2)}).text, "General");
  EXPECT_EQ(Ask(xlfGetCell, 7).text, "0.000") << "the active cell, B2";
  EXPECT_EQ(Call(xlfGetCell, {Number(5), t.Ref(data, 1, 2, 1, 2)}).number, 1.5);
}

// ---- "DOCUMENTS macro" --------------------------------------------------------
// Type 1 or omitted: "Names of all open workbooks except add-in workbooks";
// the page's example lists them in alphabetical order, each book once
// whatever windows it has. With none to list the page is silent: the
// stand-in answers #N/A.

TEST_F(MacroConformance, DocumentsListsOpenBooksInAlphabeticalOrder) {
  Answer none = Call(xlfDocuments, {});
  EXPECT_EQ(none.type, xltypeErr);
  for (const char* book : {"BUDGET.XLS", "CHART1", "ACTUAL.XLS", "BOOK.XLS"})
    standin::NewWorkbook(book, "Sheet1");
  std::vector<std::string> expected{"ACTUAL.XLS", "BOOK.XLS", "BUDGET.XLS", "CHART1"};
  Answer omitted = Call(xlfDocuments, {});
  ASSERT_EQ(omitted.type, xltypeMulti);
  EXPECT_EQ(omitted.rows, 1);
  EXPECT_EQ(omitted.texts, expected);
  EXPECT_EQ(Call(xlfDocuments, {Number(1)}).texts, expected);
}

// ---- "ALERT macro" and "INPUT macro" --------------------------------------------
// ALERT type 1: OK and Cancel, TRUE or FALSE; types 2 and 3 (2 when
// omitted): an OK button alone, and the answer is TRUE. INPUT type 2 is
// text; "If you click the Cancel button, INPUT returns FALSE."

TEST_F(MacroConformance, AlertAndInputAnswers) {
  for (bool ok : {true, false}) {
    standin::QueueAlert(ok);
    Answer a = Call(xlcAlert, {t.Str("Go on?"), Number(1)});
    EXPECT_EQ(a.type, xltypeBool);
    EXPECT_EQ(a.boolean, ok);
  }
  for (int type : {2, 3}) {
    Answer a = Call(xlcAlert, {t.Str("Note"), Number(type)});
    EXPECT_EQ(a.type, xltypeBool) << type;
    EXPECT_TRUE(a.boolean) << type;
  }
  EXPECT_TRUE(Call(xlcAlert, {t.Str("Note")}).boolean);

  standin::QueueInput(Value{std::string("My label")});
  Answer typed = Call(xlfInput, {t.Str("Label?"), Number(2), t.Str("Title")});
  EXPECT_EQ(typed.type, xltypeStr);
  EXPECT_EQ(typed.text, "My label");
  standin::QueueInput(std::nullopt);
  Answer cancelled = Call(xlfInput, {t.Str("Label?"), Number(2), t.Str("Title")});
  EXPECT_EQ(cancelled.type, xltypeBool);
  EXPECT_FALSE(cancelled.boolean);
  EXPECT_EQ(standin::UnusedAnswers(), 0);
}

// ---- "xlfRegister (Form 1)" and "xlfUnregister (Form 1)" --------------------------
// Registering "returns its registration ID"; "If the function has been
// registered, calling xlfRegister again increments its use count"; it
// "defines a hidden name which is the function text argument ... and which
// evaluates to the registration ID". xlfUnregister "reduces the use count
// ... If the usage count is already zero, this function has no effect"; it
// "returns TRUE (xltypeBool), otherwise it returns FALSE".

extern "C" double Triple(double* x) { return *x * 3; }

TEST_F(MacroConformance, RegistrationIdUseCountAndHiddenName) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::AttachTestModule("test.xll");
  standin::AddTestProcedure("TRIPLE_PROC", reinterpret_cast<void*>(&Triple));
  XLOPER module{};
  ASSERT_EQ(Excel4(xlGetName, &module, 0), xlretSuccess);
  auto registerOnce = [&] {
    return Call(xlfRegister, {module, t.Str("TRIPLE_PROC"), t.Str("BE"), t.Str("Triple"),
                              t.Str("x"), t.Str("1"), t.Str("Test")});
  };
  Answer first = registerOnce();
  ASSERT_EQ(first.type, xltypeNum);
  Answer second = registerOnce();
  EXPECT_EQ(second.number, first.number) << "the same function keeps its ID";
  EXPECT_EQ(standin::NameDefinition("Triple"), standin::Describe(Value{first.number}));

  standin::EnterFormula(data, "A1", "=Triple(2)");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(data, "A1"), Value{6.0});

  // Registered twice: the first xlfUnregister leaves it registered.
  Answer once = Call(xlfUnregister, {Number(first.number)});
  EXPECT_EQ(once.type, xltypeBool);
  EXPECT_TRUE(once.boolean);
  EXPECT_EQ(standin::Registrations().size(), 1u);
  EXPECT_TRUE(Call(xlfUnregister, {Number(first.number)}).boolean);
  EXPECT_TRUE(standin::Registrations().empty());
  Answer gone = Call(xlfUnregister, {Number(first.number)});
  EXPECT_EQ(gone.type, xltypeBool);
  EXPECT_FALSE(gone.boolean);
  Excel4(xlFree, nullptr, 1, &module);
}

// ---- "xlSet" (Excel C API) --------------------------------------------------------
// "xlSet behaves as a class-3 command-equivalent function; that is, it is
// available only inside a DLL when the DLL is called from an object, macro,
// menu, toolbar, shortcut key, or the Run button". Neither that page nor
// "Excel4/Excel12" names the code a worksheet function gets instead: the
// stand-in answers xlretFailed and writes nothing.

int g_set_code = -1;
extern "C" double SetsA2(double* x) {
  XLMREF table{1, {{1, 1, 0, 0}}};
  XLOPER target{}, value{};
  target.xltype = xltypeRef;
  target.val.mref.lpmref = &table;
  target.val.mref.idSheet = standin::FindSheet("Book1.xls", "Data");
  value.xltype = xltypeNum;
  value.val.num = *x;
  g_set_code = Excel4(xlSet, nullptr, 2, &target, &value);
  return *x;
}
extern "C" short SetsA2ToSeven() {
  double seven = 7;
  SetsA2(&seven);
  return 1;
}

TEST_F(MacroConformance, SetIsForCommandsNotWorksheetFunctions) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::AttachTestModule("test.xll");
  standin::RegisterTestFunction("SetsA2", "BE", reinterpret_cast<void*>(&SetsA2));
  standin::EnterFormula(data, "A1", "=SetsA2(5)");
  standin::Recalculate();
  EXPECT_EQ(standin::GetCell(data, "A1"), Value{5.0});
  EXPECT_EQ(g_set_code, xlretFailed);
  EXPECT_EQ(standin::GetCell(data, "A2"), Value{standin::Blank{}}) << "nothing written";
  standin::ClearLog();

  // The same call made by a command (macro type 2) writes.
  XLOPER module{};
  ASSERT_EQ(Excel4(xlGetName, &module, 0), xlretSuccess);
  standin::AddTestProcedure("SETS_CMD", reinterpret_cast<void*>(&SetsA2ToSeven));
  Answer id = Call(xlfRegister, {module, t.Str("SETS_CMD"), t.Str("A"), t.Str("SetsCommand"),
                                 t.Str(""), t.Str("2")});
  Excel4(xlFree, nullptr, 1, &module);
  ASSERT_EQ(id.type, xltypeNum);
  g_set_code = -1;
  standin::RunCommand("SetsCommand");
  EXPECT_EQ(g_set_code, xlretSuccess);
  EXPECT_EQ(standin::GetCell(data, "A2"), Value{7.0});
}

}  // namespace conformance_macro
