// The sigmoid approximation tables, evaluated on tiles with their input
// scalings, against the exact sigmoid over the documented input range.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "math/FunctionEvaluator.h"
#include "math/SigmoidCoefficients.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 256;

struct Approximation
{
  std::string name;
  const std::vector<double>& coefs;
  double inputScale;
  double maxError;
  /// Levels consumed by the scaling and a MIN_DEPTH evaluation.
  int depth;
};

const std::vector<Approximation>& approximations()
{
  static const std::vector<Approximation> all = {
      {"order 3", SIGMOID_ORDER3_COEFS, SIGMOID_ORDER3_INPUT_SCALE, 0.115, 3},
      {"order 7", SIGMOID_ORDER7_COEFS, SIGMOID_ORDER7_INPUT_SCALE, 0.033, 4},
      {"order 9", SIGMOID_ORDER9_COEFS, SIGMOID_ORDER9_INPUT_SCALE, 0.017, 5},
  };
  return all;
}

double sigmoid(double x) { return 1 / (1 + std::exp(-x)); }

/// Evenly spaced points over [-8, 8], both ends included.
std::vector<double> range()
{
  std::vector<double> x(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    x[i] = -8 + 16.0 * i / (SLOTS - 1);
  return x;
}

TEST(SigmoidCoefficientsTest, EachApproximationIsWithinItsErrorOverTheRange)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  FunctionEvaluator fe(*he);
  std::vector<double> x = range();
  for (const Approximation& a : approximations()) {
    CTile c = encrypted(*he, x);
    c.multiplyScalar(a.inputScale);
    fe.polyEvalInPlace(c, a.coefs, MIN_DEPTH);
    std::vector<double> actual = decrypted(c);
    EXPECT_LT(maxError(actual, mapped(x, sigmoid)), a.maxError) << a.name;
    EXPECT_EQ(10 - c.getChainIndex(), a.depth) << a.name;
    // Exactly the tabled polynomial of the scaled input.
    EXPECT_LT(maxError(actual, mapped(x, [&](double v) { return polyval(a.coefs, a.inputScale * v); })),
              1e-12)
        << a.name;
    // 0.5 at 0, as the sigmoid.
    EXPECT_EQ(polyval(a.coefs, 0), 0.5);
  }
}

TEST(SigmoidCoefficientsTest, TablesHoldTheirExactEntries)
{
  EXPECT_EQ(SIGMOID_ORDER3_COEFS, (std::vector<double>{0.5, 1.20096, 0, -0.81562}));
  EXPECT_EQ(SIGMOID_ORDER7_COEFS,
            (std::vector<double>{0.5, -1.73496, 0, 4.19407, 0, -5.43402, 0, 2.50739}));
  EXPECT_EQ(SIGMOID_ORDER9_COEFS,
            (std::vector<double>{0.5, 2.318583878945927, 0, -11.622557469576737, 0,
                                 37.47469955977713, 0, -58.559563142590484, 0,
                                 34.36770115907552}));
  EXPECT_EQ(SIGMOID_ORDER3_INPUT_SCALE, 0.125);
  EXPECT_EQ(SIGMOID_ORDER7_INPUT_SCALE, -0.125);
  EXPECT_EQ(SIGMOID_ORDER9_INPUT_SCALE, 0.1);
}

TEST(SigmoidCoefficientsTest, ErrorsGrowBeyondTheRange)
{
  // Outside [-8, 8] the documented bounds no longer hold.
  for (const Approximation& a : approximations()) {
    double at10 = std::abs(polyval(a.coefs, a.inputScale * 10) - sigmoid(10));
    EXPECT_GT(at10, a.maxError) << a.name;
  }
}

} // namespace
