// Tile reducers: the order in which tiles are combined, the depth of a
// product, and continuing after finish.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "math/LeveledCTileReducer.h"
#include "math/SimpleCTileReducer.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 4;

// Tile t_i holds i + 1 in slot 0; the combine function below records each
// combination as the two slot-0 values and leaves their sum in the accumulator.
std::vector<std::string>* combinations = nullptr;

void recordingAdd(CTile& accumulator, const CTile& operand)
{
  double a = decrypted(accumulator)[0];
  double b = decrypted(operand)[0];
  combinations->push_back(std::to_string(static_cast<int>(a)) + "+" +
                          std::to_string(static_cast<int>(b)));
  accumulator.add(operand);
}

class ReducerOrderTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 10);
  std::vector<std::string> recorded;

  void SetUp() override { combinations = &recorded; }
  void TearDown() override { combinations = nullptr; }

  CTile tile(int i) { return encrypted(*he, std::vector<double>(SLOTS, i)); }
};

TEST_F(ReducerOrderTest, LeveledReducerCombinesEqualLevelsWhilePushing)
{
  CTile result(*he);
  LeveledCTileReducer reducer(result, &recordingAdd);
  for (int i = 1; i <= 7; ++i)
    reducer.push(tile(i));
  // Levels 2, 1, 0 are pending: (1+2)+(3+4), 5+6, 7.
  EXPECT_EQ(recorded, (std::vector<std::string>{"1+2", "3+4", "3+7", "5+6"}));
  recorded.clear();
  reducer.finish();
  // The last slot goes into the one before it, then that into the result.
  EXPECT_EQ(recorded, (std::vector<std::string>{"11+7", "10+18"}));
  EXPECT_EQ(decrypted(result)[0], 28);
  EXPECT_EQ(reducer.getCount(), 7);

  // After finish the result is a slot of level 3: the next tile waits beside it.
  recorded.clear();
  reducer.push(tile(8));
  EXPECT_TRUE(recorded.empty());
  reducer.push(tile(9));
  EXPECT_EQ(recorded, (std::vector<std::string>{"8+9"}));
  reducer.finish();
  EXPECT_EQ(decrypted(result)[0], 45);
}

TEST_F(ReducerOrderTest, EightPushesFoldIntoTheResult)
{
  CTile result(*he);
  LeveledCTileReducer reducer(result, &recordingAdd);
  for (int i = 1; i <= 8; ++i)
    reducer.push(tile(i));
  EXPECT_EQ(recorded, (std::vector<std::string>{"1+2", "3+4", "3+7", "5+6", "7+8", "11+15",
                                                "10+26"}));
  recorded.clear();
  reducer.finish();
  EXPECT_TRUE(recorded.empty());
  EXPECT_EQ(decrypted(result)[0], 36);
}

TEST_F(ReducerOrderTest, ASinglePushIsTheResult)
{
  for (bool leveled : {false, true}) {
    CTile result(*he);
    std::unique_ptr<CTileReducer> reducer;
    if (leveled)
      reducer = std::make_unique<LeveledCTileReducer>(result, &recordingAdd);
    else
      reducer = std::make_unique<SimpleCTileReducer>(result, &recordingAdd);
    CTile t = tile(5);
    reducer->push(t);
    reducer->finish();
    EXPECT_TRUE(recorded.empty());
    EXPECT_EQ(decrypted(result), std::vector<double>(SLOTS, 5));
    // The result is a copy: changing it leaves the pushed tile alone.
    result.addScalar(1.0);
    EXPECT_EQ(decrypted(t), std::vector<double>(SLOTS, 5));
  }
}

TEST_F(ReducerOrderTest, SimpleReducerIsAChain)
{
  CTile result(*he);
  SimpleCTileReducer reducer(result, &recordingAdd);
  for (int i = 1; i <= 4; ++i) {
    reducer.push(tile(i));
    EXPECT_EQ(decrypted(result)[0], i * (i + 1) / 2);
  }
  EXPECT_EQ(recorded, (std::vector<std::string>{"1+2", "3+3", "6+4"}));
}

TEST(CTileReducerTest, ProductDepthIsLogarithmicOnlyWhenLeveled)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 20);
  for (int n = 1; n <= 11; ++n) {
    std::vector<CTile> tiles;
    std::vector<double> expected(SLOTS, 1);
    for (int i = 0; i < n; ++i) {
      std::vector<double> v = randomReals(i, SLOTS, 0.5, 1.5);
      for (int s = 0; s < SLOTS; ++s)
        expected[s] *= v[s];
      tiles.push_back(encrypted(*he, v));
    }
    CTile leveled(*he);
    CTile simple(*he);
    LeveledCTileReducer leveledReducer(leveled, &CTile::multiply);
    SimpleCTileReducer simpleReducer(simple, &CTile::multiply);
    for (const CTile& t : tiles) {
      leveledReducer.push(t);
      simpleReducer.push(t);
    }
    leveledReducer.finish();
    simpleReducer.finish();
    EXPECT_EQ(20 - leveled.getChainIndex(), static_cast<int>(std::ceil(std::log2(n)))) << n;
    EXPECT_EQ(20 - simple.getChainIndex(), n - 1) << n;
    EXPECT_LT(maxError(decrypted(leveled), expected), 1e-13);
    EXPECT_LT(maxError(decrypted(simple), expected), 1e-13);
  }
}

} // namespace
