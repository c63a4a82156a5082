#ifndef QUORVANE_MATH_PROJECTINGTENSORITERATORTARGET_H
#define QUORVANE_MATH_PROJECTINGTENSORITERATORTARGET_H

#include "math/WrappingTensorIteratorTarget.h"

namespace quorvane {

/// Drives the wrapped iterator while leaving its dimensions of size 1 at 0
/// (broadcast of a size-1 dimension against a larger one).
class ProjectingTensorIteratorTarget : public WrappingTensorIteratorTarget
{
public:
  explicit ProjectingTensorIteratorTarget(TensorIterator& wrapped)
      : WrappingTensorIteratorTarget(wrapped)
  {
  }

  /// Passes the change on only when the wrapped size of d is above 1.
  void setDimIndex(int d, int v) override;
};

} // namespace quorvane

#endif
