// Vector kernels of the decorrelator's singular value decomposition.
// Every sum starts from 0.0 and adds the terms in index order, so a kernel
// gives the same bits wherever it is used. Strided kernels take an element
// step per array; the contiguous twins walk consecutive elements.
#ifndef HVT_TOOLS_DECOR_CORE_DECOR_KERNELS_H
#define HVT_TOOLS_DECOR_CORE_DECOR_KERNELS_H

#include <cmath>
#include <cstddef>

namespace hvt::decor {

// |a| when b >= 0 (so also for b = -0.0), otherwise -|a|.
inline double Sign(double a, double b) {
  return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

// a when a > b, otherwise b (so a NaN in a loses, a NaN in b wins).
inline double Max(double a, double b) { return a > b ? a : b; }

// Σ |x[i·step]|, i = 0..count-1.
inline double SumAbs(std::size_t count, const double* x, std::size_t step) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += std::fabs(x[i * step]);
  return sum;
}
inline double SumAbs(std::size_t count, const double* x) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += std::fabs(x[i]);
  return sum;
}

// Σ x[i·step]².
inline double SumSquares(std::size_t count, const double* x, std::size_t step) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += x[i * step] * x[i * step];
  return sum;
}
inline double SumSquares(std::size_t count, const double* x) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += x[i] * x[i];
  return sum;
}

// Σ x[i·xstep]·y[i·ystep], summed in index order.
inline double Dot(std::size_t count, const double* x, std::size_t xstep,
                  const double* y, std::size_t ystep) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += x[i * xstep] * y[i * ystep];
  return sum;
}

// d[i] = a·x[i] + y[i]; d may be y.
inline void AddScaled(std::size_t count, double a, const double* x,
                      std::size_t xstep, const double* y, std::size_t ystep,
                      double* d, std::size_t dstep) {
  for (std::size_t i = 0; i < count; ++i)
    d[i * dstep] = a * x[i * xstep] + y[i * ystep];
}
inline void AddScaled(std::size_t count, double a, const double* x,
                      const double* y, double* d) {
  for (std::size_t i = 0; i < count; ++i) d[i] = a * x[i] + y[i];
}

// d[i] = a·x[i]; d may be x.
inline void ScaleBy(std::size_t count, double a, const double* x,
                    std::size_t xstep, double* d, std::size_t dstep) {
  for (std::size_t i = 0; i < count; ++i) d[i * dstep] = a * x[i * xstep];
}
inline void ScaleBy(std::size_t count, double a, const double* x, double* d) {
  for (std::size_t i = 0; i < count; ++i) d[i] = a * x[i];
}

// d[i] = x[i] / a; d may be x.
inline void DivideBy(std::size_t count, double a, const double* x,
                     std::size_t xstep, double* d, std::size_t dstep) {
  for (std::size_t i = 0; i < count; ++i) d[i * dstep] = x[i * xstep] / a;
}
inline void DivideBy(std::size_t count, double a, const double* x, double* d) {
  for (std::size_t i = 0; i < count; ++i) d[i] = x[i] / a;
}

// d[i] = 0.
inline void ZeroFill(std::size_t count, double* d, std::size_t step) {
  for (std::size_t i = 0; i < count; ++i) d[i * step] = 0.0;
}
inline void ZeroFill(std::size_t count, double* d) {
  for (std::size_t i = 0; i < count; ++i) d[i] = 0.0;
}

// d[i] = -x[i]; d may be x.
inline void Negate(std::size_t count, const double* x, std::size_t xstep,
                   double* d, std::size_t dstep) {
  for (std::size_t i = 0; i < count; ++i) d[i * dstep] = -x[i * xstep];
}

}  // namespace hvt::decor

#endif  // HVT_TOOLS_DECOR_CORE_DECOR_KERNELS_H
