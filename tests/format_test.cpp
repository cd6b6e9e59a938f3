// The fixed and default real formats: the documented examples and edge cases,
// extremes under enabled floating-point traps, and agreement with an exact
// decimal expansion wherever the 17-digit algorithm is exact.
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "report/format.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

struct FixedCase {
  REAL v;
  int w, d;
  const char *text;
};

struct DefaultCase {
  REAL v;
  const char *text;
};

void ExpectFixed(const std::vector<FixedCase> &cases) {
  for (const FixedCase &c : cases)
    EXPECT_EQ(Fixed(c.v, c.w, c.d), c.text)
        << "value " << static_cast<double>(c.v) << " in fixed(" << c.w << ", " << c.d << ")";
}

void ExpectDefault(const std::vector<DefaultCase> &cases) {
  for (const DefaultCase &c : cases)
    EXPECT_EQ(DefaultFormat(c.v), c.text) << "value " << static_cast<double>(c.v);
}

TEST(FixedFormat, DocumentedExamples) {
  ExpectFixed({
      {1.11364898L, 12, 8, "  1.11364898"},
      {0.11893163L, 12, 8, "  0.11893163"},
      {-2.033455005L, 13, 10, "-2.0334550050"},
      {0.8694461013L, 13, 10, " 0.8694461013"},
      {-204.941223689L, 13, 10, "-204.9412236890"},
      {2.675L, 5, 2, " 2.68"},
      {0.115L, 5, 2, " 0.12"},
      {-0.000000001L, 10, 8, "-0.00000000"},
      {1e36L, 10, 8, " 1.0000000000000000E+0036"},
      {0.5L, 10, 8, "0.50000000"},
      {1.11364898L, 10, 8, "1.11364898"},
      {0.000000005L, 10, 8, "0.00000001"},
      {1e-12L, 10, 8, "0.00000000"},
      {12345678.5L, 13, 10, "12345678.5000000000"},
      {-288507.43373709329L, 13, 10, "-288507.4337370933"},
  });
}

TEST(FixedFormat, DocumentedEdgeCases) {
  ExpectFixed({
      {0.125L, 5, 2, " 0.13"},
      {-0.125L, 5, 2, "-0.13"},
      {0.12345678L, 10, 8, "0.12345678"},
      {-204.941223689L, 13, 10, "-204.9412236890"},
      {1e-17L, 14, 8, "    0.00000000"},
      {-1e-17L, 14, 8, "   -0.00000000"},
  });
}

TEST(FixedFormat, SignOfZeroAndOfValuesRoundingToZero) {
  ExpectFixed({
      {0.0L, 10, 8, "0.00000000"},
      {-0.0L, 10, 8, "-0.00000000"},
      {-0.0L, 0, 0, "-0"},
      {-0.4L, 0, 0, "-0"},
      {-0.000000004L, 11, 8, "-0.00000000"},
      {-1e-300L, 11, 8, "-0.00000000"},
      {-std::numeric_limits<REAL>::denorm_min(), 11, 8, "-0.00000000"},
  });
}

TEST(FixedFormat, RoundingCarriesAndLeadingZeros) {
  ExpectFixed({
      {0.96L, 5, 1, "  1.0"}, // carry into a digit not yet produced
      {9.96L, 0, 1, "10.0"},  // carry out of the first integer digit
      {99.999L, 0, 2, "100.00"},
      {-99.995L, 0, 2, "-100.00"},
      {0.0096L, 6, 2, "  0.01"}, // leading zeros use up the decimals
      {0.004L, 0, 2, "0.00"},
      {0.005L, 0, 2, "0.01"},
      {0.0123456L, 0, 4, "0.0123"},
      {0.00001234L, 0, 8, "0.00001234"},
      {0.5L, 0, 0, "1"},
      {2.5L, 0, 0, "3"},
      {0.4L, 3, 0, "  0"},
      {1.0L - 0x1p-64L, 0, 2, "1.00"}, // just below 1: a leading integer digit 0
      {0.999999995L, 10, 8, "1.00000000"},
      {0.999999994L, 10, 8, "0.99999999"},
  });
}

TEST(FixedFormat, FieldsAndDecimals) {
  ExpectFixed({
      {1.5L, 0, 3, "1.500"},
      {1.5L, -4, 3, "1.500"},
      {1.5L, 8, -1, "       2"},
      {-1.5L, 7, 3, " -1.500"},
      {123456.0L, 3, 1, "123456.0"},
      {0.5L, 0, 20, "0.50000000000000000000"},
      // More than 17 decimals: digits past the budget are zeros.
      {1.0L / 3.0L, 0, 20, "0.33333333333333333000"},
      {2.0L / 3.0L, 0, 17, "0.66666666666666667"},
      {10.0L / 3.0L, 0, 18, "3.333333333333333300"},
  });
}

TEST(FixedFormat, IntegerDigitsBeyondTheBudget) {
  ExpectFixed({
      {12345678901234567.0L, 0, 1, "12345678901234567.0"},
      {12345678901234567.5L, 0, 1, "12345678901234568.0"},
      {123456789012345678.0L, 0, 1, "123456789012345680.0"},
      {123456789012345674.0L, 0, 0, "123456789012345670"},
      {999999999999999999.0L, 0, 0, "1000000000000000000"},
      {-18446744073709551615.0L, 0, 2, "-18446744073709552000.00"},
      {1e35L, 0, 2, "100000000000000000000000000000000000.00"},
      {-1e36L, 30, 8, "     -1.0000000000000000E+0036"},
      {1e300L, 0, 8, " 1.0000000000000000E+0300"},
      {999999999999999999999999999999999999.0L, 0, 0, " 1.0000000000000000E+0036"},
  });
}

TEST(FixedFormat, NonFiniteValues) {
  const REAL inf = std::numeric_limits<REAL>::infinity();
  const REAL nan = std::numeric_limits<REAL>::quiet_NaN();
  ExpectFixed({
      {inf, 10, 8, "      +Inf"},
      {-inf, 10, 8, "      -Inf"},
      {nan, 10, 8, "       Nan"},
      {-nan, 6, 2, "   Nan"},
      {inf, 0, 8, "+Inf"},
      {nan, 2, 8, "Nan"},
  });
}

TEST(DefaultFormat, DocumentedExamples) {
  ExpectDefault({
      {1e-15L, " 1.0000000000000000E-0015"},
      {1e-9L, " 1.0000000000000000E-0009"},
      {1.5L, " 1.5000000000000000E+0000"},
      {123.456L, " 1.2345600000000000E+0002"},
      {-2.5L, "-2.5000000000000000E+0000"},
      {0.0L, " 0.0000000000000000E+0000"},
      {9.99999999999999999L, " 1.0000000000000000E+0001"},
  });
}

TEST(DefaultFormat, TypicalAndExtremeValues) {
  ExpectDefault({
      {-0.0L, "-0.0000000000000000E+0000"},
      {0.1L, " 1.0000000000000000E-0001"},
      {1e-4L, " 1.0000000000000000E-0004"},
      {1.0L / 3.0L, " 3.3333333333333333E-0001"},
      {2.0L / 3.0L, " 6.6666666666666667E-0001"},
      {-1.0L / 7.0L, "-1.4285714285714286E-0001"},
      {12345678901234567.0L, " 1.2345678901234567E+0016"},
      {12345678901234567890.0L, " 1.2345678901234568E+0019"},
      {0.99999999999999999999L, " 1.0000000000000000E+0000"},
      {1e100L, " 1.0000000000000000E+0100"},
      {std::numeric_limits<REAL>::infinity(), "                     +Inf"},
      {-std::numeric_limits<REAL>::infinity(), "                     -Inf"},
      {std::numeric_limits<REAL>::quiet_NaN(), "                      Nan"},
  });
  // The chains of divisions and multiplications may move the 17th digit at
  // the ends of the range; the exponent and the leading digits must hold.
  EXPECT_EQ(DefaultFormat(LDBL_MAX).substr(0, 14), " 1.18973149535");
  EXPECT_EQ(DefaultFormat(LDBL_MAX).substr(19), "E+4932");
  EXPECT_EQ(DefaultFormat(-LDBL_MIN).substr(0, 14), "-3.36210314311");
  EXPECT_EQ(DefaultFormat(-LDBL_MIN).substr(19), "E-4932");
  EXPECT_EQ(DefaultFormat(std::numeric_limits<REAL>::denorm_min()).substr(0, 8), " 3.64519");
  EXPECT_EQ(DefaultFormat(std::numeric_limits<REAL>::denorm_min()).substr(19), "E-4951");
}

// Formatting must never trip the traps the programs run with.
TEST(Formats, RaiseNoTrappedFloatingPointException) {
  const testing::TempDir dir;
  const REAL values[] = {LDBL_MAX,
                         -LDBL_MAX,
                         LDBL_MIN,
                         std::numeric_limits<REAL>::denorm_min(),
                         std::numeric_limits<REAL>::infinity(),
                         -std::numeric_limits<REAL>::infinity(),
                         std::numeric_limits<REAL>::quiet_NaN(),
                         0.0L,
                         -0.0L,
                         1e4000L,
                         0.999999999999999999L,
                         -204.941223689L};
  testing::ChildResult r = testing::RunInChild(dir.Path(), testing::Stdin::DevNull, [&] {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    std::size_t total = 0;
    for (REAL v : values) {
      total += DefaultFormat(v).size();
      for (int d : {0, 8, 10, 17, 25})
        total += Fixed(v, 13, d).size();
    }
    return total > 0 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// The exact decimal expansion of a long double, rounded to `d` decimals half
// away from zero, or nothing when the value lies too close to a tie for the
// 17-digit algorithm to be held to it.
bool ExactFixed(REAL v, int d, std::string &text) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%.*Lf", d + 6, v);
  std::string s = buffer;
  const std::string tail = s.substr(s.size() - 6);
  if (tail >= "499990" && tail <= "500010")
    return false;
  std::snprintf(buffer, sizeof buffer, "%.*Lf", d, v);
  text = buffer;
  return true;
}

TEST(FixedFormat, AgreesWithExactExpansionWithinTheBudget) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> exponent(-9.0, 16.0);
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    const REAL magnitude = std::pow(10.0L, static_cast<REAL>(exponent(random)));
    // Spread the low bits of the significand too.
    REAL v = magnitude * (1.0L + static_cast<REAL>(random() >> 11) * 0x1p-60L);
    if (random() & 1)
      v = -v;
    int integerDigits = 0;
    for (REAL x = std::fabs(v); x >= 1.0L; x /= 10.0L)
      ++integerDigits;
    const int d = static_cast<int>(random() % 11);
    if (integerDigits + d > 17)
      continue;
    std::string expected;
    if (!ExactFixed(v, d, expected))
      continue;
    // printf drops the sign of a negative value that rounds to zero.
    if (std::signbit(v) && expected[0] != '-')
      expected.insert(0, "-");
    ASSERT_EQ(Fixed(v, 0, d), expected) << "fixed(0, " << d << ")";
    ++checked;
  }
  EXPECT_GT(checked, 10000);
}

TEST(DefaultFormat, AgreesWithExactExpansion) {
  std::mt19937_64 random(7);
  // Few leading-zero multiplications: their roundings add up in the 17th digit.
  std::uniform_real_distribution<double> exponent(-4.0, 16.0);
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    REAL v = std::pow(10.0L, static_cast<REAL>(exponent(random)));
    v = v * (1.0L + static_cast<REAL>(random() >> 11) * 0x1p-60L);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.22Le", v);
    const std::string exact = buffer; // d.dddd...e+XX, 23 significant digits
    const std::string tail = exact.substr(18, 5);
    if (tail >= "40000" && tail <= "60000")
      continue; // too close to a tie at the 17th digit
    std::snprintf(buffer, sizeof buffer, "%.16Le", v);
    const std::string rounded = buffer;
    const std::size_t e = rounded.find('e');
    const int exp10 = std::stoi(rounded.substr(e + 1));
    char expText[16];
    std::snprintf(expText, sizeof expText, "E%c%04d", exp10 < 0 ? '-' : '+', std::abs(exp10));
    const std::string expected = " " + rounded.substr(0, e) + expText;
    ASSERT_EQ(DefaultFormat(v), expected) << exact;
    ++checked;
  }
  EXPECT_GT(checked, 15000);
}

} // namespace
} // namespace zanfel
