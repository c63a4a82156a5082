#include "math/OffsettingTensorIteratorTarget.h"

#include "math/TensorIterator.h"

namespace quorvane {

void OffsettingTensorIteratorTarget::setDimIndex(int d, int v)
{
  wrapped.setDimIndex(d, d == dim ? v + offset : v);
}

} // namespace quorvane
