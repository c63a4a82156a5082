#include "math/bootstrap/mockup/MockupBootstrapEvaluator.h"

#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupCiphertext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

MockupBootstrapEvaluator::MockupBootstrapEvaluator(const MockupContext& he,
                                                   const BootstrapConfig& config)
    : AbstractBootstrapEvaluator(he, config), mockupContext(he)
{
  QV_ASSERT(he.getTraits().getSupportsCKKSBootstrapping());
  resolveTargetChainIndex(he.getChainIndexAfterBootstrapping(), "MockupContext");
}

MockupBootstrapEvaluator::~MockupBootstrapEvaluator() {}

void MockupBootstrapEvaluator::bootstrap(CTile& c)
{
  SectionTimer timer("MockupBootstrapEvaluator::bootstrap");
  if (c.isEmpty())
    throw std::runtime_error("MockupBootstrapEvaluator::bootstrap - ciphertext is empty.");
  MockupCiphertext& ciphertext = dynamic_cast<MockupCiphertext&>(c.getImpl());
  int target = config.targetChainIndex;
  ciphertext.chainIndex = target;
  mockupContext.trackBsValues(ciphertext.rawVals);
  mockupContext.trackOperation(RunStats::BOOTSTRAP, ciphertext.getChainIndex());
  mockupContext.trackChainIndex(ciphertext.getChainIndex());
}

} // namespace quorvane
