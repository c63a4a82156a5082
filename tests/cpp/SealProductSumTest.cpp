// Sums of residue products modulo one prime: the portable and the vector
// versions against a direct computation, word for word.

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <seal/modulus.h>
#include <seal/util/uintarithsmallmod.h>

#include "hebase/seal/SealProductSum.h"

using namespace quorvane;

namespace {

struct Inputs
{
  std::vector<std::vector<uint64_t>> values;
  std::vector<std::vector<uint64_t>> factors0;
  std::vector<std::vector<uint64_t>> factors1;
  std::vector<uint32_t> permutation;
  std::vector<const uint64_t*> valuePointers;
  std::vector<const uint64_t*> factor0Pointers;
  std::vector<const uint64_t*> factor1Pointers;
};

// Random operands, or (extreme) the largest ones allowed: values 2^62 - 1
// and factors q - 1.
Inputs makeInputs(std::size_t count, std::size_t degree, uint64_t q, bool extreme,
                  unsigned seed)
{
  std::mt19937_64 gen(seed);
  Inputs in;
  auto fill = [&](std::vector<std::vector<uint64_t>>& polys, uint64_t bound) {
    polys.assign(count, std::vector<uint64_t>(degree));
    for (auto& poly : polys)
      for (auto& word : poly)
        word = extreme ? bound - 1 : gen() % bound;
  };
  fill(in.values, uint64_t(1) << 62);
  fill(in.factors0, q);
  fill(in.factors1, q);
  in.permutation.resize(degree);
  std::iota(in.permutation.begin(), in.permutation.end(), 0u);
  std::shuffle(in.permutation.begin(), in.permutation.end(), gen);
  for (std::size_t j = 0; j < count; ++j) {
    in.valuePointers.push_back(in.values[j].data());
    in.factor0Pointers.push_back(in.factors0[j].data());
    in.factor1Pointers.push_back(in.factors1[j].data());
  }
  return in;
}

// sum over j of values[j][p(n)] * factors[j][n] modulo q, one product at a time.
std::vector<uint64_t> direct(const Inputs& in, const std::vector<std::vector<uint64_t>>& factors,
                             bool permuted, const seal::Modulus& modulus)
{
  const std::size_t degree = in.permutation.size();
  std::vector<uint64_t> res(degree, 0);
  for (std::size_t j = 0; j < in.values.size(); ++j)
    for (std::size_t n = 0; n < degree; ++n) {
      uint64_t v = in.values[j][permuted ? in.permutation[n] : n];
      uint64_t product = seal::util::multiply_uint_mod(
          seal::util::barrett_reduce_64(v, modulus), factors[j][n], modulus);
      res[n] = seal::util::add_uint_mod(res[n], product, modulus);
    }
  return res;
}

} // namespace

TEST(SealProductSum, BothVersionsGiveTheReducedSums)
{
  struct Case
  {
    std::size_t count;
    std::size_t degree;
    uint64_t q;
    bool extreme;
  };
  // Primes of 60 and 52 bits; one product, the most products, the largest operands.
  const uint64_t q60 = 1152921504606830593ULL;
  const uint64_t q52 = 4503599627366401ULL;
  const std::vector<Case> cases = {{1, 1024, q60, false},  {18, 2048, q52, false},
                                   {63, 1024, q60, false}, {63, 1024, q60, true},
                                   {7, 264, q52, false},   {0, 1024, q60, false}};
  for (const Case& c : cases) {
    const seal::Modulus modulus(c.q);
    Inputs in = makeInputs(c.count, c.degree, c.q, c.extreme, static_cast<unsigned>(c.count));
    for (bool permuted : {false, true}) {
      const std::string label = std::to_string(c.count) + " products, degree " +
                                std::to_string(c.degree) + (c.extreme ? ", extreme" : "") +
                                (permuted ? ", permuted" : "");
      const uint32_t* p = permuted ? in.permutation.data() : nullptr;
      auto expected0 = direct(in, in.factors0, permuted, modulus);
      auto expected1 = direct(in, in.factors1, permuted, modulus);
      std::vector<uint64_t> out0(c.degree, 1);
      std::vector<uint64_t> out1(c.degree, 1);
      SealProductSum::multiplyAccumulatePortable(in.valuePointers.data(),
                                                 in.factor0Pointers.data(),
                                                 in.factor1Pointers.data(), c.count, p,
                                                 c.degree, modulus, out0.data(), out1.data());
      EXPECT_EQ(out0, expected0) << label;
      EXPECT_EQ(out1, expected1) << label;
      std::fill(out0.begin(), out0.end(), 1);
      std::fill(out1.begin(), out1.end(), 1);
      SealProductSum::multiplyAccumulate(in.valuePointers.data(), in.factor0Pointers.data(),
                                         in.factor1Pointers.data(), c.count, p, c.degree,
                                         modulus, out0.data(), out1.data());
      EXPECT_EQ(out0, expected0) << label;
      EXPECT_EQ(out1, expected1) << label;
      if (!SealProductSum::hasVectorVersion() || c.degree % 8 != 0)
        continue;
      std::fill(out0.begin(), out0.end(), 1);
      std::fill(out1.begin(), out1.end(), 1);
      SealProductSum::multiplyAccumulateVector(in.valuePointers.data(),
                                               in.factor0Pointers.data(),
                                               in.factor1Pointers.data(), c.count, p, c.degree,
                                               modulus, out0.data(), out1.data());
      EXPECT_EQ(out0, expected0) << label;
      EXPECT_EQ(out1, expected1) << label;
    }
  }
}

TEST(SealProductSum, RefusesMoreThan63Products)
{
  const seal::Modulus modulus(4503599627366401ULL);
  Inputs in = makeInputs(64, 8, modulus.value(), false, 3);
  std::vector<uint64_t> out0(8);
  std::vector<uint64_t> out1(8);
  for (auto version : {&SealProductSum::multiplyAccumulate,
                       &SealProductSum::multiplyAccumulatePortable}) {
    try {
      version(in.valuePointers.data(), in.factor0Pointers.data(), in.factor1Pointers.data(), 64,
              nullptr, 8, modulus, out0.data(), out1.data());
      ADD_FAILURE() << "accepted 64 products";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "more than 63 products in one sum");
    }
  }
}
