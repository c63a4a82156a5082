#include "hebase/Tile.h"

namespace quorvane {

Tile::~Tile() {}

} // namespace quorvane
