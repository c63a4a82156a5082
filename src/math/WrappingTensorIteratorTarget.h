#ifndef QUORVANE_MATH_WRAPPINGTENSORITERATORTARGET_H
#define QUORVANE_MATH_WRAPPINGTENSORITERATORTARGET_H

#include "math/TensorIteratorTarget.h"

namespace quorvane {

class TensorIterator;

/// A target that passes index changes on to another iterator, adapted.
class WrappingTensorIteratorTarget : public TensorIteratorTarget
{
public:
  /// wrapped is not owned and must outlive this target.
  explicit WrappingTensorIteratorTarget(TensorIterator& wrapped) : wrapped(wrapped) {}

protected:
  TensorIterator& wrapped;
};

} // namespace quorvane

#endif
