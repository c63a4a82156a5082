#include "hebase/impl/MockupInitProtocol.h"

#include <stdexcept>

#include "hebase/MultiPartyConfig.h"
#include "hebase/impl/ProtocolMessage.h"

namespace quorvane {

MockupInitProtocol::MockupInitProtocol(HeContext& he) : AbstractInitProtocol(he)
{
  totalNumberOfRounds = 6;
}

MockupInitProtocol::~MockupInitProtocol() {}

ProtocolMessage MockupInitProtocol::nextRoundMessage(MultiPartyRole destination) const
{
  return ProtocolMessage(he, protocolType, destination, currentRound + 1);
}

bool MockupInitProtocol::validateKeyOwnersMessages(
    const std::vector<ProtocolMessage>& inputMessages) const
{
  const MultiPartyConfig& config = getMultiPartyConfig();
  const int expected = config.numKeyOwners() - (isRole(MP_KEY_OWNER) ? 1 : 0);
  if (!validateNumMessages(expected, inputMessages))
    return false;
  validateMessagesFromAllKeyOwners(inputMessages);
  return true;
}

void MockupInitProtocol::validateFromAggregator(
    const std::vector<ProtocolMessage>& inputMessages) const
{
  const int aggregatorId = getMultiPartyConfig().aggregatorId;
  for (const ProtocolMessage& message : inputMessages)
    validateMessageSource(message, aggregatorId, MP_AGGREGATOR);
}

bool MockupInitProtocol::executeRound(int round, std::vector<ProtocolMessage>& outputMessages,
                                      const std::vector<ProtocolMessage>& inputMessages)
{
  outputMessages.clear();
  const bool keyOwner = isRole(MP_KEY_OWNER);
  const bool aggregator = isRole(MP_AGGREGATOR);
  switch (round) {
  case 1: {
    validateNumMessages(0, inputMessages);
    if (isRole(MP_INITIATOR)) {
      ProtocolMessage message = nextRoundMessage(MP_KEY_OWNER);
      sendMessageToMyself(message);
      outputMessages.push_back(std::move(message));
    }
    return true;
  }
  case 2: {
    // The sender and the count were checked when the protocol id was adopted.
    if (!keyOwner)
      return true;
    ProtocolMessage message = nextRoundMessage(MP_AGGREGATOR);
    if (aggregator)
      sendMessageToMyself(message);
    else
      outputMessages.push_back(std::move(message));
    return true;
  }
  case 3: {
    if (!aggregator)
      return true;
    if (!validateKeyOwnersMessages(inputMessages))
      return false;
    ProtocolMessage message = nextRoundMessage(MP_KEY_OWNER);
    if (keyOwner)
      sendMessageToMyself(message);
    outputMessages.push_back(std::move(message));
    return true;
  }
  case 4: {
    validateFromAggregator(inputMessages);
    if (!keyOwner)
      return true;
    if (aggregator)
      receiveMessageFromMyself();
    else if (!validateNumMessages(1, inputMessages))
      return false;
    ProtocolMessage message = nextRoundMessage(MP_AGGREGATOR);
    if (aggregator)
      sendMessageToMyself(message);
    outputMessages.push_back(std::move(message));
    return true;
  }
  case 5: {
    if (!aggregator)
      return true;
    if (!validateKeyOwnersMessages(inputMessages))
      return false;
    if (keyOwner)
      receiveMessageFromMyself();
    outputMessages.push_back(nextRoundMessage(MP_KEY_OWNER));
    return true;
  }
  case 6: {
    validateFromAggregator(inputMessages);
    if (!keyOwner || aggregator)
      return true;
    return validateNumMessages(1, inputMessages);
  }
  default:
    throw std::runtime_error("MockupInitProtocol::executeRound - Invalid round number.");
  }
}

} // namespace quorvane
