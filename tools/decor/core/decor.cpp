// Decorrelation steps around the decomposition: standardisation,
// significance, ranking, column reordering, coefficient scaling, and the
// whole run in one call.
#include "tools/decor/core/decor.h"

#include <algorithm>
#include <cmath>

#include "tools/decor/core/decor_alloc.h"

namespace hvt::decor {

namespace detail {
namespace {
long allocationsBeforeFailure = -1;
}  // namespace

void FailAllocationAfter(long count) { allocationsBeforeFailure = count; }

bool AllocationShouldFail() {
  if (allocationsBeforeFailure < 0) return false;
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    return true;
  }
  --allocationsBeforeFailure;
  return false;
}
}  // namespace detail

namespace {

bool Stop(RunObserver* observer) {
  return observer != nullptr && observer->StopRequested();
}

bool MatrixSize(std::size_t rows, std::size_t cols, std::size_t& cells) {
  return rows != 0 && cols != 0 && detail::CheckedProduct(rows, cols, cells);
}

}  // namespace

// Row by row, with one running sum per column: each column's sums keep
// their row order, and a tall matrix is read three times in all.
CoreStatus StandardizeColumns(std::span<double> a, std::size_t rows,
                          std::size_t cols, std::span<double> mean,
                          std::span<double> sigma) {
  std::size_t cells = 0;
  if (!MatrixSize(rows, cols, cells) || a.size() < cells ||
      mean.size() < cols || sigma.size() < cols)
    return CoreStatus::kBadArgument;
  double* const A = a.data();
  double* const mu = mean.data();
  double* const sd = sigma.data();
  const double count = static_cast<double>(rows);

  std::fill(mu, mu + cols, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* row = A + t * cols;
    for (std::size_t c = 0; c < cols; ++c) mu[c] += row[c];
  }
  for (std::size_t c = 0; c < cols; ++c) mu[c] = mu[c] / count;

  std::fill(sd, sd + cols, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* row = A + t * cols;
    for (std::size_t c = 0; c < cols; ++c) {
      const double d = row[c] - mu[c];
      sd[c] += d * d;
    }
  }
  for (std::size_t c = 0; c < cols; ++c) sd[c] = std::sqrt(sd[c] / count + 1e-10);

  for (std::size_t t = 0; t < rows; ++t) {
    double* row = A + t * cols;
    for (std::size_t c = 0; c < cols; ++c) row[c] = (row[c] - mu[c]) / sd[c];
  }
  return CoreStatus::kComplete;
}

CoreStatus ComputeSignificance(std::span<double> s, std::span<const double> u,
                           std::span<const double> w, std::span<const double> v,
                           std::size_t rows, std::size_t cols,
                           RunObserver* observer) {
  std::size_t cells = 0;
  std::size_t square = 0;
  if (!MatrixSize(rows, cols, cells) || !MatrixSize(cols, cols, square) ||
      u.size() < cells || v.size() < square || w.size() < cols ||
      s.size() < cols)
    return CoreStatus::kBadArgument;
  std::vector<double> p;
  if (!detail::TryAllocate(p, square)) return CoreStatus::kOutOfMemory;
  for (std::size_t i = 0; i < cols; ++i)
    for (std::size_t k = 0; k < cols; ++k) p[i * cols + k] = w[i] * v[k * cols + i];

  // The divisor is the integer product rows·cols, made a double once.
  const double divisor = static_cast<double>(cells);
  for (std::size_t i = 0; i < cols; ++i) {
    const double* pi = p.data() + i * cols;
    double sum = 0.0;
    for (std::size_t t = 0; t < rows; ++t) {
      const double uti = u[t * cols + i];
      for (std::size_t k = 0; k < cols; ++k) sum += std::fabs(pi[k] * uti);
    }
    s[i] = sum / divisor;
    if (Stop(observer)) return CoreStatus::kStopped;
  }

  double total = 0.0;
  for (std::size_t i = 0; i < cols; ++i) total += s[i];
  // With no variation at all there is nothing to rank; dividing would turn
  // every fraction into NaN.
  if (!(total > 0.0) || !std::isfinite(total)) return CoreStatus::kNoVariation;
  for (std::size_t i = 0; i < cols; ++i) s[i] = s[i] / total;
  return CoreStatus::kComplete;
}

void SortDescendingWithIndex(std::span<double> s, std::span<std::int32_t> q,
                             std::size_t count) {
  count = std::min({count, s.size(), q.size()});
  for (std::size_t i = 0; i < count; ++i) q[i] = static_cast<std::int32_t>(i);
  if (count < 2) return;
  // 1-based positions over s and q.
  double* const sp = s.data();
  std::int32_t* const qp = q.data();
  auto S = [sp](std::size_t i) -> double& { return sp[i - 1]; };
  auto Q = [qp](std::size_t i) -> std::int32_t& { return qp[i - 1]; };
  std::size_t left = count / 2 + 1;
  std::size_t right = count;
  for (;;) {
    double value;
    std::int32_t index;
    if (left > 1) {
      --left;
      value = S(left);
      index = Q(left);
    } else {
      value = S(right);
      index = Q(right);
      S(right) = S(1);
      Q(right) = Q(1);
      if (--right == 1) {
        S(1) = value;
        Q(1) = index;
        return;
      }
    }
    std::size_t i = left;
    std::size_t j = left + left;
    while (j <= right) {
      if (j < right && S(j) > S(j + 1)) ++j;
      if (value > S(j)) {
        S(i) = S(j);
        Q(i) = Q(j);
        i = j;
        j += j;
      } else {
        break;
      }
    }
    S(i) = value;
    Q(i) = index;
  }
}

// The swaps are worked out once on the index array and then applied to each
// row in turn; moving values is exact, so the order of the moves is free.
bool PermuteColumns(std::span<double> m, std::span<const std::int32_t> q,
                    std::span<std::int32_t> work, std::size_t rows,
                    std::size_t cols) {
  std::size_t cells = 0;
  if (!detail::CheckedProduct(rows, cols, cells) || m.size() < cells ||
      q.size() < cols || work.size() < cols)
    return false;
  for (std::size_t i = 0; i < cols; ++i) work[i] = static_cast<std::int32_t>(i);
  // work[j] becomes the column swapped with j at step j; positions below j
  // are never searched again, so the index array can hold that record.
  for (std::size_t j = 0; j < cols; ++j) {
    std::size_t k = j;
    while (k < cols && work[k] != q[j]) ++k;
    if (k == cols) return false;  // q is not a permutation
    work[k] = work[j];
    work[j] = static_cast<std::int32_t>(k);
  }
  for (std::size_t t = 0; t < rows; ++t) {
    double* row = m.data() + t * cols;
    for (std::size_t j = 0; j < cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(work[j]);
      if (k != j) std::swap(row[j], row[k]);
    }
  }
  return true;
}

void ScaleCoefficients(std::span<double> u, std::span<const double> w,
                       std::span<double> v, std::size_t rows, std::size_t cols) {
  std::size_t cells = 0;
  std::size_t square = 0;
  if (!detail::CheckedProduct(rows, cols, cells) ||
      !detail::CheckedProduct(cols, cols, square) || u.size() < cells ||
      v.size() < square || w.size() < cols)
    return;
  for (std::size_t p = 0; p < cols; ++p) {
    if (w[p] > 1e-10) {
      const double divisor = w[p] * 0.001;
      for (std::size_t r = 0; r < cols; ++r) v[r * cols + p] = v[r * cols + p] / divisor;
    } else {
      for (std::size_t r = 0; r < cols; ++r) v[r * cols + p] = 0.0;
      for (std::size_t t = 0; t < rows; ++t) u[t * cols + p] = 0.0;
    }
  }
}

DecorRun Decorrelate(std::span<const double> data, std::size_t rows, std::size_t cols,
                     const DecorSettings& settings, const DecorOutputs& out,
                     RunObserver* observer) {
  DecorRun run;
  std::size_t cells = 0;
  std::size_t square = 0;
  if (!MatrixSize(rows, cols, cells) || !MatrixSize(cols, cols, square) ||
      data.size() < cells || out.scores.size() < cells || out.significance.size() < cols ||
      out.coefficients.size() < square || out.means.size() < cols || out.sigmas.size() < cols)
    return run;
  auto fail = [&run](CoreStatus status, Step step) {
    run.status = status;
    run.failedStep = step;
    return run;
  };

  // The scores are the working matrix: standardised data, then U.
  const std::span<double> a = out.scores.first(cells);
  const std::span<double> v = out.coefficients.first(square);
  const std::span<double> s = out.significance.first(cols);
  if (settings.layout == Layout::kRowMajor) {
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cells), a.begin());
  } else {
    for (std::size_t t = 0; t < rows; ++t)
      for (std::size_t c = 0; c < cols; ++c) a[t * cols + c] = data[c * rows + t];
  }
  StandardizeColumns(a, rows, cols, out.means, out.sigmas);

  std::vector<double> w;
  if (!detail::TryAllocate(w, cols)) return fail(CoreStatus::kOutOfMemory, Step::kDecompose);
  CoreStatus status =
      DecomposeSvd(a, cols, v, cols, w, rows, cols, true, true, run.failIndex, observer);
  if (status != CoreStatus::kComplete) return fail(status, Step::kDecompose);

  std::vector<std::int32_t> q;
  std::vector<std::int32_t> work;
  if (!detail::TryAllocate(q, cols) || !detail::TryAllocate(work, cols))
    return fail(CoreStatus::kOutOfMemory, Step::kSignificance);
  status = ComputeSignificance(s, a, w, v, rows, cols, observer);
  if (status != CoreStatus::kComplete) return fail(status, Step::kSignificance);
  SortDescendingWithIndex(s, q, cols);
  if (!PermuteColumns(a, q, work, rows, cols) || !PermuteColumns(w, q, work, 1, cols) ||
      !PermuteColumns(v, q, work, cols, cols))
    return fail(CoreStatus::kBadArgument, Step::kReorder);
  ScaleCoefficients(a, w, v, rows, cols);

  for (double& x : a) x = x * 1000.0;
  run.status = CoreStatus::kComplete;
  return run;
}

}  // namespace hvt::decor
