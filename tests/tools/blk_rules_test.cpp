// The BLK command's rules that need no host: overlap of output and data,
// the sample dialog's dimming and preselection, formula and message texts.
#include <gtest/gtest.h>

#include <string>

#include "tools/blk/blk.h"

namespace hvt::blk {
namespace {

TEST(BlkOverlap, AgreesWithAColumnByColumnSearch) {
  // Brute force: any column in both ranges.
  for (long of = 0; of < 12; ++of) {
    for (long ol = of; ol < 12; ++ol) {
      for (long df = 0; df < 12; ++df) {
        for (long dl = df; dl < 12; ++dl) {
          bool shared = false;
          for (long c = of; c <= ol; ++c) shared = shared || (c >= df && c <= dl);
          ASSERT_EQ(OutputOverlapsInput(of, ol, df, dl), shared)
              << of << ".." << ol << " vs " << df << ".." << dl;
        }
      }
    }
  }
}

TEST(BlkSampleOptions, DimsBelowTheDetrendingMinimum) {
  EXPECT_EQ(ChooseSampleOptions(false, 1, 0).preselected, 6);
  EXPECT_EQ(ChooseSampleOptions(false, 1, 0).dimmed, 0);
  EXPECT_EQ(ChooseSampleOptions(false, 2, 3).preselected, 3);
  EXPECT_EQ(ChooseSampleOptions(true, 2, 0).dimmed, 9);
  EXPECT_EQ(ChooseSampleOptions(true, 1, 0).dimmed, 11);
  for (int previous = 0; previous <= 20; ++previous) {
    for (int norm = 1; norm <= 2; ++norm) {
      SampleChoice c = ChooseSampleOptions(true, norm, previous);
      // The preselected option is never a dimmed one and keeps a valid
      // earlier choice.
      EXPECT_GT(c.preselected, c.dimmed);
      EXPECT_LE(c.preselected, 18);
      if (previous > c.dimmed + 1 && previous <= 18) {
        EXPECT_EQ(c.preselected, previous);
      }
    }
  }
}

TEST(BlkFormula, TextsForEachKind) {
  EXPECT_EQ(BlockFormula(FormulaKind::kStandard, 3, "R97C1", ""), "=R97C1");
  EXPECT_EQ(BlockFormula(FormulaKind::kStandard, 7, "R92C1:R94C1", ""),
            "=AVERAGE(R92C1:R94C1)");
  EXPECT_EQ(BlockFormula(FormulaKind::kDetrended, 0, "R101C1", "R71C1:R101C1"),
            "=(R101C1-AVERAGE(R71C1:R101C1))");
  EXPECT_EQ(BlockFormula(FormulaKind::kNormalized, 48, "B", "T"),
            "=(AVERAGE(B)-AVERAGE(T))/(AVERAGE(ABS(T-AVERAGE(T)))+1E-300)");
}

TEST(BlkFormula, SheetPartDroppedAfterTheLastBang) {
  EXPECT_EQ(ReferencePart("[Book1.xls]Data!R1C1", true), "R1C1");
  EXPECT_EQ(ReferencePart("'[B.xls]Odd!Name'!R2C3:R4C3", true), "R2C3:R4C3");
  EXPECT_EQ(ReferencePart("[Book1.xls]Data!R1C1", false), "[Book1.xls]Data!R1C1");
  EXPECT_EQ(ReferencePart("R5C2", true), "R5C2");
}

TEST(BlkWarning, ReadsAsOneSentence) {
  EXPECT_EQ(OverwriteMessage("$D$1:$I$101", 3),
            "The range $D$1:$I$101 will be overwritten. The first 3 rows of your "
            "output will be blank. \"OK\" continues. \"CANCEL\" aborts.");
}

}  // namespace
}  // namespace hvt::blk
