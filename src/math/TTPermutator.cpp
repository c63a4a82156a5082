#include "math/TTPermutator.h"

#include <mutex>
#include <stdexcept>
#include <string>

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

constexpr double MASK_EPSILON = 1e-10;

const HeContext& contextOfFirst(const std::vector<std::shared_ptr<CTile>>& srcTiles)
{
  const std::shared_ptr<CTile>& first = srcTiles.at(0);
  QV_ASSERT(first != nullptr);
  return first->getHeContext();
}

} // namespace

TTPermutator::TTPermutator(const std::vector<std::shared_ptr<CTile>>& srcTiles,
                           const Mapping& mapping, const TTShape& destShape, double maskValue)
    : he(contextOfFirst(srcTiles)), srcTiles(srcTiles), destShape(destShape),
      destDimSizes(destShape.getOriginalSizes(true)), maskValue(maskValue), zeroTile(he)
{
  for (const std::shared_ptr<CTile>& tile : srcTiles)
    QV_ASSERT(tile != nullptr);
  validateShapes();
  const Mapping completed = validateDuplications(mapping);
  computeDestLocations();
  for (const auto& entry : completed)
    addToPlan(entry.first, entry.second);
  bootstrapSourcesIfNeeded();
  initZeroTile();
}

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
}

TTPermutator::Mapping TTPermutator::validateDuplications(const Mapping& mapping) const
{
  if (!destShape.hasDuplicatedDims())
    return mapping;
  std::vector<int> duplicatedDims;
  for (int d = 0; d < destShape.getNumDims(); ++d)
    if (destShape.getDim(d).getNumDuplicated() > 1)
      duplicatedDims.push_back(d);

  if (!mappingDefinesDuplicates(mapping)) {
    if (hasPartiallyDuplicatedDims())
      destShape.reportError(
          "The destination shape of TTPermutator has partially duplicated dims. In such case, "
          "the permutation must define mappings that create the duplications");
    // Every duplicate takes the value of coordinate 0.
    Mapping completed = mapping;
    for (int d : duplicatedDims) {
      Mapping spread;
      for (const auto& entry : completed)
        for (int x = 0; x < destDimSizes.at(d); ++x) {
          std::vector<int> cords = entry.first;
          cords.at(d) = x;
          spread[cords] = entry.second;
        }
      completed = std::move(spread);
    }
    return completed;
  }

  // Along every line of a duplicated dimension, either no coordinate is mapped
  // or all are, from one source slot.
  for (int d : duplicatedDims) {
    TensorIterator lines(destShape.getOriginalSizes(false), true);
    do {
      std::vector<int> cords = lines.getIndices();
      const std::pair<int, int>* first = nullptr;
      bool anyMissing = false;
      for (int x = 0; x < destDimSizes.at(d); ++x) {
        cords[d] = x;
        auto it = mapping.find(cords);
        if (it == mapping.end()) {
          anyMissing = true;
          continue;
        }
        if (first != nullptr && it->second != *first)
          destShape.reportError(
              "The destination shape of TTPermutator has a duplicated dimension in which, for "
              "slots that should contain the same value, the permutation defines mappings from "
              "two different slots in the original tensor of the source",
              d);
        first = &it->second;
      }
      if (anyMissing && first != nullptr)
        destShape.reportError(
            "The destination shape of TTPermutator has a duplicated dimension in which, for "
            "slots that should contain the same value, the permutation defines mapping to one "
            "and not to another",
            d);
    } while (lines.next());
  }
  return mapping;
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

void TTPermutator::computeDestLocations()
{
  // Duplicates become values of their own.
  TTShape shape = destShape;
  for (int d = 0; d < shape.getNumDims(); ++d) {
    TTDim& dim = shape.getDim(d);
    const int n = dim.getNumDuplicated();
    if (n > 1) {
      dim.setNumDuplicated(1);
      dim.setOriginalSize(n);
    }
  }
  destLocations.assign(shape.getNumOriginalSlots(), std::make_pair(-1, -1));
  TTIterator it(shape);
  do {
    if (!it.isUsedSlot() && !it.nextUsedInTile())
      continue;
    do {
      destLocations.at(it.getOriginalFlatIndex()) =
          std::make_pair(it.getTileFlatIndex(), it.getSlotIndex());
    } while (it.nextUsedInTile());
  } while (it.nextTile());
}

void TTPermutator::addToPlan(const std::vector<int>& cords, const std::pair<int, int>& source)
{
  const int slots = he.slotCount();
  const int t = source.first;
  const int s = source.second;
  if (t < 0 || t >= static_cast<int>(srcTiles.size()))
    throw std::out_of_range("The permutation maps from source tile " + std::to_string(t) +
                            ", but there are " + std::to_string(srcTiles.size()) +
                            " source tiles");
  if (s < 0 || s >= slots)
    throw std::out_of_range("The permutation maps from slot " + std::to_string(s) +
                            " of a source tile, but tiles have " + std::to_string(slots) +
                            " slots");
  const std::pair<int, int> dest = destLocations.at(cordsToFlat(destDimSizes, cords));
  QV_ASSERT(dest.first >= 0);
  int r = s - dest.second;
  if (r < 0)
    r += slots;
  plan[std::make_pair(t, r)][dest.first].insert(dest.second);
}

void TTPermutator::bootstrapSourcesIfNeeded()
{
  if (!he.getAutomaticBootstrapping() ||
      srcTiles.at(0)->getChainIndex() != he.getMinChainIndexForBootstrapping())
    return;
  bool masked = false;
  for (const auto& entry : plan)
    for (const auto& dest : entry.second)
      masked = masked || isMaskNeeded(dest.second);
  if (!masked)
    return;
  for (std::shared_ptr<CTile>& tile : srcTiles) {
    auto copy = std::make_shared<CTile>(*tile);
    copy->bootstrap();
    tile = copy;
  }
}

void TTPermutator::initZeroTile()
{
  Encoder encoder(he);
  encoder.encodeEncrypt(zeroTile, std::vector<double>(he.slotCount(), 0.0),
                        srcTiles.at(0)->getChainIndex());
}

bool TTPermutator::isMaskNeeded(const std::set<int>& indexes) const
{
  return static_cast<int>(indexes.size()) < he.slotCount() ||
         !MathUtils::isEqual(maskValue, 1.0, MASK_EPSILON);
}

void TTPermutator::getPermutation(CTileTensor& res) const
{
  SectionTimer timer("TTPermutator::getPermutation");
  if (res.getContextId() != he.getContextId())
    throw std::invalid_argument("The result tile tensor belongs to another context (context id " +
                                std::to_string(res.getContextId()) + ", expected " +
                                std::to_string(he.getContextId()) + ")");
  CTileTensor built(he);
  built.shape = destShape;
  built.tiles = TileArray<CTile>::build(destShape.getExternalSizes(), [this] { return zeroTile; });
  built.packed = true;

  std::vector<std::mutex> locks(built.tiles.size());
  for (const auto& entry : plan) {
    CTile rotated(*srcTiles.at(entry.first.first));
    rotated.rotate(entry.first.second);
    for (const auto& dest : entry.second) {
      CTile moved(rotated);
      applyMask(moved, dest.second);
      std::lock_guard<std::mutex> lock(locks.at(dest.first));
      built.tiles[dest.first].add(moved);
    }
  }
  built.alignChainIndexes();
  res = std::move(built);
}

void TTPermutator::applyMask(CTile& res, const std::set<int>& indexes) const
{
  QV_ASSERT(!res.isEmpty());
  QV_ASSERT(indexes.size() > 0);
  QV_ASSERT(indexes.size() <= static_cast<size_t>(res.slotCount()));
  if (!isMaskNeeded(indexes))
    return;
  std::vector<double> mask(res.slotCount(), 0.0);
  for (int i : indexes)
    mask.at(i) = maskValue;
  PTile plain(he);
  Encoder(he).encode(plain, mask, res.getChainIndex());
  res.multiplyPlain(plain);
}

int TTPermutator::cordsToFlat(const std::vector<int>& dimSizes, const std::vector<int>& cords)
{
  QV_ASSERT(cords.size() <= dimSizes.size());
  int res = 0;
  int stride = 1;
  for (size_t dim = 0; dim < dimSizes.size(); ++dim) {
    QV_ASSERT(cords.at(dim) >= 0);
    QV_ASSERT(cords.at(dim) < dimSizes.at(dim));
    res += cords.at(dim) * stride;
    stride *= dimSizes.at(dim);
  }
  return res;
}

} // namespace quorvane
