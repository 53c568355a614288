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

template <HostRecord Oper>
bool IsNumberCell(IDSHEET sheet, long row, long column) {
  typename Interface<Oper>::Table table{};
  Oper cell = AreaRef(table, sheet, CellArea<typename Interface<Oper>::Ref>(row, column));
  Oper answer{};
  if (HostCall(xlfIsnumber, &answer, &cell) != xlretSuccess) return false;
  bool number = IsTrue(answer);
  GiveBack(answer);
  return number;
}

// COUNT over rows firstRow..lastRow of one column: how many of its cells
// hold numbers, the same cells ISNUMBER answers TRUE for. False when the
// host did not answer with a number.
template <HostRecord Oper>
bool CountNumbers(IDSHEET sheet, long firstRow, long lastRow, long column, double& count) {
  typename Interface<Oper>::Table table{};
  Oper cells =
      AreaRef(table, sheet, MakeArea<typename Interface<Oper>::Ref>(firstRow, lastRow, column, column));
  Oper answer{};
  if (HostCall(xlfCount, &answer, &cells) != xlretSuccess) return false;
  bool number = TypeOf(answer) == xltypeNum;
  count = number ? answer.val.num : 0;
  GiveBack(answer);
  return number;
}

// The first row from `from` on of a column holding a number, cell by cell
// as ISNUMBER answers; rows when none does.
template <HostRecord Oper>
long NumberRowByCells(IDSHEET sheet, long column, long from, long rows) {
  while (from < rows && !IsNumberCell<Oper>(sheet, from, column)) ++from;
  return from;
}

// The first row of a column holding a number; rows when none does. The
// column is counted in windows that double in height from the top, then
// the window holding the first number is halved down to its row: a few
// dozen host calls for a whole column of the big sheet, not a call per
// cell. Should COUNT go unanswered, the cells from there on are asked one
// by one.
template <HostRecord Oper>
long FirstNumberRow(IDSHEET sheet, long column, long rows) {
  long first = 0;  // no number lies above `first`
  long last = 0;
  double count = 0;
  for (long height = 1; first < rows; height *= 2) {
    last = std::min(rows - 1, first + height - 1);
    if (!CountNumbers<Oper>(sheet, first, last, column, count))
      return NumberRowByCells<Oper>(sheet, column, first, rows);
    if (count > 0) break;
    first = last + 1;
  }
  if (first >= rows) return rows;
  while (first < last) {  // a number lies in first..last
    const long middle = first + (last - first) / 2;
    if (!CountNumbers<Oper>(sheet, first, middle, column, count))
      return NumberRowByCells<Oper>(sheet, column, first, rows);
    if (count > 0) last = middle;
    else first = middle + 1;
  }
  return first;
}

template <HostRecord Oper>
void GoTo(Oper& reference) {
  HostCall(xlcFormulaGoto, static_cast<Oper*>(nullptr), &reference);
}

// A text of the add-in's own (a counted byte string, UTF-8 on a wide host)
// as an argument of the record's kind. False when it does not fit.
bool AsArgument(const XLOPER& text, XLOPER& argument, XCHAR*) {
  argument = text;
  return true;
}
bool AsArgument(const XLOPER& text, XLOPER12& argument, XCHAR* wide) {
  if (BaseType(text) != xltypeStr || text.val.str == nullptr) {
    argument.xltype = xltypeNil;
    return BaseType(text) != xltypeStr;
  }
  if (!WidenCounted(text.val.str, wide, 2 * 255 + 2)) return false;
  argument.xltype = xltypeStr;
  argument.val.str = wide;
  return true;
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
template <HostRecord Oper>
bool ReadReferenceText(Oper& answer, const XLOPER& typed, bool a1First) {
  answer = Oper{};
  answer.xltype = xltypeErr;
  answer.val.err = xlerrValue;
  Oper text{};
  XCHAR wide[2 * 255 + 2];
  if (!AsArgument(typed, text, wide)) return false;
  for (int pass = 0; pass < 2; ++pass) {
    bool a1 = (pass == 0) == a1First;
    Oper found{};
    Oper notation = BooleanValue<Oper>(a1);
    if (HostCall(xlfTextref, &found, &text, &notation) != xlretSuccess) return false;
    if (TypeOf(found) != xltypeErr || pass == 1) {
      answer = found;
      return true;
    }
    GiveBack(found);
  }
  return false;
}

// One reference text into a record. 1 resolved, else the alert's answer
// turned into kResolveAgain or kResolveEnd.
template <HostRecord Oper>
int ResolveOne(XLOPER& text, char* message, short item, double* focusCell,
               Oper& target) {
  Oper answer{};
  bool filled = TextToReference(answer, &text);
  if (TypeOf(answer) == xltypeErr) {
    if (filled) GiveBack(answer);
    bool outOfMemory = false;
    filled = QuoteSheetName(answer, text, &outOfMemory);
    if (outOfMemory) return kResolveEnd;
  }
  DWORD type = TypeOf(answer);
  if (type != xltypeSRef && type != xltypeRef) {
    if (filled) GiveBack(answer);
    return ShowAlertDialog(message, item, focusCell) == 1 ? kResolveAgain
                                                          : kResolveEnd;
  }
  if (type == xltypeSRef) {
    Oper sheet{};
    IDSHEET id = 0;
    if (HostCall(xlSheetId, &sheet) == xlretSuccess) {
      if (TypeOf(sheet) == xltypeRef) id = sheet.val.mref.idSheet;
      GiveBack(sheet);
    }
    auto* area = FirstArea(target);
    if (area != nullptr) {
      target.xltype = xltypeRef;
      target.val.mref.idSheet = id;
      target.val.mref.lpmref->count = 1;
      *area = answer.val.sref.ref;
    }
  } else {
    CopyRef(answer, target);
  }
  GiveBack(answer);
  return kResolved;
}

}  // namespace

template <HostRecord Oper>
bool TextToReference(Oper& answer, LPXLOPER text) {
  if (text == nullptr) {
    answer = Oper{};
    answer.xltype = xltypeErr;
    answer.val.err = xlerrValue;
    return false;
  }
  XLOPER typed = *text;
  return ReadReferenceText(answer, typed, ReadsA1First(typed));
}

namespace {
template <typename Oper, typename Table, typename Ref>
Oper AreaValue(Table& table, IDSHEET sheet, const Ref& area) {
  table.count = 1;
  table.reftbl[0] = area;
  Oper value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}
}  // namespace

XLOPER AreaRef(XLMREF& table, IDSHEET sheet, const XLREF& area) {
  return AreaValue<XLOPER>(table, sheet, area);
}
XLOPER12 AreaRef(XLMREF12& table, IDSHEET sheet, const XLREF12& area) {
  return AreaValue<XLOPER12>(table, sheet, area);
}

template <>
long SheetRows<XLOPER>() {
  if (g_maxRows == 0) ReadMaxRows();
  return g_maxRows;
}
template <>
long SheetRows<XLOPER12>() {
  if (g_maxRows == 0) ReadMaxRows();
  return WideHost() ? long{kXl12MaxRows} : long{g_maxRows};
}
template <>
long SheetColumns<XLOPER>() {
  return 256;
}
template <>
long SheetColumns<XLOPER12>() {
  return WideHost() ? long{kXl12MaxColumns} : 256;
}

// ---- Bands of rows ----------------------------------------------------------

template <typename Ref>
void NextRowChunkArea(const Ref& whole, Ref& chunk, long limit, long& rowsPerChunk) {
  long rows = long{whole.rwLast} - whole.rwFirst + 1;
  long columns = long{whole.colLast} - whole.colFirst + 1;
  if (rows <= 0 || columns <= 0) return;
  if (rows * columns <= limit) return;  // one band: the whole
  if (chunk.rwFirst == whole.rwFirst && chunk.rwLast == whole.rwLast) {
    // At least one row per band, however wide the reference.
    rowsPerChunk = std::max(1L, limit / columns);
    chunk.rwLast = static_cast<decltype(chunk.rwLast)>(whole.rwFirst + rowsPerChunk - 1);
    return;
  }
  if (chunk.rwLast >= whole.rwLast || rowsPerChunk <= 0) return;
  long first = long{chunk.rwLast} + 1;
  long last = std::min<long>(first + rowsPerChunk - 1, whole.rwLast);
  chunk.rwFirst = static_cast<decltype(chunk.rwFirst)>(first);
  chunk.rwLast = static_cast<decltype(chunk.rwLast)>(last);
}

template <HostRecord Oper>
void NextRowChunk(const Oper& whole, Oper& chunk, long limit) {
  const auto* from = FirstArea(whole);
  auto* band = FirstArea(chunk);
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

template <HostRecord Oper>
bool QuoteSheetName(Oper& answer, XLOPER& text, bool* outOfMemory) {
  answer = Oper{};
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
    if (TypeOf(answer) != xltypeErr) {
      // The text is a cell of the dialog answer and is released with the
      // whole answer; freeing it on its own would free it twice.
      text.xltype = xltypeNil;
      text.val.str = nullptr;
    }
  }
  FreeGlobal(work);
  return filled;
}

template <HostRecord Oper>
int ResolveReferences(XLOPER& inputText, XLOPER& outputText, short inputItem,
                      short outputItem, double* focusCell, Oper& inputRef,
                      Oper& outputRef) {
  int input = ResolveOne(inputText, text::kInputIncorrect, inputItem, focusCell,
                         inputRef);
  if (input != kResolved) return input;
  return ResolveOne(outputText, text::kOutputIncorrect, outputItem, focusCell,
                    outputRef);
}

// ---- The selection in a dialog ------------------------------------------------

int PrefillReferenceField(XLOPER& tableArray, std::size_t element,
                          double focusItem, XLOPER& remembered, bool twelveSeries) {
  const bool wide = twelveSeries && WideHost();
  IDSHEET previousSheet = g_lastSheet;
  IDSHEET sheet = wide ? g_savedSelection12.value.val.mref.idSheet
                       : g_savedSelection.value.val.mref.idSheet;
  g_lastSheet = sheet;

  XLOPER* focus = DialogArrayCell(tableArray, DialogCell(0, kItemValue));
  XLOPER* field = DialogArrayCell(tableArray, element);
  long cells = 0;
  if (g_savedAreaCount == 1) {
    if (const auto* selection = wide ? nullptr : FirstArea(g_savedSelection.value)) {
      cells = AreaRowCount(*selection) * AreaColumnCount(*selection);
    } else if (const auto* big = wide ? FirstArea(g_savedSelection12.value) : nullptr) {
      cells = AreaRowCount(*big) * AreaColumnCount(*big);
    }
  }
  if (cells > 1 && focus != nullptr && field != nullptr) {
    ForgetDialogAnswer(remembered);
    focus->xltype = xltypeNum;
    focus->val.num = focusItem;
    g_sharedMessage[0] = 0;
    g_sharedMessage[1] = '\0';
    if (wide) {
      // The text in UTF-16 from the 12-series, kept as the dialog's UTF-8.
      XLOPER12 text{};
      if (Excel12(xlfReftext, &text, 1, &g_savedSelection12.value) == xlretSuccess) {
        if (TypeOf(text) == xltypeStr && text.val.str != nullptr) {
          NarrowCounted(text.val.str, g_sharedMessage, sizeof(g_sharedMessage));
        }
        GiveBack(text);
      }
    } else {
      XLOPER text{};
      if (Excel4(xlfReftext, &text, 1, &g_savedSelection.value) == xlretSuccess) {
        if (BaseType(text) == xltypeStr && text.val.str != nullptr) {
          CopyCounted(text.val.str, g_sharedMessage, sizeof(g_sharedMessage) - 1);
          g_sharedMessage[1 + CountedLength(g_sharedMessage)] = '\0';
        }
        ReleaseHostValue(text);
      }
    }
    CopyCounted(g_sharedMessage, g_offeredText, sizeof(g_offeredText) - 1);
    field->xltype = xltypeStr;
    field->val.str = g_sharedMessage;
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

template <HostRecord Oper>
bool CoversWholeColumns(const Oper& reference) {
  const auto* area = FirstArea(reference);
  if (area == nullptr) return false;
  const long sheetRows = SheetRows<Oper>();
  long rows = AreaRowCount(*area);
  return rows == sheetRows || (rows == 16384 && sheetRows == 65536);
}

template <HostRecord Oper>
int FindDataExtent(Oper& reference) {
  using Ref = typename Interface<Oper>::Ref;
  auto* area = FirstArea(reference);
  if (area == nullptr) return 0;
  const long sheetRows = SheetRows<Oper>();
  const IDSHEET sheet = reference.val.mref.idSheet;
  Echo(false);

  long firstRow = 0;
  for (long column = area->colFirst; column <= long{area->colLast}; ++column) {
    const long row = FirstNumberRow<Oper>(sheet, column, sheetRows);
    if (row == sheetRows) {
      Echo(true);
      return 0;
    }
    firstRow = std::max(firstRow, row);
  }

  long lastRow = firstRow;
  if (firstRow + 1 < sheetRows && IsNumberCell<Oper>(sheet, firstRow + 1, area->colFirst)) {
    typename Interface<Oper>::Table table{};
    Oper start = AreaRef(table, sheet, CellArea<Ref>(firstRow, area->colFirst));
    GoTo(start);
    Oper down = NumberValue<Oper>(4);
    HostCall(xlcSelectEnd, static_cast<Oper*>(nullptr), &down);
    Oper active{};
    if (HostCall(xlfActiveCell, &active) == xlretSuccess) {
      if (TypeOf(active) == xltypeSRef) {
        lastRow = active.val.sref.ref.rwFirst;
      } else if (const auto* cell = FirstArea(active)) {
        lastRow = cell->rwFirst;
      }
      GiveBack(active);
    }
    // The end of the run can only lie at or below where it starts.
    if (lastRow < firstRow) lastRow = firstRow;
  }
  GoToSavedSelection();

  area->rwFirst = static_cast<decltype(area->rwFirst)>(firstRow);
  area->rwLast = static_cast<decltype(area->rwLast)>(lastRow);
  Echo(true);
  return 1;
}

template <HostRecord Oper>
void FormatTitleRow(const Oper& reference) {
  using Ref = typename Interface<Oper>::Ref;
  const auto* area = FirstArea(reference);
  if (area == nullptr) return;
  typename Interface<Oper>::Table titlesTable{};
  Oper titles = AreaRef(titlesTable, reference.val.mref.idSheet, *area);
  GoTo(titles);
  Oper centre = NumberValue<Oper>(3);
  HostCall(xlcAlignment, static_cast<Oper*>(nullptr), &centre);
  Oper missing = MissingValue<Oper>();
  Oper bold = BooleanValue<Oper>(true);
  HostCall(xlcFormatFont, static_cast<Oper*>(nullptr), &missing, &missing, &bold);

  typename Interface<Oper>::Table columnsTable{};
  Oper columns = AreaRef(columnsTable, reference.val.mref.idSheet,
                         MakeArea<Ref>(0, SheetRows<Oper>() - 1, area->colFirst, area->colLast));
  GoTo(columns);
  Oper bestFit = NumberValue<Oper>(3);
  HostCall(xlcColumnWidth, static_cast<Oper*>(nullptr), &missing, &missing, &bold, &bestFit);
}

// The two records every service above serves.
template void NextRowChunkArea(const XLREF&, XLREF&, long, long&);
template void NextRowChunkArea(const XLREF12&, XLREF12&, long, long&);
template void NextRowChunk(const XLOPER&, XLOPER&, long);
template void NextRowChunk(const XLOPER12&, XLOPER12&, long);
template bool TextToReference(XLOPER&, LPXLOPER);
template bool TextToReference(XLOPER12&, LPXLOPER);
template bool QuoteSheetName(XLOPER&, XLOPER&, bool*);
template bool QuoteSheetName(XLOPER12&, XLOPER&, bool*);
template int ResolveReferences(XLOPER&, XLOPER&, short, short, double*, XLOPER&, XLOPER&);
template int ResolveReferences(XLOPER&, XLOPER&, short, short, double*, XLOPER12&,
                               XLOPER12&);
template bool CoversWholeColumns(const XLOPER&);
template bool CoversWholeColumns(const XLOPER12&);
template int FindDataExtent(XLOPER&);
template int FindDataExtent(XLOPER12&);
template void FormatTitleRow(const XLOPER&);
template void FormatTitleRow(const XLOPER12&);

}  // namespace hvt
