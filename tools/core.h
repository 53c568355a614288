// What every computation core shares: the one status a run answers, and the
// observer it polls (tools/run_observer.h). Each core takes a settings
// struct, reads spans and writes spans, and names its first defined row.
#ifndef HVT_TOOLS_CORE_H
#define HVT_TOOLS_CORE_H

#include "tools/run_observer.h"

namespace hvt {

enum class CoreStatus {
  kComplete,      // the output holds the result
  kStopped,       // the observer asked to stop; the output is void
  kTooShort,      // too few rows for one defined row; the output is untouched
  kBadArgument,   // settings out of range, or spans of the wrong size
  kOutOfMemory,   // a work array could not be allocated; output untouched
  kNotConverged,  // an iteration did not settle within its limit
  kNoVariation,   // the data do not vary: there is nothing to rank
};

// Short English text of a status, for messages and logs.
constexpr const char* CoreStatusText(CoreStatus status) {
  switch (status) {
    case CoreStatus::kComplete: return "complete";
    case CoreStatus::kStopped: return "stopped";
    case CoreStatus::kTooShort: return "too few rows";
    case CoreStatus::kBadArgument: return "bad argument";
    case CoreStatus::kOutOfMemory: return "insufficient memory";
    case CoreStatus::kNotConverged: return "not converged";
    case CoreStatus::kNoVariation: return "no variation";
  }
  return "unknown status";
}

}  // namespace hvt

#endif  // HVT_TOOLS_CORE_H
