#include <gtest/gtest.h>

#include <complex>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/Encoder.h"
#include "hebase/mockup/EmptyContext.h"
#include "math/TTEncoder.h"

using namespace quorvane;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::interleavedDim;
using qvtest::randomTensor;
using qvtest::shapeOf;

namespace {

struct PackingCase
{
  std::string name;
  TTShape shape;
  std::vector<int> dims;
};

// Every packing kind, tensor orders 1 to 4, on 16 slots.
std::vector<PackingCase> packingCases()
{
  TTShape diag = shapeOf({TTDim(8, 4), TTDim(8, 4)}, true);
  TTShape diagPadded = shapeOf({TTDim(6, 2), TTDim(7, 8)}, true);
  return {
      {"order 1", TTShape({16}), {10}},
      {"order 1 over tiles", TTShape({16}), {37}},
      {"order 2", TTShape({4, 4}), {3, 5}},
      {"order 3", TTShape({2, 2, 4}), {3, 2, 5}},
      {"order 4", TTShape({2, 2, 2, 2}), {3, 1, 2, 3}},
      {"interleaved", shapeOf({interleavedDim(5, 4), TTDim(3, 4)}), {5, 3}},
      {"interleaved raised", shapeOf({interleavedDim(3, 2, 4), TTDim(8, 8)}), {3, 8}},
      {"duplicated", shapeOf({TTDim(1, 4, 4), TTDim(5, 4)}), {1, 5}},
      {"partly duplicated", shapeOf({TTDim(1, 4, 2), TTDim(3, 4)}), {1, 3}},
      {"complex", shapeOf({TTDim(2, 2), TTDim(12, 8, 1, false, false, true)}), {2, 12}},
      {"complex duplicated", shapeOf({TTDim(1, 2, 4, false, false, true), TTDim(5, 8)}), {1, 5}},
      {"diagonal", diag, {8, 8}},
      {"diagonal padded", diagPadded, {6, 7}},
  };
}

// A tensor of two values: an element that agrees, then the case under test.
DoubleTensor twoValues(double first, double second)
{
  DoubleTensor res({2});
  res.at(0) = first;
  res.at(1) = second;
  return res;
}

} // namespace

class TTEncoderTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 5);
};

TEST_F(TTEncoderTest, EveryPackingRoundTrips)
{
  for (const PackingCase& c : packingCases()) {
    SCOPED_TRACE(c.name + " " + c.shape.toString());
    const DoubleTensor values = randomTensor(c.dims, 7);
    const TTEncoder encoder(*he);
    PTileTensor plain(*he);
    encoder.encode(plain, c.shape, values);
    EXPECT_TRUE(plain.isPacked());
    EXPECT_FALSE(plain.getShape().isIncomplete());
    EXPECT_EQ(plain.getNumUsedTiles(), plain.getShape().getNumUsedTiles());
    // Every slot holds its element, unused slots 0.
    EXPECT_LT(plain.assertIntegrity(1e-9), 1e-9);
    EXPECT_EQ(qvtest::maxDiff(encoder.decodeDouble(plain), values), 0);

    CTileTensor cipher(*he);
    encoder.encrypt(cipher, plain);
    EXPECT_EQ(cipher.getShape(), plain.getShape());
    EXPECT_LT(cipher.assertIntegrity(1e-9), 1e-9);
    EXPECT_EQ(qvtest::maxDiff(encoder.decryptDecodeDouble(cipher), values), 0);
    EXPECT_EQ(encoder.assertEquals(cipher, "round trip", values), 0);
  }
}

TEST_F(TTEncoderTest, SlotsOfATile)
{
  // [3/4, 5/4]: tile (0, 1) holds columns 4 to 7 of rows 0 to 2; element (i, j) = 10 i + j.
  DoubleTensor values({3, 5});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 5; ++j)
      values.at(i, j) = 10 * i + j;
  const PTileTensor plain = encoded(*he, TTShape({4, 4}), values);
  EXPECT_EQ(plain.getShape().toString(), "[3/4, 5/4]");
  EXPECT_EQ(plain.getShape().getExternalSizes(), std::vector<int>({1, 2}));
  const std::vector<double> slots = Encoder(*he).decodeDouble(plain.getTile(1));
  EXPECT_EQ(slots, std::vector<double>({4, 0, 0, 0, 14, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0}));

  // A fully duplicated dimension repeats its single value over the tile.
  DoubleTensor row({1, 2});
  row.at(0) = 1.5;
  row.at(1) = -2;
  const PTileTensor dup = encoded(*he, shapeOf({TTDim(1, 4, 4), TTDim(2, 4)}), row);
  EXPECT_EQ(Encoder(*he).decodeDouble(dup.getTile(0)),
            std::vector<double>({1.5, -2, 0, 0, 1.5, -2, 0, 0, 1.5, -2, 0, 0, 1.5, -2, 0, 0}));

  // Complex packing: slot j holds values 2j and 2j + 1.
  auto he4 = qvtest::createMockup(4, 2);
  DoubleTensor eight({8});
  for (int i = 0; i < 8; ++i)
    eight.at(i) = i + 1;
  const PTileTensor packed = encoded(*he4, shapeOf({TTDim(8, 4, 1, false, false, true)}), eight);
  EXPECT_EQ(Encoder(*he4).decodeComplex(packed.getTile(0)),
            (std::vector<std::complex<double>>{{1, 2}, {3, 4}, {5, 6}, {7, 8}}));
}

TEST_F(TTEncoderTest, EncodingErrors)
{
  const TTEncoder encoder(*he);
  TTShape twoComplex = shapeOf({TTDim(2, 4, 1, false, false, true), TTDim(2, 4, 1, false, false, true)});
  struct Case
  {
    TTShape shape;
    std::vector<int> dims;
    std::string message;
  };
  const std::vector<Case> cases = {
      {TTShape(), {3}, "Tile Tensor shape must be populated with at least one dimension"},
      {TTShape({4, 8}), {3, 5},
       "Tile Tensor shape defines tiles with incompatible number of slots (32 slots, while 16 "
       "were expected)"},
      {shapeOf({TTDim(3, 4, 1, true), TTDim(4, 4)}), {3, 4},
       "Tile Tensor shape defines unknown unused slots"},
      {TTShape({4, 4}), {15},
       "Values are of mismatched shape: received 1 dimensions, expecting 2 dimensions"},
      {shapeOf({TTDim(4, 4), TTDim(5, 4)}), {3, 5},
       "Values are of mismatched shape: dimension 0 has size 3, mismatching tile tensor shape "
       "dimension"},
      {twoComplex, {2, 2}, "Cannot encode with more than one complex packed dim"},
      {shapeOf({TTDim(1, 4, 4), TTDim(5, 4)}), {2, 5},
       "Values are of mismatched shape: dimension 0 has size 2, mismatching tile tensor shape "
       "dimension"},
  };
  for (const Case& c : cases) {
    PTileTensor res(*he);
    const PTileTensor before = encoded(*he, TTShape({16}), randomTensor({4}, 1));
    res = before;
    EXPECT_EQ(qvtest::quietMessageOf<std::invalid_argument>(
                  [&] { encoder.encode(res, c.shape, randomTensor(c.dims, 2)); }),
              c.message);
    EXPECT_EQ(res.getShape(), before.getShape()) << "a refused encoding changes nothing";
  }
  // An incomplete complex-packed dimension refuses an odd number of values.
  EXPECT_EQ(qvtest::quietMessageOf<std::invalid_argument>([&] {
              PTileTensor res(*he);
              encoder.encode(res, shapeOf({TTDim(-1, 16, 1, false, false, true)}),
                             randomTensor({7}, 1));
            }),
            "complex-packing currently supports only even number of values");
  // A context without complex numbers refuses complex packing.
  class RealOnly : public MockupContext
  {
  public:
    RealOnly() { traits.setSupportsComplexNumbers(false); }
  };
  RealOnly real;
  real.init(HeConfigRequirement::insecure(16, 2));
  EXPECT_EQ(qvtest::quietMessageOf<std::invalid_argument>([&] {
              PTileTensor res(real);
              TTEncoder(real).encode(res, shapeOf({TTDim(8, 16, 1, false, false, true)}),
                                     randomTensor({8}, 1));
            }),
            "Cannot perform complex packing: complex numbers not supported by HE context");
  // Refused chain index.
  EXPECT_THROW(
      {
        PTileTensor res(*he);
        encoder.encode(res, TTShape({16}), randomTensor({3}, 1), 9);
      },
      std::invalid_argument);
}

// Each interleaved dimension is within 4 tiles per value; together they
// would make 96 tiles for 6 values.
TEST_F(TTEncoderTest, ShapesSpreadOverTooManyTilesAreRefusedBeforeAnyTile)
{
  TTShape spread = shapeOf({interleavedDim(3, 2, 12), interleavedDim(2, 8, 8)});
  const TTEncoder encoder(*he);
  PTileTensor res = encoded(*he, TTShape({16}), randomTensor({4}, 1));
  const std::vector<std::pair<std::string, std::function<void()>>> makers = {
      {"encode", [&] { encoder.encode(res, spread, randomTensor({3, 2}, 2)); }},
      {"a CTileTensor of the shape", [&] { CTileTensor made(*he, spread); }},
      {"a PTileTensor of the shape", [&] { PTileTensor made(*he, spread); }},
  };
  for (const auto& m : makers) {
    SCOPED_TRACE(m.first);
    EXPECT_EQ(qvtest::quietMessageOf<std::invalid_argument>(m.second),
              "Dimension 1 brings the interleaved dimensions to 96 tiles for 6 values, more "
              "than 4 tiles per value");
  }
  EXPECT_EQ(res.getShape().toString(), "[4/16]") << "a refused encoding changes nothing";
  // Within 4 tiles per value together, the shape encodes.
  spread.getDim(1).setInterleavedExternalSize(2);
  encoder.encode(res, spread, randomTensor({3, 2}, 2));
  EXPECT_EQ(res.getNumUsedTiles(), 24);
}

TEST_F(TTEncoderTest, ChainIndexes)
{
  const DoubleTensor values = randomTensor({3, 5}, 3);
  EXPECT_EQ(encrypted(*he, TTShape({4, 4}), values).getChainIndex(), he->getTopChainIndex());
  const CTileTensor low = encrypted(*he, TTShape({4, 4}), values, 2);
  EXPECT_EQ(low.getChainIndex(), 2);
  EXPECT_EQ(low.getTile(1).getChainIndex(), 2);
  EXPECT_EQ(encoded(*he, TTShape({4, 4}), values, 3).getChainIndex(), 3);
}

TEST_F(TTEncoderTest, DecodingAnUnencodedTensorIsRefused)
{
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { TTEncoder(*he).decodeDouble(PTileTensor(*he)); }, "Tile Tensor has not been encoded yet");
  CTileTensor res(*he);
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { TTEncoder(*he).encrypt(res, PTileTensor(*he)); },
      "This tile tensor has not been packed");
  PTileTensor plain(*he);
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { TTEncoder(*he).decrypt(plain, CTileTensor(*he)); },
      "This tile tensor has not been packed");
}

TEST_F(TTEncoderTest, OtherContextsAreRefused)
{
  auto other = qvtest::createMockup(16, 5);
  const CTileTensor c = encrypted(*other, TTShape({16}), randomTensor({4}, 1));
  PTileTensor res(*he);
  const std::string message = "The tile tensor belongs to another context (context id " +
                              std::to_string(other->getContextId()) + ", expected " +
                              std::to_string(he->getContextId()) + ")";
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { TTEncoder(*he).decrypt(res, c); }, message);
}

TEST_F(TTEncoderTest, LazyEncoding)
{
  const DoubleTensor values = randomTensor({3, 5}, 4);
  const TTEncoder lazy(*he, LAZY_ENCODING);
  PTileTensor plain(*he);
  lazy.encode(plain, TTShape({4, 4}), values, 2);
  EXPECT_EQ(plain.getLazyMode(), LAZY_ENCODING);
  EXPECT_FALSE(plain.isPacked());
  EXPECT_EQ(plain.getChainIndex(), 2);
  EXPECT_EQ(plain.getNumUsedTiles(), 2);
  EXPECT_EQ(qvtest::maxDiff(lazy.decodeDouble(plain), values), 0);

  plain.setChainIndex(1);
  EXPECT_EQ(plain.getChainIndex(), 1);
  EXPECT_FALSE(plain.isPacked());
  plain.wakeup();
  EXPECT_TRUE(plain.isPacked());
  EXPECT_EQ(plain.getLazyMode(), LAZY_ENCODING);
  EXPECT_EQ(plain.getTile(1).getChainIndex(), 1);
  EXPECT_LT(plain.assertIntegrity(1e-9), 1e-9);
  plain.sleep();
  EXPECT_FALSE(plain.isPacked());
  EXPECT_EQ(qvtest::maxDiff(TTEncoder(*he).decodeDouble(plain), values), 0);

  const std::string message = "Error - Chain index out of range. newChainIndex=6, should be 0..." +
                              std::to_string(he->getTopChainIndex());
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { plain.setLazyChainIndex(6); }, message);
  EXPECT_EQ(plain.getChainIndex(), 1);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { plain.setChainIndex(-1); },
                                                     "Error - Chain index out of range. "
                                                     "newChainIndex=-1, should be 0..." +
                                                         std::to_string(he->getTopChainIndex()));
  // Without explicit chain indexes any value is stored.
  qvtest::NoChainIndexMockupContext plainContext;
  plainContext.init(HeConfigRequirement::insecure(16, 2));
  PTileTensor free(plainContext);
  free.setLazyChainIndex(-1);
  EXPECT_EQ(free.getLazyChainIndex(), -1);
}

// A lazily encoded tensor holds no tiles until it is woken up: encryption
// refuses it unpacked (the ciphertext tensor keeps what it held) and encrypts
// it once woken.
TEST_F(TTEncoderTest, EncryptionNeedsALazyTensorWokenUp)
{
  const DoubleTensor values = randomTensor({4, 6}, 6);
  const TTShape shape({2, 8});
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, shape, values);
  ASSERT_FALSE(lazy.isPacked());
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { lazy.validatePacked(); },
                                                     "This tile tensor has not been packed");
  const TTEncoder encoder(*he);
  CTileTensor target = qvtest::encrypted(*he, TTShape({16}), randomTensor({16}, 7));
  const std::string before = qvtest::saved(target);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { encoder.encrypt(target, lazy); },
                                                     "This tile tensor has not been packed");
  EXPECT_EQ(qvtest::saved(target), before);

  lazy.wakeup();
  lazy.validatePacked();
  encoder.encrypt(target, lazy);
  EXPECT_EQ(target.getNumUsedTiles(), 2);
  EXPECT_EQ(target.getShape(), lazy.getShape());
  EXPECT_LT(qvtest::maxDiff(encoder.decryptDecodeDouble(target), values), 1e-9);
  EXPECT_EQ(target.getTileAt({1, 0}).getChainIndex(), lazy.getChainIndex());
}

TEST_F(TTEncoderTest, EmptyBackendEncodesNothing)
{
  EmptyContext empty;
  empty.init(HeConfigRequirement::insecure(16, 3));
  const TTEncoder encoder(empty);
  PTileTensor plain(empty);
  encoder.encode(plain, TTShape({4, 4}), randomTensor({3, 5}, 5));
  EXPECT_TRUE(plain.isPacked());
  EXPECT_EQ(plain.getNumUsedTiles(), 2);
  const DoubleTensor decoded = encoder.decodeDouble(plain);
  EXPECT_EQ(decoded.getShape(), std::vector<int>({3, 5}));
  EXPECT_EQ(qvtest::maxDiff(decoded, DoubleTensor({3, 5})), 0);
}

TEST_F(TTEncoderTest, AssertEquals)
{
  DoubleTensor one({1});
  one.at(0) = 1.0;
  DoubleTensor nearOne(one);
  nearOne.at(0) = 1.0000001;
  const CTileTensor c = encrypted(*he, TTShape({16}), nearOne);
  const TTEncoder encoder(*he);
  EXPECT_NEAR(encoder.assertEquals(c, "near", one, 1e-6), 1e-7, 1e-12);

  DoubleTensor two(one);
  two.at(0) = 2.0;
  DoubleTensor twoPointOne(one);
  twoPointOne.at(0) = 2.1;
  const CTileTensor c2 = encrypted(*he, TTShape({16}), twoPointOne);
  qvtest::CoutCapture out;
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { encoder.assertEquals(c2, "far", two, 1e-6); }, "Assert Equals Failed");
  EXPECT_EQ(out.str().rfind("Error in checking diff:\nfar, at slot 0, expected value: ", 0), 0u)
      << out.str();
  EXPECT_NE(out.str().find(", relative-diff: "), std::string::npos);

  // Shapes are checked before the values.
  EXPECT_THROW(encoder.assertEquals(encrypted(*he, TTShape({4, 4}), randomTensor({3, 4}, 1)), "shape",
                                    randomTensor({4, 3}, 1)),
               std::invalid_argument);
  const CTileTensor c0 = encrypted(*he, TTShape({16}), DoubleTensor({1}));
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { encoder.assertEquals(c0, "size", randomTensor({2}, 1)); },
      "Size of expected values vector is bigger than size of cipher");
}

// With percent the relative diff is the diff over |actual|, or |expected|
// where the decrypted value is 0, as the tile encoder takes it: both give the
// same verdict, result and report.
TEST_F(TTEncoderTest, AssertEqualsByPercentAgreesWithTheTileEncoder)
{
  struct Case
  {
    double actual;
    double expected;
    double eps;
    bool passes;
    std::string report;
  };
  const std::string heading = "Error in checking relative diff:\nrel, at slot 1, expected value: ";
  const std::vector<Case> cases = {
      {0, 5.0, 2, false,
       heading + "(5,0), actual value: (0,0), diff: (5,0), relative-diff: 5, epsilon: 2\n"},
      {0, 0.5, 0.6, true, ""},
      {0, 0.5, 0.4, false,
       heading + "(0.5,0), actual value: (0,0), diff: (0.5,0), relative-diff: 0.5, "
                  "epsilon: 0.4\n"},
      {0, 0, 1e-6, true, ""},
      {2, 3, 0.6, true, ""},
      {2, 3, 0.4, false, heading + "(3,0), actual value: (2,0), diff: (1,0), relative-diff: 0.5, "
                  "epsilon: 0.4\n"},
      {-4, 0, 1, true, ""},
  };
  const TTEncoder encoder(*he);
  for (const Case& c : cases) {
    SCOPED_TRACE("actual " + std::to_string(c.actual) + ", expected " + std::to_string(c.expected) +
                 ", eps " + std::to_string(c.eps));
    const DoubleTensor expected = twoValues(0.25, c.expected);
    const CTileTensor tensor = encrypted(*he, TTShape({16}), twoValues(0.25, c.actual));
    CTile tile(*he);
    encoder.getEncoder().encodeEncrypt(tile, std::vector<double>{0.25, c.actual}, -1);
    const std::vector<double> tileExpected{0.25, c.expected};
    const double diff = std::abs(c.actual - c.expected);
    if (c.passes) {
      EXPECT_EQ(encoder.assertEquals(tensor, "rel", expected, c.eps, true), diff);
      EXPECT_EQ(encoder.getEncoder().assertEquals(tile, "rel", tileExpected, c.eps, true), diff);
      continue;
    }
    for (const bool tileEncoder : {false, true}) {
      qvtest::CoutCapture out;
      qvtest::expectThrowWithMessage<std::runtime_error>(
          [&] {
            if (tileEncoder)
              encoder.getEncoder().assertEquals(tile, "rel", tileExpected, c.eps, true);
            else
              encoder.assertEquals(tensor, "rel", expected, c.eps, true);
          },
          "Assert Equals Failed");
      EXPECT_EQ(out.str(), c.report) << (tileEncoder ? "tile encoder" : "tile-tensor encoder");
    }
  }
}

TEST_F(TTEncoderTest, AssertEqualsFailsOnNaN)
{
  // Element 0 agrees; element 1 holds the case. NaN compares above no eps.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case
  {
    std::string name;
    double actual;
    double expected;
    bool percent;
  };
  const std::vector<Case> cases = {
      {"NaN decrypted", nan, 1, false},        {"NaN expected", 1, nan, false},
      {"NaN on both sides", nan, nan, false},  {"NaN decrypted, percent", nan, 1, true},
      {"NaN expected, percent", 1, nan, true}, {"NaN decrypted, zero expected", nan, 0, true},
      {"infinities", inf, inf, false},         {"infinite decrypted, percent", inf, 1, true},
  };
  const TTEncoder encoder(*he);
  for (const Case& c : cases) {
    const CTileTensor cipher = encrypted(*he, TTShape({16}), twoValues(0.5, c.actual));
    qvtest::CoutCapture out;
    qvtest::expectThrowWithMessage<std::runtime_error>(
        [&] {
          encoder.assertEquals(cipher, "values", twoValues(0.5, c.expected), 1e-6, c.percent);
        },
        "Assert Equals Failed");
    EXPECT_NE(out.str().find("values, at slot 1, "), std::string::npos) << c.name << ": " << out.str();
  }
  // Zeros on both sides pass by percent although their relative diff is 0 / 0.
  const CTileTensor zeros = encrypted(*he, TTShape({16}), DoubleTensor({2}));
  EXPECT_EQ(encoder.assertEquals(zeros, "zeros", DoubleTensor({2}), 1e-6, true), 0);
}

TEST_F(TTEncoderTest, GenericPacking)
{
  const DoubleTensor values = randomTensor({3, 5}, 6);
  CTileTensor res(*he);
  TTEncoder(*he).encodeEncryptGenericPacking(res, values, GenericPackingConfig());
  EXPECT_EQ(res.getShape().toString(), "[3/4, 5/4]");
  EXPECT_EQ(res.getChainIndex(), 5);
  EXPECT_EQ(qvtest::maxDiff(qvtest::decrypted(res), values), 0);
  GenericPackingConfig batch;
  batch.option = BATCH_PACKING;
  batch.batchDim = 1;
  TTEncoder(*he).encodeEncryptGenericPacking(res, values, batch);
  EXPECT_EQ(res.getShape().toString(), "[3, 5/16]");
  batch.batchDim.reset();
  EXPECT_THROW(TTEncoder(*he).encodeEncryptGenericPacking(res, values, batch), std::runtime_error);
  EXPECT_EQ(res.getShape().toString(), "[3, 5/16]");
}
