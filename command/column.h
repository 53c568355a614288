// Steps the column commands share around their checks: taking a macro's
// reference argument, comparing and measuring records, reading a dialog
// answer's numbers, selecting a cell, the sheet's protection, and the
// dialog loop that shows a tool's dialog until its checks accept it.
#ifndef HVT_COMMAND_COLUMN_H
#define HVT_COMMAND_COLUMN_H

#include <cstddef>
#include <span>

#include "command/checks.h"
#include "command/results.h"
#include "host/dialog_table.h"
#include "host/references.h"
#include "sdk/xlcall.h"

namespace hvt {

// A macro's reference argument as a one-area record: a reference or a
// single reference (taken on the sheet the host says). The area count is
// kept, so callers can refuse several areas. False when the argument is no
// reference.
template <HostRecord Oper>
bool TakeReference(Oper* argument, RefRecordOf<Oper>& record);

// Whether the output's first column is the data's column on the same sheet.
template <HostRecord Oper>
bool SameColumn(const RefRecordOf<Oper>& data, const RefRecordOf<Oper>& output);

// Whether the first five cells of the data hold numbers.
template <HostRecord Oper>
bool FirstCellsAreNumbers(const RefRecordOf<Oper>& data);

// A dialog answer cell coerced to a number; false when it is none.
bool AnswerNumber(XLOPER& cell, double& number);

// Selects one cell.
// A 12-series host is asked through Excel12, so rows past the old sheet's
// last can be selected.
void SelectCell(IDSHEET sheet, long row, long column);

// Rows and columns of a record's area.
template <HostRecord Oper>
long AreaRows(const RefRecordOf<Oper>& record) {
  return AreaRowCount(record.table.reftbl[0]);
}
template <HostRecord Oper>
long AreaColumns(const RefRecordOf<Oper>& record) {
  return AreaColumnCount(record.table.reftbl[0]);
}

// Whether the sheet of a reference is protected (its cell 32 name, then the
// document's protection flag).
template <HostRecord Oper>
bool SheetProtected(const Oper& reference);

// Whether a macro may write into the output's sheet: false, with the
// protection message shown, when the sheet is protected.
template <HostRecord Oper>
bool OutputWritable(const RefRecordOf<Oper>& output);

// Resolves the data and output boxes (items 2 and 4) of a column dialog's
// answer into the two records. kAccepted when both resolved; `focus` then
// points at the answer's focus cell (nullptr when it holds no number).
template <HostRecord Oper>
CheckPass ResolveColumnAnswer(XLOPER& answer, RefRecordOf<Oper>& data,
                              RefRecordOf<Oper>& output, double*& focus);

// Resolves a column dialog's answer into the two records, then walks the
// tool's dialog checks over the answer's cells.
template <typename Pass, HostRecord Oper>
CheckPass CheckColumnAnswer(XLOPER& answer, RefRecordOf<Oper>& data, RefRecordOf<Oper>& output,
                            std::span<const CheckRow<Pass>> checks) {
  double* focus = nullptr;
  CheckPass resolved = ResolveColumnAnswer(answer, data, output, focus);
  if (resolved != kAccepted) return resolved;
  Pass pass{answer.val.array.lparray};
  return WalkDialogChecks<Pass>(checks, pass, focus);
}

// Shows a tool's dialog (the table, or the remembered answer once there is
// one) until `check` accepts the answer, which becomes the remembered one,
// or the user cancels or gives up. The current selection is offered in the
// data-reference box (item 2) with the focus on the output box (item 4);
// on a host of version 12 or later as the big sheet holds it, so the
// tool's checks resolve it into its 12-series records.
// kStepGoOn when accepted ("Insufficient memory!" has been shown when the
// dialog array could not be had).
StepResult RunDialog(DialogRow* table, std::size_t rows, XLOPER& array,
                     XLOPER& remembered, CheckPass (*check)());
// RunDialog, setting the tool's `checked` flag when the answer is accepted:
// the macro the command then calls skips its own checks.
StepResult RunCheckedDialog(DialogRow* table, std::size_t rows, XLOPER& array,
                            XLOPER& remembered, CheckPass (*check)(), bool& checked);

}  // namespace hvt

#endif  // HVT_COMMAND_COLUMN_H
