// The headless host: an in-memory workbook, a small formula engine and the
// Excel4/Excel4v entry points an add-in module calls, plus a C++ API through
// which tests and the command line drive it.
//
// All state lives in one process-wide host (Excel has one thread and one
// instance); Reset() puts it back to a fresh state. Functions that cannot do
// what they are asked throw standin::HostError with a one-line message.
#ifndef HVT_STANDIN_STANDIN_H
#define HVT_STANDIN_STANDIN_H

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sdk/xlcall.h"

#define STANDIN_API __attribute__((visibility("default")))

namespace standin {

class STANDIN_API HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Plain cell values ----------------------------------------------------

struct Blank {
  bool operator==(const Blank&) const = default;
};
struct Error {
  int code = xlerrValue;  // xlerrNull, xlerrDiv0, xlerrValue, ...
  bool operator==(const Error&) const = default;
};
using Value = std::variant<Blank, double, std::string, bool, Error>;

// "#VALUE!" for xlerrValue and so on; "#ERR?" for a code Excel does not know.
STANDIN_API std::string ErrorText(int code);
// The code for an error literal ("#N/A", case-insensitive), or -1.
STANDIN_API int ErrorCodeOf(std::string_view text);
// A value as text for messages and tests: numbers shortest round-trip,
// text as is, TRUE/FALSE, error texts, blank as "".
STANDIN_API std::string Describe(const Value& value);

// A rectangular block of values, row-major.
struct Grid {
  int rows = 0;
  int columns = 0;
  std::vector<Value> cells;
  const Value& at(int row, int column) const {
    return cells[static_cast<std::size_t>(row) * columns + column];
  }
};

// ---- Session --------------------------------------------------------------

// Fresh host: no workbooks, no add-in, no windows but the main one, empty
// logs, failure injection off, host version "8.0". Throws HostError when the
// previous session leaked (outstanding values, double or unknown frees,
// live Global/Local blocks); the state is reset either way.
STANDIN_API void Reset();
// Same, without the leak check (for tests that leak on purpose).
STANDIN_API void ResetQuietly();

// "4.0", "5.0", "7.0", "8.0" ... "16.0" (the versions Excel shipped as):
// the text xlfGetWorkspace(2) answers and the grid an Excel4 caller
// addresses (16,384 rows before version 8, 65,536 from 8, 256 columns;
// from 12 the bigger sheet stays out of an XLOPER's reach). Others throw.
STANDIN_API void SetHostVersion(const std::string& version);
STANDIN_API std::string HostVersion();
STANDIN_API int RowLimit();
constexpr int kColumnLimit = 256;
// The sheet itself: RowLimit() rows by 256 columns before version 12,
// 1,048,576 by 16,384 from 12, where only 12-series callers reach past the
// old grid.
STANDIN_API int SheetRows();
STANDIN_API int SheetColumns();

// ---- Workbooks and cells --------------------------------------------------

using SheetId = std::uint32_t;

// A new workbook with one sheet; both become active. Returns the sheet's id.
STANDIN_API SheetId NewWorkbook(const std::string& book,
                                const std::string& sheet = "Sheet1");
// Another sheet in an open workbook (it does not become active).
STANDIN_API SheetId AddSheet(const std::string& book, const std::string& sheet);
// Opens a CSV file as Excel does: workbook "prices.csv", sheet "prices",
// first field in A1. The sheet becomes active.
STANDIN_API SheetId OpenCsvFile(const std::string& path);
// The same from text already read (standard input, a test's literal);
// file_name names the workbook.
STANDIN_API SheetId OpenCsvText(const std::string& file_name,
                                std::string_view text);
// 0 when there is no such sheet.
STANDIN_API SheetId FindSheet(const std::string& book, const std::string& sheet);
STANDIN_API std::string SheetName(SheetId sheet);
STANDIN_API std::string BookName(SheetId sheet);
STANDIN_API void Activate(SheetId sheet);
STANDIN_API SheetId ActiveSheet();
// The selection (an A1 range text on the sheet; several areas joined by
// commas, "A2:A10,C2:C10") and the active cell.
STANDIN_API void Select(SheetId sheet, const std::string& range,
                        const std::string& active_cell = "");
STANDIN_API std::string Selection();
STANDIN_API std::string ActiveCell();

// Cells are addressed by A1 text ("B7"; ranges "A1:A40"), zero-based row and
// column where a number pair is taken.
STANDIN_API void SetCell(SheetId sheet, int row, int column, const Value& value);
STANDIN_API void SetCell(SheetId sheet, const std::string& cell,
                         const Value& value);
// Writes values down a column starting at a cell.
STANDIN_API void SetColumn(SheetId sheet, const std::string& first_cell,
                           const std::vector<Value>& values);
STANDIN_API Value GetCell(SheetId sheet, int row, int column);
STANDIN_API Value GetCell(SheetId sheet, const std::string& cell);
STANDIN_API Grid GetRange(SheetId sheet, const std::string& range);
// The formula text of a cell, or "" when it holds a constant.
STANDIN_API std::string GetFormula(SheetId sheet, const std::string& cell);

// Formulas as a user types them ("=A1*2", "=KLX_Update(A1:A40,10,0)").
// A syntax error throws. Nothing is calculated until Recalculate().
STANDIN_API void EnterFormula(SheetId sheet, const std::string& cell,
                              const std::string& formula);
STANDIN_API void EnterArrayFormula(SheetId sheet, const std::string& range,
                                   const std::string& formula);
// Calculates every formula of every open workbook, as a full recalculation.
STANDIN_API void Recalculate();

// Evaluates a formula on the active sheet as an array formula sized to its
// result. no_value is set when a registered function returned a null pointer
// for the outermost call (the grid is then empty).
struct Evaluation {
  bool no_value = false;
  Grid result;
};
STANDIN_API Evaluation Evaluate(const std::string& formula);

// ---- Add-in modules -------------------------------------------------------

// Loads a module by path and calls its xlAutoOpen (when exported); returns
// xlAutoOpen's answer (1 when there is none). Throws when it cannot be loaded.
// One module at a time; loading another closes the first.
STANDIN_API int LoadAddIn(const std::string& path);
// Calls xlAutoClose and unloads the module. No-op without a module.
STANDIN_API void CloseAddIn();
STANDIN_API bool AddInLoaded();
STANDIN_API std::string AddInPath();

// Test hook: stands a table of C function pointers in for a module, so tests
// can register and call procedures without building a shared library. The
// table's name is what xlGetName answers; procedures are looked up in the
// table first, then among the process's exported symbols. A procedure named
// "xlAutoFree" receives xlbitDLLFree results. Replaces any loaded module.
STANDIN_API void AttachTestModule(const std::string& module_name);
STANDIN_API void AddTestProcedure(const std::string& procedure, void* address);
// Shorthand: AddTestProcedure, then xlfRegister as an add-in would (macro
// type 1, category "Test"). Returns the register id; throws on failure.
STANDIN_API double RegisterTestFunction(const std::string& function_text,
                                        const std::string& type_text,
                                        void* address);

struct Registration {
  double id = 0;
  std::string module;
  std::string procedure;
  std::string type_text;
  std::string function_text;
  std::string argument_text;
  std::string macro_type;
  std::string category;
  std::string shortcut;
};
STANDIN_API std::vector<Registration> Registrations();

// Every call of a registered function from a formula, in order.
struct CallRecord {
  std::string function_text;
  bool returned_null = false;  // the procedure answered a null pointer
  bool discarded = false;      // it met an uncalculated cell; called again
};
STANDIN_API std::vector<CallRecord> Calls();
STANDIN_API void ClearCalls();

// ---- Diagnostics ----------------------------------------------------------

// Lines about calls the host refused: unknown function numbers, bad
// XLOPERs, wrong counts, unsupported type letters.
STANDIN_API std::vector<std::string> Log();
STANDIN_API void ClearLog();

struct Accounting {
  int outstanding_values = 0;   // host-filled values not yet given to xlFree
  int double_frees = 0;         // xlFree of a value already freed
  int unknown_frees = 0;        // xlFree of a pointer the host never handed out
  int pending_dll_results = 0;  // xlbitDLLFree results not yet through xlAutoFree
  long long global_blocks = 0;  // live GlobalAlloc/LocalAlloc blocks
  long long global_bytes = 0;
  int bad_global_frees = 0;     // Global/LocalFree of an unknown or freed handle
  int changed_arrays = 0;       // host arrays given back with cells changed
  std::vector<std::string> problems;  // one line per fault, for messages
  bool Clean() const {
    return outstanding_values == 0 && double_frees == 0 && unknown_frees == 0 &&
           pending_dll_results == 0 && global_blocks == 0 &&
           bad_global_frees == 0 && changed_arrays == 0;
  }
};
STANDIN_API Accounting GetAccounting();

// The k-th GlobalAlloc/LocalAlloc/GlobalReAlloc from now (1 = the next)
// returns nothing.
// 0 turns injection off.
STANDIN_API void FailAllocation(int k);
// Whether the loaded module's own code is running (not the host's, called
// back from it).
STANDIN_API bool ModuleCodeRunning();
// For a test build's replacement operator new: counts a C++ allocation when
// the module's own code makes it, against the same countdown; true when it
// is the one to fail.
STANDIN_API bool ModuleAllocationFails();
// Whether the allocation FailAllocation asked to fail has not come yet: the
// run made fewer allocations than the count.
STANDIN_API bool AllocationFailurePending();

// ---- The application --------------------------------------------------------

// false: a host without workbooks, where every document is one sheet that
// bears the document's name (as before version 5). Set before opening files.
STANDIN_API void SetWorkbooks(bool workbooks);
// 1 automatic, 2 automatic except tables, 3 manual.
STANDIN_API int CalculationMode();
STANDIN_API void SetCalculationMode(int mode);
// Recalculations run by the add-in's calculate commands.
STANDIN_API int Recalculations();
STANDIN_API bool StatusBarShown();
STANDIN_API void ShowStatusBar(bool shown);
STANDIN_API bool ScreenUpdating();      // xlfEcho
STANDIN_API bool MacroErrorsHandled();  // xlfError
STANDIN_API void SetR1C1(bool r1c1);    // the workspace's reference style
// Sheets edited together; fewer than two ends group edit.
STANDIN_API void SetGroup(const std::vector<SheetId>& sheets);
// A drawing object selected instead of cells; "" selects cells again.
STANDIN_API void SelectObject(const std::string& name);
// GET.DOCUMENT(3) of a sheet: 1 worksheet, 2 chart, 3 macro sheet, ...
STANDIN_API void SetSheetType(SheetId sheet, int type);
STANDIN_API void ProtectSheet(SheetId sheet, bool on, const std::string& password = "");
STANDIN_API bool SheetProtected(SheetId sheet);
STANDIN_API void ProtectWorkbook(const std::string& book, bool structure);
STANDIN_API bool SheetHidden(SheetId sheet);
STANDIN_API bool WorkbookHidden(const std::string& book);
// Open workbooks in opening order, and the sheets of one in tab order.
STANDIN_API std::vector<std::string> Workbooks();
STANDIN_API std::vector<std::string> Sheets(const std::string& book);
STANDIN_API std::vector<std::string> DefinedNames();
// What a defined name stands for, as text; empty when there is no such name.
STANDIN_API std::string NameDefinition(const std::string& name);

// How a cell is shown; a cell never formatted reads as the defaults.
struct Format {
  std::string number_format = "General";
  int alignment = 1;  // 1 general, 2 left, 3 centre, 4 right
  bool bold = false, italic = false;
  bool locked = true, formula_hidden = false;
};
STANDIN_API Format GetFormat(SheetId sheet, const std::string& cell);
constexpr double kStandardWidth = 8.43;
STANDIN_API double ColumnWidth(SheetId sheet, int column);

// Everything a sheet holds of its own, for comparing a workbook before and
// after a command: one entry per cell with a value, a formula or a format,
// in row-major order, its text telling all three; then one entry per column
// off the standard width, with row -1.
struct CellState {
  int row = 0, column = 0;
  std::string text;
  bool operator==(const CellState&) const = default;
};
STANDIN_API std::vector<CellState> SheetContents(SheetId sheet);

// A sheet's values as CSV (numbers shortest round-trip, texts quoted when
// needed), and the same written to a file.
STANDIN_API std::string CsvText(SheetId sheet);
STANDIN_API void SaveCsv(SheetId sheet, const std::string& path);

// ---- Menus --------------------------------------------------------------------

struct MenuItem {
  std::string text;    // "-" for a separator
  std::string macro;   // empty for the host's own commands
  std::string status;  // status-bar text
};
// Bar 10 is the worksheet menu bar from version 5, bar 1 before. From 12
// bar 10's added commands are what Add-ins > Menu Commands shows.
STANDIN_API std::vector<MenuItem> MenuItems(int bar, const std::string& menu);
STANDIN_API int MenuBar();
// Chooses an item of a menu of the current bar by its text (case and "&"
// marks ignored) and runs its macro; answers the command's result.
STANDIN_API double ChooseMenuItem(const std::string& menu, const std::string& item);
// Runs a registered command by its function text.
STANDIN_API double RunCommand(const std::string& function_text);

// ---- The person at the keyboard -------------------------------------------------

// How the person answers the next dialog box: item results set by item
// number, then the item pressed (0: the default button). A Cancel button
// pressed, or cancel, answers FALSE.
struct DialogReply {
  bool cancel = false;
  std::vector<std::pair<int, Value>> set;
  int press = 0;
};
STANDIN_API void QueueDialog(const DialogReply& reply);
// The answer to the next question alert (type 1): OK or Cancel. Alerts of
// types 2 and 3 need none.
STANDIN_API void QueueAlert(bool ok);
// What the person types into the next input box; nothing: Cancel.
STANDIN_API void QueueInput(const std::optional<Value>& typed);
// Esc is pressed when xlAbort has been polled this many more times.
STANDIN_API void PressEscAfter(int polls);
STANDIN_API bool BreakPending();
// Queued answers not yet used.
STANDIN_API int UnusedAnswers();

// One showing of a dialog box: its definition as handed over and, unless
// cancelled, the answer given back.
struct DialogShowing {
  std::string title;
  Grid definition;
  bool cancelled = false;
  int closed_by = 0;
  Grid answer;
};
STANDIN_API std::vector<DialogShowing> Showings();
// Everything the person saw, one line each: dialogs, alerts, input boxes,
// beeps, status-bar texts, Esc presses and the host's own alerts.
STANDIN_API std::vector<std::string> Transcript();
STANDIN_API void ClearTranscript();
STANDIN_API std::string StatusText();

// ---- Windows --------------------------------------------------------------

STANDIN_API HWND MainWindow();
// A top-level window of the given class under a parent (the main window
// when none is given). Returns its handle.
STANDIN_API HWND OpenWindow(const std::string& class_name, HWND parent = nullptr);
// Excel's own dialog class, under the main window unless told otherwise.
STANDIN_API HWND OpenDialogWindow(HWND parent = nullptr);
STANDIN_API void CloseWindow(HWND window);

}  // namespace standin

#endif  // HVT_STANDIN_STANDIN_H
