// Commands: calculation, the workspace, selecting and going to cells,
// formats and column widths, protection, clearing, copying and entering
// formulas, sheets and workbooks, saving and closing; and xlSet. A command
// Excel itself would refuse (a protected sheet, the last visible sheet)
// shows Excel's alert in the transcript and fails; a call the stand-in
// cannot read is logged.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "standin/dispatch.h"

namespace standin {
namespace {

constexpr long long kMaxCellsChanged = 1LL << 22;
const char kLockedMessage[] =
    "The cell or chart you are trying to change is protected and therefore read-only.";
const char kStructureMessage[] = "Workbook is protected and cannot be changed.";

int Done(XLOPER& result) {
  SetValue(result, true);
  return xlretSuccess;
}

// Excel's own refusal: its alert, then the command fails.
int Refused(const std::string& message) {
  ShowHostAlert(message);
  return xlretFailed;
}

Sheet* ActiveSheetOrNull() { return FindSheetById(H().app.active); }

bool AnyLocked(const Sheet& sheet, const Area& area) {
  return sheet.protected_contents && !sheet.formats.AllUnlocked(area);
}

// The selection's or a given reference's cells, each area in turn.
std::optional<Ref> Target(const Args& args, std::size_t k, const char* function) {
  if (Given(args, k)) {
    auto ref = RefArg(args, k);
    if (!ref) {
      LogLine(std::string(function) + ": argument " + std::to_string(k + 1) + " is no reference");
      return std::nullopt;
    }
    return ref;
  }
  Application& app = H().app;
  if (FindSheetById(app.active) == nullptr || !app.selected_object.empty()) {
    LogLine(std::string(function) + ": no cells are selected");
    return std::nullopt;
  }
  return app.selection;
}

// Applies f to the format of every cell of ref; refused on a protected sheet.
template <typename F>
int Format(XLOPER& result, const Args& args, std::size_t ref_arg, const char* function, F f) {
  auto ref = Target(args, ref_arg, function);
  if (!ref) return xlretFailed;
  Sheet& sheet = SheetOrThrow(ref->sheet);
  if (sheet.protected_contents) return Refused(kLockedMessage);
  for (const Area& a : ref->areas) sheet.formats.Apply(a, f);
  return Done(result);
}

int DoCalculateNow(XLOPER& result, const Args&) {
  ++H().app.calculations;
  Recalculate();
  return Done(result);
}

int DoCalculation(XLOPER& result, const Args& args) {
  auto mode = NumberArg(args, 0);
  if (!mode || (*mode != 1 && *mode != 2 && *mode != 3))
    return Refuse("xlcCalculation", "calculation type " + Describe(ScalarArg(args, 0)));
  for (std::size_t k = 1; k < args.size(); ++k)
    if (Given(args, k)) return Refuse("xlcCalculation", "argument " + std::to_string(k + 1) + " is not modelled");
  H().app.calculation = static_cast<int>(*mode);
  return Done(result);
}

int DoWorkspace(XLOPER& result, const Args& args) {
  Application& app = H().app;
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (!Given(args, k)) continue;
    if (k == 2) app.r1c1 = BoolArg(args, k, app.r1c1);
    else if (k == 4) app.status_bar = BoolArg(args, k, app.status_bar);
    else return Refuse("xlcWorkspace", "argument " + std::to_string(k + 1) + " is not modelled");
  }
  return Done(result);
}

// A reference given as a reference or as text (R1C1 first, as the macro
// language writes it, then A1).
std::optional<Ref> RefOrText(const Args& args, std::size_t k) {
  if (auto ref = RefArg(args, k)) return ref;
  Value v = ScalarArg(args, k);
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto ref = RefFromText(*s, false)) return ref;
    return RefFromText(*s, true);
  }
  return std::nullopt;
}

bool Inside(const Area& outer, const Area& cell) {
  return cell.first_row >= outer.first_row && cell.last_row <= outer.last_row &&
         cell.first_col >= outer.first_col && cell.last_col <= outer.last_col;
}

int DoSelect(XLOPER& result, const Args& args) {
  Application& app = H().app;
  if (!Given(args, 0)) {  // back from an object to the cells
    app.selected_object.clear();
    return Done(result);
  }
  auto ref = RefOrText(args, 0);
  if (!ref) return Refuse("xlcSelect", "no reference to select");
  if (ref->sheet != app.active) return Refused("Select method of Range class failed");
  app.selected_object.clear();
  app.selection = *ref;
  app.active_row = ref->areas[0].first_row;
  app.active_col = ref->areas[0].first_col;
  if (Given(args, 1)) {
    auto cell = RefOrText(args, 1);
    bool ok = cell && cell->areas[0].rows() == 1 && cell->areas[0].columns() == 1 &&
              std::any_of(ref->areas.begin(), ref->areas.end(),
                          [&](const Area& a) { return Inside(a, cell->areas[0]); });
    if (!ok) return Refuse("xlcSelect", "the active cell is not in the selection");
    app.active_row = cell->areas[0].first_row;
    app.active_col = cell->areas[0].first_col;
  }
  return Done(result);
}

int DoFormulaGoto(XLOPER& result, const Args& args) {
  auto ref = RefOrText(args, 0);
  if (!ref) return Refuse("xlcFormulaGoto", "no reference to go to");
  Sheet& sheet = SheetOrThrow(ref->sheet);
  Workbook* book = BookOf(sheet);
  if (sheet.hidden || (book && book->hidden)) return Refused("Reference is not valid.");
  Activate(sheet.id);
  Application& app = H().app;
  app.selection = *ref;
  app.active_row = ref->areas[0].first_row;
  app.active_col = ref->areas[0].first_col;
  return Done(result);
}

// Ctrl+arrow: to the end of the run of filled cells, or over the blanks to
// the next filled cell, or to the sheet's edge.
int DoSelectEnd(XLOPER& result, const Args& args) {
  auto direction = NumberArg(args, 0);
  Application& app = H().app;
  Sheet* sheet = ActiveSheetOrNull();
  if (!direction || *direction < 1 || *direction > 4) return Refuse("xlcSelectEnd", "direction " + Describe(ScalarArg(args, 0)));
  if (sheet == nullptr) return Refuse("xlcSelectEnd", "no active sheet");
  int dr = 0, dc = 0;
  switch (static_cast<int>(*direction)) {
    case 1: dc = -1; break;
    case 2: dc = 1; break;
    case 3: dr = -1; break;
    default: dr = 1; break;
  }
  const int rows = CurrentRowLimit();
  auto filled = [&](int r, int c) { return !std::holds_alternative<Blank>(sheet->Get(r, c)); };
  auto inside = [&](int r, int c) { return r >= 0 && r < rows && c >= 0 && c < ColumnLimitFor(rows); };
  int r = app.active_row, c = app.active_col;
  if (inside(r + dr, c + dc)) {
    if (filled(r, c) && filled(r + dr, c + dc)) {
      while (inside(r + dr, c + dc) && filled(r + dr, c + dc)) r += dr, c += dc;
    } else {
      r += dr, c += dc;
      while (inside(r + dr, c + dc) && !filled(r, c)) r += dr, c += dc;
    }
  }
  app.active_row = r;
  app.active_col = c;
  app.selection = Ref{sheet->id, {Area{r, r, c, c}}};
  return Done(result);
}

int DoAlignment(XLOPER& result, const Args& args) {
  int align = 0;
  if (auto n = NumberArg(args, 0)) align = static_cast<int>(*n);
  if (align < 1 || align > 7) return Refuse("xlcAlignment", "horizontal alignment " + Describe(ScalarArg(args, 0)));
  for (std::size_t k = 1; k < args.size(); ++k)
    if (Given(args, k)) return Refuse("xlcAlignment", "argument " + std::to_string(k + 1) + " is not modelled");
  return Format(result, args, 99, "xlcAlignment", [&](CellFormat& f) { f.alignment = align; });
}

int DoFormatFont(XLOPER& result, const Args& args) {
  for (std::size_t k = 0; k < args.size(); ++k)
    if (Given(args, k) && k != 2 && k != 3)
      return Refuse("xlcFormatFont", "argument " + std::to_string(k + 1) + " is not modelled");
  bool set_bold = Given(args, 2), set_italic = Given(args, 3);
  bool bold = BoolArg(args, 2, false), italic = BoolArg(args, 3, false);
  return Format(result, args, 99, "xlcFormatFont", [&](CellFormat& f) {
    if (set_bold) f.bold = bold;
    if (set_italic) f.italic = italic;
  });
}

int DoFormatNumber(XLOPER& result, const Args& args) {
  std::string format = TextArg(args, 0);
  if (format.empty()) return Refuse("xlcFormatNumber", "no number format");
  return Format(result, args, 99, "xlcFormatNumber", [&](CellFormat& f) { f.number_format = format; });
}

int DoCellProtection(XLOPER& result, const Args& args) {
  bool set_locked = Given(args, 0), set_hidden = Given(args, 1);
  bool locked = BoolArg(args, 0, true), hidden = BoolArg(args, 1, false);
  return Format(result, args, 99, "xlcCellProtection", [&](CellFormat& f) {
    if (set_locked) f.locked = locked;
    if (set_hidden) f.formula_hidden = hidden;
  });
}

// What a cell shows in General format, for fitting column widths.
std::size_t ShownLength(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return GeneralText(*d).size();
  return Describe(v).size();
}

int DoColumnWidth(XLOPER& result, const Args& args) {
  auto ref = Target(args, 1, "xlcColumnWidth");
  if (!ref) return xlretFailed;
  Sheet& sheet = SheetOrThrow(ref->sheet);
  if (sheet.protected_contents) return Refused(kLockedMessage);
  int type = 0;
  if (auto n = NumberArg(args, 3)) type = static_cast<int>(*n);
  if (type < 0 || type > 3) return Refuse("xlcColumnWidth", "type " + std::to_string(type));
  bool standard = BoolArg(args, 2, false);
  auto width = NumberArg(args, 0);
  if (type == 0 && !standard && (!width || *width < 0 || *width > 255))
    return Refuse("xlcColumnWidth", "no width");
  // Best fit: the longest text each column shows, in characters, found in
  // one walk over the sheet's cells for all the columns at once.
  std::map<int, std::size_t> longest;
  if (type == 3) {
    for (const Area& a : ref->areas)
      for (int c = a.first_col; c <= a.last_col; ++c) longest.emplace(c, 0);
    for (const auto& [key, cell] : sheet.cells) {
      auto it = longest.find(Sheet::ColumnOf(key));
      if (it != longest.end()) it->second = std::max(it->second, ShownLength(cell.value));
    }
  }
  for (const Area& a : ref->areas)
    for (int c = a.first_col; c <= a.last_col; ++c) {
      double w = kStandardWidth;
      if (type == 1) {
        w = 0;
      } else if (type == 3) {
        w = longest[c] == 0 ? kStandardWidth : static_cast<double>(longest[c]);
      } else if (type == 0 && !standard) {
        w = *width;
      }
      if (w == kStandardWidth) sheet.column_widths.erase(c);
      else sheet.column_widths[c] = w;
    }
  return Done(result);
}

int DoProtectDocument(XLOPER& result, const Args& args) {
  Sheet* sheet = ActiveSheetOrNull();
  if (sheet == nullptr) return Refuse("xlcProtectDocument", "no active sheet");
  for (std::size_t k = 3; k < args.size(); ++k)
    if (Given(args, k)) return Refuse("xlcProtectDocument", "argument " + std::to_string(k + 1) + " is not modelled");
  bool contents = BoolArg(args, 0, true), windows = BoolArg(args, 1, false);
  std::string password = TextArg(args, 2);
  Workbook* book = BookOf(*sheet);
  if (!contents && !windows) {  // unprotect
    // A password is asked for only when the sheet was protected with one.
    if (sheet->protected_contents && !sheet->password.empty() && sheet->password != password)
      return Refused("The password you supplied is not correct.");
    sheet->protected_contents = false;
    sheet->password.clear();
    if (book) book->windows_protected = false;
    return Done(result);
  }
  if (contents) {
    sheet->protected_contents = true;
    sheet->password = password;
  }
  if (book && Given(args, 1)) book->windows_protected = windows;
  return Done(result);
}

int DoClear(XLOPER& result, const Args& args) {
  int type = 3;
  if (auto n = NumberArg(args, 0)) type = static_cast<int>(*n);
  if (type < 1 || type > 4) return Refuse("xlcClear", "type " + std::to_string(type));
  auto ref = Target(args, 99, "xlcClear");
  if (!ref) return xlretFailed;
  Sheet& sheet = SheetOrThrow(ref->sheet);
  for (const Area& a : ref->areas)
    if (AnyLocked(sheet, a)) return Refused(kLockedMessage);
  for (const Area& a : ref->areas) {
    if (type == 1 || type == 3) {
      RemoveUnitsIn(sheet, a);
      for (int r = a.first_row; r <= a.last_row; ++r) {
        auto it = sheet.cells.lower_bound(Sheet::Key(r, a.first_col));
        auto end = sheet.cells.upper_bound(Sheet::Key(r, a.last_col));
        sheet.cells.erase(it, end);
      }
    }
    if (type == 1 || type == 2) sheet.formats.Clear(a);
  }
  if (Workbook* book = BookOf(sheet)) book->changed = true;
  return Done(result);
}

int DoCopy(XLOPER& result, const Args& args) {
  auto from = RefArg(args, 0);
  auto to = RefArg(args, 1);
  if (!from || !to) return Refuse("xlcCopy", "copying needs a source and a destination (no clipboard)");
  if (from->areas.size() != 1 || to->areas.size() != 1) return Refuse("xlcCopy", "multiple areas");
  Sheet& source = SheetOrThrow(from->sheet);
  Sheet& dest = SheetOrThrow(to->sheet);
  const Area& a = from->areas[0];
  const Area& d = to->areas[0];
  // A destination that holds the source a whole number of times in each
  // direction (a one-cell source fills any) gets one copy per tile, each
  // with its references moved; otherwise its first cell takes one copy.
  int down = 1, across = 1;
  if (d.rows() % a.rows() == 0 && d.columns() % a.columns() == 0) {
    down = d.rows() / a.rows();
    across = d.columns() / a.columns();
  }
  Area target{d.first_row, d.first_row + a.rows() * down - 1, d.first_col,
              d.first_col + a.columns() * across - 1};
  if (target.last_row >= CurrentRowLimit() || target.last_col >= ColumnLimitFor(CurrentRowLimit()))
    return Refused("Copy area and paste area are not the same size and shape.");
  if (AnyLocked(dest, target)) return Refused(kLockedMessage);
  if (static_cast<long long>(target.rows()) * target.columns() > kMaxCellsChanged)
    return Refuse("xlcCopy", "too many cells");
  std::string unread;
  if (!CopyTiles(source, a, dest, target, unread)) return Refuse("xlcCopy", "cannot read formula " + unread);
  return Done(result);
}

// The formula text as the engine reads it (A1): R1C1 from an international
// call or an R1C1 workspace, relative to the cell it goes into.
std::optional<std::string> AsA1(const std::string& text, int row, int col, bool intl) {
  if (text.empty() || text[0] != '=' || !(intl || H().app.r1c1)) return text;
  return ConvertFormula(text, false, true, 0, row, col);
}

int EnterFormula(XLOPER& result, const Args& args, bool array, const char* function) {
  bool intl = IntlCall();
  Application& app = H().app;
  std::optional<Ref> ref;
  if (Given(args, 1)) {
    ref = RefOrText(args, 1);
    if (!ref) return Refuse(function, "no reference to enter into");
  } else if (array) {
    ref = Target(args, 99, function);
    if (!ref) return xlretFailed;
  } else {
    if (FindSheetById(app.active) == nullptr) return Refuse(function, "no active sheet");
    ref = Ref{app.active, {Area{app.active_row, app.active_row, app.active_col, app.active_col}}};
  }
  Sheet& sheet = SheetOrThrow(ref->sheet);
  const Area area = ref->areas[0];
  if (AnyLocked(sheet, area)) return Refused(kLockedMessage);
  Value given = ScalarArg(args, 0);
  std::string text = std::holds_alternative<std::string>(given) ? std::get<std::string>(given) : "";
  auto a1 = AsA1(text, area.first_row, area.first_col, intl);
  if (!a1) return Refuse(function, "cannot read \"" + text + "\"");
  try {
    if (array) {
      if (a1->empty() || (*a1)[0] != '=') *a1 = "=" + (a1->empty() ? Describe(given) : *a1);
      EnterArrayFormula(sheet.id, PrintA1(RefText{"", "", area}), *a1);
      return Done(result);
    }
    for (int r = area.first_row; r <= area.last_row; ++r)
      for (int c = area.first_col; c <= area.last_col; ++c) {
        if (!std::holds_alternative<std::string>(given)) {
          PutValue(sheet, r, c, given);
          continue;
        }
        auto shifted = ShiftFormula(*a1, r - area.first_row, c - area.first_col);
        EnterText(sheet, r, c, shifted && (*a1)[0] == '=' ? *shifted : *a1);
      }
  } catch (const HostError& e) {
    return Refused(e.what());
  }
  if (app.calculation != 3) Recalculate();
  return Done(result);
}

int DoFormula(XLOPER& r, const Args& a) { return EnterFormula(r, a, false, "xlcFormula"); }
int DoFormulaArray(XLOPER& r, const Args& a) { return EnterFormula(r, a, true, "xlcFormulaArray"); }

int DoSet(XLOPER& result, const Args& args) {
  // A command-equivalent: a worksheet function may not call it.
  if (H().link.functions_running > 0) return Refuse("xlSet", "called from a worksheet function");
  auto ref = RefArg(args, 0);
  if (!ref || ref->areas.size() != 1) return Refuse("xlSet", "the target must be a one-area reference");
  Sheet* sheet = FindSheetById(ref->sheet);
  if (sheet == nullptr) return Refuse("xlSet", "no such sheet");
  const Area& area = ref->areas[0];
  if (static_cast<long long>(area.rows()) * area.columns() > kMaxCellsChanged) return Refuse("xlSet", "too many cells");
  if (AnyLocked(*sheet, area)) return Refused(kLockedMessage);
  Array values{1, 1, {Blank{}}};
  if (args.size() > 1 && BaseType(*args[1]) != xltypeMissing) {
    Operand op = OperandOf(*args[1], CallingSheet());
    if (auto* a = std::get_if<Array>(&op.v)) values = *a;
    else if (std::holds_alternative<Ref>(op.v)) return Refuse("xlSet", "the value must be a constant or an array");
    else values.cells[0] = std::get<Value>(op.v);
  }
  try {
    for (int r = 0; r < area.rows(); ++r)
      for (int c = 0; c < area.columns(); ++c) {
        int rr = values.rows == 1 ? 0 : r, cc = values.columns == 1 ? 0 : c;
        Value v = rr < values.rows && cc < values.columns ? values.at(rr, cc) : Value{Error{xlerrNA}};
        PutValue(*sheet, area.first_row + r, area.first_col + c, v);
      }
  } catch (const HostError& e) {
    return Refused(e.what());
  }
  return Done(result);
}

int DoHide(XLOPER& result, const Args&) {
  Sheet* sheet = ActiveSheetOrNull();
  if (sheet == nullptr) return Refuse("xlcHide", "no active window");
  Workbook* book = BookOf(*sheet);
  if (book->windows_protected) return Refused(kStructureMessage);
  book->hidden = true;
  return Done(result);
}

// UNHIDE(window_text): shows a hidden window again (the SDK header names no
// constant for it).
constexpr int kUnhide = 94 | xlCommand;

Workbook* BookByWindow(const std::string& text);

int DoUnhide(XLOPER& result, const Args& args) {
  Workbook* book = BookByWindow(TextArg(args, 0));
  if (book == nullptr) return Refused("Cannot find window \"" + TextArg(args, 0) + "\".");
  if (book->windows_protected) return Refused(kStructureMessage);
  book->hidden = false;
  return Done(result);
}

int DoNew(XLOPER& result, const Args& args) {
  auto type = NumberArg(args, 0);
  if (!type || *type != 1) return Refuse("xlcNew", "only worksheets (type 1) are modelled");
  if (Given(args, 1)) return Refuse("xlcNew", "argument 2 is not modelled");
  Application& app = H().app;
  Sheet* active = ActiveSheetOrNull();
  if (BoolArg(args, 2, false) && app.workbooks && active) {
    Workbook& book = *BookOf(*active);
    if (book.structure_protected) return Refused(kStructureMessage);
    Sheet& made = NewSheetIn(book);
    // A new sheet goes in front of the active one.
    auto& sheets = book.sheets;
    auto it = std::find_if(sheets.begin(), sheets.end(), [&](auto& s) { return s->id == active->id; });
    std::rotate(it, sheets.end() - 1, sheets.end());
    Activate(made.id);
    return Done(result);
  }
  // A new workbook (or document), named as Excel names them.
  for (int n = 1;; ++n) {
    std::string name = (app.workbooks ? "Book" : "Sheet") + std::to_string(n);
    if (FindBook(name) == nullptr) {
      NewWorkbook(name, "Sheet1");
      return Done(result);
    }
  }
}

Workbook* BookByWindow(const std::string& text) {
  if (Workbook* b = FindBook(text)) return b;
  std::size_t colon = text.rfind(':');
  return colon == std::string::npos ? nullptr : FindBook(text.substr(0, colon));
}

Sheet* SheetInActiveBook(const std::string& name);

// A window name ("Book1.xls", "Book1.xls:2") activates its book's active
// sheet; on workbook hosts "[Book]Sheet" names a sheet of an open book, and a
// name no window has may name a sheet of the active book.
int DoActivate(XLOPER& result, const Args& args) {
  const std::string text = TextArg(args, 0);
  if (Given(args, 1)) return Refuse("xlcActivate", "panes are not modelled");
  Sheet* sheet = nullptr;
  Workbook* book = BookByWindow(text);
  if (book != nullptr) {
    sheet = FindSheetById(book->active_sheet);
    if (sheet == nullptr) return Refuse("xlcActivate", "the workbook has no visible sheet");
  } else if (H().app.workbooks) {
    sheet = SheetInActiveBook(text);
    if (sheet != nullptr) {
      book = BookOf(*sheet);
      if (sheet->hidden) return Refused("Cannot activate a hidden sheet.");
    }
  }
  if (sheet == nullptr) return Refused("Activate method failed: no window \"" + text + "\"");
  if (book->hidden) return Refused("Cannot activate a hidden window.");
  Activate(sheet->id);
  return Done(result);
}

// A sheet named in the active workbook ("Sheet2" or "[Book]Sheet2").
Sheet* SheetInActiveBook(const std::string& name) {
  if (!name.empty() && name[0] == '[') {
    std::size_t close = name.find(']');
    return close == std::string::npos ? nullptr : FindSheetByName(name.substr(1, close - 1), name.substr(close + 1));
  }
  Sheet* active = ActiveSheetOrNull();
  if (active == nullptr) return nullptr;
  Workbook* book = BookOf(*active);
  for (auto& s : book->sheets)
    if (SameText(s->name, name)) return s.get();
  return nullptr;
}

// The sheets a workbook command names: a text, an array of texts, or the
// active sheet when none is given.
std::optional<std::vector<Sheet*>> NamedSheets(const Args& args, std::size_t k, const char* function) {
  std::vector<Sheet*> sheets;
  if (!Given(args, k)) {
    if (Sheet* s = ActiveSheetOrNull()) sheets.push_back(s);
    return sheets;
  }
  Operand op = OperandOf(*args[k], CallingSheet());
  std::vector<Value> names;
  if (auto* a = std::get_if<Array>(&op.v)) names = a->cells;
  else if (auto* v = std::get_if<Value>(&op.v)) names.push_back(*v);
  for (const Value& v : names) {
    Sheet* s = SheetInActiveBook(Describe(v));
    if (s == nullptr) {
      ShowHostAlert("Cannot find sheet \"" + Describe(v) + "\".");
      (void)function;
      return std::nullopt;
    }
    sheets.push_back(s);
  }
  return sheets;
}

int DoWorkbookActivate(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookActivate");
  if (!sheets || sheets->empty()) return xlretFailed;
  if ((*sheets)[0]->hidden) return Refused("Cannot activate a hidden sheet.");
  Activate((*sheets)[0]->id);
  return Done(result);
}

int DoWorkbookOptions(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookOptions");
  if (!sheets || sheets->size() != 1) return xlretFailed;
  if (Given(args, 1)) return Refuse("xlcWorkbookOptions", "binding is not modelled");
  if (!Given(args, 2)) return Done(result);
  Sheet* sheet = (*sheets)[0];
  Workbook* book = BookOf(*sheet);
  std::string name = TextArg(args, 2);
  if (book->structure_protected) return Refused(kStructureMessage);
  if (!H().app.workbooks) return Refuse("xlcWorkbookOptions", "this host has no workbooks");
  if (!ValidSheetName(name)) return Refused("Invalid sheet name \"" + name + "\".");
  for (auto& s : book->sheets)
    if (s.get() != sheet && SameText(s->name, name))
      return Refused("Cannot rename a sheet to the same name as another sheet.");
  sheet->name = name;
  book->changed = true;
  return Done(result);
}

int VisibleSheets(const Workbook& book) {
  int n = 0;
  for (auto& s : book.sheets) n += s->hidden ? 0 : 1;
  return n;
}

int DoWorkbookHide(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookHide");
  if (!sheets) return xlretFailed;
  for (Sheet* sheet : *sheets) {
    Workbook* book = BookOf(*sheet);
    if (book->structure_protected) return Refused(kStructureMessage);
    if (!sheet->hidden && VisibleSheets(*book) == 1)
      return Refused("A workbook must contain at least one visible worksheet.");
    sheet->hidden = true;
    book->changed = true;
    if (book->active_sheet == sheet->id) {
      for (auto& s : book->sheets)
        if (!s->hidden) {
          book->active_sheet = s->id;
          break;
        }
      if (H().app.active == sheet->id) Activate(book->active_sheet);
    }
  }
  return Done(result);
}

int DoWorkbookUnhide(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookUnhide");
  if (!sheets) return xlretFailed;
  for (Sheet* sheet : *sheets) {
    Workbook* book = BookOf(*sheet);
    if (book->structure_protected) return Refused(kStructureMessage);
    sheet->hidden = false;
    book->changed = true;
  }
  return Done(result);
}

int DoWorkbookDelete(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookDelete");
  if (!sheets) return xlretFailed;
  for (Sheet* sheet : *sheets) {
    Workbook* book = BookOf(*sheet);
    if (book->structure_protected) return Refused(kStructureMessage);
    if (book->sheets.size() == 1 || (!sheet->hidden && VisibleSheets(*book) == 1))
      return Refused("A workbook must contain at least one visible worksheet.");
  }
  for (Sheet* sheet : *sheets) RemoveSheet(*BookOf(*sheet), sheet->id);
  return Done(result);
}

int DoWorkbookMove(XLOPER& result, const Args& args) {
  auto sheets = NamedSheets(args, 0, "xlcWorkbookMove");
  if (!sheets || sheets->size() != 1) return xlretFailed;
  Sheet* sheet = (*sheets)[0];
  Workbook* from = BookOf(*sheet);
  Workbook* to = from;
  if (Given(args, 1)) {
    to = FindBook(TextArg(args, 1));
    if (to == nullptr) return Refused("Cannot find workbook \"" + TextArg(args, 1) + "\".");
  } else {
    // Without a book the sheet leaves its workbook for one of its own:
    // before version 5 a document bearing the sheet's name, later a new
    // BookN.
    if (from->structure_protected) return Refused(kStructureMessage);
    if (from->sheets.size() == 1) return Refused("A workbook must contain at least one visible worksheet.");
    std::string name;
    if (MajorVersion() < 5) {
      name = sheet->name;
    } else {
      for (int n = 1; name.empty() || FindBook(name) != nullptr; ++n) name = "Book" + std::to_string(n);
    }
    if (FindBook(name) != nullptr) return Refused("A workbook named \"" + name + "\" is already open.");
    auto book = std::make_unique<Workbook>();
    book->name = name;
    book->changed = true;
    to = book.get();
    H().model.books.push_back(std::move(book));
  }
  if (from->structure_protected || to->structure_protected) return Refused(kStructureMessage);
  auto position = NumberArg(args, 2);
  std::size_t at = position ? static_cast<std::size_t>(std::max(1.0, *position)) - 1 : to->sheets.size();
  if (to != from) {
    if (from->sheets.size() == 1) return Refused("A workbook must contain at least one visible worksheet.");
    for (auto& s : to->sheets)
      if (SameText(s->name, sheet->name)) return Refuse("xlcWorkbookMove", "the other workbook has a sheet of that name");
  }
  MoveSheet(*sheet, *to, at);
  Activate(sheet->id);
  return Done(result);
}

// Writes a workbook to its file. The stand-in has one file format, CSV of
// the active sheet's values, whatever the name's extension (Excel saves its
// own format under any name: a coefficient document BOOK1.COF is one).
int WriteBook(Workbook& book, const char* function) {
  (void)function;
  try {
    SaveCsv(book.active_sheet, (std::filesystem::path(book.directory) / book.name).string());
  } catch (const HostError& e) {
    return Refused(e.what());
  }
  book.changed = false;
  return xlretSuccess;
}

int DoSave(XLOPER& result, const Args&) {
  Sheet* sheet = ActiveSheetOrNull();
  if (sheet == nullptr) return Refuse("xlcSave", "no active workbook");
  Workbook* book = BookOf(*sheet);
  if (book->directory.empty()) return Refuse("xlcSave", book->name + " was never saved: use xlcSaveAs");
  if (int code = WriteBook(*book, "xlcSave")) return code;
  return Done(result);
}

int DoSaveAs(XLOPER& result, const Args& args) {
  Sheet* sheet = ActiveSheetOrNull();
  if (sheet == nullptr) return Refuse("xlcSaveAs", "no active workbook");
  for (std::size_t k = 2; k < args.size(); ++k)
    if (Given(args, k)) return Refuse("xlcSaveAs", "argument " + std::to_string(k + 1) + " is not modelled");
  std::string path = TextArg(args, 0);
  if (path.empty()) return Refuse("xlcSaveAs", "no file name");
  // The add-in is Windows code: "\\" separates directories as "/" does.
  std::replace(path.begin(), path.end(), '\\', '/');
  auto type = NumberArg(args, 1);
  if (type && *type != 1 && *type != 6) return Refuse("xlcSaveAs", "file format " + Describe(*type));
  std::filesystem::path p(path);
  if (p.is_relative()) {
    if (H().app.directory.empty()) H().app.directory = std::filesystem::current_path().string();
    p = std::filesystem::path(H().app.directory) / p;
  }
  Workbook* book = BookOf(*sheet);
  std::string name = p.filename().string();
  if (type && *type == 6 && name.find('.') == std::string::npos) name += ".csv";
  Workbook* other = FindBook(name);
  if (other != nullptr && other != book) return Refused("A workbook named \"" + name + "\" is already open.");
  std::string old_name = book->name, old_dir = book->directory;
  // Without workbooks the one sheet is the document and bears its name.
  const bool renames_sheet = !H().app.workbooks && book->sheets.size() == 1;
  std::string old_sheet = book->sheets.front()->name;
  book->name = name;
  book->directory = p.parent_path().string();
  for (auto& s : book->sheets) s->book = name;
  if (renames_sheet) book->sheets.front()->name = name;
  if (int code = WriteBook(*book, "xlcSaveAs")) {
    book->name = old_name;
    book->directory = old_dir;
    for (auto& s : book->sheets) s->book = old_name;
    if (renames_sheet) book->sheets.front()->name = old_sheet;
    return code;
  }
  return Done(result);
}

int DoClose(XLOPER& result, const Args& args) {
  Sheet* sheet = ActiveSheetOrNull();
  if (sheet == nullptr) return Refuse("xlcClose", "no active window");
  Workbook* book = BookOf(*sheet);
  if (BoolArg(args, 0, false)) {
    if (book->directory.empty()) return Refuse("xlcClose", book->name + " was never saved");
    if (int code = WriteBook(*book, "xlcClose")) return code;
  }
  CloseBook(*book);
  return Done(result);
}

constexpr Entry kCommandEntries[] = {
    {xlcCalculateNow, "xlcCalculateNow", 0, 0, DoCalculateNow},
    {xlcCalculateDocument, "xlcCalculateDocument", 0, 0, DoCalculateNow},
    {xlcCalculation, "xlcCalculation", 1, 11, DoCalculation},
    {xlcWorkspace, "xlcWorkspace", 0, 15, DoWorkspace},
    {xlcSelect, "xlcSelect", 0, 2, DoSelect},
    {xlcFormulaGoto, "xlcFormulaGoto", 1, 2, DoFormulaGoto},
    {xlcSelectEnd, "xlcSelectEnd", 1, 1, DoSelectEnd},
    {xlcAlignment, "xlcAlignment", 1, 9, DoAlignment},
    {xlcFormatFont, "xlcFormatFont", 1, 14, DoFormatFont},
    {xlcFormatNumber, "xlcFormatNumber", 1, 1, DoFormatNumber},
    {xlcCellProtection, "xlcCellProtection", 1, 2, DoCellProtection},
    {xlcColumnWidth, "xlcColumnWidth", 1, 5, DoColumnWidth},
    {xlcProtectDocument, "xlcProtectDocument", 0, 5, DoProtectDocument},
    {xlcClear, "xlcClear", 0, 1, DoClear},
    {xlcCopy, "xlcCopy", 0, 2, DoCopy},
    {xlcFormula, "xlcFormula", 1, 2, DoFormula, true},
    {xlcFormulaArray, "xlcFormulaArray", 1, 2, DoFormulaArray, true},
    {xlSet, "xlSet", 1, 2, DoSet},
    {xlcHide, "xlcHide", 0, 0, DoHide},
    {kUnhide, "xlcUnhide", 1, 1, DoUnhide},
    {xlcNew, "xlcNew", 1, 3, DoNew},
    {xlcActivate, "xlcActivate", 1, 2, DoActivate},
    {xlcWorkbookActivate, "xlcWorkbookActivate", 0, 2, DoWorkbookActivate},
    {xlcWorkbookOptions, "xlcWorkbookOptions", 1, 3, DoWorkbookOptions},
    {xlcWorkbookHide, "xlcWorkbookHide", 0, 2, DoWorkbookHide},
    {xlcWorkbookUnhide, "xlcWorkbookUnhide", 1, 1, DoWorkbookUnhide},
    {xlcWorkbookDelete, "xlcWorkbookDelete", 0, 1, DoWorkbookDelete},
    {xlcWorkbookMove, "xlcWorkbookMove", 1, 3, DoWorkbookMove},
    {xlcSave, "xlcSave", 0, 0, DoSave},
    {xlcSaveAs, "xlcSaveAs", 1, 7, DoSaveAs},
    {xlcClose, "xlcClose", 0, 2, DoClose},
    {xlcFileClose, "xlcFileClose", 0, 1, DoClose},
};

}  // namespace

const Entry* CommandEntries(std::size_t& count) {
  count = std::size(kCommandEntries);
  return kCommandEntries;
}

}  // namespace standin
