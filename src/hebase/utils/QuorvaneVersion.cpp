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

namespace {

// A plain call of toString() inside the class is ambiguous for clang:
// Printable's toString(Verbosity) takes no argument either.
std::string dotted(const QuorvaneVersion& v)
{
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
         std::to_string(v.patch) + "." + std::to_string(v.build);
}

} // namespace

std::string QuorvaneVersion::toString() const { return dotted(*this); }

void QuorvaneVersion::debugPrint(const std::string&, Verbosity, std::ostream& out) const
{
  out << "quorvane " << dotted(*this);
}

} // namespace quorvane
