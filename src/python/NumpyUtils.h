#ifndef QUORVANE_PYTHON_NUMPYUTILS_H
#define QUORVANE_PYTHON_NUMPYUTILS_H

#include <memory>
#include <string>
#include <vector>

#include <pybind11/numpy.h>

namespace quorvane {

class DoubleTensor;

/// Array parameter of the bindings: C-contiguous, converted by numpy when needed.
template <typename T>
using NumpyArray = pybind11::array_t<T, pybind11::array::c_style | pybind11::array::forcecast>;

/// Copies between numpy arrays and vectors or double tensors. Values are
/// always copied, in row-major (C) order.
class NumpyUtils
{
public:
  /// All values of the array (one for a zero-dimensional array). Defined for
  /// int, double and std::complex<double>.
  template <typename T>
  static std::vector<T> toVector(const NumpyArray<T>& arr);
  /// A one-dimensional array of the vector's values. Defined for int, double,
  /// std::complex<double> and uint64_t.
  template <typename T>
  static pybind11::array_t<T> fromVector(const std::vector<T>& v);

  /// All values of the array (one for a zero-dimensional array).
  static std::vector<double> toDoubleVector(const NumpyArray<double>& arr);
  /// A tensor of the array's shape and values; a dimension above the int
  /// range is refused with std::length_error.
  static DoubleTensor toDoubleTensor(const NumpyArray<double>& arr);
  static std::shared_ptr<DoubleTensor> toSharedDoubleTensor(const NumpyArray<double>& arr);
  /// toDoubleTensor of the binding argument called name. An array that makes
  /// no tensor (no dimension, or a dimension of size 0 beside others) is
  /// refused with std::invalid_argument naming the argument.
  static DoubleTensor argumentToDoubleTensor(const NumpyArray<double>& arr,
                                             const std::string& name);
  static std::shared_ptr<DoubleTensor> argumentToSharedDoubleTensor(
      const NumpyArray<double>& arr, const std::string& name);
  /// A one-dimensional array of the vector's values.
  static pybind11::array_t<double> fromDoubleVector(const std::vector<double>& v);
  /// An array of the tensor's shape and values (shape (0,) for an empty tensor).
  static pybind11::array_t<double> fromDoubleTensor(const DoubleTensor& t);
};

} // namespace quorvane

#endif
