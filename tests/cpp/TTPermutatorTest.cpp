// The tile permutator: slots of source tiles laid out in a destination shape.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "math/TTPermutator.h"

using namespace quorvane;
using qvtest::decrypted;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::shapeOf;
using qvtest::tensorOf;

namespace {

using Mapping = TTPermutator::Mapping;

// Source tiles holding 100 * tile + slot in every slot.
std::vector<std::shared_ptr<CTile>> sources(const HeContext& he, int count, int chainIndex = -1)
{
  std::vector<std::shared_ptr<CTile>> res;
  for (int t = 0; t < count; ++t) {
    std::vector<double> values(he.slotCount());
    for (int s = 0; s < he.slotCount(); ++s)
      values[s] = 100 * t + s;
    auto tile = std::make_shared<CTile>(he);
    Encoder(he).encodeEncrypt(*tile, values, chainIndex);
    res.push_back(std::move(tile));
  }
  return res;
}

double sourceValue(const std::pair<int, int>& src)
{
  return 100 * src.first + src.second;
}

// The destination values a mapping gives (duplicate copies taken from coordinate 0).
DoubleTensor expectedOf(const TTShape& shape, const Mapping& mapping, double maskValue = 1.0)
{
  return tensorOf(shape.getOriginalSizes(), [&](const std::vector<int>& idx) {
    const auto found = mapping.find(idx);
    return found == mapping.end() ? 0.0 : maskValue * sourceValue(found->second);
  });
}

} // namespace

class TTPermutatorTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(8, 4);

  CTileTensor permuted(const std::vector<std::shared_ptr<CTile>>& src, const Mapping& mapping,
                       const TTShape& shape, double maskValue = 1.0)
  {
    CTileTensor res(*he);
    TTPermutator(src, mapping, shape, maskValue).getPermutation(res);
    return res;
  }
};

TEST_F(TTPermutatorTest, ReversesSlotsWithOneRotationPerOffset)
{
  const TTShape shape = shapeOf({TTDim(8, 8)});
  Mapping mapping;
  for (int i = 0; i < 8; ++i)
    mapping[{i}] = {0, 7 - i};
  const auto src = sources(*he, 1);
  qvtest::startCounting(*he);
  const CTileTensor res = permuted(src, mapping, shape);
  // Offsets 1, 3, 5, 7, each covering two destination slots.
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 4);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 4);
  EXPECT_EQ(qvtest::decrypted(res.getTile(0)), std::vector<double>({7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(res.getShape(), shape);
  EXPECT_EQ(qvtest::decrypted(*src[0]), std::vector<double>({0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(TTPermutatorTest, CompleteUnitContributionIsCopiedAsIs)
{
  // Every slot of the second source to the same slot.
  Mapping mapping;
  for (int i = 0; i < 8; ++i)
    mapping[{i}] = {1, i};
  const auto src = sources(*he, 2);
  qvtest::startCounting(*he);
  const CTileTensor res = permuted(src, mapping, shapeOf({TTDim(8, 8)}));
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 0);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 0);
  EXPECT_EQ(qvtest::decrypted(res.getTile(0)), qvtest::decrypted(*src[1]));
  EXPECT_EQ(res.getTile(0).getChainIndex(), src[1]->getChainIndex());
  // With mask value 2 every contribution is masked, complete ones too.
  qvtest::startCounting(*he);
  const CTileTensor doubled = permuted(src, mapping, shapeOf({TTDim(8, 8)}), 2.0);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 1);
  EXPECT_EQ(qvtest::decrypted(doubled.getTile(0)),
            std::vector<double>({200, 202, 204, 206, 208, 210, 212, 214}));
}

TEST_F(TTPermutatorTest, ArbitraryMappingsMatchTheirSources)
{
  struct Case
  {
    TTShape shape;
    double maskValue;
  };
  const std::vector<Case> cases = {
      {shapeOf({TTDim(5, 4), TTDim(2, 2)}), 1.0},
      {shapeOf({TTDim(3, 2), TTDim(3, 4)}), 0.5},
      {shapeOf({qvtest::interleavedDim(6, 2), TTDim(3, 4)}), 1.0},
      {shapeOf({qvtest::interleavedDim(5, 4), TTDim(3, 2)}), 1.0},
      {shapeOf({TTDim(3, 2), TTDim(5, 4)}), 2.0},
      {shapeOf({TTDim(2, 1), TTDim(3, 2), TTDim(3, 4)}), 1.0},
      {shapeOf({qvtest::interleavedDim(3, 2, 4), TTDim(3, 4)}), 1.0},
  };
  std::mt19937 gen(70);
  for (const Case& k : cases) {
    const auto src = sources(*he, 3);
    Mapping mapping;
    TensorIterator it(k.shape.getOriginalSizes(), true);
    do
      if (gen() % 4 != 0)
        mapping[it.getIndices()] = {static_cast<int>(gen() % 3), static_cast<int>(gen() % 8)};
    while (it.next());
    const CTileTensor res = permuted(src, mapping, k.shape, k.maskValue);
    EXPECT_EQ(res.getShape(), k.shape);
    EXPECT_EQ(maxDiff(decrypted(res), expectedOf(k.shape, mapping, k.maskValue)), 0)
        << k.shape.toString();
    // Unused slots hold zeros, and every tile is at one chain index.
    EXPECT_NO_THROW(qvtest::CoutCapture c; res.assertIntegrity(0)) << k.shape.toString();
    for (int i = 1; i < res.getNumUsedTiles(); ++i)
      EXPECT_EQ(res.getTile(i).getChainIndex(), res.getTile(0).getChainIndex());
  }
}

TEST_F(TTPermutatorTest, EmptyMappingGivesZeros)
{
  const TTShape shape = shapeOf({TTDim(5, 4), TTDim(2, 2)});
  const CTileTensor res = permuted(sources(*he, 1), Mapping(), shape);
  EXPECT_TRUE(res.isPacked());
  EXPECT_EQ(res.getNumUsedTiles(), 2);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(qvtest::decrypted(res.getTile(i)), std::vector<double>(8, 0.0));
}

TEST_F(TTPermutatorTest, Duplications)
{
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(1, 4, 4)});
  const auto src = sources(*he, 1);
  // Only coordinate 0 of the duplicated dimension: the copies are made afterwards.
  Mapping first = {{{0, 0}, {0, 5}}, {{1, 0}, {0, 2}}, {{2, 0}, {0, 7}}};
  const CTileTensor rebuilt = permuted(src, first, shape);
  EXPECT_EQ(rebuilt.getShape(), shape);
  EXPECT_EQ(maxDiff(decrypted(rebuilt), expectedOf(shape, first)), 0);
  EXPECT_NO_THROW(qvtest::CoutCapture c; rebuilt.assertIntegrity(0)) << "every copy holds the value";
  // Every copy mapped from the same slot.
  Mapping all;
  for (const auto& entry : first)
    for (int c = 0; c < 4; ++c)
      all[{entry.first[0], c}] = entry.second;
  const CTileTensor mapped = permuted(src, all, shape);
  EXPECT_EQ(maxDiff(decrypted(mapped), expectedOf(shape, first)), 0);
  EXPECT_NO_THROW(qvtest::CoutCapture c; mapped.assertIntegrity(0));

  const std::string oneNotAnother =
      "The destination shape of TTPermutator has a duplicated dimension in which, for slots that "
      "should contain the same value, the permutation defines mapping to one and not to another";
  const std::string twoSlots =
      "The destination shape of TTPermutator has a duplicated dimension in which, for slots that "
      "should contain the same value, the permutation defines mappings from two different slots "
      "in the original tensor of the source";
  Mapping notZero = {{{0, 1}, {0, 5}}};
  Mapping notOne = all;
  notOne.erase({1, 3});
  Mapping different = all;
  different[{2, 1}] = {0, 6};
  const std::vector<std::pair<Mapping, std::string>> refusals = {
      {notZero, oneNotAnother}, {notOne, oneNotAnother}, {different, twoSlots}};
  for (const auto& k : refusals) {
    qvtest::startCounting(*he);
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { TTPermutator(src, k.first, shape, 1.0); }),
              k.second);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::ENCRYPT), 0) << "refused before any ciphertext work";
  }
  const std::string partial =
      "The destination shape of TTPermutator has partially duplicated dims. In such case, "
      "the permutation must define mappings that create the duplications";
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] {
              TTPermutator(src, first, shapeOf({TTDim(3, 2), TTDim(1, 4, 2)}), 1.0);
            }),
            partial);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] {
              TTPermutator(src, {{{0, 0}, {0, 1}}}, shapeOf({TTDim(1, 4, 2), TTDim(2, 2)}), 1.0);
            }),
            partial);
}

TEST_F(TTPermutatorTest, RefusedDestinationShapes)
{
  const auto src = sources(*he, 1);
  const std::vector<std::pair<TTShape, std::string>> cases = {
      {TTShape({8}), "The destination shape of TTPermutator cannot be incomplete"},
      {shapeOf({TTDim(4, 4)}), "The destination shape of TTPermutator must have 8 slots"},
      {shapeOf({TTDim(3, 8, 1, true)}),
       "The destination shape of TTPermutator cannot contain unknown unused slots"},
      {shapeOf({TTDim(16, 8, 1, false, false, true)}),
       "The destination shape of TTPermutator cannot be complex packed"},
  };
  for (const auto& k : cases) {
    qvtest::startCounting(*he);
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { TTPermutator(src, Mapping(), k.first, 1.0); }),
              k.second);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::ENCRYPT), 0) << "refused before any ciphertext work";
  }
}

TEST_F(TTPermutatorTest, RefusedMappingsAndSources)
{
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(4, 4)});
  const auto src = sources(*he, 2);
  struct Refusal
  {
    Mapping mapping;
    std::string message;
  };
  const std::vector<Refusal> invalid = {
      {{{{-1, 3}, {0, 0}}},
       "TTPermutator: destination coordinates [-1, 3] must not be negative"},
      {{{{1, -2}, {0, 0}}},
       "TTPermutator: destination coordinates [1, -2] must not be negative"},
      {{{{1, 2, 0}, {0, 0}}},
       "TTPermutator: destination coordinates [1, 2, 0] have more entries than the 2 dimensions "
       "of the destination shape"},
  };
  for (const Refusal& k : invalid)
    EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { TTPermutator(src, k.mapping, shape, 1.0); }),
              k.message);
  const std::vector<Refusal> outOfRange = {
      {{{{1, 2}, {2, 0}}},
       "TTPermutator: source tile index 2 of destination [1, 2] is out of range: there are 2 "
       "source tiles"},
      {{{{1, 2}, {-1, 0}}},
       "TTPermutator: source tile index -1 of destination [1, 2] is out of range: there are 2 "
       "source tiles"},
      {{{{0, 0}, {1, 8}}},
       "TTPermutator: source slot 8 of destination [0, 0] is out of range: a tile has 8 slots"},
      {{{{0, 0}, {1, -1}}},
       "TTPermutator: source slot -1 of destination [0, 0] is out of range: a tile has 8 slots"},
  };
  for (const Refusal& k : outOfRange)
    EXPECT_EQ(qvtest::messageOf<std::out_of_range>([&] { TTPermutator(src, k.mapping, shape, 1.0); }),
              k.message);
  // Coordinates beyond the sizes, or too few of them.
  qvtest::expectAssertion([&] { TTPermutator(src, {{{3, 0}, {0, 0}}}, shape, 1.0); },
                          "cordsToFlat", "cords.at(dim) < dimSizes.at(dim)");
  EXPECT_THROW(TTPermutator(src, {{{1}, {0, 0}}}, shape, 1.0), std::out_of_range);

  EXPECT_THROW(TTPermutator({}, Mapping(), shape, 1.0), std::out_of_range);
  std::vector<std::shared_ptr<CTile>> withNull = {src[0], nullptr};
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { TTPermutator(withNull, Mapping(), shape, 1.0); }),
            "TTPermutator: source tile 1 is null");
  std::vector<std::shared_ptr<CTile>> withEmpty = {src[0], std::make_shared<CTile>(*he)};
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { TTPermutator(withEmpty, Mapping(), shape, 1.0); }),
            "TTPermutator: source tile 1 holds no encryption");
  auto other = qvtest::createMockup(8, 4);
  std::vector<std::shared_ptr<CTile>> mixed = {src[0], sources(*other, 1)[0]};
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { TTPermutator(mixed, Mapping(), shape, 1.0); }),
            "TTPermutator: source tile 1 belongs to another context (context id " +
                std::to_string(other->getContextId()) + ", expected " +
                std::to_string(he->getContextId()) + ")");

  // A result of another context is refused and left as it was, empty or filled.
  const std::string foreignMessage =
      "TTPermutator: the result tensor belongs to another context (context id " +
      std::to_string(other->getContextId()) + ", expected " + std::to_string(he->getContextId()) +
      ")";
  CTileTensor foreign(*other);
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>(
                [&] { TTPermutator(src, Mapping(), shape, 1.0).getPermutation(foreign); }),
            foreignMessage);
  EXPECT_FALSE(foreign.isPacked());
  DoubleTensor threes({3, 4});
  threes.fill(3);
  CTileTensor filled = qvtest::encrypted(*other, shape, threes);
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] {
              TTPermutator(src, {{{0, 0}, {0, 5}}}, shape, 1.0).getPermutation(filled);
            }),
            foreignMessage);
  EXPECT_EQ(filled.getShape(), shape);
  EXPECT_EQ(decrypted(filled).getVals(true), threes.getVals(true));
}

TEST_F(TTPermutatorTest, CordsToFlat)
{
  EXPECT_EQ(TTPermutator::cordsToFlat({3, 4}, {1, 2}), 7);
  EXPECT_EQ(TTPermutator::cordsToFlat({3, 4, 2}, {2, 3, 1}), 2 + 3 * 3 + 12);
  EXPECT_EQ(TTPermutator::cordsToFlat({}, {}), 0);
  EXPECT_THROW(TTPermutator::cordsToFlat({3, 4}, {1}), std::out_of_range);
  qvtest::expectAssertion([] { TTPermutator::cordsToFlat({3, 4}, {1, 4}); }, "cordsToFlat",
                          "cords.at(dim) < dimSizes.at(dim)");
  qvtest::expectAssertion([] { TTPermutator::cordsToFlat({3, 4}, {-1, 1}); }, "cordsToFlat",
                          "cords.at(dim) >= 0");
}

TEST_F(TTPermutatorTest, ApplyMask)
{
  const auto src = sources(*he, 1);
  Mapping identity;
  for (int i = 0; i < 8; ++i)
    identity[{i}] = {0, i};
  const TTShape shape = shapeOf({TTDim(8, 8)});
  struct Case
  {
    double maskValue;
    std::set<int> indexes;
    std::vector<double> expected;
    int products;
  };
  const std::vector<Case> cases = {
      {1.0, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
      {1.0, {1, 6}, {0, 1, 0, 0, 0, 0, 6, 0}, 1},
      {-2.0, {0, 1, 2, 3, 4, 5, 6, 7}, {0, -2, -4, -6, -8, -10, -12, -14}, 1},
      {0.5, {7}, {0, 0, 0, 0, 0, 0, 0, 3.5}, 1},
  };
  for (const Case& c : cases) {
    const TTPermutator permutator(src, identity, shape, c.maskValue);
    CTile tile(*src[0]);
    qvtest::startCounting(*he);
    permutator.applyMask(tile, c.indexes);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), c.products);
    EXPECT_EQ(qvtest::decrypted(tile), c.expected);
  }

  const TTPermutator permutator(src, identity, shape, 1.0);
  CTile tile(*src[0]);
  qvtest::expectAssertion([&] { permutator.applyMask(tile, {}); }, "applyMask",
                          "indexes.size() > 0");
  qvtest::expectAssertion([&] { permutator.applyMask(tile, {0, 1, 2, 3, 4, 5, 6, 7, 8}); },
                          "applyMask", "indexes.size() <= res.slotCount()");
  CTile empty(*he);
  qvtest::expectAssertion([&] { permutator.applyMask(empty, {0}); }, "applyMask",
                          "!res.isEmpty()");
}

TEST_F(TTPermutatorTest, SourcesAtTheBootstrappingIndexAreBootstrappedOnceWhenMasked)
{
  auto bs = qvtest::createMockup(qvtest::bootstrappable(8, 12, BootstrapConfig(), true));
  const int minIndex = bs->getMinChainIndexForBootstrapping();
  const auto src = sources(*bs, 2, minIndex);
  Mapping identity;
  for (int i = 0; i < 8; ++i)
    identity[{i}] = {0, i};
  Mapping reverse;
  for (int i = 0; i < 8; ++i)
    reverse[{i}] = {1, 7 - i};
  const TTShape shape = shapeOf({TTDim(8, 8)});

  qvtest::startCounting(*bs);
  CTileTensor copy(*bs);
  TTPermutator(src, identity, shape, 1.0).getPermutation(copy);
  EXPECT_EQ(qvtest::countOf(*bs, RunStats::BOOTSTRAP), 0);

  qvtest::startCounting(*bs);
  CTileTensor reversed(*bs);
  TTPermutator(src, reverse, shape, 1.0).getPermutation(reversed);
  EXPECT_EQ(qvtest::countOf(*bs, RunStats::BOOTSTRAP), 2) << "each source once, not each mask";
  EXPECT_EQ(qvtest::decrypted(reversed.getTile(0)),
            std::vector<double>({107, 106, 105, 104, 103, 102, 101, 100}));
  EXPECT_EQ(src[1]->getChainIndex(), minIndex) << "the caller's tiles stay";
  CTile bootstrapped(*src[1]);
  bootstrapped.bootstrap();
  EXPECT_EQ(reversed.getTile(0).getChainIndex(), bootstrapped.getChainIndex() - 1);
}
