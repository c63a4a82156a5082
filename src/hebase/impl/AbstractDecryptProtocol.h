#ifndef QUORVANE_HEBASE_IMPL_ABSTRACTDECRYPTPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_ABSTRACTDECRYPTPROTOCOL_H

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "hebase/impl/AbstractProtocol.h"

namespace quorvane {

class CTile;
class PTile;

/// The joint decryption protocol: the ciphertext holder's input is decrypted,
/// with every key owner taking part, into clear numbers at the plaintext
/// aggregator. A tile input gives a list of doubles.
///
/// Every run is bound to a run id that the ciphertext holder draws and that
/// travels in the protocol id of the run's messages: a key owner refuses the
/// input of a run it already took part in, and the plaintext aggregator
/// refuses round-2 messages of another run.
class AbstractDecryptProtocol : public AbstractProtocol
{
public:
  ~AbstractDecryptProtocol() override;

  /// Back to round 1 without input and output; this participant stays
  /// plaintext aggregator when it was named one.
  void resetProtocol() override;

  /// Makes this participant the ciphertext holder of the tile.
  void setInput(const CTile& input);

  /// Names the plaintext aggregator; the participant with that id takes the role.
  void setPlaintextAggregatorId(int id);
  int getPlaintextAggregatorId() const { return plaintextAggregatorId; }

  /// The decrypted tile (empty before the last round and away from the
  /// plaintext aggregator); needs a tile input.
  std::vector<double> getOutputVectorDouble() const;

protected:
  explicit AbstractDecryptProtocol(const HeContext& he);

  /// Round 1: the ciphertext holder sends its input to the key owners.
  virtual bool executeRoundOne(std::vector<ProtocolMessage>& outputMessages,
                               const std::vector<ProtocolMessage>& inputMessages);

  void validateInit() const;
  void validateNotInit() const;
  /// Takes the input that the holder's message carries (shared, not copied).
  void setInputFromMessage(const std::vector<ProtocolMessage>& inputMessages);
  /// Copies of the input's tiles, in order.
  std::vector<CTile> transformInputToCTileVector() const;
  /// Decodes the decrypted tiles (in the order of transformInputToCTileVector)
  /// into the output.
  void transformPTileVectorToOutput(const std::vector<PTile>& plaintexts);

  bool usingCTile = false;
  std::shared_ptr<CTile> inputCTile;
  std::vector<double> outputVectorDouble;
  int plaintextAggregatorId = -1;

  /// Id of the current run; 0 until round 1 (holder) or round 2 (key owners).
  int32_t runId = 0;
  /// Run ids this participant took part in, kept across resets.
  std::set<int32_t> usedRunIds;
};

} // namespace quorvane

#endif
