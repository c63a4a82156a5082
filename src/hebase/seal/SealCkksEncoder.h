#ifndef QUORVANE_HEBASE_SEAL_SEALCKKSENCODER_H
#define QUORVANE_HEBASE_SEAL_SEALCKKSENCODER_H

#include <complex>
#include <vector>

#include "hebase/AbstractEncoder.h"

namespace quorvane {

class SealCkksContext;
class SealCkksPlaintext;
class SealCkksCiphertext;

/// Backend encoder of the SEAL CKKS context. Encodes at the encoder's own
/// scale when one is set, else at the context's accurate scale of the chain
/// index (or its default scale without accurate scaling).
class SealCkksEncoder : public AbstractEncoder
{
public:
  /// An encoder of the context, which must outlive it.
  explicit SealCkksEncoder(const SealCkksContext& he);
  ~SealCkksEncoder() override;

  /// The scale of later encodings at every chain index; -1.0 unsets it.
  void setDefaultScale(double scale) override;
  /// The scale used to encode at the chain index.
  double getDefaultScale(int chainIndex) const override;
  /// Unsets the encoder's own scale.
  void restoreDefaultScale() override;

  using AbstractEncoder::encode;
  void encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
              int chainIndex) const override;
  void encode(AbstractPlaintext& res, const std::vector<double>& values,
              int chainIndex) const override;
  /// The value in every slot.
  void encode(AbstractPlaintext& res, double value, int chainIndex) const override;
  /// The value, as a double at the usual scale, in every slot.
  void encode(AbstractPlaintext& res, int value, int chainIndex) const override;

  /// slotCount() values.
  std::vector<double> decodeDouble(const AbstractPlaintext& src) const override;
  /// slotCount() values.
  std::vector<std::complex<double>> decodeComplex(const AbstractPlaintext& src) const override;

  /// Public-key encryption; the ciphertext takes the plaintext's level and scale.
  void encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const override;
  /// Decryption with the context's secret key.
  void decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const override;

  const HeContext& getHeContext() const override;

  /// The context as the SEAL context.
  const SealCkksContext& getSealCkksContext() const { return he; }

private:
  const SealCkksContext& he;
  double defaultScale = -1.0;

  /// Checks that chainIndex names a data level of the context.
  void checkChainIndex(int chainIndex) const;
  /// Encodes at the chain index and its scale, under the leaf timing "SEAL::encode".
  template <typename Values>
  void encodeAtChainIndex(AbstractPlaintext& res, const Values& values, int chainIndex) const;
};

} // namespace quorvane

#endif
