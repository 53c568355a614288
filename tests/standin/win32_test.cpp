// The Win32 layer: handle semantics, accounting, failure injection, string
// calls, the window list and the old file calls.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "fixture.h"
#include "sdk/win32.h"

namespace {

using Win32Test = HostTest;

TEST_F(Win32Test, MoveableBlocksRoundTripThroughTheirPointer) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 160);
  ASSERT_NE(h, nullptr);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(static_cast<void*>(p), h) << "a moveable handle is not its address";
  for (int i = 0; i < 160; ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
  EXPECT_EQ(GlobalHandle(p), h);
  EXPECT_EQ(GlobalHandle(p + 1), nullptr) << "only the block's own address finds it";
  EXPECT_EQ(GlobalSize(h), 160u);
  EXPECT_EQ(standin::GetAccounting().global_blocks, 1);
  EXPECT_EQ(standin::GetAccounting().global_bytes, 160);
  EXPECT_FALSE(GlobalUnlock(h)) << "last unlock answers FALSE";
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(standin::GetAccounting().global_blocks, 0);
}

TEST_F(Win32Test, ReallocKeepsContentAndZeroesTheGrowth) {
  HGLOBAL h = GlobalAlloc(GHND, 16);
  auto* p = static_cast<char*>(GlobalLock(h));
  std::memcpy(p, "0123456789abcdef", 16);
  GlobalUnlock(h);
  HGLOBAL h2 = GlobalReAlloc(h, 48, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_EQ(h2, h) << "a moveable block keeps its handle";
  auto* q = static_cast<char*>(GlobalLock(h2));
  EXPECT_EQ(std::string(q, 16), "0123456789abcdef");
  for (int i = 16; i < 48; ++i) EXPECT_EQ(q[i], 0);
  EXPECT_EQ(GlobalHandle(q), h2);
  GlobalUnlock(h2);
  GlobalFree(h2);
}

TEST_F(Win32Test, FixedAndLocalBlocksAreTheirOwnHandles) {
  HGLOBAL f = GlobalAlloc(GMEM_FIXED, 8);
  EXPECT_EQ(GlobalLock(f), f);
  EXPECT_EQ(GlobalHandle(f), f);
  GlobalUnlock(f);
  GlobalFree(f);
  HLOCAL l = LocalAlloc(LPTR, 32);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(static_cast<char*>(l)[31], 0);
  EXPECT_EQ(LocalFree(l), nullptr);
}

TEST_F(Win32Test, DoubleAndUnknownFreesAreRecorded) {
  ExpectFaults();
  HGLOBAL h = GlobalAlloc(GHND, 4);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalFree(h), h) << "a failed free answers the handle";
  int local = 0;
  EXPECT_NE(LocalFree(&local), nullptr);
  standin::Accounting a = standin::GetAccounting();
  EXPECT_EQ(a.bad_global_frees, 2);
  EXPECT_FALSE(a.Clean());
  ASSERT_EQ(a.problems.size(), 2u);
  EXPECT_NE(a.problems[0].find("already freed"), std::string::npos);
  EXPECT_NE(a.problems[1].find("unknown"), std::string::npos);
}

TEST_F(Win32Test, LeakedBlockMakesResetFail) {
  ExpectFaults();
  GlobalAlloc(GHND, 10);
  EXPECT_THROW(standin::Reset(), standin::HostError);
  // Reset wiped the state even though it complained.
  EXPECT_EQ(standin::GetAccounting().global_blocks, 0);
  EXPECT_NO_THROW(standin::Reset());
}

TEST_F(Win32Test, KthAllocationFailsAndOnlyThatOne) {
  for (int k = 1; k <= 4; ++k) {
    standin::FailAllocation(k);
    std::vector<std::pair<HANDLE, bool>> got;  // handle, local
    for (int i = 1; i <= 5; ++i) {
      bool local = i % 2 == 0;
      HANDLE h = local ? LocalAlloc(LPTR, 8) : GlobalAlloc(GHND, 8);
      EXPECT_EQ(h == nullptr, i == k) << "k=" << k << " allocation " << i;
      if (h) got.emplace_back(h, local);
    }
    for (auto [h, local] : got) EXPECT_EQ(local ? LocalFree(h) : GlobalFree(h), nullptr);
    EXPECT_EQ(standin::GetAccounting().global_blocks, 0);
  }
}

TEST_F(Win32Test, StringCalls) {
  char buffer[32] = "Data";
  EXPECT_EQ(lstrlenA(buffer), 4);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  lstrcatA(buffer, " Ref");
  EXPECT_STREQ(buffer, "Data Ref");
  lstrcpyA(buffer, "x");
  EXPECT_STREQ(buffer, "x");

  EXPECT_EQ(CompareStringA(1033, NORM_IGNORECASE, "bosa_sdm_XL", -1, "BOSA_SDM_xl", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(1033, 0, "bosa_sdm_XL", -1, "BOSA_SDM_xl", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(1033, NORM_IGNORECASE, "bosa_sdm_XL9", 11, "bosa_sdm_xl", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(1033, 0, "Data", -1, "Data2", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(1033, 0, "b", 1, "a", 1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(1033, 0, nullptr, -1, "a", 1), 0);
}

TEST_F(Win32Test, WsprintfFormatsLikeWindowsAndStopsAt1024Bytes) {
  char out[2048];
  // Independent formulation: snprintf over the same int-sized arguments.
  char expect[256];
  wsprintfA(out, "%d|%5d|%-4d|%05d|%u|%x|%X|%c|%s|%.2s|%%|%ld", -12, 34, 7, -42, 300u, 255u,
            255u, 'q', "text", "abc", 99);
  std::snprintf(expect, sizeof expect, "%d|%5d|%-4d|%05d|%u|%x|%X|%c|%s|%.2s|%%|%d", -12, 34, 7,
                -42, 300u, 255u, 255u, 'q', "text", "abc", 99);
  EXPECT_STREQ(out, expect);
  std::string big(3000, 'z');
  std::memset(out, 'x', sizeof out);
  int n = wsprintfA(out, "%s", big.c_str());
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(out[1023], '\0');
  EXPECT_EQ(out[1024], 'x') << "nothing written past the bound";
}

struct Search {
  WORD main_low;
  bool found = false;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<Search*>(param);
  char name[51];
  int n = GetClassNameA(window, name, sizeof name);
  if (CompareStringA(1033, NORM_IGNORECASE, name, n > 11 ? 11 : n, "bosa_sdm_XL", -1) == CSTR_EQUAL &&
      (reinterpret_cast<std::uintptr_t>(GetParent(window)) & 0xFFFF) == s->main_low) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

bool DialogOpen() {
  Search s{static_cast<WORD>(reinterpret_cast<std::uintptr_t>(standin::MainWindow()) & 0xFFFF)};
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

TEST_F(Win32Test, WindowListServesADialogSearch) {
  EXPECT_FALSE(DialogOpen());
  HWND other = standin::OpenWindow("SomeFrame", standin::MainWindow());
  HWND stray = standin::OpenDialogWindow(other);
  EXPECT_FALSE(DialogOpen()) << "a dialog under another window does not count";
  HWND dialog = standin::OpenDialogWindow();
  EXPECT_TRUE(DialogOpen());
  char name[8];
  EXPECT_EQ(GetClassNameA(dialog, name, sizeof name), 7) << "truncated to capacity - 1";
  EXPECT_STREQ(name, "bosa_sd");
  EXPECT_EQ(GetParent(dialog), standin::MainWindow());
  standin::CloseWindow(dialog);
  EXPECT_FALSE(DialogOpen());
  standin::CloseWindow(stray);
  standin::CloseWindow(other);
  EXPECT_THROW(standin::CloseWindow(other), standin::HostError);
}

TEST_F(Win32Test, OldFileCallsWriteBytes) {
  std::string path = testing::TempDir() + "/standin_lwrite.bin";
  HFILE f = _lcreat(path.c_str(), 0);
  ASSERT_NE(f, HFILE_ERROR);
  double values[2] = {1.5, -2.25};
  EXPECT_EQ(_lwrite(f, reinterpret_cast<const char*>(values), sizeof values), sizeof values);
  EXPECT_EQ(_lclose(f), 0);
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(bytes.size(), sizeof values);
  double back[2];
  std::memcpy(back, bytes.data(), sizeof back);
  EXPECT_EQ(back[0], 1.5);
  EXPECT_EQ(back[1], -2.25);
  EXPECT_EQ(_lopen("/nonexistent/dir/file", OF_READ), HFILE_ERROR);
  std::remove(path.c_str());
}

}  // namespace
