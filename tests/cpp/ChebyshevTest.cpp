// Chebyshev coefficient tables and their evaluation on ciphertexts.

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/Chebyshev.h"
#include "math/bootstrap/seal/ChebyshevEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Poly = ChebyshevEvaluator::Polynomial;
constexpr int SLOTS = 8;
constexpr int DEPTH = 20;
const double PI = std::acos(-1.0);

const HeContext& sealContext() { return bootstrapSealContext(SLOTS, DEPTH); }

const BootstrapCore& sealCore() { return bootstrapSealCore(SLOTS, DEPTH); }

// The Chebyshev series at x, by the three-term recurrence.
double chebyshevSum(const std::vector<double>& c, double x)
{
  double t0 = 1, t1 = x, sum = c[0];
  for (size_t j = 1; j < c.size(); ++j) {
    sum += c[j] * t1;
    double t2 = 2 * x * t1 - t0;
    t0 = t1;
    t1 = t2;
  }
  return sum;
}

} // namespace

TEST(ChebyshevTables, RowFourteenMatchesItsPublishedValues)
{
  const std::vector<double> cos14 = {-0.3042421776440939,    0.0, -0.9708678652630183,    0.0,
                                     0.3028491552626994,     0.0, -0.02909193396500501,   0.0,
                                     0.0013922439902467022,  0.0, -4.018983099983715e-05, 0.0,
                                     7.674501708396723e-07,  0.0};
  const std::vector<double> sin14 = {0.0, 0.5692306863595055,     0.0, -0.6669166724059791,
                                     0.0, 0.10428236873423741,    0.0, -0.0068406335370689315,
                                     0.0, 0.00025000689552465887, 0.0, -5.851393947080853e-06,
                                     0.0, 9.534772750299402e-08};
  Chebyshev tables(13, 50);
  std::vector<double> cosRow = tables.getCosCoefficients(14);
  std::vector<double> sinRow = tables.getSinCoefficients(14);
  ASSERT_EQ(cosRow.size(), 14u);
  ASSERT_EQ(sinRow.size(), 14u);
  for (int j = 0; j < 14; ++j) {
    EXPECT_NEAR(cosRow[j], cos14[j], 4e-15) << j;
    EXPECT_NEAR(sinRow[j], sin14[j], 4e-15) << j;
  }

  std::vector<double> cos13 = tables.getCosCoefficients(13);
  ASSERT_EQ(cos13.size(), 13u);
  EXPECT_NEAR(cos13[0], -0.30424217764409384, 4e-15);
  EXPECT_NEAR(cos13[2], -0.9708678652630183, 4e-15);
  EXPECT_NEAR(cos13[4], 0.30284915526270556, 4e-15);
  EXPECT_NEAR(cos13[12], 7.782767011815306e-07, 4e-15);
  std::vector<double> sin13 = tables.getSinCoefficients(13);
  EXPECT_NEAR(sin13[11], -5.75490058113615e-06, 4e-15);
  EXPECT_EQ(sin13[12], 0.0);
}

TEST(ChebyshevTables, EveryRowInterpolatesAtTheLobattoPointsWithExactZeros)
{
  Chebyshev tables(13, 50);
  for (int i = 13; i <= 50; ++i) {
    std::vector<double> c = tables.getCosCoefficients(i);
    std::vector<double> s = tables.getSinCoefficients(i);
    ASSERT_EQ(static_cast<int>(c.size()), i);
    ASSERT_EQ(static_cast<int>(s.size()), i);
    EXPECT_EQ(c, chebyshevCosTable[i]);
    EXPECT_EQ(s, chebyshevSinTable[i]);
    for (int j = 0; j < i; ++j) {
      if (j % 2 == 1)
        EXPECT_EQ(c[j], 0.0) << i << ":" << j;
      else
        EXPECT_EQ(s[j], 0.0) << i << ":" << j;
    }
    for (int k = 0; k < i; ++k) {
      double x = std::cos(PI * k / (i - 1));
      EXPECT_NEAR(chebyshevSum(c, x), std::cos(PI * x), 1e-14) << i << ":" << k;
      EXPECT_NEAR(chebyshevSum(s, x), std::sin(PI * x), 1e-14) << i << ":" << k;
    }
  }
}

TEST(ChebyshevTables, RefusesRowsOutsideTheRange)
{
  Chebyshev tables(13, 50);
  expectThrowWithMessage<std::runtime_error>([&] { tables.getCosCoefficients(12); },
                                             "i too small");
  expectThrowWithMessage<std::runtime_error>([&] { tables.getSinCoefficients(12); },
                                             "i too small");
  expectThrowWithMessage<std::runtime_error>([&] { tables.getCosCoefficients(51); },
                                             "i too big");
  expectThrowWithMessage<std::runtime_error>([&] { tables.getSinCoefficients(51); },
                                             "i too big");
}

TEST(ChebyshevPolynomials, DivisionInTheChebyshevBasis)
{
  // 2 T_3 T_2 = T_5 + T_1.
  auto [q, r] = ChebyshevEvaluator::chebyshevDivide({0, 0, 0, 0, 0, 1}, {0, 0, 1});
  EXPECT_EQ(q, (Poly{0, 0, 0, 2}));
  EXPECT_EQ(r, (Poly{0, -1}));

  // Quotient times divisor plus remainder gives back the dividend, as functions.
  Poly dividend = {0.3, -1.2, 0.5, 2.0, -0.7, 0.25, 1.5};
  Poly divisor = {1.0, 0.5, -2.0};
  auto [q2, r2] = ChebyshevEvaluator::chebyshevDivide(dividend, divisor);
  EXPECT_EQ(q2.size(), 5u);
  EXPECT_EQ(r2.size(), 2u);
  for (double x : {-1.0, -0.4, 0.0, 0.3, 0.9})
    EXPECT_NEAR(chebyshevSum(q2, x) * chebyshevSum(divisor, x) + chebyshevSum(r2, x),
                chebyshevSum(dividend, x), 1e-12)
        << x;

  EXPECT_EQ(ChebyshevEvaluator::addToCoefficient({1, 2}, 1, 0.5), (Poly{1, 2.5}));
  EXPECT_EQ(ChebyshevEvaluator::addToCoefficient({1, 2}, 4, -1), (Poly{1, 2, 0, 0, -1}));
  EXPECT_EQ(ChebyshevEvaluator::addToCoefficient({1, 2}, 2, 3), (Poly{1, 2, 3}));
}

TEST(ChebyshevEvaluator, StepSizesByCoefficientCount)
{
  struct Case
  {
    int count;
    int k;
    int m;
    int levels;
  };
  const HeContext& he = sealContext();
  CTile x = encryptAt(he, randomReal(1, SLOTS, -1, 1), DEPTH);
  for (Case c : {Case{14, 2, 3, 4}, Case{13, 2, 3, 4}, Case{15, 3, 3, 5}, Case{50, 5, 4, 7},
                 Case{2, 1, 1, 1}, Case{3, 1, 2, 2}}) {
    ChebyshevEvaluator ev(he, sealCore());
    EXPECT_EQ(ev.precompute(c.count, x), c.m) << c.count;
    EXPECT_EQ(ev.getBabyStep(), c.k) << c.count;
    EXPECT_EQ(ev.getGiantLevels(), c.m) << c.count;
    EXPECT_EQ(static_cast<int>(ev.getBabySteps().size()), c.k + 1);
    EXPECT_EQ(static_cast<int>(ev.getGiantSteps().size()), c.m + 1);
    EXPECT_EQ(static_cast<int>(ev.getOddSteps().size()), c.m + 1);
    EXPECT_EQ(ChebyshevEvaluator::getNumLevels(Poly(c.count, 0.5)), c.levels) << c.count;
  }
}

TEST(ChebyshevEvaluator, StepsHoldTheirChebyshevPolynomials)
{
  const HeContext& he = sealContext();
  auto values = randomReal(2, SLOTS, -1, 1);
  CTile x = encryptAt(he, values, DEPTH);
  ChebyshevEvaluator ev(he, sealCore());
  ev.precompute(14, x); // k = 2, m = 3
  auto check = [&](const CTile& c, int degree, const std::string& what) {
    auto got = decryptOf(c);
    for (int i = 0; i < SLOTS; ++i)
      EXPECT_NEAR(got[i].real(), std::cos(degree * std::acos(values[i].real())), 1e-7)
          << what << " slot " << i;
  };
  std::vector<int> giant = {2, 4, 8, 16};
  std::vector<int> odd = {0, 2, 6, 14};
  for (int j = 0; j <= 2; ++j)
    check(ev.getBabySteps()[j], j, "baby " + std::to_string(j));
  for (int i = 0; i < 4; ++i) {
    check(ev.getGiantSteps()[i], giant[i], "giant " + std::to_string(i));
    check(ev.getOddSteps()[i], odd[i], "odd " + std::to_string(i));
  }
  EXPECT_EQ(ev.getGiantSteps()[3].getChainIndex(), DEPTH - 4);
  EXPECT_EQ(ev.getOddSteps()[3].getChainIndex(), DEPTH - 4);
}

TEST(ChebyshevEvaluator, CosAndSinOfPiXWithinTheirLevels)
{
  const HeContext& he = sealContext();
  auto values = randomReal(3, SLOTS, -1, 1);
  values[0] = 1.0;
  values[1] = -1.0;
  values[2] = 0.0;
  for (int start : {DEPTH, 9}) {
    CTile x = encryptAt(he, values, start);
    ChebyshevEvaluator ev(he, sealCore());
    ev.precompute(14, x);
    CTile c = ev.evaluate(sealCore().getCosCoefficients());
    CTile s = ev.evaluate(sealCore().getSinCoefficients());
    EXPECT_EQ(c.getChainIndex(), start - 4);
    EXPECT_EQ(s.getChainIndex(), start - 4);
    auto cv = decryptOf(c);
    auto sv = decryptOf(s);
    for (int i = 0; i < SLOTS; ++i) {
      EXPECT_NEAR(cv[i].real(), std::cos(PI * values[i].real()), 1e-5) << i;
      EXPECT_NEAR(sv[i].real(), std::sin(PI * values[i].real()), 1e-5) << i;
    }
  }
}

TEST(ChebyshevEvaluator, GeneralPolynomialsUseTheLevelsCounted)
{
  const HeContext& he = sealContext();
  auto values = randomReal(4, SLOTS, -1, 1);
  CTile x = encryptAt(he, values, DEPTH);
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> dist(-1, 1);
  for (int count : {2, 3, 5, 9, 14, 15, 21, 30, 50}) {
    Poly p(count);
    for (double& v : p)
      v = dist(gen) / count;
    ChebyshevEvaluator ev(he, sealCore());
    ev.precompute(count, x);
    CTile res = ev.evaluate(p);
    EXPECT_EQ(res.getChainIndex(), DEPTH - ChebyshevEvaluator::getNumLevels(p)) << count;
    auto got = decryptOf(res);
    for (int i = 0; i < SLOTS; ++i)
      EXPECT_NEAR(got[i].real(), chebyshevSum(p, values[i].real()), 1e-6) << count << ":" << i;
  }
}

TEST(ChebyshevEvaluator, TableRowsUseTheLevelsCounted)
{
  // Rows 13 and 14 fit the four levels that bootstrapping budgets; longer
  // rows need more.
  const HeContext& he = sealContext();
  Chebyshev tables(13, 50);
  CTile x = encryptAt(he, randomReal(8, SLOTS, -1, 1), DEPTH);
  for (int row = 13; row <= 50; ++row) {
    for (const Poly& p : {tables.getCosCoefficients(row), tables.getSinCoefficients(row)}) {
      int levels = ChebyshevEvaluator::getNumLevels(p);
      if (row <= 14)
        EXPECT_EQ(levels, 4) << row;
      else
        EXPECT_GE(levels, 5) << row;
      EXPECT_LE(levels, 7) << row;
      if (row > 20 && row % 10 != 0)
        continue;
      ChebyshevEvaluator ev(he, sealCore());
      ev.precompute(row, x);
      EXPECT_EQ(ev.evaluate(p).getChainIndex(), DEPTH - levels) << row;
    }
  }
}

TEST(ChebyshevEvaluator, ConstantLowDegreeParts)
{
  const HeContext& he = sealContext();
  auto values = randomReal(6, SLOTS, -1, 1);
  CTile x = encryptAt(he, values, DEPTH);
  ChebyshevEvaluator ev(he, sealCore());
  ev.precompute(14, x);

  // A low-degree part with only a constant leaves the accumulator empty and
  // the constant pending; with nothing above 1e-15 nothing is pending.
  CTile acc(he);
  PTile constant(he);
  bool pending = false;
  ev.evaluateLowDegree({0.75, 1e-16}, 2, acc, constant, pending);
  EXPECT_TRUE(acc.isEmpty());
  EXPECT_TRUE(pending);
  EXPECT_EQ(constant.getChainIndex(), ev.getGiantSteps()[1].getChainIndex());
  pending = false;
  ev.evaluateLowDegree({1e-15, -1e-16}, 2, acc, constant, pending);
  EXPECT_TRUE(acc.isEmpty());
  EXPECT_FALSE(pending);

  // Even polynomials over k = 2 have constant low-degree parts all the way:
  // T_8 + 0.5 and T_4 alone.
  for (Poly p : {Poly{0.5, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0},
                 Poly{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    CTile res = ev.evaluate(p);
    auto got = decryptOf(res);
    for (int i = 0; i < SLOTS; ++i)
      EXPECT_NEAR(got[i].real(), chebyshevSum(p, values[i].real()), 1e-6) << i;
  }
}

TEST(ChebyshevEvaluator, Refusals)
{
  const HeContext& he = sealContext();
  CTile x = encryptAt(he, randomReal(7, SLOTS, -1, 1), DEPTH);
  ChebyshevEvaluator ev(he, sealCore());
  ev.precompute(14, x);
  expectThrowWithMessage<std::runtime_error>(
      [&] { ev.evaluate(Poly(13, 0.1)); },
      "number of coefficients is different from the value declared in precompute method.");
  expectThrowWithMessage<std::runtime_error>(
      [&] { ev.sp1({0.5}, 2); },
      "unexpected call to sp1 with a constant polynomial. Need to call sp1_deg0 instead in this "
      "case.");
  expectThrowWithMessage<std::runtime_error>(
      [&] { ev.sp1_deg0({0.5, 1, 2}, DEPTH, 1.0); },
      "sp1_deg0 can only be called with a polynomial of degree 0, and got degree = 2");
  PTile p = ev.sp1_deg0({0.5}, 7, 4096.0);
  EXPECT_EQ(p.getChainIndex(), 7);
  EXPECT_EQ(p.getScale(), 4096.0);

  // One coefficient: zero giant levels, and evaluate reaches sp1 with a constant.
  ChebyshevEvaluator one(he, sealCore());
  EXPECT_EQ(one.precompute(1, x), 0);
  expectThrowWithMessage<std::runtime_error>(
      [&] { one.evaluate({0.5}); },
      "unexpected call to sp1 with a constant polynomial. Need to call sp1_deg0 instead in this "
      "case.");

  // No coefficients, and levels that precompute did not make, are refused.
  ChebyshevEvaluator fresh(he, sealCore());
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fresh.evaluate({}); },
      "sp1 needs a level count from 1 to 0 (the levels of precompute), got 0");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { fresh.precompute(0, x); }, "precompute needs at least one coefficient, got 0");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { ev.sp1({0.5, 1}, 4); },
      "sp1 needs a level count from 1 to 3 (the levels of precompute), got 4");
}
