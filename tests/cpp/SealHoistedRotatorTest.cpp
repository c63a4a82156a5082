// Rotations of one SEAL ciphertext that share their key-switching decomposition.

#include <complex>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealHoistedRotator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const SealCkksCiphertext& sealOf(const CTile& c)
{
  return dynamic_cast<const SealCkksCiphertext&>(c.getImpl());
}

} // namespace

TEST(SealHoistedRotator, RotationsMatchSealsOwn)
{
  const int slots = 64;
  const SealCkksContext& he = bootstrapSealContext(slots, 6, 40, 10);
  auto values = randomComplex(41, slots);
  for (int chainIndex : {6, 2, 0}) {
    CTile x = encryptAt(he, values, chainIndex);
    SealHoistedRotator rotator(sealOf(x));
    for (int step : {1, -1, 2, 16, -32, 63, 60, 66}) {
      ASSERT_TRUE(SealHoistedRotator::canRotate(sealOf(x), step)) << step;
      CTile hoisted(he);
      rotator.rotate(step, dynamic_cast<SealCkksCiphertext&>(hoisted.getImpl()));
      EXPECT_EQ(hoisted.getChainIndex(), chainIndex);
      EXPECT_EQ(hoisted.getScale(), x.getScale());
      CTile own(x);
      own.rotate(step);
      auto expected = rotated(values, step);
      auto got = decryptOf(hoisted);
      auto theirs = decryptOf(own);
      for (int k = 0; k < slots; ++k) {
        EXPECT_LT(std::abs(got[k] - expected[k]), 1e-6) << step << ":" << k;
        EXPECT_LT(std::abs(got[k] - theirs[k]), 1e-6) << step << ":" << k;
      }
    }
  }
}

TEST(SealHoistedRotator, OnlyWithAKeyAndTwoPolynomials)
{
  const SealCkksContext& he = bootstrapSealContext(64, 6, 40, 10);
  CTile x = encryptAt(he, randomComplex(43, 64), 4);
  // Default rotations hold keys for the powers of two only.
  EXPECT_TRUE(SealHoistedRotator::canRotate(sealOf(x), 8));
  EXPECT_FALSE(SealHoistedRotator::canRotate(sealOf(x), 3));
  EXPECT_FALSE(SealHoistedRotator::canRotate(sealOf(x), 0));
  EXPECT_FALSE(SealHoistedRotator::canRotate(sealOf(x), 64));
  CTile square(x);
  square.multiplyRaw(x);
  EXPECT_FALSE(SealHoistedRotator::canRotate(sealOf(square), 8));

  SealCkksContext noRotations;
  HeConfigRequirement req = HeConfigRequirement::insecure(64, 2, 40, 10);
  req.publicFunctions.rotate = NO_ROTATIONS;
  noRotations.init(req);
  CTile y = encryptAt(noRotations, randomComplex(45, 64), 1);
  EXPECT_FALSE(SealHoistedRotator::canRotate(sealOf(y), 1));
}
