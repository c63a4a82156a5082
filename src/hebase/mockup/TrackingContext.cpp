#include "hebase/mockup/TrackingContext.h"

#include "hebase/utils/Assert.h"

namespace quorvane {

TrackingContext::TrackingContext() {}

TrackingContext::~TrackingContext() {}

void TrackingContext::startOperationCountTrack()
{
  runStats = std::make_shared<RunStats>();
  tracking = true;
}

void TrackingContext::trackOperation(int code, int chainIndex) const
{
  if (tracking && runStats)
    runStats->count(code, chainIndex);
}

void TrackingContext::trackChainIndex(int chainIndex) const
{
  if (tracking && runStats)
    runStats->recordChainIndex(chainIndex);
}

void TrackingContext::trackRotation(int step) const
{
  if (tracking && runStats)
    runStats->recordRotation(step);
}

int TrackingContext::getMinChainIndexForBootstrapping() const
{
  assertInitialized();
  QV_ASSERT(getBootstrappable());
  int chainIndex = getBootstrapConfig().minChainIndexForBootstrapping;
  return chainIndex == -1 ? 0 : chainIndex;
}

int TrackingContext::getChainIndexAfterBootstrapping() const
{
  assertInitialized();
  QV_ASSERT(getBootstrappable());
  int chainIndex = getBootstrapConfig().targetChainIndex;
  return chainIndex == -1 ? 4 : chainIndex;
}

void TrackingContext::getStatsAndClear(std::ostream& out)
{
  if (!runStats) {
    out << "Performance tracking is disabled." << std::endl;
    out << "Call startOperationCountTrack() (Python: start_operation_count_track()) to enable "
           "tracking."
        << std::endl;
    return;
  }
  runStats->debugPrint("", VERBOSITY_LOW, out);
  runStats->clear();
}

} // namespace quorvane
