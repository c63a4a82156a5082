// Start-up registrations of the library. The initialisers of one file run in
// the order they appear, so the loaders below stand in start-up order:
// AesKey, CTile, CTileTensor, PTile, EncryptedBatch, EncryptedData,
// PTileTensor, ProtocolMessage, AesHTable; then one prototype of each built-in
// context. A class registers with one line at its place.

#include "hebase/StartupRegistration.h"

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

namespace {

const bool ctileLoaderRegistered = Saveable::registerLoadFunction("CTile", &CTile::createAndLoad);
const bool ptileLoaderRegistered = Saveable::registerLoadFunction("PTile", &PTile::createAndLoad);
const bool protocolMessageLoaderRegistered =
    Saveable::registerLoadFunction("ProtocolMessage", &ProtocolMessage::createAndLoad);

const bool mockupPrototypeRegistered = HeContext::registerContext(new MockupContext());
const bool sealCkksPrototypeRegistered = HeContext::registerContext(new SealCkksContext());

} // namespace

bool startupRegistrationLinked()
{
  return ctileLoaderRegistered && ptileLoaderRegistered && protocolMessageLoaderRegistered &&
         mockupPrototypeRegistered &&
         sealCkksPrototypeRegistered;
}

} // namespace quorvane
