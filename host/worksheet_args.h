// Shared steps of the worksheet functions: examining the data argument,
// coercing it to an array, and answering an error or an owned column.
#ifndef HVT_HOST_WORKSHEET_ARGS_H
#define HVT_HOST_WORKSHEET_ARGS_H

#include <cstddef>
#include <span>

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
DataArgument ClassifyDataArgument(LPXLOPER argument);

// An array the host filled by xlCoerce, released with xlFree when it goes.
class CoercedArray {
 public:
  // xlCoerce to an array. error() is non-zero (the error code, or #VALUE!
  // when the host refused) when there is no array.
  explicit CoercedArray(LPXLOPER argument);
  ~CoercedArray();
  CoercedArray(const CoercedArray&) = delete;
  CoercedArray& operator=(const CoercedArray&) = delete;

  WORD error() const { return error_; }
  std::size_t size() const;  // cells in storage order
  const XLOPER& cell(std::size_t i) const { return value_.val.array.lparray[i]; }
  // Index of the first of the first `limit` cells that is not a number;
  // `limit` (or size(), if smaller) when all are numbers.
  std::size_t LeadingNumbers(std::size_t limit) const;

 private:
  XLOPER value_{};
  bool owned_ = false;
  WORD error_ = 0;
};

// Sets `record` to an error value and returns it.
LPXLOPER ErrorResult(XLOPER& record, WORD error);

// Allocates a one-column array of `rows` cells (zeroed global memory) into
// `record`, marked for xlAutoFree. Returns the cells, or nullptr when memory
// ran out (the record is then untouched).
XLOPER* AllocColumnResult(XLOPER& record, std::size_t rows);

// Fills a column: values.size() number cells, then text cells pointing at
// `emptyText` down to `rows`.
void FillNumbersThenEmptyText(XLOPER* cells, std::span<const double> values,
                              std::size_t rows, char* emptyText);

// Releases a column allocated by AllocColumnResult that is not handed out.
void FreeColumnResult(XLOPER& record);

}  // namespace hvt

#endif  // HVT_HOST_WORKSHEET_ARGS_H
