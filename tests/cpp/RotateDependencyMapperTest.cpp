#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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
