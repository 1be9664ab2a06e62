// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "exceptions.h"
#include "sdbra.h"

using namespace murmelin;

namespace {

constexpr double two32 = 4294967296.0;

}  // namespace

TEST(RandomSource, RecurrenceFromStateZero) {
  set_random_state(0);
  EXPECT_EQ(random_value(), 1.0 / two32);
  EXPECT_EQ(random_state(), 1u);
  EXPECT_EQ(random_value(), 134775814.0 / two32);
  EXPECT_EQ(random_state(), 134775814u);
  EXPECT_EQ(random_value(), 3698175007.0 / two32);
  EXPECT_EQ(random_value(), 870078620.0 / two32);
  EXPECT_EQ(random_state(), 870078620u);
}

TEST(RandomSource, ValuesStayBelowOne) {
  EXPECT_EQ(random_state_value(0xFFFFFFFFu), 1.0 - 1.0 / two32);
  EXPECT_LT(random_state_value(0xFFFFFFFFu), 1.0);
  // The state before 0xFFFFFFFF: s * 134775813 + 1 = 2^32 - 1 (mod 2^32).
  uint32_t inv = 134775813u;  // inverse of the multiplier mod 2^32 by Newton's iteration
  for (int i = 0; i < 5; ++i) inv *= 2u - 134775813u * inv;
  const uint32_t s = 0xFFFFFFFEu * inv;
  ASSERT_EQ(random_next_state(s), 0xFFFFFFFFu);
  set_random_state(s);
  EXPECT_LT(random_value(), 1.0);
}

TEST(RandomSource, SeedTakesTheLowBitsOfTheClock) {
  seed_random_source_from(0x123456789ABCDEF0ull);
  EXPECT_EQ(random_state(), 0x9ABCDEF0u);
  // Seeding from the clock replaces a known state (equal by chance only once in 2^32).
  set_random_state(0xDEADBEEFu);
  seed_random_source();
  EXPECT_NE(random_state(), 0xDEADBEEFu);
}

TEST(DoubleToSmallint, ClipsAtTheLimitsAndRoundsTiesToEven) {
  struct c {
    double x;
    int16_t want;
  };
  const c cases[] = {
      {0.0, 0},           {0.5, 0},         {1.5, 2},          {2.5, 2},
      {-0.5, 0},          {-1.5, -2},       {-2.5, -2},        {0.49999999999999994, 0},
      {1.4, 1},           {-1.6, -2},       {32766.5, 32766},  {32766.6, 32767},
      {32767.0, 32767},   {32767.4, 32767}, {32767.5, 32767},  {40000.0, 32767},
      {1e300, 32767},     {-32767.5, -32768}, {-32768.0, -32768}, {-32768.7, -32768},
      {-1e300, -32768},   {std::numeric_limits<double>::infinity(), 32767},
      {-std::numeric_limits<double>::infinity(), -32768},
  };
  for (const c& k : cases) EXPECT_EQ(double_to_smallint(false, k.x), k.want) << k.x;
  EXPECT_THROW(double_to_smallint(false, std::nan("")), EInvalidOp);
  EXPECT_THROW(double_to_smallint(true, std::nan("")), EInvalidOp);
}

TEST(DoubleToSmallint, DitherAddsTwoDrawsAndKeepsItsOwnLimits) {
  // The result is x plus r1 - r2 rounded, and exactly two values are drawn.
  for (double x : {0.0, 100.25, -7.5, 32765.0, 32765.2, 40000.0, -32766.0, -32766.3, -1e9}) {
    set_random_state(777);
    const double r1 = random_value();
    const double r2 = random_value();
    const uint32_t after = random_state();
    const double base = x > 32765 ? 32765.0 : (x < -32766 ? -32766.0 : x);
    set_random_state(777);
    EXPECT_EQ(double_to_smallint(true, x), static_cast<int16_t>(std::nearbyint(base + (r1 - r2)))) << x;
    EXPECT_EQ(random_state(), after);
  }

  // Over many draws: within -32767 .. 32766 and unbiased.
  set_random_state(1);
  int16_t lo = 0, hi = 0;
  double sum = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    hi = std::max(hi, double_to_smallint(true, 1e6));
    lo = std::min(lo, double_to_smallint(true, -1e6));
    sum += double_to_smallint(true, 10.3);
  }
  EXPECT_EQ(hi, 32766);
  EXPECT_EQ(lo, -32767);
  EXPECT_NEAR(sum / n, 10.3, 0.02);
}

// A version text reads the same in every locale: only a full stop separates the fraction.
TEST(StrToFloatDot, ReadsDotDecimalsAndRefusesEverythingElse) {
  EXPECT_EQ(str_to_float_dot("0.1"), 0.1);
  EXPECT_EQ(str_to_float_dot(" -2.5 "), -2.5);
  EXPECT_EQ(str_to_float_dot("+3"), 3.0);
  EXPECT_EQ(str_to_float_dot("1e3"), 1000.0);
  const auto message = [](const char* text) {
    try {
      str_to_float_dot(text);
    } catch (const EConvertError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(""), "Cannot convert empty string to number");
  for (const char* bad : {"1,5", "1,000.5", "abc", " ", "1e400", "nan", "inf", "+-1", "0x10"})
    EXPECT_EQ(message(bad), std::string("'") + bad + "' is not a valid floating point value");
}
