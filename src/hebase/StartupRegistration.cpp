// Start-up registrations and constant tables of the library. The initialisers
// of one file run in the order they appear, so they stand here in start-up
// order: the loaders AesKey, CTile, CTileTensor, PTile, EncryptedBatch,
// EncryptedData; the sigmoid tables; the mockup prototype; the loaders
// PTileTensor and ProtocolMessage; the SEAL prototype; the AES tables; the
// section-timer root; the run-statistics operation names, then the object
// names; the AesHTable loader; the Chebyshev tables of bootstrapping.
// A class registers with one line at its place.

#include "hebase/StartupRegistration.h"

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/RunStats.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/SigmoidCoefficients.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesUtils.h"
#include "math/bootstrap/seal/Chebyshev.h"

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

} // namespace

const std::vector<double> SIGMOID_ORDER3_COEFS = {0.5, 1.20096, 0, -0.81562};
const std::vector<double> SIGMOID_ORDER7_COEFS = {0.5, -1.73496, 0, 4.19407,
                                                  0,   -5.43402, 0, 2.50739};
const std::vector<double> SIGMOID_ORDER9_COEFS = {0.5,
                                                  2.318583878945927,
                                                  0,
                                                  -11.622557469576737,
                                                  0,
                                                  37.47469955977713,
                                                  0,
                                                  -58.559563142590484,
                                                  0,
                                                  34.36770115907552};

namespace {

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

const bool sectionTimerRootBuilt = (SectionTimer::getRoot(), true);

} // namespace

const std::vector<std::string> RunStats::operationNames = {
    "encode",      "encrypt",     "decodeDouble", "decrypt",          "cCopy",     "addRaw",
    "subRaw",      "addPlainRaw", "subPlainRaw",  "negate",           "relinearize", "rotate",
    "multiplyRaw", "multiplyPlainRaw", "squareRaw", "rescaleRaw", "bootstrap"};
const std::vector<std::string> RunStats::objectNames = {
    "context", "contextBs", "contextBsDefaultRot", "rotationKey", "rotationKeyBs", "ctile",
    "ptile"};

namespace {

const bool aesHTableLoaderRegistered =
    Saveable::registerLoadFunction("AesHTable", &AesHTable::createAndLoad);

} // namespace

const std::vector<std::vector<double>> chebyshevCosTable = Chebyshev::buildTable(false);
const std::vector<std::vector<double>> chebyshevSinTable = Chebyshev::buildTable(true);

bool startupRegistrationLinked()
{
  return aesKeyLoaderRegistered && ctileLoaderRegistered && ctileTensorLoaderRegistered &&
         ptileLoaderRegistered && encryptedBatchLoaderRegistered &&
         encryptedDataLoaderRegistered && ptileTensorLoaderRegistered &&
         protocolMessageLoaderRegistered && mockupPrototypeRegistered &&
         sealCkksPrototypeRegistered && sectionTimerRootBuilt && aesHTableLoaderRegistered;
}

} // namespace quorvane
