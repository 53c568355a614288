// The correctly rounded functions against MPFR: special values, hard and
// exact cases, the accurate paths on their own, and the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "math/cr_math.h"
#include "tests/math/mpfr_oracle.h"

namespace {

namespace tables {
#include "math/cr_tables.inc"
}

using hvt::math::testing::Oracle;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t Bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Bit for bit, signed zeros included; any NaN matches any NaN.
::testing::AssertionResult SameDouble(double got, double want) {
  if ((got != got && want != want) || Bits(got) == Bits(want)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << std::hexfloat << got << ", want " << want;
}

const std::vector<double>& Specials() {
  static const std::vector<double> v = {
      0.0,     -0.0,   kInf,   -kInf,   kNaN,    1.0,      -1.0,    2.0,   -2.0,
      0.5,     -0.5,   3.0,    -3.0,    1.5,     -1.5,     0x1p-1074, -0x1p-1074,
      0x1p-1022, 0x1.fffffffffffffp+1023, -0x1.fffffffffffffp+1023, 0x1p53, 0x1p53 + 2,
      0x1p64, 0x1p-70, 0x1p-80, 1.0 + 0x1p-52, 1.0 - 0x1p-53, 709.78, 709.79, -745.13,
      -745.14, 1e300, -1e300, 1e-300, 0x1.fffffffffffffp+52};
  return v;
}

TEST(CorrectlyRounded, SpecialValuesMatchTheOracle) {
  Oracle oracle;
  for (double x : Specials()) {
    EXPECT_TRUE(SameDouble(hvt::math::Exp(x), oracle.Exp(x))) << "exp " << x;
    EXPECT_TRUE(SameDouble(hvt::math::Log(x), oracle.Log(x))) << "log " << x;
    for (double y : Specials()) {
      EXPECT_TRUE(SameDouble(hvt::math::Pow(x, y), oracle.Pow(x, y))) << "pow " << x << " " << y;
    }
  }
}

// Results within a tiny fraction of an ulp of a midpoint: the published
// hard case of log from Lefevre and Muller's search (60 ones after the
// rounding bit), tiny arguments whose exp sits just past a midpoint, and
// logs and powers near 1.
TEST(CorrectlyRounded, HardToRoundCases) {
  Oracle oracle;
  const double logs[] = {0x1.ac50b409c8aeep+8, 1.0 + 0x1p-52, 1.0 - 0x1p-53, 2.0 - 0x1p-52,
                         0x1.6a09e667f3bcdp+0, 0x1.6a09e667f3bccp+0, 0x1p-1074, 0x1p1023};
  for (double x : logs) EXPECT_TRUE(SameDouble(hvt::math::Log(x), oracle.Log(x))) << x;
  const double exps[] = {0x1p-53, -0x1p-54, 0x1.0000000000001p-53, -0x1.0000000000001p-54,
                         0x1p-54, -0x1p-55, 0x1p-30, -0x1p-30, 0x1p-40, -0x1p-40,
                         709.782712893384, -708.3964185322641, -745.1332191019411,
                         -745.1332191019412, -744.4400719213812};
  for (double x : exps) EXPECT_TRUE(SameDouble(hvt::math::Exp(x), oracle.Exp(x))) << x;
  const double pows[][2] = {{1.0 + 0x1p-52, 0x1p51},  {1.0 - 0x1p-53, -0x1p52},
                            {1.0 + 0x1p-52, 0x1p-2},  {2.0, 0x1p-53},
                            {2.0, -0x1p-53},          {0x1p-1074, 0x1p-11},
                            {0.5, 1074.5},            {0x1.fffffffffffffp+1023, 0.5},
                            // within 2^-65 of a midpoint (found by the sweep)
                            {-0x1.2e2e1afa106dbp+7, 33.0}, {0x1.0e066da789309p+1, -0x1.da4397e2cc21dp+9},
                            {0x1.ffbec8ceefc5ap-1, 0x1.5b290337144c2p+20}};
  for (const auto& p : pows) {
    EXPECT_TRUE(SameDouble(hvt::math::Pow(p[0], p[1]), oracle.Pow(p[0], p[1])))
        << p[0] << " " << p[1];
  }
}

// exp's inline first attempt takes 2^-54 <= |x| < 512 and scales by 2^k
// before rounding: the edges of that range and of the ranges around it
// (overflow, subnormal results), and results next to powers of two (x next
// to m ln2, where the rounding test's distance changes).
TEST(CorrectlyRounded, ExpAtTheEdgesOfItsFirstAttempt) {
  Oracle oracle;
  std::vector<double> xs;
  for (double edge : {0x1p-54, 0x1p-30, 1.0, 512.0, 704.0, 709.78, 720.0, 745.0}) {
    double x = edge;
    for (int i = 0; i < 3; ++i) x = std::nextafter(x, 0.0);
    for (int i = 0; i < 7; ++i, x = std::nextafter(x, kInf)) {
      xs.push_back(x);
      xs.push_back(-x);
    }
  }
  for (int m = -1000; m <= 1000; m += 7) {
    double x = m * 0x1.62e42fefa39efp-1;  // m ln2, rounded
    for (int i = 0; i < 2; ++i) x = std::nextafter(x, -kInf);
    for (int i = 0; i < 5; ++i, x = std::nextafter(x, kInf)) xs.push_back(x);
  }
  for (double x : xs) EXPECT_TRUE(SameDouble(hvt::math::Exp(x), oracle.Exp(x))) << x;
}

// The three-operation rounding test at its edge: for hi and the largest
// |lo| of either sign it accepts, the true value may lie anywhere within
// eps |y| of hi + lo; at the far ends (worked out in MPFR) the nearest
// double must still be hi. hi includes powers of two, where the distance
// below is half the distance above. A factor of 1 must fail somewhere, so
// the check can tell a factor too small.
TEST(CorrectlyRounded, CheapRoundingTestHoldsAtItsEdge) {
  using hvt::math::detail::RoundingTestFactor;
  using hvt::math::detail::RoundsToHiBy;
  mpfr_t y, d;
  mpfr_inits2(300, y, d, static_cast<mpfr_ptr>(nullptr));
  std::mt19937_64 rng(2718);
  std::vector<double> his = {1.0, 2.0, 0x1p-700, 0x1p600, 1.5, 0x1.fffffffffffffp+0,
                             0x1.0000000000001p+0};
  for (int i = 0; i < 200; ++i) {
    const std::uint64_t b = (rng() % 1400 + 300) << 52 | (rng() >> 12);
    double h;
    std::memcpy(&h, &b, sizeof h);
    his.push_back(h);
  }
  // Whether some true value within eps of hi + lo has another nearest double.
  auto escapes = [&](double hi, double lo, double eps) {
    for (double side : {-1.0, 1.0}) {
      mpfr_set_d(y, hi, MPFR_RNDN);
      mpfr_add_d(y, y, lo, MPFR_RNDN);  // exact at 300 bits
      mpfr_set_d(d, side * eps, MPFR_RNDN);
      mpfr_ui_sub(d, 1, d, MPFR_RNDN);
      mpfr_div(y, y, d, MPFR_RNDN);  // |y - (hi + lo)| = eps |y|
      if (mpfr_get_d(y, MPFR_RNDN) != hi) return true;
    }
    return false;
  };
  for (double eps : {0x1.7p-59, 0x1p-62, 0x1p-70}) {
    int escaped_with_one = 0;
    for (double hi : his) {
      for (double f : {RoundingTestFactor(eps), 1.0}) {
        for (double sign : {-1.0, 1.0}) {
          // The largest |lo| the test accepts: it accepts an interval.
          std::uint64_t pass = 0, fail = Bits(std::nextafter(hi, kInf) - hi);
          while (fail - pass > 1) {
            const std::uint64_t mid = pass + (fail - pass) / 2;
            double l;
            std::memcpy(&l, &mid, sizeof l);
            (RoundsToHiBy(hi, sign * l, f) ? pass : fail) = mid;
          }
          double lo;
          std::memcpy(&lo, &pass, sizeof lo);
          lo *= sign;
          if (f == 1.0) {
            escaped_with_one += escapes(hi, lo, eps);
          } else {
            EXPECT_FALSE(escapes(hi, lo, eps)) << std::hexfloat << hi << " " << lo << " " << eps;
          }
        }
      }
    }
    EXPECT_GT(escaped_with_one, 0) << eps;
  }
  mpfr_clears(y, d, static_cast<mpfr_ptr>(nullptr));
}

// Powers whose value is a double or lies exactly half-way between two:
// the half-way ones must round to even, subnormal ones included.
TEST(CorrectlyRounded, ExactPowersAndMidpoints) {
  Oracle oracle;
  struct Case {
    double x, y;
    bool midpoint;
  };
  const Case cases[] = {
      {2.0, 10.0, false},           {4.0, 0.5, false},          {9.0, 1.5, false},
      {6561.0, 0.125, false},       {0.25, -0.5, false},        {10.0, 22.0, false},
      {-3.0, 3.0, false},           {0x1p-1074, 0.5, false},    {1.5, 2.0, false},
      {2.0, -1074.0, false},        {94906267.0, 2.0, true},    {10.0, 23.0, true},
      {5.0, 23.0, true},            {3.0, 34.0, true},          {-5.0, 23.0, true},
      {2.0, -1075.0, true},         {0x1.8p-214, 5.0, true},    {94906267.0 * 94906267.0, 0.5, false},
      {0x1.2p+3, 17.0, true},       {0.1, 2.0, false},          {1e22, 0.5, false}};
  for (const Case& c : cases) {
    const double want = oracle.Pow(c.x, c.y);
    EXPECT_TRUE(SameDouble(hvt::math::Pow(c.x, c.y), want)) << c.x << " " << c.y;
    if (c.x > 0 && c.midpoint) {
      double exact = 0;
      EXPECT_TRUE(hvt::math::detail::ExactPow(c.x, c.y, &exact)) << c.x << " " << c.y;
      EXPECT_TRUE(SameDouble(exact, want)) << c.x << " " << c.y;
      EXPECT_TRUE(SameDouble(hvt::math::detail::PowAccurate(c.x, c.y), want));
    }
  }
  double unused = 0;
  EXPECT_FALSE(hvt::math::detail::ExactPow(3.0, 0.5, &unused));
  EXPECT_FALSE(hvt::math::detail::ExactPow(10.0, 0.3, &unused));
  EXPECT_FALSE(hvt::math::detail::ExactPow(3.0, 41.0, &unused));  // beyond 2^64
  EXPECT_FALSE(hvt::math::detail::ExactPow(3.0, -1.0, &unused));
}

// A base fixed once gives the very results of Pow, special bases and
// exponents included; the random exponents are checked against MPFR too.
TEST(CorrectlyRounded, PowerBaseGivesPowsResults) {
  Oracle oracle;
  std::vector<double> bases = Specials();
  for (double b : {0.574468085106383, 0.8316, 1.7, 1e-300, 3.0}) bases.push_back(b);
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> exponent(-40.0, 40.0);
  for (double x : bases) {
    const hvt::math::PowerBase base(x);
    for (double y : Specials()) {
      EXPECT_TRUE(SameDouble(base.Pow(y), hvt::math::Pow(x, y))) << x << " " << y;
    }
    for (int i = 0; i < 500; ++i) {
      const double y = exponent(rng);
      EXPECT_TRUE(SameDouble(base.Pow(y), oracle.Pow(x, y))) << x << " " << y;
    }
  }
}


// The prepared logarithm skips Pow's cheap first logarithm, so the two take
// different routes to each result: over bases of every binade, bases near 1
// (both sides of the short logarithm's |x - 1| < 2^-8 cut), exact powers and
// the filters' fixed bases, and exponents of every kind (fractions, whole
// and half-whole numbers, the edges of overflow, underflow and the tiny and
// huge cut-offs), both must give the same bits.
TEST(CorrectlyRounded, PowerBaseTakesPowsResultOnEveryRoute) {
  std::mt19937_64 rng(2718);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> bases = {2.0,    4.0,    0.25,     9.0,       10.0,     1e-300,     0x1p-1074,
                               0x1p-1022, 0x1.fffffffffffffp+1023, 1.0 - 0x1p-8, 1.0 + 0x1p-8,
                               -2.0,   -0.5,   -10.0,    81.0,      0.1};
  for (double b : {1.0 - 0x1p-8, 1.0 + 0x1p-8}) {
    bases.push_back(std::nextafter(b, 0.0));
    bases.push_back(std::nextafter(b, 2.0));
  }
  for (int i = 0; i < 40; ++i) {  // any positive finite double, subnormals included
    bases.push_back(std::bit_cast<double>(rng() % 0x7ff0000000000000));
  }
  for (int i = 0; i < 20; ++i) bases.push_back(unit(rng));
  for (int i = 0; i < 12; ++i) {  // within a few thousand ulps of 1
    const double ulps = static_cast<double>(rng() % 4000 + 1);
    bases.push_back(i % 2 == 0 ? 1.0 + ulps * 0x1p-52 : 1.0 - ulps * 0x1p-53);
  }
  for (double s : {1.5, 2.0, 7.0, 30.0, 250.0, 9999.0}) {  // the filters' kb and beta forms
    const double h = (s - 1.0) * 0.5;
    const double b = std::sqrt(h) * std::max(std::log2(std::sqrt(h)) + 2.0, 0.0);
    bases.push_back(b / (b + 1.0));
    bases.push_back((h * 0.9) / (h * 0.9 + 2.0));
  }
  int compared = 0;
  for (double x : bases) {
    if (!(x != 0)) continue;
    const hvt::math::PowerBase base(x);
    std::vector<double> ys = Specials();
    for (int i = 0; i < 150; ++i) {
      ys.push_back(2.0 * unit(rng) - 1.0);
      ys.push_back(80.0 * unit(rng) - 40.0);
      ys.push_back(1.0 + 8.0 * unit(rng));
      ys.push_back(static_cast<double>(static_cast<int>(rng() % 257) - 128) * 0.5);
    }
    const double l = std::log(std::fabs(x));
    if (l != 0) {
      for (double edge : {709.782712893384, -708.3964185322641, -745.1332191019411, -744.44}) {
        const double y = edge / l;
        ys.push_back(y);
        ys.push_back(std::nextafter(y, 0.0));
        ys.push_back(std::nextafter(y, kInf));
        ys.push_back(y * (1.0 + 0x1p-40));
        ys.push_back(y * (1.0 - 0x1p-40));
      }
    }
    for (double cut : {0x1p-70, 0x1p64, 0x1p-55}) {
      for (double y : {cut, std::nextafter(cut, 0.0), std::nextafter(cut, kInf)}) {
        ys.push_back(y);
        ys.push_back(-y);
      }
    }
    for (double y : ys) {
      EXPECT_TRUE(SameDouble(base.Pow(y), hvt::math::Pow(x, y))) << std::hexfloat << x << " " << y;
      ++compared;
    }
  }
  EXPECT_GT(compared, 60000);
}
// The accurate paths decide only the rare hard cases in normal use, so they
// are checked here on their own over the ranges they accept.
TEST(CorrectlyRounded, AccuratePathsAloneMatchTheOracle) {
  Oracle oracle;
  std::mt19937_64 rng(1414);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int wrong = 0;
  for (int i = 0; i < 3000; ++i) {
    const double x = -745.0 + 1455.0 * unit(rng);
    if (!SameDouble(hvt::math::detail::ExpAccurate(x), oracle.Exp(x))) ++wrong;
    const double small = (unit(rng) - 0.5) * 0x1p-20;
    if (std::fabs(small) >= 0x1p-54 &&
        !SameDouble(hvt::math::detail::ExpAccurate(small), oracle.Exp(small))) {
      ++wrong;
    }
    std::uint64_t b = (rng() % 2046 + 1) << 52 | (rng() >> 12);
    double l;
    std::memcpy(&l, &b, sizeof l);
    if (l != 1.0 && !SameDouble(hvt::math::detail::LogAccurate(l), oracle.Log(l))) ++wrong;
    const double near1 = 1.0 + (unit(rng) - 0.5) * 0x1p-30;
    if (near1 != 1.0 && !SameDouble(hvt::math::detail::LogAccurate(near1), oracle.Log(near1))) {
      ++wrong;
    }
    const double px = 100.0 * unit(rng) + 1e-3;
    const double py = (unit(rng) - 0.5) * 20.0;
    if (px != 1.0 && std::fabs(py) >= 0x1p-70 &&
        !SameDouble(hvt::math::detail::PowAccurate(px, py), oracle.Pow(px, py))) {
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Each table entry is hi + lo with hi the nearest double to the value and
// lo the nearest to the rest; constants split as their comments say.
TEST(CorrectlyRounded, TablesAreTheNearestDoubleDoubles) {
  mpfr_t v, t;
  mpfr_inits2(400, v, t, static_cast<mpfr_ptr>(nullptr));
  auto check = [&](double hi, double lo) {
    // v holds the exact value: hi must be its nearest double and lo the
    // nearest double to v - hi.
    EXPECT_EQ(mpfr_get_d(v, MPFR_RNDN), hi);
    mpfr_sub_d(t, v, hi, MPFR_RNDN);
    EXPECT_EQ(mpfr_get_d(t, MPFR_RNDN), lo);
  };
  for (int j = 0; j < 128; ++j) {
    mpfr_set_ui(v, 2, MPFR_RNDN);
    mpfr_set_d(t, j / 128.0, MPFR_RNDN);
    mpfr_pow(v, v, t, MPFR_RNDN);
    check(tables::kExp2Table[j][0], tables::kExp2Table[j][1]);
  }
  for (int i = 0; i < 128; ++i) {
    const auto& row = tables::kLogTable[i];
    // c: within 2^-19 of 1/midpoint, with at most 20 significant bits.
    EXPECT_LT(std::fabs(row.c * (1.0 + (i + 0.5) / 128) - 1.0), 0x1p-19);
    EXPECT_EQ(Bits(row.c) & ((std::uint64_t{1} << 33) - 1), 0u);
    mpfr_set_d(v, i < 53 ? row.c : 2 * row.c, MPFR_RNDN);
    mpfr_log(v, v, MPFR_RNDN);
    mpfr_neg(v, v, MPFR_RNDN);
    check(row.hi, row.lo);
  }
  mpfr_const_log2(v, MPFR_RNDN);
  mpfr_sub_d(t, v, tables::kLn2_1, MPFR_RNDN);
  EXPECT_EQ(mpfr_get_d(t, MPFR_RNDN), tables::kLn2_2);
  EXPECT_EQ(Bits(tables::kLn2_1) & ((std::uint64_t{1} << 11) - 1), 0u);  // 42 bits
  mpfr_div_ui(v, v, 128, MPFR_RNDN);
  mpfr_sub_d(v, v, tables::kLn2By128_1, MPFR_RNDN);
  EXPECT_LT(mpfr_get_exp(v), -40);  // the leading part is within 2^-42
  EXPECT_EQ(Bits(tables::kLn2By128_1) & ((std::uint64_t{1} << 18) - 1), 0u);  // 35 bits
  check(tables::kLn2By128_2, tables::kLn2By128_3);
  mpfr_set_ui(v, 1, MPFR_RNDN);
  mpfr_div_ui(v, v, 3, MPFR_RNDN);
  check(tables::kThird[0], tables::kThird[1]);
  mpfr_clears(v, t, static_cast<mpfr_ptr>(nullptr));
}

}  // namespace
