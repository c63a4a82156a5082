#include "math/aes/AesTtPacker.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "hebase/NumberConfig.h"
#include "hebase/utils/Assert.h"
#include "math/DoubleTensor.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

/// The shortest text that reads back as the same double.
std::string numberText(double value)
{
  char text[64];
  const std::to_chars_result res = std::to_chars(text, text + sizeof text, value);
  return std::string(text, res.ptr);
}

std::string intText(int n) { return std::to_string(n); }

template <typename T>
std::vector<uint8_t> littleEndianBytes(T value)
{
  const uint64_t bits = static_cast<std::make_unsigned_t<T>>(value);
  std::vector<uint8_t> res(sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i)
    res[i] = static_cast<uint8_t>(bits >> (8 * i));
  return res;
}

/// The two's-complement bytes of value x 2^fractionBits truncated toward
/// zero; refused unless that integer fits the configuration's bits.
std::vector<uint8_t> integerBytes(double value, const NumberConfig& numberConfig, int fractionBits)
{
  const int numBits = numberConfig.getNumBits();
  const bool isSigned = numberConfig.isSigned();
  const double lo = isSigned ? -std::ldexp(1.0, numBits - 1) : 0.0;
  const double hi = isSigned ? std::ldexp(1.0, numBits - 1) - 1 : std::ldexp(1.0, numBits) - 1;
  const double truncated = std::trunc(std::ldexp(value, fractionBits));
  if (!(truncated >= lo && truncated <= hi)) {
    std::string format = std::string(isSigned ? "a signed " : "an unsigned ") + intText(numBits) +
                         "-bit ";
    format += numberConfig.isInteger()
                  ? "integer"
                  : "fixed-point number with " + intText(fractionBits) + " fraction bits";
    std::string truncation = "truncated toward zero";
    if (fractionBits > 0)
      truncation += " to a multiple of 2^-" + intText(fractionBits);
    throw std::invalid_argument("Value " + numberText(value) + " is out of range for " + format +
                                ": expected a number from " +
                                numberText(std::ldexp(lo, -fractionBits)) + " to " +
                                numberText(std::ldexp(hi, -fractionBits)) + " (" + truncation +
                                ")");
  }
  const int64_t v = static_cast<int64_t>(truncated);
  switch (numBits) {
  case 32:
    return AesTtPacker::toBytes(static_cast<int32_t>(static_cast<uint32_t>(v)));
  case 16:
    return AesTtPacker::toBytes(static_cast<int16_t>(static_cast<uint16_t>(v)));
  default:
    return AesTtPacker::toBytes(static_cast<uint8_t>(v));
  }
}

/// The bytes of the nearest binary32 number; refused unless it is 0 or its
/// exponent is one that the numbers extraction gives back (2^-31 to 2^32).
std::vector<uint8_t> float32Bytes(double value)
{
  const double lo = std::ldexp(1.0, -31);
  const double hi = std::ldexp(1.0, 33);
  bool fits = value == 0 || std::fabs(value) < hi;
  float rounded = 0;
  if (fits && value != 0) {
    rounded = static_cast<float>(value);
    const double magnitude = std::fabs(static_cast<double>(rounded));
    fits = magnitude >= lo && magnitude < hi;
  }
  if (!fits)
    throw std::invalid_argument("Value " + numberText(value) +
                                " is out of range for a 32-bit floating-point number: expected 0 "
                                "or a magnitude of at least 2^-31 (" +
                                numberText(lo) + ") and below 2^33 (" + numberText(hi) +
                                ") after rounding to binary32");
  if (value == 0)
    rounded = static_cast<float>(value);
  int32_t bits;
  std::memcpy(&bits, &rounded, sizeof bits);
  return AesTtPacker::toBytes(bits);
}

} // namespace

std::vector<std::vector<AesTtPacker::Location>>
AesTtPacker::getLocations(const std::vector<int>& numValsPerTensor,
                          const NumberConfig& numberConfig)
{
  const size_t numValsPerBlock = AesUtils::numBitsInAesRoundKey / numberConfig.getNumBits();
  std::vector<std::vector<Location>> res;
  size_t n = 0;
  for (int count : numValsPerTensor) {
    std::vector<Location> locations;
    for (int e = 0; e < count; ++e, ++n)
      locations.emplace_back(std::make_pair(n % numValsPerBlock, n / numValsPerBlock));
    res.push_back(std::move(locations));
  }
  return res;
}

std::vector<std::vector<uint8_t>>
AesTtPacker::createPlainBlocks(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                               const std::vector<std::vector<Location>>& locations,
                               const NumberConfig& numberConfig)
{
  size_t numBlocks = 1;
  for (const std::vector<Location>& tensorLocations : locations)
    for (const Location& location : tensorLocations)
      if (location.has_value())
        numBlocks = std::max(numBlocks, location->second + 1);
  std::vector<std::vector<uint8_t>> blocks(numBlocks,
                                           std::vector<uint8_t>(AesUtils::numBytesInAesBlock, 0));
  const size_t numBytes = static_cast<size_t>(numberConfig.getNumBits()) / AesUtils::numBitsInByte;
  for (size_t t = 0; t < inputs.size(); ++t) {
    const std::shared_ptr<DoubleTensor>& input = inputs[t];
    QV_ASSERT(input != nullptr);
    for (int e = 0; e < input->size(); ++e) {
      const Location& location = locations.at(t).at(e);
      if (!location.has_value())
        continue;
      const std::vector<uint8_t> bytes = extractBytes(input->data()[e], numberConfig);
      std::vector<uint8_t>& block = blocks.at(location->second);
      for (size_t l = 0; l < numBytes; ++l)
        block.at(l + numBytes * location->first) = bytes.at(l);
    }
  }
  return blocks;
}

std::vector<uint8_t> AesTtPacker::extractBytes(double value, const NumberConfig& numberConfig)
{
  if (numberConfig.isFloatingPoint() && numberConfig.getNumBits() == 32)
    return float32Bytes(value);
  if (numberConfig.isInteger())
    return integerBytes(value, numberConfig, 0);
  if (numberConfig.isFixedPoint())
    return integerBytes(value, numberConfig,
                        static_cast<int>(numberConfig.getFractionalPartBits()));
  throw std::runtime_error("Number config not supported for bytes extraction");
}

std::vector<uint8_t> AesTtPacker::toBytes(uint8_t value) { return littleEndianBytes(value); }

std::vector<uint8_t> AesTtPacker::toBytes(int16_t value) { return littleEndianBytes(value); }

std::vector<uint8_t> AesTtPacker::toBytes(int32_t value) { return littleEndianBytes(value); }

std::vector<std::vector<uint8_t>>
prepareDefaultPlainBlocksForAesEncryption(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                                          const NumberConfig& numberConfig)
{
  std::vector<int> sizes;
  for (const std::shared_ptr<DoubleTensor>& input : inputs) {
    QV_ASSERT(input != nullptr);
    sizes.push_back(input->size());
  }
  return AesTtPacker::createPlainBlocks(inputs, AesTtPacker::getLocations(sizes, numberConfig),
                                        numberConfig);
}

} // namespace quorvane
