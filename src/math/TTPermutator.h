#ifndef QUORVANE_MATH_TTPERMUTATOR_H
#define QUORVANE_MATH_TTPERMUTATOR_H

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "math/TTShape.h"

namespace quorvane {

class CTileTensor;
class HeContext;

/// Builds a ciphertext tile tensor of a destination shape out of slots of
/// arbitrary source tiles. For every destination element to fill, the mapping
/// names a source tile and a slot; each source tile is rotated once per
/// distinct offset the mapping needs, and each rotated copy is masked down to
/// the slots of each destination tile and added there. Elements left out of
/// the mapping hold 0.
class TTPermutator
{
public:
  /// Destination coordinates (one per dimension, duplicate copies counted as
  /// coordinates of their dimension) to (source tile index, slot).
  using Mapping = std::map<std::vector<int>, std::pair<int, int>>;

  /// Validates the sources, the destination shape and the mapping, and plans
  /// the moves; every moved value is multiplied by maskValue. Refuses (before
  /// any ciphertext work) a null, empty or foreign source tile, coordinates
  /// outside the destination's sizes (with duplications), source tile indexes
  /// and slots out of range (std::out_of_range), and inconsistent duplicates.
  /// Duplicates of a fully duplicated dimension that the mapping leaves out
  /// are copied from coordinate 0. Under automatic bootstrapping, sources at
  /// the minimal chain index for bootstrapping are bootstrapped once here when
  /// some move is masked; the caller's tiles are never changed.
  TTPermutator(const std::vector<std::shared_ptr<CTile>>& srcTiles, const Mapping& mapping,
               const TTShape& destShape, double maskValue);

  /// Fills res (a tensor of the same context) with the destination tensor;
  /// res changes only when the whole result is built.
  void getPermutation(CTileTensor& res) const;

  /// Multiplies res by a mask holding maskValue at the indexes and 0
  /// elsewhere; nothing when the indexes cover every slot and maskValue is 1.
  void applyMask(CTile& res, const std::set<int>& indexes) const;

  /// Column-major flat index of the coordinates in a tensor of the sizes.
  static int cordsToFlat(const std::vector<int>& dimSizes, const std::vector<int>& cords);

private:
  const HeContext& he;
  std::vector<std::shared_ptr<CTile>> srcTiles;
  TTShape destShape;
  std::vector<int> destDimSizes;
  /// Per destination element (flat index over destDimSizes): tile and slot.
  std::vector<std::pair<int, int>> destLocations;
  double maskValue;
  bool duplicateAfter = false;
  CTile zeroTile;
  /// (source tile, rotation) -> destination tile -> destination slots.
  std::map<std::pair<int, int>, std::map<int, std::set<int>>> plan;

  void validateSources() const;
  void validateShapes() const;
  void validateMapping(const Mapping& mapping) const;
  void validateDuplications(const Mapping& mapping);
  bool mappingDefinesDuplicates(const Mapping& mapping) const;
  bool hasPartiallyDuplicatedDims() const;
  void computeDestLocations();
  void addToPlan(const std::vector<int>& cords, int srcTile, int srcSlot);
  void bootstrapSourcesIfNeeded();
  void initZeroTile();
  bool isUnitMask() const;
};

} // namespace quorvane

#endif
