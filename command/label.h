// The one label writer of the column commands: the output column's title,
// taken from a title the data has, typed by the user, or a formula naming
// the data's column; then the written rows take the data's number format.
#ifndef HVT_COMMAND_LABEL_H
#define HVT_COMMAND_LABEL_H

#include <cstddef>

#include "host/interface.h"
#include "sdk/xlcall.h"

namespace hvt {

// The most text a label takes, and a label buffer's size with length byte
// and NUL.
constexpr std::size_t kLabelTextMax = 255;
constexpr std::size_t kLabelBufferSize = kLabelTextMax + 2;

template <HostRecord Oper>
struct LabelRequestOf {
  const Oper* data = nullptr;  // the data reference (its first area)
  IDSHEET outputSheet = 0;
  long outputColumn = 0;
  // The sheet row of the label cell. The cell above the data and the data
  // column's cell in this row are where a title is looked for.
  long labelRow = 0;
  // The sheet rows written (none when writtenFirst > writtenLast).
  long writtenFirst = 0;
  long writtenLast = -1;
  const char* suffix = "";  // the settings, e.g. "_24_10", "_S10_P0"
  // kLabelBufferSize characters of scratch: bytes for the 4-series, UTF-16
  // units for the 12-series.
  typename Interface<Oper>::Char* buffer = nullptr;
};
using LabelRequest = LabelRequestOf<XLOPER>;

// The rule:
//  - a title above the data, or in the label row, is the label's text;
//  - two titles in different cells, or data and output on different sheets
//    without a title: the user is asked (Cancel: no label);
//  - otherwise the formula ="Col"&COLUMN(<data>)&"<suffix>".
// The label's text always keeps the whole suffix. False when the request
// names no data area. A 12-series request asks the host through Excel12:
// titles, the typed label and the reference text in UTF-16.
template <HostRecord Oper>
bool WriteLabel(const LabelRequestOf<Oper>& request);
inline bool WriteLabel(const LabelRequest& request) { return WriteLabel<XLOPER>(request); }

// "<text><suffix>" into `buffer` (counted, NUL ended), the text shortened so
// the whole fits kLabelTextMax characters.
template <typename Char>
void ComposeLabel(const Char* text, std::size_t textLength, const char* suffix,
                  Char* buffer);

// ="Col"&COLUMN(<reference>)&"<suffix>" into `buffer`. A reference text
// that would make it longer than kLabelTextMax drops its sheet part
// (COLUMN reads the same column without it). False, the buffer untouched,
// when even that does not fit.
template <typename Char>
bool ComposeLabelFormula(const Char* reference, std::size_t referenceLength,
                         const char* suffix, Char* buffer);

}  // namespace hvt

#endif  // HVT_COMMAND_LABEL_H
