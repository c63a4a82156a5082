#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "MultiPartyTestUtils.h"
#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/FileStorage.h"
#include "hebase/PTile.h"
#include "hebase/impl/AbstractDecryptProtocol.h"
#include "hebase/impl/DecryptProtocol.h"
#include "hebase/impl/ProtocolMessage.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::vector<double> VALUES = {0.5, -1.25, 2, 3.5, -4, 5.75, 6, -7.5};
const std::vector<double> OTHER_VALUES = {9, 8, 7, 6, 5, 4, 3, 2};

const std::string NOT_TILE =
    "AbstractDecryptProtocol::getOutputVectorDouble - protocol was not initialized with CTile";

struct Setting
{
  std::vector<int> ids;
  std::vector<int> keyOwners;
  int holder;
  int plaintextAggregator;
};

// One, two and three key owners; the holder a key owner or not.
const std::vector<Setting> SETTINGS = {
    {{1}, {1}, 1, 1},
    {{1, 5}, {1}, 5, 1},
    {{1, 2}, {1, 2}, 1, 2},
    {{1, 2, 3}, {1, 2, 3}, 2, 3},
    {{1, 2, 3, 6, 7}, {1, 2, 3}, 6, 1},
};

DoubleTensor tensorOf(const std::vector<int>& sizes, double start)
{
  DoubleTensor t(sizes);
  for (int i = 0; i < t.size(); ++i)
    t.at(i) = start + 0.25 * i;
  return t;
}

std::shared_ptr<CTileTensor> encryptedTensor(const HeContext& he, const DoubleTensor& values)
{
  auto res = std::make_shared<CTileTensor>(he);
  TTEncoder(he).encodeEncrypt(*res, TTShape({4, 2}), values);
  return res;
}

void expectEqualTensors(const DoubleTensor& actual, const DoubleTensor& expected)
{
  ASSERT_EQ(actual.getShape(), expected.getShape());
  for (int i = 0; i < expected.size(); ++i)
    EXPECT_EQ(actual.at(i), expected.at(i)) << i;
}

std::vector<Party> decryptParties(const Setting& s)
{
  std::vector<Party> parties = makeParties(s.ids, s.keyOwners, s.keyOwners[0], s.keyOwners[0]);
  addDecryptProtocols(parties, s.plaintextAggregator);
  return parties;
}

} // namespace

TEST(DecryptProtocol, TileDecryptedJointlyAtThePlaintextAggregator)
{
  for (const Setting& s : SETTINGS) {
    std::vector<Party> parties = decryptParties(s);
    Party& holder = partyWithId(parties, s.holder);
    holder.decrypt().setInput(encrypted(*holder.he, VALUES));
    EXPECT_TRUE(holder.protocol->isRole(MP_CIPHERTEXT_HOLDER));
    runAllRounds(parties);
    for (Party& p : parties) {
      const bool keyOwner = p.protocol->isRole(MP_KEY_OWNER);
      if (p.id == s.plaintextAggregator)
        EXPECT_EQ(maxError(p.decrypt().getOutputVectorDouble(), VALUES), 0.0);
      else if (keyOwner || p.id == s.holder)
        EXPECT_TRUE(p.decrypt().getOutputVectorDouble().empty()) << p.id;
      else
        expectThrowWithMessage<std::runtime_error>(
            [&] { p.decrypt().getOutputVectorDouble(); }, NOT_TILE);
    }
  }
}

TEST(DecryptProtocol, InputAndAggregatorErrors)
{
  std::vector<Party> parties = decryptParties(SETTINGS[3]);
  Party& holder = partyWithId(parties, 2);
  holder.decrypt().setInput(encrypted(*holder.he, VALUES));
  expectThrowWithMessage<std::runtime_error>(
      [&] { holder.decrypt().setInput(encrypted(*holder.he, VALUES)); },
      "AbstractDecryptProtocol::validateNotInit - input is already set.");

  Party& other = partyWithId(parties, 1);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { other.decrypt().setInput(CTile(*other.he)); },
      "AbstractDecryptProtocol::setInput - input is empty");
  EXPECT_TRUE(other.protocol->isRole(MP_CIPHERTEXT_HOLDER));
  std::vector<ProtocolMessage> outputs;
  expectThrowWithMessage<std::runtime_error>(
      [&] { other.protocol->executeNextRound(outputs, {}); },
      "AbstractDecryptProtocol::validateInit - input is not set.");

  // Without a plaintext aggregator id round 1 fails everywhere.
  auto he = mpContext(mpConfig(2, {1, 2, 3}, 1, 1));
  DecryptProtocol unnamed(*he);
  unnamed.setInput(encrypted(*he, VALUES));
  expectThrowWithMessage<std::runtime_error>(
      [&] { unnamed.executeNextRound(outputs, {}); },
      "AbstractDecryptProtocol::executeRoundOne - Plaintext aggregator ID is not set.");

  // An input of a context with another id.
  auto stranger = mpContext(mpConfig(2, {1, 2}, 1, 1));
  DecryptProtocol strangers(*he);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { strangers.setInput(encrypted(*stranger, VALUES)); },
      "AbstractDecryptProtocol::setInput - the input belongs to another context (context id " +
          std::to_string(1 ^ 2) + ", expected " + std::to_string(1 ^ 2 ^ 3) + ")");

  auto outsider = mpContext(mpConfig(7, {1, 2, 3}, 1, 1));
  DecryptProtocol outsiders(*outsider);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { outsiders.setPlaintextAggregatorId(7); },
      "AbstractProtocol::addRole - plaintext-aggregator which is a non-key-owner is not "
      "supported.");
  EXPECT_EQ(outsiders.getPlaintextAggregatorId(), 7);
  outsiders.setPlaintextAggregatorId(1);
  EXPECT_FALSE(outsiders.isRole(MP_PLAINTEXT_AGGREGATOR));
}

// Only a key owner can receive the output: any other plaintext aggregator id
// is refused by every participant, which keeps the id it had.
TEST(DecryptProtocol, PlaintextAggregatorMustBeAKeyOwner)
{
  // Key owners 3, 1, 2 (listed in ascending order); 6 a participant that
  // owns no key, 7 the configuration's aggregator, which owns none either.
  std::vector<Party> parties = makeParties({1, 2, 3, 6}, {3, 1, 2}, 1, 7);
  const std::string prefix =
      "AbstractDecryptProtocol::setPlaintextAggregatorId - the plaintext-aggregator ID ";
  const std::string suffix =
      " is not a key-owner ID; the plaintext-aggregator must be one of the key-owners: 1, 2, 3";
  const std::string notKeyOwner =
      "AbstractProtocol::addRole - plaintext-aggregator which is a non-key-owner is not "
      "supported.";
  for (Party& p : parties) {
    SCOPED_TRACE(p.id);
    DecryptProtocol protocol(*p.he);
    for (int id : {99, std::numeric_limits<int>::min(), -1, 0, 6, 7}) {
      SCOPED_TRACE(id);
      if (id == p.id)
        expectThrowWithMessage<std::invalid_argument>(
            [&] { protocol.setPlaintextAggregatorId(id); }, notKeyOwner);
      else
        expectThrowWithMessage<std::invalid_argument>(
            [&] { protocol.setPlaintextAggregatorId(id); }, prefix + std::to_string(id) + suffix);
      protocol.setPlaintextAggregatorId(2);
      EXPECT_EQ(protocol.getPlaintextAggregatorId(), 2);
    }
    EXPECT_EQ(protocol.isRole(MP_PLAINTEXT_AGGREGATOR), p.id == 2);
  }

  // Without key owners nobody can be named.
  auto lonely = mpContext(mpConfig(5, {}, 1, 1));
  DecryptProtocol alone(*lonely);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { alone.setPlaintextAggregatorId(1); },
      prefix + "1 is not a key-owner ID; the plaintext-aggregator must be one of the "
               "key-owners: none");
  EXPECT_EQ(alone.getPlaintextAggregatorId(), -1);

  // A refused id leaves the protocol ready to run with the one it had.
  addDecryptProtocols(parties, 3);
  for (Party& p : parties)
    EXPECT_THROW(p.decrypt().setPlaintextAggregatorId(99), std::invalid_argument);
  Party& holder = partyWithId(parties, 6);
  holder.decrypt().setInput(encrypted(*holder.he, VALUES));
  runAllRounds(parties);
  EXPECT_EQ(maxError(partyWithId(parties, 3).decrypt().getOutputVectorDouble(), VALUES), 0.0);
}

TEST(DecryptProtocol, RoundOneTakesNoInput)
{
  std::vector<Party> parties = decryptParties(SETTINGS[3]);
  Party& owner = partyWithId(parties, 1);
  // A message whose metadata fits round 1 still fails the round's assertion.
  std::vector<ProtocolMessage> inputs = {
      carried(ProtocolMessage(*partyWithId(parties, 2).he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1),
              *owner.he)};
  ASSERT_TRUE(owner.protocol->isInputMessageValidForCurrentRound(inputs[0]));
  std::vector<ProtocolMessage> outputs;
  expectAssertion([&] { owner.protocol->executeNextRound(outputs, inputs); },
                  "hebase/impl/AbstractDecryptProtocol.cpp", "executeRoundOne",
                  "inputMessages.size() == 0");
  EXPECT_EQ(owner.protocol->getCurrentRound(), 1);
}

TEST(DecryptProtocol, RoundTwoNeedsTheEncryptedInput)
{
  std::vector<Party> parties = decryptParties(SETTINGS[3]);
  Party& owner = partyWithId(parties, 1);
  for (Party& p : parties) {
    std::vector<ProtocolMessage> outputs;
    p.protocol->executeNextRound(outputs, {});
  }
  ProtocolMessage bare(*partyWithId(parties, 2).he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  std::vector<ProtocolMessage> outputs;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { owner.protocol->executeNextRound(outputs, {carried(bare, *owner.he)}); },
      invalidMessage("The message does not contain encrypted input.", 2, "KEY-OWNER", "DECRYPT",
                     2));
  EXPECT_FALSE(owner.protocol->executeNextRound(outputs, {}));
  expectThrowWithMessage<std::invalid_argument>(
      [&] { owner.protocol->executeNextRound(outputs, {bare, bare}); },
      "AbstractProtocol::validateNumMessages - too many input messages received. Expected: 1, "
      "received: 2");
  EXPECT_EQ(owner.protocol->getCurrentRound(), 2);
}

TEST(DecryptProtocol, IncompleteRoundThreeIsRetried)
{
  std::vector<Party> parties = decryptParties(SETTINGS[3]); // aggregator 3
  Party& holder = partyWithId(parties, 2);
  holder.decrypt().setInput(encrypted(*holder.he, VALUES));
  runRound(parties);
  runRound(parties);
  Party& aggregator = partyWithId(parties, 3);
  const std::vector<ProtocolMessage> full = aggregator.inbox;
  ASSERT_EQ(full.size(), 2u);
  std::vector<ProtocolMessage> outputs;
  EXPECT_FALSE(aggregator.protocol->executeNextRound(outputs, {full[1]}));
  EXPECT_EQ(aggregator.protocol->getCurrentRound(), 3);
  EXPECT_TRUE(aggregator.decrypt().getOutputVectorDouble().empty());

  // A message of a participant that owns no key in place of a key owner's.
  auto outsider = mpContext(mpConfig(8, {1, 2, 3}, 1, 1));
  std::vector<ProtocolMessage> replaced = {
      full[1], carried(ProtocolMessage(*outsider, PROTOCOL_DECRYPT, MP_PLAINTEXT_AGGREGATOR, 3),
                       *aggregator.he)};
  expectThrowWithMessage<std::invalid_argument>(
      [&] { aggregator.protocol->executeNextRound(outputs, replaced); },
      "AbstractProtocol::validateMessagesFromAllKeyOwners - The input messages does not contain "
      "messages from all other key-owners. Missing key-owners: " +
          std::to_string(full[0].getSourceParticipantId()));

  EXPECT_TRUE(aggregator.protocol->executeNextRound(outputs, full));
  EXPECT_EQ(maxError(aggregator.decrypt().getOutputVectorDouble(), VALUES), 0.0);
}

TEST(DecryptProtocol, ASecondRunAfterReset)
{
  const Setting& s = SETTINGS[4]; // holder 6 owns no key, aggregator 1
  std::vector<Party> parties = decryptParties(s);
  Party& holder = partyWithId(parties, s.holder);
  holder.decrypt().setInput(encrypted(*holder.he, VALUES));
  runAllRounds(parties);
  for (Party& p : parties)
    p.protocol->resetProtocol();
  Party& aggregator = partyWithId(parties, 1);
  EXPECT_TRUE(aggregator.protocol->isRole(MP_PLAINTEXT_AGGREGATOR));
  EXPECT_EQ(aggregator.decrypt().getPlaintextAggregatorId(), 1);
  EXPECT_FALSE(holder.protocol->isRole(MP_CIPHERTEXT_HOLDER));
  expectThrowWithMessage<std::runtime_error>(
      [&] { aggregator.decrypt().getOutputVectorDouble(); }, NOT_TILE);

  // The second run has another holder.
  Party& newHolder = partyWithId(parties, 3);
  newHolder.decrypt().setInput(encrypted(*newHolder.he, OTHER_VALUES));
  runAllRounds(parties);
  EXPECT_EQ(maxError(aggregator.decrypt().getOutputVectorDouble(), OTHER_VALUES), 0.0);
}

TEST(DecryptProtocol, MessagesOfAnotherRunOrSenderAreRefused)
{
  std::vector<Party> parties = decryptParties(SETTINGS[3]); // holder 2, aggregator 3
  Party& holder = partyWithId(parties, 2);
  Party& owner = partyWithId(parties, 1);
  Party& aggregator = partyWithId(parties, 3);
  holder.decrypt().setInput(encrypted(*holder.he, VALUES));
  runRound(parties);
  const std::vector<ProtocolMessage> firstInput = owner.inbox;
  runRound(parties);
  const std::vector<ProtocolMessage> firstRoundTwo = aggregator.inbox;
  runRound(parties);

  for (Party& p : parties)
    p.protocol->resetProtocol();
  holder.decrypt().setInput(encrypted(*holder.he, OTHER_VALUES));
  runRound(parties);
  std::vector<ProtocolMessage> outputs;
  // The holder's message of the first run, replayed.
  expectThrowWithMessage<std::invalid_argument>(
      [&] { owner.protocol->executeNextRound(outputs, firstInput); },
      invalidMessage("The message belongs to an earlier run of the protocol.", 2, "KEY-OWNER",
                     "DECRYPT", 2));
  // The holder takes no input in round 2: a message claiming its role is forged.
  ProtocolMessage forged(*owner.he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  forged.getImpl()->setCTile(std::make_shared<CTile>(encrypted(*owner.he, OTHER_VALUES)));
  expectThrowWithMessage<std::invalid_argument>(
      [&] { holder.protocol->executeNextRound(outputs, {carried(forged, *holder.he)}); },
      invalidMessage("The message does not come from the CIPHERTEXT-HOLDER, which sends the "
                     "messages of this round. Expected source ID: 2",
                     1, "KEY-OWNER", "DECRYPT", 2));
  runRound(parties);

  // A key owner's round-2 message of the first run, replayed to the aggregator.
  std::vector<ProtocolMessage> mixed = aggregator.inbox;
  ASSERT_EQ(mixed.size(), 2u);
  const size_t fromOwner = mixed[0].getSourceParticipantId() == 1 ? 0 : 1;
  for (const ProtocolMessage& old : firstRoundTwo)
    if (old.getSourceParticipantId() == 1)
      mixed[fromOwner] = old;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { aggregator.protocol->executeNextRound(outputs, mixed); },
      invalidMessage("The message belongs to another run of the protocol.", 1,
                     "PLAINTEXT-AGGREGATOR", "DECRYPT", 3));
  EXPECT_EQ(runRound(parties), std::vector<bool>(3, true));
  EXPECT_EQ(maxError(aggregator.decrypt().getOutputVectorDouble(), OTHER_VALUES), 0.0);
}

TEST(DecryptProtocol, TileTensorDecryptedJointly)
{
  const DoubleTensor values = tensorOf({6, 3}, -2);
  for (const Setting& s : SETTINGS) {
    std::vector<Party> parties = decryptParties(s);
    Party& holder = partyWithId(parties, s.holder);
    auto input = encryptedTensor(*holder.he, values);
    ASSERT_EQ(input->getNumUsedTiles(), 4);
    holder.decrypt().setInput(*input);
    runAllRounds(parties);
    for (Party& p : parties) {
      if (p.id == s.plaintextAggregator)
        expectEqualTensors(p.decrypt().getOutputDoubleTensor(), values);
      else if (p.protocol->isRole(MP_KEY_OWNER) || p.id == s.holder)
        EXPECT_EQ(p.decrypt().getOutputDoubleTensor().size(), 0) << p.id;
      else
        expectThrowWithMessage<std::runtime_error>(
            [&] { p.decrypt().getOutputDoubleTensor(); },
            "AbstractDecryptProtocol::getOutputDoubleTensor - protocol was not initialized "
            "with CTileTensor");
      for (auto getter : {+[](DecryptProtocol& d) { d.getOutputVectorDouble(); },
                          +[](DecryptProtocol& d) { d.getOutputVectorDoubleTensorCPtr(); }})
        EXPECT_THROW(getter(p.decrypt()), std::runtime_error);
    }
  }
}

TEST(DecryptProtocol, EncryptedDataDecryptedItemByItem)
{
  const std::vector<std::vector<DoubleTensor>> batches = {
      {tensorOf({6, 3}, 1), tensorOf({2, 2}, -3)}, {tensorOf({4, 1}, 7), tensorOf({9, 2}, 0.5)}};
  for (const Setting& s : SETTINGS) {
    std::vector<Party> parties = decryptParties(s);
    Party& holder = partyWithId(parties, s.holder);
    EncryptedData data(*holder.he);
    for (const auto& items : batches) {
      EncryptedBatch batch(*holder.he);
      for (const DoubleTensor& t : items)
        batch.addItem(encryptedTensor(*holder.he, t));
      data.addBatch(batch);
    }
    holder.decrypt().setInput(data);
    runAllRounds(parties);
    Party& aggregator = partyWithId(parties, s.plaintextAggregator);
    const auto outputs = aggregator.decrypt().getOutputVectorDoubleTensorCPtr();
    ASSERT_EQ(outputs.size(), 4u);
    for (size_t b = 0; b < 2; ++b)
      for (size_t i = 0; i < 2; ++i)
        expectEqualTensors(*outputs[2 * b + i], batches[b][i]);
    if (s.holder != s.plaintextAggregator) {
      EXPECT_TRUE(holder.decrypt().getOutputVectorDoubleTensorCPtr().empty());
    }
    expectThrowWithMessage<std::runtime_error>(
        [&] { aggregator.decrypt().getOutputDoubleTensor(); },
        "AbstractDecryptProtocol::getOutputDoubleTensor - protocol was not initialized with "
        "CTileTensor");
  }
  auto he = mpContext(mpConfig(1, {1}, 1, 1));
  DecryptProtocol empty(*he);
  expectThrowWithMessage<std::invalid_argument>([&] { empty.setInput(EncryptedData(*he)); },
                                                "AbstractDecryptProtocol::setInput - input is "
                                                "empty");
  DecryptProtocol unpacked(*he);
  expectThrowWithMessage<std::invalid_argument>([&] { unpacked.setInput(CTileTensor(*he)); },
                                                "AbstractDecryptProtocol::setInput - input is "
                                                "empty");
  expectThrowWithMessage<std::runtime_error>(
      [&] { unpacked.getOutputVectorDoubleTensorCPtr(); },
      "AbstractDecryptProtocol::getOutputVectorDoubleTensorCPtr - protocol was not initialized "
      "with EncryptedData");
}

TEST(DecryptProtocol, EncryptedDataInAStorageIsSentFromMemory)
{
  // The holder's message is saved whole, which a data set attached to a
  // storage cannot be: the protocol reads the batches into memory.
  const std::vector<DoubleTensor> values = {tensorOf({6, 3}, 1), tensorOf({2, 2}, -3)};
  for (const bool asInput : {false, true}) {
    TempDir dir;
    std::vector<Party> parties = decryptParties({{1, 2, 3}, {1, 2, 3}, 1, 3});
    Party& holder = partyWithId(parties, 1);
    auto storage = std::make_shared<FileStorage>(dir.file("store"), true);
    EncryptedData out(*holder.he);
    out.attachOutputStorage(storage);
    for (const DoubleTensor& t : values) {
      EncryptedBatch batch(*holder.he);
      batch.addItem(encryptedTensor(*holder.he, t));
      out.addBatch(batch);
    }
    out.flushToStorage();
    EncryptedData in(*holder.he);
    in.attachInputStorage(storage);
    holder.decrypt().setInput(asInput ? in : out);
    runAllRounds(parties);
    const auto outputs = partyWithId(parties, 3).decrypt().getOutputVectorDoubleTensorCPtr();
    ASSERT_EQ(outputs.size(), 2u) << asInput;
    for (size_t i = 0; i < 2; ++i)
      expectEqualTensors(*outputs[i], values[i]);

    // A batch the storage no longer has: the input is refused and not kept.
    std::filesystem::remove(dir.file("store") + "/batch-1");
    std::vector<Party> again = decryptParties({{1, 2, 3}, {1, 2, 3}, 1, 3});
    Party& second = partyWithId(again, 1);
    EncryptedData broken(*second.he);
    broken.attachInputStorage(std::make_shared<FileStorage>(dir.file("store"), false));
    const std::string file = dir.file("store") + "/batch-1";
    expectThrowWithMessage<std::runtime_error>(
        [&] { second.decrypt().setInput(broken); },
        "Cannot read batch 1 of the stored data set: FileStorage at path " + file +
            " failed to open file batch-1 for reading.");
    std::vector<ProtocolMessage> messages;
    expectThrowWithMessage<std::runtime_error>(
        [&] { second.protocol->executeNextRound(messages, {}); },
        "AbstractDecryptProtocol::validateInit - input is not set.");
  }
}

TEST(DecryptProtocol, BuildPTileTensorChecksTheTileCount)
{
  auto he = mpContext(mpConfig(1, {1}, 1, 1));
  TTShape shape({4, 2});
  shape.setOriginalSizes({6, 3});
  EXPECT_EQ(quietMessageOf<std::invalid_argument>(
                [&] { buildPTileTensor(*he, shape, std::vector<PTile>(3, PTile(*he))); }),
            "number of tiles in the given shape doesn't match the vector size. The given shape "
            "has 4 tiles. While the given vector is of size 3.");
}
