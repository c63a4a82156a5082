#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "AesReference.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "math/aes/AesHTable.h"
#include "math/aes/impl/AesBitwiseHTable.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// The saved body of a batch of the context holding the blocks.
std::string batchBody(const HeContext& he, const Blocks& blocks, int chainIndex = -1)
{
  AesBitwiseHTable batch(he);
  batch.heEncrypt(blocks, chainIndex, true);
  std::ostringstream out;
  batch.save(out);
  return out.str();
}

/// A saved table: header, the initialised flag, the size and the batch bodies.
std::string savedTable(const HeContext& he, int sizeMaxAuthGroup,
                       const std::vector<std::string>& batches)
{
  Bytes b;
  b.header("AesHTable", he.getContextId()).b(true).i32(sizeMaxAuthGroup);
  for (const std::string& batch : batches)
    b.raw(batch);
  return b.data;
}

std::shared_ptr<AesHTable> loadTable(const HeContext& he, const std::string& data)
{
  std::istringstream in(data);
  auto table = std::make_shared<AesHTable>(he);
  table->load(in);
  return table;
}

TEST(AesHTable, EmptyTableLoadsAndSavesAsOneByte)
{
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  const std::string data = headerBytes("AesHTable", he->getContextId()) + boolByte(false);
  std::shared_ptr<AesHTable> table = loadTable(*he, data);
  table->validateLegal();
  EXPECT_EQ(table->getClassName(), "AesHTable");
  EXPECT_EQ(saved(*table), data);

  // A new table saves the same way.
  EXPECT_EQ(saved(AesHTable(*he)), data);
}

TEST(AesHTable, BatchCountFollowsSizeAndSlotCount)
{
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  const std::string batch = batchBody(*he, randomBlocks(1, 8));
  for (std::pair<int, int> c : {std::pair<int, int>{7, 1}, {8, 2}, {0, 1}, {16, 3}, {15, 2}}) {
    const std::string data =
        savedTable(*he, c.first, std::vector<std::string>(c.second, batch));
    std::shared_ptr<AesHTable> table = loadTable(*he, data);
    EXPECT_EQ(table->getRequiredNumBatches(), c.second) << c.first;
    EXPECT_EQ(saved(*table), data) << c.first;
  }
}

TEST(AesHTable, LoadsThroughTheRegistry)
{
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  const std::string data = savedTable(*he, 3, {batchBody(*he, randomBlocks(2, 3), 1)});
  std::istringstream in(data);
  std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(*he, in);
  ASSERT_EQ(typeid(*loaded), typeid(AesHTable));
  EXPECT_EQ(saved(*loaded), data);
}

TEST(AesHTable, RefusedLoadsLeaveTheTableAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  const std::string batch = batchBody(*he, randomBlocks(3, 2));
  // A batch whose last tile sits at another chain index.
  AesBitwiseHTable mixed(*he);
  mixed.heEncrypt(randomBlocks(4, 2), -1, true);
  std::ostringstream mixedBody;
  mixed.save(mixedBody);
  const std::string lastTop = saved(*mixed.getBit(15, 7));
  mixed.getBit(15, 7)->setChainIndex(0);
  const std::string lastLow = saved(*mixed.getBit(15, 7));
  ASSERT_EQ(lastTop.size(), lastLow.size());
  std::string mixedBatch = mixedBody.str();
  mixedBatch.replace(mixedBatch.size() - lastTop.size(), lastTop.size(), lastLow);

  struct Case
  {
    std::string data;
    std::string tail;
  };
  const std::vector<Case> cases = {
      {savedTable(*he, -1, {}),
       "Invalid saved AES H-table: sizeMaxAuthGroup is -1, expected a value in [0, 799999]"},
      {savedTable(*he, -2, {batch}),
       "Invalid saved AES H-table: sizeMaxAuthGroup is -2, expected a value in [0, 799999]"},
      {savedTable(*he, 800000, {batch}),
       "Invalid saved AES H-table: sizeMaxAuthGroup is 800000, expected a value in [0, 799999]"},
      {savedTable(*he, 2147483647, {batch}),
       "Invalid saved AES H-table: sizeMaxAuthGroup is 2147483647, expected a value in [0, "
       "799999]"},
      // Two batches needed, one present.
      {savedTable(*he, 8, {batch}), ""},
      {savedTable(*he, 3, {mixedBatch}),
       "Assertion failed: !validateSameChainIndex || ptr->getChainIndex() == chainIndex"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<AesHTable> table = loadTable(*he, savedTable(*he, 9, {batch, batch}));
    const std::string before = saved(*table);
    std::istringstream in(c.data);
    try {
      table->load(in);
      ADD_FAILURE() << "no exception: " << c.tail;
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.substr(message.size() - c.tail.size()), c.tail) << message;
    }
    EXPECT_EQ(saved(*table), before) << c.tail;
  }
}

TEST(AesHTable, TableOfALargerContextNeedsMoreBatchesInASmallerOne)
{
  // Saved with 16 slots, size 15: one batch; 8 slots need two.
  std::shared_ptr<HeContext> large = createMockup(16, 2);
  const std::string data = savedTable(*large, 15, {batchBody(*large, randomBlocks(5, 16))});
  EXPECT_EQ(saved(*loadTable(*large, data)), data);
  std::shared_ptr<HeContext> small = createMockup(8, 2);
  std::string forSmall = data;
  forSmall.replace(0, headerBytes("AesHTable", 0).size(),
                   headerBytes("AesHTable", small->getContextId()));
  EXPECT_NE(quietMessageOf<std::runtime_error>([&] { loadTable(*small, forSmall); }),
            "<no exception>");
}

} // namespace
