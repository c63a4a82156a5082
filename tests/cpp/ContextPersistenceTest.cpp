#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "TestUtils.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;
namespace fs = boost::filesystem;

namespace {

/// A context loaded from the saved form of he: same id, no secret key.
std::shared_ptr<HeContext> withoutKey(const HeContext& he)
{
  return loadContext(saved(he));
}

/// A small insecure requirement that both the SEAL and the mockup context accept.
HeConfigRequirement smallCkks()
{
  HeConfigRequirement req = HeConfigRequirement::insecure(1024, 2, 30, 10);
  req.publicFunctions.relinearize = false;
  req.publicFunctions.rotate = NO_ROTATIONS;
  req.publicFunctions.conjugate = FALSE;
  return req;
}

TEST(SavedContextChecks, EmptyContextRefusesSavingAndLoadingWhateverItsState)
{
  std::string mockupBytes = saved(*createMockup(8, 5));

  EmptyContext fresh;
  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>([&] { fresh.save(out); }, "Not implemented");
  EXPECT_EQ(out.str(), "");
  std::istringstream in(mockupBytes);
  expectThrowWithMessage<std::runtime_error>([&] { fresh.load(in); }, "Not implemented");
  EXPECT_FALSE(fresh.isInitialized());

  EmptyContext ready;
  ready.init(HeConfigRequirement::insecure(4, 3));
  int32_t id = ready.getContextId();
  std::istringstream again(mockupBytes);
  expectThrowWithMessage<std::runtime_error>([&] { ready.load(again); }, "Not implemented");
  EXPECT_TRUE(ready.isInitialized());
  EXPECT_EQ(ready.getContextId(), id);
  EXPECT_EQ(ready.slotCount(), 4);

  TempDir dir;
  std::string path = dir.file("empty.bin");
  expectThrowWithMessage<std::runtime_error>([&] { fresh.saveToFile(path); }, "Not implemented");
  EXPECT_FALSE(fs::exists(path));
}

TEST(SavedContextChecks, FileVariantsOpenTheFileBeforeSaving)
{
  TempDir dir;
  std::string inMissingDir = dir.file("missing") + "/context.bin";
  MockupContext fresh;
  expectThrowWithMessage<std::runtime_error>([&] { fresh.saveToFile(inMissingDir); },
                                             "Failed to open file " + inMissingDir);

  std::string path = dir.file("context.bin");
  expectThrowWithMessage<std::runtime_error>([&] { fresh.saveToFile(path); },
                                             "HE context has not been initialized yet");
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::is_empty(dir.file("")));

  // The backend's key check comes before the common seed check.
  std::shared_ptr<HeContext> keyless = withoutKey(*createMockup(8, 5));
  std::string keyPath = dir.file("key.bin");
  expectThrowWithMessage<std::runtime_error>([&] { keyless->saveSecretKeyToFile(keyPath, true); },
                                             "this HeContext does not have a secret key");
  EXPECT_FALSE(fs::exists(keyPath));
  std::shared_ptr<HeContext> keyed = createMockup(8, 5);
  expectThrowWithMessage<std::runtime_error>([&] { keyed->saveSecretKeyToFile(keyPath, true); },
                                             "this HeContext does not support secret key I/O "
                                             "using seeds");
  expectThrowWithMessage<std::runtime_error>([&] { keyed->saveSecretKeyToFile(inMissingDir); },
                                             "Failed to open file " + inMissingDir);
  EXPECT_FALSE(fs::exists(keyPath));
  // Refused saves leave no temporary file behind either.
  EXPECT_TRUE(fs::is_empty(dir.file("")));
}

TEST(SavedContextChecks, BootstrappableSavedContextWithoutConfigurationIsRefused)
{
  std::string bytes = saved(*createMockup(8, 5));
  // header 26, key 18, scale 8, device 4, then five counts before the flag
  size_t bootstrappableFlag = 26 + 18 + 8 + 4 + 20;
  ASSERT_EQ(bytes[bootstrappableFlag], '\0');
  bytes[bootstrappableFlag] = 1;

  MockupContext target;
  std::istringstream in(bytes);
  expectAssertion([&] { target.load(in); },
                  "getHeConfigRequirement().bootstrapConfig.has_value()");
  EXPECT_FALSE(target.isInitialized());
  std::istringstream staticLoad(bytes);
  expectAssertion([&] { loadHeContext(staticLoad); },
                  "getHeConfigRequirement().bootstrapConfig.has_value()");

  bytes[bootstrappableFlag] = 0;
  std::istringstream good(bytes);
  target.load(good);
  EXPECT_TRUE(target.isInitialized());
  EXPECT_FALSE(target.getBootstrappable());
}

TEST(SavedContextChecks, LoadedBootstrappableContextBootstrapsAutomatically)
{
  HeConfigRequirement req = bootstrappable(4, 6);
  req.automaticBootstrapping = true;
  req.bootstrapConfig->minChainIndexForBootstrapping = 1;
  req.bootstrapConfig->targetChainIndex = 5;
  std::shared_ptr<HeContext> he = createMockup(req);
  std::shared_ptr<HeContext> loaded = withoutKey(*he);
  std::istringstream key(savedKey(*he));
  loaded->loadSecretKey(key);
  MockupContext& m = dynamic_cast<MockupContext&>(*loaded);
  m.startOperationCountTrack();

  Encoder encoder(*loaded);
  CTile x(*loaded);
  encoder.encodeEncrypt(x, std::vector<double>{3}, 1);
  x.square();
  EXPECT_EQ(x.getChainIndex(), 4);
  EXPECT_EQ(encoder.decryptDecodeDouble(x)[0], 9);
  EXPECT_EQ(m.getRunStats()->getCount(RunStats::BOOTSTRAP, 5), 1);
}

TEST(DebugContextChecks, BootstrappingADebugTileIsRefused)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 5), h2 = createMockup(8, 5);
  DebugContext dc(*h1, *h2, 1e-05, false);
  CTile c(dc);
  Encoder(dc).encodeEncrypt(c, std::vector<double>{1}, 0);
  expectThrowWithMessage<std::runtime_error>([&] { c.bootstrap(); },
                                             "This HE context does not support bootstrap");
  expectThrowWithMessage<std::runtime_error>([&] { BootstrapEvaluator(dc, BootstrapConfig()); },
                                             "This HE context does not support bootstrap");

  std::shared_ptr<HeContext> b1 = createMockup(bootstrappable(8, 5));
  std::shared_ptr<HeContext> b2 = createMockup(bootstrappable(8, 5));
  DebugContext bootstrappableDc(*b1, *b2, 1e-05, false);
  EXPECT_TRUE(bootstrappableDc.getBootstrappable());
  CTile d(bootstrappableDc);
  Encoder(bootstrappableDc).encodeEncrypt(d, std::vector<double>{1}, 0);
  expectAssertion([&] { d.bootstrap(); }, "bootstrapEvaluator != nullptr");
  EXPECT_EQ(d.getChainIndex(), 0);
}

TEST(DebugContextChecks, ContextsWithoutSecretKeyOnlyWarn)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 5);
  std::shared_ptr<HeContext> h2 = withoutKey(*createMockup(8, 5));
  DebugContext dc(*h1, *h2, 1e-05, false);
  CTile x(dc);
  Encoder(dc).encodeEncrypt(x, std::vector<double>{1, 2});
  DebugCiphertext& d = dynamic_cast<DebugCiphertext&>(x.getImpl());
  h2->getEncoder()->encodeEncrypt(d.getC2(), std::vector<double>{5, 7}, x.getChainIndex());

  CoutCapture capture;
  x.negate();
  x.addScalar(1);
  EXPECT_EQ(capture.str(), "Warn: contexts don't have a secret key\n"
                           "Warn: contexts don't have a secret key\n");
  EXPECT_EQ(d.getOperationLog(), "negate\naddScalar\n");
  EXPECT_EQ(Encoder(dc).decryptDecodeDouble(x)[1], -1);

  // A negative threshold switches the check off before the key test.
  dc.setDiffThreshold(-1);
  x.negate();
  EXPECT_EQ(capture.str(), "Warn: contexts don't have a secret key\n"
                           "Warn: contexts don't have a secret key\n");
}

TEST(DebugContextChecks, HalvesOfDifferentSizesAreReportedAfterTheOperation)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 5), h2 = createMockup(4, 5);
  DebugContext dc(*h1, *h2, 1e-05, false);
  CTile x(dc);
  Encoder(dc).encodeEncrypt(x, std::vector<double>{1, 2});
  DebugCiphertext& d = dynamic_cast<DebugCiphertext&>(x.getImpl());
  CoutCapture capture;
  expectThrowWithMessage<std::runtime_error>([&] { x.negate(); },
                                             "Sizes of c1 and c2 are not equal");
  EXPECT_EQ(capture.str(), "");
  EXPECT_EQ(d.getOperationLog(), "negate\n");
  EXPECT_EQ(h1->getEncoder()->decryptDecodeDouble(d.getC1())[1], -2);
  EXPECT_EQ(h2->getEncoder()->decryptDecodeDouble(d.getC2())[1], -2);
}

TEST(DebugContextChecks, DebugPrintOfAFreshPairPrintsZeroMeans)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 5), h2 = createMockup(8, 5);
  DebugContext dc(*h1, *h2, 1e-05, false);
  CTile x(dc);
  Encoder(dc).encodeEncrypt(x, std::vector<double>{});
  std::ostringstream out;
  x.getImpl().debugPrint("z", VERBOSITY_NONE, out);
  std::string text = out.str();
  std::string tail = "Mean abs error complex/real/imag        (z): 0/0/0\n";
  ASSERT_GE(text.size(), tail.size()) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(DebugContextChecks, FailedLoadLeavesBothInnerContextsReadyForAnotherLoad)
{
  std::shared_ptr<HeContext> h1 = createMockup(8, 3), h2 = createMockup(4, 2);
  DebugContext dc(*h1, *h2, 1e-05, false);
  std::string bytes = saved(dc);

  MockupContext m1, m2;
  DebugContext target(m1, m2, 1e-05, false);
  for (size_t cut : {size_t(10), size_t(95), size_t(96)}) {
    std::istringstream in(bytes.substr(0, bytes.size() - cut));
    EXPECT_THROW(target.load(in), std::runtime_error) << cut;
    EXPECT_FALSE(target.isInitialized()) << cut;
    EXPECT_FALSE(m1.isInitialized()) << cut;
    EXPECT_FALSE(m2.isInitialized()) << cut;
  }
  // A second record of another backend is refused before the first is adopted.
  std::string otherSecond = bytes;
  otherSecond.replace(otherSecond.rfind("Mockup_Mockup"), 13, "Mockup_Mockop");
  std::istringstream other(otherSecond);
  expectThrowWithMessage<std::runtime_error>(
      [&] { target.load(other); },
      "Context for Mockup_Mockup trying to read a context for Mockup_Mockop");
  EXPECT_FALSE(m1.isInitialized());

  std::istringstream good(bytes);
  EXPECT_EQ(target.load(good), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(m1.getContextId(), h1->getContextId());
  EXPECT_EQ(m2.slotCount(), 4);
  EXPECT_TRUE(target.isInitialized());
}

TEST(SavedSealContexts, SavedSealContextLoadsByItsRegistryKey)
{
  std::shared_ptr<HeContext> he = HeContext::create("SEAL_CKKS", smallCkks());
  std::ostringstream out;
  int64_t written = he->save(out);
  EXPECT_EQ(static_cast<size_t>(written), out.str().size());
  std::istringstream in(out.str());
  std::shared_ptr<HeContext> loaded = loadHeContext(in);
  ASSERT_NE(dynamic_cast<SealCkksContext*>(loaded.get()), nullptr);
  EXPECT_EQ(loaded->getContextId(), he->getContextId());
  EXPECT_EQ(loaded->slotCount(), 1024);
  EXPECT_FALSE(loaded->hasSecretKey());
  std::istringstream key(savedKey(*he));
  loaded->loadSecretKey(key);

  CTile c(*he);
  Encoder(*he).encodeEncrypt(c, std::vector<double>{1.5, -2});
  std::vector<double> values = Encoder(*loaded).decryptDecodeDouble(c);
  EXPECT_NEAR(values[0], 1.5, 1e-3);
  EXPECT_NEAR(values[1], -2, 1e-3);
}

TEST(SavedSealContexts, DebugContextOverSealAndMockup)
{
  SealCkksContext seal;
  MockupContext mock;
  DebugContext dc(seal, mock, 1e-03, false);
  dc.init(smallCkks());
  EXPECT_EQ(dc.getLibraryName(), "DEBUG:SEAL:Mockup");
  EXPECT_EQ(dc.getSchemeName(), "DEBUG:CKKS:Mockup");
  EXPECT_EQ(dc.getRegistryKey(), "DEBUG:SEAL:Mockup_DEBUG:CKKS:Mockup");
  EXPECT_EQ(dc.getSignature().rfind("DEBUG_", 0), 0u);
  EXPECT_EQ(dc.getSignature(), "DEBUG_" + seal.getSignature());
  EXPECT_EQ(dc.slotCount(), 1024);
  EXPECT_TRUE(dc.getTraits().getSupportsScaledEncoding());

  Encoder encoder(dc);
  CTile x(dc), y(dc);
  encoder.encodeEncrypt(x, std::vector<double>{1, 2, 3});
  encoder.encodeEncrypt(y, std::vector<double>{0.5, 0.25, -1});
  CoutCapture capture;
  x.add(y);
  x.multiplyRaw(y);
  EXPECT_EQ(capture.str(), "");
  std::vector<double> values = encoder.decryptDecodeDouble(x);
  EXPECT_NEAR(values[0], 0.75, 1e-3);
  EXPECT_NEAR(values[2], -2, 1e-3);

  std::ostringstream out;
  int64_t written = dc.save(out);
  std::istringstream registry(out.str());
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadHeContext(registry); },
      "No registered HE context under the name DEBUG:SEAL:Mockup_DEBUG:CKKS:Mockup");

  SealCkksContext seal2;
  MockupContext mock2;
  DebugContext loaded(seal2, mock2, 1e-03, false);
  std::istringstream in(out.str());
  EXPECT_EQ(loaded.load(in), written);
  EXPECT_EQ(loaded.getContextId(), dc.getContextId());
  EXPECT_EQ(seal2.getContextId(), seal.getContextId());
  EXPECT_EQ(mock2.getContextId(), mock.getContextId());
  EXPECT_FALSE(loaded.hasSecretKey());
  std::ostringstream keys;
  dc.saveSecretKey(keys);
  std::istringstream keysIn(keys.str());
  loaded.loadSecretKey(keysIn);
  EXPECT_TRUE(seal2.hasSecretKey());
  EXPECT_TRUE(mock2.hasSecretKey());

  // Tiles of the loaded debug context decrypt those of the original.
  std::ostringstream tile;
  x.save(tile);
  CTile z(loaded);
  std::istringstream tileIn(tile.str());
  z.load(tileIn);
  EXPECT_NEAR(Encoder(loaded).decryptDecodeDouble(z)[1], values[1], 1e-9);

  // A saved debug context of other inner kinds is refused by the first inner load.
  MockupContext m1, m2;
  DebugContext wrongKinds(m1, m2, 1e-03, false);
  std::istringstream wrongIn(out.str());
  expectThrowWithMessage<std::runtime_error>(
      [&] { wrongKinds.load(wrongIn); },
      "Context for DEBUG:Mockup:Mockup_DEBUG:Mockup:Mockup trying to read a context for "
      "DEBUG:SEAL:Mockup_DEBUG:CKKS:Mockup");
  EXPECT_FALSE(wrongKinds.isInitialized());
  EXPECT_FALSE(m1.isInitialized());
}

} // namespace
