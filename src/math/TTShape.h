#ifndef QUORVANE_MATH_TTSHAPE_H
#define QUORVANE_MATH_TTSHAPE_H

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "hebase/utils/Saveable.h"
#include "math/TTDim.h"

namespace quorvane {

/// The shape of a tile tensor: its dimensions (dimension 0 first) and whether
/// the first two are packed by diagonals. The slots of a tile are the product
/// of the tile sizes, the last dimension varying fastest inside a tile; the
/// tiles form an array whose extents are the external sizes, dimension 0
/// varying fastest. A value type, saved as raw fields and printed in the
/// shape notation, such as [4/2, */8].
///
/// Operations that change the shape leave it as it was when they are refused.
///
/// The slots in a tile, the tiles, the slots of all tiles and the original
/// values are counted in 64 bits; a shape in which any of them exceeds
/// MAX_COUNT is refused, by the changes that reach it, by load and validate.
class TTShape : public SaveableBasic
{
public:
  /// The most slots in a tile, tiles, slots in all tiles or original values a
  /// shape may have: the library counts and indexes them with an int.
  static constexpr int64_t MAX_COUNT = INT32_MAX;

  /// No dimensions, not diagonalized.
  TTShape();
  /// One incomplete dimension per tile size; refuses tiles of more than
  /// MAX_COUNT slots.
  explicit TTShape(const std::vector<int>& tileSizes);
  TTShape(const TTShape&) = default;
  TTShape(TTShape&&) noexcept = default;
  TTShape& operator=(const TTShape&) = default;
  TTShape& operator=(TTShape&&) noexcept = default;
  ~TTShape() override;

  /// Writes the title and a blank when set, then the notation.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the dimension count, the diagonalized flag and every dimension.
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote and validates it; the shape changes only when the
  /// record is valid (otherwise std::runtime_error).
  std::streamoff load(std::istream& in) override;

  // ---- Queries ----

  int getNumDims() const { return static_cast<int>(dims.size()); }
  /// Dimension i; an index outside the shape is reported through reportError.
  const TTDim& getDim(int i) const;
  TTDim& getDim(int i);
  bool isDiagonalized() const { return diagonalized; }
  /// Per dimension the original size, or with includeDuplications the larger of
  /// the original size and the number of duplicated values.
  std::vector<int> getOriginalSizes(bool includeDuplications = false) const;
  std::vector<int> getTileSizes() const;
  /// The extents of the tile array.
  std::vector<int> getExternalSizes() const;
  /// The product of the tile sizes. The products below are counted in 64 bits
  /// and one beyond MAX_COUNT is reported through reportError, naming the
  /// dimension that brings it there.
  int getNumSlotsInTile() const;
  /// The product of the external sizes (an incomplete dimension counts -1).
  int getNumUsedTiles() const;
  /// The product of the original sizes; the shape must be complete.
  int getNumOriginalSlots() const;
  /// The slot distance of one step along dimension i inside a tile; -1 gives
  /// the number of slots in a tile. Other indices outside the shape are refused.
  int getRotateOffsetOfDim(int i) const;
  bool isIncomplete() const;
  bool areAllDimsIncomplete() const;
  bool containsUnknownUnusedSlots() const;
  bool hasDuplicatedDims() const;
  int getNumComplexPackedDims() const;
  /// Index of the first complex-packed dimension, -1 when none.
  int getComplexPackedDim() const;
  /// Whether dimension i is the first with a tile size above 1.
  bool isFirstNonDegenerateTileDim(int i) const;
  /// Whether the shapes may be combined element-wise by an operation of the kind.
  bool isCompatible(const TTShape& other, ActionType actionType) const;
  /// "( " the tile sizes joined by " x " " )".
  std::string tileLayoutToString() const;

  bool operator==(const TTShape& other) const;
  bool operator!=(const TTShape& other) const { return !(*this == other); }

  // ---- Changes ----

  /// Inserts a copy of dim before place; a negative place or one past the end appends.
  void addDim(const TTDim& dim, int place = -1);
  /// Inserts a copy of dim before pos, in [0, getNumDims()], without addDim's checks.
  void insertDimAt(const TTDim& dim, int pos);
  /// Sets every dimension's original size; interleaved external sizes return to their minimum.
  void setOriginalSizes(const std::vector<int>& orgSizes);
  /// Turns diagonal packing of the first two dimensions on or off.
  void setDiagonalized(bool val);
  void clearUnknowns();
  /// Marks the unused slots of every dimension that has some unknown.
  void setAllUnusedSlotsUnknown();
  /// Makes this shape the shape of the result of an operation of the kind on
  /// this shape and other.
  void applyCompatibilityAdjustments(const TTShape& other, ActionType actionType);

  // ---- Derived shapes ----

  /// The dimensions [first, last) as a new shape.
  TTShape getSubShape(int first, int last) const;
  /// A copy whose dimension i is fully duplicated.
  TTShape getWithDuplicatedDim(int i) const;
  /// A copy whose listed dimensions are fully duplicated.
  TTShape getWithDuplicatedDims(const std::vector<int>& dimsToDuplicate) const;
  /// Incomplete dimensions keeping the tile sizes and interleaved placement.
  TTShape getIncompleteTileSizesAndInterleaved() const;

  // ---- Checks and errors ----

  /// Checks the diagonal packing of a diagonalized shape and that every count
  /// of the shape fits MAX_COUNT.
  void validate() const;
  /// Checks a shape that tiles are about to be made for: validate(), and that
  /// its interleaved dimensions together spread their values over at most
  /// TTDim::MAX_INTERLEAVED_TILES_PER_VALUE tiles per value (each dimension
  /// alone is held to that bound by its own validation).
  void validateForAllocation() const;
  /// Reports the first reason why the shapes are not compatible on standard
  /// error and throws std::invalid_argument with it.
  void assertCompatible(const TTShape& other, ActionType actionType,
                        const std::string& text = "") const;
  /// Writes the diagnosis of printError, then throws std::invalid_argument(message).
  [[noreturn]] void reportError(const std::string& message, int dim = -1) const;
  /// Reports the message through reportError at the complex-packed dimension,
  /// if the shape has one: for operations that would mix the two values of a
  /// complex-packed slot.
  void refuseComplexPacking(const std::string& message) const;
  /// Writes "TT shape error:", the message, the shape and (for dim >= 0) the
  /// dimension to standard error.
  void printError(const std::string& message, int dim = -1) const;

private:
  bool diagonalized = false;
  std::vector<TTDim> dims;

  /// The first reason why a loaded shape is not consistent, or "".
  std::string findLoadError() const;
  /// The first count of the shape beyond MAX_COUNT, or ""; dim is set to the
  /// dimension that brings it there.
  std::string findCountError(int& dim) const;
  /// Reports the error of findCountError, if any, through reportError.
  void validateCounts() const;
};

} // namespace quorvane

#endif
