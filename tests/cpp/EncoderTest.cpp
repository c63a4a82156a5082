#include <gtest/gtest.h>

#include <climits>
#include <complex>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;

/// A tile type derived from CTile, which the encoder must not take for one.
class DerivedCTile : public CTile
{
public:
  using CTile::CTile;
};

/// The chain index stored in a mockup plaintext's body (its last four bytes).
int32_t storedChainIndex(const PTile& p)
{
  std::ostringstream body;
  p.getImpl().save(body);
  std::string bytes = body.str();
  int32_t ci;
  std::memcpy(&ci, bytes.data() + bytes.size() - sizeof(ci), sizeof(ci));
  return ci;
}

TEST(EncoderChainIndex, ResolvedAgainstTheTopChainIndex)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  const std::vector<std::pair<int, int>> accepted = {{-1, 5}, {0, 0}, {3, 3}, {5, 5}};
  for (const auto& c : accepted) {
    EXPECT_EQ(encoder.resolveChainIndex(c.first), c.second);
    PTile p(*he);
    encoder.encode(p, 1.5, c.first);
    EXPECT_EQ(p.getChainIndex(), c.second);
    CTile t(*he);
    encoder.encodeEncrypt(t, std::vector<double>{1.0}, c.first);
    EXPECT_EQ(t.getChainIndex(), c.second);
  }
  for (int bad : {-2, 6, 100, INT_MIN}) {
    std::string message =
        "Illegal chain index value " + std::to_string(bad) + " where max=5";
    expectThrowWithMessage<std::invalid_argument>([&] { encoder.resolveChainIndex(bad); },
                                                  message);
    PTile p(*he);
    expectThrowWithMessage<std::invalid_argument>([&] { encoder.encode(p, 1, bad); }, message);
    EXPECT_EQ(p.getChainIndex(), -1); // nothing was encoded
    expectThrowWithMessage<std::invalid_argument>([&] { encoder.getDefaultScale(bad); },
                                                  message);
  }
  EXPECT_EQ(encoder.getDefaultScale(-1), 1.0);
}

TEST(EncoderChainIndex, IgnoredWithoutExplicitChainIndexes)
{
  auto he = mockupContext<NoChainIndexMockupContext>(4, 5);
  Encoder encoder(*he);
  for (int any : {1000, -7, 3, -1}) {
    EXPECT_EQ(encoder.resolveChainIndex(any), -1);
    PTile p(*he);
    encoder.encode(p, std::vector<double>{1, 2}, any);
    EXPECT_EQ(storedChainIndex(p), -1) << any;
    EXPECT_EQ(encoder.getDefaultScale(any), 1.0);
  }
}

TEST(EncoderEncoding, EveryFormFillsTheSlots)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  typedef std::function<void(PTile&)> EncodeForm;
  typedef std::function<void(CTile&)> EncryptForm;
  const std::vector<std::pair<EncodeForm, std::vector<cx>>> encodings = {
      {[&](PTile& p) { encoder.encode(p, 7); }, {7, 7, 7, 7}},
      {[&](PTile& p) { encoder.encode(p, -2.25); }, {-2.25, -2.25, -2.25, -2.25}},
      {[&](PTile& p) { encoder.encode(p, std::vector<int>{1, -2}); }, {1, -2, 0, 0}},
      {[&](PTile& p) { encoder.encode(p, std::vector<double>{0.5, 1.5, 2.5}); },
       {0.5, 1.5, 2.5, 0}},
      {[&](PTile& p) { encoder.encode(p, std::vector<cx>{cx(1, 2), cx(0, -1)}); },
       {cx(1, 2), cx(0, -1), 0, 0}},
  };
  for (const auto& e : encodings) {
    PTile p(*he);
    e.first(p);
    EXPECT_EQ(encoder.decodeComplex(p), e.second);
    EXPECT_EQ(p.getChainIndex(), 5);
  }
  const std::vector<std::pair<EncryptForm, std::vector<cx>>> encryptions = {
      {[&](CTile& c) { encoder.encodeEncrypt(c, 3); }, {3, 3, 3, 3}},
      {[&](CTile& c) { encoder.encodeEncrypt(c, 0.75); }, {0.75, 0.75, 0.75, 0.75}},
      {[&](CTile& c) { encoder.encodeEncrypt(c, std::vector<int>{4, 5, 6, 7}); }, {4, 5, 6, 7}},
      {[&](CTile& c) { encoder.encodeEncrypt(c, std::vector<double>{-0.5}); }, {-0.5, 0, 0, 0}},
      {[&](CTile& c) { encoder.encodeEncrypt(c, std::vector<cx>{cx(0, 3)}, 2); },
       {cx(0, 3), 0, 0, 0}},
  };
  for (const auto& e : encryptions) {
    CTile c(*he);
    e.first(c);
    EXPECT_EQ(encoder.decryptDecodeComplex(c), e.second);
  }
}

TEST(EncoderEncoding, EncryptDecryptAndDecodings)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  PTile p(*he), back(*he);
  encoder.encode(p, std::vector<double>{2.5, -2.5, 2.4999, -0.5}, 3);
  CTile c(*he);
  encoder.encrypt(c, p);
  EXPECT_EQ(c.getChainIndex(), 3);
  encoder.decrypt(back, c);
  EXPECT_EQ(encoder.decodeDouble(back), (std::vector<double>{2.5, -2.5, 2.4999, -0.5}));
  EXPECT_EQ(encoder.decodeInt(back), (std::vector<int>{3, -3, 2, -1}));
  EXPECT_EQ(encoder.decryptDecodeInt(c), (std::vector<int>{3, -3, 2, -1}));
  EXPECT_EQ(encoder.decryptDecodeDouble(c), encoder.decodeDouble(p));

  // Integers outside 32 bits are refused rather than wrapped.
  PTile big(*he);
  encoder.encode(big, std::vector<double>{1, 3e9});
  EXPECT_THROW(encoder.decodeInt(big), std::overflow_error);
  CTile bigC(*he);
  encoder.encodeEncrypt(bigC, std::vector<double>{-3e9});
  EXPECT_THROW(encoder.decryptDecodeInt(bigC), std::overflow_error);
}

TEST(EncoderEncoding, IntegerDecodingRefusesValuesBeyond32BitsWithOverflowError)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  const std::vector<std::pair<double, std::string>> cases = {
      {3e10, "30000000000.000000"},
      {-3e10, "-30000000000.000000"},
      {2147483647.5, "2147483647.500000"},
      {-2147483648.5, "-2147483648.500000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    const std::string message =
        "Decoded value " + c.second + " is out of the range of the integer type";
    PTile p(*he);
    encoder.encode(p, std::vector<double>{1, c.first});
    expectThrowWithMessage<std::overflow_error>([&] { encoder.decodeInt(p); }, message);
    CTile ct(*he);
    encoder.encrypt(ct, p);
    expectThrowWithMessage<std::overflow_error>([&] { encoder.decryptDecodeInt(ct); }, message);
  }
  // The largest values that fit still decode.
  PTile edge(*he);
  encoder.encode(edge, std::vector<double>{2147483647.4, -2147483648.4});
  EXPECT_EQ(encoder.decodeInt(edge), (std::vector<int>{INT_MAX, INT_MIN, 0, 0}));
}

TEST(EncoderTiles, EncryptTileCopiesACTileAndEncryptsAPTile)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  he->startOperationCountTrack();
  CTile src(*he);
  encoder.encodeEncrypt(src, std::vector<double>{1, 2, 3, 4}, 2);
  CTile copy(*he);
  encoder.encryptTile(copy, src);
  EXPECT_EQ(he->getRunStats()->getTotalCount(RunStats::ENCRYPT), 1);
  EXPECT_NE(&copy.getImpl(), &src.getImpl());
  copy.negate();
  EXPECT_EQ(encoder.decryptDecodeDouble(src), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(copy.getChainIndex(), 2);

  PTile p(*he);
  encoder.encode(p, 2.0, 1);
  CTile encrypted(*he);
  encoder.encryptTile(encrypted, p);
  EXPECT_EQ(he->getRunStats()->getTotalCount(RunStats::ENCRYPT), 2);
  EXPECT_EQ(encrypted.getChainIndex(), 1);
  EXPECT_EQ(encoder.decryptDecodeDouble(encrypted), (std::vector<double>{2, 2, 2, 2}));

  DerivedCTile derived(*he);
  expectAssertion([&] { encoder.encryptTile(encrypted, derived); }, "encryptTile",
                  "typeid(src) == typeid(PTile)");
}

TEST(EncoderTiles, DecryptDecodeTileDoubleDispatchesOnTheExactType)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  PTile p(*he);
  encoder.encode(p, std::vector<double>{1, -1}, 4);
  CTile c(*he);
  encoder.encodeEncrypt(c, std::vector<double>{0.5}, 3);
  he->startOperationCountTrack();
  EXPECT_EQ(encoder.decryptDecodeTileDouble(p), (std::vector<double>{1, -1, 0, 0}));
  EXPECT_EQ(he->getRunStats()->getTotalCount(RunStats::DECRYPT), 0);
  EXPECT_EQ(he->getRunStats()->getCount(RunStats::DECODE_DOUBLE, 4), 1);
  EXPECT_EQ(p.getChainIndex(), 4);
  EXPECT_EQ(encoder.decryptDecodeTileDouble(c), (std::vector<double>{0.5, 0, 0, 0}));
  EXPECT_EQ(he->getRunStats()->getCount(RunStats::DECRYPT, 3), 1);

  DerivedCTile derived(*he);
  expectAssertion([&] { encoder.decryptDecodeTileDouble(derived); }, "decryptDecodeTileDouble",
                  "typeid(t) == typeid(PTile)");
}

TEST(EncoderAssertEquals, ComparesAsManySlotsAsExpectedValues)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  CTile c(*he);
  encoder.encodeEncrypt(c, std::vector<double>{1, 2.0000001, 5, 0});
  EXPECT_NEAR(encoder.assertEquals(c, "t", std::vector<double>{1, 2}, 1e-6, false), 1e-7, 1e-12);
  EXPECT_EQ(encoder.assertEquals(c, "t", std::vector<int>{1}, 1e-6, false), 0);
  EXPECT_NEAR(encoder.assertEquals(c, "t", std::vector<cx>{1, 2, 5, 0}, 1e-6, true), 1e-7,
              1e-12);
  expectThrowWithMessage<std::runtime_error>(
      [&] { encoder.assertEquals(c, "t", std::vector<double>{1, 2, 5, 0, 0}, 1e-6, false); },
      "Size of expected values vector is bigger than size of cipher");
  testing::internal::CaptureStdout();
  expectThrowWithMessage<std::runtime_error>(
      [&] { encoder.assertEquals(c, "title", std::vector<double>{1, 2, 4.5}, 1e-6, false); },
      "Assert Equals Failed");
  std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(report.rfind("Error in checking diff:\ntitle, at slot 2", 0), 0u) << report;
}

struct ErrorStatsCase
{
  std::vector<double> actual;
  std::vector<double> expected;
  bool asCsv;
  std::string text;
};

TEST(EncoderErrorStats, PrintsTheStatisticsOfTheRealParts)
{
  const std::vector<ErrorStatsCase> cases = {
      // A zero actual value takes 100 times the difference; the first of two
      // equal largest differences is reported.
      {{4, 0, 2, 1},
       {4.5, 0.25, 2, 1.5},
       false,
       "Max diff  : expected=4.5 actual=4 diff=0.5 diff%=12.5%\n"
       "Max diff% : expected=1.5 actual=1 diff=0.5 diff%=50%\n"
       "Mean diff : diff=0.3125 diff%= 21.875\n"
       "STD diff  : diff=0.207289 diff%= 18.4877\n"},
      {{4, 0, 2, 1}, {4.5, 0.25, 2, 1.5}, true, "0.5, 0.3125, 0.207289"},
      // All equal: positions 0, zero statistics.
      {{1, 2, 3, 4},
       {1, 2, 3, 4, 99},
       false,
       "Max diff  : expected=1 actual=1 diff=0 diff%=0%\n"
       "Max diff% : expected=1 actual=1 diff=0 diff%=0%\n"
       "Mean diff : diff=0 diff%= 0\n"
       "STD diff  : diff=0 diff%= 0\n"},
      {{-1, 0, 0, 0}, {1, 0, 0, 0}, true, "2, 0.5, 0.866025"},
  };
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  for (const ErrorStatsCase& c : cases) {
    CTile t(*he);
    encoder.encodeEncrypt(t, c.actual);
    std::ostringstream out;
    encoder.printErrorStats(t, c.expected, out, c.asCsv);
    EXPECT_EQ(out.str(), c.text);
  }
}

TEST(EncoderErrorStats, RefusesAnExpectedVectorShorterThanTheSlots)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  CTile t(*he);
  encoder.encodeEncrypt(t, std::vector<double>{1, 2, 3, 4});
  for (const std::vector<double>& expected :
       {std::vector<double>{}, std::vector<double>{1, 2, 3}}) {
    std::ostringstream out;
    expectThrowWithMessage<std::invalid_argument>(
        [&] { encoder.printErrorStats(t, expected, out, false); },
        "printErrorStats needs one expected value per slot: 4 slots but " +
            std::to_string(expected.size()) + " expected values");
    EXPECT_EQ(out.str(), "");
  }
}

TEST(EncoderSettings, EachEncoderKeepsItsOwnSettings)
{
  auto he = mockupContext(4, 5);
  he->setDefaultScale(2.0);
  he->setDefaultDevice(DEVICE_GPU);
  Encoder first(*he), second(*he);
  EXPECT_EQ(first.getDefaultDevice(), DEVICE_GPU);
  EXPECT_EQ(&first.getHeContext(), he.get());
  first.setDefaultScale(8.0);
  first.setDefaultDevice(DEVICE_CPU);
  EXPECT_EQ(second.getDefaultDevice(), DEVICE_GPU);
  EXPECT_EQ(first.getDefaultScale(), 8.0);
  EXPECT_EQ(second.getDefaultScale(3), 2.0);
  PTile a(*he), b(*he);
  first.encode(a, 1.0);
  second.encode(b, 1.0);
  EXPECT_EQ(a.getScale(), 8.0);
  EXPECT_EQ(b.getScale(), 2.0);
  first.restoreDefaultScale();
  EXPECT_EQ(first.getDefaultScale(), 1.0);

  first.setDecryptAddedNoiseEnabled(false);
  EXPECT_FALSE(first.getDecryptAddedNoiseEnabled());
  expectThrowWithMessage<std::runtime_error>([&] { first.setDecryptAddedNoiseEnabled(true); },
                                             "Enabling decrypt added noise not supported");
  expectThrowWithMessage<std::runtime_error>([&] { first.setDecryptAddedNoisePrecision(3); },
                                             "Decrypt added noise precision not supported");
  expectThrowWithMessage<std::runtime_error>([&] { first.getDecryptAddedNoisePrecision(); },
                                             "Decrypt added noise precision not supported");
}

TEST(EncoderReencode, PlaintextReencodedAtTheEncodersDefaultScale)
{
  auto he = mockupContext(4, 5);
  Encoder encoder(*he);
  encoder.setDefaultScale(16.0);
  PTile p(*he);
  encoder.encode(p, std::vector<cx>{cx(1, -1), 2}, 1);
  EXPECT_EQ(p.getScale(), 16.0);
  PTile res(*he);
  p.reencode(res, 4);
  EXPECT_EQ(res.getChainIndex(), 4);
  EXPECT_EQ(res.getScale(), 1.0); // a fresh encoder of the context
  EXPECT_EQ(encoder.decodeComplex(res), (std::vector<cx>{cx(1, -1), 2, 0, 0}));
  EXPECT_EQ(p.getChainIndex(), 1);
  EXPECT_EQ(p.getScale(), 16.0);
}

} // namespace
