#ifndef QUORVANE_HEBASE_UTILS_PRINTUTILS_H
#define QUORVANE_HEBASE_UTILS_PRINTUTILS_H

#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "hebase/utils/Printable.h"

namespace quorvane {

/// Process-wide settings of debug prints.
struct PrintOptions
{
  /// Leading elements of a vector that are printed.
  int32_t numPrintedElements = 4;
  /// Trailing elements printed after the gap.
  int32_t numPrintedLastElements = 1;
  /// When false, only the real part of complex values prints.
  bool printComplexNumbers = true;
  /// General notation when true, fixed notation when false.
  bool generalFloatFormat = true;
  /// Precision of printed floating-point numbers.
  int32_t precision = 3;
  /// Width of a cell in printed tables of numbers.
  int32_t tableCellWidth = 5;
  /// When not 1, ciphertext prints add the values multiplied by it.
  double factor = 1.0;
  /// Ciphertext prints of the SEAL backend also print the ciphertext.
  bool printEncryptedContent = false;
  /// Tile tensor prints add a demonstration of the tiles.
  bool ttDemoTiles = false;
};

/// The global print options.
PrintOptions& getPrintOptions();

/// The elements of a vector that a print shows: the head [0, headEnd) and the
/// tail [tailStart, count), with " ... " between them when some are left out.
struct PrintedElements
{
  int64_t headEnd = 0;
  int64_t tailStart = 0;

  bool hasGap() const { return tailStart > headEnd; }
};

/// Common look of the library's prints.
class PrintUtils
{
public:
  static const char* boolToString(bool value);
  static Verbosity decreaseVerbosity(Verbosity verbosity);

  static void printDouble(std::ostream& out, double value);
  static void printComplex(std::ostream& out, const std::complex<double>& value);
  /// The elements of a vector of count elements that prints show under the global
  /// options; numPrintedElements -1 shows them all.
  static PrintedElements printedElements(int64_t count);
  /// Leading and trailing elements with " ... " between them when some are left out.
  static void printComplexVector(std::ostream& out,
                                 const std::vector<std::complex<double>>& values);
  static void printFactoredComplexVector(std::ostream& out,
                                         const std::vector<std::complex<double>>& values,
                                         double factor);
  static std::ostream& printDoubleVectorStats(std::ostream& out, const std::string& title,
                                              const std::vector<double>& values);

  /// The kind, then " <title>:" (no blank when the kind is empty) when the title is set.
  static void printTitle(std::ostream& out, const std::string& kind, const std::string& title);
  /// A line of 53 '='.
  static void printSeparator(std::ostream& out);
  static void printTitleWithSeparators(std::ostream& out, const std::string& kind,
                                       const std::string& title);
};

/// Resident memory of the process in MiB, -1 when unknown.
int32_t getMemoryUsedMb();

/// Scans a /proc status text for key and returns its kilobytes shifted right by 10, or -1.
int32_t getStatusValueMb(std::istream& status, const std::string& key);

} // namespace quorvane

#endif
