#ifndef QUORVANE_HEBASE_SEAL_CRTARITHMETIC_H
#define QUORVANE_HEBASE_SEAL_CRTARITHMETIC_H

#include <cstdint>
#include <tuple>
#include <vector>

#include <boost/multiprecision/cpp_int.hpp>

namespace quorvane {

/// Big-integer helpers that turn residue-number-system values back into integers.
class CrtArithmetic
{
public:
  using BigInt = boost::multiprecision::cpp_int;

  /// (g, x, y) with a*x + b*y = g = gcd(a, b); division truncates towards zero.
  static std::tuple<BigInt, BigInt, BigInt> extendedGcd(const BigInt& a, const BigInt& b);

  /// The centred integer v (|v| <= Q/2, Q the product of the first residues.size()
  /// moduli) whose residue modulo moduli[r] is residues[r].
  static BigInt crtCompose(const std::vector<uint64_t>& residues,
                           const std::vector<uint64_t>& moduli);
};

} // namespace quorvane

#endif
