#include "hebase/AbstractBootstrapEvaluator.h"

#include <stdexcept>

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

void AbstractBootstrapEvaluator::bootstrapMockup(CTile&)
{
  throw std::runtime_error("bootstrapMockup not implemented");
}

} // namespace quorvane
