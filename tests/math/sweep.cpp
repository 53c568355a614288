// Random arguments against MPFR: math_sweep [COUNT] [SEED] [FAMILY]
// Runs COUNT arguments (default 100,000) through each of the families
// below (or those whose name contains FAMILY), for Exp, Log and Pow, and prints how many differ from the
// correctly rounded result (and, for comparison, how many of the C
// library's results do). Exit status 1 on any difference of ours.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "math/cr_math.h"
#include "tests/math/mpfr_oracle.h"

namespace {

using hvt::math::testing::Oracle;

bool Same(double a, double b) {
  if (a != a && b != b) return true;
  std::uint64_t x, y;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  return x == y;
}

double FromBits(std::uint64_t b) {
  double v;
  std::memcpy(&v, &b, 8);
  return v;
}

struct Tally {
  std::uint64_t calls = 0, ours = 0, libc = 0;
};

// A positive double with a uniformly chosen exponent field (0..2046) and
// random mantissa: the whole finite range, every binade equally.
double AnyPositive(std::mt19937_64& rng) {
  const std::uint64_t field = rng() % 2047;
  return FromBits((field << 52) | (rng() >> 12));
}

double Uniform(std::mt19937_64& rng, double lo, double hi) {
  return lo + (hi - lo) * (static_cast<double>(rng() >> 11) * 0x1p-53);
}

const char* g_family = "";

template <class Args, class Ours, class Ref, class Libc>
void Run(const char* name, std::uint64_t count, std::mt19937_64& rng, Args args, Ours ours,
         Ref ref, Libc libc, Tally* total) {
  if (std::strstr(name, g_family) == nullptr) return;
  Tally t;
  const auto t0 = std::chrono::steady_clock::now();
  for (std::uint64_t i = 0; i < count; ++i) {
    double x = 0, y = 0;
    args(rng, &x, &y);
    const double want = ref(x, y);
    if (!Same(ours(x, y), want)) {
      if (t.ours < 10) std::printf("  MISMATCH %s(%a, %a): got %a want %a\n", name, x, y, ours(x, y), want);
      ++t.ours;
    }
    if (!Same(libc(x, y), want)) ++t.libc;
    ++t.calls;
  }
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%-28s %12" PRIu64 " args  %" PRIu64 " wrong  (C library: %" PRIu64 " wrong)  %.1f s\n",
              name, t.calls, t.ours, t.libc, secs);
  std::fflush(stdout);
  total->calls += t.calls;
  total->ours += t.ours;
  total->libc += t.libc;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 14;
  if (argc > 3) g_family = argv[3];
  std::mt19937_64 rng(seed);
  Oracle oracle;
  Tally total;
  auto exp1 = [](double x, double) { return hvt::math::Exp(x); };
  auto expRef = [&](double x, double) { return oracle.Exp(x); };
  auto expLibc = [](double x, double) { return std::exp(x); };
  auto log1 = [](double x, double) { return hvt::math::Log(x); };
  auto logRef = [&](double x, double) { return oracle.Log(x); };
  auto logLibc = [](double x, double) { return std::log(x); };
  auto pow1 = [](double x, double y) { return hvt::math::Pow(x, y); };
  auto powRef = [&](double x, double y) { return oracle.Pow(x, y); };
  auto powLibc = [](double x, double y) { return std::pow(x, y); };

  // The cores' arguments: exp of gains and decays (<= 0), log of band
  // widths, pow of volatility ratios and of factors in (0, 1).
  Run("exp [-50, 0]", count, rng, [](auto& r, double* x, double*) { *x = Uniform(r, -50, 0); },
      exp1, expRef, expLibc, &total);
  Run("exp [-1, 1]", count, rng, [](auto& r, double* x, double*) { *x = Uniform(r, -1, 1); },
      exp1, expRef, expLibc, &total);
  Run("exp [-746, 710]", count, rng,
      [](auto& r, double* x, double*) { *x = Uniform(r, -746, 710); }, exp1, expRef, expLibc,
      &total);
  Run("exp subnormal results", count, rng,
      [](auto& r, double* x, double*) { *x = Uniform(r, -745.2, -707.5); }, exp1, expRef, expLibc,
      &total);
  Run("exp any binade", count, rng,
      [](auto& r, double* x, double*) {
        const double v = AnyPositive(r);
        *x = (r() & 1) ? -v : v;
      },
      exp1, expRef, expLibc, &total);
  Run("log [1e-3, 1e3]", count, rng,
      [](auto& r, double* x, double*) { *x = std::exp(Uniform(r, -6.9, 6.9)); }, log1, logRef,
      logLibc, &total);
  Run("log [0.99, 1.01]", count, rng,
      [](auto& r, double* x, double*) { *x = Uniform(r, 0.99, 1.01); }, log1, logRef, logLibc,
      &total);
  Run("log any binade", count, rng, [](auto& r, double* x, double*) { *x = AnyPositive(r); },
      log1, logRef, logLibc, &total);
  Run("pow (0, 100] ^ [0.5, 10]", count, rng,
      [](auto& r, double* x, double* y) {
        *x = Uniform(r, 0, 100);
        *y = Uniform(r, 0.5, 10);
      },
      pow1, powRef, powLibc, &total);
  Run("pow (0, 1) ^ [1, 12]", count, rng,
      [](auto& r, double* x, double* y) {
        *x = Uniform(r, 0, 1);
        *y = Uniform(r, 1, 12);
      },
      pow1, powRef, powLibc, &total);
  Run("pow in range, any binade", count, rng,
      [](auto& r, double* x, double* y) {
        double v = AnyPositive(r);
        if (v == 1.0) v = 2.0;
        *x = v;
        *y = Uniform(r, -745, 709) / std::log(v);  // results in range
      },
      pow1, powRef, powLibc, &total);
  Run("pow subnormal results", count, rng,
      [](auto& r, double* x, double* y) {
        *x = Uniform(r, 0.5, 4);
        *y = Uniform(r, -745.2, -707.5) / std::log(*x);
      },
      pow1, powRef, powLibc, &total);
  Run("pow near 1 ^ large", count, rng,
      [](auto& r, double* x, double* y) {
        *x = 1.0 + Uniform(r, -0x1p-20, 0x1p-20);
        *y = Uniform(r, -1e8, 1e8);
      },
      pow1, powRef, powLibc, &total);
  Run("pow negative ^ integer", count, rng,
      [](auto& r, double* x, double* y) {
        *x = -Uniform(r, 0.01, 1000);
        *y = static_cast<double>(static_cast<int>(r() % 201) - 100);
      },
      pow1, powRef, powLibc, &total);
  Run("pow any bits", count, rng,
      [](auto& r, double* x, double* y) {
        *x = FromBits(r());
        *y = FromBits(r());
      },
      pow1, powRef, powLibc, &total);
  std::printf("total %" PRIu64 " args, %" PRIu64 " not correctly rounded (C library: %" PRIu64 ")\n",
              total.calls, total.ours, total.libc);
  return total.ours == 0 ? 0 : 1;
}
