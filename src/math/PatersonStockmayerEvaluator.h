#ifndef QUORVANE_MATH_PATERSONSTOCKMAYEREVALUATOR_H
#define QUORVANE_MATH_PATERSONSTOCKMAYEREVALUATOR_H

#include <cstdint>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"

namespace quorvane {

class HeContext;

/// Evaluates a polynomial with plain coefficients on one tile by the
/// Paterson-Stockmeyer method: baby steps x^1 .. x^k, giant steps x^(k 2^j),
/// and a recursive split of the polynomial by polynomial division, so that
/// the number of ciphertext products grows with the square root of the
/// degree. Made for one evaluation: the power tables belong to that call.
class PatersonStockmayerEvaluator
{
public:
  explicit PatersonStockmayerEvaluator(const HeContext& he);
  PatersonStockmayerEvaluator(const PatersonStockmayerEvaluator&) = delete;
  PatersonStockmayerEvaluator& operator=(const PatersonStockmayerEvaluator&) = delete;

  /// p(x), coefs[i] being the coefficient of x^i. Any coefficients are
  /// evaluated without dividing by zero; a polynomial of at most two
  /// coefficients, all within 1e-10 of zero, is refused.
  CTile evaluate(const CTile& x, const std::vector<double>& coefs);

  /// For at most two coefficients: c1 x + c0, or an encryption of c0 when
  /// |c1| is at most 1e-10.
  CTile evaluateLowDegree(const CTile& x, const std::vector<double>& coefs) const;

  /// Chooses k and m for degree n (n >= 2) and fills the power tables;
  /// returns m. The padded degree k (2^m - 1) is at least n.
  int precomputePowers(const CTile& x, int n);

  /// p(x) for a polynomial of degree at most k (2^m - 1), using the tables.
  CTile evaluateRecursive(const CTile& x, const std::vector<double>& p, int m);

  /// The number of baby steps chosen by precomputePowers.
  int getK() const { return k; }

private:
  const HeContext* he;
  Encoder encoder;
  int32_t k = 0;
  /// Entry i (1 .. k) holds x^i; entry 0 is an empty tile.
  std::vector<CTile> babySteps;
  /// Entry j (0 .. m) holds x^(k 2^j).
  std::vector<CTile> giantSteps;
  /// Entry j (1 .. m) holds x^(k (2^j - 1)); entry 0 is an empty tile.
  std::vector<CTile> oddGiantSteps;
};

} // namespace quorvane

#endif
