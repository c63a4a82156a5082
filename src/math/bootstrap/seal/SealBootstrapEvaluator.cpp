#include "math/bootstrap/seal/SealBootstrapEvaluator.h"

#include <cmath>
#include <complex>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <vector>

#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"

namespace quorvane {

namespace {

const char* const SEPARATOR = "=====================================================";
constexpr double PI = 3.14159265358979323846;

void printSeparator() { std::cout << SEPARATOR << std::endl; }

} // namespace

SealBootstrapEvaluator::SealBootstrapEvaluator(const HeContext& he,
                                               const BootstrapConfig& configIn)
    : AbstractBootstrapEvaluator(he, configIn), encoder(he), numSlots(he.slotCount()),
      firstMod(he.getModulusChain()->at(0))
{
  // The SEAL context declares no bootstrapping support; the evaluator needs a
  // context that does.
  if (!getHeContext().getTraits().getSupportsCKKSBootstrapping())
    throwAssertError("getHeContext().getTraits().getSupportsCKKSBootstrapping()", __FILE__,
                     __LINE__, __func__);
  if (config.range != BOOTSTRAP_RANGE_DEFAULT)
    throw std::invalid_argument("Seal supports only default BootstrapRange");
  // Complex data always takes CoeffToSlot by matrix.
  if (config.supportComplexData)
    config.coef2slotViaFFT = false;
  if (config.targetChainIndex == -1)
    config.targetChainIndex = he.getTopChainIndex() - BootstrapCore::getLevelCost(config, numSlots);
  BootstrapCore::checkTransformOrder(config);
  core = std::make_unique<BootstrapCore>(he, config, firstMod);
  if (isVerbose())
    core->printConfig();
}

SealBootstrapEvaluator::~SealBootstrapEvaluator() { core.reset(); }

void SealBootstrapEvaluator::bootstrap(CTile& c)
{
  std::optional<SectionTimer> timer;
  if (isVerbose())
    timer.emplace("bootstrap");
  if (!config.duplicateRealInput) {
    inputStep(c);
    remodStep(c);
    transformSteps(c);
  }
  if (isVerbose()) {
    c.debugPrint("final ciphertext", VERBOSITY_LOW, std::cout);
    timer.reset();
    SectionTimer::printTree(std::cout);
    SectionTimer::printFlatSummary(std::cout);
    SectionTimer::printSectionsNamed("bootstrap", std::cout);
  }
}

void SealBootstrapEvaluator::bootstrapMockup(CTile& c) { transformSteps(c); }

void SealBootstrapEvaluator::transformSteps(CTile& c)
{
  if (config.supportComplexData) {
    // Both halves, as bootstrap reduces and recombines them.
    auto [r, s] = coef2slotStep(c);
    modStep(r, s);
    if (isVerbose()) {
      printSeparator();
      std::cout << "5. Slot2Coef" << std::endl;
    }
    c = core->slot2coef(r, s);
    return;
  }
  auto halves = coef2slotStep(c);
  c = halves.first;
  modStep(c);
  slot2coefStep(c);
}

void SealBootstrapEvaluator::inputStep(CTile& c)
{
  c.setChainIndex(0);
  if (!isVerbose())
    return;
  printSeparator();
  std::cout << "1. Input" << std::endl;
  printSeparator();
  PTile p(he);
  encoder.decrypt(p, c);
  c.debugPrint("c1 pre BS", config.verbose, std::cout);
  if (config.verbose == VERBOSITY_LOW)
    std::cout << std::endl;
  printSeparator();
  p.debugPrint("p1 pre BS", config.verbose, std::cout);
  if (config.verbose == VERBOSITY_LOW)
    std::cout << std::endl;
}

void SealBootstrapEvaluator::remodStep(CTile& c)
{
  if (isVerbose()) {
    printSeparator();
    std::cout << "2. Remod" << std::endl;
    std::cout << "raising chain-index from 0 to " << he.getTopChainIndex() << std::endl;
  }
  c.getImpl().remod(static_cast<uint64_t>(core->getEncodingChainIndex()));
  if (isVerbose()) {
    PTile p(he);
    encoder.decrypt(p, c);
    p.debugPrint("p2: post remod to " + std::to_string(c.getChainIndex()),
                 VERBOSITY_EXTRA_DETAILED, std::cout);
  }
  if (auto* debug = dynamic_cast<DebugCiphertext*>(&c.getImpl()))
    debug->syncC2FromC1();
}

std::pair<CTile, CTile> SealBootstrapEvaluator::coef2slotStep(CTile& c)
{
  const Verbosity lower = PrintUtils::decreaseVerbosity(config.verbose);
  if (isVerbose()) {
    printSeparator();
    c.debugPrint("pre coef2slot", lower, std::cout);
    if (config.verbose == VERBOSITY_REGULAR)
      std::cout << std::endl;
    std::cout << "3. Coef2Slot" << std::endl;
  }
  auto res = core->coef2slot(c);
  if (isVerbose()) {
    getPrintOptions().factor = core->getBaseScale() / core->getEncFactor();
    res.first.debugPrint("post coef2slot", lower, std::cout);
    if (config.verbose <= VERBOSITY_REGULAR)
      std::cout << std::endl;
  }
  return res;
}

void SealBootstrapEvaluator::modStep(CTile& c)
{
  const bool verbose = isVerbose();
  if (verbose) {
    printSeparator();
    std::cout << "4. Mod firstMod=" << firstMod << " = " << std::log2(static_cast<double>(firstMod))
              << std::endl;
    std::cout << "Mod 1st part" << std::endl;
  }
  const int R = core->getR();
  if (config.clearSineMod || config.clearExactMod) {
    std::vector<std::complex<double>> v = encoder.decryptDecodeComplex(c);
    for (int i = 0; i < numSlots; ++i) {
      double x = v[i].real();
      double y;
      if (config.clearSineMod) {
        y = 2 * std::sin(R * (PI * x));
      } else {
        y = MathUtils::mod(R * x, 2.0);
        if (y > 1)
          y -= 2;
        else if (y < -1)
          y += 2;
        y *= 2 * PI;
      }
      v[i] = std::complex<double>(y, v[i].imag());
    }
    encoder.encodeEncrypt(c, v, core->getDecodingChainIndex());
  } else {
    core->modInPlaceForBootstrap(c, static_cast<double>(firstMod), verbose);
  }
  if (verbose) {
    printSeparator();
    getPrintOptions().factor =
        core->getBaseScale() / (core->getEncFactor() * 2 * PI * core->getR());
    c.debugPrint("post mod", PrintUtils::decreaseVerbosity(config.verbose), std::cout);
    if (config.verbose == VERBOSITY_REGULAR)
      std::cout << std::endl;
  }
}

void SealBootstrapEvaluator::modStep(CTile& r, CTile& s)
{
  const bool verbose = isVerbose();
  if (verbose) {
    printSeparator();
    std::cout << "4. Mod firstMod=" << firstMod << std::endl;
    std::cout << "Mod 1st part" << std::endl;
  }
  core->modInPlaceForBootstrap(r, static_cast<double>(firstMod), verbose);
  if (config.supportComplexData) {
    if (verbose)
      std::cout << "Mod 2nd part" << std::endl;
    core->modInPlaceForBootstrap(s, static_cast<double>(firstMod), verbose);
  }
  if (verbose) {
    printSeparator();
    r.debugPrint("post mod", PrintUtils::decreaseVerbosity(config.verbose), std::cout);
  }
}

void SealBootstrapEvaluator::slot2coefStep(CTile& c)
{
  if (isVerbose()) {
    printSeparator();
    std::cout << "5. Slot2Coef" << std::endl;
  }
  c = core->slot2coef(c, CTile(he));
  if (isVerbose())
    c.debugPrint("final", config.verbose, std::cout);
}

} // namespace quorvane
