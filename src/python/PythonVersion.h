#ifndef QUORVANE_PYTHON_PYTHONVERSION_H
#define QUORVANE_PYTHON_PYTHONVERSION_H

#include <cctype>
#include <cstring>

namespace quorvane {

/// The interpreter version this module is built for.
constexpr const char* SUPPORTED_PYTHON_VERSION = "3.11";

/// True when the version string begins with "3.11" not followed by a digit.
inline bool isSupportedPythonVersion(const char* version)
{
  size_t n = std::strlen(SUPPORTED_PYTHON_VERSION);
  if (std::strncmp(version, SUPPORTED_PYTHON_VERSION, n) != 0)
    return false;
  return !std::isdigit(static_cast<unsigned char>(version[n]));
}

} // namespace quorvane

#endif
