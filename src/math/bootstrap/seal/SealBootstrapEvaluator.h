#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_SEALBOOTSTRAPEVALUATOR_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_SEALBOOTSTRAPEVALUATOR_H

#include <cstdint>
#include <memory>
#include <utility>

#include "hebase/AbstractBootstrapEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"

namespace quorvane {

class BootstrapCore;

/// Bootstrapping of the SEAL CKKS backend: input (down to chain index 0),
/// remod, CoeffToSlot, modular reduction and SlotToCoeff on a bootstrap core,
/// each step printed when the configuration is verbose. Needs a context that
/// declares CKKS bootstrapping support.
class SealBootstrapEvaluator : public AbstractBootstrapEvaluator
{
public:
  /// Builds the core (matrices or layers computed or read from the cache).
  SealBootstrapEvaluator(const HeContext& he, const BootstrapConfig& config);
  ~SealBootstrapEvaluator() override;

  /// The whole pipeline; c ends at the core's target chain index.
  void bootstrap(CTile& c) override;
  using AbstractBootstrapEvaluator::bootstrap;

  /// CoeffToSlot, modular reduction and SlotToCoeff of a ciphertext at the
  /// encoding chain index (for complex data both halves, as bootstrap does).
  void bootstrapMockup(CTile& c) override;

  /// Lowers c to chain index 0.
  void inputStep(CTile& c);
  /// Raises the modulus of c back to the encoding chain index.
  void remodStep(CTile& c);
  std::pair<CTile, CTile> coef2slotStep(CTile& c);
  /// The modular reduction of real data (or its decrypting mock variants).
  void modStep(CTile& c);
  /// The modular reduction of both halves of complex data.
  void modStep(CTile& r, CTile& s);
  void slot2coefStep(CTile& c);

  const BootstrapCore& getCore() const { return *core; }
  int getNumSlots() const { return numSlots; }
  uint64_t getFirstMod() const { return firstMod; }

private:
  std::unique_ptr<BootstrapCore> core;
  Encoder encoder;
  int numSlots;
  uint64_t firstMod;

  bool isVerbose() const { return config.verbose > VERBOSITY_NONE; }
  /// CoeffToSlot, the modular reduction and SlotToCoeff, of one ciphertext
  /// (real data) or of both halves (complex data).
  void transformSteps(CTile& c);
};

} // namespace quorvane

#endif
