// Steps the one-column commands (GTN and SPD) share: taking a macro's
// reference argument, reading a data column in bands, writing a result
// column in bands, labelling it and copying the data's number format, and
// the observer that polls the break key and shows progress while a core
// runs.
#ifndef HVT_TOOLS_COLUMN_COMMAND_H
#define HVT_TOOLS_COLUMN_COMMAND_H

#include <cstddef>
#include <cstdint>

#include "host/dialog_table.h"
#include "host/messages.h"
#include "host/references.h"
#include "sdk/xlcall.h"
#include "tools/run_observer.h"

namespace hvt::column {

// Polls CheckAbort before every step's progress and shows the percentage
// whenever it changes; 1 counts as already shown, so the status bar stays
// quiet until the run is past its first percent.
class CommandObserver : public RunObserver {
 public:
  explicit CommandObserver(ProgressText form) : form_(form) {}
  bool StopRequested() override;
  void Progress(std::int64_t done, std::int64_t total) override;
  bool stopped() const { return stopped_; }

 private:
  ProgressText form_;
  int lastShown_ = 1;
  bool stopped_ = false;
};

// A macro's reference argument as a one-area record: a reference or a
// single reference (taken on the sheet the host says). The area count is
// kept, so callers can refuse several areas. False when the argument is no
// reference.
bool TakeReference(LPXLOPER argument, RefRecord& record);

// Whether the output's first column is the data's column on the same sheet.
bool SameColumn(const RefRecord& data, const RefRecord& output);

// Whether the first five cells of the data hold numbers.
bool FirstCellsAreNumbers(const RefRecord& data);

// A dialog answer cell coerced to a number; false when it is none.
bool AnswerNumber(XLOPER& cell, double& number);

// Selects one cell.
void SelectCell(DWORD sheet, long row, long column);

// Answers of a tool's pass of checks over its dialog answer.
constexpr int kAccepted = 1;
constexpr int kShowAgain = 0;
constexpr int kGiveUp = -1;

// Shows a tool's dialog (the table, or the remembered answer once there is
// one) until `check` accepts the answer, which becomes the remembered one,
// or the user cancels or gives up. The current selection is offered in the
// data-reference box (item 2) with the focus on the output box (item 4).
// 1 when accepted, 0 otherwise ("Insufficient memory!" has been shown when
// the dialog array could not be had).
int RunDialog(DialogRow* table, std::size_t rows, XLOPER& array,
              XLOPER& remembered, int (*check)());

// Rows and columns of a record's area.
long AreaRows(const RefRecord& record);
long AreaColumns(const RefRecord& record);

// Whether the sheet of a reference is protected (its cell 32 name, then the
// document's protection flag).
bool SheetProtected(const XLOPER& reference);

// Answers of ReadColumn.
constexpr int kReadDone = 1;
constexpr int kReadNonNumber = -1;

// Reads the `count` cells of a one-column reference into `values`, in bands
// of at most kChunkCells cells. Every cell must be a number; otherwise
// "Your data set contains a non-number!" is shown and kReadNonNumber
// answered.
int ReadColumn(const XLOPER& data, double* values, std::size_t count);

// Writes values[0..count-1] down column `column` of `sheet` from row
// `firstRow`, each band set with xlSet from `band`, which holds at least
// min(count, BandRows()) cells.
void WriteColumn(DWORD sheet, long firstRow, long column, const double* values,
                 std::size_t count, XLOPER* band);

// Cells one band of a one-column write holds.
constexpr std::size_t BandRows() { return static_cast<std::size_t>(kChunkCells); }

// The most text a label buffer takes, and its size with length byte and NUL.
constexpr std::size_t kLabelTextMax = 255;
constexpr std::size_t kLabelBufferSize = kLabelTextMax + 2;

// Labels the output column and gives its written rows the data's number
// format. `buffer` is kLabelBufferSize bytes of scratch.
//  - data: the data reference (its first area);
//  - outputSheet, outputColumn: where the result was written;
//  - writtenFirst, writtenLast: the sheet rows written (none when
//    writtenFirst > writtenLast);
//  - suffix: appended to a label text, e.g. "_24_10" or "_D14";
//  - formulaTail: the quoted tail of the fallback label formula, the same
//    suffix (the formula reads ="Col"&COLUMN(<data>)&"<suffix>").
// The label goes into the output column on the data's first sheet row.
void LabelAndFormat(const XLOPER& data, DWORD outputSheet, long outputColumn,
                    long writtenFirst, long writtenLast, const char* suffix,
                    char* buffer);

// Composes the label text "<text><suffix>" into `buffer` (counted, NUL
// ended), shortening the text so the whole fits kLabelTextMax characters.
void ComposeLabel(const char* text, std::size_t textLength, const char* suffix,
                  char* buffer);

// Composes the fallback label formula ="Col"&COLUMN(<reference>)&"<suffix>"
// into `buffer`. False when it would not fit kLabelTextMax characters.
bool ComposeLabelFormula(const char* reference, std::size_t referenceLength,
                         const char* suffix, char* buffer);

}  // namespace hvt::column

#endif  // HVT_TOOLS_COLUMN_COMMAND_H
