#ifndef QUORVANE_MATH_DATAPACKING_H
#define QUORVANE_MATH_DATAPACKING_H

#include <cstddef>
#include <vector>

#include "math/TTShape.h"

namespace quorvane {

/// How one item of one batch is packed.
struct TensorPacking
{
  /// The tile-tensor shape the item is packed into.
  TTShape shape;
  /// The dimensions of the item's original tensor.
  std::vector<int> origTensorShape;
  /// Empty (packed position i holds original value i), or, for every original
  /// slot of the shape (column-major over its original sizes), the position of
  /// its value among the original tensor's values.
  std::vector<int> packedToOrigTensorMapping;

  /// Asserts a mapping of one entry per original slot and no unknown unused slots.
  void validate() const;
};

/// How decrypted data is laid out in tile tensors, batch by batch and item by item.
class DataPacking
{
public:
  /// packings[batch][item]; numSlotsInOrigTensors[item] is the item's number of values.
  DataPacking(std::vector<std::vector<TensorPacking>> packings,
              std::vector<int> numSlotsInOrigTensors);

  /// The entry of the item in the batch (item first); std::out_of_range outside.
  const TensorPacking& getTensorPacking(size_t item, size_t batch) const;
  size_t getNumBatches() const { return packings.size(); }
  /// The number of items of batch 0; std::out_of_range without batches.
  size_t getNumItems() const;
  /// std::out_of_range for an item outside.
  int getNumSlotsInOrigTensor(size_t item) const;
  const std::vector<int>& getNumSlotsInOrigTensors() const { return numSlotsInOrigTensors; }

  /// Asserts equal item counts, positive value counts matching the original
  /// shapes, and valid entries.
  void validate() const;

private:
  std::vector<std::vector<TensorPacking>> packings;
  std::vector<int> numSlotsInOrigTensors;
};

} // namespace quorvane

#endif
