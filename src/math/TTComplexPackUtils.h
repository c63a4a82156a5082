#ifndef QUORVANE_MATH_TTCOMPLEXPACKUTILS_H
#define QUORVANE_MATH_TTCOMPLEXPACKUTILS_H

#include "math/TTDim.h"

namespace quorvane {

/// Rules of complex packing, in which two consecutive values of a dimension
/// share one slot as its real and imaginary parts.
class TTComplexPackUtils
{
public:
  /// Refuses an odd number of values (or of duplicated values) of a
  /// complex-packed dimension; reads the fields only.
  static void validateParity(const TTDim& dim);

  /// The complex-packing rule of a dimension: refuses interleaving.
  static void validate(const TTDim& dim);

  /// Whether two dimensions, at least one complex-packed, may be combined by an
  /// operation of the kind; true when neither is complex-packed.
  static bool isCompatible(const TTDim& a, const TTDim& b, ActionType actionType);
};

} // namespace quorvane

#endif
