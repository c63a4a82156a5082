#include "hebase/BootstrapEvaluator.h"

#include <stdexcept>

#include "hebase/AbstractBootstrapEvaluator.h"
#include "hebase/HeContext.h"

namespace quorvane {

BootstrapEvaluator::BootstrapEvaluator(const HeContext& he, const BootstrapConfig& config)
    : impl(he.createAbstractBootstrapEvaluator(config))
{
  if (!he.getTraits().getSupportsCKKSBootstrapping())
    throw std::runtime_error(
        "Expecting HeContext that supports CKKS Bootstrapping, and given " +
        he.getLibraryName() + "-" + he.getSchemeName());
  if (!config.coef2slotViaFFT && config.slot2coefViaFFT)
    throw std::runtime_error("!coef2slotViaFFT & slot2coefViaFFT not supported together");
}

BootstrapEvaluator::~BootstrapEvaluator() {}

void BootstrapEvaluator::bootstrap(CTile& c) { impl->bootstrap(c); }

void BootstrapEvaluator::bootstrap(CTile& c1, CTile& c2) { impl->bootstrap(c1, c2); }

} // namespace quorvane
