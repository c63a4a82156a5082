#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/StartupRegistration.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/SectionTimer.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesUtils.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/SigmoidCoefficients.h"
#include "math/bootstrap/seal/Chebyshev.h"

using namespace quorvane;

namespace {

// Every class that registers a loader at start-up; classes not built yet
// simply have no entry.
const std::set<std::string> LOADABLE_CLASSES = {
    "AesKey",        "CTile",       "CTileTensor",     "PTile",    "EncryptedBatch",
    "EncryptedData", "PTileTensor", "ProtocolMessage", "AesHTable"};

TEST(StartupRegistration, TileLoadersAreRegisteredBeforeMain)
{
  EXPECT_TRUE(startupRegistrationLinked());
  const Saveable::LoaderRegistry& registry = Saveable::getLoaderRegistry();
  ASSERT_EQ(registry.count("CTile"), 1u);
  ASSERT_EQ(registry.count("PTile"), 1u);
  ASSERT_EQ(registry.count("AesKey"), 1u);
  ASSERT_EQ(registry.count("AesHTable"), 1u);
  EXPECT_EQ(registry.at("CTile"), &CTile::createAndLoad);
  EXPECT_EQ(registry.at("PTile"), &PTile::createAndLoad);
  EXPECT_EQ(registry.at("AesKey"), &AesKey::createAndLoad);
  EXPECT_EQ(registry.at("AesHTable"), &AesHTable::createAndLoad);
  const std::vector<std::pair<std::string, Saveable::LoadFunction>> tensorLoaders = {
      {"CTileTensor", &CTileTensor::createAndLoad},
      {"PTileTensor", &PTileTensor::createAndLoad},
      {"EncryptedBatch", &EncryptedBatch::createAndLoad},
      {"EncryptedData", &EncryptedData::createAndLoad},
  };
  for (const auto& loader : tensorLoaders) {
    ASSERT_EQ(registry.count(loader.first), 1u) << loader.first;
    EXPECT_EQ(registry.at(loader.first), loader.second) << loader.first;
  }
  // Besides the library's classes only the fixtures of this test program
  // (named QvTest...) register.
  for (const auto& entry : registry)
    if (entry.first.rfind("QvTest", 0) != 0) {
      EXPECT_EQ(LOADABLE_CLASSES.count(entry.first), 1u) << entry.first;
    }
}

// What holds before main: the nine loaders and nothing else of the library,
// exactly the two prototypes, and every constant table complete.
TEST(StartupRegistration, RegistriesAndTablesAreCompleteBeforeMain)
{
  const std::vector<std::pair<std::string, Saveable::LoadFunction>> loaders = {
      {"AesKey", &AesKey::createAndLoad},
      {"CTile", &CTile::createAndLoad},
      {"CTileTensor", &CTileTensor::createAndLoad},
      {"PTile", &PTile::createAndLoad},
      {"EncryptedBatch", &EncryptedBatch::createAndLoad},
      {"EncryptedData", &EncryptedData::createAndLoad},
      {"PTileTensor", &PTileTensor::createAndLoad},
      {"ProtocolMessage", &ProtocolMessage::createAndLoad},
      {"AesHTable", &AesHTable::createAndLoad},
  };
  const Saveable::LoaderRegistry& registry = Saveable::getLoaderRegistry();
  size_t libraryEntries = 0;
  for (const auto& entry : registry)
    if (entry.first.rfind("QvTest", 0) != 0)
      ++libraryEntries;
  EXPECT_EQ(libraryEntries, loaders.size());
  for (const auto& loader : loaders) {
    ASSERT_EQ(registry.count(loader.first), 1u) << loader.first;
    EXPECT_EQ(registry.at(loader.first), loader.second) << loader.first;
  }

  // Besides the test contexts that other tests of this program register.
  std::vector<std::string> keys;
  for (const auto& entry : HeContext::getContextRegistry())
    if (entry.first.rfind("Test_", 0) != 0)
      keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"Mockup_Mockup", "SEAL_CKKS"}));
  EXPECT_EQ(typeid(*HeContext::getContextRegistry().at("SEAL_CKKS")), typeid(SealCkksContext));
  EXPECT_EQ(typeid(*HeContext::getContextRegistry().at("Mockup_Mockup")), typeid(MockupContext));

  EXPECT_EQ(SIGMOID_ORDER3_COEFS.size(), 4u);
  EXPECT_EQ(SIGMOID_ORDER7_COEFS.size(), 8u);
  EXPECT_EQ(SIGMOID_ORDER9_COEFS.size(), 10u);
  EXPECT_EQ(SectionTimer::getRoot().name, "all");
  EXPECT_EQ(RunStats::getOperationNames().size(), 17u);
  EXPECT_EQ(RunStats::getObjectNames().size(), 7u);
  ASSERT_EQ(chebyshevCosTable.size(), 51u);
  ASSERT_EQ(chebyshevSinTable.size(), 51u);
  for (size_t i = 0; i <= 50; ++i) {
    size_t expected = i < 13 ? 0 : i;
    EXPECT_EQ(chebyshevCosTable[i].size(), expected) << i;
    EXPECT_EQ(chebyshevSinTable[i].size(), expected) << i;
  }
}

TEST(StartupRegistration, DuplicateLoaderIsRefusedAndTheFirstKept)
{
  for (const char* name : {"CTile", "PTile", "AesKey", "AesHTable"}) {
    try {
      Saveable::registerLoadFunction(name, &CTile::createAndLoad);
      FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Duplicate load function of object ") + name);
    }
  }
  EXPECT_EQ(Saveable::getLoaderRegistry().at("PTile"), &PTile::createAndLoad);
  EXPECT_EQ(Saveable::getLoaderRegistry().at("AesKey"), &AesKey::createAndLoad);
}

TEST(StartupRegistration, AesTablesAreBuiltBeforeMain)
{
  EXPECT_EQ(AesUtils::keySizeToNumRoundKeys.size(), 3u);
  EXPECT_EQ(AesUtils::sBox.size(), 256u);
  EXPECT_EQ(AesUtils::invSBox.size(), 256u);
}

TEST(StartupRegistration, ContextRegistryHoldsUninitialisedPrototypes)
{
  EXPECT_TRUE(HeContext::isRegisteredContext("Mockup_Mockup"));
  EXPECT_FALSE(HeContext::isRegisteredContext("Mockup"));
  EXPECT_FALSE(HeContext::isRegisteredContext("CTile"));
  for (const auto& entry : HeContext::getContextRegistry()) {
    EXPECT_FALSE(entry.second->isInitialized()) << entry.first;
    EXPECT_EQ(entry.second->getRegistryKey(), entry.first);
  }
}

TEST(StartupRegistration, SavedTilesLoadThroughTheRegistry)
{
  std::shared_ptr<HeContext> he =
      HeContext::create("Mockup_Mockup", HeConfigRequirement::insecure(4, 3));
  Encoder encoder(*he);
  CTile c(*he);
  PTile p(*he);
  encoder.encodeEncrypt(c, std::vector<double>{1, 2, 3, 4}, 2);
  encoder.encode(p, std::vector<double>{-1, 0.5}, 1);

  std::stringstream savedC, savedP;
  c.save(savedC);
  p.save(savedP);
  std::shared_ptr<Saveable> loadedC = Saveable::loadSaveable(*he, savedC);
  std::shared_ptr<Saveable> loadedP = Saveable::loadSaveable(*he, savedP);
  ASSERT_EQ(typeid(*loadedC), typeid(CTile));
  ASSERT_EQ(typeid(*loadedP), typeid(PTile));
  const CTile& lc = static_cast<const CTile&>(*loadedC);
  const PTile& lp = static_cast<const PTile&>(*loadedP);
  EXPECT_EQ(lc.getChainIndex(), 2);
  EXPECT_EQ(lp.getChainIndex(), 1);
  EXPECT_EQ(encoder.decryptDecodeDouble(lc), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(encoder.decodeDouble(lp), (std::vector<double>{-1, 0.5, 0, 0}));
  EXPECT_TRUE(loadedC->isPopulated());

  // An unregistered class name in a header is refused by the lookup.
  std::stringstream unknown;
  SaveableHeader("NoSuchClass", he->getContextId()).save(unknown);
  try {
    Saveable::loadSaveable(*he, unknown);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "File contains unrecognized Saveable object NoSuchClass");
  }
}

} // namespace
