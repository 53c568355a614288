// The BLK tool: its exports, its hooks, and the pieces its tables, dialogs
// and formula writer share: the module's reference records and flags, the
// writer itself, the checks of a direct call, and the small text and layout
// rules they use.
#ifndef HVT_TOOLS_BLK_BLK_H
#define HVT_TOOLS_BLK_BLK_H

#include <cstddef>
#include <string>

#include "command/results.h"
#include "host/dialog_table.h"
#include "host/references.h"
#include "host/registration.h"
#include "host/tool_hooks.h"
#include "host/tool_tables.h"
#include "sdk/xlcall.h"

namespace hvt::blk {

extern const ToolHooks kTool;

// ---- Tables (blk_tables.cpp).
extern ToolTables g_tables;
constexpr std::size_t kMainDialogRows = 16;
constexpr std::size_t kSampleDialogRows = 25;
extern DialogRow g_mainDialog[kMainDialogRows];
extern DialogRow g_sampleDialog[kSampleDialogRows];
extern XLOPER g_mainArray;
extern XLOPER g_sampleArray;
extern XLOPER g_mainAnswer;
extern XLOPER g_sampleAnswer;

// ---- The command's settings, from the dialogs to the run.
extern int g_mnIndex;
extern int g_method;
extern int g_normalization;
extern WORD g_dataColumns;

// The dialogs and their checks (blk_dialog.cpp): kStepGoOn to run.
int BlkDialogs();

// The data, output and titles references of the last command.
extern RefRecord g_dataRecord;
extern RefRecord g_outputRecord;
extern RefRecord g_titlesRecord;
// The area the writer clears before its first column, for the command.
extern RefRecord g_clearRecord;
// The same four on a host of version 12 or later.
extern RefRecord12 g_dataRecord12;
extern RefRecord12 g_outputRecord12;
extern RefRecord12 g_titlesRecord12;
extern RefRecord12 g_clearRecord12;
// The command's records of the interface it runs on.
template <HostRecord Oper>
struct BlkRecords {
  RefRecordOf<Oper>& data;
  RefRecordOf<Oper>& output;
  RefRecordOf<Oper>& titles;
  RefRecordOf<Oper>& clear;
};
template <HostRecord Oper>
BlkRecords<Oper> Records();
// Set by the command once it has checked everything and the user accepted
// the overwrite warning; the writer clears it on entry.
extern bool g_dialogChecked;  // the next macro call skips its own checks
// Data and output on the same sheet.
extern bool g_sameSheet;

// Sets up the records' own area storage (module load).
void PrepareBlkRecords();

// The writer behind the registered macro. `clearArea`, when given, is
// cleared once every buffer of the run is in hand, so a run that cannot
// start leaves the sheet as it was. A refusal has shown its message.
template <HostRecord Oper>
MacroResult RunBlok(const Oper& dataRef, const Oper& outputRef, const Oper& titlesRef,
                    int mnIndex, int method, int normalization, const Oper* clearArea);

// The checks of a direct call, each refusal shown; true when all passed.
template <HostRecord Oper>
bool CheckBlokParameters(const Oper* dataRef, const Oper* outputRef, const Oper* titlesRef,
                         int mnIndex, int method, int normalization);

// Builds and shows the overwrite warning; non-zero for OK. 0 as well when
// the message could not be built (its memory message has been shown).
template <HostRecord Oper>
int BlkOverwriteWarning(const Oper& outputRef, const Oper& titlesRef, const Oper& dataRef,
                        long totalColumns, int blankRows);

// Whether `count` title cells of the row of `titlesRef`, from its first
// column, all hold text.
template <HostRecord Oper>
bool TitlesAreText(const Oper& titlesRef, long count);

// ---- Rules without the host -------------------------------------------------

// Whether output columns [outFirst, outLast] share a column with the data
// columns [dataFirst, dataLast].
bool OutputOverlapsInput(long outFirst, long outLast, long dataFirst,
                         long dataLast);

// The sample dialog's options: how many from the first are dimmed and which
// one is preselected, for the detrending choice, the normalization (1 or 2)
// and the index chosen last time (0 when none).
struct SampleChoice {
  int dimmed;
  int preselected;
};
SampleChoice ChooseSampleOptions(bool detrended, int normalization,
                                 int previous);

// The reference part of an R1C1 reference text the formula writer keeps:
// the text after the last "!" when the sheet is dropped, else all of it.
std::string ReferencePart(const std::string& text, bool dropSheet);
std::basic_string<XCHAR> ReferencePart(const std::basic_string<XCHAR>& text, bool dropSheet);

// What a block formula is made of.
enum class FormulaKind { kStandard, kDetrended, kNormalized };

// The formula text (absolute references, converted by the host afterwards)
// for a block over `block`, with the trend window `trend` when detrended.
// n >= 7 marks an averaging block (M > 0), else a single cell.
std::string BlockFormula(FormulaKind kind, int n, const std::string& block,
                         const std::string& trend);
// The same in the 12-series' UTF-16.
std::basic_string<XCHAR> BlockFormula(FormulaKind kind, int n,
                                      const std::basic_string<XCHAR>& block,
                                      const std::basic_string<XCHAR>& trend);

// The warning the user reads before the run.
std::string OverwriteMessage(const std::string& area, int blankRows);
std::basic_string<XCHAR> OverwriteMessage(const std::basic_string<XCHAR>& area,
                                          int blankRows);

}  // namespace hvt::blk

extern "C" {
HVT_EXPORT int WINAPI BlokWrapper(void);
HVT_EXPORT int WINAPI Blok(LPXLOPER dataRef, LPXLOPER outputRef,
                           LPXLOPER titlesRef, int mnIndex, int method,
                           int normalization);
// The macro through the 12-series, registered in its place on hosts of
// version 12 and later.
HVT_EXPORT int WINAPI Blok12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                             LPXLOPER12 titlesRef, int mnIndex, int method,
                             int normalization);
}

#endif  // HVT_TOOLS_BLK_BLK_H
