#ifndef QUORVANE_HEBASE_MOCKUP_TRACKINGCONTEXT_H
#define QUORVANE_HEBASE_MOCKUP_TRACKINGCONTEXT_H

#include <memory>
#include <ostream>

#include "hebase/HeContext.h"
#include "hebase/RunStats.h"

namespace quorvane {

/// Base of the reference contexts: counts the operations their backend
/// objects report, per kind and chain index, while tracking is on.
class TrackingContext : public HeContext
{
public:
  ~TrackingContext() override;

  /// Starts tracking with fresh statistics (earlier counts are dropped).
  void startOperationCountTrack();

  /// Counts one operation (a RunStats::Operation code) at the chain index.
  void trackOperation(int code, int chainIndex) const;
  /// Records a chain index seen by an operation.
  void trackChainIndex(int chainIndex) const;
  /// Records a rotation step.
  void trackRotation(int step) const;

  /// Prints the statistics and clears them (tracking stays on), or explains
  /// how to enable tracking.
  void getStatsAndClear(std::ostream& out);

  /// The configured chain index of the bootstrap configuration, 0 when unset
  /// (needs an initialised, bootstrappable context).
  int getMinChainIndexForBootstrapping() const override;
  /// The configured target chain index, 4 when unset (same needs).
  int getChainIndexAfterBootstrapping() const override;

  bool isTracking() const { return tracking; }
  /// The current statistics; empty before startOperationCountTrack.
  std::shared_ptr<RunStats> getRunStats() const { return runStats; }

protected:
  TrackingContext();

  bool tracking = false;
  std::shared_ptr<RunStats> runStats;
};

} // namespace quorvane

#endif
