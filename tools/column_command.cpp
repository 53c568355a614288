#include "tools/column_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/tool_tables.h"

namespace hvt::column {

namespace {

// Formula text in the international (R1C1) form.
constexpr int kFormulaIntl = int{xlcFormula} | int{xlIntl};

char g_nonNumber[] = " Your data set contains a non-number!";
char g_labelPrompt[] =
    " Please enter text to use as label for your output column.";
char g_labelTitle[] = " Output Label";

void Release(XLOPER& value) { Excel4(xlFree, nullptr, 1, &value); }

// A reference value to one area, backed by `table`.
XLOPER AreaValue(XLMREF& table, DWORD sheet, long firstRow, long lastRow,
                 long firstColumn, long lastColumn) {
  table.count = 1;
  table.reftbl[0] = XLREF{static_cast<WORD>(firstRow), static_cast<WORD>(lastRow),
                          static_cast<BYTE>(firstColumn),
                          static_cast<BYTE>(lastColumn)};
  XLOPER value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}

// The value of one cell into `value`; false when the host gave none (then
// nothing is to be released).
bool CellValue(DWORD sheet, long row, long column, XLOPER& value) {
  XLMREF table;
  XLOPER cell = AreaValue(table, sheet, row, row, column, column);
  return Excel4(xlCoerce, &value, 1, &cell) == xlretSuccess;
}

bool IsText(const XLOPER& value) {
  return BaseType(value) == xltypeStr && value.val.str != nullptr;
}

// Enters a counted text (NUL ended) into a cell as the user would type it.
void EnterText(char* text, DWORD sheet, long row, long column) {
  XLMREF table;
  XLOPER cell = AreaValue(table, sheet, row, row, column, column);
  CallExcel(kFormulaIntl, nullptr, 2, TempString(text), &cell);
}

// Copies `length` characters after the length slot and sets the slot.
void PutText(char* buffer, std::size_t at, const char* text, std::size_t length) {
  std::memcpy(buffer + 1 + at, text, length);
  buffer[1 + at + length] = '\0';
}

}  // namespace

// ---- Break key and progress ---------------------------------------------------

bool CommandObserver::StopRequested() {
  if (CheckAbort() == 1) stopped_ = true;
  return stopped_;
}

void CommandObserver::Progress(std::int64_t done, std::int64_t total) {
  int percent = ProgressPercent(done, total);
  if (percent == lastShown_) return;
  lastShown_ = ShowProgress(done, total, form_);
}

// ---- Arguments ------------------------------------------------------------------

bool SameColumn(const RefRecord& data, const RefRecord& output) {
  return data.value.val.mref.idSheet == output.value.val.mref.idSheet &&
         data.table.reftbl[0].colFirst == output.table.reftbl[0].colFirst;
}

bool FirstCellsAreNumbers(const RefRecord& data) {
  const XLREF& area = data.table.reftbl[0];
  for (long row = area.rwFirst; row < area.rwFirst + 5L; ++row) {
    XLMREF table;
    XLOPER cell = AreaValue(table, data.value.val.mref.idSheet, row, row,
                            area.colFirst, area.colFirst);
    XLOPER answer;
    if (Excel4(xlfIsnumber, &answer, 1, &cell) != xlretSuccess) return false;
    bool number = BaseType(answer) == xltypeBool && answer.val.xbool != 0;
    Release(answer);
    if (!number) return false;
  }
  return true;
}

bool AnswerNumber(XLOPER& cell, double& number) {
  XLOPER value;
  if (CallExcel(xlCoerce, &value, 2, &cell, TempInteger(xltypeNum)) != xlretSuccess) {
    return false;
  }
  bool ok = BaseType(value) == xltypeNum;
  if (ok) number = value.val.num;
  Release(value);
  return ok;
}

void SelectCell(DWORD sheet, long row, long column) {
  XLMREF table;
  XLOPER cell = AreaValue(table, sheet, row, row, column, column);
  Excel4(xlcFormulaGoto, nullptr, 1, &cell);
}

int RunDialog(DialogRow* table, std::size_t rows, XLOPER& array,
              XLOPER& remembered, int (*check)()) {
  constexpr short kDataItem = 2;
  constexpr short kOutputItem = 4;
  if (!BuildDialogArray(table, rows, array)) {
    ShowInsufficientMemory();
    return 0;
  }
  const std::size_t dataCell = DialogCell(kDataItem, kItemValue);
  int prefilled = PrefillReferenceField(array, dataCell, kOutputItem, remembered);
  for (;;) {
    XLOPER* shown = BaseType(remembered) == xltypeMulti ? &remembered : &array;
    XLOPER answer;
    int code = Excel4(xlfDialogBox, &answer, 1, shown);
    if (prefilled == 1) {
      RestoreReferenceField(array, dataCell, table[0].text[kItemValue],
                            table[kDataItem].text[kItemValue]);
    }
    if (code != xlretSuccess) return 0;
    if (BaseType(answer) != xltypeMulti || answer.val.array.lparray == nullptr ||
        answer.val.array.rows != rows || answer.val.array.columns != kDialogColumns) {
      Release(answer);  // FALSE: cancelled
      return 0;
    }
    ForgetDialogAnswer(remembered);
    remembered = answer;
    int pass = check();
    if (pass == kAccepted) return 1;
    if (pass == kGiveUp) return 0;
  }
}

bool TakeReference(LPXLOPER argument, RefRecord& record) {
  if (record.value.val.mref.lpmref == nullptr) PrepareRef(record);
  if (argument == nullptr) return false;
  WORD type = BaseType(*argument);
  if (type != xltypeRef && type != xltypeSRef) return false;
  XLOPER reference;
  if (CallExcel(xlCoerce, &reference, 2, argument, TempInteger(xltypeRef)) !=
      xlretSuccess) {
    return false;
  }
  bool taken = false;
  if (BaseType(reference) == xltypeRef && reference.val.mref.lpmref != nullptr &&
      reference.val.mref.lpmref->count >= 1) {
    CopyRef(reference, record.value);
    taken = true;
  }
  Release(reference);
  return taken;
}

long AreaRows(const RefRecord& record) {
  return long{record.table.reftbl[0].rwLast} - record.table.reftbl[0].rwFirst + 1;
}

long AreaColumns(const RefRecord& record) {
  return long{record.table.reftbl[0].colLast} - record.table.reftbl[0].colFirst + 1;
}

bool SheetProtected(const XLOPER& reference) {
  XLOPER name;
  if (CallExcel(xlfGetCell, &name, 2, TempNumber(32),
                const_cast<LPXLOPER>(&reference)) != xlretSuccess) {
    return false;
  }
  bool locked = false;
  if (IsText(name)) {
    XLOPER flag;
    if (CallExcel(xlfGetDocument, &flag, 2, TempNumber(7), &name) == xlretSuccess) {
      locked = BaseType(flag) == xltypeBool && flag.val.xbool != 0;
      Release(flag);
    }
  }
  Release(name);
  return locked;
}

// ---- Reading and writing in bands ------------------------------------------------

int ReadColumn(const XLOPER& data, double* values, std::size_t count) {
  RefRecord whole, chunk;
  PrepareRef(whole);
  PrepareRef(chunk);
  CopyRef(data, whole.value);
  whole.table.count = 1;
  CopyRef(whole.value, chunk.value);
  const XLREF& all = whole.table.reftbl[0];
  const XLREF& band = chunk.table.reftbl[0];
  std::size_t filled = 0;
  do {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    XLOPER array;
    if (CallExcel(xlCoerce, &array, 2, &chunk.value, TempInteger(xltypeMulti)) !=
        xlretSuccess) {
      ShowAlert(g_nonNumber, kAlertError);
      return kReadNonNumber;
    }
    bool numbers = BaseType(array) == xltypeMulti && array.val.array.lparray != nullptr;
    std::size_t cells =
        numbers ? std::size_t{array.val.array.rows} * array.val.array.columns : 0;
    std::size_t expected = std::size_t{band.rwLast} - band.rwFirst + 1;
    numbers = numbers && cells == expected && filled + cells <= count;
    for (std::size_t k = 0; numbers && k < cells; ++k) {
      const XLOPER& cell = array.val.array.lparray[k];
      if (BaseType(cell) != xltypeNum) {
        numbers = false;
      } else {
        values[filled + k] = cell.val.num;
      }
    }
    Release(array);
    if (!numbers) {
      ShowAlert(g_nonNumber, kAlertError);
      return kReadNonNumber;
    }
    filled += cells;
  } while (band.rwLast < all.rwLast);
  return kReadDone;
}

void WriteColumn(DWORD sheet, long firstRow, long column, const double* values,
                 std::size_t count, XLOPER* band) {
  if (count == 0) return;
  RefRecord whole, chunk;
  PrepareRef(whole);
  PrepareRef(chunk);
  XLOPER target = AreaValue(whole.table, sheet, firstRow,
                            firstRow + static_cast<long>(count) - 1, column, column);
  whole.value = target;
  whole.value.val.mref.lpmref = &whole.table;
  CopyRef(whole.value, chunk.value);
  const XLREF& all = whole.table.reftbl[0];
  const XLREF& rows = chunk.table.reftbl[0];
  do {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    std::size_t from = std::size_t{rows.rwFirst} - all.rwFirst;
    std::size_t cells = std::size_t{rows.rwLast} - rows.rwFirst + 1;
    for (std::size_t k = 0; k < cells; ++k) {
      band[k].xltype = xltypeNum;
      band[k].val.num = values[from + k];
    }
    XLOPER array{};
    array.xltype = xltypeMulti;
    array.val.array.lparray = band;
    array.val.array.rows = static_cast<WORD>(cells);
    array.val.array.columns = 1;
    Excel4(xlSet, nullptr, 2, &chunk.value, &array);
  } while (rows.rwLast < all.rwLast);
}

// ---- Label and number format -------------------------------------------------------

void ComposeLabel(const char* text, std::size_t textLength, const char* suffix,
                  char* buffer) {
  std::size_t suffixLength = std::min(std::strlen(suffix), kLabelTextMax);
  std::size_t kept = std::min(textLength, kLabelTextMax - suffixLength);
  PutText(buffer, 0, text, kept);
  PutText(buffer, kept, suffix, suffixLength);
  buffer[0] = static_cast<char>(kept + suffixLength);
}

bool ComposeLabelFormula(const char* reference, std::size_t referenceLength,
                         const char* suffix, char* buffer) {
  static const char kHead[] = "=\"Col\"&COLUMN(";
  static const char kMiddle[] = ")&\"";
  std::size_t head = sizeof kHead - 1, middle = sizeof kMiddle - 1;
  std::size_t suffixLength = std::strlen(suffix);
  std::size_t total = head + referenceLength + middle + suffixLength + 1;
  if (total > kLabelTextMax) return false;
  std::size_t at = 0;
  PutText(buffer, at, kHead, head);
  at += head;
  PutText(buffer, at, reference, referenceLength);
  at += referenceLength;
  PutText(buffer, at, kMiddle, middle);
  at += middle;
  PutText(buffer, at, suffix, suffixLength);
  at += suffixLength;
  PutText(buffer, at, "\"", 1);
  buffer[0] = static_cast<char>(total);
  return true;
}

void LabelAndFormat(const XLOPER& data, DWORD outputSheet, long outputColumn,
                    long writtenFirst, long writtenLast, const char* suffix,
                    char* buffer) {
  const XLREF* area = FirstArea(data);
  if (area == nullptr) return;
  const DWORD sheet = data.val.mref.idSheet;
  const long first = area->rwFirst;
  const long column = area->colFirst;
  const long above = first > 0 ? first - 1 : first;

  XLOPER aboveValue, firstValue, typed;
  bool aboveFilled = CellValue(sheet, above, column, aboveValue);
  bool firstFilled = CellValue(sheet, first, column, firstValue);
  bool typedFilled = false;
  bool aboveText = aboveFilled && IsText(aboveValue);
  bool firstText = firstFilled && IsText(firstValue);

  const char* taken = nullptr;
  bool ask = false;
  if (aboveText) {
    if (firstText && above != first) {
      ask = true;
    } else {
      taken = aboveValue.val.str;
    }
  } else if (firstText) {
    taken = firstValue.val.str;
  } else if (outputSheet != sheet) {
    ask = true;
  }
  if (ask) {
    typedFilled = CallExcel(xlfInput, &typed, 3, TempString(g_labelPrompt),
                            TempNumber(2), TempString(g_labelTitle)) == xlretSuccess;
    if (typedFilled && IsText(typed)) taken = typed.val.str;
  }

  if (taken != nullptr) {
    ComposeLabel(taken + 1, CountedLength(taken), suffix, buffer);
    EnterText(buffer, outputSheet, first, outputColumn);
  } else if (!ask) {
    XLOPER text;
    bool formula = false;
    if (Excel4(xlfReftext, &text, 1, const_cast<LPXLOPER>(&data)) == xlretSuccess) {
      formula = IsText(text) && ComposeLabelFormula(text.val.str + 1,
                                                    CountedLength(text.val.str),
                                                    suffix, buffer);
      Release(text);
    }
    if (!formula) {
      // A reference text too long for a formula: the label the formula
      // would show, entered as text.
      char name[16];
      int length = std::snprintf(name, sizeof name, "Col%ld", column + 1);
      ComposeLabel(name, static_cast<std::size_t>(length), suffix, buffer);
    }
    EnterText(buffer, outputSheet, first, outputColumn);
  }
  if (aboveFilled) Release(aboveValue);
  if (firstFilled) Release(firstValue);
  if (typedFilled) Release(typed);

  if (writtenFirst <= writtenLast) {
    XLMREF writtenTable;
    XLOPER written = AreaValue(writtenTable, outputSheet, writtenFirst, writtenLast,
                               outputColumn, outputColumn);
    Excel4(xlcFormulaGoto, nullptr, 1, &written);
    XLMREF firstTable;
    XLOPER firstCell = AreaValue(firstTable, sheet, first, first, column, column);
    XLOPER format;
    if (CallExcel(xlfGetCell, &format, 2, TempNumber(7), &firstCell) ==
        xlretSuccess) {
      if (IsText(format)) Excel4(xlcFormatNumber, nullptr, 1, &format);
      Release(format);
    }
  }
  XLMREF labelTable;
  XLOPER label = AreaValue(labelTable, outputSheet, first, first, outputColumn,
                           outputColumn);
  FormatTitleRow(label);
}

}  // namespace hvt::column
