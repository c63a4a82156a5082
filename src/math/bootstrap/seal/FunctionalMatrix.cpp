#include "math/bootstrap/seal/FunctionalMatrix.h"

#include <iostream>
#include <stdexcept>

#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"

namespace quorvane {

namespace {

const std::string GET_TIMER = "get";

int reverseBits(int value, int bits)
{
  int res = 0;
  for (int k = 0; k < bits; ++k)
    if ((value >> k) & 1)
      res |= 1 << (bits - 1 - k);
  return res;
}

int floorLog2(int n)
{
  int bits = 0;
  while ((1 << (bits + 1)) <= n)
    ++bits;
  return bits;
}

} // namespace

FunctionalMatrix::FunctionalMatrix(const BootstrapCore& core, int numSlots)
    : numSlots(numSlots), rowBegin(0), colBegin(0), rowEnd(2 * numSlots - 1),
      colEnd(2 * numSlots - 1), diagonalOrder(false), bitReversedColumns(false), core(core)
{
}

std::complex<double> FunctionalMatrix::get(int i, int j) const
{
  LeafTimer timer(GET_TIMER);
  int row = i;
  int col = j;
  if (diagonalOrder) {
    row = j;
    col = MathUtils::mod(i + j, numSlots);
  }
  if (bitReversedColumns)
    col = reverseBits(col, floorLog2(numSlots));
  return getElement(rowBegin + row, colBegin + col);
}

void FunctionalMatrix::crop(int a, int b, int c, int d)
{
  if (rowBegin + c > rowEnd || colBegin + d > colEnd) {
    std::cout << "WARNING: crop extends previous matrix scope. " << std::endl;
    std::cout << "Was " << "[" << rowBegin << "," << colBegin << "]-[" << rowEnd << "," << colEnd
              << "], and crop params are " << "[" << a << "," << b << "]-[" << c << "," << d
              << "]" << std::endl;
  }
  int r0 = rowBegin;
  int c0 = colBegin;
  rowBegin = r0 + a;
  colBegin = c0 + b;
  rowEnd = r0 + c;
  colEnd = c0 + d;
}

std::complex<double> EncodingMatrix::getElement(int row, int col) const
{
  int r = MathUtils::mod(row, 2 * numSlots);
  int c = MathUtils::mod(col, 2 * numSlots);
  if (c < numSlots)
    return core.getInverseN() * core.getRoot(c, -r);
  return core.getInverseN() * core.getRoot(c - numSlots, r);
}

std::complex<double> DecodingMatrix::getElement(int row, int col) const
{
  int r = MathUtils::mod(row, 2 * numSlots);
  if (r >= numSlots)
    throw std::runtime_error("decoding matrix is not defined below the first half");
  return core.getRoot(r, MathUtils::mod(col, 2 * numSlots));
}

std::complex<double> DecodingRealsMatrix::getElement(int row, int col) const
{
  if (row >= numSlots || col >= numSlots)
    throw std::runtime_error("decoding reals matrix is not defined beyond the first quarter");
  if (col == 0)
    return core.getRoot(row, 0);
  // Column c stands for the coefficients c and N - c = -(coefficient c) of a
  // real polynomial: the root of -c is the root of n - c times -s i.
  std::complex<double> unit(0, core.getImaginaryUnitSign(row));
  return core.getRoot(row, col) - unit * core.getRoot(row, numSlots - col);
}

} // namespace quorvane
