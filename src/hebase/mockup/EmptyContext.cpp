#include "hebase/mockup/EmptyContext.h"

#include <stdexcept>

#include "hebase/mockup/EmptyCiphertext.h"
#include "hebase/mockup/EmptyEncoder.h"
#include "hebase/mockup/EmptyPlaintext.h"
#include "math/bootstrap/mockup/EmptyBootstrapEvaluator.h"

namespace quorvane {

namespace {

[[noreturn]] void refuseNotImplemented() { throw std::runtime_error("Not implemented"); }

} // namespace

EmptyContext::EmptyContext()
{
  traits.setSupportsCKKSBootstrapping(true);
  traits.setSupportsModSwitch(true);
  traits.setAutomaticallyManagesRescale(true);
  traits.setSupportsExplicitChainIndices(true);
  traits.setSupportsComplexNumbers(true);
  traits.setIsDebugEmpty(true);
  traits.setAutomaticallyManagesChainIndices(false);
}

EmptyContext::~EmptyContext() {}

void EmptyContext::saveImpl(std::ostream&, const PublicFunctions&) const
{
  refuseNotImplemented();
}

void EmptyContext::loadImpl(std::istream&) { refuseNotImplemented(); }

void EmptyContext::init(const HeConfigRequirement& req)
{
  // Decoding makes slotCount() values and chain indexes run from the depth
  // down to 0, so both must be set.
  if (req.numSlots < 1)
    throw std::invalid_argument("EmptyContext needs a positive number of slots, given " +
                                std::to_string(req.numSlots));
  if (req.multiplicationDepth < 0)
    throw std::invalid_argument("EmptyContext needs a non-negative multiplication depth, given " +
                                std::to_string(req.multiplicationDepth));
  // A refusal of the bootstrapping set-up leaves the context as it was.
  runOrRestore([&] {
    HeContext::init(req);
    if (req.bootstrappable)
      initBootstrap();
  });
}

bool EmptyContext::isConfigRequirementFeasible(const HeConfigRequirement&) const
{
  refuseNotImplemented();
}

std::shared_ptr<AbstractCiphertext> EmptyContext::createAbstractCiphertext() const
{
  return std::make_shared<EmptyCiphertext>(*this);
}

std::shared_ptr<AbstractPlaintext> EmptyContext::createAbstractPlaintext() const
{
  return std::make_shared<EmptyPlaintext>(*this);
}

std::shared_ptr<AbstractEncoder> EmptyContext::getEncoder() const
{
  return std::make_shared<EmptyEncoder>(*this);
}

std::shared_ptr<AbstractBootstrapEvaluator>
EmptyContext::createAbstractBootstrapEvaluator(const BootstrapConfig& config) const
{
  return std::make_shared<EmptyBootstrapEvaluator>(*this, config);
}

int64_t EmptyContext::saveSecretKey(std::ostream&, bool) const { refuseNotImplemented(); }

int64_t EmptyContext::loadSecretKey(std::istream&, bool) { refuseNotImplemented(); }

std::string EmptyContext::getLibraryName() const { return "Empty"; }

std::string EmptyContext::getSchemeName() const { return "Empty"; }

std::string EmptyContext::getSignature() const { refuseNotImplemented(); }

std::map<std::string, int64_t> EmptyContext::getEstimatedMeasures() const
{
  return estimatedMeasures;
}

} // namespace quorvane
