#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_TILEROTATIONS_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_TILEROTATIONS_H

#include <memory>

#include "hebase/CTile.h"

namespace quorvane {

class SealHoistedRotator;

/// Rotated copies of one ciphertext. On SEAL ciphertexts whose rotation key
/// exists the rotations share one key-switching decomposition
/// (SealHoistedRotator); otherwise each is a copy rotated by CTile::rotate.
class TileRotations
{
public:
  /// The source must outlive this object.
  explicit TileRotations(const CTile& source);
  ~TileRotations();
  TileRotations(const TileRotations&) = delete;
  TileRotations& operator=(const TileRotations&) = delete;

  /// A copy of the source rotated left by step.
  CTile rotate(int step);

private:
  const CTile& source;
  std::unique_ptr<SealHoistedRotator> hoisted;
};

} // namespace quorvane

#endif
