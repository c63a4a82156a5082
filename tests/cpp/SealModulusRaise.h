#ifndef QUORVANE_TESTS_CPP_SEALMODULUSRAISE_H
#define QUORVANE_TESTS_CPP_SEALMODULUSRAISE_H

// The modulus raise of CKKS bootstrapping over SEAL's own objects, for the
// tests and the benchmark of the bootstrap steps (the SEAL context does not
// raise moduli itself).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <seal/ciphertext.h>
#include <seal/context.h>
#include <seal/decryptor.h>
#include <seal/plaintext.h>
#include <seal/util/ntt.h>

#include "hebase/CTile.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"

namespace qvtest {

namespace detail {

// c's polynomials at the chain index, plus q0 * multiples[i] on coefficient i
// of the first: from c at chain index 0, its coefficients taken as centred
// representatives modulo q0 (fromFirstPrime); else from c at the chain index.
inline quorvane::CTile liftToChainIndex(const quorvane::CTile& c, int chainIndex,
                                        const std::vector<int64_t>& multiples, bool fromFirstPrime)
{
  using quorvane::SealCkksCiphertext;
  const auto& impl = dynamic_cast<const SealCkksCiphertext&>(c.getImpl());
  const seal::SEALContext& context = impl.getSealCkksContext().getSealContext();
  const seal::Ciphertext& in = impl.getSealCiphertext();
  auto inData = context.get_context_data(in.parms_id());
  if (!in.is_ntt_form() || (fromFirstPrime && inData->chain_index() != 0) ||
      (!fromFirstPrime && static_cast<int>(inData->chain_index()) != chainIndex))
    throw std::invalid_argument("a ciphertext at another chain index");
  seal::parms_id_type target;
  auto parmsId = impl.getSealCkksContext().getParmsIdForChainIndex(chainIndex);
  std::copy(parmsId.begin(), parmsId.end(), target.begin());
  auto outData = context.get_context_data(target);
  const size_t n = inData->parms().poly_modulus_degree();
  const uint64_t q0 = inData->parms().coeff_modulus()[0].value();
  const auto& primes = outData->parms().coeff_modulus();

  seal::Ciphertext out(context);
  out.resize(context, target, in.size());
  out.is_ntt_form() = true;
  out.scale() = in.scale();
  std::vector<uint64_t> coefficients(n);
  for (size_t k = 0; k < in.size(); ++k) {
    if (fromFirstPrime) {
      std::copy(in.data(k), in.data(k) + n, coefficients.begin());
      seal::util::inverse_ntt_negacyclic_harvey(coefficients.data(), inData->small_ntt_tables()[0]);
    }
    for (size_t j = 0; j < primes.size(); ++j) {
      const auto qj = static_cast<__int128>(primes[j].value());
      uint64_t* poly = out.data(k) + j * n;
      if (!fromFirstPrime) {
        std::copy(in.data(k) + j * n, in.data(k) + (j + 1) * n, coefficients.begin());
        seal::util::inverse_ntt_negacyclic_harvey(coefficients.data(),
                                                  inData->small_ntt_tables()[j]);
      }
      for (size_t i = 0; i < n; ++i) {
        __int128 v = coefficients[i];
        if (fromFirstPrime && coefficients[i] > q0 / 2)
          v -= q0;
        if (k == 0 && i < multiples.size())
          v += static_cast<__int128>(multiples[i]) * q0;
        v %= qj;
        poly[i] = static_cast<uint64_t>(v < 0 ? v + qj : v);
      }
      seal::util::ntt_negacyclic_harvey(poly, outData->small_ntt_tables()[j]);
    }
  }
  quorvane::CTile res(c);
  dynamic_cast<SealCkksCiphertext&>(res.getImpl()).getSealCiphertext() = std::move(out);
  return res;
}

} // namespace detail

/// The ciphertext c, at chain index 0, raised to the chain index: each
/// coefficient of each polynomial, taken as its centred representative
/// modulo q0, is reduced modulo every prime of the chain index. When given,
/// q0 * multiples[i] is added to coefficient i of the first polynomial, so
/// that coefficient i of the decryption gains that multiple of q0.
inline quorvane::CTile raiseModulus(const quorvane::CTile& c, int chainIndex,
                                    const std::vector<int64_t>& multiples = {})
{
  return detail::liftToChainIndex(c, chainIndex, multiples, true);
}

/// c with q0 * multiples[i] added to coefficient i of its first polynomial,
/// at its own chain index.
inline quorvane::CTile addMultiplesOfFirstPrime(const quorvane::CTile& c,
                                                const std::vector<int64_t>& multiples)
{
  return detail::liftToChainIndex(c, c.getChainIndex(), multiples, false);
}

/// The coefficients of c's decryption divided by q0: coefficient i is
/// (m + k q0) / q0 with |m| < q0 / 2, the integer k a multiple of q0 that
/// the modular reduction of a bootstrap must remove. c must hold two primes
/// at least; its coefficients must lie within half their product.
inline std::vector<double> coefficientsOverFirstPrime(const quorvane::CTile& c)
{
  const auto& impl = dynamic_cast<const quorvane::SealCkksCiphertext&>(c.getImpl());
  const seal::SEALContext& context = impl.getSealCkksContext().getSealContext();
  seal::Plaintext plain;
  impl.getSealCkksContext().getDecryptor().decrypt(impl.getSealCiphertext(), plain);
  auto data = context.get_context_data(plain.parms_id());
  const auto& primes = data->parms().coeff_modulus();
  if (primes.size() < 2)
    throw std::invalid_argument("a ciphertext of one prime");
  const size_t n = data->parms().poly_modulus_degree();
  std::vector<uint64_t> a0(plain.data(), plain.data() + n);
  std::vector<uint64_t> a1(plain.data() + n, plain.data() + 2 * n);
  seal::util::inverse_ntt_negacyclic_harvey(a0.data(), data->small_ntt_tables()[0]);
  seal::util::inverse_ntt_negacyclic_harvey(a1.data(), data->small_ntt_tables()[1]);
  const uint64_t q0 = primes[0].value();
  const uint64_t q1 = primes[1].value();
  auto mulMod = [q1](unsigned __int128 x, unsigned __int128 y) {
    return static_cast<uint64_t>(x * y % q1);
  };
  // The inverse of q0 modulo q1, by Fermat.
  uint64_t inverse = 1;
  for (uint64_t b = q0 % q1, e = q1 - 2; e > 0; e >>= 1, b = mulMod(b, b))
    if (e & 1)
      inverse = mulMod(inverse, b);
  std::vector<double> res(n);
  for (size_t i = 0; i < n; ++i) {
    // The multiple k: t = a0 + q0 h with h = (a1 - a0) / q0 mod q1, centred
    // modulo q0 q1, is m + k q0 with m the centred a0.
    int64_t h = static_cast<int64_t>(mulMod((a1[i] + q1 - a0[i] % q1) % q1, inverse));
    if (h > static_cast<int64_t>(q1 / 2))
      h -= static_cast<int64_t>(q1);
    double m = static_cast<double>(a0[i]);
    if (a0[i] > q0 / 2) {
      m -= static_cast<double>(q0);
      h += 1;
    }
    res[i] = static_cast<double>(h) + m / static_cast<double>(q0);
  }
  return res;
}

/// The largest |k| of coefficientsOverFirstPrime.
inline int64_t largestMultipleOfFirstPrime(const quorvane::CTile& c)
{
  int64_t largest = 0;
  for (double t : coefficientsOverFirstPrime(c))
    largest = std::max(largest, static_cast<int64_t>(std::abs(std::round(t))));
  return largest;
}

} // namespace qvtest

#endif
