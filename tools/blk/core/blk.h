// BLK block sampling: lagged block averages of a data column, optionally with
// a trailing trend mean removed and scaled by the trailing mean absolute
// deviation. Pure computation; the formula writer and the command decide
// where the columns go.
//
// For table entry k with lag n and width M (M even, J = M / 2), and blank
// rows U = n(a) + M(a) / 2 of the chosen entry a, row i (U <= i < N) gets
//   standard:    b = mean(x[i-n-J] .. x[i-n+J])
//   detrended:   b - t,  t = mean(x[i-U] .. x[i])
//   normalized:  (b - t) / (mean(|x[k] - t|, k = i-U .. i) + 1e-10)
// through running sums updated in a fixed order (results are reproducible to
// the last bit). Rows 0 .. U-1 are never defined; element i - U of a result
// is row i.
#ifndef HVT_TOOLS_BLK_CORE_BLK_H
#define HVT_TOOLS_BLK_CORE_BLK_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/core.h"

namespace hvt::blk {

// One (n, M) pair: n is the lag of a block's centre behind the current row,
// M + 1 the number of values the block averages.
struct BlkSampleEntry {
  int n;
  int m;
};

inline constexpr int kBlkMinIndex = 1;   // lowest index a user may choose
inline constexpr int kBlkMaxIndex = 18;  // highest table index
// Lowest index allowed when detrending, without and with normalization.
inline constexpr int kBlkMinDetrendedIndex = 10;
inline constexpr int kBlkMinNormalizedIndex = 12;

// Entry 0 serves only as the first detrended block. n and M never decrease
// with the index, so the chosen entry's window reaches furthest back.
inline constexpr std::array<BlkSampleEntry, kBlkMaxIndex + 1> BlkSampleTable{{
    {0, 0},   {1, 0},   {2, 0},   {3, 0},   {4, 0},    {5, 0},   {7, 2},
    {10, 2},  {14, 4},  {19, 4},  {26, 8},  {35, 8},   {48, 16}, {65, 16},
    {90, 32}, {123, 32}, {172, 64}, {237, 64}, {334, 128},
}};

// Process method (`PChoice`) as the dialog offers it.
inline constexpr int kBlkStandardOnly = 1;
inline constexpr int kBlkStandardAndDetrended = 2;
inline constexpr int kBlkDetrendedOnly = 3;

// Normalization (`NormOrDet`) of detrended blocks.
inline constexpr int kBlkNormalized = 1;
inline constexpr int kBlkNotNormalized = 2;

// What a person chooses: the sample-table index (`MNIndex`), the process
// method and the normalization of detrended blocks.
struct BlkSettings {
  int index = 6;
  int method = kBlkStandardOnly;
  int normalization = kBlkNormalized;
};

// Why settings are refused, in the order they are looked at.
enum class BlkSettingsFault {
  kNone,
  kBadMethod,         // process method not 1, 2 or 3
  kBadNormalization,  // detrending with normalization not 1 or 2
  kBadIndex,          // MNIndex outside 1 .. 18
  kIndexTooSmall,     // detrending below index 10, or 12 when normalized
};

// --- Layout rules -----------------------------------------------------------
// Each returns 0 (or -1 for BlkBlankRows) when the index or method is out of
// range; callers check the settings first with BlkCheckSettings.

// U = n(a) + M(a) / 2: leading rows of every output column without a value.
int BlkBlankRows(int index);

// Data rows the command asks for: U + 2. The computation itself needs only
// U + 1 (one defined row); with N <= U it answers CoreStatus::kTooShort.
int BlkMinDataRows(int index);

// a (method 1), 2a + 1 (method 2), a + 1 (method 3).
int BlkColumnsPerDataColumn(int index, int method);

// dataColumns * BlkColumnsPerDataColumn.
std::int64_t BlkTotalColumns(std::int64_t dataColumns, int index, int method);

// Index, method, normalization (looked at only when detrending) and the
// detrending minimum index.
BlkSettingsFault BlkCheckSettings(const BlkSettings& settings);

// The first defined row of every output column: U.
inline std::size_t BlkFirstDefinedRow(const BlkSettings& settings) {
  const int u = BlkBlankRows(settings.index);
  return u < 0 ? 0 : static_cast<std::size_t>(u);
}

// Title suffix of one output column: "_7" (standard), "_D7" (detrended),
// "_ND7" (normalized detrended), where 7 is the entry's n.
std::string BlkTitleSuffix(int entry, bool detrended, int normalization);

// One output column of the layout.
struct BlkColumnLayout {
  int dataColumn;   // 0-based input column
  int entry;        // sample-table index k
  bool detrended;   // false: standard block
  int n;
  int m;
  std::string suffix;  // appended to the data column's title
};

// Every output column in output order: data column by data column; within
// one, standard entries 1 .. a, then detrended entries 0 .. a. Empty when the
// settings are refused by BlkCheckSettings or dataColumns <= 0.
std::vector<BlkColumnLayout> BlkOutputPlan(int dataColumns,
                                           const BlkSettings& settings);

// --- Block columns ----------------------------------------------------------
// x is one data column, rows 0 .. N-1; u the blank rows of the run; (n, m) the
// entry. out must hold exactly N - U doubles; out[i - U] receives row i.
// kTooShort when N <= U; kBadArgument for a window outside the data (M odd
// or negative, n negative, n + M/2 > U), an out of another size or, for a
// detrended block, a normalization not 1 or 2. On any status but kComplete,
// out is left untouched.

CoreStatus StandardBlock(std::span<const double> x, int u, int n, int m,
                         std::span<double> out);

// normalization: 1 normalized detrended, 2 detrended only.
CoreStatus DetrendedBlock(std::span<const double> x, int u, int n, int m,
                          int normalization, std::span<double> out);

// --- Whole run --------------------------------------------------------------

// Every output column of a run over equally long data columns (N rows each):
// out[j] receives column j of BlkOutputPlan(data.size(), settings) and must
// hold exactly N - U doubles (element i - U is row i). The observer (optional)
// is asked to stop before each output column and told after it (done, total
// columns). kBadArgument for refused settings, no data, columns of different
// lengths or outputs of the wrong number or size; kTooShort when N <= U;
// kStopped leaves out void.
CoreStatus BlkBlocks(std::span<const std::span<const double>> data,
                     const BlkSettings& settings,
                     std::span<const std::span<double>> out,
                     RunObserver* observer = nullptr);

}  // namespace hvt::blk

#endif  // HVT_TOOLS_BLK_CORE_BLK_H
