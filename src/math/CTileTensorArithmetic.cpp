// Element-wise arithmetic, operations on every tile and chain indexes of CTileTensor.

#include <algorithm>
#include <utility>

#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/SectionTimer.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"

namespace quorvane {

namespace {

// A tile's square mixes the two values of a complex-packed slot, as a
// product of two complex-packed tensors would (refused by their shapes).
const char* const SQUARE_COMPLEX_PACKED =
    "Squaring is currently not supported for complex-packed dimensions";

} // namespace

// ---- Element-wise families ----

const CTileTensor::ElementWise CTileTensor::ADD{"CTileTensor::add", ADDITIVE_ACTION_TYPE,
                                                &CTile::addTile};
const CTileTensor::ElementWise CTileTensor::ADD_RAW{"CTileTensor::addRaw", ADDITIVE_ACTION_TYPE,
                                                    &CTile::addTileRaw};
const CTileTensor::ElementWise CTileTensor::SUB{"CTileTensor::sub", ADDITIVE_ACTION_TYPE,
                                                &CTile::subTile};
const CTileTensor::ElementWise CTileTensor::SUB_RAW{"CTileTensor::subRaw", ADDITIVE_ACTION_TYPE,
                                                    &CTile::subTileRaw};
const CTileTensor::ElementWise CTileTensor::MULTIPLY{
    "CTileTensor::multiply", MULTIPLICATIVE_ACTION_TYPE, &CTile::multiplyTile};
const CTileTensor::ElementWise CTileTensor::MULTIPLY_RAW{
    "CTileTensor::multiplyRaw", MULTIPLICATIVE_ACTION_TYPE, &CTile::multiplyTileRaw};
const CTileTensor::ElementWise CTileTensor::ADD_PLAIN{"CTileTensor::addPlain",
                                                      ADDITIVE_ACTION_TYPE, &CTile::addTile};
const CTileTensor::ElementWise CTileTensor::ADD_PLAIN_RAW{
    "CTileTensor::addPlainRaw", ADDITIVE_ACTION_TYPE, &CTile::addTileRaw};
const CTileTensor::ElementWise CTileTensor::SUB_PLAIN{"CTileTensor::subPlain",
                                                      ADDITIVE_ACTION_TYPE, &CTile::subTile};
const CTileTensor::ElementWise CTileTensor::SUB_PLAIN_RAW{
    "CTileTensor::subPlainRaw", ADDITIVE_ACTION_TYPE, &CTile::subTileRaw};
const CTileTensor::ElementWise CTileTensor::MULTIPLY_PLAIN{
    "CTileTensor::multiplyPlain", MULTIPLICATIVE_ACTION_TYPE, &CTile::multiplyTile};
const CTileTensor::ElementWise CTileTensor::MULTIPLY_PLAIN_RAW{
    "CTileTensor::multiplyPlainRaw", MULTIPLICATIVE_ACTION_TYPE, &CTile::multiplyTileRaw};

void CTileTensor::applyElementWise(const ElementWise& operation, const TileTensor& other,
                                   bool callerIsOperand)
{
  SectionTimer timer(operation.section);
  combineTiles(other, operation.actionType, operation.op, TileFunction(), callerIsOperand);
}

void CTileTensor::add(const CTileTensor& other)
{
  applyElementWise(ADD, other, false);
}

void CTileTensor::addRaw(const CTileTensor& other)
{
  applyElementWise(ADD_RAW, other, false);
}

void CTileTensor::sub(const CTileTensor& other)
{
  applyElementWise(SUB, other, false);
}

void CTileTensor::subRaw(const CTileTensor& other)
{
  applyElementWise(SUB_RAW, other, false);
}

void CTileTensor::multiply(const CTileTensor& other)
{
  applyElementWise(MULTIPLY, other, false);
}

void CTileTensor::multiplyRaw(const CTileTensor& other)
{
  applyElementWise(MULTIPLY_RAW, other, false);
}

void CTileTensor::addPlain(const PTileTensor& other)
{
  applyElementWise(ADD_PLAIN, other, false);
}

void CTileTensor::addPlainRaw(const PTileTensor& other)
{
  applyElementWise(ADD_PLAIN_RAW, other, false);
}

void CTileTensor::subPlain(const PTileTensor& other)
{
  applyElementWise(SUB_PLAIN, other, false);
}

void CTileTensor::subPlainRaw(const PTileTensor& other)
{
  applyElementWise(SUB_PLAIN_RAW, other, false);
}

void CTileTensor::multiplyPlain(const PTileTensor& other)
{
  applyElementWise(MULTIPLY_PLAIN, other, false);
}

void CTileTensor::multiplyPlainRaw(const PTileTensor& other)
{
  applyElementWise(MULTIPLY_PLAIN_RAW, other, false);
}

CTileTensor CTileTensor::getSub(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.sub(other); });
}

CTileTensor CTileTensor::getSubRaw(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.subRaw(other); });
}

CTileTensor CTileTensor::getAddPlain(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.addPlain(other); });
}

CTileTensor CTileTensor::getAddPlainRaw(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.addPlainRaw(other); });
}

CTileTensor CTileTensor::getSubPlain(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.subPlain(other); });
}

CTileTensor CTileTensor::getSubPlainRaw(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.subPlainRaw(other); });
}

CTileTensor CTileTensor::getMultiplyPlain(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyPlain(other); });
}

CTileTensor CTileTensor::getMultiplyPlainRaw(const PTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyPlainRaw(other); });
}

// ---- Operations on every tile ----

void CTileTensor::square()
{
  SectionTimer timer("CTileTensor::square");
  validatePacked();
  shape.refuseComplexPacking(SQUARE_COMPLEX_PACKED);
  transformTiles([](CTile& t) { t.square(); });
}

void CTileTensor::squareRaw()
{
  SectionTimer timer("CTileTensor::squareRaw");
  validatePacked();
  shape.refuseComplexPacking(SQUARE_COMPLEX_PACKED);
  transformTiles([](CTile& t) { t.squareRaw(); });
}

void CTileTensor::negate()
{
  SectionTimer timer("CTileTensor::negate");
  transformTiles([](CTile& t) { t.negate(); });
}

void CTileTensor::relinearize()
{
  SectionTimer timer("CTileTensor::relinearize");
  transformTiles([](CTile& t) { t.relinearize(); });
}

void CTileTensor::rescale()
{
  SectionTimer timer("CTileTensor::rescale");
  transformTiles([](CTile& t) { t.rescale(); });
}

void CTileTensor::relinearizeAndRescale()
{
  SectionTimer timer("CTileTensor::relinearizeAndRescale");
  transformTiles([](CTile& t) {
    t.relinearize();
    t.rescale();
  });
}

void CTileTensor::bootstrap()
{
  SectionTimer timer("CTileTensor::bootstrap");
  transformTiles([](CTile& t) { t.bootstrap(); });
}

void CTileTensor::reduceChainIndex()
{
  SectionTimer timer("CTileTensor::reduceChainIndex");
  transformTiles([](CTile& t) { t.reduceChainIndex(); });
}

void CTileTensor::setChainIndex(int chainIndex)
{
  SectionTimer timer("CTileTensor::setChainIndex");
  transformTiles([chainIndex](CTile& t) { t.setChainIndex(chainIndex); });
}

void CTileTensor::setChainIndex(const CTileTensor& other)
{
  setChainIndex(getArgumentChainIndex(other));
}

void CTileTensor::reEncrypt()
{
  SectionTimer timer("CTileTensor::reEncrypt");
  const Encoder encoder(*he);
  // Along a complex-packed dimension the imaginary parts are values too.
  const bool complexPacked = shape.getComplexPackedDim() >= 0;
  transformTiles([&](CTile& t) {
    if (complexPacked)
      encoder.encodeEncrypt(t, encoder.decryptDecodeComplex(t), -1);
    else
      encoder.encodeEncrypt(t, encoder.decryptDecodeDouble(t), -1);
  });
}

void CTileTensor::adjustChainIndex(int chainIndex)
{
  validatePacked();
  CTileTensor res = workOnCopy([chainIndex](CTileTensor& t) {
    if (t.getChainIndex() < chainIndex)
      t.reEncrypt();
    t.setChainIndex(chainIndex);
  });
  tiles.assignValues(std::move(res.tiles));
}

void CTileTensor::alignChainIndexes()
{
  validatePacked();
  int lowest = tiles[0].getChainIndex();
  int highest = lowest;
  for (size_t i = 1; i < tiles.size(); ++i) {
    lowest = std::min(lowest, tiles[i].getChainIndex());
    highest = std::max(highest, tiles[i].getChainIndex());
  }
  if (lowest != highest)
    transformTiles([lowest](CTile& t) { t.setChainIndex(lowest); });
}

CTileTensor CTileTensor::getSquare() const
{
  return workOnCopy([](CTileTensor& t) { t.square(); });
}

CTileTensor CTileTensor::getSquareRaw() const
{
  return workOnCopy([](CTileTensor& t) { t.squareRaw(); });
}

CTileTensor CTileTensor::getRelinearize() const
{
  return workOnCopy([](CTileTensor& t) { t.relinearize(); });
}

CTileTensor CTileTensor::getRescale() const
{
  return workOnCopy([](CTileTensor& t) { t.rescale(); });
}

CTileTensor CTileTensor::getReduceChainIndex() const
{
  return workOnCopy([](CTileTensor& t) { t.reduceChainIndex(); });
}

CTileTensor CTileTensor::getSetChainIndex(int chainIndex) const
{
  return workOnCopy([chainIndex](CTileTensor& t) { t.setChainIndex(chainIndex); });
}

CTileTensor CTileTensor::getSetChainIndex(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.setChainIndex(other); });
}

} // namespace quorvane
