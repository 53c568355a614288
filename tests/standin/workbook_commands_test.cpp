// Sheet names in reference texts, TEXTREF's two notations, activating books
// and sheets, copies into larger areas, the book information a host without
// workbooks lacks, and a break that ends with its command.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/counted_text.h"
#include "tests/standin/fixture.h"

namespace {

using standin::Value;

class WorkbookCommands : public HostTest {
 protected:
  // TEXTREF with one or two arguments: the sheet and first cell it reaches,
  // or an error code.
  struct Reached {
    int error = 0;
    standin::SheetId sheet = 0;
    int row = -1, column = -1;
  };
  Reached Textref(const std::string& text, int style = -1) {
    XLOPER t = opers_.Str(text), a1 = BoolOper(style == 1), out{};
    EXPECT_EQ(Excel4(xlfTextref, &out, style < 0 ? 1 : 2, &t, &a1), xlretSuccess);
    Reached r;
    if (out.xltype == xltypeErr) {
      r.error = out.val.err;
    } else if (out.xltype == xltypeSRef) {
      r.sheet = standin::ActiveSheet();
      r.row = out.val.sref.ref.rwFirst;
      r.column = out.val.sref.ref.colFirst;
    } else if (out.xltype == xltypeRef) {
      r.sheet = out.val.mref.idSheet;
      r.row = out.val.mref.lpmref->reftbl[0].rwFirst;
      r.column = out.val.mref.lpmref->reftbl[0].colFirst;
    }
    Excel4(xlFree, nullptr, 1, &out);
    return r;
  }
  Opers opers_;  // references keep pointing into it
};

// Excel leaves a sheet name bare only when it is a plain identifier (dots
// allowed: "Excel: Linking Worksheets with an R# or A$ Name", Microsoft
// Knowledge Base, writes RC.XLS!reference bare and 'R1.xls'!reference
// quoted) that cannot be read as a cell (A1 or R1C1) and does not begin
// with R or C and a digit.
bool ExpectBare(const std::string& name) {
  auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  auto rOrC = [](char c) { return c == 'R' || c == 'r' || c == 'C' || c == 'c'; };
  if (name.empty() || !(letter(name[0]) || name[0] == '_')) return false;
  for (char c : name)
    if (!letter(c) && !digit(c) && c != '_' && c != '.') return false;
  // A1: one to three letters, then digits.
  std::size_t letters = 0;
  while (letters < name.size() && letter(name[letters])) ++letters;
  bool a1cell = letters >= 1 && letters <= 3 && letters < name.size() &&
                std::all_of(name.begin() + letters, name.end(), digit);
  // R1C1: an optional R and digits, then an optional C and digits.
  std::size_t at = 0;
  auto part = [&](char upper) {
    if (at < name.size() && std::toupper(static_cast<unsigned char>(name[at])) == upper) {
      ++at;
      while (at < name.size() && digit(name[at])) ++at;
    }
  };
  part('R');
  part('C');
  bool r1c1 = at == name.size();
  bool rowOrColumnFirst = name.size() >= 2 && rOrC(name[0]) && digit(name[1]);
  return !a1cell && !r1c1 && !rowOrColumnFirst;
}

TEST_F(WorkbookCommands, EverySheetNameReadsBackFromTheTextItPrints) {
  const std::vector<std::string> names = {
      "Data",   "Data.COF", "My Data", "It's",   "A1",  "R1C1",     "R",    "C",
      "rc",     "2024",     "x-y",     "a!b",    "S(1)", "_under_1", "IV65", "Tab,2",
      "Sh=eet", "a'b'c",    "ZZZ",     "R1.xls", "RC.XLS"};
  standin::NewWorkbook("Book1.xls", "Home");
  for (const std::string& name : names) {
    standin::SheetId id = standin::AddSheet("Book1.xls", name);
    standin::SetCell(id, 4, 2, 7.25);
    for (bool a1 : {false, true}) {
      XLOPER ref = opers_.Ref(id, 4, 4, 2, 2), style = BoolOper(a1), text{};
      ASSERT_EQ(Excel4(xlfReftext, &text, 2, &ref, &style), xlretSuccess);
      ASSERT_EQ(text.xltype, xltypeStr);
      std::string printed = CountedText(text);
      Excel4(xlFree, nullptr, 1, &text);
      bool bare = printed.rfind("[Book1.xls]" + name + "!", 0) == 0;
      bool quoted = printed.rfind("'[Book1.xls]", 0) == 0;
      EXPECT_EQ(bare, ExpectBare(name)) << printed;
      EXPECT_NE(bare, quoted) << printed;
      // TEXTREF reads it back in its own notation: A1 with TRUE or no
      // style, R1C1 with FALSE.
      for (int style_arg : a1 ? std::vector<int>{-1, 1} : std::vector<int>{0}) {
        Reached back = Textref(printed, style_arg);
        EXPECT_EQ(back.error, 0) << printed;
        EXPECT_EQ(back.sheet, id) << printed;
        EXPECT_EQ(back.row, 4) << printed;
        EXPECT_EQ(back.column, 2) << printed;
      }
      // And a formula holding the text finds the cell: R1C1 texts through
      // international entry, A1 texts through plain entry.
      standin::SheetId home = standin::FindSheet("Book1.xls", "Home");
      XLOPER formula = opers_.Str("=" + printed + "*2"), cell = opers_.Ref(home, 0, 0, 0, 0);
      int command = a1 ? int{xlcFormula} : int{xlcFormula} | int{xlIntl};
      ASSERT_EQ(Excel4(command, nullptr, 2, &formula, &cell), xlretSuccess)
          << printed << (standin::Log().empty() ? "" : standin::Log().back());
      standin::Recalculate();
      EXPECT_EQ(standin::GetCell(home, 0, 0), Value{14.5}) << printed;
    }
  }
  EXPECT_TRUE(standin::Log().empty()) << standin::Log().front();
}

// "TEXTREF" (Excel 4.0 macro functions): A1 when a1 is TRUE or omitted,
// R1C1 only when it is FALSE.
TEST_F(WorkbookCommands, TextrefReadsA1WithoutAStyleAndR1C1WhenAsked) {
  standin::SheetId data = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId other = standin::AddSheet("Book1.xls", "Data.COF");
  standin::Select(data, "D10");
  struct Case {
    std::string text;
    int style;  // -1 none, 1 A1, 0 R1C1
    standin::SheetId sheet;
    int row, column, error;
  };
  const Case cases[] = {
      {"B3", -1, data, 2, 1, 0},
      {"$B$3:$C$9", -1, data, 2, 1, 0},
      {"R3C2", -1, 0, -1, -1, xlerrRef},
      {"R3C2:R9C3", -1, 0, -1, -1, xlerrRef},
      {"R3C2:R9C3", 0, data, 2, 1, 0},
      {"'[Book1.xls]Data.COF'!R1C1:R5C1", -1, 0, -1, -1, xlerrRef},
      {"'[Book1.xls]Data.COF'!R1C1:R5C1", 0, other, 0, 0, 0},
      {"'[Book1.xls]Data.COF'!A1:A5", -1, other, 0, 0, 0},
      {"[Book1.xls]Data!R2C3", 0, data, 1, 2, 0},
      // R1C1 relative parts count from the active cell, D10.
      {"R[-1]C[1]", 0, data, 8, 4, 0},
      // A style given is the only one tried.
      {"R3C2", 1, 0, -1, -1, xlerrRef},
      {"B3", 0, 0, -1, -1, xlerrRef},
      {"R3C2", 0, data, 2, 1, 0},
      {"B3", 1, data, 2, 1, 0},
      {"no reference", -1, 0, -1, -1, xlerrRef},
  };
  for (const Case& c : cases) {
    Reached got = Textref(c.text, c.style);
    EXPECT_EQ(got.error, c.error) << c.text << " style " << c.style;
    if (c.error == 0) {
      EXPECT_EQ(got.sheet, c.sheet) << c.text;
      EXPECT_EQ(got.row, c.row) << c.text;
      EXPECT_EQ(got.column, c.column) << c.text;
    }
  }
}

TEST_F(WorkbookCommands, ActivateTakesWindowsAndSheetsAndRefusesHiddenOnes) {
  standin::SheetId a1 = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId a2 = standin::AddSheet("Book1.xls", "Data.COF");
  standin::SheetId b1 = standin::NewWorkbook("Book2.xls", "Out");
  Opers t;
  auto activate = [&](const std::string& name) {
    XLOPER text = t.Str(name);
    return Excel4(xlcActivate, nullptr, 1, &text);
  };
  // A window: its book's active sheet.
  EXPECT_EQ(activate("Book1.xls"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a1);
  // A sheet of an open book by its full name, from another book.
  standin::Activate(b1);
  EXPECT_EQ(activate("[Book1.xls]Data.COF"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a2);
  // A sheet of the active book by its name alone.
  EXPECT_EQ(activate("Data"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a1);
  // The window name is the book's whatever sheet was active in it.
  EXPECT_EQ(activate("Book2.xls:1"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), b1);
  // A bare name of a sheet in another book is not in the active one.
  EXPECT_NE(activate("Data.COF"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), b1);
  standin::ClearLog();
  // Hidden sheets stay where they are.
  standin::Activate(a1);
  XLOPER name = t.Str("Data.COF");
  ASSERT_EQ(Excel4(xlcWorkbookHide, nullptr, 1, &name), xlretSuccess);
  EXPECT_NE(activate("[Book1.xls]Data.COF"), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a1);
  standin::ClearLog();
}

TEST_F(WorkbookCommands, WorkbookActivateWithoutASheetKeepsTheActiveOne) {
  standin::SheetId a1 = standin::NewWorkbook("Book1.xls", "Data");
  standin::SheetId a2 = standin::AddSheet("Book1.xls", "Second");
  standin::Activate(a2);
  EXPECT_EQ(Excel4(xlcWorkbookActivate, nullptr, 0), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a2);
  Opers t;
  XLOPER first = t.Str("Data");
  EXPECT_EQ(Excel4(xlcWorkbookActivate, nullptr, 1, &first), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), a1);
  EXPECT_TRUE(standin::Log().empty()) << standin::Log().front();
}

TEST_F(WorkbookCommands, OneCellCopiedOverAnAreaFillsEveryCell) {
  standin::SheetId id = standin::NewWorkbook("b.xls", "Data");
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 7; ++c) standin::SetCell(id, r, c, 10.0 * r + c);
  standin::EnterFormula(id, "A8", "=A1*2+$B$1");
  XLOPER from = opers_.Ref(id, 7, 7, 0, 0), to = opers_.Ref(id, 7, 9, 4, 6);  // A8 -> E8:G10
  ASSERT_EQ(Excel4(xlcCopy, nullptr, 2, &from, &to), xlretSuccess);
  standin::Recalculate();
  // Each copy reads the cell as far from it as A1 is from A8.
  for (int r = 7; r <= 9; ++r)
    for (int c = 4; c <= 6; ++c)
      EXPECT_EQ(standin::GetCell(id, r, c), Value{(10.0 * (r - 7) + c) * 2 + 1})
          << r << "," << c;
  // A two-row block tiles a four-row area; into three rows it goes once.
  standin::EnterFormula(id, "H1", "=A1+1");
  standin::EnterFormula(id, "H2", "=A2+1");
  XLOPER pair = opers_.Ref(id, 0, 1, 7, 7), four = opers_.Ref(id, 0, 3, 8, 8),
         three = opers_.Ref(id, 0, 2, 9, 9);
  ASSERT_EQ(Excel4(xlcCopy, nullptr, 2, &pair, &four), xlretSuccess);
  ASSERT_EQ(Excel4(xlcCopy, nullptr, 2, &pair, &three), xlretSuccess);
  standin::Recalculate();
  for (int r = 0; r < 4; ++r)
    EXPECT_EQ(standin::GetCell(id, r, 8), Value{10.0 * r + 1 + 1}) << r;
  EXPECT_EQ(standin::GetCell(id, 1, 9), Value{10.0 + 2 + 1});
  EXPECT_TRUE(std::holds_alternative<standin::Blank>(standin::GetCell(id, 2, 9)));
  // A fill that would run off the sheet is refused whole.
  standin::ClearLog();
  const int last = standin::RowLimit() - 1;
  XLOPER edge = opers_.Ref(id, 0, 1, 7, 7), off = opers_.Ref(id, last, last, 0, 0);
  EXPECT_NE(Excel4(xlcCopy, nullptr, 2, &edge, &off), xlretSuccess);
  standin::ClearLog();
}

TEST_F(WorkbookCommands, BookInformationOnlyWhereThereAreWorkbooks) {
  standin::SheetId id = standin::NewWorkbook("Book1.xls", "Data");
  standin::AddSheet("Book1.xls", "More");
  Opers t;
  XLOPER type67 = NumOper(67), type68 = NumOper(68), name = t.Str("[Book1.xls]Data"), out{};
  // "GET.DOCUMENT macro": version 5.0 or later always answers TRUE to 67.
  ASSERT_EQ(Excel4(xlfGetDocument, &out, 2, &type67, &name), xlretSuccess);
  EXPECT_EQ(out.xltype, xltypeBool);
  EXPECT_EQ(out.val.xbool, 1);
  ASSERT_EQ(Excel4(xlfGetDocument, &out, 2, &type68, &name), xlretSuccess);
  EXPECT_EQ(CountedText(out), "Book1.xls");
  Excel4(xlFree, nullptr, 1, &out);
  (void)id;

  standin::ResetQuietly();
  standin::SetWorkbooks(false);
  standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  XLOPER doc = t.Str("DATA.XLS");
  for (XLOPER* type : {&type67, &type68}) {
    ASSERT_EQ(Excel4(xlfGetDocument, &out, 2, type, &doc), xlretSuccess);
    EXPECT_EQ(out.xltype, xltypeErr);
    EXPECT_EQ(out.val.err, xlerrValue);
  }
  // What such a host did have still answers.
  XLOPER type1 = NumOper(1);
  ASSERT_EQ(Excel4(xlfGetDocument, &out, 2, &type1, &doc), xlretSuccess);
  EXPECT_EQ(CountedText(out), "DATA.XLS");
  Excel4(xlFree, nullptr, 1, &out);
}

TEST_F(WorkbookCommands, MoveWithoutABookGivesTheSheetOneOfItsOwn) {
  for (const char* version : {"4.0", "8.0"}) {
    standin::ResetQuietly();
    standin::SetHostVersion(version);
    standin::NewWorkbook("Book1.xls", "Data");
    standin::SheetId coef = standin::AddSheet("Book1.xls", "Data.COF");
    standin::SetCell(coef, 0, 0, 2.5);
    Opers t;
    XLOPER name = t.Str("[Book1.xls]Data.COF");
    ASSERT_EQ(Excel4(xlcWorkbookMove, nullptr, 1, &name), xlretSuccess) << version;
    std::string book = std::string(version) == "4.0" ? "Data.COF" : "Book1";  // "Book1.xls" is another name
    EXPECT_EQ(standin::BookName(coef), book) << version;
    EXPECT_EQ(standin::Sheets("Book1.xls"), std::vector<std::string>{"Data"});
    EXPECT_EQ(standin::GetCell(coef, 0, 0), Value{2.5});
    EXPECT_EQ(standin::ActiveSheet(), coef);
    // Closing the new window leaves the workbook alone.
    XLOPER no = BoolOper(false);
    ASSERT_EQ(Excel4(xlcClose, nullptr, 1, &no), xlretSuccess);
    EXPECT_EQ(standin::Workbooks(), std::vector<std::string>{"Book1.xls"});
  }
  // The last sheet of a book cannot leave it.
  standin::ClearLog();
  Opers t;
  XLOPER last = t.Str("Data");
  EXPECT_NE(Excel4(xlcWorkbookMove, nullptr, 1, &last), xlretSuccess);
  standin::ClearLog();
}

TEST_F(WorkbookCommands, DocumentsWithoutWorkbooksAreSavedHiddenAndShownByName) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("standin_doc_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  standin::SetWorkbooks(false);
  standin::NewWorkbook("DATA.XLS", "DATA.XLS");
  XLOPER one = NumOper(1);
  ASSERT_EQ(Excel4(xlcNew, nullptr, 1, &one), xlretSuccess);
  standin::SetCell(standin::ActiveSheet(), 0, 0, 4.0);
  Opers t;
  XLOPER path = t.Str((dir / "DATA.COF").string());
  ASSERT_EQ(Excel4(xlcSaveAs, nullptr, 1, &path), xlretSuccess);
  // The document and its one sheet both bear the new name.
  standin::SheetId coef = standin::FindSheet("DATA.COF", "DATA.COF");
  ASSERT_NE(coef, 0u);
  EXPECT_TRUE(fs::exists(dir / "DATA.COF"));
  ASSERT_EQ(Excel4(xlcHide, nullptr, 0), xlretSuccess);
  EXPECT_TRUE(standin::WorkbookHidden("DATA.COF"));
  XLOPER name = t.Str("DATA.COF");
  ASSERT_EQ(Excel4(94 | xlCommand, nullptr, 1, &name), xlretSuccess);  // UNHIDE
  EXPECT_FALSE(standin::WorkbookHidden("DATA.COF"));
  EXPECT_EQ(Excel4(xlcActivate, nullptr, 1, &name), xlretSuccess);
  EXPECT_EQ(standin::ActiveSheet(), coef);
  EXPECT_TRUE(standin::Log().empty()) << standin::Log().front();
  fs::remove_all(dir);
}

// A command that polls the break key until it sees Esc.
extern "C" int PollUntilBreak() {
  for (int i = 0; i < 100; ++i) {
    XLOPER pressed{};
    Excel4(xlAbort, &pressed, 0);
    if (pressed.xltype == xltypeBool && pressed.val.xbool) return i + 1;
  }
  return 0;
}

// Registers `procedure` of a test module as a command named `name`
// answering `type`.
void RegisterTestCommand(const char* procedure, void* address, const char* type,
                         const char* name) {
  standin::AttachTestModule("test.xll");
  standin::AddTestProcedure(procedure, address);
  Opers t;
  XLOPER module{}, out{};
  ASSERT_EQ(Excel4(xlGetName, &module, 0), xlretSuccess);
  XLOPER proc = t.Str(procedure), type_text = t.Str(type), function = t.Str(name),
         arguments = t.Str(""), macro = t.Str("2");
  ASSERT_EQ(Excel4(xlfRegister, &out, 6, &module, &proc, &type_text, &function, &arguments,
                   &macro),
            xlretSuccess);
  Excel4(xlFree, nullptr, 2, &module, &out);
}

extern "C" short AnswersFalse() { return 0; }

TEST_F(WorkbookCommands, CommandAnswersAreNumbersOrBooleans) {
  standin::NewWorkbook("b.xls");
  RegisterTestCommand("AnswersFalse", reinterpret_cast<void*>(&AnswersFalse), "A", "SaysNo");
  EXPECT_EQ(standin::RunCommand("SaysNo"), 0.0);
  EXPECT_THROW(standin::RunCommand("SaysNo2"), standin::HostError) << "not registered";
}

TEST_F(WorkbookCommands, ABreakEndsWithTheCommandThatSawIt) {
  standin::NewWorkbook("b.xls");
  RegisterTestCommand("PollUntilBreak", reinterpret_cast<void*>(&PollUntilBreak), "J",
                      "PollBreak");

  standin::PressEscAfter(3);
  EXPECT_EQ(standin::RunCommand("PollBreak"), 3);  // seen at the third poll
  EXPECT_FALSE(standin::BreakPending());
  // The next command starts without it and polls to its end.
  EXPECT_EQ(standin::RunCommand("PollBreak"), 0);
  // Within a command, a break nobody cleared is seen again.
  standin::PressEscAfter(1);
  XLOPER pressed{};
  Excel4(xlAbort, &pressed, 0);
  EXPECT_TRUE(pressed.val.xbool);
  Excel4(xlAbort, &pressed, 0);
  EXPECT_TRUE(pressed.val.xbool);
  EXPECT_TRUE(standin::BreakPending());
}

}  // namespace
