#include <gtest/gtest.h>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"

using namespace quorvane;

// The C++ example of the README, on a small insecure SEAL context.
TEST(ReadmeExample, SealProgramRuns)
{
  std::shared_ptr<HeContext> he =
      HeContext::create("SEAL_CKKS", HeConfigRequirement::insecure(1024, 2, 40, 10));
  Encoder encoder(*he);
  CTile c(*he);
  encoder.encodeEncrypt(c, std::vector<double>(he->slotCount(), 0.5));
  c.multiply(c);
  std::vector<double> result = encoder.decryptDecodeDouble(c);
  ASSERT_EQ(result.size(), 1024u);
  for (double v : result)
    EXPECT_NEAR(v, 0.25, 1e-6);
  EXPECT_EQ(c.getChainIndex(), 1);
}
