#include "math/aes/AesHTable.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <limits>
#include <ostream>
#include <string>
#include <utility>

#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "math/aes/impl/AesBitwiseHTable.h"

namespace quorvane {

AesHTable::AesHTable(const HeContext& he) : he(he) {}

AesHTable::~AesHTable() {}

std::shared_ptr<Saveable> AesHTable::createAndLoad(const HeContext& he,
                                                   const SaveableHeader& header, std::istream& in)
{
  auto table = std::make_shared<AesHTable>(he);
  table->load(in, header);
  return table;
}

int32_t AesHTable::getContextId() const { return he.getContextId(); }

std::string AesHTable::getClassName() const { return "AesHTable"; }

int AesHTable::getRequiredNumBatches() const
{
  const uint32_t size = static_cast<uint32_t>(sizeMaxAuthGroup) + 1u;
  return static_cast<int>(std::ceil(static_cast<double>(size) / he.slotCount()));
}

void AesHTable::validateLegal() const
{
  if (initialized) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    QV_ASSERT(hTableBatches.size() == getRequiredNumBatches(),
              "hTableBatches.size()= " + std::to_string(hTableBatches.size()) +
                  " while sizeMaxAuthGroup= " + std::to_string(sizeMaxAuthGroup) +
                  " and he.slotCount()= " + std::to_string(he.slotCount()));
#pragma GCC diagnostic pop
    for (const auto& hTableBatch : hTableBatches) {
      QV_ASSERT(hTableBatch != nullptr);
      hTableBatch->validate(true);
    }
  } else {
    QV_ASSERT(sizeMaxAuthGroup == 0 && hTableBatches.empty());
  }
}

void AesHTable::saveImpl(std::ostream& out) const
{
  validateLegal();
  BinIoUtils::writeBool(out, initialized);
  if (!initialized)
    return;
  BinIoUtils::writeInt32(out, sizeMaxAuthGroup);
  for (const auto& hTableBatch : hTableBatches)
    hTableBatch->save(out);
}

void AesHTable::loadImpl(std::istream& in)
{
  // Read into a new table, whose state this one takes over once it is
  // complete and valid.
  AesHTable loaded(he);
  loaded.initialized = BinIoUtils::readBool(in);
  if (loaded.initialized) {
    // Bounded before anything is allocated: at most MAX_ELEMENT_COUNT batches.
    const int64_t maxSize = std::min<int64_t>(
        std::numeric_limits<int32_t>::max() - 1,
        static_cast<int64_t>(BinIoUtils::MAX_ELEMENT_COUNT) * he.slotCount() - 1);
    loaded.sizeMaxAuthGroup = BinIoUtils::readRecordField(in, "AES H-table", "sizeMaxAuthGroup",
                                                          0, static_cast<int32_t>(maxSize));
    const int numBatches = loaded.getRequiredNumBatches();
    for (int i = 0; i < numBatches; ++i) {
      auto hTableBatch = std::make_shared<AesBitwiseHTable>(he);
      hTableBatch->load(in);
      loaded.hTableBatches.push_back(std::move(hTableBatch));
    }
  }
  loaded.validateLegal();
  hTableBatches.swap(loaded.hTableBatches);
  sizeMaxAuthGroup = loaded.sizeMaxAuthGroup;
  initialized = loaded.initialized;
}

} // namespace quorvane
