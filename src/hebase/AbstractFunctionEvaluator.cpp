#include "hebase/AbstractFunctionEvaluator.h"

#include <stdexcept>

namespace quorvane {

AbstractFunctionEvaluator::AbstractFunctionEvaluator(const HeContext&) {}

AbstractFunctionEvaluator::~AbstractFunctionEvaluator() {}

void AbstractFunctionEvaluator::powerInPlace(AbstractCiphertext&, int)
{
  throw std::runtime_error("not implemented");
}

void AbstractFunctionEvaluator::totalProduct(
    AbstractCiphertext&, const std::vector<std::shared_ptr<AbstractCiphertext>>&)
{
  throw std::runtime_error("not implemented");
}

} // namespace quorvane
