// The macro language's information and text functions: what the workspace,
// documents, workbooks, cells and windows are; reference texts both ways;
// formula texts converted between A1 and R1C1; names; the selection.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "standin/dispatch.h"
#include "standin/eval.h"
#include "standin/formula.h"

namespace standin {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The sheet a document name means: "[Book]Sheet", a book (its active
// sheet), a sheet of the active book, or the active sheet when none given.
Sheet* DocumentSheet(const Args& args, std::size_t k) {
  if (!Given(args, k)) return FindSheetById(H().app.active);
  std::string name = TextArg(args, k);
  if (!name.empty() && name[0] == '[') {
    std::size_t close = name.find(']');
    if (close == std::string::npos) return nullptr;
    return FindSheetByName(name.substr(1, close - 1), name.substr(close + 1));
  }
  if (Workbook* book = FindBook(name)) return FindSheetById(book->active_sheet);
  return FindSheetByName("", name);
}

// A book named as a document ("Book1.xls", not "[Book1.xls]Sheet1"), where
// the name is not also one of its own sheets.
bool NamesABook(const Args& args, std::size_t k) {
  if (!Given(args, k) || !H().app.workbooks) return false;
  std::string name = TextArg(args, k);
  return !name.empty() && name[0] != '[' && FindBook(name) != nullptr;
}

// Whether a book is known by its name alone: it holds one sheet, named as
// the book without its extension (a text file opened as a workbook).
bool KnownByBookName(const Workbook& book) {
  if (book.sheets.size() != 1) return false;
  std::size_t dot = book.name.rfind('.');
  std::string bare = dot == std::string::npos ? book.name : book.name.substr(0, dot);
  return SameText(book.sheets.front()->name, bare);
}

// What GET.DOCUMENT(1) and GET.CELL(32) call a sheet.
std::string DocumentName(const Sheet& sheet) {
  Workbook* book = BookOf(sheet);
  if (!H().app.workbooks || KnownByBookName(*book)) return book->name;
  return FullSheetName(sheet);
}

Workbook* DocumentBook(const Args& args, std::size_t k) {
  if (!Given(args, k)) {
    Sheet* active = FindSheetById(H().app.active);
    return active ? BookOf(*active) : nullptr;
  }
  std::string name = TextArg(args, k);
  if (!name.empty() && name[0] == '[') name = name.substr(1, name.find(']') - 1);
  return FindBook(name);
}

int TypeCode(const Args& args, const char* function, int& type) {
  auto n = NumberArg(args, 0);
  if (!n) return Refuse(function, "no type number");
  type = static_cast<int>(*n);
  return xlretSuccess;
}

int NoSuchDocument(XLOPER& result) {
  SetValue(result, Error{xlerrValue});
  return xlretSuccess;
}

int DoGetWorkspace(XLOPER& result, const Args& args) {
  int type = 0;
  if (int code = TypeCode(args, "xlfGetWorkspace", type)) return code;
  Application& app = H().app;
  switch (type) {
    case 1: SetValue(result, std::string("Stand-in (64-bit)")); return xlretSuccess;
    case 2: SetValue(result, app.version); return xlretSuccess;
    case 4: SetValue(result, app.r1c1); return xlretSuccess;
    case 6: SetValue(result, app.status_bar); return xlretSuccess;
    case 20: {
      if (app.group.size() < 2) {
        SetValue(result, Error{xlerrNA});
        return xlretSuccess;
      }
      Array names{1, static_cast<int>(app.group.size()), {}};
      for (SheetId id : app.group) names.cells.push_back(FullSheetName(SheetOrThrow(id)));
      SetArray(result, names);
      return xlretSuccess;
    }
    default:
      return Refuse("xlfGetWorkspace", "type " + std::to_string(type) + " not supported");
  }
}

int DoGetDocument(XLOPER& result, const Args& args) {
  int type = 0;
  if (int code = TypeCode(args, "xlfGetDocument", type)) return code;
  Sheet* sheet = DocumentSheet(args, 1);
  if (sheet == nullptr) return NoSuchDocument(result);
  Workbook* book = BookOf(*sheet);
  switch (type) {
    case 1: SetValue(result, DocumentName(*sheet)); return xlretSuccess;
    case 2:
      SetValue(result, book->directory.empty() ? Value{Error{xlerrNA}} : Value{book->directory});
      return xlretSuccess;
    case 3:  // a book answers 5, unless it is known by its one sheet
      SetValue(result, NamesABook(args, 1) && !KnownByBookName(*book)
                           ? 5.0
                           : static_cast<double>(sheet->type));
      return xlretSuccess;
    case 4: SetValue(result, book->changed); return xlretSuccess;
    case 7: SetValue(result, sheet->protected_contents); return xlretSuccess;
    case 14: SetValue(result, static_cast<double>(H().app.calculation)); return xlretSuccess;
    case 67:  // TRUE: the sheet is in a workbook
    case 68:  // the book's name
      // Before workbooks these types did not exist: #VALUE!, as for any
      // type out of range.
      if (!H().app.workbooks) SetValue(result, Error{xlerrValue});
      else if (type == 67) SetValue(result, true);
      else SetValue(result, book->name);
      return xlretSuccess;
    default:
      return Refuse("xlfGetDocument", "type " + std::to_string(type) + " not supported");
  }
}

int DoGetWorkbook(XLOPER& result, const Args& args) {
  if (!H().app.workbooks) return Refuse("xlfGetWorkbook", "this host has no workbooks");
  int type = 0;
  if (int code = TypeCode(args, "xlfGetWorkbook", type)) return code;
  Workbook* book = DocumentBook(args, 1);
  if (book == nullptr) return NoSuchDocument(result);
  switch (type) {
    case 1: {
      Array names{1, static_cast<int>(book->sheets.size()), {}};
      for (auto& s : book->sheets) names.cells.push_back(FullSheetName(*s));
      SetArray(result, names);
      return xlretSuccess;
    }
    case 2: {
      // From version 5 on, type 2 always answers #N/A; version 4's
      // workbooks answered their active sheet.
      if (MajorVersion() >= 5) {
        SetValue(result, Error{xlerrNA});
        return xlretSuccess;
      }
      Sheet* active = FindSheetById(book->active_sheet);
      SetValue(result, active ? Value{FullSheetName(*active)} : Value{Error{xlerrNA}});
      return xlretSuccess;
    }
    case 4: SetValue(result, static_cast<double>(book->sheets.size())); return xlretSuccess;
    case 14: SetValue(result, book->structure_protected); return xlretSuccess;
    case 15: SetValue(result, book->windows_protected); return xlretSuccess;
    case 16: SetValue(result, book->name); return xlretSuccess;
    default:
      return Refuse("xlfGetWorkbook", "type " + std::to_string(type) + " not supported");
  }
}

int DoGetCell(XLOPER& result, const Args& args) {
  int type = 0;
  if (int code = TypeCode(args, "xlfGetCell", type)) return code;
  std::optional<Ref> ref = Given(args, 1) ? RefArg(args, 1)
                                          : std::optional<Ref>(Ref{H().app.active, {Area{H().app.active_row, H().app.active_row, H().app.active_col, H().app.active_col}}});
  Sheet* sheet = ref ? FindSheetById(ref->sheet) : nullptr;
  if (sheet == nullptr || ref->areas.empty()) return NoSuchDocument(result);
  int row = ref->areas[0].first_row, col = ref->areas[0].first_col;
  const CellFormat format = sheet->formats.At(row, col);
  const Cell* cell = sheet->Find(row, col);
  switch (type) {
    case 5: SetValue(result, sheet->Get(row, col)); return xlretSuccess;
    case 6:
      SetValue(result, cell && cell->unit ? Value{cell->unit->text} : ToText(sheet->Get(row, col)));
      return xlretSuccess;
    case 7: SetValue(result, format.number_format); return xlretSuccess;
    case 8: SetValue(result, static_cast<double>(format.alignment)); return xlretSuccess;
    case 14: SetValue(result, format.locked); return xlretSuccess;
    case 20: SetValue(result, format.bold); return xlretSuccess;
    case 21: SetValue(result, format.italic); return xlretSuccess;
    case 32: SetValue(result, DocumentName(*sheet)); return xlretSuccess;
    default:
      return Refuse("xlfGetCell", "type " + std::to_string(type) + " not supported");
  }
}

int DoGetWindow(XLOPER& result, const Args& args) {
  int type = 0;
  if (int code = TypeCode(args, "xlfGetWindow", type)) return code;
  Workbook* book = nullptr;
  if (Given(args, 1)) {
    std::string name = TextArg(args, 1);
    std::size_t colon = name.rfind(':');  // "Book1:2", the second window
    book = FindBook(name);
    if (book == nullptr && colon != std::string::npos) book = FindBook(name.substr(0, colon));
  } else {
    book = DocumentBook(args, 1);
  }
  if (book == nullptr) return NoSuchDocument(result);
  if (type == 7) {
    SetValue(result, book->hidden);
    return xlretSuccess;
  }
  return Refuse("xlfGetWindow", "type " + std::to_string(type) + " not supported");
}

int DoDocuments(XLOPER& result, const Args& args) {
  int type = 1;
  if (auto n = NumberArg(args, 0)) type = static_cast<int>(*n);
  if (type < 1 || type > 3) return Refuse("xlfDocuments", "type " + std::to_string(type));
  std::vector<std::string> names;
  // Add-in workbooks are not modelled: types 1 and 3 list every book.
  if (type != 2)
    for (auto& book : H().model.books) names.push_back(book->name);
  if (names.empty()) {
    SetValue(result, Error{xlerrNA});
    return xlretSuccess;
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return Lower(a) < Lower(b);
  });
  Array a{1, static_cast<int>(names.size()), {}};
  for (auto& n : names) a.cells.push_back(n);
  SetArray(result, a);
  return xlretSuccess;
}

int DoDirectory(XLOPER& result, const Args& args) {
  Application& app = H().app;
  if (app.directory.empty()) app.directory = std::filesystem::current_path().string();
  if (Given(args, 0)) {
    std::string path = TextArg(args, 0);
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
      SetValue(result, Error{xlerrValue});
      return xlretSuccess;
    }
    app.directory = std::filesystem::absolute(path, ec).string();
  }
  SetValue(result, app.directory);
  return xlretSuccess;
}

int DoTextref(XLOPER& result, const Args& args) {
  Value text = ScalarArg(args, 0);
  if (!std::holds_alternative<std::string>(text)) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  const std::string& t = std::get<std::string>(text);
  // One notation per call: A1 when a1 is TRUE or omitted, R1C1 when FALSE,
  // whatever notation the workspace shows.
  std::optional<Ref> ref = RefFromText(t, BoolArg(args, 1, true));
  if (!ref) {
    SetValue(result, Error{xlerrRef});
    return xlretSuccess;
  }
  std::size_t pos = 0;
  std::string book, sheet;
  bool named = ScanSheetPrefix(t, pos, book, sheet);
  // A 12-series caller gets the external reference: an XLOPER's single
  // reference cannot carry the big sheet's rows and columns.
  if (!named && ref->areas.size() == 1 && CurrentWideCall() == nullptr) {  // current sheet
    std::memset(static_cast<void*>(&result), 0, sizeof result);
    const Area& a = ref->areas[0];
    result.xltype = xltypeSRef;
    result.val.sref.count = 1;
    result.val.sref.ref = XLREF{static_cast<WORD>(a.first_row), static_cast<WORD>(a.last_row),
                                static_cast<BYTE>(a.first_col), static_cast<BYTE>(a.last_col)};
    return xlretSuccess;
  }
  SetRef(result, *ref);
  return xlretSuccess;
}

int DoReftext(XLOPER& result, const Args& args) {
  std::optional<Ref> ref = RefArg(args, 0);
  if (!ref || FindSheetById(ref->sheet) == nullptr) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  SetValue(result, RefTextOf(*ref, BoolArg(args, 1, false)));
  return xlretSuccess;
}

int DoFormulaConvert(XLOPER& result, const Args& args) {
  Value text = ScalarArg(args, 0);
  if (!std::holds_alternative<std::string>(text)) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  if (!Given(args, 1)) return Refuse("xlfFormulaConvert", "from_a1 is required");
  bool from_a1 = BoolArg(args, 1, true);
  bool to_a1 = BoolArg(args, 2, from_a1);
  int ref_type = 0;
  if (auto n = NumberArg(args, 3)) ref_type = static_cast<int>(*n);
  if (ref_type < 0 || ref_type > 4) {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  int base_row = H().app.active_row, base_col = H().app.active_col;
  if (Given(args, 4)) {
    std::optional<Ref> base = RefArg(args, 4);
    if (!base) {
      SetValue(result, Error{xlerrValue});
      return xlretSuccess;
    }
    base_row = base->areas[0].first_row;
    base_col = base->areas[0].first_col;
  }
  // Excel converts only formulas: the text must begin with "=".
  const std::string& formula = std::get<std::string>(text);
  if (formula.empty() || formula[0] != '=') {
    SetValue(result, Error{xlerrValue});
    return xlretSuccess;
  }
  auto converted = ConvertFormula(formula, from_a1, to_a1, ref_type, base_row, base_col);
  SetValue(result, converted ? Value{*converted} : Value{Error{xlerrValue}});
  return xlretSuccess;
}

int DoIsref(XLOPER& result, const Args& args) {
  int type = BaseType(*args[0]);
  SetValue(result, type == xltypeRef || type == xltypeSRef);
  return xlretSuccess;
}

template <typename Test>
int IsValue(XLOPER& result, const Args& args, Test test) {
  int type = BaseType(*args[0]);
  Value v = type == xltypeMulti ? ScalarArg(args, 0) : ScalarArg(args, 0);
  SetValue(result, test(v));
  return xlretSuccess;
}

int DoIstext(XLOPER& r, const Args& a) {
  return IsValue(r, a, [](const Value& v) { return std::holds_alternative<std::string>(v); });
}
int DoIsnumber(XLOPER& r, const Args& a) {
  return IsValue(r, a, [](const Value& v) { return std::holds_alternative<double>(v); });
}
int DoIsnontext(XLOPER& r, const Args& a) {
  return IsValue(r, a, [](const Value& v) { return !std::holds_alternative<std::string>(v); });
}

int DoRows(XLOPER& result, const Args& args) {
  Operand op = OperandOf(*args[0], CallingSheet());
  double rows = 1;
  if (auto* r = std::get_if<Ref>(&op.v)) {
    if (r->areas.size() != 1) {
      SetValue(result, Error{xlerrRef});
      return xlretSuccess;
    }
    rows = r->areas[0].rows();
  } else if (auto* a = std::get_if<Array>(&op.v)) {
    rows = a->rows;
  }
  SetValue(result, rows);
  return xlretSuccess;
}

// A text argument, or the error to answer.
std::optional<Error> Text(const Args& args, std::size_t k, std::string& out) {
  Value v = ToText(ScalarArg(args, k));
  if (auto* e = std::get_if<Error>(&v)) return *e;
  out = std::get<std::string>(v);
  return std::nullopt;
}

// A whole-number argument at least `low`; nothing when it is not.
std::optional<double> Count(const Args& args, std::size_t k, double otherwise, double low) {
  if (!Given(args, k)) return otherwise;
  Value n = ToNumber(ScalarArg(args, k));
  auto* d = std::get_if<double>(&n);
  if (d == nullptr || std::trunc(*d) < low) return std::nullopt;
  return std::trunc(*d);
}

int DoRight(XLOPER& result, const Args& args) {
  std::string s;
  if (auto e = Text(args, 0, s)) return SetValue(result, *e), xlretSuccess;
  auto n = Count(args, 1, 1, 0);
  if (!n) return SetValue(result, Error{xlerrValue}), xlretSuccess;
  std::size_t take = *n < static_cast<double>(s.size()) ? static_cast<std::size_t>(*n) : s.size();
  SetValue(result, s.substr(s.size() - take));
  return xlretSuccess;
}

int DoMid(XLOPER& result, const Args& args) {
  std::string s;
  if (auto e = Text(args, 0, s)) return SetValue(result, *e), xlretSuccess;
  auto start = Count(args, 1, 0, 1);
  auto n = Count(args, 2, 0, 0);
  if (!start || !n || !Given(args, 1) || !Given(args, 2))
    return SetValue(result, Error{xlerrValue}), xlretSuccess;
  if (*start > static_cast<double>(s.size())) return SetValue(result, std::string()), xlretSuccess;
  std::size_t from = static_cast<std::size_t>(*start) - 1;
  std::size_t take = std::min<double>(*n, static_cast<double>(s.size() - from));
  SetValue(result, s.substr(from, take));
  return xlretSuccess;
}

int DoLen(XLOPER& result, const Args& args) {
  std::string s;
  if (auto e = Text(args, 0, s)) return SetValue(result, *e), xlretSuccess;
  SetValue(result, static_cast<double>(s.size()));
  return xlretSuccess;
}

// SEARCH's pattern: case ignored, ? one character, * any run, ~ quotes.
bool MatchHere(const std::string& p, std::size_t i, const std::string& t, std::size_t j) {
  if (i == p.size()) return true;
  if (p[i] == '*') {
    for (std::size_t k = j; k <= t.size(); ++k)
      if (MatchHere(p, i + 1, t, k)) return true;
    return false;
  }
  if (j == t.size()) return false;
  if (p[i] == '?') return MatchHere(p, i + 1, t, j + 1);
  char want = p[i];
  std::size_t next = i + 1;
  if (want == '~' && i + 1 < p.size() && (p[i + 1] == '*' || p[i + 1] == '?' || p[i + 1] == '~')) {
    want = p[i + 1];
    next = i + 2;
  }
  if (std::tolower(static_cast<unsigned char>(want)) != std::tolower(static_cast<unsigned char>(t[j])))
    return false;
  return MatchHere(p, next, t, j + 1);
}

int DoSearch(XLOPER& result, const Args& args) {
  std::string find, within;
  if (auto e = Text(args, 0, find)) return SetValue(result, *e), xlretSuccess;
  if (auto e = Text(args, 1, within)) return SetValue(result, *e), xlretSuccess;
  auto start = Count(args, 2, 1, 1);
  if (!start || *start > static_cast<double>(within.size()) + (find.empty() ? 1 : 0))
    return SetValue(result, Error{xlerrValue}), xlretSuccess;
  for (std::size_t j = static_cast<std::size_t>(*start) - 1; j <= within.size(); ++j)
    if (MatchHere(find, 0, within, j)) return SetValue(result, static_cast<double>(j + 1)), xlretSuccess;
  SetValue(result, Error{xlerrValue});
  return xlretSuccess;
}

int DoSelection(XLOPER& result, const Args&) {
  Application& app = H().app;
  if (!app.selected_object.empty()) {
    SetValue(result, app.selected_object);
    return xlretSuccess;
  }
  if (FindSheetById(app.active) == nullptr) return Refuse("xlfSelection", "no active sheet");
  SetRef(result, app.selection);
  return xlretSuccess;
}

int DoActiveCell(XLOPER& result, const Args&) {
  Application& app = H().app;
  if (FindSheetById(app.active) == nullptr || !app.selected_object.empty()) {
    SetValue(result, Error{xlerrNA});
    return xlretSuccess;
  }
  SetRef(result, Ref{app.active, {Area{app.active_row, app.active_row, app.active_col, app.active_col}}});
  return xlretSuccess;
}

int DoSetName(XLOPER& result, const Args& args) {
  std::string name = TextArg(args, 0);
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
    return SetValue(result, Error{xlerrValue}), xlretSuccess;
  std::string key;
  for (char c : name) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Model& model = H().model;
  if (!Given(args, 1)) {
    model.names.erase(key);  // a name alone deletes it
  } else if (auto ref = RefArg(args, 1)) {
    model.names[key] = "=" + RefTextOf(*ref, true);
  } else {
    model.names[key] = Describe(ScalarArg(args, 1));
  }
  SetValue(result, true);
  return xlretSuccess;
}

int DoError(XLOPER& result, const Args& args) {
  H().app.error_handling = BoolArg(args, 0, true);
  SetValue(result, true);
  return xlretSuccess;
}

int DoEcho(XLOPER& result, const Args& args) {
  Application& app = H().app;
  app.echo = Given(args, 0) ? BoolArg(args, 0, true) : !app.echo;
  SetValue(result, true);
  return xlretSuccess;
}

constexpr Entry kMacroEntries[] = {
    {xlfGetWorkspace, "xlfGetWorkspace", 1, 1, DoGetWorkspace},
    {xlfGetDocument, "xlfGetDocument", 1, 2, DoGetDocument},
    {xlfGetWorkbook, "xlfGetWorkbook", 1, 2, DoGetWorkbook},
    {xlfGetCell, "xlfGetCell", 1, 2, DoGetCell},
    {xlfGetWindow, "xlfGetWindow", 1, 2, DoGetWindow},
    {xlfDocuments, "xlfDocuments", 0, 2, DoDocuments},
    {xlfDirectory, "xlfDirectory", 0, 1, DoDirectory},
    {xlfTextref, "xlfTextref", 1, 2, DoTextref},
    {xlfReftext, "xlfReftext", 1, 2, DoReftext},
    {xlfFormulaConvert, "xlfFormulaConvert", 2, 5, DoFormulaConvert},
    {xlfIsref, "xlfIsref", 1, 1, DoIsref},
    {xlfIstext, "xlfIstext", 1, 1, DoIstext},
    {xlfIsnumber, "xlfIsnumber", 1, 1, DoIsnumber},
    {xlfIsnontext, "xlfIsnontext", 1, 1, DoIsnontext},
    {xlfRows, "xlfRows", 1, 1, DoRows},
    {xlfRight, "xlfRight", 1, 2, DoRight},
    {xlfMid, "xlfMid", 3, 3, DoMid},
    {xlfLen, "xlfLen", 1, 1, DoLen},
    {xlfSearch, "xlfSearch", 2, 3, DoSearch},
    {xlfSelection, "xlfSelection", 0, 0, DoSelection},
    {xlfActiveCell, "xlfActiveCell", 0, 0, DoActiveCell},
    {xlfSetName, "xlfSetName", 1, 2, DoSetName},
    {xlfError, "xlfError", 1, 2, DoError},
    {xlfEcho, "xlfEcho", 0, 1, DoEcho},
};

// Calls f on every reference in a formula text and puts its answer in the
// reference's place. Texts in quotes are left alone.
template <typename F>
std::optional<std::string> RewriteRefs(const std::string& formula, bool a1, int base_row,
                                       int base_col, F f) {
  std::string out;
  const int limit = CurrentRowLimit();
  std::size_t i = 0;
  while (i < formula.size()) {
    char c = formula[i];
    if (c == '"') {
      std::size_t end = i + 1;
      while (end < formula.size() && !(formula[end] == '"' && (end + 1 >= formula.size() || formula[end + 1] != '"')))
        end += formula[end] == '"' ? 2 : 1;
      if (end >= formula.size()) return std::nullopt;
      out += formula.substr(i, end - i + 1);
      i = end + 1;
      continue;
    }
    bool boundary = i == 0 || !(IdentChar(formula[i - 1]) || formula[i - 1] == '$');
    if (boundary && (std::isalpha(static_cast<unsigned char>(c)) || c == '$' || c == '\'' || c == '[' ||
                     std::isdigit(static_cast<unsigned char>(c)))) {
      std::size_t pos = i;
      std::string book, sheet;
      ScanSheetPrefix(formula, pos, book, sheet);
      std::optional<RefText> ref;
      std::size_t end = pos;
      if (a1) {
        ref = ScanA1Area(formula, end, limit);
      } else {
        // The longest run that reads as an R1C1 reference.
        std::size_t run = pos;
        while (run < formula.size() && std::strchr("RrCc0123456789[]-+:", formula[run])) ++run;
        for (std::size_t stop = run; stop > pos && !ref; --stop) {
          ref = ParseR1C1(std::string_view(formula).substr(pos, stop - pos), limit, base_row, base_col);
          if (ref) end = stop;
        }
      }
      bool follows = end < formula.size() && (IdentChar(formula[end]) || formula[end] == '(');
      if (ref && !follows && !(std::isdigit(static_cast<unsigned char>(c)) && !ref->whole_rows)) {
        ref->book = book;
        ref->sheet = sheet;
        out += f(*ref);
        i = end;
        continue;
      }
      // Not a reference: copy the name or number whole.
      std::size_t word = i;
      while (word < formula.size() && (IdentChar(formula[word]) || formula[word] == '$')) ++word;
      if (word == i) word = i + 1;
      out += formula.substr(i, word - i);
      i = word;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

void SetAbsolute(RefText& r, int ref_type) {
  if (ref_type == 0) return;
  bool row = ref_type == 1 || ref_type == 2;
  bool col = ref_type == 1 || ref_type == 3;
  r.abs_row1 = r.abs_row2 = row;
  r.abs_col1 = r.abs_col2 = col;
}

}  // namespace

const Entry* MacroEntries(std::size_t& count) {
  count = std::size(kMacroEntries);
  return kMacroEntries;
}

std::string RefTextOf(const Ref& ref, bool a1) {
  Sheet& sheet = SheetOrThrow(ref.sheet);
  std::string out;
  for (const Area& area : ref.areas) {
    RefText t;
    if (H().app.workbooks) t.book = sheet.book;
    t.sheet = sheet.name;
    t.area = area;
    t.abs_row1 = t.abs_row2 = t.abs_col1 = t.abs_col2 = true;
    // Whole columns and rows print as such: C3 or $C:$C, R5 or $5:$5.
    t.whole_columns = area.first_row == 0 && area.last_row == SheetRowLimit() - 1;
    t.whole_rows = !t.whole_columns && area.first_col == 0 &&
                   area.last_col == SheetColumnLimit() - 1;
    if (!out.empty()) out += ",";
    out += a1 ? PrintA1(t) : PrintR1C1(t);
  }
  return out;
}

std::optional<Ref> RefFromText(const std::string& text, bool a1, std::string* why) {
  Application& app = H().app;
  auto parsed = a1 ? ParseA1(text, CurrentRowLimit())
                   : ParseR1C1(text, CurrentRowLimit(), app.active_row, app.active_col);
  if (!parsed) {
    if (why) *why = "not a reference";
    return std::nullopt;
  }
  SheetId id = app.active;
  if (!parsed->sheet.empty()) {
    Sheet* sheet = FindSheetByName(parsed->book, parsed->sheet);
    if (sheet == nullptr && !app.workbooks && parsed->book.empty()) sheet = FindSheetByName(parsed->sheet, parsed->sheet);
    if (sheet == nullptr) {
      if (why) *why = "no sheet " + parsed->sheet;
      return std::nullopt;
    }
    id = sheet->id;
  }
  if (FindSheetById(id) == nullptr) {
    if (why) *why = "no active sheet";
    return std::nullopt;
  }
  return Ref{id, {parsed->area}};
}

std::optional<std::string> ConvertFormula(const std::string& formula, bool from_a1, bool to_a1,
                                          int ref_type, int base_row, int base_col) {
  return RewriteRefs(formula, from_a1, base_row, base_col, [&](RefText r) {
    SetAbsolute(r, ref_type);
    return to_a1 ? PrintA1(r) : PrintR1C1(r, base_row, base_col);
  });
}

std::optional<std::string> ShiftFormula(const std::string& formula, int rows, int columns) {
  const int limit = CurrentRowLimit();
  return RewriteRefs(formula, true, 0, 0, [&](RefText r) -> std::string {
    Area& a = r.area;
    auto move = [&](int& v, bool abs, int by, int top) {
      if (!abs) v += by;
      return v >= 0 && v < top;
    };
    bool ok = true;
    if (!r.whole_rows) {
      ok = move(a.first_col, r.abs_col1, columns, ColumnLimitFor(limit)) && ok;
      ok = move(a.last_col, r.abs_col2, columns, ColumnLimitFor(limit)) && ok;
    }
    if (!r.whole_columns) {
      ok = move(a.first_row, r.abs_row1, rows, limit) && ok;
      ok = move(a.last_row, r.abs_row2, rows, limit) && ok;
    }
    return ok ? PrintA1(r) : std::string("#REF!");
  });
}

}  // namespace standin
