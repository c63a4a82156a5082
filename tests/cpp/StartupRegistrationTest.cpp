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
#include "hebase/StartupRegistration.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesUtils.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"

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
