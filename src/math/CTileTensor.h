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
/// into new tiles and committed together with the new shape, or, when every
/// tile certainly accepts its operand (CTile::certainlyAccepts), changed in place.
///
/// The operations are spread over several sources: construction, tile access,
/// the element-wise engine and persistence (CTileTensor.cpp), arithmetic and
/// chain indexes (CTileTensorArithmetic.cpp), scalars and masks
/// (CTileTensorScalars.cpp), printing (CTileTensorPrinting.cpp), rotations,
/// shifts and sums (CTileTensorRotations.cpp), and slicing, flattening,
/// duplication and the structured products (CTileTensorSlicing.cpp).
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
  /// from VERBOSITY_REGULAR the decrypted content, from VERBOSITY_DETAILED the
  /// tiles. An unpacked tensor prints its kind, title, shape and "packed=0".
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
  /// A copy of this tensor with multiplyAndSum(other, sumDim) applied.
  CTileTensor getMultiplyAndSum(const CTileTensor& other, int sumDim) const override;
  /// target.multiplyAndSum(*this, sumDim).
  void multiplyAndSumTo(CTileTensor& target, int sumDim) const override;
  /// A copy of this tensor with multiplyPlainAndSum(plain, sumDim) applied.
  virtual CTileTensor getMultiplyPlainAndSum(const PTileTensor& plain, int sumDim) const;
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

  /// Squares every element; a complex-packed tensor is refused.
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
  /// Sets the chain index of other (getArgumentChainIndex).
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

  // ---- Rotations, shifts and sums along a dimension ----

  /// Cyclic rotation: the value at (i + rot) mod n moves to i, n the original
  /// size of dim. A dimension spread over several tiles must be interleaved;
  /// dim must be the first with a tile size above 1 and have no unused slots.
  void rotateAlongDim(int dim, int rot);
  /// Shift: the value at i + shift moves to i (0 <= shift < n); the original
  /// size of dim becomes n - shift and its unused slots unknown.
  void shiftAlongDim(int dim, int shift);
  /// The common body of rotateAlongDim (isShift false) and shiftAlongDim.
  void rotateOrShiftAlongDim(int dim, int n, bool isShift);
  /// Adds the tiles along dim into one tile per position of the other dimensions.
  void sumTilesOverDim(int dim);
  /// Sums the values of dim inside every tile (dim must lie in one tile). The
  /// first dimension with a tile size above 1 becomes fully duplicated; another
  /// dimension keeps the sum at index 0, its unused slots becoming unknown.
  void sumInTilesOverDim(int dim);
  /// sumTilesOverDim, then sumInTilesOverDim.
  void sumOverDim(int dim);
  /// Raw product with other, sum of tiles over sumDim, relinearisation,
  /// rescaling, then sum inside the tiles over sumDim.
  void multiplyAndSum(const CTileTensor& other, int sumDim);
  /// As multiplyAndSum with a plaintext operand (no relinearisation).
  void multiplyPlainAndSum(const PTileTensor& plain, int sumDim);
  /// Rotate-and-add inside every tile along dim over a window of w values: the
  /// tile size of dim for n < 0, else n rounded up to a power of two; slot j
  /// gets the sum of slots j + k*c (j - k*c when reverse), c the slot step of
  /// dim, k < w. Returns w.
  int innerSumOverDim(int dim, int n, bool reverse);
  CTileTensor getSumOverDim(int dim) const;
  CTileTensor getSumTilesOverDim(int dim) const;

  // ---- Slicing, flattening and duplication ----

  /// The values startIndex to startIndex + sliceDepth - 1 of dim (a negative
  /// dim counts from the end), copying whole tiles: the start must be a
  /// multiple of the tile size (0 for an interleaved dimension).
  CTileTensor getSlice(int dim, int startIndex, int sliceDepth) const;
  /// Merges the fully duplicated dimensions startDim to endDim - 1 into one.
  void flatten(int startDim, int endDim);
  CTileTensor getFlatten(int startDim, int endDim) const;
  /// Turns a dimension of original size 1 into a fully duplicated one.
  void duplicateOverDim(int dim);
  CTileTensor getDuplicateOverDim(int dim) const;
  /// A tensor of this shape whose every tile is tile times the mask of this
  /// shape (1 in the used slots, 0 elsewhere).
  CTileTensor duplicateAndMaskTile(const CTile& tile) const;

  // ---- Structured products ----

  /// The convolution of this image [a/1, b/1, n/s] with filters
  /// [c/1, d/1, e/1, *f/s] and biases [1/1, 1/1, e/1, *g/s] (TTConvolution).
  CTileTensor getConvolution(const CTileTensor& filters, const CTileTensor& biases,
                             int strideRows, int strideCols) const;
  /// other times this vector, summed over sumDim: by diagonals when other is
  /// diagonalized (sumDim must then be 0), else other.getMultiplyAndSum.
  CTileTensor getMatrixMultiplication(const TileTensor& other, int sumDim) const;

private:
  const HeContext* he;
  TileArray<CTile> tiles;
  /// Set on the private copy a returning twin works on: its operations need
  /// not be undone on failure, so they change the tiles in place.
  bool workingCopy = false;

  /// An element-wise operation: its timer section, its shape rules and its
  /// tile operation.
  struct ElementWise
  {
    const char* section;
    ActionType actionType;
    TileOperation op;
  };
  static const ElementWise ADD;
  static const ElementWise ADD_RAW;
  static const ElementWise SUB;
  static const ElementWise SUB_RAW;
  static const ElementWise MULTIPLY;
  static const ElementWise MULTIPLY_RAW;
  static const ElementWise ADD_PLAIN;
  static const ElementWise ADD_PLAIN_RAW;
  static const ElementWise SUB_PLAIN;
  static const ElementWise SUB_PLAIN_RAW;
  static const ElementWise MULTIPLY_PLAIN;
  static const ElementWise MULTIPLY_PLAIN_RAW;

  friend class PTileTensor;
  friend class TTEncoder;
  friend class TTConvolution;
  friend class TTDiagUtils;
  friend class TTPermutator;
  friend class TTFunctionEvaluator;

  size_t getTileArraySize() const override;
  /// binaryOperation, naming the tensors in its refusals as the caller sees
  /// them: when the caller is the operand (double dispatch: other.addTo(this)),
  /// the operand is the tensor the operation was called on and this tensor its
  /// argument (checkOperands with the roles swapped).
  void combineTiles(const TileTensor& other, ActionType actionType, TileOperation op,
                    const TileFunction& tileFunction, bool callerIsOperand);
  /// The element-wise operation with other, in its timer section (combineTiles).
  void applyElementWise(const ElementWise& operation, const TileTensor& other,
                        bool callerIsOperand);
  /// multiplyAndSum (product MULTIPLY_RAW) or multiplyPlainAndSum (product
  /// MULTIPLY_PLAIN_RAW) with other, naming the tensors as combineTiles does.
  void applyMultiplyAndSum(const TileTensor& other, int sumDim, const ElementWise& product,
                           bool callerIsOperand);
  /// Takes the shape and the tiles of res (a tensor of this context).
  void commit(CTileTensor&& res);

  /// Checks of rotateOrShiftTiles, then the moves and the new shape.
  void rotateOrShiftTiles(int dim, int n, bool isShift);
  /// Per source tile (flat index), its destination and its in-tile rotation
  /// for a rotation by n along the interleaved dimension dim.
  void getTileRotationPlan(int dim, int n, std::vector<int>& destinations,
                           std::vector<int>& rotations) const;
  /// A new tile array: tile p copied to destinations[p] and rotated by rotations[p].
  TileArray<CTile> permuteAndRotateTiles(const std::vector<int>& destinations,
                                         const std::vector<int>& rotations) const;
  /// Refuses a negative shift and one not below the original size of dim.
  void validateShift(int dim, int n) const;
  /// The shape after the moves of a shift (nothing for a rotation).
  void updateShapeAfterShift(int dim, int n, bool isShift);
  /// Applies f to every tile: to copies committed once all succeeded, or, on a
  /// working copy, in place.
  template <typename F>
  void transformTiles(F f);
  /// A copy of this tensor with op applied (the returning twins).
  template <typename Op>
  CTileTensor workOnCopy(Op op) const;
  /// Applies op, a sequence of operations, so that this tensor changes only
  /// when all of them succeeded (directly on a working copy).
  template <typename Op>
  void applyAtomically(Op op);
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

template <typename Op>
void CTileTensor::applyAtomically(Op op)
{
  if (workingCopy)
    op(*this);
  else
    commit(workOnCopy(op));
}

} // namespace quorvane

#endif
