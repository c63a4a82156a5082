// Tiles and encoders refuse objects of another context; contexts loaded from
// one saved context are one context.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/SavedContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

constexpr int SLOTS = 256;
const std::vector<double> X = {1, 2, 3, 4};
const std::vector<double> Y = {0.5, 0.25, -1, 2};

std::shared_ptr<HeContext> sealContext()
{
  auto he = std::make_shared<SealCkksContext>();
  he->init(HeConfigRequirement::insecure(SLOTS, 2, 30, 10));
  return he;
}

/// A context loaded from the saved form of he, with its secret key.
std::shared_ptr<HeContext> loadedCopy(const HeContext& he)
{
  std::shared_ptr<HeContext> copy = loadContext(saved(he));
  std::istringstream key(savedKey(he));
  copy->loadSecretKey(key);
  return copy;
}

CTile encryptedTile(const HeContext& he, const std::vector<double>& values)
{
  CTile c(he);
  Encoder(he).encodeEncrypt(c, values);
  return c;
}

PTile encodedTile(const HeContext& he, const std::vector<double>& values)
{
  PTile p(he);
  Encoder(he).encode(p, values);
  return p;
}

/// The first values of c, decrypted by its own context.
std::vector<double> firstValues(const CTile& c, size_t n = 4)
{
  std::vector<double> all = Encoder(c.getHeContext()).decryptDecodeDouble(c);
  return std::vector<double>(all.begin(), all.begin() + n);
}

void expectNear(const std::vector<double>& actual, const std::vector<double>& expected)
{
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], 1e-3) << i;
}

/// The operations of a ciphertext tile with another tile.
struct TileOperation
{
  const char* name;
  std::function<void(CTile&, const CTile&, const PTile&)> run;
};

std::vector<TileOperation> tileOperations()
{
  return {
      {"add", [](CTile& t, const CTile& c, const PTile&) { t.add(c); }},
      {"addRaw", [](CTile& t, const CTile& c, const PTile&) { t.addRaw(c); }},
      {"sub", [](CTile& t, const CTile& c, const PTile&) { t.sub(c); }},
      {"subRaw", [](CTile& t, const CTile& c, const PTile&) { t.subRaw(c); }},
      {"multiply", [](CTile& t, const CTile& c, const PTile&) { t.multiply(c); }},
      {"multiplyRaw", [](CTile& t, const CTile& c, const PTile&) { t.multiplyRaw(c); }},
      {"getMultiply", [](CTile& t, const CTile& c, const PTile&) { t.getMultiply(c); }},
      {"addPlain", [](CTile& t, const CTile&, const PTile& p) { t.addPlain(p); }},
      {"addPlainRaw", [](CTile& t, const CTile&, const PTile& p) { t.addPlainRaw(p); }},
      {"subPlain", [](CTile& t, const CTile&, const PTile& p) { t.subPlain(p); }},
      {"subPlainRaw", [](CTile& t, const CTile&, const PTile& p) { t.subPlainRaw(p); }},
      {"multiplyPlain", [](CTile& t, const CTile&, const PTile& p) { t.multiplyPlain(p); }},
      {"multiplyPlainRaw", [](CTile& t, const CTile&, const PTile& p) { t.multiplyPlainRaw(p); }},
      {"addTile(CTile)", [](CTile& t, const CTile& c, const PTile&) { t.addTile(c); }},
      {"addTileRaw(CTile)", [](CTile& t, const CTile& c, const PTile&) { t.addTileRaw(c); }},
      {"subTile(CTile)", [](CTile& t, const CTile& c, const PTile&) { t.subTile(c); }},
      {"subTileRaw(CTile)", [](CTile& t, const CTile& c, const PTile&) { t.subTileRaw(c); }},
      {"multiplyTile(CTile)", [](CTile& t, const CTile& c, const PTile&) { t.multiplyTile(c); }},
      {"multiplyTileRaw(CTile)",
       [](CTile& t, const CTile& c, const PTile&) { t.multiplyTileRaw(c); }},
      {"addTile(PTile)", [](CTile& t, const CTile&, const PTile& p) { t.addTile(p); }},
      {"addTileRaw(PTile)", [](CTile& t, const CTile&, const PTile& p) { t.addTileRaw(p); }},
      {"subTile(PTile)", [](CTile& t, const CTile&, const PTile& p) { t.subTile(p); }},
      {"subTileRaw(PTile)", [](CTile& t, const CTile&, const PTile& p) { t.subTileRaw(p); }},
      {"multiplyTile(PTile)", [](CTile& t, const CTile&, const PTile& p) { t.multiplyTile(p); }},
      {"multiplyTileRaw(PTile)",
       [](CTile& t, const CTile&, const PTile& p) { t.multiplyTileRaw(p); }},
      {"autoBootstrap", [](CTile& t, const CTile& c, const PTile&) { t.autoBootstrap(c); }},
      {"alignChainIndexes",
       [](CTile& t, const CTile& c, const PTile&) { t.alignChainIndexes(c); }},
      {"alignPlainChainIndex",
       [](CTile& t, const CTile&, const PTile& p) { t.alignPlainChainIndex(p); }},
  };
}

/// Contexts to mix: two SEAL contexts with equal parameters, and mockups.
struct Contexts
{
  std::shared_ptr<HeContext> seal1 = sealContext();
  std::shared_ptr<HeContext> seal2 = sealContext();
  std::shared_ptr<HeContext> mock1 = mockupContext(SLOTS, 2);
  std::shared_ptr<HeContext> mock2 = mockupContext(SLOTS, 2);
};

Contexts& contexts()
{
  static Contexts c;
  return c;
}

} // namespace

TEST(OtherContextOperands, TileOperationsRefuseThemUnchanged)
{
  Contexts& c = contexts();
  struct Pair
  {
    const char* name;
    const HeContext& target;
    const HeContext& operand;
  };
  for (const Pair& pair : std::vector<Pair>{{"SEAL with SEAL", *c.seal1, *c.seal2},
                                            {"SEAL with mockup", *c.seal1, *c.mock1},
                                            {"mockup with SEAL", *c.mock1, *c.seal1},
                                            {"mockup with mockup", *c.mock1, *c.mock2}}) {
    CTile otherCipher = encryptedTile(pair.operand, Y);
    PTile otherPlain = encodedTile(pair.operand, Y);
    for (const TileOperation& op : tileOperations()) {
      SCOPED_TRACE(std::string(pair.name) + ": " + op.name);
      CTile target = encryptedTile(pair.target, X);
      int chainIndex = target.getChainIndex();
      double scale = target.getScale();
      expectThrowWithMessage<std::invalid_argument>(
          [&] { op.run(target, otherCipher, otherPlain); },
          otherContextMessage(pair.operand, pair.target));
      EXPECT_EQ(target.getChainIndex(), chainIndex);
      EXPECT_EQ(target.getScale(), scale);
      expectNear(firstValues(target), X);
      expectNear(firstValues(otherCipher), Y);
    }
  }
}

TEST(OtherContextOperands, EncoderCallsRefuseThem)
{
  Contexts& c = contexts();
  const HeContext& own = *c.seal1;
  for (const HeContext* other : {c.seal2.get(), c.mock1.get()}) {
    SCOPED_TRACE(other->getRegistryKey());
    Encoder encoder(own);
    CTile foreignCipher = encryptedTile(*other, X);
    PTile foreignPlain = encodedTile(*other, X);
    CTile ownCipher = encryptedTile(own, Y);
    PTile ownPlain = encodedTile(own, Y);
    std::vector<double> expected(SLOTS, 1.0);
    std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"encode complex", [&] { encoder.encode(foreignPlain, std::vector<std::complex<double>>{1}); }},
        {"encode double", [&] { encoder.encode(foreignPlain, std::vector<double>{1}); }},
        {"encode int", [&] { encoder.encode(foreignPlain, std::vector<int>{1}); }},
        {"encode scalar", [&] { encoder.encode(foreignPlain, 1.5); }},
        {"encode int scalar", [&] { encoder.encode(foreignPlain, 2); }},
        {"encodeEncrypt complex",
         [&] { encoder.encodeEncrypt(foreignCipher, std::vector<std::complex<double>>{1}); }},
        {"encodeEncrypt double", [&] { encoder.encodeEncrypt(foreignCipher, std::vector<double>{1}); }},
        {"encodeEncrypt int", [&] { encoder.encodeEncrypt(foreignCipher, std::vector<int>{1}); }},
        {"encodeEncrypt scalar", [&] { encoder.encodeEncrypt(foreignCipher, 1.5); }},
        {"encodeEncrypt int scalar", [&] { encoder.encodeEncrypt(foreignCipher, 2); }},
        {"encrypt into", [&] { encoder.encrypt(foreignCipher, ownPlain); }},
        {"encrypt from", [&] { encoder.encrypt(ownCipher, foreignPlain); }},
        {"decrypt into", [&] { encoder.decrypt(foreignPlain, ownCipher); }},
        {"decrypt from", [&] { encoder.decrypt(ownPlain, foreignCipher); }},
        {"decodeComplex", [&] { encoder.decodeComplex(foreignPlain); }},
        {"decodeDouble", [&] { encoder.decodeDouble(foreignPlain); }},
        {"decodeInt", [&] { encoder.decodeInt(foreignPlain); }},
        {"decryptDecodeComplex", [&] { encoder.decryptDecodeComplex(foreignCipher); }},
        {"decryptDecodeDouble", [&] { encoder.decryptDecodeDouble(foreignCipher); }},
        {"decryptDecodeInt", [&] { encoder.decryptDecodeInt(foreignCipher); }},
        {"decryptDecodeTileDouble(CTile)", [&] { encoder.decryptDecodeTileDouble(foreignCipher); }},
        {"decryptDecodeTileDouble(PTile)", [&] { encoder.decryptDecodeTileDouble(foreignPlain); }},
        {"encryptTile from CTile", [&] { encoder.encryptTile(ownCipher, foreignCipher); }},
        {"encryptTile from PTile", [&] { encoder.encryptTile(ownCipher, foreignPlain); }},
        {"encryptTile into", [&] { encoder.encryptTile(foreignCipher, ownPlain); }},
        {"assertEquals complex",
         [&] { encoder.assertEquals(foreignCipher, "t", std::vector<std::complex<double>>{1}, 10); }},
        {"assertEquals double",
         [&] { encoder.assertEquals(foreignCipher, "t", std::vector<double>{1}, 10); }},
        {"assertEquals int", [&] { encoder.assertEquals(foreignCipher, "t", std::vector<int>{1}, 10); }},
        {"printErrorStats",
         [&] {
           std::ostringstream out;
           encoder.printErrorStats(foreignCipher, expected, out);
         }},
    };
    for (auto& call : calls) {
      SCOPED_TRACE(call.first);
      expectThrowWithMessage<std::invalid_argument>(call.second, otherContextMessage(*other, own));
    }
    // Nothing was written into either context's tiles.
    expectNear(firstValues(foreignCipher), X);
    std::vector<double> plainValues = Encoder(*other).decodeDouble(foreignPlain);
    expectNear(std::vector<double>(plainValues.begin(), plainValues.begin() + 4), X);
    expectNear(firstValues(ownCipher), Y);
  }
}

TEST(OtherContextOperands, ContextsLoadedFromOneSavedContextMix)
{
  std::shared_ptr<HeContext> original = sealContext();
  std::shared_ptr<HeContext> first = loadedCopy(*original);
  std::shared_ptr<HeContext> second = loadedCopy(*original);
  ASSERT_EQ(first->getContextId(), original->getContextId());

  CTile x = encryptedTile(*original, X);
  CTile y = encryptedTile(*first, Y);
  CTile z = encryptedTile(*second, X);
  x.add(y);
  x.multiplyPlain(encodedTile(*second, Y));
  y.sub(z);
  std::vector<double> expectedX, expectedY;
  for (size_t i = 0; i < X.size(); ++i) {
    expectedX.push_back((X[i] + Y[i]) * Y[i]);
    expectedY.push_back(Y[i] - X[i]);
  }
  // Each context decrypts the others' ciphertexts.
  for (const HeContext* he : {original.get(), first.get(), second.get()}) {
    Encoder encoder(*he);
    std::vector<double> valuesX = encoder.decryptDecodeDouble(x);
    std::vector<double> valuesY = encoder.decryptDecodeDouble(y);
    expectNear(std::vector<double>(valuesX.begin(), valuesX.begin() + 4), expectedX);
    expectNear(std::vector<double>(valuesY.begin(), valuesY.begin() + 4), expectedY);
  }
  // A context of another backend that claims the same id is still another context.
  std::string mockBytes = saved(*mockupContext(SLOTS, 2));
  const size_t idOffset = headerBytes("HeContext", 0).size() - 4;
  mockBytes.replace(idOffset, 4, le32(original->getContextId()));
  std::shared_ptr<HeContext> mock = loadContext(mockBytes);
  ASSERT_EQ(mock->getContextId(), original->getContextId());
  EXPECT_NO_THROW(original->checkSameContext(*first));
  EXPECT_NO_THROW(first->checkSameContext(*second));
  CTile sealTile = encryptedTile(*original, X);
  CTile mockTile(*mock);
  expectThrowWithMessage<std::invalid_argument>([&] { sealTile.add(mockTile); },
                                                otherContextMessage(*mock, *original));
  expectThrowWithMessage<std::invalid_argument>([&] { mockTile.add(sealTile); },
                                                otherContextMessage(*original, *mock));
}
