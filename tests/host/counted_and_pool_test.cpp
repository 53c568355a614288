// Counted strings and the temporary pool: the pieces every host call is
// built from.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/counted_string.h"
#include "host/host_values.h"

namespace hvt {
namespace {

// A counted string built the slow way, for comparisons.
std::string Counted(const std::string& text) {
  std::string s(1, static_cast<char>(text.size()));
  s += text;
  s += '\0';
  return s;
}

TEST(CountedString, CompareIgnoresCaseAndChecksLength) {
  EXPECT_EQ(CompareCounted(Counted("Data").c_str(), Counted("DATA").c_str()), 0);
  EXPECT_EQ(CompareCounted(Counted("Data").c_str(), Counted("Data2").c_str()), 1);
  EXPECT_EQ(CompareCounted(Counted("Data").c_str(), Counted("Dbta").c_str()), 1);
  EXPECT_EQ(CompareCounted(Counted("").c_str(), Counted("").c_str()), 0);
}

TEST(CountedString, LongTextsOf128To255Characters) {
  // The length byte is read unsigned, so long texts compare and copy whole.
  for (std::size_t length : {127u, 128u, 200u, 255u}) {
    std::string a = Counted(std::string(length, 'x'));
    std::string b = Counted(std::string(length, 'X'));
    EXPECT_EQ(CompareCounted(a.c_str(), b.c_str()), 0) << length;
    b[length] = 'y';
    EXPECT_EQ(CompareCounted(a.c_str(), b.c_str()), 1) << length;

    char target[260];
    std::memset(target, 0, sizeof(target));
    CopyCounted(a.c_str(), target, sizeof(target));
    EXPECT_EQ(CountedLength(target), length);
    EXPECT_EQ(std::string(target + 1), std::string(length, 'x'));

    char buffer[300] = {};
    std::memset(buffer + 1, 'z', length);
    SetCountedLength(buffer);
    EXPECT_EQ(CountedLength(buffer), length);
  }
}

TEST(CountedString, CopyAndAppendStayInsideTheirBuffers) {
  std::string source = Counted("abcdefgh");
  char small[5];
  std::memset(small, '#', sizeof(small));
  CopyCounted(source.c_str(), small, sizeof(small));
  EXPECT_EQ(CountedLength(small), 4u);
  EXPECT_EQ(std::string(small + 1, 4), "abcd");

  char buffer[8] = {0, 'a', 'b', '\0'};
  AppendCounted(buffer, sizeof(buffer), source.c_str());
  EXPECT_EQ(std::string(buffer + 1), "ababcd") << "cut to fit, NUL kept";
  EXPECT_EQ(buffer[0], 0) << "the length slot is the caller's";

  char unterminated[4] = {0, 'a', 'b', 'c'};
  AppendCounted(unterminated, sizeof(unterminated), source.c_str());
  EXPECT_EQ(unterminated[3], 'c');
}

TEST(TempPool, FillRulesAndExhaustion) {
  ResetTemp();
  ASSERT_NE(AllocTemp(16), nullptr);
  ASSERT_NE(AllocTemp(16), nullptr);
  ASSERT_NE(AllocTemp(3), nullptr);
  EXPECT_EQ(TempFillOffset(), 36u) << "odd offsets round up to even";

  ResetTemp();
  EXPECT_EQ(AllocTemp(kTempPoolSize + 1), nullptr);
  EXPECT_EQ(TempFillOffset(), 0u);
  ASSERT_NE(AllocTemp(1000), nullptr);
  EXPECT_EQ(AllocTemp(25), nullptr) << "would pass 1,024 bytes";
  EXPECT_EQ(TempFillOffset(), 1000u);
  EXPECT_NE(AllocTemp(24), nullptr);
  EXPECT_EQ(TempFillOffset(), 1024u);
  EXPECT_EQ(TempNumber(1.0), nullptr);
  EXPECT_EQ(TempMissing(), nullptr);
  ResetTemp();
}

TEST(TempPool, ValuesAreFilledAsTyped) {
  ResetTemp();
  char text[] = "?Data";
  LPXLOPER s = TempString(text);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->xltype, xltypeStr);
  EXPECT_EQ(s->val.str, text) << "the text is not copied";
  EXPECT_EQ(text[0], 4);

  LPXLOPER b = TempBoolean(-7);
  EXPECT_EQ(b->xltype, xltypeBool);
  EXPECT_EQ(b->val.xbool, 1);
  EXPECT_EQ(TempBoolean(0)->val.xbool, 0);
  LPXLOPER i = TempInteger(64);
  EXPECT_EQ(i->xltype, xltypeInt);
  EXPECT_EQ(i->val.w, 64);
  LPXLOPER n = TempNumber(-2.5);
  EXPECT_EQ(n->xltype, xltypeNum);
  EXPECT_EQ(n->val.num, -2.5);
  EXPECT_EQ(TempMissing()->xltype, xltypeMissing);
  EXPECT_EQ(TempFillOffset(), 6 * sizeof(XLOPER));
  ResetTemp();
}

TEST(GlobalMemory, AutoFreeReleasesAndClearsThePointer) {
  XLOPER result{};
  auto* cells = static_cast<XLOPER*>(AllocGlobal(3 * sizeof(XLOPER)));
  ASSERT_NE(cells, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(cells[i].xltype, 0) << "zeroed";
  result.xltype = xltypeMulti | xlbitDLLFree;
  result.val.array.lparray = cells;
  result.val.array.rows = 3;
  result.val.array.columns = 1;
  xlAutoFree(&result);
  EXPECT_EQ(result.val.array.lparray, nullptr);
  xlAutoFree(&result);  // a second call is harmless
  EXPECT_EQ(result.val.array.lparray, nullptr);
}

}  // namespace
}  // namespace hvt
