#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"

using namespace quorvane;
using qvtest::Bytes;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::maxDiff;
using qvtest::randomTensor;

class PTileTensorTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 5);

  std::string body(const PTileTensor& p) const
  {
    const std::string all = qvtest::saved(p);
    return all.substr(qvtest::headerBytes("PTileTensor", he->getContextId()).size());
  }

  static std::string shapeRecord(const TTShape& s)
  {
    std::ostringstream out;
    s.save(out);
    return out.str();
  }

  std::shared_ptr<PTileTensor> reload(const PTileTensor& p) const
  {
    std::istringstream in(qvtest::saved(p));
    return loadSaveableAs<PTileTensor>(*he, in, "PTileTensor");
  }
};

TEST_F(PTileTensorTest, ConstructionAndPrinting)
{
  const PTileTensor empty(*he);
  EXPECT_EQ(empty.toString(VERBOSITY_LOW), "PTileTensor [] packed=0");
  EXPECT_EQ(empty.toString(VERBOSITY_NONE), "");
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { empty.getChainIndex(); },
                                                     "This tile tensor has not been packed");
  EXPECT_EQ(empty.assertIntegrity(1e-6), 0);
  EXPECT_EQ(empty.getEstimatedMemoryUsageBytes(), -1);

  TTShape shape({4, 8});
  shape.setOriginalSizes({5, 3});
  const PTileTensor shaped(*he, shape);
  EXPECT_FALSE(shaped.isPacked());
  EXPECT_EQ(shaped.getTile(1).getContextId(), he->getContextId());

  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({4, 4}), randomTensor({3, 5}, 1), 2);
  EXPECT_EQ(lazy.toString(VERBOSITY_LOW), "PTileTensor [3/4, 5/4] LAZY lazyCI=2 packed=0");

  const PTileTensor p = encoded(*he, TTShape({4, 4}), randomTensor({3, 5}, 2));
  const std::string regular = p.toString(VERBOSITY_REGULAR);
  EXPECT_EQ(regular.rfind("PTileTensor [3/4, 5/4] packed=1\n\nTile tensor logical content:\n", 0),
            0u)
      << regular;
  EXPECT_NE(p.toString(VERBOSITY_DETAILED).find("Tile Tensor Tiles:\n[0, 0]\n"), std::string::npos);
}

TEST_F(PTileTensorTest, TileDemonstrations)
{
  qvtest::PrintOptionsGuard guard;
  getPrintOptions().ttDemoTiles = true;
  DoubleTensor values({2, 3});
  for (int i = 0; i < 6; ++i)
    values.at(i) = i + 1;
  const PTileTensor p = encoded(*he, TTShape({4, 4}), values);
  EXPECT_TRUE(p.canPrintTileArray());
  std::ostringstream out;
  EXPECT_TRUE(p.debugPrintTileArray(out));
  EXPECT_EQ(out.str().rfind("Tile array:\n", 0), 0u);
  const TextBox box = p.getTileTextBox(0);
  EXPECT_EQ(box.getHeight(), 6) << "four rows and the border";
  EXPECT_NE(p.toString(VERBOSITY_REGULAR).find("Tile array:\n"), std::string::npos);

  const PTileTensor wide = encoded(*he, TTShape({16}), randomTensor({5}, 1));
  EXPECT_TRUE(wide.canPrintTileArray());
  EXPECT_FALSE(encoded(*qvtest::createMockup(128, 2), TTShape({128}), randomTensor({5}, 1))
                   .canPrintTileArray())
      << "a tile size above 80";
}

TEST_F(PTileTensorTest, ChainIndexes)
{
  const DoubleTensor values = randomTensor({3, 5}, 3);
  const PTileTensor p = encoded(*he, TTShape({4, 4}), values, 4);
  const PTileTensor reduced = p.getReduceChainIndex();
  EXPECT_EQ(reduced.getChainIndex(), 3);
  EXPECT_EQ(p.getChainIndex(), 4);
  EXPECT_EQ(p.getSetChainIndex(1).getChainIndex(), 1);
  EXPECT_EQ(p.getSetChainIndex(reduced).getChainIndex(), 3);
  PTileTensor copy(p);
  copy.reduceChainIndex();
  EXPECT_EQ(copy.getChainIndex(), 3);
  EXPECT_EQ(copy.getTile(1).getChainIndex(), 3);
  EXPECT_EQ(p.getChainIndex(), 4);
  EXPECT_EQ(maxDiff(TTEncoder(*he).decodeDouble(copy), values), 0);
  // A refused chain index changes no tile.
  EXPECT_THROW(copy.setChainIndex(9), std::invalid_argument);
  EXPECT_EQ(copy.getTile(0).getChainIndex(), 3);
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [] {
        auto ctx = qvtest::createMockup(16, 5);
        PTileTensor(*ctx).setChainIndex(1);
      },
      "This tile tensor has not been packed");
}

TEST_F(PTileTensorTest, PackedLazyTensorRecordsItsChainIndexFirst)
{
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({4, 4}), randomTensor({3, 5}, 5), 2);
  lazy.wakeup();
  ASSERT_TRUE(lazy.isPacked());
  // The lazy chain index is checked before any tile: the tensor's own message.
  const std::string message = "Error - Chain index out of range. newChainIndex=6, should be 0..." +
                              std::to_string(he->getTopChainIndex());
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.setChainIndex(6); }, message);
  EXPECT_EQ(lazy.getLazyChainIndex(), 2);
  EXPECT_EQ(lazy.getChainIndex(), 2);
  EXPECT_EQ(lazy.getTile(1).getChainIndex(), 2);

  lazy.setChainIndex(1);
  EXPECT_EQ(lazy.getLazyChainIndex(), 1);
  EXPECT_EQ(lazy.getTile(0).getChainIndex(), 1);
  EXPECT_EQ(lazy.getTile(1).getChainIndex(), 1);
}

// Every operation that gives a plaintext tensor new tiles leaves it a regular
// encoded tensor whose values are its tiles: a lazily encoded tensor, woken up
// or not, drops its lazy mode and raw values, decodes what it was given, reads
// its chain index off its tiles and keeps its tiles through sleep().
TEST_F(PTileTensorTest, WritingTilesEndsLazyMode)
{
  const TTShape shape({2, 8});
  const DoubleTensor raw = randomTensor({4, 6}, 11);
  const DoubleTensor fresh = randomTensor({4, 6}, 12);
  const DoubleTensor small = randomTensor({3, 5}, 13);
  const TTEncoder encoder(*he);
  struct Case
  {
    const char* name;
    std::function<void(PTileTensor&)> write;
    const DoubleTensor& values;
    int chainIndex;
  };
  const Case cases[] = {
      {"decrypt", [&](PTileTensor& p) { encoder.decrypt(p, encrypted(*he, shape, fresh, 3)); },
       fresh, 3},
      {"decrypt another shape",
       [&](PTileTensor& p) { encoder.decrypt(p, encrypted(*he, TTShape({4, 4}), small, 4)); },
       small, 4},
      {"encode", [&](PTileTensor& p) { encoder.encode(p, shape, fresh, 3); }, fresh, 3},
      {"load a packed form",
       [&](PTileTensor& p) {
         std::istringstream in(qvtest::saved(encoded(*he, shape, fresh, 3)));
         p.load(in);
       },
       fresh, 3},
      {"copy assignment",
       [&](PTileTensor& p) {
         const PTileTensor src = encoded(*he, shape, fresh, 3);
         p = src;
       },
       fresh, 3},
      {"move assignment", [&](PTileTensor& p) { p = encoded(*he, shape, fresh, 3); }, fresh, 3},
  };
  for (const Case& c : cases) {
    for (const bool woken : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (woken ? ", woken up" : ", not woken up"));
      PTileTensor lazy(*he);
      TTEncoder(*he, LAZY_ENCODING).encode(lazy, shape, raw, 2);
      if (woken)
        lazy.wakeup();
      c.write(lazy);
      EXPECT_EQ(lazy.getLazyMode(), 0);
      EXPECT_EQ(lazy.getRawData(), nullptr);
      EXPECT_TRUE(lazy.isPacked());
      EXPECT_LT(maxDiff(encoder.decodeDouble(lazy), c.values), 1e-9);
      EXPECT_EQ(lazy.getChainIndex(), c.chainIndex);
      lazy.sleep();
      EXPECT_TRUE(lazy.isPacked()) << "sleep() keeps the tiles of a tensor that is not lazy";
      EXPECT_LT(maxDiff(encoder.decodeDouble(lazy), c.values), 1e-9);
    }
  }
}

// Setting the chain index of a lazy tensor records it for its encoding; a
// woken tensor stays lazy and moves its tiles with it, so its raw values and
// its tiles keep holding the same values at the same chain index.
TEST_F(PTileTensorTest, ChainIndexOfALazyTensorMovesItsTilesAlong)
{
  const DoubleTensor raw = randomTensor({4, 6}, 14);
  const TTEncoder encoder(*he);
  for (const bool woken : {false, true}) {
    SCOPED_TRACE(woken ? "woken up" : "not woken up");
    PTileTensor lazy(*he);
    TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({2, 8}), raw, 3);
    if (woken)
      lazy.wakeup();
    lazy.setChainIndex(1);
    EXPECT_EQ(lazy.getLazyMode(), LAZY_ENCODING);
    EXPECT_EQ(lazy.isPacked(), woken);
    EXPECT_EQ(lazy.getChainIndex(), 1);
    EXPECT_EQ(maxDiff(encoder.decodeDouble(lazy), raw), 0);
    lazy.wakeup();
    EXPECT_EQ(lazy.getTile(1).getChainIndex(), 1);
    EXPECT_LT(lazy.assertIntegrity(1e-9), 1e-9) << "the tiles hold the raw values";
    CTileTensor cipher(*he);
    encoder.encrypt(cipher, lazy);
    EXPECT_LT(maxDiff(encoder.decryptDecodeDouble(cipher), raw), 1e-9);
    EXPECT_EQ(cipher.getChainIndex(), 1);
  }
}

// setChainIndex(other) reads other's chain index as other.getChainIndex()
// does: a lazy tensor answers its lazy chain index, woken up or not, without
// looking at its tiles (here a woken tensor whose tile 0 was emptied).
TEST_F(PTileTensorTest, ChainIndexOfALazyArgumentIsItsLazyChainIndex)
{
  const DoubleTensor values = randomTensor({4, 6}, 15);
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({2, 8}), values, 2);
  PTileTensor woken(lazy);
  woken.wakeup();
  static_cast<PTile&>(woken.getMutableTile(0)) = PTile(*he);
  for (const PTileTensor* other : {&lazy, &woken}) {
    SCOPED_TRACE(other == &lazy ? "not woken up" : "woken up");
    ASSERT_EQ(other->getChainIndex(), 2);
    PTileTensor p = encoded(*he, TTShape({2, 8}), values, 4);
    EXPECT_EQ(p.getSetChainIndex(*other).getChainIndex(), 2);
    p.setChainIndex(*other);
    EXPECT_EQ(p.getChainIndex(), 2);
    EXPECT_EQ(p.getTile(1).getChainIndex(), 2);
  }
}

// A lazy tensor that was never woken up holds no tiles to move.
TEST_F(PTileTensorTest, ToDeviceNeedsALazyTensorWokenUp)
{
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({2, 8}), randomTensor({4, 6}, 16));
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.toDevice(DEVICE_CPU); },
                                                     "This tile tensor has not been packed");
  lazy.wakeup();
  lazy.toDevice(DEVICE_CPU);
  EXPECT_EQ(lazy.getCurrentDevice(), DEVICE_CPU);
}

// A tensor whose tile array does not match its shape (here a lazy tensor
// marked packed before it was woken up) is refused by every access to its
// tiles, by position or through the operations, instead of read out of bounds.
TEST_F(PTileTensorTest, TilesThatDoNotMatchTheShapeAreRefused)
{
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({2, 8}), randomTensor({4, 6}, 6));
  lazy.setPacked(true);
  const std::string illegal = "Accessing tensor by an illegal flat index ";
  for (const std::vector<int>& indices : {std::vector<int>{0, 0}, std::vector<int>{1, 0}}) {
    const int flat = indices[0];
    qvtest::expectThrowWithMessage<std::invalid_argument>([&] { lazy.getTileAt(indices); },
                                                          illegal + std::to_string(flat));
    qvtest::expectThrowWithMessage<std::invalid_argument>(
        [&] { static_cast<const PTileTensor&>(lazy).getTileAt(indices); },
        illegal + std::to_string(flat));
    qvtest::expectThrowWithMessage<std::invalid_argument>([&] { lazy.getSharedTile(flat); },
                                                          illegal + std::to_string(flat));
  }
  const std::string mismatch =
      "A tile tensor of shape [4/2, 6/8] holds 0 tiles, but its shape has 2";
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.validatePacked(); }, mismatch);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.checkTilesHoldValues(); },
                                                     mismatch);
  const TTEncoder encoder(*he);
  CTileTensor cipher(*he);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { encoder.encrypt(cipher, lazy); },
                                                     mismatch);
  EXPECT_FALSE(cipher.isPacked());
  CTileTensor product = qvtest::encrypted(*he, TTShape({2, 8}), randomTensor({4, 6}, 7));
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { product.multiplyPlain(lazy); },
                                                     mismatch);
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { lazy.getEstimatedMemoryUsageBytes(); }, mismatch);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.getCurrentDevice(); }, mismatch);
}

TEST_F(PTileTensorTest, SavedForms)
{
  const DoubleTensor values = randomTensor({3, 5}, 4);
  const PTileTensor p = encoded(*he, TTShape({4, 4}), values, 3);
  std::string expected = shapeRecord(p.getShape()) + Bytes().b(true).i32(0).i32(3).data;
  expected += qvtest::saved(p.getTile(0)) + qvtest::saved(p.getTile(1));
  EXPECT_EQ(body(p), expected);
  const auto packed = reload(p);
  EXPECT_EQ(packed->getChainIndex(), 3);
  EXPECT_EQ(maxDiff(TTEncoder(*he).decodeDouble(*packed), values), 0);

  // Unpacked, not lazy: the shape record and 9 bytes; the tensor loads with its shape.
  TTShape shape({4, 4});
  shape.setOriginalSizes({2, 6});
  const PTileTensor shaped(*he, shape);
  EXPECT_EQ(body(shaped), shapeRecord(shape) + Bytes().b(false).i32(0).i32(0).data);
  const auto unpacked = reload(shaped);
  EXPECT_FALSE(unpacked->isPacked());
  EXPECT_EQ(unpacked->getShape(), shape);
  EXPECT_EQ(unpacked->getTile(1).getContextId(), he->getContextId()) << "its empty tiles too";
  EXPECT_EQ(qvtest::saved(*unpacked), qvtest::saved(shaped));
  EXPECT_EQ(reload(PTileTensor(*he))->getShape().getNumDims(), 0);

  // Lazy: the raw values follow the lazy fields.
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, TTShape({4, 4}), values, 2);
  std::ostringstream raw;
  values.save(raw);
  EXPECT_EQ(body(lazy), shapeRecord(lazy.getShape()) + Bytes().b(false).i32(1).i32(2).data + raw.str());
  const auto reloaded = reload(lazy);
  EXPECT_EQ(reloaded->getLazyMode(), LAZY_ENCODING);
  EXPECT_EQ(reloaded->getChainIndex(), 2);
  EXPECT_EQ(maxDiff(TTEncoder(*he).decodeDouble(*reloaded), values), 0);
  lazy.wakeup();
  EXPECT_EQ(qvtest::saved(*reload(lazy)), qvtest::saved(lazy));
}

TEST_F(PTileTensorTest, LoadRefusals)
{
  const std::string header = qvtest::headerBytes("PTileTensor", he->getContextId());
  TTShape shape({4, 4});
  shape.setOriginalSizes({3, 5});
  const std::string record = shapeRecord(shape);
  std::ostringstream wrongRaw;
  randomTensor({5, 3}, 1).save(wrongRaw);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {record + Bytes().b(false).i32(2).i32(0).data,
       "Invalid saved PTileTensor: lazy mode is 2, expected a value in [0, 1]"},
      {record + Bytes().b(false).i32(1).i32(9).data,
       "Error - Chain index out of range. newChainIndex=9, should be 0..." +
           std::to_string(he->getTopChainIndex())},
      {record + Bytes().b(false).i32(1).i32(2).data + wrongRaw.str(),
       "Invalid saved PTileTensor: the raw values have shape [5,3], the shape [3/4, 5/4] needs "
       "[3,5]"},
      {shapeRecord(TTShape({16})) + Bytes().b(true).i32(0).i32(0).data,
       "Invalid saved PTileTensor: the shape [-1/16] is incomplete"},
      {record + Bytes().b(true).i32(0).i32(0).data,
       "Input stream ended or failed while reading "},
  };
  for (const auto& c : cases) {
    PTileTensor target = encoded(*he, TTShape({16}), randomTensor({3}, 1));
    std::istringstream in(header + c.first);
    const std::string message = qvtest::quietMessageOf<std::runtime_error>([&] { target.load(in); });
    EXPECT_EQ(message.substr(0, c.second.size()), c.second) << message;
    EXPECT_EQ(target.getShape().toString(), "[3/16]");
    EXPECT_TRUE(target.isPacked());
  }
}
