#include "hebase/AbstractBootstrapEvaluator.h"

#include <stdexcept>
#include <string>

namespace quorvane {

AbstractBootstrapEvaluator::AbstractBootstrapEvaluator(const HeContext& he,
                                                       const BootstrapConfig& config)
    : he(he), config(config)
{
}

AbstractBootstrapEvaluator::~AbstractBootstrapEvaluator() {}

void AbstractBootstrapEvaluator::bootstrap(CTile& c1, CTile& c2)
{
  bootstrap(c1);
  bootstrap(c2);
}

void AbstractBootstrapEvaluator::resolveTargetChainIndex(int target, const char* contextName)
{
  if (config.targetChainIndex == -1)
    config.targetChainIndex = target;
  else if (config.targetChainIndex != target)
    throw std::invalid_argument("The given BootstrapConfig specifies a target chain index of " +
                                std::to_string(config.targetChainIndex) +
                                ", while the target chain index of the given " + contextName +
                                " is " + std::to_string(target));
}

void AbstractBootstrapEvaluator::bootstrapMockup(CTile&)
{
  throw std::runtime_error("bootstrapMockup not implemented");
}

} // namespace quorvane
