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

} // namespace qvtest

#endif
