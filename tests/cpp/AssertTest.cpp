#include <gtest/gtest.h>

#include <sstream>

#include "hebase/utils/Assert.h"

using namespace quorvane;

namespace {

const int checkedInLine = __LINE__ + 5;

int checkedIn(int mode)
{
  const int OPEN_IN = 1;
  QV_ASSERT(mode == OPEN_IN);
  return mode;
}

void explained(bool ok)
{
  QV_ASSERT(ok, "boxes and titles do not match");
}

} // namespace

TEST(Assert, MessageNamesFileLineFunctionAndCondition)
{
  EXPECT_EQ(checkedIn(1), 1);
  try {
    checkedIn(2);
    FAIL();
  } catch (const assert_error& e) {
    // The path is relative to the source root, which holds the tests' sibling tree.
    std::string message = e.what();
    std::string expectedTail = ": checkedIn: Assertion failed: mode == OPEN_IN";
    ASSERT_GE(message.size(), expectedTail.size());
    EXPECT_EQ(message.substr(message.size() - expectedTail.size()), expectedTail);
    std::string location = "AssertTest.cpp:" + std::to_string(checkedInLine);
    EXPECT_EQ(message.find(location + ": "), message.size() - expectedTail.size() -
                                                 location.size());
  }
}

TEST(Assert, ExplanationFollowsCondition)
{
  try {
    explained(false);
    FAIL();
  } catch (const std::runtime_error& e) {
    std::string message = e.what();
    std::string tail = ": explained: Assertion failed: ok boxes and titles do not match";
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
  }
}

TEST(Assert, LibraryPathsAreRelativeToSourceRoot)
{
  std::string message;
  try {
    throwAssertError("x", "hebase/Buffer.cpp", 57, "in");
  } catch (const assert_error& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "hebase/Buffer.cpp:57: in: Assertion failed: x");
}

TEST(Assert, VectorOfIntPrints)
{
  std::ostringstream out;
  out << std::vector<int>{1, 2, 3} << std::vector<int>{};
  EXPECT_EQ(out.str(), "[1, 2, 3][]");
}
