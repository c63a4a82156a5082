#include "hebase/impl/AbstractDecryptProtocol.h"

#include <set>
#include <stdexcept>
#include <string>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/PTile.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/RandomId.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"

namespace quorvane {

namespace {

void appendTiles(std::vector<CTile>& tiles, const CTileTensor& tensor)
{
  const int n = tensor.getNumUsedTiles();
  for (int i = 0; i < n; ++i)
    tiles.push_back(static_cast<const CTile&>(tensor.getTileByFlatIndex(i)));
}

} // namespace

PTileTensor buildPTileTensor(const HeContext& he, const TTShape& shape,
                             const std::vector<PTile>& plaintexts)
{
  const int count = shape.getNumUsedTiles();
  if (static_cast<size_t>(count) != plaintexts.size())
    shape.reportError("number of tiles in the given shape doesn't match the vector size. The "
                      "given shape has " +
                      std::to_string(count) + " tiles. While the given vector is of size " +
                      std::to_string(plaintexts.size()) + ".");
  PTileTensor res(he, shape);
  for (int i = 0; i < count; ++i)
    static_cast<PTile&>(res.getMutableTile(i)) = plaintexts[i];
  res.setPacked(true);
  return res;
}

AbstractDecryptProtocol::AbstractDecryptProtocol(const HeContext& he) : AbstractProtocol(he)
{
  protocolType = PROTOCOL_DECRYPT;
}

AbstractDecryptProtocol::~AbstractDecryptProtocol() {}

void AbstractDecryptProtocol::validateNotInit() const
{
  if (usingEncryptedData || usingCTileTensor || usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::validateNotInit - input is already set.");
}

void AbstractDecryptProtocol::validateInit() const
{
  if (!usingEncryptedData && !usingCTileTensor && !usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::validateInit - input is not set.");
}

namespace {

template <typename T>
std::shared_ptr<T> copyOfInput(const T& input)
{
  return std::make_shared<T>(input);
}

// The input travels inside a saved message, which cannot hold a data set
// attached to a storage: its batches are read into a data set in memory.
std::shared_ptr<EncryptedData> copyOfInput(const EncryptedData& input)
{
  if (!input.isInputStorageAttached() && !input.isOutputStorageAttached())
    return std::make_shared<EncryptedData>(input);
  auto res = std::make_shared<EncryptedData>(input.getHeContext());
  res->addEncryptedData(input);
  return res;
}

// Keeps a copy of the holder's input; an empty one, or one of another
// context, is refused.
template <typename T>
void keepInput(const HeContext& he, const T& input, bool empty, std::shared_ptr<T>& slot,
               bool& flag)
{
  if (empty)
    throw std::invalid_argument("AbstractDecryptProtocol::setInput - input is empty");
  if (input.getContextId() != he.getContextId())
    throw std::invalid_argument(
        "AbstractDecryptProtocol::setInput - the input belongs to another context (context id " +
        std::to_string(input.getContextId()) + ", expected " +
        std::to_string(he.getContextId()) + ")");
  slot = copyOfInput(input);
  flag = true;
}

} // namespace

void AbstractDecryptProtocol::setInput(const CTile& input)
{
  validateNotInit();
  addRole(MP_CIPHERTEXT_HOLDER);
  keepInput(he, input, input.isEmpty(), inputCTile, usingCTile);
}

void AbstractDecryptProtocol::setInput(const CTileTensor& input)
{
  validateNotInit();
  input.checkTilesHoldValues("the input");
  addRole(MP_CIPHERTEXT_HOLDER);
  keepInput(he, input, !input.isPacked(), inputCTileTensor, usingCTileTensor);
}

void AbstractDecryptProtocol::setInput(const EncryptedData& input)
{
  validateNotInit();
  input.checkItemsHoldValues();
  addRole(MP_CIPHERTEXT_HOLDER);
  keepInput(he, input, input.getNumBatches() == 0, inputEncryptedData, usingEncryptedData);
}

void AbstractDecryptProtocol::setPlaintextAggregatorId(int id)
{
  const MultiPartyConfig& config = getMultiPartyConfig();
  if (id == config.participantId) {
    // A participant that owns no key keeps the id and is refused the role.
    plaintextAggregatorId = id;
    addRole(MP_PLAINTEXT_AGGREGATOR);
    return;
  }
  // Only a key owner can take the role: any other id would leave the output
  // with nobody while every round reports complete.
  if (!config.isIdKeyOwner(id)) {
    const std::set<int> keyOwners(config.keyOwnersIds.begin(), config.keyOwnersIds.end());
    std::string list;
    for (int owner : keyOwners)
      list += (list.empty() ? "" : ", ") + std::to_string(owner);
    throw std::invalid_argument(
        "AbstractDecryptProtocol::setPlaintextAggregatorId - the plaintext-aggregator ID " +
        std::to_string(id) +
        " is not a key-owner ID; the plaintext-aggregator must be one of the key-owners: " +
        (list.empty() ? "none" : list));
  }
  plaintextAggregatorId = id;
}

std::vector<double> AbstractDecryptProtocol::getOutputVectorDouble() const
{
  if (!usingCTile)
    throw std::runtime_error("AbstractDecryptProtocol::getOutputVectorDouble - protocol was not "
                             "initialized with CTile");
  return outputVectorDouble;
}

DoubleTensor AbstractDecryptProtocol::getOutputDoubleTensor() const
{
  if (!usingCTileTensor)
    throw std::runtime_error("AbstractDecryptProtocol::getOutputDoubleTensor - protocol was not "
                             "initialized with CTileTensor");
  return outputDoubleTensor;
}

std::vector<std::shared_ptr<const DoubleTensor>>
AbstractDecryptProtocol::getOutputVectorDoubleTensorCPtr() const
{
  if (!usingEncryptedData)
    throw std::runtime_error("AbstractDecryptProtocol::getOutputVectorDoubleTensorCPtr - "
                             "protocol was not initialized with EncryptedData");
  return outputVectorDoubleTensor;
}

void AbstractDecryptProtocol::setInputFromMessage(
    const std::vector<ProtocolMessage>& inputMessages)
{
  const ProtocolMessage& message = inputMessages.at(0);
  const AbstractProtocolMessage& impl = *message.getImpl();
  if (!impl.getEncryptedData() && !impl.getCTileTensor() && !impl.getCTile())
    throwInvalidMessage(message, "The message does not contain encrypted input.");
  inputEncryptedData = impl.getEncryptedData();
  inputCTileTensor = impl.getCTileTensor();
  inputCTile = impl.getCTile();
  usingEncryptedData = inputEncryptedData != nullptr;
  usingCTileTensor = !usingEncryptedData && inputCTileTensor != nullptr;
  usingCTile = !usingEncryptedData && !usingCTileTensor;
}

void AbstractDecryptProtocol::checkInputHoldsValues() const
{
  if (usingEncryptedData)
    inputEncryptedData->checkItemsHoldValues();
  else if (usingCTileTensor)
    inputCTileTensor->checkTilesHoldValues("the input");
}

std::vector<CTile> AbstractDecryptProtocol::transformInputToCTileVector() const
{
  checkInputHoldsValues();
  std::vector<CTile> tiles;
  if (usingEncryptedData) {
    for (size_t b = 0; b < inputEncryptedData->getNumBatches(); ++b) {
      const EncryptedBatch batch = inputEncryptedData->getBatch(b);
      for (size_t i = 0; i < batch.getNumItems(); ++i)
        appendTiles(tiles, *batch.getItem(i));
    }
    return tiles;
  }
  validateInit();
  if (usingCTileTensor) {
    appendTiles(tiles, *inputCTileTensor);
    return tiles;
  }
  QV_ASSERT(usingCTile);
  tiles.push_back(*inputCTile);
  return tiles;
}

void AbstractDecryptProtocol::transformPTileVectorToOutput(const std::vector<PTile>& plaintexts)
{
  if (usingEncryptedData) {
    TTEncoder encoder(he, 0);
    std::vector<std::shared_ptr<const DoubleTensor>> outputs;
    size_t offset = 0;
    for (size_t b = 0; b < inputEncryptedData->getNumBatches(); ++b) {
      const EncryptedBatch batch = inputEncryptedData->getBatch(b);
      for (size_t i = 0; i < batch.getNumItems(); ++i) {
        const CTileTensor& item = *batch.getItem(i);
        // The plaintexts needed up to and including this item.
        const size_t numTiles = offset + item.getNumUsedTiles();
        QV_ASSERT(plaintexts.size() >= numTiles);
        const std::vector<PTile> itemTiles(plaintexts.begin() + offset,
                                           plaintexts.begin() + numTiles);
        outputs.push_back(std::make_shared<const DoubleTensor>(
            encoder.decodeDouble(buildPTileTensor(he, item.getShape(), itemTiles))));
        offset = numTiles;
      }
    }
    outputVectorDoubleTensor = std::move(outputs);
    return;
  }
  validateInit();
  if (usingCTileTensor) {
    TTEncoder encoder(he, 0);
    outputDoubleTensor =
        encoder.decodeDouble(buildPTileTensor(he, inputCTileTensor->getShape(), plaintexts));
    return;
  }
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
  checkInputHoldsValues();
  ProtocolMessage message(he, protocolType, MP_KEY_OWNER, currentRound + 1);
  AbstractProtocolMessage& impl = *message.getImpl();
  if (usingEncryptedData) {
    impl.setEncryptedData(inputEncryptedData);
  } else if (usingCTileTensor) {
    impl.setCTileTensor(inputCTileTensor);
  } else {
    QV_ASSERT(usingCTile);
    impl.setCTile(inputCTile);
  }
  const int32_t id = drawRandomId();
  impl.setProtocolId(id);
  outputMessages.push_back(message);
  runId = id;
  usedRunIds.insert(id);
  return true;
}

void AbstractDecryptProtocol::resetProtocol()
{
  AbstractProtocol::resetProtocol();
  usingEncryptedData = false;
  inputEncryptedData.reset();
  outputVectorDoubleTensor.clear();
  usingCTileTensor = false;
  inputCTileTensor.reset();
  outputDoubleTensor = DoubleTensor();
  usingCTile = false;
  inputCTile.reset();
  outputVectorDouble.clear();
  runId = 0;
  roles.erase(MP_AGGREGATOR);
  roles.erase(MP_CIPHERTEXT_HOLDER);
}

} // namespace quorvane
