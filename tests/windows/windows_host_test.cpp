// What only the Windows build of the stand-in does: calling registered
// procedures through the x64 convention, real windows for HostDialogOpen,
// and counting the add-in's memory calls through its import table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "standin/standin.h"

namespace {

// ---- Argument slots ---------------------------------------------------------

// Five arguments, each a double ('B') or a 32-bit integer ('J') as the bits
// of Mask say, the fifth past the registers. Each argument lands in its own
// decimal place, so a value in the wrong slot or register shows.
template <int Mask, int K>
using Arg = std::conditional_t<((Mask >> K) & 1) != 0, double, int>;

template <int Mask>
double WINAPI Probe(Arg<Mask, 0> a, Arg<Mask, 1> b, Arg<Mask, 2> c, Arg<Mask, 3> d,
                    Arg<Mask, 4> e) {
  return static_cast<double>(a) + 10.0 * b + 100.0 * c + 1000.0 * d + 10000.0 * e;
}

template <int Mask>
int WINAPI ProbeInt(Arg<Mask, 0> a, Arg<Mask, 1> b, Arg<Mask, 2> c, Arg<Mask, 3> d,
                    Arg<Mask, 4> e) {
  return static_cast<int>(Probe<Mask>(a, b, c, d, e));
}

std::string TypeText(char result, int mask) {
  std::string text(1, result);
  for (int k = 0; k < 5; ++k) text += ((mask >> k) & 1) != 0 ? 'B' : 'J';
  return text;
}

template <int... Masks>
void RegisterProbes(std::integer_sequence<int, Masks...>) {
  (standin::RegisterTestFunction("Probe" + std::to_string(Masks), TypeText('B', Masks),
                                 reinterpret_cast<void*>(&Probe<Masks>)),
   ...);
  (standin::RegisterTestFunction("ProbeInt" + std::to_string(Masks), TypeText('J', Masks),
                                 reinterpret_cast<void*>(&ProbeInt<Masks>)),
   ...);
}

class WindowsHost : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::ResetQuietly(); }

  static double NumberOf(const std::string& formula) {
    standin::Evaluation e = standin::Evaluate(formula);
    EXPECT_FALSE(e.no_value) << formula;
    EXPECT_EQ(e.result.cells.size(), 1u) << formula;
    if (e.result.cells.size() != 1 || !std::holds_alternative<double>(e.result.cells[0])) {
      ADD_FAILURE() << formula << " gave "
                    << (e.result.cells.empty() ? std::string("nothing")
                                               : standin::Describe(e.result.cells[0]));
      return NAN;
    }
    return std::get<double>(e.result.cells[0]);
  }
};

TEST_F(WindowsHost, EveryMixOfDoublesAndIntegersReachesItsSlot) {
  standin::AttachTestModule("probe.xll");
  standin::NewWorkbook("Book1.xls");
  RegisterProbes(std::make_integer_sequence<int, 32>{});
  for (int mask = 0; mask < 32; ++mask) {
    // Doubles carry a fraction, so one passed as an integer would lose it.
    double value[5];
    std::string args;
    double expected = 0;
    double place = 1;
    for (int k = 0; k < 5; ++k) {
      value[k] = ((mask >> k) & 1) != 0 ? k + 1.25 : k + 1;
      args += (k ? "," : "") + standin::Describe(value[k]);
      expected += place * value[k];
      place *= 10;
    }
    EXPECT_EQ(NumberOf("=Probe" + std::to_string(mask) + "(" + args + ")"), expected)
        << "mask " << mask;
    EXPECT_EQ(NumberOf("=ProbeInt" + std::to_string(mask) + "(" + args + ")"),
              std::trunc(expected))
        << "mask " << mask;
  }
}

// ---- Windows ----------------------------------------------------------------

TEST_F(WindowsHost, DialogWindowsAreRealWindowsOwnedByTheMainWindow) {
  HWND main = standin::MainWindow();
  ASSERT_TRUE(IsWindow(main));
  HWND dialog = standin::OpenDialogWindow();
  ASSERT_TRUE(IsWindow(dialog));
  char name[64] = {};
  ASSERT_GT(GetClassNameA(dialog, name, sizeof name), 0);
  EXPECT_STREQ(name, "bosa_sdm_XL9");
  EXPECT_EQ(GetParent(dialog), main);

  // A dialog of another window is found by EnumWindows too, with its owner.
  HWND other = standin::OpenWindow("OtherApp");
  HWND foreign = standin::OpenDialogWindow(other);
  EXPECT_EQ(GetParent(foreign), other);

  struct Seen {
    HWND dialog, foreign;
    bool dialog_seen = false, foreign_seen = false;
  } seen{dialog, foreign};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Seen*>(param);
        s->dialog_seen |= window == s->dialog;
        s->foreign_seen |= window == s->foreign;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen));
  EXPECT_TRUE(seen.dialog_seen);
  EXPECT_TRUE(seen.foreign_seen);

  standin::CloseWindow(dialog);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_THROW(standin::CloseWindow(dialog), standin::HostError);
  standin::ResetQuietly();
  EXPECT_FALSE(IsWindow(foreign));
  EXPECT_FALSE(IsWindow(other));
}

TEST_F(WindowsHost, HostWindowHandleIsTheMainWindowsLowWord) {
  standin::AttachTestModule("probe.xll");
  standin::NewWorkbook("Book1.xls");
  XLOPER hwnd = {};
  ASSERT_EQ(Excel4(xlGetHwnd, &hwnd, 0), xlretSuccess);
  EXPECT_EQ(static_cast<WORD>(hwnd.val.w),
            static_cast<WORD>(reinterpret_cast<std::uintptr_t>(standin::MainWindow())));
}

// ---- The add-in's memory ----------------------------------------------------

class WindowsAddInMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ASSERT_EQ(standin::LoadAddIn(HVT_ADDIN_PATH), 1);
    sheet_ = standin::NewWorkbook("Book1.xls", "Data");
    std::vector<double> values(60);
    for (int i = 0; i < 60; ++i) values[i] = 100.0 + std::sin(i * 0.3) * 5;
    std::vector<standin::Value> cells(values.begin(), values.end());
    standin::SetColumn(sheet_, "A1", cells);
    // Blocks the module keeps while it is open (its About dialog array).
    held_ = standin::GetAccounting().global_blocks;
  }
  void TearDown() override {
    standin::CloseAddIn();
    standin::ResetQuietly();
  }
  standin::SheetId sheet_ = 0;
  long long held_ = 0;
};

TEST_F(WindowsAddInMemory, ResultBlocksAreCountedAndGivenBack) {
  standin::ClearLog();
  standin::Evaluation e = standin::Evaluate("=KLX_Update(A1:A60,7,0)");
  ASSERT_EQ(e.result.rows, 60);
  standin::Accounting after = standin::GetAccounting();
  EXPECT_EQ(after.global_blocks, held_)
      << (after.problems.empty() ? "" : after.problems.back());
  EXPECT_EQ(after.bad_global_frees, 0);
  EXPECT_EQ(after.pending_dll_results, 0);
}

TEST_F(WindowsAddInMemory, InjectedFailureReachesTheAddInsRealAllocations) {
  // The add-in calls kernel32 itself; only the import-table redirect lets the
  // host refuse its allocation.
  standin::FailAllocation(1);
  standin::Evaluation e = standin::Evaluate("=KLX_Update(A1:A60,7,0)");
  ASSERT_EQ(e.result.cells.size(), 1u);
  ASSERT_TRUE(std::holds_alternative<standin::Error>(e.result.cells[0]))
      << standin::Describe(e.result.cells[0]);
  standin::FailAllocation(0);
  EXPECT_EQ(standin::Evaluate("=KLX_Update(A1:A60,7,0)").result.rows, 60);
  EXPECT_EQ(standin::GetAccounting().global_blocks, held_);
}

TEST_F(WindowsAddInMemory, ClosingTheAddInReleasesWhatItHeld) {
  ASSERT_GT(held_, 0);  // the redirect sees the blocks made at open
  standin::Evaluate("=KLX_Update(A1:A60,7,0)");
  standin::CloseAddIn();
  standin::Accounting after = standin::GetAccounting();
  EXPECT_EQ(after.global_blocks, 0)
      << (after.problems.empty() ? "" : after.problems.back());
  EXPECT_EQ(after.bad_global_frees, 0);
}

}  // namespace
