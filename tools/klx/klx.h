// The KLX tool: its exports, its hooks, the state its dialog, checks and
// macros share, and the pure steps the tests reach.
#ifndef HVT_TOOLS_KLX_KLX_H
#define HVT_TOOLS_KLX_KLX_H

#include <cstddef>
#include <type_traits>

#include "command/results.h"
#include "host/dialog_table.h"
#include "host/references.h"
#include "host/tool_hooks.h"
#include "sdk/xlcall.h"
#include "tools/klx/klx_settings.h"

namespace hvt::klx {

extern const ToolHooks kTool;

// ---- Tables (klx_tables.cpp).
constexpr std::size_t kDialogRowCount = 15;
extern DialogRow g_dialog[kDialogRowCount];
extern XLOPER g_dialogArray;   // built on first use, freed at close
extern XLOPER g_lastAnswer;    // the host's last dialog answer, or a boolean

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

// ---- The command's settings, from the dialog to the macros.
extern RefRecord g_inputRef;
extern RefRecord g_outputRef;
// The same records on a host of version 12 or later.
extern RefRecord12 g_inputRef12;
extern RefRecord12 g_outputRef12;
template <HostRecord Oper>
RefRecordOf<Oper>& InputRecord();
template <HostRecord Oper>
RefRecordOf<Oper>& OutputRecord();
extern double g_smoothness;
extern double g_phase;
extern bool g_klxChosen;       // MA type KLX (else PQE)
extern bool g_dialogChecked;  // the next macro skips its own checks

// ---- Checks (klx_dialog.cpp).

// The dialog loop of the command: kStepGoOn when the entries were accepted
// (the dialog-passed flag is then set), kStepEnd when the command is to end.
int RunKlxDialog();

// Turns a macro's reference argument into a one-area reference record of
// ours. `areas` receives the argument's area count. False when the
// argument is no reference.
template <HostRecord Oper>
bool ArgumentReference(const std::type_identity_t<Oper>* argument, RefRecordOf<Oper>& record,
                       int& areas);

// The checks a macro runs when it is called without the dialog. Fills the
// two records. False after the message.
template <HostRecord Oper>
bool DirectCallChecks(const Oper* dataRef, const Oper* outputRef, double smoothness,
                      RefRecordOf<Oper>& data, RefRecordOf<Oper>& output);

// ---- The run (klx_macro.cpp).

// Where a macro writes: the output's first column from the data's first row
// + 30 down to the data's last row.
template <typename Ref>
Ref OutputArea(const Ref& data, const Ref& output);

// The smoothness as the label shows it: "%.4G", and 0 for the floor 1e-10.
void SmoothnessText(double smoothness, char* out, std::size_t capacity);
// The phase as the label shows it: "%.3G".
void PhaseText(double phase, char* out, std::size_t capacity);
// The label's suffix: "_S<s>" and, with a phase text, "_P<p>".
void LabelSuffix(const char* smoothnessText, const char* phaseText, char* out,
                 std::size_t capacity);

}  // namespace hvt::klx

extern "C" {
HVT_EXPORT LPXLOPER WINAPI KLXUP(LPXLOPER dataRef, double* smoothness,
                                 double* phase);
// The same through the 12-series, on hosts of version 12 and later.
HVT_EXPORT LPXLOPER12 WINAPI KLXUP12(LPXLOPER12 dataRef, double* smoothness,
                                     double* phase);
// The Data-menu command: dialog, checks, then one of the two macros. 1.
HVT_EXPORT int WINAPI KLXWrapper(void);
// The macros: 1 done, 0 a check failed or memory ran out, -1 the data held
// a non-number or the user stopped.
HVT_EXPORT int WINAPI KLX(LPXLOPER dataRef, LPXLOPER outputRef,
                          double* smoothness, double* phase);
HVT_EXPORT int WINAPI HalPQEX(LPXLOPER dataRef, LPXLOPER outputRef,
                              double* smoothness);
// The macros through the 12-series, registered in their place on hosts of
// version 12 and later.
HVT_EXPORT int WINAPI KLX12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                            double* smoothness, double* phase);
HVT_EXPORT int WINAPI HalPQEX12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                double* smoothness);
}

#endif  // HVT_TOOLS_KLX_KLX_H
