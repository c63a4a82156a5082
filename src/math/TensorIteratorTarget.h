#ifndef QUORVANE_MATH_TENSORITERATORTARGET_H
#define QUORVANE_MATH_TENSORITERATORTARGET_H

namespace quorvane {

/// Receives the index changes of a driving TensorIterator.
class TensorIteratorTarget
{
public:
  virtual ~TensorIteratorTarget();

  /// The index of dimension dim is now value.
  virtual void setDimIndex(int dim, int value) = 0;
};

} // namespace quorvane

#endif
