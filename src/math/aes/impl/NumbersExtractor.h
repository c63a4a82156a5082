#ifndef QUORVANE_MATH_AES_IMPL_NUMBERSEXTRACTOR_H
#define QUORVANE_MATH_AES_IMPL_NUMBERSEXTRACTOR_H

#include <cstddef>
#include <memory>
#include <vector>

namespace quorvane {

class CTile;
class NumberConfig;

/// Turns encrypted bits (each ciphertext 0 or 1 in every slot) into encrypted
/// numbers, slot by slot and entirely under HE: single bits, unsigned and
/// two's-complement integers, fixed-point numbers, and IEEE-754 binary16 and
/// binary32 floating-point numbers. Bits run from the least significant bit of
/// each field. Inputs are never changed except by being bootstrapped in place
/// when they have too few levels above the minimal chain index for
/// bootstrapping; every result is a new ciphertext (a single bit is returned
/// as the input bit itself).
class NumbersExtractor
{
public:
  /// Cuts the bits into consecutive fields of the configuration's width and
  /// extracts each: one ciphertext per number, in order.
  static std::vector<std::shared_ptr<CTile>>
  extract(const std::vector<std::shared_ptr<CTile>>& bits, const NumberConfig& numberConfig);

  /// An integer (fractionBits 0) or fixed-point number of at most 32 bits,
  /// two's complement when isSigned; the value is the bits' integer divided by
  /// 2^fractionBits.
  static std::shared_ptr<CTile> extractFixedPoint(const std::vector<std::shared_ptr<CTile>>& bits,
                                                  bool isSigned, size_t fractionBits);

  /// A binary16 or binary32 number. Subnormal numbers give 0; binary16
  /// exponent fields 1 to 31 and binary32 exponent fields 96 to 159 give their
  /// power of two, other binary32 exponents 0.
  static std::shared_ptr<CTile> extractFloat(const std::vector<std::shared_ptr<CTile>>& bits);

  /// The significand 1.f of a 10 or 23 bit fraction field.
  static std::shared_ptr<CTile> extractFloatFrac(const std::vector<std::shared_ptr<CTile>>& bits);

  /// 2^(E - 15) for a 5-bit exponent field E of 1 to 31, 0 for E = 0.
  static CTile extractFloat16Exp(const std::vector<std::shared_ptr<CTile>>& bits);

  /// 2^(E - 127) for an 8-bit exponent field E of 96 to 159, 0 otherwise.
  static CTile extractFloat32Exp(const std::vector<std::shared_ptr<CTile>>& bits);

private:
  /// The single bit of a bit-format field.
  static std::shared_ptr<CTile> extractBit(const std::vector<std::shared_ptr<CTile>>& bits);

  /// Bootstraps every bit in place when the first lies 0 to levels - 1 levels
  /// above the minimal chain index for bootstrapping.
  static void bootstrapIfNeeded(const std::vector<std::shared_ptr<CTile>>& bits, size_t levels);

  /// The sum of b_i 2^(i - fractionBits), b_i the bit or with complement its
  /// inverse, plus 2^-fractionBits with complement. With multiplyByBit every
  /// term but the first is multiplied once more by its own bit.
  static std::shared_ptr<CTile> getNumberFromBits(const std::vector<std::shared_ptr<CTile>>& bits,
                                                  bool complement, int fractionBits,
                                                  bool multiplyByBit);

  /// For bit p: 1 when it is 0, 2^(2^p) when it is 1.
  static std::vector<std::shared_ptr<CTile>>
  getPowerFactors(const std::vector<std::shared_ptr<CTile>>& bits);

  /// 1 - b.
  static std::shared_ptr<CTile> notBit(const CTile& b);
};

} // namespace quorvane

#endif
