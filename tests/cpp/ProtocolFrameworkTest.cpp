#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MultiPartyTestUtils.h"
#include "TestUtils.h"
#include "hebase/impl/AbstractProtocol.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/EmptyContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

// A three-round protocol whose rounds expect a given number of messages and
// produce nothing; it opens the protected operations to the tests.
class CountingProtocol : public AbstractProtocol
{
public:
  explicit CountingProtocol(const HeContext& he, int expected = 0) : AbstractProtocol(he)
  {
    protocolType = PROTOCOL_DECRYPT;
    totalNumberOfRounds = 3;
    expectedMessages = expected;
  }

  int expectedMessages;
  int executedRounds = 0;

  using AbstractProtocol::addRole;
  using AbstractProtocol::hasMessageToMyself;
  using AbstractProtocol::receiveMessageFromMyself;
  using AbstractProtocol::resetRoles;
  using AbstractProtocol::sendMessageToMyself;
  using AbstractProtocol::validateMessagesFromAllKeyOwners;
  using AbstractProtocol::validateNumMessages;

protected:
  bool executeRound(int, std::vector<ProtocolMessage>& outputs,
                    const std::vector<ProtocolMessage>& inputs) override
  {
    outputs.clear();
    if (!validateNumMessages(expectedMessages, inputs))
      return false;
    ++executedRounds;
    return true;
  }
};

const std::vector<int> OWNERS = {1, 2, 3};

// The context of a participant; kept for the whole test program, since
// protocols and messages refer to their context.
std::shared_ptr<HeContext> participant(int id, int initiator = 1)
{
  static std::map<std::pair<int, int>, std::shared_ptr<HeContext>> contexts;
  std::shared_ptr<HeContext>& he = contexts[{id, initiator}];
  if (!he)
    he = mpContext(mpConfig(id, OWNERS, initiator, 2));
  return he;
}

std::vector<ProtocolMessage> messagesFrom(const std::vector<int>& sources, ProtocolType type,
                                          MultiPartyRole role, int round)
{
  std::vector<ProtocolMessage> res;
  for (int id : sources)
    res.emplace_back(*participant(id), type, role, round);
  return res;
}

} // namespace

TEST(AbstractProtocol, RolesFromTheConfiguration)
{
  struct Case
  {
    int participant;
    int initiator;
    std::set<MultiPartyRole> roles;
  };
  for (const Case& c : std::vector<Case>{{1, 1, {MP_KEY_OWNER, MP_INITIATOR}},
                                         {2, 1, {MP_KEY_OWNER}},
                                         {7, 1, {}}}) {
    CountingProtocol protocol(*participant(c.participant, c.initiator));
    EXPECT_EQ(protocol.getRoles(), c.roles) << c.participant;
    EXPECT_EQ(protocol.getCurrentRound(), 1);
    EXPECT_TRUE(protocol.needsAnotherRound());
  }
  expectThrowWithMessage<std::invalid_argument>(
      [&] { CountingProtocol p(*participant(7, 7)); },
      "AbstractProtocol::addRole - the participant is not a key-owner and therefore cannot be "
      "the initiator.");
  expectThrowWithMessage<std::invalid_argument>(
      [&] {
        auto repeated = mpContext(mpConfig(1, {1, 2, 1}, 1, 1));
        CountingProtocol p(*repeated);
      },
      "AbstractProtocol::AbstractProtocol - the key-owner ids must be distinct. Repeated "
      "key-owner id: 1");
  auto plain = createMockup(8, 2);
  expectThrowWithMessage<std::runtime_error>([&] { CountingProtocol p(*plain); },
                                             "This HE context is not multi-party");
}

TEST(AbstractProtocol, AddRoleAndResetRoles)
{
  CountingProtocol owner(*participant(2));
  owner.addRole(MP_KEY_OWNER);
  for (MultiPartyRole role : {MP_AGGREGATOR, MP_CIPHERTEXT_HOLDER, MP_PLAINTEXT_AGGREGATOR})
    owner.addRole(role);
  EXPECT_EQ(owner.getRoles().size(), 4u);
  owner.resetRoles();
  EXPECT_EQ(owner.getRoles(), std::set<MultiPartyRole>{MP_KEY_OWNER});

  CountingProtocol outsider(*participant(7));
  expectThrowWithMessage<std::invalid_argument>(
      [&] { outsider.addRole(MP_PLAINTEXT_AGGREGATOR); },
      "AbstractProtocol::addRole - plaintext-aggregator which is a non-key-owner is not "
      "supported.");
  outsider.addRole(MP_CIPHERTEXT_HOLDER);
  EXPECT_TRUE(outsider.isRole(MP_CIPHERTEXT_HOLDER));
}

TEST(AbstractProtocol, EachFailingMetadataCheck)
{
  auto he = participant(2);
  CountingProtocol protocol(*he, 1);
  const std::string roles = "KEY-OWNER; CIPHERTEXT-HOLDER";
  protocol.addRole(MP_CIPHERTEXT_HOLDER);
  struct Case
  {
    int source;
    ProtocolType type;
    MultiPartyRole role;
    int round;
    std::string error;
  };
  const std::vector<Case> cases = {
      {2, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1,
       "AbstractProtocol::validateMessageMetadata - The message was created by the participant "
       "of this protocol. It should not receive it."},
      {3, PROTOCOL_INIT, MP_KEY_OWNER, 1,
       "AbstractProtocol::validateMessageMetadata - The protocol type of the message does not "
       "match the protocol type of the protocol. Protocol type of message: INIT, protocol type "
       "of the protocol: DECRYPT"},
      {3, PROTOCOL_DECRYPT, MP_AGGREGATOR, 1,
       "The destination role of the message does not match the roles of the current "
       "participant. Message destination role: AGGREGATOR, roles of the current participant: " +
           roles},
      {3, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2,
       "The round number in which this message is to be received by the destination does not "
       "match the current round number. The message should be received on round: 2, the "
       "current round number:1"},
  };
  for (const Case& c : cases) {
    ProtocolMessage message(*participant(c.source), c.type, c.role, c.round);
    EXPECT_FALSE(protocol.isInputMessageValidForCurrentRound(message));
    std::vector<ProtocolMessage> outputs = messagesFrom({1}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 3);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { protocol.executeNextRound(outputs, {message}); },
        invalidMessage(c.error, c.source, multiPartyRoleToString(c.role),
                       protocolTypeToString(c.type), c.round));
    EXPECT_EQ(outputs.size(), 1u);
    EXPECT_EQ(protocol.getCurrentRound(), 1);
  }
  ProtocolMessage good(*participant(3), PROTOCOL_DECRYPT, MP_CIPHERTEXT_HOLDER, 1);
  EXPECT_TRUE(protocol.isInputMessageValidForCurrentRound(good));
  std::vector<ProtocolMessage> outputs;
  EXPECT_TRUE(protocol.executeNextRound(outputs, {good}));
  EXPECT_EQ(protocol.getCurrentRound(), 2);

}

TEST(AbstractProtocol, ShortRoundsDoNotAdvanceAndFinishedProtocolsRefuseRounds)
{
  CountingProtocol protocol(*participant(2), 2);
  std::vector<ProtocolMessage> outputs;
  const auto one = messagesFrom({1}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1);
  const auto two = messagesFrom({1, 3}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1);
  auto three = two;
  three.push_back(one[0]);
  EXPECT_FALSE(protocol.executeNextRound(outputs, one));
  EXPECT_EQ(protocol.getCurrentRound(), 1);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { protocol.executeNextRound(outputs, three); },
      "AbstractProtocol::validateNumMessages - too many input messages received. Expected: 2, "
      "received: 3");
  EXPECT_TRUE(protocol.executeNextRound(outputs, two));
  for (int round = 2; round <= 3; ++round)
    EXPECT_TRUE(protocol.executeNextRound(
        outputs, messagesFrom({1, 3}, PROTOCOL_DECRYPT, MP_KEY_OWNER, round)));
  EXPECT_EQ(protocol.executedRounds, 3);
  EXPECT_FALSE(protocol.needsAnotherRound());
  expectThrowWithMessage<std::runtime_error>(
      [&] { protocol.executeNextRound(outputs, {}); },
      "The current round number is out of range. The protocol has already finished or an "
      "unexpected error occurred. Current round number: 4, total number of rounds in the "
      "protocol: 3");
  protocol.resetProtocol();
  EXPECT_EQ(protocol.getCurrentRound(), 1);
}

TEST(AbstractProtocol, OneVectorCannotBeBothOutputsAndInputs)
{
  // The round would empty its inputs before reading them.
  auto he = participant(2);
  CountingProtocol counting(*he, 1);
  InitProtocol init(*he);
  DecryptProtocol decrypt(*he);
  decrypt.setPlaintextAggregatorId(1);
  const std::vector<std::function<bool(std::vector<ProtocolMessage>&)>> rounds = {
      [&](std::vector<ProtocolMessage>& v) { return counting.executeNextRound(v, v); },
      [&](std::vector<ProtocolMessage>& v) { return init.executeNextRound(v, v); },
      [&](std::vector<ProtocolMessage>& v) { return decrypt.executeNextRound(v, v); },
  };
  for (size_t i = 0; i < rounds.size(); ++i) {
    std::vector<ProtocolMessage> messages = messagesFrom({1}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { rounds[i](messages); },
        "AbstractProtocol::executeNextRound - the output messages and the input messages must "
        "be two different vectors.");
    EXPECT_EQ(messages.size(), 1u) << i;
  }
  EXPECT_EQ(counting.getCurrentRound(), 1);
  EXPECT_EQ(init.getCurrentRound(), 1);
  EXPECT_EQ(decrypt.getCurrentRound(), 1);
}

TEST(AbstractProtocol, MessagesFromAllKeyOwners)
{
  CountingProtocol owner(*participant(2));
  owner.validateMessagesFromAllKeyOwners(messagesFrom({3, 1}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1));
  expectThrowWithMessage<std::invalid_argument>(
      [&] {
        owner.validateMessagesFromAllKeyOwners(
            messagesFrom({7, 9}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1));
      },
      "AbstractProtocol::validateMessagesFromAllKeyOwners - The input messages does not contain "
      "messages from all other key-owners. Missing key-owners: 1, 3");
  CountingProtocol outsider(*participant(7));
  expectThrowWithMessage<std::invalid_argument>(
      [&] {
        outsider.validateMessagesFromAllKeyOwners(
            messagesFrom({2}, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1));
      },
      "AbstractProtocol::validateMessagesFromAllKeyOwners - The input messages does not contain "
      "messages from all key-owners. Missing key-owners: 1, 3");
}

TEST(AbstractProtocol, MessagesToMyself)
{
  auto he = participant(1);
  CountingProtocol protocol(*he);
  ProtocolMessage message(*he, PROTOCOL_DECRYPT, MP_KEY_OWNER, 2);
  protocol.sendMessageToMyself(message);
  message.getImpl()->setProtocolId(9);
  EXPECT_TRUE(protocol.hasMessageToMyself(2));
  EXPECT_FALSE(protocol.hasMessageToMyself(1));
  EXPECT_EQ(protocol.receiveMessageFromMyself(2).getImpl()->getProtocolId(), 0);
  protocol.sendMessageToMyself(message, 3);
  const std::string invalidRound = "AbstractProtocol::sendMessageToMyself - round number is invalid.";
  for (int round : {0, 4})
    expectThrowWithMessage<std::runtime_error>(
        [&] { protocol.sendMessageToMyself(message, round); }, invalidRound);
  expectThrowWithMessage<std::runtime_error>(
      [&] { protocol.sendMessageToMyself(message); },
      "AbstractProtocol::sendMessageToMyself - there is already exist a message from the "
      "participant to itself for the given round.");
  const std::string missing = "AbstractProtocol::receiveMessageFromMyself - there doesn't exist "
                              "a message from the participant to itself for the current round.";
  expectThrowWithMessage<std::runtime_error>([&] { protocol.receiveMessageFromMyself(); },
                                             missing);
  // A reset drops them, so that a second run can keep its own again.
  protocol.resetProtocol();
  EXPECT_FALSE(protocol.hasMessageToMyself(2));
  expectThrowWithMessage<std::runtime_error>([&] { protocol.receiveMessageFromMyself(2); },
                                             missing);
  protocol.sendMessageToMyself(message);
  EXPECT_EQ(protocol.receiveMessageFromMyself(2).getImpl()->getProtocolId(), 9);
}

TEST(AbstractProtocol, DebugPrint)
{
  CountingProtocol protocol(*participant(1));
  auto print = [&](Verbosity v, const std::string& title = "") {
    std::ostringstream out;
    protocol.debugPrint(title, v, out);
    return out.str();
  };
  EXPECT_EQ(print(VERBOSITY_NONE), "");
  EXPECT_EQ(print(VERBOSITY_LOW), "Protocol:\nCurrent round: 1 out of 3\n\n");
  EXPECT_EQ(print(VERBOSITY_REGULAR, "Mine"),
            "Mine\nCurrent round: 1 out of 3\nProtocol type: DECRYPT\nParticipant roles: "
            "KEY-OWNER, INITIATOR\nParticipant ID: 1\n\n");
  std::vector<ProtocolMessage> outputs;
  for (int i = 0; i < 3; ++i)
    protocol.executeNextRound(outputs, {});
  EXPECT_EQ(print(VERBOSITY_LOW), "Protocol:\nCurrent round: the protocol already finished\n\n");

  // executeNextRound prints the protocol at its verbosity.
  protocol.resetProtocol();
  protocol.setVerbosity(VERBOSITY_LOW);
  CoutCapture capture;
  protocol.executeNextRound(outputs, {});
  EXPECT_EQ(capture.str(), "Protocol:\nCurrent round: 1 out of 3\n\n");
}

TEST(ProtocolFacades, CreatedThroughTheContextsUtilities)
{
  auto he = participant(1);
  InitProtocol init(*he);
  DecryptProtocol decrypt(*he);
  DecryptProtocol other(*he);
  EXPECT_EQ(init.getProtocolType(), PROTOCOL_INIT);
  EXPECT_EQ(init.getTotalNumberOfRounds(), 6);
  EXPECT_EQ(decrypt.getProtocolType(), PROTOCOL_DECRYPT);
  EXPECT_EQ(decrypt.getTotalNumberOfRounds(), 3);
  EXPECT_EQ(init.getCurrentRound(), 1);
  EXPECT_EQ(decrypt.getCurrentRound(), 1);
  EXPECT_EQ(decrypt.getPlaintextAggregatorId(), -1);
  decrypt.setPlaintextAggregatorId(1);
  EXPECT_TRUE(decrypt.isRole(MP_PLAINTEXT_AGGREGATOR));
  EXPECT_FALSE(other.isRole(MP_PLAINTEXT_AGGREGATOR));
  EXPECT_EQ(other.getPlaintextAggregatorId(), -1);
  EXPECT_EQ(init.getRoles(), (std::set<MultiPartyRole>{MP_KEY_OWNER, MP_INITIATOR}));

  auto empty = std::make_shared<EmptyContext>();
  empty->init(HeConfigRequirement::insecure(8, 2));
  const std::string noUtils = "This HeContext cannot provide MultiPartyUtils";
  expectThrowWithMessage<std::runtime_error>([&] { InitProtocol p(*empty); }, noUtils);
  expectThrowWithMessage<std::runtime_error>([&] { DecryptProtocol p(*empty); }, noUtils);
  auto plain = createMockup(8, 2);
  expectThrowWithMessage<std::runtime_error>([&] { InitProtocol p(*plain); },
                                             "This HE context is not multi-party");
}
