#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "hebase/PublicFunctions.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {
namespace {

// Argument of set_rotation_steps: whatever numpy makes of the Python object,
// checked element by element before anything is stored.
struct RotationStepsArg
{
  py::array array;
};

} // namespace
} // namespace quorvane

namespace pybind11 {
namespace detail {

template <>
struct type_caster<quorvane::RotationStepsArg>
{
  PYBIND11_TYPE_CASTER(quorvane::RotationStepsArg, const_name("numpy.ndarray[numpy.int32]"));

  bool load(handle src, bool convert)
  {
    if (!convert && !isinstance<array>(src))
      return false;
    value.array = array::ensure(src);
    return static_cast<bool>(value.array);
  }

  static handle cast(const quorvane::RotationStepsArg& src, return_value_policy, handle)
  {
    return src.array.inc_ref();
  }
};

} // namespace detail
} // namespace pybind11

namespace quorvane {
namespace {

constexpr int64_t MIN_STEP = std::numeric_limits<int32_t>::min();
constexpr int64_t MAX_STEP = std::numeric_limits<int32_t>::max();

[[noreturn]] void refuseStep(const std::string& value)
{
  throw py::value_error("Rotation step " + value +
                        " is outside the range of 32-bit signed integers");
}

[[noreturn]] void refuseType(const std::string& what)
{
  throw py::type_error("Rotation steps must be integers; got " + what);
}

std::vector<int> toRotationSteps(const py::array& array)
{
  std::vector<int> steps;
  if (array.size() == 0)
    return steps;
  steps.reserve(static_cast<size_t>(array.size()));
  const char kind = array.dtype().kind();
  if (kind == 'i') {
    auto values = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(array);
    const int64_t* data = values.data();
    for (py::ssize_t i = 0; i < values.size(); ++i) {
      if (data[i] < MIN_STEP || data[i] > MAX_STEP)
        refuseStep(std::to_string(data[i]));
      steps.push_back(static_cast<int>(data[i]));
    }
  } else if (kind == 'u') {
    auto values = py::array_t<uint64_t, py::array::c_style | py::array::forcecast>::ensure(array);
    const uint64_t* data = values.data();
    for (py::ssize_t i = 0; i < values.size(); ++i) {
      if (data[i] > static_cast<uint64_t>(MAX_STEP))
        refuseStep(std::to_string(data[i]));
      steps.push_back(static_cast<int>(data[i]));
    }
  } else if (kind == 'O') {
    // Python integers too large for numpy's integer types.
    for (py::handle item : array.attr("ravel")()) {
      if (py::isinstance<py::bool_>(item) || !PyIndex_Check(item.ptr()))
        refuseType(std::string("an element of type ") + Py_TYPE(item.ptr())->tp_name);
      py::int_ value = py::reinterpret_steal<py::int_>(PyNumber_Index(item.ptr()));
      if (!value)
        throw py::error_already_set();
      if (value < py::int_(MIN_STEP) || value > py::int_(MAX_STEP))
        refuseStep(py::str(value).cast<std::string>());
      steps.push_back(value.cast<int>());
    }
  } else {
    refuseType("an array of dtype " + py::str(array.dtype()).cast<std::string>());
  }
  return steps;
}

} // namespace

void initPublicFunctionsBindings(py::module_& m)
{
  py::enum_<RotationSetType>(m, "RotationSetType", R"(
        A type describing the set of rotations supported by an HeContext.
        )")
      .value("NO_ROTATIONS", NO_ROTATIONS, "Rotations are not supported")
      .value("DEFAULT_ROTATIONS", DEFAULT_ROTATIONS,
             "The default rotation set of the used HeContext is supported")
      .value("CUSTOM_ROTATIONS", CUSTOM_ROTATIONS, "A user-specified rotation set is supported");

  py::enum_<ConjugationSupport>(m, "ConjugationSupport", R"(
        A type describing which conjugation support an HeContext offers.
        )")
      .value("FALSE", FALSE, "Conjugation is not supported")
      .value("DEFAULT", DEFAULT,
             "Conjugation support is set to the default option for the used library")
      .value("TRUE", TRUE, "Conjugation is supported");

  BoundClass<PublicFunctions, SaveableBasic, std::shared_ptr<PublicFunctions>>(
      m, "PublicFunctions", R"(
        A struct specifying the functionalities that the public keys of an
        HeContext should support.
        )")
      .def(py::init<>(), R"(
            A constructor that creates a PublicFunctions object with support for
            the default functionalities: encryption, relinearization, the default
            rotation set and the default conjugation support.
            )")
      .def_readwrite("encrypt", &PublicFunctions::encrypt, R"(
            Whether the public keys should support encryption
            )")
      .def_readwrite("relinearize", &PublicFunctions::relinearize, R"(
            Whether the public keys should support relinearization
            )")
      .def_readwrite("rotate", &PublicFunctions::rotate, R"(
            The type of the supported rotation set. See RotationSetType.
            )")
      .def_readwrite("conjugate", &PublicFunctions::conjugate, R"(
            Whether the public keys should support conjugation
            )")
      .def(
          "set_rotation_steps",
          [](PublicFunctions& pf, const RotationStepsArg& steps) {
            pf.rotationSteps = toRotationSteps(steps.array);
          },
          R"(
            Sets the set of rotation offsets that can be performed with one step.
            A non-empty set is only supported when rotate is CUSTOM_ROTATIONS.

            :param rotaions_steps: The rotation offsets.
            :type rotaions_steps: numpy array of integers
            :raises TypeError: if the values are not integers.
            :raises ValueError: if a value does not fit a 32-bit signed integer.
            )",
          py::arg("rotation_steps"))
      .def(
          "get_rotation_steps",
          [](const PublicFunctions& pf) { return NumpyUtils::fromVector(pf.rotationSteps); },
          R"(
            When rotate is CUSTOM_ROTATIONS, returns the set of rotation offsets
            that can be performed with one step.

            :rtype: numpy array of int32
            )")
      .def("clear", &PublicFunctions::clear, R"(
            Turns off support for all functionalities.
            )");
}

} // namespace quorvane
