#include "hebase/impl/MockupProtocolMessage.h"

namespace quorvane {

MockupProtocolMessage::MockupProtocolMessage(const HeContext& he) : AbstractProtocolMessage(he) {}

MockupProtocolMessage::MockupProtocolMessage(const MockupProtocolMessage& src)
    : AbstractProtocolMessage(src), tiles(src.tiles)
{
}

MockupProtocolMessage::~MockupProtocolMessage() {}

std::shared_ptr<AbstractProtocolMessage> MockupProtocolMessage::clone() const
{
  return std::make_shared<MockupProtocolMessage>(*this);
}

std::streamoff MockupProtocolMessage::load(std::istream& in)
{
  std::streamoff count = AbstractProtocolMessage::load(in);
  tiles.clear();
  return count;
}

void MockupProtocolMessage::setTiles(const std::vector<CTile>& newTiles)
{
  if (&newTiles != &tiles)
    tiles = newTiles;
}

} // namespace quorvane
