#ifndef QUORVANE_HEBASE_ROTATEDEPENDENCYMAPPER_H
#define QUORVANE_HEBASE_ROTATEDEPENDENCYMAPPER_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvane {

/// Decomposes rotations into sums of the rotation steps that have keys, using
/// shortest chains found by a breadth-first search over rotations modulo the
/// slot count. The search runs at the first decomposition, so that a context
/// that never decomposes a rotation (or a refused load) does not pay for a map
/// as large as its slot count.
class RotateDependencyMapper
{
public:
  RotateDependencyMapper() = default;
  RotateDependencyMapper(const RotateDependencyMapper& other);
  RotateDependencyMapper& operator=(const RotateDependencyMapper& other);
  ~RotateDependencyMapper();

  /// (Re)sets the slot count and key steps; the chains are built on first use.
  /// Throws std::invalid_argument when numSlots is not positive.
  void init(int numSlots, const std::vector<int>& keySteps);

  /// Appends to steps the key steps whose sum is rotation modulo the slot
  /// count (last step of the chain first) and returns true; returns false and
  /// appends nothing when the rotation is unreachable. Safe to call from
  /// several threads.
  bool decompose(int rotation, std::vector<int>& steps) const;

  bool isInitialized() const { return initialized; }

private:
  /// For each reachable rotation, the key step taken last on its chain and
  /// the chain's length.
  struct Chains
  {
    std::map<int32_t, int32_t> lastStep;
    std::map<int32_t, int32_t> depth;
  };

  int32_t numSlots = 0;
  /// The key steps that can reach a new rotation: the first of each class
  /// modulo the slot count, none that is a multiple of it, in the given order.
  std::vector<int32_t> searchSteps;
  bool initialized = false;
  mutable std::mutex chainsMutex;
  /// Built once, then shared by copies; null until the first decomposition.
  mutable std::shared_ptr<const Chains> chains;

  /// The chains, built by the breadth-first search on first use; throws
  /// std::runtime_error before init.
  std::shared_ptr<const Chains> getChains() const;
};

} // namespace quorvane

#endif
