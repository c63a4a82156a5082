#include "math/TTDim.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "math/MathUtils.h"
#include "math/TTComplexPackUtils.h"

namespace quorvane {

TTDim::TTDim() : TTDim(-1, 1) {}

TTDim::TTDim(int originalSize, int tileSize, int numDuplicated, bool areUnusedSlotsUnknown,
             bool isInterleaved, bool isComplexPacked)
    : originalSize(originalSize), tileSize(tileSize), numDuplicated(numDuplicated),
      areUnusedSlotsUnknown(areUnusedSlotsUnknown), interleaved(isInterleaved),
      complexPacked(isComplexPacked)
{
  validateFields();
  externalSize = getMinExternalSize();
  validate();
}

TTDim::~TTDim() {}

template <typename F>
TTDim& TTDim::change(F&& changeFields)
{
  const TTDim backup(*this);
  try {
    changeFields();
    validate();
  } catch (...) {
    *this = backup;
    throw;
  }
  return *this;
}

// ---- Derived quantities ----

int TTDim::getOriginalSizeSlots() const
{
  if (!complexPacked)
    return originalSize;
  if (isIncomplete())
    throw std::runtime_error("Can't compute original size slots for incomplete dims");
  if (originalSize == 1) {
    QV_ASSERT(numDuplicated > 1);
    return 1;
  }
  QV_ASSERT(originalSize % 2 == 0);
  return originalSize / 2;
}

int TTDim::getNumDuplicatedSlots() const
{
  if (!complexPacked)
    return numDuplicated;
  if (numDuplicated != 1) {
    QV_ASSERT(numDuplicated % 2 == 0);
    return numDuplicated / 2;
  }
  QV_ASSERT(originalSize < 0 || originalSize % 2 == 0);
  return numDuplicated;
}

int TTDim::getMinExternalSize() const
{
  if (isIncomplete())
    return -1;
  return MathUtils::integerDivisionCeil(getOriginalSizeSlots(), tileSize);
}

int TTDim::getExternalSize() const
{
  if (diagonalized) {
    if (isIncomplete())
      return -1;
    const int64_t os = (static_cast<int64_t>(originalSize) + diagonalizedBlock - 1) /
                       diagonalizedBlock * diagonalizedBlock;
    QV_ASSERT(os % tileSize == 0);
    return static_cast<int>(os / tileSize);
  }
  if (interleaved)
    return externalSize;
  return getMinExternalSize();
}

int TTDim::getNumUsedSlots() const
{
  if (isIncomplete())
    return -1;
  return std::max(getNumDuplicatedSlots(), getOriginalSizeSlots());
}

int TTDim::getNumUnusedSlots() const
{
  if (isIncomplete())
    return -1;
  return getExternalSize() * tileSize - getNumUsedSlots();
}

int TTDim::getMaxUsedSlotsInTile() const
{
  if (tileSize == 1)
    return 1;
  if (numDuplicated > 1)
    return numDuplicated;
  const int external = getExternalSize();
  if (external == 1)
    return originalSize;
  if (!interleaved)
    return tileSize;
  // Only an incomplete dimension can hold an external size of 0; no division then.
  if (external == 0)
    return tileSize;
  return MathUtils::integerDivisionCeil(originalSize, external);
}

bool TTDim::isFullyDuplicated() const
{
  return originalSize == 1 && getNumDuplicatedSlots() == tileSize;
}

bool TTDim::isEqualOnOriginalSlots(const TTDim& other, bool enforceInterleavedExternalSize) const
{
  if (isIncomplete() || other.isIncomplete())
    return false;
  if (originalSize != other.originalSize || tileSize != other.tileSize ||
      interleaved != other.interleaved)
    return false;
  if (interleaved && other.interleaved && enforceInterleavedExternalSize &&
      externalSize != other.externalSize)
    return false;
  return !diagonalized && !other.diagonalized;
}

bool TTDim::isCompatible(const TTDim& other, ActionType actionType) const
{
  if (tileSize != other.tileSize || isIncomplete() || other.isIncomplete() || diagonalized ||
      other.diagonalized)
    return false;
  if (!isFullyDuplicated() && !other.isFullyDuplicated()) {
    if (interleaved != other.interleaved)
      return false;
    if (interleaved && externalSize != other.externalSize)
      return false;
    if (originalSize != other.originalSize)
      return false;
  }
  return TTComplexPackUtils::isCompatible(*this, other, actionType);
}

bool TTDim::operator==(const TTDim& other) const
{
  return originalSize == other.originalSize && tileSize == other.tileSize &&
         numDuplicated == other.numDuplicated &&
         areUnusedSlotsUnknown == other.areUnusedSlotsUnknown &&
         interleaved == other.interleaved && complexPacked == other.complexPacked &&
         getExternalSize() == other.getExternalSize() && diagonalized == other.diagonalized;
}

// ---- Changes ----

TTDim& TTDim::setOriginalSize(int size, bool keepInterleavedPlacing)
{
  return change([&] {
    originalSize = size;
    validateFields();
    externalSize = keepInterleavedPlacing ? std::min(size, externalSize) : getMinExternalSize();
  });
}

TTDim& TTDim::reduceOriginalSize(int newOriginalSize, int newInterleavedExternalSize)
{
  if (diagonalized)
    throw std::invalid_argument("Can't reduce original size on a diagonalized dim");
  if (newOriginalSize > originalSize)
    throw std::runtime_error("reduceOriginalSize: cannot increase original size. In dim " +
                             toString() + ", newOriginalSize=" + std::to_string(newOriginalSize));
  return change([&] {
    originalSize = newOriginalSize;
    if (newInterleavedExternalSize > 0)
      externalSize = newInterleavedExternalSize;
  });
}

TTDim& TTDim::setTileSize(int size)
{
  return change([&] { tileSize = size; });
}

TTDim& TTDim::setNumDuplicated(int n)
{
  return change([&] { numDuplicated = n; });
}

TTDim& TTDim::setAreUnusedSlotsUnknown(bool value)
{
  return change([&] { areUnusedSlotsUnknown = value; });
}

TTDim& TTDim::setUnusedSlotsUnknown()
{
  if (!isIncomplete() && getNumUnusedSlots() > 0)
    change([&] { areUnusedSlotsUnknown = true; });
  return *this;
}

TTDim& TTDim::setInterleaved(bool isInterleaved, int externalSizeDivisor)
{
  return change([&] {
    interleaved = isInterleaved;
    validateFields();
    externalSize = getMinExternalSize();
    if (interleaved && externalSizeDivisor > 1 && externalSize % externalSizeDivisor > 0)
      externalSize += externalSizeDivisor - externalSize % externalSizeDivisor;
  });
}

TTDim& TTDim::setInterleavedExternalSize(int size)
{
  QV_ASSERT(interleaved);
  const int minimum = getMinExternalSize();
  if (size < minimum)
    throw std::invalid_argument("Trying to set to dim [" + toString() + "] an external size " +
                                std::to_string(size) + " smaller than the minimum " +
                                std::to_string(minimum));
  return change([&] { externalSize = size; });
}

TTDim& TTDim::setIsComplexPacked(bool value)
{
  return change([&] { complexPacked = value; });
}

void TTDim::setIncomplete()
{
  change([&] {
    originalSize = -1;
    numDuplicated = 1;
    areUnusedSlotsUnknown = false;
  });
}

void TTDim::duplicate(int dup)
{
  if (dup != -1 && dup <= 0)
    throw std::invalid_argument("Illegaul value to duplicate: " + std::to_string(dup));
  if (numDuplicated > 1)
    throw std::invalid_argument("Dimension already duplicated");
  if (originalSize > 1)
    throw std::invalid_argument("Dimension has size larger than 1 and cannot be duplicated");
  const int64_t wholeTile = (complexPacked ? 2 : 1) * static_cast<int64_t>(tileSize);
  if (dup == -1 && wholeTile > INT32_MAX)
    throw std::invalid_argument("Duplicating dim [" + toString() + "] over its tile takes " +
                                std::to_string(wholeTile) + " values, more than an int can count");
  change([&] {
    originalSize = 1;
    if (interleaved)
      externalSize = 1;
    numDuplicated = dup == -1 ? static_cast<int>(wholeTile) : dup;
  });
}

void TTDim::setDiagonalized(bool value, int block)
{
  change([&] {
    diagonalized = value;
    diagonalizedBlock = block;
  });
}

void TTDim::applyCompatibilityAdjustments(const TTDim& other, ActionType actionType)
{
  if (diagonalized || other.diagonalized)
    throw std::runtime_error("Internal: can't apply compatibility adjustments on diagonalized dims");
  const int thisUnused = getNumUnusedSlots();
  const int otherUnused = other.getNumUnusedSlots();
  const bool thisFullyDuplicated = isFullyDuplicated();
  change([&] {
    if (thisFullyDuplicated) {
      interleaved = other.interleaved;
      externalSize = other.externalSize;
    }
    originalSize = std::max(originalSize, other.originalSize);
    numDuplicated = std::min(numDuplicated, other.numDuplicated);
    const bool multiplicative = actionType == MULTIPLICATIVE_ACTION_TYPE;
    if (thisUnused == otherUnused)
      areUnusedSlotsUnknown = multiplicative
                                  ? areUnusedSlotsUnknown && other.areUnusedSlotsUnknown
                                  : areUnusedSlotsUnknown || other.areUnusedSlotsUnknown;
    else if (multiplicative)
      areUnusedSlotsUnknown =
          thisUnused > otherUnused ? areUnusedSlotsUnknown : other.areUnusedSlotsUnknown;
    else
      areUnusedSlotsUnknown = true;
    complexPacked = complexPacked || other.complexPacked;
  });
}

TTDim TTDim::getIncompleteTileSizeAndInterleaved() const
{
  TTDim res(-1, tileSize);
  if (interleaved) {
    res.interleaved = true;
    if (externalSize != getMinExternalSize())
      res.externalSize = externalSize;
  }
  res.validate();
  return res;
}

// ---- Validation ----

void TTDim::validateFields() const
{
  if (originalSize == -1 && (numDuplicated > 1 || areUnusedSlotsUnknown))
    throw std::invalid_argument("Incomplete shape must not have duplicated or unknown values");
  if (originalSize <= 0 && originalSize != -1)
    throw std::invalid_argument(
        "Original size must be a positive number (or -1 to mark an incomplete dimension)");
  if (tileSize <= 0)
    throw std::invalid_argument("Tile size must be a positive number");
  if (!MathUtils::isPowerOf2(static_cast<uint64_t>(tileSize)))
    throw std::invalid_argument("Tile size must be a power of 2");
  if (numDuplicated <= 0)
    throw std::invalid_argument("Number of duplicated values must be a positive number");
  TTComplexPackUtils::validateParity(*this);
  // The external size of a diagonalized dimension divides by its block.
  if (diagonalized) {
    if (diagonalizedBlock < 1)
      throw std::invalid_argument(
          "Diagonalized dim must have a positive diagonalized block size. Current block size=" +
          std::to_string(diagonalizedBlock));
    if (diagonalizedBlock % tileSize != 0)
      throw std::invalid_argument(
          "Diagonalized block size must divide tile size. Current block size=" +
          std::to_string(diagonalizedBlock) + ", tile size=" + std::to_string(tileSize));
  }
}

void TTDim::validate() const
{
  validateFields();
  // The slots of the dimension must be countable in an int (an external size
  // below 1 is one that overflowed); so must those an incomplete interleaved
  // dimension keeps an external size for.
  if (!isIncomplete()) {
    const int64_t tiles = getExternalSize();
    if (tiles < 1 || tiles * tileSize > INT32_MAX)
      throw std::invalid_argument("The dimension spans more slots than an int can count");
  } else if (interleaved && static_cast<int64_t>(externalSize) * tileSize > INT32_MAX) {
    throw std::invalid_argument("The dimension spans more slots than an int can count");
  }
  if (interleaved && !isIncomplete() &&
      externalSize > static_cast<int64_t>(MAX_INTERLEAVED_TILES_PER_VALUE) * originalSize)
    throw std::invalid_argument("The interleaved dimension [" + toString() + "] spreads " +
                                std::to_string(originalSize) + " values over " +
                                std::to_string(externalSize) + " tiles, more than " +
                                std::to_string(MAX_INTERLEAVED_TILES_PER_VALUE) +
                                " tiles per value");
  if (getNumDuplicatedSlots() > tileSize)
    throw std::invalid_argument("Number of duplicated values must not exceed the size of the tile");
  if (originalSize > 1 && numDuplicated > 1)
    throw std::invalid_argument(
        "Cannot have duplicated values when original size is greater than 1");
  if (getExternalSize() > 1 && numDuplicated > 1)
    throw std::invalid_argument(
        "Cannot have duplicated values when external size is greater than 1");
  if (areUnusedSlotsUnknown) {
    // A diagonalized dimension spans its size rounded up to a whole block, so
    // its unused slots are counted rather than read from the tile size.
    const bool noUnusedSlots = diagonalized
                                   ? getNumUnusedSlots() == 0
                                   : !interleaved && getOriginalSizeSlots() % tileSize == 0;
    if (noUnusedSlots)
      throw std::invalid_argument(
          "Cannot have unknown values: dimension sizes leave no unused slots");
    if (getNumDuplicatedSlots() == tileSize)
      throw std::invalid_argument(
          "Cannot have unknown values: dimension duplicated values leave no unused slots ");
  }
  TTComplexPackUtils::validate(*this);
  if (diagonalized) {
    if (interleaved || complexPacked || numDuplicated > 1)
      throw std::invalid_argument(
          "Diagonalized dim can't be interleaved, complex packed, or duplicated");
  } else if (diagonalizedBlock != -1) {
    throw std::invalid_argument(
        "A non-diagonalized dim must have an unset diagonalized block size. Current block size=" +
        std::to_string(diagonalizedBlock));
  }
}

// ---- Text and persistence ----

void TTDim::debugPrint(const std::string&, Verbosity, std::ostream& out) const
{
  if (numDuplicated < 2) {
    out << originalSize;
  } else {
    out << "*";
    if (!isFullyDuplicated())
      out << numDuplicated;
  }
  if (areUnusedSlotsUnknown)
    out << "?";
  if (interleaved) {
    out << "~";
    if (externalSize != getMinExternalSize())
      out << externalSize;
  }
  if (complexPacked)
    out << "(c)";
  if (tileSize != 1)
    out << "/" << tileSize;
}

std::streamoff TTDim::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, originalSize);
  BinIoUtils::writeInt32(out, tileSize);
  BinIoUtils::writeInt32(out, numDuplicated);
  BinIoUtils::writeBool(out, areUnusedSlotsUnknown);
  BinIoUtils::writeBool(out, complexPacked);
  BinIoUtils::writeBool(out, interleaved);
  if (interleaved)
    BinIoUtils::writeInt32(out, externalSize);
  BinIoUtils::writeBool(out, diagonalized);
  if (diagonalized)
    BinIoUtils::writeInt32(out, diagonalizedBlock);
  return 16 + (interleaved ? 4 : 0) + (diagonalized ? 4 : 0);
}

std::streamoff TTDim::load(std::istream& in)
{
  TTDim loaded;
  loaded.originalSize = BinIoUtils::readInt32(in);
  loaded.tileSize = BinIoUtils::readInt32(in);
  loaded.numDuplicated = BinIoUtils::readInt32(in);
  loaded.areUnusedSlotsUnknown = BinIoUtils::readBool(in);
  loaded.complexPacked = BinIoUtils::readBool(in);
  loaded.interleaved = BinIoUtils::readBool(in);
  if (loaded.interleaved)
    loaded.externalSize = BinIoUtils::readInt32(in);
  loaded.diagonalized = BinIoUtils::readBool(in);
  loaded.diagonalizedBlock = loaded.diagonalized ? BinIoUtils::readInt32(in) : -1;
  // Every field is checked before a size is derived from it.
  try {
    loaded.validateFields();
    const int minimum = loaded.getMinExternalSize();
    const int external = loaded.externalSize;
    if (!loaded.interleaved)
      loaded.externalSize = minimum;
    else if (loaded.isIncomplete() && external != -1 && external < 1)
      throw std::invalid_argument("Interleaved external size " + std::to_string(external) +
                                  " of an incomplete dimension must be -1 or positive");
    else if (!loaded.isIncomplete() && external < minimum)
      throw std::invalid_argument("Interleaved external size " + std::to_string(external) +
                                  " is below the minimum " + std::to_string(minimum));
    loaded.validate();
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("Invalid saved TTDim: ") + e.what());
  }
  *this = loaded;
  return 16 + (loaded.interleaved ? 4 : 0) + (loaded.diagonalized ? 4 : 0);
}

} // namespace quorvane
