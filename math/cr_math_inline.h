// The first attempt at exp, inline where the cores call it: each core
// waits for one exp per row, and a call with the rare cases inside costs
// as much as the arithmetic. math/cr_math.cpp holds the rest (ExpRest) and
// the derivations this one shares. Included by math/cr_math.h.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

// The building blocks below are small and on every path: always inline them.
#define HVT_INLINE [[gnu::always_inline]] inline

namespace hvt::math {

namespace detail {

// Bounds below use u = 2^-53.

HVT_INLINE std::uint64_t Bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

HVT_INLINE double FromBits(std::uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

HVT_INLINE double Pow2(int n) { return FromBits(static_cast<std::uint64_t>(n + 1023) << 52); }

HVT_INLINE double Abs(double v) { return FromBits(Bits(v) & ~(std::uint64_t{1} << 63)); }

HVT_INLINE bool SignBit(double v) { return (Bits(v) >> 63) != 0; }

struct DD {
  double hi, lo;
};

HVT_INLINE DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Needs a == 0 or exponent(a) >= exponent(b).
HVT_INLINE DD FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

HVT_INLINE constexpr DD Split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

// TwoProd with a already split (ah + al = Split(a)).
HVT_INLINE DD TwoProdSplit(double a, double ah, double al, double b) {
  const double p = a * b;
  const DD y = Split(b);
  return {p, ((ah * y.hi - p) + ah * y.lo + al * y.hi) + al * y.lo};
}

HVT_INLINE DD TwoProd(double a, double b) {
  const DD x = Split(a);
  return TwoProdSplit(a, x.hi, x.lo, b);
}

// 2^(j/128) as hi + lo with hi split for TwoProdSplit, worked out by the
// compiler with the same IEEE operations Split performs at run time
// (math/cr_math.cpp).
struct ExpRow {
  double hi, lo, hi_hi, hi_lo;
};
extern const std::array<ExpRow, 128> kExp2Split;

// ln2/128 = kExpLn2By128Hi + kExpLn2By128Lo + less than 2^-96; Hi has 35
// bits (math/cr_tables.inc, checked against it in math/cr_math.cpp).
inline constexpr double kExpLn2By128Hi = 0x1.62e42fef8p-8;
inline constexpr double kExpLn2By128Lo = 0x1.1cf79abc9e3b4p-43;

// True when hi + lo (normalised: hi = RN(hi + lo)) within an absolute
// error err of the true value rounds to hi. Rounding to nearest is
// monotone, so the computed |lo| + err below the exact power-of-two
// distance to the nearest midpoint proves the exact sum below it. That
// distance is half an ulp of hi, or a quarter below a power of two; the
// quarter is taken for every power of two whatever lo's sign (stricter,
// and without a branch on lo's sign, which is random).
HVT_INLINE bool RoundsWithin(double hi, double lo, double err) {
  const std::uint64_t b = Bits(hi);
  const int field = static_cast<int>((b >> 52) & 0x7ff);
  const int power_of_two = (b & ((std::uint64_t{1} << 52) - 1)) == 0;
  const double distance = Pow2(field - 1076 - power_of_two);
  return Abs(lo) + err < distance;
}

HVT_INLINE bool RoundsToHi(double hi, double lo, double eps) {
  return RoundsWithin(hi, lo, Abs(hi) * eps);
}

// The same in three operations, where hi is normal and lo * f cannot
// overflow: with |y - (hi + lo)| <= eps |y| for the true value y,
// hi + RN(lo f) == hi proves RN(y) = hi when f >= (1 + 2^-53) / (1 -
// 2^54 eps (1 + 2^-51)).
// Let m be the distance from hi to the midpoint on lo's side (half an ulp
// u of hi, or a quarter below a power of two) and m' the smaller distance
// of the two sides. The sum rounds to hi only if |RN(lo f)| <= m, and m is
// a power of two, so |lo| <= m (1 + 2^-53) / f < u (an underflow of lo f
// errs by 2^-1075, nothing against m). Then the error is below
// eps |hi| (1 + 2^-51), and |hi| < 2^53 u, or |hi| = 2^52 u at a power of
// two, where m' = u/4: below 2^54 eps (1 + 2^-51) m'. So y lies within
// |lo| + that <= m of hi on lo's side, and within m' on the other: its
// nearest double is hi. The test needs no branch on hi's binade or on lo's
// sign, and costs the cores less than RoundsToHi.
constexpr double RoundingTestFactor(double eps) {
  // 2^-50 for 2^-53 and 2^-51: room for this division's own roundings.
  return (1 + 0x1p-50) / (1 - 0x1p54 * eps * (1 + 0x1p-50));
}

HVT_INLINE bool RoundsToHiBy(double hi, double lo, double factor) { return hi + lo * factor == hi; }

// n = round(th 128/ln2) as an integer and as a double, without a
// conversion on the way: adding 1.5 * 2^52 rounds v (|v| < 2^18) to an
// integer, which then fills the low bits of the sum's significand, and
// taking 1.5 * 2^52 away again is exact.
HVT_INLINE double RoundToInt(double v, std::int64_t* n) {
  constexpr double kShift = 0x1.8p52;
  const double shifted = v + kShift;
  *n = static_cast<std::int64_t>(Bits(shifted) - Bits(kShift));
  return shifted - kShift;
}

// The cheapest attempt at exp(x) for |x| < 512, 2^k already applied:
// 2^k (hi + lo), plain doubles but for the last sum, relative error below
// 2^-58.47 (fails the rounding test about once in 25 calls; a short chain
// of operations on the way to hi matters more than those failures, as the
// cores wait for each exp).
// n, k, j and s = x - n c1 (exact) as in ExpQuick (math/cr_math.cpp);
// r = s - n c2 rounded: below 2^-62 from the last rounding
// (|r| < 2^-8.51), 2^-78 from the rest, times T e^r < 2.01: below
// 2^-60.99. exp(r) = 1 + r + q(r), q to r^6/720 (tail times Th below
// 2^-71; q at the rounded r: below 2 |r| 2^-62 < 2^-69.5).
// Th q = A (1/2 + r/6) + B, A = Th r^2, B = (A r^2) ((1/24 + r/120) +
// r^2/720): r^2, A and the product round once each, the pair below 2^-54
// of its value >= 0.49 (2^-53 relative): below 4u of A (...) < 2^-17,
// 2^-68; B < 2^-37 errs by far less.
// X = ((Tl + Th r) + A (...)) + B: four roundings of values below 2^-7,
// each below 2^-61; Tl r (below 2^-61.5) and Tl q (2^-71) left out.
// Th + X = hi + lo exactly (FastTwoSum). In all below 5.73 * 2^-61, and
// relative to T e^r >= 0.997 below 5.75 * 2^-61 < 2^-58.47.
// All of it runs on Th 2^k and Tl 2^k (|k| <= 739, exact): each rounding
// scales with them, and a term falling below the normal range errs by at
// most 2^-1075, nothing against a result above 2^-740. So the result needs
// no scaling at the end of its chain.
HVT_INLINE DD ExpPlain(double x) {
  std::int64_t n;
  const double dn = RoundToInt(x * 0x1.71547652b82fep+7, &n);  // 128/ln2
  const int j = static_cast<int>(n & 127);
  const double scale = Pow2(static_cast<int>(n >> 7));  // 2^floor(n / 128)
  const double r = (x - dn * kExpLn2By128Hi) - dn * kExpLn2By128Lo;
  const double th = kExp2Split[j].hi * scale;
  const double tl = kExp2Split[j].lo * scale;
  const double r2 = r * r;
  const double a = th * r2;
  const double b =
      (a * r2) * ((0x1.5555555555555p-5 + r * 0x1.1111111111111p-7) + r2 * 0x1.6c16c16c16c17p-10);
  return FastTwoSum(th, ((tl + th * r) + a * (0.5 + r * 0x1.5555555555555p-3)) + b);
}

constexpr double kExpPlainEps = 0x1.7p-59;  // 5.75 * 2^-61
constexpr double kExpPlainFactor = RoundingTestFactor(kExpPlainEps);  // 1.047

// Exp for what ExpPlain leaves: special and extreme arguments, results near
// overflow or below the normal range, and hard roundings.
double ExpRest(double x);

}  // namespace detail

inline double Exp(double x) {
  using namespace detail;
  // 2^-54 <= |x| < 512 in one unsigned comparison of the bits (NaNs and
  // infinities above): then k is within [-739, 738].
  constexpr std::uint64_t kLow = 0x3c90000000000000;   // 2^-54
  constexpr std::uint64_t kHigh = 0x4080000000000000;  // 512
  static_assert(std::bit_cast<double>(kLow) == 0x1p-54 && std::bit_cast<double>(kHigh) == 512.0);
  if ((Bits(x) & ~(std::uint64_t{1} << 63)) - kLow < kHigh - kLow) {
    const DD r = ExpPlain(x);  // |hi| > 2^-740: normal
    if (RoundsToHiBy(r.hi, r.lo, kExpPlainFactor)) return r.hi;
  }
  return ExpRest(x);
}

}  // namespace hvt::math
