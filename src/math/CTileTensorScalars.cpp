// Scalar operations of CTileTensor and the plaintext masks they use.

#include <utility>

#include "hebase/HeContext.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"

namespace quorvane {

PTileTensor CTileTensor::getPlainScalarMask(double value) const
{
  SectionTimer timer("CTileTensor::getPlainScalarMask");
  validatePacked();
  TTShape maskShape(shape);
  maskShape.clearUnknowns();
  DoubleTensor values(maskShape.getOriginalSizes());
  values.fill(value);
  PTileTensor mask(*he);
  TTEncoder(*he, 0).encode(mask, maskShape, values, getChainIndex());
  return mask;
}

void CTileTensor::multiplyScalar(double value)
{
  SectionTimer timer("CTileTensor::multiplyScalar");
  validatePacked();
  multiplyPlain(getPlainScalarMask(value));
}

void CTileTensor::clearUnknowns()
{
  SectionTimer timer("CTileTensor::clearUnknowns");
  validatePacked();
  if (shape.containsUnknownUnusedSlots())
    multiplyScalar(1.0);
}

void CTileTensor::addScalar(double value, bool keepUnknownsClear)
{
  SectionTimer timer("CTileTensor::addScalar");
  validatePacked();
  // A tile's scalar addition reaches the real parts only; along a complex-packed
  // dimension the mask holds the value in both parts of every used slot.
  if (keepUnknownsClear || shape.getComplexPackedDim() >= 0) {
    addPlain(getPlainScalarMask(value));
    if (!keepUnknownsClear)
      shape.setAllUnusedSlotsUnknown();
    return;
  }
  TTShape newShape(shape);
  newShape.setAllUnusedSlotsUnknown();
  transformTiles([value](CTile& t) { t.addScalar(value); });
  shape = std::move(newShape);
}

CTileTensor CTileTensor::getAddScalar(double value) const
{
  return workOnCopy([&](CTileTensor& t) { t.addScalar(value, false); });
}

CTileTensor CTileTensor::getMultiplyScalar(double value) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyScalar(value); });
}

CTileTensor CTileTensor::getClearUnknowns() const
{
  return workOnCopy([&](CTileTensor& t) { t.clearUnknowns(); });
}

} // namespace quorvane
