#include "math/EncryptedData.h"

#include <ios>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
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

template <typename E>
void rethrowIfExactly(const std::exception& e, const std::string& message)
{
  if (typeid(e) == typeid(E))
    throw E(message);
}

// Rethrows e, of a standard type, with the batch named first; any other type (a
// storage's own errors, say) is rethrown as it is.
[[noreturn]] void rethrowNamingBatch(const std::exception& e, size_t i)
{
  const std::string message =
      "Cannot read batch " + std::to_string(i) + " of the stored data set: " + e.what();
  if (const auto* failure = dynamic_cast<const std::ios_base::failure*>(&e)) {
    // Its text ends with its code's, which the new failure adds again.
    const std::string codeText = ": " + failure->code().message();
    std::string text = message;
    if (text.size() >= codeText.size() &&
        text.compare(text.size() - codeText.size(), codeText.size(), codeText) == 0)
      text.erase(text.size() - codeText.size());
    throw std::ios_base::failure(text, failure->code());
  }
  rethrowIfExactly<std::runtime_error>(e, message);
  rethrowIfExactly<assert_error>(e, message);
  rethrowIfExactly<std::invalid_argument>(e, message);
  rethrowIfExactly<std::out_of_range>(e, message);
  rethrowIfExactly<std::range_error>(e, message);
  rethrowIfExactly<std::overflow_error>(e, message);
  rethrowIfExactly<std::domain_error>(e, message);
  rethrowIfExactly<std::length_error>(e, message);
  rethrowIfExactly<std::logic_error>(e, message);
  throw;
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
  checkAddable();
  appendBatch(batch);
}

void EncryptedData::checkAddable() const
{
  if (isInputStorageAttached())
    throw std::runtime_error("This data set is attached to an input storage: batches cannot be "
                             "added to it. Add them to a data set that is not attached, or "
                             "attached to an output storage.");
}

void EncryptedData::appendBatch(const EncryptedBatch& batch)
{
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

void EncryptedData::appendBatches(std::vector<EncryptedBatch>&& toAdd)
{
  if (toAdd.empty())
    return;
  if (isOutputStorageAttached()) {
    // A storage cannot take a written buffer back: a write that fails part-way
    // keeps the batches written before it, counted.
    for (const EncryptedBatch& batch : toAdd)
      appendBatch(batch);
    return;
  }
  // Only the reserve may throw, before anything is appended.
  static_assert(std::is_nothrow_move_constructible<EncryptedBatch>::value,
                "appending moved batches must not throw");
  batches.reserve(batches.size() + toAdd.size());
  for (EncryptedBatch& batch : toAdd)
    batches.push_back(std::move(batch));
  numBatches += toAdd.size();
  markPopulated();
}

EncryptedBatch EncryptedData::loadBatch(Storage& storage, size_t i, uint64_t* bytesRead) const
{
  EncryptedBatch batch(*he);
  Buffer buffer = storage.openBufferForRead(batchBufferName(i));
  batch.load(buffer.in());
  if (bytesRead != nullptr) {
    const std::streamoff end = buffer.in().tellg();
    *bytesRead = end < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(end);
  }
  buffer.close();
  return batch;
}

EncryptedBatch EncryptedData::loadBatchToAdd(Storage& storage, size_t i, uint64_t* bytesRead) const
{
  try {
    return loadBatch(storage, i, bytesRead);
  } catch (const std::exception& e) {
    rethrowNamingBatch(e, i);
  }
}

void EncryptedData::addStoredBatches(Storage& storage, size_t count)
{
  if (!isOutputStorageAttached()) {
    std::vector<EncryptedBatch> loaded;
    loaded.reserve(count);
    for (size_t i = 0; i < count; ++i)
      loaded.push_back(loadBatchToAdd(storage, i, nullptr));
    appendBatches(std::move(loaded));
    return;
  }
  // Nothing is written before every batch has loaded. The first batches are
  // kept while they fit in READ_AHEAD_BYTES; the rest are loaded again.
  std::vector<EncryptedBatch> ahead;
  uint64_t aheadBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    uint64_t bytes = 0;
    EncryptedBatch batch = loadBatchToAdd(storage, i, &bytes);
    if (ahead.size() == i && bytes <= READ_AHEAD_BYTES - aheadBytes) {
      ahead.push_back(std::move(batch));
      aheadBytes += bytes;
    }
  }
  const size_t kept = ahead.size();
  appendBatches(std::move(ahead));
  for (size_t i = kept; i < count; ++i)
    appendBatch(loadBatchToAdd(storage, i, nullptr));
}

void EncryptedData::addEncryptedData(const EncryptedData& other)
{
  // Refused before anything is added, also when other holds no batches.
  he->checkSameContext(*other.he);
  checkAddable();
  other.checkItemsHoldValues();
  // The count is taken first, so adding a data set to itself adds each batch once.
  const size_t count = other.numBatches;
  if (other.isInputStorageAttached() || other.isOutputStorageAttached()) {
    addStoredBatches(other.isInputStorageAttached() ? other.getInputStorage()
                                                    : other.getOutputStorage(),
                     count);
    return;
  }
  // Copies first: adding may grow the very list being read.
  appendBatches(std::vector<EncryptedBatch>(other.batches.begin(), other.batches.begin() + count));
}

EncryptedBatch EncryptedData::getBatch(size_t i) const
{
  QV_ASSERT(i < numBatches);
  if (isInputStorageAttached())
    return loadBatch(getInputStorage(), i, nullptr);
  // Empty when the batches went to an output storage.
  return checkedAt(batches, static_cast<int64_t>(i));
}

std::shared_ptr<EncryptedData> loadEncryptedData(const HeContext& he, std::istream& in)
{
  return loadSaveableAs<EncryptedData>(he, in, "EncryptedData");
}

} // namespace quorvane
