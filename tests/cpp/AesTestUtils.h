#ifndef QUORVANE_TESTS_CPP_AESTESTUTILS_H
#define QUORVANE_TESTS_CPP_AESTESTUTILS_H

// Helpers of the AES tests: reading back bit-sliced data.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AesReference.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "math/aes/impl/AesElement.h"

namespace qvtest {

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
