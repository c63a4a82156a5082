// Slicing, flattening and duplication of CTileTensor, and the entry points of
// the structured products (convolution, diagonal matrix-vector product).

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hebase/utils/Assert.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/OffsettingTensorIteratorTarget.h"
#include "math/PTileTensor.h"
#include "math/TTConvolution.h"
#include "math/TTDiagUtils.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

// The unknown flag of a dimension of original size n sliced from startIndex
// with sliceDepth values.
bool slicedUnknownFlag(const TTDim& src, int startIndex, int sliceDepth)
{
  const bool endsAtEnd = startIndex + sliceDepth == src.getOriginalSize();
  if (!src.isInterleaved()) {
    if (sliceDepth % src.getTileSize() == 0)
      return false;
    return endsAtEnd ? src.getAreUnusedSlotsUnknown() : true;
  }
  if (endsAtEnd)
    return src.getAreUnusedSlotsUnknown();
  // Tiles cut short keep values of the source beyond the slice when any tile held two.
  return src.getExternalSize() < src.getOriginalSize() ? true : src.getAreUnusedSlotsUnknown();
}

} // namespace

// ---- Slicing ----

CTileTensor CTileTensor::getSlice(int dim, int startIndex, int sliceDepth) const
{
  validatePacked();
  const int numDims = shape.getNumDims();
  if (dim < 0)
    dim += numDims;
  if (dim < 0 || dim >= numDims)
    throw std::invalid_argument("Invalid dim");
  const TTDim& src = shape.getDim(dim);
  if (src.getIsComplexPacked())
    shape.reportError("Slicing currently not supported for complex packed dims", dim);
  if (shape.isDiagonalized() && dim < 2)
    shape.reportError("Currently slicing for the first or second dimensions of a diagonal shape "
                      "is not supported");
  const int n = src.getOriginalSize();
  const int t = src.getTileSize();
  const bool interleavedSlice = src.isInterleaved() && t > 1;
  if (startIndex < 0 || startIndex >= n)
    shape.reportError("getSlice: Invalid startIndex " + std::to_string(startIndex), dim);
  if (sliceDepth < 1 || sliceDepth > n - startIndex)
    shape.reportError("getSlice: Invalid sliceDepth " + std::to_string(sliceDepth) +
                          " when startIndex is " + std::to_string(startIndex),
                      dim);
  if (t > 1) {
    if (src.isInterleaved() && startIndex != 0)
      shape.reportError("getSlice: startIndex " + std::to_string(startIndex) +
                            " must be 0 for an interleaved dimension. Consider first calling "
                            "shiftAlongDim to move the first index to be at position 0.",
                        dim);
    if (!src.isInterleaved() && startIndex % t != 0)
      shape.reportError("getSlice: startIndex " + std::to_string(startIndex) +
                            " must be a multiple of the current dimension's tile size",
                        dim);
  }

  TTShape newShape(shape);
  TTDim& sliced = newShape.getDim(dim);
  sliced.setAreUnusedSlotsUnknown(false);
  sliced.setOriginalSize(sliceDepth, interleavedSlice);
  // Only a dimension with unused slots can hold unknown ones.
  if (slicedUnknownFlag(src, startIndex, sliceDepth))
    sliced.setUnusedSlotsUnknown();

  const std::vector<int> newSizes = newShape.getExternalSizes();
  TensorIterator resIt(newSizes, true);
  TensorIterator srcIt(shape.getExternalSizes(), true);
  OffsettingTensorIteratorTarget offsetting(srcIt, dim, startIndex / t);
  resIt.setTarget(&offsetting);
  std::vector<std::shared_ptr<CTile>> copied;
  copied.reserve(resIt.getSize());
  do
    copied.push_back(std::make_shared<CTile>(tiles[srcIt.getPos()]));
  while (resIt.next());

  CTileTensor res(*he);
  res.shape = std::move(newShape);
  res.tiles = TileArray<CTile>(newSizes, std::move(copied));
  res.packed = true;
  return res;
}

// ---- Flattening ----

void CTileTensor::flatten(int startDim, int endDim)
{
  SectionTimer timer("CTileTensor::flatten");
  validatePacked();
  if (startDim >= endDim)
    throw std::runtime_error("In flatten, startDim must be < endDim");
  if (startDim + 1 == endDim)
    return;
  if (shape.isDiagonalized() && (startDim == 0 || startDim == 1))
    shape.reportError("Currently flatting involving first or second dimensions of a diagonal "
                      "shape is not supported");
  int tileSize = 1;
  bool interleaved = true;
  for (int i = startDim; i < endDim; ++i) {
    const TTDim& d = shape.getDim(i);
    if (!d.isFullyDuplicated())
      shape.reportError("Flatten operator not allowed for a dimension that is not fully "
                        "duplicated",
                        i);
    if (d.getIsComplexPacked())
      shape.reportError("Flatten operator is currently not supported for complex-packed "
                        "dimensions",
                        i);
    tileSize *= d.getTileSize();
    interleaved = interleaved && d.isInterleaved();
  }

  // The dimensions before startDim are kept as they are, with the
  // diagonalization of the first two (their unknown flags may hold only while
  // they are diagonalized).
  TTShape newShape = startDim > 0 ? shape.getSubShape(0, startDim) : TTShape();
  newShape.addDim(TTDim(1, tileSize, tileSize, false, interleaved, false));
  for (int i = endDim; i < shape.getNumDims(); ++i)
    newShape.addDim(shape.getDim(i));

  // Every flattened dimension lies in one tile: the tiles and their order stay.
  tiles.reshape(newShape.getExternalSizes());
  shape = std::move(newShape);
}

CTileTensor CTileTensor::getFlatten(int startDim, int endDim) const
{
  return workOnCopy([=](CTileTensor& t) { t.flatten(startDim, endDim); });
}

// ---- Duplication ----

void CTileTensor::duplicateOverDim(int dim)
{
  SectionTimer timer("CTileTensor::duplicateOverDim");
  validatePacked();
  if (dim >= shape.getNumDims())
    shape.reportError("Dimension " + std::to_string(dim) + " does not exist in this tile tensor");
  const TTDim& d = shape.getDim(dim);
  if (d.getAreUnusedSlotsUnknown())
    shape.reportError("Duplicate operator not allowed with unknown values", dim);
  if (d.getOriginalSize() != 1)
    shape.reportError("Duplicate operator not allowed with original size larger than one", dim);
  if (d.getNumDuplicated() > 1 && !d.isFullyDuplicated())
    shape.reportError("Duplicate operator not allowed with partially duplicated values", dim);
  if (shape.isDiagonalized() && dim < 2)
    shape.reportError("Currently duplicate the first or second dimensions of a diagonal shape is "
                      "not supported");
  if (d.getTileSize() == 1 || d.isFullyDuplicated())
    return;
  QV_ASSERT(!shape.getDim(dim).getIsComplexPacked());

  TTShape newShape(shape);
  newShape.getDim(dim).setAreUnusedSlotsUnknown(false).setNumDuplicated(d.getTileSize());
  // The other indices of dim hold zeros, so a backward rotate-and-add over
  // the whole tile size copies index 0 into each.
  innerSumOverDim(dim, -1, true);
  shape = std::move(newShape);
}

CTileTensor CTileTensor::getDuplicateOverDim(int dim) const
{
  return workOnCopy([dim](CTileTensor& t) { t.duplicateOverDim(dim); });
}

CTileTensor CTileTensor::duplicateAndMaskTile(const CTile& tile) const
{
  SectionTimer timer("CTileTensor::duplicateAndMaskTile");
  validatePacked();
  if (tile.getContextId() != getContextId())
    throw std::invalid_argument("The tile belongs to another context (context id " +
                                std::to_string(tile.getContextId()) + ", expected " +
                                std::to_string(getContextId()) + ")");
  const PTileTensor mask = getPlainScalarMask(1.0);
  std::vector<int> allDims(shape.getNumDims());
  for (int i = 0; i < shape.getNumDims(); ++i)
    allDims[i] = i;
  const TTShape dupShape =
      shape.getIncompleteTileSizesAndInterleaved().getWithDuplicatedDims(allDims);
  QV_ASSERT(dupShape.getNumUsedTiles() == 1);
  CTileTensor single(*he, dupShape);
  single.tiles[0] = tile;
  single.packed = true;
  return mask.getMultiply(single);
}

// ---- Structured products ----

CTileTensor CTileTensor::getConvolution(const CTileTensor& filters, const CTileTensor& biases,
                                        int strideRows, int strideCols) const
{
  if (shape.isDiagonalized())
    shape.reportError("This convolution method currently doesn't work with a diagonal shape");
  return TTConvolution::getConvolution(*this, filters, &biases, strideRows, strideCols);
}

CTileTensor CTileTensor::getMatrixMultiplication(const TileTensor& other, int sumDim) const
{
  // Named as the caller sees them, before other takes this as its operand.
  checkTilesHoldValues();
  other.checkTilesHoldValues(OTHER_TENSOR);
  const TTShape& otherShape = other.getShape();
  if (!otherShape.isDiagonalized())
    return other.getMultiplyAndSum(*this, sumDim);
  if (sumDim != 0)
    otherShape.reportError("'other' has diagonalized shape: sumDim must be 0. Instead found " +
                           std::to_string(sumDim));
  const TTDiagUtils diagUtils(otherShape);
  CTileTensor res(*he);
  diagUtils.multiplyMatrixVector(res, other, *this);
  return res;
}

} // namespace quorvane
