#ifndef QUORVANE_MATH_SIMPLECTILEREDUCER_H
#define QUORVANE_MATH_SIMPLECTILEREDUCER_H

#include "math/CTileReducer.h"

namespace quorvane {

/// Folds each tile into the result as it arrives: a chain, so a product of n
/// tiles is n - 1 multiplications deep. The result is complete after every push.
class SimpleCTileReducer : public CTileReducer
{
public:
  SimpleCTileReducer(CTile& result, CombineMethod combineMethod);
  SimpleCTileReducer(CTile& result, CombineFunction combineFunction);

  /// The first tile is copied into the result; later ones are combined into it.
  void push(const CTile& tile) override;
};

} // namespace quorvane

#endif
