#include "hebase/utils/RandomId.h"

#include <mutex>
#include <random>

namespace quorvane {

int32_t drawRandomId()
{
  static std::mutex mutex;
  static std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  std::lock_guard<std::mutex> lock(mutex);
  return std::uniform_int_distribution<int32_t>(1, INT32_MAX)(engine);
}

} // namespace quorvane
