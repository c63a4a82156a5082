#ifndef QUORVANE_HEBASE_IMPL_MOCKUPPROTOCOLMESSAGE_H
#define QUORVANE_HEBASE_IMPL_MOCKUPPROTOCOLMESSAGE_H

#include <vector>

#include "hebase/CTile.h"
#include "hebase/impl/AbstractProtocolMessage.h"

namespace quorvane {

/// The protocol message of the mockup backend. Besides the saved fields it
/// carries, in memory only, the tiles that a key owner hands to the plaintext
/// aggregator; they are not part of the saved form.
class MockupProtocolMessage : public AbstractProtocolMessage
{
public:
  explicit MockupProtocolMessage(const HeContext& he);
  /// Copies everything, tiles included.
  MockupProtocolMessage(const MockupProtocolMessage& src);
  ~MockupProtocolMessage() override;

  std::shared_ptr<AbstractProtocolMessage> clone() const override;
  /// Loads the saved fields; the tiles are dropped.
  std::streamoff load(std::istream& in) override;

  std::vector<CTile>& getTiles() { return tiles; }
  const std::vector<CTile>& getTiles() const { return tiles; }
  /// Copies the given tiles.
  void setTiles(const std::vector<CTile>& newTiles);

private:
  std::vector<CTile> tiles;
};

} // namespace quorvane

#endif
