#ifndef QUORVANE_MATH_FUNCTIONEVALUATOR_H
#define QUORVANE_MATH_FUNCTIONEVALUATOR_H

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvane {

class CTile;
class HeContext;
class Tile;

/// Polynomial evaluation algorithms.
enum EvalType : int32_t
{
  /// Paterson-Stockmeyer: baby and giant steps; few ciphertext products.
  PATERSONSTOCKMAYER = 0,
  /// Each needed power computed once and reused; fewest products.
  EFFICIENT_POWERS = 1,
  /// Each monomial at minimal multiplication depth.
  MIN_DEPTH = 2,
  /// Each term as a power of a scaled input; for high degrees and very small
  /// coefficients.
  NUMERICAL_STABILITY = 3,
};

/// Evaluates functions on single ciphertext tiles: polynomials with plain or
/// encrypted coefficients, powers, and the approximate sign, comparison,
/// inverse and one-hot encoding. Every tile given must belong to the
/// evaluator's context, which must outlive the evaluator.
///
/// Under automatic bootstrapping a polynomial evaluation bootstraps its input
/// first when the levels left above the context's minimal chain index for
/// bootstrapping are fewer than its depth; a sign step when fewer than three
/// are left.
class FunctionEvaluator
{
public:
  explicit FunctionEvaluator(const HeContext& he);

  /// Replaces src by p(src), coefs[i] being the coefficient of x^i. Refuses
  /// a type outside the enumeration before src changes. EFFICIENT_POWERS and
  /// MIN_DEPTH skip coefficients within 1e-8 of zero and refuse a polynomial
  /// of nothing else (an empty list included), PATERSONSTOCKMAYER one of
  /// degree below 2 with nothing above 1e-10, NUMERICAL_STABILITY an empty
  /// list; the free coefficient alone gives its encryption at src's chain
  /// index.
  void polyEvalInPlace(CTile& src, const std::vector<double>& coefs, EvalType type) const;

  /// Replaces src by sum coefs[i] src^i with encrypted coefficients. With
  /// normalized the term src^n (n the number of coefficients) is added; with
  /// ignoreFreeCoef coefs[0] is left for the caller to add. A single
  /// coefficient gives that coefficient (src + coefs[0] when normalized); an
  /// empty list is refused.
  void polyEvalInPlace(CTile& src, const std::vector<CTile>& coefs, bool normalized,
                       bool ignoreFreeCoef) const;

  /// Replaces src by src^degree; degree 0 gives ones at src's chain index.
  void powInPlace(CTile& src, int degree) const;

  /// src becomes approximately sign(src) (-1 or 1), or (sign + 1) / 2 with
  /// binaryRes, by gRep applications of one degree-7 polynomial followed by
  /// fRep of another. Values must lie in [-maxAbsVal, maxAbsVal]; maxAbsVal
  /// must be positive and finite.
  void signInPlace(CTile& src, int gRep, int fRep, double maxAbsVal, bool binaryRes) const;
  /// signInPlace on a copy of a.
  CTile sign(const CTile& a, int gRep, int fRep, double maxAbsVal, bool binaryRes) const;

  /// a becomes approximately 1 where a > b, 0 where a < b and 0.5 where they
  /// are equal; b is a CTile or a PTile and maxDiff a positive, finite bound
  /// on |a - b|.
  void compareInPlace(CTile& a, const Tile& b, int gRep, int fRep, double maxDiff) const;
  /// compareInPlace on a copy of a.
  CTile compare(const CTile& a, const Tile& b, int gRep, int fRep, double maxDiff) const;

  /// src becomes approximately 1/src for values in [lowerBound, upperBound]
  /// (finite bounds, 0 <= lowerBound <= upperBound, 0 < upperBound), refined
  /// in bitResolution - 1 rounds (bitResolution >= 1).
  void inverse(CTile& src, double lowerBound, double upperBound, int bitResolution) const;

  /// out receives one tile per possible value: tile i is approximately 1 in
  /// the slots where src equals possibleValues[i] and 0 where src equals
  /// another possible value. At least two distinct values are needed.
  void oneHot(std::vector<CTile>& out, const CTile& src,
              const std::vector<double>& possibleValues) const;

  /// Refuses what signInPlace refuses (std::invalid_argument): a negative
  /// repetition count, both counts 0, a bound that is not positive and finite.
  static void validateSignArguments(int gRep, int fRep, double maxAbsVal);

  /// Refuses what compareInPlace refuses (std::invalid_argument): a negative
  /// repetition count, both counts 0, a maxDiff that is not positive and finite.
  static void validateCompareArguments(int gRep, int fRep, double maxDiff);

  /// Refuses bounds that inverse refuses (std::invalid_argument): lowerBound
  /// above upperBound, a negative lowerBound, an upperBound that is not
  /// positive, a bound that is not finite.
  static void validateInverseBounds(double lowerBound, double upperBound);

  /// Refuses what inverse refuses (std::invalid_argument): the bounds of
  /// validateInverseBounds, then a bitResolution below 1.
  static void validateInverseArguments(double lowerBound, double upperBound, int bitResolution);

  /// The index of the last coefficient above 1e-8 in absolute value; refuses
  /// a polynomial without one.
  static int getPolynomialDegree(const std::vector<double>& coefs);

  /// The number of chain indexes an evaluation of this type consumes.
  /// PATERSONSTOCKMAYER and NUMERICAL_STABILITY are measured by a
  /// Paterson-Stockmeyer evaluation on an empty context.
  static int getPolyEvalDepth(const std::vector<double>& coefs, EvalType type);

  /// Whether a polynomial evaluation bootstraps src first.
  bool needsBootstrapForPolyEval(const CTile& src, const std::vector<double>& coefs,
                                 EvalType type) const;

  const HeContext& getHeContext() const { return *he; }

private:
  /// a x^exp from the powers store (x in entry 1), storing the powers it
  /// makes with coefficient 1.
  CTile computeMonomial(int exp, std::vector<CTile>& powersStore, double a) const;
  /// c x^exp for an encrypted coefficient c.
  CTile computeMonomial(int exp, std::vector<CTile>& powersStore, const CTile& c) const;

  void polyEvalEfficientPowers(CTile& src, const std::vector<double>& coefs) const;
  void polyEvalMinDepth(CTile& src, const std::vector<double>& coefs) const;
  void polyEvalNumericalStability(CTile& src, const std::vector<double>& coefs) const;
  void polyEvalPatersonStockmayer(CTile& src, const std::vector<double>& coefs) const;

  /// res replaced by an encryption of value in every slot at the chain index.
  void encryptConstant(CTile& res, double value, int chainIndex) const;

  /// Bootstraps src when automatic bootstrapping is on and fewer than three
  /// levels are left above the minimal chain index for bootstrapping.
  void bootstrapForSignStep(CTile& src) const;

  /// Refuses a tile of another context.
  void checkContext(const Tile& tile) const;

  const HeContext* he;
};

} // namespace quorvane

#endif
