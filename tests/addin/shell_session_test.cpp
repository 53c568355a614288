// The add-in opened, used and closed in the stand-in as a person meets it:
// the Help menu's About entry and its separator, the About box, the Add-In
// Manager's questions, and everything undone at close.
#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/addin/addin_fixture.h"

namespace hvt::testing {
namespace {

const char kAbout[] = "Abou&t Halvo Tools";

std::vector<standin::MenuItem> Help() { return standin::MenuItems(standin::MenuBar(), "Help"); }

std::vector<std::string> Texts(const std::vector<standin::MenuItem>& items) {
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(item.text);
  return texts;
}

std::vector<standin::Registration> Ours() {
  std::vector<standin::Registration> ours;
  for (const auto& r : standin::Registrations())
    if (r.module == HVT_ADDIN_PATH) ours.push_back(r);
  return ours;
}

class ShellSession : public AddInTest {
 protected:
  void SetUp() override {
    standin::Reset();
    // The Help menu as the host had it before the add-in came.
    before_ = Texts(standin::MenuItems(10, "Help"));
    beforeOld_ = Texts(standin::MenuItems(1, "Help"));
    beforeData_ = Texts(standin::MenuItems(10, "Data"));
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  }
  template <typename F>
  F Entry(const char* name) { return Procedure<F>(name); }
  std::vector<std::string> before_, beforeOld_, beforeData_;
};

TEST_F(ShellSession, OpenAddsAboutUnderASeparatorAtTheEndOfHelp) {
  std::vector<std::string> expected = before_;
  expected.push_back("-");
  expected.push_back(kAbout);
  EXPECT_EQ(Texts(Help()), expected);
  EXPECT_EQ(Help().back().macro, "AboutHVT");
  EXPECT_EQ(Texts(standin::MenuItems(1, "Help")), beforeOld_) << "only the current bar";
}

TEST_F(ShellSession, SecondOpenAddsNothingTwice) {
  std::vector<std::string> once = Texts(Help());
  std::vector<standin::MenuItem> data = standin::MenuItems(10, "Data");
  std::size_t registered = Ours().size();
  auto open = Entry<int (*)()>("xlAutoOpen");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(Texts(Help()), once);
  EXPECT_EQ(Texts(standin::MenuItems(10, "Data")), Texts(data));
  EXPECT_EQ(Ours().size(), registered);
}

TEST_F(ShellSession, CloseRemovesItemsSeparatorsRegistrationsAndNames) {
  std::vector<std::string> names = standin::DefinedNames();
  for (const char* name : {"QUIT_HVT", "ABOUTHVT", "KLX_UPDATE"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  standin::CloseAddIn();
  EXPECT_EQ(Texts(Help()), before_);
  EXPECT_EQ(Texts(standin::MenuItems(10, "Data")), beforeData_);
  EXPECT_TRUE(Ours().empty());
  EXPECT_TRUE(standin::DefinedNames().empty())
      << standin::DefinedNames().size() << " names left, first " << standin::DefinedNames()[0];
}

TEST_F(ShellSession, QuitFromTheMacroNameClosesAsTheHostWould) {
  EXPECT_EQ(standin::RunCommand("Quit_HVT"), 1);
  EXPECT_EQ(Texts(Help()), before_);
  EXPECT_TRUE(Ours().empty());
}

TEST_F(ShellSession, OldHostsUseMenuBarOne) {
  standin::CloseAddIn();
  standin::SetHostVersion("4.0");
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  std::vector<std::string> expected = beforeOld_;
  expected.push_back("-");
  expected.push_back(kAbout);
  EXPECT_EQ(Texts(standin::MenuItems(1, "Help")), expected);
  EXPECT_EQ(Texts(standin::MenuItems(10, "Help")), before_);
  standin::CloseAddIn();
  EXPECT_EQ(Texts(standin::MenuItems(1, "Help")), beforeOld_);
}

TEST_F(ShellSession, AboutBoxShowsItsTextsAndOk) {
  standin::QueueDialog({});
  EXPECT_EQ(standin::ChooseMenuItem("Help", "About Halvo Tools"), 1);
  std::vector<standin::DialogShowing> shown = standin::Showings();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "About Halvo Tools");
  EXPECT_EQ(shown[0].definition.rows, 7);
  EXPECT_EQ(shown[0].definition.columns, 7);
  EXPECT_EQ(shown[0].closed_by, 5) << "the default OK button";
  ASSERT_FALSE(standin::Transcript().empty());
  EXPECT_EQ(standin::Transcript()[0].rfind("dialog \"About Halvo Tools\": Halvo Tools, 32 Bit Versions | ", 0), 0u)
      << standin::Transcript()[0];
  EXPECT_NE(standin::Transcript()[0].find("-> item 5 \"&OK\""), std::string::npos);
  // The answer went back: nothing outstanding.
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 0);
}

TEST_F(ShellSession, AddInManagerMessagesAreInformation) {
  auto add = Entry<int (*)()>("xlAutoAdd");
  auto remove = Entry<int (*)()>("xlAutoRemove");
  ASSERT_NE(add, nullptr);
  ASSERT_NE(remove, nullptr);
  standin::ClearTranscript();
  EXPECT_EQ(add(), 1);
  EXPECT_EQ(remove(), 1);
  EXPECT_EQ(standin::Transcript(),
            (std::vector<std::string>{"beep", "alert 2 \"HVT Tools added to Data menu!\" -> OK",
                                      "beep", "alert 2 \"HVT Tools removed from Data menu!\" -> OK"}));
}

TEST_F(ShellSession, UnionOfTwoAreasReachesTheFunctionAsTwoAreas) {
  standin::SheetId sheet = SheetWithColumn(Walk(40));
  std::vector<standin::Value> column(40, standin::Value{1.0});
  standin::SetColumn(sheet, "B1", column);
  // SUM sees both areas: the union is one reference of two areas.
  standin::Evaluation sum = standin::Evaluate("=SUM((B1:B40,B1:B20))");
  ASSERT_EQ(sum.result.cells.size(), 1u);
  EXPECT_EQ(Number(sum.result.cells[0]), 60.0);
  EXPECT_EQ(ErrorOf(standin::Evaluate("=KLX_Update((A1:A40,B1:B40),7,0)")), xlerrRef);
}

}  // namespace
}  // namespace hvt::testing
