// The add-in module opened and closed by the stand-in: registration of the
// shell's and the tools' procedures, the Add-In Manager's questions, and
// memory running out while opening.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "standin/standin.h"

namespace {

// Calls the shell makes that the stand-in does not answer yet: menus,
// deleting defined names, alerts, beeps and dialog boxes. Only these may
// appear in the host's log here.
bool NotYetAnswered(const std::string& line) {
  for (int number : {8374, 8345, 8351, 88, 32886, 32768, 161}) {
    if (line == "Excel4v: function " + std::to_string(number) +
                    " is not known to the stand-in") {
      return true;
    }
  }
  return false;
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override {
    standin::CloseAddIn();
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? std::string("leak")
                                        : accounting.problems.front());
    for (const std::string& line : standin::Log()) {
      EXPECT_TRUE(NotYetAnswered(line)) << "host refused a call: " << line;
    }
    if (module_ != nullptr) dlclose(module_);
    standin::ResetQuietly();
  }

  // The loaded module's own entry points.
  template <typename F>
  F Entry(const char* name) {
    if (module_ == nullptr) module_ = dlopen(HVT_ADDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module_, nullptr);
    return module_ == nullptr ? nullptr : reinterpret_cast<F>(dlsym(module_, name));
  }

  static std::vector<standin::Registration> Ours() {
    std::vector<standin::Registration> ours;
    for (const auto& r : standin::Registrations()) {
      if (r.module == HVT_ADDIN_PATH) ours.push_back(r);
    }
    return ours;
  }

  static const standin::Registration* Find(
      const std::vector<standin::Registration>& list, const std::string& procedure) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& r) {
      return r.procedure == procedure;
    });
    return it == list.end() ? nullptr : &*it;
  }

  void* module_ = nullptr;
};

TEST_F(Shell, OpenRegistersTheShellThenEachToolInToolOrder) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  std::vector<standin::Registration> list = Ours();

  const standin::Registration* quit = Find(list, "fExit");
  const standin::Registration* about = Find(list, "rAbout");
  const standin::Registration* klx = Find(list, "KLXUP");
  ASSERT_NE(quit, nullptr);
  ASSERT_NE(about, nullptr);
  ASSERT_NE(klx, nullptr);
  for (const standin::Registration* command : {quit, about}) {
    EXPECT_EQ(command->type_text, "J");
    EXPECT_EQ(command->argument_text, "");
    EXPECT_EQ(command->macro_type, "2");
    EXPECT_EQ(command->category, "HVT");
    EXPECT_EQ(command->shortcut, "");
  }
  EXPECT_EQ(quit->function_text, "Quit_HVT");
  EXPECT_EQ(about->function_text, "AboutHVT");
  EXPECT_EQ(klx->function_text, "KLX_Update");
  EXPECT_EQ(klx->type_text, "RREE");
  EXPECT_EQ(klx->argument_text, "data_ref, smoothness, phase");
  EXPECT_EQ(klx->macro_type, "1");
  EXPECT_EQ(klx->category, "HVT");
  // The shell's own rows first, then the tools' in tool order, as far as
  // each tool's worksheet function exists.
  EXPECT_LT(quit->id, about->id);
  double previous = about->id;
  for (const char* procedure : {"KLXUP", "GTNUP", "UpdateUCX", "SPDUP"}) {
    if (const standin::Registration* row = Find(list, procedure)) {
      EXPECT_LT(previous, row->id) << procedure;
      previous = row->id;
    }
  }
}

TEST_F(Shell, CloseUnregistersAndReopeningRegistersOnce) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  std::size_t opened = Ours().size();
  ASSERT_GE(opened, 3u);
  standin::CloseAddIn();
  EXPECT_TRUE(Ours().empty());

  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  EXPECT_EQ(Ours().size(), opened);
  auto open = Entry<int (*)()>("xlAutoOpen");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open(), 1);  // opened twice without a close
  EXPECT_EQ(Ours().size(), opened);
}

TEST_F(Shell, QuitCommandClosesTheAddIn) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  auto quit = Entry<int (*)()>("fExit");
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit(), 1);
  EXPECT_TRUE(Ours().empty());
  // The host's own close afterwards finds nothing left to undo.
}

TEST_F(Shell, RegisterByNameIgnoresCaseAndRefusesStrangers) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  auto registerByName = Entry<LPXLOPER (*)(LPXLOPER)>("xlAutoRegister");
  ASSERT_NE(registerByName, nullptr);

  char lower[] = "\x05klxup";
  XLOPER name{};
  name.xltype = xltypeStr;
  name.val.str = lower;
  LPXLOPER answer = registerByName(&name);
  ASSERT_NE(answer, nullptr);
  ASSERT_EQ(answer->xltype & ~xlbitXLFree, xltypeNum);
  std::vector<standin::Registration> registered = Ours();
  const standin::Registration* klx = Find(registered, "KLXUP");
  ASSERT_NE(klx, nullptr);
  EXPECT_EQ(answer->val.num, klx->id);
  Excel4(xlFree, nullptr, 1, answer);

  char shellName[] = "\x06RABOUT";
  name.val.str = shellName;
  answer = registerByName(&name);
  ASSERT_EQ(answer->xltype & ~xlbitXLFree, xltypeNum);
  std::vector<standin::Registration> list = Ours();
  ASSERT_NE(Find(list, "rAbout"), nullptr);
  EXPECT_EQ(answer->val.num, Find(list, "rAbout")->id);
  Excel4(xlFree, nullptr, 1, answer);

  char stranger[] = "\x06NOSUCH";
  name.val.str = stranger;
  answer = registerByName(&name);
  EXPECT_EQ(answer->xltype, xltypeErr);
  EXPECT_EQ(answer->val.err, xlerrValue);

  XLOPER number{};
  number.xltype = xltypeNum;
  number.val.num = 1;
  answer = registerByName(&number);
  EXPECT_EQ(answer->xltype, xltypeErr);
  answer = registerByName(nullptr);
  EXPECT_EQ(answer->xltype, xltypeErr);
}

TEST_F(Shell, AddInManagerGetsTheNameForActionOneOnly) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  auto info = Entry<LPXLOPER (*)(LPXLOPER)>("xlAddInManagerInfo");
  ASSERT_NE(info, nullptr);
  XLOPER action{};
  action.xltype = xltypeNum;
  action.val.num = 1;
  LPXLOPER answer = info(&action);
  ASSERT_EQ(answer->xltype, xltypeStr);
  EXPECT_EQ(std::string(answer->val.str + 1,
                        static_cast<unsigned char>(answer->val.str[0])),
            "Halvo Tools");

  action.xltype = xltypeInt;
  action.val.w = 1;
  EXPECT_EQ(info(&action)->xltype, xltypeStr);
  for (double other : {2.0, 3.0, 0.0, -1.0}) {
    action.xltype = xltypeNum;
    action.val.num = other;
    answer = info(&action);
    EXPECT_EQ(answer->xltype, xltypeErr) << other;
    EXPECT_EQ(answer->val.err, xlerrValue) << other;
  }
  action.xltype = xltypeMissing;
  EXPECT_EQ(info(&action)->xltype, xltypeErr);
  EXPECT_EQ(info(nullptr)->xltype, xltypeErr);
}

TEST_F(Shell, MemoryRunningOutWhileOpeningStopsBeforeTheTools) {
  standin::FailAllocation(1);  // the About box's array
  EXPECT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 0);
  std::vector<standin::Registration> list = Ours();
  EXPECT_NE(Find(list, "rAbout"), nullptr);
  EXPECT_EQ(Find(list, "KLXUP"), nullptr) << "tools must not be opened";
}

TEST_F(Shell, AboutCommandAnswersOneOpenOrNot) {
  ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
  auto about = Entry<int (*)()>("rAbout");
  ASSERT_NE(about, nullptr);
  standin::QueueDialog({});  // the person presses OK
  EXPECT_EQ(about(), 1);
  auto close = Entry<int (*)()>("xlAutoClose");
  EXPECT_EQ(close(), 1);
  EXPECT_EQ(about(), 1);  // the box's array is gone: nothing is shown
}

}  // namespace
