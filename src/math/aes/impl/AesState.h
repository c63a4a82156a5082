#ifndef QUORVANE_MATH_AES_IMPL_AESSTATE_H
#define QUORVANE_MATH_AES_IMPL_AESSTATE_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "hebase/CTile.h"
#include "math/aes/impl/AesElement.h"

namespace quorvane {

class AesBitwiseKey;
class HeContext;

/// The AES state under HE, bit-sliced: 16 byte rows (byte row + 4 x column)
/// of 8 bits, bit i with weight 2^i; slot j of every bit belongs to block j.
/// Runs the round functions, or their inverses, on all blocks at once, and
/// pulls approximate bits back towards 0 and 1. Cannot be saved.
class AesState : public AesElement
{
public:
  /// An empty state of the encryption (forward) or decryption direction.
  AesState(const HeContext& he, bool forward, Verbosity verbosity, std::ostream* out);
  /// Deep copy of the bits and the encrypted zero; shares the encrypted one.
  AesState(const AesState& src);
  ~AesState() override;

  /// Refuses: a state cannot be saved.
  std::streamoff save(std::ostream& out) const override;
  /// Refuses: a state cannot be loaded.
  std::streamoff load(std::istream& in) override;
  /// Also checks that a packed state has 16 byte rows.
  void validate(bool validateSameChainIndex) const override;

  /// Encrypts blocks of 16 bytes at the chain index (-1: the top).
  void heEncrypt(const std::vector<std::vector<uint8_t>>& blocks, int chainIndex);

  /// XORs every bit with the round key's bit.
  void addRoundKey(const AesBitwiseKey& roundKey);
  /// The S-box (inverse S-box) as a lookup through nibble indicators.
  void subBytes();
  /// Rotates row r left (right) by r places; moves pointers only.
  void shiftRows();
  /// MixColumns (InvMixColumns) of FIPS-197.
  void mixColumns();
  /// Every bit x becomes 3x^2 - 2x^3: 0 and 1 are kept, noise around them shrinks.
  void reduceNoise();

  /// Rotates the four bytes of row (alongRow) or column index by one place:
  /// new byte p is old byte p + 1 (towardsLower) or p - 1, modulo 4.
  void shift(bool alongRow, bool towardsLower, int index);
  /// Every byte times 2 in GF(2^8) (xtime).
  void multiplyByTwo();
  /// Byte (r, c) ^= other((r + offsets[0]) mod 4, c) ^ other((r + offsets[1]) mod 4, c);
  /// the two bytes of other are combined first when other has more levels left.
  void xorAllBitsByOffsets(const AesElement& other, const std::vector<int>& offsets);

  /// For every byte, 16 indicators of its low or high nibble: indicator k is
  /// 1 in the slots whose nibble is k and 0 elsewhere.
  std::vector<std::vector<std::shared_ptr<CTile>>> computeIndicators(bool lowNibble);
  /// The 16 products of the nibble's bits: entry l multiplies the bits set in l.
  std::vector<std::shared_ptr<CTile>> computeNibbleMonomials(int byteIndex, bool lowNibble);

  bool isForward() const { return forward; }

private:
  int sBoxSize = 256;
  bool forward;
  /// 0 and 1 in every slot, encrypted at the top chain index.
  CTile encryptedZero;
  std::shared_ptr<CTile> encryptedOne;
};

} // namespace quorvane

#endif
