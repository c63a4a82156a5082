#ifndef QUORVANE_HEBASE_HECONFIGREQUIREMENT_H
#define QUORVANE_HEBASE_HECONFIGREQUIREMENT_H

#include <cstdint>
#include <optional>

#include "hebase/BootstrapConfig.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/PublicFunctions.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

/// What an HE context must provide. -1 in a count means that it is not set.
struct HeConfigRequirement : public SaveableBasic
{
  /// Largest values accepted when a requirement is loaded.
  static constexpr int32_t MAX_NUM_SLOTS = 1 << 22;
  static constexpr int32_t MAX_MULTIPLICATION_DEPTH = 1000;
  static constexpr int32_t MAX_PRECISION = 1000;
  static constexpr int32_t MAX_SECURITY_LEVEL = 256;

  /// Slots per ciphertext.
  int32_t numSlots = -1;
  /// Multiplications a fresh ciphertext supports.
  int32_t multiplicationDepth = -1;
  /// Bits of precision of the fractional part.
  int32_t fractionalPartPrecision = -1;
  /// Bits of the integer part.
  int32_t integerPartPrecision = -1;
  /// Security in bits; 0 means no security.
  int32_t securityLevel = 128;
  /// Ciphertexts can be bootstrapped.
  bool bootstrappable = false;
  /// Tiles bootstrap by themselves at the bootstrapping chain index.
  bool automaticBootstrapping = false;
  /// The bootstrapping configuration.
  std::optional<BootstrapConfig> bootstrapConfig;
  /// Present only for multi-party contexts.
  std::optional<MultiPartyConfig> multiPartyConfig;
  /// The public keys to make.
  PublicFunctions publicFunctions;

  /// Every count unset, security level 128.
  HeConfigRequirement() = default;

  /// Both flags false, no optional parts, default public functions; asserts
  /// securityLevel >= 128 (use insecure() for no security).
  HeConfigRequirement(int numSlots, int multiplicationDepth, int fractionalPartPrecision,
                      int integerPartPrecision, int securityLevel = 128);

  HeConfigRequirement(const HeConfigRequirement&) = default;
  HeConfigRequirement(HeConfigRequirement&&) = default;
  HeConfigRequirement& operator=(const HeConfigRequirement&) = default;
  HeConfigRequirement& operator=(HeConfigRequirement&&) = default;
  ~HeConfigRequirement() override = default;

  /// The same as the constructor with security level 0.
  static HeConfigRequirement insecure(int numSlots, int multiplicationDepth,
                                      int fractionalPartPrecision = -1,
                                      int integerPartPrecision = -1);

  /// Asserts that no count is -1.
  void assertComplete() const;

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the counts, the flags, the optional parts behind presence flags
  /// and the public functions; returns bytes written.
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote and validates every value; the object changes
  /// only when the whole read succeeds.
  std::streamoff load(std::istream& in) override;
};

} // namespace quorvane

#endif
