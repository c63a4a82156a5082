#include "math/DoubleTensorImpl.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/numeric/ublas/tensor.hpp>

#include "math/DoubleTensor.h"

namespace quorvane {

namespace {

using Tensor = DoubleTensorImpl::Tensor;

// Extents of a shape of two or more entries; the uBLAS extents refuse a 0.
Tensor::extents_type makeExtents(const std::vector<int>& shape)
{
  return Tensor::extents_type(std::vector<size_t>(shape.begin(), shape.end()));
}

std::string plainShape(const std::vector<int>& shape)
{
  std::string text = "[";
  for (size_t i = 0; i < shape.size(); ++i)
    text += (i > 0 ? "," : "") + std::to_string(shape[i]);
  return text + "]";
}

// Element count of a shape (1 for an empty one); refuses negative entries and
// counts that an int cannot hold.
int countElements(const std::vector<int>& shape)
{
  long long count = 1;
  for (int n : shape) {
    if (n < 0)
      throw std::length_error("Invalid tensor shape " + plainShape(shape) +
                              ": sizes must not be negative");
    count *= n;
    if (count > INT_MAX)
      throw std::length_error("Invalid tensor shape " + plainShape(shape) +
                              ": more elements than an int can count");
  }
  return static_cast<int>(count);
}

} // namespace

DoubleTensorImpl::DoubleTensorImpl() {}

DoubleTensorImpl::DoubleTensorImpl(const std::vector<int>& shape)
{
  if (shape.size() == 1) {
    order1Values.resize(shape[0]);
    isOrder1 = true;
    return;
  }
  Tensor::extents_type extents = makeExtents(shape);
  countElements(shape);
  tensor = Tensor(extents);
}

DoubleTensorImpl::DoubleTensorImpl(const DoubleTensorImpl& other)
    : tensor(other.tensor), order1Values(other.order1Values), isOrder1(other.isOrder1)
{
}

DoubleTensorImpl::DoubleTensorImpl(DoubleTensorImpl&& other) noexcept
    : tensor(std::move(other.tensor)),
      order1Values(std::move(other.order1Values)),
      isOrder1(other.isOrder1)
{
  other.order1Values.clear();
}

DoubleTensorImpl& DoubleTensorImpl::operator=(const DoubleTensorImpl& other)
{
  if (this != &other) {
    DoubleTensorImpl copy(other);
    *this = std::move(copy);
  }
  return *this;
}

DoubleTensorImpl& DoubleTensorImpl::operator=(DoubleTensorImpl&& other) noexcept
{
  if (this != &other) {
    // Swaps only: the uBLAS assignment takes its argument by value.
    Tensor released;
    swap(tensor, other.tensor);
    swap(other.tensor, released);
    order1Values = std::move(other.order1Values);
    other.order1Values.clear();
    isOrder1 = other.isOrder1;
  }
  return *this;
}

DoubleTensorImpl::~DoubleTensorImpl() {}

int DoubleTensorImpl::getOrder() const
{
  return isOrder1 ? 1 : static_cast<int>(tensor.rank());
}

int DoubleTensorImpl::size() const
{
  return static_cast<int>(isOrder1 ? order1Values.size() : tensor.size());
}

int DoubleTensorImpl::getDimSize(int dim) const
{
  if (isOrder1) {
    QV_ASSERT(dim == 0);
    return static_cast<int>(order1Values.size());
  }
  return static_cast<int>(tensor.extents().at(dim));
}

std::vector<int> DoubleTensorImpl::getShape() const
{
  const int order = getOrder();
  std::vector<int> shape(order);
  for (int d = 0; d < order; ++d)
    shape[d] = getDimSize(d);
  return shape;
}

void DoubleTensorImpl::reshape(const std::vector<int>& shape, bool allowResize)
{
  QV_ASSERT(shape.size() > 0);
  const int newCount = countElements(shape);
  const int oldCount = size();
  if (!allowResize && newCount != oldCount)
    throw std::runtime_error("Trying to reshape a tensor of shape " +
                             shapeToString(getShape(), -1) + " with " +
                             std::to_string(oldCount) + " elements to a new shape " +
                             shapeToString(shape, -1) + " with " + std::to_string(newCount) +
                             " elements");
  const int kept = std::min(oldCount, newCount);
  if (shape.size() == 1) {
    if (isOrder1) {
      order1Values.resize(newCount);
      return;
    }
    std::vector<double> values(newCount);
    std::copy(tensor.data(), tensor.data() + kept, values.begin());
    Tensor released;
    swap(tensor, released);
    order1Values.swap(values);
    isOrder1 = true;
    return;
  }
  Tensor::extents_type extents = makeExtents(shape);
  if (isOrder1) {
    Tensor reshaped(extents);
    std::copy(order1Values.begin(), order1Values.begin() + kept, reshaped.data());
    swap(tensor, reshaped);
    std::vector<double>().swap(order1Values);
    isOrder1 = false;
    return;
  }
  tensor.reshape(extents);
}

void DoubleTensorImpl::fill(double value)
{
  std::fill(data(), data() + size(), value);
}

std::ostream& operator<<(std::ostream& out, const DoubleTensorImpl& t)
{
  if (t.isOrder1)
    printDoubleVector(out, t.order1Values, false);
  else if (t.tensor.rank() == 0)
    out << "[]";
  else
    ::operator<<(out, t.tensor);
  return out;
}

} // namespace quorvane
