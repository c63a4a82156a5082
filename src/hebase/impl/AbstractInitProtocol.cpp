#include "hebase/impl/AbstractInitProtocol.h"

#include <iostream>
#include <stdexcept>

#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/RandomId.h"

namespace quorvane {

AbstractInitProtocol::AbstractInitProtocol(HeContext& he) : AbstractProtocol(he), mutableHe(&he)
{
  protocolType = PROTOCOL_INIT;
  const MultiPartyConfig& config = getMultiPartyConfig();
  if (!config.isIdKeyOwner(config.initiatorId))
    throw std::invalid_argument(
        "AbstractInitProtocol::AbstractInitProtocol - Initiator must be a key-owner.");
  if (config.isAggregator())
    addRole(MP_AGGREGATOR);
}

AbstractInitProtocol::~AbstractInitProtocol() {}

bool AbstractInitProtocol::executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                                            const std::vector<ProtocolMessage>& inputMessages)
{
  debugPrint("", static_cast<Verbosity>(verbosity), std::cout);
  validateCurrentRound();
  validateSeparateVectors(outputMessages, inputMessages);
  for (const ProtocolMessage& message : inputMessages)
    validateMessageMetadata(message);
  const MultiPartyConfig& config = getMultiPartyConfig();

  // Round 2: the protocol id comes from the initiator's message, or for the
  // initiator from the message it kept.
  int32_t adoptedId = 0;
  if (currentRound == 2) {
    for (const ProtocolMessage& message : inputMessages)
      validateMessageSource(message, config.initiatorId, MP_INITIATOR);
    if (isRole(MP_INITIATOR)) {
      adoptedId = receiveMessageFromMyself().getImpl()->getProtocolId();
    } else {
      // A short round leaves no output behind, as in every other round.
      if (!validateNumMessages(1, inputMessages)) {
        outputMessages.clear();
        return false;
      }
      adoptedId = inputMessages[0].getImpl()->getProtocolId();
    }
  }

  const int32_t previousId = he.getContextId();
  if (currentRound == 2)
    mutableHe->setContextId(adoptedId);
  bool done;
  try {
    done = executeRound(currentRound, outputMessages, inputMessages);
  } catch (...) {
    mutableHe->setContextId(previousId);
    throw;
  }
  if (!done) {
    mutableHe->setContextId(previousId);
    return false;
  }

  if (currentRound == 1 && isRole(MP_INITIATOR)) {
    const int32_t protocolId = drawRandomId();
    QV_ASSERT(outputMessages.size() == 1,
              "Init protocol first round output is not of the expected form.");
    outputMessages[0].getImpl()->setProtocolId(protocolId);
    if (hasMessageToMyself(2)) {
      receiveMessageFromMyself(2).getImpl()->setProtocolId(protocolId);
    } else {
      ProtocolMessage kept(he, protocolType, MP_AGGREGATOR, 2);
      kept.getImpl()->setProtocolId(protocolId);
      sendMessageToMyself(kept);
    }
    if (!config.isIdKeyOwner(config.aggregatorId)) {
      ProtocolMessage toAggregator(he, protocolType, MP_AGGREGATOR, 2);
      toAggregator.getImpl()->setProtocolId(protocolId);
      outputMessages.push_back(toAggregator);
    }
  }
  ++currentRound;
  return true;
}

} // namespace quorvane
