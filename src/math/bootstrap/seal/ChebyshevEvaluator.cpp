#include "math/bootstrap/seal/ChebyshevEvaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "math/bootstrap/seal/BootstrapCore.h"

namespace quorvane {

namespace {

// Coefficients of at most this magnitude (and NaN) cost no product.
constexpr double NEGLIGIBLE = 1e-15;

bool isNegligible(double c) { return !(std::abs(c) > NEGLIGIBLE); }

bool isPowerOfTwo(int i) { return i > 0 && (i & (i - 1)) == 0; }

// The baby step k and the giant levels m for a polynomial of degree d.
std::pair<int, int> stepsForDegree(int d)
{
  int k = d < 2 ? 1 : static_cast<int>(std::lround(std::sqrt(static_cast<double>(d / 2))));
  int m = static_cast<int>(std::ceil(std::log2(static_cast<double>(d) / k + 1)));
  return {k, m};
}

} // namespace

ChebyshevEvaluator::ChebyshevEvaluator(const HeContext& he, const BootstrapCore& core)
    : he(&he), core(&core)
{
}

CTile ChebyshevEvaluator::twiceProduct(const CTile& a, const CTile& b) const
{
  CTile res(a);
  res.multiplyPlainRaw(core->encodeConstant(2, res.getChainIndex(), 1.0));
  res.multiply(b);
  return res;
}

int ChebyshevEvaluator::precompute(int count, const CTile& x)
{
  if (count < 1)
    throw std::invalid_argument("precompute needs at least one coefficient, got " +
                                std::to_string(count));
  int d = count - 1;
  chainIndex = x.getChainIndex();
  scale = x.getScale();
  auto [k, levels] = stepsForDegree(d);

  CTile t0(*he);
  Encoder(*he).encrypt(t0, core->encodeConstant(1, chainIndex, scale));

  babySteps.clear();
  giantSteps.clear();
  oddSteps.clear();
  babySteps.push_back(t0);
  babySteps.push_back(x);
  int b = 1;
  for (int i = 2; i <= k; ++i) {
    CTile ti = twiceProduct(babySteps[b], babySteps[i - b]);
    if (i == 2 * b)
      ti.subPlain(core->encodeConstant(1, ti.getChainIndex(), ti.getScale()));
    else
      ti.sub(babySteps[2 * b - i]);
    babySteps.push_back(std::move(ti));
    if (isPowerOfTwo(i))
      b *= 2;
  }

  CTile c = babySteps[k];
  giantSteps.push_back(c);
  oddSteps.push_back(babySteps[0]);
  CTile s = babySteps[0];
  for (int i = 0; i < levels; ++i) {
    if (i == 0) {
      s = babySteps[k];
      s.setChainIndex(s.getChainIndex() - 1);
    } else {
      s = twiceProduct(s, c);
      s.sub(giantSteps[0]);
    }
    oddSteps.push_back(s);
    c = twiceProduct(c, c);
    c.subPlainRaw(core->encodeConstant(1, c.getChainIndex(), c.getScale()));
    giantSteps.push_back(c);
  }

  babyStep = k;
  giantLevels = levels;
  numCoefficients = count;
  return levels;
}

CTile ChebyshevEvaluator::evaluate(const Polynomial& coeffs) const
{
  if (static_cast<int>(coeffs.size()) != numCoefficients)
    throw std::runtime_error(
        "number of coefficients is different from the value declared in precompute method.");
  return sp1(coeffs, giantLevels);
}

CTile ChebyshevEvaluator::sp1(const Polynomial& p, int levels) const
{
  if (p.size() == 1)
    throw std::runtime_error("unexpected call to sp1 with a constant polynomial. Need to call "
                             "sp1_deg0 instead in this case.");
  // The giant steps of precompute bound the levels.
  if (levels < 1 || levels > giantLevels)
    throw std::invalid_argument("sp1 needs a level count from 1 to " +
                                std::to_string(giantLevels) + " (the levels of precompute), got " +
                                std::to_string(levels));
  const int k = babyStep;
  const int half = (1 << (levels - 1)) * k;
  const int top = ((1 << levels) - 1) * k;
  Polynomial shifted = addToCoefficient(p, top, 1.0);
  Polynomial divisor(half + 1, 0.0);
  divisor[half] = 1.0;
  auto [q, r] = chebyshevDivide(shifted, divisor);
  Polynomial lowered = addToCoefficient(r, half - k, -1.0);
  auto [c, s] = chebyshevDivide(lowered, q);
  Polynomial sPlus = addToCoefficient(s, half - k, 1.0);

  CTile acc(*he);
  PTile constant(*he);
  bool pending = false;
  evaluateLowDegree(c, levels, acc, constant, pending);

  CTile t = giantSteps[levels - 1];
  if (!acc.isEmpty())
    t.add(acc);
  else if (pending)
    t.addPlain(constant);

  if (levels == 1) {
    t.multiplyPlain(sp1_deg0(q, t.getChainIndex(), t.getScale()));
    t.addPlain(sp1_deg0(sPlus, t.getChainIndex(), t.getScale()));
  } else {
    t.multiply(sp1(q, levels - 1));
    t.add(sp1(sPlus, levels - 1));
  }
  t.sub(oddSteps[levels]);
  return t;
}

PTile ChebyshevEvaluator::sp1_deg0(const Polynomial& p, int chainIndex, double scale) const
{
  if (p.size() != 1)
    throw std::runtime_error(
        "sp1_deg0 can only be called with a polynomial of degree 0, and got degree = " +
        std::to_string(static_cast<int64_t>(p.size()) - 1));
  std::vector<double> values(he->slotCount(), p[0]);
  Encoder encoder(*he);
  encoder.setDefaultScale(scale);
  PTile res(*he);
  encoder.encode(res, values, chainIndex);
  return res;
}

void ChebyshevEvaluator::evaluateLowDegree(const Polynomial& c, int levels, CTile& acc,
                                           PTile& constant, bool& pending) const
{
  for (size_t j = 0; j < c.size(); ++j) {
    if (isNegligible(c[j]))
      continue;
    if (j == 0) {
      if (acc.isEmpty()) {
        const CTile& g = giantSteps[levels - 1];
        constant = core->encodeConstant(c[0], g.getChainIndex(), g.getScale());
        pending = true;
      } else {
        acc.addPlain(core->encodeConstant(c[0], acc.getChainIndex(), acc.getScale()));
      }
      continue;
    }
    const CTile& tj = babySteps.at(j);
    CTile u(tj);
    u.multiplyPlain(core->encodeConstant(c[j], tj.getChainIndex(), tj.getScale()));
    if (!acc.isEmpty()) {
      acc.add(u);
    } else {
      acc = std::move(u);
      if (pending) {
        acc.addPlain(constant);
        pending = false;
      }
    }
  }
}

ChebyshevEvaluator::Polynomial ChebyshevEvaluator::addToCoefficient(const Polynomial& p,
                                                                    int index, double value)
{
  Polynomial res = p;
  if (index < static_cast<int>(res.size())) {
    res[index] += value;
  } else {
    res.resize(index, 0.0);
    res.push_back(value);
  }
  return res;
}

std::pair<ChebyshevEvaluator::Polynomial, ChebyshevEvaluator::Polynomial>
ChebyshevEvaluator::chebyshevDivide(const Polynomial& dividend, const Polynomial& divisor)
{
  const size_t lenD = divisor.size();
  Polynomial quotient(dividend.size() >= lenD ? dividend.size() - lenD + 1 : 0, 0.0);
  Polynomial rem = dividend;
  while (rem.size() >= lenD) {
    const size_t e = rem.size() - lenD;
    double lead = rem.back();
    double x = (lenD == 1 || e == 0) ? lead : 2 * lead;
    x /= divisor.back();
    quotient[e] = x;
    // T_e T_j = (T_(e+j) + T_|e-j|) / 2.
    for (size_t j = 0; j < lenD; ++j) {
      rem[e + j] -= x * divisor[j] / 2;
      rem[e > j ? e - j : j - e] -= x * divisor[j] / 2;
    }
    rem.pop_back();
  }
  return {quotient, rem};
}

namespace {

// The chain indexes the steps of precompute and evaluate consume below x,
// following their control flow with depths in place of ciphertexts.
class DepthModel
{
public:
  explicit DepthModel(int count)
  {
    auto [kk, levels] = stepsForDegree(count - 1);
    k = kk;
    baby.assign(k + 1, 0);
    int b = 1;
    for (int i = 2; i <= k; ++i) {
      baby[i] = std::max(baby[b], baby[i - b]) + 1;
      if (i != 2 * b)
        baby[i] = std::max(baby[i], baby[2 * b - i]);
      if (isPowerOfTwo(i))
        b *= 2;
    }
    giant = {baby[k]};
    odd = {0};
    int s = 0;
    for (int i = 0; i < levels; ++i) {
      s = i == 0 ? baby[k] + 1 : std::max(std::max(s, giant[i]) + 1, giant[0]);
      odd.push_back(s);
      giant.push_back(giant[i] + 1);
    }
    m = levels;
  }

  // The depth of sp1's result; -1 stands for an empty accumulator.
  int sp1(const ChebyshevEvaluator::Polynomial& p, int levels) const
  {
    const int half = (1 << (levels - 1)) * k;
    const int top = ((1 << levels) - 1) * k;
    auto shifted = ChebyshevEvaluator::addToCoefficient(p, top, 1.0);
    ChebyshevEvaluator::Polynomial divisor(half + 1, 0.0);
    divisor[half] = 1.0;
    auto [q, r] = ChebyshevEvaluator::chebyshevDivide(shifted, divisor);
    auto lowered = ChebyshevEvaluator::addToCoefficient(r, half - k, -1.0);
    auto [c, s] = ChebyshevEvaluator::chebyshevDivide(lowered, q);
    auto sPlus = ChebyshevEvaluator::addToCoefficient(s, half - k, 1.0);
    int acc = -1;
    for (size_t j = 1; j < c.size(); ++j)
      if (!isNegligible(c[j]))
        acc = std::max(acc, baby[j] + 1);
    int t = std::max(giant[levels - 1], acc);
    if (levels == 1)
      t += 1;
    else
      t = std::max(std::max(t, sp1(q, levels - 1)) + 1, sp1(sPlus, levels - 1));
    return std::max(t, odd[levels]);
  }

  int k;
  int m;
  std::vector<int> baby;
  std::vector<int> giant;
  std::vector<int> odd;
};

} // namespace

int ChebyshevEvaluator::getNumLevels(const Polynomial& coeffs)
{
  if (coeffs.size() < 2)
    return 0;
  DepthModel model(static_cast<int>(coeffs.size()));
  return model.sp1(coeffs, model.m);
}

} // namespace quorvane
