// Function evaluation on the SEAL CKKS context: the precision of each
// evaluation type, powers, sign, comparison, inverse, one-hot and a sigmoid.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "math/FunctionEvaluator.h"
#include "math/SigmoidCoefficients.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 64;
const int DEPTH = 14;
/// CKKS noise at 40 fractional bits after a dozen levels, with room for
/// the growth of values through a polynomial.
const double EPS = 1e-7;

std::shared_ptr<HeContext> sealContext()
{
  static std::shared_ptr<HeContext> he =
      HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(SLOTS, DEPTH, 40, 10));
  return he;
}

TEST(FunctionEvaluatorOnSealTest, PolynomialOfDegreeFifteenByEveryType)
{
  std::shared_ptr<HeContext> he = sealContext();
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(1, SLOTS, -1, 1);
  std::vector<double> coefs = randomReals(2, 16, -1, 1);
  coefs[15] = -1;
  std::vector<double> expected = mapped(x, [&](double v) { return polyval(coefs, v); });
  for (EvalType type : {PATERSONSTOCKMAYER, EFFICIENT_POWERS, MIN_DEPTH, NUMERICAL_STABILITY}) {
    CTile c = encrypted(*he, x);
    fe.polyEvalInPlace(c, coefs, type);
    EXPECT_LT(maxError(decrypted(c), expected), EPS) << "type " << type;
    if (type != NUMERICAL_STABILITY) {
      EXPECT_EQ(DEPTH - c.getChainIndex(), FunctionEvaluator::getPolyEvalDepth(coefs, type))
          << "type " << type;
    }
  }
}

TEST(FunctionEvaluatorOnSealTest, PowersAndSigmoid)
{
  std::shared_ptr<HeContext> he = sealContext();
  FunctionEvaluator fe(*he);
  std::vector<double> x = randomReals(3, SLOTS, -1.2, 1.2);
  for (int degree : {0, 2, 7, 12}) {
    CTile c = encrypted(*he, x);
    fe.powInPlace(c, degree);
    EXPECT_LT(maxError(decrypted(c), mapped(x, [&](double v) { return std::pow(v, degree); })),
              EPS)
        << degree;
  }
  std::vector<double> y = randomReals(4, SLOTS, -8, 8);
  CTile s = encrypted(*he, y);
  s.multiplyScalar(SIGMOID_ORDER9_INPUT_SCALE);
  fe.polyEvalInPlace(s, SIGMOID_ORDER9_COEFS, MIN_DEPTH);
  EXPECT_LT(maxError(decrypted(s), mapped(y, [](double v) { return 1 / (1 + std::exp(-v)); })),
            0.017);
}

TEST(FunctionEvaluatorOnSealTest, SignCompareInverseAndOneHot)
{
  std::shared_ptr<HeContext> he = sealContext();
  FunctionEvaluator fe(*he);
  Encoder encoder(*he);

  std::vector<double> x = randomReals(5, SLOTS, -4, 4);
  for (double& v : x)
    v = std::abs(v) < 0.5 ? 0.5 : v;
  CTile s = fe.sign(encrypted(*he, x), 2, 2, 4, false);
  EXPECT_LT(maxError(decrypted(s), mapped(x, [](double v) { return v > 0 ? 1.0 : -1.0; })), 0.01);

  std::vector<double> b = randomReals(6, SLOTS, -4, 4);
  PTile pb(*he);
  encoder.encode(pb, b);
  CTile a = encrypted(*he, x);
  fe.compareInPlace(a, pb, 2, 2, 8);
  std::vector<double> actual = decrypted(a);
  for (int i = 0; i < SLOTS; ++i) {
    if (std::abs(x[i] - b[i]) > 0.5) {
      EXPECT_NEAR(actual[i], x[i] > b[i] ? 1 : 0, 0.01) << i;
    }
  }

  std::vector<double> z = randomReals(7, SLOTS, 0.5, 2);
  CTile inv = encrypted(*he, z);
  fe.inverse(inv, 0.5, 2, 6);
  EXPECT_LT(maxError(decrypted(inv), mapped(z, [](double v) { return 1 / v; })), 1e-3);

  std::vector<double> values = {-1, 0, 2};
  std::vector<double> w(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    w[i] = values[i % 3];
  std::vector<CTile> out;
  fe.oneHot(out, encrypted(*he, w), values);
  for (size_t j = 0; j < values.size(); ++j)
    EXPECT_LT(maxError(decrypted(out[j]),
                       mapped(w, [&](double v) { return v == values[j] ? 1.0 : 0.0; })),
              EPS);
}

} // namespace
