#include "math/TTIterator.h"

#include "hebase/utils/Assert.h"
#include "math/TTDiagUtils.h"
#include "math/TTShape.h"

namespace quorvane {

TTIterator::TTIterator(const TTShape& shape)
    : inTileIterator(shape.getTileSizes(), false), tileIterator(shape.getExternalSizes(), true),
      logicalBounds(shape.getNumDims(), 0), logicalAtTileStart(shape.getNumDims(), 0),
      logicalCurrent(shape.getNumDims(), 0), logicalValid(shape.getNumDims(), true),
      originalIterator(shape.getOriginalSizes(), true), shape(shape)
{
  QV_ASSERT(!shape.isIncomplete());
  const int order = shape.getNumDims();
  dimInfo.reserve(order);
  for (int i = 0; i < order; ++i) {
    const TTDim& dim = shape.getDim(i);
    logicalBounds[i] = dim.getNumDuplicated() > 1 ? dim.getNumDuplicated() : dim.getOriginalSize();
    dimInfo.push_back({dim.getOriginalSize(), dim.getExternalSize(), dim.isInterleaved(),
                       dim.getIsComplexPacked(), dim.getAreUnusedSlotsUnknown()});
  }
  const int complexDim = shape.getComplexPackedDim();
  if (complexDim >= 0)
    complexStride = originalIterator.getStrides()[complexDim];
  if (shape.isDiagonalized()) {
    diagUtils = std::make_shared<TTDiagUtils>(shape);
    diagonalized = true;
  }
  resetToTileStart();
}

TTIterator::~TTIterator() {}

void TTIterator::setLogicalIndex(int dim, int value)
{
  const DimInfo& info = dimInfo[dim];
  if (info.complexPacked)
    value *= 2;
  if (value == logicalCurrent[dim])
    return;
  logicalCurrent[dim] = value;
  const bool valid = value < logicalBounds[dim];
  if (valid != logicalValid[dim]) {
    logicalValid[dim] = valid;
    const int delta = valid ? -1 : 1;
    numInvalid += delta;
    if (info.unknowns)
      numUnknowns += delta;
  }
  if (valid && info.originalSize > 1)
    originalIterator.setDimIndex(dim, value);
}

void TTIterator::setDimIndex(int dim, int value)
{
  if (diagonalized && dim <= 1) {
    const auto logical = diagUtils->getLogicalIndex(
        logicalAtTileStart[0], logicalAtTileStart[1], tileIterator.getIndex(0),
        tileIterator.getIndex(1), inTileIterator.getIndex(0), inTileIterator.getIndex(1));
    setLogicalIndex(0, logical.first);
    setLogicalIndex(1, logical.second);
    return;
  }
  const DimInfo& info = dimInfo[dim];
  setLogicalIndex(dim, logicalAtTileStart[dim] + value * (info.interleaved ? info.externalSize : 1));
}

void TTIterator::resetToTileStart()
{
  // The state is rebuilt from scratch below, so the reset's reports are not needed.
  inTileIterator.setTarget(nullptr);
  inTileIterator.reset();
  const int order = static_cast<int>(dimInfo.size());
  for (int i = 0; i < order; ++i) {
    const int tileIndex = tileIterator.getIndex(i);
    logicalAtTileStart[i] =
        dimInfo[i].interleaved ? tileIndex : inTileIterator.getDims()[i] * tileIndex;
  }
  if (diagonalized) {
    const auto start = diagUtils->getTileStart(tileIterator.getIndex(0), tileIterator.getIndex(1));
    logicalAtTileStart[0] = start.first;
    logicalAtTileStart[1] = start.second;
  }
  // The state is rebuilt from scratch, so a tile whose first slot is unused
  // (an interleaved dimension with a raised external size) is handled too.
  numInvalid = 0;
  numUnknowns = 0;
  for (int i = 0; i < order; ++i) {
    const DimInfo& info = dimInfo[i];
    const int value = info.complexPacked ? 2 * logicalAtTileStart[i] : logicalAtTileStart[i];
    logicalCurrent[i] = value;
    const bool valid = value < logicalBounds[i];
    logicalValid[i] = valid;
    if (!valid) {
      ++numInvalid;
      if (info.unknowns)
        ++numUnknowns;
    } else if (info.originalSize > 1) {
      originalIterator.setDimIndex(i, value);
    }
  }
  // Reports the in-tile indices (all 0), which match the state just built.
  inTileIterator.setTarget(this);
}

bool TTIterator::next()
{
  return inTileIterator.next();
}

bool TTIterator::nextUsedInTile()
{
  // Diagonal packing is not monotonic inside a tile, and an unused starting
  // slot gives no valid index to return to: scan slot by slot.
  if (diagonalized || numInvalid > 0) {
    while (inTileIterator.next())
      if (numInvalid == 0)
        return true;
    return false;
  }
  // Validity along one dimension is monotonic inside a tile, so the unused
  // tail of a dimension is skipped at once.
  for (int i = inTileIterator.getOrder() - 1; i >= 0; --i) {
    if (!inTileIterator.nextInDim(i))
      continue;
    if (logicalValid[i])
      return true;
    inTileIterator.setDimIndex(i, 0);
    QV_ASSERT(logicalValid[i]);
  }
  return false;
}

bool TTIterator::nextTile()
{
  const bool advanced = tileIterator.next();
  resetToTileStart();
  return advanced;
}

void TTIterator::setTileFlatIndex(int i)
{
  QV_ASSERT(i >= 0 && i < tileIterator.getSize());
  tileIterator.setFlatIndex(i);
  resetToTileStart();
}

void TTIterator::print(std::ostream& out) const
{
  out << "Tile tensor iterator: Shape=" << shape << std::endl;
  out << "    Internal: " << inTileIterator << std::endl;
  out << "    External: " << tileIterator << std::endl;
  out << "    Original: " << originalIterator << std::endl;
  out << "    logical at tile start:" << logicalAtTileStart << std::endl;
  out << "    logical current: " << logicalCurrent << std::endl;
  out << "    logical valid:";
  for (bool valid : logicalValid)
    out << " " << (valid ? "T" : "F");
  out << std::endl;
  out << "    invalid/unknowns: " << numInvalid << " / " << numUnknowns << std::endl;
}

std::ostream& operator<<(std::ostream& out, const TTIterator& it)
{
  it.print(out);
  return out;
}

} // namespace quorvane
