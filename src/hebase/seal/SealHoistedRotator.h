#ifndef QUORVANE_HEBASE_SEAL_SEALHOISTEDROTATOR_H
#define QUORVANE_HEBASE_SEAL_SEALHOISTEDROTATOR_H

#include <cstdint>
#include <vector>

#include <seal/util/pointer.h>

namespace quorvane {

class SealCkksCiphertext;
class SealCkksContext;

/// Several rotations of one SEAL ciphertext that share the key-switching
/// decomposition of its second polynomial (hoisting): the decomposition and
/// its number-theoretic transforms are computed once, and each rotation then
/// costs a permutation, the products by its Galois key and one division by
/// the special prime. The results decrypt to the rotations SEAL computes.
class SealHoistedRotator
{
public:
  /// Whether source can be rotated by step this way: a ciphertext of two
  /// polynomials whose context holds the Galois key of the step.
  static bool canRotate(const SealCkksCiphertext& source, int step);

  /// Decomposes the source, which must outlive the rotator.
  explicit SealHoistedRotator(const SealCkksCiphertext& source);

  /// result (a ciphertext of the same context) becomes the source rotated
  /// left by step.
  void rotate(int step, SealCkksCiphertext& result) const;

private:
  const SealCkksCiphertext& source;
  const SealCkksContext& he;
  // Data primes of the source's level.
  std::size_t levelSize;
  std::size_t degree;
  // The decomposition: digit j of the second polynomial, in NTT form modulo
  // each data prime and then the special prime, at ((j * (levelSize + 1) + i) * degree).
  seal::util::Pointer<uint64_t> digits;
  // For each data prime q: the inverse of the special prime p modulo q with
  // its Shoup quotient, and (p - 1) / 2 modulo q.
  std::vector<uint64_t> inverseSpecial;
  std::vector<uint64_t> inverseSpecialQuotient;
  std::vector<uint64_t> halfSpecial;
};

} // namespace quorvane

#endif
