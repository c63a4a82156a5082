#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// An empty context of depth 100 and 16 slots, counting operations.
class EmptyContextTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    he.init(HeConfigRequirement::insecure(16, 100));
    he.startOperationCountTrack();
  }

  int count(int code, int chainIndex) const
  {
    return he.getRunStats()->getCount(code, chainIndex);
  }
  int64_t total(int code) const { return he.getRunStats()->getTotalCount(code); }

  CTile encrypted(int chainIndex = -1)
  {
    CTile c(he);
    encoder.encodeEncrypt(c, std::vector<double>{1, 2, 3}, chainIndex);
    return c;
  }

  EmptyContext he;
  Encoder encoder{he};
};

TEST(EmptyContextConstructionTest, TraitsNamesAndRefusals)
{
  EmptyContext he;
  const HeTraits& t = he.getTraits();
  EXPECT_TRUE(t.getSupportsCKKSBootstrapping());
  EXPECT_TRUE(t.getSupportsModSwitch());
  EXPECT_TRUE(t.getAutomaticallyManagesRescale());
  EXPECT_TRUE(t.getSupportsExplicitChainIndices());
  EXPECT_TRUE(t.getSupportsComplexNumbers());
  EXPECT_TRUE(t.getIsDebugEmpty());
  EXPECT_FALSE(t.getAutomaticallyManagesChainIndices());
  EXPECT_FALSE(t.getSupportsScaledEncoding());
  EXPECT_FALSE(t.getSupportsValuesLimitation());
  EXPECT_FALSE(he.isInitialized());
  EXPECT_EQ(he.getLibraryName(), "Empty");
  EXPECT_EQ(he.getSchemeName(), "Empty");
  EXPECT_TRUE(he.getEstimatedMeasures().empty());
  EXPECT_TRUE(he.hasSecretKey());
  EXPECT_EQ(he.getSecurityLevel(), 0);

  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>([&] { he.getSignature(); }, "Not implemented");
  expectThrowWithMessage<std::runtime_error>([&] { he.clone(); },
                                             "clone not implemented for this context");
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.isConfigRequirementFeasible(HeConfigRequirement::insecure(16, 2)); },
      "Not implemented");
  expectThrowWithMessage<std::runtime_error>([&] { he.saveSecretKey(out); }, "Not implemented");
  std::istringstream in("");
  expectThrowWithMessage<std::runtime_error>([&] { he.loadSecretKey(in); }, "Not implemented");
  expectThrowWithMessage<std::runtime_error>([&] { he.getMinChainIndexForBootstrapping(); },
                                             "HE context has not been initialized yet");
  expectThrowWithMessage<std::runtime_error>([&] { he.getMultiPartyUtils(); },
                                             "This HeContext cannot provide MultiPartyUtils");
}

TEST(EmptyContextConstructionTest, InitRefusesUnsetSlotCountOrDepth)
{
  // Without a slot count decoding would size a vector from -1.
  EmptyContext noSlots;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { noSlots.init(HeConfigRequirement::insecure(-1, 5)); },
      "EmptyContext needs a positive number of slots, given -1");
  EXPECT_FALSE(noSlots.isInitialized());
  EmptyContext noDepth;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { noDepth.init(HeConfigRequirement::insecure(8, -1)); },
      "EmptyContext needs a non-negative multiplication depth, given -1");
  // The same context can then be initialised properly.
  noDepth.init(HeConfigRequirement::insecure(8, 0));
  EXPECT_TRUE(noDepth.isInitialized());
  EXPECT_EQ(noDepth.getTopChainIndex(), 0);
}

TEST(EmptyContextConstructionTest, AnyRequirementTheBaseAcceptsIsUsedWithoutFeasibilityCheck)
{
  EmptyContext he;
  he.init(HeConfigRequirement(32, 7, 40, 10, 256));
  EXPECT_EQ(he.slotCount(), 32);
  EXPECT_EQ(he.getTopChainIndex(), 7);
  EXPECT_EQ(he.getSecurityLevel(), 0);
  expectAssertion([&] { he.getMinChainIndexForBootstrapping(); },
                  "getMinChainIndexForBootstrapping", "getBootstrappable()");
  expectAssertion([&] { he.getChainIndexAfterBootstrapping(); },
                  "getChainIndexAfterBootstrapping", "getBootstrappable()");
}

TEST_F(EmptyContextTest, EncryptionPutsCiphertextAtTopAndMultiplyConsumesOneLevel)
{
  CTile x(he);
  EXPECT_TRUE(x.isEmpty());
  EXPECT_EQ(x.getChainIndex(), -1);
  encoder.encodeEncrypt(x, std::vector<double>{1, 2});
  EXPECT_FALSE(x.isEmpty());
  EXPECT_EQ(x.getChainIndex(), 100);
  EXPECT_EQ(count(RunStats::ENCODE, 100), 1);
  EXPECT_EQ(count(RunStats::ENCRYPT, 100), 1);

  CTile y = encrypted();
  x.multiply(y);
  EXPECT_EQ(x.getChainIndex(), 99);
  EXPECT_EQ(y.getChainIndex(), 100);
  EXPECT_EQ(count(RunStats::MULTIPLY_RAW, 100), 1);
  EXPECT_EQ(count(RunStats::RELINEARIZE, 100), 1);
  EXPECT_EQ(count(RunStats::RESCALE_RAW, 100), 1);
  EXPECT_EQ(total(RunStats::RESCALE_RAW), 1);
  EXPECT_EQ(he.getRunStats()->getMinChainIndex(), 99);
  EXPECT_EQ(he.getRunStats()->getMaxChainIndex(), 100);
}

TEST_F(EmptyContextTest, LevelsConsumedPerOperation)
{
  struct Case
  {
    const char* name;
    std::function<void(CTile&, const CTile&, const PTile&)> op;
    int levels;
  };
  PTile p(he);
  encoder.encode(p, std::vector<double>{1}, 100);
  std::vector<Case> cases = {
      {"add", [](CTile& c, const CTile& o, const PTile&) { c.add(o); }, 0},
      {"sub", [](CTile& c, const CTile& o, const PTile&) { c.sub(o); }, 0},
      {"multiplyRaw", [](CTile& c, const CTile& o, const PTile&) { c.multiplyRaw(o); }, 0},
      {"multiply", [](CTile& c, const CTile& o, const PTile&) { c.multiply(o); }, 1},
      {"addPlain", [](CTile& c, const CTile&, const PTile& q) { c.addPlain(q); }, 0},
      {"multiplyPlainRaw", [](CTile& c, const CTile&, const PTile& q) { c.multiplyPlainRaw(q); },
       0},
      {"multiplyPlain", [](CTile& c, const CTile&, const PTile& q) { c.multiplyPlain(q); }, 1},
      {"squareRaw", [](CTile& c, const CTile&, const PTile&) { c.squareRaw(); }, 0},
      {"square", [](CTile& c, const CTile&, const PTile&) { c.square(); }, 1},
      {"multiplyScalar(int)", [](CTile& c, const CTile&, const PTile&) { c.multiplyScalar(2); },
       0},
      {"multiplyScalar(double)",
       [](CTile& c, const CTile&, const PTile&) { c.multiplyScalar(2.0); }, 1},
      {"multiplyImaginaryUnit",
       [](CTile& c, const CTile&, const PTile&) { c.multiplyImaginaryUnit(); }, 1},
      {"rescale", [](CTile& c, const CTile&, const PTile&) { c.rescale(); }, 1},
      {"rotate", [](CTile& c, const CTile&, const PTile&) { c.rotate(3); }, 0},
      {"negate", [](CTile& c, const CTile&, const PTile&) { c.negate(); }, 0},
      {"relinearize", [](CTile& c, const CTile&, const PTile&) { c.relinearize(); }, 0},
      {"addScalar", [](CTile& c, const CTile&, const PTile&) { c.addScalar(1.5); }, 0},
  };
  for (const Case& testCase : cases) {
    CTile c = encrypted();
    CTile other = encrypted();
    testCase.op(c, other, p);
    EXPECT_EQ(c.getChainIndex(), 100 - testCase.levels) << testCase.name;
  }
}

TEST_F(EmptyContextTest, MismatchingChainIndexesAreRefusedBeforeCounting)
{
  CTile x = encrypted(99);
  CTile y = encrypted(100);
  int before = count(RunStats::ADD_RAW, 99);
  expectThrowWithMessage<std::invalid_argument>([&] { x.getImpl().add(y.getImpl()); },
                                                "mismatching chain indexes");
  expectThrowWithMessage<std::invalid_argument>([&] { x.getImpl().multiply(y.getImpl()); },
                                                "mismatching chain indexes");
  EXPECT_EQ(count(RunStats::ADD_RAW, 99), before);
  EXPECT_EQ(total(RunStats::MULTIPLY_RAW), 0);
  EXPECT_EQ(x.getChainIndex(), 99);

  PTile p(he);
  encoder.encode(p, std::vector<double>{1}, 99);
  x.getImpl().addPlain(p.getImpl());
  EXPECT_EQ(count(RunStats::ADD_PLAIN_RAW, 99), 1);
  PTile high(he);
  encoder.encode(high, std::vector<double>{1}, 100);
  expectThrowWithMessage<std::invalid_argument>([&] { x.getImpl().subPlain(high.getImpl()); },
                                                "mismatching chain indexes");
}

TEST_F(EmptyContextTest, RescaleAtZeroIsRefusedAfterCounting)
{
  CTile c = encrypted(0);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { c.rescale(); }, "Given chain index is out of range or higher than current");
  EXPECT_EQ(count(RunStats::RESCALE_RAW, 0), 1);
  EXPECT_EQ(c.getChainIndex(), 0);
}

TEST_F(EmptyContextTest, CiphertextChainIndexOnlyGoesDown)
{
  CTile fresh(he);
  // A fresh ciphertext accepts any index of the range once.
  fresh.setChainIndex(50);
  EXPECT_EQ(fresh.getChainIndex(), 50);
  EXPECT_FALSE(fresh.isEmpty());
  for (int bad : {-1, 51, 101}) {
    expectThrowWithMessage<std::invalid_argument>(
        [&] { fresh.setChainIndex(bad); },
        "Given chain index is out of range or higher than current");
    EXPECT_EQ(fresh.getChainIndex(), 50) << bad;
  }
  fresh.setChainIndex(0);
  EXPECT_EQ(fresh.getChainIndex(), 0);

  // A refused first setting still marks the ciphertext as set.
  CTile other(he);
  EXPECT_THROW(other.setChainIndex(101), std::invalid_argument);
  EXPECT_FALSE(other.isEmpty());
  EXPECT_EQ(other.getChainIndex(), -1);
}

TEST_F(EmptyContextTest, PlaintextChainIndexMovesBothWaysWithinRange)
{
  PTile p(he);
  EXPECT_EQ(p.getChainIndex(), 100);
  p.setChainIndex(3);
  p.setChainIndex(70);
  EXPECT_EQ(p.getChainIndex(), 70);
  for (int bad : {-1, 101}) {
    expectThrowWithMessage<std::invalid_argument>([&] { p.setChainIndex(bad); },
                                                  "Given chain index is out of range");
  }
  EXPECT_EQ(p.getChainIndex(), 70);
  EXPECT_DOUBLE_EQ(p.getScale(), 1.0);
  p.setScale(8.0);
  EXPECT_DOUBLE_EQ(p.getScale(), 1.0);
}

TEST_F(EmptyContextTest, EncryptingBelowTheCiphertextIndexIsRefused)
{
  CTile c = encrypted(10);
  PTile p(he);
  encoder.encode(p, std::vector<double>{1}, 20);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { encoder.encrypt(c, p); }, "Given chain index is out of range or higher than current");
}

TEST_F(EmptyContextTest, DecodingGivesZerosAndComparisonsAgainstZerosPass)
{
  CTile c = encrypted(42);
  std::vector<double> values = encoder.decryptDecodeDouble(c);
  EXPECT_EQ(values, std::vector<double>(16, 0.0));
  EXPECT_EQ(count(RunStats::DECRYPT, 42), 1);
  EXPECT_EQ(count(RunStats::DECODE_DOUBLE, 42), 1);
  EXPECT_EQ(encoder.decryptDecodeComplex(c).size(), 16u);
  EXPECT_DOUBLE_EQ(encoder.assertEquals(c, "zeros", std::vector<double>{0, 0, 0}), 0.0);
  EXPECT_THROW(encoder.assertEquals(c, "ones", std::vector<double>{1}), std::runtime_error);
}

TEST_F(EmptyContextTest, InnerSumCountsOneCopyAndOneRotationAndAdditionPerPass)
{
  CTile c = encrypted();
  c.innerSum(1, 8, false);
  EXPECT_EQ(count(RunStats::C_COPY, 100), 1);
  EXPECT_EQ(count(RunStats::ROTATE, 100), 3);
  EXPECT_EQ(count(RunStats::ADD_RAW, 100), 3);
  EXPECT_EQ(he.getRunStats()->getRotations(), (std::set<int>{1, 2, 4}));
  EXPECT_EQ(c.getChainIndex(), 100);
  c.innerSum(2, 8, true);
  EXPECT_EQ(he.getRunStats()->getRotations(), (std::set<int>{-4, -2, 1, 2, 4}));
  for (auto offsets : {std::make_pair(0, 8), std::make_pair(1, 0), std::make_pair(-1, 4)}) {
    expectThrowWithMessage<std::invalid_argument>(
        [&] { c.innerSum(offsets.first, offsets.second, false); },
        "Rotation offsets should be positive.");
  }
}

TEST_F(EmptyContextTest, UnsupportedOperationsRefuse)
{
  CTile c = encrypted();
  std::vector<std::function<void()>> ops = {
      [&] { c.conjugate(); },
      [&] { c.conjugateRaw(); },
      [&] { c.multiplyByChangingScale(2.0); },
      [&] { c.nullifyImaginaryPart(); },
      [&] {
        std::ostringstream out;
        c.getImpl().save(out);
      },
  };
  for (const auto& op : ops)
    expectThrowWithMessage<std::runtime_error>(op, "Not implemented");
}

TEST_F(EmptyContextTest, EncoderKeepsItsOwnScale)
{
  EXPECT_DOUBLE_EQ(encoder.getDefaultScale(), 1.0);
  encoder.setDefaultScale(1024.0);
  EXPECT_DOUBLE_EQ(encoder.getDefaultScale(7), 1024.0);
  Encoder other(he);
  EXPECT_DOUBLE_EQ(other.getDefaultScale(), 1.0);
  encoder.restoreDefaultScale();
  EXPECT_DOUBLE_EQ(encoder.getDefaultScale(), 1.0);
}

TEST_F(EmptyContextTest, CountsAboveTheStatisticsRangeFailBeforeAnyChange)
{
  EmptyContext deep;
  deep.init(HeConfigRequirement::insecure(4, 150));
  deep.startOperationCountTrack();
  Encoder deepEncoder(deep);
  CTile c(deep);
  expectThrowWithMessage<std::out_of_range>(
      [&] { deepEncoder.encodeEncrypt(c, std::vector<double>{1}); }, "invalid vector subscript");
  EXPECT_TRUE(c.isEmpty());
}

TEST_F(EmptyContextTest, DepthAndCountsOfASmallComputation)
{
  CTile x = encrypted();
  CTile y = encrypted();
  CTile r = x;                // copy at 100
  r.multiply(y);              // 100 -> 99
  r.square();                 // 99 -> 98
  r.rotate(3);                // at 98
  x.multiplyScalar(2.0);      // encode at 100, 100 -> 99
  r.add(x);                   // x is lowered through a copy to 98
  EXPECT_EQ(he.getTopChainIndex() - r.getChainIndex(), 2);
  EXPECT_EQ(x.getChainIndex(), 99);

  std::ostringstream out;
  he.getStatsAndClear(out);
  EXPECT_EQ(out.str(), "Run stats\n"
                       "encode         :    3\n"
                       "encrypt        :    2\n"
                       "copy           :    2\n"
                       "add            :    1\n"
                       "relinearize    :    2\n"
                       "rotate         :    1\n"
                       "multiply       :    1\n"
                       "multiplyPlain  :    1\n"
                       "square         :    1\n"
                       "rescale        :    3\n");
  std::ostringstream again;
  he.getStatsAndClear(again);
  EXPECT_EQ(again.str(), "Run stats\n");
}

} // namespace
