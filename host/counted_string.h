// Byte-counted strings: the first byte holds the length (0..255), a NUL
// follows the text so the text can also be handed to C string calls.
#ifndef HVT_HOST_COUNTED_STRING_H
#define HVT_HOST_COUNTED_STRING_H

#include <cstddef>

#include "sdk/xlcall.h"

namespace hvt {

// Length of a counted string, read as unsigned so texts of 128..255
// characters work too.
inline std::size_t CountedLength(const char* text) {
  return static_cast<unsigned char>(text[0]);
}

// Writes the length byte from the NUL-terminated text that starts at the
// second byte (at most 255; a longer text is cut there).
void SetCountedLength(char* buffer);

// 0 when the two texts are equal ignoring case, 1 otherwise.
int CompareCounted(const char* a, const char* b);

// Appends the text of `text` to the NUL-terminated text that starts at the
// second byte of `buffer`; the buffer's length byte is left alone. Never
// writes past `capacity` bytes of `buffer`: what does not fit is dropped.
void AppendCounted(char* buffer, std::size_t capacity, const char* text);

// Copies the length byte and the text (length + 1 bytes, no NUL) into
// `target`, cut to `capacity` bytes (the length byte then says what fits).
void CopyCounted(const char* source, char* target, std::size_t capacity);

// ---- Counted texts of the 12-series (UTF-16, the first unit the length).
// The add-in keeps a wide host's texts (dialog answers) in its byte records
// as UTF-8; these convert without loss both ways (an unpaired surrogate
// keeps its three-byte form).

// `counted` (UTF-8) into `out` as a counted UTF-16 text with a NUL after it.
// False, `out` untouched, when it needs more than `capacity` units.
bool WidenCounted(const char* counted, XCHAR* out, std::size_t capacity);

// `counted` (UTF-16) into `out` as a counted UTF-8 text with a NUL after
// it. False, `out` untouched, when it needs more than 255 bytes or
// `capacity` bytes in all.
bool NarrowCounted(const XCHAR* counted, char* out, std::size_t capacity);

}  // namespace hvt

#endif  // HVT_HOST_COUNTED_STRING_H
