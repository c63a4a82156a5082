#include "hebase/utils/VectorAccess.h"

#include <stdexcept>

namespace quorvane {

void throwInvalidSubscript()
{
  throw std::out_of_range("invalid vector subscript");
}

} // namespace quorvane
