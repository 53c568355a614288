// Shared steps of the worksheet functions: examining the data argument,
// coercing it to an array, and answering an error or an owned column.
#ifndef HVT_HOST_WORKSHEET_ARGS_H
#define HVT_HOST_WORKSHEET_ARGS_H

#include <cstddef>
#include <span>

#include "host/interface.h"
#include "sdk/xlcall.h"

namespace hvt {

// What a data argument turned out to be.
struct DataArgument {
  enum Kind { kNoValue, kError, kRange, kArray } kind = kError;
  WORD error = xlerrValue;  // for kError
  long rows = 0;            // for kRange and kArray
  long columns = 0;
  long areas = 0;           // 1 for single references and arrays
};

// Classifies a worksheet function's data argument. A reference is first
// summed through the host only to learn whether its cells are calculated
// yet: if not, the answer is kNoValue and the host calls again later.
template <typename Oper>
DataArgument ClassifyDataArgument(Oper* argument);

// An array the host filled by xlCoerce, released with xlFree when it goes.
template <typename Oper>
class CoercedArrayOf {
 public:
  // xlCoerce to an array. error() is non-zero (the error code, or #VALUE!
  // when the host refused) when there is no array.
  explicit CoercedArrayOf(Oper* argument);
  ~CoercedArrayOf();
  CoercedArrayOf(const CoercedArrayOf&) = delete;
  CoercedArrayOf& operator=(const CoercedArrayOf&) = delete;

  WORD error() const { return error_; }
  std::size_t size() const;  // cells in storage order
  const Oper& cell(std::size_t i) const { return value_.val.array.lparray[i]; }
  // Index of the first of the first `limit` cells that is not a number;
  // `limit` (or size(), if smaller) when all are numbers.
  std::size_t LeadingNumbers(std::size_t limit) const;

 private:
  Oper value_{};
  bool owned_ = false;
  WORD error_ = 0;
};
using CoercedArray = CoercedArrayOf<XLOPER>;

// Sets `record` to an error value and returns it.
template <typename Oper>
Oper* ErrorResult(Oper& record, WORD error);

// Allocates a one-column array of `rows` cells (zeroed global memory) into
// `record`, marked for xlAutoFree (xlAutoFree12). Returns the cells, or
// nullptr when memory ran out or the rows do not fit the record (the record
// is then untouched).
template <typename Oper>
Oper* AllocColumnResult(Oper& record, std::size_t rows);

// Fills a column: values.size() number cells, then text cells pointing at
// `emptyText` down to `rows`.
template <typename Oper>
void FillNumbersThenEmptyText(Oper* cells, std::span<const double> values,
                              std::size_t rows,
                              typename Interface<Oper>::Char* emptyText);

// Releases a column allocated by AllocColumnResult that is not handed out.
template <typename Oper>
void FreeColumnResult(Oper& record);

}  // namespace hvt

#endif  // HVT_HOST_WORKSHEET_ARGS_H
