#ifndef QUORVANE_MATH_AES_IMPL_AESBITWISEKEY_H
#define QUORVANE_MATH_AES_IMPL_AESBITWISEKEY_H

#include <cstdint>
#include <vector>

#include "math/aes/impl/AesElement.h"

namespace quorvane {

class CTile;
class HeContext;

/// One AES round key, bit-sliced: 16 byte rows of 8 tiles, every slot of a
/// tile holding the same key bit (least significant bit first).
class AesBitwiseKey : public AesElement
{
public:
  /// An empty round key that reports nothing.
  explicit AesBitwiseKey(const HeContext& he);
  ~AesBitwiseKey() override;

  /// Encrypts a clear 16-byte round key into every slot, at the top chain index.
  void heEncrypt(const std::vector<uint8_t>& key);

  /// Extracts keySize bits from slots startIndex onwards of a compressed key
  /// ciphertext: bit i becomes row i / 8, bit i mod 8, in every slot.
  void initFromCompressed(const CTile& keyBits, int keySize, int startIndex);

  /// Checks that this is a packed round key of 16 rows at one chain index.
  void validateRoundKey() const;

  /// Throws std::runtime_error unless the key size (bits) is 128, 192 or 256.
  static void validateKeySize(int keySize);
};

} // namespace quorvane

#endif
