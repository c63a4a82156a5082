// Matrix-vector products of diagonalized matrices against the clear products.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "math/TTDiagUtils.h"

using namespace quorvane;
using qvtest::decrypted;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::interleavedDim;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::randomTensor;
using qvtest::shapeOf;
using qvtest::tensorOf;
using qvtest::valueAt;

namespace {

// result[0][c][rest] = sum over r of M[r][c][rest] v[r][rest], size-1 dimensions broadcast.
DoubleTensor productRef(const DoubleTensor& m, const DoubleTensor& v)
{
  std::vector<int> dims = m.getShape();
  const int rows = dims[0];
  dims[0] = 1;
  for (size_t d = 2; d < dims.size(); ++d)
    dims[d] = std::max(dims[d], v.getDimSize(static_cast<int>(d) - 1));
  return tensorOf(dims, [&](const std::vector<int>& idx) {
    double sum = 0;
    for (int r = 0; r < rows; ++r) {
      std::vector<int> im(idx);
      im[0] = r;
      std::vector<int> iv(idx.begin() + 1, idx.end());
      iv[0] = r;
      for (size_t d = 2; d < idx.size(); ++d) {
        if (m.getDimSize(static_cast<int>(d)) == 1)
          im[d] = 0;
        if (v.getDimSize(static_cast<int>(d) - 1) == 1)
          iv[d - 1] = 0;
      }
      sum += valueAt(m, im) * valueAt(v, iv);
    }
    return sum;
  });
}

} // namespace

class TTDiagonalProductTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 6);
};

TEST_F(TTDiagonalProductTest, MatchesClearProducts)
{
  struct Case
  {
    TTShape matrix;
    TTShape vector;
    std::string resultShape;
  };
  const std::vector<Case> cases = {
      {shapeOf({TTDim(16, 2), TTDim(6, 4), TTDim(1, 2)}, true), shapeOf({TTDim(16, 8), TTDim(1, 2)}),
       "[*/2, 6/4, 1/2]"},
      {shapeOf({TTDim(20, 2), TTDim(5, 2), TTDim(6, 4)}, true), shapeOf({TTDim(20, 4), TTDim(6, 4)}),
       "[*/2, 5/2, 6/4]"},
      {shapeOf({TTDim(8, 2), TTDim(4, 2), TTDim(6, 4)}, true), shapeOf({TTDim(8, 4), TTDim(1, 4, 4)}),
       "[*/2, 4/2, 6/4]"},
      {shapeOf({TTDim(8, 2), TTDim(4, 2), TTDim(1, 4, 4)}, true), shapeOf({TTDim(8, 4), TTDim(3, 4)}),
       "[*/2, 4/2, 3/4]"},
      {shapeOf({TTDim(6, 1), TTDim(3, 4), TTDim(1, 4)}, true), shapeOf({TTDim(6, 4), TTDim(1, 4)}),
       "[1, 3/4, 1/4]"},
      {shapeOf({TTDim(5, 2), TTDim(7, 2), TTDim(2, 2), TTDim(3, 2)}, true),
       shapeOf({TTDim(5, 4), TTDim(2, 2), TTDim(3, 2)}), "[*/2, 7/2, 2/2, 3/2]"},
  };
  for (const Case& k : cases) {
    const std::string name = k.matrix.toString() + " x " + k.vector.toString();
    const DoubleTensor m = randomTensor(k.matrix.getOriginalSizes(), 51);
    const DoubleTensor v = randomTensor(k.vector.getOriginalSizes(), 52);
    const DoubleTensor expected = productRef(m, v);
    const CTileTensor cv = encrypted(*he, k.vector, v);
    const CTileTensor cm = encrypted(*he, k.matrix, m);
    const PTileTensor pm = encoded(*he, k.matrix, m);
    for (const TileTensor* matrix : std::vector<const TileTensor*>{&cm, &pm}) {
      const CTileTensor res = cv.getMatrixMultiplication(*matrix, 0);
      EXPECT_EQ(res.getShape().toString(), k.resultShape) << name;
      EXPECT_LT(maxDiff(decrypted(res), expected), 1e-9) << name;
      EXPECT_EQ(res.getChainIndex(), cv.getChainIndex() - 1) << name;
      EXPECT_NO_THROW(qvtest::CoutCapture c; res.assertIntegrity(1e-9)) << name;
    }
    EXPECT_EQ(maxDiff(decrypted(cv), v), 0) << name << ": the vector stays";
  }
}

TEST_F(TTDiagonalProductTest, OneRotationPerVectorTileAndDiagonal)
{
  // t0 = 2, t1 = 4: blocks of 8 rows in 4 diagonals; 16 rows make 2 vector tiles.
  const TTShape matrix = shapeOf({TTDim(16, 2), TTDim(4, 4), TTDim(1, 2)}, true);
  const TTShape vector = shapeOf({TTDim(16, 8), TTDim(1, 2)});
  const CTileTensor cv = encrypted(*he, vector, randomTensor({16, 1}, 53));
  const PTileTensor pm = encoded(*he, matrix, randomTensor({16, 4, 1}, 54));
  qvtest::startCounting(*he);
  const CTileTensor res = cv.getMatrixMultiplication(pm, 0);
  // 2 tiles x 3 diagonals, then log2(2) for the sum inside the single result tile.
  EXPECT_EQ(qvtest::countOf(*he, RunStats::ROTATE), 2 * 3 + 1);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_PLAIN_RAW), 2 * 4);
  EXPECT_EQ(qvtest::countOf(*he, RunStats::RESCALE_RAW), 1);
  // Diagonal o rotates a copy of the vector tile by o steps of 2 slots (the
  // tile size after dimension 0): 6 appears only there, not in the sum.
  const std::set<int> rotations =
      dynamic_cast<const TrackingContext&>(*he).getRunStats()->getRotations();
  for (int o = 1; o < 4; ++o)
    EXPECT_EQ(rotations.count(o * 2), 1u) << o;
}

TEST_F(TTDiagonalProductTest, RefusedOperands)
{
  const TTShape matrixShape = shapeOf({TTDim(16, 2), TTDim(6, 4), TTDim(1, 2)}, true);
  const CTileTensor matrix = encrypted(*he, matrixShape, randomTensor({16, 6, 1}, 55));
  const std::string prefix =
      "Attempting to perform matrix-vector multiplication using diagonal packing: ";
  struct Refusal
  {
    TTShape vector;
    std::string message;
  };
  const std::vector<Refusal> cases = {
      {shapeOf({TTDim(16, 8), TTDim(1, 2)}, true), prefix + "Vector is expected to be not diagonalized"},
      {shapeOf({TTDim(16, 8), TTDim(1, 2), TTDim(1, 1)}),
       prefix + "Vector's shape is expected to have one less dimensions than the matrix. Expecting 2 dims."},
      {shapeOf({TTDim(16, 4), TTDim(1, 4)}),
       prefix + "Tile size of vector's first dimension is expected to be matrix tileSize[0]*tileSize[1], 8"},
      {shapeOf({TTDim(12, 8), TTDim(1, 2)}),
       prefix + "Original size vector's first dimension is expected to match matrice's first "
                "dimension original size: 16"},
      {shapeOf({interleavedDim(16, 8), TTDim(1, 2)}),
       prefix + "Vector's first dimension must not be complex packed or interleaved over several tiles"},
      {shapeOf({TTDim(16, 8), TTDim(2, 2)}), "Dimension 0 mismatches: 1/2 vs. 2/2"},
  };
  for (const Refusal& k : cases) {
    const CTileTensor v = encrypted(*he, k.vector, randomTensor(k.vector.getOriginalSizes(), 56));
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { v.getMatrixMultiplication(matrix, 0); }),
              k.message);
  }

  const CTileTensor v = encrypted(*he, shapeOf({TTDim(16, 8), TTDim(1, 2)}), randomTensor({16, 1}, 57));
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { v.getMatrixMultiplication(matrix, 1); }),
            "'other' has diagonalized shape: sumDim must be 0. Instead found 1");
  // A two-dimensional matrix has no dimensions to match the vector's later ones.
  const CTileTensor flat = encrypted(*he, shapeOf({TTDim(16, 4), TTDim(4, 4)}, true), randomTensor({16, 4}, 58));
  const CTileTensor v16 = encrypted(*he, shapeOf({TTDim(16, 16)}), randomTensor({16}, 59));
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { v16.getMatrixMultiplication(flat, 0); }),
            "Can't return an empty sub shape");

  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { v.getMatrixMultiplication(CTileTensor(*he, matrixShape), 0); },
      "This tile tensor has not been packed");
  CTileTensor result(*he);
  const TTDiagUtils utils(shapeOf({TTDim(8, 2), TTDim(6, 4), TTDim(1, 2)}, true));
  qvtest::expectThrowWithMessage<std::runtime_error>(
      [&] { utils.multiplyMatrixVector(result, matrix, v); },
      "Internal error: TTDiagUtils should be initalized with the matrix's shape. It was "
      "initialized with shape [ (d)8/2, 6/4, 1/2] and the matrix has shape [ (d)16/2, 6/4, 1/2]");
  EXPECT_FALSE(result.isPacked());

  auto other = qvtest::createMockup(16, 6);
  const CTileTensor foreign = encrypted(*other, matrixShape, randomTensor({16, 6, 1}, 60));
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { v.getMatrixMultiplication(foreign, 0); }),
            "The other tile tensor belongs to another context (context id " +
                std::to_string(other->getContextId()) + ", expected " +
                std::to_string(he->getContextId()) + ")");
}

TEST_F(TTDiagonalProductTest, UnknownRowsOnBothSidesAreRefused)
{
  // Rows beyond the size hold arbitrary values in both operands: their
  // products would reach the sums.
  CTileTensor matrix = encrypted(*he, shapeOf({TTDim(11, 2), TTDim(6, 4), TTDim(1, 2)}, true),
                                 randomTensor({11, 6, 1}, 61));
  CTileTensor v = encrypted(*he, shapeOf({TTDim(11, 8), TTDim(1, 2)}), randomTensor({11, 1}, 62));
  matrix.addScalar(1.0);
  EXPECT_LT(maxDiff(decrypted(v.getMatrixMultiplication(matrix, 0)),
                    productRef(qvtest::combined(randomTensor({11, 6, 1}, 61),
                                                randomTensor({11, 6, 1}, 61),
                                                [](double a, double) { return a + 1.0; }),
                               randomTensor({11, 1}, 62))),
            1e-9)
      << "one side's unknown rows meet the other's zeros";
  v.addScalar(1.0);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { v.getMatrixMultiplication(matrix, 0); }),
            "Attempting to perform matrix-vector multiplication using diagonal packing: Vector's "
            "first dimension must not have unknown unused slots when the matrix's first "
            "dimension has them");
}
