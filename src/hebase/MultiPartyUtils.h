#ifndef QUORVANE_HEBASE_MULTIPARTYUTILS_H
#define QUORVANE_HEBASE_MULTIPARTYUTILS_H

#include <memory>

namespace quorvane {

class AbstractInitProtocol;
class AbstractDecryptProtocol;
class ProtocolMessage;

/// Backend factory of the multi-party protocols and their messages.
class MultiPartyUtils
{
public:
  virtual ~MultiPartyUtils();

  /// A new key set-up protocol over the context.
  virtual std::shared_ptr<AbstractInitProtocol> createInitProtocol() const = 0;
  /// A new joint decryption protocol over the context.
  virtual std::shared_ptr<AbstractDecryptProtocol> createDecryptProtocol() const = 0;
  /// A new, empty protocol message of the context.
  virtual std::shared_ptr<ProtocolMessage> createProtocolMessage() const = 0;
};

} // namespace quorvane

#endif
