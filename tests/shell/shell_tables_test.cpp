// The shell's tables as the module prepared them at load, menu arrays, and
// the rule that a tool's menu entry needs its command registered.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "host/counted_string.h"
#include "host/tool_tables.h"
#include "shell/shell.h"
#include "standin/standin.h"
#include "tests/counted_text.h"

namespace hvt {
namespace {

class ShellTables : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override {
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "leak" : accounting.problems.front());
    standin::ResetQuietly();
  }
};

TEST_F(ShellTables, LoadingSetEveryLengthByteAndTheAboutShape) {
  // The module-attach step ran when this executable was loaded.
  EXPECT_EQ(g_aboutArray.xltype, xltypeMulti);
  EXPECT_EQ(g_aboutArray.val.array.rows, 7);
  EXPECT_EQ(g_aboutArray.val.array.columns, 7);
  for (const DialogRow& row : g_aboutDialog) {
    for (const auto& text : row.text) {
      // Every length byte agrees with the text after it (placeholders gone).
      EXPECT_EQ(CountedLength(text), std::strlen(text + 1));
    }
  }
  EXPECT_EQ(CountedText(MenuItemText(g_aboutMenu)), "Abou&t Halvo Tools");
  EXPECT_EQ(CountedText(MenuMacro(g_aboutMenu)), "AboutHVT");
  EXPECT_EQ(CountedText(g_shellRows[1].text[kFunctionText]), "AboutHVT");
}

TEST_F(ShellTables, AboutArrayHasFortyNineCellsNilWhereEmpty) {
  XLOPER array{};
  ASSERT_TRUE(BuildDialogArray(g_aboutDialog, std::size(g_aboutDialog), array));
  int strings = 0, nils = 0;
  for (std::size_t i = 0; i < 49; ++i) {
    const XLOPER& cell = array.val.array.lparray[i];
    const char* text = g_aboutDialog[i / 7].text[i % 7];
    if (cell.xltype == xltypeStr) {
      ++strings;
      EXPECT_EQ(cell.val.str, text);
    } else {
      ++nils;
      EXPECT_EQ(cell.xltype, xltypeNil);
      EXPECT_EQ(CountedLength(text), 0u);
    }
  }
  EXPECT_EQ(strings + nils, 49);
  EXPECT_EQ(CountedText(array.val.array.lparray[DialogCell(0, kItemText)].val.str),
            "About Halvo Tools");
  EXPECT_EQ(CountedText(array.val.array.lparray[DialogCell(1, kItemText)].val.str),
            "Halvo Tools, 32 Bit Versions");
  FreeDialogArray(array);
}

TEST_F(ShellTables, MenuArrayCellsAreAllStrings) {
  XLOPER cells[kMenuRows * kMenuColumns] = {};
  FillMenuCells(g_aboutMenu, cells);
  for (std::size_t i = 0; i < std::size(cells); ++i) {
    EXPECT_EQ(cells[i].xltype, xltypeStr) << i;
    EXPECT_EQ(cells[i].val.str, g_aboutMenu.text[i / kMenuColumns][i % kMenuColumns]);
  }
  EXPECT_EQ(CountedText(cells[0].val.str), "-");
  EXPECT_EQ(CountedText(cells[2].val.str), "");
}

TEST_F(ShellTables, MenuEntryOnlyForARegisteredCommand) {
  RegistrationRow rows[] = {
      {{" KLXUP", " RREE", " KLX_Update", " a", " 1", " HVT", " "}},
  };
  MenuBlock menu = {{{" -", " ", " ", " ", " "},
                     {" KLX", " klxwrapper", " ", " Status", " "}}};
  ToolTables tool{rows, 1, &menu};
  PrepareToolTables(tool);
  EXPECT_FALSE(MenuMacroRegistered(tool));
  RegistrationRow withCommand[] = {
      rows[0],
      {{" KLXWrapper", " J", " KLXWrapper", " ", " 2", " HVT", " "}},
  };
  PrepareRegistrationRows(withCommand, 2);
  tool.rows = withCommand;
  tool.rowCount = 2;
  EXPECT_TRUE(MenuMacroRegistered(tool)) << "function texts compare ignoring case";
  tool.menu = nullptr;
  EXPECT_FALSE(MenuMacroRegistered(tool));
}

TEST_F(ShellTables, ForgettingAnAnswerReleasesTheKeptCopy) {
  XLOPER remembered{};
  ForgetDialogAnswer(remembered);
  EXPECT_EQ(remembered.xltype, xltypeBool);
  ForgetDialogAnswer(remembered);  // the mark stays the mark
  EXPECT_EQ(remembered.xltype, xltypeBool);
  // The host's answer goes back when it is taken; the copy kept goes when it
  // is forgotten (the accounting checks both).
  XLOPER number{};
  number.xltype = xltypeInt;
  number.val.w = xltypeMulti;
  XLOPER value{};
  value.xltype = xltypeNum;
  value.val.num = 3;
  XLOPER answer{};
  ASSERT_EQ(Excel4(xlCoerce, &answer, 2, &value, &number), xlretSuccess);
  ASSERT_EQ(TakeDialogAnswer(answer, remembered), TakenAnswer::kArray);
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 0);
  EXPECT_EQ(standin::GetAccounting().global_blocks, 1);
  ForgetDialogAnswer(remembered);
  EXPECT_EQ(remembered.xltype, xltypeBool);
}

}  // namespace
}  // namespace hvt
