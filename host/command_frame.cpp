#include "host/command_frame.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <new>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/texts.h"

namespace hvt {

RefRecord g_savedSelection;
RefRecord12 g_savedSelection12;
WORD g_savedAreaCount = 0;
bool g_selectionSaved = false;
double g_savedCalculation = 0;
bool g_calculationSaved = false;
short g_statusBarFlag = 0;

namespace {

constexpr std::size_t kDocumentGrowth = 10;

// A selection of several areas (Ctrl+click), every area of it, in global
// memory for the time of the command; type 0 when the selection has one.
XLOPER g_allAreas{};
// The active cell within the saved selection.
RefRecord g_savedActiveCell;
bool g_activeCellSaved = false;
// The same on a host of version 12 or later, through the 12-series, so a
// selection past the old sheet's last row comes back as it was.
XLOPER12 g_allAreas12{};
RefRecord12 g_savedActiveCell12;

char g_tempBlank[] = " tempblank";
char g_closeBracket[] = " ]";
char g_dot[] = " .";

// A host function answering a number; NaN-free: `fallback` when it gives
// something else.
double AskNumber(int function, double fallback, int count, LPXLOPER a = nullptr,
                 LPXLOPER b = nullptr) {
  XLOPER answer{};
  int code = count == 1 ? CallExcel(function, &answer, 1, a)
                        : CallExcel(function, &answer, 2, a, b);
  if (code != xlretSuccess) return fallback;
  double value = fallback;
  if (BaseType(answer) == xltypeNum) value = answer.val.num;
  if (BaseType(answer) == xltypeInt) value = answer.val.w;
  ReleaseHostValue(answer);
  return value;
}

// A tool's step, kept from throwing into the host: running out of memory
// for a C++ container is reported like any other shortage.
int RunStep(int (*step)()) {
  if (step == nullptr) return 0;
  try {
    return step();
  } catch (const std::bad_alloc&) {
    ShowInsufficientMemory();
  } catch (...) {
  }
  return 0;
}

void Echo(bool on) { CallExcel(xlfEcho, nullptr, 1, TempBoolean(on ? 1 : 0)); }

// The sheet part of "[book]sheet": the text after the "]". False when the
// host gives none; otherwise `sheet` must be released.
bool TextAfterBracket(XLOPER& full, XLOPER& sheet) {
  double position = AskNumber(xlfSearch, 0, 2, TempString(g_closeBracket), &full);
  if (position < 1) return false;
  return CallExcel(xlfMid, &sheet, 3, &full, TempNumber(position + 1),
                   TempNumber(255)) == xlretSuccess;
}

// Whether the workbook `name` holds one worksheet named like its file.
bool SheetNamedLikeBook(XLOPER& name) {
  if (AskNumber(xlfGetWorkbook, 0, 2, TempNumber(4), &name) != 1) return false;
  if (AskNumber(xlfGetDocument, 0, 2, TempNumber(3), &name) != 1) return false;

  bool same = false;
  XLOPER sheets{};
  if (CallExcel(xlfGetWorkbook, &sheets, 2, TempNumber(1), &name) != xlretSuccess) {
    return false;
  }
  XLOPER* first = nullptr;
  if (BaseType(sheets) == xltypeMulti && sheets.val.array.lparray != nullptr &&
      sheets.val.array.rows > 0 && sheets.val.array.columns > 0) {
    first = &sheets.val.array.lparray[0];
  } else if (BaseType(sheets) == xltypeStr) {
    first = &sheets;
  }
  XLOPER sheet{};
  if (first != nullptr && BaseType(*first) == xltypeStr &&
      TextAfterBracket(*first, sheet)) {
    double dot = AskNumber(xlfSearch, 0, 2, TempString(g_dot), &name);
    XLOPER book{};
    if (dot >= 1 &&
        CallExcel(xlfLeft, &book, 2, &name, TempNumber(dot - 1)) == xlretSuccess) {
      same = BaseType(book) == xltypeStr && BaseType(sheet) == xltypeStr &&
             CompareCounted(book.val.str, sheet.val.str) == 0;
      ReleaseHostValue(book);
    }
    ReleaseHostValue(sheet);
  }
  ReleaseHostValue(sheets);
  return same;
}

// A new worksheet in the workbook `name`, renamed "tempblank" and hidden.
void AddTempBlank(XLOPER& name) {
  CallExcel(xlcActivate, nullptr, 1, &name);
  CallExcel(xlcNew, nullptr, 3, TempNumber(1), TempMissing(), TempBoolean(1));
  XLOPER full{};
  if (CallExcel(xlfGetDocument, &full, 2, TempNumber(1), &name) != xlretSuccess) {
    return;
  }
  double length = AskNumber(xlfLen, 0, 1, &full);
  double position = AskNumber(xlfSearch, 0, 2, TempString(g_closeBracket), &full);
  XLOPER sheet{};
  if (position >= 1 && CallExcel(xlfRight, &sheet, 2, &full,
                                 TempNumber(length - position)) == xlretSuccess) {
    CallExcel(xlcWorkbookOptions, nullptr, 3, &sheet, TempMissing(),
              TempString(g_tempBlank));
    CallExcel(xlcWorkbookHide, nullptr, 1, TempString(g_tempBlank));
    ReleaseHostValue(sheet);
  }
  ReleaseHostValue(full);
}

}  // namespace

// ---- Start and end of a command -----------------------------------------------

const XLOPER& SavedSelectionAreas() {
  return BaseType(g_allAreas) == xltypeRef ? g_allAreas : g_savedSelection.value;
}

void GoToSavedSelection() {
  if (!g_selectionSaved) return;
  if (WideHost()) {
    XLOPER12& areas = TypeOf(g_allAreas12) == xltypeRef ? g_allAreas12 : g_savedSelection12.value;
    Excel12(xlcFormulaGoto, nullptr, 1, &areas);
    if (g_activeCellSaved) Excel12(xlcSelect, nullptr, 2, &areas, &g_savedActiveCell12.value);
    return;
  }
  XLOPER& areas = const_cast<XLOPER&>(SavedSelectionAreas());
  Excel4(xlcFormulaGoto, nullptr, 1, &areas);
  if (g_activeCellSaved) Excel4(xlcSelect, nullptr, 2, &areas, &g_savedActiveCell.value);
}

namespace {

void ForgetSavedSelection() {
  if (BaseType(g_allAreas) == xltypeRef) FreeGlobal(g_allAreas.val.mref.lpmref);
  g_allAreas = XLOPER{};
  if (TypeOf(g_allAreas12) == xltypeRef) FreeGlobal(g_allAreas12.val.mref.lpmref);
  g_allAreas12 = XLOPER12{};
  g_selectionSaved = false;
  g_activeCellSaved = false;
  g_savedAreaCount = 0;
}

// The saved selection's records in the interface's own kind.
template <HostRecord Oper>
struct SavedSelection;
template <>
struct SavedSelection<XLOPER> {
  static RefRecord& first() { return g_savedSelection; }
  static XLOPER& all() { return g_allAreas; }
  static RefRecord& active() { return g_savedActiveCell; }
};
template <>
struct SavedSelection<XLOPER12> {
  static RefRecord12& first() { return g_savedSelection12; }
  static XLOPER12& all() { return g_allAreas12; }
  static RefRecord12& active() { return g_savedActiveCell12; }
};

// Keeps the selection `reference` (a reference value): its first area in
// the saved selection record, all of them in the all-areas value when there
// are several. False when memory for the areas ran out.
template <HostRecord Oper>
bool KeepSelection(const Oper& reference) {
  using Saved = SavedSelection<Oper>;
  using Table = typename Interface<Oper>::Table;
  using Ref = typename Interface<Oper>::Ref;
  const Table* table = reference.val.mref.lpmref;
  if (table == nullptr || table->count == 0) return true;
  if (table->count > 1) {
    std::size_t bytes = offsetof(Table, reftbl) + table->count * sizeof(Ref);
    auto* copy = static_cast<Table*>(AllocGlobal(bytes));
    if (copy == nullptr) return false;
    copy->count = table->count;
    std::memcpy(copy->reftbl, table->reftbl, table->count * sizeof(Ref));
    Saved::all().xltype = xltypeRef;
    Saved::all().val.mref.lpmref = copy;
    Saved::all().val.mref.idSheet = reference.val.mref.idSheet;
  }
  // The one-area record never claims more areas than it holds.
  auto& first = Saved::first();
  first.value.xltype = xltypeRef;
  first.value.val.mref.idSheet = reference.val.mref.idSheet;
  first.table.count = 1;
  first.table.reftbl[0] = table->reftbl[0];
  g_savedAreaCount = static_cast<WORD>(table->count);
  g_selectionSaved = true;
  if constexpr (std::is_same_v<Oper, XLOPER12>) {
    // Tools still on the 4-series read the first area as the old sheet
    // holds it.
    const XLREF12& area = table->reftbl[0];
    auto clip = [](long value, long last) { return std::min(value, last); };
    g_savedSelection.value.xltype = xltypeRef;
    g_savedSelection.value.val.mref.idSheet = reference.val.mref.idSheet;
    g_savedSelection.table.count = 1;
    g_savedSelection.table.reftbl[0] =
        MakeArea(clip(area.rwFirst, kXl4MaxRows - 1), clip(area.rwLast, kXl4MaxRows - 1),
                 clip(area.colFirst, kXl4MaxColumns - 1), clip(area.colLast, kXl4MaxColumns - 1));
  }

  Oper active{};
  if (HostCall(xlfActiveCell, &active) == xlretSuccess) {
    Oper cell{};
    Oper wanted = IntegerValue<Oper>(xltypeRef);
    if (HostCall(xlCoerce, &cell, &active, &wanted) == xlretSuccess) {
      if (const auto* area = FirstArea(cell)) {
        Saved::active().value.val.mref.idSheet = cell.val.mref.idSheet;
        Saved::active().table.reftbl[0] = *area;
        g_activeCellSaved = true;
      }
      GiveBack(cell);
    }
    GiveBack(active);
  }
  return true;
}

// Saves the current selection, through the interface the command runs on.
// False when memory ran out ("Insufficient memory!" is then to be shown).
template <HostRecord Oper>
bool SaveSelection() {
  Oper selection{};
  if (HostCall(xlfSelection, &selection) != xlretSuccess) return true;
  bool kept = true;
  Oper reference{};
  Oper wanted = IntegerValue<Oper>(xltypeRef);
  if (HostCall(xlCoerce, &reference, &selection, &wanted) == xlretSuccess) {
    kept = TypeOf(reference) != xltypeRef || KeepSelection(reference);
    GiveBack(reference);
  }
  GiveBack(selection);
  return kept;
}

}  // namespace

int BeginCommand() {
  // The record points into itself; set that up on first use.
  if (g_savedSelection.value.val.mref.lpmref == nullptr) PrepareRef(g_savedSelection);
  if (g_savedActiveCell.value.val.mref.lpmref == nullptr) PrepareRef(g_savedActiveCell);
  if (g_savedSelection12.value.val.mref.lpmref == nullptr) PrepareRef(g_savedSelection12);
  if (g_savedActiveCell12.value.val.mref.lpmref == nullptr) PrepareRef(g_savedActiveCell12);
  ForgetSavedSelection();
  CallExcel(xlfError, nullptr, 1, TempBoolean(0));

  g_statusBarFlag = 0;
  g_savedCalculation = AskNumber(xlfGetDocument, 0, 1, TempNumber(14));
  g_calculationSaved = g_savedCalculation >= 1 && g_savedCalculation <= 3;

  if (AskNumber(xlfGetDocument, 0, 1, TempNumber(3)) != 1) {
    ShowAlert(text::kNotAWorksheet, kAlertError);
    return 0;
  }
  XLOPER group{};
  if (CallExcel(xlfGetWorkspace, &group, 1, TempNumber(20)) == xlretSuccess) {
    bool grouped = BaseType(group) != xltypeErr;
    ReleaseHostValue(group);
    if (grouped) {
      ShowAlert(text::kGroupEditMode, kAlertError);
      return 0;
    }
  }

  XLOPER selection{};
  if (Excel4(xlfSelection, &selection, 0) == xlretSuccess) {
    XLOPER isReference{};
    bool reference = false;
    if (Excel4(xlfIsref, &isReference, 1, &selection) == xlretSuccess) {
      reference = IsTrue(isReference);
      ReleaseHostValue(isReference);
    }
    ReleaseHostValue(selection);
    // A drawing object or the like is selected: select cells instead.
    if (!reference) Excel4(xlcSelect, nullptr, 0);
  }
  if (!(WideHost() ? SaveSelection<XLOPER12>() : SaveSelection<XLOPER>())) {
    ShowInsufficientMemory();
    return 0;
  }

  XLOPER shown{};
  if (CallExcel(xlfGetWorkspace, &shown, 1, TempNumber(6)) == xlretSuccess) {
    bool statusBar = IsTrue(shown);
    ReleaseHostValue(shown);
    if (!statusBar) {
      g_statusBarFlag = 1;
      CallExcel(xlcWorkspace, nullptr, 5, TempMissing(), TempMissing(),
                TempMissing(), TempMissing(), TempBoolean(1));
    }
  }

  Excel4(xlcCalculateNow, nullptr, 0);
  CallExcel(xlcCalculation, nullptr, 1, TempNumber(3));  // manual
  return 1;
}

int RunCommandFrame(const CommandSteps& steps) {
  if (g_versionRead == 0) ReadHostVersion();
  DocumentList list;
  bool done = false;
  if (BeginCommand() != 0) {
    Echo(false);
    bool prepared = true;
    if (g_menuBar == 10) {
      prepared = PrepareProtectedSheets(list) != PrepareOutcome::kAborted;
    }
    if (prepared) {
      Echo(true);
      int accepted = RunStep(steps.dialogs);
      Echo(false);
      if (accepted == 1) done = RunStep(steps.compute) == 1;
    }
  }
  if (!done) {
    if (steps.abortMessage != nullptr) ShowAlert(steps.abortMessage, kAlertError);
    GoToSavedSelection();
  }

  if (g_statusBarFlag != 0) {
    CallExcel(xlcWorkspace, nullptr, 5, TempMissing(), TempMissing(),
              TempMissing(), TempMissing(), TempBoolean(0));
  }
  if (g_menuBar == 10) RestoreProtectedSheets(list);
  if (done && steps.selectOutput != nullptr) steps.selectOutput();
  Excel4(xlcCalculateDocument, nullptr, 0);
  if (g_calculationSaved) {
    CallExcel(xlcCalculation, nullptr, 1, TempNumber(g_savedCalculation));
  }
  CallExcel(xlfError, nullptr, 1, TempBoolean(1));
  ForgetSavedSelection();
  Echo(true);  // the screen updates again, as before the command
  return 1;
}

// ---- Single-sheet workbooks ---------------------------------------------------

bool AppendDocument(DocumentList& list, const char* name) {
  if (list.count + 1 > list.capacity) {
    // Room for 10 more names plus the end mark, zeroed.
    std::size_t capacity = list.capacity + kDocumentGrowth;
    auto* grown = static_cast<XLOPER*>(AllocGlobal((capacity + 1) * sizeof(XLOPER)));
    if (grown == nullptr) return false;
    if (list.names != nullptr) {
      std::memcpy(grown, list.names, list.count * sizeof(XLOPER));
      FreeGlobal(list.names);
    }
    list.names = grown;
    list.capacity = capacity;
  }
  std::size_t length = CountedLength(name);
  // One byte more than the counted text, so the copy also ends in a NUL.
  auto* copy = static_cast<char*>(AllocGlobal(length + 2));
  if (copy == nullptr) return false;
  CopyCounted(name, copy, length + 1);
  XLOPER& entry = list.names[list.count++];
  entry.xltype = xltypeStr;
  entry.val.str = copy;
  return true;
}

void FreeDocumentList(DocumentList& list) {
  if (list.names != nullptr) {
    for (std::size_t i = 0; i < list.count; ++i) {
      FreeGlobal(list.names[i].val.str);
    }
    FreeGlobal(list.names);
  }
  list.count = 0;
  list.capacity = 0;
}

PrepareOutcome PrepareProtectedSheets(DocumentList& list) {
  XLOPER documents{};
  if (Excel4(xlfDocuments, &documents, 0) != xlretSuccess) {
    return PrepareOutcome::kNothing;
  }
  XLOPER* names = nullptr;
  std::size_t count = 0;
  if (BaseType(documents) == xltypeMulti && documents.val.array.lparray != nullptr) {
    names = documents.val.array.lparray;
    count = std::size_t{documents.val.array.rows} * documents.val.array.columns;
  } else if (BaseType(documents) == xltypeStr) {
    names = &documents;
    count = 1;
  }

  bool aborted = false;
  for (std::size_t i = 0; i < count && !aborted; ++i) {
    XLOPER& name = names[i];
    if (BaseType(name) != xltypeStr || name.val.str == nullptr) continue;
    if (!SheetNamedLikeBook(name)) continue;

    XLOPER isProtected{};
    bool locked = false;
    if (CallExcel(xlfGetWorkbook, &isProtected, 2, TempNumber(14), &name) ==
        xlretSuccess) {
      locked = IsTrue(isProtected);
      ReleaseHostValue(isProtected);
    }
    if (locked) {
      if (ShowProtectedWorkbookAlert(&name) == 0) aborted = true;
      continue;
    }
    if (!AppendDocument(list, name.val.str)) {
      ShowInsufficientMemory();
      aborted = true;
      continue;
    }
    AddTempBlank(name);
  }
  ReleaseHostValue(documents);

  if (aborted) {
    // The workbooks already given a "tempblank" sheet get rid of it now:
    // the end of the command will not see this list.
    RestoreProtectedSheets(list);
    return PrepareOutcome::kAborted;
  }
  GoToSavedSelection();
  return list.count == 0 ? PrepareOutcome::kNothing : PrepareOutcome::kList;
}

void RestoreProtectedSheets(DocumentList& list) {
  if (list.names == nullptr) return;
  for (std::size_t i = 0; i < list.count && list.names[i].xltype != 0; ++i) {
    CallExcel(xlcActivate, nullptr, 1, &list.names[i]);
    CallExcel(xlcWorkbookUnhide, nullptr, 1, TempString(g_tempBlank));
    CallExcel(xlcWorkbookDelete, nullptr, 1, TempString(g_tempBlank));
  }
  FreeDocumentList(list);
  GoToSavedSelection();
}

}  // namespace hvt
