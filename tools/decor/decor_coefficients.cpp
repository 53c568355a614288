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

// GET.something of a type and a document name; false when the host gives
// nothing (the answer then need not be released).
bool Ask(int function, double type, char* document, XLOPER& answer) {
  int code = document != nullptr
                 ? CallExcel(function, &answer, 2, TempNumber(type), TempString(document))
                 : CallExcel(function, &answer, 1, TempNumber(type));
  return code == xlretSuccess;
}

bool IsText(const XLOPER& value) {
  return BaseType(value) == xltypeStr && value.val.str != nullptr;
}

// Whether a list of names (an array or a single text) holds the coefficient
// sheet's name, ignoring case. Only the whole name counts: a person's sheet
// whose name merely begins with it is not ours.
bool ListHolds(const XLOPER& list, const char* name) {
  if (BaseType(list) == xltypeStr) return IsText(list) && CompareCounted(list.val.str, name) == 0;
  if (BaseType(list) != xltypeMulti || list.val.array.lparray == nullptr) return false;
  std::size_t count = std::size_t{list.val.array.rows} * list.val.array.columns;
  for (std::size_t i = 0; i < count; ++i) {
    const XLOPER& entry = list.val.array.lparray[i];
    if (IsText(entry) && CompareCounted(entry.val.str, name) == 0) return true;
  }
  return false;
}

// The id of a sheet by name, or of the active sheet when `name` is null; 0
// when the host knows none.
IDSHEET SheetIdOf(char* name) {
  XLOPER id{};
  int code = name != nullptr ? CallExcel(xlSheetId, &id, 1, TempString(name))
                             : Excel4(xlSheetId, &id, 0);
  if (code != xlretSuccess) return 0;
  IDSHEET sheet = BaseType(id) == xltypeRef ? id.val.mref.idSheet : 0;
  ReleaseHostValue(id);
  return sheet;
}

// Activates the coefficient sheet; true only when it is then the active
// sheet, so that nothing meant for it reaches a sheet of the person's.
bool ActivateCoefficientSheet() {
  ActivateSheet(g_sheet.name);
  IDSHEET active = SheetIdOf(nullptr);
  return active != 0 && active == SheetIdOf(g_sheet.name);
}

// The "[book]" part of a sheet text, brackets included; empty without one.
std::size_t BookPartLength(const char* sheetText) {
  std::size_t length = CountedLength(sheetText);
  if (length < 2 || sheetText[1] != '[') return 0;
  const void* close = std::memchr(sheetText + 1, ']', length);
  return close == nullptr ? 0 : static_cast<const char*>(close) - (sheetText + 1) + 1;
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

// The directory prefix under which a host without workbooks saves the sheet:
// the input document's directory when it is not the current one.
void SavePrefix(char* inputSheet, char* prefix) {
  prefix[0] = 0;
  prefix[1] = '\0';
  XLOPER directory{};
  if (!Ask(xlfGetDocument, 2, inputSheet, directory)) return;
  if (IsText(directory)) {
    XLOPER current{};
    if (Excel4(xlfDirectory, &current, 0) == xlretSuccess) {
      bool same = IsText(current) &&
                  CountedLength(current.val.str) == CountedLength(directory.val.str) &&
                  CompareCounted(current.val.str, directory.val.str) == 0;
      if (!same && CountedLength(directory.val.str) + 1 < kNameSize - 1) {
        CopyText(directory.val.str, prefix, kNameSize);
        AppendCounted(prefix, kNameSize, g_backslash);
        SetCountedLength(prefix);
      }
      ReleaseHostValue(current);
    }
  }
  ReleaseHostValue(directory);
}

bool BookOfOutput(XLOPER& book) {
  return Ask(xlfGetDocument, 68, g_sheet.outputSheet, book) && IsText(book);
}

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
    CallExcel(xlcActivate, nullptr, 1, TempString(sheetText));
    return;
  }
  // A sheet of a workbook: its book's window, then the sheet in it.
  const std::size_t split = static_cast<const char*>(close) - text;
  char book[kNameSize], sheet[kNameSize];
  std::memcpy(book + 1, text + 1, split - 1);
  book[split] = '\0';
  std::memcpy(sheet + 1, text + split + 1, length - split - 1);
  sheet[length - split] = '\0';
  CallExcel(xlcActivate, nullptr, 1, TempString(book));
  CallExcel(xlcWorkbookActivate, nullptr, 1, TempString(sheet));
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
  XLOPER outputText{}, inputText{};
  if (CallExcel(xlfGetCell, &outputText, 2, TempNumber(32), &g_output.value) !=
      xlretSuccess) {
    outputText.xltype = xltypeNil;
  }
  if (CallExcel(xlfGetCell, &inputText, 2, TempNumber(32), &g_input.value) !=
      xlretSuccess) {
    inputText.xltype = xltypeNil;
  }
  bool texts = IsText(outputText) && IsText(inputText);
  if (texts) CopyText(outputText.val.str, g_sheet.outputSheet, kNameSize);
  char inputSheet[kNameSize];
  if (texts) CopyText(inputText.val.str, inputSheet, kNameSize);
  if (BaseType(outputText) != xltypeNil) ReleaseHostValue(outputText);
  if (BaseType(inputText) != xltypeNil) ReleaseHostValue(inputText);
  if (!texts) {
    ShowMessage(text::kDecorSheetNotFound + 1, kAlertError);
    return 0;
  }

  XLOPER kind{};
  g_sheet.workbook = false;
  if (Ask(xlfGetDocument, 67, inputSheet, kind)) {
    g_sheet.workbook = BaseType(kind) != xltypeErr;
    ReleaseHostValue(kind);
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
  if (g_sheet.workbook && CountedLength(g_sheet.shortName) > kSheetNameLimit) {
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
  XLOPER book{};
  bool haveBook = false;
  if (g_sheet.workbook) {
    haveBook = BookOfOutput(book);
    XLOPER sheets{};
    if (haveBook &&
        CallExcel(xlfGetWorkbook, &sheets, 2, TempNumber(1), &book) == xlretSuccess) {
      found = ListHolds(sheets, g_sheet.name);
      ReleaseHostValue(sheets);
    }
  } else {
    XLOPER documents{};
    if (Excel4(xlfDocuments, &documents, 0) == xlretSuccess) {
      found = ListHolds(documents, g_sheet.name);
      ReleaseHostValue(documents);
    }
  }

  if (found) {
    // A hidden sheet or window cannot be made active.
    if (g_sheet.workbook && g_menuBar == 10) {
      CallExcel(xlcWorkbookUnhide, nullptr, 1, TempString(g_sheet.shortName));
    } else if (!g_sheet.workbook) {
      CallExcel(kUnhideWindow, nullptr, 1, TempString(g_sheet.name));
    }
    g_sheet.newSheet = false;
    if (ActivateCoefficientSheet()) {
      // Protected by us without a password: unprotected without one.
      CallExcel(xlcProtectDocument, nullptr, 2, TempBoolean(0), TempBoolean(0));
    }
  } else if (g_sheet.workbook) {
    ActivateSheet(g_sheet.outputSheet);
    const IDSHEET before = SheetIdOf(nullptr);
    CallExcel(xlcNew, nullptr, 3, TempNumber(1), TempMissing(), TempBoolean(1));
    XLOPER full{};
    // Only a sheet that is really new is ours to rename and later remove.
    if (SheetIdOf(nullptr) != before && Ask(xlfGetDocument, 1, nullptr, full)) {
      if (IsText(full)) {
        g_sheet.newSheet = true;
        char added[kNameSize];
        ShortSheetName(full.val.str, added, kNameSize);
        if (haveBook) {
          CallExcel(xlcWorkbookMove, nullptr, 2, TempString(added), &book);
        }
        CallExcel(xlcWorkbookActivate, nullptr, 1, TempString(added));
        CallExcel(xlcWorkbookOptions, nullptr, 3, TempString(added), TempMissing(),
                  TempString(g_sheet.shortName));
        if (SheetIdOf(g_sheet.name) == 0) {
          // The rename failed: the sheet added goes under the name it has.
          if (g_menuBar == 10 && SheetIdOf(nullptr) != before) {
            CallExcel(xlcWorkbookDelete, nullptr, 1, TempString(added));
          }
          g_sheet.newSheet = false;
        }
      }
      ReleaseHostValue(full);
    }
  } else {
    CallExcel(xlcNew, nullptr, 1, TempNumber(1));
    g_sheet.newSheet = true;
    char path[kNameSize];
    CopyText(prefix, path, kNameSize);
    AppendCounted(path, kNameSize, g_sheet.name);
    SetCountedLength(path);
    // The document is saved at once under its name; a file this run creates
    // goes again when the run fails.
    HFILE existing = _lopen(path + 1, OF_READ);
    if (existing != HFILE_ERROR) _lclose(existing);
    CallExcel(xlcSaveAs, nullptr, 1, TempString(path));
    if (existing == HFILE_ERROR) CopyText(path, g_sheet.createdFile, kNameSize);
  }
  if (haveBook) ReleaseHostValue(book);
  g_sheet.prepared = true;

  XLOPER id{};
  bool known = CallExcel(xlSheetId, &id, 1, TempString(g_sheet.name)) == xlretSuccess;
  IDSHEET sheet = 0;
  if (known) {
    known = BaseType(id) == xltypeRef;
    if (known) sheet = id.val.mref.idSheet;
    ReleaseHostValue(id);
  }
  if (!known) {
    ShowMessage(text::kDecorSheetNotCreated + 1, kAlertError);
    return 0;
  }
  PrepareRef(g_coefArea);
  g_coefArea.value.val.mref.idSheet = sheet;
  g_coefArea.table.reftbl[0] = XLREF{0, static_cast<WORD>(columns + 1), 0,
                                     static_cast<BYTE>(columns - 1)};
  Excel4(xlcFormulaGoto, nullptr, 1, &g_coefArea.value);
  CallExcel(xlcCellProtection, nullptr, 1, TempBoolean(1));
  return 1;
}

void FinishCoefficientSheet() {
  if (!g_sheet.prepared || g_sheet.name == nullptr) return;
  // Protecting, saving or hiding whatever sheet is active would reach a
  // sheet of the person's when the coefficient sheet cannot be activated.
  if (!ActivateCoefficientSheet()) return;
  Excel4(xlcProtectDocument, nullptr, 0);
  if (!g_sheet.workbook) {
    // Saved while its window is still the active one: a hidden window
    // cannot be activated to save it afterwards.
    Excel4(xlcSave, nullptr, 0);
    Excel4(xlcHide, nullptr, 0);
    return;
  }
  XLOPER book{};
  if (!BookOfOutput(book)) return;
  CallExcel(xlcActivate, nullptr, 1, &book);
  XLOPER active{};
  bool haveActive =
      CallExcel(xlfGetWorkbook, &active, 2, TempNumber(2), &book) == xlretSuccess;
  if (g_menuBar == 10) {
    CallExcel(xlcWorkbookHide, nullptr, 1, TempString(g_sheet.shortName));
  } else {
    CallExcel(xlcWorkbookActivate, nullptr, 2, TempString(g_sheet.shortName),
              TempBoolean(0));
    XLOPER hidden{};
    bool visible = false;
    if (CallExcel(xlfGetWindow, &hidden, 2, TempNumber(7),
                  TempString(g_sheet.name)) == xlretSuccess) {
      visible = BaseType(hidden) == xltypeBool && hidden.val.xbool == 0;
      ReleaseHostValue(hidden);
    }
    if (visible) {
      if (haveActive && IsText(active)) {
        CallExcel(xlcWorkbookActivate, nullptr, 2, &active, TempBoolean(0));
      }
      CallExcel(xlcWorkbookActivate, nullptr, 2, TempString(g_sheet.shortName),
                TempBoolean(1));
      Excel4(xlcHide, nullptr, 0);
    }
  }
  if (haveActive) ReleaseHostValue(active);
  ReleaseHostValue(book);
}

void DiscardCoefficientSheet() {
  if (!g_sheet.prepared || !g_sheet.newSheet || g_sheet.name == nullptr) return;
  if (!g_sheet.workbook) {
    if (ActivateCoefficientSheet()) {
      CallExcel(xlcFileClose, nullptr, 1, TempBoolean(0));
      if (CountedLength(g_sheet.createdFile) > 0) DeleteFileA(g_sheet.createdFile + 1);
    }
  } else if (g_menuBar == 10) {
    CallExcel(xlcWorkbookUnhide, nullptr, 1, TempString(g_sheet.shortName));
    CallExcel(xlcWorkbookDelete, nullptr, 1, TempString(g_sheet.shortName));
  } else {
    CallExcel(xlcWorkbookMove, nullptr, 1, TempString(g_sheet.name));
    CallExcel(xlcActivate, nullptr, 1, TempString(g_sheet.shortName));
    CallExcel(xlcClose, nullptr, 1, TempBoolean(0));
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

int WriteCoefficientData(HFILE file) {
  const XLREF* area = FirstArea(g_coefArea.value);
  if (area == nullptr) return 0;
  const std::size_t rows = std::size_t{area->rwLast} - area->rwFirst + 1;
  const std::size_t columns = std::size_t{area->colLast} - area->colFirst + 1;
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

  RefRecord chunk;
  PrepareRef(chunk);
  CopyRef(g_coefArea.value, chunk.value);
  while (result == 1) {
    NextRowChunk(g_coefArea.value, chunk.value, kChunkCells);
    const XLREF& band = chunk.table.reftbl[0];
    const std::size_t count =
        (std::size_t{band.rwLast} - band.rwFirst + 1) * columns;
    XLOPER values{};
    if (CallExcel(xlCoerce, &values, 2, &chunk.value, TempInteger(xltypeMulti)) !=
        xlretSuccess) {
      values.xltype = xltypeNil;
    }
    bool numbers = BaseType(values) == xltypeMulti && values.val.array.lparray != nullptr &&
                   std::size_t{values.val.array.rows} * values.val.array.columns == count;
    for (std::size_t i = 0; numbers && i < count; ++i) {
      const XLOPER& cell = values.val.array.lparray[i];
      if (BaseType(cell) != xltypeNum) {
        numbers = false;
        break;
      }
      PutLittleEndian(cell.val.num, bytes + 8 * i);
    }
    if (BaseType(values) != xltypeNil) ReleaseHostValue(values);
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

}  // namespace hvt::decor
