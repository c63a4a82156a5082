#include "math/aes/impl/AesBitwiseKey.h"

#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/utils/Assert.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

AesBitwiseKey::AesBitwiseKey(const HeContext& he) : AesElement(he, VERBOSITY_NONE, &std::cout) {}

AesBitwiseKey::~AesBitwiseKey() {}

void AesBitwiseKey::heEncrypt(const std::vector<uint8_t>& key)
{
  QV_ASSERT(key.size() == AesUtils::numBytesInAesRoundKey);
  std::vector<std::vector<uint8_t>> copies(he.slotCount(), key);
  AesElement::heEncrypt(copies, -1, true);
}

void AesBitwiseKey::initFromCompressed(const CTile& keyBits, int keySize, int startIndex)
{
  QV_ASSERT(!keyBits.isEmpty());
  QV_ASSERT(keySize == AesUtils::numBitsInAesRoundKey ||
            AesUtils::keySizeToNumRoundKeys.count(keySize) > 0);
  QV_ASSERT(startIndex >= 0);
  QV_ASSERT(startIndex + keySize <= he.slotCount());

  // Extracted into new rows first; the key changes only on success.
  Encoder encoder(he);
  const int slots = he.slotCount();
  std::vector<std::vector<std::shared_ptr<CTile>>> extracted(
      keySize / AesUtils::numBitsInByte,
      std::vector<std::shared_ptr<CTile>>(AesUtils::numBitsInByte));
  for (int i = 0; i < keySize; ++i) {
    std::vector<int> mask(slots, 0);
    mask[startIndex + i] = 1;
    PTile plain(he);
    encoder.encode(plain, mask, keyBits.getChainIndex());
    auto bit = std::make_shared<CTile>(keyBits);
    bit->multiplyPlain(plain);
    bit->innerSum(1, slots, false);
    extracted[i / AesUtils::numBitsInByte][i % AesUtils::numBitsInByte] = std::move(bit);
  }
  const bool oldPacked = packed;
  tiles.swap(extracted);
  packed = true;
  try {
    validate(true);
  } catch (...) {
    tiles.swap(extracted);
    packed = oldPacked;
    throw;
  }
}

void AesBitwiseKey::validateRoundKey() const
{
  QV_ASSERT(tiles.size() == AesUtils::numBytesInAesRoundKey);
  validate(true);
}

void AesBitwiseKey::validateKeySize(int keySize)
{
  if (AesUtils::keySizeToNumRoundKeys.count(keySize) == 0)
    throw std::runtime_error("Unsupported AES key size: " + std::to_string(keySize) + "-bit");
}

} // namespace quorvane
