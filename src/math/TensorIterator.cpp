#include "math/TensorIterator.h"

#include <stdexcept>
#include <string>

#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

TensorIterator::TensorIterator(const std::vector<int>& dims, bool firstOrder)
    : dims(dims), firstOrder(firstOrder), indices(dims.size(), 0), strides(dims.size(), 1)
{
  const int order = static_cast<int>(dims.size());
  if (firstOrder) {
    for (int i = 1; i < order; ++i)
      strides[i] = strides[i - 1] * dims[i - 1];
  } else {
    for (int i = order - 2; i >= 0; --i)
      strides[i] = strides[i + 1] * dims[i + 1];
  }
  for (int d : dims)
    size *= d;
}

TensorIterator::~TensorIterator() {}

bool TensorIterator::isValid() const
{
  return true;
}

void TensorIterator::setDimIndex(int dim, int value)
{
  int& index = indices[dim];
  if (value == index)
    return;
  if (!clamped.empty() && clamped[dim])
    throw std::runtime_error("Cannot set value to clamped dim " + std::to_string(dim));
  pos += (value - index) * strides[dim];
  index = value;
  if (target != nullptr)
    target->setDimIndex(dim, value);
}

void TensorIterator::clamp(int dim, int value)
{
  if (clamped.empty())
    clamped.assign(dims.size(), false);
  if (clamped.at(dim)) {
    if (indices[dim] == value)
      return;
    throw std::invalid_argument("Can't clamp dim " + std::to_string(dim) + " to " +
                                std::to_string(value) +
                                ", it is already clamped to a different value " +
                                std::to_string(indices[dim]));
  }
  setDimIndex(dim, value);
  clamped[dim] = true;
}

bool TensorIterator::nextInDim(int dim)
{
  if (dims[dim] == 1 || (!clamped.empty() && clamped[dim]))
    return false;
  int& index = indices[dim];
  ++index;
  pos += strides[dim];
  if (index < dims[dim]) {
    if (target != nullptr)
      target->setDimIndex(dim, index);
    return true;
  }
  pos -= index * strides[dim];
  index = 0;
  if (target != nullptr)
    target->setDimIndex(dim, 0);
  return false;
}

bool TensorIterator::next()
{
  QV_ASSERT(isValid());
  const int order = static_cast<int>(dims.size());
  if (firstOrder) {
    for (int dim = 0; dim < order; ++dim)
      if (nextInDim(dim))
        return true;
  } else {
    for (int dim = order - 1; dim >= 0; --dim)
      if (nextInDim(dim))
        return true;
  }
  return false;
}

void TensorIterator::reset()
{
  clamped.clear();
  for (size_t dim = 0; dim < dims.size(); ++dim)
    setDimIndex(static_cast<int>(dim), 0);
}

void TensorIterator::setFlatIndex(int p)
{
  if (!clamped.empty())
    throw std::runtime_error("Setting flat index to a clamped iterator not supported");
  pos = p;
  const int order = static_cast<int>(dims.size());
  for (int step = 0; step < order; ++step) {
    const int dim = firstOrder ? step : order - 1 - step;
    indices[dim] = p % dims[dim];
    if (target != nullptr)
      target->setDimIndex(dim, indices[dim]);
    p /= dims[dim];
  }
}

void TensorIterator::setTarget(TensorIteratorTarget* newTarget)
{
  target = newTarget;
  if (target == nullptr)
    return;
  for (size_t dim = 0; dim < indices.size(); ++dim)
    target->setDimIndex(static_cast<int>(dim), indices[dim]);
}

void TensorIterator::debugPrint(std::ostream& out) const
{
  out << "TensorIterator for " << dims << std::endl;
  out << "\tCurrent indices: " << indices << std::endl;
  out << "\tPos: " << pos;
  if (!clamped.empty()) {
    out << std::endl << "\tClamped:";
    for (bool flag : clamped)
      out << " " << PrintUtils::boolToString(flag);
  }
}

std::ostream& operator<<(std::ostream& out, const TensorIterator& it)
{
  it.debugPrint(out);
  return out;
}

} // namespace quorvane
