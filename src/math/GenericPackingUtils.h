#ifndef QUORVANE_MATH_GENERICPACKINGUTILS_H
#define QUORVANE_MATH_GENERICPACKINGUTILS_H

#include <cstdint>
#include <optional>
#include <vector>

#include "math/TTShape.h"

namespace quorvane {

class HeContext;

/// How a tensor is packed when nothing is known of the computation to come.
enum GenericPackingOption : int32_t
{
  /// Use as few ciphertexts as possible.
  LOW_SPACE = 0,
  /// The elements of the batch dimension lie in tiles of their own.
  SEPERATE_ELEMENTS = 1,
  /// The batch dimension alone fills the tiles' slots.
  BATCH_PACKING = 2
};

/// The option and, for SEPERATE_ELEMENTS and BATCH_PACKING, the batch dimension.
struct GenericPackingConfig
{
  GenericPackingOption option = LOW_SPACE;
  std::optional<int> batchDim;
};

/// Chooses the shape and chain index of generic packing.
class GenericPackingUtils
{
public:
  /// Tile sizes for a tensor of the plain shape: the batch dimension alone for
  /// BATCH_PACKING; otherwise the slots are doubled one dimension at a time,
  /// preferring dimensions that still fill twice their tile size (trailing
  /// dimensions of size 1, and the batch dimension for SEPERATE_ELEMENTS, keep
  /// tile size 1). The original sizes are left incomplete.
  static TTShape getShape(const std::vector<int>& plainShape, const GenericPackingConfig& config,
                          int slotCount);

  /// The multiplication depth of a context that does not bootstrap; otherwise
  /// one above its minimal chain index for bootstrapping.
  static int getChainIndex(const HeContext& he);
};

} // namespace quorvane

#endif
