#include "math/aes/AesKey.h"

#include <istream>
#include <ostream>
#include <string>
#include <utility>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

// Largest round-key count accepted from a saved key before the key size is checked.
constexpr uint64_t MAX_SAVED_ROUND_KEYS = 100000;

} // namespace

AesKey::AesKey(const HeContext& he) : he(he) {}

AesKey::~AesKey() {}

std::shared_ptr<Saveable> AesKey::createAndLoad(const HeContext& he, const SaveableHeader& header,
                                                std::istream& in)
{
  auto key = std::make_shared<AesKey>(he);
  key->load(in, header);
  return key;
}

int32_t AesKey::getContextId() const { return he.getContextId(); }

std::string AesKey::getClassName() const { return "AesKey"; }

void AesKey::heEncrypt(const std::vector<uint8_t>& plainKey, bool compress)
{
  const int plainKeySize = static_cast<int>(AesUtils::numBitsInByte * plainKey.size());
  AesBitwiseKey::validateKeySize(plainKeySize);
  const std::vector<std::vector<uint8_t>> clearRoundKeys = AesUtils::expandKey(plainKey);

  // Encrypted into a new key, whose state this one takes over on success.
  AesKey encrypted(he);
  encrypted.keySize = plainKeySize;
  encrypted.initialized = true;
  encrypted.compressed = compress;
  if (compress) {
    encrypted.compressRoundKeys(clearRoundKeys);
  } else {
    for (const std::vector<uint8_t>& clearRoundKey : clearRoundKeys) {
      auto roundKey = std::make_shared<AesBitwiseKey>(he);
      roundKey->heEncrypt(clearRoundKey);
      encrypted.roundKeys.push_back(std::move(roundKey));
    }
  }
  takeStateFrom(encrypted);
}

void AesKey::encryptBits(const std::vector<bool>& bits)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  QV_ASSERT(bits.size() <= he.slotCount(), "bits.size()= " + std::to_string(bits.size()) +
                                               " while he.slotCount()= " +
                                               std::to_string(he.slotCount()));
#pragma GCC diagnostic pop
  std::vector<int> values(bits.begin(), bits.end());
  auto tile = std::make_shared<CTile>(he);
  Encoder(he).encodeEncrypt(*tile, values, -1);
  compressedBits = std::move(tile);
}

void AesKey::compressRoundKeys(const std::vector<std::vector<uint8_t>>& roundKeys)
{
  std::vector<bool> bits;
  for (const std::vector<uint8_t>& roundKey : roundKeys) {
    std::vector<bool> keyBits = bytesToBits(roundKey);
    bits.insert(bits.end(), keyBits.begin(), keyBits.end());
  }
  encryptBits(bits);
}

std::vector<bool> AesKey::bytesToBits(const std::vector<uint8_t>& bytes)
{
  std::vector<bool> bits;
  bits.reserve(bytes.size() * AesUtils::numBitsInByte);
  for (uint8_t byte : bytes)
    for (int i = 0; i < AesUtils::numBitsInByte; ++i)
      bits.push_back(AesUtils::getBitAt(byte, i, true));
  return bits;
}

void AesKey::uncompress()
{
  QV_ASSERT(compressed);
  validateLegal();
  std::vector<std::shared_ptr<AesBitwiseKey>> expanded;
  for (int i = 0; i < getNumRoundKeys(); ++i) {
    auto roundKey = std::make_shared<AesBitwiseKey>(he);
    roundKey->initFromCompressed(*compressedBits, AesUtils::numBitsInAesRoundKey,
                                 AesUtils::numBitsInAesRoundKey * i);
    expanded.push_back(std::move(roundKey));
  }
  roundKeys = std::move(expanded);
  compressedBits = nullptr;
  compressed = false;
  validateLegal();
}

int AesKey::getNumRoundKeys() const
{
  AesBitwiseKey::validateKeySize(keySize);
  return AesUtils::keySizeToNumRoundKeys.at(keySize);
}

int AesKey::getChainIndex() const
{
  validateLegal();
  if (compressed)
    return compressedBits->getChainIndex();
  return roundKeys[0]->getChainIndex();
}

void AesKey::validateLegal() const
{
  QV_ASSERT(initialized);
  QV_ASSERT(keySize != -1);
  if (compressed) {
    QV_ASSERT(roundKeys.empty());
    QV_ASSERT(compressedBits != nullptr);
    QV_ASSERT(!compressedBits->isEmpty());
  } else {
    QV_ASSERT(compressedBits == nullptr);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    QV_ASSERT(roundKeys.size() == getNumRoundKeys());
#pragma GCC diagnostic pop
    for (const auto& key : roundKeys) {
      QV_ASSERT(key != nullptr);
      key->validateRoundKey();
    }
  }
}

void AesKey::validatePrepared() const
{
  validateLegal();
  QV_ASSERT(!compressed);
  QV_ASSERT(getChainIndex() == he.getTopChainIndex() ||
            getChainIndex() == (he.getTopChainIndex() - 1));
}

void AesKey::saveImpl(std::ostream& out) const
{
  validateLegal();
  BinIoUtils::writeBool(out, initialized);
  BinIoUtils::writeBool(out, compressed);
  BinIoUtils::writeInt32(out, keySize);
  BinIoUtils::writeSizeT(out, roundKeys.size());
  for (const auto& roundKey : roundKeys)
    roundKey->save(out);
  BinIoUtils::writeBool(out, compressedBits != nullptr);
  if (compressedBits)
    compressedBits->save(out);
}

void AesKey::loadImpl(std::istream& in)
{
  // Read into a new key, whose state this one takes over once it is complete
  // and valid.
  AesKey loaded(he);
  loaded.initialized = BinIoUtils::readBool(in);
  loaded.compressed = BinIoUtils::readBool(in);
  loaded.keySize = BinIoUtils::readInt32(in);
  const uint64_t numRoundKeys = BinIoUtils::readSizeTChecked(in, MAX_SAVED_ROUND_KEYS);
  AesBitwiseKey::validateKeySize(loaded.keySize);
  // The round-key count of the key being loaded.
  auto getNumRoundKeys = [&loaded] { return static_cast<uint64_t>(loaded.getNumRoundKeys()); };
  QV_ASSERT(numRoundKeys == getNumRoundKeys() || numRoundKeys == 0);

  for (uint64_t i = 0; i < numRoundKeys; ++i) {
    auto roundKey = std::make_shared<AesBitwiseKey>(he);
    roundKey->load(in);
    loaded.roundKeys.push_back(std::move(roundKey));
  }
  if (BinIoUtils::readBool(in)) {
    auto tile = std::make_shared<CTile>(he);
    tile->load(in);
    loaded.compressedBits = std::move(tile);
  }
  loaded.validateLegal();
  if (loaded.compressed)
    loaded.uncompress();
  takeStateFrom(loaded);
}

void AesKey::takeStateFrom(AesKey& other)
{
  roundKeys.swap(other.roundKeys);
  compressedBits.swap(other.compressedBits);
  initialized = other.initialized;
  compressed = other.compressed;
  keySize = other.keySize;
}

} // namespace quorvane
