#include "math/TTDiagUtils.h"

#include "hebase/utils/PrintUtils.h"

namespace quorvane {

TTDiagUtils::TTDiagUtils(const TTShape& shape) : shape(shape)
{
  validate(shape);
  tileSize0 = shape.getDim(0).getTileSize();
  tileSize1 = shape.getDim(1).getTileSize();
  blockSize0 = tileSize0 * tileSize1;
  blockSize1 = tileSize1;
  tilesInBlock = tileSize1;
}

TTDiagUtils::~TTDiagUtils() {}

std::string TTDiagUtils::getValidationError(const TTShape& shape)
{
  if (!shape.isDiagonalized())
    return "Internal error: TTDiagUtils::validate called on shape without diag";
  if (shape.getNumDims() < 2)
    return "To turn on diagonlization at least two dimensions must be present";
  const TTDim& d0 = shape.getDim(0);
  const TTDim& d1 = shape.getDim(1);
  if (d0.isInterleaved() || d1.isInterleaved())
    return "Diagonal shapes must not have interleaved flags in their first two dimensions";
  if (d0.getIsComplexPacked() || d1.getIsComplexPacked())
    return "Diagonal shapes must not have complex packed dims in their first two dimensions";
  if (d0.getNumDuplicated() > 1 || d1.getNumDuplicated() > 1)
    return "Diagonal shaped must not have duplications in the first two dimensions";
  return "";
}

void TTDiagUtils::validate(const TTShape& shape)
{
  const std::string error = getValidationError(shape);
  if (!error.empty())
    shape.reportError(error);
}

std::pair<int, int> TTDiagUtils::getTileStart(int i0, int i1) const
{
  return {(i0 / tilesInBlock) * blockSize0 + i0 % tilesInBlock, i1 * tileSize1};
}

std::pair<int, int> TTDiagUtils::getLogicalIndex(int start0, int start1, int i0, int, int k0,
                                                 int k1) const
{
  const int diagonal = i0 % tilesInBlock;
  return {(diagonal + k0 * tileSize1 + k1) % blockSize0 + start0 - diagonal, start1 + k1};
}

void TTDiagUtils::debugPrint(const std::string& title, Verbosity verbosity,
                             std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "TTDiagUtils", title);
  out << std::endl;
  out << "Diagonalized matrix shape: " << shape << std::endl;
  out << "On dims 0,1:"
      << " tile sizes [" << tileSize0 << "," << tileSize1 << "], "
      << " block size [" << blockSize0 << "," << blockSize1 << "], "
      << " tiles in block: " << tilesInBlock << std::endl;
}

} // namespace quorvane
