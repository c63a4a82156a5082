#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_BABYGIANTPRODUCT_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_BABYGIANTPRODUCT_H

#include <map>
#include <memory>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/PTile.h"

namespace quorvane {

/// The product of a SEAL ciphertext x by a map in diagonal form,
/// sum over r of P_r * (x rotated left by r), with baby-step giant-step
/// grouping. The amounts are multiples u * t of their common power of two u,
/// t centred in (-n / 2u, n / 2u], and are split as t = B k + b with
/// b in [-B/2, B/2). The baby rotations of x by u b share the decompositions
/// of a short tree; the giant rotations by u B are taken in two Horner chains
/// (k > 0 and k < 0) over the partial sums
///   S_k = sum over b of (P_r rotated right by u B k) * (x rotated by u b),
/// the plaintexts being rotated exactly by the Galois automorphism. About
/// 2 sqrt(count) rotations instead of one per amount.
class BabyGiantProduct
{
public:
  /// The plan for the amounts (in [0, n)) of a map over n slots.
  BabyGiantProduct(const std::vector<int>& amounts, int numSlots);

  /// Whether the plan saves rotations and x, a SEAL ciphertext, has the
  /// rotation keys of all its steps.
  bool appliesTo(const CTile& x) const;

  /// The product; every plaintext must be a SEAL plaintext at x's chain index.
  CTile multiply(const CTile& x, const std::map<int, PTile>& diagonals) const;

private:
  /// The partial sums of the giant indexes through CTile products, or
  /// (fused) summed in 128 bits straight from the SEAL residues.
  void unfusedSums(const CTile& x, const std::vector<std::unique_ptr<CTile>>& babies,
                   const std::map<int, PTile>& diagonals, std::vector<CTile>& sums) const;
  void fusedSums(const CTile& x, const std::vector<std::unique_ptr<CTile>>& babies,
                 const std::map<int, PTile>& diagonals, std::vector<CTile>& sums) const;

  int numSlots;
  // The common power of two of the amounts and the baby-step count B.
  int unit;
  int babyCount;
  // For each amount in ascending order: its giant index k and baby offset b.
  std::vector<int> amounts;
  std::vector<int> giant;
  std::vector<int> baby;
  int minGiant;
  int maxGiant;
  // The baby offsets in breadth-first order of their tree, with the parent
  // offset and the signed step (in units of u) that reaches each from it.
  std::vector<int> babyOrder;
  std::vector<int> babyParent;
  std::vector<int> babyStep;
};

} // namespace quorvane

#endif
