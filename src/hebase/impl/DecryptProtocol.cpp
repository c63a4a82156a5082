#include "hebase/impl/DecryptProtocol.h"

#include "hebase/HeContext.h"
#include "hebase/MultiPartyUtils.h"
#include "hebase/impl/AbstractDecryptProtocol.h"

namespace quorvane {

DecryptProtocol::DecryptProtocol(const HeContext& he)
    : Protocol(he.getMultiPartyUtils()->createDecryptProtocol())
{
}

DecryptProtocol::~DecryptProtocol() {}

AbstractDecryptProtocol& DecryptProtocol::decryptImpl() const
{
  return static_cast<AbstractDecryptProtocol&>(*impl);
}

void DecryptProtocol::setInput(const CTile& input) { decryptImpl().setInput(input); }

void DecryptProtocol::setInput(const CTileTensor& input) { decryptImpl().setInput(input); }

void DecryptProtocol::setInput(const EncryptedData& input) { decryptImpl().setInput(input); }

void DecryptProtocol::setPlaintextAggregatorId(int id)
{
  decryptImpl().setPlaintextAggregatorId(id);
}

int DecryptProtocol::getPlaintextAggregatorId() const
{
  return decryptImpl().getPlaintextAggregatorId();
}

std::vector<double> DecryptProtocol::getOutputVectorDouble() const
{
  return decryptImpl().getOutputVectorDouble();
}

DoubleTensor DecryptProtocol::getOutputDoubleTensor() const
{
  return decryptImpl().getOutputDoubleTensor();
}

std::vector<std::shared_ptr<const DoubleTensor>>
DecryptProtocol::getOutputVectorDoubleTensorCPtr() const
{
  return decryptImpl().getOutputVectorDoubleTensorCPtr();
}

} // namespace quorvane
