#include "math/MathUtils.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "hebase/utils/Assert.h"

namespace quorvane {

int MathUtils::getConvolutionOutputSize(int inputSize, int filterSize, int stride,
                                        int paddingBefore, int paddingAfter)
{
  if (paddingBefore < 0 || paddingAfter < 0)
    throw std::invalid_argument("Illegal padding");
  return (inputSize - filterSize + paddingBefore + paddingAfter) / stride + 1;
}

int MathUtils::integerDivisionCeil(int numerator, int denominator)
{
  QV_ASSERT(denominator != 0);
  int n = numerator, d = denominator;
  if (n > 0 && d > 0)
    return (n + d - 1) / d;
  if (n <= 0 && d < 0)
    return (-d - n - 1) / (-d);
  if (n == 0 && d > 0)
    return 0;
  return n / d;
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
