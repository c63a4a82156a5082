#include "hebase/impl/AbstractDecryptProtocol.h"

#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/PTile.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

AbstractDecryptProtocol::AbstractDecryptProtocol(const HeContext& he) : AbstractProtocol(he)
{
  protocolType = PROTOCOL_DECRYPT;
}

AbstractDecryptProtocol::~AbstractDecryptProtocol() {}

void AbstractDecryptProtocol::validateNotInit() const
{
  if (usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::validateNotInit - input is already set.");
}

void AbstractDecryptProtocol::validateInit() const
{
  if (!usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::validateInit - input is not set.");
}

void AbstractDecryptProtocol::setInput(const CTile& input)
{
  validateNotInit();
  addRole(MP_CIPHERTEXT_HOLDER);
  if (input.isEmpty())
    throw std::invalid_argument("AbstractDecryptProtocol::setInput - input is empty");
  inputCTile = std::make_shared<CTile>(input);
  usingCTile = true;
}

void AbstractDecryptProtocol::setPlaintextAggregatorId(int id)
{
  plaintextAggregatorId = id;
  if (id == getMultiPartyConfig().participantId)
    addRole(MP_PLAINTEXT_AGGREGATOR);
}

std::vector<double> AbstractDecryptProtocol::getOutputVectorDouble() const
{
  if (!usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::getOutputVectorDouble - protocol was not "
                             "initialized with CTile");
  return outputVectorDouble;
}

void AbstractDecryptProtocol::setInputFromMessage(
    const std::vector<ProtocolMessage>& inputMessages)
{
  const ProtocolMessage& message = inputMessages.at(0);
  const AbstractProtocolMessage& impl = *message.getImpl();
  if (!impl.getCTile())
    throwInvalidMessage(message, "The message does not contain encrypted input.");
  inputCTile = impl.getCTile();
  usingCTile = true;
}

std::vector<CTile> AbstractDecryptProtocol::transformInputToCTileVector() const
{
  validateInit();
  QV_ASSERT(usingCTile);
  return std::vector<CTile>{*inputCTile};
}

void AbstractDecryptProtocol::transformPTileVectorToOutput(const std::vector<PTile>& plaintexts)
{
  validateInit();
  QV_ASSERT(usingCTile);
  QV_ASSERT(plaintexts.size() == 1);
  outputVectorDouble = Encoder(he).decodeDouble(plaintexts[0]);
}

bool AbstractDecryptProtocol::executeRoundOne(std::vector<ProtocolMessage>& outputMessages,
                                              const std::vector<ProtocolMessage>& inputMessages)
{
  outputMessages.clear();
  QV_ASSERT(inputMessages.size() == 0);
  if (plaintextAggregatorId == -1)
    throw std::runtime_error(
        "AbstractDecryptProtocol::executeRoundOne - Plaintext aggregator ID is not set.");
  if (!isRole(MP_CIPHERTEXT_HOLDER))
    return true;
  validateInit();
  ProtocolMessage message(he, protocolType, MP_KEY_OWNER, currentRound + 1);
  QV_ASSERT(usingCTile);
  message.getImpl()->setCTile(inputCTile);
  const int32_t id = drawRandomId();
  message.getImpl()->setProtocolId(id);
  outputMessages.push_back(message);
  runId = id;
  usedRunIds.insert(id);
  return true;
}

void AbstractDecryptProtocol::resetProtocol()
{
  AbstractProtocol::resetProtocol();
  usingCTile = false;
  inputCTile.reset();
  outputVectorDouble.clear();
  runId = 0;
  roles.erase(MP_AGGREGATOR);
  roles.erase(MP_CIPHERTEXT_HOLDER);
}

} // namespace quorvane
