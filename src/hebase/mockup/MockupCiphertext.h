#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPCIPHERTEXT_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPCIPHERTEXT_H

#include <complex>
#include <vector>

#include "hebase/AbstractCiphertext.h"

namespace quorvane {

class MockupContext;
class MockupPlaintext;

/// Ciphertext of the mockup context: computes the exact result of each CKKS
/// operation on the clear values, moves the chain index as CKKS would, and
/// counts every operation into the context's run statistics.
class MockupCiphertext : public AbstractCiphertext
{
public:
  /// An empty ciphertext at chain index -1.
  explicit MockupCiphertext(const MockupContext& he);
  ~MockupCiphertext() override;

protected:
  std::shared_ptr<AbstractCiphertext> doClone() const override;

public:
  /// The value count (8 bytes), the values (real and imaginary part each),
  /// then the chain index (4 bytes).
  int64_t save(std::ostream& out) const override;
  int64_t load(std::istream& in) override;

  void add(const AbstractCiphertext& other) override;
  void addRaw(const AbstractCiphertext& other) override;
  void sub(const AbstractCiphertext& other) override;
  void subRaw(const AbstractCiphertext& other) override;
  void multiply(const AbstractCiphertext& other) override;
  void multiplyRaw(const AbstractCiphertext& other) override;

  void addPlain(const AbstractPlaintext& plain) override;
  void addPlainRaw(const AbstractPlaintext& plain) override;
  void subPlain(const AbstractPlaintext& plain) override;
  void subPlainRaw(const AbstractPlaintext& plain) override;
  void multiplyPlain(const AbstractPlaintext& plain) override;
  void multiplyPlainRaw(const AbstractPlaintext& plain) override;

  void square() override;
  void squareRaw() override;

  using AbstractCiphertext::multiplyScalar;
  /// Multiplies every slot by the integer; no rescale.
  void multiplyScalar(int scalar) override;

  void relinearize() override;
  void rescale() override;
  void rescaleRaw() override;

  void setScale(double s) override { scale = s; }
  double getScale() const override { return scale; }

  void conjugate() override;
  void conjugateRaw() override;
  void negate() override;

  /// Cyclic rotation; the offset is taken modulo the number of values.
  void rotate(int n) override;

  using AbstractCiphertext::innerSum;
  void innerSum(int rot1, int rot2, bool reverse = false) override;

  void toDevice(DeviceType dev) override { device = dev; }

  /// Lowers the chain index; refuses values below 0, above the top or above
  /// the current one with std::invalid_argument.
  void setChainIndex(int chainIndex) override;
  /// The chain index, -1 when the context hides chain indexes.
  int getChainIndex() const override;

  int slotCount() const override;

  /// Multiplies the values by factor; scale and chain index are unchanged.
  void multiplyByChangingScale(double factor) override;

  bool isEmpty() const override { return rawVals.empty(); }

  const std::vector<std::complex<double>>& getRawValues() const { return rawVals; }

private:
  friend class MockupEncoder;
  friend class MockupBootstrapEvaluator;

  MockupCiphertext(const MockupCiphertext& src) = default;

  void checkDevice(DeviceType otherDevice) const;
  /// Casts the operand and checks its device, value count and chain index.
  const MockupCiphertext& checkOperand(const AbstractCiphertext& other) const;
  const MockupPlaintext& checkOperand(const AbstractPlaintext& other) const;
  /// Equal value counts and, unless the context manages them, equal chain indexes.
  void checkMatching(size_t otherSize, int otherChainIndex, const char* otherKind) const;
  void trackValues() const;
  void count(int code) const;
  /// Refuses a chain index that setChainIndex does not accept.
  void checkChainIndexTarget(int newChainIndex) const;
  /// Refuses, before anything changes, a product whose final rescale would
  /// be refused: the chain index is explicit and already 0.
  void checkRescalable() const;

  /// The raw two-operand step: checks the operand, counts the operation,
  /// replaces every value v by op(v, w) with w the operand's value, and
  /// tracks the values.
  template <typename Operand, typename Op>
  void combine(const Operand& other, int code, Op op);
  /// The same for a product of complex values.
  template <typename Operand>
  void multiplyBy(const Operand& other, int code);
  /// Replaces every value v by op(v) and tracks the values.
  template <typename Op>
  void transform(Op op);

  std::vector<std::complex<double>> rawVals;
  int32_t chainIndex = -1;
  double scale = 1.0;
  int32_t device = DEVICE_CPU;
  const MockupContext* mockupContext;
};

} // namespace quorvane

#endif
