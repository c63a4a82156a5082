#include "math/TTEncoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "hebase/HeContext.h"
#include "hebase/SlotComparison.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "math/TTComplexPackUtils.h"
#include "math/TTIterator.h"

namespace quorvane {

TTEncoder::TTEncoder(const HeContext& he, int lazyMode)
    : he(&he), encoder(he), lazyMode(lazyMode)
{
}

void TTEncoder::checkContext(int32_t contextId) const
{
  if (contextId != he->getContextId())
    throw std::invalid_argument("The tile tensor belongs to another context (context id " +
                                std::to_string(contextId) + ", expected " +
                                std::to_string(he->getContextId()) + ")");
}

void TTEncoder::encode(PTileTensor& res, const TTShape& shape, const DoubleTensor& vals,
                       int chainIndex) const
{
  SectionTimer timer("TTEncoder::encode");
  checkContext(res.getContextId());
  TTShape s(shape);
  if (s.getNumDims() == 0)
    throw std::invalid_argument("Tile Tensor shape must be populated with at least one dimension");
  if (s.getNumSlotsInTile() != he->slotCount())
    throw std::invalid_argument("Tile Tensor shape defines tiles with incompatible number of slots (" +
                                std::to_string(s.getNumSlotsInTile()) + " slots, while " +
                                std::to_string(he->slotCount()) + " were expected)");
  if (s.containsUnknownUnusedSlots())
    throw std::invalid_argument("Tile Tensor shape defines unknown unused slots");
  if (vals.getOrder() != s.getNumDims())
    throw std::invalid_argument("Values are of mismatched shape: received " +
                                std::to_string(vals.getOrder()) + " dimensions, expecting " +
                                std::to_string(s.getNumDims()) + " dimensions");
  const int complexDims = s.getNumComplexPackedDims();
  if (complexDims > 0 && !he->getTraits().getSupportsComplexNumbers())
    s.reportError("Cannot perform complex packing: complex numbers not supported by HE context");
  if (complexDims > 1)
    s.reportError("Cannot encode with more than one complex packed dim");
  for (int i = 0; i < s.getNumDims(); ++i) {
    TTDim& dim = s.getDim(i);
    const int size = vals.getDimSize(i);
    if (dim.isIncomplete())
      dim.setOriginalSize(size);
    else if (dim.getOriginalSize() != size)
      s.reportError("Values are of mismatched shape: dimension " + std::to_string(i) +
                        " has size " + std::to_string(size) +
                        ", mismatching tile tensor shape dimension",
                    i);
  }
  // Refused before any tile is made.
  s.validateForAllocation();
  const int resolvedChainIndex = encoder.resolveChainIndex(chainIndex);

  PTileTensor encoded(*he);
  encoded.setLazyChainIndex(resolvedChainIndex);
  encoded.lazyMode = lazyMode;
  if (lazyMode == LAZY_ENCODING) {
    encoded.rawData = std::make_unique<DoubleTensor>(vals);
  } else {
    const bool gather = !he->getTraits().getIsDebugEmpty();
    const int count = s.getNumUsedTiles();
    std::vector<std::shared_ptr<PTile>> tiles;
    if (s.getNumComplexPackedDims() > 0) {
      tiles = TTComplexPackUtils::encode(s, vals, encoder, resolvedChainIndex, gather);
    } else {
      tiles.reserve(count);
      const double* values = vals.data();
      TTIterator it(s);
      for (int t = 0; t < count; ++t) {
        std::vector<double> slots;
        if (gather) {
          slots.assign(s.getNumSlotsInTile(), 0);
          it.setTileFlatIndex(t);
          do {
            if (it.isUsedSlot())
              slots[it.getSlotIndex()] = values[it.getOriginalFlatIndex()];
          } while (it.next());
        }
        auto tile = std::make_shared<PTile>(*he);
        encoder.encode(*tile, slots, resolvedChainIndex);
        tiles.push_back(std::move(tile));
      }
    }
    encoded.tiles = TileArray<PTile>(s.getExternalSizes(), std::move(tiles));
    encoded.packed = true;
  }
  encoded.shape = std::move(s);
  res = std::move(encoded);
}

namespace {

// Tiles of kind Out made from src's tiles by convert, in the same array. Each
// tile is checked as it is read, so that the tiles are walked once.
template <typename Out, typename In, typename Convert>
TileArray<Out> convertTiles(const HeContext& he, const TileArray<In>& src, Convert convert)
{
  std::vector<std::shared_ptr<Out>> tiles;
  tiles.reserve(src.size());
  for (size_t i = 0; i < src.size(); ++i) {
    if (src[i].isEmpty())
      TileTensor::throwEmptyTile(static_cast<int>(i), TileTensor::THIS_TENSOR);
    auto tile = std::make_shared<Out>(he);
    convert(*tile, src[i]);
    tiles.push_back(std::move(tile));
  }
  return TileArray<Out>(src.getExtents(), std::move(tiles));
}

} // namespace

void TTEncoder::encrypt(CTileTensor& res, const PTileTensor& src) const
{
  SectionTimer timer("TTEncoder::encrypt");
  src.validatePackedShape();
  checkContext(src.getContextId());
  checkContext(res.getContextId());
  res.tiles.assignValues(convertTiles<CTile>(
      *he, src.tiles, [&](CTile& out, const PTile& in) { encoder.encrypt(out, in); }));
  res.shape = src.shape;
  res.packed = true;
}

void TTEncoder::decrypt(PTileTensor& res, const CTileTensor& src) const
{
  SectionTimer timer("TTEncoder::decrypt");
  src.validatePackedShape();
  checkContext(src.getContextId());
  checkContext(res.getContextId());
  res.tiles.assignValues(convertTiles<PTile>(
      *he, src.tiles, [&](PTile& out, const CTile& in) { encoder.decrypt(out, in); }));
  res.shape = src.shape;
  res.packed = true;
  // A lazy tensor would otherwise go on decoding its raw values.
  res.endLazyMode();
}

DoubleTensor TTEncoder::decodeDouble(const PTileTensor& src) const
{
  SectionTimer timer("TTEncoder::decodeDouble");
  if (src.lazyMode == LAZY_ENCODING)
    return *src.rawData;
  if (!src.packed)
    throw std::runtime_error("Tile Tensor has not been encoded yet");
  src.validatePacked();
  const TTShape& shape = src.shape;
  DoubleTensor res(shape.getOriginalSizes());
  if (he->getTraits().getIsDebugEmpty())
    return res;
  if (shape.getNumComplexPackedDims() > 0) {
    TTComplexPackUtils::decode(res, src, encoder);
    return res;
  }
  double* values = res.data();
  TTIterator it(shape);
  for (int t = 0; t < static_cast<int>(src.tiles.size()); ++t) {
    const std::vector<double> slots = encoder.decodeDouble(src.tiles[t]);
    it.setTileFlatIndex(t);
    for (bool used = it.isUsedSlot() || it.nextUsedInTile(); used; used = it.nextUsedInTile())
      values[it.getOriginalFlatIndex()] = slots[it.getSlotIndex()];
  }
  return res;
}

void TTEncoder::encodeEncrypt(CTileTensor& res, const TTShape& shape, const DoubleTensor& vals,
                              int chainIndex) const
{
  PTileTensor encoded(*he);
  encode(encoded, shape, vals, chainIndex);
  encrypt(res, encoded);
}

DoubleTensor TTEncoder::decryptDecodeDouble(const CTileTensor& src) const
{
  PTileTensor decrypted(*he);
  decrypt(decrypted, src);
  return decodeDouble(decrypted);
}

void TTEncoder::encodeEncryptGenericPacking(CTileTensor& res, const DoubleTensor& vals,
                                            const GenericPackingConfig& config) const
{
  const TTShape shape = GenericPackingUtils::getShape(vals.getShape(), config, he->slotCount());
  encodeEncrypt(res, shape, vals, GenericPackingUtils::getChainIndex(*he));
}

double TTEncoder::assertEquals(const CTileTensor& c, const std::string& title,
                               const DoubleTensor& expected, double eps, bool percent) const
{
  const DoubleTensor actual = decryptDecodeDouble(c);
  if (actual.size() < expected.size())
    throw std::runtime_error("Size of expected values vector is bigger than size of cipher");
  expected.assertShapeEquals(actual, title);
  double largest = 0;
  for (int i = 0; i < expected.size(); ++i) {
    const SlotComparison slot(actual.at(i), expected.at(i));
    // NaN never compares above eps: a NaN value fails, and so does the
    // relative diff inf / inf of an infinite decrypted value.
    const double measured = percent ? slot.getRelativeDiff() : slot.getDiff();
    if (std::isnan(measured) || measured > eps)
      slot.fail(title, i, eps, percent);
    largest = std::max(largest, slot.getDiff());
  }
  return largest;
}

} // namespace quorvane
