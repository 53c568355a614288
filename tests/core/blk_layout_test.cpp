// BLK layout rules: the sample table, settings limits, column counts, output
// order and title suffixes.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tools/blk/core/blk.h"

namespace hvt::blk {
namespace {

// The sample dialog's option texts, as the user sees them: a second,
// independent copy of table entries 1 .. 18.
const char* const kOptionTexts[] = {
    "n=1,    M=0",  "n=2,    M=0",  "n=3,    M=0",  "n=4,    M=0",
    "n=5,    M=0",  "n=7,    M=2",  "n=10,  M=2",   "n=14,  M=4",
    "n=19,  M=4",   "n=26,  M=8",   "n=35,  M=8",   "n=48,  M=16",
    "n=65,  M=16",  "n=90,  M=32",  "n=123, M=32",  "n=172, M=64",
    "n=237, M=64",  "n=334, M=128"};

TEST(BlkTable, MatchesDialogOptionsAndKeepsWindowsInsideTheData) {
  EXPECT_EQ(BlkSampleTable[0].n, 0);
  EXPECT_EQ(BlkSampleTable[0].m, 0);
  for (int k = 1; k <= kBlkMaxIndex; ++k) {
    int n = -1, m = -1;
    ASSERT_EQ(std::sscanf(kOptionTexts[k - 1], "n=%d, M=%d", &n, &m), 2);
    EXPECT_EQ(BlkSampleTable[k].n, n) << k;
    EXPECT_EQ(BlkSampleTable[k].m, m) << k;
    EXPECT_EQ(m % 2, 0);
    EXPECT_GE(n, BlkSampleTable[k - 1].n);
    EXPECT_GE(m, BlkSampleTable[k - 1].m);
  }
  for (int a = 1; a <= kBlkMaxIndex; ++a) {
    const int u = BlkBlankRows(a);
    EXPECT_EQ(u, BlkSampleTable[a].n + BlkSampleTable[a].m / 2);
    EXPECT_EQ(BlkMinDataRows(a), u + 2);
    for (int k = 0; k <= a; ++k) {
      EXPECT_LE(BlkSampleTable[k].n + BlkSampleTable[k].m / 2, u);
    }
  }
  EXPECT_EQ(BlkBlankRows(1), 1);
  EXPECT_EQ(BlkBlankRows(6), 8);
  EXPECT_EQ(BlkBlankRows(10), 30);
  EXPECT_EQ(BlkBlankRows(18), 398);
  EXPECT_EQ(BlkMinDataRows(18), 400);
  EXPECT_EQ(BlkBlankRows(0), -1);
  EXPECT_EQ(BlkBlankRows(19), -1);
}

TEST(BlkSettings, EveryCombinationAgainstTheLimits) {
  for (int a = -1; a <= 20; ++a) {
    for (int method = 0; method <= 4; ++method) {
      for (int norm = 0; norm <= 3; ++norm) {
        const bool detrend = method == 2 || method == 3;
        BlkSettingsFault want = BlkSettingsFault::kNone;
        if (method < 1 || method > 3) {
          want = BlkSettingsFault::kBadMethod;
        } else if (detrend && norm != 1 && norm != 2) {
          want = BlkSettingsFault::kBadNormalization;
        } else if (a < 1 || a > 18) {
          want = BlkSettingsFault::kBadIndex;
        } else if (detrend && a < (norm == 1 ? 12 : 10)) {
          want = BlkSettingsFault::kIndexTooSmall;
        }
        EXPECT_EQ(BlkCheckSettings({a, method, norm}), want)
            << a << " " << method << " " << norm;
        if (want != BlkSettingsFault::kNone) {
          EXPECT_TRUE(BlkOutputPlan(2, {a, method, norm}).empty());
        }
      }
    }
  }
}

TEST(BlkLayout, CountsAndOrderForEveryIndexAndMethod) {
  for (int a = 1; a <= kBlkMaxIndex; ++a) {
    for (int method = 1; method <= 3; ++method) {
      const int want = method == 1 ? a : method == 2 ? 2 * a + 1 : a + 1;
      EXPECT_EQ(BlkColumnsPerDataColumn(a, method), want);
      EXPECT_EQ(BlkTotalColumns(3, a, method), 3 * want);
      if (BlkCheckSettings({a, method, 2}) != BlkSettingsFault::kNone) continue;
      const auto plan = BlkOutputPlan(3, {a, method, 2});
      ASSERT_EQ(static_cast<int>(plan.size()), 3 * want);
      // Walk the expected order independently: column, standard 1..a,
      // detrended 0..a.
      std::size_t p = 0;
      for (int c = 0; c < 3; ++c) {
        for (int pass = 0; pass < 2; ++pass) {
          const bool detrended = pass == 1;
          if (detrended ? method == 1 : method == 3) continue;
          for (int k = detrended ? 0 : 1; k <= a; ++k, ++p) {
            EXPECT_EQ(plan[p].dataColumn, c);
            EXPECT_EQ(plan[p].entry, k);
            EXPECT_EQ(plan[p].detrended, detrended);
            EXPECT_EQ(plan[p].n, BlkSampleTable[k].n);
            EXPECT_EQ(plan[p].m, BlkSampleTable[k].m);
          }
        }
      }
    }
  }
  EXPECT_EQ(BlkTotalColumns(2, 10, 3), 22);
  EXPECT_EQ(BlkTotalColumns(3, 12, 2), 75);
  EXPECT_EQ(BlkTotalColumns(2, 6, 2), 26);  // 250 + 26 - 1 = 275 > 255
  EXPECT_EQ(BlkColumnsPerDataColumn(0, 1), 0);
  EXPECT_EQ(BlkColumnsPerDataColumn(5, 4), 0);
  EXPECT_EQ(BlkTotalColumns(0, 5, 1), 0);
}

TEST(BlkLayout, TitleSuffixes) {
  auto suffixes = [](int a, int method, int norm) {
    std::string all;
    for (const auto& layout : BlkOutputPlan(1, {a, method, norm})) {
      all += layout.suffix;
    }
    return all;
  };
  EXPECT_EQ(suffixes(3, 1, 2), "_1_2_3");
  EXPECT_EQ(suffixes(10, 3, 2), "_D0_D1_D2_D3_D4_D5_D7_D10_D14_D19_D26");
  EXPECT_EQ(suffixes(12, 3, 1),
            "_ND0_ND1_ND2_ND3_ND4_ND5_ND7_ND10_ND14_ND19_ND26_ND35_ND48");
  const auto both = BlkOutputPlan(2, {10, 2, 2});
  ASSERT_EQ(both.size(), 42u);
  EXPECT_EQ(both[9].suffix, "_26");
  EXPECT_EQ(both[10].suffix, "_D0");
  EXPECT_EQ(both[21].suffix, "_1");
  EXPECT_EQ(both[21].dataColumn, 1);
  // Normalization means nothing without detrending.
  EXPECT_EQ(suffixes(2, 1, 0), "_1_2");
}

}  // namespace
}  // namespace hvt::blk
