#ifndef QUORVANE_MATH_BOOTSTRAP_MOCKUP_EMPTYBOOTSTRAPEVALUATOR_H
#define QUORVANE_MATH_BOOTSTRAP_MOCKUP_EMPTYBOOTSTRAPEVALUATOR_H

#include "hebase/AbstractBootstrapEvaluator.h"

namespace quorvane {

class EmptyContext;

/// Bootstrap evaluator of the empty context: counts and moves ciphertexts to
/// the target chain index.
class EmptyBootstrapEvaluator : public AbstractBootstrapEvaluator
{
public:
  /// Resolves a target chain index of -1 to the context's chain index after
  /// bootstrapping; refuses any other target that differs from it.
  EmptyBootstrapEvaluator(const EmptyContext& he, const BootstrapConfig& config);
  ~EmptyBootstrapEvaluator() override;

  /// Counts one "bootstrap" at the target and moves the ciphertext there.
  void bootstrap(CTile& c) override;
  /// Counts two "bootstrap" at the target and moves both ciphertexts there.
  void bootstrap(CTile& c1, CTile& c2) override;

private:
  const EmptyContext& emptyContext;
};

} // namespace quorvane

#endif
