#ifndef QUORVANE_HEBASE_IMPL_PROTOCOLMESSAGE_H
#define QUORVANE_HEBASE_IMPL_PROTOCOLMESSAGE_H

#include <memory>
#include <string>

#include "hebase/impl/AbstractProtocolMessage.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

/// A message of a multi-party protocol: what one participant produces for the
/// participants that hold one role, to be consumed in one round. Saved and
/// loaded under the class name "ProtocolMessage"; forwards to its backend
/// object, which the context's multi-party utilities create.
class ProtocolMessage : public Saveable
{
public:
  /// An empty message of the context (no payloads, protocol id 0).
  explicit ProtocolMessage(const HeContext& he);
  /// A message of this participant (the context's participant id as source)
  /// of the protocol type, for the destination role, to be received on round.
  ProtocolMessage(const HeContext& he, ProtocolType protocolType,
                  MultiPartyRole destinationRole, int toBeReceivedOnRound);
  /// A message over the given backend object, shared rather than copied.
  explicit ProtocolMessage(std::shared_ptr<AbstractProtocolMessage> backendObject);
  /// A deep copy, payloads included; no storage attached.
  ProtocolMessage(const ProtocolMessage& src);
  /// Takes over the source's backend object; the source holds none afterwards.
  ProtocolMessage(ProtocolMessage&& src) noexcept;
  /// Replaces the backend object by a deep copy of the source's.
  ProtocolMessage& operator=(const ProtocolMessage& src);
  /// Exchanges the backend objects.
  ProtocolMessage& operator=(ProtocolMessage&& src) noexcept;
  ~ProtocolMessage() override;

  /// Builds a message of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  int32_t getContextId() const override;
  void saveImpl(std::ostream& out) const override;
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;
  bool allowsStorage() const override;

  ProtocolType getProtocolType() const;
  int getSourceParticipantId() const;
  MultiPartyRole getDestinationRole() const;
  int getToBeReceivedOnRound() const;
  /// See AbstractProtocolMessage::getMetadataAsString.
  std::string getMetadataAsString(bool singleLine) const;

  /// The backend object, through which protocols read and set payloads and ids.
  const std::shared_ptr<AbstractProtocolMessage>& getImpl() const;

private:
  std::shared_ptr<AbstractProtocolMessage> impl;

  /// The backend object; refuses a message that was moved from.
  AbstractProtocolMessage& backend() const;
};

} // namespace quorvane

#endif
