// Start-up registrations of the library. The initialisers of one file run in
// the order they appear, so the loaders below stand in start-up order:
// AesKey, CTile, CTileTensor, PTile, EncryptedBatch, EncryptedData,
// PTileTensor, ProtocolMessage, AesHTable; then one prototype of each built-in
// context. A class registers with one line at its place.

#include "hebase/StartupRegistration.h"

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Saveable.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"

namespace quorvane {

namespace {

const bool ctileLoaderRegistered = Saveable::registerLoadFunction("CTile", &CTile::createAndLoad);
const bool ctileTensorLoaderRegistered =
    Saveable::registerLoadFunction("CTileTensor", &CTileTensor::createAndLoad);
const bool ptileLoaderRegistered = Saveable::registerLoadFunction("PTile", &PTile::createAndLoad);
const bool encryptedBatchLoaderRegistered =
    Saveable::registerLoadFunction("EncryptedBatch", &EncryptedBatch::createAndLoad);
const bool encryptedDataLoaderRegistered =
    Saveable::registerLoadFunction("EncryptedData", &EncryptedData::createAndLoad);
const bool ptileTensorLoaderRegistered =
    Saveable::registerLoadFunction("PTileTensor", &PTileTensor::createAndLoad);

const bool mockupPrototypeRegistered = HeContext::registerContext(new MockupContext());
const bool sealCkksPrototypeRegistered = HeContext::registerContext(new SealCkksContext());

} // namespace

bool startupRegistrationLinked()
{
  return ctileLoaderRegistered && ctileTensorLoaderRegistered && ptileLoaderRegistered &&
         encryptedBatchLoaderRegistered && encryptedDataLoaderRegistered &&
         ptileTensorLoaderRegistered && mockupPrototypeRegistered && sealCkksPrototypeRegistered;
}

} // namespace quorvane
