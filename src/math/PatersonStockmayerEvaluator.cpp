#include "math/PatersonStockmayerEvaluator.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "hebase/HeContext.h"
#include "math/MathUtils.h"

namespace quorvane {

namespace {

const double ZERO_THRESHOLD = 1e-10;

[[noreturn]] void refuseZeroPolynomial(double threshold)
{
  std::ostringstream message;
  message.precision(10);
  message << "Can't evaluate a zero polynomial (all coefficients are smaller than " << threshold
          << ") to a CTile: the result will be a clear-text zero";
  throw std::runtime_error(message.str());
}

} // namespace

PatersonStockmayerEvaluator::PatersonStockmayerEvaluator(const HeContext& he)
    : he(&he), encoder(he)
{
}

CTile PatersonStockmayerEvaluator::evaluate(const CTile& x, const std::vector<double>& coefs)
{
  if (coefs.size() <= 2)
    return evaluateLowDegree(x, coefs);
  int n = static_cast<int>(coefs.size()) - 1;
  int m = precomputePowers(x, n);
  return evaluateRecursive(x, coefs, m);
}

CTile PatersonStockmayerEvaluator::evaluateLowDegree(const CTile& x,
                                                     const std::vector<double>& coefs) const
{
  bool significant = false;
  for (double c : coefs)
    significant = significant || std::abs(c) > ZERO_THRESHOLD;
  if (!significant)
    refuseZeroPolynomial(ZERO_THRESHOLD);
  if (coefs.size() == 2 && std::abs(coefs[1]) > ZERO_THRESHOLD) {
    CTile res(x);
    res.multiplyScalar(coefs[1]);
    res.addScalar(coefs[0]);
    return res;
  }
  CTile res(*he);
  encoder.encodeEncrypt(res, std::vector<double>(he->slotCount(), coefs[0]), x.getChainIndex());
  return res;
}

int PatersonStockmayerEvaluator::precomputePowers(const CTile& x, int n)
{
  k = static_cast<int32_t>(std::round(std::sqrt(static_cast<double>(n / 2))));
  int m = static_cast<int>(std::ceil(std::log2(static_cast<double>(n) / k + 1)));
  if (static_cast<int64_t>(k) * ((int64_t(1) << m) - 1) < n)
    throw std::runtime_error("was expecting that k(2^m - 1) >= n");

  babySteps.clear();
  babySteps.push_back(CTile(*he));
  babySteps.push_back(x);
  int idx = 1;
  for (int i = 2; i <= k; ++i) {
    babySteps.push_back(babySteps[idx].getMultiply(babySteps[i - idx]));
    if (MathUtils::isPowerOf2(i))
      idx *= 2;
  }

  CTile s(babySteps[k]);
  giantSteps.clear();
  oddGiantSteps.clear();
  giantSteps.push_back(s);
  oddGiantSteps.push_back(CTile(*he));
  CTile t(s);
  for (int j = 0; j < m; ++j) {
    if (j > 0)
      t.multiply(s);
    oddGiantSteps.push_back(t);
    s.square();
    giantSteps.push_back(s);
  }
  return m;
}

CTile PatersonStockmayerEvaluator::evaluateRecursive(const CTile& x, const std::vector<double>& p,
                                                     int m)
{
  int d = static_cast<int>(p.size()) - 1;
  if (d <= 1)
    return evaluateLowDegree(x, p);

  // q = p + sign x^T is of degree T. The classic method adds x^T; when p is
  // itself of degree T with a leading coefficient near -1 that would leave a
  // leading coefficient near zero, which later divides, so -x^T is added
  // instead. Every divisor below is then at least 1/2 in absolute value.
  int T = k * ((1 << m) - 1);
  std::vector<double> q(p);
  int sign = 1;
  if (T > d) {
    q.resize(T + 1, 0.0);
    q[T] = 1.0;
  } else {
    if (std::abs(q[T] + 1.0) < 0.5)
      sign = -1;
    q[T] += sign;
  }

  // q = x^h high + low.
  int h = k * (1 << (m - 1));
  std::vector<double> low(q.begin(), q.begin() + h);
  std::vector<double> high(q.begin() + h, q.end());
  int lowTop = k * ((1 << (m - 1)) - 1);

  // r = low - x^lowTop = c high + rem.
  std::vector<double> r(low);
  r[lowTop] -= 1.0;
  std::vector<double> c(r.size() - high.size() + 1, 0.0);
  std::vector<double> rem(r);
  while (rem.size() >= high.size()) {
    double a = rem.back() / high.back();
    size_t shift = rem.size() - high.size();
    c[shift] = a;
    for (size_t i = 0; i < high.size(); ++i)
      rem[shift + i] -= a * high[i];
    rem.pop_back();
  }
  std::vector<double> rem2(rem);
  rem2.push_back(1.0);

  CTile a = evaluateRecursive(x, high, m - 1);
  CTile b = evaluateRecursive(x, rem2, m - 1);

  // p = (x^h + c) high + rem + x^lowTop - sign x^T.
  CTile res(giantSteps[m - 1]);
  res.addScalar(c[0]);
  for (size_t i = 1; i < c.size(); ++i) {
    if (std::abs(c[i]) < ZERO_THRESHOLD)
      continue;
    CTile term(babySteps[i]);
    term.multiplyScalar(c[i]);
    res.add(term);
  }
  res.multiply(a);
  res.add(b);
  if (sign > 0)
    res.sub(oddGiantSteps[m]);
  else
    res.add(oddGiantSteps[m]);
  return res;
}

} // namespace quorvane
