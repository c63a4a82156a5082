#include "math/aes/AesTtPacker.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/NumberConfig.h"
#include "hebase/utils/Assert.h"
#include "math/CTileTensor.h"
#include "math/DataPacking.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/TTPermutator.h"
#include "math/TensorIterator.h"
#include "math/aes/AesConverter.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

/// The shortest text that reads back as the same double.
std::string numberText(double value)
{
  char text[64];
  const std::to_chars_result res = std::to_chars(text, text + sizeof text, value);
  return std::string(text, res.ptr);
}

template <typename T>
std::vector<uint8_t> littleEndianBytes(T value)
{
  const uint64_t bits = static_cast<std::make_unsigned_t<T>>(value);
  std::vector<uint8_t> res(sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i)
    res[i] = static_cast<uint8_t>(bits >> (8 * i));
  return res;
}

/// The two's-complement bytes of value x 2^fractionBits truncated toward
/// zero; refused unless that integer fits the configuration's bits.
std::vector<uint8_t> integerBytes(double value, const NumberConfig& numberConfig, int fractionBits)
{
  const int numBits = numberConfig.getNumBits();
  const bool isSigned = numberConfig.isSigned();
  const double lo = isSigned ? -std::ldexp(1.0, numBits - 1) : 0.0;
  const double hi = isSigned ? std::ldexp(1.0, numBits - 1) - 1 : std::ldexp(1.0, numBits) - 1;
  const double truncated = std::trunc(std::ldexp(value, fractionBits));
  if (!(truncated >= lo && truncated <= hi)) {
    std::string format = std::string(isSigned ? "a signed " : "an unsigned ") + std::to_string(numBits) +
                         "-bit ";
    format += numberConfig.isInteger()
                  ? "integer"
                  : "fixed-point number with " + std::to_string(fractionBits) + " fraction bits";
    std::string truncation = "truncated toward zero";
    if (fractionBits > 0)
      truncation += " to a multiple of 2^-" + std::to_string(fractionBits);
    throw std::invalid_argument("Value " + numberText(value) + " is out of range for " + format +
                                ": expected a number from " +
                                numberText(std::ldexp(lo, -fractionBits)) + " to " +
                                numberText(std::ldexp(hi, -fractionBits)) + " (" + truncation +
                                ")");
  }
  const int64_t v = static_cast<int64_t>(truncated);
  switch (numBits) {
  case 32:
    return AesTtPacker::toBytes(static_cast<int32_t>(static_cast<uint32_t>(v)));
  case 16:
    return AesTtPacker::toBytes(static_cast<int16_t>(static_cast<uint16_t>(v)));
  default:
    return AesTtPacker::toBytes(static_cast<uint8_t>(v));
  }
}

/// The bytes of the nearest binary32 number; refused unless it is 0 or its
/// exponent is one that the numbers extraction gives back (2^-31 to 2^32).
std::vector<uint8_t> float32Bytes(double value)
{
  const double lo = std::ldexp(1.0, -31);
  const double hi = std::ldexp(1.0, 33);
  bool fits = value == 0 || std::fabs(value) < hi;
  float rounded = 0;
  if (fits && value != 0) {
    rounded = static_cast<float>(value);
    const double magnitude = std::fabs(static_cast<double>(rounded));
    fits = magnitude >= lo && magnitude < hi;
  }
  if (!fits)
    throw std::invalid_argument("Value " + numberText(value) +
                                " is out of range for a 32-bit floating-point number: expected 0 "
                                "or a magnitude of at least 2^-31 (" +
                                numberText(lo) + ") and below 2^33 (" + numberText(hi) +
                                ") after rounding to binary32");
  if (value == 0)
    rounded = static_cast<float>(value);
  int32_t bits;
  std::memcpy(&bits, &rounded, sizeof bits);
  return AesTtPacker::toBytes(bits);
}

/// Refuses a result of another context than he.
void checkResultContext(const EncryptedData& res, const HeContext& he)
{
  if (res.getContextId() != he.getContextId())
    throw std::invalid_argument(
        "The result encrypted data belongs to another context (context id " +
        std::to_string(res.getContextId()) + ", expected " + std::to_string(he.getContextId()) +
        ")");
}

/// The numbers, those at the minimal chain index for bootstrapping replaced by
/// bootstrapped copies: masking them would otherwise leave the range that
/// bootstrapping accepts.
AesTtPacker::NumberBatches bootstrapNumbersAtMin(const AesTtPacker::NumberBatches& batches)
{
  const HeContext& he = batches.at(0).at(0)->getHeContext();
  if (!he.getBootstrappable())
    return batches;
  const int m = he.getMinChainIndexForBootstrapping();
  AesTtPacker::NumberBatches res = batches;
  for (std::vector<std::shared_ptr<CTile>>& batch : res)
    for (std::shared_ptr<CTile>& tile : batch)
      if (tile->getChainIndex() == m) {
        auto copy = std::make_shared<CTile>(*tile);
        copy->bootstrap();
        tile = copy;
      }
  return res;
}

} // namespace

std::vector<std::vector<AesTtPacker::Location>>
AesTtPacker::getLocations(const std::vector<int>& numValsPerTensor,
                          const NumberConfig& numberConfig)
{
  const size_t numValsPerBlock = AesUtils::numBitsInAesRoundKey / numberConfig.getNumBits();
  std::vector<std::vector<Location>> res;
  size_t n = 0;
  for (int count : numValsPerTensor) {
    std::vector<Location> locations;
    for (int e = 0; e < count; ++e, ++n)
      locations.emplace_back(std::make_pair(n % numValsPerBlock, n / numValsPerBlock));
    res.push_back(std::move(locations));
  }
  return res;
}

std::vector<std::vector<uint8_t>>
AesTtPacker::createPlainBlocks(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                               const std::vector<std::vector<Location>>& locations,
                               const NumberConfig& numberConfig)
{
  size_t numBlocks = 1;
  for (const std::vector<Location>& tensorLocations : locations)
    for (const Location& location : tensorLocations)
      if (location.has_value())
        numBlocks = std::max(numBlocks, location->second + 1);
  std::vector<std::vector<uint8_t>> blocks(numBlocks,
                                           std::vector<uint8_t>(AesUtils::numBytesInAesBlock, 0));
  const size_t numBytes = static_cast<size_t>(numberConfig.getNumBits()) / AesUtils::numBitsInByte;
  for (size_t t = 0; t < inputs.size(); ++t) {
    const std::shared_ptr<DoubleTensor>& input = inputs[t];
    QV_ASSERT(input != nullptr);
    for (int e = 0; e < input->size(); ++e) {
      const Location& location = locations.at(t).at(e);
      if (!location.has_value())
        continue;
      const std::vector<uint8_t> bytes = extractBytes(input->data()[e], numberConfig);
      std::vector<uint8_t>& block = blocks.at(location->second);
      for (size_t l = 0; l < numBytes; ++l)
        block.at(l + numBytes * location->first) = bytes.at(l);
    }
  }
  return blocks;
}

std::vector<uint8_t> AesTtPacker::extractBytes(double value, const NumberConfig& numberConfig)
{
  if (numberConfig.isFloatingPoint() && numberConfig.getNumBits() == 32)
    return float32Bytes(value);
  if (numberConfig.isInteger())
    return integerBytes(value, numberConfig, 0);
  if (numberConfig.isFixedPoint())
    return integerBytes(value, numberConfig,
                        static_cast<int>(numberConfig.getFractionalPartBits()));
  throw std::runtime_error("Number config not supported for bytes extraction");
}

std::vector<uint8_t> AesTtPacker::toBytes(uint8_t value) { return littleEndianBytes(value); }

std::vector<uint8_t> AesTtPacker::toBytes(int16_t value) { return littleEndianBytes(value); }

std::vector<uint8_t> AesTtPacker::toBytes(int32_t value) { return littleEndianBytes(value); }

void AesTtPacker::checkTensorPacking(const TensorPacking& packing, int numBlocksPerBatch,
                                     size_t numValues)
{
  packing.validate();
  const TTShape& shape = packing.shape;
  QV_ASSERT(shape.getNumSlotsInTile() == numBlocksPerBatch);
  if (shape.getNumComplexPackedDims() > 0)
    throw std::runtime_error(
        "Packing AES into tile-tensors is not supported for complex-packed shapes");
  if (shape.isIncomplete())
    throw std::invalid_argument("Packing AES into tile-tensors requires a complete shape");
  for (int d = 0; d < shape.getNumDims(); ++d)
    if (shape.getDim(d).getNumDuplicated() > 1 && !shape.getDim(d).isFullyDuplicated())
      throw std::invalid_argument(
          "Packing AES into tile-tensors is not supported for partially duplicated shapes");
  const std::vector<int>& mapping = packing.packedToOrigTensorMapping;
  if (mapping.empty()) {
    const size_t numSlots = static_cast<size_t>(shape.getNumOriginalSlots());
    if (numSlots > numValues)
      throw std::invalid_argument("The packing shape holds " + std::to_string(numSlots) +
                                  " values, but the tensor has " + std::to_string(numValues));
    return;
  }
  for (int index : mapping)
    if (index < 0 || static_cast<size_t>(index) >= numValues)
      throw std::invalid_argument("The packing maps a slot to value " + std::to_string(index) +
                                  ", but the tensor has " + std::to_string(numValues) +
                                  " values");
}

void AesTtPacker::pack(EncryptedData& res, const DataPacking& dataPacking,
                       const NumberBatches& batchesOfBlocks,
                       const std::vector<std::vector<Location>>& locations)
{
  dataPacking.validate();
  QV_ASSERT(dataPacking.getNumItems() == locations.size());
  QV_ASSERT(!batchesOfBlocks.empty());
  QV_ASSERT(!batchesOfBlocks.at(0).empty());
  for (const std::vector<std::shared_ptr<CTile>>& batch : batchesOfBlocks)
    for (const std::shared_ptr<CTile>& tile : batch)
      QV_ASSERT(tile != nullptr);
  const CTile& first = *batchesOfBlocks[0][0];
  const HeContext& he = first.getHeContext();
  checkResultContext(res, he);

  // Every packing is checked before the first batch is added.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  for (size_t item = 0; item < dataPacking.getNumItems(); ++item) {
    QV_ASSERT(dataPacking.getNumSlotsInOrigTensor(item) == locations.at(item).size());
    for (size_t i = 0; i < dataPacking.getNumBatches(); ++i)
      checkTensorPacking(dataPacking.getTensorPacking(item, i), first.slotCount(),
                         locations.at(item).size());
  }
#pragma GCC diagnostic pop

  // Bootstrapped once for all tensors.
  const NumberBatches numbers = bootstrapNumbersAtMin(batchesOfBlocks);
  for (size_t i = 0; i < dataPacking.getNumBatches(); ++i) {
    EncryptedBatch batch(he);
    for (size_t j = 0; j < dataPacking.getNumItems(); ++j) {
      auto tensor = std::make_shared<CTileTensor>(he);
      pack(*tensor, dataPacking.getTensorPacking(j, i), numbers, locations[j]);
      batch.addItem(tensor);
    }
    res.addBatch(batch);
  }
}

void AesTtPacker::pack(CTileTensor& res, const TensorPacking& packing,
                       const NumberBatches& batchesOfBlocks, const std::vector<Location>& locations)
{
  const size_t numBatches = batchesOfBlocks.size();
  QV_ASSERT(numBatches > 0);
  const size_t numValsPerBlock = batchesOfBlocks.at(0).size();
  QV_ASSERT(numValsPerBlock > 0);
  for (const std::vector<std::shared_ptr<CTile>>& batch : batchesOfBlocks) {
    QV_ASSERT(batch.size() == numValsPerBlock);
    for (const std::shared_ptr<CTile>& tile : batch)
      QV_ASSERT(tile != nullptr);
  }
  const size_t numBlocksPerBatch = static_cast<size_t>(batchesOfBlocks[0][0]->slotCount());
  checkTensorPacking(packing, static_cast<int>(numBlocksPerBatch), locations.size());
  const TTShape& shape = packing.shape;

  // Element coordinates to (number ciphertext, slot).
  TTPermutator::Mapping mapping;
  TensorIterator it(shape.getOriginalSizes(false), true);
  do {
    const size_t indexInOrigTensor =
        packing.packedToOrigTensorMapping.empty()
            ? static_cast<size_t>(it.getPos())
            : static_cast<size_t>(packing.packedToOrigTensorMapping.at(it.getPos()));
    QV_ASSERT(locations.at(indexInOrigTensor).has_value());
    const size_t p = locations.at(indexInOrigTensor)->first;
    const size_t b = locations.at(indexInOrigTensor)->second;
    mapping[it.getIndices()] =
        std::make_pair(static_cast<int>(numValsPerBlock * (b / numBlocksPerBatch) + p),
                       static_cast<int>(b % numBlocksPerBatch));
  } while (it.next());
  std::vector<std::shared_ptr<CTile>> sourceTiles;
  for (const std::vector<std::shared_ptr<CTile>>& batch : bootstrapNumbersAtMin(batchesOfBlocks))
    sourceTiles.insert(sourceTiles.end(), batch.begin(), batch.end());
  TTPermutator(sourceTiles, mapping, shape, 1.0).getPermutation(res);
}

std::vector<std::vector<uint8_t>>
prepareDefaultPlainBlocksForAesEncryption(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                                          const NumberConfig& numberConfig)
{
  std::vector<int> sizes;
  for (const std::shared_ptr<DoubleTensor>& input : inputs) {
    QV_ASSERT(input != nullptr);
    sizes.push_back(input->size());
  }
  return AesTtPacker::createPlainBlocks(inputs, AesTtPacker::getLocations(sizes, numberConfig),
                                        numberConfig);
}

void decryptDefaultAesEncryptedBlocksUnderFhe(EncryptedData& res,
                                              const std::vector<std::vector<uint8_t>>& encryptedBlocks,
                                              const AesKey& aesKey, const std::vector<uint8_t>& iv,
                                              const NumberConfig& numberConfig,
                                              const DataPacking& dataPacking)
{
  const HeContext& he = aesKey.getHeContext();
  AesConverter converter(he, aesKey, VERBOSITY_NONE, &std::cout);

  // Everything that can be refused is refused before the HE work.
  AesUtils::validateIv(iv);
  AesUtils::validateAesBlocks(encryptedBlocks);
  checkResultContext(res, he);
  dataPacking.validate();
  int64_t numValues = 0;
  for (int count : dataPacking.getNumSlotsInOrigTensors())
    numValues += count;
  const int64_t capacity = static_cast<int64_t>(encryptedBlocks.size()) *
                           (AesUtils::numBitsInAesRoundKey / numberConfig.getNumBits());
  if (numValues > capacity)
    throw std::invalid_argument("The data packing names " + std::to_string(numValues) +
                                " values, but the " + std::to_string(encryptedBlocks.size()) +
                                " AES blocks hold only " + std::to_string(capacity) +
                                " values of the number configuration");
  for (size_t item = 0; item < dataPacking.getNumItems(); ++item)
    for (size_t i = 0; i < dataPacking.getNumBatches(); ++i)
      AesTtPacker::checkTensorPacking(dataPacking.getTensorPacking(item, i), he.slotCount(),
                                      static_cast<size_t>(dataPacking.getNumSlotsInOrigTensor(item)));

  const AesTtPacker::NumberBatches numbers = converter.decrypt(iv, encryptedBlocks, numberConfig);
  const std::vector<std::vector<AesTtPacker::Location>> locations =
      AesTtPacker::getLocations(dataPacking.getNumSlotsInOrigTensors(), numberConfig);
  AesTtPacker::pack(res, dataPacking, numbers, locations);
}

} // namespace quorvane
