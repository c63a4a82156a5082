// Tile bodies load only what their context can hold, and a refused load
// leaves the tile as it was.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/TTShape.h"

using namespace quorvane;
using namespace qvtest;

namespace {

std::string savedCipher(const HeContext& he, const std::vector<double>& values, int chainIndex)
{
  CTile c(he);
  Encoder(he).encodeEncrypt(c, values, chainIndex);
  return saved(c);
}

/// Loads bytes into the tile, expecting the refusal; the tile must keep its
/// saved form and scale.
template <typename Tile>
void expectRefusedAndUnchanged(Tile& tile, const std::string& bytes, const std::string& message)
{
  std::string before = saved(tile);
  double scale = tile.getScale();
  std::istringstream in(bytes);
  expectThrowWithMessage<std::runtime_error>([&] { tile.load(in); }, message);
  EXPECT_EQ(saved(tile), before);
  EXPECT_EQ(tile.getScale(), scale);
}

} // namespace

// A chain index outside the context's range, a value count other than its
// slot count, a plaintext of a smaller context.
TEST(TileLoadChecks, MockupBodiesMustFitTheContext)
{
  auto he = createMockup(16, 4);
  std::vector<double> values(16, 0.25);
  std::string cipher = savedCipher(*he, values, 4);
  const size_t chainAt = TILE_HEADER + 8 + 16 * 16;
  ASSERT_EQ(int32At(cipher, chainAt), 4);
  auto small = createMockup(4, 4);
  PTile fourSlots(*small);
  Encoder(*small).encode(fourSlots, std::vector<double>{1, 2, 3, 4});
  const std::string range = "Invalid saved mockup tile: the chain index is ";
  const std::string count = "Invalid saved mockup tile: the value count is ";
  struct Case
  {
    std::string bytes;
    std::string message;
  };
  const Case cipherCases[] = {
      {patched(cipher, chainAt, le32(1000)), range + "1000, expected a value in [0, 4]"},
      {patched(cipher, chainAt, le32(5)), range + "5, expected a value in [0, 4]"},
      {patched(cipher, chainAt, le32(-1)), range + "-1, expected a value in [0, 4]"},
      {cipher.substr(0, TILE_HEADER) + le64(0) + le32(4),
       count + "0, expected the context's slot count 16"},
      {cipher.substr(0, TILE_HEADER) + le64(17) + cipher.substr(TILE_HEADER + 8) +
           std::string(16, '\0'),
       count + "17, expected the context's slot count 16"},
  };
  Encoder encoder(*he);
  for (const Case& c : cipherCases) {
    SCOPED_TRACE(c.message);
    CTile target(*he);
    encoder.encodeEncrypt(target, std::vector<double>(16, -1.0), 2);
    target.setScale(3.0);
    expectRefusedAndUnchanged(target, c.bytes, c.message);
  }
  PTile plain(*he);
  encoder.encode(plain, std::vector<double>(16, -1.0), 1);
  expectRefusedAndUnchanged(plain, saved(fourSlots),
                            count + "4, expected the context's slot count 16");
  // Chain indexes 0 to top load.
  for (int chainIndex = 0; chainIndex <= 4; chainIndex++) {
    CTile target(*he);
    std::istringstream in(patched(cipher, chainAt, le32(chainIndex)));
    target.load(in);
    EXPECT_EQ(target.getChainIndex(), chainIndex);
  }
}

// A context that hides chain indexes saves -1; a bootstrap may raise a tile
// above the top, to the context's target chain index.
TEST(TileLoadChecks, MockupChainIndexRangeFollowsTheContext)
{
  auto hidden = mockupContext<NoChainIndexMockupContext>(8, 3);
  std::string cipher = savedCipher(*hidden, std::vector<double>(8, 0.5), -1);
  const size_t chainAt = TILE_HEADER + 8 + 8 * 16;
  ASSERT_EQ(int32At(cipher, chainAt), -1);
  CTile loaded(*hidden);
  std::istringstream in(cipher);
  loaded.load(in);
  CTile refused(*hidden);
  std::istringstream below(patched(cipher, chainAt, le32(-2)));
  expectThrowWithMessage<std::runtime_error>(
      [&] { refused.load(below); },
      "Invalid saved mockup tile: the chain index is -2, expected a value in [-1, 3]");

  auto bootstrapping = createMockup(bootstrappable(8, 2));
  ASSERT_EQ(bootstrapping->getChainIndexAfterBootstrapping(), 4);
  CTile c(*bootstrapping);
  Encoder(*bootstrapping).encodeEncrypt(c, std::vector<double>(8, 0.5), 0);
  c.bootstrap();
  ASSERT_EQ(c.getChainIndex(), 4);
  CTile copy(*bootstrapping);
  std::istringstream bootstrapped(saved(c));
  copy.load(bootstrapped);
  EXPECT_EQ(copy.getChainIndex(), 4);
  CTile above(*bootstrapping);
  std::istringstream tooHigh(patched(saved(c), chainAt, le32(5)));
  expectThrowWithMessage<std::runtime_error>(
      [&] { above.load(tooHigh); },
      "Invalid saved mockup tile: the chain index is 5, expected a value in [0, 4]");
}

// A debug tile whose second half is refused keeps both halves.
TEST(TileLoadChecks, DebugTileLoadsBothHalvesOrNeither)
{
  auto h1 = createMockup(8, 5);
  auto h2 = createMockup(8, 5);
  DebugContext dc(*h1, *h2, 1e-05, false);
  Encoder encoder(dc);
  CTile source(dc);
  encoder.encodeEncrypt(source, std::vector<double>(8, 0.5), 3);
  std::string bytes = saved(source);
  ASSERT_EQ(int32At(bytes, bytes.size() - 4), 3);
  CTile target(dc);
  encoder.encodeEncrypt(target, std::vector<double>(8, -2.0), 1);
  auto& halves = dynamic_cast<DebugCiphertext&>(target.getImpl());
  std::ostringstream c1Before;
  halves.getC1().save(c1Before);
  expectRefusedAndUnchanged(target, patched(bytes, bytes.size() - 4, le32(9)),
                            "Invalid saved mockup tile: the chain index is 9, expected a value "
                            "in [0, 5]");
  std::ostringstream c1After;
  dynamic_cast<DebugCiphertext&>(target.getImpl()).getC1().save(c1After);
  EXPECT_EQ(c1After.str(), c1Before.str());
  std::istringstream in(bytes);
  target.load(in);
  EXPECT_EQ(target.getChainIndex(), 3);
  EXPECT_EQ(encoder.decryptDecodeDouble(target), std::vector<double>(8, 0.5));
}

// SEAL bodies: SEAL places them at a level of the context; a plaintext with
// coefficients that are not encoded values or a ciphertext without
// polynomials holds no slot values and is refused.
TEST(TileLoadChecks, SealBodiesMustHoldValues)
{
  SealCkksContext he;
  HeConfigRequirement r = HeConfigRequirement::insecure(8, 1, 20, 5);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  he.init(r);
  Encoder encoder(he);

  std::ostringstream rawBlob;
  seal::Plaintext("2x^1 + 1").save(rawBlob, seal::compr_mode_type::none);
  std::string rawPlain = headerBytes("PTile", he.getContextId()) + rawBlob.str();
  PTile target(he);
  encoder.encode(target, std::vector<double>(8, 0.5), 1);
  std::string before = saved(target);
  std::istringstream rawIn(rawPlain);
  expectThrowWithMessage<std::logic_error>([&] { target.load(rawIn); },
                                           "Plaintext data is invalid");
  EXPECT_EQ(saved(target), before);

  // No polynomials, at the top level of this context.
  std::ostringstream emptyBlob;
  seal::Ciphertext(he.getSealContext()).save(emptyBlob, seal::compr_mode_type::none);
  CTile cipher(he);
  encoder.encodeEncrypt(cipher, std::vector<double>(8, 0.5), 1);
  std::string emptyCipher = headerBytes("CTile", he.getContextId()) + emptyBlob.str();
  expectRefusedAndUnchanged(cipher, emptyCipher,
                            "Invalid saved SEAL ciphertext: it holds no polynomials");
}

// A tile made from a context and never filled saves, and its bytes load back
// as an empty tile on every backend that saves one, emptying the target.
TEST(TileLoadChecks, EmptyTilesLoadBackEmpty)
{
  auto mockup = createMockup(16, 4);
  auto hidden = mockupContext<NoChainIndexMockupContext>(8, 3);
  auto h1 = createMockup(8, 5);
  auto h2 = createMockup(8, 5);
  DebugContext debug(*h1, *h2, 1e-05, false);
  SealCkksContext seal;
  HeConfigRequirement r = HeConfigRequirement::insecure(8, 1, 20, 5);
  r.publicFunctions = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  seal.init(r);
  SealCkksContext innerSeal;
  MockupContext innerMockup;
  DebugContext sealDebug(innerSeal, innerMockup, 1e-03, false);
  sealDebug.init(r);
  struct Case
  {
    const char* name;
    const HeContext* he;
    bool ciphertexts; // SEAL refuses to save an empty ciphertext
  };
  const Case cases[] = {{"mockup", mockup.get(), true},
                        {"mockup without chain indexes", hidden.get(), true},
                        {"debug", &debug, true},
                        {"SEAL", &seal, false},
                        {"debug over SEAL and mockup", &sealDebug, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HeContext& he = *c.he;
    Encoder encoder(he);
    const std::vector<double> values(he.slotCount(), 0.5);
    if (c.ciphertexts) {
      const std::string bytes = saved(CTile(he));
      CTile target(he);
      encoder.encodeEncrypt(target, values);
      std::istringstream in(bytes);
      target.load(in);
      EXPECT_TRUE(target.isEmpty());
      EXPECT_EQ(saved(target), bytes);
      // Filled again, it is an ordinary tile.
      encoder.encodeEncrypt(target, values);
      EXPECT_EQ(encoder.decryptDecodeDouble(target), values);
    }
    const std::string bytes = saved(PTile(he));
    PTile target(he);
    encoder.encode(target, values);
    std::istringstream in(bytes);
    target.load(in);
    EXPECT_EQ(saved(target), bytes);
    encoder.encode(target, values);
    EXPECT_NEAR(encoder.decodeDouble(target).at(0), 0.5, 1e-4);
  }
  PTile sealPlain(seal);
  std::istringstream in(saved(PTile(seal)));
  sealPlain.load(in);
  expectThrowWithMessage<std::runtime_error>(
      [&] { sealPlain.getChainIndex(); },
      "The plaintext is empty: nothing has been encoded into it");
}

// An empty mockup plaintext keeps a chain index it was given; an empty
// ciphertext has none. Other value counts and chain indexes stay refused.
TEST(TileLoadChecks, EmptyMockupBodies)
{
  auto he = createMockup(16, 4);
  PTile plain(*he);
  plain.setChainIndex(2);
  const std::string bytes = saved(plain);
  ASSERT_EQ(bytes.substr(TILE_HEADER), le64(0) + le32(2));
  PTile loaded(*he);
  std::istringstream in(bytes);
  loaded.load(in);
  EXPECT_EQ(loaded.getChainIndex(), 2);
  EXPECT_EQ(saved(loaded), bytes);

  // Loading an empty tile records no values while values are tracked.
  auto& mockup = dynamic_cast<MockupContext&>(*he);
  mockup.startValuesTracking();
  CTile cipher(*he);
  std::istringstream empty(saved(CTile(*he)));
  cipher.load(empty);
  EXPECT_TRUE(cipher.isEmpty());
  EXPECT_EQ(mockup.getObservedMaxValues(), std::vector<double>(5, -1.0));

  const std::string header = bytes.substr(0, TILE_HEADER);
  const std::string cipherHeader = headerBytes("CTile", he->getContextId());
  const std::string count = "Invalid saved mockup tile: the value count is ";
  const std::string range = "Invalid saved mockup tile: the chain index is ";
  Encoder encoder(*he);
  struct Case
  {
    bool ciphertext;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {true, cipherHeader + le64(0) + le32(0), count + "0, expected the context's slot count 16"},
      {true, cipherHeader + le64(1) + std::string(16, '\0') + le32(4),
       count + "1, expected the context's slot count 16"},
      {false, header + le64(0) + le32(5), range + "5, expected a value in [-1, 4]"},
      {false, header + le64(0) + le32(-2), range + "-2, expected a value in [-1, 4]"},
      {false, header + le64(15) + std::string(15 * 16, '\0') + le32(4),
       count + "15, expected the context's slot count 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (c.ciphertext) {
      CTile target(*he);
      encoder.encodeEncrypt(target, std::vector<double>(16, -1.0), 2);
      expectRefusedAndUnchanged(target, c.bytes, c.message);
    } else {
      PTile target(*he);
      encoder.encode(target, std::vector<double>(16, -1.0), 1);
      expectRefusedAndUnchanged(target, c.bytes, c.message);
    }
  }
}

