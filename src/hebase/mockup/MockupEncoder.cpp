#include "hebase/mockup/MockupEncoder.h"

#include <algorithm>

#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/MockupPlaintext.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

MockupEncoder::MockupEncoder(const MockupContext& he)
    : mockupContext(&he), scale(he.getDefaultScale())
{
}

MockupEncoder::~MockupEncoder() {}

void MockupEncoder::setDefaultScale(double s) { scale = s; }

double MockupEncoder::getDefaultScale(int) const { return scale; }

void MockupEncoder::restoreDefaultScale() { scale = 1.0; }

void MockupEncoder::encode(MockupPlaintext& p, int chainIndex) const
{
  if (p.rawVals.size() < static_cast<size_t>(std::max(p.slotCount(), 0)))
    p.rawVals.resize(p.slotCount(), std::complex<double>(0, 0));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  QV_ASSERT(p.rawVals.size() == p.slotCount());
#pragma GCC diagnostic pop
  p.chainIndex = chainIndex;
  p.scale = scale;
  p.device = defaultDevice;
  mockupContext->trackValues(p.rawVals, p.getChainIndex());
  mockupContext->trackOperation(RunStats::ENCODE, chainIndex);
  mockupContext->trackChainIndex(chainIndex);
}

void MockupEncoder::encode(AbstractPlaintext& res,
                           const std::vector<std::complex<double>>& values,
                           int chainIndex) const
{
  MockupPlaintext& p = dynamic_cast<MockupPlaintext&>(res);
  p.rawVals = values;
  encode(p, chainIndex);
}

void MockupEncoder::encode(AbstractPlaintext& res, const std::vector<double>& values,
                           int chainIndex) const
{
  MockupPlaintext& p = dynamic_cast<MockupPlaintext&>(res);
  p.rawVals.assign(values.begin(), values.end());
  encode(p, chainIndex);
}

std::vector<double> MockupEncoder::decodeDouble(const AbstractPlaintext& src) const
{
  const MockupPlaintext& p = dynamic_cast<const MockupPlaintext&>(src);
  mockupContext->trackOperation(RunStats::DECODE_DOUBLE, p.getChainIndex());
  std::vector<double> res;
  res.reserve(p.rawVals.size());
  for (const std::complex<double>& v : p.rawVals)
    res.push_back(v.real());
  return res;
}

std::vector<std::complex<double>> MockupEncoder::decodeComplex(const AbstractPlaintext& src) const
{
  const MockupPlaintext& p = dynamic_cast<const MockupPlaintext&>(src);
  mockupContext->trackOperation(RunStats::DECODE_DOUBLE, p.getChainIndex());
  return p.rawVals;
}

void MockupEncoder::encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const
{
  MockupCiphertext& c = dynamic_cast<MockupCiphertext&>(res);
  const MockupPlaintext& p = dynamic_cast<const MockupPlaintext&>(src);
  mockupContext->trackOperation(RunStats::ENCRYPT, p.getChainIndex());
  c.rawVals = p.rawVals;
  c.chainIndex = p.chainIndex;
  c.scale = p.scale;
  c.device = defaultDevice;
  c.trackValues();
}

void MockupEncoder::decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const
{
  MockupPlaintext& p = dynamic_cast<MockupPlaintext&>(res);
  const MockupCiphertext& c = dynamic_cast<const MockupCiphertext&>(src);
  mockupContext->trackOperation(RunStats::DECRYPT, c.getChainIndex());
  p.rawVals = c.rawVals;
  p.chainIndex = c.chainIndex;
  p.scale = c.scale;
  p.device = defaultDevice;
}

const HeContext& MockupEncoder::getHeContext() const { return *mockupContext; }

} // namespace quorvane
