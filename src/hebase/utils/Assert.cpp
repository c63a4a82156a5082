#include "hebase/utils/Assert.h"

#include <sstream>

namespace quorvane {

namespace {

std::string assertMessage(const char* condition, const char* file, int line,
                          const char* function)
{
  std::ostringstream message;
  message << file << ":" << line << ": " << function << ": Assertion failed: " << condition;
  return message.str();
}

} // namespace

void throwAssertError(const char* condition, const char* file, int line, const char* function)
{
  throw assert_error(assertMessage(condition, file, line, function));
}

void throwAssertError(const char* condition, const char* file, int line, const char* function,
                      const std::string& explanation)
{
  throw assert_error(assertMessage(condition, file, line, function) + " " + explanation);
}

std::ostream& operator<<(std::ostream& out, const std::vector<int>& values)
{
  out << "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0)
      out << ", ";
    out << values[i];
  }
  return out << "]";
}

} // namespace quorvane
