// Convolution of tile tensors against a convolution of the clear values.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "math/TTConvolution.h"

using namespace quorvane;
using qvtest::decrypted;
using qvtest::encrypted;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::randomTensor;
using qvtest::shapeOf;
using qvtest::tensorOf;
using qvtest::valueAt;

namespace {

// Image [a/1, b/1, n/16], filters [c/1, d/1, e/1, *f/16], biases [1/1, 1/1, e/1, *g/16].
struct ConvCase
{
  int a, b, n;
  int c, d, e;
  int strideRows, strideCols;
  int f, g; // g 0: no biases
  std::string outShape;
};

TTShape imageShape(int a, int b, int n)
{
  return shapeOf({TTDim(a, 1), TTDim(b, 1), TTDim(n, 16)});
}

TTShape filterShape(int c, int d, int e, int f)
{
  return shapeOf({TTDim(c, 1), TTDim(d, 1), TTDim(e, 1), TTDim(1, 16, f)});
}

TTShape biasShape(int e, int g)
{
  return shapeOf({TTDim(1, 1), TTDim(1, 1), TTDim(e, 1), TTDim(1, 16, g)});
}

// The convolution of the clear values, laid out as the output [1, K, n].
DoubleTensor convolutionRef(const DoubleTensor& image, const DoubleTensor& filters,
                            const DoubleTensor* biases, int strideRows, int strideCols)
{
  const int a = image.getDimSize(0), b = image.getDimSize(1), n = image.getDimSize(2);
  const int c = filters.getDimSize(0), d = filters.getDimSize(1), e = filters.getDimSize(2);
  const int outRows = (a - c) / strideRows + 1;
  const int outCols = (b - d) / strideCols + 1;
  return tensorOf({1, outRows * outCols * e, n}, [&](const std::vector<int>& idx) {
    const int m = idx[1] % e;
    const int j = (idx[1] / e) % outCols;
    const int i = idx[1] / e / outCols;
    double sum = biases != nullptr ? valueAt(*biases, {0, 0, m, 0}) : 0.0;
    for (int k = 0; k < c; ++k)
      for (int l = 0; l < d; ++l)
        sum += valueAt(image, {i * strideRows + k, j * strideCols + l, idx[2]}) *
               valueAt(filters, {k, l, m, 0});
    return sum;
  });
}

// A mockup context whose backend manages chain indexes itself.
class ManagingMockupContext : public MockupContext
{
public:
  ManagingMockupContext() { traits.setAutomaticallyManagesChainIndices(true); }
};

} // namespace

class TTConvolutionTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 6);
};

TEST_F(TTConvolutionTest, MatchesClearConvolution)
{
  const std::vector<ConvCase> cases = {
      {5, 5, 3, 3, 3, 2, 2, 1, 3, 3, "[1, 12, 3/16]"},
      {3, 4, 2, 1, 1, 3, 1, 1, 16, 2, "[1, 36, 2?/16]"},
      {4, 4, 4, 2, 3, 1, 1, 1, 4, 0, "[1, 6, 4/16]"},
      {6, 5, 1, 2, 2, 2, 2, 3, 1, 4, "[1, 12, 1?/16]"},
      {2, 2, 16, 2, 2, 2, 1, 1, 16, 16, "[1, 2, 16/16]"},
  };
  for (const ConvCase& k : cases) {
    const std::string name = k.outShape;
    const DoubleTensor image = randomTensor({k.a, k.b, k.n}, 31);
    const DoubleTensor filters = randomTensor({k.c, k.d, k.e, 1}, 32);
    const DoubleTensor biases = randomTensor({1, 1, k.e, 1}, 33);
    const CTileTensor cImage = encrypted(*he, imageShape(k.a, k.b, k.n), image);
    const int chainIndex = cImage.getChainIndex();
    const CTileTensor cFilters = encrypted(*he, filterShape(k.c, k.d, k.e, k.f), filters);
    const CTileTensor cBiases =
        encrypted(*he, biasShape(k.e, std::max(k.g, 1)), biases, chainIndex - 1);
    const bool withBiases = k.g > 0;
    qvtest::startCounting(*he);
    const CTileTensor out =
        withBiases ? cImage.getConvolution(cFilters, cBiases, k.strideRows, k.strideCols)
                   : TTConvolution::getConvolution(cImage, cFilters, nullptr, k.strideRows,
                                                   k.strideCols);
    const int outTiles = out.getNumUsedTiles();
    // One raw product per kernel term, one relinearization and rescale per output tile.
    EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_RAW), outTiles * k.c * k.d) << name;
    EXPECT_EQ(qvtest::countOf(*he, RunStats::RELINEARIZE), outTiles) << name;
    EXPECT_EQ(out.getShape().toString(), k.outShape) << name;
    EXPECT_EQ(out.getChainIndex(), chainIndex - 1) << name;
    const DoubleTensor expected = convolutionRef(image, filters, withBiases ? &biases : nullptr,
                                                 k.strideRows, k.strideCols);
    EXPECT_LT(maxDiff(decrypted(out), expected), 1e-9) << name;
    // The output's unknown flag covers what the filters and biases put beyond n.
    EXPECT_NO_THROW(qvtest::CoutCapture c; out.assertIntegrity(1e-9)) << name;
    // A later sum over the channels stays right once unknowns are cleared.
    CTileTensor summed(out);
    summed.clearUnknowns();
    summed.sumOverDim(2);
    EXPECT_LT(maxDiff(decrypted(summed), qvtest::sumOverAxis(expected, 2)), 1e-9) << name;
  }
}

TEST_F(TTConvolutionTest, RefusedInputs)
{
  const CTileTensor image = encrypted(*he, imageShape(3, 3, 2), randomTensor({3, 3, 2}, 34));
  const int ci = image.getChainIndex();
  const CTileTensor filters = encrypted(*he, filterShape(2, 2, 2, 2), randomTensor({2, 2, 2, 1}, 35));
  const CTileTensor biases =
      encrypted(*he, biasShape(2, 2), randomTensor({1, 1, 2, 1}, 36), ci - 1);
  auto tensorOfShape = [&](const TTShape& shape, int chainIndex = -1) {
    return encrypted(*he, shape, randomTensor(shape.getOriginalSizes(), 37), chainIndex);
  };
  const std::string imageMessage = "Tile Tensor must be of shape [a/1,b/1,n/s], where n<=s";
  const std::string filterMessage = "Filters for Tile Tensor of shape [a/1,b/1,n/s] must be of "
                                    "shape [c/1,d/1,e/1,*f/s], where f>=n";
  const std::string biasMessage =
      "Biases for Tile Tensor of shape [a/1,b/1,n/s] with filters of shape [c/1,d/1,e/1,*f/s] "
      "must be of shape [1/1,1/1,e/1,*g/s], where g>=n";

  const std::vector<std::pair<CTileTensor, std::string>> images = {
      {tensorOfShape(shapeOf({TTDim(4, 2), TTDim(3, 1), TTDim(2, 8)})), imageMessage},
      {tensorOfShape(shapeOf({TTDim(3, 1), TTDim(2, 16)})), imageMessage},
      {tensorOfShape(shapeOf({TTDim(3, 1), TTDim(3, 1), TTDim(20, 16)})), imageMessage},
      {tensorOfShape(shapeOf({TTDim(3, 1), TTDim(3, 1), TTDim(4, 16, 1, false, false, true)})),
       imageMessage},
      {CTileTensor(*he, imageShape(3, 3, 2)), imageMessage},
  };
  for (const auto& k : images)
    EXPECT_EQ(qvtest::messageOf<std::runtime_error>(
                  [&] { TTConvolution::getConvolution(k.first, filters, &biases, 1, 1); }),
              k.second);

  const std::vector<CTileTensor> badFilters = {
      tensorOfShape(shapeOf({TTDim(2, 1), TTDim(2, 1), TTDim(1, 16, 2)})),
      tensorOfShape(shapeOf({TTDim(2, 1), TTDim(2, 1), TTDim(2, 2), TTDim(1, 8, 2)})),
      tensorOfShape(filterShape(2, 2, 2, 1)),
      tensorOfShape(shapeOf({TTDim(2, 1), TTDim(2, 1), TTDim(2, 1), TTDim(1, 16, 4, false, false, true)})),
      CTileTensor(*he, filterShape(2, 2, 2, 2)),
  };
  for (const CTileTensor& f : badFilters)
    EXPECT_EQ(qvtest::messageOf<std::invalid_argument>(
                  [&] { TTConvolution::getConvolution(image, f, &biases, 1, 1); }),
              filterMessage);

  const std::vector<CTileTensor> badBiases = {
      tensorOfShape(biasShape(3, 2), ci - 1),
      tensorOfShape(shapeOf({TTDim(2, 1), TTDim(1, 1), TTDim(2, 1), TTDim(1, 16, 2)}), ci - 1),
      tensorOfShape(biasShape(2, 1), ci - 1),
      tensorOfShape(shapeOf({TTDim(1, 1), TTDim(1, 1), TTDim(2, 16)}), ci - 1),
  };
  for (const CTileTensor& b : badBiases)
    EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] { image.getConvolution(filters, b, 1, 1); }),
              biasMessage);

  const std::vector<std::pair<std::pair<int, int>, std::string>> strides = {
      {{0, 1}, "Strides must be positive numbers"},
      {{1, -2}, "Strides must be positive numbers"},
  };
  for (const auto& k : strides)
    EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] {
                image.getConvolution(filters, biases, k.first.first, k.first.second);
              }),
              k.second);

  // A kernel reaching past the image is refused before any work.
  qvtest::startCounting(*he);
  for (const auto& kernel : std::vector<std::pair<int, int>>{{4, 2}, {2, 4}, {4, 4}})
    EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] {
                image.getConvolution(tensorOfShape(filterShape(kernel.first, kernel.second, 2, 2)),
                                     biases, 1, 1);
              }),
              "Filters of size " + std::to_string(kernel.first) + "x" +
                  std::to_string(kernel.second) + " do not fit in an image of size 3x3");
  EXPECT_EQ(qvtest::countOf(*he, RunStats::MULTIPLY_RAW), 0);

  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] {
              image.getConvolution(tensorOfShape(filterShape(2, 2, 2, 2), ci - 1), biases, 1, 1);
            }),
            "Filters must have the same chain index as this");
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>([&] {
              image.getConvolution(filters, tensorOfShape(biasShape(2, 2), ci), 1, 1);
            }),
            "Biases must have chain index lower than this by 1");

  auto other = qvtest::createMockup(16, 6);
  const CTileTensor foreign =
      encrypted(*other, filterShape(2, 2, 2, 2), randomTensor({2, 2, 2, 1}, 38));
  EXPECT_EQ(qvtest::messageOf<std::invalid_argument>(
                [&] { image.getConvolution(foreign, biases, 1, 1); }),
            "Filters belong to another context (context id " +
                std::to_string(other->getContextId()) + ", expected " +
                std::to_string(he->getContextId()) + ")");

  const TTShape diagonal = shapeOf({TTDim(3, 1), TTDim(3, 1), TTDim(2, 16)}, true);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>(
                [&] { tensorOfShape(diagonal).getConvolution(filters, biases, 1, 1); }),
            "This convolution method currently doesn't work with a diagonal shape");
}

TEST_F(TTConvolutionTest, BackendManagingChainIndexesSkipsTheirChecks)
{
  auto managing = qvtest::mockupContext<ManagingMockupContext>(16, 6);
  const DoubleTensor image = randomTensor({3, 3, 2}, 39);
  const DoubleTensor filters = randomTensor({2, 2, 1, 1}, 40);
  const DoubleTensor biases = randomTensor({1, 1, 1, 1}, 41);
  const CTileTensor cImage = encrypted(*managing, imageShape(3, 3, 2), image, 5);
  const CTileTensor cFilters = encrypted(*managing, filterShape(2, 2, 1, 2), filters, 6);
  const CTileTensor cBiases = encrypted(*managing, biasShape(1, 2), biases, 6);
  const CTileTensor out = cImage.getConvolution(cFilters, cBiases, 1, 1);
  EXPECT_LT(maxDiff(decrypted(out), convolutionRef(image, filters, &biases, 1, 1)), 1e-9);
}
