#include "hebase/seal/CrtArithmetic.h"

#include <stdexcept>

namespace quorvane {

std::tuple<CrtArithmetic::BigInt, CrtArithmetic::BigInt, CrtArithmetic::BigInt>
CrtArithmetic::extendedGcd(const BigInt& a, const BigInt& b)
{
  if (a == 0)
    return std::make_tuple(b, BigInt(0), BigInt(1));
  BigInt g, x1, y1;
  std::tie(g, x1, y1) = extendedGcd(b % a, a);
  BigInt x = y1 - (b / a) * x1;
  return std::make_tuple(g, x, x1);
}

CrtArithmetic::BigInt CrtArithmetic::crtCompose(const std::vector<uint64_t>& residues,
                                                const std::vector<uint64_t>& moduli)
{
  size_t k = residues.size();
  if (moduli.size() < k)
    throw std::invalid_argument("crtCompose: fewer moduli than residues");
  BigInt q = 1;
  for (size_t r = 0; r < k; ++r)
    q *= moduli[r];
  BigInt sum = 0;
  for (size_t r = 0; r < k; ++r) {
    BigInt m = q / moduli[r];
    BigInt g, x, y;
    std::tie(g, x, y) = extendedGcd(m, BigInt(moduli[r]));
    sum += BigInt(residues[r]) * m * x;
  }
  // cpp_int's % takes the sign of the dividend.
  BigInt v = sum % q;
  if (v < 0)
    v += q;
  if (v > q / 2)
    v -= q;
  return v;
}

} // namespace quorvane
