#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_CHEBYSHEVEVALUATOR_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_CHEBYSHEVEVALUATOR_H

#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/PTile.h"

namespace quorvane {

class BootstrapCore;
class HeContext;

/// Evaluates polynomials given by their Chebyshev coefficients (coefficient
/// j multiplies T_j) on a ciphertext, by baby steps T_0 .. T_k and giant steps
/// T_k, T_2k, T_4k, ... computed once by precompute.
class ChebyshevEvaluator
{
public:
  /// A polynomial in the Chebyshev basis.
  using Polynomial = std::vector<double>;

  /// Evaluator over the context; constants are encoded through the core.
  ChebyshevEvaluator(const HeContext& he, const BootstrapCore& core);

  /// Computes the Chebyshev polynomials of x (unchanged) needed for
  /// polynomials of numCoefficients (at least 1) coefficients; returns the
  /// number of giant levels m.
  int precompute(int numCoefficients, const CTile& x);

  /// The polynomial at x; it must have the number of coefficients given to
  /// precompute.
  CTile evaluate(const Polynomial& coeffs) const;

  /// The polynomial, of degree at most (2^levels - 1) k, at x; levels from
  /// 1 to the levels of precompute.
  CTile sp1(const Polynomial& p, int levels) const;

  /// The single coefficient of p in every slot, at the chain index and scale.
  PTile sp1_deg0(const Polynomial& p, int chainIndex, double scale) const;

  /// Accumulates the terms of c of degree 1 and above into acc (empty at
  /// first); a constant term with nothing to add it to is encoded into
  /// constant and flagged pending.
  void evaluateLowDegree(const Polynomial& c, int levels, CTile& acc, PTile& constant,
                         bool& pending) const;

  /// A copy of p with value added to coefficient index (zeros appended as needed).
  static Polynomial addToCoefficient(const Polynomial& p, int index, double value);

  /// Long division in the Chebyshev basis: (quotient, remainder), the
  /// remainder with len(divisor) - 1 coefficients.
  static std::pair<Polynomial, Polynomial> chebyshevDivide(const Polynomial& dividend,
                                                           const Polynomial& divisor);

  /// Chain indexes that precompute and evaluate consume for these
  /// coefficients (negligible ones cost no product, as in evaluate); 0 for
  /// fewer than two coefficients.
  static int getNumLevels(const Polynomial& coeffs);

  int getBabyStep() const { return babyStep; }
  int getGiantLevels() const { return giantLevels; }
  const std::vector<CTile>& getBabySteps() const { return babySteps; }
  const std::vector<CTile>& getGiantSteps() const { return giantSteps; }
  const std::vector<CTile>& getOddSteps() const { return oddSteps; }

private:
  std::vector<CTile> babySteps;
  std::vector<CTile> giantSteps;
  std::vector<CTile> oddSteps;
  const HeContext* he;
  const BootstrapCore* core;
  int babyStep = 0;
  int giantLevels = 0;
  int numCoefficients = 0;
  int chainIndex = 0;
  double scale = 0;

  /// 2 * a * b as a raw product by 2 at scale 1.0, then a full product.
  CTile twiceProduct(const CTile& a, const CTile& b) const;
};

} // namespace quorvane

#endif
