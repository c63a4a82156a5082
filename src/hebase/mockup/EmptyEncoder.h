#ifndef QUORVANE_HEBASE_MOCKUP_EMPTYENCODER_H
#define QUORVANE_HEBASE_MOCKUP_EMPTYENCODER_H

#include "hebase/AbstractEncoder.h"

namespace quorvane {

class EmptyContext;

/// Encoder of the empty context: moves chain indexes and counts; values are
/// ignored and decode to zeros.
class EmptyEncoder : public AbstractEncoder
{
public:
  explicit EmptyEncoder(const EmptyContext& he);
  ~EmptyEncoder() override;

  void setDefaultScale(double scale) override;
  double getDefaultScale(int chainIndex = -1) const override;
  /// Sets the scale to 1.0.
  void restoreDefaultScale() override;

  using AbstractEncoder::encode;
  /// Sets the plaintext's chain index and counts "encode".
  void encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
              int chainIndex) const override;
  void encode(AbstractPlaintext& res, const std::vector<double>& values,
              int chainIndex) const override;
  /// slotCount() zeros; counts "decodeDouble".
  std::vector<double> decodeDouble(const AbstractPlaintext& src) const override;
  std::vector<std::complex<double>> decodeComplex(const AbstractPlaintext& src) const override;
  /// Moves the ciphertext to the plaintext's chain index; counts "encrypt".
  void encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const override;
  /// Moves the plaintext to the ciphertext's chain index; counts "decrypt".
  void decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const override;

  const HeContext& getHeContext() const override;

private:
  void encodeAt(AbstractPlaintext& res, int chainIndex) const;
  size_t zeroCount() const;

  const EmptyContext* emptyContext;
  double scale = 1.0;
};

} // namespace quorvane

#endif
