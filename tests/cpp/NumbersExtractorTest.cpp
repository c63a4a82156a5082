#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/NumberConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/aes/impl/NumbersExtractor.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Bits = std::vector<std::shared_ptr<CTile>>;

const std::string FILE_NAME = "math/aes/impl/NumbersExtractor.cpp";

/// One field per slot, least significant bit first: bit i holds, in slot k,
/// bit i of fields[k] (0 from bit 32 on); encrypted at the chain index.
Bits encryptFields(const HeContext& he, const std::vector<uint32_t>& fields, int numBits,
                   int chainIndex)
{
  Encoder encoder(he);
  Bits bits;
  for (int i = 0; i < numBits; ++i) {
    std::vector<int> slots(he.slotCount(), 0);
    for (size_t k = 0; k < fields.size(); ++k)
      slots[k] = i < 32 ? static_cast<int>((fields[k] >> i) & 1) : 0;
    auto bit = std::make_shared<CTile>(he);
    encoder.encodeEncrypt(*bit, slots, chainIndex);
    bits.push_back(bit);
  }
  return bits;
}

uint32_t float32Bits(float x)
{
  uint32_t res;
  std::memcpy(&res, &x, sizeof res);
  return res;
}

double pow2(int e) { return std::ldexp(1.0, e); }

struct Value
{
  uint32_t field;
  double expected;
};

struct FormatCase
{
  std::string name;
  NumberConfig config;
  std::vector<Value> values;
};

const std::vector<FormatCase>& formatCases()
{
  static const std::vector<FormatCase> cases = {
      {"unsigned 8",
       NumberConfig::integer(SIZE_8_BIT, UNSIGNED),
       {{0x00, 0}, {0x01, 1}, {0x7f, 127}, {0x80, 128}, {0xa5, 165}, {0xff, 255}}},
      {"signed 8",
       NumberConfig::integer(SIZE_8_BIT, SIGNED),
       {{0xff, -1}, {0x80, -128}, {0x7f, 127}, {0x00, 0}, {0x01, 1}, {0xfe, -2}, {0x81, -127}}},
      {"unsigned 16",
       NumberConfig::integer(SIZE_16_BIT, UNSIGNED),
       {{0x0000, 0}, {0x1234, 4660}, {0x8000, 32768}, {0xffff, 65535}}},
      {"signed 16",
       NumberConfig::integer(SIZE_16_BIT, SIGNED),
       {{0x8000, -32768}, {0x7fff, 32767}, {0xffff, -1}, {0x0100, 256}, {0xff00, -256}}},
      {"unsigned 32",
       NumberConfig::integer(SIZE_32_BIT, UNSIGNED),
       {{1, 1}, {0xffffffff, 4294967295.0}, {0x80000000, 2147483648.0}, {0, 0}}},
      {"signed 32",
       NumberConfig::integer(SIZE_32_BIT, SIGNED),
       {{0x80000000, -2147483648.0},
        {0x7fffffff, 2147483647.0},
        {0xffffffff, -1},
        {0xfffffffe, -2},
        {0x00010000, 65536}}},
      {"signed 16 fixed, 8 fraction bits",
       NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 8),
       {{0xff80, -0.5},
        {0x0180, 1.5},
        {0x7fff, 127.99609375},
        {0x8000, -128},
        {0x0001, pow2(-8)},
        {0xffff, -pow2(-8)}}},
      {"unsigned 8 fixed, 8 fraction bits",
       NumberConfig::fixedPoint(SIZE_8_BIT, UNSIGNED, 8),
       {{0xff, 255.0 / 256}, {0x80, 0.5}, {0x01, pow2(-8)}}},
      {"unsigned 32 fixed, 16 fraction bits",
       NumberConfig::fixedPoint(SIZE_32_BIT, UNSIGNED, 16),
       {{0x00018000, 1.5}, {0xffffffff, 4294967295.0 / 65536}}},
      {"signed 32 fixed, 31 fraction bits",
       NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 31),
       {{0x80000000, -1}, {0x40000000, 0.5}, {0x7fffffff, 1 - pow2(-31)}}},
      {"signed 8 fixed, 0 fraction bits",
       NumberConfig::fixedPoint(SIZE_8_BIT, SIGNED, 0),
       {{0x80, -128}, {0x7f, 127}}},
      {"binary16",
       NumberConfig::floatingPoint(SIZE_16_BIT),
       {{0x3c00, 1.0},
        {0xc000, -2.0},
        {0x0001, 0},           // subnormal
        {0x03ff, 0},           // largest subnormal
        {0x8000, 0},           // negative zero
        {0x0400, pow2(-14)},   // smallest normal
        {0x7bff, 65504},       // largest finite
        {0x3555, 0.333251953125},
        {0x7c00, 65536},       // infinity: exponent field 31
        {0xfc00, -65536},
        {0x7e00, 98304}}},     // NaN: exponent field 31, fraction .5
      {"binary32",
       NumberConfig::floatingPoint(SIZE_32_BIT),
       {{float32Bits(1.0f), 1.0},
        {float32Bits(-1.5f), -1.5},
        {float32Bits(static_cast<float>(pow2(-32))), 0},  // exponent field 95
        {float32Bits(static_cast<float>(pow2(-31))), pow2(-31)},  // 96
        {float32Bits(static_cast<float>(-pow2(-31) * 1.75)), -pow2(-31) * 1.75},
        {float32Bits(static_cast<float>(pow2(32))), pow2(32)},  // 159
        {float32Bits(static_cast<float>(pow2(33) - pow2(9))), pow2(33) - pow2(9)},
        {float32Bits(static_cast<float>(pow2(33))), 0},  // 160
        {float32Bits(static_cast<float>(pow2(64))), 0},
        {float32Bits(0.0f), 0},
        {float32Bits(3.14159274f), 3.1415927410125732},
        {float32Bits(std::numeric_limits<float>::infinity()), 0},
        {float32Bits(std::numeric_limits<float>::denorm_min()), 0},
        {float32Bits(2147483904.0f), 2147483904.0}}},
  };
  return cases;
}

// ---- Exact values ----

TEST(NumbersExtractor, ExtractsEveryFormatExactly)
{
  std::shared_ptr<HeContext> he = aesContext(16, 0, 9, 9);
  Encoder encoder(*he);
  for (const FormatCase& c : formatCases()) {
    std::vector<uint32_t> fields;
    for (const Value& v : c.values)
      fields.push_back(v.field);
    const Bits bits = encryptFields(*he, fields, c.config.getNumBits(), -1);
    const Bits numbers = NumbersExtractor::extract(bits, c.config);
    ASSERT_EQ(numbers.size(), 1u) << c.name;
    const std::vector<double> slots = encoder.decryptDecodeDouble(*numbers[0]);
    for (size_t k = 0; k < c.values.size(); ++k)
      EXPECT_EQ(slots[k], c.values[k].expected)
          << c.name << ", field 0x" << std::hex << c.values[k].field;
    // The unused slots hold the fields 0.
    EXPECT_EQ(slots.back(), 0.0) << c.name;
  }
}

TEST(NumbersExtractor, CutsBlocksIntoLittleEndianFields)
{
  // 128 byte-major bits of random blocks: fields follow one another, each
  // field's bytes least significant first.
  std::shared_ptr<HeContext> he = aesContext(4, 0, 9, 9);
  Encoder encoder(*he);
  const Blocks blocks = randomBlocks(3, 4);
  const Bits bits = encryptBlockBits(*he, blocks, -1);
  ASSERT_EQ(bits.size(), 128u);
  const std::vector<NumberConfig> configs = {
      NumberConfig::integer(SIZE_8_BIT, SIGNED),
      NumberConfig::integer(SIZE_16_BIT, UNSIGNED),
      NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 12),
      NumberConfig::floatingPoint(SIZE_16_BIT),
      NumberConfig::floatingPoint(SIZE_32_BIT),
  };
  for (const NumberConfig& config : configs) {
    const Bits numbers = NumbersExtractor::extract(bits, config);
    ASSERT_EQ(numbers.size(), 128u / config.getNumBits());
    for (size_t p = 0; p < numbers.size(); ++p) {
      const std::vector<double> slots = encoder.decryptDecodeDouble(*numbers[p]);
      for (size_t k = 0; k < blocks.size(); ++k)
        EXPECT_EQ(slots[k], clearNumber(blocks[k], p, config))
            << config.getNumBits() << " bits, value " << p << ", block " << k;
    }
  }
}

TEST(NumbersExtractor, BitsAreReturnedThemselves)
{
  std::shared_ptr<HeContext> he = aesContext(4, 0, 9, 9);
  const Bits bits = encryptBlockBits(*he, randomBlocks(4, 2), -1);
  const Bits numbers = NumbersExtractor::extract(bits, NumberConfig::bit());
  ASSERT_EQ(numbers.size(), 128u);
  for (size_t i = 0; i < bits.size(); ++i)
    EXPECT_EQ(numbers[i], bits[i]) << i;
  EXPECT_TRUE(NumbersExtractor::extract({}, NumberConfig::bit()).empty());
}

// ---- Levels ----

/// Whether input bit i of a field is bootstrapped when the bits start the
/// given number of levels above m.
bool inputBootstrapped(const NumberConfig& config, int i, int levels)
{
  const int n = config.getNumBits();
  if (!config.isFloatingPoint())
    return levels < (config.isSigned() ? 4 : 2);
  const int fracBits = n == 16 ? 10 : 23;
  if (i < fracBits)
    return levels < 3;
  return i < n - 1 && levels < 5;
}

TEST(NumbersExtractor, BootstrapsOnlyBitsWithTooFewLevels)
{
  // Without automatic bootstrapping, starting at every level from m to m + d:
  // integers bootstrap their bits below 2 (unsigned) or 4 (signed) levels;
  // floating-point numbers their fraction bits below 3, their exponent bits
  // below 5 and a copy of the sign bit below 2. No result falls below m
  // (with m = 0 a level too many would fail).
  struct Format
  {
    NumberConfig config;
    uint32_t field;
    double expected;
  };
  const std::vector<Format> formats = {
      {NumberConfig::integer(SIZE_8_BIT, UNSIGNED), 0xc3, 195},
      {NumberConfig::integer(SIZE_16_BIT, SIGNED), 0xfff6, -10},
      {NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 4), 0xffffffe8, -1.5},
      {NumberConfig::fixedPoint(SIZE_16_BIT, UNSIGNED, 3), 0x000d, 1.625},
      {NumberConfig::floatingPoint(SIZE_16_BIT), 0xbe00, -1.5},
      {NumberConfig::floatingPoint(SIZE_32_BIT), float32Bits(-6.25f), -6.25},
  };
  struct Levels
  {
    int m;
    int d;
  };
  for (const Levels& lv : std::vector<Levels>{{0, 5}, {3, 9}}) {
    std::shared_ptr<HeContext> he = aesContext(2, lv.m, lv.d, lv.m + lv.d);
    Encoder encoder(*he);
    for (const Format& f : formats)
      for (int l = 0; l <= lv.d; ++l) {
        const int n = f.config.getNumBits();
        const std::string where = std::to_string(n) + " bits, m " + std::to_string(lv.m) +
                                  ", " + std::to_string(l) + " levels";
        const Bits bits = encryptFields(*he, {f.field}, n, lv.m + l);
        startCounting(*he);
        Bits numbers;
        ASSERT_NO_THROW(numbers = NumbersExtractor::extract(bits, f.config)) << where;
        int expectedBootstraps = f.config.isFloatingPoint() && l < 2 ? 1 : 0;
        for (int i = 0; i < n; ++i) {
          const bool bootstrapped = inputBootstrapped(f.config, i, l);
          expectedBootstraps += bootstrapped ? 1 : 0;
          EXPECT_EQ(bits[i]->getChainIndex(), bootstrapped ? lv.m + lv.d : lv.m + l)
              << where << ", bit " << i;
        }
        EXPECT_EQ(countOf(*he, RunStats::BOOTSTRAP), expectedBootstraps)
            << where;
        EXPECT_GE(numbers[0]->getChainIndex(), lv.m) << where;
        EXPECT_EQ(encoder.decryptDecodeDouble(*numbers[0])[0], f.expected) << where;
      }
  }
}

// ---- Refusals ----

TEST(NumbersExtractor, RefusesFieldsOfTheWrongWidth)
{
  std::shared_ptr<HeContext> he = aesContext(2, 0, 9, 9);
  auto bitsOf = [&](int n) { return encryptFields(*he, {0}, n, -1); };
  struct Case
  {
    std::string function;
    std::string condition;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"extract", "bits.size() % bitsPerVal == 0",
       [&] { NumbersExtractor::extract(bitsOf(24), NumberConfig::integer(SIZE_16_BIT, SIGNED)); }},
      {"extract", "bits.size() % bitsPerVal == 0",
       [&] { NumbersExtractor::extract(bitsOf(8), NumberConfig::floatingPoint(SIZE_32_BIT)); }},
      {"extract", "bit != nullptr",
       [&] {
         NumbersExtractor::extract(Bits(8), NumberConfig::integer(SIZE_8_BIT, SIGNED));
       }},
      {"extractFixedPoint", "bits.size() <= 32",
       [&] { NumbersExtractor::extractFixedPoint(bitsOf(33), false, 0); }},
      {"getNumberFromBits", "!bits.empty()",
       [&] { NumbersExtractor::extractFixedPoint(bitsOf(1), true, 0); }},
      {"extractFloat", "numBits == 16 || numBits == 32",
       [&] { NumbersExtractor::extractFloat(bitsOf(8)); }},
      {"extractFloatFrac", "numBits == 10 || numBits == 23",
       [&] { NumbersExtractor::extractFloatFrac(bitsOf(11)); }},
      {"extractFloat16Exp", "bits.size() == 5",
       [&] { NumbersExtractor::extractFloat16Exp(bitsOf(4)); }},
      {"extractFloat32Exp", "bits.size() == 8",
       [&] { NumbersExtractor::extractFloat32Exp(bitsOf(5)); }},
  };
  for (const Case& c : cases)
    expectAssertion(c.call, FILE_NAME, c.function, c.condition);
}

} // namespace
