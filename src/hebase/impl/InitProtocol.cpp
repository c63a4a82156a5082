#include "hebase/impl/InitProtocol.h"

#include "hebase/HeContext.h"
#include "hebase/MultiPartyUtils.h"

namespace quorvane {

InitProtocol::InitProtocol(HeContext& he) : Protocol(he.getMultiPartyUtils()->createInitProtocol())
{
}

InitProtocol::~InitProtocol() {}

} // namespace quorvane
