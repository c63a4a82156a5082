// Acceptance checks of tiles and the encoder: failures inside management
// steps, re-encoding on real-only contexts, moves, the start-up registries,
// and the same operations on the SEAL CKKS context.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/Saveable.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;

const int SLOTS = 8;
const int DEPTH = 5;

std::vector<cx> ramp(double imag = 0)
{
  std::vector<cx> v;
  for (int i = 0; i < SLOTS; ++i)
    v.push_back(cx(i + 1, imag));
  return v;
}

// ---- A backend whose ciphertext operations fail after the preparation ----

class RefusingCiphertext : public MockupCiphertext
{
public:
  explicit RefusingCiphertext(const MockupContext& he) : MockupCiphertext(he) {}

  void add(const AbstractCiphertext&) override { throw std::runtime_error("refused add"); }
  void multiply(const AbstractCiphertext&) override
  {
    throw std::runtime_error("refused multiply");
  }
  void multiplyPlain(const AbstractPlaintext&) override
  {
    throw std::runtime_error("refused multiplyPlain");
  }
};

class RefusingMockupContext : public MockupContext
{
public:
  RefusingMockupContext() { traits.setSupportsModSwitch(true); }

  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override
  {
    return std::make_shared<RefusingCiphertext>(*this);
  }
};

std::shared_ptr<RefusingMockupContext> makeRefusingContext()
{
  auto he = std::make_shared<RefusingMockupContext>();
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, DEPTH);
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = 1;
  config.targetChainIndex = 4;
  req.bootstrapConfig = config;
  he->init(req);
  return he;
}

TEST(TileOnBackendManagement, FailedBackendOperationKeepsTheLoweringOfThisTile)
{
  auto he = makeRefusingContext();
  Encoder encoder(*he);
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, ramp(), 5);
  encoder.encodeEncrypt(y, ramp(0.5), 3);
  expectThrowWithMessage<std::runtime_error>([&] { x.add(y); }, "refused add");
  EXPECT_EQ(x.getChainIndex(), 3); // lowered in place before the backend failed
  EXPECT_EQ(y.getChainIndex(), 3);
  EXPECT_EQ(encoder.decryptDecodeComplex(x), ramp());
}

TEST(TileOnBackendManagement, FailedBackendOperationKeepsTheBootstrapOfThisTile)
{
  auto he = makeRefusingContext();
  Encoder encoder(*he);
  CTile x(*he), y(*he);
  PTile p(*he);
  encoder.encodeEncrypt(x, ramp(), 1);
  encoder.encodeEncrypt(y, ramp(0.5), 5);
  encoder.encode(p, ramp(), 1);
  expectThrowWithMessage<std::runtime_error>([&] { x.multiply(y); }, "refused multiply");
  // Bootstrapped from the minimal chain index to 4; the operand's lowered
  // copy was released and the operand is untouched.
  EXPECT_EQ(x.getChainIndex(), 4);
  EXPECT_EQ(y.getChainIndex(), 5);
  EXPECT_EQ(encoder.decryptDecodeComplex(y), ramp(0.5));

  CTile z(*he);
  encoder.encodeEncrypt(z, ramp(), 1);
  expectThrowWithMessage<std::runtime_error>([&] { z.multiplyPlain(p); }, "refused multiplyPlain");
  EXPECT_EQ(z.getChainIndex(), 4);
  EXPECT_EQ(p.getChainIndex(), 1);
}

// ---- Re-encoding on a context without complex numbers ----

class RealOnlyMockupContext : public MockupContext
{
public:
  RealOnlyMockupContext() { traits.setSupportsComplexNumbers(false); }
};

TEST(TileOnBackendReencode, RealOnlyContextsReencodeTheRealParts)
{
  auto real = mockupContext<RealOnlyMockupContext>(SLOTS, DEPTH);
  auto complex = mockupContext(SLOTS, DEPTH);

  for (const std::shared_ptr<MockupContext>& he :
       std::vector<std::shared_ptr<MockupContext>>{real, complex}) {
    bool complexSupport = he->getTraits().getSupportsComplexNumbers();
    SCOPED_TRACE(complexSupport ? "complex" : "real only");
    Encoder encoder(*he);
    PTile p(*he), res(*he);
    encoder.encode(p, ramp(0.75), 1);
    p.reencode(res, 4);
    EXPECT_EQ(res.getChainIndex(), 4);
    std::vector<cx> expected = complexSupport ? ramp(0.75) : ramp(0);
    EXPECT_EQ(encoder.decodeComplex(res), expected);
    // A plaintext below the ciphertext reaches the backend re-encoded the same way.
    CTile c(*he);
    encoder.encodeEncrypt(c, std::vector<double>(SLOTS, 1.0), 4);
    c.addPlain(p);
    std::vector<cx> sum;
    for (const cx& v : expected)
      sum.push_back(v + 1.0);
    EXPECT_EQ(encoder.decryptDecodeComplex(c), sum);
    EXPECT_EQ(p.getChainIndex(), 1);
  }
}

// ---- Moves and self-assignment ----

TEST(TileOnBackendCopies, MovesTakeTheBackendObjectOver)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile x(*he);
  encoder.encodeEncrypt(x, ramp(), 3);
  const AbstractCiphertext* backend = &x.getImpl();

  CTile& alias = x;
  x = std::move(alias);
  EXPECT_EQ(&x.getImpl(), backend);
  EXPECT_EQ(encoder.decryptDecodeComplex(x), ramp());

  CTile target(*he);
  target = std::move(x);
  EXPECT_EQ(&target.getImpl(), backend);
  EXPECT_EQ(target.getChainIndex(), 3);
  x = target; // a moved-from tile can be assigned a copy again
  EXPECT_NE(&x.getImpl(), backend);
  EXPECT_EQ(encoder.decryptDecodeComplex(x), ramp());

  PTile p(*he);
  encoder.encode(p, ramp(), 2);
  const AbstractPlaintext* plain = &p.getImpl();
  PTile& pAlias = p;
  p = std::move(pAlias);
  EXPECT_EQ(&p.getImpl(), plain);
  PTile moved(std::move(p));
  EXPECT_EQ(&moved.getImpl(), plain);
  PTile assigned(*he);
  assigned = moved;
  EXPECT_NE(&assigned.getImpl(), plain);
  EXPECT_EQ(assigned.getChainIndex(), 2);
  EXPECT_EQ(encoder.decodeComplex(assigned), ramp());
}

// ---- Plaintext queries reach the backend ----

TEST(TileOnBackendForwarding, PlaintextQueriesReachTheBackend)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  PTile p(*he);
  encoder.encode(p, ramp(0.5), 3);
  EXPECT_EQ(&p.getHeContext(), he.get());
  EXPECT_EQ(p.getContextId(), he->getContextId());
  EXPECT_FALSE(p.allowsStorage());
  EXPECT_EQ(p.getEstimatedMemoryUsageBytes(), p.getImpl().getEstimatedMemoryUsageBytes());
  EXPECT_EQ(p.getCurrentDevice(), DEVICE_CPU);
  p.setScale(4.0);
  EXPECT_EQ(p.getImpl().getScale(), 4.0);
  p.reduceChainIndex();
  EXPECT_EQ(p.getImpl().getChainIndex(), 2);
  std::ostringstream tileText, backendText;
  p.debugPrint("p", VERBOSITY_DETAILED, tileText);
  p.getImpl().debugPrint("p", VERBOSITY_DETAILED, backendText);
  EXPECT_FALSE(tileText.str().empty());
  EXPECT_EQ(tileText.str(), backendText.str());
  expectThrowWithMessage<std::runtime_error>([&] { p.isAllZeroes(); }, "not implemented");
}

// ---- Rotation of a tile without slots ----

class NoSlotCiphertext : public MockupCiphertext
{
public:
  explicit NoSlotCiphertext(const MockupContext& he) : MockupCiphertext(he) {}
  int slotCount() const override { return 0; }
};

class NoSlotMockupContext : public MockupContext
{
public:
  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override
  {
    return std::make_shared<NoSlotCiphertext>(*this);
  }
};

TEST(TileOnBackendRotation, TileWithoutSlotsFailsTheModulusAssertion)
{
  auto he = mockupContext<NoSlotMockupContext>(SLOTS, DEPTH);
  CTile x(*he);
  for (int n : {0, 3, -3}) {
    try {
      x.rotate(n);
      ADD_FAILURE() << "no assertion for " << n;
    } catch (const assert_error& e) {
      std::string message = e.what();
      std::string tail = "Assertion failed: modulus != 0";
      ASSERT_GE(message.size(), tail.size());
      EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    }
  }
}

// ---- The registries after start-up ----

TEST(TileOnBackendRegistry, ContextRegistryHoldsTheTwoBuiltInPrototypes)
{
  EXPECT_TRUE(HeContext::isRegisteredContext("Mockup_Mockup"));
  EXPECT_TRUE(HeContext::isRegisteredContext("SEAL_CKKS"));
  for (const char* other : {"", "SEAL", "CKKS", "Mockup", "seal_ckks", "Mockup_Mockup "})
    EXPECT_FALSE(HeContext::isRegisteredContext(other)) << other;
  const auto& registry = HeContext::getContextRegistry();
  ASSERT_EQ(registry.count("Mockup_Mockup"), 1u);
  ASSERT_EQ(registry.count("SEAL_CKKS"), 1u);
  EXPECT_EQ(typeid(*registry.at("Mockup_Mockup")), typeid(MockupContext));
  EXPECT_EQ(typeid(*registry.at("SEAL_CKKS")), typeid(SealCkksContext));
  EXPECT_FALSE(registry.at("SEAL_CKKS")->isInitialized());
}

// ---- The same operations on the SEAL CKKS context ----

const int SEAL_SLOTS = 1024;
const int SEAL_DEPTH = 3;
const double SEAL_EPS = 1e-5;

std::shared_ptr<HeContext> sealContext()
{
  static std::shared_ptr<HeContext> he =
      HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(SEAL_SLOTS, SEAL_DEPTH, 40, 10));
  return he;
}

std::vector<double> sealValues(double offset)
{
  std::vector<double> v;
  for (int i = 0; i < SEAL_SLOTS; ++i)
    v.push_back(std::sin(i + offset));
  return v;
}

void expectClose(const std::vector<double>& actual, const std::vector<double>& expected,
                 const std::string& what)
{
  ASSERT_EQ(actual.size(), expected.size()) << what;
  double worst = 0;
  for (size_t i = 0; i < actual.size(); ++i)
    worst = std::max(worst, std::abs(actual[i] - expected[i]));
  EXPECT_LT(worst, SEAL_EPS) << what;
}

TEST(TileOnBackendSeal, CiphertextOperandsAreAlignedAndTheOperandKept)
{
  auto he = sealContext();
  ASSERT_TRUE(he->getTraits().getSupportsModSwitch());
  Encoder encoder(*he);
  std::vector<double> a = sealValues(0), b = sealValues(1);
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, a, 3);
  encoder.encodeEncrypt(y, b, 1);
  x.add(y);
  EXPECT_EQ(x.getChainIndex(), 1);
  EXPECT_EQ(y.getChainIndex(), 1);
  std::vector<double> sum(SEAL_SLOTS);
  for (int i = 0; i < SEAL_SLOTS; ++i)
    sum[i] = a[i] + b[i];
  expectClose(encoder.decryptDecodeDouble(x), sum, "sum");

  // The higher operand is lowered through a copy.
  CTile low(*he), high(*he);
  encoder.encodeEncrypt(low, a, 1);
  encoder.encodeEncrypt(high, b, 3);
  low.multiply(high);
  EXPECT_EQ(low.getChainIndex(), 0);
  EXPECT_EQ(high.getChainIndex(), 3);
  std::vector<double> prod(SEAL_SLOTS);
  for (int i = 0; i < SEAL_SLOTS; ++i)
    prod[i] = a[i] * b[i];
  expectClose(encoder.decryptDecodeDouble(low), prod, "product");
  expectClose(encoder.decryptDecodeDouble(high), b, "operand");
}

TEST(TileOnBackendSeal, PlaintextOperandsAreLoweredOrReencoded)
{
  auto he = sealContext();
  Encoder encoder(*he);
  std::vector<double> a = sealValues(0), b = sealValues(2);
  std::vector<double> prod(SEAL_SLOTS);
  for (int i = 0; i < SEAL_SLOTS; ++i)
    prod[i] = a[i] * b[i];
  for (int pCi : {0, 3}) {
    SCOPED_TRACE("plaintext at " + std::to_string(pCi));
    PTile p(*he);
    encoder.encode(p, b, pCi);
    double scale = p.getScale();
    CTile x(*he);
    encoder.encodeEncrypt(x, a, 2);
    x.multiplyPlain(p);
    EXPECT_EQ(x.getChainIndex(), 1);
    EXPECT_EQ(p.getChainIndex(), pCi);
    EXPECT_EQ(p.getScale(), scale);
    expectClose(encoder.decryptDecodeDouble(x), prod, "product");
    expectClose(encoder.decodeDouble(p), b, "plaintext");
  }
}

TEST(TileOnBackendSeal, TransparentResultsAreReencryptedWithTheirValues)
{
  auto he = sealContext();
  Encoder encoder(*he);
  std::vector<double> a = sealValues(0), b = sealValues(3);
  std::vector<double> zeros(SEAL_SLOTS, 0.0), sum(SEAL_SLOTS);
  for (int i = 0; i < SEAL_SLOTS; ++i)
    sum[i] = a[i] + b[i];
  PTile p(*he), q(*he);
  encoder.encode(p, a, 2);
  encoder.encode(q, b, 2);

  CTile x(*he);
  encoder.encodeEncrypt(x, a, 2);
  x.sub(x);
  EXPECT_FALSE(x.getImpl().isTransparent());
  expectClose(encoder.decryptDecodeDouble(x), zeros, "x - x");

  // A transparent ciphertext that holds a plaintext's values: addPlain keeps
  // it transparent, addPlainRaw re-encrypts it without losing the values.
  CTile t(*he);
  encoder.encodeEncrypt(t, b, 2);
  t.getImpl().subRaw(t.getImpl());
  ASSERT_TRUE(t.getImpl().isTransparent());
  t.addPlain(p);
  EXPECT_TRUE(t.getImpl().isTransparent());
  expectClose(encoder.decryptDecodeDouble(t), a, "addPlain");
  t.addPlainRaw(q);
  EXPECT_FALSE(t.getImpl().isTransparent());
  EXPECT_EQ(t.getChainIndex(), 2);
  expectClose(encoder.decryptDecodeDouble(t), sum, "addPlainRaw");

  // The sum of two transparent ciphertexts, and a product by a plaintext.
  CTile u(*he), v(*he);
  encoder.encodeEncrypt(u, b, 2);
  encoder.encodeEncrypt(v, b, 2);
  u.getImpl().subRaw(u.getImpl());
  v.getImpl().subRaw(v.getImpl());
  u.addPlain(p);
  v.addPlain(q);
  u.add(v);
  EXPECT_FALSE(u.getImpl().isTransparent());
  expectClose(encoder.decryptDecodeDouble(u), sum, "add");

  // Saving a transparent tile writes a proper encryption of its values.
  CTile w(*he);
  encoder.encodeEncrypt(w, b, 1);
  w.getImpl().subRaw(w.getImpl());
  PTile p1(*he);
  encoder.encode(p1, a, 1);
  w.addPlain(p1);
  ASSERT_TRUE(w.getImpl().isTransparent());
  std::stringstream saved;
  w.save(saved);
  std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(*he, saved);
  ASSERT_EQ(typeid(*loaded), typeid(CTile));
  const CTile& back = static_cast<const CTile&>(*loaded);
  EXPECT_FALSE(back.getImpl().isTransparent());
  EXPECT_EQ(back.getChainIndex(), 1);
  expectClose(encoder.decryptDecodeDouble(back), a, "loaded");

  // An empty tile is left empty (its save fails in the backend).
  CTile empty(*he);
  std::stringstream none;
  EXPECT_THROW(empty.save(none), std::runtime_error);
  EXPECT_TRUE(empty.isEmpty());
}

TEST(TileOnBackendSeal, EncoderResolvesChainIndexesAndPassesBackendRefusals)
{
  auto he = sealContext();
  Encoder encoder(*he);
  EXPECT_EQ(encoder.resolveChainIndex(-1), SEAL_DEPTH);
  EXPECT_EQ(encoder.resolveChainIndex(0), 0);
  for (int bad : {-2, SEAL_DEPTH + 1}) {
    PTile p(*he);
    try {
      encoder.encode(p, 1.0, bad);
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), "Illegal chain index value " + std::to_string(bad) +
                                           " where max=" + std::to_string(SEAL_DEPTH));
    }
  }
  PTile p(*he);
  encoder.encode(p, 1.0);
  EXPECT_EQ(p.getChainIndex(), SEAL_DEPTH);
  EXPECT_EQ(encoder.getDefaultScale(-1), encoder.getDefaultScale(SEAL_DEPTH));

  CTile c(*he);
  EXPECT_THROW(encoder.encodeEncrypt(c, std::vector<double>(SEAL_SLOTS + 1, 1.0)),
               std::invalid_argument);
  encoder.setDecryptAddedNoiseEnabled(false);
  expectThrowWithMessage<std::runtime_error>([&] { encoder.setDecryptAddedNoiseEnabled(true); },
                                             "Enabling decrypt added noise not supported");
  expectThrowWithMessage<std::runtime_error>([&] { encoder.getDecryptAddedNoisePrecision(); },
                                             "Decrypt added noise precision not supported");

  // Error statistics of an accurate encryption: tiny differences, as CSV.
  std::vector<double> a = sealValues(0);
  encoder.encodeEncrypt(c, a);
  std::ostringstream csv;
  encoder.printErrorStats(c, a, csv, true);
  double maxDiff = -1, mean = -1, stddev = -1;
  char comma1 = 0, comma2 = 0;
  std::istringstream fields(csv.str());
  fields >> maxDiff >> comma1 >> mean >> comma2 >> stddev;
  EXPECT_EQ(comma1, ',');
  EXPECT_EQ(comma2, ',');
  EXPECT_GE(maxDiff, mean);
  EXPECT_LT(maxDiff, SEAL_EPS);
  EXPECT_GE(stddev, 0);
  EXPECT_EQ(csv.str().find('\n'), std::string::npos);
}

} // namespace
