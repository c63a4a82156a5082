#ifndef QUORVANE_HEBASE_SEAL_SEALOBJECTLOADER_H
#define QUORVANE_HEBASE_SEAL_SEALOBJECTLOADER_H

#include <cstddef>
#include <iosfwd>

namespace seal {
class EncryptionParameters;
class SEALContext;
class PublicKey;
class SecretKey;
class RelinKeys;
class GaloisKeys;
class Ciphertext;
class Plaintext;
} // namespace seal

namespace quorvane {

/// Loads SEAL objects from saved records after checking them, so that
/// corrupted input never reaches an allocation that SEAL sizes from the data.
///
/// The SEAL header's size is checked against a bound derived from the
/// parameters and against the bytes the input really holds (read in chunks,
/// never allocated ahead); a compressed body is decompressed within the same
/// bound; every inner size field (nested headers, polynomial and key counts)
/// is checked against the bytes that follow it. SEAL's own validity checks
/// then run on the checked bytes. Corrupted input gives std::runtime_error
/// "Corrupted saved <object>: <what is wrong>", and so does data that SEAL
/// itself refuses, with SEAL's reason ("Corrupted saved SEAL Galois keys:
/// KSwitchKeys data is invalid"). Three texts stay SEAL's own
/// (std::logic_error): data of other parameters, whose parameter id the
/// context does not know, in a ciphertext, a plaintext or a secret key
/// ("ciphertext data is invalid", "Plaintext data is invalid", "SecretKey
/// data is invalid"), and SEAL's header refusals of a ciphertext or a
/// plaintext ("incompatible version", "loaded SEALHeader is invalid"). A
/// refused load leaves the target as it was. Each function returns the bytes
/// read from the input.
class SealObjectLoader
{
public:
  /// Encryption parameters, within SEAL's limits on degree and prime count.
  static std::streamoff loadParameters(std::istream& in, seal::EncryptionParameters& parms);

  static std::streamoff loadPublicKey(std::istream& in, const seal::SEALContext& context,
                                      seal::PublicKey& key);
  static std::streamoff loadSecretKey(std::istream& in, const seal::SEALContext& context,
                                      seal::SecretKey& key);
  /// Relinearisation keys of degree 2 (one key set).
  static std::streamoff loadRelinKeys(std::istream& in, const seal::SEALContext& context,
                                      seal::RelinKeys& keys);
  /// Galois keys holding at most maxKeyCount keys.
  static std::streamoff loadGaloisKeys(std::istream& in, const seal::SEALContext& context,
                                       size_t maxKeyCount, seal::GaloisKeys& keys);
  static std::streamoff loadCiphertext(std::istream& in, const seal::SEALContext& context,
                                       seal::Ciphertext& ciphertext);
  static std::streamoff loadPlaintext(std::istream& in, const seal::SEALContext& context,
                                      seal::Plaintext& plaintext);
};

} // namespace quorvane

#endif
