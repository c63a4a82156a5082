#include <gtest/gtest.h>

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
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "math/TTPermutator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Tiles = std::vector<std::shared_ptr<CTile>>;
using Mapping = TTPermutator::Mapping;

const std::string FILE_NAME = "math/TTPermutator.cpp";

/// Source tile k holds 100 k + i in slot i.
Tiles sourceTiles(const HeContext& he, int count, int chainIndex = -1)
{
  Encoder encoder(he);
  Tiles res;
  for (int k = 0; k < count; ++k) {
    std::vector<double> vals(he.slotCount());
    for (int i = 0; i < he.slotCount(); ++i)
      vals[i] = 100 * k + i;
    auto tile = std::make_shared<CTile>(he);
    encoder.encodeEncrypt(*tile, vals, chainIndex);
    res.push_back(tile);
  }
  return res;
}

/// The value of a source slot, as sourceTiles writes it.
double sourceValue(const std::pair<int, int>& source) { return 100 * source.first + source.second; }

/// Every tile of res holds exactly what encoding the values into the shape
/// gives: the values at their places (duplicates included) and 0 elsewhere.
void expectTiles(const HeContext& he, const CTileTensor& res, const TTShape& shape,
                 const DoubleTensor& values)
{
  ASSERT_TRUE(res.isPacked());
  EXPECT_EQ(res.getShape(), shape);
  const PTileTensor expected = encoded(he, shape, values);
  Encoder encoder(he);
  ASSERT_EQ(res.getNumUsedTiles(), expected.getNumUsedTiles());
  for (int i = 0; i < res.getNumUsedTiles(); ++i)
    EXPECT_EQ(encoder.decryptDecodeTileDouble(res.getTileByFlatIndex(i)),
              encoder.decryptDecodeTileDouble(expected.getTileByFlatIndex(i)))
        << "tile " << i;
}

// ---- Moves ----

TEST(TTPermutator, ReversesATileWithOneRotationPerOffset)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 1);
  Mapping mapping;
  for (int i = 0; i < 8; ++i)
    mapping[{i}] = {0, 7 - i};
  const TTShape shape = shapeOf({TTDim(8, 8)});
  CTileTensor res(*he);
  std::shared_ptr<RunStats> stats = tracked(*he, [&] {
    TTPermutator(src, mapping, shape, 1.0).getPermutation(res);
  });
  // Offsets 1, 3, 5 and 7, each carrying two slots.
  EXPECT_EQ(stats->getTotalCount(RunStats::ROTATE), 4);
  DoubleTensor reversed({8});
  for (int i = 0; i < 8; ++i)
    reversed.at(i) = 7 - i;
  expectTiles(*he, res, shape, reversed);
}

TEST(TTPermutator, CompleteContributionsMoveWithoutRotationOrMask)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 2);
  Mapping mapping;
  for (int i = 0; i < 8; ++i)
    mapping[{i}] = {1, i};
  const TTShape shape = shapeOf({TTDim(8, 8)});
  CTileTensor res(*he);
  std::shared_ptr<RunStats> stats = tracked(*he, [&] {
    TTPermutator(src, mapping, shape, 1.0).getPermutation(res);
  });
  EXPECT_EQ(stats->getTotalCount(RunStats::ROTATE), 0);
  EXPECT_EQ(stats->getTotalCount(RunStats::MULTIPLY_PLAIN_RAW), 0);
  DoubleTensor values({8});
  for (int i = 0; i < 8; ++i)
    values.at(i) = 100 + i;
  expectTiles(*he, res, shape, values);
  EXPECT_EQ(res.getChainIndex(), src[1]->getChainIndex());

  // A mask value of 2 doubles every value, complete contributions included.
  stats = tracked(*he, [&] { TTPermutator(src, mapping, shape, 2.0).getPermutation(res); });
  EXPECT_EQ(stats->getTotalCount(RunStats::MULTIPLY_PLAIN_RAW), 1);
  for (int i = 0; i < 8; ++i)
    values.at(i) *= 2;
  expectTiles(*he, res, shape, values);
}

TEST(TTPermutator, FillsShapesOfManyTilesFromManySources)
{
  // Scattered sources into shapes of several tiles, interleaved or not.
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 3);
  const std::vector<TTShape> shapes = {
      shapeOf({TTDim(3, 2), TTDim(5, 4)}),
      shapeOf({interleavedDim(5, 4), TTDim(3, 2)}),
      shapeOf({TTDim(2, 1), TTDim(3, 2), TTDim(3, 4)}),
  };
  for (const TTShape& shape : shapes) {
    const std::vector<int> sizes = shape.getOriginalSizes(false);
    DoubleTensor values(sizes);
    Mapping mapping;
    TensorIterator it(sizes, true);
    int n = 0;
    do {
      // Every third element stays empty (0).
      if (n % 3 != 2) {
        const std::pair<int, int> source(n % 3, (5 * n + 3) % 8);
        mapping[it.getIndices()] = source;
        values.at(it.getPos()) = sourceValue(source);
      }
      ++n;
    } while (it.next());
    CTileTensor res(*he);
    TTPermutator(src, mapping, shape, 1.0).getPermutation(res);
    expectTiles(*he, res, shape, values);
    EXPECT_EQ(decrypted(res).getVals(true), values.getVals(true));
  }
}

TEST(TTPermutator, EmptyMappingGivesZeros)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(6, 4)});
  CTileTensor res(*he);
  TTPermutator(sourceTiles(*he, 1), {}, shape, 1.0).getPermutation(res);
  expectTiles(*he, res, shape, DoubleTensor({3, 6}));
}

TEST(TTPermutator, DuplicatesFollowCoordinateZero)
{
  // A fully duplicated dimension: a mapping of coordinate 0 fills every
  // duplicate; a mapping of every duplicate from one slot is taken as it is.
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 1);
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(1, 4, 4)});
  DoubleTensor values({3, 1});
  Mapping atZero;
  Mapping everywhere;
  for (int i = 0; i < 3; ++i) {
    atZero[{i, 0}] = {0, 6 - i};
    for (int d = 0; d < 4; ++d)
      everywhere[{i, d}] = {0, 6 - i};
    values.at(i) = 6 - i;
  }
  for (const Mapping& mapping : {atZero, everywhere}) {
    CTileTensor res(*he);
    TTPermutator(src, mapping, shape, 1.0).getPermutation(res);
    expectTiles(*he, res, shape, values);
  }
}

// ---- Refusals ----

TEST(TTPermutator, RefusesShapesAndDuplicationsBeforeAnyCiphertextWork)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 2);
  TTShape incomplete = shapeOf({TTDim(2, 8)});
  incomplete.getDim(0).setIncomplete();
  TTShape unknown = shapeOf({TTDim(3, 8)});
  unknown.setAllUnusedSlotsUnknown();
  const TTShape duplicated = shapeOf({TTDim(2, 2), TTDim(1, 4, 4)});
  struct Case
  {
    TTShape shape;
    Mapping mapping;
    std::string message;
  };
  const std::string dupText =
      "The destination shape of TTPermutator has a duplicated dimension in which, for slots that "
      "should contain the same value, the permutation defines ";
  const std::vector<Case> cases = {
      {incomplete, {}, "The destination shape of TTPermutator cannot be incomplete"},
      {shapeOf({TTDim(4, 4)}), {}, "The destination shape of TTPermutator must have 8 slots"},
      {unknown, {}, "The destination shape of TTPermutator cannot contain unknown unused slots"},
      {shapeOf({TTDim(16, 8, 1, false, false, true)}),
       {},
       "The destination shape of TTPermutator cannot be complex packed"},
      {shapeOf({TTDim(1, 4, 2), TTDim(2, 2)}),
       {{{0, 0}, {0, 1}}},
       "The destination shape of TTPermutator has partially duplicated dims. In such case, the "
       "permutation must define mappings that create the duplications"},
      {duplicated, {{{0, 1}, {0, 1}}}, dupText + "mapping to one and not to another"},
      {duplicated,
       {{{0, 0}, {0, 1}}, {{0, 1}, {0, 1}}, {{0, 2}, {0, 1}}},
       dupText + "mapping to one and not to another"},
      {duplicated,
       {{{1, 0}, {0, 1}}, {{1, 1}, {0, 1}}, {{1, 2}, {1, 1}}, {{1, 3}, {0, 1}}},
       dupText + "mappings from two different slots in the original tensor of the source"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<RunStats> stats = tracked(*he, [&] {
      EXPECT_EQ(quietMessageOf<std::invalid_argument>(
                    [&] { TTPermutator(src, c.mapping, c.shape, 1.0); }),
                c.message);
    });
    EXPECT_EQ(stats->getTotalCount(RunStats::ENCRYPT), 0) << c.message;
  }
}

TEST(TTPermutator, RefusesSourcesAndCoordinatesOutsideTheirRanges)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Tiles src = sourceTiles(*he, 2);
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(4, 4)});
  struct Case
  {
    Mapping mapping;
    std::string message;
  };
  const std::vector<Case> ranges = {
      {{{{0, 0}, {2, 0}}}, "The permutation maps from source tile 2, but there are 2 source tiles"},
      {{{{0, 0}, {-1, 0}}},
       "The permutation maps from source tile -1, but there are 2 source tiles"},
      {{{{0, 0}, {1, 8}}},
       "The permutation maps from slot 8 of a source tile, but tiles have 8 slots"},
      {{{{0, 0}, {1, -3}}},
       "The permutation maps from slot -3 of a source tile, but tiles have 8 slots"},
  };
  for (const Case& c : ranges)
    expectThrowWithMessage<std::out_of_range>([&] { TTPermutator(src, c.mapping, shape, 1.0); },
                                              c.message);
  // Coordinates: negative (which would alias another element), too large,
  // too many, too few.
  expectAssertion([&] { TTPermutator(src, {{{2, -1}, {0, 0}}}, shape, 1.0); }, FILE_NAME,
                  "cordsToFlat", "cords.at(dim) >= 0");
  expectAssertion([&] { TTPermutator(src, {{{3, 0}, {0, 0}}}, shape, 1.0); }, FILE_NAME,
                  "cordsToFlat", "cords.at(dim) < dimSizes.at(dim)");
  expectAssertion([&] { TTPermutator(src, {{{0, 0, 0}, {0, 0}}}, shape, 1.0); }, FILE_NAME,
                  "cordsToFlat", "cords.size() <= dimSizes.size()");
  EXPECT_THROW(TTPermutator(src, {{{0}, {0, 0}}}, shape, 1.0), std::out_of_range);
  EXPECT_THROW(TTPermutator({}, {}, shape, 1.0), std::out_of_range);
  expectAssertion([&] { TTPermutator({src[0], nullptr}, {}, shape, 1.0); }, FILE_NAME,
                  "TTPermutator", "tile != nullptr");

  EXPECT_EQ(TTPermutator::cordsToFlat({3, 4, 5}, {2, 1, 3}), 2 + 3 * 1 + 12 * 3);
  EXPECT_EQ(TTPermutator::cordsToFlat({}, {}), 0);
}

TEST(TTPermutator, ResultOfAnotherContextIsRefusedAndLeftAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  std::shared_ptr<HeContext> other = createMockup(8, 4);
  const TTShape shape = shapeOf({TTDim(8, 8)});
  DoubleTensor values({8});
  values.fill(3);
  CTileTensor res = encrypted(*other, shape, values);
  TTPermutator permutator(sourceTiles(*he, 1), {{{0}, {0, 5}}}, shape, 1.0);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { permutator.getPermutation(res); },
      "The result tile tensor belongs to another context (context id " +
          std::to_string(other->getContextId()) + ", expected " +
          std::to_string(he->getContextId()) + ")");
  EXPECT_EQ(res.getContextId(), other->getContextId());
  EXPECT_EQ(decrypted(res).getVals(true), values.getVals(true));
}

TEST(TTPermutator, MasksTheSourcesBootstrappedOnceUnderAutomaticBootstrapping)
{
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = 1;
  config.targetChainIndex = 5;
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(8, 6, config, true));
  const Tiles src = sourceTiles(*he, 2, 1);
  Mapping mapping;
  for (int i = 0; i < 8; ++i)
    mapping[{i}] = {i % 2, i};
  const TTShape shape = shapeOf({TTDim(8, 8)});
  CTileTensor res(*he);
  std::shared_ptr<RunStats> stats = tracked(*he, [&] {
    TTPermutator(src, mapping, shape, 1.0).getPermutation(res);
  });
  EXPECT_EQ(stats->getTotalCount(RunStats::BOOTSTRAP), 2);
  EXPECT_EQ(src[0]->getChainIndex(), 1);
  EXPECT_EQ(res.getChainIndex(), 4);
  DoubleTensor values({8});
  for (int i = 0; i < 8; ++i)
    values.at(i) = 100 * (i % 2) + i;
  expectTiles(*he, res, shape, values);
}

} // namespace
