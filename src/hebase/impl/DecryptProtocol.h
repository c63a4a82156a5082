#ifndef QUORVANE_HEBASE_IMPL_DECRYPTPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_DECRYPTPROTOCOL_H

#include <memory>
#include <vector>

#include "hebase/impl/Protocol.h"
#include "math/DoubleTensor.h"

namespace quorvane {

class AbstractDecryptProtocol;
class CTile;
class CTileTensor;
class EncryptedData;
class HeContext;

/// The joint decryption protocol of the context's backend.
class DecryptProtocol : public Protocol
{
public:
  explicit DecryptProtocol(const HeContext& he);
  ~DecryptProtocol() override;

  /// Makes this participant the ciphertext holder of the input.
  void setInput(const CTile& input);
  void setInput(const CTileTensor& input);
  void setInput(const EncryptedData& input);
  /// Names the plaintext aggregator, one of the key owners.
  void setPlaintextAggregatorId(int id);
  int getPlaintextAggregatorId() const;
  std::vector<double> getOutputVectorDouble() const;
  DoubleTensor getOutputDoubleTensor() const;
  std::vector<std::shared_ptr<const DoubleTensor>> getOutputVectorDoubleTensorCPtr() const;

private:
  AbstractDecryptProtocol& decryptImpl() const;
};

} // namespace quorvane

#endif
