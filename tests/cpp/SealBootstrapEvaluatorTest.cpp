// The SEAL bootstrap evaluator. The SEAL context never declares CKKS
// bootstrapping support, so these tests run it on a SEAL context that does
// (BootstrappableSealContext), through the road HeContext::init takes.

#include <cmath>
#include <complex>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "SealModulusRaise.h"
#include "TestUtils.h"
#include "hebase/BootstrapEvaluator.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/SealBootstrapEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
const double PI = std::acos(-1.0);

// A bootstrappable context made by init, its evaluator built along (in the
// current working directory's cache).
std::shared_ptr<BootstrappableSealContext>
bootstrappableContext(int slots, int depth, int frac, int integer,
                      std::optional<BootstrapConfig> config = std::nullopt)
{
  auto he = std::make_shared<BootstrappableSealContext>();
  HeConfigRequirement req = HeConfigRequirement::insecure(slots, depth, frac, integer);
  req.bootstrappable = true;
  req.bootstrapConfig = config;
  he->init(req);
  return he;
}

SealBootstrapEvaluator& sealEvaluatorOf(const HeContext& he)
{
  return dynamic_cast<SealBootstrapEvaluator&>(
      he.getBootstrapEvaluator().getAbstractBootstrapEvaluator());
}

} // namespace

TEST(SealBootstrapEvaluator, NeedsBootstrappingSupport)
{
  const SealCkksContext& he = bootstrapSealContext(8, 20);
  expectThrowWithMessage<assert_error>(
      [&] { SealBootstrapEvaluator(he, uncachedConfig()); },
      "math/bootstrap/seal/SealBootstrapEvaluator.cpp:39: SealBootstrapEvaluator: Assertion "
      "failed: getHeContext().getTraits().getSupportsCKKSBootstrapping()");
}

TEST(SealBootstrapEvaluator, CreatedByTheContextThatDeclaresSupport)
{
  TempWorkingDir cwd;
  CoutCapture quiet;
  auto he = bootstrappableContext(8, 20, 40, 10);
  EXPECT_EQ(he->getMinChainIndexForBootstrapping(), 0);
  EXPECT_EQ(he->getChainIndexAfterBootstrapping(), 4);
  SealBootstrapEvaluator& evaluator = sealEvaluatorOf(*he);
  EXPECT_EQ(evaluator.getCore().getTargetChainIndex(), 4);
  EXPECT_EQ(evaluator.getCore().getEncodingChainIndex(), 20);
  EXPECT_EQ(evaluator.getFirstMod(), he->getModulusChain()->at(0));
  EXPECT_EQ(evaluator.getNumSlots(), 8);
  auto direct = he->createAbstractBootstrapEvaluator(uncachedConfig());
  EXPECT_NE(dynamic_cast<SealBootstrapEvaluator*>(direct.get()), nullptr);
}

TEST(SealBootstrapEvaluator, ConfigurationChoices)
{
  BootstrappableSealContext he;
  he.init(HeConfigRequirement::insecure(8, 20, 40, 10));
  BootstrapConfig config = uncachedConfig();
  config.range = static_cast<BootstrapRange>(1);
  expectThrowWithMessage<std::invalid_argument>([&] { SealBootstrapEvaluator(he, config); },
                                                "Seal supports only default BootstrapRange");
  struct Case
  {
    bool complexData;
    int target;
    bool c2sFft;
    int expectedTarget;
  };
  // -1 becomes the top minus the cost; complex data takes the matrix
  // CoeffToSlot, so its cost is 15.
  for (Case c : {Case{false, -1, true, 4}, Case{true, -1, false, 5}, Case{false, 2, true, 2}}) {
    BootstrapConfig choice = uncachedConfig();
    choice.supportComplexData = c.complexData;
    choice.targetChainIndex = c.target;
    SealBootstrapEvaluator evaluator(he, choice);
    EXPECT_EQ(evaluator.getBootstrapConfig().coef2slotViaFFT, c.c2sFft);
    EXPECT_TRUE(evaluator.getBootstrapConfig().slot2coefViaFFT);
    EXPECT_EQ(evaluator.getBootstrapConfig().targetChainIndex, c.expectedTarget);
    EXPECT_EQ(evaluator.getCore().getTargetChainIndex(), c.expectedTarget);
  }
}

TEST(SealBootstrapEvaluator, MockupBootstrapAtFiveHundredTwelveSlots)
{
  TempWorkingDir cwd;
  CoutCapture quiet;
  auto he = bootstrappableContext(512, 17, 50, 10);
  SealBootstrapEvaluator& evaluator = sealEvaluatorOf(*he);
  const BootstrapCore& core = evaluator.getCore();
  EXPECT_EQ(core.getTargetChainIndex(), 1);
  auto values = randomReal(29, 512, -1, 1);
  // Encrypted at the encoding chain index, and encrypted at chain index 0
  // then raised there (its coefficients carrying multiples of q0).
  for (bool raised : {false, true}) {
    CTile c = raised ? raiseModulus(encryptAt(*he, values, 0), core.getEncodingChainIndex())
                     : encryptAt(*he, values, core.getEncodingChainIndex(), core.getBaseScale());
    evaluator.bootstrapMockup(c);
    EXPECT_EQ(c.getChainIndex(), 1);
    auto got = decryptOf(c);
    double worst = 0;
    double mean = 0;
    for (int i = 0; i < 512; ++i) {
      double e = std::abs(got[i] - values[i]);
      worst = std::max(worst, e);
      mean += e / 512;
    }
    EXPECT_LT(worst, 0.05) << raised;
    EXPECT_LT(mean, 0.01) << raised;
  }
}

TEST(SealBootstrapEvaluator, MockupBootstrapOfComplexData)
{
  TempWorkingDir cwd;
  BootstrapConfig config;
  config.supportComplexData = true;
  CoutCapture quiet;
  auto he = bootstrappableContext(64, 17, 50, 10, config);
  SealBootstrapEvaluator& evaluator = sealEvaluatorOf(*he);
  auto values = randomComplex(31, 64);
  CTile c = encryptAt(*he, values, evaluator.getCore().getEncodingChainIndex(),
                      evaluator.getCore().getBaseScale());
  evaluator.bootstrapMockup(c);
  EXPECT_LT(maxError(decryptOf(c), values), 1e-3);
  // Complex data never uses the cache.
  EXPECT_FALSE(std::filesystem::exists("output"));
}

TEST(SealBootstrapEvaluator, BootstrapNeedsARemodThatSealDoesNotDo)
{
  TempWorkingDir cwd;
  CoutCapture capture;
  auto he = bootstrappableContext(8, 20, 40, 10);
  EXPECT_EQ(sealEvaluatorOf(*he).getCore().getEncodingChainIndex(), 20);
  CTile c = encryptAt(*he, randomReal(33, 8, -1, 1), 9);
  std::string before = capture.str();
  expectThrowWithMessage<std::runtime_error>([&] { he->getBootstrapEvaluator().bootstrap(c); },
                                             "Unexpected chain-index");
  EXPECT_EQ(capture.str().substr(before.size()),
            "Expecting chain-index = 20 and got 0.\nMay need to fix default "
            "enc/decodingChainIndex indices in setEncodingMatrices().\n");
  EXPECT_EQ(c.getChainIndex(), 0);
}

TEST(SealBootstrapEvaluator, DuplicateRealInputIsLeftUnchanged)
{
  TempWorkingDir cwd;
  BootstrapConfig config;
  config.duplicateRealInput = true;
  CoutCapture quiet;
  auto he = bootstrappableContext(8, 20, 40, 10, config);
  auto values = randomReal(35, 8, -1, 1);
  CTile a = encryptAt(*he, values, 7);
  CTile b = encryptAt(*he, values, 3);
  he->getBootstrapEvaluator().bootstrap(a, b);
  EXPECT_EQ(a.getChainIndex(), 7);
  EXPECT_EQ(b.getChainIndex(), 3);
  EXPECT_LT(maxError(decryptOf(a), values), 1e-6);
}

TEST(SealBootstrapEvaluator, DecryptingMockReductions)
{
  TempWorkingDir cwd;
  struct Case
  {
    bool sine;
    bool reduction;
  };
  std::vector<Complex> values = {0.3 / 72, -0.6 / 72, 0.25, 1.0 / 144, 0, 0.01, -0.2, 0.49};
  for (Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
    BootstrapConfig config = uncachedConfig();
    config.clearSineMod = c.sine;
    config.clearExactMod = c.reduction;
    CoutCapture quiet;
    auto he = bootstrappableContext(8, 20, 40, 10, config);
    SealBootstrapEvaluator& evaluator = sealEvaluatorOf(*he);
    CTile x = encryptAt(*he, values, 12);
    evaluator.modStep(x);
    EXPECT_EQ(x.getChainIndex(), evaluator.getCore().getDecodingChainIndex());
    auto got = decryptOf(x);
    for (int i = 0; i < 8; ++i) {
      double v = values[i].real();
      double expected;
      if (c.sine) {
        expected = 2 * std::sin(72 * PI * v);
      } else {
        double y = MathUtils::mod(72 * v, 2.0);
        expected = (y > 1 ? y - 2 : y) * 2 * PI;
      }
      EXPECT_NEAR(got[i].real(), expected, 1e-6) << c.sine << c.reduction << ":" << i;
    }
  }
}

TEST(SealBootstrapEvaluator, VerboseSteps)
{
  TempWorkingDir cwd;
  PrintOptionsGuard options;
  BootstrapConfig config;
  config.verbose = VERBOSITY_LOW;
  CoutCapture capture;
  auto he = bootstrappableContext(8, 20, 40, 10, config);
  SealBootstrapEvaluator& evaluator = sealEvaluatorOf(*he);
  EXPECT_NE(capture.str().find("BS config: \nR=72\nnT=14\n"), std::string::npos);
  const std::string separator(53, '=');
  CTile c = encryptAt(*he, randomReal(37, 8, -1, 1), 20, evaluator.getCore().getBaseScale());
  evaluator.bootstrapMockup(c);
  std::string printed = capture.str();
  for (const std::string& line :
       {separator + "\n", std::string("3. Coef2Slot\n"), std::string("coef2slotFFT\n"),
        "4. Mod firstMod=" + std::to_string(evaluator.getFirstMod()) + " = ",
        std::string("Mod 1st part\n"), std::string("5. Slot2Coef\n"),
        std::string("slot2coefFFT\n")})
    EXPECT_NE(printed.find(line), std::string::npos) << line;
  CTile d = encryptAt(*he, randomReal(39, 8, -1, 1), 9);
  EXPECT_THROW(evaluator.bootstrap(d), std::runtime_error);
  printed = capture.str();
  for (const std::string& line :
       {std::string("1. Input\n"), std::string("2. Remod\n"),
        std::string("raising chain-index from 0 to 20\n")})
    EXPECT_NE(printed.find(line), std::string::npos) << line;
}
