#ifndef QUORVANE_HEBASE_MOCKUP_EMPTYCIPHERTEXT_H
#define QUORVANE_HEBASE_MOCKUP_EMPTYCIPHERTEXT_H

#include <cstdint>
#include <memory>

#include "hebase/AbstractCiphertext.h"

namespace quorvane {

class EmptyContext;

/// Ciphertext of the empty context: only a chain index. Operations check the
/// operands' chain indexes, count themselves and move the chain index as a
/// CKKS backend would.
class EmptyCiphertext : public AbstractCiphertext
{
public:
  /// An empty ciphertext at chain index -1.
  explicit EmptyCiphertext(const EmptyContext& he);
  ~EmptyCiphertext() override;

protected:
  /// A copy; counts "cCopy" when the chain index is known.
  std::shared_ptr<AbstractCiphertext> doClone() const override;

public:
  /// Refused: "Not implemented".
  int64_t save(std::ostream& out) const override;
  /// Refused: "Not implemented".
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
  /// Counts "multiplyPlainRaw"; the chain index stays.
  void multiplyScalar(int scalar) override;

  void relinearize() override;
  void rescale() override;
  void rescaleRaw() override;
  /// Does nothing.
  void setScale(double scale) override;
  /// 1.0.
  double getScale() const override;
  /// Refused: "Not implemented".
  void conjugate() override;
  /// Refused: "Not implemented".
  void conjugateRaw() override;
  void negate() override;
  void rotate(int n) override;

  using AbstractCiphertext::innerSum;
  /// One copy, then one rotation and one addition per pass.
  void innerSum(int rot1, int rot2, bool reverse = false) override;

  /// Sets the chain index; refuses values below 0, above the top or above
  /// the current one (once one is set).
  void setChainIndex(int chainIndex) override;
  /// The chain index, -1 when the context hides chain indexes.
  int getChainIndex() const override;
  int slotCount() const override;

  /// Refused: "Not implemented".
  void multiplyByChangingScale(double factor) override;

  /// True until a chain index is first set.
  bool isEmpty() const override { return !chainIndexSet; }

private:
  friend class EmptyBootstrapEvaluator;

  EmptyCiphertext(const EmptyCiphertext& src) = default;

  /// Refuses an operand at another chain index unless the context manages them.
  void checkChainIndex(int otherChainIndex) const;
  /// Counts one operation at this ciphertext's chain index.
  void count(int code) const;

  const EmptyContext* emptyContext;
  int32_t chainIndex = -1;
  bool chainIndexSet = false;
};

} // namespace quorvane

#endif
