#include "math/TTShape.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/VectorAccess.h"
#include "math/TTDiagUtils.h"

namespace quorvane {

namespace {

// The refusal of a count that dimension dim brings beyond TTShape::MAX_COUNT.
std::string countError(int dim, const std::string& what, int64_t count)
{
  return "Dimension " + std::to_string(dim) + " brings the number of " + what + " to " +
         std::to_string(count) + ", above the limit of " + std::to_string(TTShape::MAX_COUNT);
}

} // namespace

TTShape::TTShape() {}

TTShape::TTShape(const std::vector<int>& tileSizes)
{
  dims.reserve(tileSizes.size());
  for (int tileSize : tileSizes)
    dims.emplace_back(-1, tileSize);
  validateCounts();
}

TTShape::~TTShape() {}

// ---- Queries ----

const TTDim& TTShape::getDim(int i) const
{
  if (i < 0 || i >= getNumDims())
    reportError("Dimension " + std::to_string(i) + " does not exist for this shape");
  return dims[i];
}

TTDim& TTShape::getDim(int i)
{
  return const_cast<TTDim&>(static_cast<const TTShape&>(*this).getDim(i));
}

std::vector<int> TTShape::getOriginalSizes(bool includeDuplications) const
{
  std::vector<int> res;
  res.reserve(dims.size());
  for (const TTDim& dim : dims)
    res.push_back(includeDuplications && dim.getNumDuplicated() > dim.getOriginalSize()
                      ? dim.getNumDuplicated()
                      : dim.getOriginalSize());
  return res;
}

std::vector<int> TTShape::getTileSizes() const
{
  std::vector<int> res;
  res.reserve(dims.size());
  for (const TTDim& dim : dims)
    res.push_back(dim.getTileSize());
  return res;
}

std::vector<int> TTShape::getExternalSizes() const
{
  std::vector<int> res;
  res.reserve(dims.size());
  for (const TTDim& dim : dims)
    res.push_back(dim.getExternalSize());
  return res;
}

// Each factor is below 2^31 and each product is checked before the next
// factor, so the 64-bit products cannot overflow.

int TTShape::getNumSlotsInTile() const
{
  int64_t res = 1;
  for (int i = 0; i < getNumDims(); ++i)
    if ((res *= dims[i].getTileSize()) > MAX_COUNT)
      reportError(countError(i, "slots in a tile", res), i);
  return static_cast<int>(res);
}

int TTShape::getNumUsedTiles() const
{
  int64_t res = 1;
  for (int i = 0; i < getNumDims(); ++i)
    if (std::abs(res *= dims[i].getExternalSize()) > MAX_COUNT)
      reportError(countError(i, "tiles", std::abs(res)), i);
  return static_cast<int>(res);
}

int TTShape::getNumOriginalSlots() const
{
  QV_ASSERT(!isIncomplete());
  int64_t res = 1;
  for (int i = 0; i < getNumDims(); ++i)
    if ((res *= dims[i].getOriginalSize()) > MAX_COUNT)
      reportError(countError(i, "original values", res), i);
  return static_cast<int>(res);
}

int TTShape::getRotateOffsetOfDim(int i) const
{
  if (i < -1 || i >= getNumDims())
    reportError("Dimension " + std::to_string(i) + " does not exist for this shape");
  int64_t res = 1;
  for (int j = i + 1; j < getNumDims(); ++j)
    if ((res *= dims[j].getTileSize()) > MAX_COUNT)
      reportError(countError(j, "slots in a tile", res), j);
  return static_cast<int>(res);
}

bool TTShape::isIncomplete() const
{
  return std::any_of(dims.begin(), dims.end(), [](const TTDim& d) { return d.isIncomplete(); });
}

bool TTShape::areAllDimsIncomplete() const
{
  return std::all_of(dims.begin(), dims.end(), [](const TTDim& d) { return d.isIncomplete(); });
}

bool TTShape::containsUnknownUnusedSlots() const
{
  return std::any_of(dims.begin(), dims.end(),
                     [](const TTDim& d) { return d.getAreUnusedSlotsUnknown(); });
}

bool TTShape::hasDuplicatedDims() const
{
  return std::any_of(dims.begin(), dims.end(),
                     [](const TTDim& d) { return d.getNumDuplicated() > 1; });
}

int TTShape::getNumComplexPackedDims() const
{
  return static_cast<int>(std::count_if(dims.begin(), dims.end(),
                                        [](const TTDim& d) { return d.getIsComplexPacked(); }));
}

int TTShape::getComplexPackedDim() const
{
  for (int i = 0; i < getNumDims(); ++i)
    if (dims[i].getIsComplexPacked())
      return i;
  return -1;
}

void TTShape::refuseComplexPacking(const std::string& message) const
{
  const int dim = getComplexPackedDim();
  if (dim >= 0)
    reportError(message, dim);
}

bool TTShape::isFirstNonDegenerateTileDim(int i) const
{
  if (getDim(i).getTileSize() == 1)
    return false;
  for (int j = 0; j < i; ++j)
    if (dims[j].getTileSize() > 1)
      return false;
  return true;
}

bool TTShape::isCompatible(const TTShape& other, ActionType actionType) const
{
  if (dims.size() != other.dims.size() || diagonalized || other.diagonalized)
    return false;
  for (size_t i = 0; i < dims.size(); ++i)
    if (!dims[i].isCompatible(other.dims[i], actionType))
      return false;
  return true;
}

std::string TTShape::tileLayoutToString() const
{
  std::string res = "( ";
  for (size_t i = 0; i < dims.size(); ++i) {
    if (i > 0)
      res += " x ";
    res += std::to_string(dims[i].getTileSize());
  }
  return res + " )";
}

bool TTShape::operator==(const TTShape& other) const
{
  return diagonalized == other.diagonalized && dims == other.dims;
}

// ---- Changes ----

void TTShape::addDim(const TTDim& dim, int place)
{
  if (dim.isDiagonalized())
    reportError("Can't add a diagonalized dim. To specify diagonalization, first add ordinary "
                "dims, then use TTShape::setDiagonalized().");
  if (diagonalized && (place == 0 || place == 1))
    reportError("Can't add dimensions in the first or second positions of a diagonalized shape.");
  TTShape res(*this);
  if (place < 0 || place >= getNumDims())
    res.dims.push_back(dim);
  else
    res.dims.insert(res.dims.begin() + place, dim);
  res.validateCounts();
  *this = std::move(res);
}

void TTShape::insertDimAt(const TTDim& dim, int pos)
{
  if (pos < 0 || pos > getNumDims())
    reportError("Cannot insert a dimension at position " + std::to_string(pos) +
                " of a shape with " + std::to_string(getNumDims()) + " dimensions");
  TTShape res(*this);
  res.dims.insert(res.dims.begin() + pos, dim);
  res.validateCounts();
  *this = std::move(res);
}

void TTShape::setOriginalSizes(const std::vector<int>& orgSizes)
{
  QV_ASSERT(orgSizes.size() == dims.size());
  TTShape res(*this);
  for (size_t i = 0; i < dims.size(); ++i)
    res.dims[i].setOriginalSize(orgSizes[i], false);
  res.validateCounts();
  *this = std::move(res);
}

void TTShape::setDiagonalized(bool val)
{
  TTShape res(*this);
  res.diagonalized = val;
  // The block is a product of tile sizes (views may have changed them).
  res.validateCounts();
  if (val) {
    if (res.getNumDims() < 2)
      res.reportError("To turn on diagonlization at least two dimensions must be present");
    res.dims[0].setDiagonalized(true, res.dims[1].getTileSize() * res.dims[0].getTileSize());
  } else if (!res.dims.empty()) {
    res.dims[0].setDiagonalized(false, -1);
  }
  if (res.diagonalized)
    TTDiagUtils::validate(res);
  // The block sets the first dimension's external size: count again.
  res.validateCounts();
  *this = std::move(res);
}

void TTShape::clearUnknowns()
{
  for (TTDim& dim : dims)
    dim.setAreUnusedSlotsUnknown(false);
}

void TTShape::setAllUnusedSlotsUnknown()
{
  TTShape res(*this);
  for (TTDim& dim : res.dims)
    dim.setUnusedSlotsUnknown();
  *this = std::move(res);
}

void TTShape::applyCompatibilityAdjustments(const TTShape& other, ActionType actionType)
{
  TTShape res(*this);
  for (size_t i = 0; i < res.dims.size(); ++i)
    res.dims[i].applyCompatibilityAdjustments(checkedAt(other.dims, i), actionType);
  res.validateCounts();
  *this = std::move(res);
}

// ---- Derived shapes ----

TTShape TTShape::getSubShape(int first, int last) const
{
  if (last <= first)
    reportError("Can't return an empty sub shape");
  if (diagonalized && (first == 1 || (first == 0 && last == 1)))
    reportError("Cannot return a subshape of a diagonalized shape with just one of the two "
                "diagonalized dimensions. first=" +
                std::to_string(first) + " last=" + std::to_string(last));
  if (first < 0 || last > getNumDims())
    reportError("Sub shape [" + std::to_string(first) + "," + std::to_string(last) +
                ") exceeds the " + std::to_string(getNumDims()) + " dimensions of this shape");
  TTShape res;
  res.dims.assign(dims.begin() + first, dims.begin() + last);
  if (diagonalized && first == 0)
    res.setDiagonalized(true);
  return res;
}

TTShape TTShape::getWithDuplicatedDim(int i) const
{
  TTShape res(*this);
  checkedAt(res.dims, i).duplicate(-1);
  return res;
}

TTShape TTShape::getWithDuplicatedDims(const std::vector<int>& dimsToDuplicate) const
{
  TTShape res(*this);
  for (int i : dimsToDuplicate)
    checkedAt(res.dims, i).duplicate(-1);
  return res;
}

TTShape TTShape::getIncompleteTileSizesAndInterleaved() const
{
  TTShape res;
  res.dims.reserve(dims.size());
  for (const TTDim& dim : dims)
    res.dims.push_back(dim.getIncompleteTileSizeAndInterleaved());
  return res;
}

// ---- Checks and errors ----

void TTShape::validate() const
{
  if (diagonalized)
    TTDiagUtils::validate(*this);
  validateCounts();
}

void TTShape::validateForAllocation() const
{
  validate();
  // Products over the complete interleaved dimensions: the tiles stay within
  // MAX_COUNT (validated), the values saturate above it.
  const int64_t maxTilesPerValue = TTDim::MAX_INTERLEAVED_TILES_PER_VALUE;
  int64_t tiles = 1;
  int64_t values = 1;
  for (int i = 0; i < getNumDims(); ++i) {
    const TTDim& dim = dims[i];
    if (!dim.isInterleaved() || dim.isIncomplete())
      continue;
    tiles *= dim.getExternalSize();
    values = std::min(values * dim.getOriginalSize(), MAX_COUNT + 1);
    if (tiles > maxTilesPerValue * values)
      reportError("Dimension " + std::to_string(i) + " brings the interleaved dimensions to " +
                      std::to_string(tiles) + " tiles for " + std::to_string(values) +
                      " values, more than " + std::to_string(maxTilesPerValue) +
                      " tiles per value",
                  i);
  }
}

std::string TTShape::findCountError(int& dim) const
{
  int64_t inTile = 1;
  int64_t tiles = 1;
  int64_t slots = 1;
  int64_t values = 1;
  for (int i = 0; i < getNumDims(); ++i) {
    const TTDim& d = dims[i];
    // Incomplete dimensions count one tile, or the external size they keep.
    const int64_t external = std::max(1, d.getExternalSize());
    dim = i;
    if ((inTile *= d.getTileSize()) > MAX_COUNT)
      return countError(i, "slots in a tile", inTile);
    if ((tiles *= external) > MAX_COUNT)
      return countError(i, "tiles", tiles);
    if ((slots *= external * d.getTileSize()) > MAX_COUNT)
      return countError(i, "slots in all tiles", slots);
    if (!d.isIncomplete() && (values *= d.getOriginalSize()) > MAX_COUNT)
      return countError(i, "original values", values);
  }
  dim = -1;
  return "";
}

void TTShape::validateCounts() const
{
  int dim = -1;
  const std::string error = findCountError(dim);
  if (!error.empty())
    reportError(error, dim);
}

void TTShape::assertCompatible(const TTShape& other, ActionType actionType,
                               const std::string& text) const
{
  std::string message;
  if (dims.size() != other.dims.size()) {
    message = "Mismatching order: " + std::to_string(dims.size()) + " vs " +
              std::to_string(other.dims.size());
  } else {
    for (size_t i = 0; i < dims.size(); ++i) {
      if (!dims[i].isCompatible(other.dims[i], actionType)) {
        message = "Dimension " + std::to_string(i) + " mismatches: " + dims[i].toString() +
                  " vs. " + other.dims[i].toString();
        break;
      }
    }
  }
  if (message.empty())
    return;
  std::cerr << "Mismatching tile tensor shapes: " << std::endl;
  std::cerr << "First: " << *this << std::endl;
  std::cerr << "Second: " << other << std::endl;
  if (!text.empty())
    std::cerr << text << std::endl;
  std::cerr << message << std::endl;
  throw std::invalid_argument(message);
}

void TTShape::reportError(const std::string& message, int dim) const
{
  printError(message, dim);
  throw std::invalid_argument(message);
}

void TTShape::printError(const std::string& message, int dim) const
{
  std::cerr << "TT shape error:" << std::endl;
  std::cerr << message << std::endl;
  std::cerr << "In this shape: " << *this << std::endl;
  if (dim >= 0) {
    const TTDim& d = getDim(dim);
    std::cerr << "In dimension " << dim << ": " << d << std::endl;
  }
}

// ---- Text and persistence ----

void TTShape::debugPrint(const std::string& title, Verbosity, std::ostream& out) const
{
  if (!title.empty())
    out << title << " ";
  out << "[";
  if (diagonalized)
    out << " (d)";
  for (size_t i = 0; i < dims.size(); ++i) {
    if (i > 0)
      out << ", ";
    dims[i].debugPrint("", VERBOSITY_REGULAR, out);
  }
  out << "]";
}

std::streamoff TTShape::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, getNumDims());
  BinIoUtils::writeBool(out, diagonalized);
  std::streamoff res = 5;
  for (const TTDim& dim : dims)
    res += dim.save(out);
  return res;
}

std::string TTShape::findLoadError() const
{
  for (int i = 1; i < getNumDims(); ++i)
    if (dims[i].isDiagonalized())
      return "dimension " + std::to_string(i) + " is diagonalized";
  if (diagonalized) {
    const std::string error = TTDiagUtils::getValidationError(*this);
    if (!error.empty())
      return error;
    if (!dims[0].isDiagonalized() ||
        dims[0].getDiagonalizedBlock() !=
            static_cast<int64_t>(dims[0].getTileSize()) * dims[1].getTileSize())
      return "the diagonalized block of dimension 0 does not match the tile sizes";
  } else if (!dims.empty() && dims[0].isDiagonalized()) {
    return "dimension 0 is diagonalized in a shape that is not";
  }
  int dim = -1;
  return findCountError(dim);
}

std::streamoff TTShape::load(std::istream& in)
{
  const int32_t count = BinIoUtils::readInt32(in);
  if (count < 0 || static_cast<uint64_t>(count) > BinIoUtils::MAX_ELEMENT_COUNT)
    throw std::runtime_error("Invalid saved TTShape: number of dimensions is " +
                             std::to_string(count) + ", expected a value in [0, " +
                             std::to_string(BinIoUtils::MAX_ELEMENT_COUNT) + "]");
  TTShape loaded;
  loaded.diagonalized = BinIoUtils::readBool(in);
  std::streamoff res = 5;
  // Dimensions are read one by one, so a corrupt count allocates no more than the stream holds.
  for (int32_t i = 0; i < count; ++i) {
    TTDim dim;
    res += dim.load(in);
    loaded.dims.push_back(dim);
  }
  const std::string error = loaded.findLoadError();
  if (!error.empty())
    throw std::runtime_error("Invalid saved TTShape: " + error);
  *this = std::move(loaded);
  return res;
}

} // namespace quorvane
