#include "math/CTileTensor.h"

#include <stdexcept>
#include <utility>

#include "hebase/HeContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"
#include "math/TensorProjection.h"

namespace quorvane {

CTileTensor::CTileTensor(const HeContext& he) : he(&he) {}

CTileTensor::CTileTensor(const HeContext& he, const TTShape& shape) : he(&he)
{
  checkConstructibleShape(shape);
  this->shape = shape;
  tiles = TileArray<CTile>::build(shape.getExternalSizes(), [&] { return CTile(he); });
}

CTileTensor::CTileTensor(const CTileTensor& src) : TileTensor(src), he(src.he), tiles(src.tiles)
{
}

CTileTensor::CTileTensor(CTileTensor&& src) noexcept
    : TileTensor(std::move(src)), he(src.he), tiles(std::move(src.tiles))
{
  // The source keeps no tiles, so it must not claim to be packed.
  src.packed = false;
  src.tiles.clear();
}

CTileTensor& CTileTensor::operator=(const CTileTensor& src)
{
  if (this == &src)
    return *this;
  TileArray<CTile> copied(src.tiles);
  TTShape copiedShape(src.shape);
  he = src.he;
  shape = std::move(copiedShape);
  packed = src.packed;
  tiles.assignValues(std::move(copied));
  return *this;
}

CTileTensor& CTileTensor::operator=(CTileTensor&& src) noexcept
{
  if (this == &src)
    return *this;
  he = src.he;
  shape = std::move(src.shape);
  packed = src.packed;
  tiles = std::move(src.tiles);
  src.packed = false;
  src.tiles.clear();
  return *this;
}

CTileTensor::~CTileTensor() {}

std::shared_ptr<Saveable> CTileTensor::createAndLoad(const HeContext& he,
                                                     const SaveableHeader& header,
                                                     std::istream& in)
{
  auto res = std::make_shared<CTileTensor>(he);
  res->load(in, header);
  return res;
}

int32_t CTileTensor::getContextId() const
{
  return he->getContextId();
}

std::string CTileTensor::getClassName() const
{
  return "CTileTensor";
}

// ---- Tiles ----

std::vector<size_t> CTileTensor::getIndexStrides() const
{
  return tiles.getStrides();
}

const CTile& CTileTensor::getTile(int flatIndex) const
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles[flatIndex];
}

const Tile& CTileTensor::getTileByFlatIndex(int flatIndex) const
{
  return getTile(flatIndex);
}

Tile& CTileTensor::getMutableTile(int flatIndex)
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles[flatIndex];
}

std::shared_ptr<Tile> CTileTensor::getSharedTile(int flatIndex)
{
  checkFlatIndex(flatIndex, tiles.size());
  return tiles.share(flatIndex);
}

size_t CTileTensor::getTileArraySize() const
{
  return tiles.size();
}

int CTileTensor::getChainIndex() const
{
  validatePackedShape();
  checkTileHoldsValues(0);
  return tiles[0].getChainIndex();
}

void CTileTensor::wakeup()
{
  throw std::runtime_error("wakeup not implemented");
}

void CTileTensor::sleep()
{
  throw std::runtime_error("sleep not implemented");
}

double CTileTensor::assertIntegrity(double epsilon) const
{
  if (!packed)
    return 1.0;
  shape.validate();
  TTEncoder encoder(*he, 0);
  encoder.getEncoder().setDecryptAddedNoiseEnabled(false);
  PTileTensor decrypted(*he);
  encoder.decrypt(decrypted, *this);
  return decrypted.assertIntegrity(epsilon);
}

// ---- The element-wise engine ----

void CTileTensor::commit(CTileTensor&& res)
{
  tiles.assignValues(std::move(res.tiles));
  shape = std::move(res.shape);
  packed = res.packed;
}

void CTileTensor::binaryOperation(const TileTensor& other, ActionType actionType,
                                  TileOperation op, const TileFunction& tileFunction)
{
  combineTiles(other, actionType, op, tileFunction, false);
}

void CTileTensor::combineTiles(const TileTensor& other, ActionType actionType, TileOperation op,
                               const TileFunction& tileFunction, bool callerIsOperand)
{
  if (op != nullptr && tileFunction)
    throw std::invalid_argument(
        "Internal error: Both method pointer and function pointer were supplied.");
  if (op == nullptr && !tileFunction)
    throw std::invalid_argument("Internal error: No operator supplied. Either the method pointer "
                                "or function pointer must be supplied.");
  // The tensor the caller called the operation on, and its argument.
  const TileTensor& self = callerIsOperand ? other : *this;
  const TileTensor& arg = callerIsOperand ? *this : other;
  checkOperands(self, arg);
  const TTShape& otherShape = other.getShape();
  if (!shape.isCompatible(otherShape, actionType))
    self.getShape().reportError("Attempting action with an incompatible shape: " +
                                arg.getShape().toString(VERBOSITY_REGULAR));

  TTShape newShape(shape);
  newShape.applyCompatibilityAdjustments(otherShape, actionType);
  const std::vector<int> resultSizes = newShape.getExternalSizes();
  const TensorProjection projection(resultSizes, shape.getExternalSizes(),
                                    otherShape.getExternalSizes());
  const int count = newShape.getNumUsedTiles();

  // Each tile of this tensor with its operand, the operand possibly broadcast
  // (fewer tiles than the result).
  auto operandOf = [&](int i) -> const Tile& {
    int a = 0;
    int b = 0;
    projection.project(i, a, b);
    return other.getTileByFlatIndex(b);
  };
  // A refusal must leave this tensor as it was: the tiles change in place when
  // none can refuse (or on a working copy), else copies are committed together.
  auto noneRefuses = [&] {
    if (op == nullptr)
      return false;
    for (int i = 0; i < count; ++i)
      if (!tiles[i].certainlyAccepts(op, operandOf(i)))
        return false;
    return true;
  };
  const bool sameTiles = resultSizes == shape.getExternalSizes();
  if (sameTiles && (workingCopy || noneRefuses())) {
    for (int i = 0; i < count; ++i) {
      const Tile& operand = operandOf(i);
      if (op != nullptr)
        (tiles[i].*op)(operand);
      else
        tileFunction(tiles[i], operand);
    }
    shape = std::move(newShape);
    return;
  }
  // Every tile is computed into a copy; the tensor changes only when all succeeded.
  std::vector<std::shared_ptr<CTile>> result;
  result.reserve(count);
  for (int i = 0; i < count; ++i) {
    int a = 0;
    int b = 0;
    projection.project(i, a, b);
    auto tile = std::make_shared<CTile>(tiles[a]);
    const Tile& operand = other.getTileByFlatIndex(b);
    if (op != nullptr)
      ((*tile).*op)(operand);
    else
      tileFunction(*tile, operand);
    result.push_back(std::move(tile));
  }
  tiles.assignValues(TileArray<CTile>(resultSizes, std::move(result)));
  shape = std::move(newShape);
}

// ---- Double dispatch ----

CTileTensor CTileTensor::getMultiply(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiply(other); });
}

CTileTensor CTileTensor::getMultiplyRaw(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.multiplyRaw(other); });
}

CTileTensor CTileTensor::getAdd(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.add(other); });
}

CTileTensor CTileTensor::getAddRaw(const CTileTensor& other) const
{
  return workOnCopy([&](CTileTensor& t) { t.addRaw(other); });
}

void CTileTensor::addTo(CTileTensor& target) const
{
  target.applyElementWise(ADD, *this, true);
}

void CTileTensor::addToRaw(CTileTensor& target) const
{
  target.applyElementWise(ADD_RAW, *this, true);
}

void CTileTensor::subFrom(CTileTensor& target) const
{
  target.applyElementWise(SUB, *this, true);
}

void CTileTensor::subFromRaw(CTileTensor& target) const
{
  target.applyElementWise(SUB_RAW, *this, true);
}

void CTileTensor::multiplyTo(CTileTensor& target) const
{
  target.applyElementWise(MULTIPLY, *this, true);
}

void CTileTensor::multiplyToRaw(CTileTensor& target) const
{
  target.applyElementWise(MULTIPLY_RAW, *this, true);
}

// ---- Persistence ----

void CTileTensor::saveImpl(std::ostream& out) const
{
  SectionTimer timer("CTileTensor::save");
  BinIoUtils::writeBool(out, packed);
  if (!packed)
    return;
  shape.save(out);
  for (size_t i = 0; i < tiles.size(); ++i)
    tiles[i].save(out);
}

void CTileTensor::loadImpl(std::istream& in)
{
  SectionTimer timer("CTileTensor::load");
  const bool loadedPacked = BinIoUtils::readBool(in);
  if (!loadedPacked) {
    packed = false;
    shape = TTShape();
    tiles.clear();
    return;
  }
  TTShape loadedShape;
  loadedShape.load(in);
  checkLoadedShape(loadedShape, *he, "CTileTensor");
  const int count = loadedShape.getNumUsedTiles();
  std::vector<std::shared_ptr<CTile>> loadedTiles;
  // Tiles are read one at a time, so a corrupt shape allocates no more than the stream holds.
  for (int i = 0; i < count; ++i) {
    auto tile = std::make_shared<CTile>(*he);
    tile->load(in);
    checkLoadedTile(*tile, i, "CTileTensor");
    loadedTiles.push_back(std::move(tile));
  }
  tiles.assignValues(TileArray<CTile>(loadedShape.getExternalSizes(), std::move(loadedTiles)));
  shape = std::move(loadedShape);
  packed = true;
}

} // namespace quorvane
