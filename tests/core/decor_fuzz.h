// Deterministic data families for the decorrelation tests.
#ifndef HVT_TESTS_CORE_DECOR_FUZZ_H
#define HVT_TESTS_CORE_DECOR_FUZZ_H

#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

namespace decor_fuzz {

enum Family { kRandomWalk, kMonotone, kConstant, kTies, kHuge, kTiny, kSignedZeros,
              kCorrelated, kFamilyCount };

// rows x cols, row-major, one family, reproducible from the seed.
inline std::vector<double> Make(Family family, std::size_t rows, std::size_t cols,
                                unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> small(-2, 2);
  std::vector<double> a(rows * cols);
  std::vector<double> level(cols, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    for (std::size_t c = 0; c < cols; ++c) {
      double& x = a[t * cols + c];
      switch (family) {
        case kRandomWalk: level[c] += normal(rng); x = level[c]; break;
        case kMonotone: level[c] += std::fabs(normal(rng)) * double(c + 1); x = level[c]; break;
        case kConstant: x = 3.25 * double(c + 1); break;
        case kTies: x = double(small(rng)); break;
        case kHuge: x = normal(rng) * 1e150; break;
        case kTiny: x = normal(rng) * 1e-150; break;
        case kSignedZeros: x = (rng() & 1) ? 0.0 : -0.0; if (rng() % 3 == 0) x = normal(rng); break;
        case kCorrelated: x = c == 0 ? normal(rng) : a[t * cols] * double(c) + 0.01 * normal(rng); break;
        default: break;
      }
    }
  }
  return a;
}

inline bool SameBits(const std::vector<double>& x, const std::vector<double>& y) {
  return x.size() == y.size() &&
         (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
}

}  // namespace decor_fuzz

#endif  // HVT_TESTS_CORE_DECOR_FUZZ_H
