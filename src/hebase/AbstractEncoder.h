#ifndef QUORVANE_HEBASE_ABSTRACTENCODER_H
#define QUORVANE_HEBASE_ABSTRACTENCODER_H

#include <complex>
#include <string>
#include <vector>

#include "hebase/DeviceType.h"

namespace quorvane {

class HeContext;
class AbstractCiphertext;
class AbstractPlaintext;

/// Backend encoder: encodes values into backend plaintexts and back, encrypts
/// and decrypts. Backends supply the complex and real encodings, the real and
/// complex decodings, encrypt and decrypt; everything else derives from them.
class AbstractEncoder
{
public:
  /// Compares actual with expected slot by slot (absolute difference, or the
  /// relative one when percent: SlotComparison); returns the largest absolute
  /// difference.
  /// On the first failing slot it prints a report to standard output and
  /// throws std::runtime_error "Assert Equals Failed".
  virtual double assertEqualsVectors(const std::string& title,
                                     const std::vector<std::complex<double>>& actual,
                                     const std::vector<std::complex<double>>& expected,
                                     double eps, bool percent) const;

  virtual ~AbstractEncoder();

  virtual void setDefaultDevice(DeviceType device);
  virtual DeviceType getDefaultDevice() const;

  virtual void setDefaultScale(double scale);
  virtual double getDefaultScale(int chainIndex) const;
  virtual void restoreDefaultScale();

  virtual void setDecryptAddedNoiseEnabled(bool enabled);
  virtual bool getDecryptAddedNoiseEnabled() const;
  virtual void setDecryptAddedNoisePrecision(int precision);
  virtual int getDecryptAddedNoisePrecision() const;

  virtual void encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
                      int chainIndex) const = 0;
  virtual void encode(AbstractPlaintext& res, const std::vector<double>& values,
                      int chainIndex) const = 0;
  virtual void encode(AbstractPlaintext& res, const std::vector<int>& values,
                      int chainIndex) const;
  virtual void encode(AbstractPlaintext& res, const std::vector<long>& values,
                      int chainIndex) const;
  /// The value in every slot.
  virtual void encode(AbstractPlaintext& res, double value, int chainIndex) const;
  /// The value in every slot.
  virtual void encode(AbstractPlaintext& res, int value, int chainIndex) const;

  /// Real decoding, each value rounded to the nearest integer (halves away from zero);
  /// std::overflow_error when a value does not fit the integer type.
  virtual std::vector<int> decodeInt(const AbstractPlaintext& src) const;
  virtual std::vector<long> decodeLong(const AbstractPlaintext& src) const;
  virtual std::vector<double> decodeDouble(const AbstractPlaintext& src) const = 0;
  virtual std::vector<std::complex<double>> decodeComplex(const AbstractPlaintext& src) const = 0;

  virtual void encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const = 0;
  virtual void decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const = 0;

  virtual void encodeEncrypt(AbstractCiphertext& res,
                             const std::vector<std::complex<double>>& values,
                             int chainIndex) const;
  virtual void encodeEncrypt(AbstractCiphertext& res, const std::vector<double>& values,
                             int chainIndex) const;
  virtual void encodeEncrypt(AbstractCiphertext& res, const std::vector<int>& values,
                             int chainIndex) const;
  virtual void encodeEncrypt(AbstractCiphertext& res, const std::vector<long>& values,
                             int chainIndex) const;
  virtual void encodeEncrypt(AbstractCiphertext& res, double value, int chainIndex) const;
  virtual void encodeEncrypt(AbstractCiphertext& res, int value, int chainIndex) const;

  virtual std::vector<int> decryptDecodeInt(const AbstractCiphertext& src) const;
  virtual std::vector<long> decryptDecodeLong(const AbstractCiphertext& src) const;
  virtual std::vector<double> decryptDecodeDouble(const AbstractCiphertext& src) const;
  virtual std::vector<std::complex<double>>
  decryptDecodeComplex(const AbstractCiphertext& src) const;

  /// Decrypts and decodes src and compares it with expected (assertEqualsVectors).
  virtual double assertEquals(const AbstractCiphertext& src, const std::string& title,
                              const std::vector<std::complex<double>>& expected, double eps,
                              bool percent) const;
  virtual double assertEquals(const AbstractCiphertext& src, const std::string& title,
                              const std::vector<double>& expected, double eps,
                              bool percent) const;
  virtual double assertEquals(const AbstractCiphertext& src, const std::string& title,
                              const std::vector<int>& expected, double eps,
                              bool percent) const;
  virtual double assertEquals(const AbstractCiphertext& src, const std::string& title,
                              const std::vector<long>& expected, double eps,
                              bool percent) const;

  /// The context this encoder belongs to.
  virtual const HeContext& getHeContext() const = 0;

protected:
  AbstractEncoder() = default;
  AbstractEncoder(const AbstractEncoder&) = default;
  AbstractEncoder& operator=(const AbstractEncoder&) = default;

  DeviceType defaultDevice = DEVICE_CPU;
};

} // namespace quorvane

#endif
