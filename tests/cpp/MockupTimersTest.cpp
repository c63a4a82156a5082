#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/MockupPlaintext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;
typedef std::vector<cx> CVec;

/// The timer subtree below a node: "name*count{children}" for each child, in name order.
std::string subtree(const SectionTimer::Node& node)
{
  std::string text;
  for (const auto& child : node.children) {
    if (!text.empty())
      text += ",";
    text += child.first + "*" + std::to_string(child.second.count);
    std::string inner = subtree(child.second);
    if (!inner.empty())
      text += "{" + inner + "}";
  }
  return text;
}

/// A mockup ciphertext that reports itself transparent.
class TransparentCiphertext : public MockupCiphertext
{
public:
  explicit TransparentCiphertext(const MockupContext& he) : MockupCiphertext(he) {}
  bool isTransparent() const override { return true; }
};

class TimerLabels : public ::testing::Test
{
protected:
  std::shared_ptr<MockupContext> he = std::make_shared<MockupContext>();
  std::shared_ptr<AbstractEncoder> encoder;
  int probe = 0;

  void SetUp() override
  {
    he->init(HeConfigRequirement::insecure(4, 5));
    encoder = he->getEncoder();
  }

  std::shared_ptr<MockupCiphertext> encrypt(const CVec& values, int chainIndex) const
  {
    auto c = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
    encoder->encodeEncrypt(*c, values, chainIndex);
    return c;
  }

  std::shared_ptr<MockupPlaintext> encode(const CVec& values, int chainIndex) const
  {
    auto p = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
    encoder->encode(*p, values, chainIndex);
    return p;
  }

  /// Runs f inside a fresh section of its own and returns what it timed there.
  std::string timed(const std::function<void()>& f)
  {
    std::string name = "TimerProbe" + std::to_string(++probe) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    {
      SectionTimer section(name);
      f();
    }
    return subtree(SectionTimer::getRoot().getChild(name));
  }
};

const CVec x = {cx(1, 2), cx(3, -1), cx(-2, 0), cx(0, 0.5)};
const CVec y = {cx(3, -1), cx(1, 0), cx(0, 2), cx(-1, 0)};

} // namespace

TEST_F(TimerLabels, MockupCiphertextOperations)
{
  struct Case
  {
    std::string name;
    std::function<void(MockupCiphertext&, const MockupCiphertext&, const MockupPlaintext&)> run;
    std::string tree;
  };
  const std::string M = "MockupCiphertext::";
  const std::vector<Case> cases = {
      {"add", [](auto& c, auto& o, auto&) { c.add(o); }, M + "add*1{" + M + "addRaw*1}"},
      {"addRaw", [](auto& c, auto& o, auto&) { c.addRaw(o); }, M + "addRaw*1"},
      {"sub", [](auto& c, auto& o, auto&) { c.sub(o); }, M + "sub*1{" + M + "subRaw*1}"},
      {"subRaw", [](auto& c, auto& o, auto&) { c.subRaw(o); }, M + "subRaw*1"},
      // relinearize and rescale are not timed
      {"multiply", [](auto& c, auto& o, auto&) { c.multiply(o); },
       M + "multiply*1{" + M + "multiplyRaw*1}"},
      {"multiplyRaw", [](auto& c, auto& o, auto&) { c.multiplyRaw(o); }, M + "multiplyRaw*1"},
      {"addPlain", [](auto& c, auto&, auto& p) { c.addPlain(p); },
       M + "addPlain*1{" + M + "addPlainRaw*1}"},
      {"addPlainRaw", [](auto& c, auto&, auto& p) { c.addPlainRaw(p); }, M + "addPlainRaw*1"},
      {"subPlain", [](auto& c, auto&, auto& p) { c.subPlain(p); },
       M + "subPlain*1{" + M + "subPlainRaw*1}"},
      {"subPlainRaw", [](auto& c, auto&, auto& p) { c.subPlainRaw(p); }, M + "subPlainRaw*1"},
      {"multiplyPlain", [](auto& c, auto&, auto& p) { c.multiplyPlain(p); },
       M + "multiplyPlain*1{" + M + "multiplyPlainRaw*1}"},
      {"multiplyPlainRaw", [](auto& c, auto&, auto& p) { c.multiplyPlainRaw(p); },
       M + "multiplyPlainRaw*1"},
      {"square", [](auto& c, auto&, auto&) { c.square(); }, M + "square*1{" + M + "squareRaw*1}"},
      {"squareRaw", [](auto& c, auto&, auto&) { c.squareRaw(); }, M + "squareRaw*1"},
      {"multiplyScalar(int)", [](auto& c, auto&, auto&) { c.multiplyScalar(3); },
       M + "multiplyScalar(int)*1"},
      {"negate", [](auto& c, auto&, auto&) { c.negate(); }, M + "negate*1"},
      {"relinearize", [](auto& c, auto&, auto&) { c.relinearize(); }, ""},
      {"rescale", [](auto& c, auto&, auto&) { c.rescale(); }, ""},
      {"rescaleRaw", [](auto& c, auto&, auto&) { c.rescaleRaw(); }, ""},
      {"setChainIndex", [](auto& c, auto&, auto&) { c.setChainIndex(1); }, ""},
      {"rotate", [](auto& c, auto&, auto&) { c.rotate(1); }, M + "rotate*1"},
      {"conjugate", [](auto& c, auto&, auto&) { c.conjugate(); }, M + "conjugate*1"},
      {"conjugateRaw", [](auto& c, auto&, auto&) { c.conjugateRaw(); }, M + "conjugate*1"},
      {"multiplyByChangingScale", [](auto& c, auto&, auto&) { c.multiplyByChangingScale(2); },
       M + "multiplyByChangingScale*1"},
      {"clone", [](auto& c, auto&, auto&) { c.clone(); }, M + "doClone*1"},
      {"save", [](auto& c, auto&, auto&) {
         std::ostringstream out;
         c.save(out);
       },
       M + "save*1"},
      // The leaf does not enter a section: the passes' steps are its siblings.
      {"innerSum", [](auto& c, auto&, auto&) { c.innerSum(1, 4, false); },
       M + "add*2{" + M + "addRaw*2}," + M + "doClone*2," + M + "innerSum*1," + M +
           "rotate*2"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    auto c = encrypt(x, 3);
    auto other = encrypt(y, 3);
    auto plain = encode(y, 3);
    EXPECT_EQ(timed([&] { tc.run(*c, *other, *plain); }), tc.tree);
  }
}

TEST_F(TimerLabels, MockupLoadAndPlaintextOperations)
{
  auto c = encrypt(x, 3);
  std::ostringstream out;
  c->save(out);
  auto loaded = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  EXPECT_EQ(timed([&] {
              std::istringstream in(out.str());
              loaded->load(in);
            }),
            "MockupCiphertext::load*1");
  EXPECT_EQ(loaded->getRawValues(), x);
  // Plaintext copies, saves, loads and encoder calls are not timed.
  auto p = encode(x, 2);
  EXPECT_EQ(timed([&] {
              std::ostringstream pout;
              p->clone()->save(pout);
              std::istringstream pin(pout.str());
              encode(y, 1)->load(pin);
              encoder->decryptDecodeComplex(*c);
              encoder->decodeDouble(*p);
            }),
            "");
}

TEST_F(TimerLabels, InterfaceDefaults)
{
  const std::string A = "AbstractCiphertext::";
  const std::string M = "MockupCiphertext::";
  const std::string multiplyPlain = M + "multiplyPlain*1{" + M + "multiplyPlainRaw*1}";
  struct Case
  {
    std::string name;
    std::function<void(MockupCiphertext&)> run;
    std::string tree;
  };
  const std::vector<Case> cases = {
      {"addScalar(int)", [](auto& c) { c.addScalar(2); },
       A + "addScalar(int)*1{" + M + "addPlain*1{" + M + "addPlainRaw*1}}"},
      {"addScalar(double)", [](auto& c) { c.addScalar(2.5); },
       A + "addScalar(double)*1{" + M + "addPlain*1{" + M + "addPlainRaw*1}}"},
      {"multiplyScalar(double)", [](auto& c) { c.multiplyScalar(2.5); },
       A + "multiplyScalar(double)*1{" + multiplyPlain + "}"},
      {"multiplyScalar(int) default", [](auto& c) { c.AbstractCiphertext::multiplyScalar(2); },
       A + "multiplyScalar(int)*1{" + multiplyPlain + "}"},
      {"multiplyImaginaryUnit", [](auto& c) { c.multiplyImaginaryUnit(); },
       A + "multiplyImaginaryUnit*1{" + multiplyPlain + "}"},
      {"nullifyImaginaryPart", [](auto& c) { c.nullifyImaginaryPart(); },
       A + "nullifyImaginaryPart*1{" + A + "multiplyScalar(double)*1{" + multiplyPlain + "}," +
           M + "add*1{" + M + "addRaw*1}," + M + "conjugate*1," + M + "doClone*1}"},
      {"innerSum default", [](auto& c) { c.AbstractCiphertext::innerSum(1, 4, false); },
       A + "innerSum*1{" + M + "add*2{" + M + "addRaw*2}," + M + "doClone*2," + M +
           "rotate*2}"},
      // The one-argument form opens no section: the mockup's own form runs.
      {"innerSum(n)", [](auto& c) { c.AbstractCiphertext::innerSum(4); },
       M + "add*2{" + M + "addRaw*2}," + M + "doClone*2," + M + "innerSum*1," + M +
           "rotate*2"},
      {"multiplyByChangingScale default",
       [](auto& c) { c.AbstractCiphertext::multiplyByChangingScale(2.0); },
       A + "multiplyByChangingScale*1"},
      // n = 2: the original is cloned, then one pass with its own clone.
      {"sumExpBySquaringLeftToRight", [](auto& c) { c.sumExpBySquaringLeftToRight(2); },
       A + "sumExpBySquaringLeftToRight*1{" + M + "add*1{" + M + "addRaw*1}," + M +
           "doClone*2," + M + "rotate*1}"},
      {"sumExpBySquaringRightToLeft", [](auto& c) { c.sumExpBySquaringRightToLeft(2); },
       A + "sumExpBySquaringRightToLeft*1{" + M + "add*1{" + M + "addRaw*1}," + M +
           "doClone*1," + M + "rotate*1}"},
      {"encryptZeroIfTransparent", [](auto& c) { c.encryptZeroIfTransparent(); },
       A + "encryptZeroIfTransparent*1"},
      {"debugPrint", [](auto& c) {
         std::ostringstream out;
         c.debugPrint("t", VERBOSITY_REGULAR, out);
       },
       A + "debugPrint*1"},
      {"reduceChainIndex", [](auto& c) { c.reduceChainIndex(); }, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    auto c = encrypt(x, 3);
    EXPECT_EQ(timed([&] { tc.run(*c); }), tc.tree);
  }
  auto p = encode(x, 3);
  EXPECT_EQ(timed([&] {
              std::ostringstream out;
              p->debugPrint("p", VERBOSITY_REGULAR, out);
              p->debugPrint("p", VERBOSITY_NONE, out);
            }),
            "AbstractPlaintext::debugPrint*2");
}

TEST_F(TimerLabels, TransparentCiphertextIsReencryptedAsZero)
{
  TransparentCiphertext c(*he);
  encoder->encodeEncrypt(c, x, 3);
  c.setScale(8.0);
  he->startOperationCountTrack();
  std::string tree = timed([&] { c.encryptZeroIfTransparent(); });
  EXPECT_EQ(tree, "AbstractCiphertext::encryptZeroIfTransparent*1{"
                  "AbstractCiphertext::encryptZeroIfTransparent - isTransparent True*1}");
  EXPECT_EQ(c.getRawValues(), CVec(4, cx(0, 0)));
  EXPECT_EQ(c.getChainIndex(), 3);
  EXPECT_EQ(c.getScale(), 8.0);
  // A fresh encoding and encryption at the ciphertext's own chain index.
  EXPECT_EQ(he->getRunStats()->getCount(RunStats::ENCODE, 3), 1);
  EXPECT_EQ(he->getRunStats()->getCount(RunStats::ENCRYPT, 3), 1);
}

// ---- Counters per chain index through whole computations ----

TEST_F(TimerLabels, CountsLandAtTheChainIndexBeforeEachOperation)
{
  he->startOperationCountTrack();
  auto a = encrypt(x, 5);
  auto b = encrypt(y, 5);
  a->multiply(*b); // at 5, then 4
  a->square();     // at 4, then 3
  auto p = encode(y, 3);
  a->multiplyPlain(*p); // at 3, then 2
  a->rotate(-3);
  const RunStats& stats = *he->getRunStats();
  EXPECT_EQ(stats.getCount(RunStats::ENCODE, 5), 2);
  EXPECT_EQ(stats.getCount(RunStats::ENCRYPT, 5), 2);
  EXPECT_EQ(stats.getCount(RunStats::MULTIPLY_RAW, 5), 1);
  EXPECT_EQ(stats.getCount(RunStats::RELINEARIZE, 5), 1);
  EXPECT_EQ(stats.getCount(RunStats::RESCALE_RAW, 5), 1);
  EXPECT_EQ(stats.getCount(RunStats::SQUARE_RAW, 4), 1);
  EXPECT_EQ(stats.getCount(RunStats::RELINEARIZE, 4), 1);
  EXPECT_EQ(stats.getCount(RunStats::RESCALE_RAW, 4), 1);
  EXPECT_EQ(stats.getCount(RunStats::ENCODE, 3), 1);
  EXPECT_EQ(stats.getCount(RunStats::MULTIPLY_PLAIN_RAW, 3), 1);
  EXPECT_EQ(stats.getCount(RunStats::RESCALE_RAW, 3), 1);
  EXPECT_EQ(stats.getCount(RunStats::ROTATE, 2), 1);
  // Chain indexes seen: encodings at 5 and 3, and the rescaled ones down to 2.
  EXPECT_EQ(stats.getMinChainIndex(), 2);
  EXPECT_EQ(stats.getMaxChainIndex(), 5);
  EXPECT_EQ(stats.getRotations(), std::set<int>{-3});
  std::ostringstream out;
  he->getStatsAndClear(out);
  EXPECT_EQ(out.str(), "Run stats\n"
                       "encode         :    3\n"
                       "encrypt        :    2\n"
                       "relinearize    :    2\n"
                       "rotate         :    1\n"
                       "multiply       :    1\n"
                       "multiplyPlain  :    1\n"
                       "square         :    1\n"
                       "rescale        :    3\n");
}

// ---- Automatic bootstrapping without bootstrapping ----

TEST(MockupInit, AutomaticBootstrappingWithoutBootstrappingIsRefusedBeforeAnyChange)
{
  MockupContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  req.automaticBootstrapping = true;
  try {
    he.init(req);
    FAIL() << "init accepted automatic bootstrapping without bootstrapping";
  } catch (const assert_error& e) {
    std::string message = e.what();
    EXPECT_NE(message.find(": init: Assertion failed: !getAutomaticBootstrapping() "
                           "Automatic bootstrapping requires a bootstrappable requirement"),
              std::string::npos)
        << message;
  }
  EXPECT_FALSE(he.isInitialized());
  EXPECT_FALSE(he.hasSecretKey());
  EXPECT_FALSE(he.getAutomaticBootstrapping());
  // Through the registry the clone is dropped and the same refusal reaches the caller.
  EXPECT_THROW(HeContext::create("Mockup_Mockup", req), assert_error);
  req.bootstrappable = true;
  req.bootstrapConfig = BootstrapConfig();
  he.init(req);
  EXPECT_TRUE(he.getAutomaticBootstrapping());
  EXPECT_EQ(he.getMinChainIndexForBootstrapping(), 0);
  EXPECT_EQ(he.getChainIndexAfterBootstrapping(), 4);
}

// ---- Printouts with the traits the mockup context does not set ----

TEST(MockupPrint, ScaledEncodingAddsLogScaleAndBitUsage)
{
  ScaledMockupContext he;
  he.init(HeConfigRequirement::insecure(4, 5));
  auto encoder = he.getEncoder();
  encoder->setDefaultScale(8.0);
  auto c = he.createAbstractCiphertext();
  encoder->encodeEncrypt(*c, x, 3);
  const double m = std::abs(cx(3, -1));

  std::ostringstream low;
  c->debugPrint("t", VERBOSITY_LOW, low);
  EXPECT_EQ(low.str(), "CTile t: CI=3, logscale=3 ");

  std::ostringstream regular;
  c->debugPrint("t", VERBOSITY_REGULAR, regular);
  std::ostringstream expected;
  expected << "CTile t: CI=3, logscale=3 , bit usage=" << std::log2(8.0 * m) << ", max value=";
  PrintUtils::printDouble(expected, m);
  expected << "\n";
  PrintUtils::printComplexVector(expected, x);
  expected << "\n";
  EXPECT_EQ(regular.str(), expected.str());

  auto p = he.createAbstractPlaintext();
  encoder->encode(*p, x, 2);
  std::ostringstream plain;
  p->debugPrint("", VERBOSITY_DETAILED, plain);
  std::ostringstream expectedPlain;
  expectedPlain << "PTile CI=2, logscale=3 , bit usage=" << std::log2(8.0 * m)
                << ", max value=" << m << "\n";
  PrintUtils::printComplexVector(expectedPlain, x);
  expectedPlain << "\n";
  EXPECT_EQ(plain.str(), expectedPlain.str());
}

TEST(MockupPrint, WithoutChainIndexesOrScaleOnlyTheMaximumFollowsTheTitle)
{
  NoChainIndexMockupContext he;
  he.init(HeConfigRequirement::insecure(4, 5));
  auto encoder = he.getEncoder();
  auto c = he.createAbstractCiphertext();
  encoder->encodeEncrypt(*c, CVec{cx(-2, 0)}, 3);
  EXPECT_EQ(c->getChainIndex(), -1);
  std::ostringstream low;
  c->debugPrint("t", VERBOSITY_LOW, low);
  EXPECT_EQ(low.str(), "CTile t:");
  std::ostringstream regular;
  c->debugPrint("", VERBOSITY_REGULAR, regular);
  std::ostringstream expected;
  expected << "CTile max value=";
  PrintUtils::printDouble(expected, 2.0);
  expected << "\n";
  PrintUtils::printComplexVector(expected, CVec{cx(-2, 0), 0, 0, 0});
  expected << "\n";
  EXPECT_EQ(regular.str(), expected.str());
}

TEST(MockupPrint, MultiPartyCiphertextsAreNotDecrypted)
{
  MockupContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(4, 5);
  MultiPartyConfig config;
  config.keyOwnersIds = {5, 9, 12};
  req.multiPartyConfig = config;
  he.init(req);
  EXPECT_EQ(he.getContextId(), 5 ^ 9 ^ 12);
  EXPECT_TRUE(he.isMultiParty());
  auto encoder = he.getEncoder();
  auto c = he.createAbstractCiphertext();
  encoder->encodeEncrypt(*c, x, 2);
  he.startOperationCountTrack();
  std::ostringstream out;
  c->debugPrint("mp", VERBOSITY_REGULAR, out);
  EXPECT_EQ(out.str(), "CTile mp: CI=2 MULTI KEY\n");
  EXPECT_EQ(he.getRunStats()->getTotalCount(RunStats::DECRYPT), 0);
}
