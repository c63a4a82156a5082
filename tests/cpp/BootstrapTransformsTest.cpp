// CoeffToSlot and SlotToCoeff of the bootstrap core: the rotation tree, the
// products by encoded diagonals, and the whole CoeffToSlot, modular reduction
// and SlotToCoeff pipeline on SEAL.

#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "SealModulusRaise.h"
#include "TestUtils.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FunctionalMatrix.h"
#include "math/bootstrap/seal/SealBootstrapEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
using CVec = std::vector<Complex>;

struct Errors
{
  double max = 0;
  double mean = 0;
};

Errors errorsOf(const CVec& got, const CVec& expected)
{
  Errors e;
  for (size_t i = 0; i < expected.size(); ++i) {
    double d = std::abs(got[i] - expected[i]);
    e.max = std::max(e.max, d);
    e.mean += d;
  }
  e.mean /= static_cast<double>(expected.size());
  return e;
}

// CoeffToSlot, the modular reduction and SlotToCoeff of the values, encrypted
// at the encoding chain index and the base scale; the halves' chain indexes
// are checked on the way.
CVec pipelineOf(const BootstrapCore& core, const CTile& x)
{
  const HeContext& he = core.getHeContext();
  const bool complexData = core.getConfig().supportComplexData;
  const int e = core.getEncodingChainIndex();
  auto [r, s] = core.coef2slot(x);
  EXPECT_EQ(r.getChainIndex(), e - (core.getConfig().coef2slotViaFFT ? 3 : 2));
  EXPECT_EQ(s.isEmpty(), !complexData);
  double q0 = static_cast<double>(he.getModulusChain()->at(0));
  core.modInPlaceForBootstrap(r, q0, false);
  if (complexData)
    core.modInPlaceForBootstrap(s, q0, false);
  EXPECT_EQ(r.getChainIndex(), core.getDecodingChainIndex());
  CTile y = core.slot2coef(r, s);
  int expectedEnd = core.getDecodingChainIndex() -
                    (!complexData && core.getConfig().slot2coefViaFFT ? 2 : 1);
  EXPECT_EQ(y.getChainIndex(), expectedEnd);
  return decryptOf(y);
}

CVec pipeline(const BootstrapCore& core, const CVec& values)
{
  return pipelineOf(core, encryptAt(core.getHeContext(), values, core.getEncodingChainIndex(),
                                    core.getBaseScale()));
}

BootstrapConfig transformConfig(bool c2sFft, bool s2cFft, bool complexData, int depth)
{
  BootstrapConfig config = uncachedConfig();
  config.coef2slotViaFFT = c2sFft;
  config.slot2coefViaFFT = s2cFft;
  config.supportComplexData = complexData;
  config.targetChainIndex = depth - BootstrapCore::getLevelCost(config, 0);
  return config;
}

} // namespace

TEST(BootstrapTransforms, RotationTree)
{
  struct Case
  {
    int n;
    std::vector<TreeNode> nodes;
  };
  for (const Case& c :
       {Case{4, {{0, 0, 0, 0}, {1, 0, 1, 1}, {2, 0, 2, 1}, {3, 0, -1, 1}}},
        Case{8,
             {{0, 0, 0, 0}, {1, 0, 1, 1}, {2, 0, 2, 1}, {3, 1, 2, 2}, {4, 0, 4, 1},
              {5, 1, 4, 2}, {6, 0, -2, 1}, {7, 0, -1, 1}}}}) {
    const BootstrapCore& core = mockupCore(c.n);
    ASSERT_EQ(static_cast<int>(core.getRotationParent().size()), c.n);
    for (const TreeNode& node : c.nodes) {
      EXPECT_EQ(core.getRotationParent()[node.amount], node.parent) << c.n << ":" << node.amount;
      EXPECT_EQ(core.getRotationStep()[node.amount], node.step) << c.n << ":" << node.amount;
      EXPECT_EQ(core.getRotationLevel()[node.amount], node.level) << c.n << ":" << node.amount;
    }
  }
  // Every amount sits at its minimal number of power-of-two steps.
  const BootstrapCore& core = mockupCore(512);
  for (int k = 1; k < 512; ++k) {
    int p = core.getRotationParent()[k];
    EXPECT_EQ((p + core.getRotationStep()[k] + 512) % 512, k);
    EXPECT_EQ(core.getRotationLevel()[k], core.getRotationLevel()[p] + 1);
  }
  EXPECT_EQ(core.getRotationLevel()[0b101010101], 5);
}

TEST(BootstrapTransforms, AllRotations)
{
  for (const BootstrapCore* core : {&mockupCore(8), &bootstrapSealCore(8, 20)}) {
    const HeContext& he = core->getHeContext();
    auto values = randomComplex(3, 8);
    CTile x = encryptAt(he, values, 5);
    std::vector<CTile> rotations(8, CTile(he));
    core->getAllRotationsOf(x, rotations);
    for (int k = 0; k < 8; ++k) {
      auto got = decryptOf(rotations[k]);
      auto expected = rotated(values, k);
      for (int j = 0; j < 8; ++j)
        EXPECT_LT(std::abs(got[j] - expected[j]), 1e-7) << k << ":" << j;
    }
  }
  // A vector of another size than the slot count is refused.
  const BootstrapCore& core = mockupCore(8);
  CTile x = encryptAt(core.getHeContext(), randomComplex(3, 8), 5);
  std::vector<CTile> tooFew(4, CTile(core.getHeContext()));
  expectThrowWithMessage<std::invalid_argument>([&] { core.getAllRotationsOf(x, tooFew); },
                                                "getAllRotationsOf needs 8 ciphertexts to fill, "
                                                "got 4");
  std::vector<PTile> none;
  std::vector<PTile> tooMany(9, PTile(core.getHeContext()));
  for (const auto* diagonals : {&none, &tooMany})
    expectThrowWithMessage<std::invalid_argument>(
        [&] { core.getMulCipherWithDiagonalizedMatrix(x, *diagonals); },
        "a product by 1 to 8 diagonals, got " + std::to_string(diagonals->size()));
}

TEST(BootstrapTransforms, ProductsByEncodedDiagonals)
{
  // 64 diagonals make 32 jobs of 2; 8 make one job.
  for (int n : {8, 64}) {
    const BootstrapCore& core = mockupCore(n);
    const HeContext& he = core.getHeContext();
    DecodingRealsMatrix m(core, n);
    m.rowEnd = m.colEnd = n - 1;
    m.diagonalOrder = true;
    auto diagonals = core.getEncodedVectorsFromFunctionalMatrix(m, 6, 0.5, -1.0);
    ASSERT_EQ(static_cast<int>(diagonals->size()), n);
    auto values = randomComplex(5, n);
    CTile x = encryptAt(he, values, 6);
    CTile y = core.getMulCipherWithDiagonalizedMatrix(x, *diagonals);
    EXPECT_EQ(y.getChainIndex(), 6);
    auto got = decryptOf(y);
    for (int j = 0; j < n; ++j) {
      Complex expected = 0;
      for (int c = 0; c < n; ++c)
        expected += 0.5 * m.getElement(j, c) * values[c];
      EXPECT_LT(std::abs(got[j] - expected), 1e-9) << n << ":" << j;
    }
  }
  const BootstrapCore& verboseCore = mockupCore(64, VERBOSITY_LOW);
  DecodingMatrix m(verboseCore, 64);
  m.crop(0, 0, 63, 63);
  m.diagonalOrder = true;
  auto diagonals = verboseCore.getEncodedVectorsFromFunctionalMatrix(m, 6, 1.0, -1.0);
  CTile x = encryptAt(verboseCore.getHeContext(), randomComplex(6, 64), 6);
  CoutCapture capture;
  verboseCore.getMulCipherWithDiagonalizedMatrix(x, *diagonals);
  EXPECT_NE(capture.str().find("chainIndex = 6\n64: jobs=32, jobSize=2 : \n 0\n"),
            std::string::npos)
      << capture.str();
}

TEST(BootstrapTransforms, EncodedDiagonalsOfAFunctionalMatrix)
{
  const BootstrapCore& core = mockupCore(8);
  const HeContext& he = core.getHeContext();
  EncodingMatrix m(core, 8);
  m.crop(0, 0, 7, 7);
  m.diagonalOrder = true;
  Encoder encoder(he);
  for (double factor : {1.0, -3.0}) {
    auto diagonals = core.getEncodedVectorsFromFunctionalMatrix(m, 4, factor, 1024.0);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ((*diagonals)[i].getChainIndex(), 4);
      EXPECT_EQ((*diagonals)[i].getScale(), 1024.0);
      auto values = encoder.decodeComplex((*diagonals)[i]);
      for (int j = 0; j < 8; ++j)
        EXPECT_LT(std::abs(values[j] - factor * m.get(i, j)), 1e-15);
    }
  }
  // A window wider than the slots: the extra columns are ignored.
  EncodingMatrix wide(core, 8);
  wide.crop(0, 0, 3, 11);
  CoutCapture capture;
  auto diagonals = core.getEncodedVectorsFromFunctionalMatrix(wide, 4, 1.0, -1.0);
  EXPECT_EQ(capture.str(), "WARNING: Functional matrix is wider than number of slots. Ignoring "
                           "finals matrix row entries.");
  EXPECT_EQ(diagonals->size(), 4u);
}

TEST(BootstrapTransforms, RealDataRefusesSlotToCoeffLayersAfterTheMatrix)
{
  const std::string message =
      "Can't bootstrap real data with slot2coefViaFFT but not coef2slotViaFFT: the SlotToCoeff "
      "layers expect the bit-reversed order of the CoeffToSlot layers";
  // The core is built with its chain budget; SlotToCoeff refuses before any work.
  auto mockup = mockupContext(8, 20);
  const HeContext& he = *mockup;
  BootstrapCore core(he, transformConfig(false, true, false, 20), 1 << 20);
  EXPECT_EQ(core.getCost(), 15);
  EXPECT_EQ(core.getDecodingChainIndex(), core.getTargetChainIndex() + 2);
  CTile x = encryptAt(he, randomComplex(9, 8), core.getDecodingChainIndex());
  auto stats = tracked(*mockup, [&] {
    expectThrowWithMessage<std::invalid_argument>([&] { core.slot2coef(x, CTile(he)); },
                                                  message);
  });
  EXPECT_EQ(stats->getTotalCount(RunStats::ROTATE), 0);
  EXPECT_EQ(stats->getTotalCount(RunStats::MULTIPLY_PLAIN_RAW), 0);
  // Complex data never takes the layers, so it is not refused.
  BootstrapCore complexCore(he, transformConfig(false, true, true, 20), 1 << 20);
  EXPECT_NO_THROW(BootstrapCore::checkTransformOrder(complexCore.getConfig()));
  // The evaluator, which would run the pipeline, refuses the configuration.
  BootstrappableSealContext seal;
  seal.init(HeConfigRequirement::insecure(8, 20, 40, 10));
  expectThrowWithMessage<std::invalid_argument>(
      [&] { SealBootstrapEvaluator(seal, transformConfig(false, true, false, 20)); }, message);
}

TEST(BootstrapTransforms, InputsAtAnotherChainIndexAreRefused)
{
  const std::string lines = "Expecting chain-index = 20 and got 19.\nMay need to fix default "
                            "enc/decodingChainIndex indices in setEncodingMatrices().\n";
  for (bool fft : {true, false}) {
    const int depth = 20;
    BootstrapCore core(mockupCore(8).getHeContext(), transformConfig(fft, fft, false, depth),
                       1 << 20);
    ASSERT_EQ(core.getEncodingChainIndex(), 20);
    CTile x = encryptAt(core.getHeContext(), randomComplex(7, 8), 19);
    CoutCapture capture;
    expectThrowWithMessage<std::runtime_error>([&] { core.coef2slot(x); },
                                               "Unexpected chain-index");
    EXPECT_EQ(capture.str(), lines) << fft;
  }
}

TEST(BootstrapTransforms, ComplexCoeffToSlotOnTheMockupGivesRealAndImaginaryParts)
{
  // The mockup context computes exactly: the halves are twice the real and
  // twice the imaginary parts of the product in every slot, and the
  // pipeline gives the input back.
  const int n = 16;
  auto mockup = mockupContext(n, 20);
  BootstrapCore core(*mockup, transformConfig(false, false, true, 20), 1 << 20);
  const int e = core.getEncodingChainIndex();
  CTile x = encryptAt(*mockup, randomComplex(41, n), e, core.getBaseScale());
  auto product = decryptOf(core.getMulCipherWithDiagonalizedMatrix(x, *core.getEncodingDiagonals()));
  auto [r, s] = core.coef2slot(x);
  EXPECT_EQ(r.getChainIndex(), e - 2);
  EXPECT_EQ(s.getChainIndex(), e - 2);
  auto re = decryptOf(r);
  auto im = decryptOf(s);
  for (int j = 0; j < n; ++j) {
    EXPECT_LT(std::abs(re[j] - 2 * product[j].real()), 1e-12) << j;
    EXPECT_LT(std::abs(im[j] - 2 * product[j].imag()), 1e-12) << j;
  }
  auto values = randomComplex(43, n);
  CTile y = encryptAt(*mockup, values, e, core.getBaseScale());
  auto [yr, ys] = core.coef2slot(y);
  core.modInPlaceForBootstrap(yr, 1 << 20, false);
  core.modInPlaceForBootstrap(ys, 1 << 20, false);
  Errors errors = errorsOf(decryptOf(core.slot2coef(yr, ys)), values);
  EXPECT_LT(errors.max, 1e-5);
}

TEST(BootstrapTransforms, PipelineOnSealWithinItsPrecision)
{
  // The default configuration at 512 slots, one chain index left after it.
  const int slots = 512;
  const int depth = 17;
  const HeContext& he = bootstrapSealContext(slots, depth, 50, 10);
  BootstrapCore core(he, transformConfig(true, true, false, depth));
  EXPECT_EQ(core.getTargetChainIndex(), 1);
  auto values = randomReal(17, slots, -1, 1);
  Errors e = errorsOf(pipeline(core, values), values);
  EXPECT_LT(e.max, 0.05);
  EXPECT_LT(e.mean, 0.01);
  // Far better than asked.
  EXPECT_LT(e.mean, 1e-4);
}

TEST(BootstrapTransforms, PipelineVariantsOnSeal)
{
  // Matrix and FFT variants, and complex data (matrix CoeffToSlot, then both
  // halves reduced and recombined), at 64 slots.
  const int slots = 64;
  const int depth = 17;
  const HeContext& he = bootstrapSealContext(slots, depth, 50, 10);
  struct Case
  {
    bool c2sFft;
    bool s2cFft;
    bool complexData;
  };
  for (Case c : {Case{false, false, false}, Case{true, false, false}, Case{false, true, true},
                 Case{false, false, true}}) {
    BootstrapCore core(he, transformConfig(c.c2sFft, c.s2cFft, c.complexData, depth));
    auto values = c.complexData ? randomComplex(19, slots) : randomReal(19, slots, -1, 1);
    Errors e = errorsOf(pipeline(core, values), values);
    EXPECT_LT(e.max, 1e-3) << c.c2sFft << c.s2cFft << c.complexData;
    EXPECT_LT(e.mean, 1e-4) << c.c2sFft << c.s2cFft << c.complexData;
  }
}

TEST(BootstrapTransforms, RaisedInputsOnSealComeBackWithTheirValues)
{
  // What a bootstrap meets: a ciphertext encrypted at chain index 0, raised
  // to the encoding chain index, whose coefficients then carry multiples of
  // q0 (about 25 at most here, from SEAL's ternary secret); and a ciphertext
  // with q0 k added to every coefficient, |k| up to what the reduction
  // covers: its slots after CoeffToSlot, 2 (m + k q0) / (q0 R), stay within
  // the [-1, 1] of the cos and sin approximations for |k| < R / 2.
  // The error comes from those approximations (row 14, the largest whose
  // evaluation fits the chain indexes the cost budgets), scaled by q0 over
  // the scale: with 4 integer bits the mean error is about 2^-14.5 on real
  // data and 2^-14 on complex data (2^-8.8 with 10 integer bits).
  const int slots = 512;
  const int depth = 17;
  const HeContext& he = bootstrapSealContext(slots, depth, 56, 4);
  const int maxMultiple = BootstrapCore::POWER / 2 - 1;
  std::mt19937 gen(29);
  std::uniform_int_distribution<int64_t> multipleOf(-maxMultiple, maxMultiple);
  std::vector<int64_t> multiples(2 * slots);
  for (int64_t& k : multiples)
    k = multipleOf(gen);
  multiples[0] = maxMultiple;
  multiples[1] = -maxMultiple;
  struct Case
  {
    bool c2sFft;
    bool s2cFft;
    bool complexData;
  };
  for (Case c : {Case{true, true, false}, Case{false, false, false}, Case{false, false, true}}) {
    BootstrapCore core(he, transformConfig(c.c2sFft, c.s2cFft, c.complexData, depth));
    const int e = core.getEncodingChainIndex();
    auto values = c.complexData ? randomComplex(31, slots) : randomReal(31, slots, -1, 1);
    CTile raised = raiseModulus(encryptAt(he, values, 0), e);
    CTile shifted =
        addMultiplesOfFirstPrime(encryptAt(he, values, e, core.getBaseScale()), multiples);
    int64_t raisedMultiple = largestMultipleOfFirstPrime(raised);
    EXPECT_GE(raisedMultiple, 10);
    EXPECT_LE(raisedMultiple, maxMultiple);
    EXPECT_EQ(largestMultipleOfFirstPrime(shifted), maxMultiple);
    for (const CTile* x : {&raised, &shifted}) {
      const std::string input = std::string(x == &raised ? "raised" : "shifted") +
                                (c.complexData ? ", complex" : ", real") +
                                (c.c2sFft ? ", layers" : ", matrices");
      // Without the reduction, the multiples are far from the values.
      EXPECT_GT(errorsOf(decryptOf(*x), values).mean, 1e3) << input;
      // Complex slots err in both parts.
      Errors errors = errorsOf(pipelineOf(core, *x), values);
      EXPECT_LT(errors.mean, std::pow(2.0, c.complexData ? -13.5 : -14)) << input;
      EXPECT_LT(errors.max, std::pow(2.0, -11.5)) << input;
    }
  }
}
