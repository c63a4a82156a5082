#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "math/Padding2d.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initPadding2dBindings(py::module_& m)
{
  static const std::string sides = R"(
            :param left: Left padding.
            :type left: int
            :param right: Right padding.
            :type right: int
            :param up: Up padding.
            :type up: int
            :param down: Down padding.
            :type down: int
            )";
  static const std::string constructorDoc = R"(
            Construct a new Padding 2d object.
)" + sides;
  static const std::string setDoc = R"(
            Set padding values
)" + sides;

  BoundClass<Padding2d, Printable, std::shared_ptr<Padding2d>>(m, "Padding2d", R"(
    A structure that holds padding for a 2-D array. Used to specify convolution and
    mean pooling padding.
    )")
      .def(py::init<>(), R"(
            A constructor creating a Padding2d with default values: all four paddings 0.
            )")
      .def(py::init<int, int, int, int>(), constructorDoc.c_str(),
           py::arg("left"), py::arg("right"), py::arg("up"), py::arg("down"))
      .def_readwrite("left", &Padding2d::left, "Left padding")
      .def_readwrite("right", &Padding2d::right, "Right padding")
      .def_readwrite("up", &Padding2d::up, "Up padding")
      .def_readwrite("down", &Padding2d::down, "Down padding")
      .def("all_zero", &Padding2d::allZero, "Returns if all padding values are zero")
      .def("set", &Padding2d::set, setDoc.c_str(),
           py::arg("left"), py::arg("right"), py::arg("up"), py::arg("down"))
      .def("get_max_left_right", &Padding2d::getMaxLeftRight,
           "Returns the maximum of left and right padding")
      .def("get_max_up_down", &Padding2d::getMaxUpDown,
           "Returns the maximum of up and down padding");
}

} // namespace quorvane
