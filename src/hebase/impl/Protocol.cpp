#include "hebase/impl/Protocol.h"

#include "hebase/impl/ProtocolMessage.h"

namespace quorvane {

Protocol::Protocol(std::shared_ptr<AbstractProtocol> impl) : impl(std::move(impl)) {}

Protocol::~Protocol() {}

void Protocol::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  impl->debugPrint(title, verbosity, out);
}

void Protocol::resetProtocol() { impl->resetProtocol(); }

bool Protocol::executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                                const std::vector<ProtocolMessage>& inputMessages)
{
  return impl->executeNextRound(outputMessages, inputMessages);
}

bool Protocol::isInputMessageValidForCurrentRound(const ProtocolMessage& message) const
{
  return impl->isInputMessageValidForCurrentRound(message);
}

bool Protocol::needsAnotherRound() const { return impl->needsAnotherRound(); }

int Protocol::getCurrentRound() const { return impl->getCurrentRound(); }

int Protocol::getTotalNumberOfRounds() const { return impl->getTotalNumberOfRounds(); }

std::set<MultiPartyRole> Protocol::getRoles() const { return impl->getRoles(); }

bool Protocol::isRole(MultiPartyRole role) const { return impl->isRole(role); }

ProtocolType Protocol::getProtocolType() const { return impl->getProtocolType(); }

void Protocol::setVerbosity(int verbosity) { impl->setVerbosity(verbosity); }

} // namespace quorvane
