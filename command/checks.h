// Checks as data: each tool lists its checks as rows, and one checker walks
// them, for the dialog (an "ALERT!" box that can send the user back to the
// item) and for a direct macro call (an error alert that ends the call).
#ifndef HVT_COMMAND_CHECKS_H
#define HVT_COMMAND_CHECKS_H

#include <cstdio>
#include <span>

#include "command/results.h"
#include "host/messages.h"

namespace hvt {

// Room for a plain refusal text made counted (255 characters and a NUL).
constexpr int kRefusalBufferSize = 257;

template <typename Context>
struct CheckRow {
  bool (*passes)(Context& context);  // may record what it read in the context
  char* message;                     // a text of host/texts.h
  short focusItem;                   // the dialog item the alert points at
  // After the user's OK the walk goes on to the next rows, and the dialog
  // is shown again at its end; otherwise it is shown again at once.
  bool goOn;
  // For a row whose text depends on the values: the refusal as plain text,
  // nullptr to pass. Used instead of `passes` and `message` when given.
  const char* (*refusal)(Context& context) = nullptr;
};

// Dialog: the rows in order. A failed row shows its message in the "ALERT!"
// box with the focus on its item; Cancel there gives up. `focusCell` may be
// nullptr.
template <typename Context>
CheckPass WalkDialogChecks(std::span<const CheckRow<Context>> rows, Context& context,
                           double* focusCell) {
  bool again = false;
  for (const CheckRow<Context>& row : rows) {
    if (row.refusal != nullptr) {
      const char* refusal = row.refusal(context);
      if (refusal == nullptr) continue;
      char counted[kRefusalBufferSize];
      counted[0] = 0;
      std::snprintf(counted + 1, sizeof counted - 1, "%s", refusal);
      if (ShowAlertDialog(counted, row.focusItem, focusCell) != 1) return kGiveUp;
      if (!row.goOn) return kShowAgain;
      again = true;
      continue;
    }
    if (row.passes(context)) continue;
    if (ShowAlertDialog(row.message, row.focusItem, focusCell) != 1) return kGiveUp;
    if (!row.goOn) return kShowAgain;
    again = true;
  }
  return again ? kShowAgain : kAccepted;
}

// A dialog whose checks speak in the host's alert box rather than the
// "ALERT!" box: a failed row that goes on asks, its OK walks on and shows the
// dialog again at the end, its Cancel gives up; any other failed row is an
// error that sends the user back at once, with `focusCell` (may be nullptr)
// pointing at its item.
template <typename Context>
CheckPass WalkAlertChecks(std::span<const CheckRow<Context>> rows, Context& context,
                          double* focusCell) {
  bool again = false;
  for (const CheckRow<Context>& row : rows) {
    if (row.passes(context)) continue;
    if (row.goOn) {
      if (ShowAlert(row.message, kAlertQuestion) == 0) return kGiveUp;
      again = true;
      continue;
    }
    ShowAlert(row.message, kAlertError);
    if (focusCell != nullptr) *focusCell = row.focusItem;
    return kShowAgain;
  }
  return again ? kShowAgain : kAccepted;
}

// Direct call: a failed row's message as an error alert, which refuses the
// call (false); a row that goes on asks instead, and its OK goes on.
template <typename Context>
bool WalkDirectChecks(std::span<const CheckRow<Context>> rows, Context& context) {
  for (const CheckRow<Context>& row : rows) {
    if (row.refusal != nullptr) {
      const char* refusal = row.refusal(context);
      if (refusal == nullptr) continue;
      ShowMessage(refusal, kAlertError);
      return false;
    }
    if (row.passes(context)) continue;
    if (row.goOn && ShowAlert(row.message, kAlertQuestion) != 0) continue;
    if (!row.goOn) ShowAlert(row.message, kAlertError);
    return false;
  }
  return true;
}

}  // namespace hvt

#endif  // HVT_COMMAND_CHECKS_H
