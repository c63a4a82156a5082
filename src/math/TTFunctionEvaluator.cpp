#include "math/TTFunctionEvaluator.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/MathUtils.h"
#include "math/PTileTensor.h"
#include "math/SigmoidCoefficients.h"
#include "math/TTEncoder.h"

namespace quorvane {

namespace {

/// A free coefficient further than this from zero is added to the used slots
/// after the per-tile evaluation instead of inside it.
const double FREE_COEFFICIENT_THRESHOLD = 1e-10;

/// Refusals of the operations whose tile products would mix the two values of
/// a complex-packed slot.
const std::string POLYNOMIAL_COMPLEX_PACKED =
    "Polynomial evaluation is currently not supported for complex-packed dimensions";
const std::string POWER_COMPLEX_PACKED =
    "Raising to a power is currently not supported for complex-packed dimensions";
const std::string SIGN_COMPLEX_PACKED =
    "Sign is currently not supported for complex-packed dimensions";
const std::string INVERSE_COMPLEX_PACKED =
    "Inverse is currently not supported for complex-packed dimensions";

} // namespace

TTFunctionEvaluator::TTFunctionEvaluator(const HeContext& he) : he(&he), fe(he) {}

void TTFunctionEvaluator::checkTensor(const CTileTensor& src) const
{
  src.validatePacked();
  if (src.getContextId() != he->getContextId())
    throw std::invalid_argument(
        "TTFunctionEvaluator: the given tile tensor belongs to another HE context");
}

void TTFunctionEvaluator::checkCoefficient(const CTile& coef) const
{
  if (coef.getContextId() != he->getContextId())
    throw std::invalid_argument(
        "TTFunctionEvaluator: a coefficient tile belongs to another HE context");
}

template <typename F>
CTileTensor TTFunctionEvaluator::mapTiles(const CTileTensor& src, F f)
{
  CTileTensor res(src);
  for (size_t i = 0; i < res.tiles.size(); ++i)
    f(res.tiles[i]);
  return res;
}

void TTFunctionEvaluator::setUnusedSlotsUnknown(CTileTensor& t)
{
  t.shape.setAllUnusedSlotsUnknown();
}

// ---- Sign, comparison and inverse ----

CTileTensor TTFunctionEvaluator::compare(const CTileTensor& a, const TileTensor& b, int gRep,
                                         int fRep, double maxDiff) const
{
  SectionTimer timer("TTFunctionEvaluator::compare");
  checkTensor(a);
  // The operands and their shapes are checked by binaryOperation before the
  // first tile, the repetitions and the bound at the first tile: a copy of a
  // is changed, never a.
  CTileTensor res(a);
  res.binaryOperation(b, OTHER_ACTION_TYPE, nullptr, [&](CTile& tile, const Tile& other) {
    fe.compareInPlace(tile, other, gRep, fRep, maxDiff);
  });
  setUnusedSlotsUnknown(res);
  return res;
}

void TTFunctionEvaluator::signInPlace(CTileTensor& src, int gRep, int fRep, double maxAbsVal,
                                      bool binaryRes) const
{
  SectionTimer timer("TTFunctionEvaluator::signInPlace");
  checkTensor(src);
  src.getShape().refuseComplexPacking(SIGN_COMPLEX_PACKED);
  FunctionEvaluator::validateSignArguments(gRep, fRep, maxAbsVal);
  CTileTensor res =
      mapTiles(src, [&](CTile& tile) { fe.signInPlace(tile, gRep, fRep, maxAbsVal, binaryRes); });
  setUnusedSlotsUnknown(res);
  src = std::move(res);
}

void TTFunctionEvaluator::inverse(CTileTensor& src, double lowerBound, double upperBound,
                                  int bitResolution) const
{
  SectionTimer timer("TTFunctionEvaluator::inverse");
  checkTensor(src);
  src.getShape().refuseComplexPacking(INVERSE_COMPLEX_PACKED);
  FunctionEvaluator::validateInverseArguments(lowerBound, upperBound, bitResolution);
  CTileTensor res = mapTiles(
      src, [&](CTile& tile) { fe.inverse(tile, lowerBound, upperBound, bitResolution); });
  setUnusedSlotsUnknown(res);
  src = std::move(res);
}

// ---- Polynomials and powers ----

void TTFunctionEvaluator::polyEvalInPlace(CTileTensor& src, const std::vector<double>& coefs,
                                          EvalType type) const
{
  SectionTimer timer("TTFunctionEvaluator::polyEvalInPlace(CTileTensor, vector<double>, EvalType)");
  checkTensor(src);
  src.getShape().refuseComplexPacking(POLYNOMIAL_COMPLEX_PACKED);
  if (coefs.empty())
    throw std::invalid_argument(
        "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty.");
  if (type < PATERSONSTOCKMAYER || type > NUMERICAL_STABILITY)
    throw std::runtime_error("Evaluation type not supported");
  // Without a free coefficient the zeros of the unused slots stay zeros.
  std::vector<double> c(coefs);
  const double c0 = c[0];
  const bool takeFreeCoefficient = !MathUtils::isEqual(c0, 0, FREE_COEFFICIENT_THRESHOLD);
  if (takeFreeCoefficient)
    c[0] = 0;
  if (type == EFFICIENT_POWERS || type == MIN_DEPTH)
    FunctionEvaluator::getPolynomialDegree(c);
  CTileTensor res = mapTiles(src, [&](CTile& tile) { fe.polyEvalInPlace(tile, c, type); });
  if (takeFreeCoefficient)
    res.addScalar(c0, true);
  src = std::move(res);
}

void TTFunctionEvaluator::polyEvalInPlace(CTileTensor& src, const std::vector<CTile>& coefs,
                                          bool normalized) const
{
  SectionTimer timer("TTFunctionEvaluator::polyEvalInPlace(CTileTensor, vector<CTile>, bool)");
  checkTensor(src);
  src.getShape().refuseComplexPacking(POLYNOMIAL_COMPLEX_PACKED);
  if (coefs.empty())
    throw std::invalid_argument(
        "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty.");
  for (const CTile& coef : coefs)
    checkCoefficient(coef);
  // A single coefficient that is not normalized is the constant polynomial.
  const bool constant = coefs.size() == 1 && !normalized;
  CTileTensor res = coefs.size() == 1 ? CTileTensor(src) : mapTiles(src, [&](CTile& tile) {
    fe.polyEvalInPlace(tile, coefs, normalized, true);
  });
  // The free coefficient, masked to the used slots of every tile.
  PTileTensor mask = res.getPlainScalarMask(1.0);
  for (size_t i = 0; i < res.tiles.size(); ++i) {
    CTile freeTerm(coefs[0]);
    freeTerm.multiplyPlain(mask.getTile(static_cast<int>(i)));
    if (constant)
      res.tiles[i] = std::move(freeTerm);
    else
      res.tiles[i].add(freeTerm);
  }
  if (constant)
    res.shape.clearUnknowns();
  src = std::move(res);
}

void TTFunctionEvaluator::powInPlace(CTileTensor& src, int degree) const
{
  SectionTimer timer("TTFunctionEvaluator::powInPlace");
  checkTensor(src);
  if (degree < 0)
    throw std::runtime_error("degree must be >= 0");
  if (degree == 1)
    return;
  if (degree == 0) {
    // Ones in the used slots only, so the shape's zeros stay true (both values
    // of a complex-packed slot included).
    CTileTensor res(*he);
    TTEncoder(*he).encrypt(res, src.getPlainScalarMask(1.0));
    src = std::move(res);
    return;
  }
  src.getShape().refuseComplexPacking(POWER_COMPLEX_PACKED);
  src = mapTiles(src, [&](CTile& tile) { fe.powInPlace(tile, degree); });
}

// ---- Sigmoids ----

void TTFunctionEvaluator::sigmoid3InPlace(CTileTensor& src) const
{
  SectionTimer timer("TTFunctionEvaluator::sigmoid3InPlace");
  checkTensor(src);
  const std::vector<double>& c = SIGMOID_ORDER3_COEFS;
  CTileTensor y(src);
  if (he->getAutomaticBootstrapping() &&
      y.getChainIndex() - he->getMinChainIndexForBootstrapping() < 2)
    y.bootstrap();
  y.multiplyScalar(SIGMOID_ORDER3_INPUT_SCALE);
  CTileTensor y2 = y.getSquare();
  CTileTensor res = y.getMultiplyScalar(c[3]);
  res.multiply(y2);
  y.multiplyScalar(c[1]);
  res.add(y);
  res.addScalar(c[0], true);
  src = std::move(res);
}

void TTFunctionEvaluator::sigmoid7InPlace(CTileTensor& src) const
{
  SectionTimer timer("TTFunctionEvaluator::sigmoid7InPlace");
  checkTensor(src);
  CTileTensor y = src.getMultiplyScalar(SIGMOID_ORDER7_INPUT_SCALE);
  polyEvalInPlace(y, SIGMOID_ORDER7_COEFS, MIN_DEPTH);
  src = std::move(y);
}

void TTFunctionEvaluator::sigmoid9InPlace(CTileTensor& src) const
{
  SectionTimer timer("TTFunctionEvaluator::sigmoid9InPlace");
  checkTensor(src);
  CTileTensor y = src.getMultiplyScalar(SIGMOID_ORDER9_INPUT_SCALE);
  polyEvalInPlace(y, SIGMOID_ORDER9_COEFS, MIN_DEPTH);
  src = std::move(y);
}

} // namespace quorvane
