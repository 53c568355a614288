#include "host/counted_string.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace hvt {

void SetCountedLength(char* buffer) {
  std::size_t length = strnlen(buffer + 1, 255);
  buffer[0] = static_cast<char>(length);
}

int CompareCounted(const char* a, const char* b) {
  std::size_t length = CountedLength(a);
  if (length != CountedLength(b)) return 1;
  for (std::size_t i = 1; i <= length; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (std::tolower(ca) != std::tolower(cb)) return 1;
  }
  return 0;
}

void AppendCounted(char* buffer, std::size_t capacity, const char* text) {
  if (capacity < 2) return;
  std::size_t used = strnlen(buffer + 1, capacity - 1);
  if (used >= capacity - 1) return;  // not terminated within the buffer
  std::size_t room = capacity - 2 - used;
  std::size_t count = std::min(CountedLength(text), room);
  std::memcpy(buffer + 1 + used, text + 1, count);
  buffer[1 + used + count] = '\0';
}

void CopyCounted(const char* source, char* target, std::size_t capacity) {
  if (capacity == 0) return;
  std::size_t length = std::min(CountedLength(source), capacity - 1);
  target[0] = static_cast<char>(length);
  std::memcpy(target + 1, source + 1, length);
}

}  // namespace hvt
