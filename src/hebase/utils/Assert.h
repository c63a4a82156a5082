#ifndef QUORVANE_HEBASE_UTILS_ASSERT_H
#define QUORVANE_HEBASE_UTILS_ASSERT_H

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane {

/// Exception thrown by failed internal assertions.
class assert_error : public std::runtime_error
{
public:
  explicit assert_error(const std::string& message) : std::runtime_error(message) {}
};

/// Throws assert_error with "<file>:<line>: <function>: Assertion failed: <condition>".
[[noreturn]] void throwAssertError(const char* condition, const char* file, int line,
                                   const char* function);

/// Same as above, followed by " " and the explanation.
[[noreturn]] void throwAssertError(const char* condition, const char* file, int line,
                                   const char* function, const std::string& explanation);

/// Writes "[a, b, c]".
std::ostream& operator<<(std::ostream& out, const std::vector<int>& values);

} // namespace quorvane

// Always-active assertion: QV_ASSERT(condition) or QV_ASSERT(condition, explanation).
#define QV_ASSERT_1(cond)                                                       \
  do {                                                                          \
    if (!(cond))                                                                \
      ::quorvane::throwAssertError(#cond, __FILE__, __LINE__, __func__);        \
  } while (false)
#define QV_ASSERT_2(cond, explanation)                                          \
  do {                                                                          \
    if (!(cond))                                                                \
      ::quorvane::throwAssertError(#cond, __FILE__, __LINE__, __func__,         \
                                   (explanation));                              \
  } while (false)
#define QV_ASSERT_PICK(_1, _2, NAME, ...) NAME
#define QV_ASSERT(...) QV_ASSERT_PICK(__VA_ARGS__, QV_ASSERT_2, QV_ASSERT_1, unused)(__VA_ARGS__)

#endif
