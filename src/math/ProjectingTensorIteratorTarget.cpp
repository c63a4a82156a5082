#include "math/ProjectingTensorIteratorTarget.h"

#include "math/TensorIterator.h"

namespace quorvane {

void ProjectingTensorIteratorTarget::setDimIndex(int d, int v)
{
  if (wrapped.getDims()[d] > 1)
    wrapped.setDimIndex(d, v);
}

} // namespace quorvane
