// What the KLX command tests expect: the core's own results for a column,
// and the alert a command shows when memory runs out.
#ifndef HVT_TESTS_ADDIN_KLX_EXPECTED_H
#define HVT_TESTS_ADDIN_KLX_EXPECTED_H

#include <gtest/gtest.h>

#include <vector>

#include "tools/klx/core/klx_filter.h"

namespace hvt::testing {

constexpr char kNoMemory[] = "alert 3 \"Insufficient memory!\" -> OK";

inline std::vector<double> KlxOf(const std::vector<double>& x, double s, double p) {
  std::vector<double> y(x.size());
  EXPECT_EQ(klx::KlxFilter(x, {s, p}, y), CoreStatus::kComplete);
  return y;
}

}  // namespace hvt::testing

#endif  // HVT_TESTS_ADDIN_KLX_EXPECTED_H
