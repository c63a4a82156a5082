#include "math/SimpleCTileReducer.h"

#include "hebase/CTile.h"

namespace quorvane {

SimpleCTileReducer::SimpleCTileReducer(CTile& result, CombineMethod combineMethod)
    : CTileReducer(result, combineMethod)
{
}

SimpleCTileReducer::SimpleCTileReducer(CTile& result, CombineFunction combineFunction)
    : CTileReducer(result, combineFunction)
{
}

void SimpleCTileReducer::push(const CTile& tile)
{
  if (count == 0)
    result = tile;
  else
    combine(result, tile);
  ++count;
}

} // namespace quorvane
