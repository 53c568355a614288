// Bands of rows, reference copies, the sheet-quoting text step, the dialog
// field the selection is offered in, and the document list.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/references.h"
#include "host/tool_tables.h"
#include "standin/standin.h"
#include "tests/counted_text.h"

namespace hvt {
namespace {

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
  return CountedText(work.data());
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
    g_hostVersion = 0;
    g_maxRows = 0;
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
    EXPECT_EQ(CountedText(kept.val.array.lparray[c].val.str), "x");
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

// "Excel 2007 ... data types": an XLOPER12 text holds up to 32,767
// characters, so a dialog on a 12-series host can answer an entry that the
// add-in's copy (a counted text of at most 255 bytes, UTF-8) cannot hold.
// Such an answer is refused with a message, what was remembered stays; an
// entry of 254 bytes in UTF-8 (127 Cyrillic letters) is kept whole.
TEST_F(SelectionField, AnOverlongEntryOnATwelveSeriesHostIsRefusedNotEmptied) {
  standin::SetHostVersion("16.0");
  ReadHostVersion();
  XLOPER remembered = RememberedArray();
  ASSERT_EQ(remembered.xltype, xltypeMulti);
  const XLOPER* before = remembered.val.array.lparray;
  DialogRow rows[3] = {
      {{" ", " ", " ", " 320", " 120", " Box", " "}},
      {{" 1", " 10", " 80", " 80", " ", " OK", " "}},
      {{" 6", " 10", " 20", " 292", " ", " ", " "}},
  };
  PrepareDialogRows(rows, 3);
  XLOPER dialog{};
  ASSERT_TRUE(BuildDialogArray(rows, 3, dialog));
  std::string letters;
  for (int i = 0; i < 128; ++i) letters += "ж";  // 256 bytes in UTF-8
  standin::QueueDialog(standin::DialogReply{false, {{2, standin::Value{letters}}}, 1});
  int code = -1;
  EXPECT_EQ(ShowDialog(dialog, remembered, code), TakenAnswer::kNone);
  EXPECT_EQ(code, xlretSuccess);
  ASSERT_EQ(remembered.xltype, xltypeMulti);
  EXPECT_EQ(remembered.val.array.lparray, before) << "the remembered answer stays";
  EXPECT_EQ(standin::Transcript().back(),
            "alert 3 \"An entry in the dialog is too long to keep!\" -> OK");
  EXPECT_EQ(standin::GetAccounting().outstanding_values, 0) << "the host's answer went back";

  letters.resize(254);
  standin::QueueDialog(standin::DialogReply{false, {{2, standin::Value{letters}}}, 1});
  EXPECT_EQ(ShowDialog(dialog, remembered, code), TakenAnswer::kArray);
  ASSERT_EQ(remembered.xltype, xltypeMulti);
  const XLOPER& entry = remembered.val.array.lparray[2 * 7 + kItemValue];
  ASSERT_EQ(entry.xltype, xltypeStr);
  EXPECT_EQ(CountedText(entry.val.str), letters);
  ForgetDialogAnswer(remembered);
  FreeDialogArray(dialog);
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
  ASSERT_TRUE(TextToReference(found, &offered)) << CountedText(offered.val.str);
  ASSERT_EQ(BaseType(found), xltypeRef) << CountedText(offered.val.str);
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
    EXPECT_EQ(CountedText(list.names[i].val.str), names[i]);
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

// ---- The 12-series ------------------------------------------------------------

// Band heights over the 12-series record, which counts rows in 32 bits.
std::vector<long> Bands12(long firstRow, long rows, int columns, long limit) {
  RefRecord12 whole, chunk;
  SetRecord(whole, 1, MakeArea<XLREF12>(firstRow, firstRow + rows - 1, 2, 2 + columns - 1));
  PrepareRef(chunk);
  CopyRef(whole.value, chunk.value);
  std::vector<long> heights;
  long expectedFirst = firstRow;
  for (int guard = 0; guard < 100000; ++guard) {
    NextRowChunk(whole.value, chunk.value, limit);
    const XLREF12& band = chunk.table.reftbl[0];
    EXPECT_EQ(band.rwFirst, expectedFirst) << "bands must tile the rows";
    heights.push_back(AreaRowCount(band));
    expectedFirst = band.rwLast + 1;
    if (band.rwLast == whole.table.reftbl[0].rwLast) break;
  }
  return heights;
}

TEST(RowChunks, TheWholeBigColumnInBandsOfTheSameLimit) {
  std::vector<long> heights = Bands12(0, kXl12MaxRows, 1, kChunkCells);
  ASSERT_EQ(heights.size(), static_cast<std::size_t>((kXl12MaxRows + 5399) / 5400));
  EXPECT_EQ(heights.front(), 5400);
  EXPECT_EQ(heights.back(), kXl12MaxRows - 5400L * (static_cast<long>(heights.size()) - 1));
  // Past the old sheet, where a 16-bit row would have wrapped to 0.
  EXPECT_EQ(Bands12(65000, 2000, 3, kChunkCells), (std::vector<long>{1800, 200}));
}

// Texts the add-in keeps of a wide host's answers: UTF-8 in its byte
// records, UTF-16 towards the host. The expected units are the compiler's
// own encoding of the same literals.
TEST(WideTexts, ConvertWithoutLossBothWays) {
  auto counted = [](const std::string& bytes) {
    std::string s(1, static_cast<char>(bytes.size()));
    return s + bytes + '\0';
  };
  const std::u16string samples[] = {u"Data!A1:A70000", u"'\u0426\u0435\u043d\u0430'!C1",
                                    u"\u00e9t\u00e9", u"\U0001F600x", u""};
  for (const std::u16string& sample : samples) {
    std::vector<XCHAR> wide(sample.size() + 1);
    wide[0] = static_cast<XCHAR>(sample.size());
    std::copy(sample.begin(), sample.end(), wide.begin() + 1);
    char narrow[257];
    ASSERT_TRUE(NarrowCounted(wide.data(), narrow, sizeof narrow));
    XCHAR back[300];
    ASSERT_TRUE(WidenCounted(narrow, back, 300));
    ASSERT_EQ(back[0], sample.size());
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), back + 1));
    EXPECT_EQ(back[sample.size() + 1], 0);
    EXPECT_EQ(narrow[1 + static_cast<unsigned char>(narrow[0])], '\0');
  }
  // The UTF-8 bytes themselves, for one text of each width.
  char narrow[257];
  const XCHAR mixed[] = {4, u'a', 0x0436, 0xD83D, 0xDE00};
  ASSERT_TRUE(NarrowCounted(mixed, narrow, sizeof narrow));
  EXPECT_EQ(std::string(narrow, 9), counted("a\xd0\xb6\xf0\x9f\x98\x80"));
  // An unpaired surrogate survives the round trip.
  const XCHAR lone[] = {2, 0xD800, u'z'};
  ASSERT_TRUE(NarrowCounted(lone, narrow, sizeof narrow));
  XCHAR back[8];
  ASSERT_TRUE(WidenCounted(narrow, back, 8));
  EXPECT_EQ(back[0], 2);
  EXPECT_EQ(back[1], 0xD800);
  EXPECT_EQ(back[2], u'z');
  // Limits: 255 bytes, and the caller's capacity; nothing written then.
  std::vector<XCHAR> longText(1 + 128, 0x0436);  // 256 bytes of UTF-8
  longText[0] = 128;
  narrow[0] = 7;
  EXPECT_FALSE(NarrowCounted(longText.data(), narrow, sizeof narrow));
  EXPECT_EQ(narrow[0], 7);
  EXPECT_FALSE(NarrowCounted(mixed, narrow, 8));
  back[0] = 9;
  EXPECT_FALSE(WidenCounted(counted("abcdefg").c_str(), back, 8));
  EXPECT_EQ(back[0], 9);
}

// "TEXTREF" through Excel12 on a host of version 16: a text names rows past
// the old sheet's last and a sheet whose name is not ASCII, and a text
// refused as typed is tried again with its sheet part quoted.
TEST_F(SelectionField, TextsResolveToTwelveSeriesReferencesOnTheBigSheet) {
  standin::SetHostVersion("16.0");
  ReadHostVersion();
  standin::SheetId price = standin::NewWorkbook("Book1.xlsx", "\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0");
  standin::SheetId spaced = standin::AddSheet("Book1.xlsx", "My Data");
  standin::Select(price, "A1");
  auto resolve = [](std::string text, XLREF12& area, IDSHEET& sheet) {
    std::string counted(1, static_cast<char>(text.size()));
    counted += text;
    counted += '\0';
    XLOPER typed{};
    typed.xltype = xltypeStr;
    typed.val.str = counted.data();
    XLOPER12 answer{};
    bool filled = TextToReference(answer, &typed);
    if (TypeOf(answer) == xltypeErr) {
      if (filled) GiveBack(answer);
      filled = QuoteSheetName(answer, typed);
    }
    DWORD type = TypeOf(answer);
    if (type == xltypeRef) {
      area = answer.val.mref.lpmref->reftbl[0];
      sheet = answer.val.mref.idSheet;
    }
    if (type == xltypeSRef) area = answer.val.sref.ref;
    if (filled) GiveBack(answer);
    return type;
  };
  XLREF12 area{};
  IDSHEET sheet = 0;
  EXPECT_EQ(resolve("'\xd0\xa6\xd0\xb5\xd0\xbd\xd0\xb0'!A1:A70000", area, sheet),
            DWORD{xltypeRef});
  EXPECT_EQ(sheet, price);
  EXPECT_EQ(area.rwLast, 69999);
  EXPECT_EQ(resolve("My Data!B:B", area, sheet), DWORD{xltypeRef}) << "quoted on the retry";
  EXPECT_EQ(sheet, spaced);
  EXPECT_EQ(area.rwFirst, 0);
  EXPECT_EQ(area.rwLast, kXl12MaxRows - 1);
  EXPECT_EQ(area.colFirst, 1);
  EXPECT_EQ(resolve("XFD1048576", area, sheet), DWORD{xltypeRef}) << "no single reference";
  EXPECT_EQ(sheet, price);
  EXPECT_EQ(area.rwFirst, kXl12MaxRows - 1);
  EXPECT_EQ(area.colFirst, 16383);

  // The 4-series on the same host: no XLOPER reaches row 70,000.
  std::string counted = std::string(1, 9) + "A1:A70000" + '\0';
  XLOPER typed{};
  typed.xltype = xltypeStr;
  typed.val.str = counted.data();
  XLOPER old{};
  if (TextToReference(old, &typed)) ReleaseHostValue(old);
  EXPECT_NE(BaseType(old), WORD{xltypeRef});
}

}  // namespace
}  // namespace hvt
