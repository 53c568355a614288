// Registration type texts against C signatures: what the compile-time check
// of every tool's rows accepts and refuses.
#include <gtest/gtest.h>

#include "host/registration.h"

namespace hvt {
namespace {

LPXLOPER WINAPI Function(LPXLOPER, int, int) { return nullptr; }
int WINAPI Macro(LPXLOPER, LPXLOPER, double*, double*) { return 1; }
short WINAPI Command() { return 1; }
int WINAPI Flags(LPXLOPER, short) { return 1; }

#if !defined(_WIN32) || defined(_WIN64)
TEST(RegistrationTypes, TextsMustNameEveryArgumentWithItsLetter) {
  static_assert(TypeTextFits(&Function, " RRJJ"));
  static_assert(TypeTextFits(&Function, " PRJJ!"));   // marks after the letters
  static_assert(!TypeTextFits(&Function, " RRJ"));     // an argument short
  static_assert(!TypeTextFits(&Function, " RRJJJ"));   // one too many
  static_assert(!TypeTextFits(&Function, " RRJE"));    // a double* for an int
  static_assert(TypeTextFits(&Macro, " JRREE"));
  static_assert(!TypeTextFits(&Macro, " JRRBB"));      // doubles by value
  static_assert(TypeTextFits(&Command, " A") && TypeTextFits(&Command, " I"));
  static_assert(!TypeTextFits(&Command, " J"));
  static_assert(TypeTextFits(&Flags, " JRA"));
  constexpr RegistrationRow row =
      Registered<&Macro>(" Macro", " JRREE", " Macro_Text", " a,b,c,d", " 2", " HVT", " ");
  EXPECT_STREQ(row.text[kProcedure], " Macro");
  EXPECT_STREQ(row.text[kTypeText], " JRREE");
  EXPECT_STREQ(row.text[kShortcut], " ");
}
#endif

}  // namespace
}  // namespace hvt
