// Rotations, shifts and sums along a dimension of CTileTensor, and the
// multiply-and-sum products built on them.

#include <string>
#include <utility>
#include <vector>

#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/MathUtils.h"
#include "math/PTileTensor.h"
#include "math/ProjectingTensorIteratorTarget.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

bool isFirstOrSecondOfDiagonal(const TTShape& shape, int dim)
{
  return shape.isDiagonalized() && (dim == 0 || dim == 1);
}

// The checks shared by the sums across and inside tiles, in their order: dim 0
// or 1 of a diagonalized shape (refused with diagonalMessage), a missing
// dimension (a negative one fails the shape's own range check), unknown
// unused slots. Returns the dimension.
const TTDim& checkSumDim(const TTShape& shape, int dim, const std::string& diagonalMessage)
{
  if (isFirstOrSecondOfDiagonal(shape, dim))
    shape.reportError(diagonalMessage);
  if (dim >= shape.getNumDims())
    shape.reportError("Dimension " + std::to_string(dim) + " does not exist in this tile tensor");
  const TTDim& d = shape.getDim(dim);
  if (d.getAreUnusedSlotsUnknown())
    shape.reportError("Sum operator not allowed with unknown values", dim);
  return d;
}

const std::string COMPLEX_SUM = "Summing over complex packed dimensions currently not supported.";

} // namespace

// ---- Rotations and shifts ----

void CTileTensor::rotateAlongDim(int dim, int rot)
{
  rotateOrShiftAlongDim(dim, rot, false);
}

void CTileTensor::shiftAlongDim(int dim, int shift)
{
  rotateOrShiftAlongDim(dim, shift, true);
}

void CTileTensor::rotateOrShiftAlongDim(int dim, int n, bool isShift)
{
  validatePacked();
  if (dim < 0 || dim >= shape.getNumDims())
    shape.reportError("rotation/shift failed: dimension " + std::to_string(dim) +
                      " does not exist in this shape");
  if (isFirstOrSecondOfDiagonal(shape, dim))
    shape.reportError("Shift and rotate are currently not supported for first and second "
                      "dimensions of a diagoanlized shape");
  if (n == 0)
    return;
  const TTDim& d = shape.getDim(dim);
  if (!d.isInterleaved() && d.getExternalSize() != 1)
    shape.reportError("rotation/shift failed: When the rotated dimension is not interleaved, it "
                      "must have an external size of 1",
                      dim);
  rotateOrShiftTiles(dim, n, isShift);
}

void CTileTensor::rotateOrShiftTiles(int dim, int n, bool isShift)
{
  const TTDim& d = shape.getDim(dim);
  if (isShift)
    validateShift(dim, n);
  else if (d.getNumUnusedSlots() != 0 || !shape.isFirstNonDegenerateTileDim(dim))
    shape.reportError("Rotation is only supported when dim is the first non-trivial dimension "
                      "and it doesn't contain any unused slots.",
                      dim);
  // A complex-packed slot holds two consecutive values, which no slot rotation separates.
  if (d.getIsComplexPacked())
    shape.reportError("rotation/shift failed: complex-packed dimensions are not supported", dim);

  const int externalSize = d.getExternalSize();
  const int step = shape.getRotateOffsetOfDim(dim);
  CTileTensor res(*he);
  res.shape = shape;
  res.packed = true;
  if (n % externalSize != 0) {
    std::vector<int> destinations;
    std::vector<int> rotations;
    getTileRotationPlan(dim, n, destinations, rotations);
    res.tiles = permuteAndRotateTiles(destinations, rotations);
  } else {
    res.tiles = tiles;
    const int rotation = (n / externalSize) * step;
    for (size_t i = 0; i < res.tiles.size(); ++i)
      res.tiles[i].rotate(rotation);
  }
  res.updateShapeAfterShift(dim, n, isShift);
  commit(std::move(res));
}

void CTileTensor::getTileRotationPlan(int dim, int n, std::vector<int>& destinations,
                                      std::vector<int>& rotations) const
{
  const int externalSize = shape.getDim(dim).getExternalSize();
  const int step = shape.getRotateOffsetOfDim(dim);
  TensorIterator it(shape.getExternalSizes(), true);
  destinations.assign(it.getSize(), 0);
  rotations.assign(it.getSize(), 0);
  do {
    const int p = it.getPos();
    const int g = it.getIndex(dim);
    const int diff = g - n;
    it.setDimIndex(dim, MathUtils::mod(diff, externalSize));
    destinations[p] = it.getPos();
    it.setDimIndex(dim, g);
    const int h = diff >= 0 ? -(diff / externalSize)
                            : MathUtils::integerDivisionCeil(-diff, externalSize);
    rotations[p] = step * h;
  } while (it.next());
}

TileArray<CTile> CTileTensor::permuteAndRotateTiles(const std::vector<int>& destinations,
                                                    const std::vector<int>& rotations) const
{
  std::vector<std::shared_ptr<CTile>> moved(tiles.size());
  for (size_t p = 0; p < tiles.size(); ++p) {
    auto tile = std::make_shared<CTile>(tiles[p]);
    tile->rotate(rotations[p]);
    moved[destinations[p]] = std::move(tile);
  }
  return TileArray<CTile>(tiles.getExtents(), std::move(moved));
}

void CTileTensor::validateShift(int dim, int n) const
{
  std::string reason;
  if (n < 0)
    reason = "shift-right is not supported.";
  else if (n >= shape.getDim(dim).getOriginalSize())
    reason = "shift-left by an offset larger than the original size of \"dim\" is not supported.";
  if (!reason.empty())
    shape.reportError("shiftAlongDim(dim=" + std::to_string(dim) + ", shift=" +
                          std::to_string(n) + ") failed: " + reason,
                      dim);
}

void CTileTensor::updateShapeAfterShift(int dim, int n, bool isShift)
{
  if (!isShift)
    return;
  const TTDim& d = shape.getDim(dim);
  const int remaining = d.getOriginalSize() - n;
  if (d.isInterleaved() && remaining < d.getExternalSize())
    *this = getSlice(dim, 0, remaining);
  else
    shape.getDim(dim).setOriginalSize(remaining, true);
  // The values shifted in from beyond the end are arbitrary. A dimension of
  // tile size 1 cut to whole tiles has no unused slots to mark.
  shape.getDim(dim).setUnusedSlotsUnknown();
}

// ---- Sums ----

void CTileTensor::sumTilesOverDim(int dim)
{
  SectionTimer timer("CTileTensor::sumTilesOverDim");
  validatePacked();
  const TTDim& d = checkSumDim(shape, dim,
                               "Currently summing tiles over first or second dimensions of a "
                               "diagonal shape is not supported");
  if (d.getExternalSize() == 1)
    return;
  // Adding tiles would add pairs of values packed in one slot as if they were one value.
  if (d.getIsComplexPacked())
    shape.reportError(COMPLEX_SUM, dim);

  const std::vector<int> oldSizes = shape.getExternalSizes();
  TTShape newShape(shape);
  newShape.getDim(dim).setOriginalSize(d.getMaxUsedSlotsInTile(), false);
  const std::vector<int> newSizes = newShape.getExternalSizes();

  TensorIterator newIt(newSizes, true);
  std::vector<std::vector<int>> groups(newIt.getSize());
  TensorIterator oldIt(oldSizes, true);
  ProjectingTensorIteratorTarget projection(newIt);
  oldIt.setTarget(&projection);
  do
    groups[newIt.getPos()].push_back(oldIt.getPos());
  while (oldIt.next());

  std::vector<std::shared_ptr<CTile>> summed;
  summed.reserve(groups.size());
  for (const std::vector<int>& group : groups) {
    auto tile = std::make_shared<CTile>(tiles[group.front()]);
    for (size_t i = 1; i < group.size(); ++i)
      tile->add(tiles[group[i]]);
    summed.push_back(std::move(tile));
  }
  tiles.assignValues(TileArray<CTile>(newSizes, std::move(summed)));
  shape = std::move(newShape);
}

int CTileTensor::innerSumOverDim(int dim, int n, bool reverse)
{
  const int step = shape.getRotateOffsetOfDim(dim);
  const int window =
      n < 0 ? shape.getDim(dim).getTileSize() : static_cast<int>(MathUtils::roundUpToPowerOf2(n));
  transformTiles([&](CTile& t) { t.innerSum(step, step * window, reverse); });
  return window;
}

void CTileTensor::sumInTilesOverDim(int dim)
{
  SectionTimer timer("CTileTensor::sumInTilesOverDim");
  validatePacked();
  const TTDim& d = checkSumDim(shape, dim,
                               "Currently summing in tiles over first or second dimensions of a "
                               "diagonal shape is not supported");
  if (d.getNumDuplicated() > 1)
    shape.reportError("Sum operator not allowed on a duplicated dimension", dim);
  if (d.getExternalSize() > 1)
    shape.reportError("Dimension has external size larger than one. Sum over tiles first.", dim);
  if (d.getIsComplexPacked())
    shape.reportError(COMPLEX_SUM, dim);

  const bool first = shape.isFirstNonDegenerateTileDim(dim);
  if (d.getTileSize() == 1 || (d.getOriginalSize() == 1 && !first))
    return;
  TTShape newShape(shape);
  TTDim& summed = newShape.getDim(dim);
  summed.setOriginalSize(1, false);
  if (first)
    summed.setNumDuplicated(d.getTileSize()).setAreUnusedSlotsUnknown(false);
  else
    summed.setNumDuplicated(1).setAreUnusedSlotsUnknown(true);
  innerSumOverDim(dim, first ? -1 : d.getOriginalSize(), false);
  shape = std::move(newShape);
}

void CTileTensor::sumOverDim(int dim)
{
  SectionTimer timer("CTileTensor::sumOverDim");
  if (isFirstOrSecondOfDiagonal(shape, dim))
    shape.reportError("Currently summing over first or second dimensions of a diagonal shape is "
                      "not supported");
  validatePacked();
  applyAtomically([dim](CTileTensor& t) {
    t.sumTilesOverDim(dim);
    t.sumInTilesOverDim(dim);
  });
}

void CTileTensor::multiplyAndSum(const CTileTensor& other, int sumDim)
{
  applyMultiplyAndSum(other, sumDim, MULTIPLY_RAW, false);
}

void CTileTensor::multiplyPlainAndSum(const PTileTensor& plain, int sumDim)
{
  applyMultiplyAndSum(plain, sumDim, MULTIPLY_PLAIN_RAW, false);
}

void CTileTensor::applyMultiplyAndSum(const TileTensor& other, int sumDim,
                                      const ElementWise& product, bool callerIsOperand)
{
  // A plaintext product has nothing to relinearize.
  const bool relinearize = &product == &MULTIPLY_RAW;
  applyAtomically([&](CTileTensor& t) {
    t.applyElementWise(product, other, callerIsOperand);
    t.sumTilesOverDim(sumDim);
    if (relinearize)
      t.relinearize();
    t.rescale();
    t.sumInTilesOverDim(sumDim);
  });
}

CTileTensor CTileTensor::getSumOverDim(int dim) const
{
  return workOnCopy([dim](CTileTensor& t) { t.sumOverDim(dim); });
}

CTileTensor CTileTensor::getSumTilesOverDim(int dim) const
{
  return workOnCopy([dim](CTileTensor& t) { t.sumTilesOverDim(dim); });
}

CTileTensor CTileTensor::getMultiplyAndSum(const CTileTensor& other, int sumDim) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyAndSum(other, sumDim); });
}

CTileTensor CTileTensor::getMultiplyPlainAndSum(const PTileTensor& plain, int sumDim) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyPlainAndSum(plain, sumDim); });
}

void CTileTensor::multiplyAndSumTo(CTileTensor& target, int sumDim) const
{
  target.applyMultiplyAndSum(*this, sumDim, MULTIPLY_RAW, true);
}

} // namespace quorvane
