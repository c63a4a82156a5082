#include "hebase/impl/ProtocolMessage.h"

#include <stdexcept>

#include "hebase/HeContext.h"
#include "hebase/MultiPartyUtils.h"

namespace quorvane {

ProtocolMessage::ProtocolMessage(const HeContext& he)
    : impl(he.getMultiPartyUtils()->createProtocolMessage())
{
}

ProtocolMessage::ProtocolMessage(const HeContext& he, ProtocolType protocolType,
                                 MultiPartyRole destinationRole, int toBeReceivedOnRound)
    : ProtocolMessage(he)
{
  if (!he.isMultiParty())
    throw std::runtime_error("This HE context is not multi-party");
  impl->setProtocolType(protocolType);
  impl->setDestinationRole(destinationRole);
  impl->setToBeReceivedOnRound(toBeReceivedOnRound);
  impl->setSourceParticipantId(he.getHeConfigRequirement().multiPartyConfig->participantId);
}

ProtocolMessage::ProtocolMessage(std::shared_ptr<AbstractProtocolMessage> backendObject)
    : Saveable(), impl(std::move(backendObject))
{
  if (!impl)
    throw std::invalid_argument("ProtocolMessage: the backend object is null");
}

ProtocolMessage::ProtocolMessage(const ProtocolMessage& src)
    : Saveable(), impl(src.backend().clone())
{
}

ProtocolMessage::ProtocolMessage(ProtocolMessage&& src) noexcept
    : Saveable(), impl(std::move(src.impl))
{
}

ProtocolMessage& ProtocolMessage::operator=(const ProtocolMessage& src)
{
  if (this != &src)
    impl = src.backend().clone();
  return *this;
}

ProtocolMessage& ProtocolMessage::operator=(ProtocolMessage&& src) noexcept
{
  impl.swap(src.impl);
  return *this;
}

ProtocolMessage::~ProtocolMessage() {}

std::shared_ptr<Saveable> ProtocolMessage::createAndLoad(const HeContext& he,
                                                         const SaveableHeader& header,
                                                         std::istream& in)
{
  auto message = std::make_shared<ProtocolMessage>(he);
  message->Saveable::load(in, header);
  return message;
}

AbstractProtocolMessage& ProtocolMessage::backend() const
{
  if (!impl)
    throw std::runtime_error("ProtocolMessage: the message was moved from and holds no content");
  return *impl;
}

void ProtocolMessage::debugPrint(const std::string& title, Verbosity verbosity,
                                 std::ostream& out) const
{
  backend().debugPrint(title, verbosity, out);
}

int32_t ProtocolMessage::getContextId() const { return backend().getHeContext().getContextId(); }

void ProtocolMessage::saveImpl(std::ostream& out) const { backend().save(out); }

void ProtocolMessage::loadImpl(std::istream& in) { backend().load(in); }

std::string ProtocolMessage::getClassName() const { return "ProtocolMessage"; }

bool ProtocolMessage::allowsStorage() const { return false; }

ProtocolType ProtocolMessage::getProtocolType() const { return backend().getProtocolType(); }

int ProtocolMessage::getSourceParticipantId() const
{
  return backend().getSourceParticipantId();
}

MultiPartyRole ProtocolMessage::getDestinationRole() const
{
  return backend().getDestinationRole();
}

int ProtocolMessage::getToBeReceivedOnRound() const { return backend().getToBeReceivedOnRound(); }

std::string ProtocolMessage::getMetadataAsString(bool singleLine) const
{
  return backend().getMetadataAsString(singleLine);
}

const std::shared_ptr<AbstractProtocolMessage>& ProtocolMessage::getImpl() const
{
  backend();
  return impl;
}

} // namespace quorvane
