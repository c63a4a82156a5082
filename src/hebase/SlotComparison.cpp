#include "hebase/SlotComparison.h"

#include <cmath>
#include <iostream>
#include <stdexcept>

#include "hebase/utils/PrintUtils.h"

namespace quorvane {

namespace {

double modulus(const std::complex<double>& value)
{
  return std::hypot(value.real(), value.imag());
}

} // namespace

SlotComparison::SlotComparison(const std::complex<double>& actual,
                               const std::complex<double>& expected)
    : actual(actual), expected(expected), diff(modulus(actual - expected))
{
  const double actualModulus = modulus(actual);
  relativeDiff = actualModulus != 0 ? diff / actualModulus : modulus(expected);
}

void SlotComparison::fail(const std::string& title, size_t slot, double eps, bool percent) const
{
  std::ostream& out = std::cout;
  out << (percent ? "Error in checking relative diff:" : "Error in checking diff:") << std::endl;
  out << title << ", at slot " << slot << ", expected value: ";
  PrintUtils::printComplex(out, expected);
  out << ", actual value: ";
  PrintUtils::printComplex(out, actual);
  out << ", diff: ";
  PrintUtils::printComplex(out, std::complex<double>(diff, 0));
  out << ", relative-diff: ";
  PrintUtils::printDouble(out, relativeDiff);
  out << ", epsilon: ";
  PrintUtils::printDouble(out, eps);
  out << std::endl;
  throw std::runtime_error("Assert Equals Failed");
}

} // namespace quorvane
