#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>
#include <seal/util/galois.h>

#include "TestUtils.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/seal/SealCkksParams.h"
#include "hebase/seal/SealMeasures.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

// Small insecure parameters: 1024 slots, depth 2, primes of 40, 30, 30 (+40) bits.
HeConfigRequirement smallReq() { return requirement(1024, 2, 30, 10, 0); }

PublicFunctions encryptOnly()
{
  PublicFunctions pf;
  pf.encrypt = true;
  pf.relinearize = false;
  pf.rotate = NO_ROTATIONS;
  pf.conjugate = FALSE;
  return pf;
}

HeConfigRequirement lightReq(int slots = 1024, int depth = 2)
{
  HeConfigRequirement req = requirement(slots, depth, 30, 10, 0);
  req.publicFunctions = encryptOnly();
  return req;
}

// Encrypts values with the context's encryptor at the top chain index and
// decrypts them with the given SEAL decryptor.
std::vector<double> roundTrip(const SealCkksContext& he, seal::Decryptor& decryptor,
                              const std::vector<double>& values)
{
  seal::Plaintext plain;
  he.getCkksEncoder().encode(values, he.getParmsIdForChainIndex(he.getTopChainIndex()),
                             he.getDefaultScale(), plain);
  seal::Ciphertext cipher;
  he.getEncryptor().encrypt(plain, cipher);
  seal::Plaintext decrypted;
  decryptor.decrypt(cipher, decrypted);
  std::vector<double> result;
  he.getCkksEncoder().decode(decrypted, result);
  result.resize(values.size());
  return result;
}

std::vector<int> bitCounts(const std::vector<seal::Modulus>& moduli)
{
  std::vector<int> bits;
  for (const auto& m : moduli)
    bits.push_back(m.bit_count());
  return bits;
}

class ScopedEnv
{
public:
  ScopedEnv(const char* name, const std::string& value) : name(name)
  {
    const char* old = std::getenv(name);
    hadOld = old != nullptr;
    if (hadOld)
      oldValue = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv()
  {
    if (hadOld)
      setenv(name, oldValue.c_str(), 1);
    else
      unsetenv(name);
  }

private:
  const char* name;
  bool hadOld;
  std::string oldValue;
};

} // namespace

// ---------------------------------------------------------------------------
// Security table, parameter choice, seeds

TEST(SealCkksContext, SecurityTable)
{
  struct Case
  {
    int level;
    int degree;
    int expected;
  };
  const Case cases[] = {{0, 1024, 2147483647}, {0, 12345, 2147483647}, {1, 1024, 27},
                        {-5, 4096, 109},       {100, 2048, 54},        {128, 8192, 218},
                        {128, 16384, 438},     {128, 32768, 881},      {129, 2048, 37},
                        {192, 4096, 75},       {192, 8192, 152},       {192, 32768, 611},
                        {193, 8192, 118},      {256, 1024, 14},        {256, 16384, 237},
                        {256, 32768, 476},     {128, 2000, 0},         {128, 65536, 0},
                        {192, 512, 0},         {0, 3, 2147483647},     {100, 3, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(SealCkksContext::getMaxCoeffModulusBitCount(c.level, c.degree), c.expected)
        << "level " << c.level << " degree " << c.degree;
  expectThrowWithMessage<std::runtime_error>(
      [] { SealCkksContext::getMaxCoeffModulusBitCount(257, 4096); },
      "Security level above 256 not supported");
}

TEST(SealCkksParams, SecurityLevelRounding)
{
  const std::pair<int, int> cases[] = {{0, 0},     {1, 128},   {100, 128}, {128, 128},
                                       {129, 192}, {192, 192}, {193, 256}, {256, 256}};
  for (const auto& c : cases)
    EXPECT_EQ(SealCkksParams::roundSecurityLevel(c.first), c.second) << c.first;
  expectThrowWithMessage<std::runtime_error>([] { SealCkksParams::roundSecurityLevel(300); },
                                             "Security level above 256 not supported");
}

TEST(SealCkksContext, CoefficientModulusPrimesHaveTheChosenBitSizes)
{
  seal::EncryptionParameters parms = SealCkksContext::createEncryptionParameters(8192, 30, 3, 10);
  EXPECT_EQ(parms.scheme(), seal::scheme_type::ckks);
  EXPECT_EQ(parms.poly_modulus_degree(), 8192u);
  EXPECT_EQ(bitCounts(parms.coeff_modulus()), (std::vector<int>{40, 30, 30, 30, 40}));

  seal::EncryptionParameters depth0 = SealCkksContext::createEncryptionParameters(2048, 20, 0, 5);
  EXPECT_EQ(bitCounts(depth0.coeff_modulus()), (std::vector<int>{25, 25}));
  EXPECT_NE(depth0.coeff_modulus()[0].value(), depth0.coeff_modulus()[1].value());
}

TEST(SealCkksContext, SealRefusesADegreeThatIsNotAPowerOfTwo)
{
  EXPECT_THROW(SealCkksContext::createEncryptionParameters(2000, 30, 1, 10), std::invalid_argument);
  expectThrowWithMessage<std::invalid_argument>(
      [] { SealCkksContext::createEncryptionParameters(2048, 30, -1, 10); },
      "The number of rescaling primes must not be negative");
}

TEST(SealCkksParams, SeedsAreFreshAndDetermineTheSecretKey)
{
  SecretKeySeed a = SealCkksParams::drawSeed();
  SecretKeySeed b = SealCkksParams::drawSeed();
  EXPECT_NE(a, b);

  seal::EncryptionParameters parms = SealCkksContext::createEncryptionParameters(2048, 30, 1, 10);
  seal::SecretKey k1 = SealCkksContext::createSecretKeyFromSeed(parms, 0, a);
  seal::SecretKey k2 = SealCkksContext::createSecretKeyFromSeed(parms, 0, a);
  seal::SecretKey k3 = SealCkksContext::createSecretKeyFromSeed(parms, 0, b);
  ASSERT_EQ(k1.data().coeff_count(), k2.data().coeff_count());
  EXPECT_TRUE(std::equal(k1.data().data(), k1.data().data() + k1.data().coeff_count(),
                         k2.data().data()));
  EXPECT_FALSE(std::equal(k1.data().data(), k1.data().data() + k1.data().coeff_count(),
                          k3.data().data()));
  // Every word of the seed counts, the last one included.
  SecretKeySeed lastWordChanged = a;
  lastWordChanged[7] ^= 1;
  seal::SecretKey k4 = SealCkksContext::createSecretKeyFromSeed(parms, 0, lastWordChanged);
  EXPECT_FALSE(std::equal(k1.data().data(), k1.data().data() + k1.data().coeff_count(),
                          k4.data().data()));
}

TEST(SealCkksParams, DefaultRotationStepsArePowersOfTwoBothWays)
{
  std::vector<int> expected;
  for (int step = 1; step <= 2048; step *= 2) {
    expected.push_back(step);
    expected.push_back(-step);
  }
  EXPECT_EQ(SealCkksParams::getDefaultRotationSteps(4096), expected);
  EXPECT_EQ(SealCkksParams::getDefaultRotationSteps(4096).size(), 24u);
  EXPECT_TRUE(SealCkksParams::getDefaultRotationSteps(1).empty());
}

TEST(SealCkksParams, AccurateScalesSquareDownTheChain)
{
  // Any primes will do for the arithmetic.
  std::vector<uint64_t> primes = {(1ull << 40) + 11, (1ull << 30) - 35, (1ull << 30) + 3,
                                  (1ull << 30) - 41};
  std::vector<double> table = SealCkksParams::computeAccurateScales(primes, 123.0);
  ASSERT_EQ(table.size(), 4u);
  double expectedTop = std::pow(static_cast<double>(primes[1]), 1.0 / 7) *
                       std::pow(static_cast<double>(primes[2]), 2.0 / 7) *
                       std::pow(static_cast<double>(primes[3]), 4.0 / 7);
  EXPECT_NEAR(table[3] / expectedTop, 1.0, 1e-12);
  for (size_t i = 3; i >= 1; i--)
    EXPECT_DOUBLE_EQ(table[i - 1], table[i] * table[i] / static_cast<double>(primes[i]));
  EXPECT_NEAR(table[0] / table[3], 1.0, 1e-9);

  EXPECT_EQ(SealCkksParams::computeAccurateScales({(1ull << 40) + 11}, 1024.0),
            std::vector<double>{1024.0});
}

TEST(SealCkksParams, Signatures)
{
  struct Case
  {
    int degree, mid, count, extra, security;
    std::string expected;
  };
  const Case cases[] = {
      {16384, 40, 8, 10, 128, "context_SEAL_KEY_DEG16384_MID40_EXT10_D8_SEC"},
      {2048, 30, 2, 10, 0, "context_SEAL_KEY_DEG2048_MID30_EXT10_D2_INSEC"},
      {2048, 20, 0, 5, 0, "context_SEAL_KEY_DEG2048_MID25_EXT0_D0_INSEC"},
      {4096, 25, 1, 0, 192, "context_SEAL_KEY_DEG4096_MID25_EXT0_D1_SEC"}};
  for (const Case& c : cases) {
    seal::EncryptionParameters parms =
        SealCkksContext::createEncryptionParameters(c.degree, c.mid, c.count, c.extra);
    EXPECT_EQ(SealCkksParams::makeSignature(parms, c.security), c.expected);
  }
}

// ---------------------------------------------------------------------------
// Measures file

TEST(SealMeasures, FlattensObjectsIntoDottedIntegerEntries)
{
  std::istringstream in(R"({"a": {"b": 5, "c": "x"}, "d": 7, "e": [1, 2, {"f": 3}],
    "g": {"h": {"i": -12}, "j": 1.5, "k": true, "l": null},
    "big": 9223372036854775807, "tooBig": 9223372036854775808})");
  std::map<std::string, int64_t> expected = {
      {"a.b", 5}, {"d", 7}, {"g.h.i", -12}, {"big", INT64_MAX}};
  EXPECT_EQ(SealMeasures::parse(in), expected);
}

TEST(SealMeasures, EntriesOfSubObjectsDoNotReplaceEarlierKeysButLeavesDo)
{
  std::istringstream first(R"({"a.b": 1, "a": {"b": 2}})");
  EXPECT_EQ(SealMeasures::parse(first), (std::map<std::string, int64_t>{{"a.b", 1}}));
  std::istringstream second(R"({"a": {"b": 2}, "a.b": 1})");
  EXPECT_EQ(SealMeasures::parse(second), (std::map<std::string, int64_t>{{"a.b", 1}}));
}

TEST(SealMeasures, MalformedJsonFailsInTheParser)
{
  std::istringstream in(R"({"a": )");
  EXPECT_THROW(SealMeasures::parse(in), std::runtime_error);
}

TEST(SealMeasures, ContextReadsTheShippedFileThroughTheResourcesDirectory)
{
  ScopedEnv env("QUORVANE_RESOURCES_DIR", QUORVANE_TEST_RESOURCES);
  SealCkksContext he;
  std::map<std::string, int64_t> measures = he.getEstimatedMeasures();
  ASSERT_EQ(measures.count("slots_8192.multiply_raw_us"), 1u);
  EXPECT_GT(measures.at("slots_8192.multiply_raw_us"), 0);
  EXPECT_EQ(measures.at("slots_8192.poly_degree"), 16384);
  // Text members are skipped.
  EXPECT_EQ(measures.count("description"), 0u);
  // Operations get more expensive with the parameters.
  EXPECT_LT(measures.at("slots_2048.relinearize_us"), measures.at("slots_16384.relinearize_us"));
}

TEST(SealMeasures, MissingFileIsReportedWithItsPath)
{
  ScopedEnv env("QUORVANE_RESOURCES_DIR", "/nonexistent-quorvane-dir");
  SealCkksContext he;
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getEstimatedMeasures(); },
      "SEAL measures file not found at: /nonexistent-quorvane-dir/optimizer/seal.json");
}

// ---------------------------------------------------------------------------
// Construction, registry, feasibility and planning

TEST(SealCkksContext, ConstructionDefaultsAndTraits)
{
  SealCkksContext he;
  EXPECT_FALSE(he.isInitialized());
  EXPECT_EQ(he.getLibraryName(), "SEAL");
  EXPECT_EQ(he.getSchemeName(), "CKKS");
  EXPECT_EQ(he.getRegistryKey(), "SEAL_CKKS");
  EXPECT_EQ(he.getSecurityLevel(), 128);
  EXPECT_EQ(he.getSignature(), "");
  EXPECT_TRUE(he.getUseAccurateScaling());
  EXPECT_FALSE(he.hasSecretKey());
  EXPECT_EQ(he.getDefaultScale(), 1.0);
  EXPECT_EQ(he.getMinSupportedNumSlots(), 512);
  EXPECT_EQ(he.getMaxSupportedNumSlots(), 16384);
  EXPECT_TRUE(he.publicFunctionsSupported(PublicFunctions()));
  const HeTraits& t = he.getTraits();
  EXPECT_TRUE(t.getSupportsExplicitRescale());
  EXPECT_TRUE(t.getSupportsModSwitch());
  EXPECT_TRUE(t.getSupportsExplicitChainIndices());
  EXPECT_TRUE(t.getSupportsComplexNumbers());
  EXPECT_TRUE(t.getSupportsValuesLimitation());
  EXPECT_TRUE(t.getSupportsScaledEncoding());
  EXPECT_TRUE(t.getSupportsSecKeySeed());
  EXPECT_TRUE(t.getSupportsHandleTransparentCiphertexts());
  EXPECT_FALSE(t.getSupportsCKKSBootstrapping());
  EXPECT_FALSE(t.getIsMockup());
  EXPECT_FALSE(t.getUsesDefaultScale());
  expectThrowWithMessage<std::runtime_error>([&] { he.slotCount(); },
                                             "HE context has not been initialized yet");
  expectThrowWithMessage<std::runtime_error>([&] { he.getTopChainIndex(); },
                                             "HE context has not been initialized yet");
  expectThrowWithMessage<std::runtime_error>([&] { he.getModulusChain(); }, "Context not set");
  expectThrowWithMessage<std::runtime_error>([&] { he.getMaxAllowedValues(); },
                                             "HE context has not been initialized yet");
}

TEST(SealCkksContext, RegisteredPrototypeClonesIntoFreshContexts)
{
  ASSERT_TRUE(HeContext::isRegisteredContext("SEAL_CKKS"));
  std::shared_ptr<HeContext> he = HeContext::create("SEAL_CKKS", lightReq());
  ASSERT_NE(std::dynamic_pointer_cast<SealCkksContext>(he), nullptr);
  EXPECT_TRUE(he->isInitialized());
  EXPECT_EQ(he->slotCount(), 1024);
  std::shared_ptr<HeContext> copy = he->clone();
  ASSERT_NE(std::dynamic_pointer_cast<SealCkksContext>(copy), nullptr);
  EXPECT_FALSE(copy->isInitialized());
  EXPECT_EQ(copy->getSignature(), "");
  EXPECT_FALSE(HeContext::getContextRegistry().at("SEAL_CKKS")->isInitialized());
}

TEST(SealCkksContext, FeasibilityTable)
{
  SealCkksContext he;
  struct Case
  {
    HeConfigRequirement req;
    bool feasible;
  };
  HeConfigRequirement bootstrappable = requirement(1024, 2, 30, 10, 0);
  bootstrappable.bootstrappable = true;
  const Case cases[] = {
      {requirement(8192, 9, 40, 10, 128), false}, // 460 bits > 438
      {requirement(8192, 8, 40, 10, 128), true},  // 420 bits
      {requirement(8192, 8, 40, 10, 129), false}, // 305 at 192
      {requirement(1024, 1, 50, 11, 0), false},   // 61-bit primes
      {requirement(1024, 1, 50, 11, 128), false},
      {requirement(1024, 1, 50, 10, 0), true},
      {requirement(1000, 1, 20, 5, 128), false}, // degree 2000 outside the table
      {requirement(1000, 1, 20, 5, 0), false},   // not a power of two, even at level 0
      {requirement(512, 0, 20, 3, 256), false}, // 46 bits > 14
      {requirement(512, 0, 5, 2, 256), true},   // 14 bits
      {requirement(1024, 2, 30, 10, -3), false}, // negative levels use the 128 row
      {requirement(1024, -2, 30, 10, 0), false},
      {requirement(0, 2, 30, 10, 0), false},
      {bootstrappable, false},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
    EXPECT_EQ(he.isConfigRequirementFeasible(cases[i].req), cases[i].feasible) << "case " << i;
  expectAssertion([&] { he.isConfigRequirementFeasible(HeConfigRequirement::insecure(4096, 5)); },
                  "fractionalPartPrecision != -1");
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.isConfigRequirementFeasible(requirement(1024, 1, 20, 5, 300)); },
      "Security level above 256 not supported");
}

TEST(SealCkksContext, BestFeasiblePrecisionAndDepth)
{
  SealCkksContext he;
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(8192, -1, 40, 10, 128)), 8);
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(8192, 8, -1, 10, 128)), 41);
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(8192, 8, -1, 10, 0)), 50);
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(8192, -1, 40, 10, 0)), 30);
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(2, -1, 1, 59, 0)), 30);
  // Degree 1024 at 128 bits allows 27 bits: (27 - 20) / 40 - 2 = -2.
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(512, -1, 40, 10, 128)), -1);
  // (27 - 6) / 7 - 2 = 1.
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(512, -1, 7, 3, 128)), 1);
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(512, -1, 0, 3, 128)), -1);
  // The 60-bit limit is not applied to depth planning.
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(16384, -1, 55, 10, 128)), 13);

  expectAssertion([&] { he.getBestFeasibleMulDepth(requirement(-1, -1, 40, 10, 128)); },
                  "req.numSlots != -1");
  expectAssertion([&] { he.getBestFeasibleMulDepth(requirement(8192, -1, -1, 10, 128)); },
                  "req.fractionalPartPrecision != -1");
  expectAssertion(
      [&] { he.getBestFeasibleFractionalPartPrecision(requirement(8192, -1, -1, 10, 128)); },
      "req.multiplicationDepth != -1");
  expectAssertion(
      [&] { he.getBestFeasibleFractionalPartPrecision(requirement(8192, 8, -1, -1, 128)); },
      "req.integerPartPrecision != -1");

  he.init(lightReq());
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getBestFeasibleMulDepth(requirement(8192, -1, 40, 10, 128)); },
      "HE context has already been initialized");
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getBestFeasibleFractionalPartPrecision(requirement(8192, 8, -1, 10, 128)); },
      "HE context has already been initialized");
}

TEST(SealCkksContext, BootstrappableRequirementsAreRefused)
{
  SealCkksContext he;
  HeConfigRequirement req = lightReq();
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  expectThrowWithMessage<std::runtime_error>([&] { he.init(req); },
                                             "Given configuration requirement is not feasible");
  EXPECT_FALSE(he.isInitialized());
  expectThrowWithMessage<std::runtime_error>([&] { HeContext::create("SEAL_CKKS", req); },
                                             "Given configuration requirement is not feasible");
}

TEST(SealCkksContext, BootstrappingAnswersOnlyAssert)
{
  SealCkksContext he;
  HeConfigRequirement bootstrappable = lightReq();
  bootstrappable.bootstrappable = true;
  expectAssertion([&] { he.getBootstrapChainIndexes(bootstrappable); },
                  "isConfigRequirementFeasible(req)");
  expectAssertion([&] { he.getBootstrapChainIndexes(lightReq()); }, "req.bootstrappable");
  expectThrowWithMessage<std::runtime_error>([&] { he.getMinChainIndexForBootstrapping(); },
                                             "HE context has not been initialized yet");
  he.init(lightReq());
  expectAssertion([&] { he.getMinChainIndexForBootstrapping(); }, "getBootstrappable()");
  expectAssertion([&] { he.getChainIndexAfterBootstrapping(); }, "getBootstrappable()");
  expectThrowWithMessage<std::runtime_error>([&] { he.getBootstrapChainIndexes(bootstrappable); },
                                             "HE context has already been initialized");
}

TEST(SealCkksContext, FactoriesMakeSealObjectsOfThisContext)
{
  SealCkksContext he;
  he.init(lightReq());
  std::shared_ptr<AbstractCiphertext> c = he.createAbstractCiphertext();
  std::shared_ptr<AbstractPlaintext> p = he.createAbstractPlaintext();
  std::shared_ptr<AbstractEncoder> e = he.getEncoder();
  EXPECT_NE(std::dynamic_pointer_cast<SealCkksCiphertext>(c), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<SealCkksPlaintext>(p), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<SealCkksEncoder>(e), nullptr);
  EXPECT_NE(he.getEncoder(), e);
}

// ---------------------------------------------------------------------------
// Initialisation

TEST(SealCkksContext, InitChoosesParametersKeysAndScales)
{
  SealCkksContext he;
  he.init(smallReq());
  EXPECT_TRUE(he.isInitialized());
  EXPECT_EQ(he.slotCount(), 1024);
  EXPECT_EQ(he.getTopChainIndex(), 2);
  EXPECT_EQ(he.getSecurityLevel(), 0);
  EXPECT_EQ(he.getSignature(), "context_SEAL_KEY_DEG2048_MID30_EXT10_D2_INSEC");
  EXPECT_TRUE(he.hasSecretKey());
  ASSERT_TRUE(he.getSecretKeySeed().has_value());

  EXPECT_EQ(bitCounts(he.getEncryptionParams().coeff_modulus()),
            (std::vector<int>{40, 30, 30, 40}));
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(he.getCoeffModulusBitCount(i), i == 0 || i == 3 ? 40 : 30);
  EXPECT_THROW(he.getCoeffModulusBitCount(4), std::invalid_argument);

  std::shared_ptr<std::vector<uint64_t>> chain = he.getModulusChain();
  ASSERT_EQ(chain->size(), 3u);
  for (size_t i = 0; i < 3; i++)
    EXPECT_EQ((*chain)[i], he.getEncryptionParams().coeff_modulus()[i].value());

  // Accurate scales: the default scale is the top entry and each lower
  // entry is the square of the one above divided by its prime.
  double s2 = he.getAccurateScale(2);
  EXPECT_EQ(he.getDefaultScale(), s2);
  EXPECT_NEAR(std::log2(s2), 30.0, 0.01);
  EXPECT_DOUBLE_EQ(he.getAccurateScale(1), s2 * s2 / static_cast<double>((*chain)[2]));
  EXPECT_DOUBLE_EQ(he.getAccurateScale(0), he.getAccurateScale(1) * he.getAccurateScale(1) /
                                               static_cast<double>((*chain)[1]));
  EXPECT_NEAR(he.getAccurateScale(0) / s2, 1.0, 1e-9);

  // Maximal values: 2^(40 - 30 - 2 + 30 i) - 1.
  std::vector<double> maxValues = he.getMaxAllowedValues();
  ASSERT_EQ(maxValues.size(), 3u);
  EXPECT_EQ(maxValues[0], std::ldexp(1.0, 8) - 1);
  EXPECT_EQ(maxValues[1], std::ldexp(1.0, 38) - 1);
  EXPECT_EQ(maxValues[2], std::ldexp(1.0, 68) - 1);

  // The default public functions: every key is there.
  EXPECT_NO_THROW(he.getEncryptor());
  EXPECT_NO_THROW(he.getRelinKeys());
  EXPECT_NO_THROW(he.getGaloisKeys());

  // The keys work together.
  std::vector<double> values = {0.5, -1.25, 3.0, 7.75};
  EXPECT_LT(maxError(roundTrip(he, he.getDecryptor(), values), values), 1e-4);
}

TEST(SealCkksContext, SecretKeyIsRegeneratedFromItsSeed)
{
  SealCkksContext he;
  he.init(lightReq());
  seal::SecretKey regenerated = SealCkksContext::createSecretKeyFromSeed(
      he.getEncryptionParams(), he.getSecurityLevel(), *he.getSecretKeySeed());
  seal::Decryptor decryptor(he.getSealContext(), regenerated);
  std::vector<double> values = {1.0, 2.0, -3.0};
  EXPECT_LT(maxError(roundTrip(he, decryptor, values), values), 1e-4);
  seal::PublicKey empty;
  EXPECT_FALSE(SealCkksParams::secretKeyMatchesPublicKey(he.getSealContext(), regenerated, empty));

  SealCkksContext other;
  other.init(lightReq());
  EXPECT_NE(*he.getSecretKeySeed(), *other.getSecretKeySeed());
}

TEST(SealCkksContext, SecurityLevelsAreRoundedAndSigned)
{
  struct Case
  {
    HeConfigRequirement req;
    int level;
    std::string signature;
  };
  // Degree 2048: 54 bits at 128, 37 at 192.
  const Case cases[] = {
      {requirement(1024, 0, 20, 5, 100), 128, "context_SEAL_KEY_DEG2048_MID25_EXT0_D0_SEC"},
      {requirement(1024, 0, 15, 3, 129), 192, "context_SEAL_KEY_DEG2048_MID18_EXT0_D0_SEC"},
      {requirement(1024, 0, 20, 5, 0), 0, "context_SEAL_KEY_DEG2048_MID25_EXT0_D0_INSEC"}};
  for (const Case& c : cases) {
    HeConfigRequirement req = c.req;
    req.publicFunctions = encryptOnly();
    SealCkksContext he;
    he.init(req);
    EXPECT_EQ(he.getSecurityLevel(), c.level);
    EXPECT_EQ(he.getSignature(), c.signature);
    EXPECT_EQ(he.getTopChainIndex(), 0);
  }
}

TEST(SealCkksContext, DepthZeroWithAccurateScalingKeepsTheFractionalScale)
{
  SealCkksContext he;
  he.init(lightReq(1024, 0));
  EXPECT_EQ(he.getDefaultScale(), std::ldexp(1.0, 30));
  EXPECT_EQ(he.getAccurateScale(0), std::ldexp(1.0, 30));
  EXPECT_EQ(he.getModulusChain()->size(), 1u);
  std::vector<double> values = {0.25, -4.5};
  EXPECT_LT(maxError(roundTrip(he, he.getDecryptor(), values), values), 1e-4);
}

TEST(SealCkksContext, AccurateScalingCanBeSwitchedOffBeforeInit)
{
  SealCkksContext he;
  expectThrowWithMessage<std::runtime_error>([&] { he.getAccurateScale(0); },
                                             "This context has not been initialized");
  he.setUseAccurateScaling(false);
  EXPECT_FALSE(he.getUseAccurateScaling());
  he.init(lightReq());
  EXPECT_EQ(he.getDefaultScale(), std::ldexp(1.0, 30));
  expectThrowWithMessage<std::runtime_error>([&] { he.getAccurateScale(0); },
                                             "Accurate scaling is not enabled");
  expectThrowWithMessage<std::runtime_error>([&] { he.setUseAccurateScaling(true); },
                                             "This context is already initialized");
}

TEST(SealCkksContext, AccurateScaleOutsideTheChainFailsItsAssertion)
{
  SealCkksContext he;
  he.init(lightReq());
  for (int index : {-1, 3})
    expectAssertion([&] { he.getAccurateScale(index); },
                    "(chainIndex >= 0) && (chainIndex <= getTopChainIndex())");
}

TEST(SealCkksContext, ParmsIdsFollowTheChainAndRefuseIndexesOutsideIt)
{
  SealCkksContext he;
  he.init(lightReq(1024, 3));
  const seal::SEALContext& seal = he.getSealContext();
  for (int i = 0; i <= 3; i++) {
    SealCkksContext::ParmsId id = he.getParmsIdForChainIndex(i);
    ASSERT_NE(seal.get_context_data(id), nullptr);
    EXPECT_EQ(seal.get_context_data(id)->chain_index(), static_cast<size_t>(i));
  }
  EXPECT_EQ(he.getParmsIdForChainIndex(3), seal.first_parms_id());
  // top + 1 would be SEAL's key level.
  for (int index : {-1, 4, 100})
    expectThrowWithMessage<std::invalid_argument>([&] { he.getParmsIdForChainIndex(index); },
                                                  "illegal chain index count");
  SealCkksContext fresh;
  EXPECT_THROW(fresh.getParmsIdForChainIndex(0), std::runtime_error);
}

TEST(SealCkksContext, InitTwiceIsRefusedAndKeepsTheContext)
{
  SealCkksContext he;
  he.init(lightReq());
  std::string signature = he.getSignature();
  int id = he.getContextId();
  expectThrowWithMessage<std::runtime_error>([&] { he.init(lightReq(2048, 1)); },
                                             "HE context has already been initialized");
  // An infeasible requirement is reported first.
  expectThrowWithMessage<std::runtime_error>([&] { he.init(requirement(1024, 1, 50, 11, 0)); },
                                             "Given configuration requirement is not feasible");
  EXPECT_EQ(he.getSignature(), signature);
  EXPECT_EQ(he.getContextId(), id);
  EXPECT_EQ(he.slotCount(), 1024);
  EXPECT_TRUE(he.hasSecretKey());
}

// A failed init, SEAL failures included, leaves a usable uninitialised context.
TEST(SealCkksContext, FailedInitLeavesTheContextUninitialisedAndUsable)
{
  HeConfigRequirement badDegree = lightReq(1000, 1);          // SEAL refuses degree 2000
  HeConfigRequirement badStep = lightReq(1024, 1);            // SEAL refuses step 1024
  badStep.publicFunctions.rotate = CUSTOM_ROTATIONS;
  badStep.publicFunctions.rotationSteps = {1, 1024};
  HeConfigRequirement stepsWithoutCustom = lightReq(1024, 1); // the base refuses
  stepsWithoutCustom.publicFunctions.rotationSteps = {1};
  HeConfigRequirement autoBootstrap = lightReq(1024, 1);
  autoBootstrap.automaticBootstrapping = true;
  for (const HeConfigRequirement& bad : {badDegree, badStep, stepsWithoutCustom, autoBootstrap}) {
    SealCkksContext he;
    EXPECT_THROW(he.init(bad), std::exception);
    EXPECT_FALSE(he.isInitialized());
    EXPECT_EQ(he.getSignature(), "");
    EXPECT_EQ(he.getSecurityLevel(), 128);
    EXPECT_EQ(he.getDefaultScale(), 1.0);
    EXPECT_FALSE(he.hasSecretKey());
    EXPECT_THROW(he.getSealContext(), std::runtime_error);
    // Still usable: accurate scaling may change and init succeeds.
    he.setUseAccurateScaling(false);
    he.init(lightReq(1024, 1));
    EXPECT_TRUE(he.isInitialized());
    EXPECT_EQ(he.getSignature(), "context_SEAL_KEY_DEG2048_MID30_EXT10_D1_INSEC");
    EXPECT_EQ(he.getHeConfigRequirement().numSlots, 1024);
  }
  EXPECT_THROW(HeContext::create("SEAL_CKKS", badStep), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Public keys

TEST(SealCkksContext, OptionalKeysFollowThePublicFunctions)
{
  HeConfigRequirement req = lightReq();
  req.publicFunctions.encrypt = false;
  SealCkksContext he;
  he.init(req);
  expectThrowWithMessage<std::runtime_error>([&] { he.getEncryptor(); },
                                             "This SealCkksContext doesn't have an encryptor");
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getRelinKeys(); }, "This SealCkksContext doesn't have reliniarization keys");
  expectThrowWithMessage<std::runtime_error>([&] { he.getGaloisKeys(); },
                                             "This SealCkksContext doesn't have galois keys");
  EXPECT_TRUE(he.hasSecretKey());
  EXPECT_NO_THROW(he.getDecryptor());
}

TEST(SealCkksContext, DefaultRotationKeysCoverEveryPowerOfTwoAndConjugation)
{
  HeConfigRequirement req = requirement(4096, 0, 30, 10, 0);
  req.publicFunctions = encryptOnly();
  req.publicFunctions.rotate = DEFAULT_ROTATIONS;
  req.publicFunctions.conjugate = DEFAULT;
  SealCkksContext he;
  he.init(req);
  const seal::GaloisKeys& keys = he.getGaloisKeys();
  const seal::util::GaloisTool& tool = *he.getSealContext().key_context_data()->galois_tool();
  for (int step = 1; step <= 2048; step *= 2) {
    EXPECT_TRUE(keys.has_key(tool.get_elt_from_step(step))) << step;
    EXPECT_TRUE(keys.has_key(tool.get_elt_from_step(-step))) << -step;
  }
  EXPECT_TRUE(keys.has_key(tool.get_elt_from_step(0)));
  EXPECT_FALSE(keys.has_key(tool.get_elt_from_step(3)));
  // Steps 2048 and -2048 are the same rotation of 4096 slots.
  EXPECT_EQ(keys.size(), 24u);
}

TEST(SealCkksContext, CustomRotationKeysAreExactlyTheListedSteps)
{
  struct Case
  {
    ConjugationSupport conjugate;
    std::vector<int> steps;
    size_t keys;
  };
  const Case cases[] = {{TRUE, {3, -5}, 3}, {FALSE, {3, -5, 3}, 2}, {DEFAULT, {}, 1}};
  for (const Case& c : cases) {
    HeConfigRequirement req = lightReq(1024, 0);
    req.publicFunctions.rotate = CUSTOM_ROTATIONS;
    req.publicFunctions.rotationSteps = c.steps;
    req.publicFunctions.conjugate = c.conjugate;
    SealCkksContext he;
    he.init(req);
    const seal::GaloisKeys& keys = he.getGaloisKeys();
    const seal::util::GaloisTool& tool = *he.getSealContext().key_context_data()->galois_tool();
    for (int step : c.steps)
      EXPECT_TRUE(keys.has_key(tool.get_elt_from_step(step))) << step;
    EXPECT_EQ(keys.has_key(tool.get_elt_from_step(0)), c.conjugate != FALSE);
    EXPECT_FALSE(keys.has_key(tool.get_elt_from_step(1)));
    EXPECT_EQ(keys.size(), c.keys);
  }
}

TEST(SealCkksContext, KeyCheckTellsTheOwnSecretKeyFromAnother)
{
  HeConfigRequirement req = lightReq(1024, 1);
  req.publicFunctions.relinearize = true;
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.rotationSteps = {1};
  SealCkksContext a;
  a.init(req);
  SealCkksContext b;
  b.init(req);
  auto keyOf = [](const SealCkksContext& he) {
    return SealCkksContext::createSecretKeyFromSeed(he.getEncryptionParams(),
                                                   he.getSecurityLevel(), *he.getSecretKeySeed());
  };
  seal::SecretKey keyA = keyOf(a);
  seal::SecretKey keyB = keyOf(b);
  seal::PublicKey publicA;
  seal::KeyGenerator(a.getSealContext(), keyA).create_public_key(publicA);
  EXPECT_TRUE(SealCkksParams::secretKeyMatchesPublicKey(a.getSealContext(), keyA, publicA));
  EXPECT_FALSE(SealCkksParams::secretKeyMatchesPublicKey(a.getSealContext(), keyB, publicA));
  EXPECT_TRUE(SealCkksParams::secretKeyMatchesSwitchingKeys(a.getSealContext(), keyA,
                                                            a.getRelinKeys()));
  EXPECT_FALSE(SealCkksParams::secretKeyMatchesSwitchingKeys(a.getSealContext(), keyB,
                                                             a.getRelinKeys()));
  EXPECT_TRUE(SealCkksParams::secretKeyMatchesSwitchingKeys(a.getSealContext(), keyA,
                                                            a.getGaloisKeys()));
  EXPECT_FALSE(SealCkksParams::secretKeyMatchesSwitchingKeys(a.getSealContext(), keyB,
                                                             a.getGaloisKeys()));
}

// ---------------------------------------------------------------------------
// Descriptions

TEST(SealCkksContext, SignaturePrint)
{
  SealCkksContext fresh;
  std::ostringstream uninitialised;
  fresh.printSignature(uninitialised);
  std::string text = uninitialised.str();
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "SEAL CKKS context. Context id=" + std::to_string(fresh.getContextId()) +
                " (not initialized)\n");

  SealCkksContext he;
  he.init(lightReq(1024, 0));
  std::ostringstream out;
  he.printSignature(out);
  std::string expected = "quorvane 1.5.3.0\nSEAL CKKS context. Context id=" +
                         std::to_string(he.getContextId()) +
                         " (WITH SECRET KEY)\nPolyDegree=2048\nSecurityLevel=0\n"
                         "Default scale=2^30\n";
  EXPECT_EQ(out.str(), expected);
}

TEST(SealCkksContext, DebugPrints)
{
  SealCkksContext fresh;
  std::ostringstream none, uninitialised;
  fresh.debugPrint("t", VERBOSITY_NONE, none);
  fresh.debugPrint("t", VERBOSITY_DETAILED, uninitialised);
  EXPECT_EQ(none.str(), "");
  EXPECT_EQ(uninitialised.str(), "uninitialized SEAL CKKS context\n");

  SealCkksContext he;
  he.init(lightReq(1024, 1));
  std::ostringstream low, regular;
  he.debugPrint("", VERBOSITY_LOW, low);
  he.debugPrint("mine", VERBOSITY_REGULAR, regular);
  EXPECT_EQ(low.str(), "context SealCkksContext: slots=1024, security=0\n");
  EXPECT_EQ(regular.str(), "context SealCkksContext mine: slots=1024, security=0\n");

  const auto& moduli = he.getEncryptionParams().coeff_modulus();
  std::string line(53, '=');
  std::ostringstream expected;
  expected << line << "\nZERE-ZIRU-ZAR Context: mine\n" << line << "\n"
           << "polyDegree                   : 2048\n"
           << "Default scale                : 2^30\n"
           << "slots                        : 1024\n"
           << "SecurityLevel                : 0\n"
           << "chain index                  : 2\n"
           << "coeff_modulus_size           : 3\n"
           << "total_coeff_modulus_bit_count: 110\n"
           << "modulusChainBits={ 40 30 40 }\n"
           << "coeff_modulus={ " << moduli[0].value() << ", " << moduli[1].value() << ", "
           << moduli[2].value() << " }\n";
  std::ostringstream detailed;
  he.debugPrint("mine", VERBOSITY_DETAILED, detailed);
  EXPECT_EQ(detailed.str(), expected.str() + line + "\n");

  // The product of the three primes as 64-bit words, least significant first.
  unsigned __int128 low2 = static_cast<unsigned __int128>(moduli[0].value()) * moduli[1].value();
  std::ostringstream extra;
  he.debugPrint("", VERBOSITY_EXTRA_DETAILED, extra);
  std::string text = extra.str();
  EXPECT_EQ(text.find("ZERE-ZIRU-ZAR Context\n"), line.size() + 1);
  size_t at = text.find("total_coeff_modulus={ ");
  ASSERT_NE(at, std::string::npos);
  std::istringstream words(text.substr(at + 22));
  uint64_t w0, w1, w2;
  char comma;
  words >> w0 >> comma >> w1 >> comma >> w2;
  unsigned __int128 product = low2 * moduli[2].value(); // wraps modulo 2^128
  EXPECT_EQ(w0, static_cast<uint64_t>(product));
  EXPECT_EQ(w1, static_cast<uint64_t>(product >> 64));
  // 110 bits need two words; the third is 0.
  EXPECT_EQ(w2, 0u);
}

// One realistic context: 8192 slots at security 128.
TEST(SealCkksContext, RealisticParametersAtSecurity128)
{
  HeConfigRequirement req(8192, 8, 40, 10);
  req.publicFunctions = encryptOnly();
  req.publicFunctions.relinearize = true;
  SealCkksContext he;
  he.init(req);
  EXPECT_EQ(he.getSignature(), "context_SEAL_KEY_DEG16384_MID40_EXT10_D8_SEC");
  EXPECT_EQ(he.getSecurityLevel(), 128);
  EXPECT_EQ(he.getTopChainIndex(), 8);
  std::vector<int> expectedBits = {50, 40, 40, 40, 40, 40, 40, 40, 40, 50};
  EXPECT_EQ(bitCounts(he.getEncryptionParams().coeff_modulus()), expectedBits);
  EXPECT_EQ(he.getModulusChain()->size(), 9u);
  std::vector<double> maxValues = he.getMaxAllowedValues();
  ASSERT_EQ(maxValues.size(), 9u);
  for (size_t i = 1; i < maxValues.size(); i++)
    EXPECT_DOUBLE_EQ((maxValues[i] + 1) / (maxValues[i - 1] + 1), std::ldexp(1.0, 40));
  std::vector<double> values = {3.5, -2.25};
  EXPECT_LT(maxError(roundTrip(he, he.getDecryptor(), values), values), 1e-6);
}

// ---------------------------------------------------------------------------
// Saved contexts and secret keys

namespace {

// 1024 slots, depth 2, every key: custom rotations 1 and -1, conjugation by default.
HeConfigRequirement persistReq()
{
  HeConfigRequirement req = requirement(1024, 2, 30, 10, 0);
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.rotationSteps = {1, -1};
  return req;
}

void loadSecretKeyFromString(SealCkksContext& he, const std::string& bytes, bool seedOnly)
{
  std::istringstream in(bytes);
  he.loadSecretKey(in, seedOnly);
}

} // namespace

TEST(SealCkksContextPersistence, LoadedContextMatchesTheSavedOne)
{
  SealCkksContext he;
  he.init(persistReq());
  std::ostringstream out;
  int64_t written = he.save(out);
  std::istringstream in(out.str());
  std::shared_ptr<HeContext> base = loadHeContext(in);
  auto loaded = std::dynamic_pointer_cast<SealCkksContext>(base);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(written, static_cast<int64_t>(out.str().size()));
  EXPECT_EQ(loaded->getContextId(), he.getContextId());
  EXPECT_EQ(loaded->getDefaultScale(), he.getDefaultScale());
  EXPECT_EQ(loaded->getSecurityLevel(), 0);
  EXPECT_EQ(loaded->getTopChainIndex(), 2);
  EXPECT_EQ(*loaded->getModulusChain(), *he.getModulusChain());
  for (int i = 0; i <= 2; i++)
    EXPECT_EQ(loaded->getAccurateScale(i), he.getAccurateScale(i));
  // The signature is recomputed from the loaded parameters.
  EXPECT_EQ(loaded->getSignature(), he.getSignature());
  EXPECT_FALSE(loaded->hasSecretKey());
  EXPECT_FALSE(loaded->getSecretKeySeed().has_value());
  EXPECT_NO_THROW(loaded->getRelinKeys());
  EXPECT_NO_THROW(loaded->getGaloisKeys());
  EXPECT_EQ(loaded->getHeConfigRequirement().publicFunctions.rotationSteps,
            (std::vector<int>{1, -1}));

  // What the loaded context encrypts, the saving context decrypts.
  std::vector<double> values = {1.5, -2.0, 0.125};
  EXPECT_LT(maxError(roundTrip(*loaded, he.getDecryptor(), values), values), 1e-4);
  std::ostringstream signature;
  loaded->printSignature(signature);
  EXPECT_NE(signature.str().find("(NO SECRET KEY)\nPolyDegree=2048\n"), std::string::npos);
}

TEST(SealCkksContextPersistence, SeedOnlyAndFullSecretKeys)
{
  SealCkksContext he;
  he.init(persistReq());
  std::string context = saved(he, he.getPublicFunctions());
  std::string seedOnly = savedKey(he, true);
  std::string full = savedKey(he, false);
  // Header (17 + "SECRETKEY"), the flag, 64 bytes of seed.
  EXPECT_EQ(seedOnly.size(), 26u + 1 + 64);
  EXPECT_GT(full.size(), 1000u);

  std::vector<double> values = {3.0, -0.5};
  auto bySeed = loadContext<SealCkksContext>(context);
  loadSecretKeyFromString(*bySeed, seedOnly, true);
  EXPECT_TRUE(bySeed->hasSecretKey());
  EXPECT_EQ(*bySeed->getSecretKeySeed(), *he.getSecretKeySeed());
  EXPECT_LT(maxError(roundTrip(he, bySeed->getDecryptor(), values), values), 1e-4);

  auto byKey = loadContext<SealCkksContext>(context);
  loadSecretKeyFromString(*byKey, full, false);
  EXPECT_FALSE(byKey->getSecretKeySeed().has_value());
  EXPECT_LT(maxError(roundTrip(he, byKey->getDecryptor(), values), values), 1e-4);
  // A key loaded in full has no seed to save.
  expectAssertion([&] { savedKey(*byKey, true); }, "seedArray.has_value()");
  EXPECT_EQ(savedKey(*byKey, false).size(), full.size());

  expectThrowWithMessage<std::runtime_error>(
      [&] { loadSecretKeyFromString(*byKey, full, false); },
      "this HeContext already has a secret key");
  expectThrowWithMessage<std::runtime_error>([&] { loadSecretKeyFromString(he, full, false); },
                                             "this HeContext already has a secret key");
  auto without = loadContext<SealCkksContext>(context);
  expectThrowWithMessage<std::runtime_error>([&] { savedKey(*without, false); },
                                             "this HeContext does not have a secret key");
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadSecretKeyFromString(*without, seedOnly, false); },
      "expecting seedOnly=false, but the given stream has seedOnly=true");
  SealCkksContext fresh;
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadSecretKeyFromString(fresh, seedOnly, true); },
      "HE context has not been initialized yet");
}

// Two contexts with the same key owners share a context id, so only the key
// check tells their secret keys apart.
TEST(SealCkksContextPersistence, SecretKeyOfAnotherContextIsRefused)
{
  struct Case
  {
    bool encrypt;
    bool relinearize;
    RotationSetType rotate;
  };
  for (const Case& c : {Case{true, false, NO_ROTATIONS}, Case{false, true, NO_ROTATIONS},
                        Case{false, false, CUSTOM_ROTATIONS}}) {
    HeConfigRequirement req = lightReq(1024, 1);
    req.publicFunctions.encrypt = c.encrypt;
    req.publicFunctions.relinearize = c.relinearize;
    req.publicFunctions.rotate = c.rotate;
    if (c.rotate == CUSTOM_ROTATIONS)
      req.publicFunctions.rotationSteps = {2};
    req.multiPartyConfig = MultiPartyConfig();
    req.multiPartyConfig->keyOwnersIds = {1, 2};
    SealCkksContext a, b;
    a.init(req);
    b.init(req);
    ASSERT_EQ(a.getContextId(), b.getContextId());
    auto loaded = loadContext<SealCkksContext>(saved(a, a.getPublicFunctions()));
    for (bool seedOnly : {true, false}) {
      expectThrowWithMessage<std::runtime_error>(
          [&] { loadSecretKeyFromString(*loaded, savedKey(b, seedOnly), seedOnly); },
          "The secret key does not match the public keys of this context");
      EXPECT_FALSE(loaded->hasSecretKey());
    }
    loadSecretKeyFromString(*loaded, savedKey(a, true), true);
    EXPECT_TRUE(loaded->hasSecretKey());
  }
}

TEST(SealCkksContextPersistence, SavingSubsetsOfThePublicFunctions)
{
  SealCkksContext he;
  he.init(persistReq());
  const PublicFunctions& own = he.getPublicFunctions();

  PublicFunctions noRelin = own;
  noRelin.relinearize = false;
  auto loaded = loadContext<SealCkksContext>(saved(he, noRelin));
  EXPECT_FALSE(loaded->getHeConfigRequirement().publicFunctions.relinearize);
  expectThrowWithMessage<std::runtime_error>(
      [&] { loaded->getRelinKeys(); }, "This SealCkksContext doesn't have reliniarization keys");
  EXPECT_NO_THROW(loaded->getGaloisKeys());
  EXPECT_NO_THROW(loaded->getEncryptor());

  auto encryptOnlyLoaded = loadContext<SealCkksContext>(saved(he, encryptOnly()));
  EXPECT_THROW(encryptOnlyLoaded->getGaloisKeys(), std::runtime_error);
  EXPECT_THROW(encryptOnlyLoaded->getRelinKeys(), std::runtime_error);
  std::vector<double> values = {0.75};
  EXPECT_LT(maxError(roundTrip(*encryptOnlyLoaded, he.getDecryptor(), values), values), 1e-4);

  const std::string refused =
      "SealCkksContext does not support saving a non-trivial subset of the conjugation and "
      "rotation keys";
  PublicFunctions conjugateTrue = own;
  conjugateTrue.conjugate = TRUE;
  PublicFunctions fewerSteps = own;
  fewerSteps.rotationSteps = {1};
  PublicFunctions onlyConjugation = encryptOnly();
  onlyConjugation.conjugate = DEFAULT;
  for (const PublicFunctions& pf : {conjugateTrue, fewerSteps, onlyConjugation}) {
    std::ostringstream out;
    expectThrowWithMessage<std::invalid_argument>([&] { he.save(out, pf); }, refused);
    EXPECT_EQ(out.str(), "");
  }
  PublicFunctions moreSteps = own;
  moreSteps.rotationSteps = {1, -1, 4};
  std::ostringstream out;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { he.save(out, moreSteps); },
      "The PublicFunctions to be saved must be a subset of the PublicFunctions used to "
      "initialized this HeContext");
}

TEST(SealCkksContextPersistence, AccurateScalesCloseTheSavedContext)
{
  SealCkksContext off;
  off.setUseAccurateScaling(false);
  off.init(lightReq(1024, 2));
  std::string bytes = saved(off, off.getPublicFunctions());
  EXPECT_EQ(bytes.back(), '\0');
  auto loadedOff = loadContext<SealCkksContext>(bytes);
  EXPECT_FALSE(loadedOff->getUseAccurateScaling());
  EXPECT_EQ(loadedOff->getDefaultScale(), std::ldexp(1.0, 30));

  SealCkksContext on;
  on.init(lightReq(1024, 2));
  std::string onBytes = saved(on, on.getPublicFunctions());
  ASSERT_GT(onBytes.size(), 25u);
  EXPECT_EQ(onBytes[onBytes.size() - 25], '\1');
  for (int i = 0; i <= 2; i++) {
    double stored;
    std::memcpy(&stored, onBytes.data() + onBytes.size() - 24 + 8 * i, 8);
    EXPECT_EQ(stored, on.getAccurateScale(i));
  }
}

TEST(SealCkksContextPersistence, FailedLoadLeavesTheContextUninitialisedAndUsable)
{
  SealCkksContext he;
  he.init(persistReq());
  std::string bytes = saved(he, he.getPublicFunctions());

  SealCkksContext target;
  target.setUseAccurateScaling(false);
  for (size_t cut : {bytes.size() - 1, bytes.size() - 30, bytes.size() / 2}) {
    std::istringstream truncated(bytes.substr(0, cut));
    EXPECT_THROW(target.load(truncated), std::exception) << cut;
    EXPECT_FALSE(target.isInitialized());
    EXPECT_EQ(target.getSignature(), "");
    EXPECT_FALSE(target.getUseAccurateScaling());
    EXPECT_THROW(target.getSealContext(), std::runtime_error);
  }
  std::istringstream whole(bytes);
  target.load(whole);
  EXPECT_TRUE(target.isInitialized());
  EXPECT_TRUE(target.getUseAccurateScaling());
  std::istringstream again(bytes);
  expectThrowWithMessage<std::runtime_error>([&] { target.load(again); },
                                             "This context is already initialized");

  SealCkksContext initialisedLater;
  std::istringstream truncated(bytes.substr(0, bytes.size() / 3));
  EXPECT_THROW(initialisedLater.load(truncated), std::exception);
  initialisedLater.init(lightReq());
  EXPECT_TRUE(initialisedLater.hasSecretKey());
}
