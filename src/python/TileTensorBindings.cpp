#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/Tile.h"
#include "math/CTileTensor.h"
#include "math/TileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initTileTensorBindings(py::module_& m)
{
  BoundClass<TileTensor, Saveable, std::shared_ptr<TileTensor>> cls{py::object(m.attr("TileTensor"))};
  cls.attr("__doc__") = py::str(R"(
    A tile tensor is a data structure for storing tensors (multi-dimensional
    arrays such as vectors, matrices or higher-dimensional arrays) in a set of
    fixed-size tiles.
    )");
  cls.def("validate_packed", &TileTensor::validatePacked, R"(
            Asserts that this object is packed (filled with content).

            :raises RuntimeError: if it is not packed.
            )")
      // A copy: changing it cannot desynchronise the tensor from its tiles.
      .def(
          "get_shape", [](const TileTensor& self) { return TTShape(self.getShape()); },
          R"(
            Returns a copy of this object's tile tensor shape.

            :rtype: TTShape
            )")
      // The tile is shared with the tensor and keeps the tensor alive.
      .def(
          "get_tile_at",
          [](TileTensor& self, const NumpyArray<int>& ind) {
            return self.getSharedTile(self.getTileFlatIndex(NumpyUtils::toVector<int>(ind)));
          },
          py::keep_alive<0, 1>(), R"(
            Returns the tile specified by the given indices.

            :param ind: The indices of the tile.
            :type ind: pyarray<int>
            :rtype: Tile
            )",
          py::arg("ind"))
      .def("get_tile_by_flat_index", &TileTensor::getSharedTile, py::keep_alive<0, 1>(), R"(
            Returns the i'th tile in a flattened order according to the first-order
            convention (dimension 0 varies fastest).

            :param ind: The flat index.
            :type ind: int
            :rtype: Tile
            )",
           py::arg("ind"))
      .def("get_num_used_tiles", &TileTensor::getNumUsedTiles, R"(
            Returns the number of tiles this tile tensor uses.

            :rtype: int
            )")
      .def("get_multiply", returningHeld(&TileTensor::getMultiply), R"(
            Returns the result of elementwise multiplication of this and other.
            Relies on CTile::multiply.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_multiply_raw", returningHeld(&TileTensor::getMultiplyRaw), R"(
            Returns the result of elementwise multiplication of this and other.
            Relies on CTile::multiplyRaw.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_add", returningHeld(&TileTensor::getAdd), R"(
            Returns the result of elementwise add of this and other.
            Relies on CTile::add.

            :param other: The tensor to add.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_add_raw", returningHeld(&TileTensor::getAddRaw), R"(
            Returns the result of elementwise add of this and other.
            Relies on CTile::addRaw.

            :param other: The tensor to add.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("add_to", &TileTensor::addTo, R"(
            Equivalent to other.add(*this): adds this tensor into other.

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("add_to_raw", &TileTensor::addToRaw, R"(
            See add_to().

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub_from", &TileTensor::subFrom, R"(
            Equivalent to other.sub(*this): other becomes other minus this tensor.

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub_from_raw", &TileTensor::subFromRaw, R"(
            See sub_from().

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply_to", &TileTensor::multiplyTo, R"(
            Equivalent to other.multiply(*this): multiplies other by this tensor.

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply_to_raw", &TileTensor::multiplyToRaw, R"(
            See multiply_to().

            :param other: The tensor to change.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("get_multiply_and_sum", returningHeld(&TileTensor::getMultiplyAndSum), R"(
            Returns the result of elementwise multiplication and summation between
            this and other over the given dimension. See also
            CTileTensor::multiplyAndSum.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            :param dim: The dimension to sum over.
            :type dim: int
            :rtype: CTileTensor
            )",
           py::arg("other"), py::arg("dim"))
      .def("multiply_and_sum_to", &TileTensor::multiplyAndSumTo, R"(
            Equivalent to other.multiplyAndSum(*this, dim)

            :param other: The tensor to change.
            :type other: CTileTensor
            :param dim: The dimension to sum over.
            :type dim: int
            )",
           py::arg("other"), py::arg("dim"))
      .def("to_device", &TileTensor::toDevice, R"(
            Move this TileTensor to another device.

            :param device: The device.
            :type device: DeviceType
            )",
           py::arg("device"))
      .def("get_current_device", &TileTensor::getCurrentDevice, R"(
            Returns the current device of this TileTensor.

            :rtype: DeviceType
            )")
      .def("assert_integrity", &TileTensor::assertIntegrity, R"(
            Validates the integrity of the tile tensor, for internal checks only: every
            used slot holds its element and every unused slot whose content is known
            holds 0.

            :param epsilon: The tolerance for differences (default 1e-6).
            :type epsilon: float
            :return: The maximal difference found.
            :rtype: float
            :raises RuntimeError: if the test fails.
            )",
           py::arg("epsilon") = 1e-6)
      .def("get_estimated_memory_usage_bytes", &TileTensor::getEstimatedMemoryUsageBytes, R"(
            Returns an estimation of the memory usage, or -1 if not supported.

            :rtype: int
            )");
}

} // namespace quorvane
