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
