#include "hebase/utils/Printable.h"

#include <sstream>

namespace quorvane {

std::string Printable::toString(Verbosity verbosity) const
{
  std::ostringstream out;
  debugPrint("", verbosity, out);
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const Printable& printable)
{
  printable.debugPrint("", VERBOSITY_REGULAR, out);
  return out;
}

} // namespace quorvane
