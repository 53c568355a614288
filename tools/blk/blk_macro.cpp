// The BLK formula writer: block columns beside the data, each titled,
// formatted, and ending in a live formula that shows how it is made; the
// checks of a direct call; the overwrite warning.
#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "command/bands.h"
#include "command/checks.h"
#include "command/column.h"
#include "command/run_observer.h"
#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/texts.h"
#include "tools/blk/blk_settings.h"
#include "tools/blk/blk.h"
#include "tools/blk/core/blk.h"

namespace hvt::blk {

RefRecord g_dataRecord;
RefRecord g_outputRecord;
RefRecord g_titlesRecord;
RefRecord g_clearRecord;
bool g_dialogChecked = false;
bool g_sameSheet = false;

namespace {

constexpr int kLastColumn = 255;

char g_numberFormat[] = " 0.00000";


bool IsTrue(const XLOPER& value) {
  return BaseType(value) == xltypeBool && value.val.xbool != 0;
}

// A counted string of at most 255 characters in a buffer of its own.
struct Counted {
  char text[257] = {};
  explicit Counted(const std::string& s) {
    std::size_t length = std::min<std::size_t>(s.size(), 255);
    std::memcpy(text + 1, s.data(), length);
    text[1 + length] = '\0';
    text[0] = static_cast<char>(length);
  }
};

std::string TextOf(const XLOPER& value) {
  if (BaseType(value) != xltypeStr || value.val.str == nullptr) return {};
  return std::string(value.val.str + 1, CountedLength(value.val.str));
}

// A one-area reference value backed by `record`.
XLOPER& Area(RefRecord& record, IDSHEET sheet, long firstRow, long lastRow,
             long firstColumn, long lastColumn) {
  return SetRecord(record, sheet, MakeArea(firstRow, lastRow, firstColumn, lastColumn));
}

// The R1C1 text of a reference with its sheet, "" when the host gives none.
std::string ReferenceText(XLOPER& reference) {
  // Guarded: the string's allocation may throw while the text is held.
  HostValue text;
  text.Call(xlfReftext, &reference);
  return text.filled() ? TextOf(text.get()) : std::string();
}

// A block's formula text, the sheet dropped when data and output share it;
// empty when the host gave no reference text.
std::string FormulaText(FormulaKind kind, int n, int m, int blankRows,
                        const XLREF& data, IDSHEET dataSheet, long dataColumn) {
  const long last = data.rwLast;
  const int half = m / 2;
  RefRecord source;
  std::string block = ReferencePart(
      ReferenceText(Area(source, dataSheet, last - n - half, last - n + half,
                         dataColumn, dataColumn)),
      g_sameSheet);
  std::string trend;
  if (kind != FormulaKind::kStandard) {
    trend = ReferencePart(ReferenceText(Area(source, dataSheet, last - blankRows,
                                             last, dataColumn, dataColumn)),
                          g_sameSheet);
  }
  if (block.empty() || (kind != FormulaKind::kStandard && trend.empty())) return {};
  return BlockFormula(kind, n, block, trend);
}

// Enters a formula text into the formula cell, its references made relative
// in their rows. False when it is too long for the host to take; the cell
// then keeps its computed value.
bool EnterFormula(FormulaKind kind, const std::string& formula, XLOPER& formulaCell) {
  if (formula.empty()) return true;
  if (formula.size() > 255) return false;
  Counted text(formula);
  XLOPER converted{};
  if (CallExcel(xlfFormulaConvert, &converted, 5, TempString(text.text),
                TempBoolean(0), TempBoolean(0), TempNumber(3),
                &formulaCell) != xlretSuccess) {
    return true;
  }
  if (BaseType(converted) == xltypeStr) {
    int command = kind == FormulaKind::kNormalized
                      ? static_cast<int>(xlcFormulaArray) | static_cast<int>(xlIntl)
                      : static_cast<int>(xlcFormula) | static_cast<int>(xlIntl);
    Excel4(command, nullptr, 2, &converted, &formulaCell);
  }
  ReleaseHostValue(converted);
  return true;
}

FormulaKind KindOf(const BlkColumnLayout& column, int normalization) {
  return !column.detrended ? FormulaKind::kStandard
         : normalization == kBlkNormalized ? FormulaKind::kNormalized
                                           : FormulaKind::kDetrended;
}

// The text of a title cell, "" when it holds none.
std::string TitleText(IDSHEET sheet, long row, long column) {
  RefRecord cell;
  HostValue text;
  text.Call(xlCoerce, &Area(cell, sheet, row, row, column, column),
            TempInteger(xltypeStr));
  return text.filled() ? TextOf(text.get()) : std::string();
}

}  // namespace

void PrepareBlkRecords() {
  PrepareRef(g_dataRecord);
  PrepareRef(g_outputRecord);
  PrepareRef(g_titlesRecord);
  PrepareRef(g_clearRecord);
}

// ---- Rules without the host ---------------------------------------------------

bool OutputOverlapsInput(long outFirst, long outLast, long dataFirst,
                         long dataLast) {
  // Any shared column: an output lying wholly inside the data counts too.
  return outFirst <= dataLast && outLast >= dataFirst;
}

SampleChoice ChooseSampleOptions(bool detrended, int normalization,
                                 int previous) {
  if (previous < kBlkMinIndex || previous > kBlkMaxIndex) previous = 0;
  if (!detrended) return {0, previous != 0 ? previous : 6};
  int least = normalization == kBlkNormalized ? kBlkMinNormalizedIndex
                                              : kBlkMinDetrendedIndex;
  return {least - 1, previous > least ? previous : least};
}

std::string ReferencePart(const std::string& text, bool dropSheet) {
  if (!dropSheet) return text;
  std::size_t bang = text.rfind('!');
  return bang == std::string::npos ? text : text.substr(bang + 1);
}

std::string BlockFormula(FormulaKind kind, int n, const std::string& block,
                         const std::string& trend) {
  const bool averaged = n >= 7;
  if (kind == FormulaKind::kStandard) {
    return averaged ? "=AVERAGE(" + block + ")" : "=" + block;
  }
  std::string formula = averaged ? "=(AVERAGE(" + block + ")" : "=(" + block;
  formula += "-AVERAGE(" + trend + "))";
  if (kind == FormulaKind::kNormalized) {
    // The live formula keeps its own tiny guard (1E-300); the computed rows
    // above it add 1e-10, so the two differ in about the tenth digit.
    formula += "/(AVERAGE(ABS(" + trend + "-AVERAGE(" + trend + ")))+1E-300)";
  }
  return formula;
}

std::string OverwriteMessage(const std::string& area, int blankRows) {
  return "The range " + area + " will be overwritten. The first " +
         std::to_string(blankRows) +
         " rows of your output will be blank. \"OK\" continues. \"CANCEL\" "
         "aborts.";
}

// ---- Host checks --------------------------------------------------------------

bool TitlesAreText(const XLOPER& titlesRef, long count) {
  const XLREF* area = FirstArea(titlesRef);
  if (area == nullptr) return false;
  for (long k = 0; k < count; ++k) {
    long column = long{area->colFirst} + k;
    if (column > kLastColumn) return false;
    RefRecord cell;
    XLOPER answer{};
    if (Excel4(xlfIsnontext, &answer, 1,
               &Area(cell, titlesRef.val.mref.idSheet, area->rwFirst,
                     area->rwFirst, column, column)) != xlretSuccess) {
      return false;
    }
    bool nonText = IsTrue(answer);
    ReleaseHostValue(answer);
    if (nonText) return false;
  }
  return true;
}

namespace {

// A direct call's arguments, as the checks read them.
struct MacroArguments {
  const XLOPER* data;
  const XLOPER* output;
  const XLOPER* titles;
  int mnIndex;
  int method;
  int normalization;
  long dataColumns = 0;
  long lastOutput = 0;
};

bool IsReference(const XLOPER* value) {
  return value != nullptr && BaseType(*value) == xltypeRef &&
         FirstArea(*value) != nullptr && value->val.mref.lpmref->count >= 1;
}

// The data's shape against the sample table, read once the settings passed.
bool DataHoldsTheBlock(MacroArguments& a) {
  const XLREF& data = *FirstArea(*a.data);
  const XLREF& output = *FirstArea(*a.output);
  a.dataColumns = AreaColumnCount(data);
  a.lastOutput = long{output.colFirst} + BlkTotalColumns(a.dataColumns, a.mnIndex, a.method) - 1;
  const BlkSampleEntry& entry = BlkSampleTable[static_cast<std::size_t>(a.mnIndex)];
  return AreaRowCount(data) >= entry.n + entry.m / 2 + 2;
}

constexpr CheckRow<MacroArguments> kMacroChecks[] = {
    {[](MacroArguments& a) { return IsReference(a.data); }, text::kImproperDataParameter, 0,
     false},
    {[](MacroArguments& a) { return IsReference(a.output); },
     text::kImproperOutputParameter, 0, false},
    {[](MacroArguments& a) { return IsReference(a.titles); }, text::kBlkImproperTitles, 0,
     false},
    // Only one area is ever read: a compound reference would be cut short.
    {[](MacroArguments& a) { return a.data->val.mref.lpmref->count == 1; },
     text::kBlkCompound, 0, false},
    {nullptr, nullptr, 0, false,
     [](MacroArguments& a) {
       return BlkSettingsRefusal(a.method, a.normalization, a.mnIndex);
     }},
    {[](MacroArguments& a) { return !SheetProtected(*a.output); },
     text::kOutputProtected, 0, false},
    // Two questions: OK goes on with the values given.
    {DataHoldsTheBlock, text::kBlkTooGreat, 0, true},
    {[](MacroArguments& a) { return a.lastOutput <= kLastColumn; },
     text::kBlkTooManyColumns, 0, true},
    {[](MacroArguments& a) {
       const XLREF& data = *FirstArea(*a.data);
       return a.data->val.mref.idSheet != a.output->val.mref.idSheet ||
              !OutputOverlapsInput(FirstArea(*a.output)->colFirst, a.lastOutput,
                                   data.colFirst, data.colLast);
     },
     text::kBlkOverwrite, 0, false},
    {[](MacroArguments& a) {
       const XLREF& titles = *FirstArea(*a.titles);
       return titles.rwLast == titles.rwFirst;
     },
     text::kBlkTitlesOneRow, 0, false},
    {[](MacroArguments& a) { return TitlesAreText(*a.titles, a.dataColumns); },
     text::kBlkTitlesText, 0, false},
};

}  // namespace

bool CheckBlokParameters(const XLOPER* dataRef, const XLOPER* outputRef,
                         const XLOPER* titlesRef, int mnIndex, int method,
                         int normalization) {
  if (g_maxRows == 0) ReadMaxRows();
  if (g_versionRead == 0) ReadHostVersion();
  MacroArguments arguments{dataRef, outputRef, titlesRef, mnIndex, method, normalization};
  return WalkDirectChecks<MacroArguments>(kMacroChecks, arguments);
}

// ---- The overwrite warning ----------------------------------------------------

int BlkOverwriteWarning(const XLOPER& outputRef, const XLOPER& titlesRef,
                        const XLOPER& dataRef, long totalColumns,
                        int blankRows) {
  const XLREF* output = FirstArea(outputRef);
  const XLREF* titles = FirstArea(titlesRef);
  const XLREF* data = FirstArea(dataRef);
  if (output == nullptr || titles == nullptr || data == nullptr) return 0;
  // Every row the command clears or writes: the titles row and the data's
  // rows, whichever way round they lie.
  long top = std::min<long>(titles->rwFirst, data->rwFirst);
  long bottom = std::max<long>(titles->rwFirst, data->rwLast);
  long right = std::min<long>(long{output->colFirst} + totalColumns - 1,
                              kLastColumn);
  RefRecord area;
  std::string text = ReferenceText(Area(area, outputRef.val.mref.idSheet, top,
                                        bottom, output->colFirst, right));

  // The user reads the area in the notation the workspace uses. The host
  // converts formulas only, hence the "=" around the conversion.
  XLOPER style{};
  bool r1c1 = false;
  if (CallExcel(xlfGetWorkspace, &style, 1, TempNumber(4)) == xlretSuccess) {
    r1c1 = IsTrue(style);
    ReleaseHostValue(style);
  }
  if (!r1c1 && !text.empty() && text.size() < 255) {
    Counted formula("=" + text);
    HostValue converted;
    converted.Call(xlfFormulaConvert, TempString(formula.text), TempBoolean(0),
                   TempBoolean(1));
    if (converted.filled()) {
      std::string a1 = TextOf(converted.get());
      if (a1.size() > 1 && a1[0] == '=') text = a1.substr(1);
    }
  }

  std::string message = OverwriteMessage(text, blankRows);
  auto* buffer = static_cast<char*>(AllocGlobal(text.size() + 118 + 1));
  if (buffer == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  std::size_t length = std::min<std::size_t>(
      {message.size(), text.size() + 117, std::size_t{255}});
  std::memcpy(buffer + 1, message.data(), length);
  buffer[0] = static_cast<char>(length);
  short answer = ShowAlert(buffer, kAlertQuestion);
  FreeGlobal(buffer);
  return answer;
}

// ---- The writer ---------------------------------------------------------------

MacroResult RunBlok(const XLOPER& dataRef, const XLOPER& outputRef,
                    const XLOPER& titlesRef, int mnIndex, int method,
                    int normalization, const XLOPER* clearArea) {
  const XLREF* dataArea = FirstArea(dataRef);
  const XLREF* outputArea = FirstArea(outputRef);
  const XLREF* titlesArea = FirstArea(titlesRef);
  if (dataArea == nullptr || outputArea == nullptr || titlesArea == nullptr) {
    return kMacroRefused;
  }
  const XLREF data = *dataArea;
  const IDSHEET dataSheet = dataRef.val.mref.idSheet;
  const IDSHEET outputSheet = outputRef.val.mref.idSheet;
  const IDSHEET titlesSheet = titlesRef.val.mref.idSheet;
  const long outputFirst = outputArea->colFirst;
  const long titlesRow = titlesArea->rwFirst;
  // The titles' own columns, the ones their check tested.
  const long titlesFirst = titlesArea->colFirst;
  g_sameSheet = dataSheet == outputSheet;

  const long rows = long{data.rwLast} - data.rwFirst + 1;
  const int dataColumns = data.colLast - data.colFirst + 1;
  std::vector<BlkColumnLayout> plan =
      BlkOutputPlan(dataColumns, BlkSettings{mnIndex, method, normalization});
  const int blank = BlkBlankRows(mnIndex);
  // Nothing to compute (a direct call told about it went on anyway).
  if (plan.empty() || rows <= blank) return kMacroRefused;
  // Never past the sheet's last column.
  const long room = kLastColumn + 1 - outputFirst;
  if (static_cast<long>(plan.size()) > room) plan.resize(static_cast<std::size_t>(room));
  const long total = static_cast<long>(plan.size());
  const long valueRows = rows - blank;

  // Every buffer first: a run that cannot have them writes nothing. They go
  // back on every way out, a C++ allocation that fails on the way included.
  struct Buffers {
    double* x = nullptr;
    double* values = nullptr;
    XLOPER* cells = nullptr;
    ~Buffers() {
      FreeGlobal(x);
      FreeGlobal(values);
      FreeGlobal(cells);
      ClearProgress();
    }
  } buffers;
  auto* x = buffers.x = static_cast<double*>(AllocGlobal(sizeof(double) * rows));
  auto* values = buffers.values =
      static_cast<double*>(AllocGlobal(sizeof(double) * valueRows));
  auto* cells = buffers.cells = static_cast<XLOPER*>(
      AllocGlobal(sizeof(XLOPER) * std::min<long>(valueRows, kChunkCells)));
  if (x == nullptr || values == nullptr || cells == nullptr) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
  // Every title and formula text too, so that running out of memory for
  // one never leaves half the columns written.
  std::vector<std::string> titles(plan.size()), formulas(plan.size());
  {
    std::string title;
    int column = -1;
    for (std::size_t j = 0; j < plan.size(); ++j) {
      const BlkColumnLayout& layout = plan[j];
      if (layout.dataColumn != column) {
        column = layout.dataColumn;
        title = TitleText(titlesSheet, titlesRow, titlesFirst + column);
      }
      titles[j] = title + layout.suffix;
      formulas[j] = FormulaText(KindOf(layout, normalization), layout.n, layout.m, blank,
                                data, dataSheet, data.colFirst + column);
    }
  }
  if (clearArea != nullptr) {
    Excel4(xlcFormulaGoto, nullptr, 1, const_cast<LPXLOPER>(clearArea));
    Excel4(xlcClear, nullptr, 0);
  }

  // Every column written is shown; polled once a column is whole.
  CommandObserver observer(ProgressPolicy::EveryStep(ProgressText::kInt));
  MacroResult result = kMacroDone;
  long written = 0;
  int currentColumn = -1;
  bool tooLong = false;
  for (const BlkColumnLayout& column : plan) {
    const std::size_t j = static_cast<std::size_t>(written);
    if (column.dataColumn != currentColumn) {
      currentColumn = column.dataColumn;
      RefRecord dataColumn;
      Area(dataColumn, dataRef.val.mref.idSheet, data.rwFirst, data.rwLast,
           data.colFirst + currentColumn, data.colFirst + currentColumn);
      if (!ReadDataColumn(dataColumn.value, x, static_cast<std::size_t>(rows))) {
        result = kMacroStopped;
        break;
      }
    }
    std::span<const double> series(x, static_cast<std::size_t>(rows));
    std::span<double> out(values, static_cast<std::size_t>(valueRows));
    CoreStatus status =
        column.detrended
            ? DetrendedBlock(series, blank, column.n, column.m, normalization, out)
            : StandardBlock(series, blank, column.n, column.m, out);
    if (status != CoreStatus::kComplete) {
      result = kMacroRefused;
      break;
    }

    const long target = outputFirst + written;
    RefRecord outputColumn;
    Excel4(xlcFormulaGoto, nullptr, 1,
           &Area(outputColumn, outputSheet, data.rwFirst, data.rwLast, target,
                 target));
    CallExcel(xlcFormatNumber, nullptr, 1, TempString(g_numberFormat));
    if (!WriteNumbers(outputSheet,
                      MakeArea(long{data.rwFirst} + blank, data.rwLast, target, target),
                      values, cells)) {
      result = kMacroRefused;
      break;
    }

    RefRecord titleCell;
    Counted titleText(titles[j]);
    CallExcel(xlSet, nullptr, 2,
              &Area(titleCell, outputSheet, titlesRow, titlesRow, target, target),
              TempString(titleText.text));

    RefRecord formulaCell;
    if (!EnterFormula(KindOf(column, normalization), formulas[j],
                      Area(formulaCell, outputSheet, data.rwLast, data.rwLast,
                           target, target))) {
      tooLong = true;
    }
    ++written;
    observer.Progress(written, total);
    // Polled once a column is whole, so a stop never leaves half a column.
    if (observer.StopRequested()) {
      result = kMacroStopped;
      break;
    }
  }

  if (tooLong) {
    ShowMessage(text::kBlkFormulaTooLong + 1, kAlertError);
  }
  if (written > 0) {
    RefRecord titleRow;
    FormatTitleRow(Area(titleRow, outputSheet, titlesRow, titlesRow, outputFirst,
                        outputFirst + written - 1));
  }
  return result;
}

namespace {

int BlkCompute() {
  return Blok(&g_dataRecord.value, &g_outputRecord.value, &g_titlesRecord.value,
              g_mnIndex, g_method, g_normalization);
}

// The first value written: the output's first column, U rows into the data.
void BlkSelectOutput() {
  RefRecord first;
  PrepareRef(first);
  const XLREF* data = FirstArea(g_dataRecord.value);
  const XLREF* output = FirstArea(g_outputRecord.value);
  first.value.val.mref.idSheet = g_outputRecord.value.val.mref.idSheet;
  WORD row = static_cast<WORD>(data->rwFirst + BlkBlankRows(g_mnIndex));
  first.table.reftbl[0] = XLREF{row, row, output->colFirst, output->colFirst};
  Excel4(xlcFormulaGoto, nullptr, 1, &first.value);
}

}  // namespace

}  // namespace hvt::blk

using namespace hvt;
using namespace hvt::blk;

extern "C" HVT_EXPORT int WINAPI Blok(LPXLOPER dataRef, LPXLOPER outputRef,
                                      LPXLOPER titlesRef, int mnIndex,
                                      int method, int normalization) {
  bool fromCommand = g_dialogChecked;
  g_dialogChecked = false;
  if (!fromCommand &&
      !CheckBlokParameters(dataRef, outputRef, titlesRef, mnIndex, method, normalization)) {
    return kMacroRefused;
  }
  if (dataRef == nullptr || outputRef == nullptr || titlesRef == nullptr) {
    return kMacroRefused;
  }
  // Texts and the column plan are C++ containers: running out of memory
  // for them ends the run here, never in the host.
  try {
    return RunBlok(*dataRef, *outputRef, *titlesRef, mnIndex, method,
                   normalization, fromCommand ? &g_clearRecord.value : nullptr);
  } catch (const std::bad_alloc&) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
}

extern "C" HVT_EXPORT int WINAPI BlokWrapper(void) {
  using namespace hvt::blk;
  hvt::CommandSteps steps{hvt::text::kBlkAborted, BlkDialogs, BlkCompute, BlkSelectOutput};
  return hvt::RunCommandFrame(steps);
}
