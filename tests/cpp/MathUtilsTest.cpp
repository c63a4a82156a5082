#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hebase/utils/Assert.h"
#include "math/MathUtils.h"

using namespace quorvane;

TEST(MathUtils, ConvolutionOutputSize)
{
  EXPECT_EQ(MathUtils::getConvolutionOutputSize(28, 5, 1, 0, 0), 24);
  EXPECT_EQ(MathUtils::getConvolutionOutputSize(5, 3, 2, 0, 0), 2);
  for (auto pads : {std::make_pair(-1, 0), std::make_pair(0, -1)}) {
    try {
      MathUtils::getConvolutionOutputSize(5, 3, 1, pads.first, pads.second);
      FAIL();
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Illegal padding");
    }
  }
}

TEST(MathUtils, IntegerDivisionCeil)
{
  struct Case
  {
    int n, d, expected;
  };
  for (Case c : std::vector<Case>{{7, 3, 3},
                                  {-7, 3, -2},
                                  {7, -3, -2},
                                  {-7, -3, 3},
                                  {0, 5, 0},
                                  {0, -5, 0},
                                  {6, 3, 2},
                                  {-6, -3, 2}})
    EXPECT_EQ(MathUtils::integerDivisionCeil(c.n, c.d), c.expected) << c.n << "/" << c.d;
  EXPECT_THROW(MathUtils::integerDivisionCeil(1, 0), assert_error);
}

TEST(MathUtils, IsEqual)
{
  EXPECT_TRUE(MathUtils::isEqual(0, 1e-11, 1e-10));
  EXPECT_TRUE(MathUtils::isEqual(1000, 1000.05, 1e-4));
  EXPECT_FALSE(MathUtils::isEqual(1, 1.1, 0.05));
  EXPECT_FALSE(MathUtils::isEqual(1, std::nan(""), 0.5));
}

TEST(MathUtils, PowersOfTwo)
{
  EXPECT_FALSE(MathUtils::isPowerOf2(0));
  EXPECT_FALSE(MathUtils::isPowerOf2(6));
  EXPECT_TRUE(MathUtils::isPowerOf2(1));
  EXPECT_TRUE(MathUtils::isPowerOf2(uint64_t(1) << 63));
  EXPECT_EQ(MathUtils::roundDownToPowerOf2(0), 0u);
  EXPECT_EQ(MathUtils::roundDownToPowerOf2(1), 1u);
  EXPECT_EQ(MathUtils::roundDownToPowerOf2(7), 4u);
  EXPECT_EQ(MathUtils::roundDownToPowerOf2(std::numeric_limits<uint64_t>::max()),
            uint64_t(1) << 63);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(0), 0u);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(1), 1u);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(5), 8u);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(2147483648ULL), 2147483648u);
  try {
    MathUtils::roundUpToPowerOf2(2147483649ULL);
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Can't round up, value to large: 2147483649");
  }
}

TEST(MathUtils, Mod)
{
  EXPECT_EQ(MathUtils::mod(-1, 5), 4);
  EXPECT_EQ(MathUtils::mod(7, 5), 2);
  EXPECT_EQ(MathUtils::mod(-5, 5), 0);
  EXPECT_DOUBLE_EQ(MathUtils::mod(-0.5, 2.0), 1.5);
  try {
    MathUtils::mod(3, 0);
    FAIL();
  } catch (const assert_error& e) {
    EXPECT_NE(std::string(e.what()).find("math/MathUtils.cpp:"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(": mod: Assertion failed: modulus != 0"),
              std::string::npos);
  }
  EXPECT_THROW(MathUtils::mod(3.0, 0.0), assert_error);
}

TEST(MathUtils, DoubleToString)
{
  EXPECT_EQ(MathUtils::doubleToString(3.14159, 3), "3.14");
  EXPECT_EQ(MathUtils::doubleToString(1e-7, 2), "1e-07");
}

TEST(MathUtils, ConvolutionRefusesStrideBelowOne)
{
  for (int stride : {0, -1}) {
    try {
      MathUtils::getConvolutionOutputSize(5, 3, stride, 0, 0);
      FAIL() << stride;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Illegal stride");
    }
  }
}

TEST(MathUtils, IntegerDivisionCeilNearLimits)
{
  const int maxInt = std::numeric_limits<int>::max();
  const int minInt = std::numeric_limits<int>::min();
  EXPECT_EQ(MathUtils::integerDivisionCeil(maxInt, 2), 1073741824);
  EXPECT_EQ(MathUtils::integerDivisionCeil(maxInt, maxInt), 1);
  EXPECT_EQ(MathUtils::integerDivisionCeil(minInt, -2), 1073741824);
  EXPECT_EQ(MathUtils::integerDivisionCeil(minInt + 1, -maxInt), 1);
  EXPECT_EQ(MathUtils::integerDivisionCeil(minInt, 2), -1073741824);
  EXPECT_THROW(MathUtils::integerDivisionCeil(minInt, -1), std::overflow_error);
  try {
    MathUtils::integerDivisionCeil(5, 0);
    FAIL();
  } catch (const assert_error& e) {
    std::string tail = ": integerDivisionCeil: Assertion failed: denominator != 0";
    std::string message = e.what();
    EXPECT_EQ(message.rfind("math/MathUtils.cpp:", 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
  }
}

TEST(MathUtils, ModSignsAndLimits)
{
  // The remainder takes the sign of a; a negative one is moved up by the modulus.
  EXPECT_EQ(MathUtils::mod(-1, -5), -6);
  EXPECT_EQ(MathUtils::mod(7, -5), 2);
  EXPECT_EQ(MathUtils::mod(std::numeric_limits<int>::min(), -1), 0);
  EXPECT_EQ(MathUtils::mod(12, -1), 0);
  EXPECT_DOUBLE_EQ(MathUtils::mod(5.5, 2.0), 1.5);
  EXPECT_TRUE(std::isnan(MathUtils::mod(std::nan(""), 2.0)));
  try {
    MathUtils::mod(1.0, 0.0);
    FAIL();
  } catch (const assert_error& e) {
    std::string tail = ": mod: Assertion failed: modulus != 0.0";
    std::string message = e.what();
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
  }
}

TEST(MathUtils, IsEqualScalesWithMagnitude)
{
  struct Case
  {
    double a, b, eps;
    bool expected;
  };
  for (Case c : std::vector<Case>{{0, 0, 0, true},
                                  {0, 1e-9, 1e-10, false},
                                  {-1e-11, 0, 1e-10, true},
                                  {1e6, 1e6 + 1, 1e-6, true},
                                  {1e6, 1e6 + 2, 1e-6, false},
                                  {-2, -2.1, 0.05, true},
                                  {std::nan(""), std::nan(""), 1, false},
                                  {INFINITY, INFINITY, 1, false}})
    EXPECT_EQ(MathUtils::isEqual(c.a, c.b, c.eps), c.expected) << c.a << " " << c.b;
}

TEST(MathUtils, RoundingPowersOfTwoEdges)
{
  EXPECT_EQ(MathUtils::roundDownToPowerOf2(uint64_t(1) << 40), uint64_t(1) << 40);
  EXPECT_EQ(MathUtils::roundDownToPowerOf2((uint64_t(1) << 40) - 1), uint64_t(1) << 39);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(1025), 2048u);
  EXPECT_EQ(MathUtils::roundUpToPowerOf2(1024), 1024u);
  try {
    MathUtils::roundUpToPowerOf2(std::numeric_limits<uint64_t>::max());
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Can't round up, value to large: 18446744073709551615");
  }
  EXPECT_EQ(MathUtils::doubleToString(1234567.0, 3), "1.23e+06");
  EXPECT_EQ(MathUtils::doubleToString(0.5, 6), "0.5");
}
