#ifndef QUORVANE_HEBASE_UTILS_VECTORACCESS_H
#define QUORVANE_HEBASE_UTILS_VECTORACCESS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane {

/// Throws std::out_of_range "invalid vector subscript".
[[noreturn]] void throwInvalidSubscript();

/// Element i of v; an index outside [0, size) throws as throwInvalidSubscript.
template <typename T>
T& checkedAt(std::vector<T>& v, int64_t i)
{
  if (i < 0 || static_cast<uint64_t>(i) >= v.size())
    throwInvalidSubscript();
  return v[static_cast<size_t>(i)];
}

template <typename T>
const T& checkedAt(const std::vector<T>& v, int64_t i)
{
  if (i < 0 || static_cast<uint64_t>(i) >= v.size())
    throwInvalidSubscript();
  return v[static_cast<size_t>(i)];
}

} // namespace quorvane

#endif
