#ifndef QUORVANE_HEBASE_UTILS_PRINTUTILS_H
#define QUORVANE_HEBASE_UTILS_PRINTUTILS_H

#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "hebase/utils/Printable.h"

namespace quorvane {

/// Process-wide settings of debug prints. The setters refuse values that no
/// print can honour; prints clamp a field written directly to its range.
struct PrintOptions
{
  /// Accepted range of precision.
  static constexpr int32_t MIN_PRECISION = 0;
  static constexpr int32_t MAX_PRECISION = 30;
  /// Accepted range of tableCellWidth.
  static constexpr int32_t MIN_TABLE_CELL_WIDTH = 0;
  static constexpr int32_t MAX_TABLE_CELL_WIDTH = 100;

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

  /// Sets precision; std::invalid_argument, and no change, outside
  /// [MIN_PRECISION, MAX_PRECISION].
  void setPrecision(int32_t value);
  /// Sets tableCellWidth; std::invalid_argument, and no change, outside
  /// [MIN_TABLE_CELL_WIDTH, MAX_TABLE_CELL_WIDTH].
  void setTableCellWidth(int32_t value);

  /// The precision that prints use: precision clamped to its range.
  int32_t printedPrecision() const;
  /// The cell width that prints use: tableCellWidth clamped to its range.
  int32_t printedTableCellWidth() const;
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
