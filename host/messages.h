// What the add-in says to the user: the host's alert, the "ALERT!" and
// protected-workbook boxes, the break-key poll and the progress text.
#ifndef HVT_HOST_MESSAGES_H
#define HVT_HOST_MESSAGES_H

#include <cstddef>

#include "sdk/xlcall.h"

namespace hvt {

// Alert types of the host's alert box.
enum AlertType { kAlertQuestion = 1, kAlertInfo = 2, kAlertError = 3 };

// The reference text offered in a tool dialog and the protected-workbook
// message share this buffer; the two are never in use at the same time.
constexpr std::size_t kSharedMessageSize = 512;
extern char g_sharedMessage[kSharedMessageSize];

// The alert box. `message` is a counted string in a writable buffer (its
// length byte is rewritten from the text). Beeps first from host version 5
// on. For a question: non-zero for OK, 0 for Cancel.
short ShowAlert(char* message, int type);
// The same through the 12-series for a counted UTF-16 text (a message that
// carries a person's names), on a host of version 12 or later.
short ShowAlert(XCHAR* message, int type);
// The same for a plain NUL-terminated text (cut at 255 characters).
short ShowMessage(const char* text, int type);
// "Insufficient memory!" as an error alert.
void ShowInsufficientMemory();

// The "ALERT!" box over a tool's dialog. `message` is a counted string
// (placeholder length byte, NUL-terminated text). When `focusCell` is given
// it receives `focusItem`, so the tool's dialog comes back with that item
// focused. 1 for "&OK" (go back and correct), 0 for "&Cancel", a closed box
// or no memory.
int ShowAlertDialog(const char* message, short focusItem, double* focusCell);

// The "Protected Workbook Alert" for a workbook name (a string value).
// 1 for "C&ontinue", 0 for "&Abort", a closed box or no memory.
int ShowProtectedWorkbookAlert(LPXLOPER documentName);

// Builds the protected-workbook message for `name` (a counted string) into
// `buffer` as a counted string of at most 255 characters.
void BuildProtectedWorkbookMessage(const char* name, char* buffer,
                                   std::size_t capacity);

// Polls the break key: 1 when the user asked to stop, 0 to go on (a break
// the user declined is cleared).
int CheckAbort();

// Percentage of done in total, rounded half up in integer arithmetic.
int ProgressPercent(long long done, long long total);

// The status-bar text for a percentage, as a counted string in `buffer`.
// The long form is the text some tools keep (a long); both read the same.
enum class ProgressText { kInt, kLong };
void FormatProgress(int percent, ProgressText form, char* buffer,
                    std::size_t capacity);

// Shows the percentage of done in total in the status bar; answers the
// percentage shown.
int ShowProgress(long long done, long long total,
                 ProgressText form = ProgressText::kInt);
// Gives the status bar back to the host at the end of a run.
void ClearProgress();

}  // namespace hvt

#endif  // HVT_HOST_MESSAGES_H
