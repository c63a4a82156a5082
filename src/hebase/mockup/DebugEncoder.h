#ifndef QUORVANE_HEBASE_MOCKUP_DEBUGENCODER_H
#define QUORVANE_HEBASE_MOCKUP_DEBUGENCODER_H

#include <memory>

#include "hebase/AbstractEncoder.h"

namespace quorvane {

class DebugContext;

/// Encoder of the debug context: encodes, encrypts and decrypts both halves;
/// decodes report the first context's values.
class DebugEncoder : public AbstractEncoder
{
public:
  /// Holds a new encoder of each inner context.
  explicit DebugEncoder(const DebugContext& context);
  ~DebugEncoder() override;

  void setDefaultScale(double scale) override;
  double getDefaultScale(int chainIndex = -1) const override;
  void restoreDefaultScale() override;
  /// On the first encoder only.
  void setDecryptAddedNoiseEnabled(bool enabled) override;
  bool getDecryptAddedNoiseEnabled() const override;
  /// On the first encoder only.
  void setDecryptAddedNoisePrecision(int precision) override;
  int getDecryptAddedNoisePrecision() const override;

  using AbstractEncoder::encode;
  void encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
              int chainIndex) const override;
  void encode(AbstractPlaintext& res, const std::vector<double>& values,
              int chainIndex) const override;
  /// The first half's values.
  std::vector<double> decodeDouble(const AbstractPlaintext& src) const override;
  std::vector<std::complex<double>> decodeComplex(const AbstractPlaintext& src) const override;
  void encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const override;
  void decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const override;

  const HeContext& getHeContext() const override;

private:
  const DebugContext* context;
  std::shared_ptr<AbstractEncoder> encoder1;
  std::shared_ptr<AbstractEncoder> encoder2;
};

} // namespace quorvane

#endif
