#include "hebase/RotateDependencyMapper.h"

#include <deque>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "math/MathUtils.h"

namespace quorvane {

RotateDependencyMapper::RotateDependencyMapper(const RotateDependencyMapper& other)
{
  *this = other;
}

RotateDependencyMapper& RotateDependencyMapper::operator=(const RotateDependencyMapper& other)
{
  if (this == &other)
    return *this;
  std::shared_ptr<const Chains> otherChains;
  {
    std::lock_guard<std::mutex> lock(other.chainsMutex);
    otherChains = other.chains;
  }
  std::lock_guard<std::mutex> lock(chainsMutex);
  numSlots = other.numSlots;
  searchSteps = other.searchSteps;
  initialized = other.initialized;
  chains = std::move(otherChains);
  return *this;
}

RotateDependencyMapper::~RotateDependencyMapper() {}

void RotateDependencyMapper::init(int slots, const std::vector<int>& keySteps)
{
  std::lock_guard<std::mutex> lock(chainsMutex);
  numSlots = slots;
  // A refused slot count leaves no map behind that could be used with it.
  initialized = false;
  searchSteps.clear();
  chains.reset();
  if (slots <= 0)
    throw std::invalid_argument("Slot count must be positive. Recieved: " +
                                std::to_string(slots));
  // A step that is a multiple of the slot count, or congruent to an earlier
  // step, never reaches a rotation the search has not reached before it:
  // leaving it out changes no chain and bounds the search by the slot count.
  std::unordered_set<int32_t> seen{0};
  for (int step : keySteps)
    if (seen.size() < static_cast<size_t>(slots) && seen.insert(MathUtils::mod(step, slots)).second)
      searchSteps.push_back(step);
  initialized = true;
}

std::shared_ptr<const RotateDependencyMapper::Chains> RotateDependencyMapper::getChains() const
{
  std::lock_guard<std::mutex> lock(chainsMutex);
  if (!initialized)
    throw std::runtime_error("RotateDependencyMapper not initialized");
  if (chains)
    return chains;
  auto built = std::make_shared<Chains>();
  // The rotations reachable from 0 are the multiples of the greatest common
  // divisor of the slot count and the steps: the search stops once it has
  // reached them all.
  int64_t divisor = numSlots;
  for (int step : searchSteps)
    divisor = std::gcd<int64_t, int64_t>(divisor, MathUtils::mod(step, numSlots));
  const size_t reachable = static_cast<size_t>(numSlots / divisor);
  built->lastStep[0] = 0;
  built->depth[0] = 0;
  std::deque<int> queue{0};
  while (!queue.empty() && built->lastStep.size() < reachable) {
    int rotation = queue.front();
    queue.pop_front();
    int currentDepth = built->depth.at(rotation);
    for (int step : searchSteps) {
      // In 64 bits: the sum of two values below slots may leave the int range.
      int reached = static_cast<int>(
          (static_cast<int64_t>(rotation) + MathUtils::mod(step, numSlots)) % numSlots);
      if (built->lastStep.emplace(reached, step).second) {
        queue.push_back(reached);
        built->depth[reached] = currentDepth + 1;
      }
    }
  }
  chains = std::move(built);
  return chains;
}

bool RotateDependencyMapper::decompose(int rotation, std::vector<int>& steps) const
{
  std::shared_ptr<const Chains> built = getChains();
  int current = MathUtils::mod(rotation, numSlots);
  if (built->lastStep.count(current) == 0)
    return false;
  while (current != 0) {
    int step = built->lastStep.at(current);
    steps.push_back(step);
    current = static_cast<int>(
        (static_cast<int64_t>(current) - MathUtils::mod(step, numSlots) + numSlots) % numSlots);
  }
  return true;
}

} // namespace quorvane
