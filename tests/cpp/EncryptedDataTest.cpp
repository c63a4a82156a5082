#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/FileStorage.h"
#include "math/EncryptedData.h"

using namespace quorvane;
using qvtest::Bytes;
using qvtest::encrypted;
using qvtest::randomTensor;

class EncryptedDataTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 5);

  std::shared_ptr<CTileTensor> item(unsigned seed) const
  {
    return std::make_shared<CTileTensor>(encrypted(*he, TTShape({16}), randomTensor({5}, seed)));
  }

  EncryptedBatch batchOf(std::vector<std::shared_ptr<CTileTensor>> items) const
  {
    EncryptedBatch batch(*he);
    for (auto& i : items)
      batch.addItem(i);
    return batch;
  }

  // Data with batches of one item each, made from the seeds.
  EncryptedData dataOf(const std::vector<unsigned>& seeds) const
  {
    EncryptedData data(*he);
    for (unsigned seed : seeds)
      data.addBatch(batchOf({item(seed)}));
    return data;
  }

  static double firstValue(const EncryptedBatch& batch, size_t i = 0)
  {
    return qvtest::decrypted(*batch.getItem(i)).at(0);
  }
};

TEST_F(EncryptedDataTest, BatchesAndItems)
{
  EncryptedBatch batch(*he);
  EXPECT_EQ(batch.getNumItems(), 0u);
  qvtest::expectThrowWithMessage<std::out_of_range>([&] { batch.getItem(0); },
                                                    "invalid vector subscript");
  auto samples = item(1);
  auto labels = item(2);
  batch.addItem(samples);
  batch.addItem(labels);
  EXPECT_EQ(batch.getNumItems(), 2u);
  EXPECT_EQ(batch.getItem(1), labels);

  EncryptedData data(*he);
  EXPECT_EQ(data.getNumBatches(), 0u);
  qvtest::expectAssertion([&] { data.getBatch(0); }, "getBatch", "i < numBatches");
  data.addBatch(batch);
  data.addBatch(batch);
  EXPECT_EQ(data.getNumBatches(), 2u);
  EXPECT_EQ(data.getBatch(1).getItem(0), samples) << "batches share their items";
}

TEST_F(EncryptedDataTest, AddingDataSets)
{
  const EncryptedData three = dataOf({1, 2, 3});
  EncryptedData data = dataOf({4});
  data.addEncryptedData(three);
  ASSERT_EQ(data.getNumBatches(), 4u);
  EXPECT_EQ(firstValue(data.getBatch(1)), firstValue(three.getBatch(0)));
  EXPECT_EQ(firstValue(data.getBatch(3)), firstValue(three.getBatch(2)));
  // A data set added to itself doubles once.
  data.addEncryptedData(data);
  ASSERT_EQ(data.getNumBatches(), 8u);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(data.getBatch(4 + i).getItem(0), data.getBatch(i).getItem(0));
}

// A data set, batch or item of another context is refused before anything
// changes; one of a context loaded from the same saved context is taken, and
// the result loads under both.
TEST_F(EncryptedDataTest, OtherContextsAreRefused)
{
  std::shared_ptr<HeContext> other = qvtest::createMockup(16, 5);
  ASSERT_NE(other->getContextId(), he->getContextId());
  auto foreignItem =
      std::make_shared<CTileTensor>(encrypted(*other, TTShape({16}), randomTensor({5}, 9)));
  EncryptedBatch foreignBatch(*other);
  foreignBatch.addItem(foreignItem);
  EncryptedData foreign(*other);
  foreign.addBatch(foreignBatch);
  const std::string message = qvtest::otherContextMessage(*other, *he);

  EncryptedData data(*he);
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { data.addEncryptedData(foreign); }, message);
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { data.addEncryptedData(EncryptedData(*other)); }, message);
  qvtest::expectThrowWithMessage<std::invalid_argument>([&] { data.addBatch(foreignBatch); },
                                                        message);
  EncryptedBatch batch(*he);
  qvtest::expectThrowWithMessage<std::invalid_argument>([&] { batch.addItem(foreignItem); },
                                                        message);
  EXPECT_EQ(batch.getNumItems(), 0u);
  EXPECT_EQ(data.getNumBatches(), 0u);
  // Nothing was added: a storage can still be attached.
  qvtest::TempDir dir;
  data.attachOutputStorage(std::make_shared<FileStorage>(dir.file("store"), true));

  std::shared_ptr<HeContext> copy = qvtest::loadContext(qvtest::saved(*he));
  EncryptedData fromCopy(*copy);
  EncryptedBatch copyBatch(*copy);
  copyBatch.addItem(std::make_shared<CTileTensor>(
      encrypted(*copy, TTShape({16}), randomTensor({5}, 3))));
  fromCopy.addBatch(copyBatch);
  EncryptedData merged = dataOf({1});
  merged.addEncryptedData(fromCopy);
  merged.addBatch(copyBatch);
  ASSERT_EQ(merged.getNumBatches(), 3u);
  const std::string bytes = qvtest::saved(merged);
  for (const HeContext* context : {he.get(), copy.get()}) {
    std::istringstream in(bytes);
    auto loaded = loadEncryptedData(*context, in);
    ASSERT_EQ(loaded->getNumBatches(), 3u);
    EXPECT_EQ(firstValue(loaded->getBatch(1)), firstValue(copyBatch));
  }
}

TEST_F(EncryptedDataTest, SavedForm)
{
  const EncryptedData data = dataOf({1, 2});
  const int id = he->getContextId();
  std::string expected = Bytes().header("EncryptedData", id).raw(qvtest::le64(2)).raw(qvtest::le64(2)).data;
  for (size_t i = 0; i < 2; ++i)
    expected += Bytes().header("EncryptedBatch", id).raw(qvtest::le64(1)).data +
                qvtest::saved(*data.getBatch(i).getItem(0));
  EXPECT_EQ(qvtest::saved(data), expected);

  std::istringstream in(expected);
  auto loaded = loadSaveableAs<EncryptedData>(*he, in, "EncryptedData");
  ASSERT_EQ(loaded->getNumBatches(), 2u);
  EXPECT_EQ(firstValue(loaded->getBatch(1)), firstValue(data.getBatch(1)));
  EXPECT_EQ(qvtest::saved(*loaded), expected);

  // A body count that differs from the metadata is refused; the data set is unchanged.
  std::string mismatch = expected;
  mismatch.replace(qvtest::headerBytes("EncryptedData", id).size() + 8, 8, qvtest::le64(1));
  EncryptedData target(*he);
  std::istringstream bad(mismatch);
  qvtest::expectAssertion([&] { target.load(bad); }, "loadImpl", "numElementsToLoad == numBatches");
  EXPECT_EQ(target.getNumBatches(), 0u);
  // Counts above the maximum are refused.
  std::string huge = Bytes().header("EncryptedBatch", id).raw(qvtest::le64(100001)).data;
  EncryptedBatch batch(*he);
  std::istringstream hugeIn(huge);
  EXPECT_THROW(batch.load(hugeIn), std::runtime_error);
  EXPECT_EQ(batch.getNumItems(), 0u);
  // A truncated batch leaves the batch empty.
  const std::string savedBatch = qvtest::saved(data.getBatch(0));
  std::istringstream truncated(savedBatch.substr(0, savedBatch.size() - 5));
  EXPECT_THROW(batch.load(truncated), std::runtime_error);
  EXPECT_EQ(batch.getNumItems(), 0u);
}

TEST_F(EncryptedDataTest, FileStorages)
{
  qvtest::TempDir dir;
  const std::string path = dir.file("store");
  const EncryptedData source = dataOf({1, 2});
  {
    auto storage = std::make_shared<FileStorage>(path, true);
    EncryptedData out(*he);
    out.attachOutputStorage(storage);
    out.addEncryptedData(source);
    EXPECT_EQ(out.getNumBatches(), 2u);
    qvtest::expectThrowWithMessage<std::out_of_range>([&] { out.getBatch(0); },
                                                      "invalid vector subscript");
    out.flushToStorage();
    const std::vector<std::string> files = qvtest::entries(path);
    for (const char* name : {"batch-0", "batch-1", "header", "metadata"})
      EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name;
    EXPECT_EQ(qvtest::readFile(path + "/batch-1"), qvtest::saved(source.getBatch(1)));

    // A data set whose batches live in an output storage adds them all.
    EncryptedData copy(*he);
    copy.addEncryptedData(out);
    EXPECT_EQ(copy.getNumBatches(), 2u);
    EXPECT_EQ(firstValue(copy.getBatch(1)), firstValue(source.getBatch(1)));
  }
  auto storage = std::make_shared<FileStorage>(path, false);
  EncryptedData in(*he);
  in.attachInputStorage(storage);
  EXPECT_EQ(in.getNumBatches(), 2u);
  EXPECT_EQ(firstValue(in.getBatch(1)), firstValue(source.getBatch(1)));
  // ...and so does one whose batches live in an input storage.
  EncryptedData merged = dataOf({3});
  merged.addEncryptedData(in);
  ASSERT_EQ(merged.getNumBatches(), 3u);
  EXPECT_EQ(firstValue(merged.getBatch(2)), firstValue(source.getBatch(1)));
}
