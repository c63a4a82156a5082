#ifndef QUORVANE_HEBASE_SEAL_SEALCKKSPARAMS_H
#define QUORVANE_HEBASE_SEAL_SEALCKKSPARAMS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace seal {
class EncryptionParameters;
class SEALContext;
class SecretKey;
class PublicKey;
class KSwitchKeys;
} // namespace seal

namespace quorvane {

/// The 64-byte seed from which a secret key is generated, as 8 words.
using SecretKeySeed = std::array<uint64_t, 8>;

/// Internal helpers of the SEAL CKKS context: security levels, seeds,
/// rotation steps, accurate scales, signatures and key checks. The parameter
/// choice and the key derivation from a seed are members of SealCkksContext.
class SealCkksParams
{
public:
  /// 0 stays 0; other levels round up to 128, 192 or 256.
  static int roundSecurityLevel(int securityLevel);

  /// 64 bytes from SEAL's system random source, as little-endian words.
  static SecretKeySeed drawSeed();

  /// Every power of two below the slot count, in both directions.
  static std::vector<int> getDefaultRotationSteps(int slots);

  /// One scale per chain index 0 to top; primes are q0 to q_top. With no
  /// rescaling prime the single entry is scaleForDepthZero.
  static std::vector<double> computeAccurateScales(const std::vector<uint64_t>& primes,
                                                   double scaleForDepthZero);

  /// "context_SEAL_KEY_DEG<N>_MID<m>_EXT<e>_D<d>" and "_SEC" or "_INSEC".
  static std::string makeSignature(const seal::EncryptionParameters& parms, int securityLevel);

  /// Whether the secret key is the one the public key was made with.
  static bool secretKeyMatchesPublicKey(const seal::SEALContext& context,
                                        const seal::SecretKey& secretKey,
                                        const seal::PublicKey& publicKey);

  /// Whether the secret key is the one the key-switching keys were made with
  /// (checked on the first key present).
  static bool secretKeyMatchesSwitchingKeys(const seal::SEALContext& context,
                                            const seal::SecretKey& secretKey,
                                            const seal::KSwitchKeys& keys);
};

} // namespace quorvane

#endif
