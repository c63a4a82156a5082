#include "hebase/mockup/MockupMultiPartyUtils.h"

#include <stdexcept>

namespace quorvane {

namespace {

[[noreturn]] void refuseProtocols()
{
  throw std::runtime_error(
      "MockupMultiPartyUtils: multi-party protocols are not available in this build");
}

} // namespace

MockupMultiPartyUtils::MockupMultiPartyUtils(const MockupContext& context)
    : constContext(&context)
{
}

MockupMultiPartyUtils::MockupMultiPartyUtils(MockupContext& context) : context(&context) {}

MockupMultiPartyUtils::~MockupMultiPartyUtils() {}

std::shared_ptr<AbstractInitProtocol> MockupMultiPartyUtils::createInitProtocol() const
{
  refuseProtocols();
}

std::shared_ptr<AbstractDecryptProtocol> MockupMultiPartyUtils::createDecryptProtocol() const
{
  refuseProtocols();
}

std::shared_ptr<ProtocolMessage> MockupMultiPartyUtils::createProtocolMessage() const
{
  refuseProtocols();
}

} // namespace quorvane
