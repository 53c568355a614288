// Work-array allocation for the decorrelation core: a failed allocation is a
// status, never an exception, and tests can make the k-th one fail.
#ifndef HVT_TOOLS_DECOR_CORE_DECOR_ALLOC_H
#define HVT_TOOLS_DECOR_CORE_DECOR_ALLOC_H

#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace hvt::decor::detail {

// True when the test hook says this allocation must fail.
bool AllocationShouldFail();

// Sizes v to count zeroed elements; false when memory is short.
template <typename T>
bool TryAllocate(std::vector<T>& v, std::size_t count) {
  if (AllocationShouldFail()) return false;
  try {
    v.assign(count, T{});
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

// a·b, or false when it overflows std::size_t.
inline bool CheckedProduct(std::size_t a, std::size_t b, std::size_t& out) {
  if (a != 0 && b > static_cast<std::size_t>(-1) / a) return false;
  out = a * b;
  return true;
}

}  // namespace hvt::decor::detail

#endif  // HVT_TOOLS_DECOR_CORE_DECOR_ALLOC_H
