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
  validatePackedShape();
  checkTilesHoldValues();
}

void TileTensor::validatePackedShape() const
{
  // Unpacked is refused whatever the lazy mode: a lazy tensor holds no tiles
  // until it is woken up.
  if (!packed)
    throw std::runtime_error("This tile tensor has not been packed");
  shape.validate();
  checkTileArray();
}

void TileTensor::checkTileArray() const
{
  const size_t held = getTileArraySize();
  const int count = shape.getNumUsedTiles();
  if (held != static_cast<size_t>(count))
    throw std::runtime_error("A tile tensor of shape " + shape.toString() + " holds " +
                             std::to_string(held) + " tiles, but its shape has " +
                             std::to_string(count));
}

void TileTensor::checkTilesHoldValues(const char* tensorName) const
{
  const int empty = findEmptyTile();
  if (empty >= 0)
    throwEmptyTile(empty, tensorName);
}

int TileTensor::findEmptyTile() const
{
  if (!packed)
    return -1;
  checkTileArray();
  const int count = static_cast<int>(getTileArraySize());
  for (int i = 0; i < count; ++i)
    if (getTileByFlatIndex(i).isEmpty())
      return i;
  return -1;
}

void TileTensor::checkTileHoldsValues(int flatIndex, const char* tensorName) const
{
  if (getTileByFlatIndex(flatIndex).isEmpty())
    throwEmptyTile(flatIndex, tensorName);
}

void TileTensor::throwEmptyTile(int flatIndex, const std::string& tensorName)
{
  throw std::runtime_error("Tile " + std::to_string(flatIndex) + " of " + tensorName +
                           " is empty: it holds no values");
}

int TileTensor::getNumUsedTiles() const
{
  // Callers loop on it: the tiles' values are looked at by validatePacked only.
  validatePackedShape();
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
  // Column-major over the shape's external sizes; the tile accessors then
  // check the flat index against the tile array itself.
  size_t flat = 0;
  size_t stride = 1;
  for (int j = 0; j < n; ++j) {
    if (indices[j] < 0 || indices[j] >= external[j])
      shape.reportError("Accessing a tensor with illegal tile index " + std::to_string(indices[j]),
                        j);
    flat += static_cast<size_t>(indices[j]) * stride;
    stride *= static_cast<size_t>(external[j]);
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
  validatePackedShape();
  const int count = shape.getNumUsedTiles();
  if (count == 0)
    return 0;
  // Only tile 0 is read.
  checkTileHoldsValues(0);
  const int64_t perTile = getTileByFlatIndex(0).getEstimatedMemoryUsageBytes();
  if (perTile < 0)
    return -1;
  return perTile * count;
}

void TileTensor::toDevice(DeviceType device)
{
  // A lazy tensor that was never woken up counts the tiles of its shape but holds none.
  validatePackedShape();
  const int count = static_cast<int>(getTileArraySize());
  for (int i = 0; i < count; ++i)
    getMutableTile(i).toDevice(device);
}

DeviceType TileTensor::getCurrentDevice() const
{
  validatePackedShape();
  checkTileHoldsValues(0);
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

// ---- An operation called on one tensor with another as its argument ----

void TileTensor::checkSameContext(const TileTensor& other) const
{
  if (other.getContextId() != getContextId())
    throw std::invalid_argument("The other tile tensor belongs to another context (context id " +
                                std::to_string(other.getContextId()) + ", expected " +
                                std::to_string(getContextId()) + ")");
}

void TileTensor::validateArgumentShape() const
{
  if (!packed)
    throw std::invalid_argument("Other has not been encoded yet");
  validatePackedShape();
}

void TileTensor::checkOperands(const TileTensor& self, const TileTensor& other)
{
  self.validatePacked();
  other.validateArgumentShape();
  self.checkSameContext(other);
  other.checkTilesHoldValues(OTHER_TENSOR);
}

int TileTensor::getArgumentChainIndex(const TileTensor& other)
{
  if (other.lazyMode != LAZY_ENCODING) {
    other.validateArgumentShape();
    other.checkTilesHoldValues(OTHER_TENSOR);
  }
  return other.getChainIndex();
}

} // namespace quorvane
