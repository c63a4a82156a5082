#ifndef QUORVANE_MATH_AES_AESTTPACKER_H
#define QUORVANE_MATH_AES_AESTTPACKER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorvane {

class DoubleTensor;
class NumberConfig;

/// Where the numbers of a set of tensors travel inside AES blocks. Values of
/// 8, 16 or 32 bits take numBits / 8 consecutive bytes of their block, least
/// significant first; a block holds 128 / numBits values.
class AesTtPacker
{
public:
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
};

/// The AES plaintext blocks of the inputs in the default arrangement.
std::vector<std::vector<uint8_t>>
prepareDefaultPlainBlocksForAesEncryption(const std::vector<std::shared_ptr<DoubleTensor>>& inputs,
                                          const NumberConfig& numberConfig);

} // namespace quorvane

#endif
