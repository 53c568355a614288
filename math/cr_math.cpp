// Correctly rounded exp, log and pow.
//
// Double-double building blocks are the classical error-free transforms
// (Knuth's TwoSum, Dekker's FastTwoSum and Dekker's product with Veltkamp's
// split); they are exact as long as nothing overflows and no operation is
// contracted into a fused multiply-add (the build forbids contraction).
// Bounds below use u = 2^-53.
//
// Rounding test (Ziv's strategy): a fast result hi + lo with relative error
// at most eps settles the rounding when |lo| + eps |hi| stays below the
// distance from hi to the midpoint on lo's side. Otherwise the accurate
// path decides.
#include "math/cr_math.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "math/fixed_point.h"

namespace hvt::math {

using namespace detail;

namespace {

#include "math/cr_tables.inc"

static_assert(kExpLn2By128Hi == kLn2By128_1 && kExpLn2By128Lo == kLn2By128_2);

constexpr double kInf = std::numeric_limits<double>::infinity();

double QuietNaN() { return std::numeric_limits<double>::quiet_NaN(); }

constexpr std::array<ExpRow, 128> MakeExpSplit() {
  std::array<ExpRow, 128> rows{};
  for (int j = 0; j < 128; ++j) {
    const DD s = Split(kExp2Table[j][0]);
    rows[j] = {kExp2Table[j][0], kExp2Table[j][1], s.hi, s.lo};
  }
  return rows;
}

}  // namespace

namespace detail {
constexpr std::array<ExpRow, 128> kExp2Split = MakeExpSplit();
}  // namespace detail

namespace {

constexpr bool SplitsAreExact() {
  for (const ExpRow& row : kExp2Split) {
    // hi_hi of at most 26 bits, hi_hi + hi_lo = hi exactly.
    if ((std::bit_cast<std::uint64_t>(row.hi_hi) & ((std::uint64_t{1} << 27) - 1)) != 0) return false;
    if (row.hi_hi + row.hi_lo != row.hi || row.hi - row.hi_hi != row.hi_lo) return false;
  }
  return true;
}
static_assert(SplitsAreExact());

// Sum of two double-doubles; relative error at most 3u^2/(1 - 4u) (Joldes,
// Muller and Popescu's bound for this accurate algorithm).
HVT_INLINE DD Add(DD x, DD y) {
  DD s = TwoSum(x.hi, y.hi);
  const DD t = TwoSum(x.lo, y.lo);
  s = FastTwoSum(s.hi, s.lo + t.hi);
  return FastTwoSum(s.hi, s.lo + t.lo);
}

// (hi + lo) 2^k, k <= -1022, known to a relative error eps, where the
// result may be subnormal: a multiple of 2^-1074. In those units the value
// is w + l (both exact scalings, w < 2^53); (w + 2^52) - 2^52 rounds w to
// the nearest integer, ties to even, and d = w - n0 is exact. The value
// rounds to n0 when |d| + |l| plus the error stays below one half; 2^-50
// covers the roundings of that test.
HVT_INLINE bool RoundTiny(double hi, double lo, int k, double eps, double* out) {
  if (k < -1076) {  // below 2.01 * 2^-1077 < 2^-1075: rounds to zero
    *out = 0.0;
    return true;
  }
  const double scale = Pow2(k + 1074);
  const double w = hi * scale;
  const double l = lo * scale;
  if (w >= 0x1p52) {
    if (!RoundsToHi(hi, lo, eps)) return false;
    *out = detail::ScaleExact(hi, k);
    return true;
  }
  const double n0 = (w + 0x1p52) - 0x1p52;
  const double d = w - n0;
  if (!(Abs(d) + Abs(l) + (w * eps + 0x1p-50) < 0.5)) return false;
  *out = detail::ScaleExact(n0, -1074);
  return true;
}

// hi + lo scaled by 2^k, or false when the error bound does not settle the
// rounding (or the result is near overflow).
HVT_INLINE bool Finish(DD r, int k, double eps, double* out) {
  if (k >= -1021 && k <= 1022) {
    if (!RoundsToHi(r.hi, r.lo, eps)) return false;
    *out = r.hi * Pow2(k);
    return true;
  }
  return k < -1021 && RoundTiny(r.hi, r.lo, k, eps, out);
}

// Relative error bounds of the fast paths (derivations at ExpCore and
// LogCore, each with at least a bit to spare).
constexpr double kExpEps = 0x1p-76;
constexpr double kLogEps = 0x1p-74;

constexpr double kExpQuickEps = 0x1.6p-67;  // 2^-66.54

// The first attempt at exp(th + tl) = 2^k (hi + lo), for the same
// arguments as ExpCore below, with relative error below 2^-66.9 (fails the
// rounding test in about one call in 5,000). Its operations are grouped
// for a short chain from th to hi: the cores wait for each result.
//
// th = n ln2/128 + s exactly: n c1 is exact (|n| < 2^18, c1 of 35 bits)
// and so is th - n c1 (within a factor 2 of each other when n != 0,
// Sterbenz); r = s + (tl - n c2) as rh + rl (TwoSum), the remaining
// roundings and the dropped n c3 below 2^-78; |r| < 2^-8.51 (n rounds v to
// nearest, ties either way).
// exp(r) = 1 + r + q(r), q to r^6/720: the tail is below 2^-72, and q at
// rh instead of r errs by below |r rl| < 2^-70.5.
// T e^r = Th + Th rh + [Tl + Tl rh + Th rl] + Th q (+ Tl q < 2^-71).
// Th rh is exact (TwoProd, Th split once in the table) and so is Th + its
// high part (FastTwoSum); the bracket and that sum's low part (together
// below 2^-51) round five times, below 2^-101.
// Th q = A (1/2 + rh/6) + (A r^2) ((1/24 + rh/120) + r^2/720) with
// A = Th r^2 (Estrin's scheme): r^2, A and the first pair's product round
// once each, the pair itself below 2^-54 of its value >= 0.49 (2^-53
// relative), the sum once more, and the second term (below 2^-17.8 of the
// first) adds below 2^-70 relative: below 5.01u of Th q < 2^-17, 2^-67.67.
// The last sum of the low part (below 2^-16.9) rounds once, below 2^-70;
// hi + lo is exact (FastTwoSum).
// In all below 2^-67.67 + 2 * 2^-70 (q at rh, last sum) + 2 * 2^-71 (tail,
// Tl q) + 2^-77 (r's error times e^r < 2.01) < 2^-66.99, relative to
// T e^r >= 0.997: below 2^-66.9.
HVT_INLINE void ExpQuick(double th, double tl, int* k, DD* result) {
  std::int64_t n;
  const double dn = RoundToInt(th * 0x1.71547652b82fep+7, &n);  // 128/ln2
  const int j = static_cast<int>(n & 127);
  *k = static_cast<int>(n >> 7);  // floor(n / 128)
  const double s = th - dn * kLn2By128_1;
  const DD r = TwoSum(s, tl - dn * kLn2By128_2);
  const double rh = r.hi;
  const ExpRow& t = kExp2Split[j];

  const double r2 = rh * rh;
  const double a = t.hi * r2;
  const double thq = a * (0.5 + rh * 0x1.5555555555555p-3) +
                     (a * r2) * ((0x1.5555555555555p-5 + rh * 0x1.1111111111111p-7) + r2 * 0x1.6c16c16c16c17p-10);

  const DD p = TwoProdSplit(t.hi, t.hi_hi, t.hi_lo, rh);
  const DD big = FastTwoSum(t.hi, p.hi);
  const double early = big.lo + (p.lo + (t.lo + (t.lo * rh + t.hi * r.lo)));
  *result = FastTwoSum(big.hi, early + thq);
}

// exp(th + tl) = 2^k (hi + lo), |th| <= 746, |tl| <= ulp(th), with hi + lo
// in [0.99, 2.01] and relative error below 2^-76 (not counting tl's own).
//
// th + tl = n ln2/128 + r, |r| <= ln2/256 + 2^-40 < 2^-8.52. n ln2/128 is
// n (c1 + c2 + c3) with c1 of 35 bits, so n c1 (|n| < 2^18) and th - n c1
// (TwoSum) and n c2 (TwoProd) are exact; what remains is summed in doubles
// of magnitude below 2^-42, each rounding below 2^-95, and the split of
// ln2/128 leaves less than 2^-130: r errs by less than 2^-92.
// exp(r) = 1 + r + r^2/2 + r^3 P(r) with P the Taylor coefficients to
// r^7/5040: the tail after r^7 is below 2^-83; 1 + r + r^2/2 is kept in
// double-double (r^2 exactly but for 2 rh rl rounded and rl^2 < 2^-124);
// r^3 P(r) < 2^-28 costs at most 8 roundings, below 2^-78.9; the three
// roundings of the low sum, each below 2^-81, and the final product with
// 2^(j/128) (table error 2^-106, product error below 2^-103).
// Total below 2^-77.3 relative.
HVT_INLINE void ExpCore(double th, double tl, int* k, DD* result) {
  const double v = th * 0x1.71547652b82fep+7;  // 128/ln2
  const int n = static_cast<int>(v >= 0 ? v + 0.5 : v - 0.5);
  const int j = n & 127;
  *k = (n - j) / 128;
  const double dn = static_cast<double>(n);
  const DD s = TwoSum(th, -(dn * kLn2By128_1));
  const DD p = TwoProd(dn, kLn2By128_2);
  const DD a = TwoSum(s.hi, -p.hi);
  const double b = a.lo + ((s.lo - p.lo) + (tl - dn * kLn2By128_3));
  const DD r = TwoSum(a.hi, b);

  const double rh = r.hi;
  const double poly =
      rh * rh * rh *
      (0x1.5555555555555p-3 +
       rh * (0x1.5555555555555p-5 +
             rh * (0x1.1111111111111p-7 + rh * (0x1.6c16c16c16c17p-10 + rh * 0x1.a01a01a01a01ap-13))));
  DD sq = TwoProd(rh, rh);
  sq.lo += 2.0 * rh * r.lo;
  const DD u = FastTwoSum(1.0, rh);
  const DD u2 = FastTwoSum(u.hi, 0.5 * sq.hi);
  const double lo = poly + ((u.lo + u2.lo) + (r.lo + 0.5 * sq.lo));
  const DD e = FastTwoSum(u2.hi, lo);

  const double th2 = kExp2Table[j][0];
  const double tl2 = kExp2Table[j][1];
  DD q = TwoProd(th2, e.hi);
  q.lo += th2 * e.lo + tl2 * e.hi;
  *result = FastTwoSum(q.hi, q.lo);
}

// log(x) as a double-double, relative error below 2^-74; x finite, > 0,
// != 1.
//
// |x - 1| < 2^-8: z = x - 1 exactly (Sterbenz). Otherwise x = 2^e m, m in
// [1, 2), row i of the table by m's leading 7 fraction bits: c ~ 1/m, and
// z = m c - 1 exactly as a double-double (TwoProd, and p - 1 is exact);
// |z| < 2^-7.98 in both cases (c has 20 bits). log x = E ln2 + T +
// log1p(z), E = e or e + 1
// and T = -log(c) or -log(2c) from the table, so that |log x| >= 2^-8.01
// whenever E or T is not zero.
// log1p(z) = z - z^2/2 + z^3/3 + z^4 Q(z), Q to z^10/10: the tail is below
// |z| 2^-83; z^2 and z^3/3 are double-doubles (errors near 2^-104
// relative); z^4 Q(z) costs about 10 roundings of magnitude 0.26 z^4, below
// |z| 2^-75.5 when |z| < 2^-7.98, and so below 2^-75.5 of |log x| in both
// cases. E ln2: ln2's split leaves 2^-95 (E kLn2_1 is exact, |E| <= 1075)
// and E kLn2_2 rounds once: below 2^-83 of |log x| >= 0.34. The three sums
// add 2^-102 at most. Total below 2^-75.1.
HVT_INLINE DD LogCore(double x) {
  DD z;
  int big_e = 0;
  DD t = {0.0, 0.0};
  if (x > 1.0 - 0x1p-8 && x < 1.0 + 0x1p-8) {
    z = {x - 1.0, 0.0};
  } else {
    std::uint64_t b = Bits(x);
    int field = static_cast<int>(b >> 52);
    if (field == 0) {  // subnormal: scale into the normal range
      b = Bits(x * 0x1p54);
      field = static_cast<int>(b >> 52) - 54;
    }
    const int i = static_cast<int>((b >> 45) & 127);
    const double m = FromBits((b & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52));
    big_e = field - 1023 + (i >= 53 ? 1 : 0);
    const LogRow& row = kLogTable[i];
    const DD p = TwoProd(m, row.c);
    z = TwoSum(p.hi - 1.0, p.lo);
    t = {row.hi, row.lo};
  }
  const double zh = z.hi;
  DD z2 = TwoProd(zh, zh);
  z2.lo += 2.0 * zh * z.lo;
  DD z3 = TwoProd(z2.hi, zh);
  z3.lo += z2.hi * z.lo + z2.lo * zh;
  DD z3by3 = TwoProd(z3.hi, kThird[0]);
  z3by3.lo += z3.hi * kThird[1] + z3.lo * kThird[0];
  const double tail =
      (z3.hi * zh) *
      (-0.25 +
       zh * (0.2 +
             zh * (-0x1.5555555555555p-3 +
                   zh * (0x1.2492492492492p-3 +
                         zh * (-0.125 + zh * (0x1.c71c71c71c71cp-4 + zh * -0.1))))));
  DD sum = Add(z, {-0.5 * z2.hi, -0.5 * z2.lo});
  sum = Add(sum, z3by3);
  sum = Add(sum, {tail, 0.0});
  if (big_e == 0 && t.hi == 0.0) return sum;
  const double de = static_cast<double>(big_e);
  const DD eln2 = FastTwoSum(de * kLn2_1, de * kLn2_2);
  return Add(Add(eln2, t), sum);
}

// The cheapest attempt at log(x) as hi + lo; x finite, > 0, != 1. The
// error is below 2^-68 absolutely, and near 1 below 2^-60.1 |z| too, which
// is relative 2^-60; *err gets a bound: 2^-67, or 2^-59.97 |z| near 1.
// |x - 1| < 2^-8: z = x - 1 exactly. Otherwise x = 2^e m as in LogCore; m
// cut to 33 bits, mh, and the rest ml < 2^-32: mh c is exact (c has 20
// bits) and so is mh c - 1 (Sterbenz); z = (mh c - 1) + ml c, the second
// product rounding below 2^-85; |z| < 2^-7.98.
// log x = E kLn2_1 + Th + z + z^2 Q(z) + (E kLn2_2 + Tl), Q to z^6/8:
// the first sums are exact (TwoSum), the rest (below 2^-17) is added to
// the low part with roundings below 2^-70 each; z^2 Q is evaluated at z
// rounded to a double (below 2^-70) with a relative error below 2^-51,
// below 2^-69.2 (and 2^-70 for the rounded z), and the tail after z^8 is
// below 2^-75. Absolutely below 2^-68 in all. Near 1, q is the only
// inexact term: below |z| 2^-60.1.
HVT_INLINE DD LogFast(double x, double* err) {
  double zh, zl = 0.0, a = 0.0, b = 0.0;
  if (x > 1.0 - 0x1p-8 && x < 1.0 + 0x1p-8) {
    zh = x - 1.0;
    *err = Abs(zh) * 0x1.02p-60;
  } else {
    *err = 0x1p-67;
    std::uint64_t bits = Bits(x);
    int field = static_cast<int>(bits >> 52);
    if (field == 0) {  // subnormal: scale into the normal range
      bits = Bits(x * 0x1p54);
      field = static_cast<int>(bits >> 52) - 54;
    }
    const int i = static_cast<int>((bits >> 45) & 127);
    const std::uint64_t mbits = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52);
    const double m = FromBits(mbits);
    const double mh = FromBits(mbits & ~((std::uint64_t{1} << 20) - 1));
    const LogRow& row = kLogTable[i];
    zh = mh * row.c - 1.0;
    zl = (m - mh) * row.c;
    const double de = static_cast<double>(field - 1023 + (i >= 53 ? 1 : 0));
    const DD s = TwoSum(de * kLn2_1, row.hi);
    a = s.hi;
    b = s.lo + (de * kLn2_2 + row.lo);
  }
  const double z = zh + zl;
  // Estrin's scheme: (-1/2 + z/3) rounds below 2^-54 of |Q| >= 0.49, the
  // final sum once more; the inner terms (below 2^-17.9) add below 2^-70;
  // with z^2 and the product, below 3.01u < 2^-51.
  const double z2 = z * z;
  const double q =
      z2 * ((-0.5 + z * 0x1.5555555555555p-2) +
            z2 * ((-0.25 + z * 0.2) +
                  z2 * ((-0x1.5555555555555p-3 + z * 0x1.2492492492492p-3) + z2 * -0.125)));
  const DD h = TwoSum(a, zh);
  return FastTwoSum(h.hi, h.lo + (zl + (q + b)));
}

// The class of a finite y: not an integer, an even or an odd integer.
enum class Parity { kNone, kEven, kOdd };

Parity ParityOf(double y) {
  const std::uint64_t b = Bits(y);
  const int field = static_cast<int>((b >> 52) & 0x7ff);
  if (field == 0) return (b << 1) == 0 ? Parity::kEven : Parity::kNone;
  const std::uint64_t m = (b & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int lsb = field - 1075;  // weight of m's last bit
  if (lsb >= 1) return Parity::kEven;
  if (lsb < -52) return Parity::kNone;
  const int point = -lsb;
  if ((m & ((std::uint64_t{1} << point) - 1)) != 0) return Parity::kNone;
  return ((m >> point) & 1) ? Parity::kOdd : Parity::kEven;
}

// n 2^e rounded to nearest, ties to even (n odd or zero).
double RoundExact(std::uint64_t n, int e) {
  int bits = 0;
  while (bits < 64 && (n >> bits) != 0) ++bits;
  if (bits == 0) return 0.0;
  int ue = e + bits - 53;  // weight of the last kept bit
  if (ue < -1074) ue = -1074;
  if (ue <= e) return detail::ScaleExact(static_cast<double>(n), e);
  const int shift = ue - e;
  if (shift > 64) return 0.0;
  const std::uint64_t q = shift == 64 ? 0 : n >> shift;
  const std::uint64_t rest = shift == 64 ? n : n & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  const std::uint64_t rounded = rest > half || (rest == half && (q & 1)) ? q + 1 : q;
  return detail::ScaleExact(static_cast<double>(rounded), ue);
}

// base^p with an overflow check against 2^64.
bool IntPower(std::uint64_t base, std::uint64_t p, std::uint64_t* out) {
  std::uint64_t r = 1;
  for (std::uint64_t i = 0; i < p; ++i) {
    if (r > ~std::uint64_t{0} / base) return false;
    r *= base;
  }
  *out = r;
  return true;
}

}  // namespace

namespace detail {

// x = X 2^a and y = Y 2^s with X and Y odd. x^y = n 2^e with n odd needs:
// for s >= 0, n = X^y (y > 0 unless X = 1) and e = a y; for s < 0, X a
// perfect 2^-s-th power Z and a divisible by 2^-s, then n = Z^Y (Y > 0
// unless Z = 1). Square roots of integers below 2^53 are exact in double
// arithmetic when they are integers.
bool ExactPow(double x, double y, double* result) {
  std::uint64_t bx = Bits(x);
  int fx = static_cast<int>(bx >> 52);
  std::uint64_t mx = bx & ((std::uint64_t{1} << 52) - 1);
  int ax = -1074;
  if (fx != 0) {
    mx |= std::uint64_t{1} << 52;
    ax = fx - 1075;
  }
  while ((mx & 1) == 0) {
    mx >>= 1;
    ++ax;
  }
  const std::uint64_t by = Bits(y);
  const int fy = static_cast<int>((by >> 52) & 0x7ff);
  std::uint64_t my = (by & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  int sy = fy - 1075;
  if (fy == 0) return false;  // subnormal y: x^y is 1 or irrational
  while ((my & 1) == 0) {
    my >>= 1;
    ++sy;
  }
  const bool negative = SignBit(y);
  long long e;
  std::uint64_t n;
  if (sy >= 0) {
    if (sy > 11) return false;  // |y| >= 2^12 * odd: n or e out of reach
    const std::uint64_t p = my << sy;
    if (p > 4096) return false;
    if (mx == 1) {
      n = 1;
    } else if (negative || p > 64 || !IntPower(mx, p, &n)) {
      return false;
    }
    e = static_cast<long long>(ax) * static_cast<long long>(p);
  } else {
    const int k = -sy;
    if (k > 11) return false;  // |a| <= 1126 < 2^11 and X would need 2^k-th roots
    if (ax % (1 << k) != 0) return false;
    std::uint64_t z = mx;
    for (int i = 0; i < k && z != 1; ++i) {
      const std::uint64_t r = static_cast<std::uint64_t>(
          std::sqrt(static_cast<double>(z)));  // z < 2^53: exact input
      if (r * r != z) return false;
      z = r;
    }
    if (my > 4096) return false;
    if (z == 1) {
      n = 1;
    } else if (negative || my > 64 || !IntPower(z, my, &n)) {
      return false;
    }
    e = static_cast<long long>(ax / (1 << k)) * static_cast<long long>(my);
  }
  if (negative) e = -e;
  if (e > 1100 || e < -1200) return false;
  *result = RoundExact(n, static_cast<int>(e));
  return true;
}

// ExpParts is within 2^-211.7 (fixed_point.cpp); x is exact in fixed point
// (|x| >= 2^-54 puts its last bit at or above 2^-106).
double ExpAccurate(double x) {
  int k = 0;
  const Fixed e = ExpParts(FromDouble(x), &k);
  bool decided = false;
  return RoundScaled(e, k, 211, &decided);
}

// LogOf is within 2^-166 relative.
double LogAccurate(double x) {
  Fixed l = LogOf(x);
  const bool negative = l.neg;
  l.neg = false;
  bool decided = false;
  const double r = RoundScaled(l, 0, 165, &decided);
  return negative ? -r : r;
}

// t = y log x: log x within 2^-166 relative, y exact (2^-70 <= |y| < 2^64
// puts it inside the fixed-point range), the product truncated by less
// than 2^-224 <= |t| 2^-169 since |t| >= 2^-55 here. So t is within
// 2^-165.8 relative, below 746 * 2^-165.8 < 2^-156.2 absolutely, which
// exp turns into a relative error below 2^-156.2 (plus ExpParts' 2^-211.7).
// Published searches for hard cases of pow in double precision need about
// 2^-120; results that are exact midpoints have no such distance at all
// and are found by ExactPow.
double PowAccurate(double x, double y) {
  const Fixed t = Mul(FromDouble(y), LogOf(x));
  int k = 0;
  const Fixed e = ExpParts(t, &k);
  bool decided = false;
  const double r = RoundScaled(e, k, 155, &decided);
  if (decided) return r;
  double exact = 0;
  return ExactPow(x, y, &exact) ? exact : r;
}

}  // namespace detail

namespace detail {

double ExpRest(double x) {
  if (x != x) return x + x;
  if (x > 709.79) return kInf;       // exp(x) >= 2^1024 (1 - 2^-54): overflow
  if (x < -745.14) return 0.0;       // exp(x) < 2^-1075
  if (Abs(x) < 0x1p-54) return 1.0;  // 1 - 2^-54 < exp(x) < 1 + 2^-53
  int k = 0;
  DD r;
  double result;
  ExpQuick(x, 0.0, &k, &r);
  if (Finish(r, k, kExpQuickEps, &result)) return result;
  ExpCore(x, 0.0, &k, &r);
  if (Finish(r, k, kExpEps, &result)) return result;
  return ExpAccurate(x);
}

}  // namespace detail

double Log(double x) {
  if (x != x) return x + x;
  if (x < 0) return QuietNaN();
  if (x == 0) return -kInf;
  if (x == kInf) return kInf;
  if (x == 1.0) return 0.0;
  double err = 0;
  DD l = LogFast(x, &err);
  if (RoundsWithin(l.hi, l.lo, err)) return l.hi;
  l = LogCore(x);
  if (RoundsToHi(l.hi, l.lo, kLogEps)) return l.hi;
  return detail::LogAccurate(x);
}

namespace {

// ax^y for a finite ax > 0, ax != 1, and a finite y != 0, from log(ax)
// known to an absolute error log_err (and a relative error at most 2^-58,
// for the thresholds); false when the bound does not settle the rounding.
HVT_INLINE bool PowFromLog(double ax, double y, DD l, double log_err, double* out) {
  const double ay = Abs(y);
  if (ay >= 0x1p64) {
    // |y log x| >= 2^64 * 2^-53.5: certain overflow or underflow.
    *out = (ax > 1.0) == (y > 0) ? kInf : 0.0;
    return true;
  }
  if (ay < 0x1p-70) {  // |y log x| < 2^-60
    *out = 1.0;
    return true;
  }
  DD t = TwoProd(y, l.hi);
  t = FastTwoSum(t.hi, t.lo + y * l.lo);
  // Thresholds with room for t's relative error (at most 2^-57).
  if (t.hi > 709.79) {
    *out = kInf;
    return true;
  }
  if (t.hi < -745.14) {
    *out = 0.0;
    return true;
  }
  if (Abs(t.hi) < 0x1p-55) {
    *out = 1.0;
    return true;
  }
  int k = 0;
  DD e;
  // t's absolute error (|y| times log's, and 2^-100 relative for the
  // product) is the result's relative error; 1.01 covers second-order
  // terms and the rounding of these bounds.
  const double tEps = (ay * log_err + Abs(t.hi) * 0x1p-100) * 1.01;
  ExpQuick(t.hi, t.lo, &k, &e);
  if (Finish(e, k, kExpQuickEps * 1.01 + tEps, out)) return true;
  ExpCore(t.hi, t.lo, &k, &e);
  return Finish(e, k, kExpEps * 1.01 + tEps, out);
}

// The same with log(ax) found first cheaply, then as accurately as the
// fast paths go, then in fixed point.
HVT_INLINE double PowOfPositive(double ax, double y, const DD* known_log) {
  double r;
  if (known_log != nullptr) {
    const DD l = *known_log;
    if (PowFromLog(ax, y, l, Abs(l.hi) * kLogEps * 1.01, &r)) return r;
  } else {
    double err = 0;
    const DD fast = LogFast(ax, &err);  // sets err: not inside the call below
    if (PowFromLog(ax, y, fast, err, &r)) return r;
    const DD l = LogCore(ax);
    if (PowFromLog(ax, y, l, Abs(l.hi) * kLogEps * 1.01, &r)) return r;
  }
  return detail::PowAccurate(ax, y);
}

}  // namespace

namespace {

// x^y for the exponents where it is one IEEE operation, correctly rounded
// by itself (signed zeros, infinities and NaNs included; sqrt only for x > 0,
// as sqrt(-0) and sqrt(-inf) are not pow's values). The cores often raise
// to the power 1.
HVT_INLINE bool PowByOneOperation(double x, double y, double* out) {
  if (y == 1.0) {
    *out = x;
  } else if (y == 2.0) {
    *out = x * x;
  } else if (y == -1.0) {
    *out = 1.0 / x;
  } else if (y == 0.5 && x > 0) {
    *out = std::sqrt(x);
  } else {
    return false;
  }
  return true;
}

}  // namespace

double Pow(double x, double y) {
  double quick;
  if (PowByOneOperation(x, y, &quick)) return quick;
  if (y == 0) return 1.0;
  if (x == 1.0) return 1.0;
  if (x != x || y != y) return x + y;
  const double ay = Abs(y);
  const double ax = Abs(x);
  if (ay == kInf) {
    if (ax == 1.0) return 1.0;
    return (ax < 1.0) == (y < 0) ? kInf : 0.0;
  }
  const Parity parity = ParityOf(y);
  const bool odd = parity == Parity::kOdd;
  if (x == 0) {
    if (y < 0) return odd && SignBit(x) ? -kInf : kInf;
    return odd ? x : 0.0;
  }
  if (ax == kInf) {
    const bool negative = SignBit(x) && odd;
    if (y < 0) return negative ? -0.0 : 0.0;
    return negative ? -kInf : kInf;
  }
  if (x < 0 && parity == Parity::kNone) return QuietNaN();
  const double r = ax == 1.0 ? 1.0 : PowOfPositive(ax, y, nullptr);
  return x < 0 && odd ? -r : r;
}

PowerBase::PowerBase(double x) : x_(x) {
  regular_ = x > 0 && x < kInf && x != 1.0;
  if (regular_) {
    const DD l = LogCore(x);
    log_hi_ = l.hi;
    log_lo_ = l.lo;
  }
}

double PowerBase::Pow(double y) const {
  double quick;
  if (PowByOneOperation(x_, y, &quick)) return quick;
  if (!regular_ || y == 0 || !(Abs(y) < kInf)) return hvt::math::Pow(x_, y);
  const DD l = {log_hi_, log_lo_};
  return PowOfPositive(x_, y, &l);
}

}  // namespace hvt::math
