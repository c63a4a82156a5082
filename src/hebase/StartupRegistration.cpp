// Start-up registrations of the library. The initialisers of one file run in
// the order they appear, so the loaders below stand in start-up order:
// AesKey, CTile, CTileTensor, PTile, EncryptedBatch, EncryptedData,
// PTileTensor, ProtocolMessage, AesHTable. A class registers with one line at
// its place. Context prototypes register beside their backends.

#include "hebase/StartupRegistration.h"

#include "hebase/CTile.h"
#include "hebase/PTile.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

namespace {

const bool ctileLoaderRegistered = Saveable::registerLoadFunction("CTile", &CTile::createAndLoad);
const bool ptileLoaderRegistered = Saveable::registerLoadFunction("PTile", &PTile::createAndLoad);

} // namespace

bool startupRegistrationLinked()
{
  return ctileLoaderRegistered && ptileLoaderRegistered;
}

} // namespace quorvane
