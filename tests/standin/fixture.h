// Shared test fixture: a fresh host per test, and a check that the test left
// no outstanding values, bad frees or live blocks behind.
#ifndef HVT_TESTS_STANDIN_FIXTURE_H
#define HVT_TESTS_STANDIN_FIXTURE_H

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "standin/standin.h"

// One-value records for calls into the host.
inline XLOPER NumOper(double d) {
  XLOPER x{};
  x.xltype = xltypeNum;
  x.val.num = d;
  return x;
}
inline XLOPER BoolOper(bool b) {
  XLOPER x{};
  x.xltype = xltypeBool;
  x.val.xbool = b ? 1 : 0;
  return x;
}
inline XLOPER IntOper(int w) {
  XLOPER x{};
  x.xltype = xltypeInt;
  x.val.w = static_cast<short>(w);
  return x;
}

// Counted strings and one-area references for calls into the host, their
// texts and tables kept in place as long as the holder.
struct Opers {
  std::deque<std::string> held;
  std::deque<XLMREF> tables;
  XLOPER Str(const std::string& s) {
    held.push_back(std::string(1, static_cast<char>(s.size())) + s);
    XLOPER x{};
    x.xltype = xltypeStr;
    x.val.str = held.back().data();
    return x;
  }
  XLOPER Ref(standin::SheetId sheet, int r1, int r2, int c1, int c2) {
    tables.push_back(XLMREF{1, {{static_cast<WORD>(r1), static_cast<WORD>(r2),
                                 static_cast<BYTE>(c1), static_cast<BYTE>(c2)}}});
    XLOPER x{};
    x.xltype = xltypeRef;
    x.val.mref.lpmref = &tables.back();
    x.val.mref.idSheet = sheet;
    return x;
  }
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::ResetQuietly(); }
  void TearDown() override {
    if (check_clean_) {
      standin::Accounting a = standin::GetAccounting();
      std::string problems;
      for (const auto& p : a.problems) problems += p + "\n";
      EXPECT_TRUE(a.Clean()) << problems;
    }
    standin::ResetQuietly();
  }
  // For tests that leak or double-free on purpose.
  void ExpectFaults() { check_clean_ = false; }

  static double Num(const standin::Value& v) {
    EXPECT_TRUE(std::holds_alternative<double>(v)) << standin::Describe(v);
    return std::holds_alternative<double>(v) ? std::get<double>(v) : 0;
  }
  static int Err(const standin::Value& v) {
    EXPECT_TRUE(std::holds_alternative<standin::Error>(v)) << standin::Describe(v);
    return std::holds_alternative<standin::Error>(v) ? std::get<standin::Error>(v).code : -1;
  }

 private:
  bool check_clean_ = true;
};

#endif  // HVT_TESTS_STANDIN_FIXTURE_H
