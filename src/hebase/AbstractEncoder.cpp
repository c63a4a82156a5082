#include "hebase/AbstractEncoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <memory>
#include <stdexcept>

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/HeContext.h"
#include "hebase/SlotComparison.h"

namespace quorvane {

namespace {

template <typename T>
std::vector<double> toDoubles(const std::vector<T>& values)
{
  return std::vector<double>(values.begin(), values.end());
}

template <typename T>
std::vector<std::complex<double>> toComplex(const std::vector<T>& values)
{
  std::vector<std::complex<double>> res;
  res.reserve(values.size());
  for (const T& v : values)
    res.emplace_back(static_cast<double>(v), 0.0);
  return res;
}

/// A new plaintext of the encoder's context holding value encoded at the
/// chain index, encrypted into res.
template <typename T>
void encodeThenEncrypt(const AbstractEncoder& encoder, AbstractCiphertext& res, const T& value,
                       int chainIndex)
{
  std::shared_ptr<AbstractPlaintext> plain = encoder.getHeContext().createAbstractPlaintext();
  encoder.encode(*plain, value, chainIndex);
  encoder.encrypt(res, *plain);
}

/// A new plaintext of the encoder's context holding the decryption of src.
std::shared_ptr<AbstractPlaintext> decrypted(const AbstractEncoder& encoder,
                                             const AbstractCiphertext& src)
{
  std::shared_ptr<AbstractPlaintext> plain = encoder.getHeContext().createAbstractPlaintext();
  encoder.decrypt(*plain, src);
  return plain;
}

/// Rounds to the nearest integer, halves away from zero; refuses values
/// outside the range of T.
template <typename T>
std::vector<T> roundAll(const std::vector<double>& values)
{
  std::vector<T> res;
  res.reserve(values.size());
  for (double v : values) {
    double r = std::round(v);
    // The upper bound 2^(digits) is exact as a double; max() itself may not be.
    if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
          r < std::ldexp(1.0, std::numeric_limits<T>::digits)))
      throw std::overflow_error("Decoded value " + std::to_string(v) +
                              " is out of the range of the integer type");
    res.push_back(static_cast<T>(r));
  }
  return res;
}

} // namespace

double AbstractEncoder::assertEqualsVectors(const std::string& title,
                                            const std::vector<std::complex<double>>& actual,
                                            const std::vector<std::complex<double>>& expected,
                                            double eps, bool percent) const
{
  if (expected.size() > actual.size())
    throw std::runtime_error("Size of expected values vector is bigger than size of cipher");
  double maxDiff = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    const SlotComparison slot(actual[i], expected[i]);
    if (percent ? slot.getRelativeDiff() > eps : slot.getDiff() > eps)
      slot.fail(title, i, eps, percent);
    maxDiff = std::max(slot.getDiff(), maxDiff);
  }
  return maxDiff;
}

AbstractEncoder::~AbstractEncoder() {}

void AbstractEncoder::setDefaultDevice(DeviceType device) { defaultDevice = device; }

DeviceType AbstractEncoder::getDefaultDevice() const { return defaultDevice; }

void AbstractEncoder::setDefaultScale(double)
{
  throw std::runtime_error("setDefaultScale is not supported by this encoder");
}

double AbstractEncoder::getDefaultScale(int) const
{
  throw std::runtime_error("getDefaultScale is not supported by this encoder");
}

void AbstractEncoder::restoreDefaultScale()
{
  throw std::runtime_error("restoreDefaultScale is not supported by this encoder");
}

void AbstractEncoder::setDecryptAddedNoiseEnabled(bool enabled)
{
  if (enabled)
    throw std::runtime_error("Enabling decrypt added noise not supported");
}

bool AbstractEncoder::getDecryptAddedNoiseEnabled() const { return false; }

void AbstractEncoder::setDecryptAddedNoisePrecision(int)
{
  throw std::runtime_error("Decrypt added noise precision not supported");
}

int AbstractEncoder::getDecryptAddedNoisePrecision() const
{
  throw std::runtime_error("Decrypt added noise precision not supported");
}

void AbstractEncoder::encode(AbstractPlaintext& res, const std::vector<int>& values,
                             int chainIndex) const
{
  encode(res, toDoubles(values), chainIndex);
}

void AbstractEncoder::encode(AbstractPlaintext& res, const std::vector<long>& values,
                             int chainIndex) const
{
  encode(res, toDoubles(values), chainIndex);
}

void AbstractEncoder::encode(AbstractPlaintext& res, double value, int chainIndex) const
{
  encode(res, std::vector<double>(res.slotCount(), value), chainIndex);
}

void AbstractEncoder::encode(AbstractPlaintext& res, int value, int chainIndex) const
{
  encode(res, std::vector<double>(res.slotCount(), static_cast<double>(value)), chainIndex);
}

std::vector<int> AbstractEncoder::decodeInt(const AbstractPlaintext& src) const
{
  return roundAll<int>(decodeDouble(src));
}

std::vector<long> AbstractEncoder::decodeLong(const AbstractPlaintext& src) const
{
  return roundAll<long>(decodeDouble(src));
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res,
                                    const std::vector<std::complex<double>>& values,
                                    int chainIndex) const
{
  encodeThenEncrypt(*this, res, values, chainIndex);
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res, const std::vector<double>& values,
                                    int chainIndex) const
{
  encodeThenEncrypt(*this, res, values, chainIndex);
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res, const std::vector<int>& values,
                                    int chainIndex) const
{
  encodeEncrypt(res, toDoubles(values), chainIndex);
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res, const std::vector<long>& values,
                                    int chainIndex) const
{
  encodeEncrypt(res, toDoubles(values), chainIndex);
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res, double value, int chainIndex) const
{
  encodeThenEncrypt(*this, res, value, chainIndex);
}

void AbstractEncoder::encodeEncrypt(AbstractCiphertext& res, int value, int chainIndex) const
{
  encodeThenEncrypt(*this, res, value, chainIndex);
}

std::vector<int> AbstractEncoder::decryptDecodeInt(const AbstractCiphertext& src) const
{
  return roundAll<int>(decryptDecodeDouble(src));
}

std::vector<long> AbstractEncoder::decryptDecodeLong(const AbstractCiphertext& src) const
{
  return roundAll<long>(decryptDecodeDouble(src));
}

std::vector<double> AbstractEncoder::decryptDecodeDouble(const AbstractCiphertext& src) const
{
  return decodeDouble(*decrypted(*this, src));
}

std::vector<std::complex<double>>
AbstractEncoder::decryptDecodeComplex(const AbstractCiphertext& src) const
{
  return decodeComplex(*decrypted(*this, src));
}

double AbstractEncoder::assertEquals(const AbstractCiphertext& src, const std::string& title,
                                     const std::vector<std::complex<double>>& expected,
                                     double eps, bool percent) const
{
  return assertEqualsVectors(title, decryptDecodeComplex(src), expected, eps, percent);
}

double AbstractEncoder::assertEquals(const AbstractCiphertext& src, const std::string& title,
                                     const std::vector<double>& expected, double eps,
                                     bool percent) const
{
  return assertEqualsVectors(title, decryptDecodeComplex(src), toComplex(expected), eps, percent);
}

double AbstractEncoder::assertEquals(const AbstractCiphertext& src, const std::string& title,
                                     const std::vector<int>& expected, double eps,
                                     bool percent) const
{
  return assertEqualsVectors(title, decryptDecodeComplex(src), toComplex(expected), eps, percent);
}

double AbstractEncoder::assertEquals(const AbstractCiphertext& src, const std::string& title,
                                     const std::vector<long>& expected, double eps,
                                     bool percent) const
{
  return assertEqualsVectors(title, decryptDecodeComplex(src), toComplex(expected), eps, percent);
}

} // namespace quorvane
