#include "math/NativeFunctionEvaluator.h"

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractFunctionEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"

namespace quorvane {

NativeFunctionEvaluator::NativeFunctionEvaluator(const HeContext& he)
    : impl(he.getFunctionEvaluator())
{
}

void NativeFunctionEvaluator::powerInPlace(CTile& c, int power)
{
  impl->powerInPlace(c.getImpl(), power);
}

void NativeFunctionEvaluator::totalProduct(CTile& result, const std::vector<CTile>& multiplicands)
{
  // The multiplicands' ciphertexts are handed over, not copied: pointers that
  // own nothing, valid for the call.
  std::vector<std::shared_ptr<AbstractCiphertext>> ciphertexts;
  ciphertexts.reserve(multiplicands.size());
  for (const CTile& c : multiplicands)
    ciphertexts.push_back(std::shared_ptr<AbstractCiphertext>(
        std::shared_ptr<AbstractCiphertext>(), const_cast<AbstractCiphertext*>(&c.getImpl())));
  impl->totalProduct(result.getImpl(), ciphertexts);
}

} // namespace quorvane
