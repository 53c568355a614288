// The BLK tool's tables, hooks and menu command: the main dialog with its
// height switch, the sample-size dialog with its dimmed options, every check
// of the user's entries, the overwrite warning and the clearing of the
// output area before the writer runs.
#include "tools/blk/blk_tool.h"

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
#include "host/tool_tables.h"
#include "tools/blk/blk_command.h"
#include "tools/blk/core/blk_block.h"

namespace hvt {

namespace blk {

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

RegistrationRow g_blkRows[] = {
    {{" BlokWrapper", " J", " BlokSamp_2", " ", " 2", " HVT", " w"}},
    {{" Blok", " JRRRJJJ", " BlokMacro",
      " DataRef,OutputRef,TitRef,MNIndex,PChoice,NormOrDet", " 2", " HVT",
      " "}},
};

MenuBlock g_blkMenu = {{
    {" -", " ", " ", " ", " "},
    {" BLK 2                       Alt,d,&w", " BlokSamp_2", " ", " BlokSamp 2",
     " "},
}};

DialogRow g_mainDialog[] = {
    {{" ", " 189", " 36", " 310", " 270", " BlokSamp 2", " 4"}},
    {{" 5", " 13", " 54", " ", " ", " Data &Titles Row:", " "}},
    {{" 10", " 13", " 69", " 275", " ", " ", " R1:R1"}},
    {{" 5", " 13", " 97", " ", " ", " &Data Reference:", " "}},
    {{" 10", " 13", " 113", " 275", " ", " ", " "}},
    {{" 5", " 13", " 137", " ", " ", " &First Column to Write to :", " "}},
    {{" 10", " 13", " 153", " 275", " ", " ", " "}},
    {{" 1", " 50", " 20", " 88", " ", " &OK", " "}},
    {{" 2", " 170", " 20", " 88", " 19", " &Cancel", " "}},
    {{" 14", " 89", " 190", " 129", " 56", " Blocks", " "}},
    {{" 13", " ", " ", " ", " ", " &Standard", " 1"}},
    {{" 113", " ", " ", " ", " ", " Det&rended", " "}},
    {{" 14", " 46", " 271", " 224", " 56", " Detrended Blocks", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 1"}},
    {{" 12", " ", " ", " ", " ", " &Normalized Detrended", " "}},
    {{" 12", " ", " ", " ", " ", " Detr&ended Only", " "}},
};

DialogRow g_sampleDialog[] = {
    {{" ", " ", " 25", " 282", " 374", " Block Preprossessing", " 2"}},
    {{" 14", " 29", " 36", " 149", " 328", " Select One", " "}},
    {{" 11", " ", " ", " ", " ", " ", " 6"}},
    {{" 12", " ", " ", " ", " ", " n=1,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=2,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=3,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=4,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=5,    M=0", " "}},
    {{" 12", " ", " ", " ", " ", " n=7,    M=2", " "}},
    {{" 12", " ", " ", " ", " ", " n=10,  M=2", " "}},
    {{" 12", " ", " ", " ", " ", " n=14,  M=4", " "}},
    {{" 12", " ", " ", " ", " ", " n=19,  M=4", " "}},
    {{" 12", " ", " ", " ", " ", " n=26,  M=8", " "}},
    {{" 12", " ", " ", " ", " ", " n=35,  M=8", " "}},
    {{" 12", " ", " ", " ", " ", " n=48,  M=16", " "}},
    {{" 12", " ", " ", " ", " ", " n=65,  M=16", " "}},
    {{" 12", " ", " ", " ", " ", " n=90,  M=32", " "}},
    {{" 12", " ", " ", " ", " ", " n=123, M=32", " "}},
    {{" 12", " ", " ", " ", " ", " n=172, M=64", " "}},
    {{" 12", " ", " ", " ", " ", " n=237, M=64", " "}},
    {{" 12", " ", " ", " ", " ", " n=334, M=128", " "}},
    {{" 5", " 20", " 15", " 182", " 17", " \"n\" and \"M\" VALUES", " "}},
    {{" 17", " 205", " 20", " 53", " 37", " 1", " "}},
    {{" 1", " 200", " 88", " 66", " 29", " &OK", " "}},
    {{" 2", " 200", " 139", " 66", " 29", " &Cancel", " "}},
};

XLOPER g_mainArray;
XLOPER g_sampleArray;
XLOPER g_mainAnswer;
XLOPER g_sampleAnswer;

// The settings of the last command.
int g_mnIndex = 0;
int g_method = 0;
int g_normalization = 0;
WORD g_dataColumns = 0;

namespace {

char g_abortMessage[] = " BlokSamp 2 Aborted!";

ToolTables g_blkTables = {
    .rows = g_blkRows,
    .rowCount = std::size(g_blkRows),
    .menu = &g_blkMenu,
    .dialog = g_mainDialog,
    .dialogRows = std::size(g_mainDialog),
    .dialogArray = &g_mainArray,
    .remembered = &g_mainAnswer,
};


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
// the host put text there (it is the host's to free).
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
  XLOPER answer;
  if (Excel4(xlfDialogBox, &answer, 1, &definition) != xlretSuccess) {
    answer.xltype = xltypeBool;
    answer.val.xbool = 0;
  }
  // The old answer may be the definition just shown: released only now.
  ForgetDialogAnswer(remembered);
  remembered = answer;
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
  XLOPER titles;
  if (text == nullptr ||
      CallExcel(xlfTextref, &titles, 1, text) != xlretSuccess) {
    return fail(" Your data titles reference is missing or incorrect!");
  }
  WORD type = BaseType(titles);
  if (type != xltypeRef && type != xltypeSRef) {
    ReleaseHostValue(titles);
    return fail(" Your data titles reference is missing or incorrect!");
  }
  const XLREF* dataArea = FirstArea(g_dataRecord.value);
  XLREF area = type == xltypeSRef ? titles.val.sref.ref
                                  : titles.val.mref.lpmref->reftbl[0];
  bool oneArea = type == xltypeSRef || titles.val.mref.lpmref->count == 1;
  if (!oneArea || area.rwLast != area.rwFirst) {
    ReleaseHostValue(titles);
    return fail(" Your data titles must be in one row only!");
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
    return fail(" You MUST have text titles in each of your input columns!");
  }
  return 1;
}

enum class MainOutcome { kAccepted, kAgain, kEnd };

// Checks of one showing of the main dialog.
MainOutcome CheckMainAnswer() {
  double* focus = FocusCell(g_mainAnswer);
  if (g_dataRecord.table.count != 1) {
    return ShowAlertDialog(" Your input reference must not be a compound reference!",
                           4, focus) == 1
               ? MainOutcome::kAgain
               : MainOutcome::kEnd;
  }
  bool failed = false;
  if (CheckTitles(focus, failed) == 0) return MainOutcome::kEnd;
  if (CoversWholeColumns(g_dataRecord.value) &&
      FindDataExtent(g_dataRecord.value) == 0) {
    failed = true;
    if (ShowAlertDialog(" One of your input columns has NO NUMBERS in it!", 4,
                        focus) != 1) {
      return MainOutcome::kEnd;
    }
  }
  bool standard = Ticked(g_mainAnswer, kStandardBox);
  bool detrended = Ticked(g_mainAnswer, kDetrendedBox);
  if (!standard && !detrended) {
    failed = true;
    if (ShowAlertDialog(" You must select at least one type of output block, "
                        "Standard, Detrended, or both.",
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
    if (ShowAlertDialog(" You must choose an unprotected output document!", 6,
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
    if (BlkCheckSettings(g_mnIndex, g_method, g_normalization) != BlkStatus::kOk) {
      continue;
    }
    const BlkSampleEntry& entry = BlkSampleTable[static_cast<std::size_t>(g_mnIndex)];
    const int blank = BlkBlankRows(g_mnIndex);
    const long total = static_cast<long>(BlkTotalColumns(g_dataColumns, g_mnIndex, g_method));
    const long lastOutput = long{output.colFirst} + total - 1;
    bool failed = false;
    if (rows < entry.n + entry.m / 2 + 2) {
      if (ShowMessage("Your choice of \"n\" and \"m\" values is too great for "
                      "your data set. Select smaller \"n\" and \"m\" values.",
                      kAlertQuestion) == 0) {
        return SampleOutcome::kEnd;
      }
      failed = true;
    }
    if (lastOutput > 255) {
      if (ShowMessage("Your choice of \"n\" and \"m\" values will produce too "
                      "many output columns. Select smaller \"n\" and \"m\" "
                      "values.",
                      kAlertQuestion) == 0) {
        return SampleOutcome::kEnd;
      }
      failed = true;
    }
    if (g_sameSheet &&
        OutputOverlapsInput(output.colFirst, lastOutput, data.colFirst, data.colLast)) {
      ShowMessage("Your output will overwrite your input. This is not allowed.",
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
    g_fromCommand = true;
    return SampleOutcome::kRun;
  }
}

int BlkDialogs() {
  if (g_mainArray.val.array.lparray == nullptr ||
      g_sampleArray.val.array.lparray == nullptr) {
    return 0;  // the tool did not open
  }
  g_fromCommand = false;
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

void PrepareBlk() {
  PrepareToolTables(g_blkTables);
  PrepareDialogRows(g_sampleDialog, std::size(g_sampleDialog));
  g_sampleArray.val.array.lparray = nullptr;
  SetDialogArrayShape(g_sampleArray, std::size(g_sampleDialog));
  PrepareBlkRecords();
  g_mainAnswer.xltype = xltypeBool;
  g_mainAnswer.val.xbool = 0;
  g_sampleAnswer.xltype = xltypeBool;
  g_sampleAnswer.val.xbool = 0;
}

int OpenBlk() {
  if (OpenToolTables(g_blkTables) == 0) return 0;
  if (!BuildDialogArray(g_mainDialog, std::size(g_mainDialog), g_mainArray) ||
      !BuildDialogArray(g_sampleDialog, std::size(g_sampleDialog), g_sampleArray)) {
    FreeDialogArray(g_mainArray);
    FreeDialogArray(g_sampleArray);
    ShowInsufficientMemory();
    return 0;
  }
  ForgetDialogAnswer(g_sampleAnswer);
  return 1;
}

void CloseBlk() {
  CloseToolTables(g_blkTables);
  FreeDialogArray(g_sampleArray);
  ForgetDialogAnswer(g_sampleAnswer);
}

bool RegisterBlk(LPXLOPER name, LPXLOPER result) {
  return RegisterToolRow(g_blkTables, name, result);
}

}  // namespace

}  // namespace blk

const ToolHooks kBlkTool = {"BLK", blk::PrepareBlk, blk::OpenBlk, blk::CloseBlk,
                            blk::RegisterBlk};

}  // namespace hvt

extern "C" HVT_EXPORT int WINAPI BlokWrapper(void) {
  using namespace hvt::blk;
  hvt::CommandSteps steps{g_abortMessage, BlkDialogs, BlkCompute, BlkSelectOutput};
  return hvt::RunCommandFrame(steps);
}
