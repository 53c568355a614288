// The text of a byte-counted string (the length byte first), as the tests
// read what the host or the add-in wrote.
#ifndef HVT_TESTS_COUNTED_TEXT_H
#define HVT_TESTS_COUNTED_TEXT_H

#include <gtest/gtest.h>

#include <string>

#include "sdk/xlcall.h"

inline std::string CountedText(const char* counted) {
  return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
}

// A value that is not a text fails the test and reads as "".
inline std::string CountedText(const XLOPER& x) {
  EXPECT_EQ(x.xltype, xltypeStr);
  return x.xltype == xltypeStr ? CountedText(x.val.str) : std::string();
}

#endif  // HVT_TESTS_COUNTED_TEXT_H
