// Products of SEAL ciphertexts by maps in diagonal form with baby-step
// giant-step grouping: the same slots as the product by every rotation.

#include <complex>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "hebase/PTile.h"
#include "hebase/utils/SectionTimer.h"
#include "math/bootstrap/seal/BabyGiantProduct.h"
#include "math/bootstrap/seal/FFTLayer.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;

const int SLOTS = 64;
const int CHAIN_INDEX = 3;

// A layer of random diagonals under the keys, encoded at CHAIN_INDEX, with its tree.
FFTLayer randomLayer(const BootstrapCore& core, const std::vector<int>& keys, unsigned seed)
{
  FFTLayer layer(core);
  for (int r : keys)
    layer.getDiagonal(r) = randomComplex(seed + r, core.getNumSlots());
  layer.encode(CHAIN_INDEX, core.getHeContext().getDefaultScale());
  layer.createRotationDependencyMap();
  return layer;
}

// y[k] = sum over r of d_r[k] x[k + r].
std::vector<Complex> applyInClear(const FFTLayer& layer, const std::vector<Complex>& x)
{
  const int n = static_cast<int>(x.size());
  std::vector<Complex> y(n);
  for (const auto& [r, d] : layer.getDiagonals())
    for (int k = 0; k < n; ++k)
      y[k] += d[k] * x[(k + r) % n];
  return y;
}

std::vector<int> keysOf(const FFTLayer& layer)
{
  std::vector<int> keys;
  for (const auto& entry : layer.getEncodedDiagonals())
    keys.push_back(entry.first);
  return keys;
}

struct Case
{
  std::string name;
  std::vector<int> keys;
};

std::vector<int> range(int from, int to, int step = 1)
{
  std::vector<int> res;
  for (int r = from; r < to; r += step)
    res.push_back(r);
  return res;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

} // namespace

TEST(BabyGiantProduct, GivesTheSlotsOfTheProductByEveryRotation)
{
  const BootstrapCore& core = bootstrapSealCore(SLOTS, 20);
  const HeContext& he = core.getHeContext();
  const std::vector<Case> cases = {
      // Amounts -15 .. 15 around 0: both Horner chains.
      {"centred", join(range(0, 16), range(SLOTS - 15, SLOTS))},
      // Multiples of 4: a unit above 1, a step of n / 2.
      {"multiples of four", range(0, SLOTS, 4)},
      // Two clusters, with an empty giant sum between them.
      {"two clusters", join(range(0, 9), range(40, 52))},
      // Every amount, the baby offsets reaching the half slot count.
      {"all", range(0, SLOTS)},
  };
  auto values = randomComplex(7, SLOTS);
  for (const Case& c : cases) {
    FFTLayer layer = randomLayer(core, c.keys, 11);
    CTile x = encryptAt(he, values, CHAIN_INDEX);
    ASSERT_TRUE(BabyGiantProduct(keysOf(layer), SLOTS).appliesTo(x)) << c.name;
    // Through the layer, and directly.
    CTile y(x);
    SectionTimer::Node& section = SectionTimer::getRoot().getChild("processCiphertextByLayer");
    const int64_t rotationsBefore = section.getChild("getAllRotationsOf").count;
    layer.processCiphertextByLayer(y);
    // The baby rotations are timed where the layer's rotations are.
    EXPECT_EQ(section.getChild("getAllRotationsOf").count, rotationsBefore + 1) << c.name;
    CTile z = BabyGiantProduct(keysOf(layer), SLOTS).multiply(x, layer.getEncodedDiagonals());
    EXPECT_EQ(y.getChainIndex(), CHAIN_INDEX) << c.name;
    EXPECT_DOUBLE_EQ(y.getScale(), x.getScale() * he.getDefaultScale()) << c.name;
    auto expected = applyInClear(layer, values);
    for (const CTile* result : {&y, &z}) {
      auto got = decryptOf(*result);
      for (int k = 0; k < SLOTS; ++k)
        EXPECT_LT(std::abs(got[k] - expected[k]), 1e-4) << c.name << ":" << k;
    }
  }
}

TEST(BabyGiantProduct, AppliesOnlyWhereItSavesRotationsOnSeal)
{
  const BootstrapCore& sealCore = bootstrapSealCore(SLOTS, 20);
  CTile x = encryptAt(sealCore.getHeContext(), randomComplex(1, SLOTS), CHAIN_INDEX);
  // Few amounts: one rotation each is cheaper.
  EXPECT_FALSE(BabyGiantProduct({0, 1, 2, 63}, SLOTS).appliesTo(x));
  EXPECT_FALSE(BabyGiantProduct({0}, SLOTS).appliesTo(x));
  EXPECT_TRUE(BabyGiantProduct(range(0, 32), SLOTS).appliesTo(x));
  // Not on other backends: the layer takes its rotations one by one there.
  const BootstrapCore& mock = mockupCore(SLOTS);
  CTile m = encryptAt(mock.getHeContext(), randomComplex(1, SLOTS), CHAIN_INDEX);
  EXPECT_FALSE(BabyGiantProduct(range(0, 32), SLOTS).appliesTo(m));
  FFTLayer layer = randomLayer(mock, range(0, 32), 5);
  auto values = decryptOf(m);
  layer.processCiphertextByLayer(m);
  auto expected = applyInClear(layer, values);
  auto got = decryptOf(m);
  for (int k = 0; k < SLOTS; ++k)
    EXPECT_LT(std::abs(got[k] - expected[k]), 1e-9) << k;
}

TEST(BabyGiantProduct, VerboseLayersPrintTheirRotationsOneByOne)
{
  // With verbose output a layer on SEAL takes every rotation of its tree and
  // prints the progress of getAllRotationsOf.
  BootstrapConfig config = uncachedConfig();
  config.verbose = VERBOSITY_LOW;
  std::unique_ptr<BootstrapCore> core;
  {
    CoutCapture quiet;
    core = std::make_unique<BootstrapCore>(bootstrapSealContext(SLOTS, 20), config);
  }
  FFTLayer layer = [&] {
    CoutCapture quiet;
    return randomLayer(*core, range(0, 32), 3);
  }();
  auto values = randomComplex(2, SLOTS);
  CTile x = encryptAt(core->getHeContext(), values, CHAIN_INDEX);
  CoutCapture capture;
  layer.processCiphertextByLayer(x);
  EXPECT_EQ(capture.str(), "getAllRotationsOf:\nmax number of threads = 1\n0 done creating "
                           "rotations\n");
  auto expected = applyInClear(layer, values);
  auto got = decryptOf(x);
  for (int k = 0; k < SLOTS; ++k)
    EXPECT_LT(std::abs(got[k] - expected[k]), 1e-4) << k;
}

TEST(BabyGiantProduct, WithAndWithoutVerboseOutputAlike)
{
  // A layer without rotation keys fails as it does when it takes its
  // rotations one by one; a ciphertext below the diagonals' chain index gives
  // the same slots either way.
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, 20, 40, 10);
  req.publicFunctions.rotate = NO_ROTATIONS;
  SealCkksContext noKeys;
  noKeys.init(req);
  const HeContext& withKeys = bootstrapSealContext(SLOTS, 20);
  auto values = randomComplex(2, SLOTS);
  std::vector<std::vector<Complex>> results;
  for (Verbosity verbose : {VERBOSITY_NONE, VERBOSITY_LOW}) {
    BootstrapConfig config = uncachedConfig();
    config.verbose = verbose;
    CoutCapture quiet;
    BootstrapCore bare(noKeys, config);
    FFTLayer failing = randomLayer(bare, range(0, 32), 3);
    CTile x = encryptAt(noKeys, values, CHAIN_INDEX);
    expectThrowWithMessage<std::runtime_error>([&] { failing.processCiphertextByLayer(x); },
                                               "This SealCkksContext does not support rotations");
    BootstrapCore core(withKeys, config);
    FFTLayer layer = randomLayer(core, range(0, 32), 3);
    CTile y = encryptAt(withKeys, values, CHAIN_INDEX - 1);
    layer.processCiphertextByLayer(y);
    EXPECT_EQ(y.getChainIndex(), CHAIN_INDEX - 1);
    results.push_back(decryptOf(y));
  }
  for (int k = 0; k < SLOTS; ++k)
    EXPECT_LT(std::abs(results[0][k] - results[1][k]), 1e-4) << k;
}
