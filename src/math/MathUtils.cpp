#include "math/MathUtils.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "hebase/utils/Assert.h"

namespace quorvane {

int MathUtils::getConvolutionOutputSize(int inputSize, int filterSize, int stride,
                                        int paddingBefore, int paddingAfter)
{
  if (paddingBefore < 0 || paddingAfter < 0)
    throw std::invalid_argument("Illegal padding");
  // A stride of 0 would divide by zero.
  if (stride < 1)
    throw std::invalid_argument("Illegal stride");
  return (inputSize - filterSize + paddingBefore + paddingAfter) / stride + 1;
}

int MathUtils::integerDivisionCeil(int numerator, int denominator)
{
  QV_ASSERT(denominator != 0);
  // 64-bit intermediates: n + d - 1 and -d - n - 1 overflow 32 bits near the limits.
  int64_t n = numerator, d = denominator, q;
  if (n > 0 && d > 0)
    q = (n + d - 1) / d;
  else if (n <= 0 && d < 0)
    q = (-d - n - 1) / (-d);
  else if (n == 0 && d > 0)
    q = 0;
  else
    q = n / d;
  if (q > std::numeric_limits<int>::max())
    throw std::overflow_error("integerDivisionCeil: the quotient " + std::to_string(q) +
                              " does not fit an int");
  return static_cast<int>(q);
}

bool MathUtils::isEqual(double a, double b, double eps)
{
  if (a == 0 || b == 0)
    return std::abs(a - b) <= eps;
  return std::abs(a - b) <= eps * std::max(std::abs(a), std::abs(b));
}

bool MathUtils::isPowerOf2(uint64_t x)
{
  return x != 0 && (x & (x - 1)) == 0;
}

int MathUtils::mod(int a, int modulus)
{
  QV_ASSERT(modulus != 0);
  // INT_MIN % -1 traps on common hardware; every number is a multiple of -1.
  if (modulus == -1)
    return 0;
  int r = a % modulus;
  return r >= 0 ? r : r + modulus;
}

double MathUtils::mod(double a, double modulus)
{
  QV_ASSERT(modulus != 0.0);
  double r = std::fmod(a, modulus);
  return r >= 0 ? r : r + modulus;
}

uint64_t MathUtils::roundDownToPowerOf2(uint64_t x)
{
  for (int bit = 63; bit >= 0; --bit) {
    uint64_t candidate = uint64_t(1) << bit;
    if (x & candidate)
      return candidate;
  }
  return 0;
}

uint32_t MathUtils::roundUpToPowerOf2(uint64_t x)
{
  if (x == 0)
    return 0;
  uint32_t candidate = 1;
  for (int i = 0; i < 64; ++i) {
    if (candidate >= x)
      return candidate;
    candidate *= 2;
  }
  throw std::invalid_argument("Can't round up, value to large: " + std::to_string(x));
}

std::string MathUtils::doubleToString(double value, int precision)
{
  std::ostringstream out;
  out << std::setprecision(precision) << value;
  return out.str();
}

} // namespace quorvane
