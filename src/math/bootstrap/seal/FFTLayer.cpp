#include "math/bootstrap/seal/FFTLayer.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/BabyGiantProduct.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/TileRotations.h"

namespace quorvane {

FFTLayer::FFTLayer(const BootstrapCore& core)
    : core(&core), numSlots(core.getNumSlots()), verbose(core.getConfig().verbose)
{
}

FFTLayer::Diagonal& FFTLayer::getDiagonal(int rotation)
{
  int key = MathUtils::mod(rotation, numSlots);
  auto it = diagonals.find(key);
  if (it == diagonals.end())
    it = diagonals.emplace(key, Diagonal(numSlots)).first;
  return it->second;
}

void FFTLayer::composeInto(const FFTLayer& next, FFTLayer& out) const
{
  out.diagonals.clear();
  for (const auto& [a, first] : diagonals) {
    for (const auto& [b, second] : next.diagonals) {
      Diagonal& d = out.getDiagonal(a + b);
      for (int k = 0; k < numSlots; ++k)
        d[k] += first[(k + b) % numSlots] * second[k];
    }
  }
}

void FFTLayer::encode(int chainIndex, double scale)
{
  Encoder encoder(core->getHeContext());
  encoder.setDefaultScale(scale);
  encodedDiagonals.clear();
  for (const auto& [r, d] : diagonals) {
    PTile p(core->getHeContext());
    encoder.encode(p, d, chainIndex);
    encodedDiagonals.emplace(r, std::move(p));
  }
}

void FFTLayer::processCiphertextByLayer(CTile& x) const
{
  SectionTimer timer("processCiphertextByLayer");
  // Verbose runs keep one rotation per diagonal, whose progress they print.
  if (babyGiant && verbose <= 0 && babyGiant->appliesTo(x)) {
    x = babyGiant->multiply(x, encodedDiagonals);
    return;
  }
  std::vector<std::shared_ptr<CTile>> rotations(numSlots);
  getAllRotationsOf(x, rotations);
  CTile acc(core->getHeContext());
  // The rotations (rotation 0 being a copy of x) are no longer needed: each
  // is multiplied in place.
  for (const auto& [r, p] : encodedDiagonals) {
    CTile& t = *rotations[r];
    t.multiplyPlainRaw(p);
    if (acc.isEmpty())
      acc = std::move(t);
    else
      acc.add(t);
  }
  if (acc.isEmpty())
    throw std::runtime_error("empty layer");
  x = std::move(acc);
}

void FFTLayer::save(std::ostream& out) const
{
  BinIoUtils::writeInt32Size(out, encodedDiagonals.size(), "FFT layer diagonals");
  for (const auto& [r, p] : encodedDiagonals) {
    BinIoUtils::writeInt32(out, r);
    p.save(out);
  }
}

void FFTLayer::load(std::istream& in)
{
  std::map<int, PTile> loaded;
  int32_t count = BinIoUtils::readInt32(in);
  if (count > numSlots)
    throw std::runtime_error("FFT layer with " + std::to_string(count) +
                             " diagonals, more than the " + std::to_string(numSlots) + " slots");
  for (int32_t i = 0; i < count; ++i) {
    int32_t r = BinIoUtils::readInt32(in);
    PTile p(core->getHeContext());
    p.load(in);
    loaded.emplace(r, std::move(p));
  }
  encodedDiagonals = std::move(loaded);
}

void FFTLayer::createRotationDependencyMap()
{
  SectionTimer timer("createRotationDependencyMap");
  if (verbose > 0)
    std::cout << "creating dependency DAG" << std::endl;
  if (!parent.empty())
    return;
  std::map<int, int> newParent;
  std::map<int, int> newStep;
  std::map<int, int> newLevel;
  for (const auto& entry : encodedDiagonals) {
    int r = entry.first;
    if (r < 0)
      throw std::runtime_error("expecting positive rotations and got " + std::to_string(r));
    newParent.emplace(r, -1);
    newStep.emplace(r, -1);
    newLevel.emplace(r, -1);
  }
  newParent[0] = 0;
  newStep[0] = 0;
  newLevel[0] = 0;
  // The amount 0 counts as a node even when it is not a key of the layer.
  const int total = static_cast<int>(newParent.size());
  int reached = 1;
  int previous = 1;
  int depth = 0;
  // Records (l, s, depth + 1) for w when it is unreached, or reached at the
  // same depth by a larger step.
  auto tryReach = [&](int l, int s, int w) {
    auto it = newParent.find(w);
    if (it == newParent.end())
      return;
    if (it->second == -1) {
      ++reached;
    } else if (!(std::abs(s) < std::abs(newStep[w]) && newLevel[w] == depth + 1)) {
      return;
    }
    it->second = l;
    newStep[w] = s;
    newLevel[w] = depth + 1;
  };
  while (total > 1 && reached < total) {
    for (const auto& [l, unused] : newParent) {
      (void)unused;
      if (newLevel[l] != depth)
        continue;
      for (int s = 1; s < numSlots; s *= 2) {
        if (reached == total)
          break;
        tryReach(l, s, (l + s) % numSlots);
        tryReach(l, -s, MathUtils::mod(l - s, numSlots));
      }
    }
    if (reached == previous) {
      if (reached < total) {
        std::cout << total - reached << " unreachable rotations in layer out of " << total
                  << std::endl;
        throw std::runtime_error("unreachable rotations");
      }
      break;
    }
    ++depth;
    previous = reached;
  }
  if (!encodedDiagonals.empty()) {
    std::vector<int> amounts;
    for (const auto& entry : encodedDiagonals)
      amounts.push_back(entry.first);
    babyGiant = std::make_shared<const BabyGiantProduct>(amounts, numSlots);
  }
  parent = std::move(newParent);
  step = std::move(newStep);
  level = std::move(newLevel);
  if (verbose > 0)
    std::cout << "done creating dependency DAG" << std::endl;
}

void FFTLayer::getAllRotationsOf(const CTile& x,
                                 std::vector<std::shared_ptr<CTile>>& rotations) const
{
  SectionTimer timer("getAllRotationsOf");
  if (verbose > 0)
    std::cout << "getAllRotationsOf:" << std::endl;
  if (parent.empty() && !encodedDiagonals.empty())
    throw std::runtime_error("The rotation dependency map of the FFT layer has not been created");
  if (static_cast<int>(rotations.size()) != numSlots)
    throw std::invalid_argument("getAllRotationsOf needs " + std::to_string(numSlots) +
                                " ciphertexts to fill, got " + std::to_string(rotations.size()));
  std::deque<int> queue;
  int remaining = static_cast<int>(parent.size());
  queue.push_back(0);
  if (verbose > 0)
    std::cout << "max number of threads = " << 1 << std::endl;
  computeRotations(x, rotations, queue, remaining);
  if (verbose > 0)
    std::cout << "done creating rotations" << std::endl;
}

void FFTLayer::computeRotations(const CTile& x, std::vector<std::shared_ptr<CTile>>& rotations,
                                std::deque<int>& queue, int& remaining) const
{
  // Siblings follow one another in the queue: they share their parent's
  // rotation decomposition.
  std::unique_ptr<TileRotations> fromParent;
  int currentParent = -1;
  while (true) {
    int left = remaining;
    int c = -1;
    if (!queue.empty()) {
      c = queue.front();
      queue.pop_front();
    }
    if (left == 0)
      return;
    if (c == -1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    int p = parent.at(c);
    if (p != currentParent || !fromParent) {
      fromParent = std::make_unique<TileRotations>(p != 0 ? *rotations[p] : x);
      currentParent = p;
    }
    rotations[c] = std::make_shared<CTile>(fromParent->rotate(p != 0 ? step.at(c) : c));
    for (const auto& [a, q] : parent)
      if (q == c && a != c)
        queue.push_back(a);
    --remaining;
    if (verbose > 0 && remaining % 256 == 0)
      std::cout << remaining << " " << std::flush;
  }
}

} // namespace quorvane
