// The decorrelator: its exports, its hooks, and the module state its
// dialog, run, coefficient sheet and file, and update formulas share. One
// run at a time, on the host's one thread.
#ifndef HVT_TOOLS_DECOR_DECOR_H
#define HVT_TOOLS_DECOR_DECOR_H

#include <cstddef>

#include "command/results.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/references.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"

namespace hvt::decor {

extern const ToolHooks kTool;

// ---- Tables (decor_tables.cpp).
constexpr std::size_t kDialogRows = 12;
extern DialogRow g_dialog[kDialogRows];
extern XLOPER g_dialogArray;   // built when the add-in opens
extern XLOPER g_answer;        // the last answer; boolean: none

// Dialog items.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kFormulaGroup = 6;
constexpr short kFileItem = 9;

// The dialog loop and its checks (decor_dialog.cpp): kStepGoOn to run.
int RunDecorDialog();
// The dialog's formula choice, for the run.
extern short g_updateBool;

constexpr std::size_t kNameSize = 256;  // a counted string and its NUL

extern RefRecord g_input;    // N contiguous input columns, O rows
extern RefRecord g_output;   // first output cell, widened to N x O by Decor
extern RefRecord g_coefArea; // rows 0..N+1, columns 0..N-1 of the sheet
// The same three on a host of version 12 or later, where a run keeps its
// references in these only.
extern RefRecord12 g_input12;
extern RefRecord12 g_output12;
extern RefRecord12 g_coefArea12;
// A run's records of the interface it runs on.
template <HostRecord Oper>
struct DecorRecords {
  RefRecordOf<Oper>& input;
  RefRecordOf<Oper>& output;
  RefRecordOf<Oper>& coefArea;
};
template <HostRecord Oper>
DecorRecords<Oper> Records();

extern bool g_dialogChecked;  // set by the dialog, cleared by Decor
extern bool g_wantFile;    // the dialog's "Create Coefficient &File"

// The coefficient sheet of one run.
struct CoefficientSheet {
  char* name = nullptr;          // counted, local memory: [Book1.xls]Sheet1.COF
  char shortName[kNameSize]{};   // counted: Sheet1.COF
  char outputSheet[kNameSize]{}; // counted: the output's sheet text
  bool workbook = false;         // the host keeps sheets in workbooks
  bool newSheet = false;         // this run created the sheet
  char createdFile[kNameSize]{}; // counted: the document file this run created
  bool prepared = false;
};
extern CoefficientSheet g_sheet;

// ---- Pure text steps (counted strings in, counted strings out).

// The coefficient sheet's name for an input sheet text ([Book1.xls]Sheet1 or
// BOOK1.XLS): cut at the first "." (after the "]" on workbook hosts), then
// ".COF". False when the result would not fit `capacity` bytes (text + NUL).
bool BuildCoefficientName(const char* sheetText, bool workbook, char* out,
                          std::size_t capacity);
// The part after the first "]", or the whole name.
void ShortSheetName(const char* name, char* out, std::size_t capacity);
// The short name with the three characters after its last "." made "UCX".
void DefaultFileName(const char* shortName, char* out, std::size_t capacity);

// ---- The sheet and the file.

// Makes a sheet (its GET.CELL(32) text) the active one.
void ActivateSheet(char* sheetText);

// Builds the name, finds or creates the sheet and sets g_coefArea for
// `columns` inputs. 1, or 0 when it could not (the message has been shown).
int PrepareCoefficientSheet(std::size_t columns);
// Protects and hides (or saves) the sheet.
void FinishCoefficientSheet();
// Removes a sheet this run created.
void DiscardCoefficientSheet();
// Frees the run's name; the sheet state goes back to unprepared.
void ReleaseCoefficientSheet();

// The "Save Coefficient File" dialog loop: 1 saved, 0 not.
int SaveCoefficientFile();
// Opens or creates `path` (a NUL-terminated text) and writes the area.
int WriteCoefficientFile(const char* path, bool overwrite);
// Header and cells of g_coefArea into an open file.
int WriteCoefficientData(HFILE file);

// The update formulas in the output's last data row.
void WriteUpdateFormulas();

// Value helpers.

}  // namespace hvt::decor

extern "C" {
// The menu command (function text "Decorel"); always 1.
HVT_EXPORT int WINAPI DecWrapper();
// The macro procedure (function text "DecMacro"): 1 done, 0 a check failed
// or memory ran out, -1 a non-number, a stop or no convergence.
HVT_EXPORT int WINAPI Decor(LPXLOPER dataRef, LPXLOPER outputRef,
                            short updateBool);
// The same through the 12-series, registered in its place on hosts of
// version 12 and later.
HVT_EXPORT int WINAPI Decor12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                              short updateBool);
// One component of one data row from the stored coefficients.
HVT_EXPORT LPXLOPER WINAPI UpdateUCX(LPXLOPER coeffRef, LPXLOPER dataRef);
HVT_EXPORT LPXLOPER12 WINAPI UpdateUCX12(LPXLOPER12 coeffRef, LPXLOPER12 dataRef);
}

#endif  // HVT_TOOLS_DECOR_DECOR_H
