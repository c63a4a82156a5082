#include "math/PTileTensor.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/TTEncoder.h"
#include "math/TTIterator.h"

namespace quorvane {

PTileTensor::PTileTensor(const HeContext& he) : he(&he) {}

PTileTensor::PTileTensor(const HeContext& he, const TTShape& shape) : he(&he)
{
  checkConstructibleShape(shape);
  this->shape = shape;
  tiles = TileArray<PTile>::build(shape.getExternalSizes(), [&] { return PTile(he); });
}

PTileTensor::PTileTensor(const PTileTensor& src)
    : TileTensor(src), he(src.he), tiles(src.tiles),
      rawData(src.rawData ? std::make_unique<DoubleTensor>(*src.rawData) : nullptr)
{
}

PTileTensor::PTileTensor(PTileTensor&& src) noexcept
    : TileTensor(std::move(src)), he(src.he), tiles(std::move(src.tiles)),
      rawData(std::move(src.rawData))
{
  // The source keeps neither tiles nor values.
  src.packed = false;
  src.lazyMode = 0;
  src.tiles.clear();
}

PTileTensor& PTileTensor::operator=(const PTileTensor& src)
{
  if (this != &src)
    *this = PTileTensor(src);
  return *this;
}

PTileTensor& PTileTensor::operator=(PTileTensor&& src) noexcept
{
  if (this == &src)
    return *this;
  TileTensor::operator=(std::move(src));
  he = src.he;
  tiles = std::move(src.tiles);
  rawData = std::move(src.rawData);
  src.packed = false;
  src.lazyMode = 0;
  src.tiles.clear();
  return *this;
}

PTileTensor::~PTileTensor() {}

std::shared_ptr<Saveable> PTileTensor::createAndLoad(const HeContext& he,
                                                     const SaveableHeader& header,
                                                     std::istream& in)
{
  auto res = std::make_shared<PTileTensor>(he);
  res->load(in, header);
  return res;
}

int32_t PTileTensor::getContextId() const
{
  return he->getContextId();
}

std::string PTileTensor::getClassName() const
{
  return "PTileTensor";
}

// ---- Tiles ----

std::vector<size_t> PTileTensor::getIndexStrides() const
{
  return tiles.getStrides();
}

const PTile& PTileTensor::getTile(int flatIndex) const
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles[flatIndex];
}

const Tile& PTileTensor::getTileByFlatIndex(int flatIndex) const
{
  return getTile(flatIndex);
}

Tile& PTileTensor::getMutableTile(int flatIndex)
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles[flatIndex];
}

std::shared_ptr<Tile> PTileTensor::getSharedTile(int flatIndex)
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles.share(flatIndex);
}

size_t PTileTensor::getTileArraySize() const
{
  return tiles.size();
}

int PTileTensor::getNumUsedTiles() const
{
  if (lazyMode == LAZY_ENCODING)
    return shape.getNumUsedTiles();
  return TileTensor::getNumUsedTiles();
}

// ---- Double dispatch: this tensor as the plaintext operand ----
// The caller is the operand, so the refusals name the ciphertext tensor as
// the argument.

CTileTensor PTileTensor::getMultiply(const CTileTensor& other) const
{
  return other.workOnCopy(
      [&](CTileTensor& t) { t.applyElementWise(CTileTensor::MULTIPLY_PLAIN, *this, true); });
}

CTileTensor PTileTensor::getMultiplyRaw(const CTileTensor& other) const
{
  return other.workOnCopy(
      [&](CTileTensor& t) { t.applyElementWise(CTileTensor::MULTIPLY_PLAIN_RAW, *this, true); });
}

CTileTensor PTileTensor::getAdd(const CTileTensor& other) const
{
  return other.workOnCopy(
      [&](CTileTensor& t) { t.applyElementWise(CTileTensor::ADD_PLAIN, *this, true); });
}

CTileTensor PTileTensor::getAddRaw(const CTileTensor& other) const
{
  return other.workOnCopy(
      [&](CTileTensor& t) { t.applyElementWise(CTileTensor::ADD_PLAIN_RAW, *this, true); });
}

void PTileTensor::addTo(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::ADD_PLAIN, *this, true);
}

void PTileTensor::addToRaw(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::ADD_PLAIN_RAW, *this, true);
}

void PTileTensor::subFrom(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::SUB_PLAIN, *this, true);
}

void PTileTensor::subFromRaw(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::SUB_PLAIN_RAW, *this, true);
}

void PTileTensor::multiplyTo(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::MULTIPLY_PLAIN, *this, true);
}

void PTileTensor::multiplyToRaw(CTileTensor& target) const
{
  target.applyElementWise(CTileTensor::MULTIPLY_PLAIN_RAW, *this, true);
}

CTileTensor PTileTensor::getMultiplyAndSum(const CTileTensor& other, int sumDim) const
{
  return other.workOnCopy([&](CTileTensor& t) {
    t.applyMultiplyAndSum(*this, sumDim, CTileTensor::MULTIPLY_PLAIN_RAW, true);
  });
}

void PTileTensor::multiplyAndSumTo(CTileTensor& target, int sumDim) const
{
  target.applyMultiplyAndSum(*this, sumDim, CTileTensor::MULTIPLY_PLAIN_RAW, true);
}

// ---- Chain indexes and lazy encoding ----

int PTileTensor::getChainIndex() const
{
  if (lazyMode == LAZY_ENCODING)
    return lazyChainIndex;
  validatePackedShape();
  checkTileHoldsValues(0);
  return tiles[0].getChainIndex();
}

void PTileTensor::setLazyChainIndex(int chainIndex)
{
  if (he->getTraits().getSupportsExplicitChainIndices() &&
      (chainIndex < 0 || chainIndex > he->getTopChainIndex()))
    throw std::runtime_error("Error - Chain index out of range. newChainIndex=" +
                             std::to_string(chainIndex) + ", should be 0..." +
                             std::to_string(he->getTopChainIndex()));
  lazyChainIndex = chainIndex;
}

void PTileTensor::setChainIndex(int chainIndex)
{
  SectionTimer timer("PTileTensor::setChainIndex");
  const int previousLazyChainIndex = lazyChainIndex;
  if (lazyMode == LAZY_ENCODING) {
    setLazyChainIndex(chainIndex);
    if (!packed)
      return;
  }
  // New tiles first; the lazy index and the tiles change only when both succeeded.
  std::vector<std::shared_ptr<PTile>> result;
  try {
    validatePacked();
    result.reserve(tiles.size());
    for (size_t i = 0; i < tiles.size(); ++i) {
      auto tile = std::make_shared<PTile>(tiles[i]);
      tile->setChainIndex(chainIndex);
      result.push_back(std::move(tile));
    }
  } catch (...) {
    lazyChainIndex = previousLazyChainIndex;
    throw;
  }
  tiles.assignValues(TileArray<PTile>(tiles.getExtents(), std::move(result)));
}

void PTileTensor::setChainIndex(const TileTensor& other)
{
  setChainIndex(getArgumentChainIndex(other));
}

void PTileTensor::reduceChainIndex()
{
  SectionTimer timer("PTileTensor::reduceChainIndex");
  setChainIndex(getChainIndex() - 1);
}

PTileTensor PTileTensor::getReduceChainIndex() const
{
  PTileTensor res(*this);
  res.reduceChainIndex();
  return res;
}

PTileTensor PTileTensor::getSetChainIndex(const TileTensor& other) const
{
  PTileTensor res(*this);
  res.setChainIndex(other);
  return res;
}

PTileTensor PTileTensor::getSetChainIndex(int chainIndex) const
{
  PTileTensor res(*this);
  res.setChainIndex(chainIndex);
  return res;
}

void PTileTensor::setRawData(const DoubleTensor& values)
{
  rawData = std::make_unique<DoubleTensor>(values);
}

void PTileTensor::wakeup()
{
  if (lazyMode != LAZY_ENCODING || packed)
    return;
  PTileTensor encoded(*he);
  TTEncoder(*he, 0).encode(encoded, shape, *rawData, lazyChainIndex);
  tiles = std::move(encoded.tiles);
  packed = true;
}

void PTileTensor::sleep()
{
  if (lazyMode != LAZY_ENCODING)
    return;
  packed = false;
  tiles.clear();
}

void PTileTensor::endLazyMode()
{
  lazyMode = 0;
  rawData.reset();
}

// ---- Integrity ----

double PTileTensor::assertIntegrity(double epsilon) const
{
  if (!packed)
    return 0;
  validatePacked();
  TTEncoder ttEncoder(*he, 0);
  ttEncoder.getEncoder().setDecryptAddedNoiseEnabled(false);
  Encoder encoder(*he);
  encoder.setDecryptAddedNoiseEnabled(false);
  const DoubleTensor expected = ttEncoder.decodeDouble(*this);
  const double* values = expected.data();
  const int complexDim = shape.getComplexPackedDim();
  const bool duplicatedComplex =
      complexDim >= 0 && shape.getDim(complexDim).getNumDuplicated() > 1;

  TTIterator it(shape);
  double largest = 0;
  // Compares one part of the current slot; reports and throws beyond epsilon.
  auto check = [&](double actual, double wanted) {
    const double diff = std::abs(actual - wanted);
    if (diff > epsilon) {
      std::cout << "Tile tensor integrity check failed." << std::endl;
      if (!it.isUsedSlot())
        std::cout << "At an unused slot location" << std::endl;
      std::cout << "Tile tensor iterator at current position:" << std::endl;
      it.print(std::cout);
      const std::ios::fmtflags flags = std::cout.flags();
      const std::streamsize precision = std::cout.precision(8);
      std::cout << "Actual value: " << actual << std::endl;
      std::cout << "Expected value: " << wanted << std::endl;
      std::cout << "Diff: " << diff << std::endl;
      std::cout << "Epsilon: " << epsilon << std::endl;
      std::cout.flags(flags);
      std::cout.precision(precision);
      throw std::runtime_error("Tile tensor integrity check failed.");
    }
    largest = std::max(largest, diff);
  };
  for (int t = 0; t < static_cast<int>(tiles.size()); ++t) {
    it.setTileFlatIndex(t);
    std::vector<std::complex<double>> slots;
    if (complexDim >= 0) {
      slots = encoder.decodeComplex(tiles[t]);
    } else {
      const std::vector<double> real = encoder.decodeDouble(tiles[t]);
      slots.assign(real.begin(), real.end());
    }
    do {
      const bool used = it.isUsedSlot();
      if (!used && it.getNumUnknowns() > 0)
        continue;
      const std::complex<double> slot = slots[it.getSlotIndex()];
      check(slot.real(), used ? values[it.getOriginalFlatIndex()] : 0);
      if (complexDim >= 0)
        check(slot.imag(), !used ? 0
                           : duplicatedComplex ? values[it.getOriginalFlatIndex()]
                                               : values[it.getImagFlatIndex()]);
    } while (it.next());
  }
  return largest;
}

// ---- Printing ----

void PTileTensor::debugPrint(const std::string& title, Verbosity verbosity,
                             std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  // The content is read from the tiles: refused before anything is printed.
  if (verbosity >= VERBOSITY_REGULAR && packed)
    validatePacked();
  printHeadline(out, "PTileTensor", title);
  if (verbosity >= VERBOSITY_REGULAR && packed) {
    out << std::endl;
    printLogicalContent(out);
  }
  if (verbosity >= VERBOSITY_DETAILED && packed) {
    printTiles(out, verbosity);
  }
}

void PTileTensor::printLogicalContent(std::ostream& out) const
{
  out << std::endl << "Tile tensor logical content:" << std::endl;
  TTEncoder(*he, 0).decodeDouble(*this).printAs2dArray(out, true);
  out << std::endl;
  if (!getPrintOptions().ttDemoTiles || debugPrintTileArray(out))
    return;
  out << "Tiles:" << std::endl;
  const Encoder encoder(*he);
  const PrintOptions& options = getPrintOptions();
  TensorIterator it = getTileIterator();
  do {
    out << std::endl << "Tile" << intVectorToString(it.getIndices(), false) << std::endl;
    if (canPrintTileArray()) {
      getTileTextBox(it.getPos()).debugPrint("", VERBOSITY_REGULAR, out);
      continue;
    }
    const std::vector<double> slots = encoder.decodeDouble(tiles[it.getPos()]);
    const int count = static_cast<int>(slots.size());
    const int head = std::max(0, std::min(count, options.numPrintedElements));
    const int tailStart = std::max(head, count - std::max(0, options.numPrintedLastElements));
    out << "[";
    for (int i = 0; i < head; ++i)
      out << (i > 0 ? "," : "") << slots[i];
    if (tailStart > head)
      out << " ... ";
    for (int i = tailStart; i < count; ++i)
      out << " " << slots[i];
    out << "]";
  } while (it.next());
}

bool PTileTensor::canPrintTileArray() const
{
  const std::vector<int> tileSizes = shape.getTileSizes();
  for (int size : tileSizes)
    if (size > 80)
      return false;
  return !get2dArrayDims(tileSizes).empty();
}

TextBox PTileTensor::getTileTextBox(int flatIndex) const
{
  const std::vector<double> slots = Encoder(*he).decodeDouble(getTile(flatIndex));
  DoubleTensor layout(shape.getTileSizes());
  layout.init(slots, false);
  std::ostringstream text;
  layout.printAs2dArray(text, false);
  TextBox box(text.str());
  box.addBorder();
  return box;
}

bool PTileTensor::debugPrintTileArray(std::ostream& out) const
{
  if (!canPrintTileArray())
    return false;
  const std::vector<int> external = shape.getExternalSizes();
  const std::vector<int> tileSizes = shape.getTileSizes();
  const std::vector<int> displayDims = get2dArrayDims(external);
  if (displayDims.empty())
    return false;
  const int lastDim = displayDims.back();
  const int lastTileDim = get2dArrayDims(tileSizes).back();
  if ((external[lastDim] + 2) * tileSizes[lastTileDim] >= 151)
    return false;
  out << "Tile array:" << std::endl;
  std::vector<std::string> titles;
  std::vector<TextBox> boxes;
  TensorIterator it(external, false);
  do {
    const std::vector<int>& indices = it.getIndices();
    int flat = 0;
    int stride = 1;
    for (size_t i = 0; i < indices.size(); ++i) {
      flat += indices[i] * stride;
      stride *= external[i];
    }
    titles.push_back("Tile" + intVectorToString(indices, false));
    boxes.push_back(getTileTextBox(flat));
    if (indices[lastDim] == external[lastDim] - 1) {
      TextBox::printRow(out, titles, boxes, 2);
      out << std::endl;
      titles.clear();
      boxes.clear();
    }
  } while (it.next());
  return true;
}

// ---- Persistence ----

void PTileTensor::saveImpl(std::ostream& out) const
{
  QV_ASSERT((lazyMode != LAZY_ENCODING) || rawData);
  shape.save(out);
  BinIoUtils::writeBool(out, packed);
  BinIoUtils::writeInt32(out, lazyMode);
  BinIoUtils::writeInt32(out, lazyChainIndex);
  if (lazyMode == LAZY_ENCODING)
    rawData->save(out);
  if (packed)
    for (size_t i = 0; i < tiles.size(); ++i)
      tiles[i].save(out);
}

void PTileTensor::loadImpl(std::istream& in)
{
  PTileTensor loaded(*he);
  loaded.shape.load(in);
  loaded.packed = BinIoUtils::readBool(in);
  loaded.lazyMode = BinIoUtils::readRecordField(in, "PTileTensor", "lazy mode", 0, LAZY_ENCODING);
  const int32_t chainIndex = BinIoUtils::readInt32(in);
  const bool lazy = loaded.lazyMode == LAZY_ENCODING;
  const TTShape& s = loaded.shape;
  if (loaded.packed || lazy)
    checkLoadedShape(s, *he, "PTileTensor");
  if (lazy) {
    loaded.setLazyChainIndex(chainIndex);
    loaded.rawData = std::make_unique<DoubleTensor>();
    loaded.rawData->load(in);
    if (loaded.rawData->getShape() != s.getOriginalSizes())
      throw std::runtime_error("Invalid saved PTileTensor: the raw values have shape " +
                               loaded.rawData->getShapeAsString() + ", the shape " +
                               s.toString() + " needs " + shapeToString(s.getOriginalSizes(), -2));
  } else {
    loaded.lazyChainIndex = chainIndex;
  }
  if (loaded.packed) {
    const int count = s.getNumUsedTiles();
    std::vector<std::shared_ptr<PTile>> loadedTiles;
    // Tiles are read one at a time, so a corrupt shape allocates no more than the stream holds.
    for (int i = 0; i < count; ++i) {
      auto tile = std::make_shared<PTile>(*he);
      tile->load(in);
      checkLoadedTile(*tile, i, "PTileTensor");
      loadedTiles.push_back(std::move(tile));
    }
    loaded.tiles = TileArray<PTile>(s.getExternalSizes(), std::move(loadedTiles));
  } else if (!lazy && s.getNumDims() > 0 && !s.isIncomplete()) {
    // An unpacked tensor made from a shape holds empty tiles, as its constructor makes them.
    if (static_cast<uint64_t>(s.getNumUsedTiles()) > BinIoUtils::MAX_ELEMENT_COUNT)
      throw std::runtime_error("Invalid saved PTileTensor: the shape has " +
                               std::to_string(s.getNumUsedTiles()) + " tiles, expected at most " +
                               std::to_string(BinIoUtils::MAX_ELEMENT_COUNT));
    loaded.tiles = TileArray<PTile>::build(s.getExternalSizes(), [&] { return PTile(*he); });
  }
  shape = std::move(loaded.shape);
  packed = loaded.packed;
  lazyMode = loaded.lazyMode;
  lazyChainIndex = loaded.lazyChainIndex;
  rawData = std::move(loaded.rawData);
  tiles.assignValues(std::move(loaded.tiles));
}

} // namespace quorvane
