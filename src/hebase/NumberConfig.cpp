#include "hebase/NumberConfig.h"

#include <stdexcept>
#include <string>

#include "hebase/utils/BinIoUtils.h"

namespace quorvane {

namespace {

constexpr int32_t KIND_BIT = 0;
constexpr int32_t KIND_INTEGER = 1;
constexpr int32_t KIND_FRACTION = 2;

constexpr std::streamoff SAVED_SIZE = 3 * 4 + 1 + 8;

int bitsOfSize(NumberSize size)
{
  switch (size) {
  case SIZE_1_BIT:
    return 1;
  case SIZE_8_BIT:
    return 8;
  case SIZE_16_BIT:
    return 16;
  case SIZE_32_BIT:
    return 32;
  }
  throw std::runtime_error("Unknown or unsupported number of bits");
}

int32_t readInRange(std::istream& in, const char* field, int32_t min, int32_t max)
{
  return BinIoUtils::readRecordField(in, "NumberConfig", field, min, max);
}

} // namespace

NumberConfig NumberConfig::bit()
{
  return NumberConfig();
}

NumberConfig NumberConfig::integer(NumberSize size, NumberSigned sign)
{
  if (size == SIZE_1_BIT)
    throw std::runtime_error("A single bit cannot represent an integer");
  NumberConfig res;
  res.kind = KIND_INTEGER;
  res.size = size;
  res.sign = sign;
  return res;
}

NumberConfig NumberConfig::fixedPoint(NumberSize size, NumberSigned sign,
                                      size_t fractionalPartBits)
{
  if (size == SIZE_1_BIT)
    throw std::runtime_error("A single bit cannot represent a fixed point fraction");
  NumberConfig res;
  res.kind = KIND_FRACTION;
  res.size = size;
  res.sign = sign;
  res.fixedPointFlag = true;
  res.fractionalPartBits = fractionalPartBits;
  if (size < SIZE_8_BIT || size > SIZE_32_BIT)
    throw std::runtime_error("Unknown or unsupported number of bits");
  uint64_t magnitudeBits = static_cast<uint64_t>(bitsOfSize(size)) - (sign == SIGNED ? 1 : 0);
  if (fractionalPartBits > magnitudeBits)
    throw std::runtime_error("A fixed point fraction with " + std::to_string(magnitudeBits) +
                             " magnitude bits cannot contain " +
                             std::to_string(fractionalPartBits) + " fracitonal part bits");
  return res;
}

NumberConfig NumberConfig::floatingPoint(NumberSize size)
{
  if (size != SIZE_16_BIT && size != SIZE_32_BIT)
    throw std::runtime_error("Floating point is supported for 16 or 32 bits only");
  NumberConfig res;
  res.kind = KIND_FRACTION;
  res.size = size;
  res.sign = SIGNED;
  return res;
}

bool NumberConfig::isBit() const
{
  return kind == KIND_BIT;
}

bool NumberConfig::isInteger() const
{
  return kind == KIND_INTEGER;
}

bool NumberConfig::isFixedPoint() const
{
  return kind == KIND_FRACTION && fixedPointFlag;
}

bool NumberConfig::isFloatingPoint() const
{
  return kind == KIND_FRACTION && !fixedPointFlag;
}

bool NumberConfig::isSigned() const
{
  return sign == SIGNED;
}

int NumberConfig::getNumBits() const
{
  return bitsOfSize(size);
}

std::streamoff NumberConfig::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, kind);
  BinIoUtils::writeInt32(out, size);
  BinIoUtils::writeInt32(out, sign);
  BinIoUtils::writeBool(out, fixedPointFlag);
  BinIoUtils::writeUint64(out, fractionalPartBits);
  return SAVED_SIZE;
}

std::streamoff NumberConfig::load(std::istream& in)
{
  NumberConfig loaded;
  loaded.kind = readInRange(in, "kind", KIND_BIT, KIND_FRACTION);
  loaded.size = static_cast<NumberSize>(readInRange(in, "size", SIZE_1_BIT, SIZE_32_BIT));
  loaded.sign = static_cast<NumberSigned>(readInRange(in, "sign", SIGNED, UNSIGNED));
  loaded.fixedPointFlag = BinIoUtils::readBool(in);
  loaded.fractionalPartBits = BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT);
  *this = loaded;
  return SAVED_SIZE;
}

} // namespace quorvane
