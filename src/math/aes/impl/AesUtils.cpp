#include "math/aes/impl/AesUtils.h"

#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <boost/multiprecision/cpp_int.hpp>

#include "hebase/CTile.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

namespace {

using Counter = boost::multiprecision::uint128_t;

// Product in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
uint8_t gfMultiply(uint8_t a, uint8_t b)
{
  uint8_t res = 0;
  while (b != 0) {
    if (b & 1)
      res ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
    b >>= 1;
  }
  return res;
}

uint8_t rotateLeft(uint8_t v, int n) { return static_cast<uint8_t>((v << n) | (v >> (8 - n))); }

Counter counterFromBytes(const std::vector<uint8_t>& bytes)
{
  Counter value = 0;
  for (int i = 0; i < AesUtils::numBytesInAesBlock; ++i)
    value = (value << 8) | bytes.at(i);
  return value;
}

std::vector<uint8_t> counterToBytes(const Counter& value)
{
  std::vector<uint8_t> bytes(AesUtils::numBytesInAesBlock);
  for (int i = 0; i < AesUtils::numBytesInAesBlock; ++i)
    bytes[i] = static_cast<uint8_t>((value >> (8 * (AesUtils::numBytesInAesBlock - 1 - i))) & 0xff);
  return bytes;
}

} // namespace

bool AesUtils::getBitAt(uint8_t byte, size_t i, bool lsbFirst)
{
  QV_ASSERT(i < numBitsInByte);
  return lsbFirst ? ((byte >> i) & 1) != 0 : ((byte >> (numBitsInByte - 1 - i)) & 1) != 0;
}

std::vector<uint8_t> AesUtils::rcon(int i)
{
  QV_ASSERT(i > 0 && i < 11);
  uint8_t rc = 1;
  for (int k = 1; k < i; ++k)
    rc = gfMultiply(rc, 2);
  return {rc, 0, 0, 0};
}

std::vector<std::vector<uint8_t>> AesUtils::expandKey(const std::vector<uint8_t>& plainKey)
{
  const int numRoundKeys =
      keySizeToNumRoundKeys.at(static_cast<int>(numBitsInByte * plainKey.size()));
  const int nk = static_cast<int>(plainKey.size() / 4);
  if (nk != 4 && nk != 6 && nk != 8)
    throw std::invalid_argument("This plain key size is not supported. Plain key size: " +
                                std::to_string(plainKey.size()));

  const int numWords = 4 * numRoundKeys;
  std::vector<std::vector<uint8_t>> w(numWords, std::vector<uint8_t>(4, 0));
  for (int k = 0; k < nk; ++k)
    for (int j = 0; j < 4; ++j)
      w[k][j] = plainKey[4 * k + j];

  for (int i = nk; i < numWords; ++i) {
    std::vector<uint8_t> temp = w[i - 1];
    if (i % nk == 0) {
      temp = {temp[1], temp[2], temp[3], temp[0]};
      for (uint8_t& b : temp)
        b = sBox[b];
      std::vector<uint8_t> rc = rcon(i / nk);
      for (int j = 0; j < 4; ++j)
        temp[j] ^= rc[j];
    } else if (nk > 6 && i % nk == 4) {
      for (uint8_t& b : temp)
        b = sBox[b];
    }
    for (int j = 0; j < 4; ++j)
      w[i][j] = w[i - nk][j] ^ temp[j];
  }

  std::vector<std::vector<uint8_t>> roundKeys(numRoundKeys,
                                              std::vector<uint8_t>(numBytesInAesRoundKey));
  for (int k = 0; k < numRoundKeys; ++k)
    for (int j = 0; j < numBytesInAesRoundKey; ++j)
      roundKeys[k][j] = w[4 * k + j / 4][j % 4];
  return roundKeys;
}

void AesUtils::getCounterBlocks(std::vector<std::vector<uint8_t>>& res,
                                const std::vector<uint8_t>& iv, int numBlocks, bool appendIvBlock)
{
  if (numBlocks < 0)
    throw std::invalid_argument("The number of counter blocks cannot be negative. Given: " +
                                std::to_string(numBlocks));
  res.resize(static_cast<size_t>(numBlocks) + (appendIvBlock ? 1 : 0));
  const Counter start = counterFromBytes(iv);
  // Fixed-width unsigned arithmetic: an increment past 2^128 - 1 wraps to 0.
  Counter value = start;
  if (appendIvBlock)
    ++value;
  for (std::vector<uint8_t>& block : res) {
    block = counterToBytes(value);
    ++value;
  }
  if (appendIvBlock)
    res.back() = counterToBytes(start);
}

void AesUtils::validateIv(const std::vector<uint8_t>& iv)
{
  if (iv.size() != static_cast<size_t>(numBytesInAesBlock))
    throw std::invalid_argument("The given IV is not of valid size. Given IV size= " +
                                std::to_string(iv.size()) +
                                ". Expected IV size= " + std::to_string(numBytesInAesBlock));
}

void AesUtils::validateAesBlocks(const std::vector<std::vector<uint8_t>>& blocks)
{
  if (blocks.empty())
    throw std::invalid_argument("No AES blocks were given");
  for (const std::vector<uint8_t>& block : blocks)
    if (block.size() != static_cast<size_t>(numBytesInAesBlock))
      throw std::invalid_argument("AES block of size " + std::to_string(block.size()) +
                                  " bytes was given. Expecting each block to have" +
                                  std::to_string(numBytesInAesBlock) + " bytes");
}

void AesUtils::bitwiseXor(CTile& a, const CTile& b)
{
  a.sub(b);
  a.square();
}

void AesUtils::bitwiseXor(CTile& a, std::shared_ptr<CTile> b)
{
  QV_ASSERT(b != nullptr);
  bitwiseXor(a, *b);
}

void AesUtils::bitwiseXor(std::shared_ptr<CTile> a, const CTile& b)
{
  QV_ASSERT(a != nullptr);
  bitwiseXor(*a, b);
}

void AesUtils::bitwiseXor(std::shared_ptr<CTile> a, std::shared_ptr<CTile> b)
{
  QV_ASSERT(a != nullptr && b != nullptr);
  bitwiseXor(*a, *b);
}

void AesUtils::printBytes(const std::vector<uint8_t>& bytes, bool asMatrix, bool binary)
{
  std::ostringstream text;
  auto printByte = [&](uint8_t b) {
    if (binary) {
      for (int i = numBitsInByte - 1; i >= 0; --i)
        text << ((b >> i) & 1);
    } else {
      text << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(b) << std::dec;
    }
  };
  if (asMatrix) {
    for (int r = 0; r < numBytesInAesRow; ++r) {
      for (int c = 0; c < numBytesInAesRow; ++c) {
        printByte(bytes.at(r + numBytesInAesRow * c));
        text << ' ';
      }
      text << '\n';
    }
  } else {
    for (uint8_t b : bytes)
      printByte(b);
    text << '\n';
  }
  std::cout << text.str();
}

std::vector<uint8_t> AesUtils::computeSBox()
{
  std::vector<uint8_t> table(256);
  for (int x = 0; x < 256; ++x) {
    // The multiplicative inverse is x^254; 0 maps to 0.
    uint8_t inverse = 1;
    for (int k = 0; k < 254; ++k)
      inverse = gfMultiply(inverse, static_cast<uint8_t>(x));
    if (x == 0)
      inverse = 0;
    table[x] = static_cast<uint8_t>(inverse ^ rotateLeft(inverse, 1) ^ rotateLeft(inverse, 2) ^
                                    rotateLeft(inverse, 3) ^ rotateLeft(inverse, 4) ^ 0x63);
  }
  return table;
}

std::vector<uint8_t> AesUtils::invertTable(const std::vector<uint8_t>& table)
{
  std::vector<uint8_t> inverse(table.size());
  for (size_t x = 0; x < table.size(); ++x)
    inverse.at(table[x]) = static_cast<uint8_t>(x);
  return inverse;
}

} // namespace quorvane
