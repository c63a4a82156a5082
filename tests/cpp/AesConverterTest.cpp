#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "hebase/Encoder.h"
#include "hebase/NumberConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/aes/AesConverter.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesState.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string FILE_NAME = "math/aes/AesConverter.cpp";

/// An expanded key, lowered by the given number of levels.
std::unique_ptr<AesKey> expandedKey(const HeContext& he, const ByteVector& clearKey,
                                    int lowered = 0)
{
  auto key = std::make_unique<AesKey>(he);
  key->heEncrypt(clearKey, false);
  for (const auto& roundKey : key->getRoundKeys())
    roundKey->setChainIndex(he.getTopChainIndex() - lowered);
  return key;
}

/// Blocks the reference encrypts in counter mode decrypt under HE to the
/// plaintext, bit for bit, batch by batch.
void expectDecryption(const HeContext& he, const AesKey& key, const ByteVector& clearKey,
                      const ByteVector& iv, const Blocks& plain, Verbosity verbosity = VERBOSITY_NONE,
                      std::ostream* out = &std::cout)
{
  const Blocks cipher = referenceAesCtr(clearKey, iv, plain);
  AesConverter converter(he, key, verbosity, out);
  // The bit format gives back the plaintext bits themselves.
  std::vector<std::vector<std::shared_ptr<CTile>>> batches =
      converter.decrypt(iv, cipher, NumberConfig::bit());
  const size_t slots = he.slotCount();
  ASSERT_EQ(batches.size(), (plain.size() + slots - 1) / slots);
  for (size_t i = 0; i < batches.size(); ++i) {
    ASSERT_EQ(batches[i].size(), 128u);
    const size_t count = std::min(slots, plain.size() - i * slots);
    const Blocks expected(plain.begin() + i * slots, plain.begin() + i * slots + count);
    EXPECT_EQ(bitsToBlocks(he, batches[i], static_cast<int>(count)), expected) << "batch " << i;
  }
}

// ---- Known answers ----

class AesConverterDepthTest : public testing::TestWithParam<int>
{
};

TEST_P(AesConverterDepthTest, DecryptsAes128LikeTheReference)
{
  // Vary the minimal chain index, the key's level (top or one below, as a
  // loaded compressed key) and the headroom above the target.
  const int d = GetParam();
  const int m = d % 3;
  const int top = m + d + (d % 2);
  const int lowered = d % 4 == 1 ? 1 : 0;
  std::shared_ptr<HeContext> he = aesContext(4, m, d, top);
  const ByteVector clearKey = randomBytes(100 + d, 16);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey, lowered);
  // The counter carries into byte 13; the second block encrypts to its own
  // key stream, the third is all-zero ciphertext.
  Blocks plain = randomBlocks(d, 3);
  const ByteVector iv = hexBytes("0f1e2d3c4b5a69788796a5b4c3d2fffe");
  plain[1] = referenceAesCtr(clearKey, iv, Blocks(2, ByteVector(16, 0)))[1];
  plain[2] = referenceAesCtr(clearKey, iv, plain)[2];
  const Blocks cipher = referenceAesCtr(clearKey, iv, plain);
  ASSERT_EQ(cipher[1], ByteVector(16, 0));
  expectDecryption(*he, *key, clearKey, iv, plain);
}

INSTANTIATE_TEST_SUITE_P(EveryScheduleDepth, AesConverterDepthTest, testing::Range(5, 14));

TEST(AesConverter, DecryptsAes192AndAes256LikeTheReference)
{
  struct Case
  {
    size_t keyBytes;
    int d;
  };
  for (const Case& c : std::vector<Case>{{24, 9}, {32, 12}}) {
    std::shared_ptr<HeContext> he = aesContext(4, 0, c.d, c.d);
    const ByteVector clearKey = randomBytes(200 + c.keyBytes, c.keyBytes);
    std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
    expectDecryption(*he, *key, clearKey, randomBytes(7, 16), randomBlocks(8, 4));
  }
}

TEST(AesConverter, BatchesFollowTheCounterThroughWrapAround)
{
  // 2 x 2 + 1 blocks in 2 slots: three batches, the last of one block; the
  // counter wraps from 2^128 - 1 to 0 inside the second batch.
  std::shared_ptr<HeContext> he = aesContext(2, 0, 10, 10);
  const ByteVector clearKey = randomBytes(9, 16);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
  expectDecryption(*he, *key, clearKey, hexBytes("fffffffffffffffffffffffffffffffd"),
                   randomBlocks(10, 5));
}

TEST(AesConverter, DecryptsNumbersBatchByBatch)
{
  // 6 blocks in 4 slots: two batches, the second of two blocks. Value p of
  // batch k holds, in slot j, value p of block 4 k + j.
  std::shared_ptr<HeContext> he = aesContext(4, 0, 9, 9);
  Encoder encoder(*he);
  const ByteVector clearKey = randomBytes(70, 16);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
  const ByteVector iv = randomBytes(71, 16);
  Blocks plain = randomBlocks(72, 6);
  // Binary32 values of the extracted exponents in two blocks.
  const std::vector<float> floats = {1.5f, -0x1p-31f, 0x1.4p32f, 3.0e-5f,
                                     -7.0f, 0x1.fffffep32f, 0.0f, 1e-3f};
  for (size_t v = 0; v < floats.size(); ++v)
    std::memcpy(&plain[1 + v / 4][4 * (v % 4)], &floats[v], 4);
  const Blocks cipher = referenceAesCtr(clearKey, iv, plain);
  AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
  const std::vector<NumberConfig> configs = {
      NumberConfig::bit(),
      NumberConfig::integer(SIZE_8_BIT, UNSIGNED),
      NumberConfig::integer(SIZE_16_BIT, SIGNED),
      NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 10),
      NumberConfig::floatingPoint(SIZE_16_BIT),
      NumberConfig::floatingPoint(SIZE_32_BIT),
  };
  std::vector<std::vector<std::shared_ptr<CTile>>> batches;
  for (const NumberConfig& config : configs) {
    batches = converter.decrypt(iv, cipher, config);
    ASSERT_EQ(batches.size(), 2u);
    for (size_t k = 0; k < batches.size(); ++k) {
      ASSERT_EQ(batches[k].size(), 128u / config.getNumBits());
      for (size_t p = 0; p < batches[k].size(); ++p) {
        const std::vector<double> slots = encoder.decryptDecodeDouble(*batches[k][p]);
        for (size_t j = 0; j < 4 && 4 * k + j < plain.size(); ++j)
          EXPECT_EQ(slots[j], clearNumber(plain[4 * k + j], p, config))
              << config.getNumBits() << " bits, batch " << k << ", value " << p << ", slot " << j;
      }
    }
  }
  // The chosen binary32 values (the last configuration) come out as they are.
  for (size_t v = 0; v < floats.size(); ++v)
    EXPECT_EQ(encoder.decryptDecodeDouble(*batches[0][v % 4])[1 + v / 4], floats[v]) << v;
}

TEST(AesConverter, SavedCompressedKeyDecryptsAfterLoading)
{
  std::shared_ptr<HeContext> he = aesContext(2048, 0, 9, 9);
  const ByteVector clearKey = randomBytes(11, 16);
  AesKey compressed(*he);
  compressed.heEncrypt(clearKey, true);
  std::stringstream saved;
  compressed.save(saved);
  AesKey key(*he);
  key.load(saved);
  EXPECT_EQ(key.getChainIndex(), 8);
  expectDecryption(*he, key, clearKey, randomBytes(12, 16), randomBlocks(13, 3));
}

TEST(AesConverter, AutomaticBootstrappingOutsideTheSchedule)
{
  std::shared_ptr<HeContext> he = aesContext(4, 1, 14, 15, true);
  const ByteVector clearKey = randomBytes(14, 16);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
  AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
  EXPECT_EQ(converter.getCiToEncrypt(), 15);
  // Verbosity 1 prints the round banners and nothing else.
  std::ostringstream out;
  std::shared_ptr<RunStats> stats = tracked(*he, [&] {
    expectDecryption(*he, *key, clearKey, randomBytes(15, 16), randomBlocks(16, 4), VERBOSITY_LOW,
                     &out);
  });
  std::string banners;
  for (int r = 1; r <= 10; ++r)
    banners += "*** Starting AES round " + std::to_string(r) + " ***\n";
  EXPECT_EQ(out.str(), banners);
  EXPECT_GT(stats->getTotalCount(RunStats::BOOTSTRAP), 0);
  EXPECT_GE(stats->getMinChainIndex(), 1);

  // Without automatic bootstrapping the conversion fails before any HE work.
  std::shared_ptr<HeContext> manual = aesContext(4, 1, 14, 15, false);
  std::unique_ptr<AesKey> manualKey = expandedKey(*manual, clearKey);
  AesConverter refused(*manual, *manualKey, VERBOSITY_NONE, &std::cout);
  stats = tracked(*manual, [&] {
    expectThrowWithMessage<std::runtime_error>(
        [&] { refused.decrypt(randomBytes(15, 16), randomBlocks(16, 1), NumberConfig::bit()); },
        "AES converter requires HE context with automatic bootstrapping for the given HE "
        "context");
  });
  EXPECT_EQ(stats->getTotalCount(RunStats::ENCRYPT), 0);
}

// ---- The schedule ----

/// The status lines of round r of an AES-128 encryption of counters, checking
/// the key stream against the reference.
std::string roundTrace(int m, int d, int round)
{
  std::shared_ptr<HeContext> he = aesContext(2, m, d, m + d);
  const ByteVector clearKey = randomBytes(20 + d, 16);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
  std::ostringstream out;
  AesConverter converter(*he, *key, VERBOSITY_REGULAR, &out);
  const Blocks counters = {randomBytes(30, 16), randomBytes(31, 16)};
  EXPECT_EQ(bitsToBlocks(*he, converter.encryptCounters(counters), 2),
            (Blocks{referenceAesBlock(clearKey, counters[0]),
                    referenceAesBlock(clearKey, counters[1])}));
  const std::string text = out.str();
  const std::string start = "*** Starting AES round " + std::to_string(round) + " ***\n";
  const std::string end = "*** Starting AES round " + std::to_string(round + 1) + " ***\n";
  const size_t from = text.find(start);
  const size_t to = text.find(end);
  EXPECT_NE(from, std::string::npos);
  EXPECT_NE(to, std::string::npos);
  return text.substr(from + start.size(), to - from - start.size());
}

TEST(AesConverterSchedule, MiddleRoundWithNineLevels)
{
  // Counters at m + 4, round key 0 takes them to m + 3; each round spends
  // three levels on SubBytes, bootstraps at m, then two on reduceNoise, three
  // on MixColumns and one on AddRoundKey.
  EXPECT_EQ(roundTrace(2, 9, 2), "AES finished subBytes, chain index: 2\n"
                                 "AES finished bootstrap, chain index: 11\n"
                                 "AES finished reduceNoise, chain index: 9\n"
                                 "AES finished shiftRows, chain index: 9\n"
                                 "AES finished mixColumns, chain index: 6\n"
                                 "AES finished addRoundKey, chain index: 5\n");
}

TEST(AesConverterSchedule, EightLevelsWithTheStateTwoAboveTheMinimum)
{
  // Counters at 8; round 1 ends at 0 and bootstraps (8, then 6 by
  // reduceNoise); round 2 ends at 5; round 3 meets SubBytes at 2.
  EXPECT_EQ(roundTrace(0, 8, 3), "AES finished subBytes, chain index: 2\n"
                                 "AES finished reduceNoise, chain index: 0\n"
                                 "AES finished bootstrap, chain index: 8\n"
                                 "AES finished shiftRows, chain index: 7\n"
                                 "AES finished mixColumns, chain index: 4\n"
                                 "AES finished addRoundKey, chain index: 3\n");
}

TEST(AesConverterSchedule, NoiseStepAfterSubBytes)
{
  struct Case
  {
    int d;
    int startAboveMin;
    int endAboveMin;
    int bootstraps;
  };
  const int m = 1;
  for (const Case& c : std::vector<Case>{{8, 2, 7, 128},
                                         {8, 8, 4, 0},
                                         {8, 3, 3, 0},
                                         {9, 0, 7, 128},
                                         {9, 4, 2, 0},
                                         {11, 0, 7, 128},
                                         {6, 3, 3, 0},
                                         {13, 0, 10, 128}}) {
    std::shared_ptr<HeContext> he = aesContext(2, m, c.d, m + c.d);
    std::unique_ptr<AesKey> key = expandedKey(*he, randomBytes(1, 16));
    AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
    AesState state(*he, true, VERBOSITY_NONE, &std::cout);
    state.heEncrypt(randomBlocks(40, 2), m + c.startAboveMin);
    std::shared_ptr<RunStats> stats =
        tracked(*he, [&] { converter.handleNoiseAfterSubBytes(state); });
    EXPECT_EQ(state.getChainIndex(), m + c.endAboveMin) << c.d << " " << c.startAboveMin;
    EXPECT_EQ(stats->getTotalCount(RunStats::BOOTSTRAP), c.bootstraps);
    EXPECT_EQ(decryptBlocks(state, 2), randomBlocks(40, 2));
  }

  // Outside the schedule the step does nothing.
  std::shared_ptr<HeContext> he = aesContext(2, 0, 4, 4, true);
  std::unique_ptr<AesKey> key = expandedKey(*he, randomBytes(1, 16));
  AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
  AesState state(*he, true, VERBOSITY_NONE, &std::cout);
  state.heEncrypt(randomBlocks(40, 2), 0);
  converter.handleNoiseAfterSubBytes(state);
  EXPECT_EQ(state.getChainIndex(), 0);
}

TEST(AesConverterSchedule, ChainIndexOfTheCounters)
{
  struct Case
  {
    int d;
    int keyAboveMin;
    int expectedAboveMin; // -1: the assertion fails
  };
  const int m = 2;
  const std::vector<Case> cases = {
      {8, 8, 8},  {8, 9, 8},   {8, 7, 7},  {8, 6, -1}, {12, 12, 10}, {12, 11, 10},
      {12, 9, 7}, {12, 5, 4},  {12, 3, -1}, {13, 10, 10}, {6, 7, 7},   {6, 6, 4},
      {7, 7, 7},  {9, 9, 4},   {5, 5, 4},  {5, 4, 4},   {11, 11, 4},
  };
  for (const Case& c : cases) {
    std::shared_ptr<HeContext> he = aesContext(2, m, c.d, m + c.d + 1);
    std::unique_ptr<AesKey> key = expandedKey(*he, randomBytes(1, 16));
    AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
    // The converter reads the key's chain index when asked.
    key->getRoundKeys()[0]->setChainIndex(m + c.keyAboveMin);
    if (c.expectedAboveMin >= 0) {
      EXPECT_EQ(converter.getCiToEncrypt(), m + c.expectedAboveMin) << c.d << " " << c.keyAboveMin;
    } else {
      expectAssertion([&] { converter.getCiToEncrypt(); }, FILE_NAME, "getCiToEncrypt",
                      c.d == 8 ? "isAboveMinBsCi(keyCi, 7)" : "isAboveMinBsCi(keyCi, 4)");
    }
  }
}

// ---- Refusals ----

TEST(AesConverter, ConstructionRefusesWhatTheScheduleCannotRun)
{
  const ByteVector clearKey = randomBytes(50, 16);
  std::shared_ptr<HeContext> plain = createMockup(4, 10);
  std::unique_ptr<AesKey> plainKey = expandedKey(*plain, clearKey);
  expectThrowWithMessage<std::runtime_error>(
      [&] { AesConverter(*plain, *plainKey, VERBOSITY_NONE, &std::cout); },
      "AES converter requires bootstrappable HE context");

  std::shared_ptr<HeContext> he = aesContext(2048, 0, 9, 10);
  std::unique_ptr<AesKey> key = expandedKey(*he, clearKey);
  expectAssertion([&] { AesConverter(*he, *key, VERBOSITY_NONE, nullptr); }, FILE_NAME,
                  "AesConverter", "out != nullptr");
  AesKey compressed(*he);
  compressed.heEncrypt(clearKey, true);
  expectAssertion([&] { AesConverter(*he, compressed, VERBOSITY_NONE, &std::cout); },
                  "validatePrepared", "!compressed");
  std::unique_ptr<AesKey> low = expandedKey(*he, clearKey, 2);
  expectAssertion([&] { AesConverter(*he, *low, VERBOSITY_NONE, &std::cout); }, "validatePrepared",
                  "getChainIndex() == he.getTopChainIndex() || getChainIndex() == "
                  "(he.getTopChainIndex() - 1)");

  // The target above the top: the key cannot reach the target minus one, or
  // the target cannot be reached at all.
  struct Case
  {
    int top;
    int lowered;
    std::string message;
  };
  const std::vector<Case> cases = {
      {7, 0,
       "AES converter requires the AES key at chain index 8 or above (the chain index after "
       "bootstrapping minus one), but the key is at chain index 7"},
      {8, 1,
       "AES converter requires the AES key at chain index 8 or above (the chain index after "
       "bootstrapping minus one), but the key is at chain index 7"},
      {8, 0,
       "AES converter requires the chain index after bootstrapping (9) not to exceed the top "
       "chain index (8)"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<HeContext> context = aesContext(4, 0, 9, c.top);
    std::unique_ptr<AesKey> key = expandedKey(*context, clearKey, c.lowered);
    expectThrowWithMessage<std::runtime_error>(
        [&] { AesConverter(*context, *key, VERBOSITY_NONE, &std::cout); }, c.message);
  }
}

TEST(AesConverter, InputChecksComeBeforeAnyHeWork)
{
  std::shared_ptr<HeContext> he = aesContext(4, 0, 9, 9);
  std::unique_ptr<AesKey> key = expandedKey(*he, randomBytes(60, 16));
  AesConverter converter(*he, *key, VERBOSITY_NONE, &std::cout);
  struct Case
  {
    ByteVector iv;
    Blocks blocks;
    std::string message;
  };
  const std::vector<Case> cases = {
      {ByteVector(15), randomBlocks(1, 1),
       "The given IV is not of valid size. Given IV size= 15. Expected IV size= 16"},
      {ByteVector(16), {}, "No AES blocks were given"},
      {ByteVector(16), {ByteVector(16), ByteVector(15)},
       "AES block of size 15 bytes was given. Expecting each block to have16 bytes"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<RunStats> stats = tracked(*he, [&] {
      expectThrowWithMessage<std::invalid_argument>(
          [&] { converter.decrypt(c.iv, c.blocks, NumberConfig::bit()); }, c.message);
    });
    EXPECT_EQ(stats->getTotalCount(RunStats::ENCRYPT), 0);
  }
}

} // namespace
