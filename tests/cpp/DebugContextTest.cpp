#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/DebugPlaintext.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// A debug context over two initialised mockup contexts of 8 slots and depth 5.
class DebugContextTest : public ::testing::Test
{
protected:
  DebugCiphertext& debugOf(CTile& c) { return dynamic_cast<DebugCiphertext&>(c.getImpl()); }

  CTile encrypted(const std::vector<double>& values)
  {
    CTile c(dc);
    encoder.encodeEncrypt(c, values);
    return c;
  }

  /// A pair whose second half holds other values than its first.
  CTile diverging(const std::vector<double>& first, const std::vector<double>& second)
  {
    CTile c = encrypted(first);
    h2->getEncoder()->encodeEncrypt(debugOf(c).getC2(), second, c.getChainIndex());
    return c;
  }

  std::vector<double> firstHalf(CTile& c)
  {
    return h1->getEncoder()->decryptDecodeDouble(debugOf(c).getC1());
  }
  std::vector<double> secondHalf(CTile& c)
  {
    return h2->getEncoder()->decryptDecodeDouble(debugOf(c).getC2());
  }

  std::shared_ptr<HeContext> h1 = createMockup(8, 5);
  std::shared_ptr<HeContext> h2 = createMockup(8, 5);
  DebugContext dc{*h1, *h2, 1e-05, false};
  Encoder encoder{dc};
};

TEST_F(DebugContextTest, OverInitialisedContextsReportsTheFirstOne)
{
  EXPECT_TRUE(dc.isInitialized());
  EXPECT_EQ(dc.slotCount(), 8);
  EXPECT_EQ(dc.getTopChainIndex(), 5);
  EXPECT_TRUE(dc.hasSecretKey());
  EXPECT_EQ(dc.getSecurityLevel(), 0);
  EXPECT_EQ(dc.getTraits().getSupportsCKKSBootstrapping(),
            h1->getTraits().getSupportsCKKSBootstrapping());
  EXPECT_EQ(dc.getTraits().getUsesDefaultScale(), h1->getTraits().getUsesDefaultScale());
  EXPECT_EQ(dc.getHeConfigRequirement().numSlots, 8);
  EXPECT_NE(dc.getContextId(), h1->getContextId());
  EXPECT_NE(dc.getContextId(), h2->getContextId());
  EXPECT_EQ(dc.getMaxAllowedValues(), h1->getMaxAllowedValues());
  EXPECT_DOUBLE_EQ(dc.getDiffThreshold(), 1e-05);
  dc.setDiffThreshold(0.5);
  EXPECT_DOUBLE_EQ(dc.getDiffThreshold(), 0.5);
}

TEST_F(DebugContextTest, NamesAreBuiltFromBothContexts)
{
  EXPECT_EQ(dc.getLibraryName(), "DEBUG:Mockup:Mockup");
  EXPECT_EQ(dc.getSchemeName(), "DEBUG:Mockup:Mockup");
  EXPECT_EQ(dc.getRegistryKey(), "DEBUG:Mockup:Mockup_DEBUG:Mockup:Mockup");
  EXPECT_EQ(dc.getSignature(), "DEBUG_Mockup_DEG16_D5");

  std::string text = signatureOf(dc);
  // Library and scheme names are equal here, so the name is printed once.
  std::string tail = "\nDEBUG:Mockup:Mockup context. Context id=" +
                     std::to_string(dc.getContextId()) +
                     " (WITH SECRET KEY)\nComparing two contexts with eps=1e-05\nHE context 1:\n" +
                     signatureOf(*h1) + "HE context 2:\n" + signatureOf(*h2);
  ASSERT_GE(text.size(), tail.size()) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

  std::ostringstream printed;
  dc.debugPrint("T", VERBOSITY_REGULAR, printed);
  std::ostringstream expected;
  h1->debugPrint("HE context 1: T", VERBOSITY_REGULAR, expected);
  h2->debugPrint("HE context 2: T", VERBOSITY_REGULAR, expected);
  EXPECT_EQ(printed.str(), expected.str());
}

TEST_F(DebugContextTest, DefaultScaleAndDeviceReachBothContexts)
{
  dc.setDefaultScale(4.0);
  EXPECT_DOUBLE_EQ(h1->getDefaultScale(), 4.0);
  EXPECT_DOUBLE_EQ(h2->getDefaultScale(), 4.0);
  EXPECT_DOUBLE_EQ(dc.getDefaultScale(), 4.0);
  h1->setDefaultScale(2.0);
  EXPECT_DOUBLE_EQ(dc.getDefaultScale(), 2.0);
  dc.setDefaultDevice(DEVICE_GPU);
  EXPECT_EQ(h1->getDefaultDevice(), DEVICE_GPU);
  EXPECT_EQ(h2->getDefaultDevice(), DEVICE_GPU);
  EXPECT_EQ(dc.getDefaultDevice(), DEVICE_GPU);
}

TEST_F(DebugContextTest, RefusalsKeptFromTheBase)
{
  std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { dc.getBootstrapEvaluator(); }, "This HE context does not support bootstrap"},
      {[&] { dc.createAbstractBootstrapEvaluator(BootstrapConfig()); },
       "This HE context does not support bootstrap"},
      {[&] { dc.clone(); }, "clone not implemented for this context"},
      {[&] { dc.getMultiPartyUtils(); }, "This HeContext cannot provide MultiPartyUtils"},
      {[&] { dc.getEstimatedMeasures(); }, "HeContext::getEstimatedMeasures is not implemented"},
      {[&] { dc.setModulusChain(nullptr); }, "setModulusChain() not implemented"},
      {[&] { dc.init(HeConfigRequirement::insecure(8, 5)); },
       "HE context has already been initialized"},
  };
  for (const auto& c : cases)
    expectThrowWithMessage<std::runtime_error>(c.first, c.second);
}

TEST(DebugContextInitTest, ContextsDifferingInInitialisationAreRefused)
{
  std::shared_ptr<HeContext> ready = createMockup(8, 5);
  MockupContext fresh;
  try {
    DebugContext dc(*ready, fresh, 1e-05, false);
    ADD_FAILURE() << "no assertion";
  } catch (const assert_error& e) {
    std::string message = e.what();
    std::string tail = ": DebugContext: Assertion failed: h1.isInitialized() == h2.isInitialized()";
    ASSERT_GE(message.size(), tail.size());
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
  }
}

TEST(DebugContextInitTest, InitInitialisesAllThree)
{
  MockupContext m1, m2;
  DebugContext dc(m1, m2, 1e-05, false);
  EXPECT_FALSE(dc.isInitialized());
  dc.init(HeConfigRequirement::insecure(4, 3));
  EXPECT_TRUE(dc.isInitialized());
  EXPECT_TRUE(m1.isInitialized());
  EXPECT_TRUE(m2.isInitialized());
  EXPECT_EQ(dc.slotCount(), 4);
  EXPECT_EQ(m2.getTopChainIndex(), 3);
  expectThrowWithMessage<std::runtime_error>(
      [&] { dc.init(HeConfigRequirement::insecure(4, 3)); },
      "HE context has already been initialized");
}

TEST(DebugContextInitTest, FailingSecondContextLeavesDebugContextUninitialised)
{
  // The empty context accepts a secure requirement, the mockup context refuses it.
  EmptyContext first;
  MockupContext second;
  DebugContext dc(first, second, 1e-05, false);
  expectThrowWithMessage<std::runtime_error>(
      [&] { dc.init(HeConfigRequirement(8, 3, 40, 10)); },
      "Given configuration requirement is not feasible");
  EXPECT_TRUE(first.isInitialized());
  EXPECT_FALSE(second.isInitialized());
  EXPECT_FALSE(dc.isInitialized());
}

TEST(DebugContextInitTest, InitializedInnerContextIsRefusedBeforeAnythingChanges)
{
  MockupContext m1, m2;
  DebugContext dc(m1, m2, 1e-05, false);
  m2.init(HeConfigRequirement::insecure(4, 3));
  expectThrowWithMessage<std::runtime_error>(
      [&] { dc.init(HeConfigRequirement::insecure(4, 3)); },
      "HE context has already been initialized");
  EXPECT_FALSE(dc.isInitialized());
  EXPECT_FALSE(m1.isInitialized());
  EXPECT_EQ(dc.getHeConfigRequirement().numSlots, -1);
}

TEST_F(DebugContextTest, AgreeingHalvesPassSilently)
{
  CTile x = encrypted({1, 2, 3});
  CTile y = encrypted({4, 5, 6});
  CoutCapture capture;
  x.add(y);
  x.multiply(y);
  EXPECT_EQ(capture.str(), "");
  EXPECT_EQ(debugOf(x).getOperationLog(), "add\nmultiply\n");
  EXPECT_EQ(encoder.decryptDecodeDouble(x),
            (std::vector<double>{20, 35, 54, 0, 0, 0, 0, 0}));
  EXPECT_EQ(x.getChainIndex(), 4);
  EXPECT_EQ(debugOf(x).getC2().getChainIndex(), 4);
}

TEST_F(DebugContextTest, DivergingPairIsReportedAtTheFirstDifferingSlot)
{
  CTile x = diverging({1, 2, 3, 4}, {1, 2, 3.5, 4.75});
  CTile y = encrypted({1, 1, 1, 1});
  CoutCapture capture;
  expectThrowWithMessage<std::runtime_error>([&] { x.add(y); },
                                             "DebugCiphertext verification error");
  std::ostringstream expected;
  expected << "DebugCiphertext verification error:\n";
  debugOf(x).getC1().debugPrint("c1", VERBOSITY_REGULAR, expected);
  debugOf(x).getC2().debugPrint("c2", VERBOSITY_REGULAR, expected);
  expected << "\nOperation log (beta):\nadd\n\n"
           << "Slot: 2\nc1 value: 4\nc2 value: 4.5\nDifference: 0.5\n"
           << "Difference threshold: 1e-05\n";
  EXPECT_EQ(capture.str(), expected.str());
  // Both halves keep the operation's result and the log keeps its name.
  EXPECT_EQ(firstHalf(x), (std::vector<double>{2, 3, 4, 5, 0, 0, 0, 0}));
  EXPECT_EQ(secondHalf(x), (std::vector<double>{2, 3, 4.5, 5.75, 0, 0, 0, 0}));
  EXPECT_EQ(debugOf(x).getOperationLog(), "add\n");
}

TEST_F(DebugContextTest, ThresholdIsInclusive)
{
  CTile x = diverging({0.5}, {0.25});
  dc.setDiffThreshold(0.25);
  CoutCapture capture;
  x.negate();
  EXPECT_EQ(capture.str(), "");
  dc.setDiffThreshold(std::nextafter(0.25, 0.0));
  EXPECT_THROW(x.negate(), std::runtime_error);
  EXPECT_NE(capture.str().find("Slot: 0\nc1 value: 0.5\nc2 value: 0.25\nDifference: 0.25\n"),
            std::string::npos)
      << capture.str();
}

TEST_F(DebugContextTest, NegativeThresholdSwitchesComparisonsOff)
{
  dc.setDiffThreshold(-1);
  CTile x = diverging({1, 2}, {7, 9});
  CoutCapture capture;
  x.add(x);
  x.square();
  EXPECT_EQ(capture.str(), "");
  EXPECT_EQ(debugOf(x).getOperationLog(), "add\nsquare\n");
  // Values read back are always the first context's.
  EXPECT_EQ(encoder.decryptDecodeDouble(x), (std::vector<double>{4, 16, 0, 0, 0, 0, 0, 0}));
}

TEST_F(DebugContextTest, NotANumberDifferenceFails)
{
  CTile x = diverging({1}, {NAN});
  CoutCapture capture;
  EXPECT_THROW(x.negate(), std::runtime_error);
}

TEST_F(DebugContextTest, VerboseContextPrintsStatisticsOfEveryComparison)
{
  DebugContext verbose(*h1, *h2, 1e-05, true);
  Encoder verboseEncoder(verbose);
  CTile x(verbose);
  verboseEncoder.encodeEncrypt(x, std::vector<double>{1, -3});
  CoutCapture capture;
  x.negate();
  std::vector<double> values = {-1, 3, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
  std::ostringstream expected;
  expected << "After operation negate\n";
  PrintUtils::printDoubleVectorStats(expected, "c1", values);
  PrintUtils::printDoubleVectorStats(expected, "c2", values);
  PrintUtils::printDoubleVectorStats(expected, "diff", std::vector<double>(8, 0.0));
  EXPECT_EQ(capture.str(), expected.str());
}

TEST_F(DebugContextTest, RecordedOperationNames)
{
  PTile p(dc);
  encoder.encode(p, std::vector<double>{1, 2}, 5);
  struct Case
  {
    std::function<void(AbstractCiphertext&, const AbstractCiphertext&)> op;
    std::string name;
  };
  const AbstractPlaintext& plain = p.getImpl();
  std::vector<Case> cases = {
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.add(o); }, "add"},
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.addRaw(o); }, "addRaw"},
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.sub(o); }, "sub"},
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.subRaw(o); }, "subRaw"},
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.multiply(o); }, "multiply"},
      {[](AbstractCiphertext& c, const AbstractCiphertext& o) { c.multiplyRaw(o); },
       "multiplyRaw"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.addPlain(plain); }, "addPlain"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.addPlainRaw(plain); },
       "addPlainRaw"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.subPlain(plain); }, "subPlain"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.subPlainRaw(plain); },
       "subPlainRaw"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyPlain(plain); },
       "multiplyPlain"},
      {[&](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyPlainRaw(plain); },
       "multiplyPlainRaw"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.square(); }, "square"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.squareRaw(); }, "squareRaw"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.addScalar(2); }, "addScalar"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.addScalar(2.5); }, "addScalar"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyScalar(3); },
       "multiplyScalar-int"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyScalar(0.5); },
       "multiplyScalar-double"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.relinearize(); }, "relinearize"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.rescale(); }, "rescale"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.rescaleRaw(); }, "rescaleRaw"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.negate(); }, "negate"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.conjugate(); }, "conjugate"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.conjugateRaw(); }, "conjugate"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.rotate(-3); }, "rotate -3"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.setScale(1024); },
       "set scale 1024.000000"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.setChainIndex(2); },
       "setChainIndex"},
      {[](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyByChangingScale(2.0); },
       "multiplyByChangingScale"},
  };
  for (const Case& testCase : cases) {
    CTile x = encrypted({1, 2});
    CTile y = encrypted({3, 4});
    testCase.op(x.getImpl(), y.getImpl());
    EXPECT_EQ(debugOf(x).getOperationLog(), testCase.name + "\n");
  }
}

TEST_F(DebugContextTest, EachHalfRunsTheOperationWithItsOwnHalfOfTheOperand)
{
  // The halves differ on purpose, so the comparisons are off.
  dc.setDiffThreshold(-1);
  PTile p(dc);
  encoder.encode(p, std::vector<double>{5, 6});
  DebugPlaintext& dp = dynamic_cast<DebugPlaintext&>(p.getImpl());
  h2->getEncoder()->encode(dp.getP2(), std::vector<double>{50, 60}, 5);
  const AbstractPlaintext& plain = dp;
  struct Case
  {
    std::string name;
    std::function<void(AbstractCiphertext&, const AbstractCiphertext&)> op;
    std::vector<double> first;
    std::vector<double> second;
    int chainIndex;
  };
  const std::vector<Case> cases = {
      {"add", [](AbstractCiphertext& c, const AbstractCiphertext& o) { c.add(o); },
       {4, 6, 0, 0, 0, 0, 0, 0}, {40, 60, 0, 0, 0, 0, 0, 0}, 5},
      {"multiply", [](AbstractCiphertext& c, const AbstractCiphertext& o) { c.multiply(o); },
       {3, 8, 0, 0, 0, 0, 0, 0}, {300, 800, 0, 0, 0, 0, 0, 0}, 4},
      {"addPlain", [&](AbstractCiphertext& c, const AbstractCiphertext&) { c.addPlain(plain); },
       {6, 8, 0, 0, 0, 0, 0, 0}, {60, 80, 0, 0, 0, 0, 0, 0}, 5},
      {"multiplyPlainRaw",
       [&](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyPlainRaw(plain); },
       {5, 12, 0, 0, 0, 0, 0, 0}, {500, 1200, 0, 0, 0, 0, 0, 0}, 5},
      {"addScalar(int)", [](AbstractCiphertext& c, const AbstractCiphertext&) { c.addScalar(2); },
       {3, 4, 2, 2, 2, 2, 2, 2}, {12, 22, 2, 2, 2, 2, 2, 2}, 5},
      {"addScalar(double)",
       [](AbstractCiphertext& c, const AbstractCiphertext&) { c.addScalar(0.5); },
       {1.5, 2.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, {10.5, 20.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, 5},
      // The integer product keeps the chain index, the double one consumes one.
      {"multiplyScalar(int)",
       [](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyScalar(3); },
       {3, 6, 0, 0, 0, 0, 0, 0}, {30, 60, 0, 0, 0, 0, 0, 0}, 5},
      {"multiplyScalar(double)",
       [](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyScalar(0.5); },
       {0.5, 1, 0, 0, 0, 0, 0, 0}, {5, 10, 0, 0, 0, 0, 0, 0}, 4},
      {"rotate", [](AbstractCiphertext& c, const AbstractCiphertext&) { c.rotate(-3); },
       {0, 0, 0, 1, 2, 0, 0, 0}, {0, 0, 0, 10, 20, 0, 0, 0}, 5},
      {"setChainIndex",
       [](AbstractCiphertext& c, const AbstractCiphertext&) { c.setChainIndex(2); },
       {1, 2, 0, 0, 0, 0, 0, 0}, {10, 20, 0, 0, 0, 0, 0, 0}, 2},
      {"multiplyByChangingScale",
       [](AbstractCiphertext& c, const AbstractCiphertext&) { c.multiplyByChangingScale(2.0); },
       {2, 4, 0, 0, 0, 0, 0, 0}, {20, 40, 0, 0, 0, 0, 0, 0}, 5},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    CTile x = diverging({1, 2}, {10, 20});
    CTile y = diverging({3, 4}, {30, 40});
    testCase.op(x.getImpl(), y.getImpl());
    EXPECT_EQ(firstHalf(x), testCase.first);
    EXPECT_EQ(secondHalf(x), testCase.second);
    EXPECT_EQ(debugOf(x).getC1().getChainIndex(), testCase.chainIndex);
    EXPECT_EQ(debugOf(x).getC2().getChainIndex(), testCase.chainIndex);
    EXPECT_EQ(secondHalf(y), (std::vector<double>{30, 40, 0, 0, 0, 0, 0, 0}));
  }
  CTile x = encrypted({1, 2});
  x.setScale(1024);
  EXPECT_EQ(debugOf(x).getC1().getScale(), 1024);
  EXPECT_EQ(debugOf(x).getC2().getScale(), 1024);
}

TEST_F(DebugContextTest, CloneStartsANewLog)
{
  CTile x = encrypted({1, 2});
  x.negate();
  CTile y = x;
  EXPECT_EQ(debugOf(y).getOperationLog(), "");
  y.rotate(1);
  y.rotate(-1);
  h2->getEncoder()->encodeEncrypt(debugOf(y).getC2(), std::vector<double>{-1, 9}, 5);
  CoutCapture capture;
  EXPECT_THROW(y.multiplyScalar(3), std::runtime_error);
  EXPECT_NE(capture.str().find("Operation log (beta):\nrotate 1\nrotate -1\nmultiplyScalar-int\n\n"
                               "Slot: 1\n"),
            std::string::npos)
      << capture.str();
  EXPECT_EQ(debugOf(x).getOperationLog(), "negate\n");
}

TEST_F(DebugContextTest, OperandsOfAnotherBackendAreRefusedUnchanged)
{
  CTile x = encrypted({1, 2});
  CTile plain(*h1);
  h1->getEncoder()->encodeEncrypt(plain.getImpl(), std::vector<double>{1}, 5);
  EXPECT_THROW(x.getImpl().add(plain.getImpl()), std::bad_cast);
  PTile p(*h1);
  EXPECT_THROW(x.getImpl().addPlain(p.getImpl()), std::bad_cast);
  // The encoder facade names the problem instead.
  expectThrowWithMessage<std::invalid_argument>([&] { encoder.encrypt(plain, p); },
                                                otherContextMessage(*h1, dc));
  EXPECT_EQ(debugOf(x).getOperationLog(), "");
  EXPECT_EQ(encoder.decryptDecodeDouble(x)[0], 1);
}

TEST_F(DebugContextTest, EncodingFillsBothHalvesAtTheSameChainIndex)
{
  PTile p(dc);
  encoder.encode(p, std::vector<double>{1, 2, 3, 4, 5}, 2);
  DebugPlaintext& dp = dynamic_cast<DebugPlaintext&>(p.getImpl());
  std::vector<double> expected = {1, 2, 3, 4, 5, 0, 0, 0};
  EXPECT_EQ(h1->getEncoder()->decodeDouble(dp.getP1()), expected);
  EXPECT_EQ(h2->getEncoder()->decodeDouble(dp.getP2()), expected);
  EXPECT_EQ(dp.getP1().getChainIndex(), 2);
  EXPECT_EQ(dp.getP2().getChainIndex(), 2);
  EXPECT_EQ(p.getChainIndex(), 2);
  EXPECT_EQ(encoder.decodeDouble(p), expected);
  p.setChainIndex(4);
  EXPECT_EQ(dp.getP2().getChainIndex(), 4);
}

TEST_F(DebugContextTest, SyncRebuildsTheSecondHalfFromTheFirst)
{
  CTile x = diverging({1, 2, 3}, {0, 0, 0});
  debugOf(x).syncC2FromC1();
  EXPECT_EQ(secondHalf(x), firstHalf(x));
  CoutCapture capture;
  x.add(x);
  EXPECT_EQ(capture.str(), "");
}

TEST_F(DebugContextTest, SavedBodyIsBothHalvesOneAfterTheOther)
{
  CTile x = encrypted({1, 2, 3});
  std::ostringstream saved, halves;
  EXPECT_EQ(debugOf(x).save(saved), 2 * (8 + 8 * 16 + 4));
  debugOf(x).getC1().save(halves);
  debugOf(x).getC2().save(halves);
  EXPECT_EQ(saved.str(), halves.str());

  CTile y(dc);
  std::istringstream in(saved.str());
  EXPECT_EQ(debugOf(y).load(in), 2 * (8 + 8 * 16 + 4));
  EXPECT_EQ(debugOf(y).getOperationLog(), "load\n");
  EXPECT_EQ(encoder.decryptDecodeDouble(y), encoder.decryptDecodeDouble(x));
}

TEST(DebugCiphertextPrintTest, MeanErrorsAndBitsWithZeroValues)
{
  ScaledMockupContext m1;
  MockupContext m2;
  m1.init(HeConfigRequirement::insecure(4, 3));
  m2.init(HeConfigRequirement::insecure(4, 3));
  DebugContext dc(m1, m2, 1e-05, false);
  Encoder encoder(dc);
  CTile x(dc);
  encoder.encodeEncrypt(x, std::vector<double>{1, 2, 0, 4});
  DebugCiphertext& d = dynamic_cast<DebugCiphertext&>(x.getImpl());

  std::ostringstream out;
  d.debugPrint("t", VERBOSITY_LOW, out);
  std::ostringstream expected;
  expected << "DebugCiphertext t:";
  d.getC1().debugPrint("c1: t", VERBOSITY_LOW, expected);
  d.getC2().debugPrint("c2: t", VERBOSITY_LOW, expected);
  // A zero value has no logarithm and counts as -1075 bits: (0 + 1 - 1075 + 2) / 4.
  expected << "Mean abs error complex/real/imag        (t): 0/0/0\n"
           << "Mean (used/good) bits complex/real/imag (t): (-268/-268)/(-268/-268)/(0/0)\n";
  EXPECT_EQ(out.str(), expected.str());
}

TEST_F(DebugContextTest, PrintWithoutScaledEncodingShowsMeanErrors)
{
  CTile x = diverging({1, 2}, {1.5, 2});
  std::ostringstream out;
  debugOf(x).debugPrint("", VERBOSITY_NONE, out);
  EXPECT_EQ(out.str(), "DebugCiphertext"
                       "Mean abs error complex/real/imag        (): 0.0625/0.0625/0\n");
}

} // namespace
