#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/NumberConfig.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initNumberConfigBindings(py::module_& m)
{
  py::enum_<NumberSize>(m, "NumberSize")
      .value("SIZE_1_BIT", SIZE_1_BIT)
      .value("SIZE_8_BIT", SIZE_8_BIT)
      .value("SIZE_16_BIT", SIZE_16_BIT)
      .value("SIZE_32_BIT", SIZE_32_BIT);

  py::enum_<NumberSigned>(m, "NumberSigned")
      .value("SIGNED", SIGNED)
      .value("UNSIGNED", UNSIGNED);

  BoundClass<NumberConfig, SaveableBasic, std::shared_ptr<NumberConfig>>(m, "NumberConfig", R"(
        A class to define the configuration of a number when represented in memory.
        )")
      .def(py::init<>())
      .def_static("bit", &NumberConfig::bit, R"(
            Builds a configuration describing a 1-bit number.
            )")
      .def_static("integer", &NumberConfig::integer, R"(
            Builds a configuration describing an integer.

            :param size: The size of the number.
            :type size: NumberSize
            :param sign: Whether the number is signed or not.
            :type sign: NumberSigned
            )",
                  py::arg("size"), py::arg("sign"))
      .def_static("fixed_point", &NumberConfig::fixedPoint, R"(
            Builds a configuration describing a fraction represented by fixed point.

            :param size: The size of the number.
            :type size: NumberSize
            :param sign: Whether the number is signed or not.
            :type sign: NumberSigned
            :param fractional_part_bits: The number of bits allocated to the fractional part.
            :type fractional_part_bits: int
            )",
                  py::arg("size"), py::arg("sign"), py::arg("fractional_part_bits"))
      .def_static("floating_point", &NumberConfig::floatingPoint, R"(
            Builds a configuration describing a fraction represented by floating point.

            :param size: The size of the number.
            :type size: NumberSize
            )",
                  py::arg("size"));
}

} // namespace quorvane
