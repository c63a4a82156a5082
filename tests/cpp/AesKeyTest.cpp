#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "AesReference.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string KEY_FILE = "math/aes/AesKey.cpp";
const std::string BITWISE_KEY_FILE = "math/aes/impl/AesBitwiseKey.cpp";

// The key-expansion examples of FIPS-197 (appendix A).
const ByteVector KEY_128 = hexBytes("2b7e151628aed2a6abf7158809cf4f3c");
const ByteVector KEY_192 = hexBytes("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
const ByteVector KEY_256 =
    hexBytes("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");

/// Checks that every slot of every round-key bit holds the clear schedule's bit.
void expectRoundKeys(const AesKey& key, const ByteVector& clearKey, int chainIndex)
{
  const HeContext& he = key.getHeContext();
  Encoder encoder(he);
  const Blocks schedule = AesUtils::expandKey(clearKey);
  ASSERT_EQ(key.getRoundKeys().size(), schedule.size());
  for (size_t r = 0; r < schedule.size(); ++r) {
    const AesBitwiseKey& roundKey = *key.getRoundKeys()[r];
    roundKey.validateRoundKey();
    EXPECT_EQ(roundKey.getChainIndex(), chainIndex);
    for (int b = 0; b < 16; ++b)
      for (int j = 0; j < 8; ++j)
        ASSERT_EQ(encoder.decryptDecodeInt(*roundKey.getBit(b, j)),
                  std::vector<int>(he.slotCount(), (schedule[r][b] >> j) & 1))
            << r << " " << b << " " << j;
  }
}

std::string savedKey(const AesKey& key) { return saved(key); }

TEST(AesKey, ExpandedEncryptionHoldsEveryRoundKeyBitInEverySlot)
{
  std::shared_ptr<HeContext> he = createMockup(8, 3);
  for (const ByteVector& clearKey : {KEY_128, KEY_192, KEY_256}) {
    AesKey key(*he);
    key.heEncrypt(clearKey, false);
    EXPECT_TRUE(key.isInitialized());
    EXPECT_FALSE(key.isCompressed());
    EXPECT_EQ(key.getKeySize(), static_cast<int>(8 * clearKey.size()));
    EXPECT_EQ(key.getNumRoundKeys(), static_cast<int>(clearKey.size() / 4 + 7));
    EXPECT_EQ(key.getChainIndex(), 3);
    key.validatePrepared();
    expectRoundKeys(key, clearKey, 3);
  }
}

TEST(AesKey, CompressedEncryptionLayoutAndItsExpansionOnLoad)
{
  std::shared_ptr<HeContext> he = createMockup(2048, 3);
  Encoder encoder(*he);
  for (const ByteVector& clearKey : {KEY_128, KEY_256}) {
    AesKey key(*he);
    key.heEncrypt(clearKey, true);
    EXPECT_TRUE(key.isCompressed());
    EXPECT_TRUE(key.getRoundKeys().empty());
    EXPECT_EQ(key.getChainIndex(), 3);
    expectAssertion([&] { key.validatePrepared(); }, KEY_FILE, "validatePrepared",
                    "!compressed");

    // Slot 128 i + 8 b + j holds bit j of byte b of round key i; the rest is 0.
    const std::string body = savedKey(key).substr(headerBytes("AesKey", 0).size());
    std::istringstream in(body.substr(1 + 1 + 4 + 8 + 1));
    CTile bits(*he);
    bits.load(in);
    std::vector<int> expected(2048, 0);
    const Blocks schedule = AesUtils::expandKey(clearKey);
    for (size_t i = 0; i < schedule.size(); ++i)
      for (int b = 0; b < 16; ++b)
        for (int j = 0; j < 8; ++j)
          expected[128 * i + 8 * b + j] = (schedule[i][b] >> j) & 1;
    EXPECT_EQ(encoder.decryptDecodeInt(bits), expected);
    EXPECT_EQ(body.substr(0, 15),
              Bytes().b(true).b(true).i32(8 * clearKey.size()).raw(le64(0)).b(true).data);

    // Loading expands: one plaintext multiplication below the top.
    std::istringstream savedIn(savedKey(key));
    AesKey loaded(*he);
    loaded.load(savedIn);
    EXPECT_FALSE(loaded.isCompressed());
    EXPECT_EQ(loaded.getChainIndex(), 2);
    loaded.validatePrepared();
    expectRoundKeys(loaded, clearKey, 2);
  }
}

TEST(AesKey, CompressionNeedsASlotPerRoundKeyBit)
{
  std::shared_ptr<HeContext> he = createMockup(1024, 3);
  AesKey key(*he);
  expectAssertionTail([&] { key.heEncrypt(KEY_128, true); },
                      ": encryptBits: Assertion failed: bits.size() <= he.slotCount() "
                      "bits.size()= 1408 while he.slotCount()= 1024",
                      KEY_FILE);
  // Nothing was committed.
  EXPECT_FALSE(key.isInitialized());
  EXPECT_EQ(key.getKeySize(), -1);
  expectAssertion([&] { key.validateLegal(); }, KEY_FILE, "validateLegal", "initialized");

  // 1664 bits of a 192-bit key do not fit 1024 slots either; an expanded key does.
  key.heEncrypt(KEY_192, false);
  expectAssertionTail([&] { key.heEncrypt(KEY_192, true); },
                      "bits.size()= 1664 while he.slotCount()= 1024");
  EXPECT_FALSE(key.isCompressed());
  key.validatePrepared();
}

TEST(AesKey, UnsupportedKeySizesLeaveTheKeyAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(8, 3);
  AesKey key(*he);
  for (size_t bytes : {20u, 0u, 15u, 64u})
    expectThrowWithMessage<std::runtime_error>(
        [&] { key.heEncrypt(ByteVector(bytes, 1), false); },
        "Unsupported AES key size: " + std::to_string(8 * bytes) + "-bit");
  EXPECT_FALSE(key.isInitialized());
  EXPECT_EQ(key.getKeySize(), -1);

  key.heEncrypt(KEY_128, false);
  const std::string before = savedKey(key);
  EXPECT_THROW(key.heEncrypt(ByteVector(20, 1), true), std::runtime_error);
  EXPECT_EQ(key.getKeySize(), 128);
  EXPECT_EQ(savedKey(key), before);

  expectThrowWithMessage<std::runtime_error>([] { AesBitwiseKey::validateKeySize(-1); },
                                             "Unsupported AES key size: -1-bit");
}

TEST(AesKey, ReEncryptionKeepsOnlyTheNewForm)
{
  std::shared_ptr<HeContext> he = createMockup(2048, 2);
  AesKey key(*he);
  key.heEncrypt(KEY_128, false);
  key.heEncrypt(KEY_192, true);
  key.validateLegal();
  EXPECT_TRUE(key.getRoundKeys().empty());
  EXPECT_EQ(key.getKeySize(), 192);
  key.heEncrypt(KEY_128, false);
  key.validatePrepared();
  expectRoundKeys(key, KEY_128, 2);
}

TEST(AesKey, ExpandedKeySavedLayoutAndRoundTrip)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  AesKey key(*he);
  key.heEncrypt(KEY_192, false);

  Bytes expected;
  expected.header("AesKey", he->getContextId()).b(true).b(false).i32(192).raw(le64(13));
  for (const auto& roundKey : key.getRoundKeys()) {
    std::ostringstream body;
    roundKey->save(body);
    expected.raw(body.str());
  }
  expected.b(false);
  std::ostringstream out;
  EXPECT_EQ(key.save(out), static_cast<std::streamoff>(expected.data.size()));
  EXPECT_EQ(out.str(), expected.data);

  // Through the loader registry.
  std::istringstream in(out.str());
  std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(*he, in);
  ASSERT_EQ(typeid(*loaded), typeid(AesKey));
  EXPECT_EQ(loaded->getClassName(), "AesKey");
  const AesKey& loadedKey = static_cast<const AesKey&>(*loaded);
  loadedKey.validatePrepared();
  expectRoundKeys(loadedKey, KEY_192, 3);
  EXPECT_EQ(saved(*loaded), expected.data);
}

TEST(AesKey, RefusedLoadsLeaveTheKeyAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  AesKey source(*he);
  source.heEncrypt(KEY_128, false);
  const std::string good = savedKey(source);
  const std::string header = headerBytes("AesKey", he->getContextId());
  const std::string roundKeys = good.substr(header.size() + 14, good.size() - header.size() - 15);
  auto body = [&](bool initialized, bool compressed, int keySize, uint64_t count,
                  const std::string& rest) {
    return header + Bytes().b(initialized).b(compressed).i32(keySize).raw(le64(count)).data +
           rest;
  };

  struct Case
  {
    std::string data;
    std::string tail;
  };
  const std::vector<Case> cases = {
      {body(true, false, 100, 11, roundKeys + boolByte(false)), "Unsupported AES key size: 100-bit"},
      {body(true, false, 128, 5, roundKeys + boolByte(false)),
       "Assertion failed: numRoundKeys == getNumRoundKeys() || numRoundKeys == 0"},
      {body(true, false, 128, 100001, ""),
       "BinIoUtils::readSizeTChecked() failed: the loaded value (100001) is larger than the "
       "specified maximum (100000)."},
      {body(false, false, 128, 11, roundKeys + boolByte(false)), "Assertion failed: initialized"},
      {body(true, true, 128, 11, roundKeys + boolByte(false)),
       "Assertion failed: roundKeys.empty()"},
      {body(true, true, 128, 0, boolByte(false)), "Assertion failed: compressedBits != nullptr"},
      {body(true, false, 128, 0, boolByte(false)),
       "Assertion failed: roundKeys.size() == getNumRoundKeys()"},
      {body(true, false, 128, 11, roundKeys.substr(0, roundKeys.size() / 2)), ""},
  };
  for (const Case& c : cases) {
    AesKey key(*he);
    key.heEncrypt(KEY_256, false);
    const std::string before = savedKey(key);
    std::istringstream in(c.data);
    try {
      key.load(in);
      ADD_FAILURE() << "no exception: " << c.tail;
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.substr(message.size() - c.tail.size()), c.tail) << message;
    }
    EXPECT_EQ(savedKey(key), before) << c.tail;
  }

  // The intact body loads.
  AesKey key(*he);
  std::istringstream in(body(true, false, 128, 11, roundKeys + boolByte(false)));
  key.load(in);
  expectRoundKeys(key, KEY_128, 3);
}

TEST(AesKey, StateChecks)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  AesKey empty(*he);
  std::ostringstream out;
  expectAssertion([&] { empty.save(out); }, KEY_FILE, "validateLegal", "initialized");
  expectAssertion([&] { empty.getChainIndex(); }, "initialized");
  expectAssertion([&] { empty.validatePrepared(); }, "initialized");
  expectThrowWithMessage<std::runtime_error>([&] { empty.getNumRoundKeys(); },
                                             "Unsupported AES key size: -1-bit");

  // One plaintext multiplication below the top is still prepared; two are not.
  AesKey key(*he);
  key.heEncrypt(KEY_128, false);
  for (const auto& roundKey : key.getRoundKeys())
    roundKey->setChainIndex(3);
  key.validatePrepared();
  for (const auto& roundKey : key.getRoundKeys())
    roundKey->setChainIndex(2);
  expectAssertion([&] { key.validatePrepared(); }, KEY_FILE, "validatePrepared",
                  "getChainIndex() == he.getTopChainIndex() || getChainIndex() == "
                  "(he.getTopChainIndex() - 1)");
  key.getRoundKeys()[4]->getBit(3, 3)->setChainIndex(1);
  expectAssertion([&] { key.validateLegal(); },
                  "!validateSameChainIndex || ptr->getChainIndex() == chainIndex");
}

TEST(AesKey, BitsOfBytesAreLeastSignificantFirst)
{
  EXPECT_EQ(AesKey::bytesToBits({0x01, 0xa0}),
            (std::vector<bool>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}));
  EXPECT_TRUE(AesKey::bytesToBits({}).empty());
}

TEST(AesBitwiseKey, EncryptionAndExtractionChecks)
{
  std::shared_ptr<HeContext> he = createMockup(256, 3);
  Encoder encoder(*he);
  AesBitwiseKey roundKey(*he);
  expectAssertion([&] { roundKey.heEncrypt(ByteVector(15)); }, BITWISE_KEY_FILE, "heEncrypt",
                  "key.size() == AesUtils::numBytesInAesRoundKey");
  roundKey.heEncrypt(KEY_128);
  EXPECT_EQ(roundKey.getNumBlocks(), 256);

  // 192 bits taken from slots 40 onwards make 24 rows: not a round key.
  std::vector<int> values(256, 0);
  for (int i = 0; i < 192; ++i)
    values[40 + i] = (KEY_192[i / 8] >> (i % 8)) & 1;
  CTile bits(*he);
  encoder.encodeEncrypt(bits, values, 3);
  AesBitwiseKey wide(*he);
  wide.initFromCompressed(bits, 192, 40);
  EXPECT_EQ(wide.getChainIndex(), 2);
  EXPECT_EQ(wide.getNumBlocks(), 0);
  ASSERT_EQ(wide.getAllBits().size(), 192u);
  for (int i = 0; i < 192; ++i)
    EXPECT_EQ(encoder.decryptDecodeInt(*wide.getBit(i / 8, i % 8)),
              std::vector<int>(256, values[40 + i]));
  expectAssertion([&] { wide.validateRoundKey(); }, BITWISE_KEY_FILE, "validateRoundKey",
                  "tiles.size() == AesUtils::numBytesInAesRoundKey");

  AesBitwiseKey failed(*he);
  expectAssertion([&] { failed.initFromCompressed(CTile(*he), 128, 0); }, BITWISE_KEY_FILE,
                  "initFromCompressed", "!keyBits.isEmpty()");
  expectAssertion([&] { failed.initFromCompressed(bits, 64, 0); },
                  "keySize == AesUtils::numBitsInAesRoundKey || "
                  "AesUtils::keySizeToNumRoundKeys.count(keySize) > 0");
  expectAssertion([&] { failed.initFromCompressed(bits, 128, 129); },
                  "startIndex + keySize <= he.slotCount()");
  expectAssertion([&] { failed.initFromCompressed(bits, 128, -1); }, "startIndex >= 0");
  EXPECT_FALSE(failed.isPacked());
}

} // namespace
