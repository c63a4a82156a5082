// Building SEAL's objects while allocations fail throws std::bad_alloc and
// leaves the library's context as it was. The failures come from a memory pool
// that SEAL's memory manager hands out for the duration of one build and that
// refuses exactly one of its allocations, each in turn, standing in for memory
// that runs out. SEAL catches a failure while it creates an RNS tool and goes
// on with parameters it calls not set, without key switching or with a short
// modulus chain; none of these may reach the caller as invalid parameters, as
// a corrupt saved context or as a context with fewer chain indexes.

#include <gtest/gtest.h>

#include <seal/memorymanager.h>
#include <seal/util/mempool.h>
#include <seal/util/pointer.h>

#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestUtils.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// A memory pool whose allocation number failAt (counted from 0) throws
/// std::bad_alloc; the others come from a pool of its own.
class FailingPool : public seal::util::MemoryPool
{
public:
  explicit FailingPool(size_t failAt) : failAt(failAt) {}

  seal::util::Pointer<seal::seal_byte> get_for_byte_count(std::size_t byteCount) override
  {
    if (count++ == failAt)
      throw std::bad_alloc();
    return inner.get_for_byte_count(byteCount);
  }

  std::size_t pool_count() const override { return inner.pool_count(); }

  std::size_t alloc_byte_count() const override { return inner.alloc_byte_count(); }

  /// The allocations asked for so far.
  size_t count = 0;

private:
  size_t failAt;
  seal::util::MemoryPoolMT inner;
};

// Relinearisation keys need the first level; no rotation keys, which add
// allocations but no other SEAL context.
HeConfigRequirement smallRequirement()
{
  HeConfigRequirement req = requirement(16, 2, 30, 10, 0);
  req.publicFunctions = publicFunctions(true, true, NO_ROTATIONS, DEFAULT);
  return req;
}

const HeConfigRequirement REQUIREMENT = smallRequirement();

std::string savedSeed(const HeContext& he)
{
  std::ostringstream out;
  he.saveSecretKey(out, true);
  return out.str();
}

/// A way of building SEAL's objects into an uninitialised context (or, for
/// the secret key, into a loaded one), and what a failed build gives.
struct Build
{
  const char* name;
  std::function<void(std::unique_ptr<SealCkksContext>&)> prepare, run;
  std::string failed;
};

// What running the build gave while the pool refused allocation failAt:
// "initialised <top chain index>", or the exception's type and text, the state
// the context was left in and its top chain index after the build without
// failures; and whether the pool reached failAt.
std::pair<std::string, bool> outcome(const Build& build, size_t failAt)
{
  auto he = std::make_unique<SealCkksContext>();
  build.prepare(he);
  auto pool = std::make_shared<FailingPool>(failAt);
  std::string seen;
  {
    seal::MMProfGuard guard(std::make_unique<seal::MMProfFixed>(seal::MemoryPoolHandle(pool)));
    try {
      build.run(he);
      return {"initialised " + std::to_string(he->getTopChainIndex()), pool->count > failAt};
    } catch (const std::exception& e) {
      seen = std::string(typeid(e) == typeid(std::bad_alloc) ? "std::bad_alloc"
                                                              : typeid(e).name()) +
             " " + e.what();
    }
  }
  // Left as it was before the build, and the build runs again.
  seen += he->isInitialized() ? " initialised" : " uninitialised";
  seen += he->hasSecretKey() ? " with a secret key" : "";
  build.run(he);
  return {seen + ", then " + std::to_string(he->getTopChainIndex()), pool->count > failAt};
}

} // namespace

TEST(SealPoolFailureTest, EveryFailedPoolAllocationWhileBuildingThrowsBadAlloc)
{
  SealCkksContext source;
  source.init(REQUIREMENT);
  const std::string context = saved(source);
  const std::string seed = savedSeed(source);
  const std::string full = "initialised " + std::to_string(source.getTopChainIndex());
  auto nothing = [](std::unique_ptr<SealCkksContext>&) {};
  auto load = [context](std::unique_ptr<SealCkksContext>& he) {
    std::istringstream in(context);
    he->load(in);
  };
  const std::vector<Build> builds = {
      {"init", nothing, [](std::unique_ptr<SealCkksContext>& he) { he->init(REQUIREMENT); },
       "std::bad_alloc std::bad_alloc uninitialised, then 2"},
      {"load", nothing, load, "std::bad_alloc std::bad_alloc uninitialised, then 2"},
      // The secret key is made again from its seed with a SEAL context of its own.
      {"seeded secret key", load,
       [seed](std::unique_ptr<SealCkksContext>& he) {
         std::istringstream in(seed);
         he->loadSecretKey(in, true);
       },
       "std::bad_alloc std::bad_alloc initialised, then 2"},
  };
  for (const Build& build : builds) {
    size_t failures = 0;
    for (size_t failAt = 0;; ++failAt) {
      auto [seen, reached] = outcome(build, failAt);
      if (!reached) {
        // The pool was not asked that many times: the build is complete.
        EXPECT_EQ(seen, full) << build.name;
        break;
      }
      ++failures;
      EXPECT_EQ(seen, build.failed) << build.name << " with pool allocation " << failAt
                                    << " failing";
    }
    // Each build asks the pool for many allocations, among them the RNS tools'.
    EXPECT_GT(failures, 50u) << build.name;
  }
}
