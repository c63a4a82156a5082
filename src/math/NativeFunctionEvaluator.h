#ifndef QUORVANE_MATH_NATIVEFUNCTIONEVALUATOR_H
#define QUORVANE_MATH_NATIVEFUNCTIONEVALUATOR_H

#include <memory>
#include <vector>

namespace quorvane {

class AbstractFunctionEvaluator;
class CTile;
class HeContext;

/// Functions that the underlying scheme supplies directly, through the
/// native evaluator the context makes (HeContext::getFunctionEvaluator). No
/// backend of this library supplies any: both operations throw
/// std::runtime_error "not implemented".
class NativeFunctionEvaluator
{
public:
  explicit NativeFunctionEvaluator(const HeContext& he);

  /// Raises every slot of c to the power, in place.
  void powerInPlace(CTile& c, int power);

  /// Writes the slot-wise product of the multiplicands into result.
  void totalProduct(CTile& result, const std::vector<CTile>& multiplicands);

private:
  std::shared_ptr<AbstractFunctionEvaluator> impl;
};

} // namespace quorvane

#endif
