#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPMULTIPARTYUTILS_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPMULTIPARTYUTILS_H

#include "hebase/MultiPartyUtils.h"

namespace quorvane {

class HeContext;

/// Multi-party utilities of a mockup context. The initialisation protocol
/// changes the context and needs utilities made from the non-const context;
/// decryption protocols and messages only read it. Each accessor of the
/// context fills only its own pointer.
class MockupMultiPartyUtils : public MultiPartyUtils
{
public:
  /// Utilities for protocols and messages that only read the context.
  explicit MockupMultiPartyUtils(const HeContext& he);
  /// Utilities for protocols that change the context.
  explicit MockupMultiPartyUtils(HeContext& he);
  ~MockupMultiPartyUtils() override;

  /// A new MockupInitProtocol; refused by utilities of a const context.
  std::shared_ptr<AbstractProtocol> createInitProtocol() const override;
  /// A new MockupDecryptProtocol.
  std::shared_ptr<AbstractProtocol> createDecryptProtocol() const override;
  /// A new, empty MockupProtocolMessage.
  std::shared_ptr<AbstractProtocolMessage> createProtocolMessage() const override;

  /// The context given as const, or null.
  const HeContext* getConstContext() const { return constHe; }
  /// The context given as non-const, or null.
  HeContext* getContext() const { return mutableHe; }

private:
  const HeContext* constHe = nullptr;
  HeContext* mutableHe = nullptr;

  /// The context, read-only, whichever form was given.
  const HeContext& readContext() const;
};

} // namespace quorvane

#endif
