// A refused operation or init leaves its object as it was.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

constexpr int SLOTS = 256;

std::shared_ptr<SealCkksContext> sealContext(bool relinearize)
{
  auto he = std::make_shared<SealCkksContext>();
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, 2, 30, 10);
  req.publicFunctions.relinearize = relinearize;
  he->init(req);
  return he;
}

/// What a ciphertext holds: polynomial count, chain index, scale and first values.
struct State
{
  size_t polynomials;
  int chainIndex;
  double scale;
  std::vector<double> values;
};

State stateOf(const CTile& c)
{
  const auto& seal = dynamic_cast<const SealCkksCiphertext&>(c.getImpl());
  std::vector<double> values = Encoder(c.getHeContext()).decryptDecodeDouble(c);
  return {seal.getSealCiphertext().size(), c.getChainIndex(), c.getScale(),
          std::vector<double>(values.begin(), values.begin() + 2)};
}

void expectSameState(const State& actual, const State& expected)
{
  EXPECT_EQ(actual.polynomials, expected.polynomials);
  EXPECT_EQ(actual.chainIndex, expected.chainIndex);
  EXPECT_EQ(actual.scale, expected.scale);
  for (size_t i = 0; i < expected.values.size(); ++i)
    EXPECT_NEAR(actual.values[i], expected.values[i], 1e-2) << i;
}

} // namespace

TEST(RefusedSealOperations, ProductsRefuseBeforeTheyChangeTheCiphertext)
{
  auto withKeys = sealContext(true);
  auto withoutKeys = sealContext(false);
  struct Case
  {
    const char* name;
    std::shared_ptr<SealCkksContext> he;
    std::function<void(CTile&)> prepare;
    std::function<void(CTile&, const CTile&)> op;
    std::string message;
    bool runtimeError = false; // else std::invalid_argument
  };
  auto fresh = [](CTile&) {};
  auto atChainIndexZero = [](CTile& x) {
    x.setChainIndex(0);
    x.setScale(1024.0); // small enough for the raw product to fit
  };
  auto afterRawProduct = [](CTile& x) { x.multiplyRaw(CTile(x)); };
  const std::string noKeys = "This SealCkksContext doesn't have reliniarization keys";
  const std::string chainEnd = "end of modulus switching chain reached";
  std::vector<Case> cases = {
      {"multiply without keys", withoutKeys, fresh,
       [](CTile& x, const CTile& y) { x.multiply(y); }, noKeys, true},
      {"square without keys", withoutKeys, fresh, [](CTile& x, const CTile&) { x.square(); },
       noKeys, true},
      {"multiply at chain index 0", withKeys, atChainIndexZero,
       [](CTile& x, const CTile&) { x.multiply(CTile(x)); }, chainEnd},
      {"square at chain index 0", withKeys, atChainIndexZero,
       [](CTile& x, const CTile&) { x.square(); }, chainEnd},
      {"multiplyPlain at chain index 0", withKeys, atChainIndexZero,
       [](CTile& x, const CTile&) {
         PTile p(x.getHeContext());
         Encoder(x.getHeContext()).encode(p, 2.0, 0);
         x.multiplyPlain(p);
       },
       chainEnd},
      {"multiply of a product not relinearised", withKeys, afterRawProduct,
       [](CTile& x, const CTile& y) { x.multiply(y); }, "not enough relinearization keys"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Encoder encoder(*c.he);
    CTile x(*c.he), y(*c.he);
    encoder.encodeEncrypt(x, std::vector<double>{1.5, 2.0});
    encoder.encodeEncrypt(y, std::vector<double>{3.0, 4.0});
    c.prepare(x);
    State before = stateOf(x);
    if (c.runtimeError)
      expectThrowWithMessage<std::runtime_error>([&] { c.op(x, y); }, c.message);
    else
      expectThrowWithMessage<std::invalid_argument>([&] { c.op(x, y); }, c.message);
    expectSameState(stateOf(x), before);
  }
  // The ciphertext stays usable: an addition follows without "scale mismatch".
  Encoder encoder(*withoutKeys);
  CTile x(*withoutKeys), y(*withoutKeys);
  encoder.encodeEncrypt(x, std::vector<double>{1.5, 2.0});
  encoder.encodeEncrypt(y, std::vector<double>{3.0, 4.0});
  EXPECT_THROW(x.multiply(y), std::runtime_error);
  x.add(y);
  EXPECT_NEAR(encoder.decryptDecodeDouble(x)[1], 6.0, 1e-3);
}

TEST(RefusedSealOperations, ProductsThatSucceedAreUnchanged)
{
  auto he = sealContext(true);
  Encoder encoder(*he);
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, std::vector<double>{1.5, 2.0});
  encoder.encodeEncrypt(y, std::vector<double>{3.0, 4.0});
  x.multiply(y);
  x.square();
  State s = stateOf(x);
  EXPECT_EQ(s.polynomials, 2u);
  EXPECT_EQ(s.chainIndex, 0);
  EXPECT_NEAR(s.values[0], 20.25, 1e-2);
  EXPECT_NEAR(s.values[1], 64.0, 1e-2);
}

namespace {

/// A bootstrappable requirement whose bootstrapping set-up is refused after
/// the base context accepted it.
HeConfigRequirement refusedAtBootstrapSetUp(int slots)
{
  BootstrapConfig config;
  config.coef2slotViaFFT = false;
  config.slot2coefViaFFT = true;
  return bootstrappable(slots, 5, config);
}

/// A requirement whose public functions are invalid.
HeConfigRequirement invalidPublicFunctions(int slots)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(slots, 5);
  req.publicFunctions.rotate = NO_ROTATIONS;
  req.publicFunctions.rotationSteps = {1};
  return req;
}

} // namespace

TEST(RefusedInit, LeavesTheContextWithoutTheRequirement)
{
  struct Case
  {
    const char* name;
    std::function<std::shared_ptr<HeContext>()> make;
    HeConfigRequirement refused;
    std::string message;
  };
  auto mockup = [] { return std::shared_ptr<HeContext>(std::make_shared<MockupContext>()); };
  auto empty = [] { return std::shared_ptr<HeContext>(std::make_shared<EmptyContext>()); };
  const std::string fft = "!coef2slotViaFFT & slot2coefViaFFT not supported together";
  const std::string steps = "invalid PublicFunctions: \"rotate\" is set to DEFAULT_ROTATIONS "
                            "but \"rotationStpes\" vector is not empty";
  std::vector<Case> cases = {
      {"mockup, bootstrapping set-up", mockup, refusedAtBootstrapSetUp(16), fft},
      {"mockup, public functions", mockup, invalidPublicFunctions(16), steps},
      {"empty, bootstrapping set-up", empty, refusedAtBootstrapSetUp(16), fft},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<HeContext> fresh = c.make();
    std::shared_ptr<HeContext> he = c.make();
    try {
      he->init(c.refused);
      ADD_FAILURE() << "not refused";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(he->isInitialized());
    EXPECT_EQ(he->getContextId(), fresh->getContextId());
    const HeConfigRequirement& req = he->getHeConfigRequirement();
    EXPECT_EQ(req.numSlots, fresh->getHeConfigRequirement().numSlots);
    EXPECT_EQ(req.bootstrappable, fresh->getHeConfigRequirement().bootstrappable);
    EXPECT_EQ(req.publicFunctions.rotationSteps,
              fresh->getHeConfigRequirement().publicFunctions.rotationSteps);
    EXPECT_FALSE(he->getBootstrappable());
    // A later init with a sound requirement succeeds.
    he->init(HeConfigRequirement::insecure(8, 3));
    EXPECT_EQ(he->slotCount(), 8);
    EXPECT_EQ(he->getTopChainIndex(), 3);
  }
}

TEST(RefusedInit, MockupKeepsNoSecretKeyFromARefusedInit)
{
  MockupContext he;
  EXPECT_THROW(he.init(refusedAtBootstrapSetUp(16)), std::runtime_error);
  EXPECT_FALSE(he.hasSecretKey());
  EXPECT_EQ(he.slotCount(), MockupContext().slotCount());
}
