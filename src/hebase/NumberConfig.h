#ifndef QUORVANE_HEBASE_NUMBERCONFIG_H
#define QUORVANE_HEBASE_NUMBERCONFIG_H

#include <cstddef>
#include <cstdint>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// Width of a number in bits.
enum NumberSize
{
  SIZE_1_BIT = 0,
  SIZE_8_BIT = 1,
  SIZE_16_BIT = 2,
  SIZE_32_BIT = 3
};

/// Signedness of a number.
enum NumberSigned
{
  SIGNED = 0,
  UNSIGNED = 1
};

/// How one number is laid out in memory: a bit, an integer, or a fixed- or
/// floating-point fraction.
class NumberConfig : public SaveableBasic
{
public:
  /// A single unsigned bit, the same as bit().
  NumberConfig() = default;
  NumberConfig(const NumberConfig&) = default;
  NumberConfig& operator=(const NumberConfig&) = default;
  ~NumberConfig() override = default;

  /// A single unsigned bit.
  static NumberConfig bit();
  /// An integer; refuses SIZE_1_BIT.
  static NumberConfig integer(NumberSize size, NumberSigned sign);
  /// A fixed-point fraction whose fractional part fits the magnitude bits.
  static NumberConfig fixedPoint(NumberSize size, NumberSigned sign, size_t fractionalPartBits);
  /// A signed floating-point fraction of 16 or 32 bits.
  static NumberConfig floatingPoint(NumberSize size);

  bool isBit() const;
  bool isInteger() const;
  bool isFixedPoint() const;
  bool isFloatingPoint() const;
  bool isSigned() const;

  /// 1, 8, 16 or 32 by size.
  int getNumBits() const;

  NumberSize getSize() const { return size; }
  NumberSigned getSign() const { return sign; }
  /// Bits of the fractional part of a fixed-point fraction.
  uint64_t getFractionalPartBits() const { return fractionalPartBits; }

  /// Writes kind, size, sign, the fixed-point flag and the fraction bits (21 bytes).
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote and validates it; the object changes only when the
  /// whole read succeeds.
  std::streamoff load(std::istream& in) override;

private:
  /// 0 bit, 1 integer, 2 fraction.
  int32_t kind = 0;
  NumberSize size = SIZE_1_BIT;
  NumberSigned sign = UNSIGNED;
  /// For a fraction: fixed point (true) or floating point (false).
  bool fixedPointFlag = false;
  uint64_t fractionalPartBits = 0;
};

} // namespace quorvane

#endif
