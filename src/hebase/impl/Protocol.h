#ifndef QUORVANE_HEBASE_IMPL_PROTOCOL_H
#define QUORVANE_HEBASE_IMPL_PROTOCOL_H

#include <memory>
#include <set>
#include <vector>

#include "hebase/impl/AbstractProtocol.h"

namespace quorvane {

/// What an application holds of a multi-party protocol: a facade over the
/// backend protocol that the context's multi-party utilities create. Every
/// operation forwards; the context must outlive the protocol.
class Protocol : public Printable
{
public:
  ~Protocol() override;

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  /// See AbstractProtocol::resetProtocol.
  virtual void resetProtocol();

  /// See AbstractProtocol::executeNextRound.
  bool executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                        const std::vector<ProtocolMessage>& inputMessages);
  bool isInputMessageValidForCurrentRound(const ProtocolMessage& message) const;
  bool needsAnotherRound() const;
  int getCurrentRound() const;
  int getTotalNumberOfRounds() const;
  std::set<MultiPartyRole> getRoles() const;
  bool isRole(MultiPartyRole role) const;
  ProtocolType getProtocolType() const;
  /// A Verbosity value: what executeNextRound prints of the protocol.
  void setVerbosity(int verbosity);

protected:
  explicit Protocol(std::shared_ptr<AbstractProtocol> impl);

  std::shared_ptr<AbstractProtocol> impl;
};

} // namespace quorvane

#endif
