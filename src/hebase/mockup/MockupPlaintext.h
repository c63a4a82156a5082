#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPPLAINTEXT_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPPLAINTEXT_H

#include <complex>
#include <vector>

#include "hebase/AbstractPlaintext.h"

namespace quorvane {

class MockupContext;

/// Plaintext of the mockup context: the clear slot values with a chain index
/// and a scale.
class MockupPlaintext : public AbstractPlaintext
{
public:
  /// An empty plaintext at chain index -1.
  explicit MockupPlaintext(const MockupContext& he);
  ~MockupPlaintext() override;

protected:
  std::shared_ptr<AbstractPlaintext> doClone() const override;

public:
  /// The value count (8 bytes), the values (real and imaginary part each),
  /// then the chain index (4 bytes).
  int64_t save(std::ostream& out) const override;
  int64_t load(std::istream& in) override;

  void toDevice(DeviceType dev) override { device = dev; }

  /// Any chain index from 0 to the top; refuses others with std::invalid_argument.
  void setChainIndex(int chainIndex) override;
  /// The chain index, -1 when the context hides chain indexes.
  int getChainIndex() const override;

  void setScale(double s) override { scale = s; }
  double getScale() const override { return scale; }

  int slotCount() const override;
  bool isEmpty() const override { return rawVals.empty(); }

  const std::vector<std::complex<double>>& getRawValues() const { return rawVals; }

private:
  friend class MockupEncoder;
  friend class MockupCiphertext;

  MockupPlaintext(const MockupPlaintext& src) = default;

  /// Writes the saved body of a mockup ciphertext or plaintext; returns the bytes written.
  static int64_t saveBody(std::ostream& out, const std::vector<std::complex<double>>& values,
                          int32_t chainIndex);
  /// Reads a saved body; the outputs change only when the whole body was read
  /// and it fits the context: one value per slot and a chain index the
  /// context's tiles can have, or no values for an empty tile (chain index -1;
  /// an empty plaintext may also have one of the context's). std::runtime_error
  /// otherwise.
  static int64_t loadBody(std::istream& in, const HeContext& he, bool plaintext,
                          std::vector<std::complex<double>>& values, int32_t& chainIndex);

  std::vector<std::complex<double>> rawVals;
  int32_t chainIndex = -1;
  double scale = 1.0;
  int32_t device = DEVICE_CPU;
  const MockupContext* mockupContext;
};

} // namespace quorvane

#endif
