#ifndef QUORVANE_HEBASE_SEAL_SEALCKKSCIPHERTEXT_H
#define QUORVANE_HEBASE_SEAL_SEALCKKSCIPHERTEXT_H

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include <seal/ciphertext.h>

#include "hebase/AbstractCiphertext.h"

namespace quorvane {

class SealCkksContext;

/// Ciphertext of the SEAL CKKS backend: one SEAL ciphertext, computed on in
/// place with the SEAL objects of its context. Chain index, scale and size are
/// read from the SEAL ciphertext. Under accurate scaling, rescaling and
/// lowering the chain index keep the scale on the context's table.
class SealCkksCiphertext : public AbstractCiphertext
{
public:
  /// An empty ciphertext of the context, which must outlive it.
  explicit SealCkksCiphertext(const SealCkksContext& he);
  SealCkksCiphertext(const SealCkksCiphertext& src);
  ~SealCkksCiphertext() override;

  /// The encrypted words (with the print option for encrypted content), the
  /// detailed form at VERBOSITY_DETAILED and above, else the short form.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  std::shared_ptr<AbstractCiphertext> doClone() const override;

public:
  /// SEAL's serialization, uncompressed; returns the bytes written. An empty
  /// ciphertext is refused.
  int64_t save(std::ostream& out) const override;
  /// Reads and validates a SEAL ciphertext blob; returns the bytes read.
  int64_t load(std::istream& in) override;

  void add(const AbstractCiphertext& other) override;
  void addRaw(const AbstractCiphertext& other) override;
  void sub(const AbstractCiphertext& other) override;
  void subRaw(const AbstractCiphertext& other) override;
  /// A refusal of any step leaves the ciphertext as it was (so for square
  /// and multiplyPlain).
  void multiply(const AbstractCiphertext& other) override;
  /// Refuses a product at chain index 0 whose scale does not fit with a message
  /// naming the operand at chain index 0.
  void multiplyRaw(const AbstractCiphertext& other) override;
  void addPlain(const AbstractPlaintext& plain) override;
  void addPlainRaw(const AbstractPlaintext& plain) override;
  void subPlain(const AbstractPlaintext& plain) override;
  void subPlainRaw(const AbstractPlaintext& plain) override;
  void multiplyPlain(const AbstractPlaintext& plain) override;
  void multiplyPlainRaw(const AbstractPlaintext& plain) override;
  void square() override;
  void squareRaw() override;

  /// Product by a plaintext of x at the encoder's scale, then rescaling.
  void multiplyScalar(double x) override;
  /// -4 to 6 (but 0) by additions; otherwise a product by n encoded at scale 1.
  void multiplyScalar(int n) override;

  void relinearize() override;
  /// Rescales; under accurate scaling lands on the table when the scale was on it,
  /// without it divides the scale by the dropped prime's nominal power of two.
  void rescale() override;
  void rescaleRaw() override;
  void setScale(double scale) override;
  double getScale() const override;
  void conjugate() override;
  void conjugateRaw() override;
  void negate() override;
  /// By the context's rotation set: default keys, or the decomposition into custom steps.
  void rotate(int n) override;

  /// Lowers the chain index; a ciphertext on the accurate scales stays on them.
  void setChainIndex(int chainIndex) override;
  /// Refuses an empty ciphertext.
  int getChainIndex() const override;
  /// Nothing.
  void remod(uint64_t modulus) override;
  int slotCount() const override;
  bool isEmpty() const override;
  /// No data, fewer than two polynomials, or all polynomials after the first zero.
  bool isTransparent() const override;
  /// A transparent ciphertext becomes an encryption of zero; an empty one is left
  /// alone (it has no chain index or scale to encrypt at).
  void encryptZeroIfTransparent() override;
  /// slots * (chain index + 1) * 16 * polynomial count; 0 for an empty ciphertext.
  int64_t getEstimatedMemoryUsageBytes() const override;

  /// Whether the scale is the context's accurate scale of the chain index.
  bool followsAccurateScaling() const;
  /// Sets the scale to the accurate scale of the chain index.
  void alignWithAccurateScaling();
  /// Multiplies by 1 encoded at scale s (no rescale): the scale grows by s.
  void multiplyByOneWithScale(double s);
  /// Drops primes down to the level of the parameter id.
  void modSwitchTo(const std::array<uint64_t, 4>& parmsId);

  const seal::Ciphertext& getSealCiphertext() const { return sealCiphertext; }
  seal::Ciphertext& getSealCiphertext() { return sealCiphertext; }
  const SealCkksContext& getSealCkksContext() const { return he; }

private:
  const SealCkksContext& he;
  seal::Ciphertext sealCiphertext;

  /// Whether rescaling can drop a prime (the ciphertext is above chain index 0).
  bool canRescale() const;
  /// Runs the steps of a composite operation on this ciphertext, or on a copy
  /// when a later step is known to refuse once earlier ones changed it.
  template <typename Steps>
  void runSteps(bool laterStepRefuses, Steps steps);
};

} // namespace quorvane

#endif
