#include "hebase/HeContext.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <typeinfo>

#include "hebase/AbstractFunctionEvaluator.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/StartupRegistration.h"
#include "hebase/ValueChecks.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/QuorvaneVersion.h"
#include "hebase/utils/RandomId.h"

namespace quorvane {

HeContext::HeContext() {}

HeContext::~HeContext() {}

void HeContext::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  if (!title.empty())
    out << title << std::endl;
  printSignature(out);
}

void HeContext::checkSameContext(const HeContext& operandContext) const
{
  if (&operandContext == this ||
      (operandContext.contextId == contextId && typeid(operandContext) == typeid(*this)))
    return;
  auto describe = [](const HeContext& he) {
    return he.getRegistryKey() + ", context id " + std::to_string(he.contextId);
  };
  throw std::invalid_argument("The operand belongs to another HE context (" +
                              describe(operandContext) + ") than this object (" +
                              describe(*this) + ")");
}

// ---- Initialisation ----

void HeContext::init(const HeConfigRequirement& req)
{
  assertNotInitialized();
  // Refused here, before anything changes, rather than at the first
  // multiplication; the condition is the one initBootstrap asserts.
  if (req.automaticBootstrapping && !req.bootstrappable)
    throwAssertError("!getAutomaticBootstrapping()", __FILE__, __LINE__, __func__,
                     "Automatic bootstrapping requires a bootstrappable requirement: "
                     "automaticBootstrapping is set while bootstrappable is not");
  runOrRestore([&] {
    requirement = getActualConfigRequirement(req);
    requirement.publicFunctions.validate();
    if (!publicFunctionsSupported(requirement.publicFunctions))
      throw std::invalid_argument(
          "the given PublicFunctions object is not supported by this HeContext");
    if (requirement.publicFunctions.rotate == CUSTOM_ROTATIONS)
      initRotationMap();
    if (requirement.multiPartyConfig.has_value()) {
      // Every party with the same key owners gets the same id.
      int32_t id = 0;
      for (int owner : requirement.multiPartyConfig->keyOwnersIds)
        id ^= owner;
      contextId = id;
    } else {
      contextId = drawRandomId();
    }
    initialized = true;
  });
}

void HeContext::runOrRestore(const std::function<void()>& steps)
{
  struct
  {
    int32_t defaultDevice;
    double defaultScale;
    int32_t contextId;
    std::shared_ptr<BootstrapEvaluator> bootstrapEvaluator;
    HeConfigRequirement requirement;
    RotateDependencyMapper rotateDependencyMapper;
    HeTraits traits;
    bool initialized;
  } saved{defaultDevice,          defaultScale, contextId, bootstrapEvaluator, requirement,
          rotateDependencyMapper, traits,       initialized};
  try {
    steps();
  } catch (...) {
    defaultDevice = saved.defaultDevice;
    defaultScale = saved.defaultScale;
    contextId = saved.contextId;
    bootstrapEvaluator = std::move(saved.bootstrapEvaluator);
    requirement = std::move(saved.requirement);
    rotateDependencyMapper = std::move(saved.rotateDependencyMapper);
    traits = saved.traits;
    initialized = saved.initialized;
    throw;
  }
}

HeConfigRequirement HeContext::getActualConfigRequirement(const HeConfigRequirement& req) const
{
  HeConfigRequirement actual = req;
  if (req.bootstrappable && !req.bootstrapConfig.has_value())
    actual.bootstrapConfig = getBootstrapChainIndexes(req);
  return actual;
}

void HeContext::initBootstrap()
{
  if (requirement.bootstrappable) {
    QV_ASSERT(traits.getSupportsCKKSBootstrapping());
    if (!requirement.bootstrapConfig.has_value())
      requirement.bootstrapConfig = BootstrapConfig();
    // Built from the configuration before the chain indexes below are written.
    bootstrapEvaluator = std::make_shared<BootstrapEvaluator>(*this, *requirement.bootstrapConfig);
    requirement.bootstrapConfig->minChainIndexForBootstrapping =
        getMinChainIndexForBootstrapping();
    requirement.bootstrapConfig->targetChainIndex = getChainIndexAfterBootstrapping();
  } else {
    QV_ASSERT(!getAutomaticBootstrapping());
  }
}

void HeContext::restoreBootstrapEvaluator()
{
  if (!requirement.bootstrappable)
    return;
  QV_ASSERT(getHeConfigRequirement().bootstrapConfig.has_value());
  bootstrapEvaluator = std::make_shared<BootstrapEvaluator>(*this, *requirement.bootstrapConfig);
}

void HeContext::initRotationMap()
{
  if (requirement.numSlots == -1)
    throw std::runtime_error("Internal error: invalid numSlots: -1");
  rotateDependencyMapper.init(requirement.numSlots, requirement.publicFunctions.rotationSteps);
}

void HeContext::initForGenericPacking(bool light)
{
  init(getConfigRequirementForGenericPacking(light));
}

HeConfigRequirement HeContext::getConfigRequirementForGenericPacking(bool light) const
{
  HeConfigRequirement req;
  req.securityLevel = 128;
  req.fractionalPartPrecision = 40;
  req.integerPartPrecision = 10;
  if (light) {
    req.multiplicationDepth = 10;
    req.numSlots = getMinFeasibleNumSlots(req);
  } else {
    req.numSlots = getMaxSupportedNumSlots();
    if (traits.getSupportsCKKSBootstrapping()) {
      req.bootstrappable = true;
      req.automaticBootstrapping = true;
    }
    req.multiplicationDepth = getBestFeasibleMulDepth(req);
  }
  if (isConfigRequirementFeasible(req))
    return req;
  throw std::runtime_error("Internal error: no feasible HE context for generic packing for " +
                           getRegistryKey());
}

int HeContext::getMinFeasibleNumSlots(const HeConfigRequirement& req) const
{
  if (req.fractionalPartPrecision == -1 || req.integerPartPrecision == -1 ||
      req.multiplicationDepth == -1)
    throw std::invalid_argument("getMinFeasibleNumSlots() expects all of the requirement's "
                                "parametrs aside from \"numSlots\" to be set.");
  HeConfigRequirement candidate = req;
  for (int slots = 4; slots <= 65536; slots *= 2) {
    candidate.numSlots = slots;
    if (isConfigRequirementFeasible(candidate))
      return slots;
  }
  return -1;
}

// ---- State ----

void HeContext::assertInitialized() const
{
  if (!initialized)
    throw std::runtime_error("HE context has not been initialized yet");
}

void HeContext::assertNotInitialized() const
{
  if (initialized)
    throw std::runtime_error("HE context has already been initialized");
}

void HeContext::setAutomaticBootstrapping(bool value)
{
  if (value && !getBootstrappable())
    throw std::runtime_error("This HeContext does not support bootstrapping.");
  requirement.automaticBootstrapping = value;
}

const BootstrapConfig& HeContext::getBootstrapConfig() const
{
  if (!getBootstrappable())
    throw std::runtime_error("This HE context does not support bootstrap");
  QV_ASSERT(getHeConfigRequirement().bootstrapConfig.has_value());
  return *requirement.bootstrapConfig;
}

BootstrapEvaluator& HeContext::getBootstrapEvaluator() const
{
  if (!getBootstrappable())
    throw std::runtime_error("This HE context does not support bootstrap");
  QV_ASSERT(bootstrapEvaluator != nullptr);
  return *bootstrapEvaluator;
}

std::string HeContext::getRegistryKey() const { return getLibraryName() + "_" + getSchemeName(); }

bool HeContext::decomposeRotation(int rotation, std::vector<int>& steps) const
{
  return rotateDependencyMapper.decompose(rotation, steps);
}

// ---- Operation defaults ----

int HeContext::getBestFeasibleFractionalPartPrecision(const HeConfigRequirement&) const
{
  throw std::runtime_error("getBestFeasibleFractionalPartPrecision is not implemented");
}

int HeContext::getBestFeasibleMulDepth(const HeConfigRequirement&) const
{
  throw std::runtime_error("getBestFeasibleMulDepth is not implemented");
}

std::shared_ptr<AbstractFunctionEvaluator> HeContext::getFunctionEvaluator() const
{
  return std::make_shared<AbstractFunctionEvaluator>(*this);
}

std::shared_ptr<BitwiseEvaluator> HeContext::getBitwiseEvaluator() const
{
  throw std::runtime_error("This HeContext cannot provide BitwiseEvaluator");
}

std::shared_ptr<MultiPartyUtils> HeContext::getMultiPartyUtils() const
{
  throw std::runtime_error("This HeContext cannot provide MultiPartyUtils");
}

std::shared_ptr<MultiPartyUtils> HeContext::getMultiPartyUtils()
{
  throw std::runtime_error("This HeContext cannot provide MultiPartyUtils");
}

std::shared_ptr<AbstractBootstrapEvaluator>
HeContext::createAbstractBootstrapEvaluator(const BootstrapConfig&) const
{
  throw std::runtime_error("This HE context does not support bootstrap");
}

std::ostream& HeContext::printSignature(std::ostream& out) const
{
  currentVersion.debugPrint("", VERBOSITY_REGULAR, out);
  out << std::endl;
  std::string library = getLibraryName();
  std::string scheme = getSchemeName();
  out << library;
  if (scheme != library)
    out << " " << scheme;
  out << " context. Context id=" << contextId;
  if (initialized)
    out << (hasSecretKey() ? " (WITH SECRET KEY)" : " (NO SECRET KEY)");
  else
    out << " (not initialized)";
  out << std::endl;
  return out;
}

std::shared_ptr<std::vector<uint64_t>> HeContext::getModulusChain() const
{
  throw std::runtime_error("getModulusChain() not implemented");
}

void HeContext::setModulusChain(std::shared_ptr<std::vector<uint64_t>>)
{
  throw std::runtime_error("setModulusChain() not implemented");
}

DeviceType HeContext::getDefaultDevice() const { return static_cast<DeviceType>(defaultDevice); }

void HeContext::setDefaultDevice(DeviceType device) { defaultDevice = device; }

double HeContext::getDefaultScale() const { return defaultScale; }

void HeContext::setDefaultScale(double scale)
{
  ValueChecks::checkScale(scale);
  defaultScale = scale;
}

std::string HeContext::getSignature() const { return getSchemeName(); }

std::map<std::string, int64_t> HeContext::getEstimatedMeasures() const
{
  throw std::runtime_error("HeContext::getEstimatedMeasures is not implemented");
}

std::vector<double> HeContext::getMaxAllowedValues() const
{
  throw std::runtime_error("HeContext::getMaxAllowedValues not implemented");
}

double HeContext::getMaxAllowedValue(int highChainIndex, int lowChainIndex) const
{
  if (lowChainIndex > highChainIndex)
    throw std::runtime_error("When getting max allowed values by range, the lower chain index "
                             "must not be higher than the higher chain index");
  std::vector<double> values = getMaxAllowedValues();
  if (lowChainIndex < 0 || highChainIndex >= static_cast<int>(values.size()))
    throw std::out_of_range("Chain index range [" + std::to_string(lowChainIndex) + ", " +
                            std::to_string(highChainIndex) +
                            "] is outside the chain indexes of the max allowed values [0, " +
                            std::to_string(static_cast<int>(values.size()) - 1) + "]");
  return *std::max_element(values.begin() + lowChainIndex, values.begin() + highChainIndex + 1);
}

double HeContext::getMaxAllowedValue(int chainIndex) const
{
  return getMaxAllowedValue(chainIndex, chainIndex);
}

double HeContext::getMaxAllowedBsValue() const
{
  throw std::runtime_error("HeContext::getMaxAllowedBsValue not implemented");
}

std::shared_ptr<HeContext> HeContext::clone() const
{
  throw std::runtime_error("clone not implemented for this context");
}

double HeContext::getAccurateScale(int) const
{
  throw std::runtime_error("getAccurateScale not implemented for this context");
}

int HeContext::getMinChainIndexForBootstrapping() const
{
  throw std::runtime_error("getMinChainIndexForBootstrapping is not implemented");
}

int HeContext::getChainIndexAfterBootstrapping() const
{
  throw std::runtime_error("getChainIndexAfterBootstrapping is not implemented");
}

BootstrapConfig HeContext::getBootstrapChainIndexes(const HeConfigRequirement&) const
{
  throw std::runtime_error("getBootstrapChainIndexes given HeConfigRequirement is not implemented");
}

int HeContext::getMinSupportedNumSlots() const
{
  throw std::runtime_error("getMinSupportedNumSlots is not implemented");
}

int HeContext::getMaxSupportedNumSlots() const
{
  throw std::runtime_error("HeContext::getMaxSupportedNumSlots is not implemented");
}

// Saving and loading contexts and secret keys: SavedContext.cpp.

// ---- Registry ----

HeContext::ContextRegistry& HeContext::getContextRegistry()
{
  static ContextRegistry registry;
  return registry;
}

bool HeContext::registerContext(HeContext* prototype)
{
  std::unique_ptr<HeContext> owned(prototype);
  if (!owned)
    throw std::invalid_argument("Cannot register a null HE context prototype");
  std::string key = owned->getRegistryKey();
  ContextRegistry& registry = getContextRegistry();
  if (registry.count(key) != 0)
    throw std::runtime_error("Duplicate context " + key);
  registry[key] = std::shared_ptr<HeContext>(owned.release());
  return true;
}

bool HeContext::isRegisteredContext(const std::string& name)
{
  return getContextRegistry().count(name) != 0;
}

std::shared_ptr<HeContext> HeContext::createFromRegistry(const std::string& name)
{
  ContextRegistry& registry = getContextRegistry();
  auto it = registry.find(name);
  if (it == registry.end())
    throw std::runtime_error("No registered HE context under the name " + name);
  return it->second->clone();
}

std::shared_ptr<HeContext> HeContext::create(const std::string& name,
                                             const HeConfigRequirement& req)
{
  std::shared_ptr<HeContext> context = createFromRegistry(name);
  context->init(req);
  return context;
}

std::shared_ptr<HeContext> HeContext::create(const std::vector<std::string>& prioritizedNames)
{
  for (const std::string& name : prioritizedNames)
    if (isRegisteredContext(name))
      return createFromRegistry(name);
  throw std::invalid_argument("No suitable HE context found");
}

namespace {

// Keeps the start-up registrations (loaders and built-in prototypes) linked
// into every program that uses a context, even from a static archive.
[[maybe_unused]] const bool builtInsLinked = startupRegistrationLinked();

} // namespace

} // namespace quorvane
