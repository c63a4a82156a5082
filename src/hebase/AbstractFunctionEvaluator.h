#ifndef QUORVANE_HEBASE_ABSTRACTFUNCTIONEVALUATOR_H
#define QUORVANE_HEBASE_ABSTRACTFUNCTIONEVALUATOR_H

#include <memory>
#include <vector>

namespace quorvane {

class AbstractCiphertext;
class HeContext;

/// Backend interface of functions that a scheme supplies natively. The base
/// implements none of them: each operation throws std::runtime_error
/// "not implemented".
class AbstractFunctionEvaluator
{
public:
  /// Keeps nothing of the context.
  explicit AbstractFunctionEvaluator(const HeContext& he);
  virtual ~AbstractFunctionEvaluator();

  /// Raises every slot of the ciphertext to the power, in place.
  virtual void powerInPlace(AbstractCiphertext& ciphertext, int power);

  /// Writes the slot-wise product of the multiplicands into result.
  virtual void totalProduct(AbstractCiphertext& result,
                            const std::vector<std::shared_ptr<AbstractCiphertext>>& multiplicands);
};

} // namespace quorvane

#endif
