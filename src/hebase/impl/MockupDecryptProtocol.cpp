#include "hebase/impl/MockupDecryptProtocol.h"

#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/PTile.h"
#include "hebase/impl/MockupProtocolMessage.h"
#include "hebase/impl/ProtocolMessage.h"

namespace quorvane {

MockupDecryptProtocol::MockupDecryptProtocol(const HeContext& he) : AbstractDecryptProtocol(he)
{
  totalNumberOfRounds = 3;
}

MockupDecryptProtocol::~MockupDecryptProtocol() {}

bool MockupDecryptProtocol::executeRound(int round, std::vector<ProtocolMessage>& outputMessages,
                                         const std::vector<ProtocolMessage>& inputMessages)
{
  switch (round) {
  case 1:
    return executeRoundOne(outputMessages, inputMessages);
  case 2:
    return executeRoundTwo(outputMessages, inputMessages);
  case 3:
    return executeRoundThree(outputMessages, inputMessages);
  default:
    throw std::runtime_error("MockupDecryptProtocol::executeRound - Invalid round number.");
  }
}

bool MockupDecryptProtocol::executeRoundTwo(std::vector<ProtocolMessage>& outputMessages,
                                            const std::vector<ProtocolMessage>& inputMessages)
{
  outputMessages.clear();
  if (!isRole(MP_KEY_OWNER))
    return true;
  int32_t id = runId;
  if (isRole(MP_CIPHERTEXT_HOLDER)) {
    // The holder sends this round's input; a message from anyone else is forged.
    const int ownId = getMultiPartyConfig().participantId;
    for (const ProtocolMessage& message : inputMessages)
      validateMessageSource(message, ownId, MP_CIPHERTEXT_HOLDER);
  } else {
    if (!validateNumMessages(1, inputMessages))
      return false;
    const ProtocolMessage& message = inputMessages[0];
    id = message.getImpl()->getProtocolId();
    if (id != 0 && usedRunIds.count(id))
      throwInvalidMessage(message, "The message belongs to an earlier run of the protocol.");
    setInputFromMessage(inputMessages);
  }

  std::vector<CTile> tiles = transformInputToCTileVector();
  ProtocolMessage message(he, protocolType, MP_PLAINTEXT_AGGREGATOR, currentRound + 1);
  message.getImpl()->setProtocolId(id);
  dynamic_cast<MockupProtocolMessage&>(*message.getImpl()).setTiles(tiles);
  if (isRole(MP_PLAINTEXT_AGGREGATOR))
    sendMessageToMyself(message);
  outputMessages.push_back(std::move(message));
  runId = id;
  if (id != 0)
    usedRunIds.insert(id);
  return true;
}

bool MockupDecryptProtocol::executeRoundThree(std::vector<ProtocolMessage>& outputMessages,
                                              const std::vector<ProtocolMessage>& inputMessages)
{
  outputMessages.clear();
  if (!isRole(MP_PLAINTEXT_AGGREGATOR))
    return true;
  const int expected = getMultiPartyConfig().numKeyOwners() - (isRole(MP_KEY_OWNER) ? 1 : 0);
  if (!validateNumMessages(expected, inputMessages))
    return false;
  validateMessagesFromAllKeyOwners(inputMessages);
  const ProtocolMessage& kept = receiveMessageFromMyself();
  const int32_t id = kept.getImpl()->getProtocolId();
  for (const ProtocolMessage& message : inputMessages)
    if (message.getImpl()->getProtocolId() != id)
      throwInvalidMessage(message, "The message belongs to another run of the protocol.");

  const std::vector<CTile>& tiles =
      dynamic_cast<const MockupProtocolMessage&>(*kept.getImpl()).getTiles();
  Encoder encoder(he);
  std::vector<PTile> plaintexts;
  plaintexts.reserve(tiles.size());
  for (const CTile& tile : tiles) {
    plaintexts.emplace_back(he);
    encoder.decrypt(plaintexts.back(), tile);
  }
  transformPTileVectorToOutput(plaintexts);
  return true;
}

} // namespace quorvane
