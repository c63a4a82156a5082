#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "TestUtils.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksParams.h"
#include "hebase/seal/SealMeasures.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

// A saved-object header with class name "HeContext" or "SECRETKEY": magic,
// version, the name as a length-prefixed NUL-terminated string, the id.
size_t headerSize(const std::string& className) { return 4 + 4 + 4 + className.size() + 1 + 4; }

// Checks the SEAL serialization header at pos and returns the blob's size.
size_t sealBlobAt(const std::string& bytes, size_t pos, int comprMode)
{
  EXPECT_LE(pos + 16, bytes.size());
  if (pos + 16 > bytes.size())
    return bytes.size();
  EXPECT_EQ(static_cast<unsigned char>(bytes[pos]), 0x5E);
  EXPECT_EQ(static_cast<unsigned char>(bytes[pos + 1]), 0xA1);
  EXPECT_EQ(static_cast<unsigned char>(bytes[pos + 2]), 16);
  EXPECT_EQ(static_cast<int>(bytes[pos + 5]), comprMode);
  uint64_t size;
  std::memcpy(&size, bytes.data() + pos + 8, 8);
  return static_cast<size_t>(size);
}

class ScopedEnvAndDir
{
public:
  ScopedEnvAndDir() : oldDir(std::filesystem::current_path())
  {
    const char* old = std::getenv("QUORVANE_RESOURCES_DIR");
    hadOld = old != nullptr;
    if (hadOld)
      oldValue = old;
  }
  ~ScopedEnvAndDir()
  {
    std::filesystem::current_path(oldDir);
    if (hadOld)
      setenv("QUORVANE_RESOURCES_DIR", oldValue.c_str(), 1);
    else
      unsetenv("QUORVANE_RESOURCES_DIR");
  }

private:
  std::filesystem::path oldDir;
  bool hadOld;
  std::string oldValue;
};

} // namespace

// The saved context: header, common record, then parameters, scale, level,
// the keys the saved functions ask for (uncompressed SEAL blobs), the
// accurate-scaling byte and the scales of chain indexes 0 to top.
TEST(SealContextLayout, SavedContextFieldsForEachSubsetOfKeys)
{
  HeConfigRequirement r = requirement(1024, 2, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1, 3});
  SealCkksContext he;
  he.init(r);
  const PublicFunctions& own = he.getPublicFunctions();
  struct Case
  {
    PublicFunctions pf;
    std::vector<std::string> keys; // which key blobs follow the level
  };
  const Case cases[] = {
      {own, {"public", "relin", "galois"}},
      {publicFunctions(true, false, NO_ROTATIONS, FALSE), {"public"}},
      {publicFunctions(false, true, NO_ROTATIONS, FALSE), {"relin"}},
      {publicFunctions(false, false, CUSTOM_ROTATIONS, DEFAULT, {3, 1}), {"galois"}},
      {publicFunctions(false, false, NO_ROTATIONS, FALSE), {}},
  };
  for (const Case& c : cases) {
    std::string bytes = saved(he, c.pf);
    std::ostringstream base;
    he.HeContext::saveImpl(base, c.pf);
    size_t pos = headerSize("HeContext");
    ASSERT_EQ(bytes.substr(pos, base.str().size()), base.str());
    pos += base.str().size();

    size_t parmsSize = sealBlobAt(bytes, pos, 0);
    seal::EncryptionParameters parms;
    std::istringstream parmsBlob(bytes.substr(pos, parmsSize));
    parms.load(parmsBlob);
    EXPECT_TRUE(parms == he.getEncryptionParams());
    pos += parmsSize;
    EXPECT_EQ(doubleAt(bytes, pos), he.getDefaultScale());
    EXPECT_EQ(int32At(bytes, pos + 8), 0);
    pos += 12;
    for (const std::string& key : c.keys) {
      size_t size = sealBlobAt(bytes, pos, 0);
      std::istringstream blob(bytes.substr(pos, size));
      if (key == "public") {
        seal::PublicKey k;
        EXPECT_NO_THROW(k.load(he.getSealContext(), blob));
      } else if (key == "relin") {
        seal::RelinKeys k;
        EXPECT_NO_THROW(k.load(he.getSealContext(), blob));
      } else {
        seal::GaloisKeys k;
        EXPECT_NO_THROW(k.load(he.getSealContext(), blob));
        EXPECT_EQ(k.size(), 3u); // steps 1 and 3 and the conjugation
      }
      pos += size;
    }
    ASSERT_EQ(bytes.size(), pos + 1 + 3 * 8);
    EXPECT_EQ(bytes[pos], 1);
    for (int i = 0; i <= 2; i++)
      EXPECT_EQ(doubleAt(bytes, pos + 1 + 8 * i), he.getAccurateScale(i));
  }
}

TEST(SealContextLayout, SavedSecretKeys)
{
  SealCkksContext he;
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  he.init(r);
  size_t header = headerSize("SECRETKEY");
  std::string seed = savedKey(he, true);
  ASSERT_EQ(seed.size(), header + 1 + 64);
  EXPECT_EQ(seed[header], 1);
  for (size_t w = 0; w < 8; w++) {
    uint64_t word;
    std::memcpy(&word, seed.data() + header + 1 + 8 * w, 8);
    EXPECT_EQ(word, (*he.getSecretKeySeed())[w]);
  }
  std::string full = savedKey(he, false);
  EXPECT_EQ(full.substr(0, 4), seed.substr(0, 4));
  EXPECT_EQ(full[header], 0);
  // The key blob is compressed with Zstandard (mode 2) and fills the rest.
  EXPECT_EQ(sealBlobAt(full, header + 1, 2), full.size() - header - 1);
}

// A seed regenerates exactly the key that was saved in full.
TEST(SealContextLayout, SeedOnlyKeyRegeneratesTheSameKey)
{
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, true, NO_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  std::string context = saved(he, he.getPublicFunctions());
  auto loaded = loadContext<SealCkksContext>(context);
  ASSERT_NE(loaded, nullptr);
  std::istringstream seed(savedKey(he, true));
  loaded->loadSecretKey(seed, true);
  EXPECT_EQ(*loaded->getSecretKeySeed(), *he.getSecretKeySeed());
  seal::SecretKey original = SealCkksContext::createSecretKeyFromSeed(
      he.getEncryptionParams(), he.getSecurityLevel(), *he.getSecretKeySeed());
  seal::SecretKey regenerated = SealCkksContext::createSecretKeyFromSeed(
      loaded->getEncryptionParams(), loaded->getSecurityLevel(), *loaded->getSecretKeySeed());
  ASSERT_EQ(original.data().coeff_count(), regenerated.data().coeff_count());
  EXPECT_TRUE(std::equal(original.data().data(),
                         original.data().data() + original.data().coeff_count(),
                         regenerated.data().data()));
  // Saved in full, both contexts write the same key.
  EXPECT_EQ(savedKey(*loaded, false), savedKey(he, false));
}

// Saving a loaded context writes the bytes it was loaded from.
TEST(SealContextLayout, SaveLoadSaveIsStable)
{
  HeConfigRequirement r = requirement(1024, 2, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, true, CUSTOM_ROTATIONS, TRUE, {2});
  for (bool accurate : {true, false}) {
    SealCkksContext he;
    he.setUseAccurateScaling(accurate);
    he.init(r);
    std::string bytes = saved(he, he.getPublicFunctions());
    auto loaded = loadContext<SealCkksContext>(bytes);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(saved(*loaded, loaded->getPublicFunctions()), bytes);
  }
}

// The scales are taken from the file, not recomputed.
TEST(SealContextLayout, LoadedScalesAreTheSavedOnes)
{
  HeConfigRequirement r = requirement(1024, 2, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  std::string bytes = saved(he, he.getPublicFunctions());
  double changed = he.getAccurateScale(2) * 1.5;
  std::memcpy(&bytes[bytes.size() - 8], &changed, 8);
  auto loaded = loadContext<SealCkksContext>(bytes);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getAccurateScale(2), changed);
  EXPECT_EQ(loaded->getAccurateScale(1), he.getAccurateScale(1));
  // The default scale is field 2, which was not changed.
  EXPECT_EQ(loaded->getDefaultScale(), he.getDefaultScale());
}

TEST(SealContextLoad, ContextOfAnotherBackendIsRefusedAndLeavesTheContextUsable)
{
  std::shared_ptr<HeContext> mockup =
      HeContext::create("Mockup_Mockup", HeConfigRequirement::insecure(1024, 2));
  std::ostringstream out;
  mockup->save(out);
  SealCkksContext he;
  std::istringstream in(out.str());
  EXPECT_EQ(messageOf<std::runtime_error>([&] { he.load(in); }),
            "Context for SEAL_CKKS trying to read a context for Mockup_Mockup");
  EXPECT_FALSE(he.isInitialized());
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  he.init(r);
  EXPECT_TRUE(he.hasSecretKey());
}

// Saved SEAL parameters that this context could not have made are refused,
// and the context stays uninitialised.
TEST(SealContextLoad, ParametersOfAnotherShapeAreRefused)
{
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  PublicFunctions noKeys = publicFunctions(false, false, NO_ROTATIONS, FALSE);
  std::string bytes = saved(he, noKeys);
  std::ostringstream base;
  he.HeContext::saveImpl(base, noKeys);
  size_t parmsAt = headerSize("HeContext") + base.str().size();
  size_t parmsSize = sealBlobAt(bytes, parmsAt, 0);

  seal::EncryptionParameters bfv(seal::scheme_type::bfv);
  bfv.set_poly_modulus_degree(2048);
  bfv.set_coeff_modulus(seal::CoeffModulus::Create(2048, {30, 30}));
  bfv.set_plain_modulus(65537);
  seal::EncryptionParameters onePrime(seal::scheme_type::ckks);
  onePrime.set_poly_modulus_degree(2048);
  onePrime.set_coeff_modulus(seal::CoeffModulus::Create(2048, {40}));
  seal::EncryptionParameters otherDegree =
      SealCkksContext::createEncryptionParameters(4096, 30, 1, 10);
  struct Case
  {
    const seal::EncryptionParameters& parms;
    std::string message;
  };
  for (const Case& c :
       {Case{bfv, "The saved SEAL parameters are not CKKS parameters"},
        Case{onePrime, "The coefficient modulus must hold at least two primes"},
        Case{otherDegree,
             "The saved requirement's slot count does not match the saved SEAL parameters"}}) {
    SCOPED_TRACE(c.message);
    std::ostringstream parms;
    c.parms.save(parms, seal::compr_mode_type::none);
    std::string changed =
        bytes.substr(0, parmsAt) + parms.str() + bytes.substr(parmsAt + parmsSize);
    SealCkksContext target;
    std::istringstream in(changed);
    try {
      target.load(in);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(target.isInitialized());
    EXPECT_EQ(target.getSignature(), "");
    EXPECT_THROW(target.getSealContext(), std::runtime_error);
  }
  // The unchanged bytes load.
  auto loaded = loadContext<SealCkksContext>(bytes);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getSignature(), he.getSignature());
}

TEST(SealContextFeasibility, BoundariesOfEachRowOfTheTable)
{
  SealCkksContext he;
  struct Case
  {
    HeConfigRequirement r;
    bool feasible;
  };
  const Case cases[] = {
      {requirement(8192, 8, 40, 19, 128), true},    // 400 + 38 = 438
      {requirement(8192, 8, 40, 20, 128), false},   // 440
      {requirement(4096, 3, 30, 1, 192), true},     // 150 + 2 = 152
      {requirement(4096, 3, 30, 2, 192), false},    // 154
      {requirement(8192, 3, 45, 6, 256), true},     // 225 + 12 = 237
      {requirement(8192, 3, 45, 7, 256), false},    // 239
      {requirement(16384, 18, 40, 10, 128), true},  // 820 <= 881
      {requirement(16384, 20, 40, 10, 128), false}, // 900
      {requirement(512, 0, 5, 2, 200), true},       // 14 bits at 256
      {requirement(1024, 0, 50, 10, 0), true},      // 60 bits
      {requirement(1024, 0, 50, 11, 0), false},     // 61 bits
      {requirement(1024, 0, 49, 12, 256), false},   // 61 bits before the table
      {requirement(2048, 0, 20, 40, 128), false},   // 60-bit primes, 120 > 109
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
    EXPECT_EQ(he.isConfigRequirementFeasible(cases[i].r), cases[i].feasible) << "case " << i;
  // The 60-bit test comes before the table, so an unsupported level is not reached.
  EXPECT_FALSE(he.isConfigRequirementFeasible(requirement(1024, 0, 50, 11, 300)));
}

TEST(SealContextFeasibility, PlanningQueriesNeverDivideByZero)
{
  SealCkksContext he;
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(1024, -2, -1, 10, 128)), -1);
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(1024, -5, -1, 10, 0)), -1);
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(1024, -1, -3, 10, 128)), -1);
  // Degree 32768 at 192: (611 - 20) / 40 - 2 = 12; at 256: (476 - 20) / 40 - 2 = 9.
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(16384, -1, 40, 10, 192)), 12);
  EXPECT_EQ(he.getBestFeasibleMulDepth(requirement(16384, -1, 40, 10, 256)), 9);
  // (218 - 20) / 6 = 33, capped at 60 - 10.
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(4096, 4, -1, 10, 128)), 33);
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(4096, 0, -1, 10, 128)), 50);
  // A degree outside the table leaves (0 - 20) / 3 = -6.
  EXPECT_EQ(he.getBestFeasibleFractionalPartPrecision(requirement(1000, 1, -1, 10, 128)), -6);
}

TEST(SealContextInit, AutomaticBootstrappingWithoutBootstrappingFailsItsAssertion)
{
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.automaticBootstrapping = true;
  SealCkksContext he;
  std::string message = messageOf<assert_error>([&] { he.init(r); });
  EXPECT_NE(message.find("Assertion failed: !getAutomaticBootstrapping()"), std::string::npos)
      << message;
  EXPECT_FALSE(he.isInitialized());
  EXPECT_EQ(messageOf<assert_error>([&] { HeContext::create("SEAL_CKKS", r); }), message);
}

TEST(SealContextInit, BootstrapEvaluatorNeedsBootstrappingSupport)
{
  SealCkksContext he;
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  he.init(r);
  std::string message =
      messageOf<assert_error>([&] { he.createAbstractBootstrapEvaluator(BootstrapConfig()); });
  EXPECT_NE(message.find(
                "Assertion failed: getHeContext().getTraits().getSupportsCKKSBootstrapping()"),
            std::string::npos)
      << message;
}

TEST(SealContextInit, DepthZeroParametersAndDescriptions)
{
  HeConfigRequirement r = requirement(2048, 0, 35, 5, 0);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  const auto& moduli = he.getEncryptionParams().coeff_modulus();
  ASSERT_EQ(moduli.size(), 2u);
  EXPECT_EQ(moduli[0].bit_count(), 40);
  EXPECT_EQ(moduli[1].bit_count(), 40);
  EXPECT_EQ(he.getSignature(), "context_SEAL_KEY_DEG4096_MID40_EXT0_D0_INSEC");
  EXPECT_EQ(he.getTopChainIndex(), 0);
  EXPECT_EQ(he.getDefaultScale(), std::ldexp(1.0, 35));
  // 2^(40 - 35 - 2) - 1
  EXPECT_EQ(he.getMaxAllowedValues(), std::vector<double>{7.0});
  std::ostringstream detailed;
  he.debugPrint("", VERBOSITY_DETAILED, detailed);
  EXPECT_NE(detailed.str().find("Default scale                : 2^35\n"
                                "slots                        : 2048\n"
                                "SecurityLevel                : 0\n"
                                "chain index                  : 1\n"
                                "coeff_modulus_size           : 2\n"
                                "total_coeff_modulus_bit_count: 80\n"
                                "modulusChainBits={ 40 40 }\n"),
            std::string::npos)
      << detailed.str();
}

// Without QUORVANE_RESOURCES_DIR the measures file is looked up in
// "../resources" from the working directory, so programs run from a folder
// one level below the repository root (examples/, src/) find its file.
TEST(SealContextMeasures, DefaultResourcesDirectoryIsRelativeToTheWorkingDirectory)
{
  ScopedEnvAndDir restore;
  unsetenv("QUORVANE_RESOURCES_DIR");
  EXPECT_EQ(SealMeasures::getMeasuresFilePath(), "../resources/optimizer/seal.json");
  std::filesystem::path root = std::filesystem::path(QUORVANE_TEST_RESOURCES).parent_path();
  SealCkksContext he;
  for (const char* dir : {"examples", "src"}) {
    ASSERT_TRUE(std::filesystem::is_directory(root / dir)) << dir;
    std::filesystem::current_path(root / dir);
    std::map<std::string, int64_t> measures = he.getEstimatedMeasures();
    EXPECT_GT(measures.at("slots_4096.multiply_raw_us"), 0) << dir;
    EXPECT_EQ(measures.at("slots_4096.poly_degree"), 8192) << dir;
  }
  std::filesystem::current_path(root);
  EXPECT_EQ(messageOf<std::runtime_error>([&] { he.getEstimatedMeasures(); }),
            "SEAL measures file not found at: ../resources/optimizer/seal.json");
  // Set, even to an empty value, the variable is used as it is.
  setenv("QUORVANE_RESOURCES_DIR", "", 1);
  EXPECT_EQ(SealMeasures::getMeasuresFilePath(), "/optimizer/seal.json");
}

TEST(SealContextMeasures, ShippedFileHoldsMeasuredCostsForEachParameterSet)
{
  std::map<std::string, int64_t> m =
      SealMeasures::readFile(std::string(QUORVANE_TEST_RESOURCES) + "/optimizer/seal.json");
  for (int slots : {2048, 4096, 8192, 16384}) {
    std::string p = "slots_" + std::to_string(slots) + ".";
    EXPECT_EQ(m.at(p + "poly_degree"), 2 * slots);
    // The measured parameters are feasible at 128 bits.
    HeConfigRequirement r = requirement(slots, static_cast<int>(m.at(p + "multiplication_depth")),
                                        static_cast<int>(m.at(p + "fractional_bits")),
                                        static_cast<int>(m.at(p + "integer_bits")), 128);
    EXPECT_TRUE(SealCkksContext().isConfigRequirementFeasible(r)) << slots;
    for (const char* op : {"encode_us", "encrypt_us", "add_us", "multiply_raw_us",
                           "relinearize_us", "rescale_us", "rotate_us", "decrypt_us"})
      EXPECT_GT(m.at(p + op), 0) << p << op;
    // Key switching costs more than an addition.
    EXPECT_GT(m.at(p + "relinearize_us"), m.at(p + "add_us")) << p;
  }
}

TEST(SealContextMeasures, LeavesThatAreNotWholeIntegersAreSkipped)
{
  std::istringstream in(R"({"a": {"b": 5, "c": "x"}, "d": 7, "s": "12", "t": "5x",
    "u": " 5", "v": "1e3", "w": "", "x": "-", "y": {}, "z": [], "n": -0,
    "arr": [{"k": 1}], "nested": {"deeper": {"deepest": 42}}})");
  std::map<std::string, int64_t> expected = {
      {"a.b", 5}, {"d", 7}, {"s", 12}, {"n", 0}, {"nested.deeper.deepest", 42}};
  EXPECT_EQ(SealMeasures::parse(in), expected);
}

// Custom rotations without steps still make (empty) Galois keys, which save
// and load like any other.
TEST(SealContextLayout, CustomRotationsWithoutStepsSaveAndLoad)
{
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(true, false, CUSTOM_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  EXPECT_EQ(he.getGaloisKeys().size(), 0u);
  std::string bytes = saved(he, he.getPublicFunctions());
  auto loaded = loadContext<SealCkksContext>(bytes);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getGaloisKeys().size(), 0u);
  std::istringstream seed(savedKey(he, true));
  loaded->loadSecretKey(seed, true);
  EXPECT_TRUE(loaded->hasSecretKey());
}

TEST(SealContextMeasures, UnreadableFileRaisesAnError)
{
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("seal-measures-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "optimizer" / "seal.json");
  EXPECT_THROW(SealMeasures::readFile((dir / "optimizer" / "seal.json").string()),
               std::exception);
  std::filesystem::remove_all(dir);
}

// A context saved with nothing but an empty set of Galois keys has no key to
// check a secret key against; its own key still loads.
TEST(SealContextLoad, OwnSecretKeyLoadsIntoAContextWithoutCheckableKeys)
{
  HeConfigRequirement r = requirement(1024, 1, 30, 10, 0);
  r.publicFunctions = publicFunctions(false, false, CUSTOM_ROTATIONS, FALSE);
  SealCkksContext he;
  he.init(r);
  for (bool seedOnly : {true, false}) {
    auto loaded = loadContext<SealCkksContext>(saved(he, he.getPublicFunctions()));
    ASSERT_NE(loaded, nullptr);
    std::istringstream key(savedKey(he, seedOnly));
    loaded->loadSecretKey(key, seedOnly);
    EXPECT_TRUE(loaded->hasSecretKey());
  }
}
