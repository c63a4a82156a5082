#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesReference.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "math/aes/impl/AesUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string FILE_NAME = "math/aes/impl/AesUtils.cpp";

// AES in the clear from the library's key expansion and S-box, to compare
// with the reference.
ByteVector clearAes(const ByteVector& key, ByteVector s)
{
  const Blocks roundKeys = AesUtils::expandKey(key);
  auto addRoundKey = [&](const ByteVector& k) {
    for (int i = 0; i < 16; ++i)
      s[i] ^= k[i];
  };
  auto subShift = [&] {
    ByteVector t(16);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        t[r + 4 * c] = AesUtils::sBox[s[r + 4 * ((c + r) % 4)]];
    s = t;
  };
  auto xtime = [](uint8_t v) { return static_cast<uint8_t>((v << 1) ^ ((v & 0x80) ? 0x1b : 0)); };
  auto mixColumns = [&] {
    for (int c = 0; c < 4; ++c) {
      uint8_t* col = &s[4 * c];
      uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
      col[0] = xtime(a0) ^ xtime(a1) ^ a1 ^ a2 ^ a3;
      col[1] = a0 ^ xtime(a1) ^ xtime(a2) ^ a2 ^ a3;
      col[2] = a0 ^ a1 ^ xtime(a2) ^ xtime(a3) ^ a3;
      col[3] = xtime(a0) ^ a0 ^ a1 ^ a2 ^ xtime(a3);
    }
  };
  addRoundKey(roundKeys[0]);
  const size_t rounds = roundKeys.size() - 1;
  for (size_t r = 1; r < rounds; ++r) {
    subShift();
    mixColumns();
    addRoundKey(roundKeys[r]);
  }
  subShift();
  addRoundKey(roundKeys[rounds]);
  return s;
}

TEST(AesUtils, Constants)
{
  EXPECT_EQ(AesUtils::numBitsInByte, 8);
  EXPECT_EQ(AesUtils::numBytesInAesBlock, 16);
  EXPECT_EQ(AesUtils::numBytesInAesRoundKey, 16);
  EXPECT_EQ(AesUtils::numBitsInAesRoundKey, 128);
  EXPECT_EQ(AesUtils::numBytesInAesRow, 4);
  EXPECT_EQ(AesUtils::maxNumBytesInElement, 32);
  EXPECT_EQ(AesUtils::keySizeToNumRoundKeys,
            (std::map<int, int>{{128, 11}, {192, 13}, {256, 15}}));
}

TEST(AesUtils, SBoxesAreFipsTablesAndInverses)
{
  ASSERT_EQ(AesUtils::sBox.size(), 256u);
  ASSERT_EQ(AesUtils::invSBox.size(), 256u);
  // FIPS-197 Figure 7 and the SubBytes example of section 5.1.1.
  EXPECT_EQ(AesUtils::sBox[0x00], 0x63);
  EXPECT_EQ(AesUtils::sBox[0x01], 0x7c);
  EXPECT_EQ(AesUtils::sBox[0x53], 0xed);
  EXPECT_EQ(AesUtils::sBox[0x52], 0x00);
  EXPECT_EQ(AesUtils::sBox[0xff], 0x16);
  EXPECT_EQ(AesUtils::invSBox[0x00], 0x52);
  EXPECT_EQ(AesUtils::invSBox[0x63], 0x00);
  for (int x = 0; x < 256; ++x)
    EXPECT_EQ(AesUtils::invSBox[AesUtils::sBox[x]], x) << x;
}

TEST(AesUtils, ReferenceMatchesPublishedVectors)
{
  // FIPS-197 appendix C.
  const ByteVector plain = hexBytes("00112233445566778899aabbccddeeff");
  EXPECT_EQ(referenceAesBlock(hexBytes("000102030405060708090a0b0c0d0e0f"), plain),
            hexBytes("69c4e0d86a7b0430d8cdb78070b4c55a"));
  EXPECT_EQ(referenceAesBlock(hexBytes("000102030405060708090a0b0c0d0e0f1011121314151617"), plain),
            hexBytes("dda97ca4864cdfe06eaf70a0ec0d7191"));
  EXPECT_EQ(referenceAesBlock(
                hexBytes("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
                plain),
            hexBytes("8ea2b7ca516745bfeafc49904b496089"));
  // SP 800-38A F.5.1, CTR-AES128.Encrypt, blocks 1 and 2.
  EXPECT_EQ(referenceAesCtr(hexBytes("2b7e151628aed2a6abf7158809cf4f3c"),
                            hexBytes("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
                            {hexBytes("6bc1bee22e409f96e93d7e117393172a"),
                             hexBytes("ae2d8a571e03ac9c9eb76fac45af8e51")}),
            (Blocks{hexBytes("874d6191b620e3261bef6864990db6ce"),
                    hexBytes("9806f66b7970fdff8617187bb9fffdff")}));
}

TEST(AesUtils, ExpandKeyGivesTheFipsKeySchedules)
{
  // FIPS-197 appendix A.1: every word of the schedule.
  const Blocks expected128 = {
      hexBytes("2b7e1516 28aed2a6 abf71588 09cf4f3c"), hexBytes("a0fafe17 88542cb1 23a33939 2a6c7605"),
      hexBytes("f2c295f2 7a96b943 5935807a 7359f67f"), hexBytes("3d80477d 4716fe3e 1e237e44 6d7a883b"),
      hexBytes("ef44a541 a8525b7f b671253b db0bad00"), hexBytes("d4d1c6f8 7c839d87 caf2b8bc 11f915bc"),
      hexBytes("6d88a37a 110b3efd dbf98641 ca0093fd"), hexBytes("4e54f70e 5f5fc9f3 84a64fb2 4ea6dc4f"),
      hexBytes("ead27321 b58dbad2 312bf560 7f8d292f"), hexBytes("ac7766f3 19fadc21 28d12941 575c006e"),
      hexBytes("d014f9a8 c9ee2589 e13f0cc8 b6630ca6")};
  EXPECT_EQ(AesUtils::expandKey(hexBytes("2b7e151628aed2a6abf7158809cf4f3c")), expected128);

  // Appendix A.2 and A.3: the count, the first round keys and the last one.
  const Blocks keys192 =
      AesUtils::expandKey(hexBytes("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b"));
  ASSERT_EQ(keys192.size(), 13u);
  EXPECT_EQ(keys192[0], hexBytes("8e73b0f7 da0e6452 c810f32b 809079e5"));
  EXPECT_EQ(keys192[1], hexBytes("62f8ead2 522c6b7b fe0c91f7 2402f5a5"));
  EXPECT_EQ(keys192[12], hexBytes("e98ba06f 448c773c 8ecc7204 01002202"));

  const Blocks keys256 = AesUtils::expandKey(
      hexBytes("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"));
  ASSERT_EQ(keys256.size(), 15u);
  EXPECT_EQ(keys256[1], hexBytes("1f352c07 3b6108d7 2d9810a3 0914dff4"));
  EXPECT_EQ(keys256[2], hexBytes("9ba35411 8e6925af a51a8b5f 2067fcde"));
  EXPECT_EQ(keys256[14], hexBytes("fe4890d1 e6188d0b 046df344 706c631e"));
}

TEST(AesUtils, ExpandedKeysEncryptAsTheReference)
{
  for (size_t keyBytes : {16u, 24u, 32u})
    for (unsigned seed = 1; seed <= 5; ++seed) {
      const ByteVector key = randomBytes(seed + 17 * keyBytes, keyBytes);
      const ByteVector block = randomBytes(seed + 1000, 16);
      EXPECT_EQ(clearAes(key, block), referenceAesBlock(key, block)) << keyBytes << " " << seed;
    }
}

TEST(AesUtils, ExpandKeyRefusesOtherLengthsThroughTheTableLookup)
{
  for (size_t keyBytes : {0u, 15u, 20u, 33u})
    EXPECT_THROW(AesUtils::expandKey(ByteVector(keyBytes, 1)), std::out_of_range) << keyBytes;
}

TEST(AesUtils, RoundConstants)
{
  const std::vector<int> expected = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(AesUtils::rcon(i), (ByteVector{static_cast<uint8_t>(expected[i - 1]), 0, 0, 0}));
  for (int i : {0, 11, -1})
    expectAssertion([&] { AesUtils::rcon(i); }, FILE_NAME, "rcon", "i > 0 && i < 11");
}

TEST(AesUtils, BitOrder)
{
  struct Case
  {
    uint8_t byte;
    size_t index;
    bool lsbFirst;
    bool expected;
  };
  for (const Case& c : std::vector<Case>{{0x01, 0, true, true},
                                         {0x01, 0, false, false},
                                         {0x80, 0, false, true},
                                         {0x80, 7, true, true},
                                         {0x80, 7, false, false},
                                         {0x01, 7, false, true},
                                         {0x5a, 1, true, true},
                                         {0x5a, 2, true, false},
                                         {0x5a, 1, false, true},
                                         {0x5a, 0, false, false}})
    EXPECT_EQ(AesUtils::getBitAt(c.byte, c.index, c.lsbFirst), c.expected)
        << int(c.byte) << " " << c.index << " " << c.lsbFirst;
  expectAssertion([] { AesUtils::getBitAt(0xff, 8, true); }, FILE_NAME, "getBitAt",
                  "i < numBitsInByte");
}

TEST(AesUtils, CounterBlocksCarryAndWrapAsOne128BitNumber)
{
  struct Case
  {
    std::string iv;
    int numBlocks;
    bool appendIv;
    std::vector<std::string> expected;
  };
  const std::string ones(32, 'f');
  const std::vector<Case> cases = {
      {ones, 2, false, {ones, "00000000000000000000000000000000"}},
      {"000000000000000000000000000000ff", 2, false,
       {"000000000000000000000000000000ff", "00000000000000000000000000000100"}},
      {"00ffffffffffffffffffffffffffffff", 2, false,
       {"00ffffffffffffffffffffffffffffff", "01000000000000000000000000000000"}},
      {"0102030405060708090a0b0c0d0e0f10", 2, true,
       {"0102030405060708090a0b0c0d0e0f11", "0102030405060708090a0b0c0d0e0f12",
        "0102030405060708090a0b0c0d0e0f10"}},
      {ones, 1, true, {"00000000000000000000000000000000", ones}},
      {"fffffffffffffffffffffffffffffffe", 3, false,
       {"fffffffffffffffffffffffffffffffe", ones, "00000000000000000000000000000000"}},
      {ones, 0, false, {}},
      {ones, 0, true, {ones}},
  };
  for (const Case& c : cases) {
    Blocks res = {ByteVector(3, 7)}; // overwritten
    AesUtils::getCounterBlocks(res, hexBytes(c.iv), c.numBlocks, c.appendIv);
    Blocks expected;
    for (const std::string& e : c.expected)
      expected.push_back(hexBytes(e));
    EXPECT_EQ(res, expected) << c.iv << " " << c.numBlocks << " " << c.appendIv;
  }
  Blocks res;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { AesUtils::getCounterBlocks(res, hexBytes(ones), -1, false); },
      "The number of counter blocks cannot be negative. Given: -1");
}

TEST(AesUtils, CounterBlocksMatchTheReferenceCounterMode)
{
  // The reference's key stream of CTR mode is the encryption of these blocks.
  const ByteVector key = randomBytes(3, 16);
  const ByteVector iv = hexBytes("fffffffffffffffffffffffffffffffd");
  const Blocks zeros(5, ByteVector(16, 0));
  Blocks counters;
  AesUtils::getCounterBlocks(counters, iv, 5, false);
  Blocks keyStream;
  for (const ByteVector& counter : counters)
    keyStream.push_back(referenceAesBlock(key, counter));
  EXPECT_EQ(keyStream, referenceAesCtr(key, iv, zeros));
}

TEST(AesUtils, InputChecks)
{
  expectThrowWithMessage<std::invalid_argument>(
      [] { AesUtils::validateIv(ByteVector(15)); },
      "The given IV is not of valid size. Given IV size= 15. Expected IV size= 16");
  expectThrowWithMessage<std::invalid_argument>(
      [] { AesUtils::validateIv(ByteVector(17)); },
      "The given IV is not of valid size. Given IV size= 17. Expected IV size= 16");
  AesUtils::validateIv(ByteVector(16));

  expectThrowWithMessage<std::invalid_argument>([] { AesUtils::validateAesBlocks({}); },
                                                "No AES blocks were given");
  expectThrowWithMessage<std::invalid_argument>(
      [] { AesUtils::validateAesBlocks({ByteVector(16), ByteVector(15), ByteVector(17)}); },
      "AES block of size 15 bytes was given. Expecting each block to have16 bytes");
  AesUtils::validateAesBlocks({ByteVector(16), ByteVector(16)});
}

TEST(AesUtils, PrintBytes)
{
  ByteVector bytes;
  for (int i = 0; i < 16; ++i)
    bytes.push_back(static_cast<uint8_t>(i));
  struct Case
  {
    bool asMatrix;
    bool binary;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {true, false, "00 04 08 0c \n01 05 09 0d \n02 06 0a 0e \n03 07 0b 0f \n"},
      {false, false, "000102030405060708090a0b0c0d0e0f\n"},
      {false, true,
       "0000000000000001000000100000001100000100000001010000011000000111"
       "0000100000001001000010100000101100001100000011010000111000001111\n"},
      {true, true,
       "00000000 00000100 00001000 00001100 \n00000001 00000101 00001001 00001101 \n"
       "00000010 00000110 00001010 00001110 \n00000011 00000111 00001011 00001111 \n"},
  };
  for (const Case& c : cases) {
    CoutCapture capture;
    AesUtils::printBytes(bytes, c.asMatrix, c.binary);
    EXPECT_EQ(capture.str(), c.expected) << c.asMatrix << c.binary;
  }
  {
    CoutCapture capture;
    AesUtils::printBytes(hexBytes("a5ff"), false, true);
    EXPECT_EQ(capture.str(), "1010010111111111\n");
  }
  {
    CoutCapture capture;
    EXPECT_THROW(AesUtils::printBytes(ByteVector(15), true, false), std::out_of_range);
  }
}

TEST(AesUtils, BitwiseXorOfEncryptedBits)
{
  std::shared_ptr<HeContext> he = createMockup(4, 4);
  Encoder encoder(*he);
  auto encrypt = [&](std::vector<int> bits, int chainIndex) {
    auto tile = std::make_shared<CTile>(*he);
    encoder.encodeEncrypt(*tile, bits, chainIndex);
    return tile;
  };
  const std::vector<int> a = {0, 0, 1, 1};
  const std::vector<int> b = {0, 1, 0, 1};
  const std::vector<int> expected = {0, 1, 1, 0};

  // Each overload; b at a higher chain index is left as it was.
  std::vector<std::function<void(std::shared_ptr<CTile>, std::shared_ptr<CTile>)>> overloads = {
      [](std::shared_ptr<CTile> x, std::shared_ptr<CTile> y) { AesUtils::bitwiseXor(*x, *y); },
      [](std::shared_ptr<CTile> x, std::shared_ptr<CTile> y) { AesUtils::bitwiseXor(*x, y); },
      [](std::shared_ptr<CTile> x, std::shared_ptr<CTile> y) { AesUtils::bitwiseXor(x, *y); },
      [](std::shared_ptr<CTile> x, std::shared_ptr<CTile> y) { AesUtils::bitwiseXor(x, y); }};
  for (auto& xorOf : overloads) {
    auto x = encrypt(a, 3);
    auto y = encrypt(b, 4);
    xorOf(x, y);
    EXPECT_EQ(encoder.decryptDecodeInt(*x), expected);
    EXPECT_EQ(x->getChainIndex(), 2);
    EXPECT_EQ(encoder.decryptDecodeInt(*y), b);
    EXPECT_EQ(y->getChainIndex(), 4);
  }

  CTile tile(*encrypt(a, 4));
  std::shared_ptr<CTile> none;
  expectAssertion([&] { AesUtils::bitwiseXor(tile, none); }, FILE_NAME, "bitwiseXor",
                  "b != nullptr");
  expectAssertion([&] { AesUtils::bitwiseXor(none, tile); }, FILE_NAME, "bitwiseXor",
                  "a != nullptr");
  expectAssertion([&] { AesUtils::bitwiseXor(none, encrypt(b, 4)); }, FILE_NAME, "bitwiseXor",
                  "a != nullptr && b != nullptr");
  expectAssertion([&] { AesUtils::bitwiseXor(encrypt(b, 4), none); }, FILE_NAME, "bitwiseXor",
                  "a != nullptr && b != nullptr");
}

} // namespace
