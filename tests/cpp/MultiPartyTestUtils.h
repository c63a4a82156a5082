#ifndef QUORVANE_TESTS_CPP_MULTIPARTYTESTUTILS_H
#define QUORVANE_TESTS_CPP_MULTIPARTYTESTUTILS_H

// Participants of multi-party protocols and a carrier that moves every
// message as bytes, as separate processes would.

#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/impl/DecryptProtocol.h"
#include "hebase/impl/InitProtocol.h"
#include "hebase/impl/ProtocolMessage.h"

namespace qvtest {

const int MP_SLOTS = 8;

/// A multi-party configuration.
inline quorvane::MultiPartyConfig mpConfig(int participant, std::vector<int> keyOwners,
                                           int initiator, int aggregator)
{
  quorvane::MultiPartyConfig config;
  config.participantId = participant;
  config.keyOwnersIds = std::move(keyOwners);
  config.initiatorId = initiator;
  config.aggregatorId = aggregator;
  return config;
}

/// A mockup context of one participant.
inline std::shared_ptr<quorvane::HeContext> mpContext(const quorvane::MultiPartyConfig& config)
{
  quorvane::HeConfigRequirement req = quorvane::HeConfigRequirement::insecure(MP_SLOTS, 3);
  req.multiPartyConfig = config;
  return createMockup(req);
}

/// One participant: its context, its protocol and the messages delivered to it.
struct Party
{
  int id;
  std::shared_ptr<quorvane::HeContext> he;
  std::unique_ptr<quorvane::Protocol> protocol;
  std::vector<quorvane::ProtocolMessage> inbox;

  quorvane::DecryptProtocol& decrypt()
  {
    return dynamic_cast<quorvane::DecryptProtocol&>(*protocol);
  }
};

/// The participants ids, each with its own context over the same setting.
inline std::vector<Party> makeParties(const std::vector<int>& ids,
                                      const std::vector<int>& keyOwners, int initiator,
                                      int aggregator)
{
  std::vector<Party> parties;
  for (int id : ids)
    parties.push_back(Party{id, mpContext(mpConfig(id, keyOwners, initiator, aggregator)),
                            nullptr, {}});
  return parties;
}

/// The participant with the id.
inline Party& partyWithId(std::vector<Party>& parties, int id)
{
  for (Party& p : parties)
    if (p.id == id)
      return p;
  throw std::logic_error("no party " + std::to_string(id));
}

inline void addInitProtocols(std::vector<Party>& parties)
{
  for (Party& p : parties)
    p.protocol = std::make_unique<quorvane::InitProtocol>(*p.he);
}

inline void addDecryptProtocols(std::vector<Party>& parties, int plaintextAggregator)
{
  for (Party& p : parties) {
    auto protocol = std::make_unique<quorvane::DecryptProtocol>(*p.he);
    protocol->setPlaintextAggregatorId(plaintextAggregator);
    p.protocol = std::move(protocol);
  }
}

/// The message as the receiver's context loads it from the sender's bytes.
inline quorvane::ProtocolMessage carried(const quorvane::ProtocolMessage& message,
                                         const quorvane::HeContext& receiver)
{
  std::istringstream in(saved(message));
  quorvane::ProtocolMessage loaded(receiver);
  loaded.load(in);
  return loaded;
}

/// Delivers the messages of sender to every other participant holding their
/// destination role.
inline void deliver(std::vector<Party>& parties, size_t sender,
                    const std::vector<quorvane::ProtocolMessage>& messages)
{
  for (const quorvane::ProtocolMessage& message : messages)
    for (size_t j = 0; j < parties.size(); ++j)
      if (j != sender && parties[j].protocol->isRole(message.getDestinationRole()))
        parties[j].inbox.push_back(carried(message, *parties[j].he));
}

/// Runs the current round of every participant, then delivers the outputs.
/// A participant whose round is not complete keeps its inbox.
inline std::vector<bool> runRound(std::vector<Party>& parties)
{
  std::vector<std::vector<quorvane::ProtocolMessage>> outputs(parties.size());
  std::vector<bool> results;
  for (size_t i = 0; i < parties.size(); ++i) {
    results.push_back(parties[i].protocol->executeNextRound(outputs[i], parties[i].inbox));
    if (results.back())
      parties[i].inbox.clear();
  }
  for (size_t i = 0; i < parties.size(); ++i)
    deliver(parties, i, outputs[i]);
  return results;
}

/// Runs every round; expects each to be complete everywhere.
inline void runAllRounds(std::vector<Party>& parties)
{
  const int rounds = parties.at(0).protocol->getTotalNumberOfRounds();
  for (int r = 1; r <= rounds; ++r)
    EXPECT_EQ(runRound(parties), std::vector<bool>(parties.size(), true)) << "round " << r;
  for (Party& p : parties) {
    EXPECT_FALSE(p.protocol->needsAnotherRound());
    EXPECT_TRUE(p.inbox.empty()) << "party " << p.id;
  }
}

/// The metadata text that ends every invalid-message error.
inline std::string metadataText(int source, const std::string& role, const std::string& type,
                                int round)
{
  return "\nMessage metadata:\nSource ID: " + std::to_string(source) +
         "\nDestination role: " + role + "\nProtocol type: " + type +
         "\nTo be received on round #: " + std::to_string(round);
}

/// The invalid-message error for a message with the given metadata.
inline std::string invalidMessage(const std::string& error, int source, const std::string& role,
                                  const std::string& type, int round)
{
  return "The given message is invalid.\n Error message: " + error +
         metadataText(source, role, type, round);
}

} // namespace qvtest

#endif
