#include "math/TTComplexPackUtils.h"

#include <stdexcept>

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

} // namespace quorvane
