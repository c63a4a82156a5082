#include "hebase/utils/QuorvaneVersion.h"

namespace quorvane {

const QuorvaneVersion currentVersion(1, 5, 3, 0);

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
