#ifndef QUORVANE_HEBASE_UTILS_PRINTABLE_H
#define QUORVANE_HEBASE_UTILS_PRINTABLE_H

#include <iostream>
#include <ostream>
#include <string>

namespace quorvane {

/// How much a debug print shows, in increasing order.
enum Verbosity
{
  VERBOSITY_NONE = 0,
  VERBOSITY_LOW = 1,
  VERBOSITY_REGULAR = 2,
  VERBOSITY_DETAILED = 3,
  VERBOSITY_EXTRA_DETAILED = 4
};

/// Interface of objects that describe themselves as text for debugging.
class Printable
{
public:
  virtual ~Printable() {}

  /// Writes a description of the object.
  virtual void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                          std::ostream& out = std::cout) const = 0;

  /// Returns debugPrint's text with an empty title.
  std::string toString(Verbosity verbosity = VERBOSITY_REGULAR) const;
};

/// Writes debugPrint with an empty title and VERBOSITY_REGULAR.
std::ostream& operator<<(std::ostream& out, const Printable& printable);

} // namespace quorvane

#endif
