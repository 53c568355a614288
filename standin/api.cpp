// The C++ face of the stand-in: sessions, cells, formulas, modules, logs,
// accounting and windows.
#include <algorithm>

#include "standin/addin.h"
#include "standin/eval.h"
#include "standin/formula.h"
#include "standin/loader.h"
#include "standin/module_code.h"
#include "standin/win32_state.h"

namespace standin {
namespace {

Area CellArea(const std::string& text) {
  auto ref = ParseA1(text, SheetRowLimit());
  if (!ref || !ref->sheet.empty()) throw HostError("not a cell or range: " + text);
  return ref->area;
}

Area OneCell(const std::string& text) {
  Area a = CellArea(text);
  if (a.rows() != 1 || a.columns() != 1) throw HostError("not a single cell: " + text);
  return a;
}

void Enter(SheetId id, const Area& area, const std::string& formula, bool is_array) {
  Sheet& sheet = SheetOrThrow(id);
  auto unit = std::make_shared<FormulaUnit>();
  unit->tree = ParseFormula(formula, SheetRowLimit());
  unit->sheet = id;
  unit->area = area;
  unit->is_array = is_array;
  unit->text = formula.empty() || formula[0] != '=' ? "=" + formula : formula;
  unit->calculated = false;
  RemoveUnitsIn(sheet, area);
  for (int r = area.first_row; r <= area.last_row; ++r)
    for (int c = area.first_col; c <= area.last_col; ++c) {
      Cell& cell = sheet.cells[Sheet::Key(r, c)];
      cell.value = Blank{};
      cell.unit = unit;
    }
  sheet.units.push_back(unit);
}


void ReleaseHostValues() {
  ValueAccounts& accounts = H().accounts;
  // Blocks the add-in never gave back: release them so the process stays
  // clean, after they have been counted.
  std::vector<std::pair<const void*, std::string>> live(accounts.live_values.begin(), accounts.live_values.end());
  for (auto& entry : live) FreeTracked(entry.first);
}

void Wipe() {
  Host& h = H();
  ReleaseHostValues();
  h.~Host();
  new (&h) Host();
  win32::ResetMemory();
  win32::ResetWindows();
}

}  // namespace

void ResetQuietly() {
  try {
    CloseAddIn();
  } catch (...) {
  }
  Wipe();
}

void Reset() {
  CloseAddIn();
  Accounting a = GetAccounting();
  Wipe();
  if (!a.Clean()) {
    std::string message = "the session left faults:";
    for (const std::string& p : a.problems) message += " " + p + ";";
    throw HostError(message);
  }
}

void SetHostVersion(const std::string& version) {
  // The versions Excel for Windows shipped as, from 4.0 to 16.0 (there was
  // no 6.0 and no 13.0).
  static const char* const kVersions[] = {"4.0", "5.0", "7.0", "8.0", "9.0", "10.0",
                                          "11.0", "12.0", "14.0", "15.0", "16.0"};
  if (std::find(std::begin(kVersions), std::end(kVersions), version) == std::end(kVersions))
    throw HostError("unknown host version " + version);
  H().app.version = version;
}
std::string HostVersion() { return H().app.version; }
int RowLimit() { return CurrentRowLimit(); }
int SheetRows() { return SheetRowLimit(); }
int SheetColumns() { return SheetColumnLimit(); }

void SetCell(SheetId sheet, int row, int column, const Value& value) {
  PutValue(SheetOrThrow(sheet), row, column, value);
}
void SetCell(SheetId sheet, const std::string& cell, const Value& value) {
  Area a = OneCell(cell);
  SetCell(sheet, a.first_row, a.first_col, value);
}
void SetColumn(SheetId sheet, const std::string& first_cell, const std::vector<Value>& values) {
  Area a = OneCell(first_cell);
  for (std::size_t i = 0; i < values.size(); ++i)
    SetCell(sheet, a.first_row + static_cast<int>(i), a.first_col, values[i]);
}
Value GetCell(SheetId sheet, int row, int column) { return SheetOrThrow(sheet).Get(row, column); }
Value GetCell(SheetId sheet, const std::string& cell) {
  Area a = OneCell(cell);
  return GetCell(sheet, a.first_row, a.first_col);
}
Grid GetRange(SheetId sheet, const std::string& range) {
  SheetOrThrow(sheet);
  bool was = H().recalc.recalculating;
  H().recalc.recalculating = false;  // read what the cells hold now
  Grid g = GridOf(ReadRef(Ref{sheet, {CellArea(range)}}));
  H().recalc.recalculating = was;
  return g;
}
std::string GetFormula(SheetId sheet, const std::string& cell) {
  Area a = OneCell(cell);
  const Cell* c = SheetOrThrow(sheet).Find(a.first_row, a.first_col);
  if (c == nullptr || c->unit == nullptr) return "";
  return c->unit->is_array ? "{" + c->unit->text + "}" : c->unit->text;
}

void EnterFormula(SheetId sheet, const std::string& cell, const std::string& formula) {
  Enter(sheet, OneCell(cell), formula, false);
}
void EnterArrayFormula(SheetId sheet, const std::string& range, const std::string& formula) {
  Enter(sheet, CellArea(range), formula, true);
}

void Recalculate() {
  std::vector<std::shared_ptr<FormulaUnit>> all;
  for (auto& book : H().model.books)
    for (auto& sheet : book->sheets) {
      std::vector<std::shared_ptr<FormulaUnit>> units = sheet->units;
      std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) {
        return std::pair(a->area.first_row, a->area.first_col) <
               std::pair(b->area.first_row, b->area.first_col);
      });
      all.insert(all.end(), units.begin(), units.end());
    }
  for (auto& unit : all) unit->calculated = false;
  struct Flag {
    ~Flag() { H().recalc.recalculating = false; }
  } flag;
  H().recalc.recalculating = true;
  for (auto& unit : all)
    if (!unit->calculated) CalculateUnit(*unit);
}

Evaluation Evaluate(const std::string& formula) {
  Model& model = H().model;
  Application& app = H().app;
  Recalculation& recalc = H().recalc;
  if (FindSheetById(app.active) == nullptr) throw HostError("no active sheet");
  auto tree = ParseFormula(formula, SheetRowLimit());
  bool any_units = false;
  for (auto& book : model.books)
    for (auto& sheet : book->sheets) any_units = any_units || !sheet->units.empty();
  if (any_units) Recalculate();
  SheetId saved = recalc.calling_sheet;
  recalc.calling_sheet = app.active;
  Operand result = EvaluateNode(*tree, app.active);
  recalc.calling_sheet = saved;
  Evaluation e;
  if (result.no_value) {
    e.no_value = true;
    return e;
  }
  if (auto* v = std::get_if<Value>(&result.v)) {
    e.result.rows = e.result.columns = 1;
    e.result.cells.push_back(*v);
  } else if (auto* r = std::get_if<Ref>(&result.v)) {
    if (r->areas.size() != 1) {
      e.result.rows = e.result.columns = 1;
      e.result.cells.push_back(Error{xlerrValue});
    } else {
      e.result = GridOf(ReadRef(*r));
    }
  } else {
    Array& answer = std::get<Array>(result.v);
    e.result.rows = answer.rows;
    e.result.columns = answer.columns;
    e.result.cells = std::move(answer.cells);
  }
  return e;
}

// ---- Modules ----

namespace {
void DropRegistrations(const std::string& module) {
  auto& list = H().link.registrations;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Registered& r) { return r.info.module == module; }),
             list.end());
}
}  // namespace

int LoadAddIn(const std::string& path) {
  CloseAddIn();
  std::string error;
  void* handle = LoadModule(path, error);
  if (handle == nullptr) throw HostError("cannot load add-in " + path + ": " + error);
  auto module = std::make_unique<Module>();
  module->path = path;
  module->handle = handle;
  H().link.module = std::move(module);
  void* open = ModuleSymbol(handle, "xlAutoOpen");
  if (open == nullptr) return 1;
  CodeOwner owner(true);
  return reinterpret_cast<int (*)()>(open)();
}

void CloseAddIn() {
  AddinLink& link = H().link;
  if (link.module == nullptr) return;
  if (void* close = ResolveProcedure("xlAutoClose")) {
    CodeOwner owner(true);
    reinterpret_cast<int (*)()>(close)();
  }
  // The module may have gone during its own close; look again.
  if (link.module == nullptr) return;
  DropRegistrations(link.module->path);
  void* handle = link.module->handle;
  link.module.reset();
  if (handle) UnloadModule(handle);
}

bool AddInLoaded() { return H().link.module != nullptr; }
std::string AddInPath() { return H().link.module ? H().link.module->path : ""; }

void AttachTestModule(const std::string& module_name) {
  CloseAddIn();
  auto module = std::make_unique<Module>();
  module->path = module_name;
  module->test = true;
  H().link.module = std::move(module);
}

void AddTestProcedure(const std::string& procedure, void* address) {
  if (H().link.module == nullptr || !H().link.module->test)
    throw HostError("AddTestProcedure needs AttachTestModule first");
  H().link.module->procedures[procedure] = address;
}

double RegisterTestFunction(const std::string& function_text, const std::string& type_text,
                            void* address) {
  std::string procedure = "test_" + function_text;
  AddTestProcedure(procedure, address);
  RegisterRequest r{H().link.module->path, procedure, type_text, function_text, "", "1", "Test", ""};
  Value id = RegisterProcedure(r);
  if (auto* d = std::get_if<double>(&id)) return *d;
  throw HostError("cannot register " + function_text + " as \"" + type_text + "\"");
}

std::vector<Registration> Registrations() {
  std::vector<Registration> out;
  for (const Registered& r : H().link.registrations) out.push_back(r.info);
  return out;
}

std::vector<CallRecord> Calls() { return H().link.calls; }
void ClearCalls() { H().link.calls.clear(); }
std::vector<std::string> Log() { return H().link.log; }
void ClearLog() { H().link.log.clear(); }

Accounting GetAccounting() {
  const ValueAccounts& accounts = H().accounts;
  Accounting a;
  a.outstanding_values = static_cast<int>(accounts.live_values.size());
  a.double_frees = accounts.double_frees;
  a.unknown_frees = accounts.unknown_frees;
  a.pending_dll_results = accounts.pending_dll_results;
  a.changed_arrays = accounts.changed_arrays;
  a.problems = accounts.problems;
  for (const auto& [pointer, kind] : accounts.live_values)
    a.problems.push_back("a host-filled " + kind + " never given to xlFree");
  win32::MemoryCounts m = win32::Memory();
  a.global_blocks = m.blocks;
  a.global_bytes = m.bytes;
  a.bad_global_frees = m.bad_frees;
  a.problems.insert(a.problems.end(), m.problems.begin(), m.problems.end());
  return a;
}

void FailAllocation(int k) { win32::FailAllocation(k); }

bool g_module_code = false;

bool ModuleCodeRunning() { return g_module_code; }

bool ModuleAllocationFails() { return g_module_code && win32::TakeInjectedFailure(); }

bool AllocationFailurePending() { return win32::FailurePending(); }

HWND MainWindow() { return win32::MainWindow(); }
HWND OpenWindow(const std::string& class_name, HWND parent) {
  return win32::AddWindow(class_name, parent ? parent : win32::MainWindow());
}
HWND OpenDialogWindow(HWND parent) { return OpenWindow("bosa_sdm_XL9", parent); }
void CloseWindow(HWND window) {
  if (!win32::RemoveWindow(window)) throw HostError("no such window to close");
}

}  // namespace standin
