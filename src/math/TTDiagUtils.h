#ifndef QUORVANE_MATH_TTDIAGUTILS_H
#define QUORVANE_MATH_TTDIAGUTILS_H

#include <cstdint>
#include <string>
#include <utility>

#include "hebase/utils/Printable.h"
#include "math/TTShape.h"

namespace quorvane {

class CTileTensor;
class TileTensor;

/// Generalized-diagonal packing of the first two dimensions of a diagonalized
/// shape (tile sizes t0 and t1). The matrix is cut into blocks of t0*t1 rows
/// and t1 columns; a block is stored in t1 tiles along dimension 0, one per
/// diagonal. Tile (i0, i1) holds diagonal d = i0 mod t1 of block row i0 div t1
/// and block column i1; its slot (k0, k1) holds the element at row
/// (i0 div t1)*t0*t1 + (d + k0*t1 + k1) mod (t0*t1) and column i1*t1 + k1.
class TTDiagUtils : public Printable
{
public:
  /// Validates the shape and keeps a copy.
  explicit TTDiagUtils(const TTShape& shape);
  ~TTDiagUtils() override;

  /// Nothing at VERBOSITY_NONE; otherwise the shape and the block layout.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Refuses, through the shape's reportError, a shape that is not diagonalized
  /// or whose first two dimensions are interleaved, complex-packed or duplicated.
  static void validate(const TTShape& shape);
  /// validate's message for the shape, or "" when it passes; reports nothing.
  static std::string getValidationError(const TTShape& shape);

  /// Logical (row, column) of slot (0, 0) of tile (i0, i1).
  std::pair<int, int> getTileStart(int i0, int i1) const;
  /// Logical (row, column) of slot (k0, k1) of tile (i0, i1) whose start is (start0, start1).
  std::pair<int, int> getLogicalIndex(int start0, int start1, int i0, int i1, int k0,
                                      int k1) const;

  /// result = matrix * vector summed over dimension 0, for a matrix of the
  /// shape this object was built from ([(d)r/t0, c/t1, ...]) and a vector
  /// [r/(t0*t1), ...] whose later dimensions are compatible with the matrix's
  /// dimensions 2 on. One rotation of the vector per tile and diagonal, raw
  /// products, then one relinearization and rescale per result tile and a sum
  /// inside the tiles over dimension 0. result is replaced only on success.
  void multiplyMatrixVector(CTileTensor& result, const TileTensor& matrix,
                            const CTileTensor& vector) const;

  int getTileSize0() const { return tileSize0; }
  int getTileSize1() const { return tileSize1; }
  int getBlockSize0() const { return blockSize0; }
  int getBlockSize1() const { return blockSize1; }
  int getTilesInBlock() const { return tilesInBlock; }

private:
  TTShape shape;
  int32_t tileSize0;
  int32_t tileSize1;
  int32_t blockSize0;
  int32_t blockSize1;
  int32_t tilesInBlock;
};

} // namespace quorvane

#endif
