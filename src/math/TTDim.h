#ifndef QUORVANE_MATH_TTDIM_H
#define QUORVANE_MATH_TTDIM_H

#include <cstdint>
#include <iostream>
#include <string>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// The kind of element-wise operation for which compatibility is judged.
enum ActionType : int32_t
{
  /// Addition and subtraction.
  ADDITIVE_ACTION_TYPE = 0,
  /// Multiplication.
  MULTIPLICATIVE_ACTION_TYPE = 1,
  /// Any other element-wise combination, such as a comparison.
  OTHER_ACTION_TYPE = 2
};

/// How one dimension of a tensor is packed into tiles: its number of values,
/// the slots it spans inside every tile, and how its values are placed
/// (contiguous or interleaved, duplicated, complex-packed, diagonalized, with
/// known or unknown unused slots). A value type, saved as raw fields.
///
/// Every mutator validates the result; a refused change leaves the dimension
/// as it was.
class TTDim : public SaveableBasic
{
public:
  /// An interleaved dimension may spread its values over at most this many
  /// tiles per value: its external size is at most this multiple of its
  /// original size. Beyond that, whole tiles would hold nothing, and a corrupt
  /// record could make an encoder allocate for them.
  static constexpr int MAX_INTERLEAVED_TILES_PER_VALUE = 4;

  /// An incomplete dimension of tile size 1.
  TTDim();
  /// Validates the arguments; the external size is the minimal one.
  TTDim(int originalSize, int tileSize, int numDuplicated = 1,
        bool areUnusedSlotsUnknown = false, bool isInterleaved = false,
        bool isComplexPacked = false);
  TTDim(const TTDim&) = default;
  TTDim& operator=(const TTDim&) = default;
  ~TTDim() override;

  /// Writes the dimension's notation (such as 5/4 or */8); title and verbosity are ignored.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the raw record (16 bytes, plus 4 when interleaved and 4 when diagonalized).
  std::streamoff save(std::ostream& out) const override;

  /// Reads the raw record and validates it; the dimension changes only when the
  /// record is valid (otherwise std::runtime_error).
  std::streamoff load(std::istream& in) override;

  // ---- Fields ----

  int getOriginalSize() const { return originalSize; }
  int getTileSize() const { return tileSize; }
  int getNumDuplicated() const { return numDuplicated; }
  bool getAreUnusedSlotsUnknown() const { return areUnusedSlotsUnknown; }
  bool isInterleaved() const { return interleaved; }
  bool getIsComplexPacked() const { return complexPacked; }
  bool isDiagonalized() const { return diagonalized; }
  int getDiagonalizedBlock() const { return diagonalizedBlock; }

  // ---- Derived quantities ----

  /// Slots taken by the values (half the values when complex-packed).
  int getOriginalSizeSlots() const;
  /// Slots taken by the duplicated values.
  int getNumDuplicatedSlots() const;
  /// The fewest tiles the values need; -1 when incomplete.
  int getMinExternalSize() const;
  /// The number of tiles along the dimension; -1 when incomplete.
  int getExternalSize() const;
  /// -1 when incomplete.
  int getNumUsedSlots() const;
  /// -1 when incomplete.
  int getNumUnusedSlots() const;
  /// A bound on the used positions of the dimension inside one tile.
  int getMaxUsedSlotsInTile() const;
  bool isFullyDuplicated() const;
  bool isIncomplete() const { return originalSize == -1; }
  bool isDegenerateTile() const { return tileSize == 1; }
  /// Same values in the same placement, ignoring duplication and unknown slots.
  bool isEqualOnOriginalSlots(const TTDim& other, bool enforceInterleavedExternalSize = true) const;

  /// Whether this dimension and other may be combined by an operation of the kind.
  bool isCompatible(const TTDim& other, ActionType actionType) const;

  bool operator==(const TTDim& other) const;
  bool operator!=(const TTDim& other) const { return !(*this == other); }

  // ---- Changes ----

  TTDim& setOriginalSize(int size, bool keepInterleavedPlacing = false);
  /// Refuses a diagonalized dimension and a larger size; a positive second
  /// argument sets the interleaved external size.
  TTDim& reduceOriginalSize(int newOriginalSize, int newInterleavedExternalSize = 0);
  /// Does not recompute the stored external size.
  TTDim& setTileSize(int size);
  TTDim& setNumDuplicated(int n);
  TTDim& setAreUnusedSlotsUnknown(bool value);
  /// Marks the unused slots unknown when the dimension is complete and has some.
  TTDim& setUnusedSlotsUnknown();
  /// The external size becomes the minimal one, raised to a multiple of the
  /// divisor when interleaved.
  TTDim& setInterleaved(bool isInterleaved, int externalSizeDivisor = 1);
  /// Only for an interleaved dimension; refuses a size below the minimum.
  TTDim& setInterleavedExternalSize(int size);
  TTDim& setIsComplexPacked(bool value);
  /// Original size -1, not duplicated, unused slots known.
  void setIncomplete();
  /// Repeats the single value dup times, or over the whole tile for -1.
  void duplicate(int dup = -1);
  /// Sets the diagonalized flag and block size (for TTShape).
  void setDiagonalized(bool value, int block);
  /// Turns this dimension into the dimension of the result of an operation of
  /// the kind on this dimension and other.
  void applyCompatibilityAdjustments(const TTDim& other, ActionType actionType);
  /// A new incomplete dimension with this tile size and interleaved placement.
  TTDim getIncompleteTileSizeAndInterleaved() const;

  /// Throws std::invalid_argument at the first broken rule.
  void validate() const;

private:
  int32_t originalSize;
  int32_t externalSize = -1;
  int32_t tileSize;
  int32_t numDuplicated;
  bool areUnusedSlotsUnknown;
  bool interleaved;
  bool complexPacked;
  bool diagonalized = false;
  int32_t diagonalizedBlock = -1;

  /// The rules on the fields alone, checked before any derived size is computed.
  void validateFields() const;
  /// Applies change and validates; restores the previous state when either throws.
  template <typename F>
  TTDim& change(F&& changeFields);
};

} // namespace quorvane

#endif
