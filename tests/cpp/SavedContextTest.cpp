#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/SavedContext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

TEST(SavedContextTest, MockupContextIsByteExact)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  Bytes expected;
  expected.header("HeContext", he->getContextId())
      .str("Mockup_Mockup")
      .f64(1.0)
      .i32(DEVICE_CPU)
      // requirement: counts, security, flags, no optional parts
      .i32(16).i32(5).i32(-1).i32(-1).i32(0).b(false).b(false).b(false).b(false)
      // public functions: encrypt, relinearize, DEFAULT_ROTATIONS, DEFAULT, no steps
      .b(true).b(true).i32(1).i32(1).i32(0)
      // the mockup's own part: chain indexes enabled
      .b(true);
  std::ostringstream out;
  EXPECT_EQ(he->save(out), 95);
  EXPECT_EQ(out.str(), expected.data);
  EXPECT_EQ(out.str().size(), 95u);
}

TEST(SavedContextTest, BootstrappableMockupContextCarriesItsConfiguration)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 6);
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  req.bootstrapConfig = BootstrapConfig();
  std::shared_ptr<HeContext> he = createMockup(req);
  he->setDefaultScale(2.0);
  Bytes expected;
  expected.header("HeContext", he->getContextId())
      .str("Mockup_Mockup")
      .f64(2.0)
      .i32(DEVICE_CPU)
      .i32(8).i32(6).i32(-1).i32(-1).i32(0).b(true).b(true)
      // the configuration with the chain indexes the context wrote into it
      .b(true).i32(14).b(false).b(false).i32(4).i32(0).i32(0)
      .b(true).b(true).b(true).b(true).b(false).b(false).b(false).i32(0)
      .b(false)
      .b(true).b(true).i32(1).i32(1).i32(0)
      .b(true);
  EXPECT_EQ(saved(*he), expected.data);

  std::istringstream in(expected.data);
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  EXPECT_TRUE(loaded->getAutomaticBootstrapping());
  EXPECT_EQ(loaded->getMinChainIndexForBootstrapping(), 0);
  EXPECT_EQ(loaded->getChainIndexAfterBootstrapping(), 4);
  EXPECT_DOUBLE_EQ(loaded->getDefaultScale(), 2.0);
  // The loaded context bootstraps with a new evaluator.
  MockupContext& m = dynamic_cast<MockupContext&>(*loaded);
  std::istringstream key(savedKey(*he));
  m.loadSecretKey(key);
  CTile c(*loaded);
  Encoder(*loaded).encodeEncrypt(c, std::vector<double>{3}, 0);
  c.bootstrap();
  EXPECT_EQ(c.getChainIndex(), 4);
}

TEST(SavedContextTest, SecretKeyIsByteExact)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string key = savedKey(*he);
  EXPECT_EQ(key, Bytes().header("SECRETKEY", he->getContextId()).b(false).data);
  EXPECT_EQ(key.size(), 27u);
  std::ostringstream out;
  EXPECT_EQ(he->saveSecretKey(out), 27);
}

TEST(SavedContextTest, RoundTripThroughLoadHeContext)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(32, 4, 30, 8);
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.rotationSteps = {1, 4};
  std::shared_ptr<HeContext> he = createMockup(req);
  he->setDefaultScale(1024.0);
  he->setDefaultDevice(DEVICE_GPU);
  std::ostringstream out;
  int64_t written = he->save(out);

  std::istringstream in(out.str());
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  ASSERT_NE(dynamic_cast<MockupContext*>(loaded.get()), nullptr);
  EXPECT_EQ(static_cast<int64_t>(in.tellg()), written);
  EXPECT_EQ(loaded->getContextId(), he->getContextId());
  EXPECT_DOUBLE_EQ(loaded->getDefaultScale(), 1024.0);
  EXPECT_EQ(loaded->getDefaultDevice(), DEVICE_GPU);
  EXPECT_EQ(saved(*loaded), out.str());
  EXPECT_FALSE(loaded->hasSecretKey());
  std::vector<int> steps;
  EXPECT_TRUE(loaded->decomposeRotation(5, steps));
  EXPECT_EQ(steps.size(), 2u);

  std::shared_ptr<HeContext> direct = HeContext::create(std::vector<std::string>{"Mockup_Mockup"});
  std::istringstream again(out.str());
  EXPECT_EQ(direct->load(again), written);
  EXPECT_EQ(direct->getHeConfigRequirement().publicFunctions.rotationSteps,
            (std::vector<int>{1, 4}));
}

TEST(SavedContextTest, NonCustomRotationsStillBuildTheRotationMapOnLoad)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::istringstream in(saved(*he));
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  std::vector<int> steps;
  EXPECT_TRUE(loaded->decomposeRotation(0, steps));
  EXPECT_TRUE(steps.empty());
  EXPECT_FALSE(loaded->decomposeRotation(3, steps));
}

TEST(SavedContextTest, SecretKeyMovesTheKeyFlag)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::istringstream in(saved(*he));
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  std::istringstream key(savedKey(*he));
  EXPECT_EQ(loaded->loadSecretKey(key), 27);
  EXPECT_TRUE(loaded->hasSecretKey());
  std::istringstream keyAgain(savedKey(*he));
  expectThrowWithMessage<std::runtime_error>([&] { he->loadSecretKey(keyAgain); },
                                             "this HeContext already has a secret key");
}

TEST(SavedContextTest, SavingWithFewerPublicFunctions)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  PublicFunctions encryptOnly;
  encryptOnly.clear();
  encryptOnly.encrypt = true;
  std::ostringstream out;
  he->save(out, encryptOnly);
  std::istringstream in(out.str());
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  const PublicFunctions& pf = loaded->getPublicFunctions();
  EXPECT_TRUE(pf.encrypt);
  EXPECT_FALSE(pf.relinearize);
  EXPECT_EQ(pf.rotate, NO_ROTATIONS);
  EXPECT_EQ(pf.conjugate, FALSE);

  // Saving more than the context has is refused before anything is written.
  PublicFunctions more;
  std::ostringstream refused;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { loaded->save(refused, more); },
      "The PublicFunctions to be saved must be a subset of the PublicFunctions used to "
      "initialized this HeContext");
  EXPECT_EQ(refused.str(), "");
}

TEST(SavedContextTest, SavingRefusals)
{
  MockupContext fresh;
  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>([&] { fresh.save(out); },
                                             "HE context has not been initialized yet");
  EXPECT_EQ(out.str(), "");
  expectThrowWithMessage<std::runtime_error>([&] { fresh.saveSecretKey(out); },
                                             "this HeContext does not have a secret key");
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  expectThrowWithMessage<std::runtime_error>(
      [&] { he->saveSecretKey(out, true); },
      "this HeContext does not support secret key I/O using seeds");
  EXPECT_EQ(out.str(), "");

  EmptyContext empty;
  empty.init(HeConfigRequirement::insecure(4, 2));
  expectThrowWithMessage<std::runtime_error>([&] { empty.save(out); }, "Not implemented");
}

TEST(SavedContextTest, LoadRefusalsLeaveTheContextAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string context = saved(*he);
  std::string key = savedKey(*he);
  std::string otherBackend = context;
  otherBackend.replace(otherBackend.find("Mockup_Mockup"), 13, "Mockup_Mockop");

  struct Case
  {
    const char* name;
    std::string bytes;
    std::string message;
  };
  std::vector<Case> cases = {
      {"secret key as context", key, "loading failed due to a mismatching class name field"},
      {"other backend", otherBackend,
       "Context for Mockup_Mockup trying to read a context for Mockup_Mockop"},
      {"truncated", context.substr(0, 60), ""},
      {"not a saved object", std::string(40, 'x'),
       "Input file is corrupt, or not an Quorvane file."},
  };
  for (const Case& c : cases) {
    std::shared_ptr<HeContext> fresh = HeContext::create(std::vector<std::string>{"Mockup_Mockup"});
    int32_t idBefore = fresh->getContextId();
    std::istringstream in(c.bytes);
    try {
      fresh->load(in);
      ADD_FAILURE() << c.name;
    } catch (const std::runtime_error& e) {
      if (!c.message.empty()) {
        EXPECT_EQ(std::string(e.what()), c.message) << c.name;
      }
    }
    // The failed load leaves the context uninitialised, with its own id, and
    // ready for another load.
    EXPECT_FALSE(fresh->isInitialized()) << c.name;
    EXPECT_EQ(fresh->getContextId(), idBefore) << c.name;
    EXPECT_EQ(fresh->getHeConfigRequirement().numSlots, -1) << c.name;
    std::istringstream good(context);
    fresh->load(good);
    EXPECT_EQ(fresh->getContextId(), he->getContextId()) << c.name;
  }
}

TEST(SavedContextTest, LoadIntoAnInitialisedContextAdoptsNothing)
{
  std::shared_ptr<HeContext> a = createMockup(16, 5);
  std::shared_ptr<HeContext> b = createMockup(8, 2);
  int32_t idBefore = b->getContextId();
  std::istringstream in(saved(*a));
  expectThrowWithMessage<std::runtime_error>([&] { b->load(in); },
                                             "HE context has already been initialized");
  EXPECT_EQ(b->getContextId(), idBefore);
  EXPECT_EQ(b->slotCount(), 8);
  EXPECT_TRUE(b->hasSecretKey());
}

TEST(SavedContextTest, LoadedValuesAreValidated)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string context = saved(*he);
  size_t device = 4 + 4 + 4 + 10 + 4 + 4 + 14 + 8;
  std::string badDevice = context;
  badDevice[device] = 7;
  std::string noSlots = context;
  noSlots.replace(device + 4, 4, Bytes().i32(-1).data);
  std::string autoWithoutBootstrap = context;
  autoWithoutBootstrap[device + 4 + 20 + 1] = 1;
  std::string longKey = context;
  longKey.replace(26, 4, Bytes().i32(10241).data);
  std::string emptyKey = context;
  emptyKey.replace(26, 4, Bytes().i32(0).data);
  std::string unterminatedKey = context;
  unterminatedKey[30 + 13] = 'x';

  std::vector<std::pair<std::string, std::string>> cases = {
      {badDevice, "Saved context holds an invalid device type 7"},
      {noSlots, "Invalid saved HeContext: numSlots is -1 (not set), expected the context's "
                "slot count"},
      {emptyKey, "Invalid saved HeContext: the registry key has stored length 0, expected at "
                 "least 1"},
      {unterminatedKey, "Invalid saved HeContext: the registry key does not end with a NUL byte"},
      {autoWithoutBootstrap,
       "Saved context asks for automatic bootstrapping but is not bootstrappable"},
      {longKey, "Input stream is corrupt.\nAttempting to load from stream a string of size "
                "10241 where the expected maximum at current position is 10240"},
  };
  for (const auto& c : cases) {
    MockupContext fresh;
    std::istringstream in(c.first);
    expectThrowWithMessage<std::runtime_error>([&] { fresh.load(in); }, c.second);
    EXPECT_FALSE(fresh.isInitialized());
  }
}

TEST(SavedContextTest, MockupBytesIntoASealContextAreRefused)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  SealCkksContext seal;
  std::istringstream in(saved(*he));
  expectThrowWithMessage<std::runtime_error>(
      [&] { seal.load(in); }, "Context for SEAL_CKKS trying to read a context for Mockup_Mockup");
  EXPECT_FALSE(seal.isInitialized());
}

TEST(SavedContextTest, StaticLoadRefusals)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string context = saved(*he);
  std::string unknown = context;
  unknown.replace(unknown.find("Mockup_Mockup"), 13, "Mockup_Mockop");
  std::istringstream in(unknown);
  expectThrowWithMessage<std::runtime_error>([&] { loadHeContext(in); },
                                             "No registered HE context under the name "
                                             "Mockup_Mockop");
  std::istringstream key(savedKey(*he));
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadHeContext(key); }, "loading failed due to a mismatching class name field");
  // The key is read before the backend is known.
  std::string unterminated = context;
  unterminated[30 + 13] = 'x';
  std::istringstream keyWithoutNul(unterminated);
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadHeContext(keyWithoutNul); },
      "Invalid saved HeContext: the registry key does not end with a NUL byte");
}

TEST(SavedContextTest, ContextsSavedBackToBackLoadAsTwo)
{
  std::shared_ptr<HeContext> a = createMockup(16, 5);
  std::shared_ptr<HeContext> b = createMockup(8, 3);
  std::ostringstream out;
  out << "prefix";
  a->save(out);
  b->save(out);
  std::istringstream in(out.str());
  in.seekg(6);
  std::shared_ptr<HeContext> first = loadHeContext(in);
  std::shared_ptr<HeContext> second = loadHeContext(in);
  EXPECT_EQ(first->getContextId(), a->getContextId());
  EXPECT_EQ(first->slotCount(), 16);
  EXPECT_EQ(second->getContextId(), b->getContextId());
  EXPECT_EQ(second->slotCount(), 8);
  EXPECT_EQ(in.peek(), std::char_traits<char>::eof());

  // Read from the stream's start, the prefix is taken for the header.
  std::istringstream fromStart(out.str());
  expectThrowWithMessage<std::runtime_error>([&] { loadHeContext(fromStart); },
                                             "Input file is corrupt, or not an Quorvane file.");
}

TEST(SavedContextTest, SecretKeyRefusals)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string key = savedKey(*he);
  std::string seedKey = key;
  seedKey.back() = 1;

  std::istringstream in(saved(*he));
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  std::istringstream seeded(seedKey);
  expectThrowWithMessage<std::runtime_error>(
      [&] { loaded->loadSecretKey(seeded, false); },
      "expecting seedOnly=false, but the given stream has seedOnly=true");

  std::shared_ptr<HeContext> other = createMockup(16, 5);
  std::istringstream otherContext(saved(*other));
  std::shared_ptr<HeContext> loadedOther = loadHeContext(otherContext);
  std::istringstream foreign(key);
  expectThrowWithMessage<std::runtime_error>([&] { loadedOther->loadSecretKey(foreign); },
                                             "loading failed due to mismatching contexts.");
  EXPECT_FALSE(loadedOther->hasSecretKey());
}

TEST(SavedContextTest, FilesOfContextsAndKeys)
{
  TempDir dir;
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  std::string contextFile = dir.file("context.bin");
  std::string keyFile = dir.file("key.bin");
  EXPECT_EQ(he->saveToFile(contextFile), 95);
  EXPECT_EQ(he->saveSecretKeyToFile(keyFile), 27);
  std::ifstream raw(contextFile, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, saved(*he));

  std::shared_ptr<HeContext> loaded = loadHeContextFromFile(contextFile);
  EXPECT_EQ(loaded->getContextId(), he->getContextId());
  EXPECT_EQ(loaded->loadSecretKeyFromFile(keyFile), 27);
  EXPECT_TRUE(loaded->hasSecretKey());

  MockupContext direct;
  EXPECT_EQ(direct.loadFromFile(contextFile), 95);

  std::string missing = dir.file("missing.bin");
  expectThrowWithMessage<std::runtime_error>([&] { loadHeContextFromFile(missing); },
                                             "Failed to open file " + missing);
  // A refused save leaves an existing file as it was.
  MockupContext uninitialised;
  expectThrowWithMessage<std::runtime_error>([&] { uninitialised.saveToFile(contextFile); },
                                             "HE context has not been initialized yet");
  EXPECT_EQ(loadHeContextFromFile(contextFile)->getContextId(), he->getContextId());
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"context.bin", "key.bin"}));
}

TEST(SavedContextTest, DebugContextRestoresAllThreeIds)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 3);
  std::shared_ptr<HeContext> h2 = createMockup(8, 3);
  DebugContext dc(*h1, *h2, 1e-05, false);
  std::ostringstream out;
  int64_t written = dc.save(out);
  EXPECT_EQ(written, 26 + 4 + 40 + 8 + 4 + 38 + 2 * 95);

  MockupContext m1, m2;
  DebugContext loaded(m1, m2, 1e-05, false);
  std::istringstream in(out.str());
  EXPECT_EQ(loaded.load(in), written);
  EXPECT_EQ(loaded.getContextId(), dc.getContextId());
  EXPECT_EQ(m1.getContextId(), h1->getContextId());
  EXPECT_EQ(m2.getContextId(), h2->getContextId());
  EXPECT_TRUE(loaded.isInitialized());

  // A debug secret key is the first context's record followed by the second's.
  std::ostringstream keys;
  EXPECT_EQ(dc.saveSecretKey(keys), 54);
  EXPECT_EQ(keys.str(), savedKey(*h1) + savedKey(*h2));
  std::istringstream keysIn(keys.str());
  loaded.loadSecretKey(keysIn);
  EXPECT_TRUE(m1.hasSecretKey());
  EXPECT_TRUE(m2.hasSecretKey());

  std::istringstream registry(out.str());
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadHeContext(registry); },
      "No registered HE context under the name DEBUG:Mockup:Mockup_DEBUG:Mockup:Mockup");
}

TEST(SavedContextTest, FailedDebugLoadLeavesDebugContextUninitialised)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 3);
  std::shared_ptr<HeContext> h2 = createMockup(8, 3);
  DebugContext dc(*h1, *h2, 1e-05, false);
  std::string bytes = saved(dc);

  // An initialised inner context is refused before anything is adopted.
  MockupContext m1, m2;
  DebugContext target(m1, m2, 1e-05, false);
  m2.init(HeConfigRequirement::insecure(4, 1));
  std::istringstream in(bytes);
  expectThrowWithMessage<std::runtime_error>([&] { target.load(in); },
                                             "HE context has already been initialized");
  EXPECT_FALSE(target.isInitialized());
  EXPECT_FALSE(m1.isInitialized());

  // A truncated second context leaves the debug context uninitialised.
  MockupContext n1, n2;
  DebugContext truncated(n1, n2, 1e-05, false);
  std::istringstream cut(bytes.substr(0, bytes.size() - 10));
  EXPECT_THROW(truncated.load(cut), std::runtime_error);
  EXPECT_FALSE(truncated.isInitialized());
  EXPECT_FALSE(n2.isInitialized());
}

TEST(SavedContextTest, KeySaverDescribesTheRecord)
{
  std::shared_ptr<HeContext> he = createMockup(16, 5);
  HeContext::KeySaver saver(*he);
  EXPECT_EQ(saver.getClassName(), "SECRETKEY");
  EXPECT_EQ(saver.getContextId(), he->getContextId());
  EXPECT_FALSE(saver.allowsStorage());
  std::ostringstream out;
  EXPECT_EQ(saver.save(out), 26);
}

} // namespace

TEST(SavedContextTest, MockupRefusesASavedRequirementItsInitRefuses)
{
  struct Case
  {
    int slots, depth;
  };
  for (Case c : std::vector<Case>{{16, -1}, {-1, 2}}) {
    Bytes saved;
    saved.header("HeContext", 5)
        .str("Mockup_Mockup")
        .f64(1.0)
        .i32(DEVICE_CPU)
        .i32(c.slots).i32(c.depth).i32(-1).i32(-1).i32(0).b(false).b(false).b(false).b(false)
        .b(true).b(true).i32(1).i32(1).i32(0)
        .b(true);
    MockupContext he;
    std::istringstream in(saved.data);
    try {
      he.load(in);
      FAIL() << c.slots << " " << c.depth;
    } catch (const std::runtime_error& e) {
      if (c.slots > 0) {
        EXPECT_EQ(std::string(e.what()),
                  "Saved MockupContext is invalid: it asks for " + std::to_string(c.slots) +
                      " slots and multiplication depth " + std::to_string(c.depth));
      }
    }
    EXPECT_FALSE(he.isInitialized());
    EXPECT_NE(he.getContextId(), 5);
  }
}

// The largest slot count with the most rotation steps a requirement holds:
// init and load keep the steps and leave the rotation chains to the first
// decomposition (a search over every slot for every step would take hours).
TEST(SavedContextTest, LargestCustomRotationSetsInitAndLoad)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(1 << 22, 1);
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  for (int step = 1; step <= 100000; ++step)
    req.publicFunctions.rotationSteps.push_back(step);
  std::shared_ptr<HeContext> he = createMockup(req);
  const std::string bytes = saved(*he);
  std::istringstream in(bytes);
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  EXPECT_EQ(loaded->slotCount(), 1 << 22);
  EXPECT_EQ(loaded->getHeConfigRequirement().publicFunctions.rotationSteps,
            req.publicFunctions.rotationSteps);
  EXPECT_EQ(saved(*loaded), bytes);
}
