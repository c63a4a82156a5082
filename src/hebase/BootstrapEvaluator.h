#ifndef QUORVANE_HEBASE_BOOTSTRAPEVALUATOR_H
#define QUORVANE_HEBASE_BOOTSTRAPEVALUATOR_H

#include <memory>

namespace quorvane {

class HeContext;
class CTile;
class BootstrapConfig;
class AbstractBootstrapEvaluator;

/// A context's bootstrap evaluator: holds the backend evaluator, checks the
/// configuration once and forwards the calls.
class BootstrapEvaluator
{
public:
  /// Obtains the backend evaluator from the context and checks the configuration.
  BootstrapEvaluator(const HeContext& he, const BootstrapConfig& config);
  ~BootstrapEvaluator();
  BootstrapEvaluator(const BootstrapEvaluator&) = delete;
  BootstrapEvaluator& operator=(const BootstrapEvaluator&) = delete;

  /// Bootstraps one ciphertext in place.
  void bootstrap(CTile& c);
  /// Bootstraps two ciphertexts in place.
  void bootstrap(CTile& c1, CTile& c2);

  /// The backend evaluator.
  AbstractBootstrapEvaluator& getAbstractBootstrapEvaluator() const { return *impl; }

private:
  std::shared_ptr<AbstractBootstrapEvaluator> impl;
};

} // namespace quorvane

#endif
