#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hebase/RotateDependencyMapper.h"

using namespace quorvane;

namespace {

struct DecomposeCase
{
  int numSlots;
  std::vector<int> keySteps;
  int rotation;
  bool reachable;
  std::vector<int> expectedSteps;
};

class RotateDependencyMapperTable : public ::testing::TestWithParam<DecomposeCase>
{
};

int nonNegativeMod(int64_t a, int m) { return static_cast<int>(((a % m) + m) % m); }

/// The search as written down: every key step, in order, tried from every
/// reached rotation in queue order; the first step to reach a rotation is its
/// last step.
std::map<int, int> referenceLastSteps(int numSlots, const std::vector<int>& keySteps)
{
  std::map<int, int> lastStep{{0, 0}};
  std::deque<int> queue{0};
  while (!queue.empty()) {
    int r = queue.front();
    queue.pop_front();
    for (int t : keySteps) {
      int w = nonNegativeMod(static_cast<int64_t>(r) + t, numSlots);
      if (lastStep.emplace(w, t).second)
        queue.push_back(w);
    }
  }
  return lastStep;
}

/// Every rotation of the slot range decomposed by the mapper; unreachable
/// rotations give a lone -1.
std::vector<std::vector<int>> allDecompositions(const RotateDependencyMapper& mapper,
                                                int numSlots)
{
  std::vector<std::vector<int>> all;
  for (int r = 0; r < numSlots; ++r) {
    std::vector<int> steps;
    if (!mapper.decompose(r, steps))
      steps = {-1};
    all.push_back(steps);
  }
  return all;
}

} // namespace

TEST_P(RotateDependencyMapperTable, DecomposesIntoShortestChain)
{
  const DecomposeCase& c = GetParam();
  RotateDependencyMapper mapper;
  mapper.init(c.numSlots, c.keySteps);
  std::vector<int> steps = {99}; // existing entries are kept
  EXPECT_EQ(mapper.decompose(c.rotation, steps), c.reachable);
  std::vector<int> expected = {99};
  expected.insert(expected.end(), c.expectedSteps.begin(), c.expectedSteps.end());
  EXPECT_EQ(steps, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RotateDependencyMapperTable,
    ::testing::Values(DecomposeCase{8, {1}, 3, true, {1, 1, 1}},
                      DecomposeCase{8, {1}, -1, true, {1, 1, 1, 1, 1, 1, 1}},
                      DecomposeCase{8, {1}, 8, true, {}},
                      DecomposeCase{8, {1}, 0, true, {}},
                      DecomposeCase{16, {1, 2, 4}, 7, true, {4, 2, 1}},
                      DecomposeCase{16, {1, 2, 4}, 6, true, {4, 2}},
                      DecomposeCase{16, {4}, 0, true, {}},
                      DecomposeCase{16, {4}, 4, true, {4}},
                      DecomposeCase{16, {4}, 8, true, {4, 4}},
                      DecomposeCase{16, {4}, 12, true, {4, 4, 4}},
                      DecomposeCase{16, {4}, 2, false, {}},
                      DecomposeCase{8, {}, 0, true, {}},
                      DecomposeCase{8, {}, 1, false, {}},
                      DecomposeCase{8, {-1}, 1, true, {-1, -1, -1, -1, -1, -1, -1}},
                      DecomposeCase{8, {-1}, -2, true, {-1, -1}},
                      // Ties go to the chain found first: key step order decides.
                      DecomposeCase{8, {3, 5}, 2, true, {5, 5}},
                      DecomposeCase{16, {2, 3}, 5, true, {3, 2}},
                      DecomposeCase{16, {3, 2}, 5, true, {2, 3}},
                      // Rotations far outside the slot range are reduced.
                      DecomposeCase{16, {1, 2, 4}, 16 * 1000 + 7, true, {4, 2, 1}},
                      DecomposeCase{16, {1, 2, 4}, -16 * 1000 - 9, true, {4, 2, 1}},
                      DecomposeCase{1, {5}, 123, true, {}}));

TEST(RotateDependencyMapper, StepsSumToRotationForEveryReachableRotation)
{
  RotateDependencyMapper mapper;
  mapper.init(32, {1, -3, 8});
  for (int rotation = -40; rotation <= 40; ++rotation) {
    std::vector<int> steps;
    ASSERT_TRUE(mapper.decompose(rotation, steps));
    int sum = 0;
    for (int s : steps)
      sum += s;
    EXPECT_EQ(((sum - rotation) % 32 + 32) % 32, 0) << "rotation " << rotation;
  }
}

TEST(RotateDependencyMapper, RefusesNonPositiveSlotCount)
{
  for (int numSlots : {0, -4}) {
    RotateDependencyMapper mapper;
    try {
      mapper.init(numSlots, {1});
      FAIL() << "accepted " << numSlots;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(),
                   ("Slot count must be positive. Recieved: " + std::to_string(numSlots)).c_str());
    }
    EXPECT_FALSE(mapper.isInitialized());
  }
}

TEST(RotateDependencyMapper, DecomposeBeforeInitIsRefused)
{
  RotateDependencyMapper mapper;
  std::vector<int> steps;
  try {
    mapper.decompose(1, steps);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "RotateDependencyMapper not initialized");
  }
  EXPECT_TRUE(steps.empty());
}

TEST(RotateDependencyMapper, SecondInitReplacesMaps)
{
  RotateDependencyMapper mapper;
  mapper.init(16, {1});
  std::vector<int> steps;
  ASSERT_TRUE(mapper.decompose(3, steps));
  EXPECT_EQ(steps, (std::vector<int>{1, 1, 1}));
  mapper.init(16, {4});
  steps.clear();
  EXPECT_FALSE(mapper.decompose(3, steps));
  EXPECT_TRUE(steps.empty());
  ASSERT_TRUE(mapper.decompose(8, steps));
  EXPECT_EQ(steps, (std::vector<int>{4, 4}));
  // A refused init leaves no usable map behind.
  EXPECT_THROW(mapper.init(0, {1}), std::invalid_argument);
  EXPECT_FALSE(mapper.isInitialized());
  try {
    mapper.decompose(8, steps);
    FAIL() << "decomposed with a refused slot count";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "RotateDependencyMapper not initialized");
  }
}

// Steps that repeat another modulo the slot count, or are multiples of it, add
// no chain: every decomposition is the one the search over all steps gives.
TEST(RotateDependencyMapper, RepeatedAndMultipleStepsChangeNoChain)
{
  struct Case
  {
    int numSlots;
    std::vector<int> keySteps;
  };
  for (const Case& c : {Case{16, {1, 17, -15, 0, 16, 2, 1}}, Case{16, {17, 1, 2}},
                        Case{12, {8, 4, -4, 20, 3}}, Case{32, {48, 16, 5, -27, 5}},
                        Case{8, {0, 8, -8}}, Case{10, {4, 6, 14, -6}},
                        Case{64, {2147483647, -2147483647 - 1, 3}}, Case{1, {0, 1, -1}}}) {
    RotateDependencyMapper mapper;
    mapper.init(c.numSlots, c.keySteps);
    const std::map<int, int> lastStep = referenceLastSteps(c.numSlots, c.keySteps);
    for (int r = 0; r < c.numSlots; ++r) {
      std::vector<int> expected;
      const bool reachable = lastStep.count(r) > 0;
      for (int at = r; reachable && at != 0;
           at = nonNegativeMod(static_cast<int64_t>(at) - lastStep.at(at), c.numSlots))
        expected.push_back(lastStep.at(at));
      std::vector<int> steps;
      EXPECT_EQ(mapper.decompose(r, steps), reachable) << c.numSlots << " slots, rotation " << r;
      EXPECT_EQ(steps, expected) << c.numSlots << " slots, rotation " << r;
    }
  }
}

TEST(RotateDependencyMapper, CopiesDecomposeAlike)
{
  RotateDependencyMapper mapper;
  mapper.init(64, {1, -8, 5});
  RotateDependencyMapper before(mapper);
  const auto expected = allDecompositions(mapper, 64);
  RotateDependencyMapper after(mapper);
  RotateDependencyMapper assigned;
  assigned = mapper;
  EXPECT_EQ(allDecompositions(before, 64), expected);
  EXPECT_EQ(allDecompositions(after, 64), expected);
  EXPECT_EQ(allDecompositions(assigned, 64), expected);
  // A copy of a mapper that was never initialised is not initialised either.
  RotateDependencyMapper empty;
  RotateDependencyMapper emptyCopy(empty);
  EXPECT_FALSE(emptyCopy.isInitialized());
  assigned = empty;
  std::vector<int> steps;
  EXPECT_THROW(assigned.decompose(1, steps), std::runtime_error);
}

// The first decompositions may come from several threads at once.
TEST(RotateDependencyMapper, FirstDecompositionsFromSeveralThreads)
{
  RotateDependencyMapper reference;
  reference.init(4096, {1, 3, 64, -512});
  const auto expected = allDecompositions(reference, 4096);
  RotateDependencyMapper mapper;
  mapper.init(4096, {1, 3, 64, -512});
  std::vector<std::vector<std::vector<int>>> results(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = allDecompositions(mapper, 4096); });
  for (std::thread& t : threads)
    t.join();
  for (const auto& result : results)
    EXPECT_EQ(result, expected);
}
