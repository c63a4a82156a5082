#ifndef QUORVANE_HEBASE_IMPL_ABSTRACTPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_ABSTRACTPROTOCOL_H

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hebase/impl/MultiPartyRole.h"
#include "hebase/impl/ProtocolType.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class HeContext;
class MultiPartyConfig;
class ProtocolMessage;

/// A multi-party protocol as run by one participant: a fixed number of rounds
/// numbered from 1. In each round the participant hands its protocol the
/// messages the others produced for it and receives the messages it must send
/// on; the application carries them between the participants.
class AbstractProtocol : public Printable
{
public:
  ~AbstractProtocol() override;

  /// Nothing at verbosity 0; otherwise the title (or "Protocol:") and the
  /// current round, and from VERBOSITY_REGULAR on the type, roles and id.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Runs the current round: validates the input messages, replaces the
  /// content of outputMessages by the messages this participant sends, and
  /// moves to the next round. Returns false, without moving on and with
  /// nothing changed, when messages are still missing, so that the round can
  /// be run again with the full set.
  virtual bool executeNextRound(std::vector<ProtocolMessage>& outputMessages,
                                const std::vector<ProtocolMessage>& inputMessages);

  /// Whether the message passes the checks of an input of the current round.
  virtual bool isInputMessageValidForCurrentRound(const ProtocolMessage& message) const;

  /// Makes the protocol ready for another run: back to round 1, messages kept
  /// for oneself dropped; roles and ids stay.
  virtual void resetProtocol();

  int getCurrentRound() const { return currentRound; }
  int getTotalNumberOfRounds() const { return totalNumberOfRounds; }
  ProtocolType getProtocolType() const { return protocolType; }
  std::set<MultiPartyRole> getRoles() const { return roles; }
  bool isRole(MultiPartyRole role) const { return roles.count(role) > 0; }
  /// currentRound <= totalNumberOfRounds.
  bool needsAnotherRound() const { return currentRound <= totalNumberOfRounds; }
  void setVerbosity(int value) { verbosity = value; }

protected:
  /// Takes the participant's roles from the context's multi-party configuration.
  explicit AbstractProtocol(const HeContext& he);

  /// The work of one round; empties outputMessages first.
  virtual bool executeRound(int round, std::vector<ProtocolMessage>& outputMessages,
                            const std::vector<ProtocolMessage>& inputMessages) = 0;

  void addRole(MultiPartyRole role);
  /// Drops AGGREGATOR, CIPHERTEXT-HOLDER and PLAINTEXT-AGGREGATOR.
  void resetRoles();
  /// Keeps a copy of the message for this participant's own use in the round
  /// (-1: the message's round).
  void sendMessageToMyself(const ProtocolMessage& message, int round = -1);
  /// The message kept for the round (-1: the current round).
  ProtocolMessage& receiveMessageFromMyself(int round = -1);
  bool hasMessageToMyself(int round) const;

  void validateMessageMetadata(const ProtocolMessage& message) const;
  /// True for exactly expected messages, false for fewer; throws for more.
  bool validateNumMessages(int expected, const std::vector<ProtocolMessage>& inputMessages) const;
  /// Throws unless the messages come from every other key owner.
  void validateMessagesFromAllKeyOwners(const std::vector<ProtocolMessage>& inputMessages) const;
  /// Throws the invalid-message error unless the message comes from the
  /// participant expected to send it in this round.
  void validateMessageSource(const ProtocolMessage& message, int expectedSourceId,
                             MultiPartyRole expectedRole) const;
  /// Throws unless 1 <= currentRound <= totalNumberOfRounds.
  void validateCurrentRound() const;
  /// Refuses one vector given as both the outputs and the inputs of a round:
  /// the round would empty its inputs before reading them.
  static void validateSeparateVectors(const std::vector<ProtocolMessage>& outputMessages,
                                      const std::vector<ProtocolMessage>& inputMessages);
  const MultiPartyConfig& getMultiPartyConfig() const;
  /// Throws std::invalid_argument "The given message is invalid." with the
  /// error text and the message's metadata.
  [[noreturn]] void throwInvalidMessage(const ProtocolMessage& message,
                                        const std::string& errorText) const;

  const HeContext& he;
  int verbosity = 0;
  ProtocolType protocolType = PROTOCOL_INIT;
  int totalNumberOfRounds = 0;
  int currentRound = 1;
  std::set<MultiPartyRole> roles;
  std::map<int, std::shared_ptr<ProtocolMessage>> messagesToMyself;
};

} // namespace quorvane

#endif
