// Wide fixed-point arithmetic and the accurate exp and log built on it.
//
// Every operation either is exact or truncates its magnitude toward zero, so
// each one errs by less than one unit of 2^-224; the bounds below add those
// units up.
#include "math/fixed_point.h"

#include <cassert>
#include <cstring>

namespace hvt::math::detail {

namespace {

constexpr int kBits = kLimbs * 32;  // bit i of the limbs weighs 2^(i - 224)

std::uint64_t Bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

double FromBits(std::uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// 2^n for a normal power of two.
double Pow2(int n) { return FromBits(static_cast<std::uint64_t>(n + 1023) << 52); }

int CmpMag(const Fixed& a, const Fixed& b) {
  for (int i = kLimbs - 1; i >= 0; --i) {
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
  }
  return 0;
}

bool IsZero(const Fixed& a) {
  for (std::uint32_t limb : a.w) {
    if (limb != 0) return false;
  }
  return true;
}

Fixed AddMag(const Fixed& a, const Fixed& b) {
  Fixed r;
  std::uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t t = std::uint64_t{a.w[i]} + b.w[i] + carry;
    r.w[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  return r;
}

// a - b for |a| >= |b|.
Fixed SubMag(const Fixed& a, const Fixed& b) {
  Fixed r;
  std::uint32_t borrow = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t t = std::uint64_t{a.w[i]} - b.w[i] - borrow;
    r.w[i] = static_cast<std::uint32_t>(t);
    borrow = (t >> 32) != 0 ? 1 : 0;
  }
  return r;
}

}  // namespace

Fixed MulSmall(const Fixed& a, std::uint32_t s) {
  Fixed r;
  r.neg = a.neg;
  std::uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t t = std::uint64_t{a.w[i]} * s + carry;
    r.w[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  assert(carry == 0);
  return r;
}

// Truncated quotient: error below 2^-224.
Fixed DivSmall(const Fixed& a, std::uint32_t d) {
  Fixed r;
  r.neg = a.neg;
  std::uint64_t rem = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const std::uint64_t t = (rem << 32) | a.w[i];
    r.w[i] = static_cast<std::uint32_t>(t / d);
    rem = t % d;
  }
  return r;
}

namespace {

Fixed Bit(int index) {
  Fixed r;
  r.w[index / 32] = std::uint32_t{1} << (index % 32);
  return r;
}

}  // namespace

Fixed One() { return Bit(kFracBits); }

namespace {

bool TestBit(const Fixed& a, int index) { return (a.w[index / 32] >> (index % 32)) & 1u; }

// Bits from..from+63 of the magnitude as an integer (bits past the top read 0).
std::uint64_t GetBits(const Fixed& a, int from) {
  std::uint64_t r = 0;
  for (int i = 0; i < 64 && from + i < kBits; ++i) {
    if (from + i >= 0 && TestBit(a, from + i)) r |= std::uint64_t{1} << i;
  }
  return r;
}

// The magnitude with every bit at or above index cleared.
Fixed Below(const Fixed& a, int index) {
  Fixed r = a;
  r.neg = false;
  for (int i = index; i < kBits; ++i) r.w[i / 32] &= ~(std::uint32_t{1} << (i % 32));
  return r;
}

int LeadingBit(const Fixed& a) {
  for (int i = kBits - 1; i >= 0; --i) {
    if (TestBit(a, i)) return i;
  }
  return -1;
}

// A double within a few units of 2^-60 of a (only used to pick a reduction).
double Approx(const Fixed& a) {
  double v = 0;
  for (int i = 0; i < kLimbs; ++i) v += static_cast<double>(a.w[i]) * Pow2(32 * i - kFracBits);
  return a.neg ? -v : v;
}

}  // namespace

Fixed FromDouble(double v) {
  Fixed r;
  const std::uint64_t b = Bits(v);
  const int field = static_cast<int>((b >> 52) & 0x7ff);
  std::uint64_t m = b & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;
  if (field != 0) {
    m |= std::uint64_t{1} << 52;
    e = field - 1075;
  }
  if (m == 0) return r;
  while ((m & 1) == 0) {
    m >>= 1;
    ++e;
  }
  const int shift = e + kFracBits;  // position of the mantissa's lowest bit
  assert(shift >= 0 && shift + 53 <= kBits);
  for (int i = 0; i < 53; ++i) {
    if ((m >> i) & 1) r.w[(shift + i) / 32] |= std::uint32_t{1} << ((shift + i) % 32);
  }
  r.neg = (b >> 63) != 0;
  return r;
}

Fixed Add(const Fixed& a, const Fixed& b) {
  Fixed r;
  if (a.neg == b.neg) {
    r = AddMag(a, b);
    r.neg = a.neg;
  } else if (CmpMag(a, b) >= 0) {
    r = SubMag(a, b);
    r.neg = a.neg;
  } else {
    r = SubMag(b, a);
    r.neg = b.neg;
  }
  if (IsZero(r)) r.neg = false;
  return r;
}

Fixed Sub(const Fixed& a, const Fixed& b) {
  Fixed nb = b;
  nb.neg = !b.neg;
  return Add(a, nb);
}

Fixed Mul(const Fixed& a, const Fixed& b) {
  std::uint32_t full[2 * kLimbs] = {};
  for (int i = 0; i < kLimbs; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < kLimbs; ++j) {
      const std::uint64_t t = std::uint64_t{a.w[i]} * b.w[j] + full[i + j] + carry;
      full[i + j] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    full[i + kLimbs] = static_cast<std::uint32_t>(carry);
  }
  // The product has 448 fraction bits; keep 224.
  Fixed r;
  for (int k = 0; k < kLimbs; ++k) r.w[k] = full[k + kFracBits / 32];
  assert(full[2 * kLimbs - 1] == 0 && full[2 * kLimbs - 2] == 0);
  r.neg = a.neg != b.neg && !IsZero(r);
  return r;
}

// ln 2 = 2 atanh(1/3) = sum over j of 2 / ((2j+1) 3^(2j+1)), summed with 40
// guard bits: 75 terms leave a tail below 2^-240, and each of the 150
// truncations costs less than 2^-264, so after the final truncation the
// value errs by less than 2^-223.
const Fixed& Ln2() {
  static const Fixed value = [] {
    constexpr int kGuard = 40;
    Fixed power = DivSmall(Bit(kFracBits + kGuard), 3);  // 2^40 / 3^(2j+1)
    Fixed sum;
    for (std::uint32_t j = 0; j < 75; ++j) {
      sum = AddMag(sum, DivSmall(power, 2 * j + 1));
      power = DivSmall(power, 9);
    }
    sum = AddMag(sum, sum);
    Fixed r;
    for (int i = 0; i < kBits - kGuard; ++i) {
      if (TestBit(sum, i + kGuard)) r.w[i / 32] |= std::uint32_t{1} << (i % 32);
    }
    return r;
  }();
  return value;
}

// t = k ln2 + R with |R| <= ln2/2 + 2^-40; ln2 errs by less than 2^-223, so
// R errs by less than |k| 2^-223 <= 2^-212.9 for |k| <= 1600.
// exp(R) by Horner on the Taylor series to degree 42:
//   s <- 1 + R s / n,  n = 42 .. 1.
// The tail after degree 42 is below 0.35^43 / 43! < 2^-235. Each step
// truncates twice (2^-223 together) and damps the error it is handed by
// |R|/n <= 0.35, so the sum errs by less than 2^-223 / 0.65 < 2^-222.3.
// With R's own error (times exp(R) <= 1.42): below 2^-212.3 absolutely,
// and E >= 0.70 makes that a relative error below 2^-211.7.
Fixed ExpParts(const Fixed& t, int* k) {
  const double v = Approx(t) * 1.4426950408889634;
  const int n = static_cast<int>(v >= 0 ? v + 0.5 : v - 0.5);
  assert(n >= -1600 && n <= 1600);
  Fixed kln2 = MulSmall(Ln2(), static_cast<std::uint32_t>(n >= 0 ? n : -n));
  kln2.neg = n < 0;
  const Fixed r = Sub(t, kln2);
  const Fixed one = One();
  Fixed s = one;
  for (std::uint32_t d = 42; d >= 1; --d) s = Add(one, DivSmall(Mul(r, s), d));
  *k = n;
  return s;
}

// x = m 2^e with m = M/D in [sqrt(1/2), sqrt(2)), M and D integers below
// 2^54. log m = 2 atanh(z), z = (M - D)/(M + D), |z| <= 0.1716, by long
// division (truncated: error below 2^-224), and
//   atanh(z) = z S(z^2),  S = sum over j of z^(2j)/(2j+1), to j = 44.
// The tail is below (z^2)^45 < 2^-228. In Horner's steps each new term
// 1/(2j+1) and product truncate (2^-223 together), damped by z^2 <= 0.03:
// S errs by less than 2^-222.9; S is in [1, 1.011].
// e = 0: |z| >= 2^-54 (M != D), so z's error is relative 2^-170 at most and
// log m = 2 z S carries a relative error below 2^-168.5.
// e != 0: e ln2 errs by less than 1075 * 2^-223 < 2^-212.9 and log m by
// less than 2^-220; |log x| >= ln2 - 0.347 makes it relative 2^-211.
Fixed LogOf(double x) {
  std::uint64_t b = Bits(x);
  int field = static_cast<int>(b >> 52);
  std::uint64_t m = b & ((std::uint64_t{1} << 52) - 1);
  int e;
  if (field == 0) {  // subnormal: normalise the integer mantissa
    e = -1074;
    while ((m >> 52) == 0) {
      m <<= 1;
      --e;
    }
  } else {
    m |= std::uint64_t{1} << 52;
    e = field - 1075;
  }
  // x = m 2^e with m in [2^52, 2^53).
  std::uint64_t d = std::uint64_t{1} << 52;
  if (m > 6369051672525772u) d <<= 1;  // m above sqrt(2) 2^52
  e += d == (std::uint64_t{1} << 52) ? 52 : 53;
  const bool below = m < d;
  std::uint64_t num = below ? d - m : m - d;
  const std::uint64_t den = m + d;
  Fixed z;
  for (int i = kFracBits - 1; i >= 0; --i) {
    num <<= 1;
    if (num >= den) {
      num -= den;
      z.w[i / 32] |= std::uint32_t{1} << (i % 32);
    }
  }
  const Fixed z2 = Mul(z, z);
  const Fixed one = One();
  Fixed s = DivSmall(one, 2 * 44 + 1);
  for (std::uint32_t j = 44; j-- > 0;) s = Add(DivSmall(one, 2 * j + 1), Mul(z2, s));
  Fixed logm = Mul(z, s);
  logm = AddMag(logm, logm);
  logm.neg = below && !IsZero(logm);
  if (e == 0) return logm;
  Fixed eln2 = MulSmall(Ln2(), static_cast<std::uint32_t>(e >= 0 ? e : -e));
  eln2.neg = e < 0;
  return Add(eln2, logm);
}

double ScaleExact(double v, int e) {
  while (e > 1000) {
    v *= Pow2(1000);
    e -= 1000;
  }
  while (e < -1000) {
    v *= Pow2(-1000);
    e += 1000;
  }
  return v * Pow2(e);
}

double RoundScaled(const Fixed& v, int k, int rel_bits, bool* decided) {
  *decided = true;
  const int lead = LeadingBit(v);
  assert(lead >= 0);
  const int p = lead - kFracBits;  // 2^p <= v < 2^(p+1)
  if (p + k <= -1077) return 0.0;  // below 2^-1075 even with the error
  int ue = p + k - 52;             // weight of the result's last bit
  if (ue < -1074) ue = -1074;
  const int ib = ue - k + kFracBits;  // that weight's bit index in v
  assert(ib >= 1);
  std::uint64_t n = GetBits(v, ib);
  const Fixed rest = Below(v, ib);
  const Fixed half = Bit(ib - 1);
  int it = p + 1 - rel_bits + kFracBits;  // the error bound's bit index
  if (it < 0) it = 0;
  bool up;
  if (it >= ib - 1) {
    *decided = false;
    up = CmpMag(rest, half) > 0;
  } else {
    const Fixed tol = Bit(it);
    if (CmpMag(rest, SubMag(half, tol)) < 0) {
      up = false;
    } else if (CmpMag(rest, AddMag(half, tol)) > 0) {
      up = true;
    } else {
      *decided = false;
      up = CmpMag(rest, half) > 0 || (CmpMag(rest, half) == 0 && (n & 1));
    }
  }
  if (up) ++n;
  return ScaleExact(static_cast<double>(n), ue);
}

}  // namespace hvt::math::detail
