#include "math/CTileReducer.h"

#include "hebase/CTile.h"

namespace quorvane {

CTileReducer::CTileReducer(CTile& result, CombineMethod combineMethod)
    : result(result), combineMethod(combineMethod)
{
}

CTileReducer::CTileReducer(CTile& result, CombineFunction combineFunction)
    : result(result), combineFunction(combineFunction)
{
}

CTileReducer::~CTileReducer() {}

void CTileReducer::finish() {}

void CTileReducer::combine(CTile& accumulator, const CTile& operand) const
{
  if (combineFunction != nullptr)
    combineFunction(accumulator, operand);
  else
    (accumulator.*combineMethod)(operand);
}

} // namespace quorvane
