// The decorrelation core: turns N input series (columns, one observation per
// row) into N mutually uncorrelated components ranked by significance, with
// the coefficients that map a standardised input row to its component values.
//
// A run, step by step (a command calls the steps itself so that it can write
// the means and sigmas and show progress in between):
//   StandardizeColumns -> DecomposeSvd -> ComputeSignificance ->
//   SortDescendingWithIndex -> PermuteColumns (U, w, V) -> ScaleCoefficients
// or all at once with Decorrelate.
//
// Matrices are row-major doubles: element (r, c) of a matrix with row stride
// ld sits at r*ld + c. Every result is exact to the bit for given inputs: each
// sum is formed in one fixed order, whatever the loop nest.
//
// Stops: the optional observer's StopRequested() is asked once at the start of
// every pass of the decomposition's four phases and once after each
// component's significance; a stop makes the step answer kStopped and
// its outputs are void. Progress() is never called: a command shows its own
// texts between the steps.
#ifndef HVT_TOOLS_DECOR_CORE_DECOR_H
#define HVT_TOOLS_DECOR_CORE_DECOR_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/core.h"

namespace hvt::decor {

// Standardises each of the `cols` columns of the rows x cols matrix `a`
// (row stride cols) in place: mean 0, population standard deviation 1.
//   mean[c]  = (Σt a[t][c]) / rows
//   sigma[c] = sqrt((Σt (a[t][c] - mean[c])²) / rows + 1e-10)
//   a[t][c]  = (a[t][c] - mean[c]) / sigma[c]
// A constant column becomes zeros with sigma 1e-5. mean and sigma hold at
// least cols values. kBadArgument when rows or cols is 0 or a span is short.
CoreStatus StandardizeColumns(std::span<double> a, std::size_t rows,
                          std::size_t cols, std::span<double> mean,
                          std::span<double> sigma);

// Thin singular value decomposition A = U·diag(w)·Vᵀ of the m x n matrix in
// `a` (row stride lda >= n), in place (Golub-Reinsch: Householder
// bidiagonalisation, then implicit-shift QR with at most 30 sweeps per
// singular value).
//   wantU: U (m x n) overwrites a; otherwise a is left as scratch.
//   wantV: V (n x n, row stride ldv >= n) is written to v; row r belongs to
//          input column r, column p to singular value p. v may be empty
//          when !wantV.
//   w:     n singular values, non-negative, in no particular order.
// failIndex is 0 on return unless the result is kNotConverged, when it is
// the 1-based number of the singular value that failed to converge.
// Results: kComplete, kStopped, kNotConverged, kOutOfMemory, kBadArgument.
// Scratch beyond a, v and w: 3n doubles, and for each of U and V a log of at
// most 4,096 pending rotations (96 KB) and a tile of about 16 KB.
CoreStatus DecomposeSvd(std::span<double> a, std::size_t lda, std::span<double> v,
                    std::size_t ldv, std::span<double> w, std::size_t m,
                    std::size_t n, bool wantU, bool wantV, int& failIndex,
                    RunObserver* observer = nullptr);

// Significance of each component from a successful decomposition (U: rows x
// cols, row stride cols; w: cols; V: cols x cols):
//   s[i] = (Σt Σk |w[i]·V[k][i] · U[t][i]|) / (rows·cols), then s[i] /= Σ s.
// The fractions add up to 1. kNoVariation (s then holds the unnormalised
// values) when the total is not a positive finite number. Polls the observer
// after each component.
CoreStatus ComputeSignificance(std::span<double> s, std::span<const double> u,
                           std::span<const double> w, std::span<const double> v,
                           std::size_t rows, std::size_t cols,
                           RunObserver* observer = nullptr);

// Sorts s[0..count-1] into descending order (heap sort, not stable) and sets
// q[p] to the position before sorting of the value now at position p.
void SortDescendingWithIndex(std::span<double> s, std::span<std::int32_t> q,
                             std::size_t count);

// Reorders the cols columns of the rows x cols matrix m (row stride cols) so
// that new column j is old column q[j]; work holds cols integers of scratch.
// Returns false, leaving m unchanged, when q is not a permutation of
// 0..cols-1 or a span is short.
bool PermuteColumns(std::span<double> m, std::span<const std::int32_t> q,
                    std::span<std::int32_t> work, std::size_t rows,
                    std::size_t cols);

// Turns V into the coefficient matrix K after the reordering. For each
// component p: if w[p] > 1e-10, V[r][p] /= (w[p]·0.001); otherwise column p
// of V and column p of U are set to zero. Then Σr z[t][r]·K[r][p] equals
// 1000·U[t][p] for every row t of the standardised data z.
void ScaleCoefficients(std::span<double> u, std::span<const double> w,
                       std::span<double> v, std::size_t rows, std::size_t cols);

enum class Layout {
  kRowMajor,     // element (t, c) at t*cols + c: one observation per row
  kColumnMajor,  // element (t, c) at c*rows + t: one series after another
};

// How a whole run reads its data: the decorrelator has no other setting.
struct DecorSettings {
  Layout layout = Layout::kRowMajor;
};

// Which step a failed Decorrelate run stopped in.
enum class Step { kNone, kStandardize, kDecompose, kSignificance, kReorder };

// Where a whole run writes its answers, in caller storage of at least the
// sizes given.
struct DecorOutputs {
  std::span<double> scores;        // rows x cols, row-major: 1000·U[t][p]
  std::span<double> significance;  // cols fractions, descending, sum 1
  std::span<double> coefficients;  // cols x cols, row-major: K[r][p]
  std::span<double> means;         // cols, in input column order
  std::span<double> sigmas;        // cols, in input column order
};

// How a whole run ended.
struct DecorRun {
  CoreStatus status = CoreStatus::kBadArgument;
  Step failedStep = Step::kNone;
  int failIndex = 0;  // see DecomposeSvd
};

// The whole run on a rows x cols data matrix in the given layout: standardise,
// decompose, rank, reorder, scale. Components come out in descending order of
// significance; component p's score in row t is Σr z[t][r]·K[r][p] with
// z[t][r] = (x[t][r] - means[r]) / sigmas[r]. The scores are the working
// matrix of the run. On any status but kComplete the scores, significance
// and coefficients hold no answer; means and sigmas hold theirs once the
// standardisation has run. kBadArgument, nothing written, when rows or cols
// is 0 or the data or an output is short.
DecorRun Decorrelate(std::span<const double> data, std::size_t rows, std::size_t cols,
                     const DecorSettings& settings, const DecorOutputs& out,
                     RunObserver* observer = nullptr);

// Every row of the scores is defined.
constexpr std::size_t DecorFirstDefinedRow(const DecorSettings&) { return 0; }

// Threads a long decomposition may share its row sweeps among, the calling
// thread included; 0 (the default) means one per processor, 1 keeps all the
// work on the calling thread. Observers are only ever called from the
// calling thread, and results are the same bits whatever the count.
void SetThreadLimit(unsigned threads);
unsigned ThreadLimit();

namespace detail {
// Test hook: the next `count` allocations of the core succeed, the one after
// fails (reported as kOutOfMemory). A negative count switches failures off.
// Not thread-safe; the add-in runs on one thread.
void FailAllocationAfter(long count);
}  // namespace detail

}  // namespace hvt::decor

#endif  // HVT_TOOLS_DECOR_CORE_DECOR_H
