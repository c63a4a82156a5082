#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/NumberConfig.h"
#include "math/DoubleTensor.h"
#include "math/aes/AesTtPacker.h"
#include "math/aes/impl/NumbersExtractor.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Location = AesTtPacker::Location;

std::shared_ptr<DoubleTensor> tensor(const std::vector<int>& shape,
                                     const std::vector<double>& rowMajorVals)
{
  auto t = std::make_shared<DoubleTensor>(shape);
  t->init(rowMajorVals, false);
  return t;
}

std::shared_ptr<DoubleTensor> vectorTensor(const std::vector<double>& vals)
{
  return tensor({static_cast<int>(vals.size())}, vals);
}

Location at(size_t position, size_t block) { return std::make_pair(position, block); }

const NumberConfig FLOAT32 = NumberConfig::floatingPoint(SIZE_32_BIT);

// ---- Arrangement ----

TEST(AesTtPacker, DefaultLocationsNumberValuesAcrossTensors)
{
  EXPECT_EQ(AesTtPacker::getLocations({3, 2}, FLOAT32),
            (std::vector<std::vector<Location>>{{at(0, 0), at(1, 0), at(2, 0)},
                                                {at(3, 0), at(0, 1)}}));
  // 16 values of 8 bits and 128 bits fill one block each.
  const auto bytes = AesTtPacker::getLocations({15, 0, 2}, NumberConfig::integer(SIZE_8_BIT, SIGNED));
  ASSERT_EQ(bytes.size(), 3u);
  EXPECT_EQ(bytes[0].back(), at(14, 0));
  EXPECT_TRUE(bytes[1].empty());
  EXPECT_EQ(bytes[2], (std::vector<Location>{at(15, 0), at(0, 1)}));
  const auto bits = AesTtPacker::getLocations({130}, NumberConfig::bit());
  EXPECT_EQ(bits[0][127], at(127, 0));
  EXPECT_EQ(bits[0][129], at(1, 1));
}

TEST(AesTtPacker, PreparesBlocksInTheDefaultArrangement)
{
  // The example of two binary32 numbers.
  EXPECT_EQ(prepareDefaultPlainBlocksForAesEncryption({vectorTensor({1.0, 2.0})}, FLOAT32),
            Blocks{hexBytes("0000803f 00000040 00000000 00000000")});
  // No values: one zero block.
  EXPECT_EQ(prepareDefaultPlainBlocksForAesEncryption({}, FLOAT32), Blocks{ByteVector(16, 0)});
  EXPECT_EQ(prepareDefaultPlainBlocksForAesEncryption({std::make_shared<DoubleTensor>()}, FLOAT32),
            Blocks{ByteVector(16, 0)});
  // 17 values of 8 bits over two tensors: the second block holds one value.
  std::vector<double> first;
  for (int i = 1; i <= 12; ++i)
    first.push_back(i);
  EXPECT_EQ(prepareDefaultPlainBlocksForAesEncryption(
                {vectorTensor(first), vectorTensor({-1, -2, -3, -4, -5})},
                NumberConfig::integer(SIZE_8_BIT, SIGNED)),
            (Blocks{hexBytes("0102030405060708 090a0b0c fffefdfc"),
                    hexBytes("fb00000000000000 0000000000000000")}));
  // A tensor of order 2 goes in storage order, dimension 0 fastest.
  EXPECT_EQ(prepareDefaultPlainBlocksForAesEncryption(
                {tensor({2, 3}, {1, 2, 3, 4, 5, 6})},
                NumberConfig::fixedPoint(SIZE_16_BIT, UNSIGNED, 4)),
            Blocks{hexBytes("1000 4000 2000 5000 3000 6000 0000 0000")});
}

TEST(AesTtPacker, PlainBlocksFollowTheGivenLocations)
{
  const NumberConfig config = NumberConfig::integer(SIZE_16_BIT, UNSIGNED);
  // Values without location are left out; the largest block index sets the count.
  EXPECT_EQ(AesTtPacker::createPlainBlocks({vectorTensor({1, 2, 3})},
                                           {{at(7, 2), std::nullopt, at(0, 0)}}, config),
            (Blocks{hexBytes("0300 0000 0000 0000 0000 0000 0000 0000"), ByteVector(16, 0),
                    hexBytes("0000 0000 0000 0000 0000 0000 0000 0100")}));
  EXPECT_EQ(AesTtPacker::createPlainBlocks({vectorTensor({1})}, {{std::nullopt}}, config),
            Blocks{ByteVector(16, 0)});
  // A position beyond the block, a missing location list or location.
  EXPECT_THROW(AesTtPacker::createPlainBlocks({vectorTensor({1})}, {{at(8, 0)}}, config),
               std::out_of_range);
  EXPECT_THROW(AesTtPacker::createPlainBlocks({vectorTensor({1})}, {}, config), std::out_of_range);
  EXPECT_THROW(AesTtPacker::createPlainBlocks({vectorTensor({1, 2})}, {{at(0, 0)}}, config),
               std::out_of_range);
  expectAssertion([&] { AesTtPacker::createPlainBlocks({nullptr}, {{}}, config); },
                  "createPlainBlocks", "input != nullptr");
}

// ---- Byte forms ----

TEST(AesTtPacker, ByteFormsOfNumbers)
{
  struct Case
  {
    NumberConfig config;
    double value;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), -1, "ff"},
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), 127.9, "7f"},
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), -128.9, "80"},
      {NumberConfig::integer(SIZE_8_BIT, UNSIGNED), 255, "ff"},
      {NumberConfig::integer(SIZE_8_BIT, UNSIGNED), -0.9, "00"},
      {NumberConfig::integer(SIZE_16_BIT, SIGNED), -2, "feff"},
      {NumberConfig::integer(SIZE_16_BIT, UNSIGNED), 65535, "ffff"},
      {NumberConfig::integer(SIZE_16_BIT, UNSIGNED), 4660, "3412"},
      {NumberConfig::integer(SIZE_32_BIT, SIGNED), -2147483648.0, "00000080"},
      {NumberConfig::integer(SIZE_32_BIT, SIGNED), 2147483647.0, "ffffff7f"},
      {NumberConfig::integer(SIZE_32_BIT, UNSIGNED), 4294967295.0, "ffffffff"},
      {NumberConfig::integer(SIZE_32_BIT, UNSIGNED), 305419896, "78563412"},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), -0.5, "80ff"},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), 1.5, "8001"},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), 0.001, "0000"},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), -128, "0080"},
      {NumberConfig::fixedPoint(SIZE_8_BIT, UNSIGNED, 8), 0.999, "ff"},
      {NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 31), -1, "00000080"},
      {NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, 16), 65535.99999, "ffffffff"},
      {FLOAT32, 1.0, "0000803f"},
      {FLOAT32, -2.0, "000000c0"},
      {FLOAT32, 0.1, "cdcccc3d"},
      {FLOAT32, 0.0, "00000000"},
      {FLOAT32, -0.0, "00000080"},
      {FLOAT32, std::ldexp(1.0, -31), "00000030"},
      {FLOAT32, std::ldexp(1.0, 33) - std::ldexp(1.0, 9), "ffffff4f"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AesTtPacker::extractBytes(c.value, c.config), hexBytes(c.bytes)) << c.value;
  EXPECT_EQ(AesTtPacker::toBytes(static_cast<uint8_t>(0xab)), hexBytes("ab"));
  EXPECT_EQ(AesTtPacker::toBytes(static_cast<int16_t>(-2)), hexBytes("feff"));
  EXPECT_EQ(AesTtPacker::toBytes(static_cast<int32_t>(0x01020304)), hexBytes("04030201"));
}

TEST(AesTtPacker, RefusesValuesTheFormatCannotCarry)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string floatRange =
      " is out of range for a 32-bit floating-point number: expected 0 or a magnitude of at "
      "least 2^-31 (4.656612873077393e-10) and below 2^33 (8589934592) after rounding to "
      "binary32";
  struct Case
  {
    NumberConfig config;
    double value;
    std::string message;
  };
  const std::vector<Case> cases = {
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), 300,
       "Value 300 is out of range for a signed 8-bit integer: expected a number from -128 to 127 "
       "(truncated toward zero)"},
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), -129,
       "Value -129 is out of range for a signed 8-bit integer: expected a number from -128 to 127 "
       "(truncated toward zero)"},
      {NumberConfig::integer(SIZE_8_BIT, UNSIGNED), -1,
       "Value -1 is out of range for an unsigned 8-bit integer: expected a number from 0 to 255 "
       "(truncated toward zero)"},
      {NumberConfig::integer(SIZE_16_BIT, UNSIGNED), 65536,
       "Value 65536 is out of range for an unsigned 16-bit integer: expected a number from 0 to "
       "65535 (truncated toward zero)"},
      {NumberConfig::integer(SIZE_32_BIT, SIGNED), 2147483648.0,
       "Value 2147483648 is out of range for a signed 32-bit integer: expected a number from "
       "-2147483648 to 2147483647 (truncated toward zero)"},
      {NumberConfig::integer(SIZE_32_BIT, UNSIGNED), 4294967296.0,
       "Value 4294967296 is out of range for an unsigned 32-bit integer: expected a number from 0 "
       "to 4294967295 (truncated toward zero)"},
      {NumberConfig::integer(SIZE_32_BIT, UNSIGNED), 1e300,
       "Value 1e+300 is out of range for an unsigned 32-bit integer: expected a number from 0 to "
       "4294967295 (truncated toward zero)"},
      {NumberConfig::integer(SIZE_16_BIT, SIGNED), nan,
       "Value nan is out of range for a signed 16-bit integer: expected a number from -32768 to "
       "32767 (truncated toward zero)"},
      {NumberConfig::integer(SIZE_16_BIT, SIGNED), -inf,
       "Value -inf is out of range for a signed 16-bit integer: expected a number from -32768 to "
       "32767 (truncated toward zero)"},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), 128,
       "Value 128 is out of range for a signed 16-bit fixed-point number with 8 fraction bits: "
       "expected a number from -128 to 127.99609375 (truncated toward zero to a multiple of "
       "2^-8)"},
      {NumberConfig::fixedPoint(SIZE_8_BIT, UNSIGNED, 0), 256,
       "Value 256 is out of range for an unsigned 8-bit fixed-point number with 0 fraction bits: "
       "expected a number from 0 to 255 (truncated toward zero)"},
      {NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, 32), 1,
       "Value 1 is out of range for an unsigned 32-bit fixed-point number with 32 fraction bits: "
       "expected a number from 0 to 0.9999999997671694 (truncated toward zero to a multiple of "
       "2^-32)"},
      {FLOAT32, std::ldexp(1.0, 33), "Value 8589934592" + floatRange},
      // Rounds up to 2^33.
      {FLOAT32, std::ldexp(1.0, 33) - std::ldexp(1.0, 8), "Value 8589934336" + floatRange},
      {FLOAT32, -1e10, "Value -1e+10" + floatRange},
      {FLOAT32, 1e300, "Value 1e+300" + floatRange},
      {FLOAT32, 1e-10, "Value 1e-10" + floatRange},
      // Rounds to 0 as binary32.
      {FLOAT32, 1e-50, "Value 1e-50" + floatRange},
      {FLOAT32, nan, "Value nan" + floatRange},
      {FLOAT32, inf, "Value inf" + floatRange},
      {FLOAT32, -inf, "Value -inf" + floatRange},
  };
  for (const Case& c : cases)
    expectThrowWithMessage<std::invalid_argument>(
        [&] { AesTtPacker::extractBytes(c.value, c.config); }, c.message);

  // The first value out of range refuses the whole preparation.
  expectThrowWithMessage<std::invalid_argument>(
      [&] {
        prepareDefaultPlainBlocksForAesEncryption({vectorTensor({1, 2}), vectorTensor({3, 1e-12})},
                                                  FLOAT32);
      },
      "Value 1e-12" + floatRange);

  // Formats without a byte form.
  for (const NumberConfig& config :
       {NumberConfig::bit(), NumberConfig::floatingPoint(SIZE_16_BIT)})
    expectThrowWithMessage<std::runtime_error>(
        [&] { prepareDefaultPlainBlocksForAesEncryption({vectorTensor({1})}, config); },
        "Number config not supported for bytes extraction");
}

TEST(AesTtPacker, ExtractionGivesBackWhatTheClientPrepared)
{
  // Every accepted value, the ends of the ranges included, extracts under HE
  // to its truncated (or binary32-rounded) self.
  std::shared_ptr<HeContext> he = aesContext(2, 0, 9, 9);
  Encoder encoder(*he);
  struct Case
  {
    NumberConfig config;
    std::vector<double> values;
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      {NumberConfig::integer(SIZE_8_BIT, SIGNED), {-128, 127, -0.5, 3.9}, {-128, 127, 0, 3}},
      {NumberConfig::integer(SIZE_32_BIT, UNSIGNED), {4294967295.0, 7}, {4294967295.0, 7}},
      {NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8), {-128, 127.99609375, -0.00390625, 0.3},
       {-128, 127.99609375, -0.00390625, 0.296875}},
      {FLOAT32,
       {std::ldexp(1.0, -31), -std::ldexp(1.0, 33) + std::ldexp(1.0, 9), 0.1, 0},
       {std::ldexp(1.0, -31), -std::ldexp(1.0, 33) + std::ldexp(1.0, 9), static_cast<float>(0.1),
        0}},
  };
  for (const Case& c : cases) {
    const Blocks blocks =
        prepareDefaultPlainBlocksForAesEncryption({vectorTensor(c.values)}, c.config);
    ASSERT_EQ(blocks.size(), 1u);
    const std::vector<std::shared_ptr<CTile>> numbers =
        NumbersExtractor::extract(encryptBlockBits(*he, blocks, -1), c.config);
    for (size_t v = 0; v < c.values.size(); ++v)
      EXPECT_EQ(encoder.decryptDecodeDouble(*numbers[v])[0], c.expected[v]) << c.values[v];
  }
}

} // namespace
