#include "math/bootstrap/seal/Chebyshev.h"

#include <cmath>
#include <stdexcept>

namespace quorvane {

namespace {

constexpr int FIRST_ROW = 13;
constexpr int LAST_ROW = 50;

// The coefficients of the polynomial of degree size - 1 interpolating cos(pi x)
// (or sin(pi x)) at the Chebyshev-Lobatto points cos(k pi / (size - 1)),
// computed in extended precision.
std::vector<double> interpolationRow(int size, bool sine)
{
  const int n = size - 1;
  const long double pi = 3.141592653589793238462643383279502884L;
  std::vector<long double> values(size);
  for (int k = 0; k <= n; ++k) {
    long double x = std::cos(pi * k / n);
    values[k] = sine ? std::sin(pi * x) : std::cos(pi * x);
  }
  std::vector<double> row(size);
  for (int j = 0; j <= n; ++j) {
    // The function is even (cosine) or odd (sine): half the terms vanish.
    if ((j % 2 == 1) != sine) {
      row[j] = 0.0;
      continue;
    }
    long double sum = 0;
    for (int k = 0; k <= n; ++k) {
      long double weight = (k == 0 || k == n) ? 0.5L : 1.0L;
      sum += weight * values[k] * std::cos(pi * static_cast<long double>((j * k) % (2 * n)) / n);
    }
    long double c = 2 * sum / n;
    if (j == 0 || j == n)
      c /= 2;
    row[j] = static_cast<double>(c);
  }
  return row;
}

} // namespace

std::vector<std::vector<double>> Chebyshev::buildTable(bool sine)
{
  std::vector<std::vector<double>> table(LAST_ROW + 1);
  for (int i = FIRST_ROW; i <= LAST_ROW; ++i)
    table[i] = interpolationRow(i, sine);
  return table;
}

Chebyshev::Chebyshev(int minIndex, int maxIndex) : minIndex(minIndex), maxIndex(maxIndex) {}

void Chebyshev::checkIndex(int i) const
{
  if (i < minIndex)
    throw std::runtime_error("i too small");
  if (i > maxIndex)
    throw std::runtime_error("i too big");
}

std::vector<double> Chebyshev::getCosCoefficients(int i) const
{
  checkIndex(i);
  return chebyshevCosTable.at(i);
}

std::vector<double> Chebyshev::getSinCoefficients(int i) const
{
  checkIndex(i);
  return chebyshevSinTable.at(i);
}

} // namespace quorvane
