#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractBootstrapEvaluator.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;
typedef std::vector<cx> CVec;

const int SLOTS = 8;
const int DEPTH = 5;
const int MIN_BOOTSTRAP_CHAIN_INDEX = 1;
const int CHAIN_INDEX_AFTER_BOOTSTRAP = 4;

/// Moves a mockup ciphertext to the target chain index (values and scale
/// unchanged) and records the chain index each bootstrapped tile had.
class RecordingBootstrapEvaluator : public AbstractBootstrapEvaluator
{
public:
  RecordingBootstrapEvaluator(const HeContext& he, const BootstrapConfig& config,
                              std::vector<int>& calls)
      : AbstractBootstrapEvaluator(he, config), calls(calls)
  {
  }

  void bootstrap(CTile& c) override
  {
    calls.push_back(c.getChainIndex());
    // The mockup body ends with the chain index, which a load takes as it is.
    std::stringstream body;
    c.getImpl().save(body);
    std::string bytes = body.str();
    int32_t target = he.getChainIndexAfterBootstrapping();
    std::memcpy(&bytes[bytes.size() - sizeof(target)], &target, sizeof(target));
    std::istringstream in(bytes);
    c.getImpl().load(in);
  }

private:
  std::vector<int>& calls;
};

/// A mockup context that bootstraps through the recording evaluator, with or
/// without the mod-switch trait.
class BootstrappingMockupContext : public MockupContext
{
public:
  explicit BootstrappingMockupContext(bool modSwitch) { traits.setSupportsModSwitch(modSwitch); }

  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override
  {
    return std::make_shared<RecordingBootstrapEvaluator>(*this, config, bootstrapCalls);
  }

  mutable std::vector<int> bootstrapCalls;
};

std::shared_ptr<BootstrappingMockupContext> makeBootstrappingContext(bool modSwitch,
                                                                     bool automatic)
{
  auto he = std::make_shared<BootstrappingMockupContext>(modSwitch);
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, DEPTH);
  req.bootstrappable = true;
  req.automaticBootstrapping = automatic;
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = MIN_BOOTSTRAP_CHAIN_INDEX;
  config.targetChainIndex = CHAIN_INDEX_AFTER_BOOTSTRAP;
  req.bootstrapConfig = config;
  he->init(req);
  return he;
}

/// A mockup ciphertext that reports itself transparent while all its values
/// are zero (as a difference of a ciphertext with itself is in CKKS), and
/// reports the device it was last moved to.
class TestCiphertext : public MockupCiphertext
{
public:
  explicit TestCiphertext(const MockupContext& he) : MockupCiphertext(he) {}

  bool isTransparent() const override
  {
    if (isEmpty())
      return false;
    for (const cx& v : getRawValues())
      if (v != cx(0, 0))
        return false;
    return true;
  }

  void toDevice(DeviceType d) override { device = d; }
  DeviceType getCurrentDevice() const override { return device; }

protected:
  std::shared_ptr<AbstractCiphertext> doClone() const override
  {
    auto copy =
        std::make_shared<TestCiphertext>(static_cast<const MockupContext&>(getContext()));
    std::stringstream body;
    save(body);
    copy->load(body);
    copy->setScale(getScale());
    copy->device = device;
    return copy;
  }

private:
  DeviceType device = DEVICE_CPU;
};

class TestMockupContext : public MockupContext
{
public:
  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override
  {
    return std::make_shared<TestCiphertext>(*this);
  }
};

CVec xValues()
{
  CVec v;
  for (int i = 0; i < SLOTS; ++i)
    v.push_back(cx(i + 1, 0.5));
  return v;
}

CVec yValues()
{
  CVec v;
  for (int i = 0; i < SLOTS; ++i)
    v.push_back(cx(2 - 0.5 * i, -1));
  return v;
}

CVec pValues()
{
  CVec v;
  for (int i = 0; i < SLOTS; ++i)
    v.push_back(cx(0.25 * (i + 1), 0.125));
  return v;
}

void expectValues(const CVec& actual, const CVec& expected, const std::string& what)
{
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(std::abs(actual[i] - expected[i]), 0, 1e-12) << what << " slot " << i;
}

struct Count
{
  int code;
  int chainIndex;
  int n;
};

/// Every counter of the run statistics: the listed ones, and zero elsewhere.
void expectExactCounts(const RunStats& stats, const std::vector<Count>& expected,
                       const std::string& what)
{
  for (int code = 0; code < RunStats::NUM_OPERATIONS; ++code)
    for (int ci = 0; ci <= DEPTH; ++ci) {
      int want = 0;
      for (const Count& c : expected)
        if (c.code == code && c.chainIndex == ci)
          want += c.n;
      EXPECT_EQ(stats.getCount(code, ci), want)
          << what << ": " << RunStats::getOperationNames()[code] << " at chain index " << ci;
    }
}

typedef std::function<void(CTile& x, CTile& y, PTile& p)> Operation;
typedef std::function<cx(cx x, cx y, cx p)> SlotValue;

struct ManagementCase
{
  const char* name;
  bool modSwitch;
  bool automatic;
  int xCi, yCi, pCi;
  Operation op;
  int xCiAfter, yCiAfter, pCiAfter;
  std::vector<int> bootstrapCalls;
  std::vector<Count> counts;
  SlotValue value;     // the expected value of x's slots afterwards
  std::string error;   // the expected std::invalid_argument instead
};

const int ADD = RunStats::ADD_RAW, SUB = RunStats::SUB_RAW, MUL = RunStats::MULTIPLY_RAW,
          RELIN = RunStats::RELINEARIZE, RESCALE = RunStats::RESCALE_RAW,
          COPY = RunStats::C_COPY, ADDP = RunStats::ADD_PLAIN_RAW,
          SUBP = RunStats::SUB_PLAIN_RAW, MULP = RunStats::MULTIPLY_PLAIN_RAW,
          SQR = RunStats::SQUARE_RAW, ENC = RunStats::ENCODE, DEC = RunStats::DECODE_DOUBLE;

cx sum(cx x, cx y, cx) { return x + y; }
cx diff(cx x, cx y, cx) { return x - y; }
cx prod(cx x, cx y, cx) { return x * y; }
cx plainSum(cx x, cx, cx p) { return x + p; }
cx plainDiff(cx x, cx, cx p) { return x - p; }
cx plainProd(cx x, cx, cx p) { return x * p; }
cx xSquared(cx x, cx, cx) { return x * x; }

std::vector<ManagementCase> managementCases()
{
  return {
      {"add lowers this tile", true, false, 5, 3, 5,
       [](CTile& x, CTile& y, PTile&) { x.add(y); }, 3, 3, 5, {}, {{ADD, 3, 1}}, sum, ""},
      {"add lowers a copy of the operand", true, false, 3, 5, 5,
       [](CTile& x, CTile& y, PTile&) { x.add(y); }, 3, 5, 5, {}, {{COPY, 5, 1}, {ADD, 3, 1}},
       sum, ""},
      {"subRaw lowers a copy of the operand", true, false, 2, 4, 5,
       [](CTile& x, CTile& y, PTile&) { x.subRaw(y); }, 2, 4, 5, {},
       {{COPY, 4, 1}, {SUB, 2, 1}}, diff, ""},
      {"add at the bootstrapping chain index never bootstraps", true, true, 1, 1, 5,
       [](CTile& x, CTile& y, PTile&) { x.add(y); }, 1, 1, 5, {}, {{ADD, 1, 1}}, sum, ""},
      {"multiply bootstraps this tile and a copy of the operand", true, true, 1, 1, 5,
       [](CTile& x, CTile& y, PTile&) { x.multiply(y); }, 3, 1, 5, {1, 1},
       {{COPY, 1, 1}, {MUL, 4, 1}, {RELIN, 4, 1}, {RESCALE, 4, 1}}, prod, ""},
      {"multiplying a tile by itself bootstraps it once", true, true, 1, 5, 5,
       [](CTile& x, CTile&, PTile&) { x.multiply(x); }, 3, 5, 5, {1},
       {{MUL, 4, 1}, {RELIN, 4, 1}, {RESCALE, 4, 1}}, xSquared, ""},
      {"a bootstrapped copy is then aligned", true, true, 2, 1, 5,
       [](CTile& x, CTile& y, PTile&) { x.multiply(y); }, 1, 1, 5, {1},
       {{COPY, 1, 1}, {COPY, 4, 1}, {MUL, 2, 1}, {RELIN, 2, 1}, {RESCALE, 2, 1}}, prod, ""},
      {"multiplyRaw below the bootstrapping chain index does not bootstrap", true, true, 0, 0, 5,
       [](CTile& x, CTile& y, PTile&) { x.multiplyRaw(y); }, 0, 0, 5, {}, {{MUL, 0, 1}}, prod,
       ""},
      {"multiply without automatic bootstrapping", true, false, 1, 1, 5,
       [](CTile& x, CTile& y, PTile&) { x.multiply(y); }, 0, 1, 5, {},
       {{MUL, 1, 1}, {RELIN, 1, 1}, {RESCALE, 1, 1}}, prod, ""},
      {"multiplyScalar(double) bootstraps", true, true, 1, 5, 5,
       [](CTile& x, CTile&, PTile&) { x.multiplyScalar(2.5); }, 3, 5, 5, {1},
       {{ENC, 4, 1}, {MULP, 4, 1}, {RESCALE, 4, 1}},
       [](cx x, cx, cx) { return 2.5 * x; }, ""},
      {"multiplyScalar(int) does not bootstrap", true, true, 1, 5, 5,
       [](CTile& x, CTile&, PTile&) { x.multiplyScalar(3); }, 1, 5, 5, {}, {{MULP, 1, 1}},
       [](cx x, cx, cx) { return 3.0 * x; }, ""},
      {"square bootstraps this tile", true, true, 1, 5, 5,
       [](CTile& x, CTile&, PTile&) { x.square(); }, 3, 5, 5, {1},
       {{SQR, 4, 1}, {RELIN, 4, 1}, {RESCALE, 4, 1}}, xSquared, ""},
      {"multiplyPlain bootstraps this tile and lowers a copy of the plaintext", true, true, 1, 5,
       5, [](CTile& x, CTile&, PTile& p) { x.multiplyPlain(p); }, 3, 5, 5, {1},
       {{MULP, 4, 1}, {RESCALE, 4, 1}}, plainProd, ""},
      {"addPlain re-encodes a lower plaintext", true, false, 4, 5, 2,
       [](CTile& x, CTile&, PTile& p) { x.addPlain(p); }, 4, 5, 2, {},
       {{DEC, 2, 1}, {ENC, 4, 1}, {ADDP, 4, 1}}, plainSum, ""},
      {"multiplyPlainRaw re-encodes a lower plaintext", true, false, 3, 5, 1,
       [](CTile& x, CTile&, PTile& p) { x.multiplyPlainRaw(p); }, 3, 5, 1, {},
       {{DEC, 1, 1}, {ENC, 3, 1}, {MULP, 3, 1}}, plainProd, ""},
      {"multiplyPlain lowers a copy of a higher plaintext", true, false, 2, 5, 4,
       [](CTile& x, CTile&, PTile& p) { x.multiplyPlain(p); }, 1, 5, 4, {},
       {{MULP, 2, 1}, {RESCALE, 2, 1}}, plainProd, ""},
      {"subPlain at equal chain indexes", true, false, 3, 5, 3,
       [](CTile& x, CTile&, PTile& p) { x.subPlain(p); }, 3, 5, 3, {}, {{SUBP, 3, 1}},
       plainDiff, ""},
      // Double dispatch runs the target's operation for the operand's kind.
      {"addTile with a CTile runs add", true, false, 5, 3, 5,
       [](CTile& x, CTile& y, PTile&) { x.addTile(y); }, 3, 3, 5, {}, {{ADD, 3, 1}}, sum, ""},
      {"addTileRaw with a PTile runs addPlainRaw", true, false, 3, 5, 3,
       [](CTile& x, CTile&, PTile& p) { x.addTileRaw(p); }, 3, 5, 3, {}, {{ADDP, 3, 1}},
       plainSum, ""},
      {"subTile with a CTile runs sub", true, false, 3, 5, 5,
       [](CTile& x, CTile& y, PTile&) { x.subTile(y); }, 3, 5, 5, {},
       {{COPY, 5, 1}, {SUB, 3, 1}}, diff, ""},
      {"subTileRaw with a PTile runs subPlainRaw", true, false, 4, 5, 2,
       [](CTile& x, CTile&, PTile& p) { x.subTileRaw(p); }, 4, 5, 2, {},
       {{DEC, 2, 1}, {ENC, 4, 1}, {SUBP, 4, 1}}, plainDiff, ""},
      {"multiplyTile with a PTile runs multiplyPlain", true, true, 1, 5, 5,
       [](CTile& x, CTile&, PTile& p) { x.multiplyTile(p); }, 3, 5, 5, {1},
       {{MULP, 4, 1}, {RESCALE, 4, 1}}, plainProd, ""},
      {"multiplyTileRaw with a CTile runs multiplyRaw", true, true, 1, 1, 5,
       [](CTile& x, CTile& y, PTile&) { x.multiplyTileRaw(y); }, 4, 1, 5, {1, 1},
       {{COPY, 1, 1}, {MUL, 4, 1}}, prod, ""},
      // Without the mod-switch trait nothing is lowered; a lower plaintext is
      // still re-encoded.
      {"add without mod switch leaves the mismatch to the backend", false, false, 5, 3, 5,
       [](CTile& x, CTile& y, PTile&) { x.add(y); }, 5, 3, 5, {}, {}, nullptr,
       "MockupCiphertext: mismatching chain indexes. This ciphertext: 5, other ciphertext: 3"},
      {"a lower plaintext is re-encoded without mod switch", false, false, 4, 5, 2,
       [](CTile& x, CTile&, PTile& p) { x.addPlain(p); }, 4, 5, 2, {},
       {{DEC, 2, 1}, {ENC, 4, 1}, {ADDP, 4, 1}}, plainSum, ""},
      {"a higher plaintext reaches the backend unchanged without mod switch", false, false, 2,
       5, 4, [](CTile& x, CTile&, PTile& p) { x.multiplyPlain(p); }, 2, 5, 4, {}, {}, nullptr,
       "MockupCiphertext: mismatching chain indexes. This ciphertext: 2, other plaintext: 4"},
  };
}

TEST(CTileManagement, TableOfOperationsAndChainIndexes)
{
  for (const ManagementCase& c : managementCases()) {
    SCOPED_TRACE(c.name);
    auto he = makeBootstrappingContext(c.modSwitch, c.automatic);
    Encoder encoder(*he);
    CTile x(*he), y(*he);
    PTile p(*he);
    encoder.encodeEncrypt(x, xValues(), c.xCi);
    encoder.encodeEncrypt(y, yValues(), c.yCi);
    encoder.encode(p, pValues(), c.pCi);
    p.setScale(3.0); // a re-encoded copy gets the encoder's scale; p keeps its own
    he->startOperationCountTrack();

    if (c.error.empty()) {
      c.op(x, y, p);
    } else {
      try {
        c.op(x, y, p);
        ADD_FAILURE() << "no exception";
      } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
      }
    }

    expectExactCounts(*he->getRunStats(), c.counts, c.name);
    EXPECT_EQ(he->bootstrapCalls, c.bootstrapCalls);
    EXPECT_EQ(x.getChainIndex(), c.xCiAfter);
    EXPECT_EQ(y.getChainIndex(), c.yCiAfter);
    EXPECT_EQ(p.getChainIndex(), c.pCiAfter);
    EXPECT_EQ(p.getScale(), 3.0);
    // The operands keep their values.
    expectValues(encoder.decryptDecodeComplex(y), yValues(), "y");
    expectValues(encoder.decodeComplex(p), pValues(), "p");
    if (c.value) {
      CVec expected;
      for (int i = 0; i < SLOTS; ++i)
        expected.push_back(c.value(xValues()[i], yValues()[i], pValues()[i]));
      expectValues(encoder.decryptDecodeComplex(x), expected, "x");
    }
  }
}

TEST(CTileManagement, MinimalChainIndexIsAskedOnlyUnderAutomaticBootstrapping)
{
  // A context that is not bootstrappable refuses getMinChainIndexForBootstrapping;
  // products must not ask it when automatic bootstrapping is off.
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, xValues(), 3);
  encoder.encodeEncrypt(y, yValues(), 3);
  x.multiply(y);
  x.square();
  x.multiplyScalar(0.5);
  EXPECT_EQ(x.getChainIndex(), 0);
}

TEST(CTileManagement, BootstrapOnAContextWithoutBootstrappingIsRefused)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile x(*he);
  encoder.encodeEncrypt(x, xValues(), 2);
  try {
    x.bootstrap();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "This HE context does not support bootstrap");
  }
  EXPECT_EQ(x.getChainIndex(), 2);
}

TEST(CTileManagement, ExplicitBootstrapUsesTheContextsEvaluator)
{
  auto he = makeBootstrappingContext(true, false);
  Encoder encoder(*he);
  CTile x(*he);
  encoder.encodeEncrypt(x, xValues(), 0);
  x.bootstrap();
  EXPECT_EQ(he->bootstrapCalls, std::vector<int>{0});
  EXPECT_EQ(x.getChainIndex(), CHAIN_INDEX_AFTER_BOOTSTRAP);
  expectValues(encoder.decryptDecodeComplex(x), xValues(), "x");
}

TEST(CTileManagement, GetMultiplyLeavesBothOperandsUnchanged)
{
  auto he = makeBootstrappingContext(true, true);
  Encoder encoder(*he);
  CTile x(*he), y(*he);
  encoder.encodeEncrypt(x, xValues(), 1);
  encoder.encodeEncrypt(y, yValues(), 3);
  CTile product = x.getMultiply(y);
  // Only the copy of x is bootstrapped (from 1 to 4); it is then lowered to
  // y's chain index 3 and multiplied down to 2.
  EXPECT_EQ(he->bootstrapCalls, std::vector<int>{1});
  EXPECT_EQ(product.getChainIndex(), 2);
  EXPECT_EQ(x.getChainIndex(), 1);
  EXPECT_EQ(y.getChainIndex(), 3);
  CVec expected;
  for (int i = 0; i < SLOTS; ++i)
    expected.push_back(xValues()[i] * yValues()[i]);
  expectValues(encoder.decryptDecodeComplex(product), expected, "product");
  expectValues(encoder.decryptDecodeComplex(x), xValues(), "x");
  expectValues(encoder.decryptDecodeComplex(y), yValues(), "y");
}

// ---- Rotation ----

TEST(CTileRotation, OffsetsAreFoldedAndMultiplesOfTheSlotCountSkipped)
{
  // offset, the offset the backend receives (0: no call)
  const std::vector<std::pair<int, int>> cases = {
      {0, 0},   {8, 0},   {-8, 0},  {16, 0},  {-24, 0}, {1, 1},   {-1, -1},  {3, 3},
      {-3, -3}, {7, 7},   {-7, -7}, {9, 1},   {-9, -1}, {17, 1},  {-17, -1}, {21, 5},
      {-21, -5}, {15, 7}, {-15, -7}};
  for (const auto& c : cases) {
    SCOPED_TRACE("rotate " + std::to_string(c.first));
    auto he = mockupContext(SLOTS, DEPTH);
    Encoder encoder(*he);
    CTile x(*he);
    encoder.encodeEncrypt(x, xValues(), DEPTH);
    he->startOperationCountTrack();
    x.rotate(c.first);
    const RunStats& stats = *he->getRunStats();
    if (c.second == 0) {
      EXPECT_EQ(stats.getTotalCount(RunStats::ROTATE), 0);
      EXPECT_TRUE(stats.getRotations().empty());
    } else {
      EXPECT_EQ(stats.getTotalCount(RunStats::ROTATE), 1);
      EXPECT_EQ(stats.getRotations(), std::set<int>{c.second});
    }
    CVec expected;
    for (int i = 0; i < SLOTS; ++i)
      expected.push_back(xValues()[((i + c.first) % SLOTS + SLOTS) % SLOTS]);
    expectValues(encoder.decryptDecodeComplex(x), expected, "x");
  }
}

// ---- Transparent results ----

struct TransparencyCase
{
  const char* name;
  std::function<void(CTile& zero, CTile& c, PTile& p)> op;
  int reencryptions;
};

TEST(CTileTransparency, TransparentResultsAreReplacedWhereTheRulesSay)
{
  // zero holds 0 (a transparent ciphertext here), c and p hold zeros too, so
  // every result is transparent; each re-encryption counts one "encrypt".
  const std::vector<TransparencyCase> cases = {
      {"sub of itself", [](CTile& z, CTile&, PTile&) { z.sub(z); }, 1},
      {"subRaw", [](CTile& z, CTile& c, PTile&) { z.subRaw(c); }, 1},
      {"add", [](CTile& z, CTile& c, PTile&) { z.add(c); }, 1},
      {"addRaw", [](CTile& z, CTile& c, PTile&) { z.addRaw(c); }, 1},
      {"multiply", [](CTile& z, CTile& c, PTile&) { z.multiply(c); }, 0},
      {"multiplyRaw", [](CTile& z, CTile& c, PTile&) { z.multiplyRaw(c); }, 0},
      {"addPlain", [](CTile& z, CTile&, PTile& p) { z.addPlain(p); }, 0},
      {"addPlainRaw", [](CTile& z, CTile&, PTile& p) { z.addPlainRaw(p); }, 1},
      {"subPlain", [](CTile& z, CTile&, PTile& p) { z.subPlain(p); }, 0},
      {"subPlainRaw", [](CTile& z, CTile&, PTile& p) { z.subPlainRaw(p); }, 0},
      {"multiplyPlain", [](CTile& z, CTile&, PTile& p) { z.multiplyPlain(p); }, 1},
      {"multiplyPlainRaw", [](CTile& z, CTile&, PTile& p) { z.multiplyPlainRaw(p); }, 1},
      {"addTile with a PTile", [](CTile& z, CTile&, PTile& p) { z.addTile(p); }, 0},
      {"addTileRaw with a PTile", [](CTile& z, CTile&, PTile& p) { z.addTileRaw(p); }, 1},
      {"subTile with a CTile", [](CTile& z, CTile& c, PTile&) { z.subTile(c); }, 1},
      {"square", [](CTile& z, CTile&, PTile&) { z.square(); }, 0},
      {"negate", [](CTile& z, CTile&, PTile&) { z.negate(); }, 0},
  };
  for (const TransparencyCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto he = mockupContext<TestMockupContext>(SLOTS, DEPTH);
    Encoder encoder(*he);
    CTile zero(*he), other(*he);
    PTile p(*he);
    encoder.encodeEncrypt(zero, 0.0, 3);
    encoder.encodeEncrypt(other, 0.0, 3);
    encoder.encode(p, 0.0, 3);
    he->startOperationCountTrack();
    c.op(zero, other, p);
    EXPECT_EQ(he->getRunStats()->getTotalCount(RunStats::ENCRYPT), c.reencryptions);
    // The fresh encryption keeps the chain index.
    EXPECT_EQ(he->getRunStats()->getCount(RunStats::ENCRYPT, zero.getChainIndex()),
              c.reencryptions);
  }
}

TEST(CTileTransparency, SavingATransparentTileWritesAFreshEncryption)
{
  auto he = mockupContext<TestMockupContext>(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile zero(*he), nonZero(*he);
  encoder.encodeEncrypt(zero, 0.0, 2);
  encoder.encodeEncrypt(nonZero, 1.0, 2);
  he->startOperationCountTrack();
  std::ostringstream out;
  nonZero.save(out);
  EXPECT_EQ(he->getRunStats()->getTotalCount(RunStats::ENCRYPT), 0);
  zero.save(out);
  EXPECT_EQ(he->getRunStats()->getCount(RunStats::ENCRYPT, 2), 1);
}

// ---- Copies ----

TEST(CTileCopies, CopiesAreDeepAndIndependent)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile x(*he);
  encoder.encodeEncrypt(x, xValues(), 4);
  x.setScale(2.0);

  CTile copy(x);
  CTile assigned(*he);
  assigned = x;
  std::unique_ptr<Tile> cloned = x.clone();
  ASSERT_EQ(typeid(*cloned), typeid(CTile));
  for (CTile* t : {&copy, &assigned, static_cast<CTile*>(cloned.get())}) {
    EXPECT_EQ(t->getChainIndex(), 4);
    EXPECT_EQ(t->getScale(), 2.0);
    EXPECT_NE(&t->getImpl(), &x.getImpl());
    expectValues(encoder.decryptDecodeComplex(*t), xValues(), "copy");
    t->negate();
    t->setScale(5.0);
    t->setChainIndex(3);
  }
  EXPECT_EQ(x.getChainIndex(), 4);
  EXPECT_EQ(x.getScale(), 2.0);
  expectValues(encoder.decryptDecodeComplex(x), xValues(), "source");

  const AbstractCiphertext* before = &x.getImpl();
  CTile& self = x;
  x = self;
  EXPECT_EQ(&x.getImpl(), before);
  expectValues(encoder.decryptDecodeComplex(x), xValues(), "self-assigned");

  CTile moved(std::move(copy));
  EXPECT_EQ(moved.getChainIndex(), 3);
  copy = x; // a moved-from tile can be assigned again
  EXPECT_EQ(copy.getChainIndex(), 4);
}

TEST(PTileCopies, CopiesAreDeepAndIndependent)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  PTile p(*he);
  encoder.encode(p, pValues(), 2);
  PTile copy(p);
  std::unique_ptr<Tile> cloned = p.clone();
  ASSERT_EQ(typeid(*cloned), typeid(PTile));
  copy.setChainIndex(5); // plaintexts may be relabelled upwards
  copy.setScale(7.0);
  cloned->reduceChainIndex();
  EXPECT_EQ(cloned->getChainIndex(), 1);
  EXPECT_EQ(p.getChainIndex(), 2);
  EXPECT_EQ(p.getScale(), 1.0);
  expectValues(encoder.decodeComplex(copy), pValues(), "copy");
}

TEST(TileForwarding, QueriesReachTheBackend)
{
  auto he = mockupContext<TestMockupContext>(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile c(*he);
  PTile p(*he);
  EXPECT_TRUE(c.isEmpty());
  encoder.encodeEncrypt(c, xValues(), 3);
  encoder.encode(p, xValues(), 3);
  EXPECT_FALSE(c.isEmpty());
  EXPECT_EQ(c.slotCount(), SLOTS);
  EXPECT_EQ(p.slotCount(), SLOTS);
  EXPECT_EQ(&c.getHeContext(), he.get());
  EXPECT_EQ(&p.getHeContext(), he.get());
  EXPECT_EQ(c.getContextId(), he->getContextId());
  EXPECT_EQ(c.getClassName(), "CTile");
  EXPECT_EQ(p.getClassName(), "PTile");
  EXPECT_FALSE(c.allowsStorage());
  EXPECT_EQ(c.getEstimatedMemoryUsageBytes(), c.getImpl().getEstimatedMemoryUsageBytes());
  c.toDevice(DEVICE_GPU);
  EXPECT_EQ(c.getCurrentDevice(), DEVICE_GPU);
  c.reduceChainIndex();
  EXPECT_EQ(c.getChainIndex(), 2);
  try {
    c.setChainIndex(3);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()),
              "Given chain index is out of range or higher than current. Given CI= 3 current CI= 2");
  }
  std::ostringstream tileText, backendText;
  c.debugPrint("t", VERBOSITY_DETAILED, tileText);
  c.getImpl().debugPrint("t", VERBOSITY_DETAILED, backendText);
  EXPECT_EQ(tileText.str(), backendText.str());
}

TEST(TilePrints, MinusOneShowsEverySlot)
{
  PrintOptionsGuard guard;
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  PTile p(*he);
  encoder.encode(p, std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8});
  CTile c(*he);
  encoder.encrypt(c, p);
  auto valuesLine = [](const Tile& tile) {
    std::istringstream lines(tile.toString());
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    return line;
  };
  EXPECT_EQ(valuesLine(c), "(1,0) (2,0) (3,0) (4,0) ...  (8,0)");
  EXPECT_EQ(valuesLine(p), "(1,0) (2,0) (3,0) (4,0) ...  (8,0)");
  getPrintOptions().numPrintedElements = -1;
  for (int last : {1, 0, 3}) {
    getPrintOptions().numPrintedLastElements = last;
    EXPECT_EQ(valuesLine(c), "(1,0) (2,0) (3,0) (4,0) (5,0) (6,0) (7,0) (8,0)") << last;
    EXPECT_EQ(valuesLine(p), "(1,0) (2,0) (3,0) (4,0) (5,0) (6,0) (7,0) (8,0)") << last;
  }
}

TEST(CTileOperations, PlainForwardingOperationsComputeTheirResults)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  typedef std::function<void(CTile&)> Op;
  typedef std::function<cx(int i)> Expected;
  const CVec x = xValues();
  const std::vector<std::tuple<const char*, Op, Expected>> cases = {
      {"negate", [](CTile& t) { t.negate(); }, [&](int i) { return -x[i]; }},
      {"conjugate", [](CTile& t) { t.conjugate(); }, [&](int i) { return std::conj(x[i]); }},
      {"addScalar(int)", [](CTile& t) { t.addScalar(2); }, [&](int i) { return x[i] + 2.0; }},
      {"addScalar(double)", [](CTile& t) { t.addScalar(0.75); },
       [&](int i) { return x[i] + 0.75; }},
      {"multiplyImaginaryUnit", [](CTile& t) { t.multiplyImaginaryUnit(); },
       [&](int i) { return x[i] * cx(0, 1); }},
      {"nullifyImaginaryPart", [](CTile& t) { t.nullifyImaginaryPart(); },
       [&](int i) { return cx(x[i].real(), 0); }},
      {"multiplyByChangingScale", [](CTile& t) { t.multiplyByChangingScale(4.0); },
       [&](int i) { return 4.0 * x[i]; }},
      {"innerSum", [](CTile& t) { t.innerSum(1, 4); },
       [&](int i) { return x[i] + x[(i + 1) % 8] + x[(i + 2) % 8] + x[(i + 3) % 8]; }},
      {"innerSum reversed", [](CTile& t) { t.innerSum(1, 2, true); },
       [&](int i) { return x[i] + x[(i + 7) % 8]; }},
      {"sumExpBySquaringLeftToRight", [](CTile& t) { t.sumExpBySquaringLeftToRight(3); },
       [&](int i) { return x[i] + x[(i + 1) % 8] + x[(i + 2) % 8]; }},
      {"sumExpBySquaringRightToLeft", [](CTile& t) { t.sumExpBySquaringRightToLeft(3); },
       [&](int i) { return x[i] + x[(i + 1) % 8] + x[(i + 2) % 8]; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::get<0>(c));
    CTile t(*he);
    encoder.encodeEncrypt(t, x, DEPTH);
    std::get<1>(c)(t);
    CVec expected;
    for (int i = 0; i < SLOTS; ++i)
      expected.push_back(std::get<2>(c)(i));
    expectValues(encoder.decryptDecodeComplex(t), expected, std::get<0>(c));
  }
}

// ---- Scale check ----

TEST(CTileScale, CheckScaleWarnsFailsAndFixes)
{
  struct Case
  {
    double scale;
    double warnEps, errorEps;
    bool fix;
    double expectedScale;
    std::string output;
    std::string error;
    double scaleAfter;
  };
  // The mockup's accurate scale is its default scale, 1.
  const double TINY = std::ldexp(1.0, -40);
  const std::vector<Case> cases = {
      {1.0, 0, 1e-10, false, -1.0, "", "", 1.0},
      {1.0 + TINY, 0, 1e-10, false, -1.0,
       "WARNING: t, wrong scale: actual=1 expected=1 diff=9.09495e-13 epsilon=0\n", "",
       1.0 + TINY},
      {1.0 + TINY, 0, 1e-10, true, -1.0,
       "WARNING: t, wrong scale: actual=1 expected=1 diff=9.09495e-13 epsilon=0\n", "", 1.0},
      {1.0 + TINY, 1e-11, 1e-10, true, -1.0, "", "", 1.0},
      {3.0, 0, 1e-10, true, 3.0, "", "", 3.0},
      // The tolerances are relative to the larger scale.
      {4.0, 0.2, 0.3, true, 3.0,
       "WARNING: t, wrong scale: actual=4 expected=3 diff=1 epsilon=0.2\n", "", 3.0},
      {2.0, 0, 1e-10, true, -1.0, "",
       "ERROR: t, wrong scale: actual=2.000000 expected=1.000000 diff=1.000000 epsilon=0.000000",
       2.0},
      {4.0, 0.1, 0.2, false, 3.0, "",
       "ERROR: t, wrong scale: actual=4.000000 expected=3.000000 diff=1.000000 epsilon=0.200000",
       4.0},
  };
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  for (const Case& c : cases) {
    CTile t(*he);
    encoder.encodeEncrypt(t, xValues(), 2);
    t.setScale(c.scale);
    testing::internal::CaptureStdout();
    std::string error;
    try {
      t.checkScale("t", c.warnEps, c.errorEps, c.fix, c.expectedScale);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(t.getScale(), c.scaleAfter);
  }
}

// ---- Saved forms ----

TEST(TileSaving, SavedFormIsTheHeaderFollowedByTheBackendBody)
{
  auto he = mockupContext(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile c(*he);
  PTile p(*he);
  encoder.encodeEncrypt(c, xValues(), 3);
  encoder.encode(p, pValues(), 2);

  for (const Tile* t : std::vector<const Tile*>{&c, &p}) {
    std::ostringstream saved, expected;
    std::streamoff written = t->save(saved);
    SaveableHeader(t->getClassName(), he->getContextId()).save(expected);
    size_t headerSize = expected.str().size();
    EXPECT_EQ(headerSize, 17 + t->getClassName().size());
    if (t == &c)
      c.getImpl().save(expected);
    else
      p.getImpl().save(expected);
    EXPECT_EQ(saved.str(), expected.str());
    // The mockup body: a count, the values, the chain index.
    EXPECT_EQ(saved.str().size(), headerSize + 8 + 16 * SLOTS + 4);
    EXPECT_EQ(written, static_cast<std::streamoff>(saved.str().size()));
  }
}

TEST(TileSaving, LoadRestoresValuesAndChainIndexOnTheDefaultDevice)
{
  auto he = mockupContext<TestMockupContext>(SLOTS, DEPTH);
  Encoder encoder(*he);
  CTile c(*he);
  encoder.encodeEncrypt(c, xValues(), 3);
  std::stringstream buffer;
  std::streamoff written = c.save(buffer);

  he->setDefaultDevice(DEVICE_GPU);
  CTile loaded(*he);
  EXPECT_EQ(loaded.load(buffer), written);
  EXPECT_EQ(loaded.getChainIndex(), 3);
  EXPECT_EQ(loaded.getCurrentDevice(), DEVICE_GPU);
  EXPECT_TRUE(loaded.isPopulated());
  expectValues(encoder.decryptDecodeComplex(loaded), xValues(), "loaded");
}

TEST(TileSaving, PTilesLoadUnderAnyContextButCTilesOnlyUnderTheirOwn)
{
  auto he = mockupContext(SLOTS, DEPTH);
  auto other = mockupContext(SLOTS, DEPTH);
  ASSERT_NE(he->getContextId(), other->getContextId());
  Encoder encoder(*he);
  CTile c(*he);
  PTile p(*he);
  encoder.encodeEncrypt(c, xValues(), 3);
  encoder.encode(p, pValues(), 2);
  std::stringstream savedC, savedP;
  c.save(savedC);
  p.save(savedP);

  PTile pElsewhere(*other);
  pElsewhere.load(savedP);
  expectValues(Encoder(*other).decodeComplex(pElsewhere), pValues(), "PTile");

  CTile cElsewhere(*other);
  testing::internal::CaptureStderr();
  EXPECT_THROW(cElsewhere.load(savedC), std::runtime_error);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(cElsewhere.isEmpty());

  // A stream holding a CTile does not load into a PTile.
  savedC.seekg(0);
  PTile wrongKind(*he);
  testing::internal::CaptureStderr();
  EXPECT_THROW(wrongKind.load(savedC), std::runtime_error);
  testing::internal::GetCapturedStderr();
}

} // namespace
