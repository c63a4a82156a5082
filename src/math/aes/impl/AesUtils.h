#ifndef QUORVANE_MATH_AES_IMPL_AESUTILS_H
#define QUORVANE_MATH_AES_IMPL_AESUTILS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace quorvane {

class CTile;

/// Constants and helpers of the AES code: sizes, the key-size table, the
/// S-boxes, the clear key expansion, counter blocks, bit order, the encrypted
/// XOR of two bits and a byte printer. Everything is static.
///
/// An AES block is 16 bytes; byte b is row b mod 4, column b / 4 of the state.
class AesUtils
{
public:
  static constexpr int numBitsInByte = 8;
  static constexpr int numBytesInAesBlock = 16;
  static constexpr int numBytesInAesRoundKey = 16;
  static constexpr int numBitsInAesRoundKey = 128;
  static constexpr int numBytesInAesRow = 4;
  /// Largest number of byte rows a saved bit-sliced element may hold.
  static constexpr int maxNumBytesInElement = 32;

  /// Key size in bits to the number of round keys (rounds plus one).
  static const std::map<int, int> keySizeToNumRoundKeys;
  /// The AES S-box and its inverse, indexed by the input byte.
  static const std::vector<uint8_t> sBox;
  static const std::vector<uint8_t> invSBox;

  /// Bit i of the byte: from the least significant bit when lsbFirst, else
  /// from the most significant.
  static bool getBitAt(uint8_t byte, size_t i, bool lsbFirst);

  /// The round-constant word of round i, 1 to 10.
  static std::vector<uint8_t> rcon(int i);

  /// The AES key schedule of a 16, 24 or 32 byte key: 11, 13 or 15 round
  /// keys of 16 bytes.
  static std::vector<std::vector<uint8_t>> expandKey(const std::vector<uint8_t>& plainKey);

  /// Counter blocks of CTR mode: IV, IV + 1, ..., IV + numBlocks - 1 as
  /// 128-bit big-endian numbers modulo 2^128. With appendIvBlock the blocks
  /// are IV + 1, ..., IV + numBlocks, followed by the IV.
  static void getCounterBlocks(std::vector<std::vector<uint8_t>>& res,
                               const std::vector<uint8_t>& iv, int numBlocks, bool appendIvBlock);

  /// Throws std::invalid_argument unless the IV has 16 bytes.
  static void validateIv(const std::vector<uint8_t>& iv);

  /// Throws std::invalid_argument unless there is a block and every block has 16 bytes.
  static void validateAesBlocks(const std::vector<std::vector<uint8_t>>& blocks);

  /// a becomes a XOR b for encrypted bits: (a - b)^2, one multiplication level.
  static void bitwiseXor(CTile& a, const CTile& b);
  static void bitwiseXor(CTile& a, std::shared_ptr<CTile> b);
  static void bitwiseXor(std::shared_ptr<CTile> a, const CTile& b);
  static void bitwiseXor(std::shared_ptr<CTile> a, std::shared_ptr<CTile> b);

  /// Prints the bytes to standard output, in hexadecimal or binary; as the
  /// 4 x 4 state (the first 16 bytes) or on one line.
  static void printBytes(const std::vector<uint8_t>& bytes, bool asMatrix, bool binary);

  /// The AES S-box computed from inversion in GF(2^8) and the affine map.
  static std::vector<uint8_t> computeSBox();
  /// The inverse of a permutation of the 256 byte values.
  static std::vector<uint8_t> invertTable(const std::vector<uint8_t>& table);
};

} // namespace quorvane

#endif
