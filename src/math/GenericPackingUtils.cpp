#include "math/GenericPackingUtils.h"

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>

#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "math/DoubleTensor.h"

namespace quorvane {

TTShape GenericPackingUtils::getShape(const std::vector<int>& plainShape,
                                      const GenericPackingConfig& config, int slotCount)
{
  const int n = static_cast<int>(plainShape.size());
  if (config.option == SEPERATE_ELEMENTS || config.option == BATCH_PACKING) {
    if (!config.batchDim.has_value())
      throw std::runtime_error("Generic packing configuration with generic packing option of "
                               "SEPERATE_ELEMENTS or BATCH_PACKING must indicate a batch dimension");
    const int batchDim = *config.batchDim;
    if (batchDim < 0 || batchDim >= n)
      throw std::runtime_error("Generic packing configuration indicates a batch dimension of " +
                               std::to_string(batchDim) +
                               " which is not a valid dimension for a tensor of shape " +
                               shapeToString(plainShape, -1));
    if (config.option == SEPERATE_ELEMENTS && n == 1)
      throw std::runtime_error("Cannot generically pack a 1D tensor with generic packing option "
                               "of SEPERATE_ELEMENTS");
  }
  std::vector<int> tileSizes(n, 1);
  if (config.option == BATCH_PACKING) {
    tileSizes[*config.batchDim] = slotCount;
    return TTShape(tileSizes);
  }

  std::set<int> dimsToSkip;
  if (config.option == SEPERATE_ELEMENTS)
    dimsToSkip.insert(*config.batchDim);
  for (int i = n - 1; i >= 0; --i) {
    if (plainShape[i] > 1 || static_cast<int>(dimsToSkip.size()) == n - 1)
      break;
    dimsToSkip.insert(i);
  }
  QV_ASSERT(dimsToSkip.size() < plainShape.size());

  const double rounds = std::log2(static_cast<double>(slotCount));
  for (int round = 0; rounds > round; ++round) {
    // The smallest tile among the dimensions that still fill twice their tile.
    int best = -1;
    for (int i = 0; i < n; ++i) {
      if (dimsToSkip.count(i) > 0 || plainShape[i] < 2 * tileSizes[i])
        continue;
      if (best == -1 || tileSizes[i] < tileSizes[best])
        best = i;
    }
    // Otherwise the largest ratio of size to tile size.
    if (best == -1) {
      double bestRatio = 0;
      for (int i = 0; i < n; ++i) {
        if (dimsToSkip.count(i) > 0)
          continue;
        const double ratio = static_cast<double>(plainShape[i]) / tileSizes[i];
        if (best == -1 || ratio > bestRatio) {
          best = i;
          bestRatio = ratio;
        }
      }
    }
    tileSizes[best] *= 2;
  }
  return TTShape(tileSizes);
}

int GenericPackingUtils::getChainIndex(const HeContext& he)
{
  QV_ASSERT(he.isInitialized());
  const HeConfigRequirement& req = he.getHeConfigRequirement();
  if (!req.bootstrappable)
    return req.multiplicationDepth;
  QV_ASSERT(req.bootstrapConfig.has_value());
  return req.bootstrapConfig->minChainIndexForBootstrapping + 1;
}

} // namespace quorvane
