#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "math/TTDiagUtils.h"
#include "math/TTShape.h"

using namespace quorvane;
using qvtest::Bytes;
using qvtest::quietMessageOf;

namespace {

// A shape of the given tile sizes and original sizes.
TTShape shapeOf(const std::vector<int>& tileSizes, const std::vector<int>& originalSizes)
{
  TTShape shape(tileSizes);
  shape.setOriginalSizes(originalSizes);
  return shape;
}

std::string savedShape(const TTShape& shape)
{
  std::ostringstream out;
  const std::streamoff written = shape.save(out);
  EXPECT_EQ(written, static_cast<std::streamoff>(out.str().size()));
  return out.str();
}

// The message of the std::invalid_argument f throws and what it writes to standard error.
std::pair<std::string, std::string> errorAndReport(const std::function<void()>& f)
{
  testing::internal::CaptureStderr();
  std::string message = "<no exception>";
  try {
    f();
  } catch (const std::invalid_argument& e) {
    message = e.what();
  }
  return {message, testing::internal::GetCapturedStderr()};
}

TTShape diagonalShape()
{
  TTShape shape = shapeOf({4, 4}, {8, 8});
  shape.setDiagonalized(true);
  return shape;
}

} // namespace

TEST(TTShape, Notation)
{
  TTShape shape;
  EXPECT_EQ(shape.toString(), "[]");
  shape.addDim(TTDim(4, 2));
  shape.addDim(TTDim(1, 8, 8));
  EXPECT_EQ(shape.toString(), "[4/2, */8]");
  std::ostringstream out;
  shape.debugPrint("Shape", VERBOSITY_LOW, out);
  EXPECT_EQ(out.str(), "Shape [4/2, */8]");
  EXPECT_EQ(diagonalShape().toString(), "[ (d)8/4, 8/4]");
}

TEST(TTShape, FromTileSizes)
{
  TTShape shape({4, 8});
  EXPECT_EQ(shape.toString(), "[-1/4, -1/8]");
  EXPECT_TRUE(shape.isIncomplete());
  EXPECT_TRUE(shape.areAllDimsIncomplete());
  EXPECT_EQ(shape.getNumSlotsInTile(), 32);
  EXPECT_EQ(shape.tileLayoutToString(), "( 4 x 8 )");
  EXPECT_EQ(shape.getNumUsedTiles(), 1) << "two factors of -1";
  EXPECT_EQ(TTShape().tileLayoutToString(), "(  )");
  EXPECT_EQ(TTShape().getNumSlotsInTile(), 1);
  EXPECT_TRUE(TTShape().areAllDimsIncomplete());
  EXPECT_FALSE(TTShape().isIncomplete());
  qvtest::expectThrowWithMessage<std::invalid_argument>([] { TTShape({4, 3}); },
                                                        "Tile size must be a power of 2");
  qvtest::expectAssertion([&] { shape.getNumOriginalSlots(); }, "getNumOriginalSlots",
                          "!isIncomplete()");
}

TEST(TTShape, SizesOfACompleteShape)
{
  TTShape shape = shapeOf({4, 8}, {5, 3});
  EXPECT_EQ(shape.toString(), "[5/4, 3/8]");
  EXPECT_EQ(shape.getExternalSizes(), std::vector<int>({2, 1}));
  EXPECT_EQ(shape.getOriginalSizes(), std::vector<int>({5, 3}));
  EXPECT_EQ(shape.getTileSizes(), std::vector<int>({4, 8}));
  EXPECT_EQ(shape.getNumUsedTiles(), 2);
  EXPECT_EQ(shape.getNumOriginalSlots(), 15);
  EXPECT_FALSE(shape.isIncomplete());
  const std::vector<std::pair<int, int>> offsets = {{-1, 32}, {0, 8}, {1, 1}};
  for (const auto& o : offsets)
    EXPECT_EQ(shape.getRotateOffsetOfDim(o.first), o.second) << o.first;
  for (int i : {2, -2})
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { shape.getRotateOffsetOfDim(i); }),
              "Dimension " + std::to_string(i) + " does not exist for this shape");

  TTShape dup = shape.getWithDuplicatedDims({});
  dup.getDim(1).setOriginalSize(1).duplicate(3);
  EXPECT_EQ(dup.getOriginalSizes(true), std::vector<int>({5, 3}));
  EXPECT_EQ(dup.getOriginalSizes(), std::vector<int>({5, 1}));
  EXPECT_TRUE(dup.hasDuplicatedDims());
  EXPECT_FALSE(shape.hasDuplicatedDims());
}

// Counts of 2^32 and more, which 32-bit products wrapped (to 0 slots, or to
// 131073 tiles instead of 65537^2).
TEST(TTShape, CountsBeyondAnIntAreRefused)
{
  const std::string limit = ", above the limit of 2147483647";
  auto wide = [](std::vector<int> originalSizes, std::vector<int> tileSizes) {
    TTShape shape;
    for (size_t i = 0; i < originalSizes.size(); ++i)
      shape.addDim(TTDim(originalSizes[i], tileSizes[i]));
    return shape;
  };
  TTShape complexPair;
  complexPair.addDim(TTDim(1 << 16, 1 << 15, 1, false, false, true));
  // A view widens a tile without the shape knowing; the diagonal block multiplies the tile sizes.
  TTShape viewedWide({2, 2});
  viewedWide.getDim(0).setTileSize(1 << 30);
  struct Case
  {
    std::string name;
    TTShape shape;
    std::function<void(TTShape&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"tile sizes", TTShape(), [](TTShape& s) { s = TTShape({1 << 16, 1 << 16}); },
       "Dimension 1 brings the number of slots in a tile to 4294967296" + limit},
      {"added dimension", wide({65537}, {1}), [](TTShape& s) { s.addDim(TTDim(65537, 1)); },
       "Dimension 1 brings the number of tiles to 4295098369" + limit},
      {"inserted dimension", wide({65537, 16}, {1, 16}),
       [](TTShape& s) { s.insertDimAt(TTDim(65537, 1), 0); },
       "Dimension 1 brings the number of tiles to 4295098369" + limit},
      {"original sizes", wide({1, 1}, {1, 1}),
       [](TTShape& s) { s.setOriginalSizes({65537, 65537}); },
       "Dimension 1 brings the number of tiles to 4295098369" + limit},
      {"broadcast", wide({65537, 1}, {1, 1}),
       [&](TTShape& s) {
         s.applyCompatibilityAdjustments(wide({1, 65537}, {1, 1}), ADDITIVE_ACTION_TYPE);
       },
       "Dimension 1 brings the number of tiles to 4295098369" + limit},
      {"diagonal blocks", wide({1, 1}, {1, 1 << 16}), [](TTShape& s) { s.setDiagonalized(true); },
       "Dimension 1 brings the number of slots in all tiles to 4294967296" + limit},
      {"diagonal block of widened tiles", viewedWide, [](TTShape& s) { s.setDiagonalized(true); },
       "Dimension 1 brings the number of slots in a tile to 2147483648" + limit},
      {"complex values", complexPair,
       [](TTShape& s) { s.addDim(TTDim(1 << 16, 1 << 15, 1, false, false, true)); },
       "Dimension 1 brings the number of original values to 4294967296" + limit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTShape shape = c.shape;
    const auto [message, report] = errorAndReport([&] { c.change(shape); });
    EXPECT_EQ(message, c.message);
    EXPECT_NE(report.find("In dimension 1: "), std::string::npos) << report;
    EXPECT_EQ(shape.toString(), c.shape.toString()) << "a refused change leaves the shape";
  }

  // Through a view of a dimension: the counts and validate refuse, none wraps.
  TTShape viewed({4, 4});
  viewed.getDim(0).setTileSize(1 << 16);
  viewed.getDim(1).setTileSize(1 << 16);
  const std::string inTile =
      "Dimension 1 brings the number of slots in a tile to 4294967296" + limit;
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { viewed.getNumSlotsInTile(); }), inTile);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { viewed.getRotateOffsetOfDim(-1); }),
            inTile);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { viewed.validate(); }), inTile);
  EXPECT_EQ(viewed.getRotateOffsetOfDim(0), 1 << 16);
  viewed = wide({1, 1}, {1, 1});
  viewed.getDim(0).setOriginalSize(65537);
  viewed.getDim(1).setOriginalSize(65537);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { viewed.getNumUsedTiles(); }),
            "Dimension 1 brings the number of tiles to 4295098369" + limit);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { viewed.getNumOriginalSlots(); }),
            "Dimension 1 brings the number of original values to 4295098369" + limit);
  // An incomplete dimension counts -1 tiles, or the external size it keeps.
  TTShape incomplete({1, 1});
  incomplete.getDim(0).setInterleaved(true).setInterleavedExternalSize(65537);
  EXPECT_EQ(incomplete.getNumUsedTiles(), -65537);
  incomplete.getDim(1).setInterleaved(true).setInterleavedExternalSize(65537);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { incomplete.getNumUsedTiles(); }),
            "Dimension 1 brings the number of tiles to 4295098369" + limit);
  // The largest counts are kept.
  TTShape largest = wide({1 << 15, 65535}, {1 << 15, 1});
  EXPECT_EQ(largest.getNumSlotsInTile(), 1 << 15);
  EXPECT_EQ(largest.getNumUsedTiles(), 65535);
  EXPECT_EQ(largest.getNumOriginalSlots(), (1 << 15) * 65535);
}

// Interleaved dimensions, each within its bound, may not together spread
// their values over more than 4 tiles per value where tiles are made.
TEST(TTShape, InterleavedSpreadOfAShapeToAllocate)
{
  auto raised = [](int originalSize, int externalSize) {
    TTDim dim(originalSize, 1);
    dim.setInterleaved(true).setInterleavedExternalSize(externalSize);
    return dim;
  };
  TTShape shape;
  shape.addDim(raised(3, 12));
  shape.addDim(raised(2, 2));
  shape.addDim(TTDim(5, 4));
  shape.validateForAllocation();
  shape.getDim(1).setInterleavedExternalSize(3);
  const auto [message, report] = errorAndReport([&] { shape.validateForAllocation(); });
  EXPECT_EQ(message, "Dimension 1 brings the interleaved dimensions to 36 tiles for 6 values, "
                     "more than 4 tiles per value");
  EXPECT_NE(report.find("In dimension 1: 2~3"), std::string::npos) << report;
  shape.validate();
  // Incomplete dimensions have no values to count.
  shape.getDim(0).setIncomplete();
  shape.validateForAllocation();
}

TEST(TTShape, DimensionAccessReportsErrors)
{
  TTShape shape = shapeOf({4, 8}, {5, 3});
  for (int i : {2, -1}) {
    const auto res = errorAndReport([&] { shape.getDim(i); });
    const std::string message = "Dimension " + std::to_string(i) + " does not exist for this shape";
    EXPECT_EQ(res.first, message);
    EXPECT_EQ(res.second, "TT shape error:\n" + message + "\nIn this shape: [5/4, 3/8]\n");
  }
  const auto named = errorAndReport([&] { shape.reportError("Bad", 1); });
  EXPECT_EQ(named.first, "Bad");
  EXPECT_EQ(named.second, "TT shape error:\nBad\nIn this shape: [5/4, 3/8]\nIn dimension 1: 3/8\n");
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { shape.isFirstNonDegenerateTileDim(2); }),
            "Dimension 2 does not exist for this shape");
}

TEST(TTShape, FirstNonDegenerateTileDim)
{
  TTShape shape({1, 4, 1, 2});
  const std::vector<bool> expected = {false, true, false, false};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(shape.isFirstNonDegenerateTileDim(i), expected[i]) << i;
}

TEST(TTShape, QueriesOfFlags)
{
  TTShape shape;
  shape.addDim(TTDim(5, 4, 1, true));
  shape.addDim(TTDim(8, 2, 1, false, false, true));
  shape.addDim(TTDim(4, 2, 1, false, false, true));
  EXPECT_TRUE(shape.containsUnknownUnusedSlots());
  EXPECT_EQ(shape.getNumComplexPackedDims(), 2);
  EXPECT_EQ(shape.getComplexPackedDim(), 1);
  shape.clearUnknowns();
  EXPECT_EQ(shape.toString(), "[5/4, 8(c)/2, 4(c)/2]");
  EXPECT_EQ(TTShape({2}).getComplexPackedDim(), -1);

  TTShape unknowns = shapeOf({4, 8, 2}, {5, 8, 1});
  unknowns.setAllUnusedSlotsUnknown();
  EXPECT_EQ(unknowns.toString(), "[5?/4, 8/8, 1?/2]");
}

TEST(TTShape, CompatibilityAndAdjustments)
{
  TTShape dup = shapeOf({4, 8}, {5, 1}).getWithDuplicatedDim(1);
  const TTShape other = shapeOf({4, 8}, {5, 3});
  EXPECT_EQ(dup.toString(), "[5/4, */8]");
  for (ActionType action : {ADDITIVE_ACTION_TYPE, MULTIPLICATIVE_ACTION_TYPE, OTHER_ACTION_TYPE})
    EXPECT_TRUE(dup.isCompatible(other, action));
  TTShape added = dup;
  added.applyCompatibilityAdjustments(other, ADDITIVE_ACTION_TYPE);
  EXPECT_EQ(added.toString(), "[5/4, 3?/8]");
  TTShape multiplied = dup;
  multiplied.applyCompatibilityAdjustments(other, MULTIPLICATIVE_ACTION_TYPE);
  EXPECT_EQ(multiplied.toString(), "[5/4, 3/8]");

  const TTShape four = shapeOf({4, 8}, {5, 4});
  EXPECT_FALSE(other.isCompatible(four, ADDITIVE_ACTION_TYPE));
  EXPECT_FALSE(other.isCompatible(shapeOf({4}, {5}), ADDITIVE_ACTION_TYPE));
  EXPECT_FALSE(diagonalShape().isCompatible(diagonalShape(), ADDITIVE_ACTION_TYPE));

  // Fewer dimensions in the other shape: refused, this shape unchanged.
  TTShape three = shapeOf({4, 8, 1}, {5, 3, 1});
  const TTShape threeBefore = three;
  qvtest::expectThrowWithMessage<std::out_of_range>(
      [&] { three.applyCompatibilityAdjustments(other, ADDITIVE_ACTION_TYPE); },
      "invalid vector subscript");
  EXPECT_EQ(three, threeBefore);
  // A refusal in a later dimension leaves the earlier ones unchanged too.
  TTShape full = shapeOf({4, 8}, {1, 3}).getWithDuplicatedDim(0);
  const TTShape fullBefore = full;
  TTShape oddComplex;
  oddComplex.addDim(TTDim(5, 4));
  oddComplex.addDim(TTDim(1, 8, 2, false, false, true));
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { full.applyCompatibilityAdjustments(oddComplex, MULTIPLICATIVE_ACTION_TYPE); },
      "complex-packing currently supports only even number of values");
  EXPECT_EQ(full, fullBefore);
}

TEST(TTShape, AssertCompatibleReports)
{
  const TTShape a = shapeOf({4, 8}, {5, 3});
  const TTShape b = shapeOf({4, 8}, {5, 4});
  auto res = errorAndReport([&] { a.assertCompatible(b, ADDITIVE_ACTION_TYPE, "While adding"); });
  EXPECT_EQ(res.first, "Dimension 1 mismatches: 3/8 vs. 4/8");
  EXPECT_EQ(res.second, "Mismatching tile tensor shapes: \nFirst: [5/4, 3/8]\nSecond: [5/4, 4/8]\n"
                        "While adding\nDimension 1 mismatches: 3/8 vs. 4/8\n");
  res = errorAndReport([&] { shapeOf({4}, {5}).assertCompatible(a, ADDITIVE_ACTION_TYPE); });
  EXPECT_EQ(res.first, "Mismatching order: 1 vs 2");
  EXPECT_EQ(res.second, "Mismatching tile tensor shapes: \nFirst: [5/4]\nSecond: [5/4, 3/8]\n"
                        "Mismatching order: 1 vs 2\n");
  res = errorAndReport([&] { a.assertCompatible(a, MULTIPLICATIVE_ACTION_TYPE); });
  EXPECT_EQ(res.first, "<no exception>");
  EXPECT_EQ(res.second, "");
}

TEST(TTShape, Diagonalization)
{
  TTShape shape = diagonalShape();
  EXPECT_TRUE(shape.isDiagonalized());
  EXPECT_EQ(shape.getDim(0).getDiagonalizedBlock(), 16);
  EXPECT_EQ(shape.getExternalSizes(), std::vector<int>({4, 2}));
  EXPECT_EQ(shape.getNumUsedTiles(), 8);
  shape.validate();
  shape.setDiagonalized(false);
  EXPECT_EQ(shape.toString(), "[8/4, 8/4]");
  EXPECT_EQ(shape.getDim(0).getDiagonalizedBlock(), -1);
  EXPECT_EQ(shape.getExternalSizes(), std::vector<int>({2, 2}));

  struct Case
  {
    TTShape shape;
    std::string message;
  };
  TTShape interleavedSecond = shapeOf({4, 4}, {8, 8});
  interleavedSecond.getDim(1).setInterleaved(true);
  TTShape duplicatedSecond = shapeOf({4, 4}, {8, 1});
  duplicatedSecond.getDim(1).duplicate(2);
  TTShape complexSecond;
  complexSecond.addDim(TTDim(8, 4));
  complexSecond.addDim(TTDim(8, 4, 1, false, false, true));
  const std::vector<Case> cases = {
      {shapeOf({4}, {8}), "To turn on diagonlization at least two dimensions must be present"},
      {interleavedSecond,
       "Diagonal shapes must not have interleaved flags in their first two dimensions"},
      {complexSecond,
       "Diagonal shapes must not have complex packed dims in their first two dimensions"},
      {duplicatedSecond, "Diagonal shaped must not have duplications in the first two dimensions"},
  };
  for (Case c : cases) {
    const TTShape before = c.shape;
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { c.shape.setDiagonalized(true); }),
              c.message);
    EXPECT_EQ(c.shape, before);
  }
  TTShape interleavedFirst = shapeOf({4, 4}, {8, 8});
  interleavedFirst.getDim(0).setInterleaved(true);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { interleavedFirst.setDiagonalized(true); }),
            "Diagonalized dim can't be interleaved, complex packed, or duplicated");
  EXPECT_FALSE(interleavedFirst.isDiagonalized());
}

TEST(TTShape, SubShapes)
{
  TTShape three = diagonalShape();
  three.addDim(TTDim(3, 2));
  EXPECT_EQ(three.toString(), "[ (d)8/4, 8/4, 3/2]");
  EXPECT_EQ(three.getSubShape(0, 2).toString(), "[ (d)8/4, 8/4]");
  EXPECT_TRUE(three.getSubShape(0, 3).isDiagonalized());
  const TTShape last = three.getSubShape(2, 3);
  EXPECT_EQ(last.toString(), "[3/2]");
  EXPECT_FALSE(last.isDiagonalized());
  const std::vector<std::pair<std::pair<int, int>, std::string>> refused = {
      {{1, 1}, "Can't return an empty sub shape"},
      {{2, 1}, "Can't return an empty sub shape"},
      {{1, 2}, "Cannot return a subshape of a diagonalized shape with just one of the two "
               "diagonalized dimensions. first=1 last=2"},
      {{0, 1}, "Cannot return a subshape of a diagonalized shape with just one of the two "
               "diagonalized dimensions. first=0 last=1"},
      {{2, 4}, "Sub shape [2,4) exceeds the 3 dimensions of this shape"},
      {{-1, 2}, "Sub shape [-1,2) exceeds the 3 dimensions of this shape"},
  };
  for (const auto& r : refused)
    EXPECT_EQ(quietMessageOf<std::invalid_argument>(
                  [&] { three.getSubShape(r.first.first, r.first.second); }),
              r.second);
  EXPECT_EQ(shapeOf({4, 8}, {5, 3}).getSubShape(1, 2).toString(), "[3/8]");
}

TEST(TTShape, AddingAndInsertingDimensions)
{
  TTShape shape = shapeOf({4, 8}, {5, 3});
  shape.addDim(TTDim(2, 1), 0);
  shape.addDim(TTDim(7, 1), 10);
  shape.addDim(TTDim(6, 1), 2);
  EXPECT_EQ(shape.toString(), "[2, 5/4, 6, 3/8, 7]");
  shape.insertDimAt(TTDim(9, 1), 5);
  shape.insertDimAt(TTDim(1, 1), 0);
  EXPECT_EQ(shape.toString(), "[1, 2, 5/4, 6, 3/8, 7, 9]");
  for (int pos : {-1, 8})
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { shape.insertDimAt(TTDim(4, 1), pos); }),
              "Cannot insert a dimension at position " + std::to_string(pos) +
                  " of a shape with 7 dimensions");

  TTShape diag = diagonalShape();
  for (int place : {0, 1})
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { diag.addDim(TTDim(3, 1), place); }),
              "Can't add dimensions in the first or second positions of a diagonalized shape.");
  diag.addDim(TTDim(3, 1));
  diag.addDim(TTDim(2, 1), 2);
  EXPECT_EQ(diag.toString(), "[ (d)8/4, 8/4, 2, 3]");
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { shape.addDim(diag.getDim(0)); }),
            "Can't add a diagonalized dim. To specify diagonalization, first add ordinary dims, "
            "then use TTShape::setDiagonalized().");
}

TEST(TTShape, DuplicatedDims)
{
  const TTShape shape = shapeOf({4, 8}, {5, 1});
  EXPECT_EQ(shape.getWithDuplicatedDims({1}).toString(), "[5/4, */8]");
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { shape.getWithDuplicatedDim(0); },
      "Dimension has size larger than 1 and cannot be duplicated");
  for (int i : {2, -1})
    qvtest::expectThrowWithMessage<std::out_of_range>([&] { shape.getWithDuplicatedDim(i); },
                                                      "invalid vector subscript");
  qvtest::expectThrowWithMessage<std::out_of_range>([&] { shape.getWithDuplicatedDims({1, 5}); },
                                                    "invalid vector subscript");
  EXPECT_EQ(shape.toString(), "[5/4, 1/8]");
  const TTShape diag = diagonalShape().getWithDuplicatedDims({});
  EXPECT_TRUE(diag.isDiagonalized()) << "the flag is kept";
}

TEST(TTShape, SettingOriginalSizes)
{
  TTShape shape({4, 8});
  shape.getDim(0).setInterleaved(true, 4);
  shape.setOriginalSizes({5, 16});
  EXPECT_EQ(shape.toString(), "[5~/4, 16/8]") << "the interleaved external size is the minimum";
  EXPECT_EQ(shape.getExternalSizes(), std::vector<int>({2, 2}));
  qvtest::expectAssertion([&] { shape.setOriginalSizes({5}); }, "setOriginalSizes",
                          "orgSizes.size() == dims.size()");
  const TTShape before = shape;
  qvtest::expectThrowWithMessage<std::invalid_argument>(
      [&] { shape.setOriginalSizes({3, 0}); },
      "Original size must be a positive number (or -1 to mark an incomplete dimension)");
  EXPECT_EQ(shape, before);
}

TEST(TTShape, IncompleteTileSizesAndInterleaved)
{
  TTShape shape = diagonalShape();
  shape.addDim(TTDim(10, 4));
  shape.getDim(2).setInterleaved(true, 4);
  const TTShape res = shape.getIncompleteTileSizesAndInterleaved();
  EXPECT_EQ(res.toString(), "[-1/4, -1/4, -1~4/4]");
  EXPECT_FALSE(res.isDiagonalized());
  EXPECT_TRUE(res.areAllDimsIncomplete());
}

TEST(TTShape, SavedRecords)
{
  TTShape plain = shapeOf({4, 8}, {5, 3});
  const std::string plainBytes = Bytes()
                                     .i32(2)
                                     .b(false)
                                     .i32(5).i32(4).i32(1).b(false).b(false).b(false).b(false)
                                     .i32(3).i32(8).i32(1).b(false).b(false).b(false).b(false)
                                     .data;
  EXPECT_EQ(savedShape(plain), plainBytes);
  EXPECT_EQ(plainBytes.size(), 37u);
  TTShape diag = diagonalShape();
  diag.addDim(TTDim(10, 2));
  diag.getDim(2).setInterleaved(true, 4);
  const std::string diagBytes = Bytes()
                                    .i32(3)
                                    .b(true)
                                    .i32(8).i32(4).i32(1).b(false).b(false).b(false).b(true).i32(16)
                                    .i32(8).i32(4).i32(1).b(false).b(false).b(false).b(false)
                                    .i32(10).i32(2).i32(1).b(false).b(false).b(true).i32(8).b(false)
                                    .data;
  EXPECT_EQ(savedShape(diag), diagBytes);
  for (const TTShape& shape : {plain, diag, TTShape(), TTShape({2, 4})}) {
    TTShape loaded({16});
    std::istringstream in(savedShape(shape));
    EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(savedShape(shape).size()));
    EXPECT_EQ(loaded, shape);
    EXPECT_EQ(loaded.toString(), shape.toString());
  }
}

TEST(TTShape, LoadRefusesCorruptRecords)
{
  auto dim = [](int orig, int tile, bool diagonalized = false, int block = 0) {
    Bytes b;
    b.i32(orig).i32(tile).i32(1).b(false).b(false).b(false).b(diagonalized);
    if (diagonalized)
      b.i32(block);
    return b.data;
  };
  auto shape = [](int count, bool diagonalized, const std::string& dims) {
    return Bytes().i32(count).b(diagonalized).raw(dims).data;
  };
  const std::string prefix = "Invalid saved TTShape: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {shape(100001, false, ""),
       prefix + "number of dimensions is 100001, expected a value in [0, 100000]"},
      {shape(-1, false, ""), prefix + "number of dimensions is -1, expected a value in [0, 100000]"},
      {shape(2, false, dim(5, 4) + dim(3, 0)), "Invalid saved TTDim: Tile size must be a positive number"},
      {shape(3, false, dim(5, 4)),
       "Input stream ended or failed while reading an int32: the data is truncated or corrupt."},
      {shape(2, true, dim(8, 4) + dim(8, 4)),
       prefix + "the diagonalized block of dimension 0 does not match the tile sizes"},
      {shape(2, true, dim(8, 4, true, 32) + dim(8, 4)),
       prefix + "the diagonalized block of dimension 0 does not match the tile sizes"},
      {shape(1, true, dim(8, 4, true, 16)),
       prefix + "To turn on diagonlization at least two dimensions must be present"},
      {shape(2, false, dim(8, 4, true, 16) + dim(8, 4)),
       prefix + "dimension 0 is diagonalized in a shape that is not"},
      {shape(2, true, dim(8, 4, true, 16) + dim(8, 4, true, 16)),
       prefix + "dimension 1 is diagonalized"},
      {shape(2, false, dim(1 << 20, 1 << 15) + dim(1 << 20, 1 << 15)),
       prefix + "Dimension 1 brings the number of slots in all tiles to 1099511627776, above "
                "the limit of 2147483647"},
      {shape(2, false, dim(-1, 1 << 16) + dim(-1, 1 << 16)),
       prefix + "Dimension 1 brings the number of slots in a tile to 4294967296, above the "
                "limit of 2147483647"},
      {shape(3, false, dim(65537, 1) + dim(65537, 1) + dim(16, 16)),
       prefix + "Dimension 1 brings the number of tiles to 4295098369, above the limit of "
                "2147483647"},
      // Tile sizes whose product is 2^31: compared with the block in 64 bits.
      {shape(2, true, dim(8, 2, true, 2) + dim(8, 1 << 30)),
       prefix + "the diagonalized block of dimension 0 does not match the tile sizes"},
      // Two dimensions, the first interleaved over 4 tiles; one bit of its external size flipped.
      {shape(2, false, Bytes().i32(4).i32(4).i32(1).b(false).b(false).b(true).i32(1 + (1 << 20))
                           .b(false).data + dim(4, 4)),
       "Invalid saved TTDim: The interleaved dimension [4~1048577/4] spreads 4 values over "
       "1048577 tiles, more than 4 tiles per value"},
  };
  for (const auto& c : cases) {
    TTShape loaded = shapeOf({4}, {3});
    EXPECT_EQ(qvtest::loadError(loaded, c.first), c.second);
    EXPECT_EQ(loaded.toString(), "[3/4]");
  }

}

TEST(TTDiagUtils, LayoutOfBlocks)
{
  TTShape shape = shapeOf({2, 4}, {16, 8});
  shape.setDiagonalized(true);
  const TTDiagUtils utils(shape);
  EXPECT_EQ(utils.getBlockSize0(), 8);
  EXPECT_EQ(utils.getBlockSize1(), 4);
  EXPECT_EQ(utils.getTilesInBlock(), 4);
  EXPECT_EQ(utils.getTileStart(5, 3), std::make_pair(9, 12));
  EXPECT_EQ(utils.getLogicalIndex(9, 12, 5, 3, 1, 2), std::make_pair(15, 14));
  EXPECT_EQ(utils.getTileStart(0, 0), std::make_pair(0, 0));
  // Slot (k0, k1) of the diagonal-0 tile of block (0, 0) holds row k0*4 + k1, column k1.
  EXPECT_EQ(utils.getLogicalIndex(0, 0, 0, 0, 1, 3), std::make_pair(7, 3));

  std::ostringstream none;
  utils.debugPrint("T", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");
  std::ostringstream out;
  utils.debugPrint("T", VERBOSITY_REGULAR, out);
  EXPECT_EQ(out.str(), "TTDiagUtils T:\nDiagonalized matrix shape: [ (d)16/2, 8/4]\n"
                       "On dims 0,1: tile sizes [2,4],  block size [8,4],  tiles in block: 4\n");

  EXPECT_EQ(quietMessageOf<std::invalid_argument>([] { TTDiagUtils(TTShape({2, 4})); }),
            "Internal error: TTDiagUtils::validate called on shape without diag");
}
