// A refused operation or init leaves its object as it was.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
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
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"

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

TEST(RefusedSealOperations, WhatATileCertainlyAcceptsSucceeds)
{
  // Operand scales around the bounds SEAL checks (close scales for the sums,
  // a product scale within the modulus), at every chain index: whatever the
  // tile says it certainly accepts goes through, and fresh operands of one
  // scale are certainly accepted.
  auto he = sealContext(true);
  Encoder encoder(*he);
  using Op = void (CTile::*)(const Tile&);
  const std::vector<std::pair<const char*, Op>> ops = {
      {"add", &CTile::addTile},           {"addRaw", &CTile::addTileRaw},
      {"sub", &CTile::subTile},           {"subRaw", &CTile::subTileRaw},
      {"multiply", &CTile::multiplyTile}, {"multiplyRaw", &CTile::multiplyTileRaw}};
  const double scale = std::ldexp(1.0, 30);
  const std::vector<double> operandScales = {
      scale, scale * (1 + 1e-16), scale * (1 + 1e-9), std::ldexp(1.0, 20), std::ldexp(1.0, 38),
      std::ldexp(1.0, 39),        std::ldexp(1.0, 40),  std::ldexp(1.0, 60), std::ldexp(1.0, 68),
      std::ldexp(1.0, 69),        std::ldexp(1.0, 70),  std::ldexp(1.0, 71)};
  for (const auto& op : ops) {
    for (bool plain : {false, true}) {
      int certain = 0;
      int untold = 0;
      for (int chainIndex = 0; chainIndex <= he->getTopChainIndex(); ++chainIndex) {
        for (double s : operandScales) {
          SCOPED_TRACE(std::string(op.first) + (plain ? " plain" : "") + " at chain index " +
                       std::to_string(chainIndex) + ", operand scale 2^" +
                       std::to_string(std::log2(s)));
          CTile x(*he);
          encoder.encodeEncrypt(x, std::vector<double>{1.5, 2.0}, chainIndex);
          x.setScale(scale);
          std::unique_ptr<Tile> y;
          if (plain) {
            auto p = std::make_unique<PTile>(*he);
            encoder.encode(*p, std::vector<double>{3.0, 4.0}, chainIndex);
            p->setScale(s);
            y = std::move(p);
          } else {
            auto c = std::make_unique<CTile>(*he);
            encoder.encodeEncrypt(*c, std::vector<double>{3.0, 4.0}, chainIndex);
            c->setScale(s);
            y = std::move(c);
          }
          if (!x.certainlyAccepts(op.second, *y)) {
            ++untold;
            continue;
          }
          ++certain;
          EXPECT_NO_THROW((x.*op.second)(*y));
        }
      }
      // Both answers occur, so the sweep tests the boundary.
      EXPECT_GT(certain, 0) << op.first << plain;
      EXPECT_GT(untold, 0) << op.first << plain;
    }
  }
  // Fresh operands of one scale above chain index 0, and nothing else.
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, std::vector<double>{1.5});
  encoder.encodeEncrypt(y, std::vector<double>{3.0});
  PTile p(*he);
  encoder.encode(p, std::vector<double>{3.0});
  for (const auto& op : ops) {
    EXPECT_TRUE(x.certainlyAccepts(op.second, y)) << op.first;
    EXPECT_TRUE(x.certainlyAccepts(op.second, p)) << op.first;
    EXPECT_FALSE(x.certainlyAccepts(op.second, x)) << op.first << ": the tile itself";
    EXPECT_FALSE(x.certainlyAccepts(op.second, CTile(*he))) << op.first << ": an empty operand";
    EXPECT_FALSE(CTile(*he).certainlyAccepts(op.second, y)) << op.first << ": an empty tile";
  }
  EXPECT_FALSE(x.certainlyAccepts(&CTile::multiplyTile, CTile(*he)));
  CTile lower(y);
  lower.setChainIndex(1);
  EXPECT_FALSE(x.certainlyAccepts(&CTile::addTile, lower)) << "another chain index";
  auto other = sealContext(true);
  CTile foreign(*other);
  Encoder(*other).encodeEncrypt(foreign, std::vector<double>{3.0});
  EXPECT_FALSE(x.certainlyAccepts(&CTile::addTile, foreign)) << "another context";
  auto withoutKeys = sealContext(false);
  CTile a(*withoutKeys), b(*withoutKeys);
  Encoder(*withoutKeys).encodeEncrypt(a, std::vector<double>{1.5});
  Encoder(*withoutKeys).encodeEncrypt(b, std::vector<double>{3.0});
  EXPECT_FALSE(a.certainlyAccepts(&CTile::multiplyTile, b)) << "no relinearisation keys";
  EXPECT_TRUE(a.certainlyAccepts(&CTile::multiplyTileRaw, b));
}

TEST(RefusedTileTensorOperations, ElementWiseRefusalsLeaveBothOperandsByteForByte)
{
  // Tensors of three tiles; what refuses concerns the last tile only, so an
  // operation that changed tiles in place before finding out would show.
  auto withKeys = sealContext(true);
  auto withoutKeys = sealContext(false);
  auto mockup = createMockup(SLOTS, 2);
  using Change = std::function<void(CTileTensor&, CTileTensor&, PTileTensor&)>;
  using Op = std::function<void(CTileTensor&, const CTileTensor&, const PTileTensor&)>;
  struct Case
  {
    const char* name;
    std::shared_ptr<HeContext> he;
    Change change;
    Op op;
    std::string message;
    bool runtimeError = false; // else std::invalid_argument
  };
  const int last = 2;
  auto operandScale = [last](double factor) {
    return [last, factor](CTileTensor&, CTileTensor& o, PTileTensor&) {
      o.getMutableTile(last).setScale(o.getTile(last).getScale() * factor);
    };
  };
  auto plainScale = [last](CTileTensor&, CTileTensor&, PTileTensor& p) {
    p.getMutableTile(last).setScale(2 * p.getMutableTile(last).getScale());
  };
  auto lastAtChainIndexZero = [last](CTileTensor& t, CTileTensor& o, PTileTensor& p) {
    for (Tile* tile : {&t.getMutableTile(last), &o.getMutableTile(last), &p.getMutableTile(last)})
      tile->setChainIndex(0);
  };
  auto lastRawProduct = [last](CTileTensor& t, CTileTensor&, PTileTensor&) {
    CTile& tile = static_cast<CTile&>(t.getMutableTile(last));
    tile.multiplyRaw(CTile(tile));
  };
  auto nothing = [](CTileTensor&, CTileTensor&, PTileTensor&) {};
  const std::string rescaleBelowZero =
      "Given chain index is out of range or higher than current. Given CI= -1 current CI= 0";
  const std::vector<Case> cases = {
      {"add", withKeys, operandScale(2), [](auto& t, auto& o, auto&) { t.add(o); },
       "scale mismatch"},
      {"subRaw", withKeys, operandScale(2), [](auto& t, auto& o, auto&) { t.subRaw(o); },
       "scale mismatch"},
      {"addPlain", withKeys, plainScale, [](auto& t, auto&, auto& p) { t.addPlain(p); },
       "scale mismatch"},
      {"subPlainRaw", withKeys, plainScale, [](auto& t, auto&, auto& p) { t.subPlainRaw(p); },
       "scale mismatch"},
      {"multiplyRaw", withKeys, operandScale(std::ldexp(1.0, 45)),
       [](auto& t, auto& o, auto&) { t.multiplyRaw(o); }, "scale out of bounds"},
      {"multiply", withKeys, lastAtChainIndexZero,
       [](auto& t, auto& o, auto&) { t.multiply(o); },
       "SealCkksCiphertext::multiplyRaw - 'this' ciphertext is at chain index 0. Can't multiply "
       "ciphertexts once they reach chain index 0."},
      {"multiplyPlain", withKeys, lastAtChainIndexZero,
       [](auto& t, auto&, auto& p) { t.multiplyPlain(p); }, "scale out of bounds"},
      {"multiply of a product not relinearised", withKeys, lastRawProduct,
       [](auto& t, auto& o, auto&) { t.multiply(o); }, "not enough relinearization keys"},
      {"multiply without keys", withoutKeys, nothing,
       [](auto& t, auto& o, auto&) { t.multiply(o); },
       "This SealCkksContext doesn't have reliniarization keys", true},
      {"mockup multiply", mockup, lastAtChainIndexZero,
       [](auto& t, auto& o, auto&) { t.multiply(o); }, rescaleBelowZero},
      {"mockup multiplyPlain", mockup, lastAtChainIndexZero,
       [](auto& t, auto&, auto& p) { t.multiplyPlain(p); }, rescaleBelowZero},
  };
  const TTShape shape({4, SLOTS / 4});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTileTensor target = encrypted(*c.he, shape, randomTensor({12, SLOTS / 4}, 1));
    CTileTensor operand = encrypted(*c.he, shape, randomTensor({12, SLOTS / 4}, 2));
    PTileTensor plain = encoded(*c.he, shape, randomTensor({12, SLOTS / 4}, 3));
    ASSERT_EQ(target.getNumUsedTiles(), last + 1);
    c.change(target, operand, plain);
    const std::string before = saved(target);
    const std::string operandBefore = saved(operand);
    const std::string plainBefore = saved(plain);
    if (c.runtimeError)
      expectThrowWithMessage<std::runtime_error>([&] { c.op(target, operand, plain); },
                                                 c.message);
    else
      expectThrowWithMessage<std::invalid_argument>([&] { c.op(target, operand, plain); },
                                                    c.message);
    EXPECT_TRUE(saved(target) == before);
    EXPECT_TRUE(saved(operand) == operandBefore);
    EXPECT_TRUE(saved(plain) == plainBefore);
  }
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
