#ifndef QUORVANE_MATH_TTFUNCTIONEVALUATOR_H
#define QUORVANE_MATH_TTFUNCTIONEVALUATOR_H

#include <string>
#include <vector>

#include "math/FunctionEvaluator.h"

namespace quorvane {

class CTile;
class CTileTensor;
class HeContext;
class TileTensor;

/// Evaluates functions on ciphertext tile tensors, tile by tile through a
/// FunctionEvaluator, and three sigmoid approximations. Every tensor given
/// must belong to the evaluator's context, which must outlive the evaluator.
///
/// The shape stays truthful: sign, inverse and compare set the unused slots
/// unknown; polynomials add their free coefficient to the used slots only, so
/// the unused slots keep what they held. Every argument is checked before
/// the tensor changes, and an operation that fails leaves it as it was.
///
/// A complex-packed slot holds two values, which no tile operation beyond
/// additions and real scalars keeps apart: polynomials, powers above 1, sign
/// and inverse refuse complex-packed tensors (std::invalid_argument); the
/// sigmoids (by their scalar products) and compare (by its operands' shapes)
/// meet the shape rules' refusal.
class TTFunctionEvaluator
{
public:
  explicit TTFunctionEvaluator(const HeContext& he);

  /// Element-wise comparison of a and b (a CTileTensor or a PTileTensor,
  /// broadcast as in CTileTensor::binaryOperation): approximately 1 where
  /// a > b, 0 where a < b and 0.5 where they are equal. maxDiff is a positive,
  /// finite bound on |a - b|.
  CTileTensor compare(const CTileTensor& a, const TileTensor& b, int gRep, int fRep,
                      double maxDiff) const;

  /// src becomes approximately 1/src for values in [lowerBound, upperBound]
  /// (FunctionEvaluator::inverse on every tile; finite bounds, bitResolution >= 1).
  void inverse(CTileTensor& src, double lowerBound, double upperBound, int bitResolution) const;

  /// Replaces src by p(src), coefs[i] being the coefficient of x^i. A free
  /// coefficient above 1e-10 in absolute value is taken out of the per-tile
  /// evaluation and added to the used slots afterwards. Refuses an empty list
  /// (std::invalid_argument), a type outside the enumeration and, for
  /// EFFICIENT_POWERS and MIN_DEPTH, a polynomial with nothing but a free
  /// coefficient (the zero-polynomial error of FunctionEvaluator).
  void polyEvalInPlace(CTileTensor& src, const std::vector<double>& coefs, EvalType type) const;

  /// Replaces src by sum coefs[i] src^i with encrypted coefficients, coefs[0]
  /// holding the free coefficient in every slot; with normalized the term
  /// src^n (n the number of coefficients) is added. A single coefficient gives
  /// that coefficient in the used slots (src + coefs[0] when normalized). An
  /// empty list is refused.
  void polyEvalInPlace(CTileTensor& src, const std::vector<CTile>& coefs, bool normalized) const;

  /// Replaces src by src^degree; degree 0 gives ones in the used slots and
  /// zeros in the unused slots, at src's chain index.
  void powInPlace(CTileTensor& src, int degree) const;

  /// Sigmoid approximations over [-8, 8]: 0.5 + 1.20096 (x/8) - 0.81562 (x/8)^3,
  /// and polynomials of order 7 in -x/8 and of order 9 in x/10
  /// (SigmoidCoefficients.h gives the tables and their errors).
  void sigmoid3InPlace(CTileTensor& src) const;
  void sigmoid7InPlace(CTileTensor& src) const;
  void sigmoid9InPlace(CTileTensor& src) const;

  /// src becomes approximately sign(src) (-1 or 1), or (sign + 1) / 2 with
  /// binaryRes (FunctionEvaluator::signInPlace on every tile).
  void signInPlace(CTileTensor& src, int gRep, int fRep, double maxAbsVal, bool binaryRes) const;

  const HeContext& getHeContext() const { return *he; }

private:
  /// Refuses an unpacked tensor or a tensor of another context.
  void checkTensor(const CTileTensor& src) const;
  /// Refuses a coefficient tile of another context.
  void checkCoefficient(const CTile& coef) const;

  /// A copy of src with f applied to every tile, in storage order.
  template <typename F>
  static CTileTensor mapTiles(const CTileTensor& src, F f);

  /// Marks the unused slots of t unknown.
  static void setUnusedSlotsUnknown(CTileTensor& t);

  const HeContext* he;
  FunctionEvaluator fe;
};

} // namespace quorvane

#endif
