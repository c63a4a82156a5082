#ifndef QUORVANE_HEBASE_IMPL_MOCKUPINITPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_MOCKUPINITPROTOCOL_H

#include "hebase/impl/AbstractInitProtocol.h"

namespace quorvane {

/// The six-round initialisation protocol of the mockup backend. After the
/// protocol id is distributed, the key owners and the aggregator make two
/// round trips of messages through the aggregator; they carry no key material.
class MockupInitProtocol : public AbstractInitProtocol
{
public:
  explicit MockupInitProtocol(HeContext& he);
  ~MockupInitProtocol() override;

protected:
  bool executeRound(int round, std::vector<ProtocolMessage>& outputMessages,
                    const std::vector<ProtocolMessage>& inputMessages) override;

private:
  /// A message of this protocol to the role, to be received in the next round.
  ProtocolMessage nextRoundMessage(MultiPartyRole destination) const;
  /// Count and completeness of the key owners' messages at the aggregator.
  bool validateKeyOwnersMessages(const std::vector<ProtocolMessage>& inputMessages) const;
  /// Every input must come from the aggregator.
  void validateFromAggregator(const std::vector<ProtocolMessage>& inputMessages) const;
};

} // namespace quorvane

#endif
