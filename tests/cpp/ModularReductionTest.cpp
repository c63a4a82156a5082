// The modular reduction step of bootstrapping: 2 sin(pi R x) by Chebyshev
// approximations and double-angle steps, and the powers behind it.

#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "hebase/RunStats.h"
#include "math/bootstrap/seal/BootstrapCore.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
constexpr int SLOTS = 8;
constexpr int DEPTH = 20;
const double PI = std::acos(-1.0);

const HeContext& sealContext() { return bootstrapSealContext(SLOTS, DEPTH); }

const BootstrapCore& sealCore() { return bootstrapSealCore(SLOTS, DEPTH); }

} // namespace

TEST(ModularReduction, TwiceTheSineOfRTimesPiX)
{
  const HeContext& he = sealContext();
  const BootstrapCore& core = sealCore();
  // Inputs of the form 2 (m + k q) / (q R): the result is 2 sin(2 pi m / q)
  // whatever the integer k.
  const double q = 1 << 20;
  std::vector<Complex> values(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    values[i] = 2 * ((i * 7919 % 2001 - 1000) + (i % 7 - 3) * q) / (q * 72);
  values[0] = 0.5;
  values[1] = -0.5;
  CTile x = encryptAt(he, values, DEPTH);
  core.modInPlace(x, q, false);
  // Four levels for cos and sin, seven for the power.
  EXPECT_EQ(x.getChainIndex(), DEPTH - 11);
  auto got = decryptOf(x);
  for (int i = 0; i < SLOTS; ++i) {
    double expected = 2 * std::sin(PI * 72 * values[i].real());
    EXPECT_NEAR(got[i].real(), expected, 1e-4) << i;
    EXPECT_NEAR(got[i].imag(), 0, 1e-4) << i;
  }
}

TEST(ModularReduction, ForBootstrapMatchesTheFunctionOnRandomInputs)
{
  const HeContext& he = sealContext();
  const BootstrapCore& core = sealCore();
  auto values = randomReal(11, SLOTS, -0.5, 0.5);
  CTile x = encryptAt(he, values, 15);
  core.modInPlaceForBootstrap(x, static_cast<double>(he.getModulusChain()->at(0)), false);
  EXPECT_EQ(x.getChainIndex(), 4);
  auto got = decryptOf(x);
  for (int i = 0; i < SLOTS; ++i)
    EXPECT_NEAR(got[i].real(), 2 * std::sin(PI * 72 * values[i].real()), 1e-4) << i;
}

TEST(ModularReduction, FactorsInTheStepReduceModuloQ)
{
  // With the factors in the step, v becomes (q / 2 pi) sin(2 pi v / q), about
  // v mod q for small remainders. An explicit R recomputes r1 and r2 from q.
  const HeContext& he = sealContext();
  BootstrapConfig config = uncachedConfig();
  config.correctModScale = true;
  BootstrapCore core(he, config);
  for (int power : {72, 16}) {
    const double q = 64;
    std::vector<Complex> values(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      values[i] = (i % 5 - 2) + q * (i % 3 - 1) * (power == 16 ? 1 : 2);
    CTile x = encryptAt(he, values, DEPTH);
    core.modInPlace(x, q, false, power);
    // Two levels for the product by r1, then the reduction, then r2.
    int powerLevels = power == 72 ? 7 : 4;
    EXPECT_EQ(x.getChainIndex(), DEPTH - 2 - 4 - powerLevels - 1) << power;
    auto got = decryptOf(x);
    for (int i = 0; i < SLOTS; ++i) {
      double v = values[i].real();
      EXPECT_NEAR(got[i].real(), q / (2 * PI) * std::sin(2 * PI * v / q), 1e-3) << i;
      EXPECT_NEAR(got[i].real(), i % 5 - 2, 0.02) << i;
    }
  }
}

TEST(ModularReduction, PowersBySquaring)
{
  const HeContext& he = sealContext();
  const BootstrapCore& core = sealCore();
  std::vector<Complex> values(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    values[i] = std::polar(1.0, 0.37 * i - 1.1);
  struct Case
  {
    int d;
    int levels;
  };
  for (Case c : {Case{1, 0}, Case{2, 1}, Case{3, 2}, Case{5, 3}, Case{8, 3}, Case{72, 7}}) {
    CTile x = encryptAt(he, values, DEPTH);
    core.powInPlace(x, c.d);
    EXPECT_EQ(x.getChainIndex(), DEPTH - c.levels) << c.d;
    auto got = decryptOf(x);
    for (int i = 0; i < SLOTS; ++i)
      EXPECT_LT(std::abs(got[i] - std::pow(values[i], c.d)), 1e-6) << c.d << ":" << i;
  }

  // d = 0: a fresh encryption of ones at the top chain index.
  CTile x = encryptAt(he, values, 10);
  core.powInPlace(x, 0);
  EXPECT_EQ(x.getChainIndex(), DEPTH);
  for (auto v : decryptOf(x))
    EXPECT_LT(std::abs(v - Complex(1, 0)), 1e-6);

  CTile y = encryptAt(he, values, 10);
  expectThrowWithMessage<std::runtime_error>([&] { core.powInPlace(y, -1); }, "d must be >= 0");
  EXPECT_EQ(y.getChainIndex(), 10);
}

TEST(ModularReduction, PowerOfSeventyTwoIsSixSquaringsAndOneProduct)
{
  // Each squaring is a product of x by itself.
  auto he = mockupContext(SLOTS, DEPTH);
  BootstrapCore core(*he, uncachedConfig(), 1 << 20);
  struct Case
  {
    int d;
    int products;
  };
  for (Case c : {Case{72, 7}, Case{2, 1}, Case{1, 0}, Case{9, 4}}) {
    CTile x = encryptAt(*he, std::vector<Complex>(SLOTS, Complex(0.5, 0.5)), DEPTH);
    auto stats = tracked(*he, [&] { core.powInPlace(x, c.d); });
    EXPECT_EQ(stats->getTotalCount(RunStats::MULTIPLY_RAW), c.products) << c.d;
    EXPECT_EQ(stats->getTotalCount(RunStats::SQUARE_RAW), 0) << c.d;
  }
}

TEST(ModularReduction, VerboseModeRefusesInputsBeyondOneHalf)
{
  // The mockup context computes exactly, so the bound itself can be tested.
  auto he = mockupContext(SLOTS, DEPTH);
  BootstrapCore core(*he, uncachedConfig(), 1 << 20);
  std::vector<Complex> values(SLOTS, 0.25);
  values[3] = 0.5;
  values[5] = -0.5;
  {
    CTile x = encryptAt(*he, values, DEPTH);
    CoutCapture capture;
    core.modInPlace(x, 1 << 20, true);
    std::string text = capture.str();
    EXPECT_NE(text.find("1. input\n"), std::string::npos);
    EXPECT_NE(text.find("3. cos   : expected  : "), std::string::npos);
    EXPECT_NE(text.find("6. 2*c5.imag expected : "), std::string::npos);
    auto got = decryptOf(x);
    for (int i = 0; i < SLOTS; ++i)
      EXPECT_NEAR(got[i].real(), 2 * std::sin(PI * 72 * values[i].real()), 1e-4) << i;
  }
  values[6] = -0.5000001;
  CTile x = encryptAt(*he, values, DEPTH);
  CoutCapture capture;
  expectThrowWithMessage<std::runtime_error>([&] { core.modInPlace(x, 1 << 20, true); },
                                             "mod1 abs(cis input)>0.5: 0.500000");
  std::string text = capture.str();
  // Standard output prints 16 significant digits once a core exists.
  EXPECT_NE(text.find("\ns[6] = -0.5000000999999999\nabs(s[6]) = 0.5000000999999999\nq = "
                      "1048576\nR = 72\nr1 = 2/qR = 2.649095323350694e-08\n"),
            std::string::npos)
      << text;
  // Outside verbose mode no range test is made.
  CTile quiet = encryptAt(*he, values, DEPTH);
  EXPECT_NO_THROW(core.modInPlace(quiet, 1 << 20, false));
}
