#include "math/LeveledCTileReducer.h"

#include <stdexcept>

#include "hebase/utils/Assert.h"

namespace quorvane {

LeveledCTileReducer::LeveledCTileReducer(CTile& result, CombineMethod combineMethod)
    : CTileReducer(result, combineMethod)
{
}

LeveledCTileReducer::LeveledCTileReducer(CTile& result, CombineFunction combineFunction)
    : CTileReducer(result, combineFunction)
{
}

LeveledCTileReducer::~LeveledCTileReducer() {}

CTile& LeveledCTileReducer::slot(size_t i)
{
  if (i == 0)
    return result;
  if (i - 1 >= partials.size())
    throw std::out_of_range("invalid vector subscript");
  return partials[i - 1];
}

void LeveledCTileReducer::push(const CTile& tile)
{
  if (count == 0) {
    QV_ASSERT(levels.size() == 0);
    result = tile;
    ++count;
    levels.push_back(0);
    return;
  }
  if (levels.back() != 0) {
    partials.push_back(tile);
    levels.push_back(0);
    ++count;
    return;
  }
  combine(slot(levels.size() - 1), tile);
  ++levels.back();
  fold(false);
  ++count;
}

void LeveledCTileReducer::fold(bool force)
{
  while (levels.size() >= 2) {
    size_t n = levels.size();
    if (!force && levels[n - 1] != levels[n - 2])
      return;
    combine(slot(n - 2), slot(n - 1));
    partials.pop_back();
    levels.pop_back();
    ++levels.back();
  }
}

void LeveledCTileReducer::finish() { fold(true); }

} // namespace quorvane
