#include "hebase/mockup/MockupContext.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupEncoder.h"
#include "hebase/mockup/MockupMultiPartyUtils.h"
#include "hebase/mockup/MockupPlaintext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "math/bootstrap/mockup/MockupBootstrapEvaluator.h"

namespace quorvane {

namespace {

double maxAbs(const std::vector<std::complex<double>>& values)
{
  if (values.empty())
    return -1.0;
  double m = 0;
  for (const std::complex<double>& v : values)
    m = std::max(m, std::hypot(v.real(), v.imag()));
  return m;
}

} // namespace

MockupContext::MockupContext()
{
  traits.setSupportsCKKSBootstrapping(true);
  traits.setSupportsModSwitch(true);
  traits.setAutomaticallyManagesRescale(true);
  traits.setSupportsExplicitChainIndices(true);
  traits.setSupportsComplexNumbers(true);
  traits.setSupportsValuesLimitation(true);
  traits.setSupportsBsValuesLimitation(true);
  traits.setUsesDefaultScale(true);
  traits.setAutomaticallyManagesChainIndices(false);
}

MockupContext::~MockupContext() {}

void MockupContext::saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const
{
  HeContext::saveImpl(out, publicFunctions);
  BinIoUtils::writeBool(out, chainIndexesEnabled);
}

void MockupContext::loadImpl(std::istream& in)
{
  HeContext::loadImpl(in);
  // A saved requirement that init refuses is refused here too.
  const HeConfigRequirement& req = getHeConfigRequirement();
  if (req.numSlots < 1 || req.multiplicationDepth < 0)
    throw std::runtime_error("Saved MockupContext is invalid: it asks for " +
                             std::to_string(req.numSlots) + " slots and multiplication depth " +
                             std::to_string(req.multiplicationDepth));
  chainIndexesEnabled = BinIoUtils::readBool(in);
  restoreBootstrapEvaluator();
  hasSecretKeyFlag = false;
  traits.setSupportsExplicitChainIndices(chainIndexesEnabled);
  traits.setSupportsValuesLimitation(chainIndexesEnabled);
  traits.setSupportsBsValuesLimitation(chainIndexesEnabled);
  traits.setSupportsModSwitch(chainIndexesEnabled);
  traits.setAutomaticallyManagesChainIndices(!chainIndexesEnabled);
}

void MockupContext::init(const HeConfigRequirement& req)
{
  if (!isConfigRequirementFeasible(req))
    throw std::runtime_error("Given configuration requirement is not feasible");
  if (req.numSlots < 1)
    throw std::invalid_argument("MockupContext requires at least 1 slot, but the requirement "
                                "asks for " +
                                std::to_string(req.numSlots));
  if (req.multiplicationDepth < 0)
    throw std::invalid_argument(
        "MockupContext requires a non-negative multiplication depth, but the requirement "
        "asks for " +
        std::to_string(req.multiplicationDepth));
  // A refusal of the bootstrapping set-up leaves the context as it was.
  bool hadSecretKey = hasSecretKeyFlag;
  bool hadChainIndexes = chainIndexesEnabled;
  runOrRestore([&] {
    try {
      HeContext::init(req);
      hasSecretKeyFlag = true;
      chainIndexesEnabled = true;
      if (req.bootstrappable)
        initBootstrap();
    } catch (...) {
      hasSecretKeyFlag = hadSecretKey;
      chainIndexesEnabled = hadChainIndexes;
      throw;
    }
  });
}

bool MockupContext::isConfigRequirementFeasible(const HeConfigRequirement& req) const
{
  return req.securityLevel == 0;
}

std::shared_ptr<AbstractCiphertext> MockupContext::createAbstractCiphertext() const
{
  return std::make_shared<MockupCiphertext>(*this);
}

std::shared_ptr<AbstractPlaintext> MockupContext::createAbstractPlaintext() const
{
  return std::make_shared<MockupPlaintext>(*this);
}

std::shared_ptr<AbstractEncoder> MockupContext::getEncoder() const
{
  return std::make_shared<MockupEncoder>(*this);
}

std::shared_ptr<MultiPartyUtils> MockupContext::getMultiPartyUtils() const
{
  return std::make_shared<MockupMultiPartyUtils>(*this);
}

std::shared_ptr<MultiPartyUtils> MockupContext::getMultiPartyUtils()
{
  return std::make_shared<MockupMultiPartyUtils>(*this);
}

std::shared_ptr<AbstractBootstrapEvaluator>
MockupContext::createAbstractBootstrapEvaluator(const BootstrapConfig& config) const
{
  return std::make_shared<MockupBootstrapEvaluator>(*this, config);
}

std::ostream& MockupContext::printSignature(std::ostream& out) const
{
  HeContext::printSignature(out);
  if (isInitialized())
    out << "Slots = " << slotCount() << std::endl;
  return out;
}

std::shared_ptr<std::vector<uint64_t>> MockupContext::getModulusChain() const
{
  return std::make_shared<std::vector<uint64_t>>(modulusChain);
}

void MockupContext::setModulusChain(std::shared_ptr<std::vector<uint64_t>> chain)
{
  if (!chain)
    throw std::invalid_argument("MockupContext::setModulusChain: null modulus chain");
  modulusChain = *chain;
}

int64_t MockupContext::saveSecretKey(std::ostream& out, bool seedOnly) const
{
  if (!hasSecretKeyFlag)
    throw std::runtime_error("this HeContext does not have a secret key");
  return HeContext::saveSecretKey(out, seedOnly);
}

int64_t MockupContext::loadSecretKey(std::istream& in, bool seedOnly)
{
  if (hasSecretKeyFlag)
    throw std::runtime_error("this HeContext already has a secret key");
  int64_t read = HeContext::loadSecretKey(in, seedOnly);
  hasSecretKeyFlag = true;
  return read;
}

std::string MockupContext::getSignature() const
{
  return getSchemeName() + "_DEG" + std::to_string(2 * static_cast<int64_t>(slotCount())) +
         "_D" + std::to_string(getTopChainIndex());
}

std::vector<double> MockupContext::getMaxAllowedValues() const
{
  assertInitialized();
  QV_ASSERT(traits.getSupportsValuesLimitation());
  if (maxAllowedValues.empty())
    return std::vector<double>(getTopChainIndex() + 1, 100.0);
  return maxAllowedValues;
}

double MockupContext::getMaxAllowedBsValue() const
{
  assertInitialized();
  QV_ASSERT(traits.getSupportsBsValuesLimitation());
  QV_ASSERT(getBootstrappable());
  if (maxAllowedBsValue == -1.0)
    return 1.0;
  return maxAllowedBsValue;
}

std::shared_ptr<HeContext> MockupContext::clone() const
{
  return std::make_shared<MockupContext>();
}

double MockupContext::getAccurateScale(int) const { return getDefaultScale(); }

bool MockupContext::publicFunctionsSupported(const PublicFunctions&) const { return true; }

void MockupContext::trackValues(const std::vector<std::complex<double>>& values,
                                int chainIndex) const
{
  if (!valuesTracking)
    return;
  if (chainIndex < 0 || chainIndex >= static_cast<int>(observedMaxValues.size()))
    throw std::out_of_range("MockupContext::trackValues: chain index " +
                            std::to_string(chainIndex) + " is out of range");
  double& observed = observedMaxValues[chainIndex];
  observed = std::max(observed, maxAbs(values));
}

void MockupContext::trackBsValues(const std::vector<std::complex<double>>& values) const
{
  if (!bsValuesTracking)
    return;
  observedMaxBsValue = std::max(observedMaxBsValue, maxAbs(values));
}

void MockupContext::startValuesTracking()
{
  assertInitialized();
  observedMaxValues.assign(getTopChainIndex() + 1, -1.0);
  valuesTracking = true;
}

void MockupContext::startBsValuesTracking()
{
  observedMaxBsValue = -1.0;
  bsValuesTracking = true;
}

} // namespace quorvane
