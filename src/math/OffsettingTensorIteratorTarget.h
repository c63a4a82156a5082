#ifndef QUORVANE_MATH_OFFSETTINGTENSORITERATORTARGET_H
#define QUORVANE_MATH_OFFSETTINGTENSORITERATORTARGET_H

#include <cstdint>

#include "math/WrappingTensorIteratorTarget.h"

namespace quorvane {

/// Drives the wrapped iterator with one dimension shifted by an offset
/// (used to walk a slice of a larger tensor).
class OffsettingTensorIteratorTarget : public WrappingTensorIteratorTarget
{
public:
  OffsettingTensorIteratorTarget(TensorIterator& wrapped, int dim, int offset)
      : WrappingTensorIteratorTarget(wrapped), dim(dim), offset(offset)
  {
  }

  /// Sets index v + offset on the wrapped iterator when d is the shifted dimension, else v.
  void setDimIndex(int d, int v) override;

private:
  int32_t dim;
  int32_t offset;
};

} // namespace quorvane

#endif
