// Progress arithmetic and text, the protected-workbook message and dialog
// arrays built from tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "standin/standin.h"
#include "tests/counted_text.h"

namespace hvt {
namespace {

TEST(Progress, RoundsHalfUpInIntegerArithmetic) {
  EXPECT_EQ(ProgressPercent(1, 3), 34);    // remainder 1 >= 3 / 2 = 1
  EXPECT_EQ(ProgressPercent(1, 2), 50);
  EXPECT_EQ(ProgressPercent(1, 200), 1);   // remainder 100 >= 100
  EXPECT_EQ(ProgressPercent(2, 3), 67);
  EXPECT_EQ(ProgressPercent(0, 7), 0);
}

TEST(Progress, AgreesWithExactQuotientOnEveryFraction) {
  // Against the exact quotient: the shown value is within one of it, never
  // passes 100, never goes down as done grows, and is exact for exact
  // quotients — a total of 1 included.
  for (long long total = 1; total <= 400; ++total) {
    int previous = 0;
    for (long long done = 0; done <= total; ++done) {
      int shown = ProgressPercent(done, total);
      long double exact = 100.0L * done / total;
      ASSERT_LE(std::fabs(shown - exact), 1.0L) << done << "/" << total;
      ASSERT_LE(shown, 100) << done << "/" << total;
      ASSERT_GE(shown, previous) << done << "/" << total;
      if ((done * 100) % total == 0) {
        ASSERT_EQ(shown, done * 100 / total) << done << "/" << total;
      }
      // Rounding up happens only at or past the half of the remainder.
      if (shown > exact) {
        ASSERT_GE(static_cast<long double>(shown) - exact, 0.0L);
        ASSERT_GE((done * 100) % total, total / 2);
      }
      previous = shown;
    }
  }
}

TEST(Progress, BadTotalsDoNotDivide) {
  EXPECT_EQ(ProgressPercent(5, 0), 0);
  EXPECT_EQ(ProgressPercent(5, -3), 0);
  // Long runs do not overflow the scaled count.
  EXPECT_EQ(ProgressPercent(3'000'000'000LL, 6'000'000'000LL), 50);
}

TEST(Progress, BothTextFormsReadTheSame) {
  char shortForm[64];
  char longForm[64];
  for (int percent : {0, 1, 9, 10, 34, 99, 100}) {
    FormatProgress(percent, ProgressText::kInt, shortForm, sizeof(shortForm));
    FormatProgress(percent, ProgressText::kLong, longForm, sizeof(longForm));
    EXPECT_EQ(CountedText(shortForm), CountedText(longForm)) << percent;
    EXPECT_EQ(static_cast<std::size_t>(shortForm[0]), std::strlen(shortForm + 1));
  }
  FormatProgress(34, ProgressText::kInt, shortForm, sizeof(shortForm));
  EXPECT_EQ(CountedText(shortForm), "34% Finished");
  FormatProgress(5, ProgressText::kInt, shortForm, sizeof(shortForm));
  EXPECT_EQ(CountedText(shortForm), " 5% Finished");  // width 2
  FormatProgress(100, ProgressText::kInt, shortForm, sizeof(shortForm));
  EXPECT_EQ(CountedText(shortForm), "100% Finished");
  // Nothing done yet still shows its digit.
  FormatProgress(0, ProgressText::kInt, shortForm, sizeof(shortForm));
  EXPECT_EQ(CountedText(shortForm), " 0% Finished");
  FormatProgress(0, ProgressText::kLong, longForm, sizeof(longForm));
  EXPECT_EQ(CountedText(longForm), " 0% Finished");
}

TEST(Progress, SmallBufferIsCutNotOverrun) {
  char tiny[6];
  std::memset(tiny, 'x', sizeof(tiny));
  FormatProgress(42, ProgressText::kInt, tiny, sizeof(tiny));
  EXPECT_EQ(CountedText(tiny), "42% ");
}

TEST(ProtectedWorkbookMessage, NameSitsBetweenTheTwoSentences) {
  char name[] = "\x08" "DATA.CSV";
  char buffer[kSharedMessageSize];
  BuildProtectedWorkbookMessage(name, buffer, sizeof(buffer));
  std::string expected = std::string("As long as you are not using ") +
                         "DATA.CSV" +
                         " with this macro, you may Continue. Otherwise, "
                         "please Abort and unprotect the workbook.";
  EXPECT_EQ(CountedText(buffer), expected);
  EXPECT_EQ(buffer[1 + expected.size()], '\0');
}

TEST(ProtectedWorkbookMessage, LongNameStaysWithinOneCountedString) {
  char name[256];
  name[0] = static_cast<char>(255);
  std::memset(name + 1, 'N', 255);
  char buffer[kSharedMessageSize];
  BuildProtectedWorkbookMessage(name, buffer, sizeof(buffer));
  std::string text = CountedText(buffer);
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(std::strlen(buffer + 1), 255u);
  EXPECT_EQ(text.rfind("As long as you are not using NNN", 0), 0u);

  // A buffer smaller than the message is never written past.
  char small[40];
  BuildProtectedWorkbookMessage(name, small, sizeof(small));
  EXPECT_EQ(std::strlen(small + 1), sizeof(small) - 2);
  EXPECT_EQ(static_cast<unsigned char>(small[0]), sizeof(small) - 2);
}

class DialogArrays : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override {
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "leak" : accounting.problems.front());
    standin::ResetQuietly();
  }
};

TEST_F(DialogArrays, StringCellsPointAtTheTableAndEmptyOnesAreNil) {
  DialogRow table[] = {
      {{" ", " ", " ", " 320", " 226", " Adaptive MA", " 2"}},
      {{" 5", " 15", " 12", " ", " ", " &Data Reference: ", " "}},
      {{" 10", " 15", " 27", " 292", " ", " ", " "}},
  };
  PrepareDialogRows(table, 3);
  XLOPER array{};
  ASSERT_TRUE(BuildDialogArray(table, 3, array));
  EXPECT_EQ(array.xltype, xltypeMulti);
  EXPECT_EQ(array.val.array.rows, 3);
  EXPECT_EQ(array.val.array.columns, 7);
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < kDialogColumns; ++c) {
      const XLOPER& cell = array.val.array.lparray[DialogCell(r, c)];
      if (table[r].text[c][0] == 0) {
        EXPECT_EQ(cell.xltype, xltypeNil) << r << "," << c;
      } else {
        EXPECT_EQ(cell.xltype, xltypeStr) << r << "," << c;
        EXPECT_EQ(cell.val.str, table[r].text[c]) << "not copied";
      }
    }
  }
  EXPECT_EQ(CountedText(array.val.array.lparray[DialogCell(1, kItemText)].val.str),
            "&Data Reference: ");
  EXPECT_EQ(CountedText(array.val.array.lparray[DialogCell(0, kItemValue)].val.str), "2");

  // The cells are sized by the value record, not by a fixed 16 bytes.
  HGLOBAL handle = GlobalHandle(array.val.array.lparray);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(GlobalSize(handle), 3 * 7 * sizeof(XLOPER));

  EXPECT_EQ(DialogArrayCell(array, 20), &array.val.array.lparray[20]);
  EXPECT_EQ(DialogArrayCell(array, 21), nullptr);
  FreeDialogArray(array);
  EXPECT_EQ(array.val.array.lparray, nullptr);
  EXPECT_EQ(DialogArrayCell(array, 0), nullptr);
  FreeDialogArray(array);  // harmless twice
}

TEST_F(DialogArrays, RebuildKeepsOneBlockAndFailedAllocationLeavesNoCells) {
  DialogRow table[] = {{{" ", " ", " ", " 1", " 2", " T", " 1"}}};
  PrepareDialogRows(table, 1);
  XLOPER array{};
  SetDialogArrayShape(array, 1);
  ASSERT_TRUE(BuildDialogArray(table, 1, array));
  XLOPER* first = array.val.array.lparray;
  ASSERT_TRUE(BuildDialogArray(table, 1, array));
  EXPECT_EQ(array.val.array.lparray, first);
  EXPECT_EQ(standin::GetAccounting().global_blocks, 1);
  FreeDialogArray(array);

  standin::FailAllocation(1);
  EXPECT_FALSE(BuildDialogArray(table, 1, array));
  EXPECT_EQ(array.val.array.lparray, nullptr);
  EXPECT_EQ(array.val.array.rows, 1);
}

TEST_F(DialogArrays, AlertBoxWithoutMemoryLeavesTheFocusAlone) {
  g_menuBar = 1;
  double focus = 7;
  standin::FailAllocation(1);
  char message[] = " Your input reference is missing or incorrect!";
  EXPECT_EQ(ShowAlertDialog(message, 2, &focus), 0);
  EXPECT_EQ(focus, 7);
  standin::ClearLog();  // the alert itself is not answered here
  g_menuBar = 0;
}

}  // namespace
}  // namespace hvt
