#include "math/TTPermutator.h"

#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/MathUtils.h"
#include "math/TTIterator.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

std::string text(const std::vector<int>& values)
{
  std::ostringstream out;
  out << values;
  return out.str();
}

const HeContext& contextOfFirst(const std::vector<std::shared_ptr<CTile>>& srcTiles)
{
  const std::shared_ptr<CTile>& first = srcTiles.at(0);
  if (!first)
    throw std::invalid_argument("TTPermutator: source tile 0 is null");
  return first->getHeContext();
}

} // namespace

TTPermutator::TTPermutator(const std::vector<std::shared_ptr<CTile>>& srcTiles,
                           const Mapping& mapping, const TTShape& destShape, double maskValue)
    : he(contextOfFirst(srcTiles)), srcTiles(srcTiles), destShape(destShape),
      destDimSizes(destShape.getOriginalSizes(true)), maskValue(maskValue), zeroTile(he)
{
  validateShapes();
  validateSources();
  validateMapping(mapping);
  validateDuplications(mapping);
  computeDestLocations();
  for (const auto& entry : mapping)
    addToPlan(entry.first, entry.second.first, entry.second.second);
  bootstrapSourcesIfNeeded();
  initZeroTile();
}

// ---- Validation ----

void TTPermutator::validateShapes() const
{
  if (destShape.isIncomplete())
    destShape.reportError("The destination shape of TTPermutator cannot be incomplete");
  if (destShape.getNumSlotsInTile() != he.slotCount())
    destShape.reportError("The destination shape of TTPermutator must have " +
                          std::to_string(he.slotCount()) + " slots");
  if (destShape.containsUnknownUnusedSlots())
    destShape.reportError(
        "The destination shape of TTPermutator cannot contain unknown unused slots");
  if (destShape.getNumComplexPackedDims() > 0)
    destShape.reportError("The destination shape of TTPermutator cannot be complex packed");
  destShape.validateForAllocation();
}

void TTPermutator::validateSources() const
{
  for (size_t i = 0; i < srcTiles.size(); ++i) {
    const std::string name = "TTPermutator: source tile " + std::to_string(i);
    if (!srcTiles[i])
      throw std::invalid_argument(name + " is null");
    if (srcTiles[i]->getContextId() != he.getContextId())
      throw std::invalid_argument(name + " belongs to another context (context id " +
                                  std::to_string(srcTiles[i]->getContextId()) + ", expected " +
                                  std::to_string(he.getContextId()) + ")");
    if (srcTiles[i]->isEmpty())
      throw std::invalid_argument(name + " holds no encryption");
  }
}

void TTPermutator::validateMapping(const Mapping& mapping) const
{
  const int numSources = static_cast<int>(srcTiles.size());
  const int slots = he.slotCount();
  for (const auto& entry : mapping) {
    const std::vector<int>& cords = entry.first;
    // Coordinates beyond the sizes fail cordsToFlat's assertion; negative or
    // surplus ones would silently name another element.
    if (cords.size() > destDimSizes.size())
      throw std::invalid_argument("TTPermutator: destination coordinates " + text(cords) +
                                  " have more entries than the " +
                                  std::to_string(destDimSizes.size()) +
                                  " dimensions of the destination shape");
    for (int c : cords)
      if (c < 0)
        throw std::invalid_argument("TTPermutator: destination coordinates " + text(cords) +
                                    " must not be negative");
    const int tile = entry.second.first;
    const int slot = entry.second.second;
    if (tile < 0 || tile >= numSources)
      throw std::out_of_range("TTPermutator: source tile index " + std::to_string(tile) +
                              " of destination " + text(cords) + " is out of range: there are " +
                              std::to_string(numSources) + " source tiles");
    if (slot < 0 || slot >= slots)
      throw std::out_of_range("TTPermutator: source slot " + std::to_string(slot) +
                              " of destination " + text(cords) + " is out of range: a tile has " +
                              std::to_string(slots) + " slots");
  }
}

bool TTPermutator::mappingDefinesDuplicates(const Mapping& mapping) const
{
  for (const auto& entry : mapping)
    for (int d = 0; d < destShape.getNumDims(); ++d)
      if (destShape.getDim(d).getNumDuplicated() > 1 && entry.first.at(d) > 0)
        return true;
  return false;
}

bool TTPermutator::hasPartiallyDuplicatedDims() const
{
  for (int d = 0; d < destShape.getNumDims(); ++d) {
    const TTDim& dim = destShape.getDim(d);
    if (dim.getNumDuplicated() > 1 && !dim.isFullyDuplicated())
      return true;
  }
  return false;
}

void TTPermutator::validateDuplications(const Mapping& mapping)
{
  if (!destShape.hasDuplicatedDims())
    return;
  if (!mappingDefinesDuplicates(mapping)) {
    if (hasPartiallyDuplicatedDims())
      destShape.reportError("The destination shape of TTPermutator has partially duplicated "
                            "dims. In such case, the permutation must define mappings that "
                            "create the duplications");
    duplicateAfter = true;
    return;
  }
  const std::vector<int> originalSizes = destShape.getOriginalSizes(false);
  for (int d = 0; d < destShape.getNumDims(); ++d) {
    if (destShape.getDim(d).getNumDuplicated() <= 1)
      continue;
    TensorIterator driver(originalSizes, true);
    TensorIterator driven(destDimSizes, true);
    driver.setTarget(&driven);
    do {
      TensorIterator line(driven);
      const std::pair<int, int>* value = nullptr;
      bool someMapped = false;
      bool someUnmapped = false;
      do {
        const auto found = mapping.find(line.getIndices());
        if (found == mapping.end()) {
          someUnmapped = true;
          continue;
        }
        someMapped = true;
        if (value != nullptr && *value != found->second)
          destShape.reportError(
              "The destination shape of TTPermutator has a duplicated dimension in which, for "
              "slots that should contain the same value, the permutation defines mappings from "
              "two different slots in the original tensor of the source",
              d);
        value = &found->second;
      } while (line.nextInDim(d));
      if (someMapped && someUnmapped)
        destShape.reportError(
            "The destination shape of TTPermutator has a duplicated dimension in which, for "
            "slots that should contain the same value, the permutation defines mapping to one "
            "and not to another",
            d);
    } while (driver.next());
  }
}

// ---- Planning ----

void TTPermutator::computeDestLocations()
{
  TTShape plain(destShape);
  for (int d = 0; d < plain.getNumDims(); ++d) {
    TTDim& dim = plain.getDim(d);
    const int copies = dim.getNumDuplicated();
    if (copies > 1) {
      dim.setNumDuplicated(1);
      dim.setOriginalSize(copies, false);
    }
  }
  destLocations.assign(plain.getNumOriginalSlots(), {0, 0});
  TTIterator it(plain);
  do {
    if (it.isUsedSlot() || it.nextUsedInTile()) {
      do
        destLocations.at(it.getOriginalFlatIndex()) = {it.getTileFlatIndex(), it.getSlotIndex()};
      while (it.nextUsedInTile());
    }
  } while (it.nextTile());
}

int TTPermutator::cordsToFlat(const std::vector<int>& dimSizes, const std::vector<int>& cords)
{
  int flat = 0;
  int stride = 1;
  for (size_t dim = 0; dim < dimSizes.size(); ++dim) {
    QV_ASSERT(cords.at(dim) >= 0);
    QV_ASSERT(cords.at(dim) < dimSizes.at(dim));
    flat += cords.at(dim) * stride;
    stride *= dimSizes.at(dim);
  }
  return flat;
}

void TTPermutator::addToPlan(const std::vector<int>& cords, int srcTile, int srcSlot)
{
  const std::pair<int, int>& dest = destLocations.at(cordsToFlat(destDimSizes, cords));
  int rotation = srcSlot - dest.second;
  if (rotation < 0)
    rotation += he.slotCount();
  plan[{srcTile, rotation}][dest.first].insert(dest.second);
}

bool TTPermutator::isUnitMask() const
{
  return MathUtils::isEqual(maskValue, 1.0, 1e-10);
}

void TTPermutator::bootstrapSourcesIfNeeded()
{
  if (!he.getAutomaticBootstrapping() ||
      srcTiles.at(0)->getChainIndex() != he.getMinChainIndexForBootstrapping())
    return;
  bool masked = !isUnitMask();
  for (const auto& entry : plan)
    for (const auto& dest : entry.second)
      masked = masked || static_cast<int>(dest.second.size()) < he.slotCount();
  if (!masked)
    return;
  for (std::shared_ptr<CTile>& tile : srcTiles) {
    auto bootstrapped = std::make_shared<CTile>(*tile);
    bootstrapped->bootstrap();
    tile = std::move(bootstrapped);
  }
}

void TTPermutator::initZeroTile()
{
  Encoder(he).encodeEncrypt(zeroTile, std::vector<double>(he.slotCount(), 0.0),
                            srcTiles.at(0)->getChainIndex());
}

// ---- Moving ----

void TTPermutator::applyMask(CTile& res, const std::set<int>& indexes) const
{
  QV_ASSERT(!res.isEmpty());
  QV_ASSERT(indexes.size() > 0);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
  QV_ASSERT(indexes.size() <= res.slotCount());
#pragma GCC diagnostic pop
  if (static_cast<int>(indexes.size()) == res.slotCount() && isUnitMask())
    return;
  std::vector<double> mask(res.slotCount(), 0.0);
  for (int i : indexes)
    mask.at(i) = maskValue;
  PTile plain(he);
  Encoder(he).encode(plain, mask, res.getChainIndex());
  res.multiplyPlain(plain);
}

void TTPermutator::getPermutation(CTileTensor& res) const
{
  SectionTimer timer("TTPermutator::getPermutation");
  if (res.getContextId() != he.getContextId())
    throw std::invalid_argument("TTPermutator: the result tensor belongs to another context "
                                "(context id " +
                                std::to_string(res.getContextId()) + ", expected " +
                                std::to_string(he.getContextId()) + ")");
  CTileTensor out(he, destShape);
  for (size_t i = 0; i < out.tiles.size(); ++i)
    out.tiles[i] = zeroTile;
  out.packed = true;
  std::vector<std::mutex> locks(out.tiles.size());
  for (const auto& entry : plan) {
    CTile rotated(*srcTiles.at(entry.first.first));
    rotated.rotate(entry.first.second);
    for (const auto& dest : entry.second) {
      CTile part(rotated);
      applyMask(part, dest.second);
      std::lock_guard<std::mutex> lock(locks.at(dest.first));
      out.tiles[dest.first].add(part);
    }
  }
  out.alignChainIndexes();
  if (duplicateAfter) {
    for (int d = 0; d < out.shape.getNumDims(); ++d) {
      TTDim& dim = out.shape.getDim(d);
      if (dim.getNumDuplicated() <= 1)
        continue;
      QV_ASSERT(dim.isFullyDuplicated());
      dim.setNumDuplicated(1);
      out.duplicateOverDim(d);
    }
  }
  res = std::move(out);
}

} // namespace quorvane
