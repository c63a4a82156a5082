#ifndef QUORVANE_MATH_TTCOMPLEXPACKUTILS_H
#define QUORVANE_MATH_TTCOMPLEXPACKUTILS_H

#include <memory>
#include <vector>

#include "math/TTDim.h"

namespace quorvane {

class DoubleTensor;
class Encoder;
class PTile;
class PTileTensor;
class TTShape;

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

  /// Encodes the tiles of a shape with one complex-packed dimension: a used
  /// slot holds the value and its partner along that dimension as real and
  /// imaginary parts (the value twice along a duplicated one). Without
  /// gathering every tile is encoded from an empty vector.
  static std::vector<std::shared_ptr<PTile>> encode(const TTShape& shape, const DoubleTensor& vals,
                                                    const Encoder& encoder, int chainIndex,
                                                    bool gather);

  /// Writes the values of every used slot of src into res (of the shape's original sizes).
  static void decode(DoubleTensor& res, const PTileTensor& src, const Encoder& encoder);
};

} // namespace quorvane

#endif
