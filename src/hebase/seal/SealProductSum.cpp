#include "hebase/seal/SealProductSum.h"

#include <algorithm>
#include <stdexcept>

#include <seal/util/uintarithsmallmod.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUORVANE_PRODUCT_SUM_VECTOR 1
#endif

namespace quorvane {

namespace {

using Wide = unsigned __int128;

// Coefficients whose sums are kept together.
constexpr std::size_t BLOCK = 256;

uint64_t reduce(Wide value, const seal::Modulus& modulus)
{
  uint64_t words[2] = {static_cast<uint64_t>(value), static_cast<uint64_t>(value >> 64)};
  return seal::util::barrett_reduce_128(words, modulus);
}

void checkCount(std::size_t count)
{
  if (count > SealProductSum::MAX_COUNT)
    throw std::invalid_argument("more than 63 products in one sum");
}

} // namespace

void SealProductSum::multiplyAccumulatePortable(const uint64_t* const* values,
                                                const uint64_t* const* factors0,
                                                const uint64_t* const* factors1,
                                                std::size_t count, const uint32_t* permutation,
                                                std::size_t degree,
                                                const seal::Modulus& modulus, uint64_t* out0,
                                                uint64_t* out1)
{
  checkCount(count);
  Wide acc0[BLOCK];
  Wide acc1[BLOCK];
  for (std::size_t start = 0; start < degree; start += BLOCK) {
    const std::size_t length = std::min(BLOCK, degree - start);
    std::fill(acc0, acc0 + length, 0);
    std::fill(acc1, acc1 + length, 0);
    for (std::size_t j = 0; j < count; ++j) {
      const uint64_t* value = values[j];
      const uint64_t* factor0 = factors0[j] + start;
      const uint64_t* factor1 = factors1[j] + start;
      for (std::size_t n = 0; n < length; ++n) {
        Wide v = value[permutation != nullptr ? permutation[start + n] : start + n];
        acc0[n] += v * factor0[n];
        acc1[n] += v * factor1[n];
      }
    }
    for (std::size_t n = 0; n < length; ++n) {
      out0[start + n] = reduce(acc0[n], modulus);
      out1[start + n] = reduce(acc1[n], modulus);
    }
  }
}

#ifdef QUORVANE_PRODUCT_SUM_VECTOR

#define QUORVANE_VECTOR_TARGET __attribute__((target("avx512f")))
// GCC 12 reports the undefined vectors inside its own intrinsics as
// uninitialised reads.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

// Adds v * f (8 lanes) to sums held in three words of weights 1, 2^32 and
// 2^64 (at sums, sums + BLOCK and sums + 2 BLOCK), from the four products of
// the 32-bit halves; vHigh = v >> 32.
QUORVANE_VECTOR_TARGET inline void accumulate(uint64_t* sums, __m512i v, __m512i vHigh, __m512i f)
{
  const __m512i low = _mm512_set1_epi64(0xffffffffULL);
  const __m512i fHigh = _mm512_srli_epi64(f, 32);
  const __m512i ll = _mm512_mul_epu32(v, f);
  const __m512i lh = _mm512_mul_epu32(v, fHigh);
  const __m512i hl = _mm512_mul_epu32(vHigh, f);
  const __m512i hh = _mm512_mul_epu32(vHigh, fHigh);
  uint64_t* w1 = sums + BLOCK;
  uint64_t* w2 = sums + 2 * BLOCK;
  const __m512i word0 = _mm512_and_si512(ll, low);
  const __m512i word1 = _mm512_add_epi64(
      _mm512_srli_epi64(ll, 32), _mm512_add_epi64(_mm512_and_si512(lh, low), _mm512_and_si512(hl, low)));
  const __m512i word2 =
      _mm512_add_epi64(hh, _mm512_add_epi64(_mm512_srli_epi64(lh, 32), _mm512_srli_epi64(hl, 32)));
  _mm512_store_si512(sums, _mm512_add_epi64(_mm512_load_si512(sums), word0));
  _mm512_store_si512(w1, _mm512_add_epi64(_mm512_load_si512(w1), word1));
  _mm512_store_si512(w2, _mm512_add_epi64(_mm512_load_si512(w2), word2));
}

} // namespace

QUORVANE_VECTOR_TARGET void SealProductSum::multiplyAccumulateVector(
    const uint64_t* const* values, const uint64_t* const* factors0,
    const uint64_t* const* factors1, std::size_t count, const uint32_t* permutation,
    std::size_t degree, const seal::Modulus& modulus, uint64_t* out0, uint64_t* out1)
{
  checkCount(count);
  if (degree % 8 != 0)
    throw std::invalid_argument("a degree that is not a multiple of 8");
  // The exact sum is w0 + 2^32 w1 + 2^64 w2; below 2^128, so w2 < 2^64, and
  // w0, w1 stay below 2^40 over at most 63 products.
  alignas(64) uint64_t sums0[3 * BLOCK];
  alignas(64) uint64_t sums1[3 * BLOCK];
  for (std::size_t start = 0; start < degree; start += BLOCK) {
    const std::size_t length = std::min(BLOCK, degree - start);
    std::fill(sums0, sums0 + 3 * BLOCK, 0);
    std::fill(sums1, sums1 + 3 * BLOCK, 0);
    for (std::size_t j = 0; j < count; ++j) {
      const uint64_t* value = values[j];
      const uint64_t* factor0 = factors0[j] + start;
      const uint64_t* factor1 = factors1[j] + start;
      for (std::size_t n = 0; n < length; n += 8) {
        __m512i v;
        if (permutation != nullptr) {
          const __m256i index =
              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(permutation + start + n));
          v = _mm512_i32gather_epi64(index, reinterpret_cast<const long long*>(value), 8);
        } else {
          v = _mm512_loadu_si512(value + start + n);
        }
        const __m512i vHigh = _mm512_srli_epi64(v, 32);
        accumulate(sums0 + n, v, vHigh, _mm512_loadu_si512(factor0 + n));
        accumulate(sums1 + n, v, vHigh, _mm512_loadu_si512(factor1 + n));
      }
    }
    for (std::size_t n = 0; n < length; ++n) {
      Wide s0 = (static_cast<Wide>(sums0[2 * BLOCK + n]) << 64) +
                (static_cast<Wide>(sums0[BLOCK + n]) << 32) + sums0[n];
      Wide s1 = (static_cast<Wide>(sums1[2 * BLOCK + n]) << 64) +
                (static_cast<Wide>(sums1[BLOCK + n]) << 32) + sums1[n];
      out0[start + n] = reduce(s0, modulus);
      out1[start + n] = reduce(s1, modulus);
    }
  }
}

#pragma GCC diagnostic pop

bool SealProductSum::hasVectorVersion()
{
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}

#else

void SealProductSum::multiplyAccumulateVector(const uint64_t* const*, const uint64_t* const*,
                                              const uint64_t* const*, std::size_t,
                                              const uint32_t*, std::size_t, const seal::Modulus&,
                                              uint64_t*, uint64_t*)
{
  throw std::logic_error("no vector version on this platform");
}

bool SealProductSum::hasVectorVersion() { return false; }

#endif

void SealProductSum::multiplyAccumulate(const uint64_t* const* values,
                                        const uint64_t* const* factors0,
                                        const uint64_t* const* factors1, std::size_t count,
                                        const uint32_t* permutation, std::size_t degree,
                                        const seal::Modulus& modulus, uint64_t* out0,
                                        uint64_t* out1)
{
  if (degree % 8 == 0 && hasVectorVersion())
    multiplyAccumulateVector(values, factors0, factors1, count, permutation, degree, modulus,
                             out0, out1);
  else
    multiplyAccumulatePortable(values, factors0, factors1, count, permutation, degree, modulus,
                               out0, out1);
}

} // namespace quorvane
