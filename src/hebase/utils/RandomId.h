#ifndef QUORVANE_HEBASE_UTILS_RANDOMID_H
#define QUORVANE_HEBASE_UTILS_RANDOMID_H

#include <cstdint>

namespace quorvane {

/// A random id in [1, 2^31 - 1], from a 64-bit engine seeded once per process
/// by the system's random source. Thread-safe.
int32_t drawRandomId();

} // namespace quorvane

#endif
