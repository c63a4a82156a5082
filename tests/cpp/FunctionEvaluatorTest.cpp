// Polynomial evaluation and powers on single tiles: values against direct
// evaluation, the chain indexes each evaluation type consumes, the operations
// each algorithm performs, refusals, and automatic bootstrapping.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/TrackingContext.h"
#include "math/FunctionEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 8;
const std::vector<EvalType> ALL_TYPES = {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH,
                                         NUMERICAL_STABILITY};

std::vector<double> inputs(unsigned seed = 7) { return randomReals(seed, SLOTS, -1, 1); }

/// A polynomial of the degree with random coefficients in [-1, 1) (none near
/// 0 or 1, so every term costs what the depth figures assume).
std::vector<double> randomPolynomial(unsigned seed, int degree)
{
  std::vector<double> coefs = randomReals(seed, degree + 1, 0.2, 0.9);
  for (size_t i = 0; i < coefs.size(); i += 2)
    coefs[i] = -coefs[i];
  return coefs;
}

struct PolynomialCase
{
  std::string name;
  std::vector<double> coefs;
};

const std::vector<PolynomialCase>& polynomialCases()
{
  static const std::vector<PolynomialCase> cases = {
      {"linear", {3, 2}},
      {"quadratic", {1, -2, 0.5}},
      {"single high power", {0.3, 0, 0, 0, 0, 1.5}},
      {"degree 4", randomPolynomial(4, 4)},
      {"degree 7", randomPolynomial(7, 7)},
      {"degree 15", randomPolynomial(15, 15)},
      {"tiny coefficients", {1e-9, 0.5, 1e-12, 0.25}},
      // Leading coefficients that make the padded Paterson-Stockmeyer
      // polynomial lose its leading term at some level of the recursion.
      {"degree 3, leading -1", {0.5, 1, 0.25, -1}},
      {"degree 6, leading -1", {1, 0.5, -0.75, 0, -1, 0.5, -1}},
      {"degree 6, leading almost -1", {1, 0.5, -0.75, 0, -1, 0.5, -1 + 1e-13}},
      {"degree 21, leading -1", [] {
         auto c = randomPolynomial(21, 21);
         c[21] = -1;
         return c;
       }()},
      {"degree 21, leading -2", [] {
         auto c = randomPolynomial(22, 21);
         c[21] = -2;
         return c;
       }()},
      {"degree 28, leading -3", [] {
         auto c = randomPolynomial(28, 28);
         c[28] = -3;
         return c;
       }()},
      {"all coefficients -1", std::vector<double>(7, -1)},
  };
  return cases;
}

TEST(FunctionEvaluatorTest, EveryTypeComputesThePolynomial)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  std::vector<double> x = inputs();
  for (const PolynomialCase& pc : polynomialCases()) {
    // EFFICIENT_POWERS and MIN_DEPTH drop coefficients within 1e-8 of zero.
    std::vector<double> significant = pc.coefs;
    for (double& c : significant)
      c = std::abs(c) > 1e-8 ? c : 0;
    for (EvalType type : ALL_TYPES) {
      SCOPED_TRACE(pc.name + ", type " + std::to_string(type));
      const std::vector<double>& evaluated =
          type == EFFICIENT_POWERS || type == MIN_DEPTH ? significant : pc.coefs;
      std::vector<double> expected = mapped(x, [&](double v) { return polyval(evaluated, v); });
      double scale = 1;
      for (double e : expected)
        scale = std::max(scale, std::abs(e));
      CTile c = encrypted(*he, x);
      fe.polyEvalInPlace(c, pc.coefs, type);
      std::vector<double> actual = decrypted(c);
      for (double v : actual)
        ASSERT_TRUE(std::isfinite(v));
      EXPECT_LT(maxError(actual, expected), 1e-9 * scale);
    }
  }
}

TEST(FunctionEvaluatorTest, ChainIndexesConsumedMatchTheDepthFigures)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  for (const PolynomialCase& pc : polynomialCases()) {
    for (EvalType type : {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH}) {
      SCOPED_TRACE(pc.name + ", type " + std::to_string(type));
      CTile c = encrypted(*he, inputs());
      fe.polyEvalInPlace(c, pc.coefs, type);
      EXPECT_EQ(20 - c.getChainIndex(), FunctionEvaluator::getPolyEvalDepth(pc.coefs, type));
    }
    // The figure of the numerically stable evaluation is measured with
    // Paterson-Stockmeyer.
    EXPECT_EQ(FunctionEvaluator::getPolyEvalDepth(pc.coefs, NUMERICAL_STABILITY),
              FunctionEvaluator::getPolyEvalDepth(pc.coefs, PATERSONSTOCKMAYER));
  }
}

TEST(FunctionEvaluatorTest, DepthFiguresOfTheComputedTypes)
{
  struct Case
  {
    std::vector<double> coefs;
    int efficientPowers;
    int minDepth;
  };
  const std::vector<Case> cases = {
      {{5}, 0, 0},
      {{5, 1e-9, -1e-9}, 0, 0},
      {{0, 2}, 1, 1},
      {{0, 0, 2}, 2, 2},
      {{0, 0, 0, 2}, 3, 2},
      {{0, 0, 0, 0, 2}, 3, 3},
      {{0, 0, 0, 0, 0, 2}, 4, 3},
      {{1, 0, 0, 0, 0, 0, 0, 0, 2, 1e-9}, 4, 4},
      {std::vector<double>(10, 1), 5, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FunctionEvaluator::getPolyEvalDepth(c.coefs, EFFICIENT_POWERS), c.efficientPowers);
    EXPECT_EQ(FunctionEvaluator::getPolyEvalDepth(c.coefs, MIN_DEPTH), c.minDepth);
  }
}

TEST(FunctionEvaluatorTest, PatersonStockmayerDepthIsMeasuredOnAnEmptyContext)
{
  // The measurement of an evaluation on a context that only tracks chain
  // indexes equals what the same evaluation consumes on a context computing
  // values, for any depth of the input.
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 30);
  FunctionEvaluator fe(*he);
  for (int degree : {2, 3, 5, 8, 15, 16, 31, 40}) {
    std::vector<double> coefs = randomPolynomial(degree, degree);
    int figure = FunctionEvaluator::getPolyEvalDepth(coefs, PATERSONSTOCKMAYER);
    CTile c = encrypted(*he, inputs(), 25);
    fe.polyEvalInPlace(c, coefs, PATERSONSTOCKMAYER);
    EXPECT_EQ(25 - c.getChainIndex(), figure) << "degree " << degree;
    // Never deeper than two levels above the minimum of ceil(log2(degree)).
    int minimum = static_cast<int>(std::ceil(std::log2(degree)));
    EXPECT_GE(figure, minimum);
    EXPECT_LE(figure, minimum + 2) << "degree " << degree;
  }
}

TEST(FunctionEvaluatorTest, ZeroPolynomialsAreRefusedByTheComputedTypes)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  const std::string message = "Can't evaluate a zero polynomial (all coefficients are smaller "
                              "than 1e-08) to a CTile: the result will be a clear-text zero";
  for (EvalType type : {EFFICIENT_POWERS, MIN_DEPTH}) {
    CTile c = encrypted(*he, inputs());
    expectThrowWithMessage<std::runtime_error>(
        [&] { fe.polyEvalInPlace(c, {1e-9, -1e-8, 0}, type); }, message);
    expectThrowWithMessage<std::runtime_error>(
        [&] { FunctionEvaluator::getPolyEvalDepth({0}, type); }, message);
    EXPECT_EQ(decrypted(c), decrypted(encrypted(*he, inputs())));
  }
}

TEST(FunctionEvaluatorTest, AFreeCoefficientAloneGivesItsEncryptionAtTheInputChainIndex)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  for (EvalType type : {EFFICIENT_POWERS, MIN_DEPTH}) {
    CTile c = encrypted(*he, inputs(), 6);
    fe.polyEvalInPlace(c, {-2.5, 1e-9}, type);
    EXPECT_EQ(c.getChainIndex(), 6);
    EXPECT_EQ(decrypted(c), std::vector<double>(SLOTS, -2.5));
  }
}

TEST(FunctionEvaluatorTest, RefusalsLeaveTheTileUnchanged)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  CTile c = encrypted(*he, inputs(), 8);
  // An empty list has no coefficient above any threshold: the types that look
  // for one report a zero polynomial; the numerically stable type refuses it.
  const std::string zero = "Can't evaluate a zero polynomial (all coefficients are smaller than ";
  const std::string zeroTail = ") to a CTile: the result will be a clear-text zero";
  for (EvalType type : {EFFICIENT_POWERS, MIN_DEPTH})
    expectThrowWithMessage<std::runtime_error>(
        [&] { fe.polyEvalInPlace(c, std::vector<double>(), type); }, zero + "1e-08" + zeroTail);
  expectThrowWithMessage<std::runtime_error>(
      [&] { fe.polyEvalInPlace(c, std::vector<double>(), PATERSONSTOCKMAYER); },
      zero + "1e-10" + zeroTail);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fe.polyEvalInPlace(c, std::vector<double>(), NUMERICAL_STABILITY); },
      "FunctionEvaluator::polyEvalInPlace - the coefficient list is empty.");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fe.polyEvalInPlace(c, std::vector<CTile>(), false, false); },
      "FunctionEvaluator::polyEvalInPlace - the coefficient list is empty.");
  for (int type : {-1, 4, 1000})
    expectThrowWithMessage<std::runtime_error>(
        [&] { fe.polyEvalInPlace(c, {1, 2}, static_cast<EvalType>(type)); },
        "Evaluation type not supported");
  expectThrowWithMessage<std::runtime_error>([&] { fe.powInPlace(c, -1); },
                                             "degree must be >= 0");
  EXPECT_EQ(c.getChainIndex(), 8);
  EXPECT_EQ(decrypted(c), inputs());
}

TEST(FunctionEvaluatorTest, TilesOfAnotherContextAreRefused)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  std::shared_ptr<HeContext> other = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  CTile mine = encrypted(*he, inputs());
  CTile theirs = encrypted(*other, inputs());
  const std::string message = "FunctionEvaluator: the given tile belongs to another HE context";
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fe.polyEvalInPlace(theirs, {1, 2}, MIN_DEPTH); }, message);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fe.polyEvalInPlace(mine, {mine, theirs}, false, false); }, message);
  expectThrowWithMessage<std::invalid_argument>([&] { fe.powInPlace(theirs, 2); }, message);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fe.compareInPlace(mine, theirs, 1, 1, 1); }, message);
  EXPECT_EQ(decrypted(mine), inputs());
  EXPECT_EQ(mine.getChainIndex(), 10);
}

// ---- What each algorithm computes ----

TEST(FunctionEvaluatorTest, MinDepthOfTheIdentityIsACopy)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  CTile c = encrypted(*he, inputs());
  startCounting(*he);
  fe.polyEvalInPlace(c, {0, 1}, MIN_DEPTH);
  EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_RAW), 0);
  EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 0);
  EXPECT_EQ(c.getChainIndex(), 10);
  EXPECT_EQ(decrypted(c), inputs());
}

TEST(FunctionEvaluatorTest, EfficientPowersComputeOnlyTheNeededPowers)
{
  // x^5 needs x^2, x^4 and x^5 = x^4 x: three products, and x^3 is never made.
  // x^7 needs x^2, x^3, x^4 and x^7 = x^4 x^3.
  struct Case
  {
    std::vector<double> coefs;
    int products;
  };
  const std::vector<Case> cases = {
      {{0, 0, 0, 0, 0, 2}, 3},
      {{0, 0, 0, 0, 0, 0, 0, 2}, 4},
      {{1, 1, 1, 1, 1, 1, 1, 1}, 6},
      {{0, 0, 0, 0, 0, 0, 0, 0, 3}, 3},
  };
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  for (const Case& cs : cases) {
    CTile c = encrypted(*he, inputs());
    startCounting(*he);
    fe.polyEvalInPlace(c, cs.coefs, EFFICIENT_POWERS);
    EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_RAW) + countOf(*he, RunStats::SQUARE_RAW),
              cs.products)
        << "degree " << cs.coefs.size() - 1;
  }
}

TEST(FunctionEvaluatorTest, NumericalStabilityRaisesAScaledInput)
{
  // -4 x^2 is computed as -(2x)^2.
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  CTile c = encrypted(*he, inputs());
  startCounting(*he);
  fe.polyEvalInPlace(c, {0, 0, -4}, NUMERICAL_STABILITY);
  EXPECT_EQ(countOf(*he, RunStats::NEGATE), 1);
  EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 1);
  EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_RAW), 1);
  EXPECT_LT(maxError(decrypted(c), mapped(inputs(), [](double v) { return -4 * v * v; })),
            1e-12);
  // Only exact zeros are skipped, so no polynomial is refused.
  CTile d = encrypted(*he, inputs());
  fe.polyEvalInPlace(d, {1e-11, 1e-12}, NUMERICAL_STABILITY);
  EXPECT_LT(maxError(decrypted(d), mapped(inputs(), [](double v) { return 1e-11 + 1e-12 * v; })),
            1e-20);
  CTile e = encrypted(*he, inputs());
  fe.polyEvalInPlace(e, {0, 0, 0}, NUMERICAL_STABILITY);
  EXPECT_EQ(decrypted(e), std::vector<double>(SLOTS, 0));
}

TEST(FunctionEvaluatorTest, NumericalStabilityOfAConstantStaysAtTheInputChainIndex)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  for (const std::vector<double>& coefs : {std::vector<double>{-2.5}, {-2.5, 0, 0}}) {
    CTile c = encrypted(*he, inputs(), 4);
    fe.polyEvalInPlace(c, coefs, NUMERICAL_STABILITY);
    EXPECT_EQ(c.getChainIndex(), 4) << coefs.size() << " coefficients";
    EXPECT_EQ(decrypted(c), std::vector<double>(SLOTS, -2.5));
  }
}

// ---- Powers ----

TEST(FunctionEvaluatorTest, PowersMatchDirectEvaluation)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  std::vector<double> x = inputs();
  for (int degree = 0; degree <= 13; ++degree) {
    CTile c = encrypted(*he, x);
    fe.powInPlace(c, degree);
    EXPECT_LT(maxError(decrypted(c), mapped(x, [&](double v) { return std::pow(v, degree); })),
              1e-14)
        << "degree " << degree;
    int expectedDepth = degree <= 1 ? 0 : static_cast<int>(std::ceil(std::log2(degree)));
    EXPECT_EQ(10 - c.getChainIndex(), expectedDepth) << "degree " << degree;
  }
}

TEST(FunctionEvaluatorTest, PowerProductsAndSpecialDegrees)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  // Degree 6: x.x, x^2.x^2, x^4.x^2; degree 7: x.x, x.x^2, x^2.x^2, x^4.x^3.
  for (auto [degree, products] : std::vector<std::pair<int, int>>{{6, 3}, {7, 4}, {8, 3}}) {
    CTile c = encrypted(*he, inputs());
    startCounting(*he);
    fe.powInPlace(c, degree);
    EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_RAW), products) << "degree " << degree;
    EXPECT_EQ(countOf(*he, RunStats::SQUARE_RAW), 0);
  }
  // Degree 0 gives ones at the input's chain index; degree 1 changes nothing.
  CTile c = encrypted(*he, inputs(), 4);
  fe.powInPlace(c, 0);
  EXPECT_EQ(c.getChainIndex(), 4);
  EXPECT_EQ(decrypted(c), std::vector<double>(SLOTS, 1));
  CTile d = encrypted(*he, inputs(), 4);
  startCounting(*he);
  fe.powInPlace(d, 1);
  EXPECT_EQ(countOf(*he, RunStats::C_COPY) + countOf(*he, RunStats::MULTIPLY_RAW), 0);
  EXPECT_EQ(decrypted(d), inputs());
}

// ---- Encrypted coefficients ----

TEST(FunctionEvaluatorTest, EncryptedCoefficients)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  std::vector<double> x = inputs();
  for (int n : {1, 2, 3, 4, 5, 8}) {
    // Coefficient i differs from slot to slot.
    std::vector<std::vector<double>> clear;
    std::vector<CTile> coefs;
    for (int i = 0; i < n; ++i) {
      clear.push_back(randomReals(100 + i, SLOTS, -1, 1));
      coefs.push_back(encrypted(*he, clear.back()));
    }
    for (bool normalized : {false, true}) {
      for (bool ignoreFreeCoef : {false, true}) {
        if (n == 1 && !normalized && ignoreFreeCoef)
          continue;
        std::vector<double> expected(SLOTS);
        for (int s = 0; s < SLOTS; ++s) {
          std::vector<double> p;
          for (int i = 0; i < n; ++i)
            p.push_back(clear[i][s]);
          if (normalized)
            p.push_back(1);
          if (ignoreFreeCoef)
            p[0] = 0;
          expected[s] = polyval(p, x[s]);
        }
        CTile c = encrypted(*he, x);
        fe.polyEvalInPlace(c, coefs, normalized, ignoreFreeCoef);
        SCOPED_TRACE("n " + std::to_string(n) + (normalized ? ", normalized" : "") +
                     (ignoreFreeCoef ? ", free coefficient ignored" : ""));
        EXPECT_LT(maxError(decrypted(c), expected), 1e-13);
      }
    }
  }
  // A constant polynomial with its free coefficient left to the caller is no
  // polynomial at all.
  CTile c = encrypted(*he, x);
  expectAssertion([&] { fe.polyEvalInPlace(c, {encrypted(*he, x)}, false, true); },
                  "!ignoreFreeCoef");
}

TEST(FunctionEvaluatorTest, SingleNonNormalizedEncryptedCoefficientGivesThatCoefficient)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  std::vector<double> c0 = randomReals(3, SLOTS, -5, 5);
  CTile c = encrypted(*he, inputs());
  fe.polyEvalInPlace(c, {encrypted(*he, c0, 7)}, false, false);
  EXPECT_EQ(decrypted(c), c0);
  EXPECT_EQ(c.getChainIndex(), 7);
}

// ---- Automatic bootstrapping ----

class AutoBootstrapTest : public ::testing::Test
{
protected:
  // Bootstrapping is due at chain index 1 and lands at 8.
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(SLOTS, 10, config(), true));
  FunctionEvaluator fe{*he};

  static BootstrapConfig config()
  {
    BootstrapConfig c;
    c.minChainIndexForBootstrapping = 1;
    c.targetChainIndex = 8;
    return c;
  }

  int64_t bootstraps() const { return countOf(*he, RunStats::BOOTSTRAP); }
};

TEST_F(AutoBootstrapTest, PolynomialEvaluationBootstrapsWhenTheLevelsDoNotSuffice)
{
  struct Case
  {
    std::vector<double> coefs;
    EvalType type;
    int chainIndex;
    int expectedBootstraps;
  };
  // Degree 5 is 3 levels deep with MIN_DEPTH, 4 with EFFICIENT_POWERS.
  std::vector<double> degree5 = randomPolynomial(5, 5);
  const std::vector<Case> cases = {
      {degree5, MIN_DEPTH, 4, 0},
      {degree5, MIN_DEPTH, 3, 1},
      {degree5, EFFICIENT_POWERS, 5, 0},
      {degree5, EFFICIENT_POWERS, 4, 1},
      {degree5, PATERSONSTOCKMAYER, 1 + FunctionEvaluator::getPolyEvalDepth(
                                            degree5, PATERSONSTOCKMAYER), 0},
      {degree5, PATERSONSTOCKMAYER, FunctionEvaluator::getPolyEvalDepth(degree5,
                                                                        PATERSONSTOCKMAYER), 1},
      // Fewer coefficients than levels left: no depth figure, no bootstrap.
      {{1e-11}, NUMERICAL_STABILITY, 3, 0},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE("type " + std::to_string(cs.type) + " at chain index " +
                 std::to_string(cs.chainIndex));
    CTile c = encrypted(*he, inputs(), cs.chainIndex);
    startCounting(*he);
    fe.polyEvalInPlace(c, cs.coefs, cs.type);
    EXPECT_EQ(bootstraps(), cs.expectedBootstraps);
    EXPECT_LT(maxError(decrypted(c), mapped(inputs(), [&](double v) {
                         return polyval(cs.coefs, v);
                       })),
              1e-9);
  }
  // With as many levels as coefficients the depth figure is asked for, and
  // the measurement refuses a zero polynomial.
  CTile c = encrypted(*he, inputs(), 2);
  expectThrowWithMessage<std::runtime_error>(
      [&] { fe.polyEvalInPlace(c, {1e-11}, NUMERICAL_STABILITY); },
      "Can't evaluate a zero polynomial (all coefficients are smaller than 1e-10) to a CTile: "
      "the result will be a clear-text zero");
}

TEST_F(AutoBootstrapTest, EncryptedCoefficientEvaluationBootstrapsForCeilLog2Levels)
{
  std::vector<CTile> coefs;
  for (int i = 0; i < 4; ++i)
    coefs.push_back(encrypted(*he, std::vector<double>(SLOTS, 0.5 * i)));
  // Four coefficients need 2 levels, 3 when normalized (x^4 added).
  for (auto [normalized, chainIndex, expected] :
       std::vector<std::tuple<bool, int, int>>{{false, 3, 0}, {false, 2, 1}, {true, 4, 0},
                                               {true, 3, 1}}) {
    CTile c = encrypted(*he, inputs(), chainIndex);
    startCounting(*he);
    fe.polyEvalInPlace(c, coefs, normalized, false);
    EXPECT_EQ(bootstraps(), expected) << normalized << " " << chainIndex;
  }
}
} // namespace
