// Separate contexts used from separate threads at once.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/SectionTimer.h"

using namespace quorvane;
using namespace qvtest;

namespace {

constexpr int THREADS = 4;
constexpr int SLOTS = 256;

std::shared_ptr<HeContext> sealContext()
{
  auto he = std::make_shared<SealCkksContext>();
  he->init(HeConfigRequirement::insecure(SLOTS, 1, 30, 10));
  return he;
}

std::shared_ptr<HeContext> mockup() { return mockupContext(SLOTS, 1); }

/// Runs CTile::add rounds times on its own context and checks the sum.
void addOnOwnContext(const std::function<std::shared_ptr<HeContext>()>& makeContext, int rounds,
                     double* error)
{
  std::shared_ptr<HeContext> he = makeContext();
  Encoder encoder(*he);
  CTile sum(*he), one(*he);
  encoder.encodeEncrypt(sum, 0.0);
  encoder.encodeEncrypt(one, 1.0);
  for (int i = 0; i < rounds; ++i)
    sum.add(one);
  double worst = 0;
  for (double v : encoder.decryptDecodeDouble(sum))
    worst = std::max(worst, std::abs(v - rounds));
  *error = worst;
}

void runOnThreads(const std::function<std::shared_ptr<HeContext>()>& makeContext, int rounds,
                  double tolerance)
{
  std::vector<double> errors(THREADS, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t)
    threads.emplace_back(addOnOwnContext, makeContext, rounds, &errors[t]);
  for (std::thread& t : threads)
    t.join();
  for (int t = 0; t < THREADS; ++t) {
    EXPECT_GE(errors[t], 0) << "thread " << t;
    EXPECT_LE(errors[t], tolerance) << "thread " << t;
  }
  // Every thread ended back at its root; this one never left it.
  EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
}

} // namespace

TEST(ContextThreads, SealContextsOnSeparateThreads)
{
  runOnThreads(sealContext, 3000, 0.05);
}

TEST(ContextThreads, MockupContextsOnSeparateThreads)
{
  runOnThreads(mockup, 20000, 0);
}

TEST(ContextThreads, SectionsOfEveryThreadAreCounted)
{
  SectionTimer::Node& add = SectionTimer::getRoot().getChild("MockupCiphertext::add");
  int64_t before = add.count;
  runOnThreads(mockup, 1000, 0);
  EXPECT_EQ(add.count - before, THREADS * 1000);
}
