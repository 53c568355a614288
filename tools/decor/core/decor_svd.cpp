// Golub-Reinsch singular value decomposition for the decorrelator.
//
// Each element sees exactly the arithmetic of the textbook column-by-column
// formulation, in the same order, but the matrix is walked row by row:
// - a Householder step sweeps the rows three times: scale its column, gather
//   all of its column dot products (each still summed in row order, the
//   running sums held in registers), then apply the column update, the row
//   reflection and the next column's norm in one fused sweep;
// - a left-hand step sweeps its rows once, gathering the next step's sums
//   on the way;
// - the Givens rotations of the QR iteration never depend on U or V, so they
//   are logged and applied later to whole tiles of rows, in the order made.
// A tall matrix is thus read a few times per step instead of once per column.
// Vector code works lane by lane (no fused multiply-add), so it gives the
// scalar bits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "tools/decor/core/decor.h"
#include "tools/decor/core/decor_alloc.h"
#include "tools/decor/core/decor_kernels.h"
#include "tools/decor/core/decor_team.h"

namespace hvt::decor {
namespace {

bool Stop(RunObserver* observer) {
  return observer != nullptr && observer->StopRequested();
}

// Two doubles operated on lane by lane: each lane gets exactly the scalar
// IEEE operation, so results are the same bits as a scalar loop.
typedef double Pair __attribute__((vector_size(16)));

inline Pair Load(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
inline Pair Splat(double x) { return Pair{x, x}; }

// t[j] = t[j] + a·row[j], j = 0..count-1: one more term of each running sum.
void AccumulateRow(std::size_t count, double a, const double* row, double* t) {
  const Pair av = Splat(a);
  std::size_t j = 0;
  for (; j + 2 <= count; j += 2) Store(t + j, Load(t + j) + av * Load(row + j));
  for (; j < count; ++j) t[j] = t[j] + a * row[j];
}

// Calls f(std::integral_constant<std::size_t, W>) with W = width when
// width is 1..16, so that short rows get loops of fixed length, and with
// W = 0 (length known only at run time) otherwise.
template <typename F, std::size_t... I>
void WithWidthImpl(std::size_t width, F& f, std::index_sequence<I...>) {
  const bool fixed =
      ((width == I + 1 ? (f(std::integral_constant<std::size_t, I + 1>{}), true)
                       : false) ||
       ...);
  if (!fixed) f(std::integral_constant<std::size_t, 0>{});
}
template <typename F>
void WithWidth(std::size_t width, F&& f) {
  WithWidthImpl(width, f, std::make_index_sequence<16>{});
}

// row[j] = f[j]·a + row[j], j = 0..count-1 (count = W when W is not 0).
template <std::size_t W>
inline void AddScaledRow(std::size_t count, const double* f, double a, double* row) {
  const std::size_t n = W ? W : count;
  const Pair av = Splat(a);
  std::size_t j = 0;
#pragma GCC unroll 8
  for (; j + 2 <= n; j += 2) Store(row + j, Load(f + j) * av + Load(row + j));
  if (j < n) row[j] = f[j] * a + row[j];
  if constexpr (W == 0)
    for (++j; j < n; ++j) row[j] = f[j] * a + row[j];
}

// t[j] = t[j] + Σk a[k][ci]·a[k][j0 + j] for k = k0..k1-1, one term at a
// time in row order, for j = 0..W-1: the running sums stay in registers.
template <std::size_t W>
void ContinueColumnDots(const double* a, std::size_t lda, std::size_t k0, std::size_t k1,
                        std::size_t ci, std::size_t j0, double* t) {
  static_assert(W >= 1 && W <= 16);
  constexpr std::size_t kPairs = W / 2;
  Pair acc[kPairs + 1];
  for (std::size_t p = 0; p < kPairs; ++p) acc[p] = Load(t + 2 * p);
  double odd = W % 2 == 1 ? t[W - 1] : 0.0;
  for (std::size_t k = k0; k < k1; ++k) {
    const double* row = a + k * lda;
    const double x = row[ci];
    const Pair xv = Splat(x);
    const double* rj = row + j0;
#pragma GCC unroll 8
    for (std::size_t p = 0; p < kPairs; ++p) acc[p] = acc[p] + xv * Load(rj + 2 * p);
    if constexpr (W % 2 == 1) odd = odd + x * rj[W - 1];
  }
  for (std::size_t p = 0; p < kPairs; ++p) Store(t + 2 * p, acc[p]);
  if constexpr (W % 2 == 1) t[W - 1] = odd;
}

// t[j] = Σk a[k][ci]·a[k][j0 + j] for k = k0..k1-1 in order, from 0.0, for
// j = 0..width-1. The rows go by in blocks that stay in cache while each
// group of up to 16 columns takes its turn, the sums parked in t between
// blocks, so the matrix streams through once whatever the width.
void ColumnDots(const double* a, std::size_t lda, std::size_t k0, std::size_t k1,
                std::size_t ci, std::size_t j0, std::size_t width, double* t) {
  std::fill(t, t + width, 0.0);
  const std::size_t blockRows = std::max<std::size_t>(16, 4096 / std::max<std::size_t>(lda, 1));
  for (std::size_t kb = k0; kb < k1; kb += blockRows) {
    const std::size_t ke = std::min(k1, kb + blockRows);
    for (std::size_t jc = 0; jc < width; jc += 16) {
      WithWidth(std::min<std::size_t>(16, width - jc), [&](auto fixed) {
        constexpr std::size_t kW = decltype(fixed)::value;
        if constexpr (kW != 0) ContinueColumnDots<kW>(a, lda, kb, ke, ci, j0 + jc, t + jc);
      });
    }
  }
}

// Below this many rows a sweep stays on one thread.
constexpr std::size_t kMinSharedRows = 256;

// How many pieces a sweep over `rows` rows is cut into for the team: a few
// per thread, so that a late helper leaves little for the others to wait on.
unsigned RowPieces(const detail::Team& team, std::size_t rows) {
  if (team.Size() <= 1 || rows < kMinSharedRows) return 1;
  return static_cast<unsigned>(std::min<std::size_t>(4 * team.Size(), rows / 64));
}

// ColumnDots with the columns cut among the team: each sum stays whole, in
// its own row order, on one thread.
void SharedColumnDots(detail::Team& team, const double* a, std::size_t lda,
                      std::size_t k0, std::size_t k1, std::size_t ci, std::size_t j0,
                      std::size_t width, double* t) {
  const unsigned pieces =
      k1 - k0 < kMinSharedRows ? 1u
                               : static_cast<unsigned>(std::min<std::size_t>(team.Size(), width));
  team.Run(pieces, [&](unsigned piece) {
    const detail::Range r = detail::Piece(0, width, piece, pieces);
    ColumnDots(a, lda, k0, k1, ci, j0 + r.begin, r.end - r.begin, t + r.begin);
  });
}

// The rows below a Householder step, each in turn: the column update
// a[k][j] = f[j]·a[k][i] + a[k][j] then a[k][i] = colScale·a[k][i]; the row
// reflection a[k][j] = (Σj a[k][j]·ri[j])·e[j] + a[k][j]; and the sum of
// |a[k][l]| that the next step starts from. Columns j run from l on; rows k
// from kBegin to kEnd - 1. With absOut the |a[k][l]| go to absOut[k]
// instead, for the caller to add up in row order.
template <std::size_t W>
double BelowHouseholderStep(double* a, std::size_t lda, std::size_t l, std::size_t kBegin,
                            std::size_t kEnd, std::size_t i, std::size_t width,
                            const double* f, double colScale, const double* e,
                            const double* ri, bool columnUpdate, bool rowUpdate,
                            bool nextColumn, double* absOut) {
  const std::size_t cols = W ? W : width;
  double sum = 0.0;
  // Four rows at a time so that their dot products, each summed in its own
  // order, overlap in the pipeline.
  constexpr std::size_t kBlock = 4;
  for (std::size_t k0 = kBegin; k0 < kEnd; k0 += kBlock) {
    const std::size_t rowsHere = std::min(kBlock, kEnd - k0);
    double* rows[kBlock];
    for (std::size_t b = 0; b < rowsHere; ++b) rows[b] = a + (k0 + b) * lda;
    if (columnUpdate) {
      for (std::size_t b = 0; b < rowsHere; ++b) {
        double* row = rows[b];
        const double aki = row[i];
        AddScaledRow<W>(cols, f, aki, row + l);
        row[i] = colScale * aki;
      }
    }
    if (rowUpdate) {
      double dot[kBlock] = {0.0, 0.0, 0.0, 0.0};
      if (rowsHere == kBlock) {
        const double* r0 = rows[0] + l;
        const double* r1 = rows[1] + l;
        const double* r2 = rows[2] + l;
        const double* r3 = rows[3] + l;
        for (std::size_t j = 0; j < cols; ++j) {
          const double x = ri[j];
          dot[0] += r0[j] * x;
          dot[1] += r1[j] * x;
          dot[2] += r2[j] * x;
          dot[3] += r3[j] * x;
        }
      } else {
        for (std::size_t b = 0; b < rowsHere; ++b)
          for (std::size_t j = 0; j < cols; ++j) dot[b] += rows[b][l + j] * ri[j];
      }
      for (std::size_t b = 0; b < rowsHere; ++b) AddScaledRow<W>(cols, e, dot[b], rows[b] + l);
    }
    if (nextColumn && absOut != nullptr)
      for (std::size_t b = 0; b < rowsHere; ++b) absOut[k0 + b] = std::fabs(rows[b][l]);
    else if (nextColumn)
      for (std::size_t b = 0; b < rowsHere; ++b) sum += std::fabs(rows[b][l]);
  }
  return sum;
}

// Rows kBegin..kEnd-1 of a left-hand step: a[k][j] = f[j]·a[k][i] + a[k][j]
// and a[k][i] = a[k][i] / g (or a[k][i] = 0 when g is 0). The step ends
// with a[i][i] + 1, left to the caller.
template <std::size_t W>
void LeftStepRows(double* a, std::size_t lda, std::size_t i, std::size_t kBegin,
                  std::size_t kEnd, std::size_t width, const double* f, double g,
                  bool update) {
  const std::size_t l = i + 1;
  for (std::size_t k = kBegin; k < kEnd; ++k) {
    double* row = a + k * lda;
    if (update) {
      const double aki = row[i];
      AddScaledRow<W>(width, f, aki, row + l);
      row[i] = aki / g;
    } else {
      row[i] = 0.0;
    }
  }
}

// LeftStepRows for a fixed width W (1..15), which also forms the next
// step's sums tNext[j] = Σk a[k][i-1]·a[k][i+j], k = i..m-1, j = 0..W, each
// from 0.0 in row order, on the rows as this step leaves them.
template <std::size_t W>
void LeftStepRowsAndNextDots(double* a, std::size_t lda, std::size_t i, std::size_t m,
                             const double* f, double g, bool update, double* tNext) {
  static_assert(W >= 1 && W <= 15);
  constexpr std::size_t kNext = W + 1;
  constexpr std::size_t kPairs = kNext / 2;
  const std::size_t l = i + 1;
  Pair acc[kPairs + 1];
  for (Pair& x : acc) x = Splat(0.0);
  double odd = 0.0;
  for (std::size_t k = i; k < m; ++k) {
    double* row = a + k * lda;
    if (update) {
      const double aki = row[i];
      AddScaledRow<W>(W, f, aki, row + l);
      row[i] = aki / g;
    } else {
      row[i] = 0.0;
    }
    if (k == i) row[i] = row[i] + 1.0;
    const double x = row[i - 1];
    const Pair xv = Splat(x);
    const double* rj = row + i;
#pragma GCC unroll 8
    for (std::size_t p = 0; p < kPairs; ++p) acc[p] = acc[p] + xv * Load(rj + 2 * p);
    if constexpr (kNext % 2 == 1) odd = odd + x * rj[kNext - 1];
  }
  for (std::size_t p = 0; p < kPairs; ++p) Store(tNext + 2 * p, acc[p]);
  if constexpr (kNext % 2 == 1) tNext[kNext - 1] = odd;
}

// The same for any width: the rows go by in blocks small enough to stay in
// cache, each block updated and then added to the sums, so the matrix
// streams through once. Row i gets its + 1 before its terms are added.
template <std::size_t W>
void LeftStepRowsAndNextDotsBlocked(double* a, std::size_t lda, std::size_t i,
                                    std::size_t m, std::size_t width, const double* f,
                                    double g, bool update, double* tNext) {
  const std::size_t nextWidth = width + 1;
  std::fill(tNext, tNext + nextWidth, 0.0);
  const std::size_t blockRows = std::max<std::size_t>(16, 4096 / lda);
  for (std::size_t kb = i; kb < m; kb += blockRows) {
    const std::size_t ke = std::min(m, kb + blockRows);
    LeftStepRows<W>(a, lda, i, kb, ke, width, f, g, update);
    if (kb == i) a[i * lda + i] = a[i * lda + i] + 1.0;
    for (std::size_t jc = 0; jc < nextWidth; jc += 16) {
      WithWidth(std::min<std::size_t>(16, nextWidth - jc), [&](auto fixed) {
        constexpr std::size_t kW = decltype(fixed)::value;
        if constexpr (kW != 0)
          ContinueColumnDots<kW>(a, lda, kb, ke, i - 1, i + jc, tNext + jc);
      });
    }
  }
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

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define HVT_DECOR_WIDE_ROTATIONS 1
// The rotation runs again, on four doubles per instruction where the
// processor has them (checked at run time). Lane by lane the arithmetic is
// the scalar one, multiply then add, never fused. Returns the rows done, a
// multiple of 16.
__attribute__((target("avx2"))) std::size_t ApplyRunWide(
    double* x, std::size_t stride, std::size_t count, const ColumnOp* ops,
    std::size_t n) {
  typedef double Quad __attribute__((vector_size(32)));
  const std::size_t first = static_cast<std::size_t>(ops[0].p) * stride;
  const std::size_t last = static_cast<std::size_t>(ops[n - 1].q) * stride;
  std::size_t r = 0;
  for (; r + 16 <= count; r += 16) {
    Quad x0, x1, x2, x3;
    std::memcpy(&x0, x + first + r, sizeof x0);
    std::memcpy(&x1, x + first + r + 4, sizeof x1);
    std::memcpy(&x2, x + first + r + 8, sizeof x2);
    std::memcpy(&x3, x + first + r + 12, sizeof x3);
    for (std::size_t o = 0; o < n; ++o) {
      double* cp = x + static_cast<std::size_t>(ops[o].p) * stride + r;
      const double* cq = x + static_cast<std::size_t>(ops[o].q) * stride + r;
      const double c = ops[o].c;
      const double s = ops[o].s;
      const Quad cv = {c, c, c, c};
      const Quad sv = {s, s, s, s};
      Quad z0, z1, z2, z3;
      std::memcpy(&z0, cq, sizeof z0);
      std::memcpy(&z1, cq + 4, sizeof z1);
      std::memcpy(&z2, cq + 8, sizeof z2);
      std::memcpy(&z3, cq + 12, sizeof z3);
      const Quad p0 = x0 * cv + z0 * sv;
      const Quad p1 = x1 * cv + z1 * sv;
      const Quad p2 = x2 * cv + z2 * sv;
      const Quad p3 = x3 * cv + z3 * sv;
      std::memcpy(cp, &p0, sizeof p0);
      std::memcpy(cp + 4, &p1, sizeof p1);
      std::memcpy(cp + 8, &p2, sizeof p2);
      std::memcpy(cp + 12, &p3, sizeof p3);
      x0 = z0 * cv - x0 * sv;
      x1 = z1 * cv - x1 * sv;
      x2 = z2 * cv - x2 * sv;
      x3 = z3 * cv - x3 * sv;
    }
    std::memcpy(x + last + r, &x0, sizeof x0);
    std::memcpy(x + last + r + 4, &x1, sizeof x1);
    std::memcpy(x + last + r + 8, &x2, sizeof x2);
    std::memcpy(x + last + r + 12, &x3, sizeof x3);
  }
  return r;
}

bool HaveWideRotations() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

// Column operations waiting to be applied to a row-major matrix. A tile of
// rows is copied column by column into scratch, every logged operation is
// applied to it in the order made, and it is copied back; so each row sees
// its operations in order, and the rotations run over contiguous memory.
class ColumnOpLog {
 public:
  // Applies ops[0..n-1] in order to rows 0..count-1 of the column-major
  // tile x (column c at x + c·stride). Each op's p is the previous op's q.
  static void ApplyRun(double* x, std::size_t stride, std::size_t count,
                       const ColumnOp* ops, std::size_t n) {
    const std::size_t first = static_cast<std::size_t>(ops[0].p) * stride;
    const std::size_t last = static_cast<std::size_t>(ops[n - 1].q) * stride;
    std::size_t r = 0;
#ifdef HVT_DECOR_WIDE_ROTATIONS
    if (HaveWideRotations()) r = ApplyRunWide(x, stride, count, ops, n);
#endif
    // Eight rows at a time: four independent chains through the run.
    for (; r + 8 <= count; r += 8) {
      Pair x0 = Load(x + first + r);
      Pair x1 = Load(x + first + r + 2);
      Pair x2 = Load(x + first + r + 4);
      Pair x3 = Load(x + first + r + 6);
      for (std::size_t o = 0; o < n; ++o) {
        double* cp = x + static_cast<std::size_t>(ops[o].p) * stride + r;
        double* cq = x + static_cast<std::size_t>(ops[o].q) * stride + r;
        const Pair cv = Splat(ops[o].c);
        const Pair sv = Splat(ops[o].s);
        const Pair z0 = Load(cq);
        const Pair z1 = Load(cq + 2);
        const Pair z2 = Load(cq + 4);
        const Pair z3 = Load(cq + 6);
        Store(cp, x0 * cv + z0 * sv);
        Store(cp + 2, x1 * cv + z1 * sv);
        Store(cp + 4, x2 * cv + z2 * sv);
        Store(cp + 6, x3 * cv + z3 * sv);
        x0 = z0 * cv - x0 * sv;
        x1 = z1 * cv - x1 * sv;
        x2 = z2 * cv - x2 * sv;
        x3 = z3 * cv - x3 * sv;
      }
      Store(x + last + r, x0);
      Store(x + last + r + 2, x1);
      Store(x + last + r + 4, x2);
      Store(x + last + r + 6, x3);
    }
    for (; r < count; ++r) {
      double xp = x[first + r];
      for (std::size_t o = 0; o < n; ++o) {
        double* cp = x + static_cast<std::size_t>(ops[o].p) * stride + r;
        const double zq = x[static_cast<std::size_t>(ops[o].q) * stride + r];
        const double c = ops[o].c;
        const double s = ops[o].s;
        *cp = xp * c + zq * s;
        xp = zq * c - xp * s;
      }
      x[last + r] = xp;
    }
  }

  static constexpr std::size_t kCapacity = 4096;

  // Tiles are shared among the team's threads, each with its own scratch.
  bool Init(detail::Team& team, double* m, std::size_t rows, std::size_t cols,
            std::size_t ld) {
    team_ = &team;
    m_ = m;
    rows_ = rows;
    cols_ = cols;
    ld_ = ld;
    used_ = 0;
    // About 16 KB of scratch, a whole number of sixteens of rows.
    tile_ = std::max<std::size_t>(16, (2048 / cols) & ~std::size_t{15});
    const std::size_t tiles = (rows + tile_ - 1) / tile_;
    pieces_ = std::min<unsigned>(RowPieces(team, rows), static_cast<unsigned>(tiles));
    return detail::TryAllocate(ops_, kCapacity) &&
           detail::TryAllocate(scratch_, tile_ * cols * pieces_);
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
    const std::size_t tiles = (rows_ + tile_ - 1) / tile_;
    team_->Run(pieces_, [&](unsigned piece) {
      const detail::Range r = detail::Piece(0, tiles, piece, pieces_);
      FlushTiles(r.begin, r.end, scratch_.data() + piece * tile_ * cols_);
    });
    used_ = 0;
  }

 private:
  // Every logged operation, in order, on tiles [firstTile, endTile).
  void FlushTiles(std::size_t firstTile, std::size_t endTile, double* x) const {
    for (std::size_t r0 = firstTile * tile_; r0 < rows_ && r0 < endTile * tile_; r0 += tile_) {
      const std::size_t count = std::min(tile_, rows_ - r0);
      const double* base = m_ + r0 * ld_;
      for (std::size_t r = 0; r < count; ++r)
        for (std::size_t c = 0; c < cols_; ++c) x[c * tile_ + r] = base[r * ld_ + c];
      for (std::size_t o = 0; o < used_;) {
        const ColumnOp& op = ops_[o];
        if (op.q < 0) {
          double* cp = x + static_cast<std::size_t>(op.p) * tile_;
          for (std::size_t r = 0; r < count; ++r) cp[r] = -cp[r];
          ++o;
          continue;
        }
        // A run of rotations, each taking up the column the previous one
        // left as its second: that column can stay in registers.
        std::size_t end = o + 1;
        while (end < used_ && ops_[end].q >= 0 && ops_[end].p == ops_[end - 1].q &&
               ops_[end].p != ops_[end].q)
          ++end;
        ApplyRun(x, tile_, count, ops_.data() + o, end - o);
        o = end;
      }
      double* out = m_ + r0 * ld_;
      for (std::size_t r = 0; r < count; ++r)
        for (std::size_t c = 0; c < cols_; ++c) out[r * ld_ + c] = x[c * tile_ + r];
    }
  }

  detail::Team* team_ = nullptr;
  unsigned pieces_ = 1;  // each with its own scratch tile
  std::vector<ColumnOp> ops_;
  std::vector<double> scratch_;
  std::size_t used_ = 0;
  double* m_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t cols_ = 1;
  std::size_t ld_ = 1;
  std::size_t tile_ = 8;
};

bool SpanHolds(std::size_t size, std::size_t rows, std::size_t ld,
               std::size_t cols) {
  std::size_t need = 0;
  if (!detail::CheckedProduct(rows - 1, ld, need)) return false;
  if (need > static_cast<std::size_t>(-1) - cols) return false;
  return size >= need + cols;
}

}  // namespace

CoreStatus DecomposeSvd(std::span<double> a, std::size_t lda, std::span<double> v,
                    std::size_t ldv, std::span<double> w, std::size_t m,
                    std::size_t n, bool wantU, bool wantV, int& failIndex,
                    RunObserver* observer) {
  failIndex = 0;
  constexpr std::size_t kMaxCols = std::numeric_limits<std::int32_t>::max();
  if (m == 0 || n == 0 || n > kMaxCols || lda < n || !SpanHolds(a.size(), m, lda, n) ||
      w.size() < n)
    return CoreStatus::kBadArgument;
  if (wantV && (ldv < n || !SpanHolds(v.size(), n, ldv, n)))
    return CoreStatus::kBadArgument;

  std::vector<double> e;
  std::vector<double> t;   // a step's dot products, then its update factors
  std::vector<double> tn;  // the next step's dot products, gathered early
  std::vector<double> columnAbs;  // |a[k][l]| from the helpers' rows
  ColumnOpLog logU;
  ColumnOpLog logV;
  detail::Team team(detail::ThreadsFor(m, n));
  const bool shareRows = team.Size() > 1 && m >= kMinSharedRows;
  if (!detail::TryAllocate(e, n) || !detail::TryAllocate(t, n) ||
      !detail::TryAllocate(tn, n) ||
      (shareRows && !detail::TryAllocate(columnAbs, m)) ||
      (wantU && !logU.Init(team, a.data(), m, n, lda)) ||
      (wantV && !logV.Init(team, v.data(), n, n, ldv)))
    return CoreStatus::kOutOfMemory;

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
    if (Stop(observer)) return CoreStatus::kStopped;
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
        if (l < n) SharedColumnDots(team, A, lda, i, m, i, l, n - l, t.data() + l);
        for (std::size_t j = l; j < n; ++j) t[j] = t[j] / h;
        columnUpdate = true;
      }
    }
    haveColumnScale = false;
    const double columnScale = scale;
    if (columnUpdate) {
      const double aii = ri[i];
      AddScaledRow<0>(n - l, t.data() + l, aii, ri + l);
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
    // |a[k][l]| that the next step starts from, in one sweep. Shared, the
    // pieces leave their rows' |a[k][l]| for the sum to be made in row order.
    const bool nextColumn = l < n && l < m;
    if (columnUpdate || rowUpdate || nextColumn) {
      WithWidth(n - l, [&](auto fixed) {
        constexpr std::size_t kW = decltype(fixed)::value;
        if (!shareRows || m - l < kMinSharedRows) {
          nextColumnScale = BelowHouseholderStep<kW>(
              A, lda, l, l, m, i, n - l, t.data() + l, columnScale, e.data() + l, ri + l,
              columnUpdate, rowUpdate, nextColumn, nullptr);
          return;
        }
        const unsigned pieces = RowPieces(team, m - l);
        team.Run(pieces, [&](unsigned piece) {
          const detail::Range r = detail::Piece(l, m, piece, pieces);
          BelowHouseholderStep<kW>(A, lda, l, r.begin, r.end, i, n - l, t.data() + l,
                                   columnScale, e.data() + l, ri + l, columnUpdate,
                                   rowUpdate, nextColumn, columnAbs.data());
        });
        nextColumnScale = 0.0;
        if (nextColumn)
          for (std::size_t k = l; k < m; ++k) nextColumnScale += columnAbs[k];
      });
      haveColumnScale = nextColumn;
    }
    if (rowUpdate) ScaleBy(n - l, scale, ri + l, ri + l);
    anorm = Max(anorm, std::fabs(w[i]) + std::fabs(e[i]));
  }

  // Right-hand transformations into V.
  if (wantV) {
    g = 0.0;
    for (std::size_t i = n; i-- > 0;) {
      if (Stop(observer)) return CoreStatus::kStopped;
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
            AccumulateRow(n - l, aik, vk + l, t.data() + l);
          }
          for (std::size_t k = l; k < n; ++k) {
            double* vk = V + k * ldv;
            const double vki = vk[i];
            AddScaledRow<0>(n - l, t.data() + l, vki, vk + l);
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

  // Left-hand transformations into U, in place. The sweep over a step's
  // rows also gathers the next step's column sums (the same rows, after
  // this step is done with them): row by row for up to 15 columns right of
  // the diagonal, block by block beyond.
  if (wantU) {
    bool haveDots = false;
    for (std::size_t i = std::min(m, n); i-- > 0;) {
      if (Stop(observer)) return CoreStatus::kStopped;
      const std::size_t l = i + 1;
      double* const ri = A + i * lda;
      g = w[i];
      for (std::size_t j = l; j < n; ++j) ri[j] = 0.0;
      const bool update = g != 0.0;
      if (update && l < n) {
        if (!haveDots) SharedColumnDots(team, A, lda, l, m, i, l, n - l, t.data() + l);
        const double aii = ri[i];
        for (std::size_t j = l; j < n; ++j) t[j] = (t[j] / aii) / g;
      }
      // Shared among threads, the rows are cut among them and the next
      // step's sums are gathered by columns in a sweep of their own.
      const bool shared = shareRows && m - i >= kMinSharedRows;
      const bool fuse = !shared && i > 0 && w[i - 1] != 0.0 && n - l >= 1;
      WithWidth(n - l, [&](auto fixed) {
        constexpr std::size_t kW = decltype(fixed)::value;
        if constexpr (kW >= 1 && kW <= 15) {
          if (fuse) {
            LeftStepRowsAndNextDots<kW>(A, lda, i, m, t.data() + l, g, update,
                                        tn.data() + i);
            return;
          }
        } else {
          if (fuse) {
            LeftStepRowsAndNextDotsBlocked<kW>(A, lda, i, m, n - l, t.data() + l, g,
                                               update, tn.data() + i);
            return;
          }
        }
        if (shared) {
          const unsigned pieces = RowPieces(team, m - i);
          team.Run(pieces, [&](unsigned piece) {
            const detail::Range r = detail::Piece(i, m, piece, pieces);
            LeftStepRows<kW>(A, lda, i, r.begin, r.end, n - l, t.data() + l, g, update);
          });
        } else {
          LeftStepRows<kW>(A, lda, i, i, m, n - l, t.data() + l, g, update);
        }
        ri[i] = ri[i] + 1.0;
      });
      t.swap(tn);
      haveDots = fuse;
    }
  }

  // Diagonalisation of the bidiagonal form by implicit-shift QR sweeps.
  for (std::size_t k = n; k-- > 0;) {
    if (Stop(observer)) return CoreStatus::kStopped;
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
        return CoreStatus::kNotConverged;
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
  return CoreStatus::kComplete;
}

}  // namespace hvt::decor
