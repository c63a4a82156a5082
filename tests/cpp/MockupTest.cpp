#include <gtest/gtest.h>

#include <climits>
#include <complex>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/MockupEncoder.h"
#include "hebase/impl/MockupProtocolMessage.h"
#include "hebase/mockup/MockupMultiPartyUtils.h"
#include "hebase/mockup/MockupPlaintext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;
typedef std::vector<cx> CVec;

/// Counts per operation code at one chain index.
typedef std::map<int, int> Counts;

/// A mockup context whose backend combines operands of any chain index.
class ManagedMockupContext : public MockupContext
{
public:
  ManagedMockupContext() { traits.setAutomaticallyManagesChainIndices(true); }
};

/// A mockup context without a secret key.
class KeylessMockupContext : public MockupContext
{
public:
  bool hasSecretKey() const override { return false; }
};

/// A plaintext of another backend.
class ForeignPlaintext : public AbstractPlaintext
{
public:
  explicit ForeignPlaintext(const HeContext& he) : AbstractPlaintext(he) {}
  std::shared_ptr<AbstractPlaintext> doClone() const override { return nullptr; }
  int64_t save(std::ostream&) const override { return 0; }
  int64_t load(std::istream&) override { return 0; }
  void setChainIndex(int) override {}
  int getChainIndex() const override { return 0; }
  void setScale(double) override {}
  double getScale() const override { return 1; }
  int slotCount() const override { return he.slotCount(); }
};

/// Mockup objects that report the other device.
class GpuCiphertext : public MockupCiphertext
{
public:
  explicit GpuCiphertext(const MockupContext& he) : MockupCiphertext(he) {}
  DeviceType getCurrentDevice() const override { return DEVICE_GPU; }
};

class GpuPlaintext : public MockupPlaintext
{
public:
  explicit GpuPlaintext(const MockupContext& he) : MockupPlaintext(he) {}
  DeviceType getCurrentDevice() const override { return DEVICE_GPU; }
};

/// A plaintext of another backend on the other device.
class ForeignGpuPlaintext : public ForeignPlaintext
{
public:
  using ForeignPlaintext::ForeignPlaintext;
  DeviceType getCurrentDevice() const override { return DEVICE_GPU; }
};

class MockupTest : public ::testing::Test
{
protected:
  std::shared_ptr<MockupContext> he;
  std::shared_ptr<AbstractEncoder> encoder;

  void SetUp() override { makeContext(std::make_shared<MockupContext>(), 4, 5); }

  void makeContext(std::shared_ptr<MockupContext> context, int slots, int depth)
  {
    he = context;
    he->init(HeConfigRequirement::insecure(slots, depth));
    he->startOperationCountTrack();
    encoder = he->getEncoder();
  }

  std::shared_ptr<MockupPlaintext> encode(const CVec& values, int chainIndex) const
  {
    auto p = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
    encoder->encode(*p, values, chainIndex);
    return p;
  }

  std::shared_ptr<MockupCiphertext> encrypt(const CVec& values, int chainIndex) const
  {
    auto c = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
    encoder->encodeEncrypt(*c, values, chainIndex);
    return c;
  }

  int count(int code, int chainIndex) const
  {
    return he->getRunStats()->getCount(code, chainIndex);
  }

  /// Every counter at the chain index, and no count at any other.
  void expectCounts(const Counts& expected, int chainIndex) const
  {
    for (int code = 0; code < RunStats::NUM_OPERATIONS; ++code) {
      int want = expected.count(code) ? expected.at(code) : 0;
      EXPECT_EQ(count(code, chainIndex), want)
          << RunStats::getOperationNames()[code] << " at " << chainIndex;
      EXPECT_EQ(he->getRunStats()->getTotalCount(code), want)
          << RunStats::getOperationNames()[code];
    }
  }

  void resetCounts() { he->getRunStats()->clear(); }
};

const CVec x = {cx(1, 2), cx(3, -1), cx(-2, 0), cx(0, 0.5)};
const CVec y = {cx(3, -1), cx(1, 0), cx(0, 2), cx(-1, 0)};

CVec zip(const CVec& a, const CVec& b, const std::function<cx(cx, cx)>& f)
{
  CVec r;
  for (size_t i = 0; i < a.size(); ++i)
    r.push_back(f(a[i], b[i]));
  return r;
}

CVec map(const CVec& a, const std::function<cx(cx)>& f) { return zip(a, a, [&](cx v, cx) { return f(v); }); }

CVec range(int n)
{
  CVec r;
  for (int i = 0; i < n; ++i)
    r.push_back(cx(i, 0));
  return r;
}

/// Slot i holds the sum of the n values from slot i on (cyclic).
CVec windowSums(const CVec& a, int n)
{
  CVec r(a.size());
  for (size_t i = 0; i < a.size(); ++i)
    for (int k = 0; k < n; ++k)
      r[i] += a[(i + k) % a.size()];
  return r;
}

void expectValues(const CVec& actual, const CVec& expected, double eps = 1e-12)
{
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_LE(std::abs(actual[i] - expected[i]), eps)
        << "slot " << i << ": " << actual[i] << " vs " << expected[i];
}

} // namespace

// ---- The context ----

TEST(MockupContext, CreatedThroughRegistry)
{
  std::shared_ptr<HeContext> he =
      HeContext::create("Mockup_Mockup", HeConfigRequirement::insecure(16, 5));
  EXPECT_TRUE(he->isInitialized());
  EXPECT_EQ(he->slotCount(), 16);
  EXPECT_EQ(he->getTopChainIndex(), 5);
  EXPECT_TRUE(he->hasSecretKey());
  EXPECT_EQ(he->getSecurityLevel(), 0);
  EXPECT_EQ(he->getSignature(), "Mockup_DEG32_D5");
  EXPECT_EQ(he->getLibraryName(), "Mockup");
  EXPECT_EQ(he->getSchemeName(), "Mockup");
  EXPECT_EQ(he->getMaxAllowedValues(), std::vector<double>(6, 100.0));
  EXPECT_EQ(he->getDefaultScale(), 1.0);
  for (int k : {0, 3, 17})
    EXPECT_EQ(he->getAccurateScale(k), he->getDefaultScale());
  he->setDefaultScale(1024);
  EXPECT_EQ(he->getAccurateScale(2), 1024);
  PublicFunctions custom;
  custom.rotate = CUSTOM_ROTATIONS;
  custom.rotationSteps = {3};
  EXPECT_TRUE(he->publicFunctionsSupported(custom));
  EXPECT_EQ(MockupContext().getSignature(), "Mockup_DEG-2_D-1");
}

TEST(MockupContext, ConstructorTraits)
{
  MockupContext he;
  const HeTraits& t = he.getTraits();
  EXPECT_TRUE(t.getSupportsCKKSBootstrapping());
  EXPECT_TRUE(t.getSupportsModSwitch());
  EXPECT_TRUE(t.getAutomaticallyManagesRescale());
  EXPECT_TRUE(t.getSupportsExplicitChainIndices());
  EXPECT_TRUE(t.getSupportsComplexNumbers());
  EXPECT_TRUE(t.getSupportsValuesLimitation());
  EXPECT_TRUE(t.getSupportsBsValuesLimitation());
  EXPECT_TRUE(t.getUsesDefaultScale());
  EXPECT_FALSE(t.getAutomaticallyManagesChainIndices());
  EXPECT_FALSE(t.getSupportsBootstrapping());
  EXPECT_FALSE(t.getSupportsExplicitRescale());
  EXPECT_FALSE(t.getSupportsScaledEncoding());
  EXPECT_FALSE(t.getSupportsSecKeySeed());
  EXPECT_FALSE(t.getIsDebugEmpty());
  EXPECT_EQ(t.getArithmeticModulus(), 0u);
  EXPECT_FALSE(he.isInitialized());
  EXPECT_FALSE(he.hasSecretKey());
}

TEST(MockupContext, CloneIsUninitialised)
{
  MockupContext he;
  he.init(HeConfigRequirement::insecure(8, 2));
  std::shared_ptr<HeContext> copy = he.clone();
  ASSERT_NE(dynamic_cast<MockupContext*>(copy.get()), nullptr);
  EXPECT_FALSE(copy->isInitialized());
  EXPECT_FALSE(copy->hasSecretKey());
  EXPECT_TRUE(copy->getTraits().getSupportsValuesLimitation());
  copy->init(HeConfigRequirement::insecure(4, 1));
  EXPECT_EQ(copy->slotCount(), 4);
  EXPECT_NE(copy->getContextId(), he.getContextId());
}

TEST(MockupContext, InitRefusals)
{
  MockupContext he;
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.init(HeConfigRequirement(16, 5, 40, 10)); },
      "Given configuration requirement is not feasible");
  // Feasibility is checked first.
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.init(HeConfigRequirement(0, -1, 40, 10)); },
      "Given configuration requirement is not feasible");
  const std::vector<std::pair<HeConfigRequirement, std::string>> cases = {
      {HeConfigRequirement::insecure(0, 3),
       "MockupContext requires at least 1 slot, but the requirement asks for 0"},
      {HeConfigRequirement::insecure(-1, 3),
       "MockupContext requires at least 1 slot, but the requirement asks for -1"},
      {HeConfigRequirement::insecure(8, -1),
       "MockupContext requires a non-negative multiplication depth, but the requirement asks "
       "for -1"},
      {HeConfigRequirement::insecure(8, -7),
       "MockupContext requires a non-negative multiplication depth, but the requirement asks "
       "for -7"},
  };
  for (const auto& c : cases)
    expectThrowWithMessage<std::invalid_argument>([&] { he.init(c.first); }, c.second);
  EXPECT_FALSE(he.isInitialized());
  EXPECT_FALSE(he.hasSecretKey());
  he.init(HeConfigRequirement::insecure(1, 0));
  EXPECT_TRUE(he.isInitialized());
  EXPECT_EQ(he.slotCount(), 1);
  EXPECT_EQ(he.getTopChainIndex(), 0);
}

TEST(MockupContext, BootstrappableNeedsAConfiguration)
{
  MockupContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 5);
  req.bootstrappable = true;
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.init(req); }, "getBootstrapChainIndexes given HeConfigRequirement is not implemented");
  EXPECT_FALSE(he.isInitialized());
}

TEST(MockupContext, BootstrapChainIndexesOfDefaultConfiguration)
{
  MockupContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 5);
  req.bootstrappable = true;
  req.bootstrapConfig = BootstrapConfig();
  he.init(req);
  EXPECT_EQ(he.getMinChainIndexForBootstrapping(), 0);
  EXPECT_EQ(he.getChainIndexAfterBootstrapping(), 4);
  EXPECT_EQ(he.getBootstrapConfig().minChainIndexForBootstrapping, 0);
  EXPECT_EQ(he.getBootstrapConfig().targetChainIndex, 4);
  EXPECT_EQ(he.getMaxAllowedBsValue(), 1.0);
  he.setMaxAllowedBsValue(3.5);
  EXPECT_EQ(he.getMaxAllowedBsValue(), 3.5);
}

TEST(MockupContext, QueriesNeedInitialisationAndBootstrapping)
{
  MockupContext he;
  const std::string notInitialized = "HE context has not been initialized yet";
  expectThrowWithMessage<std::runtime_error>([&] { he.getMaxAllowedValues(); }, notInitialized);
  expectThrowWithMessage<std::runtime_error>([&] { he.getMaxAllowedBsValue(); }, notInitialized);
  expectThrowWithMessage<std::runtime_error>([&] { he.getMinChainIndexForBootstrapping(); },
                                             notInitialized);
  expectThrowWithMessage<std::runtime_error>([&] { he.getChainIndexAfterBootstrapping(); },
                                             notInitialized);
  he.init(HeConfigRequirement::insecure(8, 2));
  expectAssertion([&] { he.getMaxAllowedBsValue(); }, "getBootstrappable()");
  expectAssertion([&] { he.getMinChainIndexForBootstrapping(); }, "getBootstrappable()");
  expectAssertion([&] { he.getChainIndexAfterBootstrapping(); }, "getBootstrappable()");
  he.setMaxAllowedValues({1, 2, 3});
  EXPECT_EQ(he.getMaxAllowedValues(), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(he.getMaxAllowedValue(2, 0), 3);
}

TEST(MockupContext, SecretKeyStateRefusals)
{
  MockupContext uninitialised;
  std::ostringstream out;
  expectThrowWithMessage<std::runtime_error>([&] { uninitialised.saveSecretKey(out); },
                                             "this HeContext does not have a secret key");
  MockupContext he;
  he.init(HeConfigRequirement::insecure(8, 2));
  std::istringstream in("anything");
  expectThrowWithMessage<std::runtime_error>([&] { he.loadSecretKey(in); },
                                             "this HeContext already has a secret key");
  EXPECT_EQ(in.tellg(), 0);
}

TEST(MockupContext, ModulusChain)
{
  MockupContext he;
  EXPECT_TRUE(he.getModulusChain()->empty());
  auto chain = std::make_shared<std::vector<uint64_t>>(std::vector<uint64_t>{7, 11, 13});
  he.setModulusChain(chain);
  chain->push_back(17);
  EXPECT_EQ(*he.getModulusChain(), (std::vector<uint64_t>{7, 11, 13}));
  he.getModulusChain()->clear();
  EXPECT_EQ(he.getModulusChain()->size(), 3u);
}

TEST(MockupContext, MultiPartyUtilsFillTheirOwnPointer)
{
  MockupContext he;
  const MockupContext& constHe = he;
  auto readOnly = std::dynamic_pointer_cast<MockupMultiPartyUtils>(constHe.getMultiPartyUtils());
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(readOnly->getConstContext(), &he);
  EXPECT_EQ(readOnly->getContext(), nullptr);
  auto mutating = std::dynamic_pointer_cast<MockupMultiPartyUtils>(he.getMultiPartyUtils());
  ASSERT_NE(mutating, nullptr);
  EXPECT_EQ(mutating->getContext(), &he);
  EXPECT_EQ(mutating->getConstContext(), nullptr);
  EXPECT_NE(he.getMultiPartyUtils(), he.getMultiPartyUtils());
  // The context is not multi-party: protocols refuse it, messages do not.
  const std::string notMultiParty = "This HE context is not multi-party";
  expectThrowWithMessage<std::runtime_error>([&] { mutating->createInitProtocol(); },
                                             notMultiParty);
  expectThrowWithMessage<std::runtime_error>([&] { readOnly->createDecryptProtocol(); },
                                             notMultiParty);
  expectThrowWithMessage<std::runtime_error>(
      [&] { readOnly->createInitProtocol(); },
      "MockupMultiPartyUtils::createInitProtocol - the initialisation protocol changes its "
      "context and needs a non-const one");
  auto message = readOnly->createProtocolMessage();
  ASSERT_NE(std::dynamic_pointer_cast<MockupProtocolMessage>(message), nullptr);
  EXPECT_EQ(&message->getHeContext(), &he);
}

TEST(MockupContext, ValueTracking)
{
  MockupContext he;
  he.init(HeConfigRequirement::insecure(4, 3));
  he.trackValues({cx(100, 0)}, 7); // off: nothing happens
  EXPECT_TRUE(he.getObservedMaxValues().empty());
  he.startValuesTracking();
  EXPECT_EQ(he.getObservedMaxValues(), std::vector<double>(4, -1.0));
  auto encoder = he.getEncoder();
  auto c = he.createAbstractCiphertext();
  encoder->encodeEncrypt(*c, CVec{cx(3, 4), cx(1, 0)}, 3);
  EXPECT_EQ(he.getObservedMaxValues()[3], 5.0);
  c->multiplyScalar(2);
  EXPECT_EQ(he.getObservedMaxValues()[3], 10.0);
  c->setChainIndex(1);
  EXPECT_EQ(he.getObservedMaxValues()[1], 10.0);
  EXPECT_EQ(he.getObservedMaxValues()[2], -1.0);
  EXPECT_THROW(he.trackValues({cx(1, 0)}, 4), std::out_of_range);
  EXPECT_THROW(he.trackValues({cx(1, 0)}, -1), std::out_of_range);

  he.trackBsValues({cx(9, 0)});
  EXPECT_EQ(he.getObservedMaxBsValue(), -1.0);
  he.startBsValuesTracking();
  he.trackBsValues({cx(0, 2), cx(-1, 0)});
  he.trackBsValues({cx(1, 0)});
  EXPECT_EQ(he.getObservedMaxBsValue(), 2.0);
}

// ---- Encoder ----

TEST_F(MockupTest, EncodePadsWithZerosAndRecordsState)
{
  he->setDefaultScale(16);
  auto enc = he->getEncoder();
  EXPECT_EQ(enc->getDefaultScale(0), 16);
  enc->setDefaultDevice(DEVICE_GPU);
  auto p = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  EXPECT_EQ(p->getChainIndex(), -1);
  enc->encode(*p, CVec{cx(1, 1), cx(2, 0)}, 3);
  expectValues(p->getRawValues(), {cx(1, 1), cx(2, 0), 0, 0});
  EXPECT_EQ(p->getChainIndex(), 3);
  EXPECT_EQ(p->getScale(), 16);
  EXPECT_EQ(p->getCurrentDevice(), DEVICE_CPU); // the stored device is not reported
  expectCounts({{RunStats::ENCODE, 1}}, 3);
  EXPECT_EQ(he->getRunStats()->getMinChainIndex(), 3);

  enc->encode(*p, std::vector<double>{-1.5}, 2);
  expectValues(p->getRawValues(), {cx(-1.5, 0), 0, 0, 0});
  enc->encode(*p, 7, 1);
  expectValues(p->getRawValues(), CVec(4, cx(7, 0)));
  enc->encode(*p, 0.25, 1);
  expectValues(p->getRawValues(), CVec(4, cx(0.25, 0)));
  enc->encode(*p, std::vector<int>{1, -2}, 1);
  expectValues(p->getRawValues(), {cx(1, 0), cx(-2, 0), 0, 0});
  enc->encode(*p, std::vector<long>{5000000000L}, 1);
  expectValues(p->getRawValues(), {cx(5e9, 0), 0, 0, 0});
  EXPECT_EQ(he->getRunStats()->getMaxChainIndex(), 3);
  EXPECT_EQ(he->getRunStats()->getMinChainIndex(), 1);
}

TEST_F(MockupTest, EncodingTooManyValuesFailsTheAssertion)
{
  auto p = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  expectAssertion([&] { encoder->encode(*p, CVec(5, cx(1, 0)), 2); },
                  "p.rawVals.size() == p.slotCount()");
  EXPECT_EQ(p->getRawValues().size(), 5u);
  EXPECT_EQ(count(RunStats::ENCODE, 2), 0);
}

TEST_F(MockupTest, EncoderScaleOperations)
{
  he->setDefaultScale(8);
  auto enc = he->getEncoder();
  enc->setDefaultScale(3);
  EXPECT_EQ(enc->getDefaultScale(0), 3);
  EXPECT_EQ(enc->getDefaultScale(5), 3);
  enc->restoreDefaultScale();
  EXPECT_EQ(enc->getDefaultScale(1), 1.0);
  enc->setDecryptAddedNoiseEnabled(false);
  EXPECT_FALSE(enc->getDecryptAddedNoiseEnabled());
  expectThrowWithMessage<std::runtime_error>([&] { enc->setDecryptAddedNoiseEnabled(true); },
                                             "Enabling decrypt added noise not supported");
  expectThrowWithMessage<std::runtime_error>([&] { enc->setDecryptAddedNoisePrecision(3); },
                                             "Decrypt added noise precision not supported");
  expectThrowWithMessage<std::runtime_error>([&] { enc->getDecryptAddedNoisePrecision(); },
                                             "Decrypt added noise precision not supported");
  EXPECT_EQ(&enc->getHeContext(), he.get());
}

TEST_F(MockupTest, EncryptDecryptAndDecodeCopyValues)
{
  auto p = encode(x, 4);
  p->setScale(5);
  auto c = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  EXPECT_TRUE(c->isEmpty());
  EXPECT_EQ(c->getChainIndex(), -1);
  resetCounts();
  encoder->encrypt(*c, *p);
  EXPECT_FALSE(c->isEmpty());
  expectValues(c->getRawValues(), x);
  EXPECT_EQ(c->getChainIndex(), 4);
  EXPECT_EQ(c->getScale(), 5);
  auto q = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  encoder->decrypt(*q, *c);
  expectValues(q->getRawValues(), x);
  EXPECT_EQ(q->getChainIndex(), 4);
  EXPECT_EQ(q->getScale(), 5);
  expectValues(encoder->decodeComplex(*q), x);
  std::vector<double> reals = encoder->decodeDouble(*q);
  EXPECT_EQ(reals, (std::vector<double>{1, 3, -2, 0}));
  expectCounts({{RunStats::ENCRYPT, 1}, {RunStats::DECRYPT, 1}, {RunStats::DECODE_DOUBLE, 2}}, 4);
  // Changing the source later does not reach the copies.
  c->negate();
  expectValues(q->getRawValues(), x);
  expectValues(p->getRawValues(), x);
}

TEST_F(MockupTest, DerivedEncoderOperations)
{
  auto c = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  encoder->encodeEncrypt(*c, std::vector<double>{2.5, -2.5, 2.4999, -0.5}, 5);
  EXPECT_EQ(encoder->decryptDecodeInt(*c), (std::vector<int>{3, -3, 2, -1}));
  EXPECT_EQ(encoder->decryptDecodeLong(*c), (std::vector<long>{3, -3, 2, -1}));
  EXPECT_EQ(encoder->decryptDecodeDouble(*c), (std::vector<double>{2.5, -2.5, 2.4999, -0.5}));
  expectCounts({{RunStats::ENCODE, 1},
                {RunStats::ENCRYPT, 1},
                {RunStats::DECRYPT, 3},
                {RunStats::DECODE_DOUBLE, 3}},
               5);
  encoder->encodeEncrypt(*c, 9, 5);
  expectValues(c->getRawValues(), CVec(4, cx(9, 0)));
  encoder->encodeEncrypt(*c, -0.5, 5);
  expectValues(c->getRawValues(), CVec(4, cx(-0.5, 0)));
  encoder->encodeEncrypt(*c, std::vector<int>{4}, 5);
  expectValues(c->getRawValues(), {cx(4, 0), 0, 0, 0});
  encoder->encodeEncrypt(*c, std::vector<long>{-4}, 5);
  expectValues(c->getRawValues(), {cx(-4, 0), 0, 0, 0});
  encoder->encodeEncrypt(*c, x, 2);
  expectValues(encoder->decryptDecodeComplex(*c), x);

  auto p = encode({cx(3e9, 0)}, 1);
  EXPECT_THROW(encoder->decodeInt(*p), std::overflow_error);
  EXPECT_EQ(encoder->decodeLong(*p)[0], 3000000000L);
}

TEST_F(MockupTest, OperandsOnAnotherDeviceAreRefusedBeforeAnyChange)
{
  const std::string message = "Operands are not in the same device (CPU / GPU).";
  auto c = encrypt(x, 3);
  GpuCiphertext gpu(*he);
  encoder->encodeEncrypt(gpu, y, 3);
  GpuPlaintext gpuPlain(*he);
  encoder->encode(gpuPlain, y, 3);
  resetCounts();
  const std::vector<std::function<void()>> cases = {
      [&] { c->add(gpu); },          [&] { c->addRaw(gpu); },
      [&] { c->sub(gpu); },          [&] { c->subRaw(gpu); },
      [&] { c->multiply(gpu); },     [&] { c->multiplyRaw(gpu); },
      [&] { gpu.addRaw(*c); },       [&] { c->addPlain(gpuPlain); },
      [&] { c->addPlainRaw(gpuPlain); }, [&] { c->subPlain(gpuPlain); },
      [&] { c->subPlainRaw(gpuPlain); }, [&] { c->multiplyPlain(gpuPlain); },
      [&] { c->multiplyPlainRaw(gpuPlain); },
  };
  for (const auto& run : cases)
    expectThrowWithMessage<std::runtime_error>(run, message);
  expectValues(c->getRawValues(), x);
  expectValues(gpu.getRawValues(), y);
  EXPECT_EQ(c->getChainIndex(), 3);
  expectCounts({}, 3);

  // The plaintext product compares devices before it looks at the operand's
  // kind; the sum casts first.
  ForeignGpuPlaintext foreign(*he);
  expectThrowWithMessage<std::runtime_error>([&] { c->multiplyPlainRaw(foreign); }, message);
  EXPECT_THROW(c->addPlainRaw(foreign), std::bad_cast);
  expectValues(c->getRawValues(), x);
}

TEST_F(MockupTest, ForeignObjectsAreRefusedWithBadCast)
{
  ForeignPlaintext foreign(*he);
  EXPECT_THROW(encoder->encode(foreign, x, 1), std::bad_cast);
  EXPECT_THROW(encoder->decodeDouble(foreign), std::bad_cast);
  auto c = encrypt(x, 1);
  EXPECT_THROW(c->addPlain(foreign), std::bad_cast);
  EXPECT_THROW(encoder->decrypt(foreign, *c), std::bad_cast);
  expectValues(c->getRawValues(), x);
}

TEST_F(MockupTest, AssertEquals)
{
  auto c = encrypt({cx(1, 0), cx(2.0000001, 0), cx(5, 0)}, 1);
  double maxDiff = encoder->assertEquals(*c, "t", std::vector<double>{1, 2}, 1e-6, false);
  EXPECT_NEAR(maxDiff, 1e-7, 1e-12);
  // A difference equal to eps passes.
  EXPECT_EQ(encoder->assertEquals(*c, "t", std::vector<int>{1, 2, 4}, 1.0, false), 1.0);
  EXPECT_EQ(encoder->assertEquals(*c, "t", std::vector<long>{}, 0.0, false), 0.0);
  EXPECT_EQ(encoder->assertEquals(*c, "t", CVec{cx(1, 0)}, 0.0, true), 0.0);
  expectThrowWithMessage<std::runtime_error>(
      [&] { encoder->assertEquals(*c, "t", std::vector<double>(5, 0.0), 1.0, false); },
      "Size of expected values vector is bigger than size of cipher");

  testing::internal::CaptureStdout();
  expectThrowWithMessage<std::runtime_error>(
      [&] { encoder->assertEquals(*c, "vals", std::vector<double>{1, 2, 4.5}, 0.1, false); },
      "Assert Equals Failed");
  std::string report = testing::internal::GetCapturedStdout();
  std::ostringstream expected;
  expected << "Error in checking diff:\nvals, at slot 2, expected value: ";
  PrintUtils::printComplex(expected, cx(4.5, 0));
  expected << ", actual value: ";
  PrintUtils::printComplex(expected, cx(5, 0));
  expected << ", diff: ";
  PrintUtils::printComplex(expected, cx(0.5, 0));
  expected << ", relative-diff: ";
  PrintUtils::printDouble(expected, 0.1);
  expected << ", epsilon: ";
  PrintUtils::printDouble(expected, 0.1);
  expected << "\n";
  EXPECT_EQ(report, expected.str());

  // Relative mode: an actual 0 compares |expected| with eps.
  auto zero = encrypt({cx(0, 0)}, 1);
  testing::internal::CaptureStdout();
  EXPECT_THROW(encoder->assertEquals(*zero, "z", std::vector<double>{0.5}, 0.4, true),
               std::runtime_error);
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error in checking relative diff:\n", 0),
            0u);
  EXPECT_EQ(encoder->assertEquals(*zero, "z", std::vector<double>{0.5}, 0.5, true), 0.5);
  // Relative mode ignores a large absolute difference on large values.
  auto big = encrypt({cx(1000, 0)}, 1);
  EXPECT_EQ(encoder->assertEquals(*big, "b", std::vector<double>{1010}, 0.011, true), 10.0);
}

// ---- Ciphertext operations ----

namespace {

struct OperationCase
{
  std::string name;
  std::function<void(AbstractCiphertext& c, const AbstractCiphertext& other,
                     const AbstractPlaintext& plain)>
      run;
  CVec expected;
  int chainIndexAfter;
  Counts counts; // at chain index 3
};

} // namespace

TEST_F(MockupTest, OperationEffectsAndCounts)
{
  const cx i(0, 1);
  const std::vector<OperationCase> cases = {
      {"add", [](auto& c, auto& o, auto&) { c.add(o); }, zip(x, y, std::plus<cx>()), 3,
       {{RunStats::ADD_RAW, 1}}},
      {"addRaw", [](auto& c, auto& o, auto&) { c.addRaw(o); }, zip(x, y, std::plus<cx>()), 3,
       {{RunStats::ADD_RAW, 1}}},
      {"sub", [](auto& c, auto& o, auto&) { c.sub(o); }, zip(x, y, std::minus<cx>()), 3,
       {{RunStats::SUB_RAW, 1}}},
      {"subRaw", [](auto& c, auto& o, auto&) { c.subRaw(o); }, zip(x, y, std::minus<cx>()), 3,
       {{RunStats::SUB_RAW, 1}}},
      {"multiply", [](auto& c, auto& o, auto&) { c.multiply(o); },
       zip(x, y, std::multiplies<cx>()), 2,
       {{RunStats::MULTIPLY_RAW, 1}, {RunStats::RELINEARIZE, 1}, {RunStats::RESCALE_RAW, 1}}},
      {"multiplyRaw", [](auto& c, auto& o, auto&) { c.multiplyRaw(o); },
       zip(x, y, std::multiplies<cx>()), 3, {{RunStats::MULTIPLY_RAW, 1}}},
      {"addPlain", [](auto& c, auto&, auto& p) { c.addPlain(p); }, zip(x, y, std::plus<cx>()),
       3, {{RunStats::ADD_PLAIN_RAW, 1}}},
      {"addPlainRaw", [](auto& c, auto&, auto& p) { c.addPlainRaw(p); },
       zip(x, y, std::plus<cx>()), 3, {{RunStats::ADD_PLAIN_RAW, 1}}},
      {"subPlain", [](auto& c, auto&, auto& p) { c.subPlain(p); }, zip(x, y, std::minus<cx>()),
       3, {{RunStats::SUB_PLAIN_RAW, 1}}},
      {"subPlainRaw", [](auto& c, auto&, auto& p) { c.subPlainRaw(p); },
       zip(x, y, std::minus<cx>()), 3, {{RunStats::SUB_PLAIN_RAW, 1}}},
      {"multiplyPlain", [](auto& c, auto&, auto& p) { c.multiplyPlain(p); },
       zip(x, y, std::multiplies<cx>()), 2,
       {{RunStats::MULTIPLY_PLAIN_RAW, 1}, {RunStats::RESCALE_RAW, 1}}},
      {"multiplyPlainRaw", [](auto& c, auto&, auto& p) { c.multiplyPlainRaw(p); },
       zip(x, y, std::multiplies<cx>()), 3, {{RunStats::MULTIPLY_PLAIN_RAW, 1}}},
      {"square", [](auto& c, auto&, auto&) { c.square(); }, map(x, [](cx v) { return v * v; }),
       2, {{RunStats::SQUARE_RAW, 1}, {RunStats::RELINEARIZE, 1}, {RunStats::RESCALE_RAW, 1}}},
      {"squareRaw", [](auto& c, auto&, auto&) { c.squareRaw(); },
       map(x, [](cx v) { return v * v; }), 3, {{RunStats::SQUARE_RAW, 1}}},
      {"multiplyScalar(int)", [](auto& c, auto&, auto&) { c.multiplyScalar(3); },
       map(x, [](cx v) { return 3.0 * v; }), 3, {{RunStats::MULTIPLY_PLAIN_RAW, 1}}},
      {"multiplyScalar(double)", [](auto& c, auto&, auto&) { c.multiplyScalar(3.0); },
       map(x, [](cx v) { return 3.0 * v; }), 2,
       {{RunStats::ENCODE, 1}, {RunStats::MULTIPLY_PLAIN_RAW, 1}, {RunStats::RESCALE_RAW, 1}}},
      {"addScalar(int)", [](auto& c, auto&, auto&) { c.addScalar(2); },
       map(x, [](cx v) { return v + 2.0; }), 3,
       {{RunStats::ENCODE, 1}, {RunStats::ADD_PLAIN_RAW, 1}}},
      {"addScalar(double)", [](auto& c, auto&, auto&) { c.addScalar(-0.5); },
       map(x, [](cx v) { return v - 0.5; }), 3,
       {{RunStats::ENCODE, 1}, {RunStats::ADD_PLAIN_RAW, 1}}},
      {"multiplyImaginaryUnit", [](auto& c, auto&, auto&) { c.multiplyImaginaryUnit(); },
       map(x, [&](cx v) { return v * i; }), 2,
       {{RunStats::ENCODE, 1}, {RunStats::MULTIPLY_PLAIN_RAW, 1}, {RunStats::RESCALE_RAW, 1}}},
      {"nullifyImaginaryPart", [](auto& c, auto&, auto&) { c.nullifyImaginaryPart(); },
       map(x, [](cx v) { return cx(v.real(), 0); }), 2,
       {{RunStats::C_COPY, 1},
        {RunStats::ADD_RAW, 1},
        {RunStats::ENCODE, 1},
        {RunStats::MULTIPLY_PLAIN_RAW, 1},
        {RunStats::RESCALE_RAW, 1}}},
      {"negate", [](auto& c, auto&, auto&) { c.negate(); }, map(x, [](cx v) { return -v; }), 3,
       {{RunStats::NEGATE, 1}}},
      {"relinearize", [](auto& c, auto&, auto&) { c.relinearize(); }, x, 3,
       {{RunStats::RELINEARIZE, 1}}},
      {"rescale", [](auto& c, auto&, auto&) { c.rescale(); }, x, 2,
       {{RunStats::RESCALE_RAW, 1}}},
      {"rescaleRaw", [](auto& c, auto&, auto&) { c.rescaleRaw(); }, x, 2,
       {{RunStats::RESCALE_RAW, 1}}},
      {"conjugate", [](auto& c, auto&, auto&) { c.conjugate(); },
       map(x, [](cx v) { return std::conj(v); }), 3, {}},
      {"conjugateRaw", [](auto& c, auto&, auto&) { c.conjugateRaw(); },
       map(x, [](cx v) { return std::conj(v); }), 3, {}},
      {"rotate", [](auto& c, auto&, auto&) { c.rotate(1); }, rotated(x, 1), 3,
       {{RunStats::ROTATE, 1}}},
      {"multiplyByChangingScale", [](auto& c, auto&, auto&) { c.multiplyByChangingScale(2.0); },
       map(x, [](cx v) { return 2.0 * v; }), 3, {}},
      {"reduceChainIndex", [](auto& c, auto&, auto&) { c.reduceChainIndex(); }, x, 2, {}},
      {"setChainIndex", [](auto& c, auto&, auto&) { c.setChainIndex(1); }, x, 1, {}},
  };
  for (const OperationCase& oc : cases) {
    SCOPED_TRACE(oc.name);
    auto c = encrypt(x, 3);
    c->setScale(64);
    auto other = encrypt(y, 3);
    auto plain = encode(y, 3);
    resetCounts();
    oc.run(*c, *other, *plain);
    expectValues(c->getRawValues(), oc.expected);
    EXPECT_EQ(c->getChainIndex(), oc.chainIndexAfter);
    EXPECT_EQ(c->getScale(), 64);
    expectCounts(oc.counts, 3);
    // Operands are never changed.
    expectValues(other->getRawValues(), y);
    expectValues(plain->getRawValues(), y);
    EXPECT_EQ(other->getChainIndex(), 3);
  }
}

TEST_F(MockupTest, SpecificProducts)
{
  auto a = encrypt({cx(1, 2)}, 3);
  auto b = encrypt({cx(3, -1)}, 3);
  a->multiply(*b);
  EXPECT_EQ(a->getRawValues()[0], cx(5, 5));
  EXPECT_EQ(a->getChainIndex(), 2);
  auto s = encrypt({cx(1, 2)}, 3);
  s->square();
  EXPECT_EQ(s->getRawValues()[0], cx(-3, 4));
  // An operand may be the ciphertext itself.
  auto t = encrypt({cx(1, 2), cx(2, 0)}, 3);
  t->multiplyRaw(*t);
  expectValues(t->getRawValues(), {cx(-3, 4), cx(4, 0), 0, 0});
  t->sub(*t);
  expectValues(t->getRawValues(), CVec(4, 0));
}

TEST_F(MockupTest, NegateOfZeroGivesNegativeZero)
{
  auto c = encrypt({cx(0, 0)}, 1);
  c->negate();
  EXPECT_TRUE(std::signbit(c->getRawValues()[0].real()));
  EXPECT_TRUE(std::signbit(c->getRawValues()[0].imag()));
}

TEST_F(MockupTest, MismatchingOperandsAreRefusedBeforeAnyChange)
{
  auto c = encrypt(x, 3);
  auto lower = encrypt(y, 2);
  auto plainLower = encode(y, 2);
  resetCounts();
  const std::string ctMessage =
      "MockupCiphertext: mismatching chain indexes. This ciphertext: 3, other ciphertext: 2";
  const std::string ptMessage =
      "MockupCiphertext: mismatching chain indexes. This ciphertext: 3, other plaintext: 2";
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { c->add(*lower); }, ctMessage},
      {[&] { c->addRaw(*lower); }, ctMessage},
      {[&] { c->sub(*lower); }, ctMessage},
      {[&] { c->subRaw(*lower); }, ctMessage},
      {[&] { c->multiply(*lower); }, ctMessage},
      {[&] { c->multiplyRaw(*lower); }, ctMessage},
      {[&] { c->addPlain(*plainLower); }, ptMessage},
      {[&] { c->addPlainRaw(*plainLower); }, ptMessage},
      {[&] { c->subPlain(*plainLower); }, ptMessage},
      {[&] { c->subPlainRaw(*plainLower); }, ptMessage},
      {[&] { c->multiplyPlain(*plainLower); }, ptMessage},
      {[&] { c->multiplyPlainRaw(*plainLower); }, ptMessage},
  };
  for (const auto& tc : cases)
    expectThrowWithMessage<std::invalid_argument>(tc.first, tc.second);
  expectValues(c->getRawValues(), x);
  EXPECT_EQ(c->getChainIndex(), 3);
  expectCounts({}, 3);

  // Operands with a different number of values: an encoding of more values
  // than slots keeps them all before its assertion fails (a saved body of
  // another length is refused on load).
  auto longPlain = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  CVec five = x;
  five.push_back(cx(9, 9));
  expectAssertion([&] { encoder->encode(*longPlain, five, 3); },
                  "p.rawVals.size() == p.slotCount()");
  longPlain->setChainIndex(3);
  auto longOne = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  encoder->encrypt(*longOne, *longPlain);
  ASSERT_EQ(longOne->getRawValues().size(), 5u);
  ASSERT_EQ(longOne->getChainIndex(), 3);
  expectThrowWithMessage<std::invalid_argument>([&] { c->add(*longOne); }, "mismatching sizes");
  expectThrowWithMessage<std::invalid_argument>([&] { longOne->multiplyRaw(*c); },
                                                "mismatching sizes");
  expectValues(c->getRawValues(), x);
}

TEST_F(MockupTest, ManagedChainIndexesCombineOperandsAtAnyChainIndex)
{
  makeContext(std::make_shared<ManagedMockupContext>(), 4, 5);
  auto c = encrypt(x, 3);
  auto lower = encrypt(y, 2);
  c->add(*lower);
  expectValues(c->getRawValues(), zip(x, y, std::plus<cx>()));
  EXPECT_EQ(c->getChainIndex(), 3);
  c->multiplyPlain(*encode(y, 5));
  EXPECT_EQ(c->getChainIndex(), 2);
}

TEST_F(MockupTest, ProductsAtChainIndexZeroAreRefusedUnchanged)
{
  // The final rescale would be refused: the products refuse before they form.
  auto a = encrypt(x, 0);
  auto b = encrypt(y, 0);
  auto p = encode(y, 0);
  auto c = encrypt(y, 1);
  resetCounts();
  const std::string message =
      "Given chain index is out of range or higher than current. Given CI= -1 current CI= 0";
  expectThrowWithMessage<std::invalid_argument>([&] { a->multiply(*b); }, message);
  expectThrowWithMessage<std::invalid_argument>([&] { a->square(); }, message);
  expectThrowWithMessage<std::invalid_argument>([&] { a->multiplyPlain(*p); }, message);
  expectValues(a->getRawValues(), x);
  EXPECT_EQ(a->getChainIndex(), 0);
  expectCounts({}, 0);
  // A scalar product encodes its scalar, then refuses alike.
  expectThrowWithMessage<std::invalid_argument>([&] { a->multiplyScalar(2.0); }, message);
  expectValues(a->getRawValues(), x);
  resetCounts();
  // Operand checks keep their place before it.
  expectThrowWithMessage<std::invalid_argument>(
      [&] { a->multiply(*c); },
      "MockupCiphertext: mismatching chain indexes. This ciphertext: 0, other ciphertext: 1");
  // The raw products and an explicit rescale are unchanged.
  a->multiplyRaw(*b);
  expectValues(a->getRawValues(), zip(x, y, std::multiplies<cx>()));
  expectThrowWithMessage<std::invalid_argument>([&] { a->rescale(); }, message);
  expectCounts({{RunStats::MULTIPLY_RAW, 1}, {RunStats::RESCALE_RAW, 1}}, 0);
}

TEST_F(MockupTest, ChainIndexMoves)
{
  auto c = encrypt(x, 3);
  const std::string prefix = "Given chain index is out of range or higher than current. ";
  expectThrowWithMessage<std::invalid_argument>([&] { c->setChainIndex(4); },
                                                prefix + "Given CI= 4 current CI= 3");
  expectThrowWithMessage<std::invalid_argument>([&] { c->setChainIndex(-2); },
                                                prefix + "Given CI= -2 current CI= 3");
  c->setChainIndex(3);
  c->setChainIndex(1);
  EXPECT_EQ(c->getChainIndex(), 1);
  EXPECT_EQ(he->getRunStats()->getMinChainIndex(), 1);
  expectValues(c->getRawValues(), x);

  // A ciphertext above the top (filled directly) cannot stay there either.
  auto high = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  encoder->encodeEncrypt(*high, x, 7);
  expectThrowWithMessage<std::invalid_argument>([&] { high->setChainIndex(6); },
                                                prefix + "Given CI= 6 current CI= 7");

  auto p = encode(x, 1);
  p->setChainIndex(5);
  EXPECT_EQ(p->getChainIndex(), 5);
  p->reduceChainIndex();
  EXPECT_EQ(p->getChainIndex(), 4);
  for (int bad : {6, -1})
    expectThrowWithMessage<std::invalid_argument>(
        [&] { p->setChainIndex(bad); },
        "Given chain index is out of range. Given chain index: " + std::to_string(bad) +
            ", allowed range: [0, 5]");
  EXPECT_EQ(p->getChainIndex(), 4);
}

TEST_F(MockupTest, Rotations)
{
  const CVec abcd = {cx(1, 0), cx(2, 0), cx(3, 0), cx(4, 0)};
  const std::vector<std::pair<int, CVec>> cases = {
      {1, {cx(2, 0), cx(3, 0), cx(4, 0), cx(1, 0)}},
      {-1, {cx(4, 0), cx(1, 0), cx(2, 0), cx(3, 0)}},
      {0, abcd},
      {2, {cx(3, 0), cx(4, 0), cx(1, 0), cx(2, 0)}},
      {4, abcd},
      // Offsets beyond the slot count are taken modulo it.
      {5, {cx(2, 0), cx(3, 0), cx(4, 0), cx(1, 0)}},
      {-9, {cx(4, 0), cx(1, 0), cx(2, 0), cx(3, 0)}},
      {1000003, {cx(4, 0), cx(1, 0), cx(2, 0), cx(3, 0)}},
      {INT_MIN, abcd},
      {INT_MAX, {cx(4, 0), cx(1, 0), cx(2, 0), cx(3, 0)}},
  };
  for (const auto& rc : cases) {
    auto c = encrypt(abcd, 2);
    resetCounts();
    c->rotate(rc.first);
    expectValues(c->getRawValues(), rc.second);
    expectCounts({{RunStats::ROTATE, 1}}, 2);
    EXPECT_EQ(he->getRunStats()->getRotations(), std::set<int>{rc.first});
  }
}

TEST_F(MockupTest, InnerSums)
{
  makeContext(std::make_shared<MockupContext>(), 8, 5);
  const CVec values = range(8);
  auto c = encrypt(values, 2);
  resetCounts();
  c->innerSum(1, 8);
  expectValues(c->getRawValues(), CVec(8, cx(28, 0)));
  expectCounts({{RunStats::ROTATE, 3}, {RunStats::ADD_RAW, 3}, {RunStats::C_COPY, 3}}, 2);
  EXPECT_EQ(c->getChainIndex(), 2);

  for (auto args : std::vector<std::pair<int, int>>{{4, 4}, {8, 4}}) {
    auto u = encrypt(values, 2);
    u->innerSum(args.first, args.second, false);
    expectValues(u->getRawValues(), values);
  }
  for (auto args : std::vector<std::pair<int, int>>{{0, 8}, {1, 0}, {-1, 8}}) {
    auto u = encrypt(values, 2);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { u->innerSum(args.first, args.second, false); },
        "Rotation offsets should be positive.");
    expectValues(u->getRawValues(), values);
  }

  auto rev = encrypt(values, 2);
  rev->innerSum(1, 4, true);
  CVec expected(8);
  for (int i = 0; i < 8; ++i)
    for (int k = 0; k < 4; ++k)
      expected[i] += values[((i - k) % 8 + 8) % 8];
  expectValues(rev->getRawValues(), expected);

  auto one = encrypt(values, 2);
  one->AbstractCiphertext::innerSum(8);
  expectValues(one->getRawValues(), CVec(8, cx(28, 0)));

  // Offsets beyond the slot count: the last pass rotates by 8, a full turn.
  auto wide = encrypt(values, 2);
  wide->innerSum(1, 16);
  expectValues(wide->getRawValues(), CVec(8, cx(56, 0)));
}

TEST_F(MockupTest, SumsBySquaringAgreeWithWindowSums)
{
  makeContext(std::make_shared<MockupContext>(), 8, 5);
  const CVec values = {cx(1, 0), cx(-2, 1), cx(4, 0), cx(0.5, 0),
                       cx(3, -3), cx(7, 0), cx(-1, 0), cx(2, 2)};
  for (int n = 1; n <= 20; ++n) {
    SCOPED_TRACE(n);
    auto left = encrypt(values, 1);
    left->sumExpBySquaringLeftToRight(n);
    expectValues(left->getRawValues(), windowSums(values, n), 1e-9);
    auto right = encrypt(values, 1);
    right->sumExpBySquaringRightToLeft(n);
    expectValues(right->getRawValues(), windowSums(values, n), 1e-9);
    EXPECT_EQ(left->getChainIndex(), 1);
  }
  for (int n : {0, -3}) {
    auto left = encrypt(values, 1);
    auto right = encrypt(values, 1);
    testing::internal::CaptureStdout();
    left->sumExpBySquaringLeftToRight(n);
    std::string leftOut = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    right->sumExpBySquaringRightToLeft(n);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(leftOut, n == 0 ? "sumExpBySquaringLeftToRight() finished with 0 rotations\n" : "");
    expectValues(left->getRawValues(), values);
    expectValues(right->getRawValues(), values);
  }
}

TEST_F(MockupTest, DefaultsWithoutComplexSupport)
{
  class RealMockupContext : public MockupContext
  {
  public:
    RealMockupContext() { traits.setSupportsComplexNumbers(false); }
  };
  makeContext(std::make_shared<RealMockupContext>(), 4, 5);
  auto c = encrypt(x, 3);
  resetCounts();
  c->nullifyImaginaryPart();
  expectValues(c->getRawValues(), x);
  EXPECT_EQ(c->getChainIndex(), 3);
  expectCounts({}, 3);
  expectThrowWithMessage<std::runtime_error>(
      [&] { c->multiplyImaginaryUnit(); },
      "HeContext does not support operations with complex numbers.");
  EXPECT_EQ(c->getChainIndex(), 3);
}

TEST_F(MockupTest, CloneIsDeepAndCountedWhenChainIndexKnown)
{
  auto c = encrypt(x, 2);
  c->setScale(3);
  resetCounts();
  std::shared_ptr<AbstractCiphertext> copy = c->clone();
  expectCounts({{RunStats::C_COPY, 1}}, 2);
  auto mockupCopy = std::dynamic_pointer_cast<MockupCiphertext>(copy);
  ASSERT_NE(mockupCopy, nullptr);
  expectValues(mockupCopy->getRawValues(), x);
  EXPECT_EQ(mockupCopy->getChainIndex(), 2);
  EXPECT_EQ(mockupCopy->getScale(), 3);
  copy->negate();
  expectValues(c->getRawValues(), x);

  auto empty = he->createAbstractCiphertext();
  resetCounts();
  std::shared_ptr<AbstractCiphertext> emptyCopy = empty->clone();
  EXPECT_TRUE(emptyCopy->isEmpty());
  for (int code = 0; code < RunStats::NUM_OPERATIONS; ++code)
    EXPECT_EQ(he->getRunStats()->getTotalCount(code), 0);

  auto p = encode(y, 4);
  resetCounts();
  std::shared_ptr<AbstractPlaintext> pc = p->clone();
  expectValues(std::dynamic_pointer_cast<MockupPlaintext>(pc)->getRawValues(), y);
  EXPECT_EQ(pc->getChainIndex(), 4);
  expectCounts({}, 2);
}

TEST_F(MockupTest, SavedBodyLayoutAndRoundTrip)
{
  auto c = encrypt({cx(1.5, -2), cx(0, 3)}, 4);
  std::ostringstream out;
  EXPECT_EQ(c->save(out), 8 + 4 * 16 + 4);
  std::string bytes = out.str();
  ASSERT_EQ(bytes.size(), 76u);
  uint64_t n;
  std::memcpy(&n, bytes.data(), 8);
  EXPECT_EQ(n, 4u);
  double first[2];
  std::memcpy(first, bytes.data() + 8, 16);
  EXPECT_EQ(first[0], 1.5);
  EXPECT_EQ(first[1], -2.0);
  int32_t chainIndex;
  std::memcpy(&chainIndex, bytes.data() + 72, 4);
  EXPECT_EQ(chainIndex, 4);

  auto loaded = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  loaded->setScale(9);
  std::istringstream in(bytes + "trailing");
  EXPECT_EQ(loaded->load(in), 76);
  expectValues(loaded->getRawValues(), c->getRawValues());
  EXPECT_EQ(loaded->getChainIndex(), 4);
  EXPECT_EQ(loaded->getScale(), 9);

  auto p = encode(y, 2);
  std::ostringstream pout;
  EXPECT_EQ(p->save(pout), 76);
  auto q = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  std::istringstream pin(pout.str());
  EXPECT_EQ(q->load(pin), 76);
  expectValues(q->getRawValues(), y);
  EXPECT_EQ(q->getChainIndex(), 2);
}

TEST_F(MockupTest, RefusedLoadsLeaveTheObjectUnchanged)
{
  auto c = encrypt(x, 4);
  std::ostringstream out;
  c->save(out);
  std::string bytes = out.str();

  auto target = encrypt(y, 1);
  std::istringstream truncated(bytes.substr(0, bytes.size() - 2));
  EXPECT_THROW(target->load(truncated), std::runtime_error);
  expectValues(target->getRawValues(), y);
  EXPECT_EQ(target->getChainIndex(), 1);

  std::string huge = bytes;
  uint64_t tooMany = 100001;
  std::memcpy(&huge[0], &tooMany, 8);
  std::istringstream hugeIn(huge);
  expectThrowWithMessage<std::runtime_error>(
      [&] { target->load(hugeIn); },
      "BinIoUtils::readSizeTChecked() failed: the loaded value (100001) is larger than the "
      "specified maximum (100000).");
  expectValues(target->getRawValues(), y);
}

TEST_F(MockupTest, TrivialDefaults)
{
  auto c = encrypt(x, 2);
  c->toDevice(DEVICE_GPU);
  EXPECT_EQ(c->getCurrentDevice(), DEVICE_CPU);
  EXPECT_FALSE(c->isTransparent());
  c->encryptZeroIfTransparent();
  expectValues(c->getRawValues(), x);
  EXPECT_EQ(c->getEstimatedMemoryUsageBytes(), -1);
  EXPECT_EQ(c->slotCount(), 4);
  expectThrowWithMessage<std::runtime_error>(
      [&] { c->remod(7); }, "remod operation not implemented for this class of ciphertext");
  auto p = encode(x, 2);
  p->toDevice(DEVICE_GPU);
  EXPECT_EQ(p->getCurrentDevice(), DEVICE_CPU);
  EXPECT_EQ(p->getEstimatedMemoryUsageBytes(), -1);
  EXPECT_EQ(p->slotCount(), 4);
  expectThrowWithMessage<std::runtime_error>([&] { p->isAllZeroes(); }, "not implemented");
}

TEST_F(MockupTest, CiphertextAndPlaintextPrints)
{
  auto c = encrypt(x, 3);
  std::ostringstream low;
  c->debugPrint("ct", VERBOSITY_LOW, low);
  EXPECT_EQ(low.str(), "CTile ct: CI=3");
  std::ostringstream none;
  c->debugPrint("ct", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");

  std::ostringstream regular;
  c->debugPrint("ct", VERBOSITY_REGULAR, regular);
  std::ostringstream expected;
  expected << "CTile ct: CI=3, max value=";
  PrintUtils::printDouble(expected, std::abs(cx(3, -1)));
  expected << "\n";
  PrintUtils::printComplexVector(expected, x);
  expected << "\n";
  EXPECT_EQ(regular.str(), expected.str());

  auto p = encode(x, 2);
  std::ostringstream plain;
  p->debugPrint("pt", VERBOSITY_REGULAR, plain);
  std::ostringstream expectedPlain;
  expectedPlain << "PTile pt: CI=2, max value=" << std::abs(cx(3, -1)) << "\n";
  PrintUtils::printComplexVector(expectedPlain, x);
  expectedPlain << "\n";
  EXPECT_EQ(plain.str(), expectedPlain.str());
  std::ostringstream plainLow;
  p->debugPrint("", VERBOSITY_LOW, plainLow);
  EXPECT_EQ(plainLow.str(), "PTile CI=2");
}

TEST_F(MockupTest, PrintWithoutSecretKey)
{
  makeContext(std::make_shared<KeylessMockupContext>(), 4, 5);
  auto c = encrypt(x, 3);
  std::ostringstream out;
  c->debugPrint("ct", VERBOSITY_REGULAR, out);
  EXPECT_EQ(out.str(), "CTile ct: CI=3 NO SECRET KEY\n");
  // Decryption itself does not check the key.
  expectValues(encoder->decryptDecodeComplex(*c), x);
}

TEST_F(MockupTest, CountingOutsideTheStatisticsRange)
{
  makeContext(std::make_shared<MockupContext>(), 4, 120);
  auto p = std::dynamic_pointer_cast<MockupPlaintext>(he->createAbstractPlaintext());
  expectThrowWithMessage<std::out_of_range>([&] { encoder->encode(*p, x, 101); },
                                            "invalid vector subscript");
  // The encoding fails after the plaintext is filled.
  expectValues(p->getRawValues(), x);
  auto c = encrypt(x, 100);
  auto d = std::dynamic_pointer_cast<MockupCiphertext>(he->createAbstractCiphertext());
  encoder->encodeEncrypt(*d, y, 100);
  c->add(*d);
  EXPECT_EQ(count(RunStats::ADD_RAW, 100), 1);
}

TEST(MockupContextPersistence, ChainIndexByteDecidesTheLoadedTraits)
{
  MockupContext he;
  he.init(HeConfigRequirement::insecure(4, 3));
  std::ostringstream out;
  int64_t written = he.save(out);
  std::string bytes = out.str();
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), written);
  ASSERT_EQ(bytes.back(), 1);

  for (char flag : {char(1), char(0), char(7)}) {
    SCOPED_TRACE(static_cast<int>(flag));
    bytes.back() = flag;
    MockupContext loaded;
    std::istringstream in(bytes);
    EXPECT_EQ(loaded.load(in), written);
    EXPECT_TRUE(loaded.isInitialized());
    EXPECT_FALSE(loaded.hasSecretKey());
    EXPECT_EQ(loaded.getContextId(), he.getContextId());
    bool enabled = flag != 0;
    const HeTraits& t = loaded.getTraits();
    EXPECT_EQ(t.getSupportsExplicitChainIndices(), enabled);
    EXPECT_EQ(t.getSupportsValuesLimitation(), enabled);
    EXPECT_EQ(t.getSupportsBsValuesLimitation(), enabled);
    EXPECT_EQ(t.getSupportsModSwitch(), enabled);
    EXPECT_EQ(t.getAutomaticallyManagesChainIndices(), !enabled);
    if (!enabled) {
      // Operands at different chain indexes now combine; chain indexes read -1.
      auto encoder = loaded.getEncoder();
      auto a = loaded.createAbstractCiphertext();
      auto b = loaded.createAbstractCiphertext();
      encoder->encodeEncrypt(*a, CVec{cx(1, 0)}, 3);
      encoder->encodeEncrypt(*b, CVec{cx(2, 0)}, 2);
      a->add(*b);
      EXPECT_EQ(a->getChainIndex(), -1);
      EXPECT_EQ(encoder->decryptDecodeDouble(*a)[0], 3.0);
      expectAssertion([&] { loaded.getMaxAllowedValues(); },
                      "traits.getSupportsValuesLimitation()");
    }
  }
}

TEST(MockupContextPersistence, SecretKeyRecordMovesTheFlag)
{
  MockupContext he;
  he.init(HeConfigRequirement::insecure(4, 3));
  std::ostringstream saved;
  he.save(saved);
  std::ostringstream key;
  he.saveSecretKey(key);
  expectThrowWithMessage<std::runtime_error>(
      [&] {
        std::ostringstream seed;
        he.saveSecretKey(seed, true);
      },
      "this HeContext does not support secret key I/O using seeds");

  MockupContext loaded;
  std::istringstream in(saved.str());
  loaded.load(in);
  EXPECT_FALSE(loaded.hasSecretKey());
  std::ostringstream none;
  expectThrowWithMessage<std::runtime_error>([&] { loaded.saveSecretKey(none); },
                                             "this HeContext does not have a secret key");
  std::istringstream keyIn(key.str());
  loaded.loadSecretKey(keyIn);
  EXPECT_TRUE(loaded.hasSecretKey());
  std::istringstream again(key.str());
  expectThrowWithMessage<std::runtime_error>([&] { loaded.loadSecretKey(again); },
                                             "this HeContext already has a secret key");
}

// ---- Products and rotations of the values ----

TEST(MockupValues, ProductsEqualStdComplexToTheBit)
{
  typedef std::complex<double> cx;
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto he = qvtest::mockupContext(16, 3);
  Encoder encoder(*he);
  // Random values take the vectorised loop; special values std::complex's own.
  std::vector<cx> a = qvtest::randomComplex(3, 16);
  std::vector<cx> b = qvtest::randomComplex(4, 16);
  const std::vector<std::vector<cx>> specials = {
      {cx(inf, 0), cx(inf, 1), cx(nan, inf), cx(1e300, 1e300), cx(-0.0, 0.0), cx(inf, inf)},
      {cx(1, 0), cx(0, 0), cx(2, 3), cx(1e300, -1e300), cx(5, -0.0), cx(nan, 0)},
  };
  for (int round = 0; round < 2; ++round) {
    if (round == 1)
      for (size_t i = 0; i < specials[0].size(); ++i) {
        a[i] = specials[0][i];
        b[i] = specials[1][i];
      }
    CTile ca(*he);
    CTile cb(*he);
    encoder.encodeEncrypt(ca, a);
    encoder.encodeEncrypt(cb, b);
    ca.multiplyRaw(cb);
    const std::vector<cx> product = encoder.decryptDecodeComplex(ca);
    for (size_t i = 0; i < a.size(); ++i) {
      const cx expected = a[i] * b[i];
      EXPECT_EQ(std::memcmp(&product[i], &expected, sizeof(cx)), 0)
          << round << " " << i << ": " << product[i] << " vs " << expected;
    }
    // A product with itself reads each value before writing it.
    CTile self(ca);
    self.multiplyRaw(self);
    const std::vector<cx> squared = encoder.decryptDecodeComplex(self);
    for (size_t i = 0; i < a.size(); ++i) {
      const cx expected = product[i] * product[i];
      EXPECT_EQ(std::memcmp(&squared[i], &expected, sizeof(cx)), 0) << round << " " << i;
    }
  }
}

TEST(MockupValues, RotationsOfAnyStep)
{
  auto he = qvtest::mockupContext(16, 3);
  Encoder encoder(*he);
  std::vector<double> values(16);
  for (int i = 0; i < 16; ++i)
    values[i] = i + 1;
  for (int step : {0, 1, 5, 15, 16, 17, -1, -20}) {
    CTile c(*he);
    encoder.encodeEncrypt(c, values);
    c.rotate(step);
    EXPECT_EQ(encoder.decryptDecodeDouble(c), qvtest::rotated(values, step)) << step;
  }
}
