#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractBootstrapEvaluator.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/SectionTimer.h"
#include "math/bootstrap/mockup/EmptyBootstrapEvaluator.h"
#include "math/bootstrap/mockup/MockupBootstrapEvaluator.h"

using namespace quorvane;
using namespace qvtest;

namespace {

BootstrapConfig chainIndexes(int minChainIndex, int target)
{
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = minChainIndex;
  config.targetChainIndex = target;
  return config;
}

std::string statsOf(TrackingContext& he)
{
  std::ostringstream out;
  he.getStatsAndClear(out);
  return out.str();
}

TEST(MockupBootstrapEvaluatorTest, TargetChainIndexIsResolvedAndChecked)
{
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(8, 6, BootstrapConfig()));
  const MockupContext& mockup = dynamic_cast<const MockupContext&>(*he);
  // The context wrote its chain indexes back into its configuration.
  EXPECT_EQ(he->getBootstrapConfig().minChainIndexForBootstrapping, 0);
  EXPECT_EQ(he->getBootstrapConfig().targetChainIndex, 4);
  EXPECT_EQ(he->getBootstrapEvaluator()
                .getAbstractBootstrapEvaluator()
                .getBootstrapConfig()
                .targetChainIndex,
            4);

  MockupBootstrapEvaluator same(mockup, chainIndexes(-1, 4));
  EXPECT_EQ(same.getBootstrapConfig().targetChainIndex, 4);
  EXPECT_EQ(&same.getHeContext(), he.get());
  MockupBootstrapEvaluator resolved(mockup, BootstrapConfig());
  EXPECT_EQ(resolved.getBootstrapConfig().targetChainIndex, 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { MockupBootstrapEvaluator(mockup, chainIndexes(-1, 3)); },
      "The given BootstrapConfig specifies a target chain index of 3, while the target "
      "chain index of the given MockupContext is 4");
}

TEST(MockupBootstrapEvaluatorTest, BootstrapMovesToTargetKeepingValuesAndScale)
{
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(4, 6, chainIndexes(-1, 5)));
  MockupContext& mockup = dynamic_cast<MockupContext&>(*he);
  mockup.startOperationCountTrack();
  Encoder encoder(*he);
  encoder.setDefaultScale(8.0);
  CTile c(*he);
  encoder.encodeEncrypt(c, std::vector<double>{1.5, -2, 3, 0.25}, 0);
  c.bootstrap();
  EXPECT_EQ(c.getChainIndex(), 5);
  EXPECT_DOUBLE_EQ(c.getScale(), 8.0);
  EXPECT_EQ(encoder.decryptDecodeDouble(c), (std::vector<double>{1.5, -2, 3, 0.25}));
  EXPECT_EQ(mockup.getRunStats()->getCount(RunStats::BOOTSTRAP, 5), 1);
  EXPECT_EQ(mockup.getRunStats()->getTotalCount(RunStats::BOOTSTRAP), 1);
  EXPECT_EQ(mockup.getRunStats()->getMaxChainIndex(), 5);
}

TEST(MockupBootstrapEvaluatorTest, EachCiphertextIsTimedAndItsValuesRecorded)
{
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(4, 6, BootstrapConfig()));
  MockupContext& mockup = dynamic_cast<MockupContext&>(*he);
  mockup.startBsValuesTracking();
  Encoder encoder(*he);
  CTile a(*he);
  CTile b(*he);
  encoder.encodeEncrypt(a, std::vector<std::complex<double>>{{3, 4}}, 0);
  encoder.encodeEncrypt(b, std::vector<double>{-2, 1}, 1);
  const std::string probe = "BootstrapProbe_EachCiphertextIsTimed";
  {
    SectionTimer section(probe);
    // The two-ciphertext form of the mockup evaluator is the one-ciphertext
    // form twice, each in its own section.
    he->getBootstrapEvaluator().bootstrap(a, b);
  }
  EXPECT_EQ(a.getChainIndex(), 4);
  EXPECT_EQ(b.getChainIndex(), 4);
  // The largest modulus that entered bootstrapping: |3 + 4i|.
  EXPECT_EQ(mockup.getObservedMaxBsValue(), 5.0);
  const SectionTimer::Node& node = SectionTimer::getRoot().getChild(probe);
  ASSERT_EQ(node.children.size(), 1u);
  EXPECT_EQ(node.children.begin()->first, "MockupBootstrapEvaluator::bootstrap");
  EXPECT_EQ(node.children.begin()->second.count, 2);
}

TEST(MockupBootstrapEvaluatorTest, RefusalsOfTheReferenceEvaluator)
{
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(4, 6, BootstrapConfig()));
  CTile empty(*he);
  expectThrowWithMessage<std::runtime_error>(
      [&] { empty.bootstrap(); }, "MockupBootstrapEvaluator::bootstrap - ciphertext is empty.");
  AbstractBootstrapEvaluator& evaluator = he->getBootstrapEvaluator().getAbstractBootstrapEvaluator();
  expectThrowWithMessage<std::runtime_error>([&] { evaluator.bootstrapMockup(empty); },
                                             "bootstrapMockup not implemented");

  std::shared_ptr<HeContext> plain = createMockup(4, 6);
  CTile c(*plain);
  Encoder(*plain).encodeEncrypt(c, std::vector<double>{1});
  expectThrowWithMessage<std::runtime_error>([&] { c.bootstrap(); },
                                             "This HE context does not support bootstrap");
}

TEST(MockupBootstrapEvaluatorTest, FftFlagsAreCheckedWhenTheContextIsInitialised)
{
  BootstrapConfig refused;
  refused.coef2slotViaFFT = false;
  refused.slot2coefViaFFT = true;
  expectThrowWithMessage<std::runtime_error>(
      [&] { createMockup(bootstrappable(4, 6, refused)); },
      "!coef2slotViaFFT & slot2coefViaFFT not supported together");
  BootstrapConfig accepted;
  accepted.coef2slotViaFFT = false;
  accepted.slot2coefViaFFT = false;
  EXPECT_TRUE(createMockup(bootstrappable(4, 6, accepted))->isInitialized());
}

TEST(MockupBootstrapEvaluatorTest, AutomaticBootstrappingCountsExactly)
{
  // Bootstrapping triggers at chain index 1 and returns ciphertexts at 4.
  std::shared_ptr<HeContext> he = createMockup(bootstrappable(4, 6, chainIndexes(1, 4), true));
  MockupContext& mockup = dynamic_cast<MockupContext&>(*he);
  Encoder encoder(*he);
  CTile x(*he);
  CTile y(*he);
  encoder.encodeEncrypt(x, std::vector<double>{2}, 1);
  encoder.encodeEncrypt(y, std::vector<double>{3}, 1);
  mockup.startOperationCountTrack();

  // Both at 1: x in place and a copy of y are bootstrapped, then multiplied.
  x.multiply(y);
  EXPECT_EQ(x.getChainIndex(), 3);
  EXPECT_EQ(y.getChainIndex(), 1);
  EXPECT_EQ(mockup.getRunStats()->getCount(RunStats::BOOTSTRAP, 4), 2);
  EXPECT_EQ(statsOf(mockup), "Run stats\n"
                             "copy           :    1\n"
                             "relinearize    :    1\n"
                             "multiply       :    1\n"
                             "rescale        :    1\n"
                             "bootstrap      :    2\n");
  EXPECT_EQ(encoder.decryptDecodeDouble(x)[0], 6);

  // Squaring from 3: at 2 nothing happens, at 1 one bootstrap first.
  x.square();
  EXPECT_EQ(x.getChainIndex(), 2);
  x.square();
  EXPECT_EQ(x.getChainIndex(), 1);
  x.square();
  EXPECT_EQ(x.getChainIndex(), 3);
  EXPECT_EQ(encoder.decryptDecodeDouble(x)[0], 6.0 * 6 * 6 * 6 * 6 * 6 * 6 * 6);
  EXPECT_EQ(mockup.getRunStats()->getTotalCount(RunStats::BOOTSTRAP), 1);

  // Additions never bootstrap; a product by the integer 2 does not either.
  CTile z(*he);
  encoder.encodeEncrypt(z, std::vector<double>{1}, 1);
  z.add(y);
  z.multiplyScalar(2);
  EXPECT_EQ(z.getChainIndex(), 1);
  EXPECT_EQ(mockup.getRunStats()->getTotalCount(RunStats::BOOTSTRAP), 1);
  z.multiplyScalar(2.0);
  EXPECT_EQ(z.getChainIndex(), 3);
  EXPECT_EQ(mockup.getRunStats()->getTotalCount(RunStats::BOOTSTRAP), 2);
}

/// A context that claims no CKKS bootstrapping but still makes an evaluator.
class NoBootstrapTraitContext : public MockupContext
{
public:
  NoBootstrapTraitContext() { traits.setSupportsCKKSBootstrapping(false); }

  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override
  {
    struct Nothing : public AbstractBootstrapEvaluator
    {
      Nothing(const HeContext& he, const BootstrapConfig& config)
          : AbstractBootstrapEvaluator(he, config)
      {
      }
      void bootstrap(CTile&) override {}
    };
    return std::make_shared<Nothing>(*this, config);
  }
};

TEST(BootstrapEvaluatorHolderTest, RefusesContextsWithoutCkksBootstrapping)
{
  NoBootstrapTraitContext he;
  he.init(HeConfigRequirement::insecure(4, 2));
  expectThrowWithMessage<std::runtime_error>(
      [&] { BootstrapEvaluator(he, BootstrapConfig()); },
      "Expecting HeContext that supports CKKS Bootstrapping, and given Mockup-Mockup");
}

TEST(EmptyBootstrapEvaluatorTest, BootstrapsOneAndTwoCiphertexts)
{
  EmptyContext he;
  he.init(bootstrappable(8, 10, chainIndexes(-1, 7)));
  he.startOperationCountTrack();
  Encoder encoder(he);
  CTile a(he), b(he);
  encoder.encodeEncrypt(a, std::vector<double>{1}, 0);
  encoder.encodeEncrypt(b, std::vector<double>{1}, 2);
  BootstrapEvaluator& evaluator = he.getBootstrapEvaluator();
  evaluator.bootstrap(a, b);
  EXPECT_EQ(a.getChainIndex(), 7);
  EXPECT_EQ(b.getChainIndex(), 7);
  EXPECT_EQ(he.getRunStats()->getCount(RunStats::BOOTSTRAP, 7), 2);
  evaluator.bootstrap(a);
  EXPECT_EQ(he.getRunStats()->getCount(RunStats::BOOTSTRAP, 7), 3);

  // A fresh ciphertext is filled by bootstrapping.
  CTile fresh(he);
  fresh.bootstrap();
  EXPECT_FALSE(fresh.isEmpty());
  EXPECT_EQ(fresh.getChainIndex(), 7);
}

TEST(EmptyBootstrapEvaluatorTest, TargetChainIndexIsResolvedAndChecked)
{
  EmptyContext he;
  he.init(bootstrappable(8, 10, BootstrapConfig()));
  EXPECT_EQ(he.getMinChainIndexForBootstrapping(), 0);
  EXPECT_EQ(he.getChainIndexAfterBootstrapping(), 4);
  EXPECT_EQ(EmptyBootstrapEvaluator(he, BootstrapConfig()).getBootstrapConfig().targetChainIndex,
            4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { EmptyBootstrapEvaluator(he, chainIndexes(-1, 9)); },
      "The given BootstrapConfig specifies a target chain index of 9, while the target chain "
      "index of the given EmptyContext is 4");
}

TEST(EmptyBootstrapEvaluatorTest, CountsOutsideTheRangeFailBeforeTheChainIndexChanges)
{
  EmptyContext he;
  he.init(bootstrappable(8, 200, chainIndexes(-1, 150)));
  he.startOperationCountTrack();
  CTile c(he);
  c.setChainIndex(3);
  expectThrowWithMessage<std::out_of_range>([&] { c.bootstrap(); }, "invalid vector subscript");
  EXPECT_EQ(c.getChainIndex(), 3);
}

TEST(EmptyBootstrapEvaluatorTest, AutomaticBootstrappingInAnEmptyContext)
{
  EmptyContext he;
  he.init(bootstrappable(8, 10, chainIndexes(2, 6), true));
  he.startOperationCountTrack();
  Encoder encoder(he);
  CTile x(he);
  encoder.encodeEncrypt(x, std::vector<double>{1}, 3);
  x.square(); // 3 -> 2
  x.square(); // bootstrapped to 6, then 5
  EXPECT_EQ(x.getChainIndex(), 5);
  EXPECT_EQ(he.getRunStats()->getCount(RunStats::BOOTSTRAP, 6), 1);
  EXPECT_EQ(he.getRunStats()->getCount(RunStats::SQUARE_RAW, 6), 1);
}

} // namespace
