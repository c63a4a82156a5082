#ifndef QUORVANE_MATH_TENSORITERATOR_H
#define QUORVANE_MATH_TENSORITERATOR_H

#include <cstdint>
#include <ostream>
#include <vector>

#include "math/TensorIteratorTarget.h"

namespace quorvane {

/// Walks the index space of a list of dimension sizes, keeping the flat
/// position up to date. Dimension 0 varies fastest with firstOrder, the last
/// dimension otherwise. Every index change is passed to an optional target.
class TensorIterator : public TensorIteratorTarget
{
public:
  /// Starts at position 0 with all indices 0, no clamps and no target.
  TensorIterator(const std::vector<int>& dims, bool firstOrder);
  ~TensorIterator() override;

  /// Sets one index, moving the position and telling the target.
  void setDimIndex(int dim, int value) override;

  /// Writes the sizes, the current indices, the position and the clamps.
  virtual void debugPrint(std::ostream& out) const;

  /// True for a plain iterator; next() asserts it.
  virtual bool isValid() const;

  /// Moves to the next position; false (back at the first position) after the last one.
  bool next();

  /// Steps one dimension; false when it is skipped (size 1 or clamped) or carries.
  bool nextInDim(int dim);

  /// Holds dim at value until reset().
  void clamp(int dim, int value);

  /// Clears every clamp and sets every index to 0.
  void reset();

  /// Sets the position and every index from it (refused while clamped).
  void setFlatIndex(int pos);

  /// Chains a target and tells it every current index; null detaches the target.
  void setTarget(TensorIteratorTarget* target);

  /// The flat position: the sum of index times stride.
  int getPos() const { return pos; }
  const std::vector<int>& getDims() const { return dims; }
  const std::vector<int>& getIndices() const { return indices; }
  const std::vector<int>& getStrides() const { return strides; }
  int getIndex(int dim) const { return indices[dim]; }
  int getOrder() const { return static_cast<int>(dims.size()); }
  bool isFirstOrder() const { return firstOrder; }
  bool isClamped(int dim) const { return !clamped.empty() && clamped[dim]; }
  /// The number of positions (1 for order 0).
  int getSize() const { return size; }

private:
  std::vector<int> dims;
  bool firstOrder;
  int32_t pos = 0;
  std::vector<int> indices;
  std::vector<int> strides;
  std::vector<bool> clamped;
  int32_t size = 1;
  TensorIteratorTarget* target = nullptr;
};

/// Calls debugPrint.
std::ostream& operator<<(std::ostream& out, const TensorIterator& it);

} // namespace quorvane

#endif
