#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "MultiPartyTestUtils.h"
#include "TestUtils.h"
#include "hebase/impl/InitProtocol.h"
#include "hebase/impl/ProtocolMessage.h"

using namespace quorvane;
using namespace qvtest;

namespace {

struct Setting
{
  std::vector<int> ids;
  std::vector<int> keyOwners;
  int initiator;
  int aggregator;
};

// One, two and three key owners; the aggregator the initiator, another key
// owner, or no key owner.
const std::vector<Setting> SETTINGS = {
    {{4}, {4}, 4, 4},
    {{1, 2}, {1, 2}, 1, 2},
    {{1, 2, 3}, {1, 2, 3}, 2, 2},
    {{1, 2, 3, 9}, {1, 2, 3}, 3, 9},
};

std::vector<Party> initParties(const Setting& s)
{
  std::vector<Party> parties = makeParties(s.ids, s.keyOwners, s.initiator, s.aggregator);
  addInitProtocols(parties);
  return parties;
}

} // namespace

TEST(InitProtocol, EveryParticipantAdoptsTheInitiatorsProtocolId)
{
  for (const Setting& s : SETTINGS) {
    std::vector<Party> parties = initParties(s);
    const int32_t startId = parties[0].he->getContextId();
    Party& initiator = partyWithId(parties, s.initiator);
    EXPECT_EQ(initiator.protocol->getRoles().count(MP_INITIATOR), 1u);
    EXPECT_TRUE(partyWithId(parties, s.aggregator).protocol->isRole(MP_AGGREGATOR));

    // Round 1 by hand: the initiator's outputs carry the protocol id.
    std::vector<ProtocolMessage> outputs;
    ASSERT_TRUE(initiator.protocol->executeNextRound(outputs, {}));
    const bool externalAggregator = s.aggregator == 9;
    ASSERT_EQ(outputs.size(), externalAggregator ? 2u : 1u);
    const int32_t protocolId = outputs[0].getImpl()->getProtocolId();
    EXPECT_NE(protocolId, 0);
    EXPECT_EQ(outputs[0].getDestinationRole(), MP_KEY_OWNER);
    if (externalAggregator) {
      EXPECT_EQ(outputs[1].getDestinationRole(), MP_AGGREGATOR);
      EXPECT_EQ(outputs[1].getImpl()->getProtocolId(), protocolId);
    }
    for (size_t i = 0; i < parties.size(); ++i) {
      if (&parties[i] == &initiator)
        continue;
      std::vector<ProtocolMessage> none;
      ASSERT_TRUE(parties[i].protocol->executeNextRound(none, {}));
      EXPECT_TRUE(none.empty());
    }
    deliver(parties, &initiator - &parties[0], outputs);

    for (int round = 2; round <= 6; ++round)
      EXPECT_EQ(runRound(parties), std::vector<bool>(parties.size(), true)) << round;
    for (Party& p : parties) {
      EXPECT_EQ(p.he->getContextId(), protocolId) << p.id;
      EXPECT_FALSE(p.protocol->needsAnotherRound());
      EXPECT_TRUE(p.inbox.empty());
    }
    EXPECT_NE(protocolId, startId);
  }
}

TEST(InitProtocol, InitiatorMustBeAKeyOwner)
{
  for (int id : {1, 2, 5}) {
    auto he = mpContext(mpConfig(id, {1, 2}, 5, 1));
    expectThrowWithMessage<std::invalid_argument>(
        [&] { InitProtocol p(*he); },
        id == 5 ? "AbstractProtocol::addRole - the participant is not a key-owner and "
                  "therefore cannot be the initiator."
                : "AbstractInitProtocol::AbstractInitProtocol - Initiator must be a key-owner.");
  }
}

TEST(InitProtocol, MissingMessagesLeaveTheRoundToBeRetried)
{
  std::vector<Party> parties = initParties(SETTINGS[2]); // initiator and aggregator 2
  runRound(parties);
  Party& owner = partyWithId(parties, 3);
  const int32_t before = owner.he->getContextId();
  std::vector<ProtocolMessage> held = std::move(owner.inbox);
  owner.inbox.clear();
  // A stale output left in the vector does not survive a short round.
  std::vector<ProtocolMessage> outputs = {ProtocolMessage(*owner.he, PROTOCOL_INIT,
                                                          MP_AGGREGATOR, 3)};
  EXPECT_FALSE(owner.protocol->executeNextRound(outputs, {}));
  EXPECT_TRUE(outputs.empty());
  EXPECT_EQ(owner.protocol->getCurrentRound(), 2);
  EXPECT_EQ(owner.he->getContextId(), before);
  owner.inbox = held;
  EXPECT_EQ(runRound(parties), std::vector<bool>(3, true));

  // Round 3 at the aggregator: one key owner's message missing, then the full set.
  Party& aggregator = partyWithId(parties, 2);
  held = aggregator.inbox;
  ASSERT_EQ(held.size(), 2u);
  EXPECT_FALSE(aggregator.protocol->executeNextRound(outputs, {held[0]}));
  EXPECT_EQ(aggregator.protocol->getCurrentRound(), 3);
  aggregator.inbox = held;
  for (int round = 3; round <= 6; ++round)
    EXPECT_EQ(runRound(parties), std::vector<bool>(3, true)) << round;
  for (Party& p : parties)
    EXPECT_EQ(p.he->getContextId(), parties[0].he->getContextId());
}

TEST(InitProtocol, MessagesFromTheWrongSenderAreRefused)
{
  // Key owners 1, 2, 3 and an aggregator 9 that owns no key; initiator 3.
  std::vector<Party> parties = initParties(SETTINGS[3]);
  Party& owner = partyWithId(parties, 1);
  Party& other = partyWithId(parties, 2);
  runRound(parties);
  // Round 2: a message to the key owners that claims no initiator's role.
  ProtocolMessage forged(*other.he, PROTOCOL_INIT, MP_KEY_OWNER, 2);
  std::vector<ProtocolMessage> outputs;
  expectThrowWithMessage<std::invalid_argument>(
      [&] { owner.protocol->executeNextRound(outputs, {forged}); },
      invalidMessage("The message does not come from the INITIATOR, which sends the messages "
                     "of this round. Expected source ID: 3",
                     2, "KEY-OWNER", "INIT", 2));
  EXPECT_EQ(owner.protocol->getCurrentRound(), 2);
  EXPECT_EQ(runRound(parties), std::vector<bool>(4, true));

  // Round 3 at the aggregator: a message of a participant that owns no key in
  // place of a key owner's names the missing key owner.
  Party& aggregator = partyWithId(parties, 9);
  std::vector<ProtocolMessage> replaced = aggregator.inbox;
  ASSERT_EQ(replaced.size(), 3u);
  auto outsider = mpContext(mpConfig(8, {1, 2, 3}, 3, 9));
  outsider->setContextId(aggregator.he->getContextId());
  replaced[0] = carried(ProtocolMessage(*outsider, PROTOCOL_INIT, MP_AGGREGATOR, 3),
                        *aggregator.he);
  const int missing = aggregator.inbox[0].getSourceParticipantId();
  expectThrowWithMessage<std::invalid_argument>(
      [&] { aggregator.protocol->executeNextRound(outputs, replaced); },
      "AbstractProtocol::validateMessagesFromAllKeyOwners - The input messages does not contain "
      "messages from all key-owners. Missing key-owners: " +
          std::to_string(missing));
  EXPECT_EQ(runRound(parties), std::vector<bool>(4, true));

  // Round 4: only the aggregator sends to the key owners.
  std::vector<ProtocolMessage> fromOwner = {
      ProtocolMessage(*other.he, PROTOCOL_INIT, MP_KEY_OWNER, 4)};
  expectThrowWithMessage<std::invalid_argument>(
      [&] { owner.protocol->executeNextRound(outputs, fromOwner); },
      invalidMessage("The message does not come from the AGGREGATOR, which sends the messages "
                     "of this round. Expected source ID: 9",
                     2, "KEY-OWNER", "INIT", 4));
  for (int round = 4; round <= 6; ++round)
    EXPECT_EQ(runRound(parties), std::vector<bool>(4, true)) << round;
}

TEST(InitProtocol, ASecondRunAfterReset)
{
  std::vector<Party> parties = initParties(SETTINGS[2]);
  runAllRounds(parties);
  const int32_t first = parties[0].he->getContextId();
  for (Party& p : parties) {
    p.protocol->resetProtocol();
    EXPECT_EQ(p.protocol->getCurrentRound(), 1);
    EXPECT_TRUE(p.protocol->isRole(MP_KEY_OWNER));
  }
  EXPECT_TRUE(partyWithId(parties, 2).protocol->isRole(MP_AGGREGATOR));
  runAllRounds(parties);
  const int32_t second = parties[0].he->getContextId();
  EXPECT_NE(second, first);
  for (Party& p : parties)
    EXPECT_EQ(p.he->getContextId(), second);
}

TEST(InitProtocol, ProtocolIdsLeaveTheCLibraryGeneratorAlone)
{
  srand(2024);
  const int expected = rand();
  srand(2024);
  std::vector<Party> parties = initParties(SETTINGS[0]);
  std::vector<ProtocolMessage> outputs;
  parties[0].protocol->executeNextRound(outputs, {});
  EXPECT_EQ(rand(), expected);
}

TEST(InitProtocol, OutsidersNeverGetAProtocolId)
{
  std::vector<Party> parties = initParties({{1, 2, 7}, {1, 2}, 1, 2});
  Party& outsider = partyWithId(parties, 7);
  EXPECT_TRUE(outsider.protocol->getRoles().empty());
  EXPECT_EQ(runRound(parties), std::vector<bool>(3, true));
  EXPECT_EQ(runRound(parties), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(outsider.protocol->getCurrentRound(), 2);
}
