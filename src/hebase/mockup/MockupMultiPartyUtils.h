#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPMULTIPARTYUTILS_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPMULTIPARTYUTILS_H

#include "hebase/MultiPartyUtils.h"

namespace quorvane {

class MockupContext;

/// Multi-party utilities of a mockup context. The init protocol works on the
/// mutable context, decryption protocols and messages on the const one; each
/// accessor of the context fills only its own pointer.
class MockupMultiPartyUtils : public MultiPartyUtils
{
public:
  /// Utilities for protocols that only read the context.
  explicit MockupMultiPartyUtils(const MockupContext& context);
  /// Utilities for protocols that change the context.
  explicit MockupMultiPartyUtils(MockupContext& context);
  ~MockupMultiPartyUtils() override;

  std::shared_ptr<AbstractInitProtocol> createInitProtocol() const override;
  std::shared_ptr<AbstractDecryptProtocol> createDecryptProtocol() const override;
  std::shared_ptr<ProtocolMessage> createProtocolMessage() const override;

  const MockupContext* getConstContext() const { return constContext; }
  MockupContext* getContext() const { return context; }

private:
  const MockupContext* constContext = nullptr;
  MockupContext* context = nullptr;
};

} // namespace quorvane

#endif
