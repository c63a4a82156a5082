#include "hebase/mockup/DebugContext.h"

#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "hebase/mockup/DebugCiphertext.h"
#include "hebase/mockup/DebugEncoder.h"
#include "hebase/mockup/DebugPlaintext.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

DebugContext::DebugContext(HeContext& h1, HeContext& h2, double diffThreshold, bool verbose)
    : h1(h1), h2(h2), diffThreshold(diffThreshold), verbose(verbose)
{
  traits = h1.getTraits();
  QV_ASSERT(h1.isInitialized() == h2.isInitialized());
  if (h1.isInitialized())
    HeContext::init(h1.getHeConfigRequirement());
}

DebugContext::~DebugContext() {}

void DebugContext::debugPrint(const std::string& title, Verbosity verbosity,
                              std::ostream& out) const
{
  h1.debugPrint("HE context 1: " + title, verbosity, out);
  h2.debugPrint("HE context 2: " + title, verbosity, out);
}

void DebugContext::saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const
{
  HeContext::saveImpl(out, publicFunctions);
  h1.save(out, publicFunctions);
  h2.save(out, publicFunctions);
}

void DebugContext::assertInnerContextsNotInitialized() const
{
  h1.assertNotInitialized();
  h2.assertNotInitialized();
}

namespace {

/// An uninitialised context of the same backend, or null when it cannot be cloned.
std::shared_ptr<HeContext> cloneOrNull(const HeContext& he)
{
  try {
    return he.clone();
  } catch (const std::exception&) {
    return nullptr;
  }
}

} // namespace

void DebugContext::loadImpl(std::istream& in)
{
  assertNotInitialized();
  assertInnerContextsNotInitialized();
  HeContext::loadImpl(in);
  // Initialised only once both inner contexts are loaded; a failure below
  // leaves this context uninitialised (HeContext::load restores the rest).
  initialized = false;
  // Both inner records are first read into scratch contexts of the same
  // kinds, so that a bad second record leaves the first context untouched.
  std::streampos start = in.tellg();
  std::shared_ptr<HeContext> scratch1 = cloneOrNull(h1);
  std::shared_ptr<HeContext> scratch2 = cloneOrNull(h2);
  if (start != std::streampos(-1) && scratch1 && scratch2) {
    scratch1->load(in);
    scratch2->load(in);
    in.seekg(start);
    if (!in)
      throw std::runtime_error("Cannot return to the start of the inner contexts");
  }
  h1.load(in);
  h2.load(in);
  initialized = true;
}

void DebugContext::init(const HeConfigRequirement& req)
{
  assertNotInitialized();
  assertInnerContextsNotInitialized();
  // A refusal leaves this context as it was (an inner context that accepted
  // the requirement before the other refused it stays initialised).
  runOrRestore([&] {
    HeContext::init(req);
    initialized = false;
    h1.init(req);
    h2.init(req);
    initialized = true;
  });
}

bool DebugContext::isConfigRequirementFeasible(const HeConfigRequirement& req) const
{
  return h1.isConfigRequirementFeasible(req);
}

int DebugContext::getBestFeasibleFractionalPartPrecision(const HeConfigRequirement& req) const
{
  return h1.getBestFeasibleFractionalPartPrecision(req);
}

int DebugContext::getBestFeasibleMulDepth(const HeConfigRequirement& req) const
{
  return h1.getBestFeasibleMulDepth(req);
}

std::shared_ptr<AbstractCiphertext> DebugContext::createAbstractCiphertext() const
{
  return std::make_shared<DebugCiphertext>(*this, h1.createAbstractCiphertext(),
                                           h2.createAbstractCiphertext());
}

std::shared_ptr<AbstractPlaintext> DebugContext::createAbstractPlaintext() const
{
  return std::make_shared<DebugPlaintext>(*this, h1.createAbstractPlaintext(),
                                          h2.createAbstractPlaintext());
}

std::shared_ptr<AbstractEncoder> DebugContext::getEncoder() const
{
  return std::make_shared<DebugEncoder>(*this);
}

bool DebugContext::hasSecretKey() const { return h1.hasSecretKey(); }

int DebugContext::slotCount() const { return h1.slotCount(); }

int DebugContext::getTopChainIndex() const { return h1.getTopChainIndex(); }

int DebugContext::getSecurityLevel() const { return h1.getSecurityLevel(); }

std::ostream& DebugContext::printSignature(std::ostream& out) const
{
  HeContext::printSignature(out);
  out << "Comparing two contexts with eps=" << diffThreshold << std::endl;
  out << "HE context 1:" << std::endl;
  h1.printSignature(out);
  out << "HE context 2:" << std::endl;
  h2.printSignature(out);
  return out;
}

std::shared_ptr<std::vector<uint64_t>> DebugContext::getModulusChain() const
{
  return h1.getModulusChain();
}

int64_t DebugContext::saveSecretKey(std::ostream& out, bool seedOnly) const
{
  int64_t count = h1.saveSecretKey(out, seedOnly);
  return count + h2.saveSecretKey(out, seedOnly);
}

int64_t DebugContext::loadSecretKey(std::istream& in, bool seedOnly)
{
  int64_t count = h1.loadSecretKey(in, seedOnly);
  return count + h2.loadSecretKey(in, seedOnly);
}

void DebugContext::setDefaultDevice(DeviceType device)
{
  HeContext::setDefaultDevice(device);
  h1.setDefaultDevice(device);
  h2.setDefaultDevice(device);
}

double DebugContext::getDefaultScale() const { return h1.getDefaultScale(); }

void DebugContext::setDefaultScale(double scale)
{
  HeContext::setDefaultScale(scale);
  h1.setDefaultScale(scale);
  h2.setDefaultScale(scale);
}

std::string DebugContext::getLibraryName() const
{
  return "DEBUG:" + h1.getLibraryName() + ":" + h2.getLibraryName();
}

std::string DebugContext::getSchemeName() const
{
  return "DEBUG:" + h1.getSchemeName() + ":" + h2.getSchemeName();
}

std::string DebugContext::getSignature() const { return "DEBUG_" + h1.getSignature(); }

std::vector<double> DebugContext::getMaxAllowedValues() const { return h1.getMaxAllowedValues(); }

double DebugContext::getMaxAllowedValue(int highChainIndex, int lowChainIndex) const
{
  return h1.getMaxAllowedValue(highChainIndex, lowChainIndex);
}

double DebugContext::getMaxAllowedValue(int chainIndex) const
{
  return h1.getMaxAllowedValue(chainIndex);
}

double DebugContext::getMaxAllowedBsValue() const { return h1.getMaxAllowedBsValue(); }

double DebugContext::getAccurateScale(int chainIndex) const
{
  return h1.getAccurateScale(chainIndex);
}

int DebugContext::getMinChainIndexForBootstrapping() const
{
  return h1.getMinChainIndexForBootstrapping();
}

int DebugContext::getChainIndexAfterBootstrapping() const
{
  return h1.getChainIndexAfterBootstrapping();
}

BootstrapConfig DebugContext::getBootstrapChainIndexes(const HeConfigRequirement& req) const
{
  return h1.getBootstrapChainIndexes(req);
}

int DebugContext::getMinSupportedNumSlots() const { return h1.getMinSupportedNumSlots(); }

int DebugContext::getMaxSupportedNumSlots() const { return h1.getMaxSupportedNumSlots(); }

bool DebugContext::publicFunctionsSupported(const PublicFunctions& publicFunctions) const
{
  return h1.publicFunctionsSupported(publicFunctions);
}

void checkLoadedHalves(bool firstEmpty, bool secondEmpty)
{
  if (firstEmpty != secondEmpty)
    throw std::runtime_error(std::string("Invalid saved debug tile: the ") +
                             (firstEmpty ? "first" : "second") +
                             " half is empty, the other holds values");
}

} // namespace quorvane
