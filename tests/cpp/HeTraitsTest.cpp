#include <gtest/gtest.h>

#include <vector>

#include "hebase/HeTraits.h"

using namespace quorvane;

namespace {

struct Flag
{
  const char* name;
  bool (HeTraits::*get)() const;
  void (HeTraits::*set)(bool);
};

const std::vector<Flag>& flags()
{
  static const std::vector<Flag> all = {
      {"SupportsCKKSBootstrapping", &HeTraits::getSupportsCKKSBootstrapping,
       &HeTraits::setSupportsCKKSBootstrapping},
      {"SupportsBootstrapping", &HeTraits::getSupportsBootstrapping,
       &HeTraits::setSupportsBootstrapping},
      {"SupportsExplicitRescale", &HeTraits::getSupportsExplicitRescale,
       &HeTraits::setSupportsExplicitRescale},
      {"AutomaticallyManagesChainIndices", &HeTraits::getAutomaticallyManagesChainIndices,
       &HeTraits::setAutomaticallyManagesChainIndices},
      {"SupportsModSwitch", &HeTraits::getSupportsModSwitch, &HeTraits::setSupportsModSwitch},
      {"AutomaticallyManagesRescale", &HeTraits::getAutomaticallyManagesRescale,
       &HeTraits::setAutomaticallyManagesRescale},
      {"DefersRescale", &HeTraits::getDefersRescale, &HeTraits::setDefersRescale},
      {"SupportsExplicitChainIndices", &HeTraits::getSupportsExplicitChainIndices,
       &HeTraits::setSupportsExplicitChainIndices},
      {"SupportsComplexNumbers", &HeTraits::getSupportsComplexNumbers,
       &HeTraits::setSupportsComplexNumbers},
      {"SupportsBitwiseOperations", &HeTraits::getSupportsBitwiseOperations,
       &HeTraits::setSupportsBitwiseOperations},
      {"SupportsValuesLimitation", &HeTraits::getSupportsValuesLimitation,
       &HeTraits::setSupportsValuesLimitation},
      {"SupportsBsValuesLimitation", &HeTraits::getSupportsBsValuesLimitation,
       &HeTraits::setSupportsBsValuesLimitation},
      {"IsModularArithmetic", &HeTraits::getIsModularArithmetic,
       &HeTraits::setIsModularArithmetic},
      {"SupportsScaledEncoding", &HeTraits::getSupportsScaledEncoding,
       &HeTraits::setSupportsScaledEncoding},
      {"IsDebugEmpty", &HeTraits::getIsDebugEmpty, &HeTraits::setIsDebugEmpty},
      {"SupportsDecryptAddedNoise", &HeTraits::getSupportsDecryptAddedNoise,
       &HeTraits::setSupportsDecryptAddedNoise},
      {"UsesDefaultScale", &HeTraits::getUsesDefaultScale, &HeTraits::setUsesDefaultScale},
      {"SupportsSecKeySeed", &HeTraits::getSupportsSecKeySeed, &HeTraits::setSupportsSecKeySeed},
      {"SupportsGpu", &HeTraits::getSupportsGpu, &HeTraits::setSupportsGpu},
      {"SupportsHandleTransparentCiphertexts",
       &HeTraits::getSupportsHandleTransparentCiphertexts,
       &HeTraits::setSupportsHandleTransparentCiphertexts},
  };
  return all;
}

} // namespace

TEST(HeTraits, EverythingOffAtConstruction)
{
  HeTraits traits;
  for (const Flag& f : flags())
    EXPECT_FALSE((traits.*f.get)()) << f.name;
  EXPECT_EQ(traits.getArithmeticModulus(), 0u);
  EXPECT_FALSE(traits.getIsMockup());
}

TEST(HeTraits, EachSetterChangesOnlyItsOwnFlag)
{
  for (const Flag& f : flags()) {
    SCOPED_TRACE(f.name);
    HeTraits traits;
    (traits.*f.set)(true);
    for (const Flag& other : flags())
      EXPECT_EQ((traits.*other.get)(), &other == &f) << other.name;
    EXPECT_EQ(traits.getArithmeticModulus(), 0u);
    (traits.*f.set)(false);
    EXPECT_FALSE((traits.*f.get)());
  }
}

TEST(HeTraits, ArithmeticModulusAndMockupAlias)
{
  HeTraits traits;
  traits.setArithmeticModulus(4294967295u);
  EXPECT_EQ(traits.getArithmeticModulus(), 4294967295u);
  for (const Flag& f : flags())
    EXPECT_FALSE((traits.*f.get)()) << f.name;
  traits.setUsesDefaultScale(true);
  EXPECT_TRUE(traits.getIsMockup());

  // A copy is a snapshot.
  HeTraits copy = traits;
  copy.setSupportsGpu(true);
  EXPECT_FALSE(traits.getSupportsGpu());
  EXPECT_TRUE(copy.getUsesDefaultScale());
}
