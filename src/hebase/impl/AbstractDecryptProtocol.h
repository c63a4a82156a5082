#ifndef QUORVANE_HEBASE_IMPL_ABSTRACTDECRYPTPROTOCOL_H
#define QUORVANE_HEBASE_IMPL_ABSTRACTDECRYPTPROTOCOL_H

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "hebase/impl/AbstractProtocol.h"
#include "math/DoubleTensor.h"
#include "math/PTileTensor.h"

namespace quorvane {

class CTile;
class CTileTensor;
class EncryptedData;
class PTile;
class TTShape;

/// The joint decryption protocol: the ciphertext holder's input is decrypted,
/// with every key owner taking part, into clear numbers at the plaintext
/// aggregator. A tile input gives a list of doubles, a tile tensor input a
/// double tensor, and an encrypted data input one double tensor per item of
/// every batch.
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

  /// Makes this participant the ciphertext holder of the input (a copy is kept).
  void setInput(const CTile& input);
  void setInput(const CTileTensor& input);
  void setInput(const EncryptedData& input);

  /// Names the plaintext aggregator; the participant with that id takes the
  /// role. An id that is not a key owner's is refused (std::invalid_argument),
  /// by the participant with that id as addRole refuses it.
  void setPlaintextAggregatorId(int id);
  int getPlaintextAggregatorId() const { return plaintextAggregatorId; }

  /// The decrypted tile (empty before the last round and away from the
  /// plaintext aggregator); needs a tile input.
  std::vector<double> getOutputVectorDouble() const;
  /// The decrypted tile tensor; needs a tile tensor input.
  DoubleTensor getOutputDoubleTensor() const;
  /// The decrypted items, batch by batch; needs an encrypted data input.
  std::vector<std::shared_ptr<const DoubleTensor>> getOutputVectorDoubleTensorCPtr() const;

protected:
  explicit AbstractDecryptProtocol(const HeContext& he);

  /// Round 1: the ciphertext holder sends its input to the key owners.
  virtual bool executeRoundOne(std::vector<ProtocolMessage>& outputMessages,
                               const std::vector<ProtocolMessage>& inputMessages);

  void validateInit() const;
  void validateNotInit() const;
  /// Takes the input that the holder's message carries (shared, not copied).
  void setInputFromMessage(const std::vector<ProtocolMessage>& inputMessages);
  /// Refuses an input tensor holding an empty tile, named as setInput names
  /// it ("the input", or "item <i> of batch <b>" of a data set): the items of
  /// a data set are shared with the caller, who may empty a tile after setInput.
  void checkInputHoldsValues() const;
  /// Copies of the input's tiles, in order (checkInputHoldsValues first).
  std::vector<CTile> transformInputToCTileVector() const;
  /// Decodes the decrypted tiles (in the order of transformInputToCTileVector)
  /// into the output.
  void transformPTileVectorToOutput(const std::vector<PTile>& plaintexts);

  bool usingEncryptedData = false;
  std::shared_ptr<EncryptedData> inputEncryptedData;
  std::vector<std::shared_ptr<const DoubleTensor>> outputVectorDoubleTensor;
  bool usingCTileTensor = false;
  std::shared_ptr<CTileTensor> inputCTileTensor;
  DoubleTensor outputDoubleTensor;
  bool usingCTile = false;
  std::shared_ptr<CTile> inputCTile;
  std::vector<double> outputVectorDouble;
  int plaintextAggregatorId = -1;

  /// Id of the current run; 0 until round 1 (holder) or round 2 (key owners).
  int32_t runId = 0;
  /// Run ids this participant took part in, kept across resets.
  std::set<int32_t> usedRunIds;
};

/// A packed plaintext tile tensor of the shape whose tiles, in flat order, are
/// the plaintexts; refuses a count other than the shape's tile count.
PTileTensor buildPTileTensor(const HeContext& he, const TTShape& shape,
                             const std::vector<PTile>& plaintexts);

} // namespace quorvane

#endif
