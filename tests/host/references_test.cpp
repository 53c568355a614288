// Bands of rows, reference copies, the sheet-quoting text step, the dialog
// field the selection is offered in, and the document list.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/command_frame.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "standin/standin.h"

namespace hvt {
namespace {

std::string TextOf(const char* counted) {
  return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
}

// Heights of the bands NextRowChunk walks over a whole reference.
std::vector<long> Bands(long firstRow, long rows, int columns, long limit) {
  RefRecord whole, chunk;
  PrepareRef(whole);
  PrepareRef(chunk);
  whole.table.reftbl[0] = XLREF{static_cast<WORD>(firstRow),
                                static_cast<WORD>(firstRow + rows - 1), 2,
                                static_cast<BYTE>(2 + columns - 1)};
  CopyRef(whole.value, chunk.value);
  std::vector<long> heights;
  long expectedFirst = firstRow;
  for (int guard = 0; guard < 100000; ++guard) {
    NextRowChunk(whole.value, chunk.value, limit);
    const XLREF& band = chunk.table.reftbl[0];
    EXPECT_EQ(band.rwFirst, expectedFirst) << "bands must tile the rows";
    EXPECT_EQ(band.colFirst, 2);
    EXPECT_EQ(band.colLast, 2 + columns - 1);
    heights.push_back(long{band.rwLast} - band.rwFirst + 1);
    expectedFirst = long{band.rwLast} + 1;
    if (band.rwLast == whole.table.reftbl[0].rwLast) break;
  }
  return heights;
}

TEST(RowChunks, BandsOfAtMostTheCellLimit) {
  EXPECT_EQ(Bands(0, 12000, 1, kChunkCells), (std::vector<long>{5400, 5400, 1200}));
  EXPECT_EQ(Bands(0, 4000, 3, kChunkCells), (std::vector<long>{1800, 1800, 400}));
  EXPECT_EQ(Bands(0, 5400, 1, kChunkCells), (std::vector<long>{5400}));
  EXPECT_EQ(Bands(7, 1800, 3, kChunkCells), (std::vector<long>{1800}));
  // The last row of the sheet: no wrap-around of the 16-bit rows.
  EXPECT_EQ(Bands(0, 65536, 1, kChunkCells).size(), 13u);
  EXPECT_EQ(Bands(0, 65536, 1, kChunkCells).back(), 65536 - 12 * 5400);
}

TEST(RowChunks, EveryShapeIsCoveredOnceWithinTheLimit) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    long first = std::uniform_int_distribution<long>(0, 30000)(random);
    long rows = std::uniform_int_distribution<long>(1, 65536 - first)(random);
    int columns = std::uniform_int_distribution<int>(1, 40)(random);
    long limit = std::uniform_int_distribution<long>(1, 6000)(random);
    std::vector<long> heights = Bands(first, rows, columns, limit);
    long total = 0;
    for (long h : heights) total += h;
    ASSERT_EQ(total, rows);
    if (rows * columns <= limit) {
      ASSERT_EQ(heights.size(), 1u);
      continue;
    }
    // Wider than the limit: one row per band rather than none.
    long perBand = std::max(1L, limit / columns);
    ASSERT_EQ(static_cast<long>(heights.size()), (rows + perBand - 1) / perBand);
    for (std::size_t i = 0; i + 1 < heights.size(); ++i) ASSERT_EQ(heights[i], perBand);
  }
}

TEST(ReferenceCopy, CopiesTheAreaIntoTheTargetsOwnStorage) {
  XLMREF sourceTable{2, {{4, 9, 1, 3}}};
  XLOPER source{};
  source.xltype = xltypeRef | xlbitXLFree;
  source.val.mref.lpmref = &sourceTable;
  source.val.mref.idSheet = 77;
  RefRecord target;
  PrepareRef(target);
  CopyRef(source, target.value);
  EXPECT_EQ(target.value.xltype, xltypeRef);
  EXPECT_EQ(target.value.val.mref.lpmref, &target.table);
  EXPECT_EQ(target.value.val.mref.idSheet, 77u);
  EXPECT_EQ(target.table.count, 2);
  EXPECT_EQ(target.table.reftbl[0].rwFirst, 4);
  EXPECT_EQ(target.table.reftbl[0].rwLast, 9);
  EXPECT_EQ(target.table.reftbl[0].colFirst, 1);
  EXPECT_EQ(target.table.reftbl[0].colLast, 3);

  // Not a reference, or a reference without areas: the target stays.
  XLOPER number{};
  number.xltype = xltypeNum;
  CopyRef(number, target.value);
  XLOPER empty{};
  empty.xltype = xltypeRef;
  CopyRef(empty, target.value);
  EXPECT_EQ(target.value.val.mref.idSheet, 77u);
  EXPECT_EQ(target.table.reftbl[0].rwLast, 9);
}

std::string Quoted(const std::string& typed) {
  char text[258];
  text[0] = static_cast<char>(typed.size());
  std::memcpy(text + 1, typed.data(), typed.size());
  std::vector<char> work(typed.size() + 4, '\x7f');
  if (!QuoteSheetText(text, work.data(), work.size())) return "<refused>";
  EXPECT_EQ(std::strlen(work.data() + 1), static_cast<unsigned char>(work[0]));
  return TextOf(work.data());
}

TEST(SheetQuoting, QuotesTheSheetPartOnce) {
  EXPECT_EQ(Quoted("[BOOK1.XLS]My Data!A1:A10"), "'[BOOK1.XLS]My Data'!A1:A10");
  EXPECT_EQ(Quoted("[BOOK1.XLS]'My Data'!A1:A10"), "'[BOOK1.XLS]My Data'!A1:A10");
  EXPECT_EQ(Quoted("My Data!A1"), "'My Data'!A1");
  EXPECT_EQ(Quoted("A1:A10"), "'A1:A10");
  EXPECT_EQ(Quoted("'My Data'!A1"), "'My Data'!A1");
  EXPECT_EQ(Quoted(""), "'");
  EXPECT_EQ(Quoted("!A1"), "'!A1");
}

TEST(SheetQuoting, NeverWritesPastItsBufferOrAFullCountedString) {
  // Two quotes added to 254 characters make 256: too long for a counted
  // string, so the text is refused rather than cut.
  EXPECT_EQ(Quoted(std::string(250, 'S') + "!A1A"), "<refused>");
  std::string fits = std::string(249, 'S') + "!A1A";  // 253 + 2 = 255
  EXPECT_EQ(Quoted(fits), "'" + std::string(249, 'S') + "'!A1A");
  char text[] = "\x05" "Sh!A1";
  char small[8];
  EXPECT_FALSE(QuoteSheetText(text, small, sizeof(small)));
}

class SelectionField : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    PrepareRef(g_savedSelection);
    PrepareDialogRows(table_, 3);
    ASSERT_TRUE(BuildDialogArray(table_, 3, array_));
  }
  void TearDown() override {
    FreeDialogArray(array_);
    standin::Accounting accounting = standin::GetAccounting();
    EXPECT_TRUE(accounting.Clean())
        << (accounting.problems.empty() ? "leak" : accounting.problems.front());
    standin::ResetQuietly();
  }
  void SelectOneCell(DWORD sheet) {
    g_savedSelection.value.val.mref.idSheet = sheet;
    g_savedSelection.table.count = 1;
    g_savedSelection.table.reftbl[0] = XLREF{0, 0, 0, 0};
    g_savedAreaCount = 1;
  }
  // A host-filled array kept as a tool keeps a dialog's answer.
  XLOPER RememberedArray() {
    standin::SheetId sheet = standin::NewWorkbook("Answers.xls");
    for (int c = 0; c < 7; ++c) standin::SetCell(sheet, 0, c, std::string("x"));
    XLMREF table{1, {{0, 0, 0, 6}}};
    XLOPER range{};
    range.xltype = xltypeRef;
    range.val.mref.lpmref = &table;
    range.val.mref.idSheet = sheet;
    XLOPER type{};
    type.xltype = xltypeInt;
    type.val.w = xltypeMulti;
    XLOPER answer{};
    EXPECT_EQ(Excel4(xlCoerce, &answer, 2, &range, &type), xlretSuccess);
    XLOPER kept{};
    EXPECT_EQ(TakeDialogAnswer(answer, kept), TakenAnswer::kArray);
    return kept;
  }

  DialogRow table_[3] = {
      {{" ", " ", " ", " 320", " 226", " Box", " 2"}},
      {{" 5", " 15", " 12", " ", " ", " &Data: ", " "}},
      {{" 10", " 15", " 27", " 292", " ", " ", " "}},
  };
  XLOPER array_{};
};

TEST_F(SelectionField, SingleCellKeepsOrDropsTheRememberedAnswerBySheet) {
  XLOPER remembered{};  // before the first command
  g_lastSheet = 0;
  SelectOneCell(5);
  EXPECT_EQ(PrefillReferenceField(array_, 20, 4, remembered), 0);
  EXPECT_EQ(remembered.xltype, xltypeBool);
  EXPECT_EQ(PrefillReferenceField(array_, 20, 4, remembered), 0);
  EXPECT_EQ(remembered.xltype, xltypeBool);

  // Same sheet as last time: the answer stays and its focus moves.
  remembered = RememberedArray();
  ASSERT_EQ(remembered.xltype, xltypeMulti);
  EXPECT_EQ(PrefillReferenceField(array_, 20, 4, remembered), 0);
  ASSERT_EQ(remembered.xltype, xltypeMulti);
  EXPECT_EQ(remembered.val.array.lparray[6].xltype, xltypeNum);
  EXPECT_EQ(remembered.val.array.lparray[6].val.num, 4);

  // Another sheet: the answer is released and the mark left.
  SelectOneCell(6);
  EXPECT_EQ(PrefillReferenceField(array_, 20, 4, remembered), 0);
  EXPECT_EQ(remembered.xltype, xltypeBool);
  EXPECT_EQ(g_lastSheet, 6u);
  // The table itself is untouched by single-cell selections.
  EXPECT_EQ(array_.val.array.lparray[6].val.str, table_[0].text[kItemValue]);
  EXPECT_EQ(array_.val.array.lparray[20].xltype, xltypeNil);
}

TEST_F(SelectionField, RestorePutsTheStaticTableBack) {
  array_.val.array.lparray[6].xltype = xltypeNum;
  array_.val.array.lparray[6].val.num = 4;
  static char offered[] = "\x03R1C";
  array_.val.array.lparray[20].xltype = xltypeStr;
  array_.val.array.lparray[20].val.str = offered;
  RestoreReferenceField(array_, 20, table_[0].text[kItemValue],
                        table_[2].text[kItemValue]);
  EXPECT_EQ(array_.val.array.lparray[6].xltype, xltypeStr);
  EXPECT_EQ(array_.val.array.lparray[6].val.str, table_[0].text[kItemValue]);
  EXPECT_EQ(array_.val.array.lparray[20].xltype, xltypeNil);

  RestoreReferenceField(array_, 20, table_[0].text[kItemValue],
                        table_[1].text[kItemText]);
  EXPECT_EQ(array_.val.array.lparray[20].val.str, table_[1].text[kItemText]);
  // An element past the array is ignored, not written.
  RestoreReferenceField(array_, 21, table_[0].text[kItemValue],
                        table_[1].text[kItemText]);
}

// The host's dialog answer becomes the add-in's own: its cells may change
// (focus, cleared fields) and the host gets its array back untouched.
TEST_F(SelectionField, AnAnswerIsKeptAsACopyAndTheHostsGoesBackUnchanged) {
  XLOPER kept = RememberedArray();
  ASSERT_EQ(kept.xltype, xltypeMulti);
  ASSERT_EQ(kept.val.array.columns, 7);
  for (int c = 0; c < 7; ++c) {
    ASSERT_EQ(kept.val.array.lparray[c].xltype, xltypeStr);
    EXPECT_EQ(TextOf(kept.val.array.lparray[c].val.str), "x");
  }
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 0) << "the host's array went back";
  kept.val.array.lparray[6].xltype = xltypeNum;  // the tools' own to change
  kept.val.array.lparray[6].val.num = 4;
  ForgetDialogAnswer(kept);
  EXPECT_EQ(kept.xltype, xltypeBool);

  // No memory for the copy: the host's answer still goes back, and what was
  // remembered stays.
  standin::SheetId sheet = standin::NewWorkbook("More.xls");
  standin::SetCell(sheet, 0, 0, std::string("y"));
  XLMREF table{1, {{0, 0, 0, 6}}};
  XLOPER range = AreaRef(table, sheet, table.reftbl[0]);
  XLOPER answer{};
  ASSERT_EQ(Excel4(xlCoerce, &answer, 2, &range, TempInteger(xltypeMulti)), xlretSuccess);
  standin::FailAllocation(1);
  EXPECT_EQ(TakeDialogAnswer(answer, kept), TakenAnswer::kNoMemory);
  standin::FailAllocation(0);
  EXPECT_EQ(kept.xltype, xltypeBool);
  // A cancelled dialog (FALSE) leaves nothing remembered either.
  XLOPER cancelled{};
  cancelled.xltype = xltypeBool;
  EXPECT_EQ(TakeDialogAnswer(cancelled, kept), TakenAnswer::kNone);
  EXPECT_EQ(kept.xltype, xltypeBool);
}

// The selection is offered in R1C1 text; a person types A1, or R1C1 when
// the workspace shows it. Excel's TEXTREF reads one notation per call.
TEST_F(SelectionField, OfferedAndTypedTextsResolveInTheirOwnNotation) {
  standin::SheetId sheet = standin::NewWorkbook("Book1.xls", "Data");
  g_savedSelection.value.val.mref.idSheet = sheet;
  g_savedSelection.table.count = 1;
  g_savedSelection.table.reftbl[0] = XLREF{0, 65535, 2, 2};  // column C
  g_savedAreaCount = 1;
  XLOPER remembered{};
  ASSERT_EQ(PrefillReferenceField(array_, 20, 4, remembered), 1);
  XLOPER offered = array_.val.array.lparray[20];
  ASSERT_EQ(offered.xltype, xltypeStr);
  XLOPER found{};
  ASSERT_TRUE(TextToReference(found, &offered)) << TextOf(offered.val.str);
  ASSERT_EQ(BaseType(found), xltypeRef) << TextOf(offered.val.str);
  EXPECT_EQ(found.val.mref.idSheet, sheet);
  EXPECT_EQ(found.val.mref.lpmref->reftbl[0].rwFirst, 0);
  EXPECT_EQ(found.val.mref.lpmref->reftbl[0].rwLast, 65535);
  EXPECT_EQ(found.val.mref.lpmref->reftbl[0].colFirst, 2);
  ReleaseHostValue(found);

  auto resolve = [&](const char* counted, XLREF& area) {
    XLOPER typed{};
    typed.xltype = xltypeStr;
    typed.val.str = const_cast<char*>(counted);
    XLOPER answer{};
    if (!TextToReference(answer, &typed)) return WORD{0};
    WORD type = BaseType(answer);
    if (type == xltypeSRef) area = answer.val.sref.ref;
    if (type == xltypeRef) area = answer.val.mref.lpmref->reftbl[0];
    ReleaseHostValue(answer);
    return type;
  };
  XLREF area{};
  EXPECT_EQ(resolve("\x02" "C3", area), xltypeSRef);
  EXPECT_EQ(area.rwFirst, 2) << "typed: the cell C3";
  EXPECT_EQ(area.rwLast, 2);
  EXPECT_EQ(resolve("\x0e" "Data!R2C1:R9C1", area), xltypeRef) << "R1C1 typed in A1";
  EXPECT_EQ(area.rwFirst, 1);
  EXPECT_EQ(area.rwLast, 8);
  EXPECT_EQ(resolve("\x0b" "Data!A2:A9x", area), xltypeErr);
  standin::SetR1C1(true);
  EXPECT_EQ(resolve("\x02" "C3", area), xltypeSRef);
  EXPECT_EQ(area.rwLast, 65535) << "typed in R1C1: column 3";
  EXPECT_EQ(resolve("\x0a" "Data!A2:A9", area), xltypeRef) << "A1 typed in R1C1";
  EXPECT_EQ(area.rwLast, 8);
  RestoreReferenceField(array_, 20, table_[0].text[kItemValue], table_[2].text[kItemValue]);
  ForgetDialogAnswer(remembered);
}

class Documents : public SelectionField {};

TEST_F(Documents, ListGrowsByTenAndKeepsEveryName) {
  DocumentList list;
  std::vector<std::string> names;
  for (int i = 0; i < 25; ++i) {
    names.push_back("BOOK" + std::to_string(i) + ".CSV");
    std::string counted = static_cast<char>(names.back().size()) + names.back();
    ASSERT_TRUE(AppendDocument(list, counted.c_str()));
    EXPECT_EQ(list.capacity, (list.count + 9) / 10 * 10);
  }
  ASSERT_EQ(list.count, 25u);
  for (std::size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(list.names[i].xltype, xltypeStr);
    EXPECT_EQ(TextOf(list.names[i].val.str), names[i]);
  }
  // The end mark and the rest of the room are all zero.
  for (std::size_t i = 25; i <= list.capacity; ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&list.names[i]);
    for (std::size_t b = 0; b < sizeof(XLOPER); ++b) ASSERT_EQ(bytes[b], 0);
  }
  FreeDocumentList(list);
  EXPECT_EQ(list.names, nullptr);
  EXPECT_EQ(standin::GetAccounting().global_blocks, 1);  // the dialog array
}

TEST_F(Documents, MemoryRunningOutLeavesTheListAsItWas) {
  DocumentList list;
  char name[] = "\x08" "DATA.CSV";
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(AppendDocument(list, name));
  standin::FailAllocation(1);  // growing the list
  EXPECT_FALSE(AppendDocument(list, name));
  EXPECT_EQ(list.count, 10u);
  standin::FailAllocation(2);  // the name's copy, after the list grew
  EXPECT_FALSE(AppendDocument(list, name));
  EXPECT_EQ(list.count, 10u);
  EXPECT_EQ(list.names[10].xltype, 0);
  ASSERT_TRUE(AppendDocument(list, name));
  EXPECT_EQ(list.count, 11u);
  FreeDocumentList(list);
}

}  // namespace
}  // namespace hvt
