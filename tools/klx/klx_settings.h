// The KLX tool's smoothness and phase: the bounds its macros, worksheet
// function and dialog hold them to, and the texts that refuse the rest, in
// one place for the add-in and the hvt command.
#ifndef HVT_TOOLS_KLX_KLX_SETTINGS_H
#define HVT_TOOLS_KLX_KLX_SETTINGS_H

namespace hvt::klx {

constexpr double kDialogMaxSmoothness = 8192;
constexpr double kMacroMaxSmoothness = 10000;

// The macros' and the worksheet function's smoothness, and the phase. Written
// so that NaN fails too.
constexpr bool SmoothnessAccepted(double smoothness) {
  return smoothness >= 0 && smoothness <= kMacroMaxSmoothness;
}
constexpr bool PhaseAccepted(double phase) { return phase >= -100 && phase <= 100; }

// The macros' refusal of a smoothness: a counted string (placeholder length
// byte) for the add-in's alert, and its plain text.
inline char g_smoothnessRange[] =
    " Your data smoothness value must be between 0 and 10,000.";
inline const char* const kSmoothnessRange = g_smoothnessRange + 1;
// The dialog's refusal of a phase: a counted string (placeholder length
// byte), as the dialog's alert box takes it.
inline char g_phaseRange[] = " Phase must be a number between -100 and +100 inclusive!";

// The message refusing a smoothness or phase, plain text; nullptr when both
// are accepted.
inline const char* SettingsRefusal(double smoothness, double phase) {
  if (!SmoothnessAccepted(smoothness)) return kSmoothnessRange;
  if (!PhaseAccepted(phase)) return g_phaseRange + 1;
  return nullptr;
}

}  // namespace hvt::klx

#endif  // HVT_TOOLS_KLX_KLX_SETTINGS_H
