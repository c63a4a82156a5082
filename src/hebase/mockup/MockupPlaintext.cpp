#include "hebase/mockup/MockupPlaintext.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/BinIoUtils.h"

namespace quorvane {

MockupPlaintext::MockupPlaintext(const MockupContext& he)
    : AbstractPlaintext(he), mockupContext(&he)
{
}

MockupPlaintext::~MockupPlaintext() {}

std::shared_ptr<AbstractPlaintext> MockupPlaintext::doClone() const
{
  return std::shared_ptr<AbstractPlaintext>(new MockupPlaintext(*this));
}

int64_t MockupPlaintext::saveBody(std::ostream& out,
                                  const std::vector<std::complex<double>>& values,
                                  int32_t chainIndex)
{
  BinIoUtils::writeSizeT(out, values.size());
  for (const std::complex<double>& v : values) {
    BinIoUtils::writeDouble(out, v.real());
    BinIoUtils::writeDouble(out, v.imag());
  }
  BinIoUtils::writeInt32(out, chainIndex);
  if (!out)
    throw std::runtime_error("Failed to write a mockup ciphertext or plaintext");
  return static_cast<int64_t>(8 + 16 * values.size() + 4);
}

int64_t MockupPlaintext::loadBody(std::istream& in, const HeContext& he, bool plaintext,
                                  std::vector<std::complex<double>>& values, int32_t& chainIndex)
{
  uint64_t n = BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT);
  uint64_t slots = static_cast<uint64_t>(he.slotCount());
  auto refuseCount = [&] {
    throw std::runtime_error("Invalid saved mockup tile: the value count is " +
                             std::to_string(n) + ", expected the context's slot count " +
                             std::to_string(slots));
  };
  // No values: an empty tile, saved as it was made.
  const bool empty = n == 0;
  if (n != slots && !empty)
    refuseCount();
  std::vector<std::complex<double>> loaded(n);
  for (uint64_t i = 0; i < n; ++i) {
    double re = BinIoUtils::readDouble(in);
    double im = BinIoUtils::readDouble(in);
    loaded[i] = std::complex<double>(re, im);
  }
  int32_t loadedChainIndex = BinIoUtils::readInt32(in);
  // Tiles of a context that hides chain indexes carry -1; a bootstrap may
  // raise a tile to the context's target, which can lie above the top.
  int lowest = he.getTraits().getSupportsExplicitChainIndices() ? 0 : -1;
  int highest = he.getTopChainIndex();
  if (he.getBootstrappable())
    highest = std::max(highest, he.getChainIndexAfterBootstrapping());
  if (empty) {
    // An empty ciphertext is always at -1; an empty plaintext may have been
    // given a chain index.
    if (!plaintext && loadedChainIndex != -1)
      refuseCount();
    lowest = -1;
  }
  if (loadedChainIndex < lowest || loadedChainIndex > highest)
    throw std::runtime_error("Invalid saved mockup tile: the chain index is " +
                             std::to_string(loadedChainIndex) + ", expected a value in [" +
                             std::to_string(lowest) + ", " + std::to_string(highest) + "]");
  values = std::move(loaded);
  chainIndex = loadedChainIndex;
  return static_cast<int64_t>(8 + 16 * n + 4);
}

int64_t MockupPlaintext::save(std::ostream& out) const
{
  return saveBody(out, rawVals, chainIndex);
}

int64_t MockupPlaintext::load(std::istream& in)
{
  int64_t read = loadBody(in, he, true, rawVals, chainIndex);
  if (!rawVals.empty())
    mockupContext->trackValues(rawVals, getChainIndex());
  return read;
}

void MockupPlaintext::setChainIndex(int newChainIndex)
{
  if (!he.getTraits().getSupportsExplicitChainIndices())
    return;
  int top = he.getTopChainIndex();
  if (newChainIndex < 0 || newChainIndex > top)
    throw std::invalid_argument("Given chain index is out of range. Given chain index: " +
                                std::to_string(newChainIndex) + ", allowed range: [0, " +
                                std::to_string(top) + "]");
  chainIndex = newChainIndex;
  mockupContext->trackValues(rawVals, getChainIndex());
  mockupContext->trackChainIndex(newChainIndex);
}

int MockupPlaintext::getChainIndex() const
{
  return he.getTraits().getSupportsExplicitChainIndices() ? chainIndex : -1;
}

int MockupPlaintext::slotCount() const { return he.slotCount(); }

} // namespace quorvane
