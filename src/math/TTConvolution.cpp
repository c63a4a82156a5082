#include "math/TTConvolution.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

// A dimension whose values lie one per slot (complex packing would pair them).
bool isRealDim(const TTDim& d)
{
  return !d.getIsComplexPacked();
}

bool isImage(const CTileTensor& image)
{
  if (!image.isPacked() || image.getShape().getNumDims() != 3)
    return false;
  const TTShape& s = image.getShape();
  return s.getDim(0).getTileSize() == 1 && s.getDim(1).getTileSize() == 1 &&
         s.getDim(2).getExternalSize() <= 1 && isRealDim(s.getDim(2));
}

// Dimension 3 of filters or biases: the channel tile size of the image and at
// least as many duplicates as the image has channels.
bool coversChannels(const TTDim& d, const TTDim& channels)
{
  return d.getTileSize() == channels.getTileSize() &&
         d.getNumDuplicated() >= channels.getOriginalSize() && isRealDim(d);
}

bool areFilters(const CTileTensor& filters, const TTDim& channels)
{
  if (!filters.isPacked() || filters.getShape().getNumDims() != 4)
    return false;
  const TTShape& s = filters.getShape();
  return s.getDim(0).getTileSize() == 1 && s.getDim(1).getTileSize() == 1 &&
         s.getDim(2).getTileSize() == 1 && coversChannels(s.getDim(3), channels);
}

bool areBiases(const CTileTensor& biases, const TTDim& channels, int numFilters)
{
  if (!biases.isPacked() || biases.getShape().getNumDims() != 4)
    return false;
  const TTShape& s = biases.getShape();
  for (int i = 0; i < 2; ++i)
    if (s.getDim(i).getTileSize() != 1 || s.getDim(i).getOriginalSize() != 1)
      return false;
  return s.getDim(2).getTileSize() == 1 && s.getDim(2).getOriginalSize() == numFilters &&
         coversChannels(s.getDim(3), channels);
}

void checkContext(const CTileTensor& image, const CTileTensor& operand, const std::string& what)
{
  if (operand.getContextId() != image.getContextId())
    throw std::invalid_argument(what + " belong to another context (context id " +
                                std::to_string(operand.getContextId()) + ", expected " +
                                std::to_string(image.getContextId()) + ")");
}

} // namespace

void TTConvolution::validateConvolutionInputs(const CTileTensor& image,
                                              const CTileTensor& filters,
                                              const CTileTensor* biases, int strideRows,
                                              int strideCols)
{
  if (!isImage(image))
    throw std::runtime_error("Tile Tensor must be of shape [a/1,b/1,n/s], where n<=s");
  const TTDim& channels = image.getShape().getDim(2);
  if (!areFilters(filters, channels))
    throw std::invalid_argument("Filters for Tile Tensor of shape [a/1,b/1,n/s] must be of shape "
                                "[c/1,d/1,e/1,*f/s], where f>=n");
  const TTShape& fs = filters.getShape();
  if (biases != nullptr && !areBiases(*biases, channels, fs.getDim(2).getOriginalSize()))
    throw std::invalid_argument(
        "Biases for Tile Tensor of shape [a/1,b/1,n/s] with filters of shape [c/1,d/1,e/1,*f/s] "
        "must be of shape [1/1,1/1,e/1,*g/s], where g>=n");
  if (strideRows < 1 || strideCols < 1)
    throw std::invalid_argument("Strides must be positive numbers");
  const TTShape& is = image.getShape();
  const int rows = is.getDim(0).getOriginalSize();
  const int cols = is.getDim(1).getOriginalSize();
  const int kernelRows = fs.getDim(0).getOriginalSize();
  const int kernelCols = fs.getDim(1).getOriginalSize();
  if (kernelRows > rows || kernelCols > cols)
    throw std::invalid_argument("Filters of size " + std::to_string(kernelRows) + "x" +
                                std::to_string(kernelCols) + " do not fit in an image of size " +
                                std::to_string(rows) + "x" + std::to_string(cols));
  checkContext(image, filters, "Filters");
  if (biases != nullptr)
    checkContext(image, *biases, "Biases");
  image.checkTilesHoldValues("the image");
  filters.checkTilesHoldValues("the filters");
  if (biases != nullptr)
    biases->checkTilesHoldValues("the biases");
  if (image.getHeContext().getTraits().getAutomaticallyManagesChainIndices())
    return;
  if (filters.getChainIndex() != image.getChainIndex())
    throw std::invalid_argument("Filters must have the same chain index as this");
  if (biases != nullptr && biases->getChainIndex() != image.getChainIndex() - 1)
    throw std::invalid_argument("Biases must have chain index lower than this by 1");
}

CTileTensor TTConvolution::getConvolution(const CTileTensor& image, const CTileTensor& filters,
                                          const CTileTensor* biases, int strideRows,
                                          int strideCols)
{
  SectionTimer timer("TTConvolution::getConvolution");
  validateConvolutionInputs(image, filters, biases, strideRows, strideCols);
  const TTShape& is = image.getShape();
  const TTShape& fs = filters.getShape();
  const int numRows = is.getDim(0).getOriginalSize();
  const int numCols = is.getDim(1).getOriginalSize();
  const int kernelRows = fs.getDim(0).getOriginalSize();
  const int kernelCols = fs.getDim(1).getOriginalSize();
  const int numFilters = fs.getDim(2).getOriginalSize();
  const int outRows = MathUtils::getConvolutionOutputSize(numRows, kernelRows, strideRows, 0, 0);
  const int outCols = MathUtils::getConvolutionOutputSize(numCols, kernelCols, strideCols, 0, 0);

  const HeContext& he = image.getHeContext();
  std::vector<CTile> results(static_cast<size_t>(outRows) * outCols * numFilters, CTile(he));
  size_t t = 0;
  for (int i = 0; i < outRows; ++i) {
    const int x0 = i * strideRows;
    for (int j = 0; j < outCols; ++j) {
      const int y0 = j * strideCols;
      for (int m = 0; m < numFilters; ++m) {
        TensorIterator filterIt = filters.getTileIterator();
        filterIt.setDimIndex(2, m);
        for (int k = 0; k < kernelRows; ++k) {
          for (int l = 0; l < kernelCols; ++l) {
            filterIt.setDimIndex(0, k);
            filterIt.setDimIndex(1, l);
            const int xPos = x0 + k;
            const int yPos = y0 + l;
            QV_ASSERT(xPos < numRows);
            QV_ASSERT(yPos < numCols);
            CTile p(image.getTile(image.getTileFlatIndex({xPos, yPos, 0})));
            p.multiplyTileRaw(filters.getTile(filterIt.getPos()));
            if (k == 0 && l == 0)
              results[t] = std::move(p);
            else
              results[t].add(p);
          }
        }
        results[t].relinearize();
        results[t].rescale();
        if (biases != nullptr) {
          TensorIterator biasIt = biases->getTileIterator();
          biasIt.setDimIndex(2, m);
          results[t].addTile(biases->getTile(biasIt.getPos()));
        }
        ++t;
      }
    }
  }
  return buildConvolutionOutput(image, results, filters, biases);
}

CTileTensor TTConvolution::buildConvolutionOutput(const CTileTensor& image,
                                                  const std::vector<CTile>& results,
                                                  const CTileTensor& filters,
                                                  const CTileTensor* biases)
{
  SectionTimer timer("TTConvolution::buildConvolutionOutput");
  const TTDim& channels = image.getShape().getDim(2);
  const int n = channels.getOriginalSize();
  const TTDim& weights = filters.getShape().getDim(3);
  // Slots beyond n hold weight times pixel, the bias, or what the inputs held there.
  bool unknown = weights.getNumDuplicated() > n ||
                 (channels.getAreUnusedSlotsUnknown() && weights.getAreUnusedSlotsUnknown());
  if (biases != nullptr) {
    const TTDim& bias = biases->getShape().getDim(3);
    unknown = unknown || bias.getNumDuplicated() > n || bias.getAreUnusedSlotsUnknown();
  }
  const int count = static_cast<int>(results.size());
  TTDim out(n, channels.getTileSize());
  if (unknown)
    out.setUnusedSlotsUnknown();
  TTShape shape;
  shape.addDim(TTDim(1, 1));
  shape.addDim(TTDim(count, 1));
  shape.addDim(out);

  CTileTensor res(image.getHeContext());
  std::vector<std::shared_ptr<CTile>> tiles;
  tiles.reserve(results.size());
  for (const CTile& tile : results)
    tiles.push_back(std::make_shared<CTile>(tile));
  res.tiles = TileArray<CTile>({1, count, 1}, std::move(tiles));
  res.shape = std::move(shape);
  res.packed = true;
  return res;
}

} // namespace quorvane
