#include "hebase/Encoder.h"

#include <cmath>
#include <ostream>
#include <stdexcept>
#include <typeinfo>

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/ValueChecks.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

Encoder::Encoder(const HeContext& he) : he(&he), impl(he.getEncoder())
{
  impl->setDefaultDevice(he.getDefaultDevice());
}

Encoder::~Encoder() {}

template <typename TileType>
auto Encoder::of(TileType& tile) const -> decltype(tile.getImpl())
{
  he->checkSameContext(tile.getHeContext());
  return tile.getImpl();
}

int Encoder::resolveChainIndex(int chainIndex) const
{
  if (!he->getTraits().getSupportsExplicitChainIndices())
    return -1;
  int top = he->getTopChainIndex();
  if (chainIndex < -1 || chainIndex > top)
    throw std::invalid_argument("Illegal chain index value " + std::to_string(chainIndex) +
                                " where max=" + std::to_string(top));
  return chainIndex == -1 ? top : chainIndex;
}

// ---- Encoding and encryption ----

void Encoder::encode(PTile& res, const std::vector<std::complex<double>>& vals,
                     int chainIndex) const
{
  impl->encode(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encode(PTile& res, const std::vector<double>& vals, int chainIndex) const
{
  impl->encode(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encode(PTile& res, const std::vector<int>& vals, int chainIndex) const
{
  impl->encode(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encode(PTile& res, double val, int chainIndex) const
{
  impl->encode(of(res), val, resolveChainIndex(chainIndex));
}

void Encoder::encode(PTile& res, int val, int chainIndex) const
{
  impl->encode(of(res), val, resolveChainIndex(chainIndex));
}

void Encoder::encodeEncrypt(CTile& res, const std::vector<std::complex<double>>& vals,
                            int chainIndex) const
{
  impl->encodeEncrypt(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encodeEncrypt(CTile& res, const std::vector<double>& vals, int chainIndex) const
{
  impl->encodeEncrypt(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encodeEncrypt(CTile& res, const std::vector<int>& vals, int chainIndex) const
{
  impl->encodeEncrypt(of(res), vals, resolveChainIndex(chainIndex));
}

void Encoder::encodeEncrypt(CTile& res, double val, int chainIndex) const
{
  impl->encodeEncrypt(of(res), val, resolveChainIndex(chainIndex));
}

void Encoder::encodeEncrypt(CTile& res, int val, int chainIndex) const
{
  impl->encodeEncrypt(of(res), val, resolveChainIndex(chainIndex));
}

void Encoder::encrypt(CTile& res, const PTile& src) const
{
  impl->encrypt(of(res), of(src));
}

void Encoder::decrypt(PTile& res, const CTile& src) const
{
  impl->decrypt(of(res), of(src));
}

// ---- Decoding ----

std::vector<std::complex<double>> Encoder::decodeComplex(const PTile& src) const
{
  return impl->decodeComplex(of(src));
}

std::vector<double> Encoder::decodeDouble(const PTile& src) const
{
  return impl->decodeDouble(of(src));
}

std::vector<int> Encoder::decodeInt(const PTile& src) const
{
  return impl->decodeInt(of(src));
}

std::vector<std::complex<double>> Encoder::decryptDecodeComplex(const CTile& src) const
{
  return impl->decryptDecodeComplex(of(src));
}

std::vector<double> Encoder::decryptDecodeDouble(const CTile& src) const
{
  return impl->decryptDecodeDouble(of(src));
}

std::vector<int> Encoder::decryptDecodeInt(const CTile& src) const
{
  return impl->decryptDecodeInt(of(src));
}

std::vector<double> Encoder::decryptDecodeTileDouble(const Tile& t) const
{
  if (typeid(t) == typeid(CTile))
    return decryptDecodeDouble(static_cast<const CTile&>(t));
  QV_ASSERT(typeid(t) == typeid(PTile));
  // Decoding reads the plaintext only, so the argument stays as it is.
  return impl->decodeDouble(of(static_cast<const PTile&>(t)));
}

void Encoder::encryptTile(CTile& res, const Tile& src) const
{
  if (typeid(src) == typeid(CTile)) {
    const CTile& c = static_cast<const CTile&>(src);
    of(res);
    of(c);
    res = c;
    return;
  }
  QV_ASSERT(typeid(src) == typeid(PTile));
  impl->encrypt(of(res), of(static_cast<const PTile&>(src)));
}

// ---- Comparisons ----

double Encoder::assertEquals(const CTile& c, const std::string& title,
                             const std::vector<std::complex<double>>& expected, double eps,
                             bool percent) const
{
  return impl->assertEquals(of(c), title, expected, eps, percent);
}

double Encoder::assertEquals(const CTile& c, const std::string& title,
                             const std::vector<double>& expected, double eps, bool percent) const
{
  return impl->assertEquals(of(c), title, expected, eps, percent);
}

double Encoder::assertEquals(const CTile& c, const std::string& title,
                             const std::vector<int>& expected, double eps, bool percent) const
{
  return impl->assertEquals(of(c), title, expected, eps, percent);
}

void Encoder::printErrorStats(const CTile& actual, std::vector<double> expected,
                              std::ostream& out, bool asCsv) const
{
  size_t n = static_cast<size_t>(he->slotCount());
  if (expected.size() < n)
    throw std::invalid_argument("printErrorStats needs one expected value per slot: " +
                                std::to_string(n) + " slots but " +
                                std::to_string(expected.size()) + " expected values");
  std::vector<std::complex<double>> values = impl->decryptDecodeComplex(of(actual));
  if (values.size() < n)
    throw std::runtime_error("printErrorStats: the ciphertext decrypts to " +
                             std::to_string(values.size()) + " values, fewer than " +
                             std::to_string(n) + " slots");

  double sumDiff = 0, sumDiffSq = 0, sumPct = 0, sumPctSq = 0;
  // The first position with the largest difference (and its percentage), and
  // the first with the largest percentage.
  double maxDiff = 0, pctAtMax = 0, maxPct = 0;
  size_t iMax = 0, jMax = 0;
  for (size_t i = 0; i < n; ++i) {
    double a = values[i].real();
    double d = std::abs(a - expected[i]);
    double p = a != 0 ? std::abs(100 * d / a) : 100 * d;
    if (i == 0 || d > maxDiff) {
      maxDiff = d;
      pctAtMax = p;
      iMax = i;
    }
    if (i == 0 || p > maxPct) {
      maxPct = p;
      jMax = i;
    }
    sumDiff += d;
    sumDiffSq += d * d;
    sumPct += p;
    sumPctSq += p * p;
  }
  // Without slots there is nothing to average: the statistics are 0.
  double count = n > 0 ? static_cast<double>(n) : 1;
  double meanDiff = sumDiff / count;
  double stdDiff = std::sqrt(std::abs(sumDiffSq / count - meanDiff * meanDiff));
  double meanPct = sumPct / count;
  double stdPct = std::sqrt(std::abs(sumPctSq / count - meanPct * meanPct));

  if (asCsv) {
    out << maxDiff << ", " << meanDiff << ", " << stdDiff;
    return;
  }
  double expectedAtMax = n > 0 ? expected[iMax] : 0;
  double actualAtMax = n > 0 ? values[iMax].real() : 0;
  double expectedAtMaxPct = n > 0 ? expected[jMax] : 0;
  double actualAtMaxPct = n > 0 ? values[jMax].real() : 0;
  out << "Max diff  : expected=" << expectedAtMax << " actual=" << actualAtMax
      << " diff=" << maxDiff << " diff%=" << pctAtMax << "%" << std::endl;
  out << "Max diff% : expected=" << expectedAtMaxPct << " actual=" << actualAtMaxPct
      << " diff=" << std::abs(expectedAtMaxPct - actualAtMaxPct) << " diff%=" << maxPct << "%"
      << std::endl;
  out << "Mean diff :" << " diff=" << meanDiff << " diff%= " << meanPct << std::endl;
  out << "STD diff  :" << " diff=" << stdDiff << " diff%= " << stdPct << std::endl;
}

// ---- Settings ----

double Encoder::getDefaultScale(int chainIndex) const
{
  return impl->getDefaultScale(resolveChainIndex(chainIndex));
}

void Encoder::setDefaultScale(double scale)
{
  ValueChecks::checkEncoderScale(scale);
  impl->setDefaultScale(scale);
}

void Encoder::restoreDefaultScale() { impl->restoreDefaultScale(); }

void Encoder::setDefaultDevice(DeviceType device) { impl->setDefaultDevice(device); }

DeviceType Encoder::getDefaultDevice() const { return impl->getDefaultDevice(); }

void Encoder::setDecryptAddedNoiseEnabled(bool enabled)
{
  impl->setDecryptAddedNoiseEnabled(enabled);
}

bool Encoder::getDecryptAddedNoiseEnabled() const { return impl->getDecryptAddedNoiseEnabled(); }

void Encoder::setDecryptAddedNoisePrecision(int precision)
{
  impl->setDecryptAddedNoisePrecision(precision);
}

int Encoder::getDecryptAddedNoisePrecision() const
{
  return impl->getDecryptAddedNoisePrecision();
}

} // namespace quorvane
