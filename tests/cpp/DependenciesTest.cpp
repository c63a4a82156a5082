#include <gtest/gtest.h>

#include <seal/seal.h>

#include "python/PythonVersion.h"

// SEAL is linked and usable: a tiny CKKS parameter set validates.
TEST(Dependencies, SealIsUsable)
{
  seal::EncryptionParameters params(seal::scheme_type::ckks);
  params.set_poly_modulus_degree(4096);
  params.set_coeff_modulus(seal::CoeffModulus::Create(4096, {36, 36, 37}));
  seal::SEALContext context(params, true, seal::sec_level_type::tc128);
  EXPECT_TRUE(context.parameters_set());
  EXPECT_EQ(SEAL_VERSION_MAJOR, 3);
  EXPECT_GE(SEAL_VERSION_MINOR, 7);
}

TEST(PythonVersion, AcceptsOnly311)
{
  using quorvane::isSupportedPythonVersion;
  EXPECT_TRUE(isSupportedPythonVersion("3.11.7 (main, Jan  1 2024) [GCC 12.2.0]"));
  EXPECT_TRUE(isSupportedPythonVersion("3.11 (x)"));
  EXPECT_TRUE(isSupportedPythonVersion("3.11"));
  EXPECT_FALSE(isSupportedPythonVersion("3.10.2"));
  EXPECT_FALSE(isSupportedPythonVersion("3.1 (x)"));
  EXPECT_FALSE(isSupportedPythonVersion("3.110"));
  EXPECT_FALSE(isSupportedPythonVersion(""));
}
