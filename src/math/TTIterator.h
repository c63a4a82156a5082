#ifndef QUORVANE_MATH_TTITERATOR_H
#define QUORVANE_MATH_TTITERATOR_H

#include <memory>
#include <ostream>
#include <vector>

#include "math/TensorIterator.h"
#include "math/TensorIteratorTarget.h"

namespace quorvane {

class TTShape;
class TTDiagUtils;

/// Walks the slots of the tiles of a tile tensor of a given shape and tells,
/// for every slot, which element of the tensor it holds (its flat index in the
/// tensor's values, dimension 0 fastest) or that it is unused. Tiles are
/// visited in flat-index order (dimension 0 fastest), the slots of a tile in
/// slot order (last dimension fastest).
///
/// Typical use: setTileFlatIndex (or nextTile), then next() over all slots,
/// or, for the used slots only, isUsedSlot() || nextUsedInTile() followed by
/// nextUsedInTile() until it returns false.
class TTIterator : public TensorIteratorTarget
{
public:
  /// Stands at tile 0, slot 0. The shape must be complete and outlive the iterator.
  explicit TTIterator(const TTShape& shape);
  ~TTIterator() override;

  /// Receives the in-tile iterator's index changes.
  void setDimIndex(int dim, int value) override;

  /// Moves to the next slot of the tile, used or not; false after the last
  /// slot, standing at the tile's first slot again.
  bool next();
  /// Moves to the next used slot of the tile; false when none remains,
  /// standing at the tile's first slot again.
  bool nextUsedInTile();
  /// Moves to the first slot of the next tile; false after the last tile,
  /// standing at the first slot of tile 0 again.
  bool nextTile();
  /// Moves to the first slot of the tile with the given flat index.
  void setTileFlatIndex(int i);

  /// Whether the current slot holds an element.
  bool isUsedSlot() const { return numInvalid == 0; }
  /// The slot's index inside its tile.
  int getSlotIndex() const { return inTileIterator.getPos(); }
  /// The current tile's flat index.
  int getTileFlatIndex() const { return tileIterator.getPos(); }
  /// The flat index of the current element in the tensor's values.
  int getOriginalFlatIndex() const { return originalIterator.getPos(); }
  /// The flat index of the imaginary partner of the current value.
  int getImagFlatIndex() const { return originalIterator.getPos() + complexStride; }
  /// The number of dimensions whose current logical index is out of range.
  int getNumInvalid() const { return numInvalid; }
  /// The number of those whose unused slots are unknown.
  int getNumUnknowns() const { return numUnknowns; }
  /// The logical index of the current slot in each dimension.
  const std::vector<int>& getLogicalCurrent() const { return logicalCurrent; }

  /// The shape, the three underlying iterators and the logical state.
  void print(std::ostream& out) const;

private:
  struct DimInfo
  {
    int originalSize;
    int externalSize;
    bool interleaved;
    bool complexPacked;
    bool unknowns;
  };

  TensorIterator inTileIterator;
  TensorIterator tileIterator;
  std::vector<int> logicalBounds;
  std::vector<int> logicalAtTileStart;
  std::vector<int> logicalCurrent;
  std::vector<bool> logicalValid;
  int numInvalid = 0;
  int numUnknowns = 0;
  int complexStride = 0;
  bool diagonalized = false;
  TensorIterator originalIterator;
  const TTShape& shape;
  std::shared_ptr<TTDiagUtils> diagUtils;
  std::vector<DimInfo> dimInfo;

  /// Records a logical index (in slots; doubled for a complex-packed dimension).
  void setLogicalIndex(int dim, int value);
  /// Puts the logical state at the current tile's first slot, whether used or not.
  void resetToTileStart();
};

std::ostream& operator<<(std::ostream& out, const TTIterator& it);

} // namespace quorvane

#endif
