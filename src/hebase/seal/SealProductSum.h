#ifndef QUORVANE_HEBASE_SEAL_SEALPRODUCTSUM_H
#define QUORVANE_HEBASE_SEAL_SEALPRODUCTSUM_H

#include <cstddef>
#include <cstdint>

#include <seal/modulus.h>

namespace quorvane {

/// Sums of coefficient-wise products of residue polynomials modulo one prime
/// of at most 60 bits, reduced once: for every n below degree,
///   out0[n] = sum over j < count of values[j][p(n)] * factors0[j][n] mod q,
///   out1[n] = the same with factors1,
/// where p is the permutation (the identity when null). The values must be
/// below 2^62, the factors below q, and count at most 63, so that the exact
/// sums stay below 2^128. Both versions give the same words.
class SealProductSum
{
public:
  /// The 512-bit vector version where the processor has it, else the portable one.
  static void multiplyAccumulate(const uint64_t* const* values, const uint64_t* const* factors0,
                                 const uint64_t* const* factors1, std::size_t count,
                                 const uint32_t* permutation, std::size_t degree,
                                 const seal::Modulus& modulus, uint64_t* out0, uint64_t* out1);

  static void multiplyAccumulatePortable(const uint64_t* const* values,
                                         const uint64_t* const* factors0,
                                         const uint64_t* const* factors1, std::size_t count,
                                         const uint32_t* permutation, std::size_t degree,
                                         const seal::Modulus& modulus, uint64_t* out0,
                                         uint64_t* out1);

  /// Whether this processor runs the vector version.
  static bool hasVectorVersion();

  /// The vector version; only where hasVectorVersion() holds and for a
  /// degree that is a multiple of 8.
  static void multiplyAccumulateVector(const uint64_t* const* values,
                                       const uint64_t* const* factors0,
                                       const uint64_t* const* factors1, std::size_t count,
                                       const uint32_t* permutation, std::size_t degree,
                                       const seal::Modulus& modulus, uint64_t* out0,
                                       uint64_t* out1);

  /// The most products one call sums.
  static constexpr std::size_t MAX_COUNT = 63;
};

} // namespace quorvane

#endif
