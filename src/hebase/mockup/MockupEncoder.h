#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPENCODER_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPENCODER_H

#include "hebase/AbstractEncoder.h"

namespace quorvane {

class MockupContext;
class MockupPlaintext;

/// Encoder of the mockup context: encoding, encryption and decryption copy
/// values; every plaintext gets the encoder's scale.
class MockupEncoder : public AbstractEncoder
{
public:
  /// The scale starts at the context's default scale.
  explicit MockupEncoder(const MockupContext& he);
  ~MockupEncoder() override;

  void setDefaultScale(double scale) override;
  /// The encoder's scale, whatever the chain index.
  double getDefaultScale(int chainIndex = -1) const override;
  /// Sets the scale to 1.0.
  void restoreDefaultScale() override;

  using AbstractEncoder::encode;
  /// The values, then zeros up to the slot count, at the chain index.
  void encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
              int chainIndex) const override;
  void encode(AbstractPlaintext& res, const std::vector<double>& values,
              int chainIndex) const override;

  std::vector<double> decodeDouble(const AbstractPlaintext& src) const override;
  std::vector<std::complex<double>> decodeComplex(const AbstractPlaintext& src) const override;

  void encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const override;
  void decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const override;

  const HeContext& getHeContext() const override;

private:
  /// Completes an encoding whose values are already in p: pads them with
  /// zeros, sets chain index, scale and device, tracks and counts.
  void encode(MockupPlaintext& p, int chainIndex) const;

  const MockupContext* mockupContext;
  double scale;
};

} // namespace quorvane

#endif
