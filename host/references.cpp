#include "host/references.h"

#include <algorithm>
#include <cstring>

#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"
#include "host/tool_tables.h"

namespace hvt {

IDSHEET g_lastSheet = 0;

namespace {

long g_rowsPerChunk = 0;
XLOPER g_resolveAnswer{};



bool IsNumberCell(IDSHEET sheet, long row, BYTE column) {
  XLMREF table{};
  XLOPER cell = AreaRef(table, sheet, CellArea(row, column));
  XLOPER answer{};
  if (Excel4(xlfIsnumber, &answer, 1, &cell) != xlretSuccess) return false;
  bool number = BaseType(answer) == xltypeBool && answer.val.xbool != 0;
  ReleaseHostValue(answer);
  return number;
}

void GoTo(XLOPER& reference) {
  Excel4(xlcFormulaGoto, nullptr, 1, &reference);
}

void Echo(bool on) { CallExcel(xlfEcho, nullptr, 1, TempBoolean(on ? 1 : 0)); }

// The selection's text as PrefillReferenceField last offered it (R1C1).
char g_offeredText[257] = {};

bool WorkspaceUsesR1C1() {
  HostValue style;
  return style.Call(xlfGetWorkspace, TempNumber(4)) == xlretSuccess && style.isTrue();
}

bool IsOfferedText(const XLOPER& text) {
  return BaseType(text) == xltypeStr && text.val.str != nullptr && g_offeredText[0] != 0 &&
         CompareCounted(text.val.str, g_offeredText) == 0;
}

// Whole columns read differently in the two notations ("C3" is column 3 in
// R1C1 and a cell in A1): the offered text is R1C1, what a person types is
// in the workspace's notation.
bool ReadsA1First(const XLOPER& text) {
  return !IsOfferedText(text) && !WorkspaceUsesR1C1();
}

// xlfTextref in one notation and, when that finds no reference, the other.
// `typed` is a copy: the caller's value may live in the temporary pool,
// which every call empties.
bool ReadReferenceText(XLOPER& answer, XLOPER typed, bool a1First) {
  answer.xltype = xltypeErr;
  answer.val.err = xlerrValue;
  for (int pass = 0; pass < 2; ++pass) {
    bool a1 = (pass == 0) == a1First;
    XLOPER found{};
    if (CallExcel(xlfTextref, &found, 2, &typed, TempBoolean(a1 ? 1 : 0)) != xlretSuccess) {
      return false;
    }
    if (BaseType(found) != xltypeErr || pass == 1) {
      answer = found;
      return true;
    }
    ReleaseHostValue(found);
  }
  return false;
}

// One reference text into a record. 1 resolved, else the alert's answer
// turned into kResolveAgain or kResolveEnd.
int ResolveOne(XLOPER& text, char* message, short item, double* focusCell,
               XLOPER& target) {
  bool filled = TextToReference(g_resolveAnswer, &text);
  if (BaseType(g_resolveAnswer) == xltypeErr) {
    if (filled) ReleaseHostValue(g_resolveAnswer);
    bool outOfMemory = false;
    filled = QuoteSheetName(g_resolveAnswer, text, &outOfMemory);
    if (outOfMemory) return kResolveEnd;
  }
  WORD type = BaseType(g_resolveAnswer);
  if (type != xltypeSRef && type != xltypeRef) {
    if (filled) ReleaseHostValue(g_resolveAnswer);
    return ShowAlertDialog(message, item, focusCell) == 1 ? kResolveAgain
                                                          : kResolveEnd;
  }
  if (type == xltypeSRef) {
    XLOPER sheet{};
    IDSHEET id = 0;
    if (Excel4(xlSheetId, &sheet, 0) == xlretSuccess) {
      if (BaseType(sheet) == xltypeRef) id = sheet.val.mref.idSheet;
      ReleaseHostValue(sheet);
    }
    XLREF* area = FirstArea(target);
    if (area != nullptr) {
      target.xltype = xltypeRef;
      target.val.mref.idSheet = id;
      target.val.mref.lpmref->count = 1;
      *area = g_resolveAnswer.val.sref.ref;
    }
  } else {
    CopyRef(g_resolveAnswer, target);
  }
  ReleaseHostValue(g_resolveAnswer);
  return kResolved;
}

}  // namespace

bool TextToReference(XLOPER& answer, LPXLOPER text) {
  if (text == nullptr) {
    answer.xltype = xltypeErr;
    answer.val.err = xlerrValue;
    return false;
  }
  XLOPER typed = *text;
  return ReadReferenceText(answer, typed, ReadsA1First(typed));
}

XLREF MakeArea(long firstRow, long lastRow, long firstColumn, long lastColumn) {
  return XLREF{static_cast<WORD>(firstRow), static_cast<WORD>(lastRow),
               static_cast<BYTE>(firstColumn), static_cast<BYTE>(lastColumn)};
}

XLOPER AreaRef(XLMREF& table, IDSHEET sheet, const XLREF& area) {
  table.count = 1;
  table.reftbl[0] = area;
  XLOPER value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}

XLOPER& SetRecord(RefRecord& record, IDSHEET sheet, const XLREF& area) {
  PrepareRef(record);
  record.value.val.mref.idSheet = sheet;
  record.table.reftbl[0] = area;
  return record.value;
}

// ---- Reference records ------------------------------------------------------

void PrepareRef(RefRecord& record) {
  record.table = XLMREF{};
  record.table.count = 1;
  record.value = XLOPER{};
  record.value.xltype = xltypeRef;
  record.value.val.mref.lpmref = &record.table;
}

XLREF* FirstArea(XLOPER& reference) {
  if (BaseType(reference) != xltypeRef || reference.val.mref.lpmref == nullptr) {
    return nullptr;
  }
  return &reference.val.mref.lpmref->reftbl[0];
}

const XLREF* FirstArea(const XLOPER& reference) {
  return FirstArea(const_cast<XLOPER&>(reference));
}

void CopyRef(const XLOPER& source, XLOPER& target) {
  const XLREF* from = FirstArea(source);
  if (from == nullptr || source.val.mref.lpmref->count == 0) return;
  if (target.val.mref.lpmref == nullptr) return;  // no storage of its own
  target.xltype = BaseType(source);
  target.val.mref.idSheet = source.val.mref.idSheet;
  target.val.mref.lpmref->count = source.val.mref.lpmref->count;
  target.val.mref.lpmref->reftbl[0] = *from;
}

// ---- Bands of rows ----------------------------------------------------------

void NextRowChunkArea(const XLREF& whole, XLREF& chunk, long limit,
                      long& rowsPerChunk) {
  long rows = long{whole.rwLast} - whole.rwFirst + 1;
  long columns = long{whole.colLast} - whole.colFirst + 1;
  if (rows <= 0 || columns <= 0) return;
  if (rows * columns <= limit) return;  // one band: the whole
  if (chunk.rwFirst == whole.rwFirst && chunk.rwLast == whole.rwLast) {
    // At least one row per band, however wide the reference.
    rowsPerChunk = std::max(1L, limit / columns);
    chunk.rwLast = static_cast<WORD>(whole.rwFirst + rowsPerChunk - 1);
    return;
  }
  if (chunk.rwLast >= whole.rwLast || rowsPerChunk <= 0) return;
  long first = long{chunk.rwLast} + 1;
  long last = std::min<long>(first + rowsPerChunk - 1, whole.rwLast);
  chunk.rwFirst = static_cast<WORD>(first);
  chunk.rwLast = static_cast<WORD>(last);
}

void NextRowChunk(const XLOPER& whole, XLOPER& chunk, long limit) {
  const XLREF* from = FirstArea(whole);
  XLREF* band = FirstArea(chunk);
  if (from == nullptr || band == nullptr) return;
  NextRowChunkArea(*from, *band, limit, g_rowsPerChunk);
}

// ---- Reference texts --------------------------------------------------------

bool QuoteSheetText(const char* text, char* work, std::size_t capacity) {
  std::size_t length = CountedLength(text);
  if (capacity < length + 4) return false;
  std::memset(work, 0, capacity);
  std::memcpy(work + 1, text + 1, length);
  // Positions below are 0-based into the text that starts at work + 1.
  char* body = work + 1;

  if (char* bracket = std::strrchr(body, ']');
      bracket != nullptr && bracket[1] == '\'') {
    std::memmove(bracket + 1, bracket + 2, std::strlen(bracket + 2) + 1);
    --length;
  }
  if (char* bang = std::strrchr(body, '!');
      bang != nullptr && (bang == body || bang[-1] != '\'')) {
    std::memmove(bang + 1, bang, std::strlen(bang) + 1);
    *bang = '\'';
    ++length;
  }
  if (body[0] != '\'') {
    std::memmove(body + 1, body, length + 1);
    body[0] = '\'';
    ++length;
  }
  if (length > 255) return false;
  work[0] = static_cast<char>(length);
  return true;
}

bool QuoteSheetName(XLOPER& answer, XLOPER& text, bool* outOfMemory) {
  answer.xltype = xltypeErr;
  answer.val.err = xlerrValue;
  if (BaseType(text) != xltypeStr || text.val.str == nullptr) return false;
  std::size_t size = CountedLength(text.val.str) + 4;
  auto* work = static_cast<char*>(AllocGlobal(size));
  if (work == nullptr) {
    ShowInsufficientMemory();
    if (outOfMemory != nullptr) *outOfMemory = true;
    return false;
  }
  bool filled = false;
  const bool a1First = ReadsA1First(text);
  if (QuoteSheetText(text.val.str, work, size)) {
    XLOPER quoted{};
    quoted.xltype = xltypeStr;
    quoted.val.str = work;  // QuoteSheetText wrote its length byte
    filled = ReadReferenceText(answer, quoted, a1First);
    if (BaseType(answer) != xltypeErr) {
      // The text is a cell of the dialog answer and is released with the
      // whole answer; freeing it on its own would free it twice.
      text.xltype = xltypeNil;
      text.val.str = nullptr;
    }
  }
  FreeGlobal(work);
  return filled;
}

int ResolveReferences(XLOPER& inputText, XLOPER& outputText, short inputItem,
                      short outputItem, double* focusCell, XLOPER& inputRef,
                      XLOPER& outputRef) {
  int input = ResolveOne(inputText, text::kInputIncorrect, inputItem, focusCell,
                         inputRef);
  if (input != kResolved) return input;
  return ResolveOne(outputText, text::kOutputIncorrect, outputItem, focusCell,
                    outputRef);
}

// ---- The selection in a dialog ------------------------------------------------

int PrefillReferenceField(XLOPER& tableArray, std::size_t element,
                          double focusItem, XLOPER& remembered) {
  const XLREF* selection = FirstArea(g_savedSelection.value);
  IDSHEET previousSheet = g_lastSheet;
  IDSHEET sheet = g_savedSelection.value.val.mref.idSheet;
  g_lastSheet = sheet;

  XLOPER* focus = DialogArrayCell(tableArray, DialogCell(0, kItemValue));
  XLOPER* field = DialogArrayCell(tableArray, element);
  bool oneArea = selection != nullptr && g_savedAreaCount == 1;
  long cells = oneArea ? (long{selection->rwLast} - selection->rwFirst + 1) *
                             (long{selection->colLast} - selection->colFirst + 1)
                       : 0;
  if (oneArea && cells > 1 && focus != nullptr && field != nullptr) {
    XLOPER text{};
    bool filled =
        Excel4(xlfReftext, &text, 1, &g_savedSelection.value) == xlretSuccess;
    if (!filled) text.xltype = xltypeNil;
    ForgetDialogAnswer(remembered);
    focus->xltype = xltypeNum;
    focus->val.num = focusItem;
    if (BaseType(text) == xltypeStr && text.val.str != nullptr) {
      CopyCounted(text.val.str, g_sharedMessage, sizeof(g_sharedMessage) - 1);
      g_sharedMessage[1 + CountedLength(g_sharedMessage)] = '\0';
    } else {
      g_sharedMessage[0] = 0;
      g_sharedMessage[1] = '\0';
    }
    CopyCounted(g_sharedMessage, g_offeredText, sizeof(g_offeredText) - 1);
    field->xltype = xltypeStr;
    field->val.str = g_sharedMessage;
    if (filled) ReleaseHostValue(text);
    return 1;
  }

  WORD type = BaseType(remembered);
  if (type == 0 || type == xltypeBool) {
    ForgetDialogAnswer(remembered);
    return 0;
  }
  if (sheet == previousSheet) {
    if (XLOPER* kept = DialogArrayCell(remembered, DialogCell(0, kItemValue))) {
      kept->xltype = xltypeNum;
      kept->val.num = focusItem;
    }
    return 0;
  }
  ForgetDialogAnswer(remembered);
  return 0;
}

void RestoreReferenceField(XLOPER& tableArray, std::size_t element,
                           char* focusText, char* tableText) {
  if (XLOPER* focus = DialogArrayCell(tableArray, DialogCell(0, kItemValue))) {
    focus->xltype = xltypeStr;
    focus->val.str = focusText;
  }
  if (XLOPER* field = DialogArrayCell(tableArray, element)) {
    if (tableText != nullptr && CountedLength(tableText) != 0) {
      field->xltype = xltypeStr;
      field->val.str = tableText;
    } else {
      field->xltype = xltypeNil;
      field->val.str = nullptr;
    }
  }
}

// ---- Whole columns ------------------------------------------------------------

bool CoversWholeColumns(const XLOPER& reference) {
  const XLREF* area = FirstArea(reference);
  if (area == nullptr) return false;
  if (g_maxRows == 0) ReadMaxRows();
  long rows = long{area->rwLast} - area->rwFirst + 1;
  return rows == g_maxRows || (rows == 16384 && g_maxRows == 65536);
}

int FindDataExtent(XLOPER& reference) {
  XLREF* area = FirstArea(reference);
  if (area == nullptr) return 0;
  if (g_maxRows == 0) ReadMaxRows();
  const IDSHEET sheet = reference.val.mref.idSheet;
  Echo(false);

  long firstRow = 0;
  for (long column = area->colFirst; column <= area->colLast; ++column) {
    long row = 0;
    while (row < g_maxRows && !IsNumberCell(sheet, row, static_cast<BYTE>(column))) {
      ++row;
    }
    if (row == g_maxRows) {
      Echo(true);
      return 0;
    }
    firstRow = std::max(firstRow, row);
  }

  long lastRow = firstRow;
  if (firstRow + 1 < g_maxRows && IsNumberCell(sheet, firstRow + 1, area->colFirst)) {
    XLMREF table{};
    XLREF top{static_cast<WORD>(firstRow), static_cast<WORD>(firstRow),
              area->colFirst, area->colFirst};
    XLOPER start = AreaRef(table, sheet, top);
    GoTo(start);
    CallExcel(xlcSelectEnd, nullptr, 1, TempNumber(4));  // down
    XLOPER active{};
    if (Excel4(xlfActiveCell, &active, 0) == xlretSuccess) {
      if (BaseType(active) == xltypeSRef) {
        lastRow = active.val.sref.ref.rwFirst;
      } else if (const XLREF* cell = FirstArea(active)) {
        lastRow = cell->rwFirst;
      }
      ReleaseHostValue(active);
    }
    // The end of the run can only lie at or below where it starts.
    if (lastRow < firstRow) lastRow = firstRow;
  }
  GoToSavedSelection();

  area->rwFirst = static_cast<WORD>(firstRow);
  area->rwLast = static_cast<WORD>(lastRow);
  Echo(true);
  return 1;
}

void FormatTitleRow(const XLOPER& reference) {
  const XLREF* area = FirstArea(reference);
  if (area == nullptr) return;
  XLMREF titlesTable{};
  XLOPER titles = AreaRef(titlesTable, reference.val.mref.idSheet, *area);
  GoTo(titles);
  CallExcel(xlcAlignment, nullptr, 1, TempNumber(3));  // centre
  CallExcel(xlcFormatFont, nullptr, 3, TempMissing(), TempMissing(),
            TempBoolean(1));  // bold

  if (g_maxRows == 0) ReadMaxRows();
  XLMREF columnsTable{};
  XLREF whole{0, static_cast<WORD>(g_maxRows - 1), area->colFirst, area->colLast};
  XLOPER columns = AreaRef(columnsTable, reference.val.mref.idSheet, whole);
  GoTo(columns);
  CallExcel(xlcColumnWidth, nullptr, 4, TempMissing(), TempMissing(),
            TempBoolean(1), TempNumber(3));  // best fit
}

}  // namespace hvt
