// Function evaluation on whole tile tensors: values against direct
// evaluation element by element, what happens to the unused slots and the
// shape's flags, chain indexes consumed, refusals that leave the tensor as it
// was, and automatic bootstrapping.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/RunStats.h"
#include "math/CTileTensor.h"
#include "math/FunctionEvaluator.h"
#include "math/PTileTensor.h"
#include "math/SigmoidCoefficients.h"
#include "math/TTFunctionEvaluator.h"

using namespace quorvane;
using qvtest::combined;
using qvtest::decrypted;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::mapped;
using qvtest::maxDiff;
using qvtest::polyval;
using qvtest::randomTensor;

namespace {

const int SLOTS = 16;
const int DEPTH = 20;

/// 3x5 values in 4x4 tiles: two tiles, with unused slots along both dimensions.
const TTShape& layout()
{
  static const TTShape shape({4, 4});
  return shape;
}

DoubleTensor values(unsigned seed = 1, double lo = -1, double hi = 1)
{
  return mapped(randomTensor({3, 5}, seed), [&](double v) { return lo + (v + 1) / 2 * (hi - lo); });
}

double sigmoid(double x) { return 1 / (1 + std::exp(-x)); }

/// The sum of every slot of every tile, used or not: what a sum over the
/// tensor adds up when the shape says the unused slots hold 0.
double sumOfAllSlots(const CTileTensor& t)
{
  double sum = 0;
  for (int i = 0; i < t.getNumUsedTiles(); ++i)
    for (double v : qvtest::decrypted(t.getTile(i)))
      sum += v;
  return sum;
}

/// The type and message of what f throws.
std::pair<std::string, std::string> failureOf(const std::function<void()>& f)
{
  try {
    f();
  } catch (const std::out_of_range& e) {
    return {"out_of_range", e.what()};
  } catch (const std::invalid_argument& e) {
    return {"invalid_argument", e.what()};
  } catch (const std::runtime_error& e) {
    return {"runtime_error", e.what()};
  }
  return {"none", ""};
}

class TTFunctionEvaluatorTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(SLOTS, DEPTH);
  TTFunctionEvaluator tfe{*he};
};

// ---- Polynomials ----

TEST_F(TTFunctionEvaluatorTest, PolynomialsByEveryTypeKeepTheUnusedSlotsZero)
{
  struct Case
  {
    std::string name;
    std::vector<double> coefs;
  };
  const std::vector<Case> cases = {
      {"linear with a free coefficient", {3, 2}},
      {"no free coefficient", {0, -1, 0.5, 0.25}},
      {"tiny free coefficient", {1e-11, 2}},
      {"degree 7", {0.5, -1.7, 0, 4.2, 0, -5.4, 0, 2.5}},
      {"degree 15", {-0.3, 0.8, 0.2, -0.6, 0.7, 0.1, -0.9, 0.4, 0.3, -0.2, 0.6, -0.8, 0.5,
                     0.9, -0.4, 0.7}},
  };
  const DoubleTensor x = values();
  for (const Case& c : cases) {
    for (EvalType type : {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH, NUMERICAL_STABILITY}) {
      SCOPED_TRACE(c.name + ", type " + std::to_string(type));
      CTileTensor t = encrypted(*he, layout(), x);
      tfe.polyEvalInPlace(t, c.coefs, type);
      EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) { return polyval(c.coefs, v); })),
                1e-9);
      // The free coefficient reached the used slots only.
      EXPECT_LT(t.assertIntegrity(1e-9), 1e-9);
      EXPECT_FALSE(t.getShape().containsUnknownUnusedSlots());
      EXPECT_EQ(t.getShape(), encrypted(*he, layout(), x).getShape());
    }
  }
}

TEST_F(TTFunctionEvaluatorTest, ChainIndexesConsumedByEachType)
{
  // The tiles evaluate the polynomial without its free coefficient, which is
  // added afterwards without a product.
  struct Case
  {
    std::vector<double> coefs;
    int minDepth;
    int efficientPowers;
  };
  const std::vector<Case> cases = {
      {{3, 2}, 1, 1}, {{1, 0, 0, 0, 2}, 3, 3}, {{1, 0.5, 0, 0, 0, 2}, 3, 4},
      {{0.5, -1.7, 0, 4.2, 0, -5.4, 0, 2.5}, 3, 4}};
  const DoubleTensor x = values();
  for (const Case& c : cases) {
    for (auto [type, depth] : std::vector<std::pair<EvalType, int>>{
             {MIN_DEPTH, c.minDepth},
             {EFFICIENT_POWERS, c.efficientPowers},
             {PATERSONSTOCKMAYER, FunctionEvaluator::getPolyEvalDepth(c.coefs, PATERSONSTOCKMAYER)}}) {
      CTileTensor t = encrypted(*he, layout(), x);
      tfe.polyEvalInPlace(t, c.coefs, type);
      EXPECT_EQ(DEPTH - t.getChainIndex(), depth)
          << "degree " << c.coefs.size() - 1 << ", type " << type;
    }
  }
}

TEST_F(TTFunctionEvaluatorTest, AConstantPolynomial)
{
  const DoubleTensor x = values();
  CTileTensor t = encrypted(*he, layout(), x);
  const std::string message = "Can't evaluate a zero polynomial (all coefficients are smaller "
                              "than 1e-08) to a CTile: the result will be a clear-text zero";
  // Once the free coefficient is taken out nothing is left to evaluate.
  for (EvalType type : {EFFICIENT_POWERS, MIN_DEPTH})
    for (const std::vector<double>& coefs : {std::vector<double>{5}, {5, 1e-9, 0}})
      qvtest::expectThrowWithMessage<std::runtime_error>(
          [&] { tfe.polyEvalInPlace(t, coefs, type); }, message);
  EXPECT_EQ(maxDiff(decrypted(t), x), 0);
  EXPECT_EQ(t.getChainIndex(), DEPTH);
  // The numerically stable type has no such refusal: the constant in the
  // used slots, zeros elsewhere.
  tfe.polyEvalInPlace(t, {5}, NUMERICAL_STABILITY);
  EXPECT_EQ(maxDiff(decrypted(t), mapped(x, [](double) { return 5.0; })), 0);
  EXPECT_EQ(t.assertIntegrity(1e-12), 0);
}

TEST_F(TTFunctionEvaluatorTest, EncryptedCoefficients)
{
  const DoubleTensor x = values();
  struct Case
  {
    std::vector<double> coefs;
    bool normalized;
  };
  const std::vector<Case> cases = {{{0.5, -2}, false},         {{0.5, -2}, true},
                                   {{1, 0.3, -0.7, 2}, false}, {{1, 0.3, -0.7, 2}, true},
                                   {{-0.25}, true},            {{0.2, 0, 0, 0, 1.5}, false}};
  for (const Case& c : cases) {
    std::vector<CTile> coefs;
    for (double v : c.coefs)
      coefs.push_back(qvtest::encrypted(*he, std::vector<double>(SLOTS, v)));
    std::vector<double> p = c.coefs;
    if (c.normalized)
      p.push_back(1);
    CTileTensor t = encrypted(*he, layout(), x);
    tfe.polyEvalInPlace(t, coefs, c.normalized);
    SCOPED_TRACE(std::to_string(c.coefs.size()) + " coefficients" +
                 (c.normalized ? ", normalized" : ""));
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) { return polyval(p, v); })), 1e-12);
    EXPECT_LT(t.assertIntegrity(1e-9), 1e-9) << "the free coefficient reached only the used slots";
  }
}

TEST_F(TTFunctionEvaluatorTest, ASingleEncryptedCoefficientIsTheConstantPolynomial)
{
  // The tensor's unused slots are unknown before: the result holds the
  // coefficient in the used slots and zeros elsewhere, whatever src held.
  const DoubleTensor x = values();
  CTileTensor t = encrypted(*he, layout(), x);
  t.addScalar(10);
  ASSERT_TRUE(t.getShape().containsUnknownUnusedSlots());
  std::vector<CTile> coefs = {qvtest::encrypted(*he, std::vector<double>(SLOTS, -1.5))};
  tfe.polyEvalInPlace(t, coefs, false);
  EXPECT_EQ(maxDiff(decrypted(t), mapped(x, [](double) { return -1.5; })), 0);
  EXPECT_FALSE(t.getShape().containsUnknownUnusedSlots());
  EXPECT_EQ(t.assertIntegrity(1e-12), 0);
  EXPECT_EQ(sumOfAllSlots(t), -1.5 * 15);
}

// ---- Powers ----

TEST_F(TTFunctionEvaluatorTest, Powers)
{
  const DoubleTensor x = values();
  for (int degree = 1; degree <= 9; ++degree) {
    CTileTensor t = encrypted(*he, layout(), x);
    tfe.powInPlace(t, degree);
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) { return std::pow(v, degree); })),
              1e-14)
        << degree;
    EXPECT_EQ(DEPTH - t.getChainIndex(), static_cast<int>(std::ceil(std::log2(degree))));
    EXPECT_LT(t.assertIntegrity(1e-12), 1e-12);
  }
}

TEST_F(TTFunctionEvaluatorTest, PowerZeroKeepsTheUnusedSlotsZero)
{
  // Ones in the 15 used slots only, at the input's chain index; a sum over
  // the tensor (every slot) therefore gives 15. Unknown unused slots of the
  // input no longer matter.
  const DoubleTensor x = values();
  for (bool unknownBefore : {false, true}) {
    CTileTensor t = encrypted(*he, layout(), x, 7);
    if (unknownBefore)
      t.addScalar(2);
    ASSERT_EQ(t.getShape().containsUnknownUnusedSlots(), unknownBefore);
    tfe.powInPlace(t, 0);
    EXPECT_EQ(t.getChainIndex(), 7);
    EXPECT_EQ(maxDiff(decrypted(t), mapped(x, [](double) { return 1.0; })), 0);
    EXPECT_FALSE(t.getShape().containsUnknownUnusedSlots());
    EXPECT_EQ(t.assertIntegrity(1e-12), 0);
    EXPECT_EQ(sumOfAllSlots(t), 15);
  }
}

// ---- Sign, comparison and inverse ----

TEST_F(TTFunctionEvaluatorTest, SignOfEveryElementAndUnknownUnusedSlots)
{
  struct Case
  {
    int gRep;
    int fRep;
    double maxAbsVal;
    bool binary;
  };
  const std::vector<Case> cases = {{1, 0, 1, false}, {0, 2, 1, true}, {2, 2, 4, false},
                                   {3, 1, 4, true}};
  for (const Case& c : cases) {
    const DoubleTensor x = values(2, -c.maxAbsVal, c.maxAbsVal);
    CTileTensor t = encrypted(*he, layout(), x);
    tfe.signInPlace(t, c.gRep, c.fRep, c.maxAbsVal, c.binary);
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) {
                        return qvtest::signApproximation(v, c.gRep, c.fRep, c.maxAbsVal, c.binary);
                      })),
              1e-12);
    // The binary shift turned the unused zeros into 0.5; every application
    // changes them in general, so the shape says they are unknown.
    EXPECT_TRUE(t.getShape().getDim(0).getAreUnusedSlotsUnknown());
    EXPECT_TRUE(t.getShape().getDim(1).getAreUnusedSlotsUnknown());
    EXPECT_LT(t.assertIntegrity(1e-9), 1e-9);
  }
  // Far enough from zero the result is the sign.
  DoubleTensor x = mapped(values(3, -4, 4), [](double v) { return std::abs(v) < 0.5 ? 0.5 : v; });
  CTileTensor t = encrypted(*he, layout(), x);
  tfe.signInPlace(t, 3, 3, 4, false);
  EXPECT_LT(maxDiff(decrypted(t), mapped(x, [](double v) { return v > 0 ? 1.0 : -1.0; })), 1e-3);
}

TEST_F(TTFunctionEvaluatorTest, CompareWithCiphertextAndPlaintextTensors)
{
  const DoubleTensor a = values(4, -1, 1);
  DoubleTensor b = values(5, -1, 1);
  const CTileTensor ca = encrypted(*he, layout(), a);
  const DoubleTensor expected =
      combined(a, b, [](double u, double v) { return qvtest::signApproximation(u - v, 2, 2, 2, true); });
  for (bool plain : {false, true}) {
    CTileTensor cb = encrypted(*he, layout(), b);
    PTileTensor pb = encoded(*he, layout(), b);
    CTileTensor res = plain ? tfe.compare(ca, pb, 2, 2, 2) : tfe.compare(ca, cb, 2, 2, 2);
    EXPECT_LT(maxDiff(decrypted(res), expected), 1e-12) << (plain ? "plaintext" : "ciphertext");
    EXPECT_TRUE(res.getShape().containsUnknownUnusedSlots());
    EXPECT_LT(res.assertIntegrity(1e-9), 1e-9);
    EXPECT_EQ(maxDiff(decrypted(cb), b), 0);
  }
  EXPECT_EQ(maxDiff(decrypted(ca), a), 0);
  // Equal values give 0.5.
  CTileTensor same = tfe.compare(ca, ca, 1, 1, 2);
  EXPECT_LT(maxDiff(decrypted(same), mapped(a, [](double) { return 0.5; })), 1e-12);
  // Differences of at least 0.2 are decided.
  for (int i = 0; i < b.size(); ++i)
    b.at(i) = a.at(i) + (i % 2 ? 0.2 : -0.2);
  CTileTensor decided = tfe.compare(ca, encrypted(*he, layout(), b), 3, 3, 2);
  EXPECT_LT(maxDiff(decrypted(decided), combined(a, b, [](double u, double v) {
                      return u > v ? 1.0 : 0.0;
                    })),
            1e-3);
}

TEST_F(TTFunctionEvaluatorTest, CompareBroadcastsADuplicatedOperand)
{
  // b is one row duplicated over the rows of a.
  const DoubleTensor a = values(6, -1, 1);
  DoubleTensor row({1, 5});
  for (int j = 0; j < 5; ++j)
    row.at(0, j) = 0.1 * j - 0.2;
  const TTShape rowShape = qvtest::shapeOf({TTDim(1, 4, 4), TTDim(5, 4)});
  CTileTensor res = tfe.compare(encrypted(*he, layout(), a), encoded(*he, rowShape, row), 2, 2, 2);
  EXPECT_EQ(res.getShape().toString(), "[3?/4, 5?/4]");
  DoubleTensor expected(a);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 5; ++j)
      expected.at(i, j) = qvtest::signApproximation(a.at(i, j) - row.at(0, j), 2, 2, 2, true);
  EXPECT_LT(maxDiff(decrypted(res), expected), 1e-12);
}

TEST_F(TTFunctionEvaluatorTest, InverseWithinTheBounds)
{
  // With t = 1 - 2x / (lo + hi), the result is (1 - t^(2^r)) / x.
  struct Case
  {
    double lo;
    double hi;
    int bitResolution;
  };
  for (const Case& c : std::vector<Case>{{0.5, 1.5, 5}, {1, 3, 6}, {0.5, 1.5, 1}}) {
    const DoubleTensor x = values(7, c.lo, c.hi);
    CTileTensor t = encrypted(*he, layout(), x);
    tfe.inverse(t, c.lo, c.hi, c.bitResolution);
    const double a = 2 / (c.lo + c.hi);
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) {
                        return (1 - std::pow(1 - a * v, std::pow(2, c.bitResolution))) / v;
                      })),
              1e-12);
    EXPECT_TRUE(t.getShape().containsUnknownUnusedSlots());
    if (c.bitResolution >= 5) {
      EXPECT_LT(maxDiff(decrypted(t), mapped(x, [](double v) { return 1 / v; })), 1e-6);
    }
  }
}

// ---- Sigmoids ----

TEST_F(TTFunctionEvaluatorTest, SigmoidsWithinTheirErrorsOverTheRange)
{
  struct Case
  {
    std::string name;
    void (TTFunctionEvaluator::*op)(CTileTensor&) const;
    double maxError;
    int depth;
  };
  const std::vector<Case> cases = {
      {"order 3", &TTFunctionEvaluator::sigmoid3InPlace, 0.115, 3},
      {"order 7", &TTFunctionEvaluator::sigmoid7InPlace, 0.033, 4},
      {"order 9", &TTFunctionEvaluator::sigmoid9InPlace, 0.017, 5},
  };
  DoubleTensor x = values(8, -8, 8);
  x.at(0, 0) = -8;
  x.at(2, 4) = 8;
  for (const Case& c : cases) {
    CTileTensor t = encrypted(*he, layout(), x);
    (tfe.*c.op)(t);
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, sigmoid)), c.maxError) << c.name;
    EXPECT_EQ(DEPTH - t.getChainIndex(), c.depth) << c.name;
    EXPECT_LT(t.assertIntegrity(1e-9), 1e-9) << c.name;
    EXPECT_FALSE(t.getShape().containsUnknownUnusedSlots());
    // An all-zero tensor gives 0.5 in the used slots, 0 elsewhere.
    CTileTensor zeros = encrypted(*he, layout(), mapped(x, [](double) { return 0.0; }));
    (tfe.*c.op)(zeros);
    EXPECT_LT(maxDiff(decrypted(zeros), mapped(x, [](double) { return 0.5; })), 1e-15) << c.name;
    EXPECT_LT(sumOfAllSlots(zeros) - 7.5, 1e-14) << c.name;
  }
  // Order 3 is exactly 0.5 + 1.20096 (x/8) - 0.81562 (x/8)^3.
  CTileTensor t = encrypted(*he, layout(), x);
  tfe.sigmoid3InPlace(t);
  EXPECT_LT(maxDiff(decrypted(t), mapped(x, [](double v) {
                      return 0.5 + 1.20096 * (v / 8) - 0.81562 * std::pow(v / 8, 3);
                    })),
            1e-12);
}

// ---- Refusals ----

TEST_F(TTFunctionEvaluatorTest, RefusalsComeBeforeAnyChange)
{
  const DoubleTensor x = values(9, 0.5, 1);
  std::shared_ptr<HeContext> other = qvtest::createMockup(SLOTS, DEPTH);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string repetitions = "FunctionEvaluator::signInPlace - given gRep and fRep are invalid.";
  struct Case
  {
    std::string name;
    std::function<void(CTileTensor&)> call;
    std::string type;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"empty coefficients", [&](CTileTensor& t) { tfe.polyEvalInPlace(t, std::vector<double>(), MIN_DEPTH); },
       "invalid_argument", "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty."},
      {"evaluation type", [&](CTileTensor& t) { tfe.polyEvalInPlace(t, {1, 2}, static_cast<EvalType>(4)); },
       "runtime_error", "Evaluation type not supported"},
      {"empty encrypted coefficients",
       [&](CTileTensor& t) { tfe.polyEvalInPlace(t, std::vector<CTile>(), true); },
       "invalid_argument", "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty."},
      {"coefficient of another context",
       [&](CTileTensor& t) {
         tfe.polyEvalInPlace(t, {qvtest::encrypted(*he, {1}), qvtest::encrypted(*other, {1})}, false);
       },
       "invalid_argument", "TTFunctionEvaluator: a coefficient tile belongs to another HE context"},
      {"negative power", [&](CTileTensor& t) { tfe.powInPlace(t, -1); }, "runtime_error",
       "degree must be >= 0"},
      {"sign repetitions", [&](CTileTensor& t) { tfe.signInPlace(t, 0, 0, 1, false); },
       "invalid_argument", repetitions},
      {"sign negative repetition", [&](CTileTensor& t) { tfe.signInPlace(t, 2, -1, 1, true); },
       "invalid_argument", repetitions},
      {"sign bound", [&](CTileTensor& t) { tfe.signInPlace(t, 1, 1, nan, false); },
       "invalid_argument",
       "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite."},
      {"sign zero bound", [&](CTileTensor& t) { tfe.signInPlace(t, 1, 1, 0, false); },
       "invalid_argument",
       "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite."},
      {"inverse bounds", [&](CTileTensor& t) { tfe.inverse(t, 3, 2, 5); }, "invalid_argument",
       "FunctionEvaluator::inverse() failed: The given \"lowerBound\" (3.000000) is larger than "
       "\"upperBound\" (2.000000)."},
      {"inverse lower bound", [&](CTileTensor& t) { tfe.inverse(t, -1, 2, 5); }, "invalid_argument",
       "FunctionEvaluator::inverse() failed: \"lowerBound\" must be non-negative, while the given "
       "\"lowerBound\" is -1.000000."},
      {"inverse NaN bound", [&](CTileTensor& t) { tfe.inverse(t, nan, 2, 5); }, "invalid_argument",
       "FunctionEvaluator::inverse() failed: \"lowerBound\" must be finite, while the given "
       "\"lowerBound\" is nan."},
      {"inverse infinite bound",
       [&](CTileTensor& t) { tfe.inverse(t, 0.5, std::numeric_limits<double>::infinity(), 5); },
       "invalid_argument",
       "FunctionEvaluator::inverse() failed: \"upperBound\" must be finite, while the given "
       "\"upperBound\" is inf."},
      {"inverse bit resolution", [&](CTileTensor& t) { tfe.inverse(t, 0.5, 1, 0); },
       "invalid_argument",
       "FunctionEvaluator::inverse() failed: \"bitResolution\" must be positive, while the given "
       "\"bitResolution\" is 0."},
      {"compare repetitions", [&](CTileTensor& t) { tfe.compare(t, t, 0, 0, 1); },
       "invalid_argument", repetitions},
      {"compare bound", [&](CTileTensor& t) { tfe.compare(t, t, 1, 1, -2); }, "invalid_argument",
       "FunctionEvaluator::compareInPlace - given maxDiff must be positive and finite."},
      {"compare with another context",
       [&](CTileTensor& t) { tfe.compare(t, encrypted(*other, layout(), x), 1, 1, 1); },
       "invalid_argument", "The other tile tensor belongs to another context (context id " +
                               std::to_string(other->getContextId()) + ", expected " +
                               std::to_string(he->getContextId()) + ")"},
  };
  for (const Case& c : cases) {
    CTileTensor t = encrypted(*he, layout(), x, 15);
    const TTShape before = t.getShape();
    auto [type, message] = failureOf([&] { c.call(t); });
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(t.getShape(), before) << c.name << ": the shape must not change";
    EXPECT_EQ(t.getChainIndex(), 15) << c.name;
    EXPECT_EQ(maxDiff(decrypted(t), x), 0) << c.name;
  }
}

TEST_F(TTFunctionEvaluatorTest, ComplexPackedTensorsAreRefusedUnchanged)
{
  // [8(c)/4, 2/4]: a slot holds two values as one complex number, which the
  // tile products would mix ((a + bi)^2 is not a^2 + b^2 i).
  const TTShape shape = qvtest::shapeOf({TTDim(8, 4, 1, false, false, true), TTDim(2, 4)});
  const DoubleTensor x = mapped(randomTensor({8, 2}, 21), [](double v) { return 0.35 + v / 4; });
  const std::string polynomial =
      "Polynomial evaluation is currently not supported for complex-packed dimensions";
  const std::string power =
      "Raising to a power is currently not supported for complex-packed dimensions";
  const std::string incompatible = "Attempting action with an incompatible shape: [8(c)/4, 2/4]";
  const CTile coef = qvtest::encrypted(*he, {0.5});
  struct Case
  {
    std::string name;
    std::function<void(CTileTensor&)> call;
    std::string message;
  };
  std::vector<Case> cases = {
      {"encrypted coefficients", [&](CTileTensor& t) { tfe.polyEvalInPlace(t, {coef, coef}, false); },
       polynomial},
      {"one encrypted coefficient", [&](CTileTensor& t) { tfe.polyEvalInPlace(t, {coef}, false); },
       polynomial},
      {"power 2", [&](CTileTensor& t) { tfe.powInPlace(t, 2); }, power},
      {"power 5", [&](CTileTensor& t) { tfe.powInPlace(t, 5); }, power},
      {"sign", [&](CTileTensor& t) { tfe.signInPlace(t, 1, 1, 1, false); },
       "Sign is currently not supported for complex-packed dimensions"},
      {"inverse", [&](CTileTensor& t) { tfe.inverse(t, 0.1, 0.6, 5); },
       "Inverse is currently not supported for complex-packed dimensions"},
      {"inverse, bounds refused too", [&](CTileTensor& t) { tfe.inverse(t, 3, 2, 0); },
       "Inverse is currently not supported for complex-packed dimensions"},
      {"sigmoid3", [&](CTileTensor& t) { tfe.sigmoid3InPlace(t); }, incompatible},
      {"sigmoid7", [&](CTileTensor& t) { tfe.sigmoid7InPlace(t); }, incompatible},
      {"sigmoid9", [&](CTileTensor& t) { tfe.sigmoid9InPlace(t); }, incompatible},
      {"compare", [&](CTileTensor& t) { tfe.compare(t, CTileTensor(t), 1, 1, 1); }, incompatible},
  };
  for (EvalType type : {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH, NUMERICAL_STABILITY})
    cases.push_back({"polynomial of type " + std::to_string(type),
                     [&, type](CTileTensor& t) { tfe.polyEvalInPlace(t, {0.5, 1, 2}, type); },
                     polynomial});
  for (const Case& c : cases) {
    CTileTensor t = encrypted(*he, shape, x, 15);
    EXPECT_EQ(qvtest::quietMessageOf<std::invalid_argument>([&] { c.call(t); }), c.message)
        << c.name;
    EXPECT_EQ(t.getShape(), shape) << c.name;
    EXPECT_EQ(t.getChainIndex(), 15) << c.name;
    EXPECT_EQ(maxDiff(decrypted(t), x), 0) << c.name;
  }

  // Powers 0 and 1 touch no slot value, so they are exact on both values of a slot.
  CTileTensor ones = encrypted(*he, shape, x);
  tfe.powInPlace(ones, 0);
  EXPECT_EQ(maxDiff(decrypted(ones), mapped(x, [](double) { return 1.0; })), 0);
  CTileTensor same = encrypted(*he, shape, x);
  tfe.powInPlace(same, 1);
  EXPECT_EQ(maxDiff(decrypted(same), x), 0);
}

TEST_F(TTFunctionEvaluatorTest, UnpackedTensorsAndTensorsOfAnotherContext)
{
  std::shared_ptr<HeContext> other = qvtest::createMockup(SLOTS, DEPTH);
  const std::vector<std::pair<std::string, std::function<void(CTileTensor&)>>> operations = {
      {"polynomial", [&](CTileTensor& t) { tfe.polyEvalInPlace(t, {1, 2}, MIN_DEPTH); }},
      {"encrypted polynomial",
       [&](CTileTensor& t) { tfe.polyEvalInPlace(t, {qvtest::encrypted(*he, {1})}, true); }},
      {"power", [&](CTileTensor& t) { tfe.powInPlace(t, 2); }},
      {"sigmoid3", [&](CTileTensor& t) { tfe.sigmoid3InPlace(t); }},
      {"sigmoid7", [&](CTileTensor& t) { tfe.sigmoid7InPlace(t); }},
      {"sigmoid9", [&](CTileTensor& t) { tfe.sigmoid9InPlace(t); }},
      {"sign", [&](CTileTensor& t) { tfe.signInPlace(t, 1, 1, 1, false); }},
      {"inverse", [&](CTileTensor& t) { tfe.inverse(t, 0.5, 1, 5); }},
      {"compare", [&](CTileTensor& t) { tfe.compare(t, t, 1, 1, 1); }},
  };
  const DoubleTensor x = values();
  for (const auto& [name, call] : operations) {
    CTileTensor unpacked(*he);
    EXPECT_EQ(failureOf([&] { call(unpacked); }),
              std::make_pair(std::string("runtime_error"),
                             std::string("This tile tensor has not been packed")))
        << name;
    CTileTensor foreign = encrypted(*other, layout(), x);
    EXPECT_EQ(failureOf([&] { call(foreign); }),
              std::make_pair(std::string("invalid_argument"),
                             std::string("TTFunctionEvaluator: the given tile tensor belongs to "
                                         "another HE context")))
        << name;
    EXPECT_EQ(maxDiff(decrypted(foreign), x), 0) << name;
  }
}

TEST_F(TTFunctionEvaluatorTest, OperandChecksComeBeforeArgumentChecks)
{
  // The tensors are checked first, as the tile loop would meet them: an
  // unpacked or ill-shaped operand is reported even when the repetitions or
  // the bounds are refused too.
  const DoubleTensor x = values();
  const CTileTensor a = encrypted(*he, layout(), x);
  const CTileTensor wide = encrypted(*he, TTShape({2, 8}), x);
  const std::string notPacked = "This tile tensor has not been packed";
  struct Case
  {
    std::string name;
    std::function<void()> call;
    std::pair<std::string, std::string> failure;
  };
  const std::vector<Case> cases = {
      {"sign", [&] { CTileTensor t(*he); tfe.signInPlace(t, 0, 0, 1, false); },
       {"runtime_error", notPacked}},
      {"inverse", [&] { CTileTensor t(*he); tfe.inverse(t, 3, 2, 5); },
       {"runtime_error", notPacked}},
      {"compare, a unpacked", [&] { tfe.compare(CTileTensor(*he), a, 0, 0, 1); },
       {"runtime_error", notPacked}},
      {"compare, b unpacked", [&] { tfe.compare(a, CTileTensor(*he), 0, 0, 1); },
       {"invalid_argument", "Other has not been encoded yet"}},
      {"compare, incompatible shapes", [&] { tfe.compare(a, wide, -1, 2, 1); },
       {"invalid_argument",
        "Attempting action with an incompatible shape: " + wide.getShape().toString()}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(failureOf(c.call), c.failure) << c.name;
}

// ---- Automatic bootstrapping ----

class TTFunctionEvaluatorBootstrapTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = [] {
    BootstrapConfig config;
    config.minChainIndexForBootstrapping = 1;
    config.targetChainIndex = 8;
    return qvtest::createMockup(qvtest::bootstrappable(SLOTS, 10, config, true));
  }();
  TTFunctionEvaluator tfe{*he};
};

TEST_F(TTFunctionEvaluatorBootstrapTest, Sigmoid3BootstrapsWhenOneLevelIsLeft)
{
  // One level left: every tile is bootstrapped to 8 first, then consumes 3.
  // Two left: no bootstrap before; the products bootstrap their operands
  // when these reach the bootstrapping chain index.
  struct Case
  {
    int chainIndex;
    int bootstraps;
    int resultChainIndex;
  };
  const DoubleTensor x = values(10, -8, 8);
  for (const Case& c : std::vector<Case>{{2, 2, 5}, {3, 4, 1}, {4, 0, 1}}) {
    CTileTensor t = encrypted(*he, layout(), x, c.chainIndex);
    qvtest::startCounting(*he);
    tfe.sigmoid3InPlace(t);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::BOOTSTRAP), c.bootstraps) << c.chainIndex;
    EXPECT_EQ(t.getChainIndex(), c.resultChainIndex) << c.chainIndex;
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, sigmoid)), 0.115);
  }
}

TEST_F(TTFunctionEvaluatorBootstrapTest, PolynomialsBootstrapEveryTileWhenLevelsRunOut)
{
  // Degree 7 under MIN_DEPTH needs 3 levels.
  const std::vector<double> coefs = {0.5, -1.7, 0, 4.2, 0, -5.4, 0, 2.5};
  const DoubleTensor x = values();
  for (auto [chainIndex, bootstraps] : std::vector<std::pair<int, int>>{{3, 2}, {8, 0}}) {
    CTileTensor t = encrypted(*he, layout(), x, chainIndex);
    qvtest::startCounting(*he);
    tfe.polyEvalInPlace(t, coefs, MIN_DEPTH);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::BOOTSTRAP), bootstraps) << chainIndex;
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) { return polyval(coefs, v); })), 1e-9);
    EXPECT_LT(t.assertIntegrity(1e-9), 1e-9);
  }
  // Sign: each application of a sign polynomial needs three levels.
  CTileTensor t = encrypted(*he, layout(), x, 8);
  qvtest::startCounting(*he);
  tfe.signInPlace(t, 3, 0, 1, false);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::BOOTSTRAP), 2);
  EXPECT_LT(maxDiff(decrypted(t), mapped(x, [](double v) {
                      return qvtest::signApproximation(v, 3, 0, 1, false);
                    })),
            1e-12);
}

} // namespace

// ---- On SEAL ----

class TTFunctionEvaluatorOnSealTest : public ::testing::Test
{
protected:
  static const HeContext& seal()
  {
    static std::shared_ptr<HeContext> he =
        HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(64, 14, 40, 10));
    return *he;
  }
  /// 6x10 values in 4x16 tiles: two tiles with unused slots.
  const TTShape shape{std::vector<int>{4, 16}};
  TTFunctionEvaluator tfe{seal()};
  /// CKKS noise at 40 fractional bits after a dozen levels.
  static constexpr double EPS = 1e-7;

  DoubleTensor input(unsigned seed, double lo, double hi) const
  {
    return mapped(randomTensor({6, 10}, seed),
                  [&](double v) { return lo + (v + 1) / 2 * (hi - lo); });
  }
};

TEST_F(TTFunctionEvaluatorOnSealTest, PolynomialsAndSigmoids)
{
  const DoubleTensor x = input(11, -1, 1);
  std::vector<double> coefs = qvtest::randomReals(12, 16, -1, 1);
  coefs[15] = -1;
  for (EvalType type : {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH, NUMERICAL_STABILITY}) {
    CTileTensor t = encrypted(seal(), shape, x);
    tfe.polyEvalInPlace(t, coefs, type);
    EXPECT_LT(maxDiff(decrypted(t), mapped(x, [&](double v) { return polyval(coefs, v); })), EPS)
        << "type " << type;
    EXPECT_LT(t.assertIntegrity(EPS), EPS) << "type " << type;
  }
  const DoubleTensor y = input(13, -8, 8);
  const std::vector<std::pair<void (TTFunctionEvaluator::*)(CTileTensor&) const, double>> sigmoids =
      {{&TTFunctionEvaluator::sigmoid3InPlace, 0.115},
       {&TTFunctionEvaluator::sigmoid7InPlace, 0.033},
       {&TTFunctionEvaluator::sigmoid9InPlace, 0.017}};
  for (const auto& [op, maxError] : sigmoids) {
    CTileTensor t = encrypted(seal(), shape, y);
    (tfe.*op)(t);
    EXPECT_LT(maxDiff(decrypted(t), mapped(y, sigmoid)), maxError);
    EXPECT_LT(t.assertIntegrity(EPS), EPS);
  }
}

TEST_F(TTFunctionEvaluatorOnSealTest, EncryptedCoefficientsPowersSignCompareInverse)
{
  const DoubleTensor x = input(14, 0.5, 1.5);
  std::vector<CTile> coefs;
  for (double v : {0.75, -0.5, 0.25})
    coefs.push_back(qvtest::encrypted(seal(), std::vector<double>(64, v)));
  CTileTensor t = encrypted(seal(), shape, x);
  tfe.polyEvalInPlace(t, coefs, true);
  EXPECT_LT(maxDiff(decrypted(t), mapped(x, [](double v) {
                      return polyval({0.75, -0.5, 0.25, 1}, v);
                    })),
            EPS);
  EXPECT_LT(t.assertIntegrity(EPS), EPS);
  CTileTensor c = encrypted(seal(), shape, x);
  tfe.polyEvalInPlace(c, {coefs[1]}, false);
  EXPECT_LT(maxDiff(decrypted(c), mapped(x, [](double) { return -0.5; })), EPS);
  EXPECT_LT(c.assertIntegrity(EPS), EPS);

  CTileTensor p = encrypted(seal(), shape, x);
  tfe.powInPlace(p, 0);
  EXPECT_LT(maxDiff(decrypted(p), mapped(x, [](double) { return 1.0; })), EPS);
  EXPECT_LT(p.assertIntegrity(EPS), EPS);

  CTileTensor inv = encrypted(seal(), shape, x);
  tfe.inverse(inv, 0.5, 1.5, 5);
  EXPECT_LT(maxDiff(decrypted(inv), mapped(x, [](double v) { return 1 / v; })), 1e-6);

  CTileTensor s = encrypted(seal(), shape, mapped(x, [](double v) { return v - 1; }));
  tfe.signInPlace(s, 1, 2, 1, true);
  EXPECT_LT(maxDiff(decrypted(s), mapped(x, [](double v) {
                      return qvtest::signApproximation(v - 1, 1, 2, 1, true);
                    })),
            EPS);

  const DoubleTensor b = input(15, 0.5, 1.5);
  CTileTensor cmp = tfe.compare(encrypted(seal(), shape, x), encoded(seal(), shape, b), 1, 2, 1);
  EXPECT_LT(maxDiff(decrypted(cmp), combined(x, b, [](double u, double v) {
                      return qvtest::signApproximation(u - v, 1, 2, 1, true);
                    })),
            EPS);
}
