#include "math/bootstrap/seal/TileRotations.h"

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealHoistedRotator.h"

namespace quorvane {

TileRotations::TileRotations(const CTile& source) : source(source) {}

TileRotations::~TileRotations() {}

CTile TileRotations::rotate(int step)
{
  const auto* seal = dynamic_cast<const SealCkksCiphertext*>(&source.getImpl());
  if (seal != nullptr && SealHoistedRotator::canRotate(*seal, step)) {
    if (!hoisted)
      hoisted = std::make_unique<SealHoistedRotator>(*seal);
    CTile res(source.getHeContext());
    hoisted->rotate(step, dynamic_cast<SealCkksCiphertext&>(res.getImpl()));
    return res;
  }
  CTile res(source);
  res.rotate(step);
  return res;
}

} // namespace quorvane
