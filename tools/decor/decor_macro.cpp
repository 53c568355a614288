// Decor, the decorrelator's macro procedure: reads the input block, runs the
// decorrelation core, writes the components with their labels and
// significances, and keeps the coefficients on the coefficient sheet.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>

#include "command/bands.h"
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

// The core asks here whether to stop; the break key is the user's.

void ShowStage(const char* text) {
  std::size_t length = std::min(std::strlen(text), sizeof g_progress - 2);
  std::memcpy(g_progress + 1, text, length);
  g_progress[1 + length] = '\0';
  CallExcel(xlcMessage, nullptr, 2, TempBoolean(1), TempString(g_progress));
}

// A short ASCII text of ours, counted, in the record's character type.
template <typename Char>
struct Counted {
  Char text[32] = {};
  explicit Counted(const char* ascii) {
    std::size_t length = std::min<std::size_t>(std::strlen(ascii), std::size(text) - 2);
    for (std::size_t i = 0; i < length; ++i) text[1 + i] = static_cast<Char>(ascii[i]);
    text[0] = static_cast<Char>(length);
  }
};

// A rows x columns array of numbers over `cells` (global memory the caller
// owns and frees).
template <HostRecord Oper>
Oper NumberArray(Oper* cells, std::size_t rows, std::size_t columns) {
  Oper array{};
  array.xltype = xltypeMulti;
  array.val.array.lparray = cells;
  array.val.array.rows = static_cast<decltype(array.val.array.rows)>(rows);
  array.val.array.columns = static_cast<decltype(array.val.array.columns)>(columns);
  for (std::size_t i = 0; i < rows * columns; ++i) cells[i].xltype = xltypeNum;
  return array;
}

template <HostRecord Oper>
void SetValues(Oper& target, Oper& values) {
  HostCall(xlSet, static_cast<Oper*>(nullptr), &target, &values);
}

template <HostRecord Oper>
void Select(Oper& reference) {
  HostCall(xlcSelect, static_cast<Oper*>(nullptr), &reference);
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
template <HostRecord Oper>
struct Run {
  double* data = nullptr;             // O x N, then U
  double* w = nullptr;                // N
  double* v = nullptr;                // N x N, then the coefficients
  Oper* moments = nullptr;            // 2 x N: means, sigmas
  std::int32_t* index = nullptr;      // N
  std::int32_t* work = nullptr;       // N
  double* significance = nullptr;     // N
  Oper* band = nullptr;               // P x N scores of one block
  Oper* sigRow = nullptr;             // N significances
  Oper* coefBand = nullptr;           // a band of coefficient rows
  bool outputTaken = false;           // the output record is this run's output

  void Free() {
    FreeGlobal(data);
    FreeGlobal(w);
    FreeGlobal(v);
    FreeGlobal(moments);
    FreeGlobal(index);
    FreeGlobal(work);
    FreeGlobal(significance);
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
template <HostRecord Oper>
struct MacroArguments {
  Oper* data;
  Oper* output;
  short update;
};

template <HostRecord Oper>
bool IsReference(const Oper* value) {
  return value != nullptr && TypeOf(*value) == xltypeRef && value->val.mref.lpmref != nullptr;
}

template <HostRecord Oper>
const auto& DataArea(const MacroArguments<Oper>& a) {
  return a.data->val.mref.lpmref->reftbl[0];
}
template <HostRecord Oper>
const auto& OutputArea(const MacroArguments<Oper>& a) {
  return a.output->val.mref.lpmref->reftbl[0];
}
template <HostRecord Oper>
long DataColumns(const MacroArguments<Oper>& a) {
  return AreaColumnCount(DataArea(a));
}

template <HostRecord Oper>
using Args = MacroArguments<Oper>;

// Each row reads only what the rows before it have found sound.
template <HostRecord Oper>
constexpr CheckRow<Args<Oper>> kMacroChecks[] = {
    {[](Args<Oper>& a) { return IsReference(a.data); }, text::kImproperDataParameter, 0,
     false},
    {[](Args<Oper>& a) {
       return IsReference(a.output) && a.output->val.mref.lpmref->count >= 1;
     },
     text::kImproperOutputParameter, 0, false},
    {[](Args<Oper>& a) { return a.update >= 0; }, text::kDecorUpdateFlag, 0, false},
    {[](Args<Oper>& a) {
       return a.data->val.mref.lpmref->count == 1 && DataColumns(a) >= 2;
     },
     text::kDecorColumns, 0, false},
    {[](Args<Oper>& a) {
       return a.data->val.mref.idSheet != a.output->val.mref.idSheet ||
              OutputArea(a).colFirst > DataArea(a).colLast;
     },
     text::kOutputWillOverwrite, 0, false},
    {[](Args<Oper>& a) {
       return long{OutputArea(a).colFirst} + DataColumns(a) - 1 <= SheetColumns<Oper>() - 1;
     },
     text::kDecorFarRight, 0, false},
    {[](Args<Oper>& a) { return AreaRowCount(DataArea(a)) >= 3; }, text::kDecorThreeRows,
     0, false},
    {[](Args<Oper>& a) { return !SheetProtected(*a.output); }, text::kDecorProtected, 0,
     false},
};

// Reads the input block into `data` (O x N, row-major), a band of rows at a
// time. False when a cell is not a number (the message has been shown).
template <HostRecord Oper>
bool ReadInput(double* data, std::size_t cells) {
  if (ReadNumbers(Records<Oper>().input.value, data, cells)) return true;
  ShowMessage(text::kDecorInputNonNumber + 1, kAlertError);
  return false;
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

// The scores, each x 1,000, from the last block of rows up, each block's
// memory given back once it is written; then the significance row.
template <HostRecord Oper>
void WriteScores(Run<Oper>& run, IDSHEET outSheet, const typename Interface<Oper>::Ref& out,
                 std::size_t first, std::size_t o, std::size_t n, std::size_t p,
                 std::size_t r) {
  using Ref = typename Interface<Oper>::Ref;
  for (std::size_t i = 0; i < o * n; ++i) run.data[i] = run.data[i] * 1000;
  // Rows [top, top + count) of the scores, one xlSet each (P x N cells at
  // most).
  auto writeBlock = [&](std::size_t top, std::size_t count) {
    WriteNumbers(outSheet,
                 MakeArea<Ref>(static_cast<long>(first + top),
                               static_cast<long>(first + top + count - 1), out.colFirst,
                               out.colLast),
                 run.data + top * n, run.band);
    ShrinkTo(run.data, top * n);
  };
  const std::size_t fullBlocks = o / p;
  if (r != 0) writeBlock(o - r, r);
  for (std::size_t b = fullBlocks; b-- > 0;) writeBlock(b * p, p);
  FreeGlobal(run.band);
  FreeGlobal(run.data);

  WriteNumbers(outSheet, MakeArea<Ref>(1, 1, out.colFirst, out.colLast), run.significance,
               run.sigRow);
  FreeGlobal(run.sigRow);
  FreeGlobal(run.significance);
}

template <HostRecord Oper>
void WriteCoefficients(Run<Oper>& run, IDSHEET coefSheet, std::size_t n,
                       std::size_t coefLimit) {
  // The coefficient rows, then the means and sigmas under them: a run that
  // fails before here leaves a reused sheet's block as it was. The bands
  // hold n x P cells at most, what the band scratch was sized for.
  RefRecordOf<Oper> rows, chunk;
  PrepareRef(rows);
  PrepareRef(chunk);
  CopyRef(Records<Oper>().coefArea.value, rows.value);
  rows.table.reftbl[0].rwLast = static_cast<decltype(rows.table.reftbl[0].rwLast)>(n - 1);
  CopyRef(rows.value, chunk.value);
  for (;;) {
    NextRowChunk(rows.value, chunk.value, static_cast<long>(coefLimit));
    const auto& band = chunk.table.reftbl[0];
    const std::size_t count = static_cast<std::size_t>(AreaRowCount(band));
    Oper values = NumberArray(run.coefBand, count, n);
    for (std::size_t i = 0; i < count * n; ++i) {
      run.coefBand[i].val.num = run.v[static_cast<std::size_t>(band.rwFirst) * n + i];
    }
    SetValues(chunk.value, values);
    if (static_cast<std::size_t>(band.rwLast) >= n - 1) break;
  }
  FreeGlobal(run.coefBand);
  FreeGlobal(run.v);
  RefRecordOf<Oper> momentArea;
  Oper momentValues = NumberArray(run.moments, 2, n);
  SetValues(Area(momentArea, coefSheet, static_cast<long>(n), static_cast<long>(n + 1), 0,
                 static_cast<long>(n - 1)),
            momentValues);
  FreeGlobal(run.moments);
}

// Number formats, the component labels and the title row of the output.
template <HostRecord Oper>
void FormatOutput(IDSHEET outSheet, const typename Interface<Oper>::Ref& out, std::size_t n) {
  using Char = typename Interface<Oper>::Char;
  RefRecordOf<Oper> area;
  ActivateSheet(g_sheet.outputSheet);
  Select(Area(area, outSheet, 0, SheetRows<Oper>() - 1, out.colFirst, out.colLast));
  Counted<Char> numberFormat("0.000"), percentFormat("0.00%");
  Oper format = TextValue<Oper>(numberFormat.text);
  HostCall(xlcFormatNumber, static_cast<Oper*>(nullptr), &format);
  Select(Area(area, outSheet, 1, 1, out.colFirst, out.colLast));
  format = TextValue<Oper>(percentFormat.text);
  HostCall(xlcFormatNumber, static_cast<Oper*>(nullptr), &format);

  for (std::size_t c = 0; c < n; ++c) {
    char ascii[16];
    std::snprintf(ascii, sizeof ascii, "D_%d", static_cast<int>(c + 1));
    Counted<Char> label(ascii);
    Oper labelValue = TextValue<Oper>(label.text);
    const long column = long{out.colFirst} + static_cast<long>(c);
    HostCall(xlSet, static_cast<Oper*>(nullptr), &Area(area, outSheet, 0, 0, column, column),
             &labelValue);
  }
  FormatTitleRow(Area(area, outSheet, 0, 1, out.colFirst, out.colLast));
}

template <HostRecord Oper>
MacroResult RunDecor(Oper* dataRef, Oper* outputRef, short updateBool, bool checked,
                     Run<Oper>& run) {
  const DecorRecords<Oper> records = Records<Oper>();
  MacroArguments<Oper> arguments{dataRef, outputRef, updateBool};
  if (!checked && !WalkDirectChecks<MacroArguments<Oper>>(kMacroChecks<Oper>, arguments)) {
    return kMacroRefused;
  }
  if (!TakeReference(dataRef, records.input) ||
      !(run.outputTaken = TakeReference(outputRef, records.output))) {
    ShowMessage(text::kImproperDataParameter + 1, kAlertError);
    return kMacroRefused;
  }
  const auto in = records.input.table.reftbl[0];
  auto& out = records.output.table.reftbl[0];
  const std::size_t n = static_cast<std::size_t>(AreaColumnCount(in));
  const std::size_t o = static_cast<std::size_t>(AreaRowCount(in));
  const std::size_t first = std::max<std::size_t>(static_cast<std::size_t>(out.rwFirst), 2);
  // The output must fit the sheet: rows past the last would wrap to the top.
  if (first + o > static_cast<std::size_t>(SheetRows<Oper>()) ||
      static_cast<std::size_t>(out.colFirst) + n > static_cast<std::size_t>(SheetColumns<Oper>())) {
    ShowMessage(text::kDecorDoesNotFit + 1, kAlertError);
    return kMacroRefused;
  }

  if (PrepareCoefficientSheet(n) != 1) return kMacroRefused;

  out.rwFirst = static_cast<decltype(out.rwFirst)>(first);
  out.rwLast = static_cast<decltype(out.rwLast)>(first + o - 1);
  out.colLast = static_cast<decltype(out.colLast)>(static_cast<std::size_t>(out.colFirst) + n - 1);
  const IDSHEET outSheet = records.output.value.val.mref.idSheet;
  const IDSHEET coefSheet = records.coefArea.value.val.mref.idSheet;

  ShowStage("Reading Spreadsheet Data");
  const std::size_t cells = n * o;
  // At least one row a block, however many columns.
  const std::size_t p =
      cells <= kChunkCells ? o : std::max<std::size_t>(1, kChunkCells / n);
  if (!Allocate(run.data, cells, kMemoryPlease)) return kMacroRefused;
  if (!ReadInput<Oper>(run.data, cells)) return kMacroStopped;

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
  // so that running out of memory leaves the sheets as they were. The
  // block scratch serves the last, shorter block too.
  const std::size_t r = cells > kChunkCells ? o % p : 0;
  const std::size_t coefLimit = n * p;
  const std::size_t coefRows = std::max<std::size_t>(1, std::min(n, coefLimit / n));
  if (!Allocate(run.band, p * n, kMemoryUse) || !Allocate(run.sigRow, n, kMemoryUse) ||
      !Allocate(run.coefBand, coefRows * n, kMemoryUse)) {
    return kMacroRefused;
  }

  ShowStage("Writing to Spreadsheet");
  WriteScores(run, outSheet, out, first, o, n, p, r);
  WriteCoefficients(run, coefSheet, n, coefLimit);
  if (updateBool != 0) WriteUpdateFormulas();
  FormatOutput<Oper>(outSheet, out, n);

  FinishCoefficientSheet();
  if (g_wantFile && SaveCoefficientFile() == 0) {
    ShowMessage(text::kDecorFileNotCreated + 1, kAlertError);
  }
  return kMacroDone;
}

// The macro's body through either interface.
template <HostRecord Oper>
int RunMacroCall(Oper* dataRef, Oper* outputRef, short updateBool) {
  const bool checked = g_dialogChecked;
  g_dialogChecked = false;
  // A macro-sheet call asks for no file; the dialog sets it for its own run.
  const bool wantFile = checked && g_wantFile;
  g_wantFile = wantFile;
  if (g_maxRows == 0) ReadMaxRows();
  if (g_versionRead == 0) ReadHostVersion();

  Run<Oper> run;
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
  RefRecordOf<Oper>& output = Records<Oper>().output;
  const auto* out = FirstArea(output.value);
  if (run.outputTaken && out != nullptr) {
    RefRecordOf<Oper> cell;
    HostCall(xlcFormulaGoto, static_cast<Oper*>(nullptr),
             &Area(cell, output.value.val.mref.idSheet, out->rwFirst, out->rwFirst,
                   out->colFirst, out->colFirst));
  }
  return result;
}

}  // namespace

int ComputeDecor() {
  const int result = WideHost()
                         ? Decor12(&g_input12.value, &g_output12.value, g_updateBool)
                         : Decor(&g_input.value, &g_output.value, g_updateBool);
  return result == kMacroDone ? kMacroDone : kMacroRefused;
}

}  // namespace hvt::decor

extern "C" HVT_EXPORT int WINAPI Decor(LPXLOPER dataRef, LPXLOPER outputRef,
                                       short updateBool) {
  return hvt::decor::RunMacroCall(dataRef, outputRef, updateBool);
}

extern "C" HVT_EXPORT int WINAPI Decor12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                         short updateBool) {
  return hvt::decor::RunMacroCall(dataRef, outputRef, updateBool);
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
