#include "hebase/seal/SealCkksEncoder.h"

#include <stdexcept>
#include <string>

#include <seal/ckks.h>
#include <seal/decryptor.h>
#include <seal/encryptor.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/ValueChecks.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

SealCkksEncoder::SealCkksEncoder(const SealCkksContext& he) : he(he) {}

SealCkksEncoder::~SealCkksEncoder() {}

void SealCkksEncoder::setDefaultScale(double scale)
{
  ValueChecks::checkEncoderScale(scale);
  defaultScale = scale;
}

double SealCkksEncoder::getDefaultScale(int chainIndex) const
{
  if (defaultScale != -1.0)
    return defaultScale;
  if (he.getUseAccurateScaling())
    return he.getAccurateScale(chainIndex);
  return he.getDefaultScale();
}

void SealCkksEncoder::restoreDefaultScale() { defaultScale = -1.0; }

void SealCkksEncoder::checkChainIndex(int chainIndex) const
{
  int top = he.getTopChainIndex();
  if (chainIndex < 0 || chainIndex > top)
    throw std::invalid_argument("Illegal chain index value " + std::to_string(chainIndex) +
                                " where max=" + std::to_string(top));
}

template <typename Values>
void SealCkksEncoder::encodeAtChainIndex(AbstractPlaintext& res, const Values& values,
                                         int chainIndex) const
{
  LeafTimer timer("SEAL::encode");
  SealCkksPlaintext& p = dynamic_cast<SealCkksPlaintext&>(res);
  checkChainIndex(chainIndex);
  // SEAL turns NaN and infinities into arbitrary coefficients.
  ValueChecks::checkFinite(values);
  he.getCkksEncoder().encode(values, he.getParmsIdForChainIndex(chainIndex),
                             getDefaultScale(chainIndex), p.sealPlaintext);
}

void SealCkksEncoder::encode(AbstractPlaintext& res,
                             const std::vector<std::complex<double>>& values,
                             int chainIndex) const
{
  encodeAtChainIndex(res, values, chainIndex);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, const std::vector<double>& values,
                             int chainIndex) const
{
  encodeAtChainIndex(res, values, chainIndex);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, double value, int chainIndex) const
{
  encodeAtChainIndex(res, value, chainIndex);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, int value, int chainIndex) const
{
  encodeAtChainIndex(res, static_cast<double>(value), chainIndex);
}

std::vector<double> SealCkksEncoder::decodeDouble(const AbstractPlaintext& src) const
{
  LeafTimer timer("SEAL::decode");
  const SealCkksPlaintext& p = dynamic_cast<const SealCkksPlaintext&>(src);
  std::vector<double> res;
  he.getCkksEncoder().decode(p.sealPlaintext, res);
  return res;
}

std::vector<std::complex<double>> SealCkksEncoder::decodeComplex(const AbstractPlaintext& src) const
{
  LeafTimer timer("SEAL::decode");
  const SealCkksPlaintext& p = dynamic_cast<const SealCkksPlaintext&>(src);
  std::vector<std::complex<double>> res;
  he.getCkksEncoder().decode(p.sealPlaintext, res);
  return res;
}

void SealCkksEncoder::encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const
{
  LeafTimer timer("SEAL::encrypt");
  SealCkksCiphertext& c = dynamic_cast<SealCkksCiphertext&>(res);
  const SealCkksPlaintext& p = dynamic_cast<const SealCkksPlaintext&>(src);
  he.getEncryptor().encrypt(p.sealPlaintext, c.getSealCiphertext());
}

void SealCkksEncoder::decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const
{
  LeafTimer timer("SEAL::decrypt");
  SealCkksPlaintext& p = dynamic_cast<SealCkksPlaintext&>(res);
  const SealCkksCiphertext& c = dynamic_cast<const SealCkksCiphertext&>(src);
  if (!he.hasSecretKey())
    throw std::runtime_error("This context has no secret key");
  he.getDecryptor().decrypt(c.getSealCiphertext(), p.sealPlaintext);
}

const HeContext& SealCkksEncoder::getHeContext() const { return he; }

} // namespace quorvane
