#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "hebase/utils/Assert.h"
#include "math/OffsettingTensorIteratorTarget.h"
#include "math/ProjectingTensorIteratorTarget.h"
#include "math/TensorIterator.h"
#include "math/TensorProjection.h"

using namespace quorvane;

namespace {

using Calls = std::vector<std::pair<int, int>>;

// Records every index change it is told of.
class RecordingTarget : public TensorIteratorTarget
{
public:
  void setDimIndex(int dim, int value) override { calls.emplace_back(dim, value); }
  Calls calls;
};

class InvalidIterator : public TensorIterator
{
public:
  using TensorIterator::TensorIterator;
  bool isValid() const override { return false; }
};

struct Visit
{
  std::vector<int> indices;
  int pos;
  bool operator==(const Visit& o) const { return indices == o.indices && pos == o.pos; }
};

std::vector<Visit> walk(TensorIterator& it)
{
  std::vector<Visit> visits;
  do {
    visits.push_back({it.getIndices(), it.getPos()});
  } while (it.next());
  return visits;
}

std::string printed(const TensorIterator& it)
{
  std::ostringstream out;
  out << it;
  return out.str();
}

} // namespace

TEST(TensorIterator, VisitOrderAndPositions)
{
  struct Case
  {
    std::vector<int> dims;
    bool firstOrder;
    std::vector<Visit> expected;
  };
  const std::vector<Case> cases = {
      {{2, 3},
       true,
       {{{0, 0}, 0}, {{1, 0}, 1}, {{0, 1}, 2}, {{1, 1}, 3}, {{0, 2}, 4}, {{1, 2}, 5}}},
      {{2, 3},
       false,
       {{{0, 0}, 0}, {{0, 1}, 1}, {{0, 2}, 2}, {{1, 0}, 3}, {{1, 1}, 4}, {{1, 2}, 5}}},
      {{2, 1, 3},
       true,
       {{{0, 0, 0}, 0}, {{1, 0, 0}, 1}, {{0, 0, 1}, 2}, {{1, 0, 1}, 3}, {{0, 0, 2}, 4},
        {{1, 0, 2}, 5}}},
      {{2, 1, 3},
       false,
       {{{0, 0, 0}, 0}, {{0, 0, 1}, 1}, {{0, 0, 2}, 2}, {{1, 0, 0}, 3}, {{1, 0, 1}, 4},
        {{1, 0, 2}, 5}}},
      {{}, true, {{{}, 0}}},
      {{1, 1}, false, {{{0, 0}, 0}}},
  };
  for (const Case& c : cases) {
    TensorIterator it(c.dims, c.firstOrder);
    EXPECT_EQ(walk(it), c.expected) << "first order " << c.firstOrder << " order "
                                    << c.dims.size();
    EXPECT_EQ(it.getSize(), static_cast<int>(c.expected.size()));
    // After the last position the iterator is back at its start.
    EXPECT_EQ(it.getPos(), 0);
    EXPECT_EQ(it.getIndices(), std::vector<int>(c.dims.size(), 0));
  }
}

TEST(TensorIterator, PositionsAreStridedSumsAndIncreasing)
{
  for (bool firstOrder : {true, false}) {
    TensorIterator it({3, 2, 4}, firstOrder);
    const std::vector<int> expectedStrides =
        firstOrder ? std::vector<int>{1, 3, 6} : std::vector<int>{8, 4, 1};
    EXPECT_EQ(it.getStrides(), expectedStrides);
    int expectedPos = 0;
    do {
      int sum = 0;
      for (int d = 0; d < 3; ++d)
        sum += it.getIndex(d) * expectedStrides[d];
      ASSERT_EQ(it.getPos(), expectedPos);
      ASSERT_EQ(sum, expectedPos);
      ++expectedPos;
    } while (it.next());
    EXPECT_EQ(expectedPos, 24);
  }
}

TEST(TensorIterator, ClampedDimensionStaysWhileOthersMove)
{
  TensorIterator it({2, 3}, true);
  it.clamp(1, 2);
  EXPECT_EQ(it.getPos(), 4);
  std::vector<int> positions;
  do {
    positions.push_back(it.getPos());
  } while (it.next());
  EXPECT_EQ(positions, (std::vector<int>{4, 5}));
  EXPECT_EQ(it.getPos(), 4);
  EXPECT_EQ(it.getIndices(), (std::vector<int>{0, 2}));
  EXPECT_TRUE(it.isClamped(1));
  EXPECT_FALSE(it.isClamped(0));
}

TEST(TensorIterator, AllDimensionsClampedOrTrivialStopAtOnce)
{
  TensorIterator it({2, 1}, false);
  it.clamp(0, 1);
  EXPECT_FALSE(it.next());
  EXPECT_EQ(it.getPos(), 1);
}

TEST(TensorIterator, ClampTwice)
{
  TensorIterator it({2, 3}, true);
  it.clamp(1, 2);
  EXPECT_NO_THROW(it.clamp(1, 2));
  try {
    it.clamp(1, 1);
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Can't clamp dim 1 to 1, it is already clamped to a different value 2");
  }
  EXPECT_EQ(it.getPos(), 4);
}

TEST(TensorIterator, ClampOutsideOrderIsOutOfRange)
{
  for (int dim : {2, 7, -1}) {
    TensorIterator it({2, 3}, true);
    EXPECT_THROW(it.clamp(dim, 0), std::out_of_range) << dim;
    EXPECT_EQ(it.getPos(), 0);
  }
}

TEST(TensorIterator, SettingClampedDimension)
{
  TensorIterator it({2, 3}, true);
  it.clamp(1, 2);
  EXPECT_NO_THROW(it.setDimIndex(1, 2));
  try {
    it.setDimIndex(1, 0);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot set value to clamped dim 1");
  }
  it.setDimIndex(0, 1);
  EXPECT_EQ(it.getPos(), 5);
}

TEST(TensorIterator, SetDimIndexTellsTargetOnlyOfChanges)
{
  TensorIterator it({2, 3}, false);
  RecordingTarget target;
  it.setTarget(&target);
  target.calls.clear();
  it.setDimIndex(1, 0);
  EXPECT_TRUE(target.calls.empty());
  it.setDimIndex(1, 2);
  it.setDimIndex(0, 1);
  EXPECT_EQ(target.calls, (Calls{{1, 2}, {0, 1}}));
  EXPECT_EQ(it.getPos(), 5);
}

TEST(TensorIterator, SetTargetTellsEveryCurrentIndex)
{
  TensorIterator it({2, 3, 4}, true);
  it.setDimIndex(1, 2);
  RecordingTarget target;
  it.setTarget(&target);
  EXPECT_EQ(target.calls, (Calls{{0, 0}, {1, 2}, {2, 0}}));
}

TEST(TensorIterator, NullTargetDetaches)
{
  TensorIterator it({2, 2}, true);
  RecordingTarget target;
  it.setTarget(&target);
  it.setTarget(nullptr);
  target.calls.clear();
  while (it.next()) {
  }
  EXPECT_TRUE(target.calls.empty());
}

TEST(TensorIterator, NextTellsTargetOfStepsAndCarries)
{
  TensorIterator it({2, 2}, true);
  RecordingTarget target;
  it.setTarget(&target);
  target.calls.clear();
  while (it.next()) {
  }
  EXPECT_EQ(target.calls, (Calls{{0, 1}, {0, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}}));
}

TEST(TensorIterator, NextInDim)
{
  TensorIterator it({3, 1}, true);
  EXPECT_FALSE(it.nextInDim(1));
  EXPECT_TRUE(it.nextInDim(0));
  EXPECT_TRUE(it.nextInDim(0));
  EXPECT_EQ(it.getPos(), 2);
  EXPECT_FALSE(it.nextInDim(0));
  EXPECT_EQ(it.getPos(), 0);
  EXPECT_EQ(it.getIndex(0), 0);
}

TEST(TensorIterator, SetFlatIndexTellsTargetEveryDimension)
{
  struct Case
  {
    bool firstOrder;
    int flat;
    std::vector<int> indices;
    Calls calls;
  };
  const std::vector<Case> cases = {
      {true, 5, {1, 2}, {{0, 1}, {1, 2}}},
      {true, 2, {0, 1}, {{0, 0}, {1, 1}}},
      {false, 5, {1, 2}, {{1, 2}, {0, 1}}},
      {false, 1, {0, 1}, {{1, 1}, {0, 0}}},
  };
  for (const Case& c : cases) {
    TensorIterator it({2, 3}, c.firstOrder);
    RecordingTarget target;
    it.setTarget(&target);
    target.calls.clear();
    it.setFlatIndex(c.flat);
    EXPECT_EQ(it.getIndices(), c.indices);
    EXPECT_EQ(it.getPos(), c.flat);
    EXPECT_EQ(target.calls, c.calls);
  }
}

TEST(TensorIterator, SetFlatIndexRefusedWhenClamped)
{
  TensorIterator it({2, 3}, true);
  it.clamp(0, 0);
  try {
    it.setFlatIndex(1);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Setting flat index to a clamped iterator not supported");
  }
}

TEST(TensorIterator, ResetClearsClampsAndIndices)
{
  TensorIterator it({2, 3}, true);
  RecordingTarget target;
  it.setTarget(&target);
  it.clamp(1, 2);
  it.setDimIndex(0, 1);
  target.calls.clear();
  it.reset();
  EXPECT_EQ(it.getPos(), 0);
  EXPECT_FALSE(it.isClamped(1));
  EXPECT_EQ(target.calls, (Calls{{0, 0}, {1, 0}}));
  EXPECT_NO_THROW(it.setFlatIndex(3));
  EXPECT_EQ(printed(it).find("Clamped"), std::string::npos);
}

TEST(TensorIterator, NextAssertsValidity)
{
  InvalidIterator it({2}, true);
  try {
    it.next();
    FAIL();
  } catch (const assert_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("math/TensorIterator.cpp:"), std::string::npos) << message;
    EXPECT_NE(message.find(": next: Assertion failed: isValid()"), std::string::npos) << message;
  }
}

TEST(TensorIterator, DebugPrint)
{
  TensorIterator it({2, 3}, true);
  it.next();
  EXPECT_EQ(printed(it), "TensorIterator for [2, 3]\n\tCurrent indices: [1, 0]\n\tPos: 1");
  it.clamp(1, 2);
  EXPECT_EQ(printed(it),
            "TensorIterator for [2, 3]\n\tCurrent indices: [1, 2]\n\tPos: 5\n\tClamped: false true");
}

TEST(TensorIteratorTarget, ProjectingTargetLeavesBroadcastDimensionsAtZero)
{
  TensorIterator driver({3, 4}, true);
  TensorIterator driven({1, 4}, true);
  ProjectingTensorIteratorTarget projecting(driven);
  driver.setTarget(&projecting);
  std::vector<int> drivenPositions;
  do {
    ASSERT_EQ(driven.getIndex(1), driver.getIndex(1));
    ASSERT_EQ(driven.getIndex(0), 0);
    drivenPositions.push_back(driven.getPos());
  } while (driver.next());
  EXPECT_EQ(drivenPositions, (std::vector<int>{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3}));
}

TEST(TensorIteratorTarget, OffsettingTargetShiftsOneDimension)
{
  TensorIterator driver({2, 3}, true);
  TensorIterator wrapped({5, 3}, true);
  OffsettingTensorIteratorTarget offsetting(wrapped, 0, 2);
  driver.setTarget(&offsetting);
  EXPECT_EQ(wrapped.getIndices(), (std::vector<int>{2, 0}));
  driver.setDimIndex(0, 1);
  EXPECT_EQ(wrapped.getIndices(), (std::vector<int>{3, 0}));
  driver.setDimIndex(1, 2);
  EXPECT_EQ(wrapped.getIndices(), (std::vector<int>{3, 2}));
  EXPECT_EQ(wrapped.getPos(), 3 + 2 * 5);
}

TEST(TensorIteratorTarget, OffsettingTargetWalksASlice)
{
  // Rows 1..2 of a 4x3 row-major array.
  TensorIterator slice({2, 3}, false);
  TensorIterator whole({4, 3}, false);
  OffsettingTensorIteratorTarget offsetting(whole, 0, 1);
  slice.setTarget(&offsetting);
  std::vector<int> positions;
  do {
    positions.push_back(whole.getPos());
  } while (slice.next());
  EXPECT_EQ(positions, (std::vector<int>{3, 4, 5, 6, 7, 8}));
}

TEST(TensorProjection, ProjectsBroadcastOperands)
{
  TensorProjection projection({4, 3}, {4, 1}, {1, 3});
  int first = -1, second = -1;
  projection.project(7, first, second);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second, 1);
  for (int r = 0; r < 12; ++r) {
    projection.project(r, first, second);
    EXPECT_EQ(first, r % 4) << r;
    EXPECT_EQ(second, r / 4) << r;
  }
}

TEST(TensorProjection, FullSizedOperandsFollowTheResult)
{
  TensorProjection projection({2, 3, 2}, {2, 3, 2}, {1, 3, 1});
  for (int r = 0; r < 12; ++r) {
    int first = -1, second = -1;
    projection.project(r, first, second);
    EXPECT_EQ(first, r);
    EXPECT_EQ(second, (r / 2) % 3);
  }
}

TEST(TensorProjection, Refusals)
{
  struct Case
  {
    std::vector<int> result, first, second;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{4, 3}, {4}, {1, 3}, "Internal error: mismatching sizes"},
      {{4, 3}, {4, 3}, {3}, "Internal error: mismatching sizes"},
      {{4, 3}, {2, 3}, {1, 3}, "Internal error: projected tensors are incompatible with src tensor"},
      {{4, 3}, {4, 3}, {4, 6}, "Internal error: projected tensors are incompatible with src tensor"},
  };
  for (const Case& c : cases) {
    try {
      TensorProjection projection(c.result, c.first, c.second);
      ADD_FAILURE() << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}
