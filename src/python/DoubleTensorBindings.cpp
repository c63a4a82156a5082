#include <pybind11/pybind11.h>

#include "math/DoubleTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initDoubleTensorBindings(py::module_& m)
{
  BoundClass<DoubleTensor>(m, "DoubleTensor", R"(
    A thin wrapper over a boost::numeric::ublas::tensor<double> object that uses
    the first-order convention: the first index varies fastest in storage.
    )")
      .def(py::init(&NumpyUtils::toDoubleTensor), R"(
            Constructs a tensor from the given array.
            )")
      .def("to_numpy", &NumpyUtils::fromDoubleTensor, R"(
            Converts a DoubleTensor to a numpy array.

            :rtype: numpy.ndarray[numpy.float64]
            )")
      .def("add_scalar", &DoubleTensor::addScalar, R"(
            Adds the given scalar to all elements.

            :param val: The scalar to add.
            :type val: float
            )",
           py::arg("val"))
      .def("assert_equals", &DoubleTensor::assertEquals, R"(
            Verifies that this tensor equals the other tensor and returns the mean
            squared error (MSE).

            :param other: The tensor to compare with.
            :type other: DoubleTensor
            :param title: Printed if the assertion fails.
            :type title: str
            :param eps: The largest difference allowed in each slot (default=1e-5).
            :type eps: float
            :param relative: Compare by relative difference (default=False).
            :type relative: bool
            :return: The mean squared error.
            :rtype: float
            :raises RuntimeError: when an element differs by more than eps.
            :raises ValueError: when the shapes differ.
            )",
           py::arg("other"), py::arg("title"), py::arg("eps") = 1e-5,
           py::arg("relative") = false);
}

} // namespace quorvane
