#ifndef QUORVANE_HEBASE_SLOTCOMPARISON_H
#define QUORVANE_HEBASE_SLOTCOMPARISON_H

#include <complex>
#include <cstddef>
#include <string>

namespace quorvane {

/// One slot of an equality assertion (the assertEquals of the encoders): how
/// far a decrypted value is from its expected value, and the report of a
/// slot found too far.
class SlotComparison
{
public:
  SlotComparison(const std::complex<double>& actual, const std::complex<double>& expected);

  /// |actual - expected| (the complex modulus).
  double getDiff() const { return diff; }
  /// The diff over |actual|, or |expected| where actual is 0.
  double getRelativeDiff() const { return relativeDiff; }

  /// Writes the report of a failed assertion at the slot to standard output
  /// ("Error in checking diff:" or, with percent, "Error in checking relative
  /// diff:", then the title, the slot, both values, both diffs and eps) and
  /// throws std::runtime_error "Assert Equals Failed".
  [[noreturn]] void fail(const std::string& title, size_t slot, double eps, bool percent) const;

private:
  std::complex<double> actual;
  std::complex<double> expected;
  double diff;
  double relativeDiff;
};

} // namespace quorvane

#endif
