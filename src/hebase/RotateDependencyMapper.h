#ifndef QUORVANE_HEBASE_ROTATEDEPENDENCYMAPPER_H
#define QUORVANE_HEBASE_ROTATEDEPENDENCYMAPPER_H

#include <cstdint>
#include <map>
#include <vector>

namespace quorvane {

/// Decomposes rotations into sums of the rotation steps that have keys, using
/// shortest chains found by a breadth-first search over rotations modulo the
/// slot count.
class RotateDependencyMapper
{
public:
  /// (Re)builds the chains for the given slot count and key steps.
  /// Throws std::invalid_argument when numSlots is not positive.
  void init(int numSlots, const std::vector<int>& keySteps);

  /// Appends to steps the key steps whose sum is rotation modulo the slot
  /// count (last step of the chain first) and returns true; returns false and
  /// appends nothing when the rotation is unreachable.
  bool decompose(int rotation, std::vector<int>& steps) const;

  bool isInitialized() const { return initialized; }

private:
  int32_t numSlots = 0;
  std::map<int32_t, int32_t> lastStep;
  std::map<int32_t, int32_t> depth;
  bool initialized = false;
};

} // namespace quorvane

#endif
