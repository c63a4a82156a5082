#include "math/aes/impl/AesElement.h"

#include <chrono>
#include <cmath>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <algorithm>
#include <utility>

#include "hebase/BootstrapEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

// Bytes of the fields before the tiles: packed, numBlocks, lsbFirst,
// bytesSize, bitsSize.
constexpr std::streamoff FIELDS_SIZE = 1 + 4 + 1 + 4 + 4;

int64_t steadyNanoseconds()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

} // namespace

AesElement::AesElement(const HeContext& he, Verbosity verbosity, std::ostream* out)
    : he(he), verbosity(verbosity), out(out)
{
  QV_ASSERT(out != nullptr);
}

AesElement::AesElement(const AesElement& src)
    : SaveableBasic(src), he(src.he), packed(src.packed), numBlocks(src.numBlocks),
      lsbFirst(src.lsbFirst), verbosity(src.verbosity), out(src.out)
{
  tiles.reserve(src.tiles.size());
  for (const auto& row : src.tiles) {
    std::vector<std::shared_ptr<CTile>> copy;
    copy.reserve(row.size());
    for (const auto& bit : row)
      copy.push_back(bit ? std::make_shared<CTile>(*bit) : nullptr);
    tiles.push_back(std::move(copy));
  }
}

AesElement::~AesElement() {}

void AesElement::heEncrypt(const std::vector<std::vector<uint8_t>>& blocks, int chainIndex,
                           bool lsbFirst)
{
  if (packed)
    throw std::runtime_error("This AES element has already been packed");
  validateBlocks(blocks);

  // Encrypted into new rows first; the element changes only on success.
  const size_t numBytes = blocks.front().size();
  Encoder encoder(he);
  std::vector<std::vector<std::shared_ptr<CTile>>> encrypted(numBytes);
  for (size_t i = 0; i < numBytes; ++i) {
    for (int j = 0; j < AesUtils::numBitsInByte; ++j) {
      std::vector<int> bits(he.slotCount(), 0);
      for (size_t k = 0; k < blocks.size(); ++k)
        bits[k] = AesUtils::getBitAt(blocks[k][i], j, lsbFirst) ? 1 : 0;
      auto tile = std::make_shared<CTile>(he);
      encoder.encodeEncrypt(*tile, bits, chainIndex);
      encrypted[i].push_back(std::move(tile));
    }
  }
  numBlocks = static_cast<int>(blocks.size());
  this->lsbFirst = lsbFirst;
  tiles = std::move(encrypted);
  packed = true;
  printStatus("encrypted under FHE");
}

void AesElement::validateBlocks(const std::vector<std::vector<uint8_t>>& blocks) const
{
  if (blocks.empty())
    throw std::runtime_error("No data was given to encrypt in AES element");
  if (blocks.size() > static_cast<size_t>(he.slotCount()))
    throw std::runtime_error(
        "Number of AES blocks exceeds the maximal number (determined by the number of slots of "
        "the HeContext). Number of given AES blocks= " +
        std::to_string(blocks.size()) +
        ". Maximal possible number of AES blocks= " + std::to_string(he.slotCount()));
  const size_t firstSize = blocks.front().size();
  if (firstSize == 0)
    throw std::runtime_error("An empty AES block was given");
  for (const auto& block : blocks)
    if (block.size() != firstSize)
      throw std::runtime_error("All AES blocks should be of the same size. Received first block "
                               "of size " +
                               std::to_string(firstSize) +
                               " bytes and another block exists with size " +
                               std::to_string(block.size()) + " bytes");
}

void AesElement::validate(bool validateSameChainIndex) const
{
  if (!packed)
    throw std::runtime_error("This AES element has not been packed yet");
  QV_ASSERT(!tiles.empty());
  QV_ASSERT(tiles.at(0).size() == AesUtils::numBitsInByte);
  const int chainIndex = tiles.at(0).at(0) ? tiles.at(0).at(0)->getChainIndex() : -1;
  for (const auto& vec : tiles) {
    QV_ASSERT(vec.size() == AesUtils::numBitsInByte);
    for (const auto& ptr : vec) {
      QV_ASSERT(ptr != nullptr);
      QV_ASSERT(!ptr->isEmpty());
      QV_ASSERT(!validateSameChainIndex || ptr->getChainIndex() == chainIndex);
    }
  }
}

int AesElement::getChainIndex() const
{
  validate(true);
  return tiles[0][0]->getChainIndex();
}

void AesElement::setChainIndex(int chainIndex)
{
  validate(true);
  for (auto& row : tiles)
    for (auto& bit : row)
      bit->setChainIndex(chainIndex);
}

void AesElement::alignChainIndexes()
{
  // The first tile (checked indexing) starts the range; it is asserted like
  // every other tile before its chain index is read.
  (void)tiles.at(0).at(0);
  int minChainIndex = 0;
  int maxChainIndex = 0;
  bool first = true;
  for (const auto& row : tiles)
    for (const auto& bit : row) {
      QV_ASSERT(bit != nullptr);
      const int chainIndex = bit->getChainIndex();
      minChainIndex = first ? chainIndex : std::min(minChainIndex, chainIndex);
      maxChainIndex = first ? chainIndex : std::max(maxChainIndex, chainIndex);
      first = false;
    }
  if (minChainIndex == maxChainIndex)
    return;
  for (auto& row : tiles)
    for (auto& bit : row) {
      QV_ASSERT(bit != nullptr);
      bit->setChainIndex(minChainIndex);
    }
}

void AesElement::bootstrap()
{
  validate(true);
  BootstrapEvaluator& evaluator = he.getBootstrapEvaluator();
  for (auto& row : tiles)
    for (int j = 0; j < AesUtils::numBitsInByte; j += 2)
      evaluator.bootstrap(*row[j], *row[j + 1]);
  printStatus("finished bootstrap");
}

std::shared_ptr<CTile> AesElement::getBit(int byteIndex, int bitIndex) const
{
  return tiles.at(byteIndex).at(bitIndex);
}

std::shared_ptr<CTile> AesElement::getBit(int row, int column, int bitIndex) const
{
  return getBit(row + AesUtils::numBytesInAesRow * column, bitIndex);
}

std::vector<std::shared_ptr<CTile>>& AesElement::getByte(int row, int column)
{
  return tiles.at(row + AesUtils::numBytesInAesRow * column);
}

std::vector<std::shared_ptr<CTile>> AesElement::getAllBits() const
{
  validate(false);
  std::vector<std::shared_ptr<CTile>> bits;
  bits.reserve(tiles.size() * AesUtils::numBitsInByte);
  for (const auto& row : tiles)
    bits.insert(bits.end(), row.begin(), row.end());
  return bits;
}

void AesElement::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  validate(true);
  if (verbosity <= VERBOSITY_LOW)
    return;
  if (verbosity > VERBOSITY_REGULAR)
    out << "\n";
  out << "AES " << title << ", chain index: " << getChainIndex() << "\n";
  if (verbosity == VERBOSITY_REGULAR)
    return;

  const int64_t now = steadyNanoseconds();
  if (lastPrintTimeSet)
    out << "Time since last print (s): " << (now - lastPrintTime) / 1000000000 << "\n";
  lastPrintTimeSet = true;
  lastPrintTime = now;
  out << "Memory used (MB): " << getMemoryUsedMb() << "\n";

  if (he.hasSecretKey()) {
    Encoder encoder(he);
    double sum = 0;
    double maxNoise = 0;
    for (const auto& row : tiles)
      for (const auto& bit : row)
        for (double v : encoder.decryptDecodeDouble(*bit)) {
          double noise = std::abs(v - std::round(v));
          sum += noise;
          maxNoise = std::max(maxNoise, noise);
        }
    const double count =
        static_cast<double>(tiles.size()) * he.slotCount() * AesUtils::numBitsInByte;
    out << "Average noise: " << sum / count << "\n";
    out << "Max noise: " << maxNoise << "\n";
  }
  if (verbosity != VERBOSITY_DETAILED)
    printDecryptedBlocks(false, false);
}

void AesElement::printStatus(const std::string& title) const { debugPrint(title, verbosity, *out); }

void AesElement::printDecryptedBlocks(bool asMatrix, bool binary) const
{
  Encoder encoder(he);
  std::vector<std::vector<std::vector<int>>> values(AesUtils::numBytesInAesBlock);
  for (int i = 0; i < AesUtils::numBytesInAesBlock; ++i)
    for (int j = 0; j < AesUtils::numBitsInByte; ++j)
      values[i].push_back(encoder.decryptDecodeInt(*tiles.at(i).at(j)));
  for (int k = 0; k < numBlocks; ++k) {
    std::vector<uint8_t> bytes(AesUtils::numBytesInAesBlock, 0);
    for (int i = 0; i < AesUtils::numBytesInAesBlock; ++i)
      for (int j = 0; j < AesUtils::numBitsInByte; ++j)
        bytes[i] ^= static_cast<uint8_t>(values[i][j][k] << (lsbFirst ? j : 7 - j));
    AesUtils::printBytes(bytes, asMatrix, binary);
  }
}

std::streamoff AesElement::save(std::ostream& out) const
{
  validate(true);
  // A longer element could not be loaded back.
  if (tiles.size() > static_cast<size_t>(AesUtils::maxNumBytesInElement))
    throw std::runtime_error("Cannot save an AES element of " + std::to_string(tiles.size()) +
                             " bytes: at most " +
                             std::to_string(AesUtils::maxNumBytesInElement) +
                             " bytes can be saved");
  BinIoUtils::writeBool(out, packed);
  BinIoUtils::writeInt32(out, numBlocks);
  BinIoUtils::writeBool(out, lsbFirst);
  BinIoUtils::writeInt32Size(out, tiles.size(), "AES element rows");
  BinIoUtils::writeInt32(out, AesUtils::numBitsInByte);
  std::streamoff written = FIELDS_SIZE;
  for (const auto& row : tiles)
    for (const auto& bit : row)
      written += bit->save(out);
  return written;
}

std::streamoff AesElement::load(std::istream& in)
{
  const bool loadedPacked = BinIoUtils::readBool(in);
  const int32_t loadedNumBlocks =
      BinIoUtils::readRecordField(in, "AES element", "numBlocks", 0, he.slotCount());
  const bool loadedLsbFirst = BinIoUtils::readBool(in);
  const int32_t bytesSize = BinIoUtils::readInt32(in);
  const int32_t bitsSize = BinIoUtils::readInt32(in);
  QV_ASSERT(bytesSize <= AesUtils::maxNumBytesInElement);
  QV_ASSERT(bytesSize > 0);
  QV_ASSERT(bitsSize == AesUtils::numBitsInByte);

  std::streamoff read = FIELDS_SIZE;
  std::vector<std::vector<std::shared_ptr<CTile>>> loadedTiles(bytesSize);
  for (auto& row : loadedTiles)
    for (int j = 0; j < bitsSize; ++j) {
      auto tile = std::make_shared<CTile>(he);
      read += tile->load(in);
      row.push_back(std::move(tile));
    }

  // The loaded fields replace the element's only when they pass validation.
  const bool oldPacked = packed;
  const int oldNumBlocks = numBlocks;
  const bool oldLsbFirst = lsbFirst;
  packed = loadedPacked;
  numBlocks = loadedNumBlocks;
  lsbFirst = loadedLsbFirst;
  tiles.swap(loadedTiles);
  try {
    validate(true);
  } catch (...) {
    packed = oldPacked;
    numBlocks = oldNumBlocks;
    lsbFirst = oldLsbFirst;
    tiles.swap(loadedTiles);
    throw;
  }
  return read;
}

} // namespace quorvane
