// One-area reference records and the services tools run on them: copying,
// stepping through long columns in bands of rows, turning a dialog's
// reference texts into references, offering the current selection in a
// dialog, narrowing whole columns to their data, formatting a title row.
#ifndef HVT_HOST_REFERENCES_H
#define HVT_HOST_REFERENCES_H

#include <cstddef>
#include <cstdint>

#include "sdk/xlcall.h"

namespace hvt {

// A reference value with storage of its own for its one area. Not copyable:
// the value points into the record.
struct RefRecord {
  XLOPER value{};
  XLMREF table{};
};

// Type reference, count 1, the value pointing at the record's own area.
void PrepareRef(RefRecord& record);

// ---- The one builder of one-area references. Every tool and host service
// makes its cell, column and band references here.

// Rows and columns of an area, first and last included.
XLREF MakeArea(long firstRow, long lastRow, long firstColumn, long lastColumn);
inline XLREF CellArea(long row, long column) {
  return MakeArea(row, row, column, column);
}
inline long AreaRowCount(const XLREF& area) {
  return long{area.rwLast} - area.rwFirst + 1;
}
inline long AreaColumnCount(const XLREF& area) {
  return long{area.colLast} - area.colFirst + 1;
}

// A reference value to one area of `sheet`, backed by `table`.
XLOPER AreaRef(XLMREF& table, IDSHEET sheet, const XLREF& area);

// Points `record` at one area of `sheet`; answers its value.
XLOPER& SetRecord(RefRecord& record, IDSHEET sheet, const XLREF& area);

// Copies type word, sheet id, count and the first area's bounds of
// `source` (a reference value) into `target`, which keeps its own area
// storage. Anything other than a reference with an area, or a target
// without storage, leaves the target alone.
void CopyRef(const XLOPER& source, XLOPER& target);

// The first area of a reference value, or nullptr.
XLREF* FirstArea(XLOPER& reference);
const XLREF* FirstArea(const XLOPER& reference);

// Band size every tool reads and writes with.
constexpr long kChunkCells = 5400;

// Moves `chunk` to the next band of rows of `whole` holding at most `limit`
// cells. The caller copies `whole` into `chunk` first and repeats this plus
// its read or write until the chunk's last row is the whole's.
void NextRowChunk(const XLOPER& whole, XLOPER& chunk, long limit);
// The same on bare areas, with the band height kept by the caller.
void NextRowChunkArea(const XLREF& whole, XLREF& chunk, long limit,
                      long& rowsPerChunk);

// The text step of QuoteSheetName: `text` (a counted string) rewritten with
// quotes around its sheet part into `work` as a counted string with a NUL.
// `work` must hold the text's length + 4 bytes. False when the result
// would not fit a counted string or the buffer.
bool QuoteSheetText(const char* text, char* work, std::size_t capacity);

// Retries a reference text with its sheet part quoted, into `answer`. When
// that resolves, the caller's text value (a cell of a dialog answer, which
// owns its text) becomes nil, so the field shows empty when its dialog is
// shown again. True when the host
// filled `answer` (the caller releases it); false leaves an error of ours.
// Running out of memory shows "Insufficient memory!" and sets *outOfMemory.
bool QuoteSheetName(XLOPER& answer, XLOPER& text, bool* outOfMemory = nullptr);

// A reference text into `answer` through xlfTextref, which reads one
// notation per call: the A1 a person types, or the R1C1 text
// PrefillReferenceField offers. True when the host filled `answer` (the
// caller releases it, an error value included); false leaves an error
// value of ours.
bool TextToReference(XLOPER& answer, LPXLOPER text);

// Answers of ResolveReferences.
constexpr int kResolveAgain = 0;
constexpr int kResolved = 1;
constexpr int kResolveEnd = 101;

// Turns the texts of a dialog's data and output reference boxes into the
// tool's two reference records.
int ResolveReferences(XLOPER& inputText, XLOPER& outputText, short inputItem,
                      short outputItem, double* focusCell, XLOPER& inputRef,
                      XLOPER& outputRef);

// Offers the selection saved by BeginCommand as the data reference of a
// tool dialog: 1 when it put the selection's text into cell `element` of
// the tool's dialog array (the caller then calls RestoreReferenceField
// after the dialog), else 0. Drops or keeps the remembered answer as the
// selection says.
int PrefillReferenceField(XLOPER& tableArray, std::size_t element,
                          double focusItem, XLOPER& remembered);

// Puts the focus cell and cell `element` back as the static table has them
// (`focusText`, `tableText`: the table's own counted strings).
void RestoreReferenceField(XLOPER& tableArray, std::size_t element,
                           char* focusText, char* tableText);

// Sheet of the selection at the previous PrefillReferenceField call.
extern IDSHEET g_lastSheet;

// Narrows a whole-column reference in place to the rows holding its data.
// 1, or 0 (the reference unchanged) when a column holds no number.
int FindDataExtent(XLOPER& reference);

// Whether a reference's row count marks whole columns.
bool CoversWholeColumns(const XLOPER& reference);

// Centres and bolds the title cells and fits their columns' width.
void FormatTitleRow(const XLOPER& reference);

}  // namespace hvt

#endif  // HVT_HOST_REFERENCES_H
