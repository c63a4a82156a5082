#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestUtils.h"
#include "math/TTIterator.h"
#include "math/TTShape.h"

using namespace quorvane;

namespace {

using SlotMap = std::vector<std::vector<int>>;

// Per tile, per slot: the original flat index of the element the slot holds, or -1.
SlotMap slotMap(const TTShape& shape)
{
  TTIterator it(shape);
  SlotMap res;
  for (int tile = 0; tile < shape.getNumUsedTiles(); ++tile) {
    it.setTileFlatIndex(tile);
    EXPECT_EQ(it.getTileFlatIndex(), tile);
    std::vector<int> slots;
    do {
      EXPECT_EQ(it.getSlotIndex(), static_cast<int>(slots.size()));
      slots.push_back(it.isUsedSlot() ? it.getOriginalFlatIndex() : -1);
    } while (it.next());
    EXPECT_EQ(it.getSlotIndex(), 0) << "next() ends at the first slot again";
    res.push_back(slots);
  }
  return res;
}

// The same map built by walking the used slots only and the tiles with nextTile.
SlotMap usedSlotMap(const TTShape& shape)
{
  TTIterator it(shape);
  SlotMap res;
  do {
    std::vector<int> slots(shape.getNumSlotsInTile(), -1);
    bool used = it.isUsedSlot() || it.nextUsedInTile();
    while (used) {
      EXPECT_TRUE(it.isUsedSlot());
      slots[it.getSlotIndex()] = it.getOriginalFlatIndex();
      used = it.nextUsedInTile();
    }
    EXPECT_EQ(it.getSlotIndex(), 0);
    res.push_back(slots);
  } while (it.nextTile());
  EXPECT_EQ(it.getTileFlatIndex(), 0) << "nextTile() ends at tile 0 again";
  return res;
}

TTShape shapeOf(const std::vector<TTDim>& dims, bool diagonalized = false)
{
  TTShape shape;
  for (const TTDim& dim : dims)
    shape.addDim(dim);
  if (diagonalized)
    shape.setDiagonalized(true);
  return shape;
}

TTDim interleaved(int originalSize, int tileSize, int externalSize = -1)
{
  TTDim dim(originalSize, tileSize);
  dim.setInterleaved(true);
  if (externalSize > 0)
    dim.setInterleavedExternalSize(externalSize);
  return dim;
}

} // namespace

TEST(TTIterator, SlotMaps)
{
  struct Case
  {
    TTShape shape;
    SlotMap expected;
  };
  const int u = -1;
  const std::vector<Case> cases = {
      // Contiguous: tile 0 holds 0..3, tile 1 holds 4 in slot 0.
      {shapeOf({TTDim(5, 4)}), {{0, 1, 2, 3}, {4, u, u, u}}},
      // Interleaved over 2 tiles: element i in tile i mod 2, slot i div 2.
      {shapeOf({interleaved(5, 4)}), {{0, 2, 4, u}, {1, 3, u, u}}},
      // Two dimensions, tiles 2 x 2 with dimension 0 fastest; element (i0, i1) at i0 + 3 i1.
      {shapeOf({TTDim(3, 2), TTDim(5, 4)}),
       {{0, 3, 6, 9, 1, 4, 7, 10}, {2, 5, 8, 11, u, u, u, u}, {12, u, u, u, 13, u, u, u},
        {14, u, u, u, u, u, u, u}}},
      // Fully duplicated dimension 0: every copy maps to index 0 along it.
      {shapeOf({TTDim(1, 4, 4), TTDim(3, 2)}),
       {{0, 1, 0, 1, 0, 1, 0, 1}, {2, u, 2, u, 2, u, 2, u}}},
      // Partly duplicated: two copies, the rest unused.
      {shapeOf({TTDim(1, 4, 2), TTDim(2, 2)}), {{0, 1, 0, 1, u, u, u, u}}},
      // Complex packing: slot j holds values 2j and 2j + 1.
      {shapeOf({TTDim(8, 4, 1, false, false, true)}), {{0, 2, 4, 6}}},
      // Complex packing of dimension 1 of a 2 x 4 tensor (element (i0, i1) at i0 + 2 i1).
      {shapeOf({TTDim(2, 2), TTDim(4, 2, 1, false, false, true)}), {{0, 4, 1, 5}}},
      // Diagonal packing of a 4 x 4 matrix with 2 x 2 tiles: element (r, c) at r + 4 c.
      {shapeOf({TTDim(4, 2), TTDim(4, 2)}, true),
       {{0, 5, 2, 7}, {1, 6, 3, 4}, {8, 13, 10, 15}, {9, 14, 11, 12}}},
      // Diagonal packing of a 3 x 4 matrix: row 3 is padding (element (r, c) at r + 3 c).
      {shapeOf({TTDim(3, 2), TTDim(4, 2)}, true),
       {{0, 4, 2, u}, {1, 5, u, 3}, {6, 10, 8, u}, {7, 11, u, 9}}},
      // Interleaved with a raised external size: tile 3 holds nothing, not even in slot 0.
      {shapeOf({interleaved(3, 2, 4)}), {{0, u}, {1, u}, {2, u}, {u, u}}},
      {shapeOf({interleaved(3, 2, 4), TTDim(2, 2)}),
       {{0, 3, u, u}, {1, 4, u, u}, {2, 5, u, u}, {u, u, u, u}}},
      // Tile size 1 along a dimension.
      {shapeOf({TTDim(3, 1), TTDim(2, 2)}), {{0, 3}, {1, 4}, {2, 5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shape.toString());
    EXPECT_EQ(slotMap(c.shape), c.expected);
    EXPECT_EQ(usedSlotMap(c.shape), c.expected);
  }
}

TEST(TTIterator, EveryElementOfALargerShapeOnce)
{
  // A 10 x 12 matrix packed contiguously, interleaved and diagonally; every
  // element lies in exactly one slot.
  const std::vector<TTShape> shapes = {
      shapeOf({TTDim(10, 4), TTDim(12, 8)}),
      shapeOf({interleaved(10, 4), TTDim(12, 8)}),
      shapeOf({TTDim(10, 4), interleaved(12, 8, 3)}),
      shapeOf({TTDim(10, 2), TTDim(12, 4)}, true),
  };
  for (const TTShape& shape : shapes) {
    SCOPED_TRACE(shape.toString());
    std::vector<int> seen(120, 0);
    for (const auto& tile : slotMap(shape))
      for (int flat : tile)
        if (flat >= 0)
          ++seen.at(flat);
    EXPECT_EQ(seen, std::vector<int>(120, 1));
    EXPECT_EQ(usedSlotMap(shape), slotMap(shape));
  }
}

TEST(TTIterator, ComplexPartners)
{
  TTIterator it(shapeOf({TTDim(2, 2), TTDim(4, 2, 1, false, false, true)}));
  std::vector<std::pair<int, int>> pairs;
  do
    pairs.emplace_back(it.getOriginalFlatIndex(), it.getImagFlatIndex());
  while (it.next());
  // The imaginary partner of (i0, 2j) is (i0, 2j + 1), two elements further on.
  EXPECT_EQ(pairs, (std::vector<std::pair<int, int>>{{0, 2}, {4, 6}, {1, 3}, {5, 7}}));

  TTShape oneDim = shapeOf({TTDim(8, 4, 1, false, false, true)});
  TTIterator single(oneDim);
  single.next();
  EXPECT_EQ(single.getOriginalFlatIndex(), 2);
  EXPECT_EQ(single.getImagFlatIndex(), 3);
}

TEST(TTIterator, CountsUnknownInvalidDimensions)
{
  const TTShape shape = shapeOf({TTDim(5, 4, 1, true), TTDim(3, 2)});
  TTIterator it(shape);
  it.setTileFlatIndex(1);
  std::vector<std::pair<int, int>> counts;
  do
    counts.emplace_back(it.getNumInvalid(), it.getNumUnknowns());
  while (it.next());
  // Tile (1, 0): row 4 is used, rows 5 to 7 are unused (unknown); column 1 is used.
  EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{
                        {0, 0}, {0, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}));
  it.setTileFlatIndex(3);
  it.next();
  EXPECT_EQ(it.getNumInvalid(), 1) << "column 3 is unused, row 4 is used";
  EXPECT_EQ(it.getNumUnknowns(), 0);
  it.next();
  EXPECT_EQ(it.getNumInvalid(), 1) << "row 5 is unused (unknown), column 2 is used";
  EXPECT_EQ(it.getNumUnknowns(), 1);
  it.next();
  EXPECT_EQ(it.getNumInvalid(), 2);
  EXPECT_EQ(it.getNumUnknowns(), 1);
  EXPECT_EQ(it.getLogicalCurrent(), std::vector<int>({5, 3}));
}

TEST(TTIterator, IncompleteShapeIsRefused)
{
  const TTShape shape({4, 2});
  qvtest::expectAssertion([&] { TTIterator it(shape); }, "TTIterator", "!shape.isIncomplete()");
}

TEST(TTIterator, Printout)
{
  const TTShape shape = shapeOf({TTDim(3, 2)});
  TTIterator it(shape);
  it.setTileFlatIndex(1);
  it.next();
  std::ostringstream out;
  out << it;
  EXPECT_EQ(out.str(), "Tile tensor iterator: Shape=[3/2]\n"
                       "    Internal: TensorIterator for [2]\n\tCurrent indices: [1]\n\tPos: 1\n"
                       "    External: TensorIterator for [2]\n\tCurrent indices: [1]\n\tPos: 1\n"
                       "    Original: TensorIterator for [3]\n\tCurrent indices: [2]\n\tPos: 2\n"
                       "    logical at tile start:[2]\n"
                       "    logical current: [3]\n"
                       "    logical valid: F\n"
                       "    invalid/unknowns: 1 / 0\n");
}
