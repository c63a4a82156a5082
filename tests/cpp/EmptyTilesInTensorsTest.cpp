// A packed tile tensor's tiles hold values: a saved tensor or data set holding
// an empty tile is refused on load, and one emptied in memory is refused by
// every operation that reads its tiles, naming the tile, before anything
// changes.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EmptyTileRecords.h"
#include "MultiPartyTestUtils.h"
#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/FileStorage.h"
#include "hebase/PTile.h"
#include "hebase/impl/DecryptProtocol.h"
#include "hebase/mockup/DebugContext.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/TTConvolution.h"
#include "math/TTEncoder.h"
#include "math/TTFunctionEvaluator.h"
#include "math/TTShape.h"

using namespace quorvane;
using namespace qvtest;
using namespace qvrecords;

namespace {

const std::string HOLDS_NO_VALUES = " is empty: it holds no values";

/// What identifies a tensor's content without saving it (saving refuses an
/// empty tile): its shape, its packed flag and every tile's saved form.
template <typename Tensor>
std::string snapshot(const Tensor& t)
{
  std::string res = t.getShape().toString() + (t.isPacked() ? " packed" : "");
  if (t.isPacked())
    for (int i = 0; i < t.getNumUsedTiles(); ++i)
      res += "|" + saved(t.getTileByFlatIndex(i));
  return res;
}

TTShape complexPackedShape()
{
  return shapeOf({TTDim(4, 2), TTDim(12, 8, 1, false, false, true)});
}

} // namespace

// Each container kind, with an empty tile in place of one of its tiles, is
// refused on load with the tile's flat index, and the object loaded into keeps
// what it held.
TEST(EmptyTilesInTensors, LoadsRefuseAPackedContainerHoldingOne)
{
  auto mockup = createMockup(16, 4);
  auto h1 = createMockup(16, 4);
  auto h2 = createMockup(16, 4);
  DebugContext debug(*h1, *h2, 1e-5, false);
  auto seal = HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(16, 1, 20, 5));
  const DoubleTensor values = randomTensor({4, 6}, 3);
  const DoubleTensor complexValues = randomTensor({4, 12}, 4);
  const std::string ctt = "Invalid saved CTileTensor: tile ";
  const std::string ptt = "Invalid saved PTileTensor: tile ";
  const std::string tail = " is empty, but the tiles of a packed tensor must hold values";

  for (const HeContext* he : {static_cast<const HeContext*>(mockup.get()),
                              static_cast<const HeContext*>(&debug)}) {
    SCOPED_TRACE(he == &debug ? "debug" : "mockup");
    const CTileTensor cipher = encrypted(*he, TTShape({2, 8}), values);
    const PTileTensor plain = encoded(*he, TTShape({2, 8}), values);
    ASSERT_EQ(cipher.getNumUsedTiles(), 2);
    const CTileTensor complexPacked = encrypted(*he, complexPackedShape(), complexValues);
    ASSERT_EQ(complexPacked.getNumUsedTiles(), 2);
    PTileTensor awake(*he);
    TTEncoder(*he, LAZY_ENCODING).encode(awake, TTShape({2, 8}), values);
    awake.wakeup();
    ASSERT_TRUE(awake.isPacked());

    struct Case
    {
      const char* name;
      std::string bytes;
      std::string message;
      bool plaintext;
    };
    const Case cases[] = {
        {"ciphertexts, tile 1", withEmptyTile<CTile>(cipher, 1), ctt + "1" + tail,
         false},
        {"ciphertexts, tile 0", withEmptyTile<CTile>(cipher, 0), ctt + "0" + tail,
         false},
        {"complex packed", withEmptyTile<CTile>(complexPacked, 1),
         ctt + "1" + tail, false},
        {"plaintexts", withEmptyTile<PTile>(plain, 1), ptt + "1" + tail, true},
        {"lazy plaintexts woken up", withEmptyTile<PTile>(awake, 0),
         ptt + "0" + tail, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      if (c.plaintext) {
        PTileTensor target = encoded(*he, TTShape({16}), randomTensor({16}, 5));
        const std::string before = saved(target);
        EXPECT_EQ(loadError(target, c.bytes), c.message);
        EXPECT_EQ(saved(target), before);
        continue;
      }
      CTileTensor target = encrypted(*he, TTShape({16}), randomTensor({16}, 5));
      const std::string before = saved(target);
      EXPECT_EQ(loadError(target, c.bytes), c.message);
      EXPECT_EQ(saved(target), before);
      // Nested in a batch and in a data set, the same refusal.
      EncryptedBatch batch(*he);
      EXPECT_EQ(loadError(batch, batchOf(*he, c.bytes)), c.message);
      EXPECT_EQ(batch.getNumItems(), 0u);
      EncryptedData data(*he);
      EXPECT_EQ(loadError(data, dataSetOf(*he, c.bytes)), c.message);
      EXPECT_EQ(data.getNumBatches(), 0u);
    }
  }

  // SEAL saves an empty plaintext (not an empty ciphertext).
  const PTileTensor sealPlain = encoded(*seal, TTShape({2, 8}), values);
  PTileTensor target(*seal);
  EXPECT_EQ(loadError(target, withEmptyTile<PTile>(sealPlain, 1)),
            ptt + "1" + tail);
  EXPECT_FALSE(target.isPacked());
}

// A debug tile holds values in both halves or in neither.
TEST(EmptyTilesInTensors, DebugTilesWithOneEmptyHalfAreRefusedOnLoad)
{
  auto h1 = createMockup(16, 4);
  auto h2 = createMockup(16, 4);
  DebugContext debug(*h1, *h2, 1e-5, false);
  const std::string header = headerBytes("CTile", debug.getContextId());
  const std::string full = saved(encrypted(*h1, std::vector<double>(16, 0.5))).substr(TILE_HEADER);
  const std::string empty = saved(CTile(*h1)).substr(TILE_HEADER);
  const std::string plainHeader = headerBytes("PTile", debug.getContextId());
  PTile fullPlain(*h1);
  Encoder(*h1).encode(fullPlain, std::vector<double>(16, 0.5));
  const std::string plainFull = saved(fullPlain).substr(TILE_HEADER);
  const std::string plainEmpty = saved(PTile(*h1)).substr(TILE_HEADER);
  const std::string message = "Invalid saved debug tile: the ";
  CTile cipher = encrypted(debug, std::vector<double>(16, 0.25));
  const std::string before = saved(cipher);
  EXPECT_EQ(loadError(cipher, header + full + empty),
            message + "second half is empty, the other holds values");
  EXPECT_EQ(loadError(cipher, header + empty + full),
            message + "first half is empty, the other holds values");
  EXPECT_EQ(saved(cipher), before);
  PTile plain(debug);
  EXPECT_EQ(loadError(plain, plainHeader + plainFull + plainEmpty),
            message + "second half is empty, the other holds values");
  // Both halves empty: an empty debug tile, as saved.
  CTile emptyCipher(debug);
  std::istringstream in(header + empty + empty);
  emptyCipher.load(in);
  EXPECT_TRUE(emptyCipher.isEmpty());
}

// A tensor one of whose tiles was emptied in memory (through the writable tile
// access) is refused by every operation that reads its tiles, which names the
// tile and the tensor it belongs to as the caller sees it; no tensor changes.
TEST(EmptyTilesInTensors, OperationsRefuseATensorHoldingOne)
{
  auto he = createMockup(16, 4);
  const DoubleTensor values = randomTensor({4, 6}, 3);
  const TTShape shape({2, 8});
  CTileTensor bad = encrypted(*he, shape, values);
  static_cast<CTile&>(bad.getMutableTile(1)) = CTile(*he);
  CTileTensor good = encrypted(*he, shape, values);
  PTileTensor badPlain = encoded(*he, shape, values);
  static_cast<PTile&>(badPlain.getMutableTile(1)) = PTile(*he);
  PTileTensor goodPlain = encoded(*he, shape, values);
  const TTEncoder encoder(*he);
  const TTFunctionEvaluator functions(*he);
  const std::string self = "Tile 1 of this tile tensor" + HOLDS_NO_VALUES;
  const std::string other = "Tile 1 of the other tile tensor" + HOLDS_NO_VALUES;

  struct Case
  {
    const char* name;
    std::function<void()> op;
    std::string message;
  };
  const Case cases[] = {
      {"decrypt and decode", [&] { encoder.decryptDecodeDouble(bad); }, self},
      {"decrypt",
       [&] {
         PTileTensor res(*he);
         encoder.decrypt(res, bad);
       },
       self},
      {"decode", [&] { encoder.decodeDouble(badPlain); }, self},
      {"encrypt",
       [&] {
         CTileTensor res(*he);
         encoder.encrypt(res, badPlain);
       },
       self},
      {"assert equals", [&] { encoder.assertEquals(bad, "t", values, 1e-3, false); }, self},
      {"print", [&] { bad.toString(VERBOSITY_REGULAR); }, self},
      {"print a plaintext", [&] { badPlain.toString(VERBOSITY_REGULAR); }, self},
      {"integrity", [&] { bad.assertIntegrity(1e-3); }, self},
      {"plaintext integrity", [&] { badPlain.assertIntegrity(1e-3); }, self},
      {"save", [&] { saved(bad); }, self},
      {"save a plaintext", [&] { saved(badPlain); }, self},
      {"sum over a dimension", [&] { bad.sumOverDim(0); }, self},
      {"sum of tiles", [&] { bad.sumTilesOverDim(0); }, self},
      {"rotation", [&] { bad.rotateAlongDim(1, 1); }, self},
      {"product", [&] { bad.multiply(good); }, self},
      {"product by it", [&] { good.multiply(bad); }, other},
      {"sum with it", [&] { good.add(bad); }, other},
      {"plaintext product by it", [&] { good.multiplyPlain(badPlain); }, other},
      {"added to another", [&] { bad.addTo(good); }, self},
      {"plaintext added to another", [&] { badPlain.addTo(good); }, self},
      {"plaintext product", [&] { badPlain.getMultiply(good); }, self},
      {"multiply and sum", [&] { good.multiplyAndSum(bad, 0); }, other},
      {"multiplied and summed into another", [&] { bad.multiplyAndSumTo(good, 0); }, self},
      {"matrix product", [&] { good.getMatrixMultiplication(bad, 0); }, other},
      {"re-encryption", [&] { bad.reEncrypt(); }, self},
      {"chain index", [&] { bad.setChainIndex(2); }, self},
      {"plaintext chain index", [&] { badPlain.setChainIndex(2); }, self},
      {"scalar", [&] { bad.addScalar(1.0); }, self},
      {"negation", [&] { bad.negate(); }, self},
      {"slice", [&] { bad.getSlice(0, 0, 1); }, self},
      {"polynomial", [&] { functions.polyEvalInPlace(bad, {1, 2, 3}, EFFICIENT_POWERS); }, self},
      {"comparison", [&] { functions.compare(good, bad, 1, 1, 1); }, other},
      // An argument is "the other tile tensor" also where it carries the
      // operation out (double dispatch) or only its chain index is read.
      {"addTo", [&] { good.addTo(bad); }, other},
      {"addToRaw", [&] { good.addToRaw(bad); }, other},
      {"subFrom", [&] { good.subFrom(bad); }, other},
      {"subFromRaw", [&] { good.subFromRaw(bad); }, other},
      {"multiplyTo", [&] { good.multiplyTo(bad); }, other},
      {"multiplyToRaw", [&] { good.multiplyToRaw(bad); }, other},
      {"multiplyAndSumTo", [&] { good.multiplyAndSumTo(bad, 0); }, other},
      {"getMultiplyAndSum", [&] { good.getMultiplyAndSum(bad, 0); }, other},
      {"setChainIndex", [&] { good.setChainIndex(bad); }, other},
      {"getSetChainIndex", [&] { good.getSetChainIndex(bad); }, other},
      {"getMultiplyPlainAndSum", [&] { good.getMultiplyPlainAndSum(badPlain, 0); }, other},
      {"plaintext getMultiply", [&] { goodPlain.getMultiply(bad); }, other},
      {"plaintext getMultiplyRaw", [&] { goodPlain.getMultiplyRaw(bad); }, other},
      {"plaintext getAdd", [&] { goodPlain.getAdd(bad); }, other},
      {"plaintext getAddRaw", [&] { goodPlain.getAddRaw(bad); }, other},
      {"plaintext addTo", [&] { goodPlain.addTo(bad); }, other},
      {"plaintext addToRaw", [&] { goodPlain.addToRaw(bad); }, other},
      {"plaintext subFrom", [&] { goodPlain.subFrom(bad); }, other},
      {"plaintext subFromRaw", [&] { goodPlain.subFromRaw(bad); }, other},
      {"plaintext multiplyTo", [&] { goodPlain.multiplyTo(bad); }, other},
      {"plaintext multiplyToRaw", [&] { goodPlain.multiplyToRaw(bad); }, other},
      {"plaintext getMultiplyAndSum", [&] { goodPlain.getMultiplyAndSum(bad, 0); }, other},
      {"plaintext multiplyAndSumTo", [&] { goodPlain.multiplyAndSumTo(bad, 0); }, other},
      {"plaintext setChainIndex", [&] { goodPlain.setChainIndex(bad); }, other},
      {"plaintext getSetChainIndex", [&] { goodPlain.getSetChainIndex(bad); }, other},
      {"plaintext setChainIndex from a plaintext", [&] { goodPlain.setChainIndex(badPlain); },
       other},
      // The caller's own empty tile stays its own.
      {"subFrom by it", [&] { bad.subFrom(good); }, self},
      {"plaintext subFrom by it", [&] { badPlain.subFrom(good); }, self},
      {"plaintext getMultiplyAndSum by it", [&] { badPlain.getMultiplyAndSum(good, 0); }, self},
      {"plaintext multiplyAndSumTo by it", [&] { badPlain.multiplyAndSumTo(good, 0); }, self},
  };
  const std::string badBefore = snapshot(bad);
  const std::string goodBefore = snapshot(good);
  const std::string badPlainBefore = snapshot(badPlain);
  const std::string goodPlainBefore = snapshot(goodPlain);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectThrowWithMessage<std::runtime_error>(c.op, c.message);
    EXPECT_EQ(snapshot(bad), badBefore);
    EXPECT_EQ(snapshot(good), goodBefore);
    EXPECT_EQ(snapshot(badPlain), badPlainBefore);
    EXPECT_EQ(snapshot(goodPlain), goodPlainBefore);
  }
  EXPECT_EQ(saved(goodPlain), saved(encoded(*he, shape, values)));

  // Saving writes nothing at all.
  std::ostringstream out;
  EXPECT_THROW(bad.save(out), std::runtime_error);
  EXPECT_EQ(out.str(), "");

  // A tile whose content was moved away is empty too.
  CTileTensor moved = encrypted(*he, shape, values);
  CTile taken = std::move(static_cast<CTile&>(moved.getMutableTile(0)));
  expectThrowWithMessage<std::runtime_error>([&] { encoder.decryptDecodeDouble(moved); },
                                             "Tile 0 of this tile tensor" + HOLDS_NO_VALUES);
  EXPECT_FALSE(taken.isEmpty());

  // Queries that read no values still answer.
  EXPECT_EQ(bad.getNumUsedTiles(), 2);
  EXPECT_EQ(bad.getCurrentDevice(), DEVICE_CPU);
}

// Queries that read one tile check that tile alone: an empty tile elsewhere
// does not stop them, an empty tile 0 is refused, and the memory estimate
// (tile 0's estimate times the tile count) reports no figure read off it.
TEST(EmptyTilesInTensors, QueriesReadingOneTileCheckThatTile)
{
  auto mockup = createMockup(16, 4);
  auto seal = HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(16, 2, 20, 5));
  const DoubleTensor values = randomTensor({4, 6}, 3);
  const TTShape shape({2, 8});
  const std::string tile0 = "Tile 0 of this tile tensor" + HOLDS_NO_VALUES;
  for (const HeContext* he : {mockup.get(), seal.get()}) {
    SCOPED_TRACE(he == seal.get() ? "SEAL" : "mockup");
    CTileTensor cipher = encrypted(*he, shape, values);
    PTileTensor plain = encoded(*he, shape, values);
    const int chainIndex = cipher.getChainIndex();
    const int64_t cipherBytes = cipher.getEstimatedMemoryUsageBytes();
    const int64_t plainBytes = plain.getEstimatedMemoryUsageBytes();
    if (he == seal.get()) {
      EXPECT_GT(cipherBytes, 0);
      EXPECT_GT(plainBytes, 0);
    }

    static_cast<CTile&>(cipher.getMutableTile(1)) = CTile(*he);
    static_cast<PTile&>(plain.getMutableTile(1)) = PTile(*he);
    EXPECT_EQ(cipher.getChainIndex(), chainIndex);
    EXPECT_EQ(plain.getChainIndex(), chainIndex);
    EXPECT_EQ(cipher.getCurrentDevice(), DEVICE_CPU);
    EXPECT_EQ(cipher.getEstimatedMemoryUsageBytes(), cipherBytes);
    EXPECT_EQ(plain.getEstimatedMemoryUsageBytes(), plainBytes);

    static_cast<CTile&>(cipher.getMutableTile(0)) = CTile(*he);
    static_cast<PTile&>(plain.getMutableTile(0)) = PTile(*he);
    for (const TileTensor* t : {static_cast<const TileTensor*>(&cipher),
                                static_cast<const TileTensor*>(&plain)}) {
      expectThrowWithMessage<std::runtime_error>([&] { t->getChainIndex(); }, tile0);
      expectThrowWithMessage<std::runtime_error>([&] { t->getEstimatedMemoryUsageBytes(); },
                                                 tile0);
      expectThrowWithMessage<std::runtime_error>([&] { t->getCurrentDevice(); }, tile0);
    }
  }
}

// The convolution names the input holding the empty tile.
TEST(EmptyTilesInTensors, ConvolutionInputsHoldingOneAreRefused)
{
  auto he = createMockup(16, 4);
  CTileTensor image =
      encrypted(*he, shapeOf({TTDim(3, 1), TTDim(3, 1), TTDim(2, 16)}), randomTensor({3, 3, 2}, 1));
  CTileTensor filters =
      encrypted(*he, shapeOf({TTDim(2, 1), TTDim(2, 1), TTDim(1, 1), TTDim(1, 16, 2)}),
                randomTensor({2, 2, 1, 1}, 2));
  CTileTensor biases =
      encrypted(*he, shapeOf({TTDim(1, 1), TTDim(1, 1), TTDim(1, 1), TTDim(1, 16, 2)}),
                randomTensor({1, 1, 1, 1}, 3), image.getChainIndex() - 1);
  // Sound inputs convolve.
  EXPECT_EQ(TTConvolution::getConvolution(image, filters, &biases, 1, 1).getNumUsedTiles(), 4);
  struct Case
  {
    CTileTensor* input;
    int tile;
    std::string message;
  };
  const Case cases[] = {{&image, 4, "Tile 4 of the image" + HOLDS_NO_VALUES},
                        {&filters, 3, "Tile 3 of the filters" + HOLDS_NO_VALUES},
                        {&biases, 0, "Tile 0 of the biases" + HOLDS_NO_VALUES}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CTile& tile = static_cast<CTile&>(c.input->getMutableTile(c.tile));
    CTile kept = tile;
    tile = CTile(*he);
    expectThrowWithMessage<std::runtime_error>(
        [&] { TTConvolution::getConvolution(image, filters, &biases, 1, 1); }, c.message);
    tile = kept;
  }
}

// Batches and data sets name the batch and the item; nothing is written, and
// a storage opens no buffer for a refused batch.
TEST(EmptyTilesInTensors, DataSetsHoldingOneAreNeitherSavedNorDecrypted)
{
  auto he = createMockup(16, 4);
  auto tensor =
      std::make_shared<CTileTensor>(encrypted(*he, TTShape({2, 8}), randomTensor({4, 6}, 3)));
  auto sound = std::make_shared<CTileTensor>(*tensor);
  EncryptedBatch batch(*he);
  batch.addItem(sound);
  batch.addItem(tensor);
  EncryptedData data(*he);
  data.addBatch(batch);
  data.addBatch(batch);
  static_cast<CTile&>(tensor->getMutableTile(1)) = CTile(*he);

  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>([&] { batch.save(out); },
                                             "Tile 1 of item 1" + HOLDS_NO_VALUES);
  expectThrowWithMessage<std::runtime_error>([&] { data.save(out); },
                                             "Tile 1 of item 1 of batch 0" + HOLDS_NO_VALUES);
  EXPECT_EQ(out.str(), "");

  TempDir dir;
  EncryptedData stored(*he);
  stored.attachOutputStorage(std::make_shared<FileStorage>(dir.file("store"), true));
  const std::vector<std::string> files = entries(dir.file("store"));
  expectThrowWithMessage<std::runtime_error>([&] { stored.addBatch(batch); },
                                             "Tile 1 of item 1" + HOLDS_NO_VALUES);
  EXPECT_EQ(stored.getNumBatches(), 0u);
  EXPECT_EQ(entries(dir.file("store")), files);

  // The decryption protocol takes no such input, before taking any role.
  std::vector<Party> parties = makeParties({1, 2}, {1, 2}, 1, 1);
  addDecryptProtocols(parties, 1);
  const HeContext& own = *parties[0].he;
  auto input =
      std::make_shared<CTileTensor>(encrypted(own, TTShape({2, 4}), randomTensor({2, 7}, 4)));
  static_cast<CTile&>(input->getMutableTile(1)) = CTile(own);
  EncryptedBatch inputBatch(own);
  inputBatch.addItem(input);
  EncryptedData inputData(own);
  inputData.addBatch(inputBatch);
  DecryptProtocol& holder = parties[0].decrypt();
  const std::set<MultiPartyRole> roles = holder.getRoles();
  expectThrowWithMessage<std::runtime_error>([&] { holder.setInput(inputData); },
                                             "Tile 1 of item 0 of batch 0" + HOLDS_NO_VALUES);
  expectThrowWithMessage<std::runtime_error>([&] { holder.setInput(*input); },
                                             "Tile 1 of the input" + HOLDS_NO_VALUES);
  EXPECT_EQ(holder.getRoles(), roles);
}

// Adding a data set checks every batch before the first is added: a data set
// written to a storage keeps its count and its buffers, and the refusal names
// the item and the batch.
TEST(EmptyTilesInTensors, AddingADataSetChecksEveryBatchFirst)
{
  auto he = createMockup(16, 4);
  const TTShape shape({2, 8});
  auto sound = std::make_shared<CTileTensor>(encrypted(*he, shape, randomTensor({4, 6}, 3)));
  auto bad = std::make_shared<CTileTensor>(*sound);
  static_cast<CTile&>(bad->getMutableTile(1)) = CTile(*he);
  EncryptedBatch first(*he);
  first.addItem(sound);
  EncryptedBatch second(*he);
  second.addItem(bad);
  second.addItem(sound);
  EncryptedData source(*he);
  source.addBatch(first);
  source.addBatch(second);
  const std::string message = "Tile 1 of item 0 of batch 1" + HOLDS_NO_VALUES;

  TempDir dir;
  EncryptedData stored(*he);
  stored.attachOutputStorage(std::make_shared<FileStorage>(dir.file("store"), true));
  stored.addBatch(first);
  const std::vector<std::string> files = entries(dir.file("store"));
  expectThrowWithMessage<std::runtime_error>([&] { stored.addEncryptedData(source); }, message);
  EXPECT_EQ(stored.getNumBatches(), 1u);
  EXPECT_EQ(entries(dir.file("store")), files);

  EncryptedData inMemory(*he);
  inMemory.addBatch(first);
  expectThrowWithMessage<std::runtime_error>([&] { inMemory.addEncryptedData(source); }, message);
  EXPECT_EQ(inMemory.getNumBatches(), 1u);

  // Filled again, every batch is added.
  static_cast<CTile&>(bad->getMutableTile(1)) = CTile(sound->getTile(1));
  stored.addEncryptedData(source);
  EXPECT_EQ(stored.getNumBatches(), 3u);
  EXPECT_EQ(entries(dir.file("store")).size(), files.size() + 2);
}

// The items of a data set given to the decryption protocol are shared with the
// caller: a tile emptied after setInput is refused by the round that reads the
// input, named as setInput names it.
TEST(EmptyTilesInTensors, DecryptionRoundsCheckTheInputTheyRead)
{
  const std::string message = "Tile 1 of item 0 of batch 1" + HOLDS_NO_VALUES;
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<Party> parties = makeParties({1, 2}, {1, 2}, 1, 1);
    addDecryptProtocols(parties, 1);
    const HeContext& own = *parties[0].he;
    auto sound =
        std::make_shared<CTileTensor>(encrypted(own, TTShape({2, 4}), randomTensor({2, 7}, 4)));
    auto item = std::make_shared<CTileTensor>(*sound);
    EncryptedBatch first(own);
    first.addItem(sound);
    EncryptedBatch second(own);
    second.addItem(item);
    EncryptedData input(own);
    input.addBatch(first);
    input.addBatch(second);
    DecryptProtocol& holder = parties[0].decrypt();
    holder.setInput(input);
    if (round == 2)
      runRound(parties);
    static_cast<CTile&>(item->getMutableTile(1)) = CTile(own);
    std::vector<ProtocolMessage> out;
    expectThrowWithMessage<std::runtime_error>(
        [&] { holder.executeNextRound(out, parties[0].inbox); }, message);
    EXPECT_TRUE(out.empty());
  }
}

// What the library makes with empty tiles, tensors made from a shape and not
// yet packed, still saves and loads back byte for byte.
TEST(EmptyTilesInTensors, UnpackedTensorsOfAShapeStillRoundTrip)
{
  auto he = createMockup(16, 4);
  TTShape shape({2, 8});
  shape.setOriginalSizes({4, 6});
  const PTileTensor plain(*he, shape);
  const CTileTensor cipher(*he, shape);
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, shape, randomTensor({4, 6}, 1));
  for (const Saveable* object : {static_cast<const Saveable*>(&plain),
                                 static_cast<const Saveable*>(&lazy)}) {
    PTileTensor loaded(*he);
    std::istringstream in(saved(*object));
    loaded.load(in);
    EXPECT_EQ(saved(loaded), saved(*object));
  }
  CTileTensor loaded(*he);
  std::istringstream in(saved(cipher));
  loaded.load(in);
  EXPECT_EQ(saved(loaded), saved(cipher));
}
