// The native function evaluator: no backend supplies one.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/mockup/EmptyContext.h"
#include "math/NativeFunctionEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

TEST(NativeFunctionEvaluatorTest, EveryContextMakesOneThatImplementsNothing)
{
  std::shared_ptr<HeContext> mockup = createMockup(4, 3);
  EmptyContext empty;
  empty.init(HeConfigRequirement::insecure(4, 3));
  for (const HeContext* he : {static_cast<const HeContext*>(mockup.get()),
                              static_cast<const HeContext*>(&empty)}) {
    NativeFunctionEvaluator native(*he);
    std::vector<double> values = {1, 2, 3, 4};
    CTile c = encrypted(*he, values);
    expectThrowWithMessage<std::runtime_error>([&] { native.powerInPlace(c, 2); },
                                               "not implemented");
    CTile result(*he);
    expectThrowWithMessage<std::runtime_error>([&] { native.totalProduct(result, {c, c}); },
                                               "not implemented");
    EXPECT_TRUE(result.isEmpty());
    EXPECT_EQ(c.getChainIndex(), 3);
    if (he == mockup.get()) {
      EXPECT_EQ(decrypted(c), values);
    }
  }
}

} // namespace
