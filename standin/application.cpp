// The C++ face of the application around the workbooks: calculation,
// workspace switches, group edit, protection, formats, CSV output, defined
// names, and running menu commands.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <fstream>

#include "standin/dispatch.h"
#include "standin/eval.h"

namespace standin {

void SetWorkbooks(bool workbooks) {
  if (!H().model.books.empty()) throw HostError("choose the host kind before opening documents");
  H().app.workbooks = workbooks;
}
int CalculationMode() { return H().app.calculation; }
void SetCalculationMode(int mode) {
  if (mode < 1 || mode > 3) throw HostError("calculation mode " + std::to_string(mode));
  H().app.calculation = mode;
}
int Recalculations() { return H().app.calculations; }
bool StatusBarShown() { return H().app.status_bar; }
void ShowStatusBar(bool shown) { H().app.status_bar = shown; }
bool ScreenUpdating() { return H().app.echo; }
bool MacroErrorsHandled() { return H().app.error_handling; }
void SetR1C1(bool r1c1) { H().app.r1c1 = r1c1; }

void SetGroup(const std::vector<SheetId>& sheets) {
  for (SheetId id : sheets) SheetOrThrow(id);
  H().app.group = sheets.size() >= 2 ? sheets : std::vector<SheetId>{};
}

void SelectObject(const std::string& name) {
  if (!name.empty() && FindSheetById(H().app.active) == nullptr) throw HostError("no active sheet");
  H().app.selected_object = name;
}

void SetSheetType(SheetId sheet, int type) {
  if (type < 1 || type > 7) throw HostError("sheet type " + std::to_string(type));
  SheetOrThrow(sheet).type = type;
}

void ProtectSheet(SheetId sheet, bool on, const std::string& password) {
  Sheet& s = SheetOrThrow(sheet);
  s.protected_contents = on;
  s.password = on ? password : "";
}
bool SheetProtected(SheetId sheet) { return SheetOrThrow(sheet).protected_contents; }

void ProtectWorkbook(const std::string& book, bool structure) {
  Workbook* b = FindBook(book);
  if (b == nullptr) throw HostError("no open workbook \"" + book + "\"");
  b->structure_protected = structure;
}

bool SheetHidden(SheetId sheet) { return SheetOrThrow(sheet).hidden; }
bool WorkbookHidden(const std::string& book) {
  Workbook* b = FindBook(book);
  if (b == nullptr) throw HostError("no open workbook \"" + book + "\"");
  return b->hidden;
}

std::vector<std::string> Workbooks() {
  std::vector<std::string> names;
  for (auto& b : H().model.books) names.push_back(b->name);
  return names;
}

std::vector<std::string> Sheets(const std::string& book) {
  Workbook* b = FindBook(book);
  if (b == nullptr) throw HostError("no open workbook \"" + book + "\"");
  std::vector<std::string> names;
  for (auto& s : b->sheets) names.push_back(s->name);
  return names;
}

std::vector<std::string> DefinedNames() {
  std::vector<std::string> names;
  for (auto& [name, value] : H().model.names) names.push_back(name);
  return names;
}

std::string NameDefinition(const std::string& name) {
  std::string key;
  for (char c : name) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto it = H().model.names.find(key);
  return it == H().model.names.end() ? std::string() : it->second;
}

Format GetFormat(SheetId sheet, const std::string& cell) {
  auto ref = ParseA1(cell, SheetRowLimit());
  if (!ref || !ref->sheet.empty() || ref->area.rows() != 1 || ref->area.columns() != 1)
    throw HostError("not a single cell: " + cell);
  const Sheet& s = SheetOrThrow(sheet);
  const CellFormat f = s.formats.At(ref->area.first_row, ref->area.first_col);
  return Format{f.number_format, f.alignment, f.bold, f.italic, f.locked, f.formula_hidden};
}

std::vector<CellState> SheetContents(SheetId sheet) {
  const Sheet& s = SheetOrThrow(sheet);
  std::map<Sheet::CellKey, CellState> cells;
  for (const auto& [key, cell] : s.cells) {
    CellState& state = cells[key];
    state.row = Sheet::RowOf(key);
    state.column = Sheet::ColumnOf(key);
    state.text = Describe(cell.value);
    if (cell.unit != nullptr) {
      state.text += cell.unit->is_array ? " {" + cell.unit->text + "}" : " " + cell.unit->text;
    }
  }
  s.formats.ForEachFormatted([&](int row, int column, const CellFormat& f) {
    CellState& state = cells[Sheet::Key(row, column)];
    state.row = row;
    state.column = column;
    state.text += " [" + f.number_format + " " + std::to_string(f.alignment) +
                  (f.bold ? " bold" : "") + (f.italic ? " italic" : "") +
                  (f.locked ? "" : " unlocked") + (f.formula_hidden ? " hidden" : "") + "]";
  });
  std::vector<CellState> all;
  all.reserve(cells.size() + s.column_widths.size());
  for (auto& [key, state] : cells) all.push_back(std::move(state));
  for (const auto& [column, width] : s.column_widths) {
    all.push_back(CellState{-1, column, std::to_string(width)});
  }
  return all;
}

double ColumnWidth(SheetId sheet, int column) {
  const Sheet& s = SheetOrThrow(sheet);
  auto it = s.column_widths.find(column);
  return it == s.column_widths.end() ? kStandardWidth : it->second;
}

namespace {
std::string CsvCellText(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) {
    char text[32];
    auto r = std::to_chars(text, text + sizeof text, *d);
    return std::string(text, r.ptr);
  }
  std::string s = Describe(v);
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string quoted = "\"";
  for (char c : s) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}
}  // namespace

std::string CsvText(SheetId id) {
  const Sheet& sheet = SheetOrThrow(id);
  if (sheet.cells.empty()) return "";
  int rows = 0, columns = 0;
  for (const auto& [key, cell] : sheet.cells) {
    rows = std::max(rows, Sheet::RowOf(key) + 1);
    columns = std::max(columns, Sheet::ColumnOf(key) + 1);
  }
  std::string out;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (c) out += ',';
      out += CsvCellText(sheet.Get(r, c));
    }
    out += '\n';
  }
  return out;
}

void SaveCsv(SheetId sheet, const std::string& path) {
  std::string text = CsvText(sheet);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw HostError("cannot write " + path + ": " + std::strerror(errno));
  out << text;
  out.close();
  if (!out) throw HostError("cannot write " + path);
}

double RunCommand(const std::string& function_text) {
  const Registered* found = nullptr;
  for (const Registered& r : H().link.registrations)
    if (r.info.macro_type == "2" && SameText(r.info.function_text, function_text)) found = &r;
  if (found == nullptr) throw HostError("no command \"" + function_text + "\" is registered");
  Operand answer = CallRegistered(*found, {}, H().app.active);
  // Excel forgets a break when the command it interrupted ends.
  H().person.break_pending = false;
  auto* v = std::get_if<Value>(&answer.v);
  // Commands registered to return a boolean answer TRUE or FALSE.
  if (auto* b = v ? std::get_if<bool>(v) : nullptr) return *b ? 1.0 : 0.0;
  auto* d = v ? std::get_if<double>(v) : nullptr;
  if (d == nullptr) throw HostError("command \"" + function_text + "\" answered no number");
  return *d;
}

double ChooseMenuItem(const std::string& menu, const std::string& item) {
  return RunCommand(MenuMacro(menu, item));
}

}  // namespace standin
