// The BLK command's dialogs and checks: the main dialog with its height
// switch, the sample-size dialog with its dimmed options, every check of the
// user's entries, the overwrite warning and the clearing of the output area
// before the writer runs.
#include "tools/blk/blk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

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
  XLOPER answer{};
  // The old answer may be the definition just shown: released only now.
  if (Excel4(xlfDialogBox, &answer, 1, &definition) != xlretSuccess) {
    ForgetDialogAnswer(remembered);
    return false;
  }
  if (TakeDialogAnswer(answer, remembered) == TakenAnswer::kNoMemory) {
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

// The titles row: a reference of one row whose cells hold text.
int CheckTitles(double* focus, bool& failed) {
  auto fail = [&](const char* message) {
    failed = true;
    return ShowAlertDialog(message, 2, focus) == 1 ? 1 : 0;
  };
  XLOPER* text = DialogArrayCell(g_mainAnswer, kTitlesField);
  XLOPER titles{};
  if (text == nullptr || !TextToReference(titles, text)) {
    return fail(text::kBlkTitlesMissing);
  }
  WORD type = BaseType(titles);
  if (type != xltypeRef && type != xltypeSRef) {
    ReleaseHostValue(titles);
    return fail(text::kBlkTitlesMissing);
  }
  const XLREF* dataArea = FirstArea(g_dataRecord.value);
  XLREF area = type == xltypeSRef ? titles.val.sref.ref
                                  : titles.val.mref.lpmref->reftbl[0];
  bool oneArea = type == xltypeSRef || titles.val.mref.lpmref->count == 1;
  if (!oneArea || area.rwLast != area.rwFirst) {
    ReleaseHostValue(titles);
    return fail(text::kBlkTitlesOneRow);
  }
  if (type == xltypeSRef) {
    // A row of this sheet: the data's sheet, the titles' row, the data's
    // columns.
    PrepareRef(g_titlesRecord);
    g_titlesRecord.value.val.mref.idSheet = g_dataRecord.value.val.mref.idSheet;
    g_titlesRecord.table.reftbl[0] =
        XLREF{area.rwFirst, area.rwLast, dataArea->colFirst, dataArea->colLast};
  } else {
    CopyRef(titles, g_titlesRecord.value);
  }
  ReleaseHostValue(titles);
  if (!TitlesAreText(g_titlesRecord.value, g_dataColumns)) {
    return fail(text::kBlkTitlesText);
  }
  return 1;
}

enum class MainOutcome { kAccepted, kAgain, kEnd };

// Checks of one showing of the main dialog.
MainOutcome CheckMainAnswer() {
  double* focus = FocusCell(g_mainAnswer);
  if (g_dataRecord.table.count != 1) {
    return ShowAlertDialog(text::kBlkCompound,
                           4, focus) == 1
               ? MainOutcome::kAgain
               : MainOutcome::kEnd;
  }
  bool failed = false;
  if (CheckTitles(focus, failed) == 0) return MainOutcome::kEnd;
  if (CoversWholeColumns(g_dataRecord.value) &&
      FindDataExtent(g_dataRecord.value) == 0) {
    failed = true;
    if (ShowAlertDialog(text::kNoNumbersInAColumn, 4,
                        focus) != 1) {
      return MainOutcome::kEnd;
    }
  }
  bool standard = Ticked(g_mainAnswer, kStandardBox);
  bool detrended = Ticked(g_mainAnswer, kDetrendedBox);
  if (!standard && !detrended) {
    failed = true;
    if (ShowAlertDialog(text::kBlkNoBlockType,
                        10, focus) != 1) {
      return MainOutcome::kEnd;
    }
  } else {
    g_method = !detrended ? kBlkStandardOnly
               : standard ? kBlkStandardAndDetrended
                          : kBlkDetrendedOnly;
  }
  if (OutputSheetProtected(g_outputRecord.value)) {
    failed = true;
    if (ShowAlertDialog(text::kBlkUnprotectedOutput, 6,
                        focus) != 1) {
      return MainOutcome::kEnd;
    }
  }
  return failed ? MainOutcome::kAgain : MainOutcome::kAccepted;
}

enum class SampleOutcome { kRun, kMainAgain, kEnd };

SampleOutcome SampleLoop() {
  bool detrended = Ticked(g_mainAnswer, kDetrendedBox);
  g_normalization = AnswerInteger(g_mainAnswer, kNormalizationGroup, kBlkNormalized);
  if (g_normalization != kBlkNotNormalized) g_normalization = kBlkNormalized;
  int previous = 0;
  if (HoldsAnswer(g_sampleAnswer, std::size(g_sampleDialog))) {
    previous = AnswerInteger(g_sampleAnswer, kSampleGroup, 0);
  }
  ForgetDialogAnswer(g_sampleAnswer);
  PrepareSampleDialog(detrended, g_normalization, previous);

  const XLREF data = *FirstArea(g_dataRecord.value);
  const XLREF output = *FirstArea(g_outputRecord.value);
  const long rows = long{data.rwLast} - data.rwFirst + 1;
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
    bool failed = false;
    if (rows < entry.n + entry.m / 2 + 2) {
      if (ShowMessage(text::kBlkTooGreat + 1,
                      kAlertQuestion) == 0) {
        return SampleOutcome::kEnd;
      }
      failed = true;
    }
    if (lastOutput > 255) {
      if (ShowMessage(text::kBlkTooManyColumns + 1,
                      kAlertQuestion) == 0) {
        return SampleOutcome::kEnd;
      }
      failed = true;
    }
    if (g_sameSheet &&
        OutputOverlapsInput(output.colFirst, lastOutput, data.colFirst, data.colLast)) {
      ShowMessage(text::kBlkOverwrite + 1,
                  kAlertError);
      if (double* focus = FocusCell(g_mainAnswer)) *focus = 6;
      return SampleOutcome::kMainAgain;
    }
    if (failed) continue;
    if (BlkOverwriteWarning(g_outputRecord.value, g_titlesRecord.value,
                            g_dataRecord.value, total, blank) == 0) {
      return SampleOutcome::kEnd;
    }
    // What the writer clears first: the titles row down to the first value.
    const long titlesRow = FirstArea(g_titlesRecord.value)->rwFirst;
    const long firstValue = long{data.rwFirst} + blank;
    PrepareRef(g_clearRecord);
    g_clearRecord.value.val.mref.idSheet = g_outputRecord.value.val.mref.idSheet;
    g_clearRecord.table.reftbl[0] = XLREF{
        static_cast<WORD>(std::min(titlesRow, firstValue)),
        static_cast<WORD>(std::max(titlesRow, firstValue)), output.colFirst,
        static_cast<BYTE>(std::min<long>(lastOutput, 255))};
    g_dialogChecked = true;
    return SampleOutcome::kRun;
  }
}

}  // namespace

int BlkDialogs() {
  if (g_mainArray.val.array.lparray == nullptr ||
      g_sampleArray.val.array.lparray == nullptr) {
    return 0;  // the tool did not open
  }
  g_dialogChecked = false;
  bool prefilled = PrefillReferenceField(g_mainArray, kDataField, 6, g_mainAnswer) == 1;
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
    if (!shown) return 0;

    if (AnswerInteger(g_mainAnswer, kFocus, 0) == kDetrendedItem) {
      SwitchHeight(Ticked(g_mainAnswer, kDetrendedBox));
      continue;
    }
    XLOPER* dataText = DialogArrayCell(g_mainAnswer, kDataField);
    XLOPER* outputText = DialogArrayCell(g_mainAnswer, kOutputField);
    double* focus = FocusCell(g_mainAnswer);
    double unused = 0;
    int resolved = ResolveReferences(*dataText, *outputText, 4, 6,
                                     focus != nullptr ? focus : &unused,
                                     g_dataRecord.value, g_outputRecord.value);
    if (resolved == kResolveEnd) return 0;
    if (resolved != kResolved) continue;

    g_sameSheet = g_dataRecord.value.val.mref.idSheet ==
                  g_outputRecord.value.val.mref.idSheet;
    const XLREF* data = FirstArea(g_dataRecord.value);
    g_dataColumns = static_cast<WORD>(data->colLast - data->colFirst + 1);

    MainOutcome checked = CheckMainAnswer();
    if (checked == MainOutcome::kEnd) return 0;
    if (checked == MainOutcome::kAgain) continue;

    SampleOutcome sample = SampleLoop();
    if (sample == SampleOutcome::kEnd) return 0;
    if (sample == SampleOutcome::kRun) return 1;
  }
}

}  // namespace hvt::blk
