// Elements and windows of the functional matrices of the bootstrapping transforms.

#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FunctionalMatrix.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
constexpr int N = 8; // slots

const BootstrapCore& core() { return bootstrapSealCore(N, 20); }

// The cores of both slot orders: the mockup's (powers of 5) and SEAL's
// (powers of 3).
std::vector<const BootstrapCore*> cores() { return {&mockupCore(N), &core()}; }

// zeta^e for zeta = exp(2 pi i / 4n), the exponent reduced first.
Complex zeta(long e)
{
  long r = ((e % (4 * N)) + 4 * N) % (4 * N);
  return std::polar(1.0, 2 * std::acos(-1.0) * r / (4 * N));
}

long powOf(int g, int i)
{
  long r = 1;
  for (int k = 0; k < i; ++k)
    r *= g;
  return r;
}

} // namespace

TEST(FunctionalMatrix, EncodingMatrixElements)
{
  for (const BootstrapCore* order : cores()) {
    const int g = order->getGenerator();
    EncodingMatrix enc(*order, N);
    for (int c = 0; c < 2 * N; ++c)
      EXPECT_EQ(enc.get(0, c), Complex(1.0 / (2 * N), 0)) << c;
    for (int r = 0; r < 2 * N; ++r) {
      for (int c = 0; c < 2 * N; ++c) {
        Complex expected = c < N ? zeta(-r * powOf(g, c)) / (2.0 * N)
                                 : zeta(r * powOf(g, c - N)) / (2.0 * N);
        EXPECT_LT(std::abs(enc.getElement(r, c) - expected), 1e-14) << g << ":" << r << "," << c;
      }
    }
    // Rows and columns are reduced modulo 2n.
    EXPECT_EQ(enc.getElement(3 + 2 * N, 5 + 4 * N), enc.getElement(3, 5));
    EXPECT_EQ(enc.getElement(-1, -1), enc.getElement(2 * N - 1, 2 * N - 1));
  }
}

TEST(FunctionalMatrix, EncodingInvertsDecoding)
{
  // Encoding the slots of a polynomial and their conjugates gives back its
  // 2n coefficients, in either slot order.
  for (const BootstrapCore* order : cores()) {
    DecodingMatrix dec(*order, N);
    EncodingMatrix enc(*order, N);
    std::vector<double> coeffs(2 * N);
    for (int k = 0; k < 2 * N; ++k)
      coeffs[k] = 0.1 * k - 0.7;
    std::vector<Complex> slots(2 * N);
    for (int r = 0; r < N; ++r) {
      for (int k = 0; k < 2 * N; ++k)
        slots[r] += dec.getElement(r, k) * coeffs[k];
      slots[r + N] = std::conj(slots[r]);
    }
    for (int k = 0; k < 2 * N; ++k) {
      Complex back = 0;
      for (int c = 0; c < 2 * N; ++c)
        back += enc.getElement(k, c) * slots[c];
      EXPECT_LT(std::abs(back - coeffs[k]), 1e-12) << order->getGenerator() << ":" << k;
    }
  }
}

TEST(FunctionalMatrix, DecodingMatrixElementsAndDomain)
{
  for (const BootstrapCore* order : cores()) {
    DecodingMatrix dec(*order, N);
    for (int r = 0; r < N; ++r) {
      EXPECT_EQ(dec.getElement(r, 0), Complex(1, 0)) << r;
      for (int c = 0; c < 2 * N; ++c)
        EXPECT_LT(std::abs(dec.getElement(r, c) - zeta(powOf(order->getGenerator(), r) * c)),
                  1e-14);
    }
  }
  DecodingMatrix dec(core(), N);
  for (int row : {N, 2 * N - 1, -1})
    expectThrowWithMessage<std::runtime_error>(
        [&] { dec.getElement(row, 0); }, "decoding matrix is not defined below the first half");
  EXPECT_EQ(dec.getElement(2 * N, 3), dec.getElement(0, 3));
}

TEST(FunctionalMatrix, DecodingRealsMatrixElementsAndDomain)
{
  // Column c > 0 is the root of c plus the root of -c (twice its real part),
  // reached through the root of n - c: zeta^(-c g^r) = -s i zeta^((n - c) g^r)
  // with s = 1 in every row for the powers of 5, alternating for those of 3.
  for (const BootstrapCore* order : cores()) {
    DecodingRealsMatrix dec(*order, N);
    for (int r = 0; r < N; ++r) {
      EXPECT_EQ(dec.getElement(r, 0), Complex(1, 0)) << r;
      const double s = order->getGenerator() == 5 || r % 2 == 0 ? 1 : -1;
      for (int c = 1; c < N; ++c) {
        Complex e = dec.getElement(r, c);
        EXPECT_LT(std::abs(e.imag()), 1e-15) << r << "," << c;
        EXPECT_NEAR(e.real(), 2 * order->getRoot(r, c).real(), 1e-15);
        Complex expected = order->getRoot(r, c) - Complex(0, s) * order->getRoot(r, N - c);
        EXPECT_EQ(e, expected);
      }
    }
  }
  DecodingRealsMatrix dec(core(), N);
  for (auto [row, col] : {std::pair<int, int>{N, 0}, {0, N}, {N + 3, 2}})
    expectThrowWithMessage<std::runtime_error>(
        [&, row = row, col = col] { dec.getElement(row, col); },
        "decoding reals matrix is not defined beyond the first quarter");
}

TEST(FunctionalMatrix, DiagonalOrderReadsGeneralizedDiagonals)
{
  DecodingMatrix dec(core(), N);
  dec.crop(0, 0, N - 1, N - 1);
  dec.diagonalOrder = true;
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j)
      EXPECT_EQ(dec.get(i, j), dec.getElement(j, (i + j) % N)) << i << "," << j;
  EXPECT_EQ(dec.get(0, 5), dec.getElement(5, 5));
  EXPECT_EQ(dec.get(1, N - 1), dec.getElement(N - 1, 0));

  // The second half of the columns.
  DecodingMatrix second(core(), N);
  second.crop(0, N, N - 1, 2 * N - 1);
  second.diagonalOrder = true;
  EXPECT_EQ(second.get(2, 3), second.getElement(3, N + 5));
}

TEST(FunctionalMatrix, BitReversedColumns)
{
  EncodingMatrix enc(core(), N);
  enc.bitReversedColumns = true;
  struct Case
  {
    int col;
    int reversed;
  };
  for (Case c : {Case{0, 0}, Case{1, 4}, Case{6, 3}, Case{3, 6}, Case{7, 7}, Case{9, 4}})
    EXPECT_EQ(enc.get(2, c.col), enc.getElement(2, c.reversed)) << c.col;

  DecodingRealsMatrix both(core(), N);
  both.crop(0, 0, N - 1, N - 1);
  both.diagonalOrder = true;
  both.bitReversedColumns = true;
  // Diagonal 1, position 2: row 2, column 3, bit-reversed to 6.
  EXPECT_EQ(both.get(1, 2), both.getElement(2, 6));
}

TEST(FunctionalMatrix, CropNarrowsTheWindowAndWarnsBeyondIt)
{
  DecodingMatrix m(core(), N);
  EXPECT_EQ(m.rowBegin, 0);
  EXPECT_EQ(m.colEnd, 2 * N - 1);
  {
    CoutCapture capture;
    m.crop(0, N, N - 1, 2 * N - 1);
    EXPECT_EQ(capture.str(), "");
  }
  EXPECT_EQ((std::vector<int>{m.rowBegin, m.colBegin, m.rowEnd, m.colEnd}),
            (std::vector<int>{0, N, N - 1, 2 * N - 1}));
  CoutCapture capture;
  m.crop(0, 0, N, N);
  EXPECT_EQ(capture.str(), "WARNING: crop extends previous matrix scope. \nWas [0,8]-[7,15], "
                           "and crop params are [0,0]-[8,8]\n");
  EXPECT_EQ((std::vector<int>{m.rowBegin, m.colBegin, m.rowEnd, m.colEnd}),
            (std::vector<int>{0, N, N, 2 * N}));
  // Relative to the current window.
  m.crop(1, 2, 3, 4);
  EXPECT_EQ((std::vector<int>{m.rowBegin, m.colBegin, m.rowEnd, m.colEnd}),
            (std::vector<int>{1, N + 2, 3, N + 4}));
  EXPECT_EQ(m.get(0, 0), m.getElement(1, N + 2));
}
