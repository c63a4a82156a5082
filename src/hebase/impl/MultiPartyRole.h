#ifndef QUORVANE_HEBASE_IMPL_MULTIPARTYROLE_H
#define QUORVANE_HEBASE_IMPL_MULTIPARTYROLE_H

#include <cstdint>
#include <string>

namespace quorvane {

/// A role that a participant holds in a multi-party protocol.
enum MultiPartyRole : int32_t
{
  MP_KEY_OWNER = 0,
  MP_INITIATOR = 1,
  MP_AGGREGATOR = 2,
  MP_CIPHERTEXT_HOLDER = 3,
  MP_PLAINTEXT_AGGREGATOR = 4
};

/// "KEY-OWNER", "INITIATOR", "AGGREGATOR", "CIPHERTEXT-HOLDER",
/// "PLAINTEXT-AGGREGATOR", or "INVALID-ROLE-TYPE" for any other value.
std::string multiPartyRoleToString(MultiPartyRole role);

} // namespace quorvane

#endif
