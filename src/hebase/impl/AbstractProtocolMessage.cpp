#include "hebase/impl/AbstractProtocolMessage.h"

#include <ostream>
#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"

namespace quorvane {

namespace {

// Four int32 metadata fields.
constexpr std::streamoff METADATA_BYTES = 16;

template <typename T>
std::shared_ptr<T> deepCopy(const std::shared_ptr<T>& src)
{
  return src ? std::make_shared<T>(*src) : nullptr;
}

// Writes the presence byte and, when present, the payload as a whole saved
// object; returns the bytes written.
template <typename T>
std::streamoff savePayload(std::ostream& out, const std::shared_ptr<T>& payload)
{
  BinIoUtils::writeBool(out, payload != nullptr);
  return 1 + (payload ? payload->save(out) : 0);
}

// Reads what savePayload wrote into a new object of the context; adds the
// bytes read to count.
template <typename T>
std::shared_ptr<T> loadPayload(std::istream& in, const HeContext& he, std::streamoff& count)
{
  count += 1;
  if (!BinIoUtils::readBool(in))
    return nullptr;
  auto payload = std::make_shared<T>(he);
  count += payload->load(in);
  return payload;
}

} // namespace

AbstractProtocolMessage::AbstractProtocolMessage(const HeContext& he) : he(he) {}

AbstractProtocolMessage::AbstractProtocolMessage(const AbstractProtocolMessage& src)
    : Printable(src),
      he(src.he),
      protocolType(src.protocolType),
      sourceParticipantId(src.sourceParticipantId),
      destinationRole(src.destinationRole),
      toBeReceivedOnRound(src.toBeReceivedOnRound),
      encryptedData(deepCopy(src.encryptedData)),
      cTileTensor(deepCopy(src.cTileTensor)),
      cTile(deepCopy(src.cTile)),
      protocolId(src.protocolId)
{
}

AbstractProtocolMessage::~AbstractProtocolMessage() {}

void AbstractProtocolMessage::debugPrint(const std::string& title, Verbosity verbosity,
                                         std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "ProtocolMessage", title);
  out << getMetadataAsString(false) << std::endl;
}

std::string AbstractProtocolMessage::getMetadataAsString(bool singleLine) const
{
  const std::string role = multiPartyRoleToString(destinationRole);
  const std::string type = protocolTypeToString(protocolType);
  if (singleLine)
    return "source_id_" + std::to_string(sourceParticipantId) + "_dest_role_" + role +
           "_protocol_type_" + type + "_for_round_" + std::to_string(toBeReceivedOnRound) + "_";
  return "\nMessage metadata:\nSource ID: " + std::to_string(sourceParticipantId) +
         "\nDestination role: " + role + "\nProtocol type: " + type +
         "\nTo be received on round #: " + std::to_string(toBeReceivedOnRound);
}

std::streamoff AbstractProtocolMessage::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, protocolType);
  BinIoUtils::writeInt32(out, sourceParticipantId);
  BinIoUtils::writeInt32(out, destinationRole);
  BinIoUtils::writeInt32(out, toBeReceivedOnRound);
  std::streamoff count = METADATA_BYTES;
  count += savePayload(out, encryptedData);
  count += savePayload(out, cTileTensor);
  count += savePayload(out, cTile);
  BinIoUtils::writeInt32(out, protocolId);
  return count + 4;
}

std::streamoff AbstractProtocolMessage::load(std::istream& in)
{
  const char* record = "ProtocolMessage";
  const int32_t type =
      BinIoUtils::readRecordField(in, record, "protocol type", PROTOCOL_INIT, PROTOCOL_DECRYPT);
  const int32_t source = BinIoUtils::readInt32(in);
  const int32_t role = BinIoUtils::readRecordField(in, record, "destination role", MP_KEY_OWNER,
                                                   MP_PLAINTEXT_AGGREGATOR);
  const int32_t round = BinIoUtils::readInt32(in);
  std::streamoff count = METADATA_BYTES;
  std::shared_ptr<EncryptedData> data = loadPayload<EncryptedData>(in, he, count);
  std::shared_ptr<CTileTensor> tensor = loadPayload<CTileTensor>(in, he, count);
  std::shared_ptr<CTile> tile = loadPayload<CTile>(in, he, count);
  const int32_t id = BinIoUtils::readInt32(in);
  count += 4;

  protocolType = static_cast<ProtocolType>(type);
  sourceParticipantId = source;
  destinationRole = static_cast<MultiPartyRole>(role);
  toBeReceivedOnRound = round;
  encryptedData = std::move(data);
  cTileTensor = std::move(tensor);
  cTile = std::move(tile);
  protocolId = id;
  return count;
}

} // namespace quorvane
