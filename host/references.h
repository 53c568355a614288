// One-area reference records and the services tools run on them: copying,
// stepping through long columns in bands of rows, turning a dialog's
// reference texts into references, offering the current selection in a
// dialog, narrowing whole columns to their data, formatting a title row.
#ifndef HVT_HOST_REFERENCES_H
#define HVT_HOST_REFERENCES_H

#include <cstddef>
#include <cstdint>

#include "host/interface.h"
#include "sdk/xlcall.h"

namespace hvt {

// A reference value with storage of its own for its one area, in either
// record (RefRecord: the 4-series; RefRecord12: the 12-series and the big
// sheet). Not copyable: the value points into the record.
template <HostRecord Oper>
struct RefRecordOf {
  using Ref = typename Interface<Oper>::Ref;
  Oper value{};
  typename Interface<Oper>::Table table{};
  RefRecordOf() = default;
  RefRecordOf(const RefRecordOf&) = delete;
  RefRecordOf& operator=(const RefRecordOf&) = delete;
};
using RefRecord = RefRecordOf<XLOPER>;
using RefRecord12 = RefRecordOf<XLOPER12>;

// Type reference, count 1, the value pointing at the record's own area.
template <HostRecord Oper>
void PrepareRef(RefRecordOf<Oper>& record) {
  record.table = {};
  record.table.count = 1;
  record.value = Oper{};
  record.value.xltype = xltypeRef;
  record.value.val.mref.lpmref = &record.table;
}

// ---- The one builder of one-area references. Every tool and host service
// makes its cell, column and band references here.

// Rows and columns of an area, first and last included.
template <typename Ref = XLREF>
Ref MakeArea(long firstRow, long lastRow, long firstColumn, long lastColumn) {
  Ref area{};
  area.rwFirst = static_cast<decltype(area.rwFirst)>(firstRow);
  area.rwLast = static_cast<decltype(area.rwLast)>(lastRow);
  area.colFirst = static_cast<decltype(area.colFirst)>(firstColumn);
  area.colLast = static_cast<decltype(area.colLast)>(lastColumn);
  return area;
}
template <typename Ref = XLREF>
Ref CellArea(long row, long column) {
  return MakeArea<Ref>(row, row, column, column);
}
template <typename Ref>
long AreaRowCount(const Ref& area) {
  return long{area.rwLast} - long{area.rwFirst} + 1;
}
template <typename Ref>
long AreaColumnCount(const Ref& area) {
  return long{area.colLast} - long{area.colFirst} + 1;
}

// A reference value to one area of `sheet`, backed by `table`.
XLOPER AreaRef(XLMREF& table, IDSHEET sheet, const XLREF& area);
XLOPER12 AreaRef(XLMREF12& table, IDSHEET sheet, const XLREF12& area);

// Points `record` at one area of `sheet`; answers its value.
template <HostRecord Oper>
Oper& SetRecord(RefRecordOf<Oper>& record, IDSHEET sheet,
                const typename Interface<Oper>::Ref& area) {
  PrepareRef(record);
  record.value.val.mref.idSheet = sheet;
  record.table.reftbl[0] = area;
  return record.value;
}

// Points `record` at rows firstRow..lastRow, columns firstColumn..lastColumn
// of `sheet`; answers its value.
template <HostRecord Oper>
Oper& Area(RefRecordOf<Oper>& record, IDSHEET sheet, long firstRow, long lastRow,
           long firstColumn, long lastColumn) {
  return SetRecord(record, sheet,
                   MakeArea<typename Interface<Oper>::Ref>(firstRow, lastRow, firstColumn,
                                                           lastColumn));
}

// The first area of a reference value, or nullptr.
template <HostRecord Oper>
typename Interface<Oper>::Ref* FirstArea(Oper& reference) {
  if (TypeOf(reference) != xltypeRef || reference.val.mref.lpmref == nullptr) {
    return nullptr;
  }
  return &reference.val.mref.lpmref->reftbl[0];
}
template <HostRecord Oper>
const typename Interface<Oper>::Ref* FirstArea(const Oper& reference) {
  return FirstArea(const_cast<Oper&>(reference));
}

// Copies type word, sheet id, count and the first area's bounds of
// `source` (a reference value) into `target`, which keeps its own area
// storage. Anything other than a reference with an area, or a target
// without storage, leaves the target alone.
template <HostRecord Oper>
void CopyRef(const Oper& source, Oper& target) {
  const auto* from = FirstArea(source);
  if (from == nullptr || source.val.mref.lpmref->count == 0) return;
  if (target.val.mref.lpmref == nullptr) return;  // no storage of its own
  target.xltype = TypeOf(source);
  target.val.mref.idSheet = source.val.mref.idSheet;
  target.val.mref.lpmref->count = source.val.mref.lpmref->count;
  target.val.mref.lpmref->reftbl[0] = *from;
}

// Rows of the sheet as a record of this kind addresses it: the old grid
// for the 4-series, 1,048,576 for the 12-series on a host of version 12 or
// later.
template <HostRecord Oper>
long SheetRows();
// Columns of the sheet the same way: 256 for the 4-series, 16,384 for the
// 12-series on a host of version 12 or later.
template <HostRecord Oper>
long SheetColumns();

// Band size every tool reads and writes with.
constexpr long kChunkCells = 5400;

// Moves `chunk` to the next band of rows of `whole` holding at most `limit`
// cells. The caller copies `whole` into `chunk` first and repeats this plus
// its read or write until the chunk's last row is the whole's.
template <HostRecord Oper>
void NextRowChunk(const Oper& whole, Oper& chunk, long limit);
// The same on bare areas, with the band height kept by the caller.
template <typename Ref>
void NextRowChunkArea(const Ref& whole, Ref& chunk, long limit, long& rowsPerChunk);

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
// The answer is a record of the interface the command runs on: a 12-series
// one asks with the text in UTF-16.
template <HostRecord Oper>
bool QuoteSheetName(Oper& answer, XLOPER& text, bool* outOfMemory = nullptr);

// A reference text into `answer` through xlfTextref, which reads one
// notation per call: the A1 a person types, or the R1C1 text
// PrefillReferenceField offers. True when the host filled `answer` (the
// caller releases it, an error value included); false leaves an error
// value of ours.
template <HostRecord Oper>
bool TextToReference(Oper& answer, LPXLOPER text);

// Answers of ResolveReferences.
constexpr int kResolveAgain = 0;
constexpr int kResolved = 1;
constexpr int kResolveEnd = 101;

// Turns the texts of a dialog's data and output reference boxes into the
// tool's two reference records.
// The texts are cells of the add-in's own copy of a dialog answer (UTF-8
// when the dialog went through the 12-series); the records are of the
// interface the command runs on.
template <HostRecord Oper>
int ResolveReferences(XLOPER& inputText, XLOPER& outputText, short inputItem,
                      short outputItem, double* focusCell, Oper& inputRef,
                      Oper& outputRef);

// Offers the selection saved by BeginCommand as the data reference of a
// tool dialog: 1 when it put the selection's text into cell `element` of
// the tool's dialog array (the caller then calls RestoreReferenceField
// after the dialog), else 0. Drops or keeps the remembered answer as the
// selection says.
// A tool that resolves its references through the 12-series passes
// `twelveSeries`: on a host of version 12 or later it is offered the whole
// selection's text; any other tool the selection as the old sheet holds it.
int PrefillReferenceField(XLOPER& tableArray, std::size_t element,
                          double focusItem, XLOPER& remembered,
                          bool twelveSeries = false);

// Puts the focus cell and cell `element` back as the static table has them
// (`focusText`, `tableText`: the table's own counted strings).
void RestoreReferenceField(XLOPER& tableArray, std::size_t element,
                           char* focusText, char* tableText);

// Sheet of the selection at the previous PrefillReferenceField call.
extern IDSHEET g_lastSheet;

// Narrows a whole-column reference in place to the rows holding its data.
// 1, or 0 (the reference unchanged) when a column holds no number.
template <HostRecord Oper>
int FindDataExtent(Oper& reference);

// Whether a reference's row count marks whole columns.
template <HostRecord Oper>
bool CoversWholeColumns(const Oper& reference);

// Centres and bolds the title cells and fits their columns' width.
template <HostRecord Oper>
void FormatTitleRow(const Oper& reference);

}  // namespace hvt

#endif  // HVT_HOST_REFERENCES_H
