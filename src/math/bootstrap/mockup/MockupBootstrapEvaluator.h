#ifndef QUORVANE_MATH_BOOTSTRAP_MOCKUP_MOCKUPBOOTSTRAPEVALUATOR_H
#define QUORVANE_MATH_BOOTSTRAP_MOCKUP_MOCKUPBOOTSTRAPEVALUATOR_H

#include "hebase/AbstractBootstrapEvaluator.h"

namespace quorvane {

class MockupContext;

/// Bootstrap evaluator of the mockup context: moves a ciphertext of clear
/// values to the target chain index (values and scale unchanged) and records
/// what it saw.
class MockupBootstrapEvaluator : public AbstractBootstrapEvaluator
{
public:
  /// Resolves a target chain index of -1 to the context's chain index after
  /// bootstrapping; refuses any other target that differs from it.
  MockupBootstrapEvaluator(const MockupContext& he, const BootstrapConfig& config);
  ~MockupBootstrapEvaluator() override;

  using AbstractBootstrapEvaluator::bootstrap;
  /// Moves the ciphertext to the target chain index and counts one "bootstrap".
  void bootstrap(CTile& c) override;

private:
  const MockupContext& mockupContext;
};

} // namespace quorvane

#endif
