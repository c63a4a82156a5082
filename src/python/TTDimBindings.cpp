#include <pybind11/pybind11.h>

#include <memory>

#include "math/TTDim.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initTTDimBindings(py::module_& m)
{
  py::enum_<ActionType>(m, "ActionType", "Action types for Tile Tensor dimensions.")
      .value("ADDITIVE_ACTION_TYPE", ADDITIVE_ACTION_TYPE)
      .value("MULTIPLICATIVE_ACTION_TYPE", MULTIPLICATIVE_ACTION_TYPE)
      .value("OTHER_ACTION_TYPE", OTHER_ACTION_TYPE)
      .export_values();

  BoundClass<TTDim, SaveableBasic, std::shared_ptr<TTDim>>(m, "TTDim", R"(
    Description of a single dimension in a tile tensor shape.
    See TTShape for more details.
    )")
      .def(py::init<int, int, int, bool, bool, bool>(), py::arg("original_size"),
           py::arg("tile_size"), py::arg("num_duplicated") = 1,
           py::arg("are_unused_slots_unkown") = false, py::arg("is_interleaved") = false,
           py::arg("is_complex_packed") = false)
      .def("is_incomplete", &TTDim::isIncomplete)
      .def("is_compatible", &TTDim::isCompatible, R"(
            Returns whether other is compatible with this dimension for a tile tensor
            operation of the given action type.

            :param other: The dimension to compare with.
            :type other: TTDim
            :param action_type: The kind of the operation (default OTHER_ACTION_TYPE).
            :type action_type: ActionType
            :rtype: bool
            )",
           py::arg("other"), py::arg("action_type") = OTHER_ACTION_TYPE)
      .def("apply_compatibility_adjustments", &TTDim::applyCompatibilityAdjustments, R"(
            Change this TTDim to be the result of applying a tile tensor operator on
            this object and other.

            :param other: The other operand's dimension.
            :type other: TTDim
            :param actionType: The kind of the operation.
            :type actionType: ActionType
            )",
           py::arg("other"), py::arg("actionType"))
      .def("reduce_original_size", &TTDim::reduceOriginalSize, py::arg("new_original_size"),
           py::arg("new_interleaved_external_size") = false)
      .def("set_original_size", &TTDim::setOriginalSize, py::arg("size"),
           py::arg("keep_interleaved_placing") = false)
      .def("set_tile_size", &TTDim::setTileSize, py::arg("size"))
      .def("set_num_duplicated", &TTDim::setNumDuplicated, py::arg("num"))
      .def("set_are_unused_slots_unknown", &TTDim::setAreUnusedSlotsUnknown, R"(
            Sets the value of the unknown flag for this dimension.

            :param are_unknown: The value of the flag.
            :type are_unknown: bool
            :raises ValueError: when the flag is set on a dimension with no unused slots.
            )",
           py::arg("are_unknown"))
      .def("set_unused_slots_unknown", &TTDim::setUnusedSlotsUnknown, R"(
            Indicates that unused slots if they exist are unknown. Nothing changes
            when the dimension has no unused slots.
            )")
      .def("set_interleaved", &TTDim::setInterleaved, R"(
            Turns interleave flag on or off.

            :param is_interleaved: Whether the dimension is interleaved.
            :type is_interleaved: bool
            :param external_size_divisor: When interleaving, the external size is raised
                to a multiple of this divisor (default 1).
            :type external_size_divisor: int
            )",
           py::arg("is_interleaved"), py::arg("external_size_divisor") = 1)
      .def("set_interleaved_external_size", &TTDim::setInterleavedExternalSize, R"(
            Set the interleaved external size of this dimension. Only for dimensions made
            interleaved by set_interleaved(True); the size must be at least the minimum
            external size.

            :param new_size: The new external size.
            :type new_size: int
            )",
           py::arg("new_size"))
      .def("set_is_complex_packed", &TTDim::setIsComplexPacked, R"(
            Sets this dimension's complex packed flag.

            :param val: The value of the flag.
            :type val: bool
            )",
           py::arg("val"))
      .def("set_incomplete", &TTDim::setIncomplete)
      .def("duplicate", &TTDim::duplicate, R"(
            Sets dim to be duplicated. Assumes the dimension is incomplete or of original
            size 1 and not yet duplicated.

            :param dup: The number of duplications; -1 (default) duplicates over the
                entire tile size.
            :type dup: int
            :raises ValueError: for an original size above 1 or a dimension already
                duplicated.
            )",
           py::arg("dup") = -1)
      .def("get_are_unused_slots_unknown", &TTDim::getAreUnusedSlotsUnknown)
      .def("is_fully_duplicated", &TTDim::isFullyDuplicated)
      .def("get_original_size", &TTDim::getOriginalSize, R"(
            Returns original size. An incomplete dimension has -1.
            )")
      .def("get_original_size_slots", &TTDim::getOriginalSizeSlots, R"(
            Returns the minimal number of slots required to store the original values
            (half the original size for a complex packed dimension).
            )")
      .def("get_tile_size", &TTDim::getTileSize)
      .def("get_num_duplicated", &TTDim::getNumDuplicated, R"(
            Returns number of duplications.
            )")
      .def("get_num_duplicated_slots", &TTDim::getNumDuplicatedSlots, R"(
            Returns the number of slots that contain duplicated values.
            )")
      .def("get_is_complex_packed", &TTDim::getIsComplexPacked, R"(
            Returns whether this dimension is complex packed.
            )")
      .def("get_external_size", &TTDim::getExternalSize)
      .def("get_num_used_slots", &TTDim::getNumUsedSlots)
      .def("get_num_unused_slots", &TTDim::getNumUnusedSlots)
      .def("is_degenerate_tile", &TTDim::isDegenerateTile)
      .def("is_interleaved", &TTDim::isInterleaved)
      .def("get_max_used_slots_in_tile", &TTDim::getMaxUsedSlotsInTile, R"(
            Returns a bound on the number of used slots along this dimension in a single
            tile.
            )")
      .def("is_equal_on_original_slots", &TTDim::isEqualOnOriginalSlots, py::arg("other"),
           py::arg("enforceInterleavedExternalSize") = true)
      // An operator: another right operand gives NotImplemented, hence identity.
      .def(
          "__eq__", [](const TTDim& self, const TTDim& other) { return self == other; },
          py::is_operator(), py::arg("other"));
}

} // namespace quorvane
