#ifndef QUORVANE_MATH_LEVELEDCTILEREDUCER_H
#define QUORVANE_MATH_LEVELEDCTILEREDUCER_H

#include <cstdint>
#include <vector>

#include "hebase/CTile.h"
#include "math/CTileReducer.h"

namespace quorvane {

/// Folds tiles in a balanced tree: pending partial results carry levels like
/// the digits of a binary counter (a level-L partial combines 2^L tiles), and
/// only partials of equal level are combined while pushing. A product of n
/// tiles is then ceil(log2 n) multiplications deep. Call finish to combine
/// what is still pending into the result.
class LeveledCTileReducer : public CTileReducer
{
public:
  LeveledCTileReducer(CTile& result, CombineMethod combineMethod);
  LeveledCTileReducer(CTile& result, CombineFunction combineFunction);
  ~LeveledCTileReducer() override;

  void push(const CTile& tile) override;
  /// Combines every pending partial into the result, from the last one
  /// towards the first, whatever their levels.
  void finish() override;

private:
  /// The tile of pending slot i: the result for 0, a partial otherwise.
  CTile& slot(size_t i);
  /// Combines the last slot into the one before it while the last two levels
  /// are equal (or always, with force).
  void fold(bool force);

  /// Pending partial results after the first (which is the result itself).
  std::vector<CTile> partials;
  /// One level per pending slot, never increasing from one slot to the next.
  std::vector<int32_t> levels;
};

} // namespace quorvane

#endif
