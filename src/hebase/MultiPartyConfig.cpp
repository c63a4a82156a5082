#include "hebase/MultiPartyConfig.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <string>

#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

bool MultiPartyConfig::isKeyOwner() const
{
  return isIdKeyOwner(participantId);
}

bool MultiPartyConfig::isIdKeyOwner(int id) const
{
  return std::find(keyOwnersIds.begin(), keyOwnersIds.end(), id) != keyOwnersIds.end();
}

bool MultiPartyConfig::isInitiator() const
{
  return participantId == initiatorId;
}

bool MultiPartyConfig::isAggregator() const
{
  return participantId == aggregatorId;
}

int MultiPartyConfig::numKeyOwners() const
{
  return static_cast<int>(keyOwnersIds.size());
}

void MultiPartyConfig::debugPrint(const std::string& title, Verbosity verbosity,
                                  std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  if (!title.empty())
    out << title << std::endl;
  out << "Participant Id: " << participantId << std::endl;
  out << "Is key-owner: " << PrintUtils::boolToString(isKeyOwner()) << std::endl;
  out << "Is initiator: " << PrintUtils::boolToString(isInitiator()) << std::endl;
  out << "Is aggregator: " << PrintUtils::boolToString(isAggregator()) << std::endl;
  out << "Number of key-owners: " << numKeyOwners() << std::endl;
  out << "Key-owners IDs: [";
  for (size_t i = 0; i < keyOwnersIds.size(); ++i)
    out << (i > 0 ? "," : "") << keyOwnersIds[i];
  out << "]" << std::endl;
  out << "Initiator ID: " << initiatorId << std::endl;
  out << "Aggregator ID: " << aggregatorId << std::endl;
}

std::streamoff MultiPartyConfig::save(std::ostream& out) const
{
  if (keyOwnersIds.size() > BinIoUtils::MAX_ELEMENT_COUNT)
    throw std::runtime_error("Cannot save MultiPartyConfig: " +
                             std::to_string(keyOwnersIds.size()) +
                             " key-owner ids exceed the maximum of " +
                             std::to_string(BinIoUtils::MAX_ELEMENT_COUNT));
  BinIoUtils::writeInt32(out, participantId);
  BinIoUtils::writeInt32Vector(out, keyOwnersIds);
  BinIoUtils::writeInt32(out, aggregatorId);
  BinIoUtils::writeInt32(out, initiatorId);
  return static_cast<std::streamoff>(4 + 4 + 4 * keyOwnersIds.size() + 4 + 4);
}

std::streamoff MultiPartyConfig::load(std::istream& in)
{
  MultiPartyConfig loaded;
  loaded.participantId = BinIoUtils::readInt32(in);
  loaded.keyOwnersIds =
      BinIoUtils::readInt32Vector(in, static_cast<int>(BinIoUtils::MAX_ELEMENT_COUNT));
  loaded.aggregatorId = BinIoUtils::readInt32(in);
  loaded.initiatorId = BinIoUtils::readInt32(in);
  *this = std::move(loaded);
  return static_cast<std::streamoff>(4 + 4 + 4 * keyOwnersIds.size() + 4 + 4);
}

} // namespace quorvane
