#ifndef QUORVANE_MATH_AES_AESCONVERTER_H
#define QUORVANE_MATH_AES_AESCONVERTER_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "hebase/utils/Printable.h"

namespace quorvane {

class AesKey;
class AesState;
class CTile;
class HeContext;
class NumberConfig;

/// Decrypts AES counter-mode blocks under HE with an HE-encrypted key: the
/// counter blocks IV + k are encrypted bit by bit, AES runs on them under HE
/// and the key stream is XORed with the public bits of the AES-encrypted
/// blocks. Blocks go in batches of one slot count; block j of a batch lives
/// in slot j. The rounds are interleaved with bootstrapping, chain-index
/// lowering and noise reduction by a fixed schedule chosen from d, the levels
/// one bootstrapping gives (5 to 13); for any other d the context must
/// bootstrap automatically.
///
/// Bit vectors are byte-major: entry 8 b + i is bit i (weight 2^i) of byte b.
class AesConverter
{
public:
  /// Refuses a context without bootstrapping, a key that is not prepared, a
  /// key below the bootstrapping target minus one and a target above the top.
  /// Round banners and progress go to out (not null) unless verbosity is
  /// VERBOSITY_NONE. The key must outlive the converter.
  AesConverter(const HeContext& he, const AesKey& aesKey, Verbosity verbosity, std::ostream* out);

  /// The numbers of every batch of the AES-encrypted blocks, as
  /// NumbersExtractor::extract gives them from the batch's plaintext bits.
  std::vector<std::vector<std::shared_ptr<CTile>>>
  decrypt(const std::vector<uint8_t>& iv, const std::vector<std::vector<uint8_t>>& blocks,
          const NumberConfig& numberConfig);

  /// The 128 plaintext bits of one batch: key stream XOR data bits.
  std::vector<std::shared_ptr<CTile>>
  decryptBatch(const std::vector<std::vector<uint8_t>>& dataBlocks,
               const std::vector<std::vector<uint8_t>>& counterBlocks);

  /// AES encryption of one batch of counter blocks under HE: the 128 key-stream bits.
  std::vector<std::shared_ptr<CTile>>
  encryptCounters(const std::vector<std::vector<uint8_t>>& counterBlocks);

  /// The chain index at which the counter blocks are encrypted.
  int getCiToEncrypt() const;

  /// The noise step between SubBytes and ShiftRows.
  void handleNoiseAfterSubBytes(AesState& state);

private:
  using Batch = std::vector<std::shared_ptr<CTile>>;

  const HeContext& he;
  const AesKey& aesKey;
  int numRounds;
  Verbosity verbosity;
  std::ostream* out;

  /// The noise steps after MixColumns and after AddRoundKey.
  void handleNoiseAfterMixColumns(AesState& state);
  void handleNoiseAfterAddRoundKey(AesState& state);

  /// The opening of every noise step: bootstraps a state at the minimal chain
  /// index for bootstrapping; returns whether the state is fresh (at the
  /// chain index after bootstrapping).
  bool openNoiseStep(AesState& state) const;
  /// The state's chain index minus the minimal chain index for bootstrapping.
  int getLevelsAboveMin(const AesState& state) const;
  /// Levels one bootstrapping gives back.
  int getBootstrapLevels() const;
  /// Whether the explicit schedule applies (5 <= d <= 13).
  bool hasExplicitSchedule() const;
  /// chainIndex is at least n levels above the minimal chain index for bootstrapping.
  bool isAboveMinBsCi(int chainIndex, int n) const;
  /// Lowers the state by n levels.
  static void lower(AesState& state, int n);
};

} // namespace quorvane

#endif
