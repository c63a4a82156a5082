#include "hebase/impl/ProtocolType.h"

namespace quorvane {

std::string protocolTypeToString(ProtocolType type)
{
  switch (type) {
  case PROTOCOL_INIT:
    return "INIT";
  case PROTOCOL_DECRYPT:
    return "DECRYPT";
  }
  return "INVALID-PROTOCOL-TYPE";
}

} // namespace quorvane
