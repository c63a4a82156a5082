#include "hebase/mockup/DebugEncoder.h"

#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/DebugPlaintext.h"

namespace quorvane {

DebugEncoder::DebugEncoder(const DebugContext& context)
    : context(&context), encoder1(context.getFirstContext().getEncoder()),
      encoder2(context.getSecondContext().getEncoder())
{
}

DebugEncoder::~DebugEncoder() {}

void DebugEncoder::setDefaultScale(double scale)
{
  encoder1->setDefaultScale(scale);
  encoder2->setDefaultScale(scale);
}

double DebugEncoder::getDefaultScale(int chainIndex) const
{
  return encoder1->getDefaultScale(chainIndex);
}

void DebugEncoder::restoreDefaultScale()
{
  encoder1->restoreDefaultScale();
  encoder2->restoreDefaultScale();
}

void DebugEncoder::setDecryptAddedNoiseEnabled(bool enabled)
{
  encoder1->setDecryptAddedNoiseEnabled(enabled);
}

bool DebugEncoder::getDecryptAddedNoiseEnabled() const
{
  return encoder1->getDecryptAddedNoiseEnabled();
}

void DebugEncoder::setDecryptAddedNoisePrecision(int precision)
{
  encoder1->setDecryptAddedNoisePrecision(precision);
}

int DebugEncoder::getDecryptAddedNoisePrecision() const
{
  return encoder1->getDecryptAddedNoisePrecision();
}

void DebugEncoder::encode(AbstractPlaintext& res, const std::vector<std::complex<double>>& values,
                          int chainIndex) const
{
  DebugPlaintext& p = dynamic_cast<DebugPlaintext&>(res);
  encoder1->encode(p.getP1(), values, chainIndex);
  encoder2->encode(p.getP2(), values, chainIndex);
}

void DebugEncoder::encode(AbstractPlaintext& res, const std::vector<double>& values,
                          int chainIndex) const
{
  DebugPlaintext& p = dynamic_cast<DebugPlaintext&>(res);
  encoder1->encode(p.getP1(), values, chainIndex);
  encoder2->encode(p.getP2(), values, chainIndex);
}

std::vector<double> DebugEncoder::decodeDouble(const AbstractPlaintext& src) const
{
  return encoder1->decodeDouble(dynamic_cast<const DebugPlaintext&>(src).getP1());
}

std::vector<std::complex<double>> DebugEncoder::decodeComplex(const AbstractPlaintext& src) const
{
  return encoder1->decodeComplex(dynamic_cast<const DebugPlaintext&>(src).getP1());
}

void DebugEncoder::encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const
{
  DebugCiphertext& c = dynamic_cast<DebugCiphertext&>(res);
  const DebugPlaintext& p = dynamic_cast<const DebugPlaintext&>(src);
  encoder1->encrypt(c.getC1(), p.getP1());
  encoder2->encrypt(c.getC2(), p.getP2());
}

void DebugEncoder::decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const
{
  DebugPlaintext& p = dynamic_cast<DebugPlaintext&>(res);
  const DebugCiphertext& c = dynamic_cast<const DebugCiphertext&>(src);
  encoder1->decrypt(p.getP1(), c.getC1());
  encoder2->decrypt(p.getP2(), c.getC2());
}

const HeContext& DebugEncoder::getHeContext() const { return *context; }

} // namespace quorvane
