#include "hebase/seal/SealHoistedRotator.h"

#include <algorithm>
#include <stdexcept>

#include <seal/context.h>
#include <seal/memorymanager.h>
#include <seal/galoiskeys.h>
#include <seal/util/galois.h>
#include <seal/util/iterator.h>
#include <seal/util/ntt.h>
#include <seal/util/numth.h>
#include <seal/util/uintarithsmallmod.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealProductSum.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

namespace {

using seal::util::CoeffIter;
using seal::util::ConstCoeffIter;

const std::string DECOMPOSE_TIMER = "SEAL::hoistedDecompose";
const std::string ROTATE_TIMER = "SEAL::hoistedRotate";

// The Galois element of a left rotation by step.
uint32_t galoisElement(const SealCkksContext& he, int step)
{
  return he.getSealContext().key_context_data()->galois_tool()->get_elt_from_step(step);
}

} // namespace

bool SealHoistedRotator::canRotate(const SealCkksCiphertext& source, int step)
{
  const SealCkksContext& he = source.getSealCkksContext();
  const seal::Ciphertext& c = source.getSealCiphertext();
  // The key products of up to 63 digits are summed in 128 bits.
  if (c.size() != 2 || !c.is_ntt_form() || c.coeff_modulus_size() > 63 ||
      he.getPublicFunctions().rotate == NO_ROTATIONS)
    return false;
  step %= he.slotCount();
  if (step == 0)
    return false;
  return he.getGaloisKeys().has_key(galoisElement(he, step));
}

SealHoistedRotator::SealHoistedRotator(const SealCkksCiphertext& source)
    : source(source), he(source.getSealCkksContext())
{
  LeafTimer timer(DECOMPOSE_TIMER);
  const seal::Ciphertext& c = source.getSealCiphertext();
  auto keyData = he.getSealContext().key_context_data();
  const auto& moduli = keyData->parms().coeff_modulus();
  const seal::util::NTTTables* tables = keyData->small_ntt_tables();
  const std::size_t special = moduli.size() - 1;
  levelSize = c.coeff_modulus_size();
  degree = c.poly_modulus_degree();
  const std::size_t targets = levelSize + 1;

  const seal::Modulus& p = moduli[special];
  for (std::size_t i = 0; i < levelSize; ++i) {
    uint64_t inverse = 0;
    if (!seal::util::try_invert_uint_mod(seal::util::barrett_reduce_64(p.value(), moduli[i]),
                                         moduli[i].value(), inverse))
      throw std::logic_error("the special prime is not invertible modulo a data prime");
    seal::util::MultiplyUIntModOperand operand;
    operand.set(inverse, moduli[i]);
    inverseSpecial.push_back(operand.operand);
    inverseSpecialQuotient.push_back(operand.quotient);
    halfSpecial.push_back(seal::util::barrett_reduce_64(p.value() >> 1, moduli[i]));
  }

  // Digit j is the j-th residue of the polynomial as an integer polynomial
  // below q_j, transformed modulo every target prime (lazily: below 4 times it).
  // From SEAL's memory pool, which keeps the blocks for the next rotator.
  auto pool = seal::MemoryManager::GetPool();
  digits = seal::util::allocate<uint64_t>(levelSize * targets * degree, pool);
  auto coeffs = seal::util::allocate<uint64_t>(degree, pool);
  for (std::size_t j = 0; j < levelSize; ++j) {
    const uint64_t* component = c.data(1) + j * degree;
    std::copy(component, component + degree, coeffs.get());
    seal::util::inverse_ntt_negacyclic_harvey(CoeffIter(coeffs.get()), tables[j]);
    for (std::size_t i = 0; i < targets; ++i) {
      uint64_t* digit = digits.get() + (j * targets + i) * degree;
      if (i == j) {
        std::copy(component, component + degree, digit);
        continue;
      }
      const std::size_t index = i == levelSize ? special : i;
      const seal::Modulus& modulus = moduli[index];
      if (moduli[j].value() > modulus.value()) {
        for (std::size_t n = 0; n < degree; ++n)
          digit[n] = seal::util::barrett_reduce_64(coeffs[n], modulus);
      } else {
        std::copy(coeffs.get(), coeffs.get() + degree, digit);
      }
      seal::util::ntt_negacyclic_harvey_lazy(CoeffIter(digit), tables[index]);
    }
  }
}

void SealHoistedRotator::rotate(int step, SealCkksCiphertext& result) const
{
  LeafTimer timer(ROTATE_TIMER);
  const seal::Ciphertext& c = source.getSealCiphertext();
  auto keyData = he.getSealContext().key_context_data();
  const auto& moduli = keyData->parms().coeff_modulus();
  const seal::util::NTTTables* tables = keyData->small_ntt_tables();
  const std::size_t special = moduli.size() - 1;
  const std::size_t targets = levelSize + 1;
  const uint32_t element = galoisElement(he, step % he.slotCount());
  const auto& keys = he.getGaloisKeys().key(element);

  // The automorphism permutes the values of a polynomial in NTT form.
  std::vector<uint64_t> identity(degree);
  std::vector<uint64_t> image(degree);
  for (std::size_t n = 0; n < degree; ++n)
    identity[n] = n;
  keyData->galois_tool()->apply_galois_ntt(ConstCoeffIter(identity.data()), element,
                                           CoeffIter(image.data()));
  std::vector<uint32_t> permutation(image.begin(), image.end());

  seal::Ciphertext rotated(c);
  uint64_t* out0 = rotated.data(0);
  uint64_t* out1 = rotated.data(1);
  for (std::size_t i = 0; i < levelSize; ++i) {
    const uint64_t* in0 = c.data(0) + i * degree;
    for (std::size_t n = 0; n < degree; ++n)
      out0[i * degree + n] = in0[permutation[n]];
  }

  // The permuted digits times the key, modulo each target prime. Each sum has
  // at most 63 products below 2^122 (digits below 4q), so it fits in 128 bits.
  auto pool = seal::MemoryManager::GetPool();
  auto products = seal::util::allocate<uint64_t>(2 * targets * degree, pool);
  std::vector<const uint64_t*> values(levelSize);
  std::vector<const uint64_t*> keys0(levelSize);
  std::vector<const uint64_t*> keys1(levelSize);
  for (std::size_t i = 0; i < targets; ++i) {
    const std::size_t index = i == levelSize ? special : i;
    for (std::size_t j = 0; j < levelSize; ++j) {
      const seal::Ciphertext& key = keys[j].data();
      values[j] = digits.get() + (j * targets + i) * degree;
      keys0[j] = key.data(0) + index * degree;
      keys1[j] = key.data(1) + index * degree;
    }
    SealProductSum::multiplyAccumulate(values.data(), keys0.data(), keys1.data(), levelSize,
                                       permutation.data(), degree, moduli[index],
                                       products.get() + i * degree,
                                       products.get() + (targets + i) * degree);
  }

  // Division by the special prime p with rounding: subtract the centred
  // residue modulo p from every data component and multiply by p^-1.
  const seal::Modulus& p = moduli[special];
  const uint64_t half = p.value() >> 1;
  auto last = seal::util::allocate<uint64_t>(degree, pool);
  auto temp = seal::util::allocate<uint64_t>(degree, pool);
  for (std::size_t k = 0; k < 2; ++k) {
    const uint64_t* lastNtt = products.get() + (k * targets + levelSize) * degree;
    std::copy(lastNtt, lastNtt + degree, last.get());
    seal::util::inverse_ntt_negacyclic_harvey(CoeffIter(last.get()), tables[special]);
    for (std::size_t n = 0; n < degree; ++n)
      last[n] = seal::util::add_uint_mod(last[n], half, p);
    uint64_t* out = k == 0 ? out0 : out1;
    for (std::size_t i = 0; i < levelSize; ++i) {
      const seal::Modulus& modulus = moduli[i];
      const uint64_t q = modulus.value();
      for (std::size_t n = 0; n < degree; ++n)
        temp[n] = seal::util::barrett_reduce_64(last[n], modulus) + q - halfSpecial[i];
      // Below 4q after the lazy transform.
      seal::util::ntt_negacyclic_harvey_lazy(CoeffIter(temp.get()), tables[i]);
      seal::util::MultiplyUIntModOperand inverse;
      inverse.operand = inverseSpecial[i];
      inverse.quotient = inverseSpecialQuotient[i];
      const uint64_t* product = products.get() + (k * targets + i) * degree;
      uint64_t* dest = out + i * degree;
      for (std::size_t n = 0; n < degree; ++n) {
        uint64_t scaled = seal::util::multiply_uint_mod(product[n] + 4 * q - temp[n], inverse,
                                                        modulus);
        dest[n] = k == 0 ? seal::util::add_uint_mod(dest[n], scaled, modulus) : scaled;
      }
    }
  }
  result.getSealCiphertext() = std::move(rotated);
}

} // namespace quorvane
