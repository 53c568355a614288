// The BLK formula writer: block columns beside the data, each titled,
// formatted, and ending in a live formula that shows how it is made; the
// checks of a direct call; the overwrite warning.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <span>
#include <string>
#include <type_traits>
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
RefRecord12 g_dataRecord12;
RefRecord12 g_outputRecord12;
RefRecord12 g_titlesRecord12;
RefRecord12 g_clearRecord12;
bool g_dialogChecked = false;
bool g_sameSheet = false;

template <>
BlkRecords<XLOPER> Records<XLOPER>() {
  return {g_dataRecord, g_outputRecord, g_titlesRecord, g_clearRecord};
}
template <>
BlkRecords<XLOPER12> Records<XLOPER12>() {
  return {g_dataRecord12, g_outputRecord12, g_titlesRecord12, g_clearRecord12};
}

namespace {

template <HostRecord Oper>
using Text = std::basic_string<typename Interface<Oper>::Char>;

// An ASCII text of ours in either character type.
template <typename Char>
std::basic_string<Char> Ascii(const std::string& text) {
  return std::basic_string<Char>(text.begin(), text.end());
}

// The number format of the block columns, in the record's text kind.
template <typename Char>
Char* NumberFormat() {
  static Char format[] = {' ', '0', '.', '0', '0', '0', '0', '0', 0};
  format[0] = static_cast<Char>(std::size(format) - 2);
  return format;
}

// A counted string of at most 255 characters in a buffer of its own.
template <typename Char>
struct Counted {
  Char text[257] = {};
  explicit Counted(const std::basic_string<Char>& s) {
    std::size_t length = std::min<std::size_t>(s.size(), 255);
    std::copy(s.data(), s.data() + length, text + 1);
    text[1 + length] = Char{};
    text[0] = static_cast<Char>(length);
  }
};

template <HostRecord Oper>
Text<Oper> TextOf(const Oper& value) {
  using Char = typename Interface<Oper>::Char;
  if (TypeOf(value) != xltypeStr || value.val.str == nullptr) return {};
  const Char* text = value.val.str;
  auto length = static_cast<std::size_t>(static_cast<std::make_unsigned_t<Char>>(text[0]));
  return Text<Oper>(text + 1, length);
}

// A host answer, given back when it goes: a text's allocation may throw
// while it is held.
template <HostRecord Oper>
struct Answer {
  Oper value{};
  bool filled = false;
  template <typename... Arguments>
  bool Ask(int function, Arguments*... arguments) {
    filled = HostCall(function, &value, arguments...) == xlretSuccess;
    return filled;
  }
  ~Answer() {
    if (filled) GiveBack(value);
  }
};

template <HostRecord Oper>
void GoTo(const Oper& reference) {
  HostCall(xlcFormulaGoto, static_cast<Oper*>(nullptr), const_cast<Oper*>(&reference));
}

// The R1C1 text of a reference with its sheet, "" when the host gives none.
template <HostRecord Oper>
Text<Oper> ReferenceText(Oper& reference) {
  Answer<Oper> text;
  text.Ask(xlfReftext, &reference);
  return text.filled ? TextOf(text.value) : Text<Oper>();
}

// A block's formula text, the sheet dropped when data and output share it;
// empty when the host gave no reference text.
template <HostRecord Oper>
Text<Oper> FormulaText(FormulaKind kind, int n, int m, int blankRows,
                       const typename Interface<Oper>::Ref& data, IDSHEET dataSheet,
                       long dataColumn) {
  const long last = data.rwLast;
  const int half = m / 2;
  RefRecordOf<Oper> source;
  Text<Oper> block = ReferencePart(
      ReferenceText(Area(source, dataSheet, last - n - half, last - n + half, dataColumn,
                         dataColumn)),
      g_sameSheet);
  Text<Oper> trend;
  if (kind != FormulaKind::kStandard) {
    trend = ReferencePart(ReferenceText(Area(source, dataSheet, last - blankRows, last,
                                             dataColumn, dataColumn)),
                          g_sameSheet);
  }
  if (block.empty() || (kind != FormulaKind::kStandard && trend.empty())) return {};
  return BlockFormula(kind, n, block, trend);
}

// Enters a formula text into the formula cell, its references made relative
// in their rows. False when it is too long for the host to take; the cell
// then keeps its computed value.
template <HostRecord Oper>
bool EnterFormula(FormulaKind kind, const Text<Oper>& formula, Oper& formulaCell) {
  if (formula.empty()) return true;
  if (formula.size() > 255) return false;
  Counted text(formula);
  Oper textValue = TextValue<Oper>(text.text);
  Oper no = BooleanValue<Oper>(false);
  Oper relativeRows = NumberValue<Oper>(3);
  Answer<Oper> converted;
  if (!converted.Ask(xlfFormulaConvert, &textValue, &no, &no, &relativeRows, &formulaCell)) {
    return true;
  }
  if (TypeOf(converted.value) == xltypeStr) {
    int command = kind == FormulaKind::kNormalized
                      ? static_cast<int>(xlcFormulaArray) | static_cast<int>(xlIntl)
                      : static_cast<int>(xlcFormula) | static_cast<int>(xlIntl);
    HostCall(command, static_cast<Oper*>(nullptr), &converted.value, &formulaCell);
  }
  return true;
}

FormulaKind KindOf(const BlkColumnLayout& column, int normalization) {
  return !column.detrended ? FormulaKind::kStandard
         : normalization == kBlkNormalized ? FormulaKind::kNormalized
                                           : FormulaKind::kDetrended;
}

// The text of a title cell, "" when it holds none.
template <HostRecord Oper>
Text<Oper> TitleText(IDSHEET sheet, long row, long column) {
  RefRecordOf<Oper> cell;
  Oper wanted = IntegerValue<Oper>(xltypeStr);
  Answer<Oper> text;
  text.Ask(xlCoerce, &Area(cell, sheet, row, row, column, column), &wanted);
  return text.filled ? TextOf(text.value) : Text<Oper>();
}

template <typename Char>
std::basic_string<Char> ReferencePartOf(const std::basic_string<Char>& text, bool dropSheet) {
  if (!dropSheet) return text;
  std::size_t bang = text.rfind(Char{'!'});
  return bang == std::basic_string<Char>::npos ? text : text.substr(bang + 1);
}

template <typename Char>
std::basic_string<Char> BlockFormulaOf(FormulaKind kind, int n,
                                       const std::basic_string<Char>& block,
                                       const std::basic_string<Char>& trend) {
  auto a = [](const char* text) { return Ascii<Char>(text); };
  const bool averaged = n >= 7;
  if (kind == FormulaKind::kStandard) {
    return averaged ? a("=AVERAGE(") + block + a(")") : a("=") + block;
  }
  std::basic_string<Char> formula = averaged ? a("=(AVERAGE(") + block + a(")") : a("=(") + block;
  formula += a("-AVERAGE(") + trend + a("))");
  if (kind == FormulaKind::kNormalized) {
    // The live formula keeps its own tiny guard (1E-300); the computed rows
    // above it add 1e-10, so the two differ in about the tenth digit.
    formula += a("/(AVERAGE(ABS(") + trend + a("-AVERAGE(") + trend + a(")))+1E-300)");
  }
  return formula;
}

template <typename Char>
std::basic_string<Char> OverwriteMessageOf(const std::basic_string<Char>& area, int blankRows) {
  return Ascii<Char>("The range ") + area + Ascii<Char>(" will be overwritten. The first ") +
         Ascii<Char>(std::to_string(blankRows)) +
         Ascii<Char>(" rows of your output will be blank. \"OK\" continues. \"CANCEL\" "
                     "aborts.");
}

}  // namespace

void PrepareBlkRecords() {
  PrepareRef(g_dataRecord);
  PrepareRef(g_outputRecord);
  PrepareRef(g_titlesRecord);
  PrepareRef(g_clearRecord);
  PrepareRef(g_dataRecord12);
  PrepareRef(g_outputRecord12);
  PrepareRef(g_titlesRecord12);
  PrepareRef(g_clearRecord12);
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
  return ReferencePartOf(text, dropSheet);
}
std::basic_string<XCHAR> ReferencePart(const std::basic_string<XCHAR>& text, bool dropSheet) {
  return ReferencePartOf(text, dropSheet);
}

std::string BlockFormula(FormulaKind kind, int n, const std::string& block,
                         const std::string& trend) {
  return BlockFormulaOf(kind, n, block, trend);
}
std::basic_string<XCHAR> BlockFormula(FormulaKind kind, int n,
                                      const std::basic_string<XCHAR>& block,
                                      const std::basic_string<XCHAR>& trend) {
  return BlockFormulaOf(kind, n, block, trend);
}

std::string OverwriteMessage(const std::string& area, int blankRows) {
  return OverwriteMessageOf(area, blankRows);
}
std::basic_string<XCHAR> OverwriteMessage(const std::basic_string<XCHAR>& area,
                                          int blankRows) {
  return OverwriteMessageOf(area, blankRows);
}

// ---- Host checks --------------------------------------------------------------

template <HostRecord Oper>
bool TitlesAreText(const Oper& titlesRef, long count) {
  const auto* area = FirstArea(titlesRef);
  if (area == nullptr) return false;
  for (long k = 0; k < count; ++k) {
    long column = long{area->colFirst} + k;
    if (column >= SheetColumns<Oper>()) return false;
    RefRecordOf<Oper> cell;
    Answer<Oper> answer;
    if (!answer.Ask(xlfIsnontext, &Area(cell, titlesRef.val.mref.idSheet, area->rwFirst,
                                        area->rwFirst, column, column))) {
      return false;
    }
    if (IsTrue(answer.value)) return false;
  }
  return true;
}

namespace {

// A direct call's arguments, as the checks read them.
template <HostRecord Oper>
struct MacroArguments {
  const Oper* data;
  const Oper* output;
  const Oper* titles;
  int mnIndex;
  int method;
  int normalization;
  long dataColumns = 0;
  long lastOutput = 0;
};

template <HostRecord Oper>
bool IsReference(const Oper* value) {
  return value != nullptr && TypeOf(*value) == xltypeRef && FirstArea(*value) != nullptr &&
         value->val.mref.lpmref->count >= 1;
}

// The data's shape against the sample table, read once the settings passed.
template <HostRecord Oper>
bool DataHoldsTheBlock(MacroArguments<Oper>& a) {
  const auto& data = *FirstArea(*a.data);
  const auto& output = *FirstArea(*a.output);
  a.dataColumns = AreaColumnCount(data);
  a.lastOutput = long{output.colFirst} + BlkTotalColumns(a.dataColumns, a.mnIndex, a.method) - 1;
  const BlkSampleEntry& entry = BlkSampleTable[static_cast<std::size_t>(a.mnIndex)];
  return AreaRowCount(data) >= entry.n + entry.m / 2 + 2;
}

template <HostRecord Oper>
using Args = MacroArguments<Oper>;

template <HostRecord Oper>
constexpr CheckRow<Args<Oper>> kMacroChecks[] = {
    {[](Args<Oper>& a) { return IsReference(a.data); }, text::kImproperDataParameter, 0,
     false},
    {[](Args<Oper>& a) { return IsReference(a.output); }, text::kImproperOutputParameter, 0,
     false},
    {[](Args<Oper>& a) { return IsReference(a.titles); }, text::kBlkImproperTitles, 0, false},
    // Only one area is ever read: a compound reference would be cut short.
    {[](Args<Oper>& a) { return a.data->val.mref.lpmref->count == 1; }, text::kBlkCompound, 0,
     false},
    {nullptr, nullptr, 0, false,
     [](Args<Oper>& a) { return BlkSettingsRefusal(a.method, a.normalization, a.mnIndex); }},
    {[](Args<Oper>& a) { return !SheetProtected(*a.output); }, text::kOutputProtected, 0,
     false},
    // Two questions: OK goes on with the values given.
    {DataHoldsTheBlock<Oper>, text::kBlkTooGreat, 0, true},
    {[](Args<Oper>& a) { return a.lastOutput < SheetColumns<Oper>(); },
     text::kBlkTooManyColumns, 0, true},
    {[](Args<Oper>& a) {
       const auto& data = *FirstArea(*a.data);
       return a.data->val.mref.idSheet != a.output->val.mref.idSheet ||
              !OutputOverlapsInput(FirstArea(*a.output)->colFirst, a.lastOutput,
                                   data.colFirst, data.colLast);
     },
     text::kBlkOverwrite, 0, false},
    {[](Args<Oper>& a) {
       const auto& titles = *FirstArea(*a.titles);
       return titles.rwLast == titles.rwFirst;
     },
     text::kBlkTitlesOneRow, 0, false},
    {[](Args<Oper>& a) { return TitlesAreText(*a.titles, a.dataColumns); },
     text::kBlkTitlesText, 0, false},
};

}  // namespace

template <HostRecord Oper>
bool CheckBlokParameters(const Oper* dataRef, const Oper* outputRef, const Oper* titlesRef,
                         int mnIndex, int method, int normalization) {
  if (g_maxRows == 0) ReadMaxRows();
  if (g_versionRead == 0) ReadHostVersion();
  MacroArguments<Oper> arguments{dataRef, outputRef, titlesRef, mnIndex, method,
                                 normalization};
  return WalkDirectChecks<MacroArguments<Oper>>(kMacroChecks<Oper>, arguments);
}

// ---- The overwrite warning ----------------------------------------------------

template <HostRecord Oper>
int BlkOverwriteWarning(const Oper& outputRef, const Oper& titlesRef, const Oper& dataRef,
                        long totalColumns, int blankRows) {
  using Char = typename Interface<Oper>::Char;
  const auto* output = FirstArea(outputRef);
  const auto* titles = FirstArea(titlesRef);
  const auto* data = FirstArea(dataRef);
  if (output == nullptr || titles == nullptr || data == nullptr) return 0;
  // Every row the command clears or writes: the titles row and the data's
  // rows, whichever way round they lie.
  long top = std::min<long>(titles->rwFirst, data->rwFirst);
  long bottom = std::max<long>(titles->rwFirst, data->rwLast);
  long right = std::min<long>(long{output->colFirst} + totalColumns - 1,
                              SheetColumns<Oper>() - 1);
  RefRecordOf<Oper> area;
  Text<Oper> text = ReferenceText(Area(area, outputRef.val.mref.idSheet, top, bottom,
                                       output->colFirst, right));

  // The user reads the area in the notation the workspace uses. The host
  // converts formulas only, hence the "=" around the conversion.
  bool r1c1 = false;
  {
    Oper four = NumberValue<Oper>(4);
    Answer<Oper> style;
    if (style.Ask(xlfGetWorkspace, &four)) r1c1 = IsTrue(style.value);
  }
  if (!r1c1 && !text.empty() && text.size() < 255) {
    Counted formula(Ascii<Char>("=") + text);
    Oper formulaValue = TextValue<Oper>(formula.text);
    Oper no = BooleanValue<Oper>(false);
    Oper yes = BooleanValue<Oper>(true);
    Answer<Oper> converted;
    if (converted.Ask(xlfFormulaConvert, &formulaValue, &no, &yes)) {
      Text<Oper> a1 = TextOf(converted.value);
      if (a1.size() > 1 && a1[0] == Char{'='}) text = a1.substr(1);
    }
  }

  Text<Oper> message = OverwriteMessage(text, blankRows);
  auto* buffer = static_cast<Char*>(AllocGlobal((text.size() + 118 + 1) * sizeof(Char)));
  if (buffer == nullptr) {
    ShowInsufficientMemory();
    return 0;
  }
  std::size_t length = std::min<std::size_t>(
      {message.size(), text.size() + 117, std::size_t{255}});
  std::copy(message.data(), message.data() + length, buffer + 1);
  buffer[0] = static_cast<Char>(length);
  short answer = ShowAlert(buffer, kAlertQuestion);
  FreeGlobal(buffer);
  return answer;
}

// ---- The writer ---------------------------------------------------------------

template <HostRecord Oper>
MacroResult RunBlok(const Oper& dataRef, const Oper& outputRef, const Oper& titlesRef,
                    int mnIndex, int method, int normalization, const Oper* clearArea) {
  using Ref = typename Interface<Oper>::Ref;
  using Char = typename Interface<Oper>::Char;
  const Ref* dataArea = FirstArea(dataRef);
  const Ref* outputArea = FirstArea(outputRef);
  const Ref* titlesArea = FirstArea(titlesRef);
  if (dataArea == nullptr || outputArea == nullptr || titlesArea == nullptr) {
    return kMacroRefused;
  }
  const Ref data = *dataArea;
  const IDSHEET dataSheet = dataRef.val.mref.idSheet;
  const IDSHEET outputSheet = outputRef.val.mref.idSheet;
  const IDSHEET titlesSheet = titlesRef.val.mref.idSheet;
  const long outputFirst = outputArea->colFirst;
  const long titlesRow = titlesArea->rwFirst;
  // The titles' own columns, the ones their check tested.
  const long titlesFirst = titlesArea->colFirst;
  g_sameSheet = dataSheet == outputSheet;

  const long rows = AreaRowCount(data);
  const int dataColumns = static_cast<int>(AreaColumnCount(data));
  std::vector<BlkColumnLayout> plan =
      BlkOutputPlan(dataColumns, BlkSettings{mnIndex, method, normalization});
  const int blank = BlkBlankRows(mnIndex);
  // Nothing to compute (a direct call told about it went on anyway).
  if (plan.empty() || rows <= blank) return kMacroRefused;
  // Never past the sheet's last column.
  const long room = SheetColumns<Oper>() - outputFirst;
  if (static_cast<long>(plan.size()) > room) plan.resize(static_cast<std::size_t>(room));
  const long total = static_cast<long>(plan.size());
  const long valueRows = rows - blank;

  // Every buffer first: a run that cannot have them writes nothing. They go
  // back on every way out, a C++ allocation that fails on the way included.
  struct Buffers {
    double* x = nullptr;
    double* values = nullptr;
    Oper* cells = nullptr;
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
  auto* cells = buffers.cells = static_cast<Oper*>(
      AllocGlobal(sizeof(Oper) * std::min<long>(valueRows, kChunkCells)));
  if (x == nullptr || values == nullptr || cells == nullptr) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
  // Every title and formula text too, so that running out of memory for
  // one never leaves half the columns written.
  std::vector<Text<Oper>> titles(plan.size()), formulas(plan.size());
  {
    Text<Oper> title;
    int column = -1;
    for (std::size_t j = 0; j < plan.size(); ++j) {
      const BlkColumnLayout& layout = plan[j];
      if (layout.dataColumn != column) {
        column = layout.dataColumn;
        title = TitleText<Oper>(titlesSheet, titlesRow, titlesFirst + column);
      }
      titles[j] = title + Ascii<Char>(layout.suffix);
      formulas[j] = FormulaText<Oper>(KindOf(layout, normalization), layout.n, layout.m, blank,
                                      data, dataSheet, data.colFirst + column);
    }
  }
  if (clearArea != nullptr) {
    GoTo(*clearArea);
    HostCall(xlcClear, static_cast<Oper*>(nullptr));
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
      RefRecordOf<Oper> dataColumn;
      Area(dataColumn, dataSheet, data.rwFirst, data.rwLast, data.colFirst + currentColumn,
           data.colFirst + currentColumn);
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
    RefRecordOf<Oper> outputColumn;
    GoTo(Area(outputColumn, outputSheet, data.rwFirst, data.rwLast, target, target));
    Oper format = TextValue<Oper>(NumberFormat<Char>());
    HostCall(xlcFormatNumber, static_cast<Oper*>(nullptr), &format);
    if (!WriteNumbers(outputSheet,
                      MakeArea<Ref>(long{data.rwFirst} + blank, data.rwLast, target, target),
                      values, cells)) {
      result = kMacroRefused;
      break;
    }

    RefRecordOf<Oper> titleCell;
    Counted titleText(titles[j]);
    Oper titleValue = TextValue<Oper>(titleText.text);
    HostCall(xlSet, static_cast<Oper*>(nullptr),
             &Area(titleCell, outputSheet, titlesRow, titlesRow, target, target), &titleValue);

    RefRecordOf<Oper> formulaCell;
    if (!EnterFormula(KindOf(column, normalization), formulas[j],
                      Area(formulaCell, outputSheet, data.rwLast, data.rwLast, target,
                           target))) {
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
    RefRecordOf<Oper> titleRow;
    FormatTitleRow(Area(titleRow, outputSheet, titlesRow, titlesRow, outputFirst,
                        outputFirst + written - 1));
  }
  return result;
}

namespace {

int BlkCompute() {
  if (WideHost()) {
    return Blok12(&g_dataRecord12.value, &g_outputRecord12.value, &g_titlesRecord12.value,
                  g_mnIndex, g_method, g_normalization);
  }
  return Blok(&g_dataRecord.value, &g_outputRecord.value, &g_titlesRecord.value, g_mnIndex,
              g_method, g_normalization);
}

// The first value written: the output's first column, U rows into the data.
template <HostRecord Oper>
void SelectOutput() {
  const BlkRecords<Oper> records = Records<Oper>();
  const auto* data = FirstArea(records.data.value);
  const auto* output = FirstArea(records.output.value);
  SelectCell(records.output.value.val.mref.idSheet,
             static_cast<decltype(data->rwFirst)>(data->rwFirst + BlkBlankRows(g_mnIndex)),
             output->colFirst);
}

// The macro's body through either interface.
template <HostRecord Oper>
int RunMacroCall(Oper* dataRef, Oper* outputRef, Oper* titlesRef, int mnIndex, int method,
                 int normalization) {
  bool fromCommand = g_dialogChecked;
  g_dialogChecked = false;
  if (!fromCommand && !CheckBlokParameters<Oper>(dataRef, outputRef, titlesRef, mnIndex,
                                                 method, normalization)) {
    return kMacroRefused;
  }
  if (dataRef == nullptr || outputRef == nullptr || titlesRef == nullptr) {
    return kMacroRefused;
  }
  // Texts and the column plan are C++ containers: running out of memory
  // for them ends the run here, never in the host.
  try {
    return RunBlok<Oper>(*dataRef, *outputRef, *titlesRef, mnIndex, method, normalization,
                         fromCommand ? &Records<Oper>().clear.value : nullptr);
  } catch (const std::bad_alloc&) {
    ShowInsufficientMemory();
    return kMacroRefused;
  }
}

}  // namespace

template bool TitlesAreText(const XLOPER&, long);
template bool TitlesAreText(const XLOPER12&, long);
template bool CheckBlokParameters(const XLOPER*, const XLOPER*, const XLOPER*, int, int, int);
template bool CheckBlokParameters(const XLOPER12*, const XLOPER12*, const XLOPER12*, int, int,
                                  int);
template int BlkOverwriteWarning(const XLOPER&, const XLOPER&, const XLOPER&, long, int);
template int BlkOverwriteWarning(const XLOPER12&, const XLOPER12&, const XLOPER12&, long, int);
template MacroResult RunBlok(const XLOPER&, const XLOPER&, const XLOPER&, int, int, int,
                             const XLOPER*);
template MacroResult RunBlok(const XLOPER12&, const XLOPER12&, const XLOPER12&, int, int, int,
                             const XLOPER12*);

}  // namespace hvt::blk

using namespace hvt;
using namespace hvt::blk;

extern "C" HVT_EXPORT int WINAPI Blok(LPXLOPER dataRef, LPXLOPER outputRef,
                                      LPXLOPER titlesRef, int mnIndex,
                                      int method, int normalization) {
  return RunMacroCall(dataRef, outputRef, titlesRef, mnIndex, method, normalization);
}

extern "C" HVT_EXPORT int WINAPI Blok12(LPXLOPER12 dataRef, LPXLOPER12 outputRef,
                                        LPXLOPER12 titlesRef, int mnIndex, int method,
                                        int normalization) {
  return RunMacroCall(dataRef, outputRef, titlesRef, mnIndex, method, normalization);
}

extern "C" HVT_EXPORT int WINAPI BlokWrapper(void) {
  using namespace hvt::blk;
  hvt::CommandSteps steps{hvt::text::kBlkAborted, BlkDialogs, BlkCompute,
                          hvt::ThroughHostInterface<SelectOutput<XLOPER>, SelectOutput<XLOPER12>>};
  return hvt::RunCommandFrame(steps);
}
