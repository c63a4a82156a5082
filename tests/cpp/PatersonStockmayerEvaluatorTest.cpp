// The Paterson-Stockmeyer evaluator: its choice of baby and giant steps,
// the low-degree cases, zero polynomials, and leading coefficients that
// would otherwise divide by zero.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/RunStats.h"
#include "math/PatersonStockmayerEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 4;

std::vector<double> inputs() { return randomReals(11, SLOTS, -1, 1); }

const std::string ZERO_MESSAGE = "Can't evaluate a zero polynomial (all coefficients are smaller "
                                 "than 1e-10) to a CTile: the result will be a clear-text zero";

TEST(PatersonStockmayerEvaluatorTest, BabyAndGiantStepsOfEachDegree)
{
  struct Case
  {
    int n;
    int k;
    int m;
    int paddedDegree;
  };
  const std::vector<Case> cases = {{2, 1, 2, 3},  {3, 1, 2, 3},   {4, 1, 3, 7},
                                   {6, 2, 2, 6},  {7, 2, 3, 14},  {14, 3, 3, 21},
                                   {22, 3, 4, 45}, {26, 4, 3, 28}, {29, 4, 4, 60}};
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 12);
  for (const Case& c : cases) {
    PatersonStockmayerEvaluator evaluator(*he);
    CTile x = encrypted(*he, inputs());
    int m = evaluator.precomputePowers(x, c.n);
    EXPECT_EQ(evaluator.getK(), c.k) << "n " << c.n;
    EXPECT_EQ(m, c.m) << "n " << c.n;
    EXPECT_EQ(evaluator.getK() * ((1 << m) - 1), c.paddedDegree) << "n " << c.n;
  }
}

TEST(PatersonStockmayerEvaluatorTest, LowDegreePolynomials)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 12);
  PatersonStockmayerEvaluator evaluator(*he);
  std::vector<double> x = inputs();
  CTile c = encrypted(*he, x, 9);

  // c1 x + c0: one scalar product and one scalar addition, also for 1 and 0.
  for (std::vector<double> coefs : {std::vector<double>{0.5, -3}, std::vector<double>{0, 1}}) {
    startCounting(*he);
    CTile res = evaluator.evaluate(c, coefs);
    EXPECT_EQ(countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 1);
    EXPECT_EQ(countOf(*he, RunStats::ADD_PLAIN_RAW), 1);
    EXPECT_EQ(res.getChainIndex(), 8);
    EXPECT_LT(maxError(decrypted(res), mapped(x, [&](double v) { return polyval(coefs, v); })),
              1e-15);
  }
  // A negligible linear term gives an encryption of the free coefficient.
  CTile constant = evaluator.evaluate(c, {2.5, 1e-12});
  EXPECT_EQ(constant.getChainIndex(), 9);
  EXPECT_EQ(decrypted(constant), std::vector<double>(SLOTS, 2.5));
  // Three zeros are a polynomial of degree two: an encryption of zero.
  CTile zero = evaluator.evaluate(c, {0, 0, 0});
  EXPECT_LT(maxError(decrypted(zero), std::vector<double>(SLOTS, 0)), 1e-15);
  for (std::vector<double> coefs :
       {std::vector<double>{1e-11}, std::vector<double>{0, 0}, std::vector<double>()})
    expectThrowWithMessage<std::runtime_error>([&] { evaluator.evaluate(c, coefs); },
                                               ZERO_MESSAGE);
}

TEST(PatersonStockmayerEvaluatorTest, AnyLeadingCoefficientAtAPaddedDegree)
{
  // At the degrees k (2^m - 1) the padded polynomial is p + x^T itself; its
  // leading coefficient, raised by one at each level of the recursion, must
  // never become a divisor near zero.
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  std::vector<double> x = inputs();
  for (int degree : {3, 6, 21, 28}) {
    for (double leading : {-1.0, -1.0 + 1e-14, -1.0 - 1e-9, -1.5, -2.0, -3.0, -4.0, 1.0, 0.0}) {
      std::vector<double> coefs = randomReals(degree, degree + 1, -1, 1);
      coefs[degree] = leading;
      PatersonStockmayerEvaluator evaluator(*he);
      CTile res = evaluator.evaluate(encrypted(*he, x), coefs);
      std::vector<double> actual = decrypted(res);
      std::vector<double> expected = mapped(x, [&](double v) { return polyval(coefs, v); });
      for (double v : actual)
        ASSERT_TRUE(std::isfinite(v)) << "degree " << degree << ", leading " << leading;
      EXPECT_LT(maxError(actual, expected), 1e-9) << "degree " << degree << ", leading "
                                                   << leading;
    }
  }
}

} // namespace
