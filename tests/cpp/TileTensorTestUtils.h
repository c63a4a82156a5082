#ifndef QUORVANE_TESTS_CPP_TILETENSORTESTUTILS_H
#define QUORVANE_TESTS_CPP_TILETENSORTESTUTILS_H

// Helpers shared by the tile-tensor test files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"
#include "math/TensorIterator.h"

namespace qvtest {

/// A tensor of the dimensions with uniformly random values in [-1, 1).
inline quorvane::DoubleTensor randomTensor(const std::vector<int>& dims, unsigned seed)
{
  quorvane::DoubleTensor res(dims);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int i = 0; i < res.size(); ++i)
    res.at(i) = dist(gen);
  return res;
}

/// A shape of the dimensions, diagonalized when asked.
inline quorvane::TTShape shapeOf(const std::vector<quorvane::TTDim>& dims,
                                 bool diagonalized = false)
{
  quorvane::TTShape shape;
  for (const quorvane::TTDim& dim : dims)
    shape.addDim(dim);
  if (diagonalized)
    shape.setDiagonalized(true);
  return shape;
}

/// An interleaved dimension, with the given external size when positive.
inline quorvane::TTDim interleavedDim(int originalSize, int tileSize, int externalSize = -1)
{
  quorvane::TTDim dim(originalSize, tileSize);
  dim.setInterleaved(true);
  if (externalSize > 0)
    dim.setInterleavedExternalSize(externalSize);
  return dim;
}

/// The values encoded and encrypted into a tensor of the shape.
inline quorvane::CTileTensor encrypted(const quorvane::HeContext& he,
                                       const quorvane::TTShape& shape,
                                       const quorvane::DoubleTensor& values, int chainIndex = -1)
{
  quorvane::CTileTensor res(he);
  quorvane::TTEncoder(he).encodeEncrypt(res, shape, values, chainIndex);
  return res;
}

/// The values encoded into a plaintext tensor of the shape.
inline quorvane::PTileTensor encoded(const quorvane::HeContext& he,
                                     const quorvane::TTShape& shape,
                                     const quorvane::DoubleTensor& values, int chainIndex = -1)
{
  quorvane::PTileTensor res(he);
  quorvane::TTEncoder(he).encode(res, shape, values, chainIndex);
  return res;
}

/// The decrypted and decoded values of a tensor.
inline quorvane::DoubleTensor decrypted(const quorvane::CTileTensor& t)
{
  return quorvane::TTEncoder(t.getHeContext()).decryptDecodeDouble(t);
}

/// The largest absolute difference of two tensors of the same shape.
inline double maxDiff(const quorvane::DoubleTensor& a, const quorvane::DoubleTensor& b)
{
  EXPECT_EQ(a.getShape(), b.getShape());
  double res = 0;
  for (int i = 0; i < std::min(a.size(), b.size()); ++i)
    res = std::max(res, std::abs(a.at(i) - b.at(i)));
  return res;
}

/// f applied to every element of a tensor.
template <typename F>
quorvane::DoubleTensor mapped(const quorvane::DoubleTensor& a, F f)
{
  quorvane::DoubleTensor res(a);
  for (int i = 0; i < res.size(); ++i)
    res.at(i) = f(a.at(i));
  return res;
}

/// Element-wise combination of two tensors of the same shape.
template <typename F>
quorvane::DoubleTensor combined(const quorvane::DoubleTensor& a, const quorvane::DoubleTensor& b,
                                F f)
{
  quorvane::DoubleTensor res(a);
  for (int i = 0; i < res.size(); ++i)
    res.at(i) = f(a.at(i), b.at(i));
  return res;
}

/// The element of a tensor (of order 2 or more) at the indices.
inline double valueAt(const quorvane::DoubleTensor& t, const std::vector<int>& indices)
{
  int flat = 0;
  int stride = 1;
  for (size_t d = 0; d < indices.size(); ++d) {
    flat += indices[d] * stride;
    stride *= t.getDimSize(static_cast<int>(d));
  }
  return t.data()[flat];
}

/// A tensor of the dimensions (two or more) whose element at indices is f(indices).
template <typename F>
quorvane::DoubleTensor tensorOf(const std::vector<int>& dims, F f)
{
  quorvane::DoubleTensor res(dims);
  quorvane::TensorIterator it(dims, true);
  do
    res.data()[it.getPos()] = f(it.getIndices());
  while (it.next());
  return res;
}

/// The sum over dim, which keeps size 1.
inline quorvane::DoubleTensor sumOverAxis(const quorvane::DoubleTensor& in, int dim)
{
  std::vector<int> dims = in.getShape();
  const int size = dims[dim];
  dims[dim] = 1;
  return tensorOf(dims, [&](std::vector<int> idx) {
    double sum = 0;
    for (int i = 0; i < size; ++i) {
      idx[dim] = i;
      sum += valueAt(in, idx);
    }
    return sum;
  });
}

} // namespace qvtest

#endif
