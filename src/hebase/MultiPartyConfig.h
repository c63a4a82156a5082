#ifndef QUORVANE_HEBASE_MULTIPARTYCONFIG_H
#define QUORVANE_HEBASE_MULTIPARTYCONFIG_H

#include <cstdint>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// Who this party is in a multi-party setting, and who the key owners,
/// the initiator and the aggregator are.
class MultiPartyConfig : public SaveableBasic
{
public:
  /// This party's id.
  int32_t participantId = -1;
  /// Ids of the parties that own key shares, in the order given.
  std::vector<int> keyOwnersIds;
  /// Id of the party that starts the key set-up.
  int32_t initiatorId = 0;
  /// Id of the party that aggregates.
  int32_t aggregatorId = 0;

  MultiPartyConfig() = default;
  MultiPartyConfig(const MultiPartyConfig&) = default;
  MultiPartyConfig(MultiPartyConfig&&) = default;
  MultiPartyConfig& operator=(const MultiPartyConfig&) = default;
  MultiPartyConfig& operator=(MultiPartyConfig&&) = default;
  ~MultiPartyConfig() override = default;

  /// participantId occurs in keyOwnersIds.
  bool isKeyOwner() const;
  /// id occurs in keyOwnersIds.
  bool isIdKeyOwner(int id) const;
  /// participantId equals initiatorId.
  bool isInitiator() const;
  /// participantId equals aggregatorId.
  bool isAggregator() const;
  /// Entries of keyOwnersIds, repeats counted.
  int numKeyOwners() const;

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes participantId, the key owners, aggregatorId and initiatorId; returns bytes written.
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote; the object changes only when the whole read succeeds.
  std::streamoff load(std::istream& in) override;
};

} // namespace quorvane

#endif
