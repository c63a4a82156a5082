#ifndef QUORVANE_HEBASE_ABSTRACTCIPHERTEXT_H
#define QUORVANE_HEBASE_ABSTRACTCIPHERTEXT_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "hebase/DeviceType.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class HeContext;
class AbstractPlaintext;

/// Backend ciphertext. Every operation works in place on this object; a "Raw"
/// variant does the bare operation and the other one adds the scheme's
/// follow-up (relinearisation and rescaling after products).
class AbstractCiphertext : public Printable
{
public:
  ~AbstractCiphertext() override;

  /// Kind "CTile", the title, chain index and scale information, then the
  /// decrypted values at higher verbosity.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  /// A deep copy of the same backend and context.
  virtual std::shared_ptr<AbstractCiphertext> doClone() const = 0;

public:
  /// Writes the backend body; returns the bytes written.
  virtual int64_t save(std::ostream& out) const = 0;
  /// Reads the backend body; returns the bytes read.
  virtual int64_t load(std::istream& in) = 0;

  virtual void add(const AbstractCiphertext& other) = 0;
  virtual void addRaw(const AbstractCiphertext& other) = 0;
  virtual void sub(const AbstractCiphertext& other) = 0;
  virtual void subRaw(const AbstractCiphertext& other) = 0;
  /// Product, then relinearisation and rescaling.
  virtual void multiply(const AbstractCiphertext& other) = 0;
  virtual void multiplyRaw(const AbstractCiphertext& other) = 0;

  virtual void addPlain(const AbstractPlaintext& plain) = 0;
  virtual void addPlainRaw(const AbstractPlaintext& plain) = 0;
  virtual void subPlain(const AbstractPlaintext& plain) = 0;
  virtual void subPlainRaw(const AbstractPlaintext& plain) = 0;
  /// Product, then rescaling.
  virtual void multiplyPlain(const AbstractPlaintext& plain) = 0;
  virtual void multiplyPlainRaw(const AbstractPlaintext& plain) = 0;

  virtual void square() = 0;
  virtual void squareRaw() = 0;

  /// Adds the scalar to every slot by encoding it at this chain index.
  virtual void addScalar(double scalar);
  virtual void addScalar(int scalar);
  /// Multiplies every slot by encoding the scalar and multiplyPlain.
  virtual void multiplyScalar(double scalar);
  virtual void multiplyScalar(int scalar);
  /// Multiplies every slot by the imaginary unit.
  virtual void multiplyImaginaryUnit();
  /// Keeps the real part of every slot: (x + conj(x)) / 2.
  virtual void nullifyImaginaryPart();

  virtual void relinearize() = 0;
  /// Rescales; lowers the chain index by one.
  virtual void rescale() = 0;
  virtual void rescaleRaw() = 0;

  virtual void setScale(double scale) = 0;
  virtual double getScale() const = 0;

  virtual void conjugate() = 0;
  virtual void conjugateRaw() = 0;
  virtual void negate() = 0;

  /// Cyclic rotation: slot i receives slot i + n.
  virtual void rotate(int n) = 0;

  /// Adds rotations by rot1, 2 rot1, 4 rot1, ... below rot2 (negated when reverse).
  virtual void innerSum(int rot1, int rot2, bool reverse = false);
  /// innerSum(1, n, false).
  virtual void innerSum(int n);

  virtual void toDevice(DeviceType device);
  virtual DeviceType getCurrentDevice() const;

  /// Lowers the chain index to the value.
  virtual void setChainIndex(int chainIndex) = 0;
  /// The chain index; -1 on a context without explicit chain indexes.
  virtual int getChainIndex() const = 0;

  /// Backend-specific modulus operation.
  virtual void remod(uint64_t modulus);

  virtual int slotCount() const = 0;

  /// This becomes the sum of its rotations by 0 .. n-1, most significant bit first.
  virtual void sumExpBySquaringLeftToRight(int n);
  /// The same sum, least significant bit first.
  virtual void sumExpBySquaringRightToLeft(int n);

  /// Multiplies the represented values by factor by changing the scale only.
  virtual void multiplyByChangingScale(double factor);

  virtual bool isEmpty() const = 0;
  virtual bool isTransparent() const;
  /// Replaces a transparent ciphertext by a fresh encryption of zero.
  virtual void encryptZeroIfTransparent();

  /// Memory estimate in bytes; -1 when the backend makes none.
  virtual int64_t getEstimatedMemoryUsageBytes() const;

  /// An operation of this class with a ciphertext or a plaintext operand.
  typedef void (AbstractCiphertext::*CipherOperation)(const AbstractCiphertext&);
  typedef void (AbstractCiphertext::*PlainOperation)(const AbstractPlaintext&);

  /// Whether op with other, at this ciphertext's chain index, would certainly
  /// succeed as both are now (re-encrypting a transparent result included);
  /// false when it might be refused or the backend cannot tell, as by default.
  /// An operation over many ciphertexts that all pass may then change them in
  /// place instead of working on copies.
  virtual bool certainlyAccepts(CipherOperation op, const AbstractCiphertext& other) const;
  virtual bool certainlyAccepts(PlainOperation op, const AbstractPlaintext& other) const;

  /// A deep copy (doClone).
  std::shared_ptr<AbstractCiphertext> clone() const { return doClone(); }
  /// setChainIndex(getChainIndex() - 1).
  void reduceChainIndex();

  const HeContext& getContext() const { return he; }

protected:
  explicit AbstractCiphertext(const HeContext& he) : he(he) {}

  /// The work of innerSum, without its timer: refuses offsets that are not
  /// positive, then adds a freshly rotated copy for rot1, 2 rot1, ... below rot2.
  void addRotatedCopies(int rot1, int rot2, bool reverse);

  AbstractCiphertext(const AbstractCiphertext& src) = default;
  AbstractCiphertext& operator=(const AbstractCiphertext&) = delete;

  const HeContext& he;
};

} // namespace quorvane

#endif
