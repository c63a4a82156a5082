#include "math/bootstrap/mockup/EmptyBootstrapEvaluator.h"

#include "hebase/CTile.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyCiphertext.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

EmptyBootstrapEvaluator::EmptyBootstrapEvaluator(const EmptyContext& he,
                                                 const BootstrapConfig& config)
    : AbstractBootstrapEvaluator(he, config), emptyContext(he)
{
  QV_ASSERT(getHeContext().getTraits().getSupportsCKKSBootstrapping());
  resolveTargetChainIndex(he.getChainIndexAfterBootstrapping(), "EmptyContext");
}

EmptyBootstrapEvaluator::~EmptyBootstrapEvaluator() {}

void EmptyBootstrapEvaluator::bootstrap(CTile& c)
{
  int target = config.targetChainIndex;
  emptyContext.trackOperation(RunStats::BOOTSTRAP, target);
  emptyContext.trackChainIndex(target);
  EmptyCiphertext& ciphertext = dynamic_cast<EmptyCiphertext&>(c.getImpl());
  ciphertext.chainIndex = target;
  ciphertext.chainIndexSet = true;
}

void EmptyBootstrapEvaluator::bootstrap(CTile& c1, CTile& c2)
{
  int target = config.targetChainIndex;
  emptyContext.trackOperation(RunStats::BOOTSTRAP, target);
  emptyContext.trackOperation(RunStats::BOOTSTRAP, target);
  emptyContext.trackChainIndex(target);
  EmptyCiphertext& first = dynamic_cast<EmptyCiphertext&>(c1.getImpl());
  EmptyCiphertext& second = dynamic_cast<EmptyCiphertext&>(c2.getImpl());
  first.chainIndex = target;
  first.chainIndexSet = true;
  second.chainIndex = target;
  second.chainIndexSet = true;
}

} // namespace quorvane
