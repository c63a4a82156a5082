// Set-up of the bootstrap core: chain budget, refusals, factors, roots of
// unity and the small helpers the transforms build on.

#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/SealBootstrapEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

// A bootstrap core sets standard output to 16 significant digits for the rest
// of the process; the print tests of other files expect the default, so it
// is restored after every test.
class DefaultCoutPrecision : public testing::EmptyTestEventListener
{
  void OnTestEnd(const testing::TestInfo&) override { std::cout.precision(6); }
};

const bool coutPrecisionRestored = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new DefaultCoutPrecision);
  return true;
}();

constexpr int SLOTS = 8;
constexpr int DEPTH = 20;

const SealCkksContext& sealContext() { return bootstrapSealContext(SLOTS, DEPTH); }

BootstrapConfig configWith(bool coef2slotViaFFT, bool slot2coefViaFFT, int target)
{
  BootstrapConfig config = uncachedConfig();
  // Real data takes the SlotToCoeff layers only after the CoeffToSlot layers.
  config.supportComplexData = slot2coefViaFFT && !coef2slotViaFFT;
  config.coef2slotViaFFT = coef2slotViaFFT;
  config.slot2coefViaFFT = slot2coefViaFFT;
  config.targetChainIndex = target;
  return config;
}

} // namespace

TEST(BootstrapCore, LevelCostByFftFlagsWhateverTheSlotCount)
{
  struct Case
  {
    bool c2s;
    bool s2c;
    int cost;
  };
  for (Case c : {Case{false, false, 14}, Case{true, false, 15}, Case{false, true, 15},
                 Case{true, true, 16}}) {
    for (int slots : {1, 8, 512, 16384})
      EXPECT_EQ(BootstrapCore::getLevelCost(configWith(c.c2s, c.s2c, -1), slots), c.cost)
          << c.c2s << c.s2c << " slots " << slots;
  }
  EXPECT_EQ(BootstrapCore::getLevelCost(BootstrapConfig(), 4096), 16);
}

TEST(BootstrapCore, ChainIndexesByConfiguration)
{
  struct Case
  {
    bool c2s;
    bool s2c;
    int target;
    int cost;
    int encoding;
    int decoding;
  };
  // Target -1 given to the core becomes 4.
  for (Case c : {Case{true, true, -1, 16, 20, 6}, Case{false, false, 2, 14, 16, 3},
                 Case{true, false, 2, 15, 17, 3}, Case{false, true, 2, 15, 17, 4},
                 Case{true, true, 0, 16, 16, 2}}) {
    BootstrapCore core(sealContext(), configWith(c.c2s, c.s2c, c.target));
    int target = c.target == -1 ? 4 : c.target;
    EXPECT_EQ(core.getTargetChainIndex(), target);
    EXPECT_EQ(core.getConfig().targetChainIndex, target);
    EXPECT_EQ(core.getCost(), c.cost);
    EXPECT_EQ(core.getEncodingChainIndex(), c.encoding);
    EXPECT_EQ(core.getDecodingChainIndex(), c.decoding);
    EXPECT_EQ(core.getNumSlots(), SLOTS);
    EXPECT_EQ(core.getPolyDegree(), 2 * SLOTS);
    EXPECT_EQ(core.getM(), 4 * SLOTS);
    EXPECT_EQ(core.getR(), 72);
  }
}

TEST(BootstrapCore, RefusesAChainTooShortForTheCost)
{
  // Encoding chain index 20 is the top: accepted; 21 is refused.
  EXPECT_NO_THROW(BootstrapCore(sealContext(), configWith(true, true, 4)));
  expectThrowWithMessage<std::runtime_error>(
      [] { BootstrapCore(sealContext(), configWith(true, true, 5)); },
      "Can't bootstrap. Need chain with at least 21 primes, but max chain depth was set to 20");
  expectThrowWithMessage<std::runtime_error>(
      [] { BootstrapCore(bootstrapSealContext(SLOTS, 15), uncachedConfig()); },
      "Can't bootstrap. Need chain with at least 20 primes, but max chain depth was set to 15");

  // A negative target leaves no chain index for the result: on a chain
  // shorter than the cost that is a chain too short, else a wrong target.
  struct Case
  {
    int depth;
    int target;
    std::string message;
  };
  for (const Case& c :
       {Case{15, -3, "Can't bootstrap. Need chain with at least 16 primes, but max chain depth "
                     "was set to 15"},
        Case{20, -3, "Can't bootstrap to the negative chain index -3"},
        Case{20, -2, "Can't bootstrap to the negative chain index -2"}}) {
    BootstrapConfig config = uncachedConfig();
    config.targetChainIndex = c.target;
    const HeContext& he = bootstrapSealContext(SLOTS, c.depth);
    if (c.depth > 15)
      expectThrowWithMessage<std::invalid_argument>([&] { BootstrapCore(he, config); },
                                                    c.message);
    else
      expectThrowWithMessage<std::runtime_error>([&] { BootstrapCore(he, config); }, c.message);
  }
  // The evaluator's default target on a chain shorter than the cost.
  BootstrappableSealContext he;
  he.init(HeConfigRequirement::insecure(SLOTS, 10, 40, 10));
  expectThrowWithMessage<std::runtime_error>(
      [&] { SealBootstrapEvaluator(he, uncachedConfig()); },
      "Can't bootstrap. Need chain with at least 16 primes, but max chain depth was set to 10");
}

TEST(BootstrapCore, RefusesChebyshevRowsOutsideTheTablesOrTheBudget)
{
  struct Case
  {
    int nT;
    std::string message;
  };
  BootstrapConfig config = uncachedConfig();
  for (const Case& c : {Case{12, "i too small"}, Case{51, "i too big"}}) {
    config.nT = c.nT;
    expectThrowWithMessage<std::runtime_error>([&] { BootstrapCore(sealContext(), config); },
                                               c.message);
  }
  for (int nT : {15, 50}) {
    config.nT = nT;
    std::string levels = nT == 15 ? "5" : "7";
    expectThrowWithMessage<std::invalid_argument>(
        [&] { BootstrapCore(sealContext(), config); },
        "Can't bootstrap with Chebyshev table row " + std::to_string(nT) + ": it needs " +
            levels + " chain indexes, but the bootstrapping cost budgets 4");
  }
  config.nT = 13;
  BootstrapCore core(sealContext(), config);
  EXPECT_EQ(core.getCosCoefficients().size(), 13u);
  EXPECT_EQ(core.getSinCoefficients().size(), 13u);
}

TEST(BootstrapCore, FactorsFromTheFirstPrimeAndTheBaseScale)
{
  const SealCkksContext& he = sealContext();
  double q0 = static_cast<double>(he.getModulusChain()->at(0));
  double baseScale = he.getAccurateScale(0);
  const double pi = std::acos(-1.0);

  BootstrapCore core(he, uncachedConfig());
  EXPECT_EQ(core.getR1(), 2 / (q0 * 72));
  EXPECT_EQ(core.getBaseScale(), baseScale);
  EXPECT_EQ(core.getEncFactor(), baseScale * core.getR1());
  EXPECT_EQ(core.getR2(), q0 / (4 * pi));
  EXPECT_EQ(core.getDecFactor(), core.getR2() / baseScale);

  // An explicit q0 replaces the context's prime.
  BootstrapCore explicitQ(he, uncachedConfig(), 1000);
  EXPECT_EQ(explicitQ.getR1(), 2 / (1000.0 * 72));
  EXPECT_EQ(explicitQ.getR2(), 1000.0 / (4 * pi));

  // Without factors in the matrices both factors are exactly 1 and r1, r2 stay.
  BootstrapConfig config = uncachedConfig();
  config.applyTransformFactors = false;
  BootstrapCore noFactors(he, config);
  EXPECT_EQ(noFactors.getEncFactor(), 1.0);
  EXPECT_EQ(noFactors.getDecFactor(), 1.0);
  EXPECT_EQ(noFactors.getR1(), core.getR1());
  EXPECT_EQ(noFactors.getR2(), core.getR2());
}

TEST(BootstrapCore, RootsOfUnity)
{
  // The roots follow the slot order: powers of 5 on the mockup, of 3 on
  // SEAL (whose encoder puts slot j at zeta^(3^j)).
  auto mockup = mockupContext(SLOTS, DEPTH);
  struct Case
  {
    const HeContext* he;
    int generator;
    int root23;      // (3 * g^2) mod 32
    int root3m2;     // (-2 * g^3) mod 32
    int unitSigns[4]; // getImaginaryUnitSign(0 .. 3)
  };
  // 5^2 = 25, 3 * 25 = 75 = 11 mod 32; 5^3 = 125 = 29 mod 32, -2 * 29 = -58 = 6 mod 32.
  // 3^2 = 9, 3 * 9 = 27; 3^3 = 27, -2 * 27 = -54 = 10 mod 32.
  for (const Case& c : {Case{mockup.get(), 5, 11, 6, {1, 1, 1, 1}},
                        Case{&sealContext(), 3, 27, 10, {1, -1, 1, -1}}}) {
    CoutCapture quiet;
    // The mockup has no modulus chain to take q0 from.
    BootstrapCore core(*c.he, uncachedConfig(), c.generator == 5 ? 1 << 20 : 0);
    EXPECT_EQ(core.getGenerator(), c.generator);
    EXPECT_EQ(BootstrapCore::getSlotOrderGenerator(*c.he), c.generator);
    const int m = core.getM();
    const auto& roots = core.getRoots();
    ASSERT_EQ(static_cast<int>(roots.size()), m);
    EXPECT_EQ(roots[0], std::complex<double>(1, 0));
    EXPECT_EQ(core.getInverseN(), std::complex<double>(1.0 / (2 * SLOTS), 0));
    for (int k = 0; k < m; ++k)
      EXPECT_LT(std::abs(roots[k] - std::polar(1.0, 2 * std::acos(-1.0) * k / m)), 1e-15) << k;
    for (int j : {0, 1, 5, 31, 32, 33, -1, -7, -63})
      EXPECT_EQ(core.getRoot(0, j), roots[((j % m) + m) % m]) << j;
    for (int i : {-3, 0, 1, 4})
      EXPECT_EQ(core.getRoot(i, 0), roots[0]) << i;
    EXPECT_EQ(core.getRoot(2, 3), roots[c.root23]);
    EXPECT_EQ(core.getRoot(3, -2), roots[c.root3m2]);
    EXPECT_EQ(core.getRoot(-1, 3), roots[3]);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(core.getImaginaryUnitSign(i), c.unitSigns[i]) << i;
      // zeta^(n g^i) = s i
      EXPECT_EQ(core.getRoot(i, SLOTS), roots[SLOTS * (c.unitSigns[i] == 1 ? 1 : 3)]) << i;
    }
    EXPECT_EQ(core.getImaginaryUnitSign(-1), 1);
  }
}

TEST(BootstrapCore, PowMod)
{
  struct Case
  {
    int base;
    int exponent;
    int modulus;
    int result;
  };
  for (Case c : {Case{5, 0, 32, 1}, Case{5, 1, 32, 5}, Case{5, 2, 32, 25}, Case{5, 3, 32, 29},
                 Case{5, 8, 32, 1}, Case{3, 4, 7, 4}, Case{14, 0, 7, 0}, Case{14, 3, 7, 0},
                 Case{0, 0, 9, 0}, Case{2, 10, 1000, 24}, Case{5, 13, 65536, 29589}})
    EXPECT_EQ(BootstrapCore::powMod(c.base, c.exponent, c.modulus), c.result)
        << c.base << "^" << c.exponent << " mod " << c.modulus;
}

TEST(BootstrapCore, EncodedConstants)
{
  const SealCkksContext& he = sealContext();
  BootstrapCore core(he, uncachedConfig());
  Encoder encoder(he);

  PTile three = core.encodeConstant(3, 7, 1024.0);
  EXPECT_EQ(three.getChainIndex(), 7);
  EXPECT_EQ(three.getScale(), 1024.0);
  for (double v : encoder.decodeDouble(three))
    EXPECT_NEAR(v, 3.0, 1e-9);

  double scale = he.getAccurateScale(5);
  PTile half = core.encodeConstant(-0.25, 5, scale);
  EXPECT_EQ(half.getChainIndex(), 5);
  EXPECT_EQ(half.getScale(), scale);
  for (double v : encoder.decodeDouble(half))
    EXPECT_NEAR(v, -0.25, 1e-9);

  for (int chainIndex : {-1, 3}) {
    PTile two = core.encodeConstantAtUnitScale({2, 0}, chainIndex);
    EXPECT_EQ(two.getChainIndex(), chainIndex == -1 ? DEPTH : chainIndex);
    EXPECT_EQ(two.getScale(), 1.0);
    for (auto v : encoder.decodeComplex(two))
      EXPECT_EQ(v, std::complex<double>(2, 0));
  }

  // At scale 1.0 SEAL cannot hold i in every slot (the coefficients are not
  // integers), but it holds i and -i alternately exactly.
  double worst = 0;
  for (auto v : encoder.decodeComplex(core.encodeConstantAtUnitScale({0, 1}, 3)))
    worst = std::max(worst, std::abs(v - std::complex<double>(0, 1)));
  EXPECT_GT(worst, 0.1);
  for (int sign : {1, -1}) {
    PTile unit = core.encodeAlternatingImaginaryUnit(sign, 4);
    EXPECT_EQ(unit.getChainIndex(), 4);
    EXPECT_EQ(unit.getScale(), 1.0);
    auto values = encoder.decodeComplex(unit);
    for (int j = 0; j < SLOTS; ++j)
      EXPECT_EQ(values[j], std::complex<double>(0, j % 2 == 0 ? sign : -sign)) << j;
  }
  // The core multiplies by that alternating unit on SEAL, and by the constant
  // where it is exact (the mockup context).
  EXPECT_FALSE(core.hasExactImaginaryUnit());
  EXPECT_EQ(encoder.decodeComplex(core.encodeImaginaryUnit(-1, 4)),
            encoder.decodeComplex(core.encodeAlternatingImaginaryUnit(-1, 4)));
  auto mockup = mockupContext(SLOTS, DEPTH);
  BootstrapCore mockCore(*mockup, uncachedConfig(), 1 << 20);
  EXPECT_TRUE(mockCore.hasExactImaginaryUnit());
  for (int sign : {1, -1}) {
    PTile unit = mockCore.encodeImaginaryUnit(sign, 4);
    EXPECT_EQ(unit.getChainIndex(), 4);
    EXPECT_EQ(unit.getScale(), 1.0);
    for (auto v : Encoder(*mockup).decodeComplex(unit))
      EXPECT_EQ(v, std::complex<double>(0, sign));
  }
}

TEST(BootstrapCore, PlainScaleForTwoRescalesLandsOnTheAccurateScale)
{
  const SealCkksContext& he = sealContext();
  BootstrapCore core(he, uncachedConfig());
  auto q = he.getModulusChain();
  for (int c : {2, 10, 20}) {
    double s = he.getAccurateScale(c) * 1.5;
    double expected = he.getAccurateScale(c - 2) / s * static_cast<double>(q->at(c - 1)) *
                      static_cast<double>(q->at(c));
    EXPECT_EQ(core.getPlainScaleForTwoRescales(s, c), expected) << c;
    // A product at that scale, rescaled twice, has the accurate scale of c - 2.
    EXPECT_NEAR(s * expected / static_cast<double>(q->at(c)) / static_cast<double>(q->at(c - 1)) /
                    he.getAccurateScale(c - 2),
                1.0, 1e-12);
  }

  // On a mockup context the default scale stands for every chain index.
  auto mockup = mockupContext(SLOTS, DEPTH);
  BootstrapCore mockCore(*mockup, uncachedConfig(), 1 << 20);
  EXPECT_EQ(mockCore.getPlainScaleForTwoRescales(12345.0, 10), mockup->getDefaultScale());
}

TEST(BootstrapCore, MockValuesOnlyForDebugCiphertexts)
{
  const SealCkksContext& he = sealContext();
  BootstrapCore core(he, uncachedConfig());
  EXPECT_TRUE(core.getMockValues(encryptAt(he, randomReal(1, SLOTS, -1, 1), 3)).empty());

  auto h1 = mockupContext(SLOTS, DEPTH);
  auto h2 = mockupContext(SLOTS, DEPTH);
  DebugContext debug(*h1, *h2, -1, false);
  BootstrapCore debugCore(debug, uncachedConfig(), 1 << 20);
  auto values = randomReal(2, SLOTS, -1, 1);
  CTile c = encryptAt(debug, values, 3);
  EXPECT_EQ(debugCore.getMockValues(c), values);
}

TEST(BootstrapCore, PrintsItsChainBudgetAndConfiguration)
{
  BootstrapConfig config = uncachedConfig();
  config.verbose = VERBOSITY_LOW;
  std::string printed;
  {
    CoutCapture capture;
    BootstrapCore core(sealContext(), config);
    printed = capture.str();
  }
  EXPECT_EQ(printed.rfind("R    = 72\ncost = 16\nEncodingChainIndex=20\nDecodingChainIndex=6\n"
                         "setEncodingMatrices\n",
                         0),
            0u)
      << printed;

  BootstrapCore core(sealContext(), uncachedConfig());
  CoutCapture capture;
  core.printConfig();
  const std::string separator(53, '=');
  std::string text = capture.str();
  EXPECT_EQ(text.rfind(separator + "\n", 0), 0u) << text;
  const std::string tail = "BS config: \nR=72\nnT=14\n" + separator + "\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(BootstrapCore, SealContextAnswersFollowTheLevelCost)
{
  // A context that declares bootstrapping support: feasible when the depth
  // leaves the target (1 for -1) below the cost.
  BootstrappableSealContext he;
  struct Case
  {
    int depth;
    int target;
    bool c2sFft;
    bool feasible;
  };
  for (Case c : {Case{17, -1, true, true}, Case{16, -1, true, false}, Case{16, -1, false, true},
                 Case{20, 4, true, true}, Case{20, 5, true, false}, Case{16, 0, true, true}}) {
    HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, c.depth, 40, 10);
    req.bootstrappable = true;
    BootstrapConfig config;
    config.targetChainIndex = c.target;
    config.coef2slotViaFFT = c.c2sFft;
    req.bootstrapConfig = config;
    EXPECT_EQ(he.isConfigRequirementFeasible(req), c.feasible) << c.depth << " " << c.target;
  }
  HeConfigRequirement noConfig = HeConfigRequirement::insecure(SLOTS, 17, 40, 10);
  noConfig.bootstrappable = true;
  EXPECT_TRUE(he.isConfigRequirementFeasible(noConfig));
  HeConfigRequirement otherRange = noConfig;
  otherRange.bootstrapConfig = BootstrapConfig();
  otherRange.bootstrapConfig->range = static_cast<BootstrapRange>(1);
  EXPECT_FALSE(he.isConfigRequirementFeasible(otherRange));
  // Without the trait nothing bootstrappable is feasible.
  EXPECT_FALSE(SealCkksContext().isConfigRequirementFeasible(noConfig));

  HeConfigRequirement deep = HeConfigRequirement::insecure(SLOTS, 22, 40, 10);
  deep.bootstrappable = true;
  BootstrapConfig indexes = he.getBootstrapChainIndexes(deep);
  EXPECT_EQ(indexes.targetChainIndex, 22 - 16);
  EXPECT_EQ(indexes.minChainIndexForBootstrapping, 0);
}
