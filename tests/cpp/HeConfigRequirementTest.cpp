#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/utils/Assert.h"

using namespace quorvane;
using namespace qvtest;

namespace {

std::string saved(const SaveableBasic& obj, std::streamoff* count = nullptr)
{
  std::ostringstream out;
  std::streamoff n = obj.save(out);
  if (count)
    *count = n;
  return out.str();
}

const std::string SOURCE = "hebase/HeConfigRequirement.cpp";

std::string fixedPart(int32_t slots, int32_t depth, int32_t frac, int32_t integer, int32_t sec)
{
  return le32(slots) + le32(depth) + le32(frac) + le32(integer) + le32(sec);
}

std::string defaultPublicFunctions()
{
  return boolByte(true) + boolByte(true) + le32(1) + le32(1) + le32(0);
}

} // namespace

TEST(HeConfigRequirement, DefaultConstructorLeavesCountsUnset)
{
  HeConfigRequirement req;
  EXPECT_EQ(req.numSlots, -1);
  EXPECT_EQ(req.multiplicationDepth, -1);
  EXPECT_EQ(req.fractionalPartPrecision, -1);
  EXPECT_EQ(req.integerPartPrecision, -1);
  EXPECT_EQ(req.securityLevel, 128);
  EXPECT_FALSE(req.bootstrappable);
  EXPECT_FALSE(req.automaticBootstrapping);
  EXPECT_FALSE(req.bootstrapConfig.has_value());
  EXPECT_FALSE(req.multiPartyConfig.has_value());
}

TEST(HeConfigRequirement, ConstructorGivesDefaults)
{
  HeConfigRequirement req(4096, 5, 40, 10);
  EXPECT_EQ(req.numSlots, 4096);
  EXPECT_EQ(req.multiplicationDepth, 5);
  EXPECT_EQ(req.fractionalPartPrecision, 40);
  EXPECT_EQ(req.integerPartPrecision, 10);
  EXPECT_EQ(req.securityLevel, 128);
  EXPECT_FALSE(req.bootstrappable);
  EXPECT_FALSE(req.automaticBootstrapping);
  EXPECT_FALSE(req.bootstrapConfig.has_value());
  EXPECT_FALSE(req.multiPartyConfig.has_value());
  EXPECT_TRUE(req.publicFunctions.encrypt);
  EXPECT_TRUE(req.publicFunctions.relinearize);
  EXPECT_EQ(req.publicFunctions.rotate, DEFAULT_ROTATIONS);
  EXPECT_EQ(req.publicFunctions.conjugate, DEFAULT);
  EXPECT_TRUE(req.publicFunctions.rotationSteps.empty());
  EXPECT_NO_THROW(req.assertComplete());
}

TEST(HeConfigRequirement, SecurityLevelBelow128IsRefused)
{
  for (int level : {127, 0, -1, 1}) {
    SCOPED_TRACE(level);
    expectAssertion([level] { HeConfigRequirement(4096, 5, 40, 10, level); }, SOURCE,
                    "HeConfigRequirement", "securityLevel >= 128");
  }
  for (int level : {128, 192, 256, 300})
    EXPECT_EQ(HeConfigRequirement(16, 1, 20, 10, level).securityLevel, level);
}

TEST(HeConfigRequirement, InsecureHasLevelZeroAndUnsetPrecisions)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(4096, 5);
  EXPECT_EQ(req.numSlots, 4096);
  EXPECT_EQ(req.multiplicationDepth, 5);
  EXPECT_EQ(req.fractionalPartPrecision, -1);
  EXPECT_EQ(req.integerPartPrecision, -1);
  EXPECT_EQ(req.securityLevel, 0);
  expectAssertion([&req] { req.assertComplete(); }, SOURCE, "assertComplete",
                  "fractionalPartPrecision != -1");
  HeConfigRequirement full = HeConfigRequirement::insecure(16, 2, 30, 8);
  EXPECT_EQ(full.fractionalPartPrecision, 30);
  EXPECT_EQ(full.integerPartPrecision, 8);
  EXPECT_NO_THROW(full.assertComplete());
}

TEST(HeConfigRequirement, AssertCompleteChecksInOrder)
{
  struct Case
  {
    int32_t HeConfigRequirement::*field;
    const char* condition;
  };
  // Every field unset: the first failing check names the first field in order.
  const std::vector<Case> cases = {
      {&HeConfigRequirement::securityLevel, "securityLevel != -1"},
      {&HeConfigRequirement::numSlots, "numSlots != -1"},
      {&HeConfigRequirement::multiplicationDepth, "multiplicationDepth != -1"},
      {&HeConfigRequirement::fractionalPartPrecision, "fractionalPartPrecision != -1"},
      {&HeConfigRequirement::integerPartPrecision, "integerPartPrecision != -1"},
  };
  HeConfigRequirement req(16, 2, 30, 8);
  for (const Case& c : cases)
    req.*(c.field) = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.condition);
    expectAssertion([&req] { req.assertComplete(); }, SOURCE, "assertComplete", c.condition);
    req.*(c.field) = 1;
  }
  EXPECT_NO_THROW(req.assertComplete());
}

TEST(HeConfigRequirement, SavedFormWithoutOptionalPartsIs38Bytes)
{
  HeConfigRequirement req(4096, 5, 40, 10);
  std::streamoff count = 0;
  std::string data = saved(req, &count);
  std::string expected = fixedPart(4096, 5, 40, 10, 128) + boolByte(false) + boolByte(false) +
                         boolByte(false) + boolByte(false) + defaultPublicFunctions();
  EXPECT_EQ(data, expected);
  EXPECT_EQ(data.size(), 38u);
  EXPECT_EQ(count, 38);

  HeConfigRequirement loaded(8, 1, 1, 1);
  loaded.bootstrapConfig.emplace();
  loaded.multiPartyConfig.emplace();
  std::istringstream in(data);
  EXPECT_EQ(loaded.load(in), 38);
  EXPECT_EQ(saved(loaded), data);
  // Present optional parts are dropped when the saved requirement has none.
  EXPECT_FALSE(loaded.bootstrapConfig.has_value());
  EXPECT_FALSE(loaded.multiPartyConfig.has_value());
}

TEST(HeConfigRequirement, SavedFormWithEveryPart)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(16, 3, 30, 9);
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  req.bootstrapConfig.emplace();
  req.bootstrapConfig->targetChainIndex = 4;
  req.bootstrapConfig->applyTransformFactors = false;
  MultiPartyConfig mp;
  mp.participantId = 2;
  mp.keyOwnersIds = {1, 2};
  mp.initiatorId = 1;
  mp.aggregatorId = 3;
  req.multiPartyConfig = mp;
  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.conjugate = TRUE;
  req.publicFunctions.relinearize = false;
  req.publicFunctions.rotationSteps = {1, -2, 64};

  std::string bootstrap = le32(14) + boolByte(false) + boolByte(false) + le32(4) + le32(-1) +
                          le32(0) + boolByte(true) + boolByte(true) + boolByte(true) +
                          boolByte(true) + boolByte(false) + boolByte(false) + boolByte(false) +
                          le32(0);
  std::string multiParty = le32(2) + le32(2) + le32(1) + le32(2) + le32(3) + le32(1);
  std::string publicFunctions = boolByte(true) + boolByte(false) + le32(2) + le32(2) + le32(3) +
                                le32(1) + le32(-2) + le32(64);
  std::string expected = fixedPart(16, 3, 30, 9, 0) + boolByte(true) + boolByte(true) +
                         boolByte(true) + bootstrap + boolByte(true) + multiParty +
                         publicFunctions;
  std::streamoff count = 0;
  EXPECT_EQ(saved(req, &count), expected);
  EXPECT_EQ(count, static_cast<std::streamoff>(expected.size()));
  EXPECT_EQ(expected.size(), 22u + 1 + 29 + 1 + 24 + 26);

  HeConfigRequirement loaded;
  std::istringstream in(expected);
  EXPECT_EQ(loaded.load(in), count);
  EXPECT_EQ(loaded.securityLevel, 0);
  EXPECT_TRUE(loaded.bootstrappable);
  EXPECT_TRUE(loaded.automaticBootstrapping);
  ASSERT_TRUE(loaded.bootstrapConfig.has_value());
  EXPECT_EQ(loaded.bootstrapConfig->targetChainIndex, 4);
  EXPECT_TRUE(loaded.bootstrapConfig->applyTransformFactors);
  ASSERT_TRUE(loaded.multiPartyConfig.has_value());
  EXPECT_EQ(loaded.multiPartyConfig->keyOwnersIds, (std::vector<int>{1, 2}));
  EXPECT_EQ(loaded.multiPartyConfig->initiatorId, 1);
  EXPECT_EQ(loaded.multiPartyConfig->aggregatorId, 3);
  EXPECT_EQ(loaded.publicFunctions.rotationSteps, (std::vector<int>{1, -2, 64}));
  EXPECT_EQ(loaded.publicFunctions.conjugate, TRUE);
  EXPECT_EQ(saved(loaded), expected);
}

TEST(HeConfigRequirement, LoadRefusesValuesOutOfRange)
{
  struct Case
  {
    int32_t slots, depth, frac, integer, sec;
    const char* message;
  };
  const std::vector<Case> cases = {
      {0, 5, 40, 10, 128,
       "Invalid saved HeConfigRequirement: numSlots is 0, expected -1 (not set) or a value in "
       "[1, 4194304]"},
      {INT32_MAX, 5, 40, 10, 128,
       "Invalid saved HeConfigRequirement: numSlots is 2147483647, expected -1 (not set) or a "
       "value in [1, 4194304]"},
      {-7, 5, 40, 10, 128,
       "Invalid saved HeConfigRequirement: numSlots is -7, expected -1 (not set) or a value in "
       "[1, 4194304]"},
      {16, -2, 40, 10, 128,
       "Invalid saved HeConfigRequirement: multiplicationDepth is -2, expected -1 (not set) or a "
       "value in [0, 1000]"},
      {16, 1001, 40, 10, 128,
       "Invalid saved HeConfigRequirement: multiplicationDepth is 1001, expected -1 (not set) or "
       "a value in [0, 1000]"},
      {16, 5, -3, 10, 128,
       "Invalid saved HeConfigRequirement: fractionalPartPrecision is -3, expected -1 (not set) "
       "or a value in [0, 1000]"},
      {16, 5, 40, 5000, 128,
       "Invalid saved HeConfigRequirement: integerPartPrecision is 5000, expected -1 (not set) or "
       "a value in [0, 1000]"},
      {16, 5, 40, 10, 257,
       "Invalid saved HeConfigRequirement: securityLevel is 257, expected -1 (not set) or a value "
       "in [0, 256]"},
      {16, 5, 40, 10, INT32_MIN,
       "Invalid saved HeConfigRequirement: securityLevel is -2147483648, expected -1 (not set) or "
       "a value in [0, 256]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    HeConfigRequirement target(32, 2, 20, 5);
    std::string before = saved(target);
    std::string data = fixedPart(c.slots, c.depth, c.frac, c.integer, c.sec) + boolByte(false) +
                       boolByte(false) + boolByte(false) + boolByte(false) +
                       defaultPublicFunctions();
    EXPECT_EQ(loadError(target, data), c.message);
    EXPECT_EQ(saved(target), before);
  }
  // Unset counts (-1) and the extremes of every range load.
  HeConfigRequirement target;
  std::string data = fixedPart(4194304, 1000, 0, 1000, -1) + boolByte(false) + boolByte(false) +
                     boolByte(false) + boolByte(false) + defaultPublicFunctions();
  EXPECT_EQ(loadError(target, data), "<no exception>");
  EXPECT_EQ(target.numSlots, 4194304);
  EXPECT_EQ(target.securityLevel, -1);
}

TEST(HeConfigRequirement, LoadRefusesBadNestedRecordsAndLeavesObjectUnchanged)
{
  HeConfigRequirement target(32, 2, 20, 5);
  std::string before = saved(target);
  std::string head = fixedPart(16, 5, 40, 10, 128) + boolByte(false) + boolByte(false);

  // A huge key-owner count is refused before anything is allocated.
  std::string hugeOwners = head + boolByte(false) + boolByte(true) + le32(1) + le32(2000000000);
  EXPECT_EQ(loadError(target, hugeOwners),
            "BinIoUtils::readInt32Checked() failed: The loaded value (2000000000) doesn't fall "
            "in the specified valid range ([0, 100000]).");
  // So is a negative rotation-step count.
  std::string negativeSteps = head + boolByte(false) + boolByte(false) + boolByte(true) +
                              boolByte(true) + le32(2) + le32(1) + le32(-1);
  EXPECT_EQ(loadError(target, negativeSteps),
            "BinIoUtils::readInt32Checked() failed: The loaded value (-1) doesn't fall in the "
            "specified valid range ([0, 100000]).");
  // A bootstrap configuration with an out-of-range field.
  std::string badBootstrap = head + boolByte(true) + le32(99);
  EXPECT_EQ(loadError(target, badBootstrap),
            "Invalid saved BootstrapConfig: nT is 99, expected a value in [13, 50]");
  // A stream that ends in the middle.
  std::string truncated = head + boolByte(false) + boolByte(false) + boolByte(true);
  EXPECT_EQ(loadError(target, truncated).rfind("Input stream ended or failed while reading", 0),
            0u);
  EXPECT_EQ(saved(target), before);
}

TEST(HeConfigRequirement, PrintsItsFields)
{
  HeConfigRequirement req(4096, 5, 40, 10);
  const std::string head = "He configuration requirement:\n"
                           "Security level: 128\n"
                           "Integer part precision: 10\n"
                           "Fractional part precision: 40\n"
                           "Number of slots: 4096\n"
                           "Multiplication depth: 5\n"
                           "Bootstrappable: False\n"
                           "Automatic bootstrapping: False\n";
  EXPECT_EQ(req.toString(VERBOSITY_REGULAR), head + "Rotation keys policy: default rotation keys\n");
  EXPECT_EQ(req.toString(VERBOSITY_LOW), req.toString(VERBOSITY_DETAILED));
  EXPECT_EQ(req.toString(VERBOSITY_NONE), "");
  // The title is not printed.
  std::ostringstream titled;
  req.debugPrint("my title", VERBOSITY_REGULAR, titled);
  EXPECT_EQ(titled.str(), req.toString(VERBOSITY_REGULAR));

  req.publicFunctions.rotate = NO_ROTATIONS;
  EXPECT_EQ(req.toString(), head + "Rotation keys policy: no rotation keys\n");

  req.publicFunctions.rotate = CUSTOM_ROTATIONS;
  req.publicFunctions.rotationSteps = {1, 2, -4};
  EXPECT_EQ(req.toString(),
            head + "Rotation keys policy: custom, 3 keys required:\n[1, 2, -4]\n");
}

TEST(HeConfigRequirement, PrintsFlagsAndMultiPartyConfig)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 2);
  req.bootstrappable = true;
  req.automaticBootstrapping = true;
  MultiPartyConfig mp;
  mp.participantId = 2;
  mp.keyOwnersIds = {1, 2};
  mp.initiatorId = 1;
  mp.aggregatorId = 2;
  req.multiPartyConfig = mp;
  EXPECT_EQ(req.toString(), "He configuration requirement:\n"
                            "Security level: 0\n"
                            "Integer part precision: -1\n"
                            "Fractional part precision: -1\n"
                            "Number of slots: 8\n"
                            "Multiplication depth: 2\n"
                            "Bootstrappable: True\n"
                            "Automatic bootstrapping: True\n"
                            "Multi-Party: True\n"
                            "Participant Id: 2\n"
                            "Is key-owner: true\n"
                            "Is initiator: false\n"
                            "Is aggregator: true\n"
                            "Number of key-owners: 2\n"
                            "Key-owners IDs: [1,2]\n"
                            "Initiator ID: 1\n"
                            "Aggregator ID: 2\n"
                            "Rotation keys policy: default rotation keys\n");
}

TEST(HeConfigRequirement, PrintRefusesUnknownRotationType)
{
  HeConfigRequirement req(16, 1, 20, 10);
  req.publicFunctions.rotate = static_cast<RotationSetType>(7);
  std::ostringstream out;
  try {
    req.debugPrint("", VERBOSITY_REGULAR, out);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid rotation type: 7");
  }
  // The lines before the policy were written.
  EXPECT_NE(out.str().find("Automatic bootstrapping: False\n"), std::string::npos);
}

TEST(HeConfigRequirement, CopiesAreDeep)
{
  HeConfigRequirement req(16, 1, 20, 10);
  req.bootstrapConfig.emplace();
  req.multiPartyConfig.emplace();
  req.multiPartyConfig->keyOwnersIds = {1, 2};
  req.publicFunctions.rotationSteps = {5};

  HeConfigRequirement copy(req);
  copy.bootstrapConfig->nT = 20;
  copy.multiPartyConfig->keyOwnersIds.push_back(3);
  copy.publicFunctions.rotationSteps[0] = 6;
  EXPECT_EQ(req.bootstrapConfig->nT, 14);
  EXPECT_EQ(req.multiPartyConfig->keyOwnersIds, (std::vector<int>{1, 2}));
  EXPECT_EQ(req.publicFunctions.rotationSteps, (std::vector<int>{5}));

  HeConfigRequirement assigned;
  assigned = copy;
  EXPECT_EQ(saved(assigned), saved(copy));
  HeConfigRequirement moved(std::move(assigned));
  EXPECT_EQ(saved(moved), saved(copy));
}

TEST(BootstrapConfig, DefaultsAndSavedForm)
{
  BootstrapConfig config;
  EXPECT_EQ(config.nT, 14);
  EXPECT_FALSE(config.supportComplexData);
  EXPECT_FALSE(config.duplicateRealInput);
  EXPECT_EQ(config.targetChainIndex, -1);
  EXPECT_EQ(config.minChainIndexForBootstrapping, -1);
  EXPECT_EQ(config.verbose, VERBOSITY_NONE);
  EXPECT_TRUE(config.storeEncMatrices);
  EXPECT_TRUE(config.loadEncMatrices);
  EXPECT_EQ(config.range, 0);
  EXPECT_TRUE(config.slot2coefViaFFT);
  EXPECT_TRUE(config.coef2slotViaFFT);
  EXPECT_FALSE(config.correctModScale);
  EXPECT_TRUE(config.applyTransformFactors);
  EXPECT_FALSE(config.clearSineMod);
  EXPECT_FALSE(config.clearExactMod);
  EXPECT_EQ(config.toString(), "Object (detailed printing not implemented yet)");

  // loadEncMatrices is written before storeEncMatrices.
  config.nT = 20;
  config.supportComplexData = true;
  config.targetChainIndex = 7;
  config.minChainIndexForBootstrapping = 2;
  config.verbose = VERBOSITY_DETAILED;
  config.storeEncMatrices = false;
  config.correctModScale = true;
  config.clearExactMod = true;
  std::streamoff count = 0;
  std::string data = saved(config, &count);
  EXPECT_EQ(data, le32(20) + boolByte(true) + boolByte(false) + le32(7) + le32(2) + le32(3) +
                      boolByte(true) + boolByte(false) + boolByte(true) + boolByte(true) +
                      boolByte(true) + boolByte(false) + boolByte(true) + le32(0));
  EXPECT_EQ(count, 29);
}

TEST(BootstrapConfig, LoadRestoresFieldsButNotTransformFactors)
{
  BootstrapConfig config;
  config.applyTransformFactors = false;
  config.duplicateRealInput = true;
  config.clearSineMod = true;
  config.slot2coefViaFFT = false;
  std::string data = saved(config);
  BootstrapConfig loaded;
  loaded.applyTransformFactors = false;
  std::istringstream in(data);
  EXPECT_EQ(loaded.load(in), 29);
  EXPECT_TRUE(loaded.applyTransformFactors);
  EXPECT_TRUE(loaded.duplicateRealInput);
  EXPECT_TRUE(loaded.clearSineMod);
  EXPECT_FALSE(loaded.slot2coefViaFFT);
  EXPECT_EQ(saved(loaded), data);
}

TEST(BootstrapConfig, LoadRefusesValuesOutOfRange)
{
  auto build = [](int32_t nT, int32_t target, int32_t minIndex, int32_t verbose, int32_t range) {
    return le32(nT) + boolByte(false) + boolByte(false) + le32(target) + le32(minIndex) +
           le32(verbose) + std::string(7, '\1') + le32(range);
  };
  struct Case
  {
    std::string data;
    const char* message;
  };
  const std::vector<Case> cases = {
      {build(12, -1, -1, 0, 0),
       "Invalid saved BootstrapConfig: nT is 12, expected a value in [13, 50]"},
      {build(51, -1, -1, 0, 0),
       "Invalid saved BootstrapConfig: nT is 51, expected a value in [13, 50]"},
      {build(14, -2, -1, 0, 0),
       "Invalid saved BootstrapConfig: targetChainIndex is -2, expected a value in [-1, 1000]"},
      {build(14, -1, 1001, 0, 0),
       "Invalid saved BootstrapConfig: minChainIndexForBootstrapping is 1001, expected a value "
       "in [-1, 1000]"},
      {build(14, -1, -1, 5, 0),
       "Invalid saved BootstrapConfig: verbose is 5, expected a value in [0, 4]"},
      {build(14, -1, -1, 0, 1),
       "Invalid saved BootstrapConfig: range is 1, expected a value in [0, 0]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    BootstrapConfig target;
    EXPECT_EQ(loadError(target, c.data), c.message);
    EXPECT_EQ(target.nT, 14);
  }
  BootstrapConfig edge;
  EXPECT_EQ(loadError(edge, build(50, 1000, -1, 4, 0)), "<no exception>");
  EXPECT_EQ(edge.nT, 50);
  EXPECT_EQ(edge.verbose, VERBOSITY_EXTRA_DETAILED);
}

TEST(MultiPartyConfig, DefaultsAndQueries)
{
  MultiPartyConfig mp;
  EXPECT_EQ(mp.participantId, -1);
  EXPECT_TRUE(mp.keyOwnersIds.empty());
  EXPECT_EQ(mp.initiatorId, 0);
  EXPECT_EQ(mp.aggregatorId, 0);
  EXPECT_EQ(mp.numKeyOwners(), 0);
  EXPECT_FALSE(mp.isKeyOwner());
  EXPECT_FALSE(mp.isInitiator());
  EXPECT_FALSE(mp.isAggregator());

  struct Case
  {
    int participant;
    bool keyOwner, initiator, aggregator;
  };
  mp.keyOwnersIds = {3, 1, 3};
  mp.initiatorId = 1;
  mp.aggregatorId = 4;
  for (const Case& c : std::vector<Case>{{1, true, true, false},
                                         {3, true, false, false},
                                         {4, false, false, true},
                                         {0, false, false, false}}) {
    SCOPED_TRACE(c.participant);
    mp.participantId = c.participant;
    EXPECT_EQ(mp.isKeyOwner(), c.keyOwner);
    EXPECT_EQ(mp.isInitiator(), c.initiator);
    EXPECT_EQ(mp.isAggregator(), c.aggregator);
  }
  EXPECT_EQ(mp.numKeyOwners(), 3);
  EXPECT_TRUE(mp.isIdKeyOwner(3));
  EXPECT_FALSE(mp.isIdKeyOwner(2));
}

TEST(MultiPartyConfig, Prints)
{
  MultiPartyConfig mp;
  mp.participantId = 2;
  mp.keyOwnersIds = {1, 2};
  const std::string body = "Participant Id: 2\n"
                           "Is key-owner: true\n"
                           "Is initiator: false\n"
                           "Is aggregator: false\n"
                           "Number of key-owners: 2\n"
                           "Key-owners IDs: [1,2]\n"
                           "Initiator ID: 0\n"
                           "Aggregator ID: 0\n";
  EXPECT_EQ(mp.toString(), body);
  std::ostringstream titled;
  mp.debugPrint("Party", VERBOSITY_LOW, titled);
  EXPECT_EQ(titled.str(), "Party\n" + body);
  EXPECT_EQ(mp.toString(VERBOSITY_NONE), "");
  EXPECT_NE(MultiPartyConfig().toString().find("Key-owners IDs: []\n"), std::string::npos);
}

TEST(MultiPartyConfig, SavedFormPutsAggregatorBeforeInitiator)
{
  MultiPartyConfig mp;
  mp.participantId = 5;
  mp.keyOwnersIds = {5, 6, 7};
  mp.initiatorId = 6;
  mp.aggregatorId = 9;
  std::streamoff count = 0;
  std::string data = saved(mp, &count);
  EXPECT_EQ(data, le32(5) + le32(3) + le32(5) + le32(6) + le32(7) + le32(9) + le32(6));
  EXPECT_EQ(count, 28);
  MultiPartyConfig loaded;
  std::istringstream in(data);
  EXPECT_EQ(loaded.load(in), 28);
  EXPECT_EQ(loaded.participantId, 5);
  EXPECT_EQ(loaded.keyOwnersIds, (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(loaded.initiatorId, 6);
  EXPECT_EQ(loaded.aggregatorId, 9);

  MultiPartyConfig target;
  EXPECT_EQ(loadError(target, le32(1) + le32(100001)),
            "BinIoUtils::readInt32Checked() failed: The loaded value (100001) doesn't fall in "
            "the specified valid range ([0, 100000]).");
  EXPECT_EQ(target.participantId, -1);
}
