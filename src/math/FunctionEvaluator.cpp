#include "math/FunctionEvaluator.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/Tile.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/utils/Assert.h"
#include "math/MathUtils.h"
#include "math/PatersonStockmayerEvaluator.h"
#include "math/SimpleCTileReducer.h"

namespace quorvane {

namespace {

/// Coefficients at most this far from zero cost nothing (and a polynomial of
/// nothing else is refused) in EFFICIENT_POWERS and MIN_DEPTH.
const double ZERO_THRESHOLD = 1e-8;

/// One degree-7 odd polynomial of the sign approximation, in the factored
/// form c x (x^2 + a1) ((x^2 + a2) x^2 + a3).
struct SignPolynomial
{
  double scale;
  double binaryScale;
  double a1;
  double a2;
  double a3;
};

/// (4589x - 16577x^3 + 25614x^5 - 12860x^7) / 1024.
const SignPolynomial SIGN_POLY_G = {-12.55859375, -6.279296875, -1.1309851054301223,
                                    -0.8607722818171561, 0.3155151399266237};
/// (35x - 35x^3 + 21x^5 - 5x^7) / 16.
const SignPolynomial SIGN_POLY_F = {-0.3125, -0.15625, -2.525847987286031, -1.6741520127139695,
                                    2.7713465082755633};

/// One application of a sign polynomial; three multiplications deep. With
/// binary the scale is halved and 0.5 added: (h(x) + 1) / 2.
void applySignPoly(CTile& x, bool binary, const SignPolynomial& poly)
{
  CTile x2(x);
  x2.square();
  x.multiplyScalar(binary ? poly.binaryScale : poly.scale);
  CTile t1(x2);
  t1.addScalar(poly.a1);
  CTile t2(x2);
  t2.addScalar(poly.a2);
  t2.multiply(x2);
  t2.addScalar(poly.a3);
  x.multiply(t1);
  x.multiply(t2);
  if (binary)
    x.addScalar(0.5);
}

/// The smallest d with 2^d >= n (0 for n <= 1).
int ceilLog2(uint64_t n)
{
  int d = 0;
  while ((uint64_t(1) << d) < n)
    ++d;
  return d;
}

/// The largest power of two below n (n >= 2).
int powerOf2Below(int n) { return static_cast<int>(MathUtils::roundDownToPowerOf2(n - 1)); }

/// A number printed as printf's "%f" does.
std::string fixed6(double value)
{
  int size = std::snprintf(nullptr, 0, "%f", value);
  std::string res(size + 1, '\0');
  std::snprintf(&res[0], res.size(), "%f", value);
  res.resize(size);
  return res;
}

void validateRepetitions(int gRep, int fRep)
{
  if (gRep < 0 || fRep < 0 || (gRep == 0 && fRep == 0))
    throw std::invalid_argument("FunctionEvaluator::signInPlace - given gRep and fRep are invalid.");
}

void validateSignBound(double bound, const std::string& operation, const std::string& name)
{
  if (!(std::isfinite(bound) && bound > 0))
    throw std::invalid_argument("FunctionEvaluator::" + operation + " - given " + name +
                                " must be positive and finite.");
}

void validateCoefficientCount(size_t count)
{
  if (count == 0)
    throw std::invalid_argument(
        "FunctionEvaluator::polyEvalInPlace - the coefficient list is empty.");
}

} // namespace

FunctionEvaluator::FunctionEvaluator(const HeContext& he) : he(&he) {}

void FunctionEvaluator::validateSignArguments(int gRep, int fRep, double maxAbsVal)
{
  validateRepetitions(gRep, fRep);
  validateSignBound(maxAbsVal, "signInPlace", "maxAbsVal");
}

void FunctionEvaluator::validateCompareArguments(int gRep, int fRep, double maxDiff)
{
  validateRepetitions(gRep, fRep);
  validateSignBound(maxDiff, "compareInPlace", "maxDiff");
}

void FunctionEvaluator::validateInverseBounds(double lowerBound, double upperBound)
{
  std::string reason;
  if (lowerBound > upperBound)
    reason = "The given \"lowerBound\" (" + fixed6(lowerBound) +
             ") is larger than \"upperBound\" (" + fixed6(upperBound) + ").";
  else if (lowerBound < 0)
    reason = "\"lowerBound\" must be non-negative, while the given \"lowerBound\" is " +
             fixed6(lowerBound) + ".";
  else if (upperBound <= 0)
    reason = "\"upperBound\" must be strictly positive, while the given \"upperBound\" is " +
             fixed6(upperBound) + ".";
  // NaN passes every comparison above; an infinite bound makes the scale 0.
  else if (!std::isfinite(lowerBound))
    reason = "\"lowerBound\" must be finite, while the given \"lowerBound\" is " +
             fixed6(lowerBound) + ".";
  else if (!std::isfinite(upperBound))
    reason = "\"upperBound\" must be finite, while the given \"upperBound\" is " +
             fixed6(upperBound) + ".";
  if (!reason.empty())
    throw std::invalid_argument("FunctionEvaluator::inverse() failed: " + reason);
}

void FunctionEvaluator::validateInverseArguments(double lowerBound, double upperBound,
                                                 int bitResolution)
{
  validateInverseBounds(lowerBound, upperBound);
  if (bitResolution < 1)
    throw std::invalid_argument(
        "FunctionEvaluator::inverse() failed: \"bitResolution\" must be positive, while the "
        "given \"bitResolution\" is " +
        std::to_string(bitResolution) + ".");
}

void FunctionEvaluator::checkContext(const Tile& tile) const
{
  if (tile.getContextId() != he->getContextId())
    throw std::invalid_argument("FunctionEvaluator: the given tile belongs to another HE context");
}

void FunctionEvaluator::encryptConstant(CTile& res, double value, int chainIndex) const
{
  Encoder encoder(*he);
  CTile constant(*he);
  encoder.encodeEncrypt(constant, std::vector<double>(he->slotCount(), value), chainIndex);
  res = std::move(constant);
}

// ---- Polynomials with plain coefficients ----

int FunctionEvaluator::getPolynomialDegree(const std::vector<double>& coefs)
{
  for (int i = static_cast<int>(coefs.size()) - 1; i >= 0; --i)
    if (std::abs(coefs[i]) > ZERO_THRESHOLD)
      return i;
  std::ostringstream message;
  message.precision(10);
  message << "Can't evaluate a zero polynomial (all coefficients are smaller than "
          << ZERO_THRESHOLD << ") to a CTile: the result will be a clear-text zero";
  throw std::runtime_error(message.str());
}

int FunctionEvaluator::getPolyEvalDepth(const std::vector<double>& coefs, EvalType type)
{
  if (type == EFFICIENT_POWERS || type == MIN_DEPTH) {
    int n = getPolynomialDegree(coefs);
    if (n == 0)
      return 0;
    int d = ceilLog2(n);
    if (type == EFFICIENT_POWERS)
      return d + 1;
    return MathUtils::isPowerOf2(n) ? d + 1 : d;
  }
  // Measured: the evaluation run on a context that only tracks chain indexes.
  EmptyContext empty;
  empty.init(HeConfigRequirement::insecure(1, 100, -1, -1));
  CTile x(empty);
  Encoder encoder(empty);
  encoder.encodeEncrypt(x, std::vector<double>(), -1);
  PatersonStockmayerEvaluator evaluator(empty);
  CTile res = evaluator.evaluate(x, coefs);
  return x.getChainIndex() - res.getChainIndex();
}

bool FunctionEvaluator::needsBootstrapForPolyEval(const CTile& src,
                                                  const std::vector<double>& coefs,
                                                  EvalType type) const
{
  if (!he->getAutomaticBootstrapping())
    return false;
  int levels = src.getChainIndex() - he->getMinChainIndexForBootstrapping();
  // A negative number of levels counts as more than any coefficient count.
  if (static_cast<uint64_t>(coefs.size()) < static_cast<uint64_t>(static_cast<int64_t>(levels)))
    return false;
  return levels < getPolyEvalDepth(coefs, type);
}

void FunctionEvaluator::polyEvalInPlace(CTile& src, const std::vector<double>& coefs,
                                        EvalType type) const
{
  checkContext(src);
  if (type < PATERSONSTOCKMAYER || type > NUMERICAL_STABILITY)
    throw std::runtime_error("Evaluation type not supported");
  // The other types report an empty list as a zero polynomial.
  if (type == NUMERICAL_STABILITY)
    validateCoefficientCount(coefs.size());
  if (needsBootstrapForPolyEval(src, coefs, type))
    src.bootstrap();
  switch (type) {
  case PATERSONSTOCKMAYER:
    polyEvalPatersonStockmayer(src, coefs);
    break;
  case EFFICIENT_POWERS:
    polyEvalEfficientPowers(src, coefs);
    break;
  case MIN_DEPTH:
    polyEvalMinDepth(src, coefs);
    break;
  case NUMERICAL_STABILITY:
    polyEvalNumericalStability(src, coefs);
    break;
  }
}

void FunctionEvaluator::polyEvalPatersonStockmayer(CTile& src,
                                                   const std::vector<double>& coefs) const
{
  PatersonStockmayerEvaluator evaluator(*he);
  src = evaluator.evaluate(src, coefs);
}

CTile FunctionEvaluator::computeMonomial(int exp, std::vector<CTile>& powersStore, double a) const
{
  QV_ASSERT(exp > 0 && exp < (int32_t)powersStore.size());
  if (exp == 1) {
    QV_ASSERT(!powersStore[1].isEmpty());
    CTile res(powersStore[1]);
    if (a != 1)
      res.multiplyScalar(a);
    return res;
  }
  if (!powersStore[exp].isEmpty() && a == 1)
    return CTile(powersStore[exp]);
  int p = powerOf2Below(exp);
  int q = exp - p;
  if (q == p) {
    if (powersStore[exp].isEmpty()) {
      CTile half = computeMonomial(exp / 2, powersStore, 1);
      half.square();
      powersStore[exp] = std::move(half);
    }
    CTile res(powersStore[exp]);
    if (a != 1)
      res.multiplyScalar(a);
    return res;
  }
  // The coefficient goes onto the shallower factor.
  CTile left = computeMonomial(p, powersStore, 1);
  CTile right(*he);
  if (q > p / 2) {
    right = computeMonomial(q, powersStore, a);
  } else {
    right = computeMonomial(q, powersStore, 1);
    if (a != 1)
      right.multiplyScalar(a);
  }
  left.multiply(right);
  if (a == 1)
    powersStore[exp] = left;
  return left;
}

void FunctionEvaluator::polyEvalMinDepth(CTile& src, const std::vector<double>& coefs) const
{
  int n = getPolynomialDegree(coefs);
  if (n == 0) {
    encryptConstant(src, coefs[0], src.getChainIndex());
    return;
  }
  std::vector<CTile> powersStore(n + 1, CTile(*he));
  powersStore[1] = src;
  CTile res = computeMonomial(n, powersStore, coefs[n]);
  if (std::abs(coefs[0]) > ZERO_THRESHOLD)
    res.addScalar(coefs[0]);
  for (int i = 1; i < n; ++i)
    if (std::abs(coefs[i]) > ZERO_THRESHOLD)
      res.add(computeMonomial(i, powersStore, coefs[i]));
  src = std::move(res);
}

namespace {

/// Flags power j and, recursively, the powers its product chain needs: the
/// largest power of two below each remainder.
void flagNeededPower(std::vector<bool>& needed, int j)
{
  do {
    needed[j] = true;
    if (j <= 1)
      return;
    int c = powerOf2Below(j);
    if (!needed[c])
      flagNeededPower(needed, c);
    j -= c;
  } while (!needed[j]);
}

} // namespace

void FunctionEvaluator::polyEvalEfficientPowers(CTile& src, const std::vector<double>& coefs) const
{
  int n = getPolynomialDegree(coefs);
  if (n == 0) {
    encryptConstant(src, coefs[0], src.getChainIndex());
    return;
  }
  std::vector<bool> needed(n + 1, false);
  for (int i = 1; i <= n; ++i) {
    if (std::abs(coefs[i]) <= ZERO_THRESHOLD || needed[i])
      continue;
    needed[i] = true;
    if (i >= 2) {
      int c = powerOf2Below(i);
      if (!needed[c])
        flagNeededPower(needed, c);
      if (!needed[i - c])
        flagNeededPower(needed, i - c);
    }
  }

  std::vector<std::shared_ptr<CTile>> powers(n + 1);
  powers[1] = std::make_shared<CTile>(src);
  int c = 1;
  for (int i = 2; i <= n; ++i) {
    if (needed[i])
      powers[i] = std::make_shared<CTile>(powers[c]->getMultiply(*powers[i - c]));
    if (MathUtils::isPowerOf2(i))
      c *= 2;
  }

  CTile res(*powers[n]);
  if (coefs[n] != 1)
    res.multiplyScalar(coefs[n]);
  if (std::abs(coefs[0]) > ZERO_THRESHOLD)
    res.addScalar(coefs[0]);
  for (int i = 1; i < n; ++i) {
    if (std::abs(coefs[i]) <= ZERO_THRESHOLD)
      continue;
    if (coefs[i] != 1)
      powers[i]->multiplyScalar(coefs[i]);
    res.add(*powers[i]);
  }
  src = std::move(res);
}

void FunctionEvaluator::polyEvalNumericalStability(CTile& src,
                                                   const std::vector<double>& coefs) const
{
  CTile res(*he);
  SimpleCTileReducer reducer(res, &CTile::add);
  for (size_t i = 1; i < coefs.size(); ++i) {
    double c = coefs[i];
    if (!(std::abs(c) > 0))
      continue;
    // c x^i = (d x)^i, negated when c < 0 and i is even.
    CTile t(src);
    double d = std::pow(std::abs(c), 1.0 / static_cast<double>(i));
    if (c < 0 && i % 2 == 1)
      d = -d;
    t.multiplyScalar(d);
    powInPlace(t, static_cast<int>(i));
    if (c < 0 && i % 2 == 0)
      t.negate();
    reducer.push(t);
  }
  if (reducer.getCount() == 0)
    encryptConstant(res, coefs[0], src.getChainIndex());
  else
    res.addScalar(coefs[0]);
  src = std::move(res);
}

// ---- Polynomials with encrypted coefficients ----

CTile FunctionEvaluator::computeMonomial(int exp, std::vector<CTile>& powersStore,
                                         const CTile& c) const
{
  QV_ASSERT(exp > 0 && exp < (int32_t)powersStore.size());
  if (exp == 1) {
    QV_ASSERT(!powersStore[1].isEmpty());
    CTile res(powersStore[1]);
    res.multiply(c);
    return res;
  }
  if (powersStore[exp].isEmpty()) {
    int p = powerOf2Below(exp);
    int q = exp - p;
    if (q != p) {
      CTile left = computeMonomial(p, powersStore, 1.0);
      CTile right(*he);
      if (q > p / 2) {
        right = computeMonomial(q, powersStore, c);
      } else {
        right = computeMonomial(q, powersStore, 1.0);
        right.multiply(c);
      }
      left.multiply(right);
      return left;
    }
    CTile half = computeMonomial(exp / 2, powersStore, 1.0);
    half.square();
    powersStore[exp] = std::move(half);
  }
  CTile res(powersStore[exp]);
  res.multiply(c);
  return res;
}

void FunctionEvaluator::polyEvalInPlace(CTile& src, const std::vector<CTile>& coefs,
                                        bool normalized, bool ignoreFreeCoef) const
{
  checkContext(src);
  validateCoefficientCount(coefs.size());
  for (const CTile& c : coefs)
    checkContext(c);
  size_t n = coefs.size();
  if (n == 1) {
    if (normalized) {
      // x + c0.
      if (!ignoreFreeCoef)
        src.add(coefs[0]);
      return;
    }
    // The constant polynomial c0.
    QV_ASSERT(!ignoreFreeCoef);
    src = coefs[0];
    return;
  }
  if (he->getAutomaticBootstrapping() &&
      src.getChainIndex() - he->getMinChainIndexForBootstrapping() <
          ceilLog2(n + (normalized ? 1 : 0)))
    src.bootstrap();

  std::vector<CTile> powersStore(n + 2, CTile(*he));
  powersStore[1] = src;
  int deg;
  CTile res(*he);
  if (normalized) {
    deg = static_cast<int>(n);
    res = computeMonomial(deg, powersStore, 1.0);
  } else {
    deg = static_cast<int>(n) - 1;
    res = computeMonomial(deg, powersStore, coefs[deg]);
  }
  if (!ignoreFreeCoef)
    res.add(coefs[0]);
  for (int i = deg - 1; i >= 1; --i)
    res.add(computeMonomial(i, powersStore, coefs[i]));
  src = std::move(res);
}

// ---- Powers ----

void FunctionEvaluator::powInPlace(CTile& src, int degree) const
{
  checkContext(src);
  if (degree < 0)
    throw std::runtime_error("degree must be >= 0");
  if (degree == 1)
    return;
  if (degree == 0) {
    encryptConstant(src, 1.0, src.getChainIndex());
    return;
  }
  // Square and multiply from the low bit.
  CTile acc(*he);
  bool first = true;
  while (degree > 1) {
    if (degree % 2 == 1) {
      if (first) {
        acc = src;
        first = false;
      } else {
        if (acc.getChainIndex() != src.getChainIndex())
          acc.setChainIndex(src.getChainIndex());
        acc.multiply(src);
      }
      degree = (degree - 1) / 2;
    } else {
      degree = degree / 2;
    }
    src.multiply(src);
  }
  if (!first) {
    if (acc.getChainIndex() != src.getChainIndex())
      acc.setChainIndex(src.getChainIndex());
    src.multiply(acc);
  }
}

// ---- Sign and comparison ----

void FunctionEvaluator::bootstrapForSignStep(CTile& src) const
{
  const HeContext& context = src.getHeContext();
  if (context.getAutomaticBootstrapping() &&
      src.getChainIndex() < context.getMinChainIndexForBootstrapping() + 3)
    src.bootstrap();
}

void FunctionEvaluator::signInPlace(CTile& src, int gRep, int fRep, double maxAbsVal,
                                    bool binaryRes) const
{
  validateSignArguments(gRep, fRep, maxAbsVal);
  checkContext(src);
  double s = 1 / maxAbsVal;
  if (s != 1)
    src.multiplyScalar(s);
  // g first, then f; the binary shift only at the very last application.
  for (int i = 0; i < gRep; ++i) {
    bootstrapForSignStep(src);
    applySignPoly(src, binaryRes && fRep == 0 && i == gRep - 1, SIGN_POLY_G);
  }
  for (int i = 0; i < fRep; ++i) {
    bootstrapForSignStep(src);
    applySignPoly(src, binaryRes && i == fRep - 1, SIGN_POLY_F);
  }
}

CTile FunctionEvaluator::sign(const CTile& a, int gRep, int fRep, double maxAbsVal,
                              bool binaryRes) const
{
  CTile res(a);
  signInPlace(res, gRep, fRep, maxAbsVal, binaryRes);
  return res;
}

void FunctionEvaluator::compareInPlace(CTile& a, const Tile& b, int gRep, int fRep,
                                       double maxDiff) const
{
  // Everything is checked before a changes.
  validateCompareArguments(gRep, fRep, maxDiff);
  checkContext(a);
  checkContext(b);
  a.subTile(b);
  signInPlace(a, gRep, fRep, maxDiff, true);
}

CTile FunctionEvaluator::compare(const CTile& a, const Tile& b, int gRep, int fRep,
                                 double maxDiff) const
{
  CTile res(a);
  compareInPlace(res, b, gRep, fRep, maxDiff);
  return res;
}

// ---- Inverse ----

void FunctionEvaluator::inverse(CTile& src, double lowerBound, double upperBound,
                                int bitResolution) const
{
  validateInverseArguments(lowerBound, upperBound, bitResolution);
  checkContext(src);
  // With t = 1 - a x: a (1 + t)(1 + t^2)(1 + t^4)... = (1 - t^(2^r)) / x.
  double a = 2 / (lowerBound + upperBound);
  src.multiplyScalar(a);
  src.negate();
  src.addScalar(1);
  CTile p(src);
  src.addScalar(1);
  for (int i = 1; i < bitResolution; ++i) {
    p.square();
    CTile u(p);
    u.addScalar(1);
    src.multiply(u);
  }
  src.multiplyScalar(a);
}

// ---- One-hot ----

void FunctionEvaluator::oneHot(std::vector<CTile>& out, const CTile& src,
                               const std::vector<double>& possibleValues) const
{
  size_t n = possibleValues.size();
  if (n < 2)
    throw std::invalid_argument(
        "FunctionEvaluator::oneHot - at least two possible values are needed, while " +
        std::to_string(n) + " were given.");
  // Pairwise, so that no ordering of NaN values is needed.
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      if (possibleValues[i] == possibleValues[j]) {
        std::ostringstream message;
        message << "FunctionEvaluator::oneHot - the possible values must be distinct, while "
                << possibleValues[i] << " is given more than once.";
        throw std::invalid_argument(message.str());
      }
  checkContext(src);

  // Leaf b + i holds src - v_i; an inner node the product of its children.
  size_t b = MathUtils::roundUpToPowerOf2(n);
  int a = ceilLog2(b);
  Encoder encoder(*he);
  std::vector<CTile> tree(2 * b, CTile(*he));
  std::vector<bool> present(2 * b, false);
  for (size_t i = 0; i < n; ++i) {
    tree[b + i] = src;
    present[b + i] = true;
    PTile value(*he);
    encoder.encode(value, possibleValues[i]);
    tree[b + i].subPlain(value);
  }
  for (size_t c = b / 2; c >= 2; c /= 2) {
    for (size_t j = c; j < 2 * c; ++j) {
      if (!present[2 * j])
        continue;
      tree[j] = tree[2 * j];
      present[j] = true;
      if (present[2 * j + 1])
        tree[j].multiply(tree[2 * j + 1]);
    }
  }

  // Output j multiplies the siblings along the path from the root to leaf
  // b + j: the product of src - v_l over every l != j.
  std::vector<CTile> res(n, CTile(*he));
  for (size_t j = 0; j < n; ++j) {
    size_t e = (j >> (a - 1)) & 1;
    res[j] = tree[3 - e];
    size_t node = 2 + e;
    for (int s = a - 2; s >= 0; --s) {
      size_t beta = (j >> s) & 1;
      size_t sibling = 2 * node + 1 - beta;
      if (present[sibling])
        res[j].multiply(tree[sibling]);
      node = 2 * node + beta;
    }
    double x = 1;
    for (size_t l = 0; l < n; ++l)
      if (l != j)
        x *= possibleValues[j] - possibleValues[l];
    res[j].multiplyScalar(1 / x);
  }
  out.swap(res);
}

} // namespace quorvane
