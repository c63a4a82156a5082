#include "hebase/seal/SealCkksContext.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include <seal/ckks.h>
#include <seal/context.h>
#include <seal/decryptor.h>
#include <seal/encryptionparams.h>
#include <seal/encryptor.h>
#include <seal/evaluator.h>
#include <seal/galoiskeys.h>
#include <seal/keygenerator.h>
#include <seal/modulus.h>
#include <seal/publickey.h>
#include <seal/randomgen.h>
#include <seal/relinkeys.h>
#include <seal/secretkey.h>
#include <seal/util/defines.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksParams.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/seal/SealMeasures.h"
#include "hebase/seal/SealObjectLoader.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/SealBootstrapEvaluator.h"

namespace quorvane {

static_assert(std::is_same<SealCkksContext::ParmsId, seal::parms_id_type>::value,
              "ParmsId must be SEAL's parameter id");
static_assert(seal::prng_seed_uint64_count == 8, "the seed must fill SEAL's generator seed");

namespace {

bool needsGaloisKeys(const PublicFunctions& pf)
{
  return pf.rotate != NO_ROTATIONS || pf.conjugate != FALSE;
}

// The rotation steps whose Galois keys the functions ask for (0 stands for
// conjugation).
std::vector<int> galoisSteps(const PublicFunctions& pf, int slots)
{
  std::vector<int> steps;
  if (pf.rotate == DEFAULT_ROTATIONS)
    steps = SealCkksParams::getDefaultRotationSteps(slots);
  else if (pf.rotate == CUSTOM_ROTATIONS)
    steps = pf.rotationSteps;
  if (pf.conjugate != FALSE)
    steps.push_back(0);
  return steps;
}

// Whether the slot count is a power of two whose polynomial degree SEAL supports.
bool isSupportedSlotCount(int64_t numSlots)
{
  int64_t polyDegree = 2 * numSlots;
  return numSlots > 0 && (numSlots & (numSlots - 1)) == 0 &&
         polyDegree >= SEAL_POLY_MOD_DEGREE_MIN && polyDegree <= SEAL_POLY_MOD_DEGREE_MAX;
}

void checkSavedScale(double scale, const std::string& which)
{
  if (std::isfinite(scale) && scale > 0)
    return;
  std::ostringstream text;
  text << scale;
  throw std::runtime_error("Invalid saved SealCkksContext: " + which + " is " + text.str() +
                           ", expected a finite positive value");
}

void checkSavedSecurityLevel(int32_t level, int32_t requiredLevel)
{
  if (level != 0 && level != 128 && level != 192 && level != 256)
    throw std::runtime_error("Invalid saved SealCkksContext: the security level is " +
                             std::to_string(level) + ", expected 0, 128, 192 or 256");
  if (requiredLevel < 0 || SealCkksParams::roundSecurityLevel(requiredLevel) != level)
    throw std::runtime_error("Invalid saved SealCkksContext: the security level " +
                             std::to_string(level) +
                             " does not match the saved requirement's security level " +
                             std::to_string(requiredLevel));
}

// The security table's bound for 2 * numSlots; 0 for degrees outside it.
int64_t maxBitsForSlots(int securityLevel, int numSlots)
{
  int64_t polyDegree = 2 * static_cast<int64_t>(numSlots);
  if (polyDegree <= 0 || polyDegree > (1 << 30))
    return SealCkksContext::getMaxCoeffModulusBitCount(securityLevel, 0);
  return SealCkksContext::getMaxCoeffModulusBitCount(securityLevel, static_cast<int>(polyDegree));
}

int tableColumn(int polyDegree)
{
  switch (polyDegree) {
  case 1024:
    return 0;
  case 2048:
    return 1;
  case 4096:
    return 2;
  case 8192:
    return 3;
  case 16384:
    return 4;
  case 32768:
    return 5;
  default:
    return -1;
  }
}

// SEAL's context with its full modulus chain. SEAL catches every exception
// while it creates a level's RNS tool, std::bad_alloc included: at the key
// level it reports the parameters as not set (failed_creating_rns_tool); at the
// first level it goes on without key switching, and at a lower level it ends
// the chain there. For parameters it validated up to that tool only a failed
// allocation can make the tool fail, so each case throws std::bad_alloc. Other
// parameter errors are left to the callers.
std::shared_ptr<seal::SEALContext> makeSealContext(const seal::EncryptionParameters& parms,
                                                   int securityLevel)
{
  auto context = std::make_shared<seal::SEALContext>(
      parms, true, static_cast<seal::sec_level_type>(securityLevel));
  if (context->key_context_data()->qualifiers().parameter_error ==
      seal::EncryptionParameterQualifiers::error_type::failed_creating_rns_tool)
    throw std::bad_alloc();
  const size_t primes = parms.coeff_modulus().size();
  if (context->parameters_set() && primes > 1 &&
      (!context->using_keyswitching() ||
       context->first_context_data()->chain_index() + 2 != primes))
    throw std::bad_alloc();
  return context;
}

} // namespace

template <typename Steps>
void SealCkksContext::buildOrRollBack(Steps&& steps)
{
  // The base fields are put back by runOrRestore, the SEAL objects here.
  bool savedAccurateScaling = useAccurateScaling;
  runOrRestore([&] {
    try {
      steps();
    } catch (...) {
      clearSealObjects();
      useAccurateScaling = savedAccurateScaling;
      throw;
    }
  });
}

SealCkksContext::SealCkksContext()
{
  traits.setSupportsExplicitRescale(true);
  traits.setSupportsModSwitch(true);
  traits.setSupportsExplicitChainIndices(true);
  traits.setSupportsComplexNumbers(true);
  traits.setSupportsValuesLimitation(true);
  traits.setSupportsScaledEncoding(true);
  traits.setSupportsSecKeySeed(true);
  traits.setSupportsHandleTransparentCiphertexts(true);
  traits.setSupportsCKKSBootstrapping(false);
}

SealCkksContext::~SealCkksContext() {}

// ---- Answers ----

std::string SealCkksContext::getLibraryName() const { return "SEAL"; }

std::string SealCkksContext::getSchemeName() const { return "CKKS"; }

int SealCkksContext::getSecurityLevel() const { return securityLevel; }

std::string SealCkksContext::getSignature() const
{
  if (!encryptionParams)
    return "";
  return SealCkksParams::makeSignature(*encryptionParams, securityLevel);
}

bool SealCkksContext::hasSecretKey() const { return secretKey != nullptr; }

int SealCkksContext::slotCount() const
{
  if (!encoder)
    throw std::runtime_error("HE context has not been initialized yet");
  return static_cast<int>(encoder->slot_count());
}

int SealCkksContext::getTopChainIndex() const
{
  if (!sealContext)
    throw std::runtime_error("HE context has not been initialized yet");
  return static_cast<int>(sealContext->first_context_data()->chain_index());
}

std::shared_ptr<std::vector<uint64_t>> SealCkksContext::getModulusChain() const
{
  if (!sealContext)
    throw std::runtime_error("Context not set");
  const auto& moduli = sealContext->key_context_data()->parms().coeff_modulus();
  auto chain = std::make_shared<std::vector<uint64_t>>();
  for (size_t i = 0; i + 1 < moduli.size(); i++)
    chain->push_back(moduli[i].value());
  return chain;
}

int SealCkksContext::getMinSupportedNumSlots() const { return 512; }

int SealCkksContext::getMaxSupportedNumSlots() const { return 16384; }

bool SealCkksContext::publicFunctionsSupported(const PublicFunctions&) const { return true; }

std::shared_ptr<HeContext> SealCkksContext::clone() const
{
  return std::make_shared<SealCkksContext>();
}

std::map<std::string, int64_t> SealCkksContext::getEstimatedMeasures() const
{
  return SealMeasures::readFile(SealMeasures::getMeasuresFilePath());
}

std::vector<double> SealCkksContext::getMaxAllowedValues() const
{
  assertInitialized();
  long s = std::lround(std::log2(getDefaultScale()));
  long p = std::lround(std::log2(static_cast<double>(getModulusChain()->at(0))));
  int top = getTopChainIndex();
  std::vector<double> values;
  for (int i = 0; i <= top; i++)
    values.push_back(std::ldexp(1.0, static_cast<int>(p - s - 2 + i * s)) - 1.0);
  return values;
}

// ---- Feasibility and planning ----

bool SealCkksContext::isConfigRequirementFeasible(const HeConfigRequirement& req) const
{
  req.assertComplete();
  int64_t frac = req.fractionalPartPrecision;
  int64_t integer = req.integerPartPrecision;
  int64_t depth = req.multiplicationDepth;
  // Values no parameter set can meet.
  if (req.numSlots <= 0 || depth < 0 || frac <= 0 || integer < 0)
    return false;
  // Also at security level 0, where the table bounds nothing.
  if (!isSupportedSlotCount(req.numSlots))
    return false;
  if (frac + integer > 60)
    return false;
  int64_t totalBits = frac * (depth + 2) + 2 * integer;
  if (totalBits > maxBitsForSlots(req.securityLevel, req.numSlots))
    return false;
  if (!req.bootstrappable)
    return true;
  // Bootstrapping over SEAL needs the CKKS bootstrapping trait, which this
  // context does not declare.
  if (!getTraits().getSupportsCKKSBootstrapping())
    return false;
  BootstrapConfig config = req.bootstrapConfig.value_or(BootstrapConfig());
  if (config.range != BOOTSTRAP_RANGE_DEFAULT)
    return false;
  int target = config.targetChainIndex == -1 ? 1 : config.targetChainIndex;
  return depth - BootstrapCore::getLevelCost(config, req.numSlots) >= target;
}

int SealCkksContext::getBestFeasibleFractionalPartPrecision(const HeConfigRequirement& req) const
{
  assertNotInitialized();
  QV_ASSERT(req.numSlots != -1);
  QV_ASSERT(req.multiplicationDepth != -1);
  QV_ASSERT(req.integerPartPrecision != -1);
  // No precision fits a negative depth (and depth -2 would divide by zero).
  if (req.multiplicationDepth < 0)
    return -1;
  int64_t maxBits = maxBitsForSlots(req.securityLevel, req.numSlots);
  int64_t best = (maxBits - 2 * static_cast<int64_t>(req.integerPartPrecision)) /
                 (static_cast<int64_t>(req.multiplicationDepth) + 2);
  return static_cast<int>(std::min<int64_t>(best, 60 - req.integerPartPrecision));
}

int SealCkksContext::getBestFeasibleMulDepth(const HeConfigRequirement& req) const
{
  assertNotInitialized();
  QV_ASSERT(req.numSlots != -1);
  QV_ASSERT(req.fractionalPartPrecision != -1);
  QV_ASSERT(req.integerPartPrecision != -1);
  if (req.securityLevel == 0)
    return 30;
  // The formula divides by the precision: none or a negative one fits nothing.
  if (req.fractionalPartPrecision <= 0)
    return -1;
  int64_t maxBits = maxBitsForSlots(req.securityLevel, req.numSlots);
  int64_t depth = (maxBits - 2 * static_cast<int64_t>(req.integerPartPrecision)) /
                      req.fractionalPartPrecision -
                  2;
  return depth < -1 ? -1 : static_cast<int>(depth);
}

// ---- Bootstrapping answers ----

int SealCkksContext::getMinChainIndexForBootstrapping() const
{
  assertInitialized();
  QV_ASSERT(getBootstrappable());
  return 0;
}

int SealCkksContext::getChainIndexAfterBootstrapping() const
{
  assertInitialized();
  QV_ASSERT(getBootstrappable());
  const BootstrapConfig& config = getBootstrapConfig();
  if (config.targetChainIndex != -1)
    return config.targetChainIndex;
  return getTopChainIndex() - BootstrapCore::getLevelCost(config, slotCount());
}

BootstrapConfig SealCkksContext::getBootstrapChainIndexes(const HeConfigRequirement& req) const
{
  assertNotInitialized();
  req.assertComplete();
  QV_ASSERT(req.bootstrappable);
  QV_ASSERT(!req.bootstrapConfig.has_value());
  QV_ASSERT(isConfigRequirementFeasible(req));
  BootstrapConfig config;
  config.targetChainIndex =
      req.multiplicationDepth - BootstrapCore::getLevelCost(config, req.numSlots);
  config.minChainIndexForBootstrapping = 0;
  return config;
}

std::shared_ptr<AbstractBootstrapEvaluator>
SealCkksContext::createAbstractBootstrapEvaluator(const BootstrapConfig& config) const
{
  return std::make_shared<SealBootstrapEvaluator>(*this, config);
}

// ---- Backend objects ----

std::shared_ptr<AbstractCiphertext> SealCkksContext::createAbstractCiphertext() const
{
  return std::make_shared<SealCkksCiphertext>(*this);
}

std::shared_ptr<AbstractPlaintext> SealCkksContext::createAbstractPlaintext() const
{
  return std::make_shared<SealCkksPlaintext>(*this);
}

std::shared_ptr<AbstractEncoder> SealCkksContext::getEncoder() const
{
  return std::make_shared<SealCkksEncoder>(*this);
}

// ---- Initialisation ----

void SealCkksContext::init(const HeConfigRequirement& req)
{
  if (!isConfigRequirementFeasible(req))
    throw std::runtime_error("Given configuration requirement is not feasible");
  int level = SealCkksParams::roundSecurityLevel(req.securityLevel);
  assertNotInitialized();
  buildOrRollBack([&] {
    HeContext::init(req);
    securityLevel = level;
    const HeConfigRequirement& actual = getHeConfigRequirement();
    setDefaultScale(std::ldexp(1.0, actual.fractionalPartPrecision));
    // Feasibility bounds the degree to SEAL's range.
    int64_t polyDegree = 2 * static_cast<int64_t>(actual.numSlots);
    initSeal(createEncryptionParameters(static_cast<int>(polyDegree),
                                        actual.fractionalPartPrecision,
                                        actual.multiplicationDepth, actual.integerPartPrecision),
             actual.publicFunctions);
    initBootstrap();
  });
}

void SealCkksContext::initSeal(const seal::EncryptionParameters& parms, const PublicFunctions& pf)
{
  seedArray = SealCkksParams::drawSeed();
  secretKey = std::make_shared<seal::SecretKey>(
      createSecretKeyFromSeed(parms, securityLevel, *seedArray));
  sealContext = makeSealContext(parms, securityLevel);
  keyGenerator = std::make_shared<seal::KeyGenerator>(*sealContext, *secretKey);
  if (pf.encrypt) {
    publicKey = std::make_shared<seal::PublicKey>();
    keyGenerator->create_public_key(*publicKey);
  }
  if (pf.relinearize) {
    relinKeys = std::make_shared<seal::RelinKeys>();
    keyGenerator->create_relin_keys(*relinKeys);
  }
  if (needsGaloisKeys(pf)) {
    int slots = static_cast<int>(parms.poly_modulus_degree() / 2);
    galKeys = std::make_shared<seal::GaloisKeys>();
    keyGenerator->create_galois_keys(galoisSteps(pf, slots), *galKeys);
  }
  if (pf.encrypt)
    encryptor = std::make_shared<seal::Encryptor>(*sealContext, *publicKey);
  evaluator = std::make_shared<seal::Evaluator>(*sealContext);
  decryptor = std::make_shared<seal::Decryptor>(*sealContext, *secretKey);
  encoder = std::make_shared<seal::CKKSEncoder>(*sealContext);
  encryptionParams = std::make_shared<seal::EncryptionParameters>(parms);
  if (useAccurateScaling) {
    // With no rescaling prime the scale stays 2^frac.
    accurateScalesTable =
        SealCkksParams::computeAccurateScales(*getModulusChain(), getDefaultScale());
    setDefaultScale(accurateScalesTable.back());
  }
}

void SealCkksContext::clearSealObjects()
{
  accurateScalesTable.clear();
  encryptionParams.reset();
  encoder.reset();
  decryptor.reset();
  evaluator.reset();
  encryptor.reset();
  galKeys.reset();
  relinKeys.reset();
  secretKey.reset();
  publicKey.reset();
  keyGenerator.reset();
  sealContext.reset();
  seedArray.reset();
  securityLevel = 128;
}

void SealCkksContext::setUseAccurateScaling(bool value)
{
  if (sealContext)
    throw std::runtime_error("This context is already initialized");
  useAccurateScaling = value;
}

double SealCkksContext::getAccurateScale(int chainIndex) const
{
  if (!sealContext)
    throw std::runtime_error("This context has not been initialized");
  if (!useAccurateScaling)
    throw std::runtime_error("Accurate scaling is not enabled");
  QV_ASSERT((chainIndex >= 0) && (chainIndex <= getTopChainIndex()));
  if (accurateScalesTable.size() != static_cast<size_t>(getTopChainIndex()) + 1)
    throwAssertError("accurateScalesTable.size() == (getTopChainIndex() + 1)", __FILE__, __LINE__,
                     __func__);
  return accurateScalesTable[static_cast<size_t>(chainIndex)];
}

// ---- Parameter helpers ----

int SealCkksContext::getMaxCoeffModulusBitCount(int securityLevel, int polyDegree)
{
  static const int table[3][6] = {{27, 54, 109, 218, 438, 881},
                                  {19, 37, 75, 152, 305, 611},
                                  {14, 29, 58, 118, 237, 476}};
  if (securityLevel == 0)
    return 2147483647;
  if (securityLevel > 256)
    throw std::runtime_error("Security level above 256 not supported");
  int column = tableColumn(polyDegree);
  if (column < 0)
    return 0;
  int row = securityLevel <= 128 ? 0 : (securityLevel <= 192 ? 1 : 2);
  return table[row][column];
}

seal::EncryptionParameters SealCkksContext::createEncryptionParameters(int polyDegree,
                                                                       int midBits, int count,
                                                                       int extraBits)
{
  if (count < 0)
    throw std::invalid_argument("The number of rescaling primes must not be negative");
  std::vector<int> bitSizes(static_cast<size_t>(count) + 2, midBits);
  bitSizes.front() = bitSizes.back() = midBits + extraBits;
  seal::EncryptionParameters parms(seal::scheme_type::ckks);
  parms.set_poly_modulus_degree(static_cast<size_t>(polyDegree));
  parms.set_coeff_modulus(seal::CoeffModulus::Create(static_cast<size_t>(polyDegree), bitSizes));
  return parms;
}

seal::SecretKey SealCkksContext::createSecretKeyFromSeed(const seal::EncryptionParameters& parms,
                                                         int securityLevel,
                                                         const std::array<uint64_t, 8>& seed)
{
  seal::EncryptionParameters seeded = parms;
  seal::prng_seed_type prngSeed;
  std::copy(seed.begin(), seed.end(), prngSeed.begin());
  seeded.set_random_generator(std::make_shared<seal::Blake2xbPRNGFactory>(prngSeed));
  std::shared_ptr<seal::SEALContext> context = makeSealContext(seeded, securityLevel);
  seal::KeyGenerator keyGenerator(*context);
  return keyGenerator.secret_key();
}

// ---- Accessors for the backend ----

SealCkksContext::ParmsId SealCkksContext::getParmsIdForChainIndex(int chainIndex) const
{
  if (!sealContext)
    throw std::runtime_error("HE context has not been initialized yet");
  // Stepping past the top would reach SEAL's key level.
  if (chainIndex < 0 || chainIndex > getTopChainIndex())
    throw std::invalid_argument("illegal chain index count");
  std::shared_ptr<const seal::SEALContext::ContextData> data = sealContext->last_context_data();
  for (int i = 0; i < chainIndex; i++) {
    data = data->prev_context_data();
    if (!data)
      throw std::invalid_argument("illegal chain index count");
  }
  return data->parms_id();
}

int SealCkksContext::getCoeffModulusBitCount(int index) const
{
  const auto& moduli = getEncryptionParams().coeff_modulus();
  if (index < 0 || static_cast<size_t>(index) >= moduli.size())
    throw std::invalid_argument("illegal coefficient modulus index " + std::to_string(index));
  return moduli[static_cast<size_t>(index)].bit_count();
}

const seal::Encryptor& SealCkksContext::getEncryptor() const
{
  if (!encryptor)
    throw std::runtime_error("This SealCkksContext doesn't have an encryptor");
  return *encryptor;
}

const seal::RelinKeys& SealCkksContext::getRelinKeys() const
{
  if (!relinKeys)
    throw std::runtime_error("This SealCkksContext doesn't have reliniarization keys");
  return *relinKeys;
}

const seal::GaloisKeys& SealCkksContext::getGaloisKeys() const
{
  if (!galKeys)
    throw std::runtime_error("This SealCkksContext doesn't have galois keys");
  return *galKeys;
}

const seal::SEALContext& SealCkksContext::getSealContext() const
{
  if (!sealContext)
    throw std::runtime_error("HE context has not been initialized yet");
  return *sealContext;
}

const seal::Evaluator& SealCkksContext::getEvaluator() const
{
  if (!evaluator)
    throw std::runtime_error("HE context has not been initialized yet");
  return *evaluator;
}

seal::Decryptor& SealCkksContext::getDecryptor() const
{
  if (!decryptor)
    throw std::runtime_error("this HeContext does not have a secret key");
  return *decryptor;
}

seal::CKKSEncoder& SealCkksContext::getCkksEncoder() const
{
  if (!encoder)
    throw std::runtime_error("HE context has not been initialized yet");
  return *encoder;
}

const seal::EncryptionParameters& SealCkksContext::getEncryptionParams() const
{
  if (!encryptionParams)
    throw std::runtime_error("HE context has not been initialized yet");
  return *encryptionParams;
}

// ---- Persistence ----

void SealCkksContext::checkPublicFunctionsForSave(const PublicFunctions& pf) const
{
  HeContext::checkPublicFunctionsForSave(pf);
  if (!needsGaloisKeys(pf))
    return;
  const PublicFunctions& own = getPublicFunctions();
  if (pf.conjugate == own.conjugate && pf.hasSameRotations(own))
    return;
  throw std::invalid_argument("SealCkksContext does not support saving a non-trivial subset of "
                              "the conjugation and rotation keys");
}

void SealCkksContext::saveImpl(std::ostream& out, const PublicFunctions& pf) const
{
  HeContext::saveImpl(out, pf);
  encryptionParams->save(out, seal::compr_mode_type::none);
  BinIoUtils::writeDouble(out, getDefaultScale());
  BinIoUtils::writeInt32(out, securityLevel);
  if (pf.encrypt) {
    QV_ASSERT(publicKey != nullptr);
    publicKey->save(out, seal::compr_mode_type::none);
  }
  if (pf.relinearize) {
    QV_ASSERT(relinKeys != nullptr);
    relinKeys->save(out, seal::compr_mode_type::none);
  }
  if (needsGaloisKeys(pf)) {
    QV_ASSERT(galKeys != nullptr);
    galKeys->save(out, seal::compr_mode_type::none);
  }
  BinIoUtils::writeBool(out, useAccurateScaling);
  if (useAccurateScaling) {
    int top = getTopChainIndex();
    for (int i = 0; i <= top; i++)
      BinIoUtils::writeDouble(out, getAccurateScale(i));
  }
}

void SealCkksContext::checkLoadedRequirement(const HeConfigRequirement& req) const
{
  if (!isSupportedSlotCount(req.numSlots))
    throw std::runtime_error("Invalid saved SealCkksContext: the slot count is " +
                             std::to_string(req.numSlots) + ", expected a power of two from 1 to " +
                             std::to_string(SEAL_POLY_MOD_DEGREE_MAX / 2));
}

void SealCkksContext::loadImpl(std::istream& in)
{
  if (sealContext)
    throw std::runtime_error("This context is already initialized");
  buildOrRollBack([&] {
    HeContext::loadImpl(in);
    const HeConfigRequirement& req = getHeConfigRequirement();
    seal::EncryptionParameters parms;
    SealObjectLoader::loadParameters(in, parms);
    if (parms.scheme() != seal::scheme_type::ckks)
      throw std::runtime_error("The saved SEAL parameters are not CKKS parameters");
    if (parms.coeff_modulus().size() < 2)
      throw std::invalid_argument("The coefficient modulus must hold at least two primes");
    // The parameters match the requirement before SEAL builds its tables from them.
    if (parms.poly_modulus_degree() != 2 * static_cast<uint64_t>(req.numSlots))
      throw std::runtime_error(
          "The saved requirement's slot count does not match the saved SEAL parameters");
    if (static_cast<int64_t>(parms.coeff_modulus().size()) !=
        static_cast<int64_t>(req.multiplicationDepth) + 2)
      throw std::runtime_error("The saved requirement's multiplication depth does not match "
                               "the saved SEAL parameters");
    double scale = BinIoUtils::readDouble(in);
    checkSavedScale(scale, "the default scale");
    setDefaultScale(scale);
    int32_t level = BinIoUtils::readInt32(in);
    checkSavedSecurityLevel(level, req.securityLevel);
    securityLevel = level;
    sealContext = makeSealContext(parms, securityLevel);
    if (!sealContext->parameters_set())
      throw std::runtime_error(std::string("The saved SEAL parameters are not valid: ") +
                               sealContext->parameter_error_message());
    const PublicFunctions& pf = getPublicFunctions();
    if (pf.encrypt) {
      publicKey = std::make_shared<seal::PublicKey>();
      SealObjectLoader::loadPublicKey(in, *sealContext, *publicKey);
    }
    if (pf.relinearize) {
      relinKeys = std::make_shared<seal::RelinKeys>();
      SealObjectLoader::loadRelinKeys(in, *sealContext, *relinKeys);
    }
    if (needsGaloisKeys(pf)) {
      galKeys = std::make_shared<seal::GaloisKeys>();
      size_t keyCount = galoisSteps(pf, req.numSlots).size();
      SealObjectLoader::loadGaloisKeys(in, *sealContext, keyCount, *galKeys);
    }
    if (pf.encrypt)
      encryptor = std::make_shared<seal::Encryptor>(*sealContext, *publicKey);
    evaluator = std::make_shared<seal::Evaluator>(*sealContext);
    encoder = std::make_shared<seal::CKKSEncoder>(*sealContext);
    useAccurateScaling = BinIoUtils::readBool(in);
    if (useAccurateScaling) {
      size_t top = sealContext->first_context_data()->chain_index();
      for (size_t i = 0; i <= top; i++) {
        double accurateScale = BinIoUtils::readDouble(in);
        checkSavedScale(accurateScale, "the accurate scale of chain index " + std::to_string(i));
        accurateScalesTable.push_back(accurateScale);
      }
    }
    encryptionParams = std::make_shared<seal::EncryptionParameters>(parms);
    restoreBootstrapEvaluator();
  });
}

int64_t SealCkksContext::saveSecretKey(std::ostream& out, bool seedOnly) const
{
  if (!secretKey)
    throw std::runtime_error("this HeContext does not have a secret key");
  // Checked before anything is written.
  if (seedOnly)
    QV_ASSERT(seedArray.has_value());
  int64_t bytes = HeContext::saveSecretKey(out, seedOnly);
  if (seedOnly) {
    for (uint64_t word : *seedArray)
      BinIoUtils::writeUint64(out, word);
    bytes += static_cast<int64_t>(seedArray->size() * sizeof(uint64_t));
  } else {
    bytes += secretKey->save(out, seal::compr_mode_type::zstd);
  }
  return bytes;
}

int64_t SealCkksContext::loadSecretKey(std::istream& in, bool seedOnly)
{
  if (secretKey)
    throw std::runtime_error("this HeContext already has a secret key");
  if (!sealContext)
    throw std::runtime_error("HE context has not been initialized yet");
  int64_t bytes = HeContext::loadSecretKey(in, seedOnly);
  std::optional<std::array<uint64_t, 8>> newSeed;
  std::shared_ptr<seal::SecretKey> key;
  if (seedOnly) {
    std::array<uint64_t, 8> seed;
    for (uint64_t& word : seed)
      word = BinIoUtils::readUint64(in);
    bytes += static_cast<int64_t>(seed.size() * sizeof(uint64_t));
    key = std::make_shared<seal::SecretKey>(
        createSecretKeyFromSeed(*encryptionParams, securityLevel, seed));
    newSeed = seed;
  } else {
    key = std::make_shared<seal::SecretKey>();
    bytes += SealObjectLoader::loadSecretKey(in, *sealContext, *key);
  }
  bool matches = true;
  if (publicKey)
    matches = SealCkksParams::secretKeyMatchesPublicKey(*sealContext, *key, *publicKey);
  else if (relinKeys)
    matches = SealCkksParams::secretKeyMatchesSwitchingKeys(*sealContext, *key, *relinKeys);
  else if (galKeys && galKeys->size() > 0)
    matches = SealCkksParams::secretKeyMatchesSwitchingKeys(*sealContext, *key, *galKeys);
  if (!matches)
    throw std::runtime_error("The secret key does not match the public keys of this context");
  auto newDecryptor = std::make_shared<seal::Decryptor>(*sealContext, *key);
  secretKey = std::move(key);
  seedArray = newSeed;
  decryptor = std::move(newDecryptor);
  return bytes;
}

// ---- Descriptions ----

std::ostream& SealCkksContext::printSignature(std::ostream& out) const
{
  HeContext::printSignature(out);
  if (!isInitialized() || !encryptionParams)
    return out;
  out << "PolyDegree=" << encryptionParams->poly_modulus_degree() << std::endl;
  out << "SecurityLevel=" << getSecurityLevel() << std::endl;
  out << "Default scale=2^" << std::round(std::log(getDefaultScale()) / std::log(2.0))
      << std::endl;
  return out;
}

void SealCkksContext::debugPrint(const std::string& title, Verbosity verbosity,
                                 std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  if (!isInitialized() || !sealContext) {
    out << "uninitialized SEAL CKKS context" << std::endl;
    return;
  }
  if (verbosity < VERBOSITY_DETAILED) {
    out << "context SealCkksContext";
    if (!title.empty())
      out << " " << title;
    out << ": slots=" << slotCount() << ", security=" << getSecurityLevel() << std::endl;
    return;
  }
  auto keyData = sealContext->key_context_data();
  const seal::EncryptionParameters& keyParms = keyData->parms();
  const auto& moduli = keyParms.coeff_modulus();
  PrintUtils::printSeparator(out);
  if (title.empty())
    out << "ZERE-ZIRU-ZAR Context" << std::endl;
  else
    out << "ZERE-ZIRU-ZAR Context: " << title << std::endl;
  PrintUtils::printSeparator(out);
  out << "polyDegree                   : " << keyParms.poly_modulus_degree() << std::endl;
  out << "Default scale                : 2^"
      << std::round(std::log(getDefaultScale()) / std::log(2.0)) << std::endl;
  out << "slots                        : " << keyParms.poly_modulus_degree() / 2 << std::endl;
  out << "SecurityLevel                : " << getSecurityLevel() << std::endl;
  out << "chain index                  : " << keyData->chain_index() << std::endl;
  out << "coeff_modulus_size           : " << moduli.size() << std::endl;
  out << "total_coeff_modulus_bit_count: " << keyData->total_coeff_modulus_bit_count()
      << std::endl;
  out << "modulusChainBits={";
  for (const seal::Modulus& prime : moduli)
    out << " " << prime.bit_count();
  out << " }" << std::endl;
  out << "coeff_modulus={";
  for (size_t i = 0; i < moduli.size(); i++)
    out << (i > 0 ? "," : "") << " " << moduli[i].value();
  out << " }" << std::endl;
  if (verbosity >= VERBOSITY_EXTRA_DETAILED) {
    const uint64_t* total = keyData->total_coeff_modulus();
    out << "total_coeff_modulus={";
    for (size_t i = 0; i < moduli.size(); i++)
      out << (i > 0 ? "," : "") << " " << total[i];
    out << " }" << std::endl;
  }
  PrintUtils::printSeparator(out);
}

} // namespace quorvane
