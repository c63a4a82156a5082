#include "hebase/RotateDependencyMapper.h"

#include <deque>
#include <stdexcept>
#include <string>

#include "math/MathUtils.h"

namespace quorvane {

void RotateDependencyMapper::init(int slots, const std::vector<int>& keySteps)
{
  numSlots = slots;
  // A refused slot count leaves no map behind that could be used with it.
  initialized = false;
  lastStep.clear();
  depth.clear();
  if (slots <= 0)
    throw std::invalid_argument("Slot count must be positive. Recieved: " +
                                std::to_string(slots));
  lastStep[0] = 0;
  depth[0] = 0;
  std::deque<int> queue{0};
  while (!queue.empty()) {
    int rotation = queue.front();
    queue.pop_front();
    int currentDepth = depth.at(rotation);
    for (int step : keySteps) {
      // In 64 bits: the sum of two values below slots may leave the int range.
      int reached = static_cast<int>(
          (static_cast<int64_t>(rotation) + MathUtils::mod(step, slots)) % slots);
      if (lastStep.emplace(reached, step).second) {
        queue.push_back(reached);
        depth[reached] = currentDepth + 1;
      }
    }
  }
  initialized = true;
}

bool RotateDependencyMapper::decompose(int rotation, std::vector<int>& steps) const
{
  if (!initialized)
    throw std::runtime_error("RotateDependencyMapper not initialized");
  int current = MathUtils::mod(rotation, numSlots);
  if (lastStep.count(current) == 0)
    return false;
  while (current != 0) {
    int step = lastStep.at(current);
    steps.push_back(step);
    current = static_cast<int>(
        (static_cast<int64_t>(current) - MathUtils::mod(step, numSlots) + numSlots) % numSlots);
  }
  return true;
}

} // namespace quorvane
