#ifndef QUORVANE_HEBASE_SEAL_SEALCKKSCONTEXT_H
#define QUORVANE_HEBASE_SEAL_SEALCKKSCONTEXT_H

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hebase/HeContext.h"

namespace seal {
class SEALContext;
class KeyGenerator;
class PublicKey;
class SecretKey;
class RelinKeys;
class GaloisKeys;
class Encryptor;
class Evaluator;
class Decryptor;
class CKKSEncoder;
class EncryptionParameters;
} // namespace seal

namespace quorvane {

/// The CKKS context over Microsoft SEAL: parameters chosen from the
/// requirement under the security table, a secret key generated from a
/// recorded 64-byte seed, the public keys the requirement's PublicFunctions
/// ask for, and one accurate scale per chain index.
///
/// A failed init or load leaves the context uninitialised and usable.
class SealCkksContext : public HeContext
{
public:
  /// SEAL's parameter id.
  using ParmsId = std::array<uint64_t, 4>;

  /// A new, uninitialised context (security level 128, accurate scaling on).
  SealCkksContext();
  ~SealCkksContext() override;

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// The common record, then parameters, scale, security level, the public
  /// keys the given PublicFunctions ask for and the accurate scales.
  void saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const override;
  /// Reads what saveImpl wrote into this uninitialised context.
  void loadImpl(std::istream& in) override;

  /// Chooses the parameters and makes the keys for the requirement.
  void init(const HeConfigRequirement& req) override;
  bool isConfigRequirementFeasible(const HeConfigRequirement& req) const override;
  int getBestFeasibleFractionalPartPrecision(const HeConfigRequirement& req) const override;
  int getBestFeasibleMulDepth(const HeConfigRequirement& req) const override;

  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override;
  std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const override;
  std::shared_ptr<AbstractEncoder> getEncoder() const override;
  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override;

  bool hasSecretKey() const override;
  /// The CKKS slot count (polynomial degree / 2).
  int slotCount() const override;
  /// The chain index of SEAL's first data level (the multiplication depth).
  int getTopChainIndex() const override;
  int getSecurityLevel() const override;
  std::ostream& printSignature(std::ostream& out) const override;
  /// The primes q0 to q_top.
  std::shared_ptr<std::vector<uint64_t>> getModulusChain() const override;

  /// The secret-key record, then the seed words or the compressed SEAL key.
  int64_t saveSecretKey(std::ostream& out, bool seedOnly = false) const override;
  /// Reads a secret key and checks it against this context's public keys.
  int64_t loadSecretKey(std::istream& in, bool seedOnly = false) override;

  std::string getLibraryName() const override;
  std::string getSchemeName() const override;
  /// "context_SEAL_KEY_DEG<N>_MID<m>_EXT<e>_D<d>_SEC" (or "_INSEC"); empty
  /// before initialisation.
  std::string getSignature() const override;
  /// The flattened measures file "/optimizer/seal.json" under the resources directory.
  std::map<std::string, int64_t> getEstimatedMeasures() const override;
  /// 2^(p - s - 2 + i * s) - 1 for chain index i (p bits of q0, s bits of the scale).
  std::vector<double> getMaxAllowedValues() const override;
  std::shared_ptr<HeContext> clone() const override;
  double getAccurateScale(int chainIndex) const override;
  int getMinChainIndexForBootstrapping() const override;
  int getChainIndexAfterBootstrapping() const override;
  BootstrapConfig getBootstrapChainIndexes(const HeConfigRequirement& req) const override;
  int getMinSupportedNumSlots() const override;
  int getMaxSupportedNumSlots() const override;
  bool publicFunctionsSupported(const PublicFunctions& publicFunctions) const override;
  /// Galois keys are saved all or nothing.
  void checkPublicFunctionsForSave(const PublicFunctions& publicFunctions) const override;

  /// Only before initialisation.
  void setUseAccurateScaling(bool value);
  bool getUseAccurateScaling() const { return useAccurateScaling; }

  /// The parameter id of the level at chainIndex; std::invalid_argument
  /// outside 0 to top.
  ParmsId getParmsIdForChainIndex(int chainIndex) const;
  /// Bit count of prime index of the coefficient modulus (1 is the first rescaling prime).
  int getCoeffModulusBitCount(int index) const;

  const seal::Encryptor& getEncryptor() const;
  const seal::RelinKeys& getRelinKeys() const;
  const seal::GaloisKeys& getGaloisKeys() const;

  /// The SEAL objects shared by the backend's ciphertexts, plaintexts and encoders.
  const seal::SEALContext& getSealContext() const;
  const seal::Evaluator& getEvaluator() const;
  /// SEAL's decryptor and encoder work through non-const members; using them
  /// changes nothing that a user of this context can see.
  seal::Decryptor& getDecryptor() const;
  seal::CKKSEncoder& getCkksEncoder() const;
  const seal::EncryptionParameters& getEncryptionParams() const;

  /// Largest total coefficient-modulus bit count of the security table for
  /// the level and polynomial degree (0 for a degree outside the table).
  static int getMaxCoeffModulusBitCount(int securityLevel, int polyDegree);
  /// CKKS parameters of the degree with primes of [midBits + extraBits,
  /// midBits repeated count times, midBits + extraBits] bits.
  static seal::EncryptionParameters createEncryptionParameters(int polyDegree, int midBits,
                                                               int count, int extraBits);
  /// The secret key that the seed generates for the parameters and level.
  static seal::SecretKey createSecretKeyFromSeed(const seal::EncryptionParameters& parms,
                                                 int securityLevel,
                                                 const std::array<uint64_t, 8>& seed);

  /// The seed of the secret key, when it is known.
  const std::optional<std::array<uint64_t, 8>>& getSecretKeySeed() const { return seedArray; }

protected:
  /// The slot count must be a power of two whose degree SEAL supports.
  void checkLoadedRequirement(const HeConfigRequirement& req) const override;

private:
  /// Runs the steps of init or a load; when one throws, the context returns
  /// to the uninitialised state it had before and the exception propagates.
  template <typename Steps>
  void buildOrRollBack(Steps&& steps);
  /// The seed, the secret key, the public keys the functions ask for, the
  /// SEAL objects and the accurate scales.
  void initSeal(const seal::EncryptionParameters& parms, const PublicFunctions& publicFunctions);
  void clearSealObjects();

  std::optional<std::array<uint64_t, 8>> seedArray;
  std::shared_ptr<seal::SEALContext> sealContext;
  std::shared_ptr<seal::KeyGenerator> keyGenerator;
  std::shared_ptr<seal::PublicKey> publicKey;
  std::shared_ptr<seal::SecretKey> secretKey;
  std::shared_ptr<seal::RelinKeys> relinKeys;
  std::shared_ptr<seal::GaloisKeys> galKeys;
  std::shared_ptr<seal::Encryptor> encryptor;
  std::shared_ptr<seal::Evaluator> evaluator;
  std::shared_ptr<seal::Decryptor> decryptor;
  std::shared_ptr<seal::CKKSEncoder> encoder;
  std::shared_ptr<seal::EncryptionParameters> encryptionParams;
  int32_t securityLevel = 128;
  bool useAccurateScaling = true;
  std::vector<double> accurateScalesTable;
};

} // namespace quorvane

#endif
