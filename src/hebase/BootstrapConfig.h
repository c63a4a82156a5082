#ifndef QUORVANE_HEBASE_BOOTSTRAPCONFIG_H
#define QUORVANE_HEBASE_BOOTSTRAPCONFIG_H

#include <cstdint>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// Input range of bootstrapping.
enum BootstrapRange
{
  /// The default range; the only one the SEAL evaluator accepts.
  BOOTSTRAP_RANGE_DEFAULT = 0
};

/// Settings of the bootstrapping process.
class BootstrapConfig : public SaveableBasic
{
public:
  /// Smallest and largest Chebyshev table row accepted on load.
  static constexpr int32_t MIN_NT = 13;
  static constexpr int32_t MAX_NT = 50;

  /// Row of the Chebyshev approximation tables.
  int32_t nT = 14;
  /// Bootstrap complex slot values.
  bool supportComplexData = false;
  /// Real input duplicated into both halves.
  bool duplicateRealInput = false;
  /// Chain index of a bootstrapped ciphertext; -1 takes the context's.
  int32_t targetChainIndex = -1;
  /// Chain index at which automatic bootstrapping triggers; -1 takes the context's.
  int32_t minChainIndexForBootstrapping = -1;
  /// Progress printing of the bootstrapping core.
  Verbosity verbose = VERBOSITY_NONE;
  /// Store the encoding matrices in the file cache.
  bool storeEncMatrices = true;
  /// Load the encoding matrices from the cache when present.
  bool loadEncMatrices = true;
  /// Input range of bootstrapping.
  BootstrapRange range = BOOTSTRAP_RANGE_DEFAULT;
  /// Slot-to-coefficient transform by FFT-like layers.
  bool slot2coefViaFFT = true;
  /// Coefficient-to-slot transform by FFT-like layers.
  bool coef2slotViaFFT = true;
  /// Correct the scale before the modular reduction with the accurate scales.
  bool correctModScale = false;
  /// Scale the linear transforms by their encoding and decoding factors (not saved).
  bool applyTransformFactors = true;
  /// Diagnostic: modular reduction computed on decrypted values as a sine.
  bool clearSineMod = false;
  /// Diagnostic: modular reduction computed as an exact remainder.
  bool clearExactMod = false;

  BootstrapConfig() = default;
  BootstrapConfig(const BootstrapConfig&) = default;
  BootstrapConfig(BootstrapConfig&&) = default;
  BootstrapConfig& operator=(const BootstrapConfig&) = default;
  BootstrapConfig& operator=(BootstrapConfig&&) = default;
  ~BootstrapConfig() override = default;

  /// Writes the 14 saved fields (29 bytes); returns bytes written.
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote and validates it; applyTransformFactors becomes true.
  /// The object changes only when the whole read succeeds.
  std::streamoff load(std::istream& in) override;
};

} // namespace quorvane

#endif
