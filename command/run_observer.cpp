#include "command/run_observer.h"

namespace hvt {

bool CommandObserver::StopRequested() {
  if (CheckAbort() == 1) stopped_ = true;
  return stopped_;
}

void CommandObserver::Progress(std::int64_t done, std::int64_t total) {
  if (!policy_.show) return;
  if (done <= policy_.everyStepThrough) {
    ShowProgress(done, total, policy_.form);
    return;
  }
  if (ProgressPercent(done, total) == lastShown_) return;
  lastShown_ = ShowProgress(done, total, policy_.form);
}

MacroResult UnfinishedRun(CoreStatus status) {
  if (status == CoreStatus::kStopped) return kMacroStopped;
  if (status == CoreStatus::kOutOfMemory) ShowInsufficientMemory();
  return kMacroRefused;
}

}  // namespace hvt
