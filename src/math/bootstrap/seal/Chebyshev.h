#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_CHEBYSHEV_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_CHEBYSHEV_H

#include <vector>

namespace quorvane {

/// Chebyshev-basis coefficients of cos(pi x) and sin(pi x) on [-1, 1]: entry
/// i holds the i coefficients of the degree i - 1 polynomial interpolating the
/// function at the i Chebyshev-Lobatto points. Entries minIndex to maxIndex
/// are built at start-up (hebase/StartupRegistration.cpp); the coefficients
/// of odd degree of the cosine and of even degree of the sine are exactly 0.
extern const std::vector<std::vector<double>> chebyshevCosTable;
extern const std::vector<std::vector<double>> chebyshevSinTable;

/// Access to the coefficient tables of bootstrapping.
class Chebyshev
{
public:
  Chebyshev(int minIndex, int maxIndex);

  /// The cosine (sine false) or sine table: entries 13 to 50 filled, the
  /// others empty.
  static std::vector<std::vector<double>> buildTable(bool sine);

  /// A copy of entry i of the cosine table; std::runtime_error "i too small"
  /// below minIndex and "i too big" above maxIndex.
  std::vector<double> getCosCoefficients(int i) const;

  /// A copy of entry i of the sine table, with the same refusals.
  std::vector<double> getSinCoefficients(int i) const;

  int getMinIndex() const { return minIndex; }
  int getMaxIndex() const { return maxIndex; }

private:
  int minIndex;
  int maxIndex;

  void checkIndex(int i) const;
};

} // namespace quorvane

#endif
