#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestUtils.h"
#include "hebase/AbstractBootstrapEvaluator.h"
#include "hebase/AbstractFunctionEvaluator.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/HeContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

class FakeBootstrapEvaluator : public AbstractBootstrapEvaluator
{
public:
  FakeBootstrapEvaluator(const HeContext& he, const BootstrapConfig& config)
      : AbstractBootstrapEvaluator(he, config)
  {
  }
  void bootstrap(CTile&) override {}
};

/// A minimal backend that keeps every base default and records what init asked.
class FakeContext : public HeContext
{
public:
  std::function<bool(const HeConfigRequirement&)> feasible = [](const HeConfigRequirement&) {
    return true;
  };
  bool supportsPublicFunctions = true;
  bool implementsBootstrapQueries = false;
  mutable std::vector<std::string> calls;

  explicit FakeContext(bool bootstrapping = false)
  {
    traits.setSupportsCKKSBootstrapping(bootstrapping);
  }

  void init(const HeConfigRequirement& req) override
  {
    HeContext::init(req);
    initBootstrap();
  }

  bool isConfigRequirementFeasible(const HeConfigRequirement& req) const override
  {
    return feasible(req);
  }
  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override
  {
    return nullptr;
  }
  std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const override
  {
    return nullptr;
  }
  std::shared_ptr<AbstractEncoder> getEncoder() const override { return nullptr; }
  bool hasSecretKey() const override { return false; }
  int slotCount() const override { return requirement.numSlots; }
  int getTopChainIndex() const override { return requirement.multiplicationDepth; }
  int getSecurityLevel() const override { return requirement.securityLevel; }
  std::string getLibraryName() const override { return "Test"; }
  std::string getSchemeName() const override { return "Fake"; }
  bool publicFunctionsSupported(const PublicFunctions&) const override
  {
    calls.push_back("publicFunctionsSupported");
    return supportsPublicFunctions;
  }
  std::shared_ptr<HeContext> clone() const override { return std::make_shared<FakeContext>(); }

  BootstrapConfig getBootstrapChainIndexes(const HeConfigRequirement& req) const override
  {
    if (!implementsBootstrapQueries)
      return HeContext::getBootstrapChainIndexes(req);
    calls.push_back("getBootstrapChainIndexes");
    BootstrapConfig config;
    config.minChainIndexForBootstrapping = 1;
    config.targetChainIndex = 7;
    return config;
  }
  int getMinChainIndexForBootstrapping() const override
  {
    return implementsBootstrapQueries ? 2 : HeContext::getMinChainIndexForBootstrapping();
  }
  int getChainIndexAfterBootstrapping() const override
  {
    return implementsBootstrapQueries ? 9 : HeContext::getChainIndexAfterBootstrapping();
  }
  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override
  {
    calls.push_back("createAbstractBootstrapEvaluator:" +
                    std::to_string(config.targetChainIndex));
    return std::make_shared<FakeBootstrapEvaluator>(*this, config);
  }
  std::vector<double> getMaxAllowedValues() const override { return maxAllowed; }
  std::vector<double> maxAllowed = {5, 1, 8, 2};

  void callInitBootstrap() { initBootstrap(); }
  void forceRequirement(const HeConfigRequirement& req) { requirement = req; }
};

HeConfigRequirement mockupRequirement(int slots = 16, int depth = 5)
{
  return HeConfigRequirement::insecure(slots, depth);
}

} // namespace

// ---- Registry ----

TEST(HeContextRegistry, MockupPrototypeIsRegisteredAtStartUp)
{
  EXPECT_TRUE(HeContext::isRegisteredContext("Mockup_Mockup"));
  EXPECT_FALSE(HeContext::isRegisteredContext("Mockup"));
  EXPECT_FALSE(HeContext::isRegisteredContext("mockup_mockup"));
  EXPECT_FALSE(HeContext::isRegisteredContext(""));
  const HeContext::ContextRegistry& registry = HeContext::getContextRegistry();
  ASSERT_EQ(registry.count("Mockup_Mockup"), 1u);
  for (const auto& entry : registry) {
    EXPECT_EQ(entry.first, entry.second->getRegistryKey());
    EXPECT_FALSE(entry.second->isInitialized()) << entry.first;
  }
  EXPECT_NE(dynamic_cast<MockupContext*>(registry.at("Mockup_Mockup").get()), nullptr);
}

TEST(HeContextRegistry, RegisterNewKeyAndRefuseDuplicates)
{
  EXPECT_FALSE(HeContext::isRegisteredContext("Test_Fake"));
  EXPECT_TRUE(HeContext::registerContext(new FakeContext()));
  EXPECT_TRUE(HeContext::isRegisteredContext("Test_Fake"));
  std::shared_ptr<HeContext> made = HeContext::create(std::vector<std::string>{"Test_Fake"});
  EXPECT_NE(dynamic_cast<FakeContext*>(made.get()), nullptr);
  EXPECT_NE(made, HeContext::getContextRegistry().at("Test_Fake"));

  expectThrowWithMessage<std::runtime_error>(
      [] { HeContext::registerContext(new FakeContext()); }, "Duplicate context Test_Fake");
  expectThrowWithMessage<std::runtime_error>(
      [] { HeContext::registerContext(new MockupContext()); }, "Duplicate context Mockup_Mockup");
  expectThrowWithMessage<std::invalid_argument>(
      [] { HeContext::registerContext(nullptr); },
      "Cannot register a null HE context prototype");
}

TEST(HeContextRegistry, CreateByNameInitialisesAClone)
{
  std::shared_ptr<HeContext> he = HeContext::create("Mockup_Mockup", mockupRequirement());
  ASSERT_NE(dynamic_cast<MockupContext*>(he.get()), nullptr);
  EXPECT_TRUE(he->isInitialized());
  EXPECT_FALSE(HeContext::getContextRegistry().at("Mockup_Mockup")->isInitialized());
  std::shared_ptr<HeContext> other = HeContext::create("Mockup_Mockup", mockupRequirement());
  EXPECT_NE(he, other);
}

TEST(HeContextRegistry, CreateRefusals)
{
  expectThrowWithMessage<std::runtime_error>(
      [] { HeContext::create("Nothing_Here", mockupRequirement()); },
      "No registered HE context under the name Nothing_Here");
  expectThrowWithMessage<std::runtime_error>(
      [] { HeContext::createFromRegistry("Mockup"); },
      "No registered HE context under the name Mockup");
  expectThrowWithMessage<std::invalid_argument>(
      [] { HeContext::create(std::vector<std::string>{}); }, "No suitable HE context found");
  expectThrowWithMessage<std::invalid_argument>(
      [] { HeContext::create(std::vector<std::string>{"A_B", "C_D"}); },
      "No suitable HE context found");
  // init failures pass through.
  expectThrowWithMessage<std::runtime_error>(
      [] { HeContext::create("Mockup_Mockup", HeConfigRequirement(16, 5, 40, 10)); },
      "Given configuration requirement is not feasible");
}

TEST(HeContextRegistry, PreferenceListTakesFirstRegistered)
{
  std::shared_ptr<HeContext> he =
      HeContext::create(std::vector<std::string>{"Not_Registered", "Mockup_Mockup"});
  ASSERT_NE(dynamic_cast<MockupContext*>(he.get()), nullptr);
  EXPECT_FALSE(he->isInitialized());
  he->init(mockupRequirement());
  EXPECT_TRUE(he->isInitialized());
}

// ---- Base init ----

TEST(HeContextInit, SecondInitIsRefusedAndChangesNothing)
{
  FakeContext he;
  he.init(HeConfigRequirement::insecure(8, 3));
  int id = he.getContextId();
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.init(HeConfigRequirement::insecure(32, 1)); },
      "HE context has already been initialized");
  EXPECT_EQ(he.getHeConfigRequirement().numSlots, 8);
  EXPECT_EQ(he.getContextId(), id);
}

TEST(HeContextInit, AutomaticBootstrappingWithoutBootstrappingIsRefused)
{
  FakeContext he(true);
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  req.automaticBootstrapping = true;
  expectAssertion([&] { he.init(req); },
                  "!getAutomaticBootstrapping() "
                  "Automatic bootstrapping requires a bootstrappable requirement: "
                  "automaticBootstrapping is set while bootstrappable is not");
  EXPECT_FALSE(he.isInitialized());
  EXPECT_FALSE(he.getAutomaticBootstrapping());
  EXPECT_EQ(he.getHeConfigRequirement().numSlots, -1);
  EXPECT_TRUE(he.calls.empty());
  // The same context accepts a sound requirement afterwards.
  req.automaticBootstrapping = false;
  he.init(req);
  EXPECT_TRUE(he.isInitialized());
}

TEST(HeContextInit, ActualRequirementComesFirst)
{
  // A bootstrappable requirement without configuration asks the backend for
  // its chain indexes before anything else is checked.
  FakeContext base(true);
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  req.bootstrappable = true;
  req.publicFunctions.rotationSteps = {1}; // would fail the next step
  expectThrowWithMessage<std::runtime_error>(
      [&] { base.init(req); }, "getBootstrapChainIndexes given HeConfigRequirement is not implemented");
  EXPECT_FALSE(base.isInitialized());
}

TEST(HeContextInit, RotationStepsNeedCustomPolicyBeforeSupportCheck)
{
  for (RotationSetType policy : {DEFAULT_ROTATIONS, NO_ROTATIONS}) {
    FakeContext he;
    he.supportsPublicFunctions = false;
    HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
    req.publicFunctions.rotate = policy;
    req.publicFunctions.rotationSteps = {1, 2};
    expectThrowWithMessage<std::invalid_argument>(
        [&] { he.init(req); },
        "invalid PublicFunctions: \"rotate\" is set to DEFAULT_ROTATIONS but \"rotationStpes\" "
        "vector is not empty");
    EXPECT_TRUE(he.calls.empty());
    EXPECT_FALSE(he.isInitialized());
  }
}

TEST(HeContextInit, UnsupportedPublicFunctionsAreRefused)
{
  FakeContext he;
  he.supportsPublicFunctions = false;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { he.init(HeConfigRequirement::insecure(8, 3)); },
      "the given PublicFunctions object is not supported by this HeContext");
  EXPECT_EQ(he.calls, (std::vector<std::string>{"publicFunctionsSupported"}));
  EXPECT_FALSE(he.isInitialized());
  // The failed init left the requirement behind; a second init is allowed.
  he.supportsPublicFunctions = true;
  he.init(HeConfigRequirement::insecure(8, 3));
  EXPECT_TRUE(he.isInitialized());
}

TEST(HeContextInit, CustomRotationsBuildTheRotationMap)
{
  FakeContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(16, 3);
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.rotationSteps = {1, 2, 4};
  he.init(req);
  std::vector<int> steps;
  ASSERT_TRUE(he.decomposeRotation(7, steps));
  EXPECT_EQ(steps, (std::vector<int>{4, 2, 1}));

  FakeContext plain;
  plain.init(HeConfigRequirement::insecure(16, 3));
  expectThrowWithMessage<std::runtime_error>([&] { plain.decomposeRotation(1, steps); },
                                             "RotateDependencyMapper not initialized");
}

TEST(HeContextInit, CustomRotationsNeedASlotCount)
{
  FakeContext unset;
  HeConfigRequirement req;
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  expectThrowWithMessage<std::runtime_error>([&] { unset.init(req); },
                                             "Internal error: invalid numSlots: -1");
  EXPECT_FALSE(unset.isInitialized());
  FakeContext zero;
  req.numSlots = 0;
  expectThrowWithMessage<std::invalid_argument>([&] { zero.init(req); },
                                                "Slot count must be positive. Recieved: 0");
}

TEST(HeContextInit, MultiPartyIdIsExclusiveOrOfKeyOwners)
{
  struct Case
  {
    std::vector<int> owners;
    int expectedId;
  };
  for (const Case& c : std::vector<Case>{{{1, 2}, 3}, {{}, 0}, {{5, 6, 7}, 4}, {{9}, 9}}) {
    FakeContext he;
    HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
    req.multiPartyConfig = MultiPartyConfig();
    req.multiPartyConfig->keyOwnersIds = c.owners;
    he.init(req);
    EXPECT_EQ(he.getContextId(), c.expectedId);
    EXPECT_TRUE(he.isMultiParty());
  }
}

TEST(HeContextInit, IdsOfContextsCreatedTogetherDiffer)
{
  std::set<int> ids;
  for (int i = 0; i < 64; ++i) {
    FakeContext he;
    EXPECT_EQ(he.getContextId(), 0);
    he.init(HeConfigRequirement::insecure(8, 3));
    EXPECT_GT(he.getContextId(), 0);
    ids.insert(he.getContextId());
  }
  EXPECT_EQ(ids.size(), 64u);
}

TEST(HeContextInit, InitDoesNotTouchScaleOrDevice)
{
  FakeContext he;
  he.setDefaultScale(8.0);
  he.setDefaultDevice(DEVICE_GPU);
  he.init(HeConfigRequirement::insecure(8, 3));
  EXPECT_EQ(he.getDefaultScale(), 8.0);
  EXPECT_EQ(he.getDefaultDevice(), DEVICE_GPU);
}

TEST(HeContextInit, InitBootstrapStoresBackendChainIndexes)
{
  FakeContext he(true);
  he.implementsBootstrapQueries = true;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 10);
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  he.init(req);
  // The actual requirement came from the backend (target 7); the evaluator was
  // built from it before the context's own chain indexes (2 and 9) were written.
  EXPECT_EQ(he.calls, (std::vector<std::string>{"getBootstrapChainIndexes",
                                                "publicFunctionsSupported",
                                                "createAbstractBootstrapEvaluator:7"}));
  ASSERT_TRUE(he.getHeConfigRequirement().bootstrapConfig.has_value());
  EXPECT_EQ(he.getBootstrapConfig().minChainIndexForBootstrapping, 2);
  EXPECT_EQ(he.getBootstrapConfig().targetChainIndex, 9);
  EXPECT_EQ(he.getBootstrapEvaluator().getAbstractBootstrapEvaluator().getBootstrapConfig()
                .targetChainIndex,
            7);
  EXPECT_TRUE(he.getAutomaticBootstrapping());
  he.setAutomaticBootstrapping(false);
  EXPECT_FALSE(he.getAutomaticBootstrapping());
}

TEST(HeContextInit, InitBootstrapNeedsCkksBootstrappingTrait)
{
  FakeContext he(false);
  he.implementsBootstrapQueries = true;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 10);
  req.bootstrappable = true;
  expectAssertion([&] { he.init(req); }, "traits.getSupportsCKKSBootstrapping()");
}

TEST(HeContextInit, InitBootstrapWithoutBootstrappingRefusesAutomaticFlag)
{
  FakeContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  he.init(req);
  req.automaticBootstrapping = true;
  he.forceRequirement(req);
  expectAssertion([&] { he.callInitBootstrap(); }, "!getAutomaticBootstrapping()");
}

// ---- Accessors and queries ----

TEST(HeContext, BootstrappingAccessorsOnNonBootstrappableContext)
{
  FakeContext he;
  he.init(HeConfigRequirement::insecure(8, 3));
  EXPECT_FALSE(he.getBootstrappable());
  he.setAutomaticBootstrapping(false);
  expectThrowWithMessage<std::runtime_error>([&] { he.setAutomaticBootstrapping(true); },
                                             "This HeContext does not support bootstrapping.");
  EXPECT_FALSE(he.getAutomaticBootstrapping());
  expectThrowWithMessage<std::runtime_error>([&] { he.getBootstrapConfig(); },
                                             "This HE context does not support bootstrap");
  expectThrowWithMessage<std::runtime_error>([&] { he.getBootstrapEvaluator(); },
                                             "This HE context does not support bootstrap");
}

TEST(HeContext, NativeFunctionEvaluatorIsANewBaseOneImplementingNothing)
{
  FakeContext he;
  std::shared_ptr<AbstractFunctionEvaluator> first = he.getFunctionEvaluator();
  std::shared_ptr<AbstractFunctionEvaluator> second = he.getFunctionEvaluator();
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(typeid(*first), typeid(AbstractFunctionEvaluator));
}

TEST(HeContext, BootstrappingAccessorsAssertTheirState)
{
  FakeContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  req.bootstrappable = true;
  he.forceRequirement(req);
  expectAssertion([&] { he.getBootstrapConfig(); },
                  "getHeConfigRequirement().bootstrapConfig.has_value()");
  expectAssertion([&] { he.getBootstrapEvaluator(); }, "bootstrapEvaluator != nullptr");
}

TEST(HeContext, StateAssertions)
{
  FakeContext he;
  expectThrowWithMessage<std::runtime_error>([&] { he.assertInitialized(); },
                                             "HE context has not been initialized yet");
  he.assertNotInitialized();
  he.init(HeConfigRequirement::insecure(8, 3));
  he.assertInitialized();
  expectThrowWithMessage<std::runtime_error>([&] { he.assertNotInitialized(); },
                                             "HE context has already been initialized");
}

TEST(HeContext, BaseDefaultsRefuseWithTheirNames)
{
  FakeContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 3);
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { he.getBestFeasibleFractionalPartPrecision(req); },
       "getBestFeasibleFractionalPartPrecision is not implemented"},
      {[&] { he.getBestFeasibleMulDepth(req); }, "getBestFeasibleMulDepth is not implemented"},
      {[&] { he.getBitwiseEvaluator(); }, "This HeContext cannot provide BitwiseEvaluator"},
      {[&] { static_cast<const HeContext&>(he).getMultiPartyUtils(); },
       "This HeContext cannot provide MultiPartyUtils"},
      {[&] { static_cast<HeContext&>(he).getMultiPartyUtils(); },
       "This HeContext cannot provide MultiPartyUtils"},
      {[&] { he.HeContext::createAbstractBootstrapEvaluator(BootstrapConfig()); },
       "This HE context does not support bootstrap"},
      {[&] { he.getModulusChain(); }, "getModulusChain() not implemented"},
      {[&] { he.setModulusChain(nullptr); }, "setModulusChain() not implemented"},
      {[&] { he.getEstimatedMeasures(); }, "HeContext::getEstimatedMeasures is not implemented"},
      {[&] { he.HeContext::getMaxAllowedValues(); },
       "HeContext::getMaxAllowedValues not implemented"},
      {[&] { he.getMaxAllowedBsValue(); }, "HeContext::getMaxAllowedBsValue not implemented"},
      {[&] { he.HeContext::clone(); }, "clone not implemented for this context"},
      {[&] { he.getAccurateScale(0); }, "getAccurateScale not implemented for this context"},
      {[&] { he.getMinChainIndexForBootstrapping(); },
       "getMinChainIndexForBootstrapping is not implemented"},
      {[&] { he.getChainIndexAfterBootstrapping(); },
       "getChainIndexAfterBootstrapping is not implemented"},
      {[&] { he.getBootstrapChainIndexes(req); },
       "getBootstrapChainIndexes given HeConfigRequirement is not implemented"},
      {[&] { he.getMinSupportedNumSlots(); }, "getMinSupportedNumSlots is not implemented"},
      {[&] { he.getMaxSupportedNumSlots(); },
       "HeContext::getMaxSupportedNumSlots is not implemented"},
  };
  for (const auto& c : cases)
    expectThrowWithMessage<std::runtime_error>(c.first, c.second);
}

TEST(HeContext, MaxAllowedValueOverRanges)
{
  FakeContext he; // values per chain index: 5, 1, 8, 2
  EXPECT_EQ(he.getMaxAllowedValue(0), 5);
  EXPECT_EQ(he.getMaxAllowedValue(1), 1);
  EXPECT_EQ(he.getMaxAllowedValue(3), 2);
  EXPECT_EQ(he.getMaxAllowedValue(1, 1), 1);
  EXPECT_EQ(he.getMaxAllowedValue(1, 0), 5);
  EXPECT_EQ(he.getMaxAllowedValue(3, 1), 8);
  EXPECT_EQ(he.getMaxAllowedValue(3, 3), 2);
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getMaxAllowedValue(1, 2); },
      "When getting max allowed values by range, the lower chain index must not be higher than "
      "the higher chain index");
  expectThrowWithMessage<std::out_of_range>(
      [&] { he.getMaxAllowedValue(4); },
      "Chain index range [4, 4] is outside the chain indexes of the max allowed values [0, 3]");
  expectThrowWithMessage<std::out_of_range>(
      [&] { he.getMaxAllowedValue(2, -1); },
      "Chain index range [-1, 2] is outside the chain indexes of the max allowed values [0, 3]");
}

TEST(HeContext, MinFeasibleNumSlots)
{
  FakeContext he;
  HeConfigRequirement req = HeConfigRequirement::insecure(-1, 3, 40, 10);
  EXPECT_EQ(he.getMinFeasibleNumSlots(req), 4);
  he.feasible = [](const HeConfigRequirement& r) { return r.numSlots >= 1000; };
  EXPECT_EQ(he.getMinFeasibleNumSlots(req), 1024);
  he.feasible = [](const HeConfigRequirement& r) { return r.numSlots > 65536; };
  EXPECT_EQ(he.getMinFeasibleNumSlots(req), -1);
  he.feasible = [](const HeConfigRequirement& r) { return r.numSlots == 65536; };
  EXPECT_EQ(he.getMinFeasibleNumSlots(req), 65536);

  const std::string message = "getMinFeasibleNumSlots() expects all of the requirement's "
                              "parametrs aside from \"numSlots\" to be set.";
  for (int field = 0; field < 3; ++field) {
    HeConfigRequirement incomplete = req;
    (field == 0 ? incomplete.fractionalPartPrecision
                : field == 1 ? incomplete.integerPartPrecision : incomplete.multiplicationDepth) =
        -1;
    expectThrowWithMessage<std::invalid_argument>([&] { he.getMinFeasibleNumSlots(incomplete); },
                                                  message);
  }
}

TEST(HeContext, GenericPackingRequirement)
{
  FakeContext he;
  HeConfigRequirement light = he.getConfigRequirementForGenericPacking(true);
  EXPECT_EQ(light.securityLevel, 128);
  EXPECT_EQ(light.fractionalPartPrecision, 40);
  EXPECT_EQ(light.integerPartPrecision, 10);
  EXPECT_EQ(light.multiplicationDepth, 10);
  EXPECT_EQ(light.numSlots, 4);
  EXPECT_FALSE(light.bootstrappable);

  he.feasible = [](const HeConfigRequirement&) { return false; };
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getConfigRequirementForGenericPacking(true); },
      "Internal error: no feasible HE context for generic packing for Test_Fake");
  // The full variant needs the backend's slot limit.
  expectThrowWithMessage<std::runtime_error>(
      [&] { he.getConfigRequirementForGenericPacking(false); },
      "HeContext::getMaxSupportedNumSlots is not implemented");

  MockupContext mockup;
  expectThrowWithMessage<std::runtime_error>(
      [&] { mockup.initForGenericPacking(true); },
      "Internal error: no feasible HE context for generic packing for Mockup_Mockup");
  EXPECT_FALSE(mockup.isInitialized());
}

TEST(HeContext, InitForGenericPackingInitialises)
{
  FakeContext he;
  he.initForGenericPacking(true);
  EXPECT_TRUE(he.isInitialized());
  EXPECT_EQ(he.getHeConfigRequirement().multiplicationDepth, 10);
  EXPECT_EQ(he.slotCount(), 4);
}

TEST(HeContext, SignatureAndDebugPrint)
{
  FakeContext fake;
  EXPECT_EQ(signatureOf(fake), "quorvane 1.5.3.0\nTest Fake context. Context id=0 (not initialized)\n");
  fake.init(HeConfigRequirement::insecure(8, 3));
  EXPECT_EQ(signatureOf(fake), "quorvane 1.5.3.0\nTest Fake context. Context id=" +
                                   std::to_string(fake.getContextId()) + " (NO SECRET KEY)\n");
  EXPECT_EQ(fake.getSignature(), "Fake");
  EXPECT_EQ(fake.getRegistryKey(), "Test_Fake");

  MockupContext mockup;
  EXPECT_EQ(signatureOf(mockup), "quorvane 1.5.3.0\nMockup context. Context id=0 (not initialized)\n");
  mockup.init(mockupRequirement());
  std::string expected = "quorvane 1.5.3.0\nMockup context. Context id=" +
                         std::to_string(mockup.getContextId()) + " (WITH SECRET KEY)\nSlots = 16\n";
  EXPECT_EQ(signatureOf(mockup), expected);

  std::ostringstream titled;
  mockup.debugPrint("My context", VERBOSITY_LOW, titled);
  EXPECT_EQ(titled.str(), "My context\n" + expected);
  std::ostringstream untitled;
  mockup.debugPrint("", VERBOSITY_REGULAR, untitled);
  EXPECT_EQ(untitled.str(), expected);
  std::ostringstream none;
  mockup.debugPrint("My context", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");
}
