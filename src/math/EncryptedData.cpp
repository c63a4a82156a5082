#include "math/EncryptedData.h"

#include <string>
#include <utility>

#include "hebase/Buffer.h"
#include "hebase/HeContext.h"
#include "hebase/Storage.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/VectorAccess.h"
#include "math/CTileTensor.h"

namespace quorvane {

namespace {

std::string batchBufferName(size_t i)
{
  return "batch-" + std::to_string(i);
}

} // namespace

// ---- EncryptedBatch ----

EncryptedBatch::EncryptedBatch(const HeContext& he) : he(&he) {}

EncryptedBatch::~EncryptedBatch() {}

std::shared_ptr<Saveable> EncryptedBatch::createAndLoad(const HeContext& he,
                                                        const SaveableHeader& header,
                                                        std::istream& in)
{
  auto res = std::make_shared<EncryptedBatch>(he);
  res->load(in, header);
  return res;
}

int32_t EncryptedBatch::getContextId() const
{
  return he->getContextId();
}

std::string EncryptedBatch::getClassName() const
{
  return "EncryptedBatch";
}

void EncryptedBatch::addItem(std::shared_ptr<CTileTensor> item)
{
  he->checkSameContext(item->getHeContext());
  items.push_back(std::move(item));
}

std::shared_ptr<CTileTensor> EncryptedBatch::getItem(size_t i) const
{
  if (i >= items.size())
    throwInvalidSubscript();
  return items[i];
}

void EncryptedBatch::checkSavable() const
{
  checkItemsHoldValues();
}

void EncryptedBatch::checkItemsHoldValues(int batchIndex) const
{
  for (size_t i = 0; i < items.size(); ++i) {
    const int empty = items[i]->findEmptyTile();
    if (empty < 0)
      continue;
    std::string name = "item " + std::to_string(i);
    if (batchIndex >= 0)
      name += " of batch " + std::to_string(batchIndex);
    TileTensor::throwEmptyTile(empty, name);
  }
}

void EncryptedBatch::saveImpl(std::ostream& out) const
{
  BinIoUtils::writeSizeT(out, items.size());
  // checkSavable has checked the items.
  for (const auto& item : items)
    item->savePart(out);
}

void EncryptedBatch::loadImpl(std::istream& in)
{
  QV_ASSERT(items.empty());
  const uint64_t count = BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT);
  std::vector<std::shared_ptr<CTileTensor>> loaded;
  for (uint64_t i = 0; i < count; ++i) {
    auto item = std::make_shared<CTileTensor>(*he);
    item->load(in);
    loaded.push_back(std::move(item));
  }
  items = std::move(loaded);
}

// ---- EncryptedData ----

EncryptedData::EncryptedData(const HeContext& he) : he(&he) {}

EncryptedData::~EncryptedData() {}

std::shared_ptr<Saveable> EncryptedData::createAndLoad(const HeContext& he,
                                                       const SaveableHeader& header,
                                                       std::istream& in)
{
  auto res = std::make_shared<EncryptedData>(he);
  res->load(in, header);
  return res;
}

int32_t EncryptedData::getContextId() const
{
  return he->getContextId();
}

std::string EncryptedData::getClassName() const
{
  return "EncryptedData";
}

bool EncryptedData::allowsStorage() const
{
  return true;
}

void EncryptedData::saveMetadata(std::ostream& out) const
{
  BinIoUtils::writeSizeT(out, numBatches);
}

void EncryptedData::loadMetadata(std::istream& in)
{
  const uint64_t count = BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT);
  numBatchesBeforeLoad = numBatches;
  numBatches = count;
}

void EncryptedData::checkSavable() const
{
  checkItemsHoldValues();
}

void EncryptedData::checkItemsHoldValues() const
{
  for (size_t b = 0; b < batches.size(); ++b)
    batches[b].checkItemsHoldValues(static_cast<int>(b));
}

void EncryptedData::saveImpl(std::ostream& out) const
{
  QV_ASSERT(!isInputStorageAttached());
  QV_ASSERT(!isOutputStorageAttached());
  QV_ASSERT(batches.size() == numBatches);
  BinIoUtils::writeSizeT(out, batches.size());
  // checkSavable has checked the batches.
  for (const EncryptedBatch& batch : batches)
    batch.savePart(out);
}

void EncryptedData::loadImpl(std::istream& in)
{
  try {
    QV_ASSERT(!isInputStorageAttached());
    QV_ASSERT(!isOutputStorageAttached());
    QV_ASSERT(batches.empty());
    const uint64_t numElementsToLoad =
        BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT);
    QV_ASSERT(numElementsToLoad == numBatches);
    std::vector<EncryptedBatch> loaded;
    for (uint64_t i = 0; i < numElementsToLoad; ++i) {
      EncryptedBatch batch(*he);
      batch.load(in);
      loaded.push_back(std::move(batch));
    }
    batches = std::move(loaded);
  } catch (...) {
    numBatches = numBatchesBeforeLoad;
    throw;
  }
}

void EncryptedData::addBatch(const EncryptedBatch& batch)
{
  he->checkSameContext(batch.getHeContext());
  markPopulated();
  if (isOutputStorageAttached()) {
    Buffer buffer = getOutputStorage().openBufferForWrite(batchBufferName(numBatches));
    batch.save(buffer.out());
    buffer.close();
  } else {
    batches.push_back(batch);
  }
  ++numBatches;
}

EncryptedBatch EncryptedData::loadBatch(Storage& storage, size_t i) const
{
  EncryptedBatch batch(*he);
  Buffer buffer = storage.openBufferForRead(batchBufferName(i));
  batch.load(buffer.in());
  buffer.close();
  return batch;
}

void EncryptedData::addEncryptedData(const EncryptedData& other)
{
  // Refused before anything is added, also when other holds no batches. The
  // batches of a storage were checked when they were loaded.
  he->checkSameContext(*other.he);
  other.checkItemsHoldValues();
  // The count is taken first, so adding a data set to itself adds each batch once.
  const size_t count = other.numBatches;
  if (other.isInputStorageAttached() || other.isOutputStorageAttached()) {
    Storage& storage =
        other.isInputStorageAttached() ? other.getInputStorage() : other.getOutputStorage();
    for (size_t i = 0; i < count; ++i)
      addBatch(loadBatch(storage, i));
    return;
  }
  // Copies first: addBatch may grow the very list being read.
  const std::vector<EncryptedBatch> toAdd(other.batches.begin(), other.batches.begin() + count);
  for (const EncryptedBatch& batch : toAdd)
    addBatch(batch);
}

EncryptedBatch EncryptedData::getBatch(size_t i) const
{
  QV_ASSERT(i < numBatches);
  if (isInputStorageAttached())
    return loadBatch(getInputStorage(), i);
  // Empty when the batches went to an output storage.
  return checkedAt(batches, static_cast<int64_t>(i));
}

std::shared_ptr<EncryptedData> loadEncryptedData(const HeContext& he, std::istream& in)
{
  return loadSaveableAs<EncryptedData>(he, in, "EncryptedData");
}

} // namespace quorvane
