#ifndef QUORVANE_MATH_TILETENSOR_H
#define QUORVANE_MATH_TILETENSOR_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hebase/DeviceType.h"
#include "hebase/utils/Saveable.h"
#include "math/TensorIterator.h"
#include "math/TTShape.h"

namespace quorvane {

class CTileTensor;
class HeContext;
class Tile;

/// Lazy mode of a plaintext tile tensor that keeps its values and encodes its
/// tiles when woken up.
constexpr int LAZY_ENCODING = 1;

/// A tensor packed into tiles by a tile-tensor shape: the base of the
/// ciphertext kind (CTileTensor) and the plaintext kind (PTileTensor). The
/// tiles form an array whose extents are the shape's external sizes, dimension
/// 0 varying fastest.
class TileTensor : public Saveable
{
public:
  ~TileTensor() override;

  // ---- Tiles ----

  /// The strides of the tile array.
  virtual std::vector<size_t> getIndexStrides() const = 0;
  /// The tile at the flat index, writable; refused outside the array.
  virtual Tile& getMutableTile(int flatIndex) = 0;
  /// The number of tiles; refuses an unpacked tensor.
  virtual int getNumUsedTiles() const;
  /// The tile at the tile indices (getTileFlatIndex).
  virtual const Tile& getTileAt(const std::vector<int>& indices) const;
  /// The tile at the flat index; refused outside the array.
  virtual const Tile& getTileByFlatIndex(int flatIndex) const = 0;
  /// Shared ownership of the tile at the flat index: it stays valid whatever
  /// later happens to this tensor.
  virtual std::shared_ptr<Tile> getSharedTile(int flatIndex) = 0;

  // ---- Element-wise operations with a ciphertext tile tensor ----

  /// This times other, as a new ciphertext tile tensor.
  virtual CTileTensor getMultiply(const CTileTensor& other) const = 0;
  virtual CTileTensor getMultiplyRaw(const CTileTensor& other) const = 0;
  /// This plus other, as a new ciphertext tile tensor.
  virtual CTileTensor getAdd(const CTileTensor& other) const = 0;
  /// target += this.
  virtual void addTo(CTileTensor& target) const = 0;
  virtual void addToRaw(CTileTensor& target) const = 0;
  /// target -= this.
  virtual void subFrom(CTileTensor& target) const = 0;
  virtual void subFromRaw(CTileTensor& target) const = 0;
  /// target *= this.
  virtual void multiplyTo(CTileTensor& target) const = 0;
  virtual void multiplyToRaw(CTileTensor& target) const = 0;
  virtual CTileTensor getAddRaw(const CTileTensor& other) const = 0;

  /// Checks that every slot holds what the shape says it holds (the element
  /// for a used slot, 0 for an unused slot whose content is known); returns
  /// the largest difference, refuses one above epsilon.
  virtual double assertIntegrity(double epsilon) const = 0;

  /// This times other, summed over sumDim (CTileTensor::multiplyAndSum), as a
  /// new ciphertext tile tensor.
  virtual CTileTensor getMultiplyAndSum(const CTileTensor& other, int sumDim) const = 0;
  /// target = target times this, summed over sumDim.
  virtual void multiplyAndSumTo(CTileTensor& target, int sumDim) const = 0;

  /// The chain index of the tiles, read off tile 0 (which must hold values).
  virtual int getChainIndex() const = 0;
  /// Moves every tile to the device; refuses an unpacked tensor.
  virtual void toDevice(DeviceType device);
  /// The device of tile 0 (which must hold values).
  virtual DeviceType getCurrentDevice() const;

  /// Encodes a lazily encoded tensor's tiles.
  virtual void wakeup() = 0;
  /// Drops a lazily encoded tensor's tiles.
  virtual void sleep() = 0;
  /// Stores the chain index at which a lazy tensor is encoded.
  virtual void setLazyChainIndex(int chainIndex);

  /// Refuses a packed tensor holding an empty tile (checkTilesHoldValues).
  void checkSavable() const override;

  // ---- Common state ----

  /// How an operation names the tensor it was called on.
  static constexpr const char* THIS_TENSOR = "this tile tensor";
  /// How an operation names its tile-tensor operand.
  static constexpr const char* OTHER_TENSOR = "the other tile tensor";

  /// The shape.
  const TTShape& getShape() const { return shape; }
  bool isPacked() const { return packed; }
  /// Refuses an unpacked tensor, lazy or not (std::runtime_error "This tile
  /// tensor has not been packed"), then validates the shape and the tile array
  /// against it, and checks that every tile holds values (checkTilesHoldValues).
  void validatePacked() const;
  /// Refuses (std::runtime_error "Tile <i> of <tensorName> is empty: it holds
  /// no values") the first tile of a packed tensor, in flat-index order, that
  /// holds no values; an unpacked tensor has no tiles to check.
  void checkTilesHoldValues(const char* tensorName = THIS_TENSOR) const;
  /// The flat index of the first tile that holds no values; -1 when every
  /// tile holds values or the tensor is unpacked. Refuses a packed tensor
  /// whose tile array does not match its shape.
  int findEmptyTile() const;
  /// Throws std::runtime_error "Tile <flatIndex> of <tensorName> is empty: it
  /// holds no values".
  [[noreturn]] static void throwEmptyTile(int flatIndex, const std::string& tensorName);
  /// The tile at the tile indices, writable.
  Tile& getTileAt(const std::vector<int>& indices);
  /// Tile indices to a flat index, column-major over the shape's external
  /// sizes; refuses indices outside them. The tile accessors then check the
  /// flat index against the tile array itself.
  int getTileFlatIndex(const std::vector<int>& indices) const;
  /// An iterator over the external sizes, dimension 0 fastest, at the first tile.
  TensorIterator getTileIterator() const;
  /// The number of tiles times tile 0's estimate; 0 without tiles; -1 when
  /// unpacked or when the backend makes no estimate. Refuses an empty tile 0.
  int64_t getEstimatedMemoryUsageBytes() const;
  int getLazyMode() const { return lazyMode; }
  void setLazyMode(int mode) { lazyMode = mode; }
  int getLazyChainIndex() const { return lazyChainIndex; }

protected:
  TileTensor();
  TileTensor(const TileTensor&) = default;
  TileTensor(TileTensor&&) = default;
  TileTensor& operator=(const TileTensor&) = default;
  TileTensor& operator=(TileTensor&&) = default;

  bool packed = false;
  TTShape shape;
  int32_t lazyMode = 0;
  int32_t lazyChainIndex = 0;

  /// The first words of a print: the kind and title, the shape, the lazy mode
  /// when lazy, and " packed=" with 1 or 0.
  void printHeadline(std::ostream& out, const std::string& kind, const std::string& title) const;
  /// "Tile Tensor Tiles:" and every tile (its indices, then its own print),
  /// at VERBOSITY_EXTRA_DETAILED when asked, VERBOSITY_REGULAR otherwise.
  void printTiles(std::ostream& out, Verbosity verbosity) const;
  /// The number of tiles the tile array holds (for a consistent packed tensor,
  /// the shape's tile count).
  virtual size_t getTileArraySize() const = 0;
  /// What validatePacked checks but the tiles' values: refuses an unpacked
  /// tensor, an invalid shape and a tile array that does not match the shape.
  /// Reads no tile, so a query reading one tile stays constant-time.
  void validatePackedShape() const;
  /// Refuses (std::runtime_error) a packed tensor whose tile array holds
  /// another number of tiles than its shape has.
  void checkTileArray() const;
  /// Refuses tile flatIndex when it holds no values (throwEmptyTile).
  void checkTileHoldsValues(int flatIndex, const char* tensorName = THIS_TENSOR) const;
  /// Refuses a flat index outside [0, count) through the shape's reportError.
  void checkFlatIndex(int flatIndex, size_t count) const;
  /// Refuses an incomplete shape, and one TTShape::validateForAllocation
  /// refuses, before anything is built for it.
  static void checkConstructibleShape(const TTShape& shape);
  /// Refuses (std::runtime_error naming the class) a loaded shape that cannot
  /// hold tiles of the context: no dimensions, incomplete, another slot count,
  /// more tiles than a saved count may hold.
  static void checkLoadedShape(const TTShape& shape, const HeContext& he,
                               const std::string& className);
  /// Refuses (std::runtime_error naming the class and the flat index) a
  /// loaded tile of a packed tensor that holds no values.
  static void checkLoadedTile(const Tile& tile, int flatIndex, const std::string& className);

  // ---- An operation called on one tensor with another as its argument ----
  // The refusals name the tensors as the caller sees them, whichever of the
  // two carries the operation out (double dispatch: x.addTo(y) runs y += x).

  /// Refuses an argument of another context.
  void checkSameContext(const TileTensor& other) const;
  /// What validatePackedShape checks, for the argument of an operation: an
  /// unpacked tensor is refused with std::invalid_argument "Other has not been
  /// encoded yet".
  void validateArgumentShape() const;
  /// The checks of an element-wise operation called on self with the argument
  /// other: self packed (validatePacked), other packed (validateArgumentShape),
  /// both of one context, every tile of other holding values.
  static void checkOperands(const TileTensor& self, const TileTensor& other);
  /// The chain index of other, the argument of setChainIndex, read as its own
  /// getChainIndex reads it (a lazy tensor's lazy chain index); other is
  /// refused, as the argument, when unpacked or holding an empty tile.
  static int getArgumentChainIndex(const TileTensor& other);
};

} // namespace quorvane

#endif
