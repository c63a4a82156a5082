#include "math/DataPacking.h"

#include <cstdint>
#include <utility>

#include "hebase/utils/Assert.h"

namespace quorvane {

void TensorPacking::validate() const
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  if (!packedToOrigTensorMapping.empty())
    QV_ASSERT(packedToOrigTensorMapping.size() == shape.getNumOriginalSlots());
#pragma GCC diagnostic pop
  QV_ASSERT(!shape.containsUnknownUnusedSlots());
}

DataPacking::DataPacking(std::vector<std::vector<TensorPacking>> packings,
                         std::vector<int> numSlotsInOrigTensors)
    : packings(std::move(packings)), numSlotsInOrigTensors(std::move(numSlotsInOrigTensors))
{
}

const TensorPacking& DataPacking::getTensorPacking(size_t item, size_t batch) const
{
  return packings.at(batch).at(item);
}

size_t DataPacking::getNumItems() const
{
  return packings.at(0).size();
}

int DataPacking::getNumSlotsInOrigTensor(size_t item) const
{
  return numSlotsInOrigTensors.at(item);
}

void DataPacking::validate() const
{
  const size_t numItems = getNumItems();
  QV_ASSERT(numSlotsInOrigTensors.size() == numItems);
  for (size_t batch = 0; batch < packings.size(); ++batch)
    QV_ASSERT(packings.at(batch).size() == numItems);
  for (size_t item = 0; item < numItems; ++item) {
    QV_ASSERT(numSlotsInOrigTensors.at(item) > 0);
    for (size_t batch = 0; batch < packings.size(); ++batch) {
      const TensorPacking& packing = packings.at(batch).at(item);
      packing.validate();
      int64_t numSlotsInOrigTensor = 1;
      for (int size : packing.origTensorShape)
        numSlotsInOrigTensor *= size;
      QV_ASSERT(numSlotsInOrigTensor == numSlotsInOrigTensors.at(item));
    }
  }
}

} // namespace quorvane
