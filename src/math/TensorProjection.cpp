#include "math/TensorProjection.h"

#include <stdexcept>

namespace quorvane {

TensorProjection::TensorProjection(const std::vector<int>& resultDims,
                                   const std::vector<int>& firstDims,
                                   const std::vector<int>& secondDims)
    : resultDims(resultDims), firstDims(firstDims), secondDims(secondDims)
{
  if (resultDims.size() != firstDims.size() || resultDims.size() != secondDims.size())
    throw std::invalid_argument("Internal error: mismatching sizes");
  int firstStride = 1;
  int secondStride = 1;
  for (size_t i = 0; i < resultDims.size(); ++i) {
    if ((firstDims[i] != 1 && firstDims[i] != resultDims[i]) ||
        (secondDims[i] != 1 && secondDims[i] != resultDims[i]))
      throw std::invalid_argument(
          "Internal error: projected tensors are incompatible with src tensor");
    firstStrides.push_back(firstStride);
    secondStrides.push_back(secondStride);
    firstStride *= firstDims[i];
    secondStride *= secondDims[i];
  }
}

void TensorProjection::project(int r, int& first, int& second) const
{
  first = 0;
  second = 0;
  for (size_t i = 0; r > 0 && i < resultDims.size(); ++i) {
    const int c = r % resultDims[i];
    r /= resultDims[i];
    if (c > 0) {
      if (firstDims[i] != 1)
        first += c * firstStrides[i];
      if (secondDims[i] != 1)
        second += c * secondStrides[i];
    }
  }
}

} // namespace quorvane
