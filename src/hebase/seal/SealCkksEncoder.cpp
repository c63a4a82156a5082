#include "hebase/seal/SealCkksEncoder.h"

#include <stdexcept>
#include <string>

#include <seal/ckks.h>
#include <seal/decryptor.h>
#include <seal/encryptor.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

namespace {

// SEAL's encoder and decryptor take no const this, though they change no state
// of their own that callers can see; the context owns them as non-const objects.
seal::CKKSEncoder& ckksEncoderOf(const SealCkksContext& he)
{
  return const_cast<seal::CKKSEncoder&>(he.getCkksEncoder());
}

seal::Decryptor& decryptorOf(const SealCkksContext& he)
{
  return const_cast<seal::Decryptor&>(he.getDecryptor());
}

} // namespace


SealCkksEncoder::SealCkksEncoder(const SealCkksContext& he) : he(he) {}

SealCkksEncoder::~SealCkksEncoder() {}

void SealCkksEncoder::setDefaultScale(double scale) { defaultScale = scale; }

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

void SealCkksEncoder::encode(AbstractPlaintext& res,
                             const std::vector<std::complex<double>>& values,
                             int chainIndex) const
{
  LeafTimer timer("SEAL::encode");
  SealCkksPlaintext& p = dynamic_cast<SealCkksPlaintext&>(res);
  checkChainIndex(chainIndex);
  double scale = getDefaultScale(chainIndex);
  ckksEncoderOf(he).encode(values, he.getParmsIdForChainIndex(chainIndex), scale,
                             p.sealPlaintext);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, const std::vector<double>& values,
                             int chainIndex) const
{
  LeafTimer timer("SEAL::encode");
  SealCkksPlaintext& p = dynamic_cast<SealCkksPlaintext&>(res);
  checkChainIndex(chainIndex);
  double scale = getDefaultScale(chainIndex);
  ckksEncoderOf(he).encode(values, he.getParmsIdForChainIndex(chainIndex), scale,
                             p.sealPlaintext);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, double value, int chainIndex) const
{
  LeafTimer timer("SEAL::encode");
  SealCkksPlaintext& p = dynamic_cast<SealCkksPlaintext&>(res);
  checkChainIndex(chainIndex);
  double scale = getDefaultScale(chainIndex);
  ckksEncoderOf(he).encode(value, he.getParmsIdForChainIndex(chainIndex), scale,
                             p.sealPlaintext);
}

void SealCkksEncoder::encode(AbstractPlaintext& res, int value, int chainIndex) const
{
  encode(res, static_cast<double>(value), chainIndex);
}

std::vector<double> SealCkksEncoder::decodeDouble(const AbstractPlaintext& src) const
{
  LeafTimer timer("SEAL::decode");
  const SealCkksPlaintext& p = dynamic_cast<const SealCkksPlaintext&>(src);
  std::vector<double> res(he.slotCount());
  ckksEncoderOf(he).decode(p.sealPlaintext, res);
  return res;
}

std::vector<std::complex<double>> SealCkksEncoder::decodeComplex(const AbstractPlaintext& src) const
{
  LeafTimer timer("SEAL::decode");
  const SealCkksPlaintext& p = dynamic_cast<const SealCkksPlaintext&>(src);
  std::vector<std::complex<double>> res(he.slotCount());
  ckksEncoderOf(he).decode(p.sealPlaintext, res);
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
  decryptorOf(he).decrypt(c.getSealCiphertext(), p.sealPlaintext);
}

const HeContext& SealCkksEncoder::getHeContext() const { return he; }

} // namespace quorvane
