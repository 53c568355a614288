// The KLX tool's menu command and its two macros: module state shared by the
// dialog and the macros, and the pure text and range steps the tests reach.
#ifndef HVT_TOOLS_KLX_KLX_COMMAND_H
#define HVT_TOOLS_KLX_KLX_COMMAND_H

#include <cstddef>
#include <cstdint>

#include "host/dialog_table.h"
#include "host/references.h"
#include "sdk/xlcall.h"
#include "tools/klx/klx_settings.h"

namespace hvt::klx {

// ---- Module state -----------------------------------------------------------

constexpr std::size_t kDialogRowCount = 15;
extern DialogRow g_dialog[kDialogRowCount];
extern XLOPER g_dialogArray;   // built on first use, freed at close
extern XLOPER g_lastAnswer;    // the host's last dialog answer, or a boolean
extern RefRecord g_inputRef;
extern RefRecord g_outputRef;
extern double g_smoothness;
extern double g_phase;
extern bool g_klxChosen;       // MA type KLX (else PQE)
extern bool g_dialogPassed;    // the next macro skips its own checks

// Cells of the dialog array (and of an answer) the command reads.
constexpr std::size_t kClosedByCell = DialogCell(0, kItemValue);     // 6
constexpr std::size_t kDataCell = DialogCell(2, kItemValue);         // 20
constexpr std::size_t kOutputCell = DialogCell(4, kItemValue);       // 34
constexpr std::size_t kSmoothnessCell = DialogCell(6, kItemValue);   // 48
constexpr std::size_t kTypeCell = DialogCell(8, kItemValue);         // 62
constexpr std::size_t kPhaseLabelCode = DialogCell(11, kItemType);   // 77
constexpr std::size_t kPhaseFieldCode = DialogCell(12, kItemType);   // 84
constexpr std::size_t kPhaseCell = DialogCell(12, kItemValue);       // 90

// Items of the dialog.
constexpr short kDataItem = 2;
constexpr short kOutputItem = 4;
constexpr short kSmoothnessItem = 6;
constexpr short kPhaseItem = 8;
constexpr double kKlxOption = 9;
constexpr double kPqeOption = 10;

// Rows the macros leave to the input alongside the output's first rows.
constexpr long kLeadRows = 30;
constexpr long kMinRows = 32;

// ---- Steps ------------------------------------------------------------------

// Prepare hook work beyond the shared tables: the reference records.
void PrepareCommandState();

// The dialog loop of the command: 1 when the entries were accepted (the
// dialog-passed flag is then set), 0 when the command is to end.
int RunKlxDialog();

// Turns a macro's reference argument into a one-area reference record of
// ours. `areas` receives the argument's area count. False when the
// argument is no reference.
bool ArgumentReference(const XLOPER* argument, RefRecord& record, int& areas);

// The checks a macro runs when it is called without the dialog. Fills the
// two records. False after the message.
bool DirectCallChecks(const XLOPER* dataRef, const XLOPER* outputRef,
                      double smoothness, RefRecord& data, RefRecord& output);

// Where a macro writes: the output's first column from the data's first row
// + 30 down to the data's last row.
XLREF OutputArea(const XLREF& data, const XLREF& output);

// Size of the label buffer a macro hands to the label writer.
constexpr std::size_t kLabelBufferSize = 512;

// Writes the output's label and formats the output column. `buffer` holds
// kLabelBufferSize bytes; it is had before anything is written, so running
// out of memory never leaves a half-written result. 1 when done.
int WriteKlxLabel(const XLOPER& data, const XLOPER& outputRange,
                  double smoothness, bool withPhase, double phase,
                  char* buffer);

// ---- Texts ------------------------------------------------------------------

// The smoothness as the label shows it: "%.4G", and 0 for the floor 1e-10.
void SmoothnessText(double smoothness, char* out, std::size_t capacity);
// The phase as the label shows it: "%.3G".
void PhaseText(double phase, char* out, std::size_t capacity);

// ="Col"&COLUMN(<reference>)&"_S<s>[_P<p>]" as a counted string in
// `buffer`. `reference` is a counted string; a reference text that would
// make the formula longer than a counted string is cut to its part after
// the sheet (COLUMN reads the same column from it). `phaseText` may be
// nullptr. False when even that does not fit.
bool BuildFormulaLabel(const char* reference, const char* smoothnessText,
                       const char* phaseText, char* buffer,
                       std::size_t capacity);

// <label>_S<s>[_P<p>] as a counted string in `buffer`; `label` is a counted
// string, cut so that the suffix always fits.
bool BuildTextLabel(const char* label, const char* smoothnessText,
                    const char* phaseText, char* buffer, std::size_t capacity);

}  // namespace hvt::klx

#endif  // HVT_TOOLS_KLX_KLX_COMMAND_H
