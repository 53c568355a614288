// Seeded series families and small helpers shared by the KLX core tests.
#ifndef HVT_TESTS_CORE_KLX_TEST_DATA_H
#define HVT_TESTS_CORE_KLX_TEST_DATA_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/run_observer.h"

namespace klx_test {

inline std::vector<double> RandomWalk(std::size_t n, std::uint32_t seed,
                                      double start = 100.0, double step = 1.0) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> d(0.0, step);
  std::vector<double> x(n);
  double v = start;
  for (auto& e : x) {
    v += d(rng);
    e = v;
  }
  return x;
}

struct Family {
  std::string name;
  std::vector<double> x;
};

// The fuzz families: random walk, monotone, constant, many ties, huge and
// tiny magnitudes, signed zeros, a series with one jump.
inline std::vector<Family> Families(std::size_t n, std::uint32_t seed) {
  std::vector<Family> f;
  f.push_back({"walk", RandomWalk(n, seed)});
  {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = 3.0 + 0.25 * static_cast<double>(i);
    f.push_back({"monotone", x});
  }
  f.push_back({"constant", std::vector<double>(n, 42.5)});
  {
    std::mt19937 rng(seed + 1);
    std::uniform_int_distribution<int> d(0, 3);
    std::vector<double> x(n);
    for (auto& e : x) e = static_cast<double>(d(rng)) * 0.5;
    f.push_back({"ties", x});
  }
  {
    auto x = RandomWalk(n, seed + 2);
    for (auto& e : x) e *= 1e9;  // band distances far beyond 999,999
    f.push_back({"huge", x});
  }
  {
    auto x = RandomWalk(n, seed + 3);
    for (auto& e : x) e *= 1e-200;
    f.push_back({"tiny", x});
  }
  {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = (i % 3 == 0) ? -0.0 : 0.0;
    f.push_back({"signed_zero", x});
  }
  {
    std::vector<double> x(n, 1.0);
    for (std::size_t i = n / 2; i < n; ++i) x[i] = 1000.0;
    f.push_back({"jump", x});
  }
  return f;
}

inline bool SameBits(double a, double b) {
  std::uint64_t ua, ub;
  std::memcpy(&ua, &a, sizeof a);
  std::memcpy(&ub, &b, sizeof b);
  return ua == ub;
}

// Records every observer call in order; answers stop on the stopAt-th ask.
class RecordingObserver : public hvt::RunObserver {
 public:
  struct Call {
    bool stop;  // true for StopRequested, false for Progress
    std::int64_t done;
    std::int64_t total;
  };
  explicit RecordingObserver(int stopAt = -1) : stopAt_(stopAt) {}
  bool StopRequested() override {
    calls.push_back({true, 0, 0});
    ++asks_;
    return asks_ == stopAt_;
  }
  void Progress(std::int64_t done, std::int64_t total) override {
    calls.push_back({false, done, total});
  }
  std::vector<Call> calls;

 private:
  int stopAt_;
  int asks_ = 0;
};

}  // namespace klx_test

#endif  // HVT_TESTS_CORE_KLX_TEST_DATA_H
