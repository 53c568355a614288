// The BLK command's dialogs and checks: the main dialog with its height
// switch, the sample-size dialog with its dimmed options, every check of the
// user's entries, the overwrite warning and the clearing of the output area
// before the writer runs.
#include "tools/blk/blk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "command/checks.h"
#include "command/column.h"
#include "host/command_frame.h"
#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/messages.h"
#include "host/references.h"
#include "host/texts.h"
#include "host/tool_tables.h"
#include "tools/blk/core/blk.h"

namespace hvt::blk {

// Answer elements (7 x item + 6) of the main dialog.
constexpr std::size_t kBoxHeight = DialogCell(0, kItemHeight);
constexpr std::size_t kFocus = DialogCell(0, kItemValue);
constexpr std::size_t kTitlesField = DialogCell(2, kItemValue);
constexpr std::size_t kDataField = DialogCell(4, kItemValue);
constexpr std::size_t kOutputField = DialogCell(6, kItemValue);
constexpr std::size_t kStandardBox = DialogCell(10, kItemValue);
constexpr std::size_t kDetrendedBox = DialogCell(11, kItemValue);
constexpr std::size_t kNormalizationGroup = DialogCell(13, kItemValue);
constexpr short kDetrendedItem = 11;
// The sample dialog's option group and its first option row.
constexpr std::size_t kSampleGroup = DialogCell(2, kItemValue);
constexpr std::size_t kFirstOptionRow = 3;

namespace {


bool HoldsAnswer(const XLOPER& answer, std::size_t rows) {
  return BaseType(answer) == xltypeMulti && answer.val.array.lparray != nullptr &&
         static_cast<std::size_t>(answer.val.array.rows) == rows &&
         answer.val.array.columns == kDialogColumns;
}

// A number cell of an answer, truncated; `fallback` for anything else.
int AnswerInteger(XLOPER& answer, std::size_t element, int fallback) {
  XLOPER* cell = DialogArrayCell(answer, element);
  if (cell == nullptr) return fallback;
  switch (BaseType(*cell)) {
    case xltypeNum:
      if (!std::isfinite(cell->val.num) || std::fabs(cell->val.num) > 1e6) {
        return fallback;
      }
      return static_cast<int>(std::trunc(cell->val.num));
    case xltypeInt: return cell->val.w;
    case xltypeBool: return cell->val.xbool != 0 ? 1 : 0;
    default: return fallback;
  }
}

bool Ticked(XLOPER& answer, std::size_t element) {
  return AnswerInteger(answer, element, 0) != 0;
}

// The answer's focus cell as a number the alert box can set; nullptr when
// it holds a text (an item named by its text keeps the focus).
double* FocusCell(XLOPER& answer) {
  XLOPER* cell = DialogArrayCell(answer, kFocus);
  if (cell == nullptr || BaseType(*cell) == xltypeStr) return nullptr;
  if (BaseType(*cell) != xltypeNum) {
    cell->xltype = xltypeNum;
    cell->val.num = 0;
  }
  return &cell->val.num;
}

// Shows a dialog from `definition`; its answer replaces `remembered`. False
// when the dialog was cancelled or could not be shown.
bool ShowAndRemember(XLOPER& definition, XLOPER& remembered, std::size_t rows) {
  int code = xlretSuccess;
  // The old answer may be the definition just shown: released only now.
  TakenAnswer taken = ShowDialog(definition, remembered, code);
  if (code != xlretSuccess) {
    ForgetDialogAnswer(remembered);
    return false;
  }
  if (taken == TakenAnswer::kNoMemory) {
    ShowInsufficientMemory();
    return false;
  }
  if (!HoldsAnswer(remembered, rows)) {
    ForgetDialogAnswer(remembered);
    return false;
  }
  return true;
}

// Grows or shrinks the remembered main dialog as the Detrended box says.
void SwitchHeight(bool detrended) {
  XLOPER* height = DialogArrayCell(g_mainAnswer, kBoxHeight);
  if (height == nullptr) return;
  if (BaseType(*height) == xltypeStr && height->val.str != nullptr &&
      CountedLength(height->val.str) >= 2) {
    height->val.str[1] = detrended ? '3' : '2';
    height->val.str[2] = detrended ? '5' : '7';
  } else if (BaseType(*height) != xltypeStr) {
    height->xltype = xltypeNum;
    height->val.num = detrended ? 350 : 270;
  }
  if (!detrended) CallExcel(xlfEcho, nullptr, 1, TempBoolean(1));
}

// Dims the options the detrending rules out and preselects one.
void PrepareSampleDialog(bool detrended, int normalization, int previous) {
  SampleChoice choice = ChooseSampleOptions(detrended, normalization, previous);
  for (int k = 0; k < kBlkMaxIndex; ++k) {
    char* type = g_sampleDialog[kFirstOptionRow + k].text[kItemType];
    std::snprintf(type + 1, kDialogTextSize - 1, "%s", k < choice.dimmed ? "212" : "12");
    SetCountedLength(type);
  }
  char* preselected = g_sampleDialog[2].text[kItemValue];
  std::snprintf(preselected + 1, kDialogTextSize - 1, "%d", choice.preselected);
  SetCountedLength(preselected);
}

// How far the titles box was read: a reference, then one row of it.
enum class TitlesRead { kMissing, kNotOneRow, kRead };

// Whether a reference text names its sheet ("Sheet!R1", "[Book]Sheet!A1").
bool NamesSheet(const XLOPER& text) {
  return BaseType(text) == xltypeStr && text.val.str != nullptr &&
         std::memchr(text.val.str + 1, '!', CountedLength(text.val.str)) != nullptr;
}

// Reads the titles box into the titles record: a reference of one row.
template <HostRecord Oper>
TitlesRead ReadTitles() {
  const BlkRecords<Oper> records = Records<Oper>();
  XLOPER* text = DialogArrayCell(g_mainAnswer, kTitlesField);
  Oper titles{};
  if (text == nullptr || !TextToReference(titles, text)) return TitlesRead::kMissing;
  const DWORD type = TypeOf(titles);
  if (type != xltypeRef && type != xltypeSRef) {
    GiveBack(titles);
    return TitlesRead::kMissing;
  }
  const auto* dataArea = FirstArea(records.data.value);
  const auto area = type == xltypeSRef ? titles.val.sref.ref
                                       : titles.val.mref.lpmref->reftbl[0];
  bool oneArea = type == xltypeSRef || titles.val.mref.lpmref->count == 1;
  if (!oneArea || area.rwLast != area.rwFirst) {
    GiveBack(titles);
    return TitlesRead::kNotOneRow;
  }
  if (type == xltypeSRef || (std::is_same_v<Oper, XLOPER12> && !NamesSheet(*text))) {
    // A row of this sheet: the data's sheet, the titles' row, the data's
    // columns. (The 12-series answers a text without a sheet with a
    // reference on the active sheet rather than a single reference.)
    SetRecord(records.titles, records.data.value.val.mref.idSheet,
              MakeArea<typename Interface<Oper>::Ref>(area.rwFirst, area.rwLast,
                                                      dataArea->colFirst,
                                                      dataArea->colLast));
  } else {
    CopyRef(titles, records.titles.value);
  }
  GiveBack(titles);
  return TitlesRead::kRead;
}

// What the main dialog's checks read; a titles box that failed one check
// is not tested by the later ones.
struct MainPass {
  TitlesRead titles = TitlesRead::kMissing;
};

bool BlockTypeChosen(MainPass&) {
  bool standard = Ticked(g_mainAnswer, kStandardBox);
  bool detrended = Ticked(g_mainAnswer, kDetrendedBox);
  if (!standard && !detrended) return false;
  g_method = !detrended ? kBlkStandardOnly
             : standard ? kBlkStandardAndDetrended
                        : kBlkDetrendedOnly;
  return true;
}

template <HostRecord Oper>
constexpr CheckRow<MainPass> kMainChecks[] = {
    {[](MainPass&) { return Records<Oper>().data.table.count == 1; }, text::kBlkCompound, 4,
     false},
    {[](MainPass& pass) {
       pass.titles = ReadTitles<Oper>();
       return pass.titles != TitlesRead::kMissing;
     },
     text::kBlkTitlesMissing, 2, true},
    {[](MainPass& pass) { return pass.titles != TitlesRead::kNotOneRow; },
     text::kBlkTitlesOneRow, 2, true},
    {[](MainPass& pass) {
       return pass.titles != TitlesRead::kRead ||
              TitlesAreText(Records<Oper>().titles.value, g_dataColumns);
     },
     text::kBlkTitlesText, 2, true},
    {[](MainPass&) {
       Oper& data = Records<Oper>().data.value;
       return !CoversWholeColumns(data) || FindDataExtent(data) != 0;
     },
     text::kNoNumbersInAColumn, 4, true},
    {BlockTypeChosen, text::kBlkNoBlockType, 10, true},
    {[](MainPass&) { return !SheetProtected(Records<Oper>().output.value); },
     text::kBlkUnprotectedOutput, 6, true},
};

// What the sample dialog's checks read. An output over the data sends the
// user back to the main dialog; the other checks ask, and their OK offers
// the sample dialog again.
template <HostRecord Oper>
struct SamplePass {
  using Ref = typename Interface<Oper>::Ref;
  long rows;
  const BlkSampleEntry& entry;
  long lastOutput;
  Ref data;
  Ref output;
  bool backToMain = false;
};

template <HostRecord Oper>
constexpr CheckRow<SamplePass<Oper>> kSampleChecks[] = {
    {[](SamplePass<Oper>& p) { return p.rows >= p.entry.n + p.entry.m / 2 + 2; },
     text::kBlkTooGreat, 0, true},
    {[](SamplePass<Oper>& p) { return p.lastOutput < SheetColumns<Oper>(); },
     text::kBlkTooManyColumns, 0, true},
    {[](SamplePass<Oper>& p) {
       p.backToMain = g_sameSheet && OutputOverlapsInput(p.output.colFirst, p.lastOutput,
                                                         p.data.colFirst, p.data.colLast);
       return !p.backToMain;
     },
     text::kBlkOverwrite, 6, false},
};

enum class SampleOutcome { kRun, kMainAgain, kEnd };

template <HostRecord Oper>
SampleOutcome SampleLoop() {
  using Ref = typename Interface<Oper>::Ref;
  const BlkRecords<Oper> records = Records<Oper>();
  bool detrended = Ticked(g_mainAnswer, kDetrendedBox);
  g_normalization = AnswerInteger(g_mainAnswer, kNormalizationGroup, kBlkNormalized);
  if (g_normalization != kBlkNotNormalized) g_normalization = kBlkNormalized;
  int previous = 0;
  if (HoldsAnswer(g_sampleAnswer, std::size(g_sampleDialog))) {
    previous = AnswerInteger(g_sampleAnswer, kSampleGroup, 0);
  }
  ForgetDialogAnswer(g_sampleAnswer);
  PrepareSampleDialog(detrended, g_normalization, previous);

  const Ref data = *FirstArea(records.data.value);
  const Ref output = *FirstArea(records.output.value);
  const long rows = AreaRowCount(data);
  bool fromAnswer = false;
  for (;;) {
    if (!ShowAndRemember(fromAnswer ? g_sampleAnswer : g_sampleArray,
                         g_sampleAnswer, std::size(g_sampleDialog))) {
      return SampleOutcome::kEnd;
    }
    fromAnswer = true;
    g_mnIndex = AnswerInteger(g_sampleAnswer, kSampleGroup, 0);
    // Only an option the dialog offered can run.
    if (BlkCheckSettings({g_mnIndex, g_method, g_normalization}) != BlkSettingsFault::kNone) {
      continue;
    }
    const BlkSampleEntry& entry = BlkSampleTable[static_cast<std::size_t>(g_mnIndex)];
    const int blank = BlkBlankRows(g_mnIndex);
    const long total = static_cast<long>(BlkTotalColumns(g_dataColumns, g_mnIndex, g_method));
    const long lastOutput = long{output.colFirst} + total - 1;
    SamplePass<Oper> pass{rows, entry, lastOutput, data, output};
    CheckPass checked =
        WalkAlertChecks<SamplePass<Oper>>(kSampleChecks<Oper>, pass, FocusCell(g_mainAnswer));
    if (checked == kGiveUp) return SampleOutcome::kEnd;
    if (checked == kShowAgain) {
      if (pass.backToMain) return SampleOutcome::kMainAgain;
      continue;
    }
    if (BlkOverwriteWarning(records.output.value, records.titles.value, records.data.value,
                            total, blank) == 0) {
      return SampleOutcome::kEnd;
    }
    // What the writer clears first: the titles row down to the first value.
    const long titlesRow = FirstArea(records.titles.value)->rwFirst;
    const long firstValue = long{data.rwFirst} + blank;
    SetRecord(records.clear, records.output.value.val.mref.idSheet,
              MakeArea<Ref>(std::min(titlesRow, firstValue), std::max(titlesRow, firstValue),
                            output.colFirst,
                            std::min<long>(lastOutput, SheetColumns<Oper>() - 1)));
    g_dialogChecked = true;
    return SampleOutcome::kRun;
  }
}

// The main dialog's answer resolved and checked in the records of the
// interface the command runs on, then the sample dialog.
template <HostRecord Oper>
SampleOutcome MainAccepted(double* focus, bool& again) {
  const BlkRecords<Oper> records = Records<Oper>();
  again = false;
  XLOPER* dataText = DialogArrayCell(g_mainAnswer, kDataField);
  XLOPER* outputText = DialogArrayCell(g_mainAnswer, kOutputField);
  double unused = 0;
  int resolved = ResolveReferences(*dataText, *outputText, 4, 6,
                                   focus != nullptr ? focus : &unused,
                                   records.data.value, records.output.value);
  if (resolved == kResolveEnd) return SampleOutcome::kEnd;
  if (resolved != kResolved) {
    again = true;
    return SampleOutcome::kMainAgain;
  }

  g_sameSheet = records.data.value.val.mref.idSheet == records.output.value.val.mref.idSheet;
  const auto* data = FirstArea(records.data.value);
  g_dataColumns = static_cast<WORD>(AreaColumnCount(*data));

  MainPass pass;
  CheckPass checked = WalkDialogChecks<MainPass>(kMainChecks<Oper>, pass, focus);
  if (checked == kGiveUp) return SampleOutcome::kEnd;
  if (checked == kShowAgain) {
    again = true;
    return SampleOutcome::kMainAgain;
  }
  return SampleLoop<Oper>();
}

}  // namespace

int BlkDialogs() {
  if (g_mainArray.val.array.lparray == nullptr ||
      g_sampleArray.val.array.lparray == nullptr) {
    return kStepEnd;  // the tool did not open
  }
  g_dialogChecked = false;
  bool prefilled =
      PrefillReferenceField(g_mainArray, kDataField, 6, g_mainAnswer, /*twelveSeries=*/true) == 1;
  for (;;) {
    bool remembered = HoldsAnswer(g_mainAnswer, std::size(g_mainDialog));
    bool shown = ShowAndRemember(remembered ? g_mainAnswer : g_mainArray,
                                 g_mainAnswer, std::size(g_mainDialog));
    if (prefilled) {
      RestoreReferenceField(g_mainArray, kDataField,
                            g_mainDialog[0].text[kItemValue],
                            g_mainDialog[4].text[kItemValue]);
      prefilled = false;
    }
    if (!shown) return kStepEnd;

    if (AnswerInteger(g_mainAnswer, kFocus, 0) == kDetrendedItem) {
      SwitchHeight(Ticked(g_mainAnswer, kDetrendedBox));
      continue;
    }
    bool again = false;
    double* focus = FocusCell(g_mainAnswer);
    SampleOutcome sample = WideHost() ? MainAccepted<XLOPER12>(focus, again)
                                      : MainAccepted<XLOPER>(focus, again);
    if (again) continue;
    if (sample == SampleOutcome::kEnd) return kStepEnd;
    if (sample == SampleOutcome::kRun) return kStepGoOn;
  }
}

}  // namespace hvt::blk
