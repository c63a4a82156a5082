#ifndef QUORVANE_HEBASE_IMPL_INITPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_INITPROTOCOL_H

#include "hebase/impl/Protocol.h"

namespace quorvane {

class HeContext;

/// The initialisation protocol of the context's backend; it sets the
/// context's id.
class InitProtocol : public Protocol
{
public:
  explicit InitProtocol(HeContext& he);
  ~InitProtocol() override;
};

} // namespace quorvane

#endif
