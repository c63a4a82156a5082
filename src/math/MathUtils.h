#ifndef QUORVANE_MATH_MATHUTILS_H
#define QUORVANE_MATH_MATHUTILS_H

#include <cstdint>
#include <string>

namespace quorvane {

/// Integer and floating-point helpers.
class MathUtils
{
public:
  /// (inputSize - filterSize + paddingBefore + paddingAfter) / stride + 1.
  static int getConvolutionOutputSize(int inputSize, int filterSize, int stride,
                                      int paddingBefore, int paddingAfter);
  /// Exact ceiling of numerator / denominator for every sign combination.
  static int integerDivisionCeil(int numerator, int denominator);
  /// Relative comparison; absolute when either value is 0.
  static bool isEqual(double a, double b, double eps);
  static bool isPowerOf2(uint64_t x);
  /// Non-negative remainder.
  static int mod(int a, int modulus);
  static double mod(double a, double modulus);
  /// Largest power of two not above x; 0 for 0.
  static uint64_t roundDownToPowerOf2(uint64_t x);
  /// Smallest power of two not below x, up to 2^31; 0 for 0.
  static uint32_t roundUpToPowerOf2(uint64_t x);
  static std::string doubleToString(double value, int precision);
};

} // namespace quorvane

#endif
