// The stand-in's shared state: workbooks, formula units, the loaded module,
// registrations, logs and the accounting of values handed to the add-in.
// Internal to the library.
#ifndef HVT_STANDIN_HOST_H
#define HVT_STANDIN_HOST_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "standin/menus.h"
#include "standin/person.h"
#include "standin/refs.h"
#include "standin/standin.h"

namespace standin {

struct Node;  // formula syntax tree (formula.h)

// A reference as the engine holds it: a sheet and its areas.
struct Ref {
  SheetId sheet = 0;
  std::vector<Area> areas;
};
struct Array {
  int rows = 0, columns = 0;
  std::vector<Value> cells;
  const Value& at(int r, int c) const {
    return cells[static_cast<std::size_t>(r) * columns + c];
  }
};
// What an expression evaluates to. no_value marks the answer of a
// registered function that returned a null pointer (it reads as #NUM!).
struct Operand {
  std::variant<Value, Ref, Array> v;
  bool no_value = false;
  bool missing = false;  // an argument left empty: f(A1,,3)
};

// One formula: a single cell, or an array formula over an area.
struct FormulaUnit {
  SheetId sheet = 0;
  Area area;
  bool is_array = false;
  std::string text;
  std::shared_ptr<const Node> tree;
  bool calculated = true;
  bool in_progress = false;
};

struct Cell {
  Value value;
  std::shared_ptr<FormulaUnit> unit;
};

// How a cell is shown and guarded; kept apart from its value.
struct CellFormat {
  std::string number_format = "General";
  int alignment = 1;  // 1 general, 2 left, 3 centre, 4 right, ...
  bool bold = false, italic = false;
  bool locked = true, formula_hidden = false;
  bool operator==(const CellFormat&) const = default;
};

// A sheet's cell formats, column by column as runs of rows that share one
// format, so that formatting whole columns costs a run per column, not a
// record per cell. Rows in no run have the default format.
class SheetFormats {
 public:
  CellFormat At(int row, int column) const;
  // Changes the format of every cell of area, cells never formatted
  // starting from the default.
  void Apply(const Area& area, const std::function<void(CellFormat&)>& change);
  void Set(int row, int column, const CellFormat& format);
  void Clear(const Area& area);  // back to the default
  bool AllUnlocked(const Area& area) const;
  // Every cell whose format is not the default, in row-major order.
  void ForEachFormatted(const std::function<void(int row, int column, const CellFormat&)>& visit) const;

 private:
  struct Run {
    int last_row;
    CellFormat format;
  };
  using Runs = std::map<int, Run>;  // by first row
  static void SplitAt(Runs& runs, int row);
  static void Tidy(Runs& runs, int first_row, int last_row);
  std::map<int, Runs> columns_;
};

struct Sheet {
  SheetId id = 0;
  std::string name;
  std::string book;
  int type = 1;  // GET.DOCUMENT(3): 1 worksheet, 2 chart, 3 macro sheet
  bool hidden = false;
  bool protected_contents = false;
  std::string password;
  // Only cells that hold something are stored, so an empty sheet of any
  // size costs nothing. Keys are row-major over the biggest grid: 64 bits,
  // as long is 32 bits on Windows.
  using CellKey = std::int64_t;
  static constexpr CellKey kKeyColumns = 16384;
  std::map<CellKey, Cell> cells;
  std::vector<std::shared_ptr<FormulaUnit>> units;
  SheetFormats formats;
  std::map<int, double> column_widths;    // columns off the standard width

  static CellKey Key(int row, int column) { return CellKey{row} * kKeyColumns + column; }
  static int RowOf(CellKey key) { return static_cast<int>(key / kKeyColumns); }
  static int ColumnOf(CellKey key) { return static_cast<int>(key % kKeyColumns); }
  const Cell* Find(int row, int column) const {
    auto it = cells.find(Key(row, column));
    return it == cells.end() ? nullptr : &it->second;
  }
  Value Get(int row, int column) const {
    const Cell* cell = Find(row, column);
    return cell ? cell->value : Value{Blank{}};
  }
};

struct Workbook {
  std::string name;
  std::vector<std::unique_ptr<Sheet>> sheets;
  SheetId active_sheet = 0;
  bool structure_protected = false, windows_protected = false;
  bool hidden = false;       // its window is hidden
  std::string directory;     // where it was last saved; empty: never saved
  bool changed = false;
};

struct Module {
  std::string path;
  void* handle = nullptr;  // loader handle; null for a test module
  bool test = false;
  std::map<std::string, void*> procedures;  // test module's table
};

struct Registered {
  Registration info;
  void* address = nullptr;
};

struct Host {
  Person person;
  MenuBars menus;
  std::string version = "8.0";
  std::vector<std::unique_ptr<Workbook>> books;
  SheetId active = 0;
  SheetId next_sheet_id = 0x1001;
  Ref selection;
  int active_row = 0, active_col = 0;

  std::unique_ptr<Module> module;
  std::vector<Registered> registrations;
  double next_register_id = 0;

  std::vector<CallRecord> calls;
  std::vector<std::string> log;

  // Values the host filled for the add-in: pointer -> what it is.
  std::map<const void*, std::string> live_values;
  std::map<const void*, std::vector<char*>> array_strings;
  std::map<const void*, std::vector<XCHAR*>> array_wide_strings;
  // The cells of each host array as they were handed out.
  std::map<const void*, std::vector<XLOPER>> array_cells;
  int changed_arrays = 0;
  std::set<const void*> freed_values;
  int double_frees = 0;
  int unknown_frees = 0;
  int pending_dll_results = 0;
  std::vector<std::string> problems;

  // The application around the workbooks.
  bool workbooks = true;        // false: every sheet is a document of its own
  int calculation = 1;          // 1 automatic, 2 except tables, 3 manual
  bool status_bar = true;
  bool echo = true;
  bool error_handling = true;
  bool r1c1 = false;            // workspace reference style
  std::vector<SheetId> group;   // sheets edited as a group (two or more)
  std::string selected_object;  // a drawing object selected instead of cells
  std::string directory;        // current directory
  std::string status_text;      // what the status bar shows; empty: Excel's own
  std::map<std::string, std::string> names;  // defined names (upper case key)
  int calculations = 0;         // recalculations run by commands

  // Recalculation: units met uncalculated by the add-in call in progress.
  bool recalculating = false;
  std::vector<FormulaUnit*> uncalced_hits;
  SheetId calling_sheet = 0;  // sheet of the formula being evaluated
};

Host& H();
int MajorVersion();     // the whole integer part of the version text: 4 to 16
int CurrentRowLimit();  // rows the caller being answered can address
// The sheet itself: 16,384 or 65,536 rows by 256 columns, 1,048,576 by
// 16,384 from version 12.
int SheetRowLimit();
int SheetColumnLimit();
Workbook* FindBook(const std::string& name);
Workbook* BookOf(const Sheet& sheet);
bool SameText(const std::string& a, const std::string& b);
// A name Excel lets a sheet bear: 1 to 31 characters, none of : \ / ? * [ ].
bool ValidSheetName(const std::string& name);
// "[Book]Sheet", or the document name alone on a host without workbooks.
std::string FullSheetName(const Sheet& sheet);
// A new sheet in a workbook, named like Excel names new sheets.
Sheet& NewSheetIn(Workbook& book, const std::string& name = "");
void RemoveSheet(Workbook& book, SheetId sheet);
Sheet* FindSheetById(SheetId id);
Sheet* FindSheetByName(const std::string& book, const std::string& sheet);
Sheet& SheetOrThrow(SheetId id);
void LogLine(const std::string& line);

// Model operations (model.cpp).
void PutValue(Sheet& sheet, int row, int column, const Value& value);
void RemoveUnitsIn(Sheet& sheet, const Area& area);

// Accounting of host-filled values (values.cpp).
char* NewHostString(std::string_view text);     // counted, tracked
XLOPER* NewHostArray(int rows, int columns);    // tracked
XLMREF* NewHostRefTable(int count);             // tracked
void TrackArrayString(const XLOPER* array, char* text);
// Remembers a filled host array's cells, so that xlFree can tell when the
// add-in gave it back with cells changed.
void KeepArrayCells(const XLOPER* array, std::size_t count);
int FreeHostValue(XLOPER* value);               // xlFree
// The 12-series: wide strings (UTF-16 in the records, UTF-8 in the model),
// arrays and reference tables, tracked like the rest. A string put into a
// host array (array given) lives and dies with it.
std::u16string WideText(std::string_view utf8);
std::string NarrowText(const XCHAR* text, std::size_t length);
XCHAR* NewHostWideString(std::string_view utf8);
XLOPER12* NewHostArray12(int rows, int columns);
XLMREF12* NewHostRefTable12(int count);
void FillScalar12(XLOPER12& out, const Value& value, const XLOPER12* array = nullptr);
Value ScalarOf12(const XLOPER12& x);
int FreeHostValue12(XLOPER12* value);  // xlFree through Excel12
// Releases any tracked block by its address (a double or unknown free is
// counted, not performed).
int FreeTracked(const void* pointer);
// Fills a host-owned XLOPER from a plain value (strings tracked).
void FillScalar(XLOPER& out, const Value& value);
// Reads an XLOPER scalar as a plain value.
Value ScalarOf(const XLOPER& x);

// Text forms of values (values.cpp).
std::string GeneralText(double number);
bool ValidErrorCode(int code);

}  // namespace standin

#endif  // HVT_STANDIN_HOST_H
