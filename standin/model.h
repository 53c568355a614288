// The workbook model: open workbooks, their sheets, cells, formula units,
// formats and defined names. Internal to the library.
#ifndef HVT_STANDIN_MODEL_H
#define HVT_STANDIN_MODEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <variant>
#include <vector>

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

// A sheet's stored cells in key order: a map, with a flat list of its
// entries kept beside it for long reads. Walking a million-node tree costs
// a pointer chase per cell; the list is walked like an array. A cell added
// past every other joins the list's end (a column filled from the top, a
// file read row by row); any other cell added, and any removed, drops the
// list, so it never holds a cell that is gone, and a long read builds it
// again. Values are read through it as they are now. Not for use from two
// threads at once (a const read may build the list).
class CellStore {
 public:
  using Key = std::int64_t;
  using Map = std::map<Key, Cell>;
  using value_type = Map::value_type;
  using iterator = Map::iterator;
  using const_iterator = Map::const_iterator;

  CellStore() = default;
  CellStore(const CellStore& other) : map_(other.map_), flat_ready_(false) {}
  CellStore& operator=(const CellStore& other) {
    if (this != &other) {
      Drop();
      map_ = other.map_;
    }
    return *this;
  }
  CellStore(CellStore&& other) noexcept : map_(std::move(other.map_)), flat_ready_(false) {
    other.map_.clear();
    other.Drop();
  }
  CellStore& operator=(CellStore&& other) noexcept {
    if (this != &other) {
      Drop();
      map_ = std::move(other.map_);
      other.map_.clear();
      other.Drop();
    }
    return *this;
  }

  iterator begin() { return map_.begin(); }
  iterator end() { return map_.end(); }
  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }
  iterator find(Key key) { return map_.find(key); }
  const_iterator find(Key key) const { return map_.find(key); }
  iterator lower_bound(Key key) { return map_.lower_bound(key); }
  const_iterator lower_bound(Key key) const { return map_.lower_bound(key); }
  iterator upper_bound(Key key) { return map_.upper_bound(key); }
  const_iterator upper_bound(Key key) const { return map_.upper_bound(key); }
  bool empty() const { return map_.empty(); }
  std::size_t size() const { return map_.size(); }

  // The cell at key, made empty if it was not stored.
  Cell& operator[](Key key) {
    auto it = map_.lower_bound(key);
    if (it == map_.end() || it->first != key) {
      it = map_.emplace_hint(it, key, Cell{});
      Added(it);
    }
    return it->second;
  }
  template <typename... Args>
  iterator emplace_hint(const_iterator hint, Args&&... args) {
    const std::size_t before = map_.size();
    iterator it = map_.emplace_hint(hint, std::forward<Args>(args)...);
    if (map_.size() != before) Added(it);
    return it;
  }
  std::size_t erase(Key key) {
    auto it = map_.find(key);
    if (it == map_.end()) return 0;
    Drop();
    map_.erase(it);
    return 1;
  }
  iterator erase(const_iterator first, const_iterator last) {
    if (first != last) Drop();
    return map_.erase(first, last);
  }

  // The entries in key order, or null when the list is not at hand and a
  // read of area_cells addresses is too short to be worth building it for.
  const std::vector<const value_type*>* Flat(std::int64_t area_cells) const {
    if (!flat_ready_) {
      if (map_.size() < kFlatMinimum || area_cells < static_cast<std::int64_t>(map_.size()))
        return nullptr;
      try {
        flat_.reserve(map_.size());
      } catch (const std::bad_alloc&) {
        return nullptr;  // no room for the list: the tree is walked
      }
      for (const value_type& entry : map_) flat_.push_back(&entry);
      flat_ready_ = true;
    }
    return &flat_;
  }

 private:
  // Below this many cells a read does not build the list.
  static constexpr std::size_t kFlatMinimum = 4096;
  void Added(const_iterator it) noexcept {
    if (!flat_ready_) return;
    // The list holds every other entry: past its last, the cell is last.
    if (flat_.size() + 1 == map_.size() && (flat_.empty() || flat_.back()->first < it->first)) {
      try {
        flat_.push_back(&*it);
        return;
      } catch (...) {
        // No room to keep the list: it goes, the cell stays.
      }
    }
    Drop();
  }
  void Drop() noexcept {
    std::vector<const value_type*>().swap(flat_);
    flat_ready_ = false;
  }
  Map map_;
  mutable std::vector<const value_type*> flat_;
  mutable bool flat_ready_ = true;  // empty and in order
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
  CellStore cells;
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
  // Calls visit(row, column, value) for each stored cell of the area, in
  // row order, walking the stored cells in key order rather than every
  // address and skipping ahead only past cells outside the area's columns:
  // a long column of a one-column sheet is read in one pass.
  template <typename Visit>
  void VisitStored(const Area& area, Visit&& visit) const {
    const std::int64_t addresses = std::int64_t{area.rows()} * area.columns();
    if (const auto* flat = cells.Flat(addresses)) {
      auto from = [&](auto it, CellKey key) {
        return std::lower_bound(it, flat->end(), key,
                                [](const CellStore::value_type* e, CellKey k) { return e->first < k; });
      };
      VisitIn(area, from(flat->begin(), Key(area.first_row, area.first_col)), flat->end(),
              [](auto it) { return (*it)->first; }, [](auto it) -> const Value& { return (*it)->second.value; },
              from, visit);
    } else {
      auto from = [&](auto, CellKey key) { return cells.lower_bound(key); };
      VisitIn(area, cells.lower_bound(Key(area.first_row, area.first_col)), cells.end(),
              [](auto it) { return it->first; }, [](auto it) -> const Value& { return it->second.value; },
              from, visit);
    }
  }

 private:
  // The one walk, over the tree or the flat list: from(it, key) finds the
  // first entry at or past key, searching on from it.
  template <typename It, typename KeyOf, typename ValueOf, typename From, typename Visit>
  static void VisitIn(const Area& area, It it, It end, KeyOf key_of, ValueOf value_of, From from,
                      Visit& visit) {
    const CellKey last = Key(area.last_row, area.last_col);
    while (it != end && key_of(it) <= last) {
      const CellKey key = key_of(it);
      int r = RowOf(key), c = ColumnOf(key);
      if (c < area.first_col) {
        it = from(it, Key(r, area.first_col));
      } else if (c > area.last_col) {
        it = from(it, Key(r + 1, area.first_col));
      } else {
        visit(r, c, value_of(it));
        ++it;
      }
    }
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

// A block of values as the library hands it to its callers.
Grid GridOf(const Array& a);

struct Model {
  std::vector<std::unique_ptr<Workbook>> books;
  SheetId next_sheet_id = 0x1001;
  std::map<std::string, std::string> names;  // defined names (upper case key)
};

Workbook* FindBook(const std::string& name);
Workbook* BookOf(const Sheet& sheet);
bool SameText(const std::string& a, const std::string& b);
// A name Excel lets a sheet bear: 1 to 31 characters, none of : \ / ? * [ ].
bool ValidSheetName(const std::string& name);
// A new sheet in a workbook, named like Excel names new sheets.
Sheet& NewSheetIn(Workbook& book, const std::string& name = "");
void RemoveSheet(Workbook& book, SheetId sheet);
Sheet* FindSheetById(SheetId id);
Sheet* FindSheetByName(const std::string& book, const std::string& sheet);
Sheet& SheetOrThrow(SheetId id);
void PutValue(Sheet& sheet, int row, int column, const Value& value);
void RemoveUnitsIn(Sheet& sheet, const Area& area);
// Enters a formula or constant as a user types it into one cell.
void EnterText(Sheet& sheet, int row, int column, const std::string& text);
// Copies area from of source once into each tile of target (a whole number
// of copies of it), formulas moved with their cells, formats with them. A
// formula that cannot be moved leaves everything as it was: false, with its
// text in unread.
bool CopyTiles(const Sheet& source, const Area& from, Sheet& dest, const Area& target, std::string& unread);
// Moves a sheet to position at (from 0; past the end: last) of a workbook,
// its own or another.
void MoveSheet(Sheet& sheet, Workbook& to, std::size_t at);
// Closes a workbook without saving; the next open visible one becomes active.
void CloseBook(Workbook& book);

}  // namespace standin

#endif  // HVT_STANDIN_MODEL_H
