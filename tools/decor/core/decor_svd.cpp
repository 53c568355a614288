// Golub-Reinsch singular value decomposition for the decorrelator.
//
// Each element sees exactly the arithmetic of the textbook column-by-column
// formulation, in the same order, but the matrix is walked row by row:
// - the Householder passes gather all of a step's column dot products in one
//   sweep over the rows (each product still summed in row order) and apply
//   the column updates, the row reflection and the next column's norm in a
//   second fused sweep;
// - the Givens rotations of the QR iteration never depend on U or V, so they
//   are logged and applied later to whole tiles of rows, in the order made.
// A tall matrix is thus read a few times per step instead of once per column.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "tools/decor/core/decor.h"
#include "tools/decor/core/decor_alloc.h"
#include "tools/decor/core/decor_kernels.h"

namespace hvt::decor {
namespace {

bool Stop(RunObserver* observer) {
  return observer != nullptr && observer->StopRequested();
}

// One logged column operation: a Givens rotation of columns p and q,
//   (x, z) = (m[r][p], m[r][q]) -> (x·c + z·s, z·c − x·s),
// or, with q < 0, the negation of column p.
struct ColumnOp {
  std::int32_t p;
  std::int32_t q;
  double c;
  double s;
};

// Column operations waiting to be applied to a row-major matrix. Applying
// them tile by tile keeps each row's operations in the order they were made.
class ColumnOpLog {
 public:
  static constexpr std::size_t kCapacity = 4096;

  bool Init(double* m, std::size_t rows, std::size_t ld) {
    m_ = m;
    rows_ = rows;
    ld_ = ld;
    used_ = 0;
    return detail::TryAllocate(ops_, kCapacity);
  }

  void Rotate(std::size_t p, std::size_t q, double c, double s) {
    if (used_ == kCapacity) Flush();
    ops_[used_++] = {static_cast<std::int32_t>(p), static_cast<std::int32_t>(q),
                     c, s};
  }

  void Negate(std::size_t p) {
    if (used_ == kCapacity) Flush();
    ops_[used_++] = {static_cast<std::int32_t>(p), -1, 0.0, 0.0};
  }

  void Flush() {
    if (used_ == 0) return;
    // About 16 KB of rows per tile so the tile stays in the first-level cache.
    const std::size_t tile = std::max<std::size_t>(8, 2048 / ld_);
    for (std::size_t r0 = 0; r0 < rows_; r0 += tile) {
      const std::size_t count = std::min(tile, rows_ - r0);
      double* base = m_ + r0 * ld_;
      for (std::size_t o = 0; o < used_; ++o) {
        const ColumnOp op = ops_[o];
        double* cp = base + op.p;
        if (op.q < 0) {
          for (std::size_t r = 0; r < count; ++r) cp[r * ld_] = -cp[r * ld_];
          continue;
        }
        double* cq = base + op.q;
        const double c = op.c;
        const double s = op.s;
        for (std::size_t r = 0; r < count; ++r) {
          const double x = cp[r * ld_];
          const double z = cq[r * ld_];
          cp[r * ld_] = x * c + z * s;
          cq[r * ld_] = z * c - x * s;
        }
      }
    }
    used_ = 0;
  }

 private:
  std::vector<ColumnOp> ops_;
  std::size_t used_ = 0;
  double* m_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t ld_ = 1;
};

bool SpanHolds(std::size_t size, std::size_t rows, std::size_t ld,
               std::size_t cols) {
  std::size_t need = 0;
  if (!detail::CheckedProduct(rows - 1, ld, need)) return false;
  if (need > static_cast<std::size_t>(-1) - cols) return false;
  return size >= need + cols;
}

}  // namespace

Status DecomposeSvd(std::span<double> a, std::size_t lda, std::span<double> v,
                    std::size_t ldv, std::span<double> w, std::size_t m,
                    std::size_t n, bool wantU, bool wantV, int& failIndex,
                    RunObserver* observer) {
  failIndex = 0;
  constexpr std::size_t kMaxCols = std::numeric_limits<std::int32_t>::max();
  if (m == 0 || n == 0 || n > kMaxCols || lda < n || !SpanHolds(a.size(), m, lda, n) ||
      w.size() < n)
    return Status::kInvalidInput;
  if (wantV && (ldv < n || !SpanHolds(v.size(), n, ldv, n)))
    return Status::kInvalidInput;

  std::vector<double> e;
  std::vector<double> t;   // a step's dot products, then its update factors
  std::vector<double> tn;  // the next step's dot products, gathered early
  ColumnOpLog logU;
  ColumnOpLog logV;
  if (!detail::TryAllocate(e, n) || !detail::TryAllocate(t, n) ||
      !detail::TryAllocate(tn, n) ||
      (wantU && !logU.Init(a.data(), m, lda)) ||
      (wantV && !logV.Init(v.data(), n, ldv)))
    return Status::kOutOfMemory;

  double* const A = a.data();
  double* const V = wantV ? v.data() : nullptr;
  double g = 0.0;
  double scale = 0.0;
  double anorm = 0.0;
  double s = 0.0;

  // Householder reduction to upper bidiagonal form.
  bool haveColumnScale = false;  // column i's norm already summed last step
  double nextColumnScale = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (Stop(observer)) return Status::kStopped;
    const std::size_t l = i + 1;
    double* const ri = A + i * lda;
    e[i] = scale * g;
    g = s = scale = 0.0;
    bool columnUpdate = false;
    if (i < m) {
      scale = haveColumnScale ? nextColumnScale : SumAbs(m - i, ri + i, lda);
      if (scale != 0.0) {
        for (std::size_t k = i; k < m; ++k) {
          double& x = A[k * lda + i];
          x = x / scale;
          s += x * x;
        }
        const double f = ri[i];
        g = -Sign(std::sqrt(s), f);
        const double h = f * g - s;
        ri[i] = f - g;
        std::fill(t.begin() + l, t.end(), 0.0);
        for (std::size_t k = i; k < m; ++k) {
          const double* row = A + k * lda;
          const double aki = row[i];
          for (std::size_t j = l; j < n; ++j) t[j] += aki * row[j];
        }
        for (std::size_t j = l; j < n; ++j) t[j] = t[j] / h;
        columnUpdate = true;
      }
    }
    haveColumnScale = false;
    const double columnScale = scale;
    if (columnUpdate) {
      const double aii = ri[i];
      for (std::size_t j = l; j < n; ++j) ri[j] = t[j] * aii + ri[j];
      ri[i] = columnScale * aii;
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    bool rowUpdate = false;
    if (i < m && i != n - 1) {
      scale = SumAbs(n - l, ri + l);
      if (scale != 0.0) {
        DivideBy(n - l, scale, ri + l, ri + l);
        s = SumSquares(n - l, ri + l);
        const double f = ri[l];
        g = -Sign(std::sqrt(s), f);
        const double h = f * g - s;
        ri[l] = f - g;
        DivideBy(n - l, h, ri + l, e.data() + l);
        rowUpdate = true;
      }
    }
    // Rows below i: the column update, the row reflection, and the sum of
    // |a[k][l]| that the next step starts from, each row in turn.
    const bool nextColumn = l < n && l < m;
    if (columnUpdate || rowUpdate || nextColumn) {
      double sum = 0.0;
      for (std::size_t k = l; k < m; ++k) {
        double* row = A + k * lda;
        if (columnUpdate) {
          const double aki = row[i];
          for (std::size_t j = l; j < n; ++j) row[j] = t[j] * aki + row[j];
          row[i] = columnScale * aki;
        }
        if (rowUpdate) {
          double dot = 0.0;
          for (std::size_t j = l; j < n; ++j) dot += row[j] * ri[j];
          for (std::size_t j = l; j < n; ++j) row[j] = dot * e[j] + row[j];
        }
        if (nextColumn) sum += std::fabs(row[l]);
      }
      nextColumnScale = sum;
      haveColumnScale = nextColumn;
    }
    if (rowUpdate) ScaleBy(n - l, scale, ri + l, ri + l);
    anorm = Max(anorm, std::fabs(w[i]) + std::fabs(e[i]));
  }

  // Right-hand transformations into V.
  if (wantV) {
    g = 0.0;
    for (std::size_t i = n; i-- > 0;) {
      if (Stop(observer)) return Status::kStopped;
      const std::size_t l = i + 1;
      const double* ri = A + i * lda;
      if (i < n - 1) {
        if (g != 0.0) {
          const double d = g * ri[l];
          for (std::size_t j = l; j < n; ++j) V[j * ldv + i] = ri[j] / d;
          std::fill(t.begin() + l, t.end(), 0.0);
          for (std::size_t k = l; k < n; ++k) {
            const double* vk = V + k * ldv;
            const double aik = ri[k];
            for (std::size_t j = l; j < n; ++j) t[j] += aik * vk[j];
          }
          for (std::size_t k = l; k < n; ++k) {
            double* vk = V + k * ldv;
            const double vki = vk[i];
            for (std::size_t j = l; j < n; ++j) vk[j] = t[j] * vki + vk[j];
          }
        }
        for (std::size_t j = l; j < n; ++j) {
          V[i * ldv + j] = 0.0;
          V[j * ldv + i] = 0.0;
        }
      }
      V[i * ldv + i] = 1.0;
      g = e[i];
    }
  }

  // Left-hand transformations into U, in place. Each step's dot products
  // are gathered during the previous step's sweep over the same rows.
  if (wantU) {
    bool haveDots = false;
    for (std::size_t i = std::min(m, n); i-- > 0;) {
      if (Stop(observer)) return Status::kStopped;
      const std::size_t l = i + 1;
      double* const ri = A + i * lda;
      g = w[i];
      for (std::size_t j = l; j < n; ++j) ri[j] = 0.0;
      const bool update = g != 0.0;
      if (update) {
        if (!haveDots) {
          std::fill(t.begin() + l, t.end(), 0.0);
          for (std::size_t k = l; k < m; ++k) {
            const double* row = A + k * lda;
            const double aki = row[i];
            for (std::size_t j = l; j < n; ++j) t[j] += aki * row[j];
          }
        }
        const double aii = ri[i];
        for (std::size_t j = l; j < n; ++j) t[j] = (t[j] / aii) / g;
      }
      const bool nextDots = i > 0 && w[i - 1] != 0.0;
      if (nextDots) std::fill(tn.begin() + i, tn.end(), 0.0);
      for (std::size_t k = i; k < m; ++k) {
        double* row = A + k * lda;
        if (update) {
          const double aki = row[i];
          for (std::size_t j = l; j < n; ++j) row[j] = t[j] * aki + row[j];
          row[i] = aki / g;
        } else {
          row[i] = 0.0;
        }
        if (k == i) row[i] = row[i] + 1.0;
        if (nextDots) {
          const double prev = row[i - 1];
          for (std::size_t j = i; j < n; ++j) tn[j] += prev * row[j];
        }
      }
      t.swap(tn);
      haveDots = nextDots;
    }
  }

  // Diagonalisation of the bidiagonal form by implicit-shift QR sweeps.
  for (std::size_t k = n; k-- > 0;) {
    if (Stop(observer)) return Status::kStopped;
    for (int sweeps = 0;;) {
      std::size_t l = k;
      bool cancel = false;
      for (;; --l) {
        if (std::fabs(e[l]) + anorm == anorm) break;
        if (l == 0) break;
        if (std::fabs(w[l - 1]) + anorm == anorm) {
          cancel = true;
          break;
        }
      }
      if (cancel) {
        double c = 0.0;
        double sn = 1.0;
        for (std::size_t i = l; i <= k; ++i) {
          const double f = sn * e[i];
          e[i] = c * e[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          const double h = std::sqrt(f * f + g * g);
          w[i] = h;
          c = g / h;
          sn = -(f / h);
          if (wantU) logU.Rotate(l - 1, i, c, sn);
        }
      }
      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          if (wantV) logV.Negate(k);
        }
        break;
      }
      if (sweeps == 30) {
        // The partial factors are not used, but they stay the ones the
        // rotations so far describe.
        if (wantU) logU.Flush();
        if (wantV) logV.Flush();
        failIndex = static_cast<int>(k + 1);
        return Status::kNotConverged;
      }
      ++sweeps;
      double x = w[l];
      double y = w[k - 1];
      g = e[k - 1];
      double h = e[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = std::sqrt(f * f + 1.0);
      f = ((x - z) * (x + z) + h * (y / (f + Sign(g, f)) - h)) / x;
      double c = 1.0;
      double sn = 1.0;
      for (std::size_t j = l; j < k; ++j) {
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
        if (wantV) logV.Rotate(j, i, c, sn);
        z = std::sqrt(f * f + h * h);
        w[j] = z;
        if (z != 0.0) {
          c = f / z;
          sn = h / z;
        }
        f = c * g + sn * y;
        x = c * y - sn * g;
        if (wantU) logU.Rotate(j, i, c, sn);
      }
      e[l] = 0.0;
      e[k] = f;
      w[k] = x;
    }
  }
  if (wantU) logU.Flush();
  if (wantV) logV.Flush();
  return Status::kDone;
}

}  // namespace hvt::decor
