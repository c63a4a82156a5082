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
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/aes/impl/AesElement.h"
#include "math/aes/impl/AesUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string FILE_NAME = "math/aes/impl/AesElement.cpp";
const std::string NOT_PACKED = "This AES element has not been packed yet";

std::string savedBody(const AesElement& element)
{
  std::ostringstream out;
  element.save(out);
  return out.str();
}

TEST(AesElement, HeEncryptPutsBitJOfByteIOfBlockKIntoSlotK)
{
  std::shared_ptr<HeContext> he = createMockup(8, 4);
  const Blocks blocks = randomBlocks(1, 3);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  EXPECT_FALSE(element.isPacked());
  element.heEncrypt(blocks, -1, true);
  EXPECT_TRUE(element.isPacked());
  EXPECT_EQ(element.getNumBlocks(), 3);
  EXPECT_TRUE(element.getLsbFirst());
  EXPECT_EQ(element.getChainIndex(), 4);
  ASSERT_EQ(element.getAllBits().size(), 16u * 8u);

  Encoder encoder(*he);
  for (int b = 0; b < 16; ++b)
    for (int i = 0; i < 8; ++i) {
      std::vector<int> expected(8, 0);
      for (int k = 0; k < 3; ++k)
        expected[k] = (blocks[k][b] >> i) & 1;
      EXPECT_EQ(encoder.decryptDecodeInt(*element.getBit(b, i)), expected) << b << " " << i;
    }
  EXPECT_EQ(decryptBlocks(element, 3), blocks);

  AesElement lower(*he, VERBOSITY_NONE, &std::cout);
  lower.heEncrypt(blocks, 2, true);
  EXPECT_EQ(lower.getChainIndex(), 2);
}

TEST(AesElement, BitOrderFollowsLsbFirst)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  ByteVector block(16, 0);
  block[0] = 0x01;
  Encoder encoder(*he);
  for (bool lsbFirst : {true, false}) {
    AesElement element(*he, VERBOSITY_NONE, &std::cout);
    element.heEncrypt({ByteVector(16, 0), block}, -1, lsbFirst);
    EXPECT_EQ(element.getLsbFirst(), lsbFirst);
    const int setBit = lsbFirst ? 0 : 7;
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(encoder.decryptDecodeInt(*element.getBit(0, i)),
                (std::vector<int>{0, i == setBit ? 1 : 0, 0, 0}))
          << lsbFirst << " " << i;
  }
}

TEST(AesElement, HeEncryptRefusesBadBlocksAndLeavesTheElementAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  struct Case
  {
    Blocks blocks;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "No data was given to encrypt in AES element"},
      {Blocks(5, ByteVector(16)),
       "Number of AES blocks exceeds the maximal number (determined by the number of slots of "
       "the HeContext). Number of given AES blocks= 5. Maximal possible number of AES blocks= 4"},
      {{ByteVector(), ByteVector()}, "An empty AES block was given"},
      {{ByteVector(16), ByteVector(16), ByteVector(15)},
       "All AES blocks should be of the same size. Received first block of size 16 bytes and "
       "another block exists with size 15 bytes"},
  };
  for (const Case& c : cases) {
    AesElement element(*he, VERBOSITY_NONE, &std::cout);
    expectThrowWithMessage<std::runtime_error>([&] { element.heEncrypt(c.blocks, -1, true); },
                                               c.message);
    EXPECT_FALSE(element.isPacked());
    expectThrowWithMessage<std::runtime_error>([&] { element.validate(false); }, NOT_PACKED);
  }

  // A failing encryption (chain index above the top) changes nothing either.
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  EXPECT_THROW(element.heEncrypt(randomBlocks(2, 2), 3, false), std::invalid_argument);
  EXPECT_FALSE(element.isPacked());
  EXPECT_EQ(element.getNumBlocks(), 0);
  EXPECT_TRUE(element.getLsbFirst());

  // Blocks of any common length are accepted; a second packing is refused.
  element.heEncrypt(Blocks(2, ByteVector(3, 0xa5)), -1, true);
  expectThrowWithMessage<std::runtime_error>(
      [&] { element.heEncrypt(randomBlocks(3, 1), -1, false); },
      "This AES element has already been packed");
  EXPECT_EQ(element.getNumBlocks(), 2);
  EXPECT_EQ(decryptBlocks(element, 2), Blocks(2, ByteVector(3, 0xa5)));
}

TEST(AesElement, OperationsOnAnUnpackedElementAreRefused)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  std::ostringstream out;
  const std::vector<std::function<void()>> operations = {
      [&] { element.validate(true); },
      [&] { element.getChainIndex(); },
      [&] { element.setChainIndex(1); },
      [&] { element.bootstrap(); },
      [&] { element.getAllBits(); },
      [&] { element.debugPrint("x", VERBOSITY_NONE, out); },
      [&] { element.printStatus("x"); },
      [&] { element.save(out); },
  };
  for (const auto& operation : operations)
    expectThrowWithMessage<std::runtime_error>(operation, NOT_PACKED);
  EXPECT_EQ(out.str(), "");
  EXPECT_THROW(element.getBit(0, 0), std::out_of_range);
  EXPECT_THROW(element.getByte(0, 0), std::out_of_range);
  expectAssertion([&] { AesElement(*he, VERBOSITY_NONE, nullptr); }, FILE_NAME, "AesElement",
                  "out != nullptr");
}

TEST(AesElement, ChainIndexesAreValidatedAndAligned)
{
  std::shared_ptr<HeContext> he = createMockup(4, 5);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(randomBlocks(4, 2), -1, true);
  element.getBit(3, 5)->setChainIndex(2);
  element.getBit(15, 7)->setChainIndex(3);

  element.validate(false);
  expectAssertion([&] { element.validate(true); }, FILE_NAME, "validate",
                  "!validateSameChainIndex || ptr->getChainIndex() == chainIndex");
  expectAssertion([&] { element.getChainIndex(); },
                  "!validateSameChainIndex || ptr->getChainIndex() == chainIndex");
  EXPECT_EQ(element.getAllBits().size(), 128u);

  element.alignChainIndexes();
  element.validate(true);
  EXPECT_EQ(element.getChainIndex(), 2);
  EXPECT_EQ(decryptBlocks(element, 2), randomBlocks(4, 2));

  element.setChainIndex(1);
  for (const auto& bit : element.getAllBits())
    EXPECT_EQ(bit->getChainIndex(), 1);
}

TEST(AesElement, ValidationFindsIncompleteRows)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(randomBlocks(5, 1), -1, true);

  std::shared_ptr<CTile> kept = element.getByte(1, 2)[4];
  element.getByte(1, 2)[4] = nullptr;
  expectAssertion([&] { element.validate(false); }, FILE_NAME, "validate", "ptr != nullptr");
  element.getByte(1, 2)[4] = std::make_shared<CTile>(*he);
  expectAssertion([&] { element.validate(false); }, FILE_NAME, "validate", "!ptr->isEmpty()");
  element.getByte(1, 2)[4] = kept;
  element.getByte(3, 3).pop_back();
  expectAssertion([&] { element.validate(false); }, FILE_NAME, "validate",
                  "vec.size() == AesUtils::numBitsInByte");
  element.getByte(0, 0).push_back(kept);
  expectAssertion([&] { element.validate(false); }, FILE_NAME, "validate",
                  "tiles.at(0).size() == AesUtils::numBitsInByte");
}

TEST(AesElement, AlignmentAssertsEveryTileTheFirstIncluded)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  AesElement empty(*he, VERBOSITY_NONE, &std::cout);
  EXPECT_THROW(empty.alignChainIndexes(), std::out_of_range);

  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(randomBlocks(7, 2), -1, true);
  for (int bitIndex : {0, 6}) {
    std::shared_ptr<CTile> kept = element.getByte(0, 0)[bitIndex];
    element.getByte(0, 0)[bitIndex] = nullptr;
    expectAssertion([&] { element.alignChainIndexes(); }, FILE_NAME, "alignChainIndexes",
                    "bit != nullptr");
    element.getByte(0, 0)[bitIndex] = kept;
  }
  // The first tile may be the lowest or the highest.
  element.getBit(0, 0)->setChainIndex(1);
  element.alignChainIndexes();
  EXPECT_EQ(element.getChainIndex(), 1);
  EXPECT_EQ(decryptBlocks(element, 2), randomBlocks(7, 2));
}

TEST(AesElement, GettersShareTheTilesAndFollowTheStateLayout)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(randomBlocks(6, 1), -1, true);
  // Byte (row 2, column 3) is byte row 14.
  EXPECT_EQ(element.getBit(2, 3, 5), element.getBit(14, 5));
  EXPECT_EQ(element.getByte(2, 3)[5], element.getBit(14, 5));
  EXPECT_EQ(element.getAllBits()[8 * 14 + 5], element.getBit(14, 5));
  EXPECT_THROW(element.getBit(16, 0), std::out_of_range);
  EXPECT_THROW(element.getBit(0, 8), std::out_of_range);
  EXPECT_THROW(element.getBit(0, 4, 0), std::out_of_range);
  EXPECT_THROW(element.getByte(4, 3), std::out_of_range);
}

TEST(AesElement, CopiesAreDeep)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  const Blocks blocks = randomBlocks(7, 3);
  AesElement source(*he, VERBOSITY_NONE, &std::cout);
  source.heEncrypt(blocks, -1, false);
  AesElement copy(source);
  EXPECT_TRUE(copy.isPacked());
  EXPECT_EQ(copy.getNumBlocks(), 3);
  EXPECT_FALSE(copy.getLsbFirst());
  EXPECT_NE(copy.getBit(0, 0), source.getBit(0, 0));

  for (const auto& bit : source.getAllBits())
    bit->negate();
  source.setChainIndex(1);
  EXPECT_EQ(copy.getChainIndex(), 3);
  EXPECT_EQ(decryptBlocks(copy, 3), blocks);
}

TEST(AesElement, BootstrapGoesTwoTilesPerCall)
{
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = 1;
  config.targetChainIndex = 5;
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(4, 6, config));
  auto& mockup = dynamic_cast<MockupContext&>(*he);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(randomBlocks(8, 4), 1, true);
  mockup.startOperationCountTrack();
  element.bootstrap();
  EXPECT_EQ(mockup.getRunStats()->getTotalCount(RunStats::BOOTSTRAP), 128);
  EXPECT_EQ(element.getChainIndex(), 5);
  EXPECT_EQ(decryptBlocks(element, 4), randomBlocks(8, 4));

  std::shared_ptr<HeContext> plain = createMockup(4, 2);
  AesElement other(*plain, VERBOSITY_NONE, &std::cout);
  other.heEncrypt(randomBlocks(8, 4), -1, true);
  expectThrowWithMessage<std::runtime_error>([&] { other.bootstrap(); },
                                             "This HE context does not support bootstrap");
}

TEST(AesElement, ProgressReportByVerbosity)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  ByteVector block(16, 0);
  block[0] = 0xab;
  block[15] = 0x01;

  struct Case
  {
    Verbosity verbosity;
    std::string first;
    std::string cout;
  };
  const std::string detailed = "\nAES encrypted under FHE, chain index: 3\nMemory used (MB): ";
  const std::vector<Case> cases = {
      {VERBOSITY_NONE, "", ""},
      {VERBOSITY_LOW, "", ""},
      {VERBOSITY_REGULAR, "AES encrypted under FHE, chain index: 3\n", ""},
      {VERBOSITY_DETAILED, detailed, ""},
      {VERBOSITY_EXTRA_DETAILED, detailed, "ab000000000000000000000000000001\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    AesElement element(*he, c.verbosity, &out);
    CoutCapture capture;
    // The first report comes from the encryption.
    element.heEncrypt({block}, -1, true);
    const std::string first = out.str();
    EXPECT_EQ(capture.str(), c.cout) << c.verbosity;
    if (c.verbosity < VERBOSITY_DETAILED) {
      EXPECT_EQ(first, c.first);
      continue;
    }
    // Then the memory figure, and the exact bits carry no noise.
    ASSERT_EQ(first.rfind(c.first, 0), 0u) << first;
    EXPECT_EQ(first.find("Time since last print"), std::string::npos);
    const std::string rest = first.substr(c.first.size());
    EXPECT_EQ(rest.substr(rest.find('\n')), "\nAverage noise: 0\nMax noise: 0\n") << rest;
    out.str("");
    element.printStatus("again");
    EXPECT_EQ(out.str().rfind("\nAES again, chain index: 3\nTime since last print (s): 0\n"
                              "Memory used (MB): ",
                              0),
              0u)
        << out.str();
  }

  // Another stream through debugPrint; printStatus writes to the element's own.
  std::ostringstream own;
  AesElement element(*he, VERBOSITY_REGULAR, &own);
  element.heEncrypt({block}, -1, true);
  std::ostringstream other;
  element.debugPrint("t", VERBOSITY_REGULAR, other);
  EXPECT_EQ(other.str(), "AES t, chain index: 3\n");
  EXPECT_EQ(own.str(), "AES encrypted under FHE, chain index: 3\n");
}

TEST(AesElement, PrintDecryptedBlocks)
{
  std::shared_ptr<HeContext> he = createMockup(4, 2);
  const ByteVector first = hexBytes("000102030405060708090a0b0c0d0e0f");
  const ByteVector second = hexBytes("f0e1d2c3b4a5968778695a4b3c2d1e0f");
  for (bool lsbFirst : {true, false}) {
    AesElement element(*he, VERBOSITY_NONE, &std::cout);
    element.heEncrypt({first, second}, -1, lsbFirst);
    CoutCapture capture;
    element.printDecryptedBlocks(false, false);
    element.printDecryptedBlocks(true, false);
    EXPECT_EQ(capture.str(), "000102030405060708090a0b0c0d0e0f\n"
                             "f0e1d2c3b4a5968778695a4b3c2d1e0f\n"
                             "00 04 08 0c \n01 05 09 0d \n02 06 0a 0e \n03 07 0b 0f \n"
                             "f0 b4 78 3c \ne1 a5 69 2d \nd2 96 5a 1e \nc3 87 4b 0f \n");
  }
  AesElement shortRows(*he, VERBOSITY_NONE, &std::cout);
  shortRows.heEncrypt({ByteVector(15, 1)}, -1, true);
  EXPECT_THROW(shortRows.printDecryptedBlocks(false, false), std::out_of_range);
}

TEST(AesElement, SavedBodyLayoutAndRoundTrip)
{
  std::shared_ptr<HeContext> he = createMockup(8, 3);
  const Blocks blocks = randomBlocks(9, 5);
  AesElement element(*he, VERBOSITY_NONE, &std::cout);
  element.heEncrypt(blocks, 2, false);

  Bytes expected;
  expected.b(true).i32(5).b(false).i32(16).i32(8);
  for (const auto& bit : element.getAllBits())
    expected.raw(saved(*bit));
  std::ostringstream out;
  EXPECT_EQ(element.save(out), static_cast<std::streamoff>(expected.data.size()));
  EXPECT_EQ(out.str(), expected.data);

  AesElement loaded(*he, VERBOSITY_NONE, &std::cout);
  std::istringstream in(out.str());
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(expected.data.size()));
  EXPECT_TRUE(loaded.isPacked());
  EXPECT_EQ(loaded.getNumBlocks(), 5);
  EXPECT_FALSE(loaded.getLsbFirst());
  EXPECT_EQ(loaded.getChainIndex(), 2);
  EXPECT_EQ(decryptBlocks(loaded, 5), blocks);
  EXPECT_EQ(savedBody(loaded), expected.data);
}

TEST(AesElement, RefusedLoadsLeaveTheElementAsItWas)
{
  std::shared_ptr<HeContext> he = createMockup(8, 3);
  AesElement source(*he, VERBOSITY_NONE, &std::cout);
  source.heEncrypt(randomBlocks(10, 2), -1, true);
  std::string tilesOfOneRow;
  for (int i = 0; i < 8; ++i)
    tilesOfOneRow += saved(*source.getBit(0, i));
  auto body = [&](int numBlocks, int rows, int bits, int tileRows) {
    Bytes b;
    b.b(true).i32(numBlocks).b(false).i32(rows).i32(bits);
    for (int r = 0; r < tileRows; ++r)
      b.raw(tilesOfOneRow);
    return b.data;
  };
  auto unpacked = body(2, 1, 8, 1);
  unpacked[0] = '\0';

  struct Case
  {
    std::string data;
    std::string tail;
  };
  const std::vector<Case> cases = {
      {body(2, 33, 8, 1), "Assertion failed: bytesSize <= AesUtils::maxNumBytesInElement"},
      {body(2, 0, 8, 1), "Assertion failed: bytesSize > 0"},
      {body(2, -1, 8, 1), "Assertion failed: bytesSize > 0"},
      {body(2, 1, 7, 1), "Assertion failed: bitsSize == AesUtils::numBitsInByte"},
      {body(9, 1, 8, 1),
       "Invalid saved AES element: numBlocks is 9, expected a value in [0, 8]"},
      {body(-1, 1, 8, 1),
       "Invalid saved AES element: numBlocks is -1, expected a value in [0, 8]"},
      {unpacked, NOT_PACKED},
      {body(2, 2, 8, 1).substr(0, 40), ""},
  };
  for (const Case& c : cases) {
    AesElement element(*he, VERBOSITY_NONE, &std::cout);
    element.heEncrypt(randomBlocks(11, 3), 1, false);
    const std::string before = savedBody(element);
    std::istringstream in(c.data);
    try {
      element.load(in);
      ADD_FAILURE() << "no exception: " << c.tail;
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.substr(message.size() - c.tail.size()), c.tail) << message;
    }
    EXPECT_EQ(savedBody(element), before) << c.tail;
    EXPECT_EQ(element.getNumBlocks(), 3);
  }

  // Tiles saved under another context are refused by their own headers.
  std::shared_ptr<HeContext> other = createMockup(8, 3);
  AesElement foreign(*other, VERBOSITY_NONE, &std::cout);
  std::istringstream in(body(2, 1, 8, 1));
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { foreign.load(in); }),
            "loading failed due to mismatching contexts.");
  EXPECT_FALSE(foreign.isPacked());
}

TEST(AesElement, SaveRefusesWhatCannotBeLoaded)
{
  std::shared_ptr<HeContext> he = createMockup(4, 3);
  AesElement longRows(*he, VERBOSITY_NONE, &std::cout);
  longRows.heEncrypt({ByteVector(33, 1)}, -1, true);
  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>(
      [&] { longRows.save(out); }, "Cannot save an AES element of 33 bytes: at most 32 bytes can be saved");
  EXPECT_EQ(out.str(), "");

  AesElement mixed(*he, VERBOSITY_NONE, &std::cout);
  mixed.heEncrypt({ByteVector(32, 1)}, -1, true);
  std::istringstream in(savedBody(mixed));
  AesElement loaded(*he, VERBOSITY_NONE, &std::cout);
  loaded.load(in);
  EXPECT_EQ(decryptBlocks(loaded, 1), Blocks{ByteVector(32, 1)});
  mixed.getBit(31, 7)->setChainIndex(1);
  expectAssertion([&] { mixed.save(out); },
                  "!validateSameChainIndex || ptr->getChainIndex() == chainIndex");
}

} // namespace
