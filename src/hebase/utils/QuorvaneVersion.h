#ifndef QUORVANE_HEBASE_UTILS_QUORVANEVERSION_H
#define QUORVANE_HEBASE_UTILS_QUORVANEVERSION_H

#include <cstdint>
#include <string>

#include "hebase/utils/Printable.h"

namespace quorvane {

/// Library version: four byte-sized numbers.
struct QuorvaneVersion : public Printable
{
  uint8_t major;
  uint8_t minor;
  uint8_t patch;
  uint8_t build;

  /// Each number is stored as its low byte. Constant, so that currentVersion is
  /// ready before any other static initialiser reads it.
  constexpr QuorvaneVersion(int major, int minor, int patch, int build)
      : major(static_cast<uint8_t>(major)), minor(static_cast<uint8_t>(minor)),
        patch(static_cast<uint8_t>(patch)), build(static_cast<uint8_t>(build))
  {
  }
  /// From the packed form major << 24 | minor << 16 | patch << 8 | build.
  constexpr explicit QuorvaneVersion(uint32_t packed)
      : major(static_cast<uint8_t>(packed >> 24)),
        minor(static_cast<uint8_t>((packed >> 16) & 0xFF)),
        patch(static_cast<uint8_t>((packed >> 8) & 0xFF)),
        build(static_cast<uint8_t>(packed & 0xFF))
  {
  }

  bool operator==(const QuorvaneVersion& other) const;
  bool operator!=(const QuorvaneVersion& other) const { return !(*this == other); }

  /// Packed form major << 24 | minor << 16 | patch << 8 | build.
  uint32_t pack() const;
  /// "major.minor.patch.build".
  std::string toString() const;
  /// The print text at a verbosity ("quorvane " and the dotted version).
  using Printable::toString;

  /// Writes "quorvane " and the dotted version.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
};

/// The version of this library, 1.5.3.0.
extern const QuorvaneVersion currentVersion;

} // namespace quorvane

#endif
