#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/PublicFunctions.h"

using namespace quorvane;
using namespace qvtest;

TEST(PublicFunctions, DefaultsAndClear)
{
  PublicFunctions pf;
  EXPECT_TRUE(pf.encrypt);
  EXPECT_TRUE(pf.relinearize);
  EXPECT_EQ(pf.rotate, DEFAULT_ROTATIONS);
  EXPECT_EQ(pf.conjugate, DEFAULT);
  EXPECT_TRUE(pf.rotationSteps.empty());
  EXPECT_EQ(NO_ROTATIONS, 0);
  EXPECT_EQ(CUSTOM_ROTATIONS, 2);
  EXPECT_EQ(FALSE, 0);
  EXPECT_EQ(TRUE, 2);
  EXPECT_EQ(sizeof(RotationSetType), 4u);

  pf.rotationSteps = {1, 2};
  pf.clear();
  EXPECT_FALSE(pf.encrypt);
  EXPECT_FALSE(pf.relinearize);
  EXPECT_EQ(pf.rotate, NO_ROTATIONS);
  EXPECT_EQ(pf.conjugate, FALSE);
  EXPECT_TRUE(pf.rotationSteps.empty());
  EXPECT_EQ(pf.toString(VERBOSITY_DETAILED), "Object (detailed printing not implemented yet)");
}

TEST(PublicFunctions, ValidateRefusesStepsWithoutCustomRotations)
{
  const char* message = "invalid PublicFunctions: \"rotate\" is set to DEFAULT_ROTATIONS but "
                        "\"rotationStpes\" vector is not empty";
  for (RotationSetType rotate : {NO_ROTATIONS, DEFAULT_ROTATIONS}) {
    SCOPED_TRACE(rotate);
    PublicFunctions pf = publicFunctions(true, true, rotate, DEFAULT, {3});
    try {
      pf.validate();
      FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), message);
    }
    pf.rotationSteps.clear();
    EXPECT_NO_THROW(pf.validate());
  }
  EXPECT_NO_THROW(publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT).validate());
  EXPECT_NO_THROW(publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1, -1}).validate());
}

TEST(PublicFunctions, IsSubsetOf)
{
  struct Case
  {
    const char* name;
    PublicFunctions self, other;
    bool expected;
  };
  const PublicFunctions defaults;
  const std::vector<Case> cases = {
      {"encrypt only within defaults", publicFunctions(true, false, NO_ROTATIONS, FALSE), defaults,
       true},
      {"defaults within defaults", defaults, defaults, true},
      {"encrypt needs encrypt", publicFunctions(true, false, NO_ROTATIONS, FALSE),
       publicFunctions(false, true, DEFAULT_ROTATIONS, TRUE), false},
      {"relinearize needs relinearize", publicFunctions(false, true, NO_ROTATIONS, FALSE),
       publicFunctions(true, false, DEFAULT_ROTATIONS, TRUE), false},
      {"rotations must match", publicFunctions(false, false, DEFAULT_ROTATIONS, FALSE),
       publicFunctions(true, true, CUSTOM_ROTATIONS, TRUE, {1}), false},
      {"no rotations fit any", publicFunctions(false, false, NO_ROTATIONS, FALSE),
       publicFunctions(false, false, CUSTOM_ROTATIONS, FALSE), true},
      {"conjugation needs some conjugation", publicFunctions(false, false, NO_ROTATIONS, DEFAULT),
       publicFunctions(true, true, DEFAULT_ROTATIONS, FALSE), false},
      {"any conjugation satisfies TRUE", publicFunctions(false, false, NO_ROTATIONS, TRUE),
       publicFunctions(false, false, NO_ROTATIONS, DEFAULT), true},
      {"steps 1,2 not within 1", publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1, 2}),
       publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1}), false},
      {"steps 1,2 within 2,1,1", publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1, 2}),
       publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {2, 1, 1}), true},
      {"repeated steps are one step",
       publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {4, 4}),
       publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {4}), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.self.isSubsetOf(c.other), c.expected) << c.name;
}

TEST(PublicFunctions, HasSameRotations)
{
  PublicFunctions a = publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1, 2, 2});
  EXPECT_TRUE(a.hasSameRotations(publicFunctions(false, false, CUSTOM_ROTATIONS, FALSE, {2, 1})));
  EXPECT_FALSE(a.hasSameRotations(publicFunctions(true, true, CUSTOM_ROTATIONS, DEFAULT, {1})));
  EXPECT_FALSE(a.hasSameRotations(publicFunctions(true, true, DEFAULT_ROTATIONS, DEFAULT, {1, 2})));
  EXPECT_TRUE(PublicFunctions().hasSameRotations(
      publicFunctions(false, false, DEFAULT_ROTATIONS, TRUE)));
}

TEST(PublicFunctions, SavedForm)
{
  std::ostringstream defaultOut;
  EXPECT_EQ(PublicFunctions().save(defaultOut), 14);
  EXPECT_EQ(defaultOut.str(), boolByte(true) + boolByte(true) + le32(1) + le32(1) + le32(0));

  PublicFunctions pf = publicFunctions(false, true, CUSTOM_ROTATIONS, TRUE, {3, -8});
  std::ostringstream out;
  EXPECT_EQ(pf.save(out), 22);
  std::string expected =
      boolByte(false) + boolByte(true) + le32(2) + le32(2) + le32(2) + le32(3) + le32(-8);
  EXPECT_EQ(out.str(), expected);

  PublicFunctions loaded;
  std::istringstream in(expected);
  EXPECT_EQ(loaded.load(in), 22);
  EXPECT_FALSE(loaded.encrypt);
  EXPECT_TRUE(loaded.relinearize);
  EXPECT_EQ(loaded.rotate, CUSTOM_ROTATIONS);
  EXPECT_EQ(loaded.conjugate, TRUE);
  EXPECT_EQ(loaded.rotationSteps, (std::vector<int>{3, -8}));
}

TEST(PublicFunctions, LoadRefusesBadValues)
{
  struct Case
  {
    std::string data;
    const char* message;
  };
  const std::string flags = boolByte(true) + boolByte(true);
  const std::vector<Case> cases = {
      {flags + le32(3) + le32(1) + le32(0),
       "Invalid saved PublicFunctions: rotate is 3, expected a value in [0, 2]"},
      {flags + le32(-1) + le32(1) + le32(0),
       "Invalid saved PublicFunctions: rotate is -1, expected a value in [0, 2]"},
      {flags + le32(1) + le32(5) + le32(0),
       "Invalid saved PublicFunctions: conjugate is 5, expected a value in [0, 2]"},
      {flags + le32(2) + le32(1) + le32(100001),
       "BinIoUtils::readInt32Checked() failed: The loaded value (100001) doesn't fall in the "
       "specified valid range ([0, 100000])."},
      {flags + le32(2) + le32(1) + le32(-5),
       "BinIoUtils::readInt32Checked() failed: The loaded value (-5) doesn't fall in the "
       "specified valid range ([0, 100000])."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    PublicFunctions target = publicFunctions(false, true, CUSTOM_ROTATIONS, TRUE, {9});
    EXPECT_EQ(loadError(target, c.data), c.message);
    // Nothing of a failed load reaches the object.
    EXPECT_FALSE(target.encrypt);
    EXPECT_EQ(target.rotationSteps, (std::vector<int>{9}));
  }
  PublicFunctions target;
  std::string truncated = flags + le32(2) + le32(1) + le32(3) + le32(1);
  EXPECT_EQ(loadError(target, truncated),
            "Input stream ended or failed while reading an int32: the data is truncated or "
            "corrupt.");
  EXPECT_EQ(target.rotate, DEFAULT_ROTATIONS);
}

TEST(PublicFunctions, SaveRefusesMoreStepsThanALoadAccepts)
{
  PublicFunctions pf;
  pf.rotate = CUSTOM_ROTATIONS;
  pf.rotationSteps.assign(100001, 1);
  std::ostringstream out;
  try {
    pf.save(out);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot save PublicFunctions: 100001 rotation steps exceed the maximum of 100000");
  }
  EXPECT_TRUE(out.str().empty());
  pf.rotationSteps.pop_back();
  std::ostringstream ok;
  EXPECT_EQ(pf.save(ok), 14 + 4 * 100000);
}
