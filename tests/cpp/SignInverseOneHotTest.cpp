// Sign, comparison, inverse and one-hot on single tiles: values against their
// exact counterparts, depth, refusals and automatic bootstrapping.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/TrackingContext.h"
#include "math/FunctionEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 16;
const double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
const double INF_VALUE = std::numeric_limits<double>::infinity();
const std::string REPETITIONS_MESSAGE =
    "FunctionEvaluator::signInPlace - given gRep and fRep are invalid.";

// ---- Sign ----

TEST(SignTest, ComposedPolynomialsInEveryMode)
{
  struct Case
  {
    int gRep;
    int fRep;
    double maxAbsVal;
    bool binary;
  };
  const std::vector<Case> cases = {{1, 0, 1, false}, {1, 0, 1, true},  {0, 1, 1, false},
                                   {0, 2, 1, true},  {2, 2, 1, false}, {3, 2, 4, true},
                                   {2, 1, 0.5, false}};
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  for (const Case& c : cases) {
    std::vector<double> x = randomReals(5, SLOTS, -c.maxAbsVal, c.maxAbsVal);
    x[0] = 0;
    CTile tile = encrypted(*he, x);
    fe.signInPlace(tile, c.gRep, c.fRep, c.maxAbsVal, c.binary);
    std::vector<double> expected = mapped(
        x, [&](double v) { return signApproximation(v, c.gRep, c.fRep, c.maxAbsVal, c.binary); });
    SCOPED_TRACE("g " + std::to_string(c.gRep) + ", f " + std::to_string(c.fRep));
    EXPECT_LT(maxError(decrypted(tile), expected), 1e-12);
    // Odd polynomials keep 0 at 0 (0.5 in binary mode).
    EXPECT_NEAR(decrypted(tile)[0], c.binary ? 0.5 : 0, 1e-15);
    // Three levels per application, one more for a bound other than 1.
    EXPECT_EQ(20 - tile.getChainIndex(), 3 * (c.gRep + c.fRep) + (c.maxAbsVal != 1 ? 1 : 0));
  }
}

TEST(SignTest, ApproachesTheSignAwayFromZero)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 25);
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(8, SLOTS, -10, 10);
  for (double& v : x)
    v = std::abs(v) < 0.5 ? 0.5 : v;
  CTile s = fe.sign(encrypted(*he, x), 3, 3, 10, false);
  EXPECT_LT(maxError(decrypted(s), mapped(x, [](double v) { return v > 0 ? 1.0 : -1.0; })),
            1e-3);
  CTile b = fe.sign(encrypted(*he, x), 3, 3, 10, true);
  EXPECT_LT(maxError(decrypted(b), mapped(x, [](double v) { return v > 0 ? 1.0 : 0.0; })), 1e-3);
}

TEST(SignTest, ScalesOnlyForABoundOtherThanOne)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  for (auto [bound, scalarProducts] : std::vector<std::pair<double, int>>{{1, 1}, {4, 2}}) {
    CTile c = encrypted(*he, randomReals(2, SLOTS, -1, 1));
    startCounting(*he);
    fe.signInPlace(c, 1, 0, bound, false);
    // One scalar product inside the application of g.
    EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), scalarProducts) << bound;
  }
}

TEST(SignTest, InvalidArgumentsAreRefusedBeforeAnythingChanges)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(3, SLOTS, -1, 1);
  CTile a = encrypted(*he, x);
  CTile b = encrypted(*he, randomReals(4, SLOTS, -1, 1));
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [gRep, fRep] : std::vector<std::pair<int, int>>{{0, 0}, {-1, 2}, {2, -1}}) {
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fe.signInPlace(a, gRep, fRep, 1, false); }, REPETITIONS_MESSAGE);
    expectThrowWithMessage<std::invalid_argument>([&] { fe.sign(a, gRep, fRep, 1, true); },
                                                  REPETITIONS_MESSAGE);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fe.compareInPlace(a, b, gRep, fRep, 2); }, REPETITIONS_MESSAGE);
    expectThrowWithMessage<std::invalid_argument>([&] { fe.compare(a, b, gRep, fRep, 2); },
                                                  REPETITIONS_MESSAGE);
  }
  for (double bound : {0.0, -1.0, inf, -inf, nan}) {
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fe.signInPlace(a, 1, 1, bound, false); },
        "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite.");
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fe.compareInPlace(a, b, 1, 1, bound); },
        "FunctionEvaluator::compareInPlace - given maxDiff must be positive and finite.");
  }
  // The same checks, for callers that validate before changing anything.
  FunctionEvaluator::validateSignArguments(1, 0, 2.5);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FunctionEvaluator::validateSignArguments(0, 0, 1); }, REPETITIONS_MESSAGE);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FunctionEvaluator::validateSignArguments(1, 1, nan); },
      "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite.");
  EXPECT_EQ(decrypted(a), x);
  EXPECT_EQ(a.getChainIndex(), 20);
}

// ---- Comparison ----

TEST(CompareTest, OneZeroOrOneHalf)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 25);
  FunctionEvaluator fe(*he);
  Encoder encoder(*he);
  std::vector<double> a = randomReals(21, SLOTS, -3, 3);
  std::vector<double> b = randomReals(22, SLOTS, -3, 3);
  for (int i = 0; i < SLOTS; i += 4)
    b[i] = a[i];
  for (int i = 1; i < SLOTS; i += 4)
    b[i] = a[i] + (a[i] > 0 ? -0.3 : 0.3);
  std::vector<double> expected(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    expected[i] = a[i] > b[i] ? 1 : a[i] < b[i] ? 0 : 0.5;

  CTile ca = encrypted(*he, a);
  CTile cb = encrypted(*he, b);
  PTile pb(*he);
  encoder.encode(pb, b);
  // The returning form leaves both arguments unchanged.
  CTile res = fe.compare(ca, cb, 3, 3, 6);
  EXPECT_EQ(decrypted(ca), a);
  EXPECT_EQ(decrypted(cb), b);
  EXPECT_LT(maxError(decrypted(res), expected), 1e-3);
  fe.compareInPlace(ca, pb, 3, 3, 6);
  EXPECT_LT(maxError(decrypted(ca), expected), 1e-3);
  // Exactly the binary sign of the difference.
  std::vector<double> exact(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    exact[i] = signApproximation(a[i] - b[i], 3, 3, 6, true);
  EXPECT_LT(maxError(decrypted(ca), exact), 1e-12);
  // A tile compared with itself is 0.5 everywhere.
  CTile self = encrypted(*he, a);
  fe.compareInPlace(self, CTile(self), 1, 1, 1);
  EXPECT_EQ(decrypted(self), std::vector<double>(SLOTS, 0.5));
}

// ---- Inverse ----

TEST(InverseTest, ApproachesOneOverXWithinTheBounds)
{
  struct Case
  {
    double lower;
    double upper;
    int bits;
    double tolerance;
  };
  const std::vector<Case> cases = {
      {0.5, 1.5, 5, 1e-6}, {1, 10, 7, 1e-3}, {0.1, 2, 8, 1e-3}, {2, 2, 1, 1e-12}};
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  for (const Case& c : cases) {
    std::vector<double> x = randomReals(9, SLOTS, c.lower, c.upper);
    CTile tile = encrypted(*he, x);
    fe.inverse(tile, c.lower, c.upper, c.bits);
    // a (1 - t^(2^r)) / (a x) with t = 1 - a x: exactly the iteration.
    double a = 2 / (c.lower + c.upper);
    std::vector<double> iteration = mapped(x, [&](double v) {
      double t = 1 - a * v;
      return (1 - std::pow(t, std::pow(2, std::max(c.bits, 1)))) / v;
    });
    EXPECT_LT(maxError(decrypted(tile), iteration), 1e-12);
    EXPECT_LT(maxError(decrypted(tile), mapped(x, [](double v) { return 1 / v; })),
              c.tolerance * (1 / c.lower))
        << c.lower << " .. " << c.upper;
    // The first product waits for t^2: one level for t, then one per
    // refinement after the first, and one for the last scalar product.
    EXPECT_EQ(20 - tile.getChainIndex(), c.bits <= 1 ? 2 : c.bits + 2);
  }
  // One bit: a (2 - a x), with a = 1 for the bounds [0, 2].
  std::vector<double> x = randomReals(10, SLOTS, 0.2, 1.8);
  CTile tile = encrypted(*he, x);
  fe.inverse(tile, 0, 2, 1);
  EXPECT_LT(maxError(decrypted(tile), mapped(x, [](double v) { return 2 - v; })), 1e-15);
}

TEST(InverseTest, ArgumentsAreCheckedInOrder)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(3, SLOTS, 1, 2);
  CTile c = encrypted(*he, x);
  const std::string prefix = "FunctionEvaluator::inverse() failed: ";
  struct Case
  {
    double lower;
    double upper;
    std::string reason;
    int bits = 5;
  };
  const std::vector<Case> cases = {
      {3, 2, "The given \"lowerBound\" (3.000000) is larger than \"upperBound\" (2.000000)."},
      {-1, -2, "The given \"lowerBound\" (-1.000000) is larger than \"upperBound\" (-2.000000)."},
      {-0.5, 2, "\"lowerBound\" must be non-negative, while the given \"lowerBound\" is "
                "-0.500000."},
      {0, 0, "\"upperBound\" must be strictly positive, while the given \"upperBound\" is "
             "0.000000."},
      {1234567.25, 1e6, "The given \"lowerBound\" (1234567.250000) is larger than "
                        "\"upperBound\" (1000000.000000)."},
      // NaN passes the comparisons above; a negative infinity is refused by them.
      {NAN_VALUE, 2, "\"lowerBound\" must be finite, while the given \"lowerBound\" is nan."},
      {0.5, NAN_VALUE, "\"upperBound\" must be finite, while the given \"upperBound\" is nan."},
      {NAN_VALUE, NAN_VALUE,
       "\"lowerBound\" must be finite, while the given \"lowerBound\" is nan."},
      {0.5, INF_VALUE, "\"upperBound\" must be finite, while the given \"upperBound\" is inf."},
      {INF_VALUE, INF_VALUE,
       "\"lowerBound\" must be finite, while the given \"lowerBound\" is inf."},
      {-INF_VALUE, 2, "\"lowerBound\" must be non-negative, while the given \"lowerBound\" is "
                      "-inf."},
      {INF_VALUE, 2, "The given \"lowerBound\" (inf) is larger than \"upperBound\" (2.000000)."},
      // The bit resolution after the bounds.
      {0.5, 1.5, "\"bitResolution\" must be positive, while the given \"bitResolution\" is 0.", 0},
      {0.5, 1.5, "\"bitResolution\" must be positive, while the given \"bitResolution\" is -1.",
       -1},
      {0.5, 1.5,
       "\"bitResolution\" must be positive, while the given \"bitResolution\" is " +
           std::to_string(std::numeric_limits<int>::min()) + ".",
       std::numeric_limits<int>::min()},
      {0.5, NAN_VALUE, "\"upperBound\" must be finite, while the given \"upperBound\" is nan.",
       0},
  };
  for (const Case& cs : cases)
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fe.inverse(c, cs.lower, cs.upper, cs.bits); }, prefix + cs.reason);
  FunctionEvaluator::validateInverseBounds(2, 2);
  FunctionEvaluator::validateInverseArguments(0.5, 1.5, 1);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FunctionEvaluator::validateInverseBounds(3, 2); }, prefix + cases[0].reason);
  EXPECT_EQ(decrypted(c), x);
  EXPECT_EQ(c.getChainIndex(), 20);
}

// ---- One-hot ----

TEST(OneHotTest, LagrangeIndicatorsOfThePossibleValues)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  const std::vector<std::vector<double>> valueSets = {
      {0, 1}, {1, 2, 3}, {-1, 0.5, 2, 7}, {-2, -1, 0, 1, 2}, {0, 1, 2, 3, 4, 5, 6, 7, 8}};
  for (const std::vector<double>& values : valueSets) {
    std::vector<double> x(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      x[i] = values[(i * 7) % values.size()];
    std::vector<CTile> out = {encrypted(*he, x)};
    fe.oneHot(out, encrypted(*he, x), values);
    ASSERT_EQ(out.size(), values.size());
    for (size_t j = 0; j < values.size(); ++j) {
      std::vector<double> expected = mapped(x, [&](double v) { return v == values[j] ? 1. : 0.; });
      EXPECT_LT(maxError(decrypted(out[j]), expected), 1e-9)
          << values.size() << " values, indicator " << j;
    }
  }
  // Between the possible values the indicators are the Lagrange basis.
  std::vector<double> x = randomReals(4, SLOTS, -1, 3);
  std::vector<CTile> out;
  fe.oneHot(out, encrypted(*he, x), {-1, 0.5, 2});
  EXPECT_LT(maxError(decrypted(out[1]), mapped(x, [](double v) {
                       return (v + 1) * (v - 2) / ((0.5 + 1) * (0.5 - 2));
                     })),
            1e-12);
}

TEST(OneHotTest, FewerThanTwoOrRepeatedValuesAreRefused)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  FunctionEvaluator fe(*he);
  CTile src = encrypted(*he, std::vector<double>(SLOTS, 1));
  std::vector<CTile> out = {src};
  struct Case
  {
    std::vector<double> values;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "FunctionEvaluator::oneHot - at least two possible values are needed, while 0 were "
           "given."},
      {{1}, "FunctionEvaluator::oneHot - at least two possible values are needed, while 1 were "
            "given."},
      {{1, 2, 1}, "FunctionEvaluator::oneHot - the possible values must be distinct, while 1 is "
                  "given more than once."},
      {{0.5, -3, 7, -3}, "FunctionEvaluator::oneHot - the possible values must be distinct, "
                         "while -3 is given more than once."},
  };
  for (const Case& c : cases)
    expectThrowWithMessage<std::invalid_argument>([&] { fe.oneHot(out, src, c.values); },
                                                  c.message);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(decrypted(out[0]), std::vector<double>(SLOTS, 1));
}

// ---- Automatic bootstrapping ----

TEST(SignTest, EachStepBootstrapsWhenFewerThanThreeLevelsAreLeft)
{
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = 1;
  config.targetChainIndex = 8;
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(SLOTS, 10, config, true));
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(6, SLOTS, -1, 1);
  struct Case
  {
    int chainIndex;
    int gRep;
    int expectedBootstraps;
  };
  // From 8 a step needs 3 levels: 8 -> 5 -> 2, then a bootstrap to 8 for the
  // third step.
  const std::vector<Case> cases = {{8, 2, 0}, {8, 3, 1}, {4, 1, 0}, {3, 1, 1}, {3, 3, 2}};
  for (const Case& c : cases) {
    CTile tile = encrypted(*he, x, c.chainIndex);
    startCounting(*he);
    fe.signInPlace(tile, c.gRep, 0, 1, false);
    EXPECT_EQ(countOf(*he, RunStats::BOOTSTRAP), c.expectedBootstraps)
        << c.chainIndex << ", " << c.gRep;
    EXPECT_LT(maxError(decrypted(tile),
                       mapped(x, [&](double v) { return signApproximation(v, c.gRep, 0, 1, false); })),
              1e-12);
  }
}

} // namespace
