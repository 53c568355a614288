// Decor, the decorrelator's macro procedure: reads the input block, runs the
// decorrelation core, writes the components with their labels and
// significances, and keeps the coefficients on the coefficient sheet.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "command/checks.h"
#include "command/column.h"
#include "command/results.h"
#include "command/run_observer.h"
#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/texts.h"
#include "tools/decor/core/decor.h"
#include "tools/decor/decor.h"

namespace hvt::decor {

namespace {

constexpr char kMemoryPlease[] = "Insufficient memory! Please use a smaller data set.";
constexpr char kMemoryPleaes[] = "Insufficient memory! Pleaes use a smaller data set.";
constexpr char kMemoryUse[] = "Insufficient memory! Use a smaller data set.";

char g_progress[64];  // shared by the progress texts
char g_numberFormat[] = " 0.000";
char g_percentFormat[] = " 0.00%";

// The core asks here whether to stop; the break key is the user's.

void ShowStage(const char* text) {
  std::size_t length = std::min(std::strlen(text), sizeof g_progress - 2);
  std::memcpy(g_progress + 1, text, length);
  g_progress[1 + length] = '\0';
  CallExcel(xlcMessage, nullptr, 2, TempBoolean(1), TempString(g_progress));
}

// A reference value on a sheet with one area, in caller storage.
XLOPER AreaRef(XLMREF& table, IDSHEET sheet, WORD firstRow, WORD lastRow, BYTE firstCol,
               BYTE lastCol) {
  table.count = 1;
  table.reftbl[0] = XLREF{firstRow, lastRow, firstCol, lastCol};
  XLOPER value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}

// A rows x columns array of numbers over `cells` (global memory the caller
// owns and frees).
XLOPER NumberArray(XLOPER* cells, std::size_t rows, std::size_t columns) {
  XLOPER array{};
  array.xltype = xltypeMulti;
  array.val.array.lparray = cells;
  array.val.array.rows = static_cast<WORD>(rows);
  array.val.array.columns = static_cast<WORD>(columns);
  for (std::size_t i = 0; i < rows * columns; ++i) cells[i].xltype = xltypeNum;
  return array;
}

void SetValues(XLOPER& target, XLOPER& values) {
  Excel4(xlSet, nullptr, 2, &target, &values);
}

// Shrinks a locked global block in place of the data not yet written. A
// block that cannot be shrunk is simply kept.
void ShrinkTo(double*& block, std::size_t count) {
  if (block == nullptr || count == 0) return;
  HGLOBAL handle = GlobalHandle(block);
  if (handle == nullptr) return;
  HGLOBAL resized = GlobalReAlloc(handle, count * sizeof(double), GMEM_MOVEABLE);
  if (resized == nullptr) return;
  // The block may have moved: take its address again, keeping one lock.
  void* moved = GlobalLock(resized);
  GlobalUnlock(resized);
  if (moved != nullptr) block = static_cast<double*>(moved);
}

template <typename T>
std::span<T> Span(T* pointer, std::size_t count) {
  return std::span<T>(pointer, count);
}

// Everything one run holds; released on every way out.
struct Run {
  double* data = nullptr;             // O x N, then U
  double* w = nullptr;                // N
  double* v = nullptr;                // N x N, then the coefficients
  XLOPER* moments = nullptr;          // 2 x N: means, sigmas
  std::int32_t* index = nullptr;      // N
  std::int32_t* work = nullptr;       // N
  double* significance = nullptr;     // N
  XLOPER* tail = nullptr;             // r x N scores of the last partial block
  XLOPER* band = nullptr;             // P x N scores of one block
  XLOPER* sigRow = nullptr;           // N significances
  XLOPER* coefBand = nullptr;         // a band of coefficient rows
  bool outputTaken = false;           // g_output is this run's output

  void Free() {
    FreeGlobal(data);
    FreeGlobal(w);
    FreeGlobal(v);
    FreeGlobal(moments);
    FreeGlobal(index);
    FreeGlobal(work);
    FreeGlobal(significance);
    FreeGlobal(tail);
    FreeGlobal(band);
    FreeGlobal(sigRow);
    FreeGlobal(coefBand);
  }
};

template <typename T>
bool Allocate(T*& pointer, std::size_t count, const char* message) {
  pointer = static_cast<T*>(AllocGlobal(count * sizeof(T)));
  if (pointer == nullptr) ShowMessage(message, kAlertError);
  return pointer != nullptr;
}

// A call from a macro sheet: its arguments, as its checks read them.
struct MacroArguments {
  LPXLOPER data;
  LPXLOPER output;
  short update;
};

bool IsReference(const XLOPER* value) {
  return value != nullptr && BaseType(*value) == xltypeRef && value->val.mref.lpmref != nullptr;
}

const XLREF& DataArea(const MacroArguments& a) { return a.data->val.mref.lpmref->reftbl[0]; }
const XLREF& OutputArea(const MacroArguments& a) {
  return a.output->val.mref.lpmref->reftbl[0];
}
long DataColumns(const MacroArguments& a) { return AreaColumnCount(DataArea(a)); }

// Each row reads only what the rows before it have found sound.
constexpr CheckRow<MacroArguments> kMacroChecks[] = {
    {[](MacroArguments& a) { return IsReference(a.data); }, text::kImproperDataParameter, 0,
     false},
    {[](MacroArguments& a) {
       return IsReference(a.output) && a.output->val.mref.lpmref->count >= 1;
     },
     text::kImproperOutputParameter, 0, false},
    {[](MacroArguments& a) { return a.update >= 0; }, text::kDecorUpdateFlag, 0, false},
    {[](MacroArguments& a) { return a.data->val.mref.lpmref->count == 1 && DataColumns(a) >= 2; },
     text::kDecorColumns, 0, false},
    {[](MacroArguments& a) {
       return a.data->val.mref.idSheet != a.output->val.mref.idSheet ||
              OutputArea(a).colFirst > DataArea(a).colLast;
     },
     text::kOutputWillOverwrite, 0, false},
    {[](MacroArguments& a) { return OutputArea(a).colFirst + DataColumns(a) - 1 <= 255; },
     text::kDecorFarRight, 0, false},
    {[](MacroArguments& a) { return AreaRowCount(DataArea(a)) >= 3; }, text::kDecorThreeRows,
     0, false},
    {[](MacroArguments& a) { return !SheetProtected(*a.output); }, text::kDecorProtected, 0,
     false},
};

// Reads the input block into `data` (O x N, row-major). False when a cell
// is not a number (the message has been shown).
bool ReadInput(double* data, std::size_t n) {
  const XLREF& whole = g_input.table.reftbl[0];
  RefRecord chunk;
  PrepareRef(chunk);
  CopyRef(g_input.value, chunk.value);
  for (;;) {
    NextRowChunk(g_input.value, chunk.value, kChunkCells);
    const XLREF& band = chunk.table.reftbl[0];
    const std::size_t rows = std::size_t{band.rwLast} - band.rwFirst + 1;
    XLOPER values{};
    if (CallExcel(xlCoerce, &values, 2, &chunk.value, TempInteger(xltypeMulti)) !=
        xlretSuccess) {
      values.xltype = xltypeNil;
    }
    bool numbers = BaseType(values) == xltypeMulti && values.val.array.lparray != nullptr &&
                   values.val.array.rows == rows && values.val.array.columns == n;
    double* row = data + (std::size_t{band.rwFirst} - whole.rwFirst) * n;
    for (std::size_t i = 0; numbers && i < rows * n; ++i) {
      const XLOPER& cell = values.val.array.lparray[i];
      if (BaseType(cell) != xltypeNum) numbers = false;
      else row[i] = cell.val.num;
    }
    if (BaseType(values) != xltypeNil) ReleaseHostValue(values);
    if (!numbers) {
      ShowMessage(text::kDecorInputNonNumber + 1, kAlertError);
      return false;
    }
    if (band.rwLast >= whole.rwLast) return true;
  }
}

// Fills `cells` with rows first..first+count-1 of U, each x 1,000.
void FillScores(XLOPER* cells, const double* u, std::size_t first, std::size_t count,
                std::size_t n) {
  for (std::size_t i = 0; i < count * n; ++i) {
    cells[i].xltype = xltypeNum;
    cells[i].val.num = u[first * n + i] * 1000;
  }
}

// The messages the core's statuses stand for; the run's result.
MacroResult ReportStatus(CoreStatus status, const char* memoryMessage) {
  switch (status) {
    case CoreStatus::kComplete:
      return kMacroDone;
    case CoreStatus::kOutOfMemory:
      ShowMessage(memoryMessage, kAlertError);
      return kMacroRefused;
    case CoreStatus::kStopped:
      return kMacroStopped;
    case CoreStatus::kNotConverged:
      ShowMessage(text::kDecorAlreadyDone + 1, kAlertError);
      return kMacroStopped;
    case CoreStatus::kNoVariation:
      ShowMessage(text::kDecorNoVariation + 1, kAlertError);
      return kMacroStopped;
    case CoreStatus::kTooShort:
    case CoreStatus::kBadArgument:
      break;
  }
  ShowMessage(text::kDecorColumns + 1, kAlertError);
  return kMacroRefused;
}

// The scores from the last row up, each band's memory given back as it is
// written, then the significance row.
void WriteScores(Run& run, IDSHEET outSheet, const XLREF& out, std::size_t first,
                 std::size_t o, std::size_t n, std::size_t p, std::size_t r) {
  const std::size_t fullBlocks = o / p;
  XLMREF table{};
  if (r != 0) {
    XLOPER values = NumberArray(run.tail, r, n);
    FillScores(run.tail, run.data, o - r, r, n);
    XLOPER target = AreaRef(table, outSheet, static_cast<WORD>(first + o - r),
                            static_cast<WORD>(first + o - 1), out.colFirst, out.colLast);
    SetValues(target, values);
    FreeGlobal(run.tail);
    ShrinkTo(run.data, (o - r) * n);
  }
  for (std::size_t b = fullBlocks; b-- > 0;) {
    FillScores(run.band, run.data, b * p, p, n);
    ShrinkTo(run.data, b * p * n);
    XLOPER values = NumberArray(run.band, p, n);
    XLOPER target = AreaRef(table, outSheet, static_cast<WORD>(first + b * p),
                            static_cast<WORD>(first + b * p + p - 1), out.colFirst,
                            out.colLast);
    SetValues(target, values);
  }
  FreeGlobal(run.band);
  FreeGlobal(run.data);

  XLOPER sigValues = NumberArray(run.sigRow, 1, n);
  for (std::size_t c = 0; c < n; ++c) run.sigRow[c].val.num = run.significance[c];
  XLOPER sigTarget = AreaRef(table, outSheet, 1, 1, out.colFirst, out.colLast);
  SetValues(sigTarget, sigValues);
  FreeGlobal(run.sigRow);
  FreeGlobal(run.significance);
}

void WriteCoefficients(Run& run, IDSHEET coefSheet, std::size_t n, std::size_t coefLimit) {
  XLMREF table{};
  // The coefficient rows, then the means and sigmas under them: a run that
  // fails before here leaves a reused sheet's block as it was.
  RefRecord rows, chunk;
  PrepareRef(rows);
  PrepareRef(chunk);
  CopyRef(g_coefArea.value, rows.value);
  rows.table.reftbl[0].rwLast = static_cast<WORD>(n - 1);
  CopyRef(rows.value, chunk.value);
  for (;;) {
    NextRowChunk(rows.value, chunk.value, static_cast<long>(coefLimit));
    const XLREF& band = chunk.table.reftbl[0];
    const std::size_t count = std::size_t{band.rwLast} - band.rwFirst + 1;
    XLOPER values = NumberArray(run.coefBand, count, n);
    for (std::size_t i = 0; i < count * n; ++i) {
      run.coefBand[i].val.num = run.v[std::size_t{band.rwFirst} * n + i];
    }
    SetValues(chunk.value, values);
    if (band.rwLast >= n - 1) break;
  }
  FreeGlobal(run.coefBand);
  FreeGlobal(run.v);
  XLOPER momentValues = NumberArray(run.moments, 2, n);
  XLOPER momentTarget = AreaRef(table, coefSheet, static_cast<WORD>(n),
                                static_cast<WORD>(n + 1), 0, static_cast<BYTE>(n - 1));
  SetValues(momentTarget, momentValues);
  FreeGlobal(run.moments);
}

// Number formats, the component labels and the title row of the output.
void FormatOutput(IDSHEET outSheet, const XLREF& out, std::size_t n) {
  XLMREF table{};
  ActivateSheet(g_sheet.outputSheet);
  if (g_maxRows == 0) ReadMaxRows();
  XLOPER columns = AreaRef(table, outSheet, 0, static_cast<WORD>(g_maxRows - 1),
                           out.colFirst, out.colLast);
  Excel4(xlcSelect, nullptr, 1, &columns);
  CallExcel(xlcFormatNumber, nullptr, 1, TempString(g_numberFormat));
  XLOPER sigRow = AreaRef(table, outSheet, 1, 1, out.colFirst, out.colLast);
  Excel4(xlcSelect, nullptr, 1, &sigRow);
  CallExcel(xlcFormatNumber, nullptr, 1, TempString(g_percentFormat));

  for (std::size_t c = 0; c < n; ++c) {
    char label[16];
    int length = wsprintfA(label + 1, "D_%d", static_cast<int>(c + 1));
    label[0] = static_cast<char>(length);
    XLOPER target = AreaRef(table, outSheet, 0, 0, static_cast<BYTE>(out.colFirst + c),
                            static_cast<BYTE>(out.colFirst + c));
    CallExcel(xlSet, nullptr, 2, &target, TempString(label));
  }
  XLOPER titles = AreaRef(table, outSheet, 0, 1, out.colFirst, out.colLast);
  FormatTitleRow(titles);
}

MacroResult RunDecor(LPXLOPER dataRef, LPXLOPER outputRef, short updateBool, bool checked,
                     Run& run) {
  MacroArguments arguments{dataRef, outputRef, updateBool};
  if (!checked && !WalkDirectChecks<MacroArguments>(kMacroChecks, arguments)) {
    return kMacroRefused;
  }
  if (!TakeReference(dataRef, g_input) ||
      !(run.outputTaken = TakeReference(outputRef, g_output))) {
    ShowMessage(text::kImproperDataParameter + 1, kAlertError);
    return kMacroRefused;
  }
  const XLREF in = g_input.table.reftbl[0];
  XLREF& out = g_output.table.reftbl[0];
  const std::size_t n = std::size_t{in.colLast} - in.colFirst + 1;
  const std::size_t o = std::size_t{in.rwLast} - in.rwFirst + 1;
  const std::size_t first = std::max<std::size_t>(out.rwFirst, 2);
  // The output must fit the sheet: rows past the last would wrap to the top.
  if (first + o > static_cast<std::size_t>(g_maxRows) || out.colFirst + n > 256) {
    ShowMessage(text::kDecorDoesNotFit + 1, kAlertError);
    return kMacroRefused;
  }

  if (PrepareCoefficientSheet(n) != 1) return kMacroRefused;

  out.rwFirst = static_cast<WORD>(first);
  out.rwLast = static_cast<WORD>(first + o - 1);
  out.colLast = static_cast<BYTE>(out.colFirst + n - 1);
  const IDSHEET outSheet = g_output.value.val.mref.idSheet;
  const IDSHEET coefSheet = g_coefArea.value.val.mref.idSheet;

  ShowStage("Reading Spreadsheet Data");
  const std::size_t cells = n * o;
  const std::size_t p = cells <= kChunkCells ? o : kChunkCells / n;
  if (!Allocate(run.data, cells, kMemoryPlease)) return kMacroRefused;
  if (!ReadInput(run.data, n)) return kMacroStopped;

  if (!Allocate(run.w, n, kMemoryPleaes) || !Allocate(run.v, n * n, kMemoryPleaes)) return kMacroRefused;
  if (!Allocate(run.moments, 2 * n, kMemoryPlease)) return kMacroRefused;

  // w and the first row of V hold the means and sigmas until the
  // decomposition overwrites them.
  CoreStatus status = decor::StandardizeColumns(Span(run.data, cells), o, n,
                                                   Span(run.w, n), Span(run.v, n));
  if (MacroResult result = ReportStatus(status, kMemoryPlease); result != kMacroDone) return result;
  for (std::size_t c = 0; c < n; ++c) {
    run.moments[c].xltype = xltypeNum;
    run.moments[c].val.num = run.w[c];
    run.moments[n + c].xltype = xltypeNum;
    run.moments[n + c].val.num = run.v[c];
  }

  CommandObserver observer(ProgressPolicy::BreakKeyOnly());
  ShowStage("Calculating New Matrix");
  int failIndex = 0;
  status = decor::DecomposeSvd(Span(run.data, cells), n, Span(run.v, n * n), n,
                               Span(run.w, n), o, n, true, true, failIndex, &observer);
  if (MacroResult result = ReportStatus(status, text::kInsufficientMemory + 1); result != kMacroDone) return result;

  ShowStage("Determining Output Significance");
  if (!Allocate(run.index, n, kMemoryUse) || !Allocate(run.work, n, kMemoryUse) ||
      !Allocate(run.significance, n, kMemoryUse)) {
    return kMacroRefused;
  }
  status = decor::ComputeSignificance(Span(run.significance, n), Span(run.data, cells),
                                      Span(run.w, n), Span(run.v, n * n), o, n, &observer);
  if (MacroResult result = ReportStatus(status, kMemoryUse); result != kMacroDone) return result;
  decor::SortDescendingWithIndex(Span(run.significance, n), Span(run.index, n), n);
  decor::PermuteColumns(Span(run.data, cells), Span(run.index, n), Span(run.work, n), o, n);
  decor::PermuteColumns(Span(run.w, n), Span(run.index, n), Span(run.work, n), 1, n);
  decor::PermuteColumns(Span(run.v, n * n), Span(run.index, n), Span(run.work, n), n, n);
  FreeGlobal(run.index);
  FreeGlobal(run.work);
  decor::ScaleCoefficients(Span(run.data, cells), Span(run.w, n), Span(run.v, n * n), o, n);
  FreeGlobal(run.w);

  // Every array the writing needs is had before the first cell is written,
  // so that running out of memory leaves the sheets as they were.
  const std::size_t r = cells > kChunkCells ? o % p : 0;
  const std::size_t coefLimit = n * p;
  const std::size_t coefRows = std::max<std::size_t>(1, std::min(n, coefLimit / n));
  if ((r != 0 && !Allocate(run.tail, r * n, kMemoryUse)) ||
      !Allocate(run.band, p * n, kMemoryUse) || !Allocate(run.sigRow, n, kMemoryUse) ||
      !Allocate(run.coefBand, coefRows * n, kMemoryUse)) {
    return kMacroRefused;
  }

  ShowStage("Writing to Spreadsheet");
  WriteScores(run, outSheet, out, first, o, n, p, r);
  WriteCoefficients(run, coefSheet, n, coefLimit);
  if (updateBool != 0) WriteUpdateFormulas();
  FormatOutput(outSheet, out, n);

  FinishCoefficientSheet();
  if (g_wantFile && SaveCoefficientFile() == 0) {
    ShowMessage(text::kDecorFileNotCreated + 1, kAlertError);
  }
  return kMacroDone;
}

}  // namespace

int ComputeDecor() {
  return Decor(&g_input.value, &g_output.value, g_updateBool) == kMacroDone ? kMacroDone
                                                                             : kMacroRefused;
}

}  // namespace hvt::decor

extern "C" HVT_EXPORT int WINAPI Decor(LPXLOPER dataRef, LPXLOPER outputRef,
                                       short updateBool) {
  using namespace hvt;
  using namespace hvt::decor;
  const bool checked = g_dialogChecked;
  g_dialogChecked = false;
  // A macro-sheet call asks for no file; the dialog sets it for its own run.
  const bool wantFile = checked && g_wantFile;
  g_wantFile = wantFile;
  if (g_maxRows == 0) ReadMaxRows();
  if (g_versionRead == 0) ReadHostVersion();

  Run run;
  MacroResult result = RunDecor(dataRef, outputRef, updateBool, checked, run);
  run.Free();
  if (result != kMacroDone && g_sheet.prepared) {
    // A new sheet goes; a reused one is protected and hidden again.
    if (g_sheet.newSheet) DiscardCoefficientSheet();
    else FinishCoefficientSheet();
  }
  ReleaseCoefficientSheet();
  g_wantFile = false;
  ClearProgress();
  const XLREF* out = FirstArea(g_output.value);
  if (run.outputTaken && out != nullptr) {
    XLMREF table{};
    XLOPER cell = AreaRef(table, g_output.value.val.mref.idSheet, out->rwFirst,
                          out->rwFirst, out->colFirst, out->colFirst);
    Excel4(xlcFormulaGoto, nullptr, 1, &cell);
  }
  return result;
}

extern "C" HVT_EXPORT int WINAPI DecWrapper() {
  using namespace hvt;
  decor::g_dialogChecked = false;
  decor::g_wantFile = false;
  // The row limit too: a module that outlives one host session must not
  // select rows the next host lacks.
  ReadMaxRows();
  ReadHostVersion();
  // Decor goes to its output's first cell itself.
  CommandSteps steps{text::kDecorAborted, decor::RunDecorDialog, decor::ComputeDecor, nullptr};
  return RunCommandFrame(steps);
}
