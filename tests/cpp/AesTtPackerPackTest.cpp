#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/NumberConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/CTileTensor.h"
#include "math/DataPacking.h"
#include "math/EncryptedData.h"
#include "math/aes/AesTtPacker.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Location = AesTtPacker::Location;
using Locations = std::vector<Location>;
using NumberBatches = AesTtPacker::NumberBatches;

const std::string FILE_NAME = "math/aes/AesTtPacker.cpp";
const int SLOTS = 8;

Location at(size_t position, size_t block) { return std::make_pair(position, block); }

/// What the number at position p of batch k holds in slot j.
double code(size_t k, size_t p, size_t j) { return 10000.0 * k + 100.0 * p + j; }

/// Numbers of the given batches, each with valsPerBlock ciphertexts holding code(k, p, j).
NumberBatches numberBatches(const HeContext& he, size_t numBatches, size_t valsPerBlock,
                            int chainIndex = -1)
{
  Encoder encoder(he);
  NumberBatches res(numBatches);
  for (size_t k = 0; k < numBatches; ++k)
    for (size_t p = 0; p < valsPerBlock; ++p) {
      std::vector<double> vals(he.slotCount());
      for (int j = 0; j < he.slotCount(); ++j)
        vals[j] = code(k, p, j);
      auto tile = std::make_shared<CTile>(he);
      encoder.encodeEncrypt(*tile, vals, chainIndex);
      res[k].push_back(tile);
    }
  return res;
}

/// The value of a location among the numbers of numberBatches.
double valueAt(const Location& location)
{
  return code(location->second / SLOTS, location->first, location->second % SLOTS);
}

/// The expected tensor of the sizes: element e holds the value of the
/// location of mapping[e] (or e without mapping).
DoubleTensor expectedTensor(const std::vector<int>& sizes, const Locations& locations,
                            const std::vector<int>& mapping = {})
{
  DoubleTensor res(sizes);
  for (int e = 0; e < res.size(); ++e)
    res.at(e) = valueAt(locations.at(mapping.empty() ? e : mapping[e]));
  return res;
}

// ---- One tensor ----

TEST(AesTtPackerPack, PacksTensorsFromTheirLocations)
{
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  // 16-bit values: 8 per block. 40 values of a first tensor fill blocks 0 to
  // 4 (two batches of 8 blocks would hold 128); the second tensor follows.
  const NumberBatches numbers = numberBatches(*he, 2, 8);
  const std::vector<std::vector<Location>> locations =
      AesTtPacker::getLocations({40, 15}, NumberConfig::integer(SIZE_16_BIT, SIGNED));
  struct Case
  {
    std::string name;
    TensorPacking packing;
    size_t tensor;
  };
  std::vector<int> reversed(15);
  for (int i = 0; i < 15; ++i)
    reversed[i] = 14 - i;
  const std::vector<Case> cases = {
      {"flat", tensorPacking(shapeOf({TTDim(40, 8)}), {40}), 0},
      {"matrix", tensorPacking(shapeOf({TTDim(5, 2), TTDim(8, 4)}), {5, 8}), 0},
      {"interleaved", tensorPacking(shapeOf({interleavedDim(8, 4), TTDim(5, 2)}), {8, 5}), 0},
      {"duplicated", tensorPacking(shapeOf({TTDim(15, 4), TTDim(1, 2, 2)}), {15, 1}), 1},
      {"mapped", tensorPacking(shapeOf({TTDim(3, 2), TTDim(5, 4)}), {15}, reversed), 1},
  };
  for (const Case& c : cases) {
    CTileTensor res(*he);
    AesTtPacker::pack(res, c.packing, numbers, locations[c.tensor]);
    EXPECT_EQ(res.getShape(), c.packing.shape) << c.name;
    const DoubleTensor expected = expectedTensor(c.packing.shape.getOriginalSizes(false),
                                                 locations[c.tensor],
                                                 c.packing.packedToOrigTensorMapping);
    EXPECT_EQ(decrypted(res).getVals(true), expected.getVals(true)) << c.name;
    // Unused slots are 0 and duplicates hold their value.
    EXPECT_NO_THROW(res.assertIntegrity(0)) << c.name;
  }
}

TEST(AesTtPackerPack, ValuesBeyondOneSlotCountOfBlocksComeFromLaterBatches)
{
  // Block S + 3 is slot 3 of a ciphertext of the second batch.
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  const NumberBatches numbers = numberBatches(*he, 3, 4);
  const Locations locations = {at(2, SLOTS + 3), at(1, 2 * SLOTS + 7), at(0, 0)};
  CTileTensor res(*he);
  AesTtPacker::pack(res, tensorPacking(shapeOf({TTDim(3, SLOTS)}), {3}), numbers, locations);
  const std::vector<double> vals = decrypted(res).getVals(true);
  EXPECT_EQ(vals, (std::vector<double>{code(1, 2, 3), code(2, 1, 7), code(0, 0, 0)}));
}

TEST(AesTtPackerPack, BootstrapsNumbersAtTheMinimumBeforeMasking)
{
  // With automatic bootstrapping off and m = 0, masking a number at m would
  // fail; such numbers are bootstrapped once, as copies.
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 5, 5);
  NumberBatches numbers = numberBatches(*he, 1, 4, 0);
  numbers[0][3]->bootstrap();
  const Locations locations = AesTtPacker::getLocations({6}, NumberConfig::floatingPoint(SIZE_32_BIT))[0];
  CTileTensor res(*he);
  std::shared_ptr<RunStats> stats = tracked(*he, [&] {
    AesTtPacker::pack(res, tensorPacking(shapeOf({TTDim(6, SLOTS)}), {6}), numbers, locations);
  });
  EXPECT_EQ(stats->getTotalCount(RunStats::BOOTSTRAP), 3);
  for (int p = 0; p < 3; ++p)
    EXPECT_EQ(numbers[0][p]->getChainIndex(), 0);
  EXPECT_EQ(decrypted(res).getVals(true), expectedTensor({6}, locations).getVals(true));
}

TEST(AesTtPackerPack, RefusesWhatCannotBePacked)
{
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  const NumberBatches numbers = numberBatches(*he, 1, 4);
  const Locations four = AesTtPacker::getLocations({4}, NumberConfig::floatingPoint(SIZE_32_BIT))[0];
  const TensorPacking flat = tensorPacking(shapeOf({TTDim(4, SLOTS)}), {4});
  TTShape unknown = shapeOf({TTDim(4, SLOTS)});
  unknown.setAllUnusedSlotsUnknown();

  struct Assertion
  {
    std::string condition;
    std::function<void(CTileTensor&)> call;
  };
  NumberBatches unequal = numbers;
  unequal.push_back({numbers[0][0]});
  NumberBatches withNull = numbers;
  withNull[0][2] = nullptr;
  const std::vector<Assertion> assertions = {
      {"numBatches > 0", [&](CTileTensor& r) { AesTtPacker::pack(r, flat, {}, four); }},
      {"numValsPerBlock > 0", [&](CTileTensor& r) { AesTtPacker::pack(r, flat, {{}}, four); }},
      {"batch.size() == numValsPerBlock",
       [&](CTileTensor& r) { AesTtPacker::pack(r, flat, unequal, four); }},
      {"tile != nullptr", [&](CTileTensor& r) { AesTtPacker::pack(r, flat, withNull, four); }},
      {"shape.getNumSlotsInTile() == numBlocksPerBatch",
       [&](CTileTensor& r) {
         AesTtPacker::pack(r, tensorPacking(shapeOf({TTDim(4, SLOTS / 2)}), {4}), numbers, four);
       }},
      {"!shape.containsUnknownUnusedSlots()",
       [&](CTileTensor& r) { AesTtPacker::pack(r, tensorPacking(unknown, {4}), numbers, four); }},
      {"locations.at(indexInOrigTensor).has_value()",
       [&](CTileTensor& r) {
         AesTtPacker::pack(r, flat, numbers, {four[0], std::nullopt, four[2], four[3]});
       }},
  };
  for (const Assertion& a : assertions) {
    CTileTensor res(*he);
    expectAssertionTail([&] { a.call(res); }, "Assertion failed: " + a.condition);
    EXPECT_FALSE(res.isPacked()) << a.condition;
  }

  struct Refusal
  {
    TensorPacking packing;
    std::string message;
  };
  TTShape incomplete = shapeOf({TTDim(4, SLOTS)});
  incomplete.getDim(0).setIncomplete();
  const std::vector<Refusal> refusals = {
      {tensorPacking(shapeOf({TTDim(5, SLOTS)}), {5}),
       "The packing shape holds 5 values, but the tensor has 4"},
      {tensorPacking(shapeOf({TTDim(2, 2), TTDim(2, 4)}), {4}, {0, 1, 4, 2}),
       "The packing maps a slot to value 4, but the tensor has 4 values"},
      {tensorPacking(shapeOf({TTDim(2, 2), TTDim(2, 4)}), {4}, {0, -1, 3, 2}),
       "The packing maps a slot to value -1, but the tensor has 4 values"},
      {tensorPacking(shapeOf({TTDim(1, 4, 2), TTDim(4, 2)}), {4}),
       "Packing AES into tile-tensors is not supported for partially duplicated shapes"},
      {tensorPacking(incomplete, {4}), "Packing AES into tile-tensors requires a complete shape"},
  };
  for (const Refusal& r : refusals) {
    CTileTensor res(*he);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { AesTtPacker::pack(res, r.packing, numbers, four); }, r.message);
    EXPECT_FALSE(res.isPacked()) << r.message;
  }
  CTileTensor res(*he);
  expectThrowWithMessage<std::runtime_error>(
      [&] {
        AesTtPacker::pack(res, tensorPacking(shapeOf({TTDim(16, SLOTS, 1, false, false, true)}), {16}),
                          numbers, AesTtPacker::getLocations({16}, NumberConfig::bit())[0]);
      },
      "Packing AES into tile-tensors is not supported for complex-packed shapes");
}

// ---- Data sets ----

TEST(AesTtPackerPack, FillsEveryBatchOfTheDataPackingFromTheSameNumbers)
{
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  const NumberBatches numbers = numberBatches(*he, 2, 4);
  const NumberConfig config = NumberConfig::integer(SIZE_32_BIT, UNSIGNED);
  const std::vector<std::vector<Location>> locations = AesTtPacker::getLocations({6, 20}, config);
  // Batch 0 packs the items flat, batch 1 as matrices.
  const DataPacking dataPacking(
      {{tensorPacking(shapeOf({TTDim(6, SLOTS)}), {6}),
        tensorPacking(shapeOf({TTDim(20, SLOTS)}), {20})},
       {tensorPacking(shapeOf({TTDim(2, 2), TTDim(3, 4)}), {2, 3}),
        tensorPacking(shapeOf({TTDim(4, 2), TTDim(5, 4)}), {4, 5})}},
      {6, 20});
  EncryptedData res(*he);
  res.addBatch(EncryptedBatch(*he));
  AesTtPacker::pack(res, dataPacking, numbers, locations);
  ASSERT_EQ(res.getNumBatches(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    const EncryptedBatch batch = res.getBatch(1 + i);
    ASSERT_EQ(batch.getNumItems(), 2u);
    for (size_t item = 0; item < 2; ++item) {
      const TensorPacking& packing = dataPacking.getTensorPacking(item, i);
      EXPECT_EQ(batch.getItem(item)->getShape(), packing.shape);
      EXPECT_EQ(decrypted(*batch.getItem(item)).getVals(true),
                expectedTensor(packing.shape.getOriginalSizes(false), locations[item])
                    .getVals(true))
          << "batch " << i << ", item " << item;
    }
  }
}

TEST(AesTtPackerPack, DataSetRefusalsLeaveTheResultAsItWas)
{
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  std::shared_ptr<HeContext> other = aesContext(SLOTS, 0, 9, 9);
  const NumberBatches numbers = numberBatches(*he, 1, 4);
  const NumberConfig config = NumberConfig::floatingPoint(SIZE_32_BIT);
  const TensorPacking three = tensorPacking(shapeOf({TTDim(3, SLOTS)}), {3});
  const DataPacking good({{three}}, {3});
  // The second batch's packing is refused after the first would have been packed.
  const DataPacking secondBad({{three}, {tensorPacking(shapeOf({TTDim(3, 4)}), {3})}},
                              {3});
  EncryptedData res(*he);

  expectAssertion([&] { AesTtPacker::pack(res, good, numbers, AesTtPacker::getLocations({3, 1}, config)); },
                  FILE_NAME, "pack", "dataPacking.getNumItems() == locations.size()");
  expectAssertion([&] { AesTtPacker::pack(res, good, numbers, AesTtPacker::getLocations({4}, config)); },
                  FILE_NAME, "pack",
                  "dataPacking.getNumSlotsInOrigTensor(item) == locations.at(item).size()");
  expectAssertion([&] { AesTtPacker::pack(res, good, {}, AesTtPacker::getLocations({3}, config)); },
                  FILE_NAME, "pack", "!batchesOfBlocks.empty()");
  expectAssertion([&] { AesTtPacker::pack(res, good, {{}}, AesTtPacker::getLocations({3}, config)); },
                  FILE_NAME, "pack", "!batchesOfBlocks.at(0).empty()");
  expectAssertion(
      [&] { AesTtPacker::pack(res, secondBad, numbers, AesTtPacker::getLocations({3}, config)); },
      "shape.getNumSlotsInTile() == numBlocksPerBatch");
  EncryptedData foreign(*other);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { AesTtPacker::pack(foreign, good, numbers, AesTtPacker::getLocations({3}, config)); },
      "The result encrypted data belongs to another context (context id " +
          std::to_string(other->getContextId()) + ", expected " +
          std::to_string(he->getContextId()) + ")");
  EXPECT_EQ(res.getNumBatches(), 0u);
  EXPECT_EQ(foreign.getNumBatches(), 0u);
}

} // namespace
