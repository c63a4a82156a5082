#include "hebase/ValueChecks.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quorvane {

namespace ValueChecks {

namespace {

bool isFinite(double v) { return std::isfinite(v); }

bool isFinite(const std::complex<double>& v)
{
  return std::isfinite(v.real()) && std::isfinite(v.imag());
}

template <typename T>
std::string text(const T& value)
{
  std::ostringstream out;
  out << value;
  return out.str();
}

template <typename T>
[[noreturn]] void refuseValue(const T& value, const std::string& where)
{
  throw std::invalid_argument("Cannot encode the non-finite value " + text(value) + where +
                              ": only finite values can be encoded");
}

template <typename T>
void checkAll(const std::vector<T>& values)
{
  for (size_t i = 0; i < values.size(); ++i)
    if (!isFinite(values[i]))
      refuseValue(values[i], " at index " + std::to_string(i));
}

} // namespace

void checkScale(double scale)
{
  if (!std::isfinite(scale) || scale <= 0)
    throw std::invalid_argument("The scale must be finite and positive, but it is " +
                                text(scale));
}

void checkEncoderScale(double scale)
{
  if (scale != -1.0)
    checkScale(scale);
}

void checkFinite(double value)
{
  if (!isFinite(value))
    refuseValue(value, "");
}

void checkFinite(const std::vector<double>& values) { checkAll(values); }

void checkFinite(const std::vector<std::complex<double>>& values) { checkAll(values); }

} // namespace ValueChecks

} // namespace quorvane
