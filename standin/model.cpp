// The workbook model: open workbooks, their sheets and cells, entering,
// copying and moving them, closing a book; the active sheet and the
// selection.
#include <algorithm>
#include <cctype>

#include "standin/csv_reader.h"
#include "standin/dispatch.h"
#include "standin/formula.h"
#include "standin/host.h"
#include "standin/win32_state.h"

namespace standin {

Host& H() {
  static Host host;
  return host;
}

int MajorVersion() { return std::stoi(H().app.version); }

// From version 12 the sheet is bigger than an XLOPER can address: a
// 4-series caller sees the old grid, a 12-series call the whole sheet.
int CurrentRowLimit() {
  if (CurrentWideCall()) return SheetRowLimit();
  return MajorVersion() >= 8 ? 65536 : 16384;
}
int SheetRowLimit() { return MajorVersion() >= 12 ? kXl12MaxRows : MajorVersion() >= 8 ? 65536 : 16384; }
int SheetColumnLimit() { return ColumnLimitFor(SheetRowLimit()); }

void LogLine(const std::string& line) { H().link.log.push_back(line); }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

Grid GridOf(const Array& a) {
  Grid g;
  g.rows = a.rows;
  g.columns = a.columns;
  g.cells = a.cells;
  return g;
}

Workbook* FindBook(const std::string& name) {
  for (auto& book : H().model.books)
    if (SameText(book->name, name)) return book.get();
  return nullptr;
}

Workbook* BookOf(const Sheet& sheet) { return FindBook(sheet.book); }

std::string FullSheetName(const Sheet& sheet) {
  if (!H().app.workbooks) return sheet.name;
  return "[" + sheet.book + "]" + sheet.name;
}

Sheet& NewSheetIn(Workbook& book, const std::string& name) {
  std::string chosen = name;
  if (chosen.empty()) {
    // Excel counts new sheets per session: Sheet2, Sheet3, ...
    for (int n = 1;; ++n) {
      chosen = "Sheet" + std::to_string(n);
      bool taken = false;
      for (auto& s : book.sheets) taken = taken || SameText(s->name, chosen);
      if (!taken) break;
    }
  }
  auto s = std::make_unique<Sheet>();
  s->id = H().model.next_sheet_id++;
  s->name = chosen;
  s->book = book.name;
  Sheet& made = *s;
  book.sheets.push_back(std::move(s));
  book.changed = true;
  return made;
}

void RemoveSheet(Workbook& book, SheetId id) {
  auto& sheets = book.sheets;
  for (auto it = sheets.begin(); it != sheets.end(); ++it)
    if ((*it)->id == id) {
      sheets.erase(it);
      break;
    }
  book.changed = true;
  Application& app = H().app;
  std::erase(app.group, id);
  if (book.active_sheet == id) {
    book.active_sheet = 0;
    for (auto& s : sheets)
      if (!s->hidden) {
        book.active_sheet = s->id;
        break;
      }
  }
  if (app.active == id) {
    if (book.active_sheet != 0) Activate(book.active_sheet);
    else app.active = 0;
  }
}

namespace {
void CheckName(const std::string& name, const char* what) {
  if (name.empty() || name.size() > 218)
    throw HostError(std::string("invalid ") + what + " name \"" + name + "\"");
}

void CheckSheetName(const std::string& name) {
  if (!ValidSheetName(name)) throw HostError("invalid sheet name \"" + name + "\"");
}
}  // namespace

bool ValidSheetName(const std::string& name) {
  // 31 characters, not bytes: the texts are kept as UTF-8.
  const auto characters = std::count_if(name.begin(), name.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  return !name.empty() && characters <= 31 && name.find_first_of(":\\/?*[]") == std::string::npos;
}

Sheet* FindSheetById(SheetId id) {
  for (auto& book : H().model.books)
    for (auto& sheet : book->sheets)
      if (sheet->id == id) return sheet.get();
  return nullptr;
}

// An empty book name means the active workbook.
Sheet* FindSheetByName(const std::string& book, const std::string& sheet) {
  Workbook* b = nullptr;
  if (book.empty()) {
    Sheet* active = FindSheetById(H().app.active);
    if (active) b = FindBook(active->book);
    if (b == nullptr) {
      // A sheet name alone may still name a sheet of another workbook.
      for (auto& any : H().model.books)
        for (auto& s : any->sheets)
          if (SameText(s->name, sheet)) return s.get();
      return nullptr;
    }
  } else {
    b = FindBook(book);
  }
  if (b == nullptr) return nullptr;
  for (auto& s : b->sheets)
    if (SameText(s->name, sheet)) return s.get();
  return nullptr;
}

Sheet& SheetOrThrow(SheetId id) {
  Sheet* sheet = FindSheetById(id);
  if (sheet == nullptr) throw HostError("no sheet with id " + std::to_string(id));
  return *sheet;
}

void RemoveUnitsIn(Sheet& sheet, const Area& area) {
  auto overlaps = [&](const Area& a) {
    return a.first_row <= area.last_row && area.first_row <= a.last_row &&
           a.first_col <= area.last_col && area.first_col <= a.last_col;
  };
  for (auto it = sheet.units.begin(); it != sheet.units.end();) {
    const FormulaUnit& unit = **it;
    if (!overlaps(unit.area)) {
      ++it;
      continue;
    }
    bool inside = unit.area.first_row >= area.first_row && unit.area.last_row <= area.last_row &&
                  unit.area.first_col >= area.first_col && unit.area.last_col <= area.last_col;
    if (unit.is_array && !inside) throw HostError("You cannot change part of an array.");
    for (int r = unit.area.first_row; r <= unit.area.last_row; ++r)
      for (int c = unit.area.first_col; c <= unit.area.last_col; ++c) {
        auto cell = sheet.cells.find(Sheet::Key(r, c));
        if (cell != sheet.cells.end()) cell->second.unit.reset();
      }
    it = sheet.units.erase(it);
  }
}

void PutValue(Sheet& sheet, int row, int column, const Value& value) {
  if (row < 0 || row >= SheetRowLimit() || column < 0 || column >= SheetColumnLimit())
    throw HostError("cell outside the sheet");
  RemoveUnitsIn(sheet, Area{row, row, column, column});
  if (Workbook* book = BookOf(sheet)) book->changed = true;
  if (std::holds_alternative<Blank>(value)) {
    sheet.cells.erase(Sheet::Key(row, column));
    return;
  }
  sheet.cells[Sheet::Key(row, column)].value = value;
}

void EnterText(Sheet& sheet, int row, int col, const std::string& text) {
  if (!text.empty() && text[0] == '=') {
    auto unit = std::make_shared<FormulaUnit>();
    unit->tree = ParseFormula(text, CurrentRowLimit());
    unit->sheet = sheet.id;
    unit->area = Area{row, row, col, col};
    unit->text = text;
    unit->calculated = false;
    RemoveUnitsIn(sheet, unit->area);
    Cell& cell = sheet.cells[Sheet::Key(row, col)];
    cell.value = Blank{};
    cell.unit = unit;
    sheet.units.push_back(unit);
    return;
  }
  if (auto n = ReadNumberText(text)) PutValue(sheet, row, col, *n);
  else if (text.empty()) PutValue(sheet, row, col, Blank{});
  else PutValue(sheet, row, col, text);
}

bool CopyTiles(const Sheet& source, const Area& a, Sheet& dest, const Area& target, std::string& unread) {
  const int down = target.rows() / a.rows(), across = target.columns() / a.columns();
  // Read everything first: source and destination may overlap.
  struct Item {
    int r, c;
    Value value;
    std::string formula;
    CellFormat format;
  };
  std::vector<Item> items;
  for (int tr = 0; tr < down; ++tr)
    for (int tc = 0; tc < across; ++tc) {
      int dr = target.first_row + tr * a.rows() - a.first_row;
      int dc = target.first_col + tc * a.columns() - a.first_col;
      for (int r = a.first_row; r <= a.last_row; ++r)
        for (int c = a.first_col; c <= a.last_col; ++c) {
          Item item{r + dr, c + dc, source.Get(r, c), "", source.formats.At(r, c)};
          const Cell* cell = source.Find(r, c);
          if (cell && cell->unit && !cell->unit->is_array) {
            auto shifted = ShiftFormula(cell->unit->text, dr, dc);
            if (!shifted) {
              unread = cell->unit->text;
              return false;
            }
            item.formula = *shifted;
          }
          items.push_back(std::move(item));
        }
    }
  RemoveUnitsIn(dest, target);
  for (const Item& item : items) {
    if (!item.formula.empty()) EnterText(dest, item.r, item.c, item.formula);
    else PutValue(dest, item.r, item.c, item.value);
    dest.formats.Set(item.r, item.c, item.format);
  }
  return true;
}

void MoveSheet(Sheet& sheet, Workbook& to, std::size_t at) {
  Workbook& from = *BookOf(sheet);
  auto it = std::find_if(from.sheets.begin(), from.sheets.end(), [&](auto& s) { return s.get() == &sheet; });
  std::unique_ptr<Sheet> moved = std::move(*it);
  from.sheets.erase(it);
  if (from.active_sheet == sheet.id) from.active_sheet = from.sheets.empty() ? 0 : from.sheets[0]->id;
  sheet.book = to.name;
  if (to.sheets.empty()) to.active_sheet = sheet.id;
  at = std::min(at, to.sheets.size());
  to.sheets.insert(to.sheets.begin() + static_cast<long>(at), std::move(moved));
  from.changed = to.changed = true;
}

void CloseBook(Workbook& book) {
  Model& model = H().model;
  Application& app = H().app;
  std::vector<SheetId> ids;
  for (auto& s : book.sheets) ids.push_back(s->id);
  bool was_active = std::find(ids.begin(), ids.end(), app.active) != ids.end();
  for (SheetId id : ids) std::erase(app.group, id);
  std::erase_if(model.books, [&](auto& b) { return b.get() == &book; });
  if (was_active) {
    app.active = 0;
    app.selection = Ref{};
    for (auto& b : model.books)
      if (!b->hidden && b->active_sheet != 0) {
        Activate(b->active_sheet);
        break;
      }
  }
}

SheetId NewWorkbook(const std::string& book, const std::string& sheet) {
  CheckName(book, "workbook");
  // Without workbooks the document's one sheet bears the file's name.
  if (H().app.workbooks) CheckSheetName(sheet);
  if (FindBook(book)) throw HostError("a workbook named \"" + book + "\" is already open");
  auto b = std::make_unique<Workbook>();
  b->name = book;
  // Without workbooks a document is its one sheet and bears its name.
  SheetId id = NewSheetIn(*b, H().app.workbooks ? sheet : book).id;
  b->changed = false;
  H().model.books.push_back(std::move(b));
  Activate(id);
  return id;
}

SheetId AddSheet(const std::string& book, const std::string& sheet) {
  CheckSheetName(sheet);
  Workbook* b = FindBook(book);
  if (b == nullptr) throw HostError("no open workbook \"" + book + "\"");
  if (!H().app.workbooks) throw HostError("a document of this host holds one sheet");
  for (auto& s : b->sheets)
    if (SameText(s->name, sheet)) throw HostError("sheet \"" + sheet + "\" already exists");
  return NewSheetIn(*b, sheet).id;
}

SheetId FindSheet(const std::string& book, const std::string& sheet) {
  if (book.empty()) return 0;
  Sheet* s = FindSheetByName(book, sheet);
  return s ? s->id : 0;
}

std::string SheetName(SheetId sheet) { return SheetOrThrow(sheet).name; }
std::string BookName(SheetId sheet) { return SheetOrThrow(sheet).book; }

void Activate(SheetId sheet) {
  Sheet& s = SheetOrThrow(sheet);
  if (Workbook* book = BookOf(s)) book->active_sheet = sheet;
  Application& app = H().app;
  app.selected_object.clear();
  app.active = sheet;
  app.selection = Ref{sheet, {Area{0, 0, 0, 0}}};
  app.active_row = 0;
  app.active_col = 0;
}

SheetId ActiveSheet() { return H().app.active; }

void Select(SheetId sheet, const std::string& range, const std::string& active_cell) {
  SheetOrThrow(sheet);
  // A union of areas, as Ctrl+click makes it: "A2:A10,C2:C10".
  std::vector<Area> areas;
  for (std::size_t from = 0;;) {
    std::size_t comma = range.find(',', from);
    std::string part = range.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    auto ref = ParseA1(part, SheetRowLimit());
    if (!ref || !ref->sheet.empty()) throw HostError("not a range: " + range);
    areas.push_back(ref->area);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  Activate(sheet);
  Application& app = H().app;
  app.selection = Ref{sheet, areas};
  app.active_row = areas[0].first_row;
  app.active_col = areas[0].first_col;
  if (!active_cell.empty()) {
    auto cell = ParseA1(active_cell, SheetRowLimit());
    if (!cell || cell->area.rows() != 1 || cell->area.columns() != 1)
      throw HostError("not a cell: " + active_cell);
    app.active_row = cell->area.first_row;
    app.active_col = cell->area.first_col;
  }
}

std::string Selection() {
  const Application& app = H().app;
  std::string out;
  for (const Area& area : app.selection.areas) {
    RefText text;
    text.area = area;
    // Whole columns read as "C:D", as Excel writes them.
    text.whole_columns = area.first_row == 0 && area.last_row == SheetRowLimit() - 1;
    out += (out.empty() ? "" : ",") + PrintA1(text);
  }
  return out;
}

std::string ActiveCell() {
  RefText text;
  text.area = Area{H().app.active_row, H().app.active_row, H().app.active_col, H().app.active_col};
  return PrintA1(text);
}

}  // namespace standin
