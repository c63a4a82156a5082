#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmptyTileRecords.h"
#include "MemoryStorage.h"
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

namespace {

// An in-memory storage whose read streams tell the position given for their
// buffer's bytes (-1, as a stream that cannot tell, for bytes not listed).
class ReportingStorage : public qvtest::MemoryStorage
{
public:
  std::map<std::string, std::streamoff> reportedEnds;

protected:
  std::shared_ptr<std::istream> openInput(const std::string& bytes) override
  {
    std::streamoff reported = -1;
    for (const auto& [name, end] : reportedEnds)
      if (buffers[name] == bytes)
        reported = end;
    return std::make_shared<Reporting>(bytes, reported);
  }

private:
  struct Source : std::streambuf
  {
    std::string bytes;
    std::streamoff reported;
    Source(std::string b, std::streamoff r) : bytes(std::move(b)), reported(r)
    {
      setg(&bytes[0], &bytes[0], &bytes[0] + bytes.size());
    }
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override
    {
      return pos_type(reported);
    }
  };
  struct Reporting : std::istream
  {
    Source source;
    Reporting(const std::string& bytes, std::streamoff reported)
        : std::istream(nullptr), source(bytes, reported)
    {
      rdbuf(&source);
    }
  };
};

void writeFile(const std::string& path, const std::string& bytes)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

} // namespace

// Adding a data set is all or none wherever the two keep their batches: a
// batch of the source that is truncated or holds an empty tile is refused,
// naming the batch, and the target keeps its count, its batches and its
// buffers; once the source is mended, adding again gives the whole data set.
TEST_F(EncryptedDataTest, AddingADataSetIsAllOrNothing)
{
  enum Fault { TRUNCATED, EMPTY_TILE };
  struct Case
  {
    bool sourceStored;
    Fault fault;
    bool targetStored;
  };
  const std::vector<Case> cases = {
      {false, EMPTY_TILE, false}, {false, EMPTY_TILE, true}, {true, TRUNCATED, false},
      {true, TRUNCATED, true},    {true, EMPTY_TILE, false}, {true, EMPTY_TILE, true},
  };
  const std::string goodBatch = qvtest::saved(batchOf({item(3)}));
  const std::string faultyBatch[] = {
      goodBatch.substr(0, goodBatch.size() - 5),
      qvrecords::batchOf(*he, qvrecords::withEmptyTile<CTile>(*item(3), 0))};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("source ") + (c.sourceStored ? "stored" : "in memory") +
                 (c.fault == TRUNCATED ? ", truncated" : ", empty tile") + ", target " +
                 (c.targetStored ? "stored" : "in memory"));
    qvtest::TempDir dir;
    const std::string sourcePath = dir.file("source");
    const std::string targetPath = dir.file("target");
    // The source: batches of 1, 2 and 3, the last one faulty.
    EncryptedData memorySource = dataOf({1, 2, 3});
    EncryptedData storedSource(*he);
    std::string message;
    if (c.sourceStored) {
      {
        EncryptedData out(*he);
        out.attachOutputStorage(std::make_shared<FileStorage>(sourcePath, true));
        out.addEncryptedData(memorySource);
        out.flushToStorage();
      }
      writeFile(sourcePath + "/batch-2", faultyBatch[c.fault]);
      storedSource.attachInputStorage(std::make_shared<FileStorage>(sourcePath, false));
      // The load's own refusal, with the batch named.
      try {
        FileStorage files(sourcePath, false);
        Buffer buffer = files.openBufferForRead("batch-2");
        EncryptedBatch(*he).load(buffer.in());
      } catch (const std::exception& e) {
        message = std::string("Cannot read batch 2 of the stored data set: ") + e.what();
      }
    } else {
      static_cast<CTile&>(memorySource.getBatch(2).getItem(0)->getMutableTile(0)) = CTile(*he);
      message = "Tile 0 of item 0 of batch 2 is empty: it holds no values";
    }
    const EncryptedData& source = c.sourceStored ? storedSource : memorySource;
    // The target already holds a batch of 7.
    EncryptedData target(*he);
    if (c.targetStored)
      target.attachOutputStorage(std::make_shared<FileStorage>(targetPath, true));
    target.addBatch(batchOf({item(7)}));
    const std::vector<std::string> files = c.targetStored ? qvtest::entries(targetPath)
                                                          : std::vector<std::string>();
    const std::string firstBatch =
        c.targetStored ? qvtest::readFile(targetPath + "/batch-0") : qvtest::saved(target.getBatch(0));

    try {
      target.addEncryptedData(source);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      if (c.sourceStored && c.fault == TRUNCATED)
        EXPECT_NE(dynamic_cast<const std::ios_base::failure*>(&e), nullptr);
      else
        EXPECT_EQ(typeid(e), typeid(std::runtime_error));
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(target.getNumBatches(), 1u);
    if (c.targetStored) {
      EXPECT_EQ(qvtest::entries(targetPath), files);
      EXPECT_EQ(qvtest::readFile(targetPath + "/batch-0"), firstBatch);
    } else {
      EXPECT_EQ(qvtest::saved(target.getBatch(0)), firstBatch);
      qvtest::expectAssertion([&] { target.getBatch(1); }, "getBatch", "i < numBatches");
    }

    // Mended, the source is added whole.
    if (c.sourceStored)
      writeFile(sourcePath + "/batch-2", goodBatch);
    else
      static_cast<CTile&>(memorySource.getBatch(2).getItem(0)->getMutableTile(0)) =
          CTile(item(3)->getTile(0));
    target.addEncryptedData(source);
    ASSERT_EQ(target.getNumBatches(), 4u);
    EncryptedData result(*he);
    if (c.targetStored) {
      target.flushToStorage();
      result.attachInputStorage(std::make_shared<FileStorage>(targetPath, false));
    }
    const EncryptedData& check = c.targetStored ? result : target;
    ASSERT_EQ(check.getNumBatches(), 4u);
    const double expected[] = {firstValue(batchOf({item(7)})), firstValue(batchOf({item(1)})),
                               firstValue(batchOf({item(2)})), firstValue(batchOf({item(3)}))};
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(firstValue(check.getBatch(i)), expected[i]) << i;
  }
}

// Stored batches added to an output storage are all loaded before the first
// is written: kept from that load while they fit the read-ahead, loaded again
// past it or when the storage cannot tell their size. A faulty last batch
// leaves the target as it was either way.
TEST_F(EncryptedDataTest, StoredBatchesAreCheckedBeforeTheFirstIsWritten)
{
  const uint64_t past = EncryptedData::READ_AHEAD_BYTES + 1;
  struct Case
  {
    const char* name;
    std::vector<std::streamoff> reportedEnds; // of batch-0, -1 and -2; -1: cannot tell
    std::vector<int> reads;
  };
  const std::vector<Case> cases = {
      {"all fit", {100, 100, 100}, {1, 1, 1}},
      {"the second does not fit", {100, static_cast<std::streamoff>(past), 100}, {1, 2, 2}},
      {"sizes unknown", {-1, -1, -1}, {2, 2, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto source = std::make_shared<ReportingStorage>();
    {
      EncryptedData out(*he);
      out.attachOutputStorage(source);
      out.addEncryptedData(dataOf({1, 2, 3}));
      out.flushToStorage();
    }
    EncryptedData in(*he);
    in.attachInputStorage(source);
    const std::string names[] = {"batch-0", "batch-1", "batch-2"};
    for (int i = 0; i < 3; ++i)
      source->reportedEnds[names[i]] = c.reportedEnds[i];
    source->log.clear();

    auto target = std::make_shared<qvtest::MemoryStorage>();
    EncryptedData out(*he);
    out.attachOutputStorage(target);
    out.addEncryptedData(in);
    EXPECT_EQ(out.getNumBatches(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(source->readsOf(names[i]), c.reads[i]) << names[i];
      EXPECT_EQ(target->buffers[names[i]], source->buffers[names[i]]) << names[i];
    }

    const std::string good = source->buffers["batch-2"];
    source->reportedEnds.erase("batch-2");
    source->buffers["batch-2"] = good.substr(0, good.size() - 3);
    source->log.clear();
    EncryptedData refused(*he);
    auto untouched = std::make_shared<qvtest::MemoryStorage>();
    refused.attachOutputStorage(untouched);
    EXPECT_THROW(refused.addEncryptedData(in), std::runtime_error);
    EXPECT_EQ(refused.getNumBatches(), 0u);
    EXPECT_EQ(untouched->log, std::vector<std::string>({"write header", "close header"}));
    EXPECT_EQ(source->readsOf("batch-0"), 1);
  }
}

// A storage cannot take a written buffer back: one that fails while the
// batches are written keeps those written before, and the data set counts
// them, so that the next add goes on after them.
TEST_F(EncryptedDataTest, AStorageFailingPartWayKeepsTheBatchesWritten)
{
  auto target = std::make_shared<qvtest::MemoryStorage>();
  EncryptedData out(*he);
  out.attachOutputStorage(target);
  target->failCloseOf = "batch-2";
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { out.addEncryptedData(dataOf({1, 2, 3})); }, "close of batch-2 failed");
  EXPECT_EQ(out.getNumBatches(), 2u);
  EXPECT_EQ(target->buffers.count("batch-2"), 0u);

  target->failCloseOf.clear();
  out.addEncryptedData(dataOf({3}));
  out.flushToStorage();
  EncryptedData in(*he);
  in.attachInputStorage(target);
  ASSERT_EQ(in.getNumBatches(), 3u);
  for (unsigned i = 0; i < 3; ++i)
    EXPECT_EQ(firstValue(in.getBatch(i)), firstValue(batchOf({item(i + 1)}))) << i;
}

// A data set attached to an input storage reads its batches from it: adding
// to it is refused before anything changes.
TEST_F(EncryptedDataTest, AddingToADataSetAttachedForInputIsRefused)
{
  qvtest::TempDir dir;
  {
    EncryptedData out(*he);
    out.attachOutputStorage(std::make_shared<FileStorage>(dir.file("store"), true));
    out.addEncryptedData(dataOf({1, 2}));
    out.flushToStorage();
  }
  const std::vector<std::string> files = qvtest::entries(dir.file("store"));
  EncryptedData in(*he);
  in.attachInputStorage(std::make_shared<FileStorage>(dir.file("store"), false));
  const std::string message =
      "This data set is attached to an input storage: batches cannot be added to it. Add them "
      "to a data set that is not attached, or attached to an output storage.";
  const EncryptedData more = dataOf({3});
  const std::vector<std::function<void()>> adds = {
      [&] { in.addBatch(batchOf({item(3)})); },
      [&] { in.addEncryptedData(more); },
      [&] { in.addEncryptedData(EncryptedData(*he)); },
      [&] { in.addEncryptedData(in); },
  };
  for (const auto& add : adds)
    qvtest::expectThrowWithMessage<std::runtime_error>(add, message);
  EXPECT_EQ(in.getNumBatches(), 2u);
  EXPECT_EQ(firstValue(in.getBatch(1)), firstValue(batchOf({item(2)})));
  EXPECT_EQ(qvtest::entries(dir.file("store")), files);
}
