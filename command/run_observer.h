// The one observer every command hands its core: it polls the break key
// where the core may stop and shows progress in the status bar as the
// tool's policy says.
#ifndef HVT_COMMAND_RUN_OBSERVER_H
#define HVT_COMMAND_RUN_OBSERVER_H

#include <cstdint>
#include <limits>

#include "command/results.h"
#include "host/messages.h"
#include "tools/core.h"

namespace hvt {

struct ProgressPolicy {
  ProgressText form = ProgressText::kInt;
  // Steps up to this one are shown every time; later ones only when the
  // percentage changes. -1: none.
  std::int64_t everyStepThrough = -1;
  bool show = true;  // false: the break key only

  static constexpr ProgressPolicy OnChange(ProgressText form) {
    return ProgressPolicy{form, -1, true};
  }
  static constexpr ProgressPolicy EveryStep(ProgressText form) {
    return ProgressPolicy{form, std::numeric_limits<std::int64_t>::max(), true};
  }
  static constexpr ProgressPolicy BreakKeyOnly() {
    return ProgressPolicy{ProgressText::kInt, -1, false};
  }
};

class CommandObserver final : public RunObserver {
 public:
  explicit CommandObserver(ProgressPolicy policy) : policy_(policy) {}
  bool StopRequested() override;
  void Progress(std::int64_t done, std::int64_t total) override;
  bool stopped() const { return stopped_; }

 private:
  ProgressPolicy policy_;
  // 1 counts as already shown, so the status bar stays quiet until the run
  // is past its first percent.
  int lastShown_ = 1;
  bool stopped_ = false;
};

// Gives the status bar back to the host when a run ends, on every way out.
struct ProgressCleared {
  ProgressCleared() = default;
  ProgressCleared(const ProgressCleared&) = delete;
  ProgressCleared& operator=(const ProgressCleared&) = delete;
  ~ProgressCleared() { ClearProgress(); }
};

// What a macro answers for a core's run that did not complete: a stop is the
// user's, a memory failure is told before the refusal, anything else refused.
MacroResult UnfinishedRun(CoreStatus status);

}  // namespace hvt

#endif  // HVT_COMMAND_RUN_OBSERVER_H
