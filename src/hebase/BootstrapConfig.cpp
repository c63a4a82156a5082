#include "hebase/BootstrapConfig.h"


#include "hebase/utils/BinIoUtils.h"

namespace quorvane {

namespace {

// Chain indexes accepted on load: -1 (taken from the context) up to this bound.
constexpr int32_t MAX_CHAIN_INDEX = 1000;

constexpr std::streamoff SAVED_SIZE = 4 * 5 + 9;

int32_t readInRange(std::istream& in, const char* field, int32_t min, int32_t max)
{
  return BinIoUtils::readRecordField(in, "BootstrapConfig", field, min, max);
}

} // namespace

std::streamoff BootstrapConfig::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, nT);
  BinIoUtils::writeBool(out, supportComplexData);
  BinIoUtils::writeBool(out, duplicateRealInput);
  BinIoUtils::writeInt32(out, targetChainIndex);
  BinIoUtils::writeInt32(out, minChainIndexForBootstrapping);
  BinIoUtils::writeInt32(out, verbose);
  BinIoUtils::writeBool(out, loadEncMatrices);
  BinIoUtils::writeBool(out, storeEncMatrices);
  BinIoUtils::writeBool(out, slot2coefViaFFT);
  BinIoUtils::writeBool(out, coef2slotViaFFT);
  BinIoUtils::writeBool(out, correctModScale);
  BinIoUtils::writeBool(out, clearSineMod);
  BinIoUtils::writeBool(out, clearExactMod);
  BinIoUtils::writeInt32(out, range);
  return SAVED_SIZE;
}

std::streamoff BootstrapConfig::load(std::istream& in)
{
  BootstrapConfig loaded;
  loaded.nT = readInRange(in, "nT", MIN_NT, MAX_NT);
  loaded.supportComplexData = BinIoUtils::readBool(in);
  loaded.duplicateRealInput = BinIoUtils::readBool(in);
  loaded.targetChainIndex = readInRange(in, "targetChainIndex", -1, MAX_CHAIN_INDEX);
  loaded.minChainIndexForBootstrapping =
      readInRange(in, "minChainIndexForBootstrapping", -1, MAX_CHAIN_INDEX);
  loaded.verbose =
      static_cast<Verbosity>(readInRange(in, "verbose", VERBOSITY_NONE, VERBOSITY_EXTRA_DETAILED));
  loaded.loadEncMatrices = BinIoUtils::readBool(in);
  loaded.storeEncMatrices = BinIoUtils::readBool(in);
  loaded.slot2coefViaFFT = BinIoUtils::readBool(in);
  loaded.coef2slotViaFFT = BinIoUtils::readBool(in);
  loaded.correctModScale = BinIoUtils::readBool(in);
  loaded.clearSineMod = BinIoUtils::readBool(in);
  loaded.clearExactMod = BinIoUtils::readBool(in);
  loaded.range = static_cast<BootstrapRange>(
      readInRange(in, "range", BOOTSTRAP_RANGE_DEFAULT, BOOTSTRAP_RANGE_DEFAULT));
  *this = loaded;
  return SAVED_SIZE;
}

} // namespace quorvane
