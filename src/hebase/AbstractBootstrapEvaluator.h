#ifndef QUORVANE_HEBASE_ABSTRACTBOOTSTRAPEVALUATOR_H
#define QUORVANE_HEBASE_ABSTRACTBOOTSTRAPEVALUATOR_H

#include "hebase/BootstrapConfig.h"

namespace quorvane {

class HeContext;
class CTile;

/// Backend interface of bootstrapping: refreshes ciphertexts in place so that
/// they sit at a higher chain index afterwards.
class AbstractBootstrapEvaluator
{
public:
  virtual ~AbstractBootstrapEvaluator();

  /// Bootstraps one ciphertext in place.
  virtual void bootstrap(CTile& c) = 0;

  /// Bootstraps c1, then c2.
  virtual void bootstrap(CTile& c1, CTile& c2);

  /// Bootstrapping checked against clear values; refused unless a backend implements it.
  virtual void bootstrapMockup(CTile& c);

  /// The context this evaluator belongs to.
  const HeContext& getHeContext() const { return he; }

  /// The configuration copied at construction.
  const BootstrapConfig& getBootstrapConfig() const { return config; }

protected:
  AbstractBootstrapEvaluator(const HeContext& he, const BootstrapConfig& config);
  AbstractBootstrapEvaluator(const AbstractBootstrapEvaluator&) = delete;
  AbstractBootstrapEvaluator& operator=(const AbstractBootstrapEvaluator&) = delete;

  /// For the reference evaluators: a configured target chain index of -1
  /// becomes target; any other value must equal it (std::invalid_argument
  /// naming both and the context's class, contextName).
  void resolveTargetChainIndex(int target, const char* contextName);

  const HeContext& he;
  BootstrapConfig config;
};

} // namespace quorvane

#endif
