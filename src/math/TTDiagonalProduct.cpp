// The matrix-vector product of a diagonalized matrix tile tensor.

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "math/CTileTensor.h"
#include "math/ProjectingTensorIteratorTarget.h"
#include "math/TTDiagUtils.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

const std::string PREFIX =
    "Attempting to perform matrix-vector multiplication using diagonal packing: ";

} // namespace

void TTDiagUtils::multiplyMatrixVector(CTileTensor& result, const TileTensor& matrix,
                                       const CTileTensor& vector) const
{
  matrix.validatePacked();
  vector.validatePacked();
  const TTShape& ms = matrix.getShape();
  const TTShape& vs = vector.getShape();
  if (ms != shape)
    throw std::runtime_error("Internal error: TTDiagUtils should be initalized with the matrix's "
                             "shape. It was initialized with shape " +
                             shape.toString() + " and the matrix has shape " + ms.toString());
  vector.checkSameContext(matrix);
  if (vs.isDiagonalized())
    vs.reportError(PREFIX + "Vector is expected to be not diagonalized");
  const int vectorOrder = ms.getNumDims() - 1;
  if (vs.getNumDims() != vectorOrder)
    vs.reportError(PREFIX +
                   "Vector's shape is expected to have one less dimensions than the matrix. "
                   "Expecting " +
                   std::to_string(vectorOrder) + " dims.");
  const TTDim& rows = vs.getDim(0);
  if (rows.getTileSize() != blockSize0)
    vs.reportError(PREFIX +
                   "Tile size of vector's first dimension is expected to be matrix "
                   "tileSize[0]*tileSize[1], " +
                   std::to_string(blockSize0));
  const int numRows = ms.getDim(0).getOriginalSize();
  if (rows.getOriginalSize() != numRows)
    vs.reportError(PREFIX +
                   "Original size vector's first dimension is expected to match matrice's first "
                   "dimension original size: " +
                   std::to_string(numRows));
  // The rotations below assume the rows lie contiguously, one per slot.
  if (rows.getIsComplexPacked() || (rows.isInterleaved() && rows.getExternalSize() > 1))
    vs.reportError(PREFIX + "Vector's first dimension must not be complex packed or interleaved "
                            "over several tiles");
  // Unused rows meet zeros of the other operand only when one of them is known.
  if (rows.getAreUnusedSlotsUnknown() && ms.getDim(0).getAreUnusedSlotsUnknown())
    vs.reportError(PREFIX + "Vector's first dimension must not have unknown unused slots when "
                            "the matrix's first dimension has them");
  ms.getSubShape(2, ms.getNumDims())
      .assertCompatible(vs.getSubShape(1, vectorOrder), MULTIPLICATIVE_ACTION_TYPE,
                        "Dimension 2..end of matrix vs. dimensions 1..end of vector");

  // Dimension 0 is summed within its tiles and spans them whole: its unknown
  // flag goes before diagonalization does, which would leave the flag no
  // unused slots to describe.
  TTShape resShape(ms);
  resShape.getDim(0).setAreUnusedSlotsUnknown(false);
  resShape.setDiagonalized(false);
  resShape.getDim(0).setOriginalSize(tileSize0, false);
  for (int d = 1; d < vectorOrder; ++d)
    resShape.getDim(d + 1).applyCompatibilityAdjustments(vs.getDim(d), MULTIPLICATIVE_ACTION_TYPE);

  const HeContext& he = vector.getHeContext();
  CTileTensor res(he, resShape);
  std::vector<std::mutex> locks(resShape.getNumUsedTiles());
  const int step = vs.getRotateOffsetOfDim(0);
  const std::vector<int> vectorSizes = vs.getExternalSizes();
  const std::vector<int> resSizes = resShape.getExternalSizes();
  const int numVectorTiles = vs.getNumUsedTiles();
  for (int v = 0; v < numVectorTiles; ++v) {
    for (int o = 0; o < tilesInBlock; ++o) {
      // Diagonal o meets the vector tile rotated by o steps.
      CTile x(vector.getTile(v));
      if (o > 0)
        x.rotate(o * step);
      TensorIterator vecIt(vectorSizes, true);
      vecIt.setFlatIndex(v);
      TensorIterator matIt(ms.getExternalSizes(), true);
      TensorIterator resIt(resSizes, true);
      ProjectingTensorIteratorTarget projection(matIt);
      resIt.setTarget(&projection);
      for (int d = 1; d < vectorOrder; ++d)
        if (vectorSizes[d] > 1 && resSizes[d + 1] > 1)
          resIt.clamp(d + 1, vecIt.getIndex(d));
      const int firstMatrixTile = o + tilesInBlock * vecIt.getIndex(0);
      do {
        CTile p(x);
        p.multiplyTileRaw(matrix.getTileByFlatIndex(matIt.getPos() + firstMatrixTile));
        std::lock_guard<std::mutex> lock(locks.at(resIt.getPos()));
        CTile& target = res.tiles[resIt.getPos()];
        if (target.isEmpty())
          target = std::move(p);
        else
          target.add(p);
      } while (resIt.next());
    }
  }
  res.packed = true;
  res.relinearizeAndRescale();
  res.sumInTilesOverDim(0);
  result = std::move(res);
}

} // namespace quorvane
