// A whole decorrelation run into storage of its own, for the tests that
// compare with it.
#ifndef HVT_TESTS_CORE_DECOR_WHOLE_RUN_H
#define HVT_TESTS_CORE_DECOR_WHOLE_RUN_H

#include <span>
#include <vector>

#include "tools/decor/core/decor.h"

namespace hvt::decor {

struct WholeRun : DecorRun {
  std::vector<double> scores, significance, coefficients, means, sigmas;
};

inline WholeRun RunWhole(std::span<const double> data, std::size_t rows, std::size_t cols,
                         const DecorSettings& settings, RunObserver* observer = nullptr) {
  WholeRun run;
  run.scores.resize(rows * cols);
  run.significance.resize(cols);
  run.coefficients.resize(cols * cols);
  run.means.resize(cols);
  run.sigmas.resize(cols);
  static_cast<DecorRun&>(run) = Decorrelate(
      data, rows, cols, settings,
      {run.scores, run.significance, run.coefficients, run.means, run.sigmas}, observer);
  return run;
}

}  // namespace hvt::decor

#endif  // HVT_TESTS_CORE_DECOR_WHOLE_RUN_H
