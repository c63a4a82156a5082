// Start-up registrations and constant tables of the library. The initialisers
// of one file run in the order they appear, so they stand here in start-up
// order: the loaders AesKey, CTile, CTileTensor, PTile, EncryptedBatch,
// EncryptedData; the mockup prototype; the loaders PTileTensor and
// ProtocolMessage; the SEAL prototype; the AES tables; the AesHTable loader.
// A class registers with one line at its place.

#include "hebase/StartupRegistration.h"

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Saveable.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

const bool aesKeyLoaderRegistered =
    Saveable::registerLoadFunction("AesKey", &AesKey::createAndLoad);
const bool ctileLoaderRegistered = Saveable::registerLoadFunction("CTile", &CTile::createAndLoad);
const bool ctileTensorLoaderRegistered =
    Saveable::registerLoadFunction("CTileTensor", &CTileTensor::createAndLoad);
const bool ptileLoaderRegistered = Saveable::registerLoadFunction("PTile", &PTile::createAndLoad);
const bool encryptedBatchLoaderRegistered =
    Saveable::registerLoadFunction("EncryptedBatch", &EncryptedBatch::createAndLoad);
const bool encryptedDataLoaderRegistered =
    Saveable::registerLoadFunction("EncryptedData", &EncryptedData::createAndLoad);
const bool mockupPrototypeRegistered = HeContext::registerContext(new MockupContext());
const bool ptileTensorLoaderRegistered =
    Saveable::registerLoadFunction("PTileTensor", &PTileTensor::createAndLoad);
const bool protocolMessageLoaderRegistered =
    Saveable::registerLoadFunction("ProtocolMessage", &ProtocolMessage::createAndLoad);
const bool sealCkksPrototypeRegistered = HeContext::registerContext(new SealCkksContext());

} // namespace

const std::map<int, int> AesUtils::keySizeToNumRoundKeys = {{128, 11}, {192, 13}, {256, 15}};
const std::vector<uint8_t> AesUtils::sBox = AesUtils::computeSBox();
const std::vector<uint8_t> AesUtils::invSBox = AesUtils::invertTable(AesUtils::sBox);

namespace {

const bool aesHTableLoaderRegistered =
    Saveable::registerLoadFunction("AesHTable", &AesHTable::createAndLoad);

} // namespace

bool startupRegistrationLinked()
{
  return aesKeyLoaderRegistered && ctileLoaderRegistered && ctileTensorLoaderRegistered &&
         ptileLoaderRegistered && encryptedBatchLoaderRegistered &&
         encryptedDataLoaderRegistered && ptileTensorLoaderRegistered &&
         protocolMessageLoaderRegistered && mockupPrototypeRegistered &&
         sealCkksPrototypeRegistered && aesHTableLoaderRegistered;
}

} // namespace quorvane
