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
/// arbitrary source ciphertexts. The mapping names, for every destination
/// element to fill, the source tile and slot that hold its value; every other
/// slot is 0. Values move by rotating each source tile once per distinct
/// offset, masking the rotated copy down to the slots of each destination tile
/// and adding it there, so the data stays encrypted.
class TTPermutator
{
public:
  /// Destination coordinates (duplicates counted as coordinates of their
  /// dimension) to (source tile index, slot).
  using Mapping = std::map<std::vector<int>, std::pair<int, int>>;

  /// Validates the shape and the mapping and plans the moves; nothing is
  /// computed on ciphertexts but the zero tile (and, under automatic
  /// bootstrapping, bootstrapped copies of sources at the minimal chain index
  /// for bootstrapping). The caller's tiles are never changed. Every moved
  /// value is multiplied by maskValue. Duplicates of a fully duplicated
  /// dimension that the mapping does not define are filled from coordinate 0.
  TTPermutator(const std::vector<std::shared_ptr<CTile>>& srcTiles, const Mapping& mapping,
               const TTShape& destShape, double maskValue);

  /// Fills res (of the sources' context) with the destination tensor; res
  /// changes only when the whole tensor is built.
  void getPermutation(CTileTensor& res) const;

  /// Multiplies res by a mask holding maskValue at the indexes and 0 elsewhere;
  /// nothing is done for all slots and a mask value of 1.
  void applyMask(CTile& res, const std::set<int>& indexes) const;

  /// Column-major flat index of the coordinates.
  static int cordsToFlat(const std::vector<int>& dimSizes, const std::vector<int>& cords);

private:
  const HeContext& he;
  std::vector<std::shared_ptr<CTile>> srcTiles;
  TTShape destShape;
  /// The destination's original sizes with duplications.
  std::vector<int> destDimSizes;
  /// Per destination element (column-major over destDimSizes): (tile flat index, slot).
  std::vector<std::pair<int, int>> destLocations;
  double maskValue;
  /// Every destination tile starts as a copy of it.
  CTile zeroTile;
  /// (source tile, rotation offset) to destination tile to destination slots.
  std::map<std::pair<int, int>, std::map<int, std::set<int>>> plan;

  void validateShapes() const;
  /// Checks the duplicated dimensions; returns the mapping completed with the
  /// duplicates it leaves to coordinate 0.
  Mapping validateDuplications(const Mapping& mapping) const;
  bool mappingDefinesDuplicates(const Mapping& mapping) const;
  bool hasPartiallyDuplicatedDims() const;
  void computeDestLocations();
  void addToPlan(const std::vector<int>& cords, const std::pair<int, int>& source);
  void bootstrapSourcesIfNeeded();
  void initZeroTile();
  bool isMaskNeeded(const std::set<int>& indexes) const;
};

} // namespace quorvane

#endif
