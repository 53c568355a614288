#include "host/messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "host/counted_string.h"
#include "host/dialog_table.h"
#include "host/host_values.h"
#include "host/interface.h"
#include "host/texts.h"

namespace hvt {

char g_sharedMessage[kSharedMessageSize];

namespace {

constexpr std::size_t kAlertMessageSize = 256;
char g_alertMessage[kAlertMessageSize];

// The message cell: row 2 (item 1), text column.
constexpr std::size_t kMessageCell = DialogCell(1, kItemText);

DialogRow g_alertTable[] = {
    {{" ", " ", " ", " 390", " 110", " ALERT!", " 3"}},
    {{" 5", " 13", " 13", " 317", " 62", " MessageText", " "}},
    {{" 17", " 337", " 6", " ", " ", " 3", " "}},
    {{" 1", " 79", " 78", " 88", " ", " &OK", " "}},
    {{" 2", " 225", " 78", " 88", " ", " &Cancel", " "}},
};

DialogRow g_protectedTable[] = {
    {{" ", " ", " ", " 390", " 110", " Protected Workbook Alert", " 3"}},
    {{" 5", " 13", " 13", " 317", " 62", " Message", " "}},
    {{" 17", " 337", " 6", " ", " ", " 3", " "}},
    {{" 1", " 79", " 78", " 88", " ", " C&ontinue", " "}},
    {{" 2", " 225", " 78", " 88", " ", " &Abort", " "}},
};


const char kProtectedLead[] = " As long as you are not using ";
const char kProtectedTail[] =
    " with this macro, you may Continue. Otherwise, please Abort and "
    "unprotect the workbook.";


// Builds a five-row custom box over `table` with `message` in its message
// cell and shows it. 1 unless the answer is FALSE; 0 also when the box
// could not be shown at all.
int ShowCustomBox(DialogRow* table, std::size_t rows, char* message,
                  bool throughCallExcel, short focusItem = 0,
                  double* focusCell = nullptr) {
  PrepareDialogRows(table, rows);
  XLOPER array{};
  if (!BuildDialogArray(table, rows, array)) {
    ShowInsufficientMemory();
    return 0;
  }
  // Stored only once the box can be shown: a failed allocation changes
  // nothing of the caller's.
  if (focusCell != nullptr) *focusCell = focusItem;
  array.val.array.lparray[kMessageCell].xltype = xltypeStr;
  array.val.array.lparray[kMessageCell].val.str = message;

  Excel4(xlcBeep, nullptr, 0);
  XLOPER answer{};
  int code = throughCallExcel ? CallExcel(xlfDialogBox, &answer, 1, &array)
                              : Excel4(xlfDialogBox, &answer, 1, &array);
  int chosen = 0;
  if (code == xlretSuccess) {
    // Only FALSE means the box was cancelled; any other answer, an error
    // value included, counts as the first button.
    bool cancelled = (answer.xltype & ~(xlbitXLFree | xlbitDLLFree)) ==
                         xltypeBool &&
                     answer.val.xbool == 0;
    chosen = cancelled ? 0 : 1;
    ReleaseHostValue(answer);
  }
  FreeDialogArray(array);
  return chosen;
}

}  // namespace

namespace {

template <HostRecord Oper>
short AnswerOfAlert(const Oper& answer) {
  switch (TypeOf(answer)) {
    case xltypeBool: return static_cast<short>(answer.val.xbool);
    case xltypeInt: return static_cast<short>(answer.val.w);
    case xltypeNum: return static_cast<short>(answer.val.num != 0);
    default: return 0;
  }
}

}  // namespace

short ShowAlert(char* message, int type) {
  if (g_menuBar == 10) Excel4(xlcBeep, nullptr, 0);
  XLOPER answer{};
  if (CallExcel(xlcAlert, &answer, 2, TempString(message),
                TempNumber(type)) != xlretSuccess) {
    return 0;
  }
  short value = AnswerOfAlert(answer);
  ReleaseHostValue(answer);
  return value;
}

short ShowAlert(XCHAR* message, int type) {
  if (g_menuBar == 10) Excel4(xlcBeep, nullptr, 0);
  XLOPER12 text{};
  text.xltype = xltypeStr;
  text.val.str = message;
  XLOPER12 kind = NumberValue<XLOPER12>(type);
  XLOPER12 answer{};
  if (HostCall(xlcAlert, &answer, &text, &kind) != xlretSuccess) return 0;
  short value = AnswerOfAlert(answer);
  GiveBack(answer);
  return value;
}

short ShowMessage(const char* text, int type) {
  char buffer[257];
  std::size_t length = strnlen(text, 255);
  std::memcpy(buffer + 1, text, length);
  buffer[1 + length] = '\0';
  return ShowAlert(buffer, type);
}

void ShowInsufficientMemory() { ShowAlert(text::kInsufficientMemory, kAlertError); }

int ShowAlertDialog(const char* message, short focusItem, double* focusCell) {
  // The text up to its NUL, as much as the buffer holds.
  std::size_t length = strnlen(message + 1, kAlertMessageSize - 2);
  std::memcpy(g_alertMessage + 1, message + 1, length);
  g_alertMessage[1 + length] = '\0';
  g_alertMessage[0] = static_cast<char>(length);

  return ShowCustomBox(g_alertTable, std::size(g_alertTable), g_alertMessage,
                       false, focusItem, focusCell);
}

void BuildProtectedWorkbookMessage(const char* name, char* buffer,
                                   std::size_t capacity) {
  if (capacity < 2) return;
  std::memset(buffer, 0, capacity);
  // A counted string holds at most 255 characters, whatever the buffer.
  std::size_t limit = capacity < 257 ? capacity : 257;
  std::size_t lead = std::min(std::strlen(kProtectedLead), limit - 1);
  std::memcpy(buffer, kProtectedLead, lead);
  AppendCounted(buffer, limit, name);
  std::size_t used = strnlen(buffer + 1, limit - 1);
  std::size_t tail = std::strlen(kProtectedTail);
  std::size_t room = limit - 2 - used;
  std::memcpy(buffer + 1 + used, kProtectedTail, std::min(tail, room));
  buffer[1 + used + std::min(tail, room)] = '\0';
  SetCountedLength(buffer);
}

int ShowProtectedWorkbookAlert(LPXLOPER documentName) {
  static char empty[1] = {0};
  const char* name = empty;
  if (documentName != nullptr &&
      (documentName->xltype & ~(xlbitXLFree | xlbitDLLFree)) == xltypeStr &&
      documentName->val.str != nullptr) {
    name = documentName->val.str;
  }
  BuildProtectedWorkbookMessage(name, g_sharedMessage, sizeof(g_sharedMessage));
  return ShowCustomBox(g_protectedTable, std::size(g_protectedTable),
                       g_sharedMessage, true);
}

int CheckAbort() {
  XLOPER pending{};
  if (Excel4(xlAbort, &pending, 0) == xlretSuccess) {
    bool asked = (pending.xltype & ~(xlbitXLFree | xlbitDLLFree)) ==
                     xltypeBool &&
                 pending.val.xbool != 0;
    ReleaseHostValue(pending);
    if (asked) {
      XLOPER answer{};
      if (CallExcel(xlcAlert, &answer, 2, TempString(text::kStopQuestion),
                    TempNumber(kAlertQuestion)) == xlretSuccess) {
        bool stop = (answer.xltype & ~(xlbitXLFree | xlbitDLLFree)) ==
                        xltypeBool &&
                    answer.val.xbool != 0;
        ReleaseHostValue(answer);
        if (stop) return 1;  // the break stays pending
      }
    }
  }
  CallExcel(xlAbort, nullptr, 1, TempBoolean(0));
  return 0;
}

int ProgressPercent(long long done, long long total) {
  if (total <= 0) return 0;
  long long scaled = done * 100;
  long long percent = scaled / total;
  long long remainder = scaled % total;
  // Round up when the remainder reaches half the total; a remainder of 0
  // is exact, which matters when total is 1 and its half is 0.
  if (remainder != 0 && remainder >= total / 2) ++percent;
  return static_cast<int>(percent);
}

void FormatProgress(int percent, ProgressText form, char* buffer,
                    std::size_t capacity) {
  if (capacity < 2) return;
  // Width 2 without a precision: a precision of 0 would print 0 as no digit.
  int written = form == ProgressText::kLong
                    ? std::snprintf(buffer + 1, capacity - 1, "%2ld%% Finished",
                                    static_cast<long>(percent))
                    : std::snprintf(buffer + 1, capacity - 1, "%2d%% Finished",
                                    percent);
  if (written < 0) buffer[1] = '\0';
  SetCountedLength(buffer);
}

int ShowProgress(long long done, long long total, ProgressText form) {
  int percent = ProgressPercent(done, total);
  char text[64];
  FormatProgress(percent, form, text, sizeof(text));
  CallExcel(xlcMessage, nullptr, 2, TempBoolean(1), TempString(text));
  return percent;
}

void ClearProgress() { CallExcel(xlcMessage, nullptr, 1, TempBoolean(0)); }

}  // namespace hvt
