#ifndef QUORVANE_MATH_CTILEREDUCER_H
#define QUORVANE_MATH_CTILEREDUCER_H

#include <cstdint>

namespace quorvane {

class CTile;

/// Folds a stream of tiles into one result tile with a binary combine
/// operation (for instance CTile::add or CTile::multiply). The result tile
/// belongs to the caller and must outlive the reducer.
class CTileReducer
{
public:
  /// A plain combine function: accumulator = accumulator (op) operand.
  typedef void (*CombineFunction)(CTile& accumulator, const CTile& operand);
  /// A CTile member combining an operand into the tile it is called on.
  typedef void (CTile::*CombineMethod)(const CTile& operand);

  virtual ~CTileReducer();

  /// Adds one tile.
  virtual void push(const CTile& tile) = 0;

  /// Completes the reduction: afterwards the result holds the combination of
  /// every tile pushed.
  virtual void finish();

  /// Number of tiles pushed so far.
  int32_t getCount() const { return count; }

protected:
  CTileReducer(CTile& result, CombineMethod combineMethod);
  CTileReducer(CTile& result, CombineFunction combineFunction);
  CTileReducer(const CTileReducer&) = delete;
  CTileReducer& operator=(const CTileReducer&) = delete;

  /// Combines operand into accumulator with the combine operation.
  void combine(CTile& accumulator, const CTile& operand) const;

  CTile& result;
  CombineFunction combineFunction = nullptr;
  CombineMethod combineMethod = nullptr;
  int32_t count = 0;
};

} // namespace quorvane

#endif
