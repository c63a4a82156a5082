#ifndef QUORVANE_HEBASE_MULTIPARTYUTILS_H
#define QUORVANE_HEBASE_MULTIPARTYUTILS_H

#include <memory>

namespace quorvane {

class AbstractProtocol;
class AbstractProtocolMessage;

/// Backend factory of the multi-party protocols and their messages.
class MultiPartyUtils
{
public:
  virtual ~MultiPartyUtils();

  /// A new initialisation protocol over the context.
  virtual std::shared_ptr<AbstractProtocol> createInitProtocol() const = 0;
  /// A new decryption protocol over the context.
  virtual std::shared_ptr<AbstractProtocol> createDecryptProtocol() const = 0;
  /// A new, empty protocol message of the context.
  virtual std::shared_ptr<AbstractProtocolMessage> createProtocolMessage() const = 0;
};

} // namespace quorvane

#endif
