#ifndef QUORVANE_MATH_TENSORPROJECTION_H
#define QUORVANE_MATH_TENSORPROJECTION_H

#include <vector>

namespace quorvane {

/// Maps a flat index of a result onto the flat indices of two operands that
/// may have size 1 (broadcast) where the result is larger. Dimension 0 is fastest.
class TensorProjection
{
public:
  /// Refuses vectors of different lengths and operand sizes that are neither 1
  /// nor the result's.
  TensorProjection(const std::vector<int>& resultDims, const std::vector<int>& firstDims,
                   const std::vector<int>& secondDims);

  /// The operands' flat indices of result index resultIndex (below the result's size).
  void project(int resultIndex, int& first, int& second) const;

private:
  std::vector<int> resultDims;
  std::vector<int> firstDims;
  std::vector<int> firstStrides;
  std::vector<int> secondDims;
  std::vector<int> secondStrides;
};

} // namespace quorvane

#endif
