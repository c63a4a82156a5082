#ifndef QUORVANE_MATH_AES_AESKEY_H
#define QUORVANE_MATH_AES_AESKEY_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

class AesBitwiseKey;
class CTile;
class HeContext;
struct SaveableHeader;

/// An AES key of 128, 192 or 256 bits, expanded in the clear into its round
/// keys, whose bits are encrypted under HE. The expanded form holds one
/// bit-sliced round key per round and is what AES under HE uses; the
/// compressed form holds all round-key bits in one ciphertext, one bit per
/// slot (bit j of byte b of round key i in slot 128 i + 8 b + j), is small to
/// save and is expanded when loaded.
class AesKey : public Saveable
{
public:
  /// An empty key: not initialised, no key size.
  explicit AesKey(const HeContext& he);
  ~AesKey() override;

  /// Builds a key of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  int32_t getContextId() const override;
  /// Writes the key in its current form.
  void saveImpl(std::ostream& out) const override;
  /// Reads a saved key, expanding a compressed one. A refused load leaves
  /// the key as it was.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;

  /// Expands the clear key (16, 24 or 32 bytes) and encrypts it in the
  /// compressed or the expanded form. A failure leaves the key as it was.
  void heEncrypt(const std::vector<uint8_t>& plainKey, bool compress);

  /// Encrypts the bits, one per slot, into the compressed ciphertext at the
  /// top chain index.
  void encryptBits(const std::vector<bool>& bits);

  /// Encrypts the clear round keys in the compressed form.
  void compressRoundKeys(const std::vector<std::vector<uint8_t>>& roundKeys);

  /// The bits of the bytes in order, least significant bit of each byte first.
  static std::vector<bool> bytesToBits(const std::vector<uint8_t>& bytes);

  /// Turns the compressed form into the expanded form.
  void uncompress();

  /// 11, 13 or 15 by the key size.
  int getNumRoundKeys() const;
  /// Chain index of the compressed ciphertext, or of the round keys.
  int getChainIndex() const;
  /// The round keys of the expanded form, round key i at index i.
  const std::vector<std::shared_ptr<AesBitwiseKey>>& getRoundKeys() const { return roundKeys; }
  const HeContext& getHeContext() const { return he; }

  /// Checks that the key is initialised and holds exactly one consistent form.
  void validateLegal() const;
  /// Checks that the key is usable for AES under HE: legal, expanded, and at
  /// the top chain index or one below it.
  void validatePrepared() const;

  bool isInitialized() const { return initialized; }
  bool isCompressed() const { return compressed; }
  int getKeySize() const { return keySize; }

private:
  const HeContext& he;
  std::vector<std::shared_ptr<AesBitwiseKey>> roundKeys;
  std::shared_ptr<CTile> compressedBits;
  bool initialized = false;
  bool compressed = true;
  int keySize = -1;

  /// Takes over the state of another key of the same context.
  void takeStateFrom(AesKey& other);
};

} // namespace quorvane

#endif
