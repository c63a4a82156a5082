#ifndef QUORVANE_TESTS_CPP_AESTESTUTILS_H
#define QUORVANE_TESTS_CPP_AESTESTUTILS_H

// Helpers of the AES tests: bootstrappable contexts, bit-sliced data in and
// out, and the numbers that bit fields stand for.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "AesReference.h"
#include "TestUtils.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/NumberConfig.h"
#include "math/DataPacking.h"
#include "math/aes/impl/AesElement.h"

namespace qvtest {

/// A bootstrappable mockup context whose bootstrapping lifts a ciphertext from
/// chain index m to m + d, with the given top chain index.
inline std::shared_ptr<quorvane::HeContext> aesContext(int slots, int m, int d, int top,
                                                       bool automatic = false)
{
  quorvane::BootstrapConfig config;
  config.minChainIndexForBootstrapping = m;
  config.targetChainIndex = m + d;
  return createMockup(bootstrappable(slots, top, config, automatic));
}

/// A tensor packing of the shape for an original tensor of the sizes, with an
/// optional packed-to-original mapping.
inline quorvane::TensorPacking tensorPacking(const quorvane::TTShape& shape,
                                             std::vector<int> origShape,
                                             std::vector<int> mapping = {})
{
  quorvane::TensorPacking res;
  res.shape = shape;
  res.origTensorShape = std::move(origShape);
  res.packedToOrigTensorMapping = std::move(mapping);
  return res;
}

/// Byte-major bits of the blocks, as the converter gives them: bit 8 b + i
/// holds, in slot k, bit i of byte b of block k; encrypted at the chain index.
inline std::vector<std::shared_ptr<quorvane::CTile>>
encryptBlockBits(const quorvane::HeContext& he, const Blocks& blocks, int chainIndex)
{
  quorvane::Encoder encoder(he);
  std::vector<std::shared_ptr<quorvane::CTile>> bits;
  const size_t numBytes = blocks.empty() ? 0 : blocks[0].size();
  for (size_t b = 0; b < numBytes; ++b)
    for (int i = 0; i < 8; ++i) {
      std::vector<int> slots(he.slotCount(), 0);
      for (size_t k = 0; k < blocks.size(); ++k)
        slots[k] = (blocks[k][b] >> i) & 1;
      auto bit = std::make_shared<quorvane::CTile>(he);
      encoder.encodeEncrypt(*bit, slots, chainIndex);
      bits.push_back(bit);
    }
  return bits;
}

/// The number that value position p of a block stands for under the
/// configuration, computed in the clear: integers and fixed-point numbers in
/// two's complement; binary16 with subnormals as 0; binary32 with exponent
/// fields 96 to 159 only, others 0.
inline double clearNumber(const ByteVector& block, size_t p, const quorvane::NumberConfig& config)
{
  const int numBits = config.getNumBits();
  if (numBits == 1)
    return (block.at(p / 8) >> (p % 8)) & 1;
  const size_t numBytes = static_cast<size_t>(numBits) / 8;
  uint64_t raw = 0;
  for (size_t l = 0; l < numBytes; ++l)
    raw |= static_cast<uint64_t>(block.at(numBytes * p + l)) << (8 * l);
  if (config.isFloatingPoint()) {
    const int fracBits = numBits == 16 ? 10 : 23;
    const int expBits = numBits - 1 - fracBits;
    const double sign = (raw >> (numBits - 1)) & 1 ? -1.0 : 1.0;
    const int e = static_cast<int>((raw >> fracBits) & ((1u << expBits) - 1));
    const double frac = 1.0 + std::ldexp(static_cast<double>(raw & ((1u << fracBits) - 1)), -fracBits);
    if (numBits == 16)
      return e == 0 ? 0.0 : sign * frac * std::ldexp(1.0, e - 15);
    return e < 96 || e > 159 ? 0.0 : sign * frac * std::ldexp(1.0, e - 127);
  }
  double value = static_cast<double>(raw);
  if (config.isSigned() && (raw >> (numBits - 1)) & 1)
    value -= std::ldexp(1.0, numBits);
  const int f = config.isFixedPoint() ? static_cast<int>(config.getFractionalPartBits()) : 0;
  return std::ldexp(value, -f);
}

/// Blocks rebuilt from byte-major bits (bit 8 b + i is bit i of byte b, or
/// bit 7 - i when not lsbFirst), slot k giving block k. Every decrypted value
/// is expected to be exactly 0 or 1.
inline Blocks bitsToBlocks(const quorvane::HeContext& he,
                           const std::vector<std::shared_ptr<quorvane::CTile>>& bits,
                           int numBlocks, bool lsbFirst = true)
{
  quorvane::Encoder encoder(he);
  const size_t numBytes = bits.size() / 8;
  Blocks blocks(numBlocks, ByteVector(numBytes, 0));
  for (size_t b = 0; b < numBytes; ++b)
    for (int i = 0; i < 8; ++i) {
      std::vector<double> slots = encoder.decryptDecodeDouble(*bits[8 * b + i]);
      for (int k = 0; k < numBlocks; ++k) {
        EXPECT_TRUE(slots[k] == 0.0 || slots[k] == 1.0) << slots[k] << " at " << b << "," << i;
        const int weight = lsbFirst ? i : 7 - i;
        blocks[k][b] |= static_cast<uint8_t>((slots[k] == 1.0 ? 1 : 0) << weight);
      }
    }
  return blocks;
}

/// The blocks held by an element.
inline Blocks decryptBlocks(const quorvane::AesElement& element, int numBlocks)
{
  return bitsToBlocks(element.getHeContext(), element.getAllBits(), numBlocks,
                      element.getLsbFirst());
}

} // namespace qvtest

#endif
