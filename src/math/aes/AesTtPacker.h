#ifndef QUORVANE_MATH_AES_AESTTPACKER_H
#define QUORVANE_MATH_AES_AESTTPACKER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorvane {

class AesKey;
class CTile;
class CTileTensor;
class DataPacking;
class DoubleTensor;
class EncryptedData;
class NumberConfig;
struct TensorPacking;

/// Where the numbers of a set of tensors travel inside AES blocks, and how
/// they are put back into tile tensors once decrypted under HE. Values of 8,
/// 16 or 32 bits take numBits / 8 consecutive bytes of their block, least
/// significant first; a 1-bit value v is bit v mod 8 of byte v / 8; a block
/// holds 128 / numBits values.
///
/// Numbers after the HE decryption come per batch of blocks: ciphertext p of
/// batch k holds, in slot j, the value at position p of block k S + j, where S
/// is the slot count.
class AesTtPacker
{
public:
  using NumberBatches = std::vector<std::vector<std::shared_ptr<CTile>>>;

  /// The place of one value: (position in block, block index), or nothing.
  using Location = std::optional<std::pair<size_t, size_t>>;

  /// The default arrangement: the values of all tensors numbered one after
  /// another, tensor after tensor, each in flat order; value n goes to block
  /// n / valuesPerBlock, position n mod valuesPerBlock.
  static std::vector<std::vector<Location>> getLocations(const std::vector<int>& numValsPerTensor,
                                                         const NumberConfig& numberConfig);

  /// Blocks of 16 bytes, as many as the largest block index needs (at least
  /// one), holding each located element of the inputs in its byte form; bytes
  /// that no value covers are 0.
  static std::vector<std::vector<uint8_t>>
  createPlainBlocks(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                    const std::vector<std::vector<Location>>& locations,
                    const NumberConfig& numberConfig);

  /// The little-endian bytes of a value: the nearest binary32 number, or the
  /// two's complement of the value (times 2^fractionBits for fixed point)
  /// truncated toward zero. Values that the format cannot carry through the
  /// numbers extraction (out of range, NaN, infinite) are refused.
  static std::vector<uint8_t> extractBytes(double value, const NumberConfig& numberConfig);

  /// The bytes of the value, least significant first.
  static std::vector<uint8_t> toBytes(uint8_t value);
  static std::vector<uint8_t> toBytes(int16_t value);
  static std::vector<uint8_t> toBytes(int32_t value);

  /// Appends to res one batch per batch of the data packing, each holding one
  /// tile tensor per item packed from the numbers as its tensor packing says.
  /// Every batch of the data packing is filled from the same numbers. res
  /// must belong to the numbers' context; the packings are checked before any
  /// batch is added.
  static void pack(EncryptedData& res, const DataPacking& dataPacking,
                   const NumberBatches& batchesOfBlocks,
                   const std::vector<std::vector<Location>>& locations);

  /// Fills res with one tensor: every element of the packing's original
  /// tensor taken from the slot its location names, every other slot 0.
  /// Numbers at the minimal chain index for bootstrapping are bootstrapped
  /// (as copies) before they are masked.
  static void pack(CTileTensor& res, const TensorPacking& packing,
                   const NumberBatches& batchesOfBlocks, const std::vector<Location>& locations);

private:
  /// Refuses a tensor packing that cannot be filled from tiles of
  /// numBlocksPerBatch slots and a tensor of numValues values.
  static void checkTensorPacking(const TensorPacking& packing, int numBlocksPerBatch,
                                 size_t numValues);

  friend void decryptDefaultAesEncryptedBlocksUnderFhe(
      EncryptedData& res, const std::vector<std::vector<uint8_t>>& encryptedBlocks,
      const AesKey& aesKey, const std::vector<uint8_t>& iv, const NumberConfig& numberConfig,
      const DataPacking& dataPacking);
};

/// The AES plaintext blocks of the inputs in the default arrangement.
std::vector<std::vector<uint8_t>>
prepareDefaultPlainBlocksForAesEncryption(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                                          const NumberConfig& numberConfig);

/// Decrypts AES counter-mode blocks under HE with the HE-encrypted key,
/// extracts the numbers and packs them into res as the data packing says,
/// expecting the tensors in the default arrangement with the data packing's
/// element counts. The key, the IV, the blocks, res (of the key's context),
/// the data packing and the number of values the blocks carry are checked
/// before any HE work.
void decryptDefaultAesEncryptedBlocksUnderFhe(
    EncryptedData& res, const std::vector<std::vector<uint8_t>>& encryptedBlocks,
    const AesKey& aesKey, const std::vector<uint8_t>& iv, const NumberConfig& numberConfig,
    const DataPacking& dataPacking);

} // namespace quorvane

#endif
