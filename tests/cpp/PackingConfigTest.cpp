#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "math/DataPacking.h"
#include "math/GenericPackingUtils.h"
#include "math/Padding2d.h"

using namespace quorvane;
using qvtest::Bytes;

namespace {

GenericPackingConfig config(GenericPackingOption option, std::optional<int> batchDim = {})
{
  GenericPackingConfig res;
  res.option = option;
  res.batchDim = batchDim;
  return res;
}

TensorPacking packing(const std::vector<int>& tileSizes, const std::vector<int>& originalSizes,
                      const std::vector<int>& origTensorShape, std::vector<int> mapping = {})
{
  TensorPacking res;
  res.shape = TTShape(tileSizes);
  res.shape.setOriginalSizes(originalSizes);
  res.origTensorShape = origTensorShape;
  res.packedToOrigTensorMapping = std::move(mapping);
  return res;
}

} // namespace

TEST(GenericPacking, TileSizes)
{
  struct Case
  {
    std::vector<int> plainShape;
    GenericPackingConfig config;
    int slots;
    std::vector<int> tileSizes;
  };
  const std::vector<Case> cases = {
      {{3, 5}, config(LOW_SPACE), 16, {4, 4}},
      {{4, 1, 1}, config(LOW_SPACE), 8, {8, 1, 1}},
      {{1, 1, 1}, config(LOW_SPACE), 4, {4, 1, 1}},
      {{1, 7}, config(LOW_SPACE), 16, {2, 8}},
      {{2, 3, 4}, config(LOW_SPACE), 16, {2, 2, 4}},
      {{100}, config(LOW_SPACE), 16, {16}},
      {{10, 3}, config(BATCH_PACKING, 0), 8, {8, 1}},
      {{10, 3}, config(BATCH_PACKING, 1), 8, {1, 8}},
      {{10, 3}, config(SEPERATE_ELEMENTS, 0), 8, {1, 8}},
      {{3, 1, 1}, config(SEPERATE_ELEMENTS, 2), 8, {8, 1, 1}},
      {{6, 6}, config(LOW_SPACE, 1), 1, {1, 1}},
  };
  for (const Case& c : cases) {
    const TTShape shape = GenericPackingUtils::getShape(c.plainShape, c.config, c.slots);
    EXPECT_EQ(shape.getTileSizes(), c.tileSizes) << shape.toString();
    EXPECT_TRUE(shape.areAllDimsIncomplete());
    EXPECT_EQ(shape.getNumSlotsInTile(), c.slots);
  }
}

TEST(GenericPacking, ConfigurationErrors)
{
  const std::string noBatch = "Generic packing configuration with generic packing option of "
                              "SEPERATE_ELEMENTS or BATCH_PACKING must indicate a batch dimension";
  const std::string badBatch = "Generic packing configuration indicates a batch dimension of ";
  struct Case
  {
    std::vector<int> plainShape;
    GenericPackingConfig config;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{3, 5}, config(SEPERATE_ELEMENTS), noBatch},
      {{3, 5}, config(BATCH_PACKING), noBatch},
      {{3, 5}, config(BATCH_PACKING, 2),
       badBatch + "2 which is not a valid dimension for a tensor of shape [3,5]"},
      {{3, 5}, config(SEPERATE_ELEMENTS, -1),
       badBatch + "-1 which is not a valid dimension for a tensor of shape [3,5]"},
      {{7}, config(SEPERATE_ELEMENTS, 0),
       "Cannot generically pack a 1D tensor with generic packing option of SEPERATE_ELEMENTS"},
  };
  for (const Case& c : cases)
    qvtest::expectThrowWithMessage<std::runtime_error>(
        [&] { GenericPackingUtils::getShape(c.plainShape, c.config, 16); }, c.message);
  qvtest::expectAssertion([] { GenericPackingUtils::getShape({}, config(LOW_SPACE), 16); },
                          "getShape", "dimsToSkip.size() < plainShape.size()");
}

TEST(GenericPacking, ChainIndex)
{
  EXPECT_EQ(GenericPackingUtils::getChainIndex(*qvtest::createMockup(16, 5)), 5);
  auto bootstrappable = qvtest::createMockup(qvtest::bootstrappable(16, 12));
  EXPECT_EQ(GenericPackingUtils::getChainIndex(*bootstrappable),
            bootstrappable->getMinChainIndexForBootstrapping() + 1);
  qvtest::expectAssertion([] { GenericPackingUtils::getChainIndex(MockupContext()); },
                          "getChainIndex", "he.isInitialized()");
}

TEST(DataPacking, AccessorsAndValidation)
{
  const TensorPacking a = packing({4, 4}, {2, 3}, {6});
  const TensorPacking b = packing({16}, {5}, {5}, {4, 3, 2, 1, 0});
  const DataPacking dp({{a, b}, {a, b}}, {6, 5});
  dp.validate();
  EXPECT_EQ(dp.getNumBatches(), 2u);
  EXPECT_EQ(dp.getNumItems(), 2u);
  EXPECT_EQ(dp.getTensorPacking(1, 0).packedToOrigTensorMapping.size(), 5u);
  EXPECT_EQ(dp.getNumSlotsInOrigTensor(1), 5);
  EXPECT_EQ(dp.getNumSlotsInOrigTensors(), std::vector<int>({6, 5}));
  EXPECT_THROW(dp.getTensorPacking(2, 0), std::out_of_range);
  EXPECT_THROW(dp.getTensorPacking(0, 2), std::out_of_range);
  EXPECT_THROW(dp.getNumSlotsInOrigTensor(2), std::out_of_range);
  EXPECT_THROW(DataPacking({}, {}).getNumItems(), std::out_of_range);
  EXPECT_THROW(DataPacking({}, {}).validate(), std::out_of_range);

  TensorPacking unknown = a;
  unknown.shape.getDim(0).setUnusedSlotsUnknown();
  struct Case
  {
    DataPacking packing;
    std::string condition;
  };
  const std::vector<Case> cases = {
      {DataPacking({{a, b}, {a}}, {6, 5}), "packings.at(batch).size() == numItems"},
      {DataPacking({{a, b}}, {6}), "numSlotsInOrigTensors.size() == numItems"},
      {DataPacking({{a}}, {0}), "numSlotsInOrigTensors.at(item) > 0"},
      {DataPacking({{a}}, {7}), "numSlotsInOrigTensor == numSlotsInOrigTensors.at(item)"},
      {DataPacking({{packing({16}, {5}, {5}, {0, 1})}}, {5}),
       "packedToOrigTensorMapping.size() == shape.getNumOriginalSlots()"},
      {DataPacking({{unknown}}, {6}), "!shape.containsUnknownUnusedSlots()"},
  };
  for (const Case& c : cases)
    qvtest::expectAssertion([&] { c.packing.validate(); }, "validate", c.condition);
}

TEST(Padding2d, ValuesAndPrinting)
{
  Padding2d padding;
  EXPECT_TRUE(padding.allZero());
  padding.set(1, 0, 0, 0);
  EXPECT_FALSE(padding.allZero());
  EXPECT_EQ(Padding2d(3, 5, -1, -2).getMaxLeftRight(), 5);
  EXPECT_EQ(Padding2d(3, 5, -1, -2).getMaxUpDown(), -1);

  const Padding2d p(1, 2, 3, 4);
  EXPECT_EQ(p.toString(VERBOSITY_LOW), "Padding-2d(left=1, right=2, up=3, down=4)");
  std::ostringstream titled;
  p.debugPrint("Conv", VERBOSITY_REGULAR, titled);
  EXPECT_EQ(titled.str(), "Padding-2d Conv:(left=1, right=2, up=3, down=4)");
  EXPECT_EQ(p.toString(VERBOSITY_NONE), "");
}

TEST(Padding2d, SavedForm)
{
  const Padding2d p(1, 2, 3, 4);
  std::ostringstream out;
  EXPECT_EQ(p.save(out), 16);
  const std::string expected = Bytes().i32(2).i32(1).i32(3).i32(4).data;
  EXPECT_EQ(out.str(), expected);

  Padding2d loaded;
  std::istringstream in(expected);
  EXPECT_EQ(loaded.load(in), 16);
  EXPECT_EQ(loaded.left, 1);
  EXPECT_EQ(loaded.right, 2);
  EXPECT_EQ(loaded.up, 3);
  EXPECT_EQ(loaded.down, 4);

  Padding2d untouched(7, 7, 7, 7);
  EXPECT_EQ(qvtest::loadError(untouched, expected.substr(0, 12)),
            "Input stream ended or failed while reading an int32: the data is truncated or "
            "corrupt.");
  EXPECT_EQ(untouched.toString(), "Padding-2d(left=7, right=7, up=7, down=7)");
}
