#include "python/NumpyUtils.h"

#include <cstdint>

#include "math/DoubleTensor.h"

namespace py = pybind11;

namespace quorvane {

namespace {

std::vector<int> shapeOf(const NumpyArray<double>& arr)
{
  std::vector<int> shape(arr.ndim());
  for (py::ssize_t d = 0; d < arr.ndim(); ++d)
    shape[d] = static_cast<int>(static_cast<uint32_t>(arr.shape(d)));
  return shape;
}

void fill(DoubleTensor& t, const NumpyArray<double>& arr)
{
  t.init(NumpyUtils::toDoubleVector(arr), false);
}

} // namespace

std::vector<double> NumpyUtils::toDoubleVector(const NumpyArray<double>& arr)
{
  const py::ssize_t count = arr.size();
  if (count == 0)
    return {};
  const double* data = arr.data();
  return std::vector<double>(data, data + count);
}

DoubleTensor NumpyUtils::toDoubleTensor(const NumpyArray<double>& arr)
{
  DoubleTensor t(shapeOf(arr));
  fill(t, arr);
  return t;
}

std::shared_ptr<DoubleTensor> NumpyUtils::toSharedDoubleTensor(const NumpyArray<double>& arr)
{
  auto t = std::make_shared<DoubleTensor>(shapeOf(arr));
  fill(*t, arr);
  return t;
}

py::array_t<double> NumpyUtils::fromDoubleVector(const std::vector<double>& v)
{
  return py::array_t<double>({static_cast<py::ssize_t>(v.size())},
                             {static_cast<py::ssize_t>(sizeof(double))}, v.data());
}

py::array_t<double> NumpyUtils::fromDoubleTensor(const DoubleTensor& t)
{
  const std::vector<double> vals = t.getVals(false);
  std::vector<py::ssize_t> shape;
  for (int n : t.getShape())
    shape.push_back(n);
  // An empty tensor has no dimensions but also no element, unlike a
  // zero-dimensional array.
  if (shape.empty())
    shape.push_back(0);
  // C-order strides, given explicitly so that they do not depend on the
  // element size that the binding layer reads back from numpy.
  std::vector<py::ssize_t> strides(shape.size(), static_cast<py::ssize_t>(sizeof(double)));
  for (size_t d = shape.size(); d-- > 1;)
    strides[d - 1] = strides[d] * shape[d];
  return py::array_t<double>(shape, strides, vals.data());
}

} // namespace quorvane
