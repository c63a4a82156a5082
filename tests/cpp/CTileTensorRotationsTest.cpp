// Rotations, shifts, sums and multiply-and-sum products of CTileTensor,
// compared with the same operations on the clear values.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"

using namespace quorvane;
using qvtest::decrypted;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::interleavedDim;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::randomTensor;
using qvtest::shapeOf;
using qvtest::sumOverAxis;
using qvtest::tensorOf;
using qvtest::valueAt;

namespace {

// The values rotated (shift false) or shifted along dim: the value at i + n moves to i.
DoubleTensor movedRef(const DoubleTensor& in, int dim, int n, bool shift)
{
  std::vector<int> dims = in.getShape();
  const int size = dims[dim];
  if (shift)
    dims[dim] -= n;
  return tensorOf(dims, [&](std::vector<int> idx) {
    idx[dim] = shift ? idx[dim] + n : ((idx[dim] + n) % size + size) % size;
    return valueAt(in, idx);
  });
}

// The tensor's sizes along each dimension.
std::vector<int> sizesOf(const TTShape& shape)
{
  return shape.getOriginalSizes();
}

struct MoveCase
{
  std::string name;
  TTShape shape;
  int dim;
  int n;
  std::string shapeAfter;
};

} // namespace

class CTileTensorRotationsTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 8);

  // Checks t against the expected values and the integrity of its unused
  // slots, then that a sum over dim after clearing unknowns is right.
  void expectContentAndLaterSum(CTileTensor t, const DoubleTensor& expected, int dim,
                                const std::string& name)
  {
    EXPECT_LT(maxDiff(decrypted(t), expected), 1e-9) << name;
    EXPECT_NO_THROW(qvtest::CoutCapture c; t.assertIntegrity(1e-9)) << name;
    t.clearUnknowns();
    t.sumOverDim(dim);
    EXPECT_LT(maxDiff(decrypted(t), sumOverAxis(expected, dim)), 1e-9) << name << " then sum";
  }
};

TEST_F(CTileTensorRotationsTest, RotationsMatchCyclicRoll)
{
  const std::vector<MoveCase> cases = {
      {"one tile", shapeOf({TTDim(4, 4), TTDim(4, 4)}), 0, 1, "[4/4, 4/4]"},
      {"negative", shapeOf({TTDim(4, 4), TTDim(4, 4)}), 0, -3, "[4/4, 4/4]"},
      {"beyond the size", shapeOf({TTDim(4, 4), TTDim(4, 4)}), 0, 6, "[4/4, 4/4]"},
      {"after a dimension of tile size 1", shapeOf({TTDim(3, 1), TTDim(16, 16)}), 1, 5,
       "[3, 16/16]"},
      {"middle of three", shapeOf({TTDim(2, 1), TTDim(4, 4), TTDim(4, 4)}), 1, 2,
       "[2, 4/4, 4/4]"},
      {"interleaved by 1", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, 1, "[8~/2, 3/8]"},
      {"interleaved by 3", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, 3, "[8~/2, 3/8]"},
      {"interleaved by the external size", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, 4,
       "[8~/2, 3/8]"},
      {"interleaved backwards", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, -1,
       "[8~/2, 3/8]"},
      {"interleaved by the size", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, 8,
       "[8~/2, 3/8]"},
      {"interleaved beyond the size", shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, 13,
       "[8~/2, 3/8]"},
  };
  for (const MoveCase& k : cases) {
    const DoubleTensor values = randomTensor(sizesOf(k.shape), 3);
    CTileTensor t = encrypted(*he, k.shape, values);
    t.rotateAlongDim(k.dim, k.n);
    EXPECT_EQ(t.getShape().toString(), k.shapeAfter) << k.name;
    expectContentAndLaterSum(t, movedRef(values, k.dim, k.n, false), k.dim, k.name);
  }
}

TEST_F(CTileTensorRotationsTest, InterleavedRotationMovesTilesAndRotatesTheWrappedOne)
{
  // Tile g holds values g and g + 4; rotating by 1 moves tiles 1..3 down
  // unrotated and tile 0 to position 3 rotated by one step (values 4 and 0).
  const TTShape shape = shapeOf({interleavedDim(8, 2), TTDim(1, 8, 8)});
  const DoubleTensor values = tensorOf({8, 1}, [](const std::vector<int>& i) { return i[0]; });
  CTileTensor t = encrypted(*he, shape, values);
  qvtest::startCounting(*he);
  t.rotateAlongDim(0, 1);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 1);
  const std::vector<double> last = qvtest::decrypted(t.getTile(3));
  EXPECT_EQ(last[0], 4);
  EXPECT_EQ(last[8], 0);
  EXPECT_EQ(qvtest::decrypted(t.getTile(0))[0], 1);
  EXPECT_EQ(qvtest::decrypted(t.getTile(0))[8], 5);
}

TEST_F(CTileTensorRotationsTest, ShiftsMatchSlicedRollWithUnknownTail)
{
  const std::vector<MoveCase> cases = {
      {"one tile", shapeOf({TTDim(5, 8), TTDim(2, 2)}), 0, 2, "[3?/8, 2/2]"},
      {"to one value", shapeOf({TTDim(5, 8), TTDim(2, 2)}), 0, 4, "[1?/8, 2/2]"},
      {"later dimension", shapeOf({TTDim(2, 2), TTDim(5, 8)}), 1, 1, "[2/2, 4?/8]"},
      {"interleaved cut to two tiles", shapeOf({interleavedDim(8, 2), TTDim(2, 8)}), 0, 6,
       "[2?~2/2, 2/8]"},
      {"interleaved keeping the tiles", shapeOf({interleavedDim(8, 2), TTDim(2, 8)}), 0, 3,
       "[5?~4/2, 2/8]"},
      {"interleaved by one", shapeOf({interleavedDim(8, 2), TTDim(2, 8)}), 0, 1, "[7?~/2, 2/8]"},
      {"interleaved with unused slots", shapeOf({interleavedDim(6, 4), TTDim(3, 4)}), 0, 1,
       "[5?~/4, 3/4]"},
      {"interleaved to one tile", shapeOf({interleavedDim(6, 4), TTDim(3, 4)}), 0, 5,
       "[1?~/4, 3/4]"},
  };
  for (const MoveCase& k : cases) {
    const DoubleTensor values = randomTensor(sizesOf(k.shape), 4);
    CTileTensor t = encrypted(*he, k.shape, values);
    t.shiftAlongDim(k.dim, k.n);
    EXPECT_EQ(t.getShape().toString(), k.shapeAfter) << k.name;
    EXPECT_TRUE(t.getShape().getDim(k.dim).getAreUnusedSlotsUnknown()) << k.name;
    EXPECT_EQ(t.getNumUsedTiles(), t.getShape().getNumUsedTiles()) << k.name;
    expectContentAndLaterSum(t, movedRef(values, k.dim, k.n, true), k.dim, k.name);
  }
}

TEST_F(CTileTensorRotationsTest, ByZeroChangesNothingWithoutKindChecks)
{
  // A non-interleaved dimension over two tiles may be moved by 0 only.
  const TTShape shape = shapeOf({TTDim(8, 4), TTDim(4, 4)});
  const DoubleTensor values = randomTensor({8, 4}, 5);
  CTileTensor t = encrypted(*he, shape, values);
  qvtest::startCounting(*he);
  t.rotateAlongDim(0, 0);
  t.shiftAlongDim(0, 0);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 0);
  EXPECT_EQ(t.getShape(), shape);
  EXPECT_EQ(maxDiff(decrypted(t), values), 0);
}

TEST_F(CTileTensorRotationsTest, RefusedMovesLeaveTheTensor)
{
  const TTShape diagonal = shapeOf({TTDim(4, 2), TTDim(4, 2), TTDim(1, 4)}, true);
  const TTShape complexPacked = shapeOf({TTDim(8, 4, 1, false, false, true), TTDim(4, 4)});
  struct Refusal
  {
    TTShape shape;
    int dim;
    int n;
    bool shift;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {shapeOf({TTDim(4, 4), TTDim(4, 4)}), 2, 1, false,
       "rotation/shift failed: dimension 2 does not exist in this shape"},
      {shapeOf({TTDim(4, 4), TTDim(4, 4)}), -1, 1, true,
       "rotation/shift failed: dimension -1 does not exist in this shape"},
      {diagonal, 1, 0, false,
       "Shift and rotate are currently not supported for first and second dimensions of a "
       "diagoanlized shape"},
      {shapeOf({TTDim(8, 4), TTDim(4, 4)}), 0, 1, true,
       "rotation/shift failed: When the rotated dimension is not interleaved, it must have an "
       "external size of 1"},
      {shapeOf({TTDim(5, 8), TTDim(2, 2)}), 0, 1, false,
       "Rotation is only supported when dim is the first non-trivial dimension and it doesn't "
       "contain any unused slots."},
      {shapeOf({TTDim(2, 2), TTDim(8, 8)}), 1, 1, false,
       "Rotation is only supported when dim is the first non-trivial dimension and it doesn't "
       "contain any unused slots."},
      {shapeOf({TTDim(5, 8), TTDim(2, 2)}), 0, -1, true,
       "shiftAlongDim(dim=0, shift=-1) failed: shift-right is not supported."},
      {shapeOf({TTDim(5, 8), TTDim(2, 2)}), 0, 5, true,
       "shiftAlongDim(dim=0, shift=5) failed: shift-left by an offset larger than the original "
       "size of \"dim\" is not supported."},
      {complexPacked, 0, 1, false,
       "rotation/shift failed: complex-packed dimensions are not supported"},
      {complexPacked, 0, 2, true,
       "rotation/shift failed: complex-packed dimensions are not supported"},
      // The dimension's own refusals come first.
      {shapeOf({TTDim(6, 4, 1, false, false, true), TTDim(4, 4)}), 0, 2, false,
       "Rotation is only supported when dim is the first non-trivial dimension and it doesn't "
       "contain any unused slots."},
      {complexPacked, 0, 8, true,
       "shiftAlongDim(dim=0, shift=8) failed: shift-left by an offset larger than the original "
       "size of \"dim\" is not supported."},
  };
  for (const Refusal& k : cases) {
    const DoubleTensor values = randomTensor(sizesOf(k.shape), 6);
    CTileTensor t = encrypted(*he, k.shape, values);
    EXPECT_EQ(quietMessageOf<std::invalid_argument>(
                  [&] { k.shift ? t.shiftAlongDim(k.dim, k.n) : t.rotateAlongDim(k.dim, k.n); }),
              k.message);
    EXPECT_EQ(t.getShape(), k.shape);
    EXPECT_EQ(maxDiff(decrypted(t), values), 0);
  }
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { CTileTensor(*he).rotateAlongDim(0, 1); }, "This tile tensor has not been packed");
}

TEST_F(CTileTensorRotationsTest, SumsMatchSumsOverAxes)
{
  struct SumCase
  {
    TTShape shape;
    int dim;
    std::string shapeAfter;
    int secondDim;
  };
  const std::vector<SumCase> cases = {
      {shapeOf({TTDim(6, 4), TTDim(3, 4)}), 0, "[*/4, 3/4]", 1},
      {shapeOf({TTDim(6, 4), TTDim(3, 4)}), 1, "[6/4, 1?/4]", 0},
      {shapeOf({interleavedDim(8, 2), TTDim(3, 8)}), 0, "[*~/2, 3/8]", 1},
      {shapeOf({interleavedDim(5, 4, 2), TTDim(3, 4)}), 1, "[5~/4, 1?/4]", 0},
      {shapeOf({TTDim(3, 1), TTDim(16, 16)}), 0, "[1, 16/16]", 1},
      {shapeOf({TTDim(3, 2), TTDim(5, 2), TTDim(4, 4)}), 1, "[3/2, 1?/2, 4/4]", 0},
      {shapeOf({TTDim(3, 2), TTDim(5, 2), TTDim(4, 4)}), 0, "[*/2, 5/2, 4/4]", 2},
      {shapeOf({TTDim(3, 2), TTDim(5, 2), TTDim(4, 4)}), 2, "[3/2, 5/2, 1?/4]", 1},
  };
  for (const SumCase& k : cases) {
    const std::string name = k.shape.toString() + " over " + std::to_string(k.dim);
    const DoubleTensor values = randomTensor(sizesOf(k.shape), 7);
    CTileTensor t = encrypted(*he, k.shape, values);
    const CTileTensor copy = t.getSumOverDim(k.dim);
    t.sumOverDim(k.dim);
    EXPECT_EQ(t.getShape().toString(), k.shapeAfter) << name;
    EXPECT_EQ(copy.getShape(), t.getShape()) << name;
    const DoubleTensor expected = sumOverAxis(values, k.dim);
    EXPECT_LT(maxDiff(decrypted(t), expected), 1e-9) << name;
    EXPECT_LT(maxDiff(decrypted(copy), expected), 1e-9) << name;
    EXPECT_NO_THROW(qvtest::CoutCapture c; t.assertIntegrity(1e-9)) << name;
    // The flags left by the first sum keep a second one right.
    t.sumOverDim(k.secondDim);
    EXPECT_LT(maxDiff(decrypted(t), sumOverAxis(expected, k.secondDim)), 1e-9) << name;
  }
}

TEST_F(CTileTensorRotationsTest, SumStepsSeparately)
{
  const DoubleTensor values = randomTensor({6, 3}, 8);
  const CTileTensor src = encrypted(*he, shapeOf({TTDim(6, 4), TTDim(3, 4)}), values);
  // Across tiles: in-tile index k holds values k and k + 4.
  const CTileTensor tilesSummed = src.getSumTilesOverDim(0);
  EXPECT_EQ(tilesSummed.getShape().toString(), "[4/4, 3/4]");
  EXPECT_EQ(tilesSummed.getNumUsedTiles(), 1);
  const DoubleTensor folded = tensorOf({4, 3}, [&](std::vector<int> i) {
    double sum = valueAt(values, i);
    if (i[0] + 4 < 6) {
      i[0] += 4;
      sum += valueAt(values, i);
    }
    return sum;
  });
  EXPECT_LT(maxDiff(decrypted(tilesSummed), folded), 1e-9);
  EXPECT_EQ(src.getShape().toString(), "[6/4, 3/4]");

  // Inside tiles only, once the dimension lies in one tile.
  CTileTensor t = tilesSummed;
  qvtest::startCounting(*he);
  t.sumInTilesOverDim(0);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 2) << "log2 of the tile size";
  EXPECT_EQ(t.getShape().toString(), "[*/4, 3/4]");
  EXPECT_LT(maxDiff(decrypted(t), sumOverAxis(values, 0)), 1e-9);

  // A dimension of tile size 1 and one already in one tile skip their steps.
  CTileTensor single = encrypted(*he, shapeOf({TTDim(1, 1), TTDim(16, 16)}), randomTensor({1, 16}, 9));
  qvtest::startCounting(*he);
  single.sumInTilesOverDim(0);
  single.sumTilesOverDim(1);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE) + qvtest::countOf(*he, RunStats::ADD_RAW), 0);
}

TEST_F(CTileTensorRotationsTest, RefusedSumsLeaveTheTensor)
{
  const TTShape diagonal = shapeOf({TTDim(4, 2), TTDim(4, 2), TTDim(1, 4)}, true);
  const TTShape plain = shapeOf({TTDim(6, 4), TTDim(3, 4)});
  const TTShape complexPacked = shapeOf({TTDim(8, 4, 1, false, false, true), TTDim(4, 4)});
  const TTShape complexTiles = shapeOf({TTDim(16, 4, 1, false, false, true), TTDim(4, 4)});
  const TTShape complexDuplicated = shapeOf({TTDim(1, 4, 8, false, false, true), TTDim(4, 4)});
  const TTShape partial = shapeOf({TTDim(1, 4, 2), TTDim(3, 4)});
  using Op = std::function<void(CTileTensor&)>;
  struct Refusal
  {
    TTShape shape;
    Op op;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {plain, [](CTileTensor& t) { t.sumOverDim(2); }, "Dimension 2 does not exist in this tile tensor"},
      {plain, [](CTileTensor& t) { t.sumTilesOverDim(2); }, "Dimension 2 does not exist in this tile tensor"},
      {plain, [](CTileTensor& t) { t.sumInTilesOverDim(5); }, "Dimension 5 does not exist in this tile tensor"},
      {plain, [](CTileTensor& t) { t.sumTilesOverDim(-1); }, "Dimension -1 does not exist for this shape"},
      {diagonal, [](CTileTensor& t) { t.sumOverDim(0); },
       "Currently summing over first or second dimensions of a diagonal shape is not supported"},
      {diagonal, [](CTileTensor& t) { t.sumTilesOverDim(1); },
       "Currently summing tiles over first or second dimensions of a diagonal shape is not "
       "supported"},
      {diagonal, [](CTileTensor& t) { t.sumInTilesOverDim(0); },
       "Currently summing in tiles over first or second dimensions of a diagonal shape is not "
       "supported"},
      {plain, [](CTileTensor& t) { t.sumInTilesOverDim(0); },
       "Dimension has external size larger than one. Sum over tiles first."},
      {partial, [](CTileTensor& t) { t.sumOverDim(0); }, "Sum operator not allowed on a duplicated dimension"},
      {complexPacked, [](CTileTensor& t) { t.sumInTilesOverDim(0); },
       "Summing over complex packed dimensions currently not supported."},
      {complexTiles, [](CTileTensor& t) { t.sumTilesOverDim(0); },
       "Summing over complex packed dimensions currently not supported."},
      {complexTiles, [](CTileTensor& t) { t.sumOverDim(0); },
       "Summing over complex packed dimensions currently not supported."},
      // A complex-packed dimension in one tile has no tiles to add: the in-tile
      // sum refuses it, after its own checks.
      {complexDuplicated, [](CTileTensor& t) { t.sumOverDim(0); },
       "Sum operator not allowed on a duplicated dimension"},
  };
  for (const Refusal& k : cases) {
    const DoubleTensor values = randomTensor(sizesOf(k.shape), 10);
    CTileTensor t = encrypted(*he, k.shape, values);
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { k.op(t); }), k.message);
    EXPECT_EQ(t.getShape(), k.shape);
    EXPECT_EQ(maxDiff(decrypted(t), values), 0);
  }

  // Unknown unused slots, left by a sum over a later dimension or a shift.
  CTileTensor t = encrypted(*he, plain, randomTensor({6, 3}, 11));
  t.sumOverDim(1);
  const TTShape summed = t.getShape();
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { t.sumOverDim(1); }),
            "Sum operator not allowed with unknown values");
  CTileTensor shifted = encrypted(*he, shapeOf({TTDim(5, 8), TTDim(2, 2)}), randomTensor({5, 2}, 12));
  shifted.shiftAlongDim(0, 1);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { shifted.sumTilesOverDim(0); }),
            "Sum operator not allowed with unknown values");
  EXPECT_EQ(t.getShape(), summed);
  CTileTensor oneTile = encrypted(*he, complexPacked, randomTensor({8, 4}, 13));
  oneTile.sumTilesOverDim(0);
  EXPECT_EQ(oneTile.getShape(), complexPacked) << "nothing to add along a dimension of one tile";
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { CTileTensor(*he).sumOverDim(0); }, "This tile tensor has not been packed");
  // The diagonal refusal of the sum over a dimension comes before the packing check.
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { CTileTensor(*he, diagonal).sumOverDim(1); }),
            "Currently summing over first or second dimensions of a diagonal shape is not supported");
}

TEST_F(CTileTensorRotationsTest, MultiplyAndSumProducts)
{
  struct Product
  {
    std::string name;
    TTShape a;
    TTShape b;
    int sumDim;
  };
  const std::vector<Product> cases = {
      {"inner product", shapeOf({TTDim(10, 16), TTDim(1, 1)}), shapeOf({TTDim(10, 16), TTDim(1, 1)}), 0},
      {"matrix by column vector", shapeOf({TTDim(5, 4), TTDim(3, 4)}),
       shapeOf({TTDim(5, 4), TTDim(1, 4, 4)}), 0},
      {"matrix by row vector", shapeOf({TTDim(5, 4), TTDim(3, 4)}),
       shapeOf({TTDim(1, 4, 4), TTDim(3, 4)}), 1},
      {"matrix by matrix", shapeOf({TTDim(3, 2), TTDim(4, 2), TTDim(1, 4, 4)}),
       shapeOf({TTDim(3, 2), TTDim(1, 2, 2), TTDim(5, 4)}), 0},
      {"matrix by matrix over several tiles", shapeOf({TTDim(6, 2), TTDim(3, 2), TTDim(1, 4, 4)}),
       shapeOf({TTDim(6, 2), TTDim(1, 2, 2), TTDim(3, 4)}), 0},
  };
  for (const Product& k : cases) {
    const DoubleTensor a = randomTensor(sizesOf(k.a), 13);
    const DoubleTensor b = randomTensor(sizesOf(k.b), 14);
    // The product broadcasts the size-1 dimensions, then sums over sumDim.
    std::vector<int> dims = sizesOf(k.a);
    for (size_t d = 0; d < dims.size(); ++d)
      dims[d] = std::max(dims[d], sizesOf(k.b)[d]);
    const DoubleTensor product = tensorOf(dims, [&](const std::vector<int>& i) {
      std::vector<int> ia(i);
      std::vector<int> ib(i);
      for (size_t d = 0; d < i.size(); ++d) {
        ia[d] = a.getDimSize(d) == 1 ? 0 : i[d];
        ib[d] = b.getDimSize(d) == 1 ? 0 : i[d];
      }
      return valueAt(a, ia) * valueAt(b, ib);
    });
    const DoubleTensor expected = sumOverAxis(product, k.sumDim);

    const CTileTensor ca = encrypted(*he, k.a, a);
    const CTileTensor cb = encrypted(*he, k.b, b);
    const PTileTensor pb = encoded(*he, k.b, b);
    CTileTensor inPlace(ca);
    inPlace.multiplyAndSum(cb, k.sumDim);
    EXPECT_LT(maxDiff(decrypted(inPlace), expected), 1e-9) << k.name;
    EXPECT_EQ(inPlace.getChainIndex(), ca.getChainIndex() - 1) << k.name;
    EXPECT_NO_THROW(qvtest::CoutCapture c; inPlace.assertIntegrity(1e-9)) << k.name;
    EXPECT_LT(maxDiff(decrypted(ca.getMultiplyAndSum(cb, k.sumDim)), expected), 1e-9) << k.name;
    EXPECT_LT(maxDiff(decrypted(ca.getMultiplyPlainAndSum(pb, k.sumDim)), expected), 1e-9)
        << k.name;
    EXPECT_LT(maxDiff(decrypted(pb.getMultiplyAndSum(ca, k.sumDim)), expected), 1e-9) << k.name;
    EXPECT_LT(maxDiff(decrypted(cb.getMatrixMultiplication(ca, k.sumDim)), expected), 1e-9)
        << k.name;
    CTileTensor target(ca);
    pb.multiplyAndSumTo(target, k.sumDim);
    EXPECT_LT(maxDiff(decrypted(target), expected), 1e-9) << k.name;
    CTileTensor target2(ca);
    cb.multiplyAndSumTo(target2, k.sumDim);
    EXPECT_LT(maxDiff(decrypted(target2), expected), 1e-9) << k.name;
    EXPECT_EQ(maxDiff(decrypted(ca), a), 0) << k.name << ": the operands stay";
  }
}

TEST_F(CTileTensorRotationsTest, InnerProductFillsEverySlot)
{
  auto he8 = qvtest::createMockup(8, 3);
  const DoubleTensor a = randomTensor({8, 1}, 15);
  const DoubleTensor b = randomTensor({8, 1}, 16);
  const TTShape shape = shapeOf({TTDim(8, 8), TTDim(1, 1)});
  CTileTensor t = encrypted(*he8, shape, a);
  t.multiplyAndSum(encrypted(*he8, shape, b), 0);
  double dot = 0;
  for (int i = 0; i < 8; ++i)
    dot += a.at(i) * b.at(i);
  for (double v : qvtest::decrypted(t.getTile(0)))
    EXPECT_NEAR(v, dot, 1e-12);
  EXPECT_EQ(t.getShape().toString(), "[*/8, 1]");
}

TEST_F(CTileTensorRotationsTest, FailedMultiplyAndSumLeavesTheTensor)
{
  const DoubleTensor values = randomTensor({5, 3}, 17);
  CTileTensor t = encrypted(*he, shapeOf({TTDim(5, 4), TTDim(3, 4)}), values);
  const int chainIndex = t.getChainIndex();
  // The product succeeds, then the sum is refused: nothing of the product stays.
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { t.multiplyAndSum(t, 3); }),
            "Dimension 3 does not exist in this tile tensor");
  EXPECT_EQ(maxDiff(decrypted(t), values), 0);
  EXPECT_EQ(t.getChainIndex(), chainIndex);
}
