#ifndef QUORVANE_HEBASE_IMPL_MOCKUPDECRYPTPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_MOCKUPDECRYPTPROTOCOL_H

#include "hebase/impl/AbstractDecryptProtocol.h"

namespace quorvane {

/// The three-round decryption protocol of the mockup backend: the holder sends
/// its input to the key owners (round 1), every key owner sends its tiles to
/// the plaintext aggregator (round 2), which decrypts its own copy once every
/// key owner's message has arrived (round 3).
class MockupDecryptProtocol : public AbstractDecryptProtocol
{
public:
  explicit MockupDecryptProtocol(const HeContext& he);
  ~MockupDecryptProtocol() override;

protected:
  bool executeRound(int round, std::vector<ProtocolMessage>& outputMessages,
                    const std::vector<ProtocolMessage>& inputMessages) override;

private:
  bool executeRoundTwo(std::vector<ProtocolMessage>& outputMessages,
                       const std::vector<ProtocolMessage>& inputMessages);
  bool executeRoundThree(std::vector<ProtocolMessage>& outputMessages,
                         const std::vector<ProtocolMessage>& inputMessages);
};

} // namespace quorvane

#endif
