#include "math/bootstrap/seal/BootstrapCore.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/MockupEncoder.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/Chebyshev.h"
#include "math/bootstrap/seal/ChebyshevEvaluator.h"
#include "math/bootstrap/seal/FFTUtils.h"

namespace quorvane {

namespace {

using Complex = std::complex<double>;
using CVec = std::vector<Complex>;

constexpr int CHEBYSHEV_MIN_INDEX = 13;
constexpr int CHEBYSHEV_MAX_INDEX = 50;
// The target chain index of a core whose configuration leaves it to the caller.
constexpr int DEFAULT_TARGET_CHAIN_INDEX = 4;
constexpr double PI = 3.14159265358979323846;
const char* const SEPARATOR = "=====================================================";

// Prints a labelled vector of complex values on one line.
void printValues(const std::string& label, const CVec& values)
{
  std::cout << label;
  PrintUtils::printComplexVector(std::cout, values);
  std::cout << std::endl;
}

} // namespace

BootstrapCore::BootstrapCore(const HeContext& he, const BootstrapConfig& configIn, uint64_t q0)
    : he(he), config(configIn)
{
  if (config.targetChainIndex == -1)
    config.targetChainIndex = DEFAULT_TARGET_CHAIN_INDEX;
  targetChainIndex = config.targetChainIndex;

  chebyshev = std::make_shared<Chebyshev>(CHEBYSHEV_MIN_INDEX, CHEBYSHEV_MAX_INDEX);

  const int n = he.slotCount();
  m = 4 * n;
  polyDegree = 2 * n;
  numSlots = n;
  generator = getSlotOrderGenerator(he);
  R = POWER;

  cost = getLevelCost(config, n);
  encodingChainIndex = targetChainIndex + cost;
  int top = he.getTopChainIndex();
  // A result needs chain index 0 at least: below it the chain is too short
  // (the evaluator's default target is the top minus the cost) or the
  // target is wrong.
  int needed = std::max(targetChainIndex, 0) + cost;
  if (needed > top)
    throw std::runtime_error("Can't bootstrap. Need chain with at least " +
                             std::to_string(needed) + " primes, but max chain depth was set to " +
                             std::to_string(top));
  if (targetChainIndex < 0)
    throw std::invalid_argument("Can't bootstrap to the negative chain index " +
                                std::to_string(targetChainIndex));
  decodingChainIndex = targetChainIndex + (config.slot2coefViaFFT ? 2 : 1);

  if (q0 == 0)
    q0 = he.getModulusChain()->at(0);
  r1 = 2 / (static_cast<double>(q0) * R);
  baseScale = he.getAccurateScale(0);
  encFactor = baseScale * r1;
  r2 = static_cast<double>(q0) / (4 * PI);
  decFactor = r2 / baseScale;
  if (!config.applyTransformFactors) {
    encFactor = 1.0;
    decFactor = 1.0;
  }

  cosCoefficients = chebyshev->getCosCoefficients(config.nT);
  sinCoefficients = chebyshev->getSinCoefficients(config.nT);
  // The cost budgets a fixed number of levels for the Chebyshev evaluation;
  // a row that needs more would leave the result below the target.
  int chebyshevLevels = std::max(ChebyshevEvaluator::getNumLevels(cosCoefficients),
                                 ChebyshevEvaluator::getNumLevels(sinCoefficients));
  if (chebyshevLevels > CHEBYSHEV_LEVEL_BUDGET)
    throw std::invalid_argument(
        "Can't bootstrap with Chebyshev table row " + std::to_string(config.nT) + ": it needs " +
        std::to_string(chebyshevLevels) + " chain indexes, but the bootstrapping cost budgets " +
        std::to_string(CHEBYSHEV_LEVEL_BUDGET));

  std::cout.precision(16);

  roots.resize(m);
  for (int k = 0; k < m; ++k) {
    double theta = static_cast<double>(k) * 2 * PI / static_cast<double>(m);
    roots[k] = std::polar(1.0, theta);
  }
  inverseN = Complex(1.0 / polyDegree, 0);

  if (config.coef2slotViaFFT || config.slot2coefViaFFT)
    fftUtils = std::make_shared<FFTUtils>(*this);

  if (config.verbose > VERBOSITY_NONE) {
    std::cout << "R    = " << R << std::endl;
    std::cout << "cost = " << cost << std::endl;
    std::cout << "EncodingChainIndex=" << encodingChainIndex << std::endl;
    std::cout << "DecodingChainIndex=" << decodingChainIndex << std::endl;
  }

  createRotationDependencyMap();
  setEncodingMatrices();
}

BootstrapCore::~BootstrapCore() {}

void BootstrapCore::checkTransformOrder(const BootstrapConfig& config)
{
  // The layers of SlotToCoeff read the slots in the bit-reversed order that
  // only the layers of CoeffToSlot leave; after the matrix CoeffToSlot they
  // would give wrong values.
  if (!config.supportComplexData && config.slot2coefViaFFT && !config.coef2slotViaFFT)
    throw std::invalid_argument("Can't bootstrap real data with slot2coefViaFFT but not "
                                "coef2slotViaFFT: the SlotToCoeff layers expect the bit-reversed "
                                "order of the CoeffToSlot layers");
}

int BootstrapCore::getLevelCost(const BootstrapConfig& config, int)
{
  // ceil(log2 72) for the double-angle steps.
  int res = 7;
  res += config.coef2slotViaFFT ? 7 : 6;
  if (config.slot2coefViaFFT)
    res += 1;
  return res + 1;
}

void BootstrapCore::printConfig() const
{
  std::cout << SEPARATOR << std::endl;
  he.debugPrint("", VERBOSITY_REGULAR, std::cout);
  std::cout << "BS config: " << std::endl;
  std::cout << "R=" << R << std::endl;
  std::cout << "nT=" << config.nT << std::endl;
  std::cout << SEPARATOR << std::endl;
}

int BootstrapCore::getSlotOrderGenerator(const HeContext& he)
{
  return dynamic_cast<const SealCkksContext*>(&he) != nullptr ? 3 : 5;
}

int BootstrapCore::getImaginaryUnitSign(int i) const
{
  return i <= 0 || powMod(generator, i, 4) == 1 ? 1 : -1;
}

std::complex<double> BootstrapCore::getRoot(int i, int j) const
{
  int64_t e = i <= 0 ? 1 : powMod(generator, i, m);
  int64_t t = (static_cast<int64_t>(j) * e) % m;
  if (t < 0)
    t += m;
  return roots[static_cast<size_t>(t)];
}

int BootstrapCore::powMod(int base, int exponent, int modulus)
{
  int64_t b = static_cast<int64_t>(base) % modulus;
  if (b == 0)
    return 0;
  int64_t result = 1;
  int64_t e = exponent;
  while (e > 0) {
    if (e % 2 == 1)
      result = (result * b) % modulus;
    b = (b * b) % modulus;
    e /= 2;
  }
  return static_cast<int>(result);
}

template <typename T>
PTile BootstrapCore::encodeConstantAt(const T& value, int chainIndex, double scale) const
{
  PTile res(he);
  Encoder encoder(he);
  encoder.setDefaultScale(scale);
  encoder.encode(res, value, chainIndex);
  return res;
}

PTile BootstrapCore::encodeConstant(int value, int chainIndex, double scale) const
{
  return encodeConstantAt(value, chainIndex, scale);
}

PTile BootstrapCore::encodeConstant(double value, int chainIndex, double scale) const
{
  return encodeConstantAt(value, chainIndex, scale);
}

PTile BootstrapCore::encodeConstantAtUnitScale(std::complex<double> value, int chainIndex) const
{
  return encodeConstantAt(CVec(numSlots, value), chainIndex, 1.0);
}

PTile BootstrapCore::encodeAlternatingImaginaryUnit(int sign, int chainIndex) const
{
  CVec values(numSlots);
  for (int j = 0; j < numSlots; ++j)
    values[j] = Complex(0, j % 2 == 0 ? sign : -sign);
  return encodeConstantAt(values, chainIndex, 1.0);
}

bool BootstrapCore::hasExactImaginaryUnit() const { return he.getTraits().getIsMockup(); }

PTile BootstrapCore::encodeImaginaryUnit(int sign, int chainIndex) const
{
  if (!hasExactImaginaryUnit())
    return encodeAlternatingImaginaryUnit(sign, chainIndex);
  PTile res = encodeConstantAtUnitScale(Complex(0, sign), -1);
  res.setChainIndex(chainIndex);
  return res;
}

double BootstrapCore::getPlainScaleForTwoRescales(double scale, int chainIndex) const
{
  if (he.getTraits().getIsMockup())
    return he.getDefaultScale();
  auto q = he.getModulusChain();
  return he.getAccurateScale(chainIndex - 2) / scale * static_cast<double>(q->at(chainIndex - 1)) *
         static_cast<double>(q->at(chainIndex));
}

std::vector<std::complex<double>> BootstrapCore::getMockValues(const CTile& c) const
{
  const auto* debug = dynamic_cast<const DebugCiphertext*>(&c.getImpl());
  if (debug == nullptr)
    return {};
  const auto* debugContext = dynamic_cast<const DebugContext*>(&c.getHeContext());
  if (debugContext == nullptr)
    return {};
  const auto* mockup = dynamic_cast<const MockupContext*>(&debugContext->getSecondContext());
  if (mockup == nullptr)
    return {};
  MockupEncoder encoder(*mockup);
  auto plain = mockup->createAbstractPlaintext();
  encoder.decrypt(*plain, debug->getC2());
  return encoder.decodeComplex(*plain);
}

void BootstrapCore::modInPlaceForBootstrap(CTile& x, double q, bool verbose) const
{
  SectionTimer timer("modInPlaceForBootstrap");
  modInPlace(x, q, verbose);
}

void BootstrapCore::modInPlace(CTile& x, double q, bool verbose, int power) const
{
  SectionTimer timer("modInPlace");
  double f1 = r1;
  double f2 = r2;
  if (power == -1) {
    power = R;
  } else {
    f1 = 2 / (power * q);
    f2 = q / (4 * PI);
  }
  Encoder encoder(he);
  // The labelled value lines of the diagnostics for a ciphertext.
  auto printActual = [&](const std::string& firstLabel, const CTile& c) {
    CVec mock = getMockValues(c);
    CVec actual = encoder.decryptDecodeComplex(c);
    if (!mock.empty()) {
      printValues(firstLabel + "mock      : ", mock);
      printValues("           actual    : ", actual);
    } else {
      printValues(firstLabel + "actual    : ", actual);
    }
    std::cout << "           CI        : " << c.getChainIndex() << std::endl;
  };
  auto printMockAndActual = [&](const CTile& c) { printActual("           ", c); };

  if (verbose) {
    x.debugPrint("pre mod", VERBOSITY_REGULAR, std::cout);
    std::cout << "Computing ";
    PrintUtils::printComplexVector(std::cout, encoder.decryptDecodeComplex(x));
    std::cout << " mod " << q << std::endl;
    std::cout << "R=" << power << std::endl;
    std::cout << "q=" << q << std::endl;
    std::cout << "r1=2/qR =" << f1 << " encFactor=r1*scale =" << encFactor << std::endl;
    std::cout << "r2=q/2Pi=" << f2 << "  decFactor=r2/2scale=" << decFactor << std::endl;
    std::cout << "verbose slot = " << 0 << std::endl;
    std::cout << SEPARATOR << std::endl;
    std::cout << "1. input" << std::endl;
    printActual("1. C       ", x);
    std::cout << std::endl;
  }

  if (config.correctModScale) {
    int c = x.getChainIndex();
    double s = getPlainScaleForTwoRescales(x.getScale(), c);
    PTile p(he);
    Encoder scaled(he);
    scaled.setDefaultScale(s);
    scaled.encode(p, f1, c);
    x.multiplyPlain(p);
    x.rescale();
    if (verbose) {
      std::cout << "2. last*r1 (r1=" << f1 << ")" << std::endl;
      printActual("2. C       ", x);
    }
  }

  CVec input;
  if (verbose) {
    input = encoder.decryptDecodeComplex(x);
    for (int i = 0; i < numSlots; ++i) {
      double re = input[i].real();
      if (std::abs(re) > 0.5) {
        std::cout << "s[" << i << "] = " << re << std::endl;
        std::cout << "abs(s[" << i << "]) = " << std::abs(re) << std::endl;
        std::cout << "q = " << q << std::endl;
        std::cout << "R = " << power << std::endl;
        std::cout << "r1 = 2/qR = " << f1 << std::endl;
        std::ostringstream value;
        value << std::fixed << std::setprecision(6) << std::abs(re);
        throw std::runtime_error("mod1 abs(cis input)>0.5: " + value.str());
      }
    }
  }

  CTile c1(he);
  CTile s1(he);
  {
    SectionTimer chebyshevTimer("spt_hx");
    ChebyshevEvaluator evaluator(he, *this);
    evaluator.precompute(static_cast<int>(cosCoefficients.size()), x);
    c1 = evaluator.evaluate(cosCoefficients);
    s1 = evaluator.evaluate(sinCoefficients);
  }
  CVec expected(verbose ? numSlots : 0);
  if (verbose) {
    CVec expectedCos(numSlots);
    CVec expectedSin(numSlots);
    for (int i = 0; i < numSlots; ++i) {
      double re = input[i].real();
      expectedCos[i] = std::cos(PI * re);
      expectedSin[i] = std::sin(PI * re);
      expected[i] = Complex(expectedCos[i].real(), expectedSin[i].real());
    }
    printValues("3. cos   : expected  : ", expectedCos);
    printMockAndActual(c1);
    printValues("   sin   : expected  : ", expectedSin);
    printMockAndActual(s1);
  }

  // cis = c1 + i s1 (with the alternating unit, c1 - i s1 in the odd slots:
  // both signs lead to the same 2 sin(pi R x) below).
  CTile cis(s1);
  cis.multiplyPlainRaw(encodeImaginaryUnit(1, cis.getChainIndex()));
  cis.add(c1);
  Complex cisBefore;
  if (verbose) {
    printValues("4. cis   : expected  : ", expected);
    Complex first(encoder.decryptDecodeComplex(c1)[0].real(),
                  encoder.decryptDecodeComplex(s1)[0].real());
    printValues("           expected' : ", CVec{first});
    printMockAndActual(cis);
    cisBefore = encoder.decryptDecodeComplex(cis)[0];
  }

  {
    SectionTimer powTimer("powInPlace");
    powInPlace(cis, power);
  }
  CVec expectedPow(verbose ? numSlots : 0);
  if (verbose) {
    cis.debugPrint("ccis^R", VERBOSITY_REGULAR, std::cout);
    c1.debugPrint("ccos128", VERBOSITY_REGULAR, std::cout);
    s1.debugPrint("csin128", VERBOSITY_REGULAR, std::cout);
    for (int i = 0; i < numSlots; ++i)
      expectedPow[i] = std::pow(expected[i], power);
    printValues("5. c4^R(" + std::to_string(power) + "):expected: ", expectedPow);
    printValues("           expected' : ", CVec{std::pow(cisBefore, power)});
    printMockAndActual(cis);
  }

  Complex cisAfter;
  if (verbose)
    cisAfter = encoder.decryptDecodeComplex(cis)[0];
  // Times -i (matching the sign cis was formed with): 2 Re of that is
  // 2 sin(pi R x) in every slot.
  cis.multiplyPlainRaw(encodeImaginaryUnit(-1, cis.getChainIndex()));
  CTile w(cis);
  w.conjugate();
  cis.add(w);
  x = cis;
  if (verbose) {
    x.debugPrint("img part", VERBOSITY_REGULAR, std::cout);
    printValues("6. 2*c5.imag expected : ", CVec{2 * expectedPow[0].imag()});
    printValues("             expected':  ", CVec{2 * cisAfter.imag()});
    printMockAndActual(x);
  }

  if (config.correctModScale) {
    x.multiplyPlain(encodeConstant(f2, x.getChainIndex(), x.getScale()));
    if (verbose) {
      std::cout << "7. last*r2 (r2=" << f2 << ")" << std::endl;
      printActual("7. C       ", x);
    }
  }
}

void BootstrapCore::powInPlace(CTile& x, int d) const
{
  if (d < 0)
    throw std::runtime_error("d must be >= 0");
  if (d == 1)
    return;
  if (d == 0) {
    Encoder(he).encodeEncrypt(x, std::vector<double>(numSlots, 1.0), -1);
    return;
  }
  // The accumulator r collects the odd powers met on the way.
  CTile r(he);
  auto lowerTo = [](CTile& t, int chainIndex) {
    if (t.getChainIndex() != chainIndex)
      t.setChainIndex(chainIndex);
  };
  while (true) {
    if (d % 2 == 1) {
      if (r.isEmpty()) {
        r = x;
      } else {
        lowerTo(r, x.getChainIndex());
        r.multiply(x);
      }
      d = (d - 1) / 2;
    } else {
      d /= 2;
    }
    x.multiply(x);
    if (d > 1)
      continue;
    if (!r.isEmpty()) {
      lowerTo(r, x.getChainIndex());
      x.multiply(r);
    }
    return;
  }
}

} // namespace quorvane
