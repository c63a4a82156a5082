#include "math/TileTensor.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/Tile.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

TileTensor::TileTensor() {}

TileTensor::~TileTensor() {}

void TileTensor::validatePacked() const
{
  getNumUsedTiles();
  checkTilesHoldValues();
}

void TileTensor::checkTilesHoldValues(const std::string& tensorName) const
{
  if (!packed)
    return;
  const int count = shape.getNumUsedTiles();
  for (int i = 0; i < count; ++i)
    if (getTileByFlatIndex(i).isEmpty())
      throw std::runtime_error("Tile " + std::to_string(i) + " of " + tensorName +
                               " is empty: it holds no values");
}

int TileTensor::getNumUsedTiles() const
{
  // Callers loop on it: the tiles are looked at by validatePacked only.
  if (!packed)
    throw std::runtime_error("This tile tensor has not been packed");
  shape.validate();
  return shape.getNumUsedTiles();
}

void TileTensor::checkFlatIndex(int flatIndex, size_t count) const
{
  if (flatIndex < 0 || static_cast<size_t>(flatIndex) >= count)
    shape.reportError("Accessing tensor by an illegal flat index " + std::to_string(flatIndex));
}

void TileTensor::checkConstructibleShape(const TTShape& shape)
{
  if (shape.isIncomplete())
    shape.reportError("Cannot build a tile tensor of an incomplete shape");
  shape.validateForAllocation();
}

void TileTensor::checkLoadedShape(const TTShape& shape, const HeContext& he,
                                  const std::string& className)
{
  const std::string prefix = "Invalid saved " + className + ": ";
  if (shape.getNumDims() == 0)
    throw std::runtime_error(prefix + "a packed tensor needs a shape with dimensions");
  if (shape.isIncomplete())
    throw std::runtime_error(prefix + "the shape " + shape.toString() + " is incomplete");
  if (shape.getNumSlotsInTile() != he.slotCount())
    throw std::runtime_error(prefix + "the shape has " + std::to_string(shape.getNumSlotsInTile()) +
                             " slots in a tile, the context has " +
                             std::to_string(he.slotCount()));
  if (static_cast<uint64_t>(shape.getNumUsedTiles()) > BinIoUtils::MAX_ELEMENT_COUNT)
    throw std::runtime_error(prefix + "the shape has " + std::to_string(shape.getNumUsedTiles()) +
                             " tiles, expected at most " +
                             std::to_string(BinIoUtils::MAX_ELEMENT_COUNT));
  shape.validate();
}

void TileTensor::checkLoadedTile(const Tile& tile, int flatIndex, const std::string& className)
{
  if (tile.isEmpty())
    throw std::runtime_error("Invalid saved " + className + ": tile " + std::to_string(flatIndex) +
                             " is empty, but the tiles of a packed tensor must hold values");
}

int TileTensor::getTileFlatIndex(const std::vector<int>& indices) const
{
  const int n = static_cast<int>(indices.size());
  const int d = shape.getNumDims();
  if (n > d)
    shape.reportError("Accessing a tensor with too many indices: " + std::to_string(n));
  const std::vector<int> external = shape.getExternalSizes();
  for (int i = n; i < d; ++i)
    if (external[i] > 1)
      shape.reportError("Accessing a tensor with " + std::to_string(n) +
                            " indices, but the tensor has additional non-trivial dimensions",
                        i);
  if (n == 1) {
    const int k = indices[0];
    if (k < 0 || k >= external[0])
      shape.reportError("Accessing order 1 tensor with illegal tile index " + std::to_string(k));
    return k;
  }
  const std::vector<size_t> strides = getIndexStrides();
  size_t flat = 0;
  for (int j = 0; j < n; ++j) {
    if (indices[j] < 0 || indices[j] >= external[j])
      shape.reportError("Accessing a tensor with illegal tile index " + std::to_string(indices[j]),
                        j);
    flat += static_cast<size_t>(indices[j]) * strides[j];
  }
  return static_cast<int>(flat);
}

const Tile& TileTensor::getTileAt(const std::vector<int>& indices) const
{
  return getTileByFlatIndex(getTileFlatIndex(indices));
}

Tile& TileTensor::getTileAt(const std::vector<int>& indices)
{
  return getMutableTile(getTileFlatIndex(indices));
}

TensorIterator TileTensor::getTileIterator() const
{
  return TensorIterator(shape.getExternalSizes(), true);
}

int64_t TileTensor::getEstimatedMemoryUsageBytes() const
{
  if (!packed)
    return -1;
  const int count = getNumUsedTiles();
  if (count == 0)
    return 0;
  const int64_t perTile = getTileByFlatIndex(0).getEstimatedMemoryUsageBytes();
  if (perTile < 0)
    return -1;
  return perTile * count;
}

void TileTensor::toDevice(DeviceType device)
{
  for (int i = 0; i < getNumUsedTiles(); ++i)
    getMutableTile(i).toDevice(device);
}

DeviceType TileTensor::getCurrentDevice() const
{
  if (!packed)
    throw std::runtime_error("This tile tensor has not been packed");
  shape.validate();
  return getTileByFlatIndex(0).getCurrentDevice();
}

void TileTensor::printHeadline(std::ostream& out, const std::string& kind,
                               const std::string& title) const
{
  PrintUtils::printTitle(out, kind, title);
  out << " " << shape;
  if (lazyMode == LAZY_ENCODING)
    out << " LAZY" << " lazyCI=" << lazyChainIndex;
  out << " packed=" << (packed ? 1 : 0);
}

void TileTensor::printTiles(std::ostream& out, Verbosity verbosity) const
{
  out << std::endl << "Tile Tensor Tiles:" << std::endl;
  TensorIterator it = getTileIterator();
  do {
    out << it.getIndices() << std::endl;
    getTileByFlatIndex(it.getPos())
        .debugPrint("Tile index " + std::to_string(it.getPos()),
                    verbosity == VERBOSITY_EXTRA_DETAILED ? VERBOSITY_EXTRA_DETAILED
                                                          : VERBOSITY_REGULAR,
                    out);
  } while (it.next());
}

void TileTensor::checkSavable() const
{
  checkTilesHoldValues();
}

void TileTensor::setLazyChainIndex(int chainIndex)
{
  lazyChainIndex = chainIndex;
}

} // namespace quorvane
