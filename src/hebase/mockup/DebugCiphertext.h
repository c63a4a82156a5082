#ifndef QUORVANE_HEBASE_MOCKUP_DEBUGCIPHERTEXT_H
#define QUORVANE_HEBASE_MOCKUP_DEBUGCIPHERTEXT_H

#include <memory>
#include <string>

#include "hebase/AbstractCiphertext.h"

namespace quorvane {

class DebugContext;

/// Ciphertext of the debug context: a ciphertext of each inner context. Every
/// operation runs on both halves, is logged, and is followed by a check that
/// both halves decrypt to the same real values within the context's threshold.
class DebugCiphertext : public AbstractCiphertext
{
public:
  DebugCiphertext(const DebugContext& context, std::shared_ptr<AbstractCiphertext> c1,
                  std::shared_ptr<AbstractCiphertext> c2);
  ~DebugCiphertext() override;

  /// Both halves' prints, then the mean errors between their decrypted values.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  /// Clones of both halves with an empty log.
  std::shared_ptr<AbstractCiphertext> doClone() const override;

public:
  /// The first half's body, then the second's.
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
  void addScalar(double scalar) override;
  void addScalar(int scalar) override;
  void multiplyScalar(double scalar) override;
  void multiplyScalar(int scalar) override;
  void relinearize() override;
  void rescale() override;
  void rescaleRaw() override;
  void setScale(double scale) override;
  double getScale() const override;
  void conjugate() override;
  void conjugateRaw() override;
  void negate() override;
  void rotate(int n) override;
  void setChainIndex(int chainIndex) override;
  int getChainIndex() const override;
  /// On the first half only; call syncC2FromC1 afterwards.
  void remod(uint64_t modulus) override;
  int slotCount() const override;
  void multiplyByChangingScale(double factor) override;
  bool isEmpty() const override;
  bool isTransparent() const override;

  /// The second half becomes the second context's encryption of the first
  /// half's values, at the first half's chain index.
  void syncC2FromC1();

  /// Appends the name to the log, then verifies.
  void recordOperation(const std::string& name);

  /// Compares the real values both halves decrypt to; on the first slot that
  /// differs beyond the threshold prints a report to standard output and
  /// throws std::runtime_error "DebugCiphertext verification error".
  void verify(const std::string& title) const;

  const std::string& getOperationLog() const { return operationLog; }
  AbstractCiphertext& getC1() const { return *c1; }
  AbstractCiphertext& getC2() const { return *c2; }

private:
  DebugCiphertext(const DebugCiphertext&) = delete;

  /// Runs op on the first half (with the first half of the operand), then on
  /// the second half, then records the operation under name.
  void applyToBoth(void (AbstractCiphertext::*op)(const AbstractCiphertext&),
                   const AbstractCiphertext& other, const std::string& name);
  void applyToBoth(void (AbstractCiphertext::*op)(const AbstractPlaintext&),
                   const AbstractPlaintext& plain, const std::string& name);
  void applyToBoth(void (AbstractCiphertext::*op)(), const std::string& name);
  template <typename T>
  void applyToBoth(void (AbstractCiphertext::*op)(T), T value, const std::string& name);

  const DebugContext* context;
  std::shared_ptr<AbstractCiphertext> c1;
  std::shared_ptr<AbstractCiphertext> c2;
  std::string operationLog;
};

} // namespace quorvane

#endif
