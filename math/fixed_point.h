// Wide fixed-point arithmetic for the accurate paths of the correctly
// rounded functions: 288-bit numbers (64 integer bits, 224 fraction bits) in
// 32-bit limbs, so the same integer operations run on every target,
// 32-bit ones included, with no floating point at all.
#pragma once

#include <cstdint>

namespace hvt::math::detail {

constexpr int kLimbs = 9;
constexpr int kFracBits = 224;

// Sign and magnitude; w[0] is the least significant limb (2^-224 units).
struct Fixed {
  bool neg = false;
  std::uint32_t w[kLimbs] = {};
};

// Exact conversion; needs |v| < 2^64 with no bit below 2^-224.
Fixed FromDouble(double v);
Fixed Add(const Fixed& a, const Fixed& b);
Fixed Sub(const Fixed& a, const Fixed& b);
// Product truncated toward zero: error below 2^-224.
Fixed Mul(const Fixed& a, const Fixed& b);
// Exact product and truncated quotient (error below 2^-224) by an integer.
Fixed MulSmall(const Fixed& a, std::uint32_t s);
Fixed DivSmall(const Fixed& a, std::uint32_t d);
Fixed One();

// ln 2, rounded down to 224 fraction bits (error below 2^-224).
const Fixed& Ln2();

// exp(t) = E * 2^k with E in [0.70, 1.42]. For |t| <= 1100 and t exact,
// E carries a relative error below 2^-212 (derivation in fixed_point.cpp).
Fixed ExpParts(const Fixed& t, int* k);

// log(x) for a finite x > 0, x != 1: relative error below 2^-166.
Fixed LogOf(double x);

// Rounds v * 2^k (v > 0, known to a relative error below 2^-rel_bits) to the
// nearest double. Sets *decided to false, and returns the nearest double to
// v * 2^k, when the error bound straddles a rounding boundary.
double RoundScaled(const Fixed& v, int k, int rel_bits, bool* decided);

// v * 2^e for an integer-valued v (|v| <= 2^53) whose product is a double
// or overflows: each step is exact.
double ScaleExact(double v, int e);

}  // namespace hvt::math::detail
