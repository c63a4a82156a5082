#include "hebase/mockup/MockupMultiPartyUtils.h"

#include <stdexcept>

#include "hebase/HeContext.h"
#include "hebase/impl/MockupDecryptProtocol.h"
#include "hebase/impl/MockupInitProtocol.h"
#include "hebase/impl/MockupProtocolMessage.h"

namespace quorvane {

MockupMultiPartyUtils::MockupMultiPartyUtils(const HeContext& he) : constHe(&he) {}

MockupMultiPartyUtils::MockupMultiPartyUtils(HeContext& he) : mutableHe(&he) {}

MockupMultiPartyUtils::~MockupMultiPartyUtils() {}

const HeContext& MockupMultiPartyUtils::readContext() const
{
  return constHe ? *constHe : *mutableHe;
}

std::shared_ptr<AbstractProtocol> MockupMultiPartyUtils::createInitProtocol() const
{
  if (!mutableHe)
    throw std::runtime_error("MockupMultiPartyUtils::createInitProtocol - the initialisation "
                             "protocol changes its context and needs a non-const one");
  return std::make_shared<MockupInitProtocol>(*mutableHe);
}

std::shared_ptr<AbstractProtocol> MockupMultiPartyUtils::createDecryptProtocol() const
{
  return std::make_shared<MockupDecryptProtocol>(readContext());
}

std::shared_ptr<AbstractProtocolMessage> MockupMultiPartyUtils::createProtocolMessage() const
{
  return std::make_shared<MockupProtocolMessage>(readContext());
}

} // namespace quorvane
