#include "math/aes/AesConverter.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <stdexcept>
#include <string>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/utils/Assert.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesState.h"
#include "math/aes/impl/AesUtils.h"
#include "math/aes/impl/NumbersExtractor.h"

namespace quorvane {

namespace {

/// Elements batchNumber x batchSize up to, not including, the next batch or the end.
template <typename T>
std::vector<T> getBatch(const std::vector<T>& v, size_t batchNumber, size_t batchSize)
{
  const size_t start = batchNumber * batchSize;
  if (start >= v.size())
    throw std::invalid_argument("Cannot get batch number " + std::to_string(batchNumber) +
                                " with batch size " + std::to_string(batchSize) +
                                ", vector contains only " + std::to_string(v.size()) +
                                "elements");
  return std::vector<T>(v.begin() + start, v.begin() + std::min(v.size(), start + batchSize));
}

} // namespace

AesConverter::AesConverter(const HeContext& he, const AesKey& aesKey, Verbosity verbosity,
                           std::ostream* out)
    : he(he), aesKey(aesKey), verbosity(verbosity), out(out)
{
  QV_ASSERT(out != nullptr);
  if (!he.getBootstrappable())
    throw std::runtime_error("AES converter requires bootstrappable HE context");
  aesKey.validatePrepared();
  numRounds = static_cast<int>(aesKey.getRoundKeys().size()) - 1;

  // The schedule bootstraps to the target and XORs round keys into states
  // there or just below it; the key and the target must allow that.
  const int target = he.getChainIndexAfterBootstrapping();
  const int keyChainIndex = aesKey.getChainIndex();
  if (keyChainIndex < target - 1)
    throw std::runtime_error("AES converter requires the AES key at chain index " +
                             std::to_string(target - 1) +
                             " or above (the chain index after bootstrapping minus one), but "
                             "the key is at chain index " +
                             std::to_string(keyChainIndex));
  if (target > he.getTopChainIndex())
    throw std::runtime_error("AES converter requires the chain index after bootstrapping (" +
                             std::to_string(target) + ") not to exceed the top chain index (" +
                             std::to_string(he.getTopChainIndex()) + ")");
}

std::vector<std::vector<std::shared_ptr<CTile>>>
AesConverter::decrypt(const std::vector<uint8_t>& iv,
                      const std::vector<std::vector<uint8_t>>& blocks,
                      const NumberConfig& numberConfig)
{
  AesUtils::validateIv(iv);
  AesUtils::validateAesBlocks(blocks);
  std::vector<std::vector<uint8_t>> counters;
  AesUtils::getCounterBlocks(counters, iv, static_cast<int>(blocks.size()), false);
  const size_t batchSize = he.slotCount();
  const size_t numBatches =
      static_cast<size_t>(std::ceil(static_cast<double>(blocks.size()) / batchSize));
  std::vector<Batch> res;
  for (size_t i = 0; i < numBatches; ++i) {
    const Batch bits =
        decryptBatch(getBatch(blocks, i, batchSize), getBatch(counters, i, batchSize));
    res.push_back(NumbersExtractor::extract(bits, numberConfig));
  }
  return res;
}

std::vector<std::shared_ptr<CTile>>
AesConverter::decryptBatch(const std::vector<std::vector<uint8_t>>& dataBlocks,
                           const std::vector<std::vector<uint8_t>>& counterBlocks)
{
  std::vector<std::shared_ptr<CTile>> ks = encryptCounters(counterBlocks);
  Encoder encoder(he);
  for (int b = 0; b < AesUtils::numBytesInAesBlock; ++b)
    for (int i = 0; i < AesUtils::numBitsInByte; ++i) {
      std::vector<int> bits(he.slotCount(), 0);
      for (size_t j = 0; j < dataBlocks.size(); ++j)
        bits.at(j) = AesUtils::getBitAt(dataBlocks[j].at(b), i, true) ? 1 : 0;
      PTile p(he);
      encoder.encode(p, bits, -1);
      CTile& x = *ks[AesUtils::numBitsInByte * b + i];
      x.subPlain(p);
      if (hasExplicitSchedule() && x.getChainIndex() == he.getMinChainIndexForBootstrapping())
        x.bootstrap();
      x.square();
    }
  return ks;
}

std::vector<std::shared_ptr<CTile>>
AesConverter::encryptCounters(const std::vector<std::vector<uint8_t>>& counterBlocks)
{
  const bool explicitSchedule = hasExplicitSchedule();
  if (!explicitSchedule && !he.getAutomaticBootstrapping())
    throw std::runtime_error(
        "AES converter requires HE context with automatic bootstrapping for the given HE "
        "context");
  const std::vector<std::shared_ptr<AesBitwiseKey>>& roundKeys = aesKey.getRoundKeys();
  auto banner = [&](int round) {
    if (verbosity != VERBOSITY_NONE)
      *out << "*** Starting AES round " << round << " ***" << std::endl;
  };

  AesState state(he, true, verbosity, out);
  state.heEncrypt(counterBlocks, getCiToEncrypt());
  state.addRoundKey(*roundKeys.at(0));
  for (int r = 1; r < numRounds; ++r) {
    banner(r);
    state.subBytes();
    handleNoiseAfterSubBytes(state);
    state.shiftRows();
    state.mixColumns();
    if (explicitSchedule)
      handleNoiseAfterMixColumns(state);
    state.addRoundKey(*roundKeys.at(r));
    if (explicitSchedule)
      handleNoiseAfterAddRoundKey(state);
  }
  banner(numRounds);
  state.subBytes();
  state.shiftRows();
  if (explicitSchedule)
    state.bootstrap();
  state.addRoundKey(*roundKeys.at(numRounds));
  state.reduceNoise();
  return state.getAllBits();
}

int AesConverter::getCiToEncrypt() const
{
  const int keyCi = aesKey.getRoundKeys().at(0)->getChainIndex();
  if (!hasExplicitSchedule())
    return keyCi;
  const int m = he.getMinChainIndexForBootstrapping();
  const int k = keyCi - m;
  const int d = getBootstrapLevels();
  if (d == 8) {
    QV_ASSERT(isAboveMinBsCi(keyCi, 7));
    return k >= 8 ? m + 8 : m + 7;
  }
  QV_ASSERT(isAboveMinBsCi(keyCi, 4));
  if (k >= 10 && (d == 12 || d == 13))
    return m + 10;
  if (k >= 7 && (d == 6 || d == 7 || d == 12 || d == 13))
    return m + 7;
  return m + 4;
}

void AesConverter::handleNoiseAfterSubBytes(AesState& state)
{
  if (!hasExplicitSchedule())
    return;
  const int d = getBootstrapLevels();
  if (d == 8 && getLevelsAboveMin(state) == 2) {
    state.reduceNoise();
    state.bootstrap();
    state.setChainIndex(he.getMinChainIndexForBootstrapping() + 7);
    return;
  }
  const bool fresh = openNoiseStep(state);
  switch (d) {
  case 5:
  case 9:
    state.reduceNoise();
    break;
  case 6:
  case 12:
    if (fresh)
      state.reduceNoise();
    break;
  case 7:
  case 13:
    if (fresh) {
      lower(state, 1);
      state.reduceNoise();
    }
    break;
  case 8:
    if (fresh) {
      lower(state, 2);
      state.reduceNoise();
    }
    break;
  case 10:
    lower(state, 1);
    state.reduceNoise();
    break;
  case 11:
    lower(state, 2);
    state.reduceNoise();
    break;
  }
}

void AesConverter::handleNoiseAfterMixColumns(AesState& state)
{
  const int d = getBootstrapLevels();
  const int r0 = getLevelsAboveMin(state);
  if (d == 8 && r0 == 2) {
    state.reduceNoise();
    state.bootstrap();
    return;
  }
  const bool fresh = openNoiseStep(state);
  switch (d) {
  case 5:
    lower(state, 1);
    break;
  case 6:
  case 8:
    if (fresh)
      state.reduceNoise();
    break;
  case 7:
    if (fresh) {
      lower(state, 1);
      state.reduceNoise();
    }
    break;
  case 12:
    if (fresh || r0 == 3)
      state.reduceNoise();
    break;
  case 13:
    if (fresh) {
      lower(state, 1);
      state.reduceNoise();
    } else if (r0 == 3) {
      state.reduceNoise();
    }
    break;
  }
}

void AesConverter::handleNoiseAfterAddRoundKey(AesState& state)
{
  const int d = getBootstrapLevels();
  const int r0 = getLevelsAboveMin(state);
  const bool fresh = openNoiseStep(state);
  switch (d) {
  case 7:
    if (fresh)
      lower(state, 1);
    break;
  case 8:
    if (fresh || r0 == 2)
      state.reduceNoise();
    break;
  case 12:
    if (fresh)
      state.reduceNoise();
    break;
  }
  if (getLevelsAboveMin(state) == 0)
    state.bootstrap();
}

bool AesConverter::openNoiseStep(AesState& state) const
{
  if (getLevelsAboveMin(state) == 0)
    state.bootstrap();
  return state.getChainIndex() == he.getChainIndexAfterBootstrapping();
}

int AesConverter::getLevelsAboveMin(const AesState& state) const
{
  return state.getChainIndex() - he.getMinChainIndexForBootstrapping();
}

int AesConverter::getBootstrapLevels() const
{
  return he.getChainIndexAfterBootstrapping() - he.getMinChainIndexForBootstrapping();
}

bool AesConverter::hasExplicitSchedule() const
{
  const int d = getBootstrapLevels();
  return d >= 5 && d <= 13;
}

bool AesConverter::isAboveMinBsCi(int chainIndex, int n) const
{
  return chainIndex - he.getMinChainIndexForBootstrapping() >= n;
}

void AesConverter::lower(AesState& state, int n)
{
  state.setChainIndex(state.getChainIndex() - n);
}

} // namespace quorvane
