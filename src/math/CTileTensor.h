#ifndef QUORVANE_MATH_CTILETENSOR_H
#define QUORVANE_MATH_CTILETENSOR_H

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hebase/CTile.h"
#include "math/TileArray.h"
#include "math/TileTensor.h"

namespace quorvane {

class HeContext;
class PTileTensor;
class SaveableHeader;

/// A tensor packed into ciphertext tiles (CTile) by a tile-tensor shape.
///
/// Operations change the tensor in place; most have a returning twin named
/// get... that works on a copy. An operation that fails (a refused operand, a
/// tile operation that throws) leaves the tensor as it was: tiles are computed
/// into new tiles and committed together with the new shape.
///
/// The operations are spread over several sources: construction, tile access,
/// the element-wise engine and persistence (CTileTensor.cpp), arithmetic and
/// chain indexes (CTileTensorArithmetic.cpp), scalars and masks
/// (CTileTensorScalars.cpp) and printing (CTileTensorPrinting.cpp).
class CTileTensor : public TileTensor
{
public:
  /// A tile operation taking the operand tile (ciphertext or plaintext).
  using TileOperation = void (CTile::*)(const Tile&);
  /// A tile function taking the target tile and the operand tile.
  using TileFunction = std::function<void(CTile&, const Tile&)>;

  /// An empty, unpacked tensor of the context.
  explicit CTileTensor(const HeContext& he);
  /// An unpacked tensor of the shape with empty tiles; refuses an incomplete shape.
  CTileTensor(const HeContext& he, const TTShape& shape);
  /// Deep copy: every ciphertext is cloned.
  CTileTensor(const CTileTensor& src);
  CTileTensor(CTileTensor&& src) noexcept;
  CTileTensor& operator=(const CTileTensor& src);
  CTileTensor& operator=(CTileTensor&& src) noexcept;
  ~CTileTensor() override;

  /// Builds a tensor of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  /// The kind, the title, the shape, chain index, scale, tile count and memory;
  /// from VERBOSITY_REGULAR the decrypted content, from VERBOSITY_DETAILED the tiles.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  int32_t getContextId() const override;
  /// The packed flag; when packed, the shape and every tile.
  void saveImpl(std::ostream& out) const override;
  /// Reads what saveImpl wrote into a new tensor and takes it when all is read.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;

  std::vector<size_t> getIndexStrides() const override;
  Tile& getMutableTile(int flatIndex) override;
  const Tile& getTileByFlatIndex(int flatIndex) const override;
  std::shared_ptr<Tile> getSharedTile(int flatIndex) override;
  CTileTensor getMultiply(const CTileTensor& other) const override;
  CTileTensor getMultiplyRaw(const CTileTensor& other) const override;
  CTileTensor getAdd(const CTileTensor& other) const override;
  CTileTensor getAddRaw(const CTileTensor& other) const override;
  void addTo(CTileTensor& target) const override;
  void addToRaw(CTileTensor& target) const override;
  void subFrom(CTileTensor& target) const override;
  void subFromRaw(CTileTensor& target) const override;
  void multiplyTo(CTileTensor& target) const override;
  void multiplyToRaw(CTileTensor& target) const override;
  /// 1.0 when unpacked; otherwise the integrity check of the decrypted tensor.
  double assertIntegrity(double epsilon) const override;
  int getChainIndex() const override;
  /// Refused: a ciphertext tile tensor is never lazy.
  void wakeup() override;
  void sleep() override;

  const HeContext& getHeContext() const { return *he; }
  /// The tile at the flat index as a ciphertext tile.
  const CTile& getTile(int flatIndex) const;

  // ---- Element-wise operations (shapes compatible per ActionType, broadcasting
  // fully duplicated dimensions) ----

  void add(const CTileTensor& other);
  void addRaw(const CTileTensor& other);
  void sub(const CTileTensor& other);
  void subRaw(const CTileTensor& other);
  void multiply(const CTileTensor& other);
  void multiplyRaw(const CTileTensor& other);
  void addPlain(const PTileTensor& other);
  void addPlainRaw(const PTileTensor& other);
  void subPlain(const PTileTensor& other);
  void subPlainRaw(const PTileTensor& other);
  void multiplyPlain(const PTileTensor& other);
  void multiplyPlainRaw(const PTileTensor& other);

  CTileTensor getSub(const CTileTensor& other) const;
  CTileTensor getSubRaw(const CTileTensor& other) const;
  CTileTensor getAddPlain(const PTileTensor& other) const;
  CTileTensor getAddPlainRaw(const PTileTensor& other) const;
  CTileTensor getSubPlain(const PTileTensor& other) const;
  CTileTensor getSubPlainRaw(const PTileTensor& other) const;
  CTileTensor getMultiplyPlain(const PTileTensor& other) const;
  CTileTensor getMultiplyPlainRaw(const PTileTensor& other) const;

  /// Combines this tensor with other tile by tile, through a CTile member
  /// taking the operand tile (op) or a function of both tiles (tileFunction);
  /// exactly one of them is given. The shape becomes the shape of the result
  /// (TTShape::applyCompatibilityAdjustments); a tile of this tensor that is
  /// broadcast over more tiles is cloned into each.
  void binaryOperation(const TileTensor& other, ActionType actionType, TileOperation op,
                       const TileFunction& tileFunction = TileFunction());

  // ---- Operations on every tile ----

  void square();
  void squareRaw();
  void negate();
  void relinearize();
  void rescale();
  /// Relinearizes and rescales each tile before the next.
  void relinearizeAndRescale();
  void bootstrap();
  void reduceChainIndex();
  void setChainIndex(int chainIndex);
  /// Sets the chain index of other's tiles.
  void setChainIndex(const CTileTensor& other);
  /// Decrypts and encrypts every tile again at the top chain index. Real values
  /// only, except along a complex-packed dimension, whose pairs are kept.
  void reEncrypt();
  /// Lowers the tiles to the chain index, re-encrypting first when it is higher.
  void adjustChainIndex(int chainIndex);
  /// Lowers every tile to the smallest chain index among them.
  void alignChainIndexes();

  CTileTensor getSquare() const;
  CTileTensor getSquareRaw() const;
  CTileTensor getRelinearize() const;
  CTileTensor getRescale() const;
  CTileTensor getReduceChainIndex() const;
  CTileTensor getSetChainIndex(int chainIndex) const;
  CTileTensor getSetChainIndex(const CTileTensor& other) const;

  // ---- Scalars ----

  /// A plaintext tensor of this shape (unknowns cleared) holding value in every
  /// used slot and 0 elsewhere, at this tensor's chain index.
  PTileTensor getPlainScalarMask(double value) const;
  /// Adds value to the elements: to the used slots only through a mask when
  /// keepUnknownsClear is set, otherwise to every slot (unused slots become unknown).
  void addScalar(double value, bool keepUnknownsClear = false);
  /// Multiplies the elements by value through a mask (one chain index; unused slots become 0).
  void multiplyScalar(double value);
  /// Zeroes unknown unused slots (multiplyScalar(1.0)) when there are any.
  void clearUnknowns();
  CTileTensor getAddScalar(double value) const;
  CTileTensor getMultiplyScalar(double value) const;
  CTileTensor getClearUnknowns() const;

private:
  const HeContext* he;
  TileArray<CTile> tiles;
  /// Set on the private copy a returning twin works on: its operations need
  /// not be undone on failure, so they change the tiles in place.
  bool workingCopy = false;

  friend class TTEncoder;
  friend class TTPermutator;

  /// Refuses an operand of another context.
  void checkSameContext(const TileTensor& other) const;
  /// Applies f to every tile: to copies committed once all succeeded, or, on a
  /// working copy, in place.
  template <typename F>
  void transformTiles(F f);
  /// A copy of this tensor with op applied (the returning twins).
  template <typename Op>
  CTileTensor workOnCopy(Op op) const;
};

template <typename F>
void CTileTensor::transformTiles(F f)
{
  validatePacked();
  if (workingCopy) {
    for (size_t i = 0; i < tiles.size(); ++i)
      f(tiles[i]);
    return;
  }
  std::vector<std::shared_ptr<CTile>> result;
  result.reserve(tiles.size());
  for (size_t i = 0; i < tiles.size(); ++i) {
    auto tile = std::make_shared<CTile>(tiles[i]);
    f(*tile);
    result.push_back(std::move(tile));
  }
  tiles.assignValues(TileArray<CTile>(tiles.getExtents(), std::move(result)));
}

template <typename Op>
CTileTensor CTileTensor::workOnCopy(Op op) const
{
  CTileTensor res(*this);
  res.workingCopy = true;
  op(res);
  res.workingCopy = false;
  return res;
}

} // namespace quorvane

#endif
