// The answers commands and macros give, named once.
#ifndef HVT_COMMAND_RESULTS_H
#define HVT_COMMAND_RESULTS_H

namespace hvt {

// What a tool's macro answers its caller (a macro sheet or the command).
enum MacroResult : int {
  kMacroDone = 1,      // the output is written
  kMacroRefused = 0,   // a check failed, memory ran out or a write was refused
  kMacroStopped = -1,  // the data held a non-number, or the user stopped
};

// What one pass of a dialog's checks decides.
enum CheckPass : int {
  kAccepted = 1,   // every check passed: run
  kShowAgain = 0,  // show the dialog again for a correction
  kGiveUp = -1,    // the user cancelled an alert: end the command
};

// What a command's dialog step answers the command frame.
enum StepResult : int { kStepEnd = 0, kStepGoOn = 1 };

}  // namespace hvt

#endif  // HVT_COMMAND_RESULTS_H
