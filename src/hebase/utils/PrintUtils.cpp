#include "hebase/utils/PrintUtils.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace quorvane {

namespace {

void checkInRange(const char* option, int32_t value, int32_t min, int32_t max)
{
  if (value < min || value > max)
    throw std::invalid_argument(std::string(option) + " " + std::to_string(value) +
                                " is out of range: expected a value in [" + std::to_string(min) +
                                ", " + std::to_string(max) + "]");
}

} // namespace

void PrintOptions::setPrecision(int32_t value)
{
  checkInRange("Print precision", value, MIN_PRECISION, MAX_PRECISION);
  precision = value;
}

void PrintOptions::setTableCellWidth(int32_t value)
{
  checkInRange("Table cell width", value, MIN_TABLE_CELL_WIDTH, MAX_TABLE_CELL_WIDTH);
  tableCellWidth = value;
}

int32_t PrintOptions::printedPrecision() const
{
  return std::clamp(precision, MIN_PRECISION, MAX_PRECISION);
}

int32_t PrintOptions::printedTableCellWidth() const
{
  return std::clamp(tableCellWidth, MIN_TABLE_CELL_WIDTH, MAX_TABLE_CELL_WIDTH);
}

PrintOptions& getPrintOptions()
{
  static PrintOptions options;
  return options;
}

const char* PrintUtils::boolToString(bool value)
{
  return value ? "true" : "false";
}

Verbosity PrintUtils::decreaseVerbosity(Verbosity verbosity)
{
  return verbosity == VERBOSITY_NONE ? VERBOSITY_NONE : static_cast<Verbosity>(verbosity - 1);
}

namespace {

void applyNumberFormat(std::ostringstream& text)
{
  const PrintOptions& options = getPrintOptions();
  text << std::setprecision(options.printedPrecision());
  if (!options.generalFloatFormat)
    text << std::fixed;
}

void printGappedVector(std::ostream& out, const std::vector<std::complex<double>>& values,
                       double factor)
{
  int64_t n = static_cast<int64_t>(values.size());
  PrintedElements shown = PrintUtils::printedElements(n);
  for (int64_t i = 0; i < shown.headEnd; ++i) {
    if (i > 0)
      out << " ";
    PrintUtils::printComplex(out, values[i] * factor);
  }
  if (shown.hasGap())
    out << " ... ";
  for (int64_t j = shown.tailStart; j < n; ++j) {
    if (j > 0)
      out << " ";
    PrintUtils::printComplex(out, values[j] * factor);
  }
}

} // namespace

void PrintUtils::printDouble(std::ostream& out, double value)
{
  std::ostringstream text;
  applyNumberFormat(text);
  text << value;
  out << text.str();
}

void PrintUtils::printComplex(std::ostream& out, const std::complex<double>& value)
{
  if (!getPrintOptions().printComplexNumbers) {
    printDouble(out, value.real());
    return;
  }
  std::ostringstream text;
  applyNumberFormat(text);
  text << value;
  out << text.str();
}

PrintedElements PrintUtils::printedElements(int64_t count)
{
  const PrintOptions& options = getPrintOptions();
  count = std::max<int64_t>(count, 0);
  PrintedElements shown;
  shown.headEnd = options.numPrintedElements == -1
                      ? count
                      : std::clamp<int64_t>(options.numPrintedElements, 0, count);
  int64_t last = std::max<int64_t>(options.numPrintedLastElements, 0);
  shown.tailStart = std::max(count - last, shown.headEnd);
  return shown;
}

void PrintUtils::printComplexVector(std::ostream& out,
                                    const std::vector<std::complex<double>>& values)
{
  printGappedVector(out, values, 1.0);
}

void PrintUtils::printFactoredComplexVector(std::ostream& out,
                                            const std::vector<std::complex<double>>& values,
                                            double factor)
{
  out << "Factored (by ";
  printDouble(out, factor);
  out << "): ";
  printGappedVector(out, values, factor);
}

std::ostream& PrintUtils::printDoubleVectorStats(std::ostream& out, const std::string& title,
                                                 const std::vector<double>& values)
{
  double minMag = 0, maxMag = 0, sum = 0, sumSquares = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    double mag = std::abs(values[i]);
    if (i == 0 || mag < minMag)
      minMag = mag;
    if (i == 0 || mag > maxMag)
      maxMag = mag;
    sum += values[i];
    sumSquares += values[i] * values[i];
  }
  // An empty vector has no mean: 0 / 0 is shown as an unsigned "nan".
  double n = static_cast<double>(values.size());
  const double noValue = std::numeric_limits<double>::quiet_NaN();
  double mean = values.empty() ? noValue : sum / n;
  double meanSquares = values.empty() ? noValue : sumSquares / n;
  out << title << ": " << "N=" << values.size() << ", mean=" << mean
      << ", meanSquares=" << meanSquares << ", maxMag=" << maxMag << ", minMag=" << minMag
      << std::endl;
  return out;
}

void PrintUtils::printTitle(std::ostream& out, const std::string& kind, const std::string& title)
{
  out << kind;
  if (!title.empty()) {
    if (!kind.empty())
      out << " ";
    out << title << ":";
  }
}

void PrintUtils::printSeparator(std::ostream& out)
{
  out << std::string(53, '=') << std::endl;
}

void PrintUtils::printTitleWithSeparators(std::ostream& out, const std::string& kind,
                                          const std::string& title)
{
  printSeparator(out);
  printTitle(out, kind, title);
  out << std::endl;
  printSeparator(out);
}

int32_t getStatusValueMb(std::istream& status, const std::string& key)
{
  std::string word;
  while (status >> word) {
    if (word == key) {
      unsigned long long kilobytes = 0;
      if (!(status >> kilobytes))
        return -1;
      return static_cast<int32_t>(kilobytes >> 10);
    }
    status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return -1;
}

int32_t getMemoryUsedMb()
{
  std::ifstream status("/proc/self/status");
  if (!status.is_open())
    return -1;
  return getStatusValueMb(status, "VmRSS:");
}

} // namespace quorvane
