#ifndef QUORVANE_HEBASE_IMPL_PROTOCOLTYPE_H
#define QUORVANE_HEBASE_IMPL_PROTOCOLTYPE_H

#include <cstdint>
#include <string>

namespace quorvane {

/// The kind of a multi-party protocol.
enum ProtocolType : int32_t
{
  PROTOCOL_INIT = 0,
  PROTOCOL_DECRYPT = 1
};

/// "INIT", "DECRYPT", or "INVALID-PROTOCOL-TYPE" for any other value.
std::string protocolTypeToString(ProtocolType type);

} // namespace quorvane

#endif
