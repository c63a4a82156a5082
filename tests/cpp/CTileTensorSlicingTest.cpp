// Slicing, flattening and duplication of CTileTensor, compared with the clear values.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"

using namespace quorvane;
using qvtest::decrypted;
using qvtest::encrypted;
using qvtest::interleavedDim;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::randomTensor;
using qvtest::shapeOf;
using qvtest::tensorOf;
using qvtest::valueAt;

namespace {

// The values start to start + depth - 1 along dim.
DoubleTensor sliceRef(const DoubleTensor& in, int dim, int start, int depth)
{
  std::vector<int> dims = in.getShape();
  dims[dim] = depth;
  return tensorOf(dims, [&](std::vector<int> idx) {
    idx[dim] += start;
    return valueAt(in, idx);
  });
}

// A fully duplicated dimension of the tile size, interleaved when asked.
TTDim duplicated(int tileSize, bool interleaved = false)
{
  TTDim d(1, tileSize, tileSize);
  if (interleaved)
    d.setInterleaved(true);
  return d;
}

} // namespace

class CTileTensorSlicingTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 6);
};

TEST_F(CTileTensorSlicingTest, SlicesMatchClearSlices)
{
  struct SliceCase
  {
    TTShape shape;
    int dim;
    int start;
    int depth;
    bool unknownBefore;
    std::string shapeAfter;
    std::vector<int> sourceTiles;
  };
  const std::vector<SliceCase> cases = {
      {shapeOf({TTDim(6, 1), TTDim(16, 16)}), 0, 2, 3, false, "[3, 16/16]", {2, 3, 4}},
      {shapeOf({TTDim(16, 16), TTDim(5, 1)}), -1, 1, 3, false, "[16/16, 3]", {1, 2, 3}},
      {shapeOf({TTDim(10, 4), TTDim(4, 4)}), 0, 4, 6, false, "[6/4, 4/4]", {1, 2}},
      {shapeOf({TTDim(10, 4), TTDim(4, 4)}), 0, 4, 6, true, "[6?/4, 4/4]", {1, 2}},
      {shapeOf({TTDim(10, 4), TTDim(4, 4)}), 0, 4, 3, false, "[3?/4, 4/4]", {1}},
      {shapeOf({TTDim(10, 4), TTDim(4, 4)}), 0, 4, 4, true, "[4/4, 4/4]", {1}},
      {shapeOf({interleavedDim(8, 2), TTDim(2, 8)}), 0, 0, 3, false, "[3?~3/2, 2/8]", {0, 1, 2}},
      {shapeOf({interleavedDim(8, 2), TTDim(2, 8)}), 0, 0, 8, false, "[8~/2, 2/8]", {0, 1, 2, 3}},
      {shapeOf({interleavedDim(3, 4, 4), TTDim(4, 4)}), 0, 0, 2, false, "[2~2/4, 4/4]", {0, 1}},
  };
  for (const SliceCase& k : cases) {
    const std::string name = k.shape.toString() + " dim " + std::to_string(k.dim) + " from " +
                             std::to_string(k.start) + " by " + std::to_string(k.depth);
    DoubleTensor values = randomTensor(k.shape.getOriginalSizes(), 21);
    CTileTensor src = encrypted(*he, k.shape, values);
    if (k.unknownBefore) {
      src.addScalar(0.5);
      values.addScalar(0.5);
    }
    const CTileTensor slice = src.getSlice(k.dim, k.start, k.depth);
    EXPECT_EQ(slice.getShape().toString(), k.shapeAfter) << name;
    const int dim = k.dim < 0 ? k.dim + k.shape.getNumDims() : k.dim;
    const DoubleTensor expected = sliceRef(values, dim, k.start, k.depth);
    EXPECT_LT(maxDiff(decrypted(slice), expected), 1e-9) << name;
    EXPECT_NO_THROW(qvtest::CoutCapture c; slice.assertIntegrity(1e-9)) << name;
    // Whole tiles are copied, not shared.
    ASSERT_EQ(slice.getNumUsedTiles(), static_cast<int>(k.sourceTiles.size())) << name;
    for (size_t i = 0; i < k.sourceTiles.size(); ++i)
      EXPECT_EQ(qvtest::decrypted(slice.getTile(static_cast<int>(i))),
                qvtest::decrypted(src.getTile(k.sourceTiles[i])))
          << name;
    EXPECT_NE(&slice.getTile(0), &src.getTile(k.sourceTiles[0]));
    CTileTensor summed(slice);
    summed.clearUnknowns();
    summed.sumOverDim(dim);
    EXPECT_LT(maxDiff(decrypted(summed), qvtest::sumOverAxis(expected, dim)), 1e-9) << name;
  }
}

TEST_F(CTileTensorSlicingTest, SliceThenSumStaysRight)
{
  // The unknown flag of a slice that cuts a tile keeps a later sum from
  // reading the values left beyond the slice.
  const DoubleTensor values = randomTensor({10, 4}, 22);
  const CTileTensor src = encrypted(*he, shapeOf({TTDim(10, 4), TTDim(4, 4)}), values);
  CTileTensor slice = src.getSlice(0, 4, 3);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { slice.sumOverDim(0); }),
            "Sum operator not allowed with unknown values");
  slice.clearUnknowns();
  slice.sumOverDim(0);
  const DoubleTensor expected = tensorOf({1, 4}, [&](const std::vector<int>& i) {
    return valueAt(values, {4, i[1]}) + valueAt(values, {5, i[1]}) + valueAt(values, {6, i[1]});
  });
  EXPECT_LT(maxDiff(decrypted(slice), expected), 1e-9);
}

TEST_F(CTileTensorSlicingTest, RefusedSlices)
{
  const TTShape plain = shapeOf({TTDim(10, 4), TTDim(4, 4)});
  const TTShape interleaved = shapeOf({interleavedDim(8, 2), TTDim(2, 8)});
  const TTShape diagonal = shapeOf({TTDim(4, 2), TTDim(4, 2), TTDim(1, 4)}, true);
  const TTShape complexPacked = shapeOf({TTDim(8, 4, 1, false, false, true), TTDim(4, 4)});
  struct Refusal
  {
    TTShape shape;
    int dim;
    int start;
    int depth;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {plain, 2, 0, 1, "Invalid dim"},
      {plain, -3, 0, 1, "Invalid dim"},
      {complexPacked, 0, 0, 4, "Slicing currently not supported for complex packed dims"},
      {diagonal, -2, 0, 1,
       "Currently slicing for the first or second dimensions of a diagonal shape is not "
       "supported"},
      {plain, 0, -1, 1, "getSlice: Invalid startIndex -1"},
      {plain, 0, 10, 1, "getSlice: Invalid startIndex 10"},
      {plain, 0, 4, 7, "getSlice: Invalid sliceDepth 7 when startIndex is 4"},
      {plain, 0, 0, 0, "getSlice: Invalid sliceDepth 0 when startIndex is 0"},
      {plain, 0, 0, -1, "getSlice: Invalid sliceDepth -1 when startIndex is 0"},
      {plain, 0, 2, 1, "getSlice: startIndex 2 must be a multiple of the current dimension's tile size"},
      {interleaved, 0, 1, 2,
       "getSlice: startIndex 1 must be 0 for an interleaved dimension. Consider first calling "
       "shiftAlongDim to move the first index to be at position 0."},
  };
  for (const Refusal& k : cases) {
    const CTileTensor t = encrypted(*he, k.shape, randomTensor(k.shape.getOriginalSizes(), 23));
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { t.getSlice(k.dim, k.start, k.depth); }),
              k.message);
  }
  // An unpacked tensor has no tiles to copy.
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { CTileTensor(*he, plain).getSlice(0, 0, 4); }, "This tile tensor has not been packed");
}

TEST_F(CTileTensorSlicingTest, FlattenMergesFullyDuplicatedDimensions)
{
  struct FlattenCase
  {
    TTShape shape;
    int start;
    int end;
    std::string shapeAfter;
  };
  const std::vector<FlattenCase> cases = {
      {shapeOf({TTDim(2, 2), duplicated(4), duplicated(2)}), 1, 3, "[2/2, */8]"},
      {shapeOf({TTDim(2, 2), duplicated(4, true), duplicated(2, true)}), 1, 3, "[2/2, *~/8]"},
      {shapeOf({TTDim(2, 2), duplicated(4, true), duplicated(2)}), 1, 3, "[2/2, */8]"},
      {shapeOf({duplicated(2), duplicated(2), TTDim(5, 4)}), 0, 2, "[*/4, 5/4]"},
      {shapeOf({TTDim(2, 2), duplicated(4), duplicated(2)}), 0, 1, "[2/2, */4, */2]"},
      {shapeOf({TTDim(4, 2), TTDim(4, 2), duplicated(2), duplicated(2)}, true), 2, 4,
       "[ (d)4/2, 4/2, */4]"},
  };
  for (const FlattenCase& k : cases) {
    const DoubleTensor values = randomTensor(k.shape.getOriginalSizes(), 24);
    CTileTensor t = encrypted(*he, k.shape, values);
    std::vector<std::vector<double>> before;
    for (int i = 0; i < t.getNumUsedTiles(); ++i)
      before.push_back(qvtest::decrypted(t.getTile(i)));
    const CTileTensor copy = t.getFlatten(k.start, k.end);
    qvtest::startCounting(*he);
    t.flatten(k.start, k.end);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 0);
    EXPECT_EQ(t.getShape().toString(), k.shapeAfter);
    EXPECT_EQ(copy.getShape(), t.getShape());
    ASSERT_EQ(t.getNumUsedTiles(), static_cast<int>(before.size()));
    for (int i = 0; i < t.getNumUsedTiles(); ++i)
      EXPECT_EQ(qvtest::decrypted(t.getTile(i)), before[i]) << k.shapeAfter;
    DoubleTensor expected(values);
    expected.reshape(t.getShape().getOriginalSizes(), false);
    EXPECT_EQ(maxDiff(decrypted(t), expected), 0) << k.shapeAfter;
    EXPECT_NO_THROW(qvtest::CoutCapture c; t.assertIntegrity(0)) << k.shapeAfter;
  }
}

TEST_F(CTileTensorSlicingTest, RefusedFlattens)
{
  const TTShape plain = shapeOf({TTDim(2, 2), duplicated(4), TTDim(2, 2)});
  const TTShape diagonal = shapeOf({TTDim(4, 2), TTDim(4, 2), duplicated(2), duplicated(2)}, true);
  const TTShape complexPacked =
      shapeOf({TTDim(2, 2), TTDim(1, 4, 8, false, false, true), duplicated(2)});
  struct Refusal
  {
    TTShape shape;
    int start;
    int end;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {plain, 1, 3, "Flatten operator not allowed for a dimension that is not fully duplicated"},
      {plain, 1, 4, "Flatten operator not allowed for a dimension that is not fully duplicated"},
      {plain, 0, 2, "Flatten operator not allowed for a dimension that is not fully duplicated"},
      {diagonal, 1, 3,
       "Currently flatting involving first or second dimensions of a diagonal shape is not "
       "supported"},
      {complexPacked, 1, 3,
       "Flatten operator is currently not supported for complex-packed dimensions"},
      {shapeOf({TTDim(2, 2), duplicated(4), duplicated(2)}), 2, 4,
       "Dimension 3 does not exist for this shape"},
  };
  for (const Refusal& k : cases) {
    CTileTensor t = encrypted(*he, k.shape, randomTensor(k.shape.getOriginalSizes(), 25));
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { t.flatten(k.start, k.end); }),
              k.message);
    EXPECT_EQ(t.getShape(), k.shape);
  }
  CTileTensor t = encrypted(*he, plain, randomTensor({2, 1, 2}, 26));
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { t.flatten(2, 2); },
                                                     "In flatten, startDim must be < endDim");
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { CTileTensor(*he, plain).flatten(2, 2); }, "This tile tensor has not been packed");
}

TEST_F(CTileTensorSlicingTest, DuplicateOverDim)
{
  struct DupCase
  {
    TTShape shape;
    int dim;
    std::string shapeAfter;
    int rotations;
  };
  const std::vector<DupCase> cases = {
      {shapeOf({TTDim(3, 2), TTDim(1, 8)}), 1, "[3/2, */8]", 3},
      {shapeOf({TTDim(1, 4), TTDim(3, 4)}), 0, "[*/4, 3/4]", 2},
      {shapeOf({TTDim(2, 2), TTDim(1, 4), TTDim(2, 2)}), 1, "[2/2, */4, 2/2]", 2},
      {shapeOf({TTDim(3, 2), TTDim(1, 8, 8)}), 1, "[3/2, */8]", 0},
      {shapeOf({TTDim(1, 1), TTDim(16, 16)}), 0, "[1, 16/16]", 0},
  };
  for (const DupCase& k : cases) {
    const DoubleTensor values = randomTensor(k.shape.getOriginalSizes(), 27);
    CTileTensor t = encrypted(*he, k.shape, values);
    const CTileTensor copy = t.getDuplicateOverDim(k.dim);
    EXPECT_EQ(t.getShape(), k.shape) << "the returning twin leaves the source";
    qvtest::startCounting(*he);
    t.duplicateOverDim(k.dim);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), k.rotations * t.getNumUsedTiles());
    EXPECT_EQ(t.getShape().toString(), k.shapeAfter);
    EXPECT_EQ(copy.getShape(), t.getShape());
    EXPECT_LT(maxDiff(decrypted(t), values), 1e-9);
    // The integrity check compares every duplicate with the element.
    EXPECT_NO_THROW(qvtest::CoutCapture c; t.assertIntegrity(1e-9)) << k.shapeAfter;
    EXPECT_NO_THROW(qvtest::CoutCapture c; copy.assertIntegrity(1e-9)) << k.shapeAfter;
  }
}

TEST_F(CTileTensorSlicingTest, RefusedDuplications)
{
  const TTShape diagonal = shapeOf({TTDim(1, 2), TTDim(4, 2), TTDim(1, 4)}, true);
  struct Refusal
  {
    TTShape shape;
    int dim;
    bool unknown;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {shapeOf({TTDim(3, 2), TTDim(1, 8)}), 2, false,
       "Dimension 2 does not exist in this tile tensor"},
      {shapeOf({TTDim(3, 2), TTDim(1, 8)}), -1, false, "Dimension -1 does not exist for this shape"},
      {shapeOf({TTDim(3, 2), TTDim(1, 8)}), 1, true, "Duplicate operator not allowed with unknown values"},
      {shapeOf({TTDim(3, 2), TTDim(1, 8)}), 0, false,
       "Duplicate operator not allowed with original size larger than one"},
      {shapeOf({TTDim(3, 2), TTDim(1, 8, 2)}), 1, false,
       "Duplicate operator not allowed with partially duplicated values"},
      {diagonal, 0, false,
       "Currently duplicate the first or second dimensions of a diagonal shape is not supported"},
  };
  for (const Refusal& k : cases) {
    CTileTensor t = encrypted(*he, k.shape, randomTensor(k.shape.getOriginalSizes(), 28));
    if (k.unknown)
      t.addScalar(1.0);
    const TTShape before = t.getShape();
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { t.duplicateOverDim(k.dim); }),
              k.message);
    EXPECT_EQ(t.getShape(), before);
  }
}

TEST_F(CTileTensorSlicingTest, DuplicateAndMaskTile)
{
  const TTShape shape = shapeOf({TTDim(3, 2), TTDim(5, 8)});
  const CTileTensor t = encrypted(*he, shape, randomTensor({3, 5}, 29));
  const CTile tile = qvtest::encrypted(*he, std::vector<double>(16, 2.5));
  const CTileTensor res = t.duplicateAndMaskTile(tile);
  EXPECT_EQ(res.getShape(), shape);
  EXPECT_EQ(res.getNumUsedTiles(), 2);
  EXPECT_LT(maxDiff(decrypted(res), tensorOf({3, 5}, [](const std::vector<int>&) { return 2.5; })),
            1e-12);
  // The unused slots are zero, as the shape says.
  EXPECT_NO_THROW(qvtest::CoutCapture c; res.assertIntegrity(1e-12));

  auto other = qvtest::createMockup(16, 6);
  const CTile foreign = qvtest::encrypted(*other, std::vector<double>(16, 1.0));
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { t.duplicateAndMaskTile(foreign); }),
            "The tile belongs to another context (context id " +
                std::to_string(other->getContextId()) + ", expected " +
                std::to_string(he->getContextId()) + ")");
}

TEST_F(CTileTensorSlicingTest, PrintedShapesAfterLayoutChanges)
{
  CTileTensor t = encrypted(*he, shapeOf({TTDim(5, 8), TTDim(2, 2)}), randomTensor({5, 2}, 30), 4);
  t.shiftAlongDim(0, 2);
  EXPECT_EQ(t.toString(VERBOSITY_LOW), "CTileTensor [3?/8, 2/2] CI=4 tiles=1 memory=-0.000 GB\n");
  t.clearUnknowns();
  t.sumOverDim(0);
  EXPECT_EQ(t.toString(VERBOSITY_LOW), "CTileTensor [*/8, 2/2] CI=3 tiles=1 memory=-0.000 GB\n");
  const std::string regular = t.toString(VERBOSITY_REGULAR);
  EXPECT_EQ(regular.rfind("CTileTensor [*/8, 2/2] CI=3 tiles=1 memory=-0.000 GB\n\nTile tensor "
                          "logical content:\n",
                          0),
            0u)
      << regular;
}
