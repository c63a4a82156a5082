#include "hebase/utils/QuorvaneVersion.h"

namespace quorvane {

const QuorvaneVersion currentVersion(1, 5, 3, 0);

QuorvaneVersion::QuorvaneVersion(int major, int minor, int patch, int build)
    : major(static_cast<uint8_t>(major)), minor(static_cast<uint8_t>(minor)),
      patch(static_cast<uint8_t>(patch)), build(static_cast<uint8_t>(build))
{
}

QuorvaneVersion::QuorvaneVersion(uint32_t packed)
    : major(static_cast<uint8_t>(packed >> 24)), minor(static_cast<uint8_t>((packed >> 16) & 0xFF)),
      patch(static_cast<uint8_t>((packed >> 8) & 0xFF)), build(static_cast<uint8_t>(packed & 0xFF))
{
}

bool QuorvaneVersion::operator==(const QuorvaneVersion& other) const
{
  return major == other.major && minor == other.minor && patch == other.patch &&
         build == other.build;
}

uint32_t QuorvaneVersion::pack() const
{
  return (static_cast<uint32_t>(major) << 24) | (static_cast<uint32_t>(minor) << 16) |
         (static_cast<uint32_t>(patch) << 8) | static_cast<uint32_t>(build);
}

std::string QuorvaneVersion::toString() const
{
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "." +
         std::to_string(build);
}

void QuorvaneVersion::debugPrint(const std::string&, Verbosity, std::ostream& out) const
{
  out << "quorvane " << toString();
}

} // namespace quorvane
