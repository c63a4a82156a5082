// FFT layers of the bootstrapping transforms: their stages, joining, products,
// application to ciphertexts, persistence, and the rotation dependency tree.

#include <complex>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "hebase/PTile.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTLayer.h"
#include "math/bootstrap/seal/FFTUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
using Matrix = std::vector<std::vector<Complex>>;

std::vector<int> keysOf(const FFTLayer& layer)
{
  std::vector<int> keys;
  for (const auto& entry : layer.getDiagonals())
    keys.push_back(entry.first);
  return keys;
}

// The layer as an n x n matrix: row k holds d_r[k] in column k + r.
Matrix matrixOf(const FFTLayer& layer, int n)
{
  Matrix m(n, std::vector<Complex>(n));
  for (const auto& [r, d] : layer.getDiagonals())
    for (int k = 0; k < n; ++k)
      m[k][(k + r) % n] += d[k];
  return m;
}

Matrix multiply(const Matrix& a, const Matrix& b)
{
  const size_t n = a.size();
  Matrix c(n, std::vector<Complex>(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t k = 0; k < n; ++k)
      for (size_t j = 0; j < n; ++j)
        c[i][j] += a[i][k] * b[k][j];
  return c;
}

// The stages applied in order, as one matrix.
Matrix matrixOf(const FFTUtils::Layers& layers, int n)
{
  Matrix m = matrixOf(layers[0], n);
  for (size_t t = 1; t < layers.size(); ++t)
    m = multiply(matrixOf(layers[t], n), m);
  return m;
}

double distanceToIdentity(const Matrix& m, Complex factor)
{
  double worst = 0;
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = 0; j < m.size(); ++j)
      worst = std::max(worst, std::abs(m[i][j] - (i == j ? factor : Complex(0))));
  return worst;
}

// A layer of the core whose encoded diagonals have the given rotations.
FFTLayer layerWithKeys(const BootstrapCore& core, const std::vector<int>& keys)
{
  FFTLayer layer(core);
  for (int r : keys) {
    PTile p(core.getHeContext());
    Encoder(core.getHeContext()).encode(p, 1.0, 3);
    layer.getEncodedDiagonals().emplace(r, std::move(p));
  }
  return layer;
}

} // namespace

TEST(FFTLayers, StagesForEightSlots)
{
  const BootstrapCore& core = mockupCore(8);
  FFTUtils utils(core);
  FFTUtils::Layers layers;
  utils.computeEncodingLayers(layers, 1.0);
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_EQ(keysOf(layers[0]), (std::vector<int>{0, 4}));
  EXPECT_EQ(keysOf(layers[1]), (std::vector<int>{0, 2, 6}));
  EXPECT_EQ(keysOf(layers[2]), (std::vector<int>{0, 1, 7}));
  utils.computeDecodingLayers(layers, 1.0);
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_EQ(keysOf(layers[0]), (std::vector<int>{0, 1, 7}));
  EXPECT_EQ(keysOf(layers[1]), (std::vector<int>{0, 2, 6}));
  EXPECT_EQ(keysOf(layers[2]), (std::vector<int>{0, 4}));
  utils.computeDecodingMirrorLayers(layers, 1.0);
  ASSERT_EQ(layers.size(), 5u);
  EXPECT_EQ(keysOf(layers[0]), (std::vector<int>{0}));
  EXPECT_EQ(layers[0].getDiagonals().at(0),
            (std::vector<Complex>{0, {0, -1}, {0, -1}, {0, -1}, {0, -1}, {0, -1}, {0, -1},
                                  {0, -1}}));
  EXPECT_EQ(keysOf(layers[4]), (std::vector<int>{0}));
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(layers[4].getDiagonals().at(0)[k], core.getRoot(k, 1)) << k;
  utils.computeDecodingMirrorLayers(layers, 2.0);
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(layers[4].getDiagonals().at(0)[k], 2.0 * core.getRoot(k, 1)) << k;
}

TEST(FFTLayers, TwiddleFactorsFromTheRootTable)
{
  const BootstrapCore& core = mockupCore(8);
  FFTUtils utils(core);
  // zeta_(4L)^(5^j mod 4L) is entry (5^j mod 4L) * n / L of the table of 4n roots.
  EXPECT_EQ(utils.getTwiddle(8, 0), core.getRoots()[1]);
  EXPECT_EQ(utils.getTwiddle(8, 1), core.getRoots()[5]);
  EXPECT_EQ(utils.getTwiddle(8, 2), core.getRoots()[25]);
  EXPECT_EQ(utils.getTwiddle(4, 1), core.getRoots()[10]);
  EXPECT_EQ(utils.getTwiddle(2, 1), core.getRoots()[20]);
}

TEST(FFTLayers, DecodingTimesEncodingIsTheIdentityBeforeAndAfterJoining)
{
  for (int n : {8, 32}) {
    const BootstrapCore& core = mockupCore(n);
    FFTUtils utils(core);
    struct Case
    {
      double encFactor;
      double decFactor;
    };
    for (Case c : {Case{2.0, 1.0}, Case{0.75, 3.0}}) {
      FFTUtils::Layers enc;
      FFTUtils::Layers dec;
      utils.computeEncodingLayers(enc, c.encFactor);
      utils.computeDecodingLayers(dec, c.decFactor);
      Complex expected = c.encFactor * c.decFactor / 2;
      Matrix e = matrixOf(enc, n);
      Matrix d = matrixOf(dec, n);
      EXPECT_LT(distanceToIdentity(multiply(d, e), expected), 1e-12) << n;
      EXPECT_LT(distanceToIdentity(multiply(e, d), expected), 1e-12) << n;
      utils.joinLayers(enc);
      utils.joinLayers(dec);
      ASSERT_EQ(enc.size(), 2u);
      ASSERT_EQ(dec.size(), 2u);
      EXPECT_LT(distanceToIdentity(multiply(matrixOf(dec, n), matrixOf(enc, n)), expected), 1e-12);
      EXPECT_LT(distanceToIdentity(multiply(matrixOf(enc, n), matrixOf(dec, n)), expected), 1e-12);
    }
  }
}

TEST(FFTLayers, JoiningMergesTheTwoHalves)
{
  const BootstrapCore& verboseCore = mockupCore(8, VERBOSITY_LOW);
  FFTUtils utils(verboseCore);
  FFTUtils::Layers stages;
  utils.computeEncodingLayers(stages, 1.0);
  FFTUtils::Layers joined = stages;
  {
    CoutCapture capture;
    utils.joinLayers(joined);
    EXPECT_EQ(capture.str(), "Merging [0,0], [1,2]\n");
  }
  ASSERT_EQ(joined.size(), 2u);
  EXPECT_EQ(joined[0].getDiagonals(), stages[0].getDiagonals());
  FFTLayer second(verboseCore);
  stages[1].composeInto(stages[2], second);
  EXPECT_EQ(joined[1].getDiagonals(), second.getDiagonals());
  // Keys of stage 2 after stage 1: sums of {0, 2, 6} and {0, 1, 7}.
  EXPECT_EQ(keysOf(joined[1]), (std::vector<int>{0, 1, 2, 3, 5, 6, 7}));

  FFTUtils::Layers mirror;
  utils.computeDecodingMirrorLayers(mirror, 1.0);
  CoutCapture capture;
  utils.joinLayers(mirror);
  EXPECT_EQ(capture.str(), "Merging [0,1], [2,4]\n");
  FFTUtils::Layers single(1, FFTLayer(verboseCore));
  expectAssertion([&] { utils.joinLayers(single); }, "count >= 2");
}

TEST(FFTLayers, ComposingAppliesThisLayerFirst)
{
  const BootstrapCore& core = mockupCore(8);
  FFTLayer a(core);
  FFTLayer b(core);
  for (int k = 0; k < 8; ++k) {
    a.getDiagonal(1)[k] = Complex(k, 1);
    a.getDiagonal(0)[k] = 2;
    b.getDiagonal(-2)[k] = Complex(0.5, -k);
  }
  FFTLayer out(core);
  a.composeInto(b, out);
  EXPECT_EQ(keysOf(out), (std::vector<int>{6, 7}));
  Matrix expected = multiply(matrixOf(b, 8), matrixOf(a, 8));
  Matrix got = matrixOf(out, 8);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j)
      EXPECT_LT(std::abs(got[i][j] - expected[i][j]), 1e-14);
}

TEST(FFTLayers, ProcessingACiphertextAppliesTheLayers)
{
  // On the exact mockup context and on SEAL: the joined encoding layers, then
  // the decoding ones, act on the slots as their matrices do.
  const int n = 8;
  const BootstrapCore& mockCore = mockupCore(n);
  const BootstrapCore& sealCore = bootstrapSealCore(n, 20);
  for (const BootstrapCore* core : {&mockCore, &sealCore}) {
    const HeContext& he = core->getHeContext();
    FFTUtils utils(*core);
    FFTUtils::Layers layers;
    utils.computeDecodingLayers(layers, 1.0);
    utils.joinLayers(layers);
    utils.encodeLayers(layers, core->getDecodingChainIndex(), false);
    utils.createRotationDependencyMaps(layers);
    auto values = randomComplex(9, n);
    CTile x = encryptAt(he, values, core->getDecodingChainIndex());
    utils.processCiphertextByLayers(layers, x);
    EXPECT_EQ(x.getChainIndex(), core->getDecodingChainIndex());
    x.rescaleRaw();
    x.rescaleRaw();
    Matrix m = matrixOf(layers, n);
    auto got = decryptOf(x);
    for (int k = 0; k < n; ++k) {
      Complex expected = 0;
      for (int j = 0; j < n; ++j)
        expected += m[k][j] * values[j];
      EXPECT_LT(std::abs(got[k] - expected), 1e-6) << k;
    }
  }
}

TEST(FFTLayers, EmptyLayersAreRefused)
{
  const BootstrapCore& core = mockupCore(8);
  FFTLayer empty(core);
  empty.createRotationDependencyMap();
  CTile x = encryptAt(core.getHeContext(), randomComplex(1, 8), 3);
  expectThrowWithMessage<std::runtime_error>([&] { empty.processCiphertextByLayer(x); },
                                             "empty layer");
  // A saved layer whose count is 0 loads as an empty layer.
  std::istringstream in(le32(0));
  FFTLayer loaded = layerWithKeys(core, {0, 1});
  loaded.load(in);
  EXPECT_TRUE(loaded.getEncodedDiagonals().empty());
  expectThrowWithMessage<std::runtime_error>([&] { loaded.processCiphertextByLayer(x); },
                                             "empty layer");
}

TEST(FFTLayers, SaveAndLoad)
{
  const BootstrapCore& core = bootstrapSealCore(8, 20);
  FFTUtils utils(core);
  FFTUtils::Layers layers;
  utils.computeEncodingLayers(layers, 1.0);
  utils.joinLayers(layers);
  utils.encodeLayers(layers, core.getEncodingChainIndex(), true);
  std::ostringstream out;
  layers[1].save(out);
  const std::string bytes = out.str();
  // Count, then (rotation, saved plaintext) in ascending rotation.
  EXPECT_EQ(bytes.substr(0, 4), le32(7));
  EXPECT_EQ(bytes.substr(4, 4), le32(0));
  EXPECT_EQ(bytes.substr(8, headerBytes("PTile", 0).size() - 4),
            headerBytes("PTile", 0).substr(0, headerBytes("PTile", 0).size() - 4));

  FFTLayer loaded(core);
  std::istringstream in(bytes);
  loaded.load(in);
  EXPECT_EQ(in.peek(), std::char_traits<char>::eof());
  ASSERT_EQ(loaded.getEncodedDiagonals().size(), 7u);
  std::ostringstream again;
  loaded.save(again);
  EXPECT_EQ(again.str(), bytes);

  // More diagonals than slots, and a truncated layer, are refused without change.
  std::istringstream tooMany(le32(9) + bytes.substr(4));
  expectThrowWithMessage<std::runtime_error>([&] { loaded.load(tooMany); },
                                             "FFT layer with 9 diagonals, more than the 8 slots");
  std::istringstream truncated(bytes.substr(0, bytes.size() / 2));
  truncated.exceptions(std::ios::failbit | std::ios::badbit);
  EXPECT_ANY_THROW(loaded.load(truncated));
  EXPECT_EQ(loaded.getEncodedDiagonals().size(), 7u);
}

TEST(FFTLayers, CacheFilesLoadWhateverTheirRotations)
{
  // The loader reads two layers as they are; the trees and the products
  // refuse what they cannot use.
  TempDir dir;
  const BootstrapCore& core = bootstrapSealCore(8, 20);
  FFTUtils utils(core);
  FFTUtils::Layers layers;
  const std::string missing = dir.file("missing.bin");
  {
    CoutCapture capture;
    EXPECT_FALSE(utils.loadEncodedLayersFromFile(layers, missing));
    EXPECT_EQ(capture.str(), "");
  }
  auto save = [&](const std::vector<std::vector<int>>& keys) {
    std::ostringstream out;
    for (const auto& layerKeys : keys)
      layerWithKeys(core, layerKeys).save(out);
    const std::string path = dir.file("layers.bin");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << out.str();
    return path;
  };
  CTile x = encryptAt(core.getHeContext(), randomComplex(1, 8), 3);
  ASSERT_TRUE(utils.loadEncodedLayersFromFile(layers, save({{}, {0}})));
  ASSERT_EQ(layers.size(), 2u);
  EXPECT_TRUE(layers[0].getEncodedDiagonals().empty());
  utils.createRotationDependencyMaps(layers);
  expectThrowWithMessage<std::runtime_error>([&] { utils.processCiphertextByLayers(layers, x); },
                                             "empty layer");
  ASSERT_TRUE(utils.loadEncodedLayersFromFile(layers, save({{0, -3}, {0}})));
  expectThrowWithMessage<std::runtime_error>([&] { utils.createRotationDependencyMaps(layers); },
                                             "expecting positive rotations and got -3");
  ASSERT_TRUE(utils.loadEncodedLayersFromFile(layers, save({{0}, {0, 8}})));
  CoutCapture capture;
  expectThrowWithMessage<std::runtime_error>([&] { utils.createRotationDependencyMaps(layers); },
                                             "unreachable rotations");
  EXPECT_EQ(capture.str(), "1 unreachable rotations in layer out of 2\n");
}

TEST(FFTLayerRotations, DependencyTrees)
{
  const BootstrapCore& core = mockupCore(8);
  struct Case
  {
    std::vector<int> keys;
    std::vector<TreeNode> nodes;
  };
  for (const Case& c :
       {Case{{0}, {{0, 0, 0, 0}}},
        Case{{0, 1, 3, 7}, {{0, 0, 0, 0}, {1, 0, 1, 1}, {3, 1, 2, 2}, {7, 0, -1, 1}}},
        Case{{0, 2, 4, 6}, {{0, 0, 0, 0}, {2, 0, 2, 1}, {4, 0, 4, 1}, {6, 0, -2, 1}}},
        Case{{0, 4}, {{0, 0, 0, 0}, {4, 0, 4, 1}}},
        Case{{1, 2}, {{0, 0, 0, 0}, {1, 0, 1, 1}, {2, 0, 2, 1}}}}) {
    FFTLayer layer = layerWithKeys(core, c.keys);
    layer.createRotationDependencyMap();
    ASSERT_EQ(layer.getParent().size(), c.nodes.size());
    for (const TreeNode& node : c.nodes) {
      EXPECT_EQ(layer.getParent().at(node.amount), node.parent) << node.amount;
      EXPECT_EQ(layer.getStep().at(node.amount), node.step) << node.amount;
      EXPECT_EQ(layer.getLevel().at(node.amount), node.level) << node.amount;
    }
  }
}

TEST(FFTLayerRotations, UnreachableAndNegativeRotations)
{
  const BootstrapCore& core = mockupCore(8);
  for (const std::vector<int>& keys : {std::vector<int>{0, 3}, std::vector<int>{0, 8}}) {
    FFTLayer layer = layerWithKeys(core, keys);
    CoutCapture capture;
    expectThrowWithMessage<std::runtime_error>([&] { layer.createRotationDependencyMap(); },
                                               "unreachable rotations");
    EXPECT_EQ(capture.str(), "1 unreachable rotations in layer out of 2\n");
    EXPECT_TRUE(layer.getParent().empty());
  }
  FFTLayer negative = layerWithKeys(core, {0, -3});
  expectThrowWithMessage<std::runtime_error>([&] { negative.createRotationDependencyMap(); },
                                             "expecting positive rotations and got -3");
}

TEST(FFTLayerRotations, RotationsAlongTheTree)
{
  for (const BootstrapCore* core : {&mockupCore(8), &bootstrapSealCore(8, 20)}) {
    const HeContext& he = core->getHeContext();
    FFTLayer layer = layerWithKeys(*core, {0, 1, 2, 3, 5, 6, 7});
    layer.createRotationDependencyMap();
    auto values = randomComplex(4, 8);
    CTile x = encryptAt(he, values, 3);
    std::vector<std::shared_ptr<CTile>> rotations(8);
    layer.getAllRotationsOf(x, rotations);
    EXPECT_EQ(rotations[4], nullptr);
    for (int r : {0, 1, 2, 3, 5, 6, 7}) {
      ASSERT_NE(rotations[r], nullptr) << r;
      auto got = decryptOf(*rotations[r]);
      auto expected = rotated(values, r);
      for (int k = 0; k < 8; ++k)
        EXPECT_LT(std::abs(got[k] - expected[k]), 1e-7) << r << ":" << k;
    }
  }
  // The rotations vector holds one entry per slot.
  {
    const BootstrapCore& core = mockupCore(8);
    FFTLayer layer = layerWithKeys(core, {0, 1});
    layer.createRotationDependencyMap();
    CTile x = encryptAt(core.getHeContext(), randomComplex(1, 8), 3);
    std::vector<std::shared_ptr<CTile>> tooFew(1);
    expectThrowWithMessage<std::invalid_argument>([&] { layer.getAllRotationsOf(x, tooFew); },
                                                  "getAllRotationsOf needs 8 ciphertexts to "
                                                  "fill, got 1");
  }
  // Without its tree a layer is not applied.
  const BootstrapCore& core = mockupCore(8);
  FFTLayer noTree = layerWithKeys(core, {0, 1});
  CTile x = encryptAt(core.getHeContext(), randomComplex(1, 8), 3);
  expectThrowWithMessage<std::runtime_error>(
      [&] { noTree.processCiphertextByLayer(x); },
      "The rotation dependency map of the FFT layer has not been created");
}

TEST(FFTLayerRotations, VerboseProgressAndSecondBuild)
{
  const BootstrapCore& core = mockupCore(512, VERBOSITY_LOW);
  std::vector<int> keys;
  for (int r = 0; r < 300; ++r)
    keys.push_back(r);
  FFTLayer layer = layerWithKeys(core, keys);
  {
    CoutCapture capture;
    layer.createRotationDependencyMap();
    EXPECT_EQ(capture.str(), "creating dependency DAG\ndone creating dependency DAG\n");
  }
  {
    CoutCapture capture;
    layer.createRotationDependencyMap();
    EXPECT_EQ(capture.str(), "creating dependency DAG\n");
  }
  CTile x = encryptAt(core.getHeContext(), randomComplex(2, 512), 3);
  std::vector<std::shared_ptr<CTile>> rotations(512);
  CoutCapture capture;
  layer.getAllRotationsOf(x, rotations);
  EXPECT_EQ(capture.str(), "getAllRotationsOf:\nmax number of threads = 1\n256 0 done creating "
                           "rotations\n");
}
