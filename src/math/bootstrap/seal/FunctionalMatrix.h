#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_FUNCTIONALMATRIX_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_FUNCTIONALMATRIX_H

#include <complex>

namespace quorvane {

class BootstrapCore;

/// A 2n x 2n complex matrix of the bootstrapping transforms whose elements
/// are computed on demand from the core's roots of unity. It stands for the
/// crop window [rowBegin, colBegin]-[rowEnd, colEnd] (inclusive) and is read
/// through get, optionally by generalized diagonals and with bit-reversed
/// columns. Slot j stands for the root zeta^(g^j), g the core's slot-order
/// generator (3 on SEAL, as its encoder orders the slots; 5 elsewhere).
class FunctionalMatrix
{
public:
  /// The full 2n x 2n window, both reading modes off.
  FunctionalMatrix(const BootstrapCore& core, int numSlots);

  /// Element (i, j) of the window: with diagonalOrder the j-th element of
  /// diagonal i (window row j, column (i + j) mod n); with bitReversedColumns
  /// the column index is bit-reversed over log2(n) bits.
  std::complex<double> get(int i, int j) const;

  /// The element at an absolute position of the full matrix.
  virtual std::complex<double> getElement(int row, int col) const = 0;

  /// Narrows the window to [a, b]-[c, d], relative to its first row and
  /// column; warns on standard output when that leaves the current window.
  void crop(int a, int b, int c, int d);

  int numSlots;
  int rowBegin;
  int colBegin;
  int rowEnd;
  int colEnd;
  bool diagonalOrder;
  bool bitReversedColumns;

protected:
  ~FunctionalMatrix() = default;
  FunctionalMatrix(const FunctionalMatrix&) = default;

  const BootstrapCore& core;
};

/// (1/N) [conj(U)^T | U^T] for the decoding matrix U: slots and their
/// conjugates to polynomial coefficients.
class EncodingMatrix : public FunctionalMatrix
{
public:
  using FunctionalMatrix::FunctionalMatrix;
  std::complex<double> getElement(int row, int col) const override;
};

/// U[r][c] = zeta^(g^r c), g the core's slot-order generator: polynomial
/// coefficients to slots; defined for rows below n (modulo 2n).
class DecodingMatrix : public FunctionalMatrix
{
public:
  using FunctionalMatrix::FunctionalMatrix;
  std::complex<double> getElement(int row, int col) const override;
};

/// The n x n decoding matrix of real slot values, whose coefficients c and
/// N - c are tied: column c combines columns c and n - c of U.
class DecodingRealsMatrix : public FunctionalMatrix
{
public:
  using FunctionalMatrix::FunctionalMatrix;
  std::complex<double> getElement(int row, int col) const override;
};

} // namespace quorvane

#endif
