#include "python/NumpyUtils.h"

#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "math/DoubleTensor.h"

namespace py = pybind11;

namespace quorvane {

namespace {

/// The dimensions as ints; refused before any value is copied when one does
/// not fit (it would wrap around).
std::vector<int> shapeOf(const NumpyArray<double>& arr)
{
  constexpr py::ssize_t MAX_DIMENSION = std::numeric_limits<int>::max();
  std::vector<int> shape(arr.ndim());
  for (py::ssize_t d = 0; d < arr.ndim(); ++d) {
    if (arr.shape(d) > MAX_DIMENSION)
      throw std::length_error("Cannot convert a numpy array whose dimension " +
                              std::to_string(d) + " has size " + std::to_string(arr.shape(d)) +
                              ": dimensions are limited to " + std::to_string(MAX_DIMENSION));
    shape[d] = static_cast<int>(arr.shape(d));
  }
  return shape;
}

void fill(DoubleTensor& t, const NumpyArray<double>& arr)
{
  t.init(NumpyUtils::toDoubleVector(arr), false);
}

/// The shape as Python prints it: "(2, 0)".
std::string shapeText(const NumpyArray<double>& arr)
{
  std::string res = "(";
  for (py::ssize_t d = 0; d < arr.ndim(); ++d)
    res += (d > 0 ? ", " : "") + std::to_string(arr.shape(d));
  return res + (arr.ndim() == 1 ? ",)" : ")");
}

/// Refuses, naming the argument, the shapes a tensor cannot take.
void checkTensorArgument(const NumpyArray<double>& arr, const std::string& name)
{
  if (arr.ndim() == 0)
    throw std::invalid_argument(name + " is a zero-dimensional array (a single number or None); "
                                       "expected an array of one or more dimensions");
  if (arr.ndim() == 1)
    return;
  for (py::ssize_t d = 0; d < arr.ndim(); ++d)
    if (arr.shape(d) == 0)
      throw std::invalid_argument(name + " has shape " + shapeText(arr) +
                                  "; an array of two or more dimensions cannot have a "
                                  "dimension of size 0");
}

} // namespace

template <typename T>
std::vector<T> NumpyUtils::toVector(const NumpyArray<T>& arr)
{
  const py::ssize_t count = arr.size();
  if (count == 0)
    return {};
  const T* data = arr.data();
  return std::vector<T>(data, data + count);
}

template <typename T>
py::array_t<T> NumpyUtils::fromVector(const std::vector<T>& v)
{
  // The stride is given so that it does not depend on the element size that
  // the binding layer reads back from numpy.
  return py::array_t<T>({static_cast<py::ssize_t>(v.size())},
                        {static_cast<py::ssize_t>(sizeof(T))}, v.data());
}

template std::vector<int> NumpyUtils::toVector(const NumpyArray<int>&);
template std::vector<double> NumpyUtils::toVector(const NumpyArray<double>&);
template std::vector<std::complex<double>> NumpyUtils::toVector(
    const NumpyArray<std::complex<double>>&);
template py::array_t<int> NumpyUtils::fromVector(const std::vector<int>&);
template py::array_t<double> NumpyUtils::fromVector(const std::vector<double>&);
template py::array_t<std::complex<double>> NumpyUtils::fromVector(
    const std::vector<std::complex<double>>&);
template py::array_t<uint64_t> NumpyUtils::fromVector(const std::vector<uint64_t>&);

std::vector<double> NumpyUtils::toDoubleVector(const NumpyArray<double>& arr)
{
  return toVector(arr);
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

DoubleTensor NumpyUtils::argumentToDoubleTensor(const NumpyArray<double>& arr,
                                                const std::string& name)
{
  checkTensorArgument(arr, name);
  return toDoubleTensor(arr);
}

std::shared_ptr<DoubleTensor> NumpyUtils::argumentToSharedDoubleTensor(
    const NumpyArray<double>& arr, const std::string& name)
{
  checkTensorArgument(arr, name);
  return toSharedDoubleTensor(arr);
}

py::array_t<double> NumpyUtils::fromDoubleVector(const std::vector<double>& v)
{
  return fromVector(v);
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
