#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesState.h"
#include "math/aes/impl/AesUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string FILE_NAME = "math/aes/impl/AesState.cpp";
const int SLOTS = 4;
const int DEPTH = 20;

/// A state of the direction holding the blocks, encrypted at the top chain index.
std::unique_ptr<AesState> stateOf(const HeContext& he, const Blocks& blocks, bool forward = true,
                                  int chainIndex = -1)
{
  auto state = std::make_unique<AesState>(he, forward, VERBOSITY_NONE, &std::cout);
  state->heEncrypt(blocks, chainIndex);
  return state;
}

/// A block whose first bytes are given and whose other bytes are 0.
ByteVector block(const std::vector<int>& head)
{
  ByteVector b(16, 0);
  for (size_t i = 0; i < head.size(); ++i)
    b[i] = static_cast<uint8_t>(head[i]);
  return b;
}

class AesStateTest : public testing::Test
{
protected:
  std::shared_ptr<HeContext> he = createMockup(SLOTS, DEPTH);
};

TEST_F(AesStateTest, SubBytesLooksUpTheSBoxAndItsInverse)
{
  Blocks blocks = randomBlocks(1, 3);
  blocks[0][0] = 0x53;
  std::unique_ptr<AesState> state = stateOf(*he, blocks);
  state->subBytes();
  EXPECT_EQ(state->getChainIndex(), DEPTH - 3);
  Blocks substituted = decryptBlocks(*state, 3);
  EXPECT_EQ(substituted[0][0], 0xed);
  for (int k = 0; k < 3; ++k)
    for (int b = 0; b < 16; ++b)
      EXPECT_EQ(substituted[k][b], AesUtils::sBox[blocks[k][b]]) << k << " " << b;

  std::unique_ptr<AesState> inverse = stateOf(*he, substituted, false);
  inverse->subBytes();
  EXPECT_EQ(decryptBlocks(*inverse, 3), blocks);
}

TEST_F(AesStateTest, SubBytesOfTheValueWithoutProductGivesZero)
{
  // 0x52 is the one value whose S-box entry is 0; 0x63 that of the inverse.
  std::unique_ptr<AesState> state = stateOf(*he, {ByteVector(16, 0x52), ByteVector(16, 0x00)});
  state->subBytes();
  EXPECT_EQ(decryptBlocks(*state, 2), (Blocks{ByteVector(16, 0), ByteVector(16, 0x63)}));
  std::unique_ptr<AesState> inverse = stateOf(*he, {ByteVector(16, 0x63)}, false);
  inverse->subBytes();
  EXPECT_EQ(decryptBlocks(*inverse, 1), Blocks{ByteVector(16, 0)});
}

TEST_F(AesStateTest, IndicatorsAndMonomials)
{
  // Low nibbles 0x5 and 0xa, high nibbles 0x3 and 0xc in slots 0 and 1.
  std::unique_ptr<AesState> state = stateOf(*he, {ByteVector(16, 0x35), ByteVector(16, 0xca)});
  Encoder encoder(*he);
  std::vector<std::shared_ptr<CTile>> mono = state->computeNibbleMonomials(7, true);
  ASSERT_EQ(mono.size(), 16u);
  for (int l = 0; l < 16; ++l) {
    // Slot 0 holds bits 0101, slot 1 bits 1010 (bit m of the nibble).
    const int expected0 = (l & ~0x5) == 0 ? 1 : 0;
    const int expected1 = (l & ~0xa) == 0 ? 1 : 0;
    EXPECT_EQ(encoder.decryptDecodeInt(*mono[l]),
              (std::vector<int>{expected0, expected1, l == 0, l == 0}))
        << l;
  }
  EXPECT_EQ(mono[1], state->getBit(7, 0));
  EXPECT_EQ(mono[8], state->getBit(7, 3));
  EXPECT_EQ(mono[15]->getChainIndex(), DEPTH - 2);

  for (bool low : {true, false}) {
    std::vector<std::vector<std::shared_ptr<CTile>>> ind = state->computeIndicators(low);
    ASSERT_EQ(ind.size(), 16u);
    for (int k = 0; k < 16; ++k) {
      const int slot0 = low ? 0x5 : 0x3;
      const int slot1 = low ? 0xa : 0xc;
      // Slots 2 and 3 hold 0, so their nibble is 0.
      EXPECT_EQ(encoder.decryptDecodeInt(*ind[12][k]),
                (std::vector<int>{k == slot0, k == slot1, k == 0, k == 0}))
          << low << " " << k;
    }
  }
}

TEST_F(AesStateTest, ShiftRowsMovesBytesOnly)
{
  const ByteVector counting = hexBytes("000102030405060708090a0b0c0d0e0f");
  const ByteVector shifted = hexBytes("00050a0f04090e03080d02070c01060b");
  std::unique_ptr<AesState> state = stateOf(*he, {counting});
  std::shared_ptr<CTile> moved = state->getBit(1, 1, 3);
  state->shiftRows();
  EXPECT_EQ(decryptBlocks(*state, 1), Blocks{shifted});
  EXPECT_EQ(state->getChainIndex(), DEPTH);
  // Byte (1, 1) went to (1, 0), as the same ciphertext.
  EXPECT_EQ(state->getBit(1, 0, 3), moved);

  std::unique_ptr<AesState> inverse = stateOf(*he, {shifted}, false);
  inverse->shiftRows();
  EXPECT_EQ(decryptBlocks(*inverse, 1), Blocks{counting});
}

TEST_F(AesStateTest, ShiftRotatesOneRowOrColumn)
{
  const ByteVector counting = hexBytes("000102030405060708090a0b0c0d0e0f");
  std::unique_ptr<AesState> state = stateOf(*he, {counting});
  for (int k = 0; k < 4; ++k)
    state->shift(false, true, 2);
  EXPECT_EQ(decryptBlocks(*state, 1), Blocks{counting});

  // Column 2 towards lower: new byte (p, 2) is old byte (p + 1, 2).
  state->shift(false, true, 2);
  EXPECT_EQ(decryptBlocks(*state, 1), Blocks{hexBytes("0001020304050607090a0b080c0d0e0f")});
  // Row 2 towards higher: byte (2, 0) moves to (2, 1).
  std::unique_ptr<AesState> rows = stateOf(*he, {counting});
  rows->shift(true, false, 2);
  EXPECT_EQ(decryptBlocks(*rows, 1), Blocks{hexBytes("00010e03040502070809060b0c0d0a0f")});

  for (int index : {-1, 4})
    expectAssertion([&] { state->shift(true, true, index); }, FILE_NAME, "shift",
                    "index >= 0 && index < AesUtils::numBytesInAesRow");
}

TEST_F(AesStateTest, MixColumnsAndItsInverse)
{
  // The FIPS-197 example column db 13 53 45 -> 8e 4d a1 bc, in every column.
  const ByteVector column = hexBytes("db135345db135345db135345db135345");
  const ByteVector mixed = hexBytes("8e4da1bc8e4da1bc8e4da1bc8e4da1bc");
  std::unique_ptr<AesState> state = stateOf(*he, {column});
  state->mixColumns();
  EXPECT_EQ(decryptBlocks(*state, 1), Blocks{mixed});
  EXPECT_EQ(state->getChainIndex(), DEPTH - 3);

  std::unique_ptr<AesState> inverse = stateOf(*he, {mixed}, false);
  inverse->mixColumns();
  EXPECT_EQ(decryptBlocks(*inverse, 1), Blocks{column});

  // Random columns come back through the inverse.
  const Blocks blocks = randomBlocks(2, 4);
  std::unique_ptr<AesState> forward = stateOf(*he, blocks);
  forward->mixColumns();
  std::unique_ptr<AesState> back = stateOf(*he, decryptBlocks(*forward, 4), false);
  back->mixColumns();
  EXPECT_EQ(decryptBlocks(*back, 4), blocks);
}

TEST_F(AesStateTest, MultiplyByTwoIsXtime)
{
  std::unique_ptr<AesState> state = stateOf(*he, {block({0x57, 0xae, 0x80, 0x01, 0xff})});
  state->multiplyByTwo();
  EXPECT_EQ(decryptBlocks(*state, 1), Blocks{block({0xae, 0x47, 0x1b, 0x02, 0xe5})});
  // The untouched bits were lowered with the XORed ones.
  EXPECT_EQ(state->getChainIndex(), DEPTH - 1);
}

TEST_F(AesStateTest, XorByOffsetsCombinesTheOtherStateFirstWhenItHasLevelsToSpare)
{
  const Blocks blocks = randomBlocks(3, 2);
  auto expected = [&](int o0, int o1) {
    Blocks res = blocks;
    for (int k = 0; k < 2; ++k)
      for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
          res[k][r + 4 * c] ^= blocks[k][(r + o0) % 4 + 4 * c] ^ blocks[k][(r + o1) % 4 + 4 * c];
    return res;
  };
  // This state lower on the chain: the combined path spends one level.
  std::unique_ptr<AesState> low = stateOf(*he, blocks, true, DEPTH - 2);
  std::unique_ptr<AesState> other = stateOf(*he, blocks);
  low->xorAllBitsByOffsets(*other, {2, 3});
  EXPECT_EQ(decryptBlocks(*low, 2), expected(2, 3));
  EXPECT_EQ(low->getChainIndex(), DEPTH - 3);
  EXPECT_EQ(decryptBlocks(*other, 2), blocks);

  // At the same chain index each byte is XORed in turn: two levels.
  std::unique_ptr<AesState> same = stateOf(*he, blocks);
  same->xorAllBitsByOffsets(*other, {0, 1});
  EXPECT_EQ(decryptBlocks(*same, 2), expected(0, 1));
  EXPECT_EQ(same->getChainIndex(), DEPTH - 2);

  expectAssertion([&] { same->xorAllBitsByOffsets(*other, {1}); }, FILE_NAME,
                  "xorAllBitsByOffsets", "offsets.size() == 2");
}

TEST_F(AesStateTest, AddRoundKeyXorsTheSameKeyIntoEveryBlock)
{
  const ByteVector key = randomBytes(4, 16);
  const Blocks blocks = {key, randomBytes(5, 16)};
  AesBitwiseKey roundKey(*he);
  roundKey.heEncrypt(key);
  std::unique_ptr<AesState> state = stateOf(*he, blocks, true, DEPTH - 1);
  state->addRoundKey(roundKey);
  ByteVector second = blocks[1];
  for (int b = 0; b < 16; ++b)
    second[b] ^= key[b];
  EXPECT_EQ(decryptBlocks(*state, 2), (Blocks{ByteVector(16, 0), second}));
  EXPECT_EQ(state->getChainIndex(), DEPTH - 2);

  AesBitwiseKey unpacked(*he);
  expectAssertion([&] { state->addRoundKey(unpacked); }, "validateRoundKey",
                  "tiles.size() == AesUtils::numBytesInAesRoundKey");
}

TEST_F(AesStateTest, ReduceNoisePullsBitsTowardsZeroAndOne)
{
  std::unique_ptr<AesState> state = stateOf(*he, randomBlocks(6, 4));
  const Blocks before = decryptBlocks(*state, 4);
  Encoder encoder(*he);
  auto noisy = std::make_shared<CTile>(*he);
  encoder.encodeEncrypt(*noisy, std::vector<double>{0.9, 0.1, 1.0, 0.0}, DEPTH);
  state->getByte(3, 2)[6] = noisy;
  state->reduceNoise();
  EXPECT_EQ(state->getChainIndex(), DEPTH - 2);
  const std::vector<double> reduced = encoder.decryptDecodeDouble(*state->getBit(3, 2, 6));
  EXPECT_NEAR(reduced[0], 0.972, 1e-12);
  EXPECT_NEAR(reduced[1], 0.028, 1e-12);
  EXPECT_EQ(reduced[2], 1.0);
  EXPECT_EQ(reduced[3], 0.0);
  state->getByte(3, 2)[6] = std::make_shared<CTile>(*state->getBit(3, 2, 5));
  const Blocks after = decryptBlocks(*state, 4);
  for (int k = 0; k < 4; ++k)
    for (int b = 0; b < 16; ++b)
      if (b != 11) {
        EXPECT_EQ(after[k][b], before[k][b]);
      }
}

TEST_F(AesStateTest, PackingAndStateChecks)
{
  AesState state(*he, true, VERBOSITY_NONE, &std::cout);
  expectThrowWithMessage<std::runtime_error>([&] { state.heEncrypt({}, -1); },
                                             "No data was given to encrypt in AES state");
  expectThrowWithMessage<std::runtime_error>(
      [&] { state.heEncrypt({ByteVector(15), ByteVector(16)}, -1); },
      "AES state should have blocks of size 16 bytes each. Received a block of size 15 bytes");
  expectThrowWithMessage<std::runtime_error>(
      [&] { state.heEncrypt({ByteVector(16), ByteVector(15)}, -1); },
      "All AES blocks should be of the same size. Received first block of size 16 bytes and "
      "another block exists with size 15 bytes");
  for (auto operation : std::vector<std::function<void()>>{
           [&] { state.subBytes(); }, [&] { state.shiftRows(); }, [&] { state.mixColumns(); },
           [&] { state.reduceNoise(); }, [&] { state.multiplyByTwo(); }})
    expectThrowWithMessage<std::runtime_error>(operation,
                                               "This AES element has not been packed yet");

  std::ostringstream out;
  std::istringstream in("");
  std::unique_ptr<AesState> packed = stateOf(*he, randomBlocks(7, 1));
  expectThrowWithMessage<std::runtime_error>([&] { packed->save(out); },
                                             "Saving AesState is not supported");
  expectThrowWithMessage<std::runtime_error>([&] { packed->load(in); },
                                             "Loading AesState is not supported");

  // An element of other than 16 byte rows is not a state.
  AesState wide(*he, true, VERBOSITY_NONE, &std::cout);
  AesElement& element = wide;
  expectAssertion([&] { element.heEncrypt({ByteVector(17)}, -1, true); }, FILE_NAME, "validate",
                  "tiles.size() == AesUtils::numBytesInAesBlock");
  expectAssertion([&] { wide.shiftRows(); }, FILE_NAME, "validate",
                  "tiles.size() == AesUtils::numBytesInAesBlock");
}

TEST_F(AesStateTest, CopiesAreIndependentAndProgressIsReported)
{
  std::ostringstream out;
  AesState state(*he, false, VERBOSITY_REGULAR, &out);
  state.heEncrypt(randomBlocks(8, 2), -1);
  AesState copy(state);
  EXPECT_FALSE(copy.isForward());
  state.mixColumns();
  state.shiftRows();
  state.subBytes();
  state.reduceNoise();
  EXPECT_EQ(decryptBlocks(copy, 2), randomBlocks(8, 2));
  EXPECT_EQ(copy.getChainIndex(), DEPTH);
  copy.subBytes();
  EXPECT_EQ(out.str(), "AES encrypted under FHE, chain index: 20\n"
                       "AES finished mixColumns, chain index: 14\n"
                       "AES finished shiftRows, chain index: 14\n"
                       "AES finished subBytes, chain index: 11\n"
                       "AES finished reduceNoise, chain index: 9\n"
                       "AES finished subBytes, chain index: 17\n");
}

} // namespace
