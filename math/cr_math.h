// exp, log and pow correctly rounded to nearest for every double argument,
// computed with IEEE +, -, *, / and integer operations only, so every
// platform and C runtime gets the same bits. The cores call these instead
// of the C library's.
//
// Method: a fast evaluation in double-double arithmetic with a proven
// relative error bound; when the bound does not settle the rounding, an
// accurate evaluation in 224-bit fixed point (math/fixed_point.h), and for
// pow a check for results that are exactly half-way between two doubles.
// Special values follow C99 Annex F (as glibc and MPFR do).
#pragma once

namespace hvt::math {

// Exp is defined inline (math/cr_math_inline.h, included at the end), but
// where HVT_MATH_OUT_OF_LINE is defined: the benchmark's baseline over the
// C library's functions defines its own.
#ifdef HVT_MATH_OUT_OF_LINE
double Exp(double x);
#endif
double Log(double x);
double Pow(double x, double y);

// Pow(x, y) for one x and many y: the same results, with the logarithm of x
// worked out once.
class PowerBase {
 public:
  explicit PowerBase(double x);
  double Pow(double y) const;

 private:
  double x_;
  bool regular_ = false;  // finite, positive and not 1
  double log_hi_ = 0, log_lo_ = 0;
};

namespace detail {
// The accurate paths alone, for tests: finite arguments in the ranges the
// fast paths hand over (Exp: 2^-54 <= |x| <= 746; Log: finite x > 0,
// x != 1; Pow: x > 0, x != 1, 2^-70 <= |y| < 2^64 with |y log x| <= 746).
double ExpAccurate(double x);
double LogAccurate(double x);
double PowAccurate(double x, double y);
// x^y when it is a double, or half-way between two doubles, exactly; false
// when x^y is not of the form n 2^e with an odd n below 2^64.
bool ExactPow(double x, double y, double* result);
}  // namespace detail

}  // namespace hvt::math

#ifndef HVT_MATH_OUT_OF_LINE
#include "math/cr_math_inline.h"
#endif
