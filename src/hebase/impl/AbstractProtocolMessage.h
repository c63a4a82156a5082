#ifndef QUORVANE_HEBASE_IMPL_ABSTRACTPROTOCOLMESSAGE_H
#define QUORVANE_HEBASE_IMPL_ABSTRACTPROTOCOLMESSAGE_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "hebase/impl/MultiPartyRole.h"
#include "hebase/impl/ProtocolType.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class HeContext;
class CTile;
class CTileTensor;
class EncryptedData;

/// The backend object of a protocol message: four metadata numbers, optional
/// encrypted payloads and the protocol id. Created by a backend's
/// MultiPartyUtils and held by ProtocolMessage.
class AbstractProtocolMessage : public Printable
{
public:
  /// An empty message of the context: no payloads, every number 0.
  explicit AbstractProtocolMessage(const HeContext& he);
  /// Copies the metadata and the protocol id and deep-copies every payload.
  AbstractProtocolMessage(const AbstractProtocolMessage& src);
  AbstractProtocolMessage& operator=(const AbstractProtocolMessage&) = delete;
  ~AbstractProtocolMessage() override;

  /// Nothing at VERBOSITY_NONE; otherwise the title line and the metadata.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// A deep copy of the same concrete class.
  virtual std::shared_ptr<AbstractProtocolMessage> clone() const = 0;

  /// Writes the body of a saved message; returns the number of bytes written.
  virtual std::streamoff save(std::ostream& out) const;

  /// Reads the body of a saved message; returns the number of bytes read. Every
  /// payload is replaced (absent ones emptied); a refused load changes nothing.
  virtual std::streamoff load(std::istream& in);

  /// The metadata as one line suited to file names, or as several lines
  /// beginning with a line break.
  std::string getMetadataAsString(bool singleLine) const;

  /// The context of the participant that holds this copy of the message.
  const HeContext& getHeContext() const { return he; }

  ProtocolType getProtocolType() const { return protocolType; }
  void setProtocolType(ProtocolType type) { protocolType = type; }
  int32_t getSourceParticipantId() const { return sourceParticipantId; }
  void setSourceParticipantId(int32_t id) { sourceParticipantId = id; }
  MultiPartyRole getDestinationRole() const { return destinationRole; }
  void setDestinationRole(MultiPartyRole role) { destinationRole = role; }
  int32_t getToBeReceivedOnRound() const { return toBeReceivedOnRound; }
  void setToBeReceivedOnRound(int32_t round) { toBeReceivedOnRound = round; }
  int32_t getProtocolId() const { return protocolId; }
  void setProtocolId(int32_t id) { protocolId = id; }

  /// The encrypted data payload, shared (empty when absent).
  std::shared_ptr<EncryptedData> getEncryptedData() const { return encryptedData; }
  /// Shares the given data set as the payload.
  void setEncryptedData(std::shared_ptr<EncryptedData> data) { encryptedData = std::move(data); }
  /// The tile tensor payload, shared (empty when absent).
  std::shared_ptr<CTileTensor> getCTileTensor() const { return cTileTensor; }
  /// Shares the given tensor as the payload.
  void setCTileTensor(std::shared_ptr<CTileTensor> tensor) { cTileTensor = std::move(tensor); }
  /// The tile payload, shared (empty when absent).
  std::shared_ptr<CTile> getCTile() const { return cTile; }
  /// Shares the given tile as the payload.
  void setCTile(std::shared_ptr<CTile> tile) { cTile = std::move(tile); }

protected:
  const HeContext& he;
  ProtocolType protocolType = PROTOCOL_INIT;
  int32_t sourceParticipantId = 0;
  MultiPartyRole destinationRole = MP_KEY_OWNER;
  int32_t toBeReceivedOnRound = 0;
  std::shared_ptr<EncryptedData> encryptedData;
  std::shared_ptr<CTileTensor> cTileTensor;
  std::shared_ptr<CTile> cTile;
  int32_t protocolId = 0;
};

} // namespace quorvane

#endif
