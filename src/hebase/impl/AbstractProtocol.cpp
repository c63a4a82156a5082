#include "hebase/impl/AbstractProtocol.h"

#include <iostream>
#include <sstream>
#include <stdexcept>

#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/impl/ProtocolMessage.h"

namespace quorvane {

namespace {

const char* const NOT_MULTI_PARTY = "This HE context is not multi-party";

std::string joinRoles(const std::set<MultiPartyRole>& roles, const std::string& separator)
{
  std::string res;
  for (MultiPartyRole role : roles) {
    if (!res.empty())
      res += separator;
    res += multiPartyRoleToString(role);
  }
  return res;
}

} // namespace

AbstractProtocol::AbstractProtocol(const HeContext& he) : he(he)
{
  const MultiPartyConfig& config = getMultiPartyConfig();
  // The key owners are counted and matched by id: a repeated id could never be
  // completed.
  std::set<int> seen;
  for (int id : config.keyOwnersIds)
    if (!seen.insert(id).second)
      throw std::invalid_argument(
          "AbstractProtocol::AbstractProtocol - the key-owner ids must be distinct. "
          "Repeated key-owner id: " +
          std::to_string(id));
  if (config.isKeyOwner())
    addRole(MP_KEY_OWNER);
  if (config.isInitiator())
    addRole(MP_INITIATOR);
}

AbstractProtocol::~AbstractProtocol() {}

const MultiPartyConfig& AbstractProtocol::getMultiPartyConfig() const
{
  if (!he.isMultiParty())
    throw std::runtime_error(NOT_MULTI_PARTY);
  return *he.getHeConfigRequirement().multiPartyConfig;
}

void AbstractProtocol::addRole(MultiPartyRole role)
{
  if (roles.count(role))
    return;
  if (role == MP_INITIATOR && !roles.count(MP_KEY_OWNER))
    throw std::invalid_argument("AbstractProtocol::addRole - the participant is not a key-owner "
                                "and therefore cannot be the initiator.");
  if (role == MP_PLAINTEXT_AGGREGATOR && !roles.count(MP_KEY_OWNER))
    throw std::invalid_argument("AbstractProtocol::addRole - plaintext-aggregator which is a "
                                "non-key-owner is not supported.");
  roles.insert(role);
}

void AbstractProtocol::resetRoles()
{
  roles.erase(MP_AGGREGATOR);
  roles.erase(MP_CIPHERTEXT_HOLDER);
  roles.erase(MP_PLAINTEXT_AGGREGATOR);
}

void AbstractProtocol::validateCurrentRound() const
{
  if (currentRound < 1 || currentRound > totalNumberOfRounds)
    throw std::runtime_error(
        "The current round number is out of range. The protocol has already finished or an "
        "unexpected error occurred. Current round number: " +
        std::to_string(currentRound) +
        ", total number of rounds in the protocol: " + std::to_string(totalNumberOfRounds));
}

void AbstractProtocol::validateSeparateVectors(const std::vector<ProtocolMessage>& outputMessages,
                                               const std::vector<ProtocolMessage>& inputMessages)
{
  if (&outputMessages == &inputMessages)
    throw std::invalid_argument("AbstractProtocol::executeNextRound - the output messages and "
                                "the input messages must be two different vectors.");
}

bool AbstractProtocol::executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                                        const std::vector<ProtocolMessage>& inputMessages)
{
  debugPrint("", static_cast<Verbosity>(verbosity), std::cout);
  validateCurrentRound();
  validateSeparateVectors(outputMessages, inputMessages);
  for (const ProtocolMessage& message : inputMessages)
    validateMessageMetadata(message);
  bool done = executeRound(currentRound, outputMessages, inputMessages);
  if (done)
    ++currentRound;
  return done;
}

void AbstractProtocol::validateMessageMetadata(const ProtocolMessage& message) const
{
  const MultiPartyConfig& config = getMultiPartyConfig();
  if (message.getSourceParticipantId() == config.participantId)
    throwInvalidMessage(message,
                        "AbstractProtocol::validateMessageMetadata - The message was created by "
                        "the participant of this protocol. It should not receive it.");
  if (message.getProtocolType() != protocolType)
    throwInvalidMessage(message,
                        "AbstractProtocol::validateMessageMetadata - The protocol type of the "
                        "message does not match the protocol type of the protocol. Protocol "
                        "type of message: " +
                            protocolTypeToString(message.getProtocolType()) +
                            ", protocol type of the protocol: " +
                            protocolTypeToString(protocolType));
  if (!roles.count(message.getDestinationRole()))
    throwInvalidMessage(message,
                        "The destination role of the message does not match the roles of the "
                        "current participant. Message destination role: " +
                            multiPartyRoleToString(message.getDestinationRole()) +
                            ", roles of the current participant: " + joinRoles(roles, "; "));
  if (message.getToBeReceivedOnRound() != currentRound)
    throwInvalidMessage(message,
                        "The round number in which this message is to be received by the "
                        "destination does not match the current round number. The message "
                        "should be received on round: " +
                            std::to_string(message.getToBeReceivedOnRound()) +
                            ", the current round number:" + std::to_string(currentRound));
}

bool AbstractProtocol::isInputMessageValidForCurrentRound(const ProtocolMessage& message) const
{
  try {
    validateMessageMetadata(message);
  } catch (...) {
    return false;
  }
  return true;
}

bool AbstractProtocol::validateNumMessages(int expected,
                                           const std::vector<ProtocolMessage>& inputMessages) const
{
  const int n = static_cast<int>(inputMessages.size());
  if (n > expected)
    throw std::invalid_argument(
        "AbstractProtocol::validateNumMessages - too many input messages received. Expected: " +
        std::to_string(expected) + ", received: " + std::to_string(n));
  return n == expected;
}

void AbstractProtocol::validateMessagesFromAllKeyOwners(
    const std::vector<ProtocolMessage>& inputMessages) const
{
  const MultiPartyConfig& config = getMultiPartyConfig();
  std::set<int> missing(config.keyOwnersIds.begin(), config.keyOwnersIds.end());
  for (const ProtocolMessage& message : inputMessages)
    missing.erase(message.getSourceParticipantId());
  const bool keyOwner = config.isKeyOwner();
  if (keyOwner)
    missing.erase(config.participantId);
  if (missing.empty())
    return;
  std::string ids;
  for (int id : missing)
    ids += (ids.empty() ? "" : ", ") + std::to_string(id);
  throw std::invalid_argument("AbstractProtocol::validateMessagesFromAllKeyOwners - The input "
                              "messages does not contain messages from all" +
                              std::string(keyOwner ? " other" : "") +
                              " key-owners. Missing key-owners: " + ids);
}

void AbstractProtocol::validateMessageSource(const ProtocolMessage& message,
                                             int expectedSourceId,
                                             MultiPartyRole expectedRole) const
{
  if (message.getSourceParticipantId() != expectedSourceId)
    throwInvalidMessage(message, "The message does not come from the " +
                                     multiPartyRoleToString(expectedRole) +
                                     ", which sends the messages of this round. Expected source "
                                     "ID: " +
                                     std::to_string(expectedSourceId));
}

void AbstractProtocol::throwInvalidMessage(const ProtocolMessage& message,
                                           const std::string& errorText) const
{
  std::string text = "The given message is invalid.";
  if (!errorText.empty())
    text += "\n Error message: " + errorText;
  throw std::invalid_argument(text + message.getMetadataAsString(false));
}

void AbstractProtocol::sendMessageToMyself(const ProtocolMessage& message, int round)
{
  if (round == -1)
    round = message.getToBeReceivedOnRound();
  if (round < 1 || round > totalNumberOfRounds)
    throw std::runtime_error("AbstractProtocol::sendMessageToMyself - round number is invalid.");
  if (messagesToMyself.count(round))
    throw std::runtime_error("AbstractProtocol::sendMessageToMyself - there is already exist a "
                             "message from the participant to itself for the given round.");
  messagesToMyself[round] = std::make_shared<ProtocolMessage>(message);
}

ProtocolMessage& AbstractProtocol::receiveMessageFromMyself(int round)
{
  if (round == -1)
    round = currentRound;
  auto it = messagesToMyself.find(round);
  if (it == messagesToMyself.end())
    throw std::runtime_error("AbstractProtocol::receiveMessageFromMyself - there doesn't exist a "
                             "message from the participant to itself for the current round.");
  return *it->second;
}

bool AbstractProtocol::hasMessageToMyself(int round) const
{
  return messagesToMyself.count(round) > 0;
}

void AbstractProtocol::resetProtocol()
{
  currentRound = 1;
  messagesToMyself.clear();
}

void AbstractProtocol::debugPrint(const std::string& title, Verbosity verbosity,
                                  std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  out << (title.empty() ? "Protocol:" : title) << std::endl;
  out << "Current round: ";
  if (currentRound > totalNumberOfRounds)
    out << "the protocol already finished";
  else
    out << currentRound << " out of " << totalNumberOfRounds;
  out << std::endl;
  if (verbosity >= VERBOSITY_REGULAR) {
    out << "Protocol type: " << protocolTypeToString(protocolType) << std::endl;
    out << "Participant roles: " << joinRoles(roles, ", ") << std::endl;
    out << "Participant ID: " << getMultiPartyConfig().participantId << std::endl;
  }
  out << std::endl;
}

} // namespace quorvane
