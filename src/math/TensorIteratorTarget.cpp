#include "math/TensorIteratorTarget.h"

namespace quorvane {

TensorIteratorTarget::~TensorIteratorTarget() {}

} // namespace quorvane
