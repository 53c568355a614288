// The KLX and PQE macros: the checks of a direct call, reading the data
// column in bands, the filter run with progress and the break key, writing
// the result in bands, and the output's label.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/klx/klx_command.h"
#include "tools/klx/klx_tool.h"
#include "tools/run_observer.h"

namespace hvt::klx {

namespace {

char g_nonNumber[] = " Your data set contains a non-number!";
char g_labelPrompt[] = " Please enter text to use as label for your output column.";
char g_labelTitle[] = " Output Label";

void Release(XLOPER& value) { Excel4(xlFree, nullptr, 1, &value); }

bool IsTrue(const XLOPER& value) {
  return BaseType(value) == xltypeBool && value.val.xbool != 0;
}

// A one-area reference value backed by `table`.
XLOPER AreaRef(XLMREF& table, DWORD sheet, const XLREF& area) {
  table = XLMREF{};
  table.count = 1;
  table.reftbl[0] = area;
  XLOPER value{};
  value.xltype = xltypeRef;
  value.val.mref.lpmref = &table;
  value.val.mref.idSheet = sheet;
  return value;
}

XLREF CellArea(long row, BYTE column) {
  return XLREF{static_cast<WORD>(row), static_cast<WORD>(row), column, column};
}

long Rows(const XLREF& area) { return long{area.rwLast} - area.rwFirst + 1; }

// Progress of the KLX filter: every warm-up row, then only when the
// percentage changes.
class KlxObserver final : public RunObserver {
 public:
  bool StopRequested() override { return CheckAbort() == 1; }
  void Progress(std::int64_t done, std::int64_t total) override {
    if (done <= kLeadRows) {
      ShowProgress(done, total, ProgressText::kLong);
      return;
    }
    if (ProgressPercent(done, total) != last_) {
      last_ = ShowProgress(done, total, ProgressText::kLong);
    }
  }

 private:
  int last_ = 1;
};

// Progress of the PQE filter: whenever the percentage changes.
class PqeObserver final : public RunObserver {
 public:
  bool StopRequested() override { return CheckAbort() == 1; }
  void Progress(std::int64_t done, std::int64_t total) override {
    if (ProgressPercent(done, total) != last_) {
      last_ = ShowProgress(done, total, ProgressText::kLong);
    }
  }

 private:
  int last_ = 1;
};

// Reads the data column into `data` band by band. 1, or -1 after the
// message when a cell is not a number.
int ReadColumn(const XLOPER& whole, double* data, long n) {
  RefRecord chunk;
  PrepareRef(chunk);
  CopyRef(whole, chunk.value);
  const XLREF& wholeArea = *FirstArea(whole);
  const XLREF& band = chunk.table.reftbl[0];
  long filled = 0;
  do {
    NextRowChunk(whole, chunk.value, kChunkCells);
    XLOPER array;
    bool numbers = CallExcel(xlCoerce, &array, 2, &chunk.value,
                             TempInteger(xltypeMulti)) == xlretSuccess;
    if (numbers) {
      XLOPER* cells = nullptr;
      long count = 0;
      if (BaseType(array) == xltypeMulti && array.val.array.lparray != nullptr) {
        cells = array.val.array.lparray;
        count = long{array.val.array.rows} * array.val.array.columns;
      } else {
        cells = &array;  // a band of one cell may come back as that cell
        count = 1;
      }
      numbers = count == Rows(band) && filled + count <= n;
      for (long i = 0; numbers && i < count; ++i) {
        if (BaseType(cells[i]) != xltypeNum) {
          numbers = false;
        } else {
          data[filled++] = cells[i].val.num;
        }
      }
      Release(array);
    }
    if (!numbers) {
      ShowAlert(g_nonNumber, kAlertError);
      return -1;
    }
  } while (band.rwLast < wholeArea.rwLast);
  return filled == n ? 1 : -1;
}

// Writes `values` down `area` band by band through `cells`, a block of
// min(rows, 5,400) values had beforehand. False when the host refused a
// band.
bool WriteColumn(DWORD sheet, const XLREF& area, std::span<const double> values,
                 XLOPER* cells) {
  RefRecord whole;
  PrepareRef(whole);
  RefRecord chunk;
  PrepareRef(chunk);
  whole.value.val.mref.idSheet = sheet;
  whole.table.reftbl[0] = area;
  CopyRef(whole.value, chunk.value);
  const XLREF& band = chunk.table.reftbl[0];
  std::size_t written = 0;
  do {
    NextRowChunk(whole.value, chunk.value, kChunkCells);
    long rows = Rows(band);
    if (rows <= 0 || written + rows > values.size()) return false;
    for (long i = 0; i < rows; ++i) {
      cells[i].xltype = xltypeNum;
      cells[i].val.num = values[written + i];
    }
    XLOPER array{};
    array.xltype = xltypeMulti;
    array.val.array.rows = static_cast<WORD>(rows);
    array.val.array.columns = 1;
    array.val.array.lparray = cells;
    if (Excel4(xlSet, nullptr, 2, &chunk.value, &array) != xlretSuccess) {
      return false;
    }
    written += rows;
  } while (band.rwLast < area.rwLast);
  return true;
}

// The buffers one macro run holds; released on every way out.
struct RunBuffers {
  double* data = nullptr;
  double* output = nullptr;
  double* residuals = nullptr;
  XLOPER* band = nullptr;
  char* label = nullptr;
  ~RunBuffers() {
    FreeGlobal(data);
    FreeGlobal(output);
    FreeGlobal(residuals);
    FreeGlobal(band);
    FreeGlobal(label);
  }
};

// Status bar back to the host on every way out of a macro.
struct ProgressCleared {
  ~ProgressCleared() { ClearProgress(); }
};

enum class Filter { kKlx, kPqe };

// The body both macros share, from the records on.
int RunMacro(Filter filter, const XLOPER& dataRef, const XLOPER& outputRef,
             double smoothness, double phase) {
  ProgressCleared cleared;
  const XLREF& data = *FirstArea(dataRef);
  const XLREF outArea = OutputArea(data, *FirstArea(outputRef));
  const DWORD outSheet = outputRef.val.mref.idSheet;
  const long n = Rows(data);
  const long outRows = Rows(outArea);
  if (n < kMinRows || outRows <= 0) return 0;  // the checks keep this out
  const std::size_t count = static_cast<std::size_t>(n);

  // Everything is had before anything is written, so running out of memory
  // leaves the workbook as it was.
  RunBuffers buffers;
  buffers.data = static_cast<double*>(AllocGlobal(count * sizeof(double)));
  buffers.output = buffers.data != nullptr
                       ? static_cast<double*>(AllocGlobal(count * sizeof(double)))
                       : nullptr;
  bool held = buffers.output != nullptr;
  if (held && filter == Filter::kPqe) {
    buffers.residuals = static_cast<double*>(AllocGlobal(count * sizeof(double)));
    held = buffers.residuals != nullptr;
  }
  if (held) {
    std::size_t bandRows = static_cast<std::size_t>(std::min(outRows, kChunkCells));
    buffers.band = static_cast<XLOPER*>(AllocGlobal(bandRows * sizeof(XLOPER)));
    held = buffers.band != nullptr;
  }
  if (held) {
    buffers.label = static_cast<char*>(AllocGlobal(kLabelBufferSize));
    held = buffers.label != nullptr;
  }
  if (!held) {
    ShowInsufficientMemory();
    return 0;
  }

  if (ReadColumn(dataRef, buffers.data, n) != 1) return -1;

  std::span<const double> x(buffers.data, count);
  std::span<double> y(buffers.output, count);
  bool complete = false;
  if (filter == Filter::kKlx) {
    KlxObserver observer;
    complete = KlxFilter(x, smoothness, phase, y, &observer);
  } else {
    PqeObserver observer;
    complete = PqeFilter(x, smoothness, y, &observer,
                         std::span<double>(buffers.residuals, count));
  }
  if (!complete) return -1;
  FreeGlobal(buffers.residuals);
  FreeGlobal(buffers.data);

  if (!WriteColumn(outSheet, outArea, y.subspan(kLeadRows), buffers.band)) return 0;
  FreeGlobal(buffers.band);

  XLMREF outTable;
  XLOPER outRange = AreaRef(outTable, outSheet, outArea);
  double labelSmoothness =
      filter == Filter::kPqe ? PqeSettings::Derive(smoothness).s : smoothness;
  return WriteKlxLabel(dataRef, outRange, labelSmoothness,
                       filter == Filter::kKlx, phase, buffers.label);
}

// The records a macro works on: the tool's own after the dialog, or its
// arguments checked here.
int RunChecked(Filter filter, LPXLOPER dataRef, LPXLOPER outputRef,
               double* smoothness, double* phase) {
  double s = smoothness != nullptr ? *smoothness : NAN;
  double p = phase != nullptr ? *phase : 0;
  RefRecord data, output;
  PrepareRef(data);
  PrepareRef(output);
  if (!g_dialogPassed) {
    if (!DirectCallChecks(dataRef, outputRef, s, data, output)) return 0;
  } else {
    int areas = 0;
    if (!ArgumentReference(dataRef, data, areas) ||
        !ArgumentReference(outputRef, output, areas)) {
      g_dialogPassed = false;
      return 0;
    }
  }
  g_dialogPassed = false;
  return RunMacro(filter, data.value, output.value, s, p);
}

// Writes a counted string into the label cell as the user would type it.
void EnterInCell(char* text, XLOPER& cell) {
  CallExcel(int{xlcFormula} | int{xlIntl}, nullptr, 2, TempString(text), &cell);
}

}  // namespace

// ---- Direct calls -------------------------------------------------------------

bool ArgumentReference(const XLOPER* argument, RefRecord& record, int& areas) {
  areas = 0;
  if (argument == nullptr) return false;
  WORD type = BaseType(*argument);
  if (type == xltypeSRef) {
    // A single reference means the active sheet.
    DWORD id = 0;
    XLOPER sheet;
    if (Excel4(xlSheetId, &sheet, 0) != xlretSuccess) return false;
    if (BaseType(sheet) == xltypeRef) id = sheet.val.mref.idSheet;
    Release(sheet);
    if (id == 0) return false;
    record.value.xltype = xltypeRef;
    record.value.val.mref.idSheet = id;
    record.table.count = 1;
    record.table.reftbl[0] = argument->val.sref.ref;
    areas = 1;
    return true;
  }
  if (type != xltypeRef || argument->val.mref.lpmref == nullptr ||
      argument->val.mref.lpmref->count == 0) {
    return false;
  }
  areas = argument->val.mref.lpmref->count;
  CopyRef(*argument, record.value);
  record.table.count = 1;
  return true;
}

bool DirectCallChecks(const XLOPER* dataRef, const XLOPER* outputRef,
                      double smoothness, RefRecord& data, RefRecord& output) {
  auto fail = [](const char* text) {
    ShowMessage(text, kAlertError);
    return false;
  };
  int dataAreas = 0;
  if (!ArgumentReference(dataRef, data, dataAreas)) {
    return fail("Your data reference is improper! Use complete reference.");
  }
  const XLREF& in = data.table.reftbl[0];
  if (g_maxRows == 0) ReadMaxRows();
  if (Rows(in) > g_maxRows || Rows(in) < kMinRows) {
    return fail(
        "Your data set cannot have less than 32 rows, nor can it have more "
        "rows than the spreadsheet can contain!");
  }
  // Written so that NaN fails too.
  if (!SmoothnessAccepted(smoothness)) {
    return fail(kSmoothnessRange);
  }
  if (dataAreas != 1 || in.colFirst != in.colLast) {
    return fail("Your data set must be in one column only!");
  }
  int outputAreas = 0;
  bool outputIsRef = ArgumentReference(outputRef, output, outputAreas);
  if (outputIsRef &&
      output.value.val.mref.idSheet == data.value.val.mref.idSheet &&
      output.table.reftbl[0].colFirst == in.colFirst) {
    return fail("Your output will overwrite your input!");
  }
  if (!outputIsRef) {
    return fail("Your output reference is improper! Use complete reference.");
  }

  XLMREF cellTable;
  XLOPER cell = AreaRef(cellTable, output.value.val.mref.idSheet,
                        CellArea(output.table.reftbl[0].rwFirst,
                                 output.table.reftbl[0].colFirst));
  XLOPER name;
  bool protectedSheet = false;
  if (CallExcel(xlfGetCell, &name, 2, TempNumber(32), &cell) == xlretSuccess) {
    XLOPER answer;
    if (BaseType(name) == xltypeStr &&
        CallExcel(xlfGetDocument, &answer, 2, TempNumber(7), &name) ==
            xlretSuccess) {
      protectedSheet = IsTrue(answer);
      Release(answer);
    }
    Release(name);
  }
  if (protectedSheet) return fail("Your output document is protected.");
  return true;
}

XLREF OutputArea(const XLREF& data, const XLREF& output) {
  XLREF area{};
  area.rwFirst = static_cast<WORD>(std::min<long>(long{data.rwFirst} + kLeadRows,
                                                  data.rwLast));
  area.rwLast = data.rwLast;
  area.colFirst = output.colFirst;
  area.colLast = output.colFirst;
  return area;
}

// ---- Label --------------------------------------------------------------------

void SmoothnessText(double smoothness, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  if (smoothness == 1e-10) {
    std::snprintf(out, capacity, "0");
  } else {
    std::snprintf(out, capacity, "%.4G", smoothness);
  }
}

void PhaseText(double phase, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  std::snprintf(out, capacity, "%.3G", phase);
}

namespace {

// Appends plain text to a counted string being built in `buffer` (its
// text NUL-terminated from the second byte). False when it does not fit
// 255 characters or the buffer.
bool Append(char* buffer, std::size_t capacity, const char* text,
            std::size_t length) {
  std::size_t used = std::strlen(buffer + 1);
  if (used + length > 255 || 1 + used + length + 1 > capacity) return false;
  std::memcpy(buffer + 1 + used, text, length);
  buffer[1 + used + length] = '\0';
  buffer[0] = static_cast<char>(used + length);
  return true;
}

bool Append(char* buffer, std::size_t capacity, const char* text) {
  return Append(buffer, capacity, text, std::strlen(text));
}

// "_S<s>" and "_P<p>" as plain text.
void Suffix(const char* smoothnessText, const char* phaseText, char* out,
            std::size_t capacity) {
  if (phaseText != nullptr) {
    std::snprintf(out, capacity, "_S%s_P%s", smoothnessText, phaseText);
  } else {
    std::snprintf(out, capacity, "_S%s", smoothnessText);
  }
}

}  // namespace

bool BuildFormulaLabel(const char* reference, const char* smoothnessText,
                       const char* phaseText, char* buffer,
                       std::size_t capacity) {
  if (capacity < 2) return false;
  char suffix[96];
  Suffix(smoothnessText, phaseText, suffix, sizeof suffix);
  const char* text = reference + 1;
  std::size_t length = CountedLength(reference);
  const std::size_t fixed = std::strlen("=\"Col\"&COLUMN(") +
                            std::strlen(")&\"") + std::strlen(suffix) + 1;
  if (fixed + length > 255) {
    // COLUMN reads the same column from the reference without its sheet.
    for (std::size_t i = length; i > 0; --i) {
      if (text[i - 1] == '!') {
        text += i;
        length -= i;
        break;
      }
    }
  }
  buffer[0] = 0;
  buffer[1] = '\0';
  return Append(buffer, capacity, "=\"Col\"&COLUMN(") &&
         Append(buffer, capacity, text, length) &&
         Append(buffer, capacity, ")&\"") && Append(buffer, capacity, suffix) &&
         Append(buffer, capacity, "\"");
}

bool BuildTextLabel(const char* label, const char* smoothnessText,
                    const char* phaseText, char* buffer, std::size_t capacity) {
  if (capacity < 2) return false;
  char suffix[96];
  Suffix(smoothnessText, phaseText, suffix, sizeof suffix);
  std::size_t room = 255 - std::min<std::size_t>(255, std::strlen(suffix));
  std::size_t length = std::min(CountedLength(label), room);
  buffer[0] = 0;
  buffer[1] = '\0';
  return Append(buffer, capacity, label + 1, length) &&
         Append(buffer, capacity, suffix);
}

int WriteKlxLabel(const XLOPER& data, const XLOPER& outputRange,
                  double smoothness, bool withPhase, double phase,
                  char* buffer) {
  const XLREF* dataArea = FirstArea(data);
  const XLREF* outArea = FirstArea(outputRange);
  if (dataArea == nullptr || outArea == nullptr) return 0;
  if (buffer == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  char smoothnessText[40];
  char phaseText[40];
  SmoothnessText(smoothness, smoothnessText, sizeof smoothnessText);
  PhaseText(phase, phaseText, sizeof phaseText);
  const char* phasePart = withPhase ? phaseText : nullptr;

  const DWORD dataSheet = data.val.mref.idSheet;
  const DWORD outSheet = outputRange.val.mref.idSheet;
  const long aboveRow = dataArea->rwFirst > 0 ? long{dataArea->rwFirst} - 1 : 0;
  XLMREF labelTable, aboveTable, topTable;
  XLOPER labelCell = AreaRef(labelTable, outSheet, CellArea(0, outArea->colFirst));
  XLOPER above = AreaRef(aboveTable, dataSheet, CellArea(aboveRow, dataArea->colFirst));
  XLOPER top = AreaRef(topTable, dataSheet, CellArea(0, dataArea->colFirst));

  XLOPER aboveIsText, topIsText;
  bool aboveFilled = Excel4(xlfIstext, &aboveIsText, 1, &above) == xlretSuccess;
  bool topFilled = Excel4(xlfIstext, &topIsText, 1, &top) == xlretSuccess;
  bool aboveText = aboveFilled && IsTrue(aboveIsText);
  bool topText = topFilled && IsTrue(topIsText);

  // Where the label text comes from: a cell, the user, or none (formula).
  XLOPER* source = nullptr;
  bool ask = false;
  if (aboveText) {
    if (topText && aboveRow != 0) {
      ask = true;
    } else {
      source = &above;
    }
  } else if (topText) {
    source = &top;
  } else if (dataSheet != outSheet) {
    ask = true;
  }

  XLOPER labelText;
  bool textFilled = false;
  if (source != nullptr) {
    textFilled = CallExcel(xlCoerce, &labelText, 2, source,
                           TempInteger(xltypeStr)) == xlretSuccess;
  } else if (ask) {
    textFilled = CallExcel(xlfInput, &labelText, 3, TempString(g_labelPrompt),
                           TempNumber(2), TempString(g_labelTitle)) == xlretSuccess;
  }

  if (source == nullptr && !ask) {
    XLOPER reference;
    if (Excel4(xlfReftext, &reference, 1, &data) == xlretSuccess) {
      if (BaseType(reference) == xltypeStr &&
          BuildFormulaLabel(reference.val.str, smoothnessText, phasePart,
                            buffer, kLabelBufferSize)) {
        EnterInCell(buffer, labelCell);
      }
      Release(reference);
    }
  } else if (textFilled) {
    // A cancelled input answers FALSE: no label then.
    if (BaseType(labelText) == xltypeStr && labelText.val.str != nullptr &&
        BuildTextLabel(labelText.val.str, smoothnessText, phasePart, buffer,
                       kLabelBufferSize)) {
      EnterInCell(buffer, labelCell);
    }
  }
  if (textFilled) Release(labelText);
  if (aboveFilled) Release(aboveIsText);
  if (topFilled) Release(topIsText);

  // The output takes the number format of the data's first cell.
  XLMREF rangeTable, firstTable;
  XLOPER range = AreaRef(rangeTable, outSheet, *outArea);
  XLOPER first = AreaRef(firstTable, dataSheet,
                         CellArea(dataArea->rwFirst, dataArea->colFirst));
  Excel4(xlcFormulaGoto, nullptr, 1, &range);
  XLOPER format;
  if (CallExcel(xlfGetCell, &format, 2, TempNumber(7), &first) == xlretSuccess) {
    if (BaseType(format) == xltypeStr) {
      Excel4(xlcFormatNumber, nullptr, 1, &format);
    }
    Release(format);
  }
  FormatTitleRow(labelCell);
  return 1;
}

}  // namespace hvt::klx

extern "C" HVT_EXPORT int WINAPI KLX(LPXLOPER dataRef, LPXLOPER outputRef,
                                     double* smoothness, double* phase) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kKlx, dataRef, outputRef,
                              smoothness, phase);
}

extern "C" HVT_EXPORT int WINAPI HalPQEX(LPXLOPER dataRef, LPXLOPER outputRef,
                                         double* smoothness) {
  return hvt::klx::RunChecked(hvt::klx::Filter::kPqe, dataRef, outputRef,
                              smoothness, nullptr);
}
