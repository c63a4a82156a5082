#include "hebase/mockup/EmptyEncoder.h"

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyContext.h"

namespace quorvane {

EmptyEncoder::EmptyEncoder(const EmptyContext& he) : emptyContext(&he) {}

EmptyEncoder::~EmptyEncoder() {}

void EmptyEncoder::setDefaultScale(double s) { scale = s; }

double EmptyEncoder::getDefaultScale(int) const { return scale; }

void EmptyEncoder::restoreDefaultScale() { scale = 1.0; }

void EmptyEncoder::encodeAt(AbstractPlaintext& res, int chainIndex) const
{
  // Counted first: a count outside the statistics' range fails before any change.
  emptyContext->trackOperation(RunStats::ENCODE, chainIndex);
  res.setChainIndex(chainIndex);
}

void EmptyEncoder::encode(AbstractPlaintext& res, const std::vector<std::complex<double>>&,
                          int chainIndex) const
{
  encodeAt(res, chainIndex);
}

void EmptyEncoder::encode(AbstractPlaintext& res, const std::vector<double>&,
                          int chainIndex) const
{
  encodeAt(res, chainIndex);
}

size_t EmptyEncoder::zeroCount() const
{
  int n = emptyContext->slotCount();
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::vector<double> EmptyEncoder::decodeDouble(const AbstractPlaintext& src) const
{
  emptyContext->trackOperation(RunStats::DECODE_DOUBLE, src.getChainIndex());
  return std::vector<double>(zeroCount(), 0.0);
}

std::vector<std::complex<double>> EmptyEncoder::decodeComplex(const AbstractPlaintext& src) const
{
  emptyContext->trackOperation(RunStats::DECODE_DOUBLE, src.getChainIndex());
  return std::vector<std::complex<double>>(zeroCount(), std::complex<double>(0.0, 0.0));
}

void EmptyEncoder::encrypt(AbstractCiphertext& res, const AbstractPlaintext& src) const
{
  int chainIndex = src.getChainIndex();
  emptyContext->trackOperation(RunStats::ENCRYPT, chainIndex);
  res.setChainIndex(chainIndex);
}

void EmptyEncoder::decrypt(AbstractPlaintext& res, const AbstractCiphertext& src) const
{
  int chainIndex = src.getChainIndex();
  emptyContext->trackOperation(RunStats::DECRYPT, chainIndex);
  res.setChainIndex(chainIndex);
}

const HeContext& EmptyEncoder::getHeContext() const { return *emptyContext; }

} // namespace quorvane
