#include "math/TTComplexPackUtils.h"

#include <complex>
#include <stdexcept>

#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/utils/Assert.h"
#include "math/DoubleTensor.h"
#include "math/PTileTensor.h"
#include "math/TTIterator.h"
#include "math/TTShape.h"

namespace quorvane {

void TTComplexPackUtils::validateParity(const TTDim& dim)
{
  if (!dim.getIsComplexPacked())
    return;
  const int numDuplicated = dim.getNumDuplicated();
  const int originalSize = dim.getOriginalSize();
  if (numDuplicated == 1 && originalSize > 0 && originalSize % 2 != 0)
    throw std::invalid_argument("complex-packing currently supports only even number of values");
  if (numDuplicated > 1 && numDuplicated % 2 != 0)
    throw std::invalid_argument(
        "complex-packing currently supports only even number of duplicated values");
}

void TTComplexPackUtils::validate(const TTDim& dim)
{
  if (dim.getIsComplexPacked() && dim.isInterleaved())
    throw std::invalid_argument("complex-packing currently does not support the interleaved mode");
}

bool TTComplexPackUtils::isCompatible(const TTDim& a, const TTDim& b, ActionType actionType)
{
  const bool ac = a.getIsComplexPacked();
  const bool bc = b.getIsComplexPacked();
  if (!ac && !bc)
    return true;
  switch (actionType) {
  case ADDITIVE_ACTION_TYPE:
    return ac && bc;
  case MULTIPLICATIVE_ACTION_TYPE:
    if (ac && !bc)
      return a.getNumDuplicated() <= 1 && b.isFullyDuplicated();
    if (bc && !ac)
      return b.getNumDuplicated() <= 1 && a.isFullyDuplicated();
    return false;
  default:
    return false;
  }
}

std::vector<std::shared_ptr<PTile>> TTComplexPackUtils::encode(const TTShape& shape,
                                                               const DoubleTensor& vals,
                                                               const Encoder& encoder,
                                                               int chainIndex, bool gather)
{
  const int cdim = shape.getComplexPackedDim();
  QV_ASSERT(cdim >= 0);
  const bool duplicated = shape.getDim(cdim).getNumDuplicated() > 1;
  const int count = shape.getNumUsedTiles();
  const double* values = vals.data();
  std::vector<std::shared_ptr<PTile>> tiles;
  tiles.reserve(count);
  TTIterator it(shape);
  for (int t = 0; t < count; ++t) {
    std::vector<std::complex<double>> slots;
    if (gather) {
      slots.assign(shape.getNumSlotsInTile(), 0);
      it.setTileFlatIndex(t);
      do {
        if (!it.isUsedSlot())
          continue;
        const double real = values[it.getOriginalFlatIndex()];
        slots[it.getSlotIndex()] =
            std::complex<double>(real, duplicated ? real : values[it.getImagFlatIndex()]);
      } while (it.next());
    }
    auto tile = std::make_shared<PTile>(encoder.getHeContext());
    encoder.encode(*tile, slots, chainIndex);
    tiles.push_back(std::move(tile));
  }
  return tiles;
}

void TTComplexPackUtils::decode(DoubleTensor& res, const PTileTensor& src, const Encoder& encoder)
{
  const TTShape& shape = src.getShape();
  const int cdim = shape.getComplexPackedDim();
  QV_ASSERT(cdim >= 0);
  const bool duplicated = shape.getDim(cdim).getNumDuplicated() > 1;
  double* values = res.data();
  TTIterator it(shape);
  const int count = shape.getNumUsedTiles();
  for (int t = 0; t < count; ++t) {
    const std::vector<std::complex<double>> slots = encoder.decodeComplex(src.getTile(t));
    it.setTileFlatIndex(t);
    for (bool used = it.isUsedSlot() || it.nextUsedInTile(); used; used = it.nextUsedInTile()) {
      const std::complex<double> slot = slots[it.getSlotIndex()];
      values[it.getOriginalFlatIndex()] = slot.real();
      if (!duplicated)
        values[it.getImagFlatIndex()] = slot.imag();
    }
  }
}

} // namespace quorvane
