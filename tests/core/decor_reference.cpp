// Column-by-column reference formulations; see decor_reference.h.
#include "decor_reference.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace decor_ref {
namespace {

double SignOf(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }
double MaxOf(double a, double b) { return a > b ? a : b; }

}  // namespace

void Standardize(std::vector<double>& a, std::size_t rows, std::size_t cols,
                 std::vector<double>& mean, std::vector<double>& sigma) {
  mean.assign(cols, 0.0);
  sigma.assign(cols, 0.0);
  for (std::size_t c = 0; c < cols; ++c) {
    double sum = 0.0;
    for (std::size_t t = 0; t < rows; ++t) sum += a[t * cols + c];
    const double mu = sum / static_cast<double>(rows);
    double sq = 0.0;
    for (std::size_t t = 0; t < rows; ++t) {
      const double d = a[t * cols + c] - mu;
      sq += d * d;
    }
    const double var = sq / static_cast<double>(rows) + 1e-10;
    const double sd = std::sqrt(var);
    for (std::size_t t = 0; t < rows; ++t) a[t * cols + c] = (a[t * cols + c] - mu) / sd;
    mean[c] = mu;
    sigma[c] = sd;
  }
}

int Svd(std::vector<double>& av, std::size_t lda, std::vector<double>& vv,
        std::size_t ldv, std::vector<double>& w, std::size_t m, std::size_t n,
        bool wantU, bool wantV, int& failIndex, const std::function<bool()>& stop) {
  auto a = [&](std::size_t r, std::size_t c) -> double& { return av[r * lda + c]; };
  auto v = [&](std::size_t r, std::size_t c) -> double& { return vv[r * ldv + c]; };
  auto stopped = [&] { return stop && stop(); };
  std::vector<double> e(n, 0.0);
  failIndex = 0;
  double g = 0.0, scale = 0.0, anorm = 0.0, s = 0.0;

  for (std::size_t i = 0; i < n; ++i) {
    if (stopped()) return -1;
    const std::size_t l = i + 1;
    e[i] = scale * g;
    g = s = scale = 0.0;
    if (i < m) {
      for (std::size_t k = i; k < m; ++k) scale += std::fabs(a(k, i));
      if (scale != 0.0) {
        for (std::size_t k = i; k < m; ++k) a(k, i) = a(k, i) / scale;
        for (std::size_t k = i; k < m; ++k) s += a(k, i) * a(k, i);
        double f = a(i, i);
        g = -SignOf(std::sqrt(s), f);
        const double h = f * g - s;
        a(i, i) = f - g;
        for (std::size_t j = l; j < n; ++j) {
          double t = 0.0;
          for (std::size_t k = i; k < m; ++k) t += a(k, i) * a(k, j);
          f = t / h;
          for (std::size_t k = i; k < m; ++k) a(k, j) = f * a(k, i) + a(k, j);
        }
        for (std::size_t k = i; k < m; ++k) a(k, i) = scale * a(k, i);
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i < m && i != n - 1) {
      for (std::size_t k = l; k < n; ++k) scale += std::fabs(a(i, k));
      if (scale != 0.0) {
        for (std::size_t k = l; k < n; ++k) a(i, k) = a(i, k) / scale;
        for (std::size_t k = l; k < n; ++k) s += a(i, k) * a(i, k);
        const double f = a(i, l);
        g = -SignOf(std::sqrt(s), f);
        const double h = f * g - s;
        a(i, l) = f - g;
        for (std::size_t k = l; k < n; ++k) e[k] = a(i, k) / h;
        for (std::size_t j = l; j < m; ++j) {
          double t = 0.0;
          for (std::size_t k = l; k < n; ++k) t += a(j, k) * a(i, k);
          for (std::size_t k = l; k < n; ++k) a(j, k) = t * e[k] + a(j, k);
        }
        for (std::size_t k = l; k < n; ++k) a(i, k) = scale * a(i, k);
      }
    }
    anorm = MaxOf(anorm, std::fabs(w[i]) + std::fabs(e[i]));
  }

  if (wantV) {
    g = 0.0;
    for (std::size_t ii = n; ii-- > 0;) {
      if (stopped()) return -1;
      const std::size_t i = ii, l = i + 1;
      if (i < n - 1) {
        if (g != 0.0) {
          for (std::size_t j = l; j < n; ++j) v(j, i) = a(i, j) / (g * a(i, l));
          for (std::size_t j = l; j < n; ++j) {
            double t = 0.0;
            for (std::size_t k = l; k < n; ++k) t += a(i, k) * v(k, j);
            for (std::size_t k = l; k < n; ++k) v(k, j) = t * v(k, i) + v(k, j);
          }
        }
        for (std::size_t j = l; j < n; ++j) {
          v(i, j) = 0.0;
          v(j, i) = 0.0;
        }
      }
      v(i, i) = 1.0;
      g = e[i];
    }
  }

  if (wantU) {
    for (std::size_t ii = std::min(m, n); ii-- > 0;) {
      if (stopped()) return -1;
      const std::size_t i = ii, l = i + 1;
      g = w[i];
      for (std::size_t j = l; j < n; ++j) a(i, j) = 0.0;
      if (g != 0.0) {
        for (std::size_t j = l; j < n; ++j) {
          double t = 0.0;
          for (std::size_t k = l; k < m; ++k) t += a(k, i) * a(k, j);
          const double f = (t / a(i, i)) / g;
          for (std::size_t k = i; k < m; ++k) a(k, j) = f * a(k, i) + a(k, j);
        }
        for (std::size_t j = i; j < m; ++j) a(j, i) = a(j, i) / g;
      } else {
        for (std::size_t j = i; j < m; ++j) a(j, i) = 0.0;
      }
      a(i, i) = a(i, i) + 1.0;
    }
  }

  for (std::size_t kk = n; kk-- > 0;) {
    const std::size_t k = kk;
    if (stopped()) return -1;
    int its = 0;
    for (;;) {
      std::size_t l = k;
      bool flag = false;
      for (;; --l) {
        if (std::fabs(e[l]) + anorm == anorm) break;
        if (l == 0) break;
        if (std::fabs(w[l - 1]) + anorm == anorm) {
          flag = true;
          break;
        }
      }
      if (flag) {
        double c = 0.0, sn = 1.0;
        for (std::size_t i = l; i <= k; ++i) {
          const double f = sn * e[i];
          e[i] = c * e[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          const double h = std::sqrt(f * f + g * g);
          w[i] = h;
          c = g / h;
          sn = -(f / h);
          if (wantU) {
            for (std::size_t j = 0; j < m; ++j) {
              const double y = a(j, l - 1);
              const double z = a(j, i);
              a(j, l - 1) = c * y + sn * z;
              a(j, i) = c * z - sn * y;
            }
          }
        }
      }
      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          if (wantV)
            for (std::size_t j = 0; j < n; ++j) v(j, k) = -v(j, k);
        }
        break;
      }
      if (its == 30) {
        failIndex = static_cast<int>(k + 1);
        return -1;
      }
      ++its;
      double x = w[l];
      double y = w[k - 1];
      g = e[k - 1];
      double h = e[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = std::sqrt(f * f + 1.0);
      f = ((x - z) * (x + z) + h * (y / (f + SignOf(g, f)) - h)) / x;
      double c = 1.0, sn = 1.0;
      for (std::size_t j = l; j <= k - 1; ++j) {
        const std::size_t i = j + 1;
        g = e[i];
        y = w[i];
        h = sn * g;
        g = c * g;
        z = std::sqrt(f * f + h * h);
        e[j] = z;
        c = f / z;
        sn = h / z;
        f = x * c + g * sn;
        g = g * c - x * sn;
        h = y * sn;
        y = y * c;
        if (wantV) {
          for (std::size_t r = 0; r < n; ++r) {
            const double xx = v(r, j);
            const double zz = v(r, i);
            v(r, j) = xx * c + zz * sn;
            v(r, i) = zz * c - xx * sn;
          }
        }
        z = std::sqrt(f * f + h * h);
        w[j] = z;
        if (z != 0.0) {
          c = f / z;
          sn = h / z;
        }
        f = c * g + sn * y;
        x = c * y - sn * g;
        if (wantU) {
          for (std::size_t r = 0; r < m; ++r) {
            const double yy = a(r, j);
            const double zz = a(r, i);
            a(r, j) = yy * c + zz * sn;
            a(r, i) = zz * c - yy * sn;
          }
        }
      }
      e[l] = 0.0;
      e[k] = f;
      w[k] = x;
    }
  }
  return 1;
}

void PermuteColumns(std::vector<double>& mat, const std::vector<std::int32_t>& q,
                    std::size_t rows, std::size_t cols) {
  std::vector<std::int32_t> work(cols);
  for (std::size_t i = 0; i < cols; ++i) work[i] = static_cast<std::int32_t>(i);
  for (std::size_t j = 0; j < cols; ++j) {
    if (work[j] == q[j]) continue;
    std::size_t k = j;
    while (work[k] != q[j]) ++k;
    for (std::size_t r = 0; r < rows; ++r) std::swap(mat[r * cols + j], mat[r * cols + k]);
    std::swap(work[j], work[k]);
  }
}

}  // namespace decor_ref
