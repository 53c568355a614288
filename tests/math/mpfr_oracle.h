// MPFR as the oracle: exp, log and pow of doubles rounded once to the
// nearest double, subnormals included (MPFR's exponent range narrowed to
// the double format's, then subnormalised).
#pragma once

#include <mpfr.h>

namespace hvt::math::testing {

class Oracle {
 public:
  Oracle() {
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_inits2(53, a_, b_, r_, static_cast<mpfr_ptr>(nullptr));
  }
  ~Oracle() { mpfr_clears(a_, b_, r_, static_cast<mpfr_ptr>(nullptr)); }
  Oracle(const Oracle&) = delete;
  Oracle& operator=(const Oracle&) = delete;

  double Exp(double x) {
    mpfr_set_d(a_, x, MPFR_RNDN);
    return Done(mpfr_exp(r_, a_, MPFR_RNDN));
  }
  double Log(double x) {
    mpfr_set_d(a_, x, MPFR_RNDN);
    return Done(mpfr_log(r_, a_, MPFR_RNDN));
  }
  double Pow(double x, double y) {
    mpfr_set_d(a_, x, MPFR_RNDN);
    mpfr_set_d(b_, y, MPFR_RNDN);
    return Done(mpfr_pow(r_, a_, b_, MPFR_RNDN));
  }

 private:
  double Done(int inexact) {
    mpfr_subnormalize(r_, inexact, MPFR_RNDN);
    return mpfr_get_d(r_, MPFR_RNDN);
  }
  mpfr_t a_, b_, r_;
};

}  // namespace hvt::math::testing
