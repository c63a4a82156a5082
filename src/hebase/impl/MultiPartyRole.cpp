#include "hebase/impl/MultiPartyRole.h"

namespace quorvane {

std::string multiPartyRoleToString(MultiPartyRole role)
{
  switch (role) {
  case MP_KEY_OWNER:
    return "KEY-OWNER";
  case MP_INITIATOR:
    return "INITIATOR";
  case MP_AGGREGATOR:
    return "AGGREGATOR";
  case MP_CIPHERTEXT_HOLDER:
    return "CIPHERTEXT-HOLDER";
  case MP_PLAINTEXT_AGGREGATOR:
    return "PLAINTEXT-AGGREGATOR";
  }
  return "INVALID-ROLE-TYPE";
}

} // namespace quorvane
