// The baseline for bench/cr_math.cpp: compiled with -Dhvt=hvt_libm together
// with the cores that call exp, log or pow, so those cores exist a second
// time in this program, computing with the C library's functions.
#include <cmath>
#include <cstddef>
#include <span>

#include "math/cr_math.h"
#include "tools/klx/core/klx_filter.h"
#include "tools/klx/core/pqe_filter.h"
#include "tools/spd/core/spd.h"

namespace hvt::math {
double Exp(double x) { return std::exp(x); }
double Log(double x) { return std::log(x); }
double Pow(double x, double y) { return std::pow(x, y); }
PowerBase::PowerBase(double x) : x_(x) {}
double PowerBase::Pow(double y) const { return std::pow(x_, y); }
}  // namespace hvt::math

extern "C" {
void hvt_libm_klx(const double* x, std::size_t n, double s, double p, double* y) {
  hvt::klx::KlxFilter(std::span<const double>(x, n), {s, p}, std::span<double>(y, n));
}
void hvt_libm_pqe(const double* x, std::size_t n, double s, double* y) {
  hvt::klx::PqeFilter(std::span<const double>(x, n), {s}, std::span<double>(y, n));
}
void hvt_libm_spd(const double* x, std::size_t n, int depth, double* y) {
  hvt::spd::SpdSeries(std::span<const double>(x, n), {depth}, std::span<double>(y, n));
}
}
