#include "host/counted_string.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
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

bool WidenCounted(const char* counted, XCHAR* out, std::size_t capacity) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(counted + 1);
  const std::size_t length = CountedLength(counted);
  // Units: one per code point below U+10000, two above; every unit fits a
  // 16-bit length, as a counted byte text has at most 255 bytes.
  XCHAR units[2 * 255];
  std::size_t count = 0;
  for (std::size_t i = 0; i < length;) {
    unsigned lead = bytes[i];
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t point = extra == 0 ? lead : lead & (0x3Fu >> extra);
    std::size_t k = 1;
    for (; k <= extra && i + k < length && (bytes[i + k] & 0xC0) == 0x80; ++k) {
      point = (point << 6) | (bytes[i + k] & 0x3Fu);
    }
    if (k <= extra || lead >= 0xF8 || (lead >= 0x80 && lead < 0xC0)) {
      point = lead;  // a stray byte stands for itself, as Latin-1 reads it
      k = 1;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      units[count++] = static_cast<XCHAR>(0xD800 + (point >> 10));
      units[count++] = static_cast<XCHAR>(0xDC00 + (point & 0x3FF));
    } else {
      units[count++] = static_cast<XCHAR>(point);
    }
    i += k;
  }
  if (count + 2 > capacity) return false;
  out[0] = static_cast<XCHAR>(count);
  std::copy(units, units + count, out + 1);
  out[count + 1] = 0;
  return true;
}

bool NarrowCounted(const XCHAR* counted, char* out, std::size_t capacity) {
  const std::size_t length = counted[0];
  unsigned char bytes[256];
  std::size_t count = 0;
  auto put = [&](unsigned value) {
    if (count < sizeof bytes) bytes[count] = static_cast<unsigned char>(value);
    ++count;
  };
  for (std::size_t i = 1; i <= length; ++i) {
    std::uint32_t point = counted[i];
    if (point >= 0xD800 && point < 0xDC00 && i < length && counted[i + 1] >= 0xDC00 &&
        counted[i + 1] < 0xE000) {
      point = 0x10000 + ((point - 0xD800) << 10) + (counted[i + 1] - 0xDC00u);
      ++i;
    }
    if (point < 0x80) {
      put(point);
    } else if (point < 0x800) {
      put(0xC0 | (point >> 6));
      put(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      put(0xE0 | (point >> 12));
      put(0x80 | ((point >> 6) & 0x3F));
      put(0x80 | (point & 0x3F));
    } else {
      put(0xF0 | (point >> 18));
      put(0x80 | ((point >> 12) & 0x3F));
      put(0x80 | ((point >> 6) & 0x3F));
      put(0x80 | (point & 0x3F));
    }
  }
  if (count > 255 || count + 2 > capacity) return false;
  out[0] = static_cast<char>(count);
  std::memcpy(out + 1, bytes, count);
  out[count + 1] = '\0';
  return true;
}

}  // namespace hvt
