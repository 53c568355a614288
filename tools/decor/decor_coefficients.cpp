// The decorrelator's coefficient sheet (hidden, protected, named after the
// input sheet) and the optional binary coefficient file.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/text_calls.h"
#include "host/texts.h"
#include "tools/decor/decor.h"

namespace hvt::decor {

CoefficientSheet g_sheet;

namespace {

// UNHIDE(window_text), which the SDK header names no constant for.
constexpr int kUnhideWindow = 94 | xlCommand;

// The "Save Coefficient File" dialog. Row 6 starts below the box and shows
// only once its y is moved to 170.
DialogRow g_saveDialog[] = {
    {{" ", " ", " ", " 392", " 230", " Save Coefficient File", " 2"}},
    {{" 5", " 28", " 11", " 200", " 10", " Name of coefficient file", " "}},
    {{" 6", " 28", " 27", " 160", " ", " ", " binary.ucx"}},
    {{" 18", " 28", " 47", " 160", " 101", " ", " "}},
    {{" 19", " 206", " 47", " 160", " 100", " ", " "}},
    {{" 5", " 28", " 152", " 160", " 12", " Text", " "}},
    {{" 5", " 28", " 300", " 360", " 12",
      " File Exists! Change file name or overwrite.", " "}},
    {{" 5", " 206", " 28", " 160", " 12", " Drive and Directory", " "}},
    {{" 1", " 35", " 190", " 88", " ", " Save", " "}},
    {{" 3", " 153", " 190", " 88", " ", " Overwrite", " "}},
    {{" 2", " 267", " 190", " 88", " ", " Cancel", " "}},
};
constexpr std::size_t kSaveRows = std::size(g_saveDialog);
constexpr std::size_t kOverwriteButton = 9;
constexpr std::size_t kNameItem = 2;
constexpr std::size_t kExistsItem = 6;

bool g_saveDialogPrepared = false;
char g_fileName[kNameSize];  // counted: the name shown in the dialog
char g_visibleY[] = "\x03" "170";  // counted
char g_extension[] = ".COF";
char g_backslash[] = "\x01\\";  // counted "\\"
constexpr char kTemporarySuffix[] = ".part";

void CopyText(const char* counted, char* out, std::size_t capacity) {
  std::size_t length = CountedLength(counted);
  if (length + 2 > capacity) length = capacity - 2;
  std::memcpy(out + 1, counted + 1, length);
  out[0] = static_cast<char>(length);
  out[1 + length] = '\0';
}

// GET.something of a type and a document name (the active one when null),
// answered as text into `out` (kNameSize bytes).
bool AskText(int function, double type, char* document, char* out) {
  return document != nullptr
             ? TextCallText(function, out, kNameSize,
                            {NumberArgument(type), TextArgumentOf(document)})
             : TextCallText(function, out, kNameSize, {NumberArgument(type)});
}

// Activates the coefficient sheet; true only when it is then the active
// sheet, so that nothing meant for it reaches a sheet of the person's.
bool ActivateCoefficientSheet() {
  ActivateSheet(g_sheet.name);
  IDSHEET active = SheetIdByName(nullptr);
  return active != 0 && active == SheetIdByName(g_sheet.name);
}

// The "[book]" part of a sheet text, brackets included; empty without one.
std::size_t BookPartLength(const char* sheetText) {
  std::size_t length = CountedLength(sheetText);
  if (length < 2 || sheetText[1] != '[') return 0;
  const void* close = std::memchr(sheetText + 1, ']', length);
  return close == nullptr ? 0 : static_cast<const char*>(close) - (sheetText + 1) + 1;
}

bool IsText(const XLOPER& value) {
  return BaseType(value) == xltypeStr && value.val.str != nullptr;
}

bool SameBook(const char* a, const char* b) {
  std::size_t length = BookPartLength(a);
  if (length != BookPartLength(b)) return false;
  for (std::size_t i = 1; i <= length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Longest sheet name a workbook takes.
constexpr std::size_t kSheetNameLimit = 31;

// A sheet name's length as the host counts it: bytes through the 4-series,
// UTF-16 units through the 12-series.
std::size_t SheetNameLength(const char* name) {
  XCHAR wide[2 * 255 + 2];
  if (!WideHost() || !WidenCounted(name, wide, std::size(wide))) return CountedLength(name);
  return wide[0];
}

// The directory prefix under which a host without workbooks saves the sheet:
// the input document's directory when it is not the current one.
void SavePrefix(char* inputSheet, char* prefix) {
  prefix[0] = 0;
  prefix[1] = '\0';
  char directory[kNameSize];
  if (!AskText(xlfGetDocument, 2, inputSheet, directory)) return;
  char current[kNameSize];
  if (!TextCallText(xlfDirectory, current, sizeof current, {})) return;
  bool same = CountedLength(current) == CountedLength(directory) &&
              CompareCounted(current, directory) == 0;
  if (!same && CountedLength(directory) + 1 < kNameSize - 1) {
    CopyText(directory, prefix, kNameSize);
    AppendCounted(prefix, kNameSize, g_backslash);
    SetCountedLength(prefix);
  }
}

// The output's book name (GET.DOCUMENT(68)) into `book`.
bool BookOfOutput(char* book) { return AskText(xlfGetDocument, 68, g_sheet.outputSheet, book); }

void PutLittleEndian(double value, unsigned char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

}  // namespace

void ActivateSheet(char* sheetText) {
  std::size_t length = CountedLength(sheetText);
  const char* text = sheetText + 1;
  const void* close = std::memchr(text, ']', length);
  if (!g_sheet.workbook || length < 2 || text[0] != '[' || close == nullptr) {
    TextCall(xlcActivate, {TextArgumentOf(sheetText)});
    return;
  }
  // A sheet of a workbook: its book's window, then the sheet in it.
  const std::size_t split = static_cast<const char*>(close) - text;
  char book[kNameSize], sheet[kNameSize];
  std::memcpy(book + 1, text + 1, split - 1);
  book[split] = '\0';
  std::memcpy(sheet + 1, text + split + 1, length - split - 1);
  sheet[length - split] = '\0';
  TextCall(xlcActivate, {TextArgumentOf(book)});
  TextCall(xlcWorkbookActivate, {TextArgumentOf(sheet)});
}

// ---- Names ------------------------------------------------------------------

bool BuildCoefficientName(const char* sheetText, bool workbook, char* out,
                          std::size_t capacity) {
  std::size_t length = CountedLength(sheetText);
  const char* text = sheetText + 1;
  std::size_t from = 0;
  if (workbook) {
    const void* bracket = std::memchr(text, ']', length);
    if (bracket != nullptr) from = static_cast<const char*>(bracket) - text;
  }
  std::size_t keep = length;
  if (from < length) {
    if (const void* dot = std::memchr(text + from, '.', length - from)) {
      keep = static_cast<const char*>(dot) - text;
    }
  }
  std::size_t total = keep + std::strlen(g_extension);
  if (total > 255 || total + 2 > capacity) return false;
  std::memcpy(out + 1, text, keep);
  std::memcpy(out + 1 + keep, g_extension, std::strlen(g_extension));
  out[0] = static_cast<char>(total);
  out[1 + total] = '\0';
  return true;
}

void ShortSheetName(const char* name, char* out, std::size_t capacity) {
  std::size_t length = CountedLength(name);
  const char* text = name + 1;
  const void* bracket = std::memchr(text, ']', length);
  std::size_t from = bracket == nullptr ? 0 : static_cast<const char*>(bracket) - text + 1;
  std::size_t keep = length - from;
  if (keep + 2 > capacity) keep = capacity - 2;
  std::memcpy(out + 1, text + from, keep);
  out[0] = static_cast<char>(keep);
  out[1 + keep] = '\0';
}

void DefaultFileName(const char* shortName, char* out, std::size_t capacity) {
  CopyText(shortName, out, capacity);
  std::size_t length = CountedLength(out);
  char* text = out + 1;
  const char* dot = nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '.') dot = text + i;
  }
  if (dot == nullptr) return;
  std::size_t at = static_cast<std::size_t>(dot - text) + 1;
  // Three characters after the dot, however many there were.
  if (at + 3 + 2 > capacity) return;
  std::memcpy(text + at, "UCX", 3);
  out[0] = static_cast<char>(at + 3);
  text[at + 3] = '\0';
}

// ---- The sheet ----------------------------------------------------------------

int PrepareCoefficientSheet(std::size_t columns) {
  ReleaseCoefficientSheet();
  // The sheets' texts through the records of the host's interface.
  char inputSheet[kNameSize];
  const bool texts =
      TextCallText(xlfGetCell, g_sheet.outputSheet, kNameSize,
                   {NumberArgument(32), ReferenceArgument(g_output.value, g_output12.value)}) &&
      TextCallText(xlfGetCell, inputSheet, kNameSize,
                   {NumberArgument(32), ReferenceArgument(g_input.value, g_input12.value)});
  if (!texts) {
    ShowMessage(text::kDecorSheetNotFound + 1, kAlertError);
    return 0;
  }

  XLOPER kind{};
  g_sheet.workbook = false;
  if (TextCallValue(xlfGetDocument, kind,
                    {NumberArgument(67), TextArgumentOf(inputSheet)})) {
    g_sheet.workbook = kind.xltype != xltypeErr;
  }

  g_sheet.name = static_cast<char*>(LocalAlloc(LPTR, kNameSize));
  if (g_sheet.name == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  if (!BuildCoefficientName(inputSheet, g_sheet.workbook, g_sheet.name, kNameSize)) {
    ShowMessage(text::kDecorSheetNameTooLong + 1,
                kAlertError);
    return 0;
  }
  ShortSheetName(g_sheet.name, g_sheet.shortName, kNameSize);
  // Everything that would refuse the sheet is asked before one is made.
  if (g_sheet.workbook && SheetNameLength(g_sheet.shortName) > kSheetNameLimit) {
    ShowMessage(text::kDecorCoefficientNameTooLong + 1, kAlertError);
    return 0;
  }
  if (CompareCounted(g_sheet.name, inputSheet) == 0 ||
      CompareCounted(g_sheet.name, g_sheet.outputSheet) == 0) {
    ShowMessage(text::kDecorCoefficientIsDataSheet + 1, kAlertError);
    return 0;
  }
  if (g_sheet.workbook && !SameBook(inputSheet, g_sheet.outputSheet)) {
    ShowMessage(text::kDecorOtherWorkbook + 1, kAlertError);
    return 0;
  }
  char prefix[kNameSize] = {0, '\0'};
  if (!g_sheet.workbook) SavePrefix(inputSheet, prefix);

  bool found = false;
  char book[kNameSize];
  bool haveBook = false;
  if (g_sheet.workbook) {
    haveBook = BookOfOutput(book);
    found = haveBook && TextCallListHolds(xlfGetWorkbook, g_sheet.name,
                                          {NumberArgument(1), TextArgumentOf(book)});
  } else {
    found = TextCallListHolds(xlfDocuments, g_sheet.name, {});
  }

  if (found) {
    // A hidden sheet or window cannot be made active.
    if (g_sheet.workbook && g_menuBar == 10) {
      TextCall(xlcWorkbookUnhide, {TextArgumentOf(g_sheet.shortName)});
    } else if (!g_sheet.workbook) {
      TextCall(kUnhideWindow, {TextArgumentOf(g_sheet.name)});
    }
    g_sheet.newSheet = false;
    if (ActivateCoefficientSheet()) {
      // Protected by us without a password: unprotected without one.
      TextCall(xlcProtectDocument, {BooleanArgument(false), BooleanArgument(false)});
    }
  } else if (g_sheet.workbook) {
    ActivateSheet(g_sheet.outputSheet);
    const IDSHEET before = SheetIdByName(nullptr);
    TextCall(xlcNew, {NumberArgument(1), MissingArgument(), BooleanArgument(true)});
    char full[kNameSize];
    // Only a sheet that is really new is ours to rename and later remove.
    if (SheetIdByName(nullptr) != before && AskText(xlfGetDocument, 1, nullptr, full)) {
      g_sheet.newSheet = true;
      char added[kNameSize];
      ShortSheetName(full, added, kNameSize);
      if (haveBook) {
        TextCall(xlcWorkbookMove, {TextArgumentOf(added), TextArgumentOf(book)});
      }
      TextCall(xlcWorkbookActivate, {TextArgumentOf(added)});
      TextCall(xlcWorkbookOptions, {TextArgumentOf(added), MissingArgument(),
                                    TextArgumentOf(g_sheet.shortName)});
      if (SheetIdByName(g_sheet.name) == 0) {
        // The rename failed: the sheet added goes under the name it has.
        if (g_menuBar == 10 && SheetIdByName(nullptr) != before) {
          TextCall(xlcWorkbookDelete, {TextArgumentOf(added)});
        }
        g_sheet.newSheet = false;
      }
    }
  } else {
    TextCall(xlcNew, {NumberArgument(1)});
    g_sheet.newSheet = true;
    char path[kNameSize];
    CopyText(prefix, path, kNameSize);
    AppendCounted(path, kNameSize, g_sheet.name);
    SetCountedLength(path);
    // The document is saved at once under its name; a file this run creates
    // goes again when the run fails.
    HFILE existing = _lopen(path + 1, OF_READ);
    if (existing != HFILE_ERROR) _lclose(existing);
    TextCall(xlcSaveAs, {TextArgumentOf(path)});
    if (existing == HFILE_ERROR) CopyText(path, g_sheet.createdFile, kNameSize);
  }
  g_sheet.prepared = true;

  const IDSHEET sheet = SheetIdByName(g_sheet.name);
  if (sheet == 0) {
    ShowMessage(text::kDecorSheetNotCreated + 1, kAlertError);
    return 0;
  }
  if (WideHost()) {
    SetRecord(g_coefArea12, sheet, MakeArea<XLREF12>(0, long(columns) + 1, 0, long(columns) - 1));
  } else {
    SetRecord(g_coefArea, sheet, MakeArea<XLREF>(0, long(columns) + 1, 0, long(columns) - 1));
  }
  TextCall(xlcFormulaGoto, {ReferenceArgument(g_coefArea.value, g_coefArea12.value)});
  TextCall(xlcCellProtection, {BooleanArgument(true)});
  return 1;
}

void FinishCoefficientSheet() {
  if (!g_sheet.prepared || g_sheet.name == nullptr) return;
  // Protecting, saving or hiding whatever sheet is active would reach a
  // sheet of the person's when the coefficient sheet cannot be activated.
  if (!ActivateCoefficientSheet()) return;
  TextCall(xlcProtectDocument, {});
  if (!g_sheet.workbook) {
    // Saved while its window is still the active one: a hidden window
    // cannot be activated to save it afterwards.
    TextCall(xlcSave, {});
    TextCall(xlcHide, {});
    return;
  }
  char book[kNameSize];
  if (!BookOfOutput(book)) return;
  TextCall(xlcActivate, {TextArgumentOf(book)});
  char active[kNameSize];
  const bool haveActive =
      TextCallText(xlfGetWorkbook, active, kNameSize, {NumberArgument(2), TextArgumentOf(book)});
  if (g_menuBar == 10) {
    TextCall(xlcWorkbookHide, {TextArgumentOf(g_sheet.shortName)});
  } else {
    TextCall(xlcWorkbookActivate, {TextArgumentOf(g_sheet.shortName), BooleanArgument(false)});
    XLOPER hidden{};
    const bool visible =
        TextCallValue(xlfGetWindow, hidden, {NumberArgument(7), TextArgumentOf(g_sheet.name)}) &&
        hidden.xltype == xltypeBool && hidden.val.xbool == 0;
    if (visible) {
      if (haveActive) {
        TextCall(xlcWorkbookActivate, {TextArgumentOf(active), BooleanArgument(false)});
      }
      TextCall(xlcWorkbookActivate, {TextArgumentOf(g_sheet.shortName), BooleanArgument(true)});
      TextCall(xlcHide, {});
    }
  }
}

void DiscardCoefficientSheet() {
  if (!g_sheet.prepared || !g_sheet.newSheet || g_sheet.name == nullptr) return;
  if (!g_sheet.workbook) {
    if (ActivateCoefficientSheet()) {
      TextCall(xlcFileClose, {BooleanArgument(false)});
      if (CountedLength(g_sheet.createdFile) > 0) DeleteFileA(g_sheet.createdFile + 1);
    }
  } else if (g_menuBar == 10) {
    TextCall(xlcWorkbookUnhide, {TextArgumentOf(g_sheet.shortName)});
    TextCall(xlcWorkbookDelete, {TextArgumentOf(g_sheet.shortName)});
  } else {
    TextCall(xlcWorkbookMove, {TextArgumentOf(g_sheet.name)});
    TextCall(xlcActivate, {TextArgumentOf(g_sheet.shortName)});
    TextCall(xlcClose, {BooleanArgument(false)});
  }
  g_sheet.newSheet = false;
}

void ReleaseCoefficientSheet() {
  if (g_sheet.name != nullptr) {
    LocalFree(g_sheet.name);
    g_sheet.name = nullptr;
  }
  g_sheet.shortName[0] = 0;
  g_sheet.shortName[1] = '\0';
  g_sheet.createdFile[0] = 0;
  g_sheet.createdFile[1] = '\0';
  g_sheet.newSheet = false;
  g_sheet.prepared = false;
}

// ---- The file -----------------------------------------------------------------

int SaveCoefficientFile() {
  if (!g_saveDialogPrepared) {
    PrepareDialogRows(g_saveDialog, kSaveRows);
    g_saveDialogPrepared = true;
  }
  DefaultFileName(g_sheet.shortName, g_fileName, sizeof g_fileName);

  XLOPER array{};
  if (!BuildDialogArray(g_saveDialog, kSaveRows, array)) {
    ShowInsufficientMemory();
    return 0;
  }
  DialogArrayCell(array, DialogCell(kNameItem, kItemValue))->xltype = xltypeStr;
  DialogArrayCell(array, DialogCell(kNameItem, kItemValue))->val.str = g_fileName;

  int saved = 0;
  for (;;) {
    XLOPER answer{};
    if (Excel4(xlfDialogBox, &answer, 1, &array) != xlretSuccess) break;
    bool shown = BaseType(answer) == xltypeMulti && answer.val.array.rows == kSaveRows &&
                 answer.val.array.columns == kDialogColumns;
    if (!shown) {
      ReleaseHostValue(answer);
      break;  // cancelled
    }
    // What the user typed stays for the next showing; the answer goes back
    // to the host at once.
    const XLOPER& button = answer.val.array.lparray[DialogCell(0, kItemValue)];
    double chosen = BaseType(button) == xltypeNum ? button.val.num
                    : BaseType(button) == xltypeInt ? button.val.w
                                                    : 0;
    const XLOPER& typed = answer.val.array.lparray[DialogCell(kNameItem, kItemValue)];
    if (IsText(typed)) {
      CopyText(typed.val.str, g_fileName, sizeof g_fileName);
    } else {
      g_fileName[0] = 0;
      g_fileName[1] = '\0';
    }
    ReleaseHostValue(answer);

    bool overwrite = chosen == kOverwriteButton;
    if (WriteCoefficientFile(g_fileName + 1, overwrite) == 1) {
      saved = 1;
      break;
    }
    XLOPER* focus = DialogArrayCell(array, DialogCell(0, kItemValue));
    focus->xltype = xltypeNum;
    focus->val.num = kNameItem;
    XLOPER* y = DialogArrayCell(array, DialogCell(kExistsItem, kItemY));
    y->xltype = xltypeStr;
    y->val.str = g_visibleY;
  }
  FreeDialogArray(array);
  return saved;
}

int WriteCoefficientFile(const char* path, bool overwrite) {
  // Bounded copy: a counted name holds at most 255 characters.
  char buffer[kNameSize];
  std::size_t length = strnlen(path, kNameSize - 1);
  std::memcpy(buffer, path, length);
  buffer[length] = '\0';

  if (!overwrite && length > 0) {
    HFILE existing = _lopen(buffer, OF_READWRITE);
    if (existing != HFILE_ERROR) {
      _lclose(existing);
      return 0;
    }
  }
  // Written beside the target under a name of its own and moved over it only
  // when whole: a failed save leaves an old file as it was and no part file.
  char temporary[kNameSize + sizeof kTemporarySuffix];
  std::memcpy(temporary, buffer, length);
  std::memcpy(temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);
  HFILE file = length > 0 ? _lcreat(temporary, 0) : HFILE_ERROR;
  if (file == HFILE_ERROR) {
    ShowMessage(text::kDecorFileNotCreatedDisk + 1, kAlertError);
    return 0;
  }
  int written = WriteCoefficientData(file);
  bool closed = _lclose(file) != HFILE_ERROR;
  if (written != 1 || !closed ||
      !MoveFileExA(temporary, buffer, MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temporary);
    ShowMessage(text::kDecorFileNotSavedDisk + 1, kAlertError);
    return 0;
  }
  return 1;
}

namespace {

// The area's cells in bands of rows, read through the record of the host's
// interface.
template <HostRecord Oper>
int WriteAreaCells(HFILE file, RefRecordOf<Oper>& whole) {
  const auto* area = FirstArea(whole.value);
  if (area == nullptr) return 0;
  const std::size_t rows = static_cast<std::size_t>(AreaRowCount(*area));
  const std::size_t columns = static_cast<std::size_t>(AreaColumnCount(*area));
  const std::size_t cells = rows * columns;
  const std::size_t block =
      cells <= kChunkCells ? cells : columns * (kChunkCells / columns);

  auto* bytes = static_cast<unsigned char*>(AllocGlobal(block * 8));
  if (bytes == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  unsigned char header[16];
  PutLittleEndian(static_cast<double>(rows), header);
  PutLittleEndian(static_cast<double>(columns), header + 8);
  int result = 1;
  if (_lwrite(file, reinterpret_cast<LPCSTR>(header), sizeof header) != sizeof header) {
    ShowMessage(text::kDecorFileIo + 1, kAlertError);
    result = 0;
  }

  RefRecordOf<Oper> chunk;
  PrepareRef(chunk);
  CopyRef(whole.value, chunk.value);
  while (result == 1) {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    const auto& band = chunk.table.reftbl[0];
    const std::size_t count = static_cast<std::size_t>(AreaRowCount(band)) * columns;
    Oper values{};
    Oper asArray = IntegerValue<Oper>(xltypeMulti);
    if (HostCall(xlCoerce, &values, &chunk.value, &asArray) != xlretSuccess) {
      values.xltype = xltypeNil;
    }
    bool numbers = TypeOf(values) == xltypeMulti && values.val.array.lparray != nullptr &&
                   static_cast<std::size_t>(values.val.array.rows) *
                           static_cast<std::size_t>(values.val.array.columns) ==
                       count;
    for (std::size_t i = 0; numbers && i < count; ++i) {
      const Oper& cell = values.val.array.lparray[i];
      if (TypeOf(cell) != xltypeNum) {
        numbers = false;
        break;
      }
      PutLittleEndian(cell.val.num, bytes + 8 * i);
    }
    if (TypeOf(values) != xltypeNil) GiveBack(values);
    if (!numbers) {
      ShowMessage(text::kDecorHiddenNonNumber + 1, kAlertError);
      result = 0;
      break;
    }
    UINT size = static_cast<UINT>(count * 8);
    if (_lwrite(file, reinterpret_cast<LPCSTR>(bytes), size) != size) {
      ShowMessage(text::kDecorFileIo + 1, kAlertError);
      result = 0;
      break;
    }
    if (band.rwLast >= area->rwLast) break;
  }
  FreeGlobal(bytes);
  return result;
}

}  // namespace

int WriteCoefficientData(HFILE file) {
  return WideHost() ? WriteAreaCells(file, g_coefArea12) : WriteAreaCells(file, g_coefArea);
}

}  // namespace hvt::decor
