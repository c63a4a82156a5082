#include "math/bootstrap/seal/BabyGiantProduct.h"

#include <cmath>
#include <deque>
#include <memory>
#include <stdexcept>

#include <seal/context.h>
#include <seal/util/galois.h>
#include <seal/util/iterator.h>

#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/seal/SealHoistedRotator.h"
#include "math/bootstrap/seal/TileRotations.h"

namespace quorvane {

namespace {

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

  // The baby rotations; siblings share their parent's decomposition.
  std::vector<std::unique_ptr<CTile>> babies(babyCount);
  auto babyOf = [&](int b) -> const CTile& { return b == 0 ? x : *babies[b + half]; };
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
  fromParent.reset();

  // The partial sum of each giant index.
  const int giants = maxGiant - minGiant + 1;
  std::vector<CTile> sums(giants, CTile(he));
  PTile rotated(he);
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

  // Horner chains from the outermost giant index towards 0, each link one
  // rotation by +-u B.
  auto chain = [&](int from, int direction) {
    CTile acc(he);
    for (int k = from; k != 0; k -= direction) {
      if (!acc.isEmpty())
        rotateInPlace(acc, direction * unit * babyCount);
      const CTile& sum = sums[k - minGiant];
      if (sum.isEmpty())
        continue;
      if (acc.isEmpty())
        acc = sum;
      else
        acc.add(sum);
    }
    if (!acc.isEmpty())
      rotateInPlace(acc, direction * unit * babyCount);
    return acc;
  };
  CTile res = std::move(sums[-minGiant]);
  for (CTile part : {chain(maxGiant, 1), chain(minGiant, -1)}) {
    if (part.isEmpty())
      continue;
    if (res.isEmpty())
      res = std::move(part);
    else
      res.add(part);
  }
  return res;
}

} // namespace quorvane
