// Tile tensors on the SEAL CKKS context: packings, arithmetic with
// broadcasting, chain indexes, integrity and saved tensors.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using qvtest::combined;
using qvtest::decrypted;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::maxDiff;
using qvtest::randomTensor;
using qvtest::shapeOf;

namespace {

const double EPS = 1e-5;

std::shared_ptr<HeContext> sealContext()
{
  static std::shared_ptr<HeContext> he = [] {
    auto res = std::make_shared<SealCkksContext>();
    res->init(HeConfigRequirement::insecure(1024, 3, 40, 10));
    return res;
  }();
  return he;
}

} // namespace

TEST(TileTensorOnSeal, PackingsRoundTrip)
{
  const HeContext& he = *sealContext();
  struct Case
  {
    TTShape shape;
    std::vector<int> dims;
  };
  const std::vector<Case> cases = {
      {TTShape({1024}), {1500}},
      {TTShape({32, 32}), {40, 20}},
      {shapeOf({qvtest::interleavedDim(50, 32), TTDim(20, 32)}), {50, 20}},
      {shapeOf({TTDim(1, 32, 32), TTDim(20, 32)}), {1, 20}},
      {shapeOf({TTDim(6, 2), TTDim(40, 512, 1, false, false, true)}), {6, 40}},
      {shapeOf({TTDim(64, 32), TTDim(64, 32)}, true), {64, 64}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shape.toString());
    const DoubleTensor values = randomTensor(c.dims, 21);
    const CTileTensor t = encrypted(he, c.shape, values);
    EXPECT_LT(maxDiff(decrypted(t), values), EPS);
    EXPECT_LT(t.assertIntegrity(EPS), EPS);
  }
}

TEST(TileTensorOnSeal, ArithmeticAndChainIndexes)
{
  const HeContext& he = *sealContext();
  const int top = he.getTopChainIndex();
  const DoubleTensor m = randomTensor({40, 64}, 22);
  const DoubleTensor column = randomTensor({40, 1}, 23);
  const TTShape full = shapeOf({TTDim(40, 64), TTDim(64, 16)});
  const TTShape dup = shapeOf({TTDim(40, 64), TTDim(1, 16, 16)});
  DoubleTensor expected(m);
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 64; ++j)
      expected.at(i, j) = m.at(i, j) * column.at(i, 0) + m.at(i, j);

  CTileTensor c = encrypted(he, dup, column);
  const CTileTensor cm = encrypted(he, full, m);
  c.multiply(cm);
  EXPECT_EQ(c.getNumUsedTiles(), 4);
  EXPECT_EQ(c.getChainIndex(), top - 1);
  c.add(cm);
  EXPECT_EQ(c.getChainIndex(), top - 1);
  EXPECT_LT(maxDiff(decrypted(c), expected), EPS);

  CTileTensor p = encrypted(he, full, m);
  p.multiplyPlain(encoded(he, full, m));
  p.square();
  EXPECT_EQ(p.getChainIndex(), top - 2);
  EXPECT_LT(maxDiff(decrypted(p), combined(m, m, [](double x, double) { return x * x * x * x; })),
            EPS);
  p.reEncrypt();
  EXPECT_EQ(p.getChainIndex(), top);
  EXPECT_LT(maxDiff(decrypted(p), combined(m, m, [](double x, double) { return x * x * x * x; })),
            EPS);
  CTileTensor s = encrypted(he, full, m);
  s.multiplyScalar(-0.5);
  EXPECT_LT(maxDiff(decrypted(s), combined(m, m, [](double x, double) { return -0.5 * x; })), EPS);
}

TEST(TileTensorOnSeal, SavedTensors)
{
  const HeContext& he = *sealContext();
  const DoubleTensor values = randomTensor({40, 20}, 24);
  const CTileTensor c = encrypted(he, TTShape({32, 32}), values, 2);
  std::istringstream in(qvtest::saved(c));
  CTileTensor loaded(he);
  loaded.load(in);
  EXPECT_EQ(loaded.getShape(), c.getShape());
  EXPECT_EQ(loaded.getChainIndex(), 2);
  EXPECT_LT(maxDiff(decrypted(loaded), values), EPS);

  const PTileTensor p = encoded(he, TTShape({32, 32}), values, 1);
  std::istringstream pin(qvtest::saved(p));
  PTileTensor ploaded(he);
  ploaded.load(pin);
  EXPECT_EQ(ploaded.getChainIndex(), 1);
  EXPECT_LT(maxDiff(TTEncoder(he).decodeDouble(ploaded), values), EPS);
}
