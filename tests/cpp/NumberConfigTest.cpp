#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/NumberConfig.h"

using namespace quorvane;
using namespace qvtest;

namespace {

std::string saved(const NumberConfig& c)
{
  std::ostringstream out;
  EXPECT_EQ(c.save(out), 21);
  return out.str();
}

struct Expected
{
  bool bit, integer, fixedPoint, floatingPoint, isSigned;
  int numBits;
  uint64_t fractionBits;
};

void expectConfig(const NumberConfig& c, const Expected& e)
{
  EXPECT_EQ(c.isBit(), e.bit);
  EXPECT_EQ(c.isInteger(), e.integer);
  EXPECT_EQ(c.isFixedPoint(), e.fixedPoint);
  EXPECT_EQ(c.isFloatingPoint(), e.floatingPoint);
  EXPECT_EQ(c.isSigned(), e.isSigned);
  EXPECT_EQ(c.getNumBits(), e.numBits);
  EXPECT_EQ(c.getFractionalPartBits(), e.fractionBits);
}

} // namespace

TEST(NumberConfig, Factories)
{
  struct Case
  {
    const char* name;
    NumberConfig config;
    Expected expected;
  };
  const std::vector<Case> cases = {
      {"default", NumberConfig(), {true, false, false, false, false, 1, 0}},
      {"bit", NumberConfig::bit(), {true, false, false, false, false, 1, 0}},
      {"int32 unsigned", NumberConfig::integer(SIZE_32_BIT, UNSIGNED),
       {false, true, false, false, false, 32, 0}},
      {"int8 signed", NumberConfig::integer(SIZE_8_BIT, SIGNED),
       {false, true, false, false, true, 8, 0}},
      {"fixed 8 signed 7", NumberConfig::fixedPoint(SIZE_8_BIT, SIGNED, 7),
       {false, false, true, false, true, 8, 7}},
      {"fixed 8 unsigned 8", NumberConfig::fixedPoint(SIZE_8_BIT, UNSIGNED, 8),
       {false, false, true, false, false, 8, 8}},
      {"fixed 32 signed 0", NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 0),
       {false, false, true, false, true, 32, 0}},
      {"fixed 32 unsigned 32", NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, 32),
       {false, false, true, false, false, 32, 32}},
      {"float 16", NumberConfig::floatingPoint(SIZE_16_BIT),
       {false, false, false, true, true, 16, 0}},
      {"float 32", NumberConfig::floatingPoint(SIZE_32_BIT),
       {false, false, false, true, true, 32, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectConfig(c.config, c.expected);
  }
  EXPECT_EQ(saved(NumberConfig()), saved(NumberConfig::bit()));
  EXPECT_EQ(NumberConfig().toString(), "Object (detailed printing not implemented yet)");
}

TEST(NumberConfig, FactoryRefusals)
{
  struct Case
  {
    std::function<void()> call;
    const char* message;
  };
  const std::vector<Case> cases = {
      {[] { NumberConfig::integer(SIZE_1_BIT, SIGNED); },
       "A single bit cannot represent an integer"},
      {[] { NumberConfig::integer(SIZE_1_BIT, UNSIGNED); },
       "A single bit cannot represent an integer"},
      {[] { NumberConfig::fixedPoint(SIZE_1_BIT, UNSIGNED, 0); },
       "A single bit cannot represent a fixed point fraction"},
      {[] { NumberConfig::fixedPoint(static_cast<NumberSize>(7), UNSIGNED, 0); },
       "Unknown or unsupported number of bits"},
      {[] { NumberConfig::fixedPoint(SIZE_8_BIT, SIGNED, 8); },
       "A fixed point fraction with 7 magnitude bits cannot contain 8 fracitonal part bits"},
      {[] { NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 16); },
       "A fixed point fraction with 15 magnitude bits cannot contain 16 fracitonal part bits"},
      {[] { NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, 33); },
       "A fixed point fraction with 32 magnitude bits cannot contain 33 fracitonal part bits"},
      {[] { NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, SIZE_MAX); },
       "A fixed point fraction with 32 magnitude bits cannot contain 18446744073709551615 "
       "fracitonal part bits"},
      {[] { NumberConfig::floatingPoint(SIZE_8_BIT); },
       "Floating point is supported for 16 or 32 bits only"},
      {[] { NumberConfig::floatingPoint(SIZE_1_BIT); },
       "Floating point is supported for 16 or 32 bits only"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(messageOf<std::runtime_error>(c.call), c.message);
}

TEST(NumberConfig, SavedForm)
{
  EXPECT_EQ(saved(NumberConfig::bit()), le32(0) + le32(0) + le32(1) + '\0' + le64(0));
  std::string fixed = saved(NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 12));
  EXPECT_EQ(fixed, le32(2) + le32(2) + le32(0) + '\1' + le64(12));

  for (const NumberConfig& c :
       {NumberConfig::bit(), NumberConfig::integer(SIZE_16_BIT, UNSIGNED),
        NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 20), NumberConfig::floatingPoint(SIZE_32_BIT)}) {
    std::string data = saved(c);
    NumberConfig loaded = NumberConfig::integer(SIZE_8_BIT, SIGNED);
    std::istringstream in(data);
    EXPECT_EQ(loaded.load(in), 21);
    EXPECT_EQ(saved(loaded), data);
    EXPECT_EQ(loaded.isFixedPoint(), c.isFixedPoint());
    EXPECT_EQ(loaded.getNumBits(), c.getNumBits());
  }
}

TEST(NumberConfig, LoadRefusesBadValues)
{
  struct Case
  {
    std::string data;
    const char* message;
  };
  const std::vector<Case> cases = {
      {le32(3) + le32(0) + le32(0) + '\0' + le64(0),
       "Invalid saved NumberConfig: kind is 3, expected a value in [0, 2]"},
      {le32(1) + le32(4) + le32(0) + '\0' + le64(0),
       "Invalid saved NumberConfig: size is 4, expected a value in [0, 3]"},
      {le32(1) + le32(-1) + le32(0) + '\0' + le64(0),
       "Invalid saved NumberConfig: size is -1, expected a value in [0, 3]"},
      {le32(1) + le32(1) + le32(2) + '\0' + le64(0),
       "Invalid saved NumberConfig: sign is 2, expected a value in [0, 1]"},
      {le32(2) + le32(1) + le32(0) + '\1' + le64(100001),
       "BinIoUtils::readSizeTChecked() failed: the loaded value (100001) is larger than the "
       "specified maximum (100000)."},
      {le32(2) + le32(1) + le32(0) + '\1',
       "Input stream ended or failed while reading a size: the data is truncated or corrupt."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    NumberConfig target = NumberConfig::floatingPoint(SIZE_16_BIT);
    std::string before = saved(target);
    EXPECT_EQ(messageOf<std::runtime_error>([&] {
                std::istringstream in(c.data);
                target.load(in);
              }),
              c.message);
    EXPECT_EQ(saved(target), before);
  }
}
