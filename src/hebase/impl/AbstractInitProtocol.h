#ifndef QUORVANE_HEBASE_IMPL_ABSTRACTINITPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_ABSTRACTINITPROTOCOL_H

#include "hebase/impl/AbstractProtocol.h"

namespace quorvane {

/// The initialisation protocol: the initiator draws a protocol id that every
/// participant adopts as the id of its context, so that the participants load
/// each other's saved objects; then the key owners and the aggregator exchange
/// the backend's rounds.
class AbstractInitProtocol : public AbstractProtocol
{
public:
  ~AbstractInitProtocol() override;

  /// The base round, and in round 1 the initiator draws and sends the protocol
  /// id; in round 2 every participant adopts it as its context id.
  bool executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                        const std::vector<ProtocolMessage>& inputMessages) override;

protected:
  /// Refuses an initiator that is not a key owner; the configuration's
  /// aggregator gets the AGGREGATOR role.
  explicit AbstractInitProtocol(HeContext& he);

  /// The context whose id the protocol sets.
  HeContext* mutableHe;
};

} // namespace quorvane

#endif
