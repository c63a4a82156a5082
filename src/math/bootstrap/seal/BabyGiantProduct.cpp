#include "math/bootstrap/seal/BabyGiantProduct.h"

#include <cmath>
#include <deque>
#include <memory>
#include <stdexcept>

#include <seal/context.h>
#include <seal/memorymanager.h>
#include <seal/util/galois.h>
#include <seal/util/iterator.h>
#include <seal/util/uintarithsmallmod.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/seal/SealHoistedRotator.h"
#include "hebase/seal/SealProductSum.h"
#include "hebase/utils/SectionTimer.h"
#include "math/bootstrap/seal/TileRotations.h"

namespace quorvane {

namespace {

const std::string PRODUCTS_TIMER = "SEAL::diagonalProducts";

// Floor division by a positive divisor.
int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// p becomes source with its slots rotated left by step: the Galois
// automorphism permutes the values of each residue polynomial in NTT form.
void rotatePlain(const PTile& source, int step, int numSlots, PTile& p)
{
  const auto* from = dynamic_cast<const SealCkksPlaintext*>(&source.getImpl());
  if (from == nullptr)
    throw std::logic_error("a diagonal that is not a SEAL plaintext");
  p = source;
  step = ((step % numSlots) + numSlots) % numSlots;
  if (step == 0)
    return;
  const seal::Plaintext& in = from->getSealPlaintext();
  seal::Plaintext& out = dynamic_cast<SealCkksPlaintext&>(p.getImpl()).getSealPlaintext();
  const auto& context = from->getSealCkksContext().getSealContext();
  const seal::util::GaloisTool* tool = context.key_context_data()->galois_tool();
  const uint32_t element = tool->get_elt_from_step(step);
  const std::size_t degree = context.key_context_data()->parms().poly_modulus_degree();
  for (std::size_t offset = 0; offset + degree <= in.coeff_count(); offset += degree)
    tool->apply_galois_ntt(seal::util::ConstCoeffIter(in.data() + offset), element,
                           seal::util::CoeffIter(out.data() + offset));
}

// The permutation of values in NTT form that rotates the slots left by step.
std::vector<uint32_t> slotPermutation(const SealCkksContext& he, int step)
{
  auto keyData = he.getSealContext().key_context_data();
  const std::size_t degree = keyData->parms().poly_modulus_degree();
  std::vector<uint64_t> identity(degree);
  std::vector<uint64_t> image(degree);
  for (std::size_t n = 0; n < degree; ++n)
    identity[n] = n;
  if (step != 0) {
    const uint32_t element = keyData->galois_tool()->get_elt_from_step(step);
    keyData->galois_tool()->apply_galois_ntt(seal::util::ConstCoeffIter(identity.data()),
                                             element, seal::util::CoeffIter(image.data()));
  } else {
    image = identity;
  }
  return std::vector<uint32_t>(image.begin(), image.end());
}

// Whether the products of x by the diagonals can be formed here exactly as
// CTile::multiplyPlainRaw would: SEAL operands of one context at x's level,
// one scale for all, and no automatic bootstrap due before the products.
bool fusable(const CTile& x, const std::map<int, PTile>& diagonals)
{
  const HeContext& he = x.getHeContext();
  if (he.getAutomaticBootstrapping() && x.getChainIndex() == he.getMinChainIndexForBootstrapping())
    return false;
  const auto& seal = dynamic_cast<const SealCkksCiphertext&>(x.getImpl());
  if (seal.getSealCiphertext().size() != 2 || !seal.getSealCiphertext().is_ntt_form())
    return false;
  const double scale = diagonals.begin()->second.getScale();
  for (const auto& [r, p] : diagonals) {
    const auto* plain = dynamic_cast<const SealCkksPlaintext*>(&p.getImpl());
    if (plain == nullptr || &plain->getSealCkksContext() != &seal.getSealCkksContext() ||
        plain->getSealPlaintext().scale() != scale ||
        !seal.certainlyAccepts(&AbstractCiphertext::multiplyPlainRaw, *plain))
      return false;
  }
  return true;
}

// Rotates c left by step.
void rotateInPlace(CTile& c, int step)
{
  CTile source(std::move(c));
  TileRotations rotations(source);
  c = rotations.rotate(step);
}

} // namespace

BabyGiantProduct::BabyGiantProduct(const std::vector<int>& amounts, int numSlots)
    : numSlots(numSlots), unit(numSlots), babyCount(1), amounts(amounts), minGiant(0),
      maxGiant(0)
{
  for (int r : amounts)
    while (unit > 1 && r % unit != 0)
      unit /= 2;
  const int period = numSlots / unit;
  std::vector<int> centred;
  int lowest = 0;
  int highest = 0;
  for (int r : amounts) {
    int t = r / unit;
    if (2 * t > period)
      t -= period;
    centred.push_back(t);
    lowest = std::min(lowest, t);
    highest = std::max(highest, t);
  }
  while (babyCount * babyCount < highest - lowest + 1)
    babyCount *= 2;
  const int half = babyCount / 2;
  std::vector<bool> needed(babyCount, false);
  for (int t : centred) {
    int k = babyCount == 1 ? t : floorDiv(t + half, babyCount);
    int b = t - babyCount * k;
    giant.push_back(k);
    baby.push_back(b);
    needed[b + half] = true;
    minGiant = std::min(minGiant, k);
    maxGiant = std::max(maxGiant, k);
  }
  // Breadth-first tree over the offsets [-B/2, B/2) by signed powers of two,
  // siblings in a row; then only the needed offsets and their ancestors.
  std::vector<int> parentOf(babyCount, babyCount);
  std::vector<int> stepOf(babyCount, 0);
  std::vector<int> order;
  std::deque<int> queue{0};
  parentOf[half] = 0;
  while (!queue.empty()) {
    int v = queue.front();
    queue.pop_front();
    for (int s = 1; s < babyCount; s *= 2) {
      for (int w : {v + s, v - s}) {
        if (w < -half || w >= half || parentOf[w + half] != babyCount)
          continue;
        parentOf[w + half] = v;
        stepOf[w + half] = w - v;
        order.push_back(w);
        queue.push_back(w);
      }
    }
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (needed[*it + half])
      needed[parentOf[*it + half] + half] = true;
  for (int w : order) {
    if (!needed[w + half])
      continue;
    babyOrder.push_back(w);
    babyParent.push_back(parentOf[w + half]);
    babyStep.push_back(stepOf[w + half]);
  }
}

bool BabyGiantProduct::appliesTo(const CTile& x) const
{
  const int rotations = static_cast<int>(babyOrder.size()) + maxGiant - minGiant;
  if (rotations + 4 > static_cast<int>(amounts.size()))
    return false;
  const auto* seal = dynamic_cast<const SealCkksCiphertext*>(&x.getImpl());
  if (seal == nullptr || seal->slotCount() != numSlots)
    return false;
  for (int s : babyStep)
    if (!SealHoistedRotator::canRotate(*seal, unit * s))
      return false;
  const int giantStep = unit * babyCount;
  return (maxGiant == 0 || SealHoistedRotator::canRotate(*seal, giantStep)) &&
         (minGiant == 0 || SealHoistedRotator::canRotate(*seal, -giantStep));
}

CTile BabyGiantProduct::multiply(const CTile& x, const std::map<int, PTile>& diagonals) const
{
  const HeContext& he = x.getHeContext();
  const int half = babyCount / 2;

  // The baby rotations; siblings share their parent's decomposition. They
  // stand where the layer's rotations stand in the timer tree.
  std::vector<std::unique_ptr<CTile>> babies(babyCount);
  auto babyOf = [&](int b) -> const CTile& { return b == 0 ? x : *babies[b + half]; };
  {
    SectionTimer timer("getAllRotationsOf");
    std::unique_ptr<TileRotations> fromParent;
    int currentParent = babyCount;
    for (std::size_t i = 0; i < babyOrder.size(); ++i) {
      if (babyParent[i] != currentParent || !fromParent) {
        currentParent = babyParent[i];
        fromParent = std::make_unique<TileRotations>(babyOf(currentParent));
      }
      babies[babyOrder[i] + half] =
          std::make_unique<CTile>(fromParent->rotate(unit * babyStep[i]));
    }
  }

  // The partial sum of each giant index.
  const int giants = maxGiant - minGiant + 1;
  std::vector<CTile> sums(giants, CTile(he));
  if (fusable(x, diagonals))
    fusedSums(x, babies, diagonals, sums);
  else
    unfusedSums(x, babies, diagonals, sums);
  babies.clear();

  // Horner chains from the outermost giant index towards 0, each link one
  // rotation by +-u B.
  auto chain = [&](int from, int direction) {
    CTile acc(he);
    for (int k = from; k != 0; k -= direction) {
      if (!acc.isEmpty())
        rotateInPlace(acc, direction * unit * babyCount);
      CTile& sum = sums[k - minGiant];
      if (sum.isEmpty())
        continue;
      if (acc.isEmpty())
        acc = std::move(sum);
      else
        acc.add(sum);
    }
    if (!acc.isEmpty())
      rotateInPlace(acc, direction * unit * babyCount);
    return acc;
  };
  CTile res = std::move(sums[-minGiant]);
  CTile parts[2] = {chain(maxGiant, 1), chain(minGiant, -1)};
  for (CTile& part : parts) {
    if (part.isEmpty())
      continue;
    if (res.isEmpty())
      res = std::move(part);
    else
      res.add(part);
  }
  return res;
}

void BabyGiantProduct::unfusedSums(const CTile& x,
                                   const std::vector<std::unique_ptr<CTile>>& babies,
                                   const std::map<int, PTile>& diagonals,
                                   std::vector<CTile>& sums) const
{
  const int half = babyCount / 2;
  auto babyOf = [&](int b) -> const CTile& { return b == 0 ? x : *babies[b + half]; };
  PTile rotated(x.getHeContext());
  for (std::size_t i = 0; i < amounts.size(); ++i) {
    const int k = giant[i];
    rotatePlain(diagonals.at(amounts[i]), -unit * babyCount * k, numSlots, rotated);
    CTile t(babyOf(baby[i]));
    t.multiplyPlainRaw(rotated);
    CTile& sum = sums[k - minGiant];
    if (sum.isEmpty())
      sum = std::move(t);
    else
      sum.add(t);
  }
}

void BabyGiantProduct::fusedSums(const CTile& x,
                                 const std::vector<std::unique_ptr<CTile>>& babies,
                                 const std::map<int, PTile>& diagonals,
                                 std::vector<CTile>& sums) const
{
  LeafTimer timer(PRODUCTS_TIMER);
  const int half = babyCount / 2;
  const auto& source = dynamic_cast<const SealCkksCiphertext&>(x.getImpl());
  const SealCkksContext& he = source.getSealCkksContext();
  const seal::Ciphertext& c = source.getSealCiphertext();
  auto contextData = he.getSealContext().get_context_data(c.parms_id());
  const auto& moduli = contextData->parms().coeff_modulus();
  const std::size_t degree = c.poly_modulus_degree();
  const std::size_t levelSize = c.coeff_modulus_size();
  auto babyOf = [&](int b) -> const seal::Ciphertext& {
    const CTile& t = b == 0 ? x : *babies[b + half];
    return dynamic_cast<const SealCkksCiphertext&>(t.getImpl()).getSealCiphertext();
  };
  // The amounts of each giant index.
  std::vector<std::vector<std::size_t>> members(maxGiant - minGiant + 1);
  for (std::size_t i = 0; i < amounts.size(); ++i)
    members[giant[i] - minGiant].push_back(i);
  auto pool = seal::MemoryManager::GetPool();
  auto partial = seal::util::allocate<uint64_t>(2 * degree, pool);
  std::vector<const uint64_t*> values;
  std::vector<const uint64_t*> factors0;
  std::vector<const uint64_t*> factors1;
  for (int k = minGiant; k <= maxGiant; ++k) {
    const auto& terms = members[k - minGiant];
    if (terms.empty())
      continue;
    const int step = ((-unit * babyCount * k) % numSlots + numSlots) % numSlots;
    const std::vector<uint32_t> permutation = slotPermutation(he, step);
    seal::Ciphertext sum(c);
    for (std::size_t l = 0; l < levelSize; ++l) {
      const seal::Modulus& modulus = moduli[l];
      uint64_t* out0 = sum.data(0) + l * degree;
      uint64_t* out1 = sum.data(1) + l * degree;
      // At most 63 products per reduced sum; the sums are then added modulo q.
      for (std::size_t first = 0; first < terms.size(); first += SealProductSum::MAX_COUNT) {
        const std::size_t last = std::min(terms.size(), first + SealProductSum::MAX_COUNT);
        values.clear();
        factors0.clear();
        factors1.clear();
        for (std::size_t t = first; t < last; ++t) {
          const std::size_t i = terms[t];
          const auto& plain =
              dynamic_cast<const SealCkksPlaintext&>(diagonals.at(amounts[i]).getImpl());
          const seal::Ciphertext& b = babyOf(baby[i]);
          values.push_back(plain.getSealPlaintext().data() + l * degree);
          factors0.push_back(b.data(0) + l * degree);
          factors1.push_back(b.data(1) + l * degree);
        }
        uint64_t* target0 = first == 0 ? out0 : partial.get();
        uint64_t* target1 = first == 0 ? out1 : partial.get() + degree;
        SealProductSum::multiplyAccumulate(values.data(), factors0.data(), factors1.data(),
                                           values.size(), permutation.data(), degree, modulus,
                                           target0, target1);
        if (first == 0)
          continue;
        for (std::size_t n = 0; n < degree; ++n) {
          out0[n] = seal::util::add_uint_mod(out0[n], target0[n], modulus);
          out1[n] = seal::util::add_uint_mod(out1[n], target1[n], modulus);
        }
      }
    }
    sum.scale() = c.scale() * diagonals.at(amounts[terms[0]]).getScale();
    CTile t(x.getHeContext());
    dynamic_cast<SealCkksCiphertext&>(t.getImpl()).getSealCiphertext() = std::move(sum);
    sums[k - minGiant] = std::move(t);
  }
}

} // namespace quorvane
