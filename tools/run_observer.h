// The per-step observer every computation core accepts. Commands use it to
// poll the break key and show progress; worksheet functions pass none.
#ifndef HVT_TOOLS_RUN_OBSERVER_H
#define HVT_TOOLS_RUN_OBSERVER_H

#include <cstdint>

namespace hvt {

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // Asked where a core may stop; true ends the run and its output is void.
  virtual bool StopRequested() = 0;
  // Told after a step (a row, a column, a sweep: each core says which).
  virtual void Progress(std::int64_t done, std::int64_t total) = 0;
};

}  // namespace hvt

#endif  // HVT_TOOLS_RUN_OBSERVER_H
